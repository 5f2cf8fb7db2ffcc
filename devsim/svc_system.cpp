// Reboot (0x0002) and the device clock (0x0006 read, 0x0007 set).
#include "devsim/simdevice.h"

#include <QTimer>

namespace {

const char* kDateFormat = "yyyy-MM-dd hh:mm:ss";

class SystemService : public DevService
{
public:
    explicit SystemService(SimDevice& device) : device_(device) {}

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
    {{"date-wrong-size", "1: answer 0x0006 with 20 bytes instead of 19"}},
    [](SimDevice& device) { return std::make_unique<SystemService>(device); }});

} // namespace
