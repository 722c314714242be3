#include "adapter_layout.h"

#include "buffers.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace corvane::sys {
namespace {

// Measures with a null arena, then places into the caller's buffer only when all of it
// fits, so a too-small buffer is never written to.
template <typename Record, typename Place> DWORD twoPass(Record* buffer, ULONG* size, Place place) {
    if (!size)
        return ERROR_INVALID_PARAMETER;
    Arena measure(nullptr, 0);
    place(measure);
    const size_t needed = measure.used();
    if (needed > std::numeric_limits<ULONG>::max())
        return ERROR_NOT_ENOUGH_MEMORY;
    if (!buffer || *size < needed) {
        *size = static_cast<ULONG>(needed);
        return ERROR_BUFFER_OVERFLOW;
    }
    // The arena aligns offsets from the buffer's start, which only works from an aligned start.
    if (reinterpret_cast<uintptr_t>(buffer) % alignof(Record) != 0)
        return ERROR_INVALID_PARAMETER;
    Arena arena(buffer, *size);
    place(arena);
    return NO_ERROR;
}

template <size_t N> void copyField(char (&field)[N], const std::string& text) {
    copyText(field, N, text);
}

void setEntry(IP_ADDR_STRING& e, const AddrText& t) {
    copyField(e.IpAddress.String, t.address);
    copyField(e.IpMask.String, t.mask);
    e.Context = t.context;
}

// The first entry lives in the record itself (head; null while measuring), the rest are
// chained behind it in the arena. An empty list is one entry with empty texts.
void chain(Arena& arena, IP_ADDR_STRING* head, const std::vector<AddrText>& entries) {
    if (head && !entries.empty())
        setEntry(*head, entries.front());
    IP_ADDR_STRING* previous = head;
    for (size_t i = 1; i < entries.size(); ++i) {
        auto* e = arena.alloc<IP_ADDR_STRING>();
        if (e && previous) {
            setEntry(*e, entries[i]);
            previous->Next = e;
        }
        previous = e;
    }
}

std::vector<AddrText> servers(const std::vector<std::string>& addresses) {
    std::vector<AddrText> out;
    out.reserve(addresses.size());
    for (const std::string& a : addresses)
        out.push_back({a, "", 0});
    return out;
}

WCHAR* placeWide(Arena& arena, std::string_view text) {
    const std::u16string wide = utf16(text);
    auto* p = arena.alloc<WCHAR>(wide.size() + 1);
    if (p)
        std::memcpy(p, wide.data(), wide.size() * sizeof(WCHAR));
    return p;
}

char* placeNarrow(Arena& arena, const std::string& text) {
    auto* p = arena.alloc<char>(text.size() + 1);
    if (p)
        std::memcpy(p, text.c_str(), text.size() + 1);
    return p;
}

void copyMac(const std::vector<uint8_t>& mac, BYTE* field, size_t fieldSize, auto& length) {
    const size_t n = std::min(mac.size(), fieldSize);
    if (n)
        std::memcpy(field, mac.data(), n);
    length = static_cast<std::remove_reference_t<decltype(length)>>(n);
}

} // namespace

std::u16string utf16(std::string_view text) {
    std::u16string out;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        uint32_t cp = 0;
        size_t len = 0;
        uint32_t min = 0;
        if (c < 0x80) {
            cp = c, len = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1Fu, len = 2, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0Fu, len = 3, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07u, len = 4, min = 0x10000;
        }
        bool ok = len != 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (s[i + k] & 0x3Fu);
        }
        // Overlong forms, surrogates and values beyond Unicode are not characters.
        if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            ok = false;
        if (!ok) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

void copyText(char* field, size_t fieldSize, const std::string& text) {
    if (fieldSize == 0)
        return;
    size_t n = std::min(text.size(), fieldSize - 1);
    if (n < text.size()) // do not cut a multi-byte character in two
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

DWORD layoutAdaptersInfo(const std::vector<AdapterInfo>& adapters, IP_ADAPTER_INFO* out,
                         ULONG* size) {
    if (!size)
        return ERROR_INVALID_PARAMETER;
    if (adapters.empty())
        return ERROR_NO_DATA;
    return twoPass(out, size, [&](Arena& arena) {
        auto* records = arena.alloc<IP_ADAPTER_INFO>(adapters.size());
        for (size_t i = 0; i < adapters.size(); ++i) {
            const AdapterInfo& a = adapters[i];
            IP_ADAPTER_INFO* r = records ? &records[i] : nullptr;
            if (r) {
                r->Next = i + 1 < adapters.size() ? &records[i + 1] : nullptr;
                copyField(r->AdapterName, a.name);
                copyField(r->Description, a.description);
                copyMac(a.mac, r->Address, sizeof r->Address, r->AddressLength);
                r->Index = a.index;
                r->Type = a.type;
                r->DhcpEnabled = a.lease ? 1 : 0;
                if (a.lease) {
                    copyField(r->DhcpServer.IpAddress.String,
                              a.lease->server ? dottedQuad(a.lease->server) : "");
                    r->LeaseObtained = a.lease->obtained;
                    r->LeaseExpires = a.lease->expires;
                }
                r->HaveWins = 0;
            }
            chain(arena, r ? &r->IpAddressList : nullptr, a.addresses);
            chain(arena, r ? &r->GatewayList : nullptr, a.gateways);
        }
    });
}

DWORD layoutAdaptersAddresses(const std::vector<AdapterAddresses>& adapters,
                              IP_ADAPTER_ADDRESSES* out, ULONG* size) {
    if (!size)
        return ERROR_INVALID_PARAMETER;
    if (adapters.empty())
        return ERROR_NO_DATA;
    return twoPass(out, size, [&](Arena& arena) {
        auto* records = arena.alloc<IP_ADAPTER_ADDRESSES>(adapters.size());
        for (size_t i = 0; i < adapters.size(); ++i) {
            const AdapterAddresses& a = adapters[i];
            IP_ADAPTER_ADDRESSES* r = records ? &records[i] : nullptr;
            char* name = placeNarrow(arena, a.name);
            WCHAR* suffix = placeWide(arena, a.dnsSuffix);
            WCHAR* description = placeWide(arena, a.description);
            WCHAR* friendly = placeWide(arena, a.friendlyName);
            if (!r)
                continue;
            r->Length = sizeof(IP_ADAPTER_ADDRESSES);
            r->IfIndex = a.index;
            r->Next = i + 1 < adapters.size() ? &records[i + 1] : nullptr;
            r->AdapterName = name;
            r->DnsSuffix = suffix;
            r->Description = description;
            r->FriendlyName = friendly;
            copyMac(a.mac, r->PhysicalAddress, sizeof r->PhysicalAddress, r->PhysicalAddressLength);
            r->Mtu = a.mtu;
            r->IfType = a.type;
            r->OperStatus = a.operStatus;
        }
    });
}

DWORD layoutPerAdapterInfo(const PerAdapter& info, IP_PER_ADAPTER_INFO* out, ULONG* size) {
    return twoPass(out, size, [&](Arena& arena) {
        auto* r = arena.alloc<IP_PER_ADAPTER_INFO>();
        chain(arena, r ? &r->DnsServerList : nullptr, servers(info.dnsServers));
        if (!r)
            return;
        r->AutoconfigEnabled = info.autoconfigEnabled ? 1 : 0;
        r->AutoconfigActive = info.autoconfigActive ? 1 : 0;
        r->CurrentDnsServer = info.dnsServers.empty() ? nullptr : &r->DnsServerList;
    });
}

DWORD layoutNetworkParams(const NetworkParams& params, FIXED_INFO* out, ULONG* size) {
    return twoPass(out, size, [&](Arena& arena) {
        auto* r = arena.alloc<FIXED_INFO>();
        chain(arena, r ? &r->DnsServerList : nullptr, servers(params.dnsServers));
        if (!r)
            return;
        copyField(r->HostName, params.hostName);
        copyField(r->DomainName, params.domainName);
        r->CurrentDnsServer = params.dnsServers.empty() ? nullptr : &r->DnsServerList;
        r->NodeType = params.nodeType;
        r->EnableRouting = params.routing ? 1 : 0;
        r->EnableProxy = params.proxyArp ? 1 : 0;
        r->EnableDns = params.dnsEnabled ? 1 : 0;
    });
}

DWORD layoutInterfaceInfo(const std::vector<IndexName>& adapters, IP_INTERFACE_INFO* out,
                          ULONG* size) {
    if (!size)
        return ERROR_INVALID_PARAMETER;
    const size_t needed =
        std::max(sizeof(IP_INTERFACE_INFO), offsetof(IP_INTERFACE_INFO, Adapter) +
                                                adapters.size() * sizeof(IP_ADAPTER_INDEX_MAP));
    if (needed > std::numeric_limits<ULONG>::max())
        return ERROR_NOT_ENOUGH_MEMORY;
    if (!out || *size < needed) {
        *size = static_cast<ULONG>(needed);
        return ERROR_INSUFFICIENT_BUFFER;
    }
    if (reinterpret_cast<uintptr_t>(out) % alignof(IP_INTERFACE_INFO) != 0)
        return ERROR_INVALID_PARAMETER;
    std::memset(static_cast<void*>(out), 0, needed);
    out->NumAdapters = static_cast<LONG>(adapters.size());
    // The array is declared with one element and really holds NumAdapters of them.
    IP_ADAPTER_INDEX_MAP* maps = out->Adapter;
    for (size_t i = 0; i < adapters.size(); ++i) {
        maps[i].Index = adapters[i].index;
        std::u16string wide = utf16(adapters[i].name);
        size_t n = std::min(wide.size(), size_t{MAX_ADAPTER_NAME - 1});
        if (n < wide.size() && n > 0 && wide[n - 1] >= 0xD800 && wide[n - 1] <= 0xDBFF)
            --n; // keep surrogate pairs whole
        std::memcpy(maps[i].Name, wide.data(), n * sizeof(WCHAR));
    }
    return NO_ERROR;
}

} // namespace corvane::sys
