// Device lists (text, CSV, workbooks made here with libxlsxwriter), the
// batch dialog's form, its add and delete rules and the result report.
#include "common/dialogs.h"
#include "programming/batchprogrammingdialog.h"
#include "programming/batchprogrammingthread.h"
#include "programming/devicelist.h"
#include "programming/firmwarepackage.h"
#include "progtestutil.h"
#include "testutil.h"

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <xlsxwriter.h>

#include <functional>

using namespace ProgTest;

namespace {

// A cell to write: row and column from 0; a number when text is empty.
struct Cell
{
    int row;
    int column;
    QString text;
    double number = 0;
};

struct Sheet
{
    QList<Cell> cells;
    bool active = false;
};

// Writes a workbook; inlineStrings writes text cells as inline strings
// (the constant-memory mode of the writer), else as shared strings.
bool makeWorkbook(const QString& path, const QList<Sheet>& sheets, bool inlineStrings = false)
{
    lxw_workbook_options options{};
    options.constant_memory = inlineStrings ? LXW_TRUE : LXW_FALSE;
    const QByteArray name = path.toLocal8Bit();
    lxw_workbook* book = workbook_new_opt(name.constData(), &options);
    if (!book)
        return false;
    for (const Sheet& sheet : sheets) {
        lxw_worksheet* ws = workbook_add_worksheet(book, nullptr);
        for (const Cell& cell : sheet.cells) {
            if (cell.text.isEmpty())
                worksheet_write_number(ws, lxw_row_t(cell.row), lxw_col_t(cell.column), cell.number,
                                       nullptr);
            else
                worksheet_write_string(ws, lxw_row_t(cell.row), lxw_col_t(cell.column),
                                       cell.text.toUtf8().constData(), nullptr);
        }
        if (sheet.active)
            worksheet_activate(ws);
    }
    return workbook_close(book) == LXW_NO_ERROR;
}

Cell text(int row, int column, const char* value)
{
    return Cell{row, column, QString::fromUtf8(value)};
}

Cell number(int row, int column, double value)
{
    return Cell{row, column, QString(), value};
}

} // namespace

Q_DECLARE_METATYPE(QList<Sheet>)

class TestBatchImport : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void parseText_data();
    void parseText();
    void numberText_data();
    void numberText();
    void columnNames();

    void workbook_data();
    void workbook();
    void damagedWorkbooks_data();
    void damagedWorkbooks();

    void formTexts();
    void languageChangeKeepsType();
    void workerCount();
    void addRule();
    void addButtonBoxes();
    void importTextEdgeCases();
    void importWorkbook();
    void importUnreadableWorkbookEmptiesSilently();
    void importUnopenableTextFile();
    void importDialogRequest();
    void contextMenuDeletes();
    void reportTwoRows();
    void reportStatusWords();
    void reportEmptyTable();
    void reportCannotOpen();
    void chooseProgrammingFile();
    void programWithoutFileDoesNothing();
    void programDamagedPackageWarns();

private:
    TempWorkDir* work = nullptr;
    BoxRecorder* boxes = nullptr;
    BatchProgrammingDialog* dialog = nullptr;
    QList<Dialogs::FileRequest> fileRequests;
    QString fileAnswer;
};

void TestBatchImport::init()
{
    work = new TempWorkDir;
    boxes = new BoxRecorder;
    dialog = new BatchProgrammingDialog(nullptr, 2);
    fileRequests.clear();
    fileAnswer.clear();
    Dialogs::setFileInterceptor([this](const Dialogs::FileRequest& request) {
        fileRequests.append(request);
        return fileAnswer;
    });
}

void TestBatchImport::cleanup()
{
    Dialogs::setFileInterceptor(Dialogs::FileInterceptor());
    delete dialog;
    boxes->checkNoneLeft();
    delete boxes;
    FirmwarePackage::setBaseDir(QString());
    delete work;
}

// ------------------------------------------------------------ text lists

void TestBatchImport::parseText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("edge cases") << QByteArray(" 10.0.0.1 \n10.0.0.2,\n10.0.0.3,x\nname\n10.0.0.1\n")
                                << QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.1"};
    QTest::newRow("CRLF and no final line end")
        << QByteArray("10.0.0.1\r\n10.0.0.2\r\n10.0.0.3") << QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3"};
    QTest::newRow("tabs") << QByteArray("\t192.168.1.10\t\n") << QStringList{"192.168.1.10"};
    QTest::newRow("only one comma removed") << QByteArray("10.0.0.1,,\n") << QStringList();
    QTest::newRow("blank before comma") << QByteArray("10.0.0.1 ,\n") << QStringList();
    QTest::newRow("two fields") << QByteArray("10.0.0.1,10.0.0.2\n10.0.0.3 10.0.0.4\n")
                                << QStringList();
    QTest::newRow("out of range and leading zero")
        << QByteArray("256.1.1.1\n01.2.3.4\n1.2.3\n1.2.3.4.5\n255.255.255.255\n0.0.0.0\n")
        << QStringList{"255.255.255.255", "0.0.0.0"};
    QTest::newRow("header and empty lines") << QByteArray("IP,\n\n\n172.16.0.1,\n")
                                            << QStringList{"172.16.0.1"};
    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("UTF-8 byte-order mark")
        << QByteArray("\xEF\xBB\xBF" "10.0.0.1\n10.0.0.2\n") << QStringList{"10.0.0.1", "10.0.0.2"};
    QByteArray utf16("\xFF\xFE");
    for (char c : QByteArray("10.0.0.1\r\n10.0.0.2\r\n"))
        utf16.append(c).append('\0');
    QTest::newRow("UTF-16 with byte-order mark")
        << utf16
        << QStringList{"10.0.0.1", "10.0.0.2"};
}

void TestBatchImport::parseText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expected);
    QCOMPARE(DeviceList::parseText(bytes), expected);
}

void TestBatchImport::numberText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("integer") << 10.0 << "10";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("fraction") << 192.168 << "192.168";
    QTest::newRow("large") << 1e20 << "100000000000000000000";
    QTest::newRow("long integer") << 12345678901234.0 << "12345678901234";
    QTest::newRow("small") << 0.0001 << "0.0001";
    QTest::newRow("negative") << -42.5 << "-42.5";
}

void TestBatchImport::numberText()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(DeviceList::numberText(value), text);
}

void TestBatchImport::columnNames()
{
    QCOMPARE(DeviceList::columnName(1), QStringLiteral("A"));
    QCOMPARE(DeviceList::columnName(26), QStringLiteral("Z"));
    QCOMPARE(DeviceList::columnName(27), QStringLiteral("AA"));
    QCOMPARE(DeviceList::columnName(703), QStringLiteral("AAA"));
    QVERIFY(DeviceList::isWorkbookName(QStringLiteral("list.xlsx")));
    QVERIFY(DeviceList::isWorkbookName(QStringLiteral("LIST.XLSX")));
    QVERIFY(!DeviceList::isWorkbookName(QStringLiteral("list.csv")));
}

// -------------------------------------------------------------- workbooks

void TestBatchImport::workbook_data()
{
    QTest::addColumn<QList<Sheet>>("sheets");
    QTest::addColumn<bool>("inlineStrings");
    QTest::addColumn<QString>("usedRange");
    QTest::addColumn<QStringList>("cells");

    QTest::newRow("shared strings with header")
        << QList<Sheet>{{{text(0, 0, "IP"), text(1, 0, "10.0.0.1"), text(2, 0, "10.0.0.2"),
                          text(3, 0, "name"), text(4, 0, "10.0.0.3")}}}
        << false << "A1:A5" << QStringList{"IP", "10.0.0.1", "10.0.0.2", "name", "10.0.0.3"};
    QTest::newRow("numbers in plain digits")
        << QList<Sheet>{{{text(0, 0, "IP"), number(1, 0, 19216811), number(2, 0, 1e20),
                          number(3, 0, 10.5)}}}
        << false << "A1:A4" << QStringList{"IP", "19216811", "100000000000000000000", "10.5"};
    QTest::newRow("active sheet other than the first")
        << QList<Sheet>{{{text(0, 0, "10.9.9.9"), text(1, 0, "10.9.9.8")}},
                        {{text(0, 0, "10.0.0.1"), text(1, 0, "10.0.0.2")}, true}}
        << false << "A1:A2" << QStringList{"10.0.0.1", "10.0.0.2"};
    QTest::newRow("used range B2:C5")
        << QList<Sheet>{{{text(1, 1, "10.0.0.1"), text(1, 2, "10.0.0.7"), text(3, 1, "10.0.0.3"),
                          text(4, 1, "10.0.0.4"), text(4, 2, "x")}}}
        << false << "B2:C5" << QStringList{"10.0.0.1", "10.0.0.3", "10.0.0.4"};
    QTest::newRow("only A1") << QList<Sheet>{{{text(0, 0, "10.0.0.1")}}} << false << "A1"
                             << QStringList();
    QTest::newRow("single cell elsewhere") << QList<Sheet>{{{text(2, 3, "10.0.0.5")}}} << false
                                           << "D3" << QStringList{"10.0.0.5"};
    QTest::newRow("empty sheet") << QList<Sheet>{{{}}} << false << "" << QStringList();
    QTest::newRow("inline strings")
        << QList<Sheet>{{{text(1, 1, "10.0.0.1"), text(2, 1, "10.0.0.2"), number(3, 1, 7),
                          text(4, 1, "10.0.0.4")}}}
        << true << "B2:B5" << QStringList{"10.0.0.1", "10.0.0.2", "7", "10.0.0.4"};
    QTest::newRow("inline strings only, widen the range")
        << QList<Sheet>{{{text(0, 0, "IP"), text(1, 0, "10.0.0.1"), text(2, 2, "note")}}}
        << true << "A1:C3" << QStringList{"IP", "10.0.0.1"};
    QTest::newRow("inline strings on the active second sheet")
        << QList<Sheet>{{{text(0, 0, "10.9.9.9")}}, {{text(0, 0, "10.0.0.1"), text(1, 0, "10.0.0.2")}, true}}
        << true << "A1:A2" << QStringList{"10.0.0.1", "10.0.0.2"};
}

void TestBatchImport::workbook()
{
    QFETCH(QList<Sheet>, sheets);
    QFETCH(bool, inlineStrings);
    QFETCH(QString, usedRange);
    QFETCH(QStringList, cells);
    const QString path = work->file(QStringLiteral("list.xlsx"));
    QVERIFY(makeWorkbook(path, sheets, inlineStrings));
    const DeviceList::SheetColumn column = DeviceList::readWorkbook(path);
    QVERIFY2(column.ok, qPrintable(column.error));
    QCOMPARE(column.usedRange, usedRange);
    QCOMPARE(column.cells, cells);
}

void TestBatchImport::damagedWorkbooks_data()
{
    QTest::addColumn<QByteArray>("bytes");
    // Data functions run before init(): a folder of their own.
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("good.xlsx"));
    QVERIFY(makeWorkbook(path, {{{text(0, 0, "IP"), text(1, 0, "10.0.0.1")}}}));
    const QByteArray good = readFile(path);
    QTest::newRow("truncated") << good.left(good.size() / 2);
    QTest::newRow("text") << QByteArray("10.0.0.1\n10.0.0.2\n");
    QTest::newRow("empty") << QByteArray();
    QByteArray scrambled = good;
    for (int i = 200; i < scrambled.size() - 200; i += 7)
        scrambled[i] = char(scrambled[i] ^ 0x5A);
    QTest::newRow("scrambled") << scrambled;
}

void TestBatchImport::damagedWorkbooks()
{
    QFETCH(QByteArray, bytes);
    const QString path = work->file(QStringLiteral("bad.xlsx"));
    QVERIFY(writeFile(path, bytes) || bytes.isEmpty());
    const DeviceList::SheetColumn column = DeviceList::readWorkbook(path);
    QVERIFY(!column.ok);
    QVERIFY(column.cells.isEmpty());
    QVERIFY(!DeviceList::readWorkbook(work->file(QStringLiteral("missing.xlsx"))).ok);
}

// ----------------------------------------------------------------- dialog

void TestBatchImport::formTexts()
{
    UI_BatchProgrammingDialog* ui = dialog->form();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Batch Programming"));
    QCOMPARE(dialog->size(), QSize(800, 400));
    QVERIFY(!dialog->testAttribute(Qt::WA_QuitOnClose));
    QVERIFY(dialog->windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(dialog->windowFlags() & Qt::WindowContextHelpButtonHint));
    QTableWidget* table = ui->tableWidget;
    QCOMPARE(table->columnCount(), 5);
    QStringList headers;
    for (int c = 0; c < 5; ++c)
        headers << table->horizontalHeaderItem(c)->text();
    QCOMPARE(headers, (QStringList{"IP", "Version", "Progress", "Status", "Reason"}));
    QCOMPARE(table->horizontalHeader()->sectionResizeMode(0), QHeaderView::Stretch);
    QVERIFY(table->horizontalHeader()->stretchLastSection());
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(table->contextMenuPolicy(), Qt::CustomContextMenu);
    QCOMPARE(ui->comboType->count(), 3);
    QCOMPARE(ui->comboType->itemText(0), QStringLiteral("APP"));
    QCOMPARE(ui->comboType->itemText(1), QStringLiteral("Firmware"));
    QCOMPARE(ui->comboType->itemText(2), QStringLiteral("Patch"));
    QCOMPARE(ui->btnRefresh->text(), QStringLiteral("Refresh Version"));
    QCOMPARE(ui->btnImport->text(), QStringLiteral("Import Device"));
    QCOMPARE(ui->btnExport->text(), QStringLiteral("Export Result"));
    QCOMPARE(ui->btnProgram->text(), QStringLiteral("Program"));
    QCOMPARE(ui->btnRetry->text(), QStringLiteral("Retry Failed"));
    QCOMPARE(ui->btnStop->text(), QStringLiteral("Stop"));
    QCOMPARE(ui->btnAdd->text(), QStringLiteral("Add Device"));
    QCOMPARE(ui->btnChoose->text(), QStringLiteral("Choose Programming File"));
    QCOMPARE(dialog->workerList().size(), 2);
    QCOMPARE(dialog->threadList().size(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(dialog->workerList().at(i)->thread(), dialog->threadList().at(i));
        QVERIFY(dialog->threadList().at(i)->isRunning());
        QVERIFY(!dialog->workerList().at(i)->parent());
    }
}

void TestBatchImport::languageChangeKeepsType()
{
    dialog->form()->comboType->setCurrentIndex(2);
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(dialog, &change);
    QCOMPARE(dialog->form()->comboType->currentIndex(), 2);
    QCOMPARE(dialog->form()->comboType->count(), 3);
    QCOMPARE(dialog->form()->btnProgram->text(), QStringLiteral("Program"));
}

void TestBatchImport::workerCount()
{
    QCOMPARE(BatchProgrammingDialog::workerCountFor(0), 1);
    QCOMPARE(BatchProgrammingDialog::workerCountFor(-1), 1);
    QCOMPARE(BatchProgrammingDialog::workerCountFor(1), 1);
    QCOMPARE(BatchProgrammingDialog::workerCountFor(8), 8);
    BatchProgrammingDialog ideal;
    QVERIFY(ideal.workerList().size() >= 1);
    QCOMPARE(ideal.workerList().size(),
             BatchProgrammingDialog::workerCountFor(QThread::idealThreadCount()));
}

void TestBatchImport::addRule()
{
    QVERIFY(dialog->addDevice(QStringLiteral("10.0.0.1")));
    QVERIFY(!dialog->addDevice(QStringLiteral("10.0.0.1")));
    QVERIFY(!dialog->addDevice(QStringLiteral("10.0.0")));
    QVERIFY(!dialog->addDevice(QStringLiteral(" 10.0.0.2")));
    QVERIFY(dialog->addDevice(QStringLiteral("10.0.0.2")));
    QCOMPARE(dialog->deviceList(), (QStringList{"10.0.0.1", "10.0.0.2"}));
    QTableWidget* table = dialog->form()->tableWidget;
    QCOMPARE(table->rowCount(), 2);
    for (int column : {0, 1, 3})
        QCOMPARE(table->item(1, column)->textAlignment(), int(Qt::AlignCenter));
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("10.0.0.2"));
    QVERIFY(table->item(1, 1)->text().isEmpty());
    QCOMPARE(dialog->statusText(1), QStringLiteral("/"));
    QCOMPARE(table->item(1, 3)->data(257).toInt(), 0);
    QProgressBar* bar = dialog->progressBar(1);
    QVERIFY(bar);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
}

void TestBatchImport::addButtonBoxes()
{
    QLineEdit* edit = dialog->form()->leIP;
    // The validator lets an incomplete address stand.
    QTest::keyClicks(edit, QStringLiteral("192.168.1"));
    QCOMPARE(edit->text(), QStringLiteral("192.168.1"));
    dialog->form()->btnAdd->click();
    BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("IP address is invaild!"));
    QCOMPARE(box.buttons, QStringList{MsgBox::sureText()});
    QVERIFY(dialog->deviceList().isEmpty());

    QTest::keyClicks(edit, QStringLiteral(".7"));
    dialog->form()->btnAdd->click();
    QCOMPARE(boxes->count(), 0);
    QCOMPARE(dialog->deviceList(), QStringList{"192.168.1.7"});
    QCOMPARE(edit->text(), QStringLiteral("192.168.1.7")); // not cleared
    dialog->form()->btnAdd->click();
    QCOMPARE(boxes->takeText(), QStringLiteral("IP already exists!"));
    QCOMPARE(dialog->deviceList(), QStringList{"192.168.1.7"});
}

void TestBatchImport::importTextEdgeCases()
{
    dialog->addDevice(QStringLiteral("10.9.9.9"));
    const QString path = work->file(QStringLiteral("list.txt"));
    QVERIFY(writeFile(path, " 10.0.0.1 \n10.0.0.2,\n10.0.0.3,x\nname\n10.0.0.1\n"));
    dialog->importFile(path);
    QCOMPARE(dialog->deviceList(), (QStringList{"10.0.0.1", "10.0.0.2"}));
    QCOMPARE(dialog->form()->tableWidget->rowCount(), 2);
    QCOMPARE(dialog->form()->tableWidget->item(0, 0)->text(), QStringLiteral("10.0.0.1"));

    const QString csv = work->file(QStringLiteral("list.csv"));
    QVERIFY(writeFile(csv, "IP,\r\n10.0.0.5,\r\n10.0.0.6,\r\n"));
    dialog->importFile(csv);
    QCOMPARE(dialog->deviceList(), (QStringList{"10.0.0.5", "10.0.0.6"}));
}

void TestBatchImport::importWorkbook()
{
    const QString path = work->file(QStringLiteral("Devices.XLSX"));
    QVERIFY(makeWorkbook(path, {{{text(1, 1, "IP"), text(2, 1, "10.0.0.1"), text(3, 1, "10.0.0.2"),
                                  text(4, 1, "10.0.0.1"), number(5, 1, 5)}}},
                         true));
    dialog->importFile(path);
    QCOMPARE(dialog->deviceList(), (QStringList{"10.0.0.1", "10.0.0.2"}));
    QCOMPARE(boxes->count(), 0);
}

void TestBatchImport::importUnreadableWorkbookEmptiesSilently()
{
    dialog->addDevice(QStringLiteral("10.0.0.1"));
    const QString path = work->file(QStringLiteral("broken.xlsx"));
    QVERIFY(writeFile(path, "PK\x03\x04 not really a workbook"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not imported")));
    dialog->importFile(path);
    QVERIFY(dialog->deviceList().isEmpty());
    QCOMPARE(dialog->form()->tableWidget->rowCount(), 0);
    QCOMPARE(boxes->count(), 0);
}

void TestBatchImport::importUnopenableTextFile()
{
    dialog->addDevice(QStringLiteral("10.0.0.1"));
    dialog->importFile(work->file(QStringLiteral("missing.txt")));
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("File cannot open!"));
    QVERIFY(dialog->deviceList().isEmpty());
}

void TestBatchImport::importDialogRequest()
{
    dialog->addDevice(QStringLiteral("10.0.0.1"));
    fileAnswer.clear(); // cancelled: nothing changes
    dialog->form()->btnImport->click();
    QCOMPARE(fileRequests.size(), 1);
    QCOMPARE(fileRequests.at(0).mode, Dialogs::FileMode::Open);
    QCOMPARE(fileRequests.at(0).caption, QStringLiteral("Choose Device List File"));
    QCOMPARE(fileRequests.at(0).directory, QStringLiteral("/"));
    QCOMPARE(fileRequests.at(0).filter, QStringLiteral("(*.txt *.csv *.xlsx)"));
    QCOMPARE(dialog->deviceList(), QStringList{"10.0.0.1"});

    fileAnswer = work->file(QStringLiteral("l.txt"));
    QVERIFY(writeFile(fileAnswer, "10.0.0.8\n"));
    dialog->form()->btnImport->click();
    QCOMPARE(dialog->deviceList(), QStringList{"10.0.0.8"});
}

void TestBatchImport::contextMenuDeletes()
{
    for (const char* ip : {"10.0.0.1", "10.0.0.2", "10.0.0.3"})
        dialog->addDevice(QString::fromLatin1(ip));
    dialog->show();
    QTableWidget* table = dialog->form()->tableWidget;
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    const QRect cell = table->visualItemRect(table->item(1, 3));
    QMenu* menu = dialog->createContextMenu(cell.center());
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().at(0)->text(), QStringLiteral("Delete"));
    menu->actions().at(0)->trigger();
    delete menu;
    QCOMPARE(dialog->deviceList(), (QStringList{"10.0.0.1", "10.0.0.3"}));
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("10.0.0.3"));
    // Below the last row there is no item and no menu.
    QVERIFY(!dialog->createContextMenu(QPoint(5, table->viewport()->height() - 2)));
}

void TestBatchImport::reportTwoRows()
{
    dialog->addDevice(QStringLiteral("192.168.1.10"));
    dialog->addDevice(QStringLiteral("192.168.1.11"));
    QTableWidget* table = dialog->form()->tableWidget;
    table->item(0, 3)->setData(257, 2);
    table->item(1, 3)->setData(257, 3);
    dialog->setReportTime(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)));
    const QString path = work->file(QStringLiteral("report.txt"));
    QVERIFY(writeFile(path, QByteArray(500, 'x'))); // replaced
    fileAnswer = path;
    dialog->form()->btnExport->click();
    QCOMPARE(fileRequests.size(), 1);
    QCOMPARE(fileRequests.at(0).mode, Dialogs::FileMode::Save);
    QCOMPARE(fileRequests.at(0).caption, QStringLiteral("Save Batch Programming Result"));
    QCOMPARE(fileRequests.at(0).directory, QStringLiteral("/"));
    QCOMPARE(fileRequests.at(0).filter, QStringLiteral("(*.txt)"));
    const QByteArray expected = "2026-03-04 05:06:07\n"
                                "\n"
                                "IP\t\t\t\t\tResult\n"
                                "================================================\n"
                                "192.168.1.10\t\tSucceeded\n"
                                "192.168.1.11\t\tFailed\n";
    QCOMPARE(readFile(path), expected);
}

void TestBatchImport::reportStatusWords()
{
    for (const char* ip : {"10.0.0.1", "10.0.0.2", "10.0.0.3"})
        dialog->addDevice(QString::fromLatin1(ip));
    QTableWidget* table = dialog->form()->tableWidget;
    table->item(1, 3)->setData(257, 1);
    table->item(2, 3)->setData(257, 42);
    // The report reads the number, not the text.
    table->item(0, 3)->setText(QStringLiteral("Succeeded"));
    dialog->exportReport(work->file(QStringLiteral("r.txt")));
    const QList<QByteArray> lines = readFile(work->file(QStringLiteral("r.txt"))).split('\n');
    QCOMPARE(lines.size(), 8);
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                .match(QString::fromLatin1(lines.at(0)))
                .hasMatch());
    QCOMPARE(lines.at(4), QByteArray("10.0.0.1\t\tNot Start"));
    QCOMPARE(lines.at(5), QByteArray("10.0.0.2\t\tIn Progress"));
    QCOMPARE(lines.at(6), QByteArray("10.0.0.3\t\tCode: 42"));
    QCOMPARE(lines.at(7), QByteArray());
}

void TestBatchImport::reportEmptyTable()
{
    const QString path = work->file(QStringLiteral("empty.txt"));
    QVERIFY(writeFile(path, "old content"));
    dialog->exportReport(path);
    QVERIFY(QFile::exists(path));
    QCOMPARE(readFile(path), QByteArray());
}

void TestBatchImport::reportCannotOpen()
{
    dialog->addDevice(QStringLiteral("10.0.0.1"));
    dialog->exportReport(work->file(QStringLiteral("no/such/folder/r.txt")));
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("File cannot open!"));
}

void TestBatchImport::chooseProgrammingFile()
{
    dialog->form()->leFile->setText(QStringLiteral("/some/where.bin"));
    fileAnswer = QStringLiteral("/chosen/image.bin");
    dialog->form()->btnChoose->click();
    QCOMPARE(fileRequests.size(), 1);
    QCOMPARE(fileRequests.at(0).caption, QStringLiteral("Choose Programming File"));
    QCOMPARE(fileRequests.at(0).directory, QStringLiteral("/some/where.bin"));
    QCOMPARE(fileRequests.at(0).filter, QStringLiteral("(*.bin)"));
    QCOMPARE(dialog->form()->leFile->text(), QStringLiteral("/chosen/image.bin"));
    fileAnswer.clear();
    dialog->form()->btnChoose->click();
    QCOMPARE(dialog->form()->leFile->text(), QStringLiteral("/chosen/image.bin"));
}

void TestBatchImport::programWithoutFileDoesNothing()
{
    dialog->addDevice(QStringLiteral("10.0.0.1"));
    dialog->form()->tableWidget->item(0, 3)->setText(QStringLiteral("Failed"));
    QSignalSpy starts(dialog, &BatchProgrammingDialog::taskStart);
    dialog->form()->btnProgram->click();
    dialog->form()->leFile->setText(work->file(QStringLiteral("missing.bin")));
    dialog->form()->btnProgram->click();
    QCOMPARE(starts.count(), 0);
    QCOMPARE(dialog->statusText(0), QStringLiteral("Failed"));
    QCOMPARE(boxes->count(), 0);
}

void TestBatchImport::programDamagedPackageWarns()
{
    QVERIFY(QDir().mkpath(QStringLiteral("app")));
    FirmwarePackage::setBaseDir(work->file(QStringLiteral("app")));
    dialog->addDevice(QStringLiteral("10.0.0.1"));
    const QString path = work->file(QStringLiteral("damaged.bin"));
    QByteArray bytes = package(1, pattern(300));
    bytes[20] = char(bytes[20] ^ 1); // CRC no longer matches
    QVERIFY(writeFile(path, bytes));
    dialog->form()->leFile->setText(path);
    QSignalSpy starts(dialog, &BatchProgrammingDialog::taskStart);
    dialog->form()->btnProgram->click();
    QCOMPARE(starts.count(), 0);
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("The programming file is a damaged firmware package!"));
}

QTEST_MAIN(TestBatchImport)
#include "tst_batchimport.moc"
