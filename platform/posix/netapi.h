// Network management calls that a host list needs, answered from the simulated network: every
// folder $XDG_CONFIG_HOME/norvane-opc-client/hosts/<name>/ is a host called <name>, and the local
// computer is one more. All hosts are in the one workgroup "WORKGROUP". The folder is read on
// every call, so hosts can come and go while the program runs.
#pragma once

#include "platform/posix/wintypes.h"

using NET_API_STATUS = DWORD;
using LMSTR = LPWSTR;
using LMCSTR = LPCWSTR;

#ifndef NERR_Success
#define NERR_Success 0
#endif
#define NERR_BASE 2100
#define NERR_InvalidComputer (NERR_BASE + 251)
#define MAX_PREFERRED_LENGTH ((DWORD)-1)

#define PLATFORM_ID_DOS 300
#define PLATFORM_ID_OS2 400
#define PLATFORM_ID_NT 500
#define PLATFORM_ID_OSF 600
#define PLATFORM_ID_VMS 700

#define SV_TYPE_WORKSTATION 0x00000001
#define SV_TYPE_SERVER 0x00000002
#define SV_TYPE_SQLSERVER 0x00000004
#define SV_TYPE_DOMAIN_CTRL 0x00000008
#define SV_TYPE_DOMAIN_BAKCTRL 0x00000010
#define SV_TYPE_TIME_SOURCE 0x00000020
#define SV_TYPE_AFP 0x00000040
#define SV_TYPE_NOVELL 0x00000080
#define SV_TYPE_DOMAIN_MEMBER 0x00000100
#define SV_TYPE_PRINTQ_SERVER 0x00000200
#define SV_TYPE_DIALIN_SERVER 0x00000400
#define SV_TYPE_XENIX_SERVER 0x00000800
#define SV_TYPE_NT 0x00001000
#define SV_TYPE_WFW 0x00002000
#define SV_TYPE_SERVER_NT 0x00008000
#define SV_TYPE_POTENTIAL_BROWSER 0x00010000
#define SV_TYPE_BACKUP_BROWSER 0x00020000
#define SV_TYPE_MASTER_BROWSER 0x00040000
#define SV_TYPE_DOMAIN_MASTER 0x00080000
#define SV_TYPE_LOCAL_LIST_ONLY 0x40000000
#define SV_TYPE_DOMAIN_ENUM 0x80000000
#define SV_TYPE_ALL 0xFFFFFFFF

struct SERVER_INFO_100 {
    DWORD sv100_platform_id;
    LMSTR sv100_name;
};
using PSERVER_INFO_100 = SERVER_INFO_100*;
using LPSERVER_INFO_100 = SERVER_INFO_100*;

struct WKSTA_INFO_100 {
    DWORD wki100_platform_id;
    LMSTR wki100_computername;
    LMSTR wki100_langroup;
    DWORD wki100_ver_major;
    DWORD wki100_ver_minor;
};
using PWKSTA_INFO_100 = WKSTA_INFO_100*;
using LPWKSTA_INFO_100 = WKSTA_INFO_100*;

static_assert(sizeof(SERVER_INFO_100) == 16);
static_assert(sizeof(WKSTA_INFO_100) == 32);

extern "C" {
// Level 100 only. Hosts are sorted by name without regard to case. servername may be empty,
// the local computer or a simulated host (all see the same network); another name fails with
// ERROR_BAD_NETPATH. A domain other than the workgroup fails with ERROR_NO_BROWSER_SERVERS_FOUND.
// resume_handle is ignored, as on Windows.
NET_API_STATUS NetServerEnum(LMCSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                             LPDWORD entriesread, LPDWORD totalentries, DWORD servertype, LMCSTR domain,
                             LPDWORD resume_handle);
// Level 100 of the local computer (servername NULL, empty or the local name) or of a simulated host.
NET_API_STATUS NetWkstaGetInfo(LMSTR servername, DWORD level, LPBYTE* bufptr);
NET_API_STATUS NetApiBufferAllocate(DWORD ByteCount, LPVOID* Buffer);
// Only buffers from these calls are accepted; anything else fails with ERROR_INVALID_PARAMETER.
NET_API_STATUS NetApiBufferFree(LPVOID Buffer);
}
