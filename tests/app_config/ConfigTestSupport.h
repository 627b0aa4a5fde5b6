// The set-up of the configuration tests: the simulation servers registered as for the connection
// tests, and a folder of their own for the configuration files.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "app/Configuration.h"
#include "foundation/NvSysUtils.h"
#include "integration/ConnTestSupport.h"

namespace configtest {

namespace fs = std::filesystem;

inline std::string Utf8Of(const fs::path& path) {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

class ConfigTest : public conntest::ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        std::random_device random;
        folder_ = fs::temp_directory_path() / ("nvconfig-test-" + nv::UIntToHex(random(), 8));
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(folder_ / "locked.noc", fs::perms::owner_all, ec);
        fs::remove_all(folder_, ec);
        ConnTest::TearDown();
    }

    std::string Path(const std::string& name) const { return Utf8Of(folder_ / name); }

    std::string WriteFile(const std::string& name, const std::string& bytes) const {
        std::ofstream out(folder_ / name, std::ios::binary | std::ios::trunc);
        out << bytes;
        return Path(name);
    }

    std::string ReadFile(const std::string& path) const {
        std::ifstream in(fs::path(std::u8string(path.begin(), path.end())), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    // A configuration loaded from these bytes.
    std::unique_ptr<nv::TConfiguration> LoadText(const std::string& bytes,
                                                 const std::string& name = "in.noc") {
        auto config = std::make_unique<nv::TConfiguration>();
        config->SetFileName(WriteFile(name, bytes));
        config->Load();
        return config;
    }

    static nv::TNvOPCGroup* Group(const nv::TConfiguration& config, int index) {
        return dynamic_cast<nv::TNvOPCGroup*>(config.Server()->Groups(index));
    }

    fs::path folder_;
};

}  // namespace configtest
