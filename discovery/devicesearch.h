#pragma once

#include "common/netif.h"
#include "discovery/discoveryproto.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class CommLink;
class QTimer;
class QUdpSocket;

// The device search on one network interface, without widgets: a UDP
// multicast request and a link-layer discovery frame together, sent in three
// passes one interval apart, and the answers of both kinds merged into one
// list by the duplicate rules of Discovery::SeenDevices. Also sends the
// set-IP and reboot frames and reports the devices' answers to them.
//
// The receive socket is bound to port 8888 and the send socket to port 8889
// on construction; a port another program holds leaves the UDP path out (the
// link frames still go).
class DeviceSearch : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPasses = 3;
    static constexpr int kPassIntervalMs = 1000;

    // One listed device.
    struct Device
    {
        QString host;        // the sender address (UDP) or "host" (link frame)
        QString product;     // empty for a bare UDP reply
        bool bare = false;   // a 7-byte UDP reply: product "Unknown", no interfaces
        QString address;     // the device's address for actions; may be empty
        QString mac;         // upper case; may be empty
        QList<Discovery::Interface> interfaces;
        bool byUdp = false;  // found by the UDP search
        bool byLink = false; // found by a link frame
        // The device's own interface that carries its address (empty if none).
        QString interfaceName() const;
    };

    explicit DeviceSearch(QObject* parent = nullptr);
    ~DeviceSearch() override;

    // The interface of that name (system or shown name) among the ones the
    // search offers (up, running, broadcast, multicast, nothing else).
    static bool findInterface(const QList<NetIf>& interfaces, const QString& name, NetIf* out);

    // Chooses the interface: starts the link capture on it, joins the
    // multicast group there and sends the requests out of it.
    void useInterface(const NetIf& intf);
    NetIf currentInterface() const { return interface_; }
    // Starts a search on the interface (clears the list; the MACs seen in
    // earlier searches are kept). False when a search is still going.
    bool start(const NetIf& intf);
    bool isSearching() const { return passes_ > 0; }
    int passesLeft() const { return passes_; }
    // One pass (what the pass timer does); at the first tick without a pass
    // left the search ends.
    void onPassTimer();
    void sendPass();

    // Handles one UDP datagram / one device information document.
    void processDatagram(const QByteArray& datagram, const QHostAddress& sender);
    void processNetworkInfo(const QByteArray& json);

    // Requests to one device by its MAC (empty: broadcast, every device).
    void sendSetIp(const QString& mac, const QStringList& values);
    void sendReboot(const QString& mac);

    QList<Device> devices() const { return devices_; }
    const Discovery::SeenDevices& seenDevices() const { return seen_; }
    CommLink* commLink() const { return link_; }
    bool udpReady() const;

    // Seam: the pass interval (1000 ms).
    void setPassInterval(int ms);

Q_SIGNALS:
    // A new device was listed (devices().at(index)).
    void deviceFound(int index);
    // A listed device answered by the other path as well.
    void deviceUpdated(int index);
    // The last pass has been sent and its interval is over.
    void searchFinished();
    // The answer to a set-IP or reboot request.
    void operationResult(bool ok);
    // Around the answers that arrived together (one capture wake-up, one
    // read of the socket): a receiver may gather the devices found and
    // show them at once.
    void burstStarted();
    void burstFinished();

private:
    void onDataReady();
    void onResult(const QByteArray& json);
    void bindSockets();
    void seenAgain(const QString& host, const QString& mac, bool byUdp);

    QTimer* passTimer_;
    QUdpSocket* recvSocket_;
    QUdpSocket* sendSocket_;
    CommLink* link_;
    Discovery::SeenDevices seen_;
    QList<Device> devices_;
    QString joinedInterface_;
    NetIf interface_;
    int passes_ = 0;
};
