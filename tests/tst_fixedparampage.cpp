// The fixed parameters page: read and write against the device simulator,
// the table rules (MAC format and check, incomplete rows, duplicates) and
// the INI files.
#include "pages/fixedparampage.h"
#include "pagetestutil.h"
#include "progtestutil.h"

#include <QCoreApplication>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>

using FixedParamJson::Params;
Q_DECLARE_METATYPE(Params)

namespace {

struct Rig : LinkedPage<FixedParamPage>
{
    Rig() : LinkedPage(&CommTcp::gotFixedParamRespond) {}
    bool start(const QStringList& options = QStringList())
    {
        return LinkedPage::start(QStringList{QStringLiteral("quiet=1")} + options);
    }
    // Clicks a button and returns the text of the box that follows.
    QString click(QPushButton* button, BoxRecorder& boxes)
    {
        QTest::mouseClick(button, Qt::LeftButton);
        return boxes.waitForText();
    }
};

QTableWidget* tableOf(FixedParamPage& page)
{
    return page.form()->tableWidget;
}

// Every row as key and value; a missing cell reads as "<none>".
Params tableRows(FixedParamPage& page)
{
    Params rows;
    QTableWidget* table = tableOf(page);
    for (int row = 0; row < table->rowCount(); ++row) {
        auto text = [&](int column) {
            const QTableWidgetItem* item = table->item(row, column);
            return item ? item->text() : QStringLiteral("<none>");
        };
        rows.append({text(0), text(1)});
    }
    return rows;
}

void setRows(FixedParamPage& page, const Params& rows)
{
    QTableWidget* table = tableOf(page);
    table->setRowCount(0);
    for (const auto& row : rows) {
        page.addFixedParam();
        table->item(table->rowCount() - 1, 0)->setText(row.first);
        table->item(table->rowCount() - 1, 1)->setText(row.second);
    }
}

const QString kQuestion = QStringLiteral(
    "There is item or value is empty! And these will no be set to device!\nDo you want to "
    "continue?");
const Params kResetRows{{"name", ""}, {"devserial", ""}, {"ethaddr", ""}};

} // namespace

class TestFixedParamPage : public BoxCheckedTest
{
    Q_OBJECT
private Q_SLOTS:
    void formResetAndAdd();
    void macAutoFormat();

    void readFromDevice_data();
    void readFromDevice();
    void readMalformed_data();
    void readMalformed();
    void malformedAnswersDirect_data();
    void malformedAnswersDirect();

    void writeToDevice();
    void writeChecks_data();
    void writeChecks();
    void writeQuestionYes();
    void writeRefusedByDevice_data();
    void writeRefusedByDevice();
    void otherCodesIgnored();

    void backupAndLoadRoundTrip();
    void backupMergesIntoExistingFile();
    void backupNothingCancelsAndFailures();
    void loadMissingFileAndForeignValues();
};

void TestFixedParamPage::formResetAndAdd()
{
    FixedParamPage page;
    QTableWidget* table = tableOf(page);
    QCOMPARE(table->rowCount(), 0);
    QCOMPARE(table->columnCount(), 2);
    QCOMPARE(table->horizontalHeader()->sectionResizeMode(1), QHeaderView::Stretch);
    QVERIFY(!table->verticalHeader()->isHidden());

    setRows(page, {{"old", "1"}, {"older", "2"}, {"oldest", "3"}, {"gone", "4"}});
    QTest::mouseClick(page.form()->btnReset, Qt::LeftButton);
    QCOMPARE(tableRows(page), kResetRows);
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 2; ++column)
            QCOMPARE(table->item(row, column)->textAlignment(), int(Qt::AlignCenter));
    QTest::mouseClick(page.form()->btnAdd, Qt::LeftButton);
    QCOMPARE(tableRows(page).size(), 4);
    QCOMPARE(tableRows(page).at(3), (FixedParamJson::Param{"", ""}));
    QCOMPARE(table->item(3, 1)->textAlignment(), int(Qt::AlignCenter));
}

void TestFixedParamPage::macAutoFormat()
{
    FixedParamPage page;
    page.resetFixedParam();
    QTableWidget* table = tableOf(page);
    table->item(2, 1)->setText(QStringLiteral("001a2b3c4d5e"));
    QCOMPARE(table->item(2, 1)->text(), QStringLiteral("00:1a:2b:3c:4d:5e"));
    // Not checked here: twelve x are split too.
    table->item(2, 1)->setText(QStringLiteral("xxxxxxxxxxxx"));
    QCOMPARE(table->item(2, 1)->text(), QStringLiteral("xx:xx:xx:xx:xx:xx"));
    // Other rows are left as typed.
    table->item(1, 1)->setText(QStringLiteral("001a2b3c4d5e"));
    QCOMPARE(table->item(1, 1)->text(), QStringLiteral("001a2b3c4d5e"));
    // Changing the key afterwards does not format the value.
    table->item(1, 0)->setText(QStringLiteral("ethaddr"));
    QCOMPARE(table->item(1, 1)->text(), QStringLiteral("001a2b3c4d5e"));
    // Eleven or thirteen characters stay as they are.
    table->item(2, 1)->setText(QStringLiteral("001a2b3c4d5"));
    QCOMPARE(table->item(2, 1)->text(), QStringLiteral("001a2b3c4d5"));

    // Typed in the cell's editor as well.
    table->setCurrentCell(2, 1);
    table->editItem(table->item(2, 1));
    QLineEdit* editor = table->findChild<QLineEdit*>();
    QVERIFY(editor);
    editor->clear();
    QTest::keyClicks(editor, QStringLiteral("0a1b2c3d4e5f"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(table->item(2, 1)->text(), QStringLiteral("0a:1b:2c:3d:4e:5f"));
}

void TestFixedParamPage::readFromDevice_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<Params>("rows");
    QTest::newRow("the device's parameters, sorted") << ""
                                                     << Params{{"devserial", "FG231100001"},
                                                               {"ethaddr", "00:1E:C0:00:00:01"},
                                                               {"hwver", "B2"},
                                                               {"mfgdate", "2023-11-08"},
                                                               {"name", "FM-GW200"}};
    QTest::newRow("members that are not strings read as empty")
        << "fixed-read=mixed" << Params{{"count", ""},        {"dhcp", ""}, {"gateway", ""},
                                        {"name", "FM-GW200"}, {"net", ""},  {"ports", ""}};
    QTest::newRow("a twelve-digit MAC is formatted")
        << R"(fixed-params={"ethaddr":"001a2b3c4d5e","x":"abcdefabcdef"})"
        << Params{{"ethaddr", "00:1a:2b:3c:4d:5e"}, {"x", "abcdefabcdef"}};
}

void TestFixedParamPage::readFromDevice()
{
    QFETCH(QString, option);
    QFETCH(Params, rows);
    Rig rig;
    QVERIFY(rig.start(option.isEmpty() ? QStringList() : QStringList{option}));
    QTest::mouseClick(rig.page.form()->btnRead, Qt::LeftButton);
    const BoxRecorder::Box box = boxes->waitForBox();
    QCOMPARE(box.summary(), QStringLiteral("[Information] Read data finished!"));
    QCOMPARE(box.parent, static_cast<QWidget*>(&rig.page));
    QCOMPARE(tableRows(rig.page), rows);
    QCOMPARE(tableOf(rig.page)->item(rows.size() - 1, 1)->textAlignment(), int(Qt::AlignCenter));
}

void TestFixedParamPage::readMalformed_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("invalid JSON") << "invalid";
    QTest::newRow("array") << "array";
    QTest::newRow("empty payload") << "empty";
    QTest::newRow("object and a zero byte") << "nul";
}

void TestFixedParamPage::readMalformed()
{
    QFETCH(QString, fault);
    Rig rig;
    QVERIFY(rig.start({QStringLiteral("fixed-read=") + fault}));
    rig.page.resetFixedParam();
    QTest::mouseClick(rig.page.form()->btnRead, Qt::LeftButton);
    const BoxRecorder::Box box = boxes->waitForBox();
    QCOMPARE(box.summary(), QStringLiteral("[Warning] Read data failed!"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.parent, static_cast<QWidget*>(&rig.page));
    QCOMPARE(tableRows(rig.page), kResetRows);

    // The page goes on working: a write still reaches the device.
    setRows(rig.page, {{"name", "GW"}, {"devserial", "S9"}, {"ethaddr", "0a0b0c0d0e0f"}});
    QCOMPARE(rig.click(rig.page.form()->btnWrite, *boxes), QStringLiteral("Operation success!"));
}

void TestFixedParamPage::malformedAnswersDirect_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("blank only") << QByteArray("  \n");
    QTest::newRow("string") << QByteArray("\"ethaddr\"");
    QTest::newRow("truncated utf-8 in a key") << QByteArray("{\"\xe7\xbd\":\"x\"");
    QTest::newRow("object then garbage") << QByteArray("{\"a\":\"b\"}x");
    QTest::newRow("unquoted key") << QByteArray("{a:\"b\"}");
    QTest::newRow("trailing comma") << QByteArray("{\"a\":\"b\",}");
    QTest::newRow("binary") << QByteArray::fromHex("68000200067000ff");
}

void TestFixedParamPage::malformedAnswersDirect()
{
    QFETCH(QByteArray, payload);
    FixedParamPage page;
    setRows(page, {{"keep", "me"}});
    respond(page, 0x000E, payload);
    QCOMPARE(boxes->takeText(), QStringLiteral("Read data failed!"));
    QCOMPARE(tableRows(page), (Params{{"keep", "me"}}));
    // The null pointer the link never sends, but an empty answer may come so.
    page.handleReadFixed(nullptr, 0);
    QCOMPARE(boxes->takeText(), QStringLiteral("Read data failed!"));
    QCOMPARE(tableRows(page), (Params{{"keep", "me"}}));
}

void TestFixedParamPage::writeToDevice()
{
    Rig rig;
    QVERIFY(rig.start());
    rig.page.resetFixedParam();
    QTableWidget* table = tableOf(rig.page);
    table->item(0, 1)->setText(QStringLiteral("Pump station 7"));
    table->item(1, 1)->setText(QStringLiteral("FG2311-0815"));
    table->item(2, 1)->setText(QStringLiteral("0a1B2c3D4e5F"));
    QTest::mouseClick(rig.page.form()->btnWrite, Qt::LeftButton);
    const BoxRecorder::Box box = boxes->waitForBox();
    QCOMPARE(box.summary(), QStringLiteral("[Information] Operation success!"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QVERIFY(rig.sim.log().contains(QStringLiteral(
        R"(fixed parameters set: {"devserial":"FG2311-0815","ethaddr":"0a:1B:2c:3D:4e:5F","name":"Pump station 7"})")));

    QCOMPARE(rig.click(rig.page.form()->btnRead, *boxes), QStringLiteral("Read data finished!"));
    QCOMPARE(tableRows(rig.page), (Params{{"devserial", "FG2311-0815"},
                                          {"ethaddr", "0a:1B:2c:3D:4e:5F"},
                                          {"hwver", "B2"},
                                          {"mfgdate", "2023-11-08"},
                                          {"name", "Pump station 7"}}));
}

void TestFixedParamPage::writeChecks_data()
{
    QTest::addColumn<Params>("rows");
    QTest::addColumn<QString>("box");     // empty: none
    QTest::addColumn<QByteArray>("sent"); // empty: nothing sent
    QTest::newRow("no rows: nothing at all") << Params{} << "" << QByteArray();
    QTest::newRow("bad MAC") << Params{{"name", "GW"}, {"ethaddr", "xx:xx:xx:xx:xx:xx"}}
                             << "Invaild settings!" << QByteArray();
    QTest::newRow("MAC of five groups")
        << Params{{"ethaddr", "00:11:22:33:44"}} << "Invaild settings!" << QByteArray();
    QTest::newRow("empty ethaddr: invalid, no question")
        << Params{{"name", "GW"}, {"devserial", "S"}, {"ethaddr", ""}} << "Invaild settings!"
        << QByteArray();
    QTest::newRow("no complete row")
        << Params{{"name", ""}, {"", "orphan"}} << "Invaild settings!" << QByteArray();
    QTest::newRow("no ethaddr row: no MAC check")
        << Params{{"name", "GW"}, {"mac", "zz"}} << "" << QByteArray(R"({"mac":"zz","name":"GW"})");
    QTest::newRow("upper-case MAC") << Params{{"ethaddr", "AA:BB:CC:DD:EE:FF"}} << ""
                                    << QByteArray(R"({"ethaddr":"AA:BB:CC:DD:EE:FF"})");
    QTest::newRow("duplicate keys: the lower row wins")
        << Params{{"name", "first"}, {"b", "x"}, {"name", "second"}} << ""
        << QByteArray(R"({"b":"x","name":"second"})");
    QTest::newRow("incomplete rows: question, No sends nothing")
        << Params{{"name", "GW"}, {"devserial", ""}} << kQuestion << QByteArray();
    QTest::newRow("unicode") << Params{{"name", QString::fromUtf8("\xe6\xb3\xb5\xe7\xab\x99")}}
                             << "" << QByteArray("{\"name\":\"\xe6\xb3\xb5\xe7\xab\x99\"}");
}

void TestFixedParamPage::writeChecks()
{
    QFETCH(Params, rows);
    QFETCH(QString, box);
    QFETCH(QByteArray, sent);
    FixedParamPage page;
    setRows(page, rows);
    QSignalSpy spy(&page, &FixedParamPage::sendCmd);
    if (box == kQuestion)
        boxes->answerNext(MsgBox::Answer::No);
    QTest::mouseClick(page.form()->btnWrite, Qt::LeftButton);
    if (!box.isEmpty()) {
        const BoxRecorder::Box shown = boxes->take();
        QCOMPARE(shown.summary(), QStringLiteral("[Warning] ") + box);
        QCOMPARE(shown.icon, QMessageBox::Warning);
        QCOMPARE(shown.parent, static_cast<QWidget*>(&page));
        QCOMPARE(shown.buttons,
                 box == kQuestion ? (QStringList{"Yes", "No"}) : QStringList{MsgBox::sureText()});
    }
    QCOMPARE(spy.count(), sent.isEmpty() ? 0 : 1);
    if (!sent.isEmpty()) {
        QCOMPARE(spy.at(0).at(0).toInt(), 0x000F);
        QCOMPARE(spy.at(0).at(1).toByteArray(), sent);
    }
    // The table is never changed by a write.
    QCOMPARE(tableRows(page), rows);
}

void TestFixedParamPage::writeQuestionYes()
{
    Rig rig;
    QVERIFY(rig.start());
    setRows(rig.page, {{"name", "GW"}, {"", "lost"}, {"devserial", ""}, {"hwver", "C1"}});
    boxes->answerNext(MsgBox::Answer::Yes);
    QTest::mouseClick(rig.page.form()->btnWrite, Qt::LeftButton);
    QCOMPARE(boxes->takeText(), kQuestion);
    QCOMPARE(boxes->waitForText(), QStringLiteral("Operation success!"));
    QVERIFY(rig.sim.log().contains(
        QStringLiteral(R"(fixed parameters set: {"hwver":"C1","name":"GW"})")));
}

void TestFixedParamPage::writeRefusedByDevice_data()
{
    QTest::addColumn<QString>("option");
    QTest::newRow("result 0") << "fixed-write-result=0";
    QTest::newRow("no result byte") << "fixed-write-empty=1";
}

void TestFixedParamPage::writeRefusedByDevice()
{
    QFETCH(QString, option);
    Rig rig;
    QVERIFY(rig.start({option}));
    setRows(rig.page, {{"name", "GW"}});
    QTest::mouseClick(rig.page.form()->btnWrite, Qt::LeftButton);
    const BoxRecorder::Box box = boxes->waitForBox();
    QCOMPARE(box.summary(), QStringLiteral("[Warning] Operation failed!"));
    QCOMPARE(box.parent, static_cast<QWidget*>(nullptr));

    // Still working: a read fills the table.
    QCOMPARE(rig.click(rig.page.form()->btnRead, *boxes), QStringLiteral("Read data finished!"));
    QCOMPARE(tableRows(rig.page).size(), 5);
}

void TestFixedParamPage::otherCodesIgnored()
{
    FixedParamPage page;
    setRows(page, {{"a", "b"}});
    QSignalSpy spy(&page, &FixedParamPage::sendCmd);
    for (int cmd : {0x0003, 0x0006, 0x0010, 0x0011, 0x0013, 0x010E})
        respond(page, cmd, R"({"x":"y"})");
    QCOMPARE(tableRows(page), (Params{{"a", "b"}}));
    QCOMPARE(boxes->count(), 0);
    QCOMPARE(spy.count(), 0);
    // A write result of more than one byte is read by its first byte.
    respond(page, 0x000F, QByteArray::fromHex("0201"));
    QCOMPARE(boxes->takeText(), QStringLiteral("Operation success!"));
    respond(page, 0x000F, QByteArray::fromHex("0001"));
    QCOMPARE(boxes->takeText(), QStringLiteral("Operation failed!"));
}

void TestFixedParamPage::backupAndLoadRoundTrip()
{
    TempWorkDir dir;
    FileAnswer files(dir.file(QStringLiteral("device7.ini")));
    FixedParamPage page;
    const QString place = QString::fromUtf8("\xe4\xbd\x8d\xe7\xbd\xae");
    const QString gate = QString::fromUtf8("\xe4\xb8\x9c\xe9\x97\xa8 = \"3\"");
    setRows(page, {{"name", "Pump station 7, east"},
                   {"devserial", "FG2311-0815"},
                   {"ethaddr", "00:1A:2B:3C:4D:5E"},
                   {place, gate},
                   {"skipped", ""},
                   {"", "skipped too"}});
    QTest::mouseClick(page.form()->btnBackup, Qt::LeftButton);
    QCOMPARE(files.requests.size(), 1);
    QCOMPARE(files.request(0), "Save|Save fixed parameter file|(*.ini)|" + appDir());
    QCOMPARE(boxes->take().summary(),
             QStringLiteral("[Information] Save fixed parameter success!"));

    const QByteArray text = ProgTest::readFile(files.path);
    QVERIFY2(text.startsWith("[fixed_param]"), text.constData());
    QVERIFY(text.contains("devserial=FG2311-0815"));
    QVERIFY(!text.contains("skipped"));

    FixedParamPage other;
    setRows(other, {{"replaced", "by load"}});
    QTest::mouseClick(other.form()->btnLoad, Qt::LeftButton);
    QCOMPARE(files.requests.size(), 2);
    QCOMPARE(files.request(1), "Open|Choose fixed parameter file|(*.ini)|" + appDir());
    QCOMPARE(boxes->takeText(), QStringLiteral("Load fixed parameter success!"));
    // Keys come back in the order the settings store lists them (sorted).
    QCOMPARE(tableRows(other), (Params{{"devserial", "FG2311-0815"},
                                       {"ethaddr", "00:1A:2B:3C:4D:5E"},
                                       {"name", "Pump station 7, east"},
                                       {place, gate}}));
    QCOMPARE(tableOf(other)->item(0, 0)->textAlignment(), int(Qt::AlignCenter));
}

void TestFixedParamPage::backupMergesIntoExistingFile()
{
    TempWorkDir dir;
    FileAnswer files(dir.file(QStringLiteral("merge.ini")));
    QVERIFY(ProgTest::writeFile(
        files.path, "[General]\nlanguage=zh\n\n[fixed_param]\nname=old name\nextra=kept\n\n"
                    "[other]\nkey=value\n"));
    FixedParamPage page;
    setRows(page, {{"name", "new name"}, {"devserial", "S2"}});
    page.backupFixedParam();
    QCOMPARE(boxes->takeText(), QStringLiteral("Save fixed parameter success!"));

    QSettings check(files.path, QSettings::IniFormat);
    QCOMPARE(check.value(QStringLiteral("language")).toString(), QStringLiteral("zh"));
    QCOMPARE(check.value(QStringLiteral("other/key")).toString(), QStringLiteral("value"));
    QCOMPARE(check.value(QStringLiteral("fixed_param/extra")).toString(), QStringLiteral("kept"));
    QCOMPARE(check.value(QStringLiteral("fixed_param/name")).toString(),
             QStringLiteral("new name"));

    page.loadFixedParam();
    QCOMPARE(boxes->takeText(), QStringLiteral("Load fixed parameter success!"));
    QCOMPARE(tableRows(page),
             (Params{{"devserial", "S2"}, {"extra", "kept"}, {"name", "new name"}}));
}

void TestFixedParamPage::backupNothingCancelsAndFailures()
{
    TempWorkDir dir;
    FileAnswer files;
    FixedParamPage page;
    QTest::mouseClick(page.form()->btnBackup, Qt::LeftButton);
    QCOMPARE(boxes->take().summary(), QStringLiteral("[Information] No content to backup!"));
    QCOMPARE(files.requests.size(), 0);

    // Cancel on either dialog does nothing.
    setRows(page, {{"a", "b"}});
    page.backupFixedParam();
    page.loadFixedParam();
    QCOMPARE(files.requests.size(), 2);
    QCOMPARE(boxes->count(), 0);
    QCOMPARE(tableRows(page), (Params{{"a", "b"}}));

    // A file that cannot be written is reported.
    QVERIFY(ProgTest::writeFile(dir.file(QStringLiteral("plain.txt")), "not a folder"));
    files.path = dir.file(QStringLiteral("plain.txt/params.ini"));
    page.backupFixedParam();
    QCOMPARE(boxes->take().summary(), QStringLiteral("[Warning] Save fixed parameter failed!"));
    QCOMPARE(tableRows(page), (Params{{"a", "b"}}));
}

void TestFixedParamPage::loadMissingFileAndForeignValues()
{
    TempWorkDir dir;
    FileAnswer files(dir.file(QStringLiteral("missing.ini")));
    FixedParamPage page;
    setRows(page, {{"a", "b"}});
    page.loadFixedParam();
    QCOMPARE(boxes->takeText(), QStringLiteral("Load fixed parameter success!"));
    QCOMPARE(tableOf(page)->rowCount(), 0);

    // A file written by hand: an unquoted list, a file without the group.
    files.path = dir.file(QStringLiteral("hand.ini"));
    QVERIFY(
        ProgTest::writeFile(files.path, "[fixed_param]\nname=GW, east\nethaddr=001a2b3c4d5e\n"));
    page.loadFixedParam();
    QCOMPARE(boxes->takeText(), QStringLiteral("Load fixed parameter success!"));
    QCOMPARE(tableRows(page), (Params{{"ethaddr", "00:1a:2b:3c:4d:5e"}, {"name", "GW, east"}}));

    files.path = dir.file(QStringLiteral("nogroup.ini"));
    QVERIFY(ProgTest::writeFile(files.path, "[General]\nname=GW\n"));
    page.loadFixedParam();
    QCOMPARE(boxes->takeText(), QStringLiteral("Load fixed parameter success!"));
    QCOMPARE(tableOf(page)->rowCount(), 0);
}

QTEST_MAIN(TestFixedParamPage)
#include "tst_fixedparampage.moc"
