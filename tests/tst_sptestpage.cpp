// The serial-port test page against devsim over loopback (and a scripted
// device for the exact bytes of the settings record): opening and closing
// the device's port, sending as Hex, ASCII and Modbus, the coloured record
// and the retranslation of the form.
#include "pages/sptestformat.h"
#include "pages/sptestpage.h"
#include "pagetestutil.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QtTest>

namespace {

struct Rig : LinkedPage<SPTestPage>
{
    Rig() : LinkedPage(&CommTcp::gotSPTestRespond) {}

    UI_SPTestPage* ui() const { return page.form(); }
    QTextDocument* record() const { return ui()->textBrowserRecord->document(); }
    QString text() const { return record()->toPlainText(); }

    bool openPort(const QString& name = QStringLiteral("/dev/ttyS1"))
    {
        ui()->lineEditPortName->setText(name);
        ui()->btnConnect->click();
        return waitFor([&] { return page.isPortOpen(); });
    }

    // Presses "Send", or Enter in the send field.
    void send(const QString& text, bool byEnter = false)
    {
        ui()->lineEditSend->setText(text);
        if (byEnter)
            QTest::keyClick(ui()->lineEditSend, Qt::Key_Return);
        else
            ui()->btnSend->click();
    }
};

// The text of the record with the time stamps taken out.
QString withoutStamps(const QString& text)
{
    static const QRegularExpression stamp(
        QStringLiteral("\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] "));
    QString t = text;
    t.replace(stamp, QStringLiteral("[T] "));
    // A line break inside a paragraph reads as U+2028.
    t.replace(QChar(0x2028), QLatin1Char('\n'));
    return t;
}

QColor colourOf(QTextDocument* doc, const QString& heading)
{
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        const int at = block.text().indexOf(heading);
        if (at >= 0) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment f = it.fragment();
                if (f.position() - block.position() <= at &&
                    at < f.position() - block.position() + f.length())
                    return f.charFormat().foreground().color();
            }
        }
    }
    return QColor();
}

} // namespace

class TestSPTestPage : public BoxCheckedTest
{
    Q_OBJECT
private Q_SLOTS:
    void formAtStart();
    void settingsRecordBytes();
    void openAndClose();
    void failures_data();
    void failures();
    void longPortNameRefused_data();
    void longPortNameRefused();
    void sendExamples_data();
    void sendExamples();
    void modbusSlaveAnswers();
    void receivedLineEnds_data();
    void receivedLineEnds();
    void sendWithoutOpenPortOrLink();
    void clearEmptiesRecord();
    void retranslationKeepsSelection();
};

void TestSPTestPage::formAtStart()
{
    SPTestPage page;
    UI_SPTestPage* ui = page.form();
    // The defaults reach the device in openAndClose(); the texts at the
    // indices sent are checked here.
    QCOMPARE(ui->comboBoxBaudRate->count(), 8);
    QCOMPARE(ui->comboBoxBaudRate->itemText(7), QStringLiteral("115200"));
    QCOMPARE(ui->comboBoxFlowControl->itemText(1), QStringLiteral("Hardware"));
    QCOMPARE(ui->comboBoxParity->itemText(2), QStringLiteral("Odd"));
    QVERIFY(!page.isPortOpen());
    QVERIFY(ui->textBrowserRecord->isReadOnly());

    // The send type follows the radio buttons, Hex first.
    QVERIFY(ui->radioHex->isChecked());
    QCOMPARE(page.currentSendType(), int(SPTestPage::Hex));
    ui->radioModbus->click();
    QCOMPARE(page.currentSendType(), int(SPTestPage::Modbus));
    ui->radioASCII->click();
    QCOMPARE(page.currentSendType(), int(SPTestPage::Ascii));
    ui->radioHex->click();
    QCOMPARE(page.currentSendType(), int(SPTestPage::Hex));
    QVERIFY(!ui->radioASCII->isChecked());
}

void TestSPTestPage::settingsRecordBytes()
{
    FakeDevice fake;
    Rig rig;
    QVERIFY(rig.connectTo(fake));
    UI_SPTestPage* ui = rig.ui();
    ui->checkBoxRS485->setChecked(true);
    ui->lineEditPortName->setText(QStringLiteral("/dev/ttyS1"));
    ui->comboBoxBaudRate->setCurrentIndex(7);    // 115200
    ui->comboBoxDataBits->setCurrentIndex(2);    // 7
    ui->comboBoxFlowControl->setCurrentIndex(1); // Hardware
    ui->comboBoxParity->setCurrentIndex(2);      // Odd
    ui->comboBoxStopBits->setCurrentIndex(1);    // 2
    ui->btnConnect->click();
    const QByteArray record =
        QByteArray::fromHex("010a") + "/dev/ttyS1" + QByteArray::fromHex("0702020101");
    QCOMPARE(record.size(), 17);
    const QByteArray frame = CommandFrame::encode(0x000B, record);
    QVERIFY(fake.waitForReceived(frame.size()));
    QCOMPARE(fake.received().toHex(' '), frame.toHex(' '));
    QVERIFY(!rig.page.isPortOpen()); // only the answer opens it

    // Closing is an empty 0x000B, at once.
    fake.write(CommandFrame::encode(0x000B, QByteArray("\x01")));
    QVERIFY(waitFor([&] { return rig.page.isPortOpen(); }));
    fake.clearReceived();
    ui->btnConnect->click();
    QVERIFY(!rig.page.isPortOpen());
    QCOMPARE(ui->btnConnect->text(), QStringLiteral("Connect"));
    QVERIFY(fake.waitForReceived(6));
    QCOMPARE(fake.received().toHex(' '), CommandFrame::encode(0x000B).toHex(' '));
}

void TestSPTestPage::openAndClose()
{
    Rig rig;
    QVERIFY(rig.start({}));
    rig.ui()->comboBoxParity->setCurrentIndex(1);
    rig.ui()->comboBoxFlowControl->setCurrentIndex(2);
    QVERIFY(rig.openPort());
    QCOMPARE(rig.ui()->btnConnect->text(), QStringLiteral("Disconnect"));
    QVERIFY(rig.sim.waitForLog(QStringLiteral("serial port opened: name=/dev/ttyS1 rs485=0 "
                                              "baud=9600 data=8 parity=Even flow=Software "
                                              "stop=1")));
    rig.ui()->btnConnect->click();
    QVERIFY(!rig.page.isPortOpen());
    QCOMPARE(rig.ui()->btnConnect->text(), QStringLiteral("Connect"));
    QVERIFY(rig.sim.waitForLog(QStringLiteral("serial port closed")));
    QVERIFY(!rig.page.isPortOpen());
    // The device no longer sends: its answer to a send is a failure.
    respond(rig.page, 0x000B, QByteArray("\x01"));
    rig.send(QStringLiteral("01"));
    QCOMPARE(boxes->waitForText(), QStringLiteral("Send data to device's serial port failed!"));
}

void TestSPTestPage::failures_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<bool>("sending");
    QTest::newRow("open: result 0") << "serial-open-result=0" << false;
    QTest::newRow("open: no result byte") << "serial-open-empty=1" << false;
    QTest::newRow("open: unknown port") << "serial-ports=COM1,COM2" << false;
    QTest::newRow("send: result 0") << "serial-send-result=0" << true;
    QTest::newRow("send: no result byte") << "serial-send-empty=1" << true;
}

// A refused open or send leaves the port closed.
void TestSPTestPage::failures()
{
    QFETCH(QString, option);
    QFETCH(bool, sending);
    Rig rig;
    QVERIFY(rig.start({option}));
    if (sending) {
        QVERIFY(rig.openPort());
        rig.send(QStringLiteral("55"));
    } else {
        rig.ui()->lineEditPortName->setText(QStringLiteral("/dev/ttyS1"));
        rig.ui()->btnConnect->click();
    }
    const BoxRecorder::Box box = boxes->waitForBox();
    QCOMPARE(box.summary(),
             sending ? QStringLiteral("[Warning] Send data to device's serial port failed!")
                     : QStringLiteral("[Warning] Open device's serial port failed!"));
    QCOMPARE(box.buttons, QStringList{MsgBox::sureText()});
    QVERIFY(!rig.page.isPortOpen());
    QCOMPARE(rig.ui()->btnConnect->text(), QStringLiteral("Connect"));
    // The entry of the failed send stays in the record.
    if (sending)
        QVERIFY(rig.text().contains(QStringLiteral("Send: \n55 ")));
}

void TestSPTestPage::longPortNameRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("sent");
    QTest::newRow("255 bytes") << QString(255, 'p') << true;
    QTest::newRow("256 bytes") << QString(256, 'p') << false;
    QTest::newRow("128 characters, 256 bytes") << QString(128, QChar(0x00E9)) << false;
}

void TestSPTestPage::longPortNameRefused()
{
    QFETCH(QString, name);
    QFETCH(bool, sent);
    Rig rig;
    QVERIFY(rig.start({}));
    QSignalSpy spy(&rig.page, &SPTestPage::sendCmd);
    rig.ui()->lineEditPortName->setText(name);
    rig.ui()->btnConnect->click();
    if (sent) {
        QCOMPARE(spy.count(), 1);
        QVERIFY(waitFor([&] { return rig.page.isPortOpen(); }));
        QVERIFY(rig.sim.log().contains(QStringLiteral("name=") + name));
    } else {
        QCOMPARE(spy.count(), 0);
        QCOMPARE(boxes->take().summary(),
                 QStringLiteral("[Tip] The port name must not be longer than 255 bytes!"));
        QVERIFY(!rig.page.isPortOpen());
    }
}

void TestSPTestPage::sendExamples_data()
{
    QTest::addColumn<QString>("radio");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("shown");
    QTest::newRow("modbus adds the crc low byte first")
        << "Modbus" << "01 03 00 00 00 01" << QByteArray::fromHex("010300000001840a")
        << "01 03 00 00 00 01 84 0a ";
    QTest::newRow("hex, two blanks") << "Hex" << "01  02" << QByteArray::fromHex("010002")
                                     << "01 00 02 ";
    QTest::newRow("hex, trailing blank") << "Hex" << "01 02 " << QByteArray::fromHex("010200")
                                         << "01 02 00 ";
    QTest::newRow("hex, zz and 1ff") << "Hex" << "zz 1ff" << QByteArray::fromHex("00ff")
                                     << "00 ff ";
    QTest::newRow("ascii with markup") << "ASCII" << "a<b" << QByteArray::fromHex("613c62")
                                       << "a<b";
    QTest::newRow("ascii, latin-1 and beyond")
        << "ASCII" << QStringLiteral("é€'\"&") << QByteArray::fromHex("e93f272226")
        << QStringLiteral("é€'\"&");
}

void TestSPTestPage::sendExamples()
{
    QFETCH(QString, radio);
    QFETCH(QString, input);
    QFETCH(QByteArray, payload);
    QFETCH(QString, shown);
    Rig rig;
    QVERIFY(rig.start({}));
    QVERIFY(rig.openPort());
    QRadioButton* button = radio == QLatin1String("Modbus")  ? rig.ui()->radioModbus
                           : radio == QLatin1String("ASCII") ? rig.ui()->radioASCII
                                                             : rig.ui()->radioHex;
    button->click();
    QSignalSpy spy(&rig.page, &SPTestPage::sendCmd);
    rig.send(input, true);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 0x000C);
    QCOMPARE(spy.at(0).at(1).toByteArray().toHex(' '), payload.toHex(' '));
    QVERIFY(rig.sim.waitForLog(QStringLiteral("serial out: ") +
                               QString::fromLatin1(payload.toHex(' '))));
    // The echo comes back in the same form. ASCII shows the bytes as UTF-8,
    // so only the plain ASCII text reads the same.
    QVERIFY(waitFor([&] { return rig.text().contains(QStringLiteral("Receive: ")); }));
    const QString record = withoutStamps(rig.text());
    QVERIFY2(record.startsWith(QStringLiteral("[T] Send: \n") + shown + QLatin1Char('\n')),
             qPrintable(record));
    if (payload.size() == QString(shown).toUtf8().size() || radio != QLatin1String("ASCII"))
        QVERIFY2(record.contains(QStringLiteral("[T] Receive: \n") + shown + QLatin1Char('\n')),
                 qPrintable(record));
    QCOMPARE(colourOf(rig.record(), QStringLiteral("Send:")), QColor(58, 95, 205));
    QCOMPARE(colourOf(rig.record(), QStringLiteral("Receive:")), QColor(50, 205, 50));
    // Markup typed by the operator is escaped, never interpreted.
    QVERIFY(!rig.ui()->textBrowserRecord->toHtml().contains(QStringLiteral("<b>")));
    QVERIFY(rig.page.isPortOpen());
}

void TestSPTestPage::modbusSlaveAnswers()
{
    Rig rig;
    QVERIFY(rig.start({"serial-peer=modbus", "serial-slave=1"}));
    QVERIFY(rig.openPort());
    rig.ui()->radioModbus->click();
    rig.send(QStringLiteral("01 03 00 02 00 02"));
    // Registers 2 and 3 hold 0x1002 and 0x1003; the answer carries its CRC.
    QVERIFY(waitFor([&] { return rig.text().contains(QStringLiteral("Receive: ")); }));
    const QString record = withoutStamps(rig.text());
    QVERIFY2(record.contains(QStringLiteral("Receive: \n01 03 04 10 02 10 03 ")), qPrintable(record));
    const QString answer = record.section(QStringLiteral("Receive: \n"), 1).section('\n', 0, 0);
    const QByteArray bytes = QByteArray::fromHex(answer.toLatin1());
    QCOMPARE(bytes.size(), 9);
    QCOMPARE(SPTestFormat::withModbusCrc(bytes.left(7)).toHex(), bytes.toHex());
    // A frame for another slave is not answered; an unknown function gets an
    // exception.
    rig.ui()->textBrowserRecord->clear();
    rig.send(QStringLiteral("07 03 00 00 00 01"));
    rig.send(QStringLiteral("01 06 00 00 00 01"));
    QVERIFY(waitFor([&] { return rig.text().contains(QStringLiteral("Receive: ")); }));
    QVERIFY(withoutStamps(rig.text()).contains(QStringLiteral("Receive: \n01 86 01 ")));
    QCOMPARE(rig.text().count(QStringLiteral("Receive: ")), 1);
}

void TestSPTestPage::receivedLineEnds_data()
{
    QTest::addColumn<QString>("radio");
    QTest::addColumn<QString>("shown");
    QTest::newRow("ascii: two line breaks") << "ASCII" << "ok\n\nnext\n";
    QTest::newRow("hex: the bytes") << "Hex" << "6f 6b 0d 0a 6e 65 78 74 00 7a \n";
}

void TestSPTestPage::receivedLineEnds()
{
    QFETCH(QString, radio);
    QFETCH(QString, shown);
    Rig rig;
    QVERIFY(rig.start({"serial-rx-on-open=6f6b0d0a6e65787400" "7a"}));
    (radio == QLatin1String("ASCII") ? rig.ui()->radioASCII : rig.ui()->radioHex)->click();
    QVERIFY(rig.openPort());
    QVERIFY(waitFor([&] { return rig.text().contains(QStringLiteral("Receive: ")); }));
    QCOMPARE(withoutStamps(rig.text()), QStringLiteral("[T] Receive: \n") + shown);
    const QString html = rig.ui()->textBrowserRecord->toHtml();
    if (radio == QLatin1String("ASCII"))
        QVERIFY(html.contains(QStringLiteral("ok<br /><br />next")));
}

void TestSPTestPage::sendWithoutOpenPortOrLink()
{
    Rig rig; // not connected
    QSignalSpy spy(&rig.page, &SPTestPage::sendCmd);
    rig.send(QStringLiteral("01"));
    QCOMPARE(boxes->take().summary(), QStringLiteral("[Warning] Port not opened!"));
    QCOMPARE(spy.count(), 0);
    QVERIFY(rig.record()->isEmpty());
    // An empty line sends nothing and records nothing.
    respond(rig.page, 0x000B, QByteArray("\x02"));
    QVERIFY(rig.page.isPortOpen());
    rig.send(QString());
    QCOMPARE(spy.count(), 0);
    QVERIFY(rig.record()->isEmpty());
    // Without a link the entry is still recorded and the port stays open.
    rig.send(QStringLiteral("0a"));
    QCOMPARE(boxes->takeText(), QStringLiteral("Device not connected!"));
    QVERIFY(rig.text().contains(QStringLiteral("Send: \n0a ")));
    QVERIFY(rig.page.isPortOpen());
}

void TestSPTestPage::clearEmptiesRecord()
{
    SPTestPage page;
    QSignalSpy spy(&page, &SPTestPage::sendCmd);
    respond(page, 0x000D, QByteArray("\x01\x02"));
    QVERIFY(page.form()->textBrowserRecord->toPlainText().contains(QStringLiteral("01 02 ")));
    page.form()->btnClear->click();
    QVERIFY(page.form()->textBrowserRecord->document()->isEmpty());
    QCOMPARE(spy.count(), 0);
    // Other codes are not the page's.
    respond(page, 0x000A, QByteArray("\x01"));
    respond(page, 0x0009, QByteArray("\x01"));
    QVERIFY(page.form()->textBrowserRecord->document()->isEmpty());
    QVERIFY(!page.isPortOpen());
}

void TestSPTestPage::retranslationKeepsSelection()
{
    SPTestPage page;
    UI_SPTestPage* ui = page.form();
    ui->comboBoxFlowControl->setCurrentIndex(2);
    ui->comboBoxParity->setCurrentIndex(1);
    ui->comboBoxBaudRate->setCurrentIndex(5);
    respond(page, 0x000B, QByteArray("\x01"));
    QCOMPARE(ui->btnConnect->text(), QStringLiteral("Disconnect"));
    MarkingTranslator translator("SPTestPage");
    QCoreApplication::installTranslator(&translator);
    QCoreApplication::processEvents();
    QCOMPARE(ui->labelRS485->text(), QStringLiteral("<RS485:>"));
    QCOMPARE(ui->labelBaudRate->text(), QStringLiteral("<Buad Rate:>"));
    QCOMPARE(ui->labelStopBits->text(), QStringLiteral("<Stop Bits:>"));
    QCOMPARE(ui->radioModbus->text(), QStringLiteral("<Modbus>"));
    QCOMPARE(ui->btnSend->text(), QStringLiteral("<Send>"));
    QCOMPARE(ui->btnClear->text(), QStringLiteral("<Clear>"));
    QCOMPARE(ui->btnConnect->text(), QStringLiteral("<Connect>"));
    QCOMPARE(ui->comboBoxFlowControl->currentIndex(), 2);
    QCOMPARE(ui->comboBoxFlowControl->currentText(), QStringLiteral("<Software>"));
    QCOMPARE(ui->comboBoxParity->currentIndex(), 1);
    QCOMPARE(ui->comboBoxParity->itemText(0), QStringLiteral("<None>"));
    QCOMPARE(ui->comboBoxParity->count(), 3);
    QCOMPARE(ui->comboBoxBaudRate->currentIndex(), 5);
    QVERIFY(page.isPortOpen()); // the flag survives a language change
    QCOMPARE(page.settings().parityIndex, 1);
    QCOMPARE(page.settings().flowControlIndex, 2);
    QCoreApplication::removeTranslator(&translator);
    QCoreApplication::processEvents();
    QCOMPARE(ui->comboBoxFlowControl->currentText(), QStringLiteral("Software"));
}

QTEST_MAIN(TestSPTestPage)
#include "tst_sptestpage.moc"
