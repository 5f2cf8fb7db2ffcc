#pragma once

#include "pages/fixedparamjson.h"

#include <QByteArray>
#include <QWidget>

class QHBoxLayout;
class QPushButton;
class QTableWidget;
class QVBoxLayout;

// Form of the fixed parameters page, built in code.
class UI_FixedParamPage
{
public:
    QVBoxLayout* verticalLayout = nullptr;
    QTableWidget* tableWidget = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QPushButton* btnBackup = nullptr;
    QPushButton* btnLoad = nullptr;
    QPushButton* btnReset = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnRead = nullptr;
    QPushButton* btnWrite = nullptr;

    void setupUi(QWidget* page);
    void retranslateUi(QWidget* page);
};

// The device's fixed parameters (name, serial number, MAC address, ...) as a
// table of item and value: read from and written to the device, and saved to
// or loaded from INI files on the workstation. The table is the only copy.
class FixedParamPage : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kCmdRead = 0x000E;
    static constexpr int kCmdWrite = 0x000F;

    explicit FixedParamPage(QWidget* parent = nullptr);
    ~FixedParamPage() override;

    UI_FixedParamPage* form() const { return ui; }
    // The rows that have both cells, in table order.
    FixedParamJson::Params rows() const;

Q_SIGNALS:
    void sendCmd(int cmd, QByteArray data);

public Q_SLOTS:
    void handleRespond(int cmd, const quint8* data, int size);
    void backupFixedParam();
    void loadFixedParam();
    void resetFixedParam();
    void addFixedParam();
    void sendFixedParam();
    void handleReadFixed(const quint8* data, int size);
    void handleWriteFixed(quint8 result);
    void handleCellChangedEvent(int row, int column);

protected:
    void changeEvent(QEvent* event) override;

private:
    void fill(const FixedParamJson::Params& params);
    void setRow(int row, const QString& key, const QString& value);

    UI_FixedParamPage* ui;
};
