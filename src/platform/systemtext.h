// Names that come from the system (processes, interfaces, hosts, connections) are chosen by
// whoever made them: an executable can be called "ESC[2J" or hold a newline. Turned into
// text they are made harmless to a terminal, a report row and the screen.
#pragma once

#include <QString>
#include <cstring>
#include <string_view>

namespace corvane {

// Control characters (C0, DEL, C1) and the bidirectional overrides that reorder what follows
// them become "?", as ls shows them.
QString printable(QString text);

// Bytes from the system, read as UTF-8 (what the libraries write), made printable.
QString systemText(std::string_view bytes);

// A fixed platform field that need not be terminated.
template <std::size_t N> QString systemText(const char (&field)[N]) {
    return systemText(std::string_view(field, strnlen(field, N)));
}

} // namespace corvane
