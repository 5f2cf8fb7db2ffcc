// The link-layer discovery frame (building, checking, cutting the JSON
// text) and the CommLink channel around it: routing of received frames by
// type, interface selection, and real capture on a private loopback.
#include "comm/commlink.h"
#include "comm/linkframe.h"
#include "common/crc16.h"
#include "testutil.h"

#include <QSignalSpy>
#include <array>
#include <pcap/pcap.h>
#include <sched.h>
#include <unistd.h>

namespace {

const std::uint8_t kSource[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
const std::uint8_t kDevice[6] = {0x02, 0x4D, 0x46, 0x00, 0x00, 0x0A};

quint32 le32(const QByteArray& f, int at)
{
    return static_cast<quint8>(f[at]) | static_cast<quint8>(f[at + 1]) << 8 |
           static_cast<quint8>(f[at + 2]) << 16 | static_cast<quint32>(static_cast<quint8>(f[at + 3])) << 24;
}

QByteArray frame(std::uint32_t type, const QByteArray& payload)
{
    return LinkFrame::build(type, kSource, kDevice, payload);
}

// A payload whose frame's check field holds a '}' (found by varying a
// digit inside the JSON text).
QByteArray payloadWithBraceInCrc(int* whichByte)
{
    for (int n = 0; n < 100000; ++n) {
        const QByteArray json = "{\"result\":true,\"n\":" + QByteArray::number(n) + "}";
        const QByteArray f = frame(LinkFrame::SetIpResult, json);
        for (int b = 0; b < 2; ++b) {
            if (f.at(f.size() - 2 + b) == '}') {
                *whichByte = b;
                return json;
            }
        }
    }
    return QByteArray();
}

} // namespace

class TestLinkFrame : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void buildHeader()
    {
        const QByteArray f = LinkFrame::build(LinkFrame::SetIp, kDevice, kSource, "{}");
        QCOMPARE(f.size(), 30);
        QCOMPARE(f.left(6), QByteArray(reinterpret_cast<const char*>(kDevice), 6));
        QCOMPARE(f.mid(6, 6), QByteArray(reinterpret_cast<const char*>(kSource), 6));
        QCOMPARE(f.mid(12, 2), QByteArray::fromHex("4d46"));
        QCOMPARE(f.mid(14, 4), QByteArray::fromHex("00000001"));
        QCOMPARE(f.mid(18, 4), QByteArray::fromHex("02000000"));
        QCOMPARE(le32(f, 22), 30u);
        QCOMPARE(f.mid(26, 2), QByteArray("{}"));
        const quint16 crc = crc16Modbus(f.constData(), 28);
        QCOMPARE(static_cast<quint8>(f[28]), static_cast<quint8>(crc & 0xFF));
        QCOMPARE(static_cast<quint8>(f[29]), static_cast<quint8>(crc >> 8));
    }

    void buildSizes_data()
    {
        QTest::addColumn<int>("payloadSize");
        QTest::addColumn<int>("frameSize");
        QTest::newRow("empty") << 0 << 28;
        QTest::newRow("one byte") << 1 << 29;
        QTest::newRow("largest") << 2020 << 2048;
        QTest::newRow("one too many") << 2021 << 2048;
        QTest::newRow("far too long") << 5000 << 2048;
    }
    void buildSizes()
    {
        QFETCH(int, payloadSize);
        QFETCH(int, frameSize);
        QByteArray payload(payloadSize, '\0');
        for (int i = 0; i < payloadSize; ++i)
            payload[i] = static_cast<char>('a' + i % 26);
        const QByteArray f = LinkFrame::build(LinkFrame::Discover, nullptr, kSource, payload);
        QCOMPARE(f.size(), frameSize);
        // Length tells what is actually sent, also when the payload was cut.
        QCOMPARE(le32(f, 22), static_cast<quint32>(frameSize));
        QCOMPARE(f.mid(26, frameSize - 28), payload.left(2020));
        QCOMPARE(f.left(6), QByteArray(6, '\xff'));
        QVERIFY(LinkFrame::checkCrc(reinterpret_cast<const std::uint8_t*>(f.constData()),
                                    static_cast<std::size_t>(f.size())));
    }

    void parseMac_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("upper") << "02:4D:46:00:00:0A" << true << QByteArray::fromHex("024d4600000a");
        QTest::newRow("lower") << "ff:ee:dd:cc:bb:aa" << true << QByteArray::fromHex("ffeeddccbbaa");
        QTest::newRow("single digits") << "1:2:3:4:5:6" << true << QByteArray::fromHex("010203040506");
        QTest::newRow("five groups") << "01:02:03:04:05" << false << QByteArray();
        QTest::newRow("seven groups") << "01:02:03:04:05:06:07" << false << QByteArray();
        QTest::newRow("not hex") << "01:02:03:04:05:GG" << false << QByteArray();
        QTest::newRow("too wide") << "01:02:03:04:05:100" << false << QByteArray();
        QTest::newRow("empty group") << "01::03:04:05:06" << false << QByteArray();
        QTest::newRow("dashes") << "01-02-03-04-05-06" << false << QByteArray();
    }
    void parseMac()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QByteArray, bytes);
        std::uint8_t mac[6] = {9, 9, 9, 9, 9, 9};
        QCOMPARE(LinkFrame::parseMac(text, mac), ok);
        if (ok)
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(mac), 6), bytes);
        else
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(mac), 6), QByteArray(6, '\x09'));
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("json");

        const QByteArray info = "{\"host\":\"10.0.0.5\",\"product\":\"P\",\"intfInfo\":[]}";
        QTest::newRow("device info") << frame(1, info) << true << 1 << info;
        QTest::newRow("text after the last brace")
            << frame(3, "{\"result\":true} trailing") << true << 3 << QByteArray("{\"result\":true}");
        QTest::newRow("inner braces") << frame(5, "{\"a\":{}} x") << true << 5 << QByteArray("{\"a\":{}}");
        QTest::newRow("28 bytes: right CRC, no brace") << frame(1, QByteArray()) << false << 0 << QByteArray();
        QTest::newRow("no brace") << frame(1, "no json here") << false << 0 << QByteArray();
        QTest::newRow("27 bytes") << frame(1, QByteArray()).left(27) << false << 0 << QByteArray();
        QTest::newRow("empty") << QByteArray() << false << 0 << QByteArray();
        QByteArray flipped = frame(1, info);
        flipped[30] = static_cast<char>(flipped[30] ^ 0x01);
        QTest::newRow("changed byte") << flipped << false << 0 << QByteArray();
        QByteArray badCrc = frame(1, info);
        badCrc[badCrc.size() - 1] = static_cast<char>(badCrc[badCrc.size() - 1] ^ 0x80);
        QTest::newRow("changed check") << badCrc << false << 0 << QByteArray();
        // Padding after the check field: the check is read from the last two
        // bytes, so filler other than zeros fails.
        QTest::newRow("padded with filler") << frame(1, "{}") + QByteArray(30, '\x55') << false << 0
                                            << QByteArray();
        // Zero padding leaves the CRC register at zero, which equals the two
        // last (zero) bytes: such a frame passes and its JSON is intact.
        QTest::newRow("zero padding") << frame(1, info) + QByteArray(8, '\0') << true << 1 << info;
        int which = -1;
        const QByteArray braced = payloadWithBraceInCrc(&which);
        QTest::newRow("check byte is a brace")
            << frame(3, braced) << true << 3 << braced;
        QTest::newRow("type read little-endian") << frame(0x01000003, "{}") << true << 0x01000003
                                                 << QByteArray("{}");
    }
    void parse()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, ok);
        QFETCH(int, type);
        QFETCH(QByteArray, json);
        LinkFrame::Received received;
        QCOMPARE(LinkFrame::parse(bytes, received), ok);
        if (ok) {
            QCOMPARE(received.type, static_cast<std::uint32_t>(type));
            QCOMPARE(received.json, json);
        }
    }

    // CommLink hands on types 1, 3 and 5 and drops the rest, including its
    // own requests (0, 2, 4) should they come back.
    void routing_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("infos");
        QTest::addColumn<int>("results");
        QTest::newRow("0 discover") << 0 << 0 << 0;
        QTest::newRow("1 device info") << 1 << 1 << 0;
        QTest::newRow("2 set IP") << 2 << 0 << 0;
        QTest::newRow("3 set IP result") << 3 << 0 << 1;
        QTest::newRow("4 reboot") << 4 << 0 << 0;
        QTest::newRow("5 reboot result") << 5 << 0 << 1;
        QTest::newRow("6 unknown") << 6 << 0 << 0;
        QTest::newRow("huge") << 0x7FFFFFFF << 0 << 0;
    }
    void routing()
    {
        QFETCH(int, type);
        QFETCH(int, infos);
        QFETCH(int, results);
        CommLink link;
        QSignalSpy info(&link, &CommLink::gotNetworkInfo);
        QSignalSpy result(&link, &CommLink::gotResult);
        link.onDataRecv(frame(static_cast<std::uint32_t>(type), "{\"result\":true}"));
        link.onDataRecv(frame(static_cast<std::uint32_t>(type), "broken"));
        QCOMPARE(info.count(), infos);
        QCOMPARE(result.count(), results);
        for (const auto& args : info + result)
            QCOMPARE(args.at(0).toByteArray(), QByteArray("{\"result\":true}"));
    }

    // No such interface: the capture thread ends, sends are dropped, and
    // choosing the same interface again does not restart it.
    void unknownAdapter()
    {
        CommLink link;
        QSignalSpy started(link.captureThread(), &QThread::started);
        QVERIFY(!link.isCapturing());
        link.captureThread()->stopCapture(); // nothing open: returns at once
        link.setNetworkInterface("nowhere0", "02:00:5E:FF:FF:FE");
        QCOMPARE(link.networkInterface(), QString("nowhere0"));
        QVERIFY(link.captureThread()->wait(5000));
        QCOMPARE(started.count(), 1);
        QVERIFY(!link.isCapturing());
        link.sendFrame(LinkFrame::Discover, QString(), QByteArray());
        link.setNetworkInterface("nowhere0", "02:00:5E:FF:FF:FE");
        QVERIFY(link.captureThread()->wait(5000));
        QCOMPARE(started.count(), 1);
        link.setNetworkInterface("nowhere1", "02:00:5E:FF:FF:FD");
        QVERIFY(link.captureThread()->wait(5000));
        QCOMPARE(started.count(), 2);
    }

    // Destroying the link right after choosing an interface (the capture
    // may be opening just then) must not leave a running thread behind.
    void destroyWhileStarting()
    {
        for (int i = 0; i < 20; ++i) {
            CommLink link;
            link.setNetworkInterface("lo", "00:00:00:00:00:00");
        }
    }

    // Real capture on the loopback of a private network namespace: the
    // frame sent is byte-exact, and a frame injected by another capture
    // handle arrives as gotNetworkInfo.
    void captureOnPrivateLoopback()
    {
        if (geteuid() != 0)
            QSKIP("needs root for a private network namespace and packet capture");
        if (unshare(CLONE_NEWNET) != 0)
            QSKIP("cannot create a private network namespace");
        QVERIFY(QProcess::execute("ip", {"link", "set", "lo", "up"}) == 0);

        char error[PCAP_ERRBUF_SIZE];
        pcap_t* peer = pcap_create("lo", error);
        QVERIFY2(peer, error);
        pcap_set_immediate_mode(peer, 1);
        pcap_set_timeout(peer, 100);
        QCOMPARE(pcap_activate(peer), 0);
        pcap_setdirection(peer, PCAP_D_IN);
        pcap_setnonblock(peer, 1, error);

        CommLink link;
        QSignalSpy info(&link, &CommLink::gotNetworkInfo);
        link.setNetworkInterface("lo", "00:00:00:00:00:00");
        QTRY_VERIFY_WITH_TIMEOUT(link.isCapturing(), 5000);

        link.sendFrame(LinkFrame::Reboot, "02:4d:46:00:00:0a", QByteArray());
        QByteArray seen;
        QVERIFY(waitFor([&] {
            struct pcap_pkthdr* header;
            const u_char* data;
            while (pcap_next_ex(peer, &header, &data) == 1) {
                const QByteArray f(reinterpret_cast<const char*>(data), static_cast<int>(header->caplen));
                if (f.size() >= 14 && f.mid(12, 2) == QByteArray::fromHex("4d46"))
                    seen = f;
            }
            return !seen.isEmpty();
        }));
        QCOMPARE(seen, LinkFrame::build(LinkFrame::Reboot, kDevice,
                                        std::array<std::uint8_t, 6>{}.data(), QByteArray()));
        // Our own reboot request came back through the capture and was
        // dropped by type.
        QCOMPARE(info.count(), 0);

        const QByteArray doc = "{\"host\":\"10.0.0.5\"}";
        const QByteArray answer = LinkFrame::build(LinkFrame::DeviceInfo, nullptr, kDevice, doc);
        QCOMPARE(pcap_sendpacket(peer, reinterpret_cast<const u_char*>(answer.constData()), answer.size()), 0);
        // Other traffic is filtered out in the capture library.
        QByteArray other = answer;
        other[12] = 0x08;
        other[13] = 0x00;
        pcap_sendpacket(peer, reinterpret_cast<const u_char*>(other.constData()), other.size());
        QTRY_COMPARE_WITH_TIMEOUT(info.count(), 1, 5000);
        QCOMPARE(info.at(0).at(0).toByteArray(), doc);
        pcap_close(peer);
    }
};

QTEST_MAIN(TestLinkFrame)
#include "tst_linkframe.moc"
