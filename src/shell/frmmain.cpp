// The main window's life: creation, the first and later shows, help, page changes, the end of
// the libraries.
#include "shell/frmmain.h"

#include "connections/connpage.h"
#include "hostinfo/adaptertree.h"
#include "hostinfo/hostinfo_page.h"
#include "platform/prompter.h"
#include "platform/reportfailure.h"
#include "platform/version.h"
#include "report/reportpage.h"
#include "session/machinestore.h"
#include "session/options.h"
#include "shell/forms.h"
#include "shell/frmabout.h"
#include "shell/frmsetup.h"
#include "shell/helperwait.h"
#include "shell/versiontext.h"
#include "widgets/help.h"
#include "widgets/modal.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <utility>

#ifndef CORVANE_VERSION
#define CORVANE_VERSION ""
#endif

namespace corvane {

TfrmMain::TfrmMain(OptionsStore& options, const QStringList& arguments, TrayIconService* tray,
                   QWidget* parent)
    : QMainWindow(parent), options(options), tray_(tray) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Corvane"));
    setWindowIcon(ilTreeImages.icon(img::AdapterActive));
    resize(731, 460);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());

    createTimers();
    createRefreshCycle();
    createActions();
    createPages();
    setCentralWidget(pcMain);
    createMenus();
    createToolBar();
    createTrayMenu();

    sbMain = statusBar();
    sbMain->setObjectName(QStringLiteral("sbMain"));
    sbMain->setSizeGripEnabled(true);
    sbMain->setToolTip(QStringLiteral("Active IP addresses used by the local computer"));
    panel0_ = new QLabel(sbMain);
    panel0_->setFixedWidth(340);
    panel1_ = new QLabel(sbMain);
    for (QLabel* panel : {panel0_, panel1_}) {
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setIndent(2);
    }
    sbMain->addWidget(panel0_);
    sbMain->addWidget(panel1_, 1);

    options.mainWindowSize = [this] { return size(); };
    connect(&options, &OptionsStore::changed, this, &TfrmMain::applyOptions);
    applyOptions();
    wirePages();
    wireTray();
    FormCreate(arguments);
}

TfrmMain::~TfrmMain() {
    // Before the window is half gone: ending a waiting state puts back its status text.
    delete std::exchange(helperWait, nullptr);
    options.mainWindowSize = [] { return QSize(731, 460); };
    if (frmMain == this)
        frmMain = nullptr;
}

void TfrmMain::FormCreate(const QStringList& arguments) {
    const PlatformVersion version = platformVersion();
    xpFamily = version.xpFamily();
    vista = version.vista();

    loadFailure = iphlp().bind(xpFamily);
    helperWait = new HelperWait(*this, *refresh, this);
    helperWait->install();

    tsIP->setXpFamily(xpFamily);
    tsConnections->setXpFamily(xpFamily);
    tsReport->setXpFamily(xpFamily);
    if (iphlp().ipHelperLoaded() && xpFamily)
        tsConnections->addOwnerColumn();

    versionText = BuildVersionText(CORVANE_VERSION, __DATE__, xpFamily, vista);
    firstShow_ = true;

    pcMain->setCurrentWidget(tsHost);
    helpContext_ = tsHost->helpContext();

    // No box can be shown before the window is: what the store has to tell waits for it.
    holdStoreNotices();
    // The store is opened (and created) before the argument is looked at.
    const std::optional<bool> minimise = storedStartMinimised();
    if (minimise.value_or(false) && !arguments.isEmpty() &&
        arguments.first() == QLatin1String("-a")) {
        // Without a notification area the window has to stay reachable: no tray mode then.
        if (TrayIcon(TrayCommand::Add)) {
            trayMode = true;
            startedToTray = true;
        }
    }
    // The minimise handler is changeEvent; the IP-log list starts empty.
    ipLog.clear();
}

void TfrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Runs after the window is up, so a refresh that pumps messages and the load failure box
    // never run inside the show itself.
    if (!event->spontaneous())
        QMetaObject::invokeMethod(this, &TfrmMain::FormShow, Qt::QueuedConnection);
}

void TfrmMain::FormShow() {
    const bool first = firstShow_;
    firstShow_ = false;
    // The stored options govern the first refresh already: filled with the defaults, the
    // first report would list what the pages hide a moment later.
    if (first)
        loadStartupOptions();
    RefreshNetworkStatus();
    if (first && loadFailure.any())
        showMessage(QString::fromStdString(loadFailureText(loadFailure)), QStringLiteral("Oops"),
                    MsgIcon::Error);
    if (first)
        releaseStoreNotices();
}

void TfrmMain::loadStartupOptions() {
    options.loadStartup();
    const Options& o = options.value();
    ToolBar1->setVisible(o.on(Option::Toolbar));
    tmrAutoUpdate->setInterval(1000);
    if (o.on(Option::AutoUpdate))
        tmrAutoUpdate->start();
    else
        tmrAutoUpdate->stop();
    // A broken store could hold any size; a window of no size cannot be reached again.
    if (o.on(Option::AutoSaveSize) && o.storedWidth > 0 && o.storedHeight > 0)
        resize(o.storedWidth, o.storedHeight);
    if (startedToTray && o.on(Option::AutoRun))
        tmrHide->start();
}

// What follows the options at once, whoever changed them.
void TfrmMain::applyOptions() {
    setFailureMessagesSilenced(options.value().run.optNoErrorMessages);
}

void TfrmMain::pcMainChange(int index) {
    if (const auto* page = qobject_cast<const Page*>(pcMain->widget(index)))
        helpContext_ = page->helpContext();
    if (pcMain->widget(index) == tsIP)
        tsIP->tsIPShow();
}

// Through the hidden edit field, as every copy of the window goes.
void TfrmMain::copyText(const QString& text) {
    eCopy->setText(text);
    eCopy->selectAll();
    QApplication::clipboard()->setText(eCopy->selectedText());
}

void TfrmMain::acHelpExecute() {
    showHelp(helpContext_, this);
}

void TfrmMain::acAboutExecute() {
    if (!frmAbout)
        return;
    frmAbout->VerLabel->setText(versionText);
    runModal(*frmAbout);
}

void TfrmMain::rememberWindowSize() {
    options.change([this](Options& o) {
        o.storedWidth = width();
        o.storedHeight = height();
    });
}

void TfrmMain::acSetupExecute() {
    if (!frmSetup)
        return;
    rememberWindowSize();
    if (runModal(*frmSetup) != QDialog::Accepted)
        return;
    ToolBar1->setVisible(options.value().on(Option::Toolbar));
    RefreshNetworkStatus();
    if (options.value().on(Option::AutoUpdate))
        tmrAutoUpdate->start();
    else
        tmrAutoUpdate->stop();
}

void TfrmMain::acExitExecute() {
    close();
}

bool TfrmMain::event(QEvent* event) {
    // Status tips of controls, actions and menu entries go to panel 0.
    if (event->type() == QEvent::StatusTip) {
        setPanelText(0, static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

QString TfrmMain::panelText(int panel) const {
    const QLabel* label = panel == 0 ? panel0_ : panel == 1 ? panel1_ : nullptr;
    return label ? label->text() : QString();
}

void TfrmMain::setPanelText(int panel, const QString& text) {
    if (QLabel* label = panel == 0 ? panel0_ : panel == 1 ? panel1_ : nullptr)
        label->setText(text);
}

QAction* TfrmMain::item(const QString& name) const {
    return findChild<QAction*>(name);
}

void TfrmMain::FormClose() {
    // No tick may reach an entry point after the library is gone.
    for (QTimer* t : {tmrAutoUpdate, tmrUptime, tmrRefreshWait, tmrModifyUpdate, tmrHide,
                      tmrIntStat, tmrIpStat})
        t->stop();
    if (helperWait)
        helperWait->uninstall();
    iphlp().unload();
    ipLog.clear();
    // An icon left behind would lead to a window that is gone.
    if (tray_)
        tray_->removeIcon();
}

} // namespace corvane
