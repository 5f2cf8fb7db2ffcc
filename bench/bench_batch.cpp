// Batch programming throughput: a 1 MiB image goes into 32 simulated
// devices (127.0.0.2 .. 127.0.0.33, one devsim process) through the batch
// dialog and its worker pool. Reports the wall time of the whole batch
// against the time of one device multiplied by ceil(32 / workers) (ratio
// close to 1.0: the workers really run side by side), and the CPU time the
// GUI thread spent during the batch.
//
// Run: bench_batch [workers] [repeats]   (default: ideal thread count, 3)
#include "common/msgbox.h"
#include "programming/batchprogrammingdialog.h"
#include "programming/firmwarepackage.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kDevices = 32;
constexpr qint64 kImageSize = 1024 * 1024;

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

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

double selfCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Run
{
    double wallMs = 0;
    double guiCpuMs = 0;
    double selfCpuMs = 0;
    double devsimCpuMs = 0;
    int succeeded = 0;
    int intact = 0;
};

class Bench
{
public:
    bool startDevsim(const QString& store)
    {
        devsim.setProgram(QStringLiteral(DEVSIM_PATH));
        devsim.setArguments({QStringLiteral("--range"), address(0) + QLatin1Char('-') + address(kDevices - 1),
                             QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--set"),
                             QStringLiteral("prog-dir=") + store, QStringLiteral("--set"),
                             QStringLiteral("prog-install-ms=0")});
        devsim.setProcessChannelMode(QProcess::SeparateChannels);
        devsim.setStandardErrorFile(QProcess::nullDevice());
        devsim.start();
        if (!devsim.waitForStarted(5000))
            return false;
        static const QRegularExpression listening(
            QStringLiteral("^devsim: listening on (\\S+):(\\d+)$"));
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000) {
            devsim.waitForReadyRead(100);
            while (devsim.canReadLine()) {
                const QString line = QString::fromUtf8(devsim.readLine()).trimmed();
                const auto m = listening.match(line);
                if (m.hasMatch())
                    ports.insert(m.captured(1), quint16(m.captured(2).toUInt()));
                else if (line.endsWith(QLatin1String("ready")))
                    return ports.size() == kDevices;
            }
        }
        return false;
    }

    ~Bench()
    {
        devsim.terminate();
        devsim.waitForFinished(3000);
    }

    Run run(int workers, int devices, const QString& image, const QString& store,
            const QByteArray& hash)
    {
        for (int i = 0; i < devices; ++i)
            QFile::remove(store + QStringLiteral("/image-%1.bin").arg(address(i)));
        BatchProgrammingDialog dialog(nullptr, workers);
        dialog.setPortResolver([this](const QString& ip) { return ports.value(ip); });
        for (int i = 0; i < devices; ++i)
            dialog.addDevice(address(i));
        dialog.form()->leFile->setText(image);

        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (dialog.isBatchRunning())
                return;
            for (int row = 0; row < devices; ++row) {
                if (dialog.statusText(row) == QLatin1String("/"))
                    return;
            }
            loop.quit();
        });
        Run result;
        const double cpu0 = threadCpuSeconds();
        const double self0 = selfCpuSeconds();
        const double sim0 = processCpuSeconds(devsim.processId());
        QElapsedTimer wall;
        wall.start();
        dialog.form()->btnProgram->click();
        poll.start(5);
        loop.exec();
        result.wallMs = double(wall.nsecsElapsed()) / 1e6;
        result.guiCpuMs = (threadCpuSeconds() - cpu0) * 1000.0;
        result.selfCpuMs = (selfCpuSeconds() - self0) * 1000.0;
        result.devsimCpuMs = (processCpuSeconds(devsim.processId()) - sim0) * 1000.0;
        for (int row = 0; row < devices; ++row) {
            if (dialog.statusNumber(row) == 2)
                ++result.succeeded;
            QFile stored(store + QStringLiteral("/image-%1.bin").arg(address(row)));
            if (stored.open(QIODevice::ReadOnly) &&
                QCryptographicHash::hash(stored.readAll(), QCryptographicHash::Sha1) == hash)
                ++result.intact;
        }
        return result;
    }

    QProcess devsim;
    QMap<QString, quint16> ports;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MsgBox::setInterceptor([](const MsgBox::Request& request) {
        std::fprintf(stderr, "box: %s\n", qPrintable(request.text));
        return MsgBox::Answer::Sure;
    });
    const int workers = argc > 1 ? std::max(1, atoi(argv[1]))
                                 : BatchProgrammingDialog::workerCountFor(QThread::idealThreadCount());
    const int repeats = argc > 2 ? std::max(1, atoi(argv[2])) : 3;

    QTemporaryDir dir;
    FirmwarePackage::setBaseDir(dir.path());
    const QString store = dir.filePath(QStringLiteral("store"));
    const QString image = dir.filePath(QStringLiteral("image.bin"));
    QByteArray bytes(int(kImageSize), '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 131 + i / 977) & 0xFF);
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return 1;
    file.close();
    const QByteArray hash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);

    Bench bench;
    if (!bench.startDevsim(store)) {
        std::fprintf(stderr, "devsim did not start\n");
        return 1;
    }

    std::vector<double> single, total, guiCpu, selfCpu, simCpu;
    int failures = 0;
    for (int r = 0; r < repeats; ++r) {
        // A single transfer is short and easily disturbed: three per round.
        Run one;
        for (int k = 0; k < 3; ++k) {
            one = bench.run(workers, 1, image, store, hash);
            single.push_back(one.wallMs);
            failures += one.intact != 1;
        }
        const Run all = bench.run(workers, kDevices, image, store, hash);
        total.push_back(all.wallMs);
        guiCpu.push_back(all.guiCpuMs);
        selfCpu.push_back(all.selfCpuMs);
        simCpu.push_back(all.devsimCpuMs);
        failures += kDevices - all.intact;
        std::printf("run %d: one device %.0f ms, %d devices %.0f ms (%d succeeded, %d intact), "
                    "GUI thread CPU %.0f ms\n",
                    r + 1, one.wallMs, kDevices, all.wallMs, all.succeeded, all.intact,
                    all.guiCpuMs);
    }
    const int rounds = (kDevices + workers - 1) / workers;
    const double t1 = median(single);
    const double tn = median(total);
    std::printf("workers %d, image 1 MiB, %d devices (medians of %d batches, %d single runs)\n",
                workers, kDevices, repeats, int(single.size()));
    std::printf("  one device            %8.0f ms\n", t1);
    std::printf("  one device x %2d rounds %8.0f ms\n", rounds, t1 * rounds);
    std::printf("  whole batch           %8.0f ms\n", tn);
    std::printf("  ratio                 %8.2f\n", tn / (t1 * rounds));
    std::printf("  GUI thread CPU        %8.0f ms (%.1f%% of the batch)\n", median(guiCpu),
                100.0 * median(guiCpu) / tn);
    std::printf("  program CPU, all threads %5.0f ms; devsim CPU %5.0f ms (one thread for all "
                "devices); cores %d\n",
                median(selfCpu), median(simCpu), QThread::idealThreadCount());
    std::printf("  images not intact    %d\n", failures);
    return failures == 0 ? 0 : 2;
}
