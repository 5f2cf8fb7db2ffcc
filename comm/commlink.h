#pragma once

#include "comm/linkframe.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>
#include <cstdint>

struct pcap;

// Owns the packet-capture handle of one adapter: runs the capture loop on
// its own thread and sends raw frames on request. The mutex guards the
// handle and the adapter address, so a frame is never sent on a handle that
// is being closed and the loop is never broken on a closed handle.
class CommLinkThread : public QThread
{
    Q_OBJECT
public:
    CommLinkThread();
    ~CommLinkThread() override;

    // Stores the adapter's hardware address and starts the thread unless it
    // is already running.
    void startCapture(const QString& hardwareAddress);
    // Ends a running capture loop and waits for the thread.
    void stopCapture();
    // Sends raw bytes on the open capture; dropped when none is open.
    void sendPacket(const uchar* data, int length);

    // True while a capture handle is open (for tests and diagnostics).
    bool isCapturing() const;

Q_SIGNALS:
    // One captured frame, as a copy owned by the delivery (the capture
    // library's buffer is only valid during its callback).
    void dataRecv(QByteArray frame);

protected:
    void run() override;

private:
    static void onPacket(unsigned char* user, const struct pcap_pkthdr* header,
                         const unsigned char* bytes);

    mutable QMutex mutex;
    struct pcap* handle = nullptr;
    QString hardwareAddress;
    bool stopRequested = false;
};

// The link-layer discovery channel of the search page: raw Ethernet frames
// of EtherType 0x4D46 on the chosen interface, whatever the devices' IP
// settings are.
class CommLink : public QObject
{
    Q_OBJECT
public:
    explicit CommLink(QObject* parent = nullptr);
    ~CommLink() override;

    // Selects the interface to work on and (re)starts the capture on it.
    // Selecting the interface already chosen keeps the running capture.
    void setNetworkInterface(const QString& name, const QString& hardwareAddress);
    // Builds one frame and sends it. An empty destination means broadcast;
    // otherwise six hexadecimal groups separated by ":" (any case).
    void sendFrame(int type, const QString& destination, const QByteArray& payload);

    QString networkInterface() const { return intfName; }
    bool isCapturing() const { return linkThread->isCapturing(); }
    CommLinkThread* captureThread() const { return linkThread; }

Q_SIGNALS:
    void gotNetworkInfo(QByteArray data);
    void gotResult(QByteArray data);

public Q_SLOTS:
    // A captured frame: checked, cut at its JSON text and turned into
    // gotNetworkInfo (type 1) or gotResult (types 3 and 5).
    void onDataRecv(const QByteArray& frame);

private:
    QString intfName;
    std::uint8_t sourceMac[6] = {0, 0, 0, 0, 0, 0};
    CommLinkThread* linkThread;
    std::uint8_t frameBuffer[LinkFrame::kMaxFrame];
};
