#include "pages/sptestpage.h"

#include "common/msgbox.h"
#include "common/utf8text.h"
#include "pages/sptestformat.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {

QLabel* addRowLabel(QGridLayout* grid, int row, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(label, row, 0);
    return label;
}

QComboBox* addRowCombo(QGridLayout* grid, int row, QWidget* parent, const QStringList& items,
                       int current)
{
    auto* combo = new QComboBox(parent);
    combo->addItems(items);
    combo->setCurrentIndex(current);
    grid->addWidget(combo, row, 1);
    return combo;
}

// Refills a list with translated entries, keeping the selected position.
void refill(QComboBox* combo, const QStringList& items)
{
    const int current = combo->currentIndex();
    combo->clear();
    combo->addItems(items);
    combo->setCurrentIndex(current);
}

QStringList flowControlItems()
{
    return {SPTestPage::tr("None"), SPTestPage::tr("Hardware"), SPTestPage::tr("Software")};
}

QStringList parityItems()
{
    return {SPTestPage::tr("None"), SPTestPage::tr("Even"), SPTestPage::tr("Odd")};
}

constexpr int kSendColour[3] = {58, 95, 205};
constexpr int kReceiveColour[3] = {50, 205, 50};

} // namespace

void UI_SPTestPage::setupUi(QWidget* page)
{
    if (page->objectName().isEmpty())
        page->setObjectName(QStringLiteral("SPTestPage"));
    verticalLayout = new QVBoxLayout(page);

    splitter = new QSplitter(Qt::Horizontal, page);
    textBrowserRecord = new QTextBrowser(splitter);
    textBrowserRecord->setObjectName(QStringLiteral("textBrowserRecord"));
    textBrowserRecord->setReadOnly(true);
    textBrowserRecord->setAcceptRichText(true);
    splitter->addWidget(textBrowserRecord);

    settingsPanel = new QWidget(splitter);
    gridLayout = new QGridLayout(settingsPanel);
    labelRS485 = addRowLabel(gridLayout, 0, settingsPanel);
    checkBoxRS485 = new QCheckBox(settingsPanel);
    gridLayout->addWidget(checkBoxRS485, 0, 1);
    labelPortName = addRowLabel(gridLayout, 1, settingsPanel);
    lineEditPortName = new QLineEdit(settingsPanel);
    gridLayout->addWidget(lineEditPortName, 1, 1);

    QStringList bauds;
    for (int baud : SerialSettings::kBaudRates)
        bauds << QString::number(baud);
    QStringList dataBits;
    for (int bits : SerialSettings::kDataBits)
        dataBits << QString::number(bits);
    labelBaudRate = addRowLabel(gridLayout, 2, settingsPanel);
    comboBoxBaudRate = addRowCombo(gridLayout, 2, settingsPanel, bauds, 3);
    labelDataBits = addRowLabel(gridLayout, 3, settingsPanel);
    comboBoxDataBits = addRowCombo(gridLayout, 3, settingsPanel, dataBits, 3);
    labelFlowControl = addRowLabel(gridLayout, 4, settingsPanel);
    comboBoxFlowControl = addRowCombo(gridLayout, 4, settingsPanel, flowControlItems(), 0);
    labelParity = addRowLabel(gridLayout, 5, settingsPanel);
    comboBoxParity = addRowCombo(gridLayout, 5, settingsPanel, parityItems(), 0);
    labelStopBits = addRowLabel(gridLayout, 6, settingsPanel);
    comboBoxStopBits = addRowCombo(gridLayout, 6, settingsPanel,
                                   {QStringLiteral("1"), QStringLiteral("2")}, 0);
    btnClear = new QPushButton(settingsPanel);
    gridLayout->addWidget(btnClear, 7, 0);
    btnConnect = new QPushButton(settingsPanel);
    gridLayout->addWidget(btnConnect, 7, 1);
    splitter->addWidget(settingsPanel);
    splitter->setStretchFactor(0, 7);
    splitter->setStretchFactor(1, 3);
    verticalLayout->addWidget(splitter);

    sendLayout = new QHBoxLayout;
    lineEditSend = new QLineEdit(page);
    sendLayout->addWidget(lineEditSend);
    radioHex = new QRadioButton(page);
    radioHex->setChecked(true);
    sendLayout->addWidget(radioHex);
    radioASCII = new QRadioButton(page);
    sendLayout->addWidget(radioASCII);
    radioModbus = new QRadioButton(page);
    sendLayout->addWidget(radioModbus);
    btnSend = new QPushButton(page);
    sendLayout->addWidget(btnSend);
    verticalLayout->addLayout(sendLayout);

    retranslateUi(page);
}

void UI_SPTestPage::retranslateUi(QWidget* page)
{
    Q_UNUSED(page)
    labelRS485->setText(SPTestPage::tr("RS485:"));
    labelPortName->setText(SPTestPage::tr("Port Name:"));
    labelBaudRate->setText(SPTestPage::tr("Buad Rate:"));
    labelDataBits->setText(SPTestPage::tr("Data Bits:"));
    labelFlowControl->setText(SPTestPage::tr("Flow Control:"));
    labelParity->setText(SPTestPage::tr("Parity:"));
    labelStopBits->setText(SPTestPage::tr("Stop Bits:"));
    btnClear->setText(SPTestPage::tr("Clear"));
    btnConnect->setText(SPTestPage::tr("Connect"));
    radioHex->setText(SPTestPage::tr("Hex"));
    radioASCII->setText(SPTestPage::tr("ASCII"));
    radioModbus->setText(SPTestPage::tr("Modbus"));
    btnSend->setText(SPTestPage::tr("Send"));
}

SPTestPage::SPTestPage(QWidget* parent) : QWidget(parent), ui(new UI_SPTestPage)
{
    ui->setupUi(this);
    connect(ui->btnConnect, &QPushButton::clicked, this, &SPTestPage::openPortEvent);
    connect(ui->btnSend, &QPushButton::clicked, this, &SPTestPage::sendData);
    connect(ui->lineEditSend, &QLineEdit::returnPressed, this, &SPTestPage::sendData);
    connect(ui->btnClear, &QPushButton::clicked, this, &SPTestPage::clearRecord);
    for (QRadioButton* radio : {ui->radioHex, ui->radioASCII, ui->radioModbus})
        connect(radio, &QRadioButton::toggled, this, &SPTestPage::sendTypeChaned);
}

SPTestPage::~SPTestPage()
{
    delete ui;
}

void SPTestPage::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        refill(ui->comboBoxFlowControl, flowControlItems());
        refill(ui->comboBoxParity, parityItems());
        setPortOpen(portOpen);
    }
    QWidget::changeEvent(event);
}

SerialSettings SPTestPage::settings() const
{
    SerialSettings s;
    s.rs485 = ui->checkBoxRS485->isChecked();
    s.portName = ui->lineEditPortName->text();
    s.baudIndex = ui->comboBoxBaudRate->currentIndex();
    s.dataBitsIndex = ui->comboBoxDataBits->currentIndex();
    s.parityIndex = ui->comboBoxParity->currentIndex();
    s.flowControlIndex = ui->comboBoxFlowControl->currentIndex();
    s.stopBitsIndex = ui->comboBoxStopBits->currentIndex();
    return s;
}

void SPTestPage::setPortOpen(bool open)
{
    portOpen = open;
    ui->btnConnect->setText(open ? tr("Disconnect") : tr("Connect"));
}

void SPTestPage::openPortEvent()
{
    if (portOpen) {
        setPortOpen(false);
        Q_EMIT sendCmd(kCmdOpen, QByteArray());
        return;
    }
    const SerialSettings s = settings();
    // The length byte cannot describe a longer name; the record would be
    // misread by the device.
    if (!s.portNameFits()) {
        MsgBox::warning(tr("Tip"), tr("The port name must not be longer than 255 bytes!"));
        return;
    }
    Q_EMIT sendCmd(kCmdOpen, s.toRecord());
}

QString SPTestPage::entryStart(bool sent) const
{
    return QDateTime::currentDateTime().toString(QStringLiteral("[yyyy-MM-dd hh:mm:ss.zzz] ")) +
           (sent ? tr("Send: \n") : tr("Receive: \n"));
}

void SPTestPage::sendData()
{
    if (!portOpen) {
        MsgBox::warning(tr("Warning"), tr("Port not opened!"));
        return;
    }
    const QString text = ui->lineEditSend->text();
    if (text.isEmpty())
        return;
    QString entry = entryStart(true);
    QByteArray payload;
    if (sendType == Ascii) {
        payload = text.toLatin1();
        entry += text;
    } else {
        payload = SPTestFormat::hexPiecesToBytes(text);
        if (sendType == Modbus)
            payload = SPTestFormat::withModbusCrc(payload);
        entry += SPTestFormat::bytesToHexText(payload);
    }
    Q_EMIT sendCmd(kCmdSend, payload);
    entry += QLatin1Char('\n');
    appendEntry(entry, true);
}

void SPTestPage::clearRecord()
{
    ui->textBrowserRecord->clear();
}

void SPTestPage::sendTypeChaned()
{
    const QObject* from = sender();
    if (from == ui->radioHex)
        sendType = Hex;
    else if (from == ui->radioASCII)
        sendType = Ascii;
    else if (from == ui->radioModbus)
        sendType = Modbus;
}

void SPTestPage::handleRespond(int cmd, const quint8* data, int size)
{
    // A response without its result byte counts as a failure.
    const bool success = size > 0 && data[0] != 0;
    switch (cmd) {
    case kCmdOpen:
        if (success)
            setPortOpen(true);
        else
            MsgBox::warning(tr("Warning"), tr("Open device's serial port failed!"));
        break;
    case kCmdSend:
        if (!success) {
            setPortOpen(false);
            MsgBox::warning(tr("Warning"), tr("Send data to device's serial port failed!"));
        }
        break;
    case kCmdReceived: {
        QString entry = entryStart(false);
        if (sendType == Ascii)
            entry += utf8UpToZero(data, size);
        else
            entry += SPTestFormat::bytesToHexText(
                QByteArray(reinterpret_cast<const char*>(data), size > 0 ? size : 0));
        entry += QLatin1Char('\n');
        appendEntry(entry, false);
        break;
    }
    default:
        break;
    }
}

void SPTestPage::appendEntry(const QString& plain, bool sent)
{
    const int* c = sent ? kSendColour : kReceiveColour;
    const QString html = SPTestFormat::colouredHtml(plain, c[0], c[1], c[2]);
    QTextBrowser* view = ui->textBrowserRecord;
    QTextDocument* doc = view->document();
    // Appended as a new paragraph, always read as rich text.
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    if (!doc->isEmpty())
        cursor.insertBlock();
    cursor.insertHtml(html);
    cursor.endEditBlock();
    QScrollBar* bar = view->verticalScrollBar();
    bar->setValue(bar->maximum());
}
