/* Result codes of every stand-in entry point: one code space, independent of errno
 * (errno 122 is EDQUOT, not "insufficient buffer"). */
#ifndef CORVANE_RESULT_H
#define CORVANE_RESULT_H

#define NO_ERROR 0u
#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_ACCESS_DENIED 5u /* the change needs root or CAP_NET_ADMIN */
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_INVALID_DATA 13u
#define ERROR_NO_MORE_FILES 18u
#define ERROR_GEN_FAILURE 31u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_DEV_NOT_EXIST 55u /* the interface does not exist (any more) */
#define ERROR_BAD_NET_NAME 67u  /* no hardware address for that neighbour */
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_BUFFER_OVERFLOW 111u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_PROC_NOT_FOUND 127u /* the entry point is absent from the library */
#define ERROR_BUSY 170u
#define ERROR_NO_DATA 232u
#define ERROR_CAN_NOT_COMPLETE 1003u
#define ERROR_NOT_FOUND 1168u
#define ERROR_NETWORK_UNREACHABLE 1231u
#define ERROR_TIMEOUT 1460u
#define ERROR_OBJECT_ALREADY_EXISTS 5010u
/* Codes of this platform with no older counterpart. */
#define ERROR_INVALID_NETMASK 0x20000001u      /* mask bits are not contiguous */
#define ERROR_INVALID_NTE_CONTEXT 0x20000002u  /* no address with that context */
#define ERROR_NO_DHCP_CLIENT 0x20000003u       /* no DHCP client manages the interface */
#define ERROR_DHCP_CLIENT_FAILED 0x20000004u   /* the DHCP client ran but reported failure */
#define ERROR_KERNEL_REJECTED 0x20000005u      /* netlink refused the request for another reason */
#define ERROR_ROUTE_AMBIGUOUS 0x20000006u      /* several routes fit the row; none was changed */
#define ERROR_DHCP_NO_ANSWER 0x20000007u       /* no DHCP server answered; the lease is kept */
#define ERROR_DHCP_KEPT_BY_MANAGER 0x20000008u /* the manager has no release; renewal follows */
#define ERROR_DHCP_NOT_FROM_HELPER 0x20000009u /* the client would be started inside the helper */
#define ERROR_DHCP_MANAGER_REFUSED 0x2000000Au /* the network manager refused the renewal */
#define ERROR_WOULD_DELETE_OTHERS 0x20000010u  /* the delete would take other addresses along */
/* The privileged helper's answers when it refuses or cannot make a change. (Not installed
 * at all, the change is tried here and meets ERROR_ACCESS_DENIED.) */
#define ERROR_HELPER_NOT_ALLOWED 0x20000011u       /* polkit does not allow this user the change */
#define ERROR_HELPER_NOT_AUTHENTICATED 0x20000012u /* dismissed, or no agent could ask */
#define ERROR_HELPER_FAILED 0x20000013u            /* installed, but did not start or answer */

#endif
