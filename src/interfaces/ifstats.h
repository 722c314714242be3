// The interface statistics window's rules as plain functions: its caption, the per-second
// rate of a 32-bit counter and the meters.
#pragma once

#include <QString>
#include <cstdint>

namespace corvane {

// "<description> (Index: 0x2)", the description cut to 34 characters and "..." when it is
// longer than 35.
QString ifStatsCaption(const QString& description, const QString& indexText);

// The counter's growth between two marks taken elapsedNs apart, scaled to one second. The
// counter is 32 bits wide and may have wrapped once; an exact second gives the plain
// difference. elapsedNs of 0 or less counts as one second.
std::uint32_t octetRate(std::uint32_t previous, std::uint32_t now, std::int64_t elapsedNs);

inline constexpr int meterMaximum = 50;
inline constexpr std::uint32_t meterRedAbove = 6'250'000; // 50 to the fourth power

// The whole part of the rate's fourth root, at most the meter's full scale.
int meterPosition(std::uint32_t rate);
// Whether the bar shows red: above the threshold; blue again at or below it.
inline bool meterRed(std::uint32_t rate) {
    return rate > meterRedAbove;
}

} // namespace corvane
