// The set-up shared by the server list and server connection tests: a configuration folder of
// their own with a few extra local registrations and three simulated hosts, the server-list
// lookup installed as the application installs it, and recorders for message boxes and for
// exceptions that escape the event loop.
//
// Local extras (user registry, next to the shipped simulation servers):
//   Aaa.Alias.1         OPC mark, class kAlias whose own ProgID is "Local.Alias.Official.1"; the
//                       ProgID key and the class key carry different descriptions; DA 2.0 only.
//   .Hidden.1           OPC mark and a class: never examined, the name begins with ".".
//   Local.NoClass.1     OPC mark without a CLSID subkey.
//   Local.Garbled.1     OPC mark, CLSID value that is no class identifier.
//   Local.WrongType.1   OPC mark and class kWrongType, but the key's default value is a number.
//   kNoProgID           DA 2.0 category but no ProgID: the enumeration service cannot name it.
// Hosts:
//   plant7   enumeration service; "Plant.Simulation.1" is the hierarchical simulation class.
//   bare3    no enumeration service; "Bare.Server.1" in its registry.
//   nohost9  (not a host at all).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "discovery/NvOPCServerList.h"
#include "foundation/NvEventLoop.h"
#include "opc/NvOPCError.h"
#include "opc/include/opc.h"
#include "platform/NvWide.h"
#include "platform/win32.h"
#include "simulation/SimulationIds.h"
#include "tests/windows/NvTempConfig.h"
#include "tests/windows/NvTestRegistration.h"

namespace conntest {

namespace fs = std::filesystem;

// Simulated hosts are folders of .reg files that only the Linux stand-in reads.
#ifdef _WIN32
#define NV_REQUIRE_SIMULATED_HOSTS() GTEST_SKIP() << "simulated hosts are a feature of the Linux stand-in"
#else
#define NV_REQUIRE_SIMULATED_HOSTS() static_cast<void>(0)
#endif

inline const std::string kRegistryHeader = "Windows Registry Editor Version 5.00\n\n";
inline constexpr char kHost[] = "plant7";
inline constexpr char kBareHost[] = "bare3";
inline constexpr char kNoHost[] = "nohost9";

inline constexpr GUID kAlias = {0xF0000000, 0x0000, 0x0000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
inline constexpr GUID kHidden = {
    0xF0000000, 0x0000, 0x0000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02}};
inline constexpr GUID kWrongType = {
    0xF0000000, 0x0000, 0x0000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03}};
inline constexpr GUID kNoProgID = {
    0xF0000000, 0x0000, 0x0000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04}};
inline constexpr GUID kBare = {0x0B000000, 0x0000, 0x0000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};

inline std::string Text(const GUID& guid) {
    return nv::GuidToRegistryString(guid);
}

inline std::optional<std::string> LocalDefaultValue(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, nv::ToWide(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    WCHAR data[1024] = {};
    DWORD size = sizeof(data) - sizeof(WCHAR);
    DWORD type = 0;
    LONG rc = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return std::nullopt;
    return nv::ToUtf8(data);
}

class ConnTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        auto module = LocalDefaultValue("CLSID\\" + Text(CLSID_OPCServerList) + "\\InprocServer32");
        ASSERT_TRUE(module.has_value()) << "the build does not register the simulation module";
        // Kept as .reg string text: the module may be registered by a full Windows path, whose
        // backslashes a .reg string must double.
        for (char c : *module) {
            if (c == '\\' || c == '"')
                modulePath_ += '\\';
            modulePath_ += c;
        }
#ifdef _WIN32
        // The system registry takes the local extras; simulated hosts do not exist here.
        registration_.emplace(kRegistryHeader + LocalExtras());
#else
        config_.emplace();
        config_->WriteUser("extras.reg", kRegistryHeader + LocalExtras());
        WriteHost(kHost, ServiceEntry() +
                             ClassEntry("Plant.Simulation.1", nv::sim::CLSID_Simulation, "Plant simulation",
                                        {CATID_OPCDAServer10, CATID_OPCDAServer20}, true, modulePath_));
        WriteHost(kBareHost, ClassEntry("Bare.Server.1", kBare, "Bare server", {CATID_OPCDAServer20}));
        nvplatform::ReloadRegistry();
#endif
        previousLookup_ = nv::SetOPCServerLookup(nullptr);
        nv::InstallOPCServerListLookup();
        previousShow_ =
            nv::SetShowMessageHandler([this](const std::string& text) { messages_.push_back(text); });
        previousHandler_ = nv::SetExceptionHandler(
            [this](const std::exception& error) { escaped_.push_back(error.what()); });
    }

    void TearDown() override {
        nv::SetShowMessageHandler(previousShow_);
        nv::SetExceptionHandler(previousHandler_);
        nv::SetOPCServerLookup(previousLookup_);
#ifdef _WIN32
        registration_.reset();
#else
        config_.reset();
#endif
        EXPECT_TRUE(escaped_.empty()) << "exception escaped the event loop: " << escaped_.front();
        CoUninitialize();
    }

    static std::string ClassEntry(const std::string& progID, const GUID& clsid,
                                  const std::string& description, const std::vector<GUID>& categories,
                                  bool opcMark = true, const std::string& module = std::string()) {
        const std::string classKey = "[HKEY_CLASSES_ROOT\\CLSID\\" + Text(clsid);
        std::string text = "[HKEY_CLASSES_ROOT\\" + progID + "]\n@=\"" + description + "\"\n\n";
        text += "[HKEY_CLASSES_ROOT\\" + progID + "\\CLSID]\n@=\"" + Text(clsid) + "\"\n\n";
        if (opcMark)
            text += "[HKEY_CLASSES_ROOT\\" + progID + "\\OPC]\n\n";
        text += classKey + "]\n@=\"" + description + "\"\n\n";
        text += classKey + "\\ProgID]\n@=\"" + progID + "\"\n\n";
        if (!module.empty())
            text += classKey + "\\InprocServer32]\n@=\"" + module + "\"\n\"ThreadingModel\"=\"Free\"\n\n";
        for (const GUID& catid : categories)
            text += classKey + "\\Implemented Categories\\" + Text(catid) + "]\n\n";
        return text;
    }

    std::string ServiceEntry() const {
        const std::string classKey = "[HKEY_CLASSES_ROOT\\CLSID\\" + Text(CLSID_OPCServerList);
        return classKey + "]\n@=\"server list\"\n\n" + classKey + "\\InprocServer32]\n@=\"" + modulePath_ +
               "\"\n\"ThreadingModel\"=\"Free\"\n\n";
    }

    static std::string LocalExtras() {
        std::string text;
        text += "[HKEY_CLASSES_ROOT\\Aaa.Alias.1]\n@=\"Alias (ProgID key)\"\n\n";
        text += "[HKEY_CLASSES_ROOT\\Aaa.Alias.1\\CLSID]\n@=\"" + Text(kAlias) + "\"\n\n";
        text += "[HKEY_CLASSES_ROOT\\Aaa.Alias.1\\OPC]\n\"Vendor\"=\"Alias Works\"\n\n";
        text += "[HKEY_CLASSES_ROOT\\CLSID\\" + Text(kAlias) + "]\n@=\"Alias (class key)\"\n\n";
        text += "[HKEY_CLASSES_ROOT\\CLSID\\" + Text(kAlias) + "\\ProgID]\n@=\"Local.Alias.Official.1\"\n\n";
        text += "[HKEY_CLASSES_ROOT\\CLSID\\" + Text(kAlias) + "\\Implemented Categories\\" +
                Text(CATID_OPCDAServer20) + "]\n\n";
        text += ClassEntry(".Hidden.1", kHidden, "Hidden", {});
        text += "[HKEY_CLASSES_ROOT\\Local.NoClass.1\\OPC]\n\n";
        text +=
            "[HKEY_CLASSES_ROOT\\Local.Garbled.1\\OPC]\n\n[HKEY_CLASSES_ROOT\\Local.Garbled.1\\CLSID]\n@="
            "\"boiler\"\n\n";
        text += "[HKEY_CLASSES_ROOT\\Local.WrongType.1]\n@=dword:00000001\n\n";
        text += "[HKEY_CLASSES_ROOT\\Local.WrongType.1\\CLSID]\n@=\"" + Text(kWrongType) + "\"\n\n";
        text += "[HKEY_CLASSES_ROOT\\Local.WrongType.1\\OPC]\n\n";
        text += "[HKEY_CLASSES_ROOT\\CLSID\\" + Text(kNoProgID) + "]\n@=\"No ProgID\"\n\n";
        text += "[HKEY_CLASSES_ROOT\\CLSID\\" + Text(kNoProgID) + "\\Implemented Categories\\" +
                Text(CATID_OPCDAServer20) + "]\n\n";
        return text;
    }

#ifndef _WIN32
    void WriteHost(const std::string& host, const std::string& body) const {
        config_->WriteHost(host, "servers.reg", kRegistryHeader + body);
    }
#endif

    // The simulation module's registered path, escaped for .reg string text.
    std::string modulePath_;
#ifdef _WIN32
    std::optional<nv::test::TestRegistration> registration_;
#else
    std::optional<nv::test::TempConfig> config_;
#endif
    std::vector<std::string> messages_;
    std::vector<std::string> escaped_;

private:
    nv::TNvOPCServerLookup previousLookup_;
    nv::TNvShowMessageHandler previousShow_;
    nv::TNvExceptionHandler previousHandler_;
};

}  // namespace conntest
