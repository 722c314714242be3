#include "hostinfo/gateway_mac.h"

#include "platform/iphelper.h"

#include <arpa/inet.h>
#include <array>

namespace corvane {

GatewayMac LookupGatewayMac(const QString& address) {
    GatewayMac result;
    const IPAddr destination = inet_addr(address.toLatin1().constData());
    std::array<BYTE, 8> mac{};
    mac.fill(0xFF);
    ULONG length = 6;
    if (iphlp().SendARP(destination, 0, mac.data(), &length) != NO_ERROR)
        return result;
    result.text = QString::asprintf("%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3],
                                    mac[4], mac[5]);
    for (int i = 0; i < 6; ++i)
        result.value = (result.value << 8) | mac[static_cast<std::size_t>(i)];
    return result;
}

} // namespace corvane
