// The main menu, the tool bar and the context menus. Menu entries are items of their own that
// follow their action (text, pictures, enabled state) and trigger it, so one entry can differ
// from the action: Refresh1 is disabled during a refresh while the tool button stays enabled.
#include "shell/frmmain.h"
#include "shell/frmmain_hints.h"
#include "shell/help.h"
#include "shell/runtimeoptions.h"

#include <QAction>
#include <QKeySequence>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTableView>
#include <QToolBar>
#include <QTreeView>
#include <initializer_list>

namespace corvane {
namespace {

// One entry of a menu. Without an action it is a plain item of the menu's own (toggles and
// page commands) unless it has no name either: then it is a separator.
struct MenuEntry {
    const char* name;
    QAction* TfrmMain::*action;
    const char* caption = nullptr; // for plain items, or to differ from the action
    const char* hint = nullptr;
    int image = -1;
    const char* shortcut = nullptr;
    int helpContext = 0;
    bool checkable = false;
};

const MenuEntry separator{nullptr, nullptr};

QAction* followAction(QAction* source, QObject* owner, const MenuEntry& e) {
    auto* item = new QAction(owner);
    item->setObjectName(QString::fromLatin1(e.name));
    const auto sync = [item, source, caption = e.caption, hint = e.hint] {
        item->setText(caption ? QString::fromUtf8(caption) : source->text());
        if (hint) {
            applyHint(item, QString::fromUtf8(hint));
        } else {
            item->setToolTip(source->toolTip());
            item->setStatusTip(source->statusTip());
        }
        item->setIcon(source->icon());
        item->setEnabled(source->isEnabled());
        item->setVisible(source->isVisible());
    };
    sync();
    QObject::connect(source, &QAction::changed, item, sync);
    QObject::connect(item, &QAction::triggered, source, &QAction::trigger);
    return item;
}

// Fills a menu from its entry table.
void fillMenu(TfrmMain& w, QMenu* menu, std::initializer_list<MenuEntry> entries) {
    for (const MenuEntry& e : entries) {
        if (!e.name) {
            menu->addSeparator();
            continue;
        }
        QAction* item = nullptr;
        if (e.action) {
            item = followAction(w.*e.action, menu, e);
        } else {
            item = new QAction(QString::fromUtf8(e.caption), menu);
            item->setObjectName(QString::fromLatin1(e.name));
            if (e.hint)
                applyHint(item, QString::fromUtf8(e.hint));
            item->setCheckable(e.checkable);
        }
        if (e.image >= 0)
            item->setIcon(w.ilTreeImages.icon(e.image));
        if (e.shortcut) {
            item->setShortcut(QKeySequence(QString::fromLatin1(e.shortcut)));
            w.addAction(item); // the key works whether or not the menu bar is shown
        }
        if (e.helpContext)
            item->setProperty("helpContext", e.helpContext);
        menu->addAction(item);
    }
}

} // namespace

void TfrmMain::createMenus() {
    auto* bar = menuBar();
    const auto topMenu = [&](const char* name, const char* caption) {
        QMenu* menu = bar->addMenu(QString::fromUtf8(caption));
        menu->setObjectName(QString::fromLatin1(name));
        return menu;
    };
    File1 = topMenu("File1", "&File");
    fillMenu(*this, File1,
             {{"SaveReport1", &TfrmMain::acSaveReport},
              {"IPStatistics1", &TfrmMain::acIPStats},
              {"Refresh1", &TfrmMain::acRefresh, nullptr, nullptr, -1, "F5"},
              separator,
              {"Options1", &TfrmMain::acSetup, "Options..."},
              separator,
              {"MinimizetoSystemTray1", &TfrmMain::acTray},
              {"Exit1", &TfrmMain::acExit}});
    Routes1 = topMenu("Routes1", "&Routes");
    fillMenu(*this, Routes1,
             {{"AddRoute1", &TfrmMain::acAddRoute},
              {"AddRoutesfromList1", &TfrmMain::acAddFromList},
              {"ModifyRoute1", &TfrmMain::acModifyRoute},
              {"DeleteRoute1", &TfrmMain::acDeleteRoute},
              {"DeleteRoutesbyList1", &TfrmMain::acDelList},
              separator,
              {"Outgoinginterface1", &TfrmMain::acBestRoute, nullptr, nullptr, -1, nullptr, 2560}});
    // Opening it runs IPAddress1Click of the secondary-address page (aboutToShow).
    IPAddress1 = topMenu("IPAddress1", "IP Address");
    fillMenu(*this, IPAddress1,
             {{"RenewIPaddress2", &TfrmMain::acRenewIP},
              separator,
              {"AddIPaddress2", &TfrmMain::acAddIP},
              {"DeleteIPaddress2", &TfrmMain::acDelIP}});
    Interface1 = topMenu("Interface1", "I&nterface");
    fillMenu(*this, Interface1,
             {{"EnableIF2", &TfrmMain::acEnableIF},
              {"DisableIF2", &TfrmMain::acDisableIF},
              separator,
              {"IFStatistics2", &TfrmMain::acIfStats}});
    Info1 = topMenu("Info1", "&Info");
    fillMenu(*this, Info1,
             {{"Help1", &TfrmMain::acHelp, nullptr, nullptr, -1, "F1"},
              separator,
              {"About1", &TfrmMain::acAbout, nullptr, "About|Copyright and version information", -1,
               "F2"}});
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

void TfrmMain::createContextMenus() {
    const auto popup = [this](const char* name) {
        auto* menu = new QMenu(this);
        menu->setObjectName(QString::fromLatin1(name));
        return menu;
    };
    pmIPMenu = popup("pmIPMenu");
    fillMenu(*this, pmIPMenu,
             {{"Expand1", nullptr, "Expand Tree", "Expand all tree nodes", img::Expand},
              {"CollapseTree1", nullptr, "Collapse Tree", "Collapse tree view to root nodes only",
               img::Collapse},
              separator,
              {"CopytoClipboard1", nullptr, "Copy to Clipboard", "Copy selected text to clipboard",
               img::Copy},
              separator,
              {"AddIPaddress1", &TfrmMain::acAddIP},
              {"DeleteIPaddress1", &TfrmMain::acDelIP},
              {"RenewIPAddress1", &TfrmMain::acRenew},
              separator,
              {"Refresh3", &TfrmMain::acRefresh}});
    pmInterfaceMenu = popup("pmInterfaceMenu");
    fillMenu(*this, pmInterfaceMenu,
             {{"EnableIF1", &TfrmMain::acEnableIF},
              {"DisableIF1", &TfrmMain::acDisableIF},
              {"IFStatistics1", &TfrmMain::acIfStats},
              separator,
              {"IgnoreLocalhost2", nullptr, "Ignore Localhost",
               "Specifies whether the local host interface will be shown", -1, nullptr, 0, true},
              separator,
              {"Refresh5", &TfrmMain::acRefresh}});
    pmRouteMenu = popup("pmRouteMenu");
    fillMenu(*this, pmRouteMenu,
             {{"AddRoute2", &TfrmMain::acAddRoute, nullptr, "Add a single routing entry"},
              {"AddRoutesfromList2", &TfrmMain::acAddFromList},
              {"ModifyRoute2", &TfrmMain::acModifyRoute},
              {"DeleteRoute2", &TfrmMain::acDeleteRoute},
              {"DeleteRoutesbyList2", &TfrmMain::acDelList},
              separator,
              {"Outgoinginterface2", &TfrmMain::acBestRoute},
              separator,
              {"IgnoreLocalhost1", nullptr, "Ignore Localhost",
               "Specifies whether the local host interface will be shown", -1, nullptr, 0, true},
              {"IgnoreBroadcasts1", nullptr, "Ignore Broadcasts",
               "Specifies whether broadcast routes will be shown", -1, nullptr, 0, true},
              separator,
              {"Refresh4", &TfrmMain::acRefresh}});
    pmConnMenu = popup("pmConnMenu");
    fillMenu(*this, pmConnMenu,
             {{"ResolveProtocolName1", nullptr, "Resolve Protocol Name",
               "Toggle Port Number resolution", -1, nullptr, 0, true},
              {"ResolveIPAddresses1", nullptr, "Resolve IP Addresses",
               "Toggle IP address resolution", -1, nullptr, 0, true},
              {"EstablishedOnly1", nullptr, "Established Only",
               "Toggle listing of established TCP connections only", -1, nullptr, 0, true},
              separator,
              {"IgnoreLocalhost3", nullptr, "Ignore Localhost",
               "Specifies whether the local host interface will be shown", -1, nullptr, 0, true},
              separator,
              {"Refresh7", &TfrmMain::acRefresh}});
    pmReportMenu = popup("pmReportMenu");
    fillMenu(
        *this, pmReportMenu,
        {{"pmReportMenuSelectAll", nullptr, "Select All", "Selects the entire text",
          img::SelectAll},
         {"pmReportMenuCopy", nullptr, "Copy", "Copies selected text into clipboard", img::Copy},
         separator,
         {"SaveReport2", &TfrmMain::acSaveReport}});
    pmLbxIPPopup = popup("pmLbxIPPopup");
    fillMenu(*this, pmLbxIPPopup, {{"Copy1", nullptr, "Copy to clipboard", nullptr, img::Copy}});
    pmLbxDNSPopup = popup("pmLbxDNSPopup");
    fillMenu(*this, pmLbxDNSPopup, {{"Copy2", nullptr, "Copy to clipboard", nullptr, img::Copy}});
    // Shown by the notification-area icon once the tray component exists.
    pmTrayMenu = popup("pmTrayMenu");
    fillMenu(*this, pmTrayMenu,
             {{"Show1", &TfrmMain::acRestoreFromTray},
              {"ShowandremovefromTNA1", &TfrmMain::acUnTray},
              {"Refresh2", &TfrmMain::acRefresh},
              separator,
              {"Help2", nullptr, "Help", "Help System", img::Help, nullptr, 1000},
              {"About2", &TfrmMain::acAbout},
              separator,
              {"Exit2", &TfrmMain::acExit}});
    Help2 = item(QStringLiteral("Help2"));
    Exit2 = item(QStringLiteral("Exit2"));

    // Copies wait for their pages; with nothing selected they have nothing to copy.
    for (const char* name : {"CopytoClipboard1", "Copy1", "Copy2"})
        item(QString::fromLatin1(name))->setEnabled(false);

    connect(item(QStringLiteral("Expand1")), &QAction::triggered, tvInfo, &QTreeView::expandAll);
    connect(item(QStringLiteral("CollapseTree1")), &QAction::triggered, tvInfo,
            &QTreeView::collapseAll);
    connect(Help2, &QAction::triggered, this, [this] { showHelp(1000, this); });

    // The ignore toggles change the run-time option unsaved and refresh.
    const auto toggle = [this](const char* name, bool RuntimeOptions::*option) {
        QAction* a = item(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, [this, option] {
            runtimeOptions().*option = !(runtimeOptions().*option);
            RefreshNetworkStatus();
        });
    };
    toggle("IgnoreLocalhost1", &RuntimeOptions::optIgnoreLocalhost);
    toggle("IgnoreLocalhost2", &RuntimeOptions::optIgnoreLocalhost);
    toggle("IgnoreLocalhost3", &RuntimeOptions::optIgnoreLocalhost);
    toggle("IgnoreBroadcasts1", &RuntimeOptions::optIgnoreBroadcasts);
    // Before each pop-up the toggles show the options as they stand.
    const auto syncChecks = [this] {
        const RuntimeOptions& o = runtimeOptions();
        for (const char* name : {"IgnoreLocalhost1", "IgnoreLocalhost2", "IgnoreLocalhost3"})
            item(QString::fromLatin1(name))->setChecked(o.optIgnoreLocalhost);
        item(QStringLiteral("IgnoreBroadcasts1"))->setChecked(o.optIgnoreBroadcasts);
        item(QStringLiteral("ResolveProtocolName1"))->setChecked(o.optResolvePorts);
        item(QStringLiteral("ResolveIPAddresses1"))->setChecked(o.optResolveAddresses);
        item(QStringLiteral("EstablishedOnly1"))->setChecked(o.optEstablishedOnly);
    };
    for (QMenu* m : {pmInterfaceMenu, pmRouteMenu, pmConnMenu})
        connect(m, &QMenu::aboutToShow, this, syncChecks);

    // The report's own entries: they apply to the report text.
    QAction* selectAll = item(QStringLiteral("pmReportMenuSelectAll"));
    QAction* copy = item(QStringLiteral("pmReportMenuCopy"));
    selectAll->setEnabled(false);
    copy->setEnabled(false);
    connect(selectAll, &QAction::triggered, redtReport, &QPlainTextEdit::selectAll);
    connect(copy, &QAction::triggered, redtReport, &QPlainTextEdit::copy);
    connect(pmReportMenu, &QMenu::aboutToShow, this, [this, selectAll, copy] {
        selectAll->setEnabled(!redtReport->document()->isEmpty());
        copy->setEnabled(redtReport->textCursor().hasSelection());
    });

    attachContextMenu(tvInfo, pmIPMenu);
    attachContextMenu(lvIfTable, pmInterfaceMenu);
    attachContextMenu(lvFwTable, pmRouteMenu);
    attachContextMenu(lvConnections, pmConnMenu);
    attachContextMenu(redtReport, pmReportMenu);
    attachContextMenu(lbxIPAddresses, pmLbxIPPopup);
    attachContextMenu(lbxDNSServers, pmLbxDNSPopup);
}

void TfrmMain::attachContextMenu(QWidget* control, QMenu* menu) {
    control->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(control, &QWidget::customContextMenuRequested, menu, [control, menu](const QPoint& at) {
        // A right click on the tree selects the node under the cursor first.
        if (auto* tree = qobject_cast<QTreeView*>(control)) {
            const QModelIndex index = tree->indexAt(at);
            if (index.isValid())
                tree->setCurrentIndex(index);
        }
        QWidget* area = control;
        if (auto* scroller = qobject_cast<QAbstractScrollArea*>(control))
            area = scroller->viewport();
        menu->popup(area->mapToGlobal(at));
    });
}

} // namespace corvane
