// TCP and UDP endpoint tables, plain and with owner processes, from sock_diag dumps.
#include "buffers.h"
#include "errors.h"
#include "forward_cache.h"
#include "guard.h"
#include "iphlpapi.h"
#include "netlink/diag.h"
#include "owners.h"
#include "roots.h"
#include "socket_rows.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <new>

namespace corvane::sys {
namespace {

DWORD readSockets(uint8_t protocol, std::vector<nl::InetSocket>& sockets) {
    const int error = nl::readInetSockets(protocol, sockets);
    // ENOENT from sock_diag: the kernel has no diag handler for the protocol.
    if (error == ENOENT)
        return ERROR_NOT_SUPPORTED;
    return resultFromErrno(error);
}

template <typename Row, typename Table>
DWORD plainTable(uint8_t protocol, Table* table, DWORD* size, BOOL sorted,
                 Row (*makeRow)(const nl::InetSocket&)) {
    if (!size)
        return ERROR_INVALID_PARAMETER;
    std::vector<nl::InetSocket> sockets;
    if (const DWORD result = readSockets(protocol, sockets))
        return result;
    std::vector<Row> rows;
    rows.reserve(sockets.size());
    for (const nl::InetSocket& s : sockets)
        rows.push_back(makeRow(s));
    if (sorted)
        sortRows(rows);
    return fillTable(table, size, rows);
}

// One malloc()ed table the caller frees; *out stays null on every failure.
template <typename Table, typename Row>
DWORD extendedTable(void** out, BOOL sorted, DWORD family, uint8_t protocol,
                    Row (*makeRow)(const nl::InetSocket&, DWORD)) {
    if (!out)
        return ERROR_INVALID_PARAMETER;
    *out = nullptr;
    if (family != AF_INET)
        return ERROR_INVALID_PARAMETER;
    std::vector<nl::InetSocket> sockets;
    if (const DWORD result = readSockets(protocol, sockets))
        return result;

    std::vector<uint32_t> inodes;
    inodes.reserve(sockets.size());
    for (const nl::InetSocket& s : sockets)
        inodes.push_back(s.inode);
    const SocketOwners owners = recentSocketOwners(procRoot(), inodes);

    std::vector<Row> rows;
    rows.reserve(sockets.size());
    for (const nl::InetSocket& s : sockets) {
        const auto it = owners.find(s.inode);
        rows.push_back(makeRow(s, it == owners.end() ? 0 : it->second));
    }
    if (sorted)
        sortRows(rows);

    const size_t bytes = offsetof(Table, table) + rows.size() * sizeof(Row);
    auto* table = static_cast<Table*>(std::malloc(bytes < sizeof(Table) ? sizeof(Table) : bytes));
    if (!table)
        return ERROR_NOT_ENOUGH_MEMORY;
    std::memset(static_cast<void*>(table), 0, sizeof(Table));
    table->dwNumEntries = static_cast<DWORD>(rows.size());
    if (!rows.empty())
        std::memcpy(&table->table[0], rows.data(), rows.size() * sizeof(Row));
    *out = table;
    return NO_ERROR;
}

} // namespace
} // namespace corvane::sys

using namespace corvane::sys;

extern "C" {

DWORD GetTcpTable(MIB_TCPTABLE* table, DWORD* size, BOOL sorted) {
    return guarded([&] { return plainTable(IPPROTO_TCP, table, size, sorted, tcpRow); });
}

DWORD GetUdpTable(MIB_UDPTABLE* table, DWORD* size, BOOL sorted) {
    return guarded([&] { return plainTable(IPPROTO_UDP, table, size, sorted, udpRow); });
}

DWORD AllocateAndGetTcpExTableFromStack(void** table, BOOL sorted, HANDLE /*heap*/, DWORD /*flags*/,
                                        DWORD family) {
    return guarded([&] {
        return extendedTable<MIB_TCPEXTABLE>(table, sorted, family, IPPROTO_TCP, tcpExRow);
    });
}

DWORD AllocateAndGetUdpExTableFromStack(void** table, BOOL sorted, HANDLE /*heap*/, DWORD /*flags*/,
                                        DWORD family) {
    return guarded([&] {
        return extendedTable<MIB_UDPEXTABLE>(table, sorted, family, IPPROTO_UDP, udpExRow);
    });
}

DWORD CorvaneWarmReads(void) {
    return guarded([] {
        // The forward table first: the adapters' gateways need it soon, the owners later.
        warmSocketOwners(procRoot(), [] {
            std::shared_ptr<const ForwardRows> rows;
            std::shared_ptr<const RowOrder> order;
            (void)currentForwardRows(true, rows, order);
        });
        return DWORD{NO_ERROR};
    });
}
}
