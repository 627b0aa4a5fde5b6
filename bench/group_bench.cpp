// The client core's data path against the simulation server, in this process, transaction log
// off. Prints one line per figure, "bench <name>: <value> <unit>":
//
//   connect-N            a group of N items connected: AddGroup and one AddItems batch
//   datachange-N         one data change of N items, from the server's callback entry to the
//                        items' values on the window thread (the callback is made from a thread of
//                        the benchmark's, with arrays prepared beforehand, so the server's own
//                        sampling is not counted)
//   refresh-N            the same change as a whole round trip: AsyncRefresh to the items' values,
//                        the server's reading and packing included
//   sustained-10000x10ms item updates per second reaching the items, 10 000 ramps at 10 ms
//   lag-10000x10ms       how old the newest value is when the window thread takes it at the end
//   baseline-copy        the floor under the same load: a bare callback that copies the values,
//                        qualities and time stamps into an array and posts one notice per callback
//   overhead-ratio       sustained / baseline
//
// Usage: group_bench [seconds of each sustained run, default 5]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/NvConvert.h"
#include "foundation/NvEventLoop.h"
#include "opc/NvOPCGroup.h"
#include "opc/NvOPCServer.h"
#include "platform/NvWide.h"
#include "simulation/SimulationIds.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace nv;

constexpr int kBulkItems = 100000;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Print(const char* name, double value, const char* unit) {
    const int decimals = value >= 100 ? 0 : value >= 1 ? 2 : 4;
    std::printf("bench %s: %.*f %s\n", name, decimals, value, unit);
    std::fflush(stdout);
}

// A configuration folder whose user registry gives the flat class 100 000 Bulk items.
void UseBenchRegistry() {
    char pattern[] = "/tmp/nv-groupbench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    std::string dir = std::string(pattern) + "/norvane-opc-client/registry";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/bench.reg") << "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\CLSID\\"
                                      << GuidToRegistryString(sim::CLSID_SimulationFlat)
                                      << "]\n\"BulkItems\"=dword:000186a0\n";
    setenv("XDG_CONFIG_HOME", pattern, 1);
}

std::vector<std::string> BulkIDs(int n) {
    std::vector<std::string> ids;
    ids.reserve(n);
    for (int i = 1; i <= n; ++i)
        ids.push_back(Format("Bulk.Item%.6d", i));
    return ids;
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 60000) {
    return ProcessMessagesUntil(done, timeoutMs);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double ConnectMs(TNvOPCServer& server, int n) {
    std::vector<double> runs;
    for (int r = 0; r < 3; ++r) {
        TNvOPCGroup group;
        group.AddItems(BulkIDs(n));
        auto start = Clock::now();
        group.SetServer(&server);
        runs.push_back(Ms(Clock::now() - start));
        if (!group.Connected() || !group.Items(n - 1)->GetConnected()) {
            std::fprintf(stderr, "connect-%d: the group did not connect\n", n);
            std::exit(1);
        }
    }
    return Median(runs);
}

// An asynchronous group of n Bulk items whose subscription stays quiet after its first answer;
// `changes` counts its data changes.
std::unique_ptr<TNvOPCGroup> QuietSubscription(TNvOPCServer& server, int n, int& changes) {
    auto group = std::make_unique<TNvOPCGroup>();
    group->SetUpdateRate(3600000);
    group->SetActive(true);
    group->SetAsync(true);
    group->AddItems(BulkIDs(n));
    group->SetServer(&server);
    group->OnDataChange = [&changes](TObject*, TNvOPCTransaction*) { ++changes; };
    PumpUntil([&] { return changes > 0; }, 10000);
    return group;
}

// One data change of every item through the group's callback entry, made from another thread.
double DataChangeMs(TNvOPCServer& server, int n) {
    int changes = 0;
    auto subscribed = QuietSubscription(server, n, changes);
    TNvOPCGroup& group = *subscribed;

    std::vector<OPCHANDLE> handles(n);
    std::vector<VARIANT> values(n);
    std::vector<WORD> qualities(n, OPC_QUALITY_GOOD);
    std::vector<FILETIME> stamps(n);
    std::vector<HRESULT> errors(n, S_OK);
    for (int i = 0; i < n; ++i) {
        handles[i] = group.Items(i)->GetClientHandle();
        VariantInit(&values[i]);
        values[i].vt = VT_R8;
        GetSystemTimeAsFileTime(&stamps[i]);
    }
    std::vector<double> runs;
    for (int r = 0; r < 7; ++r) {
        for (int i = 0; i < n; ++i)
            values[i].dblVal = r * 1000.0 + i;
        const int before = changes;
        auto start = Clock::now();
        std::thread callback([&] {
            group.DataCallback()->OnDataChange(0, group.ClientHandle(), S_OK, S_OK, static_cast<DWORD>(n),
                                               handles.data(), values.data(), qualities.data(), stamps.data(),
                                               errors.data());
        });
        PumpUntil([&] { return changes > before; });
        runs.push_back(Ms(Clock::now() - start));
        callback.join();
        if (group.Items(n - 1)->Value().dblVal != r * 1000.0 + (n - 1)) {
            std::fprintf(stderr, "datachange-%d: the last item did not get its value\n", n);
            std::exit(1);
        }
    }
    return Median(runs);
}

double RefreshMs(TNvOPCServer& server, int n) {
    int changes = 0;
    auto subscribed = QuietSubscription(server, n, changes);
    TNvOPCGroup& group = *subscribed;
    std::vector<double> runs;
    for (int r = 0; r < 5; ++r) {
        const int before = changes;
        auto start = Clock::now();
        group.AsyncRefresh();
        PumpUntil([&] { return changes > before; });
        runs.push_back(Ms(Clock::now() - start));
    }
    return Median(runs);
}

double NowUtcDays() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return FileTimeToDateTime(now);
}

struct Sustained {
    double updatesPerSecond = 0;
    double lagMs = 0;
};

Sustained RunSustained(TNvOPCServer& server, int n, double seconds) {
    TNvOPCGroup group;
    group.SetUpdateRate(10);
    group.SetActive(true);
    group.SetAsync(true);
    group.AddItems(BulkIDs(n));
    group.SetServer(&server);
    std::uint64_t updates = 0;
    double lastLag = 0;
    group.OnDataChange = [&](TObject*, TNvOPCTransaction* t) {
        updates += static_cast<std::uint64_t>(t->Count());
        lastLag = (NowUtcDays() - group.Items(0)->Timestamp()) * 86400000.0;
    };
    PumpUntil([&] { return updates > 0; }, 10000);
    updates = 0;
    auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (Clock::now() < end)
        WaitAndProcess(5);
    Sustained result;
    result.updatesPerSecond = updates / (Ms(Clock::now() - start) / 1000.0);
    result.lagMs = lastLag;
    group.SetActive(false);
    return result;
}

// The floor: the server's callback copies into an array and posts one notice; nothing else.
class BareCopySink final : public IOPCDataCallback {
public:
    explicit BareCopySink(int n) : values_(n), qualities_(n), stamps_(n) {
        for (auto& v : values_)
            VariantInit(&v);
        window_ = std::make_unique<TNvNotifyWindow>(
            [this](UINT, WPARAM, LPARAM count) { updates_ += static_cast<std::uint64_t>(count); });
    }
    ~BareCopySink() {
        for (auto& v : values_)
            VariantClear(&v);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IOPCDataCallback) {
            *ppv = static_cast<IOPCDataCallback*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE* handles,
                                           VARIANT* values, WORD* qualities, FILETIME* stamps, HRESULT*) override {
        for (DWORD i = 0; i < count && i < values_.size(); ++i) {
            VariantClear(&values_[handles[i] % values_.size()]);
            VariantCopy(&values_[handles[i] % values_.size()], &values[i]);
            qualities_[i] = qualities[i];
            stamps_[i] = stamps[i];
        }
        window_->Post(WM_USER, 0, static_cast<LPARAM>(count));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*,
                                             WORD*, FILETIME*, HRESULT*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }
    std::uint64_t Updates() const { return updates_; }
    void Reset() { updates_ = 0; }

private:
    std::vector<VARIANT> values_;
    std::vector<WORD> qualities_;
    std::vector<FILETIME> stamps_;
    std::unique_ptr<TNvNotifyWindow> window_;
    std::uint64_t updates_ = 0;
};

double RunBaseline(TNvOPCServer& server, int n, double seconds) {
    IOPCServer* raw = server.ServerIntf();
    OPCHANDLE hGroup = 0;
    DWORD revised = 0;
    IOPCItemMgt* items = nullptr;
    raw->AddGroup(OLESTR("baseline"), TRUE, 10, 99, nullptr, nullptr, 0, &hGroup, &revised, IID_IOPCItemMgt,
                  reinterpret_cast<LPUNKNOWN*>(&items));
    std::vector<WideString> ids;
    for (const std::string& id : BulkIDs(n))
        ids.push_back(ToWide(id));
    std::vector<OPCITEMDEF> defs(n);
    for (int i = 0; i < n; ++i) {
        defs[i] = {};
        defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
        defs[i].bActive = TRUE;
        defs[i].hClient = static_cast<OPCHANDLE>(i);
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    items->AddItems(static_cast<DWORD>(n), defs.data(), &results, &errors);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    BareCopySink sink(n);
    IConnectionPointContainer* container = nullptr;
    items->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    IConnectionPoint* point = nullptr;
    container->FindConnectionPoint(IID_IOPCDataCallback, &point);
    DWORD cookie = 0;
    point->Advise(static_cast<IOPCDataCallback*>(&sink), &cookie);
    PumpUntil([&] { return sink.Updates() > 0; }, 10000);
    sink.Reset();
    auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (Clock::now() < end)
        WaitAndProcess(5);
    const double perSecond = sink.Updates() / (Ms(Clock::now() - start) / 1000.0);
    point->Unadvise(cookie);
    point->Release();
    container->Release();
    items->Release();
    raw->RemoveGroup(hGroup, TRUE);
    ProcessMessages();
    return perSecond;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    UseBenchRegistry();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        TNvOPCServer server;
        server.SetStatusInterval(0);
        server.SetServerName(ToUtf8(sim::ProgID_SimulationFlat));
        server.SetConnected(true);
        if (!server.Connected()) {
            std::fprintf(stderr, "the simulation server did not connect\n");
            return 1;
        }
        for (int n : {10, 1000, kBulkItems}) {
            const std::string name = Format("connect-%d", n);
            Print(name.c_str(), ConnectMs(server, n), "ms");
        }
        for (int n : {10, 1000, kBulkItems}) {
            const std::string name = Format("datachange-%d", n);
            Print(name.c_str(), DataChangeMs(server, n), "ms");
        }
        for (int n : {10, 1000, kBulkItems}) {
            const std::string name = Format("refresh-%d", n);
            Print(name.c_str(), RefreshMs(server, n), "ms");
        }
        const Sustained sustained = RunSustained(server, 10000, seconds);
        Print("sustained-10000x10ms", sustained.updatesPerSecond, "updates/s");
        Print("lag-10000x10ms", sustained.lagMs, "ms");
        const double baseline = RunBaseline(server, 10000, seconds);
        Print("baseline-copy", baseline, "updates/s");
        Print("overhead-ratio", sustained.updatesPerSecond / baseline, "x");
        server.SetConnected(false);
    }
    CoUninitialize();
    return 0;
}
