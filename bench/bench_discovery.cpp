// Discovery benchmark: simulated devices in a network namespace behind a
// veth pair, served by devsim, searched from a search page on the host end.
//   A: 250 devices answering both ways (UDP and link frames, in the host's
//      subnet) and 250 link-only devices (outside every subnet);
//   B: 1,000 link-only devices.
// For each, three searches on a fresh page (the first one opens the
// capture): the time from "Refresh" until every device is listed, the CPU
// time the GUI thread spent until then and over the whole search (three
// passes, until every answer is in), and whether every device is listed
// exactly once and every link answer was captured. The aim, the CPU time
// of the idle page over as long as a search takes, and that of parsing and
// listing alone (replayed without sockets) are printed alongside. Needs
// root (namespaces, packet capture). Run:
//   sudo bench_discovery
#include "bench/benchutil.h"
#include "comm/commlink.h"
#include "discovery/devsereachpage.h"
#include "discovery/discoveryproto.h"
#include "tests/netnslab.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <functional>

namespace {

struct Scenario
{
    const char* name;
    int bothWays;  // at 10.77.1.0 and up, in the host's /16
    int linkOnly;  // at 192.168.100.1 and up
};

QString addressAfter(const char* first, int offset)
{
    return QHostAddress(QHostAddress(QString::fromLatin1(first)).toIPv4Address() +
                        static_cast<quint32>(offset))
        .toString();
}

// Runs the event loop until the condition holds (checked at every listed
// device, every link answer and every 50 ms); false after the timeout.
// Unlike a loop around processEvents it sleeps while nothing happens, so
// the GUI thread's CPU time is the page's own.
bool waitOn(DevSereachPage& page, const std::function<bool()>& condition, int timeoutMs)
{
    if (condition())
        return true;
    QEventLoop loop;
    const auto check = [&] {
        if (condition())
            loop.quit();
    };
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, check);
    QObject::connect(&page, &DevSereachPage::deviceListed, &loop, check);
    QObject::connect(page.commLink(), &CommLink::gotNetworkInfo, &loop, check);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(50);
    loop.exec();
    return condition();
}

int distinctHosts(QTreeWidget* tree)
{
    QSet<QString> hosts;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        hosts << tree->topLevelItem(i)->text(0);
    return hosts.size();
}

// Runs one scenario; false when the devices could not be set up.
bool runScenario(const NetnsLab& lab, const Scenario& scenario, int searches)
{
    const int devices = scenario.bothWays + scenario.linkOnly;
    NsDevsim bothWays;
    NsDevsim linkOnly;
    if (scenario.bothWays > 0 &&
        !bothWays.start(lab, QStringLiteral(DEVSIM_PATH),
                        {"--discovery", lab.deviceIf, "--assign", "--range",
                         "10.77.1.0-" + addressAfter("10.77.1.0", scenario.bothWays - 1), "--set",
                         "netmask=255.255.0.0", "--set", "quiet=1"},
                        120000)) {
        std::fprintf(stderr, "devsim did not start:\n%s\n", qPrintable(bothWays.log()));
        return false;
    }
    if (scenario.linkOnly > 0 &&
        !linkOnly.start(lab, QStringLiteral(DEVSIM_PATH),
                        {"--discovery", lab.deviceIf, "--link-only", "--range",
                         "192.168.100.1-" + addressAfter("192.168.100.1", scenario.linkOnly - 1),
                         "--set", "quiet=1"},
                        120000)) {
        std::fprintf(stderr, "devsim did not start:\n%s\n", qPrintable(linkOnly.log()));
        return false;
    }

    DevSereachPage page;
    page.resize(1000, 700);
    page.show();
    QComboBox* combo = page.form()->comboBoxIntf;
    if (!waitOn(page, [&] { return combo->findText(lab.hostIf) >= 0; }, 5000))
        return false;
    combo->setCurrentText(lab.hostIf);
    QTreeWidget* tree = page.form()->treeWidget;
    int answers = 0;
    QObject::connect(page.commLink(), &CommLink::gotNetworkInfo, [&answers] { ++answers; });

    // Reference: the page idle for as long as a search takes.
    QElapsedTimer idle;
    idle.start();
    const double idleCpu0 = bench::threadCpuSeconds();
    waitOn(page, [&] { return idle.elapsed() >= 2100; }, 3000);
    std::printf("%-26s %6s %6s %6s %9s %5s %11s %8s %8.1f\n", scenario.name, "idle", "-", "-",
                "-", "-", "-", "-", (bench::threadCpuSeconds() - idleCpu0) * 1e3);

    for (int search = 1; search <= searches; ++search) {
        answers = 0;
        QElapsedTimer wall;
        const double cpu0 = bench::threadCpuSeconds();
        wall.start();
        page.form()->btnRefresh->click();
        // When the capture was open (the first search opens it; its first
        // pass waits for it), watched every millisecond until then, and
        // when the first device was listed.
        qint64 openMs = page.commLink()->isCapturing() ? 0 : -1;
        QTimer openProbe;
        QObject::connect(&openProbe, &QTimer::timeout, [&] {
            if (page.commLink()->isCapturing()) {
                openMs = wall.elapsed();
                openProbe.stop();
            }
        });
        if (openMs < 0)
            openProbe.start(1);
        qint64 firstMs = -1;
        const bool allListed = waitOn(page, [&] {
            if (firstMs < 0 && tree->topLevelItemCount() > 0)
                firstMs = wall.elapsed();
            return tree->topLevelItemCount() >= devices;
        }, 10000);
        const qint64 listedMs = wall.elapsed();
        const double listedCpu = (bench::threadCpuSeconds() - cpu0) * 1e3;
        // The rest of the search: the later passes and their answers.
        waitOn(page, [&] { return page.passesLeft() == 0 && answers >= 3 * devices; }, 10000);
        const double searchCpu = (bench::threadCpuSeconds() - cpu0) * 1e3;
        const bool once = tree->topLevelItemCount() == devices && distinctHosts(tree) == devices;
        char listed[32];
        if (allListed)
            std::snprintf(listed, sizeof listed, "%lld ms", static_cast<long long>(listedMs));
        else
            std::snprintf(listed, sizeof listed, "never (%d)", tree->topLevelItemCount());
        std::printf("%-26s %6d %6lld %6lld %9s %5s %11s %8.1f %8.1f\n", scenario.name, search,
                    static_cast<long long>(openMs), static_cast<long long>(firstMs), listed,
                    once ? "yes" : "NO",
                    qPrintable(QStringLiteral("%1/%2").arg(answers).arg(3 * devices)), listedCpu,
                    searchCpu);
        std::fflush(stdout);
        // The page is idle only at the tick after the last pass.
        waitOn(page, [&] { return page.passesLeft() == 0; }, 5000);
        idle.restart();
        waitOn(page, [&] { return idle.elapsed() > 1200; }, 3000);
    }
    return true;
}

// Parsing and listing alone: the answers of `devices` devices (a UDP reply
// and a link answer each) fed straight into a fresh page.
void replay(int devices)
{
    QList<QPair<QByteArray, QHostAddress>> datagrams;
    QList<QByteArray> infos;
    for (int i = 0; i < devices; ++i) {
        const QString ip = addressAfter("10.77.1.0", i);
        const QString mac =
            QStringLiteral("02:4D:46:4D:%1:%2").arg((i >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
                .arg(i & 0xFF, 2, 16, QLatin1Char('0'))
                .toUpper();
        const QList<Discovery::Interface> intfs{{"eth0", ip, "255.255.0.0", mac}};
        datagrams.append({Discovery::buildUdpReply("SIM-100", intfs, {Discovery::EntryForm::Long}),
                          QHostAddress(ip)});
        infos << Discovery::buildDeviceInfo(ip, "SIM-100", intfs);
    }
    DevSereachPage fresh;
    fresh.resize(1000, 700);
    fresh.show();
    const double cpu0 = bench::threadCpuSeconds();
    for (const auto& d : datagrams)
        fresh.processDatagram(d.first, d.second);
    for (const QByteArray& json : infos)
        fresh.onCommLinkNetworkInfo(json);
    QCoreApplication::processEvents(); // layout and painting of the rows
    const double cpu = (bench::threadCpuSeconds() - cpu0) * 1e3;
    std::printf("replay: %d UDP replies + %d link answers parsed and listed (%d rows) without "
                "sockets: GUI thread CPU %.1f ms\n",
                devices, devices, fresh.form()->treeWidget->topLevelItemCount(), cpu);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    NetnsLab lab;
    QString why;
    if (!lab.setUp(&why)) {
        std::printf("bench_discovery: skipped (%s)\n", qPrintable(why));
        return 0;
    }
    // The host end in the /16 of the devices that answer both ways.
    NetnsLab::ip({"address", "replace", "10.77.0.1/16", "dev", lab.hostIf});

    std::printf("aim: every device listed once on the first search within 200 ms of Refresh; "
                "GUI thread CPU per search below 50 ms (500 devices)\n");
    std::printf("open: capture open, first: first device listed, all: all listed (ms after "
                "Refresh);\nCPU: GUI thread CPU ms until all listed and over the whole search\n");
    std::printf("%-26s %6s %6s %6s %9s %5s %11s %8s %8s\n", "devices", "search", "open", "first",
                "all", "once", "answers", "CPU all", "CPU srch");
    const Scenario scenarios[] = {{"250 link-only + 250 both", 250, 250},
                                  {"1000 link-only", 0, 1000}};
    for (const Scenario& scenario : scenarios) {
        if (!runScenario(lab, scenario, 3))
            return 1;
    }
    replay(500);
    lab.tearDown();
    return 0;
}
