#include "routing/frmmodifyroutes.h"

#include "platform/prompter.h"
#include "platform/systemtext.h"
#include "routing/route_edit.h"
#include "values/ip.h"
#include "widgets/dialogparts.h"
#include "widgets/help.h"
#include "widgets/hints.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace corvane {

TfrmModifyRoutes* frmModifyRoutes = nullptr;

namespace {

// A road sign with a plus (add) or a pencil (modify): the dialog's own pictures.
QPixmap routePicture(bool modify, qreal ratio) {
    return tilePicture(ratio, [modify](QPainter& p) {
        QPainterPath arrow;
        arrow.moveTo(6, 20);
        arrow.lineTo(18, 20);
        arrow.lineTo(18, 25);
        arrow.lineTo(26, 16);
        arrow.lineTo(18, 7);
        arrow.lineTo(18, 12);
        arrow.lineTo(6, 12);
        arrow.closeSubpath();
        p.setBrush(QColor(0xd8, 0xe6, 0xf5));
        p.drawPath(arrow);
        p.setPen(QPen(modify ? QColor(0xe0, 0x8a, 0x1e) : QColor(0x2e, 0xa0, 0x43), 3,
                      Qt::SolidLine, Qt::RoundCap));
        if (modify) {
            p.drawLine(QPointF(17, 28), QPointF(28, 17));
        } else {
            p.drawLine(QPointF(24, 22), QPointF(24, 30));
            p.drawLine(QPointF(20, 26), QPointF(28, 26));
        }
    });
}

} // namespace

RouteDialogControls makeRouteDialogControls(QDialog* dialog) {
    RouteDialogControls c{};
    c.cbxMetric = described(new QComboBox(dialog), "cbxMetric", "Routing metric", 2040);
    c.cbxMetric->setEditable(true);
    // The metric is the number typed: inline completion would make "2" the item "20", and
    // Enter would take it. A typed number never becomes an item either.
    c.cbxMetric->setCompleter(nullptr);
    c.cbxMetric->setInsertPolicy(QComboBox::NoInsert);
    c.cbxMetric->addItems(routeMetricList);
    c.cbxMetric->setCurrentIndex(1);
    c.cbxInterfaces = described(new QComboBox(dialog), "cbxInterfaces",
                                "Interface, via which the destination shall be reached", 2050);
    c.cbxInterfaces->setEditable(true);
    c.cbxInterfaces->setInsertPolicy(QComboBox::NoInsert);
    c.btnOk = described(new QPushButton(QStringLiteral("Ok"), dialog), "btnOk", nullptr, 0);
    c.btnOk->setDefault(true);
    c.btnOk->setEnabled(false);
    c.btnCancel =
        described(new QPushButton(QStringLiteral("Cancel"), dialog), "btnCancel", nullptr, 0);
    c.btnCancel->setAutoDefault(false);
    return c;
}

TfrmModifyRoutes::TfrmModifyRoutes(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmModifyRoutes"));
    setWindowTitle(QStringLiteral("Add a route"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowContextHelpButtonHint);

    edtNetwork =
        described(new QLineEdit(this), "edtNetwork", "Destination address for routing entry", 2010);
    cbxMask = described(new QComboBox(this), "cbxMask", "Destination subnet mask", 2020);
    cbxMask->setEditable(true);
    cbxMask->setInsertPolicy(QComboBox::NoInsert); // the list stays the masks it offers
    // Inline completion would turn a typo such as "255.255.25" into 255.255.252.0.
    cbxMask->setCompleter(nullptr);
    cbxMask->addItems(routeMaskList());
    cbxMask->setCurrentIndex(31);
    edtNextHop = described(new QLineEdit(this), "edtNextHop", nullptr, 2030);
    const RouteDialogControls shared = makeRouteDialogControls(this);
    cbxMetric = shared.cbxMetric;
    cbxInterfaces = shared.cbxInterfaces;
    btnOk = shared.btnOk;
    btnCancel = shared.btnCancel;
    cbPersistent = described(new QCheckBox(QStringLiteral("Persistent"), this), "cbPersistent",
                             "Specifies whether a route shall be persistent", 2045);
    imgAdd = described(new QLabel(this), "imgAdd", nullptr, 0);
    imgAdd->setPixmap(routePicture(false, devicePixelRatioF()));
    imgModify = described(new QLabel(this), "imgModify", nullptr, 0);
    imgModify->setPixmap(routePicture(true, devicePixelRatioF()));
    imgModify->hide();
    cbxTable = described(new QComboBox(this), "cbxTable", "Routing table the route is added to", 0);
    cbxTable->setEditable(true);
    cbxTable->setInsertPolicy(QComboBox::NoInsert);
    cbxTable->setCompleter(nullptr);
    lblTable = buddyLabel(this, "Label6", "Table", cbxTable);
    lblTable->hide();
    cbxTable->hide();

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->addWidget(buddyLabel(this, "Label1", "Network address", edtNetwork), 0, 0);
    grid->addWidget(edtNetwork, 1, 0);
    grid->addWidget(buddyLabel(this, "Label2", "Network mask", cbxMask), 0, 1);
    grid->addWidget(cbxMask, 1, 1);
    grid->addWidget(buddyLabel(this, "Label3", "Next hop address", edtNextHop), 2, 0);
    grid->addWidget(edtNextHop, 3, 0);
    grid->addWidget(buddyLabel(this, "Label4", "Metric", cbxMetric), 2, 1);
    auto* metricRow = new QHBoxLayout;
    metricRow->addWidget(cbxMetric);
    metricRow->addWidget(cbPersistent);
    grid->addLayout(metricRow, 3, 1);
    grid->addWidget(buddyLabel(this, "Label5", "Interface", cbxInterfaces), 4, 0, 1, 2);
    grid->addWidget(cbxInterfaces, 5, 0, 1, 2);
    grid->addWidget(lblTable, 6, 0, 1, 2);
    grid->addWidget(cbxTable, 7, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(imgAdd);
    buttons->addWidget(imgModify);
    buttons->addStretch(1);
    for (QPushButton* b : {btnOk, btnCancel}) {
        b->setMinimumWidth(75);
        buttons->addWidget(b);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addStretch(1);
    layout->addLayout(buttons);
    setTabOrder(edtNetwork, cbxMask);
    setTabOrder(cbxMask, edtNextHop);
    setTabOrder(edtNextHop, cbxMetric);
    setTabOrder(cbxMetric, cbPersistent);
    setTabOrder(cbPersistent, cbxInterfaces);
    setTabOrder(cbxInterfaces, cbxTable);
    setTabOrder(cbxTable, btnOk);
    setTabOrder(btnOk, btnCancel);

    // Wider, never narrower than designed; the height stays. A larger desktop font widens
    // the design so that no caption is cut off.
    fixDesignSize(*this, QSize(320, 0), Qt::Horizontal);

    edtNetwork->installEventFilter(this);
    connect(btnOk, &QPushButton::clicked, this, &TfrmModifyRoutes::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cbxInterfaces, &QComboBox::activated, this, &TfrmModifyRoutes::cbxInterfacesChange);
    onHelpKey(this, [this] { FormHelp(); });
}

bool TfrmModifyRoutes::eventFilter(QObject* watched, QEvent* event) {
    // Leaving the field for another control of the dialog, not the dialog losing the focus
    // to a message box it opened: that box may be about a text the program itself just
    // wrote into the field, and what the user typed into the mask must stay.
    if (watched == edtNetwork && event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            edtNetworkExit();
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmModifyRoutes::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    centreOnScreen(*this);
    FormShow();
    FormActivate();
}

void TfrmModifyRoutes::FormShow() {
    setWindowTitle(modify ? QStringLiteral("Modify a route") : QStringLiteral("Add a route"));
    imgAdd->setVisible(!modify);
    imgModify->setVisible(modify);
    edtNetwork->setFocus();
}

int TfrmModifyRoutes::itemByText(const QComboBox& box) {
    return box.findText(box.currentText(), Qt::MatchFixedString);
}

void TfrmModifyRoutes::FormActivate() {
    if (cbxInterfaces->count() == 0) {
        btnOk->setEnabled(false);
        return;
    }
    const QString text = cbxInterfaces->currentText();
    const int item = itemByText(*cbxInterfaces);
    cbxInterfaces->setCurrentIndex(item);
    cbxInterfaces->setEditText(item >= 0 ? cbxInterfaces->itemText(item) : text);
    if (!modify && item >= 0)
        edtNextHop->setText(nextHopProposals.value(item));
}

void TfrmModifyRoutes::setTableChoice(bool shown, const std::vector<RouteTableChoice>& choices) {
    tables_ = shown ? tableChoices(choices) : std::vector<RouteTableChoice>();
    cbxTable->clear();
    for (const RouteTableChoice& c : tables_)
        cbxTable->addItem(c.name);
    if (cbxTable->count() > 0)
        cbxTable->setCurrentIndex(0);
    lblTable->setVisible(shown);
    cbxTable->setVisible(shown);
}

void TfrmModifyRoutes::edtNetworkExit() {
    const QString typed = edtNetwork->text().trimmed();
    if (ipv6Network(typed)) {
        cbPersistent->setEnabled(true);
        btnOk->setEnabled(readIpv6Route(typed, QStringLiteral("0"), QString()).route.has_value());
        return;
    }
    if (typed == QLatin1String("0.0.0.0")) {
        cbxMask->setCurrentIndex(0);
        cbPersistent->setChecked(false);
        cbPersistent->setEnabled(false);
    } else {
        cbPersistent->setEnabled(true);
    }
    btnOk->setEnabled(ip(edtNetwork->text().toStdString()).valid());
}

void TfrmModifyRoutes::cbxInterfacesChange() {
    const int item = cbxInterfaces->currentIndex();
    const QString proposal = item >= 0 ? nextHopProposals.value(item) : QString();
    if (!modify) {
        edtNextHop->setText(proposal);
        return;
    }
    if (edtNextHop->text() == proposal)
        return;
    const QString question =
        QStringLiteral("About to change an individual next hop address.\n Do you want to change "
                       "from %1 to default gateway address %2?")
            .arg(edtNextHop->text(), proposal);
    if (confirm(question, QStringLiteral("Modify Route")))
        edtNextHop->setText(proposal);
}

void TfrmModifyRoutes::btnOkClick() {
    edtNetwork->setText(edtNetwork->text().trimmed());
    cbxMask->setEditText(cbxMask->currentText().trimmed());
    // Blanks around the next hop would make it no address, and its stored name no route.
    edtNextHop->setText(edtNextHop->text().trimmed());
    ipv6Route.reset();
    table = mainRouteTable;
    if (!tables_.empty()) {
        const std::optional<std::uint32_t> chosen = tableChoice(cbxTable->currentText(), tables_);
        if (!chosen) {
            showMessage(QStringLiteral("The table %1 is neither a table name nor a number from "
                                       "1 to 4294967295 (255, the local table, is the kernel's).")
                            .arg(printable(cbxTable->currentText()).left(40)),
                        QStringLiteral("Error"), MsgIcon::Error);
            return;
        }
        table = *chosen;
    }

    if (ipv6Network(edtNetwork->text())) {
        const Ipv6RouteInput in =
            readIpv6Route(edtNetwork->text(), cbxMask->currentText(), edtNextHop->text());
        if (!in.route) {
            showMessage(in.problem, QStringLiteral("Error"), MsgIcon::Error);
            return;
        }
        if (in.route->hostBits()) {
            const QString network = ipv6Text(in.route->network());
            const QString length = QString::number(in.route->prefixLength);
            edtNetwork->setText(edtNetwork->text().contains(QLatin1Char('/'))
                                    ? network + QLatin1Char('/') + length
                                    : network);
            showMessage(QStringLiteral("Network address %1 has been aligned according to given "
                                       "prefix length %2.")
                            .arg(network, length),
                        QStringLiteral("Add Route"), MsgIcon::Information);
        }
        if (!acceptRest())
            return;
        ipv6Route = in.route;
        accept();
        return;
    }

    // Refused before anything is aligned or changed: the dialog stays as typed.
    std::optional<QString> problem =
        routeInputProblem(edtNetwork->text(), cbxMask->currentText(), edtNextHop->text());
    // A route of another table is stored with its interface, so it may be on the link.
    if (!problem && table == mainRouteTable)
        problem = persistentProblem(edtNextHop->text(), cbPersistent->isChecked());
    if (problem) {
        showMessage(*problem, QStringLiteral("Error"), MsgIcon::Error);
        return;
    }

    const QString network = alignedNetwork(edtNetwork->text(), cbxMask->currentText());
    if (network != edtNetwork->text()) {
        edtNetwork->setText(network);
        showMessage(QStringLiteral("Network address %1 has been aligned according to given "
                                   "subnet mask %2.")
                        .arg(network, cbxMask->currentText()),
                    QStringLiteral("Add Route"), MsgIcon::Information);
    }
    if (acceptRest())
        accept();
}

bool TfrmModifyRoutes::acceptRest() {
    if (!cbxInterfaces->currentText().isEmpty()) {
        const QString text = cbxInterfaces->currentText();
        const int item = itemByText(*cbxInterfaces);
        cbxInterfaces->setCurrentIndex(item);
        if (item < 0)
            cbxInterfaces->setEditText(text);
    }
    bool isNumber = false;
    const int value = cbxMetric->currentText().toInt(&isNumber, 10);
    metric = isNumber ? value : -1;

    if (cbxInterfaces->currentIndex() < 0 ||
        cbxInterfaces->currentText() != cbxInterfaces->itemText(cbxInterfaces->currentIndex()) ||
        metric == -1) {
        showMessage(QStringLiteral("Invalid parameters."), QStringLiteral("Error"), MsgIcon::Error);
        return false;
    }
    return true;
}

int TfrmModifyRoutes::currentHelpContext() const {
    return focusedHelpContext(*this);
}

void TfrmModifyRoutes::FormHelp() {
    showHelp(currentHelpContext(), this);
}

} // namespace corvane
