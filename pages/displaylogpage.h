#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QWidget>

class QComboBox;
class QHBoxLayout;
class QPushButton;
class QSpacerItem;
class QTextBrowser;
class QTimer;
class QVBoxLayout;

// Form of the device log page, built in code.
class UI_DisplayLogPage
{
public:
    QVBoxLayout* verticalLayout = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QComboBox* comboBoxLogType = nullptr;
    QPushButton* btnOpen = nullptr;
    QPushButton* Refresh = nullptr;
    QSpacerItem* horizontalSpacer = nullptr;
    QPushButton* btnClear = nullptr;
    QTextBrowser* textBrowser = nullptr;

    void setupUi(QWidget* page);
    void retranslateUi(QWidget* page);
};

// Lists the device's log files, opens or closes one, and shows the log text
// the device streams (0x000A) as it arrives. The view keeps the newest 5000
// paragraphs.
class DisplayLogPage : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kCmdList = 0x0008;
    static constexpr int kCmdOpen = 0x0009;
    static constexpr int kCmdText = 0x000A;
    static constexpr int kMaxBlocks = 5000;

    explicit DisplayLogPage(QWidget* parent = nullptr);
    ~DisplayLogPage() override;

    UI_DisplayLogPage* form() const { return ui; }
    bool isLogOpen() const { return logOpen; }
    // Paragraphs of log text appended to the view since the page was built.
    quint64 appendedParagraphs() const { return appended_; }
    // Paragraphs let go before they were shown because newer text would
    // have pushed them out of the view at once.
    quint64 droppedParagraphs() const { return dropped_; }

Q_SIGNALS:
    void sendCmd(int cmd, QByteArray data);

public Q_SLOTS:
    void handleRespond(int cmd, const quint8* data, int size);
    void refreshLogType();
    void openLog();
    void clearLog();
    // Appends all the log text received so far to the view at once.
    void flushLogText();

public:
    // How long one step of appending received text may keep the event loop
    // busy (25 ms); a seam for tests and benchmarks.
    void setAppendBudget(int ms) { appendBudgetMs_ = ms; }

protected:
    void changeEvent(QEvent* event) override;

private Q_SLOTS:
    void onFlushTimerTimeout();

private:
    struct PendingText
    {
        QByteArray text; // UTF-8
        int lines;
    };

    void fillList(const quint8* data, int size);
    void applyOpenResult(const quint8* data, int size);
    void appendPending(int maxLines);

    UI_DisplayLogPage* ui;
    bool logOpen = false;
    // Log text received but not yet appended. Text that arrives in a burst
    // is appended in steps of one edit each, so the view is laid out once
    // per step and not once per frame, and no step keeps the event loop
    // busy for much longer than the append budget.
    QList<PendingText> pending_;
    int pendingLines_ = 0;
    QTimer* flushTimer_;
    int appendBudgetMs_ = 25;
    // Running estimate of the cost of appending one line, in nanoseconds.
    double nsPerLine_ = 50000.0;
    quint64 appended_ = 0;
    quint64 dropped_ = 0;
};
