#include "app/coredump.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QVector>

#include <csignal>
#include <cstring>

#if defined(__linux__) && (defined(__x86_64__) || defined(__aarch64__))
#define FM_CORE_WRITER 1
#include <elf.h>
#include <fcntl.h>
#include <sys/procfs.h>
#include <sys/ptrace.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef FM_HAVE_LIBDW
#include <cstdlib>
#include <cxxabi.h>
#include <elfutils/libdwfl.h>
#endif
#endif

namespace CoreDump {
namespace {

struct Mapping
{
    quint64 start = 0;
    quint64 end = 0;
    quint64 offset = 0;
    QByteArray perms; // "rwxp"
    QByteArray path;  // empty for anonymous memory
    bool dontDump = false;
    bool written = false; // private pages that differ from the file ("Anonymous" in smaps)

    bool readable() const { return perms.startsWith('r'); }
    bool writable() const { return perms.size() > 1 && perms[1] == 'w'; }
    bool executable() const { return perms.size() > 2 && perms[2] == 'x'; }
    bool shared() const { return perms.size() > 3 && perms[3] == 's'; }
    bool anonymous() const
    {
        return path.isEmpty() || path == "[heap]" || path == "[stack]" ||
               path.startsWith("[anon:") || path.startsWith("[stack:");
    }
    bool fileBacked() const { return path.startsWith('/'); }
};

QByteArray readProcFile(const QString& path)
{
    // Files under /proc report size 0: read until the end.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    QByteArray all;
    for (;;) {
        const QByteArray part = file.read(65536);
        if (part.isEmpty())
            break;
        all += part;
    }
    return all;
}

// /proc/PID/smaps: the maps lines, each followed by fields; "VmFlags" tells
// which mappings the process asked to leave out of dumps ("dd") and which are
// device memory ("io").
QList<Mapping> readMappings(qint64 pid)
{
    QList<Mapping> mappings;
    const QList<QByteArray> lines =
        readProcFile(QStringLiteral("/proc/%1/smaps").arg(pid)).split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2)
            continue;
        if (fields[0] == "Anonymous:") {
            if (!mappings.isEmpty() && fields[1].toULongLong() > 0)
                mappings.last().written = true;
            continue;
        }
        if (fields[0] == "VmFlags:") {
            if (!mappings.isEmpty() && (fields.contains("dd") || fields.contains("io")))
                mappings.last().dontDump = true;
            continue;
        }
        const int dash = fields[0].indexOf('-');
        if (fields.size() < 5 || dash <= 0 || fields[0].endsWith(':'))
            continue;
        Mapping m;
        bool ok1 = false, ok2 = false, ok3 = false;
        m.start = fields[0].left(dash).toULongLong(&ok1, 16);
        m.end = fields[0].mid(dash + 1).toULongLong(&ok2, 16);
        m.offset = fields[2].toULongLong(&ok3, 16);
        if (!ok1 || !ok2 || !ok3 || m.end <= m.start)
            continue;
        m.perms = fields[1];
        // The path is the rest of the line after the inode (it may contain spaces).
        const int inodeAt = line.indexOf(fields[4], line.indexOf(fields[3]) + fields[3].size());
        m.path = line.mid(inodeAt + fields[4].size()).trimmed();
        mappings << m;
    }
    return mappings;
}

const Mapping* mappingAt(const QList<Mapping>& mappings, quint64 address)
{
    for (const Mapping& m : mappings)
        if (address >= m.start && address < m.end)
            return &m;
    return nullptr;
}

QString hex(quint64 value)
{
    return QStringLiteral("0x") + QString::number(value, 16);
}

// "0x7f12... (/usr/lib/libc.so.6+0x2a1b0)"
QString describeAddress(const QList<Mapping>& mappings, quint64 address)
{
    const Mapping* m = mappingAt(mappings, address);
    if (!m || m->path.isEmpty())
        return hex(address);
    return QStringLiteral("%1 (%2+%3)")
        .arg(hex(address), QString::fromLocal8Bit(m->path), hex(address - m->start + m->offset));
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
        return "signal";
    }
}

QByteArray threadName(qint64 pid, qint64 tid)
{
    return readProcFile(QStringLiteral("/proc/%1/task/%2/comm").arg(pid).arg(tid)).trimmed();
}

#ifdef FM_CORE_WRITER

struct Thread
{
    pid_t tid = 0;
    int pendingSignal = 0; // a signal the stop took from the thread, given back at detach
    elf_gregset_t regs{};
    elf_fpregset_t fpregs{};
    bool hasFpregs = false;
};

quint64 programCounter(const elf_gregset_t& regs)
{
#if defined(__x86_64__)
    user_regs_struct r;
    std::memcpy(&r, &regs, sizeof r);
    return r.rip;
#else
    user_regs_struct r;
    std::memcpy(&r, &regs, sizeof r);
    return r.pc;
#endif
}

quint64 stackPointer(const elf_gregset_t& regs)
{
    user_regs_struct r;
    std::memcpy(&r, &regs, sizeof r);
#if defined(__x86_64__)
    return r.rsp;
#else
    return r.sp;
#endif
}

// Waits, within a bound, until a seized thread has stopped.
bool waitForStop(Thread& thread)
{
    for (int i = 0; i < 2000; ++i) {
        int status = 0;
        const pid_t r = ::waitpid(thread.tid, &status, __WALL | WNOHANG);
        if (r == thread.tid) {
            if (!WIFSTOPPED(status))
                return false; // the thread ended
            if ((status >> 16) != PTRACE_EVENT_STOP)
                thread.pendingSignal = WSTOPSIG(status);
            return true;
        }
        if (r < 0)
            return false;
        ::usleep(1000);
    }
    return false;
}

// Stops every thread of the process. Threads started meanwhile are caught by
// listing the threads again until no new one turns up.
QVector<Thread> stopThreads(pid_t pid, pid_t faulting)
{
    QVector<Thread> threads;
    QList<pid_t> seen;
    for (int round = 0; round < 50; ++round) {
        bool added = false;
        const QStringList tids = QDir(QStringLiteral("/proc/%1/task").arg(pid))
                                     .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString& name : tids) {
            const pid_t tid = name.toInt();
            if (tid <= 0 || seen.contains(tid))
                continue;
            seen << tid;
            if (::ptrace(PTRACE_SEIZE, tid, nullptr, nullptr) != 0)
                continue;
            Thread thread;
            thread.tid = tid;
            ::ptrace(PTRACE_INTERRUPT, tid, nullptr, nullptr);
            if (!waitForStop(thread)) {
                ::ptrace(PTRACE_DETACH, tid, nullptr, nullptr);
                continue;
            }
            iovec io{&thread.regs, sizeof thread.regs};
            if (::ptrace(PTRACE_GETREGSET, tid, reinterpret_cast<void*>(NT_PRSTATUS), &io) != 0) {
                ::ptrace(PTRACE_DETACH, tid, nullptr,
                         reinterpret_cast<void*>(static_cast<long>(thread.pendingSignal)));
                continue;
            }
            io = {&thread.fpregs, sizeof thread.fpregs};
            thread.hasFpregs =
                ::ptrace(PTRACE_GETREGSET, tid, reinterpret_cast<void*>(NT_PRFPREG), &io) == 0;
            // The faulting thread comes first: a debugger starts with it.
            if (tid == faulting)
                threads.prepend(thread);
            else
                threads.append(thread);
            added = true;
        }
        if (!added)
            break;
    }
    return threads;
}

void resumeThreads(const QVector<Thread>& threads)
{
    for (const Thread& thread : threads)
        ::ptrace(PTRACE_DETACH, thread.tid, nullptr,
                 reinterpret_cast<void*>(static_cast<long>(thread.pendingSignal)));
}

struct ProcessInfo
{
    pid_t ppid = 0, pgrp = 0, sid = 0;
    unsigned uid = 0, gid = 0;
    QByteArray comm;
    QByteArray args;
};

ProcessInfo processInfo(pid_t pid)
{
    ProcessInfo info;
    // "pid (comm) state ppid pgrp session ...": comm may hold spaces and parentheses.
    const QByteArray stat = readProcFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const int open = stat.indexOf('(');
    const int close = stat.lastIndexOf(')');
    if (open > 0 && close > open) {
        info.comm = stat.mid(open + 1, close - open - 1);
        const QList<QByteArray> rest = stat.mid(close + 2).split(' ');
        if (rest.size() > 3) {
            info.ppid = rest[1].toInt();
            info.pgrp = rest[2].toInt();
            info.sid = rest[3].toInt();
        }
    }
    const QList<QByteArray> status =
        readProcFile(QStringLiteral("/proc/%1/status").arg(pid)).split('\n');
    for (const QByteArray& line : status) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() > 1 && f[0] == "Uid:")
            info.uid = f[1].toUInt();
        if (f.size() > 1 && f[0] == "Gid:")
            info.gid = f[1].toUInt();
    }
    info.args = readProcFile(QStringLiteral("/proc/%1/cmdline").arg(pid));
    info.args.replace('\0', ' ');
    info.args = info.args.trimmed();
    return info;
}

template <typename T> QByteArray bytesOf(const T& value)
{
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

void appendNote(QByteArray& notes, quint32 type, const QByteArray& desc,
                const QByteArray& name = QByteArrayLiteral("CORE"))
{
    Elf64_Nhdr header{};
    header.n_namesz = static_cast<Elf64_Word>(name.size() + 1);
    header.n_descsz = static_cast<Elf64_Word>(desc.size());
    header.n_type = type;
    notes += bytesOf(header);
    notes += name;
    notes += '\0';
    notes.append((4 - notes.size() % 4) % 4, '\0');
    notes += desc;
    notes.append((4 - notes.size() % 4) % 4, '\0');
}

// Which part of a mapping goes into the core, as the kernel chooses by
// default: anonymous memory and private file mappings with written pages
// whole (relocated data and the dynamic linker's tables among them), of
// other mapped files the first page (their headers identify them), nothing of
// what the process marked as not to be dumped. Files' other contents come
// from the files themselves.
quint64 dumpedSize(const Mapping& m, quint64 pageSize)
{
    const quint64 size = m.end - m.start;
    if (!m.readable() || m.dontDump || m.path.startsWith("[vvar") || m.path == "[vsyscall]")
        return 0;
    // Huge reservations (sanitizer shadows and the like) would make a core of
    // terabytes; they are left out.
    constexpr quint64 kMaxMapping = quint64(1) << 32;
    if (size > kMaxMapping)
        return 0;
    if (m.anonymous() || m.path == "[vdso]" || !m.fileBacked())
        return size;
    const bool sharedMemory = m.path.startsWith("/memfd:") || m.path.startsWith("/SYSV") ||
                              m.path.startsWith("/dev/zero");
    if (sharedMemory || (!m.shared() && (m.writable() || m.written)))
        return size;
    return m.offset == 0 ? qMin(size, pageSize) : 0;
}

bool allZero(const char* data, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (data[i])
            return false;
    return true;
}

// Copies [start, start + size) of the process into the core at `fileOffset`.
// Pages that cannot be read or are all zero stay holes, which read as zero.
// For anonymous memory the page map tells which pages exist at all.
void copyMemory(int core, int mem, int pagemap, const Mapping& m, quint64 size, quint64 fileOffset,
                quint64 pageSize)
{
    constexpr quint64 kPagesPerChunk = 256;
    QByteArray buffer(static_cast<int>(kPagesPerChunk * pageSize), '\0');
    quint64 entries[kPagesPerChunk];
    for (quint64 done = 0; done < size; done += kPagesPerChunk * pageSize) {
        const quint64 pages = qMin(kPagesPerChunk, (size - done) / pageSize);
        const quint64 address = m.start + done;
        bool known = false;
        if (pagemap >= 0 && m.anonymous()) {
            const ssize_t n = ::pread(pagemap, entries, pages * 8, (address / pageSize) * 8);
            known = n == static_cast<ssize_t>(pages * 8);
        }
        for (quint64 page = 0; page < pages;) {
            // A run of pages that exist (present or swapped out).
            constexpr quint64 kPresent = quint64(1) << 63, kSwapped = quint64(1) << 62;
            if (known && !(entries[page] & (kPresent | kSwapped))) {
                ++page;
                continue;
            }
            quint64 run = 1;
            while (page + run < pages && (!known || (entries[page + run] & (kPresent | kSwapped))))
                ++run;
            const quint64 bytes = run * pageSize;
            const quint64 at = address + page * pageSize;
            char* data = buffer.data();
            if (::pread(mem, data, bytes, static_cast<off_t>(at)) == static_cast<ssize_t>(bytes)) {
                for (quint64 p = 0; p < run; ++p) {
                    const char* pageData = data + p * pageSize;
                    if (!allZero(pageData, pageSize))
                        (void)!::pwrite(
                            core, pageData, pageSize,
                            static_cast<off_t>(fileOffset + done + (page + p) * pageSize));
                }
            } else {
                // Something in the run is unreadable: page by page.
                for (quint64 p = 0; p < run; ++p) {
                    const quint64 pageAt = at + p * pageSize;
                    if (::pread(mem, data, pageSize, static_cast<off_t>(pageAt)) ==
                            static_cast<ssize_t>(pageSize) &&
                        !allZero(data, pageSize))
                        (void)!::pwrite(
                            core, data, pageSize,
                            static_cast<off_t>(fileOffset + done + (page + p) * pageSize));
                }
            }
            page += run;
        }
    }
}

// The signal's details as the handler got them, or what the handler told.
siginfo_t signalInfo(const Crash& crash)
{
    siginfo_t si{};
    si.si_signo = crash.signal;
    si.si_code = crash.code;
    si.si_addr = reinterpret_cast<void*>(crash.faultAddress);
    if (crash.siginfoAddress) {
        QFile mem(QStringLiteral("/proc/%1/mem").arg(crash.pid));
        siginfo_t real{};
        if (mem.open(QIODevice::ReadOnly | QIODevice::Unbuffered) &&
            mem.seek(static_cast<qint64>(crash.siginfoAddress)) &&
            mem.read(reinterpret_cast<char*>(&real), sizeof real) == sizeof real &&
            real.si_signo == crash.signal)
            si = real;
    }
    return si;
}

bool writeCore(const Crash& crash, const QVector<Thread>& threads, const QList<Mapping>& mappings,
               const QString& corePath)
{
    const pid_t pid = static_cast<pid_t>(crash.pid);
    const quint64 pageSize = static_cast<quint64>(::sysconf(_SC_PAGESIZE));
    const ProcessInfo info = processInfo(pid);

    // Notes: the process, then each thread (the faulting one first).
    QByteArray notes;
    for (int i = 0; i < threads.size(); ++i) {
        const Thread& thread = threads[i];
        elf_prstatus status{};
        status.pr_info.si_signo = crash.signal;
        status.pr_info.si_code = crash.code;
        status.pr_cursig = static_cast<short>(crash.signal);
        status.pr_pid = thread.tid;
        status.pr_ppid = info.ppid;
        status.pr_pgrp = info.pgrp;
        status.pr_sid = info.sid;
        std::memcpy(&status.pr_reg, &thread.regs, sizeof status.pr_reg);
        status.pr_fpvalid = thread.hasFpregs ? 1 : 0;
        appendNote(notes, NT_PRSTATUS, bytesOf(status));
        if (i == 0) {
            elf_prpsinfo ps{};
            ps.pr_state = 0;
            ps.pr_sname = 'R';
            ps.pr_uid = info.uid;
            ps.pr_gid = info.gid;
            ps.pr_pid = pid;
            ps.pr_ppid = info.ppid;
            ps.pr_pgrp = info.pgrp;
            ps.pr_sid = info.sid;
            std::strncpy(ps.pr_fname, info.comm.constData(), sizeof ps.pr_fname - 1);
            std::strncpy(ps.pr_psargs, info.args.constData(), sizeof ps.pr_psargs - 1);
            appendNote(notes, NT_PRPSINFO, bytesOf(ps));

            const siginfo_t si = signalInfo(crash);
            appendNote(notes, NT_SIGINFO, bytesOf(si));

            const QByteArray auxv = readProcFile(QStringLiteral("/proc/%1/auxv").arg(pid));
            if (!auxv.isEmpty())
                appendNote(notes, NT_AUXV, auxv);

            // Which file lies where: count, page size, {start, end, offset in pages}, names.
            QByteArray ranges, names;
            quint64 count = 0;
            for (const Mapping& m : mappings) {
                if (!m.fileBacked() || m.path.endsWith(" (deleted)"))
                    continue;
                const quint64 entry[3] = {m.start, m.end, m.offset / pageSize};
                ranges.append(reinterpret_cast<const char*>(entry), sizeof entry);
                names += m.path;
                names += '\0';
                ++count;
            }
            appendNote(notes, NT_FILE, bytesOf(count) + bytesOf(pageSize) + ranges + names);
        }
        if (thread.hasFpregs)
            appendNote(notes, NT_PRFPREG, bytesOf(thread.fpregs));
    }

    QList<Mapping> loads = mappings;
    if (loads.size() > 0xfff0) // e_phnum is 16 bits
        loads = loads.mid(0, 0xfff0);
    const quint64 phnum = 1 + static_cast<quint64>(loads.size());

    Elf64_Ehdr eh{};
    std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
    eh.e_ident[EI_CLASS] = ELFCLASS64;
    eh.e_ident[EI_DATA] = ELFDATA2LSB;
    eh.e_ident[EI_VERSION] = EV_CURRENT;
    eh.e_ident[EI_OSABI] = ELFOSABI_NONE;
    eh.e_type = ET_CORE;
#if defined(__x86_64__)
    eh.e_machine = EM_X86_64;
#else
    eh.e_machine = EM_AARCH64;
#endif
    eh.e_version = EV_CURRENT;
    eh.e_phoff = sizeof(Elf64_Ehdr);
    eh.e_ehsize = sizeof(Elf64_Ehdr);
    eh.e_phentsize = sizeof(Elf64_Phdr);
    eh.e_phnum = static_cast<Elf64_Half>(phnum);

    QByteArray head = bytesOf(eh);
    const quint64 notesOffset = sizeof(Elf64_Ehdr) + phnum * sizeof(Elf64_Phdr);
    Elf64_Phdr note{};
    note.p_type = PT_NOTE;
    note.p_offset = notesOffset;
    note.p_filesz = static_cast<quint64>(notes.size());
    head += bytesOf(note);

    quint64 cursor =
        (notesOffset + static_cast<quint64>(notes.size()) + pageSize - 1) / pageSize * pageSize;
    QVector<quint64> sizes, offsets;
    for (const Mapping& m : loads) {
        Elf64_Phdr ph{};
        ph.p_type = PT_LOAD;
        ph.p_vaddr = m.start;
        ph.p_memsz = m.end - m.start;
        ph.p_filesz = dumpedSize(m, pageSize);
        ph.p_offset = cursor;
        ph.p_align = pageSize;
        ph.p_flags =
            (m.readable() ? PF_R : 0) | (m.writable() ? PF_W : 0) | (m.executable() ? PF_X : 0);
        head += bytesOf(ph);
        sizes << ph.p_filesz;
        offsets << cursor;
        cursor += ph.p_filesz;
    }
    head += notes;

    const QByteArray path = QFile::encodeName(corePath);
    const int core = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (core < 0)
        return false;
    bool ok = ::write(core, head.constData(), static_cast<size_t>(head.size())) == head.size();
    const int mem = ::open(QStringLiteral("/proc/%1/mem").arg(pid).toLatin1().constData(),
                           O_RDONLY | O_CLOEXEC);
    const int pagemap = ::open(QStringLiteral("/proc/%1/pagemap").arg(pid).toLatin1().constData(),
                               O_RDONLY | O_CLOEXEC);
    if (ok && mem >= 0) {
        for (int i = 0; i < loads.size(); ++i)
            if (sizes[i])
                copyMemory(core, mem, pagemap, loads[i], sizes[i], offsets[i], pageSize);
    }
    ok = ok && ::ftruncate(core, static_cast<off_t>(cursor)) == 0;
    if (pagemap >= 0)
        ::close(pagemap);
    if (mem >= 0)
        ::close(mem);
    return ::close(core) == 0 && ok;
}

#ifdef FM_HAVE_LIBDW
// Symbolic backtraces of the stopped threads, unwound by elfutils from the
// live process.
class Unwinder
{
public:
    explicit Unwinder(pid_t pid)
    {
        dwfl_ = dwfl_begin(&callbacks_);
        if (!dwfl_)
            return;
        if (dwfl_linux_proc_report(dwfl_, pid) != 0 ||
            dwfl_report_end(dwfl_, nullptr, nullptr) != 0 ||
            dwfl_linux_proc_attach(dwfl_, pid, true) != 0) {
            dwfl_end(dwfl_);
            dwfl_ = nullptr;
        }
    }
    ~Unwinder()
    {
        if (dwfl_)
            dwfl_end(dwfl_);
    }

    // "    #0 0x... function+0x1a (file.cpp:28) in /usr/lib/libx.so" lines.
    QString backtrace(pid_t tid)
    {
        if (!dwfl_)
            return {};
        lines_.clear();
        frames_ = 0;
        dwfl_getthread_frames(dwfl_, tid, &Unwinder::onFrame, this);
        return lines_;
    }

private:
    static int onFrame(Dwfl_Frame* frame, void* arg)
    {
        auto* self = static_cast<Unwinder*>(arg);
        Dwarf_Addr pc = 0;
        bool activation = false;
        if (!dwfl_frame_pc(frame, &pc, &activation))
            return DWARF_CB_ABORT;
        // A return address points behind the call: look up the call itself.
        const Dwarf_Addr lookup = activation ? pc : pc - 1;
        Dwfl_Module* module = dwfl_addrmodule(self->dwfl_, lookup);
        QString where;
        if (module) {
            GElf_Off offset = 0;
            GElf_Sym symbol;
            const char* name =
                dwfl_module_addrinfo(module, lookup, &offset, &symbol, nullptr, nullptr, nullptr);
            if (name) {
                int status = -1;
                char* demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
                where = QString::fromLocal8Bit(status == 0 ? demangled : name) +
                        QStringLiteral("+0x") + QString::number(offset, 16);
                std::free(demangled);
            } else {
                where = QStringLiteral("??");
            }
            int line = 0;
            Dwarf_Addr lineAddress = 0;
            Dwfl_Line* source = dwfl_module_getsrc(module, lookup);
            const char* file =
                source ? dwfl_lineinfo(source, &lineAddress, &line, nullptr, nullptr, nullptr)
                       : nullptr;
            if (file)
                where += QStringLiteral(" (%1:%2)")
                             .arg(QFileInfo(QString::fromLocal8Bit(file)).fileName())
                             .arg(line);
            const char* path = nullptr;
            dwfl_module_info(module, nullptr, nullptr, nullptr, nullptr, nullptr, &path, nullptr);
            if (path)
                where += QStringLiteral(" in ") + QString::fromLocal8Bit(path);
        }
        self->lines_ += QStringLiteral("    #%1 %2 %3\n").arg(self->frames_).arg(hex(pc), where);
        return ++self->frames_ < 64 ? DWARF_CB_OK : DWARF_CB_ABORT;
    }

    static const Dwfl_Callbacks callbacks_;
    Dwfl* dwfl_ = nullptr;
    QString lines_;
    int frames_ = 0;
};

char* debuginfoPath = nullptr;
const Dwfl_Callbacks Unwinder::callbacks_ = {dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo,
                                             nullptr, &debuginfoPath};
#endif

#endif // FM_CORE_WRITER

} // namespace

bool coreSupported()
{
#ifdef FM_CORE_WRITER
    return true;
#else
    return false;
#endif
}

bool write(const Crash& crash, const QString& corePath, const QString& reportPath)
{
#ifdef FM_CORE_WRITER
    // Stopped first, so that nobody changes the mappings any more.
    const QVector<Thread> threads =
        stopThreads(static_cast<pid_t>(crash.pid), static_cast<pid_t>(crash.tid));
#endif
    const QList<Mapping> mappings = readMappings(crash.pid);
    const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(crash.pid));

    QString report;
    report += QStringLiteral("Fieldmate " FIELDMATE_VERSION " crash report\n");
    report += QStringLiteral("signal: %1 (%2), code %3\n")
                  .arg(QLatin1String(signalName(crash.signal)))
                  .arg(crash.signal)
                  .arg(crash.code);
#ifdef FM_CORE_WRITER
    const siginfo_t si = signalInfo(crash);
    if (si.si_code <= 0) // kill(), raise() and the like: no fault, a sender
        report += QStringLiteral("sent by process: %1\n").arg(si.si_pid);
    else
#endif
        report += QStringLiteral("fault address: %1\n").arg(hex(crash.faultAddress));
    report += QStringLiteral("instruction address: %1\n").arg(describeAddress(mappings, crash.pc));
    report += QStringLiteral("process: %1 %2\n").arg(crash.pid).arg(exe);
    report += QStringLiteral("faulting thread: %1 \"%2\"\n")
                  .arg(crash.tid)
                  .arg(QString::fromLocal8Bit(threadName(crash.pid, crash.tid)));

    bool written = false;
#ifdef FM_CORE_WRITER
    if (!threads.isEmpty())
        written = writeCore(crash, threads, mappings, corePath);
    report += QStringLiteral("\nthreads (%1), the faulting one first:\n").arg(threads.size());
#ifdef FM_HAVE_LIBDW
    Unwinder unwinder(static_cast<pid_t>(crash.pid));
#endif
    for (const Thread& thread : threads) {
        report += QStringLiteral("  thread %1 \"%2\" pc %3 sp %4\n")
                      .arg(thread.tid)
                      .arg(QString::fromLocal8Bit(threadName(crash.pid, thread.tid)))
                      .arg(describeAddress(mappings, programCounter(thread.regs)))
                      .arg(hex(stackPointer(thread.regs)));
#ifdef FM_HAVE_LIBDW
        report += unwinder.backtrace(thread.tid);
#endif
    }
    resumeThreads(threads);
#endif
    const QString coreName = QFileInfo(corePath).fileName();
    if (written)
        report += QStringLiteral("\ncore file: %1 (open it with: gdb %2 %1, then: thread apply "
                                 "all bt)\n")
                      .arg(coreName, exe);
    else
        report += QStringLiteral("\ncore file: not written (the process could not be traced "
                                 "or this system is not supported)\n");

    report += QStringLiteral("\nmemory map:\n");
    report += QString::fromLocal8Bit(readProcFile(QStringLiteral("/proc/%1/maps").arg(crash.pid)));

    QFile file(reportPath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(report.toUtf8());
    return written;
}

} // namespace CoreDump
