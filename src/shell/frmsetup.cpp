#include "shell/frmsetup.h"
#include "hostinfo/iplog.h"
#include "platform/systemtext.h"
#include "session/machinestore.h"

#include "platform/prompter.h"
#include "widgets/dialogparts.h"
#include "widgets/help.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

namespace corvane {

TfrmSetup* frmSetup = nullptr;

namespace {

constexpr const char* kHelpContext = helpContextProperty;

QCheckBox* makeBox(QWidget* page, const char* name, const QString& caption, const QString& hint,
                   int helpContext) {
    auto* box = new QCheckBox(caption, page);
    box->setObjectName(QLatin1String(name));
    if (!hint.isEmpty()) {
        box->setToolTip(hint);
        box->setStatusTip(hint);
    }
    box->setProperty(kHelpContext, helpContext);
    return box;
}

QWidget* makePage(QTabWidget* tabs, const char* name, const QString& caption) {
    auto* page = new QWidget(tabs);
    page->setObjectName(QLatin1String(name));
    tabs->addTab(page, caption);
    return page;
}

// A column of boxes from the top of a page.
void stack(QWidget* page, std::initializer_list<QCheckBox*> boxes) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(4);
    for (QCheckBox* b : boxes)
        layout->addWidget(b);
    layout->addStretch(1);
}

// Three linked hosts on a rounded tile: the program's subject, drawn rather than shipped.
QPixmap optionsPicture(qreal ratio) {
    return tilePicture(ratio, [](QPainter& p) {
        const QPointF hosts[] = {{16, 8.5}, {8.5, 23}, {23.5, 23}};
        p.setPen(QPen(QColor(0xd8, 0xe6, 0xf5), 2));
        p.drawLine(hosts[0], hosts[1]);
        p.drawLine(hosts[0], hosts[2]);
        p.drawLine(hosts[1], hosts[2]);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        for (const QPointF& h : hosts)
            p.drawEllipse(h, 4, 4);
    });
}

} // namespace

TfrmSetup::TfrmSetup(OptionsStore& options, QWidget* parent) : QDialog(parent), options_(options) {
    setObjectName(QStringLiteral("frmSetup"));
    setWindowTitle(QStringLiteral("Options"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    pcOptions = new QTabWidget(this);
    pcOptions->setObjectName(QStringLiteral("pcOptions"));
    // Every tab in view: the size below grows to hold them rather than scroll them.
    pcOptions->setUsesScrollButtons(false);
    buildPages();

    imgPicture = new QLabel(this);
    imgPicture->setObjectName(QStringLiteral("imgPicture"));
    imgPicture->setPixmap(optionsPicture(devicePixelRatioF()));

    btnHelp = new QPushButton(QStringLiteral("Help"), this);
    btnHelp->setObjectName(QStringLiteral("btnHelp"));
    // Clicking it must leave the focus where it was: the focused box names the topic.
    btnHelp->setFocusPolicy(Qt::NoFocus);
    btnHelp->setAutoDefault(false);
    Button1 = new QPushButton(QStringLiteral("Ok"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setAutoDefault(false);
    for (QPushButton* b : {btnHelp, Button1, Button2})
        b->setFixedWidth(75);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(imgPicture);
    buttons->addStretch(1);
    buttons->addWidget(btnHelp);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 6);
    layout->setSpacing(4);
    layout->addWidget(pcOptions, 1);
    layout->addLayout(buttons);
    // 338 x 245 is the designed size; a larger desktop font widens the dialog so that no
    // caption is cut off.
    setFixedSize(sizeHint().expandedTo(QSize(338, 245)));

    connect(Button1, &QPushButton::clicked, this, &TfrmSetup::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TfrmSetup::reject);
    connect(btnHelp, &QPushButton::clicked, this, &TfrmSetup::FormHelp);
    connect(cbxAutoRun, &QCheckBox::toggled, this, &TfrmSetup::cbxAutoRunClick);
    connect(cbxResolveIPAddresses, &QCheckBox::clicked, this,
            &TfrmSetup::cbxResolveIPAddressesClick);
    onHelpKey(this, [this] { FormHelp(); });
    // The first box of the page that shows.
    startKeyboardIn(*this, [this] { return pcOptions->currentWidget(); });

    FormCreate();
}

void TfrmSetup::buildPages() {
    QWidget* appearance = makePage(pcOptions, "tsAppearance", QStringLiteral("Appearance"));
    cbxAutoUpdate = makeBox(appearance, "cbxAutoUpdate", QStringLiteral("Auto update"),
                            QStringLiteral("Toggle automatic information update behaviour"), 9010);
    cbxAutoExpand = makeBox(appearance, "cbxAutoExpand", QStringLiteral("Auto expand IP info tree"),
                            QStringLiteral("Force IP info tree to expanded mode"), 9025);
    cbxToolbar = makeBox(appearance, "cbxToolbar", QStringLiteral("Show Toolbar"),
                         QStringLiteral("Toggle tool bar appearance"), 9070);
    cbxColoredFwTable =
        makeBox(appearance, "cbxColoredFwTable", QStringLiteral("Colored tables"),
                QStringLiteral("Highlight items in Routes and NetStat tables"), 9030);
    cbxNoErrMsg = makeBox(appearance, "cbxNoErrMsg", QStringLiteral("Disable Error Messages"),
                          QStringLiteral("Disable error messages"), 9065);
    stack(appearance, {cbxAutoUpdate, cbxAutoExpand, cbxToolbar, cbxColoredFwTable, cbxNoErrMsg});

    QWidget* options = makePage(pcOptions, "tsOptions", QStringLiteral("Options"));
    cbxIgnoreLocalhost = makeBox(options, "cbxIgnoreLocalhost", QStringLiteral("Ignore localhost"),
                                 QStringLiteral("Toggle localhost reporting"), 9040);
    cbxIgnoreBCasts =
        makeBox(options, "cbxIgnoreBCasts", QStringLiteral("Ignore broadcast addresses"),
                QStringLiteral("Toggle broadcast reporting"), 9050);
    cbxResolvePortNumbers =
        makeBox(options, "cbxResolvePortNumbers", QStringLiteral("Resolve Port Numbers"),
                QStringLiteral("Resolve port numbers into names"), 9100);
    cbxResolveIPAddresses =
        makeBox(options, "cbxResolveIPAddresses", QStringLiteral("Resolve IP Addresses"),
                QStringLiteral("Resolve IP addresses into names"), 9110);
    cbxEstablishedOnly =
        makeBox(options, "cbxEstablishedOnly", QStringLiteral("Established TCP conns."),
                QStringLiteral("Show only established TCP connections"), 9120);
    cbxAutoIPRemove =
        makeBox(options, "cbxAutoIPRemove", QStringLiteral("Remove dead IP"),
                QStringLiteral("Automatically remove dead secondary IP addresses"), 9140);
    cbxShowInactivePRoutes =
        makeBox(options, "cbxShowInactivePRoutes", QStringLiteral("Inactive persistent routes"),
                QStringLiteral("Show inactive persistent routes"), 9170);
    auto* grid = new QGridLayout(options);
    grid->setContentsMargins(12, 10, 12, 10);
    grid->setVerticalSpacing(4);
    int row = 0;
    for (QCheckBox* b : {cbxIgnoreLocalhost, cbxIgnoreBCasts, cbxResolvePortNumbers,
                         cbxResolveIPAddresses, cbxEstablishedOnly, cbxAutoIPRemove})
        grid->addWidget(b, row++, 0);
    grid->addWidget(cbxShowInactivePRoutes, 0, 1, Qt::AlignTop);
    grid->setRowStretch(row, 1);

    QWidget* start = makePage(pcOptions, "tsStart", QStringLiteral("Start && Close"));
    cbxAutoSaveSize = makeBox(start, "cbxAutoSaveSize", QStringLiteral("Auto save size"),
                              QStringLiteral("Auto save main window size"), 9020);
    cbxAutoRun = makeBox(start, "cbxAutoRun", QStringLiteral("Auto Run"),
                         QStringLiteral("Starts the program upon system boot"), 9080);
    cbxMinimized = makeBox(start, "cbxMinimized", QStringLiteral("Minimize upon Auto Run"),
                           QStringLiteral("Minimize program into system tray"), 9090);
    cbxCloseMode =
        makeBox(start, "cbxCloseMode", QStringLiteral("Close immediately"),
                QStringLiteral("Forces Corvane to close immediately when running in TNA"), 9130);
    stack(start, {cbxAutoSaveSize, cbxAutoRun, cbxMinimized, cbxCloseMode});
    cbxMinimized->setEnabled(false); // follows cbxAutoRun, unchecked until the first load

    QWidget* logging = makePage(pcOptions, "tsLogging", QStringLiteral("Logging"));
    cbxOverwriteReport = makeBox(logging, "cbxOverwriteReport", QStringLiteral("Overwrite report"),
                                 QStringLiteral("Overwrite or append report text"), 9060);
    cbxIPLogging = makeBox(logging, "cbxIPLogging", QStringLiteral("IP Address Logging"), {}, 9320);
    stack(logging, {cbxOverwriteReport, cbxIPLogging});
    lblLogPath = new QLabel(logging);
    lblLogPath->setObjectName(QStringLiteral("lblLogPath"));
    lblLogPath->setWordWrap(true);
    lblLogPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* column = static_cast<QVBoxLayout*>(logging->layout());
    column->insertWidget(column->count() - 1, lblLogPath);
}

void TfrmSetup::FormCreate() {
    options_.loadCloseMode();
    showOptions(options_.value());
    // Closed, the boxes show the value as it stands; open, they are the user's copy.
    connect(&options_, &OptionsStore::changed, this, [this](const Options& now) {
        if (!isVisible())
            showOptions(now);
    });
    pcOptions->setCurrentIndex(0);
}

void TfrmSetup::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        showOptions(options_.value());
        autoRunChanged = false;
        // Where the store settled only shows on first use.
        lblLogPath->setText(QStringLiteral("Log file: %1")
                                .arg(systemText((machineStoreFolder() / kIpLogFileName).string())));
        centreOnScreen(*this);
    }
    QDialog::showEvent(event);
}

QCheckBox* TfrmSetup::box(Option option) const {
    switch (option) {
    case Option::AutoUpdate:
        return cbxAutoUpdate;
    case Option::AutoSaveSize:
        return cbxAutoSaveSize;
    case Option::AutoExpand:
        return cbxAutoExpand;
    case Option::ColoredTables:
        return cbxColoredFwTable;
    case Option::IgnoreLocalhost:
        return cbxIgnoreLocalhost;
    case Option::IgnoreBroadcasts:
        return cbxIgnoreBCasts;
    case Option::OverwriteReport:
        return cbxOverwriteReport;
    case Option::Toolbar:
        return cbxToolbar;
    case Option::NoErrorMessages:
        return cbxNoErrMsg;
    case Option::AutoRun:
        return cbxAutoRun;
    case Option::Minimized:
        return cbxMinimized;
    case Option::ResolvePorts:
        return cbxResolvePortNumbers;
    case Option::ResolveAddresses:
        return cbxResolveIPAddresses;
    case Option::EstablishedOnly:
        return cbxEstablishedOnly;
    case Option::RemoveDeadAddresses:
        return cbxAutoIPRemove;
    case Option::IpLogging:
        return cbxIPLogging;
    case Option::ShowInactiveRoutes:
        return cbxShowInactivePRoutes;
    case Option::CloseMode:
        return cbxCloseMode;
    case Option::IgnoreOperStatus:
        break; // no box: set in the store only
    }
    return nullptr;
}

Options TfrmSetup::edited() const {
    Options o = options_.value();
    for (std::size_t i = 0; i < optionCount; ++i)
        if (const QCheckBox* b = box(static_cast<Option>(i)))
            o.set(static_cast<Option>(i), b->isChecked());
    return o;
}

void TfrmSetup::showOptions(const Options& options) {
    for (std::size_t i = 0; i < optionCount; ++i)
        if (QCheckBox* b = box(static_cast<Option>(i)))
            b->setChecked(options.on(static_cast<Option>(i))); // fires cbxAutoRunClick
    cbxMinimized->setEnabled(cbxAutoRun->isChecked());
}

void TfrmSetup::Button1Click() {
    Options o = edited();
    o.run = o.storedRuntime();
    options_.commit(o);
    options_.saveCloseMode();
    options_.save(false, autoRunChanged);
    accept();
}

void TfrmSetup::Button2Click() {
    options_.loadCloseMode();
    options_.load();
    showOptions(options_.value());
}

void TfrmSetup::reject() {
    Button2Click();
    QDialog::reject();
}

void TfrmSetup::cbxAutoRunClick() {
    cbxMinimized->setEnabled(cbxAutoRun->isChecked());
    autoRunChanged = true;
}

void TfrmSetup::cbxResolveIPAddressesClick(bool checked) {
    // Only a user's click reaches here: the loader sets the box without a click.
    if (!checked)
        return;
    showMessage(QStringLiteral("Host name resolution can block the program for a significant "
                               "amount of time\n"
                               "because it works synchronously.\n"
                               "\n"
                               "It is recommended to disable this function, particularly if "
                               "the program\n"
                               "shall be automatically started upon system boot."),
                QString(), MsgIcon::Warning, MsgButtons::Ok);
}

int TfrmSetup::currentHelpContext() const {
    if (const int focused = focusedHelpContext(*this))
        return focused;
    if (const QWidget* page = pcOptions->currentWidget()) {
        if (const auto* first = page->findChild<QCheckBox*>())
            return first->property(kHelpContext).toInt();
    }
    return cbxAutoUpdate->property(kHelpContext).toInt();
}

void TfrmSetup::FormHelp() {
    showHelp(currentHelpContext(), this);
}

} // namespace corvane
