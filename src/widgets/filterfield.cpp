#include "widgets/filterfield.h"

#include "widgets/hints.h"

#include <QBoxLayout>
#include <QKeySequence>
#include <QLineEdit>
#include <QShortcut>

namespace corvane {

QLineEdit* makeFilterField(QWidget* page, const char* name) {
    auto* field = new QLineEdit(page);
    field->setObjectName(QString::fromLatin1(name));
    field->setPlaceholderText(QStringLiteral("Filter (Ctrl+F)"));
    field->setClearButtonEnabled(true);
    applyHint(field, QStringLiteral("Shows only the rows with a cell containing this text"));
    field->setMaximumWidth(field->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 32);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch(1);
    row->addWidget(field);
    if (auto* box = qobject_cast<QBoxLayout*>(page->layout()))
        box->insertLayout(0, row);

    auto* find = new QShortcut(QKeySequence::Find, page);
    find->setContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(find, &QShortcut::activated, field, [field] {
        field->setFocus(Qt::ShortcutFocusReason);
        field->selectAll();
    });
    // Only while there is something to clear: otherwise Escape stays the focused widget's.
    auto* clear = new QShortcut(QKeySequence(Qt::Key_Escape), page);
    clear->setContext(Qt::WidgetWithChildrenShortcut);
    clear->setEnabled(false);
    QObject::connect(clear, &QShortcut::activated, field, &QLineEdit::clear);
    QObject::connect(field, &QLineEdit::textChanged, clear,
                     [clear](const QString& text) { clear->setEnabled(!text.isEmpty()); });
    return field;
}

} // namespace corvane
