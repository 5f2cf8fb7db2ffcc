// The batch runner against devsim: devices removed while the batch runs,
// stop, retry of the failed devices, and a fresh batch resetting every
// result. (The end-to-end programming run is in tst_cli.)
#include "programming/batchrunner.h"
#include "progtestutil.h"
#include "testutil.h"

#include <QSignalSpy>
#include <QtTest>

using namespace ProgTest;

class TestBatchRunner : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void removeStopRetry();
};

void TestBatchRunner::removeStopRetry()
{
    TempWorkDir work;
    DevsimProcess devsim;
    // 127.0.0.2 is slow: 40 chunks acknowledged 25 ms late each.
    QVERIFY(devsim.start({"--range", "127.0.0.2-6", "--set", "prog-dir=" + work.file("store"), "--set",
                          "prog-install-ms=0", "--set", "127.0.0.2/prog-ack-delay-ms=25"}));
    const QByteArray image = pattern(40 * 1024, 9);
    QVERIFY(writeFile(work.file("image.bin"), image));
    const quint16 port = devsim.port();

    BatchRunner runner(1);
    runner.setPortResolver([port](const QString&) { return port; });
    QSignalSpy started(&runner, &BatchRunner::deviceStarted);
    QSignalSpy ended(&runner, &BatchRunner::deviceFinished);
    QSignalSpy finished(&runner, &BatchRunner::finished);
    const BatchRunner::Task program{true, 0, work.file("image.bin")};
    const QStringList devices{"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};

    // Removing the device under way and one still waiting: the single
    // worker goes on with the others, the batch ends, nothing is reported
    // for the removed ones.
    QVERIFY(runner.start(devices, program));
    QVERIFY(QTest::qWaitFor([&] { return runner.result("127.0.0.2").bytesDone > 0; }, 10000));
    runner.removeDevice("127.0.0.2");
    runner.removeDevice("127.0.0.4");
    QVERIFY(finished.wait(20000));
    QCOMPARE(runner.devices(), (QStringList{"127.0.0.3", "127.0.0.5"}));
    QStringList reported;
    for (const QList<QVariant>& args : ended)
        reported << args.at(0).toString();
    QCOMPARE(reported, (QStringList{"127.0.0.3", "127.0.0.5"}));
    for (const BatchRunner::Result& r : runner.results()) {
        QCOMPARE(r.status, int(BatchRunner::Succeeded));
        QCOMPARE(r.version, QString("v1.3.0"));
        QCOMPARE(readFile(work.file("store/image-" + r.ip + ".bin")), image);
    }

    // Stop while the slow device is under way: it ends "Stopped", the
    // devices not started keep "Not Start"; the reason is the same.
    started.clear();
    QVERIFY(runner.start(devices, program));
    QCOMPARE(runner.result("127.0.0.3").status, int(BatchRunner::NotStarted)); // reset
    QVERIFY(QTest::qWaitFor([&] { return runner.result("127.0.0.2").bytesDone > 0; }, 10000));
    runner.stop();
    QVERIFY(finished.wait(10000));
    QCOMPARE(started.count(), 1);
    QCOMPARE(runner.result("127.0.0.2").status, 4);
    for (const QString& ip : devices)
        QCOMPARE(runner.result(ip).reason, BatchRunner::Stopped);
    QCOMPARE(runner.failedCount(), 4);
    QVERIFY(!runner.retryFailed()); // stopped is not failed

    // More workers than devices; a version-only batch resets every result.
    runner.setJobs(8);
    QVERIFY(runner.start({"127.0.0.4", "127.0.0.9"}, BatchRunner::Task{false, 2, QString()}));
    QVERIFY(!runner.start(devices, program)); // one batch at a time
    QVERIFY(finished.wait(10000));
    QCOMPARE(runner.jobs(), 8);
    QCOMPARE(runner.result("127.0.0.4").version, QString("v1.3.0"));
    QCOMPARE(runner.result("127.0.0.9").reason, BatchRunner::NoConnection);
    // Retry runs exactly the failed device again.
    started.clear();
    QVERIFY(runner.retryFailed());
    QVERIFY(finished.wait(10000));
    QCOMPARE(started.count(), 1);
    QCOMPARE(runner.result("127.0.0.9").reason, BatchRunner::NoConnection);
}

QTEST_GUILESS_MAIN(TestBatchRunner)
#include "tst_batchrunner.moc"
