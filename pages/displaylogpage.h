#pragma once

#include <QByteArray>
#include <QFile>
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
    QPushButton* btnSave = nullptr;
    QPushButton* btnClear = nullptr;
    QTextBrowser* textBrowser = nullptr;

    void setupUi(QWidget* page);
    void retranslateUi(QWidget* page);
};

// Lists the device's log files, opens or closes one, and shows the log text
// the device streams (0x000A) as it arrives. The view keeps the newest 5000
// blocks. Text that arrives faster than the view can show it is let go, and
// one line in the view says how many lines went there. "Save to file..."
// writes every payload received, whole, to a file until saving is stopped or
// the log is closed.
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
    // have pushed them out of the view at once, and the lines they held.
    quint64 droppedParagraphs() const { return dropped_; }
    quint64 droppedLines() const { return droppedLines_; }
    bool isSaving() const { return saveFile_.isOpen(); }

    // The blocks the view makes of one payload's text (UTF-8, up to a zero
    // byte): lines for plain text, paragraphs for rich text. The second is
    // a bound that costs next to nothing and is never too low.
    static int viewLines(const QByteArray& text);
    static int viewLinesAtMost(const QByteArray& text);
    // The line shown where text was let go.
    static QString skippedText(quint64 lines);

Q_SIGNALS:
    void sendCmd(int cmd, QByteArray data);

public Q_SLOTS:
    void handleRespond(int cmd, const quint8* data, int size);
    void refreshLogType();
    void openLog();
    void clearLog();
    // "Save to file...": asks for a file and starts saving, or stops.
    void saveLog();
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
    void flushSaveFile();

private:
    struct PendingText
    {
        QByteArray text; // UTF-8
        int lines;       // blocks it makes in the view
    };

    void fillList(const quint8* data, int size);
    void applyOpenResult(const quint8* data, int size);
    void queueText(const QByteArray& text);
    int countLines(const QByteArray& text);
    static int plainLines(const QByteArray& text);
    void appendPending(int maxLines);
    void writeToFile(const quint8* data, int size);
    void stopSaving();
    void saveFailed();

    UI_DisplayLogPage* ui;
    bool logOpen = false;
    // Log text received but not yet appended. Text that arrives in a burst
    // is appended in steps of one edit each, so the view is laid out once
    // per step and not once per frame, and no step keeps the event loop
    // busy for much longer than the append budget.
    QList<PendingText> pending_;
    int pendingLines_ = 0;
    // Lines let go ahead of the waiting text, shown as one mark before it.
    quint64 skippedAhead_ = 0;
    // Time spent counting rich text since the event loop last came round.
    qint64 countSpentNs_ = 0;
    QTimer* flushTimer_;
    int appendBudgetMs_ = 25;
    // Running estimate of the cost of appending one line, in nanoseconds.
    double nsPerLine_ = 50000.0;
    quint64 appended_ = 0;
    quint64 dropped_ = 0;
    quint64 droppedLines_ = 0;
    QFile saveFile_;
    QTimer* saveFlushTimer_;
};
