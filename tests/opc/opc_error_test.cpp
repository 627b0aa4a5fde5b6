#include "opc/NvOPCError.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "opc/include/opc.h"
#include "windows/NvTestRegistration.h"
#include "windows/NvWine.h"

// The out-of-memory test asks for an impossible block and expects a null answer, not an abort.
// Only this test program answers so, and only refused allocations change: a null that code
// failed to check would still stop the test, with the sanitizer's report of the bad access.
#ifdef __SANITIZE_ADDRESS__
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
#endif
#ifdef __SANITIZE_THREAD__
extern "C" const char* __tsan_default_options() {
    return "allocator_may_return_null=1";
}
#endif

namespace nv {
namespace {

// Linux ships the interface names with the program; on Windows they come with the OPC proxy,
// which a test machine need not have.
#ifdef _WIN32
#define NV_REQUIRE_OPC_INTERFACE_NAMES()                                       \
    do {                                                                       \
        if (GetInterfaceName(IID_IOPCServer) != "IOPCServer")                  \
            GTEST_SKIP() << "the OPC proxy is not registered on this machine"; \
    } while (false)
#else
#define NV_REQUIRE_OPC_INTERFACE_NAMES() \
    do {                                 \
    } while (false)
#endif

// ---- Error names and details ---------------------------------------------------------------------

struct Row {
    HRESULT code;
    const char* name;
    const char* details;
};

const Row kTable[] = {
    {static_cast<HRESULT>(0xC0040001), "Invalid handle", "The value of the handle is invalid."},
    {static_cast<HRESULT>(0xC0040004), "Bad type",
     "The server cannot convert the data between the requested data type and the canonical data type."},
    {static_cast<HRESULT>(0xC0040005), "Cannot perform on a Public group",
     "The requested operation cannot be done on a public group."},
    {static_cast<HRESULT>(0xC0040006), "No Access Rights",
     "The Items AccessRights do not allow the operation."},
    {static_cast<HRESULT>(0xC0040007), "Unknown ItemID",
     "The item is no longer available in the server address space."},
    {static_cast<HRESULT>(0xC0040008), "Invalid ItemID",
     "The item definition doesn't conform to the server's syntax."},
    {static_cast<HRESULT>(0xC0040009), "Invalid Filter", "The filter string was not valid."},
    {static_cast<HRESULT>(0xC004000A), "Unknown Path", "The item's access path is not known to the server."},
    {static_cast<HRESULT>(0xC004000B), "Value out of Range", "The value was out of range."},
    {static_cast<HRESULT>(0xC004000C), "Duplicate name", "Duplicate name not allowed."},
    {static_cast<HRESULT>(0xC0040010), "Invalid Configuration File",
     "The server's configuration file is an invalid format."},
    {static_cast<HRESULT>(0xC0040011), "Object not found",
     "The server could not locate the requested object."},
    {static_cast<HRESULT>(0xC0040203), "Invalid Property ID",
     "The server does not recognise the passed property ID."},
};

TEST(OPCErrorText, EveryOPCFailureCodeHasItsNameAndDetails) {
    for (const Row& row : kTable) {
        EXPECT_EQ(GetOPCErrorName(row.code), row.name) << std::hex << row.code;
        EXPECT_EQ(GetOPCErrorDetails(row.code), row.details) << std::hex << row.code;
    }
    EXPECT_EQ(GetOPCErrorName(OPC_E_UNKNOWNITEMID), "Unknown ItemID");
    EXPECT_EQ(GetOPCErrorDetails(OPC_E_INVALID_PID), "The server does not recognise the passed property ID.");
}

TEST(OPCErrorText, SuccessIsOKWithoutDetails) {
    EXPECT_EQ(GetOPCErrorName(S_OK), "OK");
    EXPECT_EQ(GetOPCErrorDetails(S_OK), "No more info available.");
}

TEST(OPCErrorText, OtherCodesTakeTheSystemTextWithoutItsEnding) {
    const HRESULT codes[] = {E_FAIL, E_NOINTERFACE, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
                             static_cast<HRESULT>(0x800706BA)};
    for (HRESULT code : codes) {
        std::string name = GetOPCErrorName(code);
        ASSERT_FALSE(name.empty());
        EXPECT_NE(name.back(), '.') << name;
        EXPECT_GT(static_cast<unsigned char>(name.back()), ' ') << name;
        EXPECT_EQ(GetOPCErrorDetails(code), "No more info available.");
    }
    if (nv::test::RunningUnderWine()) {
        nv::test::NoteWineDifference("Wine's system message texts differ from the Windows ones");
        return;
    }
    // The system texts are "Unspecified error\r\n", "Access is denied.\r\n" and so on.
    EXPECT_EQ(GetOPCErrorName(E_FAIL), "Unspecified error");
    EXPECT_EQ(GetOPCErrorName(E_NOINTERFACE), "No such interface supported");
    EXPECT_EQ(GetOPCErrorName(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)), "Access is denied");
    EXPECT_EQ(GetOPCErrorName(static_cast<HRESULT>(0x800706BA)), "The RPC server is unavailable");
}

TEST(OPCErrorText, CodesWithoutAnyTextReadAsOLEErrorWithEightDigits) {
    EXPECT_EQ(GetOPCErrorName(static_cast<HRESULT>(0xC0040002)), "OLE error C0040002");
    EXPECT_EQ(GetOPCErrorName(static_cast<HRESULT>(0xC0040003)), "OLE error C0040003");
    EXPECT_EQ(GetOPCErrorName(OPC_S_UNSUPPORTEDRATE), "OLE error 0004000D");
    EXPECT_EQ(GetOPCErrorName(OPC_S_CLAMP), "OLE error 0004000E");
    EXPECT_EQ(GetOPCErrorName(OPC_S_INUSE), "OLE error 0004000F");
    EXPECT_EQ(GetOPCErrorName(static_cast<HRESULT>(0x8FFF1234)), "OLE error 8FFF1234");
    for (HRESULT code : {static_cast<HRESULT>(0xC0040002), OPC_S_CLAMP, OPC_S_INUSE})
        EXPECT_EQ(GetOPCErrorDetails(code), "No more info available.");
}

// ---- Interface names -----------------------------------------------------------------------------

TEST(OPCInterfaceName, EveryOPCInterfaceIsRegisteredUnderItsName) {
    NV_REQUIRE_OPC_INTERFACE_NAMES();
    // The shipped registration must agree with the identifiers the client is compiled with.
    struct Name {
        const IID& iid;
        const char* name;
    };
    const Name names[] = {
        {IID_IOPCServer, "IOPCServer"},
        {IID_IOPCServerPublicGroups, "IOPCServerPublicGroups"},
        {IID_IOPCBrowseServerAddressSpace, "IOPCBrowseServerAddressSpace"},
        {IID_IOPCGroupStateMgt, "IOPCGroupStateMgt"},
        {IID_IOPCPublicGroupStateMgt, "IOPCPublicGroupStateMgt"},
        {IID_IOPCSyncIO, "IOPCSyncIO"},
        {IID_IOPCAsyncIO, "IOPCAsyncIO"},
        {IID_IOPCItemMgt, "IOPCItemMgt"},
        {IID_IEnumOPCItemAttributes, "IEnumOPCItemAttributes"},
        {IID_IOPCDataCallback, "IOPCDataCallback"},
        {IID_IOPCAsyncIO2, "IOPCAsyncIO2"},
        {IID_IOPCItemProperties, "IOPCItemProperties"},
        {IID_IOPCCommon, "IOPCCommon"},
        {IID_IOPCShutdown, "IOPCShutdown"},
        {IID_IOPCServerList, "IOPCServerList"},
        {IID_IOPCServerList2, "IOPCServerList2"},
        {IID_IOPCEnumGUID, "IOPCEnumGUID"},
    };
    for (const Name& n : names)
        EXPECT_EQ(GetInterfaceName(n.iid), n.name);
}

TEST(OPCInterfaceName, AnUnregisteredInterfaceReadsAsItsIdentifier) {
    const IID unknown = {0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    EXPECT_EQ(GuidToRegistryString(unknown), "{0123ABCD-4567-89EF-0123-456789ABCDEF}");
    EXPECT_EQ(GetInterfaceName(unknown), "{0123ABCD-4567-89EF-0123-456789ABCDEF}");
    EXPECT_EQ(GuidToRegistryString(IID_IOPCItemMgt), "{39C13A54-011E-11D0-9675-0020AFD8ADB3}");
}

// A user's own registration: a named interface, and one whose key has no name.
TEST(OPCInterfaceName, AKeyWithoutANameFallsBackToTheIdentifier) {
    test::TestRegistration registration(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CLASSES_ROOT\\Interface\\{11111111-2222-3333-4444-555555555555}]\r\n"
        "@=\"IVendorThing\"\r\n\r\n"
        "[HKEY_CLASSES_ROOT\\Interface\\{11111111-2222-3333-4444-666666666666}]\r\n"
        "\"NumMethods\"=\"4\"\r\n\r\n"
        "[HKEY_CLASSES_ROOT\\Interface\\{11111111-2222-3333-4444-777777777777}]\r\n"
        "@=\"\"\r\n");

    const IID named = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
    const IID unnamed = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66}};
    const IID empty = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77}};
    EXPECT_EQ(GetInterfaceName(named), "IVendorThing");
    EXPECT_EQ(GetInterfaceName(unnamed), "{11111111-2222-3333-4444-666666666666}");
    EXPECT_EQ(GetInterfaceName(empty), "{11111111-2222-3333-4444-777777777777}");
    // The shipped names are still there beside the user's.
    NV_REQUIRE_OPC_INTERFACE_NAMES();
    EXPECT_EQ(GetInterfaceName(IID_IOPCSyncIO), "IOPCSyncIO");
}

// ---- ENvOPCError -----------------------------------------------------------------------------------

TEST(OPCErrorException, MessageHasThreeLinesSeparatedBySingleCarriageReturns) {
    NV_REQUIRE_OPC_INTERFACE_NAMES();
    ENvOPCError error(OPC_E_UNKNOWNITEMID, static_cast<const WCHAR*>(nullptr), "AddItems", IID_IOPCItemMgt);
    EXPECT_EQ(error.Message(),
              "OPC Error in method IOPCItemMgt.AddItems\r"
              "Code: $C0040007 (Unknown ItemID)\r"
              "Details: The item is no longer available in the server address space.");
    EXPECT_STREQ(error.what(), error.Message().c_str());
    EXPECT_EQ(error.ErrorCode(), OPC_E_UNKNOWNITEMID);
    EXPECT_EQ(error.IID(), IID_IOPCItemMgt);
    EXPECT_EQ(error.Method(), "AddItems");
    EXPECT_EQ(error.ReasonText(), "");
    EXPECT_EQ(error.GetReason(), "Unknown ItemID");
    EXPECT_EQ(error.Details(), "The item is no longer available in the server address space.");
    EXPECT_EQ(error.ClassName(), "ENvOPCError");
}

TEST(OPCErrorException, TheServersReasonReplacesTheTableName) {
    NV_REQUIRE_OPC_INTERFACE_NAMES();
    ENvOPCError error(OPC_E_UNKNOWNITEMID, OLESTR("Tag 'Plant.X' does not exist"), "AddItems(Plant.X)",
                      IID_IOPCItemMgt);
    EXPECT_EQ(error.Message(),
              "OPC Error in method IOPCItemMgt.AddItems(Plant.X)\r"
              "Code: $C0040007 (Tag 'Plant.X' does not exist)\r"
              "Details: The item is no longer available in the server address space.");
    EXPECT_EQ(error.Reason(), "Tag 'Plant.X' does not exist");

    // An empty reason is no reason.
    ENvOPCError blank(E_FAIL, std::string(), "Read", IID_IOPCSyncIO);
    if (nv::test::RunningUnderWine()) {
        nv::test::NoteWineDifference("Wine's system message texts differ from the Windows ones");
        return;
    }
    EXPECT_EQ(blank.Message(),
              "OPC Error in method IOPCSyncIO.Read\r"
              "Code: $80004005 (Unspecified error)\r"
              "Details: No more info available.");
}

TEST(OPCErrorException, UnnamedInterfacesAndUnknownCodesStillGiveAFullMessage) {
    const IID unknown = {0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    ENvOPCError error(static_cast<HRESULT>(0xC0040002), static_cast<const WCHAR*>(nullptr), "Write", unknown);
    EXPECT_EQ(error.Message(),
              "OPC Error in method {0123ABCD-4567-89EF-0123-456789ABCDEF}.Write\r"
              "Code: $C0040002 (OLE error C0040002)\r"
              "Details: No more info available.");
}

TEST(OPCErrorException, IsAnOLESystemErrorButNotALibraryException) {
    try {
        throw ENvOPCError(OPC_E_BADRIGHTS, static_cast<const WCHAR*>(nullptr), "Write", IID_IOPCSyncIO);
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.ErrorCode(), OPC_E_BADRIGHTS);
        EXPECT_EQ(dynamic_cast<const ENvOPCException*>(&e), nullptr);
    }
    ENvOPCException plain("Not connected");
    EXPECT_EQ(plain.Message(), "Not connected");
    EXPECT_EQ(plain.ClassName(), "ENvOPCException");
}

// ---- Interface cast ----------------------------------------------------------------------------------

// Answers IUnknown and one further interface, counting references.
class TestObject : public IUnknown {
public:
    explicit TestObject(const IID& offered) : offered_(offered) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        asked = riid;
        if (ppv == nullptr)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == offered_) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    std::atomic<ULONG> refs{1};
    IID asked = GUID_NULL;

private:
    IID offered_;
};

TEST(OPCInterfaceCast, AnOfferedInterfaceIsReturnedWithAReference) {
    TestObject object(IID_IOPCItemMgt);
    IOPCItemMgt* items = nullptr;
    QueryInterfaceOrRaise(items, &object);
    EXPECT_EQ(object.asked, IID_IOPCItemMgt);
    EXPECT_EQ(static_cast<void*>(items), static_cast<void*>(&object));
    EXPECT_EQ(object.refs, 2U);
}

TEST(OPCInterfaceCast, NilAndRefusalRaiseWithTheInterfaceName) {
    NV_REQUIRE_OPC_INTERFACE_NAMES();
    IOPCSyncIO* sync = reinterpret_cast<IOPCSyncIO*>(0x1);
    try {
        QueryInterfaceOrRaise(sync, nullptr);
        FAIL() << "no exception";
    } catch (const EIntfCastError& e) {
        EXPECT_EQ(e.Message(), "Cannot cast nil to IOPCSyncIO.");
    }
    EXPECT_EQ(sync, nullptr);

    TestObject object(IID_IOPCItemMgt);
    IOPCAsyncIO2* async = nullptr;
    try {
        QueryInterfaceOrRaise(async, &object);
        FAIL() << "no exception";
    } catch (const EIntfCastError& e) {
        EXPECT_EQ(e.Message(), "Interface IOPCAsyncIO2 not supported.");
    }
    EXPECT_EQ(async, nullptr);
    EXPECT_EQ(object.refs, 1U);
}

// ---- Task memory --------------------------------------------------------------------------------

TEST(OPCTaskMemory, AllocMemAllocatesResizesKeepingContentsAndFreesAtZero) {
    unsigned char* p = nullptr;
    TNvOPCAlloc::AllocMem(p, 4);
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "\x01\x02\x03\x04", 4);
    TNvOPCAlloc::AllocMem(p, 4096);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::memcmp(p, "\x01\x02\x03\x04", 4), 0);
    TNvOPCAlloc::AllocMem(p, 0);
    EXPECT_EQ(p, nullptr);
    TNvOPCAlloc::AllocMem(p, 0);
    EXPECT_EQ(p, nullptr);
}

TEST(OPCTaskMemory, CAllocMemZeroFillsOnlyTheNewTail) {
    unsigned char* p = nullptr;
    TNvOPCAlloc::CAllocMem(p, 8, 0);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(p[i], 0) << i;
    std::memset(p, 0xAB, 8);
    TNvOPCAlloc::CAllocMem(p, 32, 8);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(p[i], 0xAB) << i;
    for (int i = 8; i < 32; ++i)
        EXPECT_EQ(p[i], 0) << i;
    // An offset at or beyond the size fills nothing (and writes nowhere outside the block).
    std::memset(p, 0xCD, 32);
    TNvOPCAlloc::CAllocMem(p, 32, 32);
    TNvOPCAlloc::CAllocMem(p, 16, 100);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(p[i], 0xCD) << i;
    TNvOPCAlloc::FreeMem(p);
    EXPECT_EQ(p, nullptr);
    TNvOPCAlloc::FreeMem(p);
}

TEST(OPCTaskMemory, AnImpossibleRequestRaisesAndKeepsTheOldBlock) {
    char* p = nullptr;
    TNvOPCAlloc::AllocMem(p, 16);
    std::memcpy(p, "kept", 5);
    char* before = p;
    const std::size_t huge = std::size_t{1} << 62;
    try {
        TNvOPCAlloc::AllocMem(p, huge);
        FAIL() << "no exception";
    } catch (const EOutOfMemory& e) {
        EXPECT_EQ(e.Message(), "CoTaskMemAlloc failed to allocate 4611686018427387904 bytes.");
    }
    EXPECT_EQ(p, before);
    EXPECT_STREQ(p, "kept");
    TNvOPCAlloc::FreeMem(p);
}

TEST(OPCTaskMemory, FreeItemResultListFreesEveryBlobAndTheList) {
    OPCITEMRESULT* results = nullptr;
    TNvOPCAlloc::CAllocMem(results, 3 * sizeof(OPCITEMRESULT), 0);
    results[0].pBlob = static_cast<BYTE*>(CoTaskMemAlloc(10));
    results[0].dwBlobSize = 10;
    results[2].pBlob = static_cast<BYTE*>(CoTaskMemAlloc(20));
    results[2].dwBlobSize = 20;
    // The leak checker of the sanitizer build catches a blob left behind.
    TNvOPCAlloc::FreeItemResultList(results, 3);
    EXPECT_EQ(results, nullptr);

    OPCITEMRESULT* none = nullptr;
    TNvOPCAlloc::FreeItemResultList(none, 5);
    EXPECT_EQ(none, nullptr);
}

}  // namespace
}  // namespace nv
