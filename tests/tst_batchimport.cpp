// Device lists (text, CSV, crafted, hostile and real workbooks) and the batch dialog around them.
#include "common/dialogs.h"
#include "programming/batchprogrammingdialog.h"
#include "programming/batchprogrammingthread.h"
#include "programming/devicelist.h"
#include "programming/firmwarepackage.h"
#include "progtestutil.h"
#include "testutil.h"
#include "xlsxbuild.h"

#include <QtTest>

#include <sys/stat.h>

using namespace ProgTest;
using Xlsx::cell;

class TestBatchImport : public BoxCheckedTest
{
    Q_OBJECT
    std::unique_ptr<TempWorkDir> work;
    QList<QStringList> requests; // caption, directory, filter, mode
    QString answer;

private Q_SLOTS:
    void init()
    {
        BoxCheckedTest::init();
        work = std::make_unique<TempWorkDir>();
        Dialogs::setFileInterceptor([this](const Dialogs::FileRequest& r) {
            requests << QStringList{r.caption, r.directory, r.filter, QString::number(int(r.mode))};
            return answer;
        });
    }
    void cleanup()
    {
        Dialogs::setFileInterceptor(Dialogs::FileInterceptor());
        BoxCheckedTest::cleanup();
        FirmwarePackage::setBaseDir(QString());
        work.reset();
    }
    void workbook_data();
    void workbook();
    void corpus();
    void dialogRun();
};

void TestBatchImport::workbook_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("usedRange"); // or "!" and a part of the error
    QTest::addColumn<QStringList>("cells");
    auto row = [](const char* name, const Xlsx::Parts& parts, const QString& range, const QStringList& cells = {}) {
        QTest::newRow(name) << Xlsx::zipBytes(parts, QByteArray(name).contains("zip64")) << range << cells;
    };
    auto text = [](const char* name, const QByteArray& bytes, const QStringList& found) {
        QTest::newRow(name) << bytes << "text" << found;
    };
    text("text: UTF-8 mark, CSV, line ends, tabs", "\xEF\xBB\xBFIP,\r\n\t192.168.1.10\t\r\n\n10.0.0.2\r10.0.0.3",
         {"192.168.1.10", "10.0.0.2", "10.0.0.3"});
    text("text: one comma only, fields, out of range, leading zero",
         "10.0.0.1,,\n10.0.0.1 ,\n10.0.0.1,10.0.0.2\n10.0.0.3 10.0.0.4\n256.1.1.1\n01.2.3.4\n1.2.3\n1.2.3.4.5\n"
         "255.255.255.255\n0.0.0.0", {"255.255.255.255", "0.0.0.0"});
    text("text: NUL and control bytes spoil their own line",
         QByteArray("10.0.0.1\0\n10.0.0.2\n\x01" "10.0.0.3\n10.0.0.4\x1a\x7f\n10.0.0.5", 48), {"10.0.0.2", "10.0.0.5"});
    text("text: UTF-16 mark", QByteArray("\xFF\xFE" "1\0" "0\0.\0" "0\0.\0" "0\0.\0" "1\0\r\0\n\0" "2\0.\0" "0\0.\0"
                                         "0\0.\0" "1\0", 36), {"10.0.0.1", "2.0.0.1"});
    // Every kind of cell in the first column, a note in column C.
    const QString shared = "<si><t>IP</t></si><si><r><t>10.0.</t></r><r><rPr><b/></rPr><t xml:space=\"preserve\">"
                           "0.1</t></r></si><si><t>東京</t><rPh sb=\"0\" eb=\"2\"><t>トウキョウ</t></rPh><phoneticPr "
                           "fontId=\"1\"/></si><si/><si><t>note</t></si>";
    const QString kinds = "<row r=\"1\">" + cell("A1", "s", "0") + "</row><row r=\"2\">" + cell("A2", "s", "1") +
                          cell("C2", "s", "4") + "</row>" + cell("A3", "s", "2") + cell("A4", "s", "3") +
                          cell("A5", "", "192.168") + "<c r=\"A6\" t=\"str\"><f>[1]Sheet1!A1</f><v>10.0.0.2</v></c>"
                          "<c r=\"A7\"><f>Missing!A1+1</f><v>3</v></c>" + cell("A8", "b", "1") +
                          cell("A9", "e", "#N/A") + "<c r=\"A10\" t=\"inlineStr\"><is><t>10.0.0.3</t><rPh><t>x</t>"
                          "</rPh></is></c><c r=\"A11\" t=\"s\"/><c r=\"A12\"><v>1E+20</v></c>" +
                          cell("B13", "e", "#REF!") + cell("A14", "b", "0");
    const QStringList kindCells{"IP", "10.0.0.1", "東京", "", "192.168", "10.0.0.2", "3",
                                "TRUE", "10.0.0.3", "100000000000000000000", "FALSE"};
    row("cell kinds, CJK and external names",
        Xlsx::book({kinds}, shared, QString(),
                   "<definedNames><definedName name=\"设备列表\">'[1]Sheet1'!$A$1</definedName><definedName "
                   "name=\"장치\">Missing!$A$1</definedName></definedNames><externalReferences>"
                   "<externalReference r:id=\"rIdX\"/></externalReferences>"), "A1:C14", kindCells);
    Xlsx::Parts stored = Xlsx::book({kinds}, shared);
    std::for_each(stored.begin(), stored.end(), [](Xlsx::Part& part) { part.stored = true; });
    row("stored entries, zip64", stored, "A1:C14", kindCells);
    row("used range B2:C5, places implied, rows out of order",
        Xlsx::book({"<row r=\"2\"><c r=\"B2\" t=\"inlineStr\"><is><t>10.0.0.1</t></is></c><c t=\"inlineStr\"><is>"
                    "<t>10.0.0.7</t></is></c></row><row r=\"5\">" + cell("B5", "", "7") + cell("C5", "str", "x") +
                    "</row><row r=\"4\">" + cell("B4", "str", "10.0.0.4") + "</row>"}),
        "B2:C5", {"10.0.0.1", "10.0.0.4", "7"});
    row("single cell elsewhere", Xlsx::book({cell("D3", "str", "10.0.0.5")}), "D3", {"10.0.0.5"});
    row("empty sheet, empty values", Xlsx::book({"<row r=\"1\"><c r=\"A1\"/>" + cell("B1", "", "") + "</row>"}), "");
    const QStringList three{cell("A1", "str", "10.9.9.1"), cell("A1", "str", "10.9.9.2"),
                            cell("A1", "str", "10.9.9.3") + cell("A2", "str", "10.0.0.3")};
    const QString views = "<bookViews><workbookView activeTab=\"%1\"/><workbookView activeTab=\"2\"/></bookViews>";
    row("activeTab names the sheet", Xlsx::book(three, QString(), views.arg(2)), "A1:A2", {"10.9.9.3", "10.0.0.3"});
    row("the first view decides", Xlsx::book(three, QString(), views.arg(1)), "A1");
    row("activeTab out of range: the first sheet", Xlsx::book(three, QString(), views.arg(7)), "A1");
    const Xlsx::Parts parts =
        Xlsx::book({cell("A1", "s", "0") + cell("A2", "s", "1")}, "<si><t>IP</t></si><si><t>10.0.0.1</t></si>");
    auto edited = [&parts](const QString& from, const QString& to, const QString& part = "xl/worksheets/sheet1.xml") {
        Xlsx::Parts copy = parts;
        Xlsx::edit(copy, part, from, to);
        return copy;
    };
    Xlsx::Parts absolute = edited("Target=\"", "Target=\"/xl/", "xl/_rels/workbook.xml.rels");
    Xlsx::edit(absolute, "_rels/.rels", "Target=\"xl/", "Target=\"/xl/");
    absolute.last().name = "xl/SharedStrings.xml";
    row("absolute targets, part name in other case", absolute, "A1:A2", {"IP", "10.0.0.1"});

    const QByteArray good = Xlsx::zipBytes(parts);
    // Sets the first sheet's size in the central directory (0: keep), spoils its CRC by crcXor.
    auto patchEntry = [](QByteArray zip, quint32 size, char crcXor = 0) {
        const int at = zip.indexOf("xl/worksheets/sheet1.xml", zip.indexOf("PK\x01\x02")) - 46;
        for (int i = 0; i < 4 && size; ++i)
            zip[at + 24 + i] = char(size >> (8 * i));
        zip[at + 16] = char(zip[at + 16] ^ crcXor);
        return zip;
    };
    for (const QByteArray& notZip : {good.left(good.size() / 2), QByteArray("10.0.0.1\n10.0.0.2\n"), QByteArray()})
        QTest::addRow("not a zip, %d bytes", notZip.size()) << notZip << "!zip" << QStringList();
    QByteArray scrambled = good;
    for (int i = 100; i < scrambled.size() - 300; i += 7)
        scrambled[i] = char(scrambled[i] ^ 0x5A);
    QTest::newRow("scrambled") << scrambled << "!" << QStringList();
    QTest::newRow("bad CRC") << patchEntry(good, 0, 0x55) << "!checksum" << QStringList();
    row("missing shared string", edited("<v>1</v>", "<v>2</v>"), "!shared string 2");
    // 40 MiB of blanks in a small part: refused by its own header or, with a header that lies, while unpacking.
    const Xlsx::Parts bomb = edited("<sheetData>", QString(40 << 20, ' ') + "<sheetData>");
    row("deflate bomb", bomb, "!more than");
    QTest::newRow("lying bomb") << patchEntry(Xlsx::zipBytes(bomb), 4096) << "!Premature" << QStringList();
    QTest::newRow("header claims 4 GiB") << patchEntry(good, 0xFFFFFFF0u) << "!claims" << QStringList();
    row("Strict Open XML", edited("http://schemas.openxmlformats.org/spreadsheetml/2006/main",
                                  "http://purl.oclc.org/ooxml/spreadsheetml/main", "xl/workbook.xml"), "!Strict");
    row("DTD", edited("<worksheet", "<!DOCTYPE worksheet [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
                                    "<worksheet"), "!document type");
    row("deep nesting", edited("<sheetData>", QString("<x>").repeated(100) + QString("</x>").repeated(100) +
                                                  "<sheetData>"), "!nested");
    row("row past the sheet", Xlsx::book({"<row r=\"1048577\">" + cell("A1", "", "1") + "</row>"}), "!row 1048577");
    row("cell past the last row", edited("<c r=\"A1\"", "<c r=\"A1048577\""), "!reference A1048577");
    row("column past the sheet", edited("<c r=\"A1\"", "<c r=\"XFE1\""), "!XFE1");
    row("no sheet", Xlsx::book({}), "!no sheet");
    row("root element not a workbook", edited("workbook", "notebook", "xl/workbook.xml"), "!no sheet");
}

void TestBatchImport::workbook()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, usedRange);
    QFETCH(QStringList, cells);
    if (usedRange == "text") {
        QCOMPARE(DeviceList::parseText(bytes), cells);
        return;
    }
    QVERIFY(writeFile(work->file("list.xlsx"), bytes) || bytes.isEmpty());
    const DeviceList::SheetColumn column = DeviceList::readWorkbook(work->file("list.xlsx"));
    QCOMPARE(column.ok, !usedRange.startsWith('!'));
    QVERIFY2(column.ok ? column.usedRange == usedRange : column.error.contains(usedRange.mid(1)),
             qPrintable(column.usedRange + column.error));
    QCOMPARE(column.cells, cells);
}

// The corpus against an independent reader: text cells equal, numbers present, errors no value.
void TestBatchImport::corpus()
{
    QDir dir(QStringLiteral(FM_SOURCE_DIR));
    while (!dir.exists("../shared/corpus/xlsx/expected.json"))
        if (!dir.cdUp() || dir.isRoot())
            QSKIP("no shared/corpus/xlsx beside the source tree");
    dir.cd("../shared/corpus/xlsx");
    const QJsonObject expected = QJsonDocument::fromJson(readFile(dir.filePath("expected.json"))).object();
    const QStringList names = dir.entryList({"*.xlsx"}, QDir::Files);
    QCOMPARE(names.size(), expected.size());
    // The other reader counts error cells as values and gives a sheet without any value the range A1.
    const QStringList noValues{"calamine__tests_errors.xlsx", "calamine__tests_picture_richdata.xlsx",
                               "exceljs__spec_integration_data_test-issue-877.xlsx"};
    for (const QString& name : names) {
        const QJsonObject want = expected.value(name).toObject();
        const DeviceList::SheetColumn column = DeviceList::readWorkbook(dir.filePath(name));
        QVERIFY2(column.ok && !want.isEmpty(), qPrintable(name + ": " + column.error));
        const QString range = noValues.contains(name) ? QString() : want.value("range").toString();
        const QString one = range.section(':', 0, 0); // "B2:B2" is "B2"
        QCOMPARE(column.usedRange, range == one + ':' + one ? one : range);
        const QJsonArray values = want.value("first_column").toArray(), kinds = want.value("kinds").toArray();
        QStringList cells;
        for (int i = 0; i < values.size(); ++i) {
            const QString kind = kinds.at(i).toString(), got = column.cells.value(cells.size());
            if (kind != "err")
                cells << (kind == "str" ? values.at(i).toString() : got.isEmpty() ? "<a value>" : got);
        }
        QCOMPARE(column.cells, cells);
    }
}

// One dialog run: typing, imports, delete, reports, refused images and files, parallel devices.
void TestBatchImport::dialogRun()
{
    auto dialog = std::make_unique<BatchProgrammingDialog>(nullptr, 2);
    auto shown = [this] { // the boxes shown since the last call, "[title] text"
        QStringList texts;
        while (boxes->count())
            texts << boxes->take().summary();
        return texts;
    };
    UI_BatchProgrammingDialog* ui = dialog->form();
    ui->comboType->setCurrentIndex(2);
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(dialog.get(), &change);
    QCOMPARE(QList<int>({ui->comboType->currentIndex(), ui->comboType->count()}), QList({2, 3}));

    QTableWidget* table = ui->tableWidget;
    for (const char* typed : {"192.168.1", ".7", ""}) { // the validator lets "192.168.1" stand
        QTest::keyClicks(ui->leIP, typed);
        ui->btnAdd->click();
    }
    QCOMPARE(ui->leIP->text(), QStringLiteral("192.168.1.7")); // not cleared
    QVERIFY(!dialog->addDevice(" 10.0.0.2") && !dialog->addDevice("10.0.0") && dialog->addDevice("10.0.0.2"));
    ui->btnImport->click(); // cancelled: changes nothing
    QCOMPARE(dialog->deviceList(), (QStringList{"192.168.1.7", "10.0.0.2"}));
    for (int column : {0, 1, 3})
        QCOMPARE(table->item(1, column)->textAlignment(), int(Qt::AlignCenter));
    QCOMPARE(table->item(1, 0)->text() + table->item(1, 1)->text() + dialog->statusText(1), QString("10.0.0.2/"));
    QCOMPARE(table->item(1, 3)->data(257).toInt(), 0);
    QCOMPARE(dialog->progressBar(1)->maximum() - dialog->progressBar(1)->minimum(), 100);

    // Imports: each empties the list first.
    answer = work->file("list.txt");
    QVERIFY(writeFile(answer, " 10.0.0.1 \n10.0.0.2,\n10.0.0.3,x\nname\n10.0.0.1\n"));
    ui->btnImport->click();
    QCOMPARE(dialog->deviceList(), (QStringList{"10.0.0.1", "10.0.0.2"}));
    QCOMPARE(table->rowCount(), 2);
    dialog->importFile(work->file("missing.txt"));
    QVERIFY(dialog->deviceList().isEmpty());
    const QString book = work->file("Devices.XLSX");
    QVERIFY(Xlsx::writeZip(book, Xlsx::book({cell("B2", "str", "IP") + cell("B3", "str", "10.0.0.1") +
                                             cell("B4", "str", "10.0.0.2") + cell("B5", "str", "10.0.0.1") +
                                             cell("B6", "", "5") + cell("B7", "str", "10.0.0.3")})));
    dialog->importFile(book);
    QCOMPARE(dialog->deviceList(), (QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));

    // Deleting the middle row shifts the last one up; no menu below the rows.
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    std::unique_ptr<QMenu> menu(dialog->createContextMenu(table->visualItemRect(table->item(1, 3)).center()));
    QCOMPARE(menu->actions().size() == 1 ? menu->actions().at(0)->text() : QString(), QStringLiteral("Delete"));
    menu->actions().at(0)->trigger();
    QCOMPARE(dialog->deviceList(), (QStringList{"10.0.0.1", "10.0.0.3"}));
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("10.0.0.3"));
    QVERIFY(!dialog->createContextMenu(QPoint(5, table->viewport()->height() - 2)));

    // The report reads the stored number, not the text; it replaces the file.
    dialog->addDevice("10.0.0.4");
    for (int row : {0, 1, 2})
        table->item(row, 3)->setData(257, QList<int>{2, 3, 42}.at(row));
    table->item(1, 3)->setText("Succeeded");
    dialog->setReportTime(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)));
    answer = work->file("report.txt");
    QVERIFY(writeFile(answer, QByteArray(500, 'x')));
    ui->btnExport->click();
    QCOMPARE(readFile(answer), QByteArray("2026-03-04 05:06:07\n\nIP\t\t\t\t\tResult\n"
                                          "================================================\n"
                                          "10.0.0.1\t\tSucceeded\n10.0.0.3\t\tFailed\n10.0.0.4\t\tCode: 42\n"));
    dialog->exportReport(work->file("no/such/folder/r.txt"));
    QCOMPARE(shown(), (QStringList{"[Warning] IP address is invaild!", "[Warning] IP already exists!",
                                   "[Warning] File cannot open!", "[Warning] File cannot open!"}));

    // An unreadable workbook empties the list silently; an empty table leaves an empty report.
    QVERIFY(writeFile(book, "PK\x03\x04 not really a workbook"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not imported"));
    dialog->importFile(book);
    QCOMPARE(table->rowCount(), 0);
    dialog->exportReport(answer);
    QCOMPARE(readFile(answer), QByteArray());

    ui->leFile->setText("/some/where.bin");
    answer = "/chosen/image.bin";
    ui->btnChoose->click();
    answer.clear();
    ui->btnChoose->click();
    QCOMPARE(ui->leFile->text(), QStringLiteral("/chosen/image.bin"));
    const QStringList list{"Choose Device List File", "/", "(*.txt *.csv *.xlsx)", "0"};
    QCOMPARE(requests.mid(0, 4), (QList<QStringList>{list, list, {"Save Batch Programming Result", "/", "(*.txt)", "1"},
                                                     {"Choose Programming File", "/some/where.bin", "(*.bin)", "0"}}));
    QSignalSpy starts(dialog.get(), &BatchProgrammingDialog::taskStart);
    dialog->addDevice("10.0.0.1");
    table->item(0, 3)->setText("Failed");
    ui->leFile->clear();
    ui->btnProgram->click();
    ui->leFile->setText(work->file("missing.bin"));
    ui->btnProgram->click();
    QCOMPARE(dialog->statusText(0), QStringLiteral("Failed"));
    FirmwarePackage::setBaseDir(work->file("app"));
    QVERIFY(writeFile(work->file("damaged.bin"), QByteArray::fromHex("464d0000 01000000 313233343536373839 374c")));
    ui->leFile->setText(work->file("damaged.bin"));
    ui->btnProgram->click();
    QCOMPARE(shown(), QStringList{"[Warning] The programming file is a damaged firmware package!"});

    // Pipes, folders, devices and files past the size limit are not imported, programmed or read.
    const QString fifo = work->file("pipe.xlsx");
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QFile large(work->file("large.xlsx"));
    QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(qint64(64 << 20) + 1));
    for (const QString& path : {fifo, work->path(), QString("/dev/zero"), large.fileName()}) {
        QVERIFY(path == large.fileName() || !DeviceList::readWorkbook(path).ok);
        dialog->addDevice("10.0.0.1");
        ui->leFile->setText(path);
        ui->btnProgram->click();
        dialog->importFile(path);
        QVERIFY(dialog->deviceList().isEmpty());
        const QString why = path == large.fileName() ? "[Warning] The file is larger than 64 MiB!"
                                                     : "[Warning] Only regular files can be opened, not folders, "
                                                       "pipes or devices!";
        QCOMPARE(shown(), (QStringList{why, why}));
    }
    QCOMPARE(starts.count(), 0);

    // "Parallel devices": the number of cores by default, 1 to 64, remembered in the settings file.
    BatchProgrammingDialog first;
    QSpinBox* spin = first.form()->spinJobs;
    QCOMPARE(QList<int>({spin->value(), spin->minimum(), spin->maximum(), int(first.workerList().size())}),
             QList<int>({qBound(1, QThread::idealThreadCount(), 64), 1, 64, spin->value()}));
    spin->setValue(12);
    QCOMPARE(first.threadList().size(), 12);
    QCOMPARE(BatchProgrammingDialog().workerList().size(), 12);
    QSettings("config/settings.ini", QSettings::IniFormat).setValue("Batch/parallelDevices", 500);
    BatchProgrammingDialog third;
    QCOMPARE(third.workerList().size() + third.form()->spinJobs->value(), 128);
    QCOMPARE(dialog->workerList().size() + dialog->form()->spinJobs->value(), 4); // given 2
    QVERIFY(dialog->threadList().at(1)->isRunning() && dialog->workerList().at(1)->thread() == dialog->threadList().at(1));
}

QTEST_MAIN(TestBatchImport)
#include "tst_batchimport.moc"
