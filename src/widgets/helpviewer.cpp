#include "widgets/helpviewer.h"

#include <QAction>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

namespace corvane {
namespace {

// The installed file is some 16 KiB; CORVANE_HELP_FILE may name anything.
constexpr qint64 maxHelpFileBytes = qint64{4} * 1024 * 1024;
// Past this many matches, highlighting more only slows typing down.
constexpr int maxHighlights = 2000;

QString anchorOf(int context) {
    return context == 0 ? QStringLiteral("contents") : QString::number(context);
}

QToolButton* barButton(QWidget* parent, QAction* action) {
    auto* button = new QToolButton(parent);
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    return button;
}

} // namespace

HelpViewer::HelpViewer(QWidget* parent)
    : QWidget(parent, Qt::Window), browser_(new QTextBrowser(this)) {
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowTitle(QStringLiteral("Corvane Help"));
    // Help must never keep the program alive once the main window has gone.
    setAttribute(Qt::WA_QuitOnClose, false);
    browser_->setOpenExternalLinks(false);
    browser_->setOpenLinks(true);

    back_ = new QAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("Back"), this);
    back_->setObjectName(QStringLiteral("helpBack"));
    back_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
    back_->setToolTip(QStringLiteral("Back (Alt+Left)"));
    back_->setEnabled(false);
    forward_ = new QAction(style()->standardIcon(QStyle::SP_ArrowForward),
                           QStringLiteral("Forward"), this);
    forward_->setObjectName(QStringLiteral("helpForward"));
    forward_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Right));
    forward_->setToolTip(QStringLiteral("Forward (Alt+Right)"));
    forward_->setEnabled(false);
    // On the window, so the keys work from the find field too.
    addAction(back_);
    addAction(forward_);
    connect(back_, &QAction::triggered, browser_, &QTextBrowser::backward);
    connect(forward_, &QAction::triggered, browser_, &QTextBrowser::forward);
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::sourceChanged, this, [this](const QUrl& url) {
        bool number = false;
        const int context = url.fragment().toInt(&number);
        context_ = number ? context : 0;
    });

    find_ = new QLineEdit(this);
    find_->setObjectName(QStringLiteral("helpFind"));
    find_->setPlaceholderText(QStringLiteral("Find (Ctrl+F)"));
    find_->setClearButtonEnabled(true);
    find_->setMaximumWidth(find_->fontMetrics().averageCharWidth() * 32);
    findState_ = new QLabel(this);
    auto* findKey = new QAction(this);
    findKey->setShortcut(QKeySequence::Find);
    addAction(findKey);
    connect(findKey, &QAction::triggered, this, [this] {
        find_->setFocus(Qt::ShortcutFocusReason);
        find_->selectAll();
    });
    // Typing keeps the match under the cursor while it still fits; Enter moves on.
    connect(find_, &QLineEdit::textEdited, this,
            [this] { findFrom(searchStart(browser_->textCursor().selectionStart())); });
    connect(find_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.isEmpty())
            findFrom(0);
    });
    connect(find_, &QLineEdit::returnPressed, this, &HelpViewer::findNext);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(4, 2, 4, 2);
    bar->addWidget(barButton(this, back_));
    bar->addWidget(barButton(this, forward_));
    bar->addStretch(1);
    bar->addWidget(findState_);
    bar->addWidget(find_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(bar);
    layout->addWidget(browser_);
    resize(620, 520);
}

bool HelpViewer::load(const QString& path) {
    if (path == path_ && !html_.isEmpty())
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error_ = file.errorString();
        return false;
    }
    const QByteArray bytes = file.read(maxHelpFileBytes + 1);
    if (bytes.size() > maxHelpFileBytes) {
        error_ = QStringLiteral("the file is larger than %1 bytes").arg(maxHelpFileBytes);
        return false;
    }
    html_ = QString::fromUtf8(bytes);
    path_ = path;
    error_.clear();
    browser_->clearHistory();
    browser_->setHtml(html_);
    return true;
}

bool HelpViewer::hasTopic(int context) const {
    return html_.contains(QStringLiteral("<a name=\"%1\"").arg(context));
}

void HelpViewer::showTopic(int context) {
    const int shown = hasTopic(context) ? context : 0;
    // Through the browser's history, so Back returns to the topic shown before.
    browser_->setSource(QUrl(QLatin1Char('#') + anchorOf(shown)));
    context_ = shown;
}

bool HelpViewer::findNext() {
    return findFrom(searchStart(browser_->textCursor().selectionEnd()));
}

int HelpViewer::searchStart(int position) const {
    // After a jump to a topic or a scroll the last match is out of sight: go on from the text
    // the reader sees.
    QTextCursor at = browser_->textCursor();
    at.setPosition(position);
    if (browser_->viewport()->rect().intersects(browser_->cursorRect(at)))
        return position;
    return browser_->cursorForPosition(QPoint(0, 0)).position();
}

bool HelpViewer::findFrom(int position) {
    highlightMatches();
    const QString text = find_->text();
    findState_->clear();
    if (text.isEmpty()) {
        QTextCursor none = browser_->textCursor();
        none.clearSelection();
        browser_->setTextCursor(none);
        return false;
    }
    const QTextDocument* doc = browser_->document();
    QTextCursor hit = doc->find(text, position);
    if (hit.isNull())
        hit = doc->find(text, 0);
    if (hit.isNull()) {
        findState_->setText(QStringLiteral("Not found"));
        return false;
    }
    browser_->setTextCursor(hit);
    browser_->ensureCursorVisible();
    return true;
}

void HelpViewer::highlightMatches() {
    QList<QTextEdit::ExtraSelection> marks;
    const QString text = find_->text();
    if (!text.isEmpty()) {
        QTextCharFormat mark;
        // A marker's yellow with black text reads alike in light and dark palettes.
        mark.setBackground(QColor(255, 230, 80));
        mark.setForeground(Qt::black);
        QTextCursor at = browser_->document()->find(text, 0);
        while (!at.isNull() && marks.size() < maxHighlights) {
            marks.append({at, mark});
            at = browser_->document()->find(text, at);
        }
    }
    browser_->setExtraSelections(marks);
}

} // namespace corvane
