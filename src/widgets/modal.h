// Every modal dialog of the program is shown through here, so tests can answer in its place.
#pragma once

#include <functional>

class QDialog;

namespace corvane {

// Shows a dialog modally and returns its result; under CORVANE_NO_MODAL the real one aborts.
int runModal(QDialog& dialog);
using ModalRunner = std::function<int(QDialog&)>;
// Replaces the runner; an empty one restores the real one.
void setModalRunner(ModalRunner runner);

} // namespace corvane
