// A loadable COM module for the runtime's tests: one counter class, reachable only through the
// registry, that remembers which host it was created for.
#include <atomic>
#include <string>

#include "tests/platform/testmodule/TestCounter.h"

namespace {

std::atomic<LONG> g_objects{0};
std::atomic<LONG> g_locks{0};

class Counter final : public ITestCounter {
public:
    explicit Counter(std::basic_string<OLECHAR> host) : host_(std::move(host)) { ++g_objects; }
    ~Counter() { --g_objects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ITestCounter)) {
            *ppv = static_cast<ITestCounter*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE Increment(LONG* pNewValue) override {
        LONG v = ++value_;
        if (pNewValue != nullptr)
            *pNewValue = v;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCreationHost(LPOLESTR* ppHost) override {
        if (ppHost == nullptr)
            return E_POINTER;
        auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((host_.size() + 1) * sizeof(OLECHAR)));
        if (out == nullptr)
            return E_OUTOFMEMORY;
        std::copy(host_.begin(), host_.end(), out);
        out[host_.size()] = 0;
        *ppHost = out;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetLiveObjects(LONG* pCount) override {
        if (pCount == nullptr)
            return E_POINTER;
        *pCount = g_objects.load();
        return S_OK;
    }

private:
    std::atomic<ULONG> refs_{1};
    std::atomic<LONG> value_{0};
    std::basic_string<OLECHAR> host_;
};

class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is a static object of the module.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (pUnkOuter != nullptr)
            return CLASS_E_NOAGGREGATION;
#ifdef _WIN32
        // Objects on other machines are real remote objects there; this module runs locally.
        auto* counter = new Counter({});
#else
        auto* counter = new Counter(nvplatform_CurrentCreationHost());
#endif
        HRESULT hr = counter->QueryInterface(riid, ppv);
        counter->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override {
        fLock ? ++g_locks : --g_locks;
        return S_OK;
    }
};

Factory g_factory;

}  // namespace

extern "C" DECLSPEC_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_TestCounter))
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

extern "C" DECLSPEC_EXPORT HRESULT DllCanUnloadNow() {
    return g_objects.load() == 0 && g_locks.load() == 0 ? S_OK : S_FALSE;
}
