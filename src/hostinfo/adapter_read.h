// What the adapter pass reads from the platform: the host parameters and the adapter list,
// run through the pass. Failures are reported as they happen.
#pragma once

#include "hostinfo/adapter_pass.h"

#include <QString>
#include <optional>

namespace corvane {

struct HostParams {
    QString hostName;
    QString domainName;
    QString dnsEnabled; // "yes" / "no"
    QString routingEnabled;
    QString proxyArpEnabled;
};

// Nothing when GetNetworkParams failed.
std::optional<HostParams> readHostParams();

// The pass over the adapter list; nothing when GetAdaptersInfo failed. xpFamily: the DNS
// suffixes come from GetAdaptersAddresses; showIpv6: each adapter's IPv6 part follows.
std::optional<AdapterPassResult> readAdapterInformation(bool xpFamily, bool logging, bool showIpv6);

} // namespace corvane
