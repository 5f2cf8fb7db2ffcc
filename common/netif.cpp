#include "common/netif.h"

#include "common/addresspatterns.h"

#include <QNetworkInterface>
#include <QStringList>

namespace {

// "%1:%2:%3:%4:%5:%6" of the adapter's six address bytes, or empty when the
// adapter has no 6-byte hardware address.
QString formattedAdapterAddress(const QString& reported)
{
    const QStringList groups = reported.split(QLatin1Char(':'));
    if (groups.size() != 6)
        return QString();
    unsigned char bytes[6];
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        const uint value = groups.at(i).toUInt(&ok, 16);
        if (!ok || value > 0xFF)
            return QString();
        bytes[i] = static_cast<unsigned char>(value);
    }
    return macToText(bytes);
}

} // namespace

QList<NetIf> NetIf::all()
{
    QList<NetIf> result;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : interfaces) {
        NetIf entry;
        entry.name = iface.name();
        entry.humanName = iface.humanReadableName();
        entry.hardwareAddress = iface.hardwareAddress();
        entry.flags = static_cast<unsigned>(iface.flags());
        entry.index = iface.index();
        for (const QNetworkAddressEntry& address : iface.addressEntries()) {
            if (address.ip().protocol() == QAbstractSocket::IPv4Protocol) {
                entry.ipv4 = address.ip();
                entry.netmask = address.netmask();
            }
        }
        result << entry;
    }
    return result;
}

QString NetIf::captureDeviceFor(const QString& name, const QString& hardwareAddress)
{
#ifdef Q_OS_WIN
    Q_UNUSED(name)
    return captureDeviceByAddress(hardwareAddress);
#else
    // libpcap names its capture devices here after the interfaces
    // themselves.
    Q_UNUSED(hardwareAddress)
    if (name.isEmpty() || !QNetworkInterface::interfaceFromName(name).isValid())
        return QString();
    return name;
#endif
}

QString NetIf::captureDeviceByAddress(const QString& hardwareAddress)
{
    if (hardwareAddress.isEmpty())
        return QString();
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : interfaces) {
        if (formattedAdapterAddress(iface.hardwareAddress()) != hardwareAddress)
            continue;
#ifdef Q_OS_WIN
        return QStringLiteral("\\Device\\NPF_") + iface.name();
#else
        return iface.name();
#endif
    }
    return QString();
}
