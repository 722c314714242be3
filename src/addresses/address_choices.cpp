#include "addresses/address_choices.h"

#include "platform/ifindex.h"
#include "platform/iphelper.h"
#include "platform/systemtext.h"
#include "values/ip.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstddef>

namespace corvane {
namespace {

using Buffer = std::vector<uint64_t>;

// Never smaller than one record, whatever size the platform asked for.
template <typename Record> void reserve(Buffer& buffer, ULONG size) {
    const std::size_t bytes = std::max<std::size_t>(size, sizeof(Record));
    buffer.assign((bytes + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
}

} // namespace

InterfaceChoice operationalChoice(const std::vector<InterfaceRow>& rows, DWORD selectedIndex,
                                  const std::vector<DWORD>* only) {
    InterfaceChoice choice;
    for (const InterfaceRow& row : rows) {
        if (!(row.mark & ifmark::Active) || row.description.startsWith(QLatin1String("WAN")))
            continue;
        if (only) {
            const std::optional<DWORD> index = parseInterfaceIndex(row.indexText);
            if (!index || std::find(only->begin(), only->end(), *index) == only->end())
                continue;
        }
        if (!choice.matched && parseInterfaceIndex(row.indexText) == selectedIndex) {
            choice.selected = static_cast<int>(choice.items.size());
            choice.matched = true;
        }
        choice.items.append(row.description);
    }
    if (choice.selected < 0 && !choice.items.isEmpty())
        choice.selected = 0;
    return choice;
}

InterfaceChoice severalAddressChoice(const std::vector<InterfaceRow>& rows, DWORD selectedIndex) {
    InterfaceChoice choice;
    for (const InterfaceRow& row : rows) {
        if ((row.mark & (ifmark::Active | ifmark::SeveralAddresses)) !=
            (ifmark::Active | ifmark::SeveralAddresses))
            continue;
        if (!choice.matched && parseInterfaceIndex(row.indexText) == selectedIndex) {
            choice.selected = static_cast<int>(choice.items.size());
            choice.matched = true;
        }
        choice.items.append(row.description + QStringLiteral(" (") + row.indexText +
                            QLatin1Char(')'));
    }
    if (choice.selected < 0 && !choice.items.isEmpty())
        choice.selected = 0;
    return choice;
}

std::optional<DWORD> rowIndexOf(const std::vector<InterfaceRow>& rows, const QString& description) {
    for (const InterfaceRow& row : rows)
        if (row.description == description)
            return parseInterfaceIndex(row.indexText);
    return std::nullopt;
}

std::vector<DWORD> dhcpManagedIndexes(const IP_ADAPTER_INFO* adapters) {
    std::vector<DWORD> managed;
    for (const IP_ADAPTER_INFO* a = adapters; a; a = a->Next)
        if (a->DhcpEnabled)
            managed.push_back(a->Index);
    return managed;
}

QString addressEntry(const QString& address, const QString& mask, ULONG context, DWORD ifIndex) {
    return QStringLiteral("%1 %2 (%3):%4").arg(address, mask).arg(context).arg(ifIndex);
}

QStringList addressEntries(const IP_ADAPTER_INFO* adapters, const std::vector<InterfaceRow>& rows) {
    QStringList entries;
    for (const InterfaceRow& row : rows) {
        if (!(row.mark & ifmark::Active))
            continue;
        const std::optional<DWORD> index = parseInterfaceIndex(row.indexText);
        if (!index)
            continue;
        for (const IP_ADAPTER_INFO* a = adapters; a; a = a->Next) {
            if (a->Index != *index)
                continue;
            for (const IP_ADDR_STRING* s = &a->IpAddressList; s; s = s->Next)
                entries.append(addressEntry(systemText(s->IpAddress.String),
                                            systemText(s->IpMask.String), s->Context, *index));
            break;
        }
    }
    return entries;
}

std::optional<QString> existingAddressMask(const IP_ADAPTER_INFO* adapters, DWORD ifIndex,
                                           uint32_t address) {
    // An adapter without an address lists 0.0.0.0; that is no address it has.
    for (const IP_ADAPTER_INFO* a = adapters; a && address != 0; a = a->Next) {
        if (a->Index != ifIndex)
            continue;
        for (const IP_ADDR_STRING* s = &a->IpAddressList; s; s = s->Next)
            if (typedQuad(systemText(s->IpAddress.String)) == address)
                return systemText(s->IpMask.String);
    }
    return std::nullopt;
}

std::optional<DWORD> choiceIndex(const QString& item) {
    const qsizetype open = item.lastIndexOf(QLatin1Char('('));
    if (open < 0)
        return std::nullopt;
    QString inside = item.mid(open + 1);
    inside.chop(1);
    return parseInterfaceIndex(inside);
}

QStringList entriesOf(const QStringList& entries, DWORD ifIndex) {
    QStringList shown;
    for (const QString& entry : entries) {
        const qsizetype colon = entry.indexOf(QLatin1Char(':'));
        if (colon >= 0 && parseInterfaceIndex(entry.mid(colon + 1)) == ifIndex)
            shown.append(entry.left(colon));
    }
    return shown;
}

std::optional<ULONG> entryContext(const QString& entry) {
    const qsizetype open = entry.indexOf(QLatin1Char('('));
    const qsizetype close = open < 0 ? -1 : entry.indexOf(QLatin1Char(')'), open);
    if (close < 0)
        return std::nullopt;
    bool ok = false;
    const ulong value = entry.mid(open + 1, close - open - 1).toULong(&ok, 10);
    if (!ok || value > 0xFFFFFFFFUL)
        return std::nullopt;
    return static_cast<ULONG>(value);
}

QStringList addressMaskList() {
    QStringList masks;
    for (int prefix = 1; prefix <= 30; ++prefix)
        masks.append(QString::fromStdString(ip(~uint32_t{0} << (32 - prefix)).text()));
    return masks;
}

std::optional<uint32_t> typedQuad(const QString& text) {
    const ip quad(text.trimmed().toStdString());
    if (!quad.valid())
        return std::nullopt;
    return htonl(quad.value());
}

DWORD interfaceMapEntries(DWORD ifIndex, std::vector<IP_ADAPTER_INDEX_MAP>& entries) {
    entries.clear();
    Buffer buffer;
    ULONG size = 264;
    reserve<IP_INTERFACE_INFO>(buffer, size);
    auto* info = reinterpret_cast<IP_INTERFACE_INFO*>(buffer.data());
    DWORD rc = iphlp().GetInterfaceInfo(info, &size);
    if (rc == ERROR_INSUFFICIENT_BUFFER) {
        reserve<IP_INTERFACE_INFO>(buffer, size);
        info = reinterpret_cast<IP_INTERFACE_INFO*>(buffer.data());
        rc = iphlp().GetInterfaceInfo(info, &size);
    }
    if (rc != NO_ERROR)
        return rc;
    // No more entries than the buffer can hold, whatever the count says.
    const std::size_t room =
        (buffer.size() * sizeof(uint64_t) - offsetof(IP_INTERFACE_INFO, Adapter)) /
        sizeof(IP_ADAPTER_INDEX_MAP);
    const std::size_t count =
        std::min<std::size_t>(info->NumAdapters > 0 ? std::size_t(info->NumAdapters) : 0, room);
    for (std::size_t i = 0; i < count; ++i)
        if (info->Adapter[i].Index == ifIndex)
            entries.push_back(info->Adapter[i]);
    return NO_ERROR;
}

DWORD adapterList(std::vector<uint64_t>& buffer) {
    ULONG size = 640;
    reserve<IP_ADAPTER_INFO>(buffer, size);
    DWORD rc = iphlp().GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    if (rc != NO_ERROR) {
        reserve<IP_ADAPTER_INFO>(buffer, size);
        rc = iphlp().GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    }
    return rc;
}

} // namespace corvane
