// The client side of one OPC group: its settings, its life on the server (created when the
// server runs, removed again when it stops), its items, and the data flow through which values
// reach them — synchronous reads driven by a timer, or the server's callbacks (IOPCDataCallback
// for DA 2.0, IAdviseSink data streams for DA 1.0a), always finished on the user-interface
// thread.
//
// Threads: callbacks arrive on the server's threads. They only fill a transaction (under its
// list's lock and its fill lock) and post a notice to the group's notify window; items, events,
// logging and every OPC call happen on the user-interface thread.
//
// Back-pressure: subscription changes are not queued one per callback. The first one (a DA 2.0
// OnDataChange with transaction ID 0, or a DA 1.0a data stream) becomes a transaction and a
// notice; until the window thread takes it, every later subscription change of the group is
// merged into that same transaction under the group's merge lock — newest value per item wins,
// with its quality, time stamp and error, and an item not yet in it is added, up to
// MaxMergedEntries() entries (a value beyond that is dropped and logged). The window thread takes
// the transaction out of the merging before it reads it (FinishTransaction), so nothing is laid
// over a transaction being reported and nothing is reported twice; the next callback starts a
// new one. The change rate counts every merged callback, and the log says how many were merged.
// Memory thus grows with the group's size, not with the callback rate. Completions of reads,
// writes and refreshes are never merged.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/NvComponent.h"
#include "foundation/NvEventLoop.h"
#include "foundation/NvEvents.h"
#include "foundation/NvSignals.h"
#include "foundation/NvStringList.h"
#include "foundation/NvSysUtils.h"
#include "opc/NvOPCError.h"
#include "opc/NvOPCItem.h"
#include "opc/NvOPCServer.h"
#include "opc/NvOPCTransaction.h"
#include "opc/include/opc.h"
#include "platform/win32.h"

namespace nv {

enum TNvOPCDataSource : std::uint8_t { opcdsCache, opcdsDevice };
OPCDATASOURCE ToOPCDataSource(TNvOPCDataSource source);

using TNvOPCTransactionEvent = std::function<void(TObject* sender, TNvOPCTransaction* transaction)>;

// Notices of the group's notify window: W is the transaction kind, L the transaction ID.
constexpr UINT NvTransactionDoneNotice = WM_USER;
constexpr UINT NvTransactionErrorNotice = WM_USER + 1;

class TNvOPCGroup : public TComponent, public INvOPCServerGroup {
public:
    explicit TNvOPCGroup(TComponent* owner = nullptr);
    ~TNvOPCGroup() override;

    // ---- settings
    bool AcceptInvalidItems() const { return acceptInvalidItems_; }
    void SetAcceptInvalidItems(bool value) { acceptInvalidItems_ = value; }
    bool Active() const { return active_; }
    void SetActive(bool value);
    bool Async() const { return async_; }
    void SetAsync(bool value);
    unsigned AsyncRefreshInterval() const { return asyncRefreshInterval_; }
    void SetAsyncRefreshInterval(unsigned value);
    TNvOPCDataSource DataSource() const { return dataSource_; }
    void SetDataSource(TNvOPCDataSource value);
    std::string GetGroupName() const override { return groupName_; }
    void SetGroupName(const std::string& value);
    DWORD LCID() const { return lcid_; }
    void SetLCID(DWORD value);
    bool LocalTimeBias() const { return localTimeBias_; }
    void SetLocalTimeBias(bool value);
    float PercentDeadband() const { return percentDeadband_; }
    void SetPercentDeadband(float value);
    bool RemoveItemsOnDisconnect() const { return removeItemsOnDisconnect_; }
    void SetRemoveItemsOnDisconnect(bool value) { removeItemsOnDisconnect_ = value; }
    TNvOPCServer* Server() const { return server_; }
    void SetServer(TNvOPCServer* value);
    bool SyncTimerEnabled() const { return syncTimerEnabled_; }
    void SetSyncTimerEnabled(bool value) { syncTimerEnabled_ = value; }
    LONG TimeBias() const { return timeBias_; }
    void SetTimeBias(LONG value);
    DWORD UpdateRate() const { return updateRate_; }
    void SetUpdateRate(DWORD value);

    // ---- connection
    bool Connected() const { return itemMgt_ != nullptr; }
    IOPCItemMgt* ItemMgtIntf() const { return itemMgt_; }
    OPCHANDLE ClientHandle() const { return clientHandle_.load(std::memory_order_relaxed); }
    OPCHANDLE ServerHandle() const { return serverHandle_; }
    bool AutoConnectItems() const { return autoConnectItems_; }
    void SetAutoConnectItems(bool value);
    DWORD AsyncConnection() const { return asyncConnection_; }
    // The DA 1.0a connection that asynchronous writes name: the write-complete advise when the
    // server took one, else the data advise.
    DWORD WriteCompleteConnection() const {
        return writeCompleteConnection_ != 0 ? writeCompleteConnection_ : asyncConnection_;
    }
    bool Disconnecting() const { return disconnecting_.load(std::memory_order_acquire); }
    void Connect();
    void Disconnect();
    void ConnectItems();
    // Pushes the settings to the server: by SetState, or by re-creating the group.
    void StateChanged(bool reconnect);
    void ConfigChange();

    // ---- items
    int ItemCount() const { return static_cast<int>(items_.size()); }
    // EListError "List index out of bounds (%d)" outside 0 .. ItemCount() - 1.
    TNvOPCItem* Items(int index) const;
    TNvOPCItem* AddItem(const std::string& itemID);
    // Adds all of them to the server in one batch.
    void AddItems(const TNvStringList& itemIDs);
    void AddItems(const std::vector<std::string>& itemIDs);
    void RemoveItem(int index);
    void Clear();
    int IndexOfItem(const TNvOPCItem* item) const;
    // The first item with this client handle, found without scanning; -1 when none.
    int IndexOfClientHandle(OPCHANDLE handle) const;
    OPCHANDLE NextClientHandle() { return itemClientHandleCounter_++; }
    // The item count as a server thread may read it (the capacity a new transaction reserves).
    int CallbackItemCount() const { return itemCountForCallbacks_.load(std::memory_order_relaxed); }
    // An item's client handle changed: the handle index is rebuilt on the next look-up.
    void ItemClientHandleChanged() { handleIndexValid_ = false; }

    // ---- errors
    bool CheckResult(REFIID iid, const std::string& method, HRESULT code);
    void DoError(REFIID iid, const std::string& method, HRESULT code);

    // ---- transactions
    TNvOPCTransactionList* TransactionList(TNvOPCTransactionKind kind) const;
    // May run on a server thread (a subscription change starts its own transaction).
    TNvOPCTransaction* StartTransaction(TNvOPCTransactionKind kind);
    void FinishTransaction(TNvOPCTransactionKind kind, LONG id);
    void TransactionError(TNvOPCTransactionKind kind, LONG id);
    void UpdateItems(TNvOPCTransaction* transaction);
    // Counts `changes` data changes (more than one when later ones were merged into it).
    void UpdateChangeRate(int changes = 1);
    int ChangeRate() const { return changeRate_; }
    int ChangeCount() const { return changeCount_; }
    TDateTime ChangeRateStart() const { return changeRateStart_; }
    // The clock of the change-rate measurement (local time); tests give their own.
    void SetClock(std::function<TDateTime()> clock);
    TNvOPCReadTransaction* SyncReadTransaction();
    // The server category the group's calls follow, fixed when the group connects.
    TNvOPCServerCategory ServerCategory() const { return category_.load(std::memory_order_relaxed); }

    // ---- data flow
    TNvOPCTransaction* Refresh();
    TNvOPCTransaction* AsyncRefresh();
    void SyncRefresh(bool all);
    void WriteItem(TNvOPCItem* item, const VARIANT& value, bool convertType, bool useAsync);
    void RegisterDataChange();
    void UnregisterDataChange();
    void UpdateRefreshTimer();
    void RefreshTimerEvent();
    TNvTimer* RefreshTimer() const { return refreshTimer_.get(); }
    bool HasNotifyWindow() const;
    // The notify window's procedure: the two notices finish or fail a transaction; any other
    // message is answered with -1.
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Reads one DA 1.0a stream (its global memory locked, `size` bytes) into a transaction.
    TNvOPCTransaction* HandleDA1DataChange(const BYTE* stream, SIZE_T size, bool withTime);
    TNvOPCTransaction* HandleDA1WriteComplete(const BYTE* stream, SIZE_T size);

    // The callback objects the server holds: the group keeps one reference, a server its own.
    IOPCDataCallback* DataCallback();
    IAdviseSink* AdviseSink();

    // ---- INvOPCServerGroup
    void SetUniqueGroupName(const std::string& name) override { groupName_ = name; }
    void AttachedToServer(TNvOPCServer* server, OPCHANDLE clientHandle) override;

    // ---- events
    TNotifyEvent OnChangeRate;
    TNotifyEvent OnConfigChange;
    TNvOPCTransactionEvent OnDataChange;
    TNotifyEvent OnDisconnect;
    TNvOPCErrorEvent OnError;
    TNvOPCTransactionEvent OnReadCompleted;
    TNvOPCTransactionEvent OnTransactionError;
    TNvOPCTransactionEvent OnWriteCompleted;

protected:
    // A string list receives one line per item: its ItemID with the item attached.
    void AssignTo(TPersistent* dest) override;
    void Notification(TComponent* component, TOperation operation) override;

private:
    class CallbackSink;
    friend class CallbackSink;

    // TransactionError for a transaction known already, or found by its ID when `known` is null.
    void FailTransaction(TNvOPCTransactionKind kind, LONG id, TNvOPCTransaction* known);
    void MarkItemsCommFailure();
    void FillServerHandles(TNvOPCTransaction* transaction);
    void RebuildHandleIndex() const;
    void ItemCountChanged() { itemCountForCallbacks_.store(ItemCount(), std::memory_order_relaxed); }
    void AddGroupOnServer();
    void RemoveGroupOnServer();
    void PushState();
    void RecreateGroup();
    IOPCGroupStateMgt* QueryStateMgt() const;
    void CreateNotifyWindow();
    void DestroyNotifyWindow();
    // Posts a notice from any thread; false when no notify window takes it.
    bool PostNotice(UINT message, TNvOPCTransactionKind kind, LONG id);
    // Whether a notify window takes notices: callbacks that come without one are dropped before
    // they start a transaction that nothing would finish.
    bool AcceptingCallbacks() const;
    void UnregisterWriteCompleteAdvise();
    CLIPFORMAT ClipboardFormat(int which) const;
    // Waits until no callback is inside the group any more (they never block on the window
    // thread, so this ends quickly).
    void WaitForCallbacks() const;
    // A server thread cannot write to the log; it leaves the text here for the window thread.
    void RecordCallbackProblem(const std::string& text);
    void LogCallbackProblems();
    // The stream readers check every count, offset and string against the block's size.
    // With `mergeable`, a subscription stream is laid over the change still waiting for the window
    // thread, if there is one; `merged` tells whether it was.
    void ReadDA1DataStream(const BYTE* stream, SIZE_T size, bool withTime, TNvOPCTransaction*& transaction,
                           bool mergeable, bool& merged);
    // The window thread takes the waiting subscription change; returns how many later changes
    // were merged into it.
    int TakePendingChange(const TNvOPCTransaction* transaction);
    // Rolls back a waiting change whose notice will never be handled.
    void DropPendingChange();
    // The most entries a merged change may hold: every item, with room for a server's odd handles.
    int MaxMergedEntries() const { return 2 * CallbackItemCount() + 1024; }
    void ReadDA1WriteCompleteStream(const BYTE* stream, SIZE_T size, TNvOPCTransaction*& transaction);

    // Callback entries, on the server's threads.
    void DataChangeCallback(DWORD transID, OPCHANDLE hGroup, HRESULT masterError, DWORD count,
                            const OPCHANDLE* clientHandles, const VARIANT* values, const WORD* qualities,
                            const FILETIME* timeStamps, const HRESULT* errors);
    void ReadCompleteCallback(DWORD transID, OPCHANDLE hGroup, HRESULT masterError, DWORD count,
                              const OPCHANDLE* clientHandles, const VARIANT* values, const WORD* qualities,
                              const FILETIME* timeStamps, const HRESULT* errors);
    void WriteCompleteCallback(DWORD transID, HRESULT masterError, DWORD count, const OPCHANDLE* clientHandles,
                               const HRESULT* errors);
    void StreamCallback(const FORMATETC* format, const STGMEDIUM* medium);

    // Settings.
    bool acceptInvalidItems_ = false;
    bool active_ = false;
    bool async_ = false;
    unsigned asyncRefreshInterval_ = 0;
    TNvOPCDataSource dataSource_ = opcdsCache;
    std::string groupName_ = "Group";
    DWORD lcid_ = 1024;
    bool localTimeBias_ = false;
    float percentDeadband_ = 0.0f;
    bool removeItemsOnDisconnect_ = false;
    TNvOPCServer* server_ = nullptr;
    bool syncTimerEnabled_ = true;
    LONG timeBias_ = 0;
    DWORD updateRate_ = 1000;

    // Connection.
    IOPCItemMgt* itemMgt_ = nullptr;
    std::atomic<OPCHANDLE> clientHandle_{0};
    OPCHANDLE serverHandle_ = TNvOPCCustomItem::NotConnectedHandle;
    bool autoConnectItems_ = true;
    DWORD asyncConnection_ = 0;
    // The DA 1.0a sink is advised a second time for write completions, which a server sends only
    // to a sink advised for that format.
    DWORD writeCompleteConnection_ = 0;
    std::atomic<bool> disconnecting_{false};
    std::atomic<TNvOPCServerCategory> category_{opcscAutomatic};

    // Items.
    std::vector<std::unique_ptr<TNvOPCItem>> items_;
    OPCHANDLE itemClientHandleCounter_ = 0;
    std::atomic<int> itemCountForCallbacks_{0};
    mutable std::unordered_map<OPCHANDLE, int> handleIndex_;
    mutable bool handleIndexValid_ = false;

    // Transactions and change rate.
    std::unique_ptr<TNvOPCTransactionList> transactionLists_[NvOPCTransactionKindCount];
    TNvOPCReadTransaction* syncReadTransaction_ = nullptr;
    int changeRate_ = 0;
    int changeCount_ = 0;
    TDateTime changeRateStart_ = 0;
    std::function<TDateTime()> clock_;

    // Data flow.
    std::unique_ptr<TNvTimer> refreshTimer_;
    std::unique_ptr<TNvNotifyWindow> notifyWindow_;
    mutable std::mutex notifyMutex_;
    std::shared_ptr<TNvNotifyHandle> notifyTarget_;
    // Back-pressure: the subscription change that has been posted but not yet taken by the
    // window thread. Later changes are merged into it instead of queueing transactions of their
    // own, so a window that falls behind costs one transaction per group, not one per callback.
    std::mutex mergeMutex_;
    TNvOPCTransaction* pendingChange_ = nullptr;
    int pendingMerged_ = 0;
    mutable std::atomic<int> callbacksInFlight_{0};
    std::atomic<int> droppedCallbacks_{0};
    std::vector<std::string> pendingProblems_;
    int problemsNotKept_ = 0;
    // Counted: a server may keep it after the group has gone (see the class).
    CallbackSink* sink_ = nullptr;

    std::unique_ptr<TNvSlot> connectSlot_;
    std::unique_ptr<TNvSlot> disconnectSlot_;
};

}  // namespace nv
