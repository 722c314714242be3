// Route list files: one destination network per line, the network address, one blank and the
// mask. Every other line (a remark, a blank line) is passed over; a default route is refused
// with a message of its own. Shared by the add-from-list and delete-by-list dialogs.
#pragma once

#include <QString>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace corvane {

struct ListRoute {
    QString network; // exactly as written, leading zeros and host bits kept
    QString mask;    // without the blanks and control characters around it
    int line = 0;    // 1-based: with the refusals' lines it gives the file order of both
};

// A default-route line: its 1-based number and its two texts.
struct RouteListRefusal {
    int line;
    QString network;
    QString mask;
};

// Both in file order.
struct RouteList {
    std::vector<ListRoute> routes;
    std::vector<RouteListRefusal> refused;
};

// A list of 100,000 routes is about 3 MB; anything far beyond that is no route list.
inline constexpr std::size_t kRouteListFileLimit = std::size_t{16} << 20;

// The text of a whole file, lines ending in LF or CR LF. A line is taken whole however long
// it is. Throws nothing but std::bad_alloc.
RouteList parseRouteList(std::string_view text);

// "Default routes are not allowed. Ignoring routing entry in line %i (%s %s)."
QString defaultRouteMessage(const RouteListRefusal& refusal);

// The regular file at path (a link to one is followed: the user picked it), at most
// kRouteListFileLimit bytes; nothing when it cannot be opened or read, or is anything else.
// Throws nothing.
std::optional<RouteList> readRouteListFile(const QString& path);

} // namespace corvane
