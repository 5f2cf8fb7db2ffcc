#include "programming/programmingpage.h"

#include "common/dialogs.h"
#include "common/filecheck.h"
#include "common/msgbox.h"
#include "programming/batchprogrammingdialog.h"
#include "programming/firmwarepackage.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <limits>

using namespace ProgProtocol;

void UI_ProgrammingPage::setupUi(QWidget* page)
{
    if (page->objectName().isEmpty())
        page->setObjectName(QStringLiteral("ProgrammingPage"));
    verticalLayout = new QVBoxLayout(page);
    verticalLayout->addStretch();

    typeLayout = new QHBoxLayout;
    labelType = new QLabel(page);
    typeLayout->addWidget(labelType);
    comboType = new QComboBox(page);
    typeLayout->addWidget(comboType);
    btnBackup = new QPushButton(page);
    typeLayout->addWidget(btnBackup);
    verticalLayout->addLayout(typeLayout);

    versionLayout = new QHBoxLayout;
    labelVersionTitle = new QLabel(page);
    versionLayout->addWidget(labelVersionTitle);
    labelVersion = new QLabel(page);
    versionLayout->addWidget(labelVersion);
    btnRead = new QPushButton(page);
    versionLayout->addWidget(btnRead);
    verticalLayout->addLayout(versionLayout);

    fileLayout = new QHBoxLayout;
    labelFile = new QLabel(page);
    fileLayout->addWidget(labelFile);
    leFile = new QLineEdit(page);
    fileLayout->addWidget(leFile, 1);
    btnChoose = new QPushButton(page);
    fileLayout->addWidget(btnChoose);
    btnProgramming = new QPushButton(page);
    fileLayout->addWidget(btnProgramming);
    btnBatch = new QPushButton(page);
    fileLayout->addWidget(btnBatch);
    verticalLayout->addLayout(fileLayout);

    progressLayout = new QHBoxLayout;
    labelProgress = new QLabel(page);
    progressLayout->addWidget(labelProgress);
    progressBar = new QProgressBar(page);
    progressBar->setValue(0);
    progressBar->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    progressLayout->addWidget(progressBar);
    verticalLayout->addLayout(progressLayout);

    labelStatus = new QLabel(page);
    labelStatus->setStyleSheet(QStringLiteral("color: red; font: 32px; "));
    verticalLayout->addWidget(labelStatus);

    verticalLayout->addStretch();
    verticalLayout->addStretch();
    retranslateUi(page);
}

void UI_ProgrammingPage::retranslateUi(QWidget* page)
{
    page->setWindowTitle(ProgrammingPage::tr("Form"));
    labelType->setText(ProgrammingPage::tr("Programming type    :"));
    btnBackup->setText(ProgrammingPage::tr("Backup"));
    labelVersionTitle->setText(ProgrammingPage::tr("Current version     :"));
    btnRead->setText(ProgrammingPage::tr("Read"));
    labelFile->setText(ProgrammingPage::tr("Programming file    :"));
    btnChoose->setText(ProgrammingPage::tr("Choose"));
    btnProgramming->setText(ProgrammingPage::tr("Programming"));
    btnBatch->setText(ProgrammingPage::tr("Batch Programming"));
    labelProgress->setText(ProgrammingPage::tr("Programming progress:"));

    // Refilled in the same order; "root" stays when it was offered, so the
    // selected index always names an item.
    const int index = comboType->currentIndex();
    const bool hadRoot = comboType->count() > 3;
    comboType->clear();
    comboType->addItems({ProgrammingPage::tr("APP"), ProgrammingPage::tr("Firmware"),
                         ProgrammingPage::tr("Patch")});
    if (hadRoot)
        comboType->addItem(ProgrammingPage::tr("root"));
    comboType->setCurrentIndex(index >= 0 && index < comboType->count() ? index : 0);
}

ProgrammingPage::ProgrammingPage(QWidget* parent)
    : QWidget(parent), ui(new UI_ProgrammingPage), chunkTimer_(new QTimer),
      waitTimer_(new QTimer), progressTimer_(new QTimer(this)),
      batchDialog_(new BatchProgrammingDialog)
{
    ui->setupUi(this);
    waitTimer_->setSingleShot(true);
    progressTimer_->setSingleShot(true);
    connect(progressTimer_, &QTimer::timeout, this, &ProgrammingPage::showPendingProgress);
    connect(chunkTimer_, &QTimer::timeout, this, &ProgrammingPage::programmingTimeout);
    connect(waitTimer_, &QTimer::timeout, this, &ProgrammingPage::onWaitTimeout);
    connect(ui->btnChoose, &QPushButton::clicked, this, &ProgrammingPage::chooseProgrammingFile);
    connect(ui->btnProgramming, &QPushButton::clicked, this, &ProgrammingPage::programmingSlot);
    connect(ui->btnRead, &QPushButton::clicked, this, &ProgrammingPage::readVersionSlot);
    connect(ui->btnBackup, &QPushButton::clicked, this, &ProgrammingPage::backupSlot);
    connect(ui->btnBatch, &QPushButton::clicked, this, &ProgrammingPage::batchProgrammingSlot);
    connect(ui->comboType, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ProgrammingPage::progTypeChanged);
}

ProgrammingPage::~ProgrammingPage()
{
    if (imageFile.isOpen())
        imageFile.close();
    if (!ownedTempImage.isEmpty())
        QFile::remove(ownedTempImage);
    delete chunkTimer_;
    delete waitTimer_;
    delete batchDialog_;
}

QComboBox* ProgrammingPage::typeCombo() const
{
    return ui->comboType;
}

QString ProgrammingPage::statusText() const
{
    return ui->labelStatus->text();
}

void ProgrammingPage::addRootProgType()
{
    if (ui->comboType->count() <= 3)
        ui->comboType->addItem(tr("root"));
}

void ProgrammingPage::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        retranslating = true;
        ui->retranslateUi(this);
        retranslating = false;
    }
    QWidget::changeEvent(event);
}

// ------------------------------------------------------------------ slots

void ProgrammingPage::chooseProgrammingFile()
{
    const QString current = ui->leFile->text();
    const QString start = current.isEmpty() ? QCoreApplication::applicationDirPath() : current;
    const QString file = Dialogs::getOpenFileName(nullptr, tr("Choose programming file"), start,
                                                  tr("Binary Files(*.bin);;*"));
    if (!file.isEmpty())
        ui->leFile->setText(file);
}

void ProgrammingPage::batchProgrammingSlot()
{
    batchDialog_->exec();
}

void ProgrammingPage::readVersionSlot()
{
    Q_EMIT sendCmd(kCmdVersion, QByteArray(1, static_cast<char>(ui->comboType->currentIndex())));
}

void ProgrammingPage::progTypeChanged(int index)
{
    if (index >= 0 && !retranslating)
        readVersionSlot();
}

void ProgrammingPage::programmingSlot()
{
    if (ui->leFile->text().isEmpty()) {
        MsgBox::information(tr("Tip"), tr("Programming file is not choosen!"));
        return;
    }
    if (const QString why = FileCheck::refusal(ui->leFile->text(), FirmwarePackage::kMaxFileBytes); !why.isEmpty())
        return void(MsgBox::warning(tr("Warning"), why));
    // A backup being received keeps the file; it ends on its own (or times
    // out) before a run can start.
    if (backupReceiving)
        return;
    reset();
    ui->progressBar->setValue(0);
    ui->progressBar->setFormat(tr("Progress: %1%").arg(0));
    running = true;
    phase_ = Phase::VersionCheck;
    // The version that decides the transfer mode is always that of type 1.
    Q_EMIT sendCmd(kCmdVersion, QByteArray(1, '\x01'));
}

void ProgrammingPage::backupSlot()
{
    // The page's file is the image being sent while a run is under way.
    if (running)
        return;
    Q_EMIT sendCmd(kCmdBackupStart,
                   QByteArray(1, static_cast<char>(ui->comboType->currentIndex())));
}

void ProgrammingPage::deviceDisconnected()
{
    if (!running)
        return;
    MsgBox::information(tr("Information"), tr("Programming failed, disconnect from device!"));
    reset();
}

void ProgrammingPage::programmingTimeout()
{
    if (phase_ != Phase::Sending) {
        chunkTimer_->stop();
        return;
    }
    if (sender.mayResend()) {
        // Same chunk, same sequence byte; the timer keeps running, so resends
        // come one interval apart.
        Q_EMIT sendCmd(kCmdChunk, sender.lastChunk());
        return;
    }
    failRun(QMessageBox::Warning, tr("Warning"), tr("Programming timeout!"));
}

void ProgrammingPage::onWaitTimeout()
{
    if (backupReceiving) {
        reset();
        MsgBox::warning(tr("Warning"), tr("Backup file failed!"));
        return;
    }
    if (phase_ == Phase::Sending || phase_ == Phase::Installing)
        failRun(QMessageBox::Warning, tr("Warning"), tr("Programming timeout!"));
}

void ProgrammingPage::handleError()
{
    if (running) {
        failRun(QMessageBox::Information, tr("Information"), tr("Programming failed!"));
    } else if (backupReceiving) {
        reset();
        MsgBox::warning(tr("Warning"), tr("Backup file failed!"));
    } else if (phase_ == Phase::Installing) {
        // The device has the whole image; its final word can no longer come.
        reset();
    }
}

void ProgrammingPage::linkNotConnected()
{
    if (running && phase_ == Phase::VersionCheck)
        reset();
}

// -------------------------------------------------------------- responses

void ProgrammingPage::handleRespond(int cmd, const quint8* data, int size)
{
    if (!data || size < 0)
        size = 0;
    switch (cmd) {
    case kCmdVersion:
        onVersionReply(data, size);
        break;
    case kCmdStart:
        if (phase_ != Phase::Starting)
            break;
        if (accepted(data, size)) {
            phase_ = Phase::Sending;
            startProgress(sender.bytesTotal());
            ui->labelStatus->setText(tr("Programming..."));
            sendChunk();
        } else {
            failRun(QMessageBox::Warning, tr("Warning"), tr("Start programming failed!"));
        }
        break;
    case kCmdChunk:
        if (phase_ != Phase::Sending)
            break;
        if (accepted(data, size)) {
            sender.clearRetries();
            sendChunk();
        } else {
            failRun(QMessageBox::Warning, tr("Warning"), tr("Programming failed!"));
        }
        break;
    case kCmdInstalling:
        reset();
        ui->labelStatus->setText(tr("Installing program..."));
        phase_ = Phase::Installing;
        waitTimer_->start(finishTimeoutMs);
        break;
    case kCmdFinished:
        // Also ends a run whose device skipped 0x0102.
        if (running || phase_ == Phase::Installing)
            reset();
        ui->labelStatus->clear();
        MsgBox::information(tr("Information"), tr("Programming finish!"));
        break;
    case kCmdBackupPreparing:
        ui->labelStatus->setText(tr("Backuping program..."));
        break;
    case kCmdBackupStart:
        onBackupSize(data, size);
        break;
    case kCmdBackupData:
        onBackupData(data, size);
        break;
    default:
        break;
    }
}

void ProgrammingPage::onVersionReply(const quint8* data, int size)
{
    if (phase_ == Phase::VersionCheck) {
        sender.start(nullptr, 0, isLegacyVersion(data, size));
        prepareImage();
        return;
    }
    // A version read: the text up to the first zero byte, if any.
    int length = 0;
    while (length < size && data[length] != 0)
        ++length;
    ui->labelVersion->setText(
        QString::fromUtf8(reinterpret_cast<const char*>(data), length));
}

void ProgrammingPage::prepareImage()
{
    if (imageFile.isOpen())
        imageFile.close();
    QString path = ui->leFile->text();
    {
        FirmwarePackage package(path);
        switch (package.unpackImage()) {
        case FirmwarePackage::Result::Unpacked:
            path = FirmwarePackage::tempImagePath();
            ownedTempImage = path;
            break;
        case FirmwarePackage::Result::NotPackage:
            break;
        case FirmwarePackage::Result::Damaged:
            failRun(QMessageBox::Warning, tr("Warning"),
                    tr("The programming file is a damaged firmware package!"));
            return;
        case FirmwarePackage::Result::Empty:
        case FirmwarePackage::Result::WriteFailed:
            failRun(QMessageBox::Warning, tr("Warning"), tr("Open programming file failed!"));
            return;
        }
    }
    imageFile.setFileName(path);
    if (!imageFile.open(QIODevice::ReadOnly)) {
        failRun(QMessageBox::Warning, tr("Warning"), tr("Open programming file failed!"));
        return;
    }
    const qint64 size = imageFile.size();
    sender.start(&imageFile, size, sender.legacy());
    phase_ = Phase::Starting;
    Q_EMIT sendCmd(kCmdStart, startPayload(ui->comboType->currentIndex(), size));
}

void ProgrammingPage::sendChunk()
{
    const QByteArray chunk = sender.nextChunk();
    if (chunk.isEmpty()) {
        // Nothing left (or an empty image): wait for the device to install.
        if (sender.finished() && !waitTimer_->isActive())
            startFinishWait();
        return;
    }
    const quint64 run = generation;
    Q_EMIT sendCmd(kCmdChunk, chunk);
    if (run != generation)
        return; // the send failed and ended the run
    setProgress(sender.bytesDone(), sender.bytesTotal());
    if (!sender.finished()) {
        chunkTimer_->start(chunkIntervalMs);
    } else {
        chunkTimer_->stop();
        startFinishWait();
    }
}

void ProgrammingPage::startFinishWait()
{
    waitTimer_->start(finishTimeoutMs);
}

void ProgrammingPage::startProgress(qint64 total)
{
    progressTimer_->stop();
    progressClock.invalidate();
    const int shift = total > std::numeric_limits<int>::max() ? 10 : 0;
    ui->progressBar->setRange(0, static_cast<int>(total >> shift));
    ui->progressBar->setValue(0);
}

void ProgrammingPage::setProgress(qint64 done, qint64 total)
{
    // Laying out and painting the bar for every chunk would cost more than
    // the chunk itself; steps closer together than the interval are shown
    // together, the last one without delay.
    pendingDone = done;
    pendingTotal = total;
    if (progressIntervalMs > 0 && done < total && progressClock.isValid() &&
        progressClock.elapsed() < progressIntervalMs) {
        if (!progressTimer_->isActive())
            progressTimer_->start(int(progressIntervalMs - progressClock.elapsed()));
        return;
    }
    applyProgress(done, total);
}

void ProgrammingPage::showPendingProgress()
{
    if (pendingTotal > 0)
        applyProgress(pendingDone, pendingTotal);
}

void ProgrammingPage::applyProgress(qint64 done, qint64 total)
{
    progressTimer_->stop();
    progressClock.start();
    // The bar counts in KiB when the size does not fit its int range.
    const int shift = total > std::numeric_limits<int>::max() ? 10 : 0;
    ui->progressBar->setValue(static_cast<int>(done >> shift));
    ui->progressBar->setFormat(tr("Progress: %1%").arg(percentText(done, total)));
}

// ----------------------------------------------------------------- backup

void ProgrammingPage::onBackupSize(const quint8* data, int size)
{
    // A run or a backup under way holds the page's file.
    if (running || backupReceiving)
        return;
    quint32 total = 0;
    if (!backupSize(data, size, &total)) {
        if (size == 4)
            ui->labelStatus->clear();
        MsgBox::warning(tr("Warning"), tr("Start backup failed!"));
        return;
    }
    backupFileName = Dialogs::getSaveFileName(this, tr("Backup program"),
                                              QCoreApplication::applicationDirPath(),
                                              tr("Binary File(*.bin)"));
    if (backupFileName.isEmpty()) {
        ui->labelStatus->clear();
        return;
    }
    if (running || backupReceiving)
        return; // something started while the dialog was open
    backupTotal = total;
    backupDone = 0;
    startProgress(backupTotal);
    imageFile.setFileName(backupFileName);
    if (!imageFile.open(QIODevice::WriteOnly)) {
        ui->labelStatus->clear();
        MsgBox::warning(tr("Warning"), tr("Cannot open backup file!"));
        return;
    }
    backupReceiving = true;
    const quint64 run = generation;
    Q_EMIT sendCmd(kCmdBackupData, QByteArray());
    if (run != generation)
        return;
    ui->labelStatus->setText(tr("Receiving backup file..."));
    waitTimer_->start(backupReplyTimeoutMs);
}

void ProgrammingPage::onBackupData(const quint8* data, int size)
{
    if (!backupReceiving)
        return;
    if (size <= 0) {
        reset();
        MsgBox::warning(tr("Warning"), tr("Backup file failed!"));
        return;
    }
    if (imageFile.write(reinterpret_cast<const char*>(data), size) != size) {
        reset();
        MsgBox::warning(tr("Warning"), tr("Backup file failed!"));
        return;
    }
    backupDone += size;
    setProgress(backupDone, backupTotal);
    if (backupDone < backupTotal) {
        const quint64 run = generation;
        Q_EMIT sendCmd(kCmdBackupData, QByteArray());
        if (run == generation)
            waitTimer_->start(backupReplyTimeoutMs);
        return;
    }
    const bool flushed = imageFile.flush();
    reset();
    if (flushed)
        MsgBox::information(tr("Information"), tr("Backup file finished!"));
    else
        MsgBox::warning(tr("Warning"), tr("Backup file failed!"));
}

// ------------------------------------------------------------------ reset

void ProgrammingPage::reset()
{
    ++generation;
    if (imageFile.isOpen())
        imageFile.close();
    // Only the temporary image this run unpacked goes; a user's file of any
    // name stays.
    if (!ownedTempImage.isEmpty()) {
        QFile::remove(ownedTempImage);
        ownedTempImage.clear();
    }
    ui->labelStatus->clear();
    running = false;
    backupReceiving = false;
    phase_ = Phase::Idle;
    sender.reset();
    backupDone = 0;
    backupTotal = 0;
    chunkTimer_->stop();
    waitTimer_->stop();
    // A step still waiting to be shown is shown now.
    if (progressTimer_->isActive())
        applyProgress(pendingDone, pendingTotal);
}

void ProgrammingPage::failRun(QMessageBox::Icon icon, const QString& title, const QString& text)
{
    reset();
    MsgBox::sure(icon, title, text);
}
