// Entry points of the norvane-opcsim module and the class factory of its servers.
#include <algorithm>
#include <initializer_list>
#include <memory>
#include <vector>

#include "simulation/Faults.h"
#include "simulation/Server.h"
#include "simulation/ServerList.h"
#include "simulation/SimulationIds.h"

namespace nv::sim {

namespace {

// The DWORD values of a class's registry entry on the host the server is created for (on Linux
// a simulated host has a registry of its own); a value that is missing keeps its fallback.
struct ClassValue {
    const OLECHAR* name;
    DWORD* value;
};
void ReadClassValues(REFCLSID clsid, std::initializer_list<ClassValue> values) {
    OLECHAR clsidText[40] = {};
    if (StringFromGUID2(clsid, clsidText, 40) == 0) {
        return;
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
        return;
    }
    for (const ClassValue& v : values) {
        DWORD value = 0;
        DWORD type = 0;
        DWORD size = sizeof value;
        LONG rc = RegQueryValueExW(key, v.name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
        if (rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value) {
            *v.value = value;
        }
    }
    RegCloseKey(key);
}

// The Bulk branch shape of a class, from its registry entry.
BulkShape BulkShapeOf(REFCLSID clsid) {
    DWORD items = DefaultBulkItems;
    DWORD branchSize = 0;
    ReadClassValues(clsid, {{BulkItemsValueName, &items}, {BulkBranchSizeValueName, &branchSize}});
    return BulkShape{std::min(items, MaxBulkItems), branchSize};
}

// One class object for each flavour of the simulation server.
class ServerFactory final : public StaticClassFactory {
public:
    ServerFactory(ServerFlavor flavor, const CLSID& clsid, Fault fault = Fault::None)
        : flavor_(flavor), clsid_(clsid), fault_(fault) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (HRESULT hr = CheckOut(ppvObject); FAILED(hr)) {
            return hr;
        }
        if (pUnkOuter) {
            return CLASS_E_NOAGGREGATION;
        }
        Server* server = nullptr;
        try {
            DWORD faultDelayMs = DefaultFaultDelayMs;
            if (fault_ != Fault::None) {
                ReadClassValues(clsid_, {{FaultDelayValueName, &faultDelayMs}});
            }
            server = new Server(flavor_, BulkShapeOf(clsid_), fault_, faultDelayMs);
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
    Fault fault_;
};

ServerFactory g_fullFactory(ServerFlavor::Full, CLSID_Simulation);
ServerFactory g_da1Factory(ServerFlavor::DA1, CLSID_SimulationDA1);
ServerFactory g_flatFactory(ServerFlavor::Flat, CLSID_SimulationFlat);

// The faulty classes, one factory each, indexed by their fault.
struct FaultyFactories {
    std::vector<std::unique_ptr<ServerFactory>> byFault;
    FaultyFactories() {
        for (int f = 0; f < static_cast<int>(Fault::Count); ++f) {
            auto fault = static_cast<Fault>(f);
            byFault.push_back(
                std::make_unique<ServerFactory>(ServerFlavor::Full, FaultyClassId(fault), fault));
        }
    }
};
ServerFactory* FaultyFactory(REFCLSID clsid) {
    static FaultyFactories factories;
    Fault fault = FaultOfClassId(clsid);
    return fault == Fault::None ? nullptr : factories.byFault[static_cast<size_t>(fault)].get();
}

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
    } else if (ServerFactory* faulty = FaultyFactory(rclsid)) {
        factory = faulty;
    } else {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return factory->QueryInterface(riid, ppv);
}

extern "C" DECLSPEC_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    using namespace nv::sim;
    return ModuleLockCount() == 0 ? S_OK : S_FALSE;
}
