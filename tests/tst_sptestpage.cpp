// The serial-port test page: frames, send modes, record, replies, devsim's Modbus slave, form.
#include "pages/sptestpage.h"
#include "pagetestutil.h"

#include <QtTest>
#include <QtWidgets>

namespace {

void send(SPTestPage& page, const QString& text, bool byEnter = false) // "Send" or Enter
{
    page.form()->lineEditSend->setText(text);
    if (byEnter)
        QTest::keyClick(page.form()->lineEditSend, Qt::Key_Return);
    else
        page.form()->btnSend->click();
}

// The record without time stamps; U+2028 is a line break inside a paragraph.
QString record(const SPTestPage& page)
{
    static const QRegularExpression stamp(QStringLiteral("\\[[-\\d :.]{23}\\] "));
    QString t = page.form()->textBrowserRecord->toPlainText();
    return t.replace(stamp, QStringLiteral("[T] ")).replace(QChar(0x2028), QLatin1Char('\n'));
}

} // namespace

class TestSPTestPage : public BoxCheckedTest
{
    Q_OBJECT
private Q_SLOTS:
    void framesOnTheWire();
    void sendModes();
    void replies();
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
    // Closing is an empty 0x000B, at once.
    fake.clearReceived();
    ui->btnConnect->click();
    QVERIFY(!rig.page.isPortOpen());
    QVERIFY(fake.waitForReceived(6));
    QCOMPARE(fake.received().toHex(' '), QByteArray("68 00 02 00 0b 75"));
    // devsim's Modbus slave: registers 2 and 3 hold 0x1002 and 0x1003; the answer has its CRC.
    LinkedPage<SPTestPage> sim(&CommTcp::gotSPTestRespond);
    QVERIFY(sim.start({"serial-peer=modbus", "serial-slave=1"}));
    sim.page.form()->lineEditPortName->setText(QStringLiteral("/dev/ttyS1"));
    sim.page.form()->btnConnect->click();
    QVERIFY(waitFor([&] { return sim.page.isPortOpen(); }));
    sim.page.form()->radioModbus->click();
    send(sim.page, QStringLiteral("01 03 00 02 00 02"));
    QVERIFY(waitFor([&] { return record(sim.page).contains(QLatin1String("Receive")); }));
    QVERIFY(record(sim.page).endsWith(QStringLiteral("Receive: \n01 03 04 10 02 10 03 12 f2 \n")));
    sim.page.form()->btnConnect->click();
    QVERIFY(sim.sim.waitForLog(QStringLiteral("serial port closed")));
}

void TestSPTestPage::sendModes()
{
    using U = UI_SPTestPage;
    // Radio, input, payload sent (hex), shown.
    const std::tuple<QRadioButton* U::*, QString, const char*, QString> rows[] = {
        {&U::radioHex, "zz 1ff", "00ff", "00 ff "},
        {&U::radioASCII, "a<b", "613c62", "a<b"},
        {&U::radioASCII, QStringLiteral("é€'\"&"), "e93f272226", QStringLiteral("é€'\"&")},
    };
    for (const auto& [radio, input, payload, shown] : rows) {
        SPTestPage page;
        (page.form()->*radio)->click();
        respond(page, SPTestPage::kCmdOpen, QByteArray("\x01"));
        QSignalSpy spy(&page, &SPTestPage::sendCmd);
        const bool ascii = radio == &U::radioASCII;
        send(page, input, ascii); // Enter for text, "Send" for hex
        QCOMPARE(spy.value(0), (QVariantList{0x000C, QByteArray::fromHex(payload)}));
        // The echo is shown in the same form; as text it is UTF-8, up to a zero byte.
        respond(page, SPTestPage::kCmdReceived,
                ascii ? shown.toUtf8() + QByteArray("\0z", 2) : QByteArray::fromHex(payload));
        respond(page, SPTestPage::kCmdSend, QByteArray("\x01"));
        QCOMPARE(record(page), QStringLiteral("[T] Send: \n%1\n\n[T] Receive: \n%1\n").arg(shown));
        // Send and receive colours; markup typed by the operator is escaped.
        const QString html = page.form()->textBrowserRecord->toHtml();
        QVERIFY(html.contains("color:#3a5fcd;\">[") && html.contains("color:#32cd32;\">["));
        QVERIFY(!html.contains(QStringLiteral("<b>")) && page.isPortOpen());
    }
    // Line ends received as text make line breaks.
    SPTestPage page;
    page.form()->radioASCII->click();
    respond(page, SPTestPage::kCmdReceived, QByteArray("ok\r\nnext"));
    QCOMPARE(record(page), QStringLiteral("[T] Receive: \nok\n\nnext\n"));
    QVERIFY(page.form()->textBrowserRecord->toHtml().contains("ok<br /><br />next"));
    // Clear empties the record; codes of other pages are not the page's.
    page.form()->btnClear->click();
    respond(page, 0x000A, QByteArray("\x01"));
    respond(page, 0x0009, QByteArray("\x01"));
    QVERIFY(page.form()->textBrowserRecord->document()->isEmpty() && !page.isPortOpen());
}

void TestSPTestPage::replies()
{
    // Result 0 or no result byte: the port is (left) closed, with a box.
    for (const QByteArray& failed : {QByteArray("\x00", 1), QByteArray()}) {
        SPTestPage page;
        respond(page, SPTestPage::kCmdOpen, failed);
        QCOMPARE(boxes->take().summary(), "[Warning] Open device's serial port failed!");
        respond(page, SPTestPage::kCmdOpen, QByteArray("\x01"));
        respond(page, SPTestPage::kCmdOpen, failed); // the flag is left as it is
        QCOMPARE(boxes->take().buttons, QStringList{MsgBox::sureText()});
        QVERIFY(page.isPortOpen());
        respond(page, SPTestPage::kCmdSend, failed);
        QCOMPARE(boxes->takeText(), QStringLiteral("Send data to device's serial port failed!"));
        QVERIFY(!page.isPortOpen() && page.form()->btnConnect->text() == "Connect");
    }
    // A port name must fit its length byte.
    for (int length : {255, 256}) {
        SPTestPage page;
        QSignalSpy spy(&page, &SPTestPage::sendCmd);
        page.form()->lineEditPortName->setText(QString(length, 'p'));
        page.form()->btnConnect->click();
        QCOMPARE(spy.value(0).value(1).toByteArray().size(), length == 255 ? 262 : 0);
    }
    QCOMPARE(boxes->take().summary(), "[Tip] The port name must not be longer than 255 bytes!");
    // Not open: nothing is sent or recorded. An empty line sends nothing.
    LinkedPage<SPTestPage> rig(&CommTcp::gotSPTestRespond); // not connected
    QSignalSpy spy(&rig.page, &SPTestPage::sendCmd);
    send(rig.page, QStringLiteral("01"));
    QCOMPARE(boxes->take().summary(), QStringLiteral("[Warning] Port not opened!"));
    respond(rig.page, SPTestPage::kCmdOpen, QByteArray("\x02"));
    send(rig.page, QString());
    QCOMPARE(spy.count(), 0); // the record below holds nothing before "0a"
    // Without a link the entry is still recorded and the port stays open.
    send(rig.page, QStringLiteral("0a"));
    QCOMPARE(boxes->takeText(), QStringLiteral("Device not connected!"));
    QCOMPARE(record(rig.page), QStringLiteral("[T] Send: \n0a \n"));
    QVERIFY(rig.page.isPortOpen());
}

void TestSPTestPage::formAndRetranslation()
{
    SPTestPage page;
    UI_SPTestPage* ui = page.form();
    // The rows of the settings grid; the combo entries' order is on the wire.
    QWidget* grid[] = {
        ui->labelRS485,       ui->checkBoxRS485,       ui->labelPortName, ui->lineEditPortName,
        ui->labelBaudRate,    ui->comboBoxBaudRate,    ui->labelDataBits, ui->comboBoxDataBits,
        ui->labelFlowControl, ui->comboBoxFlowControl, ui->labelParity,   ui->comboBoxParity,
        ui->labelStopBits,    ui->comboBoxStopBits,    ui->btnClear,      ui->btnConnect};
    for (int i = 0; i < 16; ++i) {
        QLayoutItem* item = ui->gridLayout->itemAtPosition(i / 2, i % 2);
        QCOMPARE(item ? item->widget() : nullptr, grid[i]);
    }
    QCOMPARE(ui->comboBoxBaudRate->itemText(7) + ui->comboBoxBaudRate->currentText() +
                 ui->comboBoxDataBits->currentText(), QStringLiteral("11520096008"));
    QVERIFY(ui->textBrowserRecord->isReadOnly() && ui->textBrowserRecord->acceptRichText());
    QCOMPARE(page.currentSendType(), int(SPTestPage::Hex)); // Hex first
    ui->comboBoxFlowControl->setCurrentIndex(2);
    ui->comboBoxParity->setCurrentIndex(1);
    ui->comboBoxBaudRate->setCurrentIndex(5);
    respond(page, SPTestPage::kCmdOpen, QByteArray("\x01"));
    MarkingTranslator translator("SPTestPage");
    QCoreApplication::installTranslator(&translator);
    QCoreApplication::processEvents();
    for (const QLabel* label : page.findChildren<QLabel*>())
        QCOMPARE(label->text().left(1), "<");
    for (const QAbstractButton* button : page.findChildren<QAbstractButton*>())
        QVERIFY(button->text().isEmpty() || button->text().startsWith('<'));
    QCOMPARE(ui->comboBoxFlowControl->currentText() + ui->comboBoxParity->currentText() +
                 ui->comboBoxParity->itemText(2) + ui->comboBoxBaudRate->currentText(),
             QStringLiteral("<Software><Even><Odd>38400"));
    QVERIFY(page.isPortOpen() && ui->btnConnect->text() == "<Disconnect>"); // still open
    QCoreApplication::removeTranslator(&translator);
    QCoreApplication::processEvents();
    QCOMPARE(ui->comboBoxFlowControl->currentText(), QStringLiteral("Software"));
}

QTEST_MAIN(TestSPTestPage)
#include "tst_sptestpage.moc"
