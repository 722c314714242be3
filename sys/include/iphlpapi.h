/* The C interface of the IP Helper stand-in library (libcorvane-iphlpapi.so).
 *
 * Records keep the field names and, where they hold no pointers, the sizes the program
 * expects (a MIB_IFROW is 860 bytes). Addresses are IPv4 in network byte order; ports are
 * in network byte order in the low 16 bits of their 32-bit field. Every entry point returns
 * a code from corvane_result.h, never a raw errno.
 *
 * Both families: GetAdaptersAddresses and GetPerAdapterInfo stay IPv4 as they were. An
 * adapter's IPv6 addresses come from GetUnicastIpAddressTable, its IPv6 gateways from
 * GetIpForwardTable2 (the main table's ::/0 rows through it), its DNS servers of both
 * families from CorvaneGetDnsServerTable. */
#ifndef CORVANE_IPHLPAPI_H
#define CORVANE_IPHLPAPI_H

/* C records for C callers too: plain typedefs on purpose. */
/* NOLINTBEGIN(modernize-use-using) */

#include "corvane_result.h"
#include "corvane_types.h"

#include <netinet/in.h>

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

/* ---- both families: the later generation of the tables ----
 * Addresses are SOCKADDR_INET in this system's layout (sin_family/sin6_family AF_INET or
 * AF_INET6, addresses in network byte order, sin6_scope_id the zone); family numbers are this
 * system's (AF_INET6 is 10). These tables are allocated by the library and released with
 * FreeMibTable; GetExtendedTcpTable and GetExtendedUdpTable keep the two-call protocol. */

typedef struct sockaddr_in SOCKADDR_IN;
typedef struct sockaddr_in6 SOCKADDR_IN6;

typedef union SOCKADDR_INET {
    SOCKADDR_IN Ipv4;
    SOCKADDR_IN6 Ipv6;
    ADDRESS_FAMILY si_family;
} SOCKADDR_INET;

typedef ULONG NET_IFINDEX;

/* Only NetLuidIndex is filled: the interface index. */
typedef union NET_LUID {
    ULONG64 Value;
    struct {
        ULONG64 Reserved : 24;
        ULONG64 NetLuidIndex : 24;
        ULONG64 IfType : 16;
    } Info;
} NET_LUID;

typedef struct IP_ADDRESS_PREFIX {
    SOCKADDR_INET Prefix;
    UINT8 PrefixLength;
} IP_ADDRESS_PREFIX;

#define INFINITE_LIFETIME 0xFFFFFFFFu

/* The kernel keeps no origin for most addresses: a permanent address counts as manual, an
 * IPv4 one with a lifetime as DHCP, an IPv6 one with a lifetime as router advertisement
 * unless the kernel names its origin. */
typedef enum NL_PREFIX_ORIGIN {
    IpPrefixOriginOther = 0,
    IpPrefixOriginManual = 1,
    IpPrefixOriginWellKnown = 2,
    IpPrefixOriginDhcp = 3,
    IpPrefixOriginRouterAdvertisement = 4,
    IpPrefixOriginUnchanged = 16
} NL_PREFIX_ORIGIN;

/* IpSuffixOriginRandom: a temporary (privacy) address. */
typedef enum NL_SUFFIX_ORIGIN {
    IpSuffixOriginOther = 0,
    IpSuffixOriginManual = 1,
    IpSuffixOriginWellKnown = 2,
    IpSuffixOriginDhcp = 3,
    IpSuffixOriginLinkLayerAddress = 4,
    IpSuffixOriginRandom = 5,
    IpSuffixOriginUnchanged = 16
} NL_SUFFIX_ORIGIN;

typedef enum NL_DAD_STATE {
    IpDadStateInvalid = 0,
    IpDadStateTentative = 1, /* duplicate address detection still running (or optimistic) */
    IpDadStateDuplicate = 2, /* detection failed */
    IpDadStateDeprecated = 3,
    IpDadStatePreferred = 4
} NL_DAD_STATE;

typedef enum SCOPE_LEVEL {
    ScopeLevelInterface = 1, /* host: loopback addresses */
    ScopeLevelLink = 2,
    ScopeLevelSubnet = 3,
    ScopeLevelAdmin = 4,
    ScopeLevelSite = 5,
    ScopeLevelOrganization = 8,
    ScopeLevelGlobal = 14
} SCOPE_LEVEL;

/* Zone: the interface index for link scope, else 0. */
typedef struct SCOPE_ID {
    ULONG Zone : 28;
    ULONG Level : 4;
} SCOPE_ID;

typedef struct MIB_UNICASTIPADDRESS_ROW {
    SOCKADDR_INET Address; /* this host's address (IFA_LOCAL on point-to-point links) */
    NET_LUID InterfaceLuid;
    NET_IFINDEX InterfaceIndex;
    NL_PREFIX_ORIGIN PrefixOrigin;
    NL_SUFFIX_ORIGIN SuffixOrigin;
    ULONG ValidLifetime;     /* seconds left, INFINITE_LIFETIME for ever */
    ULONG PreferredLifetime; /* seconds left, INFINITE_LIFETIME for ever */
    UINT8 OnLinkPrefixLength;
    BOOLEAN SkipAsSource; /* never chosen as a source: deprecated, tentative or failed */
    NL_DAD_STATE DadState;
    SCOPE_ID ScopeId;
    INT64 CreationTimeStamp; /* hundredths of a second since boot */
} MIB_UNICASTIPADDRESS_ROW;

typedef struct MIB_UNICASTIPADDRESS_TABLE {
    ULONG NumEntries;
    MIB_UNICASTIPADDRESS_ROW Table[1];
} MIB_UNICASTIPADDRESS_TABLE;

/* Protocol: the MIB_IPPROTO_* numbers of dwForwardProto, mapped as for GetIpForwardTable. */
typedef ULONG NL_ROUTE_PROTOCOL;

typedef enum NL_ROUTE_ORIGIN {
    NlroManual = 0,
    NlroWellKnown = 1, /* the kernel's own: of an address or a link */
    NlroDHCP = 2,
    NlroRouterAdvertisement = 3,
    Nlro6to4 = 4
} NL_ROUTE_ORIGIN;

/* One row per next hop. NextHop is the unspecified address of the route's family for an
 * on-link route; it may be of the other family (an IPv4 route via an IPv6 router). The
 * per-adapter IPv6 gateways are the main table's ::/0 rows through the adapter. */
typedef struct MIB_IPFORWARD_ROW2 {
    NET_LUID InterfaceLuid;
    NET_IFINDEX InterfaceIndex;
    IP_ADDRESS_PREFIX DestinationPrefix;
    SOCKADDR_INET NextHop;
    UCHAR SitePrefixLength;
    ULONG ValidLifetime; /* seconds left, INFINITE_LIFETIME for ever */
    ULONG PreferredLifetime;
    ULONG Metric;
    NL_ROUTE_PROTOCOL Protocol;
    BOOLEAN Loopback; /* a route to one of this host's addresses */
    BOOLEAN AutoconfigureAddress;
    BOOLEAN Publish;
    BOOLEAN Immortal; /* no expiry */
    ULONG Age;
    NL_ROUTE_ORIGIN Origin;
} MIB_IPFORWARD_ROW2;

typedef struct MIB_IPFORWARD_TABLE2 {
    ULONG NumEntries;
    MIB_IPFORWARD_ROW2 Table[1];
} MIB_IPFORWARD_TABLE2;

typedef enum TCP_TABLE_CLASS {
    TCP_TABLE_BASIC_LISTENER,
    TCP_TABLE_BASIC_CONNECTIONS,
    TCP_TABLE_BASIC_ALL,
    TCP_TABLE_OWNER_PID_LISTENER,
    TCP_TABLE_OWNER_PID_CONNECTIONS,
    TCP_TABLE_OWNER_PID_ALL,
    TCP_TABLE_OWNER_MODULE_LISTENER,
    TCP_TABLE_OWNER_MODULE_CONNECTIONS,
    TCP_TABLE_OWNER_MODULE_ALL,
    /* Corvane's own: MIB_TCP6TABLE_OWNER_PID rows with the socket's flags (IPv6 only) */
    CORVANE_TCP_TABLE_OWNER_PID_FLAGS_ALL = 0x100
} TCP_TABLE_CLASS;

typedef enum UDP_TABLE_CLASS {
    UDP_TABLE_BASIC,
    UDP_TABLE_OWNER_PID,
    UDP_TABLE_OWNER_MODULE,
    /* Corvane's own: MIB_UDP6TABLE_OWNER_PID rows with the socket's flags (IPv6 only) */
    CORVANE_UDP_TABLE_OWNER_PID_FLAGS = 0x100
} UDP_TABLE_CLASS;

typedef struct MIB_TCPROW_OWNER_PID {
    DWORD dwState;
    DWORD dwLocalAddr;
    DWORD dwLocalPort;
    DWORD dwRemoteAddr;
    DWORD dwRemotePort;
    DWORD dwOwningPid; /* 0 when no process this user may look into holds it */
} MIB_TCPROW_OWNER_PID;

typedef struct MIB_TCPTABLE_OWNER_PID {
    DWORD dwNumEntries;
    MIB_TCPROW_OWNER_PID table[1];
} MIB_TCPTABLE_OWNER_PID;

/* An IPv6 socket also serves IPv4 unless it is IPv6-only; its IPv4 peers show as
 * ::ffff:a.b.c.d. Scope ids: the bound interface for link-local addresses, else 0. */
typedef struct MIB_TCP6ROW_OWNER_PID {
    UCHAR ucLocalAddr[16];
    DWORD dwLocalScopeId;
    DWORD dwLocalPort;
    UCHAR ucRemoteAddr[16];
    DWORD dwRemoteScopeId;
    DWORD dwRemotePort;
    DWORD dwState;
    DWORD dwOwningPid;
} MIB_TCP6ROW_OWNER_PID;

typedef struct MIB_TCP6TABLE_OWNER_PID {
    DWORD dwNumEntries;
    MIB_TCP6ROW_OWNER_PID table[1];
} MIB_TCP6TABLE_OWNER_PID;

typedef struct MIB_UDPROW_OWNER_PID {
    DWORD dwLocalAddr;
    DWORD dwLocalPort;
    DWORD dwOwningPid;
} MIB_UDPROW_OWNER_PID;

typedef struct MIB_UDPTABLE_OWNER_PID {
    DWORD dwNumEntries;
    MIB_UDPROW_OWNER_PID table[1];
} MIB_UDPTABLE_OWNER_PID;

typedef struct MIB_UDP6ROW_OWNER_PID {
    UCHAR ucLocalAddr[16];
    DWORD dwLocalScopeId;
    DWORD dwLocalPort;
    DWORD dwOwningPid;
} MIB_UDP6ROW_OWNER_PID;

typedef struct MIB_UDP6TABLE_OWNER_PID {
    DWORD dwNumEntries;
    MIB_UDP6ROW_OWNER_PID table[1];
} MIB_UDP6TABLE_OWNER_PID;

/* Corvane's own socket flags. */
#define CORVANE_SOCKET_V6ONLY 0x1u /* an IPv6 socket that does not serve IPv4 */

typedef struct CORVANE_TCP6ROW_OWNER_PID_FLAGS {
    MIB_TCP6ROW_OWNER_PID Row;
    DWORD dwFlags;
} CORVANE_TCP6ROW_OWNER_PID_FLAGS;

typedef struct CORVANE_TCP6TABLE_OWNER_PID_FLAGS {
    DWORD dwNumEntries;
    CORVANE_TCP6ROW_OWNER_PID_FLAGS table[1];
} CORVANE_TCP6TABLE_OWNER_PID_FLAGS;

typedef struct CORVANE_UDP6ROW_OWNER_PID_FLAGS {
    MIB_UDP6ROW_OWNER_PID Row;
    DWORD dwFlags;
} CORVANE_UDP6ROW_OWNER_PID_FLAGS;

typedef struct CORVANE_UDP6TABLE_OWNER_PID_FLAGS {
    DWORD dwNumEntries;
    CORVANE_UDP6ROW_OWNER_PID_FLAGS table[1];
} CORVANE_UDP6TABLE_OWNER_PID_FLAGS;

/* ---- Corvane's own: every routing table, the policy rules, table names, DNS servers ---- */

/* Table numbers as the kernel has them. */
#define CORVANE_ALL_TABLES 0u
#define CORVANE_TABLE_DEFAULT 253u
#define CORVANE_TABLE_MAIN 254u
#define CORVANE_TABLE_LOCAL 255u

/* Route types (the kernel's RTN_* numbers). */
#define CORVANE_ROUTE_UNICAST 1
#define CORVANE_ROUTE_LOCAL 2
#define CORVANE_ROUTE_BROADCAST 3
#define CORVANE_ROUTE_ANYCAST 4
#define CORVANE_ROUTE_MULTICAST 5
#define CORVANE_ROUTE_BLACKHOLE 6
#define CORVANE_ROUTE_UNREACHABLE 7
#define CORVANE_ROUTE_PROHIBIT 8
#define CORVANE_ROUTE_THROW 9

/* One row per next hop, as in MIB_IPFORWARD_TABLE2. */
typedef struct CORVANE_ROUTE_ROW {
    MIB_IPFORWARD_ROW2 Route;
    ULONG Table;          /* kernel table number */
    UCHAR Type;           /* CORVANE_ROUTE_* */
    UCHAR KernelProtocol; /* the kernel's RTPROT_* number: 2 kernel, 3 boot, 4 static ... */
    UCHAR Tos;
    UCHAR Scope;                   /* the kernel's RT_SCOPE_*: 0 universe, 253 link, 254 host */
    UCHAR Weight;                  /* of a multipath next hop, 1 for plain routes */
    SOCKADDR_INET PreferredSource; /* family 0 when the route names none */
} CORVANE_ROUTE_ROW;

typedef struct CORVANE_ROUTE_TABLE {
    ULONG NumEntries;
    CORVANE_ROUTE_ROW Table[1];
} CORVANE_ROUTE_TABLE;

/* Rule actions (the kernel's FR_ACT_* numbers). */
#define CORVANE_RULE_TO_TABLE 1
#define CORVANE_RULE_GOTO 2
#define CORVANE_RULE_NOP 3
#define CORVANE_RULE_BLACKHOLE 6
#define CORVANE_RULE_UNREACHABLE 7
#define CORVANE_RULE_PROHIBIT 8

/* Rule flags */
#define CORVANE_RULE_INVERT 0x2u /* "not": the selectors must not match */

#define CORVANE_IFNAME_SIZE 16

/* A selector left out is empty: prefix length 0 with family 0, FwMark and FwMask 0, an empty
 * interface name, port and uid ranges with start and end 0. */
typedef struct CORVANE_RULE_ROW {
    ADDRESS_FAMILY Family;
    UCHAR Action; /* CORVANE_RULE_* */
    UCHAR Tos;
    ULONG Priority;
    ULONG Table; /* of a CORVANE_RULE_TO_TABLE rule */
    ULONG Goto;  /* the priority a CORVANE_RULE_GOTO rule continues at */
    ULONG Flags; /* CORVANE_RULE_* flags */
    IP_ADDRESS_PREFIX Source;
    IP_ADDRESS_PREFIX Destination;
    ULONG FwMark;
    ULONG FwMask; /* 0xFFFFFFFF when the rule names a mark without a mask */
    char InInterface[CORVANE_IFNAME_SIZE];  /* zero-terminated */
    char OutInterface[CORVANE_IFNAME_SIZE]; /* zero-terminated */
    UCHAR IpProtocol;                       /* 0 any */
    UCHAR L3mdev; /* 1: the table of the VRF device the packet came through */
    USHORT SourcePortStart, SourcePortEnd;
    USHORT DestinationPortStart, DestinationPortEnd;
    ULONG UidStart, UidEnd;
    LONG SuppressPrefixLength; /* -1 when not set */
    LONG SuppressIfGroup;      /* -1 when not set */
} CORVANE_RULE_ROW;

typedef struct CORVANE_RULE_TABLE {
    ULONG NumEntries;
    CORVANE_RULE_ROW Table[1];
} CORVANE_RULE_TABLE;

#define CORVANE_TABLE_NAME_SIZE 64

typedef struct CORVANE_TABLE_NAME_ROW {
    ULONG Id;
    char Name[CORVANE_TABLE_NAME_SIZE]; /* zero-terminated, printable ASCII without blanks */
} CORVANE_TABLE_NAME_ROW;

typedef struct CORVANE_TABLE_NAME_TABLE {
    ULONG NumEntries;
    CORVANE_TABLE_NAME_ROW Table[1];
} CORVANE_TABLE_NAME_TABLE;

/* InterfaceIndex 0: the system-wide servers, used by links that have none of their own. */
typedef struct CORVANE_DNS_SERVER_ROW {
    NET_IFINDEX InterfaceIndex;
    SOCKADDR_INET Address; /* sin6_scope_id set for a link-local server */
} CORVANE_DNS_SERVER_ROW;

typedef struct CORVANE_DNS_SERVER_TABLE {
    ULONG NumEntries;
    CORVANE_DNS_SERVER_ROW Table[1];
} CORVANE_DNS_SERVER_TABLE;

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
/* Corvane's own: the number of changes to the rows dwNumRoutes counts, and to IPv6 routes and
 * routes of other tables, seen since the library was loaded (wrapping). A removal and an addition
 * between two calls leave dwNumRoutes as it was but not this number. Callers treat its absence as
 * "no more than the counts". */
CORVANE_API DWORD GetRouteChangeCount(DWORD* changes);

CORVANE_API DWORD GetTcpTable(MIB_TCPTABLE* table, DWORD* size, BOOL sorted);
CORVANE_API DWORD GetUdpTable(MIB_UDPTABLE* table, DWORD* size, BOOL sorted);
/* The table is allocated with malloc(); the caller releases it with free(). "heap" is
 * accepted for the callers' sake and ignored; family must be 2 (IPv4). */
CORVANE_API DWORD AllocateAndGetTcpExTableFromStack(void** table, BOOL sorted, HANDLE heap,
                                                    DWORD flags, DWORD family);
CORVANE_API DWORD AllocateAndGetUdpExTableFromStack(void** table, BOOL sorted, HANDLE heap,
                                                    DWORD flags, DWORD family);
/* Corvane's own. Begins, on a thread of its own, the longest reads of a refresh: the forward
 * table (as GetIpForwardTable sorted gives it), then the pass over every process's open
 * files that the socket tables with owners make. Called before the other reads, they run
 * beside them; a read of either soon after waits for it and uses it under the terms it
 * always keeps (nothing announced since; every socket of the table seen). Returns at once;
 * NO_ERROR. */
CORVANE_API DWORD CorvaneWarmReads(void);

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

/* Corvane's own: count rows that differ only in destination and mask added through the
 * privileged helper in few requests, each authorised once; results[i] receives row i's code.
 * persistent: the helper also stores the added routes for boot, and *storeResult receives the
 * store's code (NO_ERROR when not persistent). NO_ERROR when the helper answered for every
 * row; ERROR_NOT_SUPPORTED, nothing done, where this process makes changes itself or no
 * helper is there (the caller adds each row with SetIpForwardEntry); another code when the
 * helper refused a request whole: the rows from there on have it in results. */
CORVANE_API DWORD CorvaneAddIpForwardEntries(const MIB_IPFORWARDROW* rows, DWORD count,
                                             BOOL persistent, DWORD* results, DWORD* storeResult);

/* The later generation. family: AF_INET, AF_INET6 or (where a table holds both) AF_UNSPEC;
 * anything else is ERROR_INVALID_PARAMETER. Allocated tables: *table is null on failure and
 * released with FreeMibTable. The forward table lists the main and the local table of each
 * family, as GetIpForwardTable does. Reads need no privilege. */
CORVANE_API DWORD GetExtendedTcpTable(void* table, DWORD* size, BOOL sorted, ULONG family,
                                      TCP_TABLE_CLASS tableClass, ULONG reserved);
CORVANE_API DWORD GetExtendedUdpTable(void* table, DWORD* size, BOOL sorted, ULONG family,
                                      UDP_TABLE_CLASS tableClass, ULONG reserved);
CORVANE_API DWORD GetUnicastIpAddressTable(ADDRESS_FAMILY family,
                                           MIB_UNICASTIPADDRESS_TABLE** table);
CORVANE_API DWORD GetIpForwardTable2(ADDRESS_FAMILY family, MIB_IPFORWARD_TABLE2** table);
CORVANE_API void FreeMibTable(void* memory);
/* Make or remove one route of either family in the main table (removal also finds it in the
 * local table, where GetIpForwardTable2 lists it too). Read: InterfaceIndex,
 * DestinationPrefix, NextHop (the unspecified address, or family 0, for a route on the
 * link; a link-local IPv6 next hop is on InterfaceIndex) and Metric. A removal whose Metric
 * is 0 or 0xFFFFFFFF and fits no route by it takes the one route that fits the rest. Routes
 * made are static routes. ERROR_INVALID_PARAMETER for a next hop of another family or host
 * bits outside the prefix, ERROR_INVALID_NETMASK for a prefix longer than the family's. */
CORVANE_API DWORD CreateIpForwardEntry2(const MIB_IPFORWARD_ROW2* row);
CORVANE_API DWORD DeleteIpForwardEntry2(const MIB_IPFORWARD_ROW2* row);

/* Corvane's own. Routes of one kernel table (tableId) or of all (CORVANE_ALL_TABLES), in the
 * kernel's order, IPv4 before IPv6 for AF_UNSPEC. */
CORVANE_API DWORD CorvaneGetRouteTable(ADDRESS_FAMILY family, ULONG tableId,
                                       CORVANE_ROUTE_TABLE** table);
/* Corvane's own. As CorvaneGetRouteTable for every table but the main one: with the forward
 * table, which holds the main and the local table, the IPv4 routes of every table. The IPv4
 * rows come from the forward table's own read while nothing has changed since: a read of
 * every table then dumps a big main table once. */
CORVANE_API DWORD CorvaneGetRouteTableExceptMain(ADDRESS_FAMILY family,
                                                 CORVANE_ROUTE_TABLE** table);
/* The policy rules in the kernel's order (by priority), IPv4 before IPv6 for AF_UNSPEC. */
CORVANE_API DWORD CorvaneGetRuleTable(ADDRESS_FAMILY family, CORVANE_RULE_TABLE** table);
/* The names of routing tables: /etc/iproute2/rt_tables, then rt_tables.d/<name>.conf in name
 * order (CORVANE_RT_TABLES_DIR names another folder), then the kernel's own three names
 * (local, main, default) where no file named those numbers. The first name given for a
 * number is its name; rows are sorted by number. Files that are links, not regular, writable
 * by others or larger than 64 KiB are skipped. */
CORVANE_API DWORD CorvaneGetRouteTableNames(CORVANE_TABLE_NAME_TABLE** table);
/* The DNS servers of both families: each link's own (from the resolver service's per-link
 * state), then the system-wide ones (InterfaceIndex 0), each in configured order. */
CORVANE_API DWORD CorvaneGetDnsServerTable(ADDRESS_FAMILY family, CORVANE_DNS_SERVER_TABLE** table);
/* Corvane's own: CreateIpForwardEntry2 and DeleteIpForwardEntry2 in the kernel table tableId
 * alone. Table 0 (none) is refused; so is a route made in the local table (255), which holds
 * the kernel's routes of this host's addresses, though one may be removed from it. */
CORVANE_API DWORD CorvaneCreateRouteInTable(const MIB_IPFORWARD_ROW2* row, ULONG tableId);
CORVANE_API DWORD CorvaneDeleteRouteInTable(const MIB_IPFORWARD_ROW2* row, ULONG tableId);

#ifdef __cplusplus
}
#endif

/* NOLINTEND(modernize-use-using) */

#endif
