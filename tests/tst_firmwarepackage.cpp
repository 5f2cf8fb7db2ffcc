// The firmware package reader: known packages byte for byte (CRC-16/MODBUS
// trailers, shifted payloads), block edges and the temporary image.
#include "programming/firmwarepackage.h"
#include "progtestutil.h"

#include <QtTest>

using Result = FirmwarePackage::Result;
using namespace ProgTest;

Q_DECLARE_METATYPE(FirmwarePackage::Result)

class TestFirmwarePackage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { base.reset(new QTemporaryDir); FirmwarePackage::setBaseDir(base->path()); }
    void cleanup() { FirmwarePackage::setBaseDir(QString()); base.reset(); }
    void packages_data();
    void packages();
    void temporaryImage();

private:
    std::unique_ptr<QTemporaryDir> base;
    QString write(const QByteArray& bytes, const QString& name = "in.bin")
    {
        return writeFile(base->filePath(name), bytes) ? base->filePath(name) : QString();
    }
};

void TestFirmwarePackage::packages_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("status");
    QTest::addColumn<Result>("result");
    QTest::addColumn<QByteArray>("image");
    auto row = [](const char* name, const char* hex, int status, Result result, const char* image) {
        QTest::newRow(name) << QByteArray::fromHex(hex) << status << result << QByteArray::fromHex(image);
    };
    row("empty file", "", 3, Result::NotPackage, "");
    row("7 bytes, magic first", "464d0000000000", 3, Result::NotPackage, "");
    row("other first bytes", "504b030400000000", 4, Result::NotPackage, "");
    row("magic byte-swapped", "4d4600000000000001", 4, Result::NotPackage, "");
    row("flags 0", "464d0000 00000000 616263", 0, Result::Unpacked, "616263");
    row("bytes 2, 3 and other flag bits ignored", "464dffff fcffffff 616263", 0, Result::Unpacked, "616263");
    row("CRC low byte first", "464d0000 01000000 313233343536373839 374b", 0, Result::Unpacked, "313233343536373839");
    row("CRC of 00 is 40BF", "464d0000 01000000 00 bf40", 0, Result::Unpacked, "00");
    row("CRC of 010300000001 is 0A84", "464d0000 01000000 010300000001 840a", 0, Result::Unpacked, "010300000001");
    row("CRC trailer bytes swapped", "464d0000 01000000 313233343536373839 4b37", 5, Result::Damaged, "");
    row("payload changed under its CRC", "464d0000 01000000 313233343536373838 374b", 5, Result::Damaged, "");
    row("flag bit 0, 8 bytes", "464d000001000000", 5, Result::Damaged, "");
    row("flag bit 0, 9 bytes", "464d00000100000000", 5, Result::Damaged, "");
    row("flag bit 0, empty payload", "464d0000 01000000 ffff", 0, Result::Empty, "");
    row("flags 0, empty payload", "464d0000 00000000", 0, Result::Empty, "");
    row("shifted, N = 5", "464d0000 02000000 06010101 0102030405", 0, Result::Unpacked, "0001020304");
    row("stored 0x00 decodes to 0xFF", "464d0000 02000000 02010101 00", 0, Result::Unpacked, "ff");
    row("shifted, bytes after the image", "464d0000 02000000 02010101 62 7878", 0, Result::Unpacked, "61");
    row("shifted with CRC", "464d0000 03000000 04010101626364 ebe8", 0, Result::Unpacked, "616263");
    row("shifted with CRC, CRC wrong", "464d0000 03000000 04010101626364 ebe9", 5, Result::Damaged, "");
    row("shifted, N = 0", "464d0000 02000000 01010101 78797a", 0, Result::Empty, "");
    row("shifted, N one past the payload", "464d0000 02000000 04010101 6263", 6, Result::Damaged, "");
    row("shifted length field all 0xFF", "464d0000 02000000 00000000 aabb", 6, Result::Damaged, "");
    row("shifted payload under 4 bytes", "464d0000 02000000 010101", 6, Result::Damaged, "");
    row("shifted with CRC, N past payload", "464d0000 03000000 05010101626364 fb28", 6, Result::Damaged, "");
    QTest::newRow("flags 0, L = 1032") << package(0, pattern(1024)) << 0 << Result::Unpacked << pattern(1024);
    // Block edges at 4096 on both sides of the image and the CRC.
    for (int size : {4095, 4096, 4097, 3 * 4096 + 5}) {
        const QByteArray image = pattern(size, size);
        QTest::addRow("CRC, %d bytes", size) << package(1, image) << 0 << Result::Unpacked << image;
        QTest::addRow("shifted with CRC, %d bytes", size)
            << package(3, shifted(image, quint32(size), "x")) << 0 << Result::Unpacked << image;
    }
}

void TestFirmwarePackage::packages()
{
    QFETCH(QByteArray, file);
    QFETCH(int, status);
    QFETCH(Result, result);
    QFETCH(QByteArray, image);
    // A temporary image of an earlier run lies there: no failure or empty
    // package may let a caller take it for its own.
    QVERIFY(QDir().mkpath(FirmwarePackage::tempImageDir()));
    QVERIFY(writeFile(FirmwarePackage::tempImagePath(), "leftover"));
    FirmwarePackage package(write(file));
    QCOMPARE(package.packageStatus(), status);
    QCOMPARE(package.hasMagic(), status == 0 || status >= 5);
    QCOMPARE(package.unpackImage(), result);
    const QByteArray left = result == Result::Unpacked ? image : QByteArray("leftover");
    QCOMPARE(readFile(FirmwarePackage::tempImagePath()), left);
    QVERIFY(QFile::remove(FirmwarePackage::tempImagePath()));
    QCOMPARE(package.unpack(), result == Result::Unpacked); // a second unpack writes it again
    QCOMPARE(readFile(FirmwarePackage::tempImagePath()), result == Result::Unpacked ? image : QByteArray());
}

// Missing file, missing and blocked folder, a name outside Latin-1.
void TestFirmwarePackage::temporaryImage()
{
    FirmwarePackage missing(base->filePath(QStringLiteral("nothing-here.bin")));
    QCOMPARE(missing.packageStatus(), int(FirmwarePackage::CannotOpen));
    QCOMPARE(missing.unpackImage(), Result::NotPackage);

    QVERIFY(!QFileInfo::exists(base->filePath(QStringLiteral("firmware"))));
    FirmwarePackage package(write(QByteArray::fromHex("464d000000000000 78797a"), QStringLiteral("固件-ü.bin")));
    QVERIFY(package.unpack());
    QCOMPARE(FirmwarePackage::tempImagePath(), base->filePath(QStringLiteral("firmware/tmp.bin")));
    QCOMPARE(readFile(FirmwarePackage::tempImagePath()), QByteArray("xyz"));

    // A plain file where the folder should be: the image cannot be written.
    QVERIFY(QDir(base->filePath(QStringLiteral("firmware"))).removeRecursively());
    QVERIFY(writeFile(base->filePath(QStringLiteral("firmware")), "in the way"));
    FirmwarePackage blocked(write(QByteArray::fromHex("464d000000000000 78797a")));
    QCOMPARE(blocked.packageStatus(), 0);
    QCOMPARE(blocked.unpackImage(), Result::WriteFailed);
    QVERIFY(FirmwarePackage::newRunImagePath().isEmpty());
}

QTEST_GUILESS_MAIN(TestFirmwarePackage)
#include "tst_firmwarepackage.moc"
