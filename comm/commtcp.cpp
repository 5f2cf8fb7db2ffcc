#include "comm/commtcp.h"

#include "common/msgbox.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QThread>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <cerrno>
#endif

CommTcp::CommTcp(QObject* parent) : QObject(parent), socket(this), recvTimer(new QTimer(this))
{
    recvTimer->setInterval(kReassemblyTimeoutMs);
    connect(&socket, &QTcpSocket::readyRead, this, &CommTcp::onSocketReadyRead);
    connect(&socket, &QTcpSocket::disconnected, this, &CommTcp::onSocketDisconnected);
    connect(recvTimer, &QTimer::timeout, this, &CommTcp::onTimerTimeout);
}

CommTcp::~CommTcp()
{
    // Ending the connection here must not report anything any more.
    socket.disconnect(this);
    socket.abort();
}

void CommTcp::setReassemblyTimeout(int ms)
{
    recvTimer->setInterval(ms);
}

bool CommTcp::mayShowBoxes() const
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void CommTcp::connectDevice(const QString& ip)
{
    // Abandon whatever the socket still holds (a pending or failed attempt)
    // without reporting it: the new attempt starts afresh.
    if (socket.state() != QAbstractSocket::UnconnectedState) {
        const QSignalBlocker blocker(&socket);
        socket.abort();
    }
    recvTimer->stop();

    const QHostAddress address(ip);
    socket.connectToHost(address, port_, QIODevice::ReadWrite);
    const bool ok = socket.waitForConnected(connectTimeoutMs_);
    reassembler_.reset();
    if (ok) {
        Q_EMIT connectedToDevice();
    } else {
        const QString error = socket.errorString();
        {
            const QSignalBlocker blocker(&socket);
            socket.abort();
        }
        Q_EMIT connectionError(error);
    }
}

void CommTcp::disconnectDevice()
{
    recvTimer->stop();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.disconnectFromHost();
}

bool CommTcp::isConnected() const
{
    return socket.state() == QAbstractSocket::ConnectedState;
}

void CommTcp::send(int cmd, QByteArray data)
{
    if (!socket.isOpen() || socket.state() != QAbstractSocket::ConnectedState) {
        Q_EMIT notConnected();
        if (mayShowBoxes())
            MsgBox::warning(tr("Warning"), tr("Device not connected!"));
        return;
    }

    const QByteArray frame = CommandFrame::encode(cmd, data);
    // A payload too large to be framed is refused whole: nothing is written.
    const bool failed = frame.isEmpty() || !writeFrame(frame);
    if (failed) {
        Q_EMIT sendError();
        if (mayShowBoxes())
            MsgBox::warning(tr("Warning"), tr("Send command failed!"));
    }
    recvTimer->stop();
}

bool CommTcp::writeFrame(const QByteArray& frame)
{
#ifdef Q_OS_UNIX
    // The toolkit's socket writes only on a later turn of the event loop,
    // waking the loop twice for it: a cost paid per frame, which a transfer
    // of many small frames feels. With nothing queued before it, a frame is
    // written at once; what the socket does not take goes the usual way,
    // which also reports any error.
    if (socket.bytesToWrite() == 0) {
        const int fd = int(socket.socketDescriptor());
        qint64 done = 0;
        while (fd >= 0 && done < frame.size()) {
            const ssize_t n = ::send(fd, frame.constData() + done, std::size_t(frame.size() - done),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                done += n;
            else if (n < 0 && errno == EINTR)
                continue;
            else
                break;
        }
        if (done == frame.size())
            return true;
        return socket.write(frame.constData() + done, frame.size() - done) >= 0;
    }
#endif
    return socket.write(frame) >= 0;
}

void CommTcp::onSocketReadyRead()
{
    bool gotBytes = false;
    char chunk[CommandFrame::kBufferSize];
    for (;;) {
        const qint64 n = socket.read(chunk, sizeof chunk);
        if (n <= 0)
            break;
        gotBytes = true;
        reassembler_.feedWith(chunk, static_cast<int>(n),
                              [this](int cmd, const quint8* data, int size) {
                                  dispatch(cmd, data, size);
                              });
        // A receiver may have closed the link while frames were dispatched.
        if (!socket.isOpen())
            break;
    }
    // Only a partly received frame is waited for; restarting the timer for
    // every complete frame would cost a timer registration per frame.
    if (gotBytes && reassembler_.pending() > 0)
        recvTimer->start();
    else if (gotBytes)
        recvTimer->stop();
}

void CommTcp::onTimerTimeout()
{
    recvTimer->stop();
    reassembler_.reset();
}

void CommTcp::onSocketDisconnected()
{
    recvTimer->stop();
    socket.close();
    Q_EMIT disconnected();
}

void CommTcp::dispatch(int cmd, const quint8* data, int size)
{
    using CommandFrame::Route;
    switch (CommandFrame::routeFor(cmd)) {
    case Route::Prog:
        Q_EMIT gotProgRespond(cmd, data, size);
        break;
    case Route::Settings:
        Q_EMIT gotSettingsRespond(cmd, data, size);
        break;
    case Route::Log:
        Q_EMIT gotLogRespond(cmd, data, size);
        break;
    case Route::SPTest:
        Q_EMIT gotSPTestRespond(cmd, data, size);
        break;
    case Route::FixedParam:
        Q_EMIT gotFixedParamRespond(cmd, data, size);
        break;
    case Route::Root:
        Q_EMIT gotRootRespond(cmd, data, size);
        break;
    case Route::InfoSetIp:
        if (mayShowBoxes())
            MsgBox::information(tr("Information"), tr("Set device's IP Settings success!"));
        break;
    case Route::InfoResetIp:
        if (mayShowBoxes())
            MsgBox::information(tr("Information"), tr("Reset device's IP Settings success!"));
        break;
    case Route::InfoDate:
        if (mayShowBoxes())
            MsgBox::information(tr("Information"), tr("Set device's date success!"));
        break;
    case Route::Drop:
        break;
    }
}
