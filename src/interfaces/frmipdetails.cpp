#include "interfaces/frmipdetails.h"

#include "shell/dialogparts.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace corvane {

TfrmIPDetails* frmIPDetails = nullptr;

TfrmIPDetails::TfrmIPDetails(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmIPDetails"));
    setWindowTitle(QStringLiteral("IP Statistics"));
    // Not a dialog: window managers minimise a transient dialog together with its owner, and
    // "Always on top" sets the main window aside while this one stays.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
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
        auto* value = new QLabel(GroupBox1);
        value->setObjectName(QLatin1String(line.name));
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QPalette navy = value->palette();
        navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
        value->setPalette(navy);
        this->*line.value = value;
        if (line.value == &TfrmIPDetails::lblForwarded) {
            caption->setObjectName(QStringLiteral("lblForwardedLabel"));
            lblForwardedLabel = caption;
        }
        grid->addWidget(caption, row, 0);
        grid->addWidget(value, row++, 1);
    }
    grid->setColumnStretch(1, 1);

    cbxKeepOnTop = new QCheckBox(QStringLiteral("Always on top"), this);
    cbxKeepOnTop->setObjectName(QStringLiteral("cbxKeepOnTop"));
    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);
    btnClose->setMinimumWidth(75);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(cbxKeepOnTop);
    bottom->addStretch(1);
    bottom->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1);
    layout->addLayout(bottom);
    setFixedSize(sizeHint().expandedTo(QSize(293, 283)));

    connect(btnClose, &QPushButton::clicked, this, &TfrmIPDetails::btnCloseClick);
    connect(cbxKeepOnTop, &QCheckBox::clicked, this, &TfrmIPDetails::cbxKeepOnTopClick);
}

void TfrmIPDetails::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        centreOnScreen(*this);
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

void TfrmIPDetails::cbxKeepOnTopClick() {
    const bool onTop = cbxKeepOnTop->isChecked();
    keepOnTop(*this, onTop);
    emit mainWindowMinimised(onTop);
    if (!onTop)
        setFocus();
}

void TfrmIPDetails::btnCloseClick() {
    cbxKeepOnTop->setChecked(false);
    cbxKeepOnTopClick();
    accept();
}

void TfrmIPDetails::done(int result) {
    emit mainWindowMinimised(false);
    QDialog::done(result);
}

} // namespace corvane
