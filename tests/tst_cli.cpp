// fieldmate-cli end to end: the real executable against devsim on loopback
// (and, as root, in a network namespace for the search and the link-frame
// requests). Every received image is compared byte for byte.
#include "netnslab.h"
#include "progtestutil.h"
#include "testutil.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace ProgTest;

namespace {

struct CliRun
{
    int exitCode = -1;
    QString out;
    QStringList err; // lines
};

CliRun runCli(const QStringList& args, int timeoutMs = 60000)
{
    QProcess process;
    process.start(QStringLiteral(CLI_PATH), args);
    CliRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    return run;
}

// The JSON lines of standard output, by their "ip" (or "host").
QMap<QString, QJsonObject> jsonLines(const QString& out)
{
    QMap<QString, QJsonObject> map;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        map.insert(o.contains("ip") ? o.value("ip").toString() : o.value("host").toString(), o);
    }
    return map;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void usageErrors_data();
    void usageErrors();
    void versionAndBackup();
    void programList();
    void discoverAndLinkRequests();
};

void TestCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    const QString image = QFINDTESTDATA("tst_cli.cpp"); // any existing file
    QTest::newRow("unknown command") << QStringList{"frobnicate"} << "unknown command 'frobnicate'";
    QTest::newRow("unknown option") << QStringList{"version", "--bogus", "127.0.0.2"} << "Unknown option 'bogus'";
    QTest::newRow("no file") << QStringList{"program", "127.0.0.2"} << "--file is missing";
    QTest::newRow("missing file") << QStringList{"program", "--file", "/nonexistent/x.bin", "127.0.0.2"}
                                  << "does not exist";
    QTest::newRow("no devices") << QStringList{"program", "--file", image} << "no device given";
    QTest::newRow("jobs 0") << QStringList{"program", "--file", image, "--jobs", "0", "127.0.0.2"}
                            << "--jobs must be a number from 1 to 64";
    QTest::newRow("jobs 65") << QStringList{"version", "--jobs", "65", "127.0.0.2"}
                             << "--jobs must be a number from 1 to 64";
    QTest::newRow("bad address") << QStringList{"version", "127.0.0.256"} << "not an IPv4 address";
    QTest::newRow("bad type") << QStringList{"version", "--type", "kernel", "127.0.0.2"} << "--type must be";
    QTest::newRow("no list") << QStringList{"program", "--file", image, "--list", "/nonexistent/l.txt"}
                             << "cannot read the device list";
    QTest::newRow("report") << QStringList{"program", "--file", image, "--report", "/nonexistent/r.txt",
                                           "127.0.0.2"}
                            << "cannot write the report";
    QTest::newRow("no interface") << QStringList{"discover"} << "--interface is missing";
    QTest::newRow("bad mac") << QStringList{"reboot", "--interface", "lo", "--mac", "00:11:22"}
                             << "--mac is not a hardware address";
    QTest::newRow("set-ip gateway") << QStringList{"set-ip", "--interface", "lo", "--mac", "00:11:22:33:44:55",
                                                   "--ip", "10.0.0.2", "--gateway", "10.0.0"}
                                    << "--gateway is not an IPv4 address";
    QTest::newRow("backup out") << QStringList{"backup", "--type", "app", "127.0.0.2"} << "--out is missing";
}

// A wrong command line ends with status 2, one line naming the fault, and
// nothing on standard output; --help of every command answers with 0.
void TestCli::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const CliRun run = runCli(args);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.err.size(), 1);
    QVERIFY2(run.err.first().contains(message), qPrintable(run.err.first()));
    QVERIFY(run.out.isEmpty());

    const CliRun help = runCli({args.first(), "--help"});
    if (args.first() == "frobnicate") {
        QCOMPARE(help.exitCode, 2);
        return;
    }
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.startsWith("Usage: fieldmate-cli " + args.first() + " "));
}

void TestCli::versionAndBackup()
{
    TempWorkDir work;
    DevsimProcess devsim;
    QVERIFY(devsim.start({"--range", "127.0.0.2-3", "--set", "version=v1.4.0 build7", "--set",
                          "127.0.0.3/version-1=v2.0.1 fw", "--set", "backup-size=5000", "--set",
                          "backup-piece=700"}));
    const QString port = QString::number(devsim.port());
    QCOMPARE(devsim.port("127.0.0.3"), devsim.port());

    // The type goes to the device; the version is the token starting with v.
    CliRun run = runCli({"version", "--type", "firmware", "--port", port, "--json", "127.0.0.2",
                         "127.0.0.3", "127.0.0.4"});
    QCOMPARE(run.exitCode, 1);
    auto lines = jsonLines(run.out);
    QCOMPARE(lines.value("127.0.0.2").value("version").toString(), QString("v1.4.0"));
    QCOMPARE(lines.value("127.0.0.3").value("version").toString(), QString("v2.0.1"));
    QCOMPARE(lines.value("127.0.0.4").value("reason").toString(), QString("cannot-connect"));
    run = runCli({"version", "--port", port, "127.0.0.3"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QString("127.0.0.3\tSucceeded\tv1.4.0\n"));

    // The backup is the device's pattern, byte for byte.
    QByteArray expected(5000, '\0');
    for (int i = 0; i < expected.size(); ++i)
        expected[i] = char((i * 7 + 3) & 0xFF);
    const QString file = work.file("backup.bin");
    run = runCli({"backup", "--type", "patch", "--out", file, "--port", port, "127.0.0.2"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(readFile(file), expected);
    QTRY_VERIFY(devsim.log().contains("backup: type 2, 5000 bytes"));
    run = runCli({"backup", "--type", "app", "--out", work.file("none.bin"), "--port", port, "127.0.0.9"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(!QFile::exists(work.file("none.bin")));
}

// A list with a device that refuses the start, one that refuses a chunk and
// an address nobody answers (devsim serving on two threads): the others get the package's bare image byte
// for byte; status 1; the JSON lines and the report name each failed
// device with its reason.
void TestCli::programList()
{
    TempWorkDir work;
    DevsimProcess devsim;
    QVERIFY(devsim.start({"--range", "127.0.0.2-6", "--threads", "2", "--set", "prog-dir=" + work.file("store"), "--set",
                          "prog-install-ms=10", "--set", "127.0.0.3/prog-refuse-start=1", "--set",
                          "127.0.0.5/prog-refuse-chunk=2", "--set", "127.0.0.6/prog-legacy=1"}));
    const QByteArray image = pattern(5000, 3);
    QVERIFY(writeFile(work.file("fw.pkg"), package(1, image)));
    QVERIFY(writeFile(work.file("list.csv"), "127.0.0.2,\r\n127.0.0.3\r\nname\r\n127.0.0.250\r\n"
                                             "127.0.0.5\r\n"));

    const CliRun run = runCli({"program", "--file", work.file("fw.pkg"), "--type", "firmware", "--jobs",
                               "2", "--list", work.file("list.csv"), "--report", work.file("report.txt"),
                               "--json", "--port", QString::number(devsim.port()), "127.0.0.6",
                               "127.0.0.2"});
    QCOMPARE(run.exitCode, 1);
    const auto lines = jsonLines(run.out);
    QCOMPARE(lines.keys(), (QStringList{"127.0.0.2", "127.0.0.250", "127.0.0.3", "127.0.0.5", "127.0.0.6"}));
    const QList<QPair<QString, QString>> failed = {
        {"127.0.0.3", "start-refused"}, {"127.0.0.250", "cannot-connect"}, {"127.0.0.5", "data-refused"}};
    for (const auto& f : failed) {
        QCOMPARE(lines.value(f.first).value("status").toString(), QString("failed"));
        QCOMPARE(lines.value(f.first).value("reason").toString(), f.second);
        QVERIFY(!QFile::exists(work.file("store/image-" + f.first + ".bin")));
    }
    for (const QString ip : {"127.0.0.2", "127.0.0.6"}) {
        QCOMPARE(lines.value(ip).value("status").toString(), QString("succeeded"));
        QCOMPARE(lines.value(ip).value("version").toString(), QString(ip.endsWith('6') ? "v1.2.2" : "v1.3.0"));
        QCOMPARE(readFile(work.file("store/image-" + ip + ".bin")), image);
    }
    QTRY_VERIFY(devsim.log().contains("programming: type 1, 5000 bytes, legacy mode"));
    // A line per device event on standard error.
    QCOMPARE(run.err.filter(": started").size(), 5);

    const QStringList report = QString::fromUtf8(readFile(work.file("report.txt"))).split('\n');
    QCOMPARE(report.mid(2), (QStringList{"IP\t\t\t\t\tResult", QString(48, '='), "127.0.0.6\t\tSucceeded",
                                         "127.0.0.2\t\tSucceeded", "127.0.0.3\t\tFailed\tStart refused",
                                         "127.0.0.250\t\tFailed\tCannot connect",
                                         "127.0.0.5\t\tFailed\tData refused", ""}));
}

// As root: the search on the host end of a veth pair finds a device by UDP
// and link frames (listed once) and one outside the subnet by link frames
// only; set-ip moves that one into the subnet, reboot is answered.
void TestCli::discoverAndLinkRequests()
{
    NetnsLab lab;
    QString why;
    if (!lab.setUp(&why))
        QSKIP(qPrintable("network namespaces not available: " + why));
    NsDevsim devsim;
    QVERIFY(devsim.start(lab, devsimPath(),
                         {"--discovery", lab.deviceIf, "--assign", "--listen", "10.77.0.10", "--listen",
                          "192.168.200.5", "--set", "product=RTU-7"}));

    CliRun run = runCli({"discover", "--interface", lab.hostIf, "--timeout", "2", "--json"});
    QCOMPARE(run.exitCode, 0);
    auto lines = jsonLines(run.out);
    QCOMPARE(lines.keys(), (QStringList{"10.77.0.10", "192.168.200.5"}));
    const QJsonObject fit = lines.value("10.77.0.10");
    QCOMPARE(fit.value("product").toString(), QString("RTU-7"));
    QCOMPARE(fit.value("mac").toString(), QString("02:4D:46:4D:00:0A"));
    QCOMPARE(fit.value("interface").toString(), QString("eth0"));
    QCOMPARE(fit.value("found").toVariant().toStringList(), (QStringList{"udp", "link"}));
    QCOMPARE(lines.value("192.168.200.5").value("found").toVariant().toStringList(), QStringList{"link"});

    run = runCli({"set-ip", "--interface", lab.hostIf, "--mac", "02:4d:46:a8:c8:05", "--ip", "10.77.0.60",
                  "--netmask", "255.255.255.0"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QString("Operation succeed!\n"));
    QVERIFY(lab.deviceAddresses().contains("10.77.0.60/24"));
    QTRY_VERIFY(devsim.log().contains("link: set IP of eth0 to 10.77.0.60 netmask 255.255.255.0"));

    run = runCli({"discover", "--interface", lab.hostIf, "--timeout", "1.5"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains("10.77.0.60\tRTU-7\t02:4D:46:A8:C8:05\teth0\tudp+link\n"), qPrintable(run.out));

    run = runCli({"reboot", "--interface", lab.hostIf, "--mac", "02:4D:46:4D:00:0A"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QString("Operation succeed!\n"));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
