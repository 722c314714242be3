#include "routing/frmip.h"

#include "values/ip.h"
#include "widgets/dialogparts.h"
#include "widgets/help.h"
#include "widgets/hints.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace corvane {

TfrmIP* frmIP = nullptr;

TfrmIP::TfrmIP(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmIP"));
    setWindowTitle(QStringLiteral("Find outgoing interface..."));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint);
    Label1 = new QLabel(QStringLiteral("IP address"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    edtIP = new QLineEdit(this);
    edtIP->setObjectName(QStringLiteral("edtIP"));
    applyHint(edtIP, QStringLiteral("Enter an IP address"));
    Label1->setBuddy(edtIP);
    btnOk = new QPushButton(QStringLiteral("Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    applyHint(btnOk, QStringLiteral("Determine outgoing interface for given IP"));
    btnOk->setDefault(true);
    btnOk->setMinimumWidth(75);

    auto* row = new QHBoxLayout;
    row->addWidget(edtIP, 1);
    row->addWidget(btnOk);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addLayout(row);
    layout->addStretch(1);
    setFixedSize(sizeHint().expandedTo(QSize(224, 86)));

    connect(btnOk, &QPushButton::clicked, this, &TfrmIP::btnOkClick);
    onHelpKey(this, [this] { FormHelp(); });
}

void TfrmIP::btnOkClick() {
    edtIP->setText(edtIP->text().trimmed());
    valid = ip(edtIP->text().toStdString()).valid();
    accept();
}

void TfrmIP::reject() {
    // Escape is the button's key as much as Enter.
    btnOkClick();
}

void TfrmIP::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    centreOnScreen(*this);
    FormShow();
}

void TfrmIP::FormShow() {
    edtIP->setFocus();
}

void TfrmIP::FormHelp() {
    showHelp(8010, this);
}

} // namespace corvane
