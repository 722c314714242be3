// The data word an interface row carries, as the Interfaces page sets it and the adapter
// pass, the route dialogs and the address dialogs read it; and a row as other pages see it.
#pragma once

#include "iphlpapi.h"

#include <QString>

namespace corvane {

namespace ifmark {
// Usable: operational, or taken as such when the operational status is ignored. The adapter
// pass clears the whole word for an interface whose adapter is not active.
inline constexpr DWORD Active = 0x1;
// The adapter pass found several addresses on the interface.
inline constexpr DWORD SeveralAddresses = 0x80;
} // namespace ifmark

// An interface-table row as the pages beside the Interfaces page read it.
struct InterfaceRow {
    QString description;
    QString indexText; // "0x" and hexadecimal digits
    DWORD mark = 0;    // ifmark bits
};

} // namespace corvane
