// The physical address behind a gateway, asked of the neighbour table.
#pragma once

#include "hostinfo/adapter_pass.h"

namespace corvane {

// Empty text and value 0 when the address cannot be resolved.
GatewayMac LookupGatewayMac(const QString& address);

} // namespace corvane
