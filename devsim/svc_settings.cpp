// The service ports of the device (0x0010 read, 0x0011 write): enable flag
// and TCP port of SSH, Telnet, HTTP and HTTPS, kept per device.
#include "devsim/simdevice.h"
#include "pages/portrecord.h"

#include <QStringList>

namespace {

class PortSettingsService : public DevService
{
public:
    explicit PortSettingsService(SimDevice& device) : device_(device) {}

    void start() override
    {
        // Factory settings: SSH on, Telnet off, HTTP and HTTPS on.
        entries_ = {{{true, 22}, {false, 23}, {true, 80}, {true, 443}}};
        const QString initial = device_.textOption(QStringLiteral("ports"));
        if (!initial.isEmpty() && !parseEntries(initial, entries_))
            device_.log(QStringLiteral("   ignoring bad option ports=%1").arg(initial));
    }

    bool handle(Session& session, int cmd, const QByteArray& payload) override
    {
        switch (cmd) {
        case 0x0010: {
            QByteArray record = PortRecord::encode(entries_);
            const int size = device_.intOption(QStringLiteral("ports-read-size"), -1);
            if (size >= 0)
                record = record.leftJustified(size, '\0', true);
            session.reply(0x0010, record);
            return true;
        }
        case 0x0011:
            write(session, payload);
            return true;
        default:
            return false;
        }
    }

private:
    void write(Session& session, const QByteArray& payload)
    {
        PortRecord::Entries entries = entries_;
        bool ok = PortRecord::decode(reinterpret_cast<const quint8*>(payload.constData()),
                                     payload.size(), entries);
        for (const PortRecord::Entry& e : entries)
            ok = ok && PortRecord::isValidPort(e.port);
        if (device_.intOption(QStringLiteral("ports-write-result"), 1) == 0)
            ok = false;
        if (ok) {
            entries_ = entries;
            device_.log(QStringLiteral("   ports set to %1").arg(describe(entries_)));
        } else {
            device_.log(QStringLiteral("   port write refused"));
        }
        if (device_.boolOption(QStringLiteral("ports-write-silent")))
            return;
        if (device_.boolOption(QStringLiteral("ports-write-empty"))) {
            session.reply(0x0011);
            return;
        }
        session.reply(0x0011, QByteArray(1, ok ? 1 : 0));
    }

    // "1:22,0:23,1:80,1:443"
    static bool parseEntries(const QString& text, PortRecord::Entries& out)
    {
        const QStringList parts = text.split(QLatin1Char(','));
        if (parts.size() != PortRecord::kEntries)
            return false;
        PortRecord::Entries entries;
        for (int k = 0; k < PortRecord::kEntries; ++k) {
            const QStringList pair = parts.at(k).split(QLatin1Char(':'));
            bool flagOk = false;
            bool portOk = false;
            const uint flag = pair.value(0).toUInt(&flagOk);
            const uint port = pair.value(1).toUInt(&portOk);
            if (pair.size() != 2 || !flagOk || !portOk || port > 65535)
                return false;
            entries[static_cast<std::size_t>(k)] = {flag != 0, static_cast<quint16>(port)};
        }
        out = entries;
        return true;
    }

    static QString describe(const PortRecord::Entries& entries)
    {
        static const char* const names[] = {"ssh", "telnet", "http", "https"};
        QStringList parts;
        for (int k = 0; k < PortRecord::kEntries; ++k) {
            const PortRecord::Entry& e = entries[static_cast<std::size_t>(k)];
            parts << QStringLiteral("%1=%2%3")
                         .arg(QLatin1String(names[k]))
                         .arg(e.port)
                         .arg(e.enabled ? QString() : QStringLiteral("(off)"));
        }
        return parts.join(QLatin1Char(' '));
    }

    SimDevice& device_;
    PortRecord::Entries entries_;
};

const ServiceRegistrar registrar(ServiceInfo{
    "settings",
    {{"ports", "F:P,F:P,F:P,F:P: initial flag:port of SSH, Telnet, HTTP, HTTPS "
               "(default 1:22,0:23,1:80,1:443)"},
     {"ports-read-size", "N: answer 0x0010 with N bytes instead of 12"},
     {"ports-write-result", "0: refuse every 0x0011 write (result 0)"},
     {"ports-write-empty", "1: answer 0x0011 without a result byte"},
     {"ports-write-silent", "1: never answer 0x0011"}},
    [](SimDevice& device) { return std::make_unique<PortSettingsService>(device); }});

} // namespace
