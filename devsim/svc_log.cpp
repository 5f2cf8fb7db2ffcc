// Log files: 0x0008 lists them, 0x0009 opens one (or closes the open one)
// and the open log is streamed as 0x000A frames until it is closed or the
// connection ends.
#include "devsim/simdevice.h"
#include "pages/logfilelist.h"

#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr int kCmdList = 0x0008;
constexpr int kCmdOpen = 0x0009;
constexpr int kCmdText = 0x000A;
constexpr int kMaxText = 4090;
// Fast streaming stops writing while this much is still waiting in the
// connection's send buffer, and goes on when it has drained.
constexpr qint64 kHighWater = 256 * 1024;

const char* const kMessages[] = {
    "eth0: link up, 100 Mbps full duplex",
    "dhcp: lease renewed",
    "modbus: poll cycle completed, 12 registers",
    "watchdog: kicked",
    "storage: 73% free",
    "serial: ttyS1 idle",
    "ntp: clock adjusted by 3 ms",
    "app: heartbeat",
};

struct Stream
{
    QString name;
    QTimer* timer = nullptr;
    QElapsedTimer clock;
    // The device's local time when the stream started, as if it were UTC:
    // stamping a line then needs no time-zone look-up.
    qint64 startMs = 0;
    quint64 lines = 0;
    QMetaObject::Connection drained;
};

class LogService : public DevService
{
public:
    explicit LogService(SimDevice& device) : device_(device) {}
    ~LogService() override
    {
        for (auto it = streams_.begin(); it != streams_.end(); ++it)
            stop(it.value());
    }

    bool handle(Session& session, int cmd, const QByteArray& payload) override
    {
        switch (cmd) {
        case kCmdList:
            session.reply(kCmdList, listPayload());
            return true;
        case kCmdOpen:
            openOrClose(session, payload);
            return true;
        default:
            return false;
        }
    }

    void sessionClosed(Session& session) override
    {
        auto it = streams_.find(&session);
        if (it == streams_.end())
            return;
        stop(it.value());
        streams_.erase(it);
    }

private:
    QStringList files() const
    {
        const QString text =
            device_.textOption(QStringLiteral("log-files"), QStringLiteral("system.log,kernel.log,app.log"));
        return text.isEmpty() ? QStringList() : text.split(QLatin1Char(','));
    }

    QByteArray listPayload() const
    {
        const QString raw = device_.textOption(QStringLiteral("log-list-hex"));
        if (!raw.isEmpty())
            return QByteArray::fromHex(raw.toLatin1());
        QByteArray payload = LogFileList::encode(files());
        // The last entry claims more bytes than the payload holds.
        if (device_.boolOption("log-list-overrun"))
            payload.append(char(9)).append("cut");
        return payload;
    }

    void openOrClose(Session& session, const QByteArray& payload)
    {
        const QString name = QString::fromLocal8Bit(payload);
        auto it = streams_.find(&session);
        if (it != streams_.end()) {
            device_.log(QStringLiteral("   log %1 closed after %2 lines")
                            .arg(it->name)
                            .arg(it->lines));
            stop(it.value());
            streams_.erase(it);
            // A close is not answered, unless asked to.
            const int closeReply = device_.intOption("log-close-reply", -1);
            if (closeReply >= 0)
                session.reply(kCmdOpen, QByteArray(1, static_cast<char>(closeReply)));
            return;
        }
        if (device_.boolOption("log-open-empty")) {
            session.reply(kCmdOpen, QByteArray());
            return;
        }
        const int forced = device_.intOption("log-open-result", -1);
        const bool known = files().contains(name);
        const bool ok = forced >= 0 ? forced != 0 : known;
        session.reply(kCmdOpen, QByteArray(1, static_cast<char>(forced >= 0 ? forced : ok)));
        if (!ok) {
            device_.log(QStringLiteral("   log %1 refused").arg(name));
            return;
        }
        device_.log(QStringLiteral("   log %1 opened").arg(name));
        start(session, name);
    }

    void start(Session& session, const QString& name)
    {
        Stream& s = streams_[&session];
        s.name = name;
        s.lines = 0;
        s.clock.start();
        const QDateTime now = device_.now();
        s.startMs = now.toMSecsSinceEpoch() + now.offsetFromUtc() * 1000LL;
        s.timer = new QTimer(&session);
        const int rate = device_.intOption("log-rate", 20);
        s.timer->setInterval(rate <= 0 ? 0 : qBound(1, 1000 / rate, 100));
        Session* sp = &session;
        QObject::connect(s.timer, &QTimer::timeout, s.timer, [this, sp] { tick(*sp); });
        s.timer->start();
    }

    void stop(Stream& s)
    {
        QObject::disconnect(s.drained);
        if (s.timer) {
            s.timer->stop();
            s.timer->deleteLater();
            s.timer = nullptr;
        }
    }

    QByteArray line(const Stream& s, quint64 n) const
    {
        const QString text = QStringLiteral("%1 %2[%3]: #%4 %5")
                                 .arg(QDateTime::fromMSecsSinceEpoch(s.startMs + s.clock.elapsed(), Qt::UTC)
                                          .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")))
                                 .arg(s.name)
                                 .arg(100 + n % 900)
                                 .arg(n)
                                 .arg(QLatin1String(kMessages[n % (sizeof kMessages / sizeof *kMessages)]));
        return text.toUtf8();
    }

    // One frame: as many whole lines as asked for and as fit.
    QByteArray frame(Stream& s, quint64 limit)
    {
        const int perFrame = qMax(1, device_.intOption("log-lines-per-frame", 1));
        QByteArray text;
        for (int i = 0; i < perFrame && s.lines < limit; ++i) {
            const QByteArray next = line(s, s.lines + 1);
            if (!text.isEmpty() && text.size() + 1 + next.size() > kMaxText)
                break;
            if (!text.isEmpty())
                text.append('\n');
            text.append(next.left(kMaxText));
            ++s.lines;
        }
        return text;
    }

    void tick(Session& session)
    {
        auto it = streams_.find(&session);
        if (it == streams_.end() || !session.isOpen())
            return;
        Stream& s = it.value();
        const quint64 total = static_cast<quint64>(qMax(0, device_.intOption("log-lines")));
        const quint64 limit = total > 0 ? total : ~quint64(0);
        const int rate = device_.intOption("log-rate", 20);
        // The connection's socket, to stream no faster than it drains.
        QTcpSocket* socket = session.findChild<QTcpSocket*>();
        if (rate <= 0) {
            for (int i = 0; i < 256 && s.lines < limit; ++i) {
                if (socket && socket->bytesToWrite() > kHighWater) {
                    s.timer->stop();
                    QPointer<QTimer> timer = s.timer;
                    QObject::disconnect(s.drained);
                    s.drained = QObject::connect(socket, &QTcpSocket::bytesWritten, s.timer,
                                                 [socket, timer] {
                                                     if (timer && !timer->isActive() &&
                                                         socket->bytesToWrite() < kHighWater / 2)
                                                         timer->start();
                                                 });
                    return;
                }
                session.reply(kCmdText, frame(s, limit));
            }
        } else {
            const quint64 due = static_cast<quint64>(s.clock.elapsed()) * static_cast<quint64>(rate) / 1000 + 1;
            while (s.lines < due && s.lines < limit)
                session.reply(kCmdText, frame(s, qMin(limit, due)));
        }
        if (s.lines >= limit) {
            device_.log(QStringLiteral("   log %1 complete, %2 lines").arg(s.name).arg(s.lines));
            s.timer->stop();
        }
    }

    SimDevice& device_;
    QHash<Session*, Stream> streams_;
};

const ServiceRegistrar registrar(ServiceInfo{
    "log",
    {{"log-files", "names: comma-separated log files (default system.log,kernel.log,app.log)"},
     {"log-list-hex", "hex: answer 0x0008 with exactly these bytes"},
     {"log-list-overrun", "1: the last list entry's length runs past the payload"},
     {"log-open-result", "N: answer every open with result byte N (0 = failure)"},
     {"log-open-empty", "1: answer opens with an empty payload"},
     {"log-close-reply", "N: answer a close with result byte N (default: no answer)"},
     {"log-rate", "N: log lines per second; 0 = as fast as the link carries (default 20)"},
     {"log-lines-per-frame", "N: lines per 0x000A frame, joined by newlines (default 1)"},
     {"log-lines", "N: stop after N lines (default: endless)"}},
    [](SimDevice& device) { return std::make_unique<LogService>(device); }});

} // namespace
