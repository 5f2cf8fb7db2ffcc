#pragma once

#include "common/netif.h"
#include "discovery/discoveryproto.h"

#include <QByteArray>
#include <QHostAddress>
#include <QPoint>
#include <QStringList>
#include <QWidget>
#include <functional>

class CommLink;
class DeviceSearch;
class DialogSetIP;
class QAction;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;

// Form of the device search page, built in code.
class UI_DevSereachPage
{
public:
    QVBoxLayout* verticalLayout = nullptr;
    QTreeWidget* treeWidget = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QLabel* labelIntf = nullptr;
    QComboBox* comboBoxIntf = nullptr;
    QPushButton* btnRefresh = nullptr;

    void setupUi(QWidget* page);
    void retranslateUi(QWidget* page);
};

// Finds the devices on the LAN on one chosen interface, by a UDP multicast
// request and by a link-layer discovery frame at once, and lists each
// answering device with its interfaces. From a device's context menu the
// operator browses it, changes its IP settings or reboots it; the last two
// travel as link frames, so they work whatever the device's address is.
// The search itself (passes, answers, duplicate rules, requests) is a
// DeviceSearch, shared with the command-line tool; the page shows it.
class DevSereachPage : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kAddressRole = Qt::UserRole + 1;
    static constexpr int kMacRole = Qt::UserRole + 2;
    static constexpr int kPasses = 3;

    explicit DevSereachPage(QWidget* parent = nullptr);
    ~DevSereachPage() override;

    UI_DevSereachPage* form() const { return ui; }
    CommLink* commLink() const;
    DeviceSearch* deviceSearch() const { return search; }
    int passesLeft() const;
    const Discovery::SeenDevices& seenDevices() const;

    // Handles one datagram read from the receive socket.
    void processDatagram(const QByteArray& datagram, const QHostAddress& sender);

    // Seams for tests and benchmarks. The interface source defaults to the
    // system's list; the menu and dialog runners default to running them
    // modally; the pass interval defaults to 1000 ms.
    using InterfaceSource = std::function<QList<NetIf>()>;
    using MenuRunner = std::function<QAction*(QMenu& menu)>;
    using DialogRunner = std::function<int(DialogSetIP& dialog)>;
    void setInterfaceSource(InterfaceSource source);
    void setMenuRunner(MenuRunner runner);
    void setDialogRunner(DialogRunner runner);
    void setPassInterval(int ms);

Q_SIGNALS:
    // A device row was added to the tree.
    void deviceListed();

public Q_SLOTS:
    void onBtnRefreshClicked();
    void onTimerRefreshTimeout();
    void onTimerIntfTimeout();
    void onCommLinkNetworkInfo(QByteArray data);
    void onCommLinkResult(QByteArray data);
    void onCustomContextMenuRequested(QPoint pos);

protected:
    void changeEvent(QEvent* event) override;

private:
    // What the context menu's actions work on, copied from the device row.
    struct ChosenDevice
    {
        QString address;
        QString mac;
        QStringList interfaceNames;
    };

    QTreeWidgetItem* newDeviceRow(const QString& address, const QString& product) const;
    void addInterfaceRow(QTreeWidgetItem* row, const Discovery::Interface& intf) const;
    void listDevice(QTreeWidgetItem* row);
    void onDeviceFound(int index);
    // Between these two, new rows are gathered and then inserted at once.
    void gatherRows();
    void insertGatheredRows();
    void browseDevice();
    void setDeviceIp();
    void rebootDevice();

    UI_DevSereachPage* ui;
    QTimer* timerIntf;
    DeviceSearch* search;
    QStringList intfNames;
    bool gatheringRows = false;
    QList<QTreeWidgetItem*> gatheredRows; // in the order they came
    ChosenDevice chosen;
    InterfaceSource interfaceSource;
    MenuRunner menuRunner;
    DialogRunner dialogRunner;
};
