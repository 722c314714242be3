#include "interfaces/frmifdetails.h"

#include "interfaces/ifstats.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>

namespace corvane {

TfrmIfDetails* frmIfDetails = nullptr;

namespace {

QProgressBar* meter(QWidget* parent, const char* name) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QLatin1String(name));
    bar->setRange(0, meterMaximum);
    bar->setTextVisible(false);
    bar->setFixedHeight(14);
    TfrmIfDetails::paintMeter(*bar, false);
    return bar;
}

} // namespace

TfrmIfDetails::TfrmIfDetails(QWidget* parent)
    : StatsWindow("frmIfDetails", "Interface statistics", parent) {

    gbxIfStats = new QGroupBox(QStringLiteral("I/F Stats"), this);
    gbxIfStats->setObjectName(QStringLiteral("gbxIfStats"));
    auto* grid = new QGridLayout(gbxIfStats);
    grid->setVerticalSpacing(2);
    const auto caption = [this](QWidget* parent, const char* text) {
        auto* label = new QLabel(QString::fromUtf8(text), parent);
        label->setObjectName(QStringLiteral("Label%1").arg(captions.size() + 1));
        captions.append(label);
        return label;
    };
    struct Line {
        const char* caption;
        QLabel* TfrmIfDetails::*value;
        const char* name;
    };
    const Line lines[] = {
        {"Received octets:", &TfrmIfDetails::lblinOctets, "lblinOctets"},
        {"Received unicast packets:", &TfrmIfDetails::lblinUcastPkts, "lblinUcastPkts"},
        {"Received non-unicast packets:", &TfrmIfDetails::lblinNUcastPkts, "lblinNUcastPkts"},
        {"Incoming discarded packets:", &TfrmIfDetails::lblinDiscards, "lblinDiscards"},
        {"Incoming errorneous packets:", &TfrmIfDetails::lblinErrors, "lblinErrors"},
        {"In unknown protocol:", &TfrmIfDetails::lblinUnknownProtos, "lblinUnknownProtos"},
        {"Sent octets:", &TfrmIfDetails::lbloutOctets, "lbloutOctets"},
        {"Sent unicast packets:", &TfrmIfDetails::lbloutUcastPkts, "lbloutUcastPkts"},
        {"Sent non-unicast packets:", &TfrmIfDetails::lbloutNUcastPkts, "lbloutNUcastPkts"},
        {"Out discards", &TfrmIfDetails::lbloutDiscards, "lbloutDiscards"},
        {"Out errors:", &TfrmIfDetails::lbloutErrors, "lbloutErrors"},
        {"MTU:", &TfrmIfDetails::lblMtu, "lblMtu"},
        {"Output queue length:", &TfrmIfDetails::lbloutQLen, "lbloutQLen"},
    };
    int row = 0;
    for (const Line& line : lines) {
        grid->addWidget(caption(gbxIfStats, line.caption), row, 0);
        this->*line.value = valueLabel(gbxIfStats, line.name);
        grid->addWidget(this->*line.value, row++, 1);
    }
    grid->setColumnStretch(1, 1);

    gbxMeters = new QGroupBox(QStringLiteral("Per Second Values"), this);
    gbxMeters->setObjectName(QStringLiteral("gbxMeters"));
    auto* meters = new QGridLayout(gbxMeters);
    meters->setVerticalSpacing(2);
    lblinOctetsps = valueLabel(gbxMeters, "lblinOctetsps");
    lbloutOctetsps = valueLabel(gbxMeters, "lbloutOctetsps");
    pbIOPS = meter(gbxMeters, "pbIOPS");
    pbOOPS = meter(gbxMeters, "pbOOPS");
    meters->addWidget(caption(gbxMeters, "Received octets per sec.:"), 0, 0);
    meters->addWidget(lblinOctetsps, 0, 1);
    meters->addWidget(caption(gbxMeters, "RX Octets Meter:"), 1, 0);
    meters->addWidget(pbIOPS, 1, 1);
    meters->addWidget(caption(gbxMeters, "Sent octets per sec.:"), 2, 0);
    meters->addWidget(lbloutOctetsps, 2, 1);
    meters->addWidget(caption(gbxMeters, "TX Octets Meter:"), 3, 0);
    meters->addWidget(pbOOPS, 3, 1);
    meters->setColumnStretch(1, 1);

    finishLayout({gbxIfStats, gbxMeters}, QSize(292, 356));

    connect(btnClose, &QPushButton::clicked, this, &TfrmIfDetails::btnCloseClick);
}

void TfrmIfDetails::paintMeter(QProgressBar& bar, bool red) {
    QPalette palette = bar.palette();
    palette.setColor(QPalette::Highlight, red ? QColor(255, 0, 0) : QColor(0, 0, 255));
    bar.setPalette(palette);
}

void TfrmIfDetails::showEvent(QShowEvent* event) {
    StatsWindow::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmIfDetails::FormShow() {
    cbxKeepOnTop->setChecked(false);
}

void TfrmIfDetails::btnCloseClick() {
    accept();
}

void TfrmIfDetails::SetStatisticsActive(bool active) {
    setWindowTitle(active ? QStringLiteral("Interface statistics")
                          : QStringLiteral("Interface statistics stopped"));
    for (QLabel* label : captions)
        label->setEnabled(active);
    pbIOPS->setValue(0);
    pbOOPS->setValue(0);
    lblinOctetsps->clear();
    lbloutOctetsps->clear();
}

} // namespace corvane
