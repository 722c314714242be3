// The main window: the six pages, the action list with its menus and tool bar, the status bar
// and the timers. The pages never see each other; the window wires their signals together.
#pragma once

#include "hostinfo/iplog.h"
#include "platform/iphelper.h"
#include "report/report_layout.h"
#include "session/refresh.h"
#include "shell/trayservice.h"
#include "widgets/actionlist.h"
#include "widgets/images.h"

#include <QMainWindow>
#include <QStringList>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QStatusBar;
class QTabWidget;
class QTimer;
class QToolBar;

namespace corvane {

class AddressCommands;
class HelperWait;
class HostInfoPage;
class InterfacesPage;
class IpInfoPage;
class NetstatPage;
class OptionsStore;
struct AdapterPassResult;
class ReportPage;
class RoutesPage;

class TfrmMain : public QMainWindow, public RefreshHost, public ActionList {
    Q_OBJECT
public:
    // arguments: the command line without the program name.
    TfrmMain(OptionsStore& options, const QStringList& arguments, TrayIconService* tray = nullptr,
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
    IpAddressLog ipLogFile;
    // "<caption> @ <host>" followed by "\n<address>" per listed address; empty before a pass.
    // The notification-area icon's hint.
    QString applicationTitle;
    OptionsStore& options;
    bool firstShowPending() const { return firstShow_; }

    // --- layout ---
    QToolBar* ToolBar1 = nullptr;
    QTabWidget* pcMain = nullptr;
    QStatusBar* sbMain = nullptr;
    QLineEdit* eCopy = nullptr; // hidden; carries clipboard copies
    ImageList ilTreeImages;

    // --- pages ---
    HostInfoPage* tsHost = nullptr;
    IpInfoPage* tsIP = nullptr;
    InterfacesPage* tsInterface = nullptr;
    RoutesPage* tsRoutes = nullptr;
    NetstatPage* tsConnections = nullptr;
    ReportPage* tsReport = nullptr;
    // DHCP renewal and secondary addresses: commands without a page of their own.
    AddressCommands* addressCommands = nullptr;

    QList<QAction*> actionList() const { return actions_; }

    // --- main menu ---
    QMenu* File1 = nullptr;
    QMenu* Routes1 = nullptr;
    QMenu* IPAddress1 = nullptr;
    QMenu* Interface1 = nullptr;
    QMenu* Info1 = nullptr;
    QAction* Refresh1 = nullptr; // disabled while a refresh runs
    QAction* Help1 = nullptr;
    QAction* About1 = nullptr;
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
    // Where calls to the privileged helper wait (installed once the platform is bound).
    HelperWait* helperWait = nullptr;

    // --- operations ---
    void RefreshNetworkStatus();
    // The report built from the pages as they stand (a refresh step, a Netstat toggle).
    void BuildReport();
    // The pages' data in their on-screen order.
    ReportInput reportInput() const;
    bool TrayIcon(TrayCommand command);
    // The platform's end of the session asked for: tray mode off, the settings saved, and yes.
    bool QueryEndSession();
    // The session ends or the program was told to stop (SIGTERM, SIGHUP): the window closes
    // without asking, whatever dialog is open.
    void EndSession();
    // The window's close, run when the application quits without one (settings saved).
    void closeBeforeQuit();
    bool isClosed() const { return closed_; }
    // The icon's menu and tip follow the window; the tray actions follow the notification area.
    void updateTrayAvailability(bool available);
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
    void acIPStatsExecute();
    void tmrIpStatTimer();
    void StopIpStatistics(DWORD code);

    // RefreshHost
    QString statusText() const override { return panelText(0); }
    void setStatusText(const QString& text) override { setPanelText(0, text); }
    void setRefreshItemEnabled(bool enabled) override;
    RefreshOptions refreshOptions() const override;

signals:
    // The close went through: the program is to end.
    void closed();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The window's size as the one to keep; saved by whoever saves the options next.
    void rememberWindowSize();
    void FormCreate(const QStringList& arguments);
    bool FormCloseQuery();
    void FormClose();
    void applyOptions();
    void copyText(const QString& text);

    // frmmain_pages.cpp
    void createPages();
    void wirePages();
    void wireAddressCommands();
    void adapterPassStarting();
    void adapterPassFinished(const AdapterPassResult& result);
    // frmmain_actions.cpp
    void createActions();
    void connectActions();
    // frmmain_menus.cpp
    void createMenus();
    void createToolBar();
    void createTrayMenu();
    // frmmain_refresh.cpp
    void createTimers();
    void createRefreshCycle();
    // frmmain_tray.cpp
    void wireTray();

    TrayIconService* tray_;
    QString addressesBefore_; // status panel 1 before the running adapter pass
    bool exitQuery_ = false;  // the exit dialog is open
    bool sessionEnding_ = false;
    bool closed_ = false;
    bool firstShow_ = false;
    int helpContext_ = 0;
    QLabel* panel0_ = nullptr;
    QLabel* panel1_ = nullptr;
    QList<QAction*> actions_;
};

} // namespace corvane
