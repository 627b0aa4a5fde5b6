// Values on their way between a real server and the items: subscriptions and refreshes by
// callback, synchronous and asynchronous reads and writes, both DA versions, the transaction
// texts the log records, and callbacks the client must refuse. The simulation server calls back
// from its own thread, as a server in another process would.
#include "GroupTestSupport.h"

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/NvConvert.h"
#include "opc/include/opc.h"

namespace {

using namespace nv;
using grouptest::GroupTest;
using grouptest::kDA1;
using grouptest::kDA2;

class DataFlowTest : public GroupTest, public ::testing::WithParamInterface<const char*> {
protected:
    // A connected, active, asynchronous group of the given items.
    TNvOPCGroup* AsyncGroup(const std::vector<std::string>& ids, DWORD rate = 50) {
        ConnectServer(GetParam());
        TNvOPCGroup* group = NewGroup("Flow");
        group->SetUpdateRate(rate);
        group->SetActive(true);
        group->SetAsync(true);
        group->AddItems(ids);
        return group;
    }
    bool DA1() const { return std::strcmp(GetParam(), kDA1) == 0; }
};

TEST_P(DataFlowTest, SubscriptionChangesReachTheItemsOnTheWindowThread) {
    TNvOPCGroup* group = AsyncGroup({"Dynamic.Counter.Int4", "Static.String"});
    const std::thread::id window = std::this_thread::get_id();
    std::vector<LONG> ids;
    bool onWindowThread = true;
    group->OnDataChange = [&](TObject* sender, TNvOPCTransaction* t) {
        onWindowThread = onWindowThread && std::this_thread::get_id() == window && sender == group;
        ids.push_back(t->ID());
    };
    ASSERT_TRUE(Pump([&] { return ids.size() >= 3; }));
    EXPECT_TRUE(onWindowThread);
    TNvOPCItem* counter = group->Items(0);
    EXPECT_EQ(counter->Value().vt, VT_I4);
    EXPECT_EQ(counter->Quality() & 0xC0, OPC_QUALITY_GOOD);
    EXPECT_GT(counter->Timestamp(), 40000.0) << "a time stamp of this century";
    EXPECT_EQ(group->Items(1)->Value().vt, VT_BSTR);
    for (LONG id : ids)
        EXPECT_GE(id, 1) << "a subscription change has a transaction of its own";
    EXPECT_GE(CountLogStartingWith("Transaction ID="), 3) << "every data change is logged";
    const std::string entry = Format(" Dynamic.Counter.Int4(CH=0, SH=%d): ", static_cast<LONG>(counter->ServerHandle()));
    bool named = false;
    for (const std::string& e : LogEntries())
        named = named || e.find(entry) != std::string::npos;
    EXPECT_TRUE(named) << "a data change's entries show the items' server handles";
}

TEST_P(DataFlowTest, ARefreshIsAnsweredWithItsOwnTransaction) {
    TNvOPCGroup* group = AsyncGroup({"Static.Int4", "Static.Real8"}, 60000);
    // Let the first subscription answer come and go.
    int changes = 0;
    group->OnDataChange = [&](TObject*, TNvOPCTransaction*) { ++changes; };
    Pump([&] { return changes > 0; }, 3000);
    TNvOPCTransaction* answered = nullptr;
    int items = 0;
    group->OnDataChange = [&](TObject*, TNvOPCTransaction* t) {
        answered = t;
        items = t->Count();
    };
    TNvOPCTransaction* refresh = group->AsyncRefresh();
    ASSERT_NE(refresh, nullptr);
    ASSERT_TRUE(Pump([&] { return answered != nullptr; }));
    EXPECT_EQ(answered, refresh);
    EXPECT_EQ(items, 2) << "a refresh answers for every active item";
    EXPECT_FALSE(refresh->Active()) << "finished and free for reuse";
}

TEST_P(DataFlowTest, AsynchronousReadsAndWritesComplete) {
    TNvOPCGroup* group = AsyncGroup({"Static.Int4", "Static.String"}, 60000);
    TNvOPCItem* number = group->Items(0);
    int written = 0;
    group->OnWriteCompleted = [&](TObject*, TNvOPCTransaction* t) {
        ++written;
        EXPECT_EQ(t->GetErrors(0), S_OK);
    };
    VARIANT value = Int(4711);
    group->WriteItem(number, value, true, true);
    ASSERT_TRUE(Pump([&] { return written == 1; }));

    TNvOPCTransaction* read = group->StartTransaction(tkRead);
    read->Add(number);
    read->Add(group->Items(1));
    int completed = 0;
    group->OnReadCompleted = [&](TObject*, TNvOPCTransaction* t) {
        EXPECT_EQ(t, read);
        ++completed;
    };
    read->Commit(true);
    ASSERT_TRUE(Pump([&] { return completed == 1; }));
    EXPECT_EQ(number->Value().vt, VT_I4);
    EXPECT_EQ(number->Value().lVal, 4711);
    EXPECT_EQ(CountLogStartingWith(DA1() ? "IOPCAsyncIO.Write: Result=$0" : "IOPCAsyncIO2.Write: Result=$0"), 1);
}

TEST_P(DataFlowTest, AnAsynchronousWriteOnASynchronousGroupRegistersTheCallbacksFirst) {
    ConnectServer(GetParam());
    TNvOPCGroup* group = NewGroup();
    TNvOPCItem* item = group->AddItem("Static.Int4");
    EXPECT_EQ(group->AsyncConnection(), 0u);
    int written = 0;
    group->OnWriteCompleted = [&](TObject*, TNvOPCTransaction*) { ++written; };
    VARIANT value = Int(12);
    group->WriteItem(item, value, true, true);
    EXPECT_NE(group->AsyncConnection(), 0u);
    EXPECT_TRUE(group->HasNotifyWindow());
    ASSERT_TRUE(Pump([&] { return written == 1; }));
    EXPECT_FALSE(group->Async()) << "the group itself stays synchronous";
}

TEST_P(DataFlowTest, AWriteRefusedForTheItemRaisesWithTheWriteInItsText) {
    ConnectServer(GetParam());
    TNvOPCGroup* group = NewGroup();
    TNvOPCItem* percent = group->AddItem("Static.Percent");
    VARIANT tooMuch = Real(150);
    try {
        group->WriteItem(percent, tooMuch, true, false);
        FAIL() << "no exception";
    } catch (const ENvOPCError& e) {
        EXPECT_EQ(std::string(e.what()), "Write failed: IOPCSyncIO.Write(Static.Percent, 150 {Double})");
        EXPECT_EQ(e.ErrorCode(), OPC_E_RANGE);
    }
    const auto entries = LogEntries();
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries[entries.size() - 3], "IOPCSyncIO.Write: Result=$1 (S_FALSE)");
    EXPECT_EQ(entries[entries.size() - 2],
              Format("Transaction ID=%d Group=Group Kind=Write ItemCount=1 Result=$1 (S_FALSE)\r\n"
                     " Static.Percent(CH=0, SH=%d): 150 {Double} ErrorCode=C004000B (Value out of Range)\r\n",
                     DA1() ? PendingTransactionID : 1, static_cast<LONG>(percent->ServerHandle())));
    EXPECT_EQ(entries.back(),
              "IOPCSyncIO.Write(Static.Percent, 150 {Double}): Result=$C004000B (Value out of Range)");

    // A value that cannot become the item's type raises before anything is sent.
    const int writes = CountLogStartingWith("IOPCSyncIO.Write:");
    VARIANT word = Text("plenty");
    EXPECT_THROW(group->WriteItem(percent, word, true, false), EConvertError);
    VariantClear(&word);
    EXPECT_EQ(CountLogStartingWith("IOPCSyncIO.Write:"), writes);
}

TEST_P(DataFlowTest, TrueIsWrittenAsOneToAnIntegerItem) {
    ConnectServer(GetParam());
    TNvOPCGroup* group = NewGroup();
    TNvOPCItem* item = group->AddItem("Static.Int2");
    VARIANT yes = Bool(true);
    group->WriteItem(item, yes, true, false);
    group->Refresh();
    EXPECT_EQ(item->Value().vt, VT_I2);
    EXPECT_EQ(item->Value().iVal, 1) << "true is 1, not -1";
}

TEST_P(DataFlowTest, SynchronousAndAsynchronousModesSwitch) {
    ConnectServer(GetParam());
    TNvOPCGroup* group = NewGroup();
    group->SetUpdateRate(50);
    group->SetActive(true);
    group->AddItem("Dynamic.Counter.Int4");
    ASSERT_NE(group->RefreshTimer(), nullptr) << "a synchronous group reads by timer";
    EXPECT_TRUE(group->RefreshTimer()->Enabled());
    int reads = 0;
    group->OnReadCompleted = [&](TObject*, TNvOPCTransaction* t) {
        EXPECT_EQ(t, group->SyncReadTransaction());
        ++reads;
    };
    ASSERT_TRUE(Pump([&] { return reads >= 2; }));

    group->SetAsync(true);
    EXPECT_EQ(group->RefreshTimer(), nullptr) << "no timer without a refresh interval";
    EXPECT_NE(group->AsyncConnection(), 0u);
    int changes = 0;
    group->OnDataChange = [&](TObject*, TNvOPCTransaction*) { ++changes; };
    ASSERT_TRUE(Pump([&] { return changes >= 2; }));

    group->SetAsyncRefreshInterval(5000);
    ASSERT_NE(group->RefreshTimer(), nullptr);
    EXPECT_EQ(group->RefreshTimer()->Interval(), 5000u);

    group->SetAsync(false);
    EXPECT_EQ(group->AsyncConnection(), 0u);
    EXPECT_FALSE(group->HasNotifyWindow());
    ASSERT_NE(group->RefreshTimer(), nullptr);
    EXPECT_EQ(group->RefreshTimer()->Interval(), 50u);
}

TEST_P(DataFlowTest, WithoutTheTimerOnlyRefreshReadsAndItReadsTheDevice) {
    ConnectServer(GetParam());
    TNvOPCGroup* group = NewGroup();
    group->SetSyncTimerEnabled(false);
    group->SetUpdateRate(20);
    group->SetActive(true);
    group->AddItem("Dynamic.Counter.Int4");
    int reads = 0;
    group->OnReadCompleted = [&](TObject*, TNvOPCTransaction*) { ++reads; };
    Pump([] { return false; }, 200);
    EXPECT_EQ(reads, 0);
    int sourceChanges = 0;
    group->OnConfigChange = [&](TObject*) { ++sourceChanges; };
    EXPECT_EQ(group->Refresh(), group->SyncReadTransaction());
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(group->DataSource(), opcdsCache) << "the data source is back as it was";
    EXPECT_EQ(sourceChanges, 2) << "to the device and back";
}

TEST_P(DataFlowTest, ASynchronousReadWithAFailedEntryIsLoggedInFull) {
    ConnectServer(GetParam());
    TNvOPCGroup* group = NewGroup();
    group->SetAcceptInvalidItems(true);
    group->SetSyncTimerEnabled(false);
    group->SetActive(true);
    group->AddItems(std::vector<std::string>{"Static.Int4", "Nowhere.Item"});
    VARIANT value = Int(815);
    group->WriteItem(group->Items(0), value, true, false);

    TNvOPCTransaction* read = group->StartTransaction(tkRead);
    read->Add(group->Items(0));
    read->Add(group->Items(1));
    read->Commit(false);
    EXPECT_EQ(read->ResultCode(), S_FALSE);
    auto* entries = static_cast<TNvOPCReadTransaction*>(read);
    EXPECT_EQ(entries->Values(1).vt, VT_EMPTY);
    EXPECT_EQ(entries->Qualities(1), 0);
    EXPECT_EQ(entries->Values(0).lVal, 815);

    const auto log = LogEntries();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "IOPCSyncIO.Read: Result=$1 (S_FALSE)");
    const std::string text = log.back();
    const std::string header = Format("Transaction ID=%d Group=Group Kind=Read ItemCount=2 Result=$1 (S_FALSE)\r\n",
                                      DA1() ? PendingTransactionID : 1);
    ASSERT_EQ(text.substr(0, header.size()), header);
    const std::string good = text.substr(header.size(), text.find("\r\n", header.size()) - header.size());
    const std::string stamp =
        FormatDateTime(server_->Log()->DateTimeFormat(), FileTimeToDateTime(entries->Timestamps(0)));
    EXPECT_EQ(good, Format(" Static.Int4(CH=0, SH=%d): %s Good;Non-specific;Not limited 815",
                           static_cast<LONG>(group->Items(0)->ServerHandle()), stamp));
    EXPECT_EQ(text.substr(header.size() + good.size() + 2), " 1/-1 Nowhere.Item: ErrorCode=C0040001\r\n")
        << "the server refuses the handle of an item it never accepted";
}

TEST_P(DataFlowTest, OverlappingReadsGetTheirOwnIDsAndFreeOnesAreReused) {
    TNvOPCGroup* group = AsyncGroup({"Static.Int4"}, 60000);
    TNvOPCTransaction* first = group->StartTransaction(tkRead);
    first->Add(group->Items(0));
    first->Commit(true);
    TNvOPCTransaction* second = group->StartTransaction(tkRead);
    second->Add(group->Items(0));
    second->Commit(true);
    EXPECT_NE(first, second);
    if (!DA1()) {
        EXPECT_EQ(first->ID(), 1);
        EXPECT_EQ(second->ID(), 2);
    } else {
        EXPECT_NE(first->ID(), second->ID()) << "the server's own IDs";
        EXPECT_NE(first->ID(), PendingTransactionID);
    }
    ASSERT_TRUE(Pump([&] { return !first->Active() && !second->Active(); }));
    TNvOPCTransaction* third = group->StartTransaction(tkRead);
    EXPECT_EQ(third, first) << "the first free transaction is reused";
    if (!DA1()) {
        EXPECT_EQ(third->ID(), 1);
    }
    third->Rollback();
}

TEST_P(DataFlowTest, ACompletionForAnUnknownTransactionIsLoggedAndDropped) {
    TNvOPCGroup* group = AsyncGroup({"Static.Int4"}, 60000);
    const OPCHANDLE handle = group->ClientHandle();
    // From a thread of its own, as a server's completion would come.
    std::thread server([&] {
        OPCHANDLE client = 0;
        VARIANT value = Int(1);
        WORD quality = OPC_QUALITY_GOOD;
        FILETIME stamp{};
        HRESULT error = S_OK;
        group->DataCallback()->OnReadComplete(77, handle, S_OK, S_OK, 1, &client, &value, &quality, &stamp, &error);
        group->DataCallback()->OnWriteComplete(78, handle, S_OK, 1, &client, &error);
    });
    server.join();
    int failures = 0;
    group->OnTransactionError = [&](TObject*, TNvOPCTransaction* t) {
        EXPECT_EQ(t, nullptr);
        ++failures;
    };
    ASSERT_TRUE(Pump([&] { return failures == 2; }));
    EXPECT_EQ(CountLog("Invalid transaction"), 2);
    EXPECT_EQ(CountLog("Group 'Flow': read completion for unknown transaction 77"), 1);
    EXPECT_EQ(CountLog("Group 'Flow': write completion for unknown transaction 78"), 1);
    EXPECT_EQ(group->Items(0)->Value().vt == VT_I4 && group->Items(0)->Value().lVal == 1, false)
        << "nothing of it reached the item";
    EXPECT_TRUE(group->Active()) << "a failed read or write leaves the group active";
}

TEST_P(DataFlowTest, ADataChangeForAnotherGroupIsIgnored) {
    TNvOPCGroup* group = AsyncGroup({"Static.Int4"}, 60000);
    int changes = 0;
    group->OnDataChange = [&](TObject*, TNvOPCTransaction*) { ++changes; };
    Pump([&] { return changes > 0; }, 3000);
    changes = 0;
    OPCHANDLE client = 0;
    VARIANT value = Int(99);
    WORD quality = OPC_QUALITY_GOOD;
    FILETIME stamp{};
    HRESULT error = S_OK;
    group->DataCallback()->OnDataChange(0, group->ClientHandle() + 1, S_OK, S_OK, 1, &client, &value, &quality,
                                        &stamp, &error);
    Pump([] { return false; }, 100);
    EXPECT_EQ(changes, 0);
    EXPECT_NE(group->Items(0)->Value().lVal, 99);
}

// A server's DA 1.0a stream that does not fit its own block: refused with a log line, the
// group deactivated as for any failed data change, and nothing read outside the block.
TEST_F(GroupTest, AMalformedDA1StreamIsRejectedSafely) {
    ConnectServer(kDA1);
    TNvOPCGroup* group = NewGroup("Old");
    group->SetUpdateRate(60000);
    group->SetActive(true);
    group->SetAsync(true);
    group->AddItem("Static.Int4");
    EXPECT_EQ(CountLog("IDataObject.DAdvise(OPCSTMFORMATWRITECOMPLETE): Result=$0 (OK)"), 1)
        << "write completions have an advise of their own";
    int changes = 0;
    group->OnDataChange = [&](TObject*, TNvOPCTransaction*) { ++changes; };
    Pump([&] { return changes > 0; }, 3000);

    const SIZE_T size = sizeof(OPCGROUPHEADER) + sizeof(OPCITEMHEADER1);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    ASSERT_NE(memory, nullptr);
    auto* bytes = static_cast<BYTE*>(GlobalLock(memory));
    OPCGROUPHEADER header{static_cast<DWORD>(size), 1, group->ClientHandle(), 0, S_OK};
    OPCITEMHEADER1 item{0, 0x7FFFFFF0, OPC_QUALITY_GOOD, 0, {}};  // the value lies far outside
    std::memcpy(bytes, &header, sizeof header);
    std::memcpy(bytes + sizeof header, &item, sizeof item);
    GlobalUnlock(memory);
    FORMATETC format{static_cast<CLIPFORMAT>(RegisterClipboardFormatW(OPCSTMFORMATDATATIME)), nullptr,
                     DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = memory;
    int failures = 0;
    group->OnTransactionError = [&](TObject*, TNvOPCTransaction*) { ++failures; };
    std::thread server([&] { group->AdviseSink()->OnDataChange(&format, &medium); });
    server.join();
    GlobalFree(memory);
    ASSERT_TRUE(Pump([&] { return failures == 1; }));
    EXPECT_EQ(CountLogStartingWith("Group 'Old': DA 1.0a stream of 40 bytes: a value at offset 2147483632 lies "
                                   "outside it"),
              1);
    EXPECT_FALSE(group->Active()) << "a failed data change deactivates the group";
    EXPECT_EQ(group->TransactionList(tkDataChange)->ItemByID(1) == nullptr ||
                  !group->TransactionList(tkDataChange)->ItemByID(1)->Active(),
              true)
        << "the refused stream's transaction was rolled back";
}

TEST_P(DataFlowTest, ValuesForUnknownClientHandlesAreDroppedWithALogLine) {
    TNvOPCGroup* group = AsyncGroup({"Static.Int4"}, 60000);
    int changes = 0;
    group->OnDataChange = [&](TObject*, TNvOPCTransaction*) { ++changes; };
    Pump([&] { return changes > 0; }, 3000);
    const int before = changes;
    OPCHANDLE clients[] = {0, 9999};
    VARIANT values[] = {Int(31), Int(32)};
    WORD qualities[] = {OPC_QUALITY_GOOD, OPC_QUALITY_GOOD};
    FILETIME stamps[2] = {};
    HRESULT errors[] = {S_OK, S_OK};
    std::thread server([&] {
        group->DataCallback()->OnDataChange(0, group->ClientHandle(), S_OK, S_OK, 2, clients, values, qualities,
                                            stamps, errors);
    });
    server.join();
    ASSERT_TRUE(Pump([&] { return changes > before; }));
    EXPECT_EQ(group->Items(0)->Value().lVal, 31) << "the known item still gets its value";
    EXPECT_EQ(CountLogStartingWith("Group 'Flow': 1 value(s) of DataChange transaction "), 1);
}

TEST_P(DataFlowTest, CallbacksToAGroupThatTakesNoneAreDroppedAndCounted) {
    ConnectServer(GetParam());
    TNvOPCGroup* group = NewGroup("Quiet");
    group->AddItem("Static.Int4");
    ASSERT_FALSE(group->HasNotifyWindow()) << "a synchronous group has no callbacks";
    OPCHANDLE client = 0;
    VARIANT value = Int(5);
    WORD quality = OPC_QUALITY_GOOD;
    FILETIME stamp{};
    HRESULT error = S_OK;
    std::thread server([&] {
        for (int i = 0; i < 3; ++i)
            group->DataCallback()->OnDataChange(0, group->ClientHandle(), S_OK, S_OK, 1, &client, &value, &quality,
                                                &stamp, &error);
    });
    server.join();
    EXPECT_EQ(group->TransactionList(tkDataChange)->Count(), 0) << "no transaction was started for them";
    group->Disconnect();
    EXPECT_EQ(CountLog("Group 'Quiet': 3 callback(s) arrived while the group was not taking callbacks and were "
                       "dropped"),
              1);
}

TEST_P(DataFlowTest, AFailedTimerReadDeactivatesTheGroupAndReleasesTheRead) {
    ConnectServer(GetParam());
    TNvOPCGroup* group = NewGroup("Timed");
    group->SetUpdateRate(20);
    group->SetActive(true);
    group->AddItem("Static.Int4");
    VARIANT method = Text("IOPCSyncIO.Read");
    WriteControl("FailMethod", method);
    VariantClear(&method);
    VARIANT once = Int(1);
    WriteControl("FailCount", once);
    int failures = 0;
    group->OnTransactionError = [&](TObject*, TNvOPCTransaction* t) {
        EXPECT_EQ(t, group->SyncReadTransaction());
        ++failures;
    };
    ASSERT_TRUE(Pump([&] { return failures == 1; }));
    EXPECT_FALSE(group->Active());
    EXPECT_FALSE(group->SyncReadTransaction()->Active()) << "the next read is not blocked";
    // The text is the system's own; Wine words it differently from Windows.
    EXPECT_EQ(CountLog(Format("IOPCSyncIO.Read: Result=$80004005 (%s)", GetOPCErrorName(E_FAIL))), 1);
    group->SetActive(true);
    int reads = 0;
    group->OnReadCompleted = [&](TObject*, TNvOPCTransaction*) { ++reads; };
    EXPECT_TRUE(Pump([&] { return reads > 0; })) << "reading again once reactivated";
}

TEST_P(DataFlowTest, TheItemsTheServerTookStillDeliverWhenOthersAreRefused) {
    ConnectServer(GetParam());
    TNvOPCGroup* group = NewGroup("Mixed");
    group->SetUpdateRate(50);
    group->SetActive(true);
    group->SetAsync(true);
    group->SetAutoConnectItems(false);
    group->AddItems(std::vector<std::string>{"Dynamic.Counter.Int4", "Nowhere.Item"});
    EXPECT_THROW(group->SetAutoConnectItems(true), ENvOPCException);
    EXPECT_NE(group->AsyncConnection(), 0u) << "callbacks were registered with the group";
    group->Disconnect();
    EXPECT_THROW(group->Connect(), ENvOPCException);
    EXPECT_TRUE(group->Connected());
    EXPECT_NE(group->AsyncConnection(), 0u) << "a refused item does not cost the others their callbacks";
    int changes = 0;
    group->OnDataChange = [&](TObject*, TNvOPCTransaction*) { ++changes; };
    EXPECT_TRUE(Pump([&] { return changes > 0; }));
}

INSTANTIATE_TEST_SUITE_P(BothVersions, DataFlowTest, ::testing::Values(kDA2, kDA1),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::strcmp(info.param, kDA1) == 0 ? std::string("DA1") : std::string("DA2");
                         });

}  // namespace
