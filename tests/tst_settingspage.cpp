// The settings and fixed parameters pages: frames, checks, INI files, boxes in both languages.
#include "mainwindow/mainwindow.h"
#include "pages/fixedparampage.h"
#include "pages/settingspage.h"
#include "pagetestutil.h"
#include "progtestutil.h"

#include <QtWidgets>

namespace {

void setPorts(const SettingsPage& page, const QStringList& ports)
{
    for (int row = 0; row < 4; ++row)
        page.form()->lePort[row]->setText(ports.value(row));
}

// The date field, then per row the port, "+"/"-" (un)checked, "x" if disabled: "date|22-x 23+".
QString state(const SettingsPage& page)
{
    QString text = page.form()->leDate->text() + '|';
    for (int row = 0; row < 4; ++row)
        text += page.form()->lePort[row]->text() + (page.form()->checkBoxPort[row]->isChecked() ? "+" : "-") +
                (page.form()->lePort[row]->isEnabled() ? " " : "x ");
    return text.chopped(1);
}

// The table as "key=value" rows; a missing cell reads as "?".
QStringList rows(const FixedParamPage& page)
{
    const QTableWidget* t = page.form()->tableWidget;
    const auto text = [t](int r, int c) { return t->item(r, c) ? t->item(r, c)->text() : "?"; };
    QStringList rows;
    for (int row = 0; row < t->rowCount(); ++row)
        rows << text(row, 0) + '=' + text(row, 1);
    return rows;
}

void setRows(FixedParamPage& page, const QStringList& rows)
{
    page.form()->tableWidget->setRowCount(0);
    for (int row = 0; row < rows.size(); ++row) {
        page.addFixedParam();
        page.form()->tableWidget->item(row, 0)->setText(rows.at(row).section('=', 0, 0));
        page.form()->tableWidget->item(row, 1)->setText(rows.at(row).section('=', 1));
    }
}

const QString kQuestion = QStringLiteral("There is item or value is empty! And these will no be "
                                         "set to device!\nDo you want to continue?");

} // namespace

class TestDevicePages : public BoxCheckedTest
{
    Q_OBJECT
private Q_SLOTS:
    void settingsPageUnconnected()
    {
        LinkedPage<SettingsPage> rig(&CommTcp::gotSettingsRespond);
        SettingsPage& page = rig.page;
        UI_SettingPage* ui = page.form();
        QCOMPARE(state(page), QStringLiteral("|+ + + +"));
        // 65535 cannot be typed; 0 can, and is refused by "Write".
        const char* typed[][2] = {{"65535", "6553"}, {"65534", "65534"}, {"0", "0"}, {"8a0", "80"}};
        for (const auto& t : typed) {
            ui->lePort[0]->clear();
            QTest::keyClicks(ui->lePort[0], t[0]);
            QCOMPARE(ui->lePort[0]->text(), QString(t[1]));
        }
        // A check box enables its field, which keeps its value (disabling: see answers).
        setPorts(page, {"1", "2", "8080", "4"});
        ui->checkBoxPort[2]->setChecked(false);
        QTest::mouseClick(ui->checkBoxPort[2], Qt::LeftButton);
        QCOMPARE(state(page), QStringLiteral("|1+ 2+ 8080+ 4+"));

        // Every port is checked, that of a disabled row too.
        ui->checkBoxPort[3]->setChecked(false);
        for (const QStringList& ports : {QStringList{"0", "23", "80", "4"}, {"22", "65535", "80", "4"},
                                         {"22", "", "80", "4"}, {"22", "23", "https", "4"},
                                         {"22", "23", "80", ""}, {"22", "23", "80", "70000"}}) {
            setPorts(page, ports);
            QTest::mouseClick(ui->btnWrite, Qt::LeftButton);
            QCOMPARE(boxes->take().summary(), QStringLiteral("[Warning] Port settings error!"));
        } // a frame sent would show "Device not connected!"

        // The link says it is not connected; each write leaves its box pending (hidden by OK), a
        // second write replaces the first one's, a late answer ends it.
        setPorts(page, {"22", "23", "80", "443"});
        QTest::mouseClick(ui->btnWrite, Qt::LeftButton);
        QPointer<QMessageBox> first = page.progressBox();
        QTest::mouseClick(ui->btnWrite, Qt::LeftButton);
        QPointer<QMessageBox> second = page.progressBox();
        for (const char* text : {"Device not connected!", "Writing data...", "Device not connected!",
                                 "Writing data..."})
            QCOMPARE(boxes->takeText(), QString(text));
        QVERIFY(second && first != second && second->windowModality() == Qt::ApplicationModal);
        QVERIFY(waitFor([&] { return first.isNull(); })); // replaced, not leaked
        QVERIFY(second && !second->isVisible());
        respond(page, 0x0011, QByteArray(1, '\1'));
        QCOMPARE(boxes->takeText(), QStringLiteral("Operation success!"));
        QVERIFY(waitFor([&] { return second.isNull(); }));
        page.handleRespond(0x0011, nullptr, 0); // with no write pending
        QCOMPARE(boxes->takeText(), QStringLiteral("Operation failed!"));
    }

    // Both pages wired by the main window to a scripted device: frames both ways, byte for byte.
    void framesOnTheWire()
    {
        TempWorkDir dir;
        FakeDevice device;
        MainWindow window;
        window.commLink()->setPort(device.port());
        window.commLink()->connectDevice(QStringLiteral("127.0.0.1"));
        QVERIFY(device.waitForClient());
        SettingsPage& page = *window.settingsPageWidget();
        FixedParamPage& fixed = *window.fixedParamPageWidget();
        setPorts(page, {"23", "65534", "256", "1"});
        page.form()->checkBoxPort[0]->setChecked(false);
        page.form()->checkBoxPort[3]->setChecked(false);
        setRows(fixed, {"name=Pump 7", "devserial=FG2311-0815", "ethaddr=0a1B2c3D4e5F"});
        QTest::mouseClick(page.form()->btnDeviceDate, Qt::LeftButton);
        QTest::mouseClick(page.form()->btnRead, Qt::LeftButton);
        QTest::mouseClick(page.form()->btnWrite, Qt::LeftButton);
        QCOMPARE(boxes->takeText(), QStringLiteral("Writing data..."));
        QTest::mouseClick(fixed.form()->btnRead, Qt::LeftButton);
        QTest::mouseClick(fixed.form()->btnWrite, Qt::LeftButton);
        const QByteArray sent =
            QByteArray::fromHex("680002000670 68000200107a 68000e001100001701fffe0101000000019f "
                                "680002000e78 68004b000f") +
            R"({"devserial":"FG2311-0815","ethaddr":"0a:1B:2c:3D:4e:5F","name":"Pump 7"})" + '\x22';
        QVERIFY(device.waitForReceived(sent.size()));
        QCOMPARE(device.received(), sent);

        // The date; the ports (00 00 16: port 22, off; 05 01 BB: 443, on); a write result; the
        // link's "date set"; parameters (a number reads as empty); two write results.
        device.write(QByteArray::fromHex("6800150006") + "2024-03-03 14:05:09" +
                     QByteArray::fromHex("32 68000e00100000160501bb00005001fffeab 6800030011017d "
                                         "680002000771 68002e000e") +
                     R"({"name":"GW","ethaddr":"001a2b3c4d5e","a":1})" +
                     QByteArray::fromHex("f1 680003000f017b 680003000f007a"));
        for (const char* text :
             {"[Information] Read data finished! (page)", "[Information] Operation success!",
              "[Information] Set device's date success!", "[Information] Read data finished! (page)",
              "[Information] Operation success!", "[Warning] Operation failed!"}) {
            const BoxRecorder::Box box = boxes->waitForBox();
            QCOMPARE(box.summary() + (box.parent ? " (page)" : ""), QString(text));
        }
        QCOMPARE(state(page), QStringLiteral("2024-03-03 14:05:09|22-x 443+ 80-x 65534+"));
        QCOMPARE(rows(fixed), (QStringList{"a=", "ethaddr=00:1a:2b:3c:4d:5e", "name=GW"}));

        // "Sync date" sends the workstation's clock, not the field's date.
        device.clearReceived();
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-999);
        QTest::mouseClick(page.form()->btnSyncDate, Qt::LeftButton);
        QVERIFY(device.waitForReceived(25));
        QCOMPARE(device.received().left(5).toHex(), QByteArray("6800150007"));
        const auto date = QDateTime::fromString(device.received().mid(5, 19), "yyyy-MM-dd hh:mm:ss");
        QVERIFY(date >= before && date <= QDateTime::currentDateTime());
    }

    // Each answer goes to both pages: its own page acts on it, the other not.
    void answers_data()
    {
        QTest::addColumn<int>("cmd");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("box"); // "[title] text", " (page)" when the page is its parent
        QTest::addColumn<QString>("after"); // the settings page's state and the table's rows
        const QString same = QStringLiteral("old|1+ 2+ 3+ 4-x keep=me");
        const QString date = QStringLiteral("[Tip] Read date failed!");
        QTest::newRow("date: a zero byte ends it")
            << 6 << QByteArray("2024-03-03\0 14:05:0", 19) << "" << "2024-03-03|1+ 2+ 3+ 4-x keep=me";
        QTest::newRow("date: utf-8") << 6 << QByteArray("\xe6\x97\xa5\xe6\x9c\x9f 2024-03-03 1") << ""
                                     << QString::fromUtf8("\xe6\x97\xa5\xe6\x9c\x9f 2024-03-03 1|1+ 2+ 3+ 4-x keep=me");
        QTest::newRow("date of 20 bytes") << 6 << QByteArray("2024-03-03 14:05:09Z") << date << same;
        QTest::newRow("date: empty") << 6 << QByteArray() << date << same;
        for (int size : {0, 11, 13})
            QTest::addRow("ports of %d bytes", size)
                << 0x10 << QByteArray(size, '\1') << "[Tip] Read data failed!" << same;
        for (int cmd : {0x11, 0x0F}) {
            QTest::addRow("0x%02x: written, two bytes", cmd)
                << cmd << QByteArray::fromHex("02ff") << "[Information] Operation success!" << same;
            QTest::addRow("0x%02x: not written", cmd)
                << cmd << QByteArray::fromHex("0001") << "[Warning] Operation failed!" << same;
            QTest::addRow("0x%02x: no result byte", cmd)
                << cmd << QByteArray() << "[Warning] Operation failed!" << same;
        }
        QTest::newRow("parameters that are not strings")
            << 0x0E << QByteArray(R"({"b":"x","a":1,"c":[1],"d":null,"e":{"f":"g"}})")
            << "[Information] Read data finished! (page)" << "old|1+ 2+ 3+ 4-x a= b=x c= d= e=";
        const QByteArray refused[] = {"[\"name\"]", "", QByteArray("{\"a\":\"b\"}", 10), "{\"a\":\"b\"}x",
                                      "{\"a\":\"b\",}", "\"ethaddr\"", "{\"\xe7\xbd\":\"x\""};
        for (const QByteArray& bad : refused) // an array, nothing, a zero byte after, ...
            QTest::addRow("parameters refused: %s", bad.toHex().constData())
                << 0x0E << bad << "[Warning] Read data failed! (page)" << same;
        for (int cmd : {0x0003, 0x0007, 0x0012, 0x0013, 0x010E})
            QTest::addRow("0x%04x", cmd) << cmd << QByteArray(R"({"x":"2024-03-03 "})") << "" << same;
    }

    void answers()
    {
        QFETCH(int, cmd);
        QFETCH(QByteArray, payload);
        QFETCH(QString, box);
        QFETCH(QString, after);
        SettingsPage page;
        FixedParamPage fixed;
        page.form()->leDate->setText(QStringLiteral("old"));
        setPorts(page, {"1", "2", "3", "4"});
        page.form()->checkBoxPort[3]->setChecked(false);
        setRows(fixed, {"keep=me"});
        respond(page, cmd, payload);
        respond(fixed, cmd, payload);
        const BoxRecorder::Box shown = boxes->take(); // none: an empty title
        QCOMPARE(shown.title.isEmpty() ? "" : shown.summary() + (shown.parent ? " (page)" : ""), box);
        QCOMPARE(state(page) + ' ' + rows(fixed).join(' '), after);
    }

    // Every kind of box and dialog runs for real, in English and then in Chinese. A timer answers
    // each: "Yes" or the one button, a file name; the device answers the port write while its
    // progress box is up, which closes it (the result box runs inside the progress box's run).
    void realRunsInBothLanguages()
    {
        TempWorkDir dir;
        QTranslator zh;
        QVERIFY(zh.load(QStringLiteral(FM_QM_PATH)));
        FakeDevice device;
        LinkedPage<SettingsPage> rig(&CommTcp::gotSettingsRespond);
        QVERIFY(rig.connectTo(device));
        setPorts(rig.page, {"22", "23", "80", "443"});
        QString file;
        QStringList seen;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible() || modal->property("seen").toBool())
                return;
            modal->setProperty("seen", true);
            QTimer::singleShot(10000, modal, [modal] { static_cast<QDialog*>(modal)->reject(); }); // no hang
            seen << modal->windowTitle();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                seen.last() += ": " + box->text();
                for (QAbstractButton* button : box->buttons())
                    seen.last() += " [" + button->text() + ']';
                if (box == rig.page.progressBox())
                    device.write(QByteArray::fromHex("6800030011017d")); // closes it
                else
                    box->buttons().value(0)->click(); // "Yes" or the one button
            } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(file);
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            }
        });
        poll.start(10);
        const MsgBox::Interceptor recorder = MsgBox::setInterceptor(nullptr);
        const std::shared_ptr<void> restore(nullptr, [&](void*) {
            MsgBox::setInterceptor(recorder);
            QCoreApplication::removeTranslator(&zh);
        });
        for (const QString& name : {QStringLiteral("GW"), QStringLiteral("网关")}) {
            FixedParamPage fixed;
            setRows(fixed, {"name=" + name, "devserial="});
            file = dir.file(name + ".ini");
            QSignalSpy sent(&fixed, &FixedParamPage::sendCmd);
            rig.page.form()->btnWrite->click();
            fixed.sendFixedParam();
            fixed.backupFixedParam();
            setRows(fixed, {});
            fixed.loadFixedParam();
            QCOMPARE(sent.count(), 1);
            QCOMPARE(rows(fixed), QStringList{"name=" + name});
            QCoreApplication::installTranslator(&zh); // for the second round
        }
        QVERIFY(!rig.page.progressBox());
        QTRY_COMPARE(rig.page.form()->btnSyncDate->text(), QStringLiteral("同步日期"));
        QCOMPARE(seen, (QStringList{
            "Information: Writing data... [OK]", "Information: Operation success! [Sure]",
            "Warning: " + kQuestion + " [Yes] [No]", "Save fixed parameter file",
            "Information: Save fixed parameter success! [Sure]", "Choose fixed parameter file",
            "Information: Load fixed parameter success! [Sure]", "信息: 正在写入数据... [OK]",
            "信息: 操作成功！ [确定]", "警告: 存在项目或值为空的行！这些行将不会写入设备！\n是否继续？ [是] [否]",
            "保存固定参数文件", "信息: 保存固定参数成功！ [确定]", "选择固定参数文件",
            "信息: 加载固定参数成功！ [确定]"}));
    }

    // Writes from the table: the warning shown (empty: none), what is sent (empty: nothing).
    void fixedWriteChecks()
    {
        const QString bad = QStringLiteral("Invaild settings!");
        const struct { QStringList rows; QString box; QByteArray sent; } cases[] = {
            {{}, "", ""},
            {{"name=GW", "ethaddr=xx:xx:xx:xx:xx:xx"}, bad, ""}, {{"name=GW", "ethaddr="}, bad, ""},
            {{"name=GW", "ethaddr=00:11:22:33:44"}, bad, ""},
            {{"name=GW", "ethaddr=00:11:22:33:44:55:"}, bad, ""},
            {{"name=", "=orphan"}, bad, ""},                             // no complete row
            {{"name=GW", "mac=zz"}, "", R"({"mac":"zz","name":"GW"})"}, // no MAC check
            {{"name=1", "ethaddr=AA:BB:CC:DD:EE:FF", "name=泵站"}, "", // the lower row wins
             "{\"ethaddr\":\"AA:BB:CC:DD:EE:FF\",\"name\":\"\xe6\xb3\xb5\xe7\xab\x99\"}"},
            {{"name=GW", "devserial="}, kQuestion, ""},
            {{"name=GW", "=lost", "devserial=", "hwver=C1"}, kQuestion, R"({"hwver":"C1","name":"GW"})"},
        };
        for (const auto& c : cases) {
            FixedParamPage page;
            setRows(page, c.rows);
            QSignalSpy spy(&page, &FixedParamPage::sendCmd);
            if (c.box == kQuestion)
                boxes->answerNext(c.sent.isEmpty() ? MsgBox::Answer::No : MsgBox::Answer::Yes);
            QTest::mouseClick(page.form()->btnWrite, Qt::LeftButton);
            const BoxRecorder::Box shown = boxes->take(); // none: an empty title
            QCOMPARE(shown.title + shown.text, c.box.isEmpty() ? c.box : "Warning" + c.box);
            QVERIFY(c.box.isEmpty() || shown.parent == &page);
            QCOMPARE(static_cast<QList<QVariantList>>(spy),
                     (c.sent.isEmpty() ? QList<QVariantList>() : QList<QVariantList>{{0x0F, c.sent}}));
            QCOMPARE(rows(page), c.rows); // a write never changes the table
        }
    }

    void fixedTableAndIniFiles()
    {
        TempWorkDir dir;
        FileAnswer files; // Cancel
        FixedParamPage page;
        QTableWidget* table = page.form()->tableWidget;
        page.backupFixedParam();
        QCOMPARE(boxes->take().summary(), QStringLiteral("[Information] No content to backup!"));
        const QStringList filled{"name=Pump 7, east", "devserial=FG2311-0815",
                                 "ethaddr=00:1A:2B:3C:4D:5E", "skipped=", "=skipped too"};
        setRows(page, filled);
        page.backupFixedParam();
        page.loadFixedParam();
        QCOMPARE(files.request(0), "Save|Save fixed parameter file|(*.ini)|" + appDir());
        QCOMPARE(files.request(1), "Open|Choose fixed parameter file|(*.ini)|" + appDir());
        QCOMPARE(rows(page), filled);

        // Backup merges into the file: what the table does not name stays.
        files.path = dir.file(QStringLiteral("device7.ini"));
        QVERIFY(ProgTest::writeFile(files.path, "[fixed_param]\nname=old\nextra=kept\n\n[other]\nkey=value\n"));
        page.backupFixedParam();
        QCOMPARE(boxes->takeText(), QStringLiteral("Save fixed parameter success!"));
        QCOMPARE(ProgTest::readFile(files.path),
                 QByteArray("[fixed_param]\ndevserial=FG2311-0815\nethaddr=00:1A:2B:3C:4D:5E\n"
                            "extra=kept\nname=\"Pump 7, east\"\n\n[other]\nkey=value\n"));

        // Load: the group only, in the store's order; a bare MAC is formatted.
        QVERIFY(ProgTest::writeFile(files.path, "[General]\nname=not this\n\n[fixed_param]\n"
                                                "name=GW, east\nethaddr=001a2b3c4d5e\n"));
        page.loadFixedParam();
        QCOMPARE(boxes->takeText(), QStringLiteral("Load fixed parameter success!"));
        QCOMPARE(rows(page), (QStringList{"ethaddr=00:1a:2b:3c:4d:5e", "name=GW, east"}));
        QCOMPARE(table->item(1, 0)->textAlignment(), int(Qt::AlignCenter));

        // A file that cannot be written is reported; a missing one reads as empty.
        files.path = dir.file(QStringLiteral("device7.ini/params.ini"));
        page.backupFixedParam();
        QCOMPARE(boxes->take().summary(), QStringLiteral("[Warning] Save fixed parameter failed!"));
        page.loadFixedParam();
        QCOMPARE(boxes->takeText(), QStringLiteral("Load fixed parameter success!"));
        QCOMPARE(rows(page), QStringList());
        page.handleRespond(0x0E, nullptr, 0); // an answer with no pointer at all
        QCOMPARE(boxes->takeText(), QStringLiteral("Read data failed!"));

        setRows(page, {"old=1", "older=2", "oldest=3", "gone=4"});
        QTest::mouseClick(page.form()->btnReset, Qt::LeftButton);
        QTest::mouseClick(page.form()->btnAdd, Qt::LeftButton);
        QCOMPARE(rows(page), (QStringList{"name=", "devserial=", "ethaddr=", "="}));
        QCOMPARE(table->item(3, 1)->textAlignment() & table->item(0, 0)->textAlignment(), int(Qt::AlignCenter));

        // Twelve characters in the "ethaddr" row get colons, unchecked; eleven characters, other
        // rows, a key set afterwards, and a value cell without its key cell not.
        setRows(page, {"ethaddr=xxxxxxxxxxxx", "ethaddr=001a2b3c4d5", "name=001a2b3c4d5e", "="});
        table->item(2, 0)->setText(QStringLiteral("ethaddr"));
        delete table->takeItem(3, 0);
        table->item(3, 1)->setText(QStringLiteral("001a2b3c4d5e"));
        QCOMPARE(rows(page), (QStringList{"ethaddr=xx:xx:xx:xx:xx:xx", "ethaddr=001a2b3c4d5",
                                          "ethaddr=001a2b3c4d5e", "?=001a2b3c4d5e"}));
    }
};

QTEST_MAIN(TestDevicePages)
#include "tst_settingspage.moc"
