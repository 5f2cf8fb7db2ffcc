#pragma once

// Turns a fatal fault of the process into a dump file and a "Crash" box.
//
// On a fatal signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) the handler
// runs on the faulting thread's alternate stack. It starts a helper, a copy
// of the program, with an argument and environment block prepared at
// install(): nothing in the handler allocates, locks or calls anything that
// is not async-signal-safe, so it cannot hang whatever state the process is
// in (a fault inside the allocator included). It lets the helper trace the
// process and waits for it. The helper, a healthy process, stops every
// thread, writes yyyyMMddhhmmss.dmp (an ELF core file of the whole process,
// for the debugger) and yyyyMMddhhmmss.txt (a short readable report) into the
// working directory, lets the threads go, and shows the untranslated "Crash"
// box ("Code: 0x<signal>, address: 0x<pc>"). When it has ended, the process
// ends with the signal's default action.
namespace CrashHandler {

void install();

// Gives the calling thread an alternate signal stack of its own, so that the
// handler also runs after a stack overflow on that thread. Every thread the
// program starts calls it first thing; the stack is freed when the thread
// ends. install() does it for the installing thread.
void prepareThread();

// The helper process is told about the crash through the environment.
constexpr const char* kBoxEnv = "FIELDMATE_CRASH_BOX";
// When set, the helper writes the box's title, text and buttons to this file
// and closes the box itself once it is up (used by tests, which cannot click
// a box away).
constexpr const char* kBoxRecordEnv = "FIELDMATE_CRASH_BOX_RECORD";

bool isCrashBoxProcess();
// The helper's whole run: dump, report, box.
int runCrashBox(int argc, char** argv);

} // namespace CrashHandler
