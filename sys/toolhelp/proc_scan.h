// Reading the process list from a procfs tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::sys {

struct ProcessInfo {
    uint32_t pid = 0;
    uint32_t parentPid = 0;
    uint32_t threads = 0;
    std::string exeName; // file name of the executable, or the kernel's short name
};

// Parses the text of /proc/PID/stat; false when it is not one.
bool parseProcStat(std::string_view text, ProcessInfo& out);

// Every process under procRoot that can be read, in ascending pid order. Processes that
// vanish or deny access while being read are left out.
std::vector<ProcessInfo> scanProcesses(const std::string& procRoot);

} // namespace corvane::sys
