// The interface table: one row per kernel link, loopback included.
#include "buffers.h"
#include "errors.h"
#include "guard.h"
#include "if_rows.h"
#include "iphlpapi.h"
#include "netlink/read.h"

#include <climits>

using namespace corvane::sys;

extern "C" {

DWORD GetIfTable(MIB_IFTABLE* table, ULONG* size, BOOL sorted) {
    return guarded([&]() -> DWORD {
        if (!size)
            return ERROR_INVALID_PARAMETER;
        std::vector<nl::Link> links;
        if (const int e = nl::readLinks(links))
            return resultFromErrno(e);
        return fillTable(table, size, ifRows(links, sorted != 0));
    });
}

DWORD GetIfEntry(MIB_IFROW* row) {
    return guarded([&]() -> DWORD {
        if (!row)
            return ERROR_INVALID_PARAMETER;
        // Kernel indexes are positive ints; nothing else names an interface.
        if (row->dwIndex == 0 || row->dwIndex > INT_MAX)
            return ERROR_DEV_NOT_EXIST;
        nl::Link link;
        if (const int e = nl::readLink(row->dwIndex, link))
            return resultFromErrno(e);
        *row = ifRowFromLink(link, readSysfs(link.name));
        return NO_ERROR;
    });
}
}
