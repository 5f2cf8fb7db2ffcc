// The main window offscreen with its console page and the set-IP dialog, and real
// modal runs of every kind of box and dialog in both languages.
#include "app/appsettings.h"
#include "app/qtcatalogue.h"
#include "app/startup.h"
#include "common/dialogs.h"
#include "discovery/dialogsetip.h"
#include "mainwindow/mainwindow.h"
#include "pages/displaylogpage.h"
#include "pages/pageroot.h"
#include "programming/programmingpage.h"
#include "testutil.h"

#include <QtTest/qtestspontaneevent.h>
#include <QtWidgets>
#include <sys/stat.h>

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
}

QVariant setting(const QString& key) { return QSettings(AppSettings::filePath(), QSettings::IniFormat).value(key); }

void installCatalogue()
{
    QDir().mkpath(QStringLiteral("translations"));
    QVERIFY(QFile::copy(QStringLiteral(FM_QM_PATH), AppSettings::catalogPath()));
}

void pressStatus(MainWindow& w, int times) { while (times--) QTest::mouseClick(w.form()->labelStatus, Qt::LeftButton); }

QString transcript(PageRoot* page) { return page->form()->textBrowserCmd->toPlainText(); }

// What a person reads in a window: its title, visible labels and buttons.
QStringList readableTexts(QWidget* window)
{
    QStringList texts{window->windowTitle()};
    for (QWidget* w : window->findChildren<QWidget*>())
        if (w->isVisibleTo(window) && (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)))
            texts << w->property("text").toString();
    return texts;
}

// Runs `open`; a timer reads each real modal window and closes it: a box with "Yes" or its default
// button, a file dialog choosing `fileName`, set-IP with a bad then a good address, others Cancel.
QStringList readModalRuns(const std::function<void()>& open, const QString& fileName, int* windows)
{
    QStringList texts;
    QList<QPointer<QWidget>> seen;
    QPointer<QWidget> current;
    int setIPClicks = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal == current)
            return;
        current = modal;
        if (!seen.contains(modal))
            seen << modal, texts << readableTexts(modal);
        else if (!qobject_cast<DialogSetIP*>(modal))
            return; // the set-IP dialog again, after its warning
        if (auto* dialog = qobject_cast<DialogSetIP*>(modal)) {
            dialog->form()->leIP->setText(setIPClicks++ ? "10.0.0.9" : "1.2.3");
            QMetaObject::invokeMethod(dialog->form()->btnSure, "click", Qt::QueuedConnection);
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            QAbstractButton* yes = box->button(QMessageBox::Yes);
            (yes ? yes : box->defaultButton() ? box->defaultButton() : box->buttons().value(0))->click();
        } else if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(fileName);
            QMetaObject::invokeMethod(files, "accept", Qt::QueuedConnection);
        } else if (auto* other = qobject_cast<QDialog*>(modal)) {
            QMetaObject::invokeMethod(other, "reject", Qt::QueuedConnection);
        }
    });
    poll.start(10);
    open();
    *windows = seen.size();
    return texts;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
    TempWorkDir* work = nullptr;
    BoxRecorder* boxes = nullptr;
    QTranslator translator;
    const QFont defaultFont = QApplication::font();
    void restore() // the language and font every test starts with
    {
        QCoreApplication::removeTranslator(&translator), QtCatalogue::remove();
        QApplication::setFont(defaultFont);
    }

private Q_SLOTS:
    void init() { work = new TempWorkDir, boxes = new BoxRecorder; }
    void cleanup() { boxes->checkNoneLeft(), delete boxes, delete work, restore(); }

    // Language at start-up; nullptr: the first run, which stores only the language.
    void languageAtStart()
    {
        const struct { const char* value; bool catalogue; int index; } rows[] = {{nullptr, false, 0},
                    {"Chinese", true, 1}, {"Chinese", false, 1}, {"chinese", true, 0}, {"", true, 0}};
        for (const auto& row : rows) {
            TempWorkDir dir;
            if (row.value)
                QSettings(AppSettings::filePath(), QSettings::IniFormat).setValue("language", row.value);
            if (row.catalogue)
                installCatalogue();
            QCOMPARE(Startup::applyLanguage(translator), row.index);
            QCOMPARE(QSettings(AppSettings::filePath(), QSettings::IniFormat).allKeys(), QStringList{"language"});
            const bool translated = row.index == 1 && row.catalogue;
            MainWindow w;
            w.setTranslator(&translator, row.index);
            QCOMPARE(w.form()->btnConnect->text(), translated ? QStringLiteral("连接") : "Connect");
            QVERIFY((row.index ? w.form()->actionChinese : w.form()->actionEnglish)->isChecked());
            QCOMPARE(QtCatalogue::installed(), translated); // Qt's own texts follow
            QCOMPARE(setting("language").toString(), row.value ? row.value : "English"); // kept
            restore();
        }
    }

    void fontAndSize()
    {
        const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
        const int points = defaultFont.pointSize();
        const struct { QByteArray ini; QSize size; int points; bool boldItalic; } rows[] = {
            {"[Font]\nsize=13\nfamily=Sans\nbold=true\nitalic=true\n[screen]\nwidth=700\nheight=500",
             {700, 500}, 13, true},
            {"[Font]\nsize=5000\n[screen]\nwidth=100000\nheight=100000", screen, AppSettings::kMaxFontPoints, false},
            {"[Font]\nsize=1\n[screen]\nwidth=100000\nheight=300", {screen.width(), 300}, AppSettings::kMinFontPoints, false},
            {"[Font]\nsize=huge\nfamily=\n[screen]\nwidth=0\nheight=300\n\xff\x01", {800, 600}, points, false},
            {"", {800, 600}, points, false}}; // the first run
        for (const auto& row : rows) {
            TempWorkDir dir;
            QApplication::setFont(defaultFont);
            writeFile(AppSettings::filePath(), row.ini);
            MainWindow w;
            QCOMPARE(w.size(), row.size);
            QCOMPARE(QApplication::font().pointSize(), row.points);
            QVERIFY(QApplication::font().bold() == row.boldItalic && QApplication::font().italic() == row.boldItalic);
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            // Showing stores the size unless cut to the screen; after an operator resize, any size.
            QCOMPARE(setting("screen/width").toInt(), row.ini.contains("100000") ? 100000 : w.width());
            QResizeEvent byOperator(QSize(640, 480), w.size());
            QSpontaneKeyEvent::setSpontaneous(&byOperator);
            static_cast<QObject&>(w).event(&byOperator); // as delivered by the window system
            QResizeEvent byProgram(QSize(720, 560), w.size());
            static_cast<QObject&>(w).event(&byProgram);
            QCOMPARE(setting("screen/height").toInt(), 560);
        }
        MainWindow w; // the first run left the default font
        QVERIFY(w.history().isEmpty() && !w.addressCompleter()->model()); // no history file
        // The font dialog starts from the application font; the choice is stored.
        const QFont chosen(QStringLiteral("Sans"), 17, QFont::Bold, true);
        const auto previous = Dialogs::setFontInterceptor([&](const QFont& f) { return f == defaultFont ? chosen : f; });
        w.form()->actionFont->trigger();
        Dialogs::setFontInterceptor(previous);
        QCOMPARE(QApplication::font().pointSize(), 17);
        QCOMPARE(setting("Font/family").toString() + setting("Font/size").toString(), chosen.family() + "17");
        QVERIFY(setting("Font/bold").toBool() && setting("Font/italic").toBool());
    }

    // Known answers for "config/completer.dat": 16-byte records, zero padded.
    void historyFile()
    {
        const QByteArray a("192.168.1.10\0\0\0\0", 16);
        const struct { QByteArray bytes; QStringList entries; } rows[] = {{"", {}},
                    {a + QByteArray("192.168.1.100\0\0\0", 16), {"192.168.1.10", "192.168.1.100"}},
                    {"1234567890123456" + a, {"1234567890123456", "192.168.1.10"}}, // no zero byte
                    {QByteArray("10.1.1.1\0garbage", 16), {"10.1.1.1"}}, // text ends at a zero byte
                    {QByteArray(16, '\xff') + a + QByteArray(16, '\0') + "\x01\x02\x03", {"192.168.1.10"}},
                    {a + a + "10.0.0.7", {"192.168.1.10", "192.168.1.10", "10.0.0.7"}}}; // short last record
        for (const auto& row : rows) {
            writeFile(AppSettings::historyPath(), row.bytes);
            MainWindow w;
            QCOMPARE(w.history(), row.entries);
            QCompleter* c = w.addressCompleter();
            QCOMPARE(c->model()->rowCount(), row.entries.size());
            c->setCompletionPrefix(QStringLiteral("192.168.1.1"));
            QCOMPARE(c->completionCount(), row.entries.filter(QStringLiteral("192.168.1.1")).size());
        }
    }

    // FIFOs block whoever opens them: start-up, connecting, clearing the history and a language
    // switch must pass them by.
    void fifosArePassedBy()
    {
        QDir().mkpath("config");
        for (const QString& path : {AppSettings::filePath(), AppSettings::historyPath()})
            QCOMPARE(::mkfifo(qPrintable(path), 0600), 0);
        installCatalogue();
        QCOMPARE(Startup::applyLanguage(translator), 0);
        FakeDevice device;
        MainWindow w;
        w.setTranslator(&translator, 0);
        w.commLink()->setPort(device.port());
        w.form()->leDevIP->setText("127.0.0.1");
        w.form()->btnConnect->click();
        QVERIFY(w.isConnected() && w.history() == QStringList{"127.0.0.1"});
        w.form()->btnClearHistory->click();
        w.form()->actionChinese->trigger();
        QCOMPARE(w.form()->btnConnect->text(), QStringLiteral("断开"));
        for (const QString& path : {AppSettings::filePath(), AppSettings::historyPath()})
            QVERIFY(QFileInfo::exists(path) && !QFileInfo(path).isFile());
    }

    // Address checks, connecting, history, reboot, console, a device that hangs up, one that refuses.
    void connectionToScriptedDevice()
    {
        FakeDevice device;
        MainWindow w;
        w.commLink()->setPort(device.port());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QLineEdit* entry = w.form()->leDevIP;
        QPushButton* button = w.form()->btnConnect;
        QSignalSpy attempts(w.commLink(), &CommTcp::connectedToDevice);
        for (const QString bad : {"", "256.1.1.1", "10.0.0", "10.0.0.01", "10.0.0.1 ", "localhost"}) {
            entry->setText(bad);
            button->click();
            QTest::keyClick(entry, Qt::Key_Enter); // the same, whatever the validator thinks
            for (int i = 0; i < 2; ++i)
                QCOMPARE(boxes->take().summary(), "[Tip] Device IP Address " + QString(bad.isEmpty() ? "could not be null!" : "format error!"));
        }
        QVERIFY(button->isEnabled() && attempts.isEmpty() && !QFile::exists(AppSettings::historyPath()));
        entry->setText(QStringLiteral("127.0.0.1"));
        QTest::keyClick(entry, Qt::Key_Return); // Enter in the entry connects
        QCOMPARE(button->text(), QStringLiteral("Disconnect"));
        QCOMPARE(w.form()->labelStatus->text(), QStringLiteral("<font color=#00FF00>Connected to device"));
        const QByteArray record("127.0.0.1\0\0\0\0\0\0\0", 16);
        QCOMPARE(readFile(AppSettings::historyPath()), record);
        button->click();
        QTRY_VERIFY(!w.isConnected() && button->text() == "Connect");
        // With the history popup open, Enter and a press on Connect reach the popup first; each connects.
        QAbstractItemView* popup = w.addressCompleter()->popup();
        for (const bool byEnter : {true, false}) {
            entry->clear();
            QTest::keyClicks(entry, byEnter ? "127.0.0" : "127.0.0.1");
            QTRY_VERIFY(popup->isVisible());
            const QPoint onButton = popup->mapFromGlobal(button->mapToGlobal(button->rect().center()));
            popup->setCurrentIndex(popup->model()->index(0, 0));
            if (byEnter)
                QTest::keyClick(popup, Qt::Key_Return);
            else
                QTest::mouseClick(popup, Qt::LeftButton, {}, onButton);
            QTRY_VERIFY(w.isConnected() && !popup->isVisible() && entry->text() == "127.0.0.1");
            QCOMPARE(attempts.count(), byEnter ? 2 : 3);
            if (byEnter)
                button->click();
            QTRY_VERIFY(w.isConnected() == !byEnter);
        }
        QCOMPARE(readFile(AppSettings::historyPath()), record); // once only
        // The reboot question: No sends nothing, OK sends command 0x0002.
        boxes->answerNext(MsgBox::Answer::No);
        w.form()->actionRebootDevice->trigger();
        QCOMPARE(boxes->take().summary(), QStringLiteral("[Warning] Are you sure to reboot device?"));
        boxes->answerNext(MsgBox::Answer::Ok);
        w.form()->actionRebootDevice->trigger();
        QCOMPARE(boxes->take().buttons.size(), 2); // the standard OK and No
        QTRY_COMPARE(device.received().toHex(), QByteArray("68000200026c")); // all the link sent
        // Five presses on the status within the time open the console page, once per run.
        QVERIFY(w.gestureTimer()->interval() == 5000 && w.gestureTimer()->isSingleShot());
        w.gestureTimer()->setInterval(40); // shortened for the test
        pressStatus(w, 4);
        QVERIFY(w.gestureTimer()->isActive());
        QTRY_VERIFY(!w.gestureTimer()->isActive()); // the time has passed: counting starts again
        w.gestureTimer()->setInterval(60000);
        // The second press of a double click arrives as a double-click event, which does not count.
        for (int i = 0; i < 4; ++i) {
            pressStatus(w, 1);
            QTest::mouseDClick(w.form()->labelStatus, Qt::LeftButton);
        }
        QVERIFY(!w.consolePage());
        pressStatus(w, 1);
        QVERIFY(w.consolePage() && !w.gestureTimer()->isActive());
        pressStatus(w, 10); // once per run: more presses change nothing
        QCOMPARE(w.form()->stackWidget->count() + w.form()->listWidget->count(), 14);
        QCOMPARE(w.form()->listWidget->item(6)->text() + w.progPage()->typeCombo()->itemText(3), "rootroot");
        QCOMPARE(w.progPage()->typeCombo()->count(), 4);
        w.form()->listWidget->setCurrentRow(6);
        QCOMPARE(w.form()->stackWidget->currentWidget(), static_cast<QWidget*>(w.consolePage()));
        // The console page sends and shows through the window's link (frames as on the wire).
        PageRoot* page = w.consolePage();
        page->form()->leCmd->setText(QStringLiteral("ls"));
        page->form()->btnSendCmd->click();
        QTRY_COMPARE(device.received().toHex(), QByteArray("68000200026c" "68000400126c735d"));
        device.write(QByteArray::fromHex("68000400136f6b59"));
        QTRY_COMPARE(transcript(page), QStringLiteral("Send: ls\nRecv: ok\n"));
        QSignalSpy sent(page, &PageRoot::sendCmd);
        const QStringList lines{"help", "", "Clear", " clear", "clear"}; // only "clear" clears
        for (const QString& line : lines) {
            page->form()->leCmd->setText(line);
            page->form()->btnSendCmd->click();
        }
        QCOMPARE(page->form()->leCmd->text(), lines.last()); // not cleared
        QCOMPARE(sent.count(), 4); // code and bytes: see the frame sent through the window
        page->form()->leCmd->setText(QStringLiteral("date"));
        QTest::keyClick(page->form()->leCmd, Qt::Key_Return); // Return sends too: see the transcript
        // Code byte and payload: UTF-8, empty, invalid UTF-8, zero bytes, then codes not for the page.
        for (const QByteArray& bytes : {QByteArray("\x13ok \xe4\xb8\xad"), QByteArray("\x13"),
                                        QByteArray("\x13" "bad \xff\xfe end"), QByteArray("\x13" "abc\0def\0", 9),
                                        QByteArray("\x12x"), QByteArray("\x01x")})
            page->handleRespond(bytes[0], reinterpret_cast<const quint8*>(bytes.data() + 1), bytes.size() - 1);
        QCOMPARE(transcript(page), QString::fromUtf8("Send: date\nRecv: ok 中\nRecv: \nRecv: bad \xef\xbf\xbd"
                                                     "\xef\xbf\xbd end\nRecv: abc\\0def\\0\n"));
        // Sent entries are dark blue, replies dark green; a zero byte's mark stands out.
        const auto formatAt = [page](int block, int column) {
            QTextCursor c(page->form()->textBrowserCmd->document()->findBlockByNumber(block));
            c.movePosition(QTextCursor::NextCharacter, QTextCursor::MoveAnchor, column);
            return c.charFormat();
        };
        QCOMPARE(formatAt(0, 1).foreground().color(), QColor(Qt::darkBlue));
        QCOMPARE(formatAt(1, 1).foreground().color(), QColor(Qt::darkGreen));
        QCOMPARE(formatAt(4, 10).background().color(), QColor(Qt::darkGreen));
        QCOMPARE(formatAt(4, 12).background().style(), Qt::NoBrush);
        w.form()->btnClearHistory->click();
        QVERIFY(w.history().isEmpty() && w.addressCompleter()->model()->rowCount() == 0);
        QCOMPARE(readFile(AppSettings::historyPath()), QByteArray());
        device.closeClient(); // the device hangs up
        QTRY_COMPARE(w.form()->labelStatus->text(), "<font color=#FF0000>Disconnect with device");
        w.commLink()->setPort(closedLocalPort()); // refused: the link's reason; not remembered
        button->click();
        QVERIFY(QRegularExpression("^Connect to device failed, .+!$").match(boxes->takeText()).hasMatch());
        QVERIFY(button->isEnabled() && !w.isConnected() && w.history().isEmpty());
        boxes->answerNext(MsgBox::Answer::Ok); // unconnected, the link itself says so
        w.form()->actionRebootDevice->trigger();
        boxes->take();
        QCOMPARE(boxes->takeText(), QStringLiteral("Device not connected!"));
    }

    // Both languages at run time, every kind of box and dialog run for real (no interceptor) in each.
    void languagesInRealModalRuns()
    {
        installCatalogue();
        QCOMPARE(Startup::applyLanguage(translator), 0);
        MainWindow w;
        w.setTranslator(&translator, 0);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        pressStatus(w, 5);
        MsgBox::setInterceptor(nullptr);
        for (const bool zh : {false, true}) {
            (zh ? w.form()->actionChinese : w.form()->actionEnglish)->trigger();
            QCOMPARE(setting("language"), QVariant(zh ? "Chinese" : ""));
            QCOMPARE(w.form()->labelStatus->text(), "<font color=#FF0000>" + (zh ? QStringLiteral("未连接设备") : "Disconnect with device"));
            QCOMPARE(w.form()->menuHelp->title(), zh ? QStringLiteral("帮助") : "Help");
            QTRY_COMPARE(w.consolePage()->form()->btnSendCmd->text(), zh ? QStringLiteral("发送") : "Send");
            const QString existing = zh ? QStringLiteral("日志.txt") : "log.txt";
            writeFile(existing, "old");
            QList<MsgBox::Answer> answers;
            int accepted = 0, windows = 0;
            const QStringList texts = readModalRuns([&] {
                QTest::keyClick(w.form()->leDevIP, Qt::Key_Return); // "Tip" with "Sure"
                w.form()->actionRebootDevice->trigger();             // OK and No
                answers << MsgBox::warning({}, {}) // then Yes, No and OK clicked
                        << MsgBox::standard(QMessageBox::Question, {}, {}, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                        << MsgBox::standard(QMessageBox::Warning, {}, {}, QMessageBox::Ok | QMessageBox::No, QMessageBox::No)
                        << MsgBox::standard(QMessageBox::Information, {}, {}, QMessageBox::Ok, QMessageBox::Ok);
                w.form()->actionAbout->trigger();
                DialogSetIP setIP;
                setIP.setInterfaces({"eth0", "eth1"});
                setIP.setInterfaces({"wlan0"}); // appended
                QCOMPARE(setIP.form()->comboBoxIntf->count(), 3);
                accepted = setIP.exec();
                QCOMPARE(setIP.values(), (QStringList{"eth0", "10.0.0.9", "", ""}));
                w.displayLogPageWidget()->form()->btnSave->click(); // "already exists"
                w.form()->actionFont->trigger();                    // cancelled
            }, existing, &windows);
            QCOMPARE(windows, 12);
            QCOMPARE(accepted, int(QDialog::Accepted));
            QVERIFY(answers == (QList<MsgBox::Answer>{MsgBox::Answer::Sure, MsgBox::Answer::Yes,
                                                     MsgBox::Answer::No, MsgBox::Answer::Ok}));
            QVERIFY(w.displayLogPageWidget()->isSaving()); // the file dialog was answered
            w.displayLogPageWidget()->form()->btnSave->click();
            QCOMPARE(setting("Font/size").toInt(), defaultFont.pointSize()); // stored though cancelled
            QVERIFY(!setting("Font/bold").toBool() && !setting("Font/italic").toBool());
            const QStringList expected =
                zh ? QStringList{"确定", "否(&N)", "是(&Y)", "查找范围：", "文件名称(&N)：",
                                 "字体风格(&Y)", "已存在", "IP地址无效！"}
                   : QStringList{"Sure", "&No", "&Yes", "Look in:", "File &name:", "Font st&yle",
                                 "already exists", "IP address is invalid!", "Set IP Address"};
            for (const QString& text : expected)
                QVERIFY2(!texts.filter(text).isEmpty(), qPrintable(text));
            // No English word left in Chinese, but names; the About text in English.
            const QString names = "\\b(Fieldmate|IP|log|txt|" + QString(__DATE__).left(3) + ")\\b";
            if (zh)
                QCOMPARE(QRegularExpression("[A-Za-z]{2,}").match(texts.join('\n').remove(QRegularExpression(
                             "<[^>]*>|&")).remove(QRegularExpression(names))).captured(), QString());
            else
                QCOMPARE(texts.filter(QRegularExpression("^<html><span style=\"font-weight:bold; font-size:16px\">"
                    "Fieldmate v1\\.3\\.6</span><br><br>Built on [A-Z][a-z]{2} [ 123]\\d \\d{4} \\d\\d:\\d\\d:"
                    "\\d\\d<br><br>This software is used for device programming and settings\\.</html>$")).size(), 1);
        }
        // A box deleted while it runs.
        QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Information, "Information", "Writing data...");
        QTimer::singleShot(0, [box] { delete box; });
        QCOMPARE(MsgBox::exec(*box), MsgBox::Answer::Closed);
    }

    void setIPValidation()
    {
        const QString ip = QStringLiteral("IP address is invalid!"), mask = "Netmask is invalid!";
        const struct { const char *ip, *netmask, *gateway; QString warning; } rows[] = { // "": accepted
            // Netmask bits are not checked; IP, netmask and gateway are checked in that order.
            {"10.0.0.9", "", "", ""}, {"0.0.0.0", "0.0.0.0", "0.0.0.0", ""}, {"", "", "", ip},
            {"255.255.255.255", "255.255.255.255", "255.255.255.255", ""}, {"256.1.1.1", "", "", ip},
            {"10.0.0.9", "255.0.255.0", "", ""}, {" 1.2.3.4", "", "", ip}, {"1.2.3.4 ", "", "", ip},
            {"1.2.3.4", "255.255.255.256", "", mask}, {"1.2.3.4", " ", "", mask}, {"x", "y", "z", ip},
            {"1.2.3.4", "255.0.0.0", "1.2.3", "Gateway is invalid!"}, {"1.2.3.4", "y", "z", mask}};
        for (const auto& row : rows) {
            DialogSetIP dialog; // only a close button; Qt adds title and system menu hints itself
            QVERIFY(!(dialog.windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowContextHelpButtonHint)));
            dialog.setInterfaces({"eth0"});
            dialog.form()->leIP->setText(row.ip);
            dialog.form()->leNetmask->setText(row.netmask);
            dialog.form()->leGateway->setText(row.gateway);
            dialog.show();
            dialog.form()->btnSure->click();
            QCOMPARE(dialog.values(), (QStringList{"eth0", row.ip, row.netmask, row.gateway}));
            QCOMPARE(dialog.isVisible(), !row.warning.isEmpty()); // a warning leaves it open
            QCOMPARE(dialog.result(), int(QDialog::Accepted) * row.warning.isEmpty());
            const BoxRecorder::Box box = boxes->take();
            QCOMPARE(box.summary() + box.buttons.join(',') + QString::number(box.icon),
                     row.warning.isEmpty() ? "[] 0" : "[Warning] " + row.warning + "Sure2");
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
