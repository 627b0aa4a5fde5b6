// Workstation information and network buffers, and host enumeration over the simulated network of
// host folders. The layouts, this computer's own information and the buffer and level rules hold on
// Windows as well and run there against the system's calls; the simulated network is the
// stand-in's alone.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/NvWide.h"
#include "platform/win32.h"

#ifndef _WIN32
#include <algorithm>
#include <filesystem>

#include "tests/windows/NvTempConfig.h"
#endif

namespace {

nv::WideString LocalName() {
    WCHAR buf[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    EXPECT_TRUE(GetComputerNameW(buf, &size));
    return nv::WideString(buf, size);
}

TEST(NetworkHosts, LayoutsAreThoseOfWindowsX64) {
    EXPECT_EQ(sizeof(SERVER_INFO_100), 16u);
    EXPECT_EQ(offsetof(SERVER_INFO_100, sv100_name), 8u);
    EXPECT_EQ(sizeof(WKSTA_INFO_100), 32u);
    EXPECT_EQ(offsetof(WKSTA_INFO_100, wki100_computername), 8u);
    EXPECT_EQ(offsetof(WKSTA_INFO_100, wki100_langroup), 16u);
    EXPECT_EQ(offsetof(WKSTA_INFO_100, wki100_ver_major), 24u);
    EXPECT_EQ(offsetof(WKSTA_INFO_100, wki100_ver_minor), 28u);
}

// This computer by no name, by its name and by its name as a server (\\NAME).
TEST(NetworkHosts, WorkstationInfoOfThisComputer) {
    nv::WideString self = LocalName();
    nv::WideString unc = nv::WideString(OLESTR("\\\\")) + self;
    for (nv::WideString* server : {static_cast<nv::WideString*>(nullptr), &self, &unc}) {
        LPBYTE buf = reinterpret_cast<LPBYTE>(1);
        ASSERT_EQ(NetWkstaGetInfo(server != nullptr ? server->data() : nullptr, 100, &buf),
                  static_cast<NET_API_STATUS>(NERR_Success))
            << (server != nullptr ? nv::ToUtf8(*server) : "(null)");
        ASSERT_NE(buf, nullptr);
        auto* info = reinterpret_cast<WKSTA_INFO_100*>(buf);
        EXPECT_EQ(nv::WideString(info->wki100_computername), self);
        EXPECT_EQ(info->wki100_platform_id, static_cast<DWORD>(PLATFORM_ID_NT));
        ASSERT_NE(info->wki100_langroup, nullptr);
        EXPECT_GE(info->wki100_ver_major, 5u);
#ifndef _WIN32
        // The simulated network is one workgroup; a real computer reports its own domain or group.
        EXPECT_EQ(nv::ToUtf8(info->wki100_langroup), "WORKGROUP");
#endif
        EXPECT_EQ(NetApiBufferFree(buf), static_cast<NET_API_STATUS>(NERR_Success));
    }
}

TEST(NetworkHosts, LevelsWindowsDoesNotKnowAreRefused) {
    for (DWORD level : {0u, 99u, 103u}) {
        LPBYTE buf = nullptr;
        EXPECT_EQ(NetWkstaGetInfo(nullptr, level, &buf), static_cast<NET_API_STATUS>(ERROR_INVALID_LEVEL))
            << level;
        EXPECT_EQ(buf, nullptr);
    }
}

TEST(NetworkHosts, BuffersComeAndGoThroughTheNetworkAllocator) {
    LPVOID p = nullptr;
    ASSERT_EQ(NetApiBufferAllocate(32, &p), static_cast<NET_API_STATUS>(NERR_Success));
    ASSERT_NE(p, nullptr);
    std::memset(p, 0xAB, 32);
    EXPECT_EQ(NetApiBufferFree(p), static_cast<NET_API_STATUS>(NERR_Success));
    EXPECT_EQ(NetApiBufferFree(nullptr), static_cast<NET_API_STATUS>(NERR_Success));
}

#ifndef _WIN32
// From here on: the simulated network of host folders, which Windows does not have.

using nv::test::TempConfig;

struct Listing {
    NET_API_STATUS status = 0;
    DWORD read = 0;
    DWORD total = 0;
    std::vector<std::u16string> names;
    std::vector<DWORD> platforms;
};

Listing Enum(DWORD type = SV_TYPE_ALL, LPCWSTR domain = nullptr, DWORD prefmaxlen = MAX_PREFERRED_LENGTH,
             LPCWSTR server = nullptr, DWORD level = 100) {
    Listing l;
    LPBYTE buf = nullptr;
    DWORD resume = 0;
    l.status = NetServerEnum(server, level, &buf, prefmaxlen, &l.read, &l.total, type, domain, &resume);
    auto* entries = reinterpret_cast<SERVER_INFO_100*>(buf);
    for (DWORD i = 0; entries != nullptr && i < l.read; ++i) {
        l.names.push_back(entries[i].sv100_name);
        l.platforms.push_back(entries[i].sv100_platform_id);
    }
    EXPECT_EQ(NetApiBufferFree(buf), static_cast<NET_API_STATUS>(NERR_Success));
    return l;
}

TEST(NetworkHosts, ListsThisComputerAndEveryHostFolderSorted) {
    TempConfig config;
    std::filesystem::create_directories(config.Host("zeta-plant"));
    std::filesystem::create_directories(config.Host("Alpha"));
    std::filesystem::create_directories(config.Host(".hidden"));
    TempConfig::Write(config.Root() / "norvane-opc-client" / "hosts", "not-a-folder", "x");

    Listing l = Enum();
    ASSERT_EQ(l.status, static_cast<NET_API_STATUS>(NERR_Success));
    std::vector<std::u16string> expected{u"Alpha", u"zeta-plant", LocalName()};
    auto upper = [](std::u16string s) {
        for (auto& c : s)
            if (c >= u'a' && c <= u'z')
                c = static_cast<char16_t>(c - 32);
        return s;
    };
    std::sort(expected.begin(), expected.end(),
              [&](const std::u16string& a, const std::u16string& b) { return upper(a) < upper(b); });
    EXPECT_EQ(l.names, expected);
    EXPECT_EQ(l.read, 3u);
    EXPECT_EQ(l.total, 3u);
    for (DWORD p : l.platforms)
        EXPECT_EQ(p, static_cast<DWORD>(PLATFORM_ID_NT));

    // The folder is read on every call.
    std::filesystem::create_directories(config.Host("Beta"));
    EXPECT_EQ(Enum().total, 4u);
    std::filesystem::remove_all(config.Host("zeta-plant"));
    EXPECT_EQ(Enum().total, 3u);
}

TEST(NetworkHosts, WithoutHostFoldersOnlyThisComputerIsListed) {
    TempConfig config;
    Listing l = Enum(SV_TYPE_WORKSTATION | SV_TYPE_SERVER, u"WorkGroup");
    ASSERT_EQ(l.status, static_cast<NET_API_STATUS>(NERR_Success));
    EXPECT_EQ(l.names, std::vector<std::u16string>{LocalName()});
    // A host folder named like this computer does not list it twice.
    std::filesystem::create_directories(config.Host(nv::ToUtf8(LocalName())));
    EXPECT_EQ(Enum().total, 1u);
}

TEST(NetworkHosts, PreferredLengthLimitsTheEntriesAndReportsMoreData) {
    TempConfig config;
    for (const char* h : {"h1", "h2", "h3"})
        std::filesystem::create_directories(config.Host(h));
    // Room for exactly one entry of a three-character name.
    DWORD oneEntry = sizeof(SERVER_INFO_100) + 3 * sizeof(WCHAR);
    Listing l = Enum(SV_TYPE_ALL, nullptr, oneEntry);
    EXPECT_EQ(l.status, static_cast<NET_API_STATUS>(ERROR_MORE_DATA));
    EXPECT_EQ(l.read, 1u);
    EXPECT_EQ(l.total, 4u);
    EXPECT_EQ(l.names, std::vector<std::u16string>{u"h1"});
}

TEST(NetworkHosts, FiltersDomainsLevelsAndServers) {
    TempConfig config;
    std::filesystem::create_directories(config.Host("Plant"));
    EXPECT_EQ(Enum(SV_TYPE_ALL, u"OTHERDOMAIN").status,
              static_cast<NET_API_STATUS>(ERROR_NO_BROWSER_SERVERS_FOUND));
    // Windows knows levels 100 and 101 here; the stand-in gives 100 only.
    EXPECT_EQ(Enum(SV_TYPE_ALL, nullptr, MAX_PREFERRED_LENGTH, nullptr, 102).status,
              static_cast<NET_API_STATUS>(ERROR_INVALID_LEVEL));
    EXPECT_EQ(Enum(SV_TYPE_ALL, nullptr, MAX_PREFERRED_LENGTH, u"\\\\NoSuchHost").status,
              static_cast<NET_API_STATUS>(ERROR_BAD_NETPATH));
    EXPECT_EQ(Enum(SV_TYPE_ALL, nullptr, MAX_PREFERRED_LENGTH, u"\\\\plant").total, 2u);

    Listing domains = Enum(SV_TYPE_DOMAIN_ENUM);
    EXPECT_EQ(domains.names, std::vector<std::u16string>{u"WORKGROUP"});
    Listing sql = Enum(SV_TYPE_SQLSERVER);
    EXPECT_EQ(sql.status, static_cast<NET_API_STATUS>(NERR_Success));
    EXPECT_EQ(sql.total, 0u);

    LPBYTE buf = nullptr;
    DWORD read = 0;
    EXPECT_EQ(NetServerEnum(nullptr, 100, &buf, MAX_PREFERRED_LENGTH, &read, nullptr, SV_TYPE_ALL, nullptr,
                            nullptr),
              static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER));
}

TEST(NetworkHosts, WorkstationInfoOfAHostAndOfEveryNameOfThisComputer) {
    TempConfig config;
    std::filesystem::create_directories(config.Host("Plant7"));
    LPBYTE buf = nullptr;
    WCHAR host[] = u"plant7";
    ASSERT_EQ(NetWkstaGetInfo(host, 100, &buf), static_cast<NET_API_STATUS>(NERR_Success));
    EXPECT_EQ(std::u16string(reinterpret_cast<WKSTA_INFO_100*>(buf)->wki100_computername), u"Plant7");
    NetApiBufferFree(buf);

    for (std::u16string local :
         {std::u16string(u"."), std::u16string(u"localhost"), std::u16string(u"\\\\127.0.0.1")}) {
        ASSERT_EQ(NetWkstaGetInfo(local.data(), 100, &buf), static_cast<NET_API_STATUS>(NERR_Success));
        EXPECT_EQ(std::u16string(reinterpret_cast<WKSTA_INFO_100*>(buf)->wki100_computername), LocalName());
        NetApiBufferFree(buf);
    }

    WCHAR unknown[] = u"Elsewhere";
    EXPECT_EQ(NetWkstaGetInfo(unknown, 100, &buf), static_cast<NET_API_STATUS>(ERROR_BAD_NETPATH));
    EXPECT_EQ(buf, nullptr);
}

// Windows corrupts its heap on such a pointer; the stand-in knows every buffer it handed out.
TEST(NetworkHosts, BufferFreeRefusesForeignAndFreedPointers) {
    LPVOID p = nullptr;
    ASSERT_EQ(NetApiBufferAllocate(32, &p), static_cast<NET_API_STATUS>(NERR_Success));
    EXPECT_EQ(NetApiBufferFree(p), static_cast<NET_API_STATUS>(NERR_Success));
    EXPECT_EQ(NetApiBufferFree(p), static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER));
    int local = 0;
    EXPECT_EQ(NetApiBufferFree(&local), static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER));
}

#endif  // !_WIN32

}  // namespace
