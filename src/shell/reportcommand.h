// `corvane --report [FILE]`: one full refresh without a window, the report written out.
#pragma once

namespace corvane {

// target: a file name, or "-" / nullptr for standard output; json: the report as data. 0 on
// success; otherwise the reason went to standard error.
int runReportCommand(int argc, char* argv[], const char* target, bool json = false);

} // namespace corvane
