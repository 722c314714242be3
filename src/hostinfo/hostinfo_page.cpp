#include "hostinfo/hostinfo_page.h"
#include "platform/systemtext.h"

#include "platform/iphelper.h"
#include "platform/reportfailure.h"
#include "shell/frmmain.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <algorithm>
#include <cstring>
#include <vector>

namespace corvane {
namespace {

const char* const titleProperty = "applicationTitle";

QString yesNo(UINT flag) {
    return flag ? QStringLiteral("yes") : QStringLiteral("no");
}

void readNetworkParams(TfrmMain& w) {
    ULONG size = 584;
    // Never smaller than the record we read, whatever size the platform was told.
    std::vector<uint64_t> buffer(std::max<std::size_t>(size, sizeof(FIXED_INFO)) / 8 + 1);
    DWORD rc = iphlp().GetNetworkParams(reinterpret_cast<FIXED_INFO*>(buffer.data()), &size);
    if (rc == ERROR_BUFFER_OVERFLOW) {
        buffer.assign(std::max<std::size_t>(size, sizeof(FIXED_INFO)) / 8 + 1, 0);
        rc = iphlp().GetNetworkParams(reinterpret_cast<FIXED_INFO*>(buffer.data()), &size);
    }
    if (rc != NO_ERROR) {
        ReportFailure(QStringLiteral("GetNetworkParams"), rc);
        return;
    }
    const auto* info = reinterpret_cast<const FIXED_INFO*>(buffer.data());
    w.lblHostName->setText(systemText(info->HostName));
    w.lblDomainName->setText(systemText(info->DomainName));
    w.lblDNSEnabled->setText(yesNo(info->EnableDns));
    w.lblRoutingEnabled->setText(yesNo(info->EnableRouting));
    w.lblProxyARPEnabled->setText(yesNo(info->EnableProxy));
}

// Copies through the hidden edit box, as every copy of the window does.
void copyText(TfrmMain& w, const QString& text) {
    w.eCopy->setText(text);
    w.eCopy->selectAll();
    QApplication::clipboard()->setText(w.eCopy->selectedText());
}

void connectListCopy(TfrmMain& w, QListWidget* list, QMenu* menu, const char* itemName) {
    QAction* copy = w.item(QString::fromLatin1(itemName));
    QObject::connect(menu, &QMenu::aboutToShow, &w,
                     [list, copy] { copy->setEnabled(!list->selectedItems().isEmpty()); });
    QObject::connect(copy, &QAction::triggered, &w, [&w, list] {
        const QList<QListWidgetItem*> selected = list->selectedItems();
        if (!selected.isEmpty())
            copyText(w, selected.first()->text());
    });
}

} // namespace

QString hostInfoStart(TfrmMain& w) {
    QString before = w.panelText(1);
    w.setPanelText(1, QString());
    w.lbxDNSServers->clear();
    readNetworkParams(w);
    return before;
}

void hostInfoLists(TfrmMain& w, const QStringList& addresses, const QStringList& dnsServers) {
    w.lbxIPAddresses->clear();
    w.lbxIPAddresses->addItems(addresses);
    w.lbxDNSServers->addItems(dnsServers);
    w.setPanelText(1, addresses.join(QStringLiteral(", ")));
}

void hostInfoFinish(TfrmMain& w) {
    QString title = w.windowTitle() + QStringLiteral(" @ ") + w.lblHostName->text();
    for (int i = 0; i < w.lbxIPAddresses->count(); ++i)
        title += QLatin1Char('\n') + w.lbxIPAddresses->item(i)->text();
    w.setProperty(titleProperty, title);
    // The notification-area icon takes its hint from here when it is shown.
    qApp->setProperty("trayHint", title);
}

QString applicationTitle(const TfrmMain& w) {
    return w.property(titleProperty).toString();
}

void installHostInfoPage(TfrmMain& w) {
    connectListCopy(w, w.lbxIPAddresses, w.pmLbxIPPopup, "Copy1");
    connectListCopy(w, w.lbxDNSServers, w.pmLbxDNSPopup, "Copy2");
}

} // namespace corvane
