// devsim: a simulated Fieldmate device (or many) for trying the program
// without hardware and for the integration tests.
#include "devsim/discoveryhub.h"
#include "devsim/simdevice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QTextStream>
#include <QThread>
#include <cstdio>

namespace {

// "127.0.0.2-127.0.0.9" or "127.0.0.2-9": every address of the range.
bool expandRange(const QString& text, QList<QHostAddress>& out)
{
    const QString first = text.section(QLatin1Char('-'), 0, 0);
    QString last = text.section(QLatin1Char('-'), 1);
    QHostAddress from(first);
    if (from.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    if (!last.contains(QLatin1Char('.')))
        last = first.section(QLatin1Char('.'), 0, 2) + QLatin1Char('.') + last;
    QHostAddress to(last);
    if (to.protocol() != QAbstractSocket::IPv4Protocol || to.toIPv4Address() < from.toIPv4Address())
        return false;
    if (to.toIPv4Address() - from.toIPv4Address() > 4096)
        return false;
    for (quint32 a = from.toIPv4Address(); a <= to.toIPv4Address(); ++a)
        out << QHostAddress(a);
    return true;
}

void printOptions()
{
    QTextStream out(stdout);
    out << "Link options (--set KEY=VALUE):\n";
    for (const OptionDoc& doc : linkOptionDocs())
        out << "  " << doc.key.leftJustified(22) << doc.help << '\n';
    for (const ServiceInfo& info : ServiceRegistry::all()) {
        if (info.options.isEmpty())
            continue;
        out << "Service " << info.name << ":\n";
        for (const OptionDoc& doc : info.options)
            out << "  " << doc.key.leftJustified(22) << doc.help << '\n';
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("devsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated Fieldmate device: speaks the TCP command service on port 8712 "
                       "as a real device would, one device per listening address."));
    parser.addHelpOption();
    const QCommandLineOption listenOpt(
        QStringList{"l", "listen"}, QStringLiteral("Address to listen on (repeatable). Default 127.0.0.1."),
        QStringLiteral("address"));
    const QCommandLineOption rangeOpt(
        QStringList{"r", "range"},
        QStringLiteral("A range of addresses, one device each, e.g. 127.0.0.2-127.0.0.33 or "
                       "127.0.0.2-33 (repeatable)."),
        QStringLiteral("first-last"));
    const QCommandLineOption portOpt(
        QStringList{"p", "port"}, QStringLiteral("TCP port (default 8712; 0 picks a free port, the same for all devices where it can)."),
        QStringLiteral("port"), QStringLiteral("8712"));
    const QCommandLineOption setOpt(
        QStringList{"s", "set"},
        QStringLiteral("Device option KEY=VALUE for every device, or ADDRESS/KEY=VALUE for one "
                       "(repeatable). See --list-options."),
        QStringLiteral("option"));
    const QCommandLineOption listOpt(QStringLiteral("list-options"),
                                     QStringLiteral("List the device options and exit."));
    const QCommandLineOption discoveryOpt(
        QStringLiteral("discovery"),
        QStringLiteral("Answer the device search (UDP on port 8888 and link frames) on this "
                       "interface, for every device. Needs root (packet capture)."),
        QStringLiteral("interface"));
    const QCommandLineOption assignOpt(
        QStringLiteral("assign"),
        QStringLiteral("With --discovery: add every device address to the interface first "
                       "(prefix from the device's netmask option)."));
    const QCommandLineOption linkOnlyOpt(
        QStringLiteral("link-only"),
        QStringLiteral("With --discovery: the devices answer only link frames, as devices whose "
                       "addresses fit no subnet of the searching host. Their addresses are not "
                       "put on the interface and they listen on no port, so thousands fit in "
                       "one process."));
    const QCommandLineOption threadsOpt(
        QStringLiteral("threads"),
        QStringLiteral("Serve the devices on this many threads, the devices spread over them "
                       "(default 1; not with --discovery)."),
        QStringLiteral("n"), QStringLiteral("1"));
    parser.addOption(threadsOpt);
    parser.addOption(listenOpt);
    parser.addOption(linkOnlyOpt);
    parser.addOption(discoveryOpt);
    parser.addOption(assignOpt);
    parser.addOption(rangeOpt);
    parser.addOption(portOpt);
    parser.addOption(setOpt);
    parser.addOption(listOpt);
    parser.process(app);

    if (parser.isSet(listOpt)) {
        printOptions();
        return 0;
    }

    QList<QHostAddress> addresses;
    for (const QString& text : parser.values(listenOpt)) {
        QHostAddress address(text);
        if (address.isNull()) {
            std::fprintf(stderr, "devsim: not an address: %s\n", qPrintable(text));
            return 2;
        }
        addresses << address;
    }
    for (const QString& text : parser.values(rangeOpt)) {
        if (!expandRange(text, addresses)) {
            std::fprintf(stderr, "devsim: not an address range: %s\n", qPrintable(text));
            return 2;
        }
    }
    if (addresses.isEmpty())
        addresses << QHostAddress(QHostAddress::LocalHost);

    bool portOk = false;
    const uint port = parser.value(portOpt).toUInt(&portOk);
    if (!portOk || port > 65535) {
        std::fprintf(stderr, "devsim: not a port: %s\n", qPrintable(parser.value(portOpt)));
        return 2;
    }

    QVariantHash common;
    QHash<QString, QVariantHash> perDevice;
    for (const QString& text : parser.values(setOpt)) {
        const int eq = text.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            std::fprintf(stderr, "devsim: option must be KEY=VALUE: %s\n", qPrintable(text));
            return 2;
        }
        QString key = text.left(eq);
        const QString value = text.mid(eq + 1);
        const int slash = key.indexOf(QLatin1Char('/'));
        if (slash > 0) {
            const QHostAddress address(key.left(slash));
            if (address.isNull()) {
                std::fprintf(stderr, "devsim: not an address in %s\n", qPrintable(text));
                return 2;
            }
            perDevice[address.toString()].insert(key.mid(slash + 1), value);
        } else {
            common.insert(key, value);
        }
    }

    auto optionsOf = [&](const QHostAddress& address) {
        QVariantHash options = common;
        const QVariantHash own = perDevice.value(address.toString());
        for (auto it = own.begin(); it != own.end(); ++it)
            options.insert(it.key(), it.value());
        return options;
    };

    const bool linkOnly = parser.isSet(linkOnlyOpt);
    if (linkOnly && (!parser.isSet(discoveryOpt) || parser.isSet(assignOpt))) {
        std::fprintf(stderr, "devsim: --link-only needs --discovery and excludes --assign\n");
        return 2;
    }
    if (parser.isSet(discoveryOpt)) {
        const QString intf = parser.value(discoveryOpt);
        QString error;
        if (parser.isSet(assignOpt)) {
            QList<QPair<QHostAddress, int>> entries;
            for (const QHostAddress& address : addresses) {
                const QString netmask =
                    optionsOf(address).value(QStringLiteral("netmask"), QStringLiteral("255.255.255.0"))
                        .toString();
                const auto subnet = QHostAddress::parseSubnet(QStringLiteral("0.0.0.0/") + netmask);
                if (subnet.second < 0) {
                    std::fprintf(stderr, "devsim: not a netmask: %s\n", qPrintable(netmask));
                    return 2;
                }
                entries.append({address, subnet.second});
            }
            if (!DiscoveryHub::assignAddresses(intf, entries, &error)) {
                std::fprintf(stderr, "devsim: cannot assign the addresses: %s\n", qPrintable(error));
                return 1;
            }
        }
        if (!DiscoveryHub::configure(intf, linkOnly, &error)) {
            std::fprintf(stderr, "devsim: discovery on %s: %s\n", qPrintable(intf),
                         qPrintable(error));
            return 1;
        }
    }

    bool threadsOk = false;
    const int threadCount = parser.value(threadsOpt).toInt(&threadsOk);
    if (!threadsOk || threadCount < 1 || threadCount > 64 ||
        (threadCount > 1 && parser.isSet(discoveryOpt))) {
        std::fprintf(stderr, "devsim: --threads must be 1 to 64 (1 with --discovery)\n");
        return 2;
    }
    // Device k lives in thread k modulo the count; thread 0 is this one.
    QList<QThread*> threads{app.thread()};
    for (int i = 1; i < threadCount; ++i) {
        threads << new QThread(&app);
        threads.last()->start();
    }
    auto makeDevice = [&](const QHostAddress& address, quint16 devicePort, const QVariantHash& options,
                          QThread* home) {
        auto* device = new SimDevice(address, devicePort, options, home == app.thread() ? &app : nullptr);
        if (home != app.thread())
            device->moveToThread(home);
        return device;
    };
    auto listenIn = [&](SimDevice* device) {
        bool ok = false;
        QMetaObject::invokeMethod(device, [device, &ok] { ok = device->listen(); },
                                  device->thread() == app.thread() ? Qt::DirectConnection
                                                                   : Qt::BlockingQueuedConnection);
        return ok;
    };

    // With port 0 the devices share the free port the first one got, where
    // they can (tools that take a plain address list need one port for all).
    QList<SimDevice*> devices;
    quint16 shared = 0;
    for (const QHostAddress& address : addresses) {
        const QVariantHash options = optionsOf(address);
        QThread* home = threads.at(devices.size() % threads.size());
        auto* device = makeDevice(address, port ? quint16(port) : shared, options, home);
        if (linkOnly) {
            devices << device;
            continue;
        }
        if (!listenIn(device)) {
            device->deleteLater();
            if (port != 0 || shared == 0)
                return 1;
            device = makeDevice(address, 0, options, home);
            if (!listenIn(device))
                return 1;
        }
        if (port == 0 && shared == 0)
            shared = device->boundPort();
        devices << device;
        std::printf("devsim: listening on %s:%u\n", qPrintable(address.toString()),
                    device->boundPort());
    }
    std::printf("devsim: %d device(s) ready\n", static_cast<int>(devices.size()));
    std::fflush(stdout);
    return app.exec();
}
