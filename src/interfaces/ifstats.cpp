#include "interfaces/ifstats.h"

#include <algorithm>
#include <cmath>

namespace corvane {

QString ifStatsCaption(const QString& description, const QString& indexText) {
    const QString name =
        description.size() > 35 ? description.left(34) + QStringLiteral("...") : description;
    return name + QStringLiteral(" (Index: ") + indexText + QLatin1Char(')');
}

std::uint32_t octetRate(std::uint32_t previous, std::uint32_t now, std::int64_t elapsedNs) {
    const std::uint32_t growth = now - previous; // unsigned: a wrapped counter still counts
    constexpr std::int64_t second = 1'000'000'000;
    if (elapsedNs <= 0 || elapsedNs == second)
        return growth;
    const double perSecond = static_cast<double>(growth) * second / static_cast<double>(elapsedNs);
    return static_cast<std::uint32_t>(std::min(perSecond, 4294967295.0));
}

int meterPosition(std::uint32_t rate) {
    // Exact for the thresholds that matter: 16 gives 2, 15 gives 1.
    int position = static_cast<int>(std::sqrt(std::sqrt(static_cast<double>(rate))));
    const auto fourth = [](std::uint64_t p) { return p * p * p * p; };
    while (position > 0 && fourth(static_cast<std::uint64_t>(position)) > rate)
        --position;
    while (fourth(static_cast<std::uint64_t>(position) + 1) <= rate)
        ++position;
    return std::min(position, meterMaximum);
}

} // namespace corvane
