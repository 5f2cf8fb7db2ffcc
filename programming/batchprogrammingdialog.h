#pragma once

#include <QDateTime>
#include <QDialog>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <QVector>

#include <functional>

class BatchProgrammingThread;
class QComboBox;
class QHBoxLayout;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QThread;
class QVBoxLayout;

// Form of the batch programming dialog, built in code.
class UI_BatchProgrammingDialog
{
public:
    QVBoxLayout* verticalLayout = nullptr;
    QHBoxLayout* tableLayout = nullptr;
    QTableWidget* tableWidget = nullptr;
    QVBoxLayout* buttonLayout = nullptr;
    QComboBox* comboType = nullptr;
    QPushButton* btnRefresh = nullptr;
    QPushButton* btnImport = nullptr;
    QPushButton* btnExport = nullptr;
    QPushButton* btnProgram = nullptr;
    QPushButton* btnRetry = nullptr;
    QPushButton* btnStop = nullptr;
    QHBoxLayout* addLayout = nullptr;
    QLineEdit* leIP = nullptr;
    QPushButton* btnAdd = nullptr;
    QHBoxLayout* fileLayout = nullptr;
    QLineEdit* leFile = nullptr;
    QPushButton* btnChoose = nullptr;

    void setupUi(QDialog* dialog);
    // Re-applies the texts; the type combo keeps its index.
    void retranslateUi(QDialog* dialog);
};

// Programs, or only reads the version of, a list of devices in parallel.
//
// The devices are spread over a fixed pool of workers, each in a thread of
// its own with its own connection: a batch hands the first devices of the
// list to the workers in creation order, and every worker that finishes
// gets the next device of the list. Rows are found by IP address.
//
// One batch runs at a time. It starts by clearing every row it covers, so
// the table and the report tell only what this batch did. A batch of a
// package sends an image of its own, unpacked once, which nothing else
// writes or removes; it is kept for "Retry Failed" until the next batch.
// "Stop" hands out no further device and ends the tasks under way.
class BatchProgrammingDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int StatusRole = Qt::UserRole + 1;
    enum Column { ColIp = 0, ColVersion = 1, ColProgress = 2, ColStatus = 3, ColReason = 4 };

    // workerCount 0: as many workers as the machine runs threads at once.
    explicit BatchProgrammingDialog(QWidget* parent = nullptr, int workerCount = 0);
    ~BatchProgrammingDialog() override;

    // Workers for a reported ideal thread count: at least one.
    static int workerCountFor(int idealThreadCount);

    // Adds a device by the add rule: ignored when listed or not an address.
    // True when it was added.
    bool addDevice(const QString& ip);
    // Removes the row and every occurrence of its address from the list.
    void deleteRow(int row);
    // Imports a device list file (what the import button does after the
    // file dialog).
    void importFile(const QString& fileName);
    // Writes the result report (what the export button does after the file
    // dialog).
    void exportReport(const QString& fileName);

    // Access for tests and tools.
    UI_BatchProgrammingDialog* form() const { return ui; }
    QStringList deviceList() const { return devices; }
    // Devices of the running batch not yet handed to a worker.
    QStringList pendingDevices() const { return pending; }
    // The image the last batch sent (its own unpacked image for a package).
    QString batchImage() const { return batch.image; }
    const QVector<BatchProgrammingThread*>& workerList() const { return workers; }
    const QVector<QThread*>& threadList() const { return threads; }
    QProgressBar* progressBar(int row) const;
    QString statusText(int row) const;
    int statusNumber(int row) const;
    QString versionText(int row) const;
    QString reasonText(int row) const;
    // The row's context menu (null when no item lies at pos); not shown.
    QMenu* createContextMenu(const QPoint& pos);
    // True while a batch has tasks under way.
    bool isBatchRunning() const;
    // Seams: the device port per address (devices listen on 8712), and the
    // time stamp of the report (the current time when invalid).
    void setPortResolver(std::function<quint16(const QString&)> resolver)
    {
        portResolver = std::move(resolver);
    }
    void setReportTime(const QDateTime& time) { reportTime = time; }

    static QString statusWord(int status);
    // Why a task did not succeed (a BatchProgrammingThread::Reason).
    static QString reasonWord(int reason);

Q_SIGNALS:
    void taskStart(int index);
    void taskStop();

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private Q_SLOTS:
    void onBtnRefreshClicked();
    void onBtnAddClicked();
    void onBtnChooseClicked();
    void onBtnExportClicked();
    void onBtnImportClicked();
    void onBtnProgramClicked();
    void onBtnRetryClicked();
    void onBtnStopClicked();
    void onBatchFinished();
    void onCustomContextMenuRequested(QPoint pos);
    void onProgrammingStarted(qlonglong bytesTotal);
    void onProgrammingUpdated(qlonglong bytesWritten);

private:
    struct Batch
    {
        bool programming = false;
        int type = 0;
        QString image;
        bool ownsImage = false;
    };

    void startBatch(bool programming);
    // Runs the current batch's task for the addresses.
    void runBatch(const QStringList& addresses);
    void giveTask(BatchProgrammingThread* worker);
    void endBatch();
    void releaseImage();
    void updateControls();
    void setRowResult(int row, int status, int reason);
    void clearDevices();
    int rowOf(const QString& ip) const;
    int rowOfSender() const;

    UI_BatchProgrammingDialog* ui;
    QStringList devices;
    QSet<QString> known; // the devices, for the duplicate check
    QVector<QThread*> threads;
    QVector<BatchProgrammingThread*> workers;
    // The running (or last) batch, its devices still to hand out and the
    // device each busy worker serves.
    Batch batch;
    QStringList pending;
    QHash<BatchProgrammingThread*, QString> busy;
    bool stopping = false;
    // Argument of the next taskStart: unique, so that only the worker just
    // given the task takes it.
    int nextTaskId = 0;
    std::function<quint16(const QString&)> portResolver;
    QDateTime reportTime;
};
