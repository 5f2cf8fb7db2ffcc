#pragma once

#include "comm/linkframe.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
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

    // Stores the interface (its name and hardware address) and starts the
    // thread unless it is already running.
    void startCapture(const QString& interfaceName, const QString& hardwareAddress);
    // Ends a running capture loop and waits for the thread.
    void stopCapture();
    // Sends raw bytes on the open capture. While a capture that was just
    // started is still opening, the frame is held and sent as soon as the
    // capture is open and filtering, so that the first frame of a new
    // capture is not lost and its answers are captured. Dropped when no
    // capture is open or opening (or it fails to open).
    void sendPacket(const uchar* data, int length);

    // True while a capture handle is open (for tests and diagnostics).
    bool isCapturing() const;

    // Capture settings. The kernel's capture ring takes one frame per
    // memory page when the snapshot length covers the largest link frame
    // (with a VLAN tag) and no more; with a buffer of 8 MiB it holds 2048
    // frames, so a burst of answers of a thousand devices arriving while
    // this thread is not running is not dropped. (A 65536-byte snapshot
    // left room for 32.) A larger ring would make opening the capture
    // slower: installing the filter walks the whole ring.
    static constexpr int kSnapshotLength = 2560;
    static constexpr int kBufferSize = 8 * 1024 * 1024;
    // At most this many frames are held while the capture opens.
    static constexpr int kMaxHeldFrames = 16;

Q_SIGNALS:
    // The frames captured at one wake-up of the capture loop, in order, as
    // copies owned by the delivery (the capture library's buffer is only
    // valid during its callback). A burst of device answers thus reaches
    // the GUI thread as one event, not hundreds.
    void dataRecv(QByteArrayList frames);

protected:
    void run() override;

private:
    static void onPacket(unsigned char* user, const struct pcap_pkthdr* header,
                         const unsigned char* bytes);
    // Opens, configures and publishes the capture; null when it cannot.
    struct pcap* openCapture(const QString& device);

    QByteArrayList captured; // capture thread only
    mutable QMutex mutex;
    struct pcap* handle = nullptr;
    QString interfaceName;
    QString hardwareAddress;
    bool stopRequested = false;
    bool opening = false;
    QList<QByteArray> heldFrames;
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
    // Around the signals of the frames captured at one wake-up: a receiver
    // may gather what they bring and act on it once.
    void burstStarted();
    void burstFinished();

public Q_SLOTS:
    // A captured frame: checked, cut at its JSON text and turned into
    // gotNetworkInfo (type 1) or gotResult (types 3 and 5).
    void onDataRecv(const QByteArray& frame);
    // The frames of one wake-up, each as by onDataRecv, between
    // burstStarted and burstFinished.
    void onFramesRecv(const QByteArrayList& frames);

private:
    QString intfName;
    std::uint8_t sourceMac[6] = {0, 0, 0, 0, 0, 0};
    CommLinkThread* linkThread;
    std::uint8_t frameBuffer[LinkFrame::kMaxFrame];
};
