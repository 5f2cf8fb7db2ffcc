#include "devsim/discoveryhub.h"

#include "comm/linkframe.h"
#include "discovery/discoveryproto.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QProcess>
#include <QSocketNotifier>
#include <QUdpSocket>
#include <cstring>
#include <pcap/pcap.h>

namespace {

DiscoveryHub*& hubRef()
{
    static DiscoveryHub* hub = nullptr;
    return hub;
}

} // namespace

bool DiscoveryHub::configure(const QString& interfaceName, bool linkOnly, QString* error)
{
    if (hubRef())
        return true;
    auto* hub = new DiscoveryHub(interfaceName, linkOnly);
    if (!hub->open(error)) {
        delete hub;
        return false;
    }
    hubRef() = hub;
    return true;
}

DiscoveryHub* DiscoveryHub::instance()
{
    return hubRef();
}

bool DiscoveryHub::runIp(const QStringList& arguments, QString* output)
{
    QProcess ip;
    ip.setProcessChannelMode(QProcess::MergedChannels);
    ip.start(QStringLiteral("ip"), arguments);
    if (!ip.waitForStarted(5000) || !ip.waitForFinished(10000))
        return false;
    if (output)
        *output = QString::fromLocal8Bit(ip.readAll()).trimmed();
    return ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
}

bool DiscoveryHub::assignAddresses(const QString& interfaceName,
                                   const QList<QPair<QHostAddress, int>>& addresses,
                                   QString* error)
{
    // One "ip -batch" for all of them; "-force" goes on past addresses that
    // exist already.
    QByteArray batch;
    for (const auto& entry : addresses)
        batch += "address replace " + entry.first.toString().toLatin1() + '/' +
                 QByteArray::number(entry.second) + " dev " + interfaceName.toLocal8Bit() + '\n';
    QProcess ip;
    ip.setProcessChannelMode(QProcess::MergedChannels);
    ip.start(QStringLiteral("ip"), {QStringLiteral("-force"), QStringLiteral("-batch"),
                                     QStringLiteral("-")});
    if (!ip.waitForStarted(5000)) {
        if (error)
            *error = QStringLiteral("cannot run ip");
        return false;
    }
    ip.write(batch);
    ip.closeWriteChannel();
    if (!ip.waitForFinished(60000) || ip.exitCode() != 0) {
        if (error)
            *error = QString::fromLocal8Bit(ip.readAll()).trimmed();
        return false;
    }
    return true;
}

DiscoveryHub::DiscoveryHub(const QString& interfaceName, bool linkOnly)
    : QObject(QCoreApplication::instance()), interfaceName_(interfaceName), linkOnly_(linkOnly)
{
}

DiscoveryHub::~DiscoveryHub()
{
    delete notifier_;
    if (capture_)
        pcap_close(capture_);
    if (hubRef() == this)
        hubRef() = nullptr;
}

bool DiscoveryHub::open(QString* error)
{
    const QNetworkInterface intf = QNetworkInterface::interfaceFromName(interfaceName_);
    if (!intf.isValid()) {
        if (error)
            *error = QStringLiteral("no interface %1").arg(interfaceName_);
        return false;
    }
    char errorBuffer[PCAP_ERRBUF_SIZE] = {0};
    capture_ = pcap_create(interfaceName_.toLocal8Bit().constData(), errorBuffer);
    if (!capture_) {
        if (error)
            *error = QString::fromLocal8Bit(errorBuffer);
        return false;
    }
    // Small frames, a large ring: requests are not lost behind a burst of
    // answers of another devsim on the same interface.
    pcap_set_snaplen(capture_, 2560);
    pcap_set_buffer_size(capture_, 8 * 1024 * 1024);
    pcap_set_promisc(capture_, 1);
    pcap_set_immediate_mode(capture_, 1);
    if (pcap_activate(capture_) < 0) {
        if (error)
            *error = QString::fromLocal8Bit(pcap_geterr(capture_));
        return false;
    }
    pcap_setdirection(capture_, PCAP_D_IN);
    const QByteArray filter = "ether proto " + QByteArray::number(LinkFrame::kEtherType);
    struct bpf_program program;
    if (pcap_compile(capture_, &program, filter.constData(), 1, PCAP_NETMASK_UNKNOWN) != 0 ||
        pcap_setfilter(capture_, &program) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(pcap_geterr(capture_));
        return false;
    }
    pcap_freecode(&program);
    if (pcap_setnonblock(capture_, 1, errorBuffer) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(errorBuffer);
        return false;
    }
    const int fd = pcap_get_selectable_fd(capture_);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("capture has no selectable descriptor");
        return false;
    }
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &DiscoveryHub::onCaptureReadable);
    if (linkOnly_)
        return true;

    udp_ = new QUdpSocket(this);
    if (!udp_->bind(QHostAddress::AnyIPv4, Discovery::kDevicePort,
                    QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        if (error)
            *error = QStringLiteral("cannot bind UDP port %1: %2")
                         .arg(Discovery::kDevicePort)
                         .arg(udp_->errorString());
        return false;
    }
    if (!udp_->joinMulticastGroup(QHostAddress(QString::fromLatin1(Discovery::groupAddress())),
                                  intf)) {
        if (error)
            *error = QStringLiteral("cannot join %1 on %2: %3")
                         .arg(QString::fromLatin1(Discovery::groupAddress()), interfaceName_,
                              udp_->errorString());
        return false;
    }
    connect(udp_, &QUdpSocket::readyRead, this, &DiscoveryHub::onUdpReadyRead);
    return true;
}

void DiscoveryHub::add(DiscoveryResponder* responder)
{
    responders_.append(responder);
}

void DiscoveryHub::remove(DiscoveryResponder* responder)
{
    responders_.removeAll(responder);
}

void DiscoveryHub::sendFrame(const QByteArray& frame)
{
    if (capture_ && !frame.isEmpty())
        pcap_sendpacket(capture_, reinterpret_cast<const u_char*>(frame.constData()), frame.size());
}

void DiscoveryHub::onPacket(unsigned char* user, const struct pcap_pkthdr* header,
                            const unsigned char* bytes)
{
    auto* hub = reinterpret_cast<DiscoveryHub*>(user);
    const std::size_t size = header->caplen;
    if (!LinkFrame::checkCrc(bytes, size))
        return;
    DiscoveryResponder::Frame frame;
    std::memcpy(frame.destination, bytes, 6);
    std::memcpy(frame.source, bytes + 6, 6);
    frame.type = LinkFrame::typeOf(bytes);
    frame.payload = QByteArray(reinterpret_cast<const char*>(bytes + LinkFrame::kHeaderSize),
                               static_cast<int>(size) - LinkFrame::kMinFrame);
    // The responders may send while we iterate; take a copy of the list.
    const QList<DiscoveryResponder*> responders = hub->responders_;
    for (DiscoveryResponder* responder : responders)
        responder->linkFrame(frame);
}

void DiscoveryHub::onCaptureReadable()
{
    while (pcap_dispatch(capture_, -1, &DiscoveryHub::onPacket, reinterpret_cast<u_char*>(this)) > 0) {
    }
}

void DiscoveryHub::onUdpReadyRead()
{
    while (udp_->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = udp_->receiveDatagram();
        if (!Discovery::isRequest(datagram.data()))
            continue;
        const QList<DiscoveryResponder*> responders = responders_;
        for (DiscoveryResponder* responder : responders)
            responder->udpRequest(datagram.senderAddress(), datagram.data());
    }
}
