// Discovery benchmark: 250 simulated devices answer both ways (UDP and link
// frames) in a network namespace behind a veth pair. Reports the time from
// "Refresh" until all 250 are listed, and the CPU time the GUI thread spent
// meanwhile; then the CPU time of parsing and listing alone, replayed
// without sockets. Needs root (namespaces, packet capture). Run:
//   sudo bench_discovery [devices]
#include "bench/benchutil.h"
#include "discovery/devsereachpage.h"
#include "discovery/discoveryproto.h"
#include "tests/netnslab.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <ctime>

namespace {

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int devices = argc > 1 ? QByteArray(argv[1]).toInt() : 250;
    if (devices < 1 || devices > 250) {
        std::fprintf(stderr, "devices: 1 to 250\n");
        return 2;
    }

    NetnsLab lab;
    QString why;
    if (!lab.setUp(&why)) {
        std::printf("bench_discovery: skipped (%s)\n", qPrintable(why));
        return 0;
    }
    const QString last = QStringLiteral("10.77.1.%1").arg(devices - 1);
    NsDevsim devsim;
    if (!devsim.start(lab, QStringLiteral(DEVSIM_PATH),
                      {"--discovery", lab.deviceIf, "--assign", "--range",
                       "10.77.1.0-" + last, "--set", "netmask=255.255.0.0", "--set", "quiet=1"},
                      120000)) {
        std::fprintf(stderr, "devsim did not start:\n%s\n", qPrintable(devsim.log()));
        return 1;
    }
    // The host end in the devices' /16.
    NetnsLab::ip({"address", "replace", "10.77.0.1/16", "dev", lab.hostIf});

    DevSereachPage page;
    page.resize(1000, 700);
    page.show();
    QComboBox* combo = page.form()->comboBoxIntf;
    if (!bench::waitUntil([&] { return combo->findText(lab.hostIf) >= 0; }, 5000))
        return 1;
    combo->setCurrentText(lab.hostIf);
    QTreeWidget* tree = page.form()->treeWidget;

    for (int round = 1; round <= 3; ++round) {
        QElapsedTimer wall;
        const double cpu0 = bench::threadCpuSeconds() * 1e3;
        wall.start();
        page.form()->btnRefresh->click();
        if (!bench::waitUntil([&] { return tree->topLevelItemCount() >= devices; }, 30000)) {
            std::fprintf(stderr, "only %d of %d devices listed\n", tree->topLevelItemCount(), devices);
            return 1;
        }
        const qint64 listedMs = wall.elapsed();
        const double cpu = bench::threadCpuSeconds() * 1e3 - cpu0;
        std::printf("search %d: %d devices listed %lld ms after Refresh; GUI thread CPU %.1f ms\n",
                    round, devices, static_cast<long long>(listedMs), cpu);
        std::fflush(stdout);
        bench::waitUntil([&] { return page.passesLeft() == 0; }, 10000);
        // Let the later passes' answers come in before the next round.
        QElapsedTimer settle;
        settle.start();
        bench::waitUntil([&] { return settle.elapsed() > 1500; }, 3000);
        if (tree->topLevelItemCount() != devices)
            std::printf("  rows after the search: %d (expected %d)\n", tree->topLevelItemCount(),
                        devices);
    }

    // Parsing and listing alone: the same answers fed straight into a fresh
    // page (UDP reply and device information for every device).
    QList<QPair<QByteArray, QHostAddress>> datagrams;
    QList<QByteArray> infos;
    for (int i = 0; i < devices; ++i) {
        const QString ip = QStringLiteral("10.77.1.%1").arg(i);
        const QString mac = QStringLiteral("02:4D:46:4D:01:%1").arg(i, 2, 16, QLatin1Char('0')).toUpper();
        const QList<Discovery::Interface> intfs{{"eth0", ip, "255.255.0.0", mac}};
        datagrams.append({Discovery::buildUdpReply("SIM-100", intfs, {Discovery::EntryForm::Long}),
                          QHostAddress(ip)});
        infos << Discovery::buildDeviceInfo(ip, "SIM-100", intfs);
    }
    for (int round = 1; round <= 3; ++round) {
        DevSereachPage fresh;
        fresh.resize(1000, 700);
        fresh.show();
        const double cpu0 = bench::threadCpuSeconds() * 1e3;
        for (const auto& d : datagrams)
            fresh.processDatagram(d.first, d.second);
        for (const QByteArray& json : infos)
            fresh.onCommLinkNetworkInfo(json);
        QCoreApplication::processEvents(); // layout and painting of the rows
        const double cpu = bench::threadCpuSeconds() * 1e3 - cpu0;
        std::printf("replay %d: %d UDP replies + %d link answers parsed and listed (%d rows): "
                    "GUI thread CPU %.1f ms\n",
                    round, devices, devices, fresh.form()->treeWidget->topLevelItemCount(), cpu);
    }
    devsim.stop();
    lab.tearDown();
    return 0;
}
