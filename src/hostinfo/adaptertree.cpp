#include "hostinfo/adaptertree.h"

#include "hostinfo/adapter_pass.h"
#include "hostinfo/connectionname.h"
#include "hostinfo/gateway_mac.h"
#include "hostinfo/hostinfo_page.h"
#include "interfaces/iftable_rows.h"
#include "interfaces/interfacepage.h"
#include "platform/iphelper.h"
#include "platform/reportfailure.h"
#include "shell/frmmain.h"
#include "shell/frmsetup.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTreeView>
#include <algorithm>
#include <vector>

namespace corvane {
namespace {

class StateHolder : public QObject {
public:
    using QObject::QObject;
    AdapterTreeState state;
};

using Buffer = std::vector<uint64_t>;

// Room for size bytes and never less than one record: a platform that answers success with
// a short record must not make us read past the buffer.
template <typename Record> void reserve(Buffer& buffer, ULONG size) {
    buffer.assign(std::max<std::size_t>(size, sizeof(Record)) / 8 + 1, 0);
}

bool bufferTooSmall(DWORD rc) {
    return rc == ERROR_BUFFER_OVERFLOW || rc == ERROR_INSUFFICIENT_BUFFER;
}

QString fromWide(const WCHAR* text) {
    QString out;
    for (; text && *text; ++text)
        out.append(QChar(static_cast<char16_t>(*text)));
    return out;
}

// The pass's questions answered by the platform.
class PlatformEnv : public AdapterPassEnv {
public:
    explicit PlatformEnv(const IP_ADAPTER_ADDRESSES* addresses) : addresses_(addresses) {}

    QString connectionName(const QString& adapterName, DWORD ifIndex) override {
        return names_.lookup(adapterName, ifIndex);
    }
    bool isInterfaceUp(DWORD ifIndex) override {
        MIB_IFROW row{};
        row.dwIndex = ifIndex;
        const DWORD rc = iphlp().GetIfEntry(&row);
        if (rc != NO_ERROR) {
            ReportFailure(QStringLiteral("GetIfEntry"), rc);
            return false;
        }
        return row.dwAdminStatus == 1;
    }
    GatewayMac gatewayMac(const QString& address) override { return LookupGatewayMac(address); }
    std::optional<PerAdapterDns> perAdapterInfo(DWORD ifIndex) override {
        ULONG size = 52;
        Buffer buffer;
        reserve<IP_PER_ADAPTER_INFO>(buffer, size);
        DWORD rc = iphlp().GetPerAdapterInfo(
            ifIndex, reinterpret_cast<IP_PER_ADAPTER_INFO*>(buffer.data()), &size);
        if (bufferTooSmall(rc)) {
            reserve<IP_PER_ADAPTER_INFO>(buffer, size);
            rc = iphlp().GetPerAdapterInfo(
                ifIndex, reinterpret_cast<IP_PER_ADAPTER_INFO*>(buffer.data()), &size);
        }
        if (rc != NO_ERROR) {
            ReportFailure(QStringLiteral("GetPerAdapterInfo"), rc);
            return std::nullopt;
        }
        const auto* info = reinterpret_cast<const IP_PER_ADAPTER_INFO*>(buffer.data());
        PerAdapterDns out;
        out.autoconfigEnabled = info->AutoconfigEnabled != 0;
        for (const IP_ADDR_STRING* s = &info->DnsServerList; s; s = s->Next)
            out.servers.append(QString::fromLatin1(
                s->IpAddress.String, static_cast<qsizetype>(strnlen(s->IpAddress.String, 16))));
        return out;
    }
    QString dnsSuffix(DWORD ifIndex) override {
        QString suffix = QStringLiteral("none");
        for (const IP_ADAPTER_ADDRESSES* a = addresses_; a; a = a->Next)
            if (a->IfIndex == ifIndex)
                suffix = fromWide(a->DnsSuffix);
        return suffix;
    }
    QDateTime now() override { return QDateTime::currentDateTime(); }

private:
    const IP_ADAPTER_ADDRESSES* addresses_;
    const ConnectionNames names_ = ConnectionNames::read();
};

// GetAdaptersAddresses for IPv4; nothing when it fails (reported).
bool readAdapterAddresses(Buffer& buffer) {
    ULONG size = 0;
    DWORD rc = iphlp().GetAdaptersAddresses(AF_INET_IPH, 0, nullptr, nullptr, &size);
    if (rc == NO_ERROR)
        return false; // no adapters: no list
    if (bufferTooSmall(rc)) {
        reserve<IP_ADAPTER_ADDRESSES>(buffer, size);
        rc = iphlp().GetAdaptersAddresses(
            AF_INET_IPH, 0, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (rc != NO_ERROR) {
        ReportFailure(QStringLiteral("GetAdaptersAddresses"), rc);
        return false;
    }
    return true;
}

bool readAdaptersInfo(Buffer& buffer) {
    ULONG size = 640;
    reserve<IP_ADAPTER_INFO>(buffer, size);
    DWORD rc = iphlp().GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    if (bufferTooSmall(rc)) {
        reserve<IP_ADAPTER_INFO>(buffer, size);
        rc = iphlp().GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    }
    if (rc != NO_ERROR) {
        ReportFailure(QStringLiteral("GetAdaptersInfo"), rc);
        return false;
    }
    return true;
}

QStandardItem* makeItem(const TfrmMain& w, const TreeNode& n) {
    auto* item = new QStandardItem(w.ilTreeImages.icon(n.image), n.text);
    item->setEditable(false);
    item->setData(n.data, treeDataRole);
    item->setData(n.image, Qt::UserRole);
    for (const TreeNode& child : n.children)
        item->appendRow(makeItem(w, child));
    return item;
}

std::optional<DWORD> rowIndex(const QStandardItemModel& model, int row) {
    const QStandardItem* cell = model.item(row, ifcol::Index);
    if (!cell)
        return std::nullopt;
    return parseInterfaceIndex(cell->text());
}

int rowWord(const QStandardItemModel& model, int row) {
    const QStandardItem* caption = model.item(row, 0);
    return caption ? caption->data(ifRowDataRole).toInt() : 0;
}

void setRowWord(QStandardItemModel& model, int row, int word) {
    if (QStandardItem* caption = model.item(row, 0))
        caption->setData(word, ifRowDataRole);
}

void markInterfaceRows(TfrmMain& w, const AdapterPassResult& r) {
    QStandardItemModel& model = *w.lvIfTableModel;
    for (const DWORD index : r.inactiveIndexes)
        for (int row = 0; row < model.rowCount(); ++row)
            if (rowIndex(model, row) == index)
                setRowWord(model, row, 0); // setData repaints the row
    for (const DWORD index : r.severalIndexes)
        for (int row = 0; row < model.rowCount(); ++row)
            if (rowIndex(model, row) == index) {
                setRowWord(model, row, rowWord(model, row) + 0x80);
                break;
            }
}

void applyPass(TfrmMain& w, const AdapterPassResult& r, bool logging) {
    AdapterTreeState& state = adapterTreeState(w);
    w.tvInfo->setUpdatesEnabled(false);
    for (const TreeNode& adapter : r.adapters)
        w.tvInfoModel->appendRow(makeItem(w, adapter));
    w.tvInfo->setUpdatesEnabled(true);
    hostInfoLists(w, r.addresses, r.dnsServers);
    markInterfaceRows(w, r);
    state.anyActive = r.anyActive;
    state.severalAddresses = r.severalAddresses;
    state.deleteChoices = r.deleteChoices;
    if (r.anyActive)
        w.acAddIP->setEnabled(true);
    if (r.severalAddresses)
        w.acDelIP->setEnabled(true);
    // More dead addresses than the queue holds wait for the next pass.
    for (const ULONG context : r.deadContexts)
        w.refresh->deadAddresses().push(context);
    if (logging)
        w.ipLog.append(r.logLines);
}

QStandardItem* selectedNode(const TfrmMain& w) {
    const QModelIndexList selected = w.tvInfo->selectionModel()->selectedIndexes();
    const QModelIndex at = selected.isEmpty() ? w.tvInfo->currentIndex() : selected.first();
    return at.isValid() ? w.tvInfoModel->itemFromIndex(at) : nullptr;
}

QStandardItem* adapterOf(QStandardItem* node) {
    while (node && node->parent())
        node = node->parent();
    return node;
}

} // namespace

AdapterTreeState& adapterTreeState(TfrmMain& w) {
    auto* holder =
        w.findChild<StateHolder*>(QStringLiteral("adapterTreeState"), Qt::FindDirectChildrenOnly);
    if (!holder) {
        holder = new StateHolder(&w);
        holder->setObjectName(QStringLiteral("adapterTreeState"));
    }
    return holder->state;
}

void RefreshAdapterInformation(TfrmMain& w) {
    AdapterTreeState& state = adapterTreeState(w);
    state.anyActive = false;
    state.severalAddresses = false;
    w.acDelIP->setEnabled(false);
    w.acAddIP->setEnabled(false);
    hostInfoStart(w);
    w.tvInfo->setUpdatesEnabled(false);
    w.tvInfoModel->clear();
    w.tvInfo->setUpdatesEnabled(true);
    state.deleteChoices.clear();
    w.refresh->deadAddresses().reset();
    const bool logging = frmSetup && frmSetup->cbxIPLogging->isChecked();
    if (logging)
        w.ipLog.clear();

    Buffer addressBuffer;
    const bool haveAddresses = w.xpFamily && readAdapterAddresses(addressBuffer);
    Buffer infoBuffer;
    if (!readAdaptersInfo(infoBuffer))
        return;
    PlatformEnv env(haveAddresses
                        ? reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(addressBuffer.data())
                        : nullptr);
    const AdapterPassResult r =
        runAdapterPass(reinterpret_cast<const IP_ADAPTER_INFO*>(infoBuffer.data()), env, logging);
    applyPass(w, r, logging);
    hostInfoFinish(w);
}

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

void tvInfoClick(TfrmMain& w) {
    QStandardItem* node = selectedNode(w);
    if (!node)
        return;
    w.tvInfo->setCurrentIndex(node->index());
    if (node->parent())
        return;
    const QStandardItemModel& model = *w.lvIfTableModel;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QStandardItem* description = model.item(row, ifcol::Description);
        if (description && description->text() == node->text()) {
            w.lvIfTable->selectRow(row);
            return;
        }
    }
}

void pmIPMenuPopup(TfrmMain& w) {
    w.acRenew->setEnabled(false);
    QStandardItem* adapter = adapterOf(selectedNode(w));
    w.item(QStringLiteral("CopytoClipboard1"))->setEnabled(adapter != nullptr);
    if (!adapter)
        return; // nothing to work on: renewal stays off, the address items as the pass left them
    tvInfoClick(w);
    AdapterTreeState& state = adapterTreeState(w);
    const uint32_t word = adapter->data(treeDataRole).toUInt();
    if (word & (0x1 | 0x2))
        w.acRenew->setEnabled(true);
    if (state.anyActive && !(word & 0x8))
        w.item(QStringLiteral("AddIPaddress1"))->setEnabled(true);
    if (state.severalAddresses && !(word & 0x8))
        w.item(QStringLiteral("DeleteIPaddress1"))->setEnabled(true);
    state.treeOrigin = true;
    DWORD index = 0;
    if (adapterNodeIndex(*adapter, index))
        state.selectedAdapterIndex = index;
}

void CopytoClipboard1Click(TfrmMain& w) {
    const QStandardItem* node = selectedNode(w);
    if (!node)
        return;
    QString text = node->text();
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon >= 0)
        text = text.mid(colon + 2);
    w.eCopy->setText(text);
    w.eCopy->selectAll();
    QApplication::clipboard()->setText(w.eCopy->selectedText());
}

void tsIPShow(TfrmMain& w) {
    const bool expand = frmSetup && frmSetup->cbxAutoExpand->isChecked();
    w.tvInfo->setUpdatesEnabled(false);
    if (expand)
        w.tvInfo->expandAll();
    else
        w.tvInfo->collapseAll();
    w.tvInfo->setUpdatesEnabled(true);
}

void selectAdapterNode(TfrmMain& w, const QString& description) {
    for (int row = 0; row < w.tvInfoModel->rowCount(); ++row) {
        const QStandardItem* adapter = w.tvInfoModel->item(row);
        if (adapter && adapter->text() == description) {
            w.tvInfo->setCurrentIndex(adapter->index());
            return;
        }
    }
}

void installAdapterTree(TfrmMain& w) {
    adapterTreeState(w);
    installHostInfoPage(w);
    w.refresh->setFill(FillStep::AdapterInformation, [&w] { RefreshAdapterInformation(w); });
    QObject::connect(w.tvInfo, &QTreeView::clicked, &w, [&w] { tvInfoClick(w); });
    QObject::connect(w.pmIPMenu, &QMenu::aboutToShow, &w, [&w] { pmIPMenuPopup(w); });
    QObject::connect(w.item(QStringLiteral("CopytoClipboard1")), &QAction::triggered, &w,
                     [&w] { CopytoClipboard1Click(w); });
    QObject::connect(w.pcMain, &QTabWidget::currentChanged, &w, [&w](int) {
        if (w.pcMain->currentWidget() == w.tsIP)
            tsIPShow(w);
    });
}

} // namespace corvane
