/* The C interface of the IP Helper stand-in library (libcorvane-iphlpapi.so).
 *
 * Records keep the field names and, where they hold no pointers, the sizes the program
 * expects (a MIB_IFROW is 860 bytes). Addresses are IPv4 in network byte order; ports are
 * in network byte order in the low 16 bits of their 32-bit field. Every entry point returns
 * a code from corvane_result.h, never a raw errno. */
#ifndef CORVANE_IPHLPAPI_H
#define CORVANE_IPHLPAPI_H

/* C records for C callers too: plain typedefs on purpose. */
/* NOLINTBEGIN(modernize-use-using) */

#include "corvane_result.h"
#include "corvane_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- interface table ---- */

#define MAX_INTERFACE_NAME_LEN 256
#define MAXLEN_PHYSADDR 8
#define MAXLEN_IFDESCR 256

/* dwType values the library reports */
#define IF_TYPE_OTHER 1
#define IF_TYPE_ETHERNET_CSMACD 6
#define IF_TYPE_ISO88025_TOKENRING 9
#define IF_TYPE_FDDI 15
#define IF_TYPE_PPP 23
#define IF_TYPE_SOFTWARE_LOOPBACK 24
#define IF_TYPE_SLIP 28
#define IF_TYPE_IEEE80211 71
#define IF_TYPE_TUNNEL 131

/* dwAdminStatus */
#define MIB_IF_ADMIN_STATUS_UP 1
#define MIB_IF_ADMIN_STATUS_DOWN 2
#define MIB_IF_ADMIN_STATUS_TESTING 3

/* dwOperStatus */
#define MIB_IF_OPER_STATUS_NON_OPERATIONAL 0
#define MIB_IF_OPER_STATUS_UNREACHABLE 1
#define MIB_IF_OPER_STATUS_DISCONNECTED 2
#define MIB_IF_OPER_STATUS_CONNECTING 3
#define MIB_IF_OPER_STATUS_CONNECTED 4
#define MIB_IF_OPER_STATUS_OPERATIONAL 5

typedef struct MIB_IFROW {
    WCHAR wszName[MAX_INTERFACE_NAME_LEN];
    DWORD dwIndex;
    DWORD dwType;
    DWORD dwMtu;
    DWORD dwSpeed; /* bit/s, clamped to 32 bits */
    DWORD dwPhysAddrLen;
    BYTE bPhysAddr[MAXLEN_PHYSADDR];
    DWORD dwAdminStatus;
    DWORD dwOperStatus;
    DWORD dwLastChange;
    DWORD dwInOctets; /* counters wrap modulo 2^32 */
    DWORD dwInUcastPkts;
    DWORD dwInNUcastPkts;
    DWORD dwInDiscards;
    DWORD dwInErrors;
    DWORD dwInUnknownProtos;
    DWORD dwOutOctets;
    DWORD dwOutUcastPkts;
    DWORD dwOutNUcastPkts;
    DWORD dwOutDiscards;
    DWORD dwOutErrors;
    DWORD dwOutQLen;
    DWORD dwDescrLen;
    BYTE bDescr[MAXLEN_IFDESCR];
} MIB_IFROW;

typedef struct MIB_IFTABLE {
    DWORD dwNumEntries;
    MIB_IFROW table[1];
} MIB_IFTABLE;

/* ---- routing table ---- */

/* dwForwardType */
#define MIB_IPROUTE_TYPE_OTHER 1
#define MIB_IPROUTE_TYPE_INVALID 2
#define MIB_IPROUTE_TYPE_DIRECT 3
#define MIB_IPROUTE_TYPE_INDIRECT 4

/* dwForwardProto */
#define MIB_IPPROTO_OTHER 1
#define MIB_IPPROTO_LOCAL 2
#define MIB_IPPROTO_NETMGMT 3
#define MIB_IPPROTO_ICMP 4
#define MIB_IPPROTO_EGP 5
#define MIB_IPPROTO_GGP 6
#define MIB_IPPROTO_HELLO 7
#define MIB_IPPROTO_RIP 8
#define MIB_IPPROTO_IS_IS 9
#define MIB_IPPROTO_ES_IS 10
#define MIB_IPPROTO_CISCO 11
#define MIB_IPPROTO_BBN 12
#define MIB_IPPROTO_OSPF 13
#define MIB_IPPROTO_BGP 14

typedef struct MIB_IPFORWARDROW {
    DWORD dwForwardDest;
    DWORD dwForwardMask;
    DWORD dwForwardPolicy;
    DWORD dwForwardNextHop;
    DWORD dwForwardIfIndex;
    DWORD dwForwardType;
    DWORD dwForwardProto;
    DWORD dwForwardAge;
    DWORD dwForwardNextHopAS;
    DWORD dwForwardMetric1;
    DWORD dwForwardMetric2;
    DWORD dwForwardMetric3;
    DWORD dwForwardMetric4;
    DWORD dwForwardMetric5;
} MIB_IPFORWARDROW;

typedef struct MIB_IPFORWARDTABLE {
    DWORD dwNumEntries;
    MIB_IPFORWARDROW table[1];
} MIB_IPFORWARDTABLE;

/* ---- IP statistics ---- */

typedef struct MIB_IPSTATS {
    DWORD dwForwarding;
    DWORD dwDefaultTTL;
    DWORD dwInReceives;
    DWORD dwInHdrErrors;
    DWORD dwInAddrErrors;
    DWORD dwForwDatagrams;
    DWORD dwInUnknownProtos;
    DWORD dwInDiscards;
    DWORD dwInDelivers;
    DWORD dwOutRequests;
    DWORD dwRoutingDiscards;
    DWORD dwOutDiscards;
    DWORD dwOutNoRoutes;
    DWORD dwReasmTimeout;
    DWORD dwReasmReqds;
    DWORD dwReasmOks;
    DWORD dwReasmFails;
    DWORD dwFragOks;
    DWORD dwFragFails;
    DWORD dwFragCreates;
    DWORD dwNumIf;
    DWORD dwNumAddr;
    DWORD dwNumRoutes;
} MIB_IPSTATS;

/* ---- TCP and UDP endpoints ---- */

/* dwState */
#define MIB_TCP_STATE_CLOSED 1
#define MIB_TCP_STATE_LISTEN 2
#define MIB_TCP_STATE_SYN_SENT 3
#define MIB_TCP_STATE_SYN_RCVD 4
#define MIB_TCP_STATE_ESTAB 5
#define MIB_TCP_STATE_FIN_WAIT1 6
#define MIB_TCP_STATE_FIN_WAIT2 7
#define MIB_TCP_STATE_CLOSE_WAIT 8
#define MIB_TCP_STATE_CLOSING 9
#define MIB_TCP_STATE_LAST_ACK 10
#define MIB_TCP_STATE_TIME_WAIT 11
#define MIB_TCP_STATE_DELETE_TCB 12

typedef struct MIB_TCPROW {
    DWORD dwState;
    DWORD dwLocalAddr;
    DWORD dwLocalPort;
    DWORD dwRemoteAddr;
    DWORD dwRemotePort;
} MIB_TCPROW;

typedef struct MIB_TCPTABLE {
    DWORD dwNumEntries;
    MIB_TCPROW table[1];
} MIB_TCPTABLE;

typedef struct MIB_UDPROW {
    DWORD dwLocalAddr;
    DWORD dwLocalPort;
} MIB_UDPROW;

typedef struct MIB_UDPTABLE {
    DWORD dwNumEntries;
    MIB_UDPROW table[1];
} MIB_UDPTABLE;

typedef struct MIB_TCPEXROW {
    DWORD dwState;
    DWORD dwLocalAddr;
    DWORD dwLocalPort;
    DWORD dwRemoteAddr;
    DWORD dwRemotePort;
    DWORD dwProcessId;
} MIB_TCPEXROW;

typedef struct MIB_TCPEXTABLE {
    DWORD dwNumEntries;
    MIB_TCPEXROW table[1];
} MIB_TCPEXTABLE;

typedef struct MIB_UDPEXROW {
    DWORD dwLocalAddr;
    DWORD dwLocalPort;
    DWORD dwProcessId;
} MIB_UDPEXROW;

typedef struct MIB_UDPEXTABLE {
    DWORD dwNumEntries;
    MIB_UDPEXROW table[1];
} MIB_UDPEXTABLE;

/* ---- adapters and host parameters ---- */

#define MAX_HOSTNAME_LEN 128
#define MAX_DOMAIN_NAME_LEN 128
#define MAX_SCOPE_ID_LEN 256
#define MAX_ADAPTER_NAME_LENGTH 256
#define MAX_ADAPTER_DESCRIPTION_LENGTH 128
#define MAX_ADAPTER_ADDRESS_LENGTH 8
#define MAX_ADAPTER_NAME 128

/* Dotted-quad text, zero-terminated. */
typedef struct IP_ADDRESS_STRING {
    char String[16];
} IP_ADDRESS_STRING, IP_MASK_STRING;

typedef struct IP_ADDR_STRING {
    struct IP_ADDR_STRING* Next;
    IP_ADDRESS_STRING IpAddress;
    IP_MASK_STRING IpMask;
    DWORD Context; /* NTE context for addresses, metric for gateways */
} IP_ADDR_STRING;

/* NodeType */
#define BROADCAST_NODETYPE 1
#define PEER_TO_PEER_NODETYPE 2
#define MIXED_NODETYPE 4
#define HYBRID_NODETYPE 8

typedef struct FIXED_INFO {
    char HostName[MAX_HOSTNAME_LEN + 4];
    char DomainName[MAX_DOMAIN_NAME_LEN + 4];
    IP_ADDR_STRING* CurrentDnsServer;
    IP_ADDR_STRING DnsServerList;
    UINT NodeType;
    char ScopeId[MAX_SCOPE_ID_LEN + 4];
    UINT EnableRouting;
    UINT EnableProxy;
    UINT EnableDns;
} FIXED_INFO;

typedef struct IP_ADAPTER_INFO {
    struct IP_ADAPTER_INFO* Next;
    DWORD ComboIndex;
    char AdapterName[MAX_ADAPTER_NAME_LENGTH + 4];
    char Description[MAX_ADAPTER_DESCRIPTION_LENGTH + 4];
    UINT AddressLength;
    BYTE Address[MAX_ADAPTER_ADDRESS_LENGTH];
    DWORD Index;
    UINT Type;
    UINT DhcpEnabled;
    IP_ADDR_STRING* CurrentIpAddress;
    IP_ADDR_STRING IpAddressList;
    IP_ADDR_STRING GatewayList;
    IP_ADDR_STRING DhcpServer;
    BOOL HaveWins;
    IP_ADDR_STRING PrimaryWinsServer;
    IP_ADDR_STRING SecondaryWinsServer;
    INT64 LeaseObtained; /* seconds since the epoch, 0 when unknown */
    INT64 LeaseExpires;
} IP_ADAPTER_INFO;

typedef struct IP_ADAPTER_ADDRESSES {
    ULONG Length;
    DWORD IfIndex;
    struct IP_ADAPTER_ADDRESSES* Next;
    char* AdapterName;
    WCHAR* DnsSuffix;
    WCHAR* Description;
    WCHAR* FriendlyName;
    BYTE PhysicalAddress[MAX_ADAPTER_ADDRESS_LENGTH];
    DWORD PhysicalAddressLength;
    DWORD Mtu;
    DWORD IfType;
    DWORD OperStatus;
} IP_ADAPTER_ADDRESSES;

/* GetAdaptersAddresses family */
#define AF_UNSPEC_IPH 0
#define AF_INET_IPH 2

typedef struct IP_PER_ADAPTER_INFO {
    UINT AutoconfigEnabled;
    UINT AutoconfigActive;
    IP_ADDR_STRING* CurrentDnsServer;
    IP_ADDR_STRING DnsServerList;
} IP_PER_ADAPTER_INFO;

typedef struct IP_ADAPTER_INDEX_MAP {
    ULONG Index;
    WCHAR Name[MAX_ADAPTER_NAME];
} IP_ADAPTER_INDEX_MAP;

typedef struct IP_INTERFACE_INFO {
    LONG NumAdapters;
    IP_ADAPTER_INDEX_MAP Adapter[1];
} IP_INTERFACE_INFO;

/* ---- entry points ----
 * Tables and lists follow the two-call protocol: given a buffer too small (its size in
 * *size), they answer ERROR_INSUFFICIENT_BUFFER (tables) or ERROR_BUFFER_OVERFLOW (adapter
 * lists, host parameters) and store the size needed in *size. "sorted" sorts routes by
 * destination first, interfaces by index, sockets by local address and port. */

CORVANE_API DWORD GetNetworkParams(FIXED_INFO* info, ULONG* size);
CORVANE_API DWORD GetAdaptersInfo(IP_ADAPTER_INFO* info, ULONG* size);
CORVANE_API ULONG GetAdaptersAddresses(ULONG family, ULONG flags, void* reserved,
                                       IP_ADAPTER_ADDRESSES* list, ULONG* size);
CORVANE_API DWORD GetPerAdapterInfo(ULONG ifIndex, IP_PER_ADAPTER_INFO* info, ULONG* size);
CORVANE_API DWORD GetInterfaceInfo(IP_INTERFACE_INFO* info, ULONG* size);

CORVANE_API DWORD GetIfTable(MIB_IFTABLE* table, ULONG* size, BOOL sorted);
CORVANE_API DWORD GetIfEntry(MIB_IFROW* row); /* row->dwIndex in */
CORVANE_API DWORD SetIfEntry(MIB_IFROW* row); /* row->dwIndex and row->dwAdminStatus in */

CORVANE_API DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL sorted);
CORVANE_API DWORD SetIpForwardEntry(MIB_IPFORWARDROW* row);
CORVANE_API DWORD DeleteIpForwardEntry(MIB_IPFORWARDROW* row);

CORVANE_API DWORD GetIpStatistics(MIB_IPSTATS* stats);
/* Corvane's own: the number of changes to the rows dwNumRoutes counts, seen since the library
 * was loaded (wrapping). A removal and an addition between two calls leave dwNumRoutes as it
 * was but not this number. Callers treat its absence as "no more than the counts". */
CORVANE_API DWORD GetRouteChangeCount(DWORD* changes);

CORVANE_API DWORD GetTcpTable(MIB_TCPTABLE* table, DWORD* size, BOOL sorted);
CORVANE_API DWORD GetUdpTable(MIB_UDPTABLE* table, DWORD* size, BOOL sorted);
/* The table is allocated with malloc(); the caller releases it with free(). "heap" is
 * accepted for the callers' sake and ignored; family must be 2 (IPv4). */
CORVANE_API DWORD AllocateAndGetTcpExTableFromStack(void** table, BOOL sorted, HANDLE heap,
                                                    DWORD flags, DWORD family);
CORVANE_API DWORD AllocateAndGetUdpExTableFromStack(void** table, BOOL sorted, HANDLE heap,
                                                    DWORD flags, DWORD family);

CORVANE_API DWORD GetBestInterface(IPAddr destination, DWORD* ifIndex);
/* mac receives up to *length bytes of the hardware address; *length is set to its size. */
CORVANE_API DWORD SendARP(IPAddr destination, IPAddr source, void* mac, ULONG* length);

CORVANE_API DWORD AddIPAddress(IPAddr address, IPMask mask, DWORD ifIndex, ULONG* nteContext,
                               ULONG* nteInstance);
CORVANE_API DWORD DeleteIPAddress(ULONG nteContext);
CORVANE_API DWORD IpReleaseAddress(IP_ADAPTER_INDEX_MAP* adapter);
CORVANE_API DWORD IpRenewAddress(IP_ADAPTER_INDEX_MAP* adapter);

/* Corvane's own: where the library's calls to the privileged helper wait, since polkit may
 * ask the user for a password meanwhile. run(context, work, argument) must call
 * work(argument) exactly once, on any thread, before it returns, and must not unwind; NULL
 * runs the work on the calling thread again. Callers treat its absence as "the calls wait on
 * the calling thread". */
typedef void (*CORVANE_HELPER_WORK)(void* argument);
typedef void (*CORVANE_HELPER_RUNNER)(void* context, CORVANE_HELPER_WORK work, void* argument);
CORVANE_API DWORD SetHelperCallRunner(CORVANE_HELPER_RUNNER run, void* context);

#ifdef __cplusplus
}
#endif

/* NOLINTEND(modernize-use-using) */

#endif
