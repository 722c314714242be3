#include "widgets/help.h"

#include "platform/installpaths.h"
#include "platform/prompter.h"
#include "widgets/helpviewer.h"

#include <QApplication>
#include <QDir>
#include <QPointer>

namespace corvane {
namespace {

QPointer<HelpViewer>& viewerSlot() {
    static QPointer<HelpViewer> viewer;
    return viewer;
}

// The viewer belongs to the outermost window, so it goes when the program's main window goes,
// whichever dialog asked for it.
QWidget* ownerFor(QWidget* parent) {
    QWidget* w = parent ? parent->window() : nullptr;
    while (w && w->parentWidget())
        w = w->parentWidget()->window();
    return w;
}

} // namespace

QString helpFilePath() {
    const QByteArray over = qgetenv("CORVANE_HELP_FILE");
    if (!over.isEmpty())
        return QString::fromLocal8Bit(over);
    return QString::fromStdString(dataFile("zorvent.hlp"));
}

HelpViewer* helpViewer() {
    return viewerSlot().data();
}

void showHelp(int context, QWidget* parent) {
    QPointer<HelpViewer>& viewer = viewerSlot();
    // A modal dialog blocks every window but its own: over one, the viewer belongs to it.
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner)
        owner = ownerFor(parent);
    if (!viewer) {
        viewer = new HelpViewer(owner);
    } else if (viewer->parentWidget() != owner) {
        const QRect where = viewer->geometry();
        viewer->setParent(owner, viewer->windowFlags());
        viewer->setGeometry(where);
    }
    const QString path = helpFilePath();
    if (!viewer->load(path)) {
        showMessage(QStringLiteral("Cannot open the help file %1: %2.")
                        .arg(QDir::toNativeSeparators(path), viewer->errorText()),
                    QStringLiteral("Corvane Help"), MsgIcon::Error);
        return;
    }
    viewer->showTopic(context);
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
}

} // namespace corvane
