// Batches of the dialog against simulated devices, one per loopback address
// (127.0.0.2 and up), each with its own state, version text, faults and
// stored image.
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
#include <QtTest>

using namespace ProgTest;

class TestBatchDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void tenDevicesTwoWorkers();
    void firstTasksGoToWorkersInCreationOrder();
    void nothingListensFails();
    void versionOnlyBatch();
    void rowDeletedDuringBatch();
    void newBatchWhileBusy();
    void packageIsSentWithoutHeader();
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
    QVERIFY(waitForBatchEnd());

    QList<int> order;
    for (const QList<QVariant>& start : starts)
        order << start.at(0).toInt();
    QCOMPARE(order, (QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    QCOMPARE(dialog->nextTaskIndex(), 10);
    for (int row = 0; row < 10; ++row) {
        const QString ip = address(row + 2);
        if (ip == address(5)) {
            QCOMPARE(dialog->statusText(row), QStringLiteral("Failed"));
            QCOMPARE(dialog->statusNumber(row), 3);
            QVERIFY(!QFile::exists(storedImage(ip)));
            continue;
        }
        QCOMPARE(dialog->statusText(row), QStringLiteral("Succeeded"));
        QCOMPARE(dialog->statusNumber(row), 2);
        QVERIFY2(readFile(storedImage(ip)) == image, qPrintable(ip));
        QCOMPARE(dialog->progressBar(row)->maximum(), 5000);
        QCOMPARE(dialog->progressBar(row)->value(), 5000);
        QVERIFY(dialog->versionText(row).isEmpty()); // programming leaves it
    }
    // Each device got its own transfer of the chosen type.
    QVERIFY(devsim->log().contains(QStringLiteral("programming: type 1, 5000 bytes")));
}

void TestBatchDialog::firstTasksGoToWorkersInCreationOrder()
{
    QVERIFY(startDevices(10));
    makeDialog(4);
    for (int i = 2; i <= 11; ++i)
        dialog->addDevice(address(i));
    QSignalSpy starts(dialog, &BatchProgrammingDialog::taskStart);
    dialog->form()->btnRefresh->click();
    QCOMPARE(starts.count(), 4);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(starts.at(i).at(0).toInt(), i);
    QCOMPARE(dialog->nextTaskIndex(), 4);
    QVERIFY(waitForBatchEnd());
    QCOMPARE(starts.count(), 10);
    for (int i = 0; i < 10; ++i)
        QCOMPARE(starts.at(i).at(0).toInt(), i);
}

void TestBatchDialog::nothingListensFails()
{
    makeDialog(1);
    dialog->addDevice(QStringLiteral("127.0.0.1"));
    dialog->form()->btnRefresh->click();
    // Refused at once; the connect time-out is one second.
    QVERIFY(waitFor([this] { return dialog->statusText(0) != QLatin1String("/"); }, 3000));
    QCOMPARE(dialog->statusText(0), QStringLiteral("Failed"));
    QCOMPARE(dialog->statusNumber(0), 3);
    QCOMPARE(boxes->count(), 0);
}

void TestBatchDialog::versionOnlyBatch()
{
    QVERIFY(startDevices(10, {address(3) + QStringLiteral("/version=v2.1.0 special"),
                              address(4) + QStringLiteral("/version-2=v0.9.1 patch"),
                              address(6) + QStringLiteral("/version=no token here")}));
    makeDialog(2);
    for (int i = 2; i <= 11; ++i)
        dialog->addDevice(address(i));
    // Bars keep what earlier runs left.
    dialog->progressBar(0)->setRange(0, 10);
    dialog->progressBar(0)->setValue(7);
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
    QCOMPARE(dialog->progressBar(0)->value(), 7);
    QCOMPARE(dialog->progressBar(1)->value(), -1);
}

void TestBatchDialog::rowDeletedDuringBatch()
{
    QVERIFY(startDevices(10, {QStringLiteral("prog-ack-delay-ms=5")}));
    makeDialog(2);
    for (int i = 2; i <= 11; ++i)
        dialog->addDevice(address(i));
    const QByteArray image = pattern(30 * 1024, 3);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, image));
    dialog->form()->leFile->setText(path);
    QSignalSpy starts(dialog, &BatchProgrammingDialog::taskStart);
    dialog->form()->btnProgram->click();
    // The first device is being programmed when its row goes.
    QVERIFY(waitFor([this] { return dialog->progressBar(0)->value() > 0; }, 10000));
    QCOMPARE(dialog->statusText(0), QStringLiteral("/"));
    const int next = dialog->nextTaskIndex();
    dialog->deleteRow(0);
    QCOMPARE(dialog->deviceList().size(), 9);
    QCOMPARE(dialog->nextTaskIndex(), next - 1);
    QVERIFY(waitForBatchEnd(120000));
    // Every remaining device was served, none passed over.
    for (int row = 0; row < 9; ++row) {
        QCOMPARE(dialog->statusText(row), QStringLiteral("Succeeded"));
        QCOMPARE(readFile(storedImage(dialog->deviceList().at(row))), image);
    }
    // The worker whose device was deleted got no further task: the other
    // one served the rest.
    QCOMPARE(starts.count(), 10);
    QCOMPARE(dialog->workerList().at(0)->ip(), address(2));
    QCOMPARE(dialog->workerList().at(1)->ip(), address(11));
}

void TestBatchDialog::newBatchWhileBusy()
{
    QVERIFY(startDevices(4, {QStringLiteral("prog-ack-delay-ms=5")}));
    makeDialog(2);
    for (int i = 2; i <= 5; ++i)
        dialog->addDevice(address(i));
    const QByteArray image = pattern(20 * 1024, 9);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, image));
    dialog->form()->leFile->setText(path);
    dialog->form()->btnProgram->click();
    QVERIFY(waitFor([this] { return dialog->progressBar(0)->value() > 0 &&
                                    dialog->progressBar(1)->value() > 0; },
                    10000));
    // Both workers are busy: they ignore the new starts, finish their
    // programming and then go on with the new kind of task.
    dialog->form()->btnRefresh->click();
    QVERIFY(waitForBatchEnd());
    for (int row = 0; row < 4; ++row)
        QCOMPARE(dialog->statusText(row), QStringLiteral("Succeeded"));
    QCOMPARE(readFile(storedImage(address(2))), image);
    QCOMPARE(readFile(storedImage(address(3))), image);
    QVERIFY(dialog->versionText(0).isEmpty());
    QVERIFY(dialog->versionText(1).isEmpty());
    QCOMPARE(dialog->versionText(2), QStringLiteral("v1.3.0"));
    QCOMPARE(dialog->versionText(3), QStringLiteral("v1.3.0"));
    QVERIFY(!QFile::exists(storedImage(address(4))));
}

void TestBatchDialog::packageIsSentWithoutHeader()
{
    QVERIFY(startDevices(3));
    makeDialog(2);
    for (int i = 2; i <= 4; ++i)
        dialog->addDevice(address(i));
    const QByteArray image = pattern(3000, 5);
    const QString path = work->file(QStringLiteral("package.bin"));
    QVERIFY(writeFile(path, package(1, image)));
    dialog->form()->leFile->setText(path);
    dialog->form()->btnProgram->click();
    QVERIFY(waitForBatchEnd());
    for (int i = 2; i <= 4; ++i) {
        QCOMPARE(dialog->statusText(i - 2), QStringLiteral("Succeeded"));
        QCOMPARE(readFile(storedImage(address(i))), image);
    }
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
