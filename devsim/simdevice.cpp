#include "devsim/simdevice.h"

#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

namespace {

std::vector<ServiceInfo>& registry()
{
    static std::vector<ServiceInfo> services;
    return services;
}

} // namespace

void ServiceRegistry::add(ServiceInfo info)
{
    registry().push_back(std::move(info));
}

const std::vector<ServiceInfo>& ServiceRegistry::all()
{
    return registry();
}

QList<OptionDoc> linkOptionDocs()
{
    return {
        {"refuse", "1: accept each connection and close it at once"},
        {"close-after", "N: close the connection after N received frames"},
        {"garbage", "1: write a few garbage bytes (never 0x68) before every frame"},
        {"bad-checksum", "N: give every N-th reply frame a wrong checksum"},
        {"split", "N: write frames in pieces of N bytes ..."},
        {"split-pause-ms", "... with this pause between pieces (default 20)"},
        {"reply-delay-ms", "N: answer every frame N ms late"},
        {"reboot-ms", "N: how long a reboot keeps the device away (default 2000)"},
        {"quiet", "1: do not log received frames"},
    };
}

// ---------------------------------------------------------------- Session

Session::Session(SimDevice& device, QTcpSocket* socket)
    : QObject(&device), device_(device), socket_(socket), pieceTimer_(new QTimer(this))
{
    socket_->setParent(this);
    pieceTimer_->setSingleShot(true);
    connect(socket_, &QTcpSocket::readyRead, this, &Session::onReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, &Session::onDisconnected);
    connect(pieceTimer_, &QTimer::timeout, this, &Session::flushPieces);
}

Session::~Session() = default;

bool Session::isOpen() const
{
    return !closing_ && socket_->state() == QAbstractSocket::ConnectedState;
}

void Session::close()
{
    if (closing_)
        return;
    closing_ = true;
    pendingPieces_.clear();
    socket_->disconnectFromHost();
}

void Session::onDisconnected()
{
    closing_ = true;
    Q_EMIT closed(this);
}

void Session::writeRaw(const QByteArray& bytes)
{
    if (!isOpen())
        return;
    enqueue(bytes);
}

void Session::enqueue(const QByteArray& bytes)
{
    const int split = device_.intOption("split");
    if (split <= 0 && pendingPieces_.isEmpty()) {
        socket_->write(bytes);
        return;
    }
    pendingPieces_.append(bytes);
    if (!pieceTimer_->isActive())
        flushPieces();
}

void Session::flushPieces()
{
    if (!isOpen() || pendingPieces_.isEmpty())
        return;
    const int split = qMax(1, device_.intOption("split"));
    socket_->write(pendingPieces_.left(split));
    socket_->flush();
    pendingPieces_.remove(0, split);
    if (!pendingPieces_.isEmpty())
        pieceTimer_->start(device_.intOption("split-pause-ms", 20));
}

void Session::reply(int cmd, const QByteArray& payload)
{
    const int delay = device_.intOption("reply-delay-ms");
    if (delay <= 0) {
        replyNow(cmd, payload);
        return;
    }
    QPointer<Session> self(this);
    QTimer::singleShot(delay, this, [self, cmd, payload] {
        if (self)
            self->replyNow(cmd, payload);
    });
}

void Session::replyNow(int cmd, const QByteArray& payload)
{
    if (!isOpen())
        return;
    QByteArray frame = CommandFrame::encode(cmd, payload);
    if (frame.isEmpty())
        return;
    ++repliesSent_;
    const int badEvery = device_.intOption("bad-checksum");
    if (badEvery > 0 && repliesSent_ % static_cast<quint64>(badEvery) == 0)
        frame[frame.size() - 1] = static_cast<char>(frame.at(frame.size() - 1) + 1);
    if (device_.boolOption("garbage")) {
        QByteArray junk;
        const int n = 1 + QRandomGenerator::global()->bounded(8);
        for (int i = 0; i < n; ++i) {
            char c = static_cast<char>(QRandomGenerator::global()->bounded(256));
            if (static_cast<quint8>(c) == CommandFrame::kStartByte)
                c = 0x00;
            junk.append(c);
        }
        frame.prepend(junk);
    }
    enqueue(frame);
}

void Session::onReadyRead()
{
    const QByteArray bytes = socket_->readAll();
    QPointer<Session> self(this);
    reassembler_.feedWith(bytes.constData(), bytes.size(),
                          [&](int cmd, const quint8* data, int size) {
                              if (!self || closing_)
                                  return;
                              handleFrame(cmd, QByteArray(reinterpret_cast<const char*>(data),
                                                          size));
                          });
}

void Session::handleFrame(int cmd, const QByteArray& payload)
{
    ++framesReceived_;
    if (!device_.boolOption("quiet"))
        device_.log(QStringLiteral("<- 0x%1 (%2 bytes)")
                        .arg(cmd, 4, 16, QLatin1Char('0'))
                        .arg(payload.size()));
    if (!device_.dispatch(*this, cmd, payload))
        device_.log(QStringLiteral("   0x%1 is not a command of this device")
                        .arg(cmd, 4, 16, QLatin1Char('0')));
    const int closeAfter = device_.intOption("close-after");
    if (closeAfter > 0 && framesReceived_ >= static_cast<quint64>(closeAfter)) {
        device_.log(QStringLiteral("   closing the connection (close-after)"));
        close();
    }
}

// -------------------------------------------------------------- SimDevice

SimDevice::SimDevice(const QHostAddress& address, quint16 port, QVariantHash options,
                     QObject* parent)
    : QObject(parent), address_(address), port_(port), options_(std::move(options)),
      server_(new QTcpServer(this))
{
    connect(server_, &QTcpServer::newConnection, this, &SimDevice::onNewConnection);
    for (const ServiceInfo& info : ServiceRegistry::all())
        services_.push_back(info.create(*this));
    for (auto& service : services_)
        service->start();
}

SimDevice::~SimDevice()
{
    for (Session* session : sessions_)
        session->disconnect(this);
}

bool SimDevice::listen()
{
    if (!server_->listen(address_, port_)) {
        log(QStringLiteral("cannot listen: %1").arg(server_->errorString()));
        return false;
    }
    // Keep the same port for a later listen (after a reboot).
    port_ = server_->serverPort();
    return true;
}

void SimDevice::stopListening()
{
    server_->close();
}

quint16 SimDevice::boundPort() const
{
    return server_->serverPort();
}

QVariant SimDevice::option(const QString& key, const QVariant& fallback) const
{
    return options_.value(key, fallback);
}

int SimDevice::intOption(const QString& key, int fallback) const
{
    bool ok = false;
    const int value = options_.value(key).toInt(&ok);
    return ok ? value : fallback;
}

bool SimDevice::boolOption(const QString& key) const
{
    const QString value = options_.value(key).toString();
    return !value.isEmpty() && value != QLatin1String("0") && value != QLatin1String("false");
}

QString SimDevice::textOption(const QString& key, const QString& fallback) const
{
    return options_.contains(key) ? options_.value(key).toString() : fallback;
}

QDateTime SimDevice::now() const
{
    return QDateTime::currentDateTime().addMSecs(clockOffsetMs_);
}

void SimDevice::setClock(const QDateTime& time)
{
    clockOffsetMs_ = QDateTime::currentDateTime().msecsTo(time);
}

void SimDevice::log(const QString& line) const
{
    std::fprintf(stderr, "[%s] %s\n", qPrintable(name()), qPrintable(line));
    std::fflush(stderr);
}

void SimDevice::onNewConnection()
{
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        if (boolOption("refuse")) {
            log(QStringLiteral("refusing a connection"));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* session = new Session(*this, socket);
        sessions_.append(session);
        log(QStringLiteral("connection from %1:%2")
                .arg(socket->peerAddress().toString())
                .arg(socket->peerPort()));
        connect(session, &Session::closed, this, [this](Session* s) {
            sessions_.removeAll(s);
            for (auto& service : services_)
                service->sessionClosed(*s);
            log(QStringLiteral("connection closed"));
            s->deleteLater();
        });
    }
}

bool SimDevice::dispatch(Session& session, int cmd, const QByteArray& payload)
{
    for (auto& service : services_) {
        if (service->handle(session, cmd, payload))
            return true;
    }
    return false;
}

void SimDevice::reboot()
{
    const int downMs = intOption("reboot-ms", 2000);
    log(QStringLiteral("rebooting, back in %1 ms").arg(downMs));
    stopListening();
    for (Session* session : sessions_)
        session->close();
    QTimer::singleShot(downMs, this, [this] {
        if (listen())
            log(QStringLiteral("up again"));
    });
}

bool SimDevice::moveTo(const QHostAddress& address)
{
    const bool wasListening = server_->isListening();
    const QString old = name();
    stopListening();
    address_ = address;
    log(QStringLiteral("address changed from %1").arg(old));
    return !wasListening || listen();
}
