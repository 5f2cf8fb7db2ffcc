#pragma once

#include <QByteArray>
#include <QStringList>
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
    // Appends the log text received so far to the view at once.
    void flushLogText();

protected:
    void changeEvent(QEvent* event) override;

private:
    void fillList(const quint8* data, int size);
    void applyOpenResult(const quint8* data, int size);

    UI_DisplayLogPage* ui;
    bool logOpen = false;
    // Log text received but not yet appended. A burst of frames that arrive
    // in one read is appended as one edit of the view, so the view is laid
    // out once per burst and not once per frame.
    QStringList pendingText_;
    QTimer* flushTimer_;
    quint64 appended_ = 0;
    quint64 dropped_ = 0;
};
