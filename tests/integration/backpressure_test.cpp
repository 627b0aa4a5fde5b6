// A window thread that falls behind its server: subscription changes that arrive while one is
// still waiting are merged into it, newest value per item, so memory stays bounded by the
// group's size instead of growing with every callback.
#include "GroupTestSupport.h"

#include <cstring>
#include <thread>
#include <vector>

namespace {

using namespace nv;
using grouptest::GroupTest;
using grouptest::kDA1;
using grouptest::kDA2;

class BackPressureTest : public GroupTest {
protected:
    // A connected asynchronous group whose own subscription stays quiet after its first answer.
    TNvOPCGroup* QuietGroup(const char* progID, const std::vector<std::string>& ids) {
        ConnectServer(progID);
        TNvOPCGroup* group = NewGroup("Flow");
        group->SetUpdateRate(3600000);
        group->SetActive(true);
        group->SetAsync(true);
        group->AddItems(ids);
        group->OnDataChange = [this](TObject*, TNvOPCTransaction*) { ++changes_; };
        EXPECT_TRUE(Pump([&] { return changes_ > 0; })) << "the subscription's first answer";
        changes_ = 0;
        return group;
    }

    // A subscription change of the given handles and values, as the server's thread makes it.
    static void Callback(TNvOPCGroup* group, std::vector<OPCHANDLE> handles, std::vector<LONG> numbers) {
        std::vector<VARIANT> values(numbers.size());
        for (std::size_t i = 0; i < numbers.size(); ++i)
            values[i] = Int(numbers[i]);
        std::vector<WORD> qualities(numbers.size(), OPC_QUALITY_GOOD);
        std::vector<FILETIME> stamps(numbers.size());
        std::vector<HRESULT> errors(numbers.size(), S_OK);
        group->DataCallback()->OnDataChange(0, group->ClientHandle(), S_OK, S_OK, static_cast<DWORD>(handles.size()),
                                            handles.data(), values.data(), qualities.data(), stamps.data(),
                                            errors.data());
    }

    int changes_ = 0;
};

TEST_F(BackPressureTest, ChangesWaitingForTheWindowAreMergedNewestValueFirst) {
    TNvOPCGroup* group = QuietGroup(kDA2, {"Static.Int4", "Static.Int2", "Static.UInt4"});
    std::vector<TNvOPCTransaction*> delivered;
    std::vector<int> counts;
    group->OnDataChange = [&](TObject*, TNvOPCTransaction* t) {
        delivered.push_back(t);
        counts.push_back(t->Count());
    };
    // One change taken at once (the measurement of the change rate began with the first answer).
    std::thread([&] { Callback(group, {0}, {1}); }).join();
    ASSERT_TRUE(Pump([&] { return delivered.size() == 1; }));
    delivered.clear();
    counts.clear();
    const int countBefore = group->ChangeCount();

    // Five changes while the window thread is busy elsewhere.
    std::thread server([&] {
        Callback(group, {0}, {10});
        Callback(group, {0, 1}, {20, 200});
        Callback(group, {0}, {30});
        Callback(group, {1}, {201});
        Callback(group, {0}, {40});
    });
    server.join();
    EXPECT_EQ(group->TransactionList(tkDataChange)->Count(), 1) << "one waiting change, not five";
    ASSERT_TRUE(Pump([&] { return delivered.size() == 1; }));
    Pump([] { return false; }, 50);
    ASSERT_EQ(delivered.size(), 1u) << "nothing is reported twice";
    EXPECT_EQ(counts[0], 2) << "one entry per item";
    EXPECT_EQ(group->Items(0)->Value().lVal, 40);
    EXPECT_EQ(group->Items(1)->Value().lVal, 201);
    EXPECT_EQ(group->ChangeCount(), countBefore + 5) << "every merged change is counted";
    EXPECT_EQ(CountLogStartingWith("Group 'Flow': 4 later data change(s) merged into transaction "), 1);

    // Once taken, the next change has a transaction of its own again.
    std::thread([&] { Callback(group, {2}, {7}); }).join();
    ASSERT_TRUE(Pump([&] { return delivered.size() == 2; }));
    EXPECT_EQ(counts[1], 1);
    EXPECT_EQ(group->Items(2)->Value().lVal, 7);
}

TEST_F(BackPressureTest, AFloodOfCallbacksKeepsOneWaitingChangePerGroup) {
    ConnectServer(kDA2);
    TNvOPCGroup* group = NewGroup("Flood");
    group->SetUpdateRate(10);
    group->SetActive(true);
    group->SetAsync(true);
    std::vector<std::string> ids;
    for (int i = 1; i <= 1000; ++i)
        ids.push_back(Format("Bulk.Item%.4d", i));
    group->AddItems(ids);
    int events = 0;
    int entries = 0;
    group->OnDataChange = [&](TObject*, TNvOPCTransaction* t) {
        ++events;
        entries = std::max(entries, t->Count());
    };
    // The window thread does nothing for a while; the server keeps calling back every 10 ms.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_LE(group->TransactionList(tkDataChange)->Count(), 2);
    ASSERT_TRUE(Pump([&] { return events > 0; }));
    EXPECT_LE(entries, 1000) << "a merged change holds each item once";
    EXPECT_GE(CountLogStartingWith("Group 'Flood': "), 1);
    for (int i = 0; i < group->ItemCount(); i += 97)
        EXPECT_EQ(group->Items(i)->Value().vt, VT_R8) << i;
}

TEST_F(BackPressureTest, DA1StreamsAreMergedToo) {
    TNvOPCGroup* group = QuietGroup(kDA1, {"Static.Int4"});
    std::vector<LONG> seen;
    group->OnDataChange = [&](TObject*, TNvOPCTransaction* t) { seen.push_back(t->Count()); };
    auto stream = [&](LONG number) {
        const SIZE_T size = sizeof(OPCGROUPHEADER) + sizeof(OPCITEMHEADER1) + sizeof(VARIANT);
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
        auto* bytes = static_cast<BYTE*>(GlobalLock(memory));
        OPCGROUPHEADER header{static_cast<DWORD>(size), 1, group->ClientHandle(), 0, S_OK};
        OPCITEMHEADER1 item{0, sizeof(OPCGROUPHEADER) + sizeof(OPCITEMHEADER1), OPC_QUALITY_GOOD, 0, {}};
        VARIANT value = Int(number);
        std::memcpy(bytes, &header, sizeof header);
        std::memcpy(bytes + sizeof header, &item, sizeof item);
        std::memcpy(bytes + sizeof header + sizeof item, &value, sizeof value);
        GlobalUnlock(memory);
        FORMATETC format{static_cast<CLIPFORMAT>(RegisterClipboardFormatW(OPCSTMFORMATDATATIME)), nullptr,
                         DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium{};
        medium.tymed = TYMED_HGLOBAL;
        medium.hGlobal = memory;
        group->AdviseSink()->OnDataChange(&format, &medium);
        GlobalFree(memory);
    };
    std::thread server([&] {
        stream(1);
        stream(2);
        stream(3);
    });
    server.join();
    ASSERT_TRUE(Pump([&] { return !seen.empty(); }));
    Pump([] { return false; }, 50);
    EXPECT_EQ(seen, std::vector<LONG>{1});
    EXPECT_EQ(group->Items(0)->Value().lVal, 3);
}

TEST_F(BackPressureTest, AWaitingChangeDoesNotOutliveItsConnection) {
    TNvOPCGroup* group = QuietGroup(kDA2, {"Static.Int4"});
    std::thread([&] { Callback(group, {0}, {5}); }).join();
    group->Disconnect();  // its notice goes with the notify window
    group->Connect();
    int delivered = 0;
    group->OnDataChange = [&](TObject*, TNvOPCTransaction* t) {
        ++delivered;
        EXPECT_EQ(t->Count(), 1);
    };
    Pump([&] { return delivered > 0; }, 3000);  // the new subscription's first answer
    delivered = 0;
    std::thread([&] { Callback(group, {0}, {6}); }).join();
    ASSERT_TRUE(Pump([&] { return delivered == 1; })) << "a later change is not swallowed by a stale one";
    EXPECT_EQ(group->Items(0)->Value().lVal, 6);
}

}  // namespace
