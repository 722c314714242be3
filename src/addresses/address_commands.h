// The address commands of the main window: DHCP release and renewal of an adapter, and adding
// and deleting secondary addresses. They read the interface rows and the tree's popup values
// through links the window supplies, and never refill a list while a change runs.
#pragma once

#include "addresses/address_choices.h"

#include <QObject>
#include <functional>

class QComboBox;
class QDialog;
class QWidget;

namespace corvane {

struct ActionList;
class RefreshCycle;

class AddressCommands : public QObject {
    Q_OBJECT
public:
    struct Links {
        std::function<std::vector<InterfaceRow>()> interfaceRows;
        std::function<DWORD()> selectedAdapterIndex;        // set by the tree's popup
        std::function<void(const QString&)> setStatusPanel; // status bar panel 1
        // The system still has this interface under this description.
        std::function<bool(DWORD, const QString&)> interfaceExists;
    };
    // Creates the four dialogs as children of window.
    AddressCommands(const ActionList& actions, RefreshCycle& refresh, QWidget* window, Links links);
    ~AddressCommands() override;

    void acRenewExecute();
    void acRenewIPExecute();
    // From the menu and the tool bar: any adapter, the tree's last one preselected.
    void acAddIPExecute();
    void acDelIPExecute();
    // From the tree's popup: that adapter and no other.
    void addIPOnAdapter(DWORD ifIndex);
    void delIPOnAdapter(DWORD ifIndex);
    // Whether the add and the delete dialog would offer this interface now.
    bool offersAdd(DWORD ifIndex) const;
    bool offersDelete(DWORD ifIndex) const;
    void ReleaseAndRenew(DWORD ifIndex);
    void AddSecondaryAddress(DWORD ifIndex);
    // A release or renewal is under way on the worker.
    bool renewing() const { return renewing_; }

signals:
    void showIpInfo();
    void refreshRequested();

private:
    // Runs the platform call on a worker thread; the event loop keeps running meanwhile.
    static DWORD offThread(const std::function<DWORD()>& call);
    // Fills a drop-down, selects the chosen item, and locks it when the tree chose.
    void offer(QComboBox& box, const InterfaceChoice& choice) const;
    // Tells the user when the chosen interface has gone since the dialog was filled.
    bool stillThere(std::optional<DWORD> ifIndex, const QString& description) const;
    // Offers the operational interfaces in the dialog's list and runs it: the index of the row
    // chosen, if the dialog was confirmed and that interface is still there. Locked on an
    // interface, the list shows it alone selected and fixed, or the dialog is not run.
    // dhcpOnly offers only those a DHCP client manages, and says so instead of an empty list.
    std::optional<DWORD> chooseOperational(QDialog& dialog, QComboBox& box,
                                           std::optional<DWORD> lockedOn,
                                           bool dhcpOnly = false) const;
    void addIP(std::optional<DWORD> lockedOn);
    void delIP(std::optional<DWORD> lockedOn);

    RefreshCycle& refresh_;
    Links links_;
    bool renewing_ = false;
};

} // namespace corvane
