/* The C interface of the process snapshot stand-in library (libcorvane-toolhelp.so). */
#ifndef CORVANE_TLHELP32_H
#define CORVANE_TLHELP32_H

/* C records for C callers too: plain typedefs on purpose. */
/* NOLINTBEGIN(modernize-use-using) */

#include "corvane_result.h"
#include "corvane_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TH32CS_SNAPPROCESS 0x00000002u
#define MAX_PATH 260

/* 296 bytes: th32DefaultHeapID stays 32 bits wide so the size matches what callers pass. */
typedef struct PROCESSENTRY32 {
    DWORD dwSize;
    DWORD cntUsage;
    DWORD th32ProcessID;
    DWORD th32DefaultHeapID;
    DWORD th32ModuleID;
    DWORD cntThreads;
    DWORD th32ParentProcessID;
    LONG pcPriClassBase;
    DWORD dwFlags;
    char szExeFile[MAX_PATH]; /* executable's file name, e.g. "sshd" */
} PROCESSENTRY32;

/* Returns INVALID_HANDLE_VALUE on failure. Processes the caller may not inspect are absent. */
CORVANE_API HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId);
/* Both return non-zero when *entry was filled; entry->dwSize must be at least 296. */
CORVANE_API BOOL Process32First(HANDLE snapshot, PROCESSENTRY32* entry);
CORVANE_API BOOL Process32Next(HANDLE snapshot, PROCESSENTRY32* entry);
CORVANE_API BOOL CloseHandle(HANDLE handle);

#ifdef __cplusplus
}
#endif

/* NOLINTEND(modernize-use-using) */

#endif
