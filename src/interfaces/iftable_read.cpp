#include "interfaces/iftable_read.h"

#include "platform/iphelper.h"
#include "platform/reportfailure.h"

namespace corvane {
namespace {

// GetIfTable into a buffer grown to the size the platform asks for. An interface that
// appears between two calls makes the table outgrow the size just reported, so the growth
// is tried a few times before the shortage counts as a failure.
DWORD readIfTable(std::vector<DWORD>& storage, ULONG& size) {
    constexpr int attempts = 4;
    size = oneRowIfTableSize;
    DWORD rc = ERROR_INSUFFICIENT_BUFFER;
    for (int i = 0; i < attempts && rc == ERROR_INSUFFICIENT_BUFFER; ++i) {
        storage.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
        rc = iphlp().GetIfTable(reinterpret_cast<MIB_IFTABLE*>(storage.data()), &size, BOOL{1});
    }
    // The buffer holds what was allocated, whatever size the last call reported.
    size = static_cast<ULONG>(storage.size() * sizeof(DWORD));
    return rc;
}

} // namespace

std::optional<std::vector<IfTableRow>> readInterfaceRows(bool ignoreLocalhost,
                                                         bool ignoreOperStatus) {
    std::vector<DWORD> storage;
    ULONG size = 0;
    const DWORD rc = readIfTable(storage, size);
    if (rc != NO_ERROR) {
        ReportFailure(QStringLiteral("GetIfTable"), rc);
        return std::nullopt;
    }
    const auto& table = *reinterpret_cast<const MIB_IFTABLE*>(storage.data());
    return makeIfTableRows(table, size, ignoreLocalhost, ignoreOperStatus);
}

} // namespace corvane
