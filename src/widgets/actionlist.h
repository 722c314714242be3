// ActionList1: the main window's actions. The window creates them; a page is handed the list
// and connects and enables the ones it carries out.
#pragma once

class QAction;

namespace corvane {

struct ActionList {
    QAction* acRefresh = nullptr;
    QAction* acExit = nullptr;
    QAction* acHelp = nullptr;
    QAction* acAbout = nullptr;
    QAction* acSetup = nullptr;
    QAction* acSaveReport = nullptr;
    QAction* acIPStats = nullptr;
    QAction* acTray = nullptr;
    QAction* acUnTray = nullptr;
    QAction* acRestoreFromTray = nullptr;
    QAction* acAddRoute = nullptr;
    QAction* acAddFromList = nullptr;
    QAction* acDeleteRoute = nullptr;
    QAction* acModifyRoute = nullptr;
    QAction* acDelList = nullptr;
    QAction* acBestRoute = nullptr;
    QAction* acEnableIF = nullptr;
    QAction* acDisableIF = nullptr;
    QAction* acIfStats = nullptr;
    QAction* acRenew = nullptr;
    QAction* acRenewIP = nullptr;
    QAction* acAddIP = nullptr;
    QAction* acDelIP = nullptr;
};

} // namespace corvane
