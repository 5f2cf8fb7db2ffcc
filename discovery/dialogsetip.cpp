#include "discovery/dialogsetip.h"

#include "common/addresspatterns.h"
#include "common/msgbox.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace {

// Built on first use and kept: exact match of the IPv4 address expression,
// no trimming.
bool isAddress(const QString& text)
{
    static const QRegularExpression re(QRegularExpression::anchoredPattern(ipv4Pattern()));
    return re.match(text).hasMatch();
}

} // namespace

void UI_DialogSetIP::setupUi(QDialog* dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("DialogSetIP"));
    dialog->resize(300, 180);
    verticalLayout = new QVBoxLayout(dialog);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    gridLayout = new QGridLayout;
    gridLayout->setObjectName(QStringLiteral("gridLayout"));

    label = new QLabel(dialog);
    label->setObjectName(QStringLiteral("label"));
    gridLayout->addWidget(label, 0, 0);
    comboBoxIntf = new QComboBox(dialog);
    comboBoxIntf->setObjectName(QStringLiteral("comboBoxIntf"));
    gridLayout->addWidget(comboBoxIntf, 0, 1);

    label_2 = new QLabel(dialog);
    label_2->setObjectName(QStringLiteral("label_2"));
    gridLayout->addWidget(label_2, 1, 0);
    leIP = new QLineEdit(dialog);
    leIP->setObjectName(QStringLiteral("leIP"));
    leIP->setAlignment(Qt::AlignCenter);
    gridLayout->addWidget(leIP, 1, 1);

    label_3 = new QLabel(dialog);
    label_3->setObjectName(QStringLiteral("label_3"));
    gridLayout->addWidget(label_3, 2, 0);
    leNetmask = new QLineEdit(dialog);
    leNetmask->setObjectName(QStringLiteral("leNetmask"));
    leNetmask->setAlignment(Qt::AlignCenter);
    leNetmask->setInputMask(QString());
    gridLayout->addWidget(leNetmask, 2, 1);

    label_4 = new QLabel(dialog);
    label_4->setObjectName(QStringLiteral("label_4"));
    gridLayout->addWidget(label_4, 3, 0);
    leGateway = new QLineEdit(dialog);
    leGateway->setObjectName(QStringLiteral("leGateway"));
    leGateway->setAlignment(Qt::AlignCenter);
    leGateway->setInputMask(QString());
    leGateway->setText(QString());
    gridLayout->addWidget(leGateway, 3, 1);
    verticalLayout->addLayout(gridLayout);

    verticalSpacer = new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
    verticalLayout->addItem(verticalSpacer);

    horizontalLayout = new QHBoxLayout;
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    btnSure = new QPushButton(dialog);
    btnSure->setObjectName(QStringLiteral("btnSure"));
    horizontalLayout->addWidget(btnSure);
    verticalLayout->addLayout(horizontalLayout);

    retranslateUi(dialog);
}

void UI_DialogSetIP::retranslateUi(QDialog* dialog)
{
    dialog->setWindowTitle(DialogSetIP::tr("Set IP Address"));
    label->setText(DialogSetIP::tr("Interface:"));
    label_2->setText(DialogSetIP::tr("IP Address:"));
    label_3->setText(DialogSetIP::tr("Netmask:"));
    leNetmask->setPlaceholderText(DialogSetIP::tr("optional"));
    label_4->setText(DialogSetIP::tr("Gateway:"));
    leGateway->setPlaceholderText(DialogSetIP::tr("optional"));
    btnSure->setText(DialogSetIP::tr("Sure"));
}

DialogSetIP::DialogSetIP(QWidget* parent) : QDialog(parent), ui(new UI_DialogSetIP)
{
    ui->setupUi(this);
    setWindowFlags(Qt::WindowCloseButtonHint);
    connect(ui->btnSure, &QPushButton::clicked, this, &DialogSetIP::onBtnSureClicked);
}

DialogSetIP::~DialogSetIP()
{
    delete ui;
}

void DialogSetIP::setInterfaces(const QStringList& names)
{
    ui->comboBoxIntf->addItems(names);
}

QStringList DialogSetIP::values() const
{
    return {ui->comboBoxIntf->currentText(), ui->leIP->text(), ui->leNetmask->text(),
            ui->leGateway->text()};
}

void DialogSetIP::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}

void DialogSetIP::onBtnSureClicked()
{
    const QString ip = ui->leIP->text();
    if (ip.isEmpty() || !isAddress(ip)) {
        MsgBox::warning(tr("Warning"), tr("IP address is invalid!"), this);
        return;
    }
    const QString netmask = ui->leNetmask->text();
    if (!netmask.isEmpty() && !isAddress(netmask)) {
        MsgBox::warning(tr("Warning"), tr("Netmask is invalid!"), this);
        return;
    }
    const QString gateway = ui->leGateway->text();
    if (!gateway.isEmpty() && !isAddress(gateway)) {
        MsgBox::warning(tr("Warning"), tr("Gateway is invalid!"), this);
        return;
    }
    accept();
}
