// The Routes page: the routing table in lvFwTable with its filters, colours, persistent
// column and store-only rows, the selection rules, the Delete key and route deletion.
#pragma once

#include "routing/routemodel.h"

namespace corvane {

class TfrmMain;

// Registers the page's refresh steps and connects its handlers; called once by the window.
void installRoutesPage(TfrmMain& w);

void FillRouteTable(TfrmMain& w);
void MergeInactivePersistentRoutes(TfrmMain& w);
void lvFwTableSelectItem(TfrmMain& w);
void acDeleteRouteExecute(TfrmMain& w);

} // namespace corvane
