// fieldmate-cli discover / set-ip / reboot: the device search and the
// requests sent as link frames, by the same DeviceSearch as the search page.
#include "cli/cliutil.h"

#include "comm/commlink.h"
#include "discovery/devicesearch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace Cli {
namespace {

constexpr int kCaptureWaitMs = 3000;

QString via(const DeviceSearch::Device& device)
{
    QStringList ways;
    if (device.byUdp)
        ways << QStringLiteral("udp");
    if (device.byLink)
        ways << QStringLiteral("link");
    return ways.join(QLatin1Char('+'));
}

QString orDash(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

void printDevice(const DeviceSearch::Device& device, bool json)
{
    const QString product = device.bare ? QStringLiteral("Unknown") : device.product;
    if (!json) {
        out(QStringList{device.host, orDash(product), orDash(device.mac), orDash(device.interfaceName()),
                        via(device)}
                .join(QLatin1Char('\t')));
        return;
    }
    QJsonArray interfaces;
    for (const Discovery::Interface& intf : device.interfaces)
        interfaces.append(QJsonObject{
            {"name", intf.name}, {"ip", intf.ip}, {"netmask", intf.netmask}, {"mac", intf.mac}});
    QJsonArray found;
    if (device.byUdp)
        found.append(QStringLiteral("udp"));
    if (device.byLink)
        found.append(QStringLiteral("link"));
    const QJsonObject object{{"host", device.host},       {"product", product},
                             {"mac", device.mac},         {"interface", device.interfaceName()},
                             {"found", found},            {"interfaces", interfaces}};
    out(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

// The search interface named on the command line; records a usage error
// when there is none.
bool chooseInterface(Args& args, const QString& name, NetIf* intf)
{
    if (DeviceSearch::findInterface(NetIf::all(), name, intf))
        return true;
    args.fail(QStringLiteral("--interface %1 is not an interface the search can use (up, running, "
                             "broadcast and multicast, not loopback)")
                  .arg(name));
    return false;
}

// Waits (bounded) until the link capture runs on the chosen interface.
bool waitForCapture(DeviceSearch& search)
{
    QElapsedTimer clock;
    clock.start();
    while (!search.commLink()->isCapturing() && clock.elapsed() < kCaptureWaitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return search.commLink()->isCapturing();
}

// The name of the device's interface that has this MAC (or, failing that,
// the one that carries the device's address), by a short search.
QString deviceInterfaceOf(DeviceSearch& search, const QString& mac)
{
    err(QStringLiteral("searching %1 to learn its interface name").arg(mac));
    search.setPassInterval(300);
    search.start(search.currentInterface());
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    for (const DeviceSearch::Device& device : search.devices()) {
        for (const Discovery::Interface& intf : device.interfaces) {
            if (intf.mac.compare(mac, Qt::CaseInsensitive) == 0)
                return intf.name;
        }
        if (device.mac == mac && !device.interfaceName().isEmpty())
            return device.interfaceName();
    }
    err(QStringLiteral("fieldmate-cli set-ip: the search did not find %1; name its interface "
                       "with --device-interface")
            .arg(mac));
    return QString();
}

// Sends one link request and waits for the device's result document.
int linkRequest(Args& args, const QCommandLineOption& intfOpt, const QCommandLineOption& timeoutOpt,
                const std::function<bool(DeviceSearch&)>& send, const QString& what)
{
    NetIf intf;
    if (!chooseInterface(args, args.parser.value(intfOpt), &intf) || args.bad())
        return args.usage();
    const int timeoutMs = args.milliseconds(args.parser.value(timeoutOpt), "--timeout");
    if (args.bad())
        return args.usage();

    DeviceSearch search;
    search.useInterface(intf);
    if (!waitForCapture(search)) {
        err(QStringLiteral("fieldmate-cli: cannot capture on %1 (root or the cap_net_raw "
                           "capability is needed)")
                .arg(intf.name));
        return Failed;
    }
    int result = -1;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, qApp, &QCoreApplication::quit);
    QObject::connect(&search, &DeviceSearch::operationResult, qApp, [&result](bool ok) {
        result = ok ? 1 : 0;
        QCoreApplication::quit();
    });
    if (!send(search))
        return Failed;
    err(QStringLiteral("%1 sent, waiting for the device's answer").arg(what));
    timer.start(timeoutMs);
    QCoreApplication::exec();
    if (result < 0) {
        err(QStringLiteral("fieldmate-cli: no answer from the device"));
        out(QStringLiteral("no answer"));
        return Failed;
    }
    out(result ? QStringLiteral("Operation succeed!") : QStringLiteral("Operation failed!"));
    return result ? Ok : Failed;
}

} // namespace

int runDiscover(const QStringList& arguments)
{
    Args args("discover");
    const QCommandLineOption intfOpt("interface", "Network interface to search on.", "IFNAME");
    const QCommandLineOption timeoutOpt("timeout", "How long to search (default 3).", "SECONDS", "3");
    const QCommandLineOption jsonOpt("json", "One JSON object per device.");
    args.parser.addOptions({intfOpt, timeoutOpt, jsonOpt});
    if (!args.parse(arguments))
        return args.helpShown() ? Ok : args.usage();
    const QString name = args.required(intfOpt);
    const int timeoutMs = args.milliseconds(args.parser.value(timeoutOpt), "--timeout");
    if (!args.parser.positionalArguments().isEmpty())
        args.fail(QStringLiteral("unexpected argument '%1'").arg(args.parser.positionalArguments().first()));
    NetIf intf;
    if (args.bad() || !chooseInterface(args, name, &intf))
        return args.usage();

    DeviceSearch search;
    if (!search.udpReady())
        err(QStringLiteral("fieldmate-cli: UDP ports 8888/8889 are taken: only the link-layer "
                           "search runs"));
    // Three passes within the time given, one second apart at most.
    search.setPassInterval(qMin(DeviceSearch::kPassIntervalMs, timeoutMs / DeviceSearch::kPasses));
    QObject::connect(&search, &DeviceSearch::deviceFound, qApp, [&search](int index) {
        const DeviceSearch::Device device = search.devices().at(index);
        err(QStringLiteral("found %1 (%2)").arg(device.host, via(device)));
    });
    QTimer::singleShot(timeoutMs, qApp, &QCoreApplication::quit);
    QTimer::singleShot(qMin(timeoutMs, 1500), qApp, [&search, &intf] {
        if (!search.commLink()->isCapturing())
            err(QStringLiteral("fieldmate-cli: cannot capture on %1: only the UDP search runs "
                               "(root or the cap_net_raw capability is needed)")
                    .arg(intf.name));
    });
    search.start(intf);
    QCoreApplication::exec();

    const QList<DeviceSearch::Device> devices = search.devices();
    for (const DeviceSearch::Device& device : devices)
        printDevice(device, args.parser.isSet(jsonOpt));
    return devices.isEmpty() ? Failed : Ok;
}

int runSetIp(const QStringList& arguments)
{
    Args args("set-ip");
    const QCommandLineOption intfOpt("interface", "Network interface the device is on.", "IF");
    const QCommandLineOption macOpt("mac", "The device's hardware address.", "MAC");
    const QCommandLineOption deviceIntfOpt(
        "device-interface",
        "The device's own interface to change (default: the one with that MAC, found by a search).",
        "NAME");
    const QCommandLineOption ipOpt("ip", "New IPv4 address.", "A");
    const QCommandLineOption maskOpt("netmask", "New netmask (optional).", "M");
    const QCommandLineOption gatewayOpt("gateway", "New gateway (optional).", "G");
    const QCommandLineOption timeoutOpt("timeout", "How long to wait for the answer (default 5).",
                                        "SECONDS", "5");
    args.parser.addOptions({intfOpt, macOpt, deviceIntfOpt, ipOpt, maskOpt, gatewayOpt, timeoutOpt});
    if (!args.parse(arguments))
        return args.helpShown() ? Ok : args.usage();
    args.required(intfOpt);
    const QString mac = args.mac(args.required(macOpt));
    const QString ip = args.address(args.required(ipOpt), "--ip");
    const QString netmask = args.parser.value(maskOpt);
    const QString gateway = args.parser.value(gatewayOpt);
    if (!netmask.isEmpty())
        args.address(netmask, "--netmask");
    if (!gateway.isEmpty())
        args.address(gateway, "--gateway");
    if (args.bad())
        return args.usage();
    QString deviceIntf = args.parser.value(deviceIntfOpt);
    return linkRequest(
        args, intfOpt, timeoutOpt,
        [&](DeviceSearch& search) {
            if (deviceIntf.isEmpty())
                deviceIntf = deviceInterfaceOf(search, mac);
            if (deviceIntf.isEmpty())
                return false;
            search.sendSetIp(mac, {deviceIntf, ip, netmask, gateway});
            return true;
        },
        QStringLiteral("set-IP request to %1").arg(mac));
}

int runReboot(const QStringList& arguments)
{
    Args args("reboot");
    const QCommandLineOption intfOpt("interface", "Network interface the device is on.", "IF");
    const QCommandLineOption macOpt("mac", "The device's hardware address.", "MAC");
    const QCommandLineOption timeoutOpt("timeout", "How long to wait for the answer (default 5).",
                                        "SECONDS", "5");
    args.parser.addOptions({intfOpt, macOpt, timeoutOpt});
    if (!args.parse(arguments))
        return args.helpShown() ? Ok : args.usage();
    args.required(intfOpt);
    const QString mac = args.mac(args.required(macOpt));
    if (args.bad())
        return args.usage();
    return linkRequest(
        args, intfOpt, timeoutOpt,
        [&](DeviceSearch& search) {
            search.sendReboot(mac);
            return true;
        },
        QStringLiteral("reboot request to %1").arg(mac));
}

} // namespace Cli
