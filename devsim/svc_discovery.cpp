// The discovery responders of a device: the UDP search on port 8888 and the
// link-layer frames (device information, set IP, reboot). They work when
// devsim runs with --discovery IFNAME; all devices share that interface.
// With --link-only the devices answer link frames alone.
#include "comm/linkframe.h"
#include "common/addresspatterns.h"
#include "devsim/discoveryhub.h"
#include "devsim/simdevice.h"
#include "discovery/discoveryproto.h"

#include <QTimer>
#include <QUdpSocket>
#include <cstring>

namespace {

// "02:4D:46:" and the last three bytes of the address.
QString defaultMac(const QHostAddress& address)
{
    const quint32 v = address.toIPv4Address();
    const unsigned char mac[6] = {0x02, 0x4D, 0x46, static_cast<unsigned char>(v >> 16),
                                  static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    return macToText(mac);
}

// Prefix length of a contiguous netmask, -1 for anything else.
int prefixOf(const QString& netmask)
{
    if (!isIpv4Address(netmask))
        return -1;
    const quint32 v = QHostAddress(netmask).toIPv4Address();
    int prefix = 0;
    while (prefix < 32 && (v & (0x80000000u >> prefix)))
        ++prefix;
    const quint32 expected = prefix == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix);
    return v == expected ? prefix : -1;
}

class DiscoveryService : public DevService, public DiscoveryResponder
{
public:
    explicit DiscoveryService(SimDevice& device) : device_(device) {}

    ~DiscoveryService() override
    {
        if (DiscoveryHub* hub = DiscoveryHub::instance())
            hub->remove(this);
    }

    void start() override
    {
        hub_ = DiscoveryHub::instance();
        if (!hub_)
            return;
        mac_ = device_.textOption("mac", defaultMac(device_.address())).toUpper();
        LinkFrame::parseMac(mac_, macBytes_);
        interfaces_ << Discovery::Interface{device_.textOption("intf-name", "eth0"),
                                            device_.address().toString(),
                                            device_.textOption("netmask", "255.255.255.0"), mac_};
        const QStringList extras =
            device_.textOption("extra-interfaces").split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (const QString& extra : extras) {
            const QStringList f = extra.split(QLatin1Char(','));
            interfaces_ << Discovery::Interface{f.value(0), f.value(1), f.value(2),
                                                f.value(3).toUpper()};
        }
        gateway_ = device_.textOption("gateway");
        if (!hub_->linkOnly()) {
            replySocket_ = std::make_unique<QUdpSocket>();
            replySocket_->bind(device_.address(), 0);
        }
        hub_->add(this);
    }

    bool handle(Session&, int, const QByteArray&) override { return false; }

    void udpRequest(const QHostAddress& sender, const QByteArray& request) override
    {
        // The requester's interface address and netmask, least significant
        // byte first.
        auto le32 = [&request](int at) {
            quint32 v = 0;
            for (int i = 3; i >= 0; --i)
                v = v << 8 | static_cast<quint8>(request.at(at + i));
            return QHostAddress(v).toString();
        };
        note(QStringLiteral("udp: request from %1 for %2/%3")
                 .arg(sender.toString(), le32(3), le32(7)));
        const QString form = device_.textOption("udp-form", "long");
        if (form == QLatin1String("off") || !replySocket_)
            return;
        // A device answers only whom it can route to: its own subnet, or
        // anywhere once it has a gateway.
        if (!reachable(sender)) {
            note(QStringLiteral("udp: request from %1, not reachable").arg(sender.toString()));
            return;
        }
        QByteArray reply;
        if (form == QLatin1String("bare")) {
            reply = QByteArray::fromHex("002518") + QByteArray(4, '\0');
        } else {
            QList<Discovery::EntryForm> forms;
            if (form == QLatin1String("short"))
                forms << Discovery::EntryForm::Short;
            else if (form == QLatin1String("mixed"))
                forms << Discovery::EntryForm::Long << Discovery::EntryForm::ShortWithMac;
            else
                forms << Discovery::EntryForm::Long;
            reply = Discovery::buildUdpReply(
                device_.textOption("product", "SIM-100").toUtf8(), interfaces_, forms);
        }
        const QString fault = device_.textOption("udp-fault");
        if (fault == QLatin1String("past-end") && reply.size() > 3)
            reply[3] = static_cast<char>(0xFF);
        else if (fault == QLatin1String("truncated"))
            reply.chop(3);
        else if (fault == QLatin1String("bad-magic"))
            reply[0] = 0x01;
        else if (fault == QLatin1String("short"))
            reply = reply.left(2);
        replySocket_->writeDatagram(reply, sender, Discovery::kDevicePort);
        note(QStringLiteral("udp: answered %1 (%2 bytes)").arg(sender.toString()).arg(reply.size()));
    }

    void linkFrame(const Frame& frame) override
    {
        if (device_.textOption("link-reply", "1") == QLatin1String("0"))
            return;
        static const std::uint8_t broadcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        const bool toAll = std::memcmp(frame.destination, broadcast, 6) == 0;
        if (!toAll && std::memcmp(frame.destination, macBytes_, 6) != 0)
            return;
        switch (frame.type) {
        case LinkFrame::Discover:
            note(QStringLiteral("link: discovery request"));
            answer(frame, LinkFrame::DeviceInfo,
                   Discovery::buildDeviceInfo(interfaces_.first().ip,
                                              device_.textOption("product", "SIM-100"),
                                              interfaces_));
            break;
        case LinkFrame::SetIp: {
            const bool ok = setIp(frame.payload);
            answer(frame, LinkFrame::SetIpResult, Discovery::buildResult(ok));
            break;
        }
        case LinkFrame::Reboot: {
            const bool ok = device_.textOption("reboot-result", "1") != QLatin1String("0");
            note(QStringLiteral("link: reboot request"));
            answer(frame, LinkFrame::RebootResult, Discovery::buildResult(ok));
            // A link-only device has no service to take down.
            if (ok && !hub_->linkOnly())
                QTimer::singleShot(0, &device_, [d = &device_] { d->reboot(); });
            break;
        }
        default:
            break;
        }
    }

private:
    void note(const QString& line) const
    {
        if (!device_.boolOption("quiet"))
            device_.log(line);
    }

    bool reachable(const QHostAddress& peer) const
    {
        if (!gateway_.isEmpty())
            return true;
        const int prefix = prefixOf(interfaces_.first().netmask);
        if (prefix < 0)
            return false;
        return peer.isInSubnet(QHostAddress(interfaces_.first().ip), prefix);
    }

    void answer(const Frame& request, std::uint32_t type, const QByteArray& json)
    {
        QByteArray payload = json;
        const QString fault = device_.textOption("link-fault");
        if (fault == QLatin1String("no-brace"))
            payload.replace('}', ' ');
        else if (fault == QLatin1String("bad-json"))
            payload = "{\"host\": oops}";
        QByteArray frame = LinkFrame::build(type, request.source, macBytes_, payload);
        if (fault == QLatin1String("bad-crc"))
            frame[frame.size() - 1] = static_cast<char>(frame.at(frame.size() - 1) ^ 0x5A);
        else if (fault == QLatin1String("padded"))
            frame.append(QByteArray(8, '\x55')); // zero padding would keep the CRC right

        else if (fault == QLatin1String("runt"))
            frame = frame.left(LinkFrame::kMinFrame - 1);
        hub_->sendFrame(frame);
    }

    bool setIp(const QByteArray& json)
    {
        Discovery::SetIpRequest request;
        if (!Discovery::parseSetIpRequest(json, request)) {
            note(QStringLiteral("link: set IP with an unreadable document"));
            return false;
        }
        note(QStringLiteral("link: set IP of %1 to %2 netmask %3 gateway %4")
                 .arg(request.interfaceName, request.ip, request.netmask, request.gateway));
        int index = -1;
        for (int i = 0; i < interfaces_.size(); ++i) {
            if (interfaces_.at(i).name == request.interfaceName)
                index = i;
        }
        if (index < 0 || !isIpv4Address(request.ip))
            return false;
        Discovery::Interface& intf = interfaces_[index];
        const QString netmask = request.netmask.isEmpty() ? intf.netmask : request.netmask;
        const int prefix = prefixOf(netmask);
        if (prefix < 0 || (!request.gateway.isEmpty() && !isIpv4Address(request.gateway)))
            return false;
        if (index > 0 || hub_->linkOnly()) {
            // The other interfaces (and every interface of a link-only
            // device) exist only in the device's answers.
            intf.ip = request.ip;
            intf.netmask = netmask;
            return true;
        }
        const QString ifName = hub_->interfaceName();
        const QString oldEntry = intf.ip + QLatin1Char('/') + QString::number(prefixOf(intf.netmask));
        const QString newEntry = request.ip + QLatin1Char('/') + QString::number(prefix);
        QString output;
        if (request.ip == intf.ip) {
            DiscoveryHub::runIp({"address", "del", oldEntry, "dev", ifName});
            if (!DiscoveryHub::runIp({"address", "add", newEntry, "dev", ifName}, &output)) {
                note(QStringLiteral("link: %1").arg(output));
                return false;
            }
        } else {
            if (!DiscoveryHub::runIp({"address", "add", newEntry, "dev", ifName}, &output)) {
                note(QStringLiteral("link: %1").arg(output));
                return false;
            }
            DiscoveryHub::runIp({"address", "del", oldEntry, "dev", ifName});
        }
        intf.ip = request.ip;
        intf.netmask = netmask;
        bool ok = true;
        if (!request.gateway.isEmpty()) {
            ok = DiscoveryHub::runIp(
                {"route", "replace", "default", "via", request.gateway, "dev", ifName}, &output);
            if (ok)
                gateway_ = request.gateway;
            else
                note(QStringLiteral("link: %1").arg(output));
        }
        device_.moveTo(QHostAddress(request.ip));
        replySocket_ = std::make_unique<QUdpSocket>();
        replySocket_->bind(QHostAddress(request.ip), 0);
        return ok;
    }

    SimDevice& device_;
    DiscoveryHub* hub_ = nullptr;
    QString mac_;
    std::uint8_t macBytes_[6] = {0, 0, 0, 0, 0, 0};
    QList<Discovery::Interface> interfaces_;
    QString gateway_;
    std::unique_ptr<QUdpSocket> replySocket_;
};

const ServiceRegistrar registrar(ServiceInfo{
    "discovery (with --discovery IFNAME)",
    {{"mac", "the device's MAC (default 02:4D:46 and the address's last three bytes)"},
     {"product", "product name in discovery answers (default SIM-100)"},
     {"intf-name", "the device's name of its interface (default eth0)"},
     {"netmask", "netmask of the device's address (default 255.255.255.0)"},
     {"gateway", "gateway; without one the device answers UDP only in its subnet"},
     {"extra-interfaces", "more interfaces: NAME,IP,NETMASK,MAC;..."},
     {"udp-form", "long (default), short, mixed, bare (7 bytes) or off"},
     {"udp-fault", "past-end, truncated, bad-magic or short: send broken UDP answers"},
     {"link-reply", "0: do not answer link frames"},
     {"link-fault", "bad-crc, no-brace, bad-json, padded (non-zero filler) or runt: broken link frames"},
     {"reboot-result", "0: answer a link reboot request with failure"}},
    [](SimDevice& device) { return std::make_unique<DiscoveryService>(device); }});

} // namespace
