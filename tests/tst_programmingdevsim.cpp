// Programming and backup runs of the page against the simulated device over
// loopback; every image is compared byte for byte with what the device
// stored.
#include "pagetestutil.h"
#include "programming/firmwarepackage.h"
#include "programming/programmingpage.h"
#include "progtestutil.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

using namespace ProgTest;

class TestProgrammingDevsim : public BoxCheckedTest
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void programs_data();
    void programs();
    void droppedAcknowledgementIsResent_data();
    void droppedAcknowledgementIsResent();
    void pressedTwice();
    void restartDuringInstall();
    void failures_data();
    void failures();
    void packageSentWithoutHeader();
    void versionPerType();

    void linkLossDuringBackup();

private:
    // Starts devsim with the options (plus a store folder) and connects.
    bool connectTo(const QStringList& options)
    {
        return rig->start(
            options + QStringList{QStringLiteral("prog-dir=") + work->file(QStringLiteral("store")),
                                  QStringLiteral("prog-install-ms=20")});
    }
    QString storedImage() const { return work->file(QStringLiteral("store/image-127.0.0.1.bin")); }
    // Programs the image from a file and waits for the box at the end.
    QString program(const QByteArray& image)
    {
        const QString path = work->file(QStringLiteral("image.bin"));
        writeFile(path, image);
        return programFile(path);
    }
    QString programFile(const QString& path)
    {
        page->form()->leFile->setText(path);
        page->form()->btnProgramming->click();
        return boxes->waitForText(60000);
    }

    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<LinkedPage<ProgrammingPage>> rig;
    ProgrammingPage* page = nullptr;
};

void TestProgrammingDevsim::init()
{
    BoxCheckedTest::init();
    work = std::make_unique<TempWorkDir>();
    QVERIFY(QDir().mkpath(QStringLiteral("app")));
    FirmwarePackage::setBaseDir(work->file(QStringLiteral("app")));
    rig = std::make_unique<LinkedPage<ProgrammingPage>>(&CommTcp::gotProgRespond);
    page = &rig->page;
    connect(&rig->link, &CommTcp::disconnected, page, &ProgrammingPage::handleError);
    connect(&rig->link, &CommTcp::sendError, page, &ProgrammingPage::handleError);
}

void TestProgrammingDevsim::cleanup()
{
    boxes->checkNoneLeft();
    rig.reset();
    BoxCheckedTest::cleanup();
    FirmwarePackage::setBaseDir(QString());
    work.reset();
}

void TestProgrammingDevsim::programs_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("legacy");
    const QStringList quiet{"quiet=1"};
    QTest::newRow("1 byte") << quiet << 1 << false;
    QTest::newRow("1024 bytes") << quiet << 1024 << false;
    QTest::newRow("1025 bytes") << quiet << 1025 << false;
    QTest::newRow("300 KiB, sequence bytes wrap") << quiet << 300 * 1024 << false;
    QTest::newRow("257 chunks and a byte") << quiet << 257 * 1024 + 1 << false;
    QTest::newRow("legacy device") << QStringList{"prog-legacy=1", "quiet=1"} << 5000 << true;
    QTest::newRow("slow acknowledgements, no resend")
        << QStringList{"prog-ack-delay-ms=50"} << 4000 << false;
}

void TestProgrammingDevsim::programs()
{
    QFETCH(QStringList, options);
    QFETCH(int, size);
    QFETCH(bool, legacy);
    QVERIFY(connectTo(options));
    const QByteArray image = pattern(size, size);
    QCOMPARE(program(image), QStringLiteral("Programming finish!"));
    QCOMPARE(page->isLegacyTransfer(), legacy);
    QCOMPARE(readFile(storedImage()), image);
    const QString log = rig->sim.log();
    QVERIFY(log.contains(legacy ? QStringLiteral("legacy mode") : QStringLiteral("current mode")));
    QVERIFY(!log.contains(QStringLiteral("resent")));
    QVERIFY(page->statusText().isEmpty());
    QCOMPARE(page->form()->progressBar->format(), QStringLiteral("Progress: 100.00%"));
    // The version is read back once the device has finished.
    QTRY_COMPARE(page->form()->labelVersion->text(),
                 legacy ? QStringLiteral("v1.2.2 r1") : QStringLiteral("v1.3.0 build42"));
}

void TestProgrammingDevsim::droppedAcknowledgementIsResent_data()
{
    QTest::addColumn<int>("chunk");
    QTest::newRow("a chunk in the middle") << 3;
    QTest::newRow("the last chunk") << 6;
}

void TestProgrammingDevsim::droppedAcknowledgementIsResent()
{
    QFETCH(int, chunk);
    QVERIFY(connectTo({QStringLiteral("prog-drop-ack=%1").arg(chunk),
                       QStringLiteral("prog-drop-ack-times=2")}));
    page->setChunkInterval(200);
    const QByteArray image = pattern(6000, 5);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, image));
    page->form()->leFile->setText(path);
    RealBoxes real;
    page->form()->btnProgramming->click();
    QCOMPARE(real.waitFor(), QStringLiteral("[Information] Programming finish!"));
    const QString log = rig->sim.log();
    QCOMPARE(log.count(QStringLiteral("acknowledgement of chunk %1 dropped").arg(chunk)), 2);
    QCOMPARE(log.count(QStringLiteral("chunk %1 resent (sequence byte %2)").arg(chunk).arg(chunk - 1)),
             2);
    QCOMPARE(readFile(storedImage()), image);
}

// A second press of Programming or Backup while one runs starts nothing:
// the device sees one transfer each, and both files are whole.
void TestProgrammingDevsim::pressedTwice()
{
    const QByteArray program = pattern(20000, 13);
    const QString source = work->file(QStringLiteral("device-program.bin"));
    QVERIFY(writeFile(source, program));
    QVERIFY(connectTo({QStringLiteral("prog-ack-delay-ms=2"), QStringLiteral("backup-file=") + source,
                       QStringLiteral("backup-piece=1000"), QStringLiteral("quiet=1")}));
    RealBoxes real;
    // Every button pressed again once the transfer or the backup is under way.
    bool pressed = false;
    connect(&rig->link, &CommTcp::gotProgRespond, page, [&](int cmd, const quint8*, int) {
        if ((cmd != 0x0101 && cmd != 0x0152) || pressed)
            return;
        pressed = true;
        QTimer::singleShot(0, page, [&] {
            for (QPushButton* button : {page->form()->btnProgramming, page->form()->btnBackup,
                                        page->form()->btnRead})
                button->click();
        });
    });
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(20000, 3)));
    page->form()->leFile->setText(path);
    page->form()->btnProgramming->click();
    page->form()->btnProgramming->click();
    QCOMPARE(real.waitFor(1), QStringLiteral("[Information] Programming finish!"));
    QVERIFY(pressed);
    QCOMPARE(readFile(storedImage()), pattern(20000, 3));

    FileAnswer files(work->file(QStringLiteral("backup.bin")));
    pressed = false;
    page->form()->btnBackup->click();
    page->form()->btnBackup->click();
    QCOMPARE(real.waitFor(2), QStringLiteral("[Information] Backup file finished!"));
    QVERIFY(pressed);
    QCOMPARE(readFile(files.path), program);
    QCOMPARE(files.requests.size(), 1);
    QVERIFY(page->form()->btnBackup->isEnabled());
    rig->link.disconnectDevice();
    QTRY_COMPARE(rig->sim.log().count(QStringLiteral("programming: type")), 1);
    QCOMPARE(rig->sim.log().count(QStringLiteral("backup: type")), 1);
    QCOMPARE(real.shown.size(), 2);
}

// Programming again while the device installs: the first run's late
// "finished" neither ends nor reports the second run.
void TestProgrammingDevsim::restartDuringInstall()
{
    QVERIFY(connectTo({QStringLiteral("prog-install-ms=100"), QStringLiteral("prog-ack-delay-ms=3"),
                       QStringLiteral("quiet=1")}));
    RealBoxes real;
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(60 * 1024, 4)));
    page->form()->leFile->setText(path);
    // The operator presses Programming again as soon as the page says
    // "Installing program...".
    bool pressed = false;
    connect(&rig->link, &CommTcp::gotProgRespond, page, [&](int cmd, const quint8*, int) {
        if (cmd != 0x0102 || pressed)
            return;
        pressed = true;
        QTimer::singleShot(0, page, [&] {
            QCOMPARE(page->statusText(), QStringLiteral("Installing program..."));
            page->form()->btnProgramming->click();
        });
    });
    page->form()->btnProgramming->click();
    QCOMPARE(real.waitFor(1), QStringLiteral("[Information] Programming finish!"));
    // The box came for the second run, after all its data.
    QCOMPARE(rig->sim.log().count(QStringLiteral("programming: image of 61440 bytes stored")), 2);
    QVERIFY(!real.waitFor(2, 300).size());
}

void TestProgrammingDevsim::failures_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("logged");
    QTest::newRow("refused chunk") << "prog-refuse-chunk=2"
                                   << "[Warning] Programming failed!"
                                   << "";
    QTest::newRow("refused start") << "prog-refuse-start=1"
                                   << "[Warning] Start programming failed!"
                                   << "";
    QTest::newRow("link lost") << "prog-close-at=3"
                               << "[Information] Programming failed!"
                               << "connection lost after 2048 of 5000 bytes";
}

void TestProgrammingDevsim::failures()
{
    QFETCH(QString, option);
    QFETCH(QString, box);
    QFETCH(QString, logged);
    QVERIFY(connectTo({option}));
    page->form()->leFile->setText(work->file(QStringLiteral("image.bin")));
    QVERIFY(writeFile(page->form()->leFile->text(), pattern(5000)));
    page->form()->btnProgramming->click();
    QCOMPARE(boxes->waitForBox(30000).summary(), box);
    QVERIFY(!page->isRunning());
    QVERIFY(!page->chunkTimer()->isActive());
    QVERIFY(!QFile::exists(storedImage()));
    if (!logged.isEmpty())
        QVERIFY(rig->sim.waitForLog(logged));
}

void TestProgrammingDevsim::packageSentWithoutHeader()
{
    QVERIFY(connectTo({QStringLiteral("quiet=1")}));
    const QByteArray image = pattern(70000, 11);
    const QString path = work->file(QStringLiteral("package.bin"));
    QVERIFY(writeFile(path, package(3, shifted(image, quint32(image.size()), "pad"))));
    QCOMPARE(programFile(path), QStringLiteral("Programming finish!"));
    QCOMPARE(readFile(storedImage()), image);
    QVERIFY(rig->sim.log().contains(QStringLiteral("70000 bytes")));
    QVERIFY2(QDir(FirmwarePackage::tempImageDir()).entryList(QDir::Files).isEmpty(),
             "the run removes its image");
    QVERIFY(QFile::exists(path));
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

void TestProgrammingDevsim::linkLossDuringBackup()
{
    QVERIFY(connectTo({QStringLiteral("backup-size=50000"), QStringLiteral("backup-close-at=5")}));
    FileAnswer files(work->file(QStringLiteral("backup.bin")));
    page->form()->btnBackup->click();
    QCOMPARE(boxes->waitForBox(30000).summary(), QStringLiteral("[Warning] Backup file failed!"));
    QVERIFY(!page->isBackupRunning());
    QCOMPARE(readFile(files.path).size(), 4 * 1024);
}

QTEST_MAIN(TestProgrammingDevsim)
#include "tst_programmingdevsim.moc"
