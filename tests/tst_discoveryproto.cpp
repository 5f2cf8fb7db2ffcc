// Discovery formats against literal bytes: UDP request/replies, link JSON, duplicate rules.
#include "discovery/discoveryproto.h"
#include "testutil.h"

using Discovery::EntryForm;

// Reply parts: product "RTU-7"; eth0 10.0.0.5/255.255.255.0 02:4D:46:00:00:05
// and eth1 172.16.0.9/255.255.0.0 02:AA:BB:CC:DD:01, long (L) and short (S).
#define RTU "002518055254552d37"
#define E0L "001204657468300a000005ffffff00024d46000005"
#define E1L "00120465746831ac100009ffff000002aabbccdd01"
#define E0S "04657468300a000005ffffff00"
#define E1S "0465746831ac100009ffff0000"
#define ETH0 "eth0,10.0.0.5,255.255.255.0,"
#define ETH1 "eth1,172.16.0.9,255.255.0.0,"

static QString describe(const QList<Discovery::Interface>& interfaces)
{
    QStringList result;
    for (const Discovery::Interface& i : interfaces)
        result << QStringList{i.name, i.ip, i.netmask, i.mac}.join(',');
    return result.join(';');
}

class TestDiscoveryProto : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void request()
    {
        // 192.168.1.10 is sent as 0A 01 A8 C0.
        QCOMPARE(Discovery::buildRequest(0xC0A8010A, 0xFFFFFF00).toHex(), QByteArray("0025180a01a8c000ffffff"));
        QVERIFY(Discovery::isRequest(QByteArray::fromHex("0025180a01a8c000ffffff")));
        QVERIFY(!Discovery::isRequest(QByteArray::fromHex("0025180a01a8c000ffff")));
        QVERIFY(!Discovery::isRequest(QByteArray::fromHex("0025190a01a8c000ffffff")));
    }

    void buildReply()
    {
        const QList<Discovery::Interface> intfs{{"eth0", "10.0.0.5", "255.255.255.0", "02:4D:46:00:00:05"},
                                                {"eth1", "172.16.0.9", "255.255.0.0", "02:aa:bb:cc:dd:01"}};
        QCOMPARE(Discovery::buildUdpReply("RTU-7", intfs, {EntryForm::Long}).toHex(), QByteArray(RTU E0L E1L));
        QCOMPARE(Discovery::buildUdpReply("RTU-7", intfs, {EntryForm::Short}).toHex(), QByteArray(RTU E0S E1S));
        QCOMPARE(Discovery::buildUdpReply("RTU-7", intfs, {EntryForm::Long, EntryForm::ShortWithMac}).toHex(),
                 QByteArray(RTU E0L E1S "02aabbccdd01"));
    }

    // Expected: "product|macs|device MAC|interfaces" (bare: "bare"), or "drop".
    void udpReply_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<QString>("expected");
        const QString l0 = ETH0 "02:4D:46:00:00:05", l1 = ETH1 "02:AA:BB:CC:DD:01";
        QTest::newRow("long") << QByteArray(RTU E0L E1L) << "RTU-7|macs|02:4D:46:00:00:05|" + l0 + ";" + l1;
        QTest::newRow("short") << QByteArray(RTU E0S E1S) << "RTU-7|||" ETH0 ";" ETH1;
        QTest::newRow("short with MAC after a long entry")
            << QByteArray("002518014d" E1L E0S "024d46000005") << "M|macs|02:4D:46:00:00:05|" + l1 + ";" + l0;
        QTest::newRow("short, then long") << QByteArray("002518014d" E1S E0L) << "M|macs|02:4D:46:00:00:05|" ETH1 ";" + l0;
        QTest::newRow("no entry is the sender") << QByteArray("002518014d" E1L) << "M|macs||" + l1;
        QTest::newRow("7 bytes") << QByteArray("00251805ffffff") << "bare|||";
        QTest::newRow("no interfaces") << QByteArray("002518044f6e6c79") << "Only|||";
        QTest::newRow("empty product") << QByteArray("00251800") << "|||";
        QTest::newRow("zero byte ends a name")
            << QByteArray("0025180452540055" "04657400780a000005ffffff00") << "RT|||et,10.0.0.5,255.255.255.0,";
        QTest::newRow("UTF-8") << QByteArray("00251806476572c3a474") << "Gerät|||";
        // Malformed: dropped whole, nothing read past the end.
        for (const char* bad : {"002518ff4142", "002518014d04657468300a0000", RTU E0L "024d460000",
                                "002518014d" E1L E0S, "002518014d40656e", "002518024d4d0011", "002518",
                                "0025", "012518014d" E0L, "002519014d" E0L})
            QTest::newRow(bad) << QByteArray(bad) << "drop";
    }
    void udpReply()
    {
        QFETCH(QByteArray, hex);
        const QByteArray datagram = QByteArray::fromHex(hex);
        // A copy ending exactly at the datagram's end: ASan sees a read past it.
        std::vector<char> exact(datagram.begin(), datagram.end());
        Discovery::UdpReply r;
        QString got = "drop";
        if (Discovery::parseUdpReply(QByteArray::fromRawData(exact.data(), datagram.size()), "10.0.0.5", r))
            got = QStringList{r.bare ? "bare" + r.product : r.product, r.carriesMacs ? "macs" : "",
                              r.deviceMac, describe(r.interfaces)}.join('|');
        QTEST(got, "expected");
    }

    // Expected: "host|product|interfaces|device MAC" (host matched: "+"), or "invalid".
    void deviceInfo_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("expected");
        QTest::newRow("full") << QByteArray(R"({"host":"10.0.0.5","product":"RTU","intfInfo":[["eth0","10.0.0.5","255.255.255.0","02:4d:46:00:00:05"],["eth1","172.16.0.9","255.255.0.0","02:aa:00:00:00:01"]]})") << "10.0.0.5|RTU|eth0,10.0.0.5,255.255.255.0,02:4d:46:00:00:05;eth1,172.16.0.9,255.255.0.0,02:aa:00:00:00:01|+02:4D:46:00:00:05";
        QTest::newRow("host on no interface") << QByteArray(R"({"host":"10.0.0.5","intfInfo":[["eth1","172.16.0.9","255.255.0.0","02:aa:00:00:00:01"]]})") << "10.0.0.5||eth1,172.16.0.9,255.255.0.0,02:aa:00:00:00:01|";
        QTest::newRow("several match: the last wins") << QByteArray(R"({"host":"1.1.1.1","intfInfo":[["a","1.1.1.1","","02:00:00:00:00:0a"],["b","1.1.1.1","","02:00:00:00:00:0b"]]})") << "1.1.1.1||a,1.1.1.1,,02:00:00:00:00:0a;b,1.1.1.1,,02:00:00:00:00:0b|+02:00:00:00:00:0B";
        QTest::newRow("short element") << QByteArray(R"({"host":"1.1.1.1","intfInfo":[["a","1.1.1.1"]]})") << "1.1.1.1||a,1.1.1.1,,|+";
        QTest::newRow("not arrays") << QByteArray(R"({"host":"h","product":7,"intfInfo":"x"})") << "h|||";
        QTest::newRow("invalid") << QByteArray("{\"host\": oops}") << "invalid";
        QTest::newRow("not an object") << QByteArray("[1,2]") << "invalid";
        QTest::newRow("empty") << QByteArray() << "invalid";
    }
    void deviceInfo()
    {
        QFETCH(QByteArray, json);
        Discovery::DeviceInfo info;
        QString got = "invalid";
        if (Discovery::parseDeviceInfo(json, info))
            got = QStringList{info.host, info.product, describe(info.interfaces), (info.hostMatched ? "+" : "") + info.deviceMac}.join('|');
        QTEST(got, "expected");
    }

    void documents()
    {
        QCOMPARE(Discovery::buildDeviceInfo("10.0.0.5", "P", {{"eth0", "10.0.0.5", "255.255.255.0", "02:4D:46:00:00:05"}}),
                 QByteArray(R"({"host":"10.0.0.5","intfInfo":[["eth0","10.0.0.5","255.255.255.0","02:4D:46:00:00:05"]],"product":"P"})"));
        QCOMPARE(Discovery::buildResult(true) + Discovery::buildResult(false),
                 QByteArray(R"({"result":true}{"result":false})"));
        // Operation result: only a JSON true is success.
        const std::pair<const char*, int> results[] = {{R"({"result":true})", 1}, {R"({"result":false})", 0}, {"{}", 0},
            {R"({"result":1})", 0}, {R"({"result":"true"})", 0}, {"{result:true}", -1}};
        for (const auto& [json, expected] : results) {
            bool result = true;
            QVERIFY2((Discovery::parseResult(json, result) ? int(result) : -1) == expected, json);
        }
        // Set IP: compact, keys in the JSON writer's order.
        QCOMPARE(Discovery::buildSetIpRequest({"eth0", "10.0.0.9"}),
                 QByteArray(R"({"gateway":"","interface":"eth0","ip":"10.0.0.9","netmask":""})"));
        QCOMPARE(Discovery::buildSetIpRequest({"eth1", "1.2.3.4", "255.0.0.0", "1.0.0.1"}),
                 QByteArray(R"({"gateway":"1.0.0.1","interface":"eth1","ip":"1.2.3.4","netmask":"255.0.0.0"})"));
        Discovery::SetIpRequest r;
        QVERIFY(Discovery::parseSetIpRequest(R"({"gateway":"1.0.0.1","interface":"eth1","ip":"1.2.3.4","netmask":"255.0.0.0"})", r));
        QCOMPARE((QStringList{r.interfaceName, r.ip, r.netmask, r.gateway}),
                 (QStringList{"eth1", "1.2.3.4", "255.0.0.0", "1.0.0.1"}));
        QVERIFY(!Discovery::parseSetIpRequest(R"({"ip":)", r) && !Discovery::parseSetIpRequest("[]", r));
    }

    // Duplicate rules as answers: "u|l address MAC carries-MACs listed?" or "new" (a new search).
    void duplicates_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("both ways, same address and MAC: once") << QStringList{"u 10.0.0.5 M1 1 1", "l 10.0.0.5 M1 - 0", "u 10.0.0.5 M1 1 0"};
        QTest::newRow("link first, then UDP") << QStringList{"l 10.0.0.5 M1 - 1", "u 10.0.0.5 M1 1 0"};
        QTest::newRow("short form UDP repeats") << QStringList{"u 10.0.0.5 - 0 1", "u 10.0.0.5 - 0 0"};
        QTest::newRow("same address, other MAC") << QStringList{"u 10.0.0.5 M1 1 1", "u 10.0.0.5 M2 1 1", "l 10.0.0.5 M3 - 1"};
        QTest::newRow("same MAC, other address") << QStringList{"l 10.0.0.5 M1 - 1", "l 10.0.0.6 M1 - 1"};
        QTest::newRow("new search keeps the MACs") << QStringList{"u 10.0.0.5 M1 1 1", "new", "u 10.0.0.5 M1 1 1", "u 10.0.0.5 M1 1 0"};
        QTest::newRow("MAC of an earlier search") << QStringList{"l 10.0.0.9 M1 - 1", "new", "u 10.0.0.5 M2 1 1", "l 10.0.0.5 M1 - 0"};
        QTest::newRow("empty MACs count as seen") << QStringList{"l 10.0.0.5 - - 1", "l 10.0.0.5 - - 0", "u 10.0.0.5 - 1 0"};
    }
    void duplicates()
    {
        QFETCH(QStringList, steps);
        Discovery::SeenDevices seen;
        for (const QString& step : steps) {
            const QStringList f = step.split(' ');
            if (step == "new") {
                seen.newSearch();
                continue;
            }
            const QString mac = f.at(2) == "-" ? QString() : f.at(2);
            const bool listed = f.at(0) == "u" ? seen.admitUdp(f.at(1), mac, f.at(3) == "1") : seen.admitLink(f.at(1), mac);
            QVERIFY2(listed == (f.at(4) == "1"), qPrintable(step));
        }
    }
};

QTEST_MAIN(TestDiscoveryProto)
#include "tst_discoveryproto.moc"
