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

// Objects alive plus class-factory locks; the module may be unloaded only at zero.
void ModuleLock();
void ModuleUnlock();
LONG ModuleLockCount();

// Base of every object the module hands out: keeps the module loaded while it lives.
class ModuleObject {
public:
    ModuleObject() { ModuleLock(); }
    ModuleObject(const ModuleObject&) = delete;
    ModuleObject& operator=(const ModuleObject&) = delete;
    ~ModuleObject() { ModuleUnlock(); }
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
// Wide text as UTF-8, for messages.
std::string Narrow(WStringView text);

// IEnumString over a snapshot of strings.
HRESULT CreateStringEnumerator(std::vector<WString> strings, IEnumString** ppEnum);
// IEnumUnknown over a snapshot of objects (each AddRef'ed while held).
HRESULT CreateUnknownEnumerator(std::vector<ComPtr<IUnknown>> objects, IEnumUnknown** ppEnum);

// IEnumConnectionPoints over a snapshot of connection points.
HRESULT CreateConnectionPointEnumerator(std::vector<ComPtr<IConnectionPoint>> points,
                                        IEnumConnectionPoints** pp);

// QueryInterface that also accepts a null out pointer with E_POINTER.
inline HRESULT CheckOut(void** ppv) {
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    return S_OK;
}

}  // namespace nv::sim
