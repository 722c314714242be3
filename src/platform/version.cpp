#include "platform/version.h"

#include <cstdlib>
#include <cstring>

namespace corvane {

uint32_t GetVersion() {
    unsigned major = 5;
    unsigned minor = 1;
    if (const char* v = std::getenv("CORVANE_PLATFORM_VERSION"); v && *v) {
        char* end = nullptr;
        const unsigned long ma = std::strtoul(v, &end, 10);
        const unsigned long mi = *end == '.' ? std::strtoul(end + 1, &end, 10) : 0;
        if (*end == '\0' && ma <= 0xFF && mi <= 0xFF) {
            major = static_cast<unsigned>(ma);
            minor = static_cast<unsigned>(mi);
        }
    }
    return major | (minor << 8);
}

PlatformVersion platformVersion() {
    const uint32_t v = GetVersion();
    return {v & 0xFFu, (v >> 8) & 0xFFu};
}

} // namespace corvane
