#include "simulation/ComSupport.h"

#include <algorithm>

namespace nv::sim {

namespace {

std::atomic<LONG> g_moduleLocks{0};
std::atomic<LONG> g_serverLocks{0};

// One enumerator template for the standard enumerators whose Next fills a caller-supplied
// array: Traits::Copy makes the caller's copy of one stored element.
template <typename Interface, typename Stored, typename Element, typename Traits>
class Enumerator final : public SingleInterfaceObject<Interface> {
public:
    Enumerator(std::shared_ptr<const std::vector<Stored>> items, size_t pos)
        : items_(std::move(items)), pos_(pos) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, Element* rgelt, ULONG* pceltFetched) override {
        if (pceltFetched) {
            *pceltFetched = 0;
        }
        if (celt == 0) {
            return S_OK;
        }
        if (!rgelt) {
            return E_POINTER;
        }
        // Without a place to report the count the caller cannot know how many it got.
        if (celt > 1 && !pceltFetched) {
            return E_INVALIDARG;
        }
        ULONG fetched = 0;
        while (fetched < celt && pos_ < items_->size()) {
            if (!Traits::Copy((*items_)[pos_], &rgelt[fetched])) {
                for (ULONG i = 0; i < fetched; ++i) {
                    Traits::Free(&rgelt[i]);
                }
                return E_OUTOFMEMORY;
            }
            ++fetched;
            ++pos_;
        }
        if (pceltFetched) {
            *pceltFetched = fetched;
        }
        return fetched == celt ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        size_t left = items_->size() - pos_;
        pos_ += std::min<size_t>(celt, left);
        return celt <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Interface** ppenum) override {
        if (!ppenum) {
            return E_POINTER;
        }
        *ppenum = new Enumerator(items_, pos_);
        (*ppenum)->AddRef();
        return S_OK;
    }

private:
    std::shared_ptr<const std::vector<Stored>> items_;
    size_t pos_;
};

struct StringTraits {
    static bool Copy(const WString& s, LPOLESTR* out) {
        *out = CtmString(s);
        return *out != nullptr;
    }
    static void Free(LPOLESTR* s) {
        CoTaskMemFree(*s);
        *s = nullptr;
    }
};

struct UnknownTraits {
    static bool Copy(const ComPtr<IUnknown>& p, IUnknown** out) {
        *out = p.Get();
        if (*out) {
            (*out)->AddRef();
        }
        return true;
    }
    static void Free(IUnknown** p) {
        if (*p) {
            (*p)->Release();
        }
        *p = nullptr;
    }
};

struct ConnectionPointTraits {
    static bool Copy(const ComPtr<IConnectionPoint>& p, IConnectionPoint** out) {
        *out = p.Get();
        if (*out) {
            (*out)->AddRef();
        }
        return true;
    }
    static void Free(IConnectionPoint** p) {
        if (*p) {
            (*p)->Release();
        }
        *p = nullptr;
    }
};

}  // namespace

HRESULT CreateConnectionPointEnumerator(std::vector<ComPtr<IConnectionPoint>> points,
                                        IEnumConnectionPoints** pp) {
    if (!pp) {
        return E_POINTER;
    }
    auto items = std::make_shared<const std::vector<ComPtr<IConnectionPoint>>>(std::move(points));
    *pp = new Enumerator<IEnumConnectionPoints, ComPtr<IConnectionPoint>, IConnectionPoint*,
                         ConnectionPointTraits>(std::move(items), 0);
    (*pp)->AddRef();
    return S_OK;
}

void ModuleLock() {
    ++g_moduleLocks;
}
void ModuleUnlock() {
    --g_moduleLocks;
}
LONG ModuleLockCount() {
    return g_moduleLocks.load() + g_serverLocks.load();
}

HRESULT LockServer(BOOL lock) {
    if (lock) {
        ++g_serverLocks;
        return S_OK;
    }
    LONG locks = g_serverLocks.load();
    while (locks > 0 && !g_serverLocks.compare_exchange_weak(locks, locks - 1)) {
    }
    return S_OK;
}

LPWSTR CtmString(WStringView text) {
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (p) {
        std::copy(text.begin(), text.end(), p);
        p[text.size()] = 0;
    }
    return p;
}

WString Widen(std::string_view ascii) {
    return WString(ascii.begin(), ascii.end());
}

HRESULT CreateStringEnumerator(std::vector<WString> strings, IEnumString** ppEnum) {
    if (!ppEnum) {
        return E_POINTER;
    }
    auto items = std::make_shared<const std::vector<WString>>(std::move(strings));
    *ppEnum = new Enumerator<IEnumString, WString, LPOLESTR, StringTraits>(std::move(items), 0);
    (*ppEnum)->AddRef();
    return S_OK;
}

HRESULT CreateUnknownEnumerator(std::vector<ComPtr<IUnknown>> objects, IEnumUnknown** ppEnum) {
    if (!ppEnum) {
        return E_POINTER;
    }
    auto items = std::make_shared<const std::vector<ComPtr<IUnknown>>>(std::move(objects));
    *ppEnum = new Enumerator<IEnumUnknown, ComPtr<IUnknown>, IUnknown*, UnknownTraits>(std::move(items), 0);
    (*ppEnum)->AddRef();
    return S_OK;
}

}  // namespace nv::sim
