// The dialogs of the address commands: the DHCP renewal's interface choice and its wait
// window, the secondary address's addition and deletion. Each is created once and reused.
#pragma once

#include <QDialog>
#include <QSize>
#include <QStringList>
#include <cstdint>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

// What the three dialogs share: close and help buttons, F1, the picture, Ok and Cancel, and
// the size rule (the height stays, the width never falls below the designed one).
class AddressDialog : public QDialog {
    Q_OBJECT
public:
    QComboBox* cbxInterfaces = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
    QLabel* imgModify = nullptr;

    void FormHelp();

protected:
    AddressDialog(const char* name, const QString& title, QWidget* parent);
    void showEvent(QShowEvent* event) override;
};

class TfrmRenewIP : public AddressDialog {
    Q_OBJECT
public:
    explicit TfrmRenewIP(QWidget* parent = nullptr);
    QLabel* lblInterfaces = nullptr;
};

// Shown while a lease is released and renewed; the main window takes no input meanwhile.
class TDHCPWaitForm : public QDialog {
    Q_OBJECT
public:
    explicit TDHCPWaitForm(QWidget* parent = nullptr);
    QLabel* Panel1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    // The wait ends when the work does, never by a key.
    void reject() override {}
};

class TfrmAddIP : public AddressDialog {
    Q_OBJECT
public:
    explicit TfrmAddIP(QWidget* parent = nullptr);
    QLabel* Label1 = nullptr;
    QLineEdit* edtIP = nullptr;
    QLabel* lblMask = nullptr;
    QComboBox* cbxMask = nullptr;
    QLabel* lblInterfaces = nullptr;
    QLabel* Label2 = nullptr;

    // Run whenever a key is released in edtIP.
    void edtIPKeyUp();
    void Label2Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

class TfrmDelIP : public AddressDialog {
    Q_OBJECT
public:
    explicit TfrmDelIP(QWidget* parent = nullptr);
    QLabel* Label1 = nullptr;
    QComboBox* cbxIPAddresses = nullptr;
    QLabel* lblInterfaces = nullptr;
    // "address mask (context):index" for every address of the offered interfaces.
    QStringList addressEntries;
    // Set by btnOkClick; nothing chosen when the list was empty.
    bool contextChosen = false;
    uint32_t nteContext = 0;

    void FormShow();
    void cbxInterfacesChange();
    void btnOkClick();

protected:
    void showEvent(QShowEvent* event) override;
};

extern TfrmRenewIP* frmRenewIP;
extern TDHCPWaitForm* DHCPWaitForm;
extern TfrmAddIP* frmAddIP;
extern TfrmDelIP* frmDelIP;

} // namespace corvane
