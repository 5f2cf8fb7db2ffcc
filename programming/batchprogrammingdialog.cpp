#include "programming/batchprogrammingdialog.h"

#include "common/addresspatterns.h"
#include "common/dialogs.h"
#include "common/filecheck.h"
#include "common/msgbox.h"
#include "app/appsettings.h"
#include "programming/batchprogrammingthread.h"
#include "programming/batchrunner.h"
#include "programming/devicelist.h"
#include "programming/firmwarepackage.h"

#include <QAction>
#include <QComboBox>
#include <QCursor>
#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHostInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QTcpSocket>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

// ------------------------------------------------------------------- form

void UI_BatchProgrammingDialog::setupUi(QDialog* dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("BatchProgrammingDialog"));
    dialog->resize(800, 400);
    verticalLayout = new QVBoxLayout(dialog);

    tableLayout = new QHBoxLayout;
    tableWidget = new QTableWidget(dialog);
    tableWidget->setColumnCount(5);
    tableWidget->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    tableWidget->horizontalHeader()->setStretchLastSection(true);
    tableWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableWidget->setContextMenuPolicy(Qt::CustomContextMenu);
    tableLayout->addWidget(tableWidget);

    buttonLayout = new QVBoxLayout;
    buttonLayout->addStretch();
    comboType = new QComboBox(dialog);
    buttonLayout->addWidget(comboType);
    btnRefresh = new QPushButton(dialog);
    buttonLayout->addWidget(btnRefresh);
    btnImport = new QPushButton(dialog);
    buttonLayout->addWidget(btnImport);
    btnExport = new QPushButton(dialog);
    buttonLayout->addWidget(btnExport);
    btnProgram = new QPushButton(dialog);
    buttonLayout->addWidget(btnProgram);
    btnRetry = new QPushButton(dialog);
    buttonLayout->addWidget(btnRetry);
    btnStop = new QPushButton(dialog);
    btnStop->setEnabled(false);
    buttonLayout->addWidget(btnStop);
    labelJobs = new QLabel(dialog);
    buttonLayout->addWidget(labelJobs);
    spinJobs = new QSpinBox(dialog);
    spinJobs->setRange(1, BatchRunner::kMaxJobs);
    buttonLayout->addWidget(spinJobs);
    tableLayout->addLayout(buttonLayout);
    verticalLayout->addLayout(tableLayout);

    addLayout = new QHBoxLayout;
    leIP = new QLineEdit(dialog);
    leIP->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QString::fromLatin1(ipv4Pattern())), leIP));
    addLayout->addWidget(leIP);
    btnAdd = new QPushButton(dialog);
    addLayout->addWidget(btnAdd);
    verticalLayout->addLayout(addLayout);

    fileLayout = new QHBoxLayout;
    leFile = new QLineEdit(dialog);
    fileLayout->addWidget(leFile);
    btnChoose = new QPushButton(dialog);
    fileLayout->addWidget(btnChoose);
    verticalLayout->addLayout(fileLayout);

    // Enter in a line edit must not press some button of the dialog (it
    // would start a batch); the address field adds its device instead.
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    retranslateUi(dialog);
}

void UI_BatchProgrammingDialog::retranslateUi(QDialog* dialog)
{
    dialog->setWindowTitle(BatchProgrammingDialog::tr("Batch Programming"));
    tableWidget->setHorizontalHeaderLabels(
        {BatchProgrammingDialog::tr("IP"), BatchProgrammingDialog::tr("Version"),
         BatchProgrammingDialog::tr("Progress"), BatchProgrammingDialog::tr("Status"),
         BatchProgrammingDialog::tr("Reason")});
    const int index = comboType->currentIndex();
    comboType->clear();
    comboType->addItems({BatchProgrammingDialog::tr("APP"), BatchProgrammingDialog::tr("Firmware"),
                         BatchProgrammingDialog::tr("Patch")});
    comboType->setCurrentIndex(index >= 0 && index < comboType->count() ? index : 0);
    btnRefresh->setText(BatchProgrammingDialog::tr("Refresh Version"));
    btnImport->setText(BatchProgrammingDialog::tr("Import Device"));
    btnExport->setText(BatchProgrammingDialog::tr("Export Result"));
    btnProgram->setText(BatchProgrammingDialog::tr("Program"));
    btnRetry->setText(BatchProgrammingDialog::tr("Retry Failed"));
    btnStop->setText(BatchProgrammingDialog::tr("Stop"));
    labelJobs->setText(BatchProgrammingDialog::tr("Parallel devices"));
    btnAdd->setText(BatchProgrammingDialog::tr("Add Device"));
    btnChoose->setText(BatchProgrammingDialog::tr("Choose Programming File"));
}

// ------------------------------------------------------------- life cycle

BatchProgrammingDialog::BatchProgrammingDialog(QWidget* parent, int workerCount)
    : QDialog(parent), ui(new UI_BatchProgrammingDialog)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_QuitOnClose, false);

    connect(ui->btnRefresh, &QPushButton::clicked, this,
            &BatchProgrammingDialog::onBtnRefreshClicked);
    connect(ui->btnAdd, &QPushButton::clicked, this, &BatchProgrammingDialog::onBtnAddClicked);
    connect(ui->btnChoose, &QPushButton::clicked, this,
            &BatchProgrammingDialog::onBtnChooseClicked);
    connect(ui->btnExport, &QPushButton::clicked, this,
            &BatchProgrammingDialog::onBtnExportClicked);
    connect(ui->btnImport, &QPushButton::clicked, this,
            &BatchProgrammingDialog::onBtnImportClicked);
    connect(ui->btnProgram, &QPushButton::clicked, this,
            &BatchProgrammingDialog::onBtnProgramClicked);
    connect(ui->btnRetry, &QPushButton::clicked, this,
            &BatchProgrammingDialog::onBtnRetryClicked);
    connect(ui->btnStop, &QPushButton::clicked, this, &BatchProgrammingDialog::onBtnStopClicked);
    ui->leIP->installEventFilter(this);
    connect(ui->tableWidget, &QTableWidget::customContextMenuRequested, this,
            &BatchProgrammingDialog::onCustomContextMenuRequested);

    // How many devices at once: this dialog's own count, or the setting.
    int jobs = workerCount;
    if (jobs <= 0) {
        if (const auto settings = AppSettings::open())
            jobs = settings->value(QLatin1String(AppSettings::Key::batchParallelDevices()), 0).toInt();
    }
    batchRunner = new BatchRunner(jobs, this);
    {
        const QSignalBlocker blocker(ui->spinJobs);
        ui->spinJobs->setValue(batchRunner->jobs());
    }
    connect(ui->spinJobs, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &BatchProgrammingDialog::onJobsChanged);
    connect(batchRunner, &BatchRunner::taskStart, this, &BatchProgrammingDialog::taskStart);
    connect(batchRunner, &BatchRunner::taskStop, this, &BatchProgrammingDialog::taskStop);
    connect(batchRunner, &BatchRunner::deviceReset, this, &BatchProgrammingDialog::resetRow);
    connect(batchRunner, &BatchRunner::deviceStarted, this, [this](const QString& ip) {
        // Under way: the report says so until the task ends (the table
        // shows "/" meanwhile).
        if (QTableWidgetItem* status = ui->tableWidget->item(rowOf(ip), ColStatus))
            status->setData(StatusRole, BatchProgrammingThread::InProgress);
    });
    progressTimer = new QTimer(this);
    progressTimer->setSingleShot(true);
    progressTimer->setInterval(kProgressRedrawMs);
    connect(progressTimer, &QTimer::timeout, this, &BatchProgrammingDialog::showPendingProgress);
    connect(batchRunner, &BatchRunner::deviceProgress, this, [this](const QString& ip) {
        progressed.insert(ip);
        if (!progressTimer->isActive())
            progressTimer->start();
    });
    connect(batchRunner, &BatchRunner::deviceFinished, this, &BatchProgrammingDialog::showResult);
    connect(batchRunner, &BatchRunner::finished, this, &BatchProgrammingDialog::updateControls);
}

BatchProgrammingDialog::~BatchProgrammingDialog()
{
    // The runner (a child) ends its workers' threads and removes the
    // batch's own image.
    delete batchRunner;
    delete ui;
}

void BatchProgrammingDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        // Results already in the table follow the language too.
        for (int row = 0; row < ui->tableWidget->rowCount(); ++row) {
            QTableWidgetItem* status = ui->tableWidget->item(row, ColStatus);
            if (status && status->text() != QLatin1String("/"))
                status->setText(statusWord(status->data(StatusRole).toInt()));
            QTableWidgetItem* reason = ui->tableWidget->item(row, ColReason);
            if (reason && !reason->text().isEmpty())
                reason->setText(reasonWord(reason->data(StatusRole).toInt()));
        }
    }
    QDialog::changeEvent(event);
}

bool BatchProgrammingDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->leIP && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            onBtnAddClicked();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------- devices

bool BatchProgrammingDialog::addDevice(const QString& ip)
{
    if (known.contains(ip) || !isIpv4Address(ip))
        return false;
    devices << ip;
    known.insert(ip);
    QTableWidget* table = ui->tableWidget;
    table->setRowCount(devices.size());
    const int row = devices.size() - 1;
    auto centred = [](const QString& text) {
        auto* item = new QTableWidgetItem(text);
        item->setTextAlignment(Qt::AlignCenter);
        return item;
    };
    table->setItem(row, ColIp, centred(ip));
    table->setItem(row, ColVersion, centred(QString()));
    table->setCellWidget(row, ColProgress, new QProgressBar);
    QTableWidgetItem* status = centred(QStringLiteral("/"));
    status->setData(StatusRole, 0);
    table->setItem(row, ColStatus, status);
    table->setItem(row, ColReason, centred(QString()));
    return true;
}

void BatchProgrammingDialog::deleteRow(int row)
{
    QTableWidgetItem* item = ui->tableWidget->item(row, ColIp);
    if (!item)
        return;
    // Devices not yet handed out move up with their rows: the batch goes on
    // with the next device in list order, none is passed over.
    const QString ip = item->text();
    devices.removeAll(ip);
    // A waiting device leaves the batch; the worker of a running one goes on
    // with the next device when its task ends.
    batchRunner->removeDevice(ip);
    known.remove(ip);
    ui->tableWidget->removeRow(row);
}

void BatchProgrammingDialog::clearDevices()
{
    devices.clear();
    known.clear();
    ui->tableWidget->clearContents();
    ui->tableWidget->setRowCount(0);
}

int BatchProgrammingDialog::rowOf(const QString& ip) const
{
    return devices.indexOf(ip);
}

QProgressBar* BatchProgrammingDialog::progressBar(int row) const
{
    return qobject_cast<QProgressBar*>(ui->tableWidget->cellWidget(row, ColProgress));
}

QString BatchProgrammingDialog::statusText(int row) const
{
    QTableWidgetItem* item = ui->tableWidget->item(row, ColStatus);
    return item ? item->text() : QString();
}

int BatchProgrammingDialog::statusNumber(int row) const
{
    QTableWidgetItem* item = ui->tableWidget->item(row, ColStatus);
    return item ? item->data(StatusRole).toInt() : -1;
}

QString BatchProgrammingDialog::versionText(int row) const
{
    QTableWidgetItem* item = ui->tableWidget->item(row, ColVersion);
    return item ? item->text() : QString();
}

QString BatchProgrammingDialog::reasonText(int row) const
{
    QTableWidgetItem* item = ui->tableWidget->item(row, ColReason);
    return item ? item->text() : QString();
}

bool BatchProgrammingDialog::isBatchRunning() const
{
    return batchRunner->isRunning();
}

QStringList BatchProgrammingDialog::pendingDevices() const
{
    return batchRunner->pendingDevices();
}

QString BatchProgrammingDialog::batchImage() const
{
    return batchRunner->task().image;
}

const QVector<BatchProgrammingThread*>& BatchProgrammingDialog::workerList() const
{
    return batchRunner->workers();
}

const QVector<QThread*>& BatchProgrammingDialog::threadList() const
{
    return batchRunner->threads();
}

void BatchProgrammingDialog::setPortResolver(std::function<quint16(const QString&)> resolver)
{
    batchRunner->setPortResolver(std::move(resolver));
}

QString BatchProgrammingDialog::statusWord(int status)
{
    return BatchRunner::statusText(status);
}

QString BatchProgrammingDialog::reasonWord(int reason)
{
    return BatchRunner::reasonText(static_cast<BatchRunner::Reason>(reason));
}

// ---------------------------------------------------------------- buttons

void BatchProgrammingDialog::onBtnAddClicked()
{
    const QString ip = ui->leIP->text();
    if (!isIpv4Address(ip)) {
        MsgBox::warning(tr("Warning"), tr("IP address is invaild!"), this);
        return;
    }
    if (devices.contains(ip)) {
        MsgBox::warning(tr("Warning"), tr("IP already exists!"), this);
        return;
    }
    addDevice(ip);
}

void BatchProgrammingDialog::onBtnChooseClicked()
{
    const QString file = Dialogs::getOpenFileName(this, tr("Choose Programming File"),
                                                  ui->leFile->text(), tr("(*.bin)"));
    if (!file.isEmpty())
        ui->leFile->setText(file);
}

void BatchProgrammingDialog::onBtnImportClicked()
{
    const QString file = Dialogs::getOpenFileName(this, tr("Choose Device List File"),
                                                  QStringLiteral("/"),
                                                  tr("(*.txt *.csv *.xlsx)"));
    if (!file.isEmpty())
        importFile(file);
}

void BatchProgrammingDialog::importFile(const QString& fileName)
{
    clearDevices();
    if (const QString why = FileCheck::refusal(fileName, DeviceList::kMaxFileBytes); !why.isEmpty())
        return void(MsgBox::warning(tr("Warning"), why));
    if (DeviceList::isWorkbookName(fileName)) {
        // A workbook that cannot be read imports nothing, without a box.
        const DeviceList::SheetColumn column = DeviceList::readWorkbook(fileName);
        if (!column.ok) {
            qWarning("device list %s not imported: %s", qPrintable(fileName),
                     qPrintable(column.error));
            return;
        }
        for (const QString& cell : column.cells)
            addDevice(cell);
        return;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        MsgBox::warning(tr("Warning"), tr("File cannot open!"));
        return;
    }
    for (const QString& ip : DeviceList::parseText(file.readAll()))
        addDevice(ip);
}

void BatchProgrammingDialog::onBtnExportClicked()
{
    const QString file = Dialogs::getSaveFileName(this, tr("Save Batch Programming Result"),
                                                  QStringLiteral("/"), tr("(*.txt)"));
    if (!file.isEmpty())
        exportReport(file);
}

void BatchProgrammingDialog::exportReport(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        MsgBox::warning(tr("Warning"), tr("File cannot open!"));
        return;
    }
    QTableWidget* table = ui->tableWidget;
    if (table->rowCount() == 0)
        return;
    QList<BatchRunner::Result> rows;
    for (int row = 0; row < table->rowCount(); ++row) {
        BatchRunner::Result r;
        QTableWidgetItem* ip = table->item(row, ColIp);
        r.ip = ip ? ip->text() : QString();
        r.status = statusNumber(row);
        if (QTableWidgetItem* reason = table->item(row, ColReason))
            r.reason = static_cast<BatchRunner::Reason>(reason->data(StatusRole).toInt());
        rows << r;
    }
    BatchRunner::writeReport(&file, rows,
                             reportTime.isValid() ? reportTime : QDateTime::currentDateTime());
}

QMenu* BatchProgrammingDialog::createContextMenu(const QPoint& pos)
{
    QTableWidgetItem* item = ui->tableWidget->itemAt(pos);
    if (!item)
        return nullptr;
    auto* menu = new QMenu(this);
    QAction* remove = menu->addAction(tr("Delete"));
    const QPersistentModelIndex index(ui->tableWidget->model()->index(item->row(), 0));
    connect(remove, &QAction::triggered, this, [this, index] {
        if (index.isValid())
            deleteRow(index.row());
    });
    return menu;
}

void BatchProgrammingDialog::onCustomContextMenuRequested(QPoint pos)
{
    QMenu* menu = createContextMenu(pos);
    if (!menu)
        return;
    menu->exec(QCursor::pos());
    menu->deleteLater();
}

// ---------------------------------------------------------------- batches

void BatchProgrammingDialog::onBtnRefreshClicked()
{
    startBatch(false);
}

void BatchProgrammingDialog::onBtnProgramClicked()
{
    startBatch(true);
}

void BatchProgrammingDialog::onBtnRetryClicked()
{
    batchRunner->retryFailed();
    updateControls();
}

void BatchProgrammingDialog::onBtnStopClicked()
{
    batchRunner->stop();
}

void BatchProgrammingDialog::onJobsChanged(int jobs)
{
    batchRunner->setJobs(jobs);
    if (const auto settings = AppSettings::open())
        settings->setValue(QLatin1String(AppSettings::Key::batchParallelDevices()), jobs);
}

void BatchProgrammingDialog::startBatch(bool programming)
{
    if (batchRunner->isRunning())
        return; // one batch at a time
    BatchRunner::Task task;
    task.programming = programming;
    task.type = ui->comboType->currentIndex();
    if (programming) {
        const QString path = ui->leFile->text();
        if (path.isEmpty() || !QFile::exists(path))
            return;
        if (const QString why = FileCheck::refusal(path, FirmwarePackage::kMaxFileBytes); !why.isEmpty())
            return void(MsgBox::warning(tr("Warning"), why, this));
        switch (FirmwarePackage::prepareRunImage(path, &task.image, &task.ownsImage)) {
        case FirmwarePackage::Result::Unpacked:
        case FirmwarePackage::Result::NotPackage:
            break;
        case FirmwarePackage::Result::Damaged:
            // Never sent to a whole list of devices as if it were an image.
            MsgBox::warning(tr("Warning"),
                            tr("The programming file is a damaged firmware package!"), this);
            return;
        case FirmwarePackage::Result::Empty:
        case FirmwarePackage::Result::WriteFailed:
            MsgBox::warning(tr("Warning"), tr("Open programming file failed!"), this);
            return;
        }
    }
    // The runner takes the image over (and removes an image of the batch's
    // own it does not use).
    batchRunner->start(devices, task);
    updateControls();
}

void BatchProgrammingDialog::updateControls()
{
    const bool running = batchRunner->isRunning();
    ui->btnRefresh->setEnabled(!running);
    ui->btnProgram->setEnabled(!running);
    ui->btnRetry->setEnabled(!running);
    ui->btnImport->setEnabled(!running);
    ui->btnStop->setEnabled(running);
}

void BatchProgrammingDialog::resetRow(const QString& ip)
{
    // Nothing an earlier batch left shows in the row or goes into the report.
    progressed.remove(ip);
    const int row = rowOf(ip);
    QTableWidget* table = ui->tableWidget;
    if (QTableWidgetItem* status = table->item(row, ColStatus)) {
        status->setText(QStringLiteral("/"));
        status->setData(StatusRole, BatchProgrammingThread::NotStarted);
    }
    if (QTableWidgetItem* reason = table->item(row, ColReason)) {
        reason->setText(QString());
        reason->setData(StatusRole, 0);
    }
    if (QTableWidgetItem* version = table->item(row, ColVersion))
        version->setText(QString());
    if (QProgressBar* bar = progressBar(row)) {
        bar->setRange(0, 100);
        bar->reset();
    }
}

void BatchProgrammingDialog::setRowResult(int row, int status, int reason)
{
    QTableWidget* table = ui->tableWidget;
    if (row < 0 || row >= table->rowCount())
        return;
    if (QTableWidgetItem* item = table->item(row, ColStatus)) {
        item->setText(statusWord(status));
        item->setData(StatusRole, status);
    }
    if (QTableWidgetItem* item = table->item(row, ColReason)) {
        item->setText(reasonWord(reason));
        item->setData(StatusRole, reason);
    }
}

void BatchProgrammingDialog::showResult(const QString& ip)
{
    showProgress(ip);
    const int row = rowOf(ip);
    const BatchRunner::Result r = batchRunner->result(ip);
    setRowResult(row, r.status, int(r.reason));
    if (r.status == BatchProgrammingThread::Succeeded) {
        if (QTableWidgetItem* version = ui->tableWidget->item(row, ColVersion))
            version->setText(r.version);
    }
}

void BatchProgrammingDialog::showPendingProgress()
{
    const QSet<QString> rows = progressed;
    for (const QString& ip : rows)
        showProgress(ip);
}

void BatchProgrammingDialog::showProgress(const QString& ip)
{
    progressed.remove(ip);
    const BatchRunner::Result r = batchRunner->result(ip);
    const qint64 done = r.bytesDone;
    const qint64 total = r.bytesTotal;
    if (total <= 0)
        return; // nothing sent yet
    if (QProgressBar* bar = progressBar(rowOf(ip))) {
        if (bar->maximum() != int(total) || bar->minimum() != 0)
            bar->setRange(0, int(total));
        bar->setValue(int(done));
    }
}
