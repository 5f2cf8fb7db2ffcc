#pragma once

#include "comm/commandframe.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

// The TCP command link to one device: connection, framing of every command
// sent, reassembly and checking of every frame received, and routing of each
// frame by its command code to one of six response signals.
//
// An instance is used only from the thread that owns it. On the GUI thread
// it reports a missing connection and write failures with message boxes; in
// any other thread it never opens a box and reports them by signal only.
class CommTcp : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 kDevicePort = 8712;
    static constexpr int kConnectTimeoutMs = 1000;
    static constexpr int kReassemblyTimeoutMs = 100;

    explicit CommTcp(QObject* parent = nullptr);
    ~CommTcp() override;

    // Connects to the device at the dotted IPv4 text. Blocks for at most the
    // connect timeout and reports the outcome through connectedToDevice or
    // connectionError before it returns. An attempt still pending is
    // abandoned first.
    void connectDevice(const QString& ip);
    void disconnectDevice();
    bool isConnected() const;

    // Seams for tests and tools: the device port (8712), the connect timeout
    // (1000 ms) and the reassembly timeout (100 ms).
    void setPort(quint16 port) { port_ = port; }
    quint16 port() const { return port_; }
    void setConnectTimeout(int ms) { connectTimeoutMs_ = ms; }
    void setReassemblyTimeout(int ms);

    const FrameReassembler& reassembler() const { return reassembler_; }

public Q_SLOTS:
    void send(int cmd, QByteArray data = QByteArray());
    void onSocketReadyRead();
    void onTimerTimeout();

Q_SIGNALS:
    void connectedToDevice();
    void connectionError(QString error);
    void disconnected();
    void sendError();
    void gotProgRespond(int cmd, const quint8* data, int size);
    void gotSettingsRespond(int cmd, const quint8* data, int size);
    void gotLogRespond(int cmd, const quint8* data, int size);
    void gotSPTestRespond(int cmd, const quint8* data, int size);
    void gotFixedParamRespond(int cmd, const quint8* data, int size);
    void gotRootRespond(int cmd, const quint8* data, int size);
    // A send was asked for while no connection exists (the GUI thread also
    // shows "Device not connected!").
    void notConnected();

private Q_SLOTS:
    void onSocketDisconnected();

private:
    void dispatch(int cmd, const quint8* data, int size);
    bool writeFrame(const QByteArray& frame);
    bool mayShowBoxes() const;

    QTcpSocket socket;
    QTimer* recvTimer;
    FrameReassembler reassembler_;
    quint16 port_ = kDevicePort;
    int connectTimeoutMs_ = kConnectTimeoutMs;
};
