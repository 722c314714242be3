#include "widgets/modal.h"

#include <QDialog>
#include <cstdio>
#include <cstdlib>

namespace corvane {

namespace {

ModalRunner& runnerSlot() {
    static ModalRunner runner;
    return runner;
}

} // namespace

int runModal(QDialog& dialog) {
    if (const ModalRunner& runner = runnerSlot())
        return runner(dialog);
    // A test that gets here would wait for ever on a window nobody closes.
    if (std::getenv("CORVANE_NO_MODAL")) {
        std::fprintf(stderr, "modal dialog opened under test: %s\n",
                     qUtf8Printable(dialog.objectName()));
        std::abort();
    }
    return dialog.exec();
}

void setModalRunner(ModalRunner runner) {
    runnerSlot() = std::move(runner);
}

} // namespace corvane
