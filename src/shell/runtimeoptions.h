// The run-time options: copied from the Options dialog at the first show and after "Ok",
// toggled unsaved by the context menus, read by every page.
#pragma once

namespace corvane {

struct RuntimeOptions {
    bool optResolvePorts = false;
    bool optResolveAddresses = false;
    bool optEstablishedOnly = false;
    bool optIgnoreLocalhost = false;
    bool optIgnoreBroadcasts = false;
    bool optNoErrorMessages = false;
};

RuntimeOptions& runtimeOptions();

} // namespace corvane
