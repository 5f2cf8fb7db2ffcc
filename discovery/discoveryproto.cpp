#include "discovery/discoveryproto.h"

#include "common/addresspatterns.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Discovery {

namespace {

constexpr quint8 kMagic[3] = {0x00, 0x25, 0x18};
constexpr int kLongFormExtra = 14; // entry length = name length + 14

quint8 byteAt(const QByteArray& d, int i)
{
    return static_cast<quint8>(d.at(i));
}

quint32 be32(const QByteArray& d, int i)
{
    return static_cast<quint32>(byteAt(d, i)) << 24 | static_cast<quint32>(byteAt(d, i + 1)) << 16 |
           static_cast<quint32>(byteAt(d, i + 2)) << 8 | byteAt(d, i + 3);
}

void putLe32(QByteArray& d, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        d.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void putBe32(QByteArray& d, quint32 v)
{
    for (int i = 3; i >= 0; --i)
        d.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A name field: UTF-8, ended early by a zero byte.
QString nameText(const QByteArray& d, int pos, int length)
{
    const QByteArray raw = d.mid(pos, length);
    const int zero = raw.indexOf('\0');
    return QString::fromUtf8(zero >= 0 ? raw.left(zero) : raw);
}

QString dotted(quint32 v)
{
    return QHostAddress(v).toString();
}

quint32 ipv4Value(const QString& text)
{
    bool ok = false;
    const QHostAddress address(text);
    const quint32 v = address.toIPv4Address(&ok);
    return ok ? v : 0;
}

QString stringAt(const QJsonArray& a, int i)
{
    return i < a.size() ? a.at(i).toString() : QString();
}

} // namespace

QByteArray buildRequest(quint32 address, quint32 netmask)
{
    QByteArray d(reinterpret_cast<const char*>(kMagic), 3);
    putLe32(d, address);
    putLe32(d, netmask);
    return d;
}

bool hasReplyHeader(const QByteArray& datagram)
{
    return datagram.size() >= 3 && byteAt(datagram, 0) == kMagic[0] &&
           byteAt(datagram, 1) == kMagic[1] && byteAt(datagram, 2) == kMagic[2];
}

bool isRequest(const QByteArray& datagram)
{
    return datagram.size() == kRequestSize && hasReplyHeader(datagram);
}

bool parseUdpReply(const QByteArray& d, const QString& sender, UdpReply& out)
{
    if (!hasReplyHeader(d))
        return false;
    UdpReply reply;
    const int size = d.size();
    if (size == kBareReplySize) {
        reply.bare = true;
        out = reply;
        return true;
    }
    if (size < 4)
        return false;
    const int productLength = byteAt(d, 3);
    int pos = 4;
    if (productLength > size - pos)
        return false;
    reply.product = nameText(d, pos, productLength);
    pos += productLength;

    while (pos < size) {
        // Long form: a 16-bit big-endian entry length equal to the name
        // length (its third byte) plus 14. Once one entry was long, every
        // later entry ends with a MAC too.
        const bool isLong = size - pos >= 3 &&
                            (byteAt(d, pos) << 8 | byteAt(d, pos + 1)) ==
                                byteAt(d, pos + 2) + kLongFormExtra;
        if (isLong) {
            reply.carriesMacs = true;
            pos += 2;
        }
        if (size - pos < 1)
            return false;
        const int nameLength = byteAt(d, pos++);
        const int need = nameLength + 8 + (reply.carriesMacs ? 6 : 0);
        if (need > size - pos)
            return false;
        Interface entry;
        entry.name = nameText(d, pos, nameLength);
        pos += nameLength;
        entry.ip = dotted(be32(d, pos));
        entry.netmask = dotted(be32(d, pos + 4));
        pos += 8;
        if (reply.carriesMacs) {
            entry.mac = macToText(reinterpret_cast<const unsigned char*>(d.constData() + pos));
            pos += 6;
            if (entry.ip == sender)
                reply.deviceMac = entry.mac;
        }
        reply.interfaces << entry;
    }
    out = reply;
    return true;
}

QByteArray buildUdpReply(const QByteArray& product, const QList<Interface>& interfaces,
                         const QList<EntryForm>& forms)
{
    QByteArray d(reinterpret_cast<const char*>(kMagic), 3);
    const QByteArray name = product.left(255);
    d.append(static_cast<char>(name.size()));
    d.append(name);
    EntryForm form = EntryForm::Long;
    for (int i = 0; i < interfaces.size(); ++i) {
        if (i < forms.size())
            form = forms.at(i);
        const Interface& intf = interfaces.at(i);
        const QByteArray intfName = intf.name.toUtf8().left(255);
        if (form == EntryForm::Long) {
            const int e = intfName.size() + kLongFormExtra;
            d.append(static_cast<char>(e >> 8));
            d.append(static_cast<char>(e & 0xFF));
        }
        d.append(static_cast<char>(intfName.size()));
        d.append(intfName);
        putBe32(d, ipv4Value(intf.ip));
        putBe32(d, ipv4Value(intf.netmask));
        if (form != EntryForm::Short) {
            unsigned char mac[6] = {0, 0, 0, 0, 0, 0};
            const QStringList groups = intf.mac.split(QLatin1Char(':'));
            for (int g = 0; g < 6 && g < groups.size(); ++g)
                mac[g] = static_cast<unsigned char>(groups.at(g).toUInt(nullptr, 16));
            d.append(reinterpret_cast<const char*>(mac), 6);
        }
    }
    return d;
}

bool parseDeviceInfo(const QByteArray& json, DeviceInfo& out)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    DeviceInfo info;
    info.host = o.value(QLatin1String("host")).toString();
    info.product = o.value(QLatin1String("product")).toString();
    const QJsonArray list = o.value(QLatin1String("intfInfo")).toArray();
    for (const QJsonValue& element : list) {
        const QJsonArray a = element.toArray();
        Interface intf{stringAt(a, 0), stringAt(a, 1), stringAt(a, 2), stringAt(a, 3)};
        if (intf.ip == info.host) {
            info.deviceMac = intf.mac.toUpper();
            info.hostMatched = true;
        }
        info.interfaces << intf;
    }
    out = info;
    return true;
}

QByteArray buildDeviceInfo(const QString& host, const QString& product,
                           const QList<Interface>& interfaces)
{
    QJsonArray list;
    for (const Interface& intf : interfaces)
        list.append(QJsonArray{intf.name, intf.ip, intf.netmask, intf.mac});
    QJsonObject o;
    o.insert(QLatin1String("host"), host);
    o.insert(QLatin1String("product"), product);
    o.insert(QLatin1String("intfInfo"), list);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool parseResult(const QByteArray& json, bool& result)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return false;
    result = doc.object().value(QLatin1String("result")).toBool(false);
    return true;
}

QByteArray buildResult(bool result)
{
    QJsonObject o;
    o.insert(QLatin1String("result"), result);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray buildSetIpRequest(const QStringList& values)
{
    QJsonObject o;
    o.insert(QLatin1String("interface"), values.value(0));
    o.insert(QLatin1String("ip"), values.value(1));
    o.insert(QLatin1String("netmask"), values.value(2));
    o.insert(QLatin1String("gateway"), values.value(3));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool parseSetIpRequest(const QByteArray& json, SetIpRequest& out)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    out.interfaceName = o.value(QLatin1String("interface")).toString();
    out.ip = o.value(QLatin1String("ip")).toString();
    out.netmask = o.value(QLatin1String("netmask")).toString();
    out.gateway = o.value(QLatin1String("gateway")).toString();
    return true;
}

// ---------------------------------------------------------------- SeenDevices

void SeenDevices::remember(const QString& address, const QString& mac)
{
    addresses_.insert(address);
    macs_.insert(mac);
}

bool SeenDevices::admitUdp(const QString& address, const QString& mac, bool carriesMacs)
{
    if (addresses_.contains(address) && (!carriesMacs || macs_.contains(mac)))
        return false;
    remember(address, mac);
    return true;
}

bool SeenDevices::admitLink(const QString& host, const QString& mac)
{
    if (addresses_.contains(host) && macs_.contains(mac))
        return false;
    remember(host, mac);
    return true;
}

} // namespace Discovery
