#include "app/crashhandler.h"

#include <QApplication>
#include <QFile>
#include "common/msgbox.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#if defined(__unix__) || defined(__APPLE__)
#include <execinfo.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>
#define FM_POSIX_CRASH 1
#endif

extern char** environ;

namespace CrashHandler {

void dumpFileName(char out[19], int year, int month, int day, int hour, int minute, int second)
{
    const int fields[] = {year, month, day, hour, minute, second};
    const int widths[] = {4, 2, 2, 2, 2, 2};
    int pos = 0;
    for (int f = 0; f < 6; ++f) {
        int value = fields[f];
        for (int d = widths[f] - 1; d >= 0; --d) {
            out[pos + d] = static_cast<char>('0' + value % 10);
            value /= 10;
        }
        pos += widths[f];
    }
    std::memcpy(out + pos, ".dmp", 5);
}

bool isCrashBoxProcess()
{
    return std::getenv(kBoxEnv) != nullptr;
}

int runCrashBox(int argc, char** argv)
{
    const QString text = QString::fromLocal8Bit(std::getenv(kBoxEnv));
    const char* record = std::getenv(kBoxRecordEnv);
    if (record && *record) {
        QFile file(QString::fromLocal8Bit(record));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(QByteArray("Crash\n") + text.toUtf8() + '\n');
        return 0;
    }
    QApplication app(argc, argv);
    // Untranslated on purpose: whatever broke may have been the translation.
    MsgBox::standard(QMessageBox::Critical, QStringLiteral("Crash"), text, QMessageBox::Ok,
                     QMessageBox::Ok);
    return 0;
}

#ifdef FM_POSIX_CRASH
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
char selfExe[4096];
char altStack[64 * 1024];
char boxEnvEntry[128];
char* childEnv[2048];
volatile sig_atomic_t handling = 0;

// Small async-signal-safe writers.
void putStr(int fd, const char* s)
{
    if (fd < 0)
        return;
    size_t n = std::strlen(s);
    while (n > 0) {
        const ssize_t w = ::write(fd, s, n);
        if (w <= 0)
            return;
        s += w;
        n -= static_cast<size_t>(w);
    }
}

// Lower-case hex without leading zeros, no prefix.
void formatHex(char* out, unsigned long long value)
{
    char tmp[32];
    int n = 0;
    do {
        tmp[n++] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
    } while (value);
    for (int i = 0; i < n; ++i)
        out[i] = tmp[n - 1 - i];
    out[n] = 0;
}

void formatDec(char* out, long long value)
{
    char tmp[32];
    int n = 0;
    const bool negative = value < 0;
    unsigned long long v = negative ? 0ULL - static_cast<unsigned long long>(value)
                                    : static_cast<unsigned long long>(value);
    do {
        tmp[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    int pos = 0;
    if (negative)
        out[pos++] = '-';
    for (int i = n - 1; i >= 0; --i)
        out[pos++] = tmp[i];
    out[pos] = 0;
}

void putHexLine(int fd, const char* label, unsigned long long value)
{
    char num[32];
    formatHex(num, value);
    putStr(fd, label);
    putStr(fd, "0x");
    putStr(fd, num);
    putStr(fd, "\n");
}

void putDecLine(int fd, const char* label, long long value)
{
    char num[32];
    formatDec(num, value);
    putStr(fd, label);
    putStr(fd, num);
    putStr(fd, "\n");
}

const char* signalName(int sig)
{
    switch (sig) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "?";
    }
}

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

void copyFile(int out, const char* path)
{
    const int in = ::open(path, O_RDONLY);
    if (in < 0)
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n <= 0)
            break;
        if (::write(out, buffer, static_cast<size_t>(n)) != n)
            break;
    }
    ::close(in);
}

void writeDump(int fd, int sig, siginfo_t* info, unsigned long long pc)
{
    putStr(fd, "Fieldmate " FIELDMATE_VERSION " crash dump\n");
    putStr(fd, "signal: ");
    putStr(fd, signalName(sig));
    putStr(fd, "\n");
    putDecLine(fd, "signal number: ", sig);
    putDecLine(fd, "signal code: ", info ? info->si_code : 0);
    putHexLine(fd, "fault address: ",
               info ? reinterpret_cast<unsigned long long>(info->si_addr) : 0);
    putHexLine(fd, "instruction address: ", pc);
    putDecLine(fd, "process: ", ::getpid());
#ifdef SYS_gettid
    putDecLine(fd, "thread: ", static_cast<long long>(::syscall(SYS_gettid)));
#endif
    putStr(fd, "\nbacktrace:\n");
    void* frames[128];
    const int count = ::backtrace(frames, 128);
    ::backtrace_symbols_fd(frames, count, fd);
    putStr(fd, "\nmemory map:\n");
    copyFile(fd, "/proc/self/maps");
}

void showBox(int sig, unsigned long long address)
{
    // "Code: 0x<sig>, address: 0x<address>" in the environment of the child.
    char num[32];
    std::strcpy(boxEnvEntry, kBoxEnv);
    std::strcat(boxEnvEntry, "=Code: 0x");
    formatHex(num, static_cast<unsigned long long>(sig));
    std::strcat(boxEnvEntry, num);
    std::strcat(boxEnvEntry, ", address: 0x");
    formatHex(num, address);
    std::strcat(boxEnvEntry, num);

    size_t n = 0;
    const size_t boxEnvLen = std::strlen(kBoxEnv);
    for (char** e = environ; e && *e && n + 2 < sizeof childEnv / sizeof childEnv[0]; ++e) {
        if (std::strncmp(*e, kBoxEnv, boxEnvLen) == 0 && (*e)[boxEnvLen] == '=')
            continue;
        childEnv[n++] = *e;
    }
    childEnv[n++] = boxEnvEntry;
    childEnv[n] = nullptr;

    if (!selfExe[0])
        return;
    const pid_t child = ::fork();
    if (child == 0) {
        char* const args[] = {selfExe, nullptr};
        ::execve(selfExe, args, childEnv);
        ::_exit(127);
    }
    if (child > 0) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

// Ends the process the way the signal would have (the signal is blocked
// while its handler runs, so unblock it before raising it again).
[[noreturn]] void endWithSignal(int sig)
{
    ::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
    ::_exit(128 + sig);
}

void onFatalSignal(int sig, siginfo_t* info, void* context)
{
    if (handling) // a fault inside the handler: give up at once
        endWithSignal(sig);
    handling = 1;

    const unsigned long long pc = instructionPointer(context);
    const unsigned long long address =
        pc ? pc : (info ? reinterpret_cast<unsigned long long>(info->si_addr) : 0);

    const time_t now = ::time(nullptr);
    struct tm local;
    ::localtime_r(&now, &local);
    char name[19];
    dumpFileName(name, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                 local.tm_min, local.tm_sec);

    const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        writeDump(fd, sig, info, pc);
        ::close(fd);
    }

    showBox(sig, address);

    endWithSignal(sig);
}

} // namespace

void install()
{
    const ssize_t len = ::readlink("/proc/self/exe", selfExe, sizeof selfExe - 1);
    selfExe[len > 0 ? len : 0] = 0;

    // backtrace() loads its unwinder on first use, which allocates: do it now.
    void* warm[2];
    ::backtrace(warm, 2);
    ::tzset();

    stack_t stack{};
    stack.ss_sp = altStack;
    stack.ss_size = sizeof altStack;
    stack.ss_flags = 0;
    ::sigaltstack(&stack, nullptr);

    struct sigaction action{};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals)
        ::sigaction(sig, &action, nullptr);
}
#else
void install() {}
#endif

} // namespace CrashHandler
