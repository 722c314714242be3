// The computer's uptime for the Host Info page.
#pragma once

#include <QString>
#include <cstdint>

namespace corvane {

// Milliseconds since the system started, kept to 32 bits (wraps after about 49.7 days),
// counting time spent suspended as the system's own uptime does.
uint32_t GetTickCount();

// "d days h hours m mins ssec." for a tick count in milliseconds.
QString FormatUptime(uint32_t tick);
inline QString FormatUptime() {
    return FormatUptime(GetTickCount());
}

} // namespace corvane
