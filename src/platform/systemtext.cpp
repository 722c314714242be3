#include "platform/systemtext.h"

namespace corvane {
namespace {

bool unsafe(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString printable(QString text) {
    for (QChar& c : text)
        if (unsafe(c.unicode()))
            c = QLatin1Char('?');
    return text;
}

QString systemText(std::string_view bytes) {
    return printable(QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

} // namespace corvane
