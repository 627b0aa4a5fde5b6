// Transactions and items without a server: ID allocation and look-up, storage, the conversions of
// a write, the texts the log records, and the change-rate arithmetic with a clock of the test's.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "foundation/NvExceptions.h"
#include "opc/NvOPCGroup.h"
#include "opc/NvOPCLog.h"
#include "opc/NvOPCServer.h"

namespace {

using namespace nv;

VARIANT Int(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

TEST(TransactionList, IDsAreListPositionsAndTheFirstFreeOneIsReused) {
    TNvOPCGroup group;
    TNvOPCTransaction* first = group.StartTransaction(tkRead);
    TNvOPCTransaction* second = group.StartTransaction(tkRead);
    EXPECT_EQ(first->ID(), 1);
    EXPECT_EQ(second->ID(), 2);
    EXPECT_TRUE(first->Active());
    EXPECT_EQ(group.TransactionList(tkWrite)->Count(), 0) << "each kind has its own list";
    second->Finish();
    first->Finish();
    EXPECT_EQ(group.StartTransaction(tkRead), first);
    EXPECT_EQ(first->ID(), 1);
    EXPECT_EQ(group.TransactionList(tkRead)->Count(), 2) << "never more than were open at once";
    EXPECT_EQ(TransactionKindName(tkDataChange), "DataChange");
    EXPECT_EQ(TransactionKindName(tkRead), "Read");
    EXPECT_EQ(TransactionKindName(tkWrite), "Write");
}

TEST(TransactionList, IDsAreFoundByPositionThenByValueThenByTheStandByID) {
    TNvOPCGroup group;
    TNvOPCTransactionList* list = group.TransactionList(tkRead);
    TNvOPCTransaction* a = group.StartTransaction(tkRead);
    TNvOPCTransaction* b = group.StartTransaction(tkRead);
    TNvOPCTransaction* c = group.StartTransaction(tkRead);
    EXPECT_EQ(list->ItemByID(2), b);
    EXPECT_EQ(list->ItemByID(4), nullptr) << "beyond the list";
    EXPECT_EQ(list->ItemByID(0), nullptr);

    // A server's own ID is found among the active transactions by value.
    a->SetID(500);
    EXPECT_EQ(list->ItemByID(500), a);
    a->Finish();
    EXPECT_EQ(list->ItemByID(500), nullptr) << "an idle transaction is no longer looked for by value";

    // An answer that comes before the server's call has returned takes the last waiting one.
    b->SetID(PendingTransactionID);
    c->SetID(PendingTransactionID);
    EXPECT_EQ(list->ItemByID(77), c);
    c->Finish();
    EXPECT_EQ(list->ItemByID(77), b);
}

TEST(TransactionList, ConcurrentStartsNeverShareATransaction) {
    TNvOPCGroup group;
    std::vector<TNvOPCTransaction*> started[2];
    auto work = [&](int k) {
        for (int i = 0; i < 200; ++i)
            started[k].push_back(group.StartTransaction(tkDataChange));
    };
    std::thread one(work, 0), two(work, 1);
    one.join();
    two.join();
    std::vector<TNvOPCTransaction*> all(started[0]);
    all.insert(all.end(), started[1].begin(), started[1].end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_EQ(group.TransactionList(tkDataChange)->Count(), 400);
}

TEST(Transaction, EntriesGrowByDoublingAndKeepWhatTheyHold) {
    TNvOPCGroup group;
    TNvOPCTransaction* t = group.StartTransaction(tkWrite);
    EXPECT_EQ(t->Capacity(), 4) << "a write reserves four entries";
    for (OPCHANDLE h = 0; h < 9; ++h) {
        int index = t->AddHandle(h, 100 + h);
        t->SetValues(index, Int(static_cast<LONG>(h * 10)));
    }
    EXPECT_EQ(t->Count(), 9);
    EXPECT_EQ(t->Capacity(), 16);
    EXPECT_EQ(t->ServerHandles(8), 108u);
    EXPECT_EQ(t->Values(3).lVal, 30);
    EXPECT_EQ(t->AckItem(5, E_FAIL), 5);
    EXPECT_EQ(t->GetErrors(5), E_FAIL);
    EXPECT_EQ(t->AckItem(99, E_FAIL), -1);
    EXPECT_THROW(t->ClientHandles(9), EListError);

    t->Rollback();
    EXPECT_FALSE(t->Active());
    EXPECT_EQ(t->Count(), 0);
    EXPECT_EQ(t->Capacity(), 16) << "storage stays for the next use";

    // A group's transactions reserve its item count.
    group.AddItems(std::vector<std::string>{"A.1", "A.2", "A.3", "A.4", "A.5", "A.6"});
    EXPECT_EQ(group.StartTransaction(tkRead)->Capacity(), 6);
}

TEST(Transaction, AReadAnswerForAnUnaskedHandleIsAppended) {
    TNvOPCGroup group;
    auto* read = static_cast<TNvOPCReadTransaction*>(group.StartTransaction(tkRead));
    read->AddHandle(1, 10);
    const FILETIME stamp{1, 2};
    EXPECT_EQ(read->AckItem(1, Int(5), S_OK, stamp, OPC_QUALITY_GOOD), 0);
    EXPECT_EQ(read->AckItem(8, Int(6), S_OK, stamp, OPC_QUALITY_GOOD), 1);
    EXPECT_EQ(read->Count(), 2);
    EXPECT_EQ(read->ServerHandles(1), 0u);
    EXPECT_EQ(read->Values(1).lVal, 6);
    EXPECT_EQ(read->Qualities(1), OPC_QUALITY_GOOD);
}

TEST(Transaction, AnErrorListCountsAsRefusedOnlyWhenNoEntrySucceeded) {
    TNvOPCGroup group;
    TNvOPCTransaction* t = group.StartTransaction(tkWrite);
    const HRESULT allFailed[] = {E_FAIL, OPC_E_BADRIGHTS};
    const HRESULT oneGood[] = {E_FAIL, S_FALSE};
    EXPECT_TRUE(t->SetErrorList(allFailed, 2));
    EXPECT_FALSE(t->SetErrorList(oneGood, 2));
    EXPECT_TRUE(t->SetErrorList(nullptr, 0));
}

TEST(Transaction, AWriteConvertsItsValueForTheItemsType) {
    TNvOPCGroup group;
    TNvOPCItem* small = group.AddItem("Plant.Small");
    small->SetRequestedDataType(VT_I2);
    TNvOPCItem* bits = group.AddItem("Plant.Bits");
    bits->SetRequestedDataType(VT_ARRAY | VT_BOOL);
    TNvOPCItem* any = group.AddItem("Plant.Any");
    auto* write = static_cast<TNvOPCWriteTransaction*>(group.StartTransaction(tkWrite));

    VARIANT yes;
    VariantInit(&yes);
    yes.vt = VT_BOOL;
    yes.boolVal = VARIANT_TRUE;
    int i = write->Add(small, yes);
    EXPECT_EQ(write->Values(i).vt, VT_I4);
    EXPECT_EQ(write->Values(i).lVal, 1) << "true is 1, not -1";

    i = write->Add(bits, Int(5));
    ASSERT_EQ(write->Values(i).vt, VT_ARRAY | VT_BOOL);
    SAFEARRAY* array = write->Values(i).parray;
    LONG lower = -1, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 31);
    for (LONG e = 0; e < 32; ++e) {
        VARIANT_BOOL b = VARIANT_FALSE;
        SafeArrayGetElement(array, &e, &b);
        EXPECT_EQ(b != VARIANT_FALSE, e == 0 || e == 2) << e;
    }

    i = write->Add(small, Int(300));
    EXPECT_EQ(write->Values(i).vt, VT_I2);
    EXPECT_EQ(write->Values(i).iVal, 300);

    i = write->Add(any, Int(70000));
    EXPECT_EQ(write->Values(i).vt, VT_I4) << "an item without a type takes the value as it is";

    const int before = write->Count();
    VARIANT word;
    VariantInit(&word);
    word.vt = VT_BSTR;
    word.bstrVal = SysAllocString(OLESTR("many"));
    try {
        write->Add(small, word);
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "Could not convert variant of type (OleStr) into type (Smallint)");
    }
    VariantClear(&word);
    EXPECT_EQ(write->Count(), before) << "nothing is appended for a value that does not convert";
}

TEST(Transaction, TheTextsOfATransaction) {
    TNvOPCServer server;
    TNvOPCGroup group;
    group.SetGroupName("Pumps");
    group.SetServer(&server);
    TNvOPCItem* item = group.AddItem("Pump.Speed");
    auto* write = static_cast<TNvOPCWriteTransaction*>(group.StartTransaction(tkWrite));
    EXPECT_EQ(write->AsString("hh:nn", true), "Transaction ID=1 Group=Pumps Kind=Write ItemCount=0 Result=$0 (OK)\r\n");
    write->Add(item, Int(12));
    write->AddHandle(55, 0xFFFFFFFF);
    const HRESULT errors[] = {S_OK, OPC_E_BADRIGHTS};
    write->SetErrorList(errors, 2);
    write->SetResultCode(S_FALSE);
    EXPECT_EQ(write->AsString("hh:nn", false),
              "Transaction ID=1 Group=Pumps Kind=Write ItemCount=2 Result=$1 (S_FALSE)");
    EXPECT_EQ(write->AsString("hh:nn", true),
              "Transaction ID=1 Group=Pumps Kind=Write ItemCount=2 Result=$1 (S_FALSE)\r\n"
              " Pump.Speed(CH=0, SH=-1): 12 {Integer}\r\n"
              " Invalid Item(CH=55, SH=-1): #EMPTY {Default} ErrorCode=C0040006 (No Access Rights)\r\n");

    auto* read = static_cast<TNvOPCReadTransaction*>(group.StartTransaction(tkRead));
    FILETIME stamp{};
    SYSTEMTIME st{2026, 12, 2, 8, 14, 30, 5, 250};
    SystemTimeToFileTime(&st, &stamp);
    read->AckItem(0, Int(7), S_OK, stamp, OPC_QUALITY_GOOD | OPC_LIMIT_HIGH);
    VARIANT empty;
    VariantInit(&empty);
    read->AckItem(3, empty, OPC_E_UNKNOWNITEMID, FILETIME{}, 0);
    EXPECT_EQ(read->AsString("yyyy/mm/dd hh:nn:ss.zzz", true),
              "Transaction ID=1 Group=Pumps Kind=Read ItemCount=2 Result=$0 (OK)\r\n"
              " Pump.Speed(CH=0, SH=0): 2026/12/08 14:30:05.250 Good;Non-specific;At High limit 7\r\n"
              " 3/0 Invalid Item: ErrorCode=C0040007\r\n");

    // The log records the text in full, and a missing transaction by name.
    server.Log()->AddTransaction(read);
    EXPECT_EQ(server.Log()->Count(), 0) << "an inactive log builds nothing";
    server.Log()->SetActive(true);
    server.Log()->AddTransaction(read);
    server.Log()->AddTransaction(nullptr);
    ASSERT_EQ(server.Log()->Count(), 2);
    EXPECT_NE(server.Log()->Lines(0).find("Kind=Read ItemCount=2"), std::string::npos);
    EXPECT_EQ(server.Log()->Lines(1).substr(24), "Invalid transaction");
}

TEST(Transaction, CommittingWithoutAConnectionIsRefused) {
    TNvOPCGroup group;
    TNvOPCTransaction* t = group.StartTransaction(tkRead);
    try {
        t->Commit(false);
        FAIL() << "no exception";
    } catch (const ENvOPCException& e) {
        EXPECT_STREQ(e.what(), "Group not Connected.");
    }
    EXPECT_TRUE(t->Active()) << "the caller rolls it back";
    EXPECT_THROW(group.Refresh(), ENvOPCException);
    try {
        group.Refresh();
    } catch (const ENvOPCException& e) {
        EXPECT_STREQ(e.what(), "TNvOPCGroup.Refresh: Not connected!");
    }
}

TEST(ChangeRate, IsTheAverageIntervalOnceTenSecondsHavePassed) {
    TNvOPCGroup group;
    double seconds = 0;
    const TDateTime start = 46000.0;
    group.SetClock([&] { return start + seconds / 86400.0; });
    int reported = 0;
    group.OnChangeRate = [&](TObject*) { ++reported; };
    group.UpdateChangeRate();  // the first change only starts the measurement
    EXPECT_EQ(group.ChangeCount(), 0);
    for (int i = 1; i < 20; ++i) {
        seconds = i * 0.5;
        group.UpdateChangeRate();
    }
    EXPECT_EQ(group.ChangeRate(), 0) << "ten seconds have not passed yet";
    seconds = 10.5;
    group.UpdateChangeRate();
    EXPECT_EQ(group.ChangeRate(), 525) << "10.5 s over 20 changes, rounded";
    EXPECT_EQ(reported, 1);
    EXPECT_EQ(group.ChangeCount(), 0);
    EXPECT_DOUBLE_EQ(group.ChangeRateStart(), start + 10.5 / 86400.0);
}

TEST(OPCErrorName, APartlyFailedCallIsNamedSFalse) {
    EXPECT_EQ(GetOPCErrorName(S_FALSE), "S_FALSE");
}

TEST(Item, TheDefinitionIsKeptInTheRecordTheServerReceives) {
    TNvOPCItem item;
    EXPECT_EQ(item.ServerHandle(), 0xFFFFFFFFu);
    EXPECT_TRUE(item.GetActive());
    EXPECT_EQ(item.ItemDef().szItemID, nullptr) << "no text, no string";
    item.SetItemID("Tank.Level");
    ASSERT_NE(item.ItemDef().szItemID, nullptr);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(item.ItemDef().szItemID)), u"Tank.Level");
    item.SetActive(false);
    EXPECT_EQ(item.ItemDef().bActive, 0);
    item.SetClientHandle(17);
    EXPECT_EQ(item.ItemDef().hClient, 17u);

    OPCITEMRESULT result{};
    result.hServer = 5;
    result.vtCanonicalDataType = VT_R4;
    result.dwAccessRights = OPC_READABLE;
    BYTE blob[3] = {1, 2, 3};
    result.dwBlobSize = 3;
    result.pBlob = blob;
    item.SetItemResult(result, S_OK);
    EXPECT_EQ(item.ServerHandle(), 5u);
    EXPECT_EQ(item.GetDataType(), VT_R4);
    ASSERT_EQ(item.BlobSize(), 3u);
    EXPECT_EQ(item.Blob()[2], 3);
    EXPECT_EQ(item.ItemDef().pBlob, item.Blob()) << "the blob goes with the definition";
    item.SetDataType(VT_R4);
    EXPECT_EQ(item.GetRequestedDataType(), VT_EMPTY) << "the canonical type asks for nothing";

    result.pBlob = nullptr;
    item.SetItemResult(result, OPC_E_UNKNOWNITEMID);
    EXPECT_EQ(item.ServerHandle(), 0xFFFFFFFFu);
    EXPECT_EQ(item.BlobSize(), 0u);
    EXPECT_EQ(item.Error(), OPC_E_UNKNOWNITEMID);
}

TEST(Item, HandlesAreFoundAfterRemovalsAndChanges) {
    TNvOPCGroup group;
    for (int i = 0; i < 5; ++i)
        group.AddItem(Format("Plant.%d", i));
    EXPECT_EQ(group.IndexOfClientHandle(3), 3);
    group.RemoveItem(1);
    EXPECT_EQ(group.IndexOfClientHandle(3), 2);
    EXPECT_EQ(group.IndexOfClientHandle(1), -1);
    group.Items(0)->SetClientHandle(40);
    EXPECT_EQ(group.IndexOfClientHandle(40), 0);
    EXPECT_EQ(group.IndexOfClientHandle(0), -1);
    EXPECT_EQ(group.AddItem("Plant.New")->GetClientHandle(), 5u) << "the counter is never reset";
    group.Clear();
    EXPECT_EQ(group.ItemCount(), 0);
    EXPECT_EQ(group.IndexOfClientHandle(3), -1);
}

}  // namespace
