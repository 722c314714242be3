#include "addresses/address_commands.h"

#include "addresses/address_dialogs.h"
#include "platform/iphelper.h"
#include "platform/prompter.h"
#include "platform/reportfailure.h"
#include "platform/resulttext.h"
#include "session/refresh.h"
#include "values/ip.h"
#include "widgets/actionlist.h"
#include "widgets/modal.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <exception>
#include <thread>

namespace corvane {

AddressCommands::AddressCommands(const ActionList& actions, RefreshCycle& refresh, QWidget* window,
                                 Links links)
    : QObject(window), refresh_(refresh), links_(std::move(links)) {
    frmRenewIP = new TfrmRenewIP(window);
    DHCPWaitForm = new TDHCPWaitForm(window);
    frmAddIP = new TfrmAddIP(window);
    frmDelIP = new TfrmDelIP(window);
    connect(actions.acRenew, &QAction::triggered, this, &AddressCommands::acRenewExecute);
    connect(actions.acRenewIP, &QAction::triggered, this, &AddressCommands::acRenewIPExecute);
    connect(actions.acAddIP, &QAction::triggered, this, &AddressCommands::acAddIPExecute);
    connect(actions.acDelIP, &QAction::triggered, this, &AddressCommands::acDelIPExecute);
}

AddressCommands::~AddressCommands() {
    frmRenewIP = nullptr;
    DHCPWaitForm = nullptr;
    frmAddIP = nullptr;
    frmDelIP = nullptr;
}

namespace {

// The box says why: a helper that refused, a prompt dismissed and a client that failed each
// need something else from the user.
QString leaseFailureText(const QString& what, DWORD rc) {
    const QString reason = resultText(rc).trimmed();
    return reason.isEmpty() ? what : what + QLatin1Char('\n') + reason;
}

} // namespace

DWORD AddressCommands::offThread(const std::function<DWORD()>& call) {
    DWORD result = ERROR_GEN_FAILURE;
    QEventLoop loop;
    std::thread worker;
    try {
        worker = std::thread([&] {
            result = call();
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    } catch (const std::exception&) {
        return call(); // no thread to be had: the wait is on this one
    }
    loop.exec();
    // The loop also ends when the program quits; the call is bounded by its own time limit.
    worker.join();
    return result;
}

void AddressCommands::ReleaseAndRenew(DWORD ifIndex) {
    std::vector<IP_ADAPTER_INDEX_MAP> entries;
    if (const DWORD rc = interfaceMapEntries(ifIndex, entries); rc != NO_ERROR) {
        ReportFailure(QStringLiteral("GetInterfaceInfo"), rc);
        return;
    }
    TDHCPWaitForm& wait = *DHCPWaitForm;
    const auto pump = [] { QCoreApplication::processEvents(); };
    for (IP_ADAPTER_INDEX_MAP& entry : entries) {
        renewing_ = true;
        // Modal while it shows: the main window takes no input, but keeps painting.
        wait.setWindowModality(Qt::ApplicationModal);
        wait.show();
        links_.setStatusPanel(QStringLiteral("Release IP"));
        pump();
        // A network manager keeps the lease until the renewal replaces it.
        if (const DWORD rc = offThread([&entry] { return iphlp().IpReleaseAddress(&entry); });
            rc != NO_ERROR && rc != ERROR_DHCP_KEPT_BY_MANAGER) {
            wait.hide();
            showMessage(leaseFailureText(QStringLiteral("Couldn't release IP address."), rc),
                        QStringLiteral("Oops"), MsgIcon::Error);
        } else {
            links_.setStatusPanel(QStringLiteral("Renew IP"));
            pump();
            if (const DWORD rc = offThread([&entry] { return iphlp().IpRenewAddress(&entry); });
                rc != NO_ERROR) {
                wait.hide();
                showMessage(leaseFailureText(QStringLiteral("Couldn't renew IP address."), rc),
                            QStringLiteral("Oops"), MsgIcon::Error);
            }
        }
        wait.hide();
        renewing_ = false;
        pump();
    }
}

void AddressCommands::acRenewExecute() {
    if (renewing_)
        return;
    {
        const ChangeInProgress change(refresh_);
        ReleaseAndRenew(links_.selectedAdapterIndex());
    }
    emit refreshRequested();
}

void AddressCommands::offer(QComboBox& box, const InterfaceChoice& choice) const {
    box.clear();
    box.addItems(choice.items);
    box.setCurrentIndex(choice.selected);
}

bool AddressCommands::stillThere(std::optional<DWORD> ifIndex, const QString& description) const {
    if (ifIndex && links_.interfaceExists(*ifIndex, description))
        return true;
    showMessage(QStringLiteral("The interface \"%1\" is no longer there. Nothing was changed.")
                    .arg(description),
                QStringLiteral("Error"), MsgIcon::Warning);
    return false;
}

namespace {

// The tree's adapter is no longer one the dialog offers (a refresh ran since the popup).
void notOfferedAnyMore() {
    showMessage(QStringLiteral("The adapter chosen in the tree can no longer take this change "
                               "(it is not operational, or has no address to spare). Nothing was "
                               "changed."),
                QStringLiteral("Error"), MsgIcon::Warning);
}

} // namespace

std::optional<DWORD> AddressCommands::chooseOperational(QDialog& dialog, QComboBox& box,
                                                        std::optional<DWORD> lockedOn,
                                                        bool dhcpOnly) const {
    const std::vector<InterfaceRow> rows = links_.interfaceRows();
    std::optional<std::vector<DWORD>> managed;
    if (dhcpOnly) {
        // An adapter list that cannot be read narrows nothing: the release then says why.
        if (std::vector<uint64_t> buffer; adapterList(buffer) == NO_ERROR)
            managed = dhcpManagedIndexes(reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()));
    }
    const InterfaceChoice choice = operationalChoice(
        rows, lockedOn.value_or(links_.selectedAdapterIndex()), managed ? &*managed : nullptr);
    if (managed && choice.items.isEmpty()) {
        showMessage(QStringLiteral("No DHCP client manages any of the interfaces: there is no "
                                   "address lease to release or renew."),
                    QStringLiteral("Renew IP Address"), MsgIcon::Information);
        return std::nullopt;
    }
    if (lockedOn && !choice.matched) {
        notOfferedAnyMore();
        return std::nullopt;
    }
    offer(box, choice);
    box.setEnabled(!lockedOn);
    if (runModal(dialog) != QDialog::Accepted || box.count() == 0 || box.currentIndex() < 0)
        return std::nullopt;
    const QString chosen = box.currentText();
    const std::optional<DWORD> index = rowIndexOf(rows, chosen);
    if (!stillThere(index, chosen))
        return std::nullopt;
    return index;
}

bool AddressCommands::offersAdd(DWORD ifIndex) const {
    return operationalChoice(links_.interfaceRows(), ifIndex).matched;
}

bool AddressCommands::offersDelete(DWORD ifIndex) const {
    return severalAddressChoice(links_.interfaceRows(), ifIndex).matched;
}

void AddressCommands::acRenewIPExecute() {
    if (renewing_)
        return;
    emit showIpInfo();
    {
        // Nothing refills the rows between what the dialog offers and the change.
        const ChangeInProgress change(refresh_);
        const std::optional<DWORD> index =
            chooseOperational(*frmRenewIP, *frmRenewIP->cbxInterfaces, std::nullopt, true);
        if (!index)
            return;
        ReleaseAndRenew(*index);
    }
    emit refreshRequested();
}

void AddressCommands::acAddIPExecute() {
    addIP(std::nullopt);
}

void AddressCommands::addIPOnAdapter(DWORD ifIndex) {
    addIP(ifIndex);
}

void AddressCommands::addIP(std::optional<DWORD> lockedOn) {
    if (renewing_)
        return;
    emit showIpInfo();
    const ChangeInProgress change(refresh_);
    if (const std::optional<DWORD> index =
            chooseOperational(*frmAddIP, *frmAddIP->cbxInterfaces, lockedOn))
        AddSecondaryAddress(*index);
}

void AddressCommands::AddSecondaryAddress(DWORD ifIndex) {
    const QString addressText = frmAddIP->edtIP->text().trimmed();
    const QString maskText = frmAddIP->cbxMask->currentText().trimmed();
    // inet_addr reads a malformed or empty text as 255.255.255.255 and "10.1" as 10.0.0.1:
    // a typo must not become another address or a host route.
    const std::optional<IPAddr> address = typedQuad(addressText);
    const std::optional<IPMask> mask = typedQuad(maskText);
    if (!address || !mask) {
        showMessage(
            QStringLiteral("\"%1\" is not %2. Type four numbers from 0 to 255 with dots "
                           "between them, for example %3.")
                .arg(address ? maskText : addressText,
                     address ? QStringLiteral("a network mask") : QStringLiteral("an IP address"),
                     address ? QStringLiteral("255.255.255.0") : QStringLiteral("192.168.10.25")),
            QStringLiteral("Error"), MsgIcon::Error);
        return;
    }
    // The kernel would take the same address with another mask as a second entry.
    if (std::vector<uint64_t> buffer; adapterList(buffer) == NO_ERROR) {
        if (const std::optional<QString> has = existingAddressMask(
                reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()), ifIndex, *address)) {
            showMessage(QStringLiteral("%1 is already an address of this interface (network "
                                       "mask %2). Nothing was changed.")
                            .arg(addressText, *has),
                        QStringLiteral("Error"), MsgIcon::Error);
            return;
        }
    }
    const DWORD rc = iphlp().AddIPAddress(*address, *mask, ifIndex, nullptr, nullptr);
    if (rc != NO_ERROR)
        ReportFailureForced(QStringLiteral("Add IP Address"), rc);
}

void AddressCommands::acDelIPExecute() {
    delIP(std::nullopt);
}

void AddressCommands::delIPOnAdapter(DWORD ifIndex) {
    delIP(ifIndex);
}

void AddressCommands::delIP(std::optional<DWORD> lockedOn) {
    if (renewing_)
        return;
    emit showIpInfo();
    const ChangeInProgress change(refresh_);
    const std::vector<InterfaceRow> rows = links_.interfaceRows();
    const InterfaceChoice choice =
        severalAddressChoice(rows, lockedOn.value_or(links_.selectedAdapterIndex()));
    if (lockedOn && !choice.matched) {
        notOfferedAnyMore();
        return;
    }
    TfrmDelIP& d = *frmDelIP;
    d.addressEntries.clear();
    offer(*d.cbxInterfaces, choice);
    d.cbxInterfaces->setEnabled(!lockedOn);
    std::vector<uint64_t> buffer;
    if (adapterList(buffer) != NO_ERROR)
        return;
    d.addressEntries =
        addressEntries(reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()), rows);
    d.contextChosen = false;
    if (runModal(d) != QDialog::Accepted || !d.contextChosen)
        return;
    const QString chosen = d.cbxInterfaces->currentText();
    const std::optional<DWORD> index = choiceIndex(chosen);
    if (!stillThere(index, chosen.left(chosen.lastIndexOf(QStringLiteral(" (")))))
        return;
    if (const DWORD rc = iphlp().DeleteIPAddress(d.nteContext); rc != NO_ERROR)
        ReportFailureForced(QStringLiteral("Delete IP Address"), rc);
}

} // namespace corvane
