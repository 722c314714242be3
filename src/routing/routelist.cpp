#include "routing/routelist.h"

#include "platform/systemtext.h"
#include "registry/atomicfile.h"
#include "values/csv.h"
#include "values/ip.h"

#include <QFile>
#include <exception>

namespace corvane {
namespace {

bool strippable(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7F;
}

std::string_view stripped(std::string_view s) {
    while (!s.empty() && strippable(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && strippable(s.back()))
        s.remove_suffix(1);
    return s;
}

// line still carries its LF (none on a last line without one). The splitter sees it too: a
// blank before it counts as a field end, so "net mask \n" fails while a last line
// "net mask " passes, as the field rule has it.
void readLine(std::string_view line, int number, RouteList& out) {
    // A CR before the LF needs no care of its own: it is no separator, so it counts as the LF
    // does, and the mask sheds it with the LF.
    const Csv fields(line, ' ');
    if (fields.count() != 2)
        return;
    const std::string_view networkText = fields.field(1);
    const std::string_view maskText = stripped(fields.field(2));
    const ip network(networkText);
    if (!network.valid() || !ip(maskText).valid())
        return;
    if (network.value() == 0) {
        out.refused.push_back({number, systemText(networkText), systemText(maskText)});
        return;
    }
    out.routes.push_back({systemText(networkText), systemText(maskText), number});
}

} // namespace

RouteList parseRouteList(std::string_view text) {
    RouteList out;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line =
            end == std::string_view::npos ? text : text.substr(0, end + 1);
        text.remove_prefix(line.size());
        readLine(line, ++number, out);
    }
    return out;
}

QString defaultRouteMessage(const RouteListRefusal& refusal) {
    return QStringLiteral("Default routes are not allowed. Ignoring routing entry in line %1 "
                          "(%2 %3).")
        .arg(QString::number(refusal.line), printable(refusal.network), printable(refusal.mask));
}

std::optional<RouteList> readRouteListFile(const QString& path) {
    try {
        const auto file = reg::readWholeFile(QFile::encodeName(path).toStdString(),
                                             kRouteListFileLimit, reg::Links::Follow);
        if (!file)
            return std::nullopt;
        return parseRouteList(file->text);
    } catch (const std::exception&) {
        // Not there, not a regular file, too large, unreadable, or no memory for it: the
        // caller says it could not open the file.
        return std::nullopt;
    }
}

} // namespace corvane
