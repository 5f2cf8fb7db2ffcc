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

namespace {

// Texts the status label shows; kept by source so that a language change
// shows them again translated.
const char* const kStatusProgramming = QT_TRANSLATE_NOOP("ProgrammingPage", "Programming...");
const char* const kStatusInstalling =
    QT_TRANSLATE_NOOP("ProgrammingPage", "Installing program...");
const char* const kStatusBackuping = QT_TRANSLATE_NOOP("ProgrammingPage", "Backuping program...");
const char* const kStatusReceiving =
    QT_TRANSLATE_NOOP("ProgrammingPage", "Receiving backup file...");

} // namespace

ProgrammingPage::ProgrammingPage(QWidget* parent)
    : QWidget(parent), ui(new UI_ProgrammingPage), chunkTimer_(new QTimer),
      waitTimer_(new QTimer), progressTimer_(new QTimer(this)), readBackTimer_(new QTimer(this)),
      batchDialog_(new BatchProgrammingDialog)
{
    ui->setupUi(this);
    waitTimer_->setSingleShot(true);
    progressTimer_->setSingleShot(true);
    readBackTimer_->setSingleShot(true);
    connect(progressTimer_, &QTimer::timeout, this, &ProgrammingPage::showPendingProgress);
    connect(readBackTimer_, &QTimer::timeout, this, &ProgrammingPage::onReadBackTimeout);
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
        // What a run or backup left on the page is shown in the new language.
        if (statusSource)
            ui->labelStatus->setText(tr(statusSource));
        if (!progressArg.isNull())
            ui->progressBar->setFormat(tr("Progress: %1%").arg(progressArg));
        retranslating = false;
    }
    QWidget::changeEvent(event);
}

void ProgrammingPage::setStatus(const char* source)
{
    statusSource = source;
    if (source)
        ui->labelStatus->setText(tr(source));
    else
        ui->labelStatus->clear();
}

void ProgrammingPage::updateControls()
{
    const bool idle = !running && backup_ == Backup::None;
    for (QWidget* w : {static_cast<QWidget*>(ui->btnBackup), static_cast<QWidget*>(ui->btnProgramming),
                       static_cast<QWidget*>(ui->btnRead), static_cast<QWidget*>(ui->btnBatch),
                       static_cast<QWidget*>(ui->comboType)})
        w->setEnabled(idle);
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
    if (running || backup_ != Backup::None)
        return;
    batchDialog_->exec();
}

void ProgrammingPage::readVersionSlot()
{
    if (running || backup_ != Backup::None)
        return;
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
    // One run or backup at a time: a second start would make the device
    // begin its transfer again.
    if (running || backup_ != Backup::None)
        return;
    if (const QString why = FileCheck::refusal(ui->leFile->text(), FirmwarePackage::kMaxFileBytes); !why.isEmpty())
        return void(MsgBox::warning(tr("Warning"), why));
    reset();
    // The reply to this run's version check is the next one to come.
    readBackPending = false;
    readBackTimer_->stop();
    ui->progressBar->setValue(0);
    progressArg = QStringLiteral("0");
    ui->progressBar->setFormat(tr("Progress: %1%").arg(progressArg));
    running = true;
    phase_ = Phase::VersionCheck;
    updateControls();
    const quint64 run = generation;
    // The version that decides the transfer mode is always that of type 1.
    Q_EMIT sendCmd(kCmdVersion, QByteArray(1, '\x01'));
    if (run == generation && phase_ == Phase::VersionCheck)
        waitTimer_->start(replyTimeoutMs);
}

void ProgrammingPage::backupSlot()
{
    if (running || backup_ != Backup::None)
        return;
    // The operator turns to a backup while the device installs: the end of
    // that run is no longer waited for (the page's file and bound serve the
    // backup now).
    if (phase_ == Phase::Installing)
        reset();
    backup_ = Backup::Requested;
    updateControls();
    const quint64 run = generation;
    Q_EMIT sendCmd(kCmdBackupStart,
                   QByteArray(1, static_cast<char>(ui->comboType->currentIndex())));
    if (run == generation)
        waitTimer_->start(backupReplyTimeoutMs);
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
        // Same chunk (the last one too), same sequence byte; the timer keeps
        // running, so resends come one interval apart.
        Q_EMIT sendCmd(kCmdChunk, sender.lastChunk());
        return;
    }
    failRun(QMessageBox::Warning, tr("Warning"), tr("Programming timeout!"));
}

void ProgrammingPage::onWaitTimeout()
{
    switch (backup_) {
    case Backup::Requested:
        reset();
        MsgBox::warning(tr("Warning"), tr("Start backup failed!"));
        return;
    case Backup::Receiving:
        reset();
        MsgBox::warning(tr("Warning"), tr("Backup file failed!"));
        return;
    case Backup::Choosing:
        return;
    case Backup::None:
        break;
    }
    switch (phase_) {
    case Phase::VersionCheck:
    case Phase::Starting:
        failRun(QMessageBox::Warning, tr("Warning"), tr("The device does not answer!"));
        break;
    case Phase::Sending:
    case Phase::WaitingEnd:
    case Phase::Installing:
        failRun(QMessageBox::Warning, tr("Warning"), tr("Programming timeout!"));
        break;
    case Phase::Idle:
        break;
    }
}

void ProgrammingPage::onReadBackTimeout()
{
    // The device did not tell its new version in time; the label stays
    // empty rather than showing the old one.
    readBackPending = false;
}

void ProgrammingPage::handleError()
{
    readBackPending = false;
    readBackTimer_->stop();
    if (running) {
        failRun(QMessageBox::Information, tr("Information"), tr("Programming failed!"));
    } else if (backup_ == Backup::Requested || backup_ == Backup::Receiving) {
        reset();
        MsgBox::warning(tr("Warning"), tr("Backup file failed!"));
    } else if (backup_ == Backup::Choosing) {
        // Ends once the save dialog is closed.
        reset();
    } else if (phase_ == Phase::Installing) {
        // The device has the whole image; its final word can no longer come.
        reset();
    }
}

void ProgrammingPage::linkNotConnected()
{
    // The link has said so already; whatever waited for an answer ends
    // quietly, so that a version read after connecting cannot start it.
    if ((running && phase_ == Phase::VersionCheck) || backup_ == Backup::Requested)
        reset();
    readBackPending = false;
}

// -------------------------------------------------------------- responses

bool ProgrammingPage::allDataSent() const
{
    return running && (phase_ == Phase::Sending || phase_ == Phase::WaitingEnd) &&
           sender.finished();
}

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
        waitTimer_->stop();
        if (accepted(data, size)) {
            phase_ = Phase::Sending;
            startProgress(sender.bytesTotal());
            setStatus(kStatusProgramming);
            sendChunk();
        } else {
            failRun(QMessageBox::Warning, tr("Warning"), tr("Start programming failed!"));
        }
        break;
    case kCmdChunk:
        if (phase_ != Phase::Sending)
            break;
        if (!accepted(data, size)) {
            failRun(QMessageBox::Warning, tr("Warning"), tr("Programming failed!"));
            break;
        }
        sender.clearRetries();
        if (sender.finished()) {
            // The last chunk is in: wait for the device to install.
            chunkTimer_->stop();
            phase_ = Phase::WaitingEnd;
            startFinishWait();
        } else {
            sendChunk();
        }
        break;
    case kCmdInstalling:
        // Only the run that has sent all its data is installing; a late
        // word of an earlier run changes nothing.
        if (!allDataSent())
            break;
        reset();
        setStatus(kStatusInstalling);
        phase_ = Phase::Installing;
        startFinishWait();
        break;
    case kCmdFinished:
        // Also ends a run whose device skipped 0x0102; never a run that has
        // not sent all its data yet.
        if (!allDataSent() && phase_ != Phase::Installing)
            break;
        reset();
        setStatus(nullptr);
        readBack();
        MsgBox::information(tr("Information"), tr("Programming finish!"));
        break;
    case kCmdBackupPreparing:
        if (!running && (backup_ == Backup::Requested || backup_ == Backup::None))
            setStatus(kStatusBackuping);
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

void ProgrammingPage::readBack()
{
    // The version shown is the one the device reports now, once it answers.
    ui->labelVersion->clear();
    readBackPending = true;
    readBackTimer_->start(replyTimeoutMs);
    const quint64 run = generation;
    Q_EMIT sendCmd(kCmdVersion, QByteArray(1, static_cast<char>(ui->comboType->currentIndex())));
    if (run != generation) {
        readBackPending = false;
        readBackTimer_->stop();
    }
}

void ProgrammingPage::onVersionReply(const quint8* data, int size)
{
    if (readBackPending) {
        // The answer to the read-back, which was asked before any later
        // request.
        readBackPending = false;
        readBackTimer_->stop();
    } else if (phase_ == Phase::VersionCheck) {
        waitTimer_->stop();
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
    // A package goes through an image of this run's own, which nothing else
    // writes or removes while the run needs it.
    QString path;
    bool owned = false;
    switch (FirmwarePackage::prepareRunImage(ui->leFile->text(), &path, &owned)) {
    case FirmwarePackage::Result::Unpacked:
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
    if (owned)
        ownedTempImage = path;
    imageFile.setFileName(path);
    if (!imageFile.open(QIODevice::ReadOnly)) {
        failRun(QMessageBox::Warning, tr("Warning"), tr("Open programming file failed!"));
        return;
    }
    const qint64 size = imageFile.size();
    sender.start(&imageFile, size, sender.legacy());
    phase_ = Phase::Starting;
    const quint64 run = generation;
    Q_EMIT sendCmd(kCmdStart, startPayload(ui->comboType->currentIndex(), size));
    if (run == generation)
        waitTimer_->start(replyTimeoutMs);
}

void ProgrammingPage::sendChunk()
{
    const QByteArray chunk = sender.nextChunk();
    if (chunk.isEmpty()) {
        if (!sender.finished()) {
            failRun(QMessageBox::Warning, tr("Warning"), tr("Open programming file failed!"));
            return;
        }
        // An empty image: nothing to send, wait for the device to install.
        chunkTimer_->stop();
        phase_ = Phase::WaitingEnd;
        startFinishWait();
        return;
    }
    const quint64 run = generation;
    Q_EMIT sendCmd(kCmdChunk, chunk);
    if (run != generation)
        return; // the send failed and ended the run
    setProgress(sender.bytesDone(), sender.bytesTotal());
    // Every chunk, the last one too, is resent when its acknowledgement
    // does not come.
    chunkTimer_->start(chunkIntervalMs);
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
    progressArg = percentText(done, total);
    ui->progressBar->setFormat(tr("Progress: %1%").arg(progressArg));
}

// ----------------------------------------------------------------- backup

void ProgrammingPage::onBackupSize(const quint8* data, int size)
{
    // A run, or a backup past its size, holds the page's file.
    if (running || backup_ == Backup::Choosing || backup_ == Backup::Receiving)
        return;
    waitTimer_->stop();
    quint32 total = 0;
    if (!backupSize(data, size, &total)) {
        backup_ = Backup::None;
        updateControls();
        if (size == 4)
            setStatus(nullptr);
        MsgBox::warning(tr("Warning"), tr("Start backup failed!"));
        return;
    }
    backup_ = Backup::Choosing;
    updateControls();
    const quint64 run = generation;
    backupFileName = Dialogs::getSaveFileName(this, tr("Backup program"),
                                              QCoreApplication::applicationDirPath(),
                                              tr("Binary File(*.bin)"));
    if (run != generation)
        return; // the link was lost while the dialog was open
    if (backupFileName.isEmpty()) {
        reset();
        return;
    }
    backupTotal = total;
    backupDone = 0;
    startProgress(backupTotal);
    imageFile.setFileName(backupFileName);
    if (!imageFile.open(QIODevice::WriteOnly)) {
        reset();
        MsgBox::warning(tr("Warning"), tr("Cannot open backup file!"));
        return;
    }
    backup_ = Backup::Receiving;
    Q_EMIT sendCmd(kCmdBackupData, QByteArray());
    if (run != generation)
        return;
    setStatus(kStatusReceiving);
    waitTimer_->start(backupReplyTimeoutMs);
}

void ProgrammingPage::onBackupData(const quint8* data, int size)
{
    if (backup_ != Backup::Receiving)
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
    // Only the image this run unpacked goes; a user's file of any name
    // stays.
    if (!ownedTempImage.isEmpty()) {
        QFile::remove(ownedTempImage);
        ownedTempImage.clear();
    }
    setStatus(nullptr);
    running = false;
    backup_ = Backup::None;
    phase_ = Phase::Idle;
    sender.reset();
    backupDone = 0;
    backupTotal = 0;
    chunkTimer_->stop();
    waitTimer_->stop();
    // A step still waiting to be shown is shown now.
    if (progressTimer_->isActive())
        applyProgress(pendingDone, pendingTotal);
    updateControls();
}

void ProgrammingPage::failRun(QMessageBox::Icon icon, const QString& title, const QString& text)
{
    reset();
    MsgBox::sure(icon, title, text);
}
