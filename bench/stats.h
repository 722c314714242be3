// Arithmetic the bench programs share: medians, CPU time from /proc/PID/stat, and the longest
// silence of a ticking timer.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace corvane::bench {

// The middle value, or the mean of the two middle ones; 0 for no values.
double median(std::vector<double> values);

// utime + stime in clock ticks from the text of /proc/PID/stat; nothing when it does not
// parse. The command name may hold spaces and parentheses, so fields count from the last ')'.
std::optional<unsigned long long> cpuTicks(std::string_view stat);

// Share of one core, in percent, that `ticks` clock ticks make of `wallSeconds`.
double percentOfCore(unsigned long long ticks, long ticksPerSecond, double wallSeconds);

// This process's resident size in KB from /proc/self/statm; 0 when it cannot be read.
long residentKb();
// Minor page faults of this process so far.
long minorFaults();

// Longest time between two consecutive ticks; the first tick only starts the watch.
class GapWatch {
public:
    void tick(double nowMs);
    double longestMs() const { return longest_; }

private:
    std::optional<double> last_;
    double longest_ = 0;
};

} // namespace corvane::bench
