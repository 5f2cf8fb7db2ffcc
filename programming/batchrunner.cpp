#include "programming/batchrunner.h"

#include "comm/commtcp.h"
#include "programming/batchprogrammingthread.h"
#include "programming/programmingprotocol.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHostInfo>
#include <QIODevice>
#include <QTextStream>
#include <QThread>
#include <QTimer>

// ------------------------------------------------------------------ slot

BatchRunnerSlot::BatchRunnerSlot(BatchProgrammingThread* worker) : worker_(worker)
{
    worker_->setParent(this);
    connect(worker_, &BatchProgrammingThread::finished, this, &BatchRunnerSlot::onWorkerFinished,
            Qt::DirectConnection);
    connect(
        worker_, &BatchProgrammingThread::programmingStarted, this,
        [this](qlonglong total) {
            transferStarted_ = true;
            Q_EMIT started(taskId_, total);
        },
        Qt::DirectConnection);
    connect(
        worker_, &BatchProgrammingThread::programmingUpdated, this,
        [this](qlonglong done) { Q_EMIT progress(taskId_, done); }, Qt::DirectConnection);
}

namespace {

// A copy with storage of its own: no string data is shared by two threads.
QString ownCopy(const QString& text)
{
    return text.isNull() ? QString() : QString(text.constData(), text.size());
}

} // namespace

void BatchRunnerSlot::setTask(const Task& task)
{
    const std::lock_guard<std::mutex> locker(lock_);
    next_ = task;
    next_.ip = ownCopy(task.ip);
    next_.image = ownCopy(task.image);
}

bool BatchRunnerSlot::takeEnd(End* end)
{
    const std::lock_guard<std::mutex> locker(lock_);
    if (ends_.isEmpty())
        return false;
    *end = ends_.takeFirst();
    end->version = ownCopy(end->version);
    return true;
}

void BatchRunnerSlot::run(int taskId)
{
    Task task;
    {
        const std::lock_guard<std::mutex> locker(lock_);
        if (next_.id != taskId)
            return; // another worker's task
        task = next_;
        task.ip = ownCopy(next_.ip);
        task.image = ownCopy(next_.image);
    }
    taskId_ = task.id;
    reason_ = BatchRunner::NoReason;
    workerEnded_ = false;
    transferStarted_ = false;
    stopRequested_ = false;
    worker_->setPort(task.port);
    worker_->setProgramming(task.programming);
    worker_->setProgType(task.type);
    worker_->setFileName(task.image);
    worker_->setTask(task.id, task.ip);
    // The connection is made (or refused) before the start returns.
    inStart_ = true;
    worker_->onTaskStart(task.id);
    inStart_ = false;
    observeLink();
}

void BatchRunnerSlot::stopTask(int taskId)
{
    if (taskId_ < 0 || taskId != taskId_ || workerEnded_)
        return;
    stopRequested_ = true;
    worker_->onTaskStop();
    // Closing the worker's connection ends its task at once ("link lost"),
    // whatever it was waiting for.
    if (worker_->phase() != BatchProgrammingThread::Phase::Idle && worker_->link())
        worker_->link()->disconnectDevice();
}

// The worker reacts to its link first (its connections were made first);
// what the link saw right after the worker ended a task is why it ended it.
// The worker's own closing of the link comes before its finished() and is
// not taken for a cause.
void BatchRunnerSlot::observeLink()
{
    CommTcp* link = worker_->link();
    if (observing_ || !link)
        return;
    observing_ = true;
    connect(
        link, &CommTcp::gotProgRespond, this,
        [this](int cmd, const quint8* data, int size) {
            if (ProgProtocol::accepted(data, size))
                return;
            if (cmd == ProgProtocol::kCmdStart)
                cause(BatchRunner::RefusedStart);
            else if (cmd == ProgProtocol::kCmdChunk)
                cause(BatchRunner::RefusedChunk);
        },
        Qt::DirectConnection);
    auto lost = [this] { cause(BatchRunner::LinkLost); };
    connect(link, &CommTcp::disconnected, this, lost, Qt::DirectConnection);
    connect(link, &CommTcp::sendError, this, lost, Qt::DirectConnection);
    connect(link, &CommTcp::notConnected, this, lost, Qt::DirectConnection);
    connect(
        link, &CommTcp::connectionError, this, [this] { cause(BatchRunner::NoConnection); },
        Qt::DirectConnection);
}

void BatchRunnerSlot::cause(int reason)
{
    if (workerEnded_ && reason_ == BatchRunner::NoReason)
        reason_ = reason;
}

void BatchRunnerSlot::onWorkerFinished()
{
    workerEnded_ = true;
    if (inStart_)
        cause(BatchRunner::NoConnection);
    // After the signal that made the worker end has reached everyone.
    QMetaObject::invokeMethod(this, &BatchRunnerSlot::report, Qt::QueuedConnection);
}

void BatchRunnerSlot::report()
{
    BatchProgrammingThread::Report last;
    BatchProgrammingThread::Report report;
    bool any = false;
    while (worker_->takeReport(&report)) {
        last = report;
        any = true;
    }
    if (!any || last.index != taskId_)
        return;
    int reason = BatchRunner::NoReason;
    if (last.status != BatchRunner::Succeeded) {
        if (stopRequested_)
            reason = BatchRunner::Stopped;
        else if (reason_ != BatchRunner::NoReason)
            reason = reason_;
        else
            reason = transferStarted_ ? BatchRunner::Timeout : BatchRunner::NoAnswer;
    }
    {
        const std::lock_guard<std::mutex> locker(lock_);
        ends_.append(End{taskId_, last.status, reason, ownCopy(last.version)});
    }
    taskId_ = -1;
    Q_EMIT ended();
}

// ---------------------------------------------------------------- runner

int BatchRunner::clampJobs(int jobs)
{
    return qBound(1, jobs, kMaxJobs);
}

int BatchRunner::defaultJobs()
{
    return clampJobs(QThread::idealThreadCount());
}

BatchRunner::BatchRunner(int jobs, QObject* parent) : QObject(parent)
{
    // Registered once, before any worker thread runs.
    qRegisterMetaType<QHostInfo>("QHostInfo");
    qRegisterMetaType<QAbstractSocket::SocketState>();
    qRegisterMetaType<QAbstractSocket::SocketError>();
    jobs_ = wantedJobs_ = jobs > 0 ? clampJobs(jobs) : defaultJobs();
}

BatchRunner::~BatchRunner()
{
    dropPool();
}

void BatchRunner::setWorkerSetup(std::function<void(BatchProgrammingThread*)> setup)
{
    workerSetup_ = std::move(setup);
    for (const Job& job : pool_) {
        if (workerSetup_)
            workerSetup_(job.slot->worker());
    }
}

void BatchRunner::setJobs(int jobs)
{
    wantedJobs_ = jobs > 0 ? clampJobs(jobs) : defaultJobs();
    if (!running_ && wantedJobs_ != jobs_) {
        dropPool();
        jobs_ = wantedJobs_;
    }
}

// The pool is made on the first batch: a runner that never runs starts no
// threads.
void BatchRunner::makePool()
{
    if (!pool_.isEmpty())
        return;
    for (int i = 0; i < jobs_; ++i) {
        Job job;
        job.thread = new QThread;
        auto* worker = new BatchProgrammingThread;
        if (workerSetup_)
            workerSetup_(worker);
        job.slot = new BatchRunnerSlot(worker);
        connect(job.thread, &QThread::finished, job.slot, &QObject::deleteLater);
        connect(job.slot, &BatchRunnerSlot::started, this, &BatchRunner::onStarted);
        connect(job.slot, &BatchRunnerSlot::progress, this, &BatchRunner::onProgress);
        connect(job.slot, &BatchRunnerSlot::ended, this, &BatchRunner::onEnded);
        connect(this, &BatchRunner::taskStart, job.slot, &BatchRunnerSlot::run);
        connect(this, &BatchRunner::taskStop, job.slot, &BatchRunnerSlot::stopTask);
        job.slot->moveToThread(job.thread);
        job.thread->start(QThread::InheritPriority);
        pool_ << job;
    }
}

void BatchRunner::dropPool()
{
    for (const Job& job : pool_) {
        disconnect(job.slot, nullptr, this, nullptr);
        disconnect(this, nullptr, job.slot, nullptr);
        job.thread->quit();
    }
    for (const Job& job : pool_) {
        job.thread->wait();
        delete job.thread;
    }
    pool_.clear();
}

// ----------------------------------------------------------------- batch

bool BatchRunner::start(const QStringList& devices, const Task& task)
{
    if (running_)
        return false;
    QStringList list;
    for (const QString& ip : devices) {
        const QString text = ip.trimmed();
        if (!text.isEmpty() && !list.contains(text))
            list << text;
    }
    if (list.isEmpty())
        return false;
    devices_ = list;
    task_ = task;
    results_.clear();
    for (const QString& ip : devices_)
        results_.insert(ip, Result{ip});
    ++batchSerial_;
    Q_EMIT batchStarted();
    return launch(devices_);
}

bool BatchRunner::retryFailed()
{
    if (running_)
        return false;
    QStringList failed;
    for (const QString& ip : devices_) {
        if (results_.value(ip).status == Failed) {
            failed << ip;
            results_.insert(ip, Result{ip});
        }
    }
    if (failed.isEmpty())
        return false;
    ++batchSerial_;
    return launch(failed);
}

bool BatchRunner::launch(const QStringList& devices)
{
    makePool();
    queue_.clear();
    for (const QString& ip : devices)
        queue_ << Pending{ip, false, 0};
    running_ = true;
    stopping_ = false;
    dispatch();
    return true;
}

void BatchRunner::stop()
{
    if (!running_ || stopping_)
        return;
    stopping_ = true;
    const QList<Pending> left = queue_;
    queue_.clear();
    for (const Pending& pending : left) {
        if (!pending.readBack)
            results_[pending.ip].reason = Stopped;
        finishDevice(pending.ip);
    }
    for (const Job& job : pool_) {
        if (job.taskId >= 0)
            Q_EMIT taskStop(job.taskId);
    }
    checkDone();
}

void BatchRunner::removeDevice(const QString& ip)
{
    devices_.removeAll(ip);
    results_.remove(ip);
    for (int i = queue_.size() - 1; i >= 0; --i) {
        if (queue_.at(i).ip == ip)
            queue_.removeAt(i);
    }
    checkDone();
}

void BatchRunner::dispatch()
{
    if (stopping_)
        return;
    for (Job& job : pool_) {
        if (job.taskId >= 0)
            continue;
        while (!queue_.isEmpty()) {
            const Pending pending = queue_.takeFirst();
            if (results_.contains(pending.ip)) {
                give(job, pending);
                break;
            }
        }
        if (queue_.isEmpty())
            break;
    }
}

void BatchRunner::give(Job& job, const Pending& pending)
{
    const int id = nextTaskId_++;
    job.taskId = id;
    job.ip = pending.ip;
    job.readBack = pending.readBack;
    job.attempt = pending.attempt;
    BatchRunnerSlot::Task task;
    task.id = id;
    task.ip = pending.ip;
    task.port = portResolver_ ? portResolver_(pending.ip) : quint16(0);
    task.programming = task_.programming && !pending.readBack;
    task.type = task_.type;
    if (task.programming)
        task.image = task_.image;
    job.slot->setTask(task);
    Q_EMIT taskStart(id);
    const QString ip = pending.ip;
    if (!pending.readBack) {
        results_[ip].status = InProgress;
        Q_EMIT deviceStarted(ip);
    }
}

BatchRunner::Job* BatchRunner::jobOf(int taskId)
{
    for (Job& job : pool_) {
        if (job.taskId == taskId && taskId >= 0)
            return &job;
    }
    return nullptr;
}

void BatchRunner::onStarted(int taskId, qint64 total)
{
    Job* job = jobOf(taskId);
    if (!job || job->readBack || !results_.contains(job->ip))
        return;
    Result& r = results_[job->ip];
    r.bytesTotal = total;
    r.bytesDone = 0;
    Q_EMIT deviceProgress(job->ip, 0, total);
}

void BatchRunner::onProgress(int taskId, qint64 done)
{
    Job* job = jobOf(taskId);
    if (!job || job->readBack || !results_.contains(job->ip))
        return;
    Result& r = results_[job->ip];
    r.bytesDone = done;
    Q_EMIT deviceProgress(job->ip, done, r.bytesTotal);
}

void BatchRunner::onEnded()
{
    auto* slot = qobject_cast<BatchRunnerSlot*>(sender());
    BatchRunnerSlot::End end;
    if (!slot || !slot->takeEnd(&end))
        return;
    Job* job = jobOf(end.id);
    if (!job)
        return; // a task of a pool that is gone
    const int status = end.status;
    const int reason = end.reason;
    const QString version = end.version;
    const QString ip = job->ip;
    const bool readBack = job->readBack;
    const int attempt = job->attempt;
    job->taskId = -1;
    job->ip.clear();

    if (results_.contains(ip)) {
        Result& r = results_[ip];
        if (readBack) {
            if (status == Succeeded) {
                r.version = version;
                finishDevice(ip);
            } else if (!stopping_ && attempt + 1 < kReadBackAttempts) {
                ++delayed_;
                const quint64 serial = batchSerial_;
                QTimer::singleShot(readBackDelayMs_, this, [this, ip, attempt, serial] {
                    --delayed_;
                    if (serial == batchSerial_ && results_.contains(ip)) {
                        if (stopping_)
                            finishDevice(ip);
                        else
                            queue_.prepend(Pending{ip, true, attempt + 1});
                    }
                    dispatch();
                    checkDone();
                });
            } else {
                finishDevice(ip);
            }
        } else {
            r.status = status;
            r.reason = status == Succeeded ? NoReason : Reason(reason);
            if (status == Succeeded && !task_.programming)
                r.version = version;
            if (status == Succeeded && task_.programming && readBack_ && !stopping_)
                queue_.prepend(Pending{ip, true, 0});
            else
                finishDevice(ip);
        }
    }
    dispatch();
    checkDone();
}

void BatchRunner::finishDevice(const QString& ip)
{
    Q_EMIT deviceFinished(ip);
}

void BatchRunner::checkDone()
{
    if (!running_ || !queue_.isEmpty() || delayed_ > 0)
        return;
    for (const Job& job : pool_) {
        if (job.taskId >= 0)
            return;
    }
    running_ = false;
    stopping_ = false;
    if (wantedJobs_ != jobs_) {
        dropPool();
        jobs_ = wantedJobs_;
    }
    Q_EMIT finished();
}

// --------------------------------------------------------------- results

QList<BatchRunner::Result> BatchRunner::results() const
{
    QList<Result> list;
    for (const QString& ip : devices_)
        list << results_.value(ip);
    return list;
}

int BatchRunner::failedCount() const
{
    int n = 0;
    for (const QString& ip : devices_)
        n += results_.value(ip).status != Succeeded;
    return n;
}

QString BatchRunner::statusText(int status)
{
    // The dialog's own words (and translations).
    switch (status) {
    case NotStarted:
        return QCoreApplication::translate("BatchProgrammingDialog", "Not Start");
    case InProgress:
        return QCoreApplication::translate("BatchProgrammingDialog", "In Progress");
    case Succeeded:
        return QCoreApplication::translate("BatchProgrammingDialog", "Succeeded");
    case Failed:
        return QCoreApplication::translate("BatchProgrammingDialog", "Failed");
    default:
        return QCoreApplication::translate("BatchProgrammingDialog", "Code: ") +
               QString::number(status);
    }
}

QString BatchRunner::reasonText(Reason reason)
{
    switch (reason) {
    case NoReason:
        break;
    case NoConnection:
        return QCoreApplication::translate("BatchProgrammingDialog", "No connection");
    case NoAnswer:
        return QCoreApplication::translate("BatchProgrammingDialog", "No answer");
    case RefusedStart:
        return QCoreApplication::translate("BatchProgrammingDialog", "Refused start");
    case RefusedChunk:
        return QCoreApplication::translate("BatchProgrammingDialog", "Refused chunk");
    case LinkLost:
        return QCoreApplication::translate("BatchProgrammingDialog", "Link lost");
    case Timeout:
        return QCoreApplication::translate("BatchProgrammingDialog", "Timeout");
    case Stopped:
        return QCoreApplication::translate("BatchProgrammingDialog", "Stopped");
    }
    return QString();
}

QString BatchRunner::reasonKey(Reason reason)
{
    static const char* const keys[] = {"",          "no-connection", "no-answer", "refused-start",
                                       "refused-chunk", "link-lost", "timeout",   "stopped"};
    const int i = int(reason);
    return i >= 0 && i < int(sizeof keys / sizeof *keys) ? QString::fromLatin1(keys[i]) : QString();
}

void BatchRunner::writeReport(QIODevice* out, const QList<Result>& results, const QDateTime& time)
{
    QTextStream stream(out);
    stream << time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) << "\n\n";
    stream << QCoreApplication::translate("BatchProgrammingDialog", "IP") << "\t\t\t\t\t"
           << QCoreApplication::translate("BatchProgrammingDialog", "Result") << "\n";
    stream << QString(48, QLatin1Char('=')) << "\n";
    for (const Result& r : results) {
        stream << r.ip << "\t\t" << statusText(r.status);
        if (r.reason != NoReason)
            stream << "\t" << reasonText(r.reason);
        stream << "\n";
    }
    stream.flush();
}
