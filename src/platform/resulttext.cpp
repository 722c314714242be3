#include "platform/resulttext.h"

#include "corvane_result.h"

#include <array>
#include <utility>

namespace corvane {
namespace {

constexpr std::array<std::pair<uint32_t, const char*>, 37> texts{{
    {NO_ERROR, "The operation completed successfully."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_ACCESS_DENIED,
     "Access is denied. Changing the network configuration needs root or the CAP_NET_ADMIN "
     "capability; the corvane-helper service, through which a normal user can make changes, "
     "is not installed."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory is available to complete this operation."},
    {ERROR_INVALID_DATA, "The data is invalid."},
    {ERROR_NO_MORE_FILES, "There are no more entries."},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_DEV_NOT_EXIST, "The network interface does not exist (any more)."},
    {ERROR_BAD_NET_NAME, "The neighbour did not answer: no hardware address was found."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_BUFFER_OVERFLOW, "The data area passed to a system call is too small."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_PROC_NOT_FOUND, "The function is not available in the platform library."},
    {ERROR_BUSY, "The requested resource is in use."},
    {ERROR_NO_DATA, "There is no data for this request."},
    {ERROR_CAN_NOT_COMPLETE, "The operation could not be completed."},
    {ERROR_NOT_FOUND, "Element not found."},
    {ERROR_NETWORK_UNREACHABLE, "The network location cannot be reached."},
    {ERROR_TIMEOUT, "The operation did not complete in time."},
    {ERROR_OBJECT_ALREADY_EXISTS, "The object already exists."},
    {ERROR_INVALID_NETMASK, "The subnet mask is not contiguous."},
    {ERROR_INVALID_NTE_CONTEXT, "No IP address with this context exists."},
    {ERROR_NO_DHCP_CLIENT, "No DHCP client manages this interface."},
    {ERROR_DHCP_CLIENT_FAILED, "The DHCP client reported a failure."},
    {ERROR_KERNEL_REJECTED, "The kernel rejected the request."},
    {ERROR_ROUTE_AMBIGUOUS,
     "More than one route fits this entry and nothing tells them apart; none was changed."},
    {ERROR_DHCP_NO_ANSWER,
     "No DHCP server answered. The interface keeps its address while its lease lasts, and its "
     "DHCP client goes on asking."},
    {ERROR_DHCP_KEPT_BY_MANAGER,
     "The interface's network manager has no way to give back a lease short of disconnecting "
     "the interface; the lease is kept, and a renewal asks the server for a new one."},
    {ERROR_DHCP_NOT_FROM_HELPER,
     "This interface's DHCP client can only renew by being started again, which the "
     "privileged helper does not do; run the renewal as root, or let NetworkManager or "
     "systemd-networkd manage the interface."},
    {ERROR_DHCP_MANAGER_REFUSED,
     "The interface's network manager (NetworkManager or systemd-networkd) refused to renew "
     "the lease: it runs no DHCP there now, or the interface has no active connection. The "
     "lease was not renewed."},
    {ERROR_WOULD_DELETE_OTHERS,
     "Deleting this address would delete the other addresses of its network with it, and the "
     "interface could not be set to keep them; nothing was deleted."},
    {ERROR_HELPER_NOT_ALLOWED,
     "You are not allowed to make this change: polkit refused it. An administrator can allow "
     "it with a polkit rule (see /usr/share/doc/corvane/README.md)."},
    {ERROR_HELPER_NOT_AUTHENTICATED,
     "The change was not authorised: the password prompt was dismissed, or no authentication "
     "agent runs in this session to ask for one."},
    {ERROR_HELPER_FAILED,
     "The corvane-helper service failed to make the change: it did not start or did not "
     "answer (see journalctl -u corvane-helper)."},
    {0xFFFFFFFFu, ""},
}};

} // namespace

QString resultText(uint32_t code) {
    for (const auto& [c, text] : texts)
        if (c == code && *text)
            return QString::fromUtf8(text);
    return QStringLiteral("Unknown error %1 (0x%2).").arg(code).arg(code, 8, 16, QLatin1Char('0'));
}

} // namespace corvane
