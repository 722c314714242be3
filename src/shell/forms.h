// The program's windows: one global instance each, created at start-up and kept for the life
// of the process (frmSetup is declared with its class in frmsetup.h).
#pragma once

#include <functional>

class QDialog;

namespace corvane {

class TfrmMain;
class TfrmAbout;

extern TfrmMain* frmMain;
extern TfrmAbout* frmAbout;

// Shows a dialog modally and returns its result. Every modal dialog of the program goes
// through here so tests can answer in its place; under CORVANE_NO_MODAL the real one aborts.
int runModal(QDialog& dialog);
using ModalRunner = std::function<int(QDialog&)>;
// Replaces the runner; an empty one restores the real one.
void setModalRunner(ModalRunner runner);

} // namespace corvane
