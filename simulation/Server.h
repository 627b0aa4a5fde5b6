// The simulation OPC DA server: its shared state (ServerCore), the server object (Server) and
// the group objects (Group).
//
// Threads: client calls run on the client's threads; one worker thread per server samples the
// values, runs the asynchronous requests and makes every callback. All state is guarded by
// ServerCore::mutex, and no callback into a client is made while it is held, so a client may
// call the server again from inside a callback.
//
// Lifetime: the server object owns the core's worker; when the client releases the server
// object the worker stops and the groups are dropped from the core. Group objects the client
// still holds keep the core (not the worker) alive, so their calls stay safe.
#pragma once

#include "opc/include/opc.h"
#include "simulation/AddressSpace.h"
#include "simulation/ComSupport.h"
#include "simulation/Faults.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace nv::sim {

enum class ServerFlavor {
    Full,  // DA 2.0 with the DA 1.0a interfaces, hierarchical
    DA1,   // DA 1.0a only
    Flat,  // DA 2.0, flat address space
};

struct ItemState {
    VARIANT value;
    WORD quality = OPC_QUALITY_GOOD;
    FILETIME timeStamp{};
    uint64_t changes = 0;  // counts every change, so groups can tell what they have not yet sent
};

class Group;

// One callback to make on the worker thread, prepared under the lock and made without it.
struct Delivery {
    virtual ~Delivery() = default;
    virtual void Deliver() = 0;
};

// A queued asynchronous request of a group.
struct AsyncTask {
    enum class Kind { Read, Write, Refresh, CancelComplete };
    Kind kind = Kind::Read;
    bool da1 = false;
    ComPtr<Group> group;
    DWORD transactionId = 0;  // the client's (DA 2.0) or the server's (DA 1.0a)
    DWORD cancelId = 0;
    DWORD connection = 0;  // DA 1.0a: the advise connection the request names
    OPCDATASOURCE source = OPC_DS_CACHE;
    std::vector<OPCHANDLE> handles;  // server handles of the items that passed validation
    std::vector<VARIANT> values;     // writes: the values, owned by the task
    ~AsyncTask();
};

class ServerCore {
public:
    ServerCore(ServerFlavor flavor, std::shared_ptr<const AddressSpace> space, Fault fault = Fault::None,
               DWORD faultDelayMs = 0);
    ~ServerCore();
    ServerCore(const ServerCore&) = delete;
    ServerCore& operator=(const ServerCore&) = delete;

    void Start(const std::shared_ptr<ServerCore>& self);
    // Stops the worker and drops the groups and pending requests. Safe from any thread.
    void Stop();

    // Called first by every interface method: waits the configured delay and fails the call if
    // the Control items say so. `name` is "Interface.Method".
    HRESULT Enter(const char* name);

    const ServerFlavor flavor;
    const std::shared_ptr<const AddressSpace> space;
    const Fault fault;         // the rule this server breaks (Faults.h)
    const DWORD faultDelayMs;  // how long its slow calls take
    std::mutex mutex;          // guards every member below and every Group's state

    // ---- with the lock held --------------------------------------------------------------------
    // Brings a self-changing item up to date for the current sample.
    void Sample(uint32_t index);
    // The item's value for a reader: converted to `requested` (VT_EMPTY = canonical), quality
    // and time stamp; a device read samples first. Returns the per-item result.
    HRESULT ReadValue(uint32_t index, bool device, VARTYPE requested, VARIANT* value, WORD* quality,
                      FILETIME* timeStamp);
    // Writes a value as a client write does: access rights, conversion, range, control effects.
    HRESULT WriteValue(uint32_t index, const VARIANT& value);
    // Starts a new sample (the worker does this once per tick; device reads once per call).
    void NextSample();
    double Seconds() const;
    DWORD NextTransactionId();
    bool Stopped() const { return stopped_; }
    void Queue(std::unique_ptr<AsyncTask> task);  // wakes the worker
    bool CancelQueued(const Group* group, DWORD cancelId, bool da1, std::unique_ptr<AsyncTask>* removed);
    // Makes the worker look at the groups again (after a change of rate, activity or items).
    void Wake() {
        poked_ = true;
        wake_.notify_all();
    }
    WString UniqueGroupName();
    Group* FindGroup(WStringView name) const;
    Group* FindGroup(OPCHANDLE hServer) const;

    std::vector<ItemState> states;
    std::vector<ComPtr<Group>> groups;  // the server's groups, in creation order
    OPCHANDLE nextGroupHandle = 1;
    DWORD nextCancelId = 1;
    OPCSERVERSTATE state = OPC_STATUS_RUNNING;
    FILETIME startTime{};
    FILETIME lastUpdateTime{};
    // Control settings.
    WString failMethod;
    HRESULT failResult = E_FAIL;
    LONG failCount = 0;
    LONG delayMs = 0;
    bool refuseCallbacks = false;
    bool dropCallbacks = false;
    WString refuseItems;
    std::vector<WString> pendingShutdowns;
    // Shutdown callbacks of the server object.
    struct ShutdownSink {
        DWORD cookie;
        ComPtr<IOPCShutdown> sink;
    };
    std::vector<ShutdownSink> shutdownSinks;
    DWORD nextCookie = 1;
    // Fault::FailAfterRestart: the server has restarted under the client.
    bool restarted = false;
    // Fault::CallbackAfterUnadvise: data callbacks whose Unadvise was answered but not carried
    // out, with the group handle they were advised for; each gets every subscription update.
    struct LingeringSink {
        OPCHANDLE hGroup;
        ComPtr<IOPCDataCallback> sink;
    };
    std::vector<LingeringSink> lingeringSinks;

private:
    void Run();
    void SetControlState(ControlKind kind, const VARIANT& value);

    std::chrono::steady_clock::time_point started_;
    uint64_t sample_ = 1;
    double sampleSeconds_ = 0.0;
    FILETIME sampleTime_{};
    DATE sampleDate_ = 0.0;
    DWORD nextTransactionId_ = 1;
    bool stopped_ = false;
    bool running_ = false;
    bool poked_ = false;
    std::condition_variable wake_;
    std::deque<std::unique_ptr<AsyncTask>> tasks_;
    std::thread worker_;
    std::shared_ptr<ServerCore> workerRef_;  // keeps the core alive until the worker has left
};

// The connection points of the server (IOPCShutdown) and the group (IOPCDataCallback).
class ConnectionOwner {
public:
    virtual HRESULT AdviseSink(REFIID iid, IUnknown* sink, DWORD* cookie) = 0;
    virtual HRESULT UnadviseSink(REFIID iid, DWORD cookie) = 0;

protected:
    ~ConnectionOwner() = default;
};
HRESULT CreateConnectionPoint(IConnectionPointContainer* container, ConnectionOwner* owner, REFIID iid,
                              IConnectionPoint** ppCP);
// The server and the group each offer exactly one connection point: these answer
// IConnectionPointContainer for such a container.
HRESULT EnumSingleConnectionPoint(IConnectionPointContainer* container, ConnectionOwner* owner, REFIID iid,
                                  IEnumConnectionPoints** ppEnum);
HRESULT FindSingleConnectionPoint(IConnectionPointContainer* container, ConnectionOwner* owner, REFIID iid,
                                  REFIID requested, IConnectionPoint** ppCP);

class Server final : public IOPCServer,
                     public IOPCCommon,
                     public IConnectionPointContainer,
                     public IOPCBrowseServerAddressSpace,
                     public IOPCItemProperties,
                     private ConnectionOwner,
                     private ModuleObject {
public:
    Server(ServerFlavor flavor, BulkShape bulk, Fault fault = Fault::None, DWORD faultDelayMs = 0);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IOPCServer
    HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                       OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                       DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                                       REFIID riid, LPUNKNOWN* ppUnk) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override;
    HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** ppServerStatus) override;
    HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
    HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                                    LPUNKNOWN* ppUnk) override;

    // IOPCCommon
    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) override;
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) override;
    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    // IOPCBrowseServerAddressSpace
    HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                                   LPCWSTR szString) override;
    HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                               VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                               IEnumString** ppIEnumString) override;
    HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override;
    HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR szItemID, IEnumString** ppIEnumString) override;

    // IOPCItemProperties
    HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                       DWORD** ppPropertyIDs, LPWSTR** ppDescriptions,
                                                       VARTYPE** ppvtDataTypes) override;
    HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                                VARIANT** ppvData, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                            LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) override;

private:
    ~Server();
    HRESULT AdviseSink(REFIID iid, IUnknown* sink, DWORD* cookie) override;
    HRESULT UnadviseSink(REFIID iid, DWORD cookie) override;
    HRESULT ErrorText(HRESULT code, LCID locale, LPWSTR* ppString);
    HRESULT FindItemForProperties(LPCWSTR itemId, const ItemDef** item);

    std::atomic<ULONG> refs_{0};
    std::shared_ptr<ServerCore> core_;
    std::mutex ownMutex_;  // browse position, locale, client name: per server object
    const Branch* position_ = nullptr;
    LCID locale_ = 0x0800;  // LOCALE_SYSTEM_DEFAULT
    WString clientName_;
};

// One item of a group.
struct GroupItem {
    OPCHANDLE hServer = 0;
    OPCHANDLE hClient = 0;
    uint32_t index = 0;  // into the address space
    bool active = true;
    bool gone = false;  // removed; dropped from the list at the end of the call
    VARTYPE requested = VT_EMPTY;
    uint64_t sentChanges = UINT64_MAX;  // ItemState::changes last reported; MAX = never
    double sentValue = 0.0;             // for the dead band of analog items
    WString accessPath;
};

// One subscription update or asynchronous result, collected under the lock.
struct ItemUpdate {
    OPCHANDLE hClient;
    VARIANT value;
    WORD quality;
    FILETIME timeStamp;
    HRESULT error;
};

class Group final : public IOPCItemMgt,
                    public IOPCGroupStateMgt,
                    public IOPCSyncIO,
                    public IOPCAsyncIO2,
                    public IOPCAsyncIO,
                    public IConnectionPointContainer,
                    public IDataObject,
                    private ConnectionOwner,
                    private ModuleObject {
public:
    Group(std::shared_ptr<ServerCore> core, OPCHANDLE hServer);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IOPCItemMgt
    HRESULT STDMETHODCALLTYPE AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                                       HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                            OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                             HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                               HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                           HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) override;

    // IOPCGroupStateMgt
    HRESULT STDMETHODCALLTYPE GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                                       FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                                       OPCHANDLE* phServerGroup) override;
    HRESULT STDMETHODCALLTYPE SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                                       LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                       OPCHANDLE* phClientGroup) override;
    HRESULT STDMETHODCALLTYPE SetName(LPCWSTR szName) override;
    HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;

    // IOPCSyncIO (Read is shared by name with the asynchronous interfaces; see the .cpp)
    HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                   OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                    HRESULT** ppErrors) override;

    // IOPCAsyncIO2
    HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                                   DWORD* pdwCancelID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                    DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                                       DWORD* pdwCancelID) override;
    HRESULT STDMETHODCALLTYPE Cancel2(DWORD dwCancelID) override;
    HRESULT STDMETHODCALLTYPE SetEnable(BOOL bEnable) override;
    HRESULT STDMETHODCALLTYPE GetEnable(BOOL* pbEnable) override;

    // IOPCAsyncIO
    HRESULT STDMETHODCALLTYPE Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                                   OPCHANDLE* phServer, DWORD* pTransactionID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                                    VARIANT* pItemValues, DWORD* pTransactionID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Refresh(DWORD dwConnection, OPCDATASOURCE dwSource,
                                      DWORD* pTransactionID) override;
    HRESULT STDMETHODCALLTYPE Cancel(DWORD dwTransactionID) override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    // IDataObject
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) override;
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) override;
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* pformatetc) override;
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC* pformatectIn,
                                                    FORMATETC* pformatetcOut) override;
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) override;
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) override;
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                                      DWORD* pdwConnection) override;
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD dwConnection) override;
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** ppenumAdvise) override;

    // ---- used by the server object and the worker, with the lock held ------------------------
    OPCHANDLE ServerHandle() const { return hServer_; }
    const WString& Name() const { return name_; }
    void SetNameLocked(WString name) { name_ = std::move(name); }
    void InitState(WString name, bool active, DWORD updateRate, OPCHANDLE hClient, LONG timeBias,
                   FLOAT deadband, DWORD lcid);
    void MarkRemoved();
    bool Removed() const { return removed_; }
    // The worker's tick: samples the group if it is due and collects what to deliver; returns
    // the time it is due next.
    std::chrono::steady_clock::time_point Tick(std::chrono::steady_clock::time_point now,
                                               std::vector<std::unique_ptr<Delivery>>* out);
    // Runs a queued asynchronous request and collects its callbacks.
    void RunTask(AsyncTask& task, std::vector<std::unique_ptr<Delivery>>* out);
    void CancelComplete(AsyncTask& task, std::vector<std::unique_ptr<Delivery>>* out);

    static DWORD ReviseUpdateRate(DWORD requested);

private:
    ~Group();
    HRESULT AdviseSink(REFIID iid, IUnknown* sink, DWORD* cookie) override;
    HRESULT UnadviseSink(REFIID iid, DWORD cookie) override;

    GroupItem* FindItem(OPCHANDLE hServer);
    HRESULT CheckDefinition(const OPCITEMDEF& def, const ItemDef** item) const;
    HRESULT ValidateOrAdd(DWORD dwCount, OPCITEMDEF* pItemArray, bool add, OPCITEMRESULT** ppResults,
                          HRESULT** ppErrors);
    template <typename Fn>
    HRESULT ForEachHandle(const char* name, DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors, Fn fn);
    void CollectUpdate(const GroupItem& gi, bool device, std::vector<ItemUpdate>* updates);
    // Turns collected updates into the callbacks of every advised sink.
    void DeliverData(DWORD transactionId, std::vector<ItemUpdate> updates, bool subscription,
                     bool readComplete, DWORD da1Connection, std::vector<std::unique_ptr<Delivery>>* out);
    // A DA 2.0 request: the client's transaction ID and the next cancel ID. Core mutex held.
    std::unique_ptr<AsyncTask> NewRequest(AsyncTask::Kind kind, DWORD transactionId);
    // A DA 1.0a request on an advise connection, with a transaction ID of the server's.
    std::unique_ptr<AsyncTask> NewDA1Request(AsyncTask::Kind kind, DWORD connection);
    HRESULT QueueAsync(std::unique_ptr<AsyncTask> task, DWORD dwCount, OPCHANDLE* phServer, VARIANT* values,
                       HRESULT** ppErrors);
    bool HasActiveItems() const;
    struct DataAdvise {
        DWORD connection;
        CLIPFORMAT format;
        ComPtr<IAdviseSink> sink;
    };
    const DataAdvise* FindAdvise(DWORD connection) const;

    std::atomic<ULONG> refs_{0};
    std::shared_ptr<ServerCore> core_;
    const OPCHANDLE hServer_;
    // Guarded by core_->mutex:
    WString name_;
    bool active_ = true;
    DWORD updateRate_ = 1000;
    OPCHANDLE hClient_ = 0;
    LONG timeBias_ = 0;
    FLOAT deadband_ = 0.0f;
    DWORD lcid_ = 0;
    bool enabled_ = true;
    bool removed_ = false;
    std::vector<GroupItem> items_;  // sorted by server handle
    OPCHANDLE nextItemHandle_ = 1;
    ComPtr<IOPCDataCallback> callback_;
    DWORD callbackCookie_ = 0;
    std::vector<DataAdvise> advises_;
    std::chrono::steady_clock::time_point nextDue_{};
    bool flooded_ = false;  // Fault::CallbackFlood: the flood has been sent
};

// The browse enumerator of Fault::BrowseExtraNames and Fault::BrowseFewerNames.
HRESULT CreateFaultyStringEnumerator(std::vector<WString> strings, Fault fault, IEnumString** ppEnum);

// Clipboard formats of the DA 1.0a streams, registered once per process.
struct StreamFormats {
    CLIPFORMAT data;
    CLIPFORMAT dataTime;
    CLIPFORMAT writeComplete;
};
const StreamFormats& Formats();

// The server's own text for a result code, or empty if it has none.
WString OpcErrorText(HRESULT code);

}  // namespace nv::sim
