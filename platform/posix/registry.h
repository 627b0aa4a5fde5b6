// The read-only registry of the stand-in.
//
// HKEY_CLASSES_ROOT is assembled from registry-export text files (".reg": "Windows Registry
// Editor Version 5.00", UTF-8 or UTF-16LE with a byte-order mark, or "REGEDIT4"):
//   1. <prefix>/share/norvane-opc-client/registry/*.reg, the files installed with the program.
//      <prefix> is found from the folder holding libnvplatform.so: installed, that folder is
//      <prefix>/lib/<multiarch>/norvane-opc-client; in a build tree it is <build>/lib;
//   2. $XDG_CONFIG_HOME/norvane-opc-client/registry/*.reg (~/.config when unset), the user's.
// Files load in that order, each folder sorted by file name; a later value replaces an earlier
// one. HKEY_LOCAL_MACHINE\SOFTWARE\Classes is the same tree as HKEY_CLASSES_ROOT. A file that
// cannot be parsed is reported on stderr with its name and line number and contributes nothing;
// the other files still load.
//
// Simulated network: every folder $XDG_CONFIG_HOME/norvane-opc-client/hosts/<name>/ that holds
// .reg files is a host named <name> (letter case ignored) with a registry built from those files
// only. RegConnectRegistryW and CoCreateInstanceEx reach it by that name.
//
// Key and value names compare without regard to the case of ASCII letters (other letters must
// match exactly); subkeys enumerate in alphabetical order of their upper-case names, as Windows
// lists them. Handles stay valid across a reload and
// keep showing the registry they were opened on.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/wintypes.h"

// Predefined keys carry the Windows values (sign-extended 32-bit constants on x64).
#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))
#define HKEY_PERFORMANCE_DATA ((HKEY)(ULONG_PTR)((LONG)0x80000004))
#define HKEY_CURRENT_CONFIG ((HKEY)(ULONG_PTR)((LONG)0x80000005))

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_WOW64_RES 0x0300
#define READ_CONTROL 0x00020000L
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_ALL 0x001F0000L
#define SYNCHRONIZE 0x00100000L
#define MAXIMUM_ALLOWED 0x02000000L
#define KEY_READ \
    ((STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY) & (~SYNCHRONIZE))
#define KEY_EXECUTE ((KEY_READ) & (~SYNCHRONIZE))
#define KEY_WRITE ((STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY) & (~SYNCHRONIZE))
#define KEY_ALL_ACCESS                                                                                      \
    ((STANDARD_RIGHTS_ALL | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | \
      KEY_NOTIFY | KEY_CREATE_LINK) &                                                                       \
     (~SYNCHRONIZE))

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_RESOURCE_LIST 8
#define REG_QWORD 11
#define REG_QWORD_LITTLE_ENDIAN 11

#define REG_OPTION_RESERVED 0x00000000L
#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_OPTION_OPEN_LINK 0x00000008L

// Results are Win32 error codes: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND for a missing key or value,
// ERROR_NO_MORE_ITEMS past the last subkey, ERROR_MORE_DATA (with the needed size stored) when a
// buffer is too small, ERROR_ACCESS_DENIED when write access is asked for, ERROR_INVALID_HANDLE
// for a handle that is not open, ERROR_BAD_NETPATH for a machine that is neither this computer
// nor a simulated host.
extern "C" {
LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegOpenKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult);
LONG RegCloseKey(HKEY hKey);
LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
LONG RegEnumKeyW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD cchName);
LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData);
LONG RegQueryValueW(HKEY hKey, LPCWSTR lpSubKey, LPWSTR lpData, PLONG lpcbData);
LONG RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                      LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                      LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                      PFILETIME lpftLastWriteTime);
// lpMachineName may be NULL or empty (this computer), and may carry a leading "\\".
// hKey is HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT or HKEY_USERS.
LONG RegConnectRegistryW(LPCWSTR lpMachineName, HKEY hKey, PHKEY phkResult);
}

// The stand-in's own interface for the rest of the platform layer, the simulation servers and
// tests. Host names are compared without regard to letter case.
namespace nvplatform {

// Forgets the loaded registries and the list of simulated hosts; the next registry access reads
// the files again (tests set XDG_CONFIG_HOME, write files, then call this). Handles already open
// keep the registry they were opened on.
void ReloadRegistry();

// One message per registry file that was skipped at the last load, such as
// "/path/bad.reg:12: value line outside of a key" (the same texts go to stderr).
std::vector<std::string> RegistryLoadErrors();

// The names of the simulated hosts, as their folders are spelled, sorted without regard to case.
std::vector<std::u16string> SimulatedHostNames();

// This computer's name as GetComputerNameW gives it.
std::u16string LocalComputerName();

// True for an empty name, ".", "localhost", "127.0.0.1", "::1", this computer's name as
// GetComputerNameW gives it, and the system host name in full or up to its first dot; letter case
// and a leading "\\" are ignored.
bool IsLocalHostName(std::u16string_view name);

// True when the name (leading "\\" ignored) is a simulated host and not this computer.
bool IsSimulatedHost(std::u16string_view name);

// Opens HKEY_CLASSES_ROOT of a host: this computer for a local name, the simulated host's
// otherwise. Same results as RegConnectRegistryW; close the key with RegCloseKey.
LONG OpenHostClassesRoot(std::u16string_view host, HKEY* result);

// CLSIDFromProgID and ProgIDFromCLSID against a named host's registry (local for a local name),
// with the same results as the plain calls; an unknown host gives
// HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE).
HRESULT CLSIDFromProgIDOnHost(std::u16string_view host, LPCOLESTR progId, LPCLSID clsid);
HRESULT ProgIDFromCLSIDOnHost(std::u16string_view host, REFCLSID clsid, LPOLESTR* progId);

// The installed registry folder, <prefix>/share/norvane-opc-client/registry (may not exist).
std::string InstalledRegistryFolder();
// The data folder <prefix>/share/norvane-opc-client of a platform library that lies in
// `libraryFolder`. When that folder ends in the install layout's library folder
// (`installLibDir`, such as lib/x86_64-linux-gnu/norvane-opc-client) the prefix is what comes
// before it; otherwise (a build tree's <build>/lib) it is the library folder's parent. Nothing
// but the layout is looked at, so an installed tree can be moved or unpacked anywhere.
std::string DataFolderFor(std::string_view libraryFolder, std::string_view installLibDir);
// The user's folder, $XDG_CONFIG_HOME/norvane-opc-client, holding registry/ and hosts/.
std::string UserConfigFolder();
// The folder holding libnvplatform.so; relative module paths of InprocServer32 resolve there.
std::string PlatformLibraryFolder();

}  // namespace nvplatform
