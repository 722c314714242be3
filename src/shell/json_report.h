// The report as data: everything one read of the platform finds, unfiltered, as a JSON text
// that dist/report.schema.json describes. No widgets: the command line writes it.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace corvane {

// Raised whenever a change could break a consumer: a key removed or renamed, a type changed.
inline constexpr int jsonReportSchemaVersion = 1;

// An instant as ISO 8601 in local time with its offset: 2026-12-10T07:52:02+01:00.
std::string isoTime(std::time_t when);

// Reads host, adapters, interfaces, routes of every table, policy rules, connections of both
// families, IP statistics and the persistent route store, and writes them as one JSON object,
// handed to put in pieces as it is made. A part whose read failed is null or empty there;
// the failure has been reported. version: the program's version text for the "generator"
// member.
void writeJsonReport(const std::function<void(std::string_view)>& put, const char* version);

} // namespace corvane
