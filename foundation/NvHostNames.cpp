#include "foundation/NvHostNames.h"

#include <cstdint>

#include "foundation/NvExceptions.h"
#include "foundation/NvSysUtils.h"
#include "platform/NvWide.h"

namespace nv {

namespace {

std::string HostListError(NET_API_STATUS status) {
    switch (status) {
        case ERROR_ACCESS_DENIED:
            return "The user does not have access to the requested information.";
        case NERR_InvalidComputer:
            return "The computer name is invalid.";
        case ERROR_NO_BROWSER_SERVERS_FOUND:
            return "No browser servers found.";
        default:
            return Format("Unknown error. Code=%x", static_cast<DWORD>(status));
    }
}

}  // namespace

void ListNetworkHosts(TNvStringList& list, const std::string& domain) {
    list.Clear();
    WideString wideDomain = ToWide(domain);
    LPBYTE buffer = nullptr;
    DWORD entriesRead = 0;
    DWORD totalEntries = 0;
    DWORD resume = 0;
    NET_API_STATUS status =
        NetServerEnum(nullptr, 100, &buffer, MAX_PREFERRED_LENGTH, &entriesRead, &totalEntries, SV_TYPE_ALL,
                      domain.empty() ? nullptr : wideDomain.c_str(), &resume);
    if (status == NERR_Success || status == ERROR_MORE_DATA) {
        // More data is not asked for: one call lists what the browse service hands over at once.
        try {
            const auto* entries = reinterpret_cast<const SERVER_INFO_100*>(buffer);
            for (DWORD i = 0; entries != nullptr && i < entriesRead; ++i) {
                list.AddObject(
                    ToUtf8(entries[i].sv100_name),
                    reinterpret_cast<TObject*>(static_cast<std::uintptr_t>(entries[i].sv100_platform_id)));
            }
        } catch (...) {
            NetApiBufferFree(buffer);
            list.Clear();
            throw;
        }
        if (buffer != nullptr)
            NetApiBufferFree(buffer);
        return;
    }
    if (buffer != nullptr)
        NetApiBufferFree(buffer);
    throw Exception(HostListError(status));
}

DWORD HostPlatformId(const TNvStringList& list, int index) {
    return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(list.Objects(index)));
}

std::string LocalComputerName() {
    LPBYTE buffer = nullptr;
    NET_API_STATUS status = NetWkstaGetInfo(nullptr, 100, &buffer);
    if (status != NERR_Success) {
        if (buffer != nullptr)
            NetApiBufferFree(buffer);
        throw Exception(Format("Unknown error. Code=%x", static_cast<DWORD>(status)));
    }
    std::string name;
    if (buffer != nullptr) {
        name = ToUtf8(reinterpret_cast<const WKSTA_INFO_100*>(buffer)->wki100_computername);
        NetApiBufferFree(buffer);
    }
    return name;
}

bool IsLocalHost(const std::string& name) {
    if (name.empty() || SameText(name, "localhost"))
        return true;
    try {
        return SameText(name, LocalComputerName());
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace nv
