// The computer's names, derived from the system host name: the NetBIOS-style name is the part
// before the first dot, in upper case, cut to 15 characters, which is what Windows shows as the
// computer name and what the simulated network lists for this machine.

#include <unistd.h>

#include <climits>
#include <string>

#include "platform/NvWide.h"
#include "platform/win32.h"

namespace {

std::string HostName() {
    char buf[HOST_NAME_MAX + 1] = {};
    if (gethostname(buf, sizeof buf - 1) != 0 || buf[0] == '\0')
        return "localhost";
    return buf;
}

std::string NetBiosName() {
    std::string host = HostName();
    std::string name = host.substr(0, host.find('.'));
    if (name.size() > MAX_COMPUTERNAME_LENGTH)
        name.resize(MAX_COMPUTERNAME_LENGTH);
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return name;
}

// Copies `name` when it fits, else reports the size needed (terminator included).
BOOL CopyName(const std::string& utf8, LPWSTR buffer, LPDWORD size, DWORD tooSmallError) {
    if (size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    nv::WideString name = nv::ToWide(utf8);
    if (buffer == nullptr || *size < name.size() + 1) {
        *size = static_cast<DWORD>(name.size() + 1);
        SetLastError(tooSmallError);
        return FALSE;
    }
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = 0;
    *size = static_cast<DWORD>(name.size());
    return TRUE;
}

}  // namespace

extern "C" BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize) {
    return CopyName(NetBiosName(), lpBuffer, nSize, ERROR_BUFFER_OVERFLOW);
}

extern "C" BOOL GetComputerNameExW(COMPUTER_NAME_FORMAT NameType, LPWSTR lpBuffer, LPDWORD nSize) {
    std::string host = HostName();
    std::size_t dot = host.find('.');
    std::string name;
    switch (NameType) {
        case ComputerNameNetBIOS:
        case ComputerNamePhysicalNetBIOS:
            name = NetBiosName();
            break;
        case ComputerNameDnsHostname:
        case ComputerNamePhysicalDnsHostname:
            name = host.substr(0, dot);
            break;
        case ComputerNameDnsDomain:
        case ComputerNamePhysicalDnsDomain:
            name = dot == std::string::npos ? std::string() : host.substr(dot + 1);
            break;
        case ComputerNameDnsFullyQualified:
        case ComputerNamePhysicalDnsFullyQualified:
            name = host;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
    return CopyName(name, lpBuffer, nSize, ERROR_MORE_DATA);
}
