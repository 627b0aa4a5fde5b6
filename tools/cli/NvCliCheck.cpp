#include "tools/cli/NvCliCheck.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "foundation/NvConvert.h"
#include "foundation/NvSysUtils.h"
#include "opc/NvOPCError.h"
#include "opc/NvOPCGroup.h"
#include "opc/include/opc.h"
#include "platform/NvWide.h"

namespace nv::cli {

namespace {

using json = nlohmann::json;

constexpr LCID kSystemDefaultLocale = 0x0800;
constexpr DWORD kScanLimit = 500;
// The names the enumerator check reads at most; enough to meet the last short batch of most servers.
constexpr std::size_t kEnumLimit = 100000;

// An interface reference released when it goes out of scope.
template <class T>
class Ref {
public:
    Ref() = default;
    ~Ref() { Reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** Out() {
        Reset();
        return &p_;
    }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }
    void Reset() {
        if (p_ != nullptr)
            p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

template <class T>
bool Query(IUnknown* from, REFIID iid, Ref<T>& to) {
    return from != nullptr && SUCCEEDED(from->QueryInterface(iid, to.OutVoid())) && to;
}

// Per-item result arrays the server allocated.
struct Errors {
    HRESULT* p = nullptr;
    ~Errors() { CoTaskMemFree(p); }
    HRESULT First() const { return p != nullptr ? p[0] : S_OK; }
};

void FreeItemResults(OPCITEMRESULT* results, DWORD n) {
    if (results == nullptr)
        return;
    for (DWORD i = 0; i < n; ++i)
        CoTaskMemFree(results[i].pBlob);
    CoTaskMemFree(results);
}

void FreeItemStates(OPCITEMSTATE* states, DWORD n) {
    if (states == nullptr)
        return;
    for (DWORD i = 0; i < n; ++i)
        VariantClear(&states[i].vDataValue);
    CoTaskMemFree(states);
}

// The codes the checks expect, by the names the interface rules give them; any other code by the
// client's own short text.
std::string CodeName(HRESULT code) {
    static const std::pair<HRESULT, const char*> kNames[] = {
        {S_OK, "S_OK"},
        {S_FALSE, "S_FALSE"},
        {E_FAIL, "E_FAIL"},
        {E_INVALIDARG, "E_INVALIDARG"},
        {E_NOINTERFACE, "E_NOINTERFACE"},
        {E_NOTIMPL, "E_NOTIMPL"},
        {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
        {CONNECT_E_NOCONNECTION, "CONNECT_E_NOCONNECTION"},
        {OPC_E_INVALIDHANDLE, "OPC_E_INVALIDHANDLE"},
        {OPC_E_BADTYPE, "OPC_E_BADTYPE"},
        {OPC_E_PUBLIC, "OPC_E_PUBLIC"},
        {OPC_E_BADRIGHTS, "OPC_E_BADRIGHTS"},
        {OPC_E_UNKNOWNITEMID, "OPC_E_UNKNOWNITEMID"},
        {OPC_E_INVALIDITEMID, "OPC_E_INVALIDITEMID"},
        {OPC_E_INVALIDFILTER, "OPC_E_INVALIDFILTER"},
        {OPC_E_UNKNOWNPATH, "OPC_E_UNKNOWNPATH"},
        {OPC_E_RANGE, "OPC_E_RANGE"},
        {OPC_E_DUPLICATENAME, "OPC_E_DUPLICATENAME"},
        {OPC_S_UNSUPPORTEDRATE, "OPC_S_UNSUPPORTEDRATE"},
        {OPC_S_CLAMP, "OPC_S_CLAMP"},
        {OPC_S_INUSE, "OPC_S_INUSE"},
        {OPC_E_INVALID_PID, "OPC_E_INVALID_PID"},
    };
    for (const auto& [c, name] : kNames)
        if (c == code)
            return name;
    return GetOPCErrorName(code);
}

// "$80070057 E_INVALIDARG".
std::string CodeText(HRESULT code) {
    return Format("$%x %s", code, CodeName(code));
}

std::string CodesText(std::initializer_list<HRESULT> codes) {
    std::string text;
    for (HRESULT c : codes)
        text += (text.empty() ? "" : " or ") + CodeName(c);
    return text;
}

bool OneOf(HRESULT code, std::initializer_list<HRESULT> codes) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

bool IsNumeric(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_R8:
            return true;
        default:
            return false;
    }
}

// A VARIANT type a value can have: a scalar type or a safe array of one, nothing else.
bool IsValueType(VARTYPE vt) {
    if ((vt & ~(VT_ARRAY | VT_TYPEMASK)) != 0)
        return false;
    switch (vt & VT_TYPEMASK) {
        case VT_EMPTY:
        case VT_BSTR:
        case VT_BOOL:
        case VT_DATE:
        case VT_CY:
        case VT_DECIMAL:
        case VT_ERROR:
        case VT_VARIANT:
            return true;
        default:
            return IsNumeric(vt & VT_TYPEMASK);
    }
}

// "VT_I4", "VT_ARRAY | VT_R8", or "$7777" for a number no value type has.
std::string TypeText(VARTYPE vt) {
    static const std::pair<VARTYPE, const char*> kNames[] = {
        {VT_EMPTY, "VT_EMPTY"}, {VT_I2, "VT_I2"},     {VT_I4, "VT_I4"},           {VT_R4, "VT_R4"},
        {VT_R8, "VT_R8"},       {VT_CY, "VT_CY"},     {VT_DATE, "VT_DATE"},       {VT_BSTR, "VT_BSTR"},
        {VT_ERROR, "VT_ERROR"}, {VT_BOOL, "VT_BOOL"}, {VT_VARIANT, "VT_VARIANT"}, {VT_DECIMAL, "VT_DECIMAL"},
        {VT_I1, "VT_I1"},       {VT_UI1, "VT_UI1"},   {VT_UI2, "VT_UI2"},         {VT_UI4, "VT_UI4"},
        {VT_I8, "VT_I8"},       {VT_UI8, "VT_UI8"},   {VT_INT, "VT_INT"},         {VT_UINT, "VT_UINT"},
    };
    if (IsValueType(vt))
        for (const auto& [code, name] : kNames)
            if (code == (vt & VT_TYPEMASK))
                return (vt & VT_ARRAY) != 0 ? std::string("VT_ARRAY | ") + name : std::string(name);
    return Format("$%x", static_cast<LONG>(vt));
}

// IUnknown of a sink that implements one interface and is reference counted for real: it lives
// as long as anyone, the server included, holds it. It starts with one reference, its creator's.
template <class Interface>
class TCheckSink : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, __uuidof(Interface))) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    virtual ~TCheckSink() = default;

private:
    std::atomic<ULONG> references_{1};
};

// The client's side of the DA 2.0 callbacks: records what arrives, on the server's threads, and
// lets the checking thread wait for what it expects. Reference counted for real: a server that
// keeps calling a sink it was told to let go (or never releases it) meets a live object, however
// long after the check.
class TCheckCallback final : public TCheckSink<IOPCDataCallback> {
public:
    enum Kind { kDataChange, kRead, kWrite };
    // Where the check was when a callback came.
    enum Phase { kAdvised, kUnadvising, kUnadvised };
    struct Completion {
        bool Arrived = false;
        HRESULT MasterError = S_OK;
        DWORD Count = 0;
        bool Arrays = true;  // the per-item arrays came with it
        HRESULT FirstError = S_OK;
    };
    // One callback as it came.
    struct Call {
        Kind kind = kDataChange;
        DWORD transID = 0;
        OPCHANDLE hGroup = 0;
        Phase phase = kAdvised;
        Completion completion;
        std::vector<OPCHANDLE> handles;
        std::vector<VARTYPE> types;
        std::vector<WORD> qualities;
        std::vector<HRESULT> errors;
    };


    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD transID, OPCHANDLE hGroup, HRESULT, HRESULT masterError,
                                           DWORD count, OPCHANDLE* handles, VARIANT* values, WORD* qualities,
                                           FILETIME* timeStamps, HRESULT* errors) override {
        Note(kDataChange, transID, hGroup, masterError, count, handles, values, qualities,
             timeStamps != nullptr, errors);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD transID, OPCHANDLE hGroup, HRESULT, HRESULT masterError,
                                             DWORD count, OPCHANDLE* handles, VARIANT* values,
                                             WORD* qualities, FILETIME* timeStamps,
                                             HRESULT* errors) override {
        Note(kRead, transID, hGroup, masterError, count, handles, values, qualities, timeStamps != nullptr,
             errors);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD transID, OPCHANDLE hGroup, HRESULT masterError,
                                              DWORD count, OPCHANDLE* handles, HRESULT* errors) override {
        Note(kWrite, transID, hGroup, masterError, count, handles, nullptr, nullptr, true, errors);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

    void SetPhase(Phase phase) { phase_ = phase; }
    // A transaction the check started; a completion naming any other is a stray.
    void Started(DWORD transID) {
        std::lock_guard<std::mutex> lock(mutex_);
        started_.push_back(transID);
    }

    // The completion of this kind for the transaction, once it arrived; none when the time ran
    // out or a completion of this kind came for a transaction never started (its ID in *stray).
    Completion Wait(Kind kind, DWORD transID, int timeoutMs, DWORD* stray) {
        std::unique_lock<std::mutex> lock(mutex_);
        const Call* found = nullptr;
        const Call* other = nullptr;
        arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            // Looked for afresh each time: the calls may have moved while the lock was let go.
            found = nullptr;
            other = nullptr;
            for (const Call& c : calls_) {
                if (c.kind != kind || (kind == kDataChange && c.transID == 0))
                    continue;
                if (c.transID == transID) {
                    found = &c;
                    return true;
                }
                if (other == nullptr &&
                    std::find(started_.begin(), started_.end(), c.transID) == started_.end())
                    other = &c;
            }
            return other != nullptr;
        });
        if (stray != nullptr)
            *stray = found == nullptr && other != nullptr ? other->transID : 0;
        return found != nullptr ? found->completion : Completion{};
    }

    // Subscription data changes (transaction ID 0) so far, and those that came in one phase.
    int DataChanges() {
        std::lock_guard<std::mutex> lock(mutex_);
        return subscriptionChanges_;
    }
    int DataChangesIn(Phase phase) {
        std::lock_guard<std::mutex> lock(mutex_);
        return changesByPhase_[phase];
    }
    // Waits until at least `count` subscription data changes have come; false when none in time.
    bool WaitForDataChanges(int count, int timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return subscriptionChanges_ >= count; });
    }
    // The first subscription data change, when one came.
    bool FirstDataChange(Call& into) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const Call& c : calls_)
            if (c.kind == kDataChange && c.transID == 0) {
                into = c;
                return true;
            }
        return false;
    }

private:
    ~TCheckCallback() override = default;

    void Note(Kind kind, DWORD transID, OPCHANDLE hGroup, HRESULT masterError, DWORD count,
              const OPCHANDLE* handles, const VARIANT* values, const WORD* qualities, bool haveTimeStamps,
              const HRESULT* errors) {
        Call call;
        call.kind = kind;
        call.transID = transID;
        call.hGroup = hGroup;
        call.phase = phase_;
        const bool arrays = handles != nullptr && errors != nullptr &&
                            (kind == kWrite || (values != nullptr && qualities != nullptr && haveTimeStamps));
        call.completion = {true, masterError, count, arrays || count == 0,
                           count > 0 && errors != nullptr ? errors[0] : S_OK};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const bool subscription = kind == kDataChange && transID == 0;
            if (subscription) {
                ++subscriptionChanges_;
                ++changesByPhase_[call.phase];
            }
            // A flood is counted, not kept: what is kept is enough to judge the first callbacks.
            if (calls_.size() < kKeptCalls) {
                if (arrays) {
                    // Beyond what a real group holds, the entries say nothing more.
                    const DWORD kept = std::min<DWORD>(count, 1000);
                    call.handles.assign(handles, handles + kept);
                    call.errors.assign(errors, errors + kept);
                    if (values != nullptr)
                        for (DWORD i = 0; i < kept; ++i)
                            call.types.push_back(values[i].vt);
                    if (qualities != nullptr)
                        call.qualities.assign(qualities, qualities + kept);
                }
                calls_.push_back(std::move(call));
            }
        }
        arrived_.notify_all();
    }

    static constexpr std::size_t kKeptCalls = 1000;
    std::atomic<Phase> phase_{kAdvised};
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Call> calls_;
    std::vector<DWORD> started_;
    int subscriptionChanges_ = 0;
    int changesByPhase_[3] = {0, 0, 0};
};

// The check's own reference to a callback object it made.
class TCheckCallbackRef {
public:
    TCheckCallbackRef() : p_(new TCheckCallback) {}
    ~TCheckCallbackRef() { p_->Release(); }
    TCheckCallbackRef(const TCheckCallbackRef&) = delete;
    TCheckCallbackRef& operator=(const TCheckCallbackRef&) = delete;
    TCheckCallback* operator->() const { return p_; }
    IOPCDataCallback* Sink() const { return p_; }

private:
    TCheckCallback* p_;
};

// The check's IOPCShutdown sink: a server that asks its clients to disconnect while the check
// runs ends the check, since what it answers afterwards says nothing about the server at work.
class TCheckShutdown final : public TCheckSink<IOPCShutdown> {
public:
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR reason) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!requested_) {
            requested_ = true;
            reason_ = reason != nullptr ? ToUtf8(reason) : std::string();
        }
        return S_OK;
    }
    // True once the server asked; its reason then.
    bool Requested(std::string& reason) {
        std::lock_guard<std::mutex> lock(mutex_);
        reason = reason_;
        return requested_;
    }

private:
    ~TCheckShutdown() override = default;
    std::mutex mutex_;
    bool requested_ = false;
    std::string reason_;
};

// Raised by the recording when a check must end early; the checks in progress unwind to Run.
struct TCheckStopped {};

// An item the checks use, found on the server.
struct CheckItem {
    std::string ID;
    VARTYPE Type = VT_EMPTY;
    DWORD Access = 0;
    bool Found() const { return !ID.empty(); }
};

// The rows of a check as they are recorded, and the watch over the server's calls. A call that
// takes longer than the time-out fails the row it belongs to; one that does not return within
// twice the time-out ends the check, since a call in progress cannot be abandoned: the process
// ends with the rows so far, a row naming the call, and the summary.
class TCheckRecord {
public:
    using Clock = std::chrono::steady_clock;

    TCheckRecord(TNvCliOutput& out, int timeoutMs) : out_(out), timeoutMs_(timeoutMs), mark_(Clock::now()) {}
    ~TCheckRecord() { StopWatch(); }
    TCheckRecord(const TCheckRecord&) = delete;
    TCheckRecord& operator=(const TCheckRecord&) = delete;

    void StartWatch() {
        Progress("the first call of the check");
        watcher_ = std::thread([this] { Watch(); });
    }
    void StopWatch() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (watcher_.joinable())
            watcher_.join();
    }

    // A call (or a wait for a callback) begins; `activity` is what the watch names if it never
    // ends.
    void Progress(const std::string& activity) {
        std::lock_guard<std::mutex> lock(mutex_);
        mark_ = Clock::now();
        activity_ = activity;
    }
    // Milliseconds since the last Progress.
    LONG SinceMark() {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<LONG>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - mark_).count());
    }

    void Add(TNvCheckRow row) {
        std::lock_guard<std::mutex> lock(mutex_);
        rows_.push_back(std::move(row));
        Print(rows_.back());
    }

    int Summary() {
        std::lock_guard<std::mutex> lock(mutex_);
        return SummaryLocked();
    }

private:
    void Watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto limit = std::chrono::milliseconds(2LL * timeoutMs_);
        while (!stopping_) {
            wake_.wait_for(lock, std::chrono::milliseconds(50));
            if (stopping_ || Clock::now() - mark_ <= limit)
                continue;
            rows_.push_back(
                {activity_, Format("an answer within %d ms", timeoutMs_), S_OK, false,
                 Format("no answer after %d ms (twice the time-out); the check ends here", 2 * timeoutMs_),
                 TNvCheckVerdict::Fail});
            Print(rows_.back());
            SummaryLocked();
            out_.Flush();
            std::fflush(nullptr);
            // The checking thread is inside the server's call; nothing can be unwound.
            std::_Exit(kExitFailed);
        }
    }

    void Print(const TNvCheckRow& row) {
        const char* verdict = row.Verdict == TNvCheckVerdict::Pass   ? "PASS"
                              : row.Verdict == TNvCheckVerdict::Fail ? "FAIL"
                                                                     : "SKIP";
        if (out_.Json()) {
            json object = {{"check", row.Name}, {"verdict", verdict}, {"expected", row.Expected}};
            if (row.HasResult) {
                object["result"] = HexCode(row.Result);
                object["resultName"] = CodeName(row.Result);
            }
            if (!row.Detail.empty())
                object["detail"] = row.Detail;
            out_.Object(object);
            return;
        }
        // Columns for the eye; at least two blanks after the name, so that a name with blanks
        // in it can still be told from what follows.
        std::string line = std::string(verdict) + "  " + row.Name;
        line.append(std::max<std::size_t>(2, 72 - std::min<std::size_t>(72, line.size())), ' ');
        bool more = false;
        if (row.HasResult) {
            std::string code = CodeText(row.Result);
            line += code +
                    std::string(std::max<std::size_t>(2, 32 - std::min<std::size_t>(32, code.size())), ' ') +
                    "expected " + row.Expected;
            more = true;
        } else if (row.Verdict != TNvCheckVerdict::Skip && !row.Expected.empty()) {
            // A check of callbacks or of time has no result code of its own.
            line += "expected " + row.Expected;
            more = true;
        }
        if (!row.Detail.empty())
            line += (more ? "; " : "") + row.Detail;
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out_.Text(line);
    }

    int SummaryLocked() {
        int passed = 0, failed = 0, skipped = 0;
        for (const auto& r : rows_) {
            passed += r.Verdict == TNvCheckVerdict::Pass;
            failed += r.Verdict == TNvCheckVerdict::Fail;
            skipped += r.Verdict == TNvCheckVerdict::Skip;
        }
        const int total = static_cast<int>(rows_.size());
        if (out_.Json()) {
            out_.Object({{"checks", total}, {"passed", passed}, {"failed", failed}, {"skipped", skipped}});
        } else {
            out_.Text(Format("%d checks: %d passed, %d failed, %d skipped", total, passed, failed, skipped));
        }
        return failed > 0 ? kExitFailed : kExitOk;
    }

    TNvCliOutput& out_;
    const int timeoutMs_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    Clock::time_point mark_;
    std::string activity_;
    std::vector<TNvCheckRow> rows_;
    std::thread watcher_;
};

// IEnumString::Next for up to `ask` names, appended to `into`. Names a server claims beyond those
// it was asked for are not read: they are not in the array. What broke the counting rules, the
// first time anything did, goes to `problem`.
HRESULT NextNames(IEnumString* names, ULONG ask, std::vector<std::string>& into, std::string& problem) {
    std::vector<LPOLESTR> batch(ask, nullptr);
    ULONG fetched = 0;
    const HRESULT hr = names->Next(ask, batch.data(), &fetched);
    if (FAILED(hr))
        return hr;
    if (problem.empty()) {
        if (fetched > ask)
            problem = Format("%s with %d names claimed when %d were asked for", CodeName(hr), fetched, ask);
        else if (hr == S_OK && fetched < ask)
            problem = Format("S_OK with %d name(s) when %d were asked for (S_FALSE says the names ran out)",
                             fetched, ask);
        else if (hr == S_FALSE && fetched == ask)
            problem = Format("S_FALSE with all %d names asked for", ask);
    }
    const ULONG got = std::min(fetched, ask);
    for (ULONG i = 0; i < got; ++i) {
        if (batch[i] != nullptr)
            into.push_back(ToUtf8(batch[i]));
        CoTaskMemFree(batch[i]);
    }
    return got == 0 && hr == S_OK ? S_FALSE : hr;
}

class TChecker {
public:
    TChecker(TNvOPCServer& server, const TNvCliCheckOptions& options, TCheckRecord& record)
        : server_(server), intf_(server.ServerIntf()), options_(options), record_(record) {}
    ~TChecker() {
        VariantClear(&writeBack_);
        if (shutdown_ != nullptr)
            shutdown_->Release();
    }
    TChecker(const TChecker&) = delete;
    TChecker& operator=(const TChecker&) = delete;

    int Run() {
        da2_ = server_.Category() == opcscDataAccess20;
        try {
            CheckInterfaces();
            WatchShutdown();
            CheckServer();
            FindItems();
            if (group_) {
                CheckItemManagement();
                CheckGroupState();
                CheckSyncIO();
                CheckAsyncIO2();
                CheckAsyncIO();
            }
            CheckBrowsing();
            CheckProperties();
        } catch (const TCheckStopped&) {
            // The row that says why is recorded.
        }
        RemoveGroups();
        return record_.Summary();
    }

private:
    // ---- recording

    void Row(const std::string& name, const std::string& expected, HRESULT result, bool pass,
             std::string detail = std::string()) {
        Slow(pass, detail);
        record_.Add(
            {name, expected, result, true, detail, pass ? TNvCheckVerdict::Pass : TNvCheckVerdict::Fail});
        AfterRow(name);
    }
    // A row without a result code of its own: what callbacks did, or how long something took.
    void Verdict(const std::string& name, const std::string& expected, bool pass, std::string detail) {
        Slow(pass, detail);
        record_.Add(
            {name, expected, S_OK, false, detail, pass ? TNvCheckVerdict::Pass : TNvCheckVerdict::Fail});
        AfterRow(name);
    }
    void Skip(const std::string& name, const std::string& why) {
        record_.Add({name, "", S_OK, false, why, TNvCheckVerdict::Skip});
        AfterRow(name);
    }
    // The calls of a row that took longer than the time-out fail it, whatever they answered.
    void Slow(bool& pass, std::string& detail) {
        const LONG took = record_.SinceMark();
        if (took <= options_.TimeoutMs)
            return;
        pass = false;
        detail += (detail.empty() ? "" : "; ") +
                  Format("answered after %d ms, more than the time-out of %d ms", took, options_.TimeoutMs);
    }
    // A server that asked its clients to disconnect ends the check after the row it happened in.
    void AfterRow(const std::string& name) {
        record_.Progress("the call after " + name);
        std::string reason;
        if (shutdown_ == nullptr || stopped_ || !shutdown_->Requested(reason))
            return;
        stopped_ = true;
        record_.Add({"IOPCShutdown.ShutdownRequest", "no request to disconnect while the check runs", S_OK,
                     false,
                     "the server asked its clients to disconnect during " + name + " (reason \"" + reason +
                         "\"); the remaining checks are left out",
                     TNvCheckVerdict::Fail});
        throw TCheckStopped{};
    }
    // The call's result must be one of the codes.
    bool Expect(const std::string& name, HRESULT result, std::initializer_list<HRESULT> codes,
                const std::string& detail = std::string()) {
        bool pass = OneOf(result, codes);
        Row(name, CodesText(codes), result, pass, detail);
        return pass;
    }
    // The call must answer S_FALSE and refuse the one item with one of the codes.
    void ExpectItemError(const std::string& name, HRESULT result, const HRESULT* errors,
                         std::initializer_list<HRESULT> itemCodes) {
        const bool haveItem = errors != nullptr;
        const HRESULT item = haveItem ? errors[0] : S_OK;
        const bool pass = result == S_FALSE && haveItem && OneOf(item, itemCodes);
        std::string detail = haveItem ? "item " + CodeText(item) : std::string("no per-item result");
        Row(name, "S_FALSE, item " + CodesText(itemCodes), result, pass, detail);
    }
    // The call must succeed for the one item.
    void ExpectItemOk(const std::string& name, HRESULT result, const HRESULT* errors,
                      const std::string& more = std::string(), bool morePasses = true) {
        const bool haveItem = errors != nullptr;
        const HRESULT item = haveItem ? errors[0] : S_OK;
        const bool pass = result == S_OK && haveItem && item == S_OK && morePasses;
        std::string detail = haveItem ? "item " + CodeText(item) : std::string("no per-item result");
        if (!more.empty())
            detail += "; " + more;
        Row(name, "S_OK, item S_OK", result, pass, detail);
    }

    // ---- interfaces

    void Required(const std::string& where, IUnknown* object, REFIID iid, const char* name) {
        Ref<IUnknown> p;
        HRESULT hr = object->QueryInterface(iid, p.OutVoid());
        Expect(where + ".QueryInterface(" + name + ")", hr, {S_OK});
    }

    void CheckInterfaces() {
        Required("Server", intf_, IID_IOPCServer, "IOPCServer");
        if (da2_) {
            Required("Server", intf_, IID_IOPCCommon, "IOPCCommon");
            Required("Server", intf_, IID_IConnectionPointContainer, "IConnectionPointContainer");
            Required("Server", intf_, IID_IOPCItemProperties, "IOPCItemProperties");
        }
    }

    // The check's own shutdown sink, beside the client core's; no row of its own (the connection
    // point is checked with the server object).
    void WatchShutdown() {
        Ref<IConnectionPointContainer> points;
        if (!Query(intf_, IID_IConnectionPointContainer, points))
            return;
        if (FAILED(points->FindConnectionPoint(IID_IOPCShutdown, shutdownPoint_.Out())) || !shutdownPoint_) {
            shutdownPoint_.Reset();
            return;
        }
        shutdown_ = new TCheckShutdown;
        if (FAILED(shutdownPoint_->Advise(shutdown_, &shutdownCookie_)))
            shutdownCookie_ = 0;
    }

    // ---- the server object

    void CheckServer() {
        OPCSERVERSTATUS* status = nullptr;
        HRESULT hr = intf_->GetStatus(&status);
        std::string detail;
        bool sound = false;
        if (status != nullptr) {
            const DWORD state = status->dwServerState;
            const bool known = state >= OPC_STATUS_RUNNING && state <= OPC_STATUS_TEST;
            const bool vendor = status->szVendorInfo != nullptr;
            sound = known && vendor &&
                    (status->ftCurrentTime.dwLowDateTime != 0 || status->ftCurrentTime.dwHighDateTime != 0);
            detail = known ? "state " + ServerStateToStr(status->dwServerState)
                           : Format("state %d, none of the states 1..5", state);
            detail += vendor ? ", vendor \"" + ToUtf8(status->szVendorInfo) + "\""
                             : std::string(", no vendor text");
            CoTaskMemFree(status->szVendorInfo);
            CoTaskMemFree(status);
        } else {
            detail = "no status record";
        }
        Row("IOPCServer.GetStatus", "S_OK, a state 1..5, the current time and a vendor text", hr,
            hr == S_OK && sound, detail);

        LPWSTR text = nullptr;
        hr = intf_->GetErrorString(OPC_E_UNKNOWNITEMID, kSystemDefaultLocale, &text);
        const bool hasText = text != nullptr && text[0] != 0;
        Row("IOPCServer.GetErrorString(OPC_E_UNKNOWNITEMID)", "S_OK and a text", hr, hr == S_OK && hasText,
            hasText ? "\"" + ToUtf8(text) + "\"" : std::string("no text"));
        CoTaskMemFree(text);

        // The group every later check uses, active so that cache reads are meaningful.
        DWORD revised = 0;
        hr = AddGroup(groupName_, 1000, nullptr, groupHandle_, revised, group_);
        groupClient_ = clientGroups_;
        if (revised > 0)
            groupRate_ = revised;
        Row("IOPCServer.AddGroup", "S_OK or OPC_S_UNSUPPORTEDRATE, a group and a revised rate", hr,
            OneOf(hr, {S_OK, OPC_S_UNSUPPORTEDRATE}) && group_ && revised > 0,
            group_          ? Format("revised rate %d ms", static_cast<LONG>(revised))
            : SUCCEEDED(hr) ? std::string("no group object")
                            : std::string());
        if (!group_)
            return;

        Ref<IUnknown> duplicate;
        OPCHANDLE duplicateHandle = 0;
        hr = AddGroup(groupName_, 1000, nullptr, duplicateHandle, revised, duplicate);
        if (duplicate)
            intf_->RemoveGroup(duplicateHandle, TRUE);
        Expect("IOPCServer.AddGroup(duplicate name)", hr, {OPC_E_DUPLICATENAME});

        FLOAT badBand = 150.0f;
        Ref<IUnknown> banded;
        OPCHANDLE bandedHandle = 0;
        hr = AddGroup(groupName_ + " deadband", 1000, &badBand, bandedHandle, revised, banded);
        if (banded)
            intf_->RemoveGroup(bandedHandle, TRUE);
        Expect("IOPCServer.AddGroup(deadband 150%)", hr, {E_INVALIDARG});

        Ref<IUnknown> byName;
        hr = intf_->GetGroupByName(ToWide(groupName_).c_str(), IID_IUnknown, byName.Out());
        Expect("IOPCServer.GetGroupByName", hr, {S_OK});
        Ref<IUnknown> unknown;
        hr = intf_->GetGroupByName(OLESTR("norvane-opc check: no such group"), IID_IUnknown, unknown.Out());
        Expect("IOPCServer.GetGroupByName(unknown name)", hr, {E_INVALIDARG, E_FAIL});

        hr = intf_->RemoveGroup(0xBADC0DE, FALSE);
        Expect("IOPCServer.RemoveGroup(bad handle)", hr, {E_INVALIDARG, E_FAIL});

        Ref<IUnknown> groups;
        hr = intf_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown, groups.Out());
        Row("IOPCServer.CreateGroupEnumerator", "S_OK and an enumerator", hr, hr == S_OK && groups);

        if (!da2_)
            return;
        Ref<IOPCCommon> common;
        if (Query(intf_, IID_IOPCCommon, common)) {
            hr = common->SetClientName(OLESTR("norvane-opc check"));
            Expect("IOPCCommon.SetClientName", hr, {S_OK});
            DWORD count = 0;
            LCID* locales = nullptr;
            hr = common->QueryAvailableLocaleIDs(&count, &locales);
            Row("IOPCCommon.QueryAvailableLocaleIDs", "S_OK and at least one locale", hr,
                hr == S_OK && count > 0, Format("%d locales", static_cast<LONG>(count)));
            // A locale no list offers: the language bits of 0x7FFF name none.
            LCID absent = 0x7FFF;
            bool offered = false;
            for (DWORD i = 0; i < count && locales != nullptr; ++i)
                offered = offered || locales[i] == absent;
            CoTaskMemFree(locales);
            if (!offered) {
                hr = common->SetLocaleID(absent);
                Expect("IOPCCommon.SetLocaleID(locale not offered)", hr, {E_INVALIDARG});
            }
        }
        Ref<IConnectionPointContainer> points;
        if (Query(intf_, IID_IConnectionPointContainer, points)) {
            Ref<IConnectionPoint> shutdown;
            hr = points->FindConnectionPoint(IID_IOPCShutdown, shutdown.Out());
            Row("Server.FindConnectionPoint(IOPCShutdown)", "S_OK and a connection point", hr,
                hr == S_OK && shutdown);
            Ref<IConnectionPoint> none;
            hr = points->FindConnectionPoint(IID_IOPCItemMgt, none.Out());
            Expect("Server.FindConnectionPoint(interface without a point)", hr, {CONNECT_E_NOCONNECTION});
        }
    }

    HRESULT AddGroup(const std::string& name, DWORD rate, FLOAT* deadband, OPCHANDLE& handle, DWORD& revised,
                     Ref<IUnknown>& group) {
        handle = 0;
        revised = 0;
        return intf_->AddGroup(ToWide(name).c_str(), TRUE, rate, ++clientGroups_, nullptr, deadband,
                               kSystemDefaultLocale, &handle, &revised, IID_IUnknown, group.Out());
    }

    // ---- items

    // Adds one item to the group (the check's own unless another's item management is given);
    // its server handle and the server's answer. `missing` says which result arrays a
    // successful answer came without.
    HRESULT AddItem(const std::string& id, VARTYPE requested, OPCHANDLE client, OPCHANDLE& handle,
                    HRESULT& itemError, OPCITEMRESULT* keep = nullptr, std::string* missing = nullptr,
                    IOPCItemMgt* other = nullptr) {
        record_.Progress("IOPCItemMgt.AddItems(" + id + ")");
        IOPCItemMgt* mgt = other != nullptr ? other : itemMgt_.get();
        if (other == nullptr)
            givenClients_.insert(client);
        handle = 0;
        itemError = S_OK;
        WideString wide = ToWide(id);
        OPCITEMDEF def{};
        def.szAccessPath = const_cast<LPWSTR>(OLESTR(""));
        def.szItemID = wide.data();
        def.bActive = TRUE;
        def.hClient = client;
        def.vtRequestedDataType = requested;
        OPCITEMRESULT* results = nullptr;
        Errors errors;
        HRESULT hr = mgt->AddItems(1, &def, &results, &errors.p);
        if (missing != nullptr) {
            missing->clear();
            if (SUCCEEDED(hr) && (results == nullptr || errors.p == nullptr))
                *missing = results == nullptr && errors.p == nullptr ? "neither a result nor an error array"
                           : results == nullptr                      ? "no result array"
                                                                     : "no error array";
        }
        if (errors.p != nullptr)
            itemError = errors.p[0];
        if (results != nullptr && SUCCEEDED(itemError)) {
            handle = results[0].hServer;
            if (keep != nullptr)
                *keep = results[0];
            if (other == nullptr && requested == VT_EMPTY)
                canonical_[client] = results[0].vtCanonicalDataType;
        }
        FreeItemResults(results, results != nullptr ? 1 : 0);
        return hr;
    }

    // Browses the server for items when they were not named, and adds the ones the checks use.
    // An item the server answers for without its results, or with a canonical type no value has,
    // fails a row (once) and is not used; an AddItems that takes longer than the time-out fails
    // its row and ends the search, so that a slow server is not asked for every item it has.
    void FindItems() {
        if (!group_ || !Query(group_.get(), IID_IOPCItemMgt, itemMgt_))
            return;
        std::vector<std::string> candidates;
        if (!options_.ReadItem.empty())
            candidates.push_back(options_.ReadItem);
        if (!options_.WriteItem.empty())
            candidates.push_back(options_.WriteItem);
        if (!options_.ReadOnlyItem.empty())
            candidates.push_back(options_.ReadOnlyItem);
        const bool named = !candidates.empty();
        if (!named)
            candidates = BrowseItemIDs();

        OPCHANDLE client = 100;
        bool toldUnanswered = false, toldType = false;
        for (const std::string& id : candidates) {
            OPCHANDLE handle = 0;
            HRESULT itemError = S_OK;
            OPCITEMRESULT result{};
            std::string missing;
            HRESULT hr = AddItem(id, VT_EMPTY, client++, handle, itemError, &result, &missing);
            const std::string name = "IOPCItemMgt.AddItems(" + id + ")";
            const bool slow = record_.SinceMark() > options_.TimeoutMs;
            if (!missing.empty()) {
                if (!toldUnanswered)
                    Row(name, "S_OK with the result and error arrays", hr, false, missing);
                toldUnanswered = true;
                if (slow)
                    break;
                continue;
            }
            if (slow)
                Row(name, "S_OK, item S_OK", hr, false, "item " + CodeText(itemError));
            if (FAILED(hr) || FAILED(itemError)) {
                if (slow)
                    break;
                continue;
            }
            const VARTYPE type = result.vtCanonicalDataType;
            if (!IsValueType(type) && !toldType) {
                toldType = true;
                Row(name, "S_OK, item S_OK and a canonical type a value can have", hr, false,
                    "canonical type " + TypeText(type));
            }
            const bool valid = IsValueType(type);
            const bool scalar = (type & VT_ARRAY) == 0;
            const bool readable = (result.dwAccessRights & OPC_READABLE) != 0;
            const bool writable = (result.dwAccessRights & OPC_WRITEABLE) != 0;
            CheckItem item{id, type, result.dwAccessRights};
            bool used = false;
            auto take = [&](CheckItem& slot, OPCHANDLE& slotHandle, const std::string& wanted, bool fits) {
                if (slot.Found() || !fits || (named && id != wanted))
                    return;
                slot = item;
                slotHandle = handle;
                used = true;
            };
            take(read_, readHandle_, options_.ReadItem, valid && readable && scalar);
            take(write_, writeHandle_, options_.WriteItem,
                 valid && readable && writable && scalar && IsNumeric(item.Type));
            take(readOnly_, readOnlyHandle_, options_.ReadOnlyItem, valid && readable && !writable && scalar);
            if (!used) {
                Errors errors;
                itemMgt_->RemoveItems(1, &handle, &errors.p);
            }
            if (slow || (read_.Found() && write_.Found() && readOnly_.Found()))
                break;
        }
        // Without a named read item, a writable one serves for reading too.
        if (!read_.Found() && write_.Found()) {
            read_ = write_;
            readHandle_ = writeHandle_;
        }
    }

    std::vector<std::string> BrowseItemIDs() {
        std::vector<std::string> ids;
        Ref<IOPCBrowseServerAddressSpace> browse;
        if (!Query(intf_, IID_IOPCBrowseServerAddressSpace, browse))
            return ids;
        record_.Progress("IOPCBrowseServerAddressSpace.BrowseOPCItemIDs(OPC_FLAT)");
        Ref<IEnumString> names;
        HRESULT hr = browse->BrowseOPCItemIDs(OPC_FLAT, OLESTR(""), VT_EMPTY, 0, names.Out());
        if (FAILED(hr) || !names)
            return ids;
        // How the enumerator counts is checked with the browsing; here only its names matter.
        std::string ignored;
        while (ids.size() < kScanLimit) {
            record_.Progress("IEnumString.Next");
            const std::size_t before = ids.size();
            hr = NextNames(names.get(), 100, ids, ignored);
            if (hr != S_OK || ids.size() == before)
                break;
        }
        return ids;
    }

    std::string NoItem(const char* kind, const char* option) const {
        return Format("no %s item found on the server (name one with %s)", kind, option);
    }

    void CheckItemManagement() {
        if (!read_.Found()) {
            Skip("IOPCItemMgt.AddItems", NoItem("readable", "--read-item"));
        } else {
            WideString wide = ToWide(read_.ID);
            OPCITEMDEF def{};
            def.szAccessPath = const_cast<LPWSTR>(OLESTR(""));
            def.szItemID = wide.data();
            def.bActive = TRUE;
            def.hClient = 1;
            OPCITEMRESULT* results = nullptr;
            Errors errors;
            HRESULT hr = itemMgt_->ValidateItems(1, &def, FALSE, &results, &errors.p);
            FreeItemResults(results, results != nullptr ? 1 : 0);
            ExpectItemOk("IOPCItemMgt.ValidateItems(" + read_.ID + ")", hr, errors.p);

            OPCHANDLE handle = 0;
            HRESULT itemError = S_OK;
            std::string missing;
            hr = AddItem(read_.ID, VT_EMPTY, 2, handle, itemError, nullptr, &missing);
            Row("IOPCItemMgt.AddItems(" + read_.ID + ")", "S_OK, item S_OK", hr,
                hr == S_OK && itemError == S_OK && missing.empty(),
                missing.empty() ? "item " + CodeText(itemError) : missing);
            if (SUCCEEDED(itemError) && handle != 0) {
                Errors removed;
                hr = itemMgt_->RemoveItems(1, &handle, &removed.p);
                ExpectItemOk("IOPCItemMgt.RemoveItems", hr, removed.p);
            }

            // A type no value converts to.
            hr = AddItem(read_.ID, VT_DISPATCH, 3, handle, itemError, nullptr, &missing);
            Row("IOPCItemMgt.AddItems(requested type VT_DISPATCH)", "S_FALSE, item OPC_E_BADTYPE", hr,
                hr == S_FALSE && itemError == OPC_E_BADTYPE && missing.empty(),
                missing.empty() ? "item " + CodeText(itemError) : missing);
            if (SUCCEEDED(itemError) && handle != 0) {
                Errors removed;
                itemMgt_->RemoveItems(1, &handle, &removed.p);
            }
        }

        OPCHANDLE handle = 0;
        HRESULT itemError = S_OK;
        std::string missing;
        HRESULT hr =
            AddItem("norvane-opc check: no such item", VT_EMPTY, 4, handle, itemError, nullptr, &missing);
        Row("IOPCItemMgt.AddItems(unknown item)", "S_FALSE, item OPC_E_UNKNOWNITEMID or OPC_E_INVALIDITEMID",
            hr,
            hr == S_FALSE && OneOf(itemError, {OPC_E_UNKNOWNITEMID, OPC_E_INVALIDITEMID}) && missing.empty(),
            missing.empty() ? "item " + CodeText(itemError) : missing);
        if (SUCCEEDED(itemError) && handle != 0) {
            Errors removed;
            itemMgt_->RemoveItems(1, &handle, &removed.p);
        }

        OPCITEMRESULT* results = nullptr;
        Errors none;
        OPCITEMDEF def{};
        hr = itemMgt_->AddItems(0, &def, &results, &none.p);
        FreeItemResults(results, 0);
        Expect("IOPCItemMgt.AddItems(no items)", hr, {E_INVALIDARG});

        OPCHANDLE bad = 0xBADC0DE;
        Errors active;
        hr = itemMgt_->SetActiveState(1, &bad, TRUE, &active.p);
        ExpectItemError("IOPCItemMgt.SetActiveState(bad handle)", hr, active.p, {OPC_E_INVALIDHANDLE});
        Errors removed;
        hr = itemMgt_->RemoveItems(1, &bad, &removed.p);
        ExpectItemError("IOPCItemMgt.RemoveItems(bad handle)", hr, removed.p, {OPC_E_INVALIDHANDLE});
    }

    // ---- group state

    void CheckGroupState() {
        Ref<IOPCGroupStateMgt> state;
        if (!Query(group_.get(), IID_IOPCGroupStateMgt, state)) {
            Expect("Group.QueryInterface(IOPCGroupStateMgt)", E_NOINTERFACE, {S_OK});
            return;
        }
        DWORD rate = 0;
        BOOL active = FALSE;
        LPWSTR name = nullptr;
        LONG bias = 0;
        FLOAT band = 0;
        DWORD lcid = 0;
        OPCHANDLE client = 0, serverHandle = 0;
        HRESULT hr = state->GetState(&rate, &active, &name, &bias, &band, &lcid, &client, &serverHandle);
        const std::string got = name != nullptr ? ToUtf8(name) : std::string();
        CoTaskMemFree(name);
        Row("IOPCGroupStateMgt.GetState", "S_OK with the group's own name and handles", hr,
            hr == S_OK && got == groupName_ && serverHandle == groupHandle_ && active == TRUE,
            "name \"" + got + "\"");

        FLOAT badBand = 150.0f;
        DWORD revised = 0;
        hr = state->SetState(nullptr, &revised, nullptr, nullptr, &badBand, nullptr, nullptr);
        Expect("IOPCGroupStateMgt.SetState(deadband 150%)", hr, {E_INVALIDARG});

        DWORD fast = 1;
        hr = state->SetState(&fast, &revised, nullptr, nullptr, nullptr, nullptr, nullptr);
        Row("IOPCGroupStateMgt.SetState(update rate 1 ms)",
            "S_OK or OPC_S_UNSUPPORTEDRATE with a revised rate", hr,
            OneOf(hr, {S_OK, OPC_S_UNSUPPORTEDRATE}) && revised >= 1 && (hr == S_OK) == (revised == 1),
            Format("revised rate %d ms", static_cast<LONG>(revised)));
        DWORD normal = 1000;
        revised = 0;
        if (SUCCEEDED(state->SetState(&normal, &revised, nullptr, nullptr, nullptr, nullptr, nullptr)) &&
            revised > 0)
            groupRate_ = revised;

        OPCHANDLE otherHandle = 0;
        hr = AddGroup(groupName_ + " 2", 1000, nullptr, otherHandle, revised, second_);
        if (second_) {
            secondHandle_ = otherHandle;
            hr = state->SetName(ToWide(groupName_ + " 2").c_str());
            Expect("IOPCGroupStateMgt.SetName(name of another group)", hr, {OPC_E_DUPLICATENAME});
        } else {
            Skip("IOPCGroupStateMgt.SetName(name of another group)", "a second group could not be added");
        }
    }

    // ---- synchronous reads and writes

    void CheckSyncIO() {
        Ref<IOPCSyncIO> sync;
        if (!Query(group_.get(), IID_IOPCSyncIO, sync)) {
            Expect("Group.QueryInterface(IOPCSyncIO)", E_NOINTERFACE, {S_OK});
            return;
        }
        if (!read_.Found()) {
            Skip("IOPCSyncIO.Read", NoItem("readable", "--read-item"));
        } else {
            for (OPCDATASOURCE source : {OPC_DS_CACHE, OPC_DS_DEVICE}) {
                OPCITEMSTATE* states = nullptr;
                Errors errors;
                HRESULT hr = sync->Read(source, 1, &readHandle_, &states, &errors.p);
                const bool answered = states != nullptr;
                const WORD quality = answered ? states[0].wQuality : 0;
                const VARTYPE type = answered ? states[0].vDataValue.vt : static_cast<VARTYPE>(VT_EMPTY);
                FreeItemStates(states, answered ? 1 : 0);
                // Asked for no type of its own, the item's value comes in its canonical type.
                const bool typed = type == VT_EMPTY || read_.Type == VT_EMPTY || type == read_.Type;
                std::string more = answered ? "quality " + QualityToStr(quality) : std::string("no value");
                if (!typed)
                    more +=
                        "; value in " + TypeText(type) + ", its canonical type is " + TypeText(read_.Type);
                ExpectItemOk(
                    Format("IOPCSyncIO.Read(%s, %s)", source == OPC_DS_CACHE ? "cache" : "device", read_.ID),
                    hr, errors.p, more, (quality & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD && typed);
            }
        }
        OPCHANDLE bad = 0xBADC0DE;
        {
            OPCITEMSTATE* states = nullptr;
            Errors errors;
            HRESULT hr = sync->Read(OPC_DS_CACHE, 1, &bad, &states, &errors.p);
            FreeItemStates(states, states != nullptr ? 1 : 0);
            ExpectItemError("IOPCSyncIO.Read(bad handle)", hr, errors.p, {OPC_E_INVALIDHANDLE});
        }
        {
            OPCITEMSTATE* states = nullptr;
            Errors errors;
            OPCHANDLE handle = read_.Found() ? readHandle_ : bad;
            HRESULT hr = sync->Read(static_cast<OPCDATASOURCE>(7), 1, &handle, &states, &errors.p);
            FreeItemStates(states, states != nullptr ? 1 : 0);
            Expect("IOPCSyncIO.Read(data source 7)", hr, {E_INVALIDARG});
        }

        if (!write_.Found()) {
            Skip("IOPCSyncIO.Write", NoItem("writable numeric", "--write-item"));
        } else {
            // The value read is written back, so the check changes nothing on the server.
            OPCITEMSTATE* states = nullptr;
            Errors readErrors;
            sync->Read(OPC_DS_DEVICE, 1, &writeHandle_, &states, &readErrors.p);
            const bool readBack = states != nullptr && SUCCEEDED(readErrors.First());
            VARIANT value;
            VariantInit(&value);
            if (readBack)
                VariantCopy(&value, &states[0].vDataValue);
            FreeItemStates(states, states != nullptr ? 1 : 0);
            writeBack_ = value;
        }
        if (write_.Found() && writeBack_.vt == VT_EMPTY) {
            Skip("IOPCSyncIO.Write(" + write_.ID + ")", "its value could not be read to write it back");
        } else if (write_.Found()) {
            VARIANT& value = writeBack_;
            Errors errors;
            HRESULT hr = sync->Write(1, &writeHandle_, &value, &errors.p);
            ExpectItemOk("IOPCSyncIO.Write(" + write_.ID + ", " + VariantToStr(value) + ")", hr, errors.p);

            VARIANT word;
            VariantInit(&word);
            word.vt = VT_BSTR;
            word.bstrVal = SysAllocString(OLESTR("not a number"));
            Errors typeErrors;
            hr = sync->Write(1, &writeHandle_, &word, &typeErrors.p);
            VariantClear(&word);
            ExpectItemError("IOPCSyncIO.Write(text to a numeric item)", hr, typeErrors.p, {OPC_E_BADTYPE});
        }
        if (!readOnly_.Found()) {
            Skip("IOPCSyncIO.Write(read-only item)", NoItem("read-only", "--read-only-item"));
        } else {
            OPCITEMSTATE* states = nullptr;
            Errors readErrors;
            sync->Read(OPC_DS_CACHE, 1, &readOnlyHandle_, &states, &readErrors.p);
            VARIANT value;
            VariantInit(&value);
            if (states != nullptr)
                VariantCopy(&value, &states[0].vDataValue);
            FreeItemStates(states, states != nullptr ? 1 : 0);
            Errors errors;
            HRESULT hr = sync->Write(1, &readOnlyHandle_, &value, &errors.p);
            VariantClear(&value);
            ExpectItemError("IOPCSyncIO.Write(read-only item " + readOnly_.ID + ")", hr, errors.p,
                            {OPC_E_BADRIGHTS});
        }
        {
            VARIANT value;
            VariantInit(&value);
            value.vt = VT_I4;
            value.lVal = 1;
            Errors errors;
            HRESULT hr = sync->Write(1, &bad, &value, &errors.p);
            ExpectItemError("IOPCSyncIO.Write(bad handle)", hr, errors.p, {OPC_E_INVALIDHANDLE});
        }
    }

    // ---- DA 2.0 asynchronous reads and writes

    void CheckAsyncIO2() {
        if (!da2_)
            return;
        Ref<IOPCAsyncIO2> async;
        if (!Query(group_.get(), IID_IOPCAsyncIO2, async)) {
            Expect("Group.QueryInterface(IOPCAsyncIO2)", E_NOINTERFACE, {S_OK});
            return;
        }
        if (!read_.Found()) {
            Skip("IOPCAsyncIO2.Read", NoItem("readable", "--read-item"));
            return;
        }
        DWORD cancel = 0;
        {
            Errors errors;
            // Refused, if the server keeps the rules; started all the same, should it answer later.
            callback_->Started(1001);
            HRESULT hr = async->Read(1, &readHandle_, 1001, &cancel, &errors.p);
            Expect("IOPCAsyncIO2.Read(no callback connection)", hr, {CONNECT_E_NOCONNECTION});
        }
        Ref<IConnectionPointContainer> points;
        Ref<IConnectionPoint> point;
        HRESULT hr = E_NOINTERFACE;
        if (Query(group_.get(), IID_IConnectionPointContainer, points))
            hr = points->FindConnectionPoint(IID_IOPCDataCallback, point.Out());
        if (!Expect("Group.FindConnectionPoint(IOPCDataCallback)", hr, {S_OK}) || !point)
            return;
        DWORD cookie = 0;
        hr = point->Advise(callback_.Sink(), &cookie);
        if (!Expect("IConnectionPoint.Advise(IOPCDataCallback)", hr, {S_OK}))
            return;
        const auto advised = std::chrono::steady_clock::now();

        const int timeout = options_.TimeoutMs;
        CheckSubscription();
        auto completion = [&](const std::string& name, TCheckCallback::Kind kind, DWORD id) {
            record_.Progress(name);
            DWORD stray = 0;
            TCheckCallback::Completion c = callback_->Wait(kind, id, timeout, &stray);
            // The wait has its own limit; the row's time is that of the calls after it.
            record_.Progress(name);
            if (!c.Arrived) {
                Row(name, "a completion with the same transaction ID", S_OK, false,
                    stray != 0
                        ? Format("a completion for transaction %d, which was never started, came instead",
                                 stray)
                        : Format("none within %d ms", timeout));
                return;
            }
            Row(name, "a completion with the same transaction ID and item S_OK", c.MasterError,
                c.Count == 1 && c.Arrays && c.FirstError == S_OK,
                c.Arrays
                    ? Format("%d items, first item %s", static_cast<LONG>(c.Count), CodeText(c.FirstError))
                    : Format("%d items without their arrays", static_cast<LONG>(c.Count)));
        };
        {
            Errors errors;
            callback_->Started(1002);
            hr = async->Read(1, &readHandle_, 1002, &cancel, &errors.p);
            ExpectItemOk("IOPCAsyncIO2.Read(" + read_.ID + ")", hr, errors.p);
            if (SUCCEEDED(hr))
                completion("IOPCDataCallback.OnReadComplete", TCheckCallback::kRead, 1002);
        }
        if (write_.Found() && writeBack_.vt != VT_EMPTY) {
            Errors errors;
            VARIANT value;
            VariantInit(&value);
            VariantCopy(&value, &writeBack_);
            callback_->Started(1003);
            hr = async->Write(1, &writeHandle_, &value, 1003, &cancel, &errors.p);
            VariantClear(&value);
            ExpectItemOk("IOPCAsyncIO2.Write(" + write_.ID + ")", hr, errors.p);
            if (SUCCEEDED(hr))
                completion("IOPCDataCallback.OnWriteComplete", TCheckCallback::kWrite, 1003);
        }
        callback_->Started(1004);
        hr = async->Refresh2(OPC_DS_CACHE, 1004, &cancel);
        if (Expect("IOPCAsyncIO2.Refresh2", hr, {S_OK})) {
            const std::string name = "IOPCDataCallback.OnDataChange(refresh)";
            record_.Progress(name);
            DWORD stray = 0;
            TCheckCallback::Completion c =
                callback_->Wait(TCheckCallback::kDataChange, 1004, timeout, &stray);
            record_.Progress(name);
            Row(name, "a data change with the refresh's transaction ID", c.MasterError,
                c.Arrived && c.Count >= 1 && c.Arrays,
                c.Arrived ? Format(c.Arrays ? "%d items" : "%d items without their arrays",
                                   static_cast<LONG>(c.Count))
                : stray != 0
                    ? Format("a data change for transaction %d, which was never started, came instead", stray)
                    : Format("none within %d ms", timeout));
        }
        {
            OPCHANDLE bad = 0xBADC0DE;
            Errors errors;
            callback_->Started(1005);
            hr = async->Read(1, &bad, 1005, &cancel, &errors.p);
            ExpectItemError("IOPCAsyncIO2.Read(bad handle)", hr, errors.p, {OPC_E_INVALIDHANDLE});
        }

        // Since the Advise: the first answer, and one more at most for every update period that
        // began (and one for a change the writes made).
        {
            const LONG elapsed = static_cast<LONG>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                       std::chrono::steady_clock::now() - advised)
                                                       .count());
            const int changes = callback_->DataChanges();
            const LONG allowed = 2 + elapsed / static_cast<LONG>(std::max<DWORD>(groupRate_, 1)) + 1;
            Verdict("IOPCDataCallback.OnDataChange(update rate)",
                    Format("no more subscription data changes than the update rate (%d ms) allows",
                           static_cast<LONG>(groupRate_)),
                    changes <= allowed, Format("%d data changes in %d ms", changes, elapsed));
        }

        // The group goes inactive first: a sound server then has nothing to send while Unadvise
        // runs, so anything that comes is the server's doing, not a race with an update.
        Ref<IOPCGroupStateMgt> state;
        bool inactive = false;
        if (Query(group_.get(), IID_IOPCGroupStateMgt, state)) {
            BOOL off = FALSE;
            DWORD revised = 0;
            inactive =
                SUCCEEDED(state->SetState(nullptr, &revised, &off, nullptr, nullptr, nullptr, nullptr));
        }
        callback_->SetPhase(TCheckCallback::kUnadvising);
        hr = point->Unadvise(cookie);
        callback_->SetPhase(TCheckCallback::kUnadvised);
        const int during = callback_->DataChangesIn(TCheckCallback::kUnadvising);
        Row("IConnectionPoint.Unadvise", "S_OK, and no data change for the inactive group while it runs", hr,
            hr == S_OK && (!inactive || during == 0),
            during > 0 ? Format("%d data change(s) came before it returned", during) : std::string());
        CheckLateCallbacks();
        if (inactive) {
            BOOL on = TRUE;
            DWORD revised = 0;
            state->SetState(nullptr, &revised, &on, nullptr, nullptr, nullptr, nullptr);
        }
        hr = point->Unadvise(cookie);
        Expect("IConnectionPoint.Unadvise(same cookie again)", hr, {CONNECT_E_NOCONNECTION});
    }

    // The subscription's first answer, which comes of itself after the Advise: every active item
    // of the group, under the group's own client handle and the items' own, with the arrays, and
    // (asked for no type of their own) values in their canonical types.
    void CheckSubscription() {
        const std::string name = "IOPCDataCallback.OnDataChange(subscription)";
        const std::string expected =
            "a data change for the group's handle and its items' handles, with its arrays and values in "
            "their "
            "canonical types";
        record_.Progress(name);
        callback_->WaitForDataChanges(1, options_.TimeoutMs);
        record_.Progress(name);
        TCheckCallback::Call first;
        if (!callback_->FirstDataChange(first)) {
            Verdict(name, expected, false, Format("none within %d ms of the Advise", options_.TimeoutMs));
            return;
        }
        const DWORD count = first.completion.Count;
        std::string problem;
        if (first.hGroup != groupClient_) {
            problem = Format("group handle %d, not the group's %d", static_cast<LONG>(first.hGroup),
                             static_cast<LONG>(groupClient_));
        } else if (!first.completion.Arrays) {
            problem = Format("%d items without their arrays", static_cast<LONG>(count));
        } else if (count == 0) {
            problem = "no items";
        }
        for (std::size_t i = 0; problem.empty() && i < first.handles.size(); ++i) {
            const OPCHANDLE h = first.handles[i];
            if (givenClients_.count(h) == 0) {
                problem = Format("client handle %d, which the group never gave", static_cast<LONG>(h));
                break;
            }
            const auto canonical = canonical_.find(h);
            const VARTYPE type = i < first.types.size() ? first.types[i] : static_cast<VARTYPE>(VT_EMPTY);
            if (canonical != canonical_.end() && canonical->second != VT_EMPTY && type != VT_EMPTY &&
                SUCCEEDED(first.errors[i]) && type != canonical->second) {
                problem = Format("the value of client handle %d in %s, its canonical type is %s",
                                 static_cast<LONG>(h), TypeText(type), TypeText(canonical->second));
            }
        }
        Verdict(name, expected, problem.empty(),
                problem.empty() ? Format("%d items", static_cast<LONG>(count)) : problem);
    }

    // Once Unadvise has returned, the sink hears nothing more. A second group's subscription
    // makes the server busy again meanwhile: a server that still holds the old sink calls it
    // with that group's first answer.
    void CheckLateCallbacks() {
        const std::string name = "IConnectionPoint.Unadvise(no callbacks after it)";
        const std::string expected = "no data change to the sink once Unadvise has returned";
        Ref<IOPCItemMgt> items;
        Ref<IConnectionPointContainer> points;
        Ref<IConnectionPoint> point;
        if (!second_ || !Query(second_.get(), IID_IOPCItemMgt, items) ||
            !Query(second_.get(), IID_IConnectionPointContainer, points) ||
            FAILED(points->FindConnectionPoint(IID_IOPCDataCallback, point.Out())) || !point) {
            Skip(name, "no second group to keep the server busy");
            return;
        }
        OPCHANDLE handle = 0;
        HRESULT itemError = S_OK;
        const HRESULT added =
            AddItem(read_.ID, VT_EMPTY, 900, handle, itemError, nullptr, nullptr, items.get());
        TCheckCallbackRef probe;
        DWORD cookie = 0;
        const bool advised =
            SUCCEEDED(added) && SUCCEEDED(itemError) && SUCCEEDED(point->Advise(probe.Sink(), &cookie));
        record_.Progress(name);
        const bool busy = advised && probe->WaitForDataChanges(1, options_.TimeoutMs);
        // What the old sink gets comes with that answer, perhaps from another of the server's
        // threads: a moment more for it.
        callback_->WaitForDataChanges(callback_->DataChanges() + 1, 200);
        record_.Progress(name);
        const int late = callback_->DataChangesIn(TCheckCallback::kUnadvised);
        if (advised)
            point->Unadvise(cookie);
        if (SUCCEEDED(itemError) && handle != 0) {
            Errors removed;
            items->RemoveItems(1, &handle, &removed.p);
        }
        Verdict(name, expected, late == 0,
                late > 0 ? Format("%d data change(s) came after it", late)
                : busy   ? std::string("none while another group got its first data change")
                         : Format("none within %d ms", options_.TimeoutMs + 200));
    }

    // ---- DA 1.0a asynchronous reads

    void CheckAsyncIO() {
        Ref<IOPCAsyncIO> async;
        if (!Query(group_.get(), IID_IOPCAsyncIO, async)) {
            if (!da2_)
                Expect("Group.QueryInterface(IOPCAsyncIO)", E_NOINTERFACE, {S_OK});
            return;
        }
        if (!read_.Found())
            return;
        DWORD transaction = 0;
        Errors errors;
        HRESULT hr = async->Read(0xBADC0DE, OPC_DS_CACHE, 1, &readHandle_, &transaction, &errors.p);
        Expect("IOPCAsyncIO.Read(connection never advised)", hr, {CONNECT_E_NOCONNECTION, E_INVALIDARG});
        hr = async->Refresh(0xBADC0DE, OPC_DS_CACHE, &transaction);
        Expect("IOPCAsyncIO.Refresh(connection never advised)", hr, {CONNECT_E_NOCONNECTION, E_INVALIDARG});
    }

    // ---- browsing

    void CheckBrowsing() {
        Ref<IOPCBrowseServerAddressSpace> browse;
        if (!Query(intf_, IID_IOPCBrowseServerAddressSpace, browse)) {
            Skip("IOPCBrowseServerAddressSpace", "the server does not offer it");
            return;
        }
        OPCNAMESPACETYPE organisation = OPC_NS_FLAT;
        HRESULT hr = browse->QueryOrganization(&organisation);
        Row("IOPCBrowseServerAddressSpace.QueryOrganization", "S_OK, hierarchical or flat", hr,
            hr == S_OK && (organisation == OPC_NS_HIERARCHIAL || organisation == OPC_NS_FLAT),
            hr != S_OK                           ? std::string()
            : organisation == OPC_NS_HIERARCHIAL ? "hierarchical"
                                                 : "flat");

        Ref<IEnumString> names;
        hr = browse->BrowseOPCItemIDs(OPC_FLAT, OLESTR(""), VT_EMPTY, 0, names.Out());
        Row("IOPCBrowseServerAddressSpace.BrowseOPCItemIDs(OPC_FLAT)", "S_OK or S_FALSE and an enumerator",
            hr, OneOf(hr, {S_OK, S_FALSE}) && names);
        if (SUCCEEDED(hr) && names) {
            // Every name, a batch at a time: S_OK for a full batch, S_FALSE for the last short one.
            const std::string name = "IEnumString.Next(100 names at a time)";
            std::vector<std::string> all;
            std::string problem;
            HRESULT next = S_OK;
            while (all.size() < kEnumLimit) {
                record_.Progress(name);
                const std::size_t before = all.size();
                next = NextNames(names.get(), 100, all, problem);
                if (next != S_OK || all.size() == before)
                    break;
            }
            Row(name, "S_OK with as many names as asked for, S_FALSE with fewer once they run out", next,
                SUCCEEDED(next) && problem.empty(),
                problem.empty() ? Format("%d names", static_cast<LONG>(all.size())) : problem);
        }
        names.Reset();
        hr = browse->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(99), OLESTR(""), VT_EMPTY, 0, names.Out());
        Expect("IOPCBrowseServerAddressSpace.BrowseOPCItemIDs(browse type 99)", hr, {E_INVALIDARG});
        names.Reset();

        if (organisation != OPC_NS_HIERARCHIAL)
            return;
        hr = browse->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR(""));
        hr = browse->ChangeBrowsePosition(OPC_BROWSE_UP, OLESTR(""));
        Expect("IOPCBrowseServerAddressSpace.ChangeBrowsePosition(up from the root)", hr,
               {E_FAIL, E_INVALIDARG});
        hr = browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, OLESTR("norvane-opc check: no such branch"));
        Expect("IOPCBrowseServerAddressSpace.ChangeBrowsePosition(down into an unknown branch)", hr,
               {E_INVALIDARG, E_FAIL});
        hr = browse->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR("norvane-opc check: no such branch"));
        Expect("IOPCBrowseServerAddressSpace.ChangeBrowsePosition(to an unknown item ID)", hr,
               {E_INVALIDARG, E_FAIL});
        hr = browse->ChangeBrowsePosition(static_cast<OPCBROWSEDIRECTION>(99), OLESTR(""));
        Expect("IOPCBrowseServerAddressSpace.ChangeBrowsePosition(direction 99)", hr, {E_INVALIDARG});
        browse->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR(""));
    }

    // ---- item properties

    void CheckProperties() {
        Ref<IOPCItemProperties> properties;
        if (!Query(intf_, IID_IOPCItemProperties, properties))
            return;
        if (!read_.Found()) {
            Skip("IOPCItemProperties.QueryAvailableProperties", NoItem("readable", "--read-item"));
            return;
        }
        WideString id = ToWide(read_.ID);
        DWORD count = 0;
        DWORD* ids = nullptr;
        LPWSTR* descriptions = nullptr;
        VARTYPE* types = nullptr;
        HRESULT hr = properties->QueryAvailableProperties(id.data(), &count, &ids, &descriptions, &types);
        int standard = 0;
        for (DWORD i = 0; i < count && ids != nullptr; ++i) {
            standard += ids[i] >= 1 && ids[i] <= 6;
            if (descriptions != nullptr)
                CoTaskMemFree(descriptions[i]);
        }
        CoTaskMemFree(ids);
        CoTaskMemFree(descriptions);
        CoTaskMemFree(types);
        Row("IOPCItemProperties.QueryAvailableProperties(" + read_.ID + ")",
            "S_OK with the properties 1 to 6", hr, hr == S_OK && standard == 6,
            Format("%d properties", static_cast<LONG>(count)));

        WideString unknown = ToWide("norvane-opc check: no such item");
        count = 0;
        hr = properties->QueryAvailableProperties(unknown.data(), &count, &ids, &descriptions, &types);
        for (DWORD i = 0; i < count && descriptions != nullptr; ++i)
            CoTaskMemFree(descriptions[i]);
        if (SUCCEEDED(hr)) {
            CoTaskMemFree(ids);
            CoTaskMemFree(descriptions);
            CoTaskMemFree(types);
        }
        Expect("IOPCItemProperties.QueryAvailableProperties(unknown item)", hr,
               {OPC_E_UNKNOWNITEMID, OPC_E_INVALIDITEMID});

        DWORD wanted[2] = {OPC_PROPERTY_DATATYPE, 0x7FFFFFF0};
        VARIANT* values = nullptr;
        Errors errors;
        hr = properties->GetItemProperties(id.data(), 2, wanted, &values, &errors.p);
        const bool firstOk = errors.p != nullptr && errors.p[0] == S_OK;
        const HRESULT second = errors.p != nullptr ? errors.p[1] : S_OK;
        if (values != nullptr) {
            VariantClear(&values[0]);
            VariantClear(&values[1]);
            CoTaskMemFree(values);
        }
        Row("IOPCItemProperties.GetItemProperties(data type, unknown property)",
            "S_FALSE, first S_OK, second OPC_E_INVALID_PID", hr,
            hr == S_FALSE && firstOk && second == OPC_E_INVALID_PID, "second " + CodeText(second));
    }

    void RemoveGroups() {
        record_.Progress("IOPCServer.RemoveGroup");
        VariantClear(&writeBack_);
        itemMgt_.Reset();
        group_.Reset();
        second_.Reset();
        if (groupHandle_ != 0)
            intf_->RemoveGroup(groupHandle_, TRUE);
        if (secondHandle_ != 0)
            intf_->RemoveGroup(secondHandle_, TRUE);
        if (shutdownCookie_ != 0)
            shutdownPoint_->Unadvise(shutdownCookie_);
        shutdownCookie_ = 0;
        shutdownPoint_.Reset();
    }

    TNvOPCServer& server_;
    IOPCServer* intf_;
    const TNvCliCheckOptions& options_;
    TCheckRecord& record_;
    bool da2_ = false;
    bool stopped_ = false;

    const std::string groupName_ = "norvane-opc check";
    OPCHANDLE clientGroups_ = 0;
    Ref<IUnknown> group_;
    OPCHANDLE groupHandle_ = 0;
    OPCHANDLE groupClient_ = 0;
    DWORD groupRate_ = 1000;
    Ref<IUnknown> second_;
    OPCHANDLE secondHandle_ = 0;
    Ref<IOPCItemMgt> itemMgt_;
    CheckItem read_, write_, readOnly_;
    OPCHANDLE readHandle_ = 0, writeHandle_ = 0, readOnlyHandle_ = 0;
    // Every client handle the check gave its group's items, and the canonical types the server
    // named for those asked for no type of their own.
    std::set<OPCHANDLE> givenClients_;
    std::map<OPCHANDLE, VARTYPE> canonical_;
    VARIANT writeBack_{};
    TCheckCallbackRef callback_;
    TCheckShutdown* shutdown_ = nullptr;
    Ref<IConnectionPoint> shutdownPoint_;
    DWORD shutdownCookie_ = 0;
};

// The ITEM=VALUE writes before the checks, converted to each item's own type.
bool ApplySetup(TNvOPCServer& server, const std::vector<std::string>& setup) {
    if (setup.empty())
        return true;
    TNvOPCGroup group;
    group.SetGroupName("norvane-opc set-up");
    group.SetSyncTimerEnabled(false);
    group.SetServer(&server);
    bool ok = true;
    for (const std::string& entry : setup) {
        const std::size_t equals = entry.find('=');
        const std::string id = entry.substr(0, equals);
        const std::string text = equals == std::string::npos ? std::string() : entry.substr(equals + 1);
        try {
            TNvOPCItem* item = group.AddItem(id);
            VARIANT value;
            VariantInit(&value);
            value.vt = VT_BSTR;
            value.bstrVal = SysAllocString(ToWide(text).c_str());
            try {
                group.WriteItem(item, value, true, false);
            } catch (...) {
                VariantClear(&value);
                throw;
            }
            VariantClear(&value);
        } catch (const std::exception& e) {
            ReportError("--set " + entry + ": " + e.what());
            ok = false;
        }
    }
    return ok;
}

}  // namespace

int RunCheck(const TNvCliCheckOptions& options, TNvCliOutput& out) {
    auto server = ConnectServer(options.Server);
    // From here on every call is watched: one that never returns ends the check.
    TCheckRecord record(out, options.TimeoutMs);
    record.StartWatch();
    record.Progress("the --set writes");
    if (!ApplySetup(*server, options.Setup))
        return kExitFailed;
    int status = kExitFailed;
    {
        TChecker checker(*server, options, record);
        status = checker.Run();
        record.Progress("letting the server go");
        server->SetConnected(false);
    }
    record.StopWatch();
    return status;
}

}  // namespace nv::cli
