// The Interfaces page: the interface table in lvIfTable, its selection, colours and popup
// menu, and the administrative enable and disable of an interface.
#pragma once

#include "iphlpapi.h"

#include <Qt>

class QStandardItemModel;

namespace corvane {

class TfrmMain;

// Where a row of lvIfTable keeps its data word: on the row caption's item. Bit 0x1 is the
// active mark; the adapter pass clears the word or adds 0x80.
inline constexpr int ifRowDataRole = Qt::UserRole + 1;
int ifRowDataWord(const QStandardItemModel& model, int row);
void setIfRowDataWord(QStandardItemModel& model, int row, int word);

// Registers the page's refresh step and connects its handlers; called once by the window.
void installInterfacePage(TfrmMain& w);

void FillInterfaceTable(TfrmMain& w);
// True exactly when the platform accepted the new administrative status.
bool SetInterfaceAdminStatus(DWORD index, bool enable);

void lvIfTableSelectItem(TfrmMain& w);
void pmInterfaceMenuPopup(TfrmMain& w);
void acEnableIFExecute(TfrmMain& w);
void acDisableIFExecute(TfrmMain& w);

} // namespace corvane
