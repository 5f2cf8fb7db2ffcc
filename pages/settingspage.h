#pragma once

#include <QByteArray>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

class QCheckBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QTableWidget;
class QVBoxLayout;

// Form of the settings page, built in code.
class UI_SettingPage
{
public:
    static constexpr int kPortRows = 4;

    QVBoxLayout* verticalLayoutPage = nullptr;
    QScrollArea* scrollArea = nullptr;
    QWidget* scrollAreaWidgetContents = nullptr;
    QVBoxLayout* verticalLayoutContents = nullptr;

    QGroupBox* groupBoxDate = nullptr;
    QHBoxLayout* horizontalLayoutDate = nullptr;
    QLabel* labelDate = nullptr;
    QLineEdit* leDate = nullptr;
    QPushButton* btnDeviceDate = nullptr;
    QPushButton* btnSyncDate = nullptr;

    QGroupBox* groupBoxPort = nullptr;
    QVBoxLayout* verticalLayoutPort = nullptr;
    QTableWidget* tableWidgetPort = nullptr;
    QCheckBox* checkBoxPort[kPortRows] = {};
    QLineEdit* lePort[kPortRows] = {};
    QHBoxLayout* horizontalLayoutButtons = nullptr;
    QPushButton* btnRead = nullptr;
    QPushButton* btnWrite = nullptr;

    void setupUi(QWidget* page);
    void retranslateUi(QWidget* page);
};

// The device's date and the four service ports (SSH, Telnet, HTTP, HTTPS).
class SettingsPage : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kCmdIgnored = 0x0003;
    static constexpr int kCmdReadDate = 0x0006;
    static constexpr int kCmdSetDate = 0x0007;
    static constexpr int kCmdReadPorts = 0x0010;
    static constexpr int kCmdWritePorts = 0x0011;
    static constexpr int kDateSize = 19;

    explicit SettingsPage(QWidget* parent = nullptr);
    ~SettingsPage() override;

    UI_SettingPage* form() const { return ui; }
    // The "Writing data..." box while a port write is outstanding.
    QMessageBox* progressBox() const { return progressBox_; }

Q_SIGNALS:
    void sendCmd(int cmd, QByteArray data);

public Q_SLOTS:
    void handleRespond(int cmd, const quint8* data, int size);
    void onCheckBoxPortChecked(bool checked);

protected:
    void changeEvent(QEvent* event) override;

private Q_SLOTS:
    void onBtnDeviceDateClicked();
    void onBtnSyncDateClicked();
    void onBtnReadClicked();
    void onBtnWriteClicked();

private:
    void handleDate(const quint8* data, int size);
    void handlePorts(const quint8* data, int size);
    void handleWriteResult(const quint8* data, int size);
    void dropProgressBox();

    UI_SettingPage* ui;
    QPointer<QMessageBox> progressBox_;
    // Boxes whose modal run is on the call stack right now.
    QList<QMessageBox*> runningBoxes_;
};
