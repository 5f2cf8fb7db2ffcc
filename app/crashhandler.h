#pragma once

// Turns a fatal fault of the process into a dump file and a "Crash" box.
//
// On a fatal signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) the handler,
// running on an alternate stack, writes yyyyMMddhhmmss.dmp into the working
// directory: the signal, the fault and instruction addresses, the thread, a
// backtrace and the memory map. It then starts a copy of the program that only
// shows the untranslated "Crash" box ("Code: 0x<signal>, address: 0x<pc>"),
// since no box can be shown from inside a signal handler, waits for it, and
// ends the process with the signal's default action.
namespace CrashHandler {

void install();

// The box process is told what to show through the environment.
constexpr const char* kBoxEnv = "FIELDMATE_CRASH_BOX";
// When set, the box process writes its title and text to this file instead of
// showing a box (used by tests, which cannot click a box away).
constexpr const char* kBoxRecordEnv = "FIELDMATE_CRASH_BOX_RECORD";

bool isCrashBoxProcess();
int runCrashBox(int argc, char** argv);

// Formats the dump name for a broken-down local time ("yyyyMMddhhmmss.dmp").
// Writes at most 19 bytes including the terminating zero.
void dumpFileName(char out[19], int year, int month, int day, int hour, int minute, int second);

} // namespace CrashHandler
