// The action catalogue of the main window and the handlers the shell itself owns.
#include "shell/frmmain.h"
#include "widgets/hints.h"

#include <QAction>

namespace corvane {
namespace {

struct ActionSpec {
    QAction* TfrmMain::*member;
    const char* name;
    const char* category;
    const char* caption;
    const char* hint; // short hint|status-bar text; without "|" it serves as both
    int image;
    bool enabled;
    int helpContext; // 0: none
};

// Actions whose pages come later exist here with their texts and start state; their pages
// connect them.
const ActionSpec actionSpecs[] = {
    {&TfrmMain::acRefresh, "acRefresh", "File", "Refresh", "Refresh|Refresh all information",
     img::Refresh, true, 0},
    {&TfrmMain::acExit, "acExit", "File", "Exit", "Exit|Exit Corvane", img::Exit, true, 0},
    {&TfrmMain::acHelp, "acHelp", "Info", "Help", "Help System", img::Help, true, 0},
    {&TfrmMain::acAbout, "acAbout", "Info", "About", "Copyright and version information",
     img::About, true, 0},
    {&TfrmMain::acSetup, "acSetup", "File", "Options", "Options...|Open options dialog",
     img::Options, true, 0},
    {&TfrmMain::acSaveReport, "acSaveReport", "File", "Save Report...",
     "Save...|Save IP status report", img::SaveReport, true, 0},
    {&TfrmMain::acIPStats, "acIPStats", "File", "IP Statistics",
     "IP Statistics|Shows IP statisctics across all interfaces", img::IpStats, true, 0},
    {&TfrmMain::acTray, "acTray", "File", "Minimize to System Tray",
     "Minimize to TNA|Minimize into System Tray", img::Tray, true, 0},
    {&TfrmMain::acUnTray, "acUnTray", "File", "Show and remove from TNA",
     "Show & Exit TNA| Show and remove from System Tray", img::UnTray, true, 0},
    {&TfrmMain::acRestoreFromTray, "acRestoreFromTray", "File", "Show",
     "Show|Show but leave in System Tray", img::Show, true, 0},
    {&TfrmMain::acAddRoute, "acAddRoute", "Routing", "Add Route...",
     "Add route...|Add a routing entry", img::AddRoute, true, 2510},
    {&TfrmMain::acAddFromList, "acAddFromList", "Routing", "Add Routes from List...",
     "Add route from list...|Add multiple routing entries", img::AddFromList, true, 2520},
    {&TfrmMain::acDeleteRoute, "acDeleteRoute", "Routing", "Delete Route...",
     "Delete route...|Delete selected routing entry", img::DeleteRoute, false, 2530},
    {&TfrmMain::acModifyRoute, "acModifyRoute", "Routing", "Modify Route...",
     "Modify route...|Modify parameters of selected routing entry", img::ModifyRoute, false, 2540},
    {&TfrmMain::acDelList, "acDelList", "Routing", "Delete Routes by List...",
     "Delete routes by list...|Delete routes by previously loaded list", img::DeleteList, false,
     2550},
    {&TfrmMain::acBestRoute, "acBestRoute", "Routing", "Outgoing interface...",
     "Determine outgoing interface for a certain destination IP", img::BestRoute, true, 0},
    {&TfrmMain::acEnableIF, "acEnableIF", "Interface", "Enable I/F",
     "Enable I/F|Enable I/F administratively", img::EnableIF, false, 0},
    {&TfrmMain::acDisableIF, "acDisableIF", "Interface", "Disable I/F",
     "Disable I/F|Disable I/F administratively", img::DisableIF, false, 0},
    {&TfrmMain::acIfStats, "acIfStats", "Interface", "I/F Statistics",
     "I/F Statistics|Shows octet in / out statistics for selected interface", img::IfStats, false,
     0},
    {&TfrmMain::acRenew, "acRenew", "IP", "Renew IP Address",
     "DHCP renew|Force a DHCP renew on selected interface", img::Renew, true, 0},
    {&TfrmMain::acRenewIP, "acRenewIP", "IP", "Renew IP address...",
     "Force a DHCP renew for an interface", img::Renew, true, 0},
    {&TfrmMain::acAddIP, "acAddIP", "IP", "Add IP address...", "Add a secondary IP address",
     img::AddIP, true, 0},
    {&TfrmMain::acDelIP, "acDelIP", "IP", "Delete IP address...", "Delete a secondary IP address",
     img::DeleteIP, true, 0},
};

} // namespace

void TfrmMain::createActions() {
    for (const ActionSpec& spec : actionSpecs) {
        auto* action =
            new QAction(ilTreeImages.icon(spec.image), QString::fromUtf8(spec.caption), this);
        action->setObjectName(QString::fromLatin1(spec.name));
        action->setProperty("category", QString::fromLatin1(spec.category));
        action->setProperty("helpContext", spec.helpContext);
        applyHint(action, QString::fromUtf8(spec.hint));
        action->setEnabled(spec.enabled);
        this->*spec.member = action;
        actions_.append(action);
    }
    connectActions();
}

void TfrmMain::connectActions() {
    connect(acRefresh, &QAction::triggered, this, &TfrmMain::acRefreshExecute);
    connect(acExit, &QAction::triggered, this, &TfrmMain::acExitExecute);
    connect(acHelp, &QAction::triggered, this, &TfrmMain::acHelpExecute);
    connect(acAbout, &QAction::triggered, this, &TfrmMain::acAboutExecute);
    connect(acSetup, &QAction::triggered, this, &TfrmMain::acSetupExecute);
    connect(acTray, &QAction::triggered, this, &TfrmMain::acTrayExecute);
    connect(acUnTray, &QAction::triggered, this, &TfrmMain::acUnTrayExecute);
    connect(acRestoreFromTray, &QAction::triggered, this, &TfrmMain::acRestoreFromTrayExecute);
}

} // namespace corvane
