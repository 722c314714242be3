// The computer's IPv4 counters across all interfaces, kept current while the window is open.
#pragma once

#include "interfaces/statswindow.h"
#include "iphlpapi.h"

class QGroupBox;
class QLabel;

namespace corvane {

class TfrmIPDetails : public StatsWindow {
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

    // One update's values; the forwarded line shows only while forwarding is on.
    void showStatistics(const MIB_IPSTATS& stats);
    void btnCloseClick();
};

extern TfrmIPDetails* frmIPDetails;

} // namespace corvane
