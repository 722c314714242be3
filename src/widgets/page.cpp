#include "widgets/page.h"

#include "session/options.h"
#include "widgets/columnwidth.h"
#include "widgets/fixedcolours.h"
#include "widgets/hints.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QTableView>
#include <QVBoxLayout>

namespace corvane {

Page::Page(const PageContext& context, const char* name, int helpContext, QWidget* parent)
    : QWidget(parent), options_(context.options), refresh_(context.refresh),
      actions_(context.actions), images_(context.images), helpContext_(helpContext) {
    setObjectName(QString::fromLatin1(name));
    setProperty("helpContext", helpContext);
}

const Options& Page::options() const {
    return options_.value();
}

void Page::bindRuntimeToggle(QMenu* menu, const char* itemName, bool RuntimeOptions::*option,
                             std::function<void()> after) {
    QAction* item = nullptr;
    for (QAction* a : menu->actions())
        if (a->objectName() == QLatin1String(itemName))
            item = a;
    if (!item)
        return;
    connect(menu, &QMenu::aboutToShow, item,
            [this, item, option] { item->setChecked(options().run.*option); });
    connect(item, &QAction::triggered, this, [this, option, after = std::move(after)] {
        options_.change([option](Options& o) { o.run.*option = !(o.run.*option); });
        if (after)
            after();
        else
            emit refreshRequested();
    });
}

QTableView* makeListView(QWidget* page, const char* name, QAbstractItemModel* model,
                         std::initializer_list<Column> columns) {
    int i = 0;
    for (const Column& c : columns)
        model->setHeaderData(i++, Qt::Horizontal, QString::fromUtf8(c.caption));
    auto* view = new QTableView(page);
    view->setObjectName(QString::fromLatin1(name));
    view->setModel(model);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setShowGrid(true);
    view->setWordWrap(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setSectionsClickable(false);
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    i = 0;
    for (const Column& c : columns)
        view->setColumnWidth(i++, fittedColumnWidth(*view, c.width, QString::fromUtf8(c.caption),
                                                    QString::fromUtf8(c.widest)));
    applyHint(view, popupHint);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    return view;
}

QLabel* makeValueLabel(QWidget* parent, const char* name, const char* hint) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    keepFixedTextColour(label, QPalette::WindowText, QPalette::Window, QColor(0, 0, 128));
    applyHint(label, QString::fromUtf8(hint));
    return label;
}

} // namespace corvane
