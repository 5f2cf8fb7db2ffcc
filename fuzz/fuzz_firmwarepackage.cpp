// Fuzz target for the firmware package reader: each input is written to a file and read as a package;
// an independent decoding of the bytes says what the reader must conclude and which image it must write.
#include "common/crc16.h"
#include "programming/firmwarepackage.h"

#include <QTemporaryDir>
#include <cstdlib>
#include <vector>

namespace {

using R = FirmwarePackage::Result;

quint32 le(const QByteArray& b, int at, int minus = 0, int bytes = 4)
{
    quint32 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | quint8(quint8(b.at(at + i)) - minus);
    return v;
}

R decode(const QByteArray& file, QByteArray* image)
{
    if (file.size() < 8 || le(file, 0, 0, 2) != 0x4D46)
        return R::NotPackage;
    const quint32 flags = le(file, 4), crc = flags & 1u;
    const int payload = file.size() - 8 - 2 * int(crc);
    if (payload < 0 ||
        (crc && crc16Modbus(file.constData() + 8, std::size_t(payload)) != le(file, file.size() - 2, 0, 2)))
        return R::Damaged;
    *image = file.mid(8, payload);
    if (flags & 2u) {
        if (payload < 4 || qint64(le(file, 8, 1)) > payload - 4)
            return R::Damaged;
        *image = file.mid(12, int(le(file, 8, 1)));
        for (char& c : *image)
            c = char(quint8(c) - 1);
    }
    return image->isEmpty() ? R::Empty : R::Unpacked;
}

// Every input makes a few small files: in memory where that is possible.
QTemporaryDir dir((QFile::exists("/dev/shm") ? QString("/dev/shm") : QDir::tempPath()) + "/fuzz_package-XXXXXX");

} // namespace

std::vector<std::vector<std::uint8_t>> fuzzSeeds()
{
    std::vector<std::vector<std::uint8_t>> seeds;
    for (const char* hex : {"706c61696e20696d616765", "464d0000 00000000 696d616765",
                            "464d0000 01000000 313233343536373839 374b", "464d0000 02000000 060101010102030405",
                            "464d0000 03000000 04010101626364 ebe8", "464d0000 01000000 ffff",
                            "464d0000 01000000 00", "464d0000 02000000 00000000"}) {
        const QByteArray b = QByteArray::fromHex(hex);
        seeds.emplace_back(b.begin(), b.end());
    }
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 64 * 1024 || !dir.isValid())
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    FirmwarePackage::setBaseDir(dir.path());
    QFile file(dir.filePath(QStringLiteral("input.bin")));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return 0;
    file.close();
    QFile::remove(FirmwarePackage::tempImagePath());
    QByteArray expected;
    const R want = decode(bytes, &expected);
    FirmwarePackage package(file.fileName());
    const R result = package.unpackImage();
    QFile image(FirmwarePackage::tempImagePath());
    if (result != want || package.hasMagic() != (want != R::NotPackage) ||
        (result == R::Unpacked && (!image.open(QIODevice::ReadOnly) || image.readAll() != expected)) ||
        (result != R::Unpacked && image.exists())) // nothing may be left for a caller to send
        std::abort();
    return 0;
}
