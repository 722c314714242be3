// The platform version the program adapts to. Linux offers the full level of the platform
// the program was designed for: version 5.1, so extended socket tables and owner processes
// are on. CORVANE_PLATFORM_VERSION="major.minor" reports another level (tests use it).
#pragma once

#include <cstdint>

namespace corvane {

struct PlatformVersion {
    unsigned major = 5;
    unsigned minor = 1;
    bool xpFamily() const { return major == 5 && minor >= 1; }
    bool vista() const { return major == 6; }
};

// Major number in the low byte, minor in the second byte.
uint32_t GetVersion();
PlatformVersion platformVersion();

} // namespace corvane
