// Where this library's copy of the helper client waits: the program hands in its runner.
#include "helperclient/client.h"
#include "iphlpapi.h"

extern "C" {

DWORD SetHelperCallRunner(CORVANE_HELPER_RUNNER run, void* context) {
    corvane::helper::setRunner(run, context);
    return NO_ERROR;
}
}
