#include "programming/backupclient.h"

#include "comm/commtcp.h"
#include "programming/programmingprotocol.h"

#include <QTimer>

using namespace ProgProtocol;

BackupClient::BackupClient(QObject* parent)
    : QObject(parent), link_(new CommTcp(this)), timer_(new QTimer(this))
{
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, [this] { end(false, QStringLiteral("no answer")); });
    connect(link_, &CommTcp::gotProgRespond, this, &BackupClient::onResponse);
    connect(link_, &CommTcp::connectionError, this,
            [this](const QString& error) { end(false, QStringLiteral("no connection: ") + error); });
    connect(link_, &CommTcp::disconnected, this, [this] { end(false, QStringLiteral("link lost")); });
    connect(link_, &CommTcp::sendError, this, [this] { end(false, QStringLiteral("link lost")); });
}

BackupClient::~BackupClient() = default;

void BackupClient::start(const QString& ip, quint16 port, int type, const QString& path)
{
    done_ = total_ = 0;
    file_.setFileName(path);
    active_ = true;
    link_->setPort(port ? port : CommTcp::kDevicePort);
    link_->connectDevice(ip);
    if (!active_ || !link_->isConnected())
        return;
    timer_->start(kPrepareTimeoutMs);
    link_->send(kCmdBackupStart, QByteArray(1, char(type)));
}

void BackupClient::request()
{
    timer_->start(replyTimeoutMs_);
    link_->send(kCmdBackupData);
}

void BackupClient::onResponse(int cmd, const quint8* data, int size)
{
    if (!active_)
        return;
    if (cmd == kCmdBackupPreparing) {
        timer_->start(kPrepareTimeoutMs);
    } else if (cmd == kCmdBackupStart && !file_.isOpen()) {
        quint32 announced = 0;
        if (!backupSize(data, size, &announced)) {
            end(false, QStringLiteral("refused"));
            return;
        }
        total_ = announced;
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            end(false, QStringLiteral("cannot write %1: %2").arg(file_.fileName(), file_.errorString()));
            return;
        }
        Q_EMIT progress(0, total_);
        request();
    } else if (cmd == kCmdBackupData && file_.isOpen()) {
        if (size <= 0) {
            end(false, QStringLiteral("the device ended the backup"));
            return;
        }
        const qint64 take = qMin<qint64>(size, total_ - done_);
        if (file_.write(reinterpret_cast<const char*>(data), take) != take) {
            end(false, QStringLiteral("cannot write %1: %2").arg(file_.fileName(), file_.errorString()));
            return;
        }
        done_ += take;
        Q_EMIT progress(done_, total_);
        if (done_ < total_)
            request();
        else
            end(true, QString());
    }
}

void BackupClient::end(bool ok, const QString& error)
{
    if (!active_)
        return;
    active_ = false;
    timer_->stop();
    if (file_.isOpen()) {
        file_.close();
        if (!ok)
            file_.remove();
    }
    link_->disconnectDevice();
    Q_EMIT finished(ok, error);
}
