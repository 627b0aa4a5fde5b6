// Client-side helpers for the tests of the simulation servers: they reach the module only as a
// client does, through CoCreateInstance and the published interfaces.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "opc/include/opc.h"
#include "platform/NvWide.h"
#include "platform/win32.h"
#include "simulation/SimulationIds.h"
#include "tests/windows/NvTestRegistration.h"

namespace simtest {

// Owning interface pointer for the tests.
template <typename T>
class Ptr {
public:
    Ptr() = default;
    explicit Ptr(T* p) : p_(p) {}
    Ptr(const Ptr& o) : p_(o.p_) {
        if (p_)
            p_->AddRef();
    }
    Ptr(Ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ptr& operator=(Ptr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~Ptr() { Reset(); }
    void Reset() {
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    template <typename U>
    Ptr<U> As() const {
        Ptr<U> out;
        if (p_)
            p_->QueryInterface(__uuidof(U), out.PutVoid());
        return out;
    }

private:
    T* p_ = nullptr;
};

// A VARIANT that clears itself.
struct Value {
    VARIANT v;
    Value() { VariantInit(&v); }
    explicit Value(const VARIANT& src) {
        VariantInit(&v);
        VariantCopy(&v, &src);
    }
    Value(const Value& o) : Value(o.v) {}
    Value& operator=(const Value& o) {
        if (this != &o) {
            VariantClear(&v);
            VariantCopy(&v, &o.v);
        }
        return *this;
    }
    ~Value() { VariantClear(&v); }
    static Value I4(LONG x) {
        Value r;
        r.v.vt = VT_I4;
        r.v.lVal = x;
        return r;
    }
    static Value R8(double x) {
        Value r;
        r.v.vt = VT_R8;
        r.v.dblVal = x;
        return r;
    }
    static Value Bool(bool x) {
        Value r;
        r.v.vt = VT_BOOL;
        r.v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE;
        return r;
    }
    static Value Str(const std::string& s) {
        Value r;
        r.v.vt = VT_BSTR;
        r.v.bstrVal = SysAllocString(nv::ToWide(s).c_str());
        return r;
    }
    std::string Text() const {
        return v.vt == VT_BSTR && v.bstrVal
                   ? nv::ToUtf8(nv::WideStringView(v.bstrVal, SysStringLen(v.bstrVal)))
                   : std::string();
    }
};

std::string Utf8(const OLECHAR* s);

// Waits until `pred` holds (checked under `m`), at most `seconds`; never used to measure time.
template <typename Pred>
bool WaitUntil(std::mutex& m, std::condition_variable& cv, Pred pred, double seconds = 20.0) {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, std::chrono::duration<double>(seconds), pred);
}

// Everything one IOPCDataCallback call passed, copied.
struct Callback {
    enum class Kind { DataChange, ReadComplete, WriteComplete, CancelComplete } kind;
    DWORD transactionId = 0;
    OPCHANDLE hGroup = 0;
    HRESULT masterQuality = S_OK;
    HRESULT masterError = S_OK;
    std::vector<OPCHANDLE> handles;
    std::vector<Value> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> timeStamps;
    std::vector<HRESULT> errors;
    std::thread::id thread{};
};

// A client-side callback object with one interface. It is made with one reference, which the
// test releases when it is done with it; a server's own references keep it alive meanwhile.
template <typename Interface>
class Sink : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == __uuidof(Interface)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    virtual ~Sink() = default;

private:
    std::atomic<ULONG> refs_{1};
};

class DataSink final : public Sink<IOPCDataCallback> {
public:
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                           HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                           VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                           HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                             HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                             VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                             HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                              DWORD dwCount, OPCHANDLE* pClienthandles,
                                              HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override;

    // Runs inside OnDataChange (before the call is recorded), on the server's thread.
    std::function<void(const Callback&)> onDataChange;

    std::vector<Callback> Calls();
    template <typename Pred>
    bool WaitFor(Pred pred, double seconds = 20.0) {
        return WaitUntil(
            mutex_, cv_, [&] { return pred(calls_); }, seconds);
    }
    // The first recorded call of `kind` with `transactionId`, waiting for it.
    std::optional<Callback> WaitForCall(Callback::Kind kind, DWORD transactionId, double seconds = 20.0);

private:
    void Record(Callback c);
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Callback> calls_;
};

class ShutdownSink final : public Sink<IOPCShutdown> {
public:
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) override;

    bool WaitForReason(std::string* reason, std::thread::id* thread, double seconds = 20.0);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::pair<std::string, std::thread::id>> reasons_;
};

// A DA 1.0a stream as received, parsed by the published layout.
struct StreamItem {
    OPCHANDLE hClient = 0;
    WORD quality = 0;
    FILETIME timeStamp{};
    Value value;
    HRESULT error = S_OK;  // write-complete streams
};
struct Stream {
    CLIPFORMAT format = 0;
    std::vector<BYTE> bytes;
    std::thread::id thread;
    // Parsed:
    bool valid = false;
    std::string problem;
    DWORD transactionId = 0;
    OPCHANDLE hClientGroup = 0;
    HRESULT status = S_OK;
    std::vector<StreamItem> items;
};

class StreamSink final : public Sink<IAdviseSink> {
public:
    void STDMETHODCALLTYPE OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) override;
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override {}

    template <typename Pred>
    bool WaitFor(Pred pred, double seconds = 20.0) {
        return WaitUntil(
            mutex_, cv_, [&] { return pred(streams_); }, seconds);
    }
    std::optional<Stream> WaitForTransaction(DWORD transactionId, double seconds = 20.0);
    std::vector<Stream> Streams();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Stream> streams_;
};

// Parses a data stream (withTime selects the item header) or a write-complete stream.
void ParseDataStream(Stream& s, bool withTime);
void ParseWriteCompleteStream(Stream& s);

CLIPFORMAT FormatData();
CLIPFORMAT FormatDataTime();
CLIPFORMAT FormatWriteComplete();

// The fixture every simulation test uses. On Linux it has its own configuration folder, whose
// user registry sets the Bulk branch of the DA 1.0a class to 7 items and of the flat class to
// 100000 (the hierarchical class keeps the shipped 1000). On Windows the same values are set in
// the system registry for the test's duration.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    Ptr<IOPCServer> Create(const CLSID& clsid);
    // AddGroup with the usual arguments; the group comes back as IOPCItemMgt.
    Ptr<IOPCItemMgt> AddGroup(IOPCServer* server, const std::string& name, DWORD rate = 10,
                              bool active = true, OPCHANDLE hClient = 77, OPCHANDLE* hServer = nullptr,
                              float deadband = 0.0f);
    struct Added {
        OPCHANDLE hServer;
        HRESULT error;
        VARTYPE canonical;
        DWORD access;
    };
    // AddItems of the IDs, client handles 1, 2, ...
    std::vector<Added> AddItems(IOPCItemMgt* group, const std::vector<std::string>& ids,
                                VARTYPE requested = VT_EMPTY, bool active = true, HRESULT* result = nullptr);
    HRESULT WriteSync(IOPCItemMgt* group, OPCHANDLE h, const Value& v);
    // Synchronous read of one item: error, value, quality.
    HRESULT ReadSync(IOPCItemMgt* group, OPCHANDLE h, OPCDATASOURCE source, Value* value,
                     WORD* quality = nullptr);
    // Writes a Control item through a group of its own.
    HRESULT WriteControl(IOPCServer* server, const std::string& item, const Value& v);
    DWORD AdviseData(IOPCItemMgt* group, DataSink* sink);

    std::optional<nv::test::TestRegistration> registration_;
    std::string config_;  // the temporary configuration folder (Linux)
};

}  // namespace simtest
