#include "comm/commlink.h"
#include "app/crashhandler.h"

#include "common/netif.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <pcap/pcap.h>

namespace {

constexpr int kReadTimeoutMs = 1000;
constexpr bpf_u_int32 kFilterNetmask = 0xFFFFFF;

} // namespace

// ------------------------------------------------------------ CommLinkThread

CommLinkThread::CommLinkThread() = default;

CommLinkThread::~CommLinkThread()
{
    stopCapture();
    wait();
}

void CommLinkThread::startCapture(const QString& name, const QString& address)
{
    QMutexLocker lock(&mutex);
    interfaceName = name;
    hardwareAddress = address;
    stopRequested = false;
    if (!isRunning()) {
        opening = true;
        heldFrames.clear();
        start(QThread::InheritPriority);
    }
}

void CommLinkThread::stopCapture()
{
    {
        QMutexLocker lock(&mutex);
        // The flag also covers a loop that is starting up and has not
        // published its handle yet: it sees the request and ends at once.
        stopRequested = true;
        opening = false;
        heldFrames.clear();
        if (handle)
            pcap_breakloop(handle);
    }
    if (isRunning())
        wait();
}

void CommLinkThread::sendPacket(const uchar* data, int length)
{
    if (!data || length <= 0)
        return;
    QMutexLocker lock(&mutex);
    if (handle)
        pcap_sendpacket(handle, data, length);
    else if (opening && heldFrames.size() < kMaxHeldFrames)
        heldFrames << QByteArray(reinterpret_cast<const char*>(data), length);
}

bool CommLinkThread::isCapturing() const
{
    QMutexLocker lock(&mutex);
    return handle != nullptr;
}

void CommLinkThread::onPacket(unsigned char* user, const struct pcap_pkthdr* header,
                              const unsigned char* bytes)
{
    auto* self = reinterpret_cast<CommLinkThread*>(user);
    self->captured << QByteArray(reinterpret_cast<const char*>(bytes), static_cast<int>(header->caplen));
}

pcap_t* CommLinkThread::openCapture(const QString& device)
{
    char errorBuffer[PCAP_ERRBUF_SIZE] = {0};
    pcap_t* capture = pcap_create(device.toLocal8Bit().constData(), errorBuffer);
    if (!capture)
        return nullptr;
    pcap_set_snaplen(capture, kSnapshotLength);
    pcap_set_promisc(capture, 1);
    pcap_set_timeout(capture, kReadTimeoutMs);
    // Without immediate mode frames are buffered and reach us up to the read
    // time-out late.
    pcap_set_immediate_mode(capture, 1);
    pcap_set_buffer_size(capture, kBufferSize);
    if (pcap_activate(capture) < 0) {
        pcap_close(capture);
        return nullptr;
    }
    // Inbound only: our own requests never come back through the capture.
    pcap_setdirection(capture, PCAP_D_IN);

    const QByteArray filter = "ether proto " + QByteArray::number(LinkFrame::kEtherType);
    struct bpf_program program;
    bool filtered = pcap_compile(capture, &program, filter.constData(), 1, kFilterNetmask) == 0;
    if (filtered) {
        filtered = pcap_setfilter(capture, &program) == 0;
        pcap_freecode(&program);
    }
    if (!filtered) {
        pcap_close(capture);
        return nullptr;
    }

    // Published only once it filters: the frames held meanwhile go out now,
    // and the devices' answers to them are captured.
    QMutexLocker lock(&mutex);
    if (stopRequested) {
        pcap_close(capture);
        return nullptr;
    }
    handle = capture;
    opening = false;
    for (const QByteArray& frame : qAsConst(heldFrames))
        pcap_sendpacket(capture, reinterpret_cast<const u_char*>(frame.constData()), frame.size());
    heldFrames.clear();
    return capture;
}

void CommLinkThread::run()
{
    CrashHandler::prepareThread();
    QString name;
    QString address;
    {
        QMutexLocker lock(&mutex);
        name = interfaceName;
        address = hardwareAddress;
    }
    const QString device = NetIf::captureDeviceFor(name, address);
    pcap_t* capture = device.isEmpty() ? nullptr : openCapture(device);
    if (!capture) {
        QMutexLocker lock(&mutex);
        opening = false;
        heldFrames.clear();
        return;
    }

    // Each round hands on everything that is in the capture ring.
    for (;;) {
        const int result = pcap_dispatch(capture, -1, &CommLinkThread::onPacket,
                                         reinterpret_cast<unsigned char*>(this));
        if (!captured.isEmpty()) {
            Q_EMIT dataRecv(captured);
            captured.clear();
        }
        if (result < 0) // broken by stopCapture, or a capture error
            break;
    }

    {
        QMutexLocker lock(&mutex);
        handle = nullptr;
    }
    pcap_close(capture);
}

// ------------------------------------------------------------------ CommLink

CommLink::CommLink(QObject* parent) : QObject(parent), linkThread(new CommLinkThread)
{
    connect(linkThread, &CommLinkThread::dataRecv, this, &CommLink::onFramesRecv,
            Qt::QueuedConnection);
}

CommLink::~CommLink()
{
    linkThread->stopCapture();
    delete linkThread;
}

void CommLink::setNetworkInterface(const QString& name, const QString& hardwareAddress)
{
    if (name == intfName)
        return;
    intfName = name;
    std::uint8_t mac[6] = {0, 0, 0, 0, 0, 0};
    LinkFrame::parseMac(hardwareAddress, mac);
    std::copy(mac, mac + 6, sourceMac);
    if (linkThread->isRunning())
        linkThread->stopCapture();
    // What the old capture handed on and nobody has read yet came from the
    // other interface: it must not show up in a search on this one.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    linkThread->startCapture(name, hardwareAddress);
}

void CommLink::sendFrame(int type, const QString& destination, const QByteArray& payload)
{
    std::uint8_t mac[6];
    const std::uint8_t* target = nullptr;
    if (!destination.isEmpty()) {
        // A destination that is not a hardware address is not sent at all:
        // guessing could turn a request for one device into a broadcast.
        if (!LinkFrame::parseMac(destination, mac))
            return;
        target = mac;
    }
    const int size = LinkFrame::build(frameBuffer, static_cast<std::uint32_t>(type), target,
                                      sourceMac, payload.constData(), payload.size());
    linkThread->sendPacket(frameBuffer, size);
}

void CommLink::onDataRecv(const QByteArray& frame)
{
    LinkFrame::Received received;
    if (!LinkFrame::parse(frame, received))
        return;
    switch (received.type) {
    case LinkFrame::DeviceInfo:
        Q_EMIT gotNetworkInfo(received.json);
        break;
    case LinkFrame::SetIpResult:
    case LinkFrame::RebootResult:
        Q_EMIT gotResult(received.json);
        break;
    default:
        break;
    }
}

void CommLink::onFramesRecv(const QByteArrayList& frames)
{
    Q_EMIT burstStarted();
    for (const QByteArray& frame : frames)
        onDataRecv(frame);
    Q_EMIT burstFinished();
}
