// What the program was asked to do on its command line.
#pragma once

#include <string>

namespace corvane {

struct CommandLine {
    enum class Action { Window, Report, RestoreRoutes, KeepRoutes, Help, Version, Usage };
    Action action = Action::Window;
    const char* reportTarget = nullptr; // Report: FILE; nullptr or "-" for standard output
    bool json = false;                  // Report: as data rather than text
    std::string error;                  // Usage: what was wrong, for the user
};

// Any argument it does not know makes a usage error rather than being ignored: a mistyped
// option must not open a window or write a report nobody asked for.
CommandLine parseCommandLine(int argc, char* argv[]);

// The options, for --help on standard output and after a usage error on standard error.
const char* usageText();

} // namespace corvane
