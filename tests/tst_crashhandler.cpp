// Real crashes of a child process, one per way a program dies: each ends by
// its signal, leaves a core file that the debugger opens with every thread
// and the faulting function on the faulting thread's stack, a readable
// report beside it, and shows the "Crash" box (a real modal box, which the
// helper closes itself through the test seam).
#include "app/crashhandler.h"
#include "progtestutil.h"
#include "testutil.h"

#include <QtTest>
#include <csignal>
#include <elf.h>
#include <sys/procfs.h>
#include <unistd.h>

namespace {

// The core file as a reader that knows only the ELF layout sees it: notes
// walked with their 4-byte padding, the process and signal notes, and which
// memory went in with which rights. Returns an empty text or what is wrong.
QString checkCore(const QByteArray& core, int signal, qint64 pid, const QString& how,
                  quint64 instruction, int threads)
{
    const auto at = [&](quint64 offset, quint64 size) {
        return offset + size <= quint64(core.size()) ? core.constData() + offset : nullptr;
    };
    const auto* eh = reinterpret_cast<const Elf64_Ehdr*>(at(0, sizeof(Elf64_Ehdr)));
    if (!eh || memcmp(eh->e_ident, ELFMAG, SELFMAG) != 0 || eh->e_type != ET_CORE)
        return QStringLiteral("not an ELF core");
    QList<quint32> types;
    bool inText = false, vdsoWhole = false;
    quint64 vdso = 0;
    for (int i = 0; i < eh->e_phnum; ++i) {
        const auto* ph = reinterpret_cast<const Elf64_Phdr*>(
            at(eh->e_phoff + quint64(i) * sizeof(Elf64_Phdr), sizeof(Elf64_Phdr)));
        if (!ph || !at(ph->p_offset, ph->p_filesz) ||
            (ph->p_type == PT_LOAD && !(ph->p_flags & PF_R) && ph->p_filesz))
            return QStringLiteral("segment %1 is outside the file or unreadable").arg(i);
        if (instruction >= ph->p_vaddr && instruction < ph->p_vaddr + ph->p_memsz)
            inText = (ph->p_flags & (PF_R | PF_W | PF_X)) == (PF_R | PF_X);
        if (ph->p_type == PT_LOAD && ph->p_vaddr == vdso) // the notes come first
            vdsoWhole = ph->p_filesz == ph->p_memsz && ph->p_filesz > 0;
        for (quint64 n = 0; ph->p_type == PT_NOTE && n < ph->p_filesz;) {
            const auto* nh = reinterpret_cast<const Elf64_Nhdr*>(at(ph->p_offset + n, 12));
            const quint64 name = ph->p_offset + n + 12;
            const quint64 desc = name + ((nh ? nh->n_namesz : 0) + 3) / 4 * 4;
            if (!nh || !at(desc, nh->n_descsz) || QByteArray(core.constData() + name) != "CORE")
                return QStringLiteral("note %1 is malformed").arg(types.size());
            const QByteArray aligned = core.mid(int(desc), int(nh->n_descsz)) + QByteArray(256, 0);
            const char* d = aligned.constData();
            const auto* ps = reinterpret_cast<const elf_prpsinfo*>(d);
            if (nh->n_type == NT_PRPSINFO &&
                (ps->pr_pid != pid || ps->pr_ppid != getpid() || ps->pr_uid != getuid() ||
                 ps->pr_gid != getgid() || QByteArray(ps->pr_fname) != "crash_child" ||
                 !QByteArray(ps->pr_psargs).endsWith(" " + how.toLatin1())))
                return QStringLiteral("wrong process note");
            if (nh->n_type == NT_SIGINFO && reinterpret_cast<const siginfo_t*>(d)->si_signo != signal)
                return QStringLiteral("wrong signal note");
            for (quint64 a = 0; nh->n_type == NT_AUXV && a + 16 <= nh->n_descsz; a += 16)
                if (reinterpret_cast<const quint64*>(d + a)[0] == AT_SYSINFO_EHDR)
                    vdso = reinterpret_cast<const quint64*>(d + a)[1];
            types << nh->n_type;
            n = desc + (nh->n_descsz + 3) / 4 * 4 - ph->p_offset;
        }
    }
    if (types.mid(0, 5) != QList<quint32>{NT_PRSTATUS, NT_PRPSINFO, NT_SIGINFO, NT_AUXV, NT_FILE} ||
        types.count(NT_PRSTATUS) != threads)
        return QStringLiteral("notes out of order or missing");
    if (!inText)
        return QStringLiteral("the faulting instruction is not in read-only code");
    return vdsoWhole ? QString() : QStringLiteral("the vDSO is not dumped whole");
}

} // namespace

class TestCrashHandler : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void crash_data();
    void crash();
};

void TestCrashHandler::crash_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("faulting"); // a function on the faulting thread's stack
    QTest::addColumn<QString>("other");    // a function on another thread's stack
    QTest::newRow("SEGV in a named function") << "segv" << SIGSEGV << "segvInNamedFunction"
                                              << "holdLockInNamedFunction";
    QTest::newRow("abort") << "abort" << SIGABRT << "abortInNamedFunction"
                           << "holdLockInNamedFunction";
    // Inside the allocator, with its lock taken: fork() would hang here.
    QTest::newRow("double free") << "doublefree" << SIGABRT << "doubleFreeInNamedFunction"
                                 << "holdLockInNamedFunction";
    QTest::newRow("stack overflow in a worker thread")
        << "overflow" << SIGSEGV << "overflowInNamedFunction"
        << "main";
    QTest::newRow("fault while another thread holds a lock")
        << "locked" << SIGSEGV << "segvWhileLockHeld"
        << "holdLockInNamedFunction";
}

void TestCrashHandler::crash()
{
    QFETCH(QString, how);
    QFETCH(int, signal);
    QFETCH(QString, faulting);
    QFETCH(QString, other);
    TempWorkDir work;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(CrashHandler::kBoxRecordEnv), work.file(QStringLiteral("box.txt")));
    // Leave faults to our handler, not to a sanitizer's, and let the
    // sanitizer end a double free by abort() as the C library would.
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               QStringLiteral("handle_segv=0:handle_abort=0:handle_sigfpe=0:handle_sigbus=0:"
                              "handle_sigill=0:use_sigaltstack=0:abort_on_error=1:"
                              "detect_leaks=0"));
    env.insert(QStringLiteral("UBSAN_OPTIONS"), QStringLiteral("handle_segv=0:handle_sigfpe=0"));
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(work.path());
    child.start(QStringLiteral(CRASH_CHILD_PATH), {how});
    QVERIFY(child.waitForStarted());
    const qint64 pid = child.processId();
    // A bound for a hang, not a speed figure.
    QVERIFY2(child.waitForFinished(120000), "the crashing process did not end");
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(child.exitCode(), signal);

    // yyyyMMddhhmmss.dmp and .txt of the same moment.
    const QStringList files = QDir(work.path()).entryList({"*.dmp", "*.txt"}, QDir::Files, QDir::Name);
    const QString stamp = files.value(0).left(14);
    QCOMPARE(files, (QStringList{stamp + ".dmp", stamp + ".txt", "box.txt"}));
    const QDateTime when = QDateTime::fromString(stamp, "yyyyMMddhhmmss");
    QVERIFY2(when.isValid() && qAbs(when.secsTo(QDateTime::currentDateTime())) < 300, qPrintable(stamp));

    // The report: the signal, every thread, the faulting one's symbolic backtrace first.
    const QString report = QString::fromUtf8(ProgTest::readFile(work.file(files[1])));
    const int threads = QRegularExpression("threads \\((\\d+)\\)").match(report).captured(1).toInt();
    QVERIFY2(report.contains(QStringLiteral("(%1), code ").arg(signal)) && threads >= 2 &&
                 report.section("\n  thread ", 1, 1).contains(faulting), qPrintable(report));

    // The box: real, untranslated, with the signal and the faulting instruction.
    const QStringList box = QString::fromUtf8(ProgTest::readFile(work.file("box.txt"))).split('\n');
    const QRegularExpressionMatch text =
        QRegularExpression(QStringLiteral("^Code: 0x%1, address: (0x[0-9a-f]+)$").arg(signal, 0, 16))
            .match(box.value(1));
    QVERIFY2(box.value(0) == "Crash" && text.hasMatch() && box.value(2) == "OK", qPrintable(box.join('|')));
    QVERIFY(report.contains("instruction address: " + text.captured(1)));
    const QString wrong = checkCore(ProgTest::readFile(work.file(files[0])), signal, pid, how,
                                    text.captured(1).toULongLong(nullptr, 16), threads);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    // The debugger: the faulting thread first, its stack through the
    // handler down to the fault, and every thread of the process.
    QProcess gdb;
    gdb.setWorkingDirectory(work.path());
    gdb.start("gdb", {"-batch", "-nx", "-ex", "echo @faulting\\n", "-ex", "bt 60", "-ex", "echo @all\\n",
                      "-ex", "thread apply all bt 60", CRASH_CHILD_PATH, "-c", files[0]});
    QVERIFY2(gdb.waitForStarted(), "gdb is missing");
    QVERIFY(gdb.waitForFinished(120000));
    const QString out = QString::fromLocal8Bit(gdb.readAllStandardOutput());
    const QString faultingStack = out.section("@faulting\n", 1).section("@all\n", 0, 0);
    const QString all = out.section("@all\n", 1);
    QVERIFY2(faultingStack.contains("<signal handler called>") && faultingStack.contains(faulting) &&
                 all.contains(QRegularExpression(QStringLiteral("\\b%1\\b").arg(other))),
             qPrintable(out + QString::fromLocal8Bit(gdb.readAllStandardError())));
    QCOMPARE(all.count(QRegularExpression("^Thread \\d+ ", QRegularExpression::MultilineOption)), threads);
}

QTEST_GUILESS_MAIN(TestCrashHandler)
#include "tst_crashhandler.moc"
