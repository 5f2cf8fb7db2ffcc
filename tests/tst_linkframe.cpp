// The link-layer discovery frame as literal bytes (building, checking,
// cutting the JSON text) and the CommLink channel around it: routing by
// type, interface selection, and real capture on a private loopback.
#include "comm/commlink.h"
#include "testutil.h"

#include <QSignalSpy>
#include <pcap/pcap.h>
#include <sched.h>
#include <unistd.h>

namespace {

const std::uint8_t kSource[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55}, kDevice[6] = {0x02, 0x4D, 0x46, 0x00, 0x00, 0x0A};
const QByteArray kBroadcastDiscover = QByteArray::fromHex("ffffffffffff0211223344554d4600000001000000001c000000f9eb");
// Its check field is 03 7D: the second check byte is a '}'.
const QByteArray kSetIp = QByteArray::fromHex(
    "024d4600000a0211223344554d4600000001020000002d0000007b226970223a2231302e302e302e39227d037d");
const QByteArray kReboot = QByteArray::fromHex("024d4600000a0211223344554d4600000001040000001c000000e63c");
const QByteArray kDeviceInfo = QByteArray::fromHex(
    "ffffffffffff024d4600000a4d4600000001010000002f0000007b22686f7374223a2231302e302e302e35227da205");
const QByteArray kSetIpResult = QByteArray::fromHex(
    "021122334455024d4600000a4d4600000001030000002d0000007b22726573756c74223a747275657d20789e87");
const QByteArray kRebootResult = QByteArray::fromHex(
    "021122334455024d4600000a4d4600000001050000002c0000007b22726573756c74223a66616c73657dd121");

QByteArray frame(std::uint32_t type, const QByteArray& payload)
{
    return LinkFrame::build(type, kSource, kDevice, payload);
}

QByteArray flipped(QByteArray f, int at)
{
    at = (at + f.size()) % f.size();
    f[at] = static_cast<char>(f[at] ^ 0x01);
    return f;
}

} // namespace

class TestLinkFrame : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void build()
    {
        QCOMPARE(LinkFrame::build(LinkFrame::Discover, nullptr, kSource, {}), kBroadcastDiscover);
        QCOMPARE(LinkFrame::build(LinkFrame::SetIp, kDevice, kSource, "{\"ip\":\"10.0.0.9\"}"), kSetIp);
        QCOMPARE(LinkFrame::build(LinkFrame::Reboot, kDevice, kSource, {}), kReboot);
        // A payload is cut to 2020 bytes; Length (bytes 22..25) tells the size built.
        const QByteArray payload = QByteArray("abcdefghijklmnopqrstuvwxyz").repeated(81);
        for (int size : {2020, 2021, 2100}) {
            const QByteArray f = LinkFrame::build(LinkFrame::Discover, nullptr, kSource, payload.left(size));
            QCOMPARE(f.mid(22, 4).toHex() + f.mid(26, 2020), "00080000" + payload.left(2020));
            QVERIFY(f.size() == 2048 && LinkFrame::checkCrc(reinterpret_cast<const std::uint8_t*>(f.constData()), 2048));
        }
    }

    void parseMac()
    {
        for (const auto& [text, hex] : QList<QPair<QString, QByteArray>>{
                 {"02:4D:46:00:00:0A", "024d4600000a"}, {"ff:ee:dd:cc:bb:aa", "ffeeddccbbaa"},
                 {"1:2:3:4:5:6", "010203040506"}, {"01:02:03:04:05", {}}, {"01:02:03:04:05:06:07", {}},
                 {"01:02:03:04:05:GG", {}}, {"01:02:03:04:05:100", {}}, {"01::03:04:05:06", {}},
                 {"01-02-03-04-05-06", {}}}) { // refused ones leave the bytes untouched
            std::uint8_t mac[6] = {9, 9, 9, 9, 9, 9};
            QCOMPARE(LinkFrame::parseMac(text, mac), !hex.isEmpty());
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(mac), 6).toHex(), hex.isEmpty() ? "090909090909" : hex);
        }
    }

    // Checking a frame and cutting its JSON text; CommLink hands the text on for
    // types 1 (gotNetworkInfo), 3 and 5 (gotResult) only, not its own requests.
    void receive()
    {
        const QByteArray host = "{\"host\":\"10.0.0.5\"}";
        const QList<std::tuple<const char*, QByteArray, int, QByteArray>> table = { // type -1: refused
            {"device info", kDeviceInfo, 1, host},
            {"text after the last brace", kSetIpResult, 3, "{\"result\":true}"},
            {"reboot result", kRebootResult, 5, "{\"result\":false}"},
            {"check byte is a brace", kSetIp, 2, "{\"ip\":\"10.0.0.9\"}"},
            {"inner braces", frame(5, "{\"a\":{}} x"), 5, "{\"a\":{}}"},
            {"type 0", frame(0, "{}"), 0, "{}"}, {"type 4", frame(4, "{}"), 4, "{}"},
            {"type 6", frame(6, "{}"), 6, "{}"}, {"huge type", frame(0x7FFFFFFF, "{}"), 0x7FFFFFFF, "{}"},
            {"type read little-endian", frame(0x01000003, "{}"), 0x01000003, "{}"},
            {"28 bytes: right CRC, no brace", kReboot, -1, {}},
            {"no brace", frame(1, "no json here"), -1, {}},
            {"27 bytes", kReboot.left(27), -1, {}},
            {"changed payload byte", flipped(kDeviceInfo, 30), -1, {}},
            {"changed check byte", flipped(kDeviceInfo, -1), -1, {}},
            // The check is the last two bytes: filler after it fails; zero padding
            // leaves the CRC register at zero, equal to them, and passes intact.
            {"padded with filler", kDeviceInfo + QByteArray(30, '\x55'), -1, {}},
            {"zero padding", kDeviceInfo + QByteArray(8, '\0'), 1, host}};
        CommLink link;
        QByteArrayList got;
        connect(&link, &CommLink::gotNetworkInfo, [&](const QByteArray& j) { got << "info " + j; });
        connect(&link, &CommLink::gotResult, [&](const QByteArray& j) { got << "result " + j; });
        connect(&link, &CommLink::burstStarted, [&] { got << "("; });
        connect(&link, &CommLink::burstFinished, [&] { got << ")"; });
        for (const auto& [name, bytes, type, json] : table) {
            LinkFrame::Received received;
            QVERIFY2(LinkFrame::parse(bytes, received) == (type >= 0), name);
            QVERIFY2(type < 0 || (received.type == std::uint32_t(type) && received.json == json), name);
            got.clear();
            link.onFramesRecv({bytes});
            const QByteArray kind = type == 1 ? "info " : type == 3 || type == 5 ? "result " : "";
            QVERIFY2(got == (kind.isEmpty() ? QByteArrayList{"(", ")"} : QByteArrayList{"(", kind + json, ")"}), name);
        }
    }

    // No such interface: the capture thread ends, sends are dropped, and
    // choosing the same interface again does not restart it.
    void unknownAdapter()
    {
        CommLink link;
        QSignalSpy started(link.captureThread(), &QThread::started);
        QVERIFY(!link.isCapturing());
        link.captureThread()->stopCapture(); // nothing open: returns at once
        for (const char* name : {"nowhere0", "nowhere0", "nowhere1"}) {
            link.setNetworkInterface(name, "02:00:5E:FF:FF:FE");
            QCOMPARE(link.networkInterface(), QString(name));
            QVERIFY(link.captureThread()->wait(5000));
            QVERIFY(!link.isCapturing());
            link.sendFrame(LinkFrame::Discover, QString(), QByteArray());
        }
        QCOMPARE(started.count(), 2);
        // Destroyed while its capture may be opening: no thread is left running.
        for (int i = 0; i < 20; ++i)
            CommLink().setNetworkInterface("lo", "00:00:00:00:00:00");
    }

    // Real capture on a private loopback: a frame sent while the capture opens is
    // held and sent once it is open, frames go out byte-exact, a destination that
    // is no address sends nothing, an injected answer arrives as gotNetworkInfo.
    void captureOnPrivateLoopback()
    {
        if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0)
            QSKIP("needs root for a private network namespace and packet capture");
        QVERIFY(QProcess::execute("ip", {"link", "set", "lo", "up"}) == 0);

        char error[PCAP_ERRBUF_SIZE];
        pcap_t* peer = pcap_create("lo", error);
        QVERIFY2(peer && pcap_set_immediate_mode(peer, 1) == 0 && pcap_activate(peer) == 0, error);
        pcap_setdirection(peer, PCAP_D_IN);
        pcap_setnonblock(peer, 1, error);
        CommLink link;
        QSignalSpy info(&link, &CommLink::gotNetworkInfo);
        link.setNetworkInterface("lo", "02:11:22:33:44:55");
        link.sendFrame(LinkFrame::Reboot, "02:4d:46:00:00:0A", QByteArray());
        link.sendFrame(LinkFrame::Reboot, "02:4d:46:00:00", QByteArray());
        QTRY_VERIFY_WITH_TIMEOUT(link.isCapturing(), 5000);
        link.sendFrame(LinkFrame::Discover, QString(), QByteArray());
        QByteArrayList seen;
        QVERIFY(waitFor([&] {
            struct pcap_pkthdr* header;
            const u_char* data;
            while (pcap_next_ex(peer, &header, &data) == 1) {
                const QByteArray f(reinterpret_cast<const char*>(data), static_cast<int>(header->caplen));
                if (f.mid(12, 2) == QByteArray::fromHex("4d46"))
                    seen << f;
            }
            return seen.size() >= 2;
        }));
        QCOMPARE(seen, QByteArrayList({kReboot, kBroadcastDiscover}));
        QCOMPARE(info.count(), 0); // our own requests, captured, are dropped by type
        QCOMPARE(pcap_sendpacket(peer, reinterpret_cast<const u_char*>(kDeviceInfo.constData()), kDeviceInfo.size()), 0);
        QTRY_COMPARE_WITH_TIMEOUT(info.count(), 1, 5000);
        QCOMPARE(info.at(0).at(0).toByteArray(), QByteArray("{\"host\":\"10.0.0.5\"}"));
        pcap_close(peer);
    }
};

QTEST_MAIN(TestLinkFrame)
#include "tst_linkframe.moc"
