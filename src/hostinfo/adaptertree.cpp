#include "hostinfo/adaptertree.h"

#include "hostinfo/adapter_read.h"
#include "session/options.h"
#include "session/refresh.h"
#include "widgets/actionlist.h"
#include "widgets/hints.h"
#include "widgets/images.h"
#include "widgets/menubuilder.h"

#include <QAction>
#include <QMenu>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

namespace corvane {
namespace {

QStandardItem* adapterOf(QStandardItem* node) {
    while (node && node->parent())
        node = node->parent();
    return node;
}

void appendTreeLines(const QStandardItem* node, int depth, QStringList& lines) {
    lines.push_back(QString(depth, QLatin1Char('\t')) + node->text());
    for (int r = 0; r < node->rowCount(); ++r)
        if (const QStandardItem* child = node->child(r))
            appendTreeLines(child, depth + 1, lines);
}

} // namespace

bool adapterNodeIndex(const QStandardItem& adapter, DWORD& ifIndex) {
    const QStandardItem* indexNode = adapter.child(2);
    if (!indexNode)
        return false;
    bool ok = false;
    const uint value = indexNode->text().mid(7).toUInt(&ok, 16);
    if (ok)
        ifIndex = value;
    return ok;
}

IpInfoPage::IpInfoPage(const PageContext& context, QWidget* parent)
    : Page(context, "tsIP", 1200, parent) {
    tvInfoModel = new QStandardItemModel(this);
    tvInfo = new QTreeView(this);
    tvInfo->setObjectName(QStringLiteral("tvInfo"));
    tvInfo->setModel(tvInfoModel);
    tvInfo->setHeaderHidden(true);
    tvInfo->setIndentation(19);
    tvInfo->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvInfo->setSelectionMode(QAbstractItemView::SingleSelection);
    tvInfo->setIconSize(QSize(16, 16));
    applyHint(tvInfo, popupHint);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tvInfo);

    pmIPMenu = popupMenu(this, "pmIPMenu");
    fillMenu(
        pmIPMenu, actions_, images_,
        {{"Expand1", nullptr, "Expand Tree", "Expand all tree nodes", img::Expand},
         {"CollapseTree1", nullptr, "Collapse Tree", "Collapse tree view to root nodes only",
          img::Collapse},
         menuSeparator,
         {"CopytoClipboard1", nullptr, "Copy to Clipboard", "Copy selected text to clipboard",
          img::Copy},
         menuSeparator,
         // The popup's own items: they act on the adapter under the cursor, never on
         // what the actions would choose.
         {"AddIPaddress1", nullptr, "Add IP address...", "Add a secondary IP address", img::AddIP},
         {"DeleteIPaddress1", nullptr, "Delete IP address...", "Delete a secondary IP address",
          img::DeleteIP},
         {"RenewIPAddress1", &ActionList::acRenew},
         menuSeparator,
         {"Refresh3", &ActionList::acRefresh}});
    attachContextMenu(tvInfo, pmIPMenu);
    // With nothing selected there is nothing to copy.
    menuItem("CopytoClipboard1")->setEnabled(false);

    connect(menuItem("Expand1"), &QAction::triggered, tvInfo, &QTreeView::expandAll);
    connect(menuItem("CollapseTree1"), &QAction::triggered, tvInfo, &QTreeView::collapseAll);
    connect(menuItem("CopytoClipboard1"), &QAction::triggered, this,
            &IpInfoPage::CopytoClipboard1Click);
    for (const char* name : {"AddIPaddress1", "DeleteIPaddress1"})
        menuItem(name)->setEnabled(false);
    connect(menuItem("AddIPaddress1"), &QAction::triggered, this, [this] {
        if (popupAdapter_)
            emit addAddressRequested(*popupAdapter_);
    });
    connect(menuItem("DeleteIPaddress1"), &QAction::triggered, this, [this] {
        if (popupAdapter_)
            emit deleteAddressRequested(*popupAdapter_);
    });
    connect(tvInfo, &QTreeView::clicked, this, &IpInfoPage::tvInfoClick);
    connect(pmIPMenu, &QMenu::aboutToShow, this, &IpInfoPage::pmIPMenuPopup);
}

QAction* IpInfoPage::menuItem(const char* name) const {
    for (QAction* a : pmIPMenu->actions())
        if (a->objectName() == QLatin1String(name))
            return a;
    return nullptr;
}

QStandardItem* IpInfoPage::makeItem(const TreeNode& n) const {
    auto* item = new QStandardItem(images_.icon(n.image), n.text);
    item->setEditable(false);
    item->setData(n.data, treeDataRole);
    item->setData(n.image, Qt::UserRole);
    for (const TreeNode& child : n.children)
        item->appendRow(makeItem(child));
    return item;
}

void IpInfoPage::RefreshAdapterInformation() {
    state.anyActive = false;
    state.severalAddresses = false;
    actions_.acDelIP->setEnabled(false);
    actions_.acAddIP->setEnabled(false);
    emit adapterPassStarting();
    tvInfo->setUpdatesEnabled(false);
    tvInfoModel->clear();
    tvInfo->setUpdatesEnabled(true);
    state.deleteChoices.clear();
    refresh_.deadAddresses().reset();

    const std::optional<AdapterPassResult> r = readAdapterInformation(
        xpFamily_, options().on(Option::IpLogging), options().run.optShowIpv6);
    if (!r)
        return;
    tvInfo->setUpdatesEnabled(false);
    for (const TreeNode& adapter : r->adapters)
        tvInfoModel->appendRow(makeItem(adapter));
    tvInfo->setUpdatesEnabled(true);
    state.anyActive = r->anyActive;
    state.severalAddresses = r->severalAddresses;
    state.deleteChoices = r->deleteChoices;
    if (r->anyActive)
        actions_.acAddIP->setEnabled(true);
    if (r->severalAddresses)
        actions_.acDelIP->setEnabled(true);
    // More dead addresses than the queue holds wait for the next pass.
    for (const ULONG context : r->deadContexts)
        refresh_.deadAddresses().push(context);
    emit adapterPassFinished(*r);
}

QStandardItem* IpInfoPage::selectedNode() const {
    const QModelIndexList selected = tvInfo->selectionModel()->selectedIndexes();
    const QModelIndex at = selected.isEmpty() ? tvInfo->currentIndex() : selected.first();
    return at.isValid() ? tvInfoModel->itemFromIndex(at) : nullptr;
}

void IpInfoPage::tvInfoClick() {
    QStandardItem* node = selectedNode();
    if (!node)
        return;
    tvInfo->setCurrentIndex(node->index());
    if (!node->parent())
        emit adapterClicked(node->text());
}

void IpInfoPage::pmIPMenuPopup() {
    actions_.acRenew->setEnabled(false);
    popupAdapter_.reset();
    QAction* add = menuItem("AddIPaddress1");
    QAction* remove = menuItem("DeleteIPaddress1");
    add->setEnabled(false);
    remove->setEnabled(false);
    QStandardItem* adapter = adapterOf(selectedNode());
    menuItem("CopytoClipboard1")->setEnabled(adapter != nullptr);
    if (!adapter)
        return; // nothing to work on
    tvInfoClick();
    const uint32_t word = adapter->data(treeDataRole).toUInt();
    if (word & (nodebit::Apipa | nodebit::Dhcp))
        actions_.acRenew->setEnabled(true);
    DWORD index = 0;
    if (!adapterNodeIndex(*adapter, index))
        return;
    state.selectedAdapterIndex = index;
    popupAdapter_ = index;
    // Only what the dialogs would offer for this very adapter; never one without a name.
    if (!(word & nodebit::NoConnectionName) && addressTargets_) {
        const AddressTargets targets = addressTargets_(index);
        add->setEnabled(targets.add);
        remove->setEnabled(targets.remove);
    }
}

void IpInfoPage::CopytoClipboard1Click() {
    const QStandardItem* node = selectedNode();
    if (!node)
        return;
    QString text = node->text();
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon >= 0)
        text = text.mid(colon + 2);
    emit copyRequested(text);
}

void IpInfoPage::tsIPShow() {
    expandTree(options().on(Option::AutoExpand));
}

void IpInfoPage::expandTree(bool expand) {
    tvInfo->setUpdatesEnabled(false);
    if (expand)
        tvInfo->expandAll();
    else
        tvInfo->collapseAll();
    tvInfo->setUpdatesEnabled(true);
}

void IpInfoPage::selectAdapterNode(const QString& description) {
    for (int row = 0; row < tvInfoModel->rowCount(); ++row) {
        const QStandardItem* adapter = tvInfoModel->item(row);
        if (adapter && adapter->text() == description) {
            tvInfo->setCurrentIndex(adapter->index());
            return;
        }
    }
}

namespace {

const QStandardItem* firstCaptioned(const QStandardItem* node, const QString& text) {
    if (node->text() == text)
        return node;
    for (int r = 0; r < node->rowCount(); ++r)
        if (const QStandardItem* child = node->child(r))
            if (const QStandardItem* found = firstCaptioned(child, text))
                return found;
    return nullptr;
}

// The route dialogs take an IPv4 next hop from it: the IPv6 part is not looked into.
const QStandardItem* firstGateway(const QStandardItem* node) {
    for (int r = 0; r < node->rowCount(); ++r) {
        const QStandardItem* child = node->child(r);
        if (!child || child->text().startsWith(QLatin1String("IPv6")))
            continue;
        if (child->text().contains(QLatin1String("Gateway:")))
            return child;
        if (const QStandardItem* found = firstGateway(child))
            return found;
    }
    return nullptr;
}

} // namespace

QString IpInfoPage::gatewayNodeText(const QString& description) const {
    for (int r = 0; r < tvInfoModel->rowCount(); ++r) {
        const QStandardItem* top = tvInfoModel->item(r);
        const QStandardItem* adapter = top ? firstCaptioned(top, description) : nullptr;
        if (!adapter)
            continue;
        const QStandardItem* gateway = firstGateway(adapter);
        return gateway ? gateway->text() : QString();
    }
    return {};
}

QStringList IpInfoPage::treeLines() const {
    QStringList lines;
    for (int r = 0; r < tvInfoModel->rowCount(); ++r)
        if (const QStandardItem* top = tvInfoModel->item(r))
            appendTreeLines(top, 0, lines);
    return lines;
}

} // namespace corvane
