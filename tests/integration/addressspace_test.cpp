// The address space against the simulation servers, created through COM as the program creates
// them: full and on-demand walks in both organisations, node types, skip, skip-branch and
// cancel, the starting point, item IDs, the export file, and the server's hooks.
//
// The hierarchical server's space, with the Bulk branch set to 3000 items for these tests:
//   15 branches: Static{Arrays} ReadOnly{Arrays} Dynamic{Ramp Sine Random Square Counter}
//                "Special Names"{branch.with.dots, "branch/with 'slash'"} Control Bulk
//   3154 items:  Static 16 + 14 arrays, ReadOnly 14 + 14 arrays, Dynamic 5 x 16, Special Names
//                5 + 1 + 1, Control 9, Bulk 3000 (more than one batch of 1024 names)
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "discovery/NvOPCAddressSpace.h"
#include "foundation/NvStringList.h"
#include "foundation/NvSysUtils.h"
#include "opc/NvOPCServer.h"
#include "simulation/SimulationIds.h"
#include "tests/windows/NvTestRegistration.h"

namespace {

using namespace nv;

constexpr int kBranches = 15;
constexpr int kItems = 3154;
constexpr int kNodes = kBranches + kItems;

std::vector<std::string> Paths(const TNvStringTree& tree, TNvNodeTypes types = TNvNodeTypes::All()) {
    TNvStringList list;
    tree.AssignToStrings(&list, true, 0, types, -1);
    return list.ToVector();
}

std::string Raised(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.ClassName() + ": " + e.Message();
    }
    return "(nothing raised)";
}

class AddressSpaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        registration_.emplace("Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\CLSID\\" +
                              GuidToRegistryString(nv::sim::CLSID_Simulation) +
                              "]\n\"BulkItems\"=dword:00000bb8\n\n");
        previousFactory_ = SetOPCAddressSpaceFactory(nullptr);
        InstallOPCAddressSpace();
        previousSettings_ = FormatSettings();
        SetFormatSettings(DefaultFormatSettings());
        server_ = std::make_unique<TNvOPCServer>();
        server_->Log()->SetActive(true);
        server_->Log()->OnChange = [this](TObject*, const std::string& line) { log_.push_back(line); };
    }

    void TearDown() override {
        server_.reset();
        SetFormatSettings(previousSettings_);
        SetOPCAddressSpaceFactory(previousFactory_);
        registration_.reset();
        CoUninitialize();
    }

    void Connect(const std::string& progID) {
        server_->SetServerName(progID);
        server_->SetConnected(true);
        ASSERT_TRUE(server_->Connected());
    }

    // Connected, with an address space that the getter does not fill.
    TNvOPCAddressSpace* Unfilled(const std::string& progID) {
        server_->SetAutoUpdateAddressSpace(false);
        Connect(progID);
        TNvOPCAddressSpace* space = server_->AddressSpace();
        EXPECT_EQ(space->Count(), 0);
        return space;
    }

    bool Logged(const std::string& prefix) const {
        return std::any_of(log_.begin(), log_.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }

    std::optional<nv::test::TestRegistration> registration_;
    TNvOPCAddressSpaceFactory previousFactory_;
    TFormatSettings previousSettings_;
    std::unique_ptr<TNvOPCServer> server_;
    std::vector<std::string> log_;
};

TEST_F(AddressSpaceTest, TheGetterWalksTheHierarchicalServerInPreOrder) {
    Connect("Norvane.Simulation.1");
    TNvOPCAddressSpace* space = server_->AddressSpace();
    EXPECT_TRUE(space->Updated());
    EXPECT_EQ(space->Mode(), amHierarchial);
    EXPECT_TRUE(space->HierarchicalSupported());
    EXPECT_EQ(space->PathStack()->Count(), 0);
    EXPECT_TRUE(Logged("Server AddressSpace retrieved."));
    ASSERT_EQ(space->Count(), kNodes);
    EXPECT_EQ(static_cast<int>(Paths(*space, {kNvBranchNode}).size()), kBranches);

    // A node's branch children come first, each followed by its own subtree, then its leaves.
    EXPECT_EQ(space->PathOfIndex(0), "Static");
    EXPECT_EQ(space->PathOfIndex(1), "Static/Arrays");
    EXPECT_EQ(space->PathOfIndex(2), "Static/Arrays/Int1Array");
    EXPECT_EQ(space->PathOfIndex(16), "Static/Int1");
    EXPECT_EQ(space->PathOfIndex(31), "Static/Mode");
    EXPECT_EQ(space->PathOfIndex(32), "ReadOnly");
    EXPECT_EQ(space->PathOfIndex(kNodes - 1), "Bulk/Item3000");
    EXPECT_EQ(space->Levels(kNodes - 1), 1);
    EXPECT_EQ(space->ParentIndex(kNodes - 1), space->IndexOfPath("Bulk"));

    for (int i = 0; i < space->Count(); ++i) {
        TNvOPCAddressSpaceNode* node = space->SpaceNodes(i);
        ASSERT_TRUE(node->Browsed()) << space->PathOfIndex(i);
        EXPECT_EQ(space->NodeType(i), node->IsLeaf() ? kNvLeafNode : kNvBranchNode);
    }
    EXPECT_GE(space->IndexOfPath("Special Names/'branch/with ''slash'''/value"), 0);
    EXPECT_GE(space->IndexOfPath("Special Names/'with/slash'"), 0);

    // A second read does not walk again.
    log_.clear();
    EXPECT_EQ(server_->AddressSpace(), space);
    EXPECT_FALSE(Logged("Server AddressSpace retrieved."));
}

TEST_F(AddressSpaceTest, AHierarchicalServerWalkedFlatListsEveryItemIDAtTheTop) {
    TNvOPCAddressSpace* space = Unfilled("Norvane.Simulation.1");
    space->SetMode(amFlat);  // runs the walk
    EXPECT_EQ(space->Mode(), amFlat);
    EXPECT_TRUE(space->HierarchicalSupported());
    ASSERT_EQ(space->Count(), kItems);
    for (int i = 0; i < space->Count(); ++i) {
        ASSERT_EQ(space->Levels(i), 0);
        ASSERT_EQ(space->NodeType(i), kNvLeafNode);
    }
    EXPECT_GE(space->IndexOfPath("Dynamic.Ramp.Int4"), 0);
    EXPECT_GE(space->IndexOfPath("Bulk.Item3000"), 0);
    // The user's choice stays on the next walk.
    space->Update();
    EXPECT_EQ(space->Mode(), amFlat);
    EXPECT_EQ(space->Count(), kItems);
}

TEST_F(AddressSpaceTest, AFlatServerGivesItsItemsInItsOrderAndRefusesHierarchy) {
    Connect("Norvane.Simulation.Flat.1");
    TNvOPCAddressSpace* space = server_->AddressSpace();
    EXPECT_EQ(space->Mode(), amFlat);
    EXPECT_FALSE(space->HierarchicalSupported());
    ASSERT_EQ(space->Count(), kItems - 2000);  // the flat class keeps the default Bulk size
    EXPECT_EQ(space->Strings(0), "Static.Int1");
    EXPECT_EQ(space->Strings(1), "Static.Arrays.Int1Array");
    EXPECT_EQ(space->Strings(space->Count() - 1), "Bulk.Item1000");
    for (int i = 0; i < space->Count(); ++i)
        ASSERT_EQ(space->Levels(i), 0);
    EXPECT_EQ(Raised([&] { space->SetMode(amHierarchial); }),
              "ENvOPCAddressSpaceError: The server does not support hierarchial address space");
    EXPECT_EQ(space->GetItemIDs(space->IndexOfPath("Dynamic.Sine.Real8")), "Dynamic.Sine.Real8");
}

TEST_F(AddressSpaceTest, BranchesOnlyStillDescendsIntoEveryBranch) {
    TNvOPCAddressSpace* space = Unfilled("Norvane.Simulation.1");
    space->SetNodeTypes(ntBranches);
    space->Update();
    EXPECT_EQ(Paths(*space),
              (std::vector<std::string>{"Static", "Static/Arrays", "ReadOnly", "ReadOnly/Arrays", "Dynamic",
                                        "Dynamic/Ramp", "Dynamic/Sine", "Dynamic/Random", "Dynamic/Square",
                                        "Dynamic/Counter", "Special Names", "Special Names/branch.with.dots",
                                        "Special Names/'branch/with ''slash'''", "Control", "Bulk"}));
    EXPECT_EQ(space->Count(), kBranches);
}

TEST_F(AddressSpaceTest, AddingHandlersSkipANodeOrTheRestOfItsSiblings) {
    TNvOPCAddressSpace* space = Unfilled("Norvane.Simulation.1");
    std::vector<std::string> browsed;
    space->OnBrowse = [&](TObject*, int, const std::string& path, const std::string& name,
                          TNvOPCAddressSpaceBrowseAction&) { browsed.push_back(path + "|" + name); };
    space->OnAdding = [](TObject*, int level, const std::string&, const std::string& name, bool isLeaf,
                         TNvOPCAddressSpaceAddingAction& action) {
        if (level == 0 && name == "Dynamic" && !isLeaf)
            action = aaSkip;
    };
    space->Update();
    EXPECT_EQ(space->IndexOfPath("Dynamic"), -1);
    EXPECT_EQ(space->Count(), kNodes - 1 - 5 - 80);
    EXPECT_GE(space->IndexOfPath("Special Names"), 0);
    EXPECT_EQ(std::count_if(browsed.begin(), browsed.end(),
                            [](const std::string& s) { return s.find("Dynamic") != std::string::npos; }),
              0);

    // Skip-branch at ReadOnly ends the top-level enumeration: only Static and its subtree remain.
    space->OnAdding = [](TObject*, int level, const std::string&, const std::string& name, bool,
                         TNvOPCAddressSpaceAddingAction& action) {
        if (level == 0 && name == "ReadOnly")
            action = aaSkipBranch;
    };
    std::vector<std::string> added;
    space->OnAdd = [&](TObject*, int level, const std::string& path, const std::string& name, bool isLeaf) {
        if (level <= 1)
            added.push_back(std::to_string(level) + ":" + path + "|" + name + (isLeaf ? " leaf" : ""));
    };
    space->Update();
    EXPECT_EQ(space->Count(), 1 + 1 + 14 + 16);
    EXPECT_EQ(space->PathOfIndex(space->Count() - 1), "Static/Mode");
    ASSERT_GE(added.size(), 3u);
    EXPECT_EQ(added[0], "0:|Static");
    EXPECT_EQ(added[1], "1:Static|Arrays");
    EXPECT_EQ(added[2], "1:Static|Int1 leaf");
}

TEST_F(AddressSpaceTest, ASkippedBranchStaysUnbrowsedForGood) {
    TNvOPCAddressSpace* space = Unfilled("Norvane.Simulation.1");
    int asked = 0;
    space->OnBrowse = [&](TObject*, int level, const std::string& path, const std::string& name,
                          TNvOPCAddressSpaceBrowseAction& action) {
        if (name == "Control") {
            EXPECT_EQ(level, 0);
            EXPECT_EQ(path, "");
            ++asked;
            action = baSkip;
        }
    };
    space->Update();
    int control = space->IndexOfPath("Control");
    ASSERT_GE(control, 0);
    EXPECT_FALSE(space->HasChildren(control));
    EXPECT_TRUE(space->SpaceNodes(control)->Browsed());
    EXPECT_EQ(space->Count(), kNodes - 9);
    space->BrowseBranch(control);
    EXPECT_EQ(asked, 1);
}

TEST_F(AddressSpaceTest, CancellingKeepsThePartialTreeAndReturnsToTheRoot) {
    server_->SetAutoUpdateAddressSpace(false);
    Connect("Norvane.Simulation.1");
    // The browser window watches the walk through the server.
    std::vector<std::string> steps;
    server_->OnBrowseAddressSpace = [&](TObject* sender, int level, const std::string& path,
                                        const std::string& name, TNvOPCAddressSpaceBrowseAction& action) {
        EXPECT_EQ(sender, server_.get());
        steps.push_back(std::to_string(level) + ":" + path + "|" + name);
        if (name == "Sine")
            action = baCancel;
    };
    TNvOPCAddressSpace* space = server_->AddressSpace();
    EXPECT_EQ(Raised([&] { space->Update(); }),
              "ENvOPCAddressSpaceBrowseCancel: Browse cancelled at Level=1, Branch=Sine");
    EXPECT_FALSE(space->Updated());
    EXPECT_EQ(space->PathStack()->Count(), 0);
    EXPECT_GE(space->IndexOfPath("Dynamic/Ramp/Int4"), 0);
    EXPECT_GE(space->IndexOfPath("Dynamic/Sine"), 0);
    EXPECT_EQ(space->IndexOfPath("Dynamic/Sine/Int4"), -1);
    EXPECT_EQ(space->IndexOfPath("Control"), -1);
    ASSERT_GE(steps.size(), 3u);
    EXPECT_EQ(steps[0], "-1:|");
    EXPECT_EQ(steps[1], "0:|Static");
    EXPECT_EQ(steps.back(), "1:Dynamic|Sine");
    std::string position;
    EXPECT_TRUE(space->PositionInTheHierarchy(position));
    EXPECT_EQ(position, "");  // the server's root
    EXPECT_FALSE(Logged("Server AddressSpace retrieved."));
}

TEST_F(AddressSpaceTest, BrowsingOnDemandFillsOneBranchWhereItStands) {
    TNvOPCAddressSpace* space = Unfilled("Norvane.Simulation.1");
    space->SetBrowseOnDemand(true);
    space->UpdateMode();
    space->BrowseBranch(-1);
    EXPECT_EQ(Paths(*space), (std::vector<std::string>{"Static", "ReadOnly", "Dynamic", "Special Names",
                                                       "Control", "Bulk"}));
    space->BrowseBranch(space->IndexOfPath("Dynamic"));
    EXPECT_EQ(space->PathStack()->ToVector(), std::vector<std::string>{"Dynamic"});
    EXPECT_EQ(space->PathOfIndex(3), "Dynamic/Ramp");
    EXPECT_EQ(space->PathOfIndex(8), "Special Names");
    space->BrowseBranch(space->IndexOfPath("Dynamic/Sine"));
    EXPECT_EQ(space->PathStack()->ToVector(), (std::vector<std::string>{"Dynamic", "Sine"}));
    EXPECT_EQ(space->PathOfIndex(5), "Dynamic/Sine/Int1");
    // Moving on goes up only as far as the two paths differ.
    space->BrowseBranch(space->IndexOfPath("Dynamic/Ramp"));
    EXPECT_EQ(space->PathStack()->ToVector(), (std::vector<std::string>{"Dynamic", "Ramp"}));
    EXPECT_EQ(space->GetItemIDs(space->IndexOfPath("Dynamic/Sine/Real8")), "Dynamic.Sine.Real8");

    // Every branch browsed on demand gives the tree a full walk gives, in the same order.
    for (int i = 0; i < space->Count(); ++i)
        space->BrowseBranch(i);
    std::vector<std::string> onDemand = Paths(*space);
    for (int i = 0; i < space->Count(); ++i)
        ASSERT_EQ(space->IndexOfPath(space->PathOfIndex(i)), i);
    space->SetBrowseOnDemand(false);
    space->Update();
    EXPECT_EQ(onDemand, Paths(*space));
}

TEST_F(AddressSpaceTest, ItemIDsAreFoundFromAnyPositionAndKept) {
    Connect("Norvane.Simulation.1");
    TNvOPCAddressSpace* space = server_->AddressSpace();
    int slash = space->IndexOfPath("Special Names/'branch/with ''slash'''/value");
    EXPECT_EQ(space->GetItemIDs(slash), "Special Names.branch/with 'slash'.value");
    EXPECT_EQ(space->SpaceNodes(slash)->ItemID(), "Special Names.branch/with 'slash'.value");
    EXPECT_EQ(space->GetItemIDs(space->IndexOfPath("Dynamic/Ramp")), "Dynamic.Ramp");
    EXPECT_EQ(space->GetItemIDs(space->IndexOfPath("Static/Arrays/Real8Array")), "Static.Arrays.Real8Array");
    EXPECT_EQ(space->GetItemIDs(space->IndexOfPath("Special Names/'it''s'")), "Special Names.it's");
    EXPECT_TRUE(Logged("IOPCBrowseServerAddressSpace.GetItemID(value): Result=$0 (OK)"));
    log_.clear();
    EXPECT_EQ(space->GetItemIDs(slash), "Special Names.branch/with 'slash'.value");
    EXPECT_TRUE(log_.empty()) << "a kept ID asks the server again";
}

TEST_F(AddressSpaceTest, ANodeTheServerDoesNotKnowIsReportedThroughTheServer) {
    Connect("Norvane.Simulation.1");
    TNvOPCAddressSpace* space = server_->AddressSpace();
    std::istringstream file(
        "PathSeparator=/,QuoteChar='\r\nStatic\r\nStatic/Bogus\r\nNowhere\r\nNowhere/x\r\n");
    space->LoadFromStream(file);
    const std::string failed =
        "ENvOPCError: OPC Error in method IOPCBrowseServerAddressSpace.GetItemID(Bogus)\r";
    EXPECT_EQ(Raised([&] { space->GetItemIDs(1); }).substr(0, failed.size()), failed);
    std::vector<std::string> reported;
    server_->OnError = [&](TObject*, ENvOPCError& e) { reported.push_back(e.Method()); };
    EXPECT_EQ(space->GetItemIDs(1), "");
    EXPECT_EQ(reported, std::vector<std::string>{"GetItemID(Bogus)"});
    EXPECT_TRUE(Logged("IOPCBrowseServerAddressSpace.GetItemID(Bogus): Result=$80070057"));
    EXPECT_EQ(Raised([&] { space->GetItemIDs(3); }),
              "ENvOPCError: BrowseToPath failed: Nowhere (Branch Nowhere)");
    // Still able to find what exists afterwards.
    EXPECT_EQ(space->GetItemIDs(0), "Static");
}

TEST_F(AddressSpaceTest, SaveAndLoadGiveTheSamePathsAsUnbrowsedBranches) {
    Connect("Norvane.Simulation.1");
    TNvOPCAddressSpace* space = server_->AddressSpace();
    std::ostringstream out;
    space->SaveToStream(out);
    const std::string text = out.str();
    EXPECT_EQ(text.substr(0, text.find("\r\n") + 2),
              "ServerName=Norvane.Simulation.1,PathSeparator=/,QuoteChar='\r\n");
    EXPECT_NE(text.find("\r\nSpecial Names/'with/slash'\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nSpecial Names/'it''s'\r\n"), std::string::npos);

    TNvOPCServer other;
    TNvOPCAddressSpace loaded(&other);
    std::istringstream in(text);
    loaded.LoadFromStream(in);
    EXPECT_TRUE(loaded.Updated());
    EXPECT_EQ(Paths(loaded), Paths(*space));
    for (int i = 0; i < loaded.Count(); ++i) {
        ASSERT_EQ(loaded.NodeType(i), kNvBranchNode);
        ASSERT_FALSE(loaded.SpaceNodes(i)->Browsed());
    }
    EXPECT_EQ(loaded.Strings(loaded.IndexOfPath("Special Names/'with/slash'")), "with/slash");
}

TEST_F(AddressSpaceTest, TheStartingPointComesFromTheFile) {
    TNvOPCAddressSpace* space = Unfilled("Norvane.Simulation.1");
    std::istringstream byItem("RootItem=Dynamic.Ramp,PathSeparator=/,QuoteChar='\r\n");
    space->LoadFromStream(byItem);
    EXPECT_EQ(space->RootItem(), "Dynamic.Ramp");
    space->Update();
    EXPECT_EQ(space->RootLevel(), 0);
    ASSERT_EQ(space->Count(), 16);
    EXPECT_EQ(space->PathOfIndex(0), "Int1");
    EXPECT_EQ(space->GetItemIDs(0), "Dynamic.Ramp.Int1");

    std::istringstream byPath("RootPath=Dynamic/Ramp,PathSeparator=/,QuoteChar='\r\n");
    space->LoadFromStream(byPath);
    EXPECT_EQ(space->RootItem(), "");
    EXPECT_EQ(space->RootPath(), "Dynamic/Ramp");
    space->Update();
    EXPECT_EQ(space->RootLevel(), 2);
    ASSERT_EQ(space->Count(), 2 + 16);
    EXPECT_EQ(space->PathOfIndex(2), "Dynamic/Ramp/Int1");
    EXPECT_EQ(space->PathStack()->Count(), 0);
    EXPECT_EQ(space->GetItemIDs(2), "Dynamic.Ramp.Int1");

    // On demand the branch at the end of the root path lists its own children.
    space->SetBrowseOnDemand(true);
    space->Clear();
    space->BrowseToRoot();
    ASSERT_EQ(space->Count(), 2);
    space->BrowseBranch(space->Count() - 1);
    EXPECT_EQ(space->PathOfIndex(2), "Dynamic/Ramp/Int1");
    EXPECT_EQ(space->Count(), 2 + 16);

    std::istringstream bad("RootItem=Nope,PathSeparator=/,QuoteChar='\r\n");
    space->LoadFromStream(bad);
    EXPECT_EQ(Raised([&] { space->Update(); }), "ENvOPCException: Cannot Browse to RootItem=Nope");
}

// The simulation can spread its Bulk items over nested branches, for large hierarchical spaces.
TEST_F(AddressSpaceTest, BulkItemsSpreadOverNestedBranches) {
    registration_.reset();
    registration_.emplace("Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\CLSID\\" +
                          GuidToRegistryString(nv::sim::CLSID_Simulation) +
                          "]\n\"BulkItems\"=dword:00000019\n\"BulkBranchSize\"=dword:00000004\n\n");
    Connect("Norvane.Simulation.1");
    TNvOPCAddressSpace* space = server_->AddressSpace();
    TNvStringList bulk;
    space->AssignToStrings(&bulk, true, space->IndexOfPath("Bulk"), TNvNodeTypes::All(), -1);
    // 25 items, at most 4 children a branch: two groups of 16 and 9 items, in 4 and 3 groups.
    ASSERT_EQ(bulk.Count(), 1 + 2 + 4 + 3 + 25);
    EXPECT_EQ(bulk.Strings(1), "Bulk/Group01");
    EXPECT_EQ(bulk.Strings(2), "Bulk/Group01/Group01");
    EXPECT_EQ(bulk.Strings(3), "Bulk/Group01/Group01/Item0001");
    EXPECT_EQ(bulk.Strings(bulk.Count() - 1), "Bulk/Group02/Group03/Item0025");
    EXPECT_EQ(space->GetItemIDs(space->IndexOfPath("Bulk/Group02/Group03/Item0025")),
              "Bulk.Group02.Group03.Item0025");
    EXPECT_EQ(space->IndexOfPath("Bulk/Group02/Group04"), -1);
}

TEST_F(AddressSpaceTest, TheServerReleasesAndResetsItsAddressSpace) {
    TNvOPCServer idle;
    TNvOPCAddressSpace* unconnected = idle.AddressSpace();
    EXPECT_EQ(unconnected->Count(), 0);
    EXPECT_EQ(Raised([&] { unconnected->Update(); }), "ENvOPCException: Server not connected.");
    EXPECT_EQ(Raised([&] { unconnected->BrowseInterface(); }),
              "EIntfCastError: Cannot cast nil to IOPCBrowseServerAddressSpace.");

    Connect("Norvane.Simulation.1");
    TNvOPCAddressSpace* space = server_->AddressSpace();
    space->SetBrowseOnDemand(true);
    space->BrowseBranch(space->IndexOfPath("Dynamic/Ramp"));
    // Browsed nodes keep nothing to browse; an unbrowsed one moves the server.
    space->SpaceNodes(space->IndexOfPath("Dynamic"))->SetBrowsed(false);
    space->BrowseBranch(space->IndexOfPath("Dynamic"));
    EXPECT_EQ(space->PathStack()->Count(), 1);
    server_->SetConnected(false);
    EXPECT_EQ(space->PathStack()->Count(), 0);
    EXPECT_TRUE(space->Updated()) << "a disconnection keeps the cached tree";
    EXPECT_EQ(space->Mode(), amHierarchial);

    server_->Clear();
    EXPECT_EQ(space->Count(), 0);
    EXPECT_FALSE(space->Updated());
    EXPECT_EQ(space->Mode(), amUnknown);

    // Another class: the cached space of the old one is not shown for the new one.
    space->SetBrowseOnDemand(false);
    server_->SetConnected(true);
    EXPECT_EQ(server_->AddressSpace()->Count(), kNodes);
    server_->SetConnected(false);
    server_->SetServerName("Norvane.Simulation.Flat.1");
    EXPECT_EQ(space->Count(), 0);
    server_->SetConnected(true);
    EXPECT_EQ(server_->AddressSpace()->Mode(), amFlat);

    SetOPCAddressSpaceFactory(nullptr);
    TNvOPCServer bare;
    EXPECT_EQ(Raised([&] { bare.AddressSpace(); }),
              "ENvOPCException: No address space implementation is installed");
}

}  // namespace
