// An interface index as every page shows it.
#pragma once

#include "iphlpapi.h"

#include <QString>
#include <optional>

namespace corvane {

// "0x" and the index in upper-case hexadecimal without leading zeros.
inline QString interfaceIndexText(DWORD index) {
    return QStringLiteral("0x") + QString::number(index, 16).toUpper();
}

// Reads an index text back: "0x" marks hexadecimal, otherwise decimal. Nothing for a text
// that is not a 32-bit number.
inline std::optional<DWORD> parseInterfaceIndex(const QString& text) {
    const QString t = text.trimmed();
    bool ok = false;
    qulonglong value = 0;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = t.mid(2).toULongLong(&ok, 16);
    else
        value = t.toULongLong(&ok, 10);
    if (!ok || value > 0xFFFFFFFFULL)
        return std::nullopt;
    return static_cast<DWORD>(value);
}

} // namespace corvane
