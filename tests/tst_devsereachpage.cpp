// The device search page without devices: its form, the interface list,
// replies as rows (UDP and link frames), duplicates across searches, the
// context menu and its actions, and the result box. Searches themselves
// run in a private network namespace so that nothing leaves this machine.
#include "comm/commlink.h"
#include "comm/linkframe.h"
#include "discovery/devsereachpage.h"
#include "discovery/dialogsetip.h"
#include "searchtestutil.h"
#include "testutil.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <array>
#include <sched.h>
#include <unistd.h>

namespace {

// Records what "Browse device" opens instead of starting a browser.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void openUrl(const QUrl& url) { urls << url; }
};

NetIf fakeIf(const QString& name, unsigned flags, const QString& mac = "02:00:00:00:00:01")
{
    NetIf intf;
    intf.name = name;
    intf.humanName = name;
    intf.hardwareAddress = mac;
    intf.flags = flags;
    return intf;
}

QByteArray longReply(const QByteArray& product, const char* ipHex, const char* macHex)
{
    // One long entry "eth0" with address ipHex, netmask 255.255.255.0.
    return QByteArray::fromHex("002518") + char(product.size()) + product +
           QByteArray::fromHex("001204") + "eth0" + QByteArray::fromHex(ipHex) +
           QByteArray::fromHex("ffffff00") + QByteArray::fromHex(macHex);
}

// A full reply of the device at 10.0.0.5.
const QByteArray kRtu = longReply("RTU", "0a000005", "024d46000005");
const QHostAddress kRtuAddress("10.0.0.5");

QByteArray info(const QString& host, const QString& ip, const QString& mac)
{
    return Discovery::buildDeviceInfo(host, "LinkDev", {{"eth0", ip, "255.255.255.0", mac}});
}

} // namespace

class TestDevSereachPage : public BoxCheckedTest
{
    Q_OBJECT

private:
    bool privateNet = false;
    UrlRecorder urls;

    static QTreeWidget* tree(DevSereachPage& page) { return page.form()->treeWidget; }

private Q_SLOTS:
    void initTestCase()
    {
        // Searches send real datagrams and frames: keep them inside a
        // network namespace of our own (only its loopback exists there).
        privateNet = geteuid() == 0 && unshare(CLONE_NEWNET) == 0 &&
                     QProcess::execute("ip", {"link", "set", "lo", "up"}) == 0;
        if (!privateNet)
            qWarning("no private network namespace: the search tests are skipped");
        QDesktopServices::setUrlHandler("http", &urls, "openUrl");
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler("http"); }
    void init()
    {
        BoxCheckedTest::init();
        urls.urls.clear();
    }

    void form()
    {
        DevSereachPage page;
        QTreeWidget* t = tree(page);
        QCOMPARE(t->columnCount(), 6);
        QStringList labels;
        for (int i = 0; i < 6; ++i)
            labels << t->headerItem()->text(i);
        QCOMPARE(labels, (QStringList{"Host", "Product", "Interface", "IP", "Netmask", "MAC"}));
        // However narrow the tree, every column is as wide as its contents.
        page.resize(300, 200);
        page.show();
        t->addTopLevelItem(new QTreeWidgetItem({"192.168.200.100", "RTU-7 Remote Terminal", "eth0",
                                                "192.168.200.100", "255.255.255.0",
                                                "0A:1B:2C:3D:4E:5F"}));
        QCoreApplication::processEvents();
        auto* view = static_cast<QAbstractItemView*>(t);
        for (int i = 0; i < 6; ++i)
            QVERIFY(t->header()->sectionSize(i) >= view->sizeHintForColumn(i));
        t->clear();
        QCOMPARE(t->contextMenuPolicy(), Qt::CustomContextMenu);
        QCOMPARE(page.form()->comboBoxIntf->minimumWidth(), 100);

        // A language change sets the texts again.
        t->headerItem()->setText(0, "x");
        page.form()->btnRefresh->setText("y");
        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(&page, &change);
        QCOMPARE(t->headerItem()->text(0), QString("Host"));
        QCOMPARE(page.form()->btnRefresh->text(), QString("Refresh"));
    }

    void interfaceList()
    {
        QList<NetIf> system{fakeIf("lo", 0x0B), fakeIf("eth0", 0x27), fakeIf("ppp0", 0x37),
                            fakeIf("down0", 0x26), fakeIf("eth1", 0x27), fakeIf("nomc0", 0x07)};
        DevSereachPage page;
        page.setInterfaceSource([&] { return system; });
        QComboBox* combo = page.form()->comboBoxIntf;
        QCOMPARE(combo->count(), 0); // until the first tick
        page.onTimerIntfTimeout();
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(0), QString("eth0"));
        QCOMPARE(combo->itemText(1), QString("eth1"));
        // The operator's choice stays while nothing changes ...
        combo->setCurrentIndex(1);
        page.onTimerIntfTimeout();
        QCOMPARE(combo->currentText(), QString("eth1"));
        // ... and a change refills the box with the first one current.
        system << fakeIf("eth2", 0x27);
        page.onTimerIntfTimeout();
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->currentText(), QString("eth0"));
        // The timer does it by itself.
        system.removeLast();
        QTRY_COMPARE_WITH_TIMEOUT(combo->count(), 2, 5000);
    }

    void udpRows()
    {
        DevSereachPage page;
        page.processDatagram(kRtu, kRtuAddress);
        page.processDatagram(QByteArray::fromHex("00251800000000"), QHostAddress("10.0.0.6"));
        // Not replies, or broken ones: nothing.
        page.processDatagram(QByteArray::fromHex("0025"), QHostAddress("10.0.0.7"));
        page.processDatagram(QByteArray::fromHex("002519050000000000"), QHostAddress("10.0.0.7"));
        page.processDatagram(QByteArray::fromHex("002518ff41"), QHostAddress("10.0.0.7"));
        QCOMPARE(tree(page)->topLevelItemCount(), 2);

        // The newest row is on top.
        QTreeWidgetItem* bare = tree(page)->topLevelItem(0);
        QCOMPARE(bare->text(0), QString("10.0.0.6"));
        QCOMPARE(bare->text(1), QString("Unknown"));
        QCOMPARE(bare->childCount(), 0);
        QCOMPARE(bare->data(0, DevSereachPage::kAddressRole).toString(), QString("10.0.0.6"));
        QVERIFY(!bare->data(0, DevSereachPage::kMacRole).isValid());

        QTreeWidgetItem* full = tree(page)->topLevelItem(1);
        QCOMPARE(full->text(1), QString("RTU"));
        QCOMPARE(full->data(0, DevSereachPage::kMacRole).toString(), QString("02:4D:46:00:00:05"));
        QVERIFY(full->isExpanded());
        QTreeWidgetItem* child = full->child(0);
        QCOMPARE((QStringList{child->text(0), child->text(1), child->text(2), child->text(3),
                              child->text(4), child->text(5)}),
                 (QStringList{"", "", "eth0", "10.0.0.5", "255.255.255.0", "02:4D:46:00:00:05"}));

        // The same device again, by UDP and by link frame: still one row.
        page.processDatagram(kRtu, kRtuAddress);
        page.onCommLinkNetworkInfo(info("10.0.0.5", "10.0.0.5", "02:4d:46:00:00:05"));
        QCOMPARE(tree(page)->topLevelItemCount(), 2);
        // Invalid JSON is ignored.
        page.onCommLinkNetworkInfo("{\"host\":");
        QCOMPARE(tree(page)->topLevelItemCount(), 2);
    }

    void linkRows()
    {
        DevSereachPage page;
        page.onCommLinkNetworkInfo(info("192.168.200.5", "192.168.200.5", "02:aa:00:00:00:05"));
        QTreeWidgetItem* row = tree(page)->topLevelItem(0);
        QCOMPARE(row->text(0), QString("192.168.200.5"));
        QCOMPARE(row->text(1), QString("LinkDev"));
        QCOMPARE(row->data(0, DevSereachPage::kAddressRole).toString(), QString("192.168.200.5"));
        QCOMPARE(row->data(0, DevSereachPage::kMacRole).toString(), QString("02:AA:00:00:00:05"));
        QCOMPARE(row->child(0)->text(5), QString("02:aa:00:00:00:05"));

        // Host on none of its interfaces: neither value, and browsing opens
        // "http://" alone.
        page.onCommLinkNetworkInfo(info("10.9.9.9", "10.1.1.1", "02:aa:00:00:00:06"));
        QTreeWidgetItem* other = tree(page)->topLevelItem(0);
        QVERIFY(!other->data(0, DevSereachPage::kAddressRole).isValid());
        QVERIFY(!other->data(0, DevSereachPage::kMacRole).isValid());
        page.resize(800, 400);
        page.show();
        chooseFromMenu(page, other, "Browse device");
        QCOMPARE(urls.urls.size(), 1);
        QCOMPARE(urls.urls.first().toString(), QString("http://"));

        // The answers captured at one wake-up are listed at once, in the
        // same order as one by one: the newest on top, each row expanded,
        // a repeated answer dropped.
        const std::array<std::uint8_t, 6> device{0x02, 0xaa, 0, 0, 0, 0x07};
        auto frame = [&](const char* host) {
            return LinkFrame::build(LinkFrame::DeviceInfo, nullptr, device.data(),
                                    info(host, host, QStringLiteral("02:aa:00:00:00:%1").arg(QLatin1String(host).right(2))));
        };
        QSignalSpy listed(&page, &DevSereachPage::deviceListed);
        page.commLink()->onFramesRecv({frame("10.7.7.11"), frame("10.7.7.12"), frame("10.7.7.11")});
        QCOMPARE(listed.count(), 2);
        QCOMPARE(tree(page)->topLevelItemCount(), 4);
        QCOMPARE(tree(page)->topLevelItem(0)->text(0), QString("10.7.7.12"));
        QCOMPARE(tree(page)->topLevelItem(1)->text(0), QString("10.7.7.11"));
        QVERIFY(tree(page)->topLevelItem(0)->isExpanded() && tree(page)->topLevelItem(1)->isExpanded());
        QCOMPARE(tree(page)->topLevelItem(2), other);
    }

    void menuAndBrowse()
    {
        DevSereachPage page;
        page.resize(800, 400);
        page.show();
        page.processDatagram(kRtu, kRtuAddress);
        page.processDatagram(QByteArray::fromHex("00251800000000"), QHostAddress("10.0.0.6"));
        QTreeWidgetItem* bare = tree(page)->topLevelItem(0);
        QTreeWidgetItem* full = tree(page)->topLevelItem(1);

        QCOMPARE(chooseFromMenu(page, bare), (QStringList{"Browse device", "Reboot"}));
        QCOMPARE(chooseFromMenu(page, full), (QStringList{"Browse device", "Set IP address", "Reboot"}));
        // An interface row acts for its device.
        QCOMPARE(chooseFromMenu(page, full->child(0), "Browse device"),
                 (QStringList{"Browse device", "Set IP address", "Reboot"}));
        QCOMPARE(urls.urls.size(), 1);
        QCOMPARE(urls.urls.first(), QUrl("http://10.0.0.5"));
        // Empty space: no menu.
        bool ran = false;
        page.setMenuRunner([&](QMenu&) -> QAction* {
            ran = true;
            return nullptr;
        });
        page.onCustomContextMenuRequested(QPoint(5, tree(page)->viewport()->height() - 2));
        QVERIFY(!ran);

        // A device row whose host text is empty is still a device row.
        page.onCommLinkNetworkInfo(R"({"product":"NoHost","intfInfo":[["eth0","","",""]]})");
        QCOMPARE(tree(page)->topLevelItem(0)->text(1), QString("NoHost"));
        QCOMPARE(chooseFromMenu(page, tree(page)->topLevelItem(0)->child(0)),
                 (QStringList{"Browse device", "Set IP address", "Reboot"}));

        // The dialog gets the device's interface names; cancelling sends
        // nothing (and with no capture open nothing could be sent anyway).
        QStringList offered;
        bool parentless = false;
        page.setDialogRunner([&](DialogSetIP& dialog) -> int {
            for (int i = 0; i < dialog.form()->comboBoxIntf->count(); ++i)
                offered << dialog.form()->comboBoxIntf->itemText(i);
            parentless = !dialog.parentWidget();
            return QDialog::Rejected;
        });
        chooseFromMenu(page, full, "Set IP address");
        QCOMPARE(offered, QStringList{"eth0"});
        QVERIFY(parentless);
    }

    void resultBox_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("text"); // empty: no box
        QTest::newRow("success") << QByteArray("{\"result\":true}") << "Operation succeed!";
        QTest::newRow("failure") << QByteArray("{\"result\":false}") << "Operation failed!";
        QTest::newRow("no result") << QByteArray("{}") << "Operation failed!";
        QTest::newRow("invalid JSON") << QByteArray("{\"result\":tru}") << "";
    }
    void resultBox()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, text);
        DevSereachPage page;
        // Through the link, as a captured frame would arrive.
        page.commLink()->onDataRecv(LinkFrame::build(LinkFrame::RebootResult, nullptr,
                                                     std::array<std::uint8_t, 6>{}.data(), json));
        if (text.isEmpty())
            return; // no box
        const BoxRecorder::Box box = boxes->take();
        QCOMPARE(box.summary(), "[Device Reply] " + text);
        QCOMPARE(box.buttons, QStringList{"OK"});
        QCOMPARE(box.icon, QMessageBox::Information);
    }

    void refreshWithoutInterface()
    {
        DevSereachPage page;
        page.setInterfaceSource([] { return QList<NetIf>{fakeIf("ppp0", 0x37)}; });
        page.onTimerIntfTimeout();
        page.form()->btnRefresh->click();
        QCOMPARE(boxes->take().summary(),
                 QString("[Search device] Network interface is not accessible!"));
        QCOMPARE(page.passesLeft(), 0);
    }

    // Three quick presses: one search (three passes), two boxes. A new
    // search clears the rows and the addresses but keeps the MACs.
    void searchPassesAndSeenLists()
    {
        if (!privateNet)
            QSKIP("needs a private network namespace (root)");
        DevSereachPage page;
        page.setPassInterval(50);
        page.setInterfaceSource(
            [] { return QList<NetIf>{fakeIf("lo", 0x27, "00:00:00:00:00:00")}; });
        page.onTimerIntfTimeout();
        page.processDatagram(kRtu, kRtuAddress);
        QCOMPARE(tree(page)->topLevelItemCount(), 1);

        page.form()->btnRefresh->click();
        page.form()->btnRefresh->click();
        page.form()->btnRefresh->click();
        QCOMPARE(boxes->count(), 2);
        QCOMPARE(boxes->takeText(), QString("Searching device..."));
        QCOMPARE(boxes->take().title, QString("Search device"));
        QCOMPARE(page.passesLeft(), 2);
        QCOMPARE(tree(page)->topLevelItemCount(), 0);
        QCOMPARE(page.commLink()->networkInterface(), QString("lo"));
        QTRY_COMPARE_WITH_TIMEOUT(page.passesLeft(), 0, 5000);
        QVERIFY(!page.seenDevices().hasAddress("10.0.0.5"));
        QVERIFY(page.seenDevices().hasMac("02:4D:46:00:00:05"));

        // Listed again in the new search, once; then the seen MAC makes the
        // link answer with the same address a duplicate.
        page.processDatagram(kRtu, kRtuAddress);
        page.onCommLinkNetworkInfo(info("10.0.0.5", "10.0.0.5", "02:4D:46:00:00:05"));
        QCOMPARE(tree(page)->topLevelItemCount(), 1);

        // After the last pass another press starts a new search at once.
        page.form()->btnRefresh->click();
        QCOMPARE(boxes->count(), 0);
        QCOMPARE(tree(page)->topLevelItemCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(page.passesLeft(), 0, 5000);
    }
};

QTEST_MAIN(TestDevSereachPage)
#include "tst_devsereachpage.moc"
