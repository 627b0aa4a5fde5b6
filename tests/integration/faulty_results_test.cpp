// Servers that answer a call with success but leave out what the answer must carry, or hand out
// results that do not hold: what the client records, reports and keeps.
#include "FaultyTestSupport.h"

namespace {

using namespace nv;
using faultytest::Fault;
using faultytest::FaultyTest;

TEST_F(FaultyTest, AddItemsWithoutResultsLeavesTheItemsUnconnectedAndSaysSo) {
    ConnectFaulty(Fault::NullAddResults);
    RecordErrors();
    TNvOPCGroup* group = NewGroup("Null");
    TNvOPCItem* one = group->AddItem("Static.Int4");
    EXPECT_FALSE(one->GetConnected());
    EXPECT_EQ(one->ServerHandle(), TNvOPCCustomItem::NotConnectedHandle);
    // A batch is answered the same way, and refused as a whole.
    try {
        group->AddItems(std::vector<std::string>{"Static.Int2", "Static.Real8"});
        FAIL() << "the batch raises";
    } catch (const ENvOPCException& error) {
        // The item added first was never connected either, so it goes with the batch.
        const std::string name = GetOPCErrorName(E_POINTER);
        EXPECT_EQ(std::string(error.what()),
                  "AddItems Failed for items: \rStatic.Int4: " + name + " ($80004003)\r\nStatic.Int2: " +
                      name + " ($80004003)\r\nStatic.Real8: " + name + " ($80004003)\r\n");
    }
    for (int i = 0; i < group->ItemCount(); ++i)
        EXPECT_FALSE(group->Items(i)->GetConnected()) << i;
    EXPECT_EQ(group->ItemCount(), 3) << "the configuration keeps every item";
    EXPECT_TRUE(Logged("IOPCItemMgt.AddItems: Result=$0 (OK)"));
    ASSERT_FALSE(reported_.empty()) << "a success without results is no success";
    EXPECT_EQ(reported_.front(), Format("AddItems(Static.Int4) $%x", E_POINTER));
}

TEST_F(FaultyTest, AReadWithoutItemStatesFailsEveryEntry) {
    ConnectFaulty(Fault::NullReadResults);
    TNvOPCGroup* group = NewGroup("Null");
    TNvOPCItem* item = group->AddItem("Static.Int4");
    ASSERT_TRUE(item->GetConnected());
    TNvOPCReadTransaction* read = group->SyncReadTransaction();
    read->Start();
    read->Add(item);
    EXPECT_NO_THROW(read->Commit(false));
    EXPECT_TRUE(Logged("IOPCSyncIO.Read: Result=$0 (OK)"));
    EXPECT_FALSE(read->Active()) << "finished, so the next read can start";
    ASSERT_EQ(read->Count(), 1);
    EXPECT_EQ(read->ResultCode(), S_FALSE);
    EXPECT_EQ(read->GetErrors(0), E_POINTER) << "an entry the server did not answer is no reading";
    EXPECT_EQ(item->Error(), E_POINTER);
    EXPECT_EQ(item->Value().vt, VT_EMPTY);
    EXPECT_EQ(item->Quality(), 0) << "the item shows the failure, not a good empty value";
    // The timer's reads go on.
    group->SyncRefresh(true);
    EXPECT_FALSE(read->Active());
}

TEST_F(FaultyTest, AWriteWithoutItsErrorArrayIsReportedAsUnconfirmed) {
    ConnectFaulty(Fault::NullWriteErrors);
    TNvOPCGroup* group = NewGroup("Null");
    TNvOPCItem* item = group->AddItem("Static.Int4");
    ASSERT_TRUE(item->GetConnected());
    VARIANT value = Int(42);
    try {
        group->WriteItem(item, value, true, false);
        FAIL() << "an unconfirmed write raises";
    } catch (const ENvOPCError& error) {
        EXPECT_EQ(error.ErrorCode(), E_POINTER);
        EXPECT_EQ(std::string(error.what()).rfind("Write failed: IOPCSyncIO.Write(Static.Int4, 42 {", 0), 0u)
            << error.what();
    }
    EXPECT_TRUE(Logged("IOPCSyncIO.Write: Result=$0 (OK)"));
    // The value did reach the server: a read shows it.
    TNvOPCTransaction* read = group->Refresh();
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(item->Value().lVal, 42);
}

TEST_F(FaultyTest, AsynchronousCallsWithoutErrorArraysStillComplete) {
    ConnectFaulty(Fault::NullAsyncErrors);
    TNvOPCGroup* group = AsyncGroup("Null", {"Static.Int4"}, 3600000);
    int reads = 0;
    int writes = 0;
    group->OnReadCompleted = [&](TObject*, TNvOPCTransaction*) { ++reads; };
    group->OnWriteCompleted = [&](TObject*, TNvOPCTransaction*) { ++writes; };
    TNvOPCItem* item = group->Items(0);
    ASSERT_TRUE(item->GetConnected());
    VARIANT value = Int(7);
    // Unconfirmed by the call; the completion, if it comes while the commit is still under way,
    // confirms it. Either way the result is the server's or E_POINTER, never made up.
    try {
        group->WriteItem(item, value, true, true);
    } catch (const ENvOPCError& error) {
        EXPECT_EQ(error.ErrorCode(), E_POINTER);
    }
    auto* read = group->StartTransaction(tkRead);
    read->Add(item);
    EXPECT_NO_THROW(read->Commit(true));
    // Whatever the client makes of the missing arrays, every transaction it started ends.
    Pump([&] { return false; }, 300);
    for (auto kind : {tkRead, tkWrite}) {
        TNvOPCTransactionList* list = group->TransactionList(kind);
        for (int i = 0; i < list->Count(); ++i)
            EXPECT_FALSE(list->Items(i)->Active()) << TransactionKindName(kind) << " " << i;
    }
    EXPECT_LE(reads, 1);
    EXPECT_LE(writes, 1);
}

TEST_F(FaultyTest, AddGroupWithoutTheGroupObjectIsReportedAndRetried) {
    ConnectFaulty(Fault::NullGroup);
    RecordErrors();
    TNvOPCGroup* group = NewGroup("Null");
    EXPECT_FALSE(group->Connected());
    EXPECT_EQ(group->ServerHandle(), TNvOPCCustomItem::NotConnectedHandle);
    EXPECT_TRUE(Logged("IOPCServer.AddGroup: Result=$0 (OK)"));
    ASSERT_FALSE(reported_.empty()) << "a group that did not come is reported";
    EXPECT_EQ(reported_.front(), Format("AddGroup $%x", E_POINTER));
    TNvOPCItem* item = group->AddItem("Static.Int4");
    EXPECT_FALSE(item->GetConnected());
    EXPECT_EQ(group->ItemCount(), 1);
}

TEST_F(FaultyTest, AnErrorTextThatIsNotThereLeavesTheCodesOwnName) {
    ConnectFaulty(Fault::NullErrorString);
    VARIANT method = Text("Read");
    WriteControl("FailMethod", method);
    VariantClear(&method);
    WriteControl("FailCount", Int(1));
    TNvOPCGroup* group = NewGroup("Null");
    TNvOPCItem* item = group->AddItem("Static.Int4");
    ASSERT_TRUE(item->GetConnected());
    TNvOPCReadTransaction* read = group->SyncReadTransaction();
    read->Start();
    read->Add(item);
    try {
        read->Commit(false);
        FAIL() << "the failed read raises";
    } catch (const ENvOPCError& error) {
        EXPECT_EQ(error.ErrorCode(), E_FAIL);
        EXPECT_EQ(error.ReasonText(), "") << "no text from the server";
        EXPECT_EQ(error.Reason(), GetOPCErrorName(E_FAIL));
    }
    EXPECT_FALSE(read->Active());
    EXPECT_TRUE(Logged(Format("IOPCSyncIO.Read: Result=$80004005 (%s)", GetOPCErrorName(E_FAIL))));
}

TEST_F(FaultyTest, ItemHandlesTheServerDoesNotHonourFailItemByItem) {
    ConnectFaulty(Fault::BogusItemHandles);
    TNvOPCGroup* group = NewGroup("Bogus");
    group->AddItems(std::vector<std::string>{"Static.Int4", "Static.Int2"});
    ASSERT_TRUE(group->Items(0)->GetConnected());
    TNvOPCReadTransaction* read = group->SyncReadTransaction();
    read->Start();
    read->Add(group->Items(0));
    read->Add(group->Items(1));
    read->Commit(false);
    EXPECT_EQ(read->ResultCode(), S_FALSE);
    EXPECT_EQ(read->GetErrors(0), OPC_E_INVALIDHANDLE);
    EXPECT_EQ(read->GetErrors(1), OPC_E_INVALIDHANDLE);
    EXPECT_EQ(group->Items(0)->Quality(), 0) << "a failed entry carries quality 0";
    VARIANT value = Int(5);
    try {
        group->WriteItem(group->Items(0), value, true, false);
        FAIL() << "the refused write raises";
    } catch (const ENvOPCError& error) {
        EXPECT_EQ(error.ErrorCode(), OPC_E_INVALIDHANDLE);
    }
    // Letting go of the group asks the server to remove what it does not know; nothing hangs.
    server_->SetConnected(false);
    EXPECT_FALSE(group->Connected());
}

TEST_F(FaultyTest, ACanonicalTypeNoVariantHasFailsWritesBeforeTheyGoOut) {
    ConnectFaulty(Fault::BadCanonicalType);
    TNvOPCGroup* group = NewGroup("Type");
    TNvOPCItem* item = group->AddItem("Static.Int4");
    ASSERT_TRUE(item->GetConnected());
    EXPECT_EQ(item->GetDataType(), nv::sim::BadCanonicalVarType);
    const int before = CountLogStartingWith("IOPCSyncIO.Write");
    VARIANT value = Int(5);
    // Converted by the window's choice or by the transaction, the value finds no such type.
    EXPECT_THROW(group->WriteItem(item, value, true, false), EConvertError);
    EXPECT_THROW(group->WriteItem(item, value, false, false), EConvertError);
    EXPECT_EQ(CountLogStartingWith("IOPCSyncIO.Write"), before) << "nothing is sent";
    TNvOPCTransactionList* writes = group->TransactionList(tkWrite);
    for (int i = 0; i < writes->Count(); ++i)
        EXPECT_FALSE(writes->Items(i)->Active()) << "rolled back";
    // Reads do not depend on it.
    EXPECT_NE(group->Refresh(), nullptr);
    EXPECT_EQ(item->Error(), S_OK);
}

}  // namespace
