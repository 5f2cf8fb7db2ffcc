// fieldmate-cli: the device search, version read-out, programming, backup,
// IP settings and reboot of Fieldmate from the command line, for scripts.
#include "cli/cliutil.h"

#include "common/addresspatterns.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <cstdio>
#include <unistd.h>

namespace Cli {

const QList<Command>& commands()
{
    static const QList<Command> list = {
        {"discover", "discover --interface IFNAME [--timeout SECONDS] [--json]",
         "Search the devices on a network interface (UDP multicast and link frames).",
         &runDiscover},
        {"version", "version [--type app|firmware|patch|root] [--jobs N] [--json] IP...",
         "Read each device's version text.", &runVersion},
        {"program",
         "program --file FILE [--type T] [--jobs N] [--list LISTFILE] [--report FILE] [--json] "
         "[IP...]",
         "Program every device given and every device of a device list.", &runProgram},
        {"backup", "backup --type T --out FILE IP", "Save a device's program into a file.",
         &runBackup},
        {"set-ip", "set-ip --interface IF --mac MAC --ip A [--netmask M] [--gateway G]",
         "Change the IP settings of a device found by the search.", &runSetIp},
        {"reboot", "reboot --interface IF --mac MAC", "Reboot a device found by the search.",
         &runReboot},
    };
    return list;
}

bool Args::parse(const QStringList& arguments)
{
    const QCommandLineOption help(QStringList{"h", "help"},
                                  QStringLiteral("Show this help and exit."));
    parser.addOption(help);
    if (!parser.parse(QStringList{QStringLiteral("fieldmate-cli")} + arguments)) {
        fail(parser.errorText());
        return false;
    }
    if (parser.isSet(help)) {
        help_ = true;
        const Command* command = nullptr;
        for (const Command& c : commands()) {
            if (qstrcmp(c.name, name_) == 0)
                command = &c;
        }
        // The parser's own help without its usage line, behind ours.
        QString text = parser.helpText();
        text = text.mid(text.indexOf(QLatin1Char('\n')) + 1);
        std::fprintf(stdout, "Usage: fieldmate-cli %s\n%s\n%s", command ? command->synopsis : name_,
                     command ? command->summary : "", qPrintable(text));
        return false;
    }
    return true;
}

void Args::fail(const QString& error)
{
    if (error_.isEmpty())
        error_ = error;
}

int Args::usage() const
{
    err(QStringLiteral("fieldmate-cli %1: %2").arg(QLatin1String(name_), error_));
    return Usage;
}

QString Args::required(const QCommandLineOption& option)
{
    const QString value = parser.value(option);
    if (value.isEmpty())
        fail(QStringLiteral("--%1 is missing").arg(option.names().last()));
    return value;
}

int Args::type(const QString& text)
{
    static const QStringList names = {"app", "firmware", "patch", "root"};
    const int named = names.indexOf(text.toLower());
    if (named >= 0)
        return named;
    bool ok = false;
    const int number = text.toInt(&ok);
    if (ok && number >= 0 && number <= 255)
        return number;
    fail(QStringLiteral("--type must be app, firmware, patch or root, not '%1'").arg(text));
    return 0;
}

int Args::jobs(const QString& text)
{
    bool ok = false;
    const int jobs = text.toInt(&ok);
    if (!ok || jobs < 1 || jobs > 64) {
        fail(QStringLiteral("--jobs must be a number from 1 to 64, not '%1'").arg(text));
        return 1;
    }
    return jobs;
}

quint16 Args::port(const QString& text)
{
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port < 1 || port > 65535) {
        fail(QStringLiteral("--port must be a number from 1 to 65535, not '%1'").arg(text));
        return 0;
    }
    return quint16(port);
}

int Args::milliseconds(const QString& text, const char* option)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !(seconds > 0) || seconds > 3600) {
        fail(QStringLiteral("%1 must be a number of seconds above 0, not '%2'")
                 .arg(QLatin1String(option), text));
        return 1000;
    }
    return int(seconds * 1000);
}

QString Args::address(const QString& text, const char* what)
{
    if (!isIpv4Address(text))
        fail(QStringLiteral("%1 is not an IPv4 address: '%2'").arg(QLatin1String(what), text));
    return text;
}

QString Args::mac(const QString& text)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(macPattern()));
    if (!pattern.match(text).hasMatch())
        fail(QStringLiteral("--mac is not a hardware address like 00:11:22:AA:BB:CC: '%1'").arg(text));
    return text.toUpper();
}

void out(const QString& line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void err(const QString& line)
{
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

bool stderrIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

} // namespace Cli

namespace {

void printUsage(FILE* to)
{
    std::fprintf(to, "Usage: fieldmate-cli COMMAND [options]\n\n"
                     "Finds, reads and programs Fieldmate devices without the window.\n\n"
                     "Commands:\n");
    for (const Cli::Command& command : Cli::commands())
        std::fprintf(to, "  %-9s %s\n", command.name, command.summary);
    std::fprintf(to, "\n'fieldmate-cli COMMAND --help' describes a command.\n"
                     "Exit status: 0 every device succeeded, 1 some device failed, "
                     "2 wrong command line or input.\n");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fieldmate-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FIELDMATE_VERSION));

    QStringList arguments = app.arguments().mid(1);
    if (arguments.isEmpty()) {
        printUsage(stderr);
        return Cli::Usage;
    }
    const QString name = arguments.takeFirst();
    if (name == QLatin1String("--help") || name == QLatin1String("-h") ||
        name == QLatin1String("help")) {
        printUsage(stdout);
        return Cli::Ok;
    }
    if (name == QLatin1String("--version")) {
        std::printf("fieldmate-cli %s\n", FIELDMATE_VERSION);
        return Cli::Ok;
    }
    for (const Cli::Command& command : Cli::commands()) {
        if (name != QLatin1String(command.name))
            continue;
        return command.run(arguments);
    }
    Cli::err(QStringLiteral("fieldmate-cli: unknown command '%1' (see fieldmate-cli --help)").arg(name));
    return Cli::Usage;
}
