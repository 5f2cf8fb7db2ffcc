// A real crash in a child process: the dump file's name and content, the
// box process's text, and that nothing hangs.
#include "app/crashhandler.h"
#include "testutil.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

class TestCrashHandler : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void dumpName();
    void crash_data();
    void crash();
};

void TestCrashHandler::dumpName()
{
    char name[19];
    CrashHandler::dumpFileName(name, 2024, 3, 3, 14, 5, 9);
    QCOMPARE(QByteArray(name), QByteArray("20240303140509.dmp"));
    CrashHandler::dumpFileName(name, 1999, 12, 31, 23, 59, 58);
    QCOMPARE(QByteArray(name), QByteArray("19991231235958.dmp"));
}

void TestCrashHandler::crash_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("name");
    QTest::newRow("null pointer write") << QStringList{"segv"} << 11 << "SIGSEGV";
    QTest::newRow("abort") << QStringList{"abort"} << 6 << "SIGABRT";
    QTest::newRow("SIGFPE") << QStringList{"fpe"} << 8 << "SIGFPE";
    QTest::newRow("segv in a second thread") << QStringList{"segv", "thread"} << 11 << "SIGSEGV";
}

void TestCrashHandler::crash()
{
    QFETCH(QStringList, args);
    QFETCH(int, signal);
    QFETCH(QString, name);
    TempWorkDir work;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(CrashHandler::kBoxRecordEnv), work.file(QStringLiteral("box.txt")));
    // Leave the fault to our handler, not to a sanitizer's.
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               QStringLiteral("handle_segv=0:handle_abort=0:handle_sigfpe=0:detect_leaks=0"));
    env.insert(QStringLiteral("UBSAN_OPTIONS"), QStringLiteral("handle_segv=0:handle_sigfpe=0"));
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(work.path());
    child.start(QStringLiteral(CRASH_CHILD_PATH), args);
    QVERIFY(child.waitForStarted());
    QVERIFY2(child.waitForFinished(30000), "the crashing process did not end");
    QCOMPARE(child.exitStatus(), QProcess::CrashExit); // ended by its signal

    const QStringList dumps = QDir(work.path()).entryList({QStringLiteral("*.dmp")}, QDir::Files);
    QCOMPARE(dumps.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{14}\\.dmp$")).match(dumps[0]).hasMatch(),
             qPrintable(dumps[0]));
    const QDateTime stamp =
        QDateTime::fromString(dumps[0].left(14), QStringLiteral("yyyyMMddhhmmss"));
    QVERIFY(stamp.isValid());
    QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 120);

    QFile dump(work.file(dumps[0]));
    QVERIFY(dump.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(dump.readAll());
    QVERIFY(text.contains(QStringLiteral("signal: ") + name));
    QVERIFY(text.contains(QStringLiteral("signal number: %1").arg(signal)));
    QVERIFY(text.contains(QStringLiteral("fault address: 0x")));
    QVERIFY(text.contains(QStringLiteral("thread: ")));
    QVERIFY(text.contains(QStringLiteral("backtrace:\n")));
    QVERIFY(text.contains(QStringLiteral("crash_child"))); // frames of the program itself
    QVERIFY(text.contains(QStringLiteral("memory map:\n")));
    QVERIFY(text.contains(QStringLiteral("r-xp"))); // a mapping line

    QFile box(work.file(QStringLiteral("box.txt")));
    QVERIFY2(box.open(QIODevice::ReadOnly), "the box process did not run");
    const QStringList lines = QString::fromUtf8(box.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0), QStringLiteral("Crash"));
    const QRegularExpression boxText(
        QStringLiteral("^Code: 0x%1, address: 0x[0-9a-f]+$").arg(signal, 0, 16));
    QVERIFY2(boxText.match(lines.value(1)).hasMatch(), qPrintable(lines.value(1)));
    // The address in the box is the instruction that faulted.
    const QString pc = lines.value(1).section(QStringLiteral("address: "), 1);
    QVERIFY(text.contains(QStringLiteral("instruction address: ") + pc));
}

QTEST_GUILESS_MAIN(TestCrashHandler)
#include "tst_crashhandler.moc"
