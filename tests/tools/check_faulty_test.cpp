// `check` against each misbehaving simulation class: the tool must neither crash nor hang, and
// must name the fault as a failed check, in words that say what the server did, however the
// server breaks the rules. The classes are registered by the test itself; they are in no shipped
// registration.
#include "ToolTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>

#include "opc/NvOPCError.h"
#include "opc/include/opc.h"
#include "platform/NvWide.h"
#include "simulation/Faults.h"
#include "simulation/SimulationIds.h"
#include "tests/windows/NvTestRegistration.h"

namespace {

using namespace tooltest;
using nv::sim::Fault;

const std::regex kSummary(R"((\d+) checks: (\d+) passed, (\d+) failed, (\d+) skipped)");

// What the check must report for one fault: a failed row whose name begins with `row` and whose
// line holds `says`.
struct FaultCase {
    Fault fault;
    const char* row;
    const char* says;
    std::vector<std::string> extra = {};  // more arguments
    std::optional<DWORD> delayMs = std::nullopt;
};

// Short time-outs keep the runs short; the faults that wait for a callback that never comes
// cost one time-out each.
const std::vector<FaultCase>& Cases() {
    static const std::vector<FaultCase> cases = {
        {Fault::NullAddResults, "IOPCItemMgt.AddItems(", "neither a result nor an error array"},
        {Fault::NullReadResults, "IOPCSyncIO.Read(cache, ", "no per-item result; no value"},
        {Fault::NullWriteErrors, "IOPCSyncIO.Write(bad handle)", "no per-item result"},
        {Fault::NullAsyncErrors, "IOPCAsyncIO2.Read(bad handle)", "no per-item result"},
        {Fault::NullGroup, "IOPCServer.AddGroup ", "no group object"},
        {Fault::NullErrorString, "IOPCServer.GetErrorString(OPC_E_UNKNOWNITEMID)", "no text"},
        {Fault::BrowseExtraNames, "IEnumString.Next(100 names at a time)",
         "103 names claimed when 100 were asked for"},
        {Fault::BrowseFewerNames, "IEnumString.Next(100 names at a time)",
         "S_OK with 1 name(s) when 100 were asked for"},
        {Fault::BogusItemHandles, "IOPCSyncIO.Read(cache, ", "item $C0040001 OPC_E_INVALIDHANDLE"},
        {Fault::BadCanonicalType, "IOPCItemMgt.AddItems(", "canonical type $7777"},
        {Fault::UnknownClientHandles, "IOPCDataCallback.OnDataChange(subscription)",
         "client handle 65636, which the group never gave"},
        {Fault::OtherGroupHandle, "IOPCDataCallback.OnDataChange(subscription)",
         "group handle 2, not the group's 1"},
        {Fault::UnknownTransactions, "IOPCDataCallback.OnReadComplete",
         "a completion for transaction 2002, which was never started, came instead"},
        {Fault::NullCallbackArrays, "IOPCDataCallback.OnDataChange(subscription)",
         "items without their arrays"},
        {Fault::ForeignValueTypes, "IOPCSyncIO.Read(cache, ", "; value in $48, its canonical type is VT_I1"},
        {Fault::CallbackAfterUnadvise, "IConnectionPoint.Unadvise(no callbacks after it)", "came after it"},
        {Fault::CallbackDuringUnadvise, "IConnectionPoint.Unadvise ", "came before it returned"},
        {Fault::CallbackFlood, "IOPCDataCallback.OnDataChange(update rate)", " data changes in "},
        {Fault::ShutdownMidCall, "IOPCShutdown.ShutdownRequest",
         "asked its clients to disconnect during IOPCSyncIO.Read(cache, "},
        {Fault::StatusOutOfRange, "IOPCServer.GetStatus", "state 77, none of the states 1..5"},
        {Fault::StatusNullVendor, "IOPCServer.GetStatus", "state Running, no vendor text"},
        // Ten minutes per AddItems: only the watch over the calls can end this check.
        {Fault::SlowAddItems,
         "IOPCItemMgt.AddItems(",
         "no answer after 2000 ms (twice the time-out); the check ends here",
         {"--timeout", "1000"},
         600000},
        // The silent restart comes with the set-up write; every call after it fails.
        {Fault::FailAfterRestart,
         "IOPCServer.GetStatus",
         "$80004005 E_FAIL",
         {"--set", "Control.ShutdownRequest=restart"}},
    };
    return cases;
}

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << nv::sim::FaultName(c.fault);
}

std::string Text(const GUID& guid) {
    return nv::GuidToRegistryString(guid);
}

// The simulation module's path, as the shipped registration names it.
std::string ModulePath() {
    const nv::WideString key = nv::ToWide("CLSID\\" + Text(nv::sim::CLSID_Simulation) + "\\InprocServer32");
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return std::string();
    WCHAR data[1024] = {};
    DWORD size = sizeof(data) - sizeof(WCHAR);
    DWORD type = 0;
    const LONG rc = RegQueryValueExW(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS && type == REG_SZ ? nv::ToUtf8(data) : std::string();
}

class CheckFaultyTest : public ToolTest, public ::testing::WithParamInterface<FaultCase> {
protected:
    void TearDown() override {
        registration_.reset();
        ToolTest::TearDown();
    }

    // Registers the faulty class beside the shipped simulation servers, for this test only.
    void Register(Fault fault, std::optional<DWORD> delayMs) {
        const std::string module = ModulePath();
        ASSERT_FALSE(module.empty()) << "the build does not register the simulation module";
        const std::string progID = nv::sim::FaultyProgID(fault);
        const std::string clsid = Text(nv::sim::FaultyClassId(fault));
        const std::string classKey = "[HKEY_CLASSES_ROOT\\CLSID\\" + clsid;
        std::string text = "Windows Registry Editor Version 5.00\n\n";
        text += "[HKEY_CLASSES_ROOT\\" + progID + "]\n@=\"Faulty server\"\n\n";
        text += "[HKEY_CLASSES_ROOT\\" + progID + "\\CLSID]\n@=\"" + clsid + "\"\n\n";
        text += "[HKEY_CLASSES_ROOT\\" + progID + "\\OPC]\n\n";
        text += classKey + "]\n@=\"Faulty server\"\n";
        if (delayMs) {
            char dword[16];
            std::snprintf(dword, sizeof dword, "%08x", static_cast<unsigned>(*delayMs));
            text += "\"FaultDelayMs\"=dword:" + std::string(dword) + "\n";
        }
        text += "\n" + classKey + "\\ProgID]\n@=\"" + progID + "\"\n\n";
        std::string path = module;
        for (std::size_t at = 0; (at = path.find('\\', at)) != std::string::npos; at += 2)
            path.insert(at, 1, '\\');
        text += classKey + "\\InprocServer32]\n@=\"" + path + "\"\n\"ThreadingModel\"=\"Free\"\n\n";
        text += classKey + "\\Implemented Categories\\" + Text(CATID_OPCDAServer20) + "]\n\n";
        registration_.emplace(text);
    }

    std::optional<nv::test::TestRegistration> registration_;
};

// The text row of a failed check: "FAIL  <name>  <what was seen>".
std::vector<std::string> FailedLines(const ToolRun& run) {
    std::vector<std::string> lines;
    for (const auto& line : run.out)
        if (line.rfind("FAIL  ", 0) == 0)
            lines.push_back(line);
    return lines;
}

TEST_P(CheckFaultyTest, NamesTheFaultAsAFailedCheckAndEnds) {
    const FaultCase& c = GetParam();
    Register(c.fault, c.delayMs);
    std::vector<std::string> args{"check", nv::sim::FaultyProgID(c.fault)};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    if (std::find(args.begin(), args.end(), "--timeout") == args.end())
        args.insert(args.end(), {"--timeout", "2000"});
    ToolRun run = Run(args);

    // Ended by itself, as a failed check: no crash, no sanitizer report, no usage error.
    EXPECT_EQ(run.status, 1) << run.rawOut << run.errText();
    const std::string err = run.errText();
    EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
    EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
    ASSERT_FALSE(run.out.empty()) << err;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(run.out.back(), m, kSummary))
        << "the summary comes last: " << run.out.back();
    const auto failed = FailedLines(run);
    EXPECT_EQ(std::stoi(m[3]), static_cast<int>(failed.size()));

    const auto row = std::find_if(failed.begin(), failed.end(), [&](const std::string& line) {
        return line.rfind(std::string("FAIL  ") + c.row, 0) == 0 && line.find(c.says) != std::string::npos;
    });
    EXPECT_NE(row, failed.end()) << "no FAIL row " << c.row << " saying \"" << c.says << "\" in\n"
                                 << run.rawOut;
}

INSTANTIATE_TEST_SUITE_P(EveryFaultyClass, CheckFaultyTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                             return std::string(nv::sim::FaultName(info.param.fault));
                         });

TEST(CheckFaultyCases, EveryFaultyClassHasACase) {
    std::map<Fault, int> seen;
    for (const auto& c : Cases())
        ++seen[c.fault];
    for (int f = 1; f < static_cast<int>(Fault::Count); ++f)
        EXPECT_EQ(seen[static_cast<Fault>(f)], 1) << nv::sim::FaultName(static_cast<Fault>(f));
}

// Ending a check from the watch over a call that never returns still leaves whole JSON lines,
// the summary last.
TEST_F(CheckFaultyTest, ACallThatNeverReturnsEndsTheCheckWithWholeJson) {
    Register(Fault::SlowAddItems, 600000);
    ToolRun run = Run({"check", nv::sim::FaultyProgID(Fault::SlowAddItems), "--json", "--timeout", "1000"});
    EXPECT_EQ(run.status, 1) << run.rawOut << run.errText();
    auto objects = Objects(run);
    ASSERT_GE(objects.size(), 2u) << run.rawOut;
    const auto& summary = objects.back();
    ASSERT_TRUE(summary.contains("failed")) << summary.dump();
    EXPECT_EQ(summary["failed"].get<int>(), 1);
    EXPECT_EQ(summary["checks"].get<int>(), static_cast<int>(objects.size()) - 1);
    const auto& last = objects[objects.size() - 2];
    EXPECT_EQ(last["verdict"], "FAIL");
    EXPECT_EQ(last["check"].get<std::string>().rfind("IOPCItemMgt.AddItems(", 0), 0u) << last.dump();
    EXPECT_EQ(last["expected"], "an answer within 1000 ms");
    EXPECT_FALSE(last.contains("result")) << "the call never answered";
}

// A shutdown request ends the check: after the row it came in, nothing more is asked of the
// server, and the groups the check made are still removed (the process ends cleanly).
TEST_F(CheckFaultyTest, AShutdownRequestEndsTheCheckAfterTheCallItCameIn) {
    Register(Fault::ShutdownMidCall, std::nullopt);
    ToolRun run = Run({"check", nv::sim::FaultyProgID(Fault::ShutdownMidCall), "--timeout", "2000"});
    EXPECT_EQ(run.status, 1) << run.rawOut << run.errText();
    ASSERT_GE(run.out.size(), 3u);
    const std::string& request = run.out[run.out.size() - 2];
    EXPECT_EQ(request.rfind("FAIL  IOPCShutdown.ShutdownRequest", 0), 0u) << request;
    EXPECT_NE(request.find("(reason \""), std::string::npos) << request;
    EXPECT_EQ(run.out[run.out.size() - 3].rfind("PASS  IOPCSyncIO.Read(cache, ", 0), 0u)
        << "the call the request came in is the last one checked: " << run.out[run.out.size() - 3];
    for (const auto& line : run.out)
        EXPECT_EQ(line.find("IOPCSyncIO.Write"), std::string::npos) << "checked after the request: " << line;
}

}  // namespace
