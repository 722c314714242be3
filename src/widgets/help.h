// The help file in the program's folder, opened at a topic by context number.
#pragma once

#include <QString>

class QWidget;

namespace corvane {

// Shows the help viewer window at the topic of the context number. A context without a topic
// opens the contents; a missing help file is reported in a message box.
void showHelp(int context, QWidget* parent = nullptr);

// "zorvent.hlp" beside the executable or in the installed data folder; CORVANE_HELP_FILE
// overrides it.
QString helpFilePath();

} // namespace corvane
