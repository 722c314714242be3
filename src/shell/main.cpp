// Program entry: the command line, then the commands, or the window from its own library.
#include "platform/installpaths.h"
#include "platform/systemtext.h"
#include "routing/keeper.h"
#include "routing/restore.h"
#include "shell/commandline.h"
#include "shell/heap.h"
#include "shell/pluginpaths.h"
#include "shell/reportcommand.h"
#include "shell/windowmain.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

bool displayAvailable() {
    const char* qpa = std::getenv("QT_QPA_PLATFORM");
    if (qpa && *qpa)
        return true;
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

// Loaded from the program's own folders only: never from a search path someone else controls.
int runWindow(int argc, char* argv[]) {
    const std::string refusal = corvane::windowRefusal(corvane::executableDir(), ::geteuid());
    if (!refusal.empty()) {
        std::fprintf(stderr,
                     "corvane: will not open the window as root: %s, and a library or qt.conf "
                     "put beside the program would run with root's rights; `corvane --report "
                     "[FILE]` still works\n",
                     corvane::systemText(refusal).toLocal8Bit().constData());
        return 1;
    }
    const std::string path = corvane::privateLibrary(windowLibraryName);
    if (path.empty()) {
        std::fprintf(stderr, "corvane: cannot load the window: its folder can be written by "
                             "others than its owner\n");
        return 1;
    }
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "corvane: cannot load the window: %s\n", ::dlerror());
        return 1;
    }
    using Entry = int (*)(int, char**) noexcept;
    auto* entry = reinterpret_cast<Entry>(::dlsym(library, windowEntryName));
    if (!entry) {
        std::fprintf(stderr, "corvane: %s has no window entry\n", path.c_str());
        return 1;
    }
    // Left loaded: Qt's exit handlers still run code of the library.
    return entry(argc, argv);
}

} // namespace

int main(int argc, char* argv[]) {
    using Action = corvane::CommandLine::Action;
    const corvane::CommandLine command = corvane::parseCommandLine(argc, argv);
    // The heap kept for the next refresh serves the window; a report refreshes once, and
    // huge pages would only make each table it touches resident in 2 MiB steps.
    if (command.action != Action::Report)
        corvane::prepareHeapForLargeTables();
    switch (command.action) {
    case Action::Usage:
        std::fprintf(stderr, "corvane: %s\n%s", command.error.c_str(), corvane::usageText());
        return 2;
    case Action::Help:
        std::fputs(corvane::usageText(), stdout);
        return 0;
    case Action::Version:
        std::printf("corvane %s\n", CORVANE_VERSION);
        return 0;
    default:
        break;
    }
    // The commands below start Qt, and root's Qt must not search folders another user chose.
    for (const std::string& line : corvane::dropUntrustedPluginPaths())
        std::fprintf(stderr, "corvane: %s\n", line.c_str());
    switch (command.action) {
    case Action::RestoreRoutes:
        // Neither needs a display nor shows a window: boot units and scripts run them.
        return corvane::restorePersistentRoutes(std::cout);
    case Action::KeepRoutes:
        return corvane::keepPersistentRoutes(std::cerr);
    case Action::Report:
        return corvane::runReportCommand(argc, argv, command.reportTarget, command.json);
    default:
        break;
    }
    if (!displayAvailable())
        return corvane::runReportCommand(argc, argv, nullptr);
    return runWindow(argc, argv);
}
