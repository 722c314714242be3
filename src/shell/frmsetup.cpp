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
#include <algorithm>
#include <vector>

namespace corvane {

TfrmSetup* frmSetup = nullptr;

namespace {

constexpr const char* kHelpContext = helpContextProperty;

QCheckBox* makeBox(QWidget* page, const OptionRow& row) {
    auto* box = new QCheckBox(QLatin1String(row.caption), page);
    box->setObjectName(QLatin1String(row.box));
    if (row.hint) {
        box->setToolTip(QLatin1String(row.hint));
        box->setStatusTip(QLatin1String(row.hint));
    }
    box->setProperty(kHelpContext, row.helpContext);
    return box;
}

QWidget* makePage(QTabWidget* tabs, const OptionPageRow& row) {
    auto* page = new QWidget(tabs);
    page->setObjectName(QLatin1String(row.objectName));
    tabs->addTab(page, QLatin1String(row.caption));
    return page;
}

// A column of boxes from the top of a page.
void stack(QWidget* page, const std::vector<QCheckBox*>& boxes) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(4);
    for (QCheckBox* b : boxes)
        layout->addWidget(b);
    layout->addStretch(1);
}

// Two columns of boxes from the top of a page.
void columns(QWidget* page, const std::vector<QCheckBox*>& first,
             const std::vector<QCheckBox*>& second) {
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(12, 10, 12, 10);
    grid->setVerticalSpacing(4);
    int row = 0;
    for (QCheckBox* b : first)
        grid->addWidget(b, row++, 0);
    for (int i = 0; i < static_cast<int>(second.size()); ++i)
        grid->addWidget(second[static_cast<std::size_t>(i)], i, 1, Qt::AlignTop);
    grid->setRowStretch(std::max(row, static_cast<int>(second.size())), 1);
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
    connect(box(Option::AutoRun), &QCheckBox::toggled, this, &TfrmSetup::cbxAutoRunClick);
    connect(box(Option::ResolveAddresses), &QCheckBox::clicked, this,
            &TfrmSetup::cbxResolveIPAddressesClick);
    onHelpKey(this, [this] { FormHelp(); });
    // The first box of the page that shows.
    startKeyboardIn(*this, [this] { return pcOptions->currentWidget(); });

    FormCreate();
}

void TfrmSetup::buildPages() {
    for (const OptionPageRow& pageRow : kOptionPages) {
        QWidget* page = makePage(pcOptions, pageRow);
        std::vector<QCheckBox*> column[2];
        for (const OptionRow& row : kOptionRows) {
            if (row.page != pageRow.page)
                continue;
            QCheckBox* b = makeBox(page, row);
            boxes_[static_cast<std::size_t>(row.option)] = b;
            column[row.column == 0 ? 0 : 1].push_back(b);
        }
        if (column[1].empty())
            stack(page, column[0]);
        else
            columns(page, column[0], column[1]);
        if (pageRow.page == OptionPage::Logging) {
            lblLogPath = new QLabel(page);
            lblLogPath->setObjectName(QStringLiteral("lblLogPath"));
            lblLogPath->setWordWrap(true);
            lblLogPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
            auto* layout = static_cast<QVBoxLayout*>(page->layout());
            layout->insertWidget(layout->count() - 1, lblLogPath);
        }
    }
    box(Option::Minimized)->setEnabled(false); // follows "Auto run", unchecked until the load
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

Options TfrmSetup::edited() const {
    Options o = options_.value();
    for (const OptionRow& row : kOptionRows) {
        if (const QCheckBox* b = box(row.option))
            o.set(row.option, b->isChecked());
    }
    return o;
}

void TfrmSetup::showOptions(const Options& options) {
    for (const OptionRow& row : kOptionRows) {
        if (QCheckBox* b = box(row.option))
            b->setChecked(options.on(row.option)); // fires cbxAutoRunClick
    }
    box(Option::Minimized)->setEnabled(box(Option::AutoRun)->isChecked());
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
    box(Option::Minimized)->setEnabled(box(Option::AutoRun)->isChecked());
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
    return optionRow(Option::AutoUpdate).helpContext;
}

void TfrmSetup::FormHelp() {
    showHelp(currentHelpContext(), this);
}

} // namespace corvane
