// Entry points whose Linux implementation has not been written yet answer "not supported",
// so the program reports an honest failure instead of showing made-up tables.
#include "iphlpapi.h"

extern "C" {

DWORD IpReleaseAddress(IP_ADAPTER_INDEX_MAP*) {
    return ERROR_NOT_SUPPORTED;
}
DWORD IpRenewAddress(IP_ADAPTER_INDEX_MAP*) {
    return ERROR_NOT_SUPPORTED;
}
}
