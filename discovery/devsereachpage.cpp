#include "discovery/devsereachpage.h"

#include "comm/commlink.h"
#include "common/msgbox.h"
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
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUdpSocket>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

namespace {

constexpr int kPassIntervalMs = 1000;
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
      timerRefresh(new QTimer(this)),
      timerIntf(new QTimer(this)),
      recvSocket(new QUdpSocket(this)),
      sendSocket(new QUdpSocket(this)),
      link(new CommLink(this)),
      interfaceSource(&NetIf::all)
{
    ui->setupUi(this);
    timerRefresh->setInterval(kPassIntervalMs);

    sendSocket->bind(QHostAddress::AnyIPv4, Discovery::kSearchPort);
    recvSocket->bind(QHostAddress::AnyIPv4, Discovery::kDevicePort);
    // Our own request starts like a reply; it must not come back to us. On
    // this platform the option acts on the sending socket.
    recvSocket->setSocketOption(QAbstractSocket::MulticastLoopbackOption, 0);
    sendSocket->setSocketOption(QAbstractSocket::MulticastLoopbackOption, 0);

    connect(recvSocket, &QUdpSocket::readyRead, this, &DevSereachPage::onDataReady);
    connect(ui->btnRefresh, &QPushButton::clicked, this, &DevSereachPage::onBtnRefreshClicked);
    connect(timerRefresh, &QTimer::timeout, this, &DevSereachPage::onTimerRefreshTimeout);
    connect(timerIntf, &QTimer::timeout, this, &DevSereachPage::onTimerIntfTimeout);
    connect(link, &CommLink::gotNetworkInfo, this, &DevSereachPage::onCommLinkNetworkInfo);
    connect(link, &CommLink::gotResult, this, &DevSereachPage::onCommLinkResult);
    connect(link, &CommLink::burstStarted, this, &DevSereachPage::gatherRows);
    connect(link, &CommLink::burstFinished, this, &DevSereachPage::insertGatheredRows);
    connect(ui->treeWidget, &QTreeWidget::customContextMenuRequested, this,
            &DevSereachPage::onCustomContextMenuRequested);

    timerIntf->start(kInterfaceIntervalMs);
}

DevSereachPage::~DevSereachPage()
{
    // Leave the group where a search joined it (a socket that could not
    // bind its port never joined).
    if (!joinedInterface.isEmpty() && recvSocket->state() == QAbstractSocket::BoundState)
        recvSocket->leaveMulticastGroup(QHostAddress(QString::fromLatin1(Discovery::groupAddress())),
                                        QNetworkInterface::interfaceFromName(joinedInterface));
    qDeleteAll(gatheredRows);
    delete ui;
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
    timerRefresh->setInterval(ms);
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
    if (passes > 0) {
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

    link->setNetworkInterface(chosenIntf.name, chosenIntf.hardwareAddress);

    const QNetworkInterface qIntf = QNetworkInterface::interfaceFromName(chosenIntf.name);
    // Results are not checked; a socket that could not bind its port (another
    // program holds it) simply takes no part.
    if (recvSocket->state() == QAbstractSocket::BoundState) {
        recvSocket->joinMulticastGroup(
            QHostAddress(QString::fromLatin1(Discovery::groupAddress())), qIntf);
        joinedInterface = chosenIntf.name;
    }
    if (sendSocket->state() == QAbstractSocket::BoundState)
        sendSocket->setMulticastInterface(qIntf);

    qDeleteAll(gatheredRows);
    gatheredRows.clear();
    ui->treeWidget->clear();
    seen.newSearch();

    passes = kPasses;
    onTimerRefreshTimeout();
    timerRefresh->start();
}

void DevSereachPage::onTimerRefreshTimeout()
{
    if (passes <= 0) {
        passes = 0;
        timerRefresh->stop();
        return;
    }
    quint32 address = 0;
    quint32 netmask = 0;
    const QNetworkInterface multicastIntf = sendSocket->state() == QAbstractSocket::BoundState
                                                ? sendSocket->multicastInterface()
                                                : QNetworkInterface();
    for (const QNetworkAddressEntry& entry : multicastIntf.addressEntries()) {
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) {
            address = entry.ip().toIPv4Address();
            netmask = entry.netmask().toIPv4Address();
        }
    }
    link->sendFrame(LinkFrame::Discover, QString(), QByteArray());
    if (sendSocket->state() == QAbstractSocket::BoundState)
        sendSocket->writeDatagram(Discovery::buildRequest(address, netmask),
                              QHostAddress(QString::fromLatin1(Discovery::groupAddress())),
                              Discovery::kDevicePort);
    --passes;
}

// --------------------------------------------------------------- replies

void DevSereachPage::onDataReady()
{
    gatherRows();
    while (recvSocket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = recvSocket->receiveDatagram();
        processDatagram(datagram.data(), datagram.senderAddress());
    }
    insertGatheredRows();
}

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
    bool isIpv4 = false;
    const quint32 senderValue = sender.toIPv4Address(&isIpv4);
    const QString senderText = isIpv4 ? QHostAddress(senderValue).toString() : sender.toString();
    Discovery::UdpReply reply;
    if (!Discovery::parseUdpReply(datagram, senderText, reply))
        return;
    if (!seen.admitUdp(senderText, reply.deviceMac, reply.carriesMacs))
        return;
    QTreeWidgetItem* row =
        newDeviceRow(senderText, reply.bare ? QCoreApplication::translate("DevSearchPage", "Unknown") : reply.product);
    row->setData(0, kAddressRole, senderText);
    if (!reply.deviceMac.isEmpty())
        row->setData(0, kMacRole, reply.deviceMac);
    for (const Discovery::Interface& intf : reply.interfaces)
        addInterfaceRow(row, intf);
    listDevice(row);
}

void DevSereachPage::onCommLinkNetworkInfo(QByteArray data)
{
    Discovery::DeviceInfo info;
    if (!Discovery::parseDeviceInfo(data, info))
        return;
    if (!seen.admitLink(info.host, info.deviceMac))
        return;
    QTreeWidgetItem* row = newDeviceRow(info.host, info.product);
    if (info.hostMatched) {
        row->setData(0, kAddressRole, info.host);
        row->setData(0, kMacRole, info.deviceMac);
    }
    for (const Discovery::Interface& intf : info.interfaces)
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
    link->sendFrame(LinkFrame::Reboot, chosen.mac, QByteArray());
}

void DevSereachPage::setDeviceIp()
{
    DialogSetIP dialog(nullptr);
    dialog.setInterfaces(chosen.interfaceNames);
    const int result = dialogRunner ? dialogRunner(dialog) : dialog.exec();
    if (result != QDialog::Accepted)
        return;
    link->sendFrame(LinkFrame::SetIp, chosen.mac, Discovery::buildSetIpRequest(dialog.values()));
}
