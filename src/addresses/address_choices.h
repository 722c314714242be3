// What the address dialogs decide without a window: which interfaces they offer, the address
// entries of the delete dialog and how their texts are read back, the mask list, and the
// platform lists they are built from.
#pragma once

#include "iphlpapi.h"
#include "session/interface_marks.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

namespace corvane {

// The items of an interface drop-down and the one to select (-1: none to select).
struct InterfaceChoice {
    QStringList items;
    int selected = -1;
    bool matched = false; // the selected item is the asked-for interface, not a stand-in
};

// Operational interfaces whose description does not begin with "WAN" (add; renew with only);
// the one whose index is selectedIndex is preselected, else the first. only, when given,
// narrows them to these interface indexes.
InterfaceChoice operationalChoice(const std::vector<InterfaceRow>& rows, DWORD selectedIndex,
                                  const std::vector<DWORD>* only = nullptr);
// The interfaces whose adapter a DHCP client manages (the adapter list's DhcpEnabled): the
// only ones a release and renewal can succeed on, so the only ones worth a password prompt.
std::vector<DWORD> dhcpManagedIndexes(const IP_ADAPTER_INFO* adapters);
// Operational interfaces with several addresses, as "description (0x2)" (delete).
InterfaceChoice severalAddressChoice(const std::vector<InterfaceRow>& rows, DWORD selectedIndex);
// The index of the first row with this description; nothing when none has it any more.
std::optional<DWORD> rowIndexOf(const std::vector<InterfaceRow>& rows, const QString& description);

// "10.0.0.6 255.0.0.0 (3):2": address, mask, NTE context, interface index.
QString addressEntry(const QString& address, const QString& mask, ULONG context, DWORD ifIndex);
// One entry per address of every operational row's adapter (the first address included); a
// row without an adapter adds none.
QStringList addressEntries(const IP_ADAPTER_INFO* adapters, const std::vector<InterfaceRow>& rows);
// The mask text of the entry of this interface's adapter whose address (network order) is
// this one; nothing when the adapter has no such address.
std::optional<QString> existingAddressMask(const IP_ADAPTER_INFO* adapters, DWORD ifIndex,
                                           uint32_t address);
// The index inside the last brackets of a delete-dialog interface item.
std::optional<DWORD> choiceIndex(const QString& item);
// The entries of one interface, each without its ":index" tail.
QStringList entriesOf(const QStringList& entries, DWORD ifIndex);
// The NTE context between the first "(" and the next ")".
std::optional<ULONG> entryContext(const QString& entry);

// The contiguous masks of prefix lengths 1 to 30, shortest first.
QStringList addressMaskList();
inline constexpr int defaultMaskItem = 23; // 255.255.255.0
// A typed address or mask, trimmed, in network order; nothing unless it is a dotted quad.
std::optional<uint32_t> typedQuad(const QString& text);

// GetInterfaceInfo's entries for one interface index, through the two-call protocol with
// a first buffer of 264 bytes; the platform's code when the call fails.
DWORD interfaceMapEntries(DWORD ifIndex, std::vector<IP_ADAPTER_INDEX_MAP>& entries);
// GetAdaptersInfo with a first buffer of 640 bytes; the platform's code when it fails.
DWORD adapterList(std::vector<uint64_t>& buffer);

} // namespace corvane
