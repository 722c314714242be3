// The Interfaces page's rows made from the platform's interface records: texts, the active
// mark and the row colour. No widgets and no platform calls.
#pragma once

#include "iphlpapi.h"
#include "platform/ifindex.h"
#include "session/interface_marks.h"

#include <QString>
#include <QStringList>
#include <cstddef>
#include <optional>
#include <vector>

namespace corvane {

inline constexpr DWORD ifTypeSoftwareLoopback = 24;
// The size of an interface table with exactly one row: the first buffer tried.
inline constexpr ULONG oneRowIfTableSize = sizeof(MIB_IFTABLE);

struct IfTableRow {
    QString adminStatus; // row caption: "enabled" / "disabled"
    QString index;
    QString address;
    QString type;
    QString speed;
    QString operStatus;
    QString description;
    int activeMark = 0; // the row's data word: ifmark::Active usable, 0 not

    // The row caption followed by the six sub-items, in column order.
    QStringList columns() const {
        return {adminStatus, index, address, type, speed, operStatus, description};
    }
};

// Column positions in lvIfTable.
namespace ifcol {
inline constexpr int AdminStatus = 0;
inline constexpr int Index = 1;
inline constexpr int Address = 2;
inline constexpr int Type = 3;
inline constexpr int Speed = 4;
inline constexpr int OperStatus = 5;
inline constexpr int Description = 6;
inline constexpr int Count = 7;
} // namespace ifcol

QString interfaceTypeText(DWORD type);
QString operStatusText(DWORD operStatus);
bool operStatusActive(DWORD operStatus);
// Bytes as "00-0C-29-..."; the length is clamped to the record's field.
QString physicalAddressText(const BYTE* bytes, DWORD length);
// Single-byte characters, trimmed at both ends of codes 32 and below (the counted zero too);
// the length is clamped to the record's field.
QString descriptionText(const BYTE* bytes, DWORD length);

IfTableRow makeIfTableRow(const MIB_IFROW& row, bool ignoreOperStatus);

// The rows of a table the platform filled into a buffer of bufferSize bytes, in table order.
// Entries beyond the buffer are never read, whatever dwNumEntries claims.
std::vector<IfTableRow> makeIfTableRows(const MIB_IFTABLE& table, std::size_t bufferSize,
                                        bool ignoreLocalhost, bool ignoreOperStatus);

// Silver for a row whose data word is 0, black otherwise.
quint32 ifRowTextColour(int dataWord); // as QRgb

// The question asked before an interface is disabled.
QString disableInterfaceQuestion(const QString& description);

} // namespace corvane
