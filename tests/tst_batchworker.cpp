// The batch worker in a thread of its own against a scripted device: the
// exchange byte for byte, version tokens, legacy and current transfers,
// resends, the bounded waits, link loss, ignored starts and the task
// handover while a task runs.
#include "comm/commandframe.h"
#include "comm/commtcp.h"
#include "programming/batchprogrammingthread.h"
#include "progtestutil.h"
#include "testutil.h"

#include <QThread>
#include <future>
#include <QtTest>

using namespace ProgTest;

namespace {

struct Frame
{
    int cmd;
    QByteArray payload;
};

QList<Frame> parseFrames(const QByteArray& bytes)
{
    QList<Frame> frames;
    FrameReassembler reassembler;
    reassembler.feedWith(bytes.constData(), bytes.size(),
                         [&frames](int cmd, const quint8* data, int size) {
                             frames.append(Frame{
                                 cmd, QByteArray(reinterpret_cast<const char*>(data), size)});
                         });
    return frames;
}

} // namespace

// Records the worker's signals in the test's thread (queued), so that the
// lists are only ever touched here.
class WorkerProbe : public QObject
{
    Q_OBJECT
public:
    explicit WorkerProbe(BatchProgrammingThread* worker)
    {
        connect(worker, &BatchProgrammingThread::finished, this, [this, worker] {
            BatchProgrammingThread::Report report;
            QVERIFY(worker->takeReport(&report));
            reports.append(report);
        });
        connect(worker, &BatchProgrammingThread::programmingStarted, this,
                [this](qlonglong total) { started.append(total); });
        connect(worker, &BatchProgrammingThread::programmingUpdated, this,
                [this](qlonglong done) { updated.append(done); });
    }
    QList<BatchProgrammingThread::Report> reports;
    QList<qlonglong> started;
    QList<qlonglong> updated;
};

class TestBatchWorker : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void versionOnlyTask_data();
    void versionOnlyTask();
    void programmingExchangeByteForByte();
    void progressSteps_data();
    void progressSteps();
    void legacyDeviceGetsNoSequenceByteAndNoResend();
    void chunkSentAtMostFourTimes_data();
    void chunkSentAtMostFourTimes();
    void refusals_data();
    void refusals();
    void versionWaitIsBounded();
    void finishWaitIsBounded();
    void linkLossEndsTaskAtOnce();
    void stopEndsTask();
    void readBackAfterRestart();
    void connectionRefused();
    void missingImageFails();
    void startWithAnotherIndexIsIgnored();
    void secondStartWhileRunningIsIgnored();
    void newTaskDescriptionLeavesRunningTaskAlone();
    void linkAndTimerLiveInWorkerThread();
    void workerLinkNeverOpensBoxes();

private:
    // Describes a task and starts it through a queued call, as the dialog's
    // signal does.
    void start(int index, const QString& ip = QStringLiteral("127.0.0.1"), quint16 port = 0)
    {
        worker->setPort(port ? port : fake->port());
        worker->setTask(index, ip);
        QMetaObject::invokeMethod(worker, "onTaskStart", Qt::QueuedConnection, Q_ARG(int, index));
    }
    QList<Frame> frames() const { return parseFrames(fake->received()); }
    bool waitForFrames(int n, int timeoutMs = 5000)
    {
        return waitFor([this, n] { return frames().size() >= n; }, timeoutMs);
    }
    void reply(int cmd, const QByteArray& payload = QByteArray())
    {
        fake->write(CommandFrame::encode(cmd, payload));
    }
    bool waitForReports(int n, int timeoutMs = 5000)
    {
        return waitFor([this, n] { return probe->reports.size() >= n; }, timeoutMs);
    }
    QString writeImage(const QByteArray& bytes)
    {
        const QString path = work->file(QStringLiteral("image.bin"));
        writeFile(path, bytes);
        return path;
    }
    // Runs a programming task up to the first chunk.
    void startProgramming(const QByteArray& image, const QByteArray& versionReply);

    TempWorkDir* work = nullptr;
    BoxRecorder* boxes = nullptr;
    FakeDevice* fake = nullptr;
    QThread* thread = nullptr;
    BatchProgrammingThread* worker = nullptr;
    WorkerProbe* probe = nullptr;
};

void TestBatchWorker::init()
{
    work = new TempWorkDir;
    boxes = new BoxRecorder;
    fake = new FakeDevice;
    thread = new QThread;
    worker = new BatchProgrammingThread;
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    probe = new WorkerProbe(worker);
    worker->moveToThread(thread);
    thread->start();
}

void TestBatchWorker::cleanup()
{
    // The worker is deleted in its thread; it must not reach the probe then.
    disconnect(worker, nullptr, probe, nullptr);
    worker->discardReports();
    thread->quit();
    thread->wait();
    delete thread;
    delete probe;
    delete fake;
    boxes->checkNoneLeft();
    delete boxes;
    delete work;
}

void TestBatchWorker::versionOnlyTask_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("version");
    QTest::newRow("token first") << 0 << QByteArray("v1.4.0 build7") << "v1.4.0";
    QTest::newRow("token later") << 2 << QByteArray("build7 v2.0.1") << "v2.0.1";
    QTest::newRow("empty parts kept") << 1 << QByteArray("  v1.0.0") << "v1.0.0";
    QTest::newRow("no token: whole text") << 0 << QByteArray("release 1.4") << "release 1.4";
    QTest::newRow("upper-case V is no token") << 0 << QByteArray("V1.2.3 x") << "V1.2.3 x";
    QTest::newRow("empty reply") << 0 << QByteArray() << "";
    QTest::newRow("cut at a zero byte") << 0 << QByteArray("v3.1.4\0junk", 11) << "v3.1.4";
    QTest::newRow("root type") << 3 << QByteArray("v0.0.1 r") << "v0.0.1";
}

void TestBatchWorker::versionOnlyTask()
{
    QFETCH(int, type);
    QFETCH(QByteArray, reply);
    QFETCH(QString, version);
    worker->setProgramming(false);
    worker->setProgType(type);
    start(4);
    QVERIFY(waitForFrames(1));
    QCOMPARE(frames().at(0).cmd, 0x0001);
    QCOMPARE(frames().at(0).payload, QByteArray(1, char(type)));
    this->reply(0x0001, reply);
    QVERIFY(waitForReports(1));
    const auto report = probe->reports.at(0);
    QCOMPARE(report.status, 2);
    QCOMPARE(report.index, 4);
    QCOMPARE(report.ip, QStringLiteral("127.0.0.1"));
    QCOMPARE(report.version, version);
    QVERIFY(!report.programming);
    QCOMPARE(worker->taskStatus(), 2);
    QCOMPARE(worker->version(), version);
    QVERIFY(probe->started.isEmpty());
    // The link is closed after the task.
    QVERIFY(waitFor([this] { return fake->client()->state() != QAbstractSocket::ConnectedState; }));
}

void TestBatchWorker::startProgramming(const QByteArray& image, const QByteArray& versionReply)
{
    worker->setProgramming(true);
    worker->setProgType(2);
    worker->setFileName(writeImage(image));
    start(0);
    QVERIFY(waitForFrames(1));
    // A programming task always asks for the version of type 1.
    QCOMPARE(frames().at(0).cmd, 0x0001);
    QCOMPARE(frames().at(0).payload, QByteArray(1, '\1'));
    reply(0x0001, versionReply);
    QVERIFY(waitForFrames(2));
    QCOMPARE(frames().at(1).cmd, 0x0100);
    QCOMPARE(frames().at(1).payload,
             QByteArray::fromHex("02") + QByteArray::fromHex(QByteArray::number(image.size(), 16)
                                                                 .rightJustified(8, '0')));
    reply(0x0100, QByteArray(1, '\1'));
}

void TestBatchWorker::programmingExchangeByteForByte()
{
    const QByteArray image = pattern(1025);
    startProgramming(image, "v1.3.0 build42");
    QVERIFY(waitForFrames(3));
    QCOMPARE(frames().at(2).cmd, 0x0101);
    QCOMPARE(frames().at(2).payload, QByteArray(1, '\0') + image.left(1024));
    QTRY_COMPARE(probe->started, QList<qlonglong>{1025});
    // One chunk outstanding: nothing more before the acknowledgement.
    QTest::qWait(20);
    QCOMPARE(frames().size(), 3);
    reply(0x0101, QByteArray(1, '\1'));
    QVERIFY(waitForFrames(4));
    QCOMPARE(frames().at(3).payload, QByteArray(1, '\1') + image.mid(1024));
    reply(0x0101, QByteArray(1, '\1'));
    reply(0x0102);
    QTRY_COMPARE(probe->updated.size(), 2);
    QCOMPARE(probe->reports.size(), 0);
    reply(0x0103);
    // The version is read back, of the type programmed.
    QVERIFY(waitForFrames(5));
    QCOMPARE(frames().at(4).cmd, 0x0001);
    QCOMPARE(frames().at(4).payload, QByteArray(1, '\2'));
    QCOMPARE(probe->reports.size(), 0);
    reply(0x0001, "v1.4.0 new");
    QVERIFY(waitForReports(1));
    QCOMPARE(probe->reports.at(0).status, 2);
    QVERIFY(probe->reports.at(0).programming);
    QCOMPARE(probe->reports.at(0).version, QStringLiteral("v1.4.0"));
    QCOMPARE(probe->updated, (QList<qlonglong>{1024, 1025, 1025}));
    QCOMPARE(frames().size(), 5);
}

void TestBatchWorker::progressSteps_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<QList<qlonglong>>("steps");
    QTest::newRow("every chunk") << 0 << QList<qlonglong>{1024, 2048, 3072, 4096, 4500, 4500};
    // Steps closer together than the interval are left out; the first and
    // the last are always reported.
    QTest::newRow("coalesced") << 600000 << QList<qlonglong>{1024, 4500, 4500};
}

void TestBatchWorker::progressSteps()
{
    QFETCH(int, interval);
    QFETCH(QList<qlonglong>, steps);
    worker->setProgressInterval(interval);
    startProgramming(pattern(4500), "v1.3.0 b");
    for (int chunk = 0; chunk < 5; ++chunk) {
        QVERIFY(waitForFrames(3 + chunk));
        reply(0x0101, QByteArray(1, '\1'));
    }
    reply(0x0103);
    QVERIFY(waitForFrames(2 + 5 + 1));
    reply(0x0001, "v1.3.0 b");
    QVERIFY(waitForReports(1));
    QCOMPARE(probe->reports.at(0).status, 2);
    QTRY_COMPARE(probe->updated, steps);
    QCOMPARE(probe->started, QList<qlonglong>{4500});
}

void TestBatchWorker::legacyDeviceGetsNoSequenceByteAndNoResend()
{
    worker->setChunkInterval(100);
    const QByteArray image = pattern(3000);
    startProgramming(image, "v1.2.2 r1");
    QVERIFY(waitForFrames(3));
    QCOMPARE(frames().at(2).payload, image.left(1024));
    // No acknowledgement: the first time-out fails the task, without resend.
    QVERIFY(waitForReports(1));
    QCOMPARE(probe->reports.at(0).status, 3);
    QCOMPARE(probe->reports.at(0).reason, BatchProgrammingThread::Reason::NoAnswer);
    QCOMPARE(frames().size(), 3);
}

void TestBatchWorker::chunkSentAtMostFourTimes_data()
{
    QTest::addColumn<int>("acknowledged");
    QTest::newRow("the first chunk") << 0;
    QTest::newRow("the last chunk") << 1;
}

void TestBatchWorker::chunkSentAtMostFourTimes()
{
    QFETCH(int, acknowledged);
    worker->setChunkInterval(60);
    const QByteArray image = pattern(2048);
    startProgramming(image, "v1.2.3 x");
    if (acknowledged) {
        QVERIFY(waitForFrames(3));
        reply(0x0101, QByteArray(1, '\1'));
    }
    QVERIFY(waitForReports(1));
    QCOMPARE(probe->reports.at(0).status, 3);
    QCOMPARE(probe->reports.at(0).reason, BatchProgrammingThread::Reason::NoAnswer);
    const QList<Frame> sent = frames();
    QCOMPARE(sent.size(), 2 + acknowledged + 4);
    for (int i = 2 + acknowledged; i < sent.size(); ++i) {
        QCOMPARE(sent.at(i).cmd, 0x0101);
        QCOMPARE(sent.at(i).payload, QByteArray(1, char(acknowledged)) +
                                         image.mid(1024 * acknowledged, 1024));
    }
}

void TestBatchWorker::refusals_data()
{
    QTest::addColumn<bool>("refuseStart");
    QTest::newRow("start refused") << true;
    QTest::newRow("chunk refused") << false;
}

void TestBatchWorker::refusals()
{
    QFETCH(bool, refuseStart);
    worker->setProgramming(true);
    worker->setFileName(writeImage(pattern(4096)));
    start(0);
    QVERIFY(waitForFrames(1));
    reply(0x0001, "v2.0.0 x");
    QVERIFY(waitForFrames(2));
    if (refuseStart) {
        reply(0x0100, QByteArray(1, '\0'));
    } else {
        reply(0x0100, QByteArray(1, '\1'));
        QVERIFY(waitForFrames(3));
        reply(0x0101, QByteArray(1, '\0'));
    }
    QVERIFY(waitForReports(1));
    QCOMPARE(probe->reports.at(0).status, 3);
    QCOMPARE(probe->reports.at(0).reason, refuseStart
                                              ? BatchProgrammingThread::Reason::StartRefused
                                              : BatchProgrammingThread::Reason::ChunkRefused);
    QCOMPARE(frames().size(), refuseStart ? 2 : 3);
}

void TestBatchWorker::versionWaitIsBounded()
{
    worker->setReplyTimeout(150);
    worker->setProgramming(false);
    start(0);
    QVERIFY(waitForFrames(1));
    QVERIFY(waitForReports(1));
    QCOMPARE(probe->reports.at(0).status, 3);
    QCOMPARE(probe->reports.at(0).reason, BatchProgrammingThread::Reason::NoAnswer);
}

void TestBatchWorker::finishWaitIsBounded()
{
    worker->setFinishTimeout(150);
    startProgramming(pattern(100), "v1.3.0 b");
    QVERIFY(waitForFrames(3));
    reply(0x0101, QByteArray(1, '\1'));
    reply(0x0102);
    QVERIFY(waitForReports(1));
    QCOMPARE(probe->reports.at(0).status, 3);
    QCOMPARE(probe->reports.at(0).reason, BatchProgrammingThread::Reason::Timeout);
}

void TestBatchWorker::linkLossEndsTaskAtOnce()
{
    // Long waits: only the lost link can end the task within the test.
    worker->setReplyTimeout(600000);
    worker->setChunkInterval(600000);
    startProgramming(pattern(5000), "v1.3.0 b");
    QVERIFY(waitForFrames(3));
    fake->closeClient();
    QVERIFY(waitForReports(1));
    QCOMPARE(probe->reports.at(0).status, 3);
    QCOMPARE(probe->reports.at(0).reason, BatchProgrammingThread::Reason::LinkLost);
}

// Stop ends the task under way at once, cleanly, and says so.
void TestBatchWorker::stopEndsTask()
{
    worker->setReplyTimeout(600000);
    worker->setChunkInterval(600000);
    startProgramming(pattern(5000), "v1.3.0 b");
    QVERIFY(waitForFrames(3));
    QMetaObject::invokeMethod(worker, "onTaskStop", Qt::QueuedConnection);
    QVERIFY(waitForReports(1));
    QCOMPARE(probe->reports.at(0).status, 4);
    QCOMPARE(probe->reports.at(0).reason, BatchProgrammingThread::Reason::Stopped);
    QVERIFY(waitFor([this] { return fake->client()->state() != QAbstractSocket::ConnectedState; }));
    // Without a task it changes nothing.
    QMetaObject::invokeMethod(worker, "onTaskStop", Qt::QueuedConnection);
    QVERIFY(!waitFor([this] { return probe->reports.size() > 1; }, 100));
}

// A device that restarts after programming is asked again once it is back;
// one that does not answer in time leaves the version empty, the task
// succeeded all the same.
void TestBatchWorker::readBackAfterRestart()
{
    worker->setReadBackTimeout(3000);
    startProgramming(pattern(10), "v1.3.0 b");
    QVERIFY(waitForFrames(3));
    reply(0x0101, QByteArray(1, '\1'));
    reply(0x0103);
    QVERIFY(waitForFrames(4));
    fake->closeClient();
    fake->clearReceived();
    QVERIFY(waitForFrames(1));
    QCOMPARE(frames().at(0).cmd, 0x0001);
    reply(0x0001, "v2.0.0 after");
    QVERIFY(waitForReports(1));
    QCOMPARE(probe->reports.at(0).status, 2);
    QCOMPARE(probe->reports.at(0).version, QStringLiteral("v2.0.0"));

    fake->clearReceived();
    worker->setReadBackTimeout(100);
    startProgramming(pattern(10), "v1.3.0 b");
    QVERIFY(waitForFrames(3));
    reply(0x0101, QByteArray(1, '\1'));
    reply(0x0103);
    QVERIFY(waitForReports(2));
    QCOMPARE(probe->reports.at(1).status, 2);
    QVERIFY(probe->reports.at(1).version.isEmpty());
}

void TestBatchWorker::connectionRefused()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    start(0, QStringLiteral("127.0.0.1"), port);
    QVERIFY(waitForReports(1, 3000));
    QCOMPARE(probe->reports.at(0).status, 3);
    QCOMPARE(probe->reports.at(0).reason, BatchProgrammingThread::Reason::CannotConnect);
}

void TestBatchWorker::missingImageFails()
{
    worker->setProgramming(true);
    worker->setFileName(work->file(QStringLiteral("missing.bin")));
    start(0);
    QVERIFY(waitForFrames(1));
    reply(0x0001, "v1.3.0 b");
    QVERIFY(waitForReports(1));
    QCOMPARE(probe->reports.at(0).status, 3);
    QCOMPARE(probe->reports.at(0).reason, BatchProgrammingThread::Reason::ImageUnreadable);
    QCOMPARE(frames().size(), 1);
}

void TestBatchWorker::startWithAnotherIndexIsIgnored()
{
    worker->setProgramming(false);
    worker->setPort(fake->port());
    worker->setTask(3, QStringLiteral("127.0.0.1"));
    QMetaObject::invokeMethod(worker, "onTaskStart", Qt::QueuedConnection, Q_ARG(int, 2));
    QMetaObject::invokeMethod(worker, "onTaskStart", Qt::QueuedConnection, Q_ARG(int, 3));
    QVERIFY(waitForFrames(1));
    reply(0x0001, "v1 x");
    QVERIFY(waitForReports(1));
    QCOMPARE(probe->reports.size(), 1);
    QCOMPARE(probe->reports.at(0).index, 3);
    QCOMPARE(frames().size(), 1);
}

void TestBatchWorker::secondStartWhileRunningIsIgnored()
{
    worker->setProgramming(false);
    start(5);
    QVERIFY(waitForFrames(1));
    QVERIFY(worker->isRunning());
    QMetaObject::invokeMethod(worker, "onTaskStart", Qt::QueuedConnection, Q_ARG(int, 5));
    QTest::qWait(50);
    reply(0x0001, "v9.9.9 x");
    QVERIFY(waitForReports(1));
    QTest::qWait(50);
    QCOMPARE(probe->reports.size(), 1);
    QCOMPARE(frames().size(), 1);
}

void TestBatchWorker::newTaskDescriptionLeavesRunningTaskAlone()
{
    // A version-only task runs; meanwhile the next task is described as a
    // programming task for another device.
    worker->setProgramming(false);
    start(0);
    QVERIFY(waitForFrames(1));
    worker->setProgramming(true);
    worker->setFileName(writeImage(pattern(10)));
    worker->setTask(1, QStringLiteral("127.0.0.1"));
    QCOMPARE(worker->ip(), QStringLiteral("127.0.0.1"));
    QCOMPARE(worker->taskIndex(), 0);
    reply(0x0001, "v1.5.0 x");
    QVERIFY(waitForReports(1));
    QCOMPARE(probe->reports.at(0).index, 0);
    QCOMPARE(probe->reports.at(0).status, 2);
    QVERIFY(!probe->reports.at(0).programming);
    QCOMPARE(frames().size(), 1); // no 0x0100: the running task stayed version-only

    // The described task runs when its start comes.
    fake->clearReceived();
    QMetaObject::invokeMethod(worker, "onTaskStart", Qt::QueuedConnection, Q_ARG(int, 1));
    QVERIFY(waitForFrames(1));
    QCOMPARE(frames().at(0).payload, QByteArray(1, '\1'));
    reply(0x0001, "v1.5.0 x");
    QVERIFY(waitForFrames(2));
    QCOMPARE(frames().at(1).cmd, 0x0100);
}

void TestBatchWorker::linkAndTimerLiveInWorkerThread()
{
    worker->setProgramming(false);
    start(0);
    QVERIFY(waitForFrames(1));
    reply(0x0001, "v1 x");
    QVERIFY(waitForReports(1));
    struct Seen
    {
        QThread* own;
        QObject* link;
        QObject* timer;
    };
    // Answered through a future: an ordering the thread checker can see.
    std::promise<Seen> promise;
    std::future<Seen> future = promise.get_future();
    QMetaObject::invokeMethod(
        worker,
        [&promise, this] {
            promise.set_value(Seen{QThread::currentThread(), worker->link(), worker->chunkTimer()});
        },
        Qt::QueuedConnection);
    const Seen seen = future.get();
    QThread* own = seen.own;
    QObject* link = seen.link;
    QObject* timer = seen.timer;
    QCOMPARE(own, thread);
    QVERIFY(link && timer);
    QCOMPARE(link->thread(), thread);
    QCOMPARE(timer->thread(), thread);
    QVERIFY(!link->parent());
    QVERIFY(!timer->parent());
}

void TestBatchWorker::workerLinkNeverOpensBoxes()
{
    worker->setProgramming(false);
    start(0);
    QVERIFY(waitForFrames(1));
    // Frames the main window's link would show as boxes.
    reply(0x0004, QByteArray(1, '\1'));
    reply(0x0005, QByteArray(1, '\1'));
    reply(0x0007, QByteArray(1, '\1'));
    reply(0x0001, "v1.0.0 x");
    QVERIFY(waitForReports(1));
    QCOMPARE(boxes->count(), 0);
    // A send without connection does not open one either.
    std::promise<void> sent;
    QMetaObject::invokeMethod(
        worker,
        [this, &sent] {
            worker->link()->send(0x0001, QByteArray(1, '\0'));
            sent.set_value();
        },
        Qt::QueuedConnection);
    sent.get_future().wait();
    QCOMPARE(boxes->count(), 0);
}

QTEST_MAIN(TestBatchWorker)
#include "tst_batchworker.moc"
