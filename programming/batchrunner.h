#pragma once

#include "programming/batchprogrammingthread.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class QDateTime;
class QIODevice;
class QThread;

// Runs a batch: programs, or only reads the version of, a list of devices,
// spread over a pool of BatchProgrammingThread workers, each in a thread of
// its own with its own connection. Plain code without widgets: the batch
// dialog and the command-line tool both drive their batches through it.
//
// One batch runs at a time. It starts by resetting the result of every
// device it covers. Devices are served in list order; a worker that ends a
// task takes the next device at once. Every device of a batch ends with
// exactly one result (status, reason, version) and one deviceFinished(),
// and the batch ends with finished() once no worker is busy any more.
// A device removed meanwhile gets no further task and no result, and its
// worker goes on with the next device. stop() hands out no further device
// and ends the tasks under way as Stopped.
class BatchRunner : public QObject
{
    Q_OBJECT
public:
    using Status = BatchProgrammingThread::Status;
    using Reason = BatchProgrammingThread::Reason;

    struct Task
    {
        bool programming = false;
        int type = 0;     // programming type byte
        QString image;    // the bare image to send (programming only)
        bool ownsImage = false; // the runner removes it when no longer needed
    };

    struct Result
    {
        QString ip;
        int status = BatchProgrammingThread::NotStarted;
        Reason reason = Reason::None;
        // The version read (a programming task: read back afterwards; empty
        // when the device did not answer in time).
        QString version;
        qint64 bytesDone = 0;
        qint64 bytesTotal = 0;
    };

    static constexpr int kMaxJobs = 64;
    // Devices served at once by default: the machine's ideal thread count,
    // at least 1 (at most kMaxJobs).
    static int defaultJobs();
    static int clampJobs(int jobs);

    // jobs <= 0: defaultJobs(). The workers and their threads are made here.
    explicit BatchRunner(int jobs = 0, QObject* parent = nullptr);
    ~BatchRunner() override;

    int jobs() const { return workers_.size(); }
    // Now when idle, else when the running batch has ended.
    void setJobs(int jobs);

    // Starts a batch over the devices (duplicates dropped). An image the
    // task owns replaces the previous batch's one, which is removed. False
    // when a batch is running or there are no devices.
    bool start(const QStringList& devices, const Task& task);
    // Runs the last batch's task again for exactly the devices that failed.
    bool retryFailed();
    void stop();
    void removeDevice(const QString& ip);

    bool isRunning() const { return !busy_.isEmpty(); }
    QStringList devices() const { return devices_; }
    // Devices of the running batch not yet handed to a worker.
    QStringList pendingDevices() const { return queue_; }
    Task task() const { return task_; }
    Result result(const QString& ip) const { return results_.value(ip); }
    QList<Result> results() const;
    // Devices of the batch that did not succeed.
    int failedCount() const;

    const QVector<BatchProgrammingThread*>& workers() const { return workers_; }
    const QVector<QThread*>& threads() const { return threads_; }

    static QString statusText(int status);
    static QString reasonText(Reason reason);
    // Stable words for scripts ("succeeded", "failed", ...; "cannot-connect",
    // "start-refused", ...).
    static QString statusKey(int status);
    static QString reasonKey(Reason reason);
    // The batch report: a time stamp, the heading, a rule and one line per
    // device, "IP<tab><tab>Status", and a tab and the reason when there is
    // one.
    static void writeReport(QIODevice* out, const QList<Result>& results, const QDateTime& time);

    // Seam: the device port per address (0: 8712).
    void setPortResolver(std::function<quint16(const QString&)> resolver)
    {
        portResolver_ = std::move(resolver);
    }

Q_SIGNALS:
    // The device's result was reset for a batch (start, retry).
    void deviceReset(const QString& ip);
    void deviceStarted(const QString& ip);
    void deviceProgress(const QString& ip, qint64 done, qint64 total);
    // The device's result is final (result(ip)).
    void deviceFinished(const QString& ip);
    void finished();
    // To the workers: take task id (only the worker it was given to does);
    // end the task under way.
    void taskStart(int taskId);
    void taskStop();

private:
    void makePool(int count);
    void dropPool();
    void launch(const QStringList& devices);
    void give(BatchProgrammingThread* worker);
    void onWorkerFinished();
    void onProgrammingStarted(qlonglong total);
    void onProgrammingUpdated(qlonglong done);
    void releaseImage();

    QVector<QThread*> threads_;
    QVector<BatchProgrammingThread*> workers_;
    int wantedJobs_ = 1;
    QStringList devices_;
    QHash<QString, Result> results_;
    QStringList queue_;
    QHash<BatchProgrammingThread*, QString> busy_;
    Task task_;
    bool stopping_ = false;
    int nextTaskId_ = 0;
    std::function<quint16(const QString&)> portResolver_;
};
