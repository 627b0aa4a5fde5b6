// DA 1.0a data streams as a server hands them over: global memory whose counts, offsets and
// strings the client must not trust. Built here byte by byte, so that every malformed shape can
// be given to the reader, and read by a group that needs no server for it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "opc/NvOPCGroup.h"
#include "opc/include/opc.h"
#include "platform/NvWide.h"

namespace {

using namespace nv;

struct Entry {
    OPCHANDLE client;
    WORD quality;
    FILETIME stamp;
    VARIANT value;
    std::u16string text;  // for VT_BSTR: the characters written after the record
};

class StreamBuilder {
public:
    explicit StreamBuilder(bool withTime) : withTime_(withTime) {}

    StreamBuilder& Add(OPCHANDLE client, const VARIANT& value, WORD quality = OPC_QUALITY_GOOD,
                       FILETIME stamp = {}, std::u16string text = {}) {
        entries_.push_back({client, quality, stamp, value, std::move(text)});
        return *this;
    }
    StreamBuilder& Transaction(DWORD id) {
        transactionID_ = id;
        return *this;
    }
    StreamBuilder& Status(HRESULT hr) {
        status_ = hr;
        return *this;
    }

    std::vector<BYTE> Build() const {
        const std::size_t headerSize = withTime_ ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
        std::vector<BYTE> bytes(sizeof(OPCGROUPHEADER) + entries_.size() * headerSize);
        std::vector<DWORD> offsets;
        for (const Entry& e : entries_) {
            offsets.push_back(static_cast<DWORD>(bytes.size()));
            VARIANT record = e.value;
            if (record.vt == VT_BSTR)
                record.bstrVal = nullptr;
            Append(bytes, &record, sizeof(VARIANT));
            if (record.vt == VT_BSTR) {
                DWORD length = static_cast<DWORD>(e.text.size() * 2);
                Append(bytes, &length, 4);
                Append(bytes, e.text.c_str(), (e.text.size() + 1) * 2);
            }
        }
        OPCGROUPHEADER header{static_cast<DWORD>(bytes.size()), static_cast<DWORD>(entries_.size()), 1,
                              transactionID_, status_};
        std::memcpy(bytes.data(), &header, sizeof header);
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            BYTE* at = bytes.data() + sizeof(OPCGROUPHEADER) + i * headerSize;
            if (withTime_) {
                OPCITEMHEADER1 item{entries_[i].client, offsets[i], entries_[i].quality, 0, entries_[i].stamp};
                std::memcpy(at, &item, sizeof item);
            } else {
                OPCITEMHEADER2 item{entries_[i].client, offsets[i], entries_[i].quality, 0};
                std::memcpy(at, &item, sizeof item);
            }
        }
        return bytes;
    }

private:
    static void Append(std::vector<BYTE>& bytes, const void* data, std::size_t n) {
        const auto* p = static_cast<const BYTE*>(data);
        bytes.insert(bytes.end(), p, p + n);
    }

    bool withTime_;
    std::vector<Entry> entries_;
    DWORD transactionID_ = 0;
    HRESULT status_ = S_OK;
};

VARIANT Int(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

VARIANT Typed(VARTYPE vt) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.llVal = 0x1122334455667788LL;
    return v;
}

void Poke(std::vector<BYTE>& bytes, std::size_t offset, DWORD value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

class StreamTest : public ::testing::Test {
protected:
    TNvOPCReadTransaction* Read(const std::vector<BYTE>& bytes, bool withTime) {
        return static_cast<TNvOPCReadTransaction*>(group_.HandleDA1DataChange(bytes.data(), bytes.size(), withTime));
    }
    TNvOPCGroup group_;
};

TEST_F(StreamTest, ValuesQualitiesAndTimeStampsArriveByClientHandle) {
    const FILETIME stamp{0x89ABCDEF, 0x01D00000};
    auto bytes = StreamBuilder(true)
                     .Add(7, Int(42), OPC_QUALITY_GOOD, stamp)
                     .Add(9, Typed(VT_BSTR), OPC_QUALITY_UNCERTAIN, stamp, u"pump on")
                     .Add(11, Typed(VT_ARRAY | VT_R8), OPC_QUALITY_GOOD, stamp)
                     .Build();
    TNvOPCReadTransaction* t = Read(bytes, true);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->Kind(), tkDataChange) << "a subscription change starts a transaction of its own";
    ASSERT_EQ(t->Count(), 3);
    EXPECT_EQ(t->ClientHandles(0), 7u);
    EXPECT_EQ(t->Values(0).lVal, 42);
    EXPECT_EQ(t->Timestamps(0).dwHighDateTime, stamp.dwHighDateTime);
    EXPECT_EQ(t->Timestamps(0).dwLowDateTime, stamp.dwLowDateTime);
    EXPECT_EQ(t->Qualities(1), OPC_QUALITY_UNCERTAIN);
    ASSERT_EQ(t->Values(1).vt, VT_BSTR) << "the text after the record";
    EXPECT_EQ(ToUtf8(t->Values(1).bstrVal), "pump on");
    EXPECT_EQ(t->Values(2).vt, VT_EMPTY) << "arrays are not decoded";
    EXPECT_EQ(t->GetErrors(2), S_OK);
}

TEST_F(StreamTest, AStreamWithoutTimeGivesZeroTimeStamps) {
    auto bytes = StreamBuilder(false).Add(3, Int(1)).Add(4, Int(2)).Build();
    TNvOPCReadTransaction* t = Read(bytes, false);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->Count(), 2);
    EXPECT_EQ(t->Values(1).lVal, 2);
    EXPECT_EQ(t->Timestamps(0).dwLowDateTime | t->Timestamps(0).dwHighDateTime, 0u);
}

TEST_F(StreamTest, AFailedOrEmptyStreamGivesNoTransaction) {
    EXPECT_EQ(Read(StreamBuilder(true).Add(1, Int(1)).Status(E_FAIL).Build(), true), nullptr);
    EXPECT_EQ(Read(StreamBuilder(true).Build(), true), nullptr);
    EXPECT_EQ(group_.TransactionList(tkDataChange)->Count(), 0) << "nothing was started for them";
}

TEST_F(StreamTest, AnAnswerForAnUnknownTransactionIsRefused) {
    auto bytes = StreamBuilder(true).Add(1, Int(1)).Transaction(4242).Build();
    try {
        Read(bytes, true);
        FAIL() << "no exception";
    } catch (const ENvOPCException& e) {
        EXPECT_STREQ(e.what(), "Could not get transaction!");
    }
}

TEST_F(StreamTest, AnAnswerForAWaitingReadFindsItAndTakesTheServersID) {
    // A DA 1.0a read waits under the stand-by ID until the server's call has returned.
    TNvOPCTransaction* waiting = group_.StartTransaction(tkRead);
    waiting->SetID(PendingTransactionID);
    auto bytes = StreamBuilder(true).Add(5, Int(8)).Transaction(31).Build();
    EXPECT_EQ(Read(bytes, true), waiting);
    EXPECT_EQ(waiting->ID(), 31);
}

// What a server may get wrong, each of which must be refused without a read outside the block.
TEST_F(StreamTest, MalformedStreamsAreRefusedWithoutReadingOutsideTheBlock) {
    const auto good = StreamBuilder(true).Add(1, Int(1)).Add(2, Typed(VT_BSTR), OPC_QUALITY_GOOD, {}, u"ab").Build();
    struct Case {
        const char* what;
        std::vector<BYTE> bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"shorter than its header", std::vector<BYTE>(good.begin(), good.begin() + 12)});
    {
        auto b = good;
        Poke(b, offsetof(OPCGROUPHEADER, dwItemCount), 0x40000000);  // item headers far beyond the end
        cases.push_back({"item count beyond the block", b});
    }
    {
        auto b = good;
        Poke(b, sizeof(OPCGROUPHEADER) + offsetof(OPCITEMHEADER1, dwValueOffset), 0xFFFFFFF0);
        cases.push_back({"value offset beyond the block", b});
    }
    {
        auto b = good;
        Poke(b, sizeof(OPCGROUPHEADER) + offsetof(OPCITEMHEADER1, dwValueOffset),
             static_cast<DWORD>(b.size() - sizeof(VARIANT) / 2));
        cases.push_back({"value straddling the end", b});
    }
    {
        auto b = good;
        b.resize(b.size() - 2);  // the string's terminating null is cut off
        cases.push_back({"string without its end", b});
    }
    for (const Case& c : cases) {
        // The copy is exactly the block a server would hand over; a sanitizer sees any read past it.
        std::vector<BYTE> block(c.bytes);
        EXPECT_THROW(Read(block, true), ENvOPCException) << c.what;
    }
}

TEST_F(StreamTest, PointersInAStreamAreNeverTakenOver) {
    // A value that points into the writer's memory (an interface, a reference) cannot be used.
    auto bytes = StreamBuilder(true).Add(1, Typed(VT_DISPATCH)).Add(2, Typed(VT_I4 | VT_BYREF)).Add(3, Int(5)).Build();
    TNvOPCReadTransaction* t = Read(bytes, true);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->Count(), 3);
    EXPECT_EQ(t->Values(0).vt, VT_EMPTY);
    EXPECT_EQ(t->GetErrors(0), DISP_E_BADVARTYPE);
    EXPECT_EQ(t->GetErrors(1), DISP_E_BADVARTYPE);
    EXPECT_EQ(t->Values(2).lVal, 5) << "the good entries still arrive";
}

TEST_F(StreamTest, WriteCompletionsAreBoundsCheckedToo) {
    TNvOPCTransaction* write = group_.StartTransaction(tkWrite);
    write->AddHandle(4, 40);
    write->AddHandle(6, 60);
    write->SetID(PendingTransactionID);
    std::vector<BYTE> bytes(sizeof(OPCGROUPHEADERWRITE) + 2 * sizeof(OPCITEMHEADERWRITE));
    OPCGROUPHEADERWRITE header{2, 1, 12, S_OK};
    OPCITEMHEADERWRITE results[2] = {{4, S_OK}, {6, OPC_E_BADRIGHTS}};
    std::memcpy(bytes.data(), &header, sizeof header);
    std::memcpy(bytes.data() + sizeof header, results, sizeof results);
    EXPECT_EQ(group_.HandleDA1WriteComplete(bytes.data(), bytes.size()), write);
    EXPECT_EQ(write->ID(), 12);
    EXPECT_EQ(write->GetErrors(1), OPC_E_BADRIGHTS);

    write->SetID(PendingTransactionID);
    Poke(bytes, 0, 1000);
    EXPECT_THROW(group_.HandleDA1WriteComplete(bytes.data(), bytes.size()), ENvOPCException);
    EXPECT_THROW(group_.HandleDA1WriteComplete(bytes.data(), 8), ENvOPCException);
}

}  // namespace
