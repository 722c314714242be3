// The helper's journal (stderr under systemd). Whatever a caller sent reaches it through
// printable() alone, so a name cannot start a line of its own or pass for the helper's words;
// and refusals, which anyone can cause, are counted per uid so a flood cannot fill it.
#pragma once

#include "corvane_types.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>

namespace corvane::helper {

// A caller's text made safe for a log line or an authentication agent: control characters
// (C0, DEL, C1), backslashes, invisible reordering marks and bytes that are not UTF-8 become
// \xNN, byte by byte; at most shown bytes of the text are looked at, "..." marks the cut.
inline constexpr std::size_t kShownBytes = 80;
std::string printable(std::string_view text, std::size_t shown = kShownBytes);

// At most kRefusalLines refusal lines per uid in each window; the first one past that says
// that more are suppressed, and the next window starts by counting them.
class RefusalLimit {
public:
    static constexpr unsigned kRefusalLines = 20;
    static constexpr uint64_t kWindowUsec = 10ULL * 1000 * 1000;
    static constexpr std::size_t kTrackedUids = 1024;

    enum class Say { Line, Suppressed, Nothing };
    // What to write for a refusal of uid's at now (monotonic, µs); *suppressedBefore, when
    // not zero, is how many went unwritten in uid's window before this one.
    Say refusal(uid_t uid, uint64_t now, unsigned* suppressedBefore);
    std::size_t tracked() const { return windows_.size(); }

private:
    struct Window {
        uint64_t start = 0;
        unsigned written = 0;
        unsigned suppressed = 0;
    };
    std::unordered_map<uid_t, Window> windows_;
};

// A line for the journal; what is built of fixed words, numbers and printable() text.
void logChange(uid_t uid, const std::string& what, DWORD result);
void logRefusal(uid_t uid, const std::string& what, const char* why, DWORD result);
void logFault(const std::string& line);

} // namespace corvane::helper
