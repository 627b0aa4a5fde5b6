// The configuration document: the file it writes, the round trip, what a hand-edited or foreign
// file reads as, what the user is told when a file cannot be read or written, the modified mark,
// and a loaded configuration connected to the simulation server.
#include <gtest/gtest.h>

#include <gmock/gmock.h>

#include "ConfigTestSupport.h"
#include "opc/NvOPCError.h"
#include "platform/NvWide.h"
#include "simulation/SimulationIds.h"

namespace {

using configtest::ConfigTest;
using configtest::Utf8Of;
namespace fs = std::filesystem;
using nv::TConfiguration;
using nv::TNvOPCGroup;
using ::testing::HasSubstr;

const std::string kSimText = "{6E0F2A31-4C1B-4D7E-9A51-3B2C8D0E1F01}";

bool IsNull(const GUID& guid) {
    return IsEqualGUID(guid, GUID{});
}

TNvOPCGroup* AddGroup(TConfiguration& config, const std::string& name) {
    auto* group = new TNvOPCGroup(nullptr);
    group->SetGroupName(name);
    group->SetServer(config.Server());
    return group;
}

TEST_F(ConfigTest, ANewFileHoldsTheKeysInTheirOrder) {
    TConfiguration config;
    config.Server()->SetServerName("Norvane.Simulation.1");
    config.SetGridColWidths(2, 150);
    TNvOPCGroup* pump = AddGroup(config, "Pump");
    pump->SetActive(true);
    pump->SetAsync(true);
    pump->SetTimeBias(-60);
    pump->SetUpdateRate(500);
    pump->SetAsyncRefreshInterval(2000);
    pump->SetDataSource(nv::opcdsDevice);
    pump->AddItem("Static.Int4")->SetDataType(VT_I4);
    pump->AddItem("Static.Real8")->SetActive(false);
    config.SetFileName(Path("new.noc"));
    config.Save();

    EXPECT_EQ(ReadFile(config.FileName()),
              "[Grid]\r\nCol0.Width=100\r\nCol1.Width=100\r\nCol2.Width=150\r\nCol3.Width=100\r\n"
              "Col4.Width=100\r\nCol5.Width=100\r\nCol6.Width=100\r\nCol7.Width=100\r\n"
              "[Server]\r\nHost=localhost\r\nClassID=" +
                  kSimText +
                  "\r\nServerName=Norvane.Simulation.1\r\nLog=1\r\nGroupCount=1\r\n"
                  "[Group0]\r\nName=Pump\r\nActive=1\r\nAsync=1\r\nLocalTimeBias=0\r\nTimeBias=-60\r\n"
                  "UpdateRate=500\r\nAsyncRefreshInterval=2000\r\nDataSource=2\r\nItemCount=2\r\n"
                  "[Group0.Item0]\r\nItemID=Static.Int4\r\nDataType=3\r\nActive=1\r\n"
                  "[Group0.Item1]\r\nItemID=Static.Real8\r\nDataType=0\r\nActive=0\r\n");
    EXPECT_FALSE(config.Modified());
}

TEST_F(ConfigTest, TwoGroupsRoundTripWithEveryStoredField) {
    TConfiguration saved;
    saved.Server()->SetHost("plant7");
    saved.Server()->SetServerName("Norvane.Simulation.1");
    saved.Server()->Log()->SetActive(false);
    for (int i = 0; i < TConfiguration::GridColCount; ++i)
        saved.SetGridColWidths(i, 40 + i);
    TNvOPCGroup* a = AddGroup(saved, "Boiler");
    a->SetActive(true);
    a->SetLocalTimeBias(true);
    a->SetTimeBias(120);
    a->SetUpdateRate(250);
    a->AddItem("Static.Int4")->SetDataType(VT_I4);
    // Blanks and quotes at the ends, and letters beyond ASCII, come back as they were.
    a->AddItem(" padded ")->SetActive(false);
    a->AddItem("\"quoted\"")->SetDataType(VT_BSTR);
    TNvOPCGroup* b = AddGroup(saved, "Tank");
    b->SetAsync(true);
    b->SetAsyncRefreshInterval(3000);
    b->SetDataSource(nv::opcdsDevice);
    b->AddItem("K\xC3\xBChlung.\xE6\xB8\xA9\xE5\xBA\xA6")->SetDataType(VT_R8);
    saved.SetFileName(Path("trip.noc"));
    saved.Save();

    TConfiguration loaded;
    loaded.SetFileName(saved.FileName());
    loaded.Load();
    EXPECT_FALSE(loaded.Modified());
    EXPECT_EQ(loaded.Server()->Host(), "plant7");
    EXPECT_EQ(loaded.Server()->ServerName(), "Norvane.Simulation.1");
    EXPECT_TRUE(IsEqualGUID(loaded.Server()->ClassID(), nv::sim::CLSID_Simulation));
    EXPECT_FALSE(loaded.Server()->Log()->Active());
    for (int i = 0; i < TConfiguration::GridColCount; ++i)
        EXPECT_EQ(loaded.GetGridColWidths(i), 40 + i);
    ASSERT_EQ(loaded.Server()->GroupCount(), 2);
    for (int g = 0; g < 2; ++g) {
        const TNvOPCGroup* want = Group(saved, g);
        const TNvOPCGroup* got = Group(loaded, g);
        SCOPED_TRACE(want->GetGroupName());
        EXPECT_EQ(got->GetGroupName(), want->GetGroupName());
        EXPECT_EQ(got->Active(), want->Active());
        EXPECT_EQ(got->Async(), want->Async());
        EXPECT_EQ(got->LocalTimeBias(), want->LocalTimeBias());
        // The stored time bias is kept.
        EXPECT_EQ(got->TimeBias(), want->TimeBias());
        EXPECT_EQ(got->UpdateRate(), want->UpdateRate());
        EXPECT_EQ(got->AsyncRefreshInterval(), want->AsyncRefreshInterval());
        EXPECT_EQ(got->DataSource(), want->DataSource());
        EXPECT_EQ(got->PercentDeadband(), 0.0f);
        EXPECT_EQ(got->LCID(), loaded.Server()->LCID());
        ASSERT_EQ(got->ItemCount(), want->ItemCount());
        for (int i = 0; i < want->ItemCount(); ++i) {
            EXPECT_EQ(got->Items(i)->GetItemID(), want->Items(i)->GetItemID());
            EXPECT_EQ(got->Items(i)->GetDataType(), want->Items(i)->GetDataType());
            EXPECT_EQ(got->Items(i)->GetActive(), want->Items(i)->GetActive());
        }
    }
    EXPECT_FALSE(Group(loaded, 0)->Connected());
}

TEST_F(ConfigTest, TwoGroupsOfOneNameLoadAsPumpAndPump1) {
    auto config = LoadText(
        "[Server]\nGroupCount=2\n[Group0]\nName=Pump\nItemCount=1\n[Group0.Item0]\nItemID=A\n"
        "[Group1]\nName=Pump\nItemCount=1\n[Group1.Item0]\nItemID=B\n");
    ASSERT_EQ(config->Server()->GroupCount(), 2);
    EXPECT_EQ(Group(*config, 0)->GetGroupName(), "Pump");
    EXPECT_EQ(Group(*config, 1)->GetGroupName(), "Pump1");
    EXPECT_EQ(Group(*config, 1)->Items(0)->GetItemID(), "B");
}

TEST_F(ConfigTest, HandEditedNumbersReadAsDecimalHexadecimalOrTheDefault) {
    auto config = LoadText(
        "[grid]\ncol0.width=0X3e8\nCol1.Width=wide\nCol2.Width=-4\n"
        "[SERVER]\nGroupCount=$4\n"
        "[Group0]\nUpdateRate=$3E8\nTimeBias=0x3E8\nAsyncRefreshInterval=-5\nActive=2\nAsync=yes\n"
        "DataSource=2\nItemCount=4\n"
        "[Group0.Item0]\nItemID=x\nDataType=70000\nActive=1\n[Group0.Item1]\nItemID=y\n"
        "[Group0.Item2]\nDataType=0x8\n[Group0.Item3]\nDataType=3 \n"
        "[Group1]\nUpdateRate=12abc\nTimeBias=99999999999\nDataSource=7\n"
        "[Group2]\nDataSource=1\n[Group3]\nUpdateRate=\n");
    EXPECT_EQ(config->GetGridColWidths(0), 1000);
    EXPECT_EQ(config->GetGridColWidths(1), 100);
    EXPECT_EQ(config->GetGridColWidths(2), 100);
    ASSERT_EQ(config->Server()->GroupCount(), 4);
    TNvOPCGroup* g0 = Group(*config, 0);
    EXPECT_EQ(g0->UpdateRate(), 1000u);
    EXPECT_EQ(g0->TimeBias(), 1000);
    EXPECT_EQ(g0->AsyncRefreshInterval(), 0u);
    EXPECT_TRUE(g0->Active());
    EXPECT_FALSE(g0->Async());
    EXPECT_EQ(g0->DataSource(), nv::opcdsDevice);
    EXPECT_EQ(g0->GetGroupName(), "");
    ASSERT_EQ(g0->ItemCount(), 4);
    EXPECT_EQ(g0->Items(0)->GetRequestedDataType(), VT_EMPTY);
    EXPECT_TRUE(g0->Items(0)->GetActive());
    EXPECT_EQ(g0->Items(1)->GetRequestedDataType(), VT_EMPTY);
    EXPECT_FALSE(g0->Items(1)->GetActive());
    EXPECT_EQ(g0->Items(2)->GetRequestedDataType(), VT_BSTR);
    EXPECT_EQ(g0->Items(2)->GetItemID(), "");
    EXPECT_EQ(g0->Items(3)->GetRequestedDataType(), VT_I4);
    TNvOPCGroup* g1 = Group(*config, 1);
    EXPECT_EQ(g1->UpdateRate(), 1000u);
    EXPECT_EQ(g1->TimeBias(), 0);
    EXPECT_EQ(g1->DataSource(), nv::opcdsCache);
    EXPECT_EQ(Group(*config, 2)->DataSource(), nv::opcdsCache);
    EXPECT_EQ(Group(*config, 3)->UpdateRate(), 1000u);
}

TEST_F(ConfigTest, AMissingFileLoadsAsAnEmptyConfiguration) {
    TConfiguration config;
    config.Server()->SetServerName("Norvane.Simulation.1");
    AddGroup(config, "Old");
    config.SetGridColWidths(5, 77);
    config.SetFileName(Path("none.noc"));
    config.Load();
    EXPECT_EQ(config.Server()->GroupCount(), 0);
    EXPECT_EQ(config.Server()->ServerName(), "");
    EXPECT_TRUE(IsNull(config.Server()->ClassID()));
    EXPECT_EQ(config.GetGridColWidths(5), 77);
    EXPECT_FALSE(config.Modified());
    EXPECT_EQ(config.FileName(), Path("none.noc"));
    EXPECT_FALSE(fs::exists(folder_ / "none.noc"));
}

TEST_F(ConfigTest, CountsAreBoundedByTheSectionsTheFileHolds) {
    // A count of two billion is read at the speed of the two sections that exist; a missing
    // section is no group; a section beyond the count is never read.
    auto config = LoadText(
        "[Server]\nGroupCount=2000000000\n"
        "[Group0]\nName=A\nItemCount=2147483647\n[Group0.Item0]\nItemID=a0\n[Group0.Item5]\nItemID=a5\n"
        "[Group00]\nName=NotGroup0\n[Group2]\nName=C\nItemCount=1\n[Group2.Item0]\nItemID=c0\n"
        "[Group2.Item1]\nItemID=beyond\n");
    ASSERT_EQ(config->Server()->GroupCount(), 2);
    EXPECT_EQ(Group(*config, 0)->GetGroupName(), "A");
    ASSERT_EQ(Group(*config, 0)->ItemCount(), 2);
    EXPECT_EQ(Group(*config, 0)->Items(1)->GetItemID(), "a5");
    EXPECT_EQ(Group(*config, 1)->GetGroupName(), "C");
    EXPECT_EQ(Group(*config, 1)->ItemCount(), 1);

    auto negative = LoadText("[Server]\nGroupCount=-3\n[Group0]\nName=A\n", "negative.noc");
    EXPECT_EQ(negative->Server()->GroupCount(), 0);
}

TEST_F(ConfigTest, SavingOverAFileKeepsItsOtherLinesAndOldSections) {
    const std::string old =
        "; written by hand\n[Server]\nGroupCount=2\nComment=kept\n\n; the groups\n"
        "[Group0]\nName=Old\nItemCount=4\n[Group0.Item3]\nItemID=old3\n[Group1]\nName=Second\n";
    TConfiguration config;
    config.SetFileName(WriteFile("over.noc", old));
    AddGroup(config, "New")->AddItem("n0");
    config.Save();
    const std::string text = ReadFile(config.FileName());
    EXPECT_EQ(text.rfind("; written by hand\n[Server]\nGroupCount=1\nComment=kept\nHost=localhost\n", 0), 0u)
        << text;
    EXPECT_THAT(text, HasSubstr("\n\n; the groups\n[Group0]\nName=New\nItemCount=1\n"));
    EXPECT_THAT(text, HasSubstr("[Group0.Item3]\nItemID=old3\n[Group1]\nName=Second\n"));
    EXPECT_EQ(text.find('\r'), std::string::npos);

    config.Load();
    ASSERT_EQ(config.Server()->GroupCount(), 1);
    EXPECT_EQ(Group(config, 0)->ItemCount(), 1);
}

std::string Utf16(const std::string& utf8) {
    nv::WideString wide = nv::ToWide(utf8);
    std::string out("\xFF\xFE", 2);
    for (WCHAR c : wide) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>((static_cast<unsigned>(c) >> 8) & 0xFF));
    }
    return out;
}

TEST_F(ConfigTest, AFileFromAWindowsEditorLoadsAndKeepsItsEncoding) {
    const std::string text =
        "[Server]\r\nServerName=Norvane.Simulation.1\r\nGroupCount=1\r\n[Group0]\r\nName=Pr\xC3\xBC"
        "fstand\r\nItemCount=1\r\n[Group0.Item0]\r\nItemID=Static.Int4\r\nActive=1\r\n";
    auto config = LoadText(Utf16(text), "utf16.noc");
    ASSERT_EQ(config->Server()->GroupCount(), 1);
    EXPECT_EQ(Group(*config, 0)->GetGroupName(),
              "Pr\xC3\xBC"
              "fstand");
    EXPECT_TRUE(Group(*config, 0)->Items(0)->GetActive());
    EXPECT_EQ(config->Server()->ServerName(), "Norvane.Simulation.1");

    Group(*config, 0)->SetUpdateRate(750);
    config->Save();
    const std::string bytes = ReadFile(config->FileName());
    ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(bytes.substr(0, Utf16(text.substr(0, 10)).size()), Utf16(text.substr(0, 10)));
    auto again = LoadText(bytes, "again.noc");
    EXPECT_EQ(Group(*again, 0)->UpdateRate(), 750u);
    EXPECT_EQ(Group(*again, 0)->GetGroupName(),
              "Pr\xC3\xBC"
              "fstand");

    auto bom = LoadText("\xEF\xBB\xBF[Server]\nGroupCount=1\n[Group0]\nName=Bom\n", "bom.noc");
    EXPECT_EQ(Group(*bom, 0)->GetGroupName(), "Bom");
}

TEST_F(ConfigTest, JunkAndHugeLinesReadAsDefaults) {
    std::string junk;
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i)
        junk.push_back(static_cast<char>(random() & 0xFF));
    junk += "\n[Broken\n=novalue\n" + std::string(1 << 20, 'x') +
            "\n[Server]\nGroupCount=1\n[Group0]\nName=" + std::string(1 << 20, 'n') + "\n";
    auto config = LoadText(junk);
    ASSERT_EQ(config->Server()->GroupCount(), 1);
    EXPECT_EQ(Group(*config, 0)->GetGroupName().size(), std::size_t{1} << 20);

    auto nothing = LoadText(junk.substr(0, 20000), "junk.noc");
    EXPECT_EQ(nothing->Server()->GroupCount(), 0);
    EXPECT_EQ(nothing->GetGridColWidths(0), 100);
}

TEST_F(ConfigTest, AFileThatCannotBeReadIsReportedAndNothingIsLost) {
    TConfiguration config;
    AddGroup(config, "Kept");
    fs::create_directory(folder_ / "folder.noc");
    config.SetFileName(Path("folder.noc"));
    try {
        config.Load();
        FAIL() << "a folder loaded";
    } catch (const nv::EFOpenError& e) {
        EXPECT_EQ(e.Message(),
                  "Cannot read the configuration file '" + Path("folder.noc") + "': it is a folder");
    }
    EXPECT_EQ(config.Server()->GroupCount(), 1);
    try {
        config.Save();
        FAIL() << "saved over a folder";
    } catch (const nv::EFCreateError& e) {
        EXPECT_EQ(e.Message(),
                  "Cannot save the configuration file '" + Path("folder.noc") + "': it is a folder");
    }
}

TEST_F(ConfigTest, AFailedSaveLeavesThePreviousFileAsItWas) {
    TConfiguration config;
    TNvOPCGroup* group = AddGroup(config, "G");
    group->AddItem("first");
    config.SetFileName(Path("keep.noc"));
    config.Save();
    const std::string before = ReadFile(config.FileName());

    // A value the file cannot hold as one line.
    group->AddItem("two\nlines");
    config.SetModified(true);
    try {
        config.Save();
        FAIL() << "saved a line break";
    } catch (const nv::EArgumentException& e) {
        EXPECT_EQ(
            e.Message(),
            "The value of 'ItemID' in section [Group0.Item1] contains a line break and cannot be stored");
    }
    EXPECT_TRUE(config.Modified());
    EXPECT_EQ(ReadFile(config.FileName()), before);

    // A read-only file is not replaced.
    group->RemoveItem(1);
    config.SetFileName(WriteFile("locked.noc", before));
    fs::permissions(folder_ / "locked.noc",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    group->AddItem("second");
    try {
        config.Save();
        FAIL() << "replaced a read-only file";
    } catch (const nv::EFCreateError& e) {
        EXPECT_EQ(e.Message(),
                  "Cannot save the configuration file '" + Path("locked.noc") + "': the file is read-only");
    }
    EXPECT_EQ(ReadFile(config.FileName()), before);

    config.SetFileName(Utf8Of(folder_ / "no such folder" / "x.noc"));
    try {
        config.Save();
        FAIL() << "saved into a missing folder";
    } catch (const nv::EFCreateError& e) {
        EXPECT_THAT(e.Message(),
                    HasSubstr("Cannot save the configuration file '" + config.FileName() + "': "));
    }
    // Nothing is left behind beside the files.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(folder_)) {
        static_cast<void>(entry);
        ++files;
    }
    EXPECT_EQ(files, 2);
}

TEST_F(ConfigTest, TheSystemProfileFunctionsReadAndWriteTheSameFile) {
    TConfiguration config;
    config.Server()->SetServerName("Norvane.Simulation.1");
    AddGroup(config, "Pump")->AddItem("Static.Int4");
    Group(config, 0)->SetUpdateRate(1500);
    config.SetFileName(Path("shared.noc"));
    config.Save();
    nv::WideString file = nv::ToWide(config.FileName());
    WCHAR buffer[256];
    GetPrivateProfileStringW(OLESTR("Server"), OLESTR("ClassID"), OLESTR(""), buffer, 256, file.c_str());
    EXPECT_EQ(nv::ToUtf8(buffer), kSimText);
    GetPrivateProfileStringW(OLESTR("Group0.Item0"), OLESTR("ItemID"), OLESTR(""), buffer, 256, file.c_str());
    EXPECT_EQ(nv::ToUtf8(buffer), "Static.Int4");
    EXPECT_EQ(GetPrivateProfileIntW(OLESTR("Group0"), OLESTR("UpdateRate"), 0, file.c_str()), 1500u);

    nv::WideString other = nv::ToWide(Path("written.noc"));
    WritePrivateProfileStringW(OLESTR("Server"), OLESTR("GroupCount"), OLESTR("1"), other.c_str());
    WritePrivateProfileStringW(OLESTR("Group0"), OLESTR("Name"), OLESTR("Profiled"), other.c_str());
    WritePrivateProfileStringW(OLESTR("Group0"), OLESTR("UpdateRate"), OLESTR("$3E8"), other.c_str());
    auto loaded = std::make_unique<TConfiguration>();
    loaded->SetFileName(Path("written.noc"));
    loaded->Load();
    ASSERT_EQ(loaded->Server()->GroupCount(), 1);
    EXPECT_EQ(Group(*loaded, 0)->GetGroupName(), "Profiled");
    EXPECT_EQ(Group(*loaded, 0)->UpdateRate(), 1000u);
}

TEST_F(ConfigTest, WhatMarksTheConfigurationModified) {
    TConfiguration config;
    EXPECT_TRUE(config.Server()->OwnsGroups());
    EXPECT_TRUE(config.Server()->Log()->Active());
    EXPECT_FALSE(config.Modified());
    EXPECT_EQ(config.FileName(), "");
    EXPECT_EQ(config.GetGridColWidths(7), 100);
    EXPECT_THROW(config.GetGridColWidths(8), nv::EListError);

    int raised = 0;
    config.OnServerChange = [&](nv::TObject* sender) {
        EXPECT_EQ(sender, &config);
        ++raised;
    };
    config.SetGridColWidths(3, 100);
    EXPECT_FALSE(config.Modified());
    config.SetGridColWidths(3, 90);
    EXPECT_TRUE(config.Modified());
    EXPECT_EQ(raised, 0);

    config.SetFileName(WriteFile("mod.noc", "[Server]\nGroupCount=1\n[Group0]\nName=G\n"));
    config.Load();
    EXPECT_FALSE(config.Modified());
    raised = 0;
    Group(config, 0)->SetUpdateRate(333);
    EXPECT_TRUE(config.Modified());
    EXPECT_EQ(raised, 1);
    config.Save();
    EXPECT_FALSE(config.Modified());

    config.Server()->SetHost("plant7");
    config.Server()->Log()->SetActive(false);
    EXPECT_TRUE(config.Modified());
    config.Reset();
    EXPECT_FALSE(config.Modified());
    EXPECT_EQ(config.Server()->Host(), "plant7");
    EXPECT_FALSE(config.Server()->Log()->Active());
    EXPECT_EQ(config.FileName(), Path("mod.noc"));
    config.New();
    EXPECT_EQ(config.FileName(), "");
    EXPECT_EQ(config.Server()->GroupCount(), 0);
}

TEST_F(ConfigTest, AStoredClassWinsOverTheNameUnlessItIsNoClass) {
    const std::string flat = nv::GuidToRegistryString(nv::sim::CLSID_SimulationFlat);
    auto wins = LoadText("[Server]\nServerName=Norvane.Simulation.1\nClassID=" + flat + "\n");
    EXPECT_TRUE(IsEqualGUID(wins->Server()->ClassID(), nv::sim::CLSID_SimulationFlat));
    EXPECT_EQ(wins->Server()->ServerName(), "Norvane.Simulation.Flat.1");

    for (const std::string bad : {"Norvane.Simulation.Flat.1", "{6E0F2A31-4C1B-4D7E-9A51-3B2C8D0E1F0}",
                                  "{6E0F2A31-4C1B-4D7E-9A51+3B2C8D0E1F03}", "garbage"}) {
        SCOPED_TRACE(bad);
        auto ignored =
            LoadText("[Server]\nServerName=Norvane.Simulation.1\nClassID=" + bad + "\n", "bad.noc");
        EXPECT_TRUE(IsEqualGUID(ignored->Server()->ClassID(), nv::sim::CLSID_Simulation));
    }
    auto null = LoadText(
        "[Server]\nServerName=Norvane.Simulation.1\nClassID={00000000-0000-0000-0000-000000000000}\n",
        "null.noc");
    EXPECT_TRUE(IsNull(null->Server()->ClassID()));
    EXPECT_EQ(null->Server()->ServerName(), "Norvane.Simulation.1");
}

TEST_F(ConfigTest, AServerThatCannotBeIdentifiedIsReported) {
    TConfiguration config;
    config.SetFileName(
        WriteFile("unknown.noc", "[Server]\nServerName=No.Such.Server.1\nGroupCount=1\n[Group0]\n"));
    try {
        config.Load();
        FAIL() << "an unknown server loaded";
    } catch (const nv::ENvOPCException& e) {
        EXPECT_THAT(e.Message(), HasSubstr("Cannot identify server 'No.Such.Server.1' at 'localhost': "));
    }
    EXPECT_EQ(config.Server()->ServerName(), "No.Such.Server.1");
    EXPECT_EQ(config.Server()->GroupCount(), 0);
}

TEST_F(ConfigTest, ALoadedConfigurationConnectsWhenAsked) {
    TConfiguration config;
    config.SetAcceptInvalidItems(true);
    config.Server()->SetStatusInterval(0);
    config.SetFileName(WriteFile("run.noc",
                                 "[Server]\nServerName=Norvane.Simulation.1\nLog=1\nGroupCount=1\n[Group0]"
                                 "\nName=Run\nActive=1\nItemCount=2\n"
                                 "[Group0.Item0]\nItemID=Static.Int4\nActive=1\n[Group0.Item1]\nItemID="
                                 "Static.Real8\nDataType=8\nActive=1\n"));
    config.Load();
    TNvOPCGroup* group = Group(config, 0);
    EXPECT_TRUE(group->AcceptInvalidItems());
    EXPECT_FALSE(group->Connected());
    config.Server()->SetConnected(true);
    ASSERT_TRUE(group->Connected());
    // An item stored without a type asks for none and gets the server's own.
    EXPECT_TRUE(group->Items(0)->GetConnected());
    EXPECT_EQ(group->Items(0)->GetRequestedDataType(), VT_EMPTY);
    EXPECT_EQ(group->Items(0)->GetDataType(), VT_I4);
    EXPECT_TRUE(group->Items(1)->GetConnected());
    EXPECT_EQ(group->Items(1)->GetDataType(), VT_BSTR);
    EXPECT_TRUE(config.Modified());

    // Loading again closes the connection first.
    config.Load();
    EXPECT_FALSE(config.Server()->Connected());
    EXPECT_FALSE(Group(config, 0)->Connected());
}

}  // namespace
