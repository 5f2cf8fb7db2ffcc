#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <cstdint>

class QSocketNotifier;
class QUdpSocket;
struct pcap;

// One simulated device's side of the discovery (implemented by the
// discovery service of every device).
class DiscoveryResponder
{
public:
    virtual ~DiscoveryResponder() = default;
    // An 11-byte UDP search request from sender.
    virtual void udpRequest(const QHostAddress& sender, const QByteArray& request) = 0;
    // A link frame of EtherType 0x4D46 whose CRC is right.
    struct Frame
    {
        std::uint8_t destination[6];
        std::uint8_t source[6];
        std::uint32_t type;
        QByteArray payload;
    };
    virtual void linkFrame(const Frame& frame) = 0;
};

// The discovery side shared by all devices of the process: the interface
// the devices sit on, one capture of link frames on it and one UDP socket
// on port 8888 that joined the search group there. Requests are handed to
// every device; each answers on its own.
class DiscoveryHub : public QObject
{
    Q_OBJECT
public:
    // Sets the hub up on the interface; false (with a reason) on failure.
    // Link-only: the devices answer link frames alone (no UDP socket).
    static bool configure(const QString& interfaceName, bool linkOnly, QString* error);
    // The hub, or null when the discovery responders are not enabled.
    static DiscoveryHub* instance();
    // Adds the addresses to the interface (they may exist already).
    static bool assignAddresses(const QString& interfaceName,
                                const QList<QPair<QHostAddress, int>>& addresses,
                                QString* error);
    // Runs "ip ARGS" and tells whether it succeeded.
    static bool runIp(const QStringList& arguments, QString* output = nullptr);

    ~DiscoveryHub() override;

    QString interfaceName() const { return interfaceName_; }
    // The devices answer only link frames: they fit no subnet of the
    // searching host, listen on no port and have no address here.
    bool linkOnly() const { return linkOnly_; }
    void add(DiscoveryResponder* responder);
    void remove(DiscoveryResponder* responder);
    // Sends a raw frame on the interface.
    void sendFrame(const QByteArray& frame);

private:
    DiscoveryHub(const QString& interfaceName, bool linkOnly);
    bool open(QString* error);
    void onCaptureReadable();
    void onUdpReadyRead();
    static void onPacket(unsigned char* user, const struct pcap_pkthdr* header,
                         const unsigned char* bytes);

    QString interfaceName_;
    bool linkOnly_ = false;
    struct pcap* capture_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;
    QUdpSocket* udp_ = nullptr;
    QList<DiscoveryResponder*> responders_;
};
