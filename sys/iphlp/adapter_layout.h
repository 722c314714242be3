// Placing the adapter lists and host parameters into the callers' buffers: linked records
// whose pointers all point inside the buffer, a too-small buffer answered with the size
// needed and nothing written.
#pragma once

#include "adapter_model.h"
#include "iphlpapi.h"

#include <string>
#include <string_view>
#include <vector>

namespace corvane::sys {

// Empty list: ERROR_NO_DATA. Too small: ERROR_BUFFER_OVERFLOW and *size = the size needed.
DWORD layoutAdaptersInfo(const std::vector<AdapterInfo>& adapters, IP_ADAPTER_INFO* out,
                         ULONG* size);
DWORD layoutAdaptersAddresses(const std::vector<AdapterAddresses>& adapters,
                              IP_ADAPTER_ADDRESSES* out, ULONG* size);

struct PerAdapter {
    bool autoconfigEnabled = false;
    bool autoconfigActive = false;
    std::vector<std::string> dnsServers;
};
DWORD layoutPerAdapterInfo(const PerAdapter& info, IP_PER_ADAPTER_INFO* out, ULONG* size);

struct NetworkParams {
    std::string hostName;
    std::string domainName;
    std::vector<std::string> dnsServers;
    UINT nodeType = BROADCAST_NODETYPE;
    bool routing = false;
    bool proxyArp = false;
    bool dnsEnabled = false;
};
DWORD layoutNetworkParams(const NetworkParams& params, FIXED_INFO* out, ULONG* size);

struct IndexName {
    uint32_t index = 0;
    std::string name;
};
// Too small: ERROR_INSUFFICIENT_BUFFER, as the interface list is a table.
DWORD layoutInterfaceInfo(const std::vector<IndexName>& adapters, IP_INTERFACE_INFO* out,
                          ULONG* size);

// UTF-8 to UTF-16; malformed bytes (interface names are any bytes) become U+FFFD.
std::u16string utf16(std::string_view text);
// Into a fixed field, cut at a character boundary so the text stays valid UTF-8.
void copyText(char* field, size_t fieldSize, const std::string& text);

} // namespace corvane::sys
