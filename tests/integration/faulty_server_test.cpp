// Servers that misbehave as a whole: a shutdown request in the middle of a call, a status out
// of range or without its vendor text, a call that takes long, a restart after which every
// call fails, and browse enumerators that miscount.
#include "FaultyTestSupport.h"

#include <functional>

#include "discovery/NvOPCAddressSpace.h"
#include "foundation/NvStringList.h"

namespace {

using namespace nv;
using faultytest::Fault;
using faultytest::FaultyTest;

TEST_F(FaultyTest, AShutdownRequestDuringACallIsCarriedOutAfterIt) {
    ConnectFaulty(Fault::ShutdownMidCall);
    std::string reason;
    server_->OnShutDown = [&](TObject*, const std::string& r) { reason = r; };
    TNvOPCGroup* group = NewGroup("Mid");
    TNvOPCItem* item = group->AddItem("Static.Int4");
    ASSERT_TRUE(item->GetConnected());
    TNvOPCTransaction* read = group->Refresh();  // the request arrives inside this Read
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->GetErrors(0), S_OK) << "the call in progress finishes with its answer";
    EXPECT_EQ(item->Quality(), OPC_QUALITY_GOOD);
    EXPECT_TRUE(server_->Connected()) << "nothing is torn down under the caller";
    ASSERT_TRUE(Pump([&] { return !server_->Connected(); }));
    EXPECT_EQ(reason, "Restarting in the middle of a call");
    EXPECT_FALSE(group->Connected());
    EXPECT_EQ(group->ItemCount(), 1);
    EXPECT_EQ(item->Quality(), OPC_QUALITY_COMM_FAILURE);
}

TEST_F(FaultyTest, AServerStateOutOfRangeIsKeptAndIsNotRunning) {
    ConnectFaulty(Fault::StatusOutOfRange);
    EXPECT_TRUE(server_->Connected());
    OPCSERVERSTATUS status{};
    server_->GetStatus(status);
    EXPECT_EQ(static_cast<DWORD>(status.dwServerState), nv::sim::OutOfRangeState);
    TNvStringList lines;
    ServerStatusToStrings(status, lines);
    EXPECT_EQ(lines.Strings(0), "ServerState=No connection!");
    TNvOPCGroup* group = NewGroup("Range");
    group->AddItem("Static.Int4");
    EXPECT_EQ(group->ItemCount(), 1);
    // Polls go on without a change of state to report.
    const int changes = CountLogStartingWith("Status changed from ");
    server_->StatusRefresh();
    EXPECT_EQ(CountLogStartingWith("Status changed from "), changes);
}

TEST_F(FaultyTest, AStatusWithoutVendorTextShowsAnEmptyVendor) {
    ConnectFaulty(Fault::StatusNullVendor);
    OPCSERVERSTATUS status{};
    server_->GetStatus(status);
    EXPECT_EQ(status.dwServerState, OPC_STATUS_RUNNING);
    EXPECT_EQ(status.szVendorInfo, nullptr);
    TNvStringList lines;
    ServerStatusToStrings(status, lines);
    EXPECT_GE(lines.IndexOf("Vendor="), 0);
    TNvOPCGroup* group = NewGroup("Vendor");
    EXPECT_TRUE(group->AddItem("Static.Int4")->GetConnected()) << "a running server is used as usual";
    server_->StatusRefresh();
    server_->StatusRefresh();
}

TEST_F(FaultyTest, ASlowAddItemsBlocksOnlyItselfAndCallbacksWaitingMeanwhileAreMerged) {
    ConnectFaulty(Fault::SlowAddItems, 1500);
    int changes = 0;
    TNvOPCGroup* fast = NewGroup("Fast");
    fast->SetUpdateRate(50);
    fast->SetActive(true);
    fast->SetAsync(true);
    fast->OnDataChange = [&](TObject*, TNvOPCTransaction*) { ++changes; };
    TNvOPCItem* counter = fast->AddItem("Dynamic.Counter.Int4");  // slow, too
    ASSERT_TRUE(counter->GetConnected());
    ASSERT_TRUE(Pump([&] { return changes > 0; }));
    const int before = changes;
    TNvOPCGroup* slow = NewGroup("Slow");
    TNvOPCItem* item = slow->AddItem("Static.Int4");  // the window thread waits here
    EXPECT_TRUE(item->GetConnected()) << "the slow call ends with its answer";
    // The subscription went on meanwhile; its changes waited for the window as one.
    ASSERT_TRUE(Pump([&] { return changes > before; }));
    EXPECT_GE(CountLogStartingWith("Group 'Fast': "), 1) << "changes merged while the window was in the call";
    ASSERT_TRUE(Pump([&] { return changes > before + 2; })) << "and after it the window keeps up";
}

TEST_F(FaultyTest, AfterASilentRestartEveryCallFailsAndTheConfigurationIsKept) {
    ConnectFaulty(Fault::FailAfterRestart);
    RecordErrors();
    TNvOPCGroup* group = NewGroup("Kept");
    group->AddItems(std::vector<std::string>{"Static.Int4", "Static.Int2"});
    ASSERT_TRUE(group->Items(0)->GetConnected());
    VARIANT restart = Text("restart");
    WriteControl("ShutdownRequest", restart);
    VariantClear(&restart);
    server_->StatusRefresh();
    EXPECT_TRUE(Logged(Format("IOPCServer.GetStatus: Result=$80004005 (%s)", GetOPCErrorName(E_FAIL))));
    EXPECT_TRUE(Logged("Status changed from 'Running' to 'No connection!'"));
    OPCSERVERSTATUS status{};
    server_->GetStatus(status);
    EXPECT_EQ(status.dwServerState, 0);
    EXPECT_TRUE(server_->Connected()) << "the server object is still held";
    EXPECT_FALSE(group->Connected());
    EXPECT_EQ(group->Items(0)->Quality(), OPC_QUALITY_COMM_FAILURE);
    // Further polls fail the same way and change nothing.
    const std::size_t errors = reported_.size();
    server_->StatusRefresh();
    EXPECT_GT(reported_.size(), errors);
    EXPECT_EQ(CountLog("Status changed from 'Running' to 'No connection!'"), 1);
    // A new connection is a new server: every item comes back.
    server_->SetConnected(false);
    server_->SetConnected(true);
    ASSERT_TRUE(group->Connected());
    EXPECT_EQ(group->ItemCount(), 2);
    EXPECT_TRUE(group->Items(0)->GetConnected());
    EXPECT_TRUE(group->Items(1)->GetConnected());
}

class FaultyBrowseTest : public FaultyTest {
protected:
    void SetUp() override {
        FaultyTest::SetUp();
        previousFactory_ = SetOPCAddressSpaceFactory(nullptr);
        InstallOPCAddressSpace();
    }
    void TearDown() override {
        FaultyTest::TearDown();
        SetOPCAddressSpaceFactory(previousFactory_);
    }
    // Every path of the server's address space, walked in full.
    std::vector<std::string> Walk(const std::string& progID) {
        server_->SetConnected(false);
        server_->SetClassID(GUID{});
        server_->SetServerName(progID);
        server_->SetConnected(true);
        TNvStringList list;
        server_->AddressSpace()->AssignToStrings(&list, true, 0, TNvNodeTypes::All(), -1);
        std::vector<std::string> paths = list.ToVector();
        server_->AddressSpace()->Clear();
        return paths;
    }

private:
    TNvOPCAddressSpaceFactory previousFactory_;
};

TEST_F(FaultyBrowseTest, EnumeratorsThatMiscountGiveTheSameAddressSpace) {
    const std::vector<std::string> expected = Walk(grouptest::kDA2);
    ASSERT_GT(expected.size(), 1000u);
    for (Fault fault : {Fault::BrowseExtraNames, Fault::BrowseFewerNames}) {
        Register(fault);
        EXPECT_EQ(Walk(nv::sim::FaultyProgID(fault)), expected) << nv::sim::FaultName(fault);
    }
}

}  // namespace
