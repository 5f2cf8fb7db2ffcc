// fieldmate-cli backup: a device's program saved into a file.
#include "cli/cliutil.h"

#include "programming/backupclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace Cli {

int runBackup(const QStringList& arguments)
{
    Args args("backup");
    const QCommandLineOption typeOpt("type", "Programming type: app, firmware, patch or root.", "T");
    const QCommandLineOption outOpt("out", "File to save the backup in.", "FILE");
    const QCommandLineOption portOpt("port", "TCP port of the device (default 8712).", "PORT", "8712");
    args.parser.addOptions({typeOpt, outOpt, portOpt});
    args.parser.addPositionalArgument("IP", "Device address.", "IP");
    if (!args.parse(arguments))
        return args.helpShown() ? Ok : args.usage();
    const int type = args.type(args.required(typeOpt));
    const QString path = args.required(outOpt);
    const quint16 port = args.port(args.parser.value(portOpt));
    const QStringList positional = args.parser.positionalArguments();
    if (positional.size() != 1)
        args.fail(QStringLiteral("exactly one device address is needed"));
    else
        args.address(positional.first(), "IP");
    if (args.bad())
        return args.usage();

    BackupClient client;
    bool ok = false;
    const bool bar = stderrIsTerminal();
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&client, &BackupClient::progress, qApp, [&](qint64 done, qint64 total) {
        if (done == 0)
            err(QStringLiteral("%1: backup of %2 bytes").arg(positional.first()).arg(total));
        if (bar && (clock.elapsed() >= 100 || done == total)) {
            clock.restart();
            std::fprintf(stderr, "\r%lld of %lld bytes ", static_cast<long long>(done),
                         static_cast<long long>(total));
            if (done == total)
                std::fputs("\n", stderr);
        }
    });
    QObject::connect(&client, &BackupClient::finished, qApp, [&](bool success, const QString& error) {
        ok = success;
        if (!success)
            err(QStringLiteral("%1: backup failed: %2").arg(positional.first(), error));
        QCoreApplication::quit();
    });
    // The outcome may come before the event loop runs (no connection).
    bool ended = false;
    QObject::connect(&client, &BackupClient::finished, qApp, [&] { ended = true; });
    client.start(positional.first(), port, type, path);
    if (!ended)
        QCoreApplication::exec();
    if (ok)
        out(QStringLiteral("%1\t%2\t%3 bytes").arg(positional.first(), path).arg(client.bytesDone()));
    return ok ? Ok : Failed;
}

} // namespace Cli
