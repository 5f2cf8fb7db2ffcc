// The settings page against the device simulator over loopback: the device
// date, the four service ports and the "Writing data..." box.
#include "comm/commtcp.h"
#include "mainwindow/mainwindow.h"
#include "pages/fixedparampage.h"
#include "pages/settingspage.h"
#include "testutil.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTranslator>
#include <QValidator>

namespace {

// A page wired to a link as the main window wires them.
struct Rig
{
    DevsimProcess devsim;
    CommTcp link;
    SettingsPage page;

    Rig()
    {
        QObject::connect(&page, &SettingsPage::sendCmd, &link, &CommTcp::send);
        QObject::connect(&link, &CommTcp::gotSettingsRespond, &page, &SettingsPage::handleRespond);
    }

    // Starts a device with the given options ("key=value") and connects.
    bool start(const QStringList& options = QStringList())
    {
        QStringList args{QStringLiteral("--set"), QStringLiteral("quiet=1")};
        for (const QString& option : options)
            args << QStringLiteral("--set") << option;
        if (!devsim.start(args))
            return false;
        link.setPort(devsim.port());
        link.connectDevice(QStringLiteral("127.0.0.1"));
        return link.isConnected();
    }

    UI_SettingPage* ui() const { return page.form(); }
    void setPorts(const QStringList& ports)
    {
        for (int row = 0; row < 4; ++row)
            ui()->lePort[row]->setText(ports.value(row));
    }
    QStringList ports() const
    {
        QStringList texts;
        for (int row = 0; row < 4; ++row)
            texts << ui()->lePort[row]->text();
        return texts;
    }
    QList<bool> checks() const
    {
        QList<bool> states;
        for (int row = 0; row < 4; ++row)
            states << ui()->checkBoxPort[row]->isChecked();
        return states;
    }
    QList<bool> fieldsEnabled() const
    {
        QList<bool> states;
        for (int row = 0; row < 4; ++row)
            states << ui()->lePort[row]->isEnabled();
        return states;
    }
};

QString datePart(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QByteArray frameOf(int cmd, const QByteArray& payload)
{
    return CommandFrame::encode(cmd, payload);
}

// Records the parent of every box, in front of a BoxRecorder.
struct ParentLog
{
    QList<QWidget*> parents;
    MsgBox::Interceptor inner;
    ParentLog()
    {
        inner = MsgBox::setInterceptor([this](const MsgBox::Request& request) {
            parents << request.parent;
            return inner(request);
        });
    }
    ~ParentLog() { MsgBox::setInterceptor(inner); }
};

// Prefixes every text of one context, to see which texts are re-applied.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override
    {
        Q_UNUSED(disambiguation)
        Q_UNUSED(n)
        if (qstrcmp(context, "SettingsPage") == 0)
            return QStringLiteral("T:") + QString::fromUtf8(sourceText);
        return QString();
    }
    bool isEmpty() const override { return false; }
};

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
    void initialForm();
    void validators();
    void checkBoxEnablesItsField();
    void languageChangeReappliesTexts();

    void readDateFromDevice();
    void readDateWrongSizeRefused();
    void dateAnswers_data();
    void dateAnswers();
    void syncSendsWorkstationTime();

    void readPortsFromDevice();
    void portAnswersOfWrongSize_data();
    void portAnswersOfWrongSize();
    void writePortsAtTheEdges();
    void writeBytesOnTheWire();
    void writeRefused_data();
    void writeRefused();
    void writeResultFailures_data();
    void writeResultFailures();
    void writeWhileNotConnected();
    void ignoredCodes();

    void progressBoxClosedInsideItsModalRun();
    void progressBoxHiddenByOkStaysPending();
    void secondWriteLeavesNoBoxBehind();
    void pageDestroyedWhileBoxRuns();
    void boxDestroyedElsewhereWhileItRuns();
    void wiredByTheMainWindow();
};

void TestSettingsPage::initialForm()
{
    SettingsPage page;
    UI_SettingPage* ui = page.form();
    QVERIFY(ui->leDate->text().isEmpty());
    QCOMPARE(ui->groupBoxDate->title(), QStringLiteral("Date settings"));
    QCOMPARE(ui->labelDate->text(), QStringLiteral("Date:"));
    QCOMPARE(ui->btnDeviceDate->text(), QStringLiteral("Device date"));
    QCOMPARE(ui->btnSyncDate->text(), QStringLiteral("Sync date"));
    QCOMPARE(ui->groupBoxPort->title(), QStringLiteral("Port settings"));
    QCOMPARE(ui->btnRead->text(), QStringLiteral("Read"));
    QCOMPARE(ui->btnWrite->text(), QStringLiteral("Write"));
    QCOMPARE(ui->leDate->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);

    QTableWidget* table = ui->tableWidgetPort;
    QCOMPARE(table->rowCount(), 4);
    QCOMPARE(table->columnCount(), 3);
    QCOMPARE(table->height(), 150);
    QVERIFY(!table->verticalHeader()->isVisible() || table->verticalHeader()->isHidden());
    QCOMPARE(table->horizontalHeader()->sectionResizeMode(0), QHeaderView::Stretch);
    QStringList headers;
    for (int c = 0; c < 3; ++c)
        headers << table->horizontalHeaderItem(c)->text();
    QCOMPARE(headers, (QStringList{"Item", "Enable", "Port"}));
    const QStringList services{"SSH", "Telnet", "HTTP", "HTTPS"};
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(table->item(row, 0)->text(), services.at(row));
        QVERIFY(!(table->item(row, 0)->flags() & Qt::ItemIsEditable));
        QVERIFY(ui->checkBoxPort[row]->isChecked());
        QVERIFY(ui->lePort[row]->isEnabled());
        QVERIFY(ui->lePort[row]->text().isEmpty());
        QCOMPARE(ui->lePort[row]->placeholderText(), QStringLiteral("1~65534"));
        QCOMPARE(ui->lePort[row]->styleSheet(), QStringLiteral("border:none"));
    }
    QVERIFY(!page.progressBox());
}

void TestSettingsPage::validators()
{
    SettingsPage page;
    UI_SettingPage* ui = page.form();
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
    QTest::keyClicks(port, QStringLiteral("65535"));
    QCOMPARE(port->text(), QStringLiteral("6553"));
    port->clear();
    QTest::keyClicks(port, QStringLiteral("65534"));
    QCOMPARE(port->text(), QStringLiteral("65534"));
    port->clear();
    QTest::keyClicks(port, QStringLiteral("0"));
    QCOMPARE(port->text(), QStringLiteral("0"));
    port->clear();
    QTest::keyClicks(port, QStringLiteral("8a0"));
    QCOMPARE(port->text(), QStringLiteral("80"));
}

void TestSettingsPage::checkBoxEnablesItsField()
{
    SettingsPage page;
    UI_SettingPage* ui = page.form();
    ui->lePort[2]->setText(QStringLiteral("8080"));
    ui->checkBoxPort[2]->setChecked(false);
    QVERIFY(!ui->lePort[2]->isEnabled());
    QVERIFY(ui->lePort[1]->isEnabled());
    QCOMPARE(ui->lePort[2]->text(), QStringLiteral("8080"));
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

    MarkingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    QTRY_COMPARE(ui->btnSyncDate->text(), QStringLiteral("T:Sync date"));
    QCOMPARE(ui->groupBoxPort->title(), QStringLiteral("T:Port settings"));
    QCOMPARE(ui->tableWidgetPort->horizontalHeaderItem(2)->text(), QStringLiteral("T:Port"));
    QCOMPARE(ui->tableWidgetPort->item(1, 0)->text(), QStringLiteral("T:Telnet"));
    QCOMPARE(ui->lePort[0]->placeholderText(), QStringLiteral("T:1~65534"));
    // Values stay.
    QCOMPARE(ui->leDate->text(), QStringLiteral("2024-03-03 14:05:09"));
    QCOMPARE(ui->lePort[3]->text(), QStringLiteral("443"));
    QVERIFY(!ui->checkBoxPort[1]->isChecked());

    QCoreApplication::removeTranslator(&translator);
    QTRY_COMPARE(ui->btnSyncDate->text(), QStringLiteral("Sync date"));
    QCOMPARE(ui->tableWidgetPort->item(1, 0)->text(), QStringLiteral("Telnet"));
}

void TestSettingsPage::readDateFromDevice()
{
    Rig rig;
    QVERIFY(rig.start({QStringLiteral("clock=2001-02-03 04:05:06")}));
    QTest::mouseClick(rig.ui()->btnDeviceDate, Qt::LeftButton);
    QVERIFY(waitFor([&] { return !rig.ui()->leDate->text().isEmpty(); }));
    // The device clock runs on from its start time.
    QVERIFY2(rig.ui()->leDate->text().startsWith(QStringLiteral("2001-02-03 04:0")),
             qPrintable(rig.ui()->leDate->text()));
    QCOMPARE(rig.ui()->leDate->text().size(), 19);
}

void TestSettingsPage::readDateWrongSizeRefused()
{
    Rig rig;
    QVERIFY(rig.start({QStringLiteral("date-wrong-size=1")}));
    rig.ui()->leDate->setText(QStringLiteral("2020-01-01 00:00:00"));
    QTest::mouseClick(rig.ui()->btnDeviceDate, Qt::LeftButton);
    QVERIFY(waitFor([&] { return boxes->count() > 0; }));
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Tip"));
    QCOMPARE(box.text, QStringLiteral("Read date failed!"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, QStringList{MsgBox::sureText()});
    QCOMPARE(rig.ui()->leDate->text(), QStringLiteral("2020-01-01 00:00:00"));

    // The page goes on working: the ports still read.
    QTest::mouseClick(rig.ui()->btnRead, Qt::LeftButton);
    QVERIFY(waitFor([&] { return boxes->count() > 0; }));
    QCOMPARE(boxes->takeText(), QStringLiteral("Read data finished!"));
    QCOMPARE(rig.ports(), (QStringList{"22", "23", "80", "443"}));
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
    page.handleRespond(0x0006, reinterpret_cast<const quint8*>(payload.constData()),
                       payload.size());
    if (shown.isEmpty()) {
        QCOMPARE(boxes->takeText(), QStringLiteral("Read date failed!"));
        QCOMPARE(page.form()->leDate->text(), QStringLiteral("old"));
    } else {
        QCOMPARE(page.form()->leDate->text(), shown);
    }
}

void TestSettingsPage::syncSendsWorkstationTime()
{
    Rig rig;
    QVERIFY(rig.start({QStringLiteral("clock=2001-02-03 04:05:06")}));
    // The date field is only a display: what it holds is not sent.
    rig.ui()->leDate->setText(QStringLiteral("2030-12-24 18:00:00"));
    const QDateTime before = QDateTime::fromString(datePart(QDateTime::currentDateTime()),
                                                   QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QTest::mouseClick(rig.ui()->btnSyncDate, Qt::LeftButton);
    QVERIFY(rig.devsim.waitForLog(QStringLiteral("clock set to ")));
    const QDateTime after = QDateTime::currentDateTime();
    // The link shows the set-date answer itself.
    QVERIFY(waitFor([&] { return boxes->count() > 0; }));
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Information"));
    QCOMPARE(box.text, QStringLiteral("Set device's date success!"));

    const QString log = rig.devsim.log();
    const int at = log.indexOf(QStringLiteral("clock set to ")) + 13;
    const QDateTime sent =
        QDateTime::fromString(log.mid(at, 19), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QVERIFY2(sent.isValid(), qPrintable(log.mid(at, 19)));
    QVERIFY(sent >= before);
    QVERIFY(sent <= after);

    QTest::mouseClick(rig.ui()->btnDeviceDate, Qt::LeftButton);
    QVERIFY(waitFor([&] { return !rig.ui()->leDate->text().startsWith(QStringLiteral("2030")); }));
    QVERIFY(rig.ui()->leDate->text().startsWith(before.toString(QStringLiteral("yyyy-MM-dd"))) ||
            rig.ui()->leDate->text().startsWith(after.toString(QStringLiteral("yyyy-MM-dd"))));
}

void TestSettingsPage::readPortsFromDevice()
{
    Rig rig;
    QVERIFY(rig.start({QStringLiteral("ports=0:2222,5:23,1:8080,1:443")}));
    ParentLog parents;
    QTest::mouseClick(rig.ui()->btnRead, Qt::LeftButton);
    QVERIFY(waitFor([&] { return boxes->count() > 0; }));
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Information"));
    QCOMPARE(box.text, QStringLiteral("Read data finished!"));
    QCOMPARE(parents.parents.value(0), static_cast<QWidget*>(&rig.page));
    QCOMPARE(rig.ports(), (QStringList{"2222", "23", "8080", "443"}));
    QCOMPARE(rig.checks(), (QList<bool>{false, true, true, true}));
    QCOMPARE(rig.fieldsEnabled(), (QList<bool>{false, true, true, true}));
}

void TestSettingsPage::portAnswersOfWrongSize_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("11 bytes") << 11;
    QTest::newRow("13 bytes") << 13;
}

void TestSettingsPage::portAnswersOfWrongSize()
{
    QFETCH(int, size);
    Rig rig;
    QVERIFY(rig.start({QStringLiteral("ports-read-size=%1").arg(size)}));
    rig.setPorts({"1", "2", "3", "4"});
    rig.ui()->checkBoxPort[3]->setChecked(false);
    QTest::mouseClick(rig.ui()->btnRead, Qt::LeftButton);
    QVERIFY(waitFor([&] { return boxes->count() > 0; }));
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Tip"));
    QCOMPARE(box.text, QStringLiteral("Read data failed!"));
    QCOMPARE(rig.ports(), (QStringList{"1", "2", "3", "4"}));
    QCOMPARE(rig.checks(), (QList<bool>{true, true, true, false}));

    // Still working: a write goes through.
    QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);
    QCOMPARE(boxes->takeText(), QStringLiteral("Writing data..."));
    QVERIFY(waitFor([&] { return boxes->count() > 0; }));
    QCOMPARE(boxes->takeText(), QStringLiteral("Operation success!"));
}

void TestSettingsPage::writePortsAtTheEdges()
{
    Rig rig;
    QVERIFY(rig.start());
    rig.setPorts({"1", "65534", "8080", "443"});
    rig.ui()->checkBoxPort[2]->setChecked(false);
    QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);

    const BoxRecorder::Box progress = boxes->take();
    QCOMPARE(progress.title, QStringLiteral("Information"));
    QCOMPARE(progress.text, QStringLiteral("Writing data..."));
    QCOMPARE(progress.icon, QMessageBox::Information);
    QCOMPARE(progress.buttons.size(), 1);
    QPointer<QMessageBox> pending = rig.page.progressBox();
    QVERIFY(pending);
    QCOMPARE(pending->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(pending->windowModality(), Qt::ApplicationModal);
    QVERIFY(!pending->parentWidget());

    QVERIFY(waitFor([&] { return boxes->count() > 0; }));
    const BoxRecorder::Box result = boxes->take();
    QCOMPARE(result.title, QStringLiteral("Information"));
    QCOMPARE(result.text, QStringLiteral("Operation success!"));
    QCOMPARE(result.icon, QMessageBox::Warning);
    QVERIFY(!rig.page.progressBox());
    QVERIFY(waitFor([&] { return pending.isNull(); }));
    QVERIFY(rig.devsim.log().contains(
        QStringLiteral("ports set to ssh=1 telnet=65534 http=8080(off) https=443")));

    // Read back what the device keeps.
    rig.setPorts({});
    QTest::mouseClick(rig.ui()->btnRead, Qt::LeftButton);
    QVERIFY(waitFor([&] { return boxes->count() > 0; }));
    QCOMPARE(boxes->takeText(), QStringLiteral("Read data finished!"));
    QCOMPARE(rig.ports(), (QStringList{"1", "65534", "8080", "443"}));
    QCOMPARE(rig.checks(), (QList<bool>{true, true, false, true}));
    QCOMPARE(rig.fieldsEnabled(), (QList<bool>{true, true, false, true}));
}

void TestSettingsPage::writeBytesOnTheWire()
{
    FakeDevice device;
    CommTcp link;
    SettingsPage page;
    QObject::connect(&page, &SettingsPage::sendCmd, &link, &CommTcp::send);
    QObject::connect(&link, &CommTcp::gotSettingsRespond, &page, &SettingsPage::handleRespond);
    link.setPort(device.port());
    link.connectDevice(QStringLiteral("127.0.0.1"));
    QVERIFY(device.waitForClient());

    for (int row = 0; row < 4; ++row)
        page.form()->checkBoxPort[row]->setChecked(false);
    const QStringList ports{"22", "65534", "256", "1"};
    for (int row = 0; row < 4; ++row)
        page.form()->lePort[row]->setText(ports.at(row));
    QTest::mouseClick(page.form()->btnWrite, Qt::LeftButton);
    QCOMPARE(boxes->takeText(), QStringLiteral("Writing data..."));
    const QByteArray expected = frameOf(0x0011, QByteArray::fromHex("000016 00fffe 000100 000001"));
    QVERIFY(device.waitForReceived(expected.size()));
    QCOMPARE(device.received().toHex(), expected.toHex());

    // A result with more bytes than the result byte is read by its first byte.
    device.write(frameOf(0x0011, QByteArray::fromHex("01ff")));
    QVERIFY(waitFor([&] { return boxes->count() > 0; }));
    QCOMPARE(boxes->takeText(), QStringLiteral("Operation success!"));

    device.clearReceived();
    QTest::mouseClick(page.form()->btnDeviceDate, Qt::LeftButton);
    QTest::mouseClick(page.form()->btnRead, Qt::LeftButton);
    const QByteArray reads = frameOf(0x0006, QByteArray()) + frameOf(0x0010, QByteArray());
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
    for (int row = 0; row < 4; ++row)
        page.form()->lePort[row]->setText(ports.at(row));
    if (uncheckedRow >= 0)
        page.form()->checkBoxPort[uncheckedRow]->setChecked(false);
    QTest::mouseClick(page.form()->btnWrite, Qt::LeftButton);
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("Port settings error!"));
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
    rig.setPorts({"22", "23", "80", "443"});
    QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);
    QCOMPARE(boxes->takeText(), QStringLiteral("Writing data..."));
    QPointer<QMessageBox> pending = rig.page.progressBox();
    QVERIFY(waitFor([&] { return boxes->count() > 0; }));
    const BoxRecorder::Box box = boxes->take();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("Operation failed!"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QVERIFY(!rig.page.progressBox());
    QVERIFY(waitFor([&] { return pending.isNull(); }));

    // And again: each answer ends in its box, nothing is left pending.
    QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);
    QCOMPARE(boxes->takeText(), QStringLiteral("Writing data..."));
    QVERIFY(waitFor([&] { return boxes->count() > 0; }));
    QCOMPARE(boxes->takeText(), QStringLiteral("Operation failed!"));
    QVERIFY(!rig.page.progressBox());
}

void TestSettingsPage::writeWhileNotConnected()
{
    CommTcp link;
    SettingsPage page;
    QObject::connect(&page, &SettingsPage::sendCmd, &link, &CommTcp::send);
    for (int row = 0; row < 4; ++row)
        page.form()->lePort[row]->setText(QStringLiteral("22"));
    QTest::mouseClick(page.form()->btnWrite, Qt::LeftButton);
    // The link says so, and the progress box still opens.
    QCOMPARE(boxes->takeText(), QStringLiteral("Device not connected!"));
    QCOMPARE(boxes->takeText(), QStringLiteral("Writing data..."));
    QVERIFY(page.progressBox());
}

void TestSettingsPage::ignoredCodes()
{
    SettingsPage page;
    QSignalSpy sent(&page, &SettingsPage::sendCmd);
    page.form()->leDate->setText(QStringLiteral("keep"));
    page.form()->lePort[0]->setText(QStringLiteral("22"));
    const QByteArray date("2024-03-03 14:05:09");
    const QByteArray ports = QByteArray::fromHex("000016000017000050 0001bb");
    for (int cmd : {0x0003, 0x0007, 0x000E, 0x0012}) {
        page.handleRespond(cmd, reinterpret_cast<const quint8*>(date.constData()), date.size());
        page.handleRespond(cmd, reinterpret_cast<const quint8*>(ports.constData()), ports.size());
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
    rig.setPorts({"22", "23", "80", "443"});

    QPointer<QMessageBox> runBox;
    bool runEnded = false;
    bool aliveAfterResultRun = false;
    MsgBox::Interceptor recorder = MsgBox::setInterceptor(nullptr);
    MsgBox::setInterceptor([&](const MsgBox::Request& request) {
        if (request.text == QLatin1String("Operation success!")) {
            // The result box runs for real as well, inside the progress
            // box's run: events, deferred deletions included, are handled
            // there while the progress box's run is still on the stack.
            QTimer::singleShot(50, request.box, [b = request.box] { b->done(QDialog::Accepted); });
            request.box->exec();
            aliveAfterResultRun = !runBox.isNull();
            return recorder(request);
        }
        if (request.text != QLatin1String("Writing data..."))
            return recorder(request);
        runBox = request.box;
        // Should the answer never come, the box is closed after a while so
        // the test fails instead of hanging.
        QTimer::singleShot(10000, request.box, [b = request.box] { b->done(QDialog::Rejected); });
        request.box->exec();
        runEnded = true;
        return MsgBox::Answer::Closed;
    });
    QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);
    MsgBox::setInterceptor(recorder);

    QVERIFY(runEnded);
    QVERIFY(aliveAfterResultRun);
    // The result box was shown from inside the run, after the box closed.
    QCOMPARE(boxes->takeText(), QStringLiteral("Operation success!"));
    QVERIFY(!rig.page.progressBox());
    QVERIFY(waitFor([&] { return runBox.isNull(); }));
}

void TestSettingsPage::progressBoxHiddenByOkStaysPending()
{
    Rig rig;
    QVERIFY(rig.start({QStringLiteral("ports-write-silent=1")}));
    rig.setPorts({"22", "23", "80", "443"});
    boxes->answerNext(MsgBox::Answer::Ok);
    QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);
    QCOMPARE(boxes->takeText(), QStringLiteral("Writing data..."));
    QVERIFY(rig.devsim.waitForLog(QStringLiteral("ports set to")));
    QPointer<QMessageBox> pending = rig.page.progressBox();
    QVERIFY(pending);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(pending);
    QVERIFY(!pending->isVisible());

    // A late answer still finds and removes it.
    const quint8 ok = 1;
    rig.page.handleRespond(0x0011, &ok, 1);
    QCOMPARE(boxes->takeText(), QStringLiteral("Operation success!"));
    QVERIFY(!rig.page.progressBox());
    QVERIFY(waitFor([&] { return pending.isNull(); }));
}

void TestSettingsPage::secondWriteLeavesNoBoxBehind()
{
    Rig rig;
    QVERIFY(rig.start({QStringLiteral("ports-write-silent=1")}));
    rig.setPorts({"22", "23", "80", "443"});
    QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);
    QPointer<QMessageBox> first = rig.page.progressBox();
    QTest::mouseClick(rig.ui()->btnWrite, Qt::LeftButton);
    QPointer<QMessageBox> second = rig.page.progressBox();
    QCOMPARE(boxes->takeText(), QStringLiteral("Writing data..."));
    QCOMPARE(boxes->takeText(), QStringLiteral("Writing data..."));
    QVERIFY(first);
    QVERIFY(second);
    QVERIFY(first != second);
    QVERIFY(waitFor([&] { return first.isNull(); }));
    QCOMPARE(openMessageBoxes(), 1);

    const quint8 failed = 0;
    rig.page.handleRespond(0x0011, &failed, 1);
    QCOMPARE(boxes->takeText(), QStringLiteral("Operation failed!"));
    QVERIFY(waitFor([&] { return second.isNull(); }));
    QCOMPARE(openMessageBoxes(), 0);

    // An answer with no write pending shows its result all the same.
    rig.page.handleRespond(0x0011, nullptr, 0);
    QCOMPARE(boxes->takeText(), QStringLiteral("Operation failed!"));
}

void TestSettingsPage::pageDestroyedWhileBoxRuns()
{
    auto* page = new SettingsPage;
    for (int row = 0; row < 4; ++row)
        page->form()->lePort[row]->setText(QStringLiteral("22"));
    QPointer<QMessageBox> runBox;
    MsgBox::Interceptor recorder = MsgBox::setInterceptor(nullptr);
    MsgBox::setInterceptor([&](const MsgBox::Request& request) {
        if (request.text != QLatin1String("Writing data..."))
            return recorder(request);
        runBox = request.box;
        QTimer::singleShot(10000, request.box, [b = request.box] { b->done(QDialog::Rejected); });
        // The page goes away while the box runs.
        QTimer::singleShot(0, [page] { delete page; });
        request.box->exec();
        return MsgBox::Answer::Closed;
    });
    QSignalSpy sent(page, &SettingsPage::sendCmd);
    QMetaObject::invokeMethod(page->form()->btnWrite, "click");
    MsgBox::setInterceptor(recorder);
    QCOMPARE(sent.count(), 1);
    QVERIFY(waitFor([&] { return runBox.isNull(); }));
}

void TestSettingsPage::boxDestroyedElsewhereWhileItRuns()
{
    SettingsPage page;
    for (int row = 0; row < 4; ++row)
        page.form()->lePort[row]->setText(QStringLiteral("22"));
    MsgBox::Interceptor recorder = MsgBox::setInterceptor(nullptr);
    MsgBox::setInterceptor([&](const MsgBox::Request& request) {
        if (request.text != QLatin1String("Writing data..."))
            return recorder(request);
        delete request.box;
        return MsgBox::Answer::Closed;
    });
    page.form()->btnWrite->click();
    MsgBox::setInterceptor(recorder);
    QVERIFY(!page.progressBox());
    // The answer finds nothing to close and still shows the result.
    const quint8 ok = 1;
    page.handleRespond(0x0011, &ok, 1);
    QCOMPARE(boxes->takeText(), QStringLiteral("Operation success!"));
}

// Both device pages of this area, as the main window builds and wires them.
void TestSettingsPage::wiredByTheMainWindow()
{
    TempWorkDir dir;
    DevsimProcess devsim;
    QVERIFY(devsim.start({QStringLiteral("--set"), QStringLiteral("quiet=1")}));
    MainWindow window;
    window.form()->leDevIP->setText(QStringLiteral("127.0.0.1"));
    window.commLink()->setPort(devsim.port());
    window.commLink()->connectDevice(QStringLiteral("127.0.0.1"));
    QVERIFY(window.commLink()->isConnected());

    SettingsPage* settings = window.settingsPageWidget();
    QTest::mouseClick(settings->form()->btnRead, Qt::LeftButton);
    QVERIFY(waitFor([&] { return boxes->count() > 0; }));
    QCOMPARE(boxes->takeText(), QStringLiteral("Read data finished!"));
    QCOMPARE(settings->form()->lePort[3]->text(), QStringLiteral("443"));

    FixedParamPage* fixed = window.fixedParamPageWidget();
    QTest::mouseClick(fixed->form()->btnRead, Qt::LeftButton);
    QVERIFY(waitFor([&] { return boxes->count() > 0; }));
    QCOMPARE(boxes->takeText(), QStringLiteral("Read data finished!"));
    QCOMPARE(fixed->form()->tableWidget->rowCount(), 5);
}

QTEST_MAIN(TestSettingsPage)
#include "tst_settingspage.moc"
