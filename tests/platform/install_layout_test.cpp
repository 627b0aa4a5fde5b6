// Where the stand-in looks for the registry files installed with the program: below the prefix
// it finds from the folder of its own library, in a build tree and in an installed tree alike,
// so that an installed tree works under any prefix and after being unpacked anywhere.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/win32.h"

namespace {

using nvplatform::DataFolderFor;

constexpr const char* kMultiarchLibDir = "lib/x86_64-linux-gnu/norvane-opc-client";

TEST(InstallLayout, TheDataFolderLiesBelowThePrefixOfAnInstalledLibrary) {
    EXPECT_EQ(DataFolderFor("/usr/lib/x86_64-linux-gnu/norvane-opc-client", kMultiarchLibDir),
              "/usr/share/norvane-opc-client");
    // The package unpacked into some folder, and an installation under another prefix.
    EXPECT_EQ(DataFolderFor("/tmp/unpacked/usr/lib/x86_64-linux-gnu/norvane-opc-client", kMultiarchLibDir),
              "/tmp/unpacked/usr/share/norvane-opc-client");
    EXPECT_EQ(DataFolderFor("/opt/nv/lib/x86_64-linux-gnu/norvane-opc-client/", kMultiarchLibDir),
              "/opt/nv/share/norvane-opc-client");
    // Installed with the root folder as prefix.
    EXPECT_EQ(DataFolderFor("/lib/x86_64-linux-gnu/norvane-opc-client", kMultiarchLibDir),
              "/share/norvane-opc-client");
    // A system without a multiarch name installs to lib/norvane-opc-client.
    EXPECT_EQ(DataFolderFor("/usr/local/lib/norvane-opc-client", "lib/norvane-opc-client"),
              "/usr/local/share/norvane-opc-client");
}

TEST(InstallLayout, ABuildTreeKeepsItsDataBesideItsLibFolder) {
    EXPECT_EQ(DataFolderFor("/work/main/build/lib", kMultiarchLibDir), "/work/main/build/share/norvane-opc-client");
    EXPECT_EQ(DataFolderFor("/work/main/build/lib//", kMultiarchLibDir),
              "/work/main/build/share/norvane-opc-client");
    // Only whole folder names match the install layout: "mylib/..." is not "lib/...".
    EXPECT_EQ(DataFolderFor("/opt/mylib/x86_64-linux-gnu/norvane-opc-client", kMultiarchLibDir),
              "/opt/mylib/x86_64-linux-gnu/share/norvane-opc-client");
    // Nor is the end of the layout alone an installed tree.
    EXPECT_EQ(DataFolderFor("/opt/x86_64-linux-gnu/norvane-opc-client", kMultiarchLibDir),
              "/opt/x86_64-linux-gnu/share/norvane-opc-client");
}

TEST(InstallLayout, LibraryFoldersWithoutParents) {
    EXPECT_EQ(DataFolderFor("/lib", "lib"), "/share/norvane-opc-client");
    EXPECT_EQ(DataFolderFor("/", kMultiarchLibDir), "/share/norvane-opc-client");
    EXPECT_EQ(DataFolderFor("lib", kMultiarchLibDir), "./share/norvane-opc-client");
    EXPECT_EQ(DataFolderFor(kMultiarchLibDir, kMultiarchLibDir), "./share/norvane-opc-client");
    // An empty layout name matches nothing.
    EXPECT_EQ(DataFolderFor("/usr/lib", ""), "/usr/share/norvane-opc-client");
}

// The test runs from the build tree, whose registry folder the build fills: the stand-in must
// find that one and load the shipped registrations from it.
TEST(InstallLayout, ThisBuildTreeRegistryIsTheOneFound) {
    namespace fs = std::filesystem;
    const fs::path expected = fs::path(NV_BUILD_DIR) / "share/norvane-opc-client/registry";
    const std::string found = nvplatform::InstalledRegistryFolder();
    ASSERT_FALSE(found.empty());
    EXPECT_TRUE(fs::equivalent(found, expected)) << found << " is not " << expected;
    EXPECT_TRUE(fs::exists(fs::path(found) / "com-interfaces.reg")) << found;
}

}  // namespace
#endif  // !_WIN32
