// DA 2.0 data flow: subscriptions, refreshes, asynchronous reads and writes and cancellation,
// all with callbacks from the server's own thread.
#include "SimTestSupport.h"

#include <atomic>
#include <map>

using namespace simtest;
using nv::sim::CLSID_Simulation;
using nv::sim::CLSID_SimulationFlat;

namespace {

class CallbackTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        server_ = Create(CLSID_Simulation);
        sink_ = new DataSink();
    }
    void TearDown() override {
        group_.Reset();
        server_.Reset();
        sink_->Release();
        SimTest::TearDown();
    }
    Ptr<IOPCServer> server_;
    Ptr<IOPCItemMgt> group_;
    DataSink* sink_ = nullptr;
};

// All subscription updates for one client handle, in order.
std::vector<Value> UpdatesOf(const std::vector<Callback>& calls, OPCHANDLE hClient) {
    std::vector<Value> out;
    for (const auto& c : calls) {
        if (c.kind != Callback::Kind::DataChange || c.transactionId != 0)
            continue;
        for (size_t i = 0; i < c.handles.size(); ++i) {
            if (c.handles[i] == hClient)
                out.push_back(c.values[i]);
        }
    }
    return out;
}

TEST_F(CallbackTest, SubscriptionDeliversChangesOfActiveItemsOnTheServersThread) {
    group_ = AddGroup(server_.Get(), "subscribed", 20, true, 555);
    auto added = AddItems(group_.Get(), {"Static.Int4", "Dynamic.Counter.Int4", "Static.Int2"});
    OPCHANDLE inactive = added[2].hServer;
    HRESULT* errors = nullptr;
    ASSERT_EQ(group_->SetActiveState(1, &inactive, FALSE, &errors), S_OK);
    CoTaskMemFree(errors);
    AdviseData(group_.Get(), sink_);

    // The first update carries every active item; changes follow for the moving one.
    ASSERT_TRUE(sink_->WaitFor([](const auto& calls) { return UpdatesOf(calls, 2).size() >= 3; }));
    auto calls = sink_->Calls();
    const Callback& first = calls.front();
    EXPECT_EQ(first.hGroup, 555u);
    EXPECT_EQ(first.transactionId, 0u);
    EXPECT_EQ(first.masterQuality, S_OK);
    EXPECT_EQ(first.masterError, S_OK);
    EXPECT_NE(first.thread, std::this_thread::get_id());
    EXPECT_EQ(UpdatesOf(calls, 1).size(), 1u);  // the static item has not changed since
    EXPECT_TRUE(UpdatesOf(calls, 3).empty());   // inactive
    auto counts = UpdatesOf(calls, 2);
    for (size_t i = 1; i < counts.size(); ++i)
        EXPECT_GT(counts[i].v.lVal, counts[i - 1].v.lVal);  // only real changes are sent

    // A write shows up as a change with the written value.
    ASSERT_EQ(WriteSync(group_.Get(), added[0].hServer, Value::I4(2024)), S_OK);
    ASSERT_TRUE(sink_->WaitFor([](const auto& calls) {
        auto v = UpdatesOf(calls, 1);
        return !v.empty() && v.back().v.lVal == 2024;
    }));
    // Activating the item later sends its value once.
    ASSERT_EQ(group_->SetActiveState(1, &inactive, TRUE, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_TRUE(sink_->WaitFor([](const auto& calls) { return UpdatesOf(calls, 3).size() == 1; }));
}

TEST_F(CallbackTest, DeadBandHoldsBackSmallChangesOfAnalogItems) {
    // The sine moves by far less than 99 % of its range between two samples.
    Ptr<IOPCItemMgt> wide = AddGroup(server_.Get(), "deadband", 10, true, 1, nullptr, 99.0f);
    Ptr<IOPCItemMgt> none = AddGroup(server_.Get(), "no deadband", 10, true, 2, nullptr, 0.0f);
    AddItems(wide.Get(), {"Dynamic.Sine.Real8", "Dynamic.Counter.Int4"});
    AddItems(none.Get(), {"Dynamic.Sine.Real8"});
    DataSink* other = new DataSink();
    AdviseData(wide.Get(), sink_);
    AdviseData(none.Get(), other);
    // The counter has no EU range, so the dead band does not apply to it.
    ASSERT_TRUE(sink_->WaitFor([](const auto& calls) { return UpdatesOf(calls, 2).size() >= 5; }));
    ASSERT_TRUE(other->WaitFor([](const auto& calls) { return UpdatesOf(calls, 1).size() >= 5; }));
    EXPECT_EQ(UpdatesOf(sink_->Calls(), 1).size(), 1u);  // only the first value
    wide.Reset();
    none.Reset();
    server_.Reset();
    other->Release();
}

TEST_F(CallbackTest, DisabledOrInactiveGroupsSendNoSubscriptionUpdates) {
    group_ = AddGroup(server_.Get(), "quiet", 10, true, 9);
    auto added = AddItems(group_.Get(), {"Static.Int4"});
    AdviseData(group_.Get(), sink_);
    ASSERT_TRUE(sink_->WaitFor([](const auto& calls) { return !calls.empty(); }));
    Ptr<IOPCAsyncIO2> io = group_.As<IOPCAsyncIO2>();
    ASSERT_EQ(io->SetEnable(FALSE), S_OK);
    BOOL enabled = TRUE;
    ASSERT_EQ(io->GetEnable(&enabled), S_OK);
    EXPECT_FALSE(enabled);
    ASSERT_EQ(WriteSync(group_.Get(), added[0].hServer, Value::I4(1)), S_OK);
    // A refresh still answers while disabled; its answer comes after any update of the write.
    DWORD cancelId = 0;
    ASSERT_EQ(io->Refresh2(OPC_DS_CACHE, 31, &cancelId), S_OK);
    ASSERT_TRUE(sink_->WaitForCall(Callback::Kind::DataChange, 31).has_value());
    EXPECT_EQ(UpdatesOf(sink_->Calls(), 1).size(), 1u);

    ASSERT_EQ(io->SetEnable(TRUE), S_OK);
    Ptr<IOPCGroupStateMgt> state = group_.As<IOPCGroupStateMgt>();
    BOOL inactive = FALSE;
    DWORD revised;
    ASSERT_EQ(state->SetState(nullptr, &revised, &inactive, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(io->Refresh2(OPC_DS_CACHE, 32, &cancelId), E_FAIL);  // nothing active to refresh
    // Reactivation sends the current values again.
    BOOL active = TRUE;
    ASSERT_EQ(state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_TRUE(sink_->WaitFor([](const auto& calls) {
        auto v = UpdatesOf(calls, 1);
        return v.size() == 2 && v.back().v.lVal == 1;
    }));
}

TEST_F(CallbackTest, RefreshAnswersWithAllActiveItemsAndTheClientsTransactionId) {
    group_ = AddGroup(server_.Get(), "refresh", 60000, true, 42);
    auto added = AddItems(group_.Get(), {"Static.Int4", "Static.String", "Static.Real8"});
    OPCHANDLE off = added[2].hServer;
    HRESULT* errors = nullptr;
    group_->SetActiveState(1, &off, FALSE, &errors);
    CoTaskMemFree(errors);
    Ptr<IOPCAsyncIO2> io = group_.As<IOPCAsyncIO2>();
    DWORD cancelId = 0;
    EXPECT_EQ(io->Refresh2(OPC_DS_DEVICE, 7, &cancelId), CONNECT_E_NOCONNECTION);  // nobody to answer to
    AdviseData(group_.Get(), sink_);
    ASSERT_EQ(io->Refresh2(OPC_DS_DEVICE, 0xABCDEF, &cancelId), S_OK);
    auto answer = sink_->WaitForCall(Callback::Kind::DataChange, 0xABCDEF);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->hGroup, 42u);
    EXPECT_EQ(answer->handles, (std::vector<OPCHANDLE>{1, 2}));
    EXPECT_EQ(answer->values[1].Text(), "Hello");
    EXPECT_NE(answer->thread, std::this_thread::get_id());
    EXPECT_EQ(io->Refresh2(static_cast<OPCDATASOURCE>(9), 1, &cancelId), E_INVALIDARG);
}

TEST_F(CallbackTest, AsyncReadAndWriteCompleteThroughCallbacks) {
    group_ = AddGroup(server_.Get(), "async", 60000, true, 3);
    auto added = AddItems(group_.Get(), {"Static.Int4", "Static.Percent", "ReadOnly.Int4"});
    AdviseData(group_.Get(), sink_);
    Ptr<IOPCAsyncIO2> io = group_.As<IOPCAsyncIO2>();

    OPCHANDLE handles[] = {added[0].hServer, added[1].hServer, added[2].hServer, 0xBAD};
    VARIANT values[4];
    for (auto& v : values) {
        VariantInit(&v);
        v.vt = VT_R8;
        v.dblVal = 250.0;
    }
    DWORD cancelId = 0;
    HRESULT* errors = nullptr;
    // Handles and rights are checked at once; the value itself when the write is done.
    ASSERT_EQ(io->Write(4, handles, values, 1001, &cancelId, &errors), S_FALSE);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], S_OK);
    EXPECT_EQ(errors[2], OPC_E_BADRIGHTS);
    EXPECT_EQ(errors[3], OPC_E_INVALIDHANDLE);
    CoTaskMemFree(errors);
    auto written = sink_->WaitForCall(Callback::Kind::WriteComplete, 1001);
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(written->hGroup, 3u);
    EXPECT_EQ(written->masterError, S_FALSE);
    ASSERT_EQ(written->handles, (std::vector<OPCHANDLE>{1, 2}));
    EXPECT_EQ(written->errors[0], S_OK);
    EXPECT_EQ(written->errors[1], OPC_E_RANGE);  // 250 % is out of range
    EXPECT_NE(written->thread, std::this_thread::get_id());

    ASSERT_EQ(io->Read(2, handles, 1002, &cancelId, &errors), S_OK);
    CoTaskMemFree(errors);
    auto read = sink_->WaitForCall(Callback::Kind::ReadComplete, 1002);
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->values.size(), 2u);
    EXPECT_EQ(read->values[0].v.lVal, 250);
    EXPECT_EQ(read->values[1].v.dblVal, 50.0);  // untouched by the refused write
    EXPECT_EQ(read->masterError, S_OK);

    // Nothing valid to read: no request is queued, and no callback will come for it.
    OPCHANDLE bad = 0xBAD;
    ASSERT_EQ(io->Read(1, &bad, 1003, &cancelId, &errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);
    CoTaskMemFree(errors);
}

TEST_F(CallbackTest, CancelledRequestsAreNotAnsweredButConfirmed) {
    group_ = AddGroup(server_.Get(), "cancel", 60000, true, 4);
    auto added = AddItems(group_.Get(), {"Static.Int4"});
    // Hold the server's thread inside a callback so that the next request has to wait.
    std::mutex m;
    std::condition_variable cv;
    bool release = false, inside = false;
    sink_->onDataChange = [&](const Callback& c) {
        if (c.transactionId != 500)
            return;
        std::unique_lock<std::mutex> lock(m);
        inside = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
    };
    AdviseData(group_.Get(), sink_);
    Ptr<IOPCAsyncIO2> io = group_.As<IOPCAsyncIO2>();
    DWORD refreshCancel = 0, readCancel = 0;
    ASSERT_EQ(io->Refresh2(OPC_DS_CACHE, 500, &refreshCancel), S_OK);
    ASSERT_TRUE(WaitUntil(m, cv, [&] { return inside; }));
    HRESULT* errors = nullptr;
    OPCHANDLE h = added[0].hServer;
    ASSERT_EQ(io->Read(1, &h, 501, &readCancel, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(io->Cancel2(readCancel), S_OK);
    EXPECT_EQ(io->Cancel2(readCancel), E_FAIL);     // already cancelled
    EXPECT_EQ(io->Cancel2(refreshCancel), E_FAIL);  // already running
    {
        std::lock_guard<std::mutex> lock(m);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(sink_->WaitForCall(Callback::Kind::CancelComplete, 501).has_value());
    // A later request is answered, and the cancelled one never was.
    ASSERT_EQ(io->Read(1, &h, 502, &readCancel, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_TRUE(sink_->WaitForCall(Callback::Kind::ReadComplete, 502).has_value());
    for (const auto& c : sink_->Calls())
        EXPECT_FALSE(c.kind == Callback::Kind::ReadComplete && c.transactionId == 501);
}

TEST_F(CallbackTest, ConnectionPointTakesOneSinkAndChecksItsInterface) {
    group_ = AddGroup(server_.Get(), "cp", 1000, true, 1);
    Ptr<IConnectionPointContainer> cpc = group_.As<IConnectionPointContainer>();
    Ptr<IConnectionPoint> cp;
    ASSERT_EQ(cpc->FindConnectionPoint(IID_IOPCDataCallback, cp.Put()), S_OK);
    Ptr<IConnectionPoint> shutdown;
    EXPECT_EQ(cpc->FindConnectionPoint(IID_IOPCShutdown, shutdown.Put()), CONNECT_E_NOCONNECTION);
    IID iid{};
    ASSERT_EQ(cp->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, IID_IOPCDataCallback));

    ShutdownSink* wrong = new ShutdownSink();
    DWORD cookie = 0;
    EXPECT_EQ(cp->Advise(wrong, &cookie), CONNECT_E_CANNOTCONNECT);
    wrong->Release();
    ASSERT_EQ(cp->Advise(sink_, &cookie), S_OK);
    DataSink* second = new DataSink();
    DWORD cookie2 = 0;
    EXPECT_EQ(cp->Advise(second, &cookie2), CONNECT_E_ADVISELIMIT);
    second->Release();
    EXPECT_EQ(cp->Unadvise(cookie + 100), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(cp->Unadvise(cookie), S_OK);
    EXPECT_EQ(cp->Unadvise(cookie), CONNECT_E_NOCONNECTION);
    Ptr<IOPCAsyncIO2> io = group_.As<IOPCAsyncIO2>();
    BOOL enabled;
    EXPECT_EQ(io->GetEnable(&enabled), CONNECT_E_NOCONNECTION);
}

TEST_F(CallbackTest, ClientMayCallTheServerFromInsideACallback) {
    group_ = AddGroup(server_.Get(), "reentrant", 10, true, 1);
    auto added = AddItems(group_.Get(), {"Dynamic.Ramp.Real8"});
    Ptr<IOPCSyncIO> io = group_.As<IOPCSyncIO>();
    std::atomic<int> reads{0};
    OPCHANDLE h = added[0].hServer;
    sink_->onDataChange = [&](const Callback&) {
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        if (io->Read(OPC_DS_CACHE, 1, &h, &states, &errors) == S_OK) {
            ++reads;
            VariantClear(&states[0].vDataValue);
        }
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
    };
    AdviseData(group_.Get(), sink_);
    EXPECT_TRUE(sink_->WaitFor([](const auto& calls) { return calls.size() >= 3; }));
    EXPECT_GE(reads.load(), 3);
}

TEST_F(CallbackTest, ReleasingTheServerInsideACallbackIsSafe) {
    group_ = AddGroup(server_.Get(), "release", 10, true, 1);
    AddItems(group_.Get(), {"Dynamic.Ramp.Real8"});
    std::mutex m;
    IOPCServer* raw = server_.Get();
    raw->AddRef();
    server_.Reset();
    std::atomic<bool> released{false};
    sink_->onDataChange = [&](const Callback&) {
        std::lock_guard<std::mutex> lock(m);
        if (!released.exchange(true))
            raw->Release();  // the last reference: the server stops from its own thread
    };
    AdviseData(group_.Get(), sink_);
    ASSERT_TRUE(sink_->WaitFor([](const auto& calls) { return !calls.empty(); }));
    EXPECT_TRUE(released.load());
    // The group outlives its server and still answers.
    Value v;
    auto added = AddItems(group_.Get(), {"Static.Int4"});
    EXPECT_EQ(ReadSync(group_.Get(), added[0].hServer, OPC_DS_DEVICE, &v), S_OK);
    // Without its server nothing runs asynchronous requests any more, and it says so.
    Ptr<IOPCAsyncIO2> io = group_.As<IOPCAsyncIO2>();
    DWORD cancelId;
    EXPECT_EQ(io->Refresh2(OPC_DS_CACHE, 1, &cancelId), E_FAIL);
    OPCHANDLE h = added[0].hServer;
    HRESULT* errors = nullptr;
    EXPECT_EQ(io->Read(1, &h, 2, &cancelId, &errors), E_FAIL);
    EXPECT_EQ(errors, nullptr);
}

TEST_F(CallbackTest, HundredThousandItemsAtTenMillisecondsAllReportEveryChange) {
    Ptr<IOPCServer> flat = Create(CLSID_SimulationFlat);  // 100000 Bulk items in this test's registry
    group_ = AddGroup(flat.Get(), "bulk", 10, true, 1);
    std::vector<std::string> ids;
    for (int i = 1; i <= 100000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Bulk.Item%06d", i);
        ids.push_back(name);
    }
    HRESULT result = E_FAIL;
    auto added = AddItems(group_.Get(), ids, VT_EMPTY, true, &result);
    ASSERT_EQ(result, S_OK);
    // Every ramp moves at every sample, so every update must carry every item.
    std::mutex m;
    std::vector<size_t> sizes;
    DataSink* counter = new DataSink();
    counter->onDataChange = [&](const Callback& c) {
        std::lock_guard<std::mutex> lock(m);
        sizes.push_back(c.handles.size());
    };
    AdviseData(group_.Get(), counter);
    for (int wait = 0; wait < 600; ++wait) {
        {
            std::lock_guard<std::mutex> lock(m);
            if (sizes.size() >= 3)
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // Stop the subscription before looking, so that the counts hold still.
    group_.Reset();
    flat.Reset();
    std::lock_guard<std::mutex> lock(m);
    ASSERT_GE(sizes.size(), 3u);
    for (size_t n : sizes)
        EXPECT_EQ(n, 100000u);
    counter->Release();
}

}  // namespace
