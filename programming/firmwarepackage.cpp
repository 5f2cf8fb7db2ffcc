#include "programming/firmwarepackage.h"

#include "common/crc16.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>

namespace {

QString& baseDirOverride()
{
    static QString dir;
    return dir;
}

quint32 littleEndian32(const unsigned char* p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

} // namespace

FirmwarePackage::FirmwarePackage(const QString& path) : input_(path)
{
    // The full path is used as it is, so names outside the local 8-bit
    // encoding open like any other.
    // Only regular files: open() on a pipe would block.
    if (!QFileInfo(path).isFile() || !input_.open(QIODevice::ReadOnly))
        return;
    checkHeader();
    input_.seek(0);
}

FirmwarePackage::~FirmwarePackage() = default;

void FirmwarePackage::setBaseDir(const QString& dir)
{
    baseDirOverride() = dir;
}

QString FirmwarePackage::tempImageDir()
{
    const QString base = baseDirOverride().isEmpty() ? QCoreApplication::applicationDirPath()
                                                     : baseDirOverride();
    return base + QStringLiteral("/firmware");
}

QString FirmwarePackage::tempImagePath()
{
    return tempImageDir() + QStringLiteral("/tmp.bin");
}

qint64 FirmwarePackage::payloadSize() const
{
    if (!hasMagic() || size_ < kHeaderSize)
        return 0;
    const qint64 p = size_ - kHeaderSize - ((flags_ & 1u) ? 2 : 0);
    return std::max<qint64>(p, 0);
}

bool FirmwarePackage::crcOfRange(QFile& file, qint64 length, quint16* crc)
{
    char buffer[kBlockSize];
    quint16 value = 0xFFFF;
    while (length > 0) {
        const qint64 want = std::min<qint64>(kBlockSize, length);
        const qint64 got = file.read(buffer, want);
        if (got != want)
            return false;
        value = crc16Modbus(buffer, static_cast<std::size_t>(got), value);
        length -= got;
    }
    *crc = value;
    return true;
}

void FirmwarePackage::checkHeader()
{
    size_ = input_.size();
    if (size_ < kHeaderSize) {
        status_ = TooShort;
        return;
    }
    unsigned char header[kHeaderSize];
    if (input_.read(reinterpret_cast<char*>(header), kHeaderSize) != kHeaderSize) {
        status_ = TooShort;
        return;
    }
    if ((quint16(header[0]) | quint16(header[1]) << 8) != kMagic) {
        status_ = NoMagic;
        return;
    }
    flags_ = littleEndian32(header + 4);

    if (flags_ & 1u) {
        // Too short for a trailer: damaged, and no CRC over a negative length.
        if (size_ < kHeaderSize + 2) {
            status_ = BadCrc;
            return;
        }
        unsigned char trailer[2];
        if (!input_.seek(size_ - 2) ||
            input_.read(reinterpret_cast<char*>(trailer), 2) != 2) {
            status_ = BadCrc;
            return;
        }
        const quint16 expected = quint16(trailer[0]) | quint16(trailer[1]) << 8;
        quint16 crc = 0;
        if (!input_.seek(kHeaderSize) || !crcOfRange(input_, size_ - kHeaderSize - 2, &crc) ||
            crc != expected) {
            status_ = BadCrc;
            return;
        }
    }

    status_ = Valid;
    if (flags_ & 2u) {
        // The stored count must fit the payload it claims to describe.
        const qint64 payload = payloadSize();
        unsigned char field[4];
        if (payload < 4 || !input_.seek(kHeaderSize) ||
            input_.read(reinterpret_cast<char*>(field), 4) != 4) {
            status_ = BadLength;
            return;
        }
        for (unsigned char& b : field)
            b = static_cast<unsigned char>(b - 1);
        if (qint64(littleEndian32(field)) > payload - 4)
            status_ = BadLength;
    }
}

QString FirmwarePackage::newRunImagePath()
{
    if (!QDir().mkpath(tempImageDir()))
        return QString();
    QTemporaryFile file(tempImageDir() + QStringLiteral("/tmp-XXXXXX.bin"));
    file.setAutoRemove(false);
    if (!file.open())
        return QString();
    return file.fileName();
}

FirmwarePackage::Result FirmwarePackage::prepareRunImage(const QString& path, QString* image,
                                                         bool* owned)
{
    *owned = false;
    FirmwarePackage package(path);
    if (package.packageStatus() != Valid) {
        const Result result = package.unpackImage(); // writes nothing
        if (result == Result::NotPackage)
            *image = path;
        return result;
    }
    const QString target = newRunImagePath();
    if (target.isEmpty())
        return Result::WriteFailed;
    const Result result = package.unpackImage(target);
    if (result != Result::Unpacked) {
        QFile::remove(target);
        return result;
    }
    *image = target;
    *owned = true;
    return result;
}

FirmwarePackage::Result FirmwarePackage::unpackImage(const QString& targetPath)
{
    if (status_ != Valid)
        return hasMagic() ? Result::Damaged : Result::NotPackage;

    const bool shifted = flags_ & 2u;
    qint64 remaining = payloadSize();
    if (!input_.seek(kHeaderSize))
        return Result::WriteFailed;
    if (shifted) {
        unsigned char field[4];
        if (input_.read(reinterpret_cast<char*>(field), 4) != 4)
            return Result::Damaged;
        for (unsigned char& b : field)
            b = static_cast<unsigned char>(b - 1);
        const qint64 count = littleEndian32(field);
        if (count > remaining - 4)
            return Result::Damaged;
        remaining = count;
    }
    // Nothing to program: never fall back on whatever file lies there.
    if (remaining == 0)
        return Result::Empty;

    // The folder is made when it is missing. The image is written beside the
    // target and put in place only when complete, so a failed write leaves
    // no partial image behind.
    if (!QDir().mkpath(tempImageDir()))
        return Result::WriteFailed;
    const QString target = targetPath.isEmpty() ? tempImagePath() : targetPath;
    QFile output(target + QStringLiteral(".part"));
    if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return Result::WriteFailed;
    auto fail = [&output] {
        output.close();
        output.remove();
        return Result::WriteFailed;
    };

    char buffer[kBlockSize];
    while (remaining > 0) {
        const qint64 want = std::min<qint64>(kBlockSize, remaining);
        if (input_.read(buffer, want) != want)
            return fail();
        if (shifted) {
            for (qint64 i = 0; i < want; ++i)
                buffer[i] = static_cast<char>(static_cast<unsigned char>(buffer[i]) - 1);
        }
        if (output.write(buffer, want) != want)
            return fail();
        remaining -= want;
    }
    input_.seek(0);
    if (!output.flush())
        return fail();
    output.close();
    if (QFile::exists(target) && !QFile::remove(target))
        return fail();
    if (!output.rename(target))
        return fail();
    return Result::Unpacked;
}
