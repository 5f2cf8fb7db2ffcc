// End-to-end discovery: devsim plays devices in a network namespace of
// their own, behind a veth pair; the search page runs on the host end, in a
// namespace this test process moves into. Every search here is the first of
// its page (a capture that is still opening): all three passes must reach
// the devices. Skips (and says so) only where namespaces cannot be made.
#include "comm/commlink.h"
#include "discovery/devsereachpage.h"
#include "discovery/dialogsetip.h"
#include "netnslab.h"
#include "searchtestutil.h"
#include "testutil.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QNetworkInterface>
#include <QPushButton>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QTreeWidget>

class TestDiscoveryNetns : public QObject
{
    Q_OBJECT

private:
    NetnsLab lab;
    bool labReady = false;
    QString skipReason;

    // A search page on the host end, ready to search.
    std::unique_ptr<DevSereachPage> makePage()
    {
        auto page = std::make_unique<DevSereachPage>();
        page->setPassInterval(150);
        page->resize(900, 500);
        page->show();
        QComboBox* combo = page->form()->comboBoxIntf;
        if (!waitFor([&] { return combo->findText(lab.hostIf) >= 0; }, 5000))
            return nullptr;
        combo->setCurrentText(lab.hostIf);
        return page;
    }

    static QTreeWidgetItem* row(DevSereachPage& page, const QString& host)
    {
        QTreeWidget* tree = page.form()->treeWidget;
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            if (tree->topLevelItem(i)->text(0) == host)
                return tree->topLevelItem(i);
        }
        return nullptr;
    }
    static int rowCount(DevSereachPage& page, const QString& host)
    {
        int n = 0;
        QTreeWidget* tree = page.form()->treeWidget;
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            n += tree->topLevelItem(i)->text(0) == host;
        return n;
    }

    static QSet<QString> hosts(DevSereachPage& page)
    {
        QSet<QString> result;
        QTreeWidget* tree = page.form()->treeWidget;
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            result << tree->topLevelItem(i)->text(0);
        return result;
    }

    // Runs a search and waits until it is over and the device has seen the
    // requests of all its passes (`requests` in all so far).
    bool search(DevSereachPage& page, NsDevsim& devsim, const QString& request, int requests)
    {
        page.form()->btnRefresh->click();
        if (!waitFor([&] { return page.passesLeft() == 0; }, 10000))
            return false;
        return waitFor([&] { return devsim.count(request) >= requests; }, 10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        labReady = lab.setUp(&skipReason);
        if (!labReady)
            qWarning("network namespace tests skipped: %s", qPrintable(skipReason));
    }
    void init()
    {
        if (!labReady)
            QSKIP(qPrintable(QStringLiteral("cannot create network namespaces (") + skipReason +
                             QStringLiteral(")")));
        lab.flushDeviceAddresses();
    }
    void cleanupTestCase() { lab.tearDown(); }

    // One device answering both ways is listed once, with its interfaces and
    // hidden address and MAC; a device whose address fits no subnet of the
    // host is found through link frames alone.
    void listsDevicesBothWays()
    {
        NsDevsim devsim;
        QVERIFY(devsim.start(lab, devsimPath(),
                             {"--discovery", lab.deviceIf, "--assign", "--listen", "10.77.0.10",
                              "--listen", "192.168.200.5", "--set", "product=RTU-7",
                              "--set", "10.77.0.10/extra-interfaces=eth1,172.16.0.9,255.255.0.0,"
                                       "02:aa:bb:cc:dd:01"}));
        auto page = makePage();
        QVERIFY(page);
        QSignalSpy info(page->commLink(), &CommLink::gotNetworkInfo);
        QVERIFY(search(*page, devsim, "[192.168.200.5] link: discovery request", 3));
        // Both devices answer the link frames of all three passes.
        QTRY_COMPARE_WITH_TIMEOUT(info.count(), 6, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(devsim.count("[10.77.0.10] udp: answered") >= 3, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(page->form()->treeWidget->topLevelItemCount(), 2, 5000);
        QCOMPARE(rowCount(*page, "10.77.0.10"), 1);
        QCOMPARE(rowCount(*page, "192.168.200.5"), 1);

        // The request carried the host interface's address and netmask.
        QVERIFY(devsim.log().contains("udp: request from 10.77.0.1 for 10.77.0.1/255.255.255.0"));
        // The device outside the subnet never answered by UDP.
        QCOMPARE(devsim.count("[192.168.200.5] udp: answered"), 0);

        QTreeWidgetItem* fit = row(*page, "10.77.0.10");
        QCOMPARE(fit->text(1), QString("RTU-7"));
        QCOMPARE(fit->data(0, DevSereachPage::kAddressRole).toString(), QString("10.77.0.10"));
        QCOMPARE(fit->data(0, DevSereachPage::kMacRole).toString(), QString("02:4D:46:4D:00:0A"));
        QCOMPARE(fit->childCount(), 2);
        QCOMPARE(fit->child(1)->text(2), QString("eth1"));
        QCOMPARE(fit->child(1)->text(5), QString("02:AA:BB:CC:DD:01"));
        QVERIFY(fit->isExpanded());

        QTreeWidgetItem* unfit = row(*page, "192.168.200.5");
        QCOMPARE(unfit->data(0, DevSereachPage::kMacRole).toString(), QString("02:4D:46:A8:C8:05"));
        QCOMPARE(unfit->child(0)->text(3), QString("192.168.200.5"));

        // A second search lists them again, once each.
        QVERIFY(search(*page, devsim, "[192.168.200.5] link: discovery request", 6));
        QTRY_COMPARE_WITH_TIMEOUT(info.count(), 12, 10000);
        QCOMPARE(page->form()->treeWidget->topLevelItemCount(), 2);
    }

    // Set IP through the dialog really changes the device's address in its
    // namespace; the device's answer shows "Operation succeed!".
    void setIpChangesTheAddress()
    {
        NsDevsim devsim;
        QVERIFY(devsim.start(lab, devsimPath(),
                             {"--discovery", lab.deviceIf, "--assign", "--listen", "10.77.0.10",
                              "--listen", "192.168.200.5"}));
        auto page = makePage();
        QVERIFY(page);
        QVERIFY(search(*page, devsim, "[192.168.200.5] link: discovery request", 3));
        QTRY_VERIFY_WITH_TIMEOUT(row(*page, "192.168.200.5") != nullptr, 10000);

        BoxRecorder boxes;
        QStringList offered;
        page->setDialogRunner([&](DialogSetIP& dialog) {
            offered.clear();
            for (int i = 0; i < dialog.form()->comboBoxIntf->count(); ++i)
                offered << dialog.form()->comboBoxIntf->itemText(i);
            dialog.form()->leIP->setText("10.77.0.60");
            dialog.form()->leNetmask->setText("255.255.255.0");
            dialog.form()->btnSure->click();
            return dialog.result();
        });
        // The unreachable device is moved into the host's subnet.
        const QStringList menu =
            chooseFromMenu(*page, row(*page, "192.168.200.5"), "Set IP address");
        QCOMPARE(menu, (QStringList{"Browse device", "Set IP address", "Reboot"}));
        QCOMPARE(offered, QStringList{"eth0"});
        QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, 10000);
        const BoxRecorder::Box box = boxes.take();
        QCOMPARE(box.title, QString("Device Reply"));
        QCOMPARE(box.text, QString("Operation succeed!"));
        QVERIFY(lab.deviceAddresses().contains("10.77.0.60/24"));
        QVERIFY(!lab.deviceAddresses().contains("192.168.200.5/24"));
        QVERIFY(lab.deviceAddresses().contains("10.77.0.10/24"));
        QVERIFY(devsim.log().contains("link: set IP of eth0 to 10.77.0.60 netmask 255.255.255.0"));

        // Now it answers the UDP search too, under its new address.
        QVERIFY(search(*page, devsim, "[10.77.0.60] udp: answered", 1));
        QTRY_VERIFY_WITH_TIMEOUT(row(*page, "10.77.0.60") != nullptr, 10000);

        // A netmask that is not contiguous passes the dialog; the device
        // refuses it and the page shows the failure.
        page->setDialogRunner([&](DialogSetIP& dialog) {
            dialog.form()->leIP->setText("10.77.0.61");
            dialog.form()->leNetmask->setText("255.0.255.0");
            dialog.form()->btnSure->click();
            return dialog.result();
        });
        chooseFromMenu(*page, row(*page, "10.77.0.60"), "Set IP address");
        QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, 10000);
        QCOMPARE(boxes.takeText(), QString("Operation failed!"));
        QVERIFY(lab.deviceAddresses().contains("10.77.0.60/24"));

        // A rejected dialog sends nothing.
        const int before = devsim.count("link: set IP");
        page->setDialogRunner([](DialogSetIP& dialog) {
            dialog.reject();
            return dialog.result();
        });
        chooseFromMenu(*page, row(*page, "10.77.0.60"), "Set IP address");
        QCOMPARE(devsim.count("link: set IP"), before);
        QVERIFY(boxes.checkNoneLeft());
    }

    void rebootShowsItsResult()
    {
        NsDevsim devsim;
        QVERIFY(devsim.start(lab, devsimPath(),
                             {"--discovery", lab.deviceIf, "--assign", "--listen", "10.77.0.10",
                              "--listen", "10.77.0.11", "--set", "10.77.0.11/reboot-result=0",
                              "--set", "reboot-ms=100"}));
        auto page = makePage();
        QVERIFY(page);
        QVERIFY(search(*page, devsim, "[10.77.0.11] link: discovery request", 3));
        QTRY_VERIFY_WITH_TIMEOUT(row(*page, "10.77.0.10") && row(*page, "10.77.0.11"), 10000);

        BoxRecorder boxes;
        chooseFromMenu(*page, row(*page, "10.77.0.10"), "Reboot");
        QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, 10000);
        QCOMPARE(boxes.take().text, QString("Operation succeed!"));
        QVERIFY(devsim.log().contains("[10.77.0.10] rebooting"));
        QCOMPARE(devsim.count("[10.77.0.11] link: reboot request"), 0);

        chooseFromMenu(*page, row(*page, "10.77.0.11"), "Reboot");
        QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, 10000);
        QCOMPARE(boxes.take().text, QString("Operation failed!"));
        QVERIFY(!devsim.log().contains("[10.77.0.11] rebooting"));
        QVERIFY(boxes.checkNoneLeft());
    }

    // Broken UDP answers and broken link frames add no row and show nothing.
    void malformedAnswersChangeNothing()
    {
        NsDevsim devsim;
        QVERIFY(devsim.start(
            lab, devsimPath(),
            {"--discovery", lab.deviceIf, "--assign", "--range", "10.77.0.20-10.77.0.25",
             "--set", "10.77.0.20/udp-fault=past-end", "--set", "10.77.0.20/link-fault=bad-crc",
             "--set", "10.77.0.21/udp-fault=truncated", "--set", "10.77.0.21/link-fault=no-brace",
             "--set", "10.77.0.22/udp-fault=bad-magic", "--set", "10.77.0.22/link-fault=bad-json",
             "--set", "10.77.0.23/udp-fault=short", "--set", "10.77.0.23/link-fault=padded",
             "--set", "10.77.0.24/udp-form=off", "--set", "10.77.0.24/link-fault=runt"}));
        auto page = makePage();
        QVERIFY(page);
        BoxRecorder boxes;
        QSignalSpy info(page->commLink(), &CommLink::gotNetworkInfo);
        QVERIFY(search(*page, devsim, "[10.77.0.24] link: discovery request", 3));
        // The sound device (.25) and the one with bad JSON, which reaches the
        // page's parser and is refused there, pass the frame checks.
        QTRY_COMPARE_WITH_TIMEOUT(info.count(), 6, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(devsim.count("[10.77.0.23] udp: answered") >= 3, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(row(*page, "10.77.0.25") != nullptr, 10000);
        QCOMPARE(page->form()->treeWidget->topLevelItemCount(), 1);
        QVERIFY(boxes.checkNoneLeft());
    }

    // A crowd of devices that answer only link frames (their addresses fit
    // no subnet here), answering each pass in one burst: all are listed on
    // the first search, once each, and every answer to every pass arrives.
    void linkOnlyCrowdOnFirstSearch()
    {
        constexpr int kDevices = 150;
        NsDevsim devsim;
        QVERIFY(devsim.start(lab, devsimPath(),
                             {"--discovery", lab.deviceIf, "--link-only", "--range",
                              "192.168.100.1-150"}));
        auto page = makePage();
        QVERIFY(page);
        QSignalSpy info(page->commLink(), &CommLink::gotNetworkInfo);
        page->form()->btnRefresh->click();
        QTRY_COMPARE_WITH_TIMEOUT(page->form()->treeWidget->topLevelItemCount(), kDevices, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(page->passesLeft(), 0, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(info.count(), 3 * kDevices, 10000);
        QCOMPARE(devsim.count("link: discovery request"), 3 * kDevices);
        QCOMPARE(page->form()->treeWidget->topLevelItemCount(), kDevices);
        const QSet<QString> listed = hosts(*page);
        QCOMPARE(listed.size(), kDevices);
        QVERIFY(listed.contains("192.168.100.1") && listed.contains("192.168.100.150"));
    }

    // Two host interfaces with one hardware address, as VLAN, bridge and
    // bond interfaces have: the search works on the interface chosen, by
    // its name, and sends nothing on the other.
    void interfacesSharingAMac()
    {
        const QString pid = QString::number(QCoreApplication::applicationPid());
        const QString hostIf2 = QStringLiteral("fmi") + pid;
        const QString deviceIf2 = QStringLiteral("fmj") + pid;
        const QString mac = QNetworkInterface::interfaceFromName(lab.hostIf).hardwareAddress();
        QVERIFY(!mac.isEmpty());
        QString why;
        // Made after the lab's own pair, the new interface comes later in
        // the system's list: the first adapter with the MAC is the other.
        QVERIFY2(lab.addLink(hostIf2, deviceIf2, mac, &why), qPrintable(why));
        const auto removeLink = qScopeGuard([&] { NetnsLab::ip({"link", "delete", hostIf2}); });
        QCOMPARE(QNetworkInterface::interfaceFromName(hostIf2).hardwareAddress(), mac);

        NsDevsim behindFirst;
        NsDevsim behindSecond;
        QVERIFY(behindFirst.start(lab, devsimPath(),
                                  {"--discovery", lab.deviceIf, "--link-only", "--listen",
                                   "192.168.160.8"}));
        QVERIFY(behindSecond.start(lab, devsimPath(),
                                   {"--discovery", deviceIf2, "--link-only", "--listen",
                                    "192.168.150.7"}));
        const QString request = QStringLiteral("link: discovery request");
        auto page = makePage();
        QVERIFY(page);
        QComboBox* combo = page->form()->comboBoxIntf;
        QTRY_VERIFY_WITH_TIMEOUT(combo->findText(hostIf2) >= 0, 5000);

        combo->setCurrentText(hostIf2);
        QVERIFY(search(*page, behindSecond, request, 3));
        QTRY_VERIFY_WITH_TIMEOUT(row(*page, "192.168.150.7") != nullptr, 10000);
        QCOMPARE(behindFirst.count(request), 0);

        // And back: now the devices behind the first interface are found.
        combo->setCurrentText(lab.hostIf);
        QVERIFY(search(*page, behindFirst, request, 3));
        QTRY_VERIFY_WITH_TIMEOUT(row(*page, "192.168.160.8") != nullptr, 10000);
        QCOMPARE(behindSecond.count(request), 3);
        QCOMPARE(hosts(*page), QSet<QString>{"192.168.160.8"});
    }
};

QTEST_MAIN(TestDiscoveryNetns)
#include "tst_discovery_netns.moc"
