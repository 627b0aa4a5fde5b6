#include "opc/NvOPCServer.h"

#include "opc/NvOPCObject.h"

#include <cstring>
#include <exception>
#include <utility>

#include "foundation/NvConvert.h"
#include "foundation/NvExceptions.h"
#include "foundation/NvHostNames.h"
#include "foundation/NvScopeExit.h"
#include "foundation/NvStringList.h"
#include "foundation/NvSysUtils.h"
#include "platform/NvWide.h"

namespace nv {

namespace {

constexpr DWORD kStateNone = 0;
constexpr DWORD kStateRunning = OPC_STATUS_RUNNING;
constexpr unsigned kDefaultStatusInterval = 30000;
constexpr UINT kShutdownNotice = WM_USER;

std::mutex& LookupMutex() {
    static std::mutex mutex;
    return mutex;
}

TNvOPCServerLookup& Lookup() {
    static TNvOPCServerLookup lookup;
    return lookup;
}

std::mutex& FactoryMutex() {
    static std::mutex mutex;
    return mutex;
}

TNvOPCAddressSpaceFactory& Factory() {
    static TNvOPCAddressSpaceFactory factory;
    return factory;
}

std::mutex& TitleMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& Title() {
    static std::string title;
    return title;
}

bool IsNullGuid(const GUID& guid) {
    static const GUID null{};
    return std::memcmp(&guid, &null, sizeof(GUID)) == 0;
}

bool SameGuid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

// The base name of the program file, as a title of last resort.
std::string ProgramBaseName() {
    std::string name = ProgramFileName();
    std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

}  // namespace

TNvOPCServerLookup SetOPCServerLookup(TNvOPCServerLookup lookup) {
    std::lock_guard<std::mutex> lock(LookupMutex());
    return std::exchange(Lookup(), std::move(lookup));
}

TNvOPCAddressSpaceFactory SetOPCAddressSpaceFactory(TNvOPCAddressSpaceFactory factory) {
    std::lock_guard<std::mutex> lock(FactoryMutex());
    return std::exchange(Factory(), std::move(factory));
}

std::string ApplicationTitle() {
    {
        std::lock_guard<std::mutex> lock(TitleMutex());
        if (!Title().empty())
            return Title();
    }
    return ProgramBaseName();
}

void SetApplicationTitle(const std::string& title) {
    std::lock_guard<std::mutex> lock(TitleMutex());
    Title() = title;
}

// ---------------------------------------------------------------------------------------------

TNvOPCServer::TNvOPCServer(TComponent* owner) : TComponent(owner) {
    log_ = std::make_unique<TNvOPCLog>(this);
    connectSignal_ = std::make_unique<TNvSignal>(this);
    disconnectSignal_ = std::make_unique<TNvSignal>(this);
    statusTimer_ = std::make_unique<TNvTimer>();
    statusTimer_->SetEnabled(false);
    statusTimer_->SetInterval(kDefaultStatusInterval);
    statusTimer_->SetOnTimer([this](TObject*) { StatusTimerNotify(); });
    wakeWindow_ = std::make_unique<TNvNotifyWindow>([this](UINT message, WPARAM, LPARAM) {
        if (message == kShutdownNotice)
            StatusTimerNotify();
    });
    wakeTarget_ = wakeWindow_->Target();
}

TNvOPCServer::~TNvOPCServer() {
    try {
        Disconnect();
    } catch (...) {
        // Nothing can be reported from here; the connection is gone either way.
    }
    beingDestroyed_ = true;
    try {
        Clear();
    } catch (...) {
    }
    // The address space still asks its server whether it is connected while it goes.
    addressSpace_.reset();
    // Groups that outlive the server hear of its end while it is still a whole server.
    NotifyDestroying();
    wakeWindow_.reset();
    statusTimer_.reset();
    FreeVendorInfo();
}

HRESULT STDMETHODCALLTYPE TNvOPCServer::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IOPCShutdown)) {
        *ppv = static_cast<IOPCShutdown*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE TNvOPCServer::ShutdownRequest(LPCWSTR szReason) {
    {
        std::lock_guard<std::mutex> lock(shutdownMutex_);
        shutdownReason_ = szReason ? ToUtf8(szReason) : std::string();
    }
    shutdownPending_ = true;
    wakeTarget_->Post(kShutdownNotice, 0, 0);
    return S_OK;
}

// ---- class identifier ----------------------------------------------------------------------

void TNvOPCServer::InitClassID() {
    if (!IsNullGuid(classID_) || serverName_.empty())
        return;
    WideString name = ToWide(serverName_);
    CLSID clsid{};
    if (SUCCEEDED(CLSIDFromString(name.c_str(), &clsid)) && serverName_.front() == '{') {
        classID_ = clsid;
        return;
    }
    if (SUCCEEDED(CLSIDFromProgID(name.c_str(), &clsid))) {
        classID_ = clsid;
        return;
    }
    try {
        TNvOPCServerLookup lookup;
        {
            std::lock_guard<std::mutex> lock(LookupMutex());
            lookup = Lookup();
        }
        if (!lookup)
            throw ENvOPCException(Format("no server list is available to look up '%s'", serverName_));
        if (!lookup(host_, serverName_, category_, clsid))
            throw ENvOPCException(Format("Server '%s' not found from '%s'", serverName_, host_));
        classID_ = clsid;
    } catch (const std::exception& e) {
        throw ENvOPCException(
            Format("Cannot identify server '%s' at '%s': %s", serverName_, host_, e.what()));
    }
}

// ---- connecting ----------------------------------------------------------------------------

void TNvOPCServer::SetConnected(bool value) {
    if (value == Connected())
        return;
    if (value)
        Connect();
    else
        Disconnect();
    Changed();
}

IUnknown* TNvOPCServer::CreateServerObject() { return CreateOPCObject(classID_, host_); }

void TNvOPCServer::Connect() {
    if (Connected())
        return;
    if (IsNullGuid(classID_) && !serverName_.empty())
        InitClassID();
    if (IsNullGuid(classID_))
        throw ENvOPCException(
            Format("Cannot connect to server \\\\%s\\%s. No valid ClassID!", host_, serverName_));
    IUnknown* object = CreateServerObject();
    IOPCServer* server = nullptr;
    try {
        QueryInterfaceOrRaise(server, object, IID_IOPCServer);
    } catch (...) {
        object->Release();
        throw;
    }
    object->Release();
    try {
        log_->AddLine(Format("Connected to Server '%s' %s", serverName_, GuidToRegistryString(classID_)));
        ConnectIntf(server);
    } catch (...) {
        server->Release();
        throw;
    }
    server->Release();
}

void TNvOPCServer::ConnectIntf(IOPCServer* server) {
    if (Connected())
        Disconnect();
    if (server == nullptr)
        throw EIntfCastError("Cannot cast nil to IOPCServer.");
    server->AddRef();
    serverIntf_ = server;
    try {
        if (category_ != opcscDataAccess10) {
            IConnectionPointContainer* container = nullptr;
            if (SUCCEEDED(server->QueryInterface(IID_IConnectionPointContainer,
                                                 reinterpret_cast<void**>(&container))) &&
                container != nullptr) {
                container->Release();
                category_ = opcscDataAccess20;
            } else {
                category_ = opcscDataAccess10;
            }
        }
        // A DA 1.0a server has no IOPCCommon; a server that refuses the name still works.
        IOPCCommon* common = nullptr;
        if (SUCCEEDED(server->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(&common))) &&
            common != nullptr) {
            common->SetClientName(ToWide(ApplicationTitle()).c_str());
            common->Release();
        }
        if (category_ == opcscDataAccess20)
            RegisterShutdown();
        statusTimer_->SetEnabled(true);
        StatusTimerNotify();
    } catch (...) {
        try {
            Disconnect();
        } catch (...) {
        }
        throw;
    }
}

void TNvOPCServer::RegisterShutdown() {
    IConnectionPointContainer* container = nullptr;
    IConnectionPoint* point = nullptr;
    try {
        QueryInterfaceOrRaise(container, serverIntf_, IID_IConnectionPointContainer);
        HRESULT hr = container->FindConnectionPoint(IID_IOPCShutdown, &point);
        CheckResult(IID_IConnectionPointContainer, "FindConnectionPoint", hr);
        if (SUCCEEDED(hr) && point != nullptr) {
            DWORD cookie = 0;
            hr = point->Advise(static_cast<IOPCShutdown*>(this), &cookie);
            if (CheckResult(IID_IConnectionPoint, "Advise", hr))
                shutdownConnection_ = cookie;
        }
    } catch (...) {
        // Without the callback the connection still works; the server just cannot ask us to go.
        shutdownConnection_ = 0;
    }
    if (point != nullptr)
        point->Release();
    if (container != nullptr)
        container->Release();
}

void TNvOPCServer::UnregisterShutdown() {
    // After a shutdown request the server is going away; it is not asked for anything more.
    if (shutdownConnection_ != 0 && !shutdownPending_ && serverIntf_ != nullptr) {
        IConnectionPointContainer* container = nullptr;
        if (SUCCEEDED(serverIntf_->QueryInterface(IID_IConnectionPointContainer,
                                                  reinterpret_cast<void**>(&container))) &&
            container != nullptr) {
            IConnectionPoint* point = nullptr;
            if (SUCCEEDED(container->FindConnectionPoint(IID_IOPCShutdown, &point)) && point != nullptr) {
                point->Unadvise(shutdownConnection_);
                point->Release();
            }
            container->Release();
        }
    }
    shutdownConnection_ = 0;
    shutdownPending_ = false;
}

void TNvOPCServer::Disconnect() {
    if (!Connected())
        return;
    ScopeExit releaseServer([this] {
        IOPCServer* server = std::exchange(serverIntf_, nullptr);
        server->Release();
        UpdateServerStatus(nullptr);
    });
    ScopeExit unregister([this] {
        UnregisterShutdown();
        log_->AddLine(
            Format("Disconnected from Server '%s' %s", serverName_, GuidToRegistryString(classID_)));
    });
    statusTimer_->SetEnabled(false);
    // The address space goes back up to the server's root while the server is still there.
    if (addressSpace_)
        addressSpace_->Release();
}

// ---- status --------------------------------------------------------------------------------

unsigned TNvOPCServer::StatusInterval() const {
    return statusTimer_->Interval();
}

void TNvOPCServer::SetStatusInterval(unsigned value) {
    statusTimer_->SetInterval(value);
}

void TNvOPCServer::StatusTimerNotify() {
    if (!Connected())
        return;
    if (shutdownPending_) {
        DoShutdown();
        return;
    }
    StatusRefresh();
}

void TNvOPCServer::StatusRefresh() {
    if (!Connected())
        return;
    OPCSERVERSTATUS* status = nullptr;
    ScopeExit freeStatus([&status] {
        if (status != nullptr) {
            CoTaskMemFree(status->szVendorInfo);
            CoTaskMemFree(status);
        }
    });
    try {
        HRESULT hr = serverIntf_->GetStatus(&status);
        // A handled failure (OnError) leaves nothing to read: it counts as no status.
        if (CheckResult(IID_IOPCServer, "GetStatus", hr) && status != nullptr)
            UpdateServerStatus(status);
        else
            UpdateServerStatus(nullptr);
    } catch (...) {
        UpdateServerStatus(nullptr);
    }
}

void TNvOPCServer::FreeVendorInfo() {
    CoTaskMemFree(vendorInfo_);
    vendorInfo_ = nullptr;
    status_.szVendorInfo = nullptr;
}

void TNvOPCServer::UpdateServerStatus(const OPCSERVERSTATUS* status) {
    DWORD oldState = status_.dwServerState;
    if (status != nullptr) {
        FreeVendorInfo();
        status_ = *status;
        status_.szVendorInfo = nullptr;
        if (status->szVendorInfo != nullptr) {
            std::size_t bytes = (std::char_traits<WCHAR>::length(status->szVendorInfo) + 1) * sizeof(WCHAR);
            vendorInfo_ = static_cast<WCHAR*>(CoTaskMemAlloc(bytes));
            if (vendorInfo_ == nullptr)
                throw EOutOfMemory(
                    Format("CoTaskMemAlloc failed to allocate %d bytes.", static_cast<int>(bytes)));
            std::memcpy(vendorInfo_, status->szVendorInfo, bytes);
            status_.szVendorInfo = vendorInfo_;
        }
    } else {
        status_.dwServerState = static_cast<OPCSERVERSTATE>(kStateNone);
        GetSystemTimeAsFileTime(&status_.ftCurrentTime);
    }
    DWORD newState = status_.dwServerState;
    if (newState != oldState) {
        if (oldState == kStateRunning)
            DoDisconnect();
        else if (newState == kStateRunning)
            DoConnect();
        log_->AddLine(Format("Status changed from '%s' to '%s'", ServerStateToStr(oldState),
                             ServerStateToStr(newState)));
        CallEvent(OnStateChange, this, oldState, newState);
    }
    CallEvent(OnStatusChange, this);
}

void TNvOPCServer::DoConnect() {
    connectSignal_->Raise();
    CallEvent(OnConnect, this);
}

void TNvOPCServer::DoDisconnect() {
    try {
        disconnectSignal_->Raise();
    } catch (...) {
        // A group that cannot let go cleanly must not keep the others connected.
    }
    CallEvent(OnDisconnect, this);
}

void TNvOPCServer::DoShutdown() {
    std::string reason;
    {
        std::lock_guard<std::mutex> lock(shutdownMutex_);
        reason = shutdownReason_;
    }
    Disconnect();
    if (OnShutDown)
        CallEvent(OnShutDown, this, reason);
    else
        ShowMessage(Format("Shutdown from %s.  Reason=%s", serverName_, reason));
}

// ---- error path ----------------------------------------------------------------------------

bool TNvOPCServer::CheckResult(REFIID iid, const std::string& method, HRESULT code) {
    log_->AddResult(iid, method, code);
    if (FAILED(code))
        DoError(this, iid, code, method);
    return SUCCEEDED(code);
}

void TNvOPCServer::DoError(TObject* sender, REFIID iid, HRESULT code, const std::string& method) {
    std::string reason;
    if (serverIntf_ != nullptr) {
        LPWSTR text = nullptr;
        if (SUCCEEDED(serverIntf_->GetErrorString(code, lcid_, &text)) && text != nullptr)
            reason = ToUtf8(text);
        CoTaskMemFree(text);
    }
    ENvOPCError error(code, reason, method, iid);
    if (OnError) {
        CallEvent(OnError, sender, error);
        return;
    }
    throw error;
}

// ---- properties ----------------------------------------------------------------------------

void TNvOPCServer::SetHost(const std::string& value) {
    std::string host = value.empty() ? std::string("localhost") : value;
    if (host == host_)
        return;
    if (Connected())
        throw ENvOPCException("Cannot change Host while connected.");
    host_ = host;
    Clear();
    InitClassID();
    Changed();
}

void TNvOPCServer::SetServerName(const std::string& value) {
    if (value == serverName_)
        return;
    if (Connected())
        throw ENvOPCException("Cannot change ProgID while connected.");
    CLSID previous = classID_;
    serverName_ = value;
    classID_ = CLSID{};
    InitClassID();
    // The cached address space belongs to the previous class: it must not be taken for the new
    // server's on the next connection.
    if (!SameGuid(previous, classID_))
        ResetAddressSpace();
    if (ownsGroups_ && !SameGuid(previous, classID_))
        Clear();
    Changed();
}

void TNvOPCServer::SetClassID(const CLSID& value) {
    if (SameGuid(value, classID_))
        return;
    if (Connected())
        throw ENvOPCException("Cannot change ProgID while connected.");
    classID_ = value;
    if (!IsNullGuid(value)) {
        std::string name;
        LPOLESTR progID = nullptr;
        if (SUCCEEDED(ProgIDFromCLSID(value, &progID)) && progID != nullptr)
            name = ToUtf8(progID);
        CoTaskMemFree(progID);
        if (name.empty())
            name = GuidToRegistryString(value);
        SetServerName(name);
    }
    addressSpace_.reset();
    Changed();
}

void TNvOPCServer::SetCategory(TNvOPCServerCategory value) {
    if (Connected())
        throw ENvOPCException("Category cannot be changed when the Server is connected!");
    category_ = value;
}

void TNvOPCServer::SetLog(TNvOPCLog* source) {
    log_->Assign(source);
}

void TNvOPCServer::Changed() {
    CallEvent(OnChange, this);
}

// ---- groups --------------------------------------------------------------------------------

INvOPCServerGroup* TNvOPCServer::Groups(int index) const {
    if (index < 0 || index >= GroupCount())
        throw EListError(Format("List index out of bounds (%d)", index));
    return groups_[static_cast<std::size_t>(index)].second;
}

int TNvOPCServer::IndexOfGroup(const INvOPCServerGroup* group) const {
    for (std::size_t i = 0; i < groups_.size(); ++i) {
        if (groups_[i].second == group)
            return static_cast<int>(i);
    }
    return -1;
}

int TNvOPCServer::ConnectGroup(INvOPCServerGroup* group) {
    if (group == nullptr)
        return -1;
    int index = IndexOfGroup(group);
    if (index >= 0)
        return index;
    std::string name = group->GetGroupName();
    if (MakeUniqueGroupName(name))
        group->SetUniqueGroupName(name);
    group->AttachedToServer(this, NextClientHandle());
    groups_.emplace_back(name, group);
    Changed();
    return GroupCount() - 1;
}

void TNvOPCServer::DisconnectGroup(INvOPCServerGroup* group) {
    if (beingDestroyed_ || Destroying())
        return;
    int index = IndexOfGroup(group);
    if (index < 0)
        return;
    groups_.erase(groups_.begin() + index);
    Changed();
}

void TNvOPCServer::GroupChange(INvOPCServerGroup* group) {
    int index = IndexOfGroup(group);
    if (index >= 0)
        groups_[static_cast<std::size_t>(index)].first = group->GetGroupName();
}

bool TNvOPCServer::MakeUniqueGroupName(std::string& name) const {
    if (name.empty())
        return false;
    auto taken = [this](const std::string& candidate) {
        for (const auto& entry : groups_) {
            if (SameText(entry.first, candidate))
                return true;
        }
        return false;
    };
    std::string candidate = name;
    for (int n = 1; taken(candidate); ++n)
        candidate = name + std::to_string(n);
    if (candidate == name)
        return false;
    name = candidate;
    return true;
}

OPCHANDLE TNvOPCServer::NextClientHandle() {
    return ++clientHandleCounter_;
}

void TNvOPCServer::Clear() {
    if (Connected())
        throw ENvOPCException("Cannot clear when Connected");
    if (ownsGroups_) {
        // A group's destructor may take itself off the list; whatever is left is taken off here.
        while (!groups_.empty()) {
            INvOPCServerGroup* group = groups_.back().second;
            groups_.pop_back();
            delete group;
        }
    }
    groups_.clear();
    clientHandleCounter_ = 0;
    ResetAddressSpace();
    Changed();
}

// ---- address space -------------------------------------------------------------------------

TNvOPCAddressSpace* TNvOPCServer::GetAddressSpace() {
    if (!addressSpace_) {
        TNvOPCAddressSpaceFactory factory;
        {
            std::lock_guard<std::mutex> lock(FactoryMutex());
            factory = Factory();
        }
        if (!factory)
            throw ENvOPCException("No address space implementation is installed");
        addressSpace_ = factory(this);
        addressSpace_->SetOnBrowse([this](TObject*, int level, const std::string& path,
                                          const std::string& branchName,
                                          TNvOPCAddressSpaceBrowseAction& action) {
            DoBrowseAddressSpace(level, path, branchName, action);
        });
    }
    if (Connected() && !addressSpace_->Updated() && autoUpdateAddressSpace_)
        addressSpace_->Update();
    return addressSpace_->AsAddressSpace();
}

void TNvOPCServer::ResetAddressSpace() {
    if (addressSpace_)
        addressSpace_->Reset();
}

void TNvOPCServer::DoBrowseAddressSpace(int level, const std::string& path, const std::string& branchName,
                                        TNvOPCAddressSpaceBrowseAction& action) {
    if (OnBrowseAddressSpace)
        CallEvent(OnBrowseAddressSpace, this, level, path, branchName, action);
}

// ---- copying -------------------------------------------------------------------------------

void TNvOPCServer::Assign(TPersistent* source) {
    if (auto* other = dynamic_cast<TNvOPCServer*>(source)) {
        if (Connected())
            throw ENvOPCException("Cannot Assign to a Server that is connected.");
        host_ = other->host_;
        serverName_ = other->serverName_;
        classID_ = other->classID_;
        category_ = other->category_;
        Clear();
        return;
    }
    TComponent::Assign(source);
}

void TNvOPCServer::AssignTo(TPersistent* dest) {
    if (auto* list = dynamic_cast<TNvStringList*>(dest)) {
        list->BeginUpdate();
        try {
            list->Clear();
            for (const auto& entry : groups_) {
                if (entry.second == nullptr)
                    list->Add("<No Group>");
                else
                    list->AddObject(entry.second->GetGroupName(), dynamic_cast<TObject*>(entry.second));
            }
        } catch (...) {
            list->EndUpdate();
            throw;
        }
        list->EndUpdate();
        return;
    }
    TComponent::AssignTo(dest);
}

}  // namespace nv
