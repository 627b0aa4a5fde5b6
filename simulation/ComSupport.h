// Small pieces every COM object of the simulation module needs: the module's object count,
// an owning interface pointer, task-memory helpers and the standard enumerators.
#pragma once

#include "platform/win32.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nv::sim {

using WString = std::basic_string<OLECHAR>;
using WStringView = std::basic_string_view<OLECHAR>;

// Objects alive plus class-object locks; the module may be unloaded only at zero.
void ModuleLock();
void ModuleUnlock();
LONG ModuleLockCount();
// IClassFactory::LockServer for every class object of the module. An unlock without its lock
// is ignored: it must not count down the objects still alive and let the module go under them.
HRESULT LockServer(BOOL lock);

// Base of every object the module hands out: keeps the module loaded while it lives.
class ModuleObject {
public:
    ModuleObject() { ModuleLock(); }
    ModuleObject(const ModuleObject&) = delete;
    ModuleObject& operator=(const ModuleObject&) = delete;
    ~ModuleObject() { ModuleUnlock(); }
};

// QueryInterface that also accepts a null out pointer with E_POINTER.
inline HRESULT CheckOut(void** ppv) {
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    return S_OK;
}

// An object with one interface besides IUnknown, counted and deleted on its last Release. It
// starts with no references: whoever creates it takes the first through QueryInterface or AddRef.
template <typename Interface>
class SingleInterfaceObject : public Interface, private ModuleObject {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (HRESULT hr = CheckOut(ppv); FAILED(hr)) {
            return hr;
        }
        if (riid == IID_IUnknown || riid == __uuidof(Interface)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

protected:
    SingleInterfaceObject() = default;
    virtual ~SingleInterfaceObject() = default;

private:
    std::atomic<ULONG> refs_{0};
};

// The module's class objects are static: they live as long as the module, and their references
// do not count; only LockServer keeps the module loaded.
class StaticClassFactory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (HRESULT hr = CheckOut(ppv); FAILED(hr)) {
            return hr;
        }
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override { return nv::sim::LockServer(lock); }
};

// Owning interface pointer: releases on destruction, AddRefs on copy.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(T* p, bool addRef) : p_(p) {
        if (p_ && addRef) {
            p_->AddRef();
        }
    }
    ComPtr(const ComPtr& other) : p_(other.p_) {
        if (p_) {
            p_->AddRef();
        }
    }
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~ComPtr() { Reset(); }

    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) {
            p->Release();
        }
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T* Detach() { return std::exchange(p_, nullptr); }
    // For out parameters: releases what is held and returns the slot.
    T** Put() {
        Reset();
        return &p_;
    }

private:
    T* p_ = nullptr;
};

// A copy of the text in task memory, or nullptr when memory runs out.
LPWSTR CtmString(WStringView text);

// A zero-filled task-memory array of n elements (at least one element is allocated, so a
// successful call never returns nullptr).
template <typename T>
T* CtmArray(size_t n) {
    if (n > SIZE_MAX / sizeof(T) - 1) {
        return nullptr;
    }
    size_t bytes = (n ? n : 1) * sizeof(T);
    void* p = CoTaskMemAlloc(bytes);
    if (p) {
        std::memset(p, 0, bytes);
    }
    return static_cast<T*>(p);
}

// ASCII text as a wide string (names built in code are plain ASCII).
WString Widen(std::string_view ascii);

// IEnumString over a snapshot of strings.
HRESULT CreateStringEnumerator(std::vector<WString> strings, IEnumString** ppEnum);
// IEnumUnknown over a snapshot of objects (each AddRef'ed while held).
HRESULT CreateUnknownEnumerator(std::vector<ComPtr<IUnknown>> objects, IEnumUnknown** ppEnum);

// IEnumConnectionPoints over a snapshot of connection points.
HRESULT CreateConnectionPointEnumerator(std::vector<ComPtr<IConnectionPoint>> points,
                                        IEnumConnectionPoints** pp);

}  // namespace nv::sim
