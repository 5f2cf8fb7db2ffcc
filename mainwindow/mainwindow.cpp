#include "mainwindow/mainwindow.h"

#include "app/appsettings.h"
#include "app/qtcatalogue.h"
#include "common/addresspatterns.h"
#include "common/dialogs.h"
#include "common/msgbox.h"
#include "discovery/devsereachpage.h"
#include "mainwindow/addresshistory.h"
#include "pages/displaylogpage.h"
#include "pages/fixedparampage.h"
#include "pages/pageroot.h"
#include "pages/settingspage.h"
#include "pages/sptestpage.h"
#include "programming/programmingpage.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCompleter>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QKeyEvent>
#include <QRegularExpressionValidator>
#include <QResizeEvent>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStringListModel>
#include <QTimer>
#include <QTranslator>
#include <QVBoxLayout>

namespace {
constexpr int kPageCount = 6;
}

void UI_MainWindow::setupUi(QMainWindow* window)
{
    window->resize(800, 600);
    centralWidget = new QWidget(window);
    verticalLayout = new QVBoxLayout(centralWidget);

    topLayout = new QHBoxLayout;
    topLayout->addStretch();
    labelDevIP = new QLabel(centralWidget);
    topLayout->addWidget(labelDevIP);
    leDevIP = new QLineEdit(centralWidget);
    leDevIP->setMinimumWidth(160);
    topLayout->addWidget(leDevIP);
    btnConnect = new QPushButton(centralWidget);
    topLayout->addWidget(btnConnect);
    btnClearHistory = new QPushButton(centralWidget);
    topLayout->addWidget(btnClearHistory);
    topLayout->addStretch();
    verticalLayout->addLayout(topLayout);

    splitter = new QSplitter(Qt::Horizontal, centralWidget);
    listWidget = new QListWidget(splitter);
    for (int i = 0; i < kPageCount; ++i)
        listWidget->addItem(QString());
    stackWidget = new QStackedWidget(splitter);
    stackWidget->setObjectName(QStringLiteral("stackWidget"));
    splitter->addWidget(listWidget);
    splitter->addWidget(stackWidget);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 7);
    verticalLayout->addWidget(splitter, 1);
    window->setCentralWidget(centralWidget);

    labelStatus = new QLabel(window);
    labelStatus->setTextFormat(Qt::RichText);
    window->statusBar()->addWidget(labelStatus);

    QMenuBar* bar = window->menuBar();
    menuTool = bar->addMenu(QString());
    actionRebootDevice = menuTool->addAction(QString());
    menuWindow = bar->addMenu(QString());
    actionFont = menuWindow->addAction(QString());
    menuLanguage = menuWindow->addMenu(QString());
    actionEnglish = menuLanguage->addAction(QString());
    actionEnglish->setCheckable(true);
    actionChinese = menuLanguage->addAction(QString());
    actionChinese->setCheckable(true);
    menuHelp = bar->addMenu(QString());
    actionAbout = menuHelp->addAction(QString());

    retranslateUi(window);
}

void UI_MainWindow::retranslateUi(QMainWindow* window)
{
    window->setWindowTitle(MainWindow::tr("Fieldmate"));
    labelDevIP->setText(MainWindow::tr("Device IP:"));
    btnClearHistory->setText(MainWindow::tr("Clear history"));
    const QString pages[kPageCount] = {MainWindow::tr("Programming"),
                                       MainWindow::tr("Settings"),
                                       MainWindow::tr("Fixed Parameters"),
                                       MainWindow::tr("Display Log"),
                                       MainWindow::tr("Serial Port Test"),
                                       MainWindow::tr("Device Search")};
    for (int i = 0; i < kPageCount; ++i)
        listWidget->item(i)->setText(pages[i]);
    if (listWidget->count() > kPageCount)
        listWidget->item(kPageCount)->setText(MainWindow::tr("root"));
    menuTool->setTitle(MainWindow::tr("Tool"));
    actionRebootDevice->setText(MainWindow::tr("Reboot Device"));
    menuWindow->setTitle(MainWindow::tr("Window"));
    actionFont->setText(MainWindow::tr("Font"));
    menuLanguage->setTitle(MainWindow::tr("Language"));
    actionEnglish->setText(MainWindow::tr("English"));
    actionChinese->setText(MainWindow::tr("Chinese"));
    menuHelp->setTitle(MainWindow::tr("Help"));
    actionAbout->setText(MainWindow::tr("About"));
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
      ui(new UI_MainWindow),
      languageGroup(new QActionGroup(this)),
      clickTimer(new QTimer(this)),
      completer(new QCompleter(this)),
      historyModel(new QStringListModel(this))
{
    ui->setupUi(this);
    clickTimer->setSingleShot(true);
    clickTimer->setInterval(kGestureWindowMs);
    restoreFontAndSize();
    // The list starts as wide as its entries need (in the font just
    // restored); the pages get the rest, which at 800 x 600 they need.
    const int listWidth =
        ui->listWidget->sizeHintForColumn(0) + 2 * ui->listWidget->frameWidth() + 32;
    ui->splitter->setSizes({listWidth, qMax(width() - listWidth, listWidth)});

    languageGroup->setExclusive(true);
    languageGroup->addAction(ui->actionChinese);
    languageGroup->addAction(ui->actionEnglish);

    programmingPage = new ProgrammingPage(ui->stackWidget);
    settingsPage = new SettingsPage(ui->stackWidget);
    fixedParamPage = new FixedParamPage(ui->stackWidget);
    displayLogPage = new DisplayLogPage(ui->stackWidget);
    spTestPage = new SPTestPage(ui->stackWidget);
    searchPage = new DevSereachPage(ui->stackWidget);
    for (QWidget* page : {static_cast<QWidget*>(programmingPage),
                          static_cast<QWidget*>(settingsPage),
                          static_cast<QWidget*>(fixedParamPage),
                          static_cast<QWidget*>(displayLogPage),
                          static_cast<QWidget*>(spTestPage), static_cast<QWidget*>(searchPage)})
        ui->stackWidget->addWidget(page);

    ui->leDevIP->setValidator(
        new QRegularExpressionValidator(QRegularExpression(ipv4Pattern()), ui->leDevIP));
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    ui->leDevIP->setCompleter(completer);
    // Enter in the address entry connects; with the history popup open the
    // popup takes the key, completes the entry and hands the key on.
    ui->leDevIP->installEventFilter(this);
    connect(ui->leDevIP, &QLineEdit::returnPressed, this, [this] {
        if (!connected && ui->btnConnect->isEnabled())
            connectEvent();
    });

    loadHistory();

    ui->labelStatus->installEventFilter(this);
    refreshStatus();

    connect(clickTimer, &QTimer::timeout, this, &MainWindow::onTimerTimeout);
    connect(ui->actionRebootDevice, &QAction::triggered, this, &MainWindow::rebootDevice);
    connect(ui->actionFont, &QAction::triggered, this, &MainWindow::setAPPFont);
    connect(ui->actionEnglish, &QAction::triggered, this, &MainWindow::changeLanguage);
    connect(ui->actionChinese, &QAction::triggered, this, &MainWindow::changeLanguage);
    connect(ui->actionAbout, &QAction::triggered, this, &MainWindow::showAbout);
    connect(ui->btnConnect, &QPushButton::clicked, this, &MainWindow::connectEvent);
    connect(ui->btnClearHistory, &QPushButton::clicked, this, &MainWindow::clearHistory);
    connect(ui->listWidget, &QListWidget::currentRowChanged, ui->stackWidget,
            &QStackedWidget::setCurrentIndex);

    connect(&commTcp, &CommTcp::connectedToDevice, this, &MainWindow::connectedToDevice);
    connect(&commTcp, &CommTcp::connectionError, this, &MainWindow::connectionError);
    connect(&commTcp, &CommTcp::disconnected, this, &MainWindow::disconnectedFromDeivce);
    connect(&commTcp, &CommTcp::gotProgRespond, programmingPage, &ProgrammingPage::handleRespond);
    connect(&commTcp, &CommTcp::disconnected, programmingPage, &ProgrammingPage::handleError);
    connect(&commTcp, &CommTcp::sendError, programmingPage, &ProgrammingPage::handleError);
    connect(&commTcp, &CommTcp::notConnected, programmingPage,
            &ProgrammingPage::linkNotConnected);
    connect(&commTcp, &CommTcp::gotSettingsRespond, settingsPage, &SettingsPage::handleRespond);
    connect(&commTcp, &CommTcp::gotLogRespond, displayLogPage, &DisplayLogPage::handleRespond);
    connect(&commTcp, &CommTcp::gotSPTestRespond, spTestPage, &SPTestPage::handleRespond);
    connect(&commTcp, &CommTcp::gotFixedParamRespond, fixedParamPage,
            &FixedParamPage::handleRespond);
    connect(programmingPage, &ProgrammingPage::sendCmd, &commTcp, &CommTcp::send);
    connect(settingsPage, &SettingsPage::sendCmd, &commTcp, &CommTcp::send);
    connect(displayLogPage, &DisplayLogPage::sendCmd, &commTcp, &CommTcp::send);
    connect(spTestPage, &SPTestPage::sendCmd, &commTcp, &CommTcp::send);
    connect(fixedParamPage, &FixedParamPage::sendCmd, &commTcp, &CommTcp::send);
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::restoreFontAndSize()
{
    const std::unique_ptr<QSettings> stored = AppSettings::open();
    if (!stored)
        return;
    QSettings& settings = *stored;
    if (AppSettings::hasGroup(settings, QLatin1String(AppSettings::Key::fontGroup()))) {
        QFont font;
        const int size = settings.value(AppSettings::Key::fontSize()).toInt();
        // A damaged size would only make the toolkit complain; a huge one
        // would make it render glyphs of gigabytes.
        if (size > 0)
            font.setPointSize(
                qBound(AppSettings::kMinFontPoints, size, AppSettings::kMaxFontPoints));
        font.setFamily(settings.value(AppSettings::Key::fontFamily()).toString());
        font.setWeight(settings.value(AppSettings::Key::fontBold()).toBool() ? QFont::Bold
                                                                              : QFont::Normal);
        font.setItalic(settings.value(AppSettings::Key::fontItalic()).toBool());
        QApplication::setFont(font);
    }
    if (AppSettings::hasGroup(settings, QLatin1String(AppSettings::Key::screenGroup()))) {
        const int width = settings.value(AppSettings::Key::screenWidth()).toInt();
        const int height = settings.value(AppSettings::Key::screenHeight()).toInt();
        if (width > 0 && height > 0) {
            // No larger than the screen can show: a window of 100000 x 100000
            // pixels cannot even be painted.
            QSize size(width, height);
            if (const QScreen* screen = QGuiApplication::primaryScreen())
                size = size.boundedTo(screen->availableGeometry().size());
            resize(size);
            keepStoredSize = size != QSize(width, height);
        }
    }
}

void MainWindow::loadHistory()
{
    if (!AddressHistory::load(AppSettings::historyPath(), ipHistory))
        return;
    setHistoryModel();
}

void MainWindow::setHistoryModel()
{
    historyModel->setStringList(ipHistory);
    completer->setModel(historyModel);
    // A press on Connect while the history popup is open is seen here
    // before the completer swallows it (setting a model re-installs the
    // completer's own filter in front).
    completer->popup()->installEventFilter(this);
}

void MainWindow::setTranslator(QTranslator* t, int language)
{
    translator = t;
    if (language == 0)
        ui->actionEnglish->setChecked(true);
    else if (language == 1)
        ui->actionChinese->setChecked(true);
}

void MainWindow::refreshStatus()
{
    if (connected) {
        ui->labelStatus->setText(tr("<font color=#00FF00>Connected to device"));
        ui->btnConnect->setText(tr("Disconnect"));
    } else {
        ui->labelStatus->setText(tr("<font color=#FF0000>Disconnect with device"));
        ui->btnConnect->setText(tr("Connect"));
    }
}

void MainWindow::connectEvent()
{
    if (connected) {
        commTcp.disconnectDevice();
        return;
    }
    const QString ip = ui->leDevIP->text();
    if (ip.isEmpty()) {
        MsgBox::information(tr("Tip"), tr("Device IP Address could not be null!"));
        return;
    }
    if (!isIpv4Address(ip)) {
        MsgBox::information(tr("Tip"), tr("Device IP Address format error!"));
        return;
    }
    ui->btnConnect->setEnabled(false);
    commTcp.connectDevice(ip);
}

void MainWindow::connectedToDevice()
{
    const QString ip = ui->leDevIP->text();
    if (!ipHistory.contains(ip)) {
        ipHistory.append(ip);
        setHistoryModel();
        AddressHistory::save(AppSettings::historyPath(), ipHistory);
    }
    connected = true;
    ui->btnConnect->setEnabled(true);
    refreshStatus();
}

void MainWindow::connectionError(QString error)
{
    MsgBox::information(tr("Tip"), tr("Connect to device failed, %1!").arg(error));
    ui->btnConnect->setEnabled(true);
}

void MainWindow::disconnectedFromDeivce()
{
    commTcp.disconnectDevice();
    connected = false;
    // A device that goes away while an attempt is under way must not leave
    // the button disabled.
    ui->btnConnect->setEnabled(true);
    refreshStatus();
}

void MainWindow::clearHistory()
{
    QFile file(AppSettings::historyPath());
    if (AppSettings::isUsable(file.fileName()) &&
        file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.close();
    ipHistory.clear();
    setHistoryModel();
}

void MainWindow::rebootDevice()
{
    const MsgBox::Answer answer =
        MsgBox::standard(QMessageBox::Warning, tr("Warning"), tr("Are you sure to reboot device?"),
                         QMessageBox::Ok | QMessageBox::No, QMessageBox::No, this);
    if (answer == MsgBox::Answer::Ok)
        commTcp.send(0x0002);
}

void MainWindow::setAPPFont()
{
    const QFont font = Dialogs::getFont(QApplication::font());
    QApplication::setFont(font);
    const QFont current = QApplication::font();
    const std::unique_ptr<QSettings> settings = AppSettings::open();
    if (!settings)
        return;
    settings->setValue(AppSettings::Key::fontSize(), current.pointSize());
    settings->setValue(AppSettings::Key::fontFamily(), current.family());
    settings->setValue(AppSettings::Key::fontBold(), current.weight() > QFont::Medium);
    settings->setValue(AppSettings::Key::fontItalic(), current.style() != QFont::StyleNormal);
}

void MainWindow::changeLanguage()
{
    const bool chinese = sender() == ui->actionChinese;
    if (const std::unique_ptr<QSettings> settings = AppSettings::open())
        settings->setValue(AppSettings::Key::language(),
                           chinese ? QString::fromLatin1(AppSettings::chineseValue()) : QString());
    if (chinese) {
        ui->actionChinese->setChecked(true);
        // Qt's own texts (standard buttons, file and font dialogs) follow
        // the program's catalogue.
        if (translator && translator->load(AppSettings::catalogToLoad())) {
            QCoreApplication::installTranslator(translator);
            QtCatalogue::install();
        }
    } else {
        ui->actionEnglish->setChecked(true);
        if (translator)
            QCoreApplication::removeTranslator(translator);
        QtCatalogue::remove();
    }
    refreshStatus();
    ui->retranslateUi(this);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    // A stored size cut down to the screen stays stored as it is until the
    // window system (the operator) gives the window another size.
    if (!keepStoredSize || event->spontaneous()) {
        keepStoredSize = false;
        if (const std::unique_ptr<QSettings> settings = AppSettings::open()) {
            settings->setValue(AppSettings::Key::screenWidth(), event->size().width());
            settings->setValue(AppSettings::Key::screenHeight(), event->size().height());
        }
    }
    QMainWindow::resizeEvent(event);
}

QString MainWindow::aboutText()
{
    return QStringLiteral("<html><span style=\"font-weight:bold; font-size:16px\">Fieldmate v") +
           QStringLiteral(FIELDMATE_VERSION) + QStringLiteral("</span><br><br>") +
           tr("Built on") + QLatin1Char(' ') + QStringLiteral(__DATE__) + QLatin1Char(' ') +
           QStringLiteral(__TIME__) + QStringLiteral("<br><br>") +
           tr("This software is used for device programming and settings.") +
           QStringLiteral("</html>");
}

void MainWindow::showAbout()
{
    QMessageBox box(QMessageBox::NoIcon, tr("About Fieldmate"), aboutText());
    box.setTextFormat(Qt::RichText);
    MsgBox::exec(box);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->leDevIP && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !connected &&
            ui->btnConnect->isEnabled()) {
            connectEvent();
            return true;
        }
    }
    if (watched == completer->popup() && event->type() == QEvent::MouseButtonPress) {
        // The popup closes on a press outside it and swallows that press;
        // one on Connect is passed on once the popup has gone.
        QPushButton* button = ui->btnConnect;
        const QPoint at =
            button->mapFromGlobal(static_cast<QMouseEvent*>(event)->globalPos());
        if (button->isVisible() && button->isEnabled() && button->rect().contains(at) &&
            !completer->popup()->rect().contains(completer->popup()->mapFromGlobal(
                static_cast<QMouseEvent*>(event)->globalPos())))
            QMetaObject::invokeMethod(button, &QPushButton::click, Qt::QueuedConnection);
    }
    if (watched == ui->labelStatus && event->type() == QEvent::MouseButtonPress && !rootPage) {
        if (clickCount == 0)
            clickTimer->start();
        ++clickCount;
        if (clickCount >= kGestureClicks) {
            clickTimer->stop();
            openConsolePage();
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::openConsolePage()
{
    rootPage = new PageRoot(ui->stackWidget);
    ui->stackWidget->addWidget(rootPage);
    ui->listWidget->addItem(tr("root"));
    connect(&commTcp, &CommTcp::gotRootRespond, rootPage, &PageRoot::handleRespond);
    connect(rootPage, &PageRoot::sendCmd, &commTcp, &CommTcp::send);
    programmingPage->addRootProgType();
}

void MainWindow::onTimerTimeout()
{
    clickCount = 0;
}
