// The IP Info page: RefreshAdapterInformation writes the adapter tree, the Host Info page and
// the marks of the interface rows; the tree's click, popup and copy handlers.
#pragma once

#include "iphlpapi.h"

#include <QObject>
#include <QStringList>
#include <Qt>

class QStandardItem;

namespace corvane {

class TfrmMain;

// Where a tree node keeps its data word (adapter nodes; 0 on the others).
inline constexpr int treeDataRole = Qt::UserRole + 1;

// Values of the pass and of the tree's popup that the address dialogs read.
struct AdapterTreeState {
    bool anyActive = false;        // an adapter with a connection name is active
    bool severalAddresses = false; // an active adapter has several addresses
    QStringList deleteChoices;     // adapters offered by the delete-address dialog
    DWORD selectedAdapterIndex = 0;
    bool treeOrigin = false; // the address dialogs were opened from the tree's popup
};
AdapterTreeState& adapterTreeState(TfrmMain& w);

void RefreshAdapterInformation(TfrmMain& w);

void tvInfoClick(TfrmMain& w);
void pmIPMenuPopup(TfrmMain& w);
void CopytoClipboard1Click(TfrmMain& w);
void tsIPShow(TfrmMain& w);
// Selects the adapter node whose caption is this interface description (the Interfaces and
// Routes pages select their interface's adapter this way).
void selectAdapterNode(TfrmMain& w, const QString& description);
// The interface index an adapter node shows in its "Index: 0x" child.
bool adapterNodeIndex(const QStandardItem& adapter, DWORD& ifIndex);

// Registers the pass as a refresh step and connects the handlers; called once by the window.
void installAdapterTree(TfrmMain& w);

} // namespace corvane
