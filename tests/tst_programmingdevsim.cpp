// Programming and backup runs of the page against the simulated device over
// loopback; every image is compared byte for byte with what the device
// stored.
#include "comm/commtcp.h"
#include "common/dialogs.h"
#include "programming/firmwarepackage.h"
#include "programming/programmingpage.h"
#include "progtestutil.h"
#include "testutil.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using namespace ProgTest;

class TestProgrammingDevsim : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void programs_data();
    void programs();
    void legacyDevice();
    void droppedAcknowledgementIsResent();
    void refusedChunk();
    void refusedStart();
    void linkLossMidRun();
    void slowAcknowledgements();
    void neverFinished();
    void packageSentWithoutHeader();
    void userFileNamedLikeTheTemporaryImageSurvives();
    void versionPerType();

    void backup();
    void refusedBackup();
    void linkLossDuringBackup();

private:
    // Starts devsim with the options (plus a store folder) and connects a
    // page to it the way the main window does.
    bool connectTo(const QStringList& options);
    QString storedImage() const
    {
        return work->file(QStringLiteral("store/image-127.0.0.1.bin"));
    }
    bool programFile(const QString& path);
    bool waitForBox(int timeoutMs = 30000)
    {
        return waitFor([this] { return boxes->count() > 0; }, timeoutMs);
    }

    TempWorkDir* work = nullptr;
    BoxRecorder* boxes = nullptr;
    DevsimProcess* devsim = nullptr;
    CommTcp* link = nullptr;
    ProgrammingPage* page = nullptr;
};

void TestProgrammingDevsim::init()
{
    work = new TempWorkDir;
    QVERIFY(QDir().mkpath(QStringLiteral("app")));
    FirmwarePackage::setBaseDir(work->file(QStringLiteral("app")));
    boxes = new BoxRecorder;
    devsim = new DevsimProcess;
    link = new CommTcp;
    page = new ProgrammingPage;
    connect(link, &CommTcp::gotProgRespond, page, &ProgrammingPage::handleRespond);
    connect(link, &CommTcp::disconnected, page, &ProgrammingPage::handleError);
    connect(link, &CommTcp::sendError, page, &ProgrammingPage::handleError);
    connect(page, &ProgrammingPage::sendCmd, link, &CommTcp::send);
}

void TestProgrammingDevsim::cleanup()
{
    boxes->checkNoneLeft();
    delete page;
    delete link;
    delete devsim;
    delete boxes;
    Dialogs::setFileInterceptor(Dialogs::FileInterceptor());
    FirmwarePackage::setBaseDir(QString());
    delete work;
}

bool TestProgrammingDevsim::connectTo(const QStringList& options)
{
    QStringList args;
    for (const QString& option : options + QStringList{
                                     QStringLiteral("prog-dir=") + work->file(QStringLiteral("store")),
                                     QStringLiteral("prog-install-ms=20")})
        args << QStringLiteral("--set") << option;
    if (!devsim->start(args))
        return false;
    link->setPort(devsim->port());
    QSignalSpy connected(link, &CommTcp::connectedToDevice);
    link->connectDevice(QStringLiteral("127.0.0.1"));
    return connected.count() == 1;
}

bool TestProgrammingDevsim::programFile(const QString& path)
{
    page->form()->leFile->setText(path);
    page->form()->btnProgramming->click();
    return waitForBox(60000);
}

void TestProgrammingDevsim::programs_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("1 byte") << 1;
    QTest::newRow("1024 bytes") << 1024;
    QTest::newRow("1025 bytes") << 1025;
    QTest::newRow("300 KiB, sequence bytes wrap") << 300 * 1024;
    QTest::newRow("257 chunks and a byte") << 257 * 1024 + 1;
}

void TestProgrammingDevsim::programs()
{
    QFETCH(int, size);
    QVERIFY(connectTo({QStringLiteral("quiet=1")}));
    const QByteArray image = pattern(size, size);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, image));
    QVERIFY(programFile(path));
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming finish!"));
    QVERIFY(!page->isLegacyTransfer());
    QCOMPARE(readFile(storedImage()), image);
    QVERIFY(devsim->log().contains(QStringLiteral("current mode")));
    QVERIFY(!devsim->log().contains(QStringLiteral("resent")));
    QVERIFY(page->statusText().isEmpty());
    QCOMPARE(page->form()->progressBar->format(), QStringLiteral("Progress: 100.00%"));
}

void TestProgrammingDevsim::legacyDevice()
{
    QVERIFY(connectTo({QStringLiteral("prog-legacy=1"), QStringLiteral("quiet=1")}));
    const QByteArray image = pattern(5000, 3);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, image));
    QVERIFY(programFile(path));
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming finish!"));
    QVERIFY(page->isLegacyTransfer());
    QVERIFY(devsim->log().contains(QStringLiteral("legacy mode")));
    QCOMPARE(readFile(storedImage()), image);
}

void TestProgrammingDevsim::droppedAcknowledgementIsResent()
{
    QVERIFY(connectTo({QStringLiteral("prog-drop-ack=3"), QStringLiteral("prog-drop-ack-times=2")}));
    page->setChunkInterval(200);
    const QByteArray image = pattern(6000, 5);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, image));
    QVERIFY(programFile(path));
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming finish!"));
    const QString log = devsim->log();
    QCOMPARE(log.count(QStringLiteral("acknowledgement of chunk 3 dropped")), 2);
    QCOMPARE(log.count(QStringLiteral("chunk 3 resent (sequence byte 2)")), 2);
    QCOMPARE(readFile(storedImage()), image);
}

void TestProgrammingDevsim::refusedChunk()
{
    QVERIFY(connectTo({QStringLiteral("prog-refuse-chunk=2")}));
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(5000)));
    QVERIFY(programFile(path));
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("Programming failed!"));
    QVERIFY(!page->isRunning());
    QVERIFY(!QFile::exists(storedImage()));
}

void TestProgrammingDevsim::refusedStart()
{
    QVERIFY(connectTo({QStringLiteral("prog-refuse-start=1")}));
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(10)));
    QVERIFY(programFile(path));
    QCOMPARE(boxes->takeText(), QStringLiteral("Start programming failed!"));
}

void TestProgrammingDevsim::linkLossMidRun()
{
    QVERIFY(connectTo({QStringLiteral("prog-close-at=3")}));
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(5000)));
    QVERIFY(programFile(path));
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.title, QStringLiteral("Information"));
    QCOMPARE(box.text, QStringLiteral("Programming failed!"));
    QVERIFY(!page->isRunning());
    QVERIFY(!page->chunkTimer()->isActive());
    QVERIFY(devsim->waitForLog(QStringLiteral("connection lost after 2048 of 5000 bytes")));
}

void TestProgrammingDevsim::slowAcknowledgements()
{
    QVERIFY(connectTo({QStringLiteral("prog-ack-delay-ms=50")}));
    const QByteArray image = pattern(4000, 7);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, image));
    QVERIFY(programFile(path));
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming finish!"));
    QCOMPARE(readFile(storedImage()), image);
    QVERIFY(!devsim->log().contains(QStringLiteral("resent")));
}

void TestProgrammingDevsim::neverFinished()
{
    QVERIFY(connectTo({QStringLiteral("prog-no-finish=1")}));
    page->setFinishTimeout(300);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(3000)));
    page->form()->leFile->setText(path);
    page->form()->btnProgramming->click();
    QTRY_COMPARE(page->statusText(), QStringLiteral("Installing program..."));
    QVERIFY(waitForBox());
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming timeout!"));
    QVERIFY(page->statusText().isEmpty());
    QCOMPARE(readFile(storedImage()), pattern(3000));
}

void TestProgrammingDevsim::packageSentWithoutHeader()
{
    QVERIFY(connectTo({QStringLiteral("quiet=1")}));
    const QByteArray image = pattern(70000, 11);
    const QString path = work->file(QStringLiteral("package.bin"));
    QVERIFY(writeFile(path, package(3, shifted(image, quint32(image.size()), "pad"))));
    QVERIFY(programFile(path));
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming finish!"));
    QCOMPARE(readFile(storedImage()), image);
    QVERIFY(devsim->log().contains(QStringLiteral("70000 bytes")));
    QVERIFY2(!QFile::exists(FirmwarePackage::tempImagePath()), "the run removes its image");
    QVERIFY(QFile::exists(path));
}

void TestProgrammingDevsim::userFileNamedLikeTheTemporaryImageSurvives()
{
    QVERIFY(connectTo({}));
    QVERIFY(QDir().mkpath(FirmwarePackage::tempImageDir()));
    const QString path = FirmwarePackage::tempImagePath();
    QVERIFY(writeFile(path, pattern(1500)));
    QVERIFY(programFile(path));
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming finish!"));
    QCOMPARE(readFile(storedImage()), pattern(1500));
    QCOMPARE(readFile(path), pattern(1500));
}

void TestProgrammingDevsim::versionPerType()
{
    QVERIFY(connectTo({QStringLiteral("version=v1.3.0 build42"),
                       QStringLiteral("version-2=v1.2.2 r1")}));
    page->form()->btnRead->click();
    QTRY_COMPARE(page->form()->labelVersion->text(), QStringLiteral("v1.3.0 build42"));
    page->typeCombo()->setCurrentIndex(2);
    QTRY_COMPARE(page->form()->labelVersion->text(), QStringLiteral("v1.2.2 r1"));
    page->typeCombo()->setCurrentIndex(1);
    QTRY_COMPARE(page->form()->labelVersion->text(), QStringLiteral("v1.3.0 build42"));
}

void TestProgrammingDevsim::backup()
{
    const QByteArray program = pattern(100 * 1024, 13);
    const QString source = work->file(QStringLiteral("device-program.bin"));
    QVERIFY(writeFile(source, program));
    QVERIFY(connectTo({QStringLiteral("backup-file=") + source, QStringLiteral("quiet=1"),
                       QStringLiteral("backup-piece=1000")}));
    const QString target = work->file(QStringLiteral("backup.bin"));
    Dialogs::setFileInterceptor([target](const Dialogs::FileRequest&) { return target; });
    page->form()->btnBackup->click();
    QVERIFY(waitForBox());
    QCOMPARE(boxes->takeText(), QStringLiteral("Backup file finished!"));
    QCOMPARE(readFile(target), program);
    QVERIFY(page->statusText().isEmpty());
}

void TestProgrammingDevsim::refusedBackup()
{
    QVERIFY(connectTo({QStringLiteral("backup-refuse=1")}));
    page->form()->btnBackup->click();
    QVERIFY(waitForBox());
    QCOMPARE(boxes->takeText(), QStringLiteral("Start backup failed!"));
}

void TestProgrammingDevsim::linkLossDuringBackup()
{
    QVERIFY(connectTo({QStringLiteral("backup-size=50000"), QStringLiteral("backup-close-at=5")}));
    const QString target = work->file(QStringLiteral("backup.bin"));
    Dialogs::setFileInterceptor([target](const Dialogs::FileRequest&) { return target; });
    page->form()->btnBackup->click();
    QVERIFY(waitForBox());
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("Backup file failed!"));
    QVERIFY(!page->isBackupRunning());
    QCOMPARE(readFile(target).size(), 4 * 1024);
}

QTEST_MAIN(TestProgrammingDevsim)
#include "tst_programmingdevsim.moc"
