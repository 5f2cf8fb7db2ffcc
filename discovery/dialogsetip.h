#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpacerItem;
class QVBoxLayout;

// Form of the set-IP dialog, built in code.
class UI_DialogSetIP
{
public:
    QVBoxLayout* verticalLayout = nullptr;
    QGridLayout* gridLayout = nullptr;
    QLabel* label = nullptr;
    QComboBox* comboBoxIntf = nullptr;
    QLabel* label_2 = nullptr;
    QLineEdit* leIP = nullptr;
    QLabel* label_3 = nullptr;
    QLineEdit* leNetmask = nullptr;
    QLabel* label_4 = nullptr;
    QLineEdit* leGateway = nullptr;
    QSpacerItem* verticalSpacer = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QSpacerItem* horizontalSpacer = nullptr;
    QPushButton* btnSure = nullptr;

    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
};

// Collects new IP settings for one interface of a found device: interface,
// IP address, and optionally netmask and gateway. It validates the text and
// sends nothing itself.
class DialogSetIP : public QDialog
{
    Q_OBJECT
public:
    explicit DialogSetIP(QWidget* parent = nullptr);
    ~DialogSetIP() override;

    // Appends the names after any already listed.
    void setInterfaces(const QStringList& names);
    // Interface, IP, netmask, gateway (empty fields give empty strings).
    QStringList values() const;

    UI_DialogSetIP* form() const { return ui; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void onBtnSureClicked();

    UI_DialogSetIP* ui;
};
