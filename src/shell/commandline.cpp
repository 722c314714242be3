#include "shell/commandline.h"

#include <cstring>

namespace corvane {

CommandLine parseCommandLine(int argc, char* argv[]) {
    CommandLine line;
    bool help = false, version = false, report = false, restore = false, keep = false;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            help = true;
        } else if (std::strcmp(arg, "--version") == 0) {
            version = true;
        } else if (std::strcmp(arg, "-a") == 0) {
            // Started at log-in: the window reads it.
        } else if (std::strcmp(arg, "--restore-persistent-routes") == 0) {
            restore = true;
        } else if (std::strcmp(arg, "--keep-persistent-routes") == 0) {
            keep = true;
        } else if (std::strcmp(arg, "--json") == 0) {
            json = true;
        } else if (std::strcmp(arg, "--report") == 0) {
            report = true;
            // The next argument is the file unless it is an option; "-" is standard output.
            if (i + 1 < argc && (argv[i + 1][0] != '-' || std::strcmp(argv[i + 1], "-") == 0))
                line.reportTarget = argv[++i];
        } else {
            line.action = CommandLine::Action::Usage;
            line.error = std::string(arg[0] == '-' ? "unknown option " : "unexpected argument ") +
                         "'" + arg + "'";
            return line;
        }
    }
    if (report + restore + keep > 1) {
        line.action = CommandLine::Action::Usage;
        line.error = "--report, --restore-persistent-routes and --keep-persistent-routes "
                     "exclude each other";
    } else if (json && !report) {
        line.action = CommandLine::Action::Usage;
        line.error = "--json is an option of --report";
    } else if (help) {
        line.action = CommandLine::Action::Help;
    } else if (version) {
        line.action = CommandLine::Action::Version;
    } else if (restore) {
        line.action = CommandLine::Action::RestoreRoutes;
    } else if (keep) {
        line.action = CommandLine::Action::KeepRoutes;
    } else if (report) {
        line.action = CommandLine::Action::Report;
        line.json = json;
    }
    return line;
}

const char* usageText() {
    return "Usage: corvane [-a]\n"
           "       corvane --report [FILE] [--json]\n"
           "       corvane --restore-persistent-routes\n"
           "       corvane --keep-persistent-routes\n"
           "\n"
           "  -a                            started automatically at log-in (may start in the\n"
           "                                notification area)\n"
           "  --report [FILE]               refresh once without a window and write the status\n"
           "                                report to FILE, or to standard output when FILE is\n"
           "                                \"-\" or absent\n"
           "  --json                        write the report as JSON (everything, unfiltered;\n"
           "                                described by report.schema.json)\n"
           "  --restore-persistent-routes   re-apply the stored persistent routes and exit\n"
           "  --keep-persistent-routes      re-apply them, then put back each one that goes\n"
           "                                missing, until stopped\n"
           "  -h, --help                    show this help\n"
           "  --version                     show the version\n"
           "\n"
           "Without a display, corvane writes the status report to standard output.\n";
}

} // namespace corvane
