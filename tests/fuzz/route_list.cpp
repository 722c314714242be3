// Route list files as the user hands them over: any bytes at all.
#include "fuzz_support.h"
#include "routing/routelist.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        using namespace corvane;
        const std::string_view text = fuzz::text(data, size);
        const RouteList list = parseRouteList(text);
        const auto lines = static_cast<int>(std::count(text.begin(), text.end(), '\n') +
                                            (text.empty() || text.back() == '\n' ? 0 : 1));
        FUZZ_CHECK(static_cast<int>(list.routes.size() + list.refused.size()) <= lines);
        // Each row comes from a line of its own, in file order, and reads as dotted quads.
        int last = 0;
        for (const ListRoute& r : list.routes) {
            FUZZ_CHECK(r.line > last && r.line <= lines);
            last = r.line;
            FUZZ_CHECK(!r.network.isEmpty() && r.network.size() <= 15 && r.mask.size() <= 15);
            for (const QString& s : {r.network, r.mask})
                FUZZ_CHECK(std::all_of(s.begin(), s.end(), [](QChar c) {
                    return c == QLatin1Char('.') ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
                }));
        }
        last = 0;
        for (const RouteListRefusal& r : list.refused) {
            FUZZ_CHECK(r.line > last && r.line <= lines);
            last = r.line;
            const QString message = defaultRouteMessage(r);
            FUZZ_CHECK(message.contains(QStringLiteral("line %1 (").arg(r.line)));
            FUZZ_CHECK(std::none_of(message.begin(), message.end(),
                                    [](QChar c) { return c.unicode() < 0x20; }));
        }
        // A CR before each LF changes nothing.
        std::string crlf;
        for (char c : text.substr(0, 4096))
            crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        if (text.size() <= 4096 && text.find('\r') == std::string_view::npos) {
            const RouteList again = parseRouteList(crlf);
            FUZZ_CHECK(again.routes.size() == list.routes.size() &&
                       again.refused.size() == list.refused.size());
            for (size_t i = 0; i < list.routes.size(); ++i)
                FUZZ_CHECK(again.routes[i].network == list.routes[i].network &&
                           again.routes[i].mask == list.routes[i].mask &&
                           again.routes[i].line == list.routes[i].line);
        }
    });
}
