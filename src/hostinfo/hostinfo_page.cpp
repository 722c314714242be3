#include "hostinfo/hostinfo_page.h"

#include "hostinfo/adapter_read.h"
#include "widgets/fixedcolours.h"
#include "widgets/hints.h"
#include "widgets/images.h"
#include "widgets/menubuilder.h"

#include <QAction>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QScrollArea>
#include <QVBoxLayout>

namespace corvane {

HostInfoPage::HostInfoPage(const PageContext& context, QWidget* parent)
    : Page(context, "tsHost", 1100, parent) {
    sbxHostInfo = new QScrollArea(this);
    sbxHostInfo->setObjectName(QStringLiteral("sbxHostInfo"));
    sbxHostInfo->setWidgetResizable(true);
    sbxHostInfo->setFrameShape(QFrame::NoFrame);

    GroupBox1 = new QGroupBox(QStringLiteral("Host Properties"));
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    applyHint(GroupBox1,
              QStringLiteral("Network configuration information for the local computer"));
    auto* grid = new QGridLayout(GroupBox1);
    grid->setHorizontalSpacing(16);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    struct Row {
        const char* captionName;
        const char* caption;
        QLabel* HostInfoPage::*value;
        const char* valueName;
        const char* hint;
    };
    // Values stay empty until the host information fill has read them.
    const Row rows[] = {
        {"Label1", "Host Name:", &HostInfoPage::lblHostName, "lblHostName",
         "Host name for the local computer"},
        {"Label2", "Primary Domain Suffix:", &HostInfoPage::lblDomainName, "lblDomainName",
         "Domain in which the local computer is registered"},
        {"Label3", "DNS Enabled:", &HostInfoPage::lblDNSEnabled, "lblDNSEnabled",
         "Specifies whether DNS is enabled on the local computer"},
        {"Label4", "Routing Enabled:", &HostInfoPage::lblRoutingEnabled, "lblRoutingEnabled",
         "Specifies whether routing is enabled on the local computer"},
        {"Label5", "Proxy ARP Enabled:", &HostInfoPage::lblProxyARPEnabled, "lblProxyARPEnabled",
         "Specifies whether the local computer is acting as an ARP proxy"},
        {"Label8", "Computer Uptime", &HostInfoPage::lblUptime, "lblUptime",
         "Specifies computer's uptime"},
    };
    int r = 0;
    for (const Row& row : rows) {
        auto* caption = new QLabel(QString::fromUtf8(row.caption), GroupBox1);
        caption->setObjectName(QString::fromLatin1(row.captionName));
        QLabel* value = makeValueLabel(GroupBox1, row.valueName, row.hint);
        this->*row.value = value;
        grid->addWidget(caption, r, 0);
        grid->addWidget(value, r, 1, 1, 3);
        ++r;
    }

    const auto list = [this](const char* captionName, const char* caption, const char* name,
                             const char* hint, QListWidget*& box) {
        auto* label = new QLabel(QString::fromUtf8(caption), GroupBox1);
        label->setObjectName(QString::fromLatin1(captionName));
        box = new QListWidget(GroupBox1);
        box->setObjectName(QString::fromLatin1(name));
        box->setMinimumHeight(90);
        applyHint(box, QString::fromUtf8(hint));
        keepFixedTextColour(box, QPalette::Text, QPalette::Base, QColor(0, 0, 128));
        return label;
    };
    QLabel* ipCaption =
        list("Label6", "IP Address(es):", "lbxIPAddresses",
             "List of active IP addresses used by the local computer", lbxIPAddresses);
    QLabel* dnsCaption = list("Label7", "DNS Server(s):", "lbxDNSServers",
                              "List of DNS servers used by the local computer", lbxDNSServers);
    // The two lists side by side, equally wide.
    auto* lists = new QGridLayout;
    lists->setHorizontalSpacing(16);
    lists->addWidget(ipCaption, 0, 0);
    lists->addWidget(dnsCaption, 0, 1);
    lists->addWidget(lbxIPAddresses, 1, 0);
    lists->addWidget(lbxDNSServers, 1, 1);
    lists->setColumnStretch(0, 1);
    lists->setColumnStretch(1, 1);
    grid->addLayout(lists, r, 0, 1, 4);
    grid->setRowStretch(r, 1);

    auto* holder = new QWidget;
    auto* outer = new QVBoxLayout(holder);
    outer->setContentsMargins(8, 8, 8, 8);
    outer->addWidget(GroupBox1);
    sbxHostInfo->setWidget(holder);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(sbxHostInfo);

    pmLbxIPPopup = popupMenu(this, "pmLbxIPPopup");
    fillMenu(pmLbxIPPopup, actions_, images_,
             {{"Copy1", nullptr, "Copy to clipboard", nullptr, img::Copy}});
    pmLbxDNSPopup = popupMenu(this, "pmLbxDNSPopup");
    fillMenu(pmLbxDNSPopup, actions_, images_,
             {{"Copy2", nullptr, "Copy to clipboard", nullptr, img::Copy}});
    attachContextMenu(lbxIPAddresses, pmLbxIPPopup);
    attachContextMenu(lbxDNSServers, pmLbxDNSPopup);
    connectListCopy(lbxIPAddresses, pmLbxIPPopup);
    connectListCopy(lbxDNSServers, pmLbxDNSPopup);
}

void HostInfoPage::connectListCopy(QListWidget* list, QMenu* menu) {
    QAction* copy = menu->actions().value(0);
    // With nothing selected there is nothing to copy.
    copy->setEnabled(false);
    connect(menu, &QMenu::aboutToShow, this,
            [list, copy] { copy->setEnabled(!list->selectedItems().isEmpty()); });
    connect(copy, &QAction::triggered, this, [this, list] {
        const QList<QListWidgetItem*> selected = list->selectedItems();
        if (!selected.isEmpty())
            emit copyRequested(selected.first()->text());
    });
}

void HostInfoPage::hostInfoStart() {
    lbxDNSServers->clear();
    const std::optional<HostParams> params = readHostParams();
    if (!params)
        return;
    lblHostName->setText(params->hostName);
    lblDomainName->setText(params->domainName);
    lblDNSEnabled->setText(params->dnsEnabled);
    lblRoutingEnabled->setText(params->routingEnabled);
    lblProxyARPEnabled->setText(params->proxyArpEnabled);
}

void HostInfoPage::hostInfoLists(const QStringList& addresses, const QStringList& dnsServers) {
    lbxIPAddresses->clear();
    lbxIPAddresses->addItems(addresses);
    lbxDNSServers->addItems(dnsServers);
}

void HostInfoPage::setUptimeText(const QString& text) {
    lblUptime->setText(text);
}

QString HostInfoPage::hostName() const {
    return lblHostName->text();
}

QStringList HostInfoPage::addresses() const {
    QStringList out;
    for (int i = 0; i < lbxIPAddresses->count(); ++i)
        out.append(lbxIPAddresses->item(i)->text());
    return out;
}

} // namespace corvane
