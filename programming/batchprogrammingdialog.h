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
class BatchProgrammingDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int StatusRole = Qt::UserRole + 1;
    enum Column { ColIp = 0, ColVersion = 1, ColProgress = 2, ColStatus = 3 };

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
    int nextTaskIndex() const { return nextTask; }
    const QVector<BatchProgrammingThread*>& workerList() const { return workers; }
    const QVector<QThread*>& threadList() const { return threads; }
    QProgressBar* progressBar(int row) const;
    QString statusText(int row) const;
    int statusNumber(int row) const;
    QString versionText(int row) const;
    // The row's context menu (null when no item lies at pos); not shown.
    QMenu* createContextMenu(const QPoint& pos);
    // True while some worker has a task under way.
    bool isBatchRunning() const;
    // Seams: the device port per address (devices listen on 8712), and the
    // time stamp of the report (the current time when invalid).
    void setPortResolver(std::function<quint16(const QString&)> resolver)
    {
        portResolver = std::move(resolver);
    }
    void setReportTime(const QDateTime& time) { reportTime = time; }

    static QString statusWord(int status);

Q_SIGNALS:
    void taskStart(int index);
    void taskStop();

protected:
    void changeEvent(QEvent* event) override;

private Q_SLOTS:
    void onBtnRefreshClicked();
    void onBtnAddClicked();
    void onBtnChooseClicked();
    void onBtnExportClicked();
    void onBtnImportClicked();
    void onBtnProgramClicked();
    void onBatchFinished();
    void onCustomContextMenuRequested(QPoint pos);
    void onProgrammingStarted(qlonglong bytesTotal);
    void onProgrammingUpdated(qlonglong bytesWritten);

private:
    void startBatch(bool programming);
    void giveTask(BatchProgrammingThread* worker, int index);
    void clearDevices();
    int rowOf(const QString& ip) const;
    int rowOfSender() const;

    UI_BatchProgrammingDialog* ui;
    QStringList devices;
    QSet<QString> known; // the devices, for the duplicate check
    QVector<QThread*> threads;
    QVector<BatchProgrammingThread*> workers;
    int nextTask = 0;
    std::function<quint16(const QString&)> portResolver;
    QDateTime reportTime;
};
