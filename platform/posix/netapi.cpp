// Host enumeration and workstation information over the simulated network (see netapi.h).

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/NvWide.h"
#include "platform/win32.h"

namespace {

constexpr char16_t kWorkgroup[] = u"WORKGROUP";
constexpr DWORD kHostTypes = SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_NT;

// Buffers handed out by these calls, so that NetApiBufferFree can refuse anything else.
std::mutex buffersMutex;
std::unordered_set<void*>& Buffers() {
    static auto* buffers = new std::unordered_set<void*>();
    return *buffers;
}

void* AllocateBuffer(std::size_t bytes) {
    void* p = std::calloc(bytes > 0 ? bytes : 1, 1);
    if (p == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> lock(buffersMutex);
    Buffers().insert(p);
    return p;
}

std::string ConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0')
        return std::string(home) + "/.config";
    passwd pw{};
    passwd* result = nullptr;
    std::vector<char> buf(16384);
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result != nullptr)
        return std::string(result->pw_dir) + "/.config";
    return ".config";
}

nv::WideString Upper(nv::WideString s) {
    for (WCHAR& c : s)
        if (c >= u'a' && c <= u'z')
            c = static_cast<WCHAR>(c - 0x20);
    return s;
}

bool SameHost(const nv::WideString& a, const nv::WideString& b) {
    return Upper(a) == Upper(b);
}

nv::WideString LocalName() {
    WCHAR buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(buf, &size))
        return u"LOCALHOST";
    return nv::WideString(buf, size);
}

// This computer and every host folder, once each, sorted by name without regard to case.
std::vector<nv::WideString> Hosts() {
    std::vector<nv::WideString> hosts{LocalName()};
    std::string folder = ConfigHome() + "/norvane-opc-client/hosts";
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            std::string path = folder + "/" + entry->d_name;
            struct stat st;
            if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                continue;
            nv::WideString name = nv::ToWide(entry->d_name);
            bool known = std::any_of(hosts.begin(), hosts.end(),
                                     [&](const nv::WideString& h) { return SameHost(h, name); });
            if (!known)
                hosts.push_back(std::move(name));
        }
        closedir(dir);
    }
    std::sort(hosts.begin(), hosts.end(),
              [](const nv::WideString& a, const nv::WideString& b) { return Upper(a) < Upper(b); });
    return hosts;
}

// A server name as callers write it: optional leading backslashes, NULL or empty for this one.
nv::WideString ServerName(LPCWSTR servername) {
    if (servername == nullptr)
        return {};
    nv::WideString name(servername);
    std::size_t start = name.find_first_not_of(u'\\');
    return start == nv::WideString::npos ? nv::WideString() : name.substr(start);
}

nv::WideString DnsName(COMPUTER_NAME_FORMAT format) {
    WCHAR buf[256] = {};
    DWORD size = 256;
    if (!GetComputerNameExW(format, buf, &size))
        return {};
    return nv::WideString(buf, size);
}

// Every way of naming this computer: none at all, ".", "localhost", the loopback addresses, the
// computer name and the host name in full or up to its first dot.
bool IsThisComputer(const nv::WideString& name) {
    if (name.empty() || name == u"." || name == u"127.0.0.1" || name == u"::1" ||
        SameHost(name, u"localhost"))
        return true;
    return SameHost(name, LocalName()) || SameHost(name, DnsName(ComputerNameDnsHostname)) ||
           SameHost(name, DnsName(ComputerNameDnsFullyQualified));
}

// NERR_Success when the name is empty, this computer or a simulated host.
NET_API_STATUS CheckServer(const nv::WideString& name, const std::vector<nv::WideString>& hosts,
                           nv::WideString* canonical = nullptr) {
    if (IsThisComputer(name)) {
        if (canonical != nullptr)
            *canonical = LocalName();
        return NERR_Success;
    }
    for (const nv::WideString& h : hosts) {
        if (SameHost(h, name)) {
            if (canonical != nullptr)
                *canonical = h;
            return NERR_Success;
        }
    }
    return ERROR_BAD_NETPATH;
}

// Copies a string into the tail of a buffer and returns where it went.
LPWSTR PlaceString(BYTE*& cursor, const nv::WideString& s) {
    auto* out = reinterpret_cast<LPWSTR>(cursor);
    std::copy(s.begin(), s.end(), out);
    out[s.size()] = 0;
    cursor += (s.size() + 1) * sizeof(WCHAR);
    return out;
}

}  // namespace

extern "C" NET_API_STATUS NetServerEnum(LMCSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                                        LPDWORD entriesread, LPDWORD totalentries, DWORD servertype,
                                        LMCSTR domain, LPDWORD resume_handle) {
    if (bufptr == nullptr || entriesread == nullptr || totalentries == nullptr)
        return ERROR_INVALID_PARAMETER;
    *bufptr = nullptr;
    *entriesread = 0;
    *totalentries = 0;
    if (level != 100)
        return ERROR_INVALID_LEVEL;

    std::vector<nv::WideString> hosts = Hosts();
    if (NET_API_STATUS status = CheckServer(ServerName(servername), hosts); status != NERR_Success)
        return status;
    if (domain != nullptr && domain[0] != 0 && !SameHost(domain, kWorkgroup))
        return ERROR_NO_BROWSER_SERVERS_FOUND;

    std::vector<nv::WideString> names;
    DWORD filter = servertype & ~static_cast<DWORD>(SV_TYPE_LOCAL_LIST_ONLY);
    if (servertype != SV_TYPE_ALL && (filter & SV_TYPE_DOMAIN_ENUM))
        names.push_back(kWorkgroup);
    else if (servertype == SV_TYPE_ALL || (filter & kHostTypes))
        names = std::move(hosts);

    // As many whole entries as fit in the preferred length; the rest is reported as more data.
    std::size_t count = 0;
    std::size_t bytes = 0;
    for (const nv::WideString& n : names) {
        std::size_t need = sizeof(SERVER_INFO_100) + (n.size() + 1) * sizeof(WCHAR);
        if (prefmaxlen != MAX_PREFERRED_LENGTH && bytes + need > prefmaxlen)
            break;
        bytes += need;
        ++count;
    }
    *totalentries = static_cast<DWORD>(names.size());
    if (count > 0) {
        auto* block = static_cast<BYTE*>(AllocateBuffer(bytes));
        if (block == nullptr) {
            *totalentries = 0;
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        auto* entries = reinterpret_cast<SERVER_INFO_100*>(block);
        BYTE* cursor = block + count * sizeof(SERVER_INFO_100);
        for (std::size_t i = 0; i < count; ++i) {
            entries[i].sv100_platform_id = PLATFORM_ID_NT;
            entries[i].sv100_name = PlaceString(cursor, names[i]);
        }
        *bufptr = block;
    }
    *entriesread = static_cast<DWORD>(count);
    return count < names.size() ? ERROR_MORE_DATA : NERR_Success;
}

extern "C" NET_API_STATUS NetWkstaGetInfo(LMSTR servername, DWORD level, LPBYTE* bufptr) {
    if (bufptr == nullptr)
        return ERROR_INVALID_PARAMETER;
    *bufptr = nullptr;
    if (level != 100)
        return ERROR_INVALID_LEVEL;
    nv::WideString name;
    if (NET_API_STATUS status = CheckServer(ServerName(servername), Hosts(), &name); status != NERR_Success)
        return status;
    nv::WideString group(kWorkgroup);
    std::size_t bytes = sizeof(WKSTA_INFO_100) + (name.size() + 1 + group.size() + 1) * sizeof(WCHAR);
    auto* block = static_cast<BYTE*>(AllocateBuffer(bytes));
    if (block == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    auto* info = reinterpret_cast<WKSTA_INFO_100*>(block);
    BYTE* cursor = block + sizeof(WKSTA_INFO_100);
    info->wki100_platform_id = PLATFORM_ID_NT;
    info->wki100_computername = PlaceString(cursor, name);
    info->wki100_langroup = PlaceString(cursor, group);
    info->wki100_ver_major = 10;
    info->wki100_ver_minor = 0;
    *bufptr = block;
    return NERR_Success;
}

extern "C" NET_API_STATUS NetApiBufferAllocate(DWORD ByteCount, LPVOID* Buffer) {
    if (Buffer == nullptr)
        return ERROR_INVALID_PARAMETER;
    *Buffer = AllocateBuffer(ByteCount);
    return *Buffer == nullptr ? ERROR_NOT_ENOUGH_MEMORY : NERR_Success;
}

extern "C" NET_API_STATUS NetApiBufferFree(LPVOID Buffer) {
    if (Buffer == nullptr)
        return NERR_Success;
    {
        std::lock_guard<std::mutex> lock(buffersMutex);
        if (Buffers().erase(Buffer) == 0)
            return ERROR_INVALID_PARAMETER;
    }
    std::free(Buffer);
    return NERR_Success;
}
