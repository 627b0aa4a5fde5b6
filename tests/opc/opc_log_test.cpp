#include "opc/NvOPCLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "opc/NvOPCError.h"
#include "opc/NvOPCSecurity.h"
#include "opc/include/opc.h"
#include "windows/NvWine.h"

namespace nv {
namespace {

// The log never touches its server here; any distinct address stands for one.
TNvOPCServer* SomeServer() {
    static int placeholder;
    return reinterpret_cast<TNvOPCServer*>(&placeholder);
}

class TFixedClockOPCLog : public TNvOPCLog {
public:
    using TNvOPCLog::TNvOPCLog;

protected:
    TDateTime CurrentTime() const override { return EncodeDate(2026, 12, 7) + EncodeTime(13, 5, 9, 42); }
};

class OPCLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = FormatSettings();
        SetFormatSettings(DefaultFormatSettings());
    }
    void TearDown() override { SetFormatSettings(saved_); }

private:
    TFormatSettings saved_;
};

TEST_F(OPCLogTest, ALogNeedsItsServer) {
    EXPECT_THROW(TNvOPCLog log(nullptr), EAssertionFailed);
    TNvOPCLog log(SomeServer());
    EXPECT_EQ(log.Server(), SomeServer());
    EXPECT_FALSE(log.Active());
    EXPECT_EQ(log.MaxLines(), 100);
    EXPECT_EQ(log.DateTimeFormat(), "yyyy/mm/dd hh:nn:ss.zzz");
}

TEST_F(OPCLogTest, CallResultsNameInterfaceMethodCodeAndCodeName) {
#ifdef _WIN32
    if (GetInterfaceName(IID_IOPCServer) != "IOPCServer")
        GTEST_SKIP() << "the OPC proxy is not registered on this machine";
#endif
    TFixedClockOPCLog log(SomeServer());
    log.SetActive(true);
    std::vector<std::string> changes;
    log.OnChange = [&](TObject*, const std::string& message) { changes.push_back(message); };

    log.AddResult(IID_IOPCItemMgt, "AddItems", S_OK);
    log.AddResult(IID_IOPCSyncIO, "Read", OPC_E_UNKNOWNITEMID);
    log.AddResult(IID_IOPCServer, "AddGroup", E_FAIL);
    log.AddResult(IID_IOPCGroupStateMgt, "SetState", OPC_S_UNSUPPORTEDRATE);
    const IID unknown = {0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    log.AddResult(unknown, "Frob", E_NOINTERFACE);

    ASSERT_EQ(log.Count(), 5);
    EXPECT_EQ(log.Lines(0), "2026/12/07 13:05:09.042 IOPCItemMgt.AddItems: Result=$0 (OK)");
    EXPECT_EQ(log.Lines(1), "2026/12/07 13:05:09.042 IOPCSyncIO.Read: Result=$C0040007 (Unknown ItemID)");
    EXPECT_EQ(log.Lines(3),
              "2026/12/07 13:05:09.042 IOPCGroupStateMgt.SetState: Result=$4000D (OLE error 0004000D)");
    if (nv::test::RunningUnderWine()) {
        nv::test::NoteWineDifference("Wine's system message texts differ from the Windows ones");
        EXPECT_EQ(log.Lines(2).rfind("2026/12/07 13:05:09.042 IOPCServer.AddGroup: Result=$80004005 (", 0),
                  0u);
        EXPECT_EQ(log.Lines(4).rfind("2026/12/07 13:05:09.042 {0123ABCD-4567-89EF-0123-456789ABCDEF}.Frob: "
                                     "Result=$80004002 (",
                                     0),
                  0u);
    } else {
        EXPECT_EQ(log.Lines(2),
                  "2026/12/07 13:05:09.042 IOPCServer.AddGroup: Result=$80004005 (Unspecified error)");
        EXPECT_EQ(log.Lines(4),
                  "2026/12/07 13:05:09.042 {0123ABCD-4567-89EF-0123-456789ABCDEF}.Frob: Result=$80004002 (No "
                  "such interface supported)");
    }
    EXPECT_EQ(changes.front(), "IOPCItemMgt.AddItems: Result=$0 (OK)");
    EXPECT_EQ(changes.size(), 5U);
}

TEST_F(OPCLogTest, AnInactiveLogRecordsNothing) {
    TNvOPCLog log(SomeServer());
    int changes = 0;
    log.OnChange = [&](TObject*, const std::string&) { ++changes; };
    log.AddResult(IID_IOPCItemMgt, "AddItems", S_OK);
    log.AddLine("Connected to Server 'X' {00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(log.Count(), 0);
    EXPECT_EQ(changes, 0);
}

TEST_F(OPCLogTest, TheLineLimitCountsEntries) {
    TFixedClockOPCLog log(SomeServer());
    log.SetActive(true);
    log.SetMaxLines(2);
    log.AddResult(IID_IOPCServer, "AddGroup", S_OK);
    log.AddLine("Status changed from 'No connection!' to 'Running'");
    log.AddResult(IID_IOPCItemMgt, "AddItems", S_OK);
    ASSERT_EQ(log.Count(), 2);
    EXPECT_EQ(log.Lines(0), "2026/12/07 13:05:09.042 Status changed from 'No connection!' to 'Running'");
}

TEST(OPCSecurity, IsSetUpOncePerProcess) {
    EXPECT_TRUE(InitializeOPCSecurity());
    EXPECT_TRUE(OPCSecurityInitialized());
    EXPECT_FALSE(InitializeOPCSecurity());
    EXPECT_TRUE(OPCSecurityInitialized());
}

}  // namespace
}  // namespace nv
