#pragma once

#include <QFile>
#include <QObject>
#include <QString>

class CommTcp;
class QTimer;

// Fetches a backup of one program part from a device over a connection of
// its own, into a file: 0x0151 [type] asks for it, the device answers with
// the size (0x0150 first while it prepares), and every 0x0152 request
// brings the next piece until the size is reached. Plain code without
// widgets; every reply is awaited for a bounded time.
class BackupClient : public QObject
{
    Q_OBJECT
public:
    static constexpr int kReplyTimeoutMs = 10000;
    // The device may take a while to prepare the backup.
    static constexpr int kPrepareTimeoutMs = 60000;

    explicit BackupClient(QObject* parent = nullptr);
    ~BackupClient() override;

    // Connects to ip:port (0: 8712) and starts the backup into path. The
    // outcome comes with finished().
    void start(const QString& ip, quint16 port, int type, const QString& path);
    void setReplyTimeout(int ms) { replyTimeoutMs_ = ms; }

    qint64 bytesDone() const { return done_; }
    qint64 bytesTotal() const { return total_; }

Q_SIGNALS:
    void progress(qint64 done, qint64 total);
    // ok false: error tells why ("no connection", "refused", ...); the
    // partial file is removed.
    void finished(bool ok, const QString& error);

private:
    void onResponse(int cmd, const quint8* data, int size);
    void end(bool ok, const QString& error);
    void request();

    CommTcp* link_;
    QTimer* timer_;
    QFile file_;
    qint64 done_ = 0;
    qint64 total_ = 0;
    int replyTimeoutMs_ = kReplyTimeoutMs;
    bool active_ = false;
};
