#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// The device discovery's own formats as plain code (no widgets, no
// sockets): the UDP search request and reply, the JSON documents carried by
// link frames, and the rules that keep a device from being listed twice.
// Shared by the search page and the device simulator.
namespace Discovery {

constexpr quint16 kDevicePort = 8888; // devices listen, replies arrive here
constexpr quint16 kSearchPort = 8889; // requests leave from here
inline const char* groupAddress() { return "224.0.0.100"; }
constexpr int kRequestSize = 11;
constexpr int kBareReplySize = 7;

// The 11-byte request: 00 25 18, then the interface's IPv4 address and
// netmask, each least significant byte first.
QByteArray buildRequest(quint32 address, quint32 netmask);
// True for 00 25 18 followed by 8 bytes (what a device answers).
bool isRequest(const QByteArray& datagram);
// At least 3 bytes starting with 00 25 18 (a request shares the start).
bool hasReplyHeader(const QByteArray& datagram);

// One interface of a device.
struct Interface
{
    QString name;
    QString ip;
    QString netmask;
    QString mac; // empty in the short form
    bool operator==(const Interface& o) const
    {
        return name == o.name && ip == o.ip && netmask == o.netmask && mac == o.mac;
    }
};

struct UdpReply
{
    bool bare = false;         // the 7-byte reply: no product, no interfaces
    QString product;           // empty for a bare reply (shown as "Unknown")
    QList<Interface> interfaces;
    bool carriesMacs = false;  // at least one entry was in the long form
    QString deviceMac;         // MAC of the entry whose address is the sender's
};

// Parses a reply datagram from sender (dotted IPv4 text). Returns false for
// datagrams that are not replies, and for replies whose length bytes point
// past the datagram's end: those are dropped whole, nothing is read beyond
// the end.
bool parseUdpReply(const QByteArray& datagram, const QString& sender, UdpReply& out);

// How a device writes one interface entry. ShortWithMac (no entry length,
// but a MAC at the end) is what follows a long entry in a mixed reply.
enum class EntryForm { Long, Short, ShortWithMac };
// Builds a reply: product name, then the entries in the given forms (one
// form per entry; missing forms repeat the last one). Names longer than 255
// bytes are cut.
QByteArray buildUdpReply(const QByteArray& product, const QList<Interface>& interfaces,
                         const QList<EntryForm>& forms);

// Device information document (link frame type 1).
struct DeviceInfo
{
    QString host;
    QString product;
    QList<Interface> interfaces;
    QString deviceMac;         // upper case; empty when no interface is "host"
    bool hostMatched = false;  // an interface's address equals "host"
};
// False when the text is not a JSON object.
bool parseDeviceInfo(const QByteArray& json, DeviceInfo& out);
QByteArray buildDeviceInfo(const QString& host, const QString& product,
                           const QList<Interface>& interfaces);

// Operation result document (link frame types 3 and 5). False when the
// text is not valid JSON; result is false unless "result" is true.
bool parseResult(const QByteArray& json, bool& result);
QByteArray buildResult(bool result);

// Set-IP request document (link frame type 2), compact JSON.
struct SetIpRequest
{
    QString interfaceName;
    QString ip;
    QString netmask;
    QString gateway;
};
// values: interface, IP, netmask, gateway (missing values count as empty).
QByteArray buildSetIpRequest(const QStringList& values);
bool parseSetIpRequest(const QByteArray& json, SetIpRequest& out);

// The duplicate rules of the search. The address list belongs to one
// search; the MAC list outlives searches.
class SeenDevices
{
public:
    // A UDP reply's row is new unless its address was listed in this search
    // and either it carries no MACs or its MAC was seen before.
    bool admitUdp(const QString& address, const QString& mac, bool carriesMacs);
    // A link-frame row is new unless both its address (this search) and its
    // MAC (any search) were seen.
    bool admitLink(const QString& host, const QString& mac);
    void newSearch() { addresses_.clear(); }
    bool hasAddress(const QString& a) const { return addresses_.contains(a); }
    bool hasMac(const QString& m) const { return macs_.contains(m); }
    int addressCount() const { return addresses_.size(); }
    int macCount() const { return macs_.size(); }

private:
    void remember(const QString& address, const QString& mac);
    QSet<QString> addresses_;
    QSet<QString> macs_;
};

} // namespace Discovery
