#include "stats.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace corvane::bench {

long residentKb() {
    std::FILE* f = std::fopen("/proc/self/statm", "re");
    if (!f)
        return 0;
    long pages = 0;
    long resident = 0;
    const bool read = std::fscanf(f, "%ld %ld", &pages, &resident) == 2;
    std::fclose(f);
    return read ? resident * (::sysconf(_SC_PAGESIZE) / 1024) : 0;
}

long minorFaults() {
    rusage usage{};
    return ::getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_minflt : 0;
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    const std::size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid),
                     values.end());
    const double upper = values[mid];
    if (values.size() % 2 == 1)
        return upper;
    const double lower =
        *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid));
    return (lower + upper) / 2;
}

std::optional<unsigned long long> cpuTicks(std::string_view stat) {
    const std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    // After the name: state is field 3, utime field 14, stime field 15.
    std::string_view rest = stat.substr(close + 1);
    unsigned long long sum = 0;
    for (int field = 3; field <= 15; ++field) {
        const std::size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos)
            return std::nullopt;
        rest.remove_prefix(start);
        const std::size_t end = std::min(rest.find(' '), rest.size());
        if (field >= 14) {
            unsigned long long v = 0;
            const auto [ptr, ec] = std::from_chars(rest.data(), rest.data() + end, v);
            if (ec != std::errc{} || ptr != rest.data() + end)
                return std::nullopt;
            sum += v;
        }
        rest.remove_prefix(end);
    }
    return sum;
}

double percentOfCore(unsigned long long ticks, long ticksPerSecond, double wallSeconds) {
    if (ticksPerSecond <= 0 || wallSeconds <= 0)
        return 0;
    return 100.0 * static_cast<double>(ticks) / static_cast<double>(ticksPerSecond) / wallSeconds;
}

void GapWatch::tick(double nowMs) {
    if (last_)
        longest_ = std::max(longest_, nowMs - *last_);
    last_ = nowMs;
}

} // namespace corvane::bench
