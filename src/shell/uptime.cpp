#include "shell/uptime.h"

#include <ctime>

namespace corvane {

uint32_t GetTickCount() {
    timespec ts{};
    if (::clock_gettime(CLOCK_BOOTTIME, &ts) != 0)
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

QString FormatUptime(uint32_t tick) {
    const uint32_t days = tick / 86400000u;
    const uint32_t hours = tick % 86400000u / 3600000u;
    const uint32_t minutes = tick % 3600000u / 60000u;
    const uint32_t seconds = tick % 60000u / 1000u;
    return QStringLiteral("%1 days %2 hours %3 mins %4sec.")
        .arg(days)
        .arg(hours)
        .arg(minutes)
        .arg(seconds);
}

} // namespace corvane
