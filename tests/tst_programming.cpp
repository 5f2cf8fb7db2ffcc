// The programming page's reads, runs and backups: with replies handed to it,
// then with literal frames of a scripted device and with the simulated device.
#include "pagetestutil.h"
#include "programming/firmwarepackage.h"
#include "programming/programmingpage.h"
#include "progtestutil.h"

#include <QtWidgets>

#include <sys/stat.h>

using namespace ProgTest;

struct Sent
{
    int cmd;
    QByteArray data;
};
const QByteArray kAccepted(1, '\1');
const QByteArray kRefused(1, '\0');
static QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

class TestProgramming : public BoxCheckedTest
{
    Q_OBJECT

    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<FileAnswer> files;
    std::unique_ptr<ProgrammingPage> page;
    QList<Sent> sent;

    const UI_ProgrammingPage* form() const { return page->form(); }
    void reply(int cmd, const QByteArray& payload) { respond(*page, cmd, payload); }
    Sent takeSent() { return sent.isEmpty() ? Sent{-1, QByteArray()} : sent.takeFirst(); }
    QString box() { return boxes->take().summary(); }
    void replies(std::initializer_list<int> cmds)
    {
        for (int cmd : cmds)
            reply(cmd, kAccepted);
    }
    int controlsOn() const
    {
        const UI_ProgrammingPage* f = form();
        return f->btnBackup->isEnabled() + f->btnProgramming->isEnabled() +
               f->btnRead->isEnabled() + f->btnBatch->isEnabled() + f->comboType->isEnabled();
    }
    QString imageFile(const QByteArray& bytes)
    {
        writeFile(work->file("image.bin"), bytes);
        return work->file("image.bin");
    }
    // Starts a run with the file and answers the version check; the 0x0100 payload.
    QByteArray startRun(const QString& path, const QByteArray& version = "v1.3.0 build42")
    {
        form()->leFile->setText(path);
        form()->btnProgramming->click();
        const Sent ask = takeSent();
        if (ask.cmd != 0x0001 || ask.data != hex("01"))
            return QByteArray("no version check");
        reply(0x0001, version);
        const Sent start = takeSent();
        return start.cmd == 0x0100 ? start.data : QByteArray();
    }

private Q_SLOTS:
    void init()
    {
        BoxCheckedTest::init();
        work = std::make_unique<TempWorkDir>();
        QVERIFY(QDir().mkpath(QString("app")));
        FirmwarePackage::setBaseDir(work->file("app"));
        files = std::make_unique<FileAnswer>();
        files->path = work->file("backup.bin");
        page = std::make_unique<ProgrammingPage>();
        connect(page.get(), &ProgrammingPage::sendCmd, this,
                [this](int cmd, QByteArray data) { sent.append(Sent{cmd, data}); });
    }
    void cleanup()
    {
        page.reset();
        sent.clear();
        BoxCheckedTest::cleanup();
        files.reset();
        work.reset();
    }

    void formAndVersionReads()
    {
        // Choosing a type, and "Read", ask for that type's version.
        page->typeCombo()->setCurrentIndex(2);
        form()->btnRead->click();
        QVERIFY(sent.size() == 2 && sent[1].cmd == 0x0001 && sent[0].data + sent[1].data == "\2\2");
        // "root" is added once and kept, selected, across a language change.
        page->addRootProgType();
        page->addRootProgType();
        page->typeCombo()->setCurrentIndex(3);
        QCOMPARE(sent.last().data, hex("03"));
        sent.clear();
        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(page.get(), &change);
        QVERIFY(page->typeCombo()->count() == 4 && page->typeCombo()->currentIndex() == 3);
        // A version read shows the text up to a zero byte, as UTF-8.
        reply(0x0001, QByteArray("v2.0.0 \xe6\xb5\x8b\0junk", 15));
        QCOMPARE(form()->labelVersion->text(), QString("v2.0.0 测"));
        form()->btnProgramming->click();
        QCOMPARE(box(), QString("[Tip] Programming file is not choosen!"));
        QVERIFY(sent.isEmpty() && !page->isRunning());
        files->path = QString("/some/where/image.bin");
        form()->btnChoose->click();
        form()->btnChoose->click();
        QCOMPARE(files->requests[0].directory, appDir());
        QCOMPARE(files->requests.last().directory, files->path);
    }

    void transfer_data()
    {
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("legacy");
        const QByteArray v("v1.3.0 x");
        QTest::newRow("5-byte reply") << QByteArray("v1.2.") << 2 << false;
        QTest::newRow("v1.2.2 r1") << QByteArray("v1.2.2 r1") << 2 << true;
        QTest::newRow("v1.2.2 alone, 6 bytes") << QByteArray("v1.2.2") << 2 << true;
        QTest::newRow("v1.2.3 build") << QByteArray("v1.2.3 build") << 2 << false;
        QTest::newRow("v1.1.300 x, packed with OR") << QByteArray("v1.1.300 x") << 2 << true;
        QTest::newRow("not a version") << QByteArray("firmware 7") << 2 << false;
        QTest::newRow("two numbers only") << QByteArray("v1.2 build") << 2 << false;
        QTest::newRow("number too large") << QByteArray("v99999999999.0.0 x") << 2 << false;
        QTest::newRow("1024 bytes") << v << 1024 << false;
        QTest::newRow("1025 bytes") << v << 1025 << false;
        QTest::newRow("300 chunks, the sequence byte wraps") << v << 300 * 1024 << false;
    }
    // The device's version decides the mode; chunks of 1024 bytes, in current mode
    // behind a sequence byte, each (the last one too) awaiting its acknowledgement.
    void transfer()
    {
        QFETCH(QByteArray, version);
        QFETCH(int, size);
        QFETCH(bool, legacy);
        const QByteArray image = pattern(size);
        page->setProgressInterval(0);
        page->typeCombo()->setCurrentIndex(2);
        sent.clear();
        const QByteArray start = "02" + QByteArray::number(size, 16).rightJustified(8, '0');
        QCOMPARE(startRun(imageFile(image), version), hex(start));
        QCOMPARE(page->isLegacyTransfer(), legacy);
        reply(0x0100, kAccepted);
        QByteArray received;
        for (int i = 0; i < (size + 1023) / 1024; ++i) {
            const Sent chunk = takeSent();
            QCOMPARE(chunk.data.size(), qMin(1024, size - 1024 * i) + !legacy);
            QVERIFY(chunk.cmd == 0x0101 && (legacy || quint8(chunk.data.at(0)) == quint8(i)));
            received.append(chunk.data.mid(!legacy));
            QVERIFY(sent.isEmpty() && page->chunkTimer()->isActive());
            QCOMPARE(form()->progressBar->value(), int(received.size()));
            reply(0x0101, kAccepted);
        }
        QCOMPARE(received, image);
        QVERIFY(sent.isEmpty() && !page->chunkTimer()->isActive()); // the last ack ends it
        reply(0x0102, QByteArray());
        QVERIFY(!page->isRunning());
        reply(0x0103, QByteArray());
        QCOMPARE(box(), QString("[Information] Programming finish!"));
        const Sent ask = takeSent(); // the version of the type programmed is read back
        QVERIFY(ask.cmd == 0x0001 && ask.data == hex("02"));
    }

    // Every way a run ends (a reply without payload comes with a pointer that
    // must not be read); the run has ended when the box comes.
    void endings_data()
    {
        QTest::addColumn<QByteArray>("version"); // empty: no answer
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<int>>("replies"); // -cmd: refused, cmd << 16: empty, 0: link lost
        QTest::addColumn<int>("resends");
        QTest::addColumn<QString>("text");
        using L = QList<int>;
        const QByteArray v("v1.3.0 x"), legacy("v1.2.2");
        const L all{0x0100, 0x0101, 0x0101};
        const QString silent("[Warning] The device does not answer!");
        const QString refused("[Warning] Start programming failed!");
        const QString timeout("[Warning] Programming timeout!");
        const QString failed("[Warning] Programming failed!");
        const QString lost("[Information] Programming failed!");
        const QString finish("[Information] Programming finish!");
        QTest::newRow("no version reply") << QByteArray() << 10 << L{} << 0 << silent;
        QTest::newRow("no answer to the start") << v << 10 << L{} << 0 << silent;
        QTest::newRow("start refused") << v << 10 << L{-0x0100} << 0 << refused;
        QTest::newRow("start, no payload") << v << 10 << L{0x0100 << 16} << 0 << refused;
        QTest::newRow("chunk refused") << v << 2000 << L{0x0100, -0x0101} << 0 << failed;
        QTest::newRow("chunk, no payload") << v << 2000 << L{0x0100, 0x0101 << 16} << 0 << failed;
        QTest::newRow("link lost") << v << 2000 << L{0x0100, 0} << 0 << lost;
        QTest::newRow("send failed") << v << 2000 << L{1, 0x0100} << 0 << lost;
        QTest::newRow("three resends") << v << 3000 << L{0x0100, 0x0101} << 3 << timeout;
        QTest::newRow("resends of the last") << v << 2000 << L{0x0100, 0x0101} << 3 << timeout;
        QTest::newRow("no resend in legacy mode") << legacy << 2000 << L{0x0100} << 0 << timeout;
        QTest::newRow("no 0x0102 after the last chunk") << v << 2000 << all << 0 << timeout;
        QTest::newRow("no 0x0103 after 0x0102") << v << 2000 << all + L{0x0102} << 0 << timeout;
        QTest::newRow("0x0103 without 0x0102") << v << 2000 << all + L{0x0103} << 0 << finish;
        QTest::newRow("empty image") << v << 0 << L{0x0100, 0x0102, 0x0103} << 0 << finish;
    }
    void endings()
    {
        QFETCH(QByteArray, version);
        QFETCH(int, size);
        QFETCH(QList<int>, replies);
        QFETCH(int, resends);
        QFETCH(QString, text);
        page->setChunkInterval(30), page->setFinishTimeout(50), page->setReplyTimeout(30);
        bool endedBeforeBox = false;
        BoxHook hook([&](const MsgBox::Request& request, const MsgBox::Interceptor& next) {
            endedBeforeBox = !page->isRunning() && !page->chunkTimer()->isActive() &&
                             !page->waitTimer()->isActive();
            return next(request);
        });
        form()->leFile->setText(imageFile(pattern(size)));
        form()->btnProgramming->click();
        if (!version.isEmpty())
            reply(0x0001, version);
        for (int r : replies) {
            if (r == 0)
                page->handleError();
            else if (r == 1) // the link fails the next send while it is emitted
                connect(page.get(), &ProgrammingPage::sendCmd, page.get(),
                        &ProgrammingPage::handleError);
            else if (r > 0xFFFF)
                page->handleRespond(r >> 16, reinterpret_cast<const quint8*>("\1\1"), 0);
            else
                reply(qAbs(r), r > 0 ? kAccepted : kRefused);
        }
        QCOMPARE(boxes->waitForBox().summary(), text);
        QVERIFY(endedBeforeBox && page->statusText().isEmpty() && controlsOn() == 5);
        // The last chunk went 1 + resends times; never an empty chunk.
        for (const Sent& s : sent.mid(resends ? sent.size() - resends - 1 : sent.size()))
            QVERIFY(s.cmd == 0x0101 && s.data == sent.last().data);
        for (const Sent& s : qAsConst(sent))
            QVERIFY(s.cmd != 0x0101 || s.data.size() > 1);
        // Nothing after the end: no resend, no box, no read-back awaited for ever.
        QTRY_VERIFY(!page->isReadingBack());
        sent.clear();
        page->handleError();
        QVERIFY(!page->isReadingBack());
        QVERIFY(!waitFor([this] { return !sent.isEmpty() || boxes->count() > 0; }, 100));
    }

    // A run admits no second start nor replies out of turn; its last word
    // (0x0102, 0x0103) never ends or reports a run started meanwhile.
    void oneRunAtATime()
    {
        page->setProgressInterval(0);
        startRun(imageFile(pattern(2000)));
        replies({0x0100});
        QCOMPARE(controlsOn(), 0);
        reply(0x0001, "v1.3.0 again");
        reply(0x0151, hex("00000004"));
        QVERIFY(files->requests.isEmpty() && sent.size() == 1); // the first chunk only
        replies({0x0101, 0x0101, 0x0102});
        QCOMPARE(sent.at(1).data.at(0), '\1');
        QCOMPARE(controlsOn(), 5);
        // What the run left on the page follows the real catalogue both ways.
        QTranslator chinese;
        QVERIFY(chinese.load(FM_QM_PATH));
        QCoreApplication::installTranslator(&chinese);
        auto zh = [&](const char* text) { return chinese.translate("ProgrammingPage", text); };
        QTRY_COMPARE(page->statusText(), zh("Installing program..."));
        QCOMPARE(form()->progressBar->format(), zh("Progress: %1%").arg("100.00"));
        QCoreApplication::removeTranslator(&chinese);
        QTRY_COMPARE(form()->progressBar->format(), QString("Progress: 100.00%"));
        sent.clear();
        QCOMPARE(startRun(form()->leFile->text()).size(), 5);
        replies({0x0103, 0x0102});
        QCOMPARE(page->phase(), ProgrammingPage::Phase::Starting);
        replies({0x0100, 0x0103});
        QCOMPARE(page->phase(), ProgrammingPage::Phase::Sending);
        QCOMPARE(boxes->count(), 0);
        replies({0x0101, 0x0101, 0x0103});
        QCOMPARE(box(), QString("[Information] Programming finish!"));
    }

    // A package goes through an image of the run's own, removed at its end; plain files named
    // like it (its own path too) stay. Files that cannot be sent start nothing.
    void packageFiles()
    {
        const QByteArray image = pattern(1500);
        const QString path = work->file("package.bin");
        QVERIFY(writeFile(path, package(3, shifted(image, 1500))));
        QCOMPARE(startRun(path), hex("00000005dc"));
        const QStringList temps = QDir(FirmwarePackage::tempImageDir()).entryList(QDir::Files);
        const QString temp = FirmwarePackage::tempImageDir() + "/" + temps.value(0);
        QVERIFY(temps.size() == 1 && temp != FirmwarePackage::tempImagePath());
        replies({0x0100, 0x0101});
        const QByteArray first = takeSent().data.mid(1);
        QCOMPARE(first + takeSent().data.mid(1), image);
        replies({0x0101, 0x0102});
        QVERIFY(!QFile::exists(temp) && QFile::exists(path));
        page->handleError(); // ends the wait for 0x0103
        // flags 2: the count 6 and the image, each byte stored plus one; 0x00 is 0xFF.
        QVERIFY(writeFile(path, hex("464d0000 02000000 07010101 010203040500 aa")));
        QCOMPARE(startRun(path), hex("0000000006"));
        reply(0x0100, kAccepted);
        QCOMPARE(takeSent().data, hex("00 00 01 02 03 04 ff"));
        page->handleError();
        QCOMPARE(box(), QString("[Information] Programming failed!"));
        for (const QString& plain : {work->file("my-tmp.bin"), FirmwarePackage::tempImagePath()}) {
            QVERIFY(QDir().mkpath(FirmwarePackage::tempImageDir()) && writeFile(plain, "plain"));
            QCOMPARE(startRun(plain), hex("0000000005"));
            reply(0x0100, kAccepted);
            QCOMPARE(takeSent().data, QByteArray("\0plain", 6));
            replies({0x0101, 0x0102});
            page->handleError();
            QVERIFY(QFile::exists(plain));
        }
        const QString damaged("The programming file is a damaged firmware package!");
        const QString openFailed("Open programming file failed!");
        auto refused = [&](const QString& text) {
            const bool ok = startRun(path).isEmpty() && box() == "[Warning] " + text;
            QFile::remove(path);
            return ok && !page->isRunning();
        };
        // "123456789" whose CRC trailer 0x4B37 has lost a bit.
        QVERIFY(writeFile(path, hex("464d0000 01000000 313233343536373839 3749")));
        QVERIFY(refused(damaged));
        QVERIFY(writeFile(path, package(2, shifted(pattern(10), 11))) && refused(damaged));
        // An empty package sends no leftover image (the plain one above).
        QVERIFY(writeFile(path, package(1, QByteArray())) && refused(openFailed));
        QVERIFY(QDir(FirmwarePackage::tempImageDir()).removeRecursively());
        QVERIFY(writeFile(FirmwarePackage::tempImageDir(), "a file where the folder belongs"));
        QVERIFY(writeFile(path, package(0, pattern(10))) && refused(openFailed));
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        QCOMPARE(startRun(path), QByteArray("no version check"));
        QCOMPARE(box(), QString("[Warning] Only regular files can be opened, not folders, pipes or "
                                 "devices!"));
    }

    // Backup targets named like the temporary image ("...tmp.bin") are kept,
    // finished or not; late pieces go nowhere.
    void backup()
    {
        const QString target = files->path = work->file("device-tmp.bin");
        page->typeCombo()->setCurrentIndex(1);
        sent.clear();
        form()->btnBackup->click();
        QCOMPARE(controlsOn(), 0);
        reply(0x0150, QByteArray());
        QCOMPARE(page->statusText(), QString("Backuping program..."));
        reply(0x0151, hex("00000a00")); // 2560 bytes
        QCOMPARE(files->request(0), "Save|Backup program|Binary File(*.bin)|" + appDir());
        QCOMPARE(page->statusText(), QString("Receiving backup file..."));
        const QByteArray program = pattern(2560, 9);
        reply(0x0152, program.left(1000));
        QCOMPARE(form()->progressBar->format(), QString("Progress: 39.06%"));
        QCOMPARE(controlsOn(), 0);
        reply(0x0152, program.mid(1000));
        QCOMPARE(box(), QString("[Information] Backup file finished!"));
        QVERIFY(sent.size() == 3 && sent[0].data == hex("01") && sent[2].cmd == 0x0152);
        QVERIFY(!page->isBackupRunning() && controlsOn() == 5);
        reply(0x0152, "late");
        QCOMPARE(readFile(target), program);
        // A lost link, an empty piece and a missing piece end a backup.
        reply(0x0151, hex("00001000"));
        reply(0x0152, "part");
        page->handleError();
        QCOMPARE(box(), QString("[Warning] Backup file failed!"));
        reply(0x0152, "more");
        QCOMPARE(readFile(target), QByteArray("part"));
        reply(0x0151, hex("00001000"));
        reply(0x0152, QByteArray());
        QCOMPARE(box(), QString("[Warning] Backup file failed!"));
        page->setBackupReplyTimeout(50);
        reply(0x0151, hex("00001000"));
        QCOMPARE(boxes->waitForText(), QString("Backup file failed!"));
        form()->btnBackup->click(); // and a device that never tells the size
        QCOMPARE(boxes->waitForText(), QString("Start backup failed!"));
        QVERIFY(!page->isBackupRunning() && controlsOn() == 5);
        // Refused sizes; a cancelled dialog ends it quietly; a folder cannot be written.
        for (const char* size : {"00000000", "", "000100", "0000010000"}) {
            reply(0x0150, QByteArray());
            reply(0x0151, hex(size));
            QCOMPARE(box(), QString("[Warning] Start backup failed!"));
            QCOMPARE(page->statusText().isEmpty(), hex(size).size() == 4);
        }
        QCOMPARE(files->requests.size(), 4);
        sent.clear();
        files->path.clear();
        reply(0x0151, hex("00000010"));
        QVERIFY(page->statusText().isEmpty() && !page->isBackupRunning());
        files->path = work->path();
        reply(0x0151, hex("00000010"));
        QCOMPARE(box(), QString("[Warning] Cannot open backup file!"));
        QVERIFY(sent.isEmpty());
    }

    // A read, a run of a package with a CRC trailer and a backup, frame by frame.
    void literalFrames()
    {
        FakeDevice dev;
        LinkedPage<ProgrammingPage> rig(&CommTcp::gotProgRespond);
        QVERIFY(rig.connectTo(dev));
        const UI_ProgrammingPage* f = rig.page.form();
        // The frame the page sends next; then the device's answer.
        auto step = [&](const char* out, const char* in) {
            const bool ok = dev.waitForReceived(hex(out).size()) && dev.received() == hex(out);
            dev.clearReceived();
            dev.write(hex(in));
            return ok;
        };
        const char* version = "68 00 0a 00 01 76 31 2e 33 2e 30 20 78 71"; // "v1.3.0 x"
        // Noise, a frame with a bad checksum and one cut off by silence are passed over.
        rig.link.setReassemblyTimeout(250);
        f->btnRead->click(); // type 0
        QVERIFY(step("68 00 03 00 01 00 6c", "00  68 00 04 00 01 41 42 f1  68 00 0a 00 01 76 31"));
        const FrameReassembler& frames = rig.link.reassembler();
        bool cut = false;
        QVERIFY(waitFor([&] { return (cut |= frames.pending() > 0) && !frames.pending(); }));
        QVERIFY(f->labelVersion->text().isEmpty());
        dev.write(hex(version));
        QTRY_COMPARE(f->labelVersion->text(), QString("v1.3.0 x"));
        // flags 1: "123456789" and its CRC-16/MODBUS 0x4B37, low byte first.
        f->leFile->setText(imageFile(hex("464d0000 01000000 313233343536373839 374b")));
        f->btnProgramming->click();
        QVERIFY(step("68 00 03 00 01 01 6d", version));
        QVERIFY(step("68 00 07 01 00 00 00 00 00 09 79", "68 00 03 01 00 01 6d"));
        QVERIFY(step("68 00 0c 01 01 00 31 32 33 34 35 36 37 38 39 53",
                     "68 00 03 01 01 01 6e  68 00 02 01 02 6d  68 00 02 01 03 6e"));
        QCOMPARE(boxes->waitForText(), QString("Programming finish!"));
        QVERIFY(step("68 00 03 00 01 00 6c", "")); // the read-back
        f->btnBackup->click();
        QVERIFY(step("68 00 03 01 51 00 bd", "68 00 02 01 50 bb  68 00 06 01 51 00 00 00 05 c5"));
        QVERIFY(step("68 00 02 01 52 bd", "68 00 07 01 52 68 65 6c 6c 6f d6"));
        QCOMPARE(boxes->waitForText(), QString("Backup file finished!"));
        QCOMPARE(readFile(files->path), QByteArray("hello"));
    }

    void devsim_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("size"); // 0: a backup
        using S = QStringList;
        QTest::newRow("300 KiB + 1 package") << S{"quiet=1"} << 300 * 1024 + 1;
        QTest::newRow("legacy device") << S{"prog-legacy=1"} << 5000;
        QTest::newRow("last acks dropped") << S{"prog-drop-ack=6", "prog-drop-ack-times=2"} << 6000;
        QTest::newRow("link lost in a backup") << S{"backup-size=50000", "backup-close-at=5"} << 0;
    }
    // Whole runs with the simulated device and real boxes; images compared byte for byte.
    void devsim()
    {
        QFETCH(QStringList, options);
        QFETCH(int, size);
        LinkedPage<ProgrammingPage> rig(&CommTcp::gotProgRespond);
        connect(&rig.link, &CommTcp::disconnected, &rig.page, &ProgrammingPage::handleError);
        QVERIFY(rig.start(options << "prog-dir=" + work->file("store") << "prog-install-ms=20"));
        const bool legacy = options.contains("prog-legacy=1");
        const bool dropped = options.contains("prog-drop-ack=6");
        rig.page.setChunkInterval(dropped ? 200 : 10000);
        const QByteArray image = pattern(size, size);
        const UI_ProgrammingPage* f = rig.page.form();
        f->leFile->setText(
            imageFile(size > 300 * 1024 ? package(3, shifted(image, size, "pad")) : image));
        RealBoxes real;
        (size ? f->btnProgramming : f->btnBackup)->click();
        if (!size) {
            QCOMPARE(real.waitFor(), QString("[Warning] Backup file failed!"));
            QCOMPARE(readFile(files->path).size(), 4096);
            return;
        }
        QCOMPARE(real.waitFor(1, 60000), QString("[Information] Programming finish!"));
        QCOMPARE(rig.page.isLegacyTransfer(), legacy);
        QCOMPARE(readFile(work->file("store/image-127.0.0.1.bin")), image);
        const QString log = rig.sim.log();
        QVERIFY(log.contains(legacy ? "legacy mode" : "current mode"));
        QCOMPARE(log.count(dropped ? "chunk 6 resent (sequence byte 5)" : "resent"), 2 * dropped);
        QVERIFY(QDir(FirmwarePackage::tempImageDir()).entryList(QDir::Files).isEmpty());
        // The version is read back once the device has finished.
        QTRY_COMPARE(f->labelVersion->text(), QString(legacy ? "v1.2.2 r1" : "v1.3.0 build42"));
    }
};

QTEST_MAIN(TestProgramming)
#include "tst_programming.moc"
