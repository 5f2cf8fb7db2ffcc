#include "programming/batchprogrammingdialog.h"
#include "app/crashhandler.h"

#include "common/addresspatterns.h"
#include "common/dialogs.h"
#include "common/filecheck.h"
#include "common/msgbox.h"
#include "programming/batchprogrammingthread.h"
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
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QTcpSocket>
#include <QTextStream>
#include <QThread>
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
    btnAdd->setText(BatchProgrammingDialog::tr("Add Device"));
    btnChoose->setText(BatchProgrammingDialog::tr("Choose Programming File"));
}

// ------------------------------------------------------------- life cycle

int BatchProgrammingDialog::workerCountFor(int idealThreadCount)
{
    return idealThreadCount > 0 ? idealThreadCount : 1;
}

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

    // The types the workers' links pass around are registered here, once,
    // before any worker thread runs, instead of by whichever worker happens
    // to connect first.
    qRegisterMetaType<QHostInfo>("QHostInfo");
    qRegisterMetaType<QAbstractSocket::SocketState>();
    qRegisterMetaType<QAbstractSocket::SocketError>();

    const int count =
        workerCount > 0 ? workerCount : workerCountFor(QThread::idealThreadCount());
    for (int i = 0; i < count; ++i) {
        auto* thread = new QThread;
        auto* worker = new BatchProgrammingThread;
        connect(thread, &QThread::finished, worker, &QObject::deleteLater);
        connect(worker, &BatchProgrammingThread::finished, this,
                &BatchProgrammingDialog::onBatchFinished);
        connect(worker, &BatchProgrammingThread::programmingStarted, this,
                &BatchProgrammingDialog::onProgrammingStarted);
        connect(worker, &BatchProgrammingThread::programmingUpdated, this,
                &BatchProgrammingDialog::onProgrammingUpdated);
        connect(this, &BatchProgrammingDialog::taskStart, worker,
                &BatchProgrammingThread::onTaskStart);
        connect(this, &BatchProgrammingDialog::taskStop, worker,
                &BatchProgrammingThread::onTaskStop);
        worker->moveToThread(thread);
        QMetaObject::invokeMethod(worker, &CrashHandler::prepareThread, Qt::QueuedConnection);
        thread->start(QThread::InheritPriority);
        threads << thread;
        workers << worker;
    }
}

BatchProgrammingDialog::~BatchProgrammingDialog()
{
    // Each worker is deleted in its own thread when that thread ends; the
    // threads are waited for here, so nothing outlives the dialog. The
    // connections go first: a worker being deleted never reaches back into
    // the dialog.
    for (BatchProgrammingThread* worker : workers) {
        disconnect(worker, nullptr, this, nullptr);
        disconnect(this, nullptr, worker, nullptr);
        worker->discardReports();
    }
    for (QThread* thread : threads)
        thread->quit();
    for (QThread* thread : threads) {
        thread->wait();
        delete thread;
    }
    releaseImage();
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
    pending.removeAll(ip);
    // The worker of a deleted device goes on with the next device when its
    // task ends.
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

int BatchProgrammingDialog::rowOfSender() const
{
    auto* worker = qobject_cast<BatchProgrammingThread*>(sender());
    return worker ? rowOf(worker->ip()) : -1;
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
    return !busy.isEmpty();
}

QString BatchProgrammingDialog::statusWord(int status)
{
    switch (status) {
    case 0:
        return tr("Not Start");
    case 1:
        return tr("In Progress");
    case 2:
        return tr("Succeeded");
    case 3:
        return tr("Failed");
    case 4:
        return tr("Stopped");
    default:
        return tr("Code: ") + QString::number(status);
    }
}

QString BatchProgrammingDialog::reasonWord(int reason)
{
    using Reason = BatchProgrammingThread::Reason;
    switch (static_cast<Reason>(reason)) {
    case Reason::None:
        return QString();
    case Reason::CannotConnect:
        return tr("Cannot connect");
    case Reason::NoAnswer:
        return tr("No answer");
    case Reason::StartRefused:
        return tr("Start refused");
    case Reason::ChunkRefused:
        return tr("Data refused");
    case Reason::LinkLost:
        return tr("Link lost");
    case Reason::Timeout:
        return tr("Timeout");
    case Reason::ImageUnreadable:
        return tr("Cannot read the programming file");
    case Reason::Stopped:
        return tr("Stopped by the operator");
    }
    return QString();
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
    const QDateTime time = reportTime.isValid() ? reportTime : QDateTime::currentDateTime();
    QTextStream out(&file);
    out << time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) << "\n\n";
    out << tr("IP") << "\t\t\t\t\t" << tr("Result") << "\n";
    out << QString(48, QLatin1Char('=')) << "\n";
    for (int row = 0; row < table->rowCount(); ++row) {
        QTableWidgetItem* ip = table->item(row, ColIp);
        out << (ip ? ip->text() : QString()) << "\t\t" << statusWord(statusNumber(row));
        QTableWidgetItem* reasonItem = table->item(row, ColReason);
        const QString reason =
            reasonItem ? reasonWord(reasonItem->data(StatusRole).toInt()) : QString();
        if (!reason.isEmpty())
            out << "\t" << reason;
        out << "\n";
    }
    out.flush();
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
    if (!busy.isEmpty() || (batch.programming && batch.image.isEmpty()))
        return;
    QStringList failed;
    for (int row = 0; row < devices.size(); ++row) {
        if (statusNumber(row) == BatchProgrammingThread::Failed)
            failed << devices.at(row);
    }
    if (!failed.isEmpty())
        runBatch(failed);
}

void BatchProgrammingDialog::onBtnStopClicked()
{
    if (busy.isEmpty())
        return;
    stopping = true;
    for (const QString& ip : pending)
        setRowResult(rowOf(ip), BatchProgrammingThread::Stopped,
                     int(BatchProgrammingThread::Reason::Stopped));
    pending.clear();
    Q_EMIT taskStop();
}

void BatchProgrammingDialog::startBatch(bool programming)
{
    if (!busy.isEmpty())
        return; // one batch at a time
    Batch next;
    next.programming = programming;
    next.type = ui->comboType->currentIndex();
    if (programming) {
        const QString path = ui->leFile->text();
        if (path.isEmpty() || !QFile::exists(path))
            return;
        if (const QString why = FileCheck::refusal(path, FirmwarePackage::kMaxFileBytes); !why.isEmpty())
            return void(MsgBox::warning(tr("Warning"), why, this));
        switch (FirmwarePackage::prepareRunImage(path, &next.image, &next.ownsImage)) {
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
    if (devices.isEmpty()) {
        if (next.ownsImage)
            QFile::remove(next.image);
        return;
    }
    releaseImage();
    batch = next;
    runBatch(devices);
}

void BatchProgrammingDialog::releaseImage()
{
    if (batch.ownsImage)
        QFile::remove(batch.image);
    batch.image.clear();
    batch.ownsImage = false;
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

void BatchProgrammingDialog::runBatch(const QStringList& addresses)
{
    // Every row of this batch starts afresh: nothing an earlier batch left
    // shows in the table or goes into the report.
    QTableWidget* table = ui->tableWidget;
    for (const QString& ip : addresses) {
        const int row = rowOf(ip);
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
    stopping = false;
    pending = addresses;
    for (BatchProgrammingThread* worker : workers) {
        if (pending.isEmpty())
            break;
        giveTask(worker);
    }
    updateControls();
}

void BatchProgrammingDialog::giveTask(BatchProgrammingThread* worker)
{
    const QString ip = pending.takeFirst();
    worker->setProgramming(batch.programming);
    worker->setProgType(batch.type);
    worker->setFileName(batch.programming ? batch.image : QString());
    worker->setPort(portResolver ? portResolver(ip) : quint16(0));
    const int id = nextTaskId++;
    worker->setTask(id, ip);
    busy.insert(worker, ip);
    // Under way: the report says so until the task ends (the table shows
    // "/" meanwhile).
    if (QTableWidgetItem* status = ui->tableWidget->item(rowOf(ip), ColStatus))
        status->setData(StatusRole, BatchProgrammingThread::InProgress);
    Q_EMIT taskStart(id);
}

void BatchProgrammingDialog::endBatch()
{
    stopping = false;
    updateControls();
}

void BatchProgrammingDialog::updateControls()
{
    const bool running = !busy.isEmpty();
    ui->btnRefresh->setEnabled(!running);
    ui->btnProgram->setEnabled(!running);
    ui->btnRetry->setEnabled(!running);
    ui->btnImport->setEnabled(!running);
    ui->btnStop->setEnabled(running);
}

void BatchProgrammingDialog::onBatchFinished()
{
    auto* worker = qobject_cast<BatchProgrammingThread*>(sender());
    if (!worker)
        return;
    BatchProgrammingThread::Report report;
    if (!worker->takeReport(&report))
        return;
    busy.remove(worker);
    // A deleted device has no row any more; its worker goes on all the same.
    const int row = rowOf(report.ip);
    if (row >= 0) {
        setRowResult(row, report.status, int(report.reason));
        if (report.status == BatchProgrammingThread::Succeeded) {
            if (QTableWidgetItem* version = ui->tableWidget->item(row, ColVersion))
                version->setText(report.version);
        }
    }
    if (!stopping && !pending.isEmpty())
        giveTask(worker);
    if (busy.isEmpty())
        endBatch();
}

void BatchProgrammingDialog::onProgrammingStarted(qlonglong bytesTotal)
{
    if (QProgressBar* bar = progressBar(rowOfSender()))
        bar->setRange(0, int(bytesTotal));
}

void BatchProgrammingDialog::onProgrammingUpdated(qlonglong bytesWritten)
{
    if (QProgressBar* bar = progressBar(rowOfSender()))
        bar->setValue(int(bytesWritten));
}
