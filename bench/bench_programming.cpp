// Programming throughput over loopback: the programming page sends images of
// 1, 8 and 32 MiB into devsim, and a minimal client without GUI sends the
// same chunk frames with the same stop-and-wait exchange (one chunk, wait
// for its acknowledgement, next chunk), which bounds what the protocol
// allows. Prints wall time, MB/s, the ratio to the bound and the peak
// resident memory during each page run.
//
// Run: bench_programming [repeats]   (default 3; the median is reported)
#include "comm/commandframe.h"
#include "comm/commtcp.h"
#include "common/msgbox.h"
#include "programming/programmingpage.h"
#include "programming/programmingprotocol.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpSocket>
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

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void resetPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// Writes a patterned image block by block and returns its hash.
QByteArray makeImage(const QString& path, qint64 size)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!file.open(QIODevice::WriteOnly))
        return QByteArray();
    QByteArray block(64 * 1024, '\0');
    for (qint64 at = 0; at < size; at += block.size()) {
        for (int i = 0; i < block.size(); ++i)
            block[i] = char(((at + i) * 131 + (at + i) / 977) & 0xFF);
        const QByteArray part = block.left(int(std::min<qint64>(block.size(), size - at)));
        file.write(part);
        hash.addData(part);
    }
    return hash.result();
}

QByteArray hashFile(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QByteArray();
    return hash.result();
}

struct Devsim
{
    QProcess process;
    quint16 port = 0;

    bool start(const QString& storeDir)
    {
        process.setProgram(QStringLiteral(DEVSIM_PATH));
        process.setArguments({"--port", "0", "--set", "quiet=1", "--set", "prog-install-ms=0",
                              "--set", "prog-dir=" + storeDir});
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        if (!process.waitForStarted(5000))
            return false;
        const QRegularExpression listening(QStringLiteral("listening on \\S+:(\\d+)"));
        while (process.waitForReadyRead(5000)) {
            while (process.canReadLine()) {
                const QString line = QString::fromUtf8(process.readLine());
                const auto m = listening.match(line);
                if (m.hasMatch())
                    port = quint16(m.captured(1).toUInt());
                if (line.contains(QLatin1String("ready")))
                    return port != 0;
            }
        }
        return false;
    }
    ~Devsim()
    {
        process.terminate();
        process.waitForFinished(3000);
    }
};

// One run of the page; returns seconds, or -1 on failure.
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

// Reads one frame from a blocking socket; returns its command or -1.
int readFrame(QTcpSocket& socket, QByteArray& pending, FrameReassembler& reassembler)
{
    int got = -1;
    for (;;) {
        if (!pending.isEmpty()) {
            int used = 0;
            // Feed byte by byte until one frame is out, keep the rest.
            while (used < pending.size() && got < 0) {
                reassembler.feedWith(pending.constData() + used, 1,
                                     [&](int cmd, const quint8*, int) { got = cmd; });
                ++used;
            }
            pending.remove(0, used);
            if (got >= 0)
                return got;
        }
        if (!socket.waitForReadyRead(30000))
            return -1;
        pending.append(socket.readAll());
    }
}

// The minimal stop-and-wait client; returns seconds, or -1 on failure.
double minimalRun(quint16 port, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(3000))
        return -1;
    FrameReassembler reassembler;
    QByteArray pending;
    QElapsedTimer timer;
    timer.start();
    auto send = [&](int cmd, const QByteArray& payload) {
        socket.write(CommandFrame::encode(cmd, payload));
        socket.flush();
    };
    send(ProgProtocol::kCmdVersion, QByteArray(1, '\1'));
    if (readFrame(socket, pending, reassembler) != ProgProtocol::kCmdVersion)
        return -1;
    send(ProgProtocol::kCmdStart, ProgProtocol::startPayload(0, file.size()));
    if (readFrame(socket, pending, reassembler) != ProgProtocol::kCmdStart)
        return -1;
    ProgProtocol::ChunkSender sender;
    sender.start(&file, file.size(), false);
    for (;;) {
        const QByteArray chunk = sender.nextChunk();
        if (chunk.isEmpty())
            break;
        send(ProgProtocol::kCmdChunk, chunk);
        if (readFrame(socket, pending, reassembler) != ProgProtocol::kCmdChunk)
            return -1;
    }
    int cmd = 0;
    while (cmd != ProgProtocol::kCmdFinished) {
        cmd = readFrame(socket, pending, reassembler);
        if (cmd < 0)
            return -1;
    }
    return timer.nsecsElapsed() / 1e9;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(1, atoi(argv[1])) : 3;

    QTemporaryDir dir;
    const QString store = dir.filePath(QStringLiteral("store"));
    Devsim devsim;
    if (!devsim.start(store)) {
        std::fprintf(stderr, "devsim did not start\n");
        return 1;
    }
    const QString stored = store + QStringLiteral("/image-127.0.0.1.bin");

    ProgrammingPage page;
    CommTcp link;
    QObject::connect(&link, &CommTcp::gotProgRespond, &page, &ProgrammingPage::handleRespond);
    QObject::connect(&link, &CommTcp::disconnected, &page, &ProgrammingPage::handleError);
    QObject::connect(&link, &CommTcp::sendError, &page, &ProgrammingPage::handleError);
    QObject::connect(&page, &ProgrammingPage::sendCmd, &link, &CommTcp::send);
    link.setPort(devsim.port);
    link.connectDevice(QStringLiteral("127.0.0.1"));
    if (!link.isConnected()) {
        std::fprintf(stderr, "cannot connect to devsim\n");
        return 1;
    }

    std::printf("%-8s %10s %9s %12s %9s %7s %14s %12s %12s\n", "image", "page s", "page MB/s",
                "bound s", "bound MB/s", "ratio", "page peak KiB", "page us/chunk",
                "bound us/chunk");
    bool ok = true;
    for (qint64 size : {1 * kMiB, 8 * kMiB, 32 * kMiB}) {
        const QString image = dir.filePath(QStringLiteral("image-%1.bin").arg(size));
        const QByteArray hash = makeImage(image, size);
        std::vector<double> pageTimes;
        std::vector<double> boundTimes;
        double pageCpu = 0;
        double boundCpu = 0;
        long peak = 0;
        for (int r = 0; r < repeats; ++r) {
            resetPeakRss();
            double c = cpuSeconds();
            const double t = pageRun(page, image);
            pageCpu += cpuSeconds() - c;
            peak = std::max(peak, peakRssKiB());
            if (t < 0 || hashFile(stored) != hash) {
                std::fprintf(stderr, "page run of %lld bytes failed\n", size);
                ok = false;
            }
            pageTimes.push_back(t);
            if (qEnvironmentVariableIsSet("BENCH_PAGE_ONLY"))
                continue;
            c = cpuSeconds();
            const double b = minimalRun(devsim.port, image);
            boundCpu += cpuSeconds() - c;
            if (b < 0 || hashFile(stored) != hash) {
                std::fprintf(stderr, "minimal run of %lld bytes failed\n", size);
                ok = false;
            }
            boundTimes.push_back(b);
        }
        const double tp = median(pageTimes);
        const double tb = median(boundTimes);
        const double mb = double(size) / 1e6;
        const double chunks = double(size / 1024) * repeats;
        std::printf("%5lld MiB %10.3f %9.2f %12.3f %9.2f %7.3f %14ld %12.1f %12.1f\n",
                    size / kMiB, tp, mb / tp, tb, mb / tb, tp / tb, peak,
                    pageCpu * 1e6 / chunks, boundCpu * 1e6 / chunks);
        std::fflush(stdout);
        QFile::remove(image);
    }
    return ok ? 0 : 1;
}
