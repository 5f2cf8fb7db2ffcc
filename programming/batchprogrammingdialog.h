#pragma once

#include <QDateTime>
#include <QDialog>
#include <QSet>
#include <QStringList>
#include <QVector>

#include <functional>

class BatchProgrammingThread;
class BatchRunner;
class QComboBox;
class QLabel;
class QSpinBox;
class QHBoxLayout;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QThread;
class QTimer;
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
    QLabel* labelJobs = nullptr;
    QSpinBox* spinJobs = nullptr;
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
// The batches run on a BatchRunner (the scheduling shared with the
// command-line tool): its workers, each in a thread of its own with its own
// connection, take the devices in list order. "Parallel devices" sets how
// many at once (1 to 64, remembered in the settings file; the ideal thread
// count by default). Rows are found by IP address.
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
    static constexpr int kProgressRedrawMs = 100;
    enum Column { ColIp = 0, ColVersion = 1, ColProgress = 2, ColStatus = 3, ColReason = 4 };

    // workerCount 0: the "Parallel devices" setting (by default as many
    // workers as the machine runs threads at once); above 0, that many for
    // this dialog (the setting is left alone).
    explicit BatchProgrammingDialog(QWidget* parent = nullptr, int workerCount = 0);
    ~BatchProgrammingDialog() override;

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
    QStringList pendingDevices() const;
    // The image the last batch sent (its own unpacked image for a package).
    QString batchImage() const;
    BatchRunner* runner() const { return batchRunner; }
    const QVector<BatchProgrammingThread*>& workerList() const;
    const QVector<QThread*>& threadList() const;
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
    void setPortResolver(std::function<quint16(const QString&)> resolver);
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
    void onCustomContextMenuRequested(QPoint pos);
    void onJobsChanged(int jobs);

private:
    void startBatch(bool programming);
    void updateControls();
    void resetRow(const QString& ip);
    void showResult(const QString& ip);
    void showProgress(const QString& ip);
    void showPendingProgress();
    void setRowResult(int row, int status, int reason);
    void clearDevices();
    int rowOf(const QString& ip) const;

    UI_BatchProgrammingDialog* ui;
    QStringList devices;
    QSet<QString> known; // the devices, for the duplicate check
    BatchRunner* batchRunner;
    // Rows whose progress changed since the bars were last drawn: the bars
    // follow at most every kProgressRedrawMs, not at every report of every
    // worker.
    QSet<QString> progressed;
    QTimer* progressTimer;
    QDateTime reportTime;
};
