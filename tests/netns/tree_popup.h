// Finding an interface's row and adapter node in the real window, as a user would pick them.
#pragma once

#include "hostinfo/adaptertree.h"
#include "interfaces/iftable_rows.h"
#include "interfaces/interfacepage.h"
#include "pageprobe.h"
#include "shell/frmmain.h"

#include <QStandardItemModel>
#include <QTreeView>
#include <net/if.h>

namespace corvane::test {

// The interface table's description of the named kernel interface.
inline QString description(const TfrmMain& window, const char* name) {
    const QString index = interfaceIndexText(if_nametoindex(name));
    for (int r = 0; r < window.tsInterface->rowCount(); ++r)
        if (window.tsInterface->cellText(r, ifcol::Index) == index)
            return window.tsInterface->cellText(r, ifcol::Description);
    return {};
}

// The tree's popup on the adapter of the interface, as a right click opens it.
inline void popupOn(TfrmMain& window, const char* name) {
    IpInfoPage& page = *window.tsIP;
    for (int r = 0; r < PageProbe::model(&page)->rowCount(); ++r)
        if (PageProbe::model(&page)->item(r)->text() == description(window, name))
            page.tvInfo->setCurrentIndex(PageProbe::model(&page)->item(r)->index());
    page.pmIPMenuPopup();
}

} // namespace corvane::test
