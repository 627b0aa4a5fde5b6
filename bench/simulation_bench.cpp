// The simulation server's own cost per delivered change, so that it can be told apart from the
// client's in the client's benchmarks. Every figure is items (changes) per second of wall time,
// with sinks that only count: what remains is the server's sampling, conversion, packing and
// the callback itself.
//
//   BM_Refresh2/N        a device refresh of N items answered through IOPCDataCallback
//   BM_DA1Refresh/N      the same through a DA 1.0a data stream (packing included)
//   BM_Subscription/N    N ramps in one group at 10 ms: changes delivered per second
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "opc/include/opc.h"
#include "platform/NvWide.h"
#include "platform/win32.h"
#include "simulation/SimulationIds.h"

namespace {

// Counts callbacks and the items in them; nothing is copied.
class CountingSink final : public IOPCDataCallback, public IAdviseSink {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IOPCDataCallback) {
            *ppv = static_cast<IOPCDataCallback*>(this);
        } else if (riid == IID_IAdviseSink) {
            *ppv = static_cast<IAdviseSink*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount, OPCHANDLE*,
                                           VARIANT*, WORD*, FILETIME*, HRESULT*) override {
        Count(dwCount);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount, OPCHANDLE*,
                                             VARIANT*, WORD*, FILETIME*, HRESULT*) override {
        Count(dwCount);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*,
                                              HRESULT*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }
    void STDMETHODCALLTYPE OnDataChange(FORMATETC*, STGMEDIUM* medium) override {
        DWORD count = 0;
        if (auto* p = static_cast<const OPCGROUPHEADER*>(GlobalLock(medium->hGlobal))) {
            count = p->dwItemCount;
            GlobalUnlock(medium->hGlobal);
        }
        Count(count);
    }
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override {}

    void Count(DWORD items) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++calls_;
            items_ += items;
        }
        cv_.notify_all();
    }
    uint64_t Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    uint64_t Items() {
        std::lock_guard<std::mutex> lock(mutex_);
        return items_;
    }
    void WaitForCalls(uint64_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] { return calls_ >= n; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    uint64_t calls_ = 0;
    uint64_t items_ = 0;
};

// A configuration folder whose user registry gives the flat class 100000 Bulk items.
void UseBenchRegistry() {
    static bool done = false;
    if (done)
        return;
    done = true;
    char pattern[] = "/tmp/nv-simbench-XXXXXX";
    if (!mkdtemp(pattern))
        return;
    std::string dir = std::string(pattern) + "/norvane-opc-client/registry";
    std::filesystem::create_directories(dir);
    OLECHAR clsid[40] = {};
    StringFromGUID2(nv::sim::CLSID_SimulationFlat, clsid, 40);
    std::ofstream(dir + "/bench.reg") << "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\CLSID\\"
                                      << nv::ToUtf8(clsid) << "]\n\"BulkItems\"=dword:000186a0\n";
    setenv("XDG_CONFIG_HOME", pattern, 1);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
}

struct Setup {
    IOPCServer* server = nullptr;
    IOPCItemMgt* group = nullptr;
    OPCHANDLE hGroup = 0;

    Setup(int items, DWORD rate) {
        UseBenchRegistry();
        CoCreateInstance(nv::sim::CLSID_SimulationFlat, nullptr, CLSCTX_ALL, IID_IOPCServer,
                         reinterpret_cast<void**>(&server));
        DWORD revised = 0;
        server->AddGroup(OLESTR("bench"), TRUE, rate, 1, nullptr, nullptr, 0, &hGroup, &revised,
                         IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(&group));
        std::vector<nv::WideString> ids;
        for (int i = 1; i <= items; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Bulk.Item%06d", i);
            ids.push_back(nv::ToWide(name));
        }
        std::vector<OPCITEMDEF> defs(items);
        for (int i = 0; i < items; ++i) {
            defs[i] = {};
            defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
            defs[i].bActive = TRUE;
            defs[i].hClient = static_cast<OPCHANDLE>(i);
        }
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        group->AddItems(static_cast<DWORD>(items), defs.data(), &results, &errors);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
    }
    ~Setup() {
        group->Release();
        server->RemoveGroup(hGroup, TRUE);
        server->Release();
    }
    DWORD Advise(CountingSink* sink) {
        IConnectionPointContainer* cpc = nullptr;
        group->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc));
        IConnectionPoint* cp = nullptr;
        cpc->FindConnectionPoint(IID_IOPCDataCallback, &cp);
        DWORD cookie = 0;
        cp->Advise(static_cast<IOPCDataCallback*>(sink), &cookie);
        cp->Release();
        cpc->Release();
        return cookie;
    }
};

void BM_Refresh2(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    Setup setup(n, 3600000);  // the subscription itself stays quiet after its first update
    CountingSink sink;
    setup.Advise(&sink);
    sink.WaitForCalls(1);
    IOPCAsyncIO2* io = nullptr;
    setup.group->QueryInterface(IID_IOPCAsyncIO2, reinterpret_cast<void**>(&io));
    DWORD transaction = 1;
    for (auto _ : state) {
        uint64_t before = sink.Calls();
        DWORD cancelId = 0;
        io->Refresh2(OPC_DS_DEVICE, transaction++, &cancelId);
        sink.WaitForCalls(before + 1);
    }
    state.SetItemsProcessed(state.iterations() * n);
    io->Release();
}
BENCHMARK(BM_Refresh2)->Arg(1000)->Arg(10000)->Arg(100000)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_DA1Refresh(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    Setup setup(n, 3600000);
    CountingSink sink;
    IDataObject* data = nullptr;
    setup.group->QueryInterface(IID_IDataObject, reinterpret_cast<void**>(&data));
    FORMATETC fe{static_cast<CLIPFORMAT>(RegisterClipboardFormatW(OPCSTMFORMATDATATIME)), nullptr,
                 DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD connection = 0;
    data->DAdvise(&fe, 0, static_cast<IAdviseSink*>(&sink), &connection);
    sink.WaitForCalls(1);
    IOPCAsyncIO* io = nullptr;
    setup.group->QueryInterface(IID_IOPCAsyncIO, reinterpret_cast<void**>(&io));
    for (auto _ : state) {
        uint64_t before = sink.Calls();
        DWORD transaction = 0;
        io->Refresh(connection, OPC_DS_DEVICE, &transaction);
        sink.WaitForCalls(before + 1);
    }
    state.SetItemsProcessed(state.iterations() * n);
    data->DUnadvise(connection);
    data->Release();
    io->Release();
}
BENCHMARK(BM_DA1Refresh)->Arg(1000)->Arg(100000)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Subscription(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    Setup setup(n, 10);
    CountingSink sink;
    setup.Advise(&sink);
    sink.WaitForCalls(1);
    uint64_t itemsBefore = sink.Items();
    for (auto _ : state) {
        sink.WaitForCalls(sink.Calls() + 1);  // one update cycle of the group
    }
    state.SetItemsProcessed(static_cast<int64_t>(sink.Items() - itemsBefore));
}
BENCHMARK(BM_Subscription)->Arg(1000)->Arg(100000)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
