// The six pages of the main window with their controls and columns. The pages' own Parts
// fill them; until a fill exists a page stays empty.
#include "connections/connmodel.h"
#include "routing/routemodel.h"
#include "shell/columnwidth.h"
#include "shell/frmmain.h"
#include "shell/frmmain_hints.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>

namespace corvane {
namespace {

const QString popupHint = QStringLiteral("Click right mouse button for popup menu");

// Widths were designed for a small dialog font; a desktop font is wider. Each column grows
// to hold its caption and the longest text it was sized for, and never shrinks below design.
struct Column {
    const char* caption;
    int width;
    const char* widest = "";
};

const Column ifTableColumns[] = {{"Admin Status", 81, "disabled"},
                                 {"Index", 65, "0x0000"},
                                 {"Address", 105, "00-00-00-00-00-00"},
                                 {"Type", 65, "TokenRing"},
                                 {"Speed", 75, "1000000000"},
                                 {"Oper Status", 80, "Cable disconnected"},
                                 {"Description", 203}};
const Column fwTableColumns[] = {{"Dst. Address", 105, "255.255.255.255"},
                                 {"Dst. Mask", 105, "255.255.255.255"},
                                 {"Next Hop", 105, "255.255.255.255"},
                                 {"Index", 65, "0x0000"},
                                 {"Metric", 50, "0000"},
                                 {"Persistent", 61, "yes"},
                                 {"Protocol", 150, "PROTO_IP_NETMGMT"}};
const Column connectionColumns[] = {
    {"Protocol", 55, "TCP"},        {"Local Address", 100, "255.255.255.255"},
    {"Local Port", 75, "65535"},    {"Remote Address", 100, "255.255.255.255"},
    {"Remote Port", 75, "65535"},   {"Status", 95, "ESTABLISHED"},
    {"via Interface", 75, "0x0000"}};

template <typename Model, std::size_t N>
QTableView* listView(QWidget* page, const char* name, const Column (&columns)[N], Model*& model) {
    model = new Model(0, static_cast<int>(N), page);
    for (int i = 0; i < static_cast<int>(N); ++i)
        model->setHeaderData(i, Qt::Horizontal, QString::fromUtf8(columns[i].caption));
    auto* view = new QTableView(page);
    view->setObjectName(QString::fromLatin1(name));
    view->setModel(model);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setShowGrid(true);
    view->setWordWrap(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setSectionsClickable(false);
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int i = 0; i < static_cast<int>(N); ++i)
        view->setColumnWidth(i, fittedColumnWidth(*view, columns[i].width,
                                                  QString::fromUtf8(columns[i].caption),
                                                  QString::fromUtf8(columns[i].widest)));
    applyHint(view, popupHint);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    return view;
}

QLabel* valueLabel(QWidget* parent, const char* name, const char* hint) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette navy = label->palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    label->setPalette(navy);
    applyHint(label, QString::fromUtf8(hint));
    return label;
}

// The report's columns line up only in a fixed-pitch face. Where the font set maps "Courier
// New" to a proportional one, the desktop's fixed-width font takes its place.
QFont reportFont() {
    QFont courier(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::TypeWriter);
    courier.setFixedPitch(true);
    QFont monospace(QStringLiteral("monospace"));
    monospace.setStyleHint(QFont::Monospace);
    for (QFont font : {courier, QFontDatabase::systemFont(QFontDatabase::FixedFont), monospace,
                       QFont(QStringLiteral("DejaVu Sans Mono"))}) {
        font.setPixelSize(12);
        if (QFontInfo(font).fixedPitch())
            return font;
    }
    courier.setPixelSize(12);
    return courier;
}

struct PageSpec {
    QWidget* TfrmMain::*member;
    const char* name;
    const char* caption;
    int helpContext;
};

const PageSpec pageSpecs[] = {
    {&TfrmMain::tsHost, "tsHost", "Host Info", 1100},
    {&TfrmMain::tsIP, "tsIP", "IP Info", 1200},
    {&TfrmMain::tsInterface, "tsInterface", "Interfaces", 1300},
    {&TfrmMain::tsRoutes, "tsRoutes", "Routes", 1400},
    {&TfrmMain::tsConnections, "tsConnections", "Netstat", 1450},
    {&TfrmMain::tsReport, "tsReport", "Report", 1500},
};

} // namespace

void TfrmMain::createPages() {
    pcMain = new QTabWidget(this);
    pcMain->setObjectName(QStringLiteral("pcMain"));
    pcMain->setDocumentMode(false);
    for (const PageSpec& spec : pageSpecs) {
        auto* page = new QWidget(pcMain);
        page->setObjectName(QString::fromLatin1(spec.name));
        page->setProperty("helpContext", spec.helpContext);
        this->*spec.member = page;
        pcMain->addTab(page, QString::fromUtf8(spec.caption));
    }

    // Host Info
    auto* hostLayout = new QVBoxLayout(tsHost);
    hostLayout->setContentsMargins(0, 0, 0, 0);
    hostLayout->addWidget(createHostPage());

    // IP Info
    tvInfoModel = new QStandardItemModel(tsIP);
    tvInfo = new QTreeView(tsIP);
    tvInfo->setObjectName(QStringLiteral("tvInfo"));
    tvInfo->setModel(tvInfoModel);
    tvInfo->setHeaderHidden(true);
    tvInfo->setIndentation(19);
    tvInfo->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvInfo->setSelectionMode(QAbstractItemView::SingleSelection);
    tvInfo->setIconSize(QSize(16, 16));
    applyHint(tvInfo, popupHint);
    auto* ipLayout = new QVBoxLayout(tsIP);
    ipLayout->setContentsMargins(0, 0, 0, 0);
    ipLayout->addWidget(tvInfo);

    lvIfTable = listView(tsInterface, "lvIfTable", ifTableColumns, lvIfTableModel);
    lvFwTable = listView(tsRoutes, "lvFwTable", fwTableColumns, lvFwTableModel);
    lvFwTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvConnections = listView(tsConnections, "lvConnections", connectionColumns, lvConnectionsModel);
    lvConnections->horizontalHeader()->setSectionsClickable(true);
    lvConnections->setSortingEnabled(true);
    lvConnections->horizontalHeader()->setSortIndicator(-1,
                                                        Qt::AscendingOrder); // unsorted at first

    // Report
    redtReport = new QPlainTextEdit(tsReport);
    redtReport->setObjectName(QStringLiteral("redtReport"));
    redtReport->setReadOnly(true);
    redtReport->setLineWrapMode(QPlainTextEdit::NoWrap);
    redtReport->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    redtReport->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    redtReport->setFont(reportFont());
    redtReport->setTabChangesFocus(false);
    applyHint(redtReport, popupHint);
    auto* reportLayout = new QVBoxLayout(tsReport);
    reportLayout->setContentsMargins(0, 0, 0, 0);
    reportLayout->addWidget(redtReport);

    // The stored design opens on IP Info; the program starts on Host Info.
    pcMain->setCurrentWidget(tsHost);
    helpContext_ = tsHost->property("helpContext").toInt();
    connect(pcMain, &QTabWidget::currentChanged, this, &TfrmMain::pcMainChange);

    eCopy = new QLineEdit(this);
    eCopy->setObjectName(QStringLiteral("eCopy"));
    eCopy->setVisible(false);
    eCopy->setFocusPolicy(Qt::NoFocus);
}

QWidget* TfrmMain::createHostPage() {
    sbxHostInfo = new QScrollArea(tsHost);
    sbxHostInfo->setObjectName(QStringLiteral("sbxHostInfo"));
    sbxHostInfo->setWidgetResizable(true);
    sbxHostInfo->setFrameShape(QFrame::NoFrame);

    GroupBox1 = new QGroupBox(QStringLiteral("Host Properties"));
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    applyHint(GroupBox1,
              QStringLiteral("Network configuration information for the local computer"));
    auto* grid = new QGridLayout(GroupBox1);
    grid->setHorizontalSpacing(16);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    struct Row {
        const char* captionName;
        const char* caption;
        QLabel* TfrmMain::*value;
        const char* valueName;
        const char* hint;
    };
    // Values stay empty until the host information fill has read them.
    const Row rows[] = {
        {"Label1", "Host Name:", &TfrmMain::lblHostName, "lblHostName",
         "Host name for the local computer"},
        {"Label2", "Primary Domain Suffix:", &TfrmMain::lblDomainName, "lblDomainName",
         "Domain in which the local computer is registered"},
        {"Label3", "DNS Enabled:", &TfrmMain::lblDNSEnabled, "lblDNSEnabled",
         "Specifies whether DNS is enabled on the local computer"},
        {"Label4", "Routing Enabled:", &TfrmMain::lblRoutingEnabled, "lblRoutingEnabled",
         "Specifies whether routing is enabled on the local computer"},
        {"Label5", "Proxy ARP Enabled:", &TfrmMain::lblProxyARPEnabled, "lblProxyARPEnabled",
         "Specifies whether the local computer is acting as an ARP proxy"},
        {"Label8", "Computer Uptime", &TfrmMain::lblUptime, "lblUptime",
         "Specifies computer's uptime"},
    };
    int r = 0;
    for (const Row& row : rows) {
        auto* caption = new QLabel(QString::fromUtf8(row.caption), GroupBox1);
        caption->setObjectName(QString::fromLatin1(row.captionName));
        QLabel* value = valueLabel(GroupBox1, row.valueName, row.hint);
        this->*row.value = value;
        grid->addWidget(caption, r, 0);
        grid->addWidget(value, r, 1, 1, 3);
        ++r;
    }

    const auto list = [this](const char* captionName, const char* caption, const char* name,
                             const char* hint, QListWidget*& box) {
        auto* label = new QLabel(QString::fromUtf8(caption), GroupBox1);
        label->setObjectName(QString::fromLatin1(captionName));
        box = new QListWidget(GroupBox1);
        box->setObjectName(QString::fromLatin1(name));
        box->setMinimumHeight(90);
        applyHint(box, QString::fromUtf8(hint));
        QPalette navy = box->palette();
        navy.setColor(QPalette::Text, QColor(0, 0, 128));
        box->setPalette(navy);
        return label;
    };
    QLabel* ipCaption =
        list("Label6", "IP Address(es):", "lbxIPAddresses",
             "List of active IP addresses used by the local computer", lbxIPAddresses);
    QLabel* dnsCaption = list("Label7", "DNS Server(s):", "lbxDNSServers",
                              "List of DNS servers used by the local computer", lbxDNSServers);
    // The two lists side by side, equally wide.
    auto* lists = new QGridLayout;
    lists->setHorizontalSpacing(16);
    lists->addWidget(ipCaption, 0, 0);
    lists->addWidget(dnsCaption, 0, 1);
    lists->addWidget(lbxIPAddresses, 1, 0);
    lists->addWidget(lbxDNSServers, 1, 1);
    lists->setColumnStretch(0, 1);
    lists->setColumnStretch(1, 1);
    grid->addLayout(lists, r, 0, 1, 4);
    grid->setRowStretch(r, 1);

    auto* holder = new QWidget;
    auto* outer = new QVBoxLayout(holder);
    outer->setContentsMargins(8, 8, 8, 8);
    outer->addWidget(GroupBox1);
    sbxHostInfo->setWidget(holder);
    return sbxHostInfo;
}

} // namespace corvane
