#include "programming/batchrunner.h"

#include "app/crashhandler.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QHostInfo>
#include <QIODevice>
#include <QTcpSocket>
#include <QTextStream>
#include <QThread>

namespace {

Q_NEVER_INLINE void deleteEndedThread(QThread* thread)
{
    delete thread;
}

} // namespace

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
    // The types the workers' links pass around are registered here, once,
    // before any worker thread runs.
    qRegisterMetaType<QHostInfo>("QHostInfo");
    qRegisterMetaType<QAbstractSocket::SocketState>();
    qRegisterMetaType<QAbstractSocket::SocketError>();
    wantedJobs_ = jobs > 0 ? clampJobs(jobs) : defaultJobs();
    makePool(wantedJobs_);
}

BatchRunner::~BatchRunner()
{
    dropPool();
    releaseImage();
}

void BatchRunner::makePool(int count)
{
    for (int i = 0; i < count; ++i) {
        auto* thread = new QThread;
        auto* worker = new BatchProgrammingThread;
        connect(thread, &QThread::finished, worker, &QObject::deleteLater);
        connect(worker, &BatchProgrammingThread::finished, this, &BatchRunner::onWorkerFinished);
        connect(worker, &BatchProgrammingThread::programmingStarted, this,
                &BatchRunner::onProgrammingStarted);
        connect(worker, &BatchProgrammingThread::programmingUpdated, this,
                &BatchRunner::onProgrammingUpdated);
        connect(this, &BatchRunner::taskStart, worker, &BatchProgrammingThread::onTaskStart);
        connect(this, &BatchRunner::taskStop, worker, &BatchProgrammingThread::onTaskStop);
        worker->moveToThread(thread);
        // The worker's first event in its thread.
        QMetaObject::invokeMethod(worker, &CrashHandler::prepareThread, Qt::QueuedConnection);
        thread->start(QThread::InheritPriority);
        threads_ << thread;
        workers_ << worker;
    }
}

// Each worker is deleted in its own thread when that thread ends; the
// threads are waited for here. (The toolkit wakes the waiter before the
// ending thread has quite finished writing its own bookkeeping, which the
// deletion frees; a thread checker cannot see that ordering, and its
// suppression file names this function.) The connections go first: a worker being
// deleted never reaches back into the runner.
void BatchRunner::dropPool()
{
    for (BatchProgrammingThread* worker : workers_) {
        disconnect(worker, nullptr, this, nullptr);
        disconnect(this, nullptr, worker, nullptr);
        worker->discardReports();
    }
    for (QThread* thread : threads_)
        thread->quit();
    for (QThread* thread : threads_) {
        thread->wait();
        deleteEndedThread(thread);
    }
    threads_.clear();
    workers_.clear();
    busy_.clear();
}

void BatchRunner::setJobs(int jobs)
{
    wantedJobs_ = jobs > 0 ? clampJobs(jobs) : defaultJobs();
    if (!isRunning() && wantedJobs_ != workers_.size()) {
        dropPool();
        makePool(wantedJobs_);
    }
}

void BatchRunner::releaseImage()
{
    if (task_.ownsImage)
        QFile::remove(task_.image);
    task_.image.clear();
    task_.ownsImage = false;
}

// ----------------------------------------------------------------- batch

bool BatchRunner::start(const QStringList& devices, const Task& task)
{
    QStringList list;
    for (const QString& ip : devices) {
        if (!ip.isEmpty() && !list.contains(ip))
            list << ip;
    }
    if (isRunning() || list.isEmpty()) {
        if (task.ownsImage && task.image != task_.image)
            QFile::remove(task.image);
        return false;
    }
    if (task.image != task_.image)
        releaseImage();
    task_ = task;
    devices_ = list;
    results_.clear();
    launch(devices_);
    return true;
}

bool BatchRunner::retryFailed()
{
    if (isRunning() || (task_.programming && task_.image.isEmpty()))
        return false;
    QStringList failed;
    for (const QString& ip : devices_) {
        if (results_.value(ip).status == BatchProgrammingThread::Failed)
            failed << ip;
    }
    if (failed.isEmpty())
        return false;
    launch(failed);
    return true;
}

void BatchRunner::launch(const QStringList& devices)
{
    // Every device of this batch starts afresh: nothing an earlier batch
    // left stays in its result.
    for (const QString& ip : devices) {
        results_.insert(ip, Result{ip});
        Q_EMIT deviceReset(ip);
    }
    stopping_ = false;
    queue_ = devices;
    for (BatchProgrammingThread* worker : workers_) {
        if (queue_.isEmpty())
            break;
        give(worker);
    }
}

void BatchRunner::give(BatchProgrammingThread* worker)
{
    const QString ip = queue_.takeFirst();
    worker->setProgramming(task_.programming);
    worker->setProgType(task_.type);
    worker->setFileName(task_.programming ? task_.image : QString());
    worker->setPort(portResolver_ ? portResolver_(ip) : quint16(0));
    const int id = nextTaskId_++;
    worker->setTask(id, ip);
    busy_.insert(worker, ip);
    results_[ip].status = BatchProgrammingThread::InProgress;
    Q_EMIT deviceStarted(ip);
    Q_EMIT taskStart(id);
}

void BatchRunner::stop()
{
    if (!isRunning())
        return;
    stopping_ = true;
    const QStringList left = queue_;
    queue_.clear();
    for (const QString& ip : left) {
        Result& r = results_[ip];
        r.status = BatchProgrammingThread::Stopped;
        r.reason = Reason::Stopped;
        Q_EMIT deviceFinished(ip);
    }
    Q_EMIT taskStop();
}

void BatchRunner::removeDevice(const QString& ip)
{
    devices_.removeAll(ip);
    queue_.removeAll(ip);
    results_.remove(ip);
}

void BatchRunner::onWorkerFinished()
{
    auto* worker = qobject_cast<BatchProgrammingThread*>(sender());
    BatchProgrammingThread::Report report;
    if (!worker || !worker->takeReport(&report) || !busy_.contains(worker))
        return;
    busy_.remove(worker);
    // A removed device has no result any more; its worker goes on all the same.
    if (results_.contains(report.ip)) {
        Result& r = results_[report.ip];
        r.status = report.status;
        r.reason = report.reason;
        if (report.status == BatchProgrammingThread::Succeeded)
            r.version = report.version;
        Q_EMIT deviceFinished(report.ip);
    }
    if (!stopping_ && !queue_.isEmpty())
        give(worker);
    if (busy_.isEmpty()) {
        stopping_ = false;
        if (wantedJobs_ != workers_.size()) {
            dropPool();
            makePool(wantedJobs_);
        }
        Q_EMIT finished();
    }
}

void BatchRunner::onProgrammingStarted(qlonglong total)
{
    const QString ip = busy_.value(qobject_cast<BatchProgrammingThread*>(sender()));
    if (!results_.contains(ip))
        return;
    Result& r = results_[ip];
    r.bytesTotal = total;
    r.bytesDone = 0;
    Q_EMIT deviceProgress(ip, 0, total);
}

void BatchRunner::onProgrammingUpdated(qlonglong done)
{
    const QString ip = busy_.value(qobject_cast<BatchProgrammingThread*>(sender()));
    if (!results_.contains(ip))
        return;
    Result& r = results_[ip];
    r.bytesDone = done;
    Q_EMIT deviceProgress(ip, done, r.bytesTotal);
}

// --------------------------------------------------------------- results

QList<BatchRunner::Result> BatchRunner::results() const
{
    QList<Result> list;
    for (const QString& ip : devices_)
        list << results_.value(ip, Result{ip});
    return list;
}

int BatchRunner::failedCount() const
{
    int n = 0;
    for (const QString& ip : devices_)
        n += results_.value(ip).status != BatchProgrammingThread::Succeeded;
    return n;
}

// The dialog's own words, in its translation context.
QString BatchRunner::statusText(int status)
{
    switch (status) {
    case BatchProgrammingThread::NotStarted:
        return QCoreApplication::translate("BatchProgrammingDialog", "Not Start");
    case BatchProgrammingThread::InProgress:
        return QCoreApplication::translate("BatchProgrammingDialog", "In Progress");
    case BatchProgrammingThread::Succeeded:
        return QCoreApplication::translate("BatchProgrammingDialog", "Succeeded");
    case BatchProgrammingThread::Failed:
        return QCoreApplication::translate("BatchProgrammingDialog", "Failed");
    case BatchProgrammingThread::Stopped:
        return QCoreApplication::translate("BatchProgrammingDialog", "Stopped");
    default:
        return QCoreApplication::translate("BatchProgrammingDialog", "Code: ") +
               QString::number(status);
    }
}

QString BatchRunner::reasonText(Reason reason)
{
    switch (reason) {
    case Reason::None:
        return QString();
    case Reason::CannotConnect:
        return QCoreApplication::translate("BatchProgrammingDialog", "Cannot connect");
    case Reason::NoAnswer:
        return QCoreApplication::translate("BatchProgrammingDialog", "No answer");
    case Reason::StartRefused:
        return QCoreApplication::translate("BatchProgrammingDialog", "Start refused");
    case Reason::ChunkRefused:
        return QCoreApplication::translate("BatchProgrammingDialog", "Data refused");
    case Reason::LinkLost:
        return QCoreApplication::translate("BatchProgrammingDialog", "Link lost");
    case Reason::Timeout:
        return QCoreApplication::translate("BatchProgrammingDialog", "Timeout");
    case Reason::ImageUnreadable:
        return QCoreApplication::translate("BatchProgrammingDialog",
                                           "Cannot read the programming file");
    case Reason::Stopped:
        return QCoreApplication::translate("BatchProgrammingDialog", "Stopped by the operator");
    }
    return QString();
}

QString BatchRunner::statusKey(int status)
{
    switch (status) {
    case BatchProgrammingThread::Succeeded:
        return QStringLiteral("succeeded");
    case BatchProgrammingThread::Failed:
        return QStringLiteral("failed");
    case BatchProgrammingThread::Stopped:
        return QStringLiteral("stopped");
    case BatchProgrammingThread::InProgress:
        return QStringLiteral("in-progress");
    default:
        return QStringLiteral("not-started");
    }
}

QString BatchRunner::reasonKey(Reason reason)
{
    switch (reason) {
    case Reason::None:
        break;
    case Reason::CannotConnect:
        return QStringLiteral("cannot-connect");
    case Reason::NoAnswer:
        return QStringLiteral("no-answer");
    case Reason::StartRefused:
        return QStringLiteral("start-refused");
    case Reason::ChunkRefused:
        return QStringLiteral("data-refused");
    case Reason::LinkLost:
        return QStringLiteral("link-lost");
    case Reason::Timeout:
        return QStringLiteral("timeout");
    case Reason::ImageUnreadable:
        return QStringLiteral("image-unreadable");
    case Reason::Stopped:
        return QStringLiteral("stopped");
    }
    return QString();
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
        const QString reason = reasonText(r.reason);
        if (!reason.isEmpty())
            stream << "\t" << reason;
        stream << "\n";
    }
    stream.flush();
}
