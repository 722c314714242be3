// The computer's IPv4 counters across all interfaces, kept current while the window is open.
#pragma once

#include "iphlpapi.h"

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace corvane {

class TfrmIPDetails : public QDialog {
    Q_OBJECT
public:
    explicit TfrmIPDetails(QWidget* parent = nullptr);

    QGroupBox* GroupBox1 = nullptr;
    QLabel* lblinReceives = nullptr;
    QLabel* lbloutRequest = nullptr;
    QLabel* lblRoutingEnabled = nullptr;
    QLabel* lblForwardedLabel = nullptr;
    QLabel* lblForwarded = nullptr;
    QLabel* lblinHdrErrors = nullptr;
    QLabel* lblinAddrErrors = nullptr;
    QLabel* lblinUnknownProtos = nullptr;
    QLabel* lblinDiscards = nullptr;
    QLabel* lblFailedReasm = nullptr;
    QLabel* lbloutDiscards = nullptr;
    QLabel* lbloutNoRoutes = nullptr;
    QLabel* lblFailedFrags = nullptr;
    QLabel* lblReasmTimeout = nullptr;
    QLabel* lblDefaultTTL = nullptr;
    QCheckBox* cbxKeepOnTop = nullptr;
    QPushButton* btnClose = nullptr;

    // One update's values; the forwarded line shows only while forwarding is on.
    void showStatistics(const MIB_IPSTATS& stats);
    void cbxKeepOnTopClick();
    void btnCloseClick();
    // Every way of closing restores a minimised main window.
    void done(int result) override;

signals:
    void mainWindowMinimised(bool minimised);

protected:
    void showEvent(QShowEvent* event) override;
};

extern TfrmIPDetails* frmIPDetails;

} // namespace corvane
