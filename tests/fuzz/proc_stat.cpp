// /proc/PID/stat, as the process snapshot and the DHCP client check read it.
#include "dhcp/process.h"
#include "fuzz_support.h"
#include "proc_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        const std::string_view text = corvane::fuzz::text(data, size);
        corvane::sys::ProcessInfo info;
        if (corvane::sys::parseProcStat(text, info))
            FUZZ_CHECK(info.exeName.size() + 2 <= text.size());
        corvane::sys::dhcp::parseStartTime(text);
    });
}
