// The programming page on its own: form, version read, the run's protocol
// (version check, start, chunks, sequence bytes, resends, bounds), the
// temporary image and the backup, driven by replies handed to
// handleRespond directly.
#include "pagetestutil.h"
#include "programming/firmwarepackage.h"
#include "programming/batchprogrammingdialog.h"
#include "programming/programmingpage.h"
#include "progtestutil.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

#include <sys/stat.h>

using namespace ProgTest;

namespace {

struct Sent
{
    int cmd;
    QByteArray data;
};

const QByteArray kAccepted(1, '\1');
const QByteArray kRefused(1, '\0');

// What a refused file needs besides the file itself.
enum class Setup
{
    None,
    LeftoverImage,
    TempFolderIsAFile,
    NoFile,
    Fifo, // refused before the run starts
    Folder,
    TooLarge
};

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestProgrammingPage : public BoxCheckedTest
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void formAndTypes();
    void versionRead_data();
    void versionRead();
    void chooseFile();

    void transferMode_data();
    void transferMode();
    void chunking_data();
    void chunking();
    void emptyImageWaitsForDevice();
    void progress();
    void timeout_data();
    void timeout();
    void refusals_data();
    void refusals();
    void linkLossEndsRun();
    void finish_data();
    void finish();
    void oneRunOrBackupAtATime();
    void lateWordOfEarlierRun();
    void silentDevice_data();
    void silentDevice();
    void sendErrorInsideChunkEndsRun();
    void textsFollowLanguageAndLayout();

    void packageIsUnpackedAndItsImageRemoved();
    void userFileNamedLikeTheTemporaryImageSurvives();
    void fileRefused_data();
    void fileRefused();

    void backupCompletes();
    void backupRefusals_data();
    void backupRefusals();
    void backupTargetUnusable();
    void backupFailures();

private:
    void reply(int cmd, const QByteArray& payload) { respond(*page, cmd, payload); }
    // Backup, Programming, Read, Batch Programming and the type combo.
    bool controlsEnabled() const
    {
        const UI_ProgrammingPage* f = page->form();
        const bool all = f->btnBackup->isEnabled() && f->btnProgramming->isEnabled() &&
                         f->btnRead->isEnabled() && f->btnBatch->isEnabled() &&
                         f->comboType->isEnabled();
        const bool none = !f->btnBackup->isEnabled() && !f->btnProgramming->isEnabled() &&
                          !f->btnRead->isEnabled() && !f->btnBatch->isEnabled() &&
                          !f->comboType->isEnabled();
        if (!all && !none)
            qWarning("the controls disagree");
        return all;
    }
    Sent takeSent() { return sent.isEmpty() ? Sent{-1, QByteArray()} : sent.takeFirst(); }
    QString imageFile(const QByteArray& bytes)
    {
        const QString path = work->file(QStringLiteral("image.bin"));
        writeFile(path, bytes);
        return path;
    }
    // Starts a run with the file and answers the version check; returns the
    // 0x0100 request's payload.
    QByteArray startRun(const QString& path, const QByteArray& version = "v1.3.0 build42");
    // Starts a run of the image and accepts it; returns the first chunk.
    Sent startTransfer(const QByteArray& image, const QByteArray& version = "v1.3.0 build42")
    {
        startRun(imageFile(image), version);
        reply(0x0100, kAccepted);
        return takeSent();
    }

    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<FileAnswer> files;
    std::unique_ptr<ProgrammingPage> page;
    QList<Sent> sent;
};

void TestProgrammingPage::init()
{
    BoxCheckedTest::init();
    work = std::make_unique<TempWorkDir>();
    QVERIFY(QDir().mkpath(QStringLiteral("app")));
    FirmwarePackage::setBaseDir(work->file(QStringLiteral("app")));
    files = std::make_unique<FileAnswer>();
    page = std::make_unique<ProgrammingPage>();
    connect(page.get(), &ProgrammingPage::sendCmd, this, [this](int cmd, QByteArray data) {
        sent.append(Sent{cmd, data});
    });
    sent.clear();
}

void TestProgrammingPage::cleanup()
{
    page.reset();
    BoxCheckedTest::cleanup();
    files.reset();
    FirmwarePackage::setBaseDir(QString());
    work.reset();
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

// ------------------------------------------------------------------- form

void TestProgrammingPage::formAndTypes()
{
    QComboBox* combo = page->typeCombo();
    QCOMPARE(combo->count(), 3);
    QCOMPARE((QStringList{combo->itemText(0), combo->itemText(1), combo->itemText(2)}),
             (QStringList{"APP", "Firmware", "Patch"}));
    QCOMPARE(page->form()->btnBatch->text(), QStringLiteral("Batch Programming"));
    // The batch dialog exists once, without a parent, and is not shown.
    QVERIFY(page->batchDialog());
    QVERIFY(!page->batchDialog()->parent());
    QVERIFY(!page->batchDialog()->isVisible());
    QVERIFY(!page->chunkTimer()->isSingleShot());
    QVERIFY(!page->chunkTimer()->parent());
    QVERIFY(sent.isEmpty());

    // Choosing a type, and "Read", ask for that type's version.
    combo->setCurrentIndex(2);
    page->form()->btnRead->click();
    for (int i = 0; i < 2; ++i) {
        const Sent s = takeSent();
        QCOMPARE(s.cmd, 0x0001);
        QCOMPARE(s.data, QByteArray(1, '\x02'));
    }

    // "root" is added once and kept, selected, across a language change.
    page->addRootProgType();
    page->addRootProgType();
    QCOMPARE(combo->count(), 4);
    QCOMPARE(combo->itemText(3), QStringLiteral("root"));
    combo->setCurrentIndex(3);
    QCOMPARE(takeSent().data, QByteArray(1, '\x03'));
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(page.get(), &change);
    QCOMPARE(combo->count(), 4);
    QCOMPARE(combo->currentIndex(), 3);
    QVERIFY2(sent.isEmpty(), "re-applying the texts sends nothing");
    combo->setCurrentIndex(1);
    QCoreApplication::sendEvent(page.get(), &change);
    QCOMPARE(combo->currentIndex(), 1);
    QCOMPARE(sent.size(), 1);
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
    files->path = QStringLiteral("/some/where/image.bin");
    page->form()->btnChoose->click();
    QCOMPARE(page->form()->leFile->text(), QStringLiteral("/some/where/image.bin"));
    QCOMPARE(files->requests.size(), 1);
    QCOMPARE(files->request(0), "Open|Choose programming file|Binary Files(*.bin);;*|" + appDir());

    // Starts at the current path; a cancelled dialog keeps it.
    files->path.clear();
    page->form()->btnChoose->click();
    QCOMPARE(files->requests.last().directory, QStringLiteral("/some/where/image.bin"));
    QCOMPARE(page->form()->leFile->text(), QStringLiteral("/some/where/image.bin"));

    // No path at all: a tip, nothing sent.
    page->form()->leFile->clear();
    page->form()->btnProgramming->click();
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.summary(), QStringLiteral("[Tip] Programming file is not choosen!"));
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
    QCOMPARE(startRun(imageFile("ab"), version), QByteArray::fromHex("0000000002"));
    QCOMPARE(page->isLegacyTransfer(), legacy);
    reply(0x0100, kAccepted);
    const Sent chunk = takeSent();
    QCOMPARE(chunk.cmd, 0x0101);
    QCOMPARE(chunk.data, legacy ? QByteArray("ab") : QByteArray("\0ab", 3));
}

void TestProgrammingPage::chunking_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("1 byte") << 1;
    QTest::newRow("1024 bytes") << 1024;
    QTest::newRow("1025 bytes") << 1025;
    QTest::newRow("3000 bytes") << 3000;
    QTest::newRow("300 chunks, the sequence byte wraps") << 300 * 1024;
}

void TestProgrammingPage::chunking()
{
    QFETCH(int, size);
    const QByteArray image = pattern(size);
    const QString path = imageFile(image);
    page->setProgressInterval(0);
    page->typeCombo()->setCurrentIndex(2);
    sent.clear();
    QByteArray expectedStart = QByteArray::fromHex("02");
    expectedStart.append(char(size >> 24)).append(char(size >> 16)).append(char(size >> 8)).append(char(size));
    QCOMPARE(startRun(path), expectedStart);
    QCOMPARE(page->phase(), ProgrammingPage::Phase::Starting);

    reply(0x0100, kAccepted);
    QCOMPARE(page->statusText(), QStringLiteral("Programming..."));
    const int chunks = (size + 1023) / 1024;
    QByteArray received;
    for (int i = 0; i < chunks; ++i) {
        const Sent chunk = takeSent();
        QCOMPARE(chunk.cmd, 0x0101);
        QCOMPARE(chunk.data.size(), qMin(1024, size - 1024 * i) + 1);
        QCOMPARE(quint8(chunk.data.at(0)), quint8(i & 0xFF));
        received.append(chunk.data.mid(1));
        QVERIFY(sent.isEmpty());
        // Every chunk, the last one too, waits for its acknowledgement.
        QVERIFY(page->chunkTimer()->isActive());
        QCOMPARE(page->form()->progressBar->value(), int(received.size()));
        reply(0x0101, kAccepted);
    }
    QCOMPARE(received, image);
    QVERIFY2(sent.isEmpty(), "the last acknowledgement sends nothing more");
    QVERIFY(!page->chunkTimer()->isActive());
    QCOMPARE(page->phase(), ProgrammingPage::Phase::WaitingEnd);
    QVERIFY(page->isRunning());
    QCOMPARE(page->form()->progressBar->format(), QStringLiteral("Progress: 100.00%"));

    reply(0x0102, QByteArray());
    QVERIFY(!page->isRunning());
    QCOMPARE(page->statusText(), QStringLiteral("Installing program..."));
    page->form()->labelVersion->setText(QStringLiteral("v1.3.0 before"));
    reply(0x0103, QByteArray());
    QVERIFY(page->statusText().isEmpty());
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.summary(), QStringLiteral("[Information] Programming finish!"));
    QCOMPARE(box.buttons, QStringList{MsgBox::sureText()});
    QVERIFY(QFile::exists(path));
    // The version is read back (of the type programmed) and shown.
    const Sent ask = takeSent();
    QCOMPARE(ask.cmd, 0x0001);
    QCOMPARE(ask.data, QByteArray(1, '\x02'));
    QVERIFY(page->form()->labelVersion->text().isEmpty());
    reply(0x0001, "v1.4.0 after");
    QCOMPARE(page->form()->labelVersion->text(), QStringLiteral("v1.4.0 after"));
}

void TestProgrammingPage::emptyImageWaitsForDevice()
{
    QCOMPARE(startRun(imageFile(QByteArray())), QByteArray::fromHex("0000000000"));
    reply(0x0100, kAccepted);
    QVERIFY(sent.isEmpty());
    QVERIFY(page->isRunning());
    QVERIFY(!page->chunkTimer()->isActive());
    reply(0x0102, QByteArray());
    reply(0x0103, QByteArray());
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming finish!"));
    sent.clear();
}

void TestProgrammingPage::progress()
{
    QCOMPARE(ProgProtocol::percentText(512, 2048), QStringLiteral("25.00"));
    QCOMPARE(ProgProtocol::percentText(1, 3), QStringLiteral("33.33"));
    QCOMPARE(ProgProtocol::percentText(0, 0), QStringLiteral("0.00"));

    // The first step shows at once, later ones wait for the interval, the
    // last one does not.
    page->setProgressInterval(10000);
    page->form()->leFile->setText(imageFile(pattern(4096)));
    page->form()->btnProgramming->click();
    QProgressBar* bar = page->form()->progressBar;
    QCOMPARE(bar->format(), QStringLiteral("Progress: 0%"));
    QCOMPARE(bar->value(), 0);
    reply(0x0001, "v1.3.0 x");
    reply(0x0100, kAccepted);
    QCOMPARE(bar->maximum(), 4096);
    QCOMPARE(bar->value(), 1024);
    QCOMPARE(bar->format(), QStringLiteral("Progress: 25.00%"));
    reply(0x0101, kAccepted);
    reply(0x0101, kAccepted);
    QCOMPARE(bar->value(), 1024);
    QCOMPARE(page->chunkSender().bytesDone(), qint64(3072));
    reply(0x0101, kAccepted);
    QCOMPARE(bar->value(), 4096);
    QCOMPARE(bar->format(), QStringLiteral("Progress: 100.00%"));
    reply(0x0103, QByteArray());
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming finish!"));

    // A step held back is shown when the interval is over.
    page->setProgressInterval(50);
    sent.clear();
    QCOMPARE(startRun(page->form()->leFile->text()), QByteArray::fromHex("0000001000"));
    reply(0x0100, kAccepted);
    reply(0x0101, kAccepted);
    QCOMPARE(bar->value(), 1024);
    QTRY_COMPARE(bar->value(), 2048);
    QCOMPARE(bar->format(), QStringLiteral("Progress: 50.00%"));
    sent.clear();
}

void TestProgrammingPage::timeout_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("resends");
    QTest::newRow("three resends, then the end") << QByteArray("v1.3.0 build42") << 3000 << 3;
    QTest::newRow("the last chunk alike") << QByteArray("v1.3.0 build42") << 2000 << 3;
    QTest::newRow("legacy chunks are never resent") << QByteArray("v1.2.2 r1") << 3000 << 0;
}

void TestProgrammingPage::timeout()
{
    QFETCH(QByteArray, version);
    QFETCH(int, size);
    QFETCH(int, resends);
    page->setChunkInterval(30);
    const QByteArray image = pattern(size);
    const QByteArray sequence = resends ? QByteArray(1, '\0') : QByteArray();
    QCOMPARE(startTransfer(image, version).data, sequence + image.left(1024));
    reply(0x0101, kAccepted);
    const Sent second = takeSent();
    QCOMPARE(second.data.right(size - 1024 < 1024 ? size - 1024 : 1024), image.mid(1024, 1024));

    // The run ends before the box comes.
    bool runEndedBeforeBox = false;
    {
        BoxHook hook([&](const MsgBox::Request& request, const MsgBox::Interceptor& next) {
            runEndedBeforeBox = !page->isRunning() && !page->chunkTimer()->isActive();
            return next(request);
        });
        QCOMPARE(boxes->waitForText(), QStringLiteral("Programming timeout!"));
    }
    QVERIFY(runEndedBeforeBox);
    QVERIFY(controlsEnabled());
    QCOMPARE(sent.size(), resends);
    for (const Sent& s : sent) {
        QCOMPARE(s.cmd, 0x0101);
        QCOMPARE(s.data, second.data);
    }
    sent.clear();
    QVERIFY(page->statusText().isEmpty());
}

void TestProgrammingPage::refusals_data()
{
    QTest::addColumn<int>("cmd");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("text");
    QTest::newRow("start refused") << 0x0100 << kRefused << "Start programming failed!";
    QTest::newRow("start reply without payload")
        << 0x0100 << QByteArray() << "Start programming failed!";
    QTest::newRow("chunk refused") << 0x0101 << kRefused << "Programming failed!";
    QTest::newRow("chunk reply without payload") << 0x0101 << QByteArray() << "Programming failed!";
}

void TestProgrammingPage::refusals()
{
    QFETCH(int, cmd);
    QFETCH(QByteArray, payload);
    QFETCH(QString, text);
    page->setChunkInterval(30);
    startRun(imageFile(pattern(3000)));
    if (cmd == 0x0101) {
        reply(0x0100, kAccepted);
        QCOMPARE(takeSent().cmd, 0x0101);
    }
    // A reply without payload arrives with a pointer that must not be read.
    const char poison[] = {1, 1};
    page->handleRespond(cmd, payload.isEmpty() ? reinterpret_cast<const quint8*>(poison)
                                               : reinterpret_cast<const quint8*>(payload.constData()),
                        payload.size());
    QCOMPARE(boxes->take().summary(), QStringLiteral("[Warning] ") + text);
    QVERIFY(!page->isRunning());
    QVERIFY(!page->chunkTimer()->isActive());
    QVERIFY(controlsEnabled());
    // Over three chunk intervals, no resend and no further box.
    QVERIFY2(!waitFor([this] { return !sent.isEmpty() || boxes->count() > 0; }, 100),
             "no resend after a refusal");
}

void TestProgrammingPage::linkLossEndsRun()
{
    page->handleError();
    QCOMPARE(boxes->count(), 0); // idle: nothing to report

    startTransfer(pattern(3000));
    page->handleError();
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.summary(), QStringLiteral("[Information] Programming failed!"));
    QVERIFY(!page->isRunning());
    QVERIFY(!page->chunkTimer()->isActive());
    QVERIFY(controlsEnabled());
}

void TestProgrammingPage::finish_data()
{
    QTest::addColumn<bool>("installing");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<QString>("text");
    QTest::newRow("no 0x0102 after the last chunk")
        << false << false << "[Warning] Programming timeout!";
    QTest::newRow("no 0x0103 after 0x0102") << true << false << "[Warning] Programming timeout!";
    QTest::newRow("0x0103 without 0x0102") << false << true << "[Information] Programming finish!";
}

// The wait for the end is bounded; after the end a lost link reports nothing.
void TestProgrammingPage::finish()
{
    QFETCH(bool, installing);
    QFETCH(bool, finished);
    QFETCH(QString, text);
    page->setFinishTimeout(50);
    startTransfer(pattern(100));
    reply(0x0101, kAccepted);
    if (installing)
        reply(0x0102, QByteArray());
    if (finished)
        reply(0x0103, QByteArray());
    QCOMPARE(boxes->waitForBox().summary(), text);
    QVERIFY(!page->isRunning());
    QVERIFY(page->statusText().isEmpty());
    QCOMPARE(page->phase(), ProgrammingPage::Phase::Idle);
    QVERIFY(controlsEnabled());
    page->handleError();
    sent.clear();
}

// While a run or a backup goes, nothing else starts: a second press would
// make the device begin its transfer again.
void TestProgrammingPage::oneRunOrBackupAtATime()
{
    QVERIFY(controlsEnabled());
    startTransfer(pattern(3000));
    QVERIFY(!controlsEnabled());
    for (QPushButton* button : {page->form()->btnProgramming, page->form()->btnBackup,
                                page->form()->btnRead, page->form()->btnBatch})
        button->click();
    QVERIFY(sent.isEmpty());
    // Replies out of turn neither restart nor disturb it.
    reply(0x0001, "v1.3.0 again");
    files->path = work->file(QStringLiteral("backup.bin"));
    reply(0x0151, QByteArray::fromHex("00000004"));
    QVERIFY(files->requests.isEmpty());
    QVERIFY(sent.isEmpty());
    reply(0x0101, kAccepted);
    QCOMPARE(quint8(takeSent().data.at(0)), quint8(1));
    page->handleError();
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming failed!"));
    QVERIFY(controlsEnabled());

    // A backup: from the press until its last piece, through the save dialog.
    page->form()->btnBackup->click();
    page->form()->btnBackup->click();
    QCOMPARE(takeSent().cmd, 0x0151);
    QVERIFY(sent.isEmpty());
    QVERIFY(!controlsEnabled());
    bool disabledInDialog = false;
    Dialogs::setFileInterceptor([&](const Dialogs::FileRequest&) {
        disabledInDialog = !controlsEnabled();
        return work->file(QStringLiteral("backup.bin"));
    });
    reply(0x0151, QByteArray::fromHex("00000008"));
    QVERIFY(disabledInDialog);
    QCOMPARE(takeSent().cmd, 0x0152);
    page->form()->btnProgramming->click();
    QVERIFY(sent.isEmpty());
    reply(0x0152, "12345678");
    QCOMPARE(boxes->takeText(), QStringLiteral("Backup file finished!"));
    QVERIFY(controlsEnabled());
    QCOMPARE(readFile(work->file(QStringLiteral("backup.bin"))), QByteArray("12345678"));

    // A device that never tells the backup size.
    page->setBackupReplyTimeout(30);
    page->form()->btnBackup->click();
    QCOMPARE(boxes->waitForText(), QStringLiteral("Start backup failed!"));
    QVERIFY(controlsEnabled());
    sent.clear();
}

// The device's last word of a run (0x0102, 0x0103) belongs to that run: it
// neither ends nor reports a new run started meanwhile.
void TestProgrammingPage::lateWordOfEarlierRun()
{
    startTransfer(pattern(2000));
    reply(0x0101, kAccepted);
    reply(0x0101, kAccepted);
    reply(0x0102, QByteArray());
    QCOMPARE(page->statusText(), QStringLiteral("Installing program..."));
    QVERIFY(controlsEnabled());
    sent.clear();
    QCOMPARE(startRun(page->form()->leFile->text()).size(), 5);
    reply(0x0103, QByteArray());
    reply(0x0102, QByteArray());
    QCOMPARE(page->phase(), ProgrammingPage::Phase::Starting);
    reply(0x0100, kAccepted);
    QCOMPARE(takeSent().cmd, 0x0101);
    reply(0x0103, QByteArray());
    QCOMPARE(page->phase(), ProgrammingPage::Phase::Sending);
    QCOMPARE(boxes->count(), 0);
    reply(0x0101, kAccepted);
    reply(0x0101, kAccepted);
    reply(0x0103, QByteArray());
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming finish!"));
    sent.clear();
}

void TestProgrammingPage::silentDevice_data()
{
    QTest::addColumn<bool>("answersVersion");
    QTest::newRow("no version reply") << false;
    QTest::newRow("no answer to the start") << true;
}

// A device that does not answer leaves no run behind; the box runs for real.
void TestProgrammingPage::silentDevice()
{
    QFETCH(bool, answersVersion);
    page->setReplyTimeout(30);
    page->form()->leFile->setText(imageFile(pattern(10)));
    RealBoxes real;
    page->form()->btnProgramming->click();
    if (answersVersion)
        reply(0x0001, "v1.3.0 x");
    QCOMPARE(real.waitFor(), QStringLiteral("[Warning] The device does not answer!"));
    QVERIFY(!page->isRunning());
    QVERIFY(controlsEnabled());
    sent.clear();
}
void TestProgrammingPage::sendErrorInsideChunkEndsRun()
{
    startRun(imageFile(pattern(3000)));
    // The link reports a failed send while the chunk is being emitted.
    auto failing =
        connect(page.get(), &ProgrammingPage::sendCmd, page.get(), &ProgrammingPage::handleError);
    reply(0x0100, kAccepted);
    disconnect(failing);
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming failed!"));
    QVERIFY(!page->isRunning());
    QVERIFY(!page->chunkTimer()->isActive());
    QVERIFY(!page->waitTimer()->isActive());
}

// What a run left on the page follows a language change; the file entry
// takes the free width of its row.
void TestProgrammingPage::textsFollowLanguageAndLayout()
{
    page->setProgressInterval(0);
    startTransfer(pattern(100));
    reply(0x0101, kAccepted);
    reply(0x0102, QByteArray());
    QTranslator chinese;
    QVERIFY(chinese.load(QStringLiteral(FM_QM_PATH)));
    QCoreApplication::installTranslator(&chinese);
    QTRY_COMPARE(page->statusText(), chinese.translate("ProgrammingPage", "Installing program..."));
    QCOMPARE(page->form()->progressBar->format(),
             chinese.translate("ProgrammingPage", "Progress: %1%").arg("100.00"));
    QVERIFY(page->form()->progressBar->format() != QStringLiteral("Progress: 100.00%"));
    QCoreApplication::removeTranslator(&chinese);
    QTRY_COMPARE(page->form()->progressBar->format(), QStringLiteral("Progress: 100.00%"));
    page->handleError();

    page->resize(800, 600);
    page->show();
    QVERIFY(QTest::qWaitForWindowExposed(page.get()));
    const UI_ProgrammingPage* f = page->form();
    const int others = f->labelFile->width() + f->btnChoose->width() +
                       f->btnProgramming->width() + f->btnBatch->width();
    QVERIFY2(f->leFile->width() > 800 - others - 80, qPrintable(QString::number(f->leFile->width())));
    QCOMPARE(f->btnBatch->geometry().right() + page->layout()->contentsMargins().right() + 1,
             page->width());
}

// ------------------------------------------------------ temporary image

void TestProgrammingPage::packageIsUnpackedAndItsImageRemoved()
{
    const QByteArray image = pattern(1500);
    const QString path = work->file(QStringLiteral("package.bin"));
    QVERIFY(writeFile(path, package(3, shifted(image, 1500))));
    QCOMPARE(startRun(path), QByteArray::fromHex("00000005dc"));
    // The run unpacked into an image of its own.
    const QDir folder(FirmwarePackage::tempImageDir());
    const QStringList images = folder.entryList(QDir::Files);
    QCOMPARE(images.size(), 1);
    const QString temp = folder.filePath(images.first());
    QVERIFY(temp != FirmwarePackage::tempImagePath());
    reply(0x0100, kAccepted);
    QByteArray received = takeSent().data.mid(1);
    reply(0x0101, kAccepted);
    received += takeSent().data.mid(1);
    QCOMPARE(received, image);
    reply(0x0101, kAccepted);
    reply(0x0102, QByteArray());
    QVERIFY(!QFile::exists(temp));
    QVERIFY(QFile::exists(path));
    reply(0x0103, QByteArray());
    QCOMPARE(boxes->takeText(), QStringLiteral("Programming finish!"));
    sent.clear();
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
        reply(0x0100, kAccepted);
        QCOMPARE(takeSent().data, QByteArray("\0plain", 6));
        reply(0x0101, kAccepted);
        reply(0x0102, QByteArray());
        QVERIFY2(QFile::exists(path), qPrintable(path));
        page->handleError(); // ends the wait for 0x0103
        // Ended by a failure as well.
        startRun(path);
        reply(0x0100, kRefused);
        QCOMPARE(boxes->takeText(), QStringLiteral("Start programming failed!"));
        QVERIFY2(QFile::exists(path), qPrintable(path));
    }
}

void TestProgrammingPage::fileRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("text");
    const QString damaged = QStringLiteral("The programming file is a damaged firmware package!");
    QByteArray badCrc = package(1, pattern(100));
    badCrc[20] = static_cast<char>(badCrc.at(20) ^ 0x40);
    QTest::newRow("CRC does not match") << badCrc << Setup::None << damaged;
    QTest::newRow("count beyond the image")
        << package(2, shifted(pattern(10), 11)) << Setup::None << damaged;
    QTest::newRow("empty package, a leftover image of another run")
        << package(1, QByteArray()) << Setup::LeftoverImage << "Open programming file failed!";
    QTest::newRow("temporary image not writable")
        << package(0, pattern(10)) << Setup::TempFolderIsAFile << "Open programming file failed!";
    QTest::newRow("no such file") << QByteArray() << Setup::NoFile
                                  << "Open programming file failed!";
    const QString notRegular = QStringLiteral("Only regular files can be opened, not folders, pipes or devices!");
    QTest::newRow("pipe") << QByteArray() << Setup::Fifo << notRegular;
    QTest::newRow("folder") << QByteArray() << Setup::Folder << notRegular;
    QTest::newRow("larger than 64 MiB") << QByteArray() << Setup::TooLarge
                                        << "The file is larger than 64 MiB!";
}

// Files that cannot be sent: nothing starts.
void TestProgrammingPage::fileRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Setup, setup);
    QFETCH(QString, text);
    if (setup == Setup::LeftoverImage) {
        QVERIFY(QDir().mkpath(FirmwarePackage::tempImageDir()));
        QVERIFY(writeFile(FirmwarePackage::tempImagePath(), "leftover of another run"));
    } else if (setup == Setup::TempFolderIsAFile) {
        QVERIFY(writeFile(FirmwarePackage::tempImageDir(), "a file where the folder belongs"));
    }
    const QString path = work->file(QStringLiteral("package.bin"));
    if (setup == Setup::Fifo)
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (setup == Setup::Folder)
        QVERIFY(QDir().mkpath(path));
    else if (setup != Setup::NoFile)
        QVERIFY(writeFile(path, bytes));
    if (setup == Setup::TooLarge) {
        QFile sparse(path);
        QVERIFY(sparse.open(QIODevice::ReadWrite) && sparse.resize(FirmwarePackage::kMaxFileBytes + 1));
    }
    QCOMPARE(startRun(path), setup >= Setup::Fifo ? QByteArray("no version check") : QByteArray());
    QCOMPARE(boxes->take().summary(), QStringLiteral("[Warning] ") + text);
    QVERIFY(!page->isRunning());
}

// ----------------------------------------------------------------- backup

// Backup targets are named like the temporary image ("...tmp.bin"): they are
// kept all the same, finished or not.
void TestProgrammingPage::backupCompletes()
{
    const QString target = work->file(QStringLiteral("device-tmp.bin"));
    files->path = target;
    page->typeCombo()->setCurrentIndex(1);
    sent.clear();
    page->form()->btnBackup->click();
    Sent s = takeSent();
    QCOMPARE(s.cmd, 0x0151);
    QCOMPARE(s.data, QByteArray(1, '\x01'));

    reply(0x0150, QByteArray());
    QCOMPARE(page->statusText(), QStringLiteral("Backuping program..."));
    reply(0x0151, QByteArray::fromHex("00000a00")); // 2560 bytes
    QCOMPARE(files->requests.size(), 1);
    QCOMPARE(files->request(0), "Save|Backup program|Binary File(*.bin)|" + appDir());
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
    QCOMPARE(boxes->take().summary(), QStringLiteral("[Information] Backup file finished!"));
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
    files->path = work->file(QStringLiteral("never.bin"));
    reply(0x0150, QByteArray());
    reply(0x0151, payload);
    QCOMPARE(boxes->take().summary(), QStringLiteral("[Warning] Start backup failed!"));
    QCOMPARE(page->statusText().isEmpty(), statusCleared);
    QVERIFY(files->requests.isEmpty());
    QVERIFY(sent.isEmpty());
}

void TestProgrammingPage::backupTargetUnusable()
{
    // A cancelled dialog ends the backup quietly.
    reply(0x0150, QByteArray());
    reply(0x0151, QByteArray::fromHex("00000010"));
    QVERIFY(page->statusText().isEmpty());
    QVERIFY(sent.isEmpty());
    QVERIFY(!page->isBackupRunning());

    files->path = work->path(); // a folder
    reply(0x0151, QByteArray::fromHex("00000010"));
    QCOMPARE(boxes->take().summary(), QStringLiteral("[Warning] Cannot open backup file!"));
    QVERIFY(sent.isEmpty());
}

// A lost link, an empty piece and a missing piece end the backup.
void TestProgrammingPage::backupFailures()
{
    const QString target = work->file(QStringLiteral("device-tmp.bin"));
    files->path = target;
    reply(0x0151, QByteArray::fromHex("00001000"));
    takeSent();
    reply(0x0152, "part");
    takeSent();
    page->handleError();
    QCOMPARE(boxes->take().summary(), QStringLiteral("[Warning] Backup file failed!"));
    QVERIFY(!page->isBackupRunning());
    QCOMPARE(readFile(target), QByteArray("part"));
    reply(0x0152, "more");
    QCOMPARE(readFile(target), QByteArray("part"));

    reply(0x0151, QByteArray::fromHex("00001000"));
    takeSent();
    reply(0x0152, QByteArray());
    QCOMPARE(boxes->takeText(), QStringLiteral("Backup file failed!"));

    page->setBackupReplyTimeout(50);
    sent.clear();
    reply(0x0151, QByteArray::fromHex("00001000"));
    QCOMPARE(boxes->waitForText(), QStringLiteral("Backup file failed!"));
    QVERIFY(!page->isBackupRunning());
    sent.clear();
}

QTEST_MAIN(TestProgrammingPage)
#include "tst_programmingpage.moc"
