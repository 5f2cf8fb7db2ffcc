#include "testutil.h"



BoxRecorder::BoxRecorder()
{
    previous_ = MsgBox::setInterceptor([this](const MsgBox::Request& request) {
        boxes_.append(
            Box{request.icon, request.title, request.text, request.buttons, request.parent});
        if (!answers_.isEmpty())
            return answers_.takeFirst();
        if (request.buttons.contains(MsgBox::sureText()))
            return MsgBox::Answer::Sure;
        return MsgBox::Answer::Closed;
    });
}


BoxRecorder::Box BoxRecorder::take()
{
    if (boxes_.isEmpty())
        return Box{QMessageBox::NoIcon, QString(), QString(), QStringList(), nullptr};
    return boxes_.takeFirst();
}

BoxRecorder::Box BoxRecorder::waitForBox(int timeoutMs)
{
    waitFor([this] { return !boxes_.isEmpty(); }, timeoutMs);
    return take();
}

bool BoxRecorder::checkNoneLeft()
{
    if (boxes_.isEmpty())
        return true;
    QStringList texts;
    for (const Box& box : boxes_)
        texts << QStringLiteral("[%1] %2").arg(box.title, box.text);
    QTest::qFail(qPrintable(QStringLiteral("unexpected message boxes: ") +
                            texts.join(QStringLiteral("; "))),
                 __FILE__, __LINE__);
    boxes_.clear();
    return false;
}


BoxHook::BoxHook(Handler handler)
{
    next_ = MsgBox::setInterceptor(nullptr);
    MsgBox::setInterceptor(
        [this, handler](const MsgBox::Request& request) { return handler(request, next_); });
}






bool DevsimProcess::start(const QStringList& arguments, int timeoutMs)
{
    QStringList args = arguments;
    if (!args.contains(QLatin1String("--port")) && !args.contains(QLatin1String("-p")))
        args << QStringLiteral("--port") << QStringLiteral("0");
    process_.setProgram(devsimPath());
    process_.setArguments(args);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    QObject::connect(&process_, &QProcess::readyReadStandardError, [this] {
        log_.append(process_.readAllStandardError());
    });
    process_.start();
    if (!process_.waitForStarted(timeoutMs))
        return false;

    static const QRegularExpression listening(
        QStringLiteral("^devsim: listening on (\\S+):(\\d+)$"));
    QElapsedTimer timer;
    timer.start();
    QByteArray out;
    while (timer.elapsed() < timeoutMs) {
        if (!process_.waitForReadyRead(100) && process_.state() != QProcess::Running)
            return false;
        while (process_.canReadLine()) {
            const QString line = QString::fromUtf8(process_.readLine()).trimmed();
            const auto m = listening.match(line);
            if (m.hasMatch()) {
                const QString address = m.captured(1);
                if (firstAddress_.isEmpty())
                    firstAddress_ = address;
                ports_.insert(address, static_cast<quint16>(m.captured(2).toUInt()));
            } else if (line.endsWith(QLatin1String("ready"))) {
                return true;
            }
        }
    }
    return false;
}

void DevsimProcess::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

quint16 DevsimProcess::port(const QString& address) const
{
    return ports_.value(address.isEmpty() ? firstAddress_ : address);
}

QString DevsimProcess::log()
{
    log_.append(process_.readAllStandardError());
    return QString::fromUtf8(log_);
}

bool DevsimProcess::waitForLog(const QString& text, int timeoutMs)
{
    return waitFor([this, &text] { return log().contains(text); }, timeoutMs);
}


FakeDevice::FakeDevice()
{
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            client_ = socket;
            connect(socket, &QTcpSocket::readyRead, this,
                    [this, socket] { received_.append(socket->readAll()); });
        }
    });
}


void FakeDevice::write(const QByteArray& bytes)
{
    if (client_) {
        client_->write(bytes);
        client_->flush();
    }
}



bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        // Like QTRY_*: let events run, then look again.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(5);
    }
    return true;
}

quint16 closedLocalPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}


