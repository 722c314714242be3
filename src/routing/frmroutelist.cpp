#include "routing/frmroutelist.h"

#include "platform/prompter.h"
#include "routing/frmmodifyroutes.h"
#include "routing/route_edit.h"
#include "widgets/dialogparts.h"
#include "widgets/folders.h"
#include "widgets/help.h"
#include "widgets/hints.h"
#include "widgets/rowcopy.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QTableView>
#include <QVBoxLayout>

namespace corvane {

TfrmAddRouteList* frmAddRouteList = nullptr;
TfrmDelRouteList* frmDelRouteList = nullptr;

namespace {

// Both list dialogs load lists from the same place.
constexpr const char* routeListFolder = "routeList";

// A list of three routes with a pencil: the dialogs' own picture.
QPixmap listPicture(qreal ratio) {
    return tilePicture(ratio, [](QPainter& p) {
        p.setPen(QPen(QColor(0xd8, 0xe6, 0xf5), 3, Qt::SolidLine, Qt::RoundCap));
        for (const int y : {9, 16, 23})
            p.drawLine(QPointF(7, y), QPointF(20, y));
        p.setPen(QPen(QColor(0xe0, 0x8a, 0x1e), 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(18, 28), QPointF(28, 18));
    });
}

} // namespace

int RouteListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(routes_.size());
}

int RouteListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant RouteListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
        return {};
    const ListRoute& r = routes_[static_cast<std::size_t>(index.row())];
    return index.column() == 0 ? r.network : r.mask;
}

QVariant RouteListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section == 0 ? QStringLiteral("Network") : QStringLiteral("Network Mask");
}

void RouteListModel::setRoutes(std::vector<ListRoute> routes) {
    beginResetModel();
    routes_ = std::move(routes);
    endResetModel();
}

RouteListDialog::RouteListDialog(const char* name, const QString& title, int listHelpContext,
                                 const QString& loadCaption, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QLatin1String(name));
    setWindowTitle(title);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowContextHelpButtonHint);
    routeList = new RouteListModel(this);
    lvRouteList = described(new QTableView(this), "lvRouteList", "List of routes to be added",
                            listHelpContext);
    lvRouteList->setModel(routeList);
    installRowCopy(lvRouteList);
    lvRouteList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvRouteList->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvRouteList->setShowGrid(true);
    lvRouteList->verticalHeader()->hide();
    lvRouteList->verticalHeader()->setDefaultSectionSize(lvRouteList->fontMetrics().height() + 4);
    lvRouteList->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int c = 0; c < 2; ++c)
        lvRouteList->setColumnWidth(c, std::max(98, lvRouteList->fontMetrics().horizontalAdvance(
                                                        QStringLiteral("255.255.255.255")) +
                                                        12));
    btnOpenList = described(new QPushButton(loadCaption, this), "btnOpenList",
                            "Open a route list file", 3020);
    btnOpenList->setAutoDefault(false);
    const RouteDialogControls shared = makeRouteDialogControls(this);
    cbxMetric = shared.cbxMetric;
    cbxInterfaces = shared.cbxInterfaces;
    btnOk = shared.btnOk;
    btnCancel = shared.btnCancel;
    imgModify = described(new QLabel(this), "imgModify", nullptr, 0);
    imgModify->setPixmap(listPicture(devicePixelRatioF()));

    // The list is emptied on every show: loading one is the first thing to do.
    startKeyboardIn(*this, btnOpenList);
    connect(btnOpenList, &QPushButton::clicked, this, &RouteListDialog::btnOpenListClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    onHelpKey(this, [this] { FormHelp(); });
}

void RouteListDialog::finishLayout(QWidget* extra) {
    auto* routesLabel = new QLabel(QStringLiteral("Route list"), this);
    routesLabel->setBuddy(lvRouteList);
    auto* metricLabel = new QLabel(QStringLiteral("Metric"), this);
    metricLabel->setBuddy(cbxMetric);
    auto* interfaceLabel = new QLabel(QStringLiteral("Interface"), this);
    interfaceLabel->setBuddy(cbxInterfaces);
    auto* side = new QVBoxLayout;
    side->addWidget(btnOpenList);
    side->addSpacing(8);
    side->addWidget(metricLabel);
    side->addWidget(cbxMetric);
    if (extra)
        side->addWidget(extra);
    side->addStretch(1);
    side->addWidget(imgModify, 0, Qt::AlignLeft);
    auto* grid = new QGridLayout(this);
    grid->addWidget(routesLabel, 0, 0);
    grid->addWidget(lvRouteList, 1, 0);
    grid->addLayout(side, 1, 1);
    grid->addWidget(interfaceLabel, 2, 0, 1, 2);
    grid->addWidget(cbxInterfaces, 3, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* b : {btnOk, btnCancel}) {
        b->setMinimumWidth(75);
        buttons->addWidget(b);
    }
    grid->addLayout(buttons, 4, 0, 1, 2);
    grid->setRowStretch(1, 1);
    // Taller, never shorter than designed; the width stays.
    fixDesignSize(*this, QSize(330, 300), Qt::Vertical);
}

void RouteListDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    centreOnScreen(*this);
    FormShow();
    FormActivate();
}

void RouteListDialog::FormShow() {
    routeList->setRoutes({});
    btnOk->setEnabled(false);
}

bool RouteListDialog::selectTypedInterface() {
    const QString text = cbxInterfaces->currentText();
    const int item = cbxInterfaces->findText(text, Qt::MatchFixedString);
    cbxInterfaces->setCurrentIndex(item);
    if (item < 0)
        cbxInterfaces->setEditText(text);
    return item >= 0;
}

void RouteListDialog::FormActivate() {
    if (cbxInterfaces->count() == 0) {
        btnOk->setEnabled(false);
        return;
    }
    selectTypedInterface();
}

void RouteListDialog::readMetric() {
    bool isNumber = false;
    const int value = cbxMetric->currentText().toInt(&isNumber, 10);
    metric = isNumber ? value : -1;
}

void RouteListDialog::btnOpenListClick() {
    routeList->setRoutes({});
    FileRequest request;
    request.caption = QStringLiteral("Load a route list");
    request.directory = lastFolder(routeListFolder);
    request.filters = {QStringLiteral("Route configuration file (*.cfg)"),
                       QStringLiteral("All files (*.*)")};
    if (const std::optional<QString> path = prompter().openFileName(request)) {
        rememberFolderOf(routeListFolder, *path);
        std::optional<RouteList> list = readRouteListFile(*path);
        if (!list) {
            showMessage(QStringLiteral("Couldn't open ") + *path, QStringLiteral("Error"),
                        MsgIcon::Error);
        } else {
            for (const RouteListRefusal& refusal : list->refused)
                showMessage(defaultRouteMessage(refusal), QStringLiteral("Error"), MsgIcon::Error);
            routeList->setRoutes(std::move(list->routes));
        }
    }
    btnOk->setEnabled(routeList->rowCount() > 0);
}

int RouteListDialog::currentHelpContext() const {
    return focusedHelpContext(*this);
}

void RouteListDialog::FormHelp() {
    showHelp(currentHelpContext(), this);
}

TfrmAddRouteList::TfrmAddRouteList(QWidget* parent)
    : RouteListDialog("frmAddRouteList", QStringLiteral("Add multiple routes from list"), 3010,
                      QStringLiteral("Load List..."), parent) {
    cbPersistent = described(new QCheckBox(QStringLiteral("Persistent"), this), "cbPersistent",
                             "Specifies whether the list of routes shall be persistent", 2046);
    edtNextHop = described(new QLineEdit(this), "edtNextHop", nullptr, 2030);
    auto* extra = new QWidget(this);
    auto* column = new QVBoxLayout(extra);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(cbPersistent);
    auto* hopLabel = new QLabel(QStringLiteral("Next hop address"), extra);
    hopLabel->setBuddy(edtNextHop);
    column->addWidget(hopLabel);
    column->addWidget(edtNextHop);
    finishLayout(extra);
    setTabOrder(lvRouteList, btnOpenList);
    setTabOrder(btnOpenList, cbxMetric);
    setTabOrder(cbxMetric, cbxInterfaces);
    setTabOrder(cbxInterfaces, btnOk);
    setTabOrder(btnOk, btnCancel);
    setTabOrder(btnCancel, cbPersistent);
    setTabOrder(cbPersistent, edtNextHop);
    connect(btnOk, &QPushButton::clicked, this, &TfrmAddRouteList::btnOkClick);
    connect(cbxInterfaces, &QComboBox::activated, this, &TfrmAddRouteList::cbxInterfacesChange);
}

void TfrmAddRouteList::FormActivate() {
    if (cbxInterfaces->count() == 0) {
        btnOk->setEnabled(false);
        return;
    }
    if (selectTypedInterface())
        edtNextHop->setText(nextHopProposals.value(cbxInterfaces->currentIndex()));
}

void TfrmAddRouteList::cbxInterfacesChange() {
    edtNextHop->setText(nextHopProposals.value(cbxInterfaces->currentIndex()));
}

void TfrmAddRouteList::btnOkClick() {
    edtNextHop->setText(edtNextHop->text().trimmed());
    std::optional<QString> problem = nextHopProblem(edtNextHop->text());
    if (!problem)
        problem = persistentProblem(edtNextHop->text(), cbPersistent->isChecked());
    if (problem) {
        showMessage(*problem, QStringLiteral("Error"), MsgIcon::Error);
        return;
    }
    bool selected = cbxInterfaces->currentIndex() >= 0;
    if (!cbxInterfaces->currentText().isEmpty())
        selected = selectTypedInterface();
    readMetric();
    if (!selected || metric == -1) {
        showMessage(QStringLiteral("Invalid parameters."), QStringLiteral("Error"), MsgIcon::Error);
        return;
    }
    accept();
}

TfrmDelRouteList::TfrmDelRouteList(QWidget* parent)
    : RouteListDialog("frmDelRouteList", QStringLiteral("Delete multiple routes by list"), 4010,
                      QStringLiteral("Load list..."), parent) {
    finishLayout(nullptr);
    setTabOrder(lvRouteList, btnOpenList);
    setTabOrder(btnOpenList, cbxInterfaces);
    setTabOrder(cbxInterfaces, cbxMetric);
    setTabOrder(cbxMetric, btnOk);
    setTabOrder(btnOk, btnCancel);
    connect(btnOk, &QPushButton::clicked, this, &TfrmDelRouteList::btnOkClick);
}

void TfrmDelRouteList::btnOkClick() {
    bool selected = cbxInterfaces->currentIndex() >= 0;
    if (!cbxInterfaces->currentText().isEmpty())
        selected = selectTypedInterface();
    readMetric();
    // Said, yet the dialog closes: the action then stops without deleting anything.
    if (!selected)
        showMessage(QStringLiteral("Invalid parameters."), QStringLiteral("Error"), MsgIcon::Error);
    accept();
}

} // namespace corvane
