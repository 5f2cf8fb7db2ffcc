#pragma once

#include "programming/programmingprotocol.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QSharedPointer>
#include <QString>
#include <QWidget>

class BatchProgrammingDialog;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class QVBoxLayout;

// Form of the programming page, built in code.
class UI_ProgrammingPage
{
public:
    QVBoxLayout* verticalLayout = nullptr;
    QHBoxLayout* typeLayout = nullptr;
    QLabel* labelType = nullptr;
    QComboBox* comboType = nullptr;
    QPushButton* btnBackup = nullptr;
    QHBoxLayout* versionLayout = nullptr;
    QLabel* labelVersionTitle = nullptr;
    QLabel* labelVersion = nullptr;
    QPushButton* btnRead = nullptr;
    QHBoxLayout* fileLayout = nullptr;
    QLabel* labelFile = nullptr;
    QLineEdit* leFile = nullptr;
    QPushButton* btnChoose = nullptr;
    QPushButton* btnProgramming = nullptr;
    QPushButton* btnBatch = nullptr;
    QHBoxLayout* progressLayout = nullptr;
    QLabel* labelProgress = nullptr;
    QProgressBar* progressBar = nullptr;
    QLabel* labelStatus = nullptr;

    void setupUi(QWidget* page);
    // Re-applies the texts; the type combo is refilled in the same order and
    // its index kept.
    void retranslateUi(QWidget* page);
};

// Writes a program image into the connected device, reads the device's
// version per programming type and fetches a backup of the device's program.
//
// A run: version check (0x0001, type 1) -> start (0x0100) -> chunks of 1024
// bytes (0x0101), each acknowledged before the next goes out, resent every
// chunk interval up to three times in current mode -> 0x0102 installing ->
// 0x0103 finished. Devices below version 1.2.3 get legacy chunks without the
// sequence byte and no resends.
class ProgrammingPage : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kChunkIntervalMs = 10000;
    // Bound of the wait for the answer to 0x0001 (the version check of a
    // run, and the read-back after a run) and to 0x0100.
    static constexpr int kReplyTimeoutMs = 10000;
    // Bound of the wait for 0x0102 after the last chunk and again for 0x0103
    // after 0x0102.
    static constexpr int kFinishTimeoutMs = 300000;
    // Bound of the wait for the backup size and for each piece of a backup.
    static constexpr int kBackupReplyTimeoutMs = 30000;
    // The progress bar and its text follow the transfer at most this often
    // (the last step is always shown at once).
    static constexpr int kProgressIntervalMs = 40;

    // Sending lasts until the last chunk is acknowledged; WaitingEnd waits
    // for 0x0102 (or 0x0103) after that.
    enum class Phase { Idle, VersionCheck, Starting, Sending, WaitingEnd, Installing };
    enum class Backup { None, Requested, Choosing, Receiving };

    explicit ProgrammingPage(QWidget* parent = nullptr);
    ~ProgrammingPage() override;

    // Offers the additional programming type "root" (at most once).
    void addRootProgType();

    // Access for tests and tools.
    UI_ProgrammingPage* form() const { return ui.data(); }
    QComboBox* typeCombo() const;
    QTimer* chunkTimer() const { return chunkTimer_; }
    BatchProgrammingDialog* batchDialog() const { return batchDialog_; }
    QTimer* waitTimer() const { return waitTimer_; }
    bool isRunning() const { return running; }
    // A backup has been asked for and not ended yet.
    bool isBackupRunning() const { return backup_ != Backup::None; }
    Backup backupState() const { return backup_; }
    // A version read-back after a run is awaited.
    bool isReadingBack() const { return readBackPending; }
    Phase phase() const { return phase_; }
    bool isLegacyTransfer() const { return sender.legacy(); }
    const ProgProtocol::ChunkSender& chunkSender() const { return sender; }
    QString statusText() const;
    // Seams: the chunk interval (10 s), the reply bound (10 s), the bound
    // after the last chunk (5 min) and the bound per backup piece (30 s).
    void setChunkInterval(int ms) { chunkIntervalMs = ms; }
    void setReplyTimeout(int ms) { replyTimeoutMs = ms; }
    void setFinishTimeout(int ms) { finishTimeoutMs = ms; }
    void setBackupReplyTimeout(int ms) { backupReplyTimeoutMs = ms; }
    // Seam: 0 shows every step.
    void setProgressInterval(int ms) { progressIntervalMs = ms; }

Q_SIGNALS:
    void sendCmd(int cmd, QByteArray data);

public Q_SLOTS:
    void handleRespond(int cmd, const quint8* data, int size);
    void handleError();
    // The link refused a send because no device is connected (and has said
    // so): a run still waiting for its version check ends quietly, so that a
    // version read after connecting cannot start it unasked.
    void linkNotConnected();

protected:
    void changeEvent(QEvent* event) override;

private Q_SLOTS:
    void chooseProgrammingFile();
    void programmingSlot();
    void readVersionSlot();
    void backupSlot();
    void progTypeChanged(int index);
    void deviceDisconnected();
    void programmingTimeout();
    void onWaitTimeout();
    void onReadBackTimeout();
    void showPendingProgress();
    void batchProgrammingSlot();

private:
    void reset();
    // Backup, Programming, Read, Batch Programming and the type combo start
    // nothing while a run or a backup is going.
    void updateControls();
    // The status label shows the text (a source text of this page,
    // translated now and again after a language change); null clears it.
    void setStatus(const char* source);
    bool allDataSent() const;
    // Asks for the version once more after a run, to show what the device
    // runs now.
    void readBack();
    void failRun(QMessageBox::Icon icon, const QString& title, const QString& text);
    void prepareImage();
    void sendChunk();
    void startFinishWait();
    // A step of the transfer: bar value and "Progress: %1%" text.
    void setProgress(qint64 done, qint64 total);
    // The start of a transfer: range 0..total, value 0.
    void startProgress(qint64 total);
    void applyProgress(qint64 done, qint64 total);
    void onVersionReply(const quint8* data, int size);
    void onBackupSize(const quint8* data, int size);
    void onBackupData(const quint8* data, int size);

    QSharedPointer<UI_ProgrammingPage> ui;
    QTimer* chunkTimer_;
    QTimer* waitTimer_;
    QTimer* progressTimer_;
    QTimer* readBackTimer_;
    // Created once, without parent; keeps its list and workers between showings.
    BatchProgrammingDialog* batchDialog_;
    QElapsedTimer progressClock;
    qint64 pendingDone = 0;
    qint64 pendingTotal = 0;
    QFile imageFile;
    QString backupFileName;
    // The temporary image this run unpacked; only that file is ever deleted.
    QString ownedTempImage;
    ProgProtocol::ChunkSender sender;
    Phase phase_ = Phase::Idle;
    bool retranslating = false;
    bool running = false;
    Backup backup_ = Backup::None;
    bool readBackPending = false;
    // What the status label and the progress text show, kept to be shown
    // again in another language.
    const char* statusSource = nullptr;
    QString progressArg;
    qint64 backupDone = 0;
    qint64 backupTotal = 0;
    // Changes with every reset, so that code after an emitted command can
    // tell whether the run ended meanwhile (a send error ends it at once).
    quint64 generation = 0;
    int chunkIntervalMs = kChunkIntervalMs;
    int replyTimeoutMs = kReplyTimeoutMs;
    int finishTimeoutMs = kFinishTimeoutMs;
    int backupReplyTimeoutMs = kBackupReplyTimeoutMs;
    int progressIntervalMs = kProgressIntervalMs;
};
