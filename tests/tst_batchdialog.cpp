// Batches of the dialog against simulated devices, one per loopback address
// (127.0.0.2 and up), each with its own state, version text, faults and
// stored image.
#include "comm/commtcp.h"
#include "programming/batchprogrammingdialog.h"
#include "programming/batchprogrammingthread.h"
#include "programming/firmwarepackage.h"
#include "programming/programmingpage.h"
#include "progtestutil.h"
#include "testutil.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTcpServer>
#include <QTranslator>
#include <QtTest>

using namespace ProgTest;

class TestBatchDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void tenDevicesTwoWorkers();
    void versionOnlyBatch();
    void batchAfterBatch();
    void deletingRunningRows();
    void stopAndRetry();
    void batchAndPageAtOnceWithDifferentPackages();
    void enterAddsDevice();
    void pageOpensDialogModally();

private:
    static QString address(int i) { return QStringLiteral("127.0.0.%1").arg(i); }
    // devsim for 127.0.0.2 .. 127.0.0.(1 + count) with the options (plus a
    // store folder); the dialog finds each device's port through its seam.
    bool startDevices(int count, const QStringList& options = QStringList());
    void makeDialog(int workers);
    QString storedImage(const QString& ip) const
    {
        return work->file(QStringLiteral("store/image-%1.bin").arg(ip));
    }
    bool waitForBatchEnd(int timeoutMs = 60000)
    {
        return waitFor(
            [this] {
                if (dialog->isBatchRunning())
                    return false;
                for (int row = 0; row < dialog->deviceList().size(); ++row) {
                    if (dialog->statusText(row) == QLatin1String("/"))
                        return false;
                }
                return true;
            },
            timeoutMs);
    }

    TempWorkDir* work = nullptr;
    BoxRecorder* boxes = nullptr;
    DevsimProcess* devsim = nullptr;
    BatchProgrammingDialog* dialog = nullptr;
    quint16 closedPort = 0;
};

void TestBatchDialog::init()
{
    work = new TempWorkDir;
    QVERIFY(QDir().mkpath(QStringLiteral("app")));
    FirmwarePackage::setBaseDir(work->file(QStringLiteral("app")));
    boxes = new BoxRecorder;
    devsim = new DevsimProcess;
    // A port on which nothing listens, for addresses without a device.
    closedPort = closedLocalPort();
    QVERIFY(closedPort != 0);
}

void TestBatchDialog::cleanup()
{
    delete dialog;
    dialog = nullptr;
    delete devsim;
    boxes->checkNoneLeft();
    delete boxes;
    FirmwarePackage::setBaseDir(QString());
    delete work;
}

bool TestBatchDialog::startDevices(int count, const QStringList& options)
{
    QStringList args{QStringLiteral("--range"), address(2) + QLatin1Char('-') + address(1 + count)};
    for (const QString& option :
         options + QStringList{QStringLiteral("prog-dir=") + work->file(QStringLiteral("store")),
                               QStringLiteral("prog-install-ms=20")})
        args << QStringLiteral("--set") << option;
    return devsim->start(args);
}

void TestBatchDialog::makeDialog(int workers)
{
    dialog = new BatchProgrammingDialog(nullptr, workers);
    dialog->setPortResolver([this](const QString& ip) {
        const quint16 port = devsim->port(ip);
        return port ? port : closedPort;
    });
}

void TestBatchDialog::tenDevicesTwoWorkers()
{
    QVERIFY(startDevices(10, {address(5) + QStringLiteral("/prog-refuse-start=1")}));
    makeDialog(2);
    for (int i = 2; i <= 11; ++i)
        QVERIFY(dialog->addDevice(address(i)));
    const QByteArray image = pattern(5000, 7);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, image));
    dialog->form()->leFile->setText(path);
    dialog->form()->comboType->setCurrentIndex(1);
    QSignalSpy starts(dialog, &BatchProgrammingDialog::taskStart);
    dialog->form()->btnProgram->click();
    QCOMPARE(starts.count(), 2);
    QVERIFY(!dialog->form()->btnProgram->isEnabled());
    QVERIFY(dialog->form()->btnStop->isEnabled());
    QVERIFY(waitForBatchEnd());
    QVERIFY(dialog->form()->btnProgram->isEnabled());
    QVERIFY(!dialog->form()->btnStop->isEnabled());

    QList<int> order;
    for (const QList<QVariant>& start : starts)
        order << start.at(0).toInt();
    QCOMPARE(order, (QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    for (int row = 0; row < 10; ++row) {
        const QString ip = address(row + 2);
        if (ip == address(5)) {
            QCOMPARE(dialog->statusText(row), QStringLiteral("Failed"));
            QCOMPARE(dialog->statusNumber(row), 3);
            QCOMPARE(dialog->reasonText(row), QStringLiteral("Start refused"));
            QVERIFY(!QFile::exists(storedImage(ip)));
            continue;
        }
        QCOMPARE(dialog->statusText(row), QStringLiteral("Succeeded"));
        QCOMPARE(dialog->statusNumber(row), 2);
        QVERIFY(dialog->reasonText(row).isEmpty());
        QVERIFY2(readFile(storedImage(ip)) == image, qPrintable(ip));
        QCOMPARE(dialog->progressBar(row)->maximum(), 5000);
        QCOMPARE(dialog->progressBar(row)->value(), 5000);
        // Read back after programming, beside the status.
        QCOMPARE(dialog->versionText(row), QStringLiteral("v1.3.0"));
    }
    // Each device got its own transfer of the chosen type.
    QVERIFY(devsim->log().contains(QStringLiteral("programming: type 1, 5000 bytes")));
}

void TestBatchDialog::versionOnlyBatch()
{
    QVERIFY(startDevices(10, {address(3) + QStringLiteral("/version=v2.1.0 special"),
                              address(4) + QStringLiteral("/version-2=v0.9.1 patch"),
                              address(6) + QStringLiteral("/version=no token here")}));
    makeDialog(2);
    for (int i = 2; i <= 11; ++i)
        dialog->addDevice(address(i));
    dialog->form()->comboType->setCurrentIndex(2);
    dialog->form()->btnRefresh->click();
    QVERIFY(waitForBatchEnd());
    for (int row = 0; row < 10; ++row) {
        QCOMPARE(dialog->statusText(row), QStringLiteral("Succeeded"));
        const QString ip = address(row + 2);
        const QString expected = ip == address(3)   ? QStringLiteral("v2.1.0")
                                 : ip == address(4) ? QStringLiteral("v0.9.1")
                                 : ip == address(6) ? QStringLiteral("no token here")
                                                    : QStringLiteral("v1.3.0");
        QCOMPARE(dialog->versionText(row), expected);
    }
}

// A batch after a batch: every row starts afresh, and the report tells
// what this batch did, nothing older.
void TestBatchDialog::batchAfterBatch()
{
    QVERIFY(startDevices(2, {address(3) + QStringLiteral("/prog-no-finish=1")}));
    makeDialog(2);
    dialog->addDevice(address(2));
    dialog->addDevice(address(3));
    for (BatchProgrammingThread* worker : dialog->workerList())
        worker->setFinishTimeout(2500);
    dialog->form()->btnRefresh->click();
    QVERIFY(waitForBatchEnd());
    QCOMPARE(dialog->statusText(1), QStringLiteral("Succeeded"));

    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(3000, 1)));
    dialog->form()->leFile->setText(path);
    dialog->form()->btnProgram->click();
    // The second device has all its data and waits for its end: the table
    // says "/", the report "In Progress", the version is gone.
    QVERIFY(waitFor([this] { return dialog->statusText(0) == QLatin1String("Succeeded") &&
                                    dialog->progressBar(1)->value() == 3000; }));
    QCOMPARE(dialog->statusText(1), QStringLiteral("/"));
    QVERIFY(dialog->versionText(1).isEmpty());
    const QString report = work->file(QStringLiteral("report.txt"));
    dialog->exportReport(report);
    QVERIFY(readFile(report).endsWith(
        QString(address(2) + "\t\tSucceeded\n" + address(3) + "\t\tIn Progress\n").toUtf8()));
    QVERIFY(waitForBatchEnd());
    QCOMPARE(dialog->statusText(1), QStringLiteral("Failed"));
    QCOMPARE(dialog->reasonText(1), QStringLiteral("Timeout"));

    // A version batch after it: no bar, reason or status of the programming
    // batch stays.
    dialog->form()->btnRefresh->click();
    QCOMPARE(dialog->progressBar(1)->value(), -1);
    QVERIFY(dialog->reasonText(1).isEmpty());
    QVERIFY(waitForBatchEnd());
    QCOMPARE(dialog->statusText(1), QStringLiteral("Succeeded"));
    QCOMPARE(dialog->progressBar(0)->value(), -1);
    dialog->exportReport(report);
    QVERIFY(readFile(report).endsWith(
        QString(address(2) + "\t\tSucceeded\n" + address(3) + "\t\tSucceeded\n").toUtf8()));
}

// Deleting the rows of the devices in progress: every remaining device is
// served all the same, and the batch ends.
void TestBatchDialog::deletingRunningRows()
{
    QVERIFY(startDevices(6, {QStringLiteral("prog-ack-delay-ms=5")}));
    makeDialog(2);
    for (int i = 2; i <= 7; ++i)
        dialog->addDevice(address(i));
    const QByteArray image = pattern(100 * 1024, 3);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, image));
    dialog->form()->leFile->setText(path);
    QSignalSpy starts(dialog, &BatchProgrammingDialog::taskStart);
    dialog->form()->btnProgram->click();
    QVERIFY(waitFor([this] { return dialog->progressBar(0)->value() > 0 &&
                                    dialog->progressBar(1)->value() > 0; }, 10000));
    QCOMPARE(dialog->statusText(0), QStringLiteral("/"));
    dialog->deleteRow(0);
    dialog->deleteRow(0);
    QCOMPARE(dialog->deviceList().size(), 4);
    QVERIFY(waitForBatchEnd(120000));
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(dialog->statusText(row), QStringLiteral("Succeeded"));
        QCOMPARE(readFile(storedImage(dialog->deviceList().at(row))), image);
    }
    QCOMPARE(starts.count(), 6);
}

// Stop ends the tasks under way and starts no other; "Retry Failed" runs
// the same task again, with the same image, for exactly the failed rows.
void TestBatchDialog::stopAndRetry()
{
    QVERIFY(startDevices(4, {QStringLiteral("prog-ack-delay-ms=5")}));
    makeDialog(2);
    bool reachable = false;
    dialog->setPortResolver([this, &reachable](const QString& ip) {
        const quint16 port = devsim->port(ip);
        return ip == address(5) && !reachable ? closedPort : port;
    });
    for (int i = 2; i <= 5; ++i)
        dialog->addDevice(address(i));
    const QByteArray image = pattern(100 * 1024, 6);
    const QString path = work->file(QStringLiteral("package.bin"));
    QVERIFY(writeFile(path, package(1, image)));
    dialog->form()->leFile->setText(path);
    dialog->form()->btnProgram->click();
    QVERIFY(waitFor([this] { return dialog->progressBar(0)->value() > 0; }, 10000));
    dialog->form()->btnStop->click();
    QVERIFY(waitForBatchEnd());
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(dialog->statusText(row), QStringLiteral("Stopped"));
        QCOMPARE(dialog->reasonText(row), QStringLiteral("Stopped by the operator"));
    }
    const QString report = work->file(QStringLiteral("report.txt"));
    dialog->exportReport(report);
    QVERIFY(readFile(report).contains(
        QString(address(2) + "\t\tStopped\tStopped by the operator\n").toUtf8()));
    QVERIFY(!QFile::exists(storedImage(address(2))));

    dialog->form()->btnProgram->click();
    QVERIFY(waitForBatchEnd());
    QCOMPARE(dialog->statusText(3), QStringLiteral("Failed"));
    QCOMPARE(dialog->reasonText(3), QStringLiteral("Cannot connect"));
    // The report in the other language, reasons included.
    QTranslator chinese;
    QVERIFY(chinese.load(QStringLiteral(FM_QM_PATH)));
    QCoreApplication::installTranslator(&chinese);
    dialog->exportReport(report);
    QCoreApplication::removeTranslator(&chinese);
    const QString line = address(5) + "\t\t" +
                         chinese.translate("BatchProgrammingDialog", "Failed") + "\t" +
                         chinese.translate("BatchProgrammingDialog", "Cannot connect") + "\n";
    QVERIFY(line.contains(QChar(0x5931))); // 失
    QVERIFY2(readFile(report).endsWith(line.toUtf8()), readFile(report).constData());

    // The package changes on disk; the retry sends what the batch sent.
    QVERIFY(writeFile(path, package(1, pattern(500, 9))));
    reachable = true;
    QSignalSpy starts(dialog, &BatchProgrammingDialog::taskStart);
    dialog->form()->btnRetry->click();
    QCOMPARE(starts.count(), 1);
    QVERIFY(waitForBatchEnd());
    QCOMPARE(dialog->statusText(3), QStringLiteral("Succeeded"));
    for (int i = 2; i <= 5; ++i)
        QCOMPARE(readFile(storedImage(address(i))), image);
    QCOMPARE(starts.count(), 1);
}

// A package batch runs while the page programs another package into another
// device: each device gets the image its run was started with.
void TestBatchDialog::batchAndPageAtOnceWithDifferentPackages()
{
    QVERIFY(startDevices(5, {QStringLiteral("prog-ack-delay-ms=5")}));
    makeDialog(2);
    for (int i = 2; i <= 5; ++i)
        dialog->addDevice(address(i));
    const QByteArray batchImage = pattern(100 * 1024, 21);
    const QByteArray pageImage = pattern(30 * 1024 + 7, 22);
    const QString batchPackage = work->file(QStringLiteral("batch.bin"));
    const QString pagePackage = work->file(QStringLiteral("page.bin"));
    QVERIFY(writeFile(batchPackage, package(3, shifted(batchImage, quint32(batchImage.size())))));
    QVERIFY(writeFile(pagePackage, package(1, pageImage)));
    dialog->form()->leFile->setText(batchPackage);
    dialog->form()->btnProgram->click();
    QVERIFY(dialog->isBatchRunning());

    ProgrammingPage page;
    CommTcp link;
    connect(&page, &ProgrammingPage::sendCmd, &link, &CommTcp::send);
    connect(&link, &CommTcp::gotProgRespond, &page, &ProgrammingPage::handleRespond);
    link.setPort(devsim->port(address(6)));
    link.connectDevice(address(6));
    QVERIFY(link.isConnected());
    RealBoxes real;
    page.form()->leFile->setText(pagePackage);
    page.form()->btnProgramming->click();
    QCOMPARE(real.waitFor(), QStringLiteral("[Information] Programming finish!"));
    QVERIFY2(dialog->isBatchRunning(), "the page ran while the batch did");
    QVERIFY(waitForBatchEnd());

    QCOMPARE(readFile(storedImage(address(6))), pageImage);
    for (int i = 2; i <= 5; ++i) {
        QCOMPARE(dialog->statusText(i - 2), QStringLiteral("Succeeded"));
        QCOMPARE(readFile(storedImage(address(i))), batchImage);
    }
    // The page's image is gone; the batch keeps its own for a retry, until
    // the dialog goes.
    const QDir folder(FirmwarePackage::tempImageDir());
    QCOMPARE(folder.entryList(QDir::Files), QStringList{QFileInfo(dialog->batchImage()).fileName()});
    delete dialog;
    dialog = nullptr;
    QVERIFY(folder.entryList(QDir::Files).isEmpty());
}

// Enter in the address field adds the device; it never starts a batch.
void TestBatchDialog::enterAddsDevice()
{
    makeDialog(1);
    QSignalSpy starts(dialog, &BatchProgrammingDialog::taskStart);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    dialog->form()->leIP->setFocus();
    QTest::keyClicks(dialog->form()->leIP, QStringLiteral("10.0.0.9"));
    QTest::keyClick(dialog->form()->leIP, Qt::Key_Return);
    QCOMPARE(dialog->deviceList(), QStringList{"10.0.0.9"});
    dialog->form()->leIP->setText(QStringLiteral("10.0.0"));
    QTest::keyClick(dialog->form()->leIP, Qt::Key_Enter);
    QCOMPARE(boxes->takeText(), QStringLiteral("IP address is invaild!"));
    QCOMPARE(starts.count(), 0);
    QVERIFY(dialog->isVisible());
}

void TestBatchDialog::pageOpensDialogModally()
{
    ProgrammingPage page;
    BatchProgrammingDialog* batch = page.batchDialog();
    QVERIFY(batch);
    bool wasModal = false;
    QTimer::singleShot(0, batch, [batch, &wasModal] {
        wasModal = batch->isVisible() && batch->isModal();
        batch->reject();
    });
    page.form()->btnBatch->click();
    QVERIFY(wasModal);
    QVERIFY(!batch->isVisible());
    // The same dialog, with its list, every time.
    batch->addDevice(QStringLiteral("10.0.0.1"));
    QTimer::singleShot(0, batch, [batch] { batch->reject(); });
    page.form()->btnBatch->click();
    QCOMPARE(page.batchDialog(), batch);
    QCOMPARE(batch->deviceList(), QStringList{"10.0.0.1"});
}

QTEST_MAIN(TestBatchDialog)
#include "tst_batchdialog.moc"
