#include "programming/batchprogrammingthread.h"

#include "comm/commtcp.h"

#include <QTimer>

using namespace ProgProtocol;

namespace {

// Texts cross between the dialog's thread and the worker's as copies of
// their own: no string data is ever shared by the two threads.
QString ownCopy(const QString& text)
{
    return text.isNull() ? QString() : QString(text.constData(), text.size());
}

} // namespace

BatchProgrammingThread::BatchProgrammingThread(QObject* parent) : QObject(parent) {}

BatchProgrammingThread::~BatchProgrammingThread()
{
    discardReports();
    if (image_.isOpen())
        image_.close();
    delete timer_;
    delete waitTimer_;
    delete link_;
}

// ------------------------------------------------------------ task fields

void BatchProgrammingThread::setTask(int index, const QString& ip)
{
    const std::lock_guard<std::mutex> locker(lock_);
    next_.index = index;
    next_.ip = ownCopy(ip);
}

void BatchProgrammingThread::setProgramming(bool programming)
{
    const std::lock_guard<std::mutex> locker(lock_);
    next_.programming = programming;
}

void BatchProgrammingThread::setProgType(int type)
{
    const std::lock_guard<std::mutex> locker(lock_);
    next_.type = type;
}

void BatchProgrammingThread::setFileName(const QString& fileName)
{
    const std::lock_guard<std::mutex> locker(lock_);
    next_.fileName = ownCopy(fileName);
}

void BatchProgrammingThread::setPort(quint16 port)
{
    const std::lock_guard<std::mutex> locker(lock_);
    next_.port = port;
}

QString BatchProgrammingThread::ip() const
{
    const std::lock_guard<std::mutex> locker(lock_);
    return ownCopy(current_.ip);
}

int BatchProgrammingThread::taskIndex() const
{
    const std::lock_guard<std::mutex> locker(lock_);
    return current_.index;
}

int BatchProgrammingThread::taskStatus() const
{
    const std::lock_guard<std::mutex> locker(lock_);
    return status_;
}

bool BatchProgrammingThread::isProgramming() const
{
    const std::lock_guard<std::mutex> locker(lock_);
    return current_.programming;
}

QString BatchProgrammingThread::version() const
{
    const std::lock_guard<std::mutex> locker(lock_);
    return ownCopy(version_);
}

bool BatchProgrammingThread::isRunning() const
{
    const std::lock_guard<std::mutex> locker(lock_);
    return running_;
}

bool BatchProgrammingThread::takeReport(Report* report)
{
    const std::lock_guard<std::mutex> locker(lock_);
    if (reports_.isEmpty())
        return false;
    *report = reports_.takeFirst();
    return true;
}

void BatchProgrammingThread::discardReports()
{
    const std::lock_guard<std::mutex> locker(lock_);
    reports_.clear();
}

// ------------------------------------------------------------------ start

void BatchProgrammingThread::onTaskStart(int index)
{
    const std::lock_guard<std::mutex> start(startLock_);
    {
        const std::lock_guard<std::mutex> locker(lock_);
        if (index != next_.index || running_)
            return;
        current_ = next_;
        current_.ip = ownCopy(next_.ip);
        current_.fileName = ownCopy(next_.fileName);
        status_ = InProgress;
        running_ = true;
    }
    if (!link_) {
        // Created here, so that they belong to the worker's thread.
        timer_ = new QTimer;
        timer_->setInterval(kChunkIntervalMs);
        waitTimer_ = new QTimer;
        waitTimer_->setSingleShot(true);
        link_ = new CommTcp;
        connect(timer_, &QTimer::timeout, this, &BatchProgrammingThread::onTimerTimeout);
        connect(waitTimer_, &QTimer::timeout, this, &BatchProgrammingThread::onWaitTimeout);
        connect(link_, &CommTcp::connectedToDevice, this,
                &BatchProgrammingThread::onNetworkDevConnected);
        connect(link_, &CommTcp::connectionError, this,
                &BatchProgrammingThread::onNetworkDevConnectError);
        connect(link_, &CommTcp::gotProgRespond, this,
                &BatchProgrammingThread::onNetworkProgramResponse);
        // A link that is lost, or a command that cannot be written, ends the
        // task at once instead of leaving it to the time-outs.
        connect(link_, &CommTcp::disconnected, this, &BatchProgrammingThread::onLinkLost);
        connect(link_, &CommTcp::sendError, this, &BatchProgrammingThread::onLinkLost);
        connect(link_, &CommTcp::notConnected, this, &BatchProgrammingThread::onLinkLost);
    }
    link_->setPort(current_.port ? current_.port : CommTcp::kDevicePort);
    link_->setConnectTimeout(connectTimeoutMs_ > 0 ? connectTimeoutMs_.load()
                                                   : CommTcp::kConnectTimeoutMs);
    ++generation_;
    phase_ = Phase::Connecting;
    // Reports the outcome through one of the two slots before it returns.
    link_->connectDevice(current_.ip);
}

void BatchProgrammingThread::onTaskStop()
{
    // Ends the task under way cleanly; a worker without a task ignores it.
    // A device already programmed stays a success (only its version is not
    // read back).
    if (phase_ == Phase::ReadBack)
        stop(Succeeded);
    else if (phase_ != Phase::Idle)
        stop(Stopped, Reason::Stopped);
}

// ------------------------------------------------------------------- stop

void BatchProgrammingThread::stop(int status, Reason reason)
{
    if (phase_ == Phase::Idle)
        return; // the task has already ended
    phase_ = Phase::Idle;
    ++generation_;
    timer_->stop();
    waitTimer_->stop();
    link_->disconnectDevice();
    if (image_.isOpen())
        image_.close();
    sender_.reset();
    {
        const std::lock_guard<std::mutex> locker(lock_);
        status_ = status;
        running_ = false;
        reports_.append(Report{current_.index, ownCopy(current_.ip), status, reason,
                               current_.programming, ownCopy(version_)});
    }
    Q_EMIT finished();
}

bool BatchProgrammingThread::send(int cmd, const QByteArray& data)
{
    const quint64 task = generation_;
    link_->send(cmd, data);
    return task == generation_;
}

void BatchProgrammingThread::reportProgress()
{
    const qint64 done = sender_.bytesDone();
    const int interval = progressIntervalMs_;
    if (interval > 0 && done < sender_.bytesTotal() && progressClock_.isValid() &&
        progressClock_.elapsed() < interval)
        return;
    progressClock_.start();
    Q_EMIT programmingUpdated(done);
}

void BatchProgrammingThread::startWait(int ms)
{
    waitTimer_->start(ms);
}

// ------------------------------------------------------------------ link

void BatchProgrammingThread::onNetworkDevConnected()
{
    if (phase_ == Phase::ReadBack) {
        send(kCmdVersion, QByteArray(1, static_cast<char>(current_.type)));
        return;
    }
    if (phase_ != Phase::Connecting)
        return;
    phase_ = Phase::Version;
    startWait(replyTimeoutMs_);
    const char type = current_.programming ? char(1) : static_cast<char>(current_.type);
    send(kCmdVersion, QByteArray(1, type));
}

void BatchProgrammingThread::onNetworkDevConnectError(QString error)
{
    Q_UNUSED(error)
    if (phase_ == Phase::Connecting)
        stop(Failed, Reason::CannotConnect);
    else if (phase_ == Phase::ReadBack)
        reconnectLater();
}

void BatchProgrammingThread::onLinkLost()
{
    if (phase_ == Phase::ReadBack)
        reconnectLater(); // the device restarts with its new program
    else
        stop(Failed, Reason::LinkLost);
}

void BatchProgrammingThread::reconnectLater()
{
    const quint64 task = generation_;
    QTimer::singleShot(kReconnectDelayMs, this, [this, task] {
        if (task == generation_ && phase_ == Phase::ReadBack)
            link_->connectDevice(current_.ip);
    });
}

void BatchProgrammingThread::readBack()
{
    // The programming itself has succeeded; what follows only fills in the
    // version the device runs now.
    timer_->stop();
    phase_ = Phase::ReadBack;
    {
        const std::lock_guard<std::mutex> locker(lock_);
        version_.clear();
    }
    startWait(readBackTimeoutMs_);
    send(kCmdVersion, QByteArray(1, static_cast<char>(current_.type)));
}

void BatchProgrammingThread::onWaitTimeout()
{
    switch (phase_) {
    case Phase::Version:
    case Phase::Starting:
        stop(Failed, Reason::NoAnswer);
        break;
    case Phase::Finishing:
        stop(Failed, Reason::Timeout);
        break;
    case Phase::ReadBack:
        stop(Succeeded); // without a version
        break;
    default:
        break;
    }
}

void BatchProgrammingThread::onTimerTimeout()
{
    if (phase_ != Phase::Sending) {
        timer_->stop();
        return;
    }
    // Same chunk, same sequence byte; the timer keeps running, so resends
    // come one interval apart.
    if (sender_.mayResend())
        send(kCmdChunk, sender_.lastChunk());
    else
        stop(Failed, Reason::NoAnswer);
}

void BatchProgrammingThread::onNetworkProgramResponse(int cmd, const quint8* data, int size)
{
    if (!data || size < 0)
        size = 0;
    switch (cmd) {
    case kCmdVersion:
        if (phase_ == Phase::Version || phase_ == Phase::ReadBack)
            onVersionReply(data, size);
        break;
    case kCmdStart:
        if (phase_ != Phase::Starting)
            break;
        waitTimer_->stop();
        if (!accepted(data, size)) {
            stop(Failed, Reason::StartRefused);
            break;
        }
        phase_ = Phase::Sending;
        progressClock_.invalidate();
        Q_EMIT programmingStarted(sender_.bytesTotal());
        sendChunk();
        break;
    case kCmdChunk:
        if (phase_ != Phase::Sending)
            break;
        if (!accepted(data, size)) {
            stop(Failed, Reason::ChunkRefused);
            break;
        }
        sender_.clearRetries();
        reportProgress();
        if (!sender_.finished()) {
            sendChunk();
        } else {
            // The last chunk is in: the device installs the program now.
            timer_->stop();
            phase_ = Phase::Finishing;
            startWait(finishTimeoutMs_);
        }
        break;
    case kCmdFinished:
        // Only once all data has been sent (its last acknowledgement may be
        // skipped by the device).
        if (phase_ != Phase::Finishing && !(phase_ == Phase::Sending && sender_.finished()))
            break;
        Q_EMIT programmingUpdated(sender_.bytesDone());
        readBack();
        break;
    default:
        // 0x0102 and everything else: nothing to do.
        break;
    }
}

void BatchProgrammingThread::onVersionReply(const quint8* data, int size)
{
    waitTimer_->stop();
    int length = 0;
    while (length < size && data[length] != 0)
        ++length;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), length);
    QString version = text;
    for (const QString& token : text.split(QLatin1Char(' '))) {
        if (token.startsWith(QLatin1Char('v'))) {
            version = token;
            break;
        }
    }
    {
        const std::lock_guard<std::mutex> locker(lock_);
        version_ = version;
    }
    if (!current_.programming || phase_ == Phase::ReadBack) {
        stop(Succeeded);
        return;
    }

    const bool legacy = isLegacyVersion(data, size);
    // Opened afresh for every task: a file replaced under the same name
    // between two batches is sent as it is now.
    if (image_.isOpen())
        image_.close();
    image_.setFileName(current_.fileName);
    if (current_.fileName.isEmpty() || !image_.open(QIODevice::ReadOnly)) {
        stop(Failed, Reason::ImageUnreadable);
        return;
    }
    const qint64 total = image_.size();
    sender_.start(&image_, total, legacy);
    phase_ = Phase::Starting;
    startWait(replyTimeoutMs_);
    send(kCmdStart, startPayload(current_.type, total));
}

void BatchProgrammingThread::sendChunk()
{
    const QByteArray chunk = sender_.nextChunk();
    if (chunk.isEmpty()) {
        if (!sender_.finished()) {
            stop(Failed, Reason::ImageUnreadable); // could not be read to its end
            return;
        }
        // An empty image: nothing to send, wait for the device's word.
        timer_->stop();
        phase_ = Phase::Finishing;
        startWait(finishTimeoutMs_);
        return;
    }
    if (!send(kCmdChunk, chunk))
        return;
    // Every chunk, the last one too, is resent when its acknowledgement
    // does not come.
    timer_->start(chunkIntervalMs_);
}
