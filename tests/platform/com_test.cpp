// The COM runtime: apartments, object creation from the registry (locally and on simulated
// hosts) with the Windows result codes, GUID text, ProgIDs, class registration, task memory.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "platform/NvWide.h"
#include "platform/win32.h"
#include "tests/platform/testmodule/TestCounter.h"
#include "tests/windows/NvWine.h"
#ifndef _WIN32
#include "tests/windows/NvTempConfig.h"
#endif

// Most of these tests hold on Windows as well, against the real runtime with the test module
// registered in the system registry; those about simulated hosts and the .reg registry are the
// stand-in's alone.

namespace {

using WString = std::basic_string<OLECHAR>;
using nv::test::NoteWineDifference;
using nv::test::RunningUnderWine;
#ifndef _WIN32
using nv::test::TempConfig;
#endif

constexpr HRESULT kServerUnavailable = static_cast<HRESULT>(0x800706BAu);
constexpr HRESULT kModuleNotFound = static_cast<HRESULT>(0x8007007Eu);

// Runs `body` on a thread of its own, so apartment state never leaks between tests.
template <typename F>
void OnNewThread(F body) {
    std::thread t(body);
    t.join();
}

struct Apartment {
    Apartment() { hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~Apartment() {
        if (SUCCEEDED(hr))
            CoUninitialize();
    }
    HRESULT hr;
};

WString CreationHostOf(ITestCounter* counter) {
    LPOLESTR host = nullptr;
    if (FAILED(counter->GetCreationHost(&host)))
        return OLESTR("<failed>");
    WString out(host);
    CoTaskMemFree(host);
    return out;
}

// A test fixture with the test module registered locally and on host "PlantA" (only the
// counter's registration on the host: the whole file is copied there too).
class ComCreation : public ::testing::Test {
protected:
#ifndef _WIN32
    void SetUp() override {
        config_.InstallTestModule(config_.UserRegistry());
        config_.InstallTestModule(config_.Host("PlantA"));
        config_.WriteHost("PlantB", "empty.reg", "REGEDIT4\n[HKEY_CLASSES_ROOT\\Nothing]\n");
        nvplatform::ReloadRegistry();
        ASSERT_TRUE(config_.LoadErrors().empty());
    }
    TempConfig config_;
#endif
    Apartment apartment_;
};

TEST(ComApartment, JoinsOnceAndRefusesAChangeOfModel) {
    OnNewThread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
        CoUninitialize();
        // Fully left: a different model is now accepted.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
        int reserved = 0;
        HRESULT hr = CoInitializeEx(&reserved, COINIT_MULTITHREADED);
        if (RunningUnderWine() && hr != E_INVALIDARG) {
            NoteWineDifference("CoInitializeEx accepts a reserved pointer");
            if (SUCCEEDED(hr))
                CoUninitialize();
        } else {
            EXPECT_EQ(hr, E_INVALIDARG);
        }
    });
}

TEST(ComApartment, SecuritySetUpHappensOnce) {
    Apartment apartment;
    HRESULT first = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                                         RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    EXPECT_TRUE(first == S_OK || first == RPC_E_TOO_LATE);
    HRESULT second = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                                          RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (RunningUnderWine() && second != RPC_E_TOO_LATE) {
        NoteWineDifference("CoInitializeSecurity accepts a second call");
    } else {
        EXPECT_EQ(second, RPC_E_TOO_LATE);
    }
}

TEST_F(ComCreation, ThreadWithoutApartmentCannotCreateUnlessTheProcessHasOne) {
    // The fixture's thread holds the multithreaded apartment, so other threads are in it too.
    OnNewThread([] {
        ITestCounter* counter = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_ITestCounter,
                                   reinterpret_cast<void**>(&counter)),
                  S_OK);
        if (counter != nullptr)
            counter->Release();
    });
    CoUninitialize();
    apartment_.hr = E_FAIL;  // already left
    OnNewThread([] {
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_IUnknown, &p),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(p, nullptr);
        MULTI_QI qi{&IID_IUnknown, nullptr, S_OK};
        EXPECT_EQ(CoCreateInstanceEx(CLSID_TestCounter, nullptr, CLSCTX_ALL, nullptr, 1, &qi),
                  CO_E_NOTINITIALIZED);
#ifndef _WIN32
        EXPECT_EQ(qi.hr, CO_E_NOTINITIALIZED);  // every entry tells why it is empty
#endif
        EXPECT_EQ(qi.pItf, nullptr);
    });
}

TEST_F(ComCreation, CreatesARegisteredClassFromItsModule) {
    ITestCounter* counter = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                               IID_ITestCounter, reinterpret_cast<void**>(&counter)),
              S_OK);
    ASSERT_NE(counter, nullptr);
    LONG value = 0;
    EXPECT_EQ(counter->Increment(&value), S_OK);
    EXPECT_EQ(counter->Increment(&value), S_OK);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(CreationHostOf(counter), WString());

    // A second object comes from the already loaded module and is independent of the first.
    ITestCounter* other = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_ITestCounter,
                               reinterpret_cast<void**>(&other)),
              S_OK);
    EXPECT_EQ(other->Increment(&value), S_OK);
    EXPECT_EQ(value, 1);
    LONG live = 0;
    EXPECT_EQ(other->GetLiveObjects(&live), S_OK);
    EXPECT_EQ(live, 2);
    other->Release();
    counter->GetLiveObjects(&live);
    EXPECT_EQ(live, 1);
    counter->Release();
#ifndef _WIN32
    EXPECT_EQ(std::u16string(nvplatform_CurrentCreationHost()), u"");
#endif
}

TEST_F(ComCreation, ReportsEachKindOfFailureWithItsWindowsCode) {
    struct Case {
        const CLSID* clsid;
        const IID* iid;
        HRESULT expected;
    } cases[] = {
        {&CLSID_TestUnregistered, &IID_IUnknown, REGDB_E_CLASSNOTREG},
        {&CLSID_TestRefused, &IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE},
        {&CLSID_TestNoEntry, &IID_IUnknown, CO_E_ERRORINDLL},
        {&CLSID_TestMissingModule, &IID_IUnknown, kModuleNotFound},
        {&CLSID_TestCounter, &IID_IDataObject, E_NOINTERFACE},
    };
#ifndef _WIN32
    ::testing::internal::CaptureStderr();
#endif
    for (const auto& c : cases) {
        void* p = reinterpret_cast<void*>(1);
        HRESULT hr = CoCreateInstance(*c.clsid, nullptr, CLSCTX_ALL, *c.iid, &p);
        bool moduleFault = c.clsid == &CLSID_TestNoEntry || c.clsid == &CLSID_TestMissingModule ||
                           c.clsid == &CLSID_TestRefused;
        if (RunningUnderWine() && moduleFault && hr != c.expected) {
            NoteWineDifference("a module that cannot serve the class gives another failure code");
            EXPECT_TRUE(FAILED(hr));
        } else {
            EXPECT_EQ(hr, c.expected);
        }
        EXPECT_EQ(p, nullptr);
    }
#ifndef _WIN32
    std::string printed = ::testing::internal::GetCapturedStderr();
    // Load failures say which module and why; the HRESULT alone would not.
    EXPECT_NE(printed.find("no-such-module.so"), std::string::npos) << printed;
#endif
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);
    void* p = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_TestCounter, nullptr, 0, IID_IUnknown, &p);
    if (RunningUnderWine() && hr != E_INVALIDARG) {
        NoteWineDifference("an empty class context gives another failure code");
        EXPECT_TRUE(FAILED(hr));
    } else {
        EXPECT_EQ(hr, E_INVALIDARG);
    }
}

#ifndef _WIN32
TEST_F(ComCreation, CreatesOnASimulatedHostWhichTheObjectKnows) {
    COSERVERINFO server{0, const_cast<LPWSTR>(u"planta"), nullptr, 0};
    MULTI_QI qi[2] = {{&IID_IUnknown, nullptr, E_FAIL}, {&IID_ITestCounter, nullptr, E_FAIL}};
    ASSERT_EQ(CoCreateInstanceEx(CLSID_TestCounter, nullptr, CLSCTX_REMOTE_SERVER, &server, 2, qi), S_OK);
    EXPECT_EQ(qi[0].hr, S_OK);
    EXPECT_EQ(qi[1].hr, S_OK);
    ASSERT_NE(qi[1].pItf, nullptr);
    auto* counter = static_cast<ITestCounter*>(qi[1].pItf);
    EXPECT_EQ(CreationHostOf(counter), u"planta");
    qi[0].pItf->Release();
    counter->Release();
    // Outside a creation no host is current.
    EXPECT_EQ(std::u16string(nvplatform_CurrentCreationHost()), u"");

    // A host that knows nothing of the class, and one that does not exist.
    server.pwszName = const_cast<LPWSTR>(u"PlantB");
    MULTI_QI one{&IID_IUnknown, nullptr, S_OK};
    EXPECT_EQ(CoCreateInstanceEx(CLSID_TestCounter, nullptr, CLSCTX_REMOTE_SERVER, &server, 1, &one),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(one.hr, REGDB_E_CLASSNOTREG);
    server.pwszName = const_cast<LPWSTR>(u"\\\\NoSuchPlant");
    MULTI_QI many[3] = {{&IID_IUnknown, nullptr, S_OK},
                        {&IID_ITestCounter, nullptr, S_OK},
                        {&IID_IDataObject, nullptr, S_OK}};
    EXPECT_EQ(CoCreateInstanceEx(CLSID_TestCounter, nullptr, CLSCTX_ALL, &server, 3, many),
              kServerUnavailable);
    for (const auto& entry : many) {
        EXPECT_EQ(entry.hr, kServerUnavailable);
        EXPECT_EQ(entry.pItf, nullptr);
    }
}
#endif  // !_WIN32

#ifndef _WIN32
// "hex(2):" bytes of a text, as regedit writes an expandable string.
std::string ExpandableHex(const std::string& text) {
    std::string out = "hex(2):";
    char byte[8];
    for (char16_t c : nv::ToWide(text) + u'\0') {
        std::snprintf(byte, sizeof byte, "%02x,%02x,", c & 0xFF, c >> 8);
        out += byte;
    }
    out.pop_back();
    return out;
}

TEST_F(ComCreation, ModulePathsMayBeRelativeToTheLibraryFolderOrUseVariables) {
    const std::string clsidKey =
        "[HKEY_CLASSES_ROOT\\CLSID\\{6F0E5A10-2B7C-4D3E-9A41-5C8D7E2F1A02}\\InprocServer32]\n";
    config_.WriteHost("Relative", "r.reg", "REGEDIT4\n" + clsidKey + "@=\"nv_test_module.so\"\n");
    config_.WriteHost("Expanded", "e.reg",
                      "Windows Registry Editor Version 5.00\n" + clsidKey +
                          "@=" + ExpandableHex("%NV_TEST_MODULE_DIR%/nv_test_module.so") + "\n");
    std::string libDir = nvplatform::PlatformLibraryFolder();
    ASSERT_FALSE(libDir.empty());
    ::setenv("NV_TEST_MODULE_DIR", libDir.c_str(), 1);
    nvplatform::ReloadRegistry();
    for (const char16_t* host : {u"Relative", u"Expanded"}) {
        COSERVERINFO server{0, const_cast<LPWSTR>(host), nullptr, 0};
        MULTI_QI qi{&IID_ITestCounter, nullptr, E_FAIL};
        ASSERT_EQ(CoCreateInstanceEx(CLSID_TestCounter, nullptr, CLSCTX_ALL, &server, 1, &qi), S_OK)
            << nv::ToUtf8(host);
        auto* counter = static_cast<ITestCounter*>(qi.pItf);
        EXPECT_EQ(CreationHostOf(counter), host);
        counter->Release();
    }
    ::unsetenv("NV_TEST_MODULE_DIR");
}
#endif  // !_WIN32

#ifndef _WIN32
TEST_F(ComCreation, NamesOfThisComputerCreateLocally) {
    std::u16string self = nvplatform::LocalComputerName();
    for (std::u16string name :
         {std::u16string(u"localhost"), std::u16string(u"127.0.0.1"), std::u16string(u""), u"\\\\" + self}) {
        COSERVERINFO server{0, name.data(), nullptr, 0};
        MULTI_QI qi{&IID_ITestCounter, nullptr, E_FAIL};
        ASSERT_EQ(CoCreateInstanceEx(CLSID_TestCounter, nullptr, CLSCTX_ALL, &server, 1, &qi), S_OK);
        auto* counter = static_cast<ITestCounter*>(qi.pItf);
        EXPECT_EQ(CreationHostOf(counter), u"");
        counter->Release();
    }
}
#endif  // !_WIN32

TEST_F(ComCreation, MultiQiReportsEveryInterfaceOnItsOwn) {
    MULTI_QI some[3] = {{&IID_ITestCounter, nullptr, S_OK},
                        {&IID_IDataObject, nullptr, S_OK},
                        {&IID_IConnectionPointContainer, nullptr, S_OK}};
    EXPECT_EQ(CoCreateInstanceEx(CLSID_TestCounter, nullptr, CLSCTX_ALL, nullptr, 3, some),
              CO_S_NOTALLINTERFACES);
    EXPECT_EQ(some[0].hr, S_OK);
    ASSERT_NE(some[0].pItf, nullptr);
    EXPECT_EQ(some[1].hr, E_NOINTERFACE);
    EXPECT_EQ(some[1].pItf, nullptr);
    EXPECT_EQ(some[2].hr, E_NOINTERFACE);
    LONG live = 0;
    static_cast<ITestCounter*>(some[0].pItf)->GetLiveObjects(&live);
    // The runtime's own reference to the new object is gone; only ours is left.
    EXPECT_EQ(live, 1);
    some[0].pItf->Release();

#ifndef _WIN32
    // The object is made through IUnknown, so a missing first interface costs the others nothing.
    MULTI_QI unsupportedFirst[2] = {{&IID_IDataObject, nullptr, S_OK}, {&IID_ITestCounter, nullptr, S_OK}};
    EXPECT_EQ(CoCreateInstanceEx(CLSID_TestCounter, nullptr, CLSCTX_ALL, nullptr, 2, unsupportedFirst),
              CO_S_NOTALLINTERFACES);
    ASSERT_NE(unsupportedFirst[1].pItf, nullptr);
    unsupportedFirst[1].pItf->Release();
#endif

    MULTI_QI none[1] = {{&IID_IDataObject, nullptr, S_OK}};
    EXPECT_EQ(CoCreateInstanceEx(CLSID_TestCounter, nullptr, CLSCTX_ALL, nullptr, 1, none), E_NOINTERFACE);
    EXPECT_EQ(none[0].hr, E_NOINTERFACE);
    EXPECT_EQ(none[0].pItf, nullptr);
    EXPECT_EQ(CoCreateInstanceEx(CLSID_TestCounter, nullptr, CLSCTX_ALL, nullptr, 0, none), E_INVALIDARG);
}

#ifndef _WIN32
TEST_F(ComCreation, ConcurrentCreationsEachSeeTheirOwnHost) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t, &wrong] {
            Apartment apartment;
            std::u16string host = t % 2 == 0 ? u"PlantA" : u"";
            for (int i = 0; i < 50; ++i) {
                COSERVERINFO server{0, host.data(), nullptr, 0};
                MULTI_QI qi{&IID_ITestCounter, nullptr, E_FAIL};
                if (CoCreateInstanceEx(CLSID_TestCounter, nullptr, CLSCTX_ALL, &server, 1, &qi) != S_OK) {
                    ++wrong;
                    continue;
                }
                auto* counter = static_cast<ITestCounter*>(qi.pItf);
                if (CreationHostOf(counter) != host)
                    ++wrong;
                counter->Release();
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
}
#endif  // !_WIN32

TEST_F(ComCreation, ProgIdsAndClassIdsMapBothWays) {
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(OLESTR("Norvane.TestCounter.1"), &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_TestCounter));
    EXPECT_EQ(CLSIDFromProgID(OLESTR("norvane.testcounter.1"), &clsid), S_OK);
    EXPECT_EQ(CLSIDFromProgID(OLESTR("Norvane.NoSuchThing"), &clsid), CO_E_CLASSSTRING);
    EXPECT_TRUE(IsEqualCLSID(clsid, GUID_NULL));
    EXPECT_EQ(CLSIDFromProgID(OLESTR(""), &clsid), CO_E_CLASSSTRING);
    // Text without braces is taken for a ProgID, as the enumeration of registry keys relies on.
    EXPECT_EQ(CLSIDFromString(OLESTR("Norvane.TestCounter.1"), &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_TestCounter));

    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_TestCounter, &progId), S_OK);
    EXPECT_EQ(WString(progId), OLESTR("Norvane.TestCounter.1"));
    CoTaskMemFree(progId);
    // Registered without a ProgID, and not registered at all.
    EXPECT_EQ(ProgIDFromCLSID(CLSID_TestRefused, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progId, nullptr);
    EXPECT_EQ(ProgIDFromCLSID(CLSID_TestUnregistered, &progId), REGDB_E_CLASSNOTREG);

    LPOLESTR userType = nullptr;
    ASSERT_EQ(OleRegGetUserType(CLSID_TestCounter, USERCLASSTYPE_FULL, &userType), S_OK);
    EXPECT_EQ(WString(userType), OLESTR("Norvane test counter"));
    CoTaskMemFree(userType);
    EXPECT_EQ(OleRegGetUserType(CLSID_TestUnregistered, USERCLASSTYPE_FULL, &userType), REGDB_E_CLASSNOTREG);

#ifndef _WIN32
    // The same questions asked of other hosts.
    EXPECT_EQ(nvplatform::CLSIDFromProgIDOnHost(u"PlantA", u"Norvane.TestCounter.1", &clsid), S_OK);
    EXPECT_EQ(nvplatform::CLSIDFromProgIDOnHost(u"PlantB", u"Norvane.TestCounter.1", &clsid),
              CO_E_CLASSSTRING);
    EXPECT_EQ(nvplatform::CLSIDFromProgIDOnHost(u"Nowhere", u"Norvane.TestCounter.1", &clsid),
              kServerUnavailable);
    EXPECT_EQ(nvplatform::ProgIDFromCLSIDOnHost(u"PlantB", CLSID_TestCounter, &progId), REGDB_E_CLASSNOTREG);
#endif
}

class TestFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        ++created;
        // Hands out the factory itself: enough to show which factory served the request.
        return QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    std::atomic<ULONG> refs{1};
    int created = 0;
};

TEST_F(ComCreation, RegisteredClassObjectsServeUntilRevoked) {
    TestFactory factory;
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_TestUnregistered, &factory, CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    EXPECT_NE(cookie, 0u);
    IUnknown* object = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestUnregistered, nullptr, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    EXPECT_EQ(object, static_cast<IUnknown*>(&factory));
    EXPECT_EQ(factory.created, 1);
    object->Release();
#ifndef _WIN32
    // A registration in this process says nothing about another host.
    COSERVERINFO server{0, const_cast<LPWSTR>(u"PlantA"), nullptr, 0};
    MULTI_QI qi{&IID_IUnknown, nullptr, S_OK};
    EXPECT_EQ(CoCreateInstanceEx(CLSID_TestUnregistered, nullptr, CLSCTX_ALL, &server, 1, &qi),
              REGDB_E_CLASSNOTREG);

#endif

    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(factory.refs.load(), 1u);  // the runtime let go of its reference
    EXPECT_EQ(CoCreateInstance(CLSID_TestUnregistered, nullptr, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
}

TEST_F(ComCreation, ClassObjectOfAModuleIsReachedDirectly) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_TestCounter, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    ITestCounter* counter = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITestCounter, reinterpret_cast<void**>(&counter)), S_OK);
    counter->Release();
    IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
    void* p = nullptr;
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    factory->Release();
#ifndef _WIN32
    COSERVERINFO server{0, const_cast<LPWSTR>(u"Nowhere"), nullptr, 0};
    EXPECT_EQ(CoGetClassObject(CLSID_TestCounter, CLSCTX_REMOTE_SERVER, &server, IID_IClassFactory, &p),
              kServerUnavailable);
#endif
}

TEST(ComGuidText, FormatsAndParsesTheRegistryForm) {
    WCHAR text[39];
    ASSERT_EQ(StringFromGUID2(CLSID_TestCounter, text, 39), 39);
    EXPECT_EQ(WString(text), OLESTR("{6F0E5A10-2B7C-4D3E-9A41-5C8D7E2F1A02}"));
    EXPECT_EQ(StringFromGUID2(CLSID_TestCounter, text, 38), 0);

    // Data1..Data3 are printed as numbers, the last eight bytes in memory order.
    const GUID odd = {0x0000ABCD, 0x00EF, 0x1200, {0x01, 0x02, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF0}};
    LPOLESTR allocated = nullptr;
    ASSERT_EQ(StringFromCLSID(odd, &allocated), S_OK);
    EXPECT_EQ(WString(allocated), OLESTR("{0000ABCD-00EF-1200-0102-A0B0C0D0E0F0}"));
    CLSID back{};
    EXPECT_EQ(CLSIDFromString(allocated, &back), S_OK);
    EXPECT_TRUE(IsEqualGUID(back, odd));
    CoTaskMemFree(allocated);

    EXPECT_EQ(CLSIDFromString(OLESTR("{0000abcd-00ef-1200-0102-a0b0c0d0e0f0}"), &back), S_OK);
    EXPECT_TRUE(IsEqualGUID(back, odd));
    IID iid{};
    EXPECT_EQ(IIDFromString(OLESTR("{00000000-0000-0000-C000-000000000046}"), &iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, IID_IUnknown));
    EXPECT_EQ(CLSIDFromString(nullptr, &back), S_OK);
    EXPECT_TRUE(IsEqualGUID(back, GUID_NULL));
}

std::size_t Length(const OLECHAR* text) {
    std::size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

TEST(ComGuidText, RejectsMalformedText) {
    Apartment apartment;
#ifndef _WIN32
    TempConfig config;  // an empty registry: nothing is found by ProgID either
#endif
    for (const OLECHAR* bad : {
             OLESTR("{6F0E5A10-2B7C-4D3E-9A41-5C8D7E2F1A02"),    // no closing brace
             OLESTR("{6F0E5A10-2B7C-4D3E-9A41-5C8D7E2F1A0}"),    // one digit short
             OLESTR("{6F0E5A10-2B7C-4D3E-9A41-5C8D7E2F1A021}"),  // one digit too many
             OLESTR("{6F0E5A10-2B7C-4D3E-9A415-C8D7E2F1A02}"),   // hyphen out of place
             OLESTR("{6F0E5A1G-2B7C-4D3E-9A41-5C8D7E2F1A02}"),   // not hexadecimal
             OLESTR("{6F0E5A10-2B7C-4D3E-9A41-5C8D7E2F1A02} "),  // trailing text
             OLESTR("{}"),
             OLESTR("{"),
             OLESTR("6F0E5A10-2B7C-4D3E-9A41-5C8D7E2F1A02"),
         }) {
        CLSID clsid = CLSID_TestCounter;
        EXPECT_EQ(CLSIDFromString(bad, &clsid), CO_E_CLASSSTRING) << nv::ToUtf8(bad);
#ifndef _WIN32
        EXPECT_TRUE(IsEqualCLSID(clsid, GUID_NULL));  // nothing half-parsed is left behind
#endif
        IID iid{};
        HRESULT expected = Length(bad) == 38 ? CO_E_IIDSTRING : E_INVALIDARG;
        EXPECT_EQ(IIDFromString(bad, &iid), expected) << nv::ToUtf8(bad);
    }
}

TEST(ComTaskMemory, ReallocKeepsContentsAndAcceptsNull) {
    CoTaskMemFree(nullptr);
    auto* p = static_cast<char*>(CoTaskMemAlloc(0));
    EXPECT_NE(p, nullptr);
    p = static_cast<char*>(CoTaskMemRealloc(p, 4));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "abc", 4);
    p = static_cast<char*>(CoTaskMemRealloc(p, 1 << 20));
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "abc");
    EXPECT_EQ(CoTaskMemRealloc(p, 0), nullptr);  // freed
    p = static_cast<char*>(CoTaskMemRealloc(nullptr, 8));
    ASSERT_NE(p, nullptr);
    CoTaskMemFree(p);

    // The file time counts from 1601 in UTC: read between two readings of the system clock, it lies
    // between them. A second of slack either way covers clocks of coarser grain (glibc's time()
    // and Windows' GetSystemTimeAsFileTime can lag the precise clock); a wrong epoch or a local
    // time instead of UTC is off by far more.
    using namespace std::chrono;
    auto unixMicros = [] { return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count(); };
    std::int64_t before = unixMicros();
    FILETIME now{};
    EXPECT_EQ(CoFileTimeNow(&now), S_OK);
    std::int64_t after = unixMicros();
    ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    auto micros = static_cast<std::int64_t>(ticks / 10ULL) - 11644473600LL * 1000000LL;
    constexpr std::int64_t slack = 1000000;
    EXPECT_GE(micros, before - slack);
    EXPECT_LE(micros, after + slack);
}

class ReleaseCounter final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    ULONG refs = 1;
};

TEST(ComStgMedium, ReleaseFreesWhatTheMediumOwns) {
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 16);
    ASSERT_NE(medium.hGlobal, nullptr);
    ReleaseStgMedium(&medium);  // ASan reports a leak if the block stays
    EXPECT_EQ(medium.tymed, static_cast<DWORD>(TYMED_NULL));
#ifndef _WIN32
    EXPECT_EQ(medium.hGlobal, nullptr);  // no dangling handle is left in the medium
#endif

    // With an owner set, the owner is released and the memory is its business.
    ReleaseCounter owner;
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, 16);
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block;
    medium.pUnkForRelease = &owner;
    ReleaseStgMedium(&medium);
    EXPECT_EQ(owner.refs, 0u);
    EXPECT_NE(GlobalSize(block), 0u);  // still allocated
    GlobalFree(block);
}

}  // namespace
