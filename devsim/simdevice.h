#pragma once

#include "comm/commandframe.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

class QTcpServer;
class QTcpSocket;
class QTimer;
class Session;
class SimDevice;

// One service of a simulated device (console, date, programming, ...). Each
// device gets its own instance of every registered service.
class DevService
{
public:
    virtual ~DevService() = default;
    // Called once the device is set up (before it listens).
    virtual void start() {}
    // Handles a received frame; returns true when the command was the
    // service's own.
    virtual bool handle(Session& session, int cmd, const QByteArray& payload) = 0;
    virtual void sessionClosed(Session& session) { Q_UNUSED(session) }
};

struct OptionDoc
{
    QString key;
    QString help;
};

struct ServiceInfo
{
    QString name;
    QList<OptionDoc> options;
    std::function<std::unique_ptr<DevService>(SimDevice&)> create;
};

// Services register themselves at program start with a static registrar.
class ServiceRegistry
{
public:
    static void add(ServiceInfo info);
    static const std::vector<ServiceInfo>& all();
};

struct ServiceRegistrar
{
    explicit ServiceRegistrar(ServiceInfo info) { ServiceRegistry::add(std::move(info)); }
};

// Options of the command link itself (faults and pacing of what is written).
QList<OptionDoc> linkOptionDocs();

// One TCP connection of a simulated device. Replies go through here so that
// the fault switches apply to every service alike.
class Session : public QObject
{
    Q_OBJECT
public:
    Session(SimDevice& device, QTcpSocket* socket);
    ~Session() override;

    SimDevice& device() { return device_; }
    // Frames and writes one reply (subject to the link fault switches).
    void reply(int cmd, const QByteArray& payload = QByteArray());
    // Writes raw bytes as they are.
    void writeRaw(const QByteArray& bytes);
    void close();
    bool isOpen() const;
    quint64 framesReceived() const { return framesReceived_; }

Q_SIGNALS:
    void closed(Session* session);

private Q_SLOTS:
    void onReadyRead();
    void onDisconnected();
    void flushPieces();

private:
    void enqueue(const QByteArray& bytes);
    void replyNow(int cmd, const QByteArray& payload);
    void handleFrame(int cmd, const QByteArray& payload);

    SimDevice& device_;
    QTcpSocket* socket_;
    FrameReassembler reassembler_;
    QByteArray pendingPieces_;
    QTimer* pieceTimer_;
    quint64 framesReceived_ = 0;
    quint64 repliesSent_ = 0;
    bool closing_ = false;
};

// A simulated device: one listening address, its options and services.
class SimDevice : public QObject
{
    Q_OBJECT
public:
    SimDevice(const QHostAddress& address, quint16 port, QVariantHash options,
              QObject* parent = nullptr);
    ~SimDevice() override;

    bool listen();
    void stopListening();
    quint16 boundPort() const;
    QHostAddress address() const { return address_; }
    QString name() const { return address_.toString(); }

    QVariant option(const QString& key, const QVariant& fallback = QVariant()) const;
    int intOption(const QString& key, int fallback = 0) const;
    bool boolOption(const QString& key) const;
    QString textOption(const QString& key, const QString& fallback = QString()) const;

    // The device's own clock.
    QDateTime now() const;
    void setClock(const QDateTime& time);

    // Simulates a reboot: drops every connection, stops listening and listens
    // again after the reboot delay.
    void reboot();
    // Moves the device to another address (its IP settings changed): the
    // TCP service listens there from now on, on the same port.
    bool moveTo(const QHostAddress& address);

    void log(const QString& line) const;
    QList<Session*> sessions() const { return sessions_; }
    // Lets the services see a frame; returns false when none took it.
    bool dispatch(Session& session, int cmd, const QByteArray& payload);

private:
    void onNewConnection();

    QHostAddress address_;
    quint16 port_;
    QVariantHash options_;
    QTcpServer* server_;
    QList<Session*> sessions_;
    std::vector<std::unique_ptr<DevService>> services_;
    qint64 clockOffsetMs_ = 0;
};
