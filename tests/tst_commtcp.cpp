// The TCP command link against a scripted peer and against devsim.
#include "comm/commtcp.h"
#include "testutil.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

namespace {

// Records what the six response signals deliver.
struct Responses
{
    QList<QPair<QString, QByteArray>> got; // signal name, cmd + payload

    void attach(CommTcp& link)
    {
        auto rec = [this](const char* name) {
            return [this, name](int cmd, const quint8* data, int size) {
                got.append({QString::fromLatin1(name),
                            QByteArray::number(cmd, 16) + ':' +
                                QByteArray(reinterpret_cast<const char*>(data), size)});
            };
        };
        QObject::connect(&link, &CommTcp::gotProgRespond, rec("prog"));
        QObject::connect(&link, &CommTcp::gotSettingsRespond, rec("settings"));
        QObject::connect(&link, &CommTcp::gotLogRespond, rec("log"));
        QObject::connect(&link, &CommTcp::gotSPTestRespond, rec("sptest"));
        QObject::connect(&link, &CommTcp::gotFixedParamRespond, rec("fixed"));
        QObject::connect(&link, &CommTcp::gotRootRespond, rec("root"));
    }
};

// A link connected to a scripted device, with its responses recorded.
struct LinkedDevice
{
    FakeDevice device;
    CommTcp link;
    Responses responses;

    bool open()
    {
        link.setPort(device.port());
        responses.attach(link);
        link.connectDevice(QStringLiteral("127.0.0.1"));
        return device.waitForClient();
    }
};

} // namespace

class TestCommTcp : public BoxCheckedTest
{
    Q_OBJECT
private Q_SLOTS:
    void sendWhileUnconnected();
    void sendWritesExactFrame();
    void oversizePayloadRefused();
    void routesFramesBySignal();
    void informationBoxesForLinkCodes();
    void partialFrameDroppedAfterSilence();
    void frameSpreadOverReadsDelivered();
    void oversizeFrameNeverDelivered();
    void connectFailureAndRetry();
    void newAttemptAbandonsPending();
    void disconnectionByDevice();
    void closedMidFrameThenReconnect();
    void workerThreadNeverShowsBoxes();
    void devsimFaultyLinkStillDelivers_data();
    void devsimFaultyLinkStillDelivers();
};

void TestCommTcp::sendWhileUnconnected()
{
    CommTcp link;
    QSignalSpy notConnected(&link, &CommTcp::notConnected);
    QSignalSpy sendError(&link, &CommTcp::sendError);
    link.send(0x0006);
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("Device not connected!"));
    QCOMPARE(box.buttons, QStringList{QStringLiteral("Sure")});
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(notConnected.count(), 1);
    QCOMPARE(sendError.count(), 0);
}

void TestCommTcp::sendWritesExactFrame()
{
    FakeDevice device;
    CommTcp link;
    link.setPort(device.port());
    QSignalSpy connected(&link, &CommTcp::connectedToDevice);
    link.connectDevice(QStringLiteral("127.0.0.1"));
    QCOMPARE(connected.count(), 1); // reported before connectDevice returns
    QVERIFY(link.isConnected());
    QVERIFY(device.waitForClient());

    link.send(0x0002);
    QVERIFY(device.waitForReceived(6));
    QCOMPARE(device.received().toHex(), QByteArray("68000200026c"));
    device.clearReceived();
    link.send(0x0012, QByteArray("help"));
    QVERIFY(device.waitForReceived(10));
    QCOMPARE(device.received(), CommandFrame::encode(0x0012, "help"));
}

void TestCommTcp::oversizePayloadRefused()
{
    FakeDevice device;
    CommTcp link;
    link.setPort(device.port());
    link.connectDevice(QStringLiteral("127.0.0.1"));
    QVERIFY(device.waitForClient());
    QSignalSpy sendError(&link, &CommTcp::sendError);
    link.send(0x0101, QByteArray(65534, 'x'));
    QCOMPARE(sendError.count(), 1);
    QCOMPARE(boxes->takeText(), QStringLiteral("Send command failed!"));
    // Nothing was written: the next frame is the first thing the peer sees.
    link.send(0x0002);
    QVERIFY(device.waitForReceived(6));
    QCOMPARE(device.received().toHex(), QByteArray("68000200026c"));
    QVERIFY(link.isConnected());
}

void TestCommTcp::routesFramesBySignal()
{
    LinkedDevice linked;
    QVERIFY(linked.open());
    auto& [device, link, responses] = linked;

    QByteArray stream;
    const QList<QPair<int, QByteArray>> frames = {
        {0x0001, "v1.3.0 x"}, {0x0006, "2024-03-03 14:05:09"}, {0x000A, "log"},
        {0x000D, "\x01\x02"}, {0x000E, "{}"},  {0x0013, "ok"},
        {0x0002, "ignored"},  {0x0012, "ignored"}, {0x0200, "ignored"},
        {0x0103, ""}};
    for (const auto& f : frames)
        stream += CommandFrame::encode(f.first, f.second);
    device.write(stream);
    QVERIFY(waitFor([&] { return responses.got.size() >= 7; }));
    QTest::qWait(0);
    const QStringList expected = {"prog", "settings", "log", "sptest", "fixed", "root", "prog"};
    QStringList names;
    for (const auto& g : responses.got)
        names << g.first;
    QCOMPARE(names, expected);
    QCOMPARE(responses.got[0].second, QByteArray("1:v1.3.0 x"));
    QCOMPARE(responses.got[6].second, QByteArray("103:"));
}

void TestCommTcp::informationBoxesForLinkCodes()
{
    LinkedDevice linked;
    QVERIFY(linked.open());
    auto& [device, link, responses] = linked;
    device.write(CommandFrame::encode(0x0004) + CommandFrame::encode(0x0005, "x") +
                 CommandFrame::encode(0x0007, QByteArray(1, 1)));
    QVERIFY(waitFor([&] { return boxes->count() == 3; }));
    for (const char* text : {"Set device's IP Settings success!",
                             "Reset device's IP Settings success!", "Set device's date success!"}) {
        const BoxRecorder::Box box = boxes->take();
        QCOMPARE(box.title, QStringLiteral("Information"));
        QCOMPARE(box.text, QString::fromLatin1(text));
        QCOMPARE(box.icon, QMessageBox::Information);
    }
    QVERIFY(responses.got.isEmpty());
}

void TestCommTcp::partialFrameDroppedAfterSilence()
{
    LinkedDevice linked;
    QVERIFY(linked.open());
    auto& [device, link, responses] = linked;
    link.setReassemblyTimeout(30); // 100 ms in the program

    const QByteArray lost = CommandFrame::encode(0x0013, "lost");
    device.write(lost.left(6));
    QVERIFY(waitFor([&] { return link.reassembler().pending() == 6; }));
    // The timer drops the half frame; the rest then arrives as noise.
    QVERIFY(waitFor([&] { return link.reassembler().pending() == 0; }));
    device.write(lost.mid(6) + CommandFrame::encode(0x0013, "next"));
    QVERIFY(waitFor([&] { return responses.got.size() == 1; }));
    QCOMPARE(responses.got[0].second, QByteArray("13:next"));
}

void TestCommTcp::frameSpreadOverReadsDelivered()
{
    LinkedDevice linked;
    QVERIFY(linked.open());
    auto& [device, link, responses] = linked;
    const QByteArray frame = CommandFrame::encode(0x0013, "split after third and tenth byte");
    device.write(frame.left(3));
    QVERIFY(waitFor([&] { return link.reassembler().pending() == 3; }));
    device.write(frame.mid(3, 7));
    QVERIFY(waitFor([&] { return link.reassembler().pending() == 10; }));
    QVERIFY(responses.got.isEmpty());
    device.write(frame.mid(10));
    QVERIFY(waitFor([&] { return responses.got.size() == 1; }));
    QCOMPARE(responses.got[0].second, QByteArray("13:split after third and tenth byte"));
}

void TestCommTcp::oversizeFrameNeverDelivered()
{
    LinkedDevice linked;
    QVERIFY(linked.open());
    auto& [device, link, responses] = linked;
    link.setReassemblyTimeout(30);
    // A well-formed frame that is larger than the receive buffer.
    device.write(CommandFrame::encode(0x0013, QByteArray(5000, 'z')));
    QVERIFY(waitFor([&] { return link.reassembler().overflows() == 1; }));
    // After a pause the link hunts afresh and receives normally again.
    QVERIFY(waitFor([&] { return link.reassembler().pending() == 0; }));
    device.write(CommandFrame::encode(0x0013, "small"));
    QVERIFY(waitFor([&] { return !responses.got.isEmpty(); }));
    QCOMPARE(responses.got.size(), 1);
    QCOMPARE(responses.got[0].second, QByteArray("13:small"));
}

void TestCommTcp::connectFailureAndRetry()
{
    const quint16 deadPort = closedLocalPort();
    QVERIFY(deadPort != 0);
    CommTcp link;
    link.setPort(deadPort);
    QSignalSpy error(&link, &CommTcp::connectionError);
    QSignalSpy connected(&link, &CommTcp::connectedToDevice);
    link.connectDevice(QStringLiteral("127.0.0.1"));
    QCOMPARE(error.count(), 1);
    QVERIFY(!error.at(0).at(0).toString().isEmpty());
    QCOMPARE(connected.count(), 0);

    // Not an address at all: fails the same way, without blocking long.
    link.connectDevice(QStringLiteral("not-an-address"));
    QCOMPARE(error.count(), 2);

    FakeDevice device;
    link.setPort(device.port());
    link.connectDevice(QStringLiteral("127.0.0.1"));
    QCOMPARE(connected.count(), 1);
}

void TestCommTcp::newAttemptAbandonsPending()
{
    FakeDevice first;
    FakeDevice second;
    CommTcp link;
    link.setPort(first.port());
    link.connectDevice(QStringLiteral("127.0.0.1"));
    QVERIFY(link.isConnected());
    QSignalSpy disconnected(&link, &CommTcp::disconnected);
    QSignalSpy connected(&link, &CommTcp::connectedToDevice);
    link.setPort(second.port());
    link.connectDevice(QStringLiteral("127.0.0.1"));
    QCOMPARE(connected.count(), 1);
    QVERIFY(second.waitForClient());
    link.send(0x0002);
    QVERIFY(second.waitForReceived(6));
    QCOMPARE(first.received().size(), 0);
    // Abandoning the old connection is not reported as a disconnection.
    QCOMPARE(disconnected.count(), 0);
}

void TestCommTcp::disconnectionByDevice()
{
    FakeDevice device;
    CommTcp link;
    link.setPort(device.port());
    link.connectDevice(QStringLiteral("127.0.0.1"));
    QVERIFY(device.waitForClient());
    QSignalSpy disconnected(&link, &CommTcp::disconnected);
    device.closeClient();
    QVERIFY(disconnected.wait(5000));
    QVERIFY(!link.isConnected());
    link.send(0x0002);
    QCOMPARE(boxes->takeText(), QStringLiteral("Device not connected!"));
}

void TestCommTcp::closedMidFrameThenReconnect()
{
    LinkedDevice linked;
    QVERIFY(linked.open());
    auto& [device, link, responses] = linked;
    QSignalSpy disconnected(&link, &CommTcp::disconnected);
    device.write(CommandFrame::encode(0x0013, "half").left(7));
    QVERIFY(waitFor([&] { return link.reassembler().pending() == 7; }));
    device.closeClient();
    QVERIFY(disconnected.wait(5000));

    // The half frame must not glue onto the first frame of a new connection.
    FakeDevice again;
    link.setPort(again.port());
    link.connectDevice(QStringLiteral("127.0.0.1"));
    QVERIFY(again.waitForClient());
    again.write(CommandFrame::encode(0x0013, "fresh"));
    QVERIFY(waitFor([&] { return responses.got.size() == 1; }));
    QCOMPARE(responses.got[0].second, QByteArray("13:fresh"));
}

void TestCommTcp::workerThreadNeverShowsBoxes()
{
    FakeDevice device;
    const quint16 port = device.port();
    QThread thread;
    QObject context; // something living in the worker thread to run code on
    context.moveToThread(&thread);
    thread.start();
    CommTcp* link = nullptr;
    QMetaObject::invokeMethod(
        &context, [&] { link = new CommTcp; }, Qt::BlockingQueuedConnection);
    QVERIFY(link);
    QSignalSpy notConnected(link, &CommTcp::notConnected);
    QSignalSpy sendError(link, &CommTcp::sendError);
    QSignalSpy connected(link, &CommTcp::connectedToDevice);
    QMetaObject::invokeMethod(
        link, [&] { link->send(0x0002); }, Qt::BlockingQueuedConnection);
    QCOMPARE(notConnected.count(), 1);
    QMetaObject::invokeMethod(
        link,
        [&] {
            link->setPort(port);
            link->connectDevice(QStringLiteral("127.0.0.1"));
            link->send(0x0101, QByteArray(70000, 'x'));
            link->send(0x0002);
        },
        Qt::BlockingQueuedConnection);
    QCOMPARE(connected.count(), 1);
    QCOMPARE(sendError.count(), 1);
    QVERIFY(device.waitForReceived(6));
    QCOMPARE(device.received().toHex(), QByteArray("68000200026c"));
    QMetaObject::invokeMethod(
        link, [&] { delete link; }, Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(
        &context, [&] { context.moveToThread(QCoreApplication::instance()->thread()); },
        Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    QCOMPARE(boxes->count(), 0);
}

void TestCommTcp::devsimFaultyLinkStillDelivers_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("goodReplies"); // of 20 console lines
    QTest::newRow("clean") << QStringList{} << 20;
    QTest::newRow("garbage between frames") << QStringList{"garbage=1"} << 20;
    QTest::newRow("small pieces with pauses") << QStringList{"split=3", "split-pause-ms=5"} << 20;
    QTest::newRow("every 4th checksum wrong") << QStringList{"bad-checksum=4"} << 15;
    QTest::newRow("all at once: garbage, pieces, bad checksums")
        << QStringList{"garbage=1", "split=5", "split-pause-ms=2", "bad-checksum=5"} << 16;
}

void TestCommTcp::devsimFaultyLinkStillDelivers()
{
    QFETCH(QStringList, options);
    QFETCH(int, goodReplies);
    QStringList args;
    for (const QString& o : options)
        args << QStringLiteral("--set") << o;
    DevsimProcess devsim;
    QVERIFY2(devsim.start(args), "devsim did not start");
    CommTcp link;
    link.setPort(devsim.port());
    Responses responses;
    responses.attach(link);
    link.connectDevice(QStringLiteral("127.0.0.1"));
    QVERIFY(link.isConnected());
    // The device numbers its replies, so which ones carry a bad checksum does
    // not depend on how the bytes travel.
    for (int i = 0; i < 20; ++i)
        link.send(0x0012, QStringLiteral("echo line %1").arg(i).toLatin1());
    QVERIFY(waitFor([&] { return responses.got.size() >= goodReplies; }, 10000));
    // Only whole, checked replies, in order.
    int last = -1;
    for (const auto& g : responses.got) {
        QCOMPARE(g.first, QStringLiteral("root"));
        QVERIFY2(g.second.startsWith("13:line "), g.second.constData());
        const int n = g.second.mid(8).toInt();
        QVERIFY(n > last);
        last = n;
    }
    QCOMPARE(responses.got.size(), goodReplies);
}

QTEST_MAIN(TestCommTcp)
#include "tst_commtcp.moc"
