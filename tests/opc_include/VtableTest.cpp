// The interfaces are only useful if their vtables match what a server built with other tools
// expects. These tests pin every method to its slot and then call through raw vtables the way a
// C caller (or a server's proxy) does, so a misordered or mistyped declaration shows up here and
// not as a call landing in the wrong method of a live server.
#include "opc/include/opccomn.h"
#include "opc/include/opcda.h"
#include "opc/include/opcenum.h"
#include "opc/include/opcerror.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

namespace {

// ---- Shape ---------------------------------------------------------------------------------------

// A COM interface is nothing but a vtable pointer over IUnknown: no data, no second base, no
// virtual destructor (which would insert slots after Release under the GCC/Clang ABI).
template <typename I>
constexpr bool IsComInterface() {
    return std::is_base_of_v<IUnknown, I> && std::is_abstract_v<I> && !std::has_virtual_destructor_v<I> &&
           sizeof(I) == sizeof(void*);
}
static_assert(IsComInterface<IOPCServer>());
static_assert(IsComInterface<IOPCServerPublicGroups>());
static_assert(IsComInterface<IOPCBrowseServerAddressSpace>());
static_assert(IsComInterface<IOPCGroupStateMgt>());
static_assert(IsComInterface<IOPCPublicGroupStateMgt>());
static_assert(IsComInterface<IOPCSyncIO>());
static_assert(IsComInterface<IOPCAsyncIO>());
static_assert(IsComInterface<IOPCItemMgt>());
static_assert(IsComInterface<IEnumOPCItemAttributes>());
static_assert(IsComInterface<IOPCDataCallback>());
static_assert(IsComInterface<IOPCAsyncIO2>());
static_assert(IsComInterface<IOPCItemProperties>());
static_assert(IsComInterface<IOPCCommon>());
static_assert(IsComInterface<IOPCShutdown>());
static_assert(IsComInterface<IOPCServerList>());
static_assert(IsComInterface<IOPCServerList2>());
static_assert(IsComInterface<IOPCEnumGUID>());

// ---- Slot of every method ------------------------------------------------------------------------

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// Under the Itanium C++ ABI used by GCC and Clang on x86 (MinGW included), a pointer to a virtual
// member function stores 1 + the method's byte offset in the vtable.
template <typename Pmf>
long VtableSlot(Pmf pmf) {
    static_assert(sizeof(Pmf) == 2 * sizeof(std::uintptr_t));
    std::uintptr_t raw[2];
    std::memcpy(raw, &pmf, sizeof raw);
    if ((raw[0] & 1) == 0) {
        return -1;  // not virtual
    }
    return static_cast<long>((raw[0] - 1) / sizeof(void*));
}

#define EXPECT_SLOT(Interface, Method, slot) \
    EXPECT_EQ(VtableSlot(&Interface::Method), slot) << #Interface "::" #Method

TEST(OpcVtables, EveryMethodSitsInItsSlot) {
    EXPECT_SLOT(IOPCServer, AddRef, 1);
    EXPECT_SLOT(IOPCServer, Release, 2);
    EXPECT_SLOT(IOPCServer, AddGroup, 3);
    EXPECT_SLOT(IOPCServer, GetErrorString, 4);
    EXPECT_SLOT(IOPCServer, GetGroupByName, 5);
    EXPECT_SLOT(IOPCServer, GetStatus, 6);
    EXPECT_SLOT(IOPCServer, RemoveGroup, 7);
    EXPECT_SLOT(IOPCServer, CreateGroupEnumerator, 8);

    EXPECT_SLOT(IOPCServerPublicGroups, GetPublicGroupByName, 3);
    EXPECT_SLOT(IOPCServerPublicGroups, RemovePublicGroup, 4);

    EXPECT_SLOT(IOPCBrowseServerAddressSpace, QueryOrganization, 3);
    EXPECT_SLOT(IOPCBrowseServerAddressSpace, ChangeBrowsePosition, 4);
    EXPECT_SLOT(IOPCBrowseServerAddressSpace, BrowseOPCItemIDs, 5);
    EXPECT_SLOT(IOPCBrowseServerAddressSpace, GetItemID, 6);
    EXPECT_SLOT(IOPCBrowseServerAddressSpace, BrowseAccessPaths, 7);

    EXPECT_SLOT(IOPCGroupStateMgt, GetState, 3);
    EXPECT_SLOT(IOPCGroupStateMgt, SetState, 4);
    EXPECT_SLOT(IOPCGroupStateMgt, SetName, 5);
    EXPECT_SLOT(IOPCGroupStateMgt, CloneGroup, 6);

    EXPECT_SLOT(IOPCPublicGroupStateMgt, GetState, 3);
    EXPECT_SLOT(IOPCPublicGroupStateMgt, MoveToPublic, 4);

    EXPECT_SLOT(IOPCSyncIO, Read, 3);
    EXPECT_SLOT(IOPCSyncIO, Write, 4);

    EXPECT_SLOT(IOPCAsyncIO, Read, 3);
    EXPECT_SLOT(IOPCAsyncIO, Write, 4);
    EXPECT_SLOT(IOPCAsyncIO, Refresh, 5);
    EXPECT_SLOT(IOPCAsyncIO, Cancel, 6);

    EXPECT_SLOT(IOPCItemMgt, AddItems, 3);
    EXPECT_SLOT(IOPCItemMgt, ValidateItems, 4);
    EXPECT_SLOT(IOPCItemMgt, RemoveItems, 5);
    EXPECT_SLOT(IOPCItemMgt, SetActiveState, 6);
    EXPECT_SLOT(IOPCItemMgt, SetClientHandles, 7);
    EXPECT_SLOT(IOPCItemMgt, SetDatatypes, 8);
    EXPECT_SLOT(IOPCItemMgt, CreateEnumerator, 9);

    EXPECT_SLOT(IEnumOPCItemAttributes, Next, 3);
    EXPECT_SLOT(IEnumOPCItemAttributes, Skip, 4);
    EXPECT_SLOT(IEnumOPCItemAttributes, Reset, 5);
    EXPECT_SLOT(IEnumOPCItemAttributes, Clone, 6);

    EXPECT_SLOT(IOPCDataCallback, OnDataChange, 3);
    EXPECT_SLOT(IOPCDataCallback, OnReadComplete, 4);
    EXPECT_SLOT(IOPCDataCallback, OnWriteComplete, 5);
    EXPECT_SLOT(IOPCDataCallback, OnCancelComplete, 6);

    EXPECT_SLOT(IOPCAsyncIO2, Read, 3);
    EXPECT_SLOT(IOPCAsyncIO2, Write, 4);
    EXPECT_SLOT(IOPCAsyncIO2, Refresh2, 5);
    EXPECT_SLOT(IOPCAsyncIO2, Cancel2, 6);
    EXPECT_SLOT(IOPCAsyncIO2, SetEnable, 7);
    EXPECT_SLOT(IOPCAsyncIO2, GetEnable, 8);

    EXPECT_SLOT(IOPCItemProperties, QueryAvailableProperties, 3);
    EXPECT_SLOT(IOPCItemProperties, GetItemProperties, 4);
    EXPECT_SLOT(IOPCItemProperties, LookupItemIDs, 5);

    EXPECT_SLOT(IOPCCommon, SetLocaleID, 3);
    EXPECT_SLOT(IOPCCommon, GetLocaleID, 4);
    EXPECT_SLOT(IOPCCommon, QueryAvailableLocaleIDs, 5);
    EXPECT_SLOT(IOPCCommon, GetErrorString, 6);
    EXPECT_SLOT(IOPCCommon, SetClientName, 7);

    EXPECT_SLOT(IOPCShutdown, ShutdownRequest, 3);

    EXPECT_SLOT(IOPCServerList, EnumClassesOfCategories, 3);
    EXPECT_SLOT(IOPCServerList, GetClassDetails, 4);
    EXPECT_SLOT(IOPCServerList, CLSIDFromProgID, 5);

    EXPECT_SLOT(IOPCServerList2, EnumClassesOfCategories, 3);
    EXPECT_SLOT(IOPCServerList2, GetClassDetails, 4);
    EXPECT_SLOT(IOPCServerList2, CLSIDFromProgID, 5);

    EXPECT_SLOT(IOPCEnumGUID, Next, 3);
    EXPECT_SLOT(IOPCEnumGUID, Skip, 4);
    EXPECT_SLOT(IOPCEnumGUID, Reset, 5);
    EXPECT_SLOT(IOPCEnumGUID, Clone, 6);
}
#endif

// ---- Calls through raw vtables -------------------------------------------------------------------

// The function in slot `index` of `itf`'s vtable, typed as a C caller declares it: `this` first,
// then the method's parameters.
template <typename Fn, typename I>
Fn SlotFunction(I* itf, int index) {
    void** vtable = *reinterpret_cast<void***>(itf);
    return reinterpret_cast<Fn>(vtable[index]);
}

// Reference counting is not what these tests look at.
template <typename... Bases>
struct TestObject : Bases... {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    std::string called;
};

struct Server : TestObject<IOPCServer> {
    HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                       OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                       DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                                       REFIID riid, LPUNKNOWN* ppUnk) override {
        called = "AddGroup";
        // Every argument must arrive where it was put, the stack-passed ones included.
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(szName)), u"G1");
        EXPECT_EQ(bActive, TRUE);
        EXPECT_EQ(dwRequestedUpdateRate, 250u);
        EXPECT_EQ(hClientGroup, 7u);
        EXPECT_EQ(*pTimeBias, -60);
        EXPECT_EQ(pPercentDeadband, nullptr);
        EXPECT_EQ(dwLCID, 0x409u);
        EXPECT_TRUE(IsEqualGUID(riid, IID_IOPCItemMgt));
        *phServerGroup = 0x1234;
        *pRevisedUpdateRate = 500;
        *ppUnk = this;
        return OPC_S_UNSUPPORTEDRATE;
    }
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT, LCID, LPWSTR*) override {
        return Mark("GetErrorString");
    }
    HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR, REFIID, LPUNKNOWN*) override {
        return Mark("GetGroupByName");
    }
    HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS**) override { return Mark("GetStatus"); }
    HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override {
        EXPECT_EQ(hServerGroup, 0x1234u);
        EXPECT_EQ(bForce, FALSE);
        return Mark("RemoveGroup");
    }
    HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE, REFIID, LPUNKNOWN*) override {
        return Mark("CreateGroupEnumerator");
    }
    HRESULT Mark(const char* name) {
        called = name;
        return S_OK;
    }
};

TEST(OpcVtables, ServerCallsArriveWithTheirArguments) {
    Server server;
    IOPCServer* itf = &server;

    using AddGroupFn = HRESULT (*)(IOPCServer*, LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD,
                                   OPCHANDLE*, DWORD*, REFIID, LPUNKNOWN*);
    LONG timeBias = -60;
    OPCHANDLE serverGroup = 0;
    DWORD revisedRate = 0;
    IUnknown* group = nullptr;
    HRESULT hr = SlotFunction<AddGroupFn>(itf, 3)(itf, OLESTR("G1"), TRUE, 250, 7, &timeBias, nullptr, 0x409,
                                                  &serverGroup, &revisedRate, IID_IOPCItemMgt, &group);
    EXPECT_EQ(server.called, "AddGroup");
    EXPECT_EQ(hr, OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(serverGroup, 0x1234u);
    EXPECT_EQ(revisedRate, 500u);
    EXPECT_EQ(group, static_cast<IUnknown*>(itf));

    using GetStatusFn = HRESULT (*)(IOPCServer*, OPCSERVERSTATUS**);
    OPCSERVERSTATUS* status = nullptr;
    SlotFunction<GetStatusFn>(itf, 6)(itf, &status);
    EXPECT_EQ(server.called, "GetStatus");

    using RemoveGroupFn = HRESULT (*)(IOPCServer*, OPCHANDLE, BOOL);
    SlotFunction<RemoveGroupFn>(itf, 7)(itf, 0x1234, FALSE);
    EXPECT_EQ(server.called, "RemoveGroup");
}

struct DataCallback : TestObject<IOPCDataCallback> {
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                           HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                           VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                           HRESULT* pErrors) override {
        called = "OnDataChange";
        EXPECT_EQ(dwTransid, 0u);
        EXPECT_EQ(hGroup, 3u);
        EXPECT_EQ(hrMasterquality, S_FALSE);
        EXPECT_EQ(hrMastererror, S_OK);
        EXPECT_EQ(dwCount, 2u);
        EXPECT_EQ(phClientItems[1], 11u);
        EXPECT_EQ(pvValues[1].lVal, 42);
        EXPECT_EQ(pwQualities[1], OPC_QUALITY_GOOD);
        EXPECT_EQ(pftTimeStamps[1].dwHighDateTime, 0x01D00000u);
        EXPECT_EQ(pErrors[0], OPC_E_BADTYPE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*,
                                             WORD*, FILETIME*, HRESULT*) override {
        called = "OnReadComplete";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                              DWORD dwCount, OPCHANDLE* pClienthandles,
                                              HRESULT* pErrors) override {
        called = "OnWriteComplete";
        EXPECT_EQ(dwTransid, 99u);
        EXPECT_EQ(hGroup, 3u);
        EXPECT_EQ(hrMastererr, S_FALSE);
        EXPECT_EQ(dwCount, 1u);
        EXPECT_EQ(pClienthandles[0], 10u);
        EXPECT_EQ(pErrors[0], OPC_E_BADRIGHTS);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override {
        called = "OnCancelComplete";
        EXPECT_EQ(dwTransid, 99u);
        EXPECT_EQ(hGroup, 3u);
        return S_OK;
    }
};

// The callback is the interface a server calls into us through, so its slots are checked by
// dispatching each one.
TEST(OpcVtables, DataCallbackSlotsReachTheirHandlers) {
    DataCallback sink;
    IOPCDataCallback* itf = &sink;

    OPCHANDLE handles[2] = {10, 11};
    VARIANT values[2] = {};
    values[1].vt = VT_I4;
    values[1].lVal = 42;
    WORD qualities[2] = {OPC_QUALITY_BAD, OPC_QUALITY_GOOD};
    FILETIME times[2] = {{0, 0}, {0, 0x01D00000}};
    HRESULT errors[2] = {OPC_E_BADTYPE, S_OK};

    using DataFn = HRESULT (*)(IOPCDataCallback*, DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*,
                               VARIANT*, WORD*, FILETIME*, HRESULT*);
    SlotFunction<DataFn>(itf, 3)(itf, 0, 3, S_FALSE, S_OK, 2, handles, values, qualities, times, errors);
    EXPECT_EQ(sink.called, "OnDataChange");
    SlotFunction<DataFn>(itf, 4)(itf, 0, 3, S_FALSE, S_OK, 2, handles, values, qualities, times, errors);
    EXPECT_EQ(sink.called, "OnReadComplete");

    using WriteFn = HRESULT (*)(IOPCDataCallback*, DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*);
    HRESULT writeErrors[1] = {OPC_E_BADRIGHTS};
    SlotFunction<WriteFn>(itf, 5)(itf, 99, 3, S_FALSE, 1, handles, writeErrors);
    EXPECT_EQ(sink.called, "OnWriteComplete");

    using CancelFn = HRESULT (*)(IOPCDataCallback*, DWORD, OPCHANDLE);
    SlotFunction<CancelFn>(itf, 6)(itf, 99, 3);
    EXPECT_EQ(sink.called, "OnCancelComplete");
}

// A group object offers both asynchronous interfaces from one class. Cancel and Cancel2 share a
// signature, so only their distinct names keep the two vtables apart.
struct AsyncGroup : TestObject<IOPCAsyncIO, IOPCAsyncIO2> {
    HRESULT STDMETHODCALLTYPE Read(DWORD, OPCDATASOURCE, DWORD, OPCHANDLE*, DWORD*, HRESULT**) override {
        return Mark("IOPCAsyncIO::Read");
    }
    HRESULT STDMETHODCALLTYPE Write(DWORD, DWORD, OPCHANDLE*, VARIANT*, DWORD*, HRESULT**) override {
        return Mark("IOPCAsyncIO::Write");
    }
    HRESULT STDMETHODCALLTYPE Refresh(DWORD, OPCDATASOURCE, DWORD*) override { return Mark("Refresh"); }
    HRESULT STDMETHODCALLTYPE Cancel(DWORD) override { return Mark("Cancel"); }
    HRESULT STDMETHODCALLTYPE Read(DWORD, OPCHANDLE*, DWORD, DWORD*, HRESULT**) override {
        return Mark("IOPCAsyncIO2::Read");
    }
    HRESULT STDMETHODCALLTYPE Write(DWORD, OPCHANDLE*, VARIANT*, DWORD, DWORD*, HRESULT**) override {
        return Mark("IOPCAsyncIO2::Write");
    }
    HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                                       DWORD* pdwCancelID) override {
        EXPECT_EQ(dwSource, OPC_DS_DEVICE);
        EXPECT_EQ(dwTransactionID, 5u);
        *pdwCancelID = 77;
        return Mark("Refresh2");
    }
    HRESULT STDMETHODCALLTYPE Cancel2(DWORD) override { return Mark("Cancel2"); }
    HRESULT STDMETHODCALLTYPE SetEnable(BOOL) override { return Mark("SetEnable"); }
    HRESULT STDMETHODCALLTYPE GetEnable(BOOL*) override { return Mark("GetEnable"); }
    HRESULT Mark(const char* name) {
        called = name;
        return S_OK;
    }
};

TEST(OpcVtables, BothAsyncInterfacesDispatchSeparately) {
    AsyncGroup group;
    IOPCAsyncIO* io1 = &group;
    IOPCAsyncIO2* io2 = &group;

    using CancelFn1 = HRESULT (*)(IOPCAsyncIO*, DWORD);
    using CancelFn2 = HRESULT (*)(IOPCAsyncIO2*, DWORD);
    SlotFunction<CancelFn1>(io1, 6)(io1, 1);
    EXPECT_EQ(group.called, "Cancel");
    SlotFunction<CancelFn2>(io2, 6)(io2, 1);
    EXPECT_EQ(group.called, "Cancel2");

    using ReadFn1 = HRESULT (*)(IOPCAsyncIO*, DWORD, OPCDATASOURCE, DWORD, OPCHANDLE*, DWORD*, HRESULT**);
    using ReadFn2 = HRESULT (*)(IOPCAsyncIO2*, DWORD, OPCHANDLE*, DWORD, DWORD*, HRESULT**);
    SlotFunction<ReadFn1>(io1, 3)(io1, 1, OPC_DS_CACHE, 0, nullptr, nullptr, nullptr);
    EXPECT_EQ(group.called, "IOPCAsyncIO::Read");
    SlotFunction<ReadFn2>(io2, 3)(io2, 0, nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(group.called, "IOPCAsyncIO2::Read");

    using Refresh2Fn = HRESULT (*)(IOPCAsyncIO2*, OPCDATASOURCE, DWORD, DWORD*);
    DWORD cancelId = 0;
    SlotFunction<Refresh2Fn>(io2, 5)(io2, OPC_DS_DEVICE, 5, &cancelId);
    EXPECT_EQ(group.called, "Refresh2");
    EXPECT_EQ(cancelId, 77u);

    using GetEnableFn = HRESULT (*)(IOPCAsyncIO2*, BOOL*);
    BOOL enabled = FALSE;
    SlotFunction<GetEnableFn>(io2, 8)(io2, &enabled);
    EXPECT_EQ(group.called, "GetEnable");
}

}  // namespace
