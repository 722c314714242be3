// The prompt for the outgoing interface lookup: one address, one button.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

class TfrmIP : public QDialog {
    Q_OBJECT
public:
    explicit TfrmIP(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QLineEdit* edtIP = nullptr;
    QPushButton* btnOk = nullptr;
    // Set by each press of btnOk: whether edtIP holds a dotted-quad address.
    bool valid = false;

    void btnOkClick();
    void FormShow();
    void FormHelp();

    // Escape and the window frame press btnOk too, so the flag always speaks of the text as
    // it stands, never of an earlier use.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
};

extern TfrmIP* frmIP;

} // namespace corvane
