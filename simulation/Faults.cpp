// The enumerator of the browsing faults; the other faults live where the rule they break is kept.
#include "simulation/Faults.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "simulation/Server.h"

namespace nv::sim {

namespace {

// IEnumString over a snapshot, miscounting as its fault says. It never writes past the caller's
// array: BrowseExtraNames only claims the names it did not write.
class FaultyStringEnumerator final : public SingleInterfaceObject<IEnumString> {
public:
    FaultyStringEnumerator(std::shared_ptr<const std::vector<WString>> items, Fault fault, size_t pos)
        : items_(std::move(items)), fault_(fault), pos_(pos) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override {
        if (pceltFetched) {
            *pceltFetched = 0;
        }
        if (!rgelt || (celt > 1 && !pceltFetched)) {
            return E_INVALIDARG;
        }
        size_t left = items_->size() - pos_;
        size_t n =
            std::min<size_t>(fault_ == Fault::BrowseFewerNames ? std::min<ULONG>(celt, 1) : celt, left);
        for (size_t i = 0; i < n; ++i) {
            rgelt[i] = CtmString((*items_)[pos_ + i]);
            if (!rgelt[i]) {
                for (size_t j = 0; j < i; ++j) {
                    CoTaskMemFree(rgelt[j]);
                    rgelt[j] = nullptr;
                }
                return E_OUTOFMEMORY;
            }
        }
        pos_ += n;
        if (fault_ == Fault::BrowseFewerNames) {
            if (pceltFetched) {
                *pceltFetched = static_cast<ULONG>(n);
            }
            return S_OK;  // even when the names have run out
        }
        if (pceltFetched) {
            *pceltFetched = n > 0 ? static_cast<ULONG>(celt + 3) : 0;
        }
        return n == celt ? S_OK : S_FALSE;
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
    HRESULT STDMETHODCALLTYPE Clone(IEnumString** ppenum) override {
        if (!ppenum) {
            return E_POINTER;
        }
        *ppenum = new FaultyStringEnumerator(items_, fault_, pos_);
        (*ppenum)->AddRef();
        return S_OK;
    }

private:
    std::shared_ptr<const std::vector<WString>> items_;
    Fault fault_;
    size_t pos_;
};

}  // namespace

HRESULT CreateFaultyStringEnumerator(std::vector<WString> strings, Fault fault, IEnumString** ppEnum) {
    if (!ppEnum) {
        return E_POINTER;
    }
    auto items = std::make_shared<const std::vector<WString>>(std::move(strings));
    *ppEnum = new FaultyStringEnumerator(std::move(items), fault, 0);
    (*ppEnum)->AddRef();
    return S_OK;
}

}  // namespace nv::sim
