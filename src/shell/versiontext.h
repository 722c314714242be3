// The version text shown in the About box.
#pragma once

#include <QString>
#include <string_view>

namespace corvane {

// "Version a.b.c  Build d (Mmm dd yyyy)" from a dotted file version "a.b.c.d" (a missing field
// stays empty) and a build date written as the compiler's __DATE__. Outside the XP family
// the platform is named: ", running on Vista" or ", not running on XP". An empty file version
// means it could not be read, and the text stays empty.
QString BuildVersionText(std::string_view fileVersion, std::string_view buildDate, bool xpFamily,
                         bool vista);

} // namespace corvane
