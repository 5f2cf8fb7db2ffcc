// Device lists (text, CSV, real and crafted workbooks), the
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
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>

#include "xlsxbuild.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

using namespace ProgTest;
using Xlsx::cell;

namespace {

// The corpus of real workbooks: shared/corpus/xlsx beside the source tree
// (or beside one of its parent folders). Empty when there is none.
QString corpusDir()
{
    for (QDir dir(QStringLiteral(FM_SOURCE_DIR)); ; ) {
        const QString candidate = dir.filePath(QStringLiteral("../shared/corpus/xlsx"));
        if (QFile::exists(candidate + QStringLiteral("/expected.json")))
            return QDir::cleanPath(candidate);
        if (!dir.cdUp() || dir.isRoot())
            return QString();
    }
}

// Sets the sizes the central directory gives for an entry (0xFFFFFFFF:
// keep) and optionally spoils its CRC.
QByteArray patchEntry(QByteArray zip, const QString& name, quint32 size, bool badCrc = false)
{
    const QByteArray wanted = name.toUtf8();
    for (int at = zip.indexOf("PK\x01\x02"); at >= 0; at = zip.indexOf("PK\x01\x02", at + 4)) {
        const int nameLength = quint8(zip[at + 28]) | quint8(zip[at + 29]) << 8;
        if (zip.mid(at + 46, nameLength) != wanted)
            continue;
        if (size != 0xFFFFFFFFu) {
            for (int i = 0; i < 4; ++i)
                zip[at + 24 + i] = char(size >> (8 * i));
        }
        if (badCrc)
            zip[at + 16] = char(zip[at + 16] ^ 0x55);
    }
    return zip;
}

const QString kSheet1 = QStringLiteral("xl/worksheets/sheet1.xml");

} // namespace

Q_DECLARE_METATYPE(Xlsx::Parts)

class TestBatchImport : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void parseText_data();
    void parseText();

    void workbook_data();
    void workbook();
    void corpus();
    void damagedWorkbooks_data();
    void damagedWorkbooks();
    void notRegularFiles();

    void formTexts();
    void languageChangeKeepsType();
    void parallelDevices();
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
    void refusedFiles();

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
    QTest::newRow("line ends, blanks, header")
        << QByteArray("IP,\r\n\t192.168.1.10\t\r\n\n10.0.0.2\r10.0.0.3")
        << QStringList{"192.168.1.10", "10.0.0.2", "10.0.0.3"};
    QTest::newRow("fields and commas")
        << QByteArray("10.0.0.1,,\n10.0.0.1 ,\n10.0.0.1,10.0.0.2\n10.0.0.3 10.0.0.4\n") << QStringList();
    QTest::newRow("out of range and leading zero")
        << QByteArray("256.1.1.1\n01.2.3.4\n1.2.3\n1.2.3.4.5\n255.255.255.255\n0.0.0.0\n")
        << QStringList{"255.255.255.255", "0.0.0.0"};
    QTest::newRow("NUL and control bytes spoil their own line only")
        << QByteArray("10.0.0.1") + '\0' + "\n10.0.0.2\n\x01" "10.0.0.3\n10.0.0.4\x1a\x7f\n10.0.0.5"
        << QStringList{"10.0.0.2", "10.0.0.5"};
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

// -------------------------------------------------------------- workbooks

void TestBatchImport::workbook_data()
{
    QTest::addColumn<Xlsx::Parts>("parts");
    QTest::addColumn<bool>("zip64");
    QTest::addColumn<QString>("usedRange");
    QTest::addColumn<QStringList>("cells");

    // Every kind of cell in the first column, a note in column C.
    const QString shared = QStringLiteral(
        "<si><t>IP</t></si>"
        "<si><r><t>10.0.</t></r><r><rPr><b/></rPr><t xml:space=\"preserve\">0.1</t></r></si>"
        "<si><t>東京</t><rPh sb=\"0\" eb=\"2\"><t>トウキョウ</t></rPh><phoneticPr fontId=\"1\"/></si>"
        "<si/>"
        "<si><t>note</t></si>");
    const QString kinds =
        QStringLiteral("<row r=\"1\">") + cell("A1", "s", "0") + "</row><row r=\"2\">" +
        cell("A2", "s", "1") + cell("C2", "s", "4") + "</row>" + cell("A3", "s", "2") +
        cell("A4", "s", "3") + cell("A5", "", "192.168") +
        "<c r=\"A6\" t=\"str\"><f>[1]Sheet1!A1</f><v>10.0.0.2</v></c>"
        "<c r=\"A7\"><f>Missing!A1+1</f><v>3</v></c>" + cell("A8", "b", "1") +
        cell("A9", "e", "#N/A") +
        "<c r=\"A10\" t=\"inlineStr\"><is><t>10.0.0.3</t><rPh><t>x</t></rPh></is></c>"
        "<c r=\"A11\" t=\"s\"/><c r=\"A12\"><v>1E+20</v></c><c r=\"B13\" t=\"e\"><v>#REF!</v></c>";
    const QStringList kindCells{"IP", "10.0.0.1", "東京", "", "192.168", "10.0.0.2", "3",
                                "TRUE", "10.0.0.3", "100000000000000000000"};
    const QString names = QStringLiteral(
        "<definedNames><definedName name=\"设备列表\">'[1]Sheet1'!$A$1</definedName>"
        "<definedName name=\"장치\">Missing!$A$1</definedName></definedNames>"
        "<externalReferences><externalReference r:id=\"rIdX\"/></externalReferences>");
    QTest::newRow("cell kinds, CJK and external names")
        << Xlsx::book({kinds}, shared, QString(), names) << false << "A1:C12" << kindCells;
    Xlsx::Parts stored = Xlsx::book({kinds}, shared);
    for (Xlsx::Part& part : stored)
        part.stored = true;
    QTest::newRow("stored entries") << stored << false << "A1:C12" << kindCells;
    QTest::newRow("zip64") << Xlsx::book({kinds}, shared) << true << "A1:C12" << kindCells;

    QTest::newRow("used range B2:C5, places implied, cells out of order")
        << Xlsx::book({"<row r=\"2\"><c r=\"B2\" t=\"inlineStr\"><is><t>10.0.0.1</t></is></c>"
                       "<c t=\"inlineStr\"><is><t>10.0.0.7</t></is></c></row>"
                       "<row r=\"5\">" + cell("B5", "", "7") + cell("C5", "str", "x") + "</row>"
                       "<row r=\"4\"><c r=\"B4\" t=\"str\"><v>10.0.0.4</v></c></row>"})
        << false << "B2:C5" << QStringList{"10.0.0.1", "10.0.0.4", "7"};
    QTest::newRow("only A1") << Xlsx::book({cell("A1", "str", "10.0.0.1")}) << false << "A1"
                             << QStringList();
    QTest::newRow("single cell elsewhere")
        << Xlsx::book({cell("D3", "str", "10.0.0.5")}) << false << "D3" << QStringList{"10.0.0.5"};
    QTest::newRow("empty sheet, empty values")
        << Xlsx::book({"<row r=\"1\"><c r=\"A1\"/>" + cell("B1", "", "") + "</row>"}) << false
        << "" << QStringList();

    const QStringList three{cell("A1", "str", "10.9.9.1"), cell("A1", "str", "10.9.9.2"),
                            cell("A1", "str", "10.9.9.3") + cell("A2", "str", "10.0.0.3")};
    QTest::newRow("activeTab names the sheet")
        << Xlsx::book(three, QString(), "<bookViews><workbookView activeTab=\"2\"/></bookViews>")
        << false << "A1:A2" << QStringList{"10.9.9.3", "10.0.0.3"};
    Xlsx::Parts grouped = Xlsx::book(
        three, QString(), "<bookViews><workbookView activeTab=\"1\"/><workbookView activeTab=\"2\"/></bookViews>");
    for (const char* sheet : {"xl/worksheets/sheet1.xml", "xl/worksheets/sheet3.xml"})
        Xlsx::edit(grouped, sheet, "<sheetData>",
                   "<sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\"/></sheetViews><sheetData>");
    QTest::newRow("grouped tabs: the first view's activeTab decides")
        << grouped << false << "A1" << QStringList();
    QTest::newRow("activeTab out of range: the first sheet")
        << Xlsx::book(three, QString(), "<bookViews><workbookView activeTab=\"7\"/></bookViews>")
        << false << "A1" << QStringList();

    Xlsx::Parts absolute = Xlsx::book({cell("B1", "s", "0") + cell("B2", "s", "1")},
                                      "<si><t>IP</t></si><si><t>10.0.0.8</t></si>");
    Xlsx::edit(absolute, "xl/_rels/workbook.xml.rels", "Target=\"", "Target=\"/xl/");
    Xlsx::edit(absolute, "_rels/.rels", "Target=\"xl/workbook.xml", "Target=\"/xl/workbook.xml");
    for (Xlsx::Part& part : absolute)
        part.name = part.name.toUpper() == QStringLiteral("XL/SHAREDSTRINGS.XML") ? "xl/SharedStrings.xml" : part.name;
    QTest::newRow("absolute targets, part names in other case")
        << absolute << false << "B1:B2" << QStringList{"IP", "10.0.0.8"};
}

void TestBatchImport::workbook()
{
    QFETCH(Xlsx::Parts, parts);
    QFETCH(bool, zip64);
    QFETCH(QString, usedRange);
    QFETCH(QStringList, cells);
    const QString path = work->file(QStringLiteral("list.xlsx"));
    QVERIFY(Xlsx::writeZip(path, parts, zip64));
    const DeviceList::SheetColumn column = DeviceList::readWorkbook(path);
    QVERIFY2(column.ok, qPrintable(column.error));
    QCOMPARE(column.usedRange, usedRange);
    QCOMPARE(column.cells, cells);
}

// Every workbook of the corpus against what an independent reader found:
// text cells equal, numbers and dates present, errors hold no value.
void TestBatchImport::corpus()
{
    const QString dir = corpusDir();
    if (dir.isEmpty())
        QSKIP("no shared/corpus/xlsx beside the source tree");
    QFile file(dir + QStringLiteral("/expected.json"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject expected = QJsonDocument::fromJson(file.readAll()).object();
    const QStringList names = QDir(dir).entryList({QStringLiteral("*.xlsx")}, QDir::Files);
    QCOMPARE(names.size(), expected.size());
    // Where the other reader's range differs: it counts error cells as
    // values, and gives a sheet without any value the range A1.
    const QHash<QString, QString> ownRange{
        {"calamine__tests_errors.xlsx", ""},
        {"calamine__tests_picture_richdata.xlsx", ""},
        {"exceljs__spec_integration_data_test-issue-877.xlsx", ""}};
    qint64 slowest = 0;
    QString slowestName;
    for (const QString& name : names) {
        const QJsonObject want = expected.value(name).toObject();
        QVERIFY2(!want.isEmpty(), qPrintable(name));
        QElapsedTimer timer;
        timer.start();
        const DeviceList::SheetColumn column = DeviceList::readWorkbook(dir + QLatin1Char('/') + name);
        if (timer.elapsed() >= slowest) {
            slowest = timer.elapsed();
            slowestName = name;
        }
        QVERIFY2(column.ok, qPrintable(name + QStringLiteral(": ") + column.error));
        QStringList texts;
        QStringList kinds;
        const QJsonArray values = want.value(QStringLiteral("first_column")).toArray();
        const QJsonArray valueKinds = want.value(QStringLiteral("kinds")).toArray();
        for (int i = 0; i < values.size(); ++i) {
            if (valueKinds.at(i).toString() != QLatin1String("err")) {
                texts << values.at(i).toString();
                kinds << valueKinds.at(i).toString();
            }
        }
        QString range = ownRange.value(name, want.value(QStringLiteral("range")).toString());
        const QStringList corners = range.split(QLatin1Char(':'));
        if (corners.size() == 2 && corners.at(0) == corners.at(1))
            range = corners.at(0);
        QVERIFY2(column.usedRange == range,
                     qPrintable(QStringLiteral("%1: %2, expected %3").arg(name, column.usedRange, range)));
        QVERIFY2(column.cells.size() == texts.size(),
                 qPrintable(QStringLiteral("%1: %2").arg(name, column.cells.join(QLatin1Char('|')))));
        for (int i = 0; i < texts.size(); ++i) {
            if (kinds.at(i) == QLatin1String("str"))
                QCOMPARE(column.cells.at(i), texts.at(i));
            else
                QVERIFY2(!column.cells.at(i).isEmpty(), qPrintable(name));
        }
    }
    qInfo("%d workbooks; slowest %s: %lld ms", int(names.size()), qPrintable(slowestName), slowest);
}

void TestBatchImport::damagedWorkbooks_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    const Xlsx::Parts parts =
        Xlsx::book({cell("A1", "s", "0") + cell("A2", "s", "1")}, "<si><t>IP</t></si><si><t>10.0.0.1</t></si>");
    const QByteArray good = Xlsx::zipBytes(parts);
    QTest::newRow("truncated") << good.left(good.size() / 2) << "zip";
    QTest::newRow("text") << QByteArray("10.0.0.1\n10.0.0.2\n") << "zip";
    QTest::newRow("empty") << QByteArray() << "zip";
    QByteArray scrambled = good;
    for (int i = 100; i < scrambled.size() - 300; i += 7)
        scrambled[i] = char(scrambled[i] ^ 0x5A);
    QTest::newRow("scrambled") << scrambled << "";
    QTest::newRow("checksum") << patchEntry(good, kSheet1, 0xFFFFFFFFu, true) << "checksum";
    QTest::newRow("missing shared string")
        << Xlsx::zipBytes(Xlsx::book({cell("A1", "s", "0") + cell("A2", "s", "2")},
                                     "<si><t>IP</t></si><si/>")) << "shared string 2";

    // A deflate bomb: 40 MiB of blanks in a small part. Its own header is
    // refused at once; with a header that lies low, unpacking stops there.
    Xlsx::Parts bomb = parts;
    Xlsx::edit(bomb, kSheet1, "<sheetData>", QString(40 << 20, QLatin1Char(' ')) + "<sheetData>");
    const QByteArray bombZip = Xlsx::zipBytes(bomb);
    QTest::newRow("deflate bomb") << bombZip << "more than";
    QTest::newRow("bomb with a header that lies") << patchEntry(bombZip, kSheet1, 4096) << "Premature";
    QTest::newRow("header claims 4 GiB") << patchEntry(good, kSheet1, 0xFFFFFFF0u) << "claims";

    Xlsx::Parts strict = parts;
    Xlsx::edit(strict, "xl/workbook.xml", "http://schemas.openxmlformats.org/spreadsheetml/2006/main",
               "http://purl.oclc.org/ooxml/spreadsheetml/main");
    QTest::newRow("Strict Open XML") << Xlsx::zipBytes(strict) << "Strict";
    Xlsx::Parts dtd = parts;
    Xlsx::edit(dtd, kSheet1, "<worksheet",
               "<!DOCTYPE worksheet [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]><worksheet");
    QTest::newRow("document type") << Xlsx::zipBytes(dtd) << "document type";
    QTest::newRow("nesting")
        << Xlsx::zipBytes(Xlsx::book({QString("<x>").repeated(100) + QString("</x>").repeated(100)}))
        << "nested";
    QTest::newRow("row past the sheet")
        << Xlsx::zipBytes(Xlsx::book({"<row r=\"1048577\">" + cell("A1048577", "", "1") + "</row>"}))
        << "row";
    QTest::newRow("column past the sheet")
        << Xlsx::zipBytes(Xlsx::book({cell("XFE1", "", "1")})) << "XFE1";
    QTest::newRow("no sheet") << Xlsx::zipBytes(Xlsx::book({})) << "no sheet";
}

void TestBatchImport::damagedWorkbooks()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    const QString path = work->file(QStringLiteral("bad.xlsx"));
    QVERIFY(writeFile(path, bytes) || bytes.isEmpty());
    const DeviceList::SheetColumn column = DeviceList::readWorkbook(path);
    QVERIFY(!column.ok);
    QVERIFY(column.cells.isEmpty());
    QVERIFY2(column.error.contains(error), qPrintable(column.error));
}

// A pipe, a folder or a device is never opened (a pipe would block).
void TestBatchImport::notRegularFiles()
{
    const QString fifo = work->file(QStringLiteral("pipe.xlsx"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& path : {fifo, work->path(), QStringLiteral("/dev/zero")})
        QVERIFY(!DeviceList::readWorkbook(path).ok);
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

// "Parallel devices": the number of cores by default, 1 to 64, remembered
// in the settings file; a dialog made later starts with it.
void TestBatchImport::parallelDevices()
{
    BatchProgrammingDialog first;
    QSpinBox* spin = first.form()->spinJobs;
    QCOMPARE(spin->value(), qBound(1, QThread::idealThreadCount(), 64));
    QCOMPARE(first.workerList().size(), spin->value());
    QCOMPARE(spin->minimum(), 1);
    QCOMPARE(spin->maximum(), 64);
    spin->setValue(12);
    QCOMPARE(first.workerList().size(), 12);
    QCOMPARE(first.threadList().size(), 12);
    QCOMPARE(QSettings("config/settings.ini", QSettings::IniFormat).value("Batch/parallelDevices").toInt(),
             12);
    BatchProgrammingDialog second;
    QCOMPARE(second.form()->spinJobs->value(), 12);
    QCOMPARE(second.workerList().size(), 12);
    // A value beyond the range in the file is brought within it.
    QSettings("config/settings.ini", QSettings::IniFormat).setValue("Batch/parallelDevices", 500);
    BatchProgrammingDialog third;
    QCOMPARE(third.workerList().size(), 64);
    QCOMPARE(third.form()->spinJobs->value(), 64);
    // A dialog given its own count leaves the setting alone.
    QCOMPARE(dialog->workerList().size(), 2);
    QCOMPARE(dialog->form()->spinJobs->value(), 2);
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
    QVERIFY(Xlsx::writeZip(path, Xlsx::book({cell("B2", "str", "IP") + cell("B3", "str", "10.0.0.1") +
                                             cell("B4", "str", "10.0.0.2") + cell("B5", "str", "10.0.0.1") +
                                             cell("B6", "", "5")})));
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

// Pipes, folders and devices are neither imported nor programmed; nor are
// files past the size limits. The operator is told why.
void TestBatchImport::refusedFiles()
{
    const QString fifo = work->file(QStringLiteral("pipe.txt"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString large = work->file(QStringLiteral("large.xlsx"));
    {
        QFile sparse(large);
        QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(qint64(64 << 20) + 1));
    }
    const QString notRegular = QStringLiteral("Only regular files can be opened, not folders, pipes or devices!");
    const QString tooLarge = QStringLiteral("The file is larger than 64 MiB!");
    QSignalSpy starts(dialog, &BatchProgrammingDialog::taskStart);
    const QList<QPair<QString, QString>> cases{
        {fifo, notRegular}, {work->path(), notRegular}, {"/dev/zero", notRegular}, {large, tooLarge}};
    for (const auto& c : cases) {
        dialog->addDevice(QStringLiteral("10.0.0.1"));
        dialog->importFile(c.first);
        const BoxRecorder::Box box = boxes->take();
        QCOMPARE(box.summary(), QStringLiteral("[Warning] ") + c.second);
        QVERIFY(dialog->deviceList().isEmpty());

        dialog->addDevice(QStringLiteral("10.0.0.1"));
        dialog->form()->leFile->setText(c.first);
        dialog->form()->btnProgram->click();
        QCOMPARE(boxes->take().summary(), QStringLiteral("[Warning] ") + c.second);
        QCOMPARE(starts.count(), 0);
    }
}

QTEST_MAIN(TestBatchImport)
#include "tst_batchimport.moc"
