#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <mutex>

class BatchProgrammingThread;
class BatchRunnerSlot;
class QDateTime;
class QIODevice;
class QThread;

// Runs a batch: programs, or only reads the version of, a list of devices,
// spread over a pool of BatchProgrammingThread workers, each in a thread of
// its own with its own connection. Plain code without widgets, shared by
// the batch dialog and the command-line tool.
//
// Every device of a batch ends with exactly one result (status, reason,
// version) and one deviceFinished(); the batch ends with finished() once
// every device that is still listed has its result. Devices are served in
// list order; a worker that ends a task takes the next device at once.
class BatchRunner : public QObject
{
    Q_OBJECT
public:
    // Same numbers as the workers' task status.
    enum Status { NotStarted = 0, InProgress = 1, Succeeded = 2, Failed = 3 };
    // Why a device failed (or was not served).
    enum Reason {
        NoReason = 0,
        NoConnection, // the TCP connection could not be made
        NoAnswer,     // the device did not answer the version or start request
        RefusedStart, // 0x0100 answered with 0
        RefusedChunk, // a 0x0101 answered with 0
        LinkLost,     // the connection broke or a command could not be written
        Timeout,      // a chunk stayed unacknowledged, or 0x0103 never came
        Stopped,      // the batch was stopped
    };

    struct Task
    {
        bool programming = false;
        int type = 0;   // programming type byte
        QString image;  // the bare image to send (programming only)
    };

    struct Result
    {
        QString ip;
        int status = NotStarted;
        Reason reason = NoReason;
        // Version-only task: the version read. Programming task: the version
        // read back after success (empty when the device did not answer).
        QString version;
        qint64 bytesDone = 0;
        qint64 bytesTotal = 0;
    };

    static constexpr int kMaxJobs = 64;
    // Attempts and spacing of the version read-back after programming (the
    // device may be restarting its program).
    static constexpr int kReadBackAttempts = 5;
    static constexpr int kReadBackDelayMs = 1000;

    // The number of devices served at once by default: the machine's ideal
    // thread count, at least 1, at most kMaxJobs.
    static int defaultJobs();
    static int clampJobs(int jobs);

    // jobs <= 0: defaultJobs().
    explicit BatchRunner(int jobs = 0, QObject* parent = nullptr);
    ~BatchRunner() override;

    int jobs() const { return jobs_; }
    // Takes effect at once when idle, else when the batch has ended.
    void setJobs(int jobs);

    // Starts a batch over the devices (duplicates and blank entries are
    // dropped). Every device's result is reset first. False when a batch is
    // running or there is nothing to do.
    bool start(const QStringList& devices, const Task& task);
    // No further device is started; devices under way end as Failed with
    // reason Stopped, those not yet started keep NotStarted with reason
    // Stopped.
    void stop();
    // Runs the last batch's task again for exactly the devices that failed.
    bool retryFailed();
    // The device gets no (further) task and no result: a running task's
    // outcome is dropped, and its worker goes on with the next device.
    void removeDevice(const QString& ip);

    bool isRunning() const { return running_; }
    bool isStopping() const { return stopping_; }
    QStringList devices() const { return devices_; }
    Result result(const QString& ip) const { return results_.value(ip); }
    QList<Result> results() const;
    Task task() const { return task_; }
    int failedCount() const;

    static QString statusText(int status);
    static QString reasonText(Reason reason);
    // A stable lower-case word for scripts ("no-connection", ...).
    static QString reasonKey(Reason reason);
    // The batch report: a time stamp, the heading, a rule and one line per
    // device, "IP<tab><tab>Status"; a device with a reason adds a tab and
    // the reason.
    static void writeReport(QIODevice* out, const QList<Result>& results, const QDateTime& time);

    // Seams: the device port per address (0: 8712); a hook that sets up
    // each worker when it is made (time-outs); read-back after programming
    // on or off, and its spacing.
    void setPortResolver(std::function<quint16(const QString&)> resolver)
    {
        portResolver_ = std::move(resolver);
    }
    void setWorkerSetup(std::function<void(BatchProgrammingThread*)> setup);
    void setReadBack(bool on) { readBack_ = on; }
    void setReadBackDelay(int ms) { readBackDelayMs_ = ms; }

Q_SIGNALS:
    // Batch begins: every result has been reset.
    void batchStarted();
    void deviceStarted(const QString& ip);
    void deviceProgress(const QString& ip, qint64 done, qint64 total);
    // The device's result is final (result(ip)).
    void deviceFinished(const QString& ip);
    void finished();
    // To the workers' slots: run / stop the task of that id (each slot takes
    // only its own).
    void taskStart(int taskId);
    void taskStop(int taskId);

private:
    struct Job
    {
        QThread* thread = nullptr;
        BatchRunnerSlot* slot = nullptr;
        int taskId = -1; // -1: idle
        QString ip;
        bool readBack = false;
        int attempt = 0;
    };
    struct Pending
    {
        QString ip;
        bool readBack = false;
        int attempt = 0;
    };

    void makePool();
    void dropPool();
    void dispatch();
    void give(Job& job, const Pending& pending);
    void onEnded();
    void onStarted(int taskId, qint64 total);
    void onProgress(int taskId, qint64 done);
    Job* jobOf(int taskId);
    void finishDevice(const QString& ip);
    void checkDone();
    bool launch(const QStringList& devices);

    int jobs_ = 1;
    int wantedJobs_ = 1;
    QVector<Job> pool_;
    QStringList devices_;
    QHash<QString, Result> results_;
    QList<Pending> queue_;
    int delayed_ = 0; // read-backs waiting for their delay
    Task task_;
    bool running_ = false;
    bool stopping_ = false;
    bool readBack_ = true;
    int readBackDelayMs_ = kReadBackDelayMs;
    int nextTaskId_ = 1;
    quint64 batchSerial_ = 0;
    std::function<quint16(const QString&)> portResolver_;
    std::function<void(BatchProgrammingThread*)> workerSetup_;
};

// Drives one worker from the worker's own thread: hands it a task, tells
// why a failed task failed (from what the worker's link saw), and stops a
// task under way. Internal to BatchRunner.
//
// Task and outcome cross between the runner's thread and the worker's under
// a standard mutex, as copies of their own (a thread checker sees that
// ordering; it cannot see the toolkit's event queues).
class BatchRunnerSlot : public QObject
{
    Q_OBJECT
public:
    struct Task
    {
        int id = -1;
        QString ip;
        quint16 port = 0;
        bool programming = false;
        int type = 0;
        QString image;
    };
    struct End
    {
        int id = -1;
        int status = 0;
        int reason = 0;
        QString version;
    };

    explicit BatchRunnerSlot(BatchProgrammingThread* worker);
    BatchProgrammingThread* worker() const { return worker_; }

    // Runner's thread: the task run() takes up next; the outcome of the
    // task that ended (after ended()).
    void setTask(const Task& task);
    bool takeEnd(End* end);

public Q_SLOTS:
    void run(int taskId);
    void stopTask(int taskId);

Q_SIGNALS:
    void started(int taskId, qint64 total);
    void progress(int taskId, qint64 done);
    void ended();

private:
    void observeLink();
    void onWorkerFinished();
    void cause(int reason);
    void report();

    std::mutex lock_;
    Task next_;
    QList<End> ends_;

    // Worker thread only.
    BatchProgrammingThread* worker_;
    int taskId_ = -1;
    int reason_ = 0;
    bool inStart_ = false;
    bool workerEnded_ = false;
    bool transferStarted_ = false;
    bool stopRequested_ = false;
    bool observing_ = false;
};
