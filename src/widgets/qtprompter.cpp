#include "widgets/qtprompter.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

namespace corvane {
namespace {

// Tests set CORVANE_NO_MODAL: a real modal dialog there would wait for ever, so it is a fault
// of the test, reported at once.
void refuseModalInTests(const QString& what) {
    if (std::getenv("CORVANE_NO_MODAL")) {
        std::fprintf(stderr, "modal dialog opened under test: %s\n", qUtf8Printable(what));
        std::abort();
    }
}

QMessageBox::StandardButton toButton(MsgAnswer a) {
    switch (a) {
    case MsgAnswer::Ok:
        return QMessageBox::Ok;
    case MsgAnswer::Cancel:
        return QMessageBox::Cancel;
    case MsgAnswer::Yes:
        return QMessageBox::Yes;
    case MsgAnswer::No:
        return QMessageBox::No;
    }
    return QMessageBox::NoButton;
}

QMessageBox::StandardButtons toButtons(MsgButtons b) {
    switch (b) {
    case MsgButtons::Ok:
        return QMessageBox::Ok;
    case MsgButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MsgButtons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon toIcon(MsgIcon i) {
    switch (i) {
    case MsgIcon::None:
        return QMessageBox::NoIcon;
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Warning:
        return QMessageBox::Warning;
    case MsgIcon::Error:
        return QMessageBox::Critical;
    case MsgIcon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QString startPath(const FileRequest& r) {
    if (r.directory.isEmpty())
        return r.proposedName;
    return QDir(r.directory).filePath(r.proposedName);
}

std::optional<QString> chosen(const QString& name) {
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

} // namespace

MsgAnswer QtPrompter::message(const MessageRequest& request) {
    refuseModalInTests(request.text);
    QMessageBox box(toIcon(request.icon), request.caption, request.text, toButtons(request.buttons),
                    parent_);
    box.setDefaultButton(toButton(request.defaultAnswer));
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    case QMessageBox::Ok:
        return MsgAnswer::Ok;
    default:
        return request.buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Cancel;
    }
}

std::optional<QString> QtPrompter::openFileName(const FileRequest& request) {
    refuseModalInTests(request.caption);
    return chosen(QFileDialog::getOpenFileName(parent_, request.caption, startPath(request),
                                               request.filters.join(";;")));
}

std::optional<QString> QtPrompter::saveFileName(const FileRequest& request) {
    refuseModalInTests(request.caption);
    QFileDialog dialog(parent_, request.caption, startPath(request), request.filters.join(";;"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

} // namespace corvane
