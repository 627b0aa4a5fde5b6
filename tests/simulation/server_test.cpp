// The server object of the simulation servers: creation from the registry, the interfaces each
// class offers, status, groups, error texts and item properties.
#include "SimTestSupport.h"

#include <filesystem>
#include <fstream>
#include <set>

using namespace simtest;
using nv::sim::CLSID_Simulation;
using nv::sim::CLSID_SimulationDA1;
using nv::sim::CLSID_SimulationFlat;

namespace {

class ServerTest : public SimTest {};

bool Has(IUnknown* object, REFIID iid) {
    IUnknown* p = nullptr;
    HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void**>(&p));
    if (p)
        p->Release();
    return hr == S_OK && p;
}

uint64_t Ticks(const FILETIME& ft) {
    return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

std::vector<std::string> DrainStrings(IEnumString* e) {
    std::vector<std::string> out;
    LPOLESTR s = nullptr;
    ULONG fetched = 0;
    while (e->Next(1, &s, &fetched) == S_OK && fetched == 1) {
        out.push_back(Utf8(s));
        CoTaskMemFree(s);
    }
    return out;
}

TEST_F(ServerTest, EveryProgIdCreatesItsClassFromTheRegistration) {
    for (const auto& [progId, clsid] : {std::pair{nv::sim::ProgID_Simulation, CLSID_Simulation},
                                        std::pair{nv::sim::ProgID_SimulationDA1, CLSID_SimulationDA1},
                                        std::pair{nv::sim::ProgID_SimulationFlat, CLSID_SimulationFlat}}) {
        CLSID found{};
        ASSERT_EQ(CLSIDFromProgID(progId, &found), S_OK) << Utf8(progId);
        EXPECT_TRUE(IsEqualCLSID(found, clsid));
        Ptr<IUnknown> object;
        ASSERT_EQ(CoCreateInstance(found, nullptr, CLSCTX_ALL, IID_IUnknown, object.PutVoid()), S_OK);
        EXPECT_TRUE(Has(object.Get(), IID_IOPCServer));
        EXPECT_TRUE(Has(object.Get(), IID_IOPCBrowseServerAddressSpace));
    }
}

TEST_F(ServerTest, DA1ClassOffersOnlyTheDA1Interfaces) {
    Ptr<IOPCServer> full = Create(CLSID_Simulation);
    Ptr<IOPCServer> da1 = Create(CLSID_SimulationDA1);
    for (REFIID iid : {IID_IOPCCommon, IID_IConnectionPointContainer, IID_IOPCItemProperties}) {
        EXPECT_TRUE(Has(full.Get(), iid));
        EXPECT_FALSE(Has(da1.Get(), iid));
    }
    Ptr<IOPCItemMgt> fullGroup = AddGroup(full.Get(), "g");
    Ptr<IOPCItemMgt> da1Group = AddGroup(da1.Get(), "g");
    for (REFIID iid : {IID_IOPCAsyncIO2, IID_IConnectionPointContainer}) {
        EXPECT_TRUE(Has(fullGroup.Get(), iid));
        EXPECT_FALSE(Has(da1Group.Get(), iid));
    }
    for (REFIID iid : {IID_IOPCSyncIO, IID_IOPCAsyncIO, IID_IDataObject, IID_IOPCGroupStateMgt}) {
        EXPECT_TRUE(Has(fullGroup.Get(), iid));
        EXPECT_TRUE(Has(da1Group.Get(), iid));
    }
    // A failed query leaves nothing behind and says why.
    IUnknown* p = reinterpret_cast<IUnknown*>(0x1);
    EXPECT_EQ(da1->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(&p)), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
}

TEST_F(ServerTest, StatusReportsStateTimesGroupCountAndVendor) {
    Ptr<IOPCServer> server = Create(CLSID_Simulation);
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_EQ(server->GetStatus(&status), S_OK);
    EXPECT_EQ(status->dwServerState, OPC_STATUS_RUNNING);
    EXPECT_EQ(status->dwGroupCount, 0u);
    EXPECT_LE(Ticks(status->ftStartTime), Ticks(status->ftCurrentTime));
    EXPECT_NE(Ticks(status->ftStartTime), 0u);
    EXPECT_FALSE(Utf8(status->szVendorInfo).empty());
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);

    OPCHANDLE h1 = 0, h2 = 0;
    Ptr<IOPCItemMgt> g1 = AddGroup(server.Get(), "one", 100, true, 1, &h1);
    Ptr<IOPCItemMgt> g2 = AddGroup(server.Get(), "two", 100, true, 2, &h2);
    ASSERT_EQ(server->GetStatus(&status), S_OK);
    EXPECT_EQ(status->dwGroupCount, 2u);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    g1.Reset();
    EXPECT_EQ(server->RemoveGroup(h1, FALSE), S_OK);
    ASSERT_EQ(server->GetStatus(&status), S_OK);
    EXPECT_EQ(status->dwGroupCount, 1u);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
}

TEST_F(ServerTest, AddGroupRevisesRatesAndKeepsNamesUnique) {
    Ptr<IOPCServer> server = Create(CLSID_Simulation);
    OPCHANDLE h = 0;
    DWORD revised = 0;
    Ptr<IOPCItemMgt> group;
    // Faster than the server can sample: revised, and said so.
    EXPECT_EQ(server->AddGroup(OLESTR("fast"), TRUE, 0, 5, nullptr, nullptr, 0, &h, &revised, IID_IOPCItemMgt,
                               reinterpret_cast<LPUNKNOWN*>(group.Put())),
              OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(revised, 10u);
    Ptr<IOPCItemMgt> other;
    EXPECT_EQ(server->AddGroup(OLESTR("slow"), TRUE, 2500, 6, nullptr, nullptr, 0, &h, &revised,
                               IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(other.Put())),
              S_OK);
    EXPECT_EQ(revised, 2500u);

    Ptr<IOPCItemMgt> duplicate;
    EXPECT_EQ(server->AddGroup(OLESTR("fast"), TRUE, 100, 7, nullptr, nullptr, 0, &h, &revised,
                               IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(duplicate.Put())),
              OPC_E_DUPLICATENAME);
    EXPECT_FALSE(duplicate);

    // Unnamed groups get distinct names of their own.
    std::set<std::string> names;
    for (int i = 0; i < 3; ++i) {
        Ptr<IOPCGroupStateMgt> unnamed;
        ASSERT_EQ(server->AddGroup(OLESTR(""), TRUE, 100, 8, nullptr, nullptr, 0, &h, &revised,
                                   IID_IOPCGroupStateMgt, reinterpret_cast<LPUNKNOWN*>(unnamed.Put())),
                  S_OK);
        DWORD rate;
        BOOL active;
        LPWSTR name = nullptr;
        LONG bias;
        FLOAT deadband;
        DWORD lcid;
        OPCHANDLE hc, hs;
        ASSERT_EQ(unnamed->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &hc, &hs), S_OK);
        names.insert(Utf8(name));
        EXPECT_FALSE(Utf8(name).empty());
        CoTaskMemFree(name);
    }
    EXPECT_EQ(names.size(), 3u);

    Ptr<IOPCItemMgt> badDeadband;
    FLOAT tooMuch = 150.0f;
    EXPECT_EQ(server->AddGroup(OLESTR("dead"), TRUE, 100, 9, nullptr, &tooMuch, 0, &h, &revised,
                               IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(badDeadband.Put())),
              E_INVALIDARG);
}

TEST_F(ServerTest, GroupsAreFoundByNameEnumeratedAndRemoved) {
    Ptr<IOPCServer> server = Create(CLSID_Simulation);
    OPCHANDLE hA = 0, hB = 0;
    Ptr<IOPCItemMgt> a = AddGroup(server.Get(), "alpha", 100, true, 1, &hA);
    Ptr<IOPCItemMgt> b = AddGroup(server.Get(), "beta", 100, true, 2, &hB);

    Ptr<IOPCGroupStateMgt> byName;
    ASSERT_EQ(server->GetGroupByName(OLESTR("beta"), IID_IOPCGroupStateMgt,
                                     reinterpret_cast<LPUNKNOWN*>(byName.Put())),
              S_OK);
    Ptr<IUnknown> u1, u2;
    byName->QueryInterface(IID_IUnknown, u1.PutVoid());
    b->QueryInterface(IID_IUnknown, u2.PutVoid());
    EXPECT_EQ(u1.Get(), u2.Get());  // the same object
    Ptr<IUnknown> none;
    EXPECT_EQ(server->GetGroupByName(OLESTR("gamma"), IID_IUnknown, none.Put()), E_INVALIDARG);

    Ptr<IEnumString> names;
    ASSERT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL_CONNECTIONS, IID_IEnumString,
                                            reinterpret_cast<LPUNKNOWN*>(names.Put())),
              S_OK);
    EXPECT_EQ(DrainStrings(names.Get()), (std::vector<std::string>{"alpha", "beta"}));
    Ptr<IEnumUnknown> objects;
    ASSERT_EQ(server->CreateGroupEnumerator(OPC_ENUM_PRIVATE, IID_IEnumUnknown,
                                            reinterpret_cast<LPUNKNOWN*>(objects.Put())),
              S_OK);
    IUnknown* got[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(objects->Next(3, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2u);
    for (ULONG i = 0; i < fetched; ++i)
        got[i]->Release();
    objects.Reset();  // its snapshot holds the groups too
    // No public groups here: an empty enumerator, and S_FALSE.
    Ptr<IEnumString> publicNames;
    EXPECT_EQ(server->CreateGroupEnumerator(OPC_ENUM_PUBLIC, IID_IEnumString,
                                            reinterpret_cast<LPUNKNOWN*>(publicNames.Put())),
              S_FALSE);
    ASSERT_TRUE(publicNames);
    EXPECT_TRUE(DrainStrings(publicNames.Get()).empty());

    // The client still holds `a`: removal works but says the group is still in use.
    EXPECT_EQ(server->RemoveGroup(hA, FALSE), OPC_S_INUSE);
    EXPECT_EQ(server->RemoveGroup(hA, FALSE), E_INVALIDARG);  // already gone
    b.Reset();
    byName.Reset();
    u1.Reset();
    u2.Reset();
    EXPECT_EQ(server->RemoveGroup(hB, FALSE), S_OK);
    // The removed group's object stays usable for the client that holds it.
    auto added = AddItems(a.Get(), {"Static.Int4"});
    ASSERT_EQ(added.size(), 1u);
    Value v;
    EXPECT_EQ(ReadSync(a.Get(), added[0].hServer, OPC_DS_DEVICE, &v), S_OK);
}

TEST_F(ServerTest, ErrorStringsCoverOpcCodesAndRefuseUnknownOnes) {
    Ptr<IOPCServer> server = Create(CLSID_Simulation);
    LPWSTR text = nullptr;
    ASSERT_EQ(server->GetErrorString(OPC_E_UNKNOWNITEMID, 0x400, &text), S_OK);
    EXPECT_NE(Utf8(text).find("item ID"), std::string::npos);
    CoTaskMemFree(text);
    ASSERT_EQ(server->GetErrorString(OPC_S_UNSUPPORTEDRATE, 0x409, &text), S_OK);
    EXPECT_NE(Utf8(text).find("rate"), std::string::npos);
    CoTaskMemFree(text);
    // A system code is answered from the system's texts, without the line end.
    ASSERT_EQ(server->GetErrorString(E_INVALIDARG, 0x800, &text), S_OK);
    std::string system = Utf8(text);
    CoTaskMemFree(text);
    EXPECT_FALSE(system.empty());
    EXPECT_NE(system.back(), '\n');
    // A language the server does not speak.
    text = reinterpret_cast<LPWSTR>(0x1);
    EXPECT_EQ(server->GetErrorString(OPC_E_BADTYPE, 0x407, &text), E_INVALIDARG);
    EXPECT_EQ(text, nullptr);

    Ptr<IOPCCommon> common = server.As<IOPCCommon>();
    ASSERT_TRUE(common);
    EXPECT_EQ(common->SetLocaleID(0x407), E_INVALIDARG);
    EXPECT_EQ(common->SetLocaleID(0x409), S_OK);
    LCID lcid = 0;
    EXPECT_EQ(common->GetLocaleID(&lcid), S_OK);
    EXPECT_EQ(lcid, 0x409u);
    ASSERT_EQ(common->GetErrorString(OPC_E_RANGE, &text), S_OK);
    EXPECT_EQ(Utf8(text), "The value was out of range.");
    CoTaskMemFree(text);
    DWORD count = 0;
    LCID* list = nullptr;
    ASSERT_EQ(common->QueryAvailableLocaleIDs(&count, &list), S_OK);
    EXPECT_TRUE(std::find(list, list + count, 0x409u) != list + count);
    CoTaskMemFree(list);
    EXPECT_EQ(common->SetClientName(OLESTR("test client")), S_OK);
}

TEST_F(ServerTest, AnalogItemsHaveEngineeringUnitPropertiesOthersDoNot) {
    Ptr<IOPCServer> server = Create(CLSID_Simulation);
    Ptr<IOPCItemProperties> props = server.As<IOPCItemProperties>();
    ASSERT_TRUE(props);
    auto available = [&](const OLECHAR* id) {
        DWORD count = 0;
        DWORD* ids = nullptr;
        LPWSTR* descriptions = nullptr;
        VARTYPE* types = nullptr;
        std::set<DWORD> out;
        HRESULT hr =
            props->QueryAvailableProperties(const_cast<LPWSTR>(id), &count, &ids, &descriptions, &types);
        EXPECT_EQ(hr, S_OK);
        for (DWORD i = 0; i < count; ++i) {
            out.insert(ids[i]);
            EXPECT_FALSE(Utf8(descriptions[i]).empty());
            CoTaskMemFree(descriptions[i]);
        }
        CoTaskMemFree(ids);
        CoTaskMemFree(descriptions);
        CoTaskMemFree(types);
        return out;
    };
    std::set<DWORD> analog = available(OLESTR("Dynamic.Sine.Real8"));
    for (DWORD id : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 100u, 101u, 102u, 103u})
        EXPECT_TRUE(analog.count(id)) << id;
    std::set<DWORD> text = available(OLESTR("Static.String"));
    EXPECT_TRUE(text.count(1) && text.count(6));
    EXPECT_FALSE(text.count(7) || text.count(8) || text.count(102));

    DWORD pids[] = {OPC_PROPERTY_DATATYPE, OPC_PROPERTY_ACCESS_RIGHTS, OPC_PROPERTY_EU_INFO,
                    OPC_PROPERTY_HIGH_EU, 9999};
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(
        props->GetItemProperties(const_cast<LPWSTR>(OLESTR("Static.Percent")), 5, pids, &values, &errors),
        S_FALSE);
    EXPECT_EQ(values[0].vt, VT_I2);
    EXPECT_EQ(values[0].iVal, VT_R8);
    EXPECT_EQ(values[1].lVal, OPC_READABLE | OPC_WRITEABLE);
    ASSERT_EQ(values[2].vt, VT_ARRAY | VT_R8);
    double* range = nullptr;
    SafeArrayAccessData(values[2].parray, reinterpret_cast<void**>(&range));
    EXPECT_EQ(range[0], 0.0);
    EXPECT_EQ(range[1], 100.0);
    SafeArrayUnaccessData(values[2].parray);
    EXPECT_EQ(values[3].dblVal, 100.0);
    EXPECT_EQ(errors[4], OPC_E_INVALID_PID);
    EXPECT_EQ(values[4].vt, VT_EMPTY);
    for (int i = 0; i < 5; ++i)
        VariantClear(&values[i]);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);

    // Enumerated items list their texts.
    DWORD euInfo = OPC_PROPERTY_EU_INFO;
    ASSERT_EQ(
        props->GetItemProperties(const_cast<LPWSTR>(OLESTR("Static.Mode")), 1, &euInfo, &values, &errors),
        S_OK);
    ASSERT_EQ(values[0].vt, VT_ARRAY | VT_BSTR);
    LONG upper = -1;
    SafeArrayGetUBound(values[0].parray, 1, &upper);
    EXPECT_EQ(upper, 2);
    VariantClear(&values[0]);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);

    values = reinterpret_cast<VARIANT*>(0x1);
    EXPECT_EQ(props->GetItemProperties(const_cast<LPWSTR>(OLESTR("No.Such.Item")), 1, pids, &values, &errors),
              OPC_E_UNKNOWNITEMID);
    EXPECT_EQ(values, nullptr);
    LPWSTR* newIds = nullptr;
    ASSERT_EQ(props->LookupItemIDs(const_cast<LPWSTR>(OLESTR("Static.Int4")), 1, pids, &newIds, &errors),
              S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_INVALID_PID);
    EXPECT_EQ(newIds[0], nullptr);
    CoTaskMemFree(newIds);
    CoTaskMemFree(errors);
}

TEST_F(ServerTest, BulkBranchSizeComesFromTheClassRegistration) {
    auto bulkCount = [&](const CLSID& clsid) {
        Ptr<IOPCServer> server = Create(clsid);
        Ptr<IOPCBrowseServerAddressSpace> browse = server.As<IOPCBrowseServerAddressSpace>();
        Ptr<IEnumString> e;
        OPCNAMESPACETYPE type;
        browse->QueryOrganization(&type);
        if (type == OPC_NS_HIERARCHIAL) {
            EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, OLESTR("Bulk")), S_OK);
            browse->BrowseOPCItemIDs(OPC_LEAF, OLESTR(""), VT_EMPTY, 0, e.Put());
        } else {
            browse->BrowseOPCItemIDs(OPC_FLAT, OLESTR("Bulk.*"), VT_EMPTY, 0, e.Put());
        }
        return e ? DrainStrings(e.Get()).size() : 0;
    };
    EXPECT_EQ(bulkCount(CLSID_Simulation), 1000u);  // the shipped registration
    EXPECT_EQ(bulkCount(CLSID_SimulationDA1), 7u);  // this test's user registry
}

TEST_F(ServerTest, OnASimulatedHostTheBulkSizeComesFromThatHostsRegistry) {
#ifdef _WIN32
    GTEST_SKIP() << "simulated hosts are a feature of the Linux stand-in";
#else  // The host registers the DA 1.0a class with the module this build made, and its own size.
    OLECHAR clsid[40] = {};
    StringFromGUID2(CLSID_SimulationDA1, clsid, 40);
    std::string key = "CLSID\\" + Utf8(clsid);
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, nv::ToWide(key + "\\InprocServer32").c_str(), 0, KEY_READ, &k),
              ERROR_SUCCESS);
    WCHAR module[1024] = {};
    DWORD size = sizeof(module) - sizeof(WCHAR);
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExW(k, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(module), &size),
              ERROR_SUCCESS);
    RegCloseKey(k);
    std::string dir = config_ + "/norvane-opc-client/hosts/plant9";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/sim.reg") << "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\" << key
                                    << "]\n\"BulkItems\"=dword:00000003\n\n[HKEY_CLASSES_ROOT\\" << key
                                    << "\\InprocServer32]\n@=\"" << Utf8(module)
                                    << "\"\n\"ThreadingModel\"=\"Free\"\n";
    nvplatform::ReloadRegistry();

    nv::WideString host = nv::ToWide("plant9");
    COSERVERINFO info{0, const_cast<LPWSTR>(host.c_str()), nullptr, 0};
    MULTI_QI qi{&IID_IOPCBrowseServerAddressSpace, nullptr, S_OK};
    ASSERT_EQ(CoCreateInstanceEx(CLSID_SimulationDA1, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &qi), S_OK);
    Ptr<IOPCBrowseServerAddressSpace> browse(static_cast<IOPCBrowseServerAddressSpace*>(qi.pItf));
    ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, OLESTR("Bulk")), S_OK);
    Ptr<IEnumString> e;
    browse->BrowseOPCItemIDs(OPC_LEAF, OLESTR(""), VT_EMPTY, 0, e.Put());
    ASSERT_TRUE(e);
    EXPECT_EQ(DrainStrings(e.Get()), (std::vector<std::string>{"Item0001", "Item0002", "Item0003"}));
#endif
}

}  // namespace
