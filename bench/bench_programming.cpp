// Speed of a single transfer: the programming page sends an 8 MiB image over
// loopback into a minimal device without Qt (bench/fastdevice.h), and a plain
// client sends the same 8192 chunk frames of 1031 bytes with the protocol's
// stop-and-wait exchange (one chunk, wait for its 7-byte acknowledgement,
// next chunk) into the same kind of device: the bound of what the protocol
// allows. The two alternate, five times each; the medians are reported, with
// the ratio and the extra time per chunk. The page's peak resident memory is
// reported for 8 and 32 MiB (it must not grow with the image). Besides wall
// time, the CPU time this process spends per chunk is reported for both
// (user and system; the device runs in other processes): on a busy machine
// it shows the program's own cost per chunk where wall time mostly shows
// the scheduler.
//
// Run: bench_programming [repeats]   (default 5)
#include "comm/commtcp.h"
#include "common/msgbox.h"
#include "programming/programmingpage.h"

#include "fastdevice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr qint64 kMiB = 1024 * 1024;

long peakRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QString text = QString::fromLatin1(status.readAll());
    const auto m = QRegularExpression(QStringLiteral("VmHWM:\\s+(\\d+)")).match(text);
    return m.hasMatch() ? m.captured(1).toLong() : -1;
}

void resetPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

std::vector<std::uint8_t> makeImage(qint64 size)
{
    std::vector<std::uint8_t> image(std::size_t(size), 0);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = std::uint8_t((i * 131 + i / 977) & 0xFF);
    return image;
}

bool writeImage(const QString& path, const std::vector<std::uint8_t>& image)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(reinterpret_cast<const char*>(image.data()), qint64(image.size())) ==
               qint64(image.size());
}

// One run of the page, from the press of "Programming" to "Programming
// finish!"; seconds, or -1 on failure.
double pageRun(ProgrammingPage& page, const QString& path)
{
    bool finished = false;
    QEventLoop loop;
    MsgBox::setInterceptor([&](const MsgBox::Request& r) {
        finished = r.text == QLatin1String("Programming finish!");
        if (!finished)
            std::fprintf(stderr, "box: %s\n", qPrintable(r.text));
        loop.quit();
        return MsgBox::Answer::Sure;
    });
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    page.form()->leFile->setText(path);
    QElapsedTimer timer;
    timer.start();
    page.form()->btnProgramming->click();
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    MsgBox::setInterceptor(MsgBox::Interceptor());
    return finished ? seconds : -1;
}

double boundRun(std::uint16_t port, const std::vector<std::uint8_t>& image)
{
    QElapsedTimer timer;
    timer.start();
    const bool ok = fastdev::boundRun(port, image);
    return ok ? timer.nsecsElapsed() / 1e9 : -1;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    // The device forks before any thread exists.
    fastdev::Device device;
    if (device.port() == 0) {
        std::fprintf(stderr, "the device did not start\n");
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    QTemporaryDir dir;
    ProgrammingPage page;
    // Every step of the bar is shown, as the operator would see it.
    CommTcp link;
    QObject::connect(&link, &CommTcp::gotProgRespond, &page, &ProgrammingPage::handleRespond);
    QObject::connect(&link, &CommTcp::disconnected, &page, &ProgrammingPage::handleError);
    QObject::connect(&link, &CommTcp::sendError, &page, &ProgrammingPage::handleError);
    QObject::connect(&page, &ProgrammingPage::sendCmd, &link, &CommTcp::send);
    link.setPort(device.port());
    link.connectDevice(QStringLiteral("127.0.0.1"));
    if (!link.isConnected()) {
        std::fprintf(stderr, "cannot connect to the device\n");
        return 1;
    }

    bool ok = true;
    const qint64 size = 8 * kMiB;
    const std::vector<std::uint8_t> image = makeImage(size);
    const QString path = dir.filePath(QStringLiteral("image.bin"));
    writeImage(path, image);
    std::vector<double> pageTimes;
    std::vector<double> boundTimes;
    std::vector<double> pageCpu;
    std::vector<double> boundCpu;
    long peak8 = 0;
    for (int r = 0; r < repeats; ++r) {
        resetPeakRss();
        double c = cpuSeconds();
        const double t = pageRun(page, path);
        pageCpu.push_back(cpuSeconds() - c);
        peak8 = std::max(peak8, peakRssKiB());
        c = cpuSeconds();
        const double b = boundRun(device.port(), image);
        boundCpu.push_back(cpuSeconds() - c);
        if (t < 0 || b < 0)
            ok = false;
        pageTimes.push_back(t);
        boundTimes.push_back(b);
        std::fprintf(stderr, "run %d: page %.3f s, bound %.3f s\n", r + 1, t, b);
    }
    const double tp = median(pageTimes);
    const double tb = median(boundTimes);
    const double cp = median(pageCpu);
    const double cb = median(boundCpu);
    const double chunks = double(size / 1024);

    // The page's memory with a four times larger image.
    const QString large = dir.filePath(QStringLiteral("large.bin"));
    writeImage(large, makeImage(32 * kMiB));
    resetPeakRss();
    const long before32 = peakRssKiB();
    if (pageRun(page, large) < 0)
        ok = false;
    const long peak32 = peakRssKiB();
    QFile::remove(large);

    std::printf("8 MiB, %d interleaved runs each, medians:\n", repeats);
    std::printf("%-30s %9s %9s %12s %16s\n", "", "seconds", "MB/s", "us/chunk", "CPU us/chunk");
    std::printf("%-30s %9.3f %9.2f %12.1f %16.1f\n", "stop-and-wait bound (plain C)", tb,
                double(size) / 1e6 / tb, tb * 1e6 / chunks, cb * 1e6 / chunks);
    std::printf("%-30s %9.3f %9.2f %12.1f %16.1f\n", "programming page", tp,
                double(size) / 1e6 / tp, tp * 1e6 / chunks, cp * 1e6 / chunks);
    std::printf("ratio page / bound: %.3f   extra per chunk: %.1f us wall, %.1f us CPU\n", tp / tb,
                (tp - tb) * 1e6 / chunks, (cp - cb) * 1e6 / chunks);
    std::printf("page peak RSS: 8 MiB image %ld KiB, 32 MiB image %ld KiB (before %ld)\n", peak8,
                peak32, before32);
    return ok ? 0 : 1;
}
