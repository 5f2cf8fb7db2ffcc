// The set-IP dialog: its form and the validation of its three address
// fields.
#include "discovery/dialogsetip.h"
#include "testutil.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

class TestDialogSetIP : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void form()
    {
        DialogSetIP dialog;
        QCOMPARE(dialog.objectName(), QString("DialogSetIP"));
        QCOMPARE(dialog.size(), QSize(300, 180));
        QCOMPARE(dialog.windowTitle(), QString("Set IP Address"));
        // Only a close button (Qt adds the title and system menu hints itself).
        QVERIFY(dialog.windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!(dialog.windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowContextHelpButtonHint)));
        const UI_DialogSetIP* ui = dialog.form();
        QCOMPARE(ui->label->text(), QString("Interface:"));
        QCOMPARE(ui->label_2->text(), QString("IP Address:"));
        QCOMPARE(ui->label_3->text(), QString("Netmask:"));
        QCOMPARE(ui->label_4->text(), QString("Gateway:"));
        QCOMPARE(ui->btnSure->text(), QString("Sure"));
        QCOMPARE(ui->leNetmask->placeholderText(), QString("optional"));
        QCOMPARE(ui->leGateway->placeholderText(), QString("optional"));
        QCOMPARE(ui->leIP->alignment(), Qt::AlignCenter);
        QVERIFY(ui->leNetmask->inputMask().isEmpty());
        QVERIFY(ui->leGateway->text().isEmpty());
        for (const char* name : {"comboBoxIntf", "leIP", "leNetmask", "leGateway", "btnSure"})
            QVERIFY2(dialog.findChild<QWidget*>(name), name);
    }

    void interfacesAppend()
    {
        DialogSetIP dialog;
        dialog.setInterfaces({"eth0", "eth1"});
        dialog.setInterfaces({"wlan0"});
        QComboBox* combo = dialog.form()->comboBoxIntf;
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->itemText(2), QString("wlan0"));
        QCOMPARE(dialog.values(), (QStringList{"eth0", "", "", ""}));
    }

    void validation_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("netmask");
        QTest::addColumn<QString>("gateway");
        QTest::addColumn<QString>("warning"); // empty: accepted

        QTest::newRow("ip only") << "10.0.0.9" << "" << "" << "";
        QTest::newRow("all three") << "10.0.0.9" << "255.255.255.0" << "10.0.0.1" << "";
        QTest::newRow("zeros") << "0.0.0.0" << "0.0.0.0" << "0.0.0.0" << "";
        QTest::newRow("all ones") << "255.255.255.255" << "255.255.255.255" << "255.255.255.255" << "";
        QTest::newRow("netmask bits not checked") << "10.0.0.9" << "255.0.255.0" << "" << "";
        QTest::newRow("empty ip") << "" << "" << "" << "IP address is invalid!";
        QTest::newRow("ip 256") << "256.1.1.1" << "" << "" << "IP address is invalid!";
        QTest::newRow("ip three parts") << "1.2.3" << "" << "" << "IP address is invalid!";
        QTest::newRow("ip leading zero") << "01.2.3.4" << "" << "" << "IP address is invalid!";
        QTest::newRow("ip leading blank") << " 1.2.3.4" << "" << "" << "IP address is invalid!";
        QTest::newRow("ip trailing blank") << "1.2.3.4 " << "" << "" << "IP address is invalid!";
        QTest::newRow("bad netmask") << "1.2.3.4" << "255.255.255.256" << "" << "Netmask is invalid!";
        QTest::newRow("blank netmask") << "1.2.3.4" << " " << "" << "Netmask is invalid!";
        QTest::newRow("bad gateway") << "1.2.3.4" << "255.0.0.0" << "1.2.3" << "Gateway is invalid!";
        QTest::newRow("order: ip first") << "x" << "y" << "z" << "IP address is invalid!";
        QTest::newRow("order: netmask before gateway") << "1.2.3.4" << "y" << "z"
                                                       << "Netmask is invalid!";
    }
    void validation()
    {
        QFETCH(QString, ip);
        QFETCH(QString, netmask);
        QFETCH(QString, gateway);
        QFETCH(QString, warning);
        BoxRecorder boxes;
        DialogSetIP dialog;
        dialog.setInterfaces({"eth0"});
        dialog.form()->leIP->setText(ip);
        dialog.form()->leNetmask->setText(netmask);
        dialog.form()->leGateway->setText(gateway);
        dialog.show();
        dialog.form()->btnSure->click();
        if (warning.isEmpty()) {
            QCOMPARE(boxes.count(), 0);
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.values(), (QStringList{"eth0", ip, netmask, gateway}));
            return;
        }
        QCOMPARE(boxes.count(), 1);
        const BoxRecorder::Box box = boxes.take();
        QCOMPARE(box.title, QString("Warning"));
        QCOMPARE(box.text, warning);
        QCOMPARE(box.buttons, QStringList{"Sure"});
        QCOMPARE(box.icon, QMessageBox::Warning);
        // The dialog stays open with its fields as they were.
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.values(), (QStringList{"eth0", ip, netmask, gateway}));
    }

    void closeRejects()
    {
        DialogSetIP dialog;
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(TestDialogSetIP)
#include "tst_dialogsetip.moc"
