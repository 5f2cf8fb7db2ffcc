#include "app/crashhandler.h"

#include "app/coredump.h"
#include "common/msgbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#define FM_POSIX_CRASH 1
#endif

extern char** environ;

namespace CrashHandler {

bool isCrashBoxProcess()
{
    return std::getenv(kBoxEnv) != nullptr;
}

namespace {

// What the handler tells the helper, as the decimal or hexadecimal fields of
// the helper's kBoxEnv entry, in this order.
enum Field
{
    FieldPid,
    FieldTid,
    FieldSignal,
    FieldCode,
    FieldFaultAddress, // hex
    FieldPc,           // hex
    FieldTime,         // seconds since the epoch
    FieldGoRead,       // the pipe on which the helper waits until it may trace
    FieldGoWrite,
    FieldSiginfo, // hex
    FieldCount
};

// Closes the box the helper shows once it is up, after writing down what it
// shows (the seam for tests: the box is real, but nobody is there to click).
void answerBoxItself(const QString& recordPath)
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, recordPath] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        timer->stop();
        QStringList buttons;
        for (QAbstractButton* button : box->buttons())
            buttons << button->text();
        QFile file(recordPath);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write((box->windowTitle() + QLatin1Char('\n') + box->text() + QLatin1Char('\n') +
                        buttons.join(QLatin1Char(',')) + QLatin1Char('\n'))
                           .toUtf8());
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
    });
    timer->start(10);
}

} // namespace

int runCrashBox(int argc, char** argv)
{
    const QList<QByteArray> fields = QByteArray(std::getenv(kBoxEnv)).split(' ');
    auto number = [&fields](int index, int base = 10) {
        return fields.size() == FieldCount ? fields[index].toULongLong(nullptr, base) : 0ULL;
    };
    CoreDump::Crash crash;
    crash.pid = static_cast<qint64>(number(FieldPid));
    crash.tid = static_cast<qint64>(number(FieldTid));
    crash.signal = static_cast<int>(number(FieldSignal));
    crash.code = fields.size() == FieldCount ? fields[FieldCode].toInt() : 0; // may be negative
    crash.faultAddress = number(FieldFaultAddress, 16);
    crash.pc = number(FieldPc, 16);
    crash.siginfoAddress = number(FieldSiginfo, 16);
    const qint64 seconds = static_cast<qint64>(number(FieldTime));
    const QDateTime when =
        seconds > 0 ? QDateTime::fromSecsSinceEpoch(seconds) : QDateTime::currentDateTime();
    const QString name = when.toString(QStringLiteral("yyyyMMddhhmmss"));

#ifdef FM_POSIX_CRASH
    if (fields.size() == FieldCount) {
        ::close(static_cast<int>(number(FieldGoWrite)));
        // The crashed process says "go" once it has allowed us to trace it.
        const int go = static_cast<int>(number(FieldGoRead));
        pollfd wait{go, POLLIN, 0};
        char byte = 0;
        const bool allowed = ::poll(&wait, 1, 10000) == 1 && ::read(go, &byte, 1) == 1;
        ::close(go);
        if (allowed && crash.pid > 0)
            CoreDump::write(crash, name + QStringLiteral(".dmp"), name + QStringLiteral(".txt"));
    }
#endif

    const quint64 address = crash.pc ? crash.pc : crash.faultAddress;
    // Untranslated on purpose: whatever broke may have been the translation.
    const QString text = QStringLiteral("Code: 0x%1, address: 0x%2")
                             .arg(QString::number(crash.signal, 16), QString::number(address, 16));
    QApplication app(argc, argv);
    const char* record = std::getenv(kBoxRecordEnv);
    if (record && *record)
        answerBoxItself(QString::fromLocal8Bit(record));
    MsgBox::standard(QMessageBox::Critical, QStringLiteral("Crash"), text, QMessageBox::Ok,
                     QMessageBox::Ok);
    return 0;
}

#ifdef FM_POSIX_CRASH
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// Everything the handler needs, prepared by install().
bool ready = false;
const char* helperPath = nullptr;
char selfExe[4096];
char* helperArgv[2] = {selfExe, nullptr};
char** helperEnv = nullptr;
char helperEnvEntry[512]; // kBoxEnv=<fields>, filled in at the crash
posix_spawnattr_t helperAttributes;
// The thread that is handling a crash (0: none yet).
std::atomic<long> handlingThread{0};

// Async-signal-safe text building into a fixed buffer.
struct Text
{
    char* out;
    size_t capacity;
    size_t length = 0;

    void put(char c)
    {
        if (length + 1 < capacity)
            out[length++] = c;
        out[length] = 0;
    }
    void str(const char* s)
    {
        while (*s)
            put(*s++);
    }
    void number(unsigned long long value, unsigned base)
    {
        char digits[32];
        int n = 0;
        do {
            digits[n++] = "0123456789abcdef"[value % base];
            value /= base;
        } while (value);
        while (n > 0)
            put(digits[--n]);
    }
    void dec(long long value)
    {
        if (value < 0) {
            put('-');
            number(0ULL - static_cast<unsigned long long>(value), 10);
        } else {
            number(static_cast<unsigned long long>(value), 10);
        }
    }
    void hex(unsigned long long value) { number(value, 16); }
};

unsigned long long instructionPointer(void* context)
{
    auto* uc = static_cast<ucontext_t*>(context);
    if (!uc)
        return 0;
#if defined(__x86_64__)
    return static_cast<unsigned long long>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return static_cast<unsigned long long>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return static_cast<unsigned long long>(uc->uc_mcontext.pc);
#else
    return 0;
#endif
}

long currentThreadId()
{
#ifdef SYS_gettid
    return static_cast<long>(::syscall(SYS_gettid));
#else
    return static_cast<long>(::getpid());
#endif
}

// Ends the process the way the signal would have (the signal is blocked
// while its handler runs, so unblock it before raising it again).
[[noreturn]] void endWithSignal(int sig)
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(sig, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
    ::_exit(128 + sig);
}

void onFatalSignal(int sig, siginfo_t* info, void* context)
{
    const long self = currentThreadId();
    long expected = 0;
    if (!handlingThread.compare_exchange_strong(expected, self)) {
        if (expected == self) // a fault inside the handler: give up at once
            endWithSignal(sig);
        // Another thread is handling its crash and will end the process.
        for (;;)
            ::pause();
    }
    if (!ready)
        endWithSignal(sig);

    const unsigned long long pc = instructionPointer(context);
    const unsigned long long faultAddress =
        info ? reinterpret_cast<unsigned long long>(info->si_addr) : 0;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);

    int go[2] = {-1, -1};
    if (::pipe(go) != 0)
        go[0] = go[1] = -1;

    Text entry{helperEnvEntry, sizeof helperEnvEntry};
    entry.str(kBoxEnv);
    entry.put('=');
    entry.dec(::getpid());
    entry.put(' ');
    entry.dec(self);
    entry.put(' ');
    entry.dec(sig);
    entry.put(' ');
    entry.dec(info ? info->si_code : 0);
    entry.put(' ');
    entry.hex(faultAddress);
    entry.put(' ');
    entry.hex(pc);
    entry.put(' ');
    entry.dec(static_cast<long long>(now.tv_sec));
    entry.put(' ');
    entry.dec(go[0]);
    entry.put(' ');
    entry.dec(go[1]);
    entry.put(' ');
    entry.hex(reinterpret_cast<unsigned long long>(info));

    // posix_spawn starts the helper without fork()'s handlers and locks, on
    // a stack of its own; its argument and environment blocks are ready.
    pid_t helper = -1;
    if (::posix_spawn(&helper, helperPath, nullptr, &helperAttributes, helperArgv, helperEnv) != 0)
        helper = -1;
    if (go[0] >= 0)
        ::close(go[0]);
    if (helper > 0) {
#ifdef __linux__
        // Where ptrace is restricted to ancestors, let the helper trace us.
        ::prctl(PR_SET_PTRACER, static_cast<unsigned long>(helper), 0, 0, 0);
#endif
        if (go[1] >= 0)
            (void)!::write(go[1], "g", 1);
    }
    if (go[1] >= 0)
        ::close(go[1]);
    if (helper > 0) {
        int status = 0;
        while (::waitpid(helper, &status, 0) < 0 && errno == EINTR) {
        }
    }
    endWithSignal(sig);
}

struct ThreadStack
{
    char* base = nullptr;
    size_t size = 0;
    size_t guard = 0;
    stack_t previous{};

    ~ThreadStack()
    {
        if (!base)
            return;
        // Put back whatever was there before, if ours is still in use.
        stack_t current{};
        if (::sigaltstack(nullptr, &current) == 0 && current.ss_sp == base + guard) {
            stack_t restore = previous;
            if (!restore.ss_sp)
                restore.ss_flags = SS_DISABLE;
            ::sigaltstack(&restore, nullptr);
        }
        ::munmap(base, size);
    }
};

thread_local ThreadStack threadStack;

} // namespace

void prepareThread()
{
    if (threadStack.base)
        return;
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    size_t usable = 64 * 1024;
#ifdef _SC_SIGSTKSZ
    const long minimum = ::sysconf(_SC_SIGSTKSZ);
    if (minimum > 0 && static_cast<size_t>(minimum) * 4 > usable)
        usable = static_cast<size_t>(minimum) * 4;
#endif
    usable = (usable + page - 1) / page * page;
    // A guard page below: a handler that overflows faults instead of
    // overwriting whatever lies beneath.
    void* base =
        ::mmap(nullptr, usable + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return;
    ::mprotect(base, page, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(base) + page;
    stack.ss_size = usable;
    stack.ss_flags = 0;
    stack_t previous{};
    if (::sigaltstack(&stack, &previous) != 0) {
        ::munmap(base, usable + page);
        return;
    }
    threadStack.base = static_cast<char*>(base);
    threadStack.size = usable + page;
    threadStack.guard = page;
    threadStack.previous = (previous.ss_flags & SS_DISABLE) ? stack_t{} : previous;
}

void install()
{
    if (isCrashBoxProcess() || ready)
        return; // the helper itself does not report its own crashes

    const ssize_t len = ::readlink("/proc/self/exe", selfExe, sizeof selfExe - 1);
    selfExe[len > 0 ? len : 0] = 0;
#ifdef __linux__
    // Still the right program if its file was replaced or removed meanwhile.
    helperPath = "/proc/self/exe";
#else
    helperPath = selfExe[0] ? selfExe : nullptr;
#endif
    if (!selfExe[0])
        std::strcpy(selfExe, "fieldmate");

    // The helper's environment: a copy of today's plus the entry filled in
    // at the crash.
    size_t count = 0;
    for (char** e = environ; e && *e; ++e)
        ++count;
    helperEnv = new char*[count + 2];
    size_t n = 0;
    const size_t prefix = std::strlen(kBoxEnv);
    for (char** e = environ; e && *e; ++e) {
        if (std::strncmp(*e, kBoxEnv, prefix) == 0 && (*e)[prefix] == '=')
            continue;
        helperEnv[n++] = ::strdup(*e);
    }
    helperEnv[n++] = helperEnvEntry;
    helperEnv[n] = nullptr;

    // The helper starts with no signal blocked and every signal at its default.
    ::posix_spawnattr_init(&helperAttributes);
    ::posix_spawnattr_setflags(&helperAttributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&helperAttributes, &none);
    ::posix_spawnattr_setsigdefault(&helperAttributes, &all);

    prepareThread();
    ready = helperPath != nullptr;

    struct sigaction action = {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // Nothing else interrupts the handler.
    sigfillset(&action.sa_mask);
    for (int sig : kSignals)
        ::sigaction(sig, &action, nullptr);
}
#else
void install() {}
void prepareThread() {}
#endif

} // namespace CrashHandler
