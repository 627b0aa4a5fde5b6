#include "foundation/NvHostNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/NvSysUtils.h"
#include "platform/NvWide.h"
#include "tests/windows/NvTempConfig.h"

namespace nv {
namespace {

namespace fs = std::filesystem;

TEST(HostNames, LocalNamesNeedNoNetwork) {
    EXPECT_TRUE(IsLocalHost(""));
    EXPECT_TRUE(IsLocalHost("localhost"));
    EXPECT_TRUE(IsLocalHost("LocalHost"));
    std::string self = LocalComputerName();
    ASSERT_FALSE(self.empty());
    EXPECT_TRUE(IsLocalHost(UpperCase(self)));
    EXPECT_TRUE(IsLocalHost(LowerCase(self)));
    EXPECT_FALSE(IsLocalHost(self + "x"));
}

#ifndef _WIN32

// The simulated network: every folder under <config>/norvane-opc-client/hosts is a host.
class HostNamesTest : public ::testing::Test {
protected:
    void AddHost(const std::string& name) { fs::create_directories(config_.Host(name)); }

    test::TempConfig config_;
};

TEST_F(HostNamesTest, ListsThisComputerAndTheSimulatedHostsWithTheirPlatform) {
    AddHost("plant-b");
    AddHost("Plant-A");
    TNvStringList list;
    list.Add("stale");
    ListNetworkHosts(list);
    std::string self = LocalComputerName();
    std::vector<std::string> expected{"Plant-A", "plant-b", self};
    std::sort(expected.begin(), expected.end(),
              [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
    EXPECT_EQ(list.ToVector(), expected);
    for (int i = 0; i < list.Count(); ++i)
        EXPECT_EQ(HostPlatformId(list, i), 500U) << list.Strings(i);

    // The workgroup by name is the same primary domain.
    TNvStringList named;
    ListNetworkHosts(named, "WORKGROUP");
    EXPECT_EQ(named.ToVector(), expected);
}

TEST_F(HostNamesTest, AnUnknownDomainRaisesTheBrowseFailureAndLeavesTheListEmpty) {
    TNvStringList list;
    list.Add("stale");
    try {
        ListNetworkHosts(list, "ELSEWHERE");
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "No browser servers found.");
    }
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(HostNamesTest, LocalComputerNameIsTheNetworkName) {
    std::string name = LocalComputerName();
    EXPECT_FALSE(name.empty());
    EXPECT_TRUE(SameText(name, ToUtf8(nvplatform::LocalComputerName()))) << name;
}

TEST_F(HostNamesTest, ASimulatedHostIsNotThisComputer) {
    AddHost("plant-a");
    EXPECT_FALSE(IsLocalHost("plant-a"));
    EXPECT_FALSE(IsLocalHost("127.0.0.2"));
}
#endif

}  // namespace
}  // namespace nv
