#include "widgets/helpviewer.h"

#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace corvane {

HelpViewer::HelpViewer(QWidget* parent)
    : QWidget(parent, Qt::Window), browser_(new QTextBrowser(this)) {
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowTitle(QStringLiteral("Corvane Help"));
    // Help must never keep the program alive once the main window has gone.
    setAttribute(Qt::WA_QuitOnClose, false);
    browser_->setOpenExternalLinks(false);
    browser_->setOpenLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
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
    html_ = QString::fromUtf8(file.readAll());
    path_ = path;
    error_.clear();
    browser_->setHtml(html_);
    return true;
}

bool HelpViewer::hasTopic(int context) const {
    return html_.contains(QStringLiteral("<a name=\"%1\"").arg(context));
}

void HelpViewer::showTopic(int context) {
    context_ = hasTopic(context) ? context : 0;
    // The contents sit at the top of the file.
    if (context_ == 0)
        browser_->scrollToAnchor(QStringLiteral("contents"));
    else
        browser_->scrollToAnchor(QString::number(context_));
}

} // namespace corvane
