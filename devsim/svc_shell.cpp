// The device shell behind the console page: 0x0012 carries one command
// line, 0x0013 the shell's answer.
#include "devsim/simdevice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

namespace {

class ShellService : public DevService
{
public:
    explicit ShellService(SimDevice& device) : device_(device) { uptime_.start(); }

    bool handle(Session& session, int cmd, const QByteArray& payload) override
    {
        if (cmd != 0x0012)
            return false;
        if (device_.boolOption("shell-silent"))
            return true;
        session.reply(0x0013, run(QString::fromLocal8Bit(payload)).toUtf8());
        return true;
    }

private:
    QString run(const QString& line)
    {
        const QString trimmed = line.trimmed();
        const QString command = trimmed.section(QLatin1Char(' '), 0, 0);
        const QString args = trimmed.section(QLatin1Char(' '), 1).trimmed();
        if (command.isEmpty())
            return QString();
        if (command == QLatin1String("help"))
            return QStringLiteral("commands: help echo date uptime version hostname ifconfig "
                                  "free whoami");
        if (command == QLatin1String("echo"))
            return args;
        if (command == QLatin1String("date"))
            return device_.now().toString(QStringLiteral("ddd MMM d hh:mm:ss yyyy"));
        if (command == QLatin1String("uptime"))
            return QStringLiteral("up %1 s").arg(uptime_.elapsed() / 1000);
        if (command == QLatin1String("version"))
            return device_.textOption(QStringLiteral("version"),
                                      QStringLiteral("v1.3.0 build42"));
        if (command == QLatin1String("hostname"))
            return device_.textOption(QStringLiteral("hostname"), QStringLiteral("fm-device"));
        if (command == QLatin1String("ifconfig"))
            return QStringLiteral("eth0  inet %1  netmask 255.255.255.0")
                .arg(device_.address().toString());
        if (command == QLatin1String("free"))
            return QStringLiteral("Mem: total 65536 kB, free 40960 kB");
        if (command == QLatin1String("whoami"))
            return QStringLiteral("root");
        return QStringLiteral("sh: %1: not found").arg(command);
    }

    SimDevice& device_;
    QElapsedTimer uptime_;
};

const ServiceRegistrar registrar(ServiceInfo{
    "shell",
    {{"shell-silent", "1: never answer console lines"},
     {"hostname", "text: the shell's host name"}},
    [](SimDevice& device) { return std::make_unique<ShellService>(device); }});

} // namespace
