// The programming page on its own: form, version read, the run's protocol
// (version check, start, chunks, sequence bytes, resends, bounds), the
// temporary image and the backup, driven by replies handed to
// handleRespond directly.
#include "common/dialogs.h"
#include "programming/firmwarepackage.h"
#include "programming/batchprogrammingdialog.h"
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
#include <QTimer>
#include <QtTest>

using namespace ProgTest;

namespace {

struct Sent
{
    int cmd;
    QByteArray data;
};

} // namespace

class TestProgrammingPage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void formTexts();
    void rootTypeOnceAndKeptOnLanguageChange();
    void typeChangeReadsVersion();
    void versionRead_data();
    void versionRead();
    void chooseFile();
    void emptyPathIsATip();

    void transferMode_data();
    void transferMode();
    void chunking_data();
    void chunking();
    void emptyImageWaitsForDevice();
    void sequenceByteWraps();
    void progressText();
    void progressStepsAreCoalesced();
    void resendsThenTimeout();
    void legacyTimesOutAtOnce();
    void refusals_data();
    void refusals();
    void linkLossEndsRun();
    void finishWaitIsBounded_data();
    void finishWaitIsBounded();
    void finishWithoutInstalling();
    void versionReplyDuringTransferDoesNotRestart();
    void sendErrorInsideChunkEndsRun();

    void packageIsUnpackedAndItsImageRemoved();
    void userFileNamedLikeTheTemporaryImageSurvives();
    void damagedPackageIsNotSent();
    void emptyPackageSendsNothing();
    void temporaryImageNotWritable();
    void unreadableFile();

    void backupCompletes();
    void backupRefusals_data();
    void backupRefusals();
    void backupCancelledDialog();
    void backupFileCannotBeOpened();
    void backupLinkLoss();
    void backupPieceTimeout();
    void backupTargetNamedTmpBinSurvives();
    void backupIgnoredWhileProgramming();

private:
    void reply(int cmd, const QByteArray& payload)
    {
        page->handleRespond(cmd, reinterpret_cast<const quint8*>(payload.constData()),
                            payload.size());
    }
    Sent takeSent()
    {
        if (sent.isEmpty())
            return Sent{-1, QByteArray()};
        return sent.takeFirst();
    }
    // Starts a run with the file and answers the version check; returns the
    // 0x0100 request's payload.
    QByteArray startRun(const QString& path, const QByteArray& version = "v1.3.0 build42");
    void answerFileDialog(const QString& path);

    ProgrammingPage* page = nullptr;
    BoxRecorder* boxes = nullptr;
    TempWorkDir* work = nullptr;
    QList<Sent> sent;
    QList<Dialogs::FileRequest> fileRequests;
};

void TestProgrammingPage::init()
{
    work = new TempWorkDir;
    QVERIFY(QDir().mkpath(QStringLiteral("app")));
    FirmwarePackage::setBaseDir(work->file(QStringLiteral("app")));
    boxes = new BoxRecorder;
    page = new ProgrammingPage;
    connect(page, &ProgrammingPage::sendCmd, this,
            [this](int cmd, QByteArray data) { sent.append(Sent{cmd, data}); });
    sent.clear();
    fileRequests.clear();
}

void TestProgrammingPage::cleanup()
{
    boxes->checkNoneLeft();
    delete page;
    page = nullptr;
    delete boxes;
    boxes = nullptr;
    Dialogs::setFileInterceptor(Dialogs::FileInterceptor());
    FirmwarePackage::setBaseDir(QString());
    delete work;
    work = nullptr;
}

QByteArray TestProgrammingPage::startRun(const QString& path, const QByteArray& version)
{
    page->form()->leFile->setText(path);
    page->form()->btnProgramming->click();
    const Sent ask = takeSent();
    if (ask.cmd != 0x0001 || ask.data != QByteArray(1, '\x01'))
        return QByteArray("no version check");
    reply(0x0001, version);
    const Sent start = takeSent();
    return start.cmd == 0x0100 ? start.data : QByteArray();
}

void TestProgrammingPage::answerFileDialog(const QString& path)
{
    Dialogs::setFileInterceptor([this, path](const Dialogs::FileRequest& request) {
        fileRequests.append(request);
        return path;
    });
}

// ------------------------------------------------------------------- form

void TestProgrammingPage::formTexts()
{
    UI_ProgrammingPage* ui = page->form();
    QCOMPARE(ui->labelType->text(), QStringLiteral("Programming type    :"));
    QCOMPARE(ui->labelVersionTitle->text(), QStringLiteral("Current version     :"));
    QCOMPARE(ui->labelFile->text(), QStringLiteral("Programming file    :"));
    QCOMPARE(ui->labelProgress->text(), QStringLiteral("Programming progress:"));
    QCOMPARE(ui->btnBackup->text(), QStringLiteral("Backup"));
    QCOMPARE(ui->btnRead->text(), QStringLiteral("Read"));
    QCOMPARE(ui->btnChoose->text(), QStringLiteral("Choose"));
    QCOMPARE(ui->btnProgramming->text(), QStringLiteral("Programming"));
    QCOMPARE(ui->comboType->count(), 3);
    QCOMPARE(ui->comboType->itemText(0), QStringLiteral("APP"));
    QCOMPARE(ui->comboType->itemText(1), QStringLiteral("Firmware"));
    QCOMPARE(ui->comboType->itemText(2), QStringLiteral("Patch"));
    QVERIFY(ui->labelVersion->text().isEmpty());
    QVERIFY(ui->labelStatus->text().isEmpty());
    QCOMPARE(ui->labelStatus->styleSheet(), QStringLiteral("color: red; font: 32px; "));
    QCOMPARE(ui->progressBar->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    QCOMPARE(ui->btnBatch->text(), QStringLiteral("Batch Programming"));
    // The batch dialog exists once, without a parent, and is not shown.
    QVERIFY(page->batchDialog());
    QVERIFY(!page->batchDialog()->parent());
    QVERIFY(!page->batchDialog()->isVisible());
    QVERIFY(!page->chunkTimer()->isSingleShot());
    QVERIFY(!page->chunkTimer()->parent());
    QVERIFY(sent.isEmpty());
}

void TestProgrammingPage::rootTypeOnceAndKeptOnLanguageChange()
{
    page->addRootProgType();
    page->addRootProgType();
    QComboBox* combo = page->typeCombo();
    QCOMPARE(combo->count(), 4);
    QCOMPARE(combo->itemText(3), QStringLiteral("root"));
    combo->setCurrentIndex(3);
    QCOMPARE(takeSent().data, QByteArray(1, '\x03'));

    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(page, &change);
    QCOMPARE(combo->count(), 4);
    QCOMPARE(combo->currentIndex(), 3);
    QVERIFY2(sent.isEmpty(), "re-applying the texts sends nothing");

    combo->setCurrentIndex(1);
    QCoreApplication::sendEvent(page, &change);
    QCOMPARE(combo->currentIndex(), 1);
    QCOMPARE(sent.size(), 1);
}

void TestProgrammingPage::typeChangeReadsVersion()
{
    page->typeCombo()->setCurrentIndex(2);
    Sent s = takeSent();
    QCOMPARE(s.cmd, 0x0001);
    QCOMPARE(s.data, QByteArray(1, '\x02'));
    page->form()->btnRead->click();
    s = takeSent();
    QCOMPARE(s.cmd, 0x0001);
    QCOMPARE(s.data, QByteArray(1, '\x02'));
}

void TestProgrammingPage::versionRead_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("shown");
    QTest::newRow("text") << QByteArray("v1.3.0 build42") << QStringLiteral("v1.3.0 build42");
    QTest::newRow("up to a zero byte") << QByteArray("v1.2.2 r1\0junk", 14)
                                       << QStringLiteral("v1.2.2 r1");
    QTest::newRow("UTF-8") << QByteArray("v2.0.0 \xe6\xb5\x8b\xe8\xaf\x95")
                           << QStringLiteral("v2.0.0 测试");
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestProgrammingPage::versionRead()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, shown);
    page->form()->labelVersion->setText(QStringLiteral("old"));
    reply(0x0001, payload);
    QCOMPARE(page->form()->labelVersion->text(), shown);
    QVERIFY(sent.isEmpty());
    QVERIFY(!page->isRunning());
}

void TestProgrammingPage::chooseFile()
{
    answerFileDialog(QStringLiteral("/some/where/image.bin"));
    page->form()->btnChoose->click();
    QCOMPARE(page->form()->leFile->text(), QStringLiteral("/some/where/image.bin"));
    QCOMPARE(fileRequests.size(), 1);
    QCOMPARE(fileRequests[0].mode, Dialogs::FileMode::Open);
    QCOMPARE(fileRequests[0].caption, QStringLiteral("Choose programming file"));
    QCOMPARE(fileRequests[0].filter, QStringLiteral("Binary Files(*.bin);;*"));
    QCOMPARE(fileRequests[0].directory, QCoreApplication::applicationDirPath());

    // Starts at the current path; a cancelled dialog keeps it.
    answerFileDialog(QString());
    page->form()->btnChoose->click();
    QCOMPARE(fileRequests.last().directory, QStringLiteral("/some/where/image.bin"));
    QCOMPARE(page->form()->leFile->text(), QStringLiteral("/some/where/image.bin"));
}

void TestProgrammingPage::emptyPathIsATip()
{
    page->form()->btnProgramming->click();
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Tip"));
    QCOMPARE(box.text, QStringLiteral("Programming file is not choosen!"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QVERIFY(sent.isEmpty());
    QVERIFY(!page->isRunning());
}

// ---------------------------------------------------------------- the run

void TestProgrammingPage::transferMode_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<bool>("legacy");
    QTest::newRow("5-byte reply") << QByteArray("v1.2.") << false;
    QTest::newRow("empty reply") << QByteArray() << false;
    QTest::newRow("v1.2.2 r1") << QByteArray("v1.2.2 r1") << true;
    QTest::newRow("v1.2.2 alone, 6 bytes") << QByteArray("v1.2.2") << true;
    QTest::newRow("v1.2.3 build") << QByteArray("v1.2.3 build") << false;
    QTest::newRow("v2.0.0 x") << QByteArray("v2.0.0 x") << false;
    QTest::newRow("v0.9.9 old") << QByteArray("v0.9.9 old") << true;
    QTest::newRow("v1.1.300 x, packed with OR") << QByteArray("v1.1.300 x") << true;
    QTest::newRow("blanks before numbers") << QByteArray("v 1. 2. 2 r") << true;
    QTest::newRow("not a version") << QByteArray("firmware 7") << false;
    QTest::newRow("capital V") << QByteArray("V1.0.0 x") << false;
    QTest::newRow("two numbers only") << QByteArray("v1.2 build") << false;
    QTest::newRow("negative major") << QByteArray("v-1.9.9 x") << true;
    QTest::newRow("number too large") << QByteArray("v99999999999.0.0 x") << false;
}

void TestProgrammingPage::transferMode()
{
    QFETCH(QByteArray, version);
    QFETCH(bool, legacy);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, "ab"));
    QCOMPARE(startRun(path, version), QByteArray::fromHex("0000000002"));
    QCOMPARE(page->isLegacyTransfer(), legacy);
    reply(0x0100, QByteArray(1, '\1'));
    const Sent chunk = takeSent();
    QCOMPARE(chunk.cmd, 0x0101);
    QCOMPARE(chunk.data, legacy ? QByteArray("ab") : QByteArray("\0ab", 3));
}

void TestProgrammingPage::chunking_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("chunks");
    QTest::newRow("1 byte") << 1 << QList<int>{1};
    QTest::newRow("1024 bytes") << 1024 << QList<int>{1024};
    QTest::newRow("1025 bytes") << 1025 << QList<int>{1024, 1};
    QTest::newRow("3000 bytes") << 3000 << QList<int>{1024, 1024, 952};
}

void TestProgrammingPage::chunking()
{
    QFETCH(int, size);
    QFETCH(QList<int>, chunks);
    const QByteArray image = pattern(size);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, image));
    page->setProgressInterval(0);
    page->typeCombo()->setCurrentIndex(2);
    sent.clear();
    const QByteArray start = startRun(path);
    QByteArray expectedStart = QByteArray::fromHex("02");
    expectedStart.append(char(size >> 24)).append(char(size >> 16)).append(char(size >> 8)).append(char(size));
    QCOMPARE(start, expectedStart);
    QCOMPARE(page->phase(), ProgrammingPage::Phase::Starting);

    reply(0x0100, QByteArray(1, '\1'));
    QCOMPARE(page->statusText(), QStringLiteral("Programming..."));
    QByteArray received;
    for (int i = 0; i < chunks.size(); ++i) {
        const Sent chunk = takeSent();
        QCOMPARE(chunk.cmd, 0x0101);
        QCOMPARE(chunk.data.size(), chunks[i] + 1);
        QCOMPARE(quint8(chunk.data.at(0)), quint8(i));
        received.append(chunk.data.mid(1));
        QVERIFY(sent.isEmpty());
        // The timer runs while data is left and stops after the last chunk.
        QCOMPARE(page->chunkTimer()->isActive(), i + 1 < chunks.size());
        QCOMPARE(page->form()->progressBar->value(), int(received.size()));
        reply(0x0101, QByteArray(1, '\1'));
    }
    QCOMPARE(received, image);
    QVERIFY2(sent.isEmpty(), "the last acknowledgement sends nothing more");
    QVERIFY(page->isRunning());
    QCOMPARE(page->form()->progressBar->format(), QStringLiteral("Progress: 100.00%"));

    reply(0x0102, QByteArray());
    QVERIFY(!page->isRunning());
    QCOMPARE(page->statusText(), QStringLiteral("Installing program..."));
    reply(0x0103, QByteArray());
    QVERIFY(page->statusText().isEmpty());
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Information"));
    QCOMPARE(box.text, QStringLiteral("Programming finish!"));
    QCOMPARE(box.buttons, QStringList{MsgBox::sureText()});
    QVERIFY(QFile::exists(path));
}

void TestProgrammingPage::emptyImageWaitsForDevice()
{
    const QString path = work->file(QStringLiteral("empty.bin"));
    QVERIFY(writeFile(path, QByteArray()));
    QCOMPARE(startRun(path), QByteArray::fromHex("0000000000"));
    reply(0x0100, QByteArray(1, '\1'));
    QVERIFY(sent.isEmpty());
    QVERIFY(page->isRunning());
    QVERIFY(!page->chunkTimer()->isActive());
    reply(0x0102, QByteArray());
    reply(0x0103, QByteArray());
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming finish!"));
}

void TestProgrammingPage::sequenceByteWraps()
{
    const int chunks = 300;
    const QString path = work->file(QStringLiteral("big.bin"));
    QVERIFY(writeFile(path, pattern(chunks * 1024)));
    startRun(path);
    reply(0x0100, QByteArray(1, '\1'));
    for (int i = 0; i < chunks; ++i) {
        const Sent chunk = takeSent();
        QCOMPARE(chunk.cmd, 0x0101);
        QCOMPARE(quint8(chunk.data.at(0)), quint8(i & 0xFF));
        if (i == 256)
            QCOMPARE(quint8(chunk.data.at(0)), quint8(0));
        reply(0x0101, QByteArray(1, '\1'));
    }
    QVERIFY(sent.isEmpty());
}

void TestProgrammingPage::progressText()
{
    QCOMPARE(ProgProtocol::percentText(512, 2048), QStringLiteral("25.00"));
    QCOMPARE(ProgProtocol::percentText(1, 3), QStringLiteral("33.33"));
    QCOMPARE(ProgProtocol::percentText(0, 0), QStringLiteral("0.00"));

    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(4096)));
    page->form()->leFile->setText(path);
    page->form()->btnProgramming->click();
    QCOMPARE(page->form()->progressBar->format(), QStringLiteral("Progress: 0%"));
    QCOMPARE(page->form()->progressBar->value(), 0);
    sent.clear();
    reply(0x0001, "v1.3.0 x");
    reply(0x0100, QByteArray(1, '\1'));
    QCOMPARE(page->form()->progressBar->maximum(), 4096);
    QCOMPARE(page->form()->progressBar->format(), QStringLiteral("Progress: 25.00%"));
}

void TestProgrammingPage::progressStepsAreCoalesced()
{
    page->setProgressInterval(10000);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(4096)));
    startRun(path);
    reply(0x0100, QByteArray(1, '\1'));
    QProgressBar* bar = page->form()->progressBar;
    QCOMPARE(bar->value(), 1024); // the first step shows at once
    reply(0x0101, QByteArray(1, '\1'));
    reply(0x0101, QByteArray(1, '\1'));
    QCOMPARE(bar->value(), 1024); // later steps wait for the interval ...
    QCOMPARE(page->chunkSender().bytesDone(), qint64(3072));
    reply(0x0101, QByteArray(1, '\1'));
    QCOMPARE(bar->value(), 4096); // ... but the last one does not
    QCOMPARE(bar->format(), QStringLiteral("Progress: 100.00%"));

    // A step held back is shown when the interval is over.
    page->setProgressInterval(50);
    sent.clear();
    QCOMPARE(startRun(path), QByteArray::fromHex("0000001000"));
    reply(0x0100, QByteArray(1, '\1'));
    reply(0x0101, QByteArray(1, '\1'));
    QCOMPARE(bar->value(), 1024);
    QTRY_COMPARE(bar->value(), 2048);
    QCOMPARE(bar->format(), QStringLiteral("Progress: 50.00%"));
    sent.clear();
}

void TestProgrammingPage::resendsThenTimeout()
{
    page->setChunkInterval(30);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(3000)));
    startRun(path);
    reply(0x0100, QByteArray(1, '\1'));
    const Sent first = takeSent();
    reply(0x0101, QByteArray(1, '\1'));
    const Sent second = takeSent();
    QCOMPARE(quint8(second.data.at(0)), quint8(1));

    // Three resends of the same chunk, then the run ends before the box.
    bool runEndedBeforeBox = false;
    MsgBox::Interceptor previous = MsgBox::setInterceptor([&](const MsgBox::Request& r) {
        runEndedBeforeBox = !page->isRunning() && !page->chunkTimer()->isActive();
        return previous(r);
    });
    QVERIFY(waitFor([this] { return boxes->count() > 0; }));
    MsgBox::setInterceptor(previous);
    QCOMPARE(sent.size(), 3);
    for (const Sent& s : sent) {
        QCOMPARE(s.cmd, 0x0101);
        QCOMPARE(s.data, second.data);
    }
    sent.clear();
    QVERIFY(runEndedBeforeBox);
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("Programming timeout!"));
    QVERIFY(page->statusText().isEmpty());
    Q_UNUSED(first)
}

void TestProgrammingPage::legacyTimesOutAtOnce()
{
    page->setChunkInterval(30);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(3000)));
    startRun(path, "v1.2.2 r1");
    reply(0x0100, QByteArray(1, '\1'));
    QCOMPARE(takeSent().data, pattern(3000).left(1024));
    QVERIFY(waitFor([this] { return boxes->count() > 0; }));
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming timeout!"));
    QVERIFY2(sent.isEmpty(), "legacy chunks are never resent");
    QVERIFY(!page->isRunning());
}

void TestProgrammingPage::refusals_data()
{
    QTest::addColumn<int>("cmd");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("text");
    QTest::newRow("start refused") << 0x0100 << QByteArray(1, '\0')
                                   << QStringLiteral("Start programming failed!");
    QTest::newRow("start reply without payload")
        << 0x0100 << QByteArray() << QStringLiteral("Start programming failed!");
    QTest::newRow("chunk refused") << 0x0101 << QByteArray(1, '\0')
                                   << QStringLiteral("Programming failed!");
    QTest::newRow("chunk reply without payload")
        << 0x0101 << QByteArray() << QStringLiteral("Programming failed!");
}

void TestProgrammingPage::refusals()
{
    QFETCH(int, cmd);
    QFETCH(QByteArray, payload);
    QFETCH(QString, text);
    page->setChunkInterval(30);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(3000)));
    startRun(path);
    if (cmd == 0x0101) {
        reply(0x0100, QByteArray(1, '\1'));
        QCOMPARE(takeSent().cmd, 0x0101);
    }
    // A reply without payload arrives with a pointer that must not be read.
    const char poison[] = {1, 1};
    page->handleRespond(cmd, payload.isEmpty() ? reinterpret_cast<const quint8*>(poison)
                                               : reinterpret_cast<const quint8*>(payload.constData()),
                        payload.size());
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, text);
    QVERIFY(!page->isRunning());
    QVERIFY(!page->chunkTimer()->isActive());
    QTest::qWait(100);
    QVERIFY2(sent.isEmpty(), "no resend after a refusal");
    QCOMPARE(boxes->count(), 0);
}

void TestProgrammingPage::linkLossEndsRun()
{
    page->handleError();
    QCOMPARE(boxes->count(), 0); // idle: nothing to report

    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(3000)));
    startRun(path);
    reply(0x0100, QByteArray(1, '\1'));
    page->handleError();
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.title, QStringLiteral("Information"));
    QCOMPARE(box.text, QStringLiteral("Programming failed!"));
    QVERIFY(!page->isRunning());
    QVERIFY(!page->chunkTimer()->isActive());
}

void TestProgrammingPage::finishWaitIsBounded_data()
{
    QTest::addColumn<bool>("installing");
    QTest::newRow("no 0x0102 after the last chunk") << false;
    QTest::newRow("no 0x0103 after 0x0102") << true;
}

void TestProgrammingPage::finishWaitIsBounded()
{
    QFETCH(bool, installing);
    page->setFinishTimeout(50);
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(100)));
    startRun(path);
    reply(0x0100, QByteArray(1, '\1'));
    takeSent();
    reply(0x0101, QByteArray(1, '\1'));
    if (installing)
        reply(0x0102, QByteArray());
    QVERIFY(waitFor([this] { return boxes->count() > 0; }));
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("Programming timeout!"));
    QVERIFY(!page->isRunning());
    QVERIFY(page->statusText().isEmpty());
    QCOMPARE(page->phase(), ProgrammingPage::Phase::Idle);
}

void TestProgrammingPage::finishWithoutInstalling()
{
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(10)));
    startRun(path);
    reply(0x0100, QByteArray(1, '\1'));
    takeSent();
    reply(0x0101, QByteArray(1, '\1'));
    reply(0x0103, QByteArray());
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming finish!"));
    QVERIFY(!page->isRunning());
    page->handleError();
    QCOMPARE(boxes->count(), 0);
}

void TestProgrammingPage::versionReplyDuringTransferDoesNotRestart()
{
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(3000)));
    startRun(path);
    reply(0x0100, QByteArray(1, '\1'));
    takeSent();
    reply(0x0001, "v1.3.0 again");
    QVERIFY(sent.isEmpty());
    QCOMPARE(page->form()->labelVersion->text(), QStringLiteral("v1.3.0 again"));
    reply(0x0101, QByteArray(1, '\1'));
    QCOMPARE(quint8(takeSent().data.at(0)), quint8(1));
}

void TestProgrammingPage::sendErrorInsideChunkEndsRun()
{
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(3000)));
    startRun(path);
    // The link reports a failed send while the chunk is being emitted.
    auto failing = connect(page, &ProgrammingPage::sendCmd, page, &ProgrammingPage::handleError);
    reply(0x0100, QByteArray(1, '\1'));
    disconnect(failing);
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming failed!"));
    QVERIFY(!page->isRunning());
    QVERIFY(!page->chunkTimer()->isActive());
    QVERIFY(!page->waitTimer()->isActive());
}

// ------------------------------------------------------ temporary image

void TestProgrammingPage::packageIsUnpackedAndItsImageRemoved()
{
    const QByteArray image = pattern(1500);
    const QString path = work->file(QStringLiteral("package.bin"));
    QVERIFY(writeFile(path, package(3, shifted(image, 1500))));
    QCOMPARE(startRun(path), QByteArray::fromHex("00000005dc"));
    const QString temp = FirmwarePackage::tempImagePath();
    QVERIFY(QFile::exists(temp));
    reply(0x0100, QByteArray(1, '\1'));
    QByteArray received = takeSent().data.mid(1);
    reply(0x0101, QByteArray(1, '\1'));
    received += takeSent().data.mid(1);
    QCOMPARE(received, image);
    reply(0x0101, QByteArray(1, '\1'));
    reply(0x0102, QByteArray());
    QVERIFY(!QFile::exists(temp));
    QVERIFY(QFile::exists(path));
    reply(0x0103, QByteArray());
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming finish!"));
}

void TestProgrammingPage::userFileNamedLikeTheTemporaryImageSurvives()
{
    // Plain images named like the temporary image, the temporary image's own
    // path included: the page did not make them, so it keeps them.
    QVERIFY(QDir().mkpath(FirmwarePackage::tempImageDir()));
    for (const QString& path : {work->file(QStringLiteral("tmp.bin")),
                                work->file(QStringLiteral("my-tmp.bin")),
                                FirmwarePackage::tempImagePath()}) {
        QVERIFY(writeFile(path, "plain"));
        QCOMPARE(startRun(path), QByteArray::fromHex("0000000005"));
        reply(0x0100, QByteArray(1, '\1'));
        QCOMPARE(takeSent().data, QByteArray("\0plain", 6));
        reply(0x0101, QByteArray(1, '\1'));
        reply(0x0102, QByteArray());
        QVERIFY2(QFile::exists(path), qPrintable(path));
        // Ended by a failure as well.
        startRun(path);
        reply(0x0100, QByteArray(1, '\0'));
        QCOMPARE(boxes->takeText(), QStringLiteral("Start programming failed!"));
        QVERIFY2(QFile::exists(path), qPrintable(path));
    }
}

void TestProgrammingPage::damagedPackageIsNotSent()
{
    const QString path = work->file(QStringLiteral("damaged.bin"));
    QByteArray bytes = package(1, pattern(100));
    bytes[20] = static_cast<char>(bytes.at(20) ^ 0x40);
    QVERIFY(writeFile(path, bytes));
    QCOMPARE(startRun(path), QByteArray());
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("The programming file is a damaged firmware package!"));
    QVERIFY(!page->isRunning());

    QVERIFY(writeFile(path, package(2, shifted(pattern(10), 11))));
    QCOMPARE(startRun(path), QByteArray());
    QCOMPARE(boxes->takeText(), QStringLiteral("The programming file is a damaged firmware package!"));
}

void TestProgrammingPage::emptyPackageSendsNothing()
{
    QVERIFY(QDir().mkpath(FirmwarePackage::tempImageDir()));
    QVERIFY(writeFile(FirmwarePackage::tempImagePath(), "leftover of another run"));
    const QString path = work->file(QStringLiteral("empty-package.bin"));
    QVERIFY(writeFile(path, package(1, QByteArray())));
    QCOMPARE(startRun(path), QByteArray());
    QCOMPARE(boxes->takeText(), QStringLiteral("Open programming file failed!"));
    QVERIFY(!page->isRunning());
}

void TestProgrammingPage::temporaryImageNotWritable()
{
    QVERIFY(writeFile(FirmwarePackage::tempImageDir(), "a file where the folder belongs"));
    const QString path = work->file(QStringLiteral("package.bin"));
    QVERIFY(writeFile(path, package(0, pattern(10))));
    QCOMPARE(startRun(path), QByteArray());
    QCOMPARE(boxes->takeText(), QStringLiteral("Open programming file failed!"));
}

void TestProgrammingPage::unreadableFile()
{
    QCOMPARE(startRun(work->file(QStringLiteral("missing.bin"))), QByteArray());
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("Open programming file failed!"));
    QVERIFY(!page->isRunning());
}

// ----------------------------------------------------------------- backup

void TestProgrammingPage::backupCompletes()
{
    const QString target = work->file(QStringLiteral("backup.bin"));
    answerFileDialog(target);
    page->typeCombo()->setCurrentIndex(1);
    sent.clear();
    page->form()->btnBackup->click();
    Sent s = takeSent();
    QCOMPARE(s.cmd, 0x0151);
    QCOMPARE(s.data, QByteArray(1, '\x01'));

    reply(0x0150, QByteArray());
    QCOMPARE(page->statusText(), QStringLiteral("Backuping program..."));
    reply(0x0151, QByteArray::fromHex("00000a00")); // 2560 bytes
    QCOMPARE(fileRequests.size(), 1);
    QCOMPARE(fileRequests[0].mode, Dialogs::FileMode::Save);
    QCOMPARE(fileRequests[0].caption, QStringLiteral("Backup program"));
    QCOMPARE(fileRequests[0].filter, QStringLiteral("Binary File(*.bin)"));
    QCOMPARE(fileRequests[0].directory, QCoreApplication::applicationDirPath());
    QCOMPARE(page->statusText(), QStringLiteral("Receiving backup file..."));
    s = takeSent();
    QCOMPARE(s.cmd, 0x0152);
    QVERIFY(s.data.isEmpty());

    const QByteArray program = pattern(2560, 9);
    reply(0x0152, program.left(1000));
    QCOMPARE(page->form()->progressBar->format(), QStringLiteral("Progress: 39.06%"));
    QCOMPARE(takeSent().cmd, 0x0152);
    reply(0x0152, program.mid(1000, 1560));
    QVERIFY(sent.isEmpty());
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Information"));
    QCOMPARE(box.text, QStringLiteral("Backup file finished!"));
    QCOMPARE(readFile(target), program);
    QVERIFY(!page->isBackupRunning());
    // Late pieces go nowhere.
    reply(0x0152, "late");
    QCOMPARE(readFile(target), program);
}

void TestProgrammingPage::backupRefusals_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("statusCleared");
    QTest::newRow("size 0") << QByteArray::fromHex("00000000") << true;
    QTest::newRow("no payload") << QByteArray() << false;
    QTest::newRow("three bytes") << QByteArray::fromHex("000100") << false;
    QTest::newRow("five bytes") << QByteArray::fromHex("0000010000") << false;
}

void TestProgrammingPage::backupRefusals()
{
    QFETCH(QByteArray, payload);
    QFETCH(bool, statusCleared);
    answerFileDialog(work->file(QStringLiteral("never.bin")));
    reply(0x0150, QByteArray());
    reply(0x0151, payload);
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("Start backup failed!"));
    QCOMPARE(page->statusText().isEmpty(), statusCleared);
    QVERIFY(fileRequests.isEmpty());
    QVERIFY(sent.isEmpty());
}

void TestProgrammingPage::backupCancelledDialog()
{
    answerFileDialog(QString());
    reply(0x0150, QByteArray());
    reply(0x0151, QByteArray::fromHex("00000010"));
    QVERIFY(page->statusText().isEmpty());
    QVERIFY(sent.isEmpty());
    QVERIFY(!page->isBackupRunning());
}

void TestProgrammingPage::backupFileCannotBeOpened()
{
    answerFileDialog(work->path()); // a folder
    reply(0x0151, QByteArray::fromHex("00000010"));
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("Cannot open backup file!"));
    QVERIFY(sent.isEmpty());
}

void TestProgrammingPage::backupLinkLoss()
{
    const QString target = work->file(QStringLiteral("backup.bin"));
    answerFileDialog(target);
    reply(0x0151, QByteArray::fromHex("00001000"));
    takeSent();
    reply(0x0152, "part");
    takeSent();
    page->handleError();
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("Backup file failed!"));
    QVERIFY(!page->isBackupRunning());
    QCOMPARE(readFile(target), QByteArray("part"));
    reply(0x0152, "more");
    QCOMPARE(readFile(target), QByteArray("part"));
    // An empty piece is a failure too.
    reply(0x0151, QByteArray::fromHex("00001000"));
    takeSent();
    reply(0x0152, QByteArray());
    QCOMPARE(boxes->takeText(), QStringLiteral("Backup file failed!"));
}

void TestProgrammingPage::backupPieceTimeout()
{
    page->setBackupReplyTimeout(50);
    answerFileDialog(work->file(QStringLiteral("backup.bin")));
    reply(0x0151, QByteArray::fromHex("00001000"));
    QVERIFY(waitFor([this] { return boxes->count() > 0; }));
    QCOMPARE(boxes->takeText(), QStringLiteral("Backup file failed!"));
    QVERIFY(!page->isBackupRunning());
}

void TestProgrammingPage::backupTargetNamedTmpBinSurvives()
{
    const QString target = work->file(QStringLiteral("device-tmp.bin"));
    answerFileDialog(target);
    reply(0x0151, QByteArray::fromHex("00000004"));
    reply(0x0152, "data");
    QCOMPARE(boxes->takeText(), QStringLiteral("Backup file finished!"));
    QCOMPARE(readFile(target), QByteArray("data"));
    // A failed backup keeps what it received as well.
    reply(0x0151, QByteArray::fromHex("00000008"));
    reply(0x0152, "data");
    reply(0x0152, QByteArray());
    QCOMPARE(boxes->takeText(), QStringLiteral("Backup file failed!"));
    QVERIFY(QFile::exists(target));
}

void TestProgrammingPage::backupIgnoredWhileProgramming()
{
    const QString path = work->file(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, pattern(3000)));
    startRun(path);
    reply(0x0100, QByteArray(1, '\1'));
    takeSent();
    page->form()->btnBackup->click();
    QVERIFY(sent.isEmpty());
    answerFileDialog(work->file(QStringLiteral("backup.bin")));
    reply(0x0151, QByteArray::fromHex("00000004"));
    QVERIFY(fileRequests.isEmpty());
    reply(0x0101, QByteArray(1, '\1'));
    QCOMPARE(quint8(takeSent().data.at(0)), quint8(1));
}

QTEST_MAIN(TestProgrammingPage)
#include "tst_programmingpage.moc"
