#include "shell/forms.h"

namespace corvane {

TfrmMain* frmMain = nullptr;
TfrmAbout* frmAbout = nullptr;

} // namespace corvane
