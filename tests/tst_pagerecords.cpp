// The plain data of the settings and fixed parameters pages: the 12-byte
// port record and the fixed-parameter JSON, as tables.
#include "pages/fixedparamjson.h"
#include "pages/portrecord.h"

#include <QtTest>

using FixedParamJson::Params;
using PortRecord::Entries;

Q_DECLARE_METATYPE(Entries)
Q_DECLARE_METATYPE(Params)

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

} // namespace

class TestPageRecords : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void portFromText_data();
    void portFromText();
    void portRecordEncode_data();
    void portRecordEncode();
    void portRecordDecode_data();
    void portRecordDecode();
    void portRecordRefusesOtherSizes_data();
    void portRecordRefusesOtherSizes();

    void parse_data();
    void parse();
    void build_data();
    void build();
    void serialiseIsCompactAndSorted();
    void isMacAddress_data();
    void isMacAddress();
    void autoFormatMac_data();
    void autoFormatMac();
};

void TestPageRecords::portFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("valid");
    QTest::newRow("lowest") << "1" << 1 << true;
    QTest::newRow("ssh") << "22" << 22 << true;
    QTest::newRow("highest") << "65534" << 65534 << true;
    QTest::newRow("zero") << "0" << 0 << false;
    QTest::newRow("65535") << "65535" << 65535 << false;
    QTest::newRow("far too large") << "99999999999" << 0 << false;
    QTest::newRow("empty") << "" << 0 << false;
    QTest::newRow("letters") << "http" << 0 << false;
    QTest::newRow("trailing letters") << "80x" << 0 << false;
    QTest::newRow("negative") << "-22" << -22 << false;
    QTest::newRow("leading zeros are decimal") << "0080" << 80 << true;
}

void TestPageRecords::portFromText()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QFETCH(bool, valid);
    QCOMPARE(PortRecord::portFromText(text), value);
    QCOMPARE(PortRecord::isValidPort(PortRecord::portFromText(text)), valid);
}

void TestPageRecords::portRecordEncode_data()
{
    QTest::addColumn<Entries>("entries");
    QTest::addColumn<QByteArray>("record");
    QTest::newRow("usual") << Entries{{{true, 22}, {false, 23}, {true, 80}, {true, 443}}}
                           << hex("010016000017010050 0101bb");
    QTest::newRow("edges") << Entries{{{true, 1}, {true, 65534}, {false, 256}, {false, 255}}}
                           << hex("010001 01fffe 000100 0000ff");
    QTest::newRow("all disabled keep ports")
        << Entries{{{false, 22}, {false, 23}, {false, 80}, {false, 443}}}
        << hex("000016000017000050 0001bb");
}

void TestPageRecords::portRecordEncode()
{
    QFETCH(Entries, entries);
    QFETCH(QByteArray, record);
    QCOMPARE(PortRecord::encode(entries).toHex(), record.toHex());
}

void TestPageRecords::portRecordDecode_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<Entries>("entries");
    QTest::newRow("disabled ssh, https on")
        << hex("000016 010017 010050 0501bb")
        << Entries{{{false, 22}, {true, 23}, {true, 80}, {true, 443}}};
    QTest::newRow("any non-zero flag is enabled, ports 0 and 65535 are shown")
        << hex("ff0000 80ffff 000001 01fffe")
        << Entries{{{true, 0}, {true, 65535}, {false, 1}, {true, 65534}}};
}

void TestPageRecords::portRecordDecode()
{
    QFETCH(QByteArray, record);
    QFETCH(Entries, entries);
    Entries got;
    QVERIFY(PortRecord::decode(reinterpret_cast<const quint8*>(record.constData()), record.size(),
                               got));
    QVERIFY(got == entries);
}

void TestPageRecords::portRecordRefusesOtherSizes_data()
{
    QTest::addColumn<int>("size");
    for (int size : {0, 1, 3, 11, 13, 24})
        QTest::newRow(qPrintable(QString::number(size))) << size;
}

void TestPageRecords::portRecordRefusesOtherSizes()
{
    QFETCH(int, size);
    const QByteArray bytes(size, '\x01');
    Entries got{{{true, 7}, {true, 7}, {true, 7}, {true, 7}}};
    const Entries before = got;
    QVERIFY(!PortRecord::decode(reinterpret_cast<const quint8*>(bytes.constData()), size, got));
    QVERIFY(got == before);
    QVERIFY(!PortRecord::decode(nullptr, 12, got));
}

void TestPageRecords::parse_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<Params>("params");
    QTest::newRow("default set comes sorted")
        << QByteArray(R"({"name":"GW","devserial":"S1","ethaddr":"00:11:22:33:44:55"})") << true
        << Params{{"devserial", "S1"}, {"ethaddr", "00:11:22:33:44:55"}, {"name", "GW"}};
    QTest::newRow("members that are not strings")
        << QByteArray(R"({"a":1,"b":"x","c":[1,2],"d":{"e":"f"},"g":null,"h":true})") << true
        << Params{{"a", ""}, {"b", "x"}, {"c", ""}, {"d", ""}, {"g", ""}, {"h", ""}};
    QTest::newRow("empty object") << QByteArray("{}") << true << Params{};
    QTest::newRow("blanks around the object")
        << QByteArray(" \r\n{\"k\" : \"v\"}\n ") << true << Params{{"k", "v"}};
    QTest::newRow("utf-8 text") << QByteArray("{\"name\":\"\xe7\xbd\x91\xe5\x85\xb3\"}") << true
                                << Params{{"name", QString::fromUtf8("\xe7\xbd\x91\xe5\x85\xb3")}};
    QTest::newRow("escapes") << QByteArray(R"({"a\"b":"line\nnext\u0041"})") << true
                             << Params{{"a\"b", "line\nnextA"}};
    QTest::newRow("duplicate key gives one row")
        << QByteArray(R"({"k":"first","k":"second"})") << true << Params{{"k", "second"}};
    {
        // Raw zero characters in keys upset the object's own key order.
        const QString nul28k = QString(28, QChar(0)) + QLatin1Char('k');
        const QString nul34 = QString(34, QChar(0));
        QTest::newRow("keys holding zero characters still come sorted")
            << (QByteArray("{\"") + QByteArray(28, '\0') + "k\":\"2\",\"" + QByteArray(34, '\0') +
                "\":\"e\"}")
            << true << Params{{nul34, "e"}, {nul28k, "2"}};
    }
    QTest::newRow("array") << QByteArray(R"(["name","devserial"])") << false << Params{};
    QTest::newRow("empty payload") << QByteArray() << false << Params{};
    QTest::newRow("object and a zero byte") << QByteArray("{\"k\":\"v\"}", 10) << false << Params{};
    QTest::newRow("cut short") << QByteArray(R"({"name":"GW","devs)") << false << Params{};
    QTest::newRow("two objects") << QByteArray(R"({"a":"1"}{"b":"2"})") << false << Params{};
    QTest::newRow("bare string") << QByteArray(R"("name")") << false << Params{};
    QTest::newRow("number") << QByteArray("42") << false << Params{};
    QTest::newRow("null") << QByteArray("null") << false << Params{};
    QTest::newRow("not json") << QByteArray("name=GW") << false << Params{};
}

void TestPageRecords::parse()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, ok);
    QFETCH(Params, params);
    Params got{{"untouched", "on failure"}};
    QCOMPARE(
        FixedParamJson::parse(reinterpret_cast<const quint8*>(json.constData()), json.size(), got),
        ok);
    if (ok)
        QCOMPARE(got, params);
    else
        QCOMPARE(got, (Params{{"untouched", "on failure"}}));
}

void TestPageRecords::build_data()
{
    QTest::addColumn<Params>("rows");
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("macInvalid");
    QTest::addColumn<bool>("incomplete");
    QTest::addColumn<bool>("refused");
    QTest::newRow("complete default set")
        << Params{{"name", "GW"}, {"devserial", "S1"}, {"ethaddr", "00:1a:2B:3c:4D:5e"}}
        << QByteArray(R"({"devserial":"S1","ethaddr":"00:1a:2B:3c:4D:5e","name":"GW"})") << false
        << false << false;
    QTest::newRow("no ethaddr row, no MAC check")
        << Params{{"name", "GW"}} << QByteArray(R"({"name":"GW"})") << false << false << false;
    QTest::newRow("bad MAC") << Params{{"name", "GW"}, {"ethaddr", "xx:xx:xx:xx:xx:xx"}}
                             << QByteArray(R"({"ethaddr":"xx:xx:xx:xx:xx:xx","name":"GW"})") << true
                             << false << true;
    QTest::newRow("MAC with dashes")
        << Params{{"ethaddr", "00-11-22-33-44-55"}}
        << QByteArray(R"({"ethaddr":"00-11-22-33-44-55"})") << true << false << true;
    QTest::newRow("MAC with a blank")
        << Params{{"ethaddr", "00:11:22:33:44:55 "}}
        << QByteArray(R"({"ethaddr":"00:11:22:33:44:55 "})") << true << false << true;
    QTest::newRow("empty ethaddr is invalid, not only incomplete")
        << Params{{"name", "GW"}, {"ethaddr", ""}} << QByteArray(R"({"name":"GW"})") << true << true
        << true;
    QTest::newRow("Ethaddr is not the MAC key")
        << Params{{"Ethaddr", "nothing"}} << QByteArray(R"({"Ethaddr":"nothing"})") << false
        << false << false;
    QTest::newRow("incomplete rows are left out")
        << Params{{"name", "GW"}, {"", "orphan"}, {"devserial", ""}}
        << QByteArray(R"({"name":"GW"})") << false << true << false;
    QTest::newRow("nothing complete")
        << Params{{"", ""}, {"name", ""}} << QByteArray("{}") << false << true << true;
    QTest::newRow("no rows") << Params{} << QByteArray("{}") << false << false << true;
    QTest::newRow("the lower duplicate wins")
        << Params{{"name", "upper"}, {"x", "1"}, {"name", "lower"}}
        << QByteArray(R"({"name":"lower","x":"1"})") << false << false << false;
    QTest::newRow("text needing escapes")
        << Params{{"say", "a \"quoted\"\nline\\"}, {"\xc3\xa4", "\xe2\x82\xac"}}
        << QByteArray("{\"say\":\"a \\\"quoted\\\"\\nline\\\\\",\"\xc3\xa4\":\"\xe2\x82\xac\"}")
        << false << false << false;
}

void TestPageRecords::build()
{
    QFETCH(Params, rows);
    QFETCH(QByteArray, json);
    QFETCH(bool, macInvalid);
    QFETCH(bool, incomplete);
    QFETCH(bool, refused);
    // Keys and values in the table are QStrings; the rows above are UTF-8.
    const FixedParamJson::Built built = FixedParamJson::build(rows);
    QCOMPARE(FixedParamJson::serialise(built.object), json);
    QCOMPARE(built.macInvalid, macInvalid);
    QCOMPARE(built.incomplete, incomplete);
    QCOMPARE(built.refused(), refused);
}

void TestPageRecords::serialiseIsCompactAndSorted()
{
    QJsonObject object;
    object.insert(QStringLiteral("zeta"), QStringLiteral("last"));
    object.insert(QStringLiteral("Alpha"), QStringLiteral("upper case first"));
    object.insert(QStringLiteral("alpha"), QStringLiteral("a b"));
    const QByteArray json = FixedParamJson::serialise(object);
    QCOMPARE(json, QByteArray(R"({"Alpha":"upper case first","alpha":"a b","zeta":"last"})"));
    QVERIFY(!json.endsWith('\n'));
    Params back;
    QVERIFY(FixedParamJson::parse(json, back));
    QCOMPARE(back.size(), 3);
}

void TestPageRecords::isMacAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("mac");
    QTest::newRow("upper") << "00:1A:2B:3C:4D:5E" << true;
    QTest::newRow("lower") << "00:1a:2b:3c:4d:5e" << true;
    QTest::newRow("mixed") << "aA:bB:cC:dD:eE:fF" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("twelve digits") << "001a2b3c4d5e" << false;
    QTest::newRow("five groups") << "00:1a:2b:3c:4d" << false;
    QTest::newRow("seven groups") << "00:1a:2b:3c:4d:5e:6f" << false;
    QTest::newRow("g is no digit") << "00:1a:2b:3c:4d:5g" << false;
    QTest::newRow("one-digit group") << "0:11a:2b:3c:4d:5e" << false;
    QTest::newRow("trailing newline") << "00:1a:2b:3c:4d:5e\n" << false;
    QTest::newRow("leading blank") << " 00:1a:2b:3c:4d:5e" << false;
}

void TestPageRecords::isMacAddress()
{
    QFETCH(QString, text);
    QFETCH(bool, mac);
    QCOMPARE(FixedParamJson::isMacAddress(text), mac);
}

void TestPageRecords::autoFormatMac_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("formatted");
    QTest::newRow("twelve digits") << "001a2b3c4d5e"
                                   << "00:1a:2b:3c:4d:5e";
    QTest::newRow("twelve letters x") << "xxxxxxxxxxxx"
                                      << "xx:xx:xx:xx:xx:xx";
    QTest::newRow("already formatted") << "00:1a:2b:3c:4d:5e"
                                       << "00:1a:2b:3c:4d:5e";
    QTest::newRow("twelve with a colon") << "00:1a2b3c4d5"
                                         << "00:1a2b3c4d5";
    QTest::newRow("eleven") << "001a2b3c4d5"
                            << "001a2b3c4d5";
    QTest::newRow("thirteen") << "001a2b3c4d5e6"
                              << "001a2b3c4d5e6";
    QTest::newRow("empty") << ""
                           << "";
}

void TestPageRecords::autoFormatMac()
{
    QFETCH(QString, text);
    QFETCH(QString, formatted);
    QCOMPARE(FixedParamJson::autoFormatMac(text), formatted);
    // Formatting twice changes nothing more.
    QCOMPARE(FixedParamJson::autoFormatMac(formatted), formatted);
}

QTEST_APPLESS_MAIN(TestPageRecords)
#include "tst_pagerecords.moc"
