// An interface index as every page shows it.
#pragma once

#include "iphlpapi.h"

#include <QString>

namespace corvane {

// "0x" and the index in upper-case hexadecimal without leading zeros.
inline QString interfaceIndexText(DWORD index) {
    return QStringLiteral("0x") + QString::number(index, 16).toUpper();
}

} // namespace corvane
