// The IP Info page: RefreshAdapterInformation fills the adapter tree and tells the window
// what the pass found (for the Host Info page, the interface rows' marks, status panel 1 and
// the address log); the tree's click, popup and copy handlers.
#pragma once

#include "hostinfo/adapter_pass.h"
#include "iphlpapi.h"
#include "widgets/page.h"

#include <QStringList>
#include <functional>
#include <optional>
#include <utility>

class QStandardItem;
class QStandardItemModel;
class QTreeView;

namespace corvane {

// Where a tree node keeps its data word (adapter nodes; 0 on the others).
inline constexpr int treeDataRole = Qt::UserRole + 1;

// Values of the pass and of the tree's popup that the address dialogs read.
struct AdapterTreeState {
    bool anyActive = false;         // an adapter with a connection name is active
    bool severalAddresses = false;  // an active adapter has several addresses
    QStringList deleteChoices;      // adapters offered by the delete-address dialog
    DWORD selectedAdapterIndex = 0; // the adapter of the last popup
};

// Whether the add and the delete dialog would offer an interface.
struct AddressTargets {
    bool add = false;
    bool remove = false;
};

// The interface index an adapter node shows in its "Index: 0x" child.
bool adapterNodeIndex(const QStandardItem& adapter, DWORD& ifIndex);

class IpInfoPage : public Page {
    Q_OBJECT
public:
    explicit IpInfoPage(const PageContext& context, QWidget* parent = nullptr);

    QTreeView* tvInfo = nullptr;
    QMenu* pmIPMenu = nullptr;
    // Set once the platform is bound: the adapter source of the pass.
    void setXpFamily(bool xpFamily) { xpFamily_ = xpFamily; }
    // What the address dialogs offer for an interface index; the window links it.
    void setAddressTargets(std::function<AddressTargets(DWORD)> targets) {
        addressTargets_ = std::move(targets);
    }
    const AdapterTreeState& treeState() const { return state; }
    // The adapter the tree's popup was last opened on (0 before any).
    DWORD selectedAdapterIndex() const { return state.selectedAdapterIndex; }

    void RefreshAdapterInformation();
    void tvInfoClick();
    void pmIPMenuPopup();
    void CopytoClipboard1Click();
    void tsIPShow();
    // Every node's text, depth first, indented with one tab per level.
    QStringList treeLines() const;
    // The text of the first "Gateway:" node below the first node captioned description;
    // empty when there is none.
    QString gatewayNodeText(const QString& description) const;

public slots:
    // Selects the adapter node whose caption is this interface description.
    void selectAdapterNode(const QString& description);
    void expandTree(bool expand);

signals:
    // An adapter node was clicked: its interface row follows.
    void adapterClicked(const QString& description);
    void adapterPassStarting();
    // Only for a pass that read the adapter list; after the tree is filled.
    void adapterPassFinished(const corvane::AdapterPassResult& result);
    // The popup's address items, for the adapter the popup was opened on.
    void addAddressRequested(quint32 ifIndex);
    void deleteAddressRequested(quint32 ifIndex);

private:
    friend struct PageProbe; // the tests' way to the model

    QStandardItemModel* tvInfoModel = nullptr;
    AdapterTreeState state;
    bool xpFamily_ = false;
    std::function<AddressTargets(DWORD)> addressTargets_;

    QStandardItem* selectedNode() const;
    QStandardItem* makeItem(const TreeNode& node) const;
    QAction* menuItem(const char* name) const;

    // The adapter the popup was opened on, when its node shows an index.
    std::optional<DWORD> popupAdapter_;
};

} // namespace corvane
