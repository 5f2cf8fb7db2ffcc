// Crashes on purpose after installing the crash handler, in the way the
// first argument names: "segv", "abort", "doublefree", "overflow" (stack
// overflow in a worker thread) or "locked" (a fault while another thread
// holds a lock). Each way faults in a function of its own name, which the
// test looks for in the dump.
#include "app/crashhandler.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

volatile int zero = 0;
std::mutex heldLock;
std::atomic<bool> lockHeld{false};

// Real faults, not the sanitizers' reports of them.
#define FM_REAL_FAULT [[gnu::noinline]] __attribute__((no_sanitize("address", "undefined")))

FM_REAL_FAULT void segvInNamedFunction()
{
    volatile int* p = nullptr;
    *p = 42 + zero;
}

[[gnu::noinline]] void abortInNamedFunction()
{
    std::abort();
}

// A block too large for the allocator's per-thread caches: the second free
// fails inside the allocator while it holds its arena lock.
[[gnu::noinline]] void doubleFreeInNamedFunction()
{
    void* volatile block = std::malloc(100000);
    void* volatile after = std::malloc(100000); // keeps the block off the heap's top
    std::free(block);
    std::free(block);
    std::free(after);
}

FM_REAL_FAULT int overflowInNamedFunction(int depth)
{
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    if (depth == -1 - zero) // never: keeps the compiler from seeing endless recursion
        return frame[0];
    return overflowInNamedFunction(depth + 1) + frame[0];
}

[[gnu::noinline]] void waitForeverInNamedFunction()
{
    std::mutex never;
    std::condition_variable forever;
    std::unique_lock<std::mutex> wait(never);
    forever.wait(wait, [] { return false; });
}

[[gnu::noinline]] void holdLockInNamedFunction()
{
    std::lock_guard<std::mutex> guard(heldLock);
    lockHeld = true;
    waitForeverInNamedFunction();
}

FM_REAL_FAULT void segvWhileLockHeld()
{
    volatile int* p = nullptr;
    *p = 7 + zero;
}

} // namespace

int main(int argc, char** argv)
{
    CrashHandler::install();
    if (CrashHandler::isCrashBoxProcess())
        return CrashHandler::runCrashBox(argc, argv);

    const char* how = argc > 1 ? argv[1] : "segv";
    if (std::strcmp(how, "overflow") == 0) {
        std::thread worker([] {
            CrashHandler::prepareThread();
            overflowInNamedFunction(0);
        });
        worker.join();
        return 0;
    }
    // Another thread exists, as threads of the program do; it holds a lock.
    std::thread holder(holdLockInNamedFunction);
    while (!lockHeld)
        std::this_thread::yield();
    if (std::strcmp(how, "locked") == 0) {
        // A worker faults while this thread waits for the lock the holder has.
        std::thread worker(segvWhileLockHeld);
        std::lock_guard<std::mutex> blocked(heldLock);
        worker.join();
    } else if (std::strcmp(how, "abort") == 0) {
        abortInNamedFunction();
    } else if (std::strcmp(how, "doublefree") == 0) {
        doubleFreeInNamedFunction();
    } else {
        segvInNamedFunction();
    }
    holder.join();
    return 0;
}
