// The main window: six pages, the action list with its menus and tool bar, the status bar
// and the timers. Other windows read its controls directly, so they are public.
#pragma once

#include "platform/iphelper.h"
#include "shell/frmmain_images.h"
#include "shell/refresh.h"

#include <QMainWindow>
#include <QStringList>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QScrollArea;
class QStandardItemModel;
class QStatusBar;
class QTabWidget;
class QTableView;
class QTimer;
class QToolBar;
class QTreeView;

namespace corvane {

class ConnectionModel;
class RouteModel;

// The notification-area icon as the main window uses it; the tray component implements it.
class TrayIconService {
public:
    virtual ~TrayIconService() = default;
    // False when the desktop offers no notification area.
    virtual bool addIcon() = 0;
    virtual void removeIcon() = 0;
};

// Commands of TrayIcon: add the icon (and hide the window), remove it (and show the window),
// hide or show the window.
enum class TrayCommand {
    Add = 0,
    AddAndHide = 1,
    Remove = 2,
    RemoveAndShow = 3,
    Hide = 4,
    Show = 5
};

class TfrmMain : public QMainWindow, public RefreshHost {
    Q_OBJECT
public:
    // arguments: the command line without the program name.
    explicit TfrmMain(const QStringList& arguments, TrayIconService* tray = nullptr,
                      QWidget* parent = nullptr);
    ~TfrmMain() override;

    // --- state set at creation ---
    bool xpFamily = false;
    bool vista = false;
    LoadFailure loadFailure;
    QString versionText;
    bool trayMode = false;
    bool startedToTray = false;
    QStringList ipLog; // lines waiting for the IP address log
    bool firstShowPending() const { return firstShow_; }

    // --- layout ---
    QToolBar* ToolBar1 = nullptr;
    QTabWidget* pcMain = nullptr;
    QStatusBar* sbMain = nullptr;
    QLineEdit* eCopy = nullptr; // hidden; carries clipboard copies
    ImageList ilTreeImages;

    // --- pages ---
    QWidget* tsHost = nullptr;
    QWidget* tsIP = nullptr;
    QWidget* tsInterface = nullptr;
    QWidget* tsRoutes = nullptr;
    QWidget* tsConnections = nullptr;
    QWidget* tsReport = nullptr;

    QScrollArea* sbxHostInfo = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* lblHostName = nullptr;
    QLabel* lblDomainName = nullptr;
    QLabel* lblDNSEnabled = nullptr;
    QLabel* lblRoutingEnabled = nullptr;
    QLabel* lblProxyARPEnabled = nullptr;
    QLabel* lblUptime = nullptr;
    QListWidget* lbxIPAddresses = nullptr;
    QListWidget* lbxDNSServers = nullptr;

    QTreeView* tvInfo = nullptr;
    QStandardItemModel* tvInfoModel = nullptr;
    QTableView* lvIfTable = nullptr;
    QStandardItemModel* lvIfTableModel = nullptr;
    QTableView* lvFwTable = nullptr;
    RouteModel* lvFwTableModel = nullptr;
    QTableView* lvConnections = nullptr;
    ConnectionModel* lvConnectionsModel = nullptr;
    QPlainTextEdit* redtReport = nullptr;

    // --- actions (ActionList1) ---
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
    QList<QAction*> actionList() const { return actions_; }

    // --- menus; menu entries are items of their own that follow their action ---
    QMenu* File1 = nullptr;
    QMenu* Routes1 = nullptr;
    QMenu* IPAddress1 = nullptr;
    QMenu* Interface1 = nullptr;
    QMenu* Info1 = nullptr;
    QAction* Refresh1 = nullptr; // disabled while a refresh runs
    QAction* Help1 = nullptr;
    QAction* About1 = nullptr;
    QMenu* pmIPMenu = nullptr;
    QMenu* pmInterfaceMenu = nullptr;
    QMenu* pmRouteMenu = nullptr;
    QMenu* pmConnMenu = nullptr;
    QMenu* pmReportMenu = nullptr;
    QMenu* pmLbxIPPopup = nullptr;
    QMenu* pmLbxDNSPopup = nullptr;
    QMenu* pmTrayMenu = nullptr;
    QAction* Help2 = nullptr; // tray menu: help at the notification-area topic
    QAction* Exit2 = nullptr;

    // --- timers ---
    QTimer* tmrAutoUpdate = nullptr;
    QTimer* tmrUptime = nullptr;
    QTimer* tmrRefreshWait = nullptr;
    QTimer* tmrModifyUpdate = nullptr;
    QTimer* tmrHide = nullptr;
    QTimer* tmrIntStat = nullptr;
    QTimer* tmrIpStat = nullptr;

    RefreshCycle* refresh = nullptr;

    // --- operations ---
    void RefreshNetworkStatus();
    bool TrayIcon(TrayCommand command);
    int helpContext() const { return helpContext_; }
    QString panelText(int panel) const;
    void setPanelText(int panel, const QString& text);
    // Finds a menu entry or action by its name (tests, later pages).
    QAction* item(const QString& name) const;

    // --- handlers ---
    void FormShow();
    // The first show's options: the store read (twice on a first run) and applied.
    void loadStartupOptions();
    void pcMainChange(int index);
    void acRefreshExecute() { RefreshNetworkStatus(); }
    void acExitExecute();
    void acHelpExecute();
    void acAboutExecute();
    void acSetupExecute();
    void acTrayExecute();
    void acUnTrayExecute();
    void acRestoreFromTrayExecute();
    void tmrUptimeTimer();
    void tmrModifyUpdateTimer();
    void tmrHideTimer();

    // RefreshHost
    QString statusText() const override { return panelText(0); }
    void setStatusText(const QString& text) override { setPanelText(0, text); }
    void setRefreshItemEnabled(bool enabled) override;
    RefreshOptions refreshOptions() const override;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void FormCreate(const QStringList& arguments);
    bool FormCloseQuery();
    void FormClose();
    void copyRuntimeOptions();

    // frmmain_pages.cpp
    void createPages();
    QWidget* createHostPage();
    // frmmain_actions.cpp
    void createActions();
    void connectActions();
    // frmmain_menus.cpp
    void createMenus();
    void createToolBar();
    void createContextMenus();
    void attachContextMenu(QWidget* control, QMenu* menu);
    // frmmain_refresh.cpp
    void createTimers();
    void createRefreshCycle();

    TrayIconService* tray_;
    bool firstShow_ = false;
    int helpContext_ = 0;
    QLabel* panel0_ = nullptr;
    QLabel* panel1_ = nullptr;
    QList<QAction*> actions_;
};

} // namespace corvane
