// The route dialog in its two modes: add a route, or change the selected one.
#pragma once

#include "routing/route_edit.h"

#include <QDialog>
#include <QStringList>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

class TfrmModifyRoutes : public QDialog {
    Q_OBJECT
public:
    explicit TfrmModifyRoutes(QWidget* parent = nullptr);

    QLineEdit* edtNetwork = nullptr;
    QComboBox* cbxMask = nullptr;
    QLineEdit* edtNextHop = nullptr;
    QComboBox* cbxMetric = nullptr;
    QCheckBox* cbPersistent = nullptr;
    QComboBox* cbxInterfaces = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
    QLabel* imgAdd = nullptr;
    QLabel* imgModify = nullptr;
    // The routing table: shown only while all tables are shown, else every route goes to main.
    QLabel* lblTable = nullptr;
    QComboBox* cbxTable = nullptr;

    bool modify = false;
    int metric = 1;               // cbxMetric when OK was pressed; -1 when no integer
    QStringList nextHopProposals; // parallel to the items of cbxInterfaces
    // Set when OK was pressed: the IPv6 route typed (none for an IPv4 one) and the table.
    std::optional<TypedIpv6Route> ipv6Route;
    std::uint32_t table = mainRouteTable;

    // Offers the table choice (main chosen) or hides it.
    void setTableChoice(bool shown, const std::vector<RouteTableChoice>& choices);

    // Handlers; the show runs FormShow and then FormActivate.
    void FormShow();
    void FormActivate();
    void FormHelp();
    void edtNetworkExit();
    void cbxInterfacesChange();
    void btnOkClick();
    // The help context of the focused control, 0 for none.
    int currentHelpContext() const;
    // The item whose text is the box's text, letter case ignored; -1 for none.
    static int itemByText(const QComboBox& box);

private:
    std::vector<RouteTableChoice> tables_;
    // What OK checks after the addresses: interface, metric, table; false when refused (told).
    bool acceptRest();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

extern TfrmModifyRoutes* frmModifyRoutes;

// The controls the route dialogs share, as each of them has them.
struct RouteDialogControls {
    QComboBox* cbxMetric;     // editable, the metric items, "1" chosen
    QComboBox* cbxInterfaces; // editable, typed texts never become items
    QPushButton* btnOk;       // default, disabled until the input allows it
    QPushButton* btnCancel;
};
RouteDialogControls makeRouteDialogControls(QDialog* dialog);

} // namespace corvane
