// The module's own lifetime: DllCanUnloadNow answers S_FALSE while any object it handed out, or
// any LockServer lock, is alive. Reached through the module file the registry names, as the COM
// runtime reaches it.
#include "SimTestSupport.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

using namespace simtest;
using nv::sim::CLSID_Simulation;

namespace {

using CanUnloadFunction = HRESULT(STDAPICALLTYPE*)();

std::string ModuleFileOf(const CLSID& clsid) {
    OLECHAR text[40] = {};
    StringFromGUID2(clsid, text, 40);
    HKEY key = nullptr;
    std::string path = "CLSID\\" + Utf8(text) + "\\InprocServer32";
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, nv::ToWide(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    WCHAR data[1024] = {};
    DWORD size = sizeof(data) - sizeof(WCHAR);
    LONG rc = RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? nv::ToUtf8(data) : std::string();
}

// The module, loaded once more for the test (the COM runtime has it loaded already, so both
// share one set of counts).
class LoadedModule {
public:
    explicit LoadedModule(const std::string& file) {
#ifdef _WIN32
        handle_ = LoadLibraryW(nv::ToWide(file).c_str());
        if (handle_ != nullptr)
            canUnload_ = reinterpret_cast<CanUnloadFunction>(
                reinterpret_cast<void*>(GetProcAddress(handle_, "DllCanUnloadNow")));
#else
        handle_ = ::dlopen(file.c_str(), RTLD_NOW);
        if (handle_ != nullptr)
            canUnload_ = reinterpret_cast<CanUnloadFunction>(::dlsym(handle_, "DllCanUnloadNow"));
#endif
    }
    ~LoadedModule() {
        if (handle_ == nullptr)
            return;
#ifdef _WIN32
        FreeLibrary(handle_);
#else
        ::dlclose(handle_);
#endif
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    CanUnloadFunction CanUnloadNow() const {
        return canUnload_;
    }

private:
#ifdef _WIN32
    HMODULE handle_ = nullptr;
#else
    void* handle_ = nullptr;
#endif
    CanUnloadFunction canUnload_ = nullptr;
};

class ModuleTest : public SimTest {};

TEST_F(ModuleTest, StaysLoadedWhileObjectsOrLocksRemain) {
    Ptr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_Simulation, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.PutVoid()),
              S_OK);
    std::string file = ModuleFileOf(CLSID_Simulation);
    ASSERT_FALSE(file.empty());
    LoadedModule module(file);
    ASSERT_NE(module.CanUnloadNow(), nullptr) << file;
    // A reference to the static class object alone does not keep the module.
    EXPECT_EQ(module.CanUnloadNow()(), S_OK);

    Ptr<IOPCServer> server;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOPCServer, server.PutVoid()), S_OK);
    Ptr<IEnumString> names;  // an object of the server's that outlives the server
    Ptr<IOPCBrowseServerAddressSpace> browse = server.As<IOPCBrowseServerAddressSpace>();
    ASSERT_TRUE(browse);
    ASSERT_TRUE(SUCCEEDED(browse->BrowseOPCItemIDs(OPC_FLAT, OLESTR(""), VT_EMPTY, 0, names.Put())));
    browse.Reset();
    EXPECT_EQ(module.CanUnloadNow()(), S_FALSE);
    server.Reset();
    EXPECT_EQ(module.CanUnloadNow()(), S_FALSE) << "the enumerator is still alive";
    names.Reset();
    EXPECT_EQ(module.CanUnloadNow()(), S_OK);

    // An unlock without its lock is ignored, so it cannot cancel a later lock.
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(module.CanUnloadNow()(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(module.CanUnloadNow()(), S_OK);
}

TEST_F(ModuleTest, TheEnumerationServiceCountsToo) {
    Ptr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_OPCServerList, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.PutVoid()),
              S_OK);
    LoadedModule module(ModuleFileOf(CLSID_OPCServerList));
    ASSERT_NE(module.CanUnloadNow(), nullptr);
    EXPECT_EQ(module.CanUnloadNow()(), S_OK);

    Ptr<IOPCServerList> list;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOPCServerList, list.PutVoid()), S_OK);
    Ptr<IEnumGUID> classes;
    CATID category = CATID_OPCDAServer20;
    ASSERT_TRUE(SUCCEEDED(list->EnumClassesOfCategories(1, &category, 0, nullptr, classes.Put())));
    list.Reset();
    EXPECT_EQ(module.CanUnloadNow()(), S_FALSE) << "the enumerator is still alive";
    Ptr<IEnumGUID> copy;
    ASSERT_EQ(classes->Clone(copy.Put()), S_OK);
    classes.Reset();
    EXPECT_EQ(module.CanUnloadNow()(), S_FALSE) << "its clone is still alive";
    copy.Reset();
    EXPECT_EQ(module.CanUnloadNow()(), S_OK);

    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(module.CanUnloadNow()(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(module.CanUnloadNow()(), S_OK);
}

}  // namespace
