// The page: literal replies and link frames as rows, the menu; then whole searches against
// devsim behind a veth pair (netnslab.h), each its page's first (capture still opening).
#include "comm/commlink.h"
#include "discovery/devicesearch.h"
#include "discovery/devsereachpage.h"
#include "discovery/dialogsetip.h"
#include "netnslab.h"
#include "testutil.h"

#include <QtWidgets>
#include <QNetworkInterface>

namespace {

// A link frame from 02:AA:00:00:00:07: type, length (LE), JSON, CRC-16/MODBUS low byte first.
QByteArray frame(const char* typeAndLength, const QByteArray& json, const char* crc)
{
    return QByteArray::fromHex(QByteArray("02000000000102aa000000074d4600000001") + typeAndLength) + json + QByteArray::fromHex(crc);
}

// The device at 10.0.0.5, "RTU", one long entry eth0 with MAC 02:4D:46:00:00:05.
const QByteArray kRtu = QByteArray::fromHex("00251803525455001204657468300a000005ffffff00024d46000005");

// Opens the row's menu, picks `choice` (none when empty); returns the texts offered.
QStringList chooseFromMenu(DevSereachPage& page, QTreeWidgetItem* item, const QString& choice = {})
{
    QStringList texts;
    page.setMenuRunner([&](QMenu& menu) {
        for (QAction* action : menu.actions())
            texts << action->text();
        return menu.actions().value(texts.indexOf(choice));
    });
    page.form()->treeWidget->scrollToItem(item);
    page.onCustomContextMenuRequested(page.form()->treeWidget->visualItemRect(item).center());
    return texts;
}

QStringList hosts(DevSereachPage& page) // sorted
{
    QStringList result;
    for (QTreeWidgetItem* item : page.form()->treeWidget->findItems("*", Qt::MatchWildcard))
        result << item->text(0);
    return (result.sort(), result);
}

QTreeWidgetItem* row(DevSereachPage& page, const QString& host)
{
    return page.form()->treeWidget->findItems(host, Qt::MatchExactly).value(0);
}

QStringList texts(QTreeWidgetItem* item)
{
    QStringList result;
    for (int i = 0; i < 6; ++i)
        result << item->text(i);
    return result;
}

QString texts(QComboBox* combo) // joined with ','
{
    QStringList result;
    for (int i = 0; i < combo->count(); ++i)
        result << combo->itemText(i);
    return result.join(',');
}

} // namespace

#define NEEDS_LAB() if (!skipReason.isEmpty()) QSKIP(qPrintable("cannot create network namespaces: " + skipReason))

class TestDevSereachPage : public BoxCheckedTest
{
    Q_OBJECT

public Q_SLOTS: // what "Browse device" opens, instead of a browser
    void openUrl(const QUrl& url) { urls << url.toString(); }

private:
    NetnsLab lab;
    QString skipReason; // empty: the lab is up
    QStringList urls;

    static DevSereachPage::DialogRunner answer(const QString& ip, const QString& netmask)
    {
        return [=](DialogSetIP& dialog) {
            dialog.form()->leIP->setText(ip);
            dialog.form()->leNetmask->setText(netmask);
            return (dialog.form()->btnSure->click(), dialog.result());
        };
    }
    // A page on the host's interface `intf`, ready to search.
    std::unique_ptr<DevSereachPage> makePage(const QString& intf)
    {
        auto page = std::make_unique<DevSereachPage>();
        page->setPassInterval(150);
        page->resize(900, 500);
        page->show();
        if (!waitFor([&] { return page->form()->comboBoxIntf->findText(intf) >= 0; }, 5000))
            return nullptr;
        page->form()->comboBoxIntf->setCurrentText(intf);
        return page;
    }
    // Runs a search; waits until it is over and the devices have seen `requests` in all.
    static bool search(DevSereachPage& page, NsDevsim& devsim, const QString& request, int requests)
    {
        page.form()->btnRefresh->click();
        return waitFor([&] { return page.passesLeft() == 0 && devsim.count(request) >= requests; }, 10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!lab.setUp(&skipReason))
            qWarning("network namespace tests skipped: %s", qPrintable(skipReason));
        QDesktopServices::setUrlHandler("http", this, "openUrl");
    }

    void formAndInterfaces()
    {
        QList<NetIf> system{{"lo", "lo", "", 0x0B}, {"eth0", "eth0", "", 0x27}, {"ppp0", "ppp0", "", 0x37},
                            {"down0", "down0", "", 0x26}, {"eth1", "eth1", "", 0x27}, {"nomc0", "nomc0", "", 0x07}};
        DevSereachPage page;
        QTreeWidget* tree = page.form()->treeWidget;
        QCOMPARE(texts(tree->headerItem()), (QStringList{"Host", "Product", "Interface", "IP", "Netmask", "MAC"}));
        QCOMPARE(tree->contextMenuPolicy(), Qt::CustomContextMenu);
        // A language change sets the texts again.
        tree->headerItem()->setText(5, "x");
        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(&page, &change);
        QCOMPARE(tree->headerItem()->text(5), QString("MAC"));

        // Only up, running, broadcast and multicast interfaces, from the first tick on.
        page.setInterfaceSource([&] { return system; });
        QComboBox* combo = page.form()->comboBoxIntf;
        page.form()->btnRefresh->click();
        QCOMPARE(boxes->take().summary(), QString("[Search device] Network interface is not accessible!"));
        page.onTimerIntfTimeout();
        QCOMPARE(texts(combo), QString("eth0,eth1"));
        // The choice stays until a change (seen by the timer) refills the box, the first current.
        combo->setCurrentIndex(1);
        page.onTimerIntfTimeout();
        QCOMPARE(combo->currentText(), QString("eth1"));
        system << NetIf{"eth2", "eth2", "", 0x27};
        QTRY_COMPARE(texts(combo), QString("eth0,eth1,eth2"));
        QCOMPARE(combo->currentText() + QString::number(page.passesLeft()), QString("eth00"));
    }

    void rowsAndMenu()
    {
        DevSereachPage page;
        page.show();
        QTreeWidget* tree = page.form()->treeWidget;
        page.processDatagram(kRtu, QHostAddress("10.0.0.5"));
        page.processDatagram(QByteArray::fromHex("00251800000000"), QHostAddress("10.0.0.6"));
        // Not replies, broken ones, and the same device again by UDP and by link: nothing.
        for (const char* hex : {"0025", "002519050000000000", "002518ff41"})
            page.processDatagram(QByteArray::fromHex(hex), QHostAddress("10.0.0.7"));
        page.processDatagram(kRtu, QHostAddress("10.0.0.5"));
        page.onCommLinkNetworkInfo(R"({"host":"10.0.0.5","intfInfo":[["eth0","10.0.0.5","","02:4d:46:00:00:05"]]})");
        page.onCommLinkNetworkInfo("{\"host\":");
        // The newest on top; a 7-byte reply is "Unknown" without interfaces.
        QTreeWidgetItem *bare = tree->topLevelItem(0), *full = tree->topLevelItem(1);
        QCOMPARE(texts(bare), (QStringList{"10.0.0.6", "Unknown", "", "", "", ""}));
        QVERIFY(bare->data(0, DevSereachPage::kAddressRole) == "10.0.0.6" && !bare->data(0, DevSereachPage::kMacRole).isValid());
        QCOMPARE(full->data(0, DevSereachPage::kMacRole).toString(), QString("02:4D:46:00:00:05"));
        QCOMPARE(texts(full->child(0)), (QStringList{"", "", "eth0", "10.0.0.5", "255.255.255.0", "02:4D:46:00:00:05"}));
        QVERIFY(full->isExpanded() && full->childCount() == 1 && bare->childCount() == 0);

        // No "Set IP address" without interfaces; an interface row acts for its device; empty space: no menu.
        QCOMPARE(chooseFromMenu(page, bare), (QStringList{"Browse device", "Reboot"}));
        QCOMPARE(chooseFromMenu(page, full->child(0), "Browse device"), (QStringList{"Browse device", "Set IP address", "Reboot"}));
        bool menuShown = false;
        page.setMenuRunner([&](QMenu&) { return (menuShown = true, nullptr); });
        page.onCustomContextMenuRequested(QPoint(5, tree->viewport()->height() - 2));
        QVERIFY(!menuShown);
        QString offered; // the device's interface names, to a dialog without a parent
        page.setDialogRunner([&](DialogSetIP& dialog) {
            offered = texts(dialog.form()->comboBoxIntf) + (dialog.parentWidget() ? "parent" : "");
            return int(QDialog::Rejected);
        });
        chooseFromMenu(page, full, "Set IP address");
        QCOMPARE(offered, QString("eth0"));

        // Frames of one wake-up (a repeat, a bad check) are listed at once, the newest on top.
        QSignalSpy listed(&page, &DevSereachPage::deviceListed);
        const QByteArray d11 = frame("010000008a000000", R"({"host":"10.7.7.11","product":"LinkDev","intfInfo":[["eth0","10.7.7.11","255.255.255.0","02:aa:00:00:00:11"]]})", "589b");
        const QByteArray d12 = frame("0100000076000000", R"({"host":"10.7.7.12","intfInfo":[["eth0","10.7.7.12","255.255.255.0","02:aa:00:00:00:12"]]})", "4e33");
        page.commLink()->onFramesRecv({d11, d11, frame("0100000076000000", d12.mid(26, 90), "4e34"), d12});
        QCOMPARE(listed.count(), 2);
        QCOMPARE(hosts(page), (QStringList{"10.0.0.5", "10.0.0.6", "10.7.7.11", "10.7.7.12"}));
        QTreeWidgetItem* linked = tree->topLevelItem(1);
        QCOMPARE(linked->text(0) + linked->text(1) + linked->data(0, DevSereachPage::kMacRole).toString() + linked->child(0)->text(5),
                 QString("10.7.7.11LinkDev02:AA:00:00:00:1102:aa:00:00:00:11"));
        QVERIFY(tree->topLevelItem(0)->isExpanded() && linked->isExpanded());
        // Host on none of its interfaces: neither value; browsing opens "http://" alone.
        page.onCommLinkNetworkInfo(R"({"host":"10.9.9.9","intfInfo":[["eth0","10.1.1.1","",""]]})");
        QVERIFY(!tree->topLevelItem(0)->data(0, DevSereachPage::kAddressRole).isValid() && !tree->topLevelItem(0)->data(0, DevSereachPage::kMacRole).isValid());
        chooseFromMenu(page, tree->topLevelItem(0), "Browse device");
        QCOMPARE(urls, (QStringList{"http://10.0.0.5", "http://"}));

        // Operation results: a box for a valid one; none for bad JSON or check, or our own request.
        for (const QByteArray& result : {frame("030000002a000000", R"({"result":tru})", "9c3a"),
                                         frame("050000002b000000", R"({"result":true})", "663e"),
                                         frame("050000002b000000", R"({"result":true})", "673e"),
                                         frame("030000002c000000", R"({"result":false})", "6a2a"),
                                         frame("040000001c000000", "", "3710"),
                                         frame("050000001e000000", "{}", "a50a")})
            page.commLink()->onDataRecv(result);
        QString shown;
        for (const BoxRecorder::Box& box : boxes->boxes())
            shown += box.summary() + box.buttons.join(',') + QString::number(box.icon) + ';';
        boxes->clear();
        QCOMPARE(shown, QString("[Device Reply] Operation succeed!OK1;[Device Reply] Operation"
                                " failed!OK1;[Device Reply] Operation failed!OK1;"));
    }

    // One device in the host's subnet answering both ways, with a second interface; one outside it
    // (link frames only); one refusing to reboot; five sending broken answers of both kinds.
    void searchEndToEnd()
    {
        NEEDS_LAB();
        NsDevsim devsim;
        QStringList args{"--discovery", lab.deviceIf, "--assign", "--listen", "10.77.0.10", "--listen", "10.77.0.11", "--listen", "192.168.200.5",
                         "--range", "10.77.0.20-10.77.0.24"};
        for (const char* set : {"product=RTU-7", "10.77.0.10/extra-interfaces=eth1,172.16.0.9,255.255.0.0,02:aa:bb:cc:dd:01", "10.77.0.11/reboot-result=0",
                                "reboot-ms=100", "10.77.0.20/udp-fault=past-end", "10.77.0.20/link-fault=bad-crc", "10.77.0.21/udp-fault=truncated",
                                "10.77.0.21/link-fault=no-brace", "10.77.0.22/udp-fault=bad-magic", "10.77.0.22/link-fault=bad-json",
                                "10.77.0.23/udp-fault=short", "10.77.0.23/link-fault=padded", "10.77.0.24/udp-form=off", "10.77.0.24/link-fault=runt"})
            args << "--set" << set;
        QVERIFY(devsim.start(lab, devsimPath(), args));
        auto page = makePage(lab.hostIf);
        QVERIFY(page);
        QSignalSpy info(page->commLink(), &CommLink::gotNetworkInfo);
        // Three quick presses: one search, two boxes.
        for (int i = 0; i < 3; ++i)
            page->form()->btnRefresh->click();
        QCOMPARE(boxes->takeText() + boxes->take().title, QString("Searching device...Search device"));
        QCOMPARE(page->passesLeft(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(page->passesLeft() == 0 && devsim.count("[192.168.200.5] link: discovery request") == 3, 10000);
        // Each pass, four link answers pass the frame checks (the page refuses bad JSON).
        QTRY_COMPARE_WITH_TIMEOUT(info.count(), 12, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(devsim.count("[10.77.0.23] udp: answered") >= 3 && devsim.count("[10.77.0.11] udp: answered") >= 3, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(hosts(*page), (QStringList{"10.77.0.10", "10.77.0.11", "192.168.200.5"}), 5000);
        QVERIFY(devsim.log().contains("udp: request from 10.77.0.1 for 10.77.0.1/255.255.255.0"));
        QCOMPARE(devsim.count("[192.168.200.5] udp: answered"), 0);
        QTreeWidgetItem* fit = row(*page, "10.77.0.10");
        QCOMPARE(fit->text(1) + fit->data(0, DevSereachPage::kAddressRole).toString() + fit->data(0, DevSereachPage::kMacRole).toString(),
                 QString("RTU-710.77.0.1002:4D:46:4D:00:0A"));
        QCOMPARE(texts(fit->child(1)), (QStringList{"", "", "eth1", "172.16.0.9", "255.255.0.0", "02:AA:BB:CC:DD:01"}));
        QTreeWidgetItem* unfit = row(*page, "192.168.200.5");
        QCOMPARE(unfit->data(0, DevSereachPage::kMacRole), QVariant("02:4D:46:A8:C8:05"));

        // Set IP moves the unreachable device into the host's subnet.
        page->setDialogRunner(answer("10.77.0.60", "255.255.255.0"));
        QCOMPARE(chooseFromMenu(*page, unfit, "Set IP address"), (QStringList{"Browse device", "Set IP address", "Reboot"}));
        QCOMPARE(boxes->waitForBox(10000).summary(), QString("[Device Reply] Operation succeed!"));
        QVERIFY(devsim.log().contains("link: set IP of eth0 to 10.77.0.60 netmask 255.255.255.0"));
        const QStringList addresses = lab.deviceAddresses();
        QVERIFY(addresses.contains("10.77.0.60/24") && !addresses.contains("192.168.200.5/24") && addresses.contains("10.77.0.10/24"));
        // Now it answers the UDP search too; a second search lists every device once again.
        QVERIFY(search(*page, devsim, "[10.77.0.60] udp: answered", 1));
        QTRY_COMPARE_WITH_TIMEOUT(info.count(), 24, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(hosts(*page), (QStringList{"10.77.0.10", "10.77.0.11", "10.77.0.60"}), 10000);

        // The device refuses a netmask that is not contiguous. A rejected dialog sends nothing.
        page->setDialogRunner(answer("10.77.0.61", "255.0.255.0"));
        chooseFromMenu(*page, row(*page, "10.77.0.60"), "Set IP address");
        QCOMPARE(boxes->waitForText(10000), QString("Operation failed!"));
        QVERIFY(lab.deviceAddresses().contains("10.77.0.60/24"));
        const int setIps = devsim.count("link: set IP");
        page->setDialogRunner([](DialogSetIP& dialog) { return (dialog.reject(), dialog.result()); });
        chooseFromMenu(*page, row(*page, "10.77.0.60"), "Set IP address");

        // Reboot: each device answers for itself.
        chooseFromMenu(*page, row(*page, "10.77.0.10"), "Reboot");
        QCOMPARE(boxes->waitForText(10000), QString("Operation succeed!"));
        QTRY_VERIFY(devsim.log().contains("[10.77.0.10] rebooting")); // logged after the answer
        chooseFromMenu(*page, row(*page, "10.77.0.11"), "Reboot");
        QCOMPARE(boxes->waitForText(10000), QString("Operation failed!"));
        QVERIFY(!devsim.log().contains("[10.77.0.11] rebooting") && devsim.count("[10.77.0.11] link: reboot request") == 1);
        QCOMPARE(devsim.count("link: set IP"), setIps);

        // The search without its page: one at a time; how each device came.
        page.reset();
        DeviceSearch alone;
        NetIf intf;
        QVERIFY(DeviceSearch::findInterface(NetIf::all(), lab.hostIf, &intf));
        QVERIFY(alone.start(intf) && !alone.start(intf));
        alone.processDatagram(kRtu, QHostAddress("10.0.0.5"));
        QVERIFY(alone.devices().at(0).byUdp && !alone.devices().at(0).byLink);
    }

    // Devices answering only link frames (fitting no subnet here), each pass in one burst: all are
    // listed on the first search, once each, and every answer to every pass arrives.
    void linkOnlyCrowdOnFirstSearch()
    {
        NEEDS_LAB();
        NsDevsim devsim;
        QVERIFY(devsim.start(lab, devsimPath(), {"--discovery", lab.deviceIf, "--link-only", "--range", "192.168.100.1-150"}));
        auto page = makePage(lab.hostIf);
        QVERIFY(page);
        QSignalSpy info(page->commLink(), &CommLink::gotNetworkInfo);
        page->form()->btnRefresh->click();
        QTRY_VERIFY_WITH_TIMEOUT(page->passesLeft() == 0 && info.count() == 3 * 150, 10000);
        QCOMPARE(devsim.count("link: discovery request"), 3 * 150);
        QStringList ips = hosts(*page);
        QVERIFY(ips.size() == 150 && ips.contains("192.168.100.150") && !ips.removeDuplicates());
    }

    // Two host interfaces with one MAC (as VLAN, bridge, bond): the search works on the one chosen,
    // by its name, and sends nothing on the other.
    void interfacesSharingAMac()
    {
        NEEDS_LAB();
        const QString hostIf2 = "fmi" + lab.pid, deviceIf2 = "fmj" + lab.pid;
        const QString mac = QNetworkInterface::interfaceFromName(lab.hostIf).hardwareAddress();
        QString why;
        // Made after the lab's pair, it is later in the list: the first with that MAC is the other.
        QVERIFY2(!mac.isEmpty() && lab.addLink(hostIf2, deviceIf2, mac, &why), qPrintable(why));
        const auto removeLink = qScopeGuard([&] { NetnsLab::ip({"link", "delete", hostIf2}); });
        QCOMPARE(QNetworkInterface::interfaceFromName(hostIf2).hardwareAddress(), mac);
        NsDevsim first, second;
        QVERIFY(first.start(lab, devsimPath(), {"--discovery", lab.deviceIf, "--link-only", "--listen", "192.168.160.8"}));
        QVERIFY(second.start(lab, devsimPath(), {"--discovery", deviceIf2, "--link-only", "--listen", "192.168.150.7"}));
        auto page = makePage(hostIf2);
        QVERIFY(page);
        QVERIFY(search(*page, second, "link: discovery request", 3));
        QTRY_COMPARE_WITH_TIMEOUT(hosts(*page), QStringList{"192.168.150.7"}, 10000);
        QCOMPARE(first.count("link: discovery request"), 0);
        // And back: now the devices behind the first interface are found.
        page->form()->comboBoxIntf->setCurrentText(lab.hostIf);
        QVERIFY(search(*page, first, "link: discovery request", 3));
        QTRY_COMPARE_WITH_TIMEOUT(hosts(*page), QStringList{"192.168.160.8"}, 10000);
        QCOMPARE(second.count("link: discovery request"), 3);
    }
};

QTEST_MAIN(TestDevSereachPage)
#include "tst_devsereachpage.moc"
