#include "hostinfo/adapter_read.h"

#include "hostinfo/connectionname.h"
#include "hostinfo/gateway_mac.h"
#include "platform/iphelper.h"
#include "platform/reportfailure.h"
#include "platform/systemtext.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace corvane {
namespace {

using Buffer = std::vector<uint64_t>;

// Room for size bytes and never less than one record: a platform that answers success with
// a short record must not make us read past the buffer.
template <typename Record> void reserve(Buffer& buffer, ULONG size) {
    buffer.assign(std::max<std::size_t>(size, sizeof(Record)) / 8 + 1, 0);
}

bool bufferTooSmall(DWORD rc) {
    return rc == ERROR_BUFFER_OVERFLOW || rc == ERROR_INSUFFICIENT_BUFFER;
}

QString fromWide(const WCHAR* text) {
    QString out;
    for (; text && *text; ++text)
        out.append(QChar(static_cast<char16_t>(*text)));
    return out;
}

QString yesNo(UINT flag) {
    return flag ? QStringLiteral("yes") : QStringLiteral("no");
}

// The pass's questions answered by the platform.
class PlatformEnv : public AdapterPassEnv {
public:
    explicit PlatformEnv(const IP_ADAPTER_ADDRESSES* addresses) : addresses_(addresses) {}

    QString connectionName(const QString& adapterName, DWORD ifIndex) override {
        return names_.lookup(adapterName, ifIndex);
    }
    bool isInterfaceUp(DWORD ifIndex) override {
        MIB_IFROW row{};
        row.dwIndex = ifIndex;
        const DWORD rc = iphlp().GetIfEntry(&row);
        if (rc != NO_ERROR) {
            ReportFailure(QStringLiteral("GetIfEntry"), rc);
            return false;
        }
        return row.dwAdminStatus == 1;
    }
    GatewayMac gatewayMac(const QString& address) override { return LookupGatewayMac(address); }
    std::optional<PerAdapterDns> perAdapterInfo(DWORD ifIndex) override {
        ULONG size = 52;
        Buffer buffer;
        reserve<IP_PER_ADAPTER_INFO>(buffer, size);
        DWORD rc = iphlp().GetPerAdapterInfo(
            ifIndex, reinterpret_cast<IP_PER_ADAPTER_INFO*>(buffer.data()), &size);
        if (bufferTooSmall(rc)) {
            reserve<IP_PER_ADAPTER_INFO>(buffer, size);
            rc = iphlp().GetPerAdapterInfo(
                ifIndex, reinterpret_cast<IP_PER_ADAPTER_INFO*>(buffer.data()), &size);
        }
        if (rc != NO_ERROR) {
            ReportFailure(QStringLiteral("GetPerAdapterInfo"), rc);
            return std::nullopt;
        }
        const auto* info = reinterpret_cast<const IP_PER_ADAPTER_INFO*>(buffer.data());
        PerAdapterDns out;
        out.autoconfigEnabled = info->AutoconfigEnabled != 0;
        for (const IP_ADDR_STRING* s = &info->DnsServerList; s; s = s->Next)
            out.servers.append(QString::fromLatin1(
                s->IpAddress.String, static_cast<qsizetype>(strnlen(s->IpAddress.String, 16))));
        return out;
    }
    QString dnsSuffix(DWORD ifIndex) override {
        QString suffix = QStringLiteral("none");
        for (const IP_ADAPTER_ADDRESSES* a = addresses_; a; a = a->Next)
            if (a->IfIndex == ifIndex)
                suffix = fromWide(a->DnsSuffix);
        return suffix;
    }
    QDateTime now() override { return QDateTime::currentDateTime(); }

private:
    const IP_ADAPTER_ADDRESSES* addresses_;
    const ConnectionNames names_ = ConnectionNames::read();
};

// GetAdaptersAddresses for IPv4; false when there is no list (none, or a reported failure).
bool readAdapterAddresses(Buffer& buffer) {
    ULONG size = 0;
    DWORD rc = iphlp().GetAdaptersAddresses(AF_INET_IPH, 0, nullptr, nullptr, &size);
    if (rc == NO_ERROR)
        return false; // no adapters: no list
    if (bufferTooSmall(rc)) {
        reserve<IP_ADAPTER_ADDRESSES>(buffer, size);
        rc = iphlp().GetAdaptersAddresses(
            AF_INET_IPH, 0, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (rc != NO_ERROR) {
        ReportFailure(QStringLiteral("GetAdaptersAddresses"), rc);
        return false;
    }
    return true;
}

bool readAdaptersInfo(Buffer& buffer) {
    ULONG size = 640;
    reserve<IP_ADAPTER_INFO>(buffer, size);
    DWORD rc = iphlp().GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    if (bufferTooSmall(rc)) {
        reserve<IP_ADAPTER_INFO>(buffer, size);
        rc = iphlp().GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    }
    if (rc != NO_ERROR) {
        ReportFailure(QStringLiteral("GetAdaptersInfo"), rc);
        return false;
    }
    return true;
}

} // namespace

std::optional<HostParams> readHostParams() {
    ULONG size = 584;
    // Never smaller than the record we read, whatever size the platform was told.
    Buffer buffer;
    reserve<FIXED_INFO>(buffer, size);
    DWORD rc = iphlp().GetNetworkParams(reinterpret_cast<FIXED_INFO*>(buffer.data()), &size);
    if (rc == ERROR_BUFFER_OVERFLOW) {
        reserve<FIXED_INFO>(buffer, size);
        rc = iphlp().GetNetworkParams(reinterpret_cast<FIXED_INFO*>(buffer.data()), &size);
    }
    if (rc != NO_ERROR) {
        ReportFailure(QStringLiteral("GetNetworkParams"), rc);
        return std::nullopt;
    }
    const auto* info = reinterpret_cast<const FIXED_INFO*>(buffer.data());
    return HostParams{systemText(info->HostName), systemText(info->DomainName),
                      yesNo(info->EnableDns), yesNo(info->EnableRouting), yesNo(info->EnableProxy)};
}

std::optional<AdapterPassResult> readAdapterInformation(bool xpFamily, bool logging) {
    Buffer addressBuffer;
    const bool haveAddresses = xpFamily && readAdapterAddresses(addressBuffer);
    Buffer infoBuffer;
    if (!readAdaptersInfo(infoBuffer))
        return std::nullopt;
    PlatformEnv env(haveAddresses
                        ? reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(addressBuffer.data())
                        : nullptr);
    return runAdapterPass(reinterpret_cast<const IP_ADAPTER_INFO*>(infoBuffer.data()), env,
                          logging);
}

} // namespace corvane
