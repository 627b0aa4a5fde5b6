// norvane-opc as a script meets it: the server list, a status, reads and writes with the exact
// transaction texts, a watch with changing values, the browse export against the one the
// address space writes itself, bad usage, and errors in the core's own words.
#include "ToolTestSupport.h"

#include <algorithm>
#include <regex>
#include <set>

#include "discovery/NvOPCAddressSpace.h"
#include "opc/NvOPCServer.h"

namespace {

using namespace tooltest;

bool Matches(const std::string& text, const std::string& pattern) {
    return std::regex_match(text, std::regex(pattern));
}

// ---- servers

// On Windows the server list comes from the system registry, which every test program of the run
// shares, and other programs' test classes may stand in it; there only the shipped servers are
// compared. On Linux each test has a registry of its own and the whole list counts.
template <class Entries, class ProgIDOf>
Entries ShippedServers(Entries entries, ProgIDOf progIDOf) {
#ifdef _WIN32
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const auto& e) { return progIDOf(e).rfind("Norvane.Simulation.", 0) != 0; }),
                  entries.end());
#else
    (void)progIDOf;
#endif
    return entries;
}

std::string LineProgID(const std::string& line) {
    return line.substr(0, line.find('\t'));
}

std::string ObjectProgID(const nlohmann::json& object) {
    return object.value("progID", std::string());
}

TEST_F(ToolTest, ServersListsTheSimulationServersInClassOrderWithTheirCategories) {
    ToolRun run = Run({"servers"});
    ASSERT_EQ(run.status, 0) << run.errText();
    EXPECT_EQ(
        ShippedServers(run.out, LineProgID),
        (std::vector<std::string>{
            "Norvane.Simulation.1\t{6E0F2A31-4C1B-4D7E-9A51-3B2C8D0E1F01}\tNorvane OPC DA 2.0 Simulation "
            "Server\tDA 1.0, 2.0",
            "Norvane.Simulation.DA1.1\t{6E0F2A31-4C1B-4D7E-9A51-3B2C8D0E1F02}\tNorvane OPC DA 1.0a "
            "Simulation Server\tDA 1.0",
            "Norvane.Simulation.Flat.1\t{6E0F2A31-4C1B-4D7E-9A51-3B2C8D0E1F03}\tNorvane OPC DA 2.0 "
            "Simulation Server (flat)\tDA 1.0, 2.0"}));

    // Asking for DA 2.0 only leaves the DA 1.0a server out; the registry search adds DA 1.0.
    ToolRun da2 = Run({"servers", "--da2", "--json"});
    ASSERT_EQ(da2.status, 0) << da2.errText();
    auto objects = ShippedServers(Objects(da2), ObjectProgID);
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0]["progID"], kDA2);
    EXPECT_EQ(objects[0]["categories"], nlohmann::json::array({"DA2.0"}));
    EXPECT_EQ(objects[1]["progID"], kFlat);

    ToolRun registry = Run({"servers", "--da2", "--registry", "--json"});
    ASSERT_EQ(registry.status, 0) << registry.errText();
    auto found = ShippedServers(Objects(registry), ObjectProgID);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[1]["progID"], kDA1);
    EXPECT_EQ(found[1]["categories"], nlohmann::json::array({"DA1.0"}));
    EXPECT_EQ(found[1]["vendor"], "Norvane");
}

TEST_F(ToolTest, AnUnreachableHostIsAnErrorInTheCoresWords) {
    ToolRun run = Run({"servers", "--host", "nohost9"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.empty());
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err[0].rfind("norvane-opc: Could not connect to OPCEnum service at 'nohost9': ", 0), 0u)
        << run.err[0];
}

// ---- status

TEST_F(ToolTest, StatusPrintsTheEightStatusLinesInOrder) {
    ToolRun run = Run({"status", kDA2});
    ASSERT_EQ(run.status, 0) << run.errText();
    ASSERT_EQ(run.out.size(), 8u);
    const char* names[] = {"ServerState=", "StartTime=", "CurrentTime=", "LastUpdateTime=",
                           "GroupCount=",  "BandWidth=", "Vendor=",      "Version="};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(run.out[i].rfind(names[i], 0), 0u) << run.out[i];
    EXPECT_EQ(run.out[0], "ServerState=Running");
    EXPECT_EQ(run.out[6], "Vendor=Norvane OPC DA 2.0 Simulation Server");

    ToolRun json = Run({"--json", "status", kDA1});
    ASSERT_EQ(json.status, 0) << json.errText();
    auto objects = Objects(json);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0]["ServerState"], "Running");
    EXPECT_EQ(objects[0]["ServerStateCode"], 1);
    EXPECT_EQ(objects[0]["Vendor"], "Norvane OPC DA 1.0a Simulation Server");
}

TEST_F(ToolTest, AServerThatCannotBeFoundIsReportedAsTheWindowReportsIt) {
    ToolRun run = Run({"status", "No.Such.Server"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              std::vector<std::string>{"norvane-opc: Cannot identify server 'No.Such.Server' at "
                                       "'localhost': Server 'No.Such.Server' not found from 'localhost'"});
}

// ---- read and write

class ToolVersionTest : public ToolTest, public ::testing::WithParamInterface<const char*> {
protected:
    bool DA1() const { return std::string(GetParam()) == kDA1; }
    // A DA 1.0a server names its own read and write transactions; until then they carry the
    // stand-by ID.
    std::string SyncID() const { return DA1() ? "999999999" : "1"; }
};

TEST_P(ToolVersionTest, AReadPrintsItsTransactionAsTheLogWritesIt) {
    ToolRun run = Run({"read", GetParam(), "Static.Int4", "Static.String"});
    ASSERT_EQ(run.status, 0) << run.errText();
    ASSERT_EQ(run.out.size(), 3u);
    EXPECT_EQ(run.out[0],
              "Transaction ID=" + SyncID() + " Group=norvane-opc Kind=Read ItemCount=2 Result=$0 (OK)");
    EXPECT_TRUE(Matches(run.out[1], std::string(R"( Static\.Int4\(CH=0, SH=\d+\): )") + kStamp +
                                        R"( Good;Non-specific;Not limited -123456)"))
        << run.out[1];
    EXPECT_TRUE(Matches(run.out[2], std::string(R"( Static\.String\(CH=1, SH=\d+\): )") + kStamp +
                                        " Good;Non-specific;Not limited .*"))
        << run.out[2];

    // Asynchronously and from the device, the answer comes by callback with the same entries.
    ToolRun async = Run({"read", GetParam(), "Static.Int4", "--async", "--device"});
    ASSERT_EQ(async.status, 0) << async.errText();
    ASSERT_EQ(async.out.size(), 2u);
    EXPECT_TRUE(Matches(async.out[0],
                        R"(Transaction ID=\d+ Group=norvane-opc Kind=Read ItemCount=1 Result=\$0 \(OK\))"))
        << async.out[0];
    EXPECT_TRUE(Matches(async.out[1], std::string(R"( Static\.Int4\(CH=0, SH=\d+\): )") + kStamp +
                                          R"( Good;Non-specific;Not limited -123456)"))
        << async.out[1];
}

TEST_P(ToolVersionTest, AnUnknownItemIsReportedAndTheOthersAreStillRead) {
    ToolRun run = Run({"read", GetParam(), "Nowhere.Item", "Static.Int4"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, (std::vector<std::string>{"norvane-opc: AddItems Failed for items: ",
                                                 "Nowhere.Item: Unknown ItemID ($C0040007)"}));
    ASSERT_EQ(run.out.size(), 2u);
    EXPECT_EQ(run.out[0],
              "Transaction ID=" + SyncID() + " Group=norvane-opc Kind=Read ItemCount=1 Result=$0 (OK)");
    EXPECT_TRUE(run.out[1].rfind(" Static.Int4(CH=1, ", 0) == 0) << run.out[1];
}

TEST_P(ToolVersionTest, ARefusedWriteShowsTheTransactionAndTheCoresError) {
    ToolRun run = Run({"write", GetParam(), "Static.Percent", "150"});
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.out.size(), 2u);
    EXPECT_EQ(run.out[0],
              "Transaction ID=" + SyncID() + " Group=norvane-opc Kind=Write ItemCount=1 Result=$1 (S_FALSE)");
    EXPECT_TRUE(Matches(
        run.out[1],
        R"( Static\.Percent\(CH=0, SH=\d+\): 150 \{Double\} ErrorCode=C004000B \(Value out of Range\))"))
        << run.out[1];
    EXPECT_EQ(run.err, std::vector<std::string>{
                           "norvane-opc: Write failed: IOPCSyncIO.Write(Static.Percent, 150 {Double})"});

    ToolRun readOnly = Run({"write", GetParam(), "ReadOnly.Int4", "7"});
    EXPECT_EQ(readOnly.status, 1);
    ASSERT_EQ(readOnly.out.size(), 2u);
    EXPECT_TRUE(
        Matches(readOnly.out[1], R"( ReadOnly\.Int4\(CH=0, SH=\d+\): 7 \{Integer\} ErrorCode=C0040006 .*)"))
        << readOnly.out[1];
}

TEST_P(ToolVersionTest, AWriteIsConvertedToTheItemsTypeOrSentInTheTypeAskedFor) {
    ToolRun plain = Run({"write", GetParam(), "Static.Int4", "42"});
    ASSERT_EQ(plain.status, 0) << plain.errText();
    ASSERT_EQ(plain.out.size(), 2u);
    EXPECT_EQ(plain.out[0],
              "Transaction ID=" + SyncID() + " Group=norvane-opc Kind=Write ItemCount=1 Result=$0 (OK)");
    EXPECT_TRUE(Matches(plain.out[1], R"( Static\.Int4\(CH=0, SH=\d+\): 42 \{Integer\})")) << plain.out[1];

    ToolRun typed = Run({"--json", "write", GetParam(), "Static.Int4", "7", "--type", "Double", "--async"});
    ASSERT_EQ(typed.status, 0) << typed.errText();
    auto objects = Objects(typed);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0]["kind"], "Write");
    EXPECT_EQ(objects[0]["items"][0]["value"], "7");
    EXPECT_EQ(objects[0]["items"][0]["type"], "Double");
    EXPECT_EQ(objects[0]["items"][0]["error"], "0x00000000");

    // Text that is no number never reaches the server.
    ToolRun word = Run({"write", GetParam(), "Static.Int4", "plenty"});
    EXPECT_EQ(word.status, 1);
    EXPECT_TRUE(word.out.empty());
    EXPECT_EQ(word.err, std::vector<std::string>{
                            "norvane-opc: Could not convert variant of type (OleStr) into type (Integer)"});
}

TEST_F(ToolTest, ItemIDsComeFromAFileAsWellAsTheCommandLine) {
    const fs::path list = scratch_ / "items.txt";
    std::ofstream(list, std::ios::binary) << "Static.Int4\r\n\nSpecial Names.with space\n";
    ToolRun run = Run({"read", kDA2, "Static.Int2", "--items-from", list.string()});
    ASSERT_EQ(run.status, 0) << run.errText();
    ASSERT_EQ(run.out.size(), 4u);
    EXPECT_EQ(run.out[0].rfind("Transaction ID=1 Group=norvane-opc Kind=Read ItemCount=3 ", 0), 0u)
        << run.out[0];
    EXPECT_EQ(run.out[1].rfind(" Static.Int2(CH=0, ", 0), 0u);
    EXPECT_EQ(run.out[2].rfind(" Static.Int4(CH=1, ", 0), 0u);
    EXPECT_EQ(run.out[3].rfind(" Special Names.with space(CH=2, ", 0), 0u);

    ToolRun missing = Run({"read", kDA2, "--items-from", (scratch_ / "none.txt").string()});
    EXPECT_EQ(missing.status, 1);
    ASSERT_EQ(missing.err.size(), 1u);
    EXPECT_NE(missing.err[0].find("none.txt"), std::string::npos);
}

// ---- watch

TEST_P(ToolVersionTest, AWatchOfTwoSecondsPrintsChangingValues) {
    for (bool async : {false, true}) {
        std::vector<std::string> args{"watch",  GetParam(), "Dynamic.Ramp.Real8", "Static.Int4",
                                      "--rate", "100",      "--seconds",          "2"};
        if (async)
            args.push_back("--async");
        ToolRun run = Run(args);
        ASSERT_EQ(run.status, 0) << run.errText();
        std::set<std::string> rampValues;
        int statics = 0;
        std::string lastStamp;
        for (const std::string& line : run.out) {
            std::smatch m;
            ASSERT_TRUE(
                std::regex_match(line, m,
                                 std::regex(std::string("(") + kStamp +
                                            R"()\t([^\t]+)\t([^\t]+)\tGood;Non-specific;Not limited)")))
                << line;
            if (m[2] == "Dynamic.Ramp.Real8") {
                rampValues.insert(m[3]);
                EXPECT_GE(m[1].str(), lastStamp) << "time stamps never go back";
                lastStamp = m[1];
            } else {
                EXPECT_EQ(m[2], "Static.Int4");
                EXPECT_EQ(m[3], "-123456");
                ++statics;
            }
        }
        // A ramp rises by ten in a second: at 100 ms it changes at every update.
        EXPECT_GE(rampValues.size(), 5u) << (async ? "async" : "sync");
        EXPECT_EQ(statics, 1) << "an item that does not change is printed once";
    }
}

INSTANTIATE_TEST_SUITE_P(BothVersions, ToolVersionTest, ::testing::Values(kDA2, kDA1));

TEST_F(ToolTest, AWatchInJsonGivesOneObjectPerChange) {
    ToolRun run =
        Run({"watch", kDA2, "Dynamic.Counter.Int4", "--rate", "100", "--seconds", "1", "--async", "--json"});
    ASSERT_EQ(run.status, 0) << run.errText();
    auto objects = Objects(run);
    ASSERT_GE(objects.size(), 3u);
    for (const auto& o : objects) {
        EXPECT_EQ(o["item"], "Dynamic.Counter.Int4");
        EXPECT_EQ(o["type"], "Integer");
        EXPECT_EQ(o["qualityCode"], 192);
        EXPECT_FALSE(o.contains("error"));
    }
    EXPECT_NE(objects.front()["value"], objects.back()["value"]);
}

TEST_F(ToolTest, AWatchOfOnlyUnknownItemsEndsAtOnce) {
    ToolRun run = Run({"watch", kDA2, "Nowhere.Item"});
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.err.size(), 3u);
    EXPECT_EQ(run.err.back(), "norvane-opc: No item to watch.");
}

#ifndef _WIN32
TEST_F(ToolTest, CtrlCEndsAWatchCleanlyWithWhatItSawSoFar) {
    ToolRun run = Run({"watch", kDA2, "Dynamic.Counter.Int4", "--rate", "50", "--async"}, 1500);
    EXPECT_EQ(run.status, 0) << run.errText();
    EXPECT_GE(run.out.size(), 3u);
    EXPECT_TRUE(run.err.empty()) << run.errText();
    EXPECT_TRUE(!run.rawOut.empty() && run.rawOut.back() == '\n') << "the last line is complete";
}
#endif

// ---- browse

// The export the address space of a connected server writes itself, as the windows save it.
std::string ExportInProcess(const std::string& server, const fs::path& file, bool flat) {
    EXPECT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    std::string bytes;
    {
        nv::InstallOPCAddressSpace();
        nv::TNvOPCServer opc;
        opc.SetServerName(server);
        opc.SetConnected(true);
        opc.SetAutoUpdateAddressSpace(false);
        nv::TNvOPCAddressSpace* space = opc.AddressSpace();
        if (flat)
            space->SetMode(nv::amFlat);
        else
            space->Update();
        space->SaveToFile(file.string());
        bytes = ReadAll(file);
    }
    CoUninitialize();
    return bytes;
}

TEST_F(ToolTest, TheBrowseExportIsByteForByteTheAddressSpacesOwn) {
    struct Case {
        const char* server;
        bool flat;
    };
    for (const Case& c : {Case{kDA2, false}, Case{kFlat, false}, Case{kDA2, true}}) {
        const fs::path mine = scratch_ / "tool.txt";
        std::vector<std::string> args{"browse", c.server, "--export", mine.string()};
        if (c.flat)
            args.push_back("--flat");
        ToolRun run = Run(args);
        ASSERT_EQ(run.status, 0) << run.errText();
        const std::string exported = ReadAll(mine);
        const std::string expected = ExportInProcess(c.server, scratch_ / "window.txt", c.flat);
        EXPECT_EQ(exported, expected) << c.server << (c.flat ? " flat" : "");
        EXPECT_EQ(
            exported.rfind("ServerName=" + std::string(c.server) + ",PathSeparator=/,QuoteChar='\r\n", 0),
            0u);
        ASSERT_EQ(run.out.size(), 1u);
        EXPECT_TRUE(Matches(run.out[0], R"(\d+ nodes exported to .*)")) << run.out[0];
    }
    // Names with the separator or the quote character come out quoted.
    ToolRun printed = Run({"browse", kDA2});
    ASSERT_EQ(printed.status, 0) << printed.errText();
    EXPECT_NE(std::find(printed.out.begin(), printed.out.end(), "Special Names/'with/slash'"),
              printed.out.end());
    EXPECT_NE(std::find(printed.out.begin(), printed.out.end(), "Special Names/'it''s'"), printed.out.end());
    EXPECT_NE(std::find(printed.out.begin(), printed.out.end(), "Static/Arrays/Int4Array"),
              printed.out.end());
}

TEST_F(ToolTest, ThePrintedSpaceIsTheExportWithoutItsHeader) {
    const fs::path file = scratch_ / "space.oas";
    ToolRun exported = Run({"browse", kFlat, "--export", file.string()});
    ASSERT_EQ(exported.status, 0) << exported.errText();
    std::vector<std::string> lines = SplitLines(ReadAll(file));
    lines.erase(lines.begin());
    ToolRun printed = Run({"browse", kFlat});
    ASSERT_EQ(printed.status, 0) << printed.errText();
    EXPECT_EQ(printed.out, lines);

    ToolRun json = Run({"browse", kDA2, "--json"});
    auto objects = Objects(json);
    ASSERT_FALSE(objects.empty());
    EXPECT_EQ(objects[0]["path"], "Static");
    EXPECT_EQ(objects[0]["level"], 0);
    EXPECT_EQ(objects[0]["leaf"], false);
    auto leaf = std::find_if(objects.begin(), objects.end(),
                             [](const auto& o) { return o["path"] == "Static/Int4"; });
    ASSERT_NE(leaf, objects.end());
    EXPECT_EQ((*leaf)["leaf"], true);
    EXPECT_EQ((*leaf)["level"], 1);
}

// ---- usage

TEST_F(ToolTest, BadUsageExitsWithTwoAndAUsageLine) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"read", kDA2},
        {"status"},
        {"watch", kDA2, "Static.Int4", "--rate", "0"},
        {"watch", kDA2, "Static.Int4", "--deadband", "101"},
        {"write", kDA2, "Static.Int4", "1", "--type", "Quaternion"},
        {"servers", "--no-such-option"},
    };
    for (const auto& args : cases) {
        ToolRun run = Run(args);
        std::string shown;
        for (const auto& a : args)
            shown += a + " ";
        EXPECT_EQ(run.status, 2) << shown;
        EXPECT_TRUE(run.out.empty()) << shown;
        ASSERT_GE(run.err.size(), 2u) << shown;
        EXPECT_EQ(run.err[0].rfind("norvane-opc: ", 0), 0u) << shown;
        EXPECT_EQ(run.err[1].rfind("Usage: norvane-opc", 0), 0u) << shown << run.err[1];
    }
    ToolRun sub = Run({"read", kDA2});
    EXPECT_EQ(sub.err[1], "Usage: norvane-opc read [OPTIONS] server [items...]");
}

TEST_F(ToolTest, HelpIsThereForTheToolAndEachCommand) {
    ToolRun top = Run({"--help"});
    EXPECT_EQ(top.status, 0);
    for (const char* command : {"servers", "status", "browse", "read", "write", "watch", "check"}) {
        EXPECT_NE(top.rawOut.find(command), std::string::npos) << command;
        ToolRun help = Run({command, "--help"});
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_NE(help.rawOut.find(std::string("Usage: norvane-opc ") + command), std::string::npos)
            << command;
    }
}

}  // namespace
