// Transactions: every exchange of item values with a server (a read, a write, a data change or a
// refresh answer) is carried by one transaction object, which holds one entry per item, makes
// the server call, collects the per-item results and is afterwards the record of what happened.
//
// Each group keeps one pooled, locked list per kind. The transaction ID by which a completion
// callback finds its transaction is the transaction's position in its list (DA 2.0), or the ID
// the server assigned (DA 1.0a), with PendingTransactionID standing in until the server's call
// has returned it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/NvObject.h"
#include "opc/include/opc.h"
#include "platform/win32.h"

namespace nv {

class TNvOPCGroup;
class TNvOPCItem;

enum TNvOPCTransactionKind : std::uint8_t { tkDataChange, tkRead, tkWrite };
constexpr int NvOPCTransactionKindCount = 3;

// "DataChange", "Read", "Write".
std::string TransactionKindName(TNvOPCTransactionKind kind);

// The ID of a DA 1.0a read or write until the server has named its own.
constexpr LONG PendingTransactionID = 999999999;

class TNvOPCTransaction : public TObject {
public:
    TNvOPCTransaction(TNvOPCGroup* group, LONG id, TNvOPCTransactionKind kind);
    ~TNvOPCTransaction() override;
    TNvOPCTransaction(const TNvOPCTransaction&) = delete;
    TNvOPCTransaction& operator=(const TNvOPCTransaction&) = delete;

    bool Active() const { return active_.load(std::memory_order_acquire); }
    int Capacity() const { return capacity_; }
    int Count() const { return count_; }
    LONG ID() const { return id_.load(std::memory_order_acquire); }
    void SetID(LONG value) { id_.store(value, std::memory_order_release); }
    TNvOPCTransactionKind Kind() const { return kind_; }
    HRESULT ResultCode() const { return resultCode_; }
    void SetResultCode(HRESULT value) { resultCode_ = value; }
    bool Async() const { return async_; }
    DWORD CancelID() const { return cancelID_; }
    void SetCancelID(DWORD value) { cancelID_ = value; }
    TNvOPCGroup* Group() const { return FGroup; }

    void Start();
    // The window thread has taken the transaction to finish or fail it: a completion that comes
    // later must not write into it any more. Set under the fill lock; Start opens it again.
    void Close() { closed_.store(true, std::memory_order_release); }
    bool Closed() const { return closed_.load(std::memory_order_acquire); }
    // Under the fill lock: whether a completion may still fill the transaction.
    bool OpenForCompletion() const { return Active() && !Closed(); }
    // Appends the item's client and server handles (-1, -1 without an item).
    int Add(TNvOPCItem* item);
    int AddHandle(OPCHANDLE clientHandle, OPCHANDLE serverHandle);
    void Grow();
    void SetCapacity(int value);
    void SetCount(int value);
    // Stores the error at the entry with this client handle; -1 when there is none.
    int AckItem(OPCHANDLE clientHandle, HRESULT error);
    // Copies n errors; true when none of them is a success (also for n = 0).
    bool SetErrorList(const HRESULT* errors, int n);
    // Makes the server call of the kind. A synchronous call, or one the server refused for every
    // entry, finishes the transaction at once; an asynchronous one finishes when its completion
    // has been handled.
    void Commit(bool async);
    void Finish() { active_.store(false, std::memory_order_release); }
    void Rollback();
    void Clear();

    // Entry accessors; an index outside 0 .. Count() - 1 raises EListError.
    OPCHANDLE ClientHandles(int index) const;
    OPCHANDLE ServerHandles(int index) const;
    HRESULT GetErrors(int index) const;
    // The value itself, and a copy the caller clears.
    const VARIANT& Values(int index) const;
    VARIANT GetValues(int index) const;
    void SetValues(int index, const VARIANT& value);
    void SetErrors(int index, HRESULT value);
    void SetServerHandles(int index, OPCHANDLE value);
    // The arrays as the server calls take them.
    OPCHANDLE* ServerHandleArray() const { return FServerHandles; }
    VARIANT* ValueArray() const { return FValues; }

    // The ItemID of the group's item with the entry's client handle, else "Invalid Item".
    std::string ItemIDOf(int index) const;
    // The entry with this client handle, or -1.
    int IndexOfEntry(OPCHANDLE clientHandle) const { return IndexOfClientHandle(clientHandle); }
    // The header line; with detail, followed by one line per entry, every line ended by CR LF.
    std::string AsString(const std::string& dateTimeFormat, bool detailed) const;
    virtual std::string ItemAsString(int index, const std::string& dateTimeFormat) const;

    // Held by whoever fills the entries: the window thread during the server call, a completion
    // callback while it acknowledges. A server may call back before its call has returned.
    std::recursive_mutex& FillLock() const { return fillLock_; }

protected:
    virtual void Alloc(int newCapacity);
    virtual void DeAlloc();
    // The server call; errors receives the per-entry array (task memory) or stays null.
    virtual void DoCommit(HRESULT*& errors) {}
    virtual int GetDefaultCapacity() const;
    // The entry with this client handle among the first Count(), found without scanning; the
    // entry at `hint` is tried first, as servers answer in the order they were asked.
    int IndexOfClientHandle(OPCHANDLE clientHandle, int hint = -1) const;
    // Forget the client-handle index (the handles were rewritten in place).
    void ResetHandleIndex() const;
    void CheckIndex(int index) const;

    OPCHANDLE* FClientHandles = nullptr;
    HRESULT* FErrors = nullptr;
    OPCHANDLE* FServerHandles = nullptr;
    VARIANT* FValues = nullptr;
    TNvOPCGroup* FGroup;

private:
    std::atomic<bool> active_{false};
    std::atomic<bool> closed_{false};
    int capacity_ = 0;
    int count_ = 0;
    std::atomic<LONG> id_;
    TNvOPCTransactionKind kind_;
    HRESULT resultCode_ = S_OK;
    bool async_ = false;
    DWORD cancelID_ = 0;

    mutable std::recursive_mutex fillLock_;
    // Client handle -> first entry, built lazily up to indexedCount_ entries.
    mutable std::unordered_map<OPCHANDLE, int> handleIndex_;
    mutable int indexedCount_ = 0;
    mutable int lastFound_ = -1;
};

class TNvOPCReadTransaction : public TNvOPCTransaction {
public:
    TNvOPCReadTransaction(TNvOPCGroup* group, LONG id, TNvOPCTransactionKind kind = tkRead);
    ~TNvOPCReadTransaction() override;

    using TNvOPCTransaction::AckItem;
    // Stores the server's answer for one client handle, appending an entry when the transaction
    // has none for it (a refresh answer or a DA 1.0a stream).
    int AckItem(OPCHANDLE clientHandle, const VARIANT& value, HRESULT error, const FILETIME& timeStamp,
                WORD quality);

    WORD Qualities(int index) const;
    FILETIME Timestamps(int index) const;
    std::string ItemAsString(int index, const std::string& dateTimeFormat) const override;

protected:
    void Alloc(int newCapacity) override;
    void DeAlloc() override;
    void DoCommit(HRESULT*& errors) override;

    WORD* FQualities = nullptr;
    FILETIME* FTimestamps = nullptr;

private:
    void SyncRead(HRESULT*& errors);
    void AsyncRead(HRESULT*& errors);
    void AsyncRead2(HRESULT*& errors);
};

class TNvOPCDataChangeTransaction : public TNvOPCReadTransaction {
public:
    TNvOPCDataChangeTransaction(TNvOPCGroup* group, LONG id, TNvOPCTransactionKind kind = tkDataChange);

    // The arrays of one IOPCDataCallback::OnDataChange, copied in.
    void LoadDataChange(int n, const OPCHANDLE* clientHandles, const HRESULT* errors,
                        const FILETIME* timeStamps, const WORD* qualities, const VARIANT* values);
    // A later change laid over this one while it waits for the window thread: the newest value
    // of each item wins, items not in it yet are appended up to maxEntries entries. Returns how
    // many entries found no room.
    int MergeDataChange(int n, const OPCHANDLE* clientHandles, const HRESULT* errors, const FILETIME* timeStamps,
                        const WORD* qualities, const VARIANT* values, int maxEntries);
};

class TNvOPCWriteTransaction : public TNvOPCTransaction {
public:
    TNvOPCWriteTransaction(TNvOPCGroup* group, LONG id, TNvOPCTransactionKind kind = tkWrite);

    using TNvOPCTransaction::Add;
    // Appends the item with the value converted for the item's data type; a value that cannot
    // be converted raises before anything is appended.
    int Add(TNvOPCItem* item, const VARIANT& value);

protected:
    void DoCommit(HRESULT*& errors) override;
    int GetDefaultCapacity() const override { return 4; }

private:
    void SyncWrite(HRESULT*& errors);
    void AsyncWrite(HRESULT*& errors);
    void AsyncWrite2(HRESULT*& errors);
};

// The pooled transactions of one kind of one group. Every operation takes the list's lock,
// since completion callbacks look transactions up from the server's threads.
class TNvOPCTransactionList : public TObject {
public:
    TNvOPCTransactionList(TNvOPCGroup* group, TNvOPCTransactionKind kind);
    ~TNvOPCTransactionList() override;

    TNvOPCTransactionKind Kind() const { return kind_; }
    // Reuses the first idle transaction (ID = its position counted from 1) or appends a new one,
    // and starts it.
    TNvOPCTransaction* StartTransaction();
    TNvOPCTransaction* ItemByID(LONG id);
    int Count() const;
    TNvOPCTransaction* Items(int index) const;
    void Clear();

private:
    std::unique_ptr<TNvOPCTransaction> NewTransaction(LONG id) const;

    TNvOPCGroup* FGroup;
    TNvOPCTransactionKind kind_;
    mutable std::recursive_mutex lock_;
    std::vector<std::unique_ptr<TNvOPCTransaction>> items_;
};

}  // namespace nv
