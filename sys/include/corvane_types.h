/* Fixed-width scalar types shared by the stand-in interfaces. */
#ifndef CORVANE_TYPES_H
#define CORVANE_TYPES_H

/* C records for C callers too: plain typedefs on purpose. */
/* NOLINTBEGIN(modernize-use-using) */

#include <stdint.h> /* NOLINT(modernize-deprecated-headers): also a C header */

typedef uint8_t BYTE;
typedef uint8_t UCHAR;
typedef uint8_t UINT8;
typedef uint8_t BOOLEAN;
typedef uint16_t USHORT;
typedef uint16_t WCHAR; /* UTF-16 code unit; Linux's wchar_t is 32 bits wide */
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef int32_t BOOL;
typedef int64_t INT64;
typedef uint64_t ULONG64;
typedef uint32_t IPAddr; /* IPv4 address, network byte order */
typedef uint32_t IPMask; /* IPv4 mask, network byte order */
typedef void* HANDLE;
typedef uint16_t ADDRESS_FAMILY; /* AF_INET, AF_INET6, AF_UNSPEC: this system's numbers */

/* Entry points are the only symbols the stand-in libraries export. */
#define CORVANE_API __attribute__((visibility("default")))

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

/* NOLINTEND(modernize-use-using) */

#endif
