#pragma once

#include "pages/serialsettings.h"

#include <QByteArray>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSplitter;
class QTextBrowser;
class QVBoxLayout;

// Form of the serial-port test page, built in code.
class UI_SPTestPage
{
public:
    QVBoxLayout* verticalLayout = nullptr;
    QSplitter* splitter = nullptr;
    QTextBrowser* textBrowserRecord = nullptr;
    QWidget* settingsPanel = nullptr;
    QGridLayout* gridLayout = nullptr;
    QLabel* labelRS485 = nullptr;
    QCheckBox* checkBoxRS485 = nullptr;
    QLabel* labelPortName = nullptr;
    QLineEdit* lineEditPortName = nullptr;
    QLabel* labelBaudRate = nullptr;
    QComboBox* comboBoxBaudRate = nullptr;
    QLabel* labelDataBits = nullptr;
    QComboBox* comboBoxDataBits = nullptr;
    QLabel* labelFlowControl = nullptr;
    QComboBox* comboBoxFlowControl = nullptr;
    QLabel* labelParity = nullptr;
    QComboBox* comboBoxParity = nullptr;
    QLabel* labelStopBits = nullptr;
    QComboBox* comboBoxStopBits = nullptr;
    QPushButton* btnClear = nullptr;
    QPushButton* btnConnect = nullptr;
    QHBoxLayout* sendLayout = nullptr;
    QLineEdit* lineEditSend = nullptr;
    QRadioButton* radioHex = nullptr;
    QRadioButton* radioASCII = nullptr;
    QRadioButton* radioModbus = nullptr;
    QPushButton* btnSend = nullptr;

    void setupUi(QWidget* page);
    void retranslateUi(QWidget* page);
};

// Tests a serial port of the connected device: opens it with the chosen
// line settings (0x000B), sends data through it as hexadecimal bytes, text or
// a Modbus frame with its CRC (0x000C), and records, with time stamps and
// colours, what was sent and what the device reports as received (0x000D).
class SPTestPage : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kCmdOpen = 0x000B;
    static constexpr int kCmdSend = 0x000C;
    static constexpr int kCmdReceived = 0x000D;
    enum SendType { Hex = 0, Ascii = 1, Modbus = 2 };

    explicit SPTestPage(QWidget* parent = nullptr);
    ~SPTestPage() override;

    UI_SPTestPage* form() const { return ui; }
    bool isPortOpen() const { return portOpen; }
    int currentSendType() const { return sendType; }
    // The line settings as the widgets show them now.
    SerialSettings settings() const;

Q_SIGNALS:
    void sendCmd(int cmd, QByteArray data);

public Q_SLOTS:
    void handleRespond(int cmd, const quint8* data, int size);
    void openPortEvent();
    void sendData();
    void clearRecord();
    void sendTypeChaned();

protected:
    void changeEvent(QEvent* event) override;

private:
    void setPortOpen(bool open);
    void appendEntry(const QString& plain, bool sent);
    QString entryStart(bool sent) const;

    UI_SPTestPage* ui;
    int sendType = Hex;
    bool portOpen = false;
};
