// Batches of the dialog against simulated devices on 127.0.0.2 and up, each with its own
// version text, faults and stored image; the page beside a batch; the dialog's boxes for real.
#include "comm/commtcp.h"
#include "programming/batchprogrammingdialog.h"
#include "programming/batchprogrammingthread.h"
#include "programming/firmwarepackage.h"
#include "programming/programmingpage.h"
#include "progtestutil.h"
#include "testutil.h"

#include <QtTest>
#include <QtWidgets>

using namespace ProgTest;

static QString address(int i) { return QStringLiteral("127.0.0.%1").arg(i); }
static const QByteArray kReportHead = "2026-01-02 03:04:05\n\nIP\t\t\t\t\tResult\n" + QByteArray(48, '=') + "\n";

class TestBatchDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        work.reset(new TempWorkDir);
        QVERIFY(QDir().mkpath(work->file("app")));
        FirmwarePackage::setBaseDir(work->file("app"));
        boxes.reset(new BoxRecorder);
        devsim.reset(new DevsimProcess);
        QVERIFY((closedPort = closedLocalPort()) != 0);
        unreachable.clear();
    }
    void cleanup()
    {
        delete std::exchange(dialog, nullptr);
        devsim.reset();
        boxes->checkNoneLeft();
        boxes.reset();
        FirmwarePackage::setBaseDir(QString());
        work.reset();
    }
    void hundredsOfDevices();
    void pageBesideBatchRetryAndStop();
    void boxesInBothLanguagesAndModalRun();

private:
    // devsim for 127.0.0.2 .. address(1 + count) with the options; a dialog for the first devices.
    bool startDevices(int count, QStringList options, int workers, int devices)
    {
        QStringList args{"--range", address(2) + '-' + address(1 + count)};
        for (const QString& option : options << "prog-dir=" + work->file("store") << "prog-install-ms=20")
            args << "--set" << option;
        dialog = new BatchProgrammingDialog(nullptr, workers);
        dialog->setReportTime(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
        dialog->setPortResolver([this](const QString& ip) {
            return ip != unreachable && devsim->port(ip) ? devsim->port(ip) : closedPort;
        });
        for (int i = 2; i < 2 + devices; ++i)
            dialog->addDevice(address(i));
        return devsim->start(args) && dialog->deviceList().size() == devices;
    }
    QByteArray stored(const QString& ip) const { return readFile(work->file("store/image-" + ip + ".bin")); }
    QByteArray report() const { return dialog->exportReport(work->file("r.txt")), readFile(work->file("r.txt")); }
    bool waitForBatchEnd()
    {
        return waitFor([this] {
            for (int row = 0; row < dialog->deviceList().size(); ++row)
                if (dialog->statusText(row) == "/")
                    return false;
            return !dialog->isBatchRunning();
        }, 120000);
    }
    QString program(const QByteArray& file)
    {
        writeFile(work->file("image.bin"), file);
        dialog->form()->leFile->setText(work->file("image.bin"));
        dialog->form()->btnProgram->click();
        return work->file("image.bin");
    }

    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<BoxRecorder> boxes;
    std::unique_ptr<DevsimProcess> devsim;
    BatchProgrammingDialog* dialog = nullptr;
    quint16 closedPort = 0; // for addresses without a device
    QString unreachable;
};

// 200 devices, 4 workers: start order; rows deleted in progress and waiting; a refused start,
// a device that never ends; images byte for byte; the report; a version batch afterwards.
void TestBatchDialog::hundredsOfDevices()
{
    const int count = 200;
    QVERIFY(startDevices(count, {address(2) + "/prog-ack-delay-ms=300", address(3) + "/prog-ack-delay-ms=300",
                                 address(5) + "/prog-refuse-start=1", address(4) + "/prog-no-finish=1",
                                 address(7) + "/version=no token here", address(8) + "/version-2=v0.9.1 patch"},
                         4, count));
    for (BatchProgrammingThread* worker : dialog->workerList())
        worker->setFinishTimeout(3000);
    QSignalSpy starts(dialog, &BatchProgrammingDialog::taskStart);
    dialog->form()->comboType->setCurrentIndex(1);
    const QByteArray image = pattern(1500, 7);
    program(image);
    QCOMPARE(starts.count(), 4);
    QVERIFY(!dialog->form()->btnProgram->isEnabled() && dialog->form()->btnStop->isEnabled());
    QVERIFY(waitFor([this] { return dialog->progressBar(0)->value() > 0 && dialog->progressBar(1)->value() > 0; }));
    dialog->deleteRow(0);
    dialog->deleteRow(0);
    dialog->deleteRow(count - 3); // still waiting: never served
    QVERIFY(waitFor([this] { return dialog->progressBar(0)->value() == 1500 && dialog->statusText(0) == "/"; }));
    QVERIFY(report().contains("\n127.0.0.4\t\tIn Progress\n"));
    QVERIFY(waitForBatchEnd());
    QVERIFY(dialog->form()->btnProgram->isEnabled() && !dialog->form()->btnStop->isEnabled());

    for (int i = 0; i < count - 1; ++i)
        QCOMPARE(starts.value(i).value(0).toInt(), i);
    QVERIFY(starts.count() == count - 1 && stored(address(count + 1)).isEmpty());
    QByteArray expected = kReportHead;
    for (int row = 0; row < count - 3; ++row) {
        const QString ip = address(row + 4);
        const bool ok = ip != "127.0.0.4" && ip != "127.0.0.5";
        QVERIFY2(stored(ip) == (ip == "127.0.0.5" ? QByteArray() : image), qPrintable(ip));
        QVERIFY2(!ok || (dialog->progressBar(row)->maximum() == 1500 &&
                         dialog->versionText(row) == (ip == "127.0.0.7" ? "no token here" : "v1.3.0")), qPrintable(ip));
        expected += (ip + (ok ? "\t\tSucceeded\n" : ip.endsWith('4') ? "\t\tFailed\tTimeout\n" : "\t\tFailed\tStart refused\n")).toUtf8();
    }
    QCOMPARE(report(), expected);
    QVERIFY(devsim->log().contains("programming: type 1, 1500 bytes"));

    dialog->form()->comboType->setCurrentIndex(2);
    dialog->form()->btnRefresh->click();
    QCOMPARE(dialog->progressBar(0)->value(), -1);
    QVERIFY(dialog->reasonText(0).isEmpty() && dialog->versionText(2).isEmpty());
    QVERIFY(waitForBatchEnd());
    for (int row = 0; row < count - 3; ++row) {
        QCOMPARE(dialog->statusText(row), QStringLiteral("Succeeded"));
        const QString ip = address(row + 4);
        QCOMPARE(dialog->versionText(row), ip == "127.0.0.7" ? "no token here" : ip == "127.0.0.8" ? "v0.9.1" : "v1.3.0");
    }
}

// A package batch while the page programs another package into another device; the batch
// cannot reach one (report in Chinese). "Retry Failed" runs that one again with the image the
// batch sent. Stop ends the tasks under way. The batch keeps its image until the dialog goes.
void TestBatchDialog::pageBesideBatchRetryAndStop()
{
    QVERIFY(startDevices(5, {"prog-ack-delay-ms=5"}, 2, 4));
    unreachable = address(5);
    const QByteArray batchImage = pattern(100 * 1024, 21), pageImage = pattern(30 * 1024 + 7, 22);
    const QString path = program(package(3, shifted(batchImage, quint32(batchImage.size()))));
    ProgrammingPage page;
    CommTcp link;
    connect(&page, &ProgrammingPage::sendCmd, &link, &CommTcp::send);
    connect(&link, &CommTcp::gotProgRespond, &page, &ProgrammingPage::handleRespond);
    link.setPort(devsim->port(address(6)));
    link.connectDevice(address(6));
    QVERIFY(link.isConnected());
    RealBoxes real;
    writeFile(work->file("page.bin"), package(1, pageImage));
    page.form()->leFile->setText(work->file("page.bin"));
    page.form()->btnProgramming->click();
    QCOMPARE(real.waitFor(), QStringLiteral("[Information] Programming finish!"));
    QVERIFY2(dialog->isBatchRunning(), "the page ran while the batch did");
    QVERIFY(waitForBatchEnd());
    QCOMPARE(stored(address(6)), pageImage);
    const QDir folder(FirmwarePackage::tempImageDir()); // the page's image is gone
    QCOMPARE(folder.entryList(QDir::Files), QStringList{QFileInfo(dialog->batchImage()).fileName()});
    QTranslator chinese;
    QVERIFY(chinese.load(QStringLiteral(FM_QM_PATH)));
    QCoreApplication::installTranslator(&chinese);
    const QByteArray zh = report();
    QCoreApplication::removeTranslator(&chinese);
    QCOMPARE(QString::fromUtf8(zh), QString::fromUtf8("2026-01-02 03:04:05\n\nIP\t\t\t\t\t结果\n" + QByteArray(48, '=') +
                                                      "\n127.0.0.2\t\t成功\n127.0.0.3\t\t成功\n127.0.0.4\t\t成功\n"
                                                      "127.0.0.5\t\t失败\t无法连接\n"));

    QVERIFY(writeFile(path, package(1, pattern(500, 9)))); // the retry sends what the batch sent
    unreachable.clear();
    QSignalSpy starts(dialog, &BatchProgrammingDialog::taskStart);
    dialog->form()->btnRetry->click();
    QVERIFY(waitForBatchEnd());
    QCOMPARE(starts.count(), 1);
    for (int i = 2; i <= 5; ++i)
        QVERIFY(dialog->statusText(i - 2) == "Succeeded" && stored(address(i)) == batchImage);

    QVERIFY(QFile::remove(work->file("store/image-127.0.0.2.bin")));
    program(package(1, batchImage));
    QVERIFY(waitFor([this] { return dialog->progressBar(0)->value() > 0; }, 10000));
    dialog->form()->btnStop->click();
    QVERIFY(waitForBatchEnd());
    QByteArray stopped = kReportHead;
    for (int i = 2; i <= 5; ++i)
        stopped += (address(i) + "\t\tStopped\tStopped by the operator\n").toLatin1();
    QCOMPARE(report(), stopped);
    QVERIFY(stored(address(2)).isEmpty());
    delete std::exchange(dialog, nullptr);
    QVERIFY(folder.entryList(QDir::Files).isEmpty());
}

// The page runs its one dialog modally, list kept. Enter in the address field adds the device,
// never starts a batch; real modal warnings in both languages; the type survives the language.
void TestBatchDialog::boxesInBothLanguagesAndModalRun()
{
    ProgrammingPage page;
    BatchProgrammingDialog* batch = page.batchDialog();
    bool wasModal = false;
    QTimer::singleShot(0, batch, [batch, &wasModal] { wasModal = batch->isVisible() && batch->isModal(), batch->reject(); });
    page.form()->btnBatch->click();
    QVERIFY(wasModal && !batch->isVisible());
    QSignalSpy starts(batch, &BatchProgrammingDialog::taskStart);
    batch->show();
    QVERIFY(QTest::qWaitForWindowExposed(batch));
    QLineEdit* ip = batch->form()->leIP;
    ip->setFocus();
    QTest::keyClicks(ip, "10.0.0.9");
    QTest::keyClick(ip, Qt::Key_Return);
    QCOMPARE(batch->deviceList(), QStringList{"10.0.0.9"});
    RealBoxes real;
    ip->setText("10.0.0");
    QTest::keyClick(ip, Qt::Key_Enter);
    QCOMPARE(real.waitFor(1), QStringLiteral("[Warning] IP address is invaild!"));

    batch->form()->comboType->setCurrentIndex(2);
    QTranslator chinese;
    QVERIFY(chinese.load(QStringLiteral(FM_QM_PATH)));
    QCoreApplication::installTranslator(&chinese);
    QTRY_COMPARE(batch->form()->comboType->currentText(), QString::fromUtf8("补丁"));
    ip->setText("10.0.0.9");
    batch->form()->btnAdd->click();
    QCOMPARE(real.waitFor(2), QString::fromUtf8("[警告] IP已存在！"));
    QCoreApplication::removeTranslator(&chinese);
    QVERIFY(batch->form()->comboType->currentIndex() == 2 && starts.isEmpty());
    batch->hide();

    QTimer::singleShot(0, batch, [batch] { batch->reject(); });
    page.form()->btnBatch->click();
    QCOMPARE(page.batchDialog(), batch);
    QCOMPARE(batch->deviceList(), QStringList{"10.0.0.9"});
}

QTEST_MAIN(TestBatchDialog)
#include "tst_batchdialog.moc"
