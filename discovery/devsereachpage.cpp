#include "discovery/devsereachpage.h"

#include "comm/commlink.h"
#include "common/msgbox.h"
#include "discovery/devicesearch.h"
#include "discovery/dialogsetip.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

namespace {

constexpr int kInterfaceIntervalMs = 250;

} // namespace

// The page's texts live in the translation context "DevSearchPage".

void UI_DevSereachPage::setupUi(QWidget* page)
{
    if (page->objectName().isEmpty())
        page->setObjectName(QStringLiteral("DevSearchPage"));
    verticalLayout = new QVBoxLayout(page);
    treeWidget = new QTreeWidget(page);
    treeWidget->setColumnCount(6);
    // Every column as wide as its contents, the last one too: a stretched
    // last section only gets what the others leave, and cut the MAC short.
    treeWidget->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    treeWidget->header()->setStretchLastSection(false);
    treeWidget->setContextMenuPolicy(Qt::CustomContextMenu);
    verticalLayout->addWidget(treeWidget);

    horizontalLayout = new QHBoxLayout;
    horizontalLayout->addStretch();
    labelIntf = new QLabel(page);
    horizontalLayout->addWidget(labelIntf);
    comboBoxIntf = new QComboBox(page);
    comboBoxIntf->setMinimumWidth(100);
    horizontalLayout->addWidget(comboBoxIntf);
    btnRefresh = new QPushButton(page);
    horizontalLayout->addWidget(btnRefresh);
    verticalLayout->addLayout(horizontalLayout);
    retranslateUi(page);
}

void UI_DevSereachPage::retranslateUi(QWidget* page)
{
    Q_UNUSED(page)
    treeWidget->setHeaderLabels({QCoreApplication::translate("DevSearchPage", "Host"),
                                 QCoreApplication::translate("DevSearchPage", "Product"),
                                 QCoreApplication::translate("DevSearchPage", "Interface"),
                                 QCoreApplication::translate("DevSearchPage", "IP"),
                                 QCoreApplication::translate("DevSearchPage", "Netmask"),
                                 QCoreApplication::translate("DevSearchPage", "MAC")});
    labelIntf->setText(QCoreApplication::translate("DevSearchPage", "Interface:"));
    btnRefresh->setText(QCoreApplication::translate("DevSearchPage", "Refresh"));
}

DevSereachPage::DevSereachPage(QWidget* parent)
    : QWidget(parent),
      ui(new UI_DevSereachPage),
      timerIntf(new QTimer(this)),
      search(new DeviceSearch(this)),
      interfaceSource(&NetIf::all)
{
    ui->setupUi(this);

    connect(ui->btnRefresh, &QPushButton::clicked, this, &DevSereachPage::onBtnRefreshClicked);
    connect(timerIntf, &QTimer::timeout, this, &DevSereachPage::onTimerIntfTimeout);
    connect(search, &DeviceSearch::deviceFound, this, &DevSereachPage::onDeviceFound);
    connect(search, &DeviceSearch::operationResult, this, [this](bool ok) {
        onCommLinkResult(Discovery::buildResult(ok));
    });
    connect(search, &DeviceSearch::burstStarted, this, &DevSereachPage::gatherRows);
    connect(search, &DeviceSearch::burstFinished, this, &DevSereachPage::insertGatheredRows);
    connect(ui->treeWidget, &QTreeWidget::customContextMenuRequested, this,
            &DevSereachPage::onCustomContextMenuRequested);

    timerIntf->start(kInterfaceIntervalMs);
}

DevSereachPage::~DevSereachPage()
{
    qDeleteAll(gatheredRows);
    delete ui;
}

CommLink* DevSereachPage::commLink() const
{
    return search->commLink();
}

int DevSereachPage::passesLeft() const
{
    return search->passesLeft();
}

const Discovery::SeenDevices& DevSereachPage::seenDevices() const
{
    return search->seenDevices();
}

void DevSereachPage::setInterfaceSource(InterfaceSource source)
{
    interfaceSource = source ? std::move(source) : InterfaceSource(&NetIf::all);
}

void DevSereachPage::setMenuRunner(MenuRunner runner)
{
    menuRunner = std::move(runner);
}

void DevSereachPage::setDialogRunner(DialogRunner runner)
{
    dialogRunner = std::move(runner);
}

void DevSereachPage::setPassInterval(int ms)
{
    search->setPassInterval(ms);
}

void DevSereachPage::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QWidget::changeEvent(event);
}

// ------------------------------------------------------------ interfaces

void DevSereachPage::onTimerIntfTimeout()
{
    QStringList names;
    for (const NetIf& intf : interfaceSource()) {
        if (intf.searchable())
            names << intf.humanName;
    }
    if (names == intfNames)
        return;
    intfNames = names;
    ui->comboBoxIntf->clear();
    ui->comboBoxIntf->addItems(names);
}

// ---------------------------------------------------------------- search

void DevSereachPage::onBtnRefreshClicked()
{
    if (search->isSearching()) {
        MsgBox::standard(QMessageBox::Information, QCoreApplication::translate("DevSearchPage", "Search device"),
                         QCoreApplication::translate("DevSearchPage", "Searching device..."), QMessageBox::Ok, QMessageBox::Ok);
        return;
    }
    const QString current = ui->comboBoxIntf->currentText();
    NetIf chosenIntf;
    bool found = false;
    for (const NetIf& intf : interfaceSource()) {
        if (intf.searchable() && intf.humanName == current) {
            chosenIntf = intf;
            found = true;
            break;
        }
    }
    if (!found) {
        MsgBox::standard(QMessageBox::Information, QCoreApplication::translate("DevSearchPage", "Search device"),
                         QCoreApplication::translate("DevSearchPage", "Network interface is not accessible!"), QMessageBox::Ok,
                         QMessageBox::Ok);
        return;
    }

    qDeleteAll(gatheredRows);
    gatheredRows.clear();
    ui->treeWidget->clear();
    search->start(chosenIntf);
}

void DevSereachPage::onTimerRefreshTimeout()
{
    search->onPassTimer();
}

// --------------------------------------------------------------- replies

QTreeWidgetItem* DevSereachPage::newDeviceRow(const QString& address, const QString& product) const
{
    auto* row = new QTreeWidgetItem;
    row->setText(0, address);
    row->setText(1, product);
    return row;
}

void DevSereachPage::addInterfaceRow(QTreeWidgetItem* row, const Discovery::Interface& intf) const
{
    auto* child = new QTreeWidgetItem(row);
    child->setText(2, intf.name);
    child->setText(3, intf.ip);
    child->setText(4, intf.netmask);
    child->setText(5, intf.mac);
}

void DevSereachPage::listDevice(QTreeWidgetItem* row)
{
    if (gatheringRows) {
        gatheredRows << row;
        return;
    }
    ui->treeWidget->insertTopLevelItem(0, row);
    row->setExpanded(true);
    Q_EMIT deviceListed();
}

void DevSereachPage::gatherRows()
{
    gatheringRows = true;
}

// Every expanded row is a persistent index that the tree moves at each row
// inserted above it: inserting a burst of n answers one by one costs n
// times the rows listed. Inserted at once, the tree moves them once.
void DevSereachPage::insertGatheredRows()
{
    gatheringRows = false;
    if (gatheredRows.isEmpty())
        return;
    // The newest on top, as if each had been inserted at the top in turn.
    QList<QTreeWidgetItem*> rows;
    rows.reserve(gatheredRows.size());
    std::copy(gatheredRows.crbegin(), gatheredRows.crend(), std::back_inserter(rows));
    gatheredRows.clear();
    ui->treeWidget->insertTopLevelItems(0, rows);
    for (QTreeWidgetItem* row : qAsConst(rows))
        row->setExpanded(true);
    for (int i = 0; i < rows.size(); ++i)
        Q_EMIT deviceListed();
}

void DevSereachPage::processDatagram(const QByteArray& datagram, const QHostAddress& sender)
{
    search->processDatagram(datagram, sender);
}

void DevSereachPage::onCommLinkNetworkInfo(QByteArray data)
{
    search->processNetworkInfo(data);
}

void DevSereachPage::onDeviceFound(int index)
{
    const DeviceSearch::Device device = search->devices().at(index);
    QTreeWidgetItem* row = newDeviceRow(
        device.host,
        device.bare ? QCoreApplication::translate("DevSearchPage", "Unknown") : device.product);
    if (!device.address.isEmpty())
        row->setData(0, kAddressRole, device.address);
    if (!device.mac.isEmpty() || (device.byLink && !device.address.isEmpty()))
        row->setData(0, kMacRole, device.mac);
    for (const Discovery::Interface& intf : device.interfaces)
        addInterfaceRow(row, intf);
    listDevice(row);
}

void DevSereachPage::onCommLinkResult(QByteArray data)
{
    bool result = false;
    if (!Discovery::parseResult(data, result))
        return;
    // The box runs its own event loop: list what came before it now.
    insertGatheredRows();
    MsgBox::standard(QMessageBox::Information, QCoreApplication::translate("DevSearchPage", "Device Reply"),
                     QCoreApplication::translate("DevSearchPage", "Operation %1!").arg(result ? QCoreApplication::translate("DevSearchPage", "succeed") : QCoreApplication::translate("DevSearchPage", "failed")),
                     QMessageBox::Ok, QMessageBox::Ok);
}

// ---------------------------------------------------------- context menu

void DevSereachPage::onCustomContextMenuRequested(QPoint pos)
{
    QTreeWidgetItem* row = ui->treeWidget->itemAt(pos);
    if (!row)
        return;
    // Interface rows hang below their device row; a top-level row is the
    // device row even when its address column is empty.
    if (row->parent())
        row = row->parent();
    chosen.address = row->data(0, kAddressRole).toString();
    chosen.mac = row->data(0, kMacRole).toString();
    chosen.interfaceNames.clear();
    for (int i = 0; i < row->childCount(); ++i)
        chosen.interfaceNames << row->child(i)->text(2);

    QMenu menu;
    QAction* browse = menu.addAction(QCoreApplication::translate("DevSearchPage", "Browse device"));
    QAction* setIp = nullptr;
    if (row->childCount() > 0)
        setIp = menu.addAction(QCoreApplication::translate("DevSearchPage", "Set IP address"));
    QAction* reboot = menu.addAction(QCoreApplication::translate("DevSearchPage", "Reboot"));
    // The row may go away while the menu runs; from here on only the copied
    // values are used.
    row = nullptr;
    QAction* choice = menuRunner ? menuRunner(menu) : menu.exec(QCursor::pos());
    if (!choice)
        return;
    if (choice == browse)
        browseDevice();
    else if (setIp && choice == setIp)
        setDeviceIp();
    else if (choice == reboot)
        rebootDevice();
}

void DevSereachPage::browseDevice()
{
    QDesktopServices::openUrl(QUrl(QStringLiteral("http://") + chosen.address));
}

void DevSereachPage::rebootDevice()
{
    search->sendReboot(chosen.mac);
}

void DevSereachPage::setDeviceIp()
{
    DialogSetIP dialog(nullptr);
    dialog.setInterfaces(chosen.interfaceNames);
    const int result = dialogRunner ? dialogRunner(dialog) : dialog.exec();
    if (result != QDialog::Accepted)
        return;
    search->sendSetIp(chosen.mac, dialog.values());
}
