#pragma once

#include <QString>
#include <QtGlobal>

// Writes the dump of a crashed process from outside it: an ELF core file of
// the whole process (every thread's registers, the memory, the process
// notes), which a debugger opens together with the program, and a short
// readable report beside it.
//
// The writer is a separate, healthy process (the crash box process). The
// crashed process has allowed it to trace it and waits in its signal handler
// until the writer is done. The core is written on Linux for x86_64 and
// aarch64; elsewhere only the report is.
namespace CoreDump {

struct Crash
{
    qint64 pid = 0;             // the crashed process
    qint64 tid = 0;             // its faulting thread
    int signal = 0;             // the fatal signal
    int code = 0;               // its si_code
    quint64 faultAddress = 0;   // si_addr
    quint64 pc = 0;             // instruction address of the fault, 0 when unknown
    quint64 siginfoAddress = 0; // where the handler's siginfo_t lies in the crashed process
};

// Whether this build can write core files.
bool coreSupported();

// Stops every thread of the crashed process, writes the core to `corePath`
// (when supported and the process could be traced) and the report to
// `reportPath`, then lets the threads go on. Returns whether the core was
// written; the report is written in any case.
bool write(const Crash& crash, const QString& corePath, const QString& reportPath);

} // namespace CoreDump
