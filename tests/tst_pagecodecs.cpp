// The widget-free parts of the log and serial-port pages: the log-file list,
// the serial settings record, the hex pieces and the coloured record entry.
#include "common/utf8text.h"
#include "pages/logfilelist.h"
#include "pages/serialsettings.h"
#include "pages/sptestformat.h"

#include <QtTest>

class TestPageCodecs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void logList_data();
    void logList();
    void logListEncode();
    void comboWidth_data();
    void comboWidth();
    void utf8StopsAtZero();

    void serialRecord_data();
    void serialRecord();
    void serialRecordPortNameLimit();
    void serialRecordRejects_data();
    void serialRecordRejects();

    void hexPieces_data();
    void hexPieces();
    void modbusCrc_data();
    void modbusCrc();
    void hexText();
    void colouredHtml_data();
    void colouredHtml();
};

void TestPageCodecs::logList_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("longest");
    QTest::addColumn<bool>("truncated");
    QTest::newRow("empty") << QByteArray() << QStringList() << 0 << false;
    QTest::newRow("abc, empty, xy") << QByteArray::fromHex("03616263000278" "79")
                                    << QStringList{"abc", "", "xy"} << 3 << false;
    QTest::newRow("single empty entry") << QByteArray::fromHex("00") << QStringList{""} << 0
                                        << false;
    QTest::newRow("two empty entries") << QByteArray::fromHex("0000") << QStringList{"", ""} << 0
                                       << false;
    QTest::newRow("length runs past the end")
        << QByteArray::fromHex("0561") << QStringList() << 0 << true;
    QTest::newRow("last entry runs past the end")
        << QByteArray::fromHex("027879" "09637574") << QStringList{"xy"} << 2 << true;
    QTest::newRow("length exactly to the end")
        << QByteArray::fromHex("026162") << QStringList{"ab"} << 2 << false;
    QTest::newRow("zero byte ends a name, not the entry")
        << QByteArray::fromHex("0361006202" "6364") << QStringList{"a", "cd"} << 3 << false;
    QTest::newRow("utf-8 name") << (QByteArray("\x06") + QByteArray("日志"))
                                << QStringList{QStringLiteral("日志")} << 6 << false;
    QTest::newRow("longest 255") << (QByteArray("\xff") + QByteArray(255, 'n') + "\x01z")
                                 << QStringList{QString(255, 'n'), "z"} << 255 << false;
}

void TestPageCodecs::logList()
{
    QFETCH(QByteArray, payload);
    QFETCH(QStringList, names);
    QFETCH(int, longest);
    QFETCH(bool, truncated);
    // An exactly sized copy, so a read past the end is caught by the
    // sanitizer build.
    std::vector<unsigned char> bytes(payload.begin(), payload.end());
    const LogFileList::Parsed parsed =
        LogFileList::parse(bytes.data(), static_cast<int>(bytes.size()));
    QCOMPARE(parsed.names, names);
    QCOMPARE(parsed.longest, longest);
    QCOMPARE(parsed.truncated, truncated);
}

void TestPageCodecs::logListEncode()
{
    const QStringList names{"system.log", "", QStringLiteral("日志.txt")};
    QCOMPARE(LogFileList::parse(LogFileList::encode(names)).names, names);
    // A name its length byte cannot describe is cut, never mis-framed.
    const QByteArray longName = LogFileList::encode({QString(300, 'x'), "y"});
    QCOMPARE(longName.size(), 1 + 255 + 1 + 1);
    QCOMPARE(LogFileList::parse(longName).names, (QStringList{QString(255, 'x'), "y"}));
    // ... at a character boundary: 127 two-byte characters fit, the 128th not.
    const QByteArray wide = LogFileList::encode({QString(200, QChar(0x00E9))});
    QCOMPARE(wide.size(), 1 + 254);
    QCOMPARE(LogFileList::parse(wide).names, QStringList{QString(127, QChar(0x00E9))});
}

void TestPageCodecs::comboWidth_data()
{
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("longest");
    QTest::addColumn<int>("width");
    QTest::newRow("9 pt x 3 = 21.6") << 9 << 3 << 22;
    QTest::newRow("9 pt x 1 = 7.2") << 9 << 1 << 7;
    QTest::newRow("10 pt x 3 = 24") << 10 << 3 << 24;
    QTest::newRow("11 pt x 12 = 105.6") << 11 << 12 << 106;
    QTest::newRow("empty names only") << 9 << 0 << 0;
    QTest::newRow("no point size") << -1 << 5 << 0;
    QTest::newRow("255 bytes at 12 pt") << 12 << 255 << 2448;
}

void TestPageCodecs::comboWidth()
{
    QFETCH(int, points);
    QFETCH(int, longest);
    QFETCH(int, width);
    QCOMPARE(LogFileList::comboWidth(points, longest), width);
}

void TestPageCodecs::utf8StopsAtZero()
{
    QCOMPARE(utf8UpToZero("ab\0cd", 5), QStringLiteral("ab"));
    QCOMPARE(utf8UpToZero("\0ab", 3), QString());
    QCOMPARE(utf8UpToZero("abc", 2), QStringLiteral("ab"));
    QCOMPARE(utf8UpToZero(static_cast<const char*>(nullptr), 0), QString());
    QCOMPARE(utf8UpToZero("abc", -1), QString());
}

void TestPageCodecs::serialRecord_data()
{
    QTest::addColumn<bool>("rs485");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QList<int>>("indexes"); // baud, data bits, parity, flow, stop
    QTest::addColumn<QByteArray>("record");
    QTest::newRow("defaults, 10-character name")
        << false << "/dev/ttyS1" << QList<int>{3, 3, 0, 0, 0}
        << QByteArray::fromHex("000a") + "/dev/ttyS1" + QByteArray::fromHex("0303000000");
    QTest::newRow("parity goes before flow control")
        << true << "COM3" << QList<int>{7, 2, 2, 1, 1}
        << QByteArray::fromHex("0104") + "COM3" + QByteArray::fromHex("0702020101");
    QTest::newRow("even parity, software flow")
        << false << "ttyUSB0" << QList<int>{0, 0, 1, 2, 0}
        << QByteArray::fromHex("0007") + "ttyUSB0" + QByteArray::fromHex("0000010200");
    QTest::newRow("empty name") << false << "" << QList<int>{3, 3, 0, 0, 0}
                                << QByteArray::fromHex("00000303000000");
    QTest::newRow("utf-8 name counts bytes")
        << false << QStringLiteral("串口") << QList<int>{3, 3, 0, 0, 0}
        << QByteArray::fromHex("0006") + QByteArray("串口") + QByteArray::fromHex("0303000000");
}

void TestPageCodecs::serialRecord()
{
    QFETCH(bool, rs485);
    QFETCH(QString, name);
    QFETCH(QList<int>, indexes);
    QFETCH(QByteArray, record);
    SerialSettings s;
    s.rs485 = rs485;
    s.portName = name;
    s.baudIndex = indexes[0];
    s.dataBitsIndex = indexes[1];
    s.parityIndex = indexes[2];
    s.flowControlIndex = indexes[3];
    s.stopBitsIndex = indexes[4];
    QCOMPARE(s.toRecord().toHex(' '), record.toHex(' '));
    QCOMPARE(s.toRecord().size(), SerialSettings::kFixedBytes + name.toUtf8().size());
    SerialSettings back;
    QVERIFY(SerialSettings::fromRecord(record, &back));
    QVERIFY(back == s);
}

void TestPageCodecs::serialRecordPortNameLimit()
{
    SerialSettings s;
    s.portName = QString(255, 'p');
    QVERIFY(s.portNameFits());
    QCOMPARE(s.toRecord().size(), 262);
    QCOMPARE(static_cast<quint8>(s.toRecord().at(1)), quint8(255));
    s.portName = QString(256, 'p');
    QVERIFY(!s.portNameFits());
    QVERIFY(s.toRecord().isEmpty());
    // 128 characters, but 256 bytes in UTF-8.
    s.portName = QString(128, QChar(0x00E9));
    QVERIFY(!s.portNameFits());
    QVERIFY(s.toRecord().isEmpty());
}

void TestPageCodecs::serialRecordRejects_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("too short") << QByteArray::fromHex("000003030000");
    QTest::newRow("length byte too large") << QByteArray::fromHex("0005") + "abc" +
                                                  QByteArray::fromHex("0303000000");
    QTest::newRow("length byte too small") << QByteArray::fromHex("0002") + "abc" +
                                                  QByteArray::fromHex("0303000000");
    QTest::newRow("baud index 8") << QByteArray::fromHex("0001") + "a" +
                                         QByteArray::fromHex("0803000000");
    QTest::newRow("data bits index 4") << QByteArray::fromHex("0001") + "a" +
                                              QByteArray::fromHex("0304000000");
    QTest::newRow("parity index 3") << QByteArray::fromHex("0001") + "a" +
                                           QByteArray::fromHex("0303030000");
    QTest::newRow("flow index 3") << QByteArray::fromHex("0001") + "a" +
                                         QByteArray::fromHex("0303000300");
    QTest::newRow("stop bits index 2") << QByteArray::fromHex("0001") + "a" +
                                              QByteArray::fromHex("0303000002");
}

void TestPageCodecs::serialRecordRejects()
{
    QFETCH(QByteArray, record);
    SerialSettings s;
    QVERIFY(!SerialSettings::fromRecord(record, &s));
}

void TestPageCodecs::hexPieces_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("plain") << "01 03 00 00 00 01" << QByteArray::fromHex("010300000001");
    QTest::newRow("two blanks give a zero") << "01  02" << QByteArray::fromHex("010002");
    QTest::newRow("trailing blank") << "01 02 " << QByteArray::fromHex("010200");
    QTest::newRow("leading blank") << " 01" << QByteArray::fromHex("0001");
    QTest::newRow("zz does not convert") << "zz" << QByteArray::fromHex("00");
    QTest::newRow("1ff keeps the low byte") << "1ff" << QByteArray::fromHex("ff");
    QTest::newRow("upper case") << "AB Cd" << QByteArray::fromHex("abcd");
    QTest::newRow("single digit") << "1 a" << QByteArray::fromHex("010a");
    QTest::newRow("long value, low byte") << "12345678" << QByteArray::fromHex("78");
    QTest::newRow("beyond 64 bits") << "123456789abcdef0123" << QByteArray::fromHex("00");
    QTest::newRow("only a blank") << " " << QByteArray::fromHex("0000");
    QTest::newRow("mixed") << "zz 1ff 7" << QByteArray::fromHex("00ff07");
}

void TestPageCodecs::hexPieces()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(SPTestFormat::hexPiecesToBytes(text).toHex(' '), bytes.toHex(' '));
}

void TestPageCodecs::modbusCrc_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("framed");
    QTest::newRow("read one holding register")
        << QByteArray::fromHex("010300000001") << QByteArray::fromHex("010300000001840a");
    QTest::newRow("read ten from slave 17")
        << QByteArray::fromHex("1103006b0003") << QByteArray::fromHex("1103006b00037687");
    QTest::newRow("nothing") << QByteArray() << QByteArray::fromHex("ffff");
}

void TestPageCodecs::modbusCrc()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, framed);
    QCOMPARE(SPTestFormat::withModbusCrc(bytes).toHex(' '), framed.toHex(' '));
}

void TestPageCodecs::hexText()
{
    QCOMPARE(SPTestFormat::bytesToHexText(QByteArray::fromHex("0103ff0a")),
             QStringLiteral("01 03 ff 0a "));
    QCOMPARE(SPTestFormat::bytesToHexText(QByteArray()), QString());
}

void TestPageCodecs::colouredHtml_data()
{
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QList<int>>("rgb");
    QTest::addColumn<QString>("html");
    QTest::newRow("send colour, markup escaped")
        << "a<b" << QList<int>{58, 95, 205} << "<font color=#3a5fcd>a&lt;b";
    QTest::newRow("receive colour, line ends")
        << "x\r\ny\n" << QList<int>{50, 205, 50} << "<font color=#32cd32>x<br><br>y<br>";
    QTest::newRow("ampersand first, then the rest")
        << "&lt; \"'>" << QList<int>{0, 0, 0}
        << "<font color=#000000>&amp;lt;&nbsp;&quot;&#39;&gt;";
    QTest::newRow("blanks") << "01 02 " << QList<int>{255, 16, 1}
                            << "<font color=#ff1001>01&nbsp;02&nbsp;";
}

void TestPageCodecs::colouredHtml()
{
    QFETCH(QString, plain);
    QFETCH(QList<int>, rgb);
    QFETCH(QString, html);
    QCOMPARE(SPTestFormat::colouredHtml(plain, rgb[0], rgb[1], rgb[2]), html);
}

QTEST_APPLESS_MAIN(TestPageCodecs)
#include "tst_pagecodecs.moc"
