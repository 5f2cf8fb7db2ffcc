// The firmware package reader: header check, CRC trailer, shifted payloads
// and unpacking to the temporary image.
#include "common/crc16.h"
#include "programming/firmwarepackage.h"
#include "progtestutil.h"
#include "testutil.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using Result = FirmwarePackage::Result;
using namespace ProgTest;

Q_DECLARE_METATYPE(FirmwarePackage::Result)

class TestFirmwarePackage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void crcCheckValue_data();
    void crcCheckValue();
    void packages_data();
    void packages();
    void missingFileCannotOpen();
    void emptyPayloadNeverLeavesALeftover();
    void missingFirmwareDirectoryIsCreated();
    void unwritableTemporaryImage();
    void largeImageInBlocks();
    void unicodePath();

private:
    QTemporaryDir* base = nullptr;
    QString write(const QByteArray& bytes, const QString& name = QStringLiteral("in.bin"));
};

void TestFirmwarePackage::init()
{
    base = new QTemporaryDir;
    QVERIFY(base->isValid());
    FirmwarePackage::setBaseDir(base->path());
}

void TestFirmwarePackage::cleanup()
{
    FirmwarePackage::setBaseDir(QString());
    delete base;
    base = nullptr;
}

QString TestFirmwarePackage::write(const QByteArray& bytes, const QString& name)
{
    const QString path = base->filePath(name);
    writeFile(path, bytes);
    return path;
}

void TestFirmwarePackage::crcCheckValue_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("crc");
    QTest::newRow("check value of 123456789") << QByteArray("123456789") << 0x4B37;
    QTest::newRow("nothing") << QByteArray() << 0xFFFF;
    QTest::newRow("one zero byte") << QByteArray(1, '\0') << 0x40BF;
    QTest::newRow("modbus request 01 03 00 00 00 01") << QByteArray::fromHex("010300000001")
                                                       << 0x0A84;
}

void TestFirmwarePackage::crcCheckValue()
{
    QFETCH(QByteArray, data);
    QFETCH(int, crc);
    QCOMPARE(int(crc16Modbus(data.constData(), std::size_t(data.size()))), crc);

    // The same through the block-wise file reader.
    const QString path = write(data);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    quint16 value = 0;
    QVERIFY(FirmwarePackage::crcOfRange(file, data.size(), &value));
    QCOMPARE(int(value), crc);
}

void TestFirmwarePackage::packages_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("status");
    QTest::addColumn<Result>("result");
    QTest::addColumn<QByteArray>("image");

    const QByteArray k1024 = pattern(1024);
    const QByteArray nine = QByteArray("123456789");

    QTest::newRow("empty file") << QByteArray() << 3 << Result::NotPackage << QByteArray();
    QTest::newRow("7 bytes, magic first")
        << QByteArray::fromHex("464d0000000000") << 3 << Result::NotPackage << QByteArray();
    QTest::newRow("other first bytes") << QByteArray("plain image bytes") << 4
                                       << Result::NotPackage << QByteArray();
    QTest::newRow("magic byte-swapped") << QByteArray::fromHex("4d4600000000000001") << 4
                                        << Result::NotPackage << QByteArray();
    QTest::newRow("flags 0, L = 1032") << package(0, k1024) << 0 << Result::Unpacked << k1024;
    QTest::newRow("other flag bits ignored")
        << package(0xFFFFFFFC, nine) << 0 << Result::Unpacked << nine;
    QTest::newRow("CRC trailer right") << package(1, nine) << 0 << Result::Unpacked << nine;

    QByteArray badTrailer = package(1, nine);
    badTrailer[badTrailer.size() - 1] = static_cast<char>(badTrailer.at(badTrailer.size() - 1) ^ 1);
    QTest::newRow("CRC trailer wrong") << badTrailer << 5 << Result::Damaged << QByteArray();
    QByteArray badPayload = package(1, nine);
    badPayload[10] = 'x';
    QTest::newRow("payload changed under its CRC")
        << badPayload << 5 << Result::Damaged << QByteArray();
    QTest::newRow("flag bit 0, 8 bytes") << QByteArray::fromHex("464d000001000000") << 5
                                         << Result::Damaged << QByteArray();
    QTest::newRow("flag bit 0, 9 bytes") << QByteArray::fromHex("464d00000100000000") << 5
                                         << Result::Damaged << QByteArray();
    QTest::newRow("flag bit 0, empty payload")
        << package(1, QByteArray()) << 0 << Result::Empty << QByteArray();
    QTest::newRow("flags 0, empty payload")
        << package(0, QByteArray()) << 0 << Result::Empty << QByteArray();

    QTest::newRow("shifted, N = 5")
        << package(2, QByteArray::fromHex("0601010101020304 05")) << 0 << Result::Unpacked
        << QByteArray::fromHex("0001020304");
    QTest::newRow("stored 0x00 decodes to 0xFF")
        << package(2, QByteArray::fromHex("0201010100")) << 0 << Result::Unpacked
        << QByteArray::fromHex("ff");
    QTest::newRow("shifted, bytes after the image ignored")
        << package(2, shifted(nine, 9, "tail")) << 0 << Result::Unpacked << nine;
    QTest::newRow("shifted with CRC")
        << package(3, shifted(k1024, 1024)) << 0 << Result::Unpacked << k1024;
    QTest::newRow("shifted, N = 0") << package(2, shifted(QByteArray(), 0, "xyz")) << 0
                                    << Result::Empty << QByteArray();
    QTest::newRow("shifted length past the payload")
        << package(2, shifted(nine, 10)) << 6 << Result::Damaged << QByteArray();
    QTest::newRow("shifted length field all 0xFF")
        << package(2, QByteArray::fromHex("00000000aabb")) << 6 << Result::Damaged
        << QByteArray();
    QTest::newRow("shifted payload shorter than its length field")
        << package(2, QByteArray::fromHex("010101")) << 6 << Result::Damaged << QByteArray();
    QTest::newRow("shifted with CRC, length past the payload")
        << package(3, shifted(nine, 100)) << 6 << Result::Damaged << QByteArray();
}

void TestFirmwarePackage::packages()
{
    QFETCH(QByteArray, file);
    QFETCH(int, status);
    QFETCH(Result, result);
    QFETCH(QByteArray, image);

    FirmwarePackage package(write(file));
    QCOMPARE(package.packageStatus(), status);
    QCOMPARE(package.unpackImage(), result);
    const QString temp = FirmwarePackage::tempImagePath();
    if (result == Result::Unpacked) {
        QCOMPARE(readFile(temp), image);
        QVERIFY(package.unpack()); // a second unpack writes it again
        QCOMPARE(readFile(temp), image);
    } else {
        QVERIFY(!QFile::exists(temp));
        QVERIFY(!package.unpack());
    }
}

void TestFirmwarePackage::missingFileCannotOpen()
{
    FirmwarePackage package(base->filePath(QStringLiteral("nothing-here.bin")));
    QCOMPARE(package.packageStatus(), int(FirmwarePackage::CannotOpen));
    QCOMPARE(package.unpackImage(), Result::NotPackage);
}

void TestFirmwarePackage::emptyPayloadNeverLeavesALeftover()
{
    // A temporary image of an earlier run lies there: an empty package must
    // not let a caller take it for its own.
    QVERIFY(QDir().mkpath(FirmwarePackage::tempImageDir()));
    QVERIFY(writeFile(FirmwarePackage::tempImagePath(), "leftover"));
    FirmwarePackage package(write(ProgTest::package(0, QByteArray())));
    QCOMPARE(package.unpackImage(), Result::Empty);
    QVERIFY(!package.unpack());
}

void TestFirmwarePackage::missingFirmwareDirectoryIsCreated()
{
    QVERIFY(!QFileInfo::exists(base->filePath(QStringLiteral("firmware"))));
    FirmwarePackage package(write(ProgTest::package(0, "abc")));
    QCOMPARE(package.unpackImage(), Result::Unpacked);
    QCOMPARE(FirmwarePackage::tempImagePath(), base->filePath(QStringLiteral("firmware/tmp.bin")));
    QCOMPARE(readFile(FirmwarePackage::tempImagePath()), QByteArray("abc"));
}

void TestFirmwarePackage::unwritableTemporaryImage()
{
    // A plain file where the folder should be: the image cannot be written.
    QVERIFY(writeFile(base->filePath(QStringLiteral("firmware")), "in the way"));
    FirmwarePackage package(write(ProgTest::package(0, "abc")));
    QCOMPARE(package.packageStatus(), 0);
    QCOMPARE(package.unpackImage(), Result::WriteFailed);
    QVERIFY(!package.unpack());
}

void TestFirmwarePackage::largeImageInBlocks()
{
    // Block edges at 4096 on both sides of the image and the CRC.
    for (int size : {4095, 4096, 4097, 3 * 4096 + 5}) {
        const QByteArray image = pattern(size, size);
        FirmwarePackage plain(write(ProgTest::package(1, image)));
        QCOMPARE(plain.unpackImage(), Result::Unpacked);
        QCOMPARE(readFile(FirmwarePackage::tempImagePath()), image);
        FirmwarePackage shift(write(ProgTest::package(3, shifted(image, quint32(size), "x"))));
        QCOMPARE(shift.unpackImage(), Result::Unpacked);
        QCOMPARE(readFile(FirmwarePackage::tempImagePath()), image);
    }
}

void TestFirmwarePackage::unicodePath()
{
    const QString path = write(ProgTest::package(0, "xyz"), QStringLiteral("固件-ü.bin"));
    FirmwarePackage package(path);
    QCOMPARE(package.packageStatus(), 0);
    QVERIFY(package.unpack());
    QCOMPARE(readFile(FirmwarePackage::tempImagePath()), QByteArray("xyz"));
}

QTEST_GUILESS_MAIN(TestFirmwarePackage)
#include "tst_firmwarepackage.moc"
