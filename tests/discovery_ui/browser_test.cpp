// The address space browser window, driven through its controls against the simulation
// servers: on-demand browsing, flat servers, typed item IDs, a cancelled walk, reopening, files.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "discovery/NvOPCAddressSpace.h"
#include "discovery/ui/NvOPCAddressSpaceBrowser.h"
#include "foundation/NvSysUtils.h"
#include "foundation/ui/NvUIUtils.h"
#include "gui/NvGuiTestSupport.h"
#include "opc/NvOPCServer.h"
#include "windows/NvTempConfig.h"

namespace nv {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

constexpr char kHierarchical[] = "Norvane.Simulation.1";
constexpr char kFlat[] = "Norvane.Simulation.Flat.1";

Names Children(QTreeWidgetItem* item) {
    Names names;
    for (int i = 0; i < item->childCount(); ++i)
        names.push_back(item->child(i)->text(0).toStdString());
    return names;
}

QTreeWidgetItem* Child(QTreeWidgetItem* item, const char* name) {
    for (int i = 0; i < item->childCount(); ++i)
        if (item->child(i)->text(0) == name)
            return item->child(i);
    ADD_FAILURE() << "no branch " << name << " under " << item->text(0).toStdString();
    return nullptr;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class BrowserTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        InstallOPCAddressSpace();
        saved_ = FormatSettings();
        TFormatSettings settings = saved_;
        settings.ListSeparator = ",";
        SetFormatSettings(settings);
        dir_ = guitest::TestFolder("nv-browser");
        server_ = std::make_unique<TNvOPCServer>();
        server_->SetServerName(kHierarchical);
        browser_ = std::make_unique<TNvOPCAddressSpaceBrowser>();
    }
    void TearDown() override {
        browser_.reset();
        server_.reset();
        SetFormatSettings(saved_);
        fs::remove_all(dir_);
        guitest::GuiTest::TearDown();
        CoUninitialize();
    }

    // Opens the window as the main window does (the test keeps running) and waits for the walk.
    void Open() {
        browser_->show();
        ASSERT_TRUE(guitest::PumpUntil(
            [&] { return server_->Connected() || browser_->windowTitle().contains("No connection"); }));
        guitest::Pump();
        guitest::Pump();
        EXPECT_FALSE(browser_->GetIsBrowsing());
    }
    template <class T>
    T* Named(const char* name) {
        return guitest::Named<T>(browser_.get(), name);
    }
    QTreeWidget* Tree() { return Named<QTreeWidget>("BranchTree"); }
    QTreeWidgetItem* Top() { return Tree()->topLevelItem(0); }
    Names ListRows() {
        Names rows;
        auto* list = Named<QListWidget>("ItemList");
        for (int i = 0; i < list->count(); ++i)
            rows.push_back(list->item(i)->text().toStdString());
        return rows;
    }
    void Select(QTreeWidgetItem* item) { Tree()->setCurrentItem(item); }
    bool OkEnabled() { return Named<QPushButton>("OKButton")->isEnabled(); }
    std::string Status() { return browser_->GetStatus(); }

    test::TempConfig config_;
    TFormatSettings saved_;
    fs::path dir_;
    std::unique_ptr<TNvOPCServer> server_;
    std::unique_ptr<TNvOPCAddressSpaceBrowser> browser_;
};

TEST_F(BrowserTest, AHierarchicalServerIsWalkedOneBranchAtATime) {
    browser_->SetServer(server_.get());
    Open();
    EXPECT_TRUE(browser_->ConnectedByBrowser());
    EXPECT_EQ(browser_->windowTitle().toStdString(),
              std::string("OPC Server Address Space: \\\\localhost\\") + kHierarchical);
    ASSERT_NE(Top(), nullptr);
    EXPECT_EQ(Top()->text(0).toStdString(), kHierarchical);
    EXPECT_TRUE(Top()->isExpanded());
    EXPECT_EQ(Children(Top()), (Names{"Static", "ReadOnly", "Dynamic", "Special Names", "Control", "Bulk"}));
    // Only the first level has been fetched; every branch shows that it can be opened.
    TNvOPCAddressSpace* space = server_->AddressSpace();
    EXPECT_EQ(space->Count(), 6);
    for (int i = 0; i < Top()->childCount(); ++i)
        EXPECT_EQ(Top()->child(i)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_FALSE(Named<QWidget>("BranchesPanel")->isHidden());
    EXPECT_TRUE(Named<QGroupBox>("ModeGroup")->isEnabled());
    EXPECT_TRUE(Named<QRadioButton>("HierarchialButton")->isChecked());
    EXPECT_EQ(Status(), "Ready.");

    // A branch without sub-branches loses its mark when opened; its leaves are listed.
    QTreeWidgetItem* control = Child(Top(), "Control");
    control->setExpanded(true);
    EXPECT_EQ(control->childCount(), 0);
    EXPECT_EQ(control->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
    Select(control);
    const Names controls = ListRows();
    ASSERT_FALSE(controls.empty());
    EXPECT_EQ(controls.front(), "ServerState");
    // Selecting a branch fetches it too: its sub-branches appear, expandable themselves.
    QTreeWidgetItem* statics = Child(Top(), "Static");
    Select(statics);
    EXPECT_EQ(Children(statics), (Names{"Arrays"}));
    EXPECT_EQ(statics->child(0)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    const Names leaves = ListRows();
    EXPECT_NE(std::find(leaves.begin(), leaves.end(), "Percent"), leaves.end());
    // A branch that has only sub-branches lists nothing.
    Select(Child(Top(), "Dynamic"));
    EXPECT_TRUE(ListRows().empty());
    // Hiding the window disconnects the server it connected itself.
    browser_->hide();
    EXPECT_FALSE(server_->Connected());
}

TEST_F(BrowserTest, SelectedRowsBecomeTheItemIDsAndReplaceWhatWasTyped) {
    server_->Connect();
    browser_->SetServer(server_.get());
    Open();
    EXPECT_FALSE(browser_->ConnectedByBrowser());
    Named<QLineEdit>("ItemIDEdit")->setText("typed");
    Select(Child(Top(), "Special Names"));
    auto* list = Named<QListWidget>("ItemList");
    ASSERT_GE(list->count(), 2);
    list->item(0)->setSelected(true);
    list->item(1)->setSelected(true);
    const std::string first = browser_->GetListItems(0)->ItemID();
    EXPECT_EQ(first, "Special Names.with space");
    EXPECT_EQ(Named<QLineEdit>("ItemIDEdit")->text().toStdString(),
              "\"Special Names.with space\",\"Special Names.with/slash\"");
    EXPECT_EQ(browser_->GetSelectedItems()->ToVector(),
              (Names{"Special Names.with space", "Special Names.with/slash"}));
    EXPECT_EQ(Status(), "2 Item(s)");
    EXPECT_TRUE(OkEnabled());
    // Ctrl+A selects every row.
    list->setFocus();
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(browser_->GetSelectedItems()->Count(), list->count());
    // The caller gets what the edit shows, also after a list refill.
    Select(Child(Top(), "Control"));
    EXPECT_EQ(browser_->GetSelectedItems()->Count(),
              list->count() == 0 ? 0 : browser_->GetSelectedItems()->Count());
    EXPECT_EQ(browser_->GetSelectedItems()->DelimitedText(),
              Named<QLineEdit>("ItemIDEdit")->text().toStdString());
}

TEST_F(BrowserTest, TypedItemIDsAreSplitAtTheListSeparator) {
    browser_->SetServer(server_.get());
    Open();
    auto* edit = Named<QLineEdit>("ItemIDEdit");
    EXPECT_FALSE(OkEnabled());
    QTest::keyClicks(edit, "Static.Int,Static.Real8");
    EXPECT_EQ(Status(), "2 Item(s)");
    EXPECT_TRUE(OkEnabled());
    EXPECT_EQ(browser_->GetSelectedItems()->ToVector(), (Names{"Static.Int", "Static.Real8"}));
    edit->setText("\"\"");
    EXPECT_EQ(Status(), "1 Item(s)");
    EXPECT_FALSE(OkEnabled());
    edit->clear();
    EXPECT_EQ(Status(), "0 Item(s)");
    EXPECT_FALSE(OkEnabled());
    // Another regional list separator.
    TFormatSettings semicolon = saved_;
    semicolon.ListSeparator = ";";
    SetFormatSettings(semicolon);
    TNvOPCAddressSpaceBrowser other;
    other.findChild<QLineEdit*>("ItemIDEdit")->setText("a;\"b c\"");
    EXPECT_EQ(other.GetSelectedItems()->ToVector(), (Names{"a", "b c"}));
    EXPECT_EQ(other.GetStatus(), "2 Item(s)");
}

TEST_F(BrowserTest, AFlatServerHidesTheBranchesAndListsEveryItem) {
    server_->SetServerName(kFlat);
    browser_->SetServer(server_.get());
    Open();
    EXPECT_TRUE(Named<QWidget>("BranchesPanel")->isHidden());
    EXPECT_FALSE(Named<QGroupBox>("ModeGroup")->isEnabled());
    EXPECT_FALSE(Named<QRadioButton>("HierarchialButton")->isEnabled());
    EXPECT_TRUE(Named<QRadioButton>("FlatButton")->isChecked());
    TNvOPCAddressSpace* space = server_->AddressSpace();
    ASSERT_GT(space->Count(), 0);
    EXPECT_EQ(static_cast<int>(ListRows().size()), space->Count());
    EXPECT_EQ(ListRows().front(), space->Strings(0));
}

TEST_F(BrowserTest, CancelDuringAWalkStopsItWithTheCancelledWalksError) {
    server_->Connect();
    browser_->SetServer(server_.get());
    Open();
    // The click arrives while the walk lets the window work between branches.
    QTimer::singleShot(0, browser_.get(), [this] {
        EXPECT_TRUE(browser_->GetIsBrowsing());
        EXPECT_FALSE(Named<QPushButton>("RefreshButton")->isEnabled());
        EXPECT_TRUE(IsBusyCursor());
        Named<QPushButton>("CancelButton")->click();
    });
    std::string error;
    guitest::OnNextModal([&](QWidget* box) {
        error = guitest::ModalText(box);
        guitest::ClickButton(box, "OK");
    });
    Named<QPushButton>("RefreshButton")->click();
    EXPECT_EQ(error, "Browse cancelled at Level=-1, Branch=");
    EXPECT_TRUE(browser_->CancelRequested());
    EXPECT_FALSE(browser_->isVisible());
    EXPECT_EQ(Status(), "Ready.");
    EXPECT_FALSE(IsBusyCursor());
    EXPECT_TRUE(Named<QPushButton>("RefreshButton")->isEnabled());
    EXPECT_FALSE(server_->AddressSpace()->Updated());
}

TEST_F(BrowserTest, CancelOfAWindowThatConnectedTheServerDisconnectsOnlyAfterTheWalk) {
    browser_->SetServer(server_.get());
    Open();
    ASSERT_TRUE(browser_->ConnectedByBrowser());
    bool connectedDuringWalk = false;
    QTimer::singleShot(0, browser_.get(), [&] {
        Named<QPushButton>("CancelButton")->click();
        // Hidden now, but the walk still runs on this connection.
        connectedDuringWalk = server_->Connected();
    });
    guitest::OnNextModal([](QWidget* box) { guitest::ClickButton(box, "OK"); });
    Named<QPushButton>("RefreshButton")->click();
    EXPECT_TRUE(connectedDuringWalk);
    EXPECT_FALSE(server_->Connected());
}

TEST_F(BrowserTest, ReopeningKeepsTheFetchedTreeUntilRefresh) {
    server_->Connect();
    browser_->SetServer(server_.get());
    Open();
    QTreeWidgetItem* statics = Child(Top(), "Static");
    statics->setExpanded(true);
    ASSERT_EQ(Children(statics), (Names{"Arrays"}));
    const int fetched = server_->AddressSpace()->Count();
    browser_->hide();
    Open();
    // The same tree, with what was fetched below the first level; no new walk.
    EXPECT_EQ(server_->AddressSpace()->Count(), fetched);
    ASSERT_NE(Top(), nullptr);
    EXPECT_EQ(Children(Child(Top(), "Static")), (Names{"Arrays"}));
    // Refresh walks again: only the first level is there afterwards.
    Named<QPushButton>("RefreshButton")->click();
    EXPECT_EQ(server_->AddressSpace()->Count(), 6);
    EXPECT_TRUE(Children(Child(Top(), "Static")).empty());
}

TEST_F(BrowserTest, ALoadedFileShowsEveryNodeAsABranch) {
    const fs::path file = dir_ / "plant.oas";
    std::ofstream(file, std::ios::binary) << "ServerName=Norvane.Simulation.1,PathSeparator=/,QuoteChar='\r\n"
                                          << "Line1\r\nLine1/Temp\r\nLine1/'a/b'\r\nLine2\r\n";
    server_->Connect();
    browser_->SetServer(server_.get());
    Open();
    guitest::OnNextModal([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->nameFilters(), (QStringList{"OPC Address Spaces (*.oas)", "AllFiles (*)"}));
        EXPECT_EQ(dialog->defaultSuffix(), "oas");
        dialog->selectFile(QString::fromStdString(file.string()));
        static_cast<QDialog*>(dialog)->accept();
    });
    Named<QPushButton>("LoadButton")->click();
    EXPECT_EQ(Status(), "Ready.");
    EXPECT_FALSE(server_->AutoUpdateAddressSpace());
    ASSERT_NE(Top(), nullptr);
    EXPECT_EQ(Children(Top()), (Names{"Line1", "Line2"}));
    QTreeWidgetItem* line1 = Child(Top(), "Line1");
    EXPECT_EQ(line1->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    // Opening a loaded branch asks this server for it, which does not know it: the branch keeps
    // what the file gave it, once.
    line1->setExpanded(true);
    EXPECT_EQ(Children(line1), (Names{"Temp", "a/b"}));
    EXPECT_EQ(Child(line1, "Temp")->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    Select(line1);
    EXPECT_TRUE(ListRows().empty());
    EXPECT_TRUE(Named<QPushButton>("SaveButton")->isEnabled());
}

TEST_F(BrowserTest, SaveWritesTheExportFile) {
    server_->Connect();
    browser_->SetServer(server_.get());
    Open();
    const fs::path file = dir_ / "saved";
    guitest::OnNextModal([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
        dialog->selectFile(QString::fromStdString(file.string()));
        static_cast<QDialog*>(dialog)->accept();
    });
    Named<QPushButton>("SaveButton")->click();
    const std::string saved = ReadFile(dir_ / "saved.oas");
    EXPECT_EQ(saved.rfind("ServerName=Norvane.Simulation.1,PathSeparator=/,QuoteChar='\r\nStatic\r\n", 0), 0u)
        << saved.substr(0, 120);
}

TEST_F(BrowserTest, LoadWithoutAServerDoesNothing) {
    // No file dialog: the fixture would fail the test for one.
    Named<QPushButton>("LoadButton")->click();
    EXPECT_EQ(Tree()->topLevelItemCount(), 0);
    EXPECT_FALSE(Named<QPushButton>("SaveButton")->isEnabled());
}

TEST_F(BrowserTest, AServerThatCannotConnectOnlyMarksTheCaption) {
    // A host that is not there answers like an unreachable machine.
    server_->SetHost("nohost9");
    browser_->SetServer(server_.get());
    Open();
    EXPECT_EQ(browser_->windowTitle().toStdString(),
              std::string("OPC Server Address Space: \\\\nohost9\\") + kHierarchical + " - No connection!");
    EXPECT_EQ(Tree()->topLevelItemCount(), 0);
    EXPECT_FALSE(browser_->ConnectedByBrowser());
}

TEST_F(BrowserTest, SortingTheListAndTheBranches) {
    server_->Connect();
    browser_->SetServer(server_.get());
    Open();
    Select(Child(Top(), "Control"));
    const Names original = ListRows();
    Names sorted = original;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_NE(original, sorted);
    auto* listSorted = browser_->findChild<QAction*>("ItemsSortedAction");
    listSorted->trigger();
    EXPECT_TRUE(listSorted->isChecked());
    EXPECT_EQ(ListRows(), sorted);
    listSorted->trigger();
    EXPECT_EQ(ListRows(), original);

    auto* treeSorted = browser_->findChild<QAction*>("BranchesSortedAction");
    treeSorted->trigger();
    EXPECT_EQ(Children(Top()), (Names{"Bulk", "Control", "Dynamic", "ReadOnly", "Special Names", "Static"}));
    treeSorted->trigger();
    EXPECT_FALSE(treeSorted->isChecked());
    EXPECT_EQ(Children(Top()), (Names{"Static", "ReadOnly", "Dynamic", "Special Names", "Control", "Bulk"}));
}

TEST_F(BrowserTest, TheWindowLetsGoOfADestroyedServer) {
    server_->Connect();
    browser_->SetServer(server_.get());
    Open();
    server_.reset();
    EXPECT_EQ(browser_->Server(), nullptr);
    EXPECT_EQ(Tree()->topLevelItemCount(), 0);
    Named<QPushButton>("RefreshButton")->click();
}

TEST_F(BrowserTest, CaptionsHintsAndSize) {
    EXPECT_EQ(browser_->windowTitle(), "OPC Server Address Space");
    EXPECT_EQ(Named<QLabel>("ItemIDLabel")->text(), "&Item ID(s):");
    EXPECT_EQ(
        Named<QLineEdit>("ItemIDEdit")->toolTip(),
        "Use ',' to separate several ItemIDs from each other and cover the items with \" \", if they contain "
        "spaces.");
    EXPECT_EQ(Named<QLabel>("BranchesLabel")->text(), "&Branches");
    EXPECT_EQ(Named<QLabel>("ItemsLabel")->text(), "&Items");
    for (auto [name, text] : {std::pair{"LoadButton", "&Load..."},
                              {"SaveButton", "&Save..."},
                              {"RefreshButton", "&Refresh"},
                              {"OKButton", "OK"},
                              {"CancelButton", "Cancel"}})
        EXPECT_EQ(Named<QPushButton>(name)->text(), text) << name;
    EXPECT_EQ(Named<QGroupBox>("ModeGroup")->title(), "Mode");
    EXPECT_EQ(Named<QRadioButton>("FlatButton")->text(), "&Flat");
    EXPECT_EQ(Named<QRadioButton>("HierarchialButton")->text(), "&Hierarchial");
    EXPECT_TRUE(Named<QPushButton>("OKButton")->isDefault());
    EXPECT_EQ(browser_->findChild<QAction*>("SelectAllAction")->text(), "Select &All");
    EXPECT_EQ(browser_->findChild<QAction*>("SelectAllAction")->shortcut(),
              QKeySequence(Qt::CTRL | Qt::Key_A));
    EXPECT_EQ(browser_->findChild<QAction*>("ItemsSortedAction")->text(), "&Sorted");
    EXPECT_TRUE(Named<QCheckBox>("RecurseCheckBox")->isHidden());
    EXPECT_EQ(Named<QCheckBox>("RecurseCheckBox")->toolTip(), "Rcurse items from the complete subtree");
    EXPECT_FALSE(browser_->windowIcon().isNull());
    browser_->SetNodeTypes(ntBranches);
    EXPECT_TRUE(Named<QWidget>("ItemsPanel")->isHidden());
}

}  // namespace
}  // namespace nv
