// Entry points of the norvane-opcsim module and the class factory of its servers.
#include "simulation/Server.h"
#include "simulation/ServerList.h"
#include "simulation/SimulationIds.h"

namespace nv::sim {

namespace {

// The Bulk branch size of a class, from its registry entry on the host the server is created
// for (on Linux a simulated host has a registry of its own).
DWORD BulkItemsOf(REFCLSID clsid) {
    OLECHAR clsidText[40] = {};
    if (StringFromGUID2(clsid, clsidText, 40) == 0) {
        return DefaultBulkItems;
    }
    WString path = WString(OLESTR("CLSID\\")) + clsidText;
    HKEY root = HKEY_CLASSES_ROOT;
    HKEY remote = nullptr;
#ifndef _WIN32
    const char16_t* host = nvplatform_CurrentCreationHost();
    if (host && *host && RegConnectRegistryW(host, HKEY_CLASSES_ROOT, &remote) == ERROR_SUCCESS) {
        root = remote;
    }
#endif
    HKEY key = nullptr;
    LONG opened = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key);
    if (remote) {
        RegCloseKey(remote);
    }
    if (opened != ERROR_SUCCESS) {
        return DefaultBulkItems;
    }
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    LONG rc =
        RegQueryValueExW(key, BulkItemsValueName, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) {
        return DefaultBulkItems;
    }
    return value > MaxBulkItems ? MaxBulkItems : value;
}

// One class object for each flavour of the simulation server.
class ServerFactory final : public StaticClassFactory {
public:
    ServerFactory(ServerFlavor flavor, const CLSID& clsid) : flavor_(flavor), clsid_(clsid) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (HRESULT hr = CheckOut(ppvObject); FAILED(hr)) {
            return hr;
        }
        if (pUnkOuter) {
            return CLASS_E_NOAGGREGATION;
        }
        Server* server = nullptr;
        try {
            server = new Server(flavor_, BulkItemsOf(clsid_));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (const std::system_error&) {
            return E_FAIL;  // no worker thread could be started
        }
        server->AddRef();
        HRESULT hr = server->QueryInterface(riid, ppvObject);
        server->Release();
        return hr;
    }

private:
    ServerFlavor flavor_;
    CLSID clsid_;
};

ServerFactory g_fullFactory(ServerFlavor::Full, CLSID_Simulation);
ServerFactory g_da1Factory(ServerFlavor::DA1, CLSID_SimulationDA1);
ServerFactory g_flatFactory(ServerFlavor::Flat, CLSID_SimulationFlat);

}  // namespace

}  // namespace nv::sim

extern "C" DECLSPEC_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid,
                                                                    LPVOID* ppv) {
    using namespace nv::sim;
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (rclsid == CLSID_OPCServerList) {
        return CreateServerListClassObject(riid, ppv);
    }
    IClassFactory* factory = nullptr;
    if (rclsid == CLSID_Simulation) {
        factory = &g_fullFactory;
    } else if (rclsid == CLSID_SimulationDA1) {
        factory = &g_da1Factory;
    } else if (rclsid == CLSID_SimulationFlat) {
        factory = &g_flatFactory;
    } else {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return factory->QueryInterface(riid, ppv);
}

extern "C" DECLSPEC_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    using namespace nv::sim;
    return ModuleLockCount() == 0 ? S_OK : S_FALSE;
}
