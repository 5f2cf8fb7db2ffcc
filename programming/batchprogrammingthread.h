#pragma once

#include "programming/programmingprotocol.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QString>

#include <atomic>
#include <mutex>

class CommTcp;
class QTimer;

// Carries out one batch task at a time against one device: connects its own
// command link to the device, reads the device's version and, for a
// programming task, sends the image with the programming protocol.
//
// The batch dialog moves each worker into a thread of its own. The dialog
// describes the next task with the setters (from its own thread) and then
// emits taskStart(index); the worker takes the task over when the start
// reaches it. The setters only fill in the task to come; the task under way
// works on its own copy, so a new description never changes a running task.
// Every task ends with exactly one finished() and one report (takeReport()).
//
// Task status: 0 not started, 1 in progress, 2 succeeded, 3 failed,
// 4 stopped by the operator.
//
// After a successful programming task the worker reads the device's version
// once more (reconnecting while the device restarts, within a bound) and
// reports it with the task.
class BatchProgrammingThread : public QObject
{
    Q_OBJECT
public:
    enum Status { NotStarted = 0, InProgress = 1, Succeeded = 2, Failed = 3, Stopped = 4 };
    // Why a task did not succeed.
    enum class Reason {
        None,
        CannotConnect,   // the TCP connection failed
        NoAnswer,        // no reply to the version, the start or a chunk
        StartRefused,    // 0x0100 answered with 0
        ChunkRefused,    // 0x0101 answered with 0
        LinkLost,        // the connection ended, or a command could not be written
        Timeout,         // no 0x0103 within the bound after the last chunk
        ImageUnreadable, // the image file cannot be opened or read
        Stopped,         // the operator stopped the batch
    };
    // Sending lasts until the last chunk is acknowledged; ReadBack asks for
    // the version after 0x0103.
    enum class Phase { Idle, Connecting, Version, Starting, Sending, Finishing, ReadBack };

    static constexpr int kChunkIntervalMs = 5000;
    // Bound of the wait for the version reply and for the answer to 0x0100.
    static constexpr int kReplyTimeoutMs = 10000;
    // Bound of the wait for 0x0103 after the last chunk (the device installs
    // the program meanwhile).
    static constexpr int kFinishTimeoutMs = 300000;
    // Acknowledged chunks are reported to the dialog at most this often
    // (the last one always): one queued event per chunk per device would
    // keep the GUI thread busy for nothing the operator can see.
    static constexpr int kProgressIntervalMs = 40;
    // Bound of the version read-back after programming, and the pause
    // between two connection attempts while the device restarts.
    static constexpr int kReadBackTimeoutMs = 30000;
    static constexpr int kReconnectDelayMs = 500;

    // What one ended task left: read by the dialog after finished().
    struct Report
    {
        int index = -1;
        QString ip;
        int status = NotStarted;
        Reason reason = Reason::None;
        bool programming = false;
        // The version the device reported (after programming: the one read
        // back, empty when it did not answer in time).
        QString version;
    };

    explicit BatchProgrammingThread(QObject* parent = nullptr);
    ~BatchProgrammingThread() override;

    // The task to come (any thread).
    void setTask(int index, const QString& ip);
    void setProgramming(bool programming);
    void setProgType(int type);
    void setFileName(const QString& fileName);
    // Seam: the device port of the task to come (8712).
    void setPort(quint16 port);

    // The task under way, or the last one (any thread).
    QString ip() const;
    int taskIndex() const;
    int taskStatus() const;
    bool isProgramming() const;
    QString version() const;
    bool isRunning() const;

    // The oldest report not yet taken; one is queued before every finished().
    bool takeReport(Report* report);
    // Drops the reports nobody will read any more (the dialog lets go of
    // the worker). Everything the caller did before is ordered before the
    // worker's destruction.
    void discardReports();

    // Seams: chunk interval (5 s), reply bound (10 s), finish bound (5 min),
    // connect timeout of the link (1 s). Effective from the next task on.
    void setChunkInterval(int ms) { chunkIntervalMs_ = ms; }
    void setReplyTimeout(int ms) { replyTimeoutMs_ = ms; }
    void setFinishTimeout(int ms) { finishTimeoutMs_ = ms; }
    void setConnectTimeout(int ms) { connectTimeoutMs_ = ms; }
    void setReadBackTimeout(int ms) { readBackTimeoutMs_ = ms; }
    // Seam: 0 reports every acknowledged chunk.
    void setProgressInterval(int ms) { progressIntervalMs_ = ms; }

    // Worker thread only: the link and chunk timer (null before the first
    // start), and the transfer.
    CommTcp* link() const { return link_; }
    QTimer* chunkTimer() const { return timer_; }
    Phase phase() const { return phase_; }
    bool isLegacyTransfer() const { return sender_.legacy(); }

Q_SIGNALS:
    void programmingStarted(qlonglong bytesTotal);
    void programmingUpdated(qlonglong bytesWritten);
    void finished();

public Q_SLOTS:
    void onTaskStart(int index);
    void onTaskStop();

private Q_SLOTS:
    void onTimerTimeout();
    void onNetworkDevConnected();
    void onNetworkDevConnectError(QString error);
    void onNetworkProgramResponse(int cmd, const quint8* data, int size);
    void onWaitTimeout();
    void onLinkLost();

private:
    struct Task
    {
        int index = -1;
        QString ip;
        quint16 port = 0;
        bool programming = false;
        int type = 0;
        QString fileName;
    };

    void stop(int status, Reason reason = Reason::None);
    void readBack();
    void reconnectLater();
    // Sends one command; false when the task ended meanwhile (a failed
    // send ends it at once).
    bool send(int cmd, const QByteArray& data);
    void onVersionReply(const quint8* data, int size);
    void sendChunk();
    void startWait(int ms);
    void reportProgress();

    // Guards the task to come, the task under way as the dialog sees it,
    // the status, the version and the reports. (A standard mutex: thread
    // checkers see its ordering, which they cannot for the toolkit's own.)
    mutable std::mutex lock_;
    Task next_;
    Task current_;
    int status_ = NotStarted;
    QString version_;
    bool running_ = false;
    QList<Report> reports_;

    // Worker thread only.
    std::mutex startLock_;
    QTimer* timer_ = nullptr;
    QTimer* waitTimer_ = nullptr;
    CommTcp* link_ = nullptr;
    QFile image_;
    ProgProtocol::ChunkSender sender_;
    Phase phase_ = Phase::Idle;
    quint64 generation_ = 0;
    QElapsedTimer progressClock_;

    std::atomic<int> chunkIntervalMs_{kChunkIntervalMs};
    std::atomic<int> replyTimeoutMs_{kReplyTimeoutMs};
    std::atomic<int> finishTimeoutMs_{kFinishTimeoutMs};
    std::atomic<int> connectTimeoutMs_{0};
    std::atomic<int> readBackTimeoutMs_{kReadBackTimeoutMs};
    std::atomic<int> progressIntervalMs_{kProgressIntervalMs};
};
