// The command frame as literal bytes, and the TCP link against scripted
// devices, in a worker thread and against devsim's faulty links.
#include "comm/commtcp.h"
#include "testutil.h"

#include <QSignalSpy>

namespace {

// Records what the six response signals deliver as "signal cmd:payload".
void record(CommTcp& link, QStringList& got)
{
    using Signal = void (CommTcp::*)(int, const quint8*, int);
    const QList<QPair<QString, Signal>> signals_ = {
        {"prog", &CommTcp::gotProgRespond}, {"settings", &CommTcp::gotSettingsRespond},
        {"log", &CommTcp::gotLogRespond}, {"sptest", &CommTcp::gotSPTestRespond},
        {"fixed", &CommTcp::gotFixedParamRespond}, {"root", &CommTcp::gotRootRespond}};
    for (const auto& [name, signal] : signals_)
        QObject::connect(&link, signal, [&got, name = name](int cmd, const quint8* data, int size) {
            got << QStringLiteral("%1 %2:%3").arg(name).arg(cmd, 0, 16).arg(QLatin1String(reinterpret_cast<const char*>(data), size));
        });
}

// Feeds `bytes` cut at `cuts`; returns "cmd:payloadhex " per delivered frame.
QByteArray feed(FrameReassembler& r, const QByteArray& bytes, QList<int> cuts = {})
{
    QByteArray got;
    int from = 0;
    for (int cut : cuts << bytes.size()) {
        r.feedWith(bytes.constData() + from, cut - from, [&](int cmd, const quint8* p, int n) {
            got += QByteArray::number(cmd, 16) + ':' + QByteArray(reinterpret_cast<const char*>(p), n).toHex() + ' ';
        });
        from = cut;
    }
    return got;
}

// A reassembly timeout (100 ms in the program) no pause reaches in a test.
constexpr int kNever = 600000;
const QByteArray kOk = QByteArray::fromHex("68000400136f6b59"); // 0x0013 "ok"

} // namespace

class TestCommTcp : public BoxCheckedTest
{
    Q_OBJECT
private Q_SLOTS:
    // Received streams, each fed whole, split at every position and byte by byte.
    void reassembly()
    {
        const struct { const char *stream, *frames; int bad; } table[] = {
            {"68000f001368656c6c6f2c206465766963655a", "13:68656c6c6f2c20646576696365 ", 0},
            {"68000c0006323032342d30332d30336268000400136f6b59", "6:323032342d30332d3033 13:6f6b ", 0},
            {"0001ff7a68000400136f6b59", "13:6f6b ", 0},                            // garbage first
            {"68000400136f6b5a68000400136f6b59", "13:6f6b ", 1},                    // bad checksum
            {"6800060152686800029368000400136f6b59", "152:68680002 13:6f6b ", 0},   // 0x68 in a payload
            {"68000201036e", "103: ", 0},                                           // empty payload
            // LENGTH 0 and 1 leave no room for a command: hunted again after it.
            {"6800000013" "68000400136f6b59", "13:6f6b ", 1},
            {"68000169" "68000400136f6b59", "13:6f6b ", 1},
            {"68000400136f", "", 0}}; // truncated: stays pending
        for (const auto& [hex, frames, bad] : table) {
            const QByteArray stream = QByteArray::fromHex(hex);
            FrameReassembler whole, bytewise;
            QCOMPARE(feed(whole, stream), QByteArray(frames));
            QCOMPARE(whole.badFrames(), quint64(bad));
            QList<int> every;
            for (int cut = 1; cut < stream.size(); every << cut++) {
                FrameReassembler r;
                QCOMPARE(feed(r, stream, {cut}), QByteArray(frames));
            }
            QCOMPARE(feed(bytewise, stream, every), QByteArray(frames));
            QCOMPARE(bytewise.pending(), whole.pending());
        }
    }

    void limits()
    {
        // LENGTH is 16 bits: a payload above 65533 bytes cannot be framed.
        QCOMPARE(CommandFrame::encode(0x0101, QByteArray(65533, 'x')).left(5).toHex(), QByteArray("68ffff0101"));
        QVERIFY(CommandFrame::encode(0x0101, QByteArray(65534, 'x')).isEmpty());
        // 4096 bytes in all (payload 4090) is the largest frame delivered.
        FrameReassembler r;
        QCOMPARE(feed(r, CommandFrame::encode(0x0152, QByteArray(4090, 'h'))).size(), 4 + 8180 + 1);
        // One byte more is never delivered: the buffer restarts when full.
        const QByteArray tooLarge = CommandFrame::encode(0x0152, QByteArray(4091, 'a'));
        QCOMPARE(feed(r, tooLarge + QByteArray::fromHex("68000400136f6b59")), QByteArray());
        QCOMPARE(r.overflows(), quint64(1));
    }

    void routing()
    {
        using R = CommandFrame::Route;
        const QList<QPair<R, QList<int>>> table = {
            {R::Prog, {0x0001, 0x0100, 0x0101, 0x0102, 0x0103, 0x0150, 0x0151, 0x0152}},
            {R::Settings, {0x0003, 0x0006, 0x0010, 0x0011}}, {R::Log, {0x0008, 0x0009, 0x000A}},
            {R::SPTest, {0x000B, 0x000C, 0x000D}}, {R::FixedParam, {0x000E, 0x000F}}, {R::Root, {0x0013}},
            {R::InfoSetIp, {0x0004}}, {R::InfoResetIp, {0x0005}}, {R::InfoDate, {0x0007}},
            {R::Drop, {0x0000, 0x0002, 0x0012, 0x0014, 0x00FF, 0x0104, 0x014F, 0x0153, 0xFFFF}}};
        for (const auto& [route, cmds] : table)
            for (int cmd : cmds)
                QVERIFY2(CommandFrame::routeFor(cmd) == route, qPrintable(QString::number(cmd, 16)));
    }

    // One link through its whole life against scripted devices.
    void linkToScriptedDevices()
    {
        CommTcp link;
        QStringList got;
        record(link, got);
        QSignalSpy connected(&link, &CommTcp::connectedToDevice), error(&link, &CommTcp::connectionError),
            disconnected(&link, &CommTcp::disconnected), notConnected(&link, &CommTcp::notConnected),
            sendError(&link, &CommTcp::sendError);
        const auto pending = [&](int n) { return waitFor([&] { return link.reassembler().pending() == n; }); };
        const auto next = [&] { return waitFor([&] { return !got.isEmpty(); }) ? got.takeFirst() : QString(); };

        link.send(0x0006);
        const BoxRecorder::Box box = boxes->take();
        QCOMPARE(box.summary() + box.buttons.join(','), QStringLiteral("[Warning] Device not connected!Sure"));
        QCOMPARE(box.icon, QMessageBox::Warning);
        // Refused, and not an address at all: both fail before returning.
        link.setPort(closedLocalPort());
        link.connectDevice(QStringLiteral("127.0.0.1"));
        link.connectDevice(QStringLiteral("not-an-address"));
        QCOMPARE(error.count(), 2);
        QVERIFY(!error.at(0).at(0).toString().isEmpty());

        FakeDevice device;
        link.setPort(device.port());
        link.setReassemblyTimeout(kNever);
        link.connectDevice(QStringLiteral("127.0.0.1"));
        QCOMPARE(connected.count(), 1); // reported before connectDevice returns
        QVERIFY(link.isConnected() && device.waitForClient());

        // Exact frames out (low 16 bits of cmd); an unframable payload writes nothing.
        link.send(0x0002);
        link.send(0x0012, "help");
        link.send(0x0101, QByteArray(65534, 'x'));
        QCOMPARE(sendError.count(), 1);
        QCOMPARE(boxes->takeText(), QStringLiteral("Send command failed!"));
        link.send(0x10002);
        QVERIFY(device.waitForReceived(22));
        QCOMPARE(device.received().toHex(), QByteArray("68000200026c" "680006001268656c7029" "68000200026c"));

        // Frames in: every route, the information boxes, dropped codes.
        device.write(QByteArray::fromHex(
            "680006000176312e3377" "68000c0006323032342d30332d303362" "680005000a6c6f67b9"
            "680004000d01027c" "680004000e7b7d72" "68000400136f6b59" "68000200026c" "680003001278f5"
            "68000402006e6f4b" "68000200046e" "68000200056f" "680002000771" "68000201036e"));
        QVERIFY(waitFor([&] { return got.size() == 7; }));
        QCOMPARE(got, QStringList({"prog 1:v1.3", "settings 6:2024-03-03", "log a:log", "sptest d:\x01\x02",
                                   "fixed e:{}", "root 13:ok", "prog 103:"}));
        got.clear();
        for (const char* text : {"Set device's IP Settings", "Reset device's IP Settings", "Set device's date"}) {
            const BoxRecorder::Box info = boxes->take();
            QCOMPARE(info.summary(), QStringLiteral("[Information] %1 success!").arg(text));
            QCOMPARE(info.icon, QMessageBox::Information);
        }

        // A half frame is dropped after a silence; its rest then is noise.
        device.write(QByteArray::fromHex("68000600136e"));
        QVERIFY(pending(6));
        link.setReassemblyTimeout(30);
        QVERIFY(pending(0));
        device.write(QByteArray::fromHex("65787440") + kOk);
        QCOMPARE(next(), QStringLiteral("root 13:ok"));

        // The device closes mid-frame: reported, and sends are refused.
        link.setReassemblyTimeout(kNever);
        device.write(QByteArray::fromHex("68000600136e"));
        QVERIFY(pending(6));
        device.closeClient();
        QVERIFY(waitFor([&] { return disconnected.count() == 1; }) && !link.isConnected());
        link.send(0x0002);
        QCOMPARE(boxes->takeText(), QStringLiteral("Device not connected!"));
        QCOMPARE(notConnected.count(), 2);

        // The half frame must not glue onto the first frame of a new connection.
        FakeDevice again, third;
        link.setPort(again.port());
        link.connectDevice(QStringLiteral("127.0.0.1"));
        QVERIFY(again.waitForClient());
        again.write(kOk);
        QCOMPARE(next(), QStringLiteral("root 13:ok"));
        // A new attempt abandons the open connection without reporting it.
        link.setPort(third.port());
        link.connectDevice(QStringLiteral("127.0.0.1"));
        QVERIFY(third.waitForClient());
        link.send(0x0002);
        QVERIFY(third.waitForReceived(6));
        QCOMPARE(again.received().size() + disconnected.count() + connected.count(), 0 + 1 + 3);
    }

    // Outside the GUI thread the link reports by signal only, never by box.
    void workerThreadNeverShowsBoxes()
    {
        FakeDevice device;
        QThread thread;
        thread.start();
        auto* link = new CommTcp;
        link->setPort(device.port());
        link->moveToThread(&thread);
        QSignalSpy notConnected(link, &CommTcp::notConnected), sendError(link, &CommTcp::sendError);
        QMetaObject::invokeMethod(link, [&] {
            link->send(0x0002);
            link->connectDevice(QStringLiteral("127.0.0.1"));
            link->send(0x0101, QByteArray(70000, 'x'));
            link->send(0x0002);
            delete link;
        }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
        QCOMPARE(notConnected.count() + sendError.count() + boxes->count(), 1 + 1 + 0);
        QVERIFY(device.waitForReceived(6));
    }

    // devsim adds garbage, writes frames in small pieces with pauses and spoils
    // every 4th checksum: only whole, checked replies come, in order.
    void devsimFaultyLinkStillDelivers()
    {
        DevsimProcess devsim;
        QVERIFY2(devsim.start({"--set", "garbage=1", "--set", "split=3", "--set", "split-pause-ms=5",
                               "--set", "bad-checksum=4"}), "devsim did not start");
        CommTcp link;
        // No stall of a loaded machine times a piece out: framing is checked, not the timer.
        link.setReassemblyTimeout(kNever);
        link.setPort(devsim.port());
        QStringList got;
        record(link, got);
        link.connectDevice(QStringLiteral("127.0.0.1"));
        for (int i = 0; i < 20; ++i)
            link.send(0x0012, QStringLiteral("echo line %1").arg(i).toLatin1());
        // The device numbers its replies: which ones are spoilt does not depend on timing.
        QStringList expected;
        for (int i = 0; i < 20; ++i)
            if ((i + 1) % 4)
                expected << QStringLiteral("root 13:line %1").arg(i);
        QVERIFY(waitFor([&] { return got.size() >= expected.size(); }, 20000));
        QCOMPARE(got, expected);
    }
};

QTEST_MAIN(TestCommTcp)
#include "tst_commtcp.moc"
