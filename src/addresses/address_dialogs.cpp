#include "addresses/address_dialogs.h"

#include "addresses/address_choices.h"
#include "platform/prompter.h"
#include "values/ip.h"
#include "widgets/dialogparts.h"
#include "widgets/help.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

namespace corvane {

TfrmRenewIP* frmRenewIP = nullptr;
TDHCPWaitForm* DHCPWaitForm = nullptr;
TfrmAddIP* frmAddIP = nullptr;
TfrmDelIP* frmDelIP = nullptr;

namespace {

enum class Sign { Renew, Add, Delete };

// "IP" on the tile with the command's sign in its corner.
QPixmap addressPicture(Sign sign, qreal ratio) {
    return tilePicture(ratio, [sign](QPainter& p) {
        QFont font = p.font();
        font.setBold(true);
        font.setPixelSize(13);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(QRectF(2, 3, 24, 18), Qt::AlignCenter, QStringLiteral("IP"));
        p.setPen(QPen(QColor(0xe0, 0x8a, 0x1e), 3, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        switch (sign) {
        case Sign::Renew:
            p.drawArc(QRectF(17, 17, 10, 10), 90 * 16, 270 * 16);
            p.drawLine(QPointF(22, 17), QPointF(25, 15));
            break;
        case Sign::Add:
            p.drawLine(QPointF(22, 17), QPointF(22, 27));
            [[fallthrough]];
        case Sign::Delete:
            p.drawLine(QPointF(17, 22), QPointF(27, 22));
            break;
        }
    });
}

} // namespace

AddressDialog::AddressDialog(const char* name, const QString& title, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QLatin1String(name));
    setWindowTitle(title);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowContextHelpButtonHint);
    btnOk = described(new QPushButton(QStringLiteral("Ok"), this), "btnOk", nullptr, 0);
    btnOk->setDefault(true);
    btnCancel = described(new QPushButton(QStringLiteral("Cancel"), this), "btnCancel", nullptr, 0);
    for (QPushButton* b : {btnOk, btnCancel})
        b->setMinimumWidth(75);
    imgModify = described(new QLabel(this), "imgModify", nullptr, 0);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    onHelpKey(this, [this] { FormHelp(); });
}

void AddressDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        centreOnScreen(*this);
}

void AddressDialog::FormHelp() {
    showHelp(focusedHelpContext(*this), this);
}

namespace {

// The buttons below, right-aligned, with the picture at the left.
QHBoxLayout* buttonRow(AddressDialog& d) {
    auto* row = new QHBoxLayout;
    row->addWidget(d.imgModify, 0, Qt::AlignLeft | Qt::AlignBottom);
    row->addStretch(1);
    row->addWidget(d.btnOk, 0, Qt::AlignBottom);
    row->addWidget(d.btnCancel, 0, Qt::AlignBottom);
    return row;
}

} // namespace

TfrmRenewIP::TfrmRenewIP(QWidget* parent)
    : AddressDialog("frmRenewIP", QStringLiteral("Renew IP address"), parent) {
    cbxInterfaces = described(new QComboBox(this), "cbxInterfaces", nullptr, 7030);
    lblInterfaces = buddyLabel(this, "lblInterfaces", "Interface", cbxInterfaces);
    imgModify->setPixmap(addressPicture(Sign::Renew, devicePixelRatioF()));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblInterfaces);
    layout->addWidget(cbxInterfaces);
    layout->addStretch(1);
    layout->addLayout(buttonRow(*this));
    fixDesignSize(*this, QSize(346, 135), Qt::Horizontal);
    startKeyboardIn(*this, cbxInterfaces);
}

TDHCPWaitForm::TDHCPWaitForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("DHCPWaitForm"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    Panel1 = new QLabel(QStringLiteral("Performing a DHCP address renew, please wait..."), this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setAlignment(Qt::AlignCenter);
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Sunken);
    Panel1->setCursor(Qt::WaitCursor);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Panel1);
    setFixedSize(QSize(308, 59).expandedTo(Panel1->sizeHint() + QSize(16, 0)));
}

void TDHCPWaitForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Centred on the desktop, not on the window that asked for it.
    if (const QScreen* shown = screen(); shown && !event->spontaneous())
        move(shown->availableGeometry().center() - rect().center());
}

TfrmAddIP::TfrmAddIP(QWidget* parent)
    : AddressDialog("frmAddIP", QStringLiteral("Add secondary IP address"), parent) {
    edtIP = described(new QLineEdit(this), "edtIP", "IP address", 5010);
    Label1 = buddyLabel(this, "Label1", "IP addess", edtIP);
    cbxMask = described(new QComboBox(this), "cbxMask", "Subnet mask", 5020);
    cbxMask->setEditable(true);
    cbxMask->setInsertPolicy(QComboBox::NoInsert);
    cbxMask->setCompleter(nullptr); // the mask is the text typed, never an item it begins
    cbxMask->addItems(addressMaskList());
    cbxMask->setCurrentIndex(defaultMaskItem);
    lblMask = buddyLabel(this, "lblMask", "Network mask", cbxMask);
    cbxInterfaces = described(new QComboBox(this), "cbxInterfaces",
                              "Interface, onto which the IP address shall be added", 5030);
    lblInterfaces = buddyLabel(this, "lblInterfaces", "Interface", cbxInterfaces);
    Label2 = new QLabel(QStringLiteral("What are secondary IP addresses?"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    QFont link = Label2->font();
    link.setUnderline(true);
    Label2->setFont(link);
    Label2->setStyleSheet(QStringLiteral("color: navy"));
    Label2->setCursor(Qt::WhatsThisCursor);
    imgModify->setPixmap(addressPicture(Sign::Add, devicePixelRatioF()));

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(lblMask, 0, 1);
    grid->addWidget(edtIP, 1, 0);
    grid->addWidget(cbxMask, 1, 1);
    grid->addWidget(lblInterfaces, 2, 0, 1, 2);
    grid->addWidget(cbxInterfaces, 3, 0, 1, 2);
    grid->addWidget(Label2, 4, 0, 1, 2);
    grid->setRowStretch(5, 1);
    grid->addLayout(buttonRow(*this), 6, 0, 1, 2);
    fixDesignSize(*this, QSize(346, 181), Qt::Horizontal);
    startKeyboardIn(*this, edtIP);

    edtIP->installEventFilter(this);
    Label2->installEventFilter(this);
}

bool TfrmAddIP::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edtIP && event->type() == QEvent::KeyRelease)
        edtIPKeyUp();
    else if (watched == Label2 && event->type() == QEvent::MouseButtonRelease &&
             static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        Label2Click();
    return AddressDialog::eventFilter(watched, event);
}

void TfrmAddIP::edtIPKeyUp() {
    const QString text = edtIP->text().trimmed();
    if (text != edtIP->text())
        edtIP->setText(text);
    const ip address(text.toStdString());
    if (address.is_class_d() || address.is_class_e()) {
        showMessage(QStringLiteral("IP address must be in range from 1.0.0.1 to 223.255.255.254"),
                    QStringLiteral("Error"), MsgIcon::Error);
        edtIP->clear();
        btnOk->setEnabled(false);
        return;
    }
    btnOk->setEnabled(address.valid());
}

void TfrmAddIP::Label2Click() {
    showHelp(5005, this);
}

TfrmDelIP::TfrmDelIP(QWidget* parent)
    : AddressDialog("frmDelIP", QStringLiteral("Delete IP Address"), parent) {
    cbxIPAddresses = described(new QComboBox(this), "cbxIPAddresses",
                               "Secondary IP addresses installed on the according interface", 6010);
    Label1 = buddyLabel(this, "Label1", "Configured IP addresses and NTE context", cbxIPAddresses);
    cbxInterfaces = described(new QComboBox(this), "cbxInterfaces",
                              "Interface, from which an IP address shall be deleted", 6020);
    lblInterfaces = buddyLabel(this, "lblInterfaces", "Interface and Index", cbxInterfaces);
    imgModify->setPixmap(addressPicture(Sign::Delete, devicePixelRatioF()));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(cbxIPAddresses);
    layout->addWidget(lblInterfaces);
    layout->addWidget(cbxInterfaces);
    layout->addStretch(1);
    layout->addLayout(buttonRow(*this));
    fixDesignSize(*this, QSize(346, 159), Qt::Horizontal);
    startKeyboardIn(*this, cbxIPAddresses);

    disconnect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnOk, &QPushButton::clicked, this, [this] {
        btnOkClick();
        accept();
    });
    connect(cbxInterfaces, &QComboBox::activated, this, &TfrmDelIP::cbxInterfacesChange);
}

void TfrmDelIP::showEvent(QShowEvent* event) {
    AddressDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmDelIP::FormShow() {
    cbxInterfacesChange();
}

void TfrmDelIP::cbxInterfacesChange() {
    cbxIPAddresses->clear();
    const std::optional<DWORD> index = choiceIndex(cbxInterfaces->currentText());
    if (index)
        cbxIPAddresses->addItems(entriesOf(addressEntries, *index));
    if (cbxIPAddresses->count() > 0)
        cbxIPAddresses->setCurrentIndex(0);
    // Nothing listed, nothing to delete.
    btnOk->setEnabled(cbxIPAddresses->count() > 0);
}

void TfrmDelIP::btnOkClick() {
    const std::optional<ULONG> context = entryContext(cbxIPAddresses->currentText());
    contextChosen = context.has_value();
    nteContext = context.value_or(0);
}

} // namespace corvane
