#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

// The platform's network interfaces as the discovery needs them: name,
// hardware address, flags and the last IPv4 address entry. Portable in
// design; the capture device naming is per platform.
struct NetIf
{
    QString name;          // system name ("eth0")
    QString humanName;     // name shown to the operator
    QString hardwareAddress; // as the system reports it
    unsigned flags = 0;    // QNetworkInterface::InterfaceFlags
    int index = 0;
    QHostAddress ipv4;     // last IPv4 entry (null if none)
    QHostAddress netmask;

    // The interfaces the search offers: up, running, broadcast and multicast,
    // and nothing else (no loopback, no point-to-point).
    static constexpr unsigned kSearchableFlags = 0x27;
    bool searchable() const { return flags == kSearchableFlags; }

    // Every interface in the order the system lists them.
    static QList<NetIf> all();

    // The packet-capture device of the interface the operator chose.
    // Where capture devices carry the interfaces' own names (Linux and the
    // other Unix systems) that is the interface named `name`, so that
    // interfaces sharing a hardware address (VLAN, bridge and bond
    // interfaces) are told apart. Where they do not (Windows), it is the
    // adapter found by captureDeviceByAddress. Empty when there is none.
    static QString captureDeviceFor(const QString& name, const QString& hardwareAddress);

    // The capture device of the first adapter whose hardware address,
    // formatted as six upper-case two-digit groups joined by ":", equals
    // hardwareAddress exactly. Empty when there is none. Only where the
    // platform offers nothing better: two interfaces with one address are
    // not told apart.
    static QString captureDeviceByAddress(const QString& hardwareAddress);
};
