// The settings page against the device simulator over loopback: the device
// date, the four service ports and the "Writing data..." box.
#include "mainwindow/mainwindow.h"
#include "pages/fixedparampage.h"
#include "pages/settingspage.h"
#include "pagetestutil.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QValidator>

namespace {

void setPorts(const SettingsPage& page, const QStringList& ports)
{
    for (int row = 0; row < 4; ++row)
        page.form()->lePort[row]->setText(ports.value(row));
}

QStringList ports(const SettingsPage& page)
{
    QStringList texts;
    for (int row = 0; row < 4; ++row)
        texts << page.form()->lePort[row]->text();
    return texts;
}

QList<bool> checks(const SettingsPage& page)
{
    QList<bool> states;
    for (int row = 0; row < 4; ++row)
        states << page.form()->checkBoxPort[row]->isChecked();
    return states;
}

QList<bool> fieldsEnabled(const SettingsPage& page)
{
    QList<bool> states;
    for (int row = 0; row < 4; ++row)
        states << page.form()->lePort[row]->isEnabled();
    return states;
}

struct Rig : LinkedPage<SettingsPage>
{
    Rig() : LinkedPage(&CommTcp::gotSettingsRespond) {}
    bool start(const QStringList& options = QStringList())
    {
        return LinkedPage::start(QStringList{QStringLiteral("quiet=1")} + options);
    }
    UI_SettingPage* ui() const { return page.form(); }
};

const QStringList kPorts{"22", "23", "80", "443"};

int openMessageBoxes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += qobject_cast<QMessageBox*>(w) ? 1 : 0;
    return n;
}

} // namespace

class TestSettingsPage : public BoxCheckedTest
{
    Q_OBJECT
protected Q_SLOTS:
    void cleanup()
    {
        BoxCheckedTest::cleanup();
        QCOMPARE(openMessageBoxes(), 0); // no box left behind
    }

private Q_SLOTS:
    void formAndInput();
    void languageChangeReappliesTexts();

    void dateFromDeviceAndSync();
    void dateAnswers_data();
    void dateAnswers();
    void answersOfWrongSize_data();
    void answersOfWrongSize();

    void readPortsFromDevice();
    void writePortsAtTheEdges();
    void writeBytesOnTheWire();
    void writeRefused_data();
    void writeRefused();
    void writeResultFailures_data();
    void writeResultFailures();
    void writeWhileNotConnected();
    void ignoredCodes();

    void progressBoxClosedInsideItsModalRun();
    void unansweredWrites();
    void pageDestroyedWhileBoxRuns();
    void boxDestroyedElsewhereWhileItRuns();
    void wiredByTheMainWindow();
};

void TestSettingsPage::formAndInput()
{
    SettingsPage page;
    UI_SettingPage* ui = page.form();
    QVERIFY(ui->leDate->text().isEmpty());
    QTableWidget* table = ui->tableWidgetPort;
    QCOMPARE(table->rowCount(), 4);
    QCOMPARE(table->columnCount(), 3);
    // The rows in the order of the device's record (see writePortsAtTheEdges).
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(table->item(row, 0)->text(),
                 (QStringList{"SSH", "Telnet", "HTTP", "HTTPS"}.at(row)));
        QVERIFY(!(table->item(row, 0)->flags() & Qt::ItemIsEditable));
        QVERIFY(ui->lePort[row]->text().isEmpty());
    }
    QCOMPARE(checks(page), (QList<bool>{true, true, true, true}));
    QCOMPARE(fieldsEnabled(page), (QList<bool>{true, true, true, true}));
    QVERIFY(!page.progressBox());

    auto dateState = [&](QString text) {
        int pos = 0;
        return ui->leDate->validator()->validate(text, pos);
    };
    QCOMPARE(dateState(QStringLiteral("2024-03-03 14:05:09")), QValidator::Acceptable);
    QCOMPARE(dateState(QStringLiteral("2024-13-03 14:05:09")), QValidator::Invalid);
    QCOMPARE(dateState(QStringLiteral("1999-03-03 14:05:09")), QValidator::Invalid);
    QCOMPARE(dateState(QStringLiteral("2024-03-03T14:05:09")), QValidator::Invalid);

    // 65535 cannot be typed; 0 can, and is refused by "Write".
    QLineEdit* port = ui->lePort[0];
    for (const auto& typed : {qMakePair(QStringLiteral("65535"), QStringLiteral("6553")),
                              qMakePair(QStringLiteral("65534"), QStringLiteral("65534")),
                              qMakePair(QStringLiteral("0"), QStringLiteral("0")),
                              qMakePair(QStringLiteral("8a0"), QStringLiteral("80"))}) {
        port->clear();
        QTest::keyClicks(port, typed.first);
        QCOMPARE(port->text(), typed.second);
    }

    // A check box enables its field and keeps its value.
    ui->lePort[2]->setText(QStringLiteral("8080"));
    ui->checkBoxPort[2]->setChecked(false);
    QCOMPARE(fieldsEnabled(page), (QList<bool>{true, true, false, true}));
    QTest::mouseClick(ui->checkBoxPort[2], Qt::LeftButton);
    QVERIFY(ui->checkBoxPort[2]->isChecked());
    QVERIFY(ui->lePort[2]->isEnabled());
    QCOMPARE(ui->lePort[2]->text(), QStringLiteral("8080"));
}

void TestSettingsPage::languageChangeReappliesTexts()
{
    SettingsPage page;
    UI_SettingPage* ui = page.form();
    ui->leDate->setText(QStringLiteral("2024-03-03 14:05:09"));
    ui->lePort[3]->setText(QStringLiteral("443"));
    ui->checkBoxPort[1]->setChecked(false);

    MarkingTranslator translator("SettingsPage");
    QCoreApplication::installTranslator(&translator);
    QTRY_COMPARE(ui->btnSyncDate->text(), QStringLiteral("<Sync date>"));
    QCOMPARE(ui->groupBoxPort->title(), QStringLiteral("<Port settings>"));
    QCOMPARE(ui->tableWidgetPort->horizontalHeaderItem(2)->text(), QStringLiteral("<Port>"));
    QCOMPARE(ui->tableWidgetPort->item(1, 0)->text(), QStringLiteral("<Telnet>"));
    QCOMPARE(ui->lePort[0]->placeholderText(), QStringLiteral("<1~65534>"));
    // Values stay.
    QCOMPARE(ui->leDate->text(), QStringLiteral("2024-03-03 14:05:09"));
    QCOMPARE(ui->lePort[3]->text(), QStringLiteral("443"));
    QVERIFY(!ui->checkBoxPort[1]->isChecked());

    QCoreApplication::removeTranslator(&translator);
    QTRY_COMPARE(ui->btnSyncDate->text(), QStringLiteral("Sync date"));
    QCOMPARE(ui->tableWidgetPort->item(1, 0)->text(), QStringLiteral("Telnet"));
}

void TestSettingsPage::dateFromDeviceAndSync()
{
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    Rig rig;
    QVERIFY(rig.start({QStringLiteral("clock=2001-02-03 04:05:06")}));
    QTest::mouseClick(rig.ui()->btnDeviceDate, Qt::LeftButton);
    QVERIFY(waitFor([&] { return !rig.ui()->leDate->text().isEmpty(); }));
    // The device clock runs on from its start time.
    QVERIFY2(rig.ui()->leDate->text().startsWith(QStringLiteral("2001-02-03 04:0")),
             qPrintable(rig.ui()->leDate->text()));
    QCOMPARE(rig.ui()->leDate->text().size(), 19);

    // The date field is only a display: what it holds is not sent.
    rig.ui()->leDate->setText(QStringLiteral("2030-12-24 18:00:00"));
    const QDateTime before =
        QDateTime::fromString(QDateTime::currentDateTime().toString(format), format);
    QTest::mouseClick(rig.ui()->btnSyncDate, Qt::LeftButton);
    QVERIFY(rig.sim.waitForLog(QStringLiteral("clock set to ")));
    const QDateTime after = QDateTime::currentDateTime();
    // The link shows the set-date answer itself.
    QCOMPARE(boxes->waitForBox().summary(),
             QStringLiteral("[Information] Set device's date success!"));
    const QString log = rig.sim.log();
    const int at = log.indexOf(QStringLiteral("clock set to ")) + 13;
    const QDateTime sent = QDateTime::fromString(log.mid(at, 19), format);
    QVERIFY2(sent.isValid(), qPrintable(log.mid(at, 19)));
    QVERIFY(sent >= before);
    QVERIFY(sent <= after);

    QTest::mouseClick(rig.ui()->btnDeviceDate, Qt::LeftButton);
    QVERIFY(waitFor([&] { return !rig.ui()->leDate->text().startsWith(QStringLiteral("2030")); }));
    QVERIFY(rig.ui()->leDate->text().startsWith(before.toString(QStringLiteral("yyyy-MM-dd"))) ||
            rig.ui()->leDate->text().startsWith(after.toString(QStringLiteral("yyyy-MM-dd"))));
}

void TestSettingsPage::dateAnswers_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("shown"); // empty: refused
    QTest::newRow("19 bytes") << QByteArray("2024-03-03 14:05:09") << "2024-03-03 14:05:09";
    QTest::newRow("19 bytes, not a date, shown as it is")
        << QByteArray("device clock unset!") << "device clock unset!";
    QTest::newRow("zero byte ends the text")
        << QByteArray("2024-03-03\0 14:05:0", 19) << "2024-03-03";
    QTest::newRow("utf-8") << QByteArray("\xe6\x97\xa5\xe6\x9c\x9f 2024-03-03 1")
                           << QString::fromUtf8("\xe6\x97\xa5\xe6\x9c\x9f 2024-03-03 1");
    QTest::newRow("20 bytes beginning with a date") << QByteArray("2024-03-03 14:05:09Z") << "";
    QTest::newRow("18 bytes") << QByteArray("2024-03-03 14:05:0") << "";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("one byte") << QByteArray("2") << "";
}

void TestSettingsPage::dateAnswers()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, shown);
    SettingsPage page;
    page.form()->leDate->setText(QStringLiteral("old"));
    respond(page, 0x0006, payload);
    if (shown.isEmpty()) {
        QCOMPARE(boxes->takeText(), QStringLiteral("Read date failed!"));
        QCOMPARE(page.form()->leDate->text(), QStringLiteral("old"));
    } else {
        QCOMPARE(page.form()->leDate->text(), shown);
    }
}

void TestSettingsPage::answersOfWrongSize_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<bool>("date");
    QTest::newRow("date of 20 bytes") << "date-wrong-size=1" << true;
    QTest::newRow("ports: empty") << "ports-read-size=0" << false;
    QTest::newRow("ports: 11 bytes") << "ports-read-size=11" << false;
    QTest::newRow("ports: 13 bytes") << "ports-read-size=13" << false;
}

// Refused with a tip; the page keeps its values and goes on working.
void TestSettingsPage::answersOfWrongSize()
{
    QFETCH(QString, option);
    QFETCH(bool, date);
    Rig rig;
    QVERIFY(rig.start({option}));
    rig.ui()->leDate->setText(QStringLiteral("2020-01-01 00:00:00"));
    setPorts(rig.page, {"1", "2", "3", "4"});
    rig.ui()->checkBoxPort[3]->setChecked(false);
    QTest::mouseClick(date ? rig.ui()->btnDeviceDate : rig.ui()->btnRead, Qt::LeftButton);
    const BoxRecorder::Box box = boxes->waitForBox();
    QCOMPARE(box.summary(), date ? QStringLiteral("[Tip] Read date failed!")
                                 : QStringLiteral("[Tip] Read data failed!"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, QStringList{MsgBox::sureText()});
    QCOMPARE(rig.ui()->leDate->text(), QStringLiteral("2020-01-01 00:00:00"));
    QCOMPARE(ports(rig.page), (QStringList{"1", "2", "3", "4"}));
    QCOMPARE(checks(rig.page), (QList<bool>{true, true, true, false}));

    QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);
    QCOMPARE(boxes->takeText(), QStringLiteral("Writing data..."));
    QCOMPARE(boxes->waitForText(), QStringLiteral("Operation success!"));
}

void TestSettingsPage::readPortsFromDevice()
{
    Rig rig;
    QVERIFY(rig.start({QStringLiteral("ports=0:2222,5:23,1:8080,1:443")}));
    QTest::mouseClick(rig.ui()->btnRead, Qt::LeftButton);
    const BoxRecorder::Box box = boxes->waitForBox();
    QCOMPARE(box.summary(), QStringLiteral("[Information] Read data finished!"));
    QCOMPARE(box.parent, static_cast<QWidget*>(&rig.page));
    QCOMPARE(ports(rig.page), (QStringList{"2222", "23", "8080", "443"}));
    QCOMPARE(checks(rig.page), (QList<bool>{false, true, true, true}));
    QCOMPARE(fieldsEnabled(rig.page), (QList<bool>{false, true, true, true}));
}

void TestSettingsPage::writePortsAtTheEdges()
{
    Rig rig;
    QVERIFY(rig.start());
    setPorts(rig.page, {"1", "65534", "8080", "443"});
    rig.ui()->checkBoxPort[2]->setChecked(false);
    QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);

    const BoxRecorder::Box progress = boxes->take();
    QCOMPARE(progress.summary(), QStringLiteral("[Information] Writing data..."));
    QCOMPARE(progress.icon, QMessageBox::Information);
    QCOMPARE(progress.buttons.size(), 1);
    QPointer<QMessageBox> pending = rig.page.progressBox();
    QVERIFY(pending);
    QCOMPARE(pending->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(pending->windowModality(), Qt::ApplicationModal);
    QVERIFY(!pending->parentWidget());

    const BoxRecorder::Box result = boxes->waitForBox();
    QCOMPARE(result.summary(), QStringLiteral("[Information] Operation success!"));
    QCOMPARE(result.icon, QMessageBox::Warning);
    QVERIFY(!rig.page.progressBox());
    QVERIFY(waitFor([&] { return pending.isNull(); }));
    QVERIFY(rig.sim.log().contains(
        QStringLiteral("ports set to ssh=1 telnet=65534 http=8080(off) https=443")));

    // Read back what the device keeps.
    setPorts(rig.page, {});
    QTest::mouseClick(rig.ui()->btnRead, Qt::LeftButton);
    QCOMPARE(boxes->waitForText(), QStringLiteral("Read data finished!"));
    QCOMPARE(ports(rig.page), (QStringList{"1", "65534", "8080", "443"}));
    QCOMPARE(checks(rig.page), (QList<bool>{true, true, false, true}));
    QCOMPARE(fieldsEnabled(rig.page), (QList<bool>{true, true, false, true}));
}

void TestSettingsPage::writeBytesOnTheWire()
{
    FakeDevice device;
    Rig rig;
    QVERIFY(rig.connectTo(device));
    for (int row = 0; row < 4; ++row)
        rig.ui()->checkBoxPort[row]->setChecked(false);
    setPorts(rig.page, {"22", "65534", "256", "1"});
    QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);
    QCOMPARE(boxes->takeText(), QStringLiteral("Writing data..."));
    const QByteArray expected =
        CommandFrame::encode(0x0011, QByteArray::fromHex("000016 00fffe 000100 000001"));
    QVERIFY(device.waitForReceived(expected.size()));
    QCOMPARE(device.received().toHex(), expected.toHex());

    // A result with more bytes than the result byte is read by its first byte.
    device.write(CommandFrame::encode(0x0011, QByteArray::fromHex("01ff")));
    QCOMPARE(boxes->waitForText(), QStringLiteral("Operation success!"));

    device.clearReceived();
    QTest::mouseClick(rig.ui()->btnDeviceDate, Qt::LeftButton);
    QTest::mouseClick(rig.ui()->btnRead, Qt::LeftButton);
    const QByteArray reads =
        CommandFrame::encode(0x0006, QByteArray()) + CommandFrame::encode(0x0010, QByteArray());
    QVERIFY(device.waitForReceived(reads.size()));
    QCOMPARE(device.received().toHex(), reads.toHex());
}

void TestSettingsPage::writeRefused_data()
{
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<int>("uncheckedRow"); // -1: all checked
    QTest::newRow("zero") << QStringList{"0", "23", "80", "443"} << -1;
    QTest::newRow("65535") << QStringList{"22", "65535", "80", "443"} << -1;
    QTest::newRow("empty") << QStringList{"22", "23", "", "443"} << -1;
    QTest::newRow("not a number") << QStringList{"22", "23", "80", "https"} << -1;
    QTest::newRow("disabled row still checked") << QStringList{"22", "", "80", "443"} << 1;
    QTest::newRow("disabled row out of range") << QStringList{"22", "23", "80", "70000"} << 3;
}

void TestSettingsPage::writeRefused()
{
    QFETCH(QStringList, ports);
    QFETCH(int, uncheckedRow);
    SettingsPage page;
    QSignalSpy sent(&page, &SettingsPage::sendCmd);
    setPorts(page, ports);
    if (uncheckedRow >= 0)
        page.form()->checkBoxPort[uncheckedRow]->setChecked(false);
    QTest::mouseClick(page.form()->btnWrite, Qt::LeftButton);
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.summary(), QStringLiteral("[Warning] Port settings error!"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(sent.count(), 0);
    QVERIFY(!page.progressBox());
}

void TestSettingsPage::writeResultFailures_data()
{
    QTest::addColumn<QString>("option");
    QTest::newRow("result 0") << "ports-write-result=0";
    QTest::newRow("no result byte") << "ports-write-empty=1";
}

void TestSettingsPage::writeResultFailures()
{
    QFETCH(QString, option);
    Rig rig;
    QVERIFY(rig.start({option}));
    setPorts(rig.page, kPorts);
    QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);
    QCOMPARE(boxes->takeText(), QStringLiteral("Writing data..."));
    QPointer<QMessageBox> pending = rig.page.progressBox();
    const BoxRecorder::Box box = boxes->waitForBox();
    QCOMPARE(box.summary(), QStringLiteral("[Warning] Operation failed!"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QVERIFY(!rig.page.progressBox());
    QVERIFY(waitFor([&] { return pending.isNull(); }));

    // And again: each answer ends in its box, nothing is left pending.
    QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);
    QCOMPARE(boxes->takeText(), QStringLiteral("Writing data..."));
    QCOMPARE(boxes->waitForText(), QStringLiteral("Operation failed!"));
    QVERIFY(!rig.page.progressBox());
}

void TestSettingsPage::writeWhileNotConnected()
{
    Rig rig;
    setPorts(rig.page, kPorts);
    QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);
    // The link says so, and the progress box still opens.
    QCOMPARE(boxes->takeText(), QStringLiteral("Device not connected!"));
    QCOMPARE(boxes->takeText(), QStringLiteral("Writing data..."));
    QVERIFY(rig.page.progressBox());
}

void TestSettingsPage::ignoredCodes()
{
    SettingsPage page;
    QSignalSpy sent(&page, &SettingsPage::sendCmd);
    page.form()->leDate->setText(QStringLiteral("keep"));
    page.form()->lePort[0]->setText(QStringLiteral("22"));
    for (int cmd : {0x0003, 0x0007, 0x000E, 0x0012}) {
        respond(page, cmd, "2024-03-03 14:05:09");
        respond(page, cmd, QByteArray::fromHex("000016000017000050 0001bb"));
        page.handleRespond(cmd, nullptr, 0);
    }
    QCOMPARE(page.form()->leDate->text(), QStringLiteral("keep"));
    QCOMPARE(page.form()->lePort[0]->text(), QStringLiteral("22"));
    QVERIFY(page.form()->checkBoxPort[0]->isChecked());
    QCOMPARE(boxes->count(), 0);
    QCOMPARE(sent.count(), 0);
}

// The real modal run of the progress box: the write answer arrives inside
// it, closes the box and ends the run.
void TestSettingsPage::progressBoxClosedInsideItsModalRun()
{
    Rig rig;
    QVERIFY(rig.start({QStringLiteral("reply-delay-ms=50")}));
    setPorts(rig.page, kPorts);

    QPointer<QMessageBox> runBox;
    bool runEnded = false;
    bool aliveAfterResultRun = false;
    {
        BoxHook hook([&](const MsgBox::Request& request, const MsgBox::Interceptor& next) {
            if (request.text == QLatin1String("Operation success!")) {
                // The result box runs for real as well, inside the progress
                // box's run: events, deferred deletions included, are handled
                // there while the progress box's run is still on the stack.
                QTimer::singleShot(50, request.box,
                                   [b = request.box] { b->done(QDialog::Accepted); });
                request.box->exec();
                aliveAfterResultRun = !runBox.isNull();
                return next(request);
            }
            if (request.text != QLatin1String("Writing data..."))
                return next(request);
            runBox = request.box;
            // Should the answer never come, the box is closed after a while so
            // the test fails instead of hanging.
            QTimer::singleShot(10000, request.box,
                               [b = request.box] { b->done(QDialog::Rejected); });
            request.box->exec();
            runEnded = true;
            return MsgBox::Answer::Closed;
        });
        QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);
    }
    QVERIFY(runEnded);
    QVERIFY(aliveAfterResultRun);
    // The result box was shown from inside the run, after the box closed.
    QCOMPARE(boxes->takeText(), QStringLiteral("Operation success!"));
    QVERIFY(!rig.page.progressBox());
    QVERIFY(waitFor([&] { return runBox.isNull(); }));
}

// The device takes the ports but never answers: each write leaves its box
// pending, a second write replaces the first one's, a late answer ends it.
void TestSettingsPage::unansweredWrites()
{
    Rig rig;
    QVERIFY(rig.start({QStringLiteral("ports-write-silent=1")}));
    setPorts(rig.page, kPorts);
    QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);
    QPointer<QMessageBox> first = rig.page.progressBox();
    QVERIFY(rig.sim.waitForLog(QStringLiteral("ports set to")));
    boxes->answerNext(MsgBox::Answer::Ok); // hidden by its OK button
    QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);
    QPointer<QMessageBox> second = rig.page.progressBox();
    QCOMPARE(boxes->takeText(), QStringLiteral("Writing data..."));
    QCOMPARE(boxes->takeText(), QStringLiteral("Writing data..."));
    QVERIFY(first);
    QVERIFY(second);
    QVERIFY(first != second);
    QVERIFY(waitFor([&] { return first.isNull(); }));
    QCOMPARE(openMessageBoxes(), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(second);
    QVERIFY(!second->isVisible());

    respond(rig.page, 0x0011, QByteArray(1, '\1'));
    QCOMPARE(boxes->takeText(), QStringLiteral("Operation success!"));
    QVERIFY(!rig.page.progressBox());
    QVERIFY(waitFor([&] { return second.isNull(); }));
    QCOMPARE(openMessageBoxes(), 0);

    // An answer with no write pending shows its result all the same.
    rig.page.handleRespond(0x0011, nullptr, 0);
    QCOMPARE(boxes->takeText(), QStringLiteral("Operation failed!"));
}

void TestSettingsPage::pageDestroyedWhileBoxRuns()
{
    auto* page = new SettingsPage;
    setPorts(*page, kPorts);
    QPointer<QMessageBox> runBox;
    QSignalSpy sent(page, &SettingsPage::sendCmd);
    {
        BoxHook hook([&](const MsgBox::Request& request, const MsgBox::Interceptor& next) {
            if (request.text != QLatin1String("Writing data..."))
                return next(request);
            runBox = request.box;
            QTimer::singleShot(10000, request.box,
                               [b = request.box] { b->done(QDialog::Rejected); });
            // The page goes away while the box runs.
            QTimer::singleShot(0, [page] { delete page; });
            request.box->exec();
            return MsgBox::Answer::Closed;
        });
        QMetaObject::invokeMethod(page->form()->btnWrite, "click");
    }
    QCOMPARE(sent.count(), 1);
    QVERIFY(waitFor([&] { return runBox.isNull(); }));
}

void TestSettingsPage::boxDestroyedElsewhereWhileItRuns()
{
    SettingsPage page;
    setPorts(page, kPorts);
    {
        BoxHook hook([&](const MsgBox::Request& request, const MsgBox::Interceptor& next) {
            if (request.text != QLatin1String("Writing data..."))
                return next(request);
            delete request.box;
            return MsgBox::Answer::Closed;
        });
        page.form()->btnWrite->click();
    }
    QVERIFY(!page.progressBox());
    // The answer finds nothing to close and still shows the result.
    respond(page, 0x0011, QByteArray(1, '\1'));
    QCOMPARE(boxes->takeText(), QStringLiteral("Operation success!"));
}

// Both device pages of this area, as the main window builds and wires them.
void TestSettingsPage::wiredByTheMainWindow()
{
    TempWorkDir dir;
    DevsimProcess devsim;
    MainWindow window;
    window.form()->leDevIP->setText(QStringLiteral("127.0.0.1"));
    QVERIFY(startDevsim(devsim, *window.commLink(), {QStringLiteral("quiet=1")}));

    SettingsPage* settings = window.settingsPageWidget();
    QTest::mouseClick(settings->form()->btnRead, Qt::LeftButton);
    QCOMPARE(boxes->waitForText(), QStringLiteral("Read data finished!"));
    QCOMPARE(settings->form()->lePort[3]->text(), QStringLiteral("443"));

    FixedParamPage* fixed = window.fixedParamPageWidget();
    QTest::mouseClick(fixed->form()->btnRead, Qt::LeftButton);
    QCOMPARE(boxes->waitForText(), QStringLiteral("Read data finished!"));
    QCOMPARE(fixed->form()->tableWidget->rowCount(), 5);
}

QTEST_MAIN(TestSettingsPage)
#include "tst_settingspage.moc"
