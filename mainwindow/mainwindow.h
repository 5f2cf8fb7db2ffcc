#pragma once

#include "comm/commtcp.h"

#include <QMainWindow>
#include <QStringList>

class DevSereachPage;
class DisplayLogPage;
class FixedParamPage;
class PageRoot;
class ProgrammingPage;
class QAction;
class QActionGroup;
class QCompleter;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QStringListModel;
class QTimer;
class QTranslator;
class QVBoxLayout;
class SettingsPage;
class SPTestPage;

// Form of the main window, built in code.
class UI_MainWindow
{
public:
    QWidget* centralWidget = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QHBoxLayout* topLayout = nullptr;
    QLabel* labelDevIP = nullptr;
    QLineEdit* leDevIP = nullptr;
    QPushButton* btnConnect = nullptr;
    QPushButton* btnClearHistory = nullptr;
    QSplitter* splitter = nullptr;
    QListWidget* listWidget = nullptr;
    QStackedWidget* stackWidget = nullptr;
    QLabel* labelStatus = nullptr;
    QMenu* menuTool = nullptr;
    QAction* actionRebootDevice = nullptr;
    QMenu* menuWindow = nullptr;
    QAction* actionFont = nullptr;
    QMenu* menuLanguage = nullptr;
    QAction* actionEnglish = nullptr;
    QAction* actionChinese = nullptr;
    QMenu* menuHelp = nullptr;
    QAction* actionAbout = nullptr;

    void setupUi(QMainWindow* window);
    void retranslateUi(QMainWindow* window);
};

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr int kGestureClicks = 5;
    static constexpr int kGestureWindowMs = 5000;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void setTranslator(QTranslator* translator, int language);
    void refreshStatus();

    // Access for tests and tools.
    UI_MainWindow* form() const { return ui; }
    CommTcp* commLink() { return &commTcp; }
    QTimer* gestureTimer() const { return clickTimer; }
    bool isConnected() const { return connected; }
    const QStringList& history() const { return ipHistory; }
    QCompleter* addressCompleter() const { return completer; }
    ProgrammingPage* progPage() const { return programmingPage; }
    SettingsPage* settingsPageWidget() const { return settingsPage; }
    FixedParamPage* fixedParamPageWidget() const { return fixedParamPage; }
    DisplayLogPage* displayLogPageWidget() const { return displayLogPage; }
    SPTestPage* spTestPageWidget() const { return spTestPage; }
    DevSereachPage* searchPageWidget() const { return searchPage; }
    PageRoot* consolePage() const { return rootPage; }

    // The About box's rich text.
    static QString aboutText();

public Q_SLOTS:
    void changeLanguage();
    void showAbout();
    void setAPPFont();
    void connectEvent();
    void connectedToDevice();
    void connectionError(QString error);
    void disconnectedFromDeivce();
    void rebootDevice();
    void onTimerTimeout();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private Q_SLOTS:
    void clearHistory();

private:
    void restoreFontAndSize();
    void loadHistory();
    void setHistoryModel();
    void openConsolePage();

    bool connected = false;
    unsigned clickCount = 0;
    UI_MainWindow* ui;
    QTranslator* translator = nullptr;
    QActionGroup* languageGroup;
    QTimer* clickTimer;
    QCompleter* completer;
    QStringListModel* historyModel;
    ProgrammingPage* programmingPage = nullptr;
    SettingsPage* settingsPage = nullptr;
    FixedParamPage* fixedParamPage = nullptr;
    DisplayLogPage* displayLogPage = nullptr;
    SPTestPage* spTestPage = nullptr;
    DevSereachPage* searchPage = nullptr;
    PageRoot* rootPage = nullptr;
    QStringList ipHistory;
    CommTcp commTcp;
    // The stored size had to be cut down to the screen: showing the window
    // does not overwrite it.
    bool keepStoredSize = false;
};
