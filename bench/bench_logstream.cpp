// Log streaming into the device log page: devsim streams log text as 0x000A
// frames as fast as the link carries them, for a fixed time, into a shown
// DisplayLogPage. Reports the lines and bytes per second that reached the
// view and the longest stall of the GUI event loop, measured by a 10 ms
// timer that records its own lateness.
//
// Each devsim run is made twice: without and with "Save to file...", which
// writes every received line to a file whatever the view lets go; the saving
// run also reports the lines per second saved and checks the file against
// what was received.
//
// A last run feeds the page directly, without devsim and the link, to show
// what the view alone can take.
//
// Run: bench_logstream [seconds] [lines-per-frame ...]  (default 10 s, 1 and 20)
#include "bench/benchutil.h"
#include "comm/commtcp.h"
#include "common/dialogs.h"
#include "pages/displaylogpage.h"

#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

struct Figures
{
    int linesPerFrame = 0;
    double seconds = 0;
    quint64 frames = 0;
    quint64 bytes = 0;
    quint64 shownParagraphs = 0;
    quint64 droppedParagraphs = 0;
    qint64 longestStallMs = 0;
    qint64 ticks = 0;
    double guiCpuSeconds = 0;
    bool saving = false;
    quint64 receivedLines = 0;
    quint64 savedLines = 0;
    bool savedMatches = false;
};

bool run(int seconds, int linesPerFrame, bool save, Figures& out)
{
    out.saving = save;
    QTemporaryDir dir;
    const QString savePath = dir.filePath(QStringLiteral("saved.log"));
    // What the file must hold, when saving: a running digest and a line
    // count (a copy of every byte would itself stall the thread as it grows).
    QCryptographicHash received(QCryptographicHash::Md5);
    quint64 receivedLines = 0;
    QProcess devsim;
    devsim.setProgram(QStringLiteral(DEVSIM_PATH));
    devsim.setArguments({"--port", "0", "--set", "quiet=1", "--set", "log-rate=0", "--set",
                         QStringLiteral("log-lines-per-frame=%1").arg(linesPerFrame)});
    devsim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    devsim.start();
    if (!devsim.waitForStarted(5000))
        return false;
    quint16 port = 0;
    static const QRegularExpression listening(QStringLiteral("listening on \\S+:(\\d+)"));
    QByteArray banner;
    if (!bench::waitUntil(
            [&] {
                banner += devsim.readAllStandardOutput();
                const auto m = listening.match(QString::fromUtf8(banner));
                if (m.hasMatch() && banner.contains("ready"))
                    port = static_cast<quint16>(m.captured(1).toUInt());
                return port != 0;
            },
            10000)) {
        devsim.kill();
        devsim.waitForFinished();
        return false;
    }

    CommTcp link;
    DisplayLogPage page;
    page.resize(1000, 700);
    page.show();
    QObject::connect(&page, &DisplayLogPage::sendCmd, &link, &CommTcp::send);
    QObject::connect(&link, &CommTcp::gotLogRespond, &page, &DisplayLogPage::handleRespond);
    bool counting = false;
    QObject::connect(&link, &CommTcp::gotLogRespond, &page, [&](int cmd, const quint8*, int size) {
        if (counting && cmd == DisplayLogPage::kCmdText) {
            ++out.frames;
            out.bytes += static_cast<quint64>(size);
        }
    });
    QObject::connect(&link, &CommTcp::gotLogRespond, &page,
                     [&](int cmd, const quint8* data, int size) {
                         if (save && cmd == DisplayLogPage::kCmdText) {
                             const char* bytes = reinterpret_cast<const char*>(data);
                             received.addData(bytes, size);
                             received.addData("\n", 1);
                             receivedLines +=
                                 static_cast<quint64>(std::count(bytes, bytes + size, '\n')) + 1;
                         }
                     });
    link.setPort(port);
    link.connectDevice(QStringLiteral("127.0.0.1"));
    bool ok = link.isConnected();
    if (ok) {
        page.form()->Refresh->click();
        ok = bench::waitUntil([&] { return page.form()->comboBoxLogType->count() > 0; }, 5000);
    }
    if (ok) {
        // The lateness probe.
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(10);
        QElapsedTimer sinceLast;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const qint64 late = sinceLast.restart() - probe.interval();
            out.longestStallMs = qMax(out.longestStallMs, late);
            ++out.ticks;
        });

        const quint64 shownBefore = page.appendedParagraphs();
        const quint64 droppedBefore = page.droppedParagraphs();
        if (save) {
            const auto previous = Dialogs::setFileInterceptor(
                [&](const Dialogs::FileRequest&) { return savePath; });
            page.form()->btnSave->click();
            Dialogs::setFileInterceptor(previous);
        }
        counting = true;
        page.form()->btnOpen->click();
        QElapsedTimer clock;
        clock.start();
        const double cpuBefore = bench::threadCpuSeconds();
        sinceLast.start();
        probe.start();
        QEventLoop loop;
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        probe.stop();
        page.flushLogText();
        counting = false;
        out.seconds = clock.elapsed() / 1000.0;
        out.guiCpuSeconds = bench::threadCpuSeconds() - cpuBefore;
        out.shownParagraphs = page.appendedParagraphs() - shownBefore;
        out.droppedParagraphs = page.droppedParagraphs() - droppedBefore;
        page.form()->btnOpen->click(); // close, which also ends the file
        link.disconnectDevice();
        if (save) {
            QFile file(savePath);
            QCryptographicHash saved(QCryptographicHash::Md5);
            if (file.open(QIODevice::ReadOnly)) {
                while (!file.atEnd()) {
                    const QByteArray chunk = file.read(1 << 20);
                    out.savedLines += static_cast<quint64>(chunk.count('\n'));
                    saved.addData(chunk);
                }
            }
            out.receivedLines = receivedLines;
            out.savedMatches = saved.result() == received.result();
        }
    }
    out.linesPerFrame = linesPerFrame;
    devsim.terminate();
    if (!devsim.waitForFinished(3000)) {
        devsim.kill();
        devsim.waitForFinished(3000);
    }
    return ok;
}

// The view alone, without devsim and the link: a feeder on the GUI thread
// keeps a backlog of lines waiting, so the page appends as fast as it can.
bool runViewOnly(int seconds, Figures& out)
{
    DisplayLogPage page;
    page.resize(1000, 700);
    page.show();
    quint64 fed = 0;
    QTimer feeder;
    feeder.setInterval(0);
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        while (fed - page.appendedParagraphs() < 3000) {
            const QByteArray line = "2026-12-07 10:00:00.000 system.log[123]: #" +
                                    QByteArray::number(++fed) +
                                    " modbus: poll cycle completed, 12 registers";
            out.bytes += static_cast<quint64>(line.size());
            page.handleRespond(DisplayLogPage::kCmdText,
                               reinterpret_cast<const quint8*>(line.constData()), line.size());
        }
    });
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(10);
    QElapsedTimer sinceLast;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        out.longestStallMs = qMax(out.longestStallMs, sinceLast.restart() - probe.interval());
        ++out.ticks;
    });
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = bench::threadCpuSeconds();
    sinceLast.start();
    probe.start();
    feeder.start();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    feeder.stop();
    probe.stop();
    out.seconds = clock.elapsed() / 1000.0;
    out.guiCpuSeconds = bench::threadCpuSeconds() - cpuBefore;
    out.shownParagraphs = page.appendedParagraphs();
    out.droppedParagraphs = page.droppedParagraphs();
    out.frames = fed;
    out.linesPerFrame = 1;
    return true;
}

void print(const char* label, const Figures& f)
{
    const double shownLines = static_cast<double>(f.shownParagraphs) * f.linesPerFrame;
    const double shownShare =
        f.frames ? static_cast<double>(f.shownParagraphs) / static_cast<double>(f.frames) : 0;
    std::printf("%s, %d line(s) per frame, %.1f s: %llu frames, %.0f lines/s shown, "
                "%.0f bytes/s shown (%.0f bytes/s received), %llu paragraphs let go "
                "unseen, longest GUI stall %lld ms over %lld probe ticks; GUI thread busy "
                "%.1f CPU s (%.0f lines shown per CPU s)\n",
                label, f.linesPerFrame, f.seconds, static_cast<unsigned long long>(f.frames),
                shownLines / f.seconds, static_cast<double>(f.bytes) * shownShare / f.seconds,
                static_cast<double>(f.bytes) / f.seconds,
                static_cast<unsigned long long>(f.droppedParagraphs),
                static_cast<long long>(f.longestStallMs), static_cast<long long>(f.ticks),
                f.guiCpuSeconds, f.guiCpuSeconds > 0 ? shownLines / f.guiCpuSeconds : 0.0);
    if (f.saving)
        std::printf("  saving: %llu lines saved (%.0f lines/s), %llu lines received, "
                    "file %s what was received\n",
                    static_cast<unsigned long long>(f.savedLines),
                    static_cast<double>(f.savedLines) / f.seconds,
                    static_cast<unsigned long long>(f.receivedLines),
                    f.savedMatches ? "equals" : "DIFFERS FROM");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const int seconds = args.isEmpty() ? 10 : qMax(1, args.at(0).toInt());
    QList<int> perFrame;
    for (int i = 1; i < args.size(); ++i)
        perFrame << qMax(1, args.at(i).toInt());
    if (perFrame.isEmpty())
        perFrame = {1, 20};

    int failures = 0;
    for (int lines : perFrame) {
        for (bool save : {false, true}) {
            Figures f;
            if (!run(seconds, lines, save, f)) {
                std::printf("lines per frame %d: devsim or the link did not come up\n", lines);
                ++failures;
                continue;
            }
            print(save ? "devsim over loopback, saving to a file" : "devsim over loopback", f);
        }
    }
    Figures view;
    runViewOnly(seconds, view);
    print("view alone", view);
    return failures ? 1 : 0;
}
