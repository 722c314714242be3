// What every page of the main window shares: its place in the page control, the options, the
// refresh cycle, the window's actions and pictures, and the signals through which it asks the
// window for what is not its own. Pages never reach into each other; the window wires them.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <initializer_list>

class QAbstractItemModel;
class QAction;
class QLabel;
class QMenu;
class QTableView;

namespace corvane {

struct ActionList;
class ImageList;
class OptionsStore;
class RefreshCycle;
struct Options;
struct RuntimeOptions;

struct PageContext {
    OptionsStore& options;
    RefreshCycle& refresh;
    const ActionList& actions;
    const ImageList& images;
};

class Page : public QWidget {
    Q_OBJECT
public:
    Page(const PageContext& context, const char* name, int helpContext, QWidget* parent = nullptr);
    int helpContext() const { return helpContext_; }

signals:
    // The page wants to be the one shown (a command of its own was chosen elsewhere).
    void showRequested();
    // RefreshNetworkStatus, after a change made from the page.
    void refreshRequested();
    // A copy to the clipboard, made through the window's hidden edit field.
    void copyRequested(const QString& text);

protected:
    const Options& options() const;
    // The popup entry itemName of menu flips a run-time option unsaved, then runs after (a
    // refresh when empty). Whenever the menu opens, the entry shows the option as it stands.
    void bindRuntimeToggle(QMenu* menu, const char* itemName, bool RuntimeOptions::*option,
                           std::function<void()> after = {});

    OptionsStore& options_;
    RefreshCycle& refresh_;
    const ActionList& actions_;
    const ImageList& images_;

private:
    int helpContext_;
};

inline const QString popupHint = QStringLiteral("Click right mouse button for popup menu");

// A list column: widths were designed for a small dialog font; a desktop font is wider. Each
// column grows to hold its caption and the longest text it was sized for, and never shrinks
// below design.
struct Column {
    const char* caption;
    int width;
    const char* widest = "";
};

// A single-selection, read-only report list of model filling page.
QTableView* makeListView(QWidget* page, const char* name, QAbstractItemModel* model,
                         std::initializer_list<Column> columns);
// A navy value label with its hint.
QLabel* makeValueLabel(QWidget* parent, const char* name, const char* hint);

} // namespace corvane
