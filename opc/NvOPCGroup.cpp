#include "opc/NvOPCGroup.h"

#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

#include "foundation/NvConvert.h"
#include "foundation/NvExceptions.h"
#include "foundation/NvScopeExit.h"
#include "opc/NvOPCLog.h"
#include "platform/NvWide.h"

namespace nv {

namespace {

constexpr OPCHANDLE kNoHandle = TNvOPCCustomItem::NotConnectedHandle;
constexpr WORD kQualityCommFailure = OPC_QUALITY_COMM_FAILURE;
// Problems met on a server thread wait here for the window thread to log them; beyond this many
// only their number is kept, so a flood of bad callbacks cannot grow memory.
constexpr std::size_t kMaxPendingProblems = 64;

enum StreamFormat { kFormatData, kFormatDataTime, kFormatWriteComplete };

CLIPFORMAT RegisteredFormat(StreamFormat which) {
    static const CLIPFORMAT formats[] = {
        static_cast<CLIPFORMAT>(RegisterClipboardFormatW(OPCSTMFORMATDATA)),
        static_cast<CLIPFORMAT>(RegisterClipboardFormatW(OPCSTMFORMATDATATIME)),
        static_cast<CLIPFORMAT>(RegisterClipboardFormatW(OPCSTMFORMATWRITECOMPLETE)),
    };
    return formats[which];
}

template <class T>
void Release(T*& intf) {
    if (intf != nullptr) {
        intf->Release();
        intf = nullptr;
    }
}

// Value types whose data lies inside the VARIANT itself. Anything else in a stream (a pointer, an
// interface, a reference) points into the writer's memory and cannot be taken over.
bool IsInlineScalar(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_I1:
        case VT_I2:
        case VT_I4:
        case VT_I8:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BOOL:
        case VT_ERROR:
        case VT_DECIMAL:
            return true;
        default:
            return false;
    }
}

// Reads fixed-size records out of a locked stream without ever passing its end.
class StreamReader {
public:
    StreamReader(const BYTE* data, SIZE_T size) : data_(data), size_(size) {}
    SIZE_T Size() const { return size_; }
    bool Fits(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    template <class T>
    T Read(std::uint64_t offset, const char* what) const {
        if (!Fits(offset, sizeof(T)))
            throw ENvOPCException(Format("DA 1.0a stream of %d bytes: %s at offset %d lies outside it",
                                         static_cast<std::int64_t>(size_), what,
                                         static_cast<std::int64_t>(offset)));
        T value;
        std::memcpy(&value, data_ + offset, sizeof(T));
        return value;
    }
    // The zero-terminated text that starts at offset.
    WideString ReadText(std::uint64_t offset) const {
        WideString text;
        for (std::uint64_t p = offset;; p += sizeof(WCHAR)) {
            WCHAR c = Read<WCHAR>(p, "a string's characters");
            if (c == 0)
                return text;
            text.push_back(c);
        }
    }

private:
    const BYTE* data_;
    SIZE_T size_;
};

}  // namespace

OPCDATASOURCE ToOPCDataSource(TNvOPCDataSource source) {
    return source == opcdsDevice ? OPC_DS_DEVICE : OPC_DS_CACHE;
}

// ---- the callback objects ------------------------------------------------------------------

// The server's view of the group: IOPCDataCallback for DA 2.0, IAdviseSink for DA 1.0a. Every
// entry counts itself in while it runs, so that the group can wait for callbacks in progress
// before it lets go of what they touch.
//
// The object is reference-counted and outlives its group while a server still holds it: a
// server that calls back after Unadvise, or from a call it prepared before, then reaches a sink
// that has been detached and answers without touching the group.
class TNvOPCGroup::CallbackSink final : public IOPCDataCallback, public IAdviseSink {
public:
    explicit CallbackSink(TNvOPCGroup* group) : group_(group) {}

    // The group goes: later calls find no group; calls already inside finish first.
    void Detach() {
        group_.store(nullptr);
        while (entered_.load() > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IOPCDataCallback)) {
            *ppv = static_cast<IOPCDataCallback*>(this);
        } else if (IsEqualGUID(riid, IID_IAdviseSink)) {
            *ppv = static_cast<IAdviseSink*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT, HRESULT hrMastererror,
                                           DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues,
                                           WORD* pwQualities, FILETIME* pftTimeStamps, HRESULT* pErrors) override {
        Entry entry(this);
        InFlight in(entry.Group());
        if (in.Admitted())
            entry.Group()->DataChangeCallback(dwTransid, hGroup, hrMastererror, dwCount, phClientItems, pvValues,
                                              pwQualities, pftTimeStamps, pErrors);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT, HRESULT hrMastererror,
                                             DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues,
                                             WORD* pwQualities, FILETIME* pftTimeStamps,
                                             HRESULT* pErrors) override {
        Entry entry(this);
        InFlight in(entry.Group());
        if (in.Admitted())
            entry.Group()->ReadCompleteCallback(dwTransid, hGroup, hrMastererror, dwCount, phClientItems, pvValues,
                                                pwQualities, pftTimeStamps, pErrors);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE, HRESULT hrMastererr, DWORD dwCount,
                                              OPCHANDLE* pClienthandles, HRESULT* pErrors) override {
        Entry entry(this);
        InFlight in(entry.Group());
        if (in.Admitted())
            entry.Group()->WriteCompleteCallback(dwTransid, hrMastererr, dwCount, pClienthandles, pErrors);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

    void STDMETHODCALLTYPE OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) override {
        Entry entry(this);
        InFlight in(entry.Group());
        if (in.Admitted())
            entry.Group()->StreamCallback(pFormatetc, pStgmed);
    }
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override {}

private:
    ~CallbackSink() = default;

    // A call inside the sink; the group it found stays until the call has left.
    class Entry {
    public:
        explicit Entry(CallbackSink* sink) : sink_(sink) {
            sink_->entered_.fetch_add(1);
            group_ = sink_->group_.load();
        }
        ~Entry() { sink_->entered_.fetch_sub(1); }
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;
        TNvOPCGroup* Group() const { return group_; }

    private:
        CallbackSink* sink_;
        TNvOPCGroup* group_;
    };

    class InFlight {
    public:
        explicit InFlight(TNvOPCGroup* group) : group_(group) {
            if (group_ == nullptr)
                return;  // detached: the group has gone
            group_->callbacksInFlight_.fetch_add(1, std::memory_order_acq_rel);
            admitted_ = !group_->Disconnecting();
            if (!admitted_)
                group_->droppedCallbacks_.fetch_add(1, std::memory_order_relaxed);
        }
        ~InFlight() {
            if (group_ != nullptr)
                group_->callbacksInFlight_.fetch_sub(1, std::memory_order_acq_rel);
        }
        InFlight(const InFlight&) = delete;
        InFlight& operator=(const InFlight&) = delete;
        bool Admitted() const { return admitted_; }

    private:
        TNvOPCGroup* group_;
        bool admitted_ = false;
    };

    std::atomic<ULONG> refs_{1};  // the group's own
    std::atomic<TNvOPCGroup*> group_;
    std::atomic<int> entered_{0};
};

// ---- construction --------------------------------------------------------------------------

TNvOPCGroup::TNvOPCGroup(TComponent* owner) : TComponent(owner) {
    for (int k = 0; k < NvOPCTransactionKindCount; ++k)
        transactionLists_[k] = std::make_unique<TNvOPCTransactionList>(this, static_cast<TNvOPCTransactionKind>(k));
    connectSlot_ = std::make_unique<TNvSlot>();
    connectSlot_->OnSignal = [this](TComponent*) { Connect(); };
    disconnectSlot_ = std::make_unique<TNvSlot>();
    disconnectSlot_->OnSignal = [this](TComponent*) { Disconnect(); };
    sink_ = new CallbackSink(this);
    clock_ = [] { return Now(); };
}

TNvOPCGroup::~TNvOPCGroup() {
    try {
        Disconnect();
    } catch (...) {
        // The group goes away regardless; the server drops it with its last reference.
    }
    try {
        Clear();
    } catch (...) {
    }
    if (server_ != nullptr) {
        server_->ConnectSignal()->Disconnect(connectSlot_.get());
        server_->DisconnectSignal()->Disconnect(disconnectSlot_.get());
        server_->DisconnectGroup(this);
        RemoveFreeNotification(server_);
        server_ = nullptr;
    }
    sink_->Detach();
    WaitForCallbacks();
    DestroyNotifyWindow();
    refreshTimer_.reset();
    for (auto& list : transactionLists_)
        list.reset();
    sink_->Release();
}

IOPCDataCallback* TNvOPCGroup::DataCallback() {
    return sink_;
}

IAdviseSink* TNvOPCGroup::AdviseSink() {
    return sink_;
}

// ---- settings ------------------------------------------------------------------------------

void TNvOPCGroup::SetActive(bool value) {
    if (value == active_)
        return;
    active_ = value;
    if (!value)
        MarkItemsCommFailure();
    StateChanged(false);
}

void TNvOPCGroup::SetAsync(bool value) {
    if (value == async_)
        return;
    if (value)
        RegisterDataChange();
    else
        UnregisterDataChange();
    async_ = value;
    UpdateRefreshTimer();
    ConfigChange();
}

void TNvOPCGroup::SetAsyncRefreshInterval(unsigned value) {
    if (value == asyncRefreshInterval_)
        return;
    asyncRefreshInterval_ = value;
    UpdateRefreshTimer();
}

void TNvOPCGroup::SetDataSource(TNvOPCDataSource value) {
    if (value == dataSource_)
        return;
    dataSource_ = value;
    ConfigChange();
}

void TNvOPCGroup::SetGroupName(const std::string& value) {
    if (value == groupName_)
        return;
    std::string name = value;
    if (server_ != nullptr)
        server_->MakeUniqueGroupName(name);
    if (Connected()) {
        if (IOPCGroupStateMgt* stateMgt = QueryStateMgt()) {
            HRESULT hr = stateMgt->SetName(ToWide(name).c_str());
            stateMgt->Release();
            CheckResult(IID_IOPCGroupStateMgt, "SetName", hr);
        } else {
            // Without state management the only way to a new name is a new group.
            groupName_ = name;
            RecreateGroup();
        }
    }
    groupName_ = name;
    ConfigChange();
}

void TNvOPCGroup::SetLCID(DWORD value) {
    if (value == lcid_)
        return;
    lcid_ = value;
    StateChanged(false);
}

void TNvOPCGroup::SetLocalTimeBias(bool value) {
    if (value == localTimeBias_)
        return;
    localTimeBias_ = value;
    // SetState cannot withdraw a time bias once sent: switching to the server's own bias needs a
    // group created without one.
    StateChanged(value);
}

void TNvOPCGroup::SetPercentDeadband(float value) {
    if (value == percentDeadband_)
        return;
    percentDeadband_ = value;
    StateChanged(false);
}

void TNvOPCGroup::SetTimeBias(LONG value) {
    if (value == timeBias_)
        return;
    timeBias_ = value;
    StateChanged(false);
}

void TNvOPCGroup::SetUpdateRate(DWORD value) {
    if (value == updateRate_)
        return;
    updateRate_ = value;
    StateChanged(false);
}

void TNvOPCGroup::SetAutoConnectItems(bool value) {
    if (value == autoConnectItems_)
        return;
    autoConnectItems_ = value;
    if (value && Connected())
        ConnectItems();
}

void TNvOPCGroup::SetClock(std::function<TDateTime()> clock) {
    clock_ = clock ? std::move(clock) : std::function<TDateTime()>([] { return Now(); });
}

// ---- the server ----------------------------------------------------------------------------

void TNvOPCGroup::SetServer(TNvOPCServer* value) {
    if (value == server_)
        return;
    Disconnect();
    if (server_ != nullptr) {
        server_->ConnectSignal()->Disconnect(connectSlot_.get());
        server_->DisconnectSignal()->Disconnect(disconnectSlot_.get());
        server_->DisconnectGroup(this);
        RemoveFreeNotification(server_);
    }
    server_ = value;
    if (value != nullptr) {
        if (lcid_ == 2048)
            lcid_ = value->LCID();
        FreeNotification(value);
        value->ConnectGroup(this);
        value->ConnectSignal()->Connect(connectSlot_.get());
        value->DisconnectSignal()->Connect(disconnectSlot_.get());
        if (value->Connected())
            Connect();
    }
    ConfigChange();
}

void TNvOPCGroup::AttachedToServer(TNvOPCServer* server, OPCHANDLE clientHandle) {
    server_ = server;
    clientHandle_.store(clientHandle, std::memory_order_relaxed);
}

void TNvOPCGroup::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == opRemove && component != nullptr && component == server_)
        SetServer(nullptr);
}

void TNvOPCGroup::ConfigChange() {
    if (server_ != nullptr)
        server_->GroupChange(this);
    CallEvent(OnConfigChange, this);
}

// ---- connecting ----------------------------------------------------------------------------

void TNvOPCGroup::Connect() {
    if (Connected() || server_ == nullptr)
        return;
    // The server's own connection raises its connect signal, which may connect this group.
    server_->SetConnected(true);
    if (Connected())
        return;
    AddGroupOnServer();
    if (!Connected())
        return;
    try {
        if (autoConnectItems_)
            ConnectItems();
    } catch (...) {
        // The items the server took still deliver: their callbacks are registered before the
        // refusal of the others is reported.
        if (async_) {
            try {
                RegisterDataChange();
            } catch (...) {
            }
        }
        throw;
    }
    if (async_)
        RegisterDataChange();
}

void TNvOPCGroup::AddGroupOnServer() {
    IOPCServer* server = server_->ServerIntf();
    if (server == nullptr)
        return;
    category_.store(server_->Category(), std::memory_order_relaxed);
    disconnecting_.store(false, std::memory_order_release);
    try {
        WideString name = ToWide(groupName_);
        LONG timeBias = timeBias_;
        FLOAT deadband = percentDeadband_;
        OPCHANDLE serverHandle = kNoHandle;
        DWORD revisedRate = 0;
        IUnknown* object = nullptr;
        HRESULT hr = server->AddGroup(name.c_str(), BoolToOPCBool(active_), updateRate_, ClientHandle(),
                                      localTimeBias_ ? nullptr : &timeBias, &deadband, lcid_, &serverHandle,
                                      &revisedRate, IID_IOPCItemMgt, &object);
        bool succeeded = false;
        try {
            succeeded = CheckResult(IID_IOPCServer, "AddGroup", hr);
        } catch (...) {
            Release(object);
            throw;
        }
        if (!succeeded || object == nullptr) {
            Release(object);
            serverHandle_ = kNoHandle;
            // A success without the group object leaves the group unconnected: that is reported
            // like a failed AddGroup, so that it is retried and not taken for a connection.
            if (succeeded)
                DoError(IID_IOPCServer, "AddGroup", E_POINTER);
            return;
        }
        itemMgt_ = static_cast<IOPCItemMgt*>(object);
        serverHandle_ = serverHandle;
        if (async_)
            updateRate_ = revisedRate;
        UpdateRefreshTimer();
    } catch (...) {
        serverHandle_ = kNoHandle;
        throw;
    }
}

void TNvOPCGroup::ConnectItems() {
    if (!Connected() || items_.empty())
        return;
    OPCITEMDEF* definitions = nullptr;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    DWORD n = 0;
    ScopeExit freeArrays([&] {
        TNvOPCAlloc::FreeMem(definitions);
        TNvOPCAlloc::FreeItemResultList(results, n);
        TNvOPCAlloc::FreeResultList(errors);
    });
    TNvOPCAlloc::AllocMem(definitions, items_.size() * sizeof(OPCITEMDEF));
    for (const auto& item : items_) {
        if (item->ItemDef().szItemID != nullptr && !item->GetConnected())
            definitions[n++] = item->ItemDef();
    }
    if (n == 0)
        return;
    HRESULT hr = itemMgt_->AddItems(n, definitions, &results, &errors);
    CheckResult(IID_IOPCItemMgt, "AddItems", hr);
    TNvStringList failures;
    if (results == nullptr || errors == nullptr) {
        // A success without its arrays has added none of the items for the client to use.
        if (SUCCEEDED(hr) && !acceptInvalidItems_) {
            for (DWORD i = 0; i < n; ++i)
                failures.Add(Format("%s: %s ($%x)", Items(IndexOfClientHandle(definitions[i].hClient))->GetItemID(),
                                    GetOPCErrorName(E_POINTER), E_POINTER));
            throw ENvOPCException("AddItems Failed for items: \r" + failures.Text());
        }
        return;
    }
    for (DWORD i = 0; i < n; ++i) {
        TNvOPCItem* item = Items(IndexOfClientHandle(definitions[i].hClient));
        item->SetItemResult(results[i], errors[i]);
        if (!acceptInvalidItems_ && FAILED(errors[i]))
            failures.Add(Format("%s: %s ($%x)", item->GetItemID(), GetOPCErrorName(errors[i]), errors[i]));
    }
    if (failures.Count() > 0)
        throw ENvOPCException("AddItems Failed for items: \r" + failures.Text());
}

void TNvOPCGroup::Disconnect() {
    if (!Connected())
        return;
    disconnecting_.store(true, std::memory_order_release);
    ScopeExit cleanUp([this] {
        serverHandle_ = kNoHandle;
        for (const auto& item : items_)
            item->SetServerHandle(kNoHandle);
        Release(itemMgt_);
        // Callbacks that were already inside finish before anything they touch goes.
        WaitForCallbacks();
        DestroyNotifyWindow();
        asyncConnection_ = 0;
        writeCompleteConnection_ = 0;
        disconnecting_.store(false, std::memory_order_release);
        UpdateRefreshTimer();
        LogCallbackProblems();
    });
    MarkItemsCommFailure();
    CallEvent(OnDisconnect, this);
    if (server_ != nullptr && !server_->ShutdownPending()) {
        UnregisterDataChange();
        if (server_->ServerIntf() != nullptr)
            RemoveGroupOnServer();
    }
}

void TNvOPCGroup::RemoveGroupOnServer() {
    if (removeItemsOnDisconnect_) {
        std::vector<OPCHANDLE> handles;
        handles.reserve(items_.size());
        for (const auto& item : items_) {
            if (item->GetConnected())
                handles.push_back(item->ServerHandle());
        }
        if (!handles.empty()) {
            HRESULT* errors = nullptr;
            itemMgt_->RemoveItems(static_cast<DWORD>(handles.size()), handles.data(), &errors);
            TNvOPCAlloc::FreeResultList(errors);
        }
    }
    server_->ServerIntf()->RemoveGroup(serverHandle_, FALSE);
}

void TNvOPCGroup::RecreateGroup() {
    Disconnect();
    Connect();
}

void TNvOPCGroup::MarkItemsCommFailure() {
    for (const auto& item : items_)
        item->SetQuality(kQualityCommFailure);
}

IOPCGroupStateMgt* TNvOPCGroup::QueryStateMgt() const {
    IOPCGroupStateMgt* stateMgt = nullptr;
    if (itemMgt_ == nullptr ||
        FAILED(itemMgt_->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void**>(&stateMgt))))
        return nullptr;
    return stateMgt;
}

void TNvOPCGroup::StateChanged(bool reconnect) {
    ScopeExit always([this] {
        UpdateRefreshTimer();
        ConfigChange();
    });
    if (!Connected())
        return;
    if (reconnect)
        RecreateGroup();
    else
        PushState();
}

void TNvOPCGroup::PushState() {
    IOPCGroupStateMgt* stateMgt = QueryStateMgt();
    if (stateMgt == nullptr) {
        RecreateGroup();
        return;
    }
    ScopeExit release([&stateMgt] { Release(stateMgt); });
    DWORD requested = updateRate_;
    DWORD revised = 0;
    BOOL active = BoolToOPCBool(active_);
    LONG timeBias = timeBias_;
    FLOAT deadband = percentDeadband_;
    DWORD lcid = lcid_;
    OPCHANDLE clientHandle = ClientHandle();
    HRESULT hr = stateMgt->SetState(&requested, &revised, &active, localTimeBias_ ? nullptr : &timeBias, &deadband,
                                    &lcid, &clientHandle);
    CheckResult(IID_IOPCGroupStateMgt, "SetState", hr);
    if (async_ && revised != 0)
        updateRate_ = revised;
    // Read back only for the record: the call goes to the log, a failure is reported, nothing
    // more.
    try {
        DWORD rate = 0;
        BOOL isActive = FALSE;
        LPWSTR name = nullptr;
        LONG bias = 0;
        FLOAT band = 0;
        DWORD locale = 0;
        OPCHANDLE client = 0;
        OPCHANDLE server = 0;
        hr = stateMgt->GetState(&rate, &isActive, &name, &bias, &band, &locale, &client, &server);
        CoTaskMemFree(name);
        CheckResult(IID_IOPCGroupStateMgt, "GetState", hr);
    } catch (...) {
    }
}

// ---- items ---------------------------------------------------------------------------------

TNvOPCItem* TNvOPCGroup::Items(int index) const {
    if (index < 0 || index >= ItemCount())
        throw EListError(Format("List index out of bounds (%d)", index));
    return items_[static_cast<std::size_t>(index)].get();
}

TNvOPCItem* TNvOPCGroup::AddItem(const std::string& itemID) {
    auto item = std::make_unique<TNvOPCItem>();
    item->SetItemID(itemID);
    item->SetGroup(this);
    item->SetClientHandle(NextClientHandle());
    if (autoConnectItems_)
        item->Connect();
    TNvOPCItem* added = item.get();
    items_.push_back(std::move(item));
    if (handleIndexValid_)
        handleIndex_.emplace(added->GetClientHandle(), ItemCount() - 1);
    ItemCountChanged();
    UpdateRefreshTimer();
    return added;
}

void TNvOPCGroup::AddItems(const std::vector<std::string>& itemIDs) {
    const bool remembered = autoConnectItems_;
    autoConnectItems_ = false;
    try {
        for (const std::string& id : itemIDs)
            AddItem(id);
    } catch (...) {
        try {
            SetAutoConnectItems(remembered);
        } catch (...) {
            // The first failure is the one to report.
        }
        throw;
    }
    SetAutoConnectItems(remembered);
}

void TNvOPCGroup::AddItems(const TNvStringList& itemIDs) {
    std::vector<std::string> ids;
    ids.reserve(static_cast<std::size_t>(itemIDs.Count()));
    for (int i = 0; i < itemIDs.Count(); ++i)
        ids.push_back(itemIDs.Strings(i));
    AddItems(ids);
}

void TNvOPCGroup::RemoveItem(int index) {
    TNvOPCItem* item = Items(index);
    item->Disconnect();
    items_.erase(items_.begin() + index);
    handleIndexValid_ = false;
    ItemCountChanged();
    UpdateRefreshTimer();
}

void TNvOPCGroup::Clear() {
    // Item by item from the front, as the server is told, but without shifting the rest each
    // time: clearing a large group stays linear.
    std::size_t removed = 0;
    ScopeExit drop([&] {
        items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(removed));
        handleIndexValid_ = false;
        ItemCountChanged();
        UpdateRefreshTimer();
    });
    for (; removed < items_.size(); ++removed)
        items_[removed]->Disconnect();
}

int TNvOPCGroup::IndexOfItem(const TNvOPCItem* item) const {
    if (item == nullptr)
        return -1;
    if (item->GetClientHandle() != 0)
        return IndexOfClientHandle(item->GetClientHandle());
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].get() == item)
            return static_cast<int>(i);
    }
    return -1;
}

void TNvOPCGroup::RebuildHandleIndex() const {
    handleIndex_.clear();
    handleIndex_.reserve(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i)
        handleIndex_.emplace(items_[i]->GetClientHandle(), static_cast<int>(i));
    handleIndexValid_ = true;
}

int TNvOPCGroup::IndexOfClientHandle(OPCHANDLE handle) const {
    if (!handleIndexValid_)
        RebuildHandleIndex();
    auto it = handleIndex_.find(handle);
    return it == handleIndex_.end() ? -1 : it->second;
}

void TNvOPCGroup::AssignTo(TPersistent* dest) {
    if (auto* list = dynamic_cast<TNvStringList*>(dest)) {
        list->BeginUpdate();
        ScopeExit endUpdate([list] { list->EndUpdate(); });
        list->Clear();
        for (const auto& item : items_) {
            if (item == nullptr)
                list->Add("<No item>");
            else
                list->AddObject(item->GetItemID(), item.get());
        }
        return;
    }
    TComponent::AssignTo(dest);
}

// ---- errors --------------------------------------------------------------------------------

bool TNvOPCGroup::CheckResult(REFIID iid, const std::string& method, HRESULT code) {
    if (server_ != nullptr)
        server_->Log()->AddResult(iid, method, code);
    if (FAILED(code))
        DoError(iid, method, code);
    return SUCCEEDED(code);
}

void TNvOPCGroup::DoError(REFIID iid, const std::string& method, HRESULT code) {
    if (OnError) {
        ENvOPCError error(code, std::string(), method, iid);
        CallEvent(OnError, this, error);
        return;
    }
    if (server_ != nullptr)
        server_->DoError(this, iid, code, method);
}

// ---- transactions --------------------------------------------------------------------------

TNvOPCTransactionList* TNvOPCGroup::TransactionList(TNvOPCTransactionKind kind) const {
    if (kind >= NvOPCTransactionKindCount)
        throw EListError(Format("List index out of bounds (%d)", static_cast<int>(kind)));
    return transactionLists_[kind].get();
}

TNvOPCTransaction* TNvOPCGroup::StartTransaction(TNvOPCTransactionKind kind) {
    TNvOPCTransaction* transaction = TransactionList(kind)->StartTransaction();
    if ((kind == tkRead || kind == tkWrite) && ServerCategory() == opcscDataAccess10)
        transaction->SetID(PendingTransactionID);
    return transaction;
}

TNvOPCReadTransaction* TNvOPCGroup::SyncReadTransaction() {
    if (syncReadTransaction_ == nullptr) {
        syncReadTransaction_ = static_cast<TNvOPCReadTransaction*>(StartTransaction(tkRead));
        syncReadTransaction_->Finish();
    }
    return syncReadTransaction_;
}

void TNvOPCGroup::FinishTransaction(TNvOPCTransactionKind kind, LONG id) {
    TNvOPCTransaction* transaction = TransactionList(kind)->ItemByID(id);
    // A notice for a transaction that has finished already (a completion that came while its
    // commit was still finishing it) must not report it a second time.
    if (transaction != nullptr && !transaction->Active())
        transaction = nullptr;
    // Taken from the merging first, so that no later change is laid over it.
    const int merged = kind == tkDataChange ? TakePendingChange(transaction) : 0;
    if (transaction != nullptr) {
        // From here on the window thread reads it; a late completion finds it closed.
        std::lock_guard<std::recursive_mutex> fill(transaction->FillLock());
        transaction->Close();
    }
    ScopeExit finish([transaction] {
        if (transaction != nullptr)
            transaction->Finish();
    });
    if (merged > 0 && server_ != nullptr)
        server_->Log()->AddLine(Format("Group '%s': %d later data change(s) merged into transaction %d while the "
                                       "window was busy",
                                       groupName_, merged, transaction != nullptr ? transaction->ID() : 0));
    if (kind == tkDataChange || (transaction != nullptr && transaction == syncReadTransaction_))
        UpdateChangeRate(1 + merged);
    LogCallbackProblems();
    if (server_ != nullptr) {
        // A server's data change names items by client handle only; the log shows each entry's
        // server handle too, so it is taken from the item.
        if (kind == tkDataChange && transaction != nullptr && server_->Log()->Active())
            FillServerHandles(transaction);
        server_->Log()->AddTransaction(transaction);
    }
    if (transaction == nullptr || Disconnecting())
        return;
    if (kind != tkWrite)
        UpdateItems(transaction);
    switch (kind) {
        case tkDataChange:
            CallEvent(OnDataChange, this, transaction);
            break;
        case tkRead:
            CallEvent(OnReadCompleted, this, transaction);
            break;
        case tkWrite:
            CallEvent(OnWriteCompleted, this, transaction);
            break;
    }
}

void TNvOPCGroup::TransactionError(TNvOPCTransactionKind kind, LONG id) {
    FailTransaction(kind, id, nullptr);
}

void TNvOPCGroup::FailTransaction(TNvOPCTransactionKind kind, LONG id, TNvOPCTransaction* known) {
    // A deactivation the server refuses is reported, but only after the failed transaction has
    // been logged and released.
    std::exception_ptr deactivationError;
    if (kind == tkDataChange) {
        try {
            SetActive(false);
        } catch (...) {
            deactivationError = std::current_exception();
        }
    }
    TNvOPCTransaction* transaction = known != nullptr ? known : TransactionList(kind)->ItemByID(id);
    // A notice for a transaction that has finished already names nothing any more.
    if (known == nullptr && transaction != nullptr && !transaction->Active())
        transaction = nullptr;
    if (kind == tkDataChange)
        TakePendingChange(transaction);
    if (transaction != nullptr) {
        std::lock_guard<std::recursive_mutex> fill(transaction->FillLock());
        transaction->Close();
    }
    if (OnTransactionError && !Disconnecting()) {
        try {
            CallEvent(OnTransactionError, this, transaction);
        } catch (...) {
            // A handler's own failure must not stop the clean-up below.
        }
    }
    LogCallbackProblems();
    if (server_ != nullptr)
        server_->Log()->AddTransaction(transaction);
    if (transaction != nullptr)
        transaction->Rollback();
    if (deactivationError)
        std::rethrow_exception(deactivationError);
}

void TNvOPCGroup::UpdateItems(TNvOPCTransaction* transaction) {
    auto* read = dynamic_cast<TNvOPCReadTransaction*>(transaction);
    if (read == nullptr)
        return;
    int unknown = 0;
    const int n = read->Count();
    for (int i = 0; i < n; ++i) {
        try {
            int index = IndexOfClientHandle(read->ClientHandles(i));
            if (index < 0) {
                ++unknown;
                continue;
            }
            TNvOPCItem* item = items_[static_cast<std::size_t>(index)].get();
            item->SetValue(read->Values(i));
            item->SetQuality(read->Qualities(i));
            item->SetTimestamp(FileTimeToDateTime(read->Timestamps(i)));
            item->SetError(read->GetErrors(i));
        } catch (...) {
            ++unknown;
        }
    }
    if (unknown > 0 && server_ != nullptr)
        server_->Log()->AddLine(Format("Group '%s': %d value(s) of %s transaction %d for unknown items were dropped",
                                       groupName_, unknown, TransactionKindName(transaction->Kind()),
                                       transaction->ID()));
}

int TNvOPCGroup::TakePendingChange(const TNvOPCTransaction* transaction) {
    std::lock_guard<std::mutex> merge(mergeMutex_);
    if (transaction == nullptr || transaction != pendingChange_)
        return 0;
    pendingChange_ = nullptr;
    return std::exchange(pendingMerged_, 0);
}

void TNvOPCGroup::DropPendingChange() {
    std::lock_guard<std::mutex> merge(mergeMutex_);
    if (pendingChange_ != nullptr)
        pendingChange_->Rollback();
    pendingChange_ = nullptr;
    pendingMerged_ = 0;
}

void TNvOPCGroup::FillServerHandles(TNvOPCTransaction* transaction) {
    for (int i = 0; i < transaction->Count(); ++i) {
        const int index = IndexOfClientHandle(transaction->ClientHandles(i));
        if (index >= 0)
            transaction->SetServerHandles(i, items_[static_cast<std::size_t>(index)]->ServerHandle());
    }
}

void TNvOPCGroup::UpdateChangeRate(int changes) {
    changeCount_ += changes;
    const TDateTime now = clock_();
    if (changeRateStart_ == 0) {
        changeCount_ = 0;
        changeRateStart_ = now;
        return;
    }
    const double elapsed = (now - changeRateStart_) * 86400.0;
    if (elapsed > 10) {
        changeRate_ = static_cast<int>(elapsed / changeCount_ * 1000 + 0.5);
        changeCount_ = 0;
        changeRateStart_ = now;
        CallEvent(OnChangeRate, this);
    }
}

// ---- data flow: refresh and write ----------------------------------------------------------

TNvOPCTransaction* TNvOPCGroup::Refresh() {
    if (!Connected())
        throw ENvOPCException("TNvOPCGroup.Refresh: Not connected!");
    if (async_) {
        AsyncRefresh();
        return nullptr;
    }
    const TNvOPCDataSource remembered = dataSource_;
    SetDataSource(opcdsDevice);
    ScopeExit restore([this, remembered] { SetDataSource(remembered); });
    SyncRefresh(true);
    return syncReadTransaction_;
}

TNvOPCTransaction* TNvOPCGroup::AsyncRefresh() {
    TNvOPCTransaction* transaction = StartTransaction(tkDataChange);
    try {
        bool succeeded;
        {
            std::lock_guard<std::recursive_mutex> fill(transaction->FillLock());
            if (ServerCategory() == opcscDataAccess10) {
                IOPCAsyncIO* io = nullptr;
                QueryInterfaceOrRaise(io, itemMgt_, IID_IOPCAsyncIO);
                // The server names the transaction; an answer that comes before the call returns
                // finds it by the stand-by ID.
                transaction->SetID(PendingTransactionID);
                DWORD transactionID = 0;
                HRESULT hr = io->Refresh(asyncConnection_, ToOPCDataSource(dataSource_), &transactionID);
                Release(io);
                transaction->SetID(static_cast<LONG>(transactionID));
                transaction->SetCancelID(transactionID);
                succeeded = CheckResult(IID_IOPCAsyncIO, "Refresh", hr);
            } else {
                IOPCAsyncIO2* io = nullptr;
                QueryInterfaceOrRaise(io, itemMgt_, IID_IOPCAsyncIO2);
                DWORD cancelID = 0;
                HRESULT hr = io->Refresh2(ToOPCDataSource(dataSource_), static_cast<DWORD>(transaction->ID()),
                                          &cancelID);
                Release(io);
                transaction->SetCancelID(cancelID);
                succeeded = CheckResult(IID_IOPCAsyncIO2, "Refresh2", hr);
            }
        }
        // A refused refresh has no answer to wait for.
        if (!succeeded)
            transaction->Rollback();
    } catch (...) {
        transaction->Rollback();
        throw;
    }
    return transaction;
}

void TNvOPCGroup::SyncRefresh(bool all) {
    if (items_.empty())
        return;
    TNvOPCReadTransaction* transaction = SyncReadTransaction();
    if (transaction->Active())
        return;
    try {
        transaction->Start();
        for (const auto& item : items_) {
            if (item->GetActive() || (all && item->GetConnected()))
                transaction->Add(item.get());
        }
        transaction->Commit(false);
    } catch (...) {
        try {
            SetActive(false);
        } catch (...) {
            // The read must be released all the same, or every later tick would skip.
        }
        // Failed by itself rather than by its ID: a DA 1.0a read keeps the stand-by ID, which
        // names no transaction once the commit has finished it.
        FailTransaction(transaction->Kind(), transaction->ID(), transaction);
    }
}

void TNvOPCGroup::WriteItem(TNvOPCItem* item, const VARIANT& value, bool convertType, bool useAsync) {
    if (item == nullptr)
        return;
    VARIANT written;
    VariantInit(&written);
    ScopeExit clearValue([&written] { VariantClear(&written); });
    if (convertType && (value.vt & VT_ARRAY) == 0 && item->GetDataType() != VT_EMPTY) {
        if (value.vt == VT_BOOL) {
            written.vt = VT_I4;
            written.lVal = value.boolVal != VARIANT_FALSE ? 1 : 0;
        } else {
            written = ChangeVariantType(value, item->GetDataType());
        }
    } else {
        VariantCopy(&written, &value);
    }
    if (useAsync && !async_)
        RegisterDataChange();
    auto* transaction = static_cast<TNvOPCWriteTransaction*>(StartTransaction(tkWrite));
    try {
        transaction->Add(item, written);
        transaction->Commit(useAsync);
    } catch (...) {
        transaction->Rollback();
        throw;
    }
    const std::string description =
        Format("Write(%s, %s {%s})", item->GetItemID(), VariantToStr(written), VarTypeToStr(written.vt));
    const IID& iid = !useAsync                                  ? IID_IOPCSyncIO
                     : ServerCategory() == opcscDataAccess10 ? IID_IOPCAsyncIO
                                                              : IID_IOPCAsyncIO2;
    HRESULT firstError;
    {
        // An asynchronous completion may be filling the entries right now.
        std::lock_guard<std::recursive_mutex> fill(transaction->FillLock());
        firstError = transaction->Count() > 0 ? transaction->GetErrors(0) : S_OK;
    }
    const std::string failure = Format("Write failed: %s.%s", GetInterfaceName(iid), description);
    bool succeeded;
    try {
        succeeded = CheckResult(iid, description, firstError);
    } catch (ENvOPCError& error) {
        error.SetMessage(failure);
        throw;
    }
    if (!succeeded) {
        ENvOPCError error(firstError, std::string(), description, iid);
        error.SetMessage(failure);
        throw error;
    }
}

// ---- data flow: callback registration ------------------------------------------------------

CLIPFORMAT TNvOPCGroup::ClipboardFormat(int which) const {
    return RegisteredFormat(static_cast<StreamFormat>(which));
}

void TNvOPCGroup::CreateNotifyWindow() {
    if (notifyWindow_ != nullptr)
        return;
    notifyWindow_ = std::make_unique<TNvNotifyWindow>(
        [this](UINT message, WPARAM wParam, LPARAM lParam) { HandleMessage(message, wParam, lParam); });
    std::lock_guard<std::mutex> lock(notifyMutex_);
    notifyTarget_ = notifyWindow_->Target();
}

void TNvOPCGroup::DestroyNotifyWindow() {
    {
        std::lock_guard<std::mutex> lock(notifyMutex_);
        notifyTarget_.reset();
    }
    notifyWindow_.reset();
    // Its notice went with the window.
    DropPendingChange();
}

bool TNvOPCGroup::HasNotifyWindow() const {
    return notifyWindow_ != nullptr;
}

bool TNvOPCGroup::PostNotice(UINT message, TNvOPCTransactionKind kind, LONG id) {
    std::shared_ptr<TNvNotifyHandle> target;
    {
        std::lock_guard<std::mutex> lock(notifyMutex_);
        target = notifyTarget_;
    }
    return target != nullptr && target->Post(message, static_cast<WPARAM>(kind), static_cast<LPARAM>(id));
}

bool TNvOPCGroup::AcceptingCallbacks() const {
    std::lock_guard<std::mutex> lock(notifyMutex_);
    return notifyTarget_ != nullptr;
}

void TNvOPCGroup::RegisterDataChange() {
    if (!Connected() || asyncConnection_ != 0)
        return;
    try {
        CreateNotifyWindow();
        if (ServerCategory() == opcscDataAccess10) {
            IDataObject* data = nullptr;
            QueryInterfaceOrRaise(data, itemMgt_, IID_IDataObject);
            ScopeExit release([&data] { Release(data); });
            FORMATETC format{ClipboardFormat(kFormatDataTime), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
            DWORD connection = 0;
            HRESULT hr = data->DAdvise(&format, ADVF_PRIMEFIRST, AdviseSink(), &connection);
            if (CheckResult(IID_IDataObject, "DAdvise", hr))
                asyncConnection_ = connection;
            if (asyncConnection_ != 0) {
                // Write completions come only to a sink advised for their own format. A server
                // that refuses it still serves data; its writes then name the data connection.
                format.cfFormat = ClipboardFormat(kFormatWriteComplete);
                DWORD writeConnection = 0;
                hr = data->DAdvise(&format, 0, AdviseSink(), &writeConnection);
                if (server_ != nullptr)
                    server_->Log()->AddResult(IID_IDataObject, "DAdvise(OPCSTMFORMATWRITECOMPLETE)", hr);
                if (SUCCEEDED(hr))
                    writeCompleteConnection_ = writeConnection;
            }
        } else {
            IConnectionPointContainer* container = nullptr;
            QueryInterfaceOrRaise(container, itemMgt_, IID_IConnectionPointContainer);
            ScopeExit releaseContainer([&container] { Release(container); });
            IConnectionPoint* point = nullptr;
            HRESULT hr = container->FindConnectionPoint(IID_IOPCDataCallback, &point);
            ScopeExit releasePoint([&point] { Release(point); });
            CheckResult(IID_IConnectionPointContainer, "FindConnectionPoint", hr);
            if (point != nullptr) {
                DWORD connection = 0;
                hr = point->Advise(static_cast<IOPCDataCallback*>(sink_), &connection);
                if (CheckResult(IID_IConnectionPoint, "Advise", hr))
                    asyncConnection_ = connection;
            }
        }
    } catch (...) {
        asyncConnection_ = 0;
        writeCompleteConnection_ = 0;
        DestroyNotifyWindow();
        throw;
    }
}

void TNvOPCGroup::UnregisterWriteCompleteAdvise() {
    if (writeCompleteConnection_ == 0 || itemMgt_ == nullptr)
        return;
    IDataObject* data = nullptr;
    if (SUCCEEDED(itemMgt_->QueryInterface(IID_IDataObject, reinterpret_cast<void**>(&data))) && data != nullptr) {
        HRESULT hr = data->DUnadvise(writeCompleteConnection_);
        data->Release();
        if (server_ != nullptr)
            server_->Log()->AddResult(IID_IDataObject, "DUnAdvise(OPCSTMFORMATWRITECOMPLETE)", hr);
    }
    writeCompleteConnection_ = 0;
}

void TNvOPCGroup::UnregisterDataChange() {
    if (!Connected() || asyncConnection_ == 0)
        return;
    ScopeExit always([this] {
        asyncConnection_ = 0;
        writeCompleteConnection_ = 0;
        DestroyNotifyWindow();
    });
    if (ServerCategory() == opcscDataAccess10) {
        UnregisterWriteCompleteAdvise();
        IDataObject* data = nullptr;
        QueryInterfaceOrRaise(data, itemMgt_, IID_IDataObject);
        HRESULT hr = data->DUnadvise(asyncConnection_);
        data->Release();
        CheckResult(IID_IDataObject, "DUnAdvise", hr);
    } else {
        IConnectionPointContainer* container = nullptr;
        if (FAILED(itemMgt_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))) ||
            container == nullptr)
            return;
        IConnectionPoint* point = nullptr;
        HRESULT found = container->FindConnectionPoint(IID_IOPCDataCallback, &point);
        container->Release();
        if (FAILED(found) || point == nullptr)
            return;
        HRESULT hr = point->Unadvise(asyncConnection_);
        point->Release();
        CheckResult(IID_IConnectionPoint, "UnAdvise", hr);
    }
}

// ---- the refresh timer ---------------------------------------------------------------------

void TNvOPCGroup::UpdateRefreshTimer() {
    if (!Connected() || (async_ && asyncRefreshInterval_ == 0)) {
        refreshTimer_.reset();
        return;
    }
    if (server_ == nullptr || items_.empty())
        return;
    if (refreshTimer_ == nullptr) {
        refreshTimer_ = std::make_unique<TNvTimer>();
        refreshTimer_->SetEnabled(false);
        refreshTimer_->SetOnTimer([this](TObject*) { RefreshTimerEvent(); });
    }
    const unsigned interval = async_ ? asyncRefreshInterval_ : updateRate_;
    if (refreshTimer_->Interval() != interval)
        refreshTimer_->SetInterval(interval);
    const bool enabled = active_ && (async_ || syncTimerEnabled_);
    if (refreshTimer_->Enabled() != enabled)
        refreshTimer_->SetEnabled(enabled);
}

void TNvOPCGroup::RefreshTimerEvent() {
    if (async_)
        AsyncRefresh();
    else if (syncTimerEnabled_)
        SyncRefresh(false);
}

// ---- data flow: the window thread's side of the callbacks ----------------------------------

LRESULT TNvOPCGroup::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if ((message != NvTransactionDoneNotice && message != NvTransactionErrorNotice) ||
        wParam >= static_cast<WPARAM>(NvOPCTransactionKindCount))
        return -1;
    const auto kind = static_cast<TNvOPCTransactionKind>(wParam);
    const auto id = static_cast<LONG>(lParam);
    if (message == NvTransactionDoneNotice)
        FinishTransaction(kind, id);
    else
        TransactionError(kind, id);
    return 0;
}

void TNvOPCGroup::WaitForCallbacks() const {
    while (callbacksInFlight_.load(std::memory_order_acquire) > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

void TNvOPCGroup::RecordCallbackProblem(const std::string& text) {
    std::lock_guard<std::mutex> lock(notifyMutex_);
    if (pendingProblems_.size() < kMaxPendingProblems)
        pendingProblems_.push_back(text);
    else
        ++problemsNotKept_;
}

void TNvOPCGroup::LogCallbackProblems() {
    std::vector<std::string> problems;
    int notKept;
    {
        std::lock_guard<std::mutex> lock(notifyMutex_);
        problems.swap(pendingProblems_);
        notKept = std::exchange(problemsNotKept_, 0);
    }
    const int dropped = droppedCallbacks_.exchange(0, std::memory_order_relaxed);
    if (server_ == nullptr)
        return;
    TNvOPCLog* log = server_->Log();
    for (const std::string& problem : problems)
        log->AddLine(Format("Group '%s': %s", groupName_, problem));
    if (notKept > 0)
        log->AddLine(Format("Group '%s': %d more callback problem(s) not recorded", groupName_, notKept));
    if (dropped > 0)
        log->AddLine(Format("Group '%s': %d callback(s) arrived while the group was not taking callbacks and were "
                            "dropped",
                            groupName_, dropped));
}

// ---- data flow: callbacks, on the server's threads -----------------------------------------

void TNvOPCGroup::DataChangeCallback(DWORD transID, OPCHANDLE hGroup, HRESULT masterError, DWORD count,
                                     const OPCHANDLE* clientHandles, const VARIANT* values, const WORD* qualities,
                                     const FILETIME* timeStamps, const HRESULT* errors) {
    if (count == 0)
        return;
    if (hGroup != ClientHandle()) {
        RecordCallbackProblem(Format("data change for group handle %d, not this group's %d", hGroup, ClientHandle()));
        return;
    }
    if (!AcceptingCallbacks()) {
        droppedCallbacks_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    TNvOPCTransaction* transaction = nullptr;
    try {
        if (transID != 0) {
            transaction = TransactionList(tkDataChange)->ItemByID(static_cast<LONG>(transID));
            if (transaction != nullptr && !transaction->Active())
                transaction = nullptr;
            if (transaction == nullptr)
                throw ENvOPCException(Format("data change for unknown transaction %d", transID));
        }
        if (clientHandles == nullptr || values == nullptr || qualities == nullptr || timeStamps == nullptr ||
            errors == nullptr)
            throw ENvOPCException(Format("data change of %d items without its arrays", count));
        if (transID == 0) {
            std::lock_guard<std::mutex> merge(mergeMutex_);
            if (pendingChange_ != nullptr) {
                auto* change = static_cast<TNvOPCDataChangeTransaction*>(pendingChange_);
                std::lock_guard<std::recursive_mutex> fill(change->FillLock());
                if (FAILED(masterError))
                    change->SetResultCode(masterError);
                const int noRoom = change->MergeDataChange(static_cast<int>(count), clientHandles, errors,
                                                           timeStamps, qualities, values, MaxMergedEntries());
                ++pendingMerged_;
                if (noRoom > 0)
                    RecordCallbackProblem(Format("%d value(s) of a merged data change found no room", noRoom));
                return;
            }
            transaction = StartTransaction(tkDataChange);
            {
                std::lock_guard<std::recursive_mutex> fill(transaction->FillLock());
                auto* change = static_cast<TNvOPCDataChangeTransaction*>(transaction);
                change->SetResultCode(masterError);
                change->LoadDataChange(static_cast<int>(count), clientHandles, errors, timeStamps, qualities,
                                       values);
            }
            pendingChange_ = transaction;
            pendingMerged_ = 0;
            if (!PostNotice(NvTransactionDoneNotice, tkDataChange, transaction->ID())) {
                // Nobody will take it: it must not collect every later change.
                pendingChange_ = nullptr;
                transaction->Rollback();
            }
            return;
        }
        {
            std::lock_guard<std::recursive_mutex> fill(transaction->FillLock());
            if (!transaction->OpenForCompletion())
                throw ENvOPCException(Format("data change for finished transaction %d", transID));
            auto* change = static_cast<TNvOPCDataChangeTransaction*>(transaction);
            change->SetResultCode(masterError);
            change->LoadDataChange(static_cast<int>(count), clientHandles, errors, timeStamps, qualities, values);
        }
        PostNotice(NvTransactionDoneNotice, tkDataChange, transaction->ID());
    } catch (const std::exception& e) {
        RecordCallbackProblem(e.what());
        PostNotice(NvTransactionErrorNotice, tkDataChange,
                   transaction != nullptr ? transaction->ID() : static_cast<LONG>(transID));
    } catch (...) {
        PostNotice(NvTransactionErrorNotice, tkDataChange,
                   transaction != nullptr ? transaction->ID() : static_cast<LONG>(transID));
    }
}

void TNvOPCGroup::ReadCompleteCallback(DWORD transID, OPCHANDLE hGroup, HRESULT masterError, DWORD count,
                                       const OPCHANDLE* clientHandles, const VARIANT* values,
                                       const WORD* qualities, const FILETIME* timeStamps, const HRESULT* errors) {
    if (hGroup != ClientHandle()) {
        RecordCallbackProblem(
            Format("read completion for group handle %d, not this group's %d", hGroup, ClientHandle()));
        return;
    }
    if (!AcceptingCallbacks()) {
        droppedCallbacks_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    try {
        TNvOPCTransaction* transaction = TransactionList(tkRead)->ItemByID(static_cast<LONG>(transID));
        if (transaction == nullptr || !transaction->Active())
            throw ENvOPCException(Format("read completion for unknown transaction %d", transID));
        if (count > 0 && (clientHandles == nullptr || values == nullptr || qualities == nullptr ||
                          timeStamps == nullptr || errors == nullptr))
            throw ENvOPCException(Format("read completion of %d items without its arrays", count));
        {
            std::lock_guard<std::recursive_mutex> fill(transaction->FillLock());
            if (!transaction->OpenForCompletion())
                throw ENvOPCException(Format("read completion for finished transaction %d", transID));
            auto* read = static_cast<TNvOPCReadTransaction*>(transaction);
            read->SetResultCode(masterError);
            for (DWORD i = 0; i < count; ++i)
                read->AckItem(clientHandles[i], values[i], errors[i], timeStamps[i], qualities[i]);
        }
        PostNotice(NvTransactionDoneNotice, tkRead, static_cast<LONG>(transID));
    } catch (const std::exception& e) {
        RecordCallbackProblem(e.what());
        PostNotice(NvTransactionErrorNotice, tkRead, static_cast<LONG>(transID));
    } catch (...) {
        PostNotice(NvTransactionErrorNotice, tkRead, static_cast<LONG>(transID));
    }
}

void TNvOPCGroup::WriteCompleteCallback(DWORD transID, HRESULT masterError, DWORD count,
                                        const OPCHANDLE* clientHandles, const HRESULT* errors) {
    if (!AcceptingCallbacks()) {
        droppedCallbacks_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    try {
        TNvOPCTransaction* transaction = TransactionList(tkWrite)->ItemByID(static_cast<LONG>(transID));
        if (transaction == nullptr || !transaction->Active())
            throw ENvOPCException(Format("write completion for unknown transaction %d", transID));
        if (count > 0 && (clientHandles == nullptr || errors == nullptr))
            throw ENvOPCException(Format("write completion of %d items without its arrays", count));
        {
            std::lock_guard<std::recursive_mutex> fill(transaction->FillLock());
            if (!transaction->OpenForCompletion())
                throw ENvOPCException(Format("write completion for finished transaction %d", transID));
            transaction->SetResultCode(masterError);
            for (DWORD i = 0; i < count; ++i)
                transaction->AckItem(clientHandles[i], errors[i]);
        }
        PostNotice(NvTransactionDoneNotice, tkWrite, static_cast<LONG>(transID));
    } catch (const std::exception& e) {
        RecordCallbackProblem(e.what());
        PostNotice(NvTransactionErrorNotice, tkWrite, static_cast<LONG>(transID));
    } catch (...) {
        PostNotice(NvTransactionErrorNotice, tkWrite, static_cast<LONG>(transID));
    }
}

void TNvOPCGroup::StreamCallback(const FORMATETC* format, const STGMEDIUM* medium) {
    if (!AcceptingCallbacks()) {
        droppedCallbacks_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    TNvOPCTransaction* transaction = nullptr;
    try {
        HGLOBAL memory = medium != nullptr && medium->tymed == TYMED_HGLOBAL ? medium->hGlobal : nullptr;
        const BYTE* stream = memory != nullptr ? static_cast<const BYTE*>(GlobalLock(memory)) : nullptr;
        if (stream == nullptr)
            throw ENvOPCException("Could not get valid memory handle");
        ScopeExit unlock([memory] { GlobalUnlock(memory); });
        const SIZE_T size = GlobalSize(memory);
        const CLIPFORMAT cf = format != nullptr ? format->cfFormat : 0;
        bool merged = false;
        if (cf == ClipboardFormat(kFormatData) || cf == ClipboardFormat(kFormatDataTime))
            ReadDA1DataStream(stream, size, cf == ClipboardFormat(kFormatDataTime), transaction, true, merged);
        else if (cf == ClipboardFormat(kFormatWriteComplete))
            ReadDA1WriteCompleteStream(stream, size, transaction);
        if (merged)
            return;
        if (transaction != nullptr) {
            if (!PostNotice(NvTransactionDoneNotice, transaction->Kind(), transaction->ID())) {
                // Nobody will finish it: it must neither stay open nor collect later changes.
                TakePendingChange(transaction);
                transaction->Rollback();
            }
        } else
            PostNotice(NvTransactionErrorNotice, tkRead, 0);
    } catch (const std::exception& e) {
        RecordCallbackProblem(e.what());
        PostNotice(NvTransactionErrorNotice, transaction != nullptr ? transaction->Kind() : tkRead,
                   transaction != nullptr ? transaction->ID() : 0);
    } catch (...) {
        PostNotice(NvTransactionErrorNotice, transaction != nullptr ? transaction->Kind() : tkRead,
                   transaction != nullptr ? transaction->ID() : 0);
    }
}

TNvOPCTransaction* TNvOPCGroup::HandleDA1DataChange(const BYTE* stream, SIZE_T size, bool withTime) {
    TNvOPCTransaction* transaction = nullptr;
    bool merged = false;
    ReadDA1DataStream(stream, size, withTime, transaction, false, merged);
    return transaction;
}

TNvOPCTransaction* TNvOPCGroup::HandleDA1WriteComplete(const BYTE* stream, SIZE_T size) {
    TNvOPCTransaction* transaction = nullptr;
    ReadDA1WriteCompleteStream(stream, size, transaction);
    return transaction;
}

void TNvOPCGroup::ReadDA1DataStream(const BYTE* stream, SIZE_T size, bool withTime,
                                    TNvOPCTransaction*& transaction, bool mergeable, bool& merged) {
    const StreamReader reader(stream, size);
    const auto header = reader.Read<OPCGROUPHEADER>(0, "the group header");
    if (FAILED(header.hrStatus) || header.dwItemCount == 0)
        return;
    const std::uint64_t itemHeaderSize = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
    // Every item header must lie inside the block before anything is reserved for them.
    if (!reader.Fits(sizeof(OPCGROUPHEADER), header.dwItemCount * itemHeaderSize))
        throw ENvOPCException(Format("DA 1.0a stream of %d bytes cannot hold the %d item headers it announces",
                                     static_cast<std::int64_t>(size), header.dwItemCount));
    const auto id = static_cast<LONG>(header.dwTransactionID);
    // A subscription stream is read under the merge lock, over the waiting change if there is one.
    std::unique_lock<std::mutex> merge(mergeMutex_, std::defer_lock);
    if (id == 0 && mergeable) {
        merge.lock();
        if (pendingChange_ != nullptr) {
            transaction = pendingChange_;
            merged = true;
        }
    }
    if (transaction != nullptr) {
        // Merging: the entries below overwrite or append.
    } else if (id != 0) {
        for (TNvOPCTransactionKind kind : {tkRead, tkDataChange}) {
            TNvOPCTransaction* found = TransactionList(kind)->ItemByID(id);
            if (found != nullptr && found->Active()) {
                transaction = found;
                break;
            }
        }
        if (transaction != nullptr)
            transaction->SetID(id);
    } else {
        transaction = StartTransaction(tkDataChange);
    }
    if (transaction == nullptr)
        throw ENvOPCException("Could not get transaction!");
    auto* read = static_cast<TNvOPCReadTransaction*>(transaction);
    std::lock_guard<std::recursive_mutex> fill(read->FillLock());
    if (!read->OpenForCompletion()) {
        transaction = nullptr;
        throw ENvOPCException("Could not get transaction!");
    }
    VARIANT value;
    VariantInit(&value);
    ScopeExit clearValue([&value] { VariantClear(&value); });
    for (DWORD i = 0; i < header.dwItemCount; ++i) {
        const std::uint64_t at = sizeof(OPCGROUPHEADER) + i * itemHeaderSize;
        OPCHANDLE client;
        DWORD valueOffset;
        WORD quality;
        FILETIME timeStamp{};
        if (withTime) {
            const auto item = reader.Read<OPCITEMHEADER1>(at, "an item header");
            client = item.hClient;
            valueOffset = item.dwValueOffset;
            quality = item.wQuality;
            timeStamp = item.ftTimeStampItem;
        } else {
            const auto item = reader.Read<OPCITEMHEADER2>(at, "an item header");
            client = item.hClient;
            valueOffset = item.dwValueOffset;
            quality = item.wQuality;
        }
        // The record is this process's VARIANT, as every in-process writer lays it down.
        VARIANT record = reader.Read<VARIANT>(valueOffset, "a value");
        VariantClear(&value);
        HRESULT error = S_OK;
        if (record.vt == VT_BSTR) {
            WideString text = reader.ReadText(std::uint64_t(valueOffset) + sizeof(VARIANT) + sizeof(DWORD));
            value.vt = VT_BSTR;
            value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        } else if ((record.vt & VT_ARRAY) != 0) {
            // Arrays are not decoded; the entry arrives without a value.
        } else if (IsInlineScalar(record.vt)) {
            std::memcpy(&value, &record, sizeof(VARIANT));
        } else {
            error = DISP_E_BADVARTYPE;
        }
        if (merged && read->IndexOfEntry(client) < 0 && read->Count() >= MaxMergedEntries())
            continue;
        read->AckItem(client, value, error, timeStamp, quality);
    }
    if (merged) {
        ++pendingMerged_;
    } else if (merge.owns_lock()) {
        pendingChange_ = transaction;
        pendingMerged_ = 0;
    }
}

void TNvOPCGroup::ReadDA1WriteCompleteStream(const BYTE* stream, SIZE_T size, TNvOPCTransaction*& transaction) {
    const StreamReader reader(stream, size);
    const auto header = reader.Read<OPCGROUPHEADERWRITE>(0, "the write header");
    if (FAILED(header.hrStatus) || header.dwItemCount == 0)
        return;
    if (!reader.Fits(sizeof(OPCGROUPHEADERWRITE), std::uint64_t(header.dwItemCount) * sizeof(OPCITEMHEADERWRITE)))
        throw ENvOPCException(Format("DA 1.0a write stream of %d bytes cannot hold the %d results it announces",
                                     static_cast<std::int64_t>(size), header.dwItemCount));
    const auto id = static_cast<LONG>(header.dwTransactionID);
    TNvOPCTransaction* found = TransactionList(tkWrite)->ItemByID(id);
    if (found == nullptr || !found->Active())
        throw ENvOPCException("Could not get transaction!");
    std::lock_guard<std::recursive_mutex> fill(found->FillLock());
    if (!found->OpenForCompletion())
        throw ENvOPCException("Could not get transaction!");
    transaction = found;
    transaction->SetID(id);
    for (DWORD i = 0; i < header.dwItemCount; ++i) {
        const auto item = reader.Read<OPCITEMHEADERWRITE>(
            sizeof(OPCGROUPHEADERWRITE) + std::uint64_t(i) * sizeof(OPCITEMHEADERWRITE), "a write result");
        transaction->AckItem(item.hClient, item.dwError);
    }
}

}  // namespace nv
