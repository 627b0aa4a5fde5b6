// Servers whose callbacks break the rules: wrong handles and transactions, missing arrays,
// values in types no server may send, callbacks after and during Unadvise, and a flood. The
// client drops what it cannot place, records why in the log, and loses nothing it can place.
#include "FaultyTestSupport.h"

#include <algorithm>
#include <map>

namespace {

using namespace nv;
using faultytest::Fault;
using faultytest::FaultyTest;

// The number in "Group 'G': <n> ..." lines that start with the given prefix, summed.
int SumLogged(const std::vector<std::string>& log, const std::string& prefix) {
    int sum = 0;
    for (const std::string& line : log) {
        if (line.rfind(prefix, 0) == 0)
            sum += std::atoi(line.c_str() + prefix.size());
    }
    return sum;
}

TEST_F(FaultyTest, DataChangesForHandlesTheGroupNeverGaveAreDroppedWithALogLine) {
    ConnectFaulty(Fault::UnknownClientHandles);
    int changes = 0;
    TNvOPCGroup* group = AsyncGroup("Odd", {"Static.Int4", "Static.Int2"}, 3600000);
    group->OnDataChange = [&](TObject*, TNvOPCTransaction*) { ++changes; };
    ASSERT_TRUE(Pump([&] { return changes > 0; }));
    EXPECT_EQ(group->Items(0)->Value().vt, VT_EMPTY);
    EXPECT_EQ(group->Items(1)->Value().vt, VT_EMPTY);
    EXPECT_EQ(CountLogStartingWith("Group 'Odd': 2 value(s) of DataChange transaction "), 1);
    EXPECT_TRUE(group->Active()) << "a value the group cannot place is no failure of the subscription";
}

TEST_F(FaultyTest, DataChangesNamingAnotherGroupReachNoGroup) {
    ConnectFaulty(Fault::OtherGroupHandle);
    int changesA = 0;
    int changesB = 0;
    TNvOPCGroup* a = AsyncGroup("A", {"Dynamic.Counter.Int4"});
    TNvOPCGroup* b = AsyncGroup("B", {"Dynamic.Counter.Int4"});
    a->OnDataChange = [&](TObject*, TNvOPCTransaction*) { ++changesA; };
    b->OnDataChange = [&](TObject*, TNvOPCTransaction*) { ++changesB; };
    ASSERT_EQ(b->ClientHandle(), a->ClientHandle() + 1) << "A's callbacks name B";
    // A synchronous read of A proves the server is answering meanwhile.
    Pump([] { return false; }, 500);
    EXPECT_EQ(changesA, 0);
    EXPECT_EQ(changesB, 0) << "B's values never come through A";
    EXPECT_EQ(a->Items(0)->Value().vt, VT_EMPTY);
    EXPECT_EQ(b->Items(0)->Value().vt, VT_EMPTY);
    server_->SetConnected(false);
    EXPECT_GE(CountLogStartingWith("Group 'A': data change for group handle 2"), 1);
    EXPECT_GE(CountLogStartingWith("Group 'B': data change for group handle 3"), 1);
}

TEST_F(FaultyTest, CompletionsForTransactionsNeverStartedAreRecordedAsInvalid) {
    ConnectFaulty(Fault::UnknownTransactions);
    TNvOPCGroup* group = AsyncGroup("T", {"Static.Int4"}, 3600000);
    int errors = 0;
    int reads = 0;
    group->OnTransactionError = [&](TObject*, TNvOPCTransaction* t) {
        EXPECT_EQ(t, nullptr);
        ++errors;
    };
    group->OnReadCompleted = [&](TObject*, TNvOPCTransaction*) { ++reads; };
    TNvOPCItem* item = group->Items(0);
    ASSERT_TRUE(item->GetConnected());
    auto* read = group->StartTransaction(tkRead);
    const LONG id = read->ID();
    read->Add(item);
    read->Commit(true);
    ASSERT_TRUE(Pump([&] { return errors == 1; }));
    EXPECT_EQ(reads, 0);
    EXPECT_EQ(CountLog(Format("Group 'T': read completion for unknown transaction %d",
                              id + static_cast<LONG>(nv::sim::BogusTransactionOffset))),
              1);
    EXPECT_TRUE(Logged("Invalid transaction"));
    VARIANT value = Int(3);
    group->WriteItem(item, value, true, true);
    ASSERT_TRUE(Pump([&] { return errors == 2; }));
    EXPECT_GE(CountLogStartingWith("Group 'T': write completion for unknown transaction "), 1);
    // The refresh's answer is a data change of an unknown transaction: the subscription is
    // stopped, as after any failed data change.
    group->AsyncRefresh();
    ASSERT_TRUE(Pump([&] { return errors == 3; }));
    EXPECT_FALSE(group->Active());
    EXPECT_GE(CountLogStartingWith("Group 'T': data change for unknown transaction "), 1);
    EXPECT_EQ(group->ItemCount(), 1);
}

TEST_F(FaultyTest, ADataChangeWithoutItsArraysStopsTheSubscription) {
    ConnectFaulty(Fault::NullCallbackArrays);
    int errors = 0;
    TNvOPCGroup* group = AsyncGroup("Bare", {"Static.Int4", "Static.Int2"}, 3600000);
    group->OnTransactionError = [&](TObject*, TNvOPCTransaction*) { ++errors; };
    ASSERT_TRUE(Pump([&] { return errors > 0; }));
    EXPECT_FALSE(group->Active());
    EXPECT_EQ(CountLog("Group 'Bare': data change of 2 items without its arrays"), 1);
    EXPECT_EQ(group->Items(0)->Value().vt, VT_EMPTY);
    EXPECT_TRUE(group->Connected()) << "the group stays on the server, inactive";
}

TEST_F(FaultyTest, ValuesOfForeignTypesNeitherCrashNorPassAsValues) {
    ConnectFaulty(Fault::ForeignValueTypes);
    int changes = 0;
    TNvOPCGroup* group =
        AsyncGroup("Foreign", {"Static.Int4", "Static.Int2", "Static.Real8", "Static.String"}, 3600000);
    group->OnDataChange = [&](TObject*, TNvOPCTransaction*) { ++changes; };
    ASSERT_TRUE(Pump([&] { return changes > 0; }));
    // Client handles 0..3 get VT_CLSID, 0x0FFF, VT_UNKNOWN (null) and VT_ERROR.
    for (int i : {0, 1}) {
        EXPECT_EQ(group->Items(i)->Value().vt, VT_EMPTY) << "a type no VARIANT has is not kept";
        EXPECT_EQ(group->Items(i)->Error(), DISP_E_BADVARTYPE) << "and the item says why";
    }
    EXPECT_EQ(group->Items(2)->Value().vt, VT_UNKNOWN);
    EXPECT_EQ(group->Items(3)->Value().vt, VT_ERROR);
    EXPECT_EQ(group->Items(3)->Error(), S_OK);
    EXPECT_THROW(VariantToStr(group->Items(2)->Value(), true), EConvertError)
        << "shown as the client's error";
    EXPECT_GE(CountLogStartingWith("Transaction ID="), 1) << "the transaction is logged";
    // A synchronous read hands the same types.
    group->SetAsync(false);
    TNvOPCReadTransaction* read = group->SyncReadTransaction();
    read->Start();
    for (int i = 0; i < group->ItemCount(); ++i)
        read->Add(group->Items(i));
    EXPECT_NO_THROW(read->Commit(false)) << "one value the client cannot hold does not cost the others";
    EXPECT_FALSE(read->Active());
    EXPECT_EQ(read->ResultCode(), S_FALSE);
    EXPECT_EQ(read->GetErrors(0), DISP_E_BADVARTYPE);
    EXPECT_EQ(read->GetErrors(3), S_OK);
    EXPECT_EQ(group->Items(3)->Value().vt, VT_ERROR);
}

TEST_F(FaultyTest, CallbacksAfterUnadviseAreDroppedEvenOnceTheGroupIsGone) {
    ConnectFaulty(Fault::CallbackAfterUnadvise);
    int changesA = 0;
    int changesB = 0;
    TNvOPCGroup* a = AsyncGroup("A", {"Dynamic.Counter.Int4"});
    a->OnDataChange = [&](TObject*, TNvOPCTransaction*) { ++changesA; };
    ASSERT_TRUE(Pump([&] { return changesA > 0; }));
    a->SetSyncTimerEnabled(false);
    a->SetAsync(false);  // Unadvise, which the server answers and ignores
    TNvOPCGroup* b = AsyncGroup("B", {"Dynamic.Counter.Int4"});
    b->OnDataChange = [&](TObject*, TNvOPCTransaction*) { ++changesB; };
    // Every change B gets, A's old sink got first.
    ASSERT_TRUE(Pump([&] { return changesB >= 3; }));
    const int seenByA = changesA;
    Pump([&] { return changesB >= 6; });
    EXPECT_EQ(changesA, seenByA) << "no value comes through a sink the group let go";
    a->Refresh();  // a read of its own logs what the group dropped
    EXPECT_GE(CountLogStartingWith("Group 'A': "), 1);
    EXPECT_GE(SumLogged(LogEntries(), "Group 'A': "), 1);

    // The group goes; the server still calls the sink it was given.
    groups_.erase(groups_.begin());
    const int before = changesB;
    ASSERT_TRUE(Pump([&] { return changesB >= before + 3; }));
    server_->SetConnected(false);
    EXPECT_FALSE(b->Connected());
}

TEST_F(FaultyTest, ACallbackDuringUnadviseIsNeitherDeliveredLateNorLeaked) {
    ConnectFaulty(Fault::CallbackDuringUnadvise);
    int changes = 0;
    TNvOPCGroup* group = AsyncGroup("During", {"Static.Int4", "Static.Int2"}, 3600000);
    group->OnDataChange = [&](TObject*, TNvOPCTransaction*) { ++changes; };
    ASSERT_TRUE(Pump([&] { return changes > 0; }));
    group->SetSyncTimerEnabled(false);
    group->SetAsync(false);
    const int after = changes;
    Pump([] { return false; }, 200);
    EXPECT_EQ(changes, after) << "nothing arrives once Unadvise has returned";
    TNvOPCTransactionList* list = group->TransactionList(tkDataChange);
    for (int i = 0; i < list->Count(); ++i)
        EXPECT_FALSE(list->Items(i)->Active()) << i;

    // The same while the whole server disconnects.
    group->SetAsync(true);
    ASSERT_TRUE(Pump([&] { return changes > after; }));
    server_->SetConnected(false);
    EXPECT_FALSE(group->Connected());
    EXPECT_EQ(CountLog("Group 'During': 1 callback(s) arrived while the group was not taking callbacks and "
                       "were dropped"),
              1);
    EXPECT_EQ(group->Items(0)->Quality(), OPC_QUALITY_COMM_FAILURE);
}

TEST_F(FaultyTest, AFloodOfCallbacksIsMergedAndTheLastValueArrives) {
    ConnectFaulty(Fault::CallbackFlood);
    std::map<OPCHANDLE, LONG> last;
    bool ordered = true;
    int changes = 0;
    int mostTransactions = 0;
    TNvOPCGroup* group = NewGroup("Flood");
    group->OnDataChange = [&](TObject* sender, TNvOPCTransaction* t) {
        ++changes;
        auto* g = static_cast<TNvOPCGroup*>(sender);
        mostTransactions = std::max(mostTransactions, g->TransactionList(tkDataChange)->Count());
        for (int i = 0; i < t->Count(); ++i) {
            LONG value = t->Values(i).lVal;
            ordered = ordered && value > last[t->ClientHandles(i)];
            last[t->ClientHandles(i)] = value;
        }
    };
    group->SetUpdateRate(50);
    group->SetActive(true);
    group->SetAsync(true);
    group->AddItems(std::vector<std::string>{"Static.Int4", "Static.Int2"});
    ASSERT_TRUE(Pump(
        [&] {
            return group->Items(0)->Value().lVal == nv::sim::FloodCallbacks &&
                   group->Items(1)->Value().lVal == nv::sim::FloodCallbacks;
        },
        120000))
        << "the last of the flood reaches the items";
    Pump([] { return false; }, 100);
    EXPECT_TRUE(ordered) << "no value is reported twice or out of order";
    EXPECT_LE(mostTransactions, 3) << "memory stays bounded by the group, not by the flood";
    const int merged = SumLogged(LogEntries(), "Group 'Flood': ");
    EXPECT_EQ(changes + merged, nv::sim::FloodCallbacks) << "every change is counted once";
}

}  // namespace
