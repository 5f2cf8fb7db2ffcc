// The discovery's own formats: the UDP request and reply forms, the JSON
// documents of link frames and the duplicate rules of the search.
#include "discovery/discoveryproto.h"
#include "testutil.h"

using Discovery::EntryForm;
using Discovery::Interface;

Q_DECLARE_METATYPE(Discovery::Interface)
Q_DECLARE_METATYPE(QList<Discovery::Interface>)
Q_DECLARE_METATYPE(Discovery::EntryForm)
Q_DECLARE_METATYPE(QList<Discovery::EntryForm>)

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// Entry builders for hand-made replies.
QByteArray longEntry(const QByteArray& name, const char* ipMaskMacHex)
{
    const int e = name.size() + 14;
    return QByteArray(1, static_cast<char>(e >> 8)) + QByteArray(1, static_cast<char>(e & 0xFF)) +
           QByteArray(1, static_cast<char>(name.size())) + name + hex(ipMaskMacHex);
}
QByteArray shortEntry(const QByteArray& name, const char* ipMaskHex)
{
    return QByteArray(1, static_cast<char>(name.size())) + name + hex(ipMaskHex);
}
QByteArray reply(const QByteArray& product, const QByteArray& entries)
{
    return hex("002518") + QByteArray(1, static_cast<char>(product.size())) + product + entries;
}

} // namespace

class TestDiscoveryProto : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void request()
    {
        // 192.168.1.10 is sent as 0A 01 A8 C0.
        QCOMPARE(Discovery::buildRequest(0xC0A8010A, 0xFFFFFF00), hex("0025180a01a8c000ffffff"));
        QCOMPARE(Discovery::buildRequest(0, 0).size(), 11);
        QVERIFY(Discovery::isRequest(Discovery::buildRequest(1, 2)));
        QVERIFY(!Discovery::isRequest(hex("002518")));
    }

    void udpReply_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("bare");
        QTest::addColumn<QString>("product");
        QTest::addColumn<bool>("carriesMacs");
        QTest::addColumn<QString>("deviceMac");
        QTest::addColumn<QList<Interface>>("interfaces");

        const QString sender = "10.0.0.5";
        const QList<Interface> none;
        const Interface eth0Long{"eth0", "10.0.0.5", "255.255.255.0", "02:4D:46:00:00:05"};
        const Interface eth1Long{"eth1", "172.16.0.9", "255.255.0.0", "02:AA:BB:CC:DD:01"};
        const Interface eth0Short{"eth0", "10.0.0.5", "255.255.255.0", ""};
        const Interface eth1Short{"eth1", "172.16.0.9", "255.255.0.0", ""};

        const QByteArray e0l = longEntry("eth0", "0a000005ffffff00024d46000005");
        const QByteArray e1l = longEntry("eth1", "ac100009ffff000002aabbccdd01");
        const QByteArray e0s = shortEntry("eth0", "0a000005ffffff00");
        const QByteArray e1s = shortEntry("eth1", "ac100009ffff0000");

        QTest::newRow("long form") << reply("RTU-7", e0l + e1l) << true << false << "RTU-7" << true
                                   << "02:4D:46:00:00:05" << QList<Interface>{eth0Long, eth1Long};
        QTest::newRow("short form") << reply("RTU-7", e0s + e1s) << true << false << "RTU-7" << false
                                    << "" << QList<Interface>{eth0Short, eth1Short};
        QTest::newRow("mixed: short with MAC after a long entry")
            << reply("M", e1l + e0s + hex("024d46000005")) << true << false << "M" << true
            << "02:4D:46:00:00:05" << QList<Interface>{eth1Long, eth0Long};
        QTest::newRow("short then long: the first has no MAC")
            << reply("M", e1s + e0l) << true << false << "M" << true << "02:4D:46:00:00:05"
            << QList<Interface>{eth1Short, eth0Long};
        QTest::newRow("no entry matches the sender")
            << reply("M", e1l) << true << false << "M" << true << "" << QList<Interface>{eth1Long};
        QTest::newRow("7 bytes: no product data") << hex("00251805ffffff") << true << true << ""
                                                  << false << "" << none;
        QTest::newRow("no interfaces") << reply("Only", QByteArray()) << true << false << "Only"
                                       << false << "" << none;
        QTest::newRow("empty product, 4 bytes") << hex("00251800") << true << false << "" << false
                                                << "" << none;
        QTest::newRow("zero byte ends a name")
            << reply(QByteArray("RT\0U", 4), shortEntry(QByteArray("et\0x", 4), "0a000005ffffff00"))
            << true << false << "RT" << false << ""
            << QList<Interface>{Interface{"et", "10.0.0.5", "255.255.255.0", ""}};
        QTest::newRow("UTF-8 product") << reply("Gerät", QByteArray()) << true << false << "Gerät"
                                       << false << "" << none;
        // Malformed: dropped whole, nothing read past the end.
        QTest::newRow("product length past the end") << hex("002518ff4142") << false << false << ""
                                                     << false << "" << none;
        QTest::newRow("entry cut in its address")
            << reply("M", e0s.left(7)) << false << false << "" << false << "" << none;
        QTest::newRow("long entry cut in its MAC")
            << reply("M", e0l.left(e0l.size() - 1)) << false << false << "" << false << "" << none;
        QTest::newRow("mixed entry missing its MAC")
            << reply("M", e1l + e0s) << false << false << "" << false << "" << none;
        QTest::newRow("name length past the end")
            << reply("M", hex("40656e")) << false << false << "" << false << "" << none;
        QTest::newRow("lone entry-length bytes")
            << reply("MM", hex("0011")) << false << false << "" << false << "" << none;
        QTest::newRow("3 bytes") << hex("002518") << false << false << "" << false << "" << none;
        QTest::newRow("2 bytes") << hex("0025") << false << false << "" << false << "" << none;
        QTest::newRow("wrong first byte") << hex("012518") + reply("M", e0l).mid(3) << false << false
                                          << "" << false << "" << none;
        QTest::newRow("wrong magic") << hex("002519") + reply("M", e0l).mid(3) << false << false << ""
                                     << false << "" << none;
    }
    void udpReply()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, ok);
        QFETCH(bool, bare);
        QFETCH(QString, product);
        QFETCH(bool, carriesMacs);
        QFETCH(QString, deviceMac);
        QFETCH(QList<Interface>, interfaces);
        Discovery::UdpReply r;
        // Parse a copy that ends exactly at the datagram's end, so that a
        // read past it shows up under the address sanitizer.
        std::unique_ptr<char[]> exact(new char[static_cast<size_t>(qMax(1, datagram.size()))]);
        memcpy(exact.get(), datagram.constData(), static_cast<size_t>(datagram.size()));
        const QByteArray raw = QByteArray::fromRawData(exact.get(), datagram.size());
        QCOMPARE(Discovery::parseUdpReply(raw, "10.0.0.5", r), ok);
        if (!ok)
            return;
        QCOMPARE(r.bare, bare);
        QCOMPARE(r.product, product);
        QCOMPARE(r.carriesMacs, carriesMacs);
        QCOMPARE(r.deviceMac, deviceMac);
        QCOMPARE(r.interfaces.size(), interfaces.size());
        for (int i = 0; i < interfaces.size(); ++i) {
            QCOMPARE(r.interfaces.at(i).name, interfaces.at(i).name);
            QCOMPARE(r.interfaces.at(i).ip, interfaces.at(i).ip);
            QCOMPARE(r.interfaces.at(i).netmask, interfaces.at(i).netmask);
            QCOMPARE(r.interfaces.at(i).mac, interfaces.at(i).mac);
        }
    }

    // What devsim writes reads back the same, in every form.
    void replyRoundTrip_data()
    {
        QTest::addColumn<QList<EntryForm>>("forms");
        QTest::addColumn<bool>("macs");
        QTest::newRow("long") << QList<EntryForm>{EntryForm::Long} << true;
        QTest::newRow("short") << QList<EntryForm>{EntryForm::Short} << false;
        QTest::newRow("mixed") << QList<EntryForm>{EntryForm::Long, EntryForm::ShortWithMac} << true;
    }
    void replyRoundTrip()
    {
        QFETCH(QList<EntryForm>, forms);
        QFETCH(bool, macs);
        const QList<Interface> intfs{{"eth0", "10.0.0.5", "255.255.255.0", "02:4D:46:00:00:05"},
                                     {"wlan0", "192.168.9.1", "255.255.255.0", "02:00:00:00:00:09"},
                                     {"x", "1.2.3.4", "255.0.0.0", "02:00:00:00:00:0A"}};
        Discovery::UdpReply r;
        QVERIFY(Discovery::parseUdpReply(Discovery::buildUdpReply("SIM", intfs, forms), "10.0.0.5", r));
        QCOMPARE(r.interfaces.size(), 3);
        QCOMPARE(r.carriesMacs, macs);
        QCOMPARE(r.deviceMac, macs ? QString("02:4D:46:00:00:05") : QString());
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(r.interfaces.at(i).ip, intfs.at(i).ip);
            QCOMPARE(r.interfaces.at(i).mac, macs ? intfs.at(i).mac : QString());
        }
    }

    void deviceInfo_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("product");
        QTest::addColumn<int>("interfaces");
        QTest::addColumn<bool>("matched");
        QTest::addColumn<QString>("mac");
        QTest::newRow("full") << QByteArray(R"({"host":"10.0.0.5","product":"RTU","intfInfo":[["eth0","10.0.0.5","255.255.255.0","02:4d:46:00:00:05"],["eth1","172.16.0.9","255.255.0.0","02:aa:00:00:00:01"]]})")
                              << true << "10.0.0.5" << "RTU" << 2 << true << "02:4D:46:00:00:05";
        QTest::newRow("host on no interface") << QByteArray(R"({"host":"10.0.0.5","product":"RTU","intfInfo":[["eth1","172.16.0.9","255.255.0.0","02:aa:00:00:00:01"]]})")
                                              << true << "10.0.0.5" << "RTU" << 1 << false << "";
        QTest::newRow("several match: the last wins") << QByteArray(R"({"host":"1.1.1.1","intfInfo":[["a","1.1.1.1","","02:00:00:00:00:01"],["b","1.1.1.1","","02:00:00:00:00:02"]]})")
                                                      << true << "1.1.1.1" << "" << 2 << true << "02:00:00:00:00:02";
        QTest::newRow("short element") << QByteArray(R"({"host":"1.1.1.1","intfInfo":[["a","1.1.1.1"]]})")
                                       << true << "1.1.1.1" << "" << 1 << true << "";
        QTest::newRow("not arrays") << QByteArray(R"({"host":"h","product":7,"intfInfo":"x"})") << true
                                    << "h" << "" << 0 << false << "";
        QTest::newRow("invalid") << QByteArray("{\"host\": oops}") << false << "" << "" << 0 << false << "";
        QTest::newRow("not an object") << QByteArray("[1,2]") << false << "" << "" << 0 << false << "";
        QTest::newRow("empty") << QByteArray() << false << "" << "" << 0 << false << "";
    }
    void deviceInfo()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, ok);
        Discovery::DeviceInfo info;
        QCOMPARE(Discovery::parseDeviceInfo(json, info), ok);
        if (!ok)
            return;
        QTEST(info.host, "host");
        QTEST(info.product, "product");
        QTEST(static_cast<int>(info.interfaces.size()), "interfaces");
        QTEST(info.hostMatched, "matched");
        QTEST(info.deviceMac, "mac");
    }

    void deviceInfoRoundTrip()
    {
        const QList<Interface> intfs{{"eth0", "10.0.0.5", "255.255.255.0", "02:4D:46:00:00:05"}};
        Discovery::DeviceInfo info;
        QVERIFY(Discovery::parseDeviceInfo(Discovery::buildDeviceInfo("10.0.0.5", "P", intfs), info));
        QCOMPARE(info.interfaces.first(), intfs.first());
    }

    void result_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("result");
        QTest::newRow("true") << QByteArray("{\"result\":true}") << true << true;
        QTest::newRow("false") << QByteArray("{\"result\":false}") << true << false;
        QTest::newRow("absent") << QByteArray("{}") << true << false;
        QTest::newRow("number") << QByteArray("{\"result\":1}") << true << false;
        QTest::newRow("text") << QByteArray("{\"result\":\"true\"}") << true << false;
        QTest::newRow("invalid") << QByteArray("{result:true}") << false << false;
    }
    void result()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, valid);
        bool result = true;
        QCOMPARE(Discovery::parseResult(json, result), valid);
        if (valid)
            QTEST(result, "result");
    }

    void setIpRequest()
    {
        // Compact, keys in the JSON writer's order.
        QCOMPARE(Discovery::buildSetIpRequest({"eth0", "10.0.0.9", "", ""}),
                 QByteArray(R"({"gateway":"","interface":"eth0","ip":"10.0.0.9","netmask":""})"));
        Discovery::SetIpRequest r;
        QVERIFY(Discovery::parseSetIpRequest(
            Discovery::buildSetIpRequest({"eth1", "1.2.3.4", "255.0.0.0", "1.0.0.1"}), r));
        QCOMPARE(r.interfaceName, QString("eth1"));
        QCOMPARE(r.ip, QString("1.2.3.4"));
        QCOMPARE(r.netmask, QString("255.0.0.0"));
        QCOMPARE(r.gateway, QString("1.0.0.1"));
    }

    // The duplicate rules, as a sequence of answers: (way, address, MAC,
    // carries MACs) -> listed?
    void duplicates_data()
    {
        QTest::addColumn<QStringList>("steps"); // "u|l address mac macs(0/1) expected(0/1)" or "new"
        QTest::newRow("both ways, same address and MAC: once")
            << QStringList{"u 10.0.0.5 M1 1 1", "l 10.0.0.5 M1 - 0", "u 10.0.0.5 M1 1 0"};
        QTest::newRow("link first, then UDP")
            << QStringList{"l 10.0.0.5 M1 - 1", "u 10.0.0.5 M1 1 0"};
        QTest::newRow("short form UDP repeats are duplicates")
            << QStringList{"u 10.0.0.5 - 0 1", "u 10.0.0.5 - 0 0"};
        QTest::newRow("same address, other MAC: a second device")
            << QStringList{"u 10.0.0.5 M1 1 1", "u 10.0.0.5 M2 1 1", "l 10.0.0.5 M3 - 1"};
        QTest::newRow("same MAC, other address: listed")
            << QStringList{"l 10.0.0.5 M1 - 1", "l 10.0.0.6 M1 - 1"};
        QTest::newRow("new search keeps the MACs")
            << QStringList{"u 10.0.0.5 M1 1 1", "new", "u 10.0.0.5 M1 1 1", "u 10.0.0.5 M1 1 0"};
        QTest::newRow("MAC seen in an earlier search, address listed in this one")
            << QStringList{"l 10.0.0.9 M1 - 1", "new", "u 10.0.0.5 M2 1 1",
                           "l 10.0.0.5 M1 - 0"};
        QTest::newRow("empty MACs count as seen")
            << QStringList{"l 10.0.0.5 - - 1", "l 10.0.0.5 - - 0", "u 10.0.0.5 - 1 0"};
    }
    void duplicates()
    {
        QFETCH(QStringList, steps);
        Discovery::SeenDevices seen;
        for (const QString& step : steps) {
            if (step == "new") {
                seen.newSearch();
                continue;
            }
            const QStringList f = step.split(' ');
            const QString mac = f.at(2) == "-" ? QString() : f.at(2);
            const bool listed = f.at(0) == "u" ? seen.admitUdp(f.at(1), mac, f.at(3) == "1")
                                               : seen.admitLink(f.at(1), mac);
            QVERIFY2(listed == (f.at(4) == "1"), qPrintable(step));
        }
    }
};

QTEST_MAIN(TestDiscoveryProto)
#include "tst_discoveryproto.moc"
