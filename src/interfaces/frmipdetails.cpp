#include "interfaces/frmipdetails.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace corvane {

TfrmIPDetails* frmIPDetails = nullptr;

TfrmIPDetails::TfrmIPDetails(QWidget* parent)
    : StatsWindow("frmIPDetails", "IP Statistics", parent) {
    GroupBox1 = new QGroupBox(QStringLiteral("IP Stats"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto* grid = new QGridLayout(GroupBox1);
    grid->setVerticalSpacing(2);
    struct Line {
        const char* caption;
        QLabel* TfrmIPDetails::*value;
        const char* name;
    };
    const Line lines[] = {
        {"Received datagrams:", &TfrmIPDetails::lblinReceives, "lblinReceives"},
        {"Datagrams requested to send:", &TfrmIPDetails::lbloutRequest, "lbloutRequest"},
        {"Forwarding (Routing):", &TfrmIPDetails::lblRoutingEnabled, "lblRoutingEnabled"},
        {"Forwarded datagrams:", &TfrmIPDetails::lblForwarded, "lblForwarded"},
        {"In header errors:", &TfrmIPDetails::lblinHdrErrors, "lblinHdrErrors"},
        {"In address errors:", &TfrmIPDetails::lblinAddrErrors, "lblinAddrErrors"},
        {"In unknown protocol:", &TfrmIPDetails::lblinUnknownProtos, "lblinUnknownProtos"},
        {"In discards:", &TfrmIPDetails::lblinDiscards, "lblinDiscards"},
        {"Failed reassemblies:", &TfrmIPDetails::lblFailedReasm, "lblFailedReasm"},
        {"Out discards:", &TfrmIPDetails::lbloutDiscards, "lbloutDiscards"},
        {"Out no routes:", &TfrmIPDetails::lbloutNoRoutes, "lbloutNoRoutes"},
        {"Failed fragmentations:", &TfrmIPDetails::lblFailedFrags, "lblFailedFrags"},
        {"Reassemble Timeout:", &TfrmIPDetails::lblReasmTimeout, "lblReasmTimeout"},
        {"Default TTL:", &TfrmIPDetails::lblDefaultTTL, "lblDefaultTTL"},
    };
    int row = 0;
    for (const Line& line : lines) {
        auto* caption = new QLabel(QString::fromUtf8(line.caption), GroupBox1);
        caption->setObjectName(QStringLiteral("Label%1").arg(row + 1));
        QLabel* value = valueLabel(GroupBox1, line.name);
        this->*line.value = value;
        if (line.value == &TfrmIPDetails::lblForwarded) {
            caption->setObjectName(QStringLiteral("lblForwardedLabel"));
            lblForwardedLabel = caption;
        }
        grid->addWidget(caption, row, 0);
        grid->addWidget(value, row++, 1);
    }
    grid->setColumnStretch(1, 1);

    finishLayout({GroupBox1}, QSize(293, 283));

    connect(btnClose, &QPushButton::clicked, this, &TfrmIPDetails::btnCloseClick);
}

void TfrmIPDetails::showStatistics(const MIB_IPSTATS& s) {
    // The counters are unsigned: three thousand million datagrams never read as negative.
    const auto number = [](DWORD v) { return QString::number(v); };
    lblinReceives->setText(number(s.dwInReceives));
    lbloutRequest->setText(number(s.dwOutRequests));
    const bool forwarding = (s.dwForwarding & 1) != 0;
    lblForwardedLabel->setVisible(forwarding);
    lblRoutingEnabled->setText(forwarding ? QStringLiteral("enabled.")
                                          : QStringLiteral("disabled."));
    lblForwarded->setText(forwarding ? number(s.dwForwDatagrams) : QString());
    const std::pair<QLabel*, DWORD> values[] = {
        {lblinHdrErrors, s.dwInHdrErrors},         {lblinAddrErrors, s.dwInAddrErrors},
        {lblinUnknownProtos, s.dwInUnknownProtos}, {lblinDiscards, s.dwInDiscards},
        {lbloutDiscards, s.dwOutDiscards},         {lbloutNoRoutes, s.dwOutNoRoutes},
        {lblFailedReasm, s.dwReasmFails},          {lblFailedFrags, s.dwFragFails},
        {lblReasmTimeout, s.dwReasmTimeout},       {lblDefaultTTL, s.dwDefaultTTL}};
    for (const auto& [label, value] : values)
        label->setText(number(value));
}

void TfrmIPDetails::btnCloseClick() {
    accept();
}

} // namespace corvane
