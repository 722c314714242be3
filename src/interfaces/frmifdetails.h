// The live counters of one interface, with the per-second values and their meters.
#pragma once

#include "interfaces/statswindow.h"

#include <QList>

class QGroupBox;
class QLabel;
class QProgressBar;

namespace corvane {

class TfrmIfDetails : public StatsWindow {
    Q_OBJECT
public:
    explicit TfrmIfDetails(QWidget* parent = nullptr);

    QGroupBox* gbxIfStats = nullptr;
    QLabel* lblinOctets = nullptr;
    QLabel* lblinUcastPkts = nullptr;
    QLabel* lblinNUcastPkts = nullptr;
    QLabel* lblinDiscards = nullptr;
    QLabel* lblinErrors = nullptr;
    QLabel* lblinUnknownProtos = nullptr;
    QLabel* lbloutOctets = nullptr;
    QLabel* lbloutUcastPkts = nullptr;
    QLabel* lbloutNUcastPkts = nullptr;
    QLabel* lbloutDiscards = nullptr;
    QLabel* lbloutErrors = nullptr;
    QLabel* lblMtu = nullptr;
    QLabel* lbloutQLen = nullptr;
    QGroupBox* gbxMeters = nullptr;
    QLabel* lblinOctetsps = nullptr;
    QLabel* lbloutOctetsps = nullptr;
    QProgressBar* pbIOPS = nullptr;
    QProgressBar* pbOOPS = nullptr;
    QList<QLabel*> captions; // Label1 to Label17, greyed while stopped

    void FormShow();
    void btnCloseClick();
    // The running or the stopped look.
    void SetStatisticsActive(bool active);
    // A meter's colour: red above full scale, blue otherwise.
    static void paintMeter(QProgressBar& bar, bool red);

protected:
    void showEvent(QShowEvent* event) override;
};

extern TfrmIfDetails* frmIfDetails;

} // namespace corvane
