// Crashes on purpose after installing the crash handler: "segv", "abort" or
// "fpe" as the first argument, optionally in a second thread ("thread").
#include "app/crashhandler.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

volatile int zero = 0;

// A real fault, not one of the sanitizers' reports.
[[gnu::noinline]] __attribute__((no_sanitize("address", "undefined"))) void
crash(const char* how)
{
    if (std::strcmp(how, "abort") == 0)
        std::abort();
    if (std::strcmp(how, "fpe") == 0)
        std::raise(SIGFPE);
    volatile int* p = nullptr;
    *p = 42 + zero;
}

} // namespace

int main(int argc, char** argv)
{
    CrashHandler::install();
    if (CrashHandler::isCrashBoxProcess())
        return CrashHandler::runCrashBox(argc, argv);
    const char* how = argc > 1 ? argv[1] : "segv";
    if (argc > 2 && std::strcmp(argv[2], "thread") == 0) {
        std::thread worker([how] { crash(how); });
        worker.join();
    } else {
        crash(how);
    }
    return 0;
}
