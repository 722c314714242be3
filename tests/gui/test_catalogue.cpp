// The main window's catalogue: actions, menus, tool bar, timers, pages and columns.
#include "addresses/address_dialogs.h"
#include "gui_fixture.h"

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <vector>

using namespace corvane;
using namespace corvane::test;

namespace {

class Catalogue : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        make({}, &tray);
    }
    FakeTray tray{true}; // the tray actions start enabled where a notification area exists
    // Entry names of a menu, "-" for separators.
    static QStringList entries(const QMenu* menu) {
        QStringList names;
        for (const QAction* a : menu->actions())
            names << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
        return names;
    }
};

struct ExpectedColumn {
    const char* caption;
    int designed;
    const char* sample; // a text the column must show uncut
};

// Captions in order; no column narrower than designed; caption and sample not cut in the
// fonts the view really uses.
void expectColumns(const QTableView& view, const std::vector<ExpectedColumn>& expected) {
    ASSERT_EQ(view.model()->columnCount(), static_cast<int>(expected.size()));
    for (int i = 0; i < static_cast<int>(expected.size()); ++i) {
        const ExpectedColumn& e = expected[static_cast<std::size_t>(i)];
        const int width = view.columnWidth(i);
        EXPECT_EQ(view.model()->headerData(i, Qt::Horizontal).toString(), e.caption);
        EXPECT_GE(width, e.designed) << e.caption;
        EXPECT_LT(view.horizontalHeader()->fontMetrics().horizontalAdvance(e.caption) + 8, width)
            << e.caption;
        EXPECT_LT(view.fontMetrics().horizontalAdvance(e.sample) + 6, width) << e.caption;
    }
}

// Every list's columns with the texts they were sized for.
void expectAllColumns(const TfrmMain& w) {
    expectColumns(*w.tsInterface->lvIfTable, {{"Admin Status", 81, "disabled"},
                                              {"Index", 65, "0x12"},
                                              {"Address", 105, "00-1B-21-3A-4F-5E"},
                                              {"Type", 65, "Ethernet"},
                                              {"Speed", 75, "100000000"},
                                              {"Oper Status", 80, "Cable disconnected"},
                                              {"Description", 203, ""}});
    expectColumns(*w.tsRoutes->lvFwTable, {{"Dst. Address", 105, "255.255.255.255"},
                                           {"Dst. Mask", 105, "255.255.255.255"},
                                           {"Next Hop", 105, "255.255.255.255"},
                                           {"Index", 65, "0x12"},
                                           {"Metric", 50, "100"},
                                           {"Persistent", 61, "yes"},
                                           {"Protocol", 150, "PROTO_IP_NETMGMT"}});
    expectColumns(*w.tsConnections->lvConnections, {{"Protocol", 55, "TCP"},
                                                    {"Local Address", 100, "255.255.255.255"},
                                                    {"Local Port", 75, "65535"},
                                                    {"Remote Address", 100, "255.255.255.255"},
                                                    {"Remote Port", 75, "65535"},
                                                    {"Status", 95, "ESTABLISHED"},
                                                    {"via Interface", 75, "0x12"},
                                                    {"Owner Process", 115, ""}});
}

TEST_F(Catalogue, Actions) {
    struct Row {
        const char* name;
        const char* category;
        const char* caption;
        const char* tip;
        const char* status;
        bool enabled;
        int helpContext;
    };
    const Row rows[] = {
        {"acRefresh", "File", "Refresh", "Refresh", "Refresh all information", true, 0},
        {"acExit", "File", "Exit", "Exit", "Exit Corvane", true, 0},
        {"acHelp", "Info", "Help", "Help System", "Help System", true, 0},
        {"acAbout", "Info", "About", "Copyright and version information",
         "Copyright and version information", true, 0},
        {"acSetup", "File", "Options", "Options...", "Open options dialog", true, 0},
        {"acSaveReport", "File", "Save Report...", "Save...", "Save IP status report", true, 0},
        {"acIPStats", "File", "IP Statistics", "IP Statistics",
         "Shows IP statisctics across all interfaces", true, 0},
        {"acTray", "File", "Minimize to System Tray", "Minimize to TNA",
         "Minimize into System Tray", true, 0},
        {"acUnTray", "File", "Show and remove from TNA", "Show & Exit TNA",
         " Show and remove from System Tray", true, 0},
        {"acRestoreFromTray", "File", "Show", "Show", "Show but leave in System Tray", true, 0},
        {"acAddRoute", "Routing", "Add Route...", "Add route...", "Add a routing entry", true,
         2510},
        {"acAddFromList", "Routing", "Add Routes from List...", "Add route from list...",
         "Add multiple routing entries", true, 2520},
        {"acDeleteRoute", "Routing", "Delete Route...", "Delete route...",
         "Delete selected routing entry", false, 2530},
        {"acModifyRoute", "Routing", "Modify Route...", "Modify route...",
         "Modify parameters of selected routing entry", false, 2540},
        {"acDelList", "Routing", "Delete Routes by List...", "Delete routes by list...",
         "Delete routes by previously loaded list", false, 2550},
        {"acBestRoute", "Routing", "Outgoing interface...",
         "Determine outgoing interface for a certain destination IP",
         "Determine outgoing interface for a certain destination IP", true, 0},
        {"acEnableIF", "Interface", "Enable I/F", "Enable I/F", "Enable I/F administratively",
         false, 0},
        {"acDisableIF", "Interface", "Disable I/F", "Disable I/F", "Disable I/F administratively",
         false, 0},
        {"acIfStats", "Interface", "I/F Statistics", "I/F Statistics",
         "Shows octet in / out statistics for selected interface", false, 0},
        {"acRenew", "IP", "Renew IP Address", "DHCP renew",
         "Force a DHCP renew on selected interface", true, 0},
        {"acRenewIP", "IP", "Renew IP address...", "Force a DHCP renew for an interface",
         "Force a DHCP renew for an interface", true, 0},
        {"acAddIP", "IP", "Add IP address...", "Add a secondary IP address",
         "Add a secondary IP address", true, 0},
        {"acDelIP", "IP", "Delete IP address...", "Delete a secondary IP address",
         "Delete a secondary IP address", true, 0},
    };
    ASSERT_EQ(window->actionList().size(), static_cast<qsizetype>(std::size(rows)));
    for (const Row& r : rows) {
        const QAction* a = window->item(QString::fromLatin1(r.name));
        ASSERT_NE(a, nullptr) << r.name;
        EXPECT_EQ(a->property("category").toString(), r.category) << r.name;
        EXPECT_EQ(a->text(), r.caption) << r.name;
        EXPECT_EQ(a->toolTip(), r.tip) << r.name;
        EXPECT_EQ(a->statusTip(), r.status) << r.name;
        EXPECT_EQ(a->isEnabled(), r.enabled) << r.name;
        EXPECT_EQ(a->property("helpContext").toInt(), r.helpContext) << r.name;
        EXPECT_FALSE(a->icon().isNull()) << r.name;
        EXPECT_TRUE(a->shortcut().isEmpty()) << r.name; // keys belong to the menu entries
    }
}

TEST_F(Catalogue, MainMenu) {
    const std::pair<const char*, QStringList> menus[] = {
        {"&File",
         {"SaveReport1", "IPStatistics1", "Refresh1", "-", "Options1", "-", "MinimizetoSystemTray1",
          "Exit1"}},
        {"&Routes",
         {"AddRoute1", "AddRoutesfromList1", "ModifyRoute1", "DeleteRoute1", "DeleteRoutesbyList1",
          "-", "Outgoinginterface1"}},
        {"IP &Address", {"RenewIPaddress2", "-", "AddIPaddress2", "DeleteIPaddress2"}},
        {"I&nterface", {"EnableIF2", "DisableIF2", "-", "IFStatistics2"}},
        {"&Info", {"Help1", "-", "About1"}},
    };
    const QList<QAction*> top = window->menuBar()->actions();
    ASSERT_EQ(top.size(), static_cast<qsizetype>(std::size(menus)));
    for (qsizetype i = 0; i < top.size(); ++i) {
        EXPECT_EQ(top[i]->text(), menus[i].first);
        EXPECT_EQ(entries(top[i]->menu()), menus[i].second) << menus[i].first;
    }
    // Every menu opens from the keyboard, each by a letter of its own.
    QSet<QChar> letters;
    for (const QAction* a : top) {
        const qsizetype amp = a->text().indexOf(QLatin1Char('&'));
        ASSERT_GE(amp, 0) << a->text().toStdString();
        ASSERT_LT(amp + 1, a->text().size());
        const QChar letter = a->text()[amp + 1].toLower();
        EXPECT_FALSE(letters.contains(letter)) << a->text().toStdString();
        letters.insert(letter);
    }
    // Entries that differ from their action.
    EXPECT_EQ(window->item("Options1")->text(), "Options...");
    EXPECT_EQ(window->item("About1")->toolTip(), "About");
    EXPECT_EQ(window->item("About1")->statusTip(), "Copyright and version information");
    EXPECT_EQ(window->item("Outgoinginterface1")->property("helpContext").toInt(), 2560);
    const std::pair<const char*, const char*> keys[] = {
        {"Refresh1", "F5"}, {"Help1", "F1"}, {"About1", "F2"}};
    for (const auto& [name, key] : keys)
        EXPECT_EQ(window->item(name)->shortcut(), QKeySequence(QString::fromLatin1(key))) << name;
    // Entries follow their action.
    window->acDeleteRoute->setEnabled(true);
    EXPECT_TRUE(window->item("DeleteRoute1")->isEnabled());
    EXPECT_TRUE(window->item("DeleteRoute2")->isEnabled());
}

TEST_F(Catalogue, ContextMenus) {
    TfrmMain& w = *window;
    const std::pair<QMenu*, QStringList> menus[] = {
        {w.tsIP->pmIPMenu,
         {"Expand1", "CollapseTree1", "-", "CopytoClipboard1", "-", "AddIPaddress1",
          "DeleteIPaddress1", "RenewIPAddress1", "-", "Refresh3"}},
        {w.tsInterface->pmInterfaceMenu,
         {"EnableIF1", "DisableIF1", "IFStatistics1", "-", "IgnoreLocalhost2", "-", "Refresh5", "-",
          "pmInterfaceMenuCopy"}},
        {w.tsRoutes->pmRouteMenu,
         {"AddRoute2", "AddRoutesfromList2", "ModifyRoute2", "DeleteRoute2", "DeleteRoutesbyList2",
          "-", "Outgoinginterface2", "-", "IgnoreLocalhost1", "IgnoreBroadcasts1",
          "AllRoutingTables1", "-", "Refresh4", "-", "pmRouteMenuCopy"}},
        {w.tsConnections->pmConnMenu,
         {"ResolveProtocolName1", "ResolveIPAddresses1", "EstablishedOnly1", "-",
          "IgnoreLocalhost3", "-", "Refresh7", "-", "pmConnMenuCopy"}},
        {w.tsReport->pmReportMenu,
         {"pmReportMenuSelectAll", "pmReportMenuCopy", "-", "SaveReport2"}},
        {w.tsHost->pmLbxIPPopup, {"Copy1"}},
        {w.tsHost->pmLbxDNSPopup, {"Copy2"}},
        {w.pmTrayMenu,
         {"Show1", "ShowandremovefromTNA1", "Refresh2", "-", "Help2", "About2", "-", "Exit2"}},
    };
    for (const auto& [menu, expected] : menus)
        EXPECT_EQ(entries(menu), expected) << menu->objectName().toStdString();

    const std::tuple<const char*, const char*, const char*> captions[] = {
        {"Expand1", "Expand Tree", "Expand all tree nodes"},
        {"CollapseTree1", "Collapse Tree", "Collapse tree view to root nodes only"},
        {"CopytoClipboard1", "Copy to Clipboard", "Copy selected text to clipboard"},
        {"IgnoreBroadcasts1", "Ignore Broadcasts",
         "Specifies whether broadcast routes will be shown"},
        {"IgnoreLocalhost3", "Ignore Localhost",
         "Specifies whether the local host interface will be shown"},
        {"ResolveProtocolName1", "Resolve Protocol Name", "Toggle Port Number resolution"},
        {"EstablishedOnly1", "Established Only",
         "Toggle listing of established TCP connections only"},
        {"pmReportMenuSelectAll", "Select All", "Selects the entire text"},
        {"pmReportMenuCopy", "Copy", "Copies selected text into clipboard"},
        {"Copy1", "Copy to clipboard", ""},
        {"Help2", "Help", "Help System"},
        {"AddRoute2", "Add Route...", "Add a single routing entry"},
        {"Exit2", "Exit", "Exit Corvane"},
    };
    for (const auto& [name, caption, status] : captions) {
        EXPECT_EQ(window->item(name)->text(), caption) << name;
        EXPECT_EQ(window->item(name)->statusTip(), status) << name;
    }
    EXPECT_FALSE(window->item("pmReportMenuSelectAll")->isEnabled());
    EXPECT_FALSE(window->item("pmReportMenuCopy")->isEnabled());
}

TEST_F(Catalogue, ToolBar) {
    QStringList layout;
    for (const QAction* a : window->ToolBar1->actions()) {
        if (a->isSeparator())
            layout << QStringLiteral("/");
        else if (a->objectName().isEmpty())
            layout << QStringLiteral("."); // a gap
        else
            layout << a->objectName();
    }
    const QStringList expected = {"acRefresh",
                                  "/",
                                  "acAddRoute",
                                  "acAddFromList",
                                  "acModifyRoute",
                                  "acDeleteRoute",
                                  "acDelList",
                                  ".",
                                  "acRenewIP",
                                  "acAddIP",
                                  "acDelIP",
                                  ".",
                                  "acIPStats",
                                  "/",
                                  "acSetup",
                                  "/",
                                  "acHelp",
                                  "acAbout",
                                  "/",
                                  "acTray",
                                  "acExit"};
    EXPECT_EQ(layout, expected);
}

TEST_F(Catalogue, Timers) {
    const std::tuple<QTimer * TfrmMain::*, int, bool> timers[] = {
        {&TfrmMain::tmrAutoUpdate, 1000, false},  {&TfrmMain::tmrUptime, 100, true},
        {&TfrmMain::tmrRefreshWait, 1000, false}, {&TfrmMain::tmrModifyUpdate, 2000, false},
        {&TfrmMain::tmrHide, 2000, false},        {&TfrmMain::tmrIntStat, 200, false},
        {&TfrmMain::tmrIpStat, 200, false},
    };
    for (const auto& [timer, interval, active] : timers) {
        const QTimer* t = window.get()->*timer;
        EXPECT_EQ(t->interval(), interval) << t->objectName().toStdString();
        EXPECT_EQ(t->isActive(), active) << t->objectName().toStdString();
    }
}

TEST_F(Catalogue, WindowPagesAndColumns) {
    TfrmMain& w = *window;
    EXPECT_EQ(w.windowTitle(), "Corvane");
    EXPECT_EQ(w.size(), QSize(731, 460));
    const QStringList tabs = {"Host Info", "IP Info", "Interfaces", "Routes", "Netstat", "Report"};
    ASSERT_EQ(w.pcMain->count(), tabs.size());
    for (int i = 0; i < tabs.size(); ++i)
        EXPECT_EQ(w.pcMain->tabText(i), tabs[i]);

    expectAllColumns(w);
    EXPECT_EQ(w.tsRoutes->lvFwTable->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(w.tsInterface->lvIfTable->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_TRUE(w.tsConnections->lvConnections->isSortingEnabled());
    EXPECT_FALSE(w.tsRoutes->lvFwTable->horizontalHeader()->sectionsClickable());
    // Empty until their pages fill them: nothing is made up.
    for (const QTableView* v :
         {w.tsInterface->lvIfTable, w.tsRoutes->lvFwTable, w.tsConnections->lvConnections})
        EXPECT_EQ(v->model()->rowCount(), 0);
    EXPECT_EQ(w.tsIP->tvInfo->model()->rowCount(), 0);
    EXPECT_EQ(w.tsIP->tvInfo->indentation(), 19);
    EXPECT_TRUE(w.tsReport->redtReport->isReadOnly());
    EXPECT_EQ(w.tsReport->redtReport->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_TRUE(QFontInfo(w.tsReport->redtReport->font()).fixedPitch())
        << QFontInfo(w.tsReport->redtReport->font()).family().toStdString();
    EXPECT_EQ(w.tsIP->tvInfo->toolTip(), "Click right mouse button for popup menu");
}

// A desktop font far wider than the one the widths were designed for.
TEST_F(Catalogue, ColumnsHoldTheirTextsInALargeFont) {
    const QFont before = QApplication::font();
    QFont large(QStringLiteral("DejaVu Sans"));
    large.setPixelSize(19);
    QApplication::setFont(large);
    window.reset();
    TfrmMain& w = make();
    QApplication::setFont(before);
    expectAllColumns(w);
}

TEST_F(Catalogue, ImageListHoldsEveryIndexThePagesUse) {
    for (const int index :
         {0, 1, 2, 3, 4, 16, 17, 18, 24, 25, 26, 28, 29, 30, 34, 36, 37, 38, 39, 40, 41, 42, 43})
        EXPECT_FALSE(window->ilTreeImages.icon(index).isNull()) << index;
    EXPECT_TRUE(window->ilTreeImages.icon(img::count).isNull());
}

} // namespace

TEST_F(Catalogue, AddressDialogsKeepTheirHeightAndLeastWidth) {
    const struct {
        AddressDialog* dialog;
        const char* caption;
        int width, height;
    } dialogs[] = {{frmRenewIP, "Renew IP address", 346, 135},
                   {frmAddIP, "Add secondary IP address", 346, 181},
                   {frmDelIP, "Delete IP Address", 346, 159}};
    for (const auto& d : dialogs) {
        SCOPED_TRACE(d.caption);
        EXPECT_EQ(d.dialog->windowTitle(), d.caption);
        EXPECT_EQ(d.dialog->minimumHeight(), d.dialog->maximumHeight());
        EXPECT_GE(d.dialog->minimumHeight(), d.height);
        EXPECT_GE(d.dialog->minimumWidth(), d.width);
        EXPECT_GT(d.dialog->maximumWidth(), d.dialog->minimumWidth()) << "may grow wider";
        EXPECT_EQ(d.dialog->btnOk->text(), "Ok");
        EXPECT_TRUE(d.dialog->btnOk->isDefault());
        EXPECT_FALSE(d.dialog->imgModify->pixmap().isNull());
    }
    EXPECT_EQ(frmRenewIP->cbxInterfaces->property("helpContext").toInt(), 7030);
    EXPECT_EQ(frmAddIP->Label1->text(), "IP addess");
    EXPECT_EQ(frmAddIP->cbxMask->currentText(), "255.255.255.0");
    EXPECT_TRUE(frmAddIP->cbxMask->isEditable());
    EXPECT_EQ(frmAddIP->edtIP->toolTip(), "IP address");
    EXPECT_EQ(frmDelIP->Label1->text(), "Configured IP addresses and NTE context");
    EXPECT_EQ(frmDelIP->cbxInterfaces->property("helpContext").toInt(), 6020);
    EXPECT_EQ(DHCPWaitForm->Panel1->text(), "Performing a DHCP address renew, please wait...");
    EXPECT_TRUE(DHCPWaitForm->windowFlags() & Qt::FramelessWindowHint);
    // The wait ends with the work, not with a key.
    DHCPWaitForm->show();
    QTest::keyClick(DHCPWaitForm, Qt::Key_Escape);
    EXPECT_TRUE(DHCPWaitForm->isVisible());
    DHCPWaitForm->hide();
}

TEST_F(Catalogue, DeleteDialogListsTheChosenInterfacesAddresses) {
    TfrmDelIP& d = *frmDelIP;
    d.cbxInterfaces->addItems({"eth0 - Ethernet (0x2)", "br0 (test) - Bridge (0x1B)"});
    d.addressEntries = {"10.0.0.1 255.0.0.0 (5):2", "10.0.0.6 255.0.0.0 (3):2",
                        "192.168.7.1 255.255.255.0 (9):27"};
    d.FormShow();
    EXPECT_EQ(d.cbxIPAddresses->count(), 2);
    EXPECT_EQ(d.cbxIPAddresses->currentText(), "10.0.0.1 255.0.0.0 (5)");
    d.cbxIPAddresses->setCurrentIndex(1);
    d.btnOkClick();
    EXPECT_TRUE(d.contextChosen);
    EXPECT_EQ(d.nteContext, 3u);
    d.cbxInterfaces->setCurrentIndex(1);
    d.cbxInterfacesChange();
    EXPECT_EQ(d.cbxIPAddresses->itemText(0), "192.168.7.1 255.255.255.0 (9)");
    EXPECT_EQ(d.cbxIPAddresses->count(), 1);
    d.addressEntries.clear();
    d.cbxInterfacesChange();
    EXPECT_FALSE(d.btnOk->isEnabled()) << "nothing to delete";
    d.btnOkClick();
    EXPECT_FALSE(d.contextChosen);
}

// No dialog asks for a minimise or maximise button: a dialog is closed, not set aside, and
// the statistics windows are windows of their own with only a close button.
TEST_F(Catalogue, DialogsAskForNoMinimiseOrMaximiseButton) {
    QList<QDialog*> dialogs = window->findChildren<QDialog*>();
    dialogs << frmSetup << frmAbout << frmExit;
    int checked = 0;
    for (QDialog* d : dialogs) {
        if (d->objectName().isEmpty())
            continue; // Qt's own boxes, made for a moment
        const Qt::WindowFlags flags = d->windowFlags();
        const std::string name = d->objectName().toStdString();
        EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint) << name;
        EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint) << name;
        // Without these, Qt gives a plain window every button.
        const Qt::WindowType type = d->windowType();
        EXPECT_TRUE(type == Qt::Dialog || (flags & Qt::CustomizeWindowHint)) << name;
        ++checked;
    }
    // The main window's dialogs, the options, about and exit boxes: all fourteen forms but one.
    EXPECT_GE(checked, 13);
}
