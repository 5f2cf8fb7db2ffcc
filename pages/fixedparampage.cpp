#include "pages/fixedparampage.h"

#include "common/dialogs.h"
#include "common/msgbox.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const char* const kIniGroup = "fixed_param";

QTableWidgetItem* centredItem(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    return item;
}

// A value as text. The INI reader turns an unquoted "a, b" into a list;
// it is joined back rather than lost.
QString valueText(const QVariant& value)
{
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

} // namespace

void UI_FixedParamPage::setupUi(QWidget* page)
{
    if (page->objectName().isEmpty())
        page->setObjectName(QStringLiteral("FixedParamPage"));
    page->resize(640, 480);
    verticalLayout = new QVBoxLayout(page);
    tableWidget = new QTableWidget(0, 2, page);
    tableWidget->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    tableWidget->verticalHeader()->setVisible(true);
    verticalLayout->addWidget(tableWidget);

    horizontalLayout = new QHBoxLayout;
    btnBackup = new QPushButton(page);
    horizontalLayout->addWidget(btnBackup);
    btnLoad = new QPushButton(page);
    horizontalLayout->addWidget(btnLoad);
    btnReset = new QPushButton(page);
    horizontalLayout->addWidget(btnReset);
    horizontalLayout->addStretch();
    btnAdd = new QPushButton(page);
    horizontalLayout->addWidget(btnAdd);
    btnRead = new QPushButton(page);
    horizontalLayout->addWidget(btnRead);
    btnWrite = new QPushButton(page);
    horizontalLayout->addWidget(btnWrite);
    verticalLayout->addLayout(horizontalLayout);
    retranslateUi(page);
}

void UI_FixedParamPage::retranslateUi(QWidget* page)
{
    page->setWindowTitle(FixedParamPage::tr("Form"));
    tableWidget->setHorizontalHeaderLabels(
        {FixedParamPage::tr("Item"), FixedParamPage::tr("value")});
    btnBackup->setText(FixedParamPage::tr("Backup"));
    btnLoad->setText(FixedParamPage::tr("Load"));
    btnReset->setText(FixedParamPage::tr("Reset"));
    btnAdd->setText(FixedParamPage::tr("Add"));
    btnRead->setText(FixedParamPage::tr("Read"));
    btnWrite->setText(FixedParamPage::tr("Write"));
}

FixedParamPage::FixedParamPage(QWidget* parent) : QWidget(parent), ui(new UI_FixedParamPage)
{
    ui->setupUi(this);
    connect(ui->btnBackup, &QPushButton::clicked, this, &FixedParamPage::backupFixedParam);
    connect(ui->btnLoad, &QPushButton::clicked, this, &FixedParamPage::loadFixedParam);
    connect(ui->btnReset, &QPushButton::clicked, this, &FixedParamPage::resetFixedParam);
    connect(ui->btnAdd, &QPushButton::clicked, this, &FixedParamPage::addFixedParam);
    connect(ui->btnRead, &QPushButton::clicked, this,
            [this] { Q_EMIT sendCmd(kCmdRead, QByteArray()); });
    connect(ui->btnWrite, &QPushButton::clicked, this, &FixedParamPage::sendFixedParam);
    connect(ui->tableWidget, &QTableWidget::cellChanged, this,
            &FixedParamPage::handleCellChangedEvent);
}

FixedParamPage::~FixedParamPage()
{
    delete ui;
}

void FixedParamPage::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QWidget::changeEvent(event);
}

FixedParamJson::Params FixedParamPage::rows() const
{
    FixedParamJson::Params params;
    const QTableWidget* table = ui->tableWidget;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem* key = table->item(row, 0);
        const QTableWidgetItem* value = table->item(row, 1);
        if (key && value)
            params.append({key->text(), value->text()});
    }
    return params;
}

void FixedParamPage::setRow(int row, const QString& key, const QString& value)
{
    // The key goes in first, so that the value's change sees it.
    ui->tableWidget->setItem(row, 0, centredItem(key));
    ui->tableWidget->setItem(row, 1, centredItem(value));
}

void FixedParamPage::fill(const FixedParamJson::Params& params)
{
    ui->tableWidget->clearContents();
    ui->tableWidget->setRowCount(params.size());
    for (int row = 0; row < params.size(); ++row)
        setRow(row, params.at(row).first, params.at(row).second);
}

void FixedParamPage::handleRespond(int cmd, const quint8* data, int size)
{
    switch (cmd) {
    case kCmdRead:
        handleReadFixed(data, size);
        break;
    case kCmdWrite:
        // An answer without its result byte counts as a failure.
        handleWriteFixed(data && size > 0 ? data[0] : 0);
        break;
    default:
        break;
    }
}

void FixedParamPage::handleReadFixed(const quint8* data, int size)
{
    FixedParamJson::Params params;
    if (!FixedParamJson::parse(data, size, params)) {
        MsgBox::warning(tr("Warning"), tr("Read data failed!"), this);
        return;
    }
    fill(params);
    MsgBox::information(tr("Information"), tr("Read data finished!"), this);
}

void FixedParamPage::handleWriteFixed(quint8 result)
{
    if (result != 0)
        MsgBox::sure(QMessageBox::Warning, tr("Information"), tr("Operation success!"));
    else
        MsgBox::warning(tr("Warning"), tr("Operation failed!"));
}

void FixedParamPage::sendFixedParam()
{
    if (ui->tableWidget->rowCount() == 0)
        return;
    const FixedParamJson::Built built = FixedParamJson::build(rows());
    if (built.refused()) {
        MsgBox::warning(tr("Warning"), tr("Invaild settings!"), this);
        return;
    }
    if (built.incomplete) {
        QMessageBox box(QMessageBox::Warning, tr("Warning"),
                        tr("There is item or value is empty! And these will no be set to "
                           "device!\nDo you want to continue?"),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.button(QMessageBox::Yes)->setText(tr("Yes"));
        box.button(QMessageBox::No)->setText(tr("No"));
        box.setDefaultButton(QMessageBox::No);
        if (MsgBox::exec(box) != MsgBox::Answer::Yes)
            return;
    }
    Q_EMIT sendCmd(kCmdWrite, FixedParamJson::serialise(built.object));
}

void FixedParamPage::handleCellChangedEvent(int row, int column)
{
    if (column != 1)
        return;
    const QTableWidgetItem* key = ui->tableWidget->item(row, 0);
    QTableWidgetItem* value = ui->tableWidget->item(row, 1);
    if (!key || !value || key->text() != FixedParamJson::macKey())
        return;
    const QString formatted = FixedParamJson::autoFormatMac(value->text());
    // Writing the cell back comes here again and then changes nothing.
    if (formatted != value->text())
        value->setText(formatted);
}

void FixedParamPage::resetFixedParam()
{
    const QStringList keys = FixedParamJson::defaultKeys();
    ui->tableWidget->clearContents();
    ui->tableWidget->setRowCount(keys.size());
    for (int row = 0; row < keys.size(); ++row)
        setRow(row, keys.at(row), QString());
}

void FixedParamPage::addFixedParam()
{
    const int row = ui->tableWidget->rowCount();
    ui->tableWidget->insertRow(row);
    setRow(row, QString(), QString());
}

void FixedParamPage::backupFixedParam()
{
    if (ui->tableWidget->rowCount() == 0) {
        MsgBox::information(tr("Information"), tr("No content to backup!"));
        return;
    }
    const QString fileName =
        Dialogs::getSaveFileName(this, tr("Save fixed parameter file"),
                                 QCoreApplication::applicationDirPath(), tr("(*.ini)"));
    if (fileName.isEmpty())
        return;

    // The settings store merges: entries of the file that the table does not
    // name stay in it.
    QSettings settings(fileName, QSettings::IniFormat);
    settings.beginGroup(QLatin1String(kIniGroup));
    for (const FixedParamJson::Param& param : rows()) {
        if (!param.first.isEmpty() && !param.second.isEmpty())
            settings.setValue(param.first, param.second);
    }
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        MsgBox::warning(tr("Warning"), tr("Save fixed parameter failed!"));
        return;
    }
    MsgBox::information(tr("Information"), tr("Save fixed parameter success!"));
}

void FixedParamPage::loadFixedParam()
{
    const QString fileName =
        Dialogs::getOpenFileName(this, tr("Choose fixed parameter file"),
                                 QCoreApplication::applicationDirPath(), tr("(*.ini)"));
    if (fileName.isEmpty())
        return;

    QSettings settings(fileName, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        // An unreadable file leaves the table as it was.
        MsgBox::warning(tr("Warning"), tr("Load fixed parameter failed!"));
        return;
    }
    FixedParamJson::Params params;
    settings.beginGroup(QLatin1String(kIniGroup));
    const QStringList keys = settings.allKeys();
    for (const QString& key : keys)
        params.append({key, valueText(settings.value(key))});
    settings.endGroup();
    fill(params);
    MsgBox::information(tr("Information"), tr("Load fixed parameter success!"));
}
