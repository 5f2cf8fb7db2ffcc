// fieldmate-cli end to end against devsim on loopback (as root also in a network namespace):
// images byte for byte, output lines and the report as whole texts.
#include "netnslab.h"
#include "progtestutil.h"
#include "testutil.h"

#include <QtTest>

using namespace ProgTest;

struct CliRun { int exitCode = -1; QString out; QStringList err; }; // err: its lines

static CliRun runCli(const QStringList& args)
{
    QProcess process;
    process.start(QStringLiteral(CLI_PATH), args);
    const bool ended = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts)};
}

class TestCli : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void usageErrors_data();
    void usageErrors();
    void batches();
    void discoverAndLinkRequests();
};

void TestCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    const QString file = QFINDTESTDATA("tst_cli.cpp"); // any existing file
    const QList<QPair<QStringList, QString>> rows = {
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"version", "--bogus", "127.0.0.2"}, "Unknown option 'bogus'"},
        {{"program", "127.0.0.2"}, "--file is missing"},
        {{"program", "--file", "/nonexistent/x.bin", "127.0.0.2"}, "does not exist"},
        {{"program", "--file", file}, "no device given"},
        {{"program", "--file", file, "--jobs", "65", "127.0.0.2"}, "--jobs must be a number from 1 to 64"},
        {{"version", "127.0.0.256"}, "not an IPv4 address"},
        {{"version", "--type", "kernel", "127.0.0.2"}, "--type must be"},
        {{"program", "--file", file, "--list", "/nonexistent/l.txt"}, "cannot read the device list"},
        {{"program", "--file", file, "--report", "/nonexistent/r.txt", "127.0.0.2"}, "cannot write the report"},
        {{"discover"}, "--interface is missing"},
        {{"reboot", "--interface", "lo", "--mac", "00:11:22"}, "--mac is not a hardware address"},
        {{"set-ip", "--interface", "lo", "--mac", "00:11:22:33:44:55", "--ip", "10.0.0.2", "--gateway", "10.0.0"},
         "--gateway is not an IPv4 address"},
        {{"backup", "--type", "app", "127.0.0.2"}, "--out is missing"},
    };
    for (const auto& row : rows)
        QTest::newRow(qPrintable(row.second)) << row.first << row.second;
}

// A wrong command line ends with status 2, one line naming the fault, and
// nothing on standard output; --help of every command answers with 0.
void TestCli::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const CliRun run = runCli(args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.size() == 1 && run.err.first().contains(message) && run.out.isEmpty(), qPrintable(run.err.join('|')));
    const CliRun help = runCli({args.first(), "--help"});
    if (args.first() != "frobnicate")
        QVERIFY(help.exitCode == 0 && help.out.startsWith("Usage: fieldmate-cli " + args.first() + " "));
}

// One devsim on two threads: versions, a backup, and a programming list with a refused start, a
// refused chunk, a legacy device and an address nobody answers; status 1 when one failed.
void TestCli::batches()
{
    TempWorkDir work;
    DevsimProcess devsim;
    QVERIFY(devsim.start({"--range", "127.0.0.2-6", "--threads", "2", "--set", "prog-dir=" + work.file("store"),
                          "--set", "prog-install-ms=10", "--set", "127.0.0.3/prog-refuse-start=1", "--set",
                          "127.0.0.5/prog-refuse-chunk=2", "--set", "127.0.0.6/prog-legacy=1", "--set",
                          "127.0.0.4/version=v1.4.0 build7", "--set", "127.0.0.3/version-1=v2.0.1 fw", "--set",
                          "backup-size=5000", "--set", "backup-piece=700"}));
    const QString port = QString::number(devsim.port());
    CliRun run = runCli({"version", "--type", "firmware", "--port", port, "--json", "127.0.0.4", "127.0.0.3", "127.0.0.9"});
    QCOMPARE(run.out + QString::number(run.exitCode), QString(R"({"ip":"127.0.0.4","status":"succeeded","version":"v1.4.0"}
{"ip":"127.0.0.3","status":"succeeded","version":"v2.0.1"}
{"ip":"127.0.0.9","reason":"cannot-connect","reasonText":"Cannot connect","status":"failed","version":""}
1)"));
    run = runCli({"version", "--port", port, "127.0.0.4"});
    QCOMPARE(run.out + QString::number(run.exitCode), QString("127.0.0.4\tSucceeded\tv1.4.0\n0"));

    run = runCli({"backup", "--type", "patch", "--out", work.file("backup.bin"), "--port", port, "127.0.0.2"});
    QByteArray backup(5000, 0); // the device's pattern
    for (int i = 0; i < 5000; ++i)
        backup[i] = char((i * 7 + 3) & 0xFF);
    QVERIFY(run.exitCode == 0 && readFile(work.file("backup.bin")) == backup);
    QTRY_VERIFY(devsim.log().contains("backup: type 2, 5000 bytes"));
    run = runCli({"backup", "--type", "app", "--out", work.file("none.bin"), "--port", port, "127.0.0.9"});
    QVERIFY(run.exitCode == 1 && !QFile::exists(work.file("none.bin")));

    const QByteArray image = pattern(5000, 3);
    QVERIFY(writeFile(work.file("fw.pkg"), package(1, image)));
    QVERIFY(writeFile(work.file("list.csv"), "127.0.0.2,\r\n127.0.0.3\r\nname\r\n127.0.0.250\r\n127.0.0.5\r\n"));
    run = runCli({"program", "--file", work.file("fw.pkg"), "--type", "firmware", "--jobs", "2", "--list",
                  work.file("list.csv"), "--report", work.file("report.txt"), "--json", "--port", port, "127.0.0.6",
                  "127.0.0.2"});
    QCOMPARE(run.out + QString::number(run.exitCode), QString(R"({"bytesSent":5000,"bytesTotal":5000,"ip":"127.0.0.6","status":"succeeded","version":"v1.2.2"}
{"bytesSent":5000,"bytesTotal":5000,"ip":"127.0.0.2","status":"succeeded","version":"v1.3.0"}
{"bytesSent":0,"bytesTotal":0,"ip":"127.0.0.3","reason":"start-refused","reasonText":"Start refused","status":"failed","version":""}
{"bytesSent":0,"bytesTotal":0,"ip":"127.0.0.250","reason":"cannot-connect","reasonText":"Cannot connect","status":"failed","version":""}
{"bytesSent":1024,"bytesTotal":5000,"ip":"127.0.0.5","reason":"data-refused","reasonText":"Data refused","status":"failed","version":""}
1)"));
    for (const QString ip : {"127.0.0.2", "127.0.0.3", "127.0.0.250", "127.0.0.5", "127.0.0.6"})
        QCOMPARE(readFile(work.file("store/image-" + ip + ".bin")), ip.endsWith(".2") || ip.endsWith(".6") ? image : "");
    QTRY_VERIFY(devsim.log().contains("programming: type 1, 5000 bytes, legacy mode"));
    QCOMPARE(run.err.filter(": started").size(), 5); // a line per device event on standard error
    const QByteArray report = readFile(work.file("report.txt"));
    QCOMPARE(report.mid(report.indexOf("\n\n") + 2), "IP\t\t\t\t\tResult\n" + QByteArray(48, '=') +
             "\n127.0.0.6\t\tSucceeded\n127.0.0.2\t\tSucceeded\n127.0.0.3\t\tFailed\tStart refused\n"
             "127.0.0.250\t\tFailed\tCannot connect\n127.0.0.5\t\tFailed\tData refused\n");
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
    QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    lines.sort();
    QCOMPARE(lines.join('\n'), QString(R"({"found":["link"],"host":"192.168.200.5","interface":"eth0","interfaces":[{"ip":"192.168.200.5","mac":"02:4D:46:A8:C8:05","name":"eth0","netmask":"255.255.255.0"}],"mac":"02:4D:46:A8:C8:05","product":"RTU-7"}
{"found":["udp","link"],"host":"10.77.0.10","interface":"eth0","interfaces":[{"ip":"10.77.0.10","mac":"02:4D:46:4D:00:0A","name":"eth0","netmask":"255.255.255.0"}],"mac":"02:4D:46:4D:00:0A","product":"RTU-7"})"));

    run = runCli({"set-ip", "--interface", lab.hostIf, "--mac", "02:4d:46:a8:c8:05", "--ip", "10.77.0.60",
                  "--netmask", "255.255.255.0"});
    QCOMPARE(run.out, QString("Operation succeed!\n"));
    QVERIFY(lab.deviceAddresses().contains("10.77.0.60/24"));
    QTRY_VERIFY(devsim.log().contains("link: set IP of eth0 to 10.77.0.60 netmask 255.255.255.0"));

    run = runCli({"discover", "--interface", lab.hostIf, "--timeout", "1.5"});
    QVERIFY2(run.exitCode == 0 && run.out.contains("10.77.0.60\tRTU-7\t02:4D:46:A8:C8:05\teth0\tudp+link\n"),
             qPrintable(run.out));

    run = runCli({"reboot", "--interface", lab.hostIf, "--mac", "02:4D:46:4D:00:0A"});
    QCOMPARE(run.out + QString::number(run.exitCode), QString("Operation succeed!\n0"));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
