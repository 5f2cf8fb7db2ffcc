#include "pages/settingspage.h"

#include "common/msgbox.h"
#include "pages/portrecord.h"

#include <QCheckBox>
#include <QDateTime>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScrollArea>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const char* const kDateFormat = "yyyy-MM-dd hh:mm:ss";
const char* const kDatePattern = "2[0-9]{3}-(1[0-2]|0[1-9])-[0-3][0-9] ([0-9]{2}:){2}[0-9]{2}";

// An integer validator that refuses, rather than lets through as
// intermediate, a number above its top (65535 cannot be typed at all).
class PortValidator : public QIntValidator
{
public:
    PortValidator(int bottom, int top, QObject* parent) : QIntValidator(bottom, top, parent) {}

    State validate(QString& input, int& pos) const override
    {
        const State state = QIntValidator::validate(input, pos);
        if (state != Intermediate)
            return state;
        bool ok = false;
        const qlonglong value = locale().toLongLong(input, &ok);
        return ok && value > top() ? Invalid : state;
    }
};

} // namespace

void UI_SettingPage::setupUi(QWidget* page)
{
    if (page->objectName().isEmpty())
        page->setObjectName(QStringLiteral("SettingsPage"));
    page->resize(640, 480);

    verticalLayoutPage = new QVBoxLayout(page);
    scrollArea = new QScrollArea(page);
    scrollArea->setWidgetResizable(true);
    scrollAreaWidgetContents = new QWidget;
    verticalLayoutContents = new QVBoxLayout(scrollAreaWidgetContents);

    // Date and time of the device.
    groupBoxDate = new QGroupBox(scrollAreaWidgetContents);
    horizontalLayoutDate = new QHBoxLayout(groupBoxDate);
    labelDate = new QLabel(groupBoxDate);
    horizontalLayoutDate->addWidget(labelDate);
    leDate = new QLineEdit(groupBoxDate);
    leDate->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QString::fromLatin1(kDatePattern)), leDate));
    leDate->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    horizontalLayoutDate->addWidget(leDate);
    btnDeviceDate = new QPushButton(groupBoxDate);
    horizontalLayoutDate->addWidget(btnDeviceDate);
    btnSyncDate = new QPushButton(groupBoxDate);
    horizontalLayoutDate->addWidget(btnSyncDate);
    verticalLayoutContents->addWidget(groupBoxDate);

    // The four services, one row each, in the order of the port record.
    groupBoxPort = new QGroupBox(scrollAreaWidgetContents);
    verticalLayoutPort = new QVBoxLayout(groupBoxPort);
    tableWidgetPort = new QTableWidget(kPortRows, 3, groupBoxPort);
    tableWidgetPort->setFixedHeight(150);
    tableWidgetPort->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    tableWidgetPort->verticalHeader()->setVisible(false);
    for (int row = 0; row < kPortRows; ++row) {
        auto* item = new QTableWidgetItem;
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        item->setTextAlignment(Qt::AlignCenter);
        tableWidgetPort->setItem(row, 0, item);

        // The check box sits centred in a cell widget of its own.
        auto* cell = new QWidget(tableWidgetPort);
        auto* cellLayout = new QHBoxLayout(cell);
        cellLayout->setContentsMargins(0, 0, 0, 0);
        cellLayout->setAlignment(Qt::AlignCenter);
        checkBoxPort[row] = new QCheckBox(cell);
        checkBoxPort[row]->setChecked(true);
        cellLayout->addWidget(checkBoxPort[row]);
        tableWidgetPort->setCellWidget(row, 1, cell);

        lePort[row] = new QLineEdit(tableWidgetPort);
        lePort[row]->setStyleSheet(QStringLiteral("border:none"));
        lePort[row]->setValidator(
            new PortValidator(PortRecord::kMinPort, PortRecord::kMaxPort, lePort[row]));
        lePort[row]->setAlignment(Qt::AlignCenter);
        tableWidgetPort->setCellWidget(row, 2, lePort[row]);
    }
    verticalLayoutPort->addWidget(tableWidgetPort);
    horizontalLayoutButtons = new QHBoxLayout;
    horizontalLayoutButtons->addStretch();
    btnRead = new QPushButton(groupBoxPort);
    horizontalLayoutButtons->addWidget(btnRead);
    btnWrite = new QPushButton(groupBoxPort);
    horizontalLayoutButtons->addWidget(btnWrite);
    verticalLayoutPort->addLayout(horizontalLayoutButtons);
    verticalLayoutContents->addWidget(groupBoxPort);
    verticalLayoutContents->addStretch();

    scrollArea->setWidget(scrollAreaWidgetContents);
    verticalLayoutPage->addWidget(scrollArea);
    retranslateUi(page);
}

void UI_SettingPage::retranslateUi(QWidget* page)
{
    page->setWindowTitle(SettingsPage::tr("Form"));
    groupBoxDate->setTitle(SettingsPage::tr("Date settings"));
    labelDate->setText(SettingsPage::tr("Date:"));
    btnDeviceDate->setText(SettingsPage::tr("Device date"));
    btnSyncDate->setText(SettingsPage::tr("Sync date"));
    groupBoxPort->setTitle(SettingsPage::tr("Port settings"));
    tableWidgetPort->setHorizontalHeaderLabels(
        {SettingsPage::tr("Item"), SettingsPage::tr("Enable"), SettingsPage::tr("Port")});
    const QString services[kPortRows] = {SettingsPage::tr("SSH"), SettingsPage::tr("Telnet"),
                                         SettingsPage::tr("HTTP"), SettingsPage::tr("HTTPS")};
    for (int row = 0; row < kPortRows; ++row) {
        tableWidgetPort->item(row, 0)->setText(services[row]);
        lePort[row]->setPlaceholderText(SettingsPage::tr("1~65534"));
    }
    btnRead->setText(SettingsPage::tr("Read"));
    btnWrite->setText(SettingsPage::tr("Write"));
}

SettingsPage::SettingsPage(QWidget* parent) : QWidget(parent), ui(new UI_SettingPage)
{
    ui->setupUi(this);
    connect(ui->btnDeviceDate, &QPushButton::clicked, this, &SettingsPage::onBtnDeviceDateClicked);
    connect(ui->btnSyncDate, &QPushButton::clicked, this, &SettingsPage::onBtnSyncDateClicked);
    connect(ui->btnRead, &QPushButton::clicked, this, &SettingsPage::onBtnReadClicked);
    connect(ui->btnWrite, &QPushButton::clicked, this, &SettingsPage::onBtnWriteClicked);
    for (QCheckBox* box : ui->checkBoxPort)
        connect(box, &QCheckBox::toggled, this, &SettingsPage::onCheckBoxPortChecked);
}

SettingsPage::~SettingsPage()
{
    // A box still waiting for its answer goes with the page. One whose modal
    // run is on the stack is only closed; that run deletes it when it returns.
    dropProgressBox();
    delete ui;
}

void SettingsPage::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QWidget::changeEvent(event);
}

void SettingsPage::onBtnDeviceDateClicked()
{
    Q_EMIT sendCmd(kCmdReadDate, QByteArray());
}

void SettingsPage::onBtnSyncDateClicked()
{
    // Always the workstation's clock; the date field is only a display.
    const QString now = QDateTime::currentDateTime().toString(QLatin1String(kDateFormat));
    Q_EMIT sendCmd(kCmdSetDate, now.toLocal8Bit());
}

void SettingsPage::onBtnReadClicked()
{
    Q_EMIT sendCmd(kCmdReadPorts, QByteArray());
}

void SettingsPage::onBtnWriteClicked()
{
    PortRecord::Entries entries;
    for (int row = 0; row < UI_SettingPage::kPortRows; ++row) {
        // Disabled rows are checked too: their port is sent all the same.
        const int port = PortRecord::portFromText(ui->lePort[row]->text());
        if (!PortRecord::isValidPort(port)) {
            MsgBox::warning(tr("Warning"), tr("Port settings error!"));
            return;
        }
        entries[static_cast<std::size_t>(row)] = {ui->checkBoxPort[row]->isChecked(),
                                                  static_cast<quint16>(port)};
    }

    QPointer<SettingsPage> self(this);
    Q_EMIT sendCmd(kCmdWritePorts, PortRecord::encode(entries));
    if (!self)
        return;

    // A box still pending from an earlier write is replaced, not leaked.
    dropProgressBox();
    auto* box =
        new QMessageBox(QMessageBox::Information, tr("Information"), tr("Writing data..."),
                        QMessageBox::Ok, nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box->setWindowModality(Qt::ApplicationModal);
    progressBox_ = box;

    // The write response may close the box while its modal run is on the
    // stack; it is then only closed, and deleted here once the run is over.
    QPointer<QMessageBox> guard(box);
    runningBoxes_.append(box);
    MsgBox::exec(*box);
    if (!self) {
        if (guard)
            guard->deleteLater();
        return;
    }
    runningBoxes_.removeOne(box);
    // Answered or replaced while it ran: its deletion was left to here. A box
    // closed with OK before the answer came stays pending, hidden.
    if (guard && progressBox_ != guard)
        guard->deleteLater();
}

void SettingsPage::dropProgressBox()
{
    QMessageBox* box = progressBox_;
    progressBox_ = nullptr;
    if (!box)
        return;
    box->done(QDialog::Rejected);
    if (!runningBoxes_.contains(box))
        box->deleteLater();
}

void SettingsPage::onCheckBoxPortChecked(bool checked)
{
    for (int row = 0; row < UI_SettingPage::kPortRows; ++row) {
        if (sender() == ui->checkBoxPort[row]) {
            ui->lePort[row]->setEnabled(checked);
            return;
        }
    }
}

void SettingsPage::handleRespond(int cmd, const quint8* data, int size)
{
    switch (cmd) {
    case kCmdReadDate:
        handleDate(data, size);
        break;
    case kCmdReadPorts:
        handlePorts(data, size);
        break;
    case kCmdWritePorts:
        handleWriteResult(data, size);
        break;
    default:
        // 0x0003 is routed here too and means nothing to this page.
        break;
    }
}

void SettingsPage::handleDate(const quint8* data, int size)
{
    if (!data || size != kDateSize) {
        MsgBox::information(tr("Tip"), tr("Read date failed!"));
        return;
    }
    const char* text = reinterpret_cast<const char*>(data);
    ui->leDate->setText(QString::fromUtf8(text, static_cast<int>(qstrnlen(text, kDateSize))));
}

void SettingsPage::handlePorts(const quint8* data, int size)
{
    PortRecord::Entries entries;
    if (!PortRecord::decode(data, size, entries)) {
        MsgBox::information(tr("Tip"), tr("Read data failed!"));
        return;
    }
    for (int row = 0; row < UI_SettingPage::kPortRows; ++row) {
        const PortRecord::Entry& e = entries[static_cast<std::size_t>(row)];
        ui->checkBoxPort[row]->setChecked(e.enabled);
        ui->lePort[row]->setText(QString::number(e.port));
        ui->lePort[row]->setEnabled(e.enabled);
    }
    MsgBox::information(tr("Information"), tr("Read data finished!"), this);
}

void SettingsPage::handleWriteResult(const quint8* data, int size)
{
    // An answer without its result byte is a failure too. The byte is taken
    // before any box runs: the payload lives only while this call lasts.
    const bool success = data && size > 0 && data[0] != 0;
    dropProgressBox();
    if (success)
        MsgBox::sure(QMessageBox::Warning, tr("Information"), tr("Operation success!"));
    else
        MsgBox::warning(tr("Warning"), tr("Operation failed!"));
}
