// The OPC server-enumeration service of the simulation module, reached only as a client reaches
// it: through COM object creation from the registry, locally and on a simulated host.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "opc/include/opcda.h"
#include "opc/include/opcenum.h"
#include "platform/NvWide.h"
#include "platform/win32.h"
#include "simulation/SimulationIds.h"
#include "tests/windows/NvTempConfig.h"
#include "tests/windows/NvTestRegistration.h"

namespace {

namespace fs = std::filesystem;
using nv::sim::CLSID_Simulation;
using nv::sim::CLSID_SimulationDA1;
using nv::sim::CLSID_SimulationFlat;

constexpr char kHost[] = "plant7";
constexpr char kHostWithoutService[] = "bare3";

// Classes of the simulated host plant7 (none of them exists locally).
constexpr GUID kBoiler = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x01}};
constexpr GUID kLegacy = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x02}};
constexpr GUID kNeedsHost = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x03}};
constexpr GUID kNoProgID = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x04}};
constexpr GUID kHostingCategory = {
    0x99999999, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x09}};

std::string Text(const GUID& guid) {
    OLECHAR buffer[40] = {};
    StringFromGUID2(guid, buffer, 40);
    return nv::ToUtf8(buffer);
}

std::set<std::string> Texts(const std::vector<GUID>& guids) {
    std::set<std::string> out;
    for (const GUID& g : guids)
        out.insert(Text(g));
    return out;
}

const std::string kRegistryHeader = "Windows Registry Editor Version 5.00\n\n";

// The plant's classes among a service's answer (this computer's own servers are listed too).
std::set<std::string> PlantTexts(const std::vector<GUID>& guids) {
    std::set<std::string> out;
    for (const GUID& g : guids)
        if (IsEqualGUID(g, kBoiler) || IsEqualGUID(g, kLegacy) || IsEqualGUID(g, kNeedsHost) ||
            IsEqualGUID(g, kNoProgID))
            out.insert(Text(g));
    return out;
}

std::optional<std::string> DefaultValue(const std::string& path) {
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

template <typename Enumerator>
std::vector<GUID> Drain(Enumerator* e) {
    std::vector<GUID> out;
    GUID g;
    ULONG fetched = 0;
    while (e->Next(1, &g, &fetched) == S_OK && fetched == 1)
        out.push_back(g);
    return out;
}

class ServerListTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        // The module path as the build registered it: the simulated host runs the same module.
        auto module = DefaultValue("CLSID\\" + Text(CLSID_OPCServerList) + "\\InprocServer32");
        ASSERT_TRUE(module.has_value()) << "the build's norvane-opcsim.reg does not register the service";
        modulePath_ = *module;
#ifndef _WIN32
        config_.emplace();
        WriteHost(kHost, HostRegistry());
        // A host with servers but no enumeration service of its own.
        WriteHost(kHostWithoutService,
                  ClassEntry("Bare.Server.1", kBoiler, "Bare server", {CATID_OPCDAServer20}));
        nvplatform::ReloadRegistry();
#endif
    }

    void TearDown() override {
#ifndef _WIN32
        config_.reset();
#endif
        CoUninitialize();
    }

    static std::string ClassEntry(const std::string& progID, const GUID& clsid,
                                  const std::string& description, const std::vector<GUID>& categories,
                                  bool opcMark = true) {
        std::string clsidKey = "[HKEY_CLASSES_ROOT\\CLSID\\" + Text(clsid) + "]\n";
        std::string text = "[HKEY_CLASSES_ROOT\\" + progID + "]\n@=\"" + description + "\"\n\n";
        text += "[HKEY_CLASSES_ROOT\\" + progID + "\\CLSID]\n@=\"" + Text(clsid) + "\"\n\n";
        if (opcMark)
            text += "[HKEY_CLASSES_ROOT\\" + progID + "\\OPC]\n\n";
        text += clsidKey + "@=\"" + description + "\"\n\n";
        text += "[HKEY_CLASSES_ROOT\\CLSID\\" + Text(clsid) + "\\ProgID]\n@=\"" + progID + "\"\n\n";
        for (const GUID& catid : categories) {
            text += "[HKEY_CLASSES_ROOT\\CLSID\\" + Text(clsid) + "\\Implemented Categories\\" + Text(catid) +
                    "]\n\n";
        }
        return text;
    }

    std::string HostRegistry() const {
        std::string service =
            "[HKEY_CLASSES_ROOT\\CLSID\\" + Text(CLSID_OPCServerList) + "]\n@=\"server list\"\n\n";
        service += "[HKEY_CLASSES_ROOT\\CLSID\\" + Text(CLSID_OPCServerList) + "\\InprocServer32]\n@=\"" +
                   modulePath_ + "\"\n\"ThreadingModel\"=\"Free\"\n\n";
        return service + PlantClasses();
    }

    // The servers of a plant, whichever registry they are registered in.
    static std::string PlantClasses() {
        std::string text =
            ClassEntry("Plant.Boiler.2", kBoiler, "Boiler house", {CATID_OPCDAServer20}, false);
        text += "[HKEY_CLASSES_ROOT\\CLSID\\" + Text(kBoiler) +
                "\\VersionIndependentProgID]\n@=\"Plant.Boiler\"\n\n";
        // Known only by the OPC mark under its ProgID, as servers from before component categories.
        text += ClassEntry("Plant.Legacy.1", kLegacy, "Legacy line", {});
        text += ClassEntry("Plant.NeedsHost.1", kNeedsHost, "Needs a host", {CATID_OPCDAServer10});
        text += "[HKEY_CLASSES_ROOT\\CLSID\\" + Text(kNeedsHost) + "\\Required Categories\\" +
                Text(kHostingCategory) + "]\n\n";
        text += "[HKEY_CLASSES_ROOT\\CLSID\\" + Text(kNoProgID) + "]\n@=\"No ProgID\"\n\n";
        text += "[HKEY_CLASSES_ROOT\\CLSID\\" + Text(kNoProgID) + "\\Implemented Categories\\" +
                Text(CATID_OPCDAServer20) + "]\n\n";
        // OPC marks that lead nowhere: no CLSID subkey, and a CLSID value that is no class ID.
        text += "[HKEY_CLASSES_ROOT\\Plant.NoClass.1\\OPC]\n\n";
        text +=
            "[HKEY_CLASSES_ROOT\\Plant.Garbled.1\\OPC]\n\n[HKEY_CLASSES_ROOT\\Plant.Garbled.1\\CLSID]\n@="
            "\"boiler\"\n\n";
        return text;
    }

#ifndef _WIN32
    void WriteHost(const std::string& host, const std::string& body) {
        config_->WriteHost(host, "servers.reg", kRegistryHeader + body);
    }
#endif

    static IOPCServerList* LocalService() {
        IOPCServerList* list = nullptr;
        HRESULT hr = CoCreateInstance(CLSID_OPCServerList, nullptr, CLSCTX_ALL, IID_IOPCServerList,
                                      reinterpret_cast<void**>(&list));
        EXPECT_EQ(hr, S_OK);
        return list;
    }

    static HRESULT HostService(const std::string& host, IOPCServerList** list) {
        nv::WideString name = nv::ToWide(host);
        COSERVERINFO server{};
        server.pwszName = name.data();
        MULTI_QI query{&IID_IOPCServerList, nullptr, S_OK};
        HRESULT hr =
            CoCreateInstanceEx(CLSID_OPCServerList, nullptr, CLSCTX_REMOTE_SERVER, &server, 1, &query);
        *list = static_cast<IOPCServerList*>(query.pItf);
        return FAILED(hr) ? hr : query.hr;
    }

    static std::vector<GUID> Classes(IOPCServerList* list, std::vector<CATID> implemented,
                                     std::vector<CATID> required = {}) {
        IEnumGUID* e = nullptr;
        HRESULT hr = list->EnumClassesOfCategories(static_cast<ULONG>(implemented.size()), implemented.data(),
                                                   static_cast<ULONG>(required.size()), required.data(), &e);
        EXPECT_EQ(hr, S_OK);
        if (e == nullptr)
            return {};
        std::vector<GUID> out = Drain(e);
        e->Release();
        return out;
    }

    std::string modulePath_;
#ifndef _WIN32
    std::optional<nv::test::TempConfig> config_;
#endif
};

// ---- The local service over the registration the build ships ----------------------------------

TEST_F(ServerListTest, LocalServiceListsTheSimulationServersByCategory) {
    IOPCServerList* list = LocalService();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Texts(Classes(list, {CATID_OPCDAServer10})),
              Texts({CLSID_Simulation, CLSID_SimulationDA1, CLSID_SimulationFlat}));
    EXPECT_EQ(Texts(Classes(list, {CATID_OPCDAServer20})), Texts({CLSID_Simulation, CLSID_SimulationFlat}));
    // Either category: each class once.
    std::vector<GUID> both = Classes(list, {CATID_OPCDAServer20, CATID_OPCDAServer10});
    EXPECT_EQ(both.size(), 3u);
    EXPECT_EQ(Texts(both), Texts({CLSID_Simulation, CLSID_SimulationDA1, CLSID_SimulationFlat}));
    // A simulated host's servers never show up here.
    EXPECT_EQ(Texts(Classes(list, {CATID_OPCDAServer10})).count(Text(kBoiler)), 0u);
    list->Release();
}

TEST_F(ServerListTest, ShippedRegistrationIsComplete) {
    for (const GUID& clsid :
         {CLSID_Simulation, CLSID_SimulationDA1, CLSID_SimulationFlat, CLSID_OPCServerList}) {
        SCOPED_TRACE(Text(clsid));
        std::string key = "CLSID\\" + Text(clsid);
        auto path = DefaultValue(key + "\\InprocServer32");
        ASSERT_TRUE(path.has_value());
        EXPECT_TRUE(fs::path(*path).is_absolute()) << *path;
        EXPECT_TRUE(fs::exists(*path)) << *path;
#ifndef _WIN32  // a Windows test prefix rewrites the paths for its own drive letters
        EXPECT_EQ(path->rfind(NV_BUILD_DIR, 0), 0u) << "the build tree must register the build's module";
#endif

        HKEY inproc = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, nv::ToWide(key + "\\InprocServer32").c_str(), 0, KEY_READ,
                                &inproc),
                  ERROR_SUCCESS);
        WCHAR model[32] = {};
        DWORD size = sizeof(model) - sizeof(WCHAR);
        EXPECT_EQ(RegQueryValueExW(inproc, OLESTR("ThreadingModel"), nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(model), &size),
                  ERROR_SUCCESS);
        RegCloseKey(inproc);
        EXPECT_EQ(nv::ToUtf8(model), "Free");

        // ProgID and CLSID point at each other.
        auto progID = DefaultValue(key + "\\ProgID");
        ASSERT_TRUE(progID.has_value());
        EXPECT_EQ(DefaultValue(*progID + "\\CLSID"), Text(clsid));
    }
    for (const char* progID :
         {"Norvane.Simulation.1", "Norvane.Simulation.DA1.1", "Norvane.Simulation.Flat.1"}) {
        SCOPED_TRACE(progID);
        EXPECT_EQ(DefaultValue(std::string(progID) + "\\OPC\\Vendor"), "Norvane");
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, nv::ToWide("CLSID\\" + Text(CLSID_Simulation)).c_str(), 0,
                            KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD bulk = 0;
    DWORD size = sizeof(bulk);
    DWORD type = 0;
    EXPECT_EQ(
        RegQueryValueExW(key, OLESTR("BulkItems"), nullptr, &type, reinterpret_cast<BYTE*>(&bulk), &size),
        ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(bulk, 1000u);
}

TEST_F(ServerListTest, ClassDetailsAndProgIDLookup) {
    IOPCServerList* list = LocalService();
    ASSERT_NE(list, nullptr);
    LPOLESTR progID = nullptr;
    LPOLESTR userType = nullptr;
    ASSERT_EQ(list->GetClassDetails(CLSID_SimulationDA1, &progID, &userType), S_OK);
    EXPECT_EQ(nv::ToUtf8(progID), "Norvane.Simulation.DA1.1");
    EXPECT_EQ(nv::ToUtf8(userType), "Norvane OPC DA 1.0a Simulation Server");
    CoTaskMemFree(progID);
    CoTaskMemFree(userType);

    // Unknown class: a failure, and no string handed out.
    progID = reinterpret_cast<LPOLESTR>(1);
    userType = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(list->GetClassDetails(kBoiler, &progID, &userType), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progID, nullptr);
    EXPECT_EQ(userType, nullptr);

    CLSID clsid = GUID_NULL;
    EXPECT_EQ(list->CLSIDFromProgID(OLESTR("Norvane.Simulation.Flat.1"), &clsid), S_OK);
    EXPECT_EQ(Text(clsid), Text(CLSID_SimulationFlat));
    EXPECT_EQ(list->CLSIDFromProgID(OLESTR("norvane.simulation.flat.1"), &clsid), S_OK)
        << "ProgIDs ignore case";
    clsid = CLSID_Simulation;
    EXPECT_EQ(list->CLSIDFromProgID(OLESTR("Norvane.NoSuchServer.1"), &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(Text(clsid), Text(GUID_NULL));
    // Registered on the simulated host only.
    EXPECT_EQ(list->CLSIDFromProgID(OLESTR("Plant.Boiler.2"), &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(list->CLSIDFromProgID(OLESTR(""), &clsid), CO_E_CLASSSTRING);
    list->Release();
}

TEST_F(ServerListTest, BadArgumentsAreRefused) {
    IOPCServerList* list = LocalService();
    ASSERT_NE(list, nullptr);
    IEnumGUID* e = reinterpret_cast<IEnumGUID*>(1);
    EXPECT_EQ(list->EnumClassesOfCategories(2, nullptr, 0, nullptr, &e), E_INVALIDARG);
    EXPECT_EQ(e, nullptr);
    CATID catid[1] = {CATID_OPCDAServer20};
    EXPECT_EQ(list->EnumClassesOfCategories(1, catid, 1, nullptr, &e), E_INVALIDARG);
    EXPECT_NE(list->EnumClassesOfCategories(1, catid, 0, nullptr, nullptr), S_OK);
    EXPECT_NE(list->GetClassDetails(CLSID_Simulation, nullptr, nullptr), S_OK);
    EXPECT_NE(list->CLSIDFromProgID(OLESTR("Norvane.Simulation.1"), nullptr), S_OK);
    list->Release();
}

// ---- Enumerators ------------------------------------------------------------------------------

TEST_F(ServerListTest, EnumeratorCountsSkipsResetsAndClones) {
    IOPCServerList* list = LocalService();
    ASSERT_NE(list, nullptr);
    CATID catid[1] = {CATID_OPCDAServer10};
    IEnumGUID* e = nullptr;
    ASSERT_EQ(list->EnumClassesOfCategories(1, catid, 0, nullptr, &e), S_OK);
    list->Release();  // the enumerator outlives the service object

    std::array<GUID, 8> buffer{};
    ULONG fetched = 99;
    EXPECT_EQ(e->Next(8, buffer.data(), &fetched), S_FALSE);
    ASSERT_EQ(fetched, 3u);
    std::vector<GUID> all(buffer.begin(), buffer.begin() + 3);
    EXPECT_EQ(e->Next(1, buffer.data(), &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);

    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(2), S_OK);
    GUID one{};
    EXPECT_EQ(e->Next(1, &one, nullptr), S_OK);  // a single element needs no count
    EXPECT_EQ(Text(one), Text(all[2]));
    EXPECT_EQ(e->Skip(1), S_FALSE);

    e->Reset();
    EXPECT_EQ(e->Next(1, &one, &fetched), S_OK);
    IEnumGUID* copy = nullptr;
    ASSERT_EQ(e->Clone(&copy), S_OK);
    // The clone starts where the original stood, and each moves on its own.
    EXPECT_EQ(copy->Next(2, buffer.data(), &fetched), S_OK);
    EXPECT_EQ(Text(buffer[0]), Text(all[1]));
    EXPECT_EQ(Text(buffer[1]), Text(all[2]));
    EXPECT_EQ(e->Next(1, &one, &fetched), S_OK);
    EXPECT_EQ(Text(one), Text(all[1]));

    // Several elements without a place for the count is ambiguous and refused.
    e->Reset();
    EXPECT_EQ(e->Next(2, buffer.data(), nullptr), E_POINTER);
    EXPECT_EQ(e->Skip(4), S_FALSE);
    copy->Release();
    e->Release();
}

TEST_F(ServerListTest, SharedEnumeratorHandsOutEachClassOnce) {
    IOPCServerList* list = LocalService();
    ASSERT_NE(list, nullptr);
    IEnumGUID* e = nullptr;
    ASSERT_EQ(list->EnumClassesOfCategories(0, nullptr, 0, nullptr, &e), S_OK);  // every class
    list->Release();
    std::mutex mutex;
    std::vector<GUID> seen;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            GUID g;
            ULONG fetched = 0;
            while (e->Next(1, &g, &fetched) == S_OK) {
                std::lock_guard lock(mutex);
                seen.push_back(g);
            }
            CoUninitialize();
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(seen.size(), Texts(seen).size()) << "a class was handed out twice";
    EXPECT_GE(seen.size(), 4u);  // the three servers and the service itself
    e->Release();
}

// ---- The service's answers over a plant's servers registered on this computer ------------------

TEST_F(ServerListTest, RequiredCategoriesNameWhatTheCallerCanHost) {
    nv::test::TestRegistration plant(kRegistryHeader + PlantClasses());
    IOPCServerList* list = LocalService();
    ASSERT_NE(list, nullptr);
    // No required list: classes are listed whatever they require.
    EXPECT_EQ(PlantTexts(Classes(list, {CATID_OPCDAServer10}, {})).count(Text(kNeedsHost)), 1u);
    // A caller that cannot host the category the class needs does not get it ...
    EXPECT_EQ(PlantTexts(Classes(list, {CATID_OPCDAServer10}, {CATID_OPCDAServer20})), Texts({kLegacy}));
    // ... one that can, does.
    EXPECT_EQ(PlantTexts(Classes(list, {CATID_OPCDAServer10}, {kHostingCategory})),
              Texts({kLegacy, kNeedsHost}));
    list->Release();
}

TEST_F(ServerListTest, SecondInterfaceReportsVersionIndependentProgID) {
    nv::test::TestRegistration plant(kRegistryHeader + PlantClasses());
    IOPCServerList* list = LocalService();
    ASSERT_NE(list, nullptr);
    IOPCServerList2* list2 = nullptr;
    ASSERT_EQ(list->QueryInterface(IID_IOPCServerList2, reinterpret_cast<void**>(&list2)), S_OK);
    list->Release();

    LPOLESTR progID = nullptr;
    LPOLESTR userType = nullptr;
    LPOLESTR independent = nullptr;
    ASSERT_EQ(list2->GetClassDetails(kBoiler, &progID, &userType, &independent), S_OK);
    EXPECT_EQ(nv::ToUtf8(independent), "Plant.Boiler");
    CoTaskMemFree(progID);
    CoTaskMemFree(userType);
    CoTaskMemFree(independent);
    // None registered: the ProgID stands in.
    ASSERT_EQ(list2->GetClassDetails(kLegacy, &progID, &userType, &independent), S_OK);
    EXPECT_EQ(nv::ToUtf8(independent), "Plant.Legacy.1");
    CoTaskMemFree(progID);
    CoTaskMemFree(userType);
    CoTaskMemFree(independent);

    CATID catid[1] = {CATID_OPCDAServer20};
    IOPCEnumGUID* e = nullptr;
    ASSERT_EQ(list2->EnumClassesOfCategories(1, catid, 0, nullptr, &e), S_OK);
    EXPECT_EQ(PlantTexts(Drain(e)), Texts({kBoiler, kNoProgID}));
    IOPCEnumGUID* copy = nullptr;
    ASSERT_EQ(e->Clone(&copy), S_OK);
    GUID g;
    ULONG fetched = 1;
    EXPECT_EQ(copy->Next(1, &g, &fetched), S_FALSE) << "the clone keeps the exhausted position";
    EXPECT_EQ(fetched, 0u);
    copy->Release();
    e->Release();
    list2->Release();
}

// Simulated hosts and the command-line program run on the stand-in only; a Windows test prefix
// has no hosts of its own.
#ifndef _WIN32

// ---- A simulated host's own service -----------------------------------------------------------

TEST_F(ServerListTest, HostServiceServesItsOwnRegistry) {
    IOPCServerList* list = nullptr;
    ASSERT_EQ(HostService(kHost, &list), S_OK);
    ASSERT_NE(list, nullptr);
    // DA 1.0 also finds the server known only by its OPC mark; broken marks add nothing.
    EXPECT_EQ(Texts(Classes(list, {CATID_OPCDAServer10})), Texts({kLegacy, kNeedsHost}));
    EXPECT_EQ(Texts(Classes(list, {CATID_OPCDAServer20})), Texts({kBoiler, kNoProgID}));

    LPOLESTR progID = nullptr;
    LPOLESTR userType = nullptr;
    ASSERT_EQ(list->GetClassDetails(kBoiler, &progID, &userType), S_OK);
    EXPECT_EQ(nv::ToUtf8(progID), "Plant.Boiler.2");
    EXPECT_EQ(nv::ToUtf8(userType), "Boiler house");
    CoTaskMemFree(progID);
    CoTaskMemFree(userType);
    EXPECT_EQ(list->GetClassDetails(kNoProgID, &progID, &userType), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progID, nullptr);
    EXPECT_EQ(userType, nullptr);
    EXPECT_EQ(list->GetClassDetails(CLSID_Simulation, &progID, &userType), REGDB_E_CLASSNOTREG)
        << "a class of this computer is not one of the host's";

    CLSID clsid = GUID_NULL;
    EXPECT_EQ(list->CLSIDFromProgID(OLESTR("Plant.Legacy.1"), &clsid), S_OK);
    EXPECT_EQ(Text(clsid), Text(kLegacy));
    EXPECT_EQ(list->CLSIDFromProgID(OLESTR("Norvane.Simulation.1"), &clsid), CO_E_CLASSSTRING);
    list->Release();
}

TEST_F(ServerListTest, UnreachableHostsAnswerLikeAMissingMachine) {
    IOPCServerList* list = nullptr;
    EXPECT_EQ(HostService("no-such-host-here", &list), HRESULT(0x800706BA));
    EXPECT_EQ(list, nullptr);
    // A host without a service of its own is not answered by this computer's.
    EXPECT_TRUE(FAILED(HostService(kHostWithoutService, &list)));
    EXPECT_EQ(list, nullptr);
}

#endif  // _WIN32

// ---- The command-line smoke program -----------------------------------------------------------

struct ListerRun {
    int status = -1;
    std::string output;
};

ListerRun RunLister(const std::string& arguments) {
#ifdef _WIN32
    std::string program = std::string(NV_BUILD_DIR) + "/bin/norvane-list-servers.exe";
    std::replace(program.begin(), program.end(), '/', '\\');  // the command interpreter reads "/" as a switch
#else
    std::string program = std::string(NV_BUILD_DIR) + "/bin/norvane-list-servers";
#endif
    ListerRun run;
    if (!fs::exists(program)) {
        ADD_FAILURE() << program << " was not built";
        return run;
    }
#ifdef _WIN32
    FILE* pipe = _popen(("\"" + program + "\" " + arguments + " 2>&1").c_str(), "r");
#else
    FILE* pipe = popen((program + " " + arguments + " 2>&1").c_str(), "r");
#endif
    if (pipe == nullptr)
        return run;
    char buffer[512];
    while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr)
        run.output += buffer;
#ifdef _WIN32
    run.status = _pclose(pipe);
    run.output.erase(std::remove(run.output.begin(), run.output.end(), '\r'), run.output.end());
#else
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return run;
}

TEST_F(ServerListTest, ListerPrintsOneLinePerServer) {
    ListerRun local = RunLister("");
    EXPECT_EQ(local.status, 0) << local.output;
    EXPECT_NE(
        local.output.find(Text(CLSID_Simulation) +
                          "\tNorvane.Simulation.1\tNorvane OPC DA 2.0 Simulation Server\tDA 1.0, 2.0\n"),
        std::string::npos)
        << local.output;
    EXPECT_NE(
        local.output.find(Text(CLSID_SimulationDA1) +
                          "\tNorvane.Simulation.DA1.1\tNorvane OPC DA 1.0a Simulation Server\tDA 1.0\n"),
        std::string::npos)
        << local.output;
    EXPECT_EQ(std::count(local.output.begin(), local.output.end(), '\n'), 3) << local.output;

#ifndef _WIN32  // the simulated hosts
    ListerRun host = RunLister(kHost);
    EXPECT_EQ(host.status, 0) << host.output;
    EXPECT_NE(host.output.find("\tPlant.Boiler.2\tBoiler house\tDA 2.0\n"), std::string::npos) << host.output;
    EXPECT_NE(host.output.find("\tPlant.Legacy.1\tLegacy line\tDA 1.0\n"), std::string::npos) << host.output;
    EXPECT_EQ(host.output.find("Norvane.Simulation"), std::string::npos) << host.output;

    ListerRun missing = RunLister("no-such-host-here");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("0x800706BA"), std::string::npos) << missing.output;
    EXPECT_NE(missing.output.find("no-such-host-here"), std::string::npos) << missing.output;
#endif
}

}  // namespace
