// The pages' models and tree state, which only tests reach: the window reads the pages through
// their accessors.
#pragma once

#include "connections/connpage.h"
#include "hostinfo/adaptertree.h"
#include "interfaces/interfacepage.h"
#include "routing/routespage.h"

#include <QStandardItemModel>

namespace corvane {

struct PageProbe {
    static QStandardItemModel* model(InterfacesPage* page) { return page->lvIfTableModel; }
    static QStandardItemModel* model(IpInfoPage* page) { return page->tvInfoModel; }
    static RouteModel* model(RoutesPage* page) { return page->lvFwTableModel; }
    static ConnectionModel* model(NetstatPage* page) { return page->lvConnectionsModel; }
    static AdapterTreeState& state(IpInfoPage* page) { return page->state; }
};

} // namespace corvane
