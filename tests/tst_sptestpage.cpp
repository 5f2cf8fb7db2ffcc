// The serial-port test page: its frames byte for byte against a scripted
// device, sending as Hex, ASCII and Modbus, the coloured record, the replies
// and their boxes, a session with devsim's Modbus slave, the form and its
// retranslation.
#include "pages/sptestpage.h"
#include "pagetestutil.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
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

// Presses "Send", or Enter in the send field.
void send(SPTestPage& page, const QString& text, bool byEnter = false)
{
    page.form()->lineEditSend->setText(text);
    if (byEnter)
        QTest::keyClick(page.form()->lineEditSend, Qt::Key_Return);
    else
        page.form()->btnSend->click();
}

// The text of the record with the time stamps taken out.
QString record(const SPTestPage& page)
{
    static const QRegularExpression stamp(
        QStringLiteral("\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] "));
    QString t = page.form()->textBrowserRecord->toPlainText();
    t.replace(stamp, QStringLiteral("[T] "));
    t.replace(QChar(0x2028), QLatin1Char('\n')); // a line break inside a paragraph
    return t;
}

QColor colourOf(const SPTestPage& page, const QString& heading)
{
    QTextDocument* doc = page.form()->textBrowserRecord->document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        if (!block.text().contains(heading))
            continue;
        QTextCursor cursor(block);
        cursor.setPosition(block.position() + block.text().indexOf(heading) + 1);
        return cursor.charFormat().foreground().color();
    }
    return QColor();
}

} // namespace

class TestSPTestPage : public BoxCheckedTest
{
    Q_OBJECT
private Q_SLOTS:
    void framesOnTheWire();
    void sendModes();
    void replies();
    void modbusSlaveSession();
    void formAndRetranslation();
};

void TestSPTestPage::framesOnTheWire()
{
    FakeDevice fake;
    LinkedPage<SPTestPage> rig(&CommTcp::gotSPTestRespond);
    QVERIFY(rig.connectTo(fake));
    UI_SPTestPage* ui = rig.page.form();
    ui->checkBoxRS485->setChecked(true);
    ui->lineEditPortName->setText(QStringLiteral("/dev/ttyS1"));
    ui->comboBoxBaudRate->setCurrentIndex(7);    // 115200
    ui->comboBoxDataBits->setCurrentIndex(2);    // 7
    ui->comboBoxFlowControl->setCurrentIndex(1); // Hardware
    ui->comboBoxParity->setCurrentIndex(2);      // Odd
    ui->comboBoxStopBits->setCurrentIndex(1);    // 2
    ui->btnConnect->click();
    // The 17-byte settings record: parity goes before flow control.
    QVERIFY(fake.waitForReceived(23));
    QCOMPARE(fake.received().toHex(' '),
             QByteArray("68 00 13 00 0b 01 0a 2f 64 65 76 2f 74 74 79 53 31 07 02 02 01 01 20"));
    QVERIFY(!rig.page.isPortOpen()); // only the answer opens it
    fake.write(QByteArray::fromHex("680003000b0177"));
    QVERIFY(waitFor([&] { return rig.page.isPortOpen(); }));
    QCOMPARE(ui->btnConnect->text(), QStringLiteral("Disconnect"));
    // Modbus adds the CRC, low byte first.
    fake.clearReceived();
    ui->radioModbus->click();
    send(rig.page, QStringLiteral("01 03 00 00 00 01"));
    QVERIFY(fake.waitForReceived(14));
    QCOMPARE(fake.received().toHex(' '), QByteArray("68 00 0a 00 0c 01 03 00 00 00 01 84 0a 11"));
    // Received bytes are shown as they are, no CRC check.
    fake.write(QByteArray::fromHex("68000c000d6f6b0d0a6e657874006192"));
    QVERIFY(waitFor([&] { return record(rig.page).contains(QLatin1String("Receive")); }));
    QCOMPARE(record(rig.page), QStringLiteral("[T] Send: \n01 03 00 00 00 01 84 0a \n\n"
                                              "[T] Receive: \n6f 6b 0d 0a 6e 65 78 74 00 61 \n"));
    // A failed send closes the port.
    fake.write(QByteArray::fromHex("680003000c0077"));
    QCOMPARE(boxes->waitForBox().summary(),
             QStringLiteral("[Warning] Send data to device's serial port failed!"));
    QVERIFY(!rig.page.isPortOpen());
    QCOMPARE(ui->btnConnect->text(), QStringLiteral("Connect"));
    // Closing is an empty 0x000B, at once.
    fake.write(QByteArray::fromHex("680003000b0177"));
    QVERIFY(waitFor([&] { return rig.page.isPortOpen(); }));
    fake.clearReceived();
    ui->btnConnect->click();
    QVERIFY(!rig.page.isPortOpen());
    QVERIFY(fake.waitForReceived(6));
    QCOMPARE(fake.received().toHex(' '), QByteArray("68 00 02 00 0b 75"));
}

void TestSPTestPage::sendModes()
{
    const struct
    {
        QRadioButton* UI_SPTestPage::*radio;
        QString input;
        QByteArray payload;
        QString shown;
    } rows[] = {
        {&UI_SPTestPage::radioHex, "01  02", QByteArray::fromHex("010002"), "01 00 02 "},
        {&UI_SPTestPage::radioHex, "01 02 ", QByteArray::fromHex("010200"), "01 02 00 "},
        {&UI_SPTestPage::radioHex, "zz 1ff", QByteArray::fromHex("00ff"), "00 ff "},
        {&UI_SPTestPage::radioModbus, "11 03 00 6b 00 03", QByteArray::fromHex("1103006b00037687"),
         "11 03 00 6b 00 03 76 87 "},
        {&UI_SPTestPage::radioASCII, "a<b", QByteArray::fromHex("613c62"), "a<b"},
        {&UI_SPTestPage::radioASCII, QStringLiteral("é€'\"&"), QByteArray::fromHex("e93f272226"),
         QStringLiteral("é€'\"&")},
    };
    bool byEnter = false;
    for (const auto& row : rows) {
        SPTestPage page;
        (page.form()->*row.radio)->click();
        respond(page, SPTestPage::kCmdOpen, QByteArray("\x01"));
        QSignalSpy spy(&page, &SPTestPage::sendCmd);
        send(page, row.input, byEnter = !byEnter);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 0x000C);
        QCOMPARE(spy.at(0).at(1).toByteArray().toHex(' '), row.payload.toHex(' '));
        // The device's echo is shown in the same form; as text it is read as
        // UTF-8, up to a zero byte.
        const bool ascii = row.radio == &UI_SPTestPage::radioASCII;
        respond(page, SPTestPage::kCmdReceived,
                ascii ? row.shown.toUtf8() + QByteArray("\0z", 2) : row.payload);
        respond(page, SPTestPage::kCmdSend, QByteArray("\x01"));
        QCOMPARE(record(page), QStringLiteral("[T] Send: \n%1\n\n[T] Receive: \n%1\n").arg(row.shown));
        QCOMPARE(colourOf(page, QStringLiteral("Send:")), QColor(58, 95, 205));
        QCOMPARE(colourOf(page, QStringLiteral("Receive:")), QColor(50, 205, 50));
        // Markup typed by the operator is escaped, never interpreted.
        QVERIFY(!page.form()->textBrowserRecord->toHtml().contains(QStringLiteral("<b>")));
        QVERIFY(page.isPortOpen());
    }
    // Line ends received as text make line breaks.
    SPTestPage page;
    page.form()->radioASCII->click();
    respond(page, SPTestPage::kCmdReceived, QByteArray("ok\r\nnext"));
    QCOMPARE(record(page), QStringLiteral("[T] Receive: \nok\n\nnext\n"));
    QVERIFY(page.form()->textBrowserRecord->toHtml().contains(QStringLiteral("ok<br /><br />next")));
    // Clear sends nothing; codes of other pages are not the page's.
    QSignalSpy spy(&page, &SPTestPage::sendCmd);
    page.form()->btnClear->click();
    respond(page, 0x000A, QByteArray("\x01"));
    respond(page, 0x0009, QByteArray("\x01"));
    QVERIFY(page.form()->textBrowserRecord->document()->isEmpty());
    QVERIFY(!page.isPortOpen());
    QCOMPARE(spy.count(), 0);
}

void TestSPTestPage::replies()
{
    // Result 0 or no result byte: the port is (left) closed, with a box.
    for (const QByteArray& failed : {QByteArray("\x00", 1), QByteArray()}) {
        SPTestPage page;
        respond(page, SPTestPage::kCmdOpen, failed);
        QCOMPARE(boxes->take().summary(),
                 QStringLiteral("[Warning] Open device's serial port failed!"));
        respond(page, SPTestPage::kCmdOpen, QByteArray("\x01"));
        respond(page, SPTestPage::kCmdOpen, failed); // the flag is left as it is
        QCOMPARE(boxes->take().buttons, QStringList{MsgBox::sureText()});
        QVERIFY(page.isPortOpen());
        respond(page, SPTestPage::kCmdSend, failed);
        QCOMPARE(boxes->takeText(), QStringLiteral("Send data to device's serial port failed!"));
        QVERIFY(!page.isPortOpen());
        QCOMPARE(page.form()->btnConnect->text(), QStringLiteral("Connect"));
    }
    // A port name must fit its length byte.
    const std::pair<QString, bool> names[] = {
        {QString(255, 'p'), true}, {QString(256, 'p'), false}, {QString(128, QChar(0x00E9)), false}};
    for (const auto& name : names) {
        SPTestPage page;
        QSignalSpy spy(&page, &SPTestPage::sendCmd);
        page.form()->lineEditPortName->setText(name.first);
        page.form()->btnConnect->click();
        QCOMPARE(spy.count(), name.second ? 1 : 0);
        if (name.second)
            QCOMPARE(spy.at(0).at(1).toByteArray().size(), 262);
        else
            QCOMPARE(boxes->take().summary(),
                     QStringLiteral("[Tip] The port name must not be longer than 255 bytes!"));
    }
    // Not open: nothing is sent or recorded. An empty line sends nothing.
    LinkedPage<SPTestPage> rig(&CommTcp::gotSPTestRespond); // not connected
    QSignalSpy spy(&rig.page, &SPTestPage::sendCmd);
    send(rig.page, QStringLiteral("01"));
    QCOMPARE(boxes->take().summary(), QStringLiteral("[Warning] Port not opened!"));
    respond(rig.page, SPTestPage::kCmdOpen, QByteArray("\x02"));
    send(rig.page, QString());
    QCOMPARE(spy.count(), 0);
    QVERIFY(rig.page.form()->textBrowserRecord->document()->isEmpty());
    // Without a link the entry is still recorded and the port stays open.
    send(rig.page, QStringLiteral("0a"));
    QCOMPARE(boxes->takeText(), QStringLiteral("Device not connected!"));
    QCOMPARE(record(rig.page), QStringLiteral("[T] Send: \n0a \n"));
    QVERIFY(rig.page.isPortOpen());
}

void TestSPTestPage::modbusSlaveSession()
{
    LinkedPage<SPTestPage> rig(&CommTcp::gotSPTestRespond);
    QVERIFY(rig.start({"serial-peer=modbus", "serial-slave=1"}));
    UI_SPTestPage* ui = rig.page.form();
    ui->comboBoxParity->setCurrentIndex(1);
    ui->comboBoxFlowControl->setCurrentIndex(2);
    ui->lineEditPortName->setText(QStringLiteral("/dev/ttyS1"));
    ui->btnConnect->click();
    QVERIFY(rig.sim.waitForLog(QStringLiteral("serial port opened: name=/dev/ttyS1 rs485=0 "
                                              "baud=9600 data=8 parity=Even flow=Software stop=1")));
    QVERIFY(waitFor([&] { return rig.page.isPortOpen(); }));
    ui->radioModbus->click();
    // Registers 2 and 3 hold 0x1002 and 0x1003. A frame for another slave is
    // not answered; an unknown function gets an exception.
    send(rig.page, QStringLiteral("01 03 00 02 00 02"));
    send(rig.page, QStringLiteral("07 03 00 00 00 01"));
    send(rig.page, QStringLiteral("01 06 00 00 00 01"));
    QVERIFY(waitFor([&] { return record(rig.page).count(QLatin1String("Receive")) == 2; }));
    const QString text = record(rig.page);
    QVERIFY2(text.contains(QStringLiteral("Receive: \n01 03 04 10 02 10 03 ")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("Receive: \n01 86 01 ")), qPrintable(text));
    ui->btnConnect->click();
    QVERIFY(rig.sim.waitForLog(QStringLiteral("serial port closed")));
    QVERIFY(!rig.page.isPortOpen());
}

void TestSPTestPage::formAndRetranslation()
{
    SPTestPage page;
    UI_SPTestPage* ui = page.form();
    // The rows of the settings grid; the combo entries' order is on the wire.
    QWidget* grid[8][2] = {
        {ui->labelRS485, ui->checkBoxRS485},         {ui->labelPortName, ui->lineEditPortName},
        {ui->labelBaudRate, ui->comboBoxBaudRate},   {ui->labelDataBits, ui->comboBoxDataBits},
        {ui->labelFlowControl, ui->comboBoxFlowControl}, {ui->labelParity, ui->comboBoxParity},
        {ui->labelStopBits, ui->comboBoxStopBits},   {ui->btnClear, ui->btnConnect}};
    for (int row = 0; row < 8; ++row)
        for (int column = 0; column < 2; ++column) {
            QLayoutItem* item = ui->gridLayout->itemAtPosition(row, column);
            QCOMPARE(item ? item->widget() : static_cast<QWidget*>(nullptr), grid[row][column]);
        }
    QCOMPARE(ui->comboBoxBaudRate->itemText(7), QStringLiteral("115200"));
    QCOMPARE(ui->comboBoxBaudRate->currentText(), QStringLiteral("9600"));
    QCOMPARE(ui->comboBoxDataBits->currentText(), QStringLiteral("8"));
    QVERIFY(ui->textBrowserRecord->isReadOnly() && ui->textBrowserRecord->acceptRichText());
    // The send type follows the radio buttons, Hex first.
    QCOMPARE(page.currentSendType(), int(SPTestPage::Hex));
    ui->radioModbus->click();
    QCOMPARE(page.currentSendType(), int(SPTestPage::Modbus));
    ui->radioASCII->click();
    QCOMPARE(page.currentSendType(), int(SPTestPage::Ascii));
    ui->radioHex->click();
    QCOMPARE(page.currentSendType(), int(SPTestPage::Hex));

    ui->comboBoxFlowControl->setCurrentIndex(2);
    ui->comboBoxParity->setCurrentIndex(1);
    ui->comboBoxBaudRate->setCurrentIndex(5);
    respond(page, SPTestPage::kCmdOpen, QByteArray("\x01"));
    MarkingTranslator translator("SPTestPage");
    QCoreApplication::installTranslator(&translator);
    QCoreApplication::processEvents();
    for (const QLabel* label : page.findChildren<QLabel*>())
        QVERIFY2(label->text().startsWith('<'), qPrintable(label->text()));
    for (const QAbstractButton* button : page.findChildren<QAbstractButton*>())
        QVERIFY2(button->text().isEmpty() || button->text().startsWith('<'), qPrintable(button->text()));
    QCOMPARE(ui->labelBaudRate->text(), QStringLiteral("<Buad Rate:>"));
    QCOMPARE(ui->btnConnect->text(), QStringLiteral("<Connect>"));
    QCOMPARE(ui->comboBoxFlowControl->currentText(), QStringLiteral("<Software>"));
    QCOMPARE(ui->comboBoxParity->currentText(), QStringLiteral("<Even>"));
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
