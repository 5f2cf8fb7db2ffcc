// fieldmate-cli version / program: a batch over the devices given, run by
// the same BatchRunner as the batch dialog.
#include "cli/cliutil.h"

#include "common/addresspatterns.h"
#include "programming/batchprogrammingthread.h"
#include "programming/batchrunner.h"
#include "programming/devicelist.h"
#include "programming/firmwarepackage.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace Cli {
namespace {

// Progress on standard error: a line per device event, or one live bar
// when standard error is a terminal.
class Progress : public QObject
{
public:
    Progress(BatchRunner& runner, bool programming)
        : runner_(runner), programming_(programming), bar_(stderrIsTerminal())
    {
        connect(&runner, &BatchRunner::deviceStarted, this, [this](const QString& ip) {
            if (!bar_)
                err(QStringLiteral("%1: started").arg(ip));
            draw();
        });
        connect(&runner, &BatchRunner::deviceProgress, this,
                [this](const QString&, qint64, qint64) { draw(); });
        connect(&runner, &BatchRunner::deviceFinished, this, [this](const QString& ip) {
            ++done_;
            const BatchRunner::Result r = runner_.result(ip);
            if (!bar_) {
                QString line = QStringLiteral("%1: %2").arg(ip, BatchRunner::statusText(r.status));
                if (r.reason != BatchRunner::Reason::None)
                    line += QStringLiteral(" (%1)").arg(BatchRunner::reasonText(r.reason));
                if (!r.version.isEmpty())
                    line += QStringLiteral(", version %1").arg(r.version);
                err(QStringLiteral("[%1/%2] ").arg(done_).arg(runner_.devices().size()) + line);
            }
            draw(true);
        });
        clock_.start();
    }
    ~Progress() override
    {
        if (bar_ && drawn_)
            std::fputs("\n", stderr);
    }

private:
    void draw(bool force = false)
    {
        if (!bar_ || (!force && drawn_ && clock_.elapsed() < 100))
            return;
        clock_.restart();
        drawn_ = true;
        qint64 done = 0;
        qint64 total = 0;
        int failed = 0;
        for (const BatchRunner::Result& r : runner_.results()) {
            done += r.bytesDone;
            total += r.bytesTotal;
            failed += r.status == BatchProgrammingThread::Failed ||
                      r.status == BatchProgrammingThread::Stopped;
        }
        const int devices = runner_.devices().size();
        const double part = programming_ ? (total > 0 ? double(done) / double(total) : 0.0)
                                         : (devices > 0 ? double(done_) / devices : 0.0);
        const int width = 30;
        const int filled = qBound(0, int(part * width + 0.5), width);
        std::fprintf(stderr, "\r[%s%s] %3d%%  %d/%d devices, %d failed ",
                     QByteArray(filled, '#').constData(), QByteArray(width - filled, '-').constData(),
                     int(part * 100), done_, devices, failed);
        std::fflush(stderr);
    }

    BatchRunner& runner_;
    bool programming_;
    bool bar_;
    bool drawn_ = false;
    int done_ = 0;
    QElapsedTimer clock_;
};

// The first Ctrl-C stops the batch (no new device starts, devices under
// way end as failed); the second one ends the program at once.
int signalPipe[2] = {-1, -1};
void onSignal(int)
{
    const char c = 1;
    if (write(signalPipe[1], &c, 1) < 0) {
    }
}

void printResults(const BatchRunner& runner, bool json, bool programming)
{
    for (const BatchRunner::Result& r : runner.results()) {
        if (json) {
            QJsonObject object{{"ip", r.ip}, {"status", BatchRunner::statusKey(r.status)}};
            if (r.reason != BatchRunner::Reason::None) {
                object.insert(QStringLiteral("reason"), BatchRunner::reasonKey(r.reason));
                object.insert(QStringLiteral("reasonText"), BatchRunner::reasonText(r.reason));
            }
            object.insert(QStringLiteral("version"), r.version);
            if (programming) {
                object.insert(QStringLiteral("bytesSent"), double(r.bytesDone));
                object.insert(QStringLiteral("bytesTotal"), double(r.bytesTotal));
            }
            out(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
            continue;
        }
        QStringList fields{r.ip, BatchRunner::statusText(r.status)};
        if (r.reason != BatchRunner::Reason::None)
            fields << BatchRunner::reasonText(r.reason);
        else if (!r.version.isEmpty())
            fields << r.version;
        out(fields.join(QLatin1Char('\t')));
    }
}

// Runs the batch to its end; the exit status by its results.
int runBatch(BatchRunner& runner, const QStringList& devices, const BatchRunner::Task& task,
             bool json, QFile* report)
{
    Progress progress(runner, task.programming);
    QObject::connect(&runner, &BatchRunner::finished, qApp, &QCoreApplication::quit);

    if (pipe(signalPipe) == 0) {
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    int interrupts = 0;
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &runner, [&] {
        char c;
        if (read(signalPipe[0], &c, 1) <= 0)
            return;
        if (++interrupts > 1)
            std::_Exit(Failed);
        err(QStringLiteral("stopping: no further device starts (Ctrl-C again to quit at once)"));
        runner.stop();
    });

    const QDateTime started = QDateTime::currentDateTime();
    if (!runner.start(devices, task))
        return Usage;
    QCoreApplication::exec();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);

    printResults(runner, json, task.programming);
    if (report) {
        BatchRunner::writeReport(report, runner.results(), started);
        report->close();
    }
    return runner.failedCount() == 0 ? Ok : Failed;
}

} // namespace

int runVersion(const QStringList& arguments)
{
    Args args("version");
    const QCommandLineOption typeOpt("type", "Programming type: app, firmware, patch or root (default app).",
                                     "T", "app");
    const QCommandLineOption jobsOpt("jobs", "Devices served at once, 1 to 64 (default: the number of cores).",
                                     "N");
    const QCommandLineOption portOpt("port", "TCP port of the devices (default 8712).", "PORT",
                                     "8712");
    const QCommandLineOption jsonOpt("json", "One JSON object per device.");
    args.parser.addOptions({typeOpt, jobsOpt, portOpt, jsonOpt});
    args.parser.addPositionalArgument("IP", "Device addresses.", "IP...");
    if (!args.parse(arguments))
        return args.helpShown() ? Ok : args.usage();

    BatchRunner::Task task;
    task.type = args.type(args.parser.value(typeOpt));
    const int jobs = args.parser.isSet(jobsOpt) ? args.jobs(args.parser.value(jobsOpt)) : 0;
    const quint16 port = args.port(args.parser.value(portOpt));
    const QStringList devices = args.parser.positionalArguments();
    for (const QString& ip : devices)
        args.address(ip, "IP");
    if (devices.isEmpty())
        args.fail(QStringLiteral("no device address given"));
    if (args.bad())
        return args.usage();

    BatchRunner runner(jobs);
    runner.setPortResolver([port](const QString&) { return port; });
    return runBatch(runner, devices, task, args.parser.isSet(jsonOpt), nullptr);
}

int runProgram(const QStringList& arguments)
{
    Args args("program");
    const QCommandLineOption fileOpt("file", "Program image or firmware package to send.", "FILE");
    const QCommandLineOption typeOpt("type", "Programming type: app, firmware, patch or root (default app).",
                                     "T", "app");
    const QCommandLineOption jobsOpt("jobs", "Devices programmed at once, 1 to 64 (default: the number of cores).",
                                     "N");
    const QCommandLineOption listOpt("list", "Device list (.txt, .csv or .xlsx), one address per line.",
                                     "LISTFILE");
    const QCommandLineOption reportOpt("report", "Write the batch report to this file.", "FILE");
    const QCommandLineOption portOpt("port", "TCP port of the devices (default 8712).", "PORT",
                                     "8712");
    const QCommandLineOption jsonOpt("json", "One JSON object per device.");
    args.parser.addOptions({fileOpt, typeOpt, jobsOpt, listOpt, reportOpt, portOpt, jsonOpt});
    args.parser.addPositionalArgument("IP", "Device addresses (besides those of --list).", "[IP...]");
    if (!args.parse(arguments))
        return args.helpShown() ? Ok : args.usage();

    BatchRunner::Task task;
    task.programming = true;
    task.type = args.type(args.parser.value(typeOpt));
    const int jobs = args.parser.isSet(jobsOpt) ? args.jobs(args.parser.value(jobsOpt)) : 0;
    const quint16 port = args.port(args.parser.value(portOpt));
    const QString file = args.required(fileOpt);
    QStringList devices;
    for (const QString& ip : args.parser.positionalArguments())
        devices << args.address(ip, "IP");
    if (args.bad())
        return args.usage();

    if (args.parser.isSet(listOpt)) {
        const QString list = args.parser.value(listOpt);
        if (DeviceList::isWorkbookName(list)) {
            const DeviceList::SheetColumn column = DeviceList::readWorkbook(list);
            if (!column.ok) {
                args.fail(QStringLiteral("cannot read the device list %1: %2").arg(list, column.error));
                return args.usage();
            }
            for (const QString& cell : column.cells) {
                if (isIpv4Address(cell))
                    devices << cell;
            }
        } else {
            QFile in(list);
            if (!in.open(QIODevice::ReadOnly)) {
                args.fail(QStringLiteral("cannot read the device list %1: %2").arg(list, in.errorString()));
                return args.usage();
            }
            devices << DeviceList::parseText(in.readAll());
        }
    }
    if (devices.isEmpty()) {
        args.fail(QStringLiteral("no device given (IP arguments or --list)"));
        return args.usage();
    }

    if (!QFile::exists(file)) {
        args.fail(QStringLiteral("--file %1 does not exist").arg(file));
        return args.usage();
    }
    // A package is unpacked into a folder of this run's own (the program's
    // folder is not writable once installed).
    QTemporaryDir unpacked;
    FirmwarePackage::setBaseDir(unpacked.path());
    switch (FirmwarePackage::prepareRunImage(file, &task.image, &task.ownsImage)) {
    case FirmwarePackage::Result::Unpacked:
    case FirmwarePackage::Result::NotPackage:
        break;
    case FirmwarePackage::Result::Damaged:
        args.fail(QStringLiteral("--file %1 is a damaged firmware package").arg(file));
        return args.usage();
    case FirmwarePackage::Result::Empty:
        args.fail(QStringLiteral("--file %1 is a firmware package without an image").arg(file));
        return args.usage();
    case FirmwarePackage::Result::WriteFailed:
        args.fail(QStringLiteral("--file %1: the image cannot be unpacked").arg(file));
        return args.usage();
    }
    QFile readable(task.image);
    if (!readable.open(QIODevice::ReadOnly)) {
        args.fail(QStringLiteral("--file %1 cannot be read: %2").arg(file, readable.errorString()));
        return args.usage();
    }
    readable.close();

    QFile report(args.parser.value(reportOpt));
    if (args.parser.isSet(reportOpt) && !report.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        args.fail(QStringLiteral("cannot write the report %1: %2").arg(report.fileName(), report.errorString()));
        return args.usage();
    }

    BatchRunner runner(jobs);
    runner.setPortResolver([port](const QString&) { return port; });
    return runBatch(runner, devices, task, args.parser.isSet(jsonOpt),
                    report.isOpen() ? &report : nullptr);
}

} // namespace Cli
