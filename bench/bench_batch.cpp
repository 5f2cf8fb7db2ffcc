// Batch programming throughput: a 1 MiB image goes into 32 simulated
// devices (127.0.0.2 .. 127.0.0.33, one devsim process) whose every answer
// takes 1 ms (reply-delay-ms=1), as on a real network, through the batch
// dialog (offscreen). In one run, medians of the repeats:
//   - one device alone,
//   - the whole batch with the default number of parallel devices (the
//     ideal thread count),
//   - the whole batch with 32 parallel devices,
//   - the same through `fieldmate-cli program --jobs 32` (the whole process),
// each with the wall time, its ratio to one device alone, the CPU time of
// the GUI thread (the dialog, its table and the batch runner) and devsim's
// CPU time. Every stored image is compared with the one sent.
//
// Run: bench_batch [repeats] [devsim-threads]   (default 3 and 4: with one
// thread for all 32 devices devsim itself adds to every round trip)
#include "programming/batchprogrammingdialog.h"
#include "programming/batchrunner.h"

#include "benchutil.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kDevices = 32;
constexpr qint64 kImageSize = 1024 * 1024;

QString address(int i)
{
    return QStringLiteral("127.0.0.%1").arg(i + 2);
}

// CPU seconds a process has used so far (user and system), from /proc.
double processCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) /
           double(sysconf(_SC_CLK_TCK));
}

struct Run
{
    double wallMs = 0;
    double driverCpuMs = 0; // the thread that drives the batch
    double devsimCpuMs = 0;
    int intact = 0;
};

class Bench
{
public:
    QString store;
    QString image;
    QByteArray hash;
    QProcess devsim;
    quint16 port = 0;

    bool startDevsim(const QString& threads)
    {
        QStringList args{QStringLiteral("--range"), address(0) + QLatin1Char('-') + address(kDevices - 1),
                         QStringLiteral("--port"), QStringLiteral("0"),
                         QStringLiteral("--set"), QStringLiteral("prog-dir=") + store,
                         QStringLiteral("--set"), QStringLiteral("prog-install-ms=0"),
                         QStringLiteral("--set"), QStringLiteral("reply-delay-ms=1"),
                         QStringLiteral("--set"), QStringLiteral("quiet=1")};
        if (!threads.isEmpty())
            args << QStringLiteral("--threads") << threads;
        devsim.setProgram(QStringLiteral(DEVSIM_PATH));
        devsim.setArguments(args);
        devsim.setStandardErrorFile(QProcess::nullDevice());
        devsim.start();
        if (!devsim.waitForStarted(5000))
            return false;
        static const QRegularExpression listening(QStringLiteral("^devsim: listening on (\\S+):(\\d+)$"));
        QElapsedTimer clock;
        clock.start();
        int listed = 0;
        while (clock.elapsed() < 10000) {
            devsim.waitForReadyRead(100);
            while (devsim.canReadLine()) {
                const QString line = QString::fromUtf8(devsim.readLine()).trimmed();
                const auto m = listening.match(line);
                if (m.hasMatch()) {
                    const quint16 p = quint16(m.captured(2).toUInt());
                    if (port && p != port)
                        return false; // the devices must share one port
                    port = p;
                    ++listed;
                } else if (line.endsWith(QLatin1String("ready"))) {
                    return listed == kDevices;
                }
            }
        }
        return false;
    }

    ~Bench()
    {
        devsim.terminate();
        devsim.waitForFinished(3000);
    }

    void clearStore(int devices)
    {
        for (int i = 0; i < devices; ++i)
            QFile::remove(store + QStringLiteral("/image-%1.bin").arg(address(i)));
    }
    int intact(int devices)
    {
        int n = 0;
        for (int i = 0; i < devices; ++i) {
            QFile stored(store + QStringLiteral("/image-%1.bin").arg(address(i)));
            n += stored.open(QIODevice::ReadOnly) &&
                 QCryptographicHash::hash(stored.readAll(), QCryptographicHash::Sha1) == hash;
        }
        return n;
    }
    QStringList devices(int n)
    {
        QStringList list;
        for (int i = 0; i < n; ++i)
            list << address(i);
        return list;
    }

    Run dialog(int jobs, int devices)
    {
        clearStore(devices);
        BatchProgrammingDialog dialog(nullptr, jobs);
        const quint16 p = port;
        dialog.setPortResolver([p](const QString&) { return p; });
        for (const QString& ip : this->devices(devices))
            dialog.addDevice(ip);
        dialog.form()->leFile->setText(image);
        dialog.show();
        QEventLoop loop;
        QObject::connect(dialog.runner(), &BatchRunner::finished, &loop, &QEventLoop::quit);
        Run result;
        const double cpu0 = bench::threadCpuSeconds();
        const double sim0 = processCpuSeconds(devsim.processId());
        QElapsedTimer wall;
        wall.start();
        dialog.form()->btnProgram->click();
        loop.exec();
        result.wallMs = double(wall.nsecsElapsed()) / 1e6;
        result.driverCpuMs = (bench::threadCpuSeconds() - cpu0) * 1000.0;
        result.devsimCpuMs = (processCpuSeconds(devsim.processId()) - sim0) * 1000.0;
        result.intact = intact(devices);
        return result;
    }

    // The command-line tool as a whole; its main thread's CPU time is not
    // visible from outside, so the column holds the whole process.
    Run cli(int jobs)
    {
        clearStore(kDevices);
        QProcess tool;
        tool.setProgram(QStringLiteral(CLI_PATH));
        tool.setArguments(QStringList{QStringLiteral("program"), QStringLiteral("--file"), image,
                                      QStringLiteral("--jobs"), QString::number(jobs),
                                      QStringLiteral("--port"), QString::number(port)} +
                          devices(kDevices));
        tool.setStandardOutputFile(QProcess::nullDevice());
        tool.setStandardErrorFile(QProcess::nullDevice());
        Run result;
        const double sim0 = processCpuSeconds(devsim.processId());
        QElapsedTimer wall;
        wall.start();
        tool.start();
        tool.waitForStarted(5000);
        double cpu = 0;
        while (!tool.waitForFinished(20))
            cpu = processCpuSeconds(tool.processId());
        result.wallMs = double(wall.nsecsElapsed()) / 1e6;
        result.driverCpuMs = cpu * 1000.0;
        result.devsimCpuMs = (processCpuSeconds(devsim.processId()) - sim0) * 1000.0;
        result.intact = intact(kDevices);
        return result;
    }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Row
{
    const char* name;
    int devices;
    std::vector<double> wall, cpu, sim;
    int notIntact = 0;
    void add(const Run& run)
    {
        wall.push_back(run.wallMs);
        cpu.push_back(run.driverCpuMs);
        sim.push_back(run.devsimCpuMs);
        notIntact += devices - run.intact;
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    const QString devsimThreads = argc > 2 ? QString::fromLatin1(argv[2]) : QStringLiteral("4");
    const int defaultJobs = BatchRunner::defaultJobs();

    QTemporaryDir dir;
    Bench bench;
    bench.store = dir.filePath(QStringLiteral("store"));
    bench.image = dir.filePath(QStringLiteral("image.bin"));
    QByteArray bytes(int(kImageSize), '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 131 + i / 977) & 0xFF);
    QFile file(bench.image);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return 1;
    file.close();
    bench.hash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
    if (!bench.startDevsim(devsimThreads)) {
        std::fprintf(stderr, "devsim did not start\n");
        return 1;
    }

    Row one{"one device alone", 1};
    Row byDefault{"32 devices, default jobs", kDevices};
    Row parallel{"32 devices, 32 jobs", kDevices};
    Row cli{"fieldmate-cli --jobs 32", kDevices};
    // Interleaved, so that a disturbance of the shared machine hits all.
    for (int r = 0; r < repeats; ++r) {
        for (int k = 0; k < 3; ++k)
            one.add(bench.dialog(1, 1));
        byDefault.add(bench.dialog(defaultJobs, kDevices));
        parallel.add(bench.dialog(kDevices, kDevices));
        cli.add(bench.cli(kDevices));
        std::fprintf(stderr, "round %d of %d done\n", r + 1, repeats);
    }

    const double t1 = median(one.wall);
    std::printf("1 MiB image, reply-delay-ms=1, %d cores, default jobs %d, devsim threads %s, "
                "medians of %d rounds\n",
                QThread::idealThreadCount(), defaultJobs, qPrintable(devsimThreads), repeats);
    std::printf("%-26s %10s %8s %14s %9s %11s %10s\n", "run", "wall ms", "x one", "GUI CPU ms",
                "CPU share", "devsim CPU", "not intact");
    for (Row* row : {&one, &byDefault, &parallel, &cli}) {
        const double wall = median(row->wall);
        const double cpu = median(row->cpu);
        std::printf("%-26s %10.0f %8.2f %14.0f %8.1f%% %11.0f %10d\n", row->name, wall, wall / t1, cpu,
                    100.0 * cpu / wall, median(row->sim), row->notIntact);
    }
    std::printf("(GUI CPU: the dialog's thread; for fieldmate-cli the whole process)\n");
    const int bad = one.notIntact + byDefault.notIntact + parallel.notIntact + cli.notIntact;
    return bad == 0 ? 0 : 2;
}
