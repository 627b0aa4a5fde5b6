#include <algorithm>
#include <cmath>

#include "simulation/DataStream.h"
#include "simulation/Server.h"
#include "simulation/Values.h"

namespace nv::sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kFastestRate = 10;  // ms

// A DA 2.0 callback, with everything it passes owned here until it has been made.
struct DataCallbackDelivery final : Delivery {
    enum class Kind { DataChange, ReadComplete, WriteComplete, CancelComplete };
    Kind kind = Kind::DataChange;
    ComPtr<IOPCDataCallback> callback;
    DWORD transactionId = 0;
    OPCHANDLE hGroup = 0;
    HRESULT masterQuality = S_OK;
    HRESULT masterError = S_OK;
    std::vector<OPCHANDLE> handles;
    std::vector<VARIANT> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> timeStamps;
    std::vector<HRESULT> errors;
    bool withoutArrays = false;  // Fault::NullCallbackArrays

    ~DataCallbackDelivery() override {
        for (auto& v : values) {
            VariantClear(&v);
        }
    }
    void Deliver() override {
        DWORD n = static_cast<DWORD>(handles.size());
        switch (kind) {
            case Kind::DataChange:
                if (withoutArrays) {
                    callback->OnDataChange(transactionId, hGroup, masterQuality, masterError, n, nullptr,
                                           nullptr, nullptr, nullptr, nullptr);
                    break;
                }
                callback->OnDataChange(transactionId, hGroup, masterQuality, masterError, n, handles.data(),
                                       values.data(), qualities.data(), timeStamps.data(), errors.data());
                break;
            case Kind::ReadComplete:
                callback->OnReadComplete(transactionId, hGroup, masterQuality, masterError, n, handles.data(),
                                         values.data(), qualities.data(), timeStamps.data(), errors.data());
                break;
            case Kind::WriteComplete:
                callback->OnWriteComplete(transactionId, hGroup, masterError, n, handles.data(),
                                          errors.data());
                break;
            case Kind::CancelComplete:
                callback->OnCancelComplete(transactionId, hGroup);
                break;
        }
    }
};

// A DA 1.0a stream to one advise sink; the block is freed once the sink has returned.
struct StreamDelivery final : Delivery {
    ComPtr<IAdviseSink> sink;
    CLIPFORMAT format = 0;
    HGLOBAL block = nullptr;

    ~StreamDelivery() override {
        if (block) {
            GlobalFree(block);
        }
    }
    void Deliver() override {
        FORMATETC fe{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium{};
        medium.tymed = TYMED_HGLOBAL;
        medium.hGlobal = block;
        medium.pUnkForRelease = nullptr;
        sink->OnDataChange(&fe, &medium);
    }
};

struct AttributeSnapshot {
    WString accessPath;
    WString itemId;
    BOOL active;
    OPCHANDLE hClient;
    OPCHANDLE hServer;
    DWORD access;
    VARTYPE requested;
    const ItemDef* def;
};

class ItemAttributesEnumerator final : public SingleInterfaceObject<IEnumOPCItemAttributes> {
public:
    ItemAttributesEnumerator(std::shared_ptr<const AddressSpace> space,
                             std::shared_ptr<const std::vector<AttributeSnapshot>> items, size_t pos)
        : space_(std::move(space)), items_(std::move(items)), pos_(pos) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray,
                                   ULONG* pceltFetched) override {
        if (ppItemArray) {
            *ppItemArray = nullptr;
        }
        if (pceltFetched) {
            *pceltFetched = 0;
        }
        if (!ppItemArray || !pceltFetched) {
            return E_INVALIDARG;
        }
        size_t n = std::min<size_t>(celt, items_->size() - pos_);
        if (n == 0) {
            return celt == 0 ? S_OK : S_FALSE;
        }
        auto* array = CtmArray<OPCITEMATTRIBUTES>(n);
        if (!array) {
            return E_OUTOFMEMORY;
        }
        bool ok = true;
        for (size_t i = 0; i < n; ++i) {
            const AttributeSnapshot& s = (*items_)[pos_ + i];
            OPCITEMATTRIBUTES& a = array[i];
            VariantInit(&a.vEUInfo);
            a.szAccessPath = CtmString(s.accessPath);
            a.szItemID = CtmString(s.itemId);
            ok = ok && a.szAccessPath && a.szItemID;
            a.bActive = s.active;
            a.hClient = s.hClient;
            a.hServer = s.hServer;
            a.dwAccessRights = s.access;
            a.vtRequestedDataType = s.requested;
            a.vtCanonicalDataType = s.def->type;
            a.dwEUType = static_cast<OPCEUTYPE>(s.def->euType);
            if (s.def->euType != kEuNone) {
                ok = ok && SUCCEEDED(EuInfoValue(*s.def, &a.vEUInfo));
            }
        }
        if (!ok) {
            for (size_t i = 0; i < n; ++i) {
                CoTaskMemFree(array[i].szAccessPath);
                CoTaskMemFree(array[i].szItemID);
                VariantClear(&array[i].vEUInfo);
            }
            CoTaskMemFree(array);
            return E_OUTOFMEMORY;
        }
        pos_ += n;
        *ppItemArray = array;
        *pceltFetched = static_cast<ULONG>(n);
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
    HRESULT STDMETHODCALLTYPE Clone(IEnumOPCItemAttributes** pp) override {
        if (!pp) {
            return E_INVALIDARG;
        }
        *pp = new ItemAttributesEnumerator(space_, items_, pos_);
        (*pp)->AddRef();
        return S_OK;
    }

private:
    std::shared_ptr<const AddressSpace> space_;  // owns the ItemDefs the snapshot points at
    std::shared_ptr<const std::vector<AttributeSnapshot>> items_;
    size_t pos_;
};

template <typename T>
HRESULT AllocResults(DWORD count, T** results, HRESULT** errors) {
    *results = CtmArray<T>(count);
    *errors = CtmArray<HRESULT>(count);
    if (!*results || !*errors) {
        CoTaskMemFree(*results);
        CoTaskMemFree(*errors);
        *results = nullptr;
        *errors = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

bool ValidSource(OPCDATASOURCE source) {
    return source == OPC_DS_CACHE || source == OPC_DS_DEVICE;
}

// Fault::ForeignValueTypes: a value in a type no OPC server may hand out, chosen by the item.
// None of them owns memory, so whoever clears it frees nothing it should not.
void MakeForeignValue(OPCHANDLE hClient, VARIANT* v) {
    VariantClear(v);
    switch (hClient % 4) {
        case 0:
            v->vt = VT_CLSID;  // a type of property sets, never of a VARIANT
            break;
        case 1:
            v->vt = 0x0FFF;  // no type at all
            break;
        case 2:
            v->vt = VT_UNKNOWN;
            v->punkVal = nullptr;
            break;
        default:
            v->vt = VT_ERROR;
            v->scode = DISP_E_PARAMNOTFOUND;
            break;
    }
}

// Fault::NullAsyncErrors and Fault::NullWriteErrors: the call did its work, but the caller gets
// no per-item results.
HRESULT DropErrors(HRESULT hr, HRESULT** ppErrors) {
    if (SUCCEEDED(hr) && ppErrors) {
        CoTaskMemFree(*ppErrors);
        *ppErrors = nullptr;
        return S_OK;
    }
    return hr;
}

}  // namespace

const StreamFormats& Formats() {
    static const StreamFormats formats{
        static_cast<CLIPFORMAT>(RegisterClipboardFormatW(OPCSTMFORMATDATA)),
        static_cast<CLIPFORMAT>(RegisterClipboardFormatW(OPCSTMFORMATDATATIME)),
        static_cast<CLIPFORMAT>(RegisterClipboardFormatW(OPCSTMFORMATWRITECOMPLETE)),
    };
    return formats;
}

Group::Group(std::shared_ptr<ServerCore> core, OPCHANDLE hServer)
    : core_(std::move(core)), hServer_(hServer) {}

Group::~Group() = default;

DWORD Group::ReviseUpdateRate(DWORD requested) {
    return std::max(requested, kFastestRate);
}

void Group::InitState(WString name, bool active, DWORD updateRate, OPCHANDLE hClient, LONG timeBias,
                      FLOAT deadband, DWORD lcid) {
    name_ = std::move(name);
    active_ = active;
    updateRate_ = ReviseUpdateRate(updateRate);
    hClient_ = hClient;
    timeBias_ = timeBias;
    deadband_ = deadband;
    lcid_ = lcid;
}

void Group::MarkRemoved() {
    removed_ = true;
}

HRESULT STDMETHODCALLTYPE Group::QueryInterface(REFIID riid, void** ppv) {
    if (HRESULT hr = CheckOut(ppv); FAILED(hr)) {
        return hr;
    }
    bool da2 = core_->flavor != ServerFlavor::DA1;
    if (riid == IID_IUnknown || riid == IID_IOPCItemMgt) {
        *ppv = static_cast<IOPCItemMgt*>(this);
    } else if (riid == IID_IOPCGroupStateMgt) {
        *ppv = static_cast<IOPCGroupStateMgt*>(this);
    } else if (riid == IID_IOPCSyncIO) {
        *ppv = static_cast<IOPCSyncIO*>(this);
    } else if (riid == IID_IOPCAsyncIO) {
        *ppv = static_cast<IOPCAsyncIO*>(this);
    } else if (riid == IID_IDataObject) {
        *ppv = static_cast<IDataObject*>(this);
    } else if (da2 && riid == IID_IOPCAsyncIO2) {
        *ppv = static_cast<IOPCAsyncIO2*>(this);
    } else if (da2 && riid == IID_IConnectionPointContainer) {
        *ppv = static_cast<IConnectionPointContainer*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE Group::AddRef() {
    return ++refs_;
}

ULONG STDMETHODCALLTYPE Group::Release() {
    ULONG left = --refs_;
    if (left == 0) {
        delete this;
    }
    return left;
}

GroupItem* Group::FindItem(OPCHANDLE hServer) {
    auto it = std::lower_bound(items_.begin(), items_.end(), hServer,
                               [](const GroupItem& gi, OPCHANDLE h) { return gi.hServer < h; });
    return (it != items_.end() && it->hServer == hServer && !it->gone) ? &*it : nullptr;
}

bool Group::HasActiveItems() const {
    return std::any_of(items_.begin(), items_.end(),
                       [](const GroupItem& gi) { return gi.active && !gi.gone; });
}

// ---- IOPCItemMgt -------------------------------------------------------------------------------

HRESULT Group::CheckDefinition(const OPCITEMDEF& def, const ItemDef** item) const {
    *item = nullptr;
    if (!def.szItemID) {
        return OPC_E_INVALIDITEMID;
    }
    if (HRESULT hr = AddressSpace::CheckItemIdSyntax(def.szItemID); FAILED(hr)) {
        return hr;
    }
    const ItemDef* found = core_->space->FindItem(def.szItemID);
    if (!found) {
        return OPC_E_UNKNOWNITEMID;
    }
    if (!core_->refuseItems.empty() && found->kind != ItemKind::Control &&
        MatchesPattern(found->itemId, core_->refuseItems)) {
        return OPC_E_UNKNOWNITEMID;  // as if the item had gone from the address space
    }
    if (def.szAccessPath && def.szAccessPath[0]) {
        return OPC_E_UNKNOWNPATH;  // this server's items have no access paths
    }
    if (!CanConvertType(found->type, def.vtRequestedDataType)) {
        return OPC_E_BADTYPE;
    }
    *item = found;
    return S_OK;
}

HRESULT Group::ValidateOrAdd(DWORD dwCount, OPCITEMDEF* pItemArray, bool add, OPCITEMRESULT** ppResults,
                             HRESULT** ppErrors) {
    if (ppResults) {
        *ppResults = nullptr;
    }
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    if (HRESULT hr = core_->Enter(add ? "IOPCItemMgt.AddItems" : "IOPCItemMgt.ValidateItems"); FAILED(hr)) {
        return hr;
    }
    if (core_->fault == Fault::NullAddResults && add) {
        return S_OK;
    }
    if (dwCount == 0 || !pItemArray || !ppResults || !ppErrors) {
        return E_INVALIDARG;
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    if (HRESULT hr = AllocResults(dwCount, &results, &errors); FAILED(hr)) {
        return hr;
    }
    bool allOk = true;
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        if (add) {
            items_.reserve(items_.size() + dwCount);
        }
        for (DWORD i = 0; i < dwCount; ++i) {
            const OPCITEMDEF& def = pItemArray[i];
            const ItemDef* item = nullptr;
            errors[i] = CheckDefinition(def, &item);
            if (FAILED(errors[i])) {
                allOk = false;
                continue;
            }
            OPCITEMRESULT& r = results[i];
            r.vtCanonicalDataType = core_->fault == Fault::BadCanonicalType
                                        ? BadCanonicalVarType
                                        : static_cast<VARTYPE>(item->type);
            r.dwAccessRights = item->access;
            if (add) {
                GroupItem gi;
                gi.hServer = nextItemHandle_++;
                gi.hClient = def.hClient;
                gi.index = item->index;
                gi.active = def.bActive != FALSE;
                gi.requested = def.vtRequestedDataType;
                if (def.szAccessPath) {
                    gi.accessPath = def.szAccessPath;
                }
                items_.push_back(std::move(gi));
                r.hServer = items_.back().hServer;
                if (core_->fault == Fault::BogusItemHandles) {
                    r.hServer += BogusServerHandleOffset;
                }
            }
        }
        if (add) {
            // New items report their first values at once, not when the group is next due,
            // which for a slow group may be an hour away.
            nextDue_ = {};
            core_->Wake();
        }
    }
    *ppResults = results;
    *ppErrors = errors;
    return allOk ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE Group::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                                          HRESULT** ppErrors) {
    return ValidateOrAdd(dwCount, pItemArray, true, ppAddResults, ppErrors);
}

HRESULT STDMETHODCALLTYPE Group::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                               OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) {
    return ValidateOrAdd(dwCount, pItemArray, false, ppValidationResults, ppErrors);
}

template <typename Fn>
HRESULT Group::ForEachHandle(const char* name, DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors,
                             Fn fn) {
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    if (HRESULT hr = core_->Enter(name); FAILED(hr)) {
        return hr;
    }
    if (dwCount == 0 || !phServer || !ppErrors) {
        return E_INVALIDARG;
    }
    auto* errors = CtmArray<HRESULT>(dwCount);
    if (!errors) {
        return E_OUTOFMEMORY;
    }
    bool allOk = true;
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        for (DWORD i = 0; i < dwCount; ++i) {
            GroupItem* gi = FindItem(phServer[i]);
            errors[i] = gi ? fn(*gi, i) : OPC_E_INVALIDHANDLE;
            allOk = allOk && errors[i] == S_OK;
        }
        items_.erase(
            std::remove_if(items_.begin(), items_.end(), [](const GroupItem& gi) { return gi.gone; }),
            items_.end());
        core_->Wake();
    }
    *ppErrors = errors;
    return allOk ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE Group::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
    return ForEachHandle("IOPCItemMgt.RemoveItems", dwCount, phServer, ppErrors, [](GroupItem& gi, DWORD) {
        gi.gone = true;  // compacted once at the end, so removing many items stays cheap
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Group::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                                HRESULT** ppErrors) {
    return ForEachHandle(
        "IOPCItemMgt.SetActiveState", dwCount, phServer, ppErrors, [&](GroupItem& gi, DWORD) {
            if (bActive && !gi.active) {
                gi.sentChanges = UINT64_MAX;  // an item that becomes active reports its value again
            }
            gi.active = bActive != FALSE;
            return S_OK;
        });
}

HRESULT STDMETHODCALLTYPE Group::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                                  HRESULT** ppErrors) {
    if (!phClient) {
        if (ppErrors) {
            *ppErrors = nullptr;
        }
        return E_INVALIDARG;
    }
    return ForEachHandle("IOPCItemMgt.SetClientHandles", dwCount, phServer, ppErrors,
                         [&](GroupItem& gi, DWORD i) {
                             gi.hClient = phClient[i];
                             return S_OK;
                         });
}

HRESULT STDMETHODCALLTYPE Group::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer,
                                              VARTYPE* pRequestedDatatypes, HRESULT** ppErrors) {
    if (!pRequestedDatatypes) {
        if (ppErrors) {
            *ppErrors = nullptr;
        }
        return E_INVALIDARG;
    }
    return ForEachHandle(
        "IOPCItemMgt.SetDatatypes", dwCount, phServer, ppErrors, [&](GroupItem& gi, DWORD i) {
            if (!CanConvertType(core_->space->Items()[gi.index].type, pRequestedDatatypes[i])) {
                return OPC_E_BADTYPE;
            }
            gi.requested = pRequestedDatatypes[i];
            return S_OK;
        });
}

HRESULT STDMETHODCALLTYPE Group::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) {
    if (ppUnk) {
        *ppUnk = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCItemMgt.CreateEnumerator"); FAILED(hr)) {
        return hr;
    }
    if (!ppUnk) {
        return E_INVALIDARG;
    }
    if (riid != IID_IEnumOPCItemAttributes) {
        return E_NOINTERFACE;
    }
    auto items = std::make_shared<std::vector<AttributeSnapshot>>();
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        items->reserve(items_.size());
        for (const auto& gi : items_) {
            const ItemDef& def = core_->space->Items()[gi.index];
            items->push_back({gi.accessPath, def.itemId, gi.active ? TRUE : FALSE, gi.hClient, gi.hServer,
                              def.access, gi.requested, &def});
        }
    }
    bool empty = items->empty();
    auto* e = new ItemAttributesEnumerator(core_->space, std::move(items), 0);
    e->AddRef();
    *ppUnk = e;
    // An empty group still hands out an (empty) enumerator, which the caller releases.
    return empty ? S_FALSE : S_OK;
}

// ---- IOPCGroupStateMgt -------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE Group::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                                          FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                                          OPCHANDLE* phServerGroup) {
    if (ppName) {
        *ppName = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCGroupStateMgt.GetState"); FAILED(hr)) {
        return hr;
    }
    if (!pUpdateRate || !pActive || !ppName || !pTimeBias || !pPercentDeadband || !pLCID || !phClientGroup ||
        !phServerGroup) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    *ppName = CtmString(name_);
    if (!*ppName) {
        return E_OUTOFMEMORY;
    }
    *pUpdateRate = updateRate_;
    *pActive = active_ ? TRUE : FALSE;
    *pTimeBias = timeBias_;
    *pPercentDeadband = deadband_;
    *pLCID = lcid_;
    *phClientGroup = hClient_;
    *phServerGroup = hServer_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Group::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate,
                                          BOOL* pActive, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                          DWORD* pLCID, OPCHANDLE* phClientGroup) {
    if (HRESULT hr = core_->Enter("IOPCGroupStateMgt.SetState"); FAILED(hr)) {
        return hr;
    }
    if (pPercentDeadband && (*pPercentDeadband < 0.0f || *pPercentDeadband > 100.0f)) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    HRESULT result = S_OK;
    if (pRequestedUpdateRate) {
        updateRate_ = ReviseUpdateRate(*pRequestedUpdateRate);
        nextDue_ = {};
        if (updateRate_ != *pRequestedUpdateRate) {
            result = OPC_S_UNSUPPORTEDRATE;
        }
    }
    if (pRevisedUpdateRate) {
        *pRevisedUpdateRate = updateRate_;
    }
    if (pActive) {
        bool active = *pActive != FALSE;
        if (active && !active_) {
            // A group that becomes active reports every active item once.
            for (auto& gi : items_) {
                gi.sentChanges = UINT64_MAX;
            }
            nextDue_ = {};
        }
        active_ = active;
    }
    if (pTimeBias) {
        timeBias_ = *pTimeBias;
    }
    if (pPercentDeadband) {
        deadband_ = *pPercentDeadband;
    }
    if (pLCID) {
        lcid_ = *pLCID;
    }
    if (phClientGroup) {
        hClient_ = *phClientGroup;
    }
    core_->Wake();
    return result;
}

HRESULT STDMETHODCALLTYPE Group::SetName(LPCWSTR szName) {
    if (HRESULT hr = core_->Enter("IOPCGroupStateMgt.SetName"); FAILED(hr)) {
        return hr;
    }
    if (!szName || !szName[0]) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    Group* other = core_->FindGroup(WStringView(szName));
    if (other && other != this) {
        return OPC_E_DUPLICATENAME;
    }
    name_ = szName;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Group::CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    if (ppUnk) {
        *ppUnk = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCGroupStateMgt.CloneGroup"); FAILED(hr)) {
        return hr;
    }
    if (!ppUnk) {
        return E_INVALIDARG;
    }
    ComPtr<Group> clone;
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        if (core_->Stopped()) {
            return E_FAIL;
        }
        WString name = szName ? WString(szName) : WString();
        if (name.empty()) {
            name = core_->UniqueGroupName();
        } else if (core_->FindGroup(name)) {
            return OPC_E_DUPLICATENAME;
        }
        clone = ComPtr<Group>(new Group(core_, core_->nextGroupHandle++), true);
        // A clone starts inactive, with the same items and settings but no callbacks.
        clone->InitState(std::move(name), false, updateRate_, hClient_, timeBias_, deadband_, lcid_);
        for (const auto& gi : items_) {
            if (!gi.gone) {
                GroupItem copy = gi;
                copy.sentChanges = UINT64_MAX;
                clone->items_.push_back(std::move(copy));
            }
        }
        clone->nextItemHandle_ = nextItemHandle_;
        HRESULT hr = clone->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
        if (FAILED(hr)) {
            return hr;
        }
        core_->groups.push_back(clone);
    }
    return S_OK;
}

// ---- IOPCSyncIO --------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE Group::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                      OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) {
    if (ppItemValues) {
        *ppItemValues = nullptr;
    }
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCSyncIO.Read"); FAILED(hr)) {
        return hr;
    }
    if (core_->fault == Fault::NullReadResults) {
        return S_OK;
    }
    if (dwCount == 0 || !phServer || !ppItemValues || !ppErrors || !ValidSource(dwSource)) {
        return E_INVALIDARG;
    }
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    if (HRESULT hr = AllocResults(dwCount, &states, &errors); FAILED(hr)) {
        return hr;
    }
    bool device = dwSource == OPC_DS_DEVICE;
    bool allOk = true;
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        if (device) {
            core_->NextSample();
        }
        for (DWORD i = 0; i < dwCount; ++i) {
            OPCITEMSTATE& s = states[i];
            VariantInit(&s.vDataValue);
            GroupItem* gi = FindItem(phServer[i]);
            if (!gi) {
                errors[i] = OPC_E_INVALIDHANDLE;
                allOk = false;
                continue;
            }
            s.hClient = gi->hClient;
            errors[i] = core_->ReadValue(gi->index, device, gi->requested, &s.vDataValue, &s.wQuality,
                                         &s.ftTimeStamp);
            if (!device && (!active_ || !gi->active) && SUCCEEDED(errors[i])) {
                s.wQuality = OPC_QUALITY_BAD | OPC_QUALITY_OUT_OF_SERVICE;  // the cache is not kept for it
            }
            if (core_->fault == Fault::ForeignValueTypes && SUCCEEDED(errors[i])) {
                MakeForeignValue(s.hClient, &s.vDataValue);
            }
            allOk = allOk && errors[i] == S_OK;
        }
    }
    *ppItemValues = states;
    *ppErrors = errors;
    return allOk ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE Group::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                       HRESULT** ppErrors) {
    if (!pItemValues) {
        if (ppErrors) {
            *ppErrors = nullptr;
        }
        return E_INVALIDARG;
    }
    HRESULT hr = ForEachHandle("IOPCSyncIO.Write", dwCount, phServer, ppErrors, [&](GroupItem& gi, DWORD i) {
        return core_->WriteValue(gi.index, pItemValues[i]);
    });
    return core_->fault == Fault::NullWriteErrors ? DropErrors(hr, ppErrors) : hr;
}

// ---- Asynchronous requests ---------------------------------------------------------------------

std::unique_ptr<AsyncTask> Group::NewRequest(AsyncTask::Kind kind, DWORD transactionId) {
    auto task = std::make_unique<AsyncTask>();
    task->kind = kind;
    task->group = ComPtr<Group>(this, true);
    task->transactionId = transactionId;
    task->cancelId = core_->nextCancelId++;
    return task;
}

std::unique_ptr<AsyncTask> Group::NewDA1Request(AsyncTask::Kind kind, DWORD connection) {
    auto task = std::make_unique<AsyncTask>();
    task->kind = kind;
    task->da1 = true;
    task->group = ComPtr<Group>(this, true);
    task->transactionId = core_->NextTransactionId();
    task->connection = connection;
    return task;
}

HRESULT Group::QueueAsync(std::unique_ptr<AsyncTask> task, DWORD dwCount, OPCHANDLE* phServer,
                          VARIANT* values, HRESULT** ppErrors) {
    // With the lock held. Handles and access rights are checked now; the rest when it runs.
    auto* errors = CtmArray<HRESULT>(dwCount);
    if (!errors) {
        return E_OUTOFMEMORY;
    }
    bool allOk = true;
    for (DWORD i = 0; i < dwCount; ++i) {
        GroupItem* gi = FindItem(phServer[i]);
        if (!gi) {
            errors[i] = OPC_E_INVALIDHANDLE;
        } else if (values && !(core_->space->Items()[gi->index].access & kAccessWrite)) {
            errors[i] = OPC_E_BADRIGHTS;
        } else {
            errors[i] = S_OK;
            task->handles.push_back(phServer[i]);
            if (values) {
                VARIANT copy;
                VariantInit(&copy);
                errors[i] = VariantCopy(&copy, &values[i]);
                if (FAILED(errors[i])) {
                    task->handles.pop_back();
                } else {
                    task->values.push_back(copy);
                }
            }
        }
        allOk = allOk && errors[i] == S_OK;
    }
    *ppErrors = errors;
    if (!task->handles.empty()) {
        core_->Queue(std::move(task));
    }
    return allOk ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE Group::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                                      DWORD* pdwCancelID, HRESULT** ppErrors) {
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCAsyncIO2.Read"); FAILED(hr)) {
        return hr;
    }
    if (dwCount == 0 || !phServer || !pdwCancelID || !ppErrors) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (!callback_) {
        return CONNECT_E_NOCONNECTION;
    }
    if (core_->Stopped()) {
        return E_FAIL;  // the server object is gone: nothing runs requests any more
    }
    auto task = NewRequest(AsyncTask::Kind::Read, dwTransactionID);
    task->source = OPC_DS_DEVICE;
    *pdwCancelID = task->cancelId;
    HRESULT hr = QueueAsync(std::move(task), dwCount, phServer, nullptr, ppErrors);
    return core_->fault == Fault::NullAsyncErrors ? DropErrors(hr, ppErrors) : hr;
}

HRESULT STDMETHODCALLTYPE Group::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                       DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) {
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCAsyncIO2.Write"); FAILED(hr)) {
        return hr;
    }
    if (dwCount == 0 || !phServer || !pItemValues || !pdwCancelID || !ppErrors) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (!callback_) {
        return CONNECT_E_NOCONNECTION;
    }
    if (core_->Stopped()) {
        return E_FAIL;  // the server object is gone: nothing runs requests any more
    }
    auto task = NewRequest(AsyncTask::Kind::Write, dwTransactionID);
    *pdwCancelID = task->cancelId;
    HRESULT hr = QueueAsync(std::move(task), dwCount, phServer, pItemValues, ppErrors);
    return core_->fault == Fault::NullAsyncErrors ? DropErrors(hr, ppErrors) : hr;
}

HRESULT STDMETHODCALLTYPE Group::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) {
    if (HRESULT hr = core_->Enter("IOPCAsyncIO2.Refresh2"); FAILED(hr)) {
        return hr;
    }
    if (!pdwCancelID || !ValidSource(dwSource)) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (!callback_) {
        return CONNECT_E_NOCONNECTION;
    }
    if (!active_ || !HasActiveItems() || core_->Stopped()) {
        return E_FAIL;  // nothing a refresh could report, or nobody left to run it
    }
    auto task = NewRequest(AsyncTask::Kind::Refresh, dwTransactionID);
    task->source = dwSource;
    *pdwCancelID = task->cancelId;
    core_->Queue(std::move(task));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Group::Cancel2(DWORD dwCancelID) {
    if (HRESULT hr = core_->Enter("IOPCAsyncIO2.Cancel2"); FAILED(hr)) {
        return hr;
    }
    std::unique_ptr<AsyncTask> removed;
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (!core_->CancelQueued(this, dwCancelID, false, &removed)) {
        return E_FAIL;  // unknown, or already done
    }
    // The client learns of the cancellation through its callback, like any other completion.
    auto notice = std::make_unique<AsyncTask>();
    notice->kind = AsyncTask::Kind::CancelComplete;
    notice->group = ComPtr<Group>(this, true);
    notice->transactionId = removed->transactionId;
    core_->Queue(std::move(notice));
    // `removed` holds a reference to this group; it goes after the lock, which is fine because
    // the caller holds one too.
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Group::SetEnable(BOOL bEnable) {
    if (HRESULT hr = core_->Enter("IOPCAsyncIO2.SetEnable"); FAILED(hr)) {
        return hr;
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (!callback_) {
        return CONNECT_E_NOCONNECTION;
    }
    enabled_ = bEnable != FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Group::GetEnable(BOOL* pbEnable) {
    if (HRESULT hr = core_->Enter("IOPCAsyncIO2.GetEnable"); FAILED(hr)) {
        return hr;
    }
    if (!pbEnable) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (!callback_) {
        return CONNECT_E_NOCONNECTION;
    }
    *pbEnable = enabled_ ? TRUE : FALSE;
    return S_OK;
}

const Group::DataAdvise* Group::FindAdvise(DWORD connection) const {
    for (const auto& a : advises_) {
        if (a.connection == connection) {
            return &a;
        }
    }
    return nullptr;
}

HRESULT STDMETHODCALLTYPE Group::Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                                      OPCHANDLE* phServer, DWORD* pTransactionID, HRESULT** ppErrors) {
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCAsyncIO.Read"); FAILED(hr)) {
        return hr;
    }
    if (dwCount == 0 || !phServer || !pTransactionID || !ppErrors || !ValidSource(dwSource)) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    const DataAdvise* advise = FindAdvise(dwConnection);
    if (!advise || advise->format == Formats().writeComplete) {
        return CONNECT_E_NOCONNECTION;  // read results need a data stream to travel in
    }
    if (core_->Stopped()) {
        return E_FAIL;
    }
    auto task = NewDA1Request(AsyncTask::Kind::Read, dwConnection);
    task->source = dwSource;
    *pTransactionID = task->transactionId;
    return QueueAsync(std::move(task), dwCount, phServer, nullptr, ppErrors);
}

HRESULT STDMETHODCALLTYPE Group::Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                                       VARIANT* pItemValues, DWORD* pTransactionID, HRESULT** ppErrors) {
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCAsyncIO.Write"); FAILED(hr)) {
        return hr;
    }
    if (dwCount == 0 || !phServer || !pItemValues || !pTransactionID || !ppErrors) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (!FindAdvise(dwConnection)) {
        return CONNECT_E_NOCONNECTION;
    }
    if (core_->Stopped()) {
        return E_FAIL;
    }
    auto task = NewDA1Request(AsyncTask::Kind::Write, dwConnection);
    *pTransactionID = task->transactionId;
    return QueueAsync(std::move(task), dwCount, phServer, pItemValues, ppErrors);
}

HRESULT STDMETHODCALLTYPE Group::Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) {
    if (HRESULT hr = core_->Enter("IOPCAsyncIO.Refresh"); FAILED(hr)) {
        return hr;
    }
    if (!pTransactionID || !ValidSource(dwSource)) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    const DataAdvise* advise = FindAdvise(dwConnection);
    if (!advise || advise->format == Formats().writeComplete) {
        return CONNECT_E_NOCONNECTION;
    }
    if (!active_ || !HasActiveItems() || core_->Stopped()) {
        return E_FAIL;
    }
    auto task = NewDA1Request(AsyncTask::Kind::Refresh, dwConnection);
    task->source = dwSource;
    *pTransactionID = task->transactionId;
    core_->Queue(std::move(task));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Group::Cancel(DWORD dwTransactionID) {
    if (HRESULT hr = core_->Enter("IOPCAsyncIO.Cancel"); FAILED(hr)) {
        return hr;
    }
    std::unique_ptr<AsyncTask> removed;
    std::lock_guard<std::mutex> lock(core_->mutex);
    return core_->CancelQueued(this, dwTransactionID, true, &removed) ? S_OK : E_FAIL;
}

// ---- IConnectionPointContainer -----------------------------------------------------------------

HRESULT STDMETHODCALLTYPE Group::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    return EnumSingleConnectionPoint(this, this, IID_IOPCDataCallback, ppEnum);
}

HRESULT STDMETHODCALLTYPE Group::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    return FindSingleConnectionPoint(this, this, IID_IOPCDataCallback, riid, ppCP);
}

HRESULT Group::AdviseSink(REFIID iid, IUnknown* sink, DWORD* cookie) {
    if (HRESULT hr = core_->Enter("IConnectionPoint.Advise"); FAILED(hr)) {
        return hr;
    }
    ComPtr<IOPCDataCallback> callback;
    if (FAILED(sink->QueryInterface(IID_IOPCDataCallback, reinterpret_cast<void**>(callback.Put()))) ||
        !callback) {
        return CONNECT_E_CANNOTCONNECT;
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (core_->refuseCallbacks) {
        return CONNECT_E_CANNOTCONNECT;
    }
    if (callback_) {
        return CONNECT_E_ADVISELIMIT;  // one callback per group
    }
    callback_ = std::move(callback);
    callbackCookie_ = core_->nextCookie++;
    *cookie = callbackCookie_;
    enabled_ = true;
    for (auto& gi : items_) {
        gi.sentChanges = UINT64_MAX;  // the new subscriber gets every value once
    }
    nextDue_ = {};
    core_->Wake();
    return S_OK;
}

HRESULT Group::UnadviseSink(REFIID iid, DWORD cookie) {
    if (HRESULT hr = core_->Enter("IConnectionPoint.Unadvise"); FAILED(hr)) {
        return hr;
    }
    ComPtr<IOPCDataCallback> released;
    std::unique_ptr<DataCallbackDelivery> parting;
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        if (!callback_ || cookie != callbackCookie_) {
            return CONNECT_E_NOCONNECTION;
        }
        released = std::move(callback_);
        callbackCookie_ = 0;
        if (core_->fault == Fault::CallbackAfterUnadvise) {
            core_->lingeringSinks.push_back({hClient_, std::move(released)});
        } else if (core_->fault == Fault::CallbackDuringUnadvise) {
            parting = std::make_unique<DataCallbackDelivery>();
            parting->callback = released;
            parting->hGroup = hClient_;
            std::vector<ItemUpdate> updates;
            for (const auto& gi : items_) {
                if (!gi.gone) {
                    CollectUpdate(gi, false, &updates);
                }
            }
            for (auto& u : updates) {
                parting->handles.push_back(u.hClient);
                parting->values.push_back(u.value);  // ownership moves to the delivery
                parting->qualities.push_back(u.quality);
                parting->timeStamps.push_back(u.timeStamp);
                parting->errors.push_back(u.error);
            }
        }
    }
    if (parting && !parting->handles.empty()) {
        // From a thread of the server's, while the client still waits for Unadvise to return.
        std::thread([&parting] { parting->Deliver(); }).join();
    }
    return S_OK;
}

// ---- IDataObject -------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE Group::GetData(FORMATETC*, STGMEDIUM*) {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE Group::GetDataHere(FORMATETC*, STGMEDIUM*) {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE Group::QueryGetData(FORMATETC*) {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE Group::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE Group::SetData(FORMATETC*, STGMEDIUM*, BOOL) {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE Group::EnumFormatEtc(DWORD, IEnumFORMATETC** pp) {
    if (pp) {
        *pp = nullptr;
    }
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE Group::EnumDAdvise(IEnumSTATDATA** pp) {
    if (pp) {
        *pp = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE Group::DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                                         DWORD* pdwConnection) {
    if (pdwConnection) {
        *pdwConnection = 0;
    }
    if (HRESULT hr = core_->Enter("IDataObject.DAdvise"); FAILED(hr)) {
        return hr;
    }
    if (!pformatetc || !pAdvSink || !pdwConnection) {
        return E_INVALIDARG;
    }
    const StreamFormats& f = Formats();
    CLIPFORMAT format = pformatetc->cfFormat;
    if ((format != f.data && format != f.dataTime && format != f.writeComplete) ||
        !(pformatetc->tymed & TYMED_HGLOBAL)) {
        return DV_E_FORMATETC;
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (core_->refuseCallbacks) {
        return CONNECT_E_CANNOTCONNECT;
    }
    for (const auto& a : advises_) {
        if (a.format == format) {
            return CONNECT_E_ADVISELIMIT;  // one advise per format
        }
    }
    DWORD connection = core_->nextCookie++;
    advises_.push_back({connection, format, ComPtr<IAdviseSink>(pAdvSink, true)});
    if (format != f.writeComplete) {
        for (auto& gi : items_) {
            gi.sentChanges = UINT64_MAX;
        }
        nextDue_ = {};
        core_->Wake();
    }
    *pdwConnection = connection;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Group::DUnadvise(DWORD dwConnection) {
    if (HRESULT hr = core_->Enter("IDataObject.DUnadvise"); FAILED(hr)) {
        return hr;
    }
    ComPtr<IAdviseSink> released;
    std::lock_guard<std::mutex> lock(core_->mutex);
    auto it = std::find_if(advises_.begin(), advises_.end(),
                           [&](const DataAdvise& a) { return a.connection == dwConnection; });
    if (it == advises_.end()) {
        return OLE_E_NOCONNECTION;
    }
    released = std::move(it->sink);
    advises_.erase(it);
    return S_OK;
}

// ---- The worker's side -------------------------------------------------------------------------

void Group::CollectUpdate(const GroupItem& gi, bool device, std::vector<ItemUpdate>* updates) {
    ItemUpdate u;
    u.hClient = gi.hClient;
    VariantInit(&u.value);
    u.quality = 0;
    u.timeStamp = {};
    u.error = core_->ReadValue(gi.index, device, gi.requested, &u.value, &u.quality, &u.timeStamp);
    updates->push_back(u);
}

void Group::DeliverData(DWORD transactionId, std::vector<ItemUpdate> updates, bool subscription,
                        bool readComplete, DWORD da1Connection, std::vector<std::unique_ptr<Delivery>>* out) {
    HRESULT masterQuality = S_OK;
    HRESULT masterError = S_OK;
    for (const auto& u : updates) {
        if ((u.quality & OPC_QUALITY_MASK) != OPC_QUALITY_GOOD) {
            masterQuality = S_FALSE;
        }
        if (u.error != S_OK) {
            masterError = S_FALSE;
        }
    }
    bool toDa2 = subscription ? (callback_ && enabled_) : (da1Connection == 0 && callback_);
    if (!core_->dropCallbacks && !updates.empty()) {
        // DA 1.0a streams first: they only read the values.
        const StreamFormats& f = Formats();
        std::vector<StreamEntry> entries;
        for (const auto& a : advises_) {
            bool wanted = subscription ? (a.format != f.writeComplete) : (a.connection == da1Connection);
            if (!wanted || a.format == f.writeComplete) {
                continue;
            }
            if (entries.empty()) {
                entries.reserve(updates.size());
                for (const auto& u : updates) {
                    entries.push_back({u.hClient, u.quality, u.timeStamp, &u.value});
                }
            }
            HRESULT error = S_OK;
            HGLOBAL block =
                PackDataStream(a.format == f.dataTime, hClient_, subscription ? 0 : transactionId,
                               masterError != S_OK ? masterError : masterQuality, entries, &error);
            if (block) {
                auto d = std::make_unique<StreamDelivery>();
                d->sink = a.sink;
                d->format = a.format;
                d->block = block;
                out->push_back(std::move(d));
            }
        }
        const Fault fault = core_->fault;
        if (fault == Fault::ForeignValueTypes) {
            for (auto& u : updates) {
                if (SUCCEEDED(u.error)) {
                    MakeForeignValue(u.hClient, &u.value);
                }
            }
        }
        if (subscription && fault == Fault::CallbackAfterUnadvise) {
            for (const auto& lingering : core_->lingeringSinks) {
                auto d = std::make_unique<DataCallbackDelivery>();
                d->callback = lingering.sink;
                d->hGroup = lingering.hGroup;
                for (const auto& u : updates) {
                    VARIANT copy;
                    VariantInit(&copy);
                    VariantCopy(&copy, &u.value);
                    d->handles.push_back(u.hClient);
                    d->values.push_back(copy);
                    d->qualities.push_back(u.quality);
                    d->timeStamps.push_back(u.timeStamp);
                    d->errors.push_back(u.error);
                }
                out->push_back(std::move(d));
            }
        }
        if (toDa2) {
            auto d = std::make_unique<DataCallbackDelivery>();
            d->kind = readComplete ? DataCallbackDelivery::Kind::ReadComplete
                                   : DataCallbackDelivery::Kind::DataChange;
            d->callback = callback_;
            d->transactionId = subscription ? 0 : transactionId;
            d->hGroup = hClient_;
            if (subscription && fault == Fault::OtherGroupHandle) {
                d->hGroup = hClient_ + 1;
            } else if (!subscription && fault == Fault::UnknownTransactions) {
                d->transactionId += BogusTransactionOffset;
            }
            d->withoutArrays = subscription && fault == Fault::NullCallbackArrays;
            d->masterQuality = masterQuality;
            d->masterError = masterError;
            size_t n = updates.size();
            d->handles.reserve(n);
            d->values.reserve(n);
            d->qualities.reserve(n);
            d->timeStamps.reserve(n);
            d->errors.reserve(n);
            for (auto& u : updates) {
                d->handles.push_back(subscription && fault == Fault::UnknownClientHandles
                                         ? u.hClient + BogusClientHandleOffset
                                         : u.hClient);
                d->values.push_back(u.value);  // ownership moves to the delivery
                VariantInit(&u.value);
                d->qualities.push_back(u.quality);
                d->timeStamps.push_back(u.timeStamp);
                d->errors.push_back(u.error);
            }
            out->push_back(std::move(d));
        }
    }
    for (auto& u : updates) {
        VariantClear(&u.value);
    }
}

Clock::time_point Group::Tick(Clock::time_point now, std::vector<std::unique_ptr<Delivery>>* out) {
    if (removed_ || !active_) {
        return now + std::chrono::seconds(1);
    }
    auto rate = std::chrono::milliseconds(updateRate_);
    if (nextDue_ == Clock::time_point{}) {
        nextDue_ = now;
    }
    if (now < nextDue_) {
        return nextDue_;
    }
    nextDue_ += rate;
    if (nextDue_ <= now) {
        nextDue_ = now + rate;  // behind schedule: skip the missed samples, do not race to catch up
    }
    bool subscribed = callback_ || std::any_of(advises_.begin(), advises_.end(), [](const DataAdvise& a) {
                          return a.format != Formats().writeComplete;
                      });
    if (core_->fault == Fault::CallbackFlood) {
        // One burst, as fast as this thread can make the calls: every item carries the number of
        // the data change, so the last value a client shows tells whether it kept up.
        if (callback_ && enabled_ && !flooded_ && !items_.empty()) {
            flooded_ = true;
            for (LONG serial = 1; serial <= FloodCallbacks; ++serial) {
                auto d = std::make_unique<DataCallbackDelivery>();
                d->callback = callback_;
                d->hGroup = hClient_;
                FILETIME now = NowFileTime();
                for (const auto& gi : items_) {
                    VARIANT v;
                    VariantInit(&v);
                    v.vt = VT_I4;
                    v.lVal = serial;
                    d->handles.push_back(gi.hClient);
                    d->values.push_back(v);
                    d->qualities.push_back(OPC_QUALITY_GOOD);
                    d->timeStamps.push_back(now);
                    d->errors.push_back(S_OK);
                }
                out->push_back(std::move(d));
            }
        }
        return nextDue_;
    }
    const auto& defs = core_->space->Items();
    std::vector<ItemUpdate> updates;
    for (auto& gi : items_) {
        if (!gi.active || gi.gone) {
            continue;
        }
        core_->Sample(gi.index);
        if (!subscribed) {
            continue;  // the cache stays current; nothing is reported until someone listens
        }
        const ItemState& s = core_->states[gi.index];
        if (s.changes == gi.sentChanges) {
            continue;
        }
        const ItemDef& def = defs[gi.index];
        double x = 0;
        bool numeric = def.euType == kEuAnalog && NumericValue(s.value, &x);
        if (numeric && deadband_ > 0.0f && gi.sentChanges != UINT64_MAX &&
            std::fabs(x - gi.sentValue) <= double(deadband_) / 100.0 * (def.high - def.low)) {
            continue;  // within the dead band of the last value sent
        }
        gi.sentChanges = s.changes;
        gi.sentValue = x;
        CollectUpdate(gi, false, &updates);
    }
    if (!updates.empty()) {
        DeliverData(0, std::move(updates), true, false, 0, out);
    }
    return nextDue_;
}

void Group::RunTask(AsyncTask& task, std::vector<std::unique_ptr<Delivery>>* out) {
    if (removed_) {
        return;  // a removed group's pending requests end with it
    }
    if (task.kind == AsyncTask::Kind::Write) {
        std::vector<OPCHANDLE> handles;
        std::vector<HRESULT> errors;
        for (size_t i = 0; i < task.handles.size(); ++i) {
            GroupItem* gi = FindItem(task.handles[i]);
            if (!gi) {
                continue;  // removed while the request waited
            }
            handles.push_back(gi->hClient);
            errors.push_back(core_->WriteValue(gi->index, task.values[i]));
        }
        if (core_->dropCallbacks || handles.empty()) {
            return;
        }
        HRESULT masterError =
            std::all_of(errors.begin(), errors.end(), [](HRESULT e) { return e == S_OK; }) ? S_OK : S_FALSE;
        if (task.da1) {
            // Write results go to the write-complete advise; without one, to the connection named.
            const StreamFormats& f = Formats();
            const DataAdvise* target = nullptr;
            for (const auto& a : advises_) {
                if (a.format == f.writeComplete) {
                    target = &a;
                }
            }
            if (!target) {
                target = FindAdvise(task.connection);
            }
            if (!target) {
                return;
            }
            HRESULT error = S_OK;
            HGLOBAL block =
                PackWriteCompleteStream(hClient_, task.transactionId, masterError, handles, errors, &error);
            if (block) {
                auto d = std::make_unique<StreamDelivery>();
                d->sink = target->sink;
                d->format = f.writeComplete;
                d->block = block;
                out->push_back(std::move(d));
            }
            return;
        }
        if (!callback_) {
            return;
        }
        auto d = std::make_unique<DataCallbackDelivery>();
        d->kind = DataCallbackDelivery::Kind::WriteComplete;
        d->callback = callback_;
        d->transactionId = task.transactionId;
        if (core_->fault == Fault::UnknownTransactions) {
            d->transactionId += BogusTransactionOffset;
        }
        d->hGroup = hClient_;
        d->masterError = masterError;
        d->handles = std::move(handles);
        d->errors = std::move(errors);
        out->push_back(std::move(d));
        return;
    }

    bool device = task.source == OPC_DS_DEVICE;
    if (device) {
        core_->NextSample();
    }
    std::vector<ItemUpdate> updates;
    if (task.kind == AsyncTask::Kind::Read) {
        for (OPCHANDLE h : task.handles) {
            if (GroupItem* gi = FindItem(h)) {
                CollectUpdate(*gi, device, &updates);
            }
        }
    } else {  // Refresh: every active item of an active group
        if (active_) {
            for (const auto& gi : items_) {
                if (gi.active && !gi.gone) {
                    CollectUpdate(gi, device, &updates);
                }
            }
        }
    }
    DeliverData(task.transactionId, std::move(updates), false, task.kind == AsyncTask::Kind::Read,
                task.da1 ? task.connection : 0, out);
}

void Group::CancelComplete(AsyncTask& task, std::vector<std::unique_ptr<Delivery>>* out) {
    if (removed_ || !callback_ || core_->dropCallbacks) {
        return;
    }
    auto d = std::make_unique<DataCallbackDelivery>();
    d->kind = DataCallbackDelivery::Kind::CancelComplete;
    d->callback = callback_;
    d->transactionId = task.transactionId;
    d->hGroup = hClient_;
    out->push_back(std::move(d));
}

}  // namespace nv::sim
