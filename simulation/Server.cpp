#include "simulation/Server.h"

#include <algorithm>

#include "simulation/Values.h"

namespace nv::sim {

namespace {

constexpr LCID kLocaleSystemDefault = 0x0800;
constexpr LCID kLocaleUserDefault = 0x0400;
constexpr LCID kLocaleNeutral = 0x0000;
constexpr LCID kLocaleEnglishUS = 0x0409;

// The server speaks English only: any English locale and the defaults are accepted.
bool LocaleSupported(LCID lcid) {
    return lcid == kLocaleSystemDefault || lcid == kLocaleUserDefault || lcid == kLocaleNeutral ||
           (lcid & 0x3FF) == 0x09;
}

class ConnectionPoint final : public SingleInterfaceObject<IConnectionPoint> {
public:
    ConnectionPoint(IConnectionPointContainer* container, ConnectionOwner* owner, REFIID iid)
        : container_(container, true), owner_(owner), iid_(iid) {}

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) override {
        if (!pIID) {
            return E_POINTER;
        }
        *pIID = iid_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override {
        if (!ppCPC) {
            return E_POINTER;
        }
        *ppCPC = container_.Get();
        (*ppCPC)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override {
        if (pdwCookie) {
            *pdwCookie = 0;
        }
        if (!pUnkSink || !pdwCookie) {
            return E_POINTER;
        }
        return owner_->AdviseSink(iid_, pUnkSink, pdwCookie);
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override {
        return owner_->UnadviseSink(iid_, dwCookie);
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) override {
        if (ppEnum) {
            *ppEnum = nullptr;
        }
        return E_NOTIMPL;
    }

private:
    ComPtr<IConnectionPointContainer> container_;  // keeps owner_ alive
    ConnectionOwner* owner_;
    IID iid_;
};

}  // namespace

HRESULT CreateConnectionPoint(IConnectionPointContainer* container, ConnectionOwner* owner, REFIID iid,
                              IConnectionPoint** ppCP) {
    *ppCP = new ConnectionPoint(container, owner, iid);
    (*ppCP)->AddRef();
    return S_OK;
}

HRESULT EnumSingleConnectionPoint(IConnectionPointContainer* container, ConnectionOwner* owner, REFIID iid,
                                  IEnumConnectionPoints** ppEnum) {
    if (!ppEnum) {
        return E_POINTER;
    }
    *ppEnum = nullptr;
    ComPtr<IConnectionPoint> point;
    if (HRESULT hr = CreateConnectionPoint(container, owner, iid, point.Put()); FAILED(hr)) {
        return hr;
    }
    std::vector<ComPtr<IConnectionPoint>> points;
    points.push_back(std::move(point));
    return CreateConnectionPointEnumerator(std::move(points), ppEnum);
}

HRESULT FindSingleConnectionPoint(IConnectionPointContainer* container, ConnectionOwner* owner, REFIID iid,
                                  REFIID requested, IConnectionPoint** ppCP) {
    if (!ppCP) {
        return E_POINTER;
    }
    *ppCP = nullptr;
    if (requested != iid) {
        return CONNECT_E_NOCONNECTION;
    }
    return CreateConnectionPoint(container, owner, iid, ppCP);
}

WString OpcErrorText(HRESULT code) {
    switch (code) {
        case OPC_E_INVALIDHANDLE:
            return OLESTR("The value of the handle is invalid.");
        case OPC_E_BADTYPE:
            return OLESTR(
                "The server cannot convert the data between the specified format and/or requested data type "
                "and the canonical data type.");
        case OPC_E_PUBLIC:
            return OLESTR("The requested operation cannot be done on a public group.");
        case OPC_E_BADRIGHTS:
            return OLESTR("The item's access rights do not allow the operation.");
        case OPC_E_UNKNOWNITEMID:
            return OLESTR(
                "The item ID is not defined in the server address space or no longer exists in the server "
                "address space.");
        case OPC_E_INVALIDITEMID:
            return OLESTR("The item ID does not conform to the server's syntax.");
        case OPC_E_INVALIDFILTER:
            return OLESTR("The filter string was not valid.");
        case OPC_E_UNKNOWNPATH:
            return OLESTR("The item's access path is not known to the server.");
        case OPC_E_RANGE:
            return OLESTR("The value was out of range.");
        case OPC_E_DUPLICATENAME:
            return OLESTR("Duplicate name not allowed.");
        case OPC_S_UNSUPPORTEDRATE:
            return OLESTR(
                "The server does not support the requested data rate but will use the closest available "
                "rate.");
        case OPC_S_CLAMP:
            return OLESTR("A value passed to write was accepted but the output was clamped.");
        case OPC_S_INUSE:
            return OLESTR("The operation cannot be performed because the object is being referenced.");
        case OPC_E_INVALIDCONFIGFILE:
            return OLESTR("The server's configuration file is an invalid format.");
        case OPC_E_NOTFOUND:
            return OLESTR("The requested object (e.g. a public group) was not found.");
        case OPC_E_INVALID_PID:
            return OLESTR("The specified property ID is not valid for the item.");
        case S_OK:
            return OLESTR("The operation completed successfully.");
        case E_FAIL:
            return OLESTR("Unspecified error");
        case E_INVALIDARG:
            return OLESTR("The parameter is incorrect.");
        case E_OUTOFMEMORY:
            return OLESTR("Not enough storage is available to complete this operation.");
        case E_NOTIMPL:
            return OLESTR("Not implemented");
        case E_NOINTERFACE:
            return OLESTR("No such interface supported");
        case E_POINTER:
            return OLESTR("Invalid pointer");
        case CONNECT_E_NOCONNECTION:
            return OLESTR("There is no connection for this connection ID.");
        case CONNECT_E_ADVISELIMIT:
            return OLESTR("This connection point already has a connection.");
        case CONNECT_E_CANNOTCONNECT:
            return OLESTR("The sink does not support the interface this connection point requires.");
        case DISP_E_TYPEMISMATCH:
            return OLESTR("Type mismatch.");
        case DISP_E_OVERFLOW:
            return OLESTR("Out of present range.");
        default:
            return WString();
    }
}

Server::Server(ServerFlavor flavor, BulkShape bulk, Fault fault, DWORD faultDelayMs)
    : core_(std::make_shared<ServerCore>(flavor, AddressSpace::Build(flavor == ServerFlavor::Flat, bulk),
                                         fault, faultDelayMs)) {
    position_ = &core_->space->Root();
    core_->Start(core_);
}

Server::~Server() = default;

HRESULT STDMETHODCALLTYPE Server::QueryInterface(REFIID riid, void** ppv) {
    if (HRESULT hr = CheckOut(ppv); FAILED(hr)) {
        return hr;
    }
    bool da2 = core_->flavor != ServerFlavor::DA1;
    if (riid == IID_IUnknown || riid == IID_IOPCServer) {
        *ppv = static_cast<IOPCServer*>(this);
    } else if (riid == IID_IOPCBrowseServerAddressSpace) {
        *ppv = static_cast<IOPCBrowseServerAddressSpace*>(this);
    } else if (da2 && riid == IID_IOPCCommon) {
        *ppv = static_cast<IOPCCommon*>(this);
    } else if (da2 && riid == IID_IConnectionPointContainer) {
        *ppv = static_cast<IConnectionPointContainer*>(this);
    } else if (da2 && riid == IID_IOPCItemProperties) {
        *ppv = static_cast<IOPCItemProperties*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE Server::AddRef() {
    return ++refs_;
}

ULONG STDMETHODCALLTYPE Server::Release() {
    ULONG left = --refs_;
    if (left == 0) {
        core_->Stop();
        delete this;
    }
    return left;
}

// ---- IOPCServer --------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE Server::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                           OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                           DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                                           REFIID riid, LPUNKNOWN* ppUnk) {
    if (ppUnk) {
        *ppUnk = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCServer.AddGroup"); FAILED(hr)) {
        return hr;
    }
    if (core_->fault == Fault::NullGroup) {
        return S_OK;
    }
    if (!phServerGroup || !pRevisedUpdateRate || !ppUnk) {
        return E_INVALIDARG;
    }
    if (pPercentDeadband && (*pPercentDeadband < 0.0f || *pPercentDeadband > 100.0f)) {
        return E_INVALIDARG;
    }
    ComPtr<Group> group;
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
        group = ComPtr<Group>(new Group(core_, core_->nextGroupHandle++), true);
        group->InitState(std::move(name), bActive != FALSE, dwRequestedUpdateRate, hClientGroup,
                         pTimeBias ? *pTimeBias : 0, pPercentDeadband ? *pPercentDeadband : 0.0f, dwLCID);
        HRESULT hr = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
        if (FAILED(hr)) {
            return hr;  // the group was never listed; it goes with `group`
        }
        core_->groups.push_back(group);
        core_->Wake();
        *phServerGroup = group->ServerHandle();
        *pRevisedUpdateRate = Group::ReviseUpdateRate(dwRequestedUpdateRate);
    }
    return *pRevisedUpdateRate == dwRequestedUpdateRate ? S_OK : OPC_S_UNSUPPORTEDRATE;
}

HRESULT Server::ErrorText(HRESULT code, LCID locale, LPWSTR* ppString) {
    if (!ppString) {
        return E_INVALIDARG;
    }
    *ppString = nullptr;
    if (!LocaleSupported(locale)) {
        return E_INVALIDARG;
    }
    WString text = OpcErrorText(code);
    if (text.empty()) {
        LPWSTR buffer = nullptr;
        DWORD n = FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
        if (n == 0 || !buffer) {
            return E_INVALIDARG;  // a code this server knows nothing about
        }
        text.assign(buffer, n);
        LocalFree(buffer);
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
            text.pop_back();
        }
    }
    *ppString = CtmString(text);
    return *ppString ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE Server::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) {
    if (ppString) {
        *ppString = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCServer.GetErrorString"); FAILED(hr)) {
        return hr;
    }
    if (core_->fault == Fault::NullErrorString) {
        return S_OK;
    }
    return ErrorText(dwError, dwLocale, ppString);
}

HRESULT STDMETHODCALLTYPE Server::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    if (ppUnk) {
        *ppUnk = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCServer.GetGroupByName"); FAILED(hr)) {
        return hr;
    }
    if (!szName || !ppUnk) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    Group* group = core_->FindGroup(WStringView(szName));
    if (!group) {
        return E_INVALIDARG;
    }
    return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

HRESULT STDMETHODCALLTYPE Server::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
    if (ppServerStatus) {
        *ppServerStatus = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCServer.GetStatus"); FAILED(hr)) {
        return hr;
    }
    if (!ppServerStatus) {
        return E_INVALIDARG;
    }
    auto* status = CtmArray<OPCSERVERSTATUS>(1);
    if (!status) {
        return E_OUTOFMEMORY;
    }
    const char* vendor = core_->flavor == ServerFlavor::DA1    ? "Norvane OPC DA 1.0a Simulation Server"
                         : core_->flavor == ServerFlavor::Flat ? "Norvane OPC DA 2.0 Simulation Server (flat)"
                                                               : "Norvane OPC DA 2.0 Simulation Server";
    status->szVendorInfo = CtmString(Widen(vendor));
    if (!status->szVendorInfo) {
        CoTaskMemFree(status);
        return E_OUTOFMEMORY;
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    status->ftStartTime = core_->startTime;
    status->ftCurrentTime = NowFileTime();
    status->ftLastUpdateTime = core_->lastUpdateTime;
    status->dwServerState = core_->state;
    status->dwGroupCount = static_cast<DWORD>(core_->groups.size());
    status->dwBandWidth = 0xFFFFFFFF;  // not known
    status->wMajorVersion = 1;
    status->wMinorVersion = 0;
    status->wBuildNumber = 1;
    if (core_->fault == Fault::StatusOutOfRange) {
        status->dwServerState = static_cast<OPCSERVERSTATE>(OutOfRangeState);
    } else if (core_->fault == Fault::StatusNullVendor) {
        CoTaskMemFree(status->szVendorInfo);
        status->szVendorInfo = nullptr;
    }
    *ppServerStatus = status;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Server::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
    if (HRESULT hr = core_->Enter("IOPCServer.RemoveGroup"); FAILED(hr)) {
        return hr;
    }
    ComPtr<Group> removed;
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        auto it = std::find_if(core_->groups.begin(), core_->groups.end(),
                               [&](const ComPtr<Group>& g) { return g->ServerHandle() == hServerGroup; });
        if (it == core_->groups.end()) {
            return E_INVALIDARG;
        }
        removed = std::move(*it);
        core_->groups.erase(it);
        removed->MarkRemoved();
    }
    // One reference is `removed`; any other belongs to the client, which still uses the group.
    ULONG others = removed->AddRef() - 2;
    removed->Release();
    return (others > 0 && !bForce) ? OPC_S_INUSE : S_OK;
}

HRESULT STDMETHODCALLTYPE Server::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) {
    if (ppUnk) {
        *ppUnk = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCServer.CreateGroupEnumerator"); FAILED(hr)) {
        return hr;
    }
    if (!ppUnk || dwScope < OPC_ENUM_PRIVATE_CONNECTIONS || dwScope > OPC_ENUM_ALL) {
        return E_INVALIDARG;
    }
    // This server has no public groups: the public scopes are empty.
    bool privateGroups = dwScope != OPC_ENUM_PUBLIC_CONNECTIONS && dwScope != OPC_ENUM_PUBLIC;
    std::vector<ComPtr<Group>> groups;
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        if (privateGroups) {
            groups = core_->groups;
        }
    }
    HRESULT hr;
    if (riid == IID_IEnumString) {
        std::vector<WString> names;
        {
            std::lock_guard<std::mutex> lock(core_->mutex);
            for (const auto& g : groups) {
                names.push_back(g->Name());
            }
        }
        hr = CreateStringEnumerator(std::move(names), reinterpret_cast<IEnumString**>(ppUnk));
    } else if (riid == IID_IEnumUnknown) {
        std::vector<ComPtr<IUnknown>> objects;
        for (const auto& g : groups) {
            objects.emplace_back(static_cast<IOPCItemMgt*>(g.Get()), true);
        }
        hr = CreateUnknownEnumerator(std::move(objects), reinterpret_cast<IEnumUnknown**>(ppUnk));
    } else {
        return E_NOINTERFACE;
    }
    if (FAILED(hr)) {
        return hr;
    }
    return groups.empty() ? S_FALSE : S_OK;
}

// ---- IOPCCommon --------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE Server::SetLocaleID(LCID dwLcid) {
    if (HRESULT hr = core_->Enter("IOPCCommon.SetLocaleID"); FAILED(hr)) {
        return hr;
    }
    if (!LocaleSupported(dwLcid)) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(ownMutex_);
    locale_ = dwLcid;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Server::GetLocaleID(LCID* pdwLcid) {
    if (HRESULT hr = core_->Enter("IOPCCommon.GetLocaleID"); FAILED(hr)) {
        return hr;
    }
    if (!pdwLcid) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(ownMutex_);
    *pdwLcid = locale_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Server::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
    if (pdwCount) {
        *pdwCount = 0;
    }
    if (pdwLcid) {
        *pdwLcid = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCCommon.QueryAvailableLocaleIDs"); FAILED(hr)) {
        return hr;
    }
    if (!pdwCount || !pdwLcid) {
        return E_INVALIDARG;
    }
    const LCID locales[] = {kLocaleSystemDefault, kLocaleUserDefault, kLocaleNeutral, kLocaleEnglishUS};
    auto* list = CtmArray<LCID>(std::size(locales));
    if (!list) {
        return E_OUTOFMEMORY;
    }
    std::copy(std::begin(locales), std::end(locales), list);
    *pdwCount = static_cast<DWORD>(std::size(locales));
    *pdwLcid = list;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Server::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
    if (ppString) {
        *ppString = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCCommon.GetErrorString"); FAILED(hr)) {
        return hr;
    }
    if (core_->fault == Fault::NullErrorString) {
        return S_OK;
    }
    LCID locale;
    {
        std::lock_guard<std::mutex> lock(ownMutex_);
        locale = locale_;
    }
    return ErrorText(dwError, locale, ppString);
}

HRESULT STDMETHODCALLTYPE Server::SetClientName(LPCWSTR szName) {
    if (HRESULT hr = core_->Enter("IOPCCommon.SetClientName"); FAILED(hr)) {
        return hr;
    }
    if (!szName) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(ownMutex_);
    clientName_ = szName;
    return S_OK;
}

// ---- IConnectionPointContainer -----------------------------------------------------------------

HRESULT STDMETHODCALLTYPE Server::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    return EnumSingleConnectionPoint(this, this, IID_IOPCShutdown, ppEnum);
}

HRESULT STDMETHODCALLTYPE Server::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    return FindSingleConnectionPoint(this, this, IID_IOPCShutdown, riid, ppCP);
}

HRESULT Server::AdviseSink(REFIID iid, IUnknown* sink, DWORD* cookie) {
    if (HRESULT hr = core_->Enter("IConnectionPoint.Advise"); FAILED(hr)) {
        return hr;
    }
    ComPtr<IOPCShutdown> shutdown;
    if (FAILED(sink->QueryInterface(IID_IOPCShutdown, reinterpret_cast<void**>(shutdown.Put()))) ||
        !shutdown) {
        return CONNECT_E_CANNOTCONNECT;
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (core_->refuseCallbacks || core_->Stopped()) {
        return CONNECT_E_CANNOTCONNECT;
    }
    *cookie = core_->nextCookie++;
    core_->shutdownSinks.push_back({*cookie, std::move(shutdown)});
    return S_OK;
}

HRESULT Server::UnadviseSink(REFIID iid, DWORD cookie) {
    if (HRESULT hr = core_->Enter("IConnectionPoint.Unadvise"); FAILED(hr)) {
        return hr;
    }
    ComPtr<IOPCShutdown> released;
    std::lock_guard<std::mutex> lock(core_->mutex);
    auto& sinks = core_->shutdownSinks;
    auto it = std::find_if(sinks.begin(), sinks.end(), [&](const auto& s) { return s.cookie == cookie; });
    if (it == sinks.end()) {
        return CONNECT_E_NOCONNECTION;
    }
    released = std::move(it->sink);  // released after the lock: a client object may run code then
    sinks.erase(it);
    return S_OK;
}

// ---- IOPCBrowseServerAddressSpace --------------------------------------------------------------

HRESULT STDMETHODCALLTYPE Server::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
    if (HRESULT hr = core_->Enter("IOPCBrowseServerAddressSpace.QueryOrganization"); FAILED(hr)) {
        return hr;
    }
    if (!pNameSpaceType) {
        return E_INVALIDARG;
    }
    *pNameSpaceType = core_->space->Flat() ? OPC_NS_FLAT : OPC_NS_HIERARCHIAL;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Server::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                                       LPCWSTR szString) {
    if (HRESULT hr = core_->Enter("IOPCBrowseServerAddressSpace.ChangeBrowsePosition"); FAILED(hr)) {
        return hr;
    }
    const AddressSpace& space = *core_->space;
    if (space.Flat()) {
        return E_FAIL;  // a flat space has no positions
    }
    std::lock_guard<std::mutex> lock(ownMutex_);
    switch (dwBrowseDirection) {
        case OPC_BROWSE_UP:
            if (!position_->parent) {
                return E_FAIL;  // already at the root
            }
            position_ = position_->parent;
            return S_OK;
        case OPC_BROWSE_DOWN: {
            if (!szString) {
                return E_INVALIDARG;
            }
            const Branch* child = space.FindChild(*position_, szString);
            if (!child) {
                return E_INVALIDARG;
            }
            position_ = child;
            return S_OK;
        }
        case OPC_BROWSE_TO: {
            const Branch* target = space.FindBranch(szString ? WStringView(szString) : WStringView());
            if (!target) {
                // An item ID moves to the branch that holds the item.
                if (const ItemDef* item = szString ? space.FindItem(szString) : nullptr) {
                    WStringView id(item->itemId);
                    target = space.FindBranch(
                        id.substr(0, id.size() - std::min(id.size(), item->name.size() + 1)));
                }
            }
            if (!target) {
                return E_INVALIDARG;
            }
            position_ = target;
            return S_OK;
        }
        default:
            return E_INVALIDARG;
    }
}

HRESULT STDMETHODCALLTYPE Server::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                                   VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                                   IEnumString** ppIEnumString) {
    if (ppIEnumString) {
        *ppIEnumString = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCBrowseServerAddressSpace.BrowseOPCItemIDs"); FAILED(hr)) {
        return hr;
    }
    if (!ppIEnumString || dwBrowseFilterType < OPC_BRANCH || dwBrowseFilterType > OPC_FLAT) {
        return E_INVALIDARG;
    }
    if (dwAccessRightsFilter & ~DWORD(OPC_READABLE | OPC_WRITEABLE)) {
        return E_INVALIDARG;
    }
    WStringView filter = szFilterCriteria ? WStringView(szFilterCriteria) : WStringView();
    const AddressSpace& space = *core_->space;
    auto leafMatches = [&](const ItemDef& item, WStringView text) {
        if (vtDataTypeFilter != VT_EMPTY && item.type != vtDataTypeFilter) {
            return false;
        }
        if ((item.access & dwAccessRightsFilter) != dwAccessRightsFilter) {
            return false;
        }
        return MatchesPattern(text, filter);
    };
    std::vector<WString> names;
    const Branch* position;
    {
        std::lock_guard<std::mutex> lock(ownMutex_);
        position = position_;
    }
    if (space.Flat()) {
        // Everything is a leaf named by its full ID; there are no branches.
        if (dwBrowseFilterType != OPC_BRANCH) {
            for (const auto& item : space.Items()) {
                if (leafMatches(item, item.itemId)) {
                    names.push_back(item.itemId);
                }
            }
        }
    } else if (dwBrowseFilterType == OPC_BRANCH) {
        for (const auto& b : position->branches) {
            if (MatchesPattern(b->name, filter)) {
                names.push_back(b->name);
            }
        }
    } else if (dwBrowseFilterType == OPC_LEAF) {
        for (uint32_t i : position->items) {
            const ItemDef& item = space.Items()[i];
            if (leafMatches(item, item.name)) {
                names.push_back(item.name);
            }
        }
    } else {
        // Flat listing of a hierarchy: every item below the position, by full ID; the filter
        // applies to the leaf name.
        std::vector<const Branch*> stack{position};
        while (!stack.empty()) {
            const Branch* b = stack.back();
            stack.pop_back();
            for (uint32_t i : b->items) {
                const ItemDef& item = space.Items()[i];
                if (leafMatches(item, item.name)) {
                    names.push_back(item.itemId);
                }
            }
            for (auto it = b->branches.rbegin(); it != b->branches.rend(); ++it) {
                stack.push_back(it->get());
            }
        }
    }
    bool empty = names.empty();
    HRESULT hr = core_->fault == Fault::BrowseExtraNames || core_->fault == Fault::BrowseFewerNames
                     ? CreateFaultyStringEnumerator(std::move(names), core_->fault, ppIEnumString)
                     : CreateStringEnumerator(std::move(names), ppIEnumString);
    if (FAILED(hr)) {
        return hr;
    }
    return empty ? S_FALSE : S_OK;
}

HRESULT STDMETHODCALLTYPE Server::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
    if (szItemID) {
        *szItemID = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCBrowseServerAddressSpace.GetItemID"); FAILED(hr)) {
        return hr;
    }
    if (!szItemID) {
        return E_INVALIDARG;
    }
    WStringView name = szItemDataID ? WStringView(szItemDataID) : WStringView();
    const AddressSpace& space = *core_->space;
    WString id;
    if (space.Flat()) {
        if (!space.FindItem(name)) {
            return E_INVALIDARG;
        }
        id = WString(name);
    } else {
        const Branch* position;
        {
            std::lock_guard<std::mutex> lock(ownMutex_);
            position = position_;
        }
        if (name.empty()) {
            id = position->id;
        } else if (const ItemDef* item = space.FindLeaf(*position, name)) {
            id = item->itemId;
        } else if (const Branch* child = space.FindChild(*position, name)) {
            id = child->id;
        } else {
            return E_INVALIDARG;
        }
    }
    *szItemID = CtmString(id);
    return *szItemID ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE Server::BrowseAccessPaths(LPCWSTR szItemID, IEnumString** ppIEnumString) {
    if (ppIEnumString) {
        *ppIEnumString = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCBrowseServerAddressSpace.BrowseAccessPaths"); FAILED(hr)) {
        return hr;
    }
    if (!szItemID || !ppIEnumString) {
        return E_INVALIDARG;
    }
    if (HRESULT hr = AddressSpace::CheckItemIdSyntax(szItemID); FAILED(hr)) {
        return hr;
    }
    if (!core_->space->FindItem(szItemID)) {
        return OPC_E_UNKNOWNITEMID;
    }
    // Items of this server are reached without access paths.
    HRESULT hr = CreateStringEnumerator({}, ppIEnumString);
    return FAILED(hr) ? hr : S_FALSE;
}

// ---- IOPCItemProperties ------------------------------------------------------------------------

namespace {

struct PropertyInfo {
    DWORD id;
    const OLECHAR* description;
    VARTYPE type;
};

std::vector<PropertyInfo> PropertiesOf(const ItemDef& item) {
    std::vector<PropertyInfo> list = {
        {OPC_PROPERTY_DATATYPE, OPC_PROPERTY_DESC_DATATYPE, VT_I2},
        {OPC_PROPERTY_VALUE, OPC_PROPERTY_DESC_VALUE, item.type},
        {OPC_PROPERTY_QUALITY, OPC_PROPERTY_DESC_QUALITY, VT_I2},
        {OPC_PROPERTY_TIMESTAMP, OPC_PROPERTY_DESC_TIMESTAMP, VT_DATE},
        {OPC_PROPERTY_ACCESS_RIGHTS, OPC_PROPERTY_DESC_ACCESS_RIGHTS, VT_I4},
        {OPC_PROPERTY_SCAN_RATE, OPC_PROPERTY_DESC_SCAN_RATE, VT_R4},
    };
    if (item.euType == kEuAnalog) {
        list.push_back({OPC_PROPERTY_EU_TYPE, OPC_PROPERTY_DESC_EU_TYPE, VT_I4});
        list.push_back({OPC_PROPERTY_EU_INFO, OPC_PROPERTY_DESC_EU_INFO, VT_ARRAY | VT_R8});
        if (!item.units.empty()) {
            list.push_back({OPC_PROPERTY_EU_UNITS, OPC_PROPERTY_DESC_EU_UNITS, VT_BSTR});
        }
    } else if (item.euType == kEuEnumerated) {
        list.push_back({OPC_PROPERTY_EU_TYPE, OPC_PROPERTY_DESC_EU_TYPE, VT_I4});
        list.push_back({OPC_PROPERTY_EU_INFO, OPC_PROPERTY_DESC_EU_INFO, VT_ARRAY | VT_BSTR});
    }
    if (!item.description.empty()) {
        list.push_back({OPC_PROPERTY_DESCRIPTION, OPC_PROPERTY_DESC_DESCRIPTION, VT_BSTR});
    }
    if (item.euType == kEuAnalog) {
        list.push_back({OPC_PROPERTY_HIGH_EU, OPC_PROPERTY_DESC_HIGH_EU, VT_R8});
        list.push_back({OPC_PROPERTY_LOW_EU, OPC_PROPERTY_DESC_LOW_EU, VT_R8});
    }
    return list;
}

BSTR AllocBstr(const WString& s) {
    return SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}

}  // namespace

HRESULT Server::FindItemForProperties(LPCWSTR itemId, const ItemDef** item) {
    if (!itemId) {
        return E_INVALIDARG;
    }
    if (HRESULT hr = AddressSpace::CheckItemIdSyntax(itemId); FAILED(hr)) {
        return hr;
    }
    *item = core_->space->FindItem(itemId);
    return *item ? S_OK : OPC_E_UNKNOWNITEMID;
}

HRESULT STDMETHODCALLTYPE Server::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                           DWORD** ppPropertyIDs, LPWSTR** ppDescriptions,
                                                           VARTYPE** ppvtDataTypes) {
    if (pdwCount) {
        *pdwCount = 0;
    }
    if (ppPropertyIDs) {
        *ppPropertyIDs = nullptr;
    }
    if (ppDescriptions) {
        *ppDescriptions = nullptr;
    }
    if (ppvtDataTypes) {
        *ppvtDataTypes = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCItemProperties.QueryAvailableProperties"); FAILED(hr)) {
        return hr;
    }
    if (!pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes) {
        return E_INVALIDARG;
    }
    const ItemDef* item = nullptr;
    if (HRESULT hr = FindItemForProperties(szItemID, &item); FAILED(hr)) {
        return hr;
    }
    auto props = PropertiesOf(*item);
    auto* ids = CtmArray<DWORD>(props.size());
    auto* descriptions = CtmArray<LPWSTR>(props.size());
    auto* types = CtmArray<VARTYPE>(props.size());
    bool ok = ids && descriptions && types;
    for (size_t i = 0; ok && i < props.size(); ++i) {
        ids[i] = props[i].id;
        types[i] = props[i].type;
        descriptions[i] = CtmString(props[i].description);
        ok = descriptions[i] != nullptr;
    }
    if (!ok) {
        for (size_t i = 0; descriptions && i < props.size(); ++i) {
            CoTaskMemFree(descriptions[i]);
        }
        CoTaskMemFree(ids);
        CoTaskMemFree(descriptions);
        CoTaskMemFree(types);
        return E_OUTOFMEMORY;
    }
    *pdwCount = static_cast<DWORD>(props.size());
    *ppPropertyIDs = ids;
    *ppDescriptions = descriptions;
    *ppvtDataTypes = types;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Server::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                                    VARIANT** ppvData, HRESULT** ppErrors) {
    if (ppvData) {
        *ppvData = nullptr;
    }
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCItemProperties.GetItemProperties"); FAILED(hr)) {
        return hr;
    }
    if (dwCount == 0 || !pdwPropertyIDs || !ppvData || !ppErrors) {
        return E_INVALIDARG;
    }
    const ItemDef* item = nullptr;
    if (HRESULT hr = FindItemForProperties(szItemID, &item); FAILED(hr)) {
        return hr;
    }
    auto* values = CtmArray<VARIANT>(dwCount);
    auto* errors = CtmArray<HRESULT>(dwCount);
    if (!values || !errors) {
        CoTaskMemFree(values);
        CoTaskMemFree(errors);
        return E_OUTOFMEMORY;
    }
    auto props = PropertiesOf(*item);
    bool allOk = true;
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->NextSample();  // properties show the item as it is now, not as a group last saw it
    for (DWORD i = 0; i < dwCount; ++i) {
        VARIANT* v = &values[i];
        VariantInit(v);
        DWORD pid = pdwPropertyIDs[i];
        bool available =
            std::any_of(props.begin(), props.end(), [&](const PropertyInfo& p) { return p.id == pid; });
        HRESULT hr = S_OK;
        if (!available) {
            hr = OPC_E_INVALID_PID;
        } else {
            switch (pid) {
                case OPC_PROPERTY_DATATYPE:
                    v->vt = VT_I2;
                    v->iVal = static_cast<SHORT>(item->type);
                    break;
                case OPC_PROPERTY_VALUE:
                case OPC_PROPERTY_QUALITY:
                case OPC_PROPERTY_TIMESTAMP: {
                    VARIANT value;
                    VariantInit(&value);
                    WORD quality = 0;
                    FILETIME ts{};
                    hr = core_->ReadValue(item->index, true, VT_EMPTY, &value, &quality, &ts);
                    if (pid == OPC_PROPERTY_VALUE) {
                        *v = value;
                    } else {
                        VariantClear(&value);
                        hr = S_OK;
                        if (pid == OPC_PROPERTY_QUALITY) {
                            v->vt = VT_I2;
                            v->iVal = static_cast<SHORT>(quality);
                        } else {
                            v->vt = VT_DATE;
                            v->date = FileTimeToDate(ts);
                        }
                    }
                    break;
                }
                case OPC_PROPERTY_ACCESS_RIGHTS:
                    v->vt = VT_I4;
                    v->lVal = static_cast<LONG>(item->access);
                    break;
                case OPC_PROPERTY_SCAN_RATE:
                    v->vt = VT_R4;
                    v->fltVal = static_cast<FLOAT>(Group::ReviseUpdateRate(0));
                    break;
                case OPC_PROPERTY_EU_TYPE:
                    v->vt = VT_I4;
                    v->lVal = static_cast<LONG>(item->euType);
                    break;
                case OPC_PROPERTY_EU_INFO:
                    hr = EuInfoValue(*item, v);
                    break;
                case OPC_PROPERTY_EU_UNITS:
                    v->vt = VT_BSTR;
                    v->bstrVal = AllocBstr(item->units);
                    break;
                case OPC_PROPERTY_DESCRIPTION:
                    v->vt = VT_BSTR;
                    v->bstrVal = AllocBstr(item->description);
                    break;
                case OPC_PROPERTY_HIGH_EU:
                    v->vt = VT_R8;
                    v->dblVal = item->high;
                    break;
                case OPC_PROPERTY_LOW_EU:
                    v->vt = VT_R8;
                    v->dblVal = item->low;
                    break;
                default:
                    hr = OPC_E_INVALID_PID;
                    break;
            }
        }
        errors[i] = hr;
        allOk = allOk && hr == S_OK;
    }
    *ppvData = values;
    *ppErrors = errors;
    return allOk ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE Server::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                                LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) {
    if (ppszNewItemIDs) {
        *ppszNewItemIDs = nullptr;
    }
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    if (HRESULT hr = core_->Enter("IOPCItemProperties.LookupItemIDs"); FAILED(hr)) {
        return hr;
    }
    if (dwCount == 0 || !pdwPropertyIDs || !ppszNewItemIDs || !ppErrors) {
        return E_INVALIDARG;
    }
    const ItemDef* item = nullptr;
    if (HRESULT hr = FindItemForProperties(szItemID, &item); FAILED(hr)) {
        return hr;
    }
    auto* ids = CtmArray<LPWSTR>(dwCount);
    auto* errors = CtmArray<HRESULT>(dwCount);
    if (!ids || !errors) {
        CoTaskMemFree(ids);
        CoTaskMemFree(errors);
        return E_OUTOFMEMORY;
    }
    // No property of this server is an item of its own.
    for (DWORD i = 0; i < dwCount; ++i) {
        errors[i] = OPC_E_INVALID_PID;
    }
    *ppszNewItemIDs = ids;
    *ppErrors = errors;
    return S_FALSE;
}

}  // namespace nv::sim
