// Reboot (0x0002) and the device clock (0x0006 read, 0x0007 set).
#include "devsim/simdevice.h"

#include <QTimer>

namespace {

const char* kDateFormat = "yyyy-MM-dd hh:mm:ss";

class SystemService : public DevService
{
public:
    explicit SystemService(SimDevice& device) : device_(device) {}

    void start() override
    {
        // A device whose clock was never set runs from its own start time.
        const QString clock = device_.textOption(QStringLiteral("clock"));
        if (clock.isEmpty())
            return;
        const QDateTime time = QDateTime::fromString(clock, QLatin1String(kDateFormat));
        if (time.isValid())
            device_.setClock(time);
        else
            device_.log(QStringLiteral("   ignoring bad option clock=%1").arg(clock));
    }

    bool handle(Session& session, int cmd, const QByteArray& payload) override
    {
        switch (cmd) {
        case 0x0002:
            // A reboot ends every connection at once; no reply.
            QTimer::singleShot(0, &device_, [d = &device_] { d->reboot(); });
            return true;
        case 0x0006: {
            QByteArray date = device_.now().toString(QLatin1String(kDateFormat)).toLatin1();
            if (device_.boolOption("date-wrong-size"))
                date.append(' ');
            session.reply(0x0006, date);
            return true;
        }
        case 0x0007: {
            const QDateTime time = QDateTime::fromString(QString::fromLatin1(payload),
                                                         QLatin1String(kDateFormat));
            const bool ok = payload.size() == 19 && time.isValid();
            if (ok) {
                device_.setClock(time);
                device_.log(QStringLiteral("   clock set to %1").arg(QString::fromLatin1(payload)));
            }
            session.reply(0x0007, QByteArray(1, ok ? 1 : 0));
            return true;
        }
        default:
            return false;
        }
    }

private:
    SimDevice& device_;
};

const ServiceRegistrar registrar(ServiceInfo{
    "system",
    {{"date-wrong-size", "1: answer 0x0006 with 20 bytes instead of 19"},
     {"clock", "yyyy-MM-dd hh:mm:ss: the device clock's time at start"}},
    [](SimDevice& device) { return std::make_unique<SystemService>(device); }});

} // namespace
