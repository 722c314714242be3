#include "interfaces/iftable_rows.h"
#include "platform/systemtext.h"

#include <algorithm>

namespace corvane {

QString interfaceTypeText(DWORD type) {
    switch (type) {
    case 6:
        return QStringLiteral("Ethernet");
    case 9:
        return QStringLiteral("TokenRing");
    case 15:
        return QStringLiteral("FDDI");
    case 23:
        return QStringLiteral("PPP");
    case 24:
        return QStringLiteral("Loopback");
    case 28:
        return QStringLiteral("SLIP");
    default:
        return QStringLiteral("Other");
    }
}

QString operStatusText(DWORD operStatus) {
    switch (operStatus) {
    case 0:
        return QStringLiteral("non-operational");
    case 1:
        return QStringLiteral("unreachable");
    case 2:
        return QStringLiteral("Cable disconnected");
    case 3:
        return QStringLiteral("connecting");
    case 4:
        return QStringLiteral("connected");
    case 5:
        return QStringLiteral("operational");
    default:
        return {};
    }
}

bool operStatusActive(DWORD operStatus) {
    return operStatus == 4 || operStatus == 5;
}

QString physicalAddressText(const BYTE* bytes, DWORD length) {
    const DWORD n = std::min<DWORD>(length, MAXLEN_PHYSADDR);
    QStringList parts;
    for (DWORD i = 0; i < n; ++i)
        parts << QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char('-'));
}

QString descriptionText(const BYTE* bytes, DWORD length) {
    DWORD begin = 0;
    DWORD end = std::min<DWORD>(length, MAXLEN_IFDESCR);
    while (begin < end && bytes[begin] <= 32)
        ++begin;
    while (end > begin && bytes[end - 1] <= 32)
        --end;
    return systemText(std::string_view(reinterpret_cast<const char*>(bytes + begin), end - begin));
}

IfTableRow makeIfTableRow(const MIB_IFROW& row, bool ignoreOperStatus) {
    IfTableRow r;
    r.adminStatus = row.dwAdminStatus == MIB_IF_ADMIN_STATUS_UP ? QStringLiteral("enabled")
                                                                : QStringLiteral("disabled");
    r.index = interfaceIndexText(row.dwIndex);
    r.address = physicalAddressText(row.bPhysAddr, row.dwPhysAddrLen);
    r.type = interfaceTypeText(row.dwType);
    r.speed = QString::number(row.dwSpeed);
    r.operStatus = operStatusText(row.dwOperStatus);
    r.activeMark = operStatusActive(row.dwOperStatus) ? static_cast<int>(ifmark::Active) : 0;
    if (ignoreOperStatus && r.activeMark == 0) {
        r.activeMark = static_cast<int>(ifmark::Active);
        r.operStatus += QStringLiteral(" (!)");
    }
    r.description = descriptionText(row.bDescr, row.dwDescrLen);
    return r;
}

std::vector<IfTableRow> makeIfTableRows(const MIB_IFTABLE& table, std::size_t bufferSize,
                                        bool ignoreLocalhost, bool ignoreOperStatus) {
    std::vector<IfTableRow> rows;
    const std::size_t header = offsetof(MIB_IFTABLE, table);
    if (bufferSize < header)
        return rows;
    const std::size_t fit = (bufferSize - header) / sizeof(MIB_IFROW);
    const std::size_t n = std::min<std::size_t>(table.dwNumEntries, fit);
    rows.reserve(n);
    // The record declares one row; the platform writes dwNumEntries of them.
    const auto* entries = static_cast<const MIB_IFROW*>(table.table);
    for (std::size_t i = 0; i < n; ++i) {
        const MIB_IFROW& row = entries[i];
        if (ignoreLocalhost && row.dwType == ifTypeSoftwareLoopback)
            continue;
        rows.push_back(makeIfTableRow(row, ignoreOperStatus));
    }
    return rows;
}

quint32 ifRowTextColour(int dataWord) {
    return dataWord == 0 ? 0xffc0c0c0 : 0xff000000;
}

QString disableInterfaceQuestion(const QString& description) {
    return QStringLiteral("About to administratively disable interface \"") + description +
           QStringLiteral("\"\n\nCAUTION!\nDisabling interfaces may corrupt network "
                          "connectivity!\n\nClick [Yes] to disable the interface.");
}

} // namespace corvane
