// The main window offscreen: settings and history files, connection control,
// the console gesture, language switching (with real modal runs of every
// kind of box and dialog), the menus.
#include "app/appsettings.h"
#include "app/qtcatalogue.h"
#include "app/startup.h"
#include "common/dialogs.h"
#include "mainwindow/addresshistory.h"
#include "mainwindow/mainwindow.h"
#include "pages/displaylogpage.h"
#include "pages/pageroot.h"
#include "programming/programmingpage.h"
#include "testutil.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QFileDialog>
#include <QFontDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTranslator>
#include <QtTest>
#include <QtTest/qtestspontaneevent.h>
#include <sys/stat.h>

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QVariant setting(const char* key)
{
    QSettings s(AppSettings::filePath(), QSettings::IniFormat);
    return s.value(QLatin1String(key));
}

void installCatalogue()
{
    QDir().mkpath(QStringLiteral("translations"));
    QFile::remove(AppSettings::catalogPath());
    QVERIFY(QFile::copy(QStringLiteral(FM_QM_PATH), AppSettings::catalogPath()));
}

void press(QWidget* w)
{
    QTest::mousePress(w, Qt::LeftButton);
    QTest::mouseRelease(w, Qt::LeftButton);
}

// Types 127.0.0.1 and presses Connect, with the link aimed at `port`.
void connectWindow(MainWindow& w, quint16 port)
{
    w.commLink()->setPort(port);
    w.form()->leDevIP->setText(QStringLiteral("127.0.0.1"));
    w.form()->btnConnect->click();
}

// What a person reads in a window: its title and the texts of its visible
// labels, buttons, group boxes and list headers.
QStringList readableTexts(QWidget* window)
{
    QStringList texts{window->windowTitle()};
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window))
            continue;
        if (auto* label = qobject_cast<QLabel*>(w))
            texts << label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            texts << button->text();
        else if (auto* group = qobject_cast<QGroupBox*>(w))
            texts << group->title();
        else if (auto* header = qobject_cast<QHeaderView*>(w); header && header->model())
            for (int i = 0; i < header->count(); ++i)
                texts << header->model()->headerData(i, header->orientation()).toString();
    }
    return texts;
}

// Words of two or more Latin letters outside markup and mnemonics, except
// the allowed ones.
QStringList englishWords(const QStringList& texts, const QStringList& allowed)
{
    static const QRegularExpression markup(QStringLiteral("<[^>]*>"));
    static const QRegularExpression word(QStringLiteral("[A-Za-z]{2,}"));
    QStringList found;
    for (QString text : texts) {
        text.remove(markup).remove(QLatin1Char('&'));
        for (auto it = word.globalMatch(text); it.hasNext();) {
            const QString w = it.next().captured();
            if (!allowed.contains(w))
                found << w;
        }
    }
    return found;
}

// Runs `open`, which runs modal windows for real. A timer (not the box
// interceptor) reads each modal window once it is up and closes it: a box
// with its "Yes" or default button, a file dialog by choosing `fileName`,
// any other dialog with Cancel. Returns the texts of every window seen.
QStringList readModalRuns(const std::function<void()>& open, const QString& fileName,
                          int* windows)
{
    QStringList texts;
    QList<QPointer<QWidget>> seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || seen.contains(modal))
            return;
        seen << modal;
        texts << readableTexts(modal);
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            QAbstractButton* button = box->button(QMessageBox::Yes);
            if (!button)
                button = box->defaultButton() ? box->defaultButton() : box->buttons().value(0);
            QVERIFY(button);
            button->click();
        } else if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(fileName);
            QMetaObject::invokeMethod(files, "accept", Qt::QueuedConnection);
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
        }
    });
    poll.start();
    open();
    *windows = seen.size();
    return texts;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        work = new TempWorkDir;
        boxes = new BoxRecorder;
        QApplication::setFont(defaultFont);
    }
    void cleanup()
    {
        boxes->checkNoneLeft();
        delete boxes;
        delete work;
        QCoreApplication::removeTranslator(&translator);
        QtCatalogue::remove();
    }
    void initTestCase() { defaultFont = QApplication::font(); }

    void firstRun();
    void languageAtStart_data();
    void languageAtStart();
    void storedFontAndSize_data();
    void storedFontAndSize();
    void nonRegularFilesAreAbsent();
    void historyFile_data();
    void historyFile();
    void historyCompletion();
    void addressChecks_data();
    void addressChecks();
    void connectFromHistoryPopup();
    void connectionFailure();
    void clearHistory();
    void consoleGesture();
    void gestureNeedsFivePressesInTime();
    void languageSwitchAtRunTime();
    void chineseInRealModalRuns();
    void rebootQuestion();
    void rebootedDeviceComesBack();
    void programmingWhileUnconnectedLeavesNoRun();
    void fontDialogCancelStillStores();
    void aboutBox();

private:
    TempWorkDir* work = nullptr;
    BoxRecorder* boxes = nullptr;
    QTranslator translator;
    QFont defaultFont;
};

void TestMainWindow::firstRun()
{
    QCOMPARE(Startup::applyLanguage(translator), 0);
    QSettings check(AppSettings::filePath(), QSettings::IniFormat);
    QCOMPARE(check.allKeys(), QStringList{QStringLiteral("language")});
    QCOMPARE(check.value("language").toString(), QStringLiteral("English"));

    MainWindow w;
    w.setTranslator(&translator, 0);
    QVERIFY(w.form()->actionEnglish->isChecked());
    QCOMPARE(w.size(), QSize(800, 600));
    QCOMPARE(QApplication::font(), defaultFont);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // Showing counts as a resize: the screen section exists afterwards.
    QTRY_COMPARE(setting("screen/width").toInt(), 800);
    QCOMPARE(setting("screen/height").toInt(), 600);
    QVERIFY(!QFile::exists(AppSettings::historyPath()));
    QCOMPARE(w.form()->btnConnect->text(), QStringLiteral("Connect"));
    QCOMPARE(w.form()->labelStatus->text(),
             QStringLiteral("<font color=#FF0000>Disconnect with device"));
    QCOMPARE(w.form()->stackWidget->count(), 6);
    QCOMPARE(w.form()->listWidget->count(), 6);
    QCOMPARE(w.form()->listWidget->item(5)->text(), QStringLiteral("Device Search"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Fieldmate"));
}

void TestMainWindow::languageAtStart_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("catalogue");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("connectText");
    QTest::newRow("Chinese") << "Chinese" << true << 1 << QStringLiteral("连接");
    QTest::newRow("Chinese without catalogue") << "Chinese" << false << 1 << "Connect";
    QTest::newRow("other letter case") << "chinese" << true << 0 << "Connect";
    QTest::newRow("English") << "English" << true << 0 << "Connect";
    QTest::newRow("empty, as the menu writes it") << "" << true << 0 << "Connect";
}

void TestMainWindow::languageAtStart()
{
    QFETCH(QString, value);
    QFETCH(bool, catalogue);
    QFETCH(int, index);
    QFETCH(QString, connectText);
    {
        QSettings s(AppSettings::filePath(), QSettings::IniFormat);
        s.setValue("language", value);
    }
    if (catalogue)
        installCatalogue();
    QCOMPARE(Startup::applyLanguage(translator), index);
    MainWindow w;
    w.setTranslator(&translator, index);
    QCOMPARE(w.form()->btnConnect->text(), connectText);
    QCOMPARE(w.form()->actionChinese->isChecked(), index == 1);
    QCOMPARE(w.form()->actionEnglish->isChecked(), index == 0);
    QCOMPARE(QtCatalogue::installed(), index == 1 && catalogue); // Qt's texts follow
    QCOMPARE(setting("language").toString(), value); // never rewritten
}

void TestMainWindow::storedFontAndSize_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("points"); // 0: the default font stays
    QTest::addColumn<bool>("boldItalic");
    QTest::addColumn<bool>("keptAfterShow"); // stored values outlive showing
    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    QTest::newRow("as stored") << QByteArray("[Font]\nsize=13\nfamily=Sans\nbold=true\n"
                                             "italic=true\n[screen]\nwidth=700\nheight=500\n")
                               << QSize(700, 500) << 13 << true << false;
    QTest::newRow("missing keys read as 0 or false")
        << QByteArray("[Font]\nsize=11\n") << QSize(800, 600) << 11 << false << false;
    QTest::newRow("huge font and window are cut down, stored values kept")
        << QByteArray("[Font]\nsize=5000\n[screen]\nwidth=100000\nheight=100000\n")
        << screen << AppSettings::kMaxFontPoints << false << true;
    QTest::newRow("tiny font, wide window")
        << QByteArray("[Font]\nsize=1\n[screen]\nwidth=100000\nheight=300\n")
        << QSize(screen.width(), 300) << AppSettings::kMinFontPoints << false << true;
    QTest::newRow("values that make no sense")
        << QByteArray("[Font]\nsize=huge\nfamily=\n[screen]\nwidth=-5\nheight=abc\n")
        << QSize(800, 600) << 0 << false << false;
    QByteArray junk;
    for (int i = 0; i < 512; ++i)
        junk.append(static_cast<char>((i * 7919) & 0xFF));
    QTest::newRow("binary junk") << junk << QSize(800, 600) << 0 << false << false;
}

void TestMainWindow::storedFontAndSize()
{
    QFETCH(QByteArray, ini);
    QFETCH(QSize, size);
    QFETCH(int, points);
    QFETCH(bool, boldItalic);
    QFETCH(bool, keptAfterShow);
    writeFile(AppSettings::filePath(), ini);
    const QStringList keys{"Font/size", "screen/width", "screen/height"};
    QStringList before;
    for (const QString& key : keys)
        before << setting(qPrintable(key)).toString();
    QCOMPARE(Startup::applyLanguage(translator), 0);
    MainWindow w;
    QCOMPARE(w.size(), size);
    QCOMPARE(QApplication::font().pointSize(), points ? points : defaultFont.pointSize());
    QCOMPARE(QApplication::font().bold(), boldItalic);
    QCOMPARE(QApplication::font().italic(), boldItalic);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCoreApplication::processEvents();
    if (keptAfterShow) {
        QStringList after;
        for (const QString& key : keys)
            after << setting(qPrintable(key)).toString();
        QCOMPARE(after, before);
    }
    // Once the operator resizes the window, its new size is stored.
    QResizeEvent byOperator(QSize(640, 480), w.size());
    QSpontaneKeyEvent::setSpontaneous(&byOperator);
    static_cast<QObject&>(w).event(&byOperator); // as delivered by the window system
    QCOMPARE(setting("screen/width").toInt(), 640);
}

void TestMainWindow::nonRegularFilesAreAbsent()
{
    // FIFOs block whoever opens them: start-up, connecting, clearing the
    // history and every settings write must pass them by.
    QDir().mkpath(QStringLiteral("config"));
    QCOMPARE(::mkfifo(qPrintable(AppSettings::filePath()), 0600), 0);
    QCOMPARE(::mkfifo(qPrintable(AppSettings::historyPath()), 0600), 0);
    installCatalogue();
    QCOMPARE(Startup::applyLanguage(translator), 0);
    FakeDevice device;
    MainWindow w;
    w.setTranslator(&translator, 0);
    QVERIFY(w.history().isEmpty());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    connectWindow(w, device.port());
    QVERIFY(w.isConnected());
    QCOMPARE(w.history(), QStringList{"127.0.0.1"});
    w.form()->btnClearHistory->click();
    const auto previous = Dialogs::setFontInterceptor([](const QFont& initial) { return initial; });
    w.form()->actionFont->trigger();
    Dialogs::setFontInterceptor(previous);
    w.form()->actionChinese->trigger();
    QCOMPARE(w.form()->btnConnect->text(), QStringLiteral("断开")); // the switch still works
    w.form()->actionEnglish->trigger();
    for (const QString& path : {AppSettings::filePath(), AppSettings::historyPath()}) {
        QVERIFY(QFileInfo::exists(path));
        QVERIFY(!QFileInfo(path).isFile());
    }
}

void TestMainWindow::historyFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("entries");
    const QByteArray a = AddressHistory::encode({"192.168.1.10"});
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("two records") << AddressHistory::encode({"192.168.1.10", "10.0.0.1"})
                                 << QStringList{"192.168.1.10", "10.0.0.1"};
    QTest::newRow("short last record") << a + QByteArray("10.0.0.7") << QStringList{"192.168.1.10", "10.0.0.7"};
    QTest::newRow("record without zero byte")
        << QByteArray("1234567890123456") + a << QStringList{"1234567890123456", "192.168.1.10"};
    QTest::newRow("text ends at the first zero byte")
        << QByteArray("10.1.1.1\0garbage", 16) << QStringList{"10.1.1.1"};
    QTest::newRow("binary junk records are passed over")
        << QByteArray(16, '\xff') + a + QByteArray(16, '\0') + QByteArray("\x01\x02\x03", 3)
        << QStringList{"192.168.1.10"};
    QTest::newRow("duplicates kept as stored") << a + a << QStringList{"192.168.1.10", "192.168.1.10"};
}

void TestMainWindow::historyFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, entries);
    writeFile(AppSettings::historyPath(), bytes);
    MainWindow w;
    QCOMPARE(w.history(), entries);
    QVERIFY(w.addressCompleter()->model() != nullptr);
    QCOMPARE(w.addressCompleter()->model()->rowCount(), entries.size());
}

void TestMainWindow::historyCompletion()
{
    writeFile(AppSettings::historyPath(), AddressHistory::encode({"192.168.1.10", "192.168.1.100"}));
    MainWindow w;
    QCompleter* c = w.addressCompleter();
    QCOMPARE(c->caseSensitivity(), Qt::CaseInsensitive);
    c->setCompletionPrefix(QStringLiteral("192.168.1.1"));
    QCOMPARE(c->completionCount(), 2);

    // No file at all: no history and no model.
    QFile::remove(AppSettings::historyPath());
    MainWindow w2;
    QVERIFY(w2.history().isEmpty());
}

void TestMainWindow::addressChecks_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "" << "Device IP Address could not be null!";
    QTest::newRow("octet too large") << "256.1.1.1" << "Device IP Address format error!";
    QTest::newRow("three octets") << "10.0.0" << "Device IP Address format error!";
    QTest::newRow("leading zero") << "10.0.0.01" << "Device IP Address format error!";
    QTest::newRow("trailing blank") << "10.0.0.1 " << "Device IP Address format error!";
    QTest::newRow("host name") << "localhost" << "Device IP Address format error!";
}

void TestMainWindow::addressChecks()
{
    QFETCH(QString, address);
    QFETCH(QString, text);
    MainWindow w;
    QSignalSpy attempts(w.commLink(), &CommTcp::connectionError);
    w.form()->leDevIP->setText(address);
    w.form()->btnConnect->click();
    // Enter in the entry does the same, whatever its validator thinks.
    QTest::keyClick(w.form()->leDevIP, Qt::Key_Enter);
    for (int i = 0; i < 2; ++i) {
        const BoxRecorder::Box box = boxes->take();
        QCOMPARE(box.title, QStringLiteral("Tip"));
        QCOMPARE(box.text, text);
        QCOMPARE(box.icon, QMessageBox::Information);
    }
    QVERIFY(w.form()->btnConnect->isEnabled());
    QCOMPARE(attempts.count(), 0);
    QVERIFY(!QFile::exists(AppSettings::historyPath()));
}

void TestMainWindow::connectFromHistoryPopup()
{
    FakeDevice device;
    MainWindow w;
    w.commLink()->setPort(device.port());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QLineEdit* entry = w.form()->leDevIP;
    QPushButton* connectButton = w.form()->btnConnect;

    // Enter in the address entry connects; the address is remembered.
    entry->setText(QStringLiteral("127.0.0.1"));
    QTest::keyClick(entry, Qt::Key_Return);
    QVERIFY(w.isConnected());
    QCOMPARE(connectButton->text(), QStringLiteral("Disconnect"));
    QCOMPARE(w.form()->labelStatus->text(), QStringLiteral("<font color=#00FF00>Connected to device"));
    QCOMPARE(readFile(AppSettings::historyPath()), AddressHistory::encode({"127.0.0.1"}));
    connectButton->click();
    QTRY_VERIFY(!w.isConnected());
    QCOMPARE(connectButton->text(), QStringLiteral("Connect"));

    // With the history popup open, Enter reaches the popup first; it
    // connects all the same, once.
    QAbstractItemView* popup = w.addressCompleter()->popup();
    QSignalSpy attempts(w.commLink(), &CommTcp::connectedToDevice);
    entry->clear();
    entry->setFocus();
    QTest::keyClicks(entry, QStringLiteral("127.0.0"));
    QTRY_VERIFY(popup->isVisible());
    popup->setCurrentIndex(popup->model()->index(0, 0));
    QTest::keyClick(popup, Qt::Key_Return);
    QTRY_VERIFY(w.isConnected());
    QCOMPARE(entry->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(attempts.count(), 1);
    connectButton->click();
    QTRY_VERIFY(!w.isConnected());

    // The same for the press on Connect: it reaches the popup first (the
    // popup has the mouse); the first one connects.
    entry->clear();
    entry->setFocus();
    QTest::keyClicks(entry, QStringLiteral("127.0.0.1"));
    QTRY_VERIFY(popup->isVisible());
    const QPoint onButton = popup->mapFromGlobal(
        connectButton->mapToGlobal(connectButton->rect().center()));
    QTest::mouseClick(popup, Qt::LeftButton, Qt::NoModifier, onButton);
    QTRY_VERIFY(w.isConnected());
    QVERIFY(!popup->isVisible());
    QCOMPARE(readFile(AppSettings::historyPath()).size(), 16); // once only
}

void TestMainWindow::connectionFailure()
{
    const quint16 deadPort = closedLocalPort();
    QVERIFY(deadPort != 0);
    MainWindow w;
    w.commLink()->setPort(deadPort);
    w.form()->leDevIP->setText(QStringLiteral("127.0.0.1"));
    w.form()->btnConnect->click();
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Tip"));
    QVERIFY2(box.text.startsWith(QStringLiteral("Connect to device failed, ")), qPrintable(box.text));
    QVERIFY(box.text.endsWith(QLatin1Char('!')));
    QVERIFY(box.text.size() > QStringLiteral("Connect to device failed, !").size());
    QVERIFY(w.form()->btnConnect->isEnabled());
    QVERIFY(!w.isConnected());
    QVERIFY(w.history().isEmpty()); // never connected: not remembered
}

void TestMainWindow::clearHistory()
{
    writeFile(AppSettings::historyPath(), AddressHistory::encode({"10.0.0.1", "10.0.0.2"}));
    MainWindow w;
    QCOMPARE(w.history().size(), 2);
    w.form()->btnClearHistory->click();
    QVERIFY(w.history().isEmpty());
    QCOMPARE(w.addressCompleter()->model()->rowCount(), 0);
    QVERIFY(QFile::exists(AppSettings::historyPath()));
    QCOMPARE(QFileInfo(AppSettings::historyPath()).size(), 0);
}

void TestMainWindow::consoleGesture()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QLabel* status = w.form()->labelStatus;
    // The second press of a double click arrives as a double-click event,
    // which does not count.
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(1, 1), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
    for (int i = 0; i < 4; ++i) {
        press(status);
        QApplication::sendEvent(status, &dbl);
    }
    QVERIFY(!w.consolePage());
    press(status);
    QVERIFY(w.consolePage());
    QCOMPARE(w.form()->stackWidget->count(), 7);
    QCOMPARE(w.form()->stackWidget->widget(6), static_cast<QWidget*>(w.consolePage()));
    QCOMPARE(w.form()->listWidget->count(), 7);
    QCOMPARE(w.form()->listWidget->item(6)->text(), QStringLiteral("root"));
    QCOMPARE(w.progPage()->typeCombo()->count(), 4);
    QCOMPARE(w.progPage()->typeCombo()->itemText(3), QStringLiteral("root"));
    QVERIFY(!w.gestureTimer()->isActive());
    // Once per run: more presses change nothing.
    for (int i = 0; i < 10; ++i)
        press(status);
    QCOMPARE(w.form()->listWidget->count(), 7);
    QCOMPARE(w.progPage()->typeCombo()->count(), 4);
    w.form()->listWidget->setCurrentRow(6);
    QCOMPARE(w.form()->stackWidget->currentIndex(), 6);
}

void TestMainWindow::gestureNeedsFivePressesInTime()
{
    MainWindow w;
    QCOMPARE(w.gestureTimer()->interval(), 5000);
    QVERIFY(w.gestureTimer()->isSingleShot());
    w.gestureTimer()->setInterval(40); // shortened for the test
    QLabel* status = w.form()->labelStatus;
    for (int i = 0; i < 4; ++i)
        press(status);
    QVERIFY(w.gestureTimer()->isActive());
    QTRY_VERIFY(!w.gestureTimer()->isActive()); // the window has passed
    for (int i = 0; i < 4; ++i)
        press(status);
    QVERIFY(!w.consolePage());
    QTRY_VERIFY(!w.gestureTimer()->isActive());
    w.gestureTimer()->setInterval(60000);
    for (int i = 0; i < 5; ++i)
        press(status);
    QVERIFY(w.consolePage());
}

void TestMainWindow::languageSwitchAtRunTime()
{
    installCatalogue();
    QCOMPARE(Startup::applyLanguage(translator), 0);
    MainWindow w;
    w.setTranslator(&translator, 0);
    w.show();
    for (int i = 0; i < 5; ++i)
        press(w.form()->labelStatus);
    QVERIFY(w.consolePage());

    w.form()->actionChinese->trigger();
    QCOMPARE(setting("language").toString(), QStringLiteral("Chinese"));
    QVERIFY(w.form()->actionChinese->isChecked());
    QCOMPARE(w.form()->btnConnect->text(), QStringLiteral("连接"));
    QCOMPARE(w.form()->labelStatus->text(), QStringLiteral("<font color=#FF0000>未连接设备"));
    QCOMPARE(w.form()->listWidget->item(0)->text(), QStringLiteral("程序烧录"));
    QCOMPARE(w.form()->menuHelp->title(), QStringLiteral("帮助"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Fieldmate"));
    // Pages follow on the language-change event.
    auto* sendButton = w.consolePage()->form()->btnSendCmd;
    QTRY_COMPARE(sendButton->text(), QStringLiteral("发送"));

    // Boxes come up translated too.
    w.form()->leDevIP->setText(QString());
    w.form()->btnConnect->click();
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("提示"));
    QCOMPARE(box.text, QStringLiteral("设备IP地址不能为空！"));
    QCOMPARE(box.buttons, QStringList{QStringLiteral("确定")});
    // Qt's standard buttons as well.
    MsgBox::standard(QMessageBox::Warning, QString(), QString(), QMessageBox::Ok | QMessageBox::No,
                     QMessageBox::No);
    QCOMPARE(boxes->take().buttons, QStringList({QStringLiteral("确定"), QStringLiteral("否(&N)")}));

    w.form()->actionEnglish->trigger();
    QVERIFY(!QtCatalogue::installed());
    MsgBox::standard(QMessageBox::Warning, QString(), QString(), QMessageBox::Ok | QMessageBox::No,
                     QMessageBox::No);
    QCOMPARE(boxes->take().buttons, QStringList({QStringLiteral("OK"), QStringLiteral("&No")}));
    QCOMPARE(setting("language").toString(), QString());
    QVERIFY(setting("language").isValid());
    QVERIFY(w.form()->actionEnglish->isChecked());
    QCOMPARE(w.form()->btnConnect->text(), QStringLiteral("Connect"));
    QCOMPARE(w.form()->listWidget->item(6)->text(), QStringLiteral("root"));
    QTRY_COMPARE(sendButton->text(), QStringLiteral("Send"));
    // The next start is in English.
    QTranslator next;
    QCOMPARE(Startup::applyLanguage(next), 0);
}

void TestMainWindow::chineseInRealModalRuns()
{
    installCatalogue();
    QCOMPARE(Startup::applyLanguage(translator), 0);
    MainWindow w;
    w.setTranslator(&translator, 0);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.form()->actionChinese->trigger();
    QVERIFY(QtCatalogue::installed());
    const QString existing = QStringLiteral("日志.txt");
    writeFile(existing, "old");
    MsgBox::setInterceptor(nullptr); // every box below runs for real

    int windows = 0;
    const QStringList texts = readModalRuns(
        [&] {
            QTest::keyClick(w.form()->leDevIP, Qt::Key_Return);  // "Sure" box
            w.form()->actionRebootDevice->trigger();              // OK and No
            MsgBox::standard(QMessageBox::Question, QStringLiteral("警告"), QStringLiteral("写入？"),
                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
            MsgBox::standard(QMessageBox::Information, QStringLiteral("信息"),
                             QStringLiteral("正在写入"), QMessageBox::Ok, QMessageBox::Ok);
            w.form()->actionAbout->trigger();
            w.displayLogPageWidget()->form()->btnSave->click(); // file dialog, "already exists"
            w.form()->actionFont->trigger();
        },
        existing, &windows);
    QCOMPARE(windows, 8);
    QVERIFY(w.displayLogPageWidget()->isSaving()); // the file dialog was answered
    w.displayLogPageWidget()->form()->btnSave->click();
    QCOMPARE(englishWords(texts, {"Fieldmate", "IP", QStringLiteral(__DATE__).left(3), "log", "txt"}),
             QStringList());
    for (const char* expected : {"确定", "否(&N)", "是(&Y)", "查找范围：", "文件名称(&N)：",
                                 "字体风格(&Y)", "已存在"})
        QVERIFY2(texts.filter(QString::fromUtf8(expected)).size() > 0, expected);
}

void TestMainWindow::rebootQuestion()
{
    FakeDevice device;
    MainWindow w;
    connectWindow(w, device.port());
    QVERIFY(device.waitForClient());

    boxes->answerNext(MsgBox::Answer::No);
    w.form()->actionRebootDevice->trigger();
    BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("Are you sure to reboot device?"));
    QCOMPARE(box.buttons.size(), 2); // the standard OK and No

    boxes->answerNext(MsgBox::Answer::Ok);
    w.form()->actionRebootDevice->trigger();
    boxes->take();
    QVERIFY(device.waitForReceived(6));
    QCOMPARE(device.received().toHex(), QByteArray("68000200026c")); // only one reboot

    // Unconnected: the link says so.
    MainWindow idle;
    boxes->answerNext(MsgBox::Answer::Ok);
    idle.form()->actionRebootDevice->trigger();
    boxes->take();
    QCOMPARE(boxes->takeText(), QStringLiteral("Device not connected!"));
}

void TestMainWindow::rebootedDeviceComesBack()
{
    DevsimProcess devsim;
    QVERIFY(devsim.start({"--set", "reboot-ms=300"}));
    MainWindow w;
    connectWindow(w, devsim.port());
    QVERIFY(w.isConnected());
    QSignalSpy gone(w.commLink(), &CommTcp::disconnected);
    boxes->answerNext(MsgBox::Answer::Ok);
    w.form()->actionRebootDevice->trigger();
    boxes->take();
    QVERIFY(gone.wait(5000)); // the device drops the connection as it reboots
    QVERIFY(!w.isConnected());
    QCOMPARE(w.form()->btnConnect->text(), QStringLiteral("Connect"));
    QCOMPARE(w.form()->labelStatus->text(),
             QStringLiteral("<font color=#FF0000>Disconnect with device"));
    QVERIFY(w.form()->btnConnect->isEnabled());
    QVERIFY(devsim.waitForLog(QStringLiteral("up again")));
    w.form()->btnConnect->click();
    QVERIFY(w.isConnected());
}

void TestMainWindow::programmingWhileUnconnectedLeavesNoRun()
{
    DevsimProcess devsim;
    QVERIFY(devsim.start());
    MainWindow w;
    ProgrammingPage* page = w.progPage();
    page->form()->leFile->setText(work->file(QStringLiteral("image.bin")));
    page->form()->btnProgramming->click();
    QCOMPARE(boxes->takeText(), QStringLiteral("Device not connected!"));
    QVERIFY(!page->isRunning());

    // Connecting and reading the version must not start a programming run.
    connectWindow(w, devsim.port());
    QVERIFY(w.isConnected());
    page->form()->btnRead->click();
    QTRY_VERIFY(!page->form()->labelVersion->text().isEmpty());
    QVERIFY(!page->isRunning());
    QVERIFY(!devsim.log().contains(QStringLiteral("<- 0x0100")));
}

void TestMainWindow::fontDialogCancelStillStores()
{
    MainWindow w;
    QFont seen;
    const auto previous = Dialogs::setFontInterceptor([&](const QFont& initial) {
        seen = initial;
        return initial; // Cancel
    });
    w.form()->actionFont->trigger();
    Dialogs::setFontInterceptor(previous);
    QCOMPARE(seen, QApplication::font());
    QCOMPARE(setting("Font/size").toInt(), QApplication::font().pointSize());
    QCOMPARE(setting("Font/family").toString(), QApplication::font().family());
    QCOMPARE(setting("Font/bold").toBool(), false);
    QCOMPARE(setting("Font/italic").toBool(), false);

    QFont chosen = QApplication::font();
    chosen.setPointSize(17);
    chosen.setBold(true);
    const auto prev2 = Dialogs::setFontInterceptor([&](const QFont&) { return chosen; });
    w.form()->actionFont->trigger();
    Dialogs::setFontInterceptor(prev2);
    QCOMPARE(QApplication::font().pointSize(), 17);
    QCOMPARE(setting("Font/size").toInt(), 17);
    QCOMPARE(setting("Font/bold").toBool(), true);
}

void TestMainWindow::aboutBox()
{
    MainWindow w;
    w.form()->actionAbout->trigger();
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("About Fieldmate"));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QVERIFY(box.buttons.isEmpty() || box.buttons.size() == 1);
    const QRegularExpression re(QStringLiteral(
        "^<html><span style=\"font-weight:bold; font-size:16px\">Fieldmate v1\\.3\\.6</span>"
        "<br><br>Built on [A-Z][a-z]{2} [ 123]\\d \\d{4} \\d\\d:\\d\\d:\\d\\d<br><br>"
        "This software is used for device programming and settings\\.</html>$"));
    QVERIFY2(re.match(box.text).hasMatch(), qPrintable(box.text));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
