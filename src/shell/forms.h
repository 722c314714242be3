// The program's windows: one global instance each, created at start-up and kept for the life
// of the process (frmSetup is declared with its class in frmsetup.h).
#pragma once

namespace corvane {

class TfrmMain;
class TfrmAbout;

extern TfrmMain* frmMain;
extern TfrmAbout* frmAbout;

} // namespace corvane
