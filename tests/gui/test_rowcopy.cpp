// Copying the selected rows of lists, tables and the tree as tab-separated lines.
#include "gui_fixture.h"
#include "widgets/menubuilder.h"
#include "widgets/rowcopy.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QTreeView>

using namespace corvane;
using namespace corvane::test;

namespace {

QList<QStandardItem*> row(std::initializer_list<const char*> cells) {
    QList<QStandardItem*> items;
    for (const char* c : cells)
        items << new QStandardItem(QString::fromUtf8(c));
    return items;
}

class RowCopy : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& cells :
             {row({"10.0.0.0", "8080", "eth0"}), row({"0.0.0.0", "68", "eth1"}),
              row({"192.168.1.0", "631", "eth0"}), row({"127.0.0.0", "49702", "lo"})})
            model.appendRow(cells);
        sorted.setSourceModel(&model);
        view.setModel(&sorted);
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        view.setSelectionMode(QAbstractItemView::ExtendedSelection);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    }
    void selectRows(std::initializer_list<int> rows) {
        view.clearSelection();
        for (int r : rows)
            view.selectionModel()->select(sorted.index(r, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    static QString clipboard() { return QGuiApplication::clipboard()->text(); }

    // Before the view: widgets need the application.
    QApplication& app = guiApp();
    QStandardItemModel model;
    QSortFilterProxyModel sorted;
    QTableView view;
};

TEST_F(RowCopy, CtrlCCopiesThreeSelectedRowsInTheOrderShownAfterSorting) {
    installRowCopy(&view);
    sorted.sort(0, Qt::AscendingOrder); // 0.0.0.0, 10.0.0.0, 127.0.0.0, 192.168.1.0
    // Selected bottom first, and not next to each other.
    selectRows({3, 0, 1});
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard(), QStringLiteral("0.0.0.0\t68\teth1\n"
                                          "10.0.0.0\t8080\teth0\n"
                                          "192.168.1.0\t631\teth0"));
    sorted.sort(0, Qt::DescendingOrder);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard().split(QLatin1Char('\n')).first(),
              QStringLiteral("192.168.1.0\t631\teth0"));
}

TEST_F(RowCopy, ColumnsFollowTheHeaderHiddenOnesLeftOut) {
    view.horizontalHeader()->moveSection(2, 0);
    view.setColumnHidden(1, true);
    selectRows({0});
    EXPECT_EQ(rowsAsText(view), QStringLiteral("eth0\t10.0.0.0"));
}

TEST_F(RowCopy, CellTextCannotBreakTheLinesApart) {
    model.item(0, 2)->setText(QStringLiteral("eth0\tvia\nx\r\x1b[2Jy"));
    selectRows({0});
    const QStringList lines = rowsAsText(view).split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0].split(QLatin1Char('\t')).size(), 3);
    EXPECT_FALSE(lines[0].contains(QChar(0x1b)));
}

TEST_F(RowCopy, NothingSelectedKeepsTheClipboard) {
    installRowCopy(&view);
    view.clearSelection();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard(), QStringLiteral("before"));
}

TEST_F(RowCopy, TreeRowsInDisplayOrder) {
    QStandardItemModel tree;
    auto* first = new QStandardItem(QStringLiteral("eth0 - Ethernet"));
    first->appendRow(new QStandardItem(QStringLiteral("IP Address: 10.0.0.5")));
    first->appendRow(new QStandardItem(QStringLiteral("Gateway: 10.0.0.1")));
    tree.appendRow(first);
    tree.appendRow(new QStandardItem(QStringLiteral("lo - Loopback")));
    QTreeView treeView;
    treeView.setModel(&tree);
    treeView.setSelectionMode(QAbstractItemView::ExtendedSelection);
    treeView.expandAll();
    auto* s = treeView.selectionModel();
    s->select(tree.index(1, 0), QItemSelectionModel::Select);
    s->select(tree.index(1, 0, tree.index(0, 0)), QItemSelectionModel::Select);
    s->select(tree.index(0, 0), QItemSelectionModel::Select);
    EXPECT_EQ(rowsAsText(treeView),
              QStringLiteral("eth0 - Ethernet\nGateway: 10.0.0.1\nlo - Loopback"));
}

TEST_F(RowCopy, PopupGetsACopyEntryUnlessItHasOne) {
    QMenu plain;
    plain.setObjectName(QStringLiteral("pmPlain"));
    plain.addAction(QStringLiteral("Refresh"));
    attachContextMenu(&view, &plain);
    installRowCopy(&view);
    installRowCopy(&view); // a second call adds nothing
    auto* copy = plain.findChild<QAction*>(QStringLiteral("pmPlainCopy"));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(plain.actions().size(), 3); // Refresh, separator, Copy
    view.clearSelection();
    emit plain.aboutToShow();
    EXPECT_FALSE(copy->isEnabled());
    selectRows({1});
    emit plain.aboutToShow();
    ASSERT_TRUE(copy->isEnabled());
    copy->trigger();
    EXPECT_EQ(clipboard(), QStringLiteral("0.0.0.0\t68\teth1"));

    QTableView other;
    other.setModel(&sorted);
    QMenu own;
    own.addAction(QStringLiteral("Copy to &Clipboard"));
    attachContextMenu(&other, &own);
    installRowCopy(&other);
    EXPECT_EQ(own.actions().size(), 1);
}

// Every list of the main window copies its rows; the tree's own entry stays as it was.
TEST_F(MainWindowFixture, EveryPageListCopiesRows) {
    make();
    int views = 0;
    for (QAbstractItemView* v : window->pcMain->findChildren<QAbstractItemView*>()) {
        if (v->window() != window.get())
            continue;
        EXPECT_TRUE(v->property("rowCopy").toBool()) << v->objectName().toStdString();
        ++views;
    }
    EXPECT_GE(views, 6); // two address lists, the tree, interfaces, routes, connections
    EXPECT_NE(window->findChild<QAction*>(QStringLiteral("pmRouteMenuCopy")), nullptr);
    EXPECT_EQ(window->findChild<QAction*>(QStringLiteral("pmIPMenuCopy")), nullptr);
}

} // namespace
