// The DA 1.0a path: IDataObject advises, IOPCAsyncIO with server-assigned transaction IDs, and
// the three stream formats parsed by their published layout.
#include "SimTestSupport.h"

using namespace simtest;
using nv::sim::CLSID_SimulationDA1;

namespace {

class DA1Test : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        server_ = Create(CLSID_SimulationDA1);
        group_ = AddGroup(server_.Get(), "da1", 60000, true, 808);
        data_ = group_.As<IDataObject>();
        ASSERT_TRUE(data_);
        sink_ = new StreamSink();
    }
    void TearDown() override {
        data_.Reset();
        group_.Reset();
        server_.Reset();
        sink_->Release();
        SimTest::TearDown();
    }
    DWORD Advise(CLIPFORMAT format, HRESULT expected = S_OK) {
        FORMATETC fe{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        DWORD connection = 0;
        EXPECT_EQ(data_->DAdvise(&fe, ADVF_PRIMEFIRST, sink_, &connection), expected);
        return connection;
    }
    Ptr<IOPCServer> server_;
    Ptr<IOPCItemMgt> group_;
    Ptr<IDataObject> data_;
    StreamSink* sink_ = nullptr;
};

TEST_F(DA1Test, AdvisesAcceptOnlyTheThreeFormatsOnceEach) {
    FORMATETC other{static_cast<CLIPFORMAT>(1), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD connection = 0;
    EXPECT_EQ(data_->DAdvise(&other, 0, sink_, &connection), DV_E_FORMATETC);
    FORMATETC wrongMedium{FormatDataTime(), nullptr, DVASPECT_CONTENT, -1, TYMED_ISTREAM};
    EXPECT_EQ(data_->DAdvise(&wrongMedium, 0, sink_, &connection), DV_E_FORMATETC);
    DWORD a = Advise(FormatData());
    DWORD b = Advise(FormatDataTime());
    DWORD c = Advise(FormatWriteComplete());
    EXPECT_NE(a, b);
    EXPECT_NE(b, c);
    Advise(FormatDataTime(), CONNECT_E_ADVISELIMIT);
    EXPECT_EQ(data_->DUnadvise(b), S_OK);
    EXPECT_EQ(data_->DUnadvise(b), OLE_E_NOCONNECTION);
    Advise(FormatDataTime());  // free again
}

TEST_F(DA1Test, SubscriptionStreamsCarryEveryActiveItemWithTimeAndWithout) {
    auto added = AddItems(group_.Get(),
                          {"Static.Int4", "Static.String", "Static.Arrays.Real8Array", "ReadOnly.Boolean"});
    ASSERT_EQ(added.size(), 4u);
    Advise(FormatDataTime());
    Advise(FormatData());
    // A fast rate for the subscription.
    Ptr<IOPCGroupStateMgt> state = group_.As<IOPCGroupStateMgt>();
    DWORD rate = 10, revised = 0;
    ASSERT_EQ(state->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
    ASSERT_TRUE(sink_->WaitFor([](const std::vector<Stream>& streams) {
        bool withTime = false, without = false;
        for (const auto& s : streams) {
            withTime = withTime || s.format == FormatDataTime();
            without = without || s.format == FormatData();
        }
        return withTime && without;
    }));
    for (const Stream& s : sink_->Streams()) {
        ASSERT_TRUE(s.valid) << s.problem;
        EXPECT_EQ(s.transactionId, 0u);  // a subscription update
        EXPECT_EQ(s.hClientGroup, 808u);
        EXPECT_NE(s.thread, std::this_thread::get_id());
        ASSERT_EQ(s.items.size(), 4u);
        EXPECT_EQ(s.items[0].hClient, 1u);
        EXPECT_EQ(s.items[0].value.v.vt, VT_I4);
        EXPECT_EQ(s.items[0].value.v.lVal, -123456);
        EXPECT_EQ(s.items[1].value.Text(), "Hello");
        EXPECT_EQ(s.items[3].value.v.vt, VT_BOOL);
        EXPECT_EQ(s.items[0].quality & OPC_QUALITY_MASK, OPC_QUALITY_GOOD);
        if (s.format == FormatDataTime())
            EXPECT_NE(s.items[0].timeStamp.dwHighDateTime, 0u);
        else
            EXPECT_EQ(s.items[0].timeStamp.dwHighDateTime, 0u);  // no time in this format
    }
}

TEST_F(DA1Test, StreamRecordsFollowThePublishedLayoutByteForByte) {
    auto added = AddItems(group_.Get(), {"Static.String"});
    ASSERT_EQ(WriteSync(group_.Get(), added[0].hServer, Value::Str("AB")), S_OK);
    DWORD connection = Advise(FormatData());
    Ptr<IOPCAsyncIO> io = group_.As<IOPCAsyncIO>();
    DWORD transaction = 0;
    ASSERT_EQ(io->Refresh(connection, OPC_DS_CACHE, &transaction), S_OK);
    auto s = sink_->WaitForTransaction(transaction);
    ASSERT_TRUE(s.has_value());
    // Group header, one item header without time, then the VARIANT and the string image.
    const size_t variant = sizeof(VARIANT);
    ASSERT_EQ(s->bytes.size(), 20 + 12 + variant + 4 + 4 + 2);
    DWORD offset = 0, length = 0;
    std::memcpy(&offset, s->bytes.data() + 20 + 4, 4);
    EXPECT_EQ(offset, 32u);
    std::memcpy(&length, s->bytes.data() + 32 + variant, 4);
    EXPECT_EQ(length, 4u);  // bytes, not characters
    EXPECT_EQ(s->bytes[32 + variant + 4], 'A');
    EXPECT_EQ(s->bytes[32 + variant + 6], 'B');
    EXPECT_EQ(s->bytes.back(), 0);
    EXPECT_EQ(s->bytes[s->bytes.size() - 2], 0);
    // The pointer inside the copied VARIANT is not passed on.
    VARIANT raw;
    std::memcpy(&raw, s->bytes.data() + 32, variant);
    EXPECT_EQ(raw.vt, VT_BSTR);
    EXPECT_EQ(raw.bstrVal, nullptr);
}

TEST_F(DA1Test, AsyncReadAndRefreshGetServerTransactionIdsBackInTheirStreams) {
    auto added = AddItems(group_.Get(), {"Static.Int2", "Static.Real4", "Static.Date"});
    DWORD connection = Advise(FormatDataTime());
    Ptr<IOPCAsyncIO> io = group_.As<IOPCAsyncIO>();
    OPCHANDLE handles[] = {added[0].hServer, 0xBAD, added[2].hServer};
    DWORD readId = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(io->Read(connection, OPC_DS_DEVICE, 3, handles, &readId, &errors), S_FALSE);
    EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
    CoTaskMemFree(errors);
    EXPECT_NE(readId, 0u);
    DWORD refreshId = 0;
    ASSERT_EQ(io->Refresh(connection, OPC_DS_CACHE, &refreshId), S_OK);
    EXPECT_NE(refreshId, readId);

    auto read = sink_->WaitForTransaction(readId);
    ASSERT_TRUE(read.has_value());
    ASSERT_TRUE(read->valid) << read->problem;
    ASSERT_EQ(read->items.size(), 2u);  // only the valid handles
    EXPECT_EQ(read->items[0].hClient, 1u);
    EXPECT_EQ(read->items[1].hClient, 3u);
    EXPECT_EQ(read->items[1].value.v.vt, VT_DATE);
    auto refresh = sink_->WaitForTransaction(refreshId);
    ASSERT_TRUE(refresh.has_value());
    EXPECT_EQ(refresh->items.size(), 3u);

    // Requests name the connection their results travel on.
    EXPECT_EQ(io->Refresh(connection + 1000, OPC_DS_CACHE, &refreshId), CONNECT_E_NOCONNECTION);
    DWORD writeOnly = Advise(FormatWriteComplete());
    EXPECT_EQ(io->Read(writeOnly, OPC_DS_CACHE, 1, handles, &readId, &errors), CONNECT_E_NOCONNECTION);
}

TEST_F(DA1Test, AsyncWriteResultsArriveAsWriteCompleteStreams) {
    auto added = AddItems(group_.Get(), {"Static.Int4", "ReadOnly.Int4", "Static.Int1"});
    DWORD data = Advise(FormatDataTime());
    Advise(FormatWriteComplete());
    Ptr<IOPCAsyncIO> io = group_.As<IOPCAsyncIO>();
    OPCHANDLE handles[] = {added[0].hServer, added[1].hServer, added[2].hServer};
    VARIANT values[3];
    for (auto& v : values) {
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = 1000;
    }
    DWORD writeId = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(io->Write(data, 3, handles, values, &writeId, &errors), S_FALSE);
    EXPECT_EQ(errors[1], OPC_E_BADRIGHTS);
    CoTaskMemFree(errors);
    auto s = sink_->WaitForTransaction(writeId);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->format, FormatWriteComplete());
    ASSERT_TRUE(s->valid) << s->problem;
    ASSERT_EQ(s->items.size(), 2u);
    EXPECT_EQ(s->items[0].hClient, 1u);
    EXPECT_EQ(s->items[0].error, S_OK);
    EXPECT_EQ(s->items[1].hClient, 3u);
    EXPECT_EQ(s->items[1].error, OPC_E_RANGE);  // 1000 does not fit a signed byte
    Value v;
    ASSERT_EQ(ReadSync(group_.Get(), added[0].hServer, OPC_DS_CACHE, &v), S_OK);
    EXPECT_EQ(v.v.lVal, 1000);
}

TEST_F(DA1Test, WithoutAWriteCompleteAdviseResultsGoToTheNamedConnection) {
    // As a client that advised only the data-with-time format would do it.
    auto added = AddItems(group_.Get(), {"Static.Int4"});
    DWORD data = Advise(FormatDataTime());
    Ptr<IOPCAsyncIO> io = group_.As<IOPCAsyncIO>();
    OPCHANDLE h = added[0].hServer;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = 5;
    DWORD writeId = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(io->Write(data, 1, &h, &value, &writeId, &errors), S_OK);
    CoTaskMemFree(errors);
    auto s = sink_->WaitForTransaction(writeId);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->format, FormatWriteComplete());
    EXPECT_EQ(s->items.size(), 1u);
}

TEST_F(DA1Test, RefreshOfAnInactiveGroupFails) {
    AddItems(group_.Get(), {"Static.Int4"});
    DWORD connection = Advise(FormatDataTime());
    Ptr<IOPCGroupStateMgt> state = group_.As<IOPCGroupStateMgt>();
    BOOL inactive = FALSE;
    DWORD revised;
    ASSERT_EQ(state->SetState(nullptr, &revised, &inactive, nullptr, nullptr, nullptr, nullptr), S_OK);
    Ptr<IOPCAsyncIO> io = group_.As<IOPCAsyncIO>();
    DWORD id = 0;
    EXPECT_EQ(io->Refresh(connection, OPC_DS_CACHE, &id), E_FAIL);
    EXPECT_EQ(io->Cancel(12345), E_FAIL);
}

}  // namespace
