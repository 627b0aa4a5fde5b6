// `run` of a configuration the program saved itself: its groups connect and run, and the
// transaction log comes out in the log file's own form.
#include "ToolTestSupport.h"

#include <algorithm>
#include <regex>

#include "app/Configuration.h"
#include "opc/NvOPCGroup.h"

namespace {

using namespace tooltest;

// A configuration of one asynchronous group "Plant" of a ramp and a constant, saved as the
// window saves it.
fs::path SaveConfiguration(const fs::path& file, const std::string& server) {
    nv::TConfiguration configuration;
    configuration.Server()->SetServerName(server);
    auto* group = new nv::TNvOPCGroup();
    group->SetGroupName("Plant");
    group->SetUpdateRate(100);
    group->SetActive(true);
    group->SetAsync(true);
    group->SetServer(configuration.Server());
    group->AddItem("Dynamic.Ramp.Real8")->SetActive(true);
    group->AddItem("Static.Int4")->SetActive(true);
    configuration.SetFileName(file.string());
    configuration.Save();
    return file;
}

std::vector<std::string> Entries(const std::string& log) {
    // Every entry starts with its time stamp; a transaction's lines follow it.
    std::vector<std::string> entries;
    const std::regex stamped(std::string("^") + kStamp + " (.*)");
    for (const std::string& line : SplitLines(log)) {
        std::smatch m;
        if (std::regex_match(line, m, stamped))
            entries.push_back(m[1]);
    }
    return entries;
}

TEST_F(ToolTest, RunningASavedConfigurationProducesItsTransactionLog) {
    const fs::path noc = SaveConfiguration(scratch_ / "plant.noc", kDA2);
    const fs::path log = scratch_ / "plant.log";
    ToolRun run = Run({"run", noc.string(), "--seconds", "1.5", "--log", log.string()});
    ASSERT_EQ(run.status, 0) << run.errText();
    EXPECT_TRUE(run.out.empty()) << "the log went to its file";
    const std::string text = ReadAll(log);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(text.find("\n", 0), text.find("\r\n", 0) + 1) << "lines end with CR LF";

    auto entries = Entries(text);
    ASSERT_GE(entries.size(), 5u);
    EXPECT_EQ(entries.front(),
              "Connected to Server 'Norvane.Simulation.1' {6E0F2A31-4C1B-4D7E-9A51-3B2C8D0E1F01}");
    EXPECT_NE(std::find(entries.begin(), entries.end(), "IOPCServer.AddGroup: Result=$0 (OK)"),
              entries.end());
    EXPECT_NE(std::find(entries.begin(), entries.end(), "Status changed from 'No connection!' to 'Running'"),
              entries.end());
    const auto changes = std::count_if(entries.begin(), entries.end(), [](const std::string& e) {
        return e.rfind("Transaction ID=", 0) == 0 &&
               e.find(" Group=Plant Kind=DataChange ") != std::string::npos;
    });
    EXPECT_GE(changes, 5) << "a ramp at 100 ms changes every time";
    EXPECT_EQ(entries.back().rfind("Status changed from 'Running' to 'No connection!'", 0), 0u)
        << entries.back();
    EXPECT_NE(
        std::find(entries.begin(), entries.end(),
                  "Disconnected from Server 'Norvane.Simulation.1' {6E0F2A31-4C1B-4D7E-9A51-3B2C8D0E1F01}"),
        entries.end());
    // A data change lists its items under its header.
    EXPECT_TRUE(std::regex_search(text, std::regex(R"( Dynamic\.Ramp\.Real8\(CH=0, SH=-?\d+\): )")));
}

TEST_F(ToolTest, WithoutALogFileTheEntriesGoToStandardOutput) {
    const fs::path noc = SaveConfiguration(scratch_ / "plant.noc", kDA1);
    ToolRun run = Run({"run", noc.string(), "--seconds", "1", "--json"});
    ASSERT_EQ(run.status, 0) << run.errText();
    auto objects = Objects(run);
    ASSERT_GE(objects.size(), 3u);
    EXPECT_EQ(objects.front()["entry"],
              "Connected to Server 'Norvane.Simulation.DA1.1' {6E0F2A31-4C1B-4D7E-9A51-3B2C8D0E1F02}");
    EXPECT_TRUE(std::regex_match(objects.front()["time"].get<std::string>(), std::regex(kStamp)));
}

TEST_F(ToolTest, AConfigurationThatIsNotThereIsAnError) {
    ToolRun run = Run({"run", (scratch_ / "missing.noc").string()});
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.err.size(), 1u);
    EXPECT_NE(run.err[0].find("missing.noc"), std::string::npos) << run.err[0];
}

}  // namespace
