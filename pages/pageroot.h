#pragma once

#include <QByteArray>
#include <QWidget>

class QGroupBox;
class QHBoxLayout;
class QLineEdit;
class QPushButton;
class QTextBrowser;
class QVBoxLayout;

// Form of the command console page, built in code.
class UI_PageRoot
{
public:
    QVBoxLayout* verticalLayout_2 = nullptr;
    QGroupBox* groupBox = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QTextBrowser* textBrowserCmd = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QLineEdit* leCmd = nullptr;
    QPushButton* btnSendCmd = nullptr;

    void setupUi(QWidget* page);
    void retranslateUi(QWidget* page);
};

// The raw command console: a typed line goes to the device as 0x0012, and
// every 0x0013 reply is appended to the transcript.
class PageRoot : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kCmdLine = 0x0012;
    static constexpr int kCmdReply = 0x0013;

    explicit PageRoot(QWidget* parent = nullptr);
    ~PageRoot() override;

    UI_PageRoot* form() const { return ui; }
    // How a zero byte of a reply is shown.
    static QString zeroByteMark() { return QStringLiteral("\\0"); }

Q_SIGNALS:
    void sendCmd(int cmd, QByteArray data);

public Q_SLOTS:
    void handleRespond(int cmd, const quint8* data, int size);

protected:
    void changeEvent(QEvent* event) override;

private Q_SLOTS:
    void onSendCommand();

private:
    void appendEntry(const QString& prefix, const QString& text, Qt::GlobalColor color);

    UI_PageRoot* ui;
};
