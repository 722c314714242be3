#include "ip_counters.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace corvane::sys {
namespace {

struct Column {
    std::string_view name;
    DWORD MIB_IPSTATS::*field;
};

constexpr Column kColumns[] = {
    {"Forwarding", &MIB_IPSTATS::dwForwarding},
    {"DefaultTTL", &MIB_IPSTATS::dwDefaultTTL},
    {"InReceives", &MIB_IPSTATS::dwInReceives},
    {"InHdrErrors", &MIB_IPSTATS::dwInHdrErrors},
    {"InAddrErrors", &MIB_IPSTATS::dwInAddrErrors},
    {"ForwDatagrams", &MIB_IPSTATS::dwForwDatagrams},
    {"InUnknownProtos", &MIB_IPSTATS::dwInUnknownProtos},
    {"InDiscards", &MIB_IPSTATS::dwInDiscards},
    {"InDelivers", &MIB_IPSTATS::dwInDelivers},
    {"OutRequests", &MIB_IPSTATS::dwOutRequests},
    {"OutDiscards", &MIB_IPSTATS::dwOutDiscards},
    {"OutNoRoutes", &MIB_IPSTATS::dwOutNoRoutes},
    {"ReasmTimeout", &MIB_IPSTATS::dwReasmTimeout},
    {"ReasmReqds", &MIB_IPSTATS::dwReasmReqds},
    {"ReasmOKs", &MIB_IPSTATS::dwReasmOks},
    {"ReasmFails", &MIB_IPSTATS::dwReasmFails},
    {"FragOKs", &MIB_IPSTATS::dwFragOks},
    {"FragFails", &MIB_IPSTATS::dwFragFails},
    {"FragCreates", &MIB_IPSTATS::dwFragCreates},
};

// Next blank-separated word of line, advancing it; empty at the end.
std::string_view word(std::string_view& line) {
    const size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        line = {};
        return {};
    }
    line.remove_prefix(start);
    const size_t end = std::min(line.find(' '), line.size());
    const std::string_view w = line.substr(0, end);
    line.remove_prefix(end);
    return w;
}

} // namespace

bool parseIpCounters(std::string_view snmp, MIB_IPSTATS& stats) {
    constexpr std::string_view kPrefix = "Ip:";
    std::string_view header;
    std::string_view values;
    bool found = false;
    while (!snmp.empty() && !found) {
        const size_t eol = std::min(snmp.find('\n'), snmp.size());
        const std::string_view line = snmp.substr(0, eol);
        snmp.remove_prefix(std::min(eol + 1, snmp.size()));
        if (line.substr(0, kPrefix.size()) != kPrefix)
            continue;
        if (header.data() == nullptr) {
            header = line.substr(kPrefix.size());
        } else {
            values = line.substr(kPrefix.size());
            found = true;
        }
    }
    if (!found)
        return false;
    for (;;) {
        const std::string_view name = word(header);
        const std::string_view value = word(values);
        if (name.empty() || value.empty())
            break;
        uint64_t v = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
        if (ec != std::errc() || end != value.data() + value.size())
            return false;
        for (const Column& c : kColumns)
            if (c.name == name)
                stats.*c.field = static_cast<DWORD>(v);
    }
    return true;
}

} // namespace corvane::sys
