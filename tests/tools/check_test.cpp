// `check` against the simulation servers: it passes on each of them as they are, and fails,
// naming the check, on a server made to break the rules through its Control items.
#include "ToolTestSupport.h"

#include <algorithm>
#include <regex>

namespace {

using namespace tooltest;

const std::regex kSummary(R"((\d+) checks: (\d+) passed, (\d+) failed, (\d+) skipped)");

// The rows of one verdict ("PASS", "FAIL", "SKIP"), by check name.
std::vector<std::string> Rows(const ToolRun& run, const std::string& verdict) {
    std::vector<std::string> names;
    const std::regex row("(PASS|FAIL|SKIP)  (\\S+(?: \\S+)*?) {2,}.*");
    for (const auto& line : run.out) {
        std::smatch m;
        if (std::regex_match(line, m, row) && m[1] == verdict)
            names.push_back(m[2]);
    }
    return names;
}

class CheckTest : public ToolTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CheckTest, PassesOnTheSimulationServer) {
    ToolRun run = Run({"check", GetParam()});
    EXPECT_EQ(run.status, 0) << run.rawOut << run.errText();
    ASSERT_FALSE(run.out.empty());
    std::smatch m;
    ASSERT_TRUE(std::regex_match(run.out.back(), m, kSummary)) << run.out.back();
    EXPECT_EQ(m[3], "0");
    EXPECT_EQ(m[4], "0") << "every simulation server has the items the checks need";
    EXPECT_GE(std::stoi(m[1]), 35);
    EXPECT_TRUE(Rows(run, "FAIL").empty());
    // The groups and items a server must offer are checked on each of them.
    auto passed = Rows(run, "PASS");
    for (const char* name :
         {"IOPCServer.GetStatus", "IOPCServer.AddGroup(duplicate name)", "IOPCItemMgt.AddItems(unknown item)",
          "IOPCSyncIO.Read(bad handle)", "IOPCSyncIO.Write(text to a numeric item)",
          "IOPCGroupStateMgt.SetState(deadband 150%)"})
        EXPECT_NE(std::find(passed.begin(), passed.end(), name), passed.end()) << name;
}

INSTANTIATE_TEST_SUITE_P(EverySimulationServer, CheckTest, ::testing::Values(kDA2, kDA1, kFlat));

TEST_F(ToolTest, CheckCoversWhatEachKindOfServerOffers) {
    ToolRun da2 = Run({"check", kDA2});
    ToolRun da1 = Run({"check", kDA1});
    ToolRun flat = Run({"check", kFlat});
    auto has = [](const ToolRun& run, const std::string& name) {
        auto rows = Rows(run, "PASS");
        return std::find(rows.begin(), rows.end(), name) != rows.end();
    };
    // Callbacks and the common interface are DA 2.0 matters; a DA 1.0a server is not asked.
    EXPECT_TRUE(has(da2, "IOPCDataCallback.OnReadComplete"));
    EXPECT_TRUE(has(da2, "IOPCCommon.SetLocaleID(locale not offered)"));
    EXPECT_FALSE(has(da1, "IOPCDataCallback.OnReadComplete"));
    EXPECT_TRUE(has(da1, "IOPCAsyncIO.Read(connection never advised)"));
    // Browse positions exist only in a hierarchical space.
    EXPECT_TRUE(has(da2, "IOPCBrowseServerAddressSpace.ChangeBrowsePosition(up from the root)"));
    EXPECT_FALSE(has(flat, "IOPCBrowseServerAddressSpace.ChangeBrowsePosition(up from the root)"));
    EXPECT_TRUE(has(flat, "IOPCBrowseServerAddressSpace.QueryOrganization"));
}

TEST_F(ToolTest, CheckFailsNamingTheCheckOnAServerThatFailsItsReads) {
    ToolRun run = Run({"check", kDA2, "--set", "Control.FailMethod=IOPCSyncIO.Read", "--set",
                       "Control.FailHResult=-2147467259", "--set", "Control.FailCount=1000"});
    EXPECT_EQ(run.status, 1);
    auto failed = Rows(run, "FAIL");
    ASSERT_FALSE(failed.empty()) << run.rawOut;
    EXPECT_NE(std::find(failed.begin(), failed.end(), "IOPCSyncIO.Read(bad handle)"), failed.end());
    EXPECT_NE(std::find_if(failed.begin(), failed.end(),
                           [](const std::string& n) { return n.rfind("IOPCSyncIO.Read(cache, ", 0) == 0; }),
              failed.end());
    auto row = std::find_if(run.out.begin(), run.out.end(), [](const std::string& l) {
        return l.rfind("FAIL  IOPCSyncIO.Read(bad handle)", 0) == 0;
    });
    ASSERT_NE(row, run.out.end());
    EXPECT_TRUE(std::regex_match(
        *row, std::regex(R"(FAIL  IOPCSyncIO\.Read\(bad handle\) +\$80004005 E_FAIL +)"
                         R"(expected S_FALSE, item OPC_E_INVALIDHANDLE; no per-item result)")))
        << *row;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(run.out.back(), m, kSummary));
    EXPECT_EQ(std::stoi(m[3]), static_cast<int>(failed.size()));
    // The rest of the server still answers as it should.
    auto passed = Rows(run, "PASS");
    EXPECT_NE(std::find(passed.begin(), passed.end(), "IOPCServer.AddGroup(duplicate name)"), passed.end());
}

TEST_F(ToolTest, CheckFailsWhenTheServerRefusesCallbacksAndReportsItInJson) {
    ToolRun run = Run({"check", kDA2, "--json", "--set", "Control.RefuseCallbacks=true"});
    EXPECT_EQ(run.status, 1);
    auto objects = Objects(run);
    ASSERT_FALSE(objects.empty());
    auto advise = std::find_if(objects.begin(), objects.end(), [](const auto& o) {
        return o.value("check", "") == "IConnectionPoint.Advise(IOPCDataCallback)";
    });
    ASSERT_NE(advise, objects.end()) << run.rawOut;
    EXPECT_EQ((*advise)["verdict"], "FAIL");
    EXPECT_EQ((*advise)["expected"], "S_OK");
    EXPECT_NE((*advise)["result"], "0x00000000");
    const auto& summary = objects.back();
    EXPECT_GE(summary["failed"].get<int>(), 1);
    EXPECT_EQ(summary["checks"].get<int>(),
              summary["passed"].get<int>() + summary["failed"].get<int>() + summary["skipped"].get<int>());
}

TEST_F(ToolTest, CheckFailsOnAServerThatFailsItsStatus) {
    ToolRun run = Run({"check", kDA1, "--set", "Control.FailMethod=GetStatus", "--set",
                       "Control.FailHResult=-2147467259", "--set", "Control.FailCount=1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Rows(run, "FAIL"), std::vector<std::string>{"IOPCServer.GetStatus"});
}

TEST_F(ToolTest, AFailedSetUpWriteEndsTheCheckBeforeItStarts) {
    ToolRun run = Run({"check", kDA2, "--set", "Nowhere.Item=1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.empty());
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err[0].rfind("norvane-opc: --set Nowhere.Item=1: ", 0), 0u) << run.err[0];
}

TEST_F(ToolTest, CheckSkipsWhatItHasNoItemFor) {
    // A named read item that is writable serves for reading only; the other kinds are not
    // looked for once an item is named.
    ToolRun run = Run({"check", kFlat, "--read-item", "Static.Real8"});
    EXPECT_EQ(run.status, 0) << run.rawOut;
    auto skipped = Rows(run, "SKIP");
    EXPECT_NE(std::find(skipped.begin(), skipped.end(), "IOPCSyncIO.Write"), skipped.end());
    EXPECT_NE(std::find(skipped.begin(), skipped.end(), "IOPCSyncIO.Write(read-only item)"), skipped.end());
    auto passed = Rows(run, "PASS");
    EXPECT_NE(std::find(passed.begin(), passed.end(), "IOPCSyncIO.Read(cache, Static.Real8)"), passed.end());
}

}  // namespace
