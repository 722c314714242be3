#include "if_rows.h"

#include <algorithm>
#include <cstring>
#include <linux/if.h>
#include <linux/if_arp.h>

namespace corvane::sys {
namespace {

DWORD low32(uint64_t v) {
    return static_cast<DWORD>(v); // the record's counters wrap modulo 2^32
}

// One code point from s[i...], or the byte itself when it does not start valid UTF-8.
uint32_t decodeUtf8(const std::string& s, size_t i, size_t& length) {
    const auto b = static_cast<uint8_t>(s[i]);
    static constexpr uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    length = b < 0x80             ? 1
             : (b & 0xE0) == 0xC0 ? 2
             : (b & 0xF0) == 0xE0 ? 3
             : (b & 0xF8) == 0xF0 ? 4
                                  : 0;
    static constexpr uint8_t kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t cp = b & kLeadBits[length];
    bool valid = length > 0 && i + length <= s.size();
    for (size_t k = 1; valid && k < length; ++k) {
        const auto c = static_cast<uint8_t>(s[i + k]);
        valid = (c & 0xC0) == 0x80;
        cp = (cp << 6) | (c & 0x3Fu);
    }
    if (valid && (cp < kMinimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
        valid = false;
    if (!valid) {
        length = 1;
        return b;
    }
    return cp;
}

} // namespace

void nameToUtf16(const std::string& name, WCHAR (&out)[MAX_INTERFACE_NAME_LEN]) {
    size_t o = 0;
    for (size_t i = 0; i < name.size();) {
        size_t length = 1;
        const uint32_t cp = decodeUtf8(name, i, length);
        if (cp >= 0x10000) {
            if (o + 2 >= MAX_INTERFACE_NAME_LEN)
                break;
            out[o++] = static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10));
            out[o++] = static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            if (o + 1 >= MAX_INTERFACE_NAME_LEN)
                break;
            out[o++] = static_cast<WCHAR>(cp);
        }
        i += length;
    }
    std::fill(out + o, out + MAX_INTERFACE_NAME_LEN, WCHAR{0});
}

MIB_IFROW ifRowFromLink(const nl::Link& link, const SysfsInfo& sysfs) {
    MIB_IFROW row;
    std::memset(&row, 0, sizeof row);
    nameToUtf16(link.name, row.wszName);
    row.dwIndex = link.index;
    row.dwType = interfaceType(link, sysfs.wireless);
    row.dwMtu = link.mtu;
    row.dwSpeed = clampSpeed(sysfs.speedBitsPerSecond);
    // Loopback carries an all-zero address the program must show as none; an address longer
    // than the field (InfiniBand) is left out rather than cut.
    if (link.arpType != ARPHRD_LOOPBACK && link.mac.size() <= MAXLEN_PHYSADDR) {
        row.dwPhysAddrLen = static_cast<DWORD>(link.mac.size());
        std::copy(link.mac.begin(), link.mac.end(), row.bPhysAddr);
    }
    row.dwAdminStatus = (link.flags & IFF_UP) ? MIB_IF_ADMIN_STATUS_UP : MIB_IF_ADMIN_STATUS_DOWN;
    row.dwOperStatus = operStatus(link);
    if (link.hasStats) {
        const nl::LinkStats& s = link.stats;
        row.dwInOctets = low32(s.rxBytes);
        // Drivers count multicast on their own; it can run ahead of the packet count.
        row.dwInUcastPkts = low32(s.rxPackets > s.rxMulticast ? s.rxPackets - s.rxMulticast : 0);
        row.dwInNUcastPkts = low32(s.rxMulticast);
        row.dwInDiscards = low32(s.rxDropped);
        row.dwInErrors = low32(s.rxErrors);
        row.dwInUnknownProtos = low32(s.rxUnknownProto);
        row.dwOutOctets = low32(s.txBytes);
        row.dwOutUcastPkts = low32(s.txPackets); // Linux keeps no count of sent multicast
        row.dwOutDiscards = low32(s.txDropped);
        row.dwOutErrors = low32(s.txErrors);
    }
    row.dwOutQLen = link.txQueueLen;
    const std::string descr = interfaceDescription(link, row.dwType, sysfs.driver);
    const size_t n = std::min(descr.size(), sizeof row.bDescr - 1);
    std::memcpy(row.bDescr, descr.data(), n);
    row.dwDescrLen = static_cast<DWORD>(n + 1); // counts the terminating zero
    return row;
}

std::vector<MIB_IFROW> ifRows(const std::vector<nl::Link>& links, bool sorted,
                              SysfsReader readSysfsOf) {
    std::vector<MIB_IFROW> rows;
    rows.reserve(links.size());
    for (const nl::Link& link : links)
        rows.push_back(ifRowFromLink(link, readSysfsOf(link.name)));
    if (sorted)
        std::stable_sort(rows.begin(), rows.end(), [](const MIB_IFROW& a, const MIB_IFROW& b) {
            return a.dwIndex < b.dwIndex;
        });
    return rows;
}

} // namespace corvane::sys
