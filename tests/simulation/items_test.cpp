// Items of a group and synchronous I/O: per-item results, conversions, rights and ranges.
#include "SimTestSupport.h"

using namespace simtest;
using nv::sim::CLSID_Simulation;

namespace {

class ItemsTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        server_ = Create(CLSID_Simulation);
        group_ = AddGroup(server_.Get(), "items");
    }
    void TearDown() override {
        group_.Reset();
        server_.Reset();
        SimTest::TearDown();
    }
    OPCHANDLE Handle(const std::string& id, VARTYPE requested = VT_EMPTY) {
        auto added = AddItems(group_.Get(), {id}, requested);
        EXPECT_EQ(added.size(), 1u);
        EXPECT_EQ(added.empty() ? E_FAIL : added[0].error, S_OK) << id;
        return added.empty() ? 0 : added[0].hServer;
    }
    Ptr<IOPCServer> server_;
    Ptr<IOPCItemMgt> group_;
};

TEST_F(ItemsTest, AddItemsReportsEachItemInRequestOrder) {
    HRESULT result = S_OK;
    auto added = AddItems(
        group_.Get(),
        {"Static.Int4", "No.Such.Item", "Static..Int4", "", "ReadOnly.Real8", "Static.Arrays.Int2Array",
         "Special Names.with/slash", "Special Names.branch.with.dots.value"},
        VT_EMPTY, true, &result);
    EXPECT_EQ(result, S_FALSE);
    ASSERT_EQ(added.size(), 8u);
    EXPECT_EQ(added[0].error, S_OK);
    EXPECT_EQ(added[0].canonical, VT_I4);
    EXPECT_EQ(added[0].access, DWORD(OPC_READABLE | OPC_WRITEABLE));
    EXPECT_EQ(added[1].error, OPC_E_UNKNOWNITEMID);
    EXPECT_EQ(added[2].error, OPC_E_INVALIDITEMID);
    EXPECT_EQ(added[3].error, OPC_E_INVALIDITEMID);
    EXPECT_EQ(added[4].error, S_OK);
    EXPECT_EQ(added[4].access, DWORD(OPC_READABLE));
    EXPECT_EQ(added[5].canonical, VT_ARRAY | VT_I2);
    EXPECT_EQ(added[6].error, S_OK);
    EXPECT_EQ(added[7].error, S_OK);
    // Server handles of one group are distinct.
    EXPECT_NE(added[0].hServer, added[4].hServer);
    EXPECT_NE(added[4].hServer, added[5].hServer);
}

TEST_F(ItemsTest, TypesThatCannotBeConvertedAndAccessPathsAreRefused) {
    std::vector<nv::WideString> ids = {nv::ToWide("Static.Int4"), nv::ToWide("Static.Int4"),
                                       nv::ToWide("Static.Arrays.Real8Array"), nv::ToWide("Static.Int4")};
    OPCITEMDEF defs[4] = {};
    VARTYPE requested[] = {VT_BSTR, VT_ARRAY | VT_I4, VT_ARRAY | VT_I4, VT_DISPATCH};
    for (int i = 0; i < 4; ++i) {
        defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
        defs[i].vtRequestedDataType = requested[i];
        defs[i].bActive = TRUE;
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(group_->ValidateItems(4, defs, FALSE, &results, &errors), S_FALSE);
    EXPECT_EQ(errors[0], S_OK);           // a number as text
    EXPECT_EQ(errors[1], OPC_E_BADTYPE);  // a scalar as an array
    EXPECT_EQ(errors[2], S_OK);           // an array as an array of another type
    EXPECT_EQ(errors[3], OPC_E_BADTYPE);
    EXPECT_EQ(results[0].hServer, 0u);  // validation adds nothing
    CoTaskMemFree(results);
    CoTaskMemFree(errors);

    OPCITEMDEF withPath = {};
    withPath.szItemID = const_cast<LPWSTR>(ids[0].c_str());
    withPath.szAccessPath = const_cast<LPWSTR>(OLESTR("COM1"));
    ASSERT_EQ(group_->AddItems(1, &withPath, &results, &errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_UNKNOWNPATH);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);

    EXPECT_EQ(group_->AddItems(0, &withPath, &results, &errors), E_INVALIDARG);
    EXPECT_EQ(results, nullptr);
}

TEST_F(ItemsTest, WrittenValuesAreKeptAndReadBackFromCacheAndDevice) {
    OPCHANDLE i4 = Handle("Static.Int4");
    OPCHANDLE s = Handle("Static.String");
    OPCHANDLE r8 = Handle("Special Names.it's");
    EXPECT_EQ(WriteSync(group_.Get(), i4, Value::I4(-42)), S_OK);
    EXPECT_EQ(WriteSync(group_.Get(), s, Value::Str("grüße")), S_OK);
    // A value of another type is converted to the item's type on the way in.
    EXPECT_EQ(WriteSync(group_.Get(), r8, Value::Str("2.5")), S_OK);
    for (OPCDATASOURCE source : {OPC_DS_CACHE, OPC_DS_DEVICE}) {
        Value v;
        WORD quality = 0;
        ASSERT_EQ(ReadSync(group_.Get(), i4, source, &v, &quality), S_OK);
        EXPECT_EQ(v.v.vt, VT_I4);
        EXPECT_EQ(v.v.lVal, -42);
        EXPECT_EQ(quality & OPC_QUALITY_MASK, OPC_QUALITY_GOOD);
        ASSERT_EQ(ReadSync(group_.Get(), s, source, &v), S_OK);
        EXPECT_EQ(v.Text(), "grüße");
        ASSERT_EQ(ReadSync(group_.Get(), r8, source, &v), S_OK);
        EXPECT_EQ(v.v.vt, VT_R8);
        EXPECT_EQ(v.v.dblVal, 2.5);
    }
}

TEST_F(ItemsTest, WritesAreRefusedForRightsTypesAndRanges) {
    EXPECT_EQ(WriteSync(group_.Get(), Handle("ReadOnly.Int4"), Value::I4(1)), OPC_E_BADRIGHTS);
    EXPECT_EQ(WriteSync(group_.Get(), Handle("Dynamic.Ramp.Real8"), Value::R8(1)), OPC_E_BADRIGHTS);
    EXPECT_EQ(WriteSync(group_.Get(), Handle("Static.Int4"), Value::Str("not a number")), OPC_E_BADTYPE);
    EXPECT_EQ(WriteSync(group_.Get(), Handle("Static.Int4"), Value()), OPC_E_BADTYPE);
    EXPECT_EQ(WriteSync(group_.Get(), Handle("Static.Int1"), Value::I4(300)), OPC_E_RANGE);
    OPCHANDLE percent = Handle("Static.Percent");
    EXPECT_EQ(WriteSync(group_.Get(), percent, Value::R8(100.5)), OPC_E_RANGE);
    EXPECT_EQ(WriteSync(group_.Get(), percent, Value::R8(-0.1)), OPC_E_RANGE);
    EXPECT_EQ(WriteSync(group_.Get(), percent, Value::R8(100)), S_OK);
    EXPECT_EQ(WriteSync(group_.Get(), Handle("Static.Mode"), Value::I4(3)), OPC_E_RANGE);
    // A refused write leaves the old value.
    Value v;
    ASSERT_EQ(ReadSync(group_.Get(), percent, OPC_DS_DEVICE, &v), S_OK);
    EXPECT_EQ(v.v.dblVal, 100.0);

    // Several items at once: each gets its own result, the call says not all went through.
    OPCHANDLE handles[] = {Handle("Static.Int2"), 0xDEAD, Handle("ReadOnly.Int2")};
    VARIANT values[3];
    for (auto& x : values) {
        VariantInit(&x);
        x.vt = VT_I2;
        x.iVal = 5;
    }
    Ptr<IOPCSyncIO> io = group_.As<IOPCSyncIO>();
    HRESULT* errors = nullptr;
    ASSERT_EQ(io->Write(3, handles, values, &errors), S_FALSE);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
    EXPECT_EQ(errors[2], OPC_E_BADRIGHTS);
    CoTaskMemFree(errors);
}

TEST_F(ItemsTest, RequestedTypesConvertOnReadAndCanBeChanged) {
    OPCHANDLE h = Handle("Static.Real8", VT_BSTR);
    ASSERT_EQ(WriteSync(group_.Get(), h, Value::R8(12.5)), S_OK);
    Value v;
    ASSERT_EQ(ReadSync(group_.Get(), h, OPC_DS_CACHE, &v), S_OK);
    EXPECT_EQ(v.v.vt, VT_BSTR);
    EXPECT_EQ(v.Text(), "12.5");

    VARTYPE asInt = VT_I4;
    HRESULT* errors = nullptr;
    ASSERT_EQ(group_->SetDatatypes(1, &h, &asInt, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_EQ(ReadSync(group_.Get(), h, OPC_DS_CACHE, &v), S_OK);
    EXPECT_EQ(v.v.vt, VT_I4);
    EXPECT_EQ(v.v.lVal, 12);  // banker's rounding of 12.5

    // A value that does not fit the requested type is an error of that item, not of the call.
    ASSERT_EQ(WriteSync(group_.Get(), h, Value::R8(1e12)), S_OK);
    WORD quality = 0xFF;
    EXPECT_EQ(ReadSync(group_.Get(), h, OPC_DS_CACHE, &v, &quality), DISP_E_OVERFLOW);
    EXPECT_EQ(v.v.vt, VT_EMPTY);
    EXPECT_EQ(quality & OPC_QUALITY_MASK, OPC_QUALITY_BAD);

    VARTYPE array = VT_ARRAY | VT_R8;
    ASSERT_EQ(group_->SetDatatypes(1, &h, &array, &errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_BADTYPE);
    CoTaskMemFree(errors);
}

TEST_F(ItemsTest, ArraysAreWrittenAndReadWhole) {
    OPCHANDLE h = Handle("Static.Arrays.Int4Array");
    Value v;
    ASSERT_EQ(ReadSync(group_.Get(), h, OPC_DS_DEVICE, &v), S_OK);
    ASSERT_EQ(v.v.vt, VT_ARRAY | VT_I4);
    Value written;
    written.v.vt = VT_ARRAY | VT_I4;
    written.v.parray = SafeArrayCreateVector(VT_I4, 0, 3);
    LONG* data = nullptr;
    SafeArrayAccessData(written.v.parray, reinterpret_cast<void**>(&data));
    data[0] = 7;
    data[1] = 8;
    data[2] = 9;
    SafeArrayUnaccessData(written.v.parray);
    ASSERT_EQ(WriteSync(group_.Get(), h, written), S_OK);
    ASSERT_EQ(ReadSync(group_.Get(), h, OPC_DS_CACHE, &v), S_OK);
    LONG upper = -1;
    SafeArrayGetUBound(v.v.parray, 1, &upper);
    ASSERT_EQ(upper, 2);
    SafeArrayAccessData(v.v.parray, reinterpret_cast<void**>(&data));
    EXPECT_EQ(data[2], 9);
    SafeArrayUnaccessData(v.v.parray);

    // An array of strings convertible to numbers converts element by element.
    OPCHANDLE asText = Handle("Static.Arrays.Real8Array", VT_ARRAY | VT_BSTR);
    ASSERT_EQ(ReadSync(group_.Get(), asText, OPC_DS_CACHE, &v), S_OK);
    EXPECT_EQ(v.v.vt, VT_ARRAY | VT_BSTR);
    EXPECT_EQ(WriteSync(group_.Get(), h, Value::I4(1)), OPC_E_BADTYPE);  // a scalar for an array
}

TEST_F(ItemsTest, InactiveItemsReadFromCacheAreOutOfService) {
    OPCHANDLE h = Handle("Static.Int4");
    HRESULT* errors = nullptr;
    ASSERT_EQ(group_->SetActiveState(1, &h, FALSE, &errors), S_OK);
    CoTaskMemFree(errors);
    Value v;
    WORD quality = 0;
    ASSERT_EQ(ReadSync(group_.Get(), h, OPC_DS_CACHE, &v, &quality), S_OK);
    EXPECT_EQ(quality & OPC_STATUS_MASK, OPC_QUALITY_OUT_OF_SERVICE);
    ASSERT_EQ(ReadSync(group_.Get(), h, OPC_DS_DEVICE, &v, &quality), S_OK);
    EXPECT_EQ(quality & OPC_QUALITY_MASK, OPC_QUALITY_GOOD);
}

TEST_F(ItemsTest, RemovedHandlesAreInvalidAndTheEnumeratorListsTheRest) {
    auto added = AddItems(group_.Get(), {"Static.Int1", "Static.Int2", "Dynamic.Sine.Real4"});
    OPCHANDLE gone[] = {added[1].hServer, added[1].hServer};
    HRESULT* errors = nullptr;
    ASSERT_EQ(group_->RemoveItems(2, gone, &errors), S_FALSE);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);  // the same handle twice
    CoTaskMemFree(errors);
    Value v;
    EXPECT_EQ(ReadSync(group_.Get(), added[1].hServer, OPC_DS_CACHE, &v), OPC_E_INVALIDHANDLE);

    OPCHANDLE h = added[2].hServer;
    OPCHANDLE newClient = 4711;
    ASSERT_EQ(group_->SetClientHandles(1, &h, &newClient, &errors), S_OK);
    CoTaskMemFree(errors);

    Ptr<IEnumOPCItemAttributes> e;
    ASSERT_EQ(group_->CreateEnumerator(IID_IEnumOPCItemAttributes, reinterpret_cast<LPUNKNOWN*>(e.Put())),
              S_OK);
    OPCITEMATTRIBUTES* attrs = nullptr;
    ULONG fetched = 0;
    ASSERT_EQ(e->Next(10, &attrs, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(Utf8(attrs[0].szItemID), "Static.Int1");
    EXPECT_EQ(Utf8(attrs[1].szItemID), "Dynamic.Sine.Real4");
    EXPECT_EQ(attrs[1].hClient, 4711u);
    EXPECT_EQ(attrs[1].dwEUType, OPC_ANALOG);
    EXPECT_EQ(attrs[1].vEUInfo.vt, VT_ARRAY | VT_R8);
    EXPECT_EQ(attrs[0].dwEUType, OPC_NOENUM);
    for (ULONG i = 0; i < fetched; ++i) {
        CoTaskMemFree(attrs[i].szAccessPath);
        CoTaskMemFree(attrs[i].szItemID);
        CoTaskMemFree(attrs[i].pBlob);
        VariantClear(&attrs[i].vEUInfo);
    }
    CoTaskMemFree(attrs);
}

TEST_F(ItemsTest, GroupStateChangesCloneAndRename) {
    Ptr<IOPCGroupStateMgt> state = group_.As<IOPCGroupStateMgt>();
    DWORD rate = 2000, revised = 0;
    BOOL active = FALSE;
    FLOAT deadband = 12.5f;
    OPCHANDLE client = 99;
    ASSERT_EQ(state->SetState(&rate, &revised, &active, nullptr, &deadband, nullptr, &client), S_OK);
    EXPECT_EQ(revised, 2000u);
    rate = 1;
    EXPECT_EQ(state->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr),
              OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(revised, 10u);
    FLOAT bad = -1.0f;
    EXPECT_EQ(state->SetState(nullptr, &revised, nullptr, nullptr, &bad, nullptr, nullptr), E_INVALIDARG);

    DWORD gotRate;
    BOOL gotActive;
    LPWSTR name = nullptr;
    LONG bias;
    FLOAT gotDeadband;
    DWORD lcid;
    OPCHANDLE hc, hs;
    ASSERT_EQ(state->GetState(&gotRate, &gotActive, &name, &bias, &gotDeadband, &lcid, &hc, &hs), S_OK);
    EXPECT_EQ(gotRate, 10u);
    EXPECT_FALSE(gotActive);
    EXPECT_EQ(gotDeadband, 12.5f);
    EXPECT_EQ(hc, 99u);
    CoTaskMemFree(name);

    Ptr<IOPCItemMgt> other = AddGroup(server_.Get(), "other");
    EXPECT_EQ(state->SetName(OLESTR("other")), OPC_E_DUPLICATENAME);
    EXPECT_EQ(state->SetName(OLESTR("renamed")), S_OK);
    Ptr<IUnknown> found;
    EXPECT_EQ(server_->GetGroupByName(OLESTR("renamed"), IID_IUnknown, found.Put()), S_OK);

    AddItems(group_.Get(), {"Static.Int4", "Static.Int8"});
    Ptr<IOPCItemMgt> clone;
    ASSERT_EQ(state->CloneGroup(OLESTR("copy"), IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(clone.Put())),
              S_OK);
    Ptr<IOPCGroupStateMgt> cloneState = clone.As<IOPCGroupStateMgt>();
    ASSERT_EQ(cloneState->GetState(&gotRate, &gotActive, &name, &bias, &gotDeadband, &lcid, &hc, &hs), S_OK);
    EXPECT_EQ(Utf8(name), "copy");
    EXPECT_FALSE(gotActive);  // clones start inactive
    EXPECT_EQ(gotRate, 10u);
    CoTaskMemFree(name);
    Ptr<IEnumOPCItemAttributes> e;
    ASSERT_EQ(clone->CreateEnumerator(IID_IEnumOPCItemAttributes, reinterpret_cast<LPUNKNOWN*>(e.Put())),
              S_OK);
    OPCITEMATTRIBUTES* attrs = nullptr;
    ULONG fetched = 0;
    e->Next(10, &attrs, &fetched);
    EXPECT_EQ(fetched, 2u);
    for (ULONG i = 0; i < fetched; ++i) {
        CoTaskMemFree(attrs[i].szAccessPath);
        CoTaskMemFree(attrs[i].szItemID);
        VariantClear(&attrs[i].vEUInfo);
    }
    CoTaskMemFree(attrs);
}

}  // namespace
