// Misbehaviour on purpose through the Control items: state, shutdown requests, failing calls,
// refused and dropped callbacks.
#include "SimTestSupport.h"

using namespace simtest;
using nv::sim::CLSID_Simulation;

namespace {

class ControlTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        server_ = Create(CLSID_Simulation);
    }
    void TearDown() override {
        server_.Reset();
        SimTest::TearDown();
    }
    OPCSERVERSTATE State() {
        OPCSERVERSTATUS* status = nullptr;
        if (FAILED(server_->GetStatus(&status)))
            return static_cast<OPCSERVERSTATE>(0);
        OPCSERVERSTATE state = status->dwServerState;
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
        return state;
    }
    Ptr<IOPCServer> server_;
};

TEST_F(ControlTest, ServerStateFollowsTheControlItem) {
    for (LONG state : {OPC_STATUS_FAILED, OPC_STATUS_NOCONFIG, OPC_STATUS_SUSPENDED, OPC_STATUS_TEST,
                       OPC_STATUS_RUNNING}) {
        ASSERT_EQ(WriteControl(server_.Get(), "ServerState", Value::I4(state)), S_OK);
        EXPECT_EQ(State(), state);
    }
    EXPECT_EQ(WriteControl(server_.Get(), "ServerState", Value::I4(9)), OPC_E_RANGE);
    EXPECT_EQ(State(), OPC_STATUS_RUNNING);
}

TEST_F(ControlTest, AFailedServerReportsBadQuality) {
    Ptr<IOPCItemMgt> group = AddGroup(server_.Get(), "g", 1000);
    auto added = AddItems(group.Get(), {"Static.Int4"});
    ASSERT_EQ(WriteControl(server_.Get(), "ServerState", Value::I4(OPC_STATUS_FAILED)), S_OK);
    Value v;
    WORD quality = 0;
    ASSERT_EQ(ReadSync(group.Get(), added[0].hServer, OPC_DS_DEVICE, &v, &quality), S_OK);
    EXPECT_EQ(quality & OPC_QUALITY_MASK, OPC_QUALITY_BAD);
    ASSERT_EQ(WriteControl(server_.Get(), "ServerState", Value::I4(OPC_STATUS_RUNNING)), S_OK);
    ASSERT_EQ(ReadSync(group.Get(), added[0].hServer, OPC_DS_DEVICE, &v, &quality), S_OK);
    EXPECT_EQ(quality & OPC_QUALITY_MASK, OPC_QUALITY_GOOD);
}

TEST_F(ControlTest, SuspendedServerStopsSubscriptionsUntilRunningAgain) {
    Ptr<IOPCItemMgt> group = AddGroup(server_.Get(), "g", 10);
    auto added = AddItems(group.Get(), {"Static.Int4"});
    DataSink* sink = new DataSink();
    AdviseData(group.Get(), sink);
    ASSERT_TRUE(sink->WaitFor([](const auto& calls) { return calls.size() == 1; }));
    ASSERT_EQ(WriteControl(server_.Get(), "ServerState", Value::I4(OPC_STATUS_SUSPENDED)), S_OK);
    ASSERT_EQ(WriteSync(group.Get(), added[0].hServer, Value::I4(3)), S_OK);
    // Asynchronous requests are still answered while subscriptions rest; this one comes after
    // any update the write could have caused.
    Ptr<IOPCAsyncIO2> io = group.As<IOPCAsyncIO2>();
    DWORD cancelId;
    ASSERT_EQ(io->Refresh2(OPC_DS_CACHE, 77, &cancelId), S_OK);
    ASSERT_TRUE(sink->WaitForCall(Callback::Kind::DataChange, 77).has_value());
    size_t subscriptionUpdates = 0;
    for (const auto& c : sink->Calls())
        subscriptionUpdates += c.transactionId == 0;
    EXPECT_EQ(subscriptionUpdates, 1u);
    ASSERT_EQ(WriteControl(server_.Get(), "ServerState", Value::I4(OPC_STATUS_RUNNING)), S_OK);
    EXPECT_TRUE(sink->WaitFor([](const auto& calls) {
        return calls.back().transactionId == 0 && calls.back().values[0].v.lVal == 3;
    }));
    group.Reset();
    server_.Reset();
    sink->Release();
}

TEST_F(ControlTest, ShutdownRequestReachesEveryAdvisedClientOnTheServersThread) {
    Ptr<IConnectionPointContainer> cpc = server_.As<IConnectionPointContainer>();
    Ptr<IConnectionPoint> cp;
    ASSERT_EQ(cpc->FindConnectionPoint(IID_IOPCShutdown, cp.Put()), S_OK);
    ShutdownSink* first = new ShutdownSink();
    ShutdownSink* second = new ShutdownSink();
    DWORD c1 = 0, c2 = 0;
    ASSERT_EQ(cp->Advise(first, &c1), S_OK);
    ASSERT_EQ(cp->Advise(second, &c2), S_OK);
    EXPECT_NE(c1, c2);
    ASSERT_EQ(WriteControl(server_.Get(), "ShutdownRequest", Value::Str("maintenance at 5")), S_OK);
    std::string reason;
    std::thread::id thread;
    ASSERT_TRUE(first->WaitForReason(&reason, &thread));
    EXPECT_EQ(reason, "maintenance at 5");
    EXPECT_NE(thread, std::this_thread::get_id());
    ASSERT_TRUE(second->WaitForReason(&reason, &thread));
    EXPECT_EQ(reason, "maintenance at 5");
    EXPECT_EQ(cp->Unadvise(c1), S_OK);
    EXPECT_EQ(cp->Unadvise(c2), S_OK);
    cp.Reset();
    cpc.Reset();
    server_.Reset();
    first->Release();
    second->Release();
}

TEST_F(ControlTest, NamedMethodFailsTheGivenNumberOfTimesWithTheGivenResult) {
    Ptr<IOPCItemMgt> group = AddGroup(server_.Get(), "g", 1000);
    auto added = AddItems(group.Get(), {"Static.Int4"});
    ASSERT_EQ(WriteControl(server_.Get(), "FailMethod", Value::Str("IOPCSyncIO.Read")), S_OK);
    // Result codes may be written as text in hexadecimal.
    ASSERT_EQ(WriteControl(server_.Get(), "FailHResult", Value::Str("0x80040154")), S_OK);
    ASSERT_EQ(WriteControl(server_.Get(), "FailCount", Value::I4(2)), S_OK);
    Value v;
    EXPECT_EQ(ReadSync(group.Get(), added[0].hServer, OPC_DS_CACHE, &v), REGDB_E_CLASSNOTREG);
    // Other methods are not affected.
    EXPECT_EQ(WriteSync(group.Get(), added[0].hServer, Value::I4(1)), S_OK);
    EXPECT_EQ(ReadSync(group.Get(), added[0].hServer, OPC_DS_CACHE, &v), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(ReadSync(group.Get(), added[0].hServer, OPC_DS_CACHE, &v), S_OK);

    // A bare method name matches it on every interface; the count is readable as it runs down.
    ASSERT_EQ(WriteControl(server_.Get(), "FailMethod", Value::Str("GetStatus")), S_OK);
    ASSERT_EQ(WriteControl(server_.Get(), "FailHResult", Value::I4(E_OUTOFMEMORY)), S_OK);
    ASSERT_EQ(WriteControl(server_.Get(), "FailCount", Value::I4(1)), S_OK);
    OPCSERVERSTATUS* status = reinterpret_cast<OPCSERVERSTATUS*>(0x1);
    EXPECT_EQ(server_->GetStatus(&status), E_OUTOFMEMORY);
    EXPECT_EQ(status, nullptr);  // a failed call hands out nothing
    EXPECT_EQ(State(), OPC_STATUS_RUNNING);
    auto count = AddItems(group.Get(), {"Control.FailCount"});
    ASSERT_EQ(ReadSync(group.Get(), count[0].hServer, OPC_DS_DEVICE, &v), S_OK);
    EXPECT_EQ(v.v.lVal, 0);

    // A success code cannot stand in for a failure: the caller would read unset results.
    EXPECT_EQ(WriteControl(server_.Get(), "FailHResult", Value::I4(S_FALSE)), OPC_E_RANGE);
    EXPECT_EQ(WriteControl(server_.Get(), "FailHResult", Value::Str("not a number")), OPC_E_BADTYPE);
    EXPECT_EQ(WriteControl(server_.Get(), "FailCount", Value::I4(-1)), OPC_E_RANGE);
    EXPECT_EQ(WriteControl(server_.Get(), "DelayMs", Value::I4(60001)), OPC_E_RANGE);
}

TEST_F(ControlTest, InjectedFailureOfAddGroupLeavesNoGroupBehind) {
    ASSERT_EQ(WriteControl(server_.Get(), "FailMethod", Value::Str("AddGroup")), S_OK);
    ASSERT_EQ(WriteControl(server_.Get(), "FailHResult", Value::I4(E_FAIL)), S_OK);
    ASSERT_EQ(WriteControl(server_.Get(), "FailCount", Value::I4(1)), S_OK);
    OPCHANDLE h = 0;
    DWORD revised = 0;
    IUnknown* group = reinterpret_cast<IUnknown*>(0x1);
    EXPECT_EQ(server_->AddGroup(OLESTR("x"), TRUE, 100, 1, nullptr, nullptr, 0, &h, &revised, IID_IOPCItemMgt,
                                &group),
              E_FAIL);
    EXPECT_EQ(group, nullptr);
    Ptr<IUnknown> found;
    EXPECT_EQ(server_->GetGroupByName(OLESTR("x"), IID_IUnknown, found.Put()), E_INVALIDARG);
}

TEST_F(ControlTest, RefusedCallbacksFailToConnect) {
    ASSERT_EQ(WriteControl(server_.Get(), "RefuseCallbacks", Value::Bool(true)), S_OK);
    Ptr<IOPCItemMgt> group = AddGroup(server_.Get(), "g", 1000);
    Ptr<IConnectionPointContainer> cpc = group.As<IConnectionPointContainer>();
    Ptr<IConnectionPoint> cp;
    ASSERT_EQ(cpc->FindConnectionPoint(IID_IOPCDataCallback, cp.Put()), S_OK);
    DataSink* sink = new DataSink();
    DWORD cookie = 0;
    EXPECT_EQ(cp->Advise(sink, &cookie), CONNECT_E_CANNOTCONNECT);
    Ptr<IDataObject> data = group.As<IDataObject>();
    FORMATETC fe{FormatDataTime(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    StreamSink* streams = new StreamSink();
    EXPECT_EQ(data->DAdvise(&fe, 0, streams, &cookie), CONNECT_E_CANNOTCONNECT);
    ASSERT_EQ(WriteControl(server_.Get(), "RefuseCallbacks", Value::Bool(false)), S_OK);
    EXPECT_EQ(cp->Advise(sink, &cookie), S_OK);
    EXPECT_EQ(cp->Unadvise(cookie), S_OK);
    cp.Reset();
    cpc.Reset();
    data.Reset();
    group.Reset();
    server_.Reset();
    sink->Release();
    streams->Release();
}

TEST_F(ControlTest, DroppedCallbacksAreAcceptedButNeverMade) {
    Ptr<IOPCItemMgt> group = AddGroup(server_.Get(), "g", 60000);
    auto added = AddItems(group.Get(), {"Static.Int4", "Control.DropCallbacks"});
    DataSink* sink = new DataSink();
    AdviseData(group.Get(), sink);
    ASSERT_TRUE(sink->WaitFor([](const auto& calls) { return !calls.empty(); }));
    ASSERT_EQ(WriteSync(group.Get(), added[1].hServer, Value::Bool(true)), S_OK);
    Ptr<IOPCAsyncIO2> io = group.As<IOPCAsyncIO2>();
    OPCHANDLE h = added[0].hServer;
    DWORD cancelId = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(io->Read(1, &h, 1, &cancelId, &errors), S_OK);
    CoTaskMemFree(errors);
    // Requests run in order, so switching the drop off through a queued write of its own comes
    // after the first read was handled.
    OPCHANDLE drop = added[1].hServer;
    VARIANT off = Value::Bool(false).v;
    ASSERT_EQ(io->Write(1, &drop, &off, 2, &cancelId, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_EQ(io->Read(1, &h, 3, &cancelId, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_TRUE(sink->WaitForCall(Callback::Kind::ReadComplete, 3).has_value());
    EXPECT_TRUE(sink->WaitForCall(Callback::Kind::WriteComplete, 2, 0).has_value());
    for (const auto& c : sink->Calls())
        EXPECT_FALSE(c.kind == Callback::Kind::ReadComplete && c.transactionId == 1);
    group.Reset();
    server_.Reset();
    sink->Release();
}

TEST_F(ControlTest, RefusedItemsAreUnknownButControlItemsStayReachable) {
    ASSERT_EQ(WriteControl(server_.Get(), "RefuseItems", Value::Str("Static.*")), S_OK);
    Ptr<IOPCItemMgt> group = AddGroup(server_.Get(), "g", 1000);
    auto added = AddItems(group.Get(), {"Static.Int4", "ReadOnly.Int4", "Control.RefuseItems"});
    EXPECT_EQ(added[0].error, OPC_E_UNKNOWNITEMID);
    EXPECT_EQ(added[1].error, S_OK);
    ASSERT_EQ(added[2].error, S_OK);
    // A pattern that matches everything still leaves the way back.
    ASSERT_EQ(WriteSync(group.Get(), added[2].hServer, Value::Str("*")), S_OK);
    EXPECT_EQ(AddItems(group.Get(), {"ReadOnly.Int4"})[0].error, OPC_E_UNKNOWNITEMID);
    ASSERT_EQ(WriteSync(group.Get(), added[2].hServer, Value::Str("")), S_OK);
    EXPECT_EQ(AddItems(group.Get(), {"Static.Int4"})[0].error, S_OK);
}

}  // namespace
