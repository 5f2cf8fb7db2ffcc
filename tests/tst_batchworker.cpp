// The batch worker in its own thread against a scripted device: each case is the exchange
// frame by frame (literal bytes), with the task's status, reason, version and progress.
#include "comm/commandframe.h"
#include "comm/commtcp.h"
#include "programming/batchprogrammingthread.h"
#include "progtestutil.h"
#include "testutil.h"

#include <atomic>
#include <future>
#include <QtTest>

using namespace ProgTest;
using Reason = BatchProgrammingThread::Reason;
using Steps = QList<qlonglong>;

namespace {

// Steps: ">hex" the worker sends this frame; "cS,O,L" it sends image bytes O..O+L
// with sequence byte S (-1: none); "<hex" the device writes these bytes; "=text"
// it answers 0x0001 with the text; "!..." the device or the test acts.
const char* const kAccept = "<6800030100016d";
const char* const kAck = "<6800030101016e";
const char* const kFinished = "<68000201036e";

// Chunks of 1024 bytes from `from` to `size`, each acknowledged.
QStringList transfer(int size, int from = 0)
{
    QStringList steps;
    for (int at = from; at < size; at += 1024)
        steps << QStringLiteral("c%1,%2,%3").arg(at / 1024).arg(at).arg(qMin(1024, size - at)) << kAck;
    return steps;
}

struct Case { const char* name; bool programming; int type, image; const char* waits; QStringList script;
              int status; Reason reason; const char* version; Steps updated; }; // image -1: no file

const QStringList kProgram = {">6800030001016d", "=v1.3.0 b"};

const QList<Case>& cases()
{
    static const QStringList k4500 = kProgram + QStringList{">6800070100020000119417", kAccept} + transfer(4500) +
                                     QStringList{kFinished, ">6800030001026e", "=v1.3.0 b"};
    static const QStringList k2048 = kProgram + QStringList{">680007010002000008007a", kAccept};
    static const QStringList k5000 = kProgram + QStringList{">680007010002000013880d", kAccept, "c0,0,1024"};
    static const QStringList k10 = kProgram + QStringList{">6800070100020000000a7c", kAccept, "c0,0,10", kAck, kFinished,
                                                          ">6800030001026e"};
    static const QList<Case> list = {
        {"token later", false, 2, 0, "", {">6800030001026e", "!again", "<68000300040170", "=build7 v2.0.1"}, 2, Reason::None, "v2.0.1", {}},
        {"token first", false, 0, 0, "", {">6800030001006c", "=v1.4.0 build7"}, 2, Reason::None, "v1.4.0", {}},
        {"empty parts kept", false, 1, 0, "", {">6800030001016d", "=  v1.0.0"}, 2, Reason::None, "v1.0.0", {}},
        {"no token", false, 0, 0, "", {">6800030001006c", "!describe", "=release 1.4"}, 2, Reason::None, "release 1.4", {}},
        {"upper-case V", false, 0, 0, "", {">6800030001006c", "=V1.2.3 x"}, 2, Reason::None, "V1.2.3 x", {}},
        {"empty reply", false, 0, 0, "", {">6800030001006c", "<68000200016b"}, 2, Reason::None, "", {}},
        {"cut at zero", false, 3, 0, "", {">6800030001036f", "<68000d000176332e312e34006a756e6b98"}, 2, Reason::None, "v3.1.4", {}},
        {"current transfer", true, 2, 1025, "",
         QStringList{">6800030001016d", "=v1.3.0 build42", ">6800070100020000040177", kAccept} +
             transfer(1025) + QStringList{"<68000201026d", kFinished, ">6800030001026e", "=v1.4.0 new"},
         2, Reason::None, "v1.4.0", {1024, 1025, 1025}},
        {"every step", true, 2, 4500, "progress=0", k4500, 2, Reason::None, "v1.3.0", {1024, 2048, 3072, 4096, 4500, 4500}},
        {"coalesced steps", true, 2, 4500, "progress=600000", k4500, 2, Reason::None, "v1.3.0", {1024, 4500, 4500}},
        {"legacy: no sequence, no resend", true, 2, 3000, "chunk=100",
         {">6800030001016d", "=v1.2.2 r1", ">68000701000200000bb835", kAccept, "c-1,0,1024"},
         3, Reason::NoAnswer, "v1.2.2", {}},
        {"first chunk four times", true, 2, 2048, "chunk=60", k2048 + QStringList{"c0,0,1024", "c0,0,1024", "c0,0,1024",
         "c0,0,1024"}, 3, Reason::NoAnswer, "v1.3.0", {}},
        {"last chunk four times", true, 2, 2048, "chunk=60", k2048 + QStringList{"c0,0,1024", kAck, "c1,1024,1024",
         "c1,1024,1024", "c1,1024,1024", "c1,1024,1024"}, 3, Reason::NoAnswer, "v1.3.0", {1024}},
        {"start refused", true, 2, 2048, "", kProgram + QStringList{">680007010002000008007a", "<6800030100006c"},
         3, Reason::StartRefused, "v1.3.0", {}},
        {"chunk refused", true, 2, 2048, "", k2048 + QStringList{"c0,0,1024", "<6800030101006d"},
         3, Reason::ChunkRefused, "v1.3.0", {}},
        {"version wait bounded", false, 0, 0, "reply=150", {">6800030001006c"}, 3, Reason::NoAnswer, "", {}},
        {"finish wait bounded", true, 2, 100, "finish=150",
         kProgram + QStringList{">68000701000200000064d6", kAccept, "c0,0,100", kAck, "<68000201026d"},
         3, Reason::Timeout, "v1.3.0", {100}},
        {"link lost", true, 2, 5000, "reply=600000 chunk=600000", k5000 + QStringList{"!close"}, 3, Reason::LinkLost, "v1.3.0", {}},
        {"stopped", true, 2, 5000, "reply=600000 chunk=600000", k5000 + QStringList{"!stop"}, 4, Reason::Stopped, "v1.3.0", {}},
        {"read back after restart", true, 2, 10, "readback=3000",
         k10 + QStringList{"!reconnect", ">6800030001026e", "=v2.0.0 after"}, 2, Reason::None, "v2.0.0", {10, 10}},
        {"read back unanswered", true, 2, 10, "readback=100", k10, 2, Reason::None, "", {10, 10}},
        {"image missing", true, 2, -1, "", kProgram, 3, Reason::ImageUnreadable, "v1.3.0", {}},
        {"connection refused", false, 0, 0, "port=closed", {}, 3, Reason::CannotConnect, "", {}},
    };
    return list;
}

} // namespace

class TestBatchWorker : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void exchange_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < cases().size(); ++i)
            QTest::newRow(cases().at(i).name) << i;
    }
    void exchange();
};

void TestBatchWorker::exchange()
{
    QFETCH(int, row);
    const Case& c = cases().at(row);
    TempWorkDir work;
    BoxRecorder boxes;
    FakeDevice fake;
    QThread thread;
    auto* worker = new BatchProgrammingThread;
    QList<BatchProgrammingThread::Report> reports; // kept in the test's thread
    Steps started, updated;
    QObject probe;
    connect(worker, &BatchProgrammingThread::finished, &probe, [&] {
        reports.append(BatchProgrammingThread::Report());
        QVERIFY(worker->takeReport(&reports.last()));
    });
    connect(worker, &BatchProgrammingThread::programmingStarted, &probe, [&](qlonglong n) { started << n; });
    connect(worker, &BatchProgrammingThread::programmingUpdated, &probe, [&](qlonglong n) { updated << n; });
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    worker->moveToThread(&thread);
    thread.start();
    const auto done = qScopeGuard([&] {
        disconnect(worker, nullptr, &probe, nullptr); // the worker, deleted in its thread, must not reach the test
        worker->discardReports();
        thread.quit();
        thread.wait();
        boxes.checkNoneLeft();
    });
    const auto frames = [&fake] {
        QList<QPair<int, QByteArray>> list;
        FrameReassembler().feedWith(fake.received().constData(), fake.received().size(), [&](int cmd, const quint8* d, int n) {
            list.append({cmd, QByteArray(reinterpret_cast<const char*>(d), n)});
        });
        return list;
    };
    const QByteArray image = pattern(qMax(c.image, 0));
    const QString path = work.file(QStringLiteral("image.bin"));
    QVERIFY(c.image < 0 || writeFile(path, image));
    worker->setProgramming(c.programming);
    worker->setProgType(c.type);
    worker->setFileName(path);
    using Set = void (BatchProgrammingThread::*)(int);
    const QMap<QString, Set> seams{
        {"chunk", &BatchProgrammingThread::setChunkInterval}, {"reply", &BatchProgrammingThread::setReplyTimeout},
        {"finish", &BatchProgrammingThread::setFinishTimeout}, {"readback", &BatchProgrammingThread::setReadBackTimeout},
        {"progress", &BatchProgrammingThread::setProgressInterval}};
    for (const QString& wait : QString(c.waits).split(' ', Qt::SkipEmptyParts))
        if (seams.contains(wait.section('=', 0, 0)))
            (worker->*seams.value(wait.section('=', 0, 0)))(wait.section('=', 1).toInt());
    worker->setPort(QByteArray(c.waits) == "port=closed" ? closedLocalPort() : fake.port());
    worker->setTask(4, QStringLiteral("127.0.0.1"));
    for (int i : {5, 4}) // a start with another index changes nothing
        QMetaObject::invokeMethod(worker, "onTaskStart", Qt::QueuedConnection, Q_ARG(int, i));
    int sent = 0;
    for (const QString& step : c.script) {
        const QString arg = step.mid(1);
        if (step[0] == '>' || step[0] == 'c') {
            QVERIFY2(waitFor([&] { return frames().size() > sent; }), qPrintable(step));
            const auto frame = frames().at(sent++);
            if (step[0] == '>') {
                QCOMPARE(CommandFrame::encode(frame.first, frame.second).toHex(), arg.toLatin1());
                continue;
            }
            const QStringList n = arg.split(',');
            QCOMPARE(frame.first, 0x0101);
            QCOMPARE(frame.second, (n[0] == "-1" ? QByteArray() : QByteArray(1, char(n[0].toInt()))) +
                                       image.mid(n[1].toInt(), n[2].toInt()));
        } else if (step[0] == '<' || step[0] == '=') {
            QCOMPARE(frames().size(), sent); // one request outstanding at a time
            fake.write(step[0] == '<' ? QByteArray::fromHex(arg.toLatin1()) : CommandFrame::encode(1, arg.toUtf8()));
        } else if (arg == "close" || arg == "reconnect") {
            fake.closeClient();
            fake.clearReceived();
            sent = 0;
        } else if (arg == "again") { // a second start of the running task changes nothing
            QMetaObject::invokeMethod(worker, "onTaskStart", Qt::QueuedConnection, Q_ARG(int, 4));
        } else if (arg == "describe") { // nor does the description of the next task
            worker->setProgramming(true);
            worker->setTask(5, "127.0.0.1");
        } else if (arg == "stop") {
            QMetaObject::invokeMethod(worker, "onTaskStop", Qt::QueuedConnection);
        }
    }
    QVERIFY(waitFor([&] { return !reports.isEmpty(); }));
    const auto r = reports.at(0);
    QCOMPARE(QVariantList({r.status, int(r.reason), r.version, r.index, r.ip, r.programming, worker->taskStatus()}),
             QVariantList({c.status, int(c.reason), c.version, 4, "127.0.0.1", c.programming, c.status}));
    QTRY_COMPARE(updated, c.updated);
    QCOMPARE(started, c.script.contains(kAccept) ? Steps{c.image} : Steps{});
    QCOMPARE(frames().size(), sent);
    // The link and the timer belong to the worker's thread, without parent; a
    // send without connection opens no box either.
    // Orderings the thread checker can see: an atomic and a promise, no captures (Qt's hand-over of
    // a functor to another thread is invisible to it).
    static std::promise<QList<QObject*>> seen;
    static std::atomic<BatchProgrammingThread*> target;
    seen = {};
    target.store(worker, std::memory_order_release);
    QMetaObject::invokeMethod(worker, [] {
        BatchProgrammingThread* w = target.load(std::memory_order_acquire);
        w->link()->send(1, QByteArray(1, '\0'));
        seen.set_value({QThread::currentThread(), w->link(), w->chunkTimer()});
    }, Qt::QueuedConnection);
    const QList<QObject*> own = seen.get_future().get();
    for (QObject* o : own.mid(1)) // ... and the link is closed after every task
        QVERIFY(o && o->thread() == &thread && o->thread() == own[0] && !o->parent());
    QVERIFY(waitFor([&] { return !fake.client() || fake.client()->state() != QAbstractSocket::ConnectedState; }));
}

QTEST_MAIN(TestBatchWorker)
#include "tst_batchworker.moc"
