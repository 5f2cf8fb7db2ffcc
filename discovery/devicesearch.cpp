#include "discovery/devicesearch.h"

#include "comm/commlink.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QTimer>
#include <QUdpSocket>

namespace {

QHostAddress group()
{
    return QHostAddress(QString::fromLatin1(Discovery::groupAddress()));
}

} // namespace

QString DeviceSearch::Device::interfaceName() const
{
    for (const Discovery::Interface& intf : interfaces) {
        if (!address.isEmpty() && intf.ip == address)
            return intf.name;
    }
    return QString();
}

DeviceSearch::DeviceSearch(QObject* parent)
    : QObject(parent),
      passTimer_(new QTimer(this)),
      recvSocket_(new QUdpSocket(this)),
      sendSocket_(new QUdpSocket(this)),
      link_(new CommLink(this))
{
    passTimer_->setInterval(kPassIntervalMs);
    bindSockets();
    connect(recvSocket_, &QUdpSocket::readyRead, this, &DeviceSearch::onDataReady);
    connect(passTimer_, &QTimer::timeout, this, &DeviceSearch::onPassTimer);
    connect(link_, &CommLink::gotNetworkInfo, this, &DeviceSearch::processNetworkInfo);
    connect(link_, &CommLink::gotResult, this, &DeviceSearch::onResult);
    connect(link_, &CommLink::burstStarted, this, &DeviceSearch::burstStarted);
    connect(link_, &CommLink::burstFinished, this, &DeviceSearch::burstFinished);
}

DeviceSearch::~DeviceSearch()
{
    if (!joinedInterface_.isEmpty() && recvSocket_->state() == QAbstractSocket::BoundState)
        recvSocket_->leaveMulticastGroup(group(),
                                         QNetworkInterface::interfaceFromName(joinedInterface_));
}

void DeviceSearch::bindSockets()
{
    sendSocket_->bind(QHostAddress::AnyIPv4, Discovery::kSearchPort);
    recvSocket_->bind(QHostAddress::AnyIPv4, Discovery::kDevicePort);
    // Our own request starts like a reply; it must not come back to us. On
    // this platform the option acts on the sending socket.
    recvSocket_->setSocketOption(QAbstractSocket::MulticastLoopbackOption, 0);
    sendSocket_->setSocketOption(QAbstractSocket::MulticastLoopbackOption, 0);
}

bool DeviceSearch::udpReady() const
{
    return recvSocket_->state() == QAbstractSocket::BoundState &&
           sendSocket_->state() == QAbstractSocket::BoundState;
}

void DeviceSearch::setPassInterval(int ms)
{
    passTimer_->setInterval(ms);
}

bool DeviceSearch::findInterface(const QList<NetIf>& interfaces, const QString& name, NetIf* out)
{
    for (const NetIf& intf : interfaces) {
        if (intf.searchable() && (intf.humanName == name || intf.name == name)) {
            *out = intf;
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------- search

void DeviceSearch::useInterface(const NetIf& intf)
{
    interface_ = intf;
    link_->setNetworkInterface(intf.name, intf.hardwareAddress);
    const QNetworkInterface qIntf = QNetworkInterface::interfaceFromName(intf.name);
    // Results are not checked; a socket that could not bind its port takes
    // no part.
    if (recvSocket_->state() == QAbstractSocket::BoundState && joinedInterface_ != intf.name) {
        if (!joinedInterface_.isEmpty())
            recvSocket_->leaveMulticastGroup(
                group(), QNetworkInterface::interfaceFromName(joinedInterface_));
        recvSocket_->joinMulticastGroup(group(), qIntf);
        joinedInterface_ = intf.name;
    }
    if (sendSocket_->state() == QAbstractSocket::BoundState)
        sendSocket_->setMulticastInterface(qIntf);
}

bool DeviceSearch::start(const NetIf& intf)
{
    if (passes_ > 0)
        return false;
    useInterface(intf);
    devices_.clear();
    seen_.newSearch();
    passes_ = kPasses;
    sendPass();
    passTimer_->start();
    return true;
}

void DeviceSearch::onPassTimer()
{
    if (passes_ <= 0) {
        passes_ = 0;
        passTimer_->stop();
        Q_EMIT searchFinished();
        return;
    }
    sendPass();
}

void DeviceSearch::sendPass()
{
    if (passes_ <= 0)
        return;
    quint32 address = 0;
    quint32 netmask = 0;
    const QNetworkInterface multicastIntf = sendSocket_->state() == QAbstractSocket::BoundState
                                                ? sendSocket_->multicastInterface()
                                                : QNetworkInterface();
    for (const QNetworkAddressEntry& entry : multicastIntf.addressEntries()) {
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) {
            address = entry.ip().toIPv4Address();
            netmask = entry.netmask().toIPv4Address();
        }
    }
    link_->sendFrame(LinkFrame::Discover, QString(), QByteArray());
    if (sendSocket_->state() == QAbstractSocket::BoundState)
        sendSocket_->writeDatagram(Discovery::buildRequest(address, netmask), group(),
                                   Discovery::kDevicePort);
    --passes_;
}

// --------------------------------------------------------------- answers

void DeviceSearch::onDataReady()
{
    Q_EMIT burstStarted();
    while (recvSocket_->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = recvSocket_->receiveDatagram();
        processDatagram(datagram.data(), datagram.senderAddress());
    }
    Q_EMIT burstFinished();
}

void DeviceSearch::processDatagram(const QByteArray& datagram, const QHostAddress& sender)
{
    bool isIpv4 = false;
    const quint32 senderValue = sender.toIPv4Address(&isIpv4);
    const QString senderText = isIpv4 ? QHostAddress(senderValue).toString() : sender.toString();
    Discovery::UdpReply reply;
    if (!Discovery::parseUdpReply(datagram, senderText, reply))
        return;
    if (!seen_.admitUdp(senderText, reply.deviceMac, reply.carriesMacs)) {
        seenAgain(senderText, reply.deviceMac, true);
        return;
    }
    Device device;
    device.host = senderText;
    device.product = reply.product;
    device.bare = reply.bare;
    device.address = senderText;
    device.mac = reply.deviceMac;
    device.interfaces = reply.interfaces;
    device.byUdp = true;
    devices_ << device;
    Q_EMIT deviceFound(devices_.size() - 1);
}

void DeviceSearch::processNetworkInfo(const QByteArray& json)
{
    Discovery::DeviceInfo info;
    if (!Discovery::parseDeviceInfo(json, info))
        return;
    if (!seen_.admitLink(info.host, info.deviceMac)) {
        seenAgain(info.host, info.deviceMac, false);
        return;
    }
    Device device;
    device.host = info.host;
    device.product = info.product;
    if (info.hostMatched) {
        device.address = info.host;
        device.mac = info.deviceMac;
    }
    device.interfaces = info.interfaces;
    device.byLink = true;
    devices_ << device;
    Q_EMIT deviceFound(devices_.size() - 1);
}

void DeviceSearch::seenAgain(const QString& host, const QString& mac, bool byUdp)
{
    for (int i = 0; i < devices_.size(); ++i) {
        Device& device = devices_[i];
        if (device.host != host || (!mac.isEmpty() && !device.mac.isEmpty() && device.mac != mac))
            continue;
        bool& flag = byUdp ? device.byUdp : device.byLink;
        if (!flag) {
            flag = true;
            Q_EMIT deviceUpdated(i);
        }
        return;
    }
}

void DeviceSearch::onResult(const QByteArray& json)
{
    bool result = false;
    if (Discovery::parseResult(json, result))
        Q_EMIT operationResult(result);
}

// -------------------------------------------------------------- requests

void DeviceSearch::sendSetIp(const QString& mac, const QStringList& values)
{
    link_->sendFrame(LinkFrame::SetIp, mac, Discovery::buildSetIpRequest(values));
}

void DeviceSearch::sendReboot(const QString& mac)
{
    link_->sendFrame(LinkFrame::Reboot, mac, QByteArray());
}
