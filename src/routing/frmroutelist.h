// The two route list dialogs: add a route for every network of a loaded list, or pick the
// routes a list names for deletion. Both load the list the same way.
#pragma once

#include "routing/routelist.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QStringList>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace corvane {

// lvRouteList's rows: the loaded list, however long, without an item per cell.
class RouteListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void setRoutes(std::vector<ListRoute> routes);
    const std::vector<ListRoute>& routes() const { return routes_; }

private:
    std::vector<ListRoute> routes_;
};

class RouteListDialog : public QDialog {
    Q_OBJECT
public:
    QTableView* lvRouteList = nullptr;
    RouteListModel* routeList = nullptr;
    QPushButton* btnOpenList = nullptr;
    QComboBox* cbxMetric = nullptr;
    QComboBox* cbxInterfaces = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
    QLabel* imgModify = nullptr;

    int metric = 1;               // cbxMetric when OK was pressed; -1 when no integer
    QStringList nextHopProposals; // parallel to the items of cbxInterfaces

    void FormShow();
    virtual void FormActivate();
    void btnOpenListClick();
    void FormHelp();
    int currentHelpContext() const;

protected:
    RouteListDialog(const char* name, const QString& title, int listHelpContext,
                    const QString& loadCaption, QWidget* parent);
    // Selects the interface item the box's text names; false when none does.
    bool selectTypedInterface();
    void readMetric();
    // Lays out the controls, the dialog's own ones in extra, then fixes the size rule.
    void finishLayout(QWidget* extra);
    void showEvent(QShowEvent* event) override;
};

class TfrmAddRouteList : public RouteListDialog {
    Q_OBJECT
public:
    explicit TfrmAddRouteList(QWidget* parent = nullptr);
    QCheckBox* cbPersistent = nullptr;
    QLineEdit* edtNextHop = nullptr;

    void FormActivate() override;
    void cbxInterfacesChange();
    void btnOkClick();
};

class TfrmDelRouteList : public RouteListDialog {
    Q_OBJECT
public:
    explicit TfrmDelRouteList(QWidget* parent = nullptr);
    void btnOkClick();
};

extern TfrmAddRouteList* frmAddRouteList;
extern TfrmDelRouteList* frmDelRouteList;

} // namespace corvane
