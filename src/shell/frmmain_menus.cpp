// The main menu, the tool bar and the notification area's menu; the pages build their own
// popup menus.
#include "shell/frmmain.h"
#include "widgets/help.h"
#include "widgets/menubuilder.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

namespace corvane {

void TfrmMain::createMenus() {
    auto* bar = menuBar();
    const auto topMenu = [&](const char* name, const char* caption) {
        QMenu* menu = bar->addMenu(QString::fromUtf8(caption));
        menu->setObjectName(QString::fromLatin1(name));
        return menu;
    };
    File1 = topMenu("File1", "&File");
    fillMenu(File1, *this, ilTreeImages,
             {{"SaveReport1", &ActionList::acSaveReport},
              {"IPStatistics1", &ActionList::acIPStats},
              {"Refresh1", &ActionList::acRefresh, nullptr, nullptr, -1, "F5"},
              menuSeparator,
              {"Options1", &ActionList::acSetup, "Options..."},
              menuSeparator,
              {"MinimizetoSystemTray1", &ActionList::acTray},
              {"Exit1", &ActionList::acExit}},
             this);
    Routes1 = topMenu("Routes1", "&Routes");
    fillMenu(
        Routes1, *this, ilTreeImages,
        {{"AddRoute1", &ActionList::acAddRoute},
         {"AddRoutesfromList1", &ActionList::acAddFromList},
         {"ModifyRoute1", &ActionList::acModifyRoute},
         {"DeleteRoute1", &ActionList::acDeleteRoute},
         {"DeleteRoutesbyList1", &ActionList::acDelList},
         menuSeparator,
         {"Outgoinginterface1", &ActionList::acBestRoute, nullptr, nullptr, -1, nullptr, 2560}},
        this);
    // Opening it clears the tree-origin flag (frmmain_pages.cpp).
    IPAddress1 = topMenu("IPAddress1", "IP &Address");
    fillMenu(IPAddress1, *this, ilTreeImages,
             {{"RenewIPaddress2", &ActionList::acRenewIP},
              menuSeparator,
              {"AddIPaddress2", &ActionList::acAddIP},
              {"DeleteIPaddress2", &ActionList::acDelIP}},
             this);
    Interface1 = topMenu("Interface1", "I&nterface");
    fillMenu(Interface1, *this, ilTreeImages,
             {{"EnableIF2", &ActionList::acEnableIF},
              {"DisableIF2", &ActionList::acDisableIF},
              menuSeparator,
              {"IFStatistics2", &ActionList::acIfStats}},
             this);
    Info1 = topMenu("Info1", "&Info");
    fillMenu(Info1, *this, ilTreeImages,
             {{"Help1", &ActionList::acHelp, nullptr, nullptr, -1, "F1"},
              menuSeparator,
              {"About1", &ActionList::acAbout, nullptr, "About|Copyright and version information",
               -1, "F2"}},
             this);
    Refresh1 = item(QStringLiteral("Refresh1"));
    Help1 = item(QStringLiteral("Help1"));
    About1 = item(QStringLiteral("About1"));
}

void TfrmMain::createToolBar() {
    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->toggleViewAction()->setEnabled(false); // shown or hidden by the option only
    // "/" a divider (a line), "." a separator (a gap).
    const auto gap = [this] {
        auto* space = new QWidget(ToolBar1);
        space->setFixedWidth(8);
        ToolBar1->addWidget(space);
    };
    const auto divider = [this] { ToolBar1->addSeparator(); };
    ToolBar1->addAction(acRefresh);
    divider();
    for (QAction* a : {acAddRoute, acAddFromList, acModifyRoute, acDeleteRoute, acDelList})
        ToolBar1->addAction(a);
    gap();
    for (QAction* a : {acRenewIP, acAddIP, acDelIP})
        ToolBar1->addAction(a);
    gap();
    ToolBar1->addAction(acIPStats);
    divider();
    ToolBar1->addAction(acSetup);
    divider();
    ToolBar1->addAction(acHelp);
    ToolBar1->addAction(acAbout);
    divider();
    ToolBar1->addAction(acTray);
    ToolBar1->addAction(acExit);
}

void TfrmMain::createTrayMenu() {
    // Shown by the notification-area icon once the tray component exists.
    pmTrayMenu = popupMenu(this, "pmTrayMenu");
    fillMenu(pmTrayMenu, *this, ilTreeImages,
             {{"Show1", &ActionList::acRestoreFromTray},
              {"ShowandremovefromTNA1", &ActionList::acUnTray},
              {"Refresh2", &ActionList::acRefresh},
              menuSeparator,
              {"Help2", nullptr, "Help", "Help System", img::Help, nullptr, 1000},
              {"About2", &ActionList::acAbout},
              menuSeparator,
              {"Exit2", &ActionList::acExit}});
    Help2 = item(QStringLiteral("Help2"));
    Exit2 = item(QStringLiteral("Exit2"));
    connect(Help2, &QAction::triggered, this, [this] { showHelp(1000, this); });
}

} // namespace corvane
