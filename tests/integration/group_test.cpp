// A group's life on a real server: connecting with its server, its items in batches, settings
// pushed while connected, renaming, disconnecting, and the server going away under it.
#include "GroupTestSupport.h"

#include <string>
#include <vector>

namespace {

using namespace nv;
using grouptest::GroupTest;
using grouptest::kDA1;
using grouptest::kDA2;

constexpr char kAddGroupOK[] = "IOPCServer.AddGroup: Result=$0 (OK)";
constexpr char kAddItemsOK[] = "IOPCItemMgt.AddItems: Result=$0 (OK)";

std::vector<std::string> Ids(const std::string& prefix, int n) {
    std::vector<std::string> ids;
    for (int i = 1; i <= n; ++i)
        ids.push_back(Format("%s%.4d", prefix, i));
    return ids;
}

TEST_F(GroupTest, AGroupConnectsWithItsServerWithASingleAddGroup) {
    server_->SetServerName(kDA2);
    TNvOPCGroup* first = NewGroup("First");
    TNvOPCGroup* second = NewGroup("Second");
    EXPECT_FALSE(first->Connected()) << "a group on a disconnected server waits for it";
    EXPECT_EQ(first->ServerHandle(), 0xFFFFFFFFu);
    EXPECT_EQ(first->ClientHandle(), 1u);
    EXPECT_EQ(second->ClientHandle(), 2u);

    // The group's own Connect connects the server, whose connect signal already connects the
    // group: it must not be added twice.
    first->Connect();
    EXPECT_TRUE(server_->Connected());
    EXPECT_TRUE(first->Connected());
    EXPECT_TRUE(second->Connected());
    EXPECT_NE(first->ServerHandle(), 0xFFFFFFFFu);
    EXPECT_EQ(CountLog(kAddGroupOK), 2);

    // A group attached to a connected server connects at once.
    TNvOPCGroup* third = NewGroup("Third");
    EXPECT_TRUE(third->Connected());
    EXPECT_EQ(CountLog(kAddGroupOK), 3);
    server_->StatusRefresh();
    EXPECT_EQ(server_->Status().dwGroupCount, 3u);
}

TEST_F(GroupTest, AHundredItemsGoToTheServerInOneAddItemsCall) {
    ConnectServer(kDA2);
    TNvOPCGroup* group = NewGroup();
    group->AddItems(Ids("Bulk.Item", 100));
    ASSERT_EQ(group->ItemCount(), 100);
    EXPECT_EQ(CountLog(kAddItemsOK), 1);
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(group->Items(i)->GetConnected()) << i;
        EXPECT_EQ(group->Items(i)->GetClientHandle(), static_cast<OPCHANDLE>(i));
        EXPECT_EQ(group->Items(i)->GetCanonicalDataType(), VT_R8);
    }
    // Items already on the server are not sent again.
    group->ConnectItems();
    EXPECT_EQ(CountLog(kAddItemsOK), 1);
}

TEST_F(GroupTest, APartialBatchIsMatchedToItsItemsByClientHandle) {
    ConnectServer(kDA2);
    TNvOPCGroup* group = NewGroup();
    group->AddItems(std::vector<std::string>{"Static.Int2", "Static.String", "Static.Boolean"});
    group->Items(1)->Disconnect();
    group->SetAutoConnectItems(false);
    group->AddItem("Static.Real8");
    group->AddItem("Static.Date");
    const int before = CountLog(kAddItemsOK);
    group->SetAutoConnectItems(true);
    EXPECT_EQ(CountLog(kAddItemsOK), before + 1) << "one batch for the three unconnected items";
    const VARTYPE expected[] = {VT_I2, VT_BSTR, VT_BOOL, VT_R8, VT_DATE};
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(group->Items(i)->GetConnected()) << i;
        EXPECT_EQ(group->Items(i)->GetCanonicalDataType(), expected[i]) << group->Items(i)->GetItemID();
    }
}

TEST_F(GroupTest, RefusedItemsInABatchRaiseOneExceptionNamingAll) {
    ConnectServer(kDA2);
    TNvOPCGroup* group = NewGroup();
    try {
        group->AddItems(std::vector<std::string>{"Static.Int4", "Nowhere.One", "Static.Real8", "Nowhere.Two"});
        FAIL() << "no exception";
    } catch (const ENvOPCException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "AddItems Failed for items: \rNowhere.One: Unknown ItemID ($C0040007)\r\n"
                  "Nowhere.Two: Unknown ItemID ($C0040007)\r\n");
    }
    ASSERT_EQ(group->ItemCount(), 4) << "a refused item stays in the group";
    EXPECT_TRUE(group->Items(0)->GetConnected());
    EXPECT_TRUE(group->Items(2)->GetConnected());
    for (int i : {1, 3}) {
        EXPECT_FALSE(group->Items(i)->GetConnected());
        EXPECT_EQ(group->Items(i)->Error(), OPC_E_UNKNOWNITEMID);
        EXPECT_FALSE(group->Items(i)->GetActive());
    }
}

TEST_F(GroupTest, AcceptedInvalidItemsAreOnlyMarked) {
    ConnectServer(kDA2);
    TNvOPCGroup* group = NewGroup();
    group->SetAcceptInvalidItems(true);
    int errors = 0;
    server_->OnError = [&](TObject*, ENvOPCError&) { ++errors; };
    group->AddItems(std::vector<std::string>{"Static.Int4", "Nowhere.One"});
    TNvOPCItem* single = group->AddItem("Nowhere.Two");
    EXPECT_EQ(errors, 0);
    for (TNvOPCItem* item : {group->Items(1), single}) {
        EXPECT_EQ(item->Error(), OPC_E_UNKNOWNITEMID);
        EXPECT_EQ(item->ServerHandle(), 0xFFFFFFFFu);
        EXPECT_FALSE(item->GetActive());
    }
    EXPECT_TRUE(group->Items(0)->GetConnected());
}

TEST_F(GroupTest, ASingleRefusedItemReportsItsOwnMethodName) {
    ConnectServer(kDA2);
    TNvOPCGroup* group = NewGroup();
    try {
        group->AddItem("Nowhere.Three");
        FAIL() << "no exception";
    } catch (const ENvOPCError& e) {
        EXPECT_EQ(e.Method(), "AddItems(Nowhere.Three)");
        EXPECT_EQ(e.ErrorCode(), OPC_E_UNKNOWNITEMID);
    }
    EXPECT_EQ(group->ItemCount(), 0) << "an item whose definition raised is not kept";

    // With a handler the item stays, unconnected, with its error.
    std::vector<std::string> methods;
    group->OnError = [&](TObject*, ENvOPCError& e) { methods.push_back(e.Method()); };
    TNvOPCItem* item = group->AddItem("Nowhere.Four");
    EXPECT_EQ(methods, std::vector<std::string>{"AddItems(Nowhere.Four)"});
    EXPECT_EQ(group->ItemCount(), 1);
    EXPECT_EQ(item->Error(), OPC_E_UNKNOWNITEMID);
}

TEST_F(GroupTest, ItemDefinitionChangesReachTheServer) {
    ConnectServer(kDA2);
    TNvOPCGroup* group = NewGroup();
    group->SetAutoConnectItems(true);
    TNvOPCItem* item = group->AddItem("");
    EXPECT_FALSE(item->GetConnected()) << "an empty ItemID is not sent";
    item->SetItemID("Static.Int4");
    EXPECT_TRUE(item->GetConnected()) << "defining the ItemID connects the item";
    const OPCHANDLE first = item->ServerHandle();
    const int adds = CountLog(kAddItemsOK);
    item->SetItemID("Static.Int4");
    EXPECT_EQ(CountLog(kAddItemsOK), adds) << "the same text changes nothing";

    item->SetItemID("Static.Int2");
    EXPECT_TRUE(item->GetConnected());
    EXPECT_NE(item->ServerHandle(), first) << "a new ItemID re-adds the item";
    EXPECT_EQ(item->GetCanonicalDataType(), VT_I2);

    // This server knows no access paths: the re-added item is refused and stays unconnected.
    std::vector<HRESULT> reported;
    group->OnError = [&](TObject*, ENvOPCError& e) { reported.push_back(e.ErrorCode()); };
    const int removes = CountLog("IOPCItemMgt.RemoveItems: Result=$0 (OK)");
    item->SetAccessPath("Plant");
    EXPECT_EQ(CountLog("IOPCItemMgt.RemoveItems: Result=$0 (OK)"), removes + 1);
    EXPECT_FALSE(item->GetConnected());
    EXPECT_EQ(item->Error(), OPC_E_UNKNOWNPATH);
    EXPECT_EQ(reported, std::vector<HRESULT>{OPC_E_UNKNOWNPATH});
    item->SetAccessPath("");
    item->SetActive(true);
    item->Connect();
    ASSERT_TRUE(item->GetConnected());
    group->OnError = nullptr;

    item->SetDataType(VT_I2);
    EXPECT_EQ(item->GetRequestedDataType(), VT_EMPTY) << "the canonical type asks for nothing";
    item->SetDataType(VT_R8);
    EXPECT_EQ(item->GetRequestedDataType(), VT_R8);
    EXPECT_EQ(CountLog("IOPCItemMgt.SetDataTypes: Result=$0 (OK)"), 2) << "call and item result";
    EXPECT_EQ(group->IndexOfItem(item), 0) << "client handle 0 falls back to the list position";

    const int removed = CountLog("IOPCItemMgt.RemoveItems: Result=$0 (OK)");
    group->RemoveItem(0);
    EXPECT_EQ(CountLog("IOPCItemMgt.RemoveItems: Result=$0 (OK)"), removed + 1);
}

TEST_F(GroupTest, SettingsArePushedAndTheRevisedRateKeptOnlyWhenAsynchronous) {
    ConnectServer(kDA2);
    TNvOPCGroup* group = NewGroup();
    group->AddItem("Static.Int4");
    // The simulation server revises rates below its fastest one upwards.
    group->SetUpdateRate(1);
    EXPECT_EQ(group->UpdateRate(), 1u) << "a synchronous group keeps the requested rate";
    group->SetAsync(true);
    group->SetUpdateRate(2);
    EXPECT_GT(group->UpdateRate(), 2u) << "an asynchronous group takes the server's revised rate";
    EXPECT_EQ(CountLog("IOPCGroupStateMgt.SetState: Result=$4000D (OLE error 0004000D)"), 2)
        << "a revised rate is a success with its own code";
    EXPECT_GE(CountLog("IOPCGroupStateMgt.GetState: Result=$0 (OK)"), 2);

    int configChanges = 0;
    group->OnConfigChange = [&](TObject*) { ++configChanges; };
    group->SetDataSource(opcdsDevice);
    group->SetPercentDeadband(5);
    group->SetTimeBias(60);
    EXPECT_EQ(configChanges, 3);
}

TEST_F(GroupTest, LocalTimeBiasRecreatesTheGroupAndSwitchingItOffUsesSetState) {
    ConnectServer(kDA2);
    TNvOPCGroup* group = NewGroup();
    group->AddItem("Static.Int4");
    const OPCHANDLE before = group->ServerHandle();
    const int adds = CountLog(kAddGroupOK);
    group->SetLocalTimeBias(true);
    EXPECT_EQ(CountLog(kAddGroupOK), adds + 1);
    EXPECT_NE(group->ServerHandle(), before);
    EXPECT_TRUE(group->Items(0)->GetConnected()) << "the items come back with the new group";
    const int states = CountLog("IOPCGroupStateMgt.SetState: Result=$0 (OK)");
    group->SetLocalTimeBias(false);
    EXPECT_EQ(CountLog(kAddGroupOK), adds + 1);
    EXPECT_EQ(CountLog("IOPCGroupStateMgt.SetState: Result=$0 (OK)"), states + 1);
}

TEST_F(GroupTest, RenamingToATakenNameAddsANumber) {
    ConnectServer(kDA2);
    TNvOPCGroup* pump = NewGroup("Pump");
    TNvOPCGroup* valve = NewGroup("Valve");
    valve->SetGroupName("pump");
    EXPECT_EQ(valve->GetGroupName(), "pump1");
    EXPECT_EQ(CountLog("IOPCGroupStateMgt.SetName: Result=$0 (OK)"), 1);
    TNvOPCGroup* another = NewGroup("Pump");
    EXPECT_EQ(another->GetGroupName(), "Pump2") << "the renamed group's new name counts";
    EXPECT_EQ(pump->GetGroupName(), "Pump");
}

TEST_F(GroupTest, DeactivatingMarksEveryItemBadAtOnce) {
    ConnectServer(kDA2);
    TNvOPCGroup* group = NewGroup();
    group->SetActive(true);
    group->AddItems(std::vector<std::string>{"Static.Int4", "Static.Real8"});
    group->Refresh();
    ASSERT_EQ(group->Items(0)->Quality() & 0xC0, OPC_QUALITY_GOOD);
    group->SetActive(false);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(group->Items(i)->Quality(), OPC_QUALITY_COMM_FAILURE);
}

TEST_F(GroupTest, DisconnectingFollowsItsOrderAndLeavesEveryItemBad) {
    ConnectServer(kDA2);
    TNvOPCGroup* group = NewGroup();
    group->SetActive(true);
    group->SetAsync(true);
    group->SetRemoveItemsOnDisconnect(true);
    group->AddItems(std::vector<std::string>{"Static.Int4", "Static.Real8", "Static.String"});
    ASSERT_NE(group->AsyncConnection(), 0u);
    bool qualitiesBadFirst = false;
    bool callbacksStillRegistered = false;
    group->OnDisconnect = [&](TObject*) {
        qualitiesBadFirst = true;
        for (int i = 0; i < group->ItemCount(); ++i)
            qualitiesBadFirst = qualitiesBadFirst && group->Items(i)->Quality() == OPC_QUALITY_COMM_FAILURE;
        callbacksStillRegistered = group->AsyncConnection() != 0;
    };
    group->Disconnect();
    // The handler reads this test's locals; the group disconnects again when the fixture
    // destroys it, after they are gone.
    group->OnDisconnect = nullptr;
    EXPECT_TRUE(qualitiesBadFirst) << "items are bad before OnDisconnect";
    EXPECT_TRUE(callbacksStillRegistered) << "OnDisconnect comes before the callbacks go";
    EXPECT_FALSE(group->Connected());
    EXPECT_EQ(group->ServerHandle(), 0xFFFFFFFFu);
    EXPECT_EQ(group->AsyncConnection(), 0u);
    EXPECT_FALSE(group->HasNotifyWindow());
    for (int i = 0; i < group->ItemCount(); ++i) {
        EXPECT_EQ(group->Items(i)->ServerHandle(), 0xFFFFFFFFu);
        EXPECT_EQ(group->Items(i)->Quality(), OPC_QUALITY_COMM_FAILURE);
    }
    EXPECT_EQ(CountLog("IConnectionPoint.UnAdvise: Result=$0 (OK)"), 1);
    server_->StatusRefresh();
    EXPECT_EQ(server_->Status().dwGroupCount, 0u) << "the group is gone from the server";

    // The next connection adds the kept items again.
    group->Connect();
    for (int i = 0; i < group->ItemCount(); ++i)
        EXPECT_TRUE(group->Items(i)->GetConnected());
    EXPECT_NE(group->AsyncConnection(), 0u);
}

TEST_F(GroupTest, ServerStateChangesDisconnectAndReconnectActiveGroups) {
    ConnectServer(kDA2);
    TNvOPCGroup* group = NewGroup();
    group->SetActive(true);
    group->SetAsync(true);
    group->AddItem("Dynamic.Counter.Int4");
    VARIANT suspended = Int(OPC_STATUS_SUSPENDED);
    WriteControl("ServerState", suspended);
    server_->StatusRefresh();
    EXPECT_EQ(server_->Status().dwServerState, static_cast<OPCSERVERSTATE>(OPC_STATUS_SUSPENDED));
    EXPECT_FALSE(group->Connected());
    EXPECT_EQ(group->Items(0)->Quality(), OPC_QUALITY_COMM_FAILURE);

    VARIANT running = Int(OPC_STATUS_RUNNING);
    WriteControl("ServerState", running);
    server_->StatusRefresh();
    EXPECT_TRUE(group->Connected()) << "running again reconnects the group";
    EXPECT_TRUE(group->Items(0)->GetConnected());
    int changes = 0;
    group->OnDataChange = [&](TObject*, TNvOPCTransaction*) { ++changes; };
    EXPECT_TRUE(Pump([&] { return changes > 0; })) << "and its subscription is live again";
}

TEST_F(GroupTest, AServerShutdownWhileGroupsAreActiveLeavesThemDisconnected) {
    ConnectServer(kDA2);
    TNvOPCGroup* group = NewGroup();
    group->SetActive(true);
    group->SetAsync(true);
    group->AddItem("Dynamic.Counter.Int4");
    std::string reason;
    server_->OnShutDown = [&](TObject*, const std::string& text) { reason = text; };
    VARIANT request = Text("maintenance");
    WriteControl("ShutdownRequest", request);
    VariantClear(&request);
    EXPECT_TRUE(Pump([&] { return !server_->Connected(); }));
    EXPECT_EQ(reason, "maintenance");
    EXPECT_FALSE(group->Connected());
    EXPECT_EQ(group->AsyncConnection(), 0u);
    EXPECT_EQ(group->Items(0)->Quality(), OPC_QUALITY_COMM_FAILURE);
    EXPECT_EQ(CountLogStartingWith("IOPCServer.RemoveGroup"), 0);
}

TEST_F(GroupTest, DestroyingTheServerDetachesItsGroups) {
    ConnectServer(kDA2);
    TNvOPCGroup* group = NewGroup();
    group->AddItem("Static.Int4");
    server_.reset();
    EXPECT_EQ(group->Server(), nullptr);
    EXPECT_FALSE(group->Connected());
    EXPECT_EQ(group->Items(0)->ServerHandle(), 0xFFFFFFFFu);
}

TEST_F(GroupTest, AServerThatOwnsItsGroupsDestroysThemWhenCleared) {
    server_->SetServerName(kDA2);
    server_->SetOwnsGroups(true);
    for (const char* name : {"One", "Two"}) {
        auto* group = new TNvOPCGroup();
        group->SetGroupName(name);
        group->AddItem("Static.Int4");
        group->SetServer(server_.get());
    }
    ASSERT_EQ(server_->GroupCount(), 2);
    server_->Clear();
    EXPECT_EQ(server_->GroupCount(), 0);
    // A sanitizer build reports the groups here if the server forgot them.
}

TEST_F(GroupTest, AGroupCopiesItsItemIDsToAStringList) {
    TNvOPCGroup* group = NewGroup("Listed", false);
    group->AddItems(std::vector<std::string>{"A.One", "B.Two"});
    TNvStringList list;
    list.Add("old");
    list.Assign(group);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Strings(0), "A.One");
    EXPECT_EQ(list.Objects(1), group->Items(1));
}

TEST_F(GroupTest, TheDA1ServerConnectsGroupsAndItemsToo) {
    ConnectServer(kDA1);
    EXPECT_EQ(server_->Category(), opcscDataAccess10);
    TNvOPCGroup* group = NewGroup();
    group->AddItems(std::vector<std::string>{"Static.Int4", "Static.String"});
    EXPECT_TRUE(group->Connected());
    EXPECT_TRUE(group->Items(1)->GetConnected());
    EXPECT_EQ(group->ServerCategory(), opcscDataAccess10);
}

}  // namespace
