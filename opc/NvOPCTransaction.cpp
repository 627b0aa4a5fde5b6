#include "opc/NvOPCTransaction.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "foundation/NvConvert.h"
#include "foundation/NvExceptions.h"
#include "foundation/NvSysUtils.h"
#include "opc/NvOPCError.h"
#include "opc/NvOPCGroup.h"
#include "opc/NvOPCItem.h"

namespace nv {

namespace {

constexpr const char* kKindNames[NvOPCTransactionKindCount] = {"DataChange", "Read", "Write"};

// Frees a per-entry array the server returned, in every case.
class ServerArray {
public:
    explicit ServerArray(HRESULT*& errors) : errors_(errors) {}
    ~ServerArray() { TNvOPCAlloc::FreeResultList(errors_); }
    ServerArray(const ServerArray&) = delete;
    ServerArray& operator=(const ServerArray&) = delete;

private:
    HRESULT*& errors_;
};

// Handles print as signed numbers, so that "not connected" reads -1 as everywhere else.
LONG AsSigned(OPCHANDLE handle) {
    return static_cast<LONG>(handle);
}

template <class T>
void Release(T*& intf) {
    if (intf != nullptr) {
        intf->Release();
        intf = nullptr;
    }
}

}  // namespace

std::string TransactionKindName(TNvOPCTransactionKind kind) {
    return kind < NvOPCTransactionKindCount ? kKindNames[kind] : "Unknown";
}

// ---- TNvOPCTransaction ---------------------------------------------------------------------

TNvOPCTransaction::TNvOPCTransaction(TNvOPCGroup* group, LONG id, TNvOPCTransactionKind kind)
    : FGroup(group), id_(id), kind_(kind) {}

TNvOPCTransaction::~TNvOPCTransaction() {
    // Derived arrays are freed by the derived destructors; only the base ones are left here.
    Clear();
    TNvOPCTransaction::DeAlloc();
}

void TNvOPCTransaction::Alloc(int newCapacity) {
    const auto n = static_cast<std::size_t>(newCapacity);
    const auto old = static_cast<std::size_t>(capacity_);
    // Values beyond a shrinking capacity are cleared before their memory goes.
    for (std::size_t i = n; i < old && FValues != nullptr; ++i)
        VariantClear(&FValues[i]);
    TNvOPCAlloc::AllocMem(FClientHandles, n * sizeof(OPCHANDLE));
    TNvOPCAlloc::AllocMem(FServerHandles, n * sizeof(OPCHANDLE));
    // A data change fills no server handles, and its log line shows them: new entries read as
    // cleared ones do.
    std::fill(FServerHandles + std::min(n, old), FServerHandles + n, TNvOPCCustomItem::NotConnectedHandle);
    TNvOPCAlloc::CAllocMem(FErrors, n * sizeof(HRESULT), std::min(n, old) * sizeof(HRESULT));
    TNvOPCAlloc::CAllocMem(FValues, n * sizeof(VARIANT), std::min(n, old) * sizeof(VARIANT));
}

void TNvOPCTransaction::DeAlloc() {
    for (int i = 0; i < capacity_ && FValues != nullptr; ++i)
        VariantClear(&FValues[i]);
    TNvOPCAlloc::FreeMem(FClientHandles);
    TNvOPCAlloc::FreeMem(FServerHandles);
    TNvOPCAlloc::FreeMem(FErrors);
    TNvOPCAlloc::FreeMem(FValues);
}

int TNvOPCTransaction::GetDefaultCapacity() const {
    return FGroup != nullptr ? FGroup->CallbackItemCount() : 0;
}

void TNvOPCTransaction::Start() {
    Clear();
    closed_.store(false, std::memory_order_release);
    const int wanted = GetDefaultCapacity();
    if (capacity_ < wanted)
        SetCapacity(wanted);
    active_.store(true, std::memory_order_release);
}

int TNvOPCTransaction::Add(TNvOPCItem* item) {
    if (item == nullptr)
        return AddHandle(TNvOPCCustomItem::NotConnectedHandle, TNvOPCCustomItem::NotConnectedHandle);
    return AddHandle(item->GetClientHandle(), item->ServerHandle());
}

int TNvOPCTransaction::AddHandle(OPCHANDLE clientHandle, OPCHANDLE serverHandle) {
    const int index = count_;
    // Grown before counting, so a failed allocation leaves the transaction as it was.
    if (index + 1 > capacity_)
        Grow();
    count_ = index + 1;
    FClientHandles[index] = clientHandle;
    FServerHandles[index] = serverHandle;
    return index;
}

void TNvOPCTransaction::Grow() {
    SetCapacity(capacity_ > 0 ? 2 * capacity_ : 1);
}

void TNvOPCTransaction::SetCapacity(int value) {
    if (value < 0)
        value = 0;
    if (value == capacity_)
        return;
    if (value < count_) {
        for (int i = value; i < count_; ++i)
            VariantClear(&FValues[i]);
        count_ = value;
        ResetHandleIndex();
    }
    Alloc(value);
    capacity_ = value;
}

void TNvOPCTransaction::SetCount(int value) {
    if (value < 0)
        value = 0;
    if (value == count_)
        return;
    if (value > capacity_)
        SetCapacity(value);
    if (value < count_) {
        for (int i = value; i < count_; ++i)
            VariantClear(&FValues[i]);
        ResetHandleIndex();
    }
    count_ = value;
}

void TNvOPCTransaction::ResetHandleIndex() const {
    handleIndex_.clear();
    indexedCount_ = 0;
    lastFound_ = -1;
}

int TNvOPCTransaction::IndexOfClientHandle(OPCHANDLE clientHandle, int hint) const {
    if (hint < 0)
        hint = lastFound_ + 1;
    if (hint >= 0 && hint < count_ && FClientHandles[hint] == clientHandle) {
        lastFound_ = hint;
        return hint;
    }
    if (indexedCount_ > count_)
        ResetHandleIndex();
    for (; indexedCount_ < count_; ++indexedCount_)
        handleIndex_.emplace(FClientHandles[indexedCount_], indexedCount_);
    auto it = handleIndex_.find(clientHandle);
    if (it == handleIndex_.end())
        return -1;
    lastFound_ = it->second;
    return it->second;
}

int TNvOPCTransaction::AckItem(OPCHANDLE clientHandle, HRESULT error) {
    int index = IndexOfClientHandle(clientHandle);
    if (index >= 0)
        FErrors[index] = error;
    return index;
}

bool TNvOPCTransaction::SetErrorList(const HRESULT* errors, int n) {
    if (n < 0)
        n = 0;
    if (capacity_ < n)
        SetCapacity(n);
    bool noneSucceeded = true;
    for (int i = 0; i < n; ++i) {
        FErrors[i] = errors[i];
        if (SUCCEEDED(errors[i]))
            noneSucceeded = false;
    }
    return noneSucceeded;
}

void TNvOPCTransaction::Commit(bool async) {
    async_ = async;
    if (FGroup == nullptr || !FGroup->Connected())
        throw ENvOPCException("Group not Connected.");
    if (count_ < 1) {
        Finish();
        return;
    }
    HRESULT* errors = nullptr;
    ServerArray freeErrors(errors);
    try {
        bool noneAccepted;
        {
            std::lock_guard<std::recursive_mutex> fill(fillLock_);
            DoCommit(errors);
            if (errors != nullptr) {
                noneAccepted = SetErrorList(errors, count_);
            } else {
                // No per-entry answer: every entry shares the fate of the call, so that no entry
                // of a failed call reads as a success. A server that claims success without the
                // array has answered for no entry either: they fail as unanswered.
                noneAccepted = true;
                const HRESULT fate = FAILED(resultCode_) ? resultCode_ : E_POINTER;
                for (int i = 0; i < count_; ++i)
                    FErrors[i] = fate;
                if (resultCode_ == S_OK)
                    resultCode_ = S_FALSE;
            }
        }
        if (noneAccepted || !async)
            FGroup->FinishTransaction(kind_, ID());
    } catch (...) {
        Finish();
        throw;
    }
}

void TNvOPCTransaction::Rollback() {
    // A late completion of a misbehaving server may still be filling the entries.
    std::lock_guard<std::recursive_mutex> fill(fillLock_);
    Clear();
    Finish();
}

void TNvOPCTransaction::Clear() {
    for (int i = 0; i < count_; ++i) {
        FServerHandles[i] = TNvOPCCustomItem::NotConnectedHandle;
        VariantClear(&FValues[i]);
        FErrors[i] = S_OK;
    }
    count_ = 0;
    resultCode_ = S_OK;
    ResetHandleIndex();
}

void TNvOPCTransaction::CheckIndex(int index) const {
    if (index < 0 || index >= count_)
        throw EListError(Format("List index out of bounds (%d)", index));
}

OPCHANDLE TNvOPCTransaction::ClientHandles(int index) const {
    CheckIndex(index);
    return FClientHandles[index];
}

OPCHANDLE TNvOPCTransaction::ServerHandles(int index) const {
    CheckIndex(index);
    return FServerHandles[index];
}

HRESULT TNvOPCTransaction::GetErrors(int index) const {
    CheckIndex(index);
    return FErrors[index];
}

const VARIANT& TNvOPCTransaction::Values(int index) const {
    CheckIndex(index);
    return FValues[index];
}

VARIANT TNvOPCTransaction::GetValues(int index) const {
    CheckIndex(index);
    VARIANT copy;
    VariantInit(&copy);
    VariantCopy(&copy, &FValues[index]);
    return copy;
}

void TNvOPCTransaction::SetValues(int index, const VARIANT& value) {
    CheckIndex(index);
    VARIANT copy;
    VariantInit(&copy);
    HRESULT hr = VariantCopy(&copy, &value);
    if (FAILED(hr))
        throw EOleSysError(Format("Cannot copy a value of type %s", VarTypeToStr(value.vt)), hr);
    VariantClear(&FValues[index]);
    std::memcpy(&FValues[index], &copy, sizeof(VARIANT));
}

void TNvOPCTransaction::SetServerHandles(int index, OPCHANDLE value) {
    CheckIndex(index);
    FServerHandles[index] = value;
}

void TNvOPCTransaction::SetErrors(int index, HRESULT value) {
    CheckIndex(index);
    FErrors[index] = value;
}

std::string TNvOPCTransaction::ItemIDOf(int index) const {
    try {
        if (FGroup == nullptr)
            return "Invalid Item";
        int item = FGroup->IndexOfClientHandle(ClientHandles(index));
        if (item < 0)
            return "Invalid Item";
        return FGroup->Items(item)->GetItemID();
    } catch (...) {
        return "Invalid Item";
    }
}

std::string TNvOPCTransaction::ItemAsString(int index, const std::string&) const {
    std::string line = Format(" %s(CH=%d, SH=%d): %s {%s}", ItemIDOf(index), AsSigned(ClientHandles(index)),
                              AsSigned(ServerHandles(index)), VariantToStr(Values(index)), VarTypeToStr(Values(index).vt));
    if (FAILED(GetErrors(index)))
        line += Format(" ErrorCode=%x (%s)", GetErrors(index), GetOPCErrorName(GetErrors(index)));
    return line;
}

std::string TNvOPCTransaction::AsString(const std::string& dateTimeFormat, bool detailed) const {
    std::string text = Format("Transaction ID=%d Group=%s Kind=%s ItemCount=%d Result=$%x (%s)", ID(),
                              FGroup != nullptr ? FGroup->GetGroupName() : std::string(),
                              TransactionKindName(kind_), count_, resultCode_, GetOPCErrorName(resultCode_));
    if (!detailed)
        return text;
    text += "\r\n";
    for (int i = 0; i < count_; ++i) {
        try {
            text += ItemAsString(i, dateTimeFormat);
        } catch (const std::exception& e) {
            text += e.what();
        }
        text += "\r\n";
    }
    return text;
}

// ---- TNvOPCReadTransaction -----------------------------------------------------------------

TNvOPCReadTransaction::TNvOPCReadTransaction(TNvOPCGroup* group, LONG id, TNvOPCTransactionKind kind)
    : TNvOPCTransaction(group, id, kind) {}

TNvOPCReadTransaction::~TNvOPCReadTransaction() {
    TNvOPCAlloc::FreeMem(FQualities);
    TNvOPCAlloc::FreeMem(FTimestamps);
}

void TNvOPCReadTransaction::Alloc(int newCapacity) {
    const auto n = static_cast<std::size_t>(newCapacity);
    const auto old = static_cast<std::size_t>(Capacity());
    TNvOPCTransaction::Alloc(newCapacity);
    TNvOPCAlloc::CAllocMem(FQualities, n * sizeof(WORD), std::min(n, old) * sizeof(WORD));
    TNvOPCAlloc::CAllocMem(FTimestamps, n * sizeof(FILETIME), std::min(n, old) * sizeof(FILETIME));
}

void TNvOPCReadTransaction::DeAlloc() {
    TNvOPCTransaction::DeAlloc();
    TNvOPCAlloc::FreeMem(FQualities);
    TNvOPCAlloc::FreeMem(FTimestamps);
}

int TNvOPCReadTransaction::AckItem(OPCHANDLE clientHandle, const VARIANT& value, HRESULT error,
                                   const FILETIME& timeStamp, WORD quality) {
    int index = TNvOPCTransaction::AckItem(clientHandle, error);
    if (index < 0) {
        index = AddHandle(clientHandle, 0);
        FErrors[index] = error;
    }
    FTimestamps[index] = timeStamp;
    FQualities[index] = quality;
    try {
        SetValues(index, value);
    } catch (const EOleSysError& error) {
        // As a data change does: the one entry fails, the others of the answer keep theirs.
        static const VARIANT empty{};
        SetValues(index, empty);
        if (SUCCEEDED(FErrors[index]))
            FErrors[index] = error.ErrorCode();
    }
    return index;
}

WORD TNvOPCReadTransaction::Qualities(int index) const {
    CheckIndex(index);
    return FQualities[index];
}

FILETIME TNvOPCReadTransaction::Timestamps(int index) const {
    CheckIndex(index);
    return FTimestamps[index];
}

std::string TNvOPCReadTransaction::ItemAsString(int index, const std::string& dateTimeFormat) const {
    if (FAILED(GetErrors(index)))
        return Format(" %d/%d %s: ErrorCode=%x", AsSigned(ClientHandles(index)), AsSigned(ServerHandles(index)),
                      ItemIDOf(index), GetErrors(index));
    return Format(" %s(CH=%d, SH=%d): %s %s %s", ItemIDOf(index), AsSigned(ClientHandles(index)),
                  AsSigned(ServerHandles(index)),
                  FormatDateTime(dateTimeFormat, FileTimeToDateTime(Timestamps(index))),
                  QualityToStr(Qualities(index)), VariantToStr(Values(index)));
}

void TNvOPCReadTransaction::DoCommit(HRESULT*& errors) {
    if (!Async()) {
        SyncRead(errors);
        return;
    }
    switch (FGroup->ServerCategory()) {
        case opcscDataAccess10:
            AsyncRead(errors);
            break;
        case opcscDataAccess20:
            AsyncRead2(errors);
            break;
        default:
            break;
    }
}

void TNvOPCReadTransaction::SyncRead(HRESULT*& errors) {
    IOPCSyncIO* io = nullptr;
    QueryInterfaceOrRaise(io, FGroup->ItemMgtIntf(), IID_IOPCSyncIO);
    const int n = Count();
    OPCITEMSTATE* states = nullptr;
    HRESULT hr = io->Read(ToOPCDataSource(FGroup->DataSource()), static_cast<DWORD>(n), FServerHandles, &states,
                          &errors);
    Release(io);
    // The states are freed whatever happens next, their values first.
    struct FreeStates {
        OPCITEMSTATE*& states;
        int n;
        ~FreeStates() {
            if (states == nullptr)
                return;
            for (int i = 0; i < n; ++i)
                VariantClear(&states[i].vDataValue);
            TNvOPCAlloc::FreeItemStateList(states);
        }
    } freeStates{states, n};
    SetResultCode(hr);
    if (!FGroup->CheckResult(IID_IOPCSyncIO, "Read", hr) || states == nullptr || errors == nullptr)
        return;
    static const VARIANT empty{};
    for (int i = 0; i < n; ++i) {
        if (SUCCEEDED(errors[i])) {
            const int at = AckItem(states[i].hClient, states[i].vDataValue, errors[i], states[i].ftTimeStamp,
                                   states[i].wQuality);
            VariantClear(&states[i].vDataValue);
            if (FAILED(FErrors[at])) {
                // The entry's own failure outlives the commit, which takes the errors from here.
                errors[i] = FErrors[at];
                if (ResultCode() == S_OK)
                    SetResultCode(S_FALSE);
            }
        } else {
            AckItem(FClientHandles[i], empty, errors[i], FILETIME{}, 0);
            if (ResultCode() == S_OK)
                SetResultCode(S_FALSE);
        }
    }
}

void TNvOPCReadTransaction::AsyncRead(HRESULT*& errors) {
    if (ID() != 0)
        SetID(PendingTransactionID);
    IOPCAsyncIO* io = nullptr;
    QueryInterfaceOrRaise(io, FGroup->ItemMgtIntf(), IID_IOPCAsyncIO);
    DWORD transactionID = 0;
    HRESULT hr = io->Read(FGroup->AsyncConnection(), ToOPCDataSource(FGroup->DataSource()),
                          static_cast<DWORD>(Count()), FServerHandles, &transactionID, &errors);
    Release(io);
    SetResultCode(hr);
    SetCancelID(transactionID);
    FGroup->CheckResult(IID_IOPCAsyncIO, "Read", hr);
    SetID(static_cast<LONG>(transactionID));
}

void TNvOPCReadTransaction::AsyncRead2(HRESULT*& errors) {
    IOPCAsyncIO2* io = nullptr;
    QueryInterfaceOrRaise(io, FGroup->ItemMgtIntf(), IID_IOPCAsyncIO2);
    DWORD cancelID = 0;
    HRESULT hr =
        io->Read(static_cast<DWORD>(Count()), FServerHandles, static_cast<DWORD>(ID()), &cancelID, &errors);
    Release(io);
    SetResultCode(hr);
    SetCancelID(cancelID);
    FGroup->CheckResult(IID_IOPCAsyncIO2, "Read", hr);
}

// ---- TNvOPCDataChangeTransaction -----------------------------------------------------------

TNvOPCDataChangeTransaction::TNvOPCDataChangeTransaction(TNvOPCGroup* group, LONG id, TNvOPCTransactionKind kind)
    : TNvOPCReadTransaction(group, id, kind) {}

void TNvOPCDataChangeTransaction::LoadDataChange(int n, const OPCHANDLE* clientHandles, const HRESULT* errors,
                                                 const FILETIME* timeStamps, const WORD* qualities,
                                                 const VARIANT* values) {
    if (n < 0)
        n = 0;
    SetCount(n);
    ResetHandleIndex();
    const auto count = static_cast<std::size_t>(n);
    if (count == 0)
        return;
    std::memcpy(FClientHandles, clientHandles, count * sizeof(OPCHANDLE));
    std::memcpy(FQualities, qualities, count * sizeof(WORD));
    std::memcpy(FTimestamps, timeStamps, count * sizeof(FILETIME));
    SetErrorList(errors, n);
    for (int i = 0; i < n; ++i) {
        VARIANT& slot = FValues[i];
        VariantClear(&slot);
        // A value of a type this process cannot hold is no reading: the entry fails with the
        // copy's code rather than passing as an empty good value.
        if (HRESULT copied = VariantCopy(&slot, &values[i]); FAILED(copied)) {
            VariantInit(&slot);
            if (SUCCEEDED(FErrors[i]))
                FErrors[i] = copied;
        }
    }
}

int TNvOPCDataChangeTransaction::MergeDataChange(int n, const OPCHANDLE* clientHandles, const HRESULT* errors,
                                                 const FILETIME* timeStamps, const WORD* qualities,
                                                 const VARIANT* values, int maxEntries) {
    int noRoom = 0;
    for (int i = 0; i < n; ++i) {
        int index = IndexOfClientHandle(clientHandles[i], i);
        if (index < 0) {
            if (Count() >= maxEntries) {
                ++noRoom;
                continue;
            }
            index = AddHandle(clientHandles[i], TNvOPCCustomItem::NotConnectedHandle);
        }
        FErrors[index] = errors[i];
        FQualities[index] = qualities[i];
        FTimestamps[index] = timeStamps[i];
        VARIANT& slot = FValues[index];
        VariantClear(&slot);
        if (HRESULT copied = VariantCopy(&slot, &values[i]); FAILED(copied)) {
            VariantInit(&slot);
            if (SUCCEEDED(FErrors[index]))
                FErrors[index] = copied;
        }
    }
    return noRoom;
}

// ---- TNvOPCWriteTransaction ----------------------------------------------------------------

TNvOPCWriteTransaction::TNvOPCWriteTransaction(TNvOPCGroup* group, LONG id, TNvOPCTransactionKind kind)
    : TNvOPCTransaction(group, id, kind) {}

int TNvOPCWriteTransaction::Add(TNvOPCItem* item, const VARIANT& value) {
    const VARTYPE type = item != nullptr ? item->GetDataType() : VARTYPE{VT_EMPTY};
    VARIANT converted;
    VariantInit(&converted);
    if (type < VT_I2 || !HasValue(value) || (value.vt & VT_ARRAY) != 0) {
        VariantCopy(&converted, &value);
    } else if (type == (VT_ARRAY | VT_BOOL) && value.vt == VT_I4) {
        converted = IntToBoolArray(value.lVal);
    } else if (value.vt == VT_BOOL && type != VT_BOOL) {
        converted.vt = VT_I4;
        converted.lVal = value.boolVal != VARIANT_FALSE ? 1 : 0;
    } else {
        converted = ChangeVariantType(value, type);
    }
    int index;
    try {
        index = TNvOPCTransaction::Add(item);
    } catch (...) {
        VariantClear(&converted);
        throw;
    }
    VariantClear(&FValues[index]);
    std::memcpy(&FValues[index], &converted, sizeof(VARIANT));
    return index;
}

void TNvOPCWriteTransaction::DoCommit(HRESULT*& errors) {
    if (!Async()) {
        SyncWrite(errors);
        return;
    }
    switch (FGroup->ServerCategory()) {
        case opcscDataAccess10:
            AsyncWrite(errors);
            break;
        case opcscDataAccess20:
            AsyncWrite2(errors);
            break;
        default:
            break;
    }
}

void TNvOPCWriteTransaction::SyncWrite(HRESULT*& errors) {
    IOPCSyncIO* io = nullptr;
    QueryInterfaceOrRaise(io, FGroup->ItemMgtIntf(), IID_IOPCSyncIO);
    HRESULT hr = io->Write(static_cast<DWORD>(Count()), FServerHandles, FValues, &errors);
    Release(io);
    SetResultCode(hr);
    FGroup->CheckResult(IID_IOPCSyncIO, "Write", hr);
    if (ResultCode() == S_OK && errors != nullptr) {
        for (int i = 0; i < Count(); ++i) {
            if (FAILED(errors[i])) {
                SetResultCode(S_FALSE);
                break;
            }
        }
    }
}

void TNvOPCWriteTransaction::AsyncWrite(HRESULT*& errors) {
    if (ID() != 0)
        SetID(PendingTransactionID);
    IOPCAsyncIO* io = nullptr;
    QueryInterfaceOrRaise(io, FGroup->ItemMgtIntf(), IID_IOPCAsyncIO);
    DWORD transactionID = 0;
    HRESULT hr = io->Write(FGroup->WriteCompleteConnection(), static_cast<DWORD>(Count()), FServerHandles, FValues,
                           &transactionID, &errors);
    Release(io);
    SetResultCode(hr);
    SetCancelID(transactionID);
    FGroup->CheckResult(IID_IOPCAsyncIO, "Write", hr);
    SetID(static_cast<LONG>(transactionID));
}

void TNvOPCWriteTransaction::AsyncWrite2(HRESULT*& errors) {
    IOPCAsyncIO2* io = nullptr;
    QueryInterfaceOrRaise(io, FGroup->ItemMgtIntf(), IID_IOPCAsyncIO2);
    DWORD cancelID = 0;
    HRESULT hr = io->Write(static_cast<DWORD>(Count()), FServerHandles, FValues, static_cast<DWORD>(ID()), &cancelID,
                           &errors);
    Release(io);
    SetResultCode(hr);
    SetCancelID(cancelID);
    FGroup->CheckResult(IID_IOPCAsyncIO2, "Write", hr);
}

// ---- TNvOPCTransactionList -----------------------------------------------------------------

TNvOPCTransactionList::TNvOPCTransactionList(TNvOPCGroup* group, TNvOPCTransactionKind kind)
    : FGroup(group), kind_(kind) {}

TNvOPCTransactionList::~TNvOPCTransactionList() {
    Clear();
}

std::unique_ptr<TNvOPCTransaction> TNvOPCTransactionList::NewTransaction(LONG id) const {
    switch (kind_) {
        case tkDataChange:
            return std::make_unique<TNvOPCDataChangeTransaction>(FGroup, id);
        case tkRead:
            return std::make_unique<TNvOPCReadTransaction>(FGroup, id);
        case tkWrite:
            return std::make_unique<TNvOPCWriteTransaction>(FGroup, id);
    }
    throw EAssertionFailed("Unknown transaction kind");
}

TNvOPCTransaction* TNvOPCTransactionList::StartTransaction() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    TNvOPCTransaction* transaction = nullptr;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (!items_[i]->Active()) {
            transaction = items_[i].get();
            transaction->SetID(static_cast<LONG>(i + 1));
            break;
        }
    }
    if (transaction == nullptr) {
        items_.push_back(NewTransaction(static_cast<LONG>(items_.size() + 1)));
        transaction = items_.back().get();
    }
    transaction->Start();
    return transaction;
}

TNvOPCTransaction* TNvOPCTransactionList::ItemByID(LONG id) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (id > 0 && static_cast<std::size_t>(id) <= items_.size()) {
        TNvOPCTransaction* at = items_[static_cast<std::size_t>(id) - 1].get();
        if (at->ID() == id)
            return at;
    }
    TNvOPCTransaction* pending = nullptr;
    for (const auto& t : items_) {
        if (!t->Active())
            continue;
        if (t->ID() == id)
            return t.get();
        if (t->ID() == PendingTransactionID)
            pending = t.get();
    }
    return pending;
}

int TNvOPCTransactionList::Count() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return static_cast<int>(items_.size());
}

TNvOPCTransaction* TNvOPCTransactionList::Items(int index) const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (index < 0 || static_cast<std::size_t>(index) >= items_.size())
        throw EListError(Format("List index out of bounds (%d)", index));
    return items_[static_cast<std::size_t>(index)].get();
}

void TNvOPCTransactionList::Clear() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    items_.clear();
}

}  // namespace nv
