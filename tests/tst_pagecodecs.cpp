// Known-answer tables for the widget-free records of the maintenance pages.
#include "common/utf8text.h"
#include "pages/fixedparamjson.h"
#include "pages/logfilelist.h"
#include "pages/portrecord.h"
#include "pages/serialsettings.h"
#include "pages/sptestformat.h"

#include <QtTest>

using FixedParamJson::Params;
using PortRecord::Entries;

class TestPageCodecs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void logList();
    void serial();
    void portRecord();
    void fixedParams();
};

void TestPageCodecs::logList()
{
    const auto hex = [](const char* text) { return QByteArray::fromHex(text); };
    // Payload, names, longest, truncated.
    const std::tuple<QByteArray, QStringList, int, bool> rows[] = {
        {QByteArray(), {}, 0, false}, {hex("0361626300027879"), {"abc", "", "xy"}, 3, false},
        {hex("00"), {""}, 0, false}, {hex("0000"), {"", ""}, 0, false}, {hex("0561"), {}, 0, true},
        {hex("027879" "09637574"), {"xy"}, 2, true}, {hex("026162"), {"ab"}, 2, false},
        {hex("0361006202" "6364"), {"a", "cd"}, 3, false}, // a zero byte ends the name only
        {QByteArray("\x06") + QByteArray("日志"), {QStringLiteral("日志")}, 6, false},
        {QByteArray("\xff") + QByteArray(255, 'n') + "\x01z", {QString(255, 'n'), "z"}, 255, false},
    };
    for (const auto& [payload, names, longest, truncated] : rows) {
        // An exactly sized copy: the sanitizer build catches a read past the end.
        std::vector<unsigned char> bytes(payload.begin(), payload.end());
        const auto parsed = LogFileList::parse(bytes.data(), static_cast<int>(bytes.size()));
        QCOMPARE(parsed.names, names);
        QCOMPARE(parsed.longest, longest);
        QCOMPARE(parsed.truncated, truncated);
    }
    // A name its length byte cannot describe is cut at a character boundary.
    QCOMPARE(LogFileList::encode({"ab", "", QStringLiteral("日")}).toHex(), QByteArray("0261620003e697a5"));
    QCOMPARE(LogFileList::encode({QString(300, 'x'), "y"}), "\xff" + QByteArray(255, 'x') + "\x01y");
    QCOMPARE(LogFileList::encode({QString(200, QChar(0x00E9))}),
             "\xfe" + QString(127, QChar(0x00E9)).toUtf8());
    // Point size x longest x 0.8, halves upward.
    const int widths[][3] = {{9, 3, 22}, {9, 1, 7}, {11, 12, 106}, {9, 0, 0}, {-1, 5, 0}};
    for (const auto& w : widths)
        QCOMPARE(LogFileList::comboWidth(w[0], w[1]), w[2]);
    QCOMPARE(utf8UpToZero("ab\0cd", 5) + utf8UpToZero("\0ab", 3) + utf8UpToZero("abc", 2) +
                 utf8UpToZero(static_cast<const char*>(nullptr), 0) + utf8UpToZero("abc", -1),
             QStringLiteral("abab"));
}

void TestPageCodecs::serial()
{
    const auto hex = [](const char* text) { return QByteArray::fromHex(text); };
    // RS-485, N, name, baud, data bits, parity, flow, stop: parity goes before flow control.
    const QByteArray known = hex("0106") + "串口" + hex("0703020100");
    SerialSettings s;
    QVERIFY(SerialSettings::fromRecord(known, &s));
    QVERIFY(s.rs485 && s.portName == QStringLiteral("串口") && s.baudIndex == 7 &&
            s.dataBitsIndex == 3 && s.parityIndex == 2 && s.flowControlIndex == 1 &&
            s.stopBitsIndex == 0);
    QCOMPARE(s.toRecord().toHex(' '), known.toHex(' '));
    for (const QByteArray& record :
         {hex("000a") + "/dev/ttyS1" + hex("0303000000"), hex("0104") + "COM3" + hex("0702020101"),
          hex("0007") + "ttyUSB0" + hex("0000010200"), hex("00000303000000"),
          hex("00ff") + QByteArray(255, 'p') + hex("0303000000")}) {
        SerialSettings back;
        QVERIFY(SerialSettings::fromRecord(record, &back));
        QVERIFY(back.portNameFits());
        QCOMPARE(back.toRecord().toHex(' '), record.toHex(' '));
    }
    // 256 bytes do not fit the length byte, also as 128 two-byte characters.
    for (const QString& name : {QString(256, 'p'), QString(128, QChar(0x00E9))}) {
        s.portName = name;
        QVERIFY(!s.portNameFits());
        QVERIFY(s.toRecord().isEmpty());
    }
    // Too short, length byte too large or too small, an index out of range.
    for (const QByteArray& bad :
         {QByteArray(), hex("000003030000"), hex("0005") + "abc" + hex("0303000000"),
          hex("0002") + "abc" + hex("0303000000"), hex("000161" "0803000000"),
          hex("000161" "0304000000"), hex("000161" "0303030000"), hex("000161" "0303000300"),
          hex("000161" "0303000002")})
        QVERIFY2(!SerialSettings::fromRecord(bad, &s), bad.toHex().constData());
    // Hex pieces: every single blank splits, a piece that does not convert is 0, only the low
    // byte is kept.
    const char* pieces[][2] = {
        {"01 03 00 00 00 01", "010300000001"}, {"01  02", "010002"}, {"01 02 ", "010200"},
        {" 01", "0001"}, {"zz", "00"}, {"1ff", "ff"}, {"AB Cd", "abcd"}, {"1 a", "010a"},
        {"12345678", "78"}, {"123456789abcdef0123", "00"}, {" ", "0000"}, {"zz 1ff 7", "00ff07"},
    };
    for (const auto& p : pieces)
        QCOMPARE(SPTestFormat::hexPiecesToBytes(p[0]).toHex(), QByteArray(p[1]));
    // CRC-16/MODBUS, low byte first.
    QCOMPARE(SPTestFormat::withModbusCrc(hex("010300000001")).toHex(), QByteArray("010300000001840a"));
    QCOMPARE(SPTestFormat::withModbusCrc(hex("1103006b0003")).toHex(), QByteArray("1103006b00037687"));
    QCOMPARE(SPTestFormat::withModbusCrc(QByteArray()).toHex(), QByteArray("ffff"));
    QCOMPARE(SPTestFormat::bytesToHexText(hex("0103ff0a")), QStringLiteral("01 03 ff 0a "));
    QCOMPARE(SPTestFormat::bytesToHexText(QByteArray()), QString());
    QCOMPARE(SPTestFormat::colouredHtml("a<b", 58, 95, 205), "<font color=#3a5fcd>a&lt;b");
    QCOMPARE(SPTestFormat::colouredHtml("x\r\ny\n", 50, 205, 50),
             QString("<font color=#32cd32>x<br><br>y<br>"));
    QCOMPARE(SPTestFormat::colouredHtml("&lt; \"'>", 0, 0, 0),
             "<font color=#000000>&amp;lt;&nbsp;&quot;&#39;&gt;");
    QCOMPARE(SPTestFormat::colouredHtml("01 02 ", 255, 16, 1), "<font color=#ff1001>01&nbsp;02&nbsp;");
}

void TestPageCodecs::portRecord()
{
    const auto hex = [](const char* text) { return QByteArray::fromHex(text); };
    // Text, port, valid: 1 to 65534, decimal.
    const std::tuple<const char*, int, bool> ports[] = {
        {"1", 1, true},      {"65534", 65534, true},   {"0080", 80, true},
        {"0", 0, false},     {"65535", 65535, false},  {"99999999999", 0, false},
        {"", 0, false},      {"80x", 0, false},        {"-22", -22, false}};
    for (const auto& [text, value, valid] : ports) {
        QCOMPARE(PortRecord::portFromText(text), value);
        QCOMPARE(PortRecord::isValidPort(value), valid);
    }
    const auto decode = [](const QByteArray& bytes, Entries& out) {
        return PortRecord::decode(reinterpret_cast<const quint8*>(bytes.data()), bytes.size(), out);
    };
    // Four entries of flag and big-endian port; any non-zero flag is "on".
    const std::tuple<Entries, QByteArray, bool> rows[] = {
        {{{{true, 22}, {false, 23}, {true, 80}, {true, 443}}}, hex("010016000017010050 0101bb"), true},
        {{{{true, 1}, {true, 65534}, {false, 256}, {false, 255}}}, hex("01000101fffe0001000000ff"), true},
        {{{{false, 22}, {true, 23}, {true, 80}, {true, 443}}}, hex("0000160100170100500501bb"), false},
        {{{{true, 0}, {true, 65535}, {false, 1}, {true, 65534}}}, hex("ff000080ffff00000101fffe"), false},
    };
    for (const auto& [entries, record, encodes] : rows) {
        if (encodes)
            QCOMPARE(PortRecord::encode(entries).toHex(), record.toHex());
        Entries got;
        QVERIFY(decode(record, got) && got == entries);
    }
    for (int size : {0, 1, 11, 13, 24}) {
        const Entries before{{{true, 7}, {true, 7}, {false, 7}, {true, 7}}};
        Entries got = before;
        QVERIFY(!decode(QByteArray(size, '\x01'), got) && got == before);
        QVERIFY(!PortRecord::decode(nullptr, 12, got));
    }
}

void TestPageCodecs::fixedParams()
{
    const std::pair<QByteArray, Params> parsed[] = {
        {R"({"name":"GW","devserial":"S1","ethaddr":"00:11:22:33:44:55"})",
         {{"devserial", "S1"}, {"ethaddr", "00:11:22:33:44:55"}, {"name", "GW"}}},
        {R"({"a":1,"b":"x","c":[1,2],"d":{"e":"f"},"g":null,"h":true})",
         {{"a", ""}, {"b", "x"}, {"c", ""}, {"d", ""}, {"g", ""}, {"h", ""}}},
        {"{}", {}}, {" \r\n{\"k\" : \"v\"}\n ", {{"k", "v"}}},
        {"{\"name\":\"\xe7\xbd\x91\xe5\x85\xb3\"}", {{"name", QStringLiteral("网关")}}},
        {R"({"a\"b":"line\nnext\u0041"})", {{"a\"b", "line\nnextA"}}},
        {R"({"k":"first","k":"second"})", {{"k", "second"}}},
        // Raw zero characters in keys upset the object's own key order.
        {"{\"" + QByteArray(28, '\0') + "k\":\"2\",\"" + QByteArray(34, '\0') + "\":\"e\"}",
         {{QString(34, QChar(0)), "e"}, {QString(28, QChar(0)) + 'k', "2"}}},
    };
    const auto parse = [](const QByteArray& json, Params& got) {
        return FixedParamJson::parse(reinterpret_cast<const quint8*>(json.data()), json.size(), got);
    };
    for (const auto& [json, params] : parsed) {
        Params got;
        QVERIFY(parse(json, got));
        QCOMPARE(got, params);
    }
    for (const QByteArray& bad : {QByteArray(R"(["name","devserial"])"), QByteArray(),
                                  QByteArray("{\"k\":\"v\"}", 10), QByteArray(R"({"name":"GW","devs)"),
                                  QByteArray(R"({"a":"1"}{"b":"2"})"), QByteArray(R"("name")"),
                                  QByteArray("42"), QByteArray("null"), QByteArray("name=GW")}) {
        Params got{{"untouched", "on failure"}};
        QVERIFY(!parse(bad, got));
        QCOMPARE(got, (Params{{"untouched", "on failure"}}));
    }
    // Rows, JSON, MAC invalid, incomplete, refused.
    const std::tuple<Params, QByteArray, bool, bool, bool> built[] = {
        {{{"name", "GW"}, {"devserial", "S1"}, {"ethaddr", "00:1a:2B:3c:4D:5e"}},
         R"({"devserial":"S1","ethaddr":"00:1a:2B:3c:4D:5e","name":"GW"})", false, false, false},
        {{{"name", "GW"}, {"ethaddr", "xx:xx:xx:xx:xx:xx"}},
         R"({"ethaddr":"xx:xx:xx:xx:xx:xx","name":"GW"})", true, false, true},
        {{{"ethaddr", "00-11-22-33-44-55"}}, R"({"ethaddr":"00-11-22-33-44-55"})", true, false, true},
        {{{"name", "GW"}, {"ethaddr", ""}}, R"({"name":"GW"})", true, true, true},
        {{{"Ethaddr", "nothing"}}, R"({"Ethaddr":"nothing"})", false, false, false},
        {{{"name", "GW"}, {"", "orphan"}, {"devserial", ""}}, R"({"name":"GW"})", false, true, false},
        {{{"", ""}, {"name", ""}}, "{}", false, true, true}, {{}, "{}", false, false, true},
        {{{"name", "upper"}, {"x", "1"}, {"name", "lower"}}, R"({"name":"lower","x":"1"})", false,
         false, false},
        {{{"say", "a \"quoted\"\nline\\"}, {"\xc3\xa4", "\xe2\x82\xac"}},
         "{\"say\":\"a \\\"quoted\\\"\\nline\\\\\",\"\xc3\xa4\":\"\xe2\x82\xac\"}", false, false, false},
        {{{"zeta", "last"}, {"Alpha", "upper case first"}, {"alpha", "a b"}},
         R"({"Alpha":"upper case first","alpha":"a b","zeta":"last"})", false, false, false},
    };
    for (const auto& [rows, json, macInvalid, incomplete, refused] : built) {
        const FixedParamJson::Built b = FixedParamJson::build(rows);
        QCOMPARE(FixedParamJson::serialise(b.object), json);
        QCOMPARE(b.macInvalid, macInvalid);
        QCOMPARE(b.incomplete, incomplete);
        QCOMPARE(b.refused(), refused);
    }
    for (const char* mac : {"00:1A:2B:3C:4D:5E", "00:1a:2b:3c:4d:5e", "aA:bB:cC:dD:eE:fF"})
        QVERIFY(FixedParamJson::isMacAddress(mac));
    for (const char* no : {"", "001a2b3c4d5e", "00:1a:2b:3c:4d", "00:1a:2b:3c:4d:5e:6f",
                           "00:1a:2b:3c:4d:5g", "0:11a:2b:3c:4d:5e", "00:1a:2b:3c:4d:5e\n",
                           " 00:1a:2b:3c:4d:5e"})
        QVERIFY2(!FixedParamJson::isMacAddress(no), no);
    // Twelve characters without a colon get colons; anything else stays.
    QCOMPARE(FixedParamJson::autoFormatMac("001a2b3c4d5e"), QStringLiteral("00:1a:2b:3c:4d:5e"));
    QCOMPARE(FixedParamJson::autoFormatMac("xxxxxxxxxxxx"), QStringLiteral("xx:xx:xx:xx:xx:xx"));
    for (const char* kept : {"00:1a:2b:3c:4d:5e", "00:1a2b3c4d5", "001a2b3c4d5", "001a2b3c4d5e6", ""})
        QCOMPARE(FixedParamJson::autoFormatMac(kept), QString(kept));
}

QTEST_APPLESS_MAIN(TestPageCodecs)
#include "tst_pagecodecs.moc"
