// Fuzz target for the firmware package reader. Each input is written to a
// file and read as a package; an independent in-memory decoding of the same
// bytes says what the reader must conclude and which image it must write.
#include "common/crc16.h"
#include "programming/firmwarepackage.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdlib>
#include <vector>

namespace {

struct Expected
{
    FirmwarePackage::Result result;
    QByteArray image;
};

quint32 le32(const QByteArray& b, int at, int delta)
{
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | quint8(quint8(b.at(at + i)) - delta);
    return v;
}

Expected decode(const QByteArray& file)
{
    using R = FirmwarePackage::Result;
    if (file.size() < 8 || quint8(file.at(0)) != 0x46 || quint8(file.at(1)) != 0x4D)
        return {R::NotPackage, {}};
    const quint32 flags = le32(file, 4, 0);
    qint64 payload = file.size() - 8;
    if (flags & 1u) {
        if (file.size() < 10)
            return {R::Damaged, {}};
        payload -= 2;
        const quint16 stored = quint16(quint8(file.at(file.size() - 2))) |
                               quint16(quint8(file.at(file.size() - 1))) << 8;
        if (crc16Modbus(file.constData() + 8, std::size_t(payload)) != stored)
            return {R::Damaged, {}};
    }
    QByteArray image = file.mid(8, int(payload));
    if (flags & 2u) {
        if (payload < 4)
            return {R::Damaged, {}};
        const quint32 count = le32(file, 8, 1);
        if (qint64(count) > payload - 4)
            return {R::Damaged, {}};
        image = file.mid(12, int(count));
        for (char& c : image)
            c = char(quint8(c) - 1);
    }
    if (image.isEmpty())
        return {R::Empty, {}};
    return {R::Unpacked, image};
}

// Every input makes a few small files; a memory-backed folder keeps that
// quick where one exists.
QTemporaryDir& workDir()
{
    static QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                 ? QStringLiteral("/dev/shm/fuzz_package-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/fuzz_package-XXXXXX"));
    return dir;
}

} // namespace

std::vector<std::vector<std::uint8_t>> fuzzSeeds()
{
    std::vector<std::vector<std::uint8_t>> seeds;
    auto add = [&](const QByteArray& b) { seeds.emplace_back(b.begin(), b.end()); };
    auto pkg = [](quint32 flags, const QByteArray& payload) {
        QByteArray b = QByteArray::fromHex("464d0000");
        for (int i = 0; i < 4; ++i)
            b.append(char(flags >> (8 * i)));
        b.append(payload);
        if (flags & 1u) {
            const quint16 crc = crc16Modbus(payload.constData(), std::size_t(payload.size()));
            b.append(char(crc & 0xFF)).append(char(crc >> 8));
        }
        return b;
    };
    add(QByteArray("plain image"));
    add(pkg(0, "image bytes"));
    add(pkg(1, "image bytes with a trailer"));
    add(pkg(2, QByteArray::fromHex("060101010102030405")));
    add(pkg(3, QByteArray::fromHex("0401010162636400")));
    add(pkg(1, QByteArray()));
    add(QByteArray::fromHex("464d00000100000000"));
    add(pkg(2, QByteArray::fromHex("00000000")));
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 64 * 1024 || !workDir().isValid())
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    FirmwarePackage::setBaseDir(workDir().path());
    const QString input = workDir().filePath(QStringLiteral("input.bin"));
    {
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return 0;
    }
    QFile::remove(FirmwarePackage::tempImagePath());

    const Expected expected = decode(bytes);
    FirmwarePackage package(input);
    const FirmwarePackage::Result result = package.unpackImage();
    if (result != expected.result)
        std::abort();
    const bool hasMagic = size >= 8 && data[0] == 0x46 && data[1] == 0x4D;
    if (package.hasMagic() != hasMagic)
        std::abort();
    QFile image(FirmwarePackage::tempImagePath());
    if (result == FirmwarePackage::Result::Unpacked) {
        if (!image.open(QIODevice::ReadOnly) || image.readAll() != expected.image)
            std::abort();
    } else if (image.exists()) {
        std::abort(); // nothing may be left for a caller to send
    }
    return 0;
}
