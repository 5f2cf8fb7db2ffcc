// Version read-out (0x0001), programming (0x0100 to 0x0103) and backup
// (0x0150 to 0x0152) of a simulated device.
//
// A received image is written to "<prog-dir>/image-<address>.bin" (first
// as "....part", renamed when complete). In current mode every chunk starts
// with a sequence byte that must follow the previous one (8-bit wrap); a
// repeated sequence byte is a resend and is acknowledged without storing the
// bytes again.
#include "devsim/simdevice.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <unordered_map>

namespace {

constexpr int kMaxPiece = CommandFrame::kMaxReceivedPayload;

struct Transfer
{
    std::unique_ptr<QFile> file;
    QString finalPath;
    int type = 0;
    quint32 announced = 0;
    quint32 received = 0;
    int chunks = 0;          // distinct chunks stored so far
    quint8 expected = 0;     // next sequence byte
    bool active = false;
};

struct Backup
{
    std::unique_ptr<QFile> file;  // source, or null for the generated pattern
    quint32 size = 0;
    quint32 sent = 0;
    int pieces = 0;
    bool active = false;
};

class ProgrammingService : public DevService
{
public:
    explicit ProgrammingService(SimDevice& device) : device_(device) {}

    bool handle(Session& session, int cmd, const QByteArray& payload) override
    {
        switch (cmd) {
        case 0x0001:
            session.reply(0x0001, versionText(payload.isEmpty() ? -1 : quint8(payload.at(0))));
            return true;
        case 0x0100:
            startProgramming(session, payload);
            return true;
        case 0x0101:
            takeChunk(session, payload);
            return true;
        case 0x0151:
            startBackup(session, payload);
            return true;
        case 0x0152:
            sendBackupPiece(session);
            return true;
        default:
            return false;
        }
    }

    void sessionClosed(Session& session) override
    {
        auto t = transfers_.find(&session);
        if (t != transfers_.end()) {
            if (t->second.active) {
                device_.log(QStringLiteral("   programming: connection lost after %1 of %2 bytes")
                                .arg(t->second.received)
                                .arg(t->second.announced));
                if (t->second.file)
                    t->second.file->remove();
            }
            transfers_.erase(t);
        }
        backups_.erase(&session);
        dropped_.erase(&session);
    }

private:
    bool legacy() const { return device_.boolOption(QStringLiteral("prog-legacy")); }

    QByteArray versionText(int type) const
    {
        const QString fallback = legacy() ? QStringLiteral("v1.2.2 r1")
                                          : QStringLiteral("v1.3.0 build42");
        const QString common = device_.textOption(QStringLiteral("version"), fallback);
        if (type < 0)
            return common.toUtf8();
        return device_.textOption(QStringLiteral("version-%1").arg(type), common).toUtf8();
    }

    QString storePath() const
    {
        const QString dir = device_.textOption(QStringLiteral("prog-dir"), QStringLiteral("."));
        QDir().mkpath(dir);
        return QDir(dir).filePath(QStringLiteral("image-%1.bin").arg(device_.name()));
    }

    // Replies after the acknowledgement delay, in order, while the session
    // lives.
    void replyLater(Session& session, QList<QPair<int, QByteArray>> replies)
    {
        const int delay = device_.intOption(QStringLiteral("prog-ack-delay-ms"));
        if (delay <= 0) {
            for (const auto& r : replies)
                session.reply(r.first, r.second);
            return;
        }
        QPointer<Session> s(&session);
        QTimer::singleShot(delay, &session, [s, replies] {
            if (!s)
                return;
            for (const auto& r : replies)
                s->reply(r.first, r.second);
        });
    }

    void startProgramming(Session& session, const QByteArray& payload)
    {
        Transfer& t = transfers_[&session];
        if (t.active && t.file)
            t.file->remove();
        t = Transfer();
        if (payload.size() != 5 || device_.boolOption(QStringLiteral("prog-refuse-start"))) {
            device_.log(QStringLiteral("   programming: start refused"));
            session.reply(0x0100, QByteArray(1, '\0'));
            return;
        }
        t.type = quint8(payload.at(0));
        t.announced = quint32(quint8(payload.at(1))) << 24 | quint32(quint8(payload.at(2))) << 16 |
                      quint32(quint8(payload.at(3))) << 8 | quint32(quint8(payload.at(4)));
        t.finalPath = storePath();
        t.file = std::make_unique<QFile>(t.finalPath + QStringLiteral(".part"));
        if (!t.file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            device_.log(QStringLiteral("   programming: cannot write %1").arg(t.file->fileName()));
            session.reply(0x0100, QByteArray(1, '\0'));
            return;
        }
        t.active = true;
        device_.log(QStringLiteral("   programming: type %1, %2 bytes, %3 mode")
                        .arg(t.type)
                        .arg(t.announced)
                        .arg(legacy() ? QStringLiteral("legacy") : QStringLiteral("current")));
        session.reply(0x0100, QByteArray(1, '\1'));
        if (t.announced == 0)
            complete(session, t, {});
    }

    void takeChunk(Session& session, const QByteArray& payload)
    {
        auto it = transfers_.find(&session);
        if (it == transfers_.end() || !it->second.active) {
            session.reply(0x0101, QByteArray(1, '\0'));
            return;
        }
        Transfer& t = it->second;
        const bool old = legacy();
        const int headerBytes = old ? 0 : 1;
        const int number = t.chunks + 1; // number of this chunk, from 1

        if (number == device_.intOption(QStringLiteral("prog-close-at"))) {
            device_.log(QStringLiteral("   programming: closing the connection at chunk %1")
                            .arg(number));
            session.close();
            return;
        }

        bool duplicate = false;
        if (!old && payload.size() >= 1) {
            const quint8 seq = quint8(payload.at(0));
            if (seq != t.expected) {
                if (t.chunks > 0 && seq == quint8(t.expected - 1)) {
                    duplicate = true;
                } else {
                    device_.log(QStringLiteral("   programming: sequence byte %1, expected %2")
                                    .arg(seq)
                                    .arg(t.expected));
                    abort(session, t);
                    return;
                }
            }
        }
        const int dataBytes = payload.size() - headerBytes;
        if (!duplicate &&
            (dataBytes <= 0 || dataBytes > 1024 || t.received + quint32(dataBytes) > t.announced)) {
            device_.log(QStringLiteral("   programming: chunk %1 of %2 data bytes does not fit")
                            .arg(number)
                            .arg(dataBytes));
            abort(session, t);
            return;
        }
        if (!duplicate && number == device_.intOption(QStringLiteral("prog-refuse-chunk"))) {
            device_.log(QStringLiteral("   programming: chunk %1 refused").arg(number));
            abort(session, t);
            return;
        }

        const int ackedChunk = duplicate ? t.chunks : number;
        if (duplicate)
            device_.log(QStringLiteral("   programming: chunk %1 resent (sequence byte %2)")
                            .arg(ackedChunk)
                            .arg(quint8(payload.at(0))));
        if (ackedChunk == device_.intOption(QStringLiteral("prog-drop-ack")) &&
            dropped_[&session] < device_.intOption(QStringLiteral("prog-drop-ack-times"), 1)) {
            ++dropped_[&session];
            if (!duplicate)
                store(t, payload.mid(headerBytes));
            device_.log(QStringLiteral("   programming: acknowledgement of chunk %1 dropped")
                            .arg(ackedChunk));
            return;
        }
        if (!duplicate)
            store(t, payload.mid(headerBytes));
        if (t.received == t.announced)
            complete(session, t, {{0x0101, QByteArray(1, '\1')}});
        else
            replyLater(session, {{0x0101, QByteArray(1, '\1')}});
    }

    void store(Transfer& t, const QByteArray& bytes)
    {
        t.file->write(bytes);
        t.received += quint32(bytes.size());
        ++t.chunks;
        ++t.expected;
    }

    void abort(Session& session, Transfer& t)
    {
        if (t.file)
            t.file->remove();
        t.active = false;
        replyLater(session, {{0x0101, QByteArray(1, '\0')}});
    }

    void complete(Session& session, Transfer& t, QList<QPair<int, QByteArray>> replies)
    {
        t.file->close();
        QFile::remove(t.finalPath);
        t.file->rename(t.finalPath);
        t.active = false;
        device_.log(QStringLiteral("   programming: image of %1 bytes stored in %2")
                        .arg(t.received)
                        .arg(t.finalPath));
        if (!device_.boolOption(QStringLiteral("prog-no-installing")))
            replies.append({0x0102, QByteArray()});
        replyLater(session, replies);
        if (device_.boolOption(QStringLiteral("prog-no-installing")) ||
            device_.boolOption(QStringLiteral("prog-no-finish")))
            return;
        const int installMs = device_.intOption(QStringLiteral("prog-install-ms"), 300) +
                              qMax(0, device_.intOption(QStringLiteral("prog-ack-delay-ms")));
        QPointer<Session> s(&session);
        QTimer::singleShot(installMs, &session, [s, this] {
            if (!s)
                return;
            device_.log(QStringLiteral("   programming: installed"));
            s->reply(0x0103);
        });
    }

    void startBackup(Session& session, const QByteArray& payload)
    {
        Backup& b = backups_[&session];
        b = Backup();
        const int type = payload.isEmpty() ? 0 : quint8(payload.at(0));
        if (payload.size() != 1 || device_.boolOption(QStringLiteral("backup-refuse"))) {
            device_.log(QStringLiteral("   backup: refused"));
            session.reply(0x0151, QByteArray(4, '\0'));
            return;
        }
        const QString source = device_.textOption(QStringLiteral("backup-file"));
        if (!source.isEmpty()) {
            b.file = std::make_unique<QFile>(source);
            if (!b.file->open(QIODevice::ReadOnly)) {
                device_.log(QStringLiteral("   backup: cannot read %1").arg(source));
                session.reply(0x0151, QByteArray(4, '\0'));
                return;
            }
            b.size = quint32(b.file->size());
        } else {
            b.size = quint32(qMax(0, device_.intOption(QStringLiteral("backup-size"), 65536)));
        }
        b.active = b.size > 0;
        device_.log(QStringLiteral("   backup: type %1, %2 bytes").arg(type).arg(b.size));
        if (!device_.boolOption(QStringLiteral("backup-no-prepare")))
            session.reply(0x0150);
        QByteArray size(4, '\0');
        size[0] = char(b.size >> 24);
        size[1] = char(b.size >> 16);
        size[2] = char(b.size >> 8);
        size[3] = char(b.size);
        session.reply(0x0151, size);
    }

    void sendBackupPiece(Session& session)
    {
        auto it = backups_.find(&session);
        if (it == backups_.end() || !it->second.active || it->second.sent >= it->second.size) {
            session.reply(0x0152);
            return;
        }
        Backup& b = it->second;
        ++b.pieces;
        if (b.pieces == device_.intOption(QStringLiteral("backup-close-at"))) {
            device_.log(QStringLiteral("   backup: closing the connection at piece %1").arg(b.pieces));
            session.close();
            return;
        }
        if (b.pieces == device_.intOption(QStringLiteral("backup-fail-at"))) {
            device_.log(QStringLiteral("   backup: piece %1 fails").arg(b.pieces));
            b.active = false;
            session.reply(0x0152);
            return;
        }
        const int piece = qBound(1, device_.intOption(QStringLiteral("backup-piece"), 1024), kMaxPiece);
        const quint32 n = qMin<quint32>(quint32(piece), b.size - b.sent);
        QByteArray bytes;
        if (b.file) {
            bytes = b.file->read(n);
        } else {
            bytes.resize(int(n));
            for (quint32 i = 0; i < n; ++i)
                bytes[int(i)] = char(((b.sent + i) * 7 + 3) & 0xFF);
        }
        b.sent += quint32(bytes.size());
        if (b.sent >= b.size || bytes.isEmpty()) {
            device_.log(QStringLiteral("   backup: %1 bytes sent").arg(b.sent));
            b.active = false;
        }
        session.reply(0x0152, bytes);
    }

    SimDevice& device_;
    std::unordered_map<Session*, Transfer> transfers_;
    std::unordered_map<Session*, Backup> backups_;
    std::unordered_map<Session*, int> dropped_;
};

const ServiceRegistrar registrar(ServiceInfo{
    "programming",
    {{"version", "text: version reply of every type (default v1.3.0 build42, legacy v1.2.2 r1)"},
     {"version-N", "text: version reply of programming type N"},
     {"prog-legacy", "1: an old device: chunks carry no sequence byte"},
     {"prog-dir", "dir: where received images go (image-ADDRESS.bin; default .)"},
     {"prog-refuse-start", "1: refuse every 0x0100"},
     {"prog-refuse-chunk", "k: refuse the k-th chunk (from 1)"},
     {"prog-drop-ack", "k: do not acknowledge the k-th chunk ..."},
     {"prog-drop-ack-times", "... n times (default 1)"},
     {"prog-close-at", "k: close the connection when the k-th chunk arrives"},
     {"prog-ack-delay-ms", "N: acknowledge chunks N ms late"},
     {"prog-install-ms", "N: delay from 0x0102 to 0x0103 (default 300)"},
     {"prog-no-finish", "1: never send 0x0103"},
     {"prog-no-installing", "1: send neither 0x0102 nor 0x0103"},
     {"backup-file", "path: the program a backup sends"},
     {"backup-size", "N: without backup-file, send N bytes of a pattern (default 65536)"},
     {"backup-piece", "N: data bytes per 0x0152 reply (default 1024, at most 4090)"},
     {"backup-refuse", "1: answer 0x0151 with size 0"},
     {"backup-no-prepare", "1: do not send 0x0150 before the size"},
     {"backup-fail-at", "k: answer the k-th 0x0152 with no data"},
     {"backup-close-at", "k: close the connection at the k-th 0x0152"}},
    [](SimDevice& device) { return std::make_unique<ProgrammingService>(device); }});

} // namespace
