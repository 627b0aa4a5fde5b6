// The main window against the simulation servers, driven by its controls' names as a user drives
// it: servers and connection, the control rule and the title, the questions before a
// configuration is discarded, groups, items and their commands, export, printing, and a
// configuration made through the window saved and loaded again.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/ItemGrid.h"
#include "app/MainWindow.h"
#include "app/NvOPCLogForm.h"
#include "app/PromptDataTypeDlg.h"
#include "app/SelectItemsDlg.h"
#include "discovery/NvOPCAddressSpace.h"
#include "discovery/NvOPCServerList.h"
#include "discovery/ui/NvOPCAddressSpaceBrowser.h"
#include "foundation/NvConvert.h"
#include "foundation/NvSysUtils.h"
#include "gui/NvGuiTestSupport.h"
#include "opc/NvOPCError.h"
#include "opc/NvOPCGroup.h"
#include "opc/NvOPCItem.h"
#include "platform/win32.h"

namespace nv {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDA2 = "Norvane.Simulation.1";
constexpr const char* kNotSaved = "Configuration not saved. Do you want to save it?";
constexpr const char* kChangeServer =
    "You are about to change to another server. This requires removal of all groups and items. Would you like to "
    "save the project first?";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class MainWindowTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        InstallOPCServerListLookup();
        InstallOPCAddressSpace();
        dir_ = guitest::TestFolder("nv-mainwindow");
        TForm1::SetSettingsFile((dir_ / "window.ini").string());
        saved_ = FormatSettings();
        TFormatSettings settings = saved_;
        settings.DecimalSeparator = ".";
        settings.ListSeparator = ",";
        SetFormatSettings(settings);
        form_ = std::make_unique<TForm1>();
        form_->show();
        guitest::Pump();
    }
    void TearDown() override {
        if (form_) {
            if (form_->GetServer()->Connected())
                form_->GetServer()->Disconnect();
            form_->Configuration()->SetModified(false);
            form_.reset();
        }
        SetFormatSettings(saved_);
        TForm1::SetSettingsFile("");
        fs::remove_all(dir_);
        guitest::GuiTest::TearDown();
        CoUninitialize();
    }
    template <class T>
    T* Named(const char* name) {
        return guitest::Named<T>(form_.get(), name);
    }
    QAction* Action(const char* name) { return Named<QAction>(name); }
    QLineEdit* ServerEdit() { return Named<QLineEdit>("ServerEdit"); }
    QToolButton* ConnectButton() { return Named<QToolButton>("ConnectServerButton"); }
    QListWidget* Servers() { return Named<QListWidget>("ServerList"); }
    QListWidget* Groups() { return Named<QListWidget>("GroupList"); }
    TItemGrid* Grid() { return form_->ItemGrid(); }
    TNvOPCServer* Server() { return form_->GetServer(); }
    TNvOPCGroup* Current() { return form_->CurrentGroup(); }

    void Click(QAbstractButton* button) {
        ASSERT_TRUE(button->isEnabled()) << button->objectName().toStdString() << " is disabled";
        QTest::mouseClick(button, Qt::LeftButton);
        guitest::Pump();
    }
    void ConnectTo(const QString& text) {
        ServerEdit()->setText(text);
        Click(ConnectButton());
        ASSERT_TRUE(Server()->Connected()) << guitest::TakeUnexpectedModals().size();
    }
    void AddGroup(const QString& name = "Group") {
        Named<QLineEdit>("GroupNameEdit")->setText(name);
        Click(Named<QPushButton>("AddGroupButton"));
    }
    void QuickAdd(const QString& text) {
        auto* edit = Named<QLineEdit>("ItemIDEdit");
        edit->setFocus();
        edit->setText(text);
        QTest::keyClick(edit, Qt::Key_Return);
        guitest::Pump();
    }
    QStringList Lines(QListWidget* list) {
        QStringList out;
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text();
        return out;
    }
    void SelectServer(const char* progID) {
        auto found = Servers()->findItems(progID, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << progID;
        Servers()->setCurrentItem(found[0]);
        QTest::mouseClick(Servers()->viewport(), Qt::LeftButton, {}, Servers()->visualItemRect(found[0]).center());
        guitest::Pump();
    }
    // Answers the next modal box with the button and records its text.
    void Answer(const QString& button, std::string* text = nullptr) {
        guitest::OnNextModal([button, text](QWidget* box) {
            if (text)
                *text = guitest::ModalText(box);
            guitest::ClickButton(box, button);
        });
    }
    // Chooses the file in the next file dialog; an empty path cancels it.
    void ChooseFile(const fs::path& path, std::vector<std::string>* filters = nullptr) {
        guitest::OnNextModal([path, filters](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            ASSERT_NE(dialog, nullptr) << guitest::ModalText(w);
            if (filters)
                for (const QString& f : dialog->nameFilters())
                    filters->push_back(f.toStdString());
            if (path.empty()) {
                dialog->reject();
                return;
            }
            dialog->setOption(QFileDialog::DontConfirmOverwrite);
            dialog->selectFile(QString::fromStdString(path.string()));
            static_cast<QDialog*>(dialog)->accept();
        });
    }
    // A modified configuration with one group of two items, saved under `file` when given.
    void MakeModifiedConfiguration() {
        ConnectTo(kDA2);
        AddGroup();
        QuickAdd("Static.Int4");
        QuickAdd("Static.String");
        ASSERT_TRUE(form_->Configuration()->Modified());
    }

    fs::path dir_;
    TFormatSettings saved_;
    std::unique_ptr<TForm1> form_;
};

// ---- start-up, servers and connection

TEST_F(MainWindowTest, FirstShowListsTheLocalServersAndAnEntryFillsTheFields) {
    EXPECT_EQ(form_->windowTitle(), "Norvane OPC Client");
    EXPECT_TRUE(Lines(Servers()).contains(kDA2)) << Lines(Servers()).join(",").toStdString();
    EXPECT_EQ(Named<QComboBox>("HostEdit")->itemText(0), "localhost");
    auto* category = Named<QComboBox>("ServerCategorySelector");
    ASSERT_EQ(category->count(), 3);
    EXPECT_EQ(category->itemText(0), "Automatic");
    EXPECT_EQ(category->itemText(1), "OPC Data Access 1.0");
    EXPECT_EQ(category->itemText(2), "OPC Data Access 2.0");
    EXPECT_EQ(Named<QLabel>("ItemCountLabel")->text(), "0 Items");
    EXPECT_FALSE(Named<QGroupBox>("GroupPanel")->isVisible());
    EXPECT_FALSE(Named<QGroupBox>("ItemsPanel")->isVisible());

    SelectServer(kDA2);
    auto* name = Named<QLineEdit>("ServerNamePanel");
    auto* clsid = Named<QLineEdit>("CLSIDPanel");
    EXPECT_EQ(name->text(), "Norvane OPC DA 2.0 Simulation Server");
    EXPECT_EQ(name->toolTip(), name->text());
    EXPECT_EQ(clsid->text().toStdString(), GuidToRegistryString(Server()->ClassID()));
    EXPECT_EQ(clsid->toolTip(), clsid->text());
    EXPECT_EQ(ServerEdit()->text(), kDA2);
    EXPECT_EQ(form_->windowTitle(), "Norvane OPC Client - Norvane.Simulation.1");

    // Typing, Insert and Delete change nothing in the Name and CLSID fields; copying works.
    for (QLineEdit* field : {name, clsid}) {
        const QString before = field->text();
        field->setFocus();
        QTest::keyClicks(field, "xyz");
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClick(field, Qt::Key_Insert, Qt::ShiftModifier);
        QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
        EXPECT_EQ(field->text(), before);
        field->selectAll();
        EXPECT_EQ(field->selectedText(), before);
    }
}

TEST_F(MainWindowTest, RefreshWithBothCategoriesClearListsNoServersAndAnotherHostDropsTheGroups) {
    Named<QCheckBox>("DA1CheckBox")->setChecked(false);
    Named<QCheckBox>("DA2CheckBox")->setChecked(false);
    Click(Named<QPushButton>("RefreshButton"));
    EXPECT_EQ(Servers()->count(), 0);

    Named<QCheckBox>("DA1CheckBox")->setChecked(true);
    Click(Named<QPushButton>("RefreshButton"));
    EXPECT_TRUE(Lines(Servers()).contains("Norvane.Simulation.DA1.1"));

    ServerEdit()->setText(kDA2);
    AddGroup();
    ASSERT_EQ(Server()->GroupCount(), 1);
    // The same host keeps the groups; another one drops them without a question.
    Click(Named<QPushButton>("RefreshButton"));
    EXPECT_EQ(Server()->GroupCount(), 1);
    auto* host = Named<QComboBox>("HostEdit");
    host->setEditText("127.0.0.1");
    QTest::keyClick(host->lineEdit(), Qt::Key_Return);
    guitest::Pump();
    EXPECT_EQ(Server()->Host(), "127.0.0.1");
    EXPECT_EQ(Server()->GroupCount(), 0);
    EXPECT_EQ(Current(), nullptr);
    EXPECT_FALSE(Named<QGroupBox>("GroupPanel")->isVisible());
}

TEST_F(MainWindowTest, ConnectsByTypedProgIDAndCLSIDAndOnlyTheConnectionControlsFollowIt) {
    auto expectConnection = [&](bool connected) {
        EXPECT_EQ(Named<QGroupBox>("ServerSelectPanel")->isEnabled(), !connected);
        EXPECT_EQ(ServerEdit()->isEnabled(), !connected);
        EXPECT_EQ(Named<QComboBox>("ServerCategorySelector")->isEnabled(), !connected);
        EXPECT_EQ(ConnectButton()->isChecked(), connected);
    };
    ConnectTo(kDA2);
    expectConnection(true);
    auto status = Named<QPlainTextEdit>("StatusList")->toPlainText().split('\n');
    ASSERT_EQ(status.size(), 8) << status.join("|").toStdString();
    EXPECT_EQ(status[0], "ServerState=Running");
    EXPECT_TRUE(status[1].startsWith("StartTime="));
    EXPECT_TRUE(status[4].startsWith("GroupCount="));
    EXPECT_TRUE(status[6].startsWith("Vendor=Norvane"));
    EXPECT_TRUE(status[7].startsWith("Version=")) << status[7].toStdString();
    EXPECT_EQ(Named<QComboBox>("ServerCategorySelector")->currentIndex(), static_cast<int>(Server()->Category()));
    EXPECT_NE(Server()->Category(), opcscAutomatic);
    Click(ConnectButton());
    expectConnection(false);
    EXPECT_EQ(Named<QPlainTextEdit>("StatusList")->toPlainText().split('\n').value(0), "ServerState=No connection!");

    // By CLSID: the text in registry form is taken as the class.
    CLSID clsid{};
    ASSERT_TRUE(SUCCEEDED(CLSIDFromProgID(OLESTR("Norvane.Simulation.1"), &clsid)));
    Server()->SetServerName("");
    ConnectTo(QString::fromStdString(GuidToRegistryString(clsid)));
    EXPECT_TRUE(IsEqualGUID(Server()->ClassID(), clsid));
    EXPECT_EQ(Server()->ServerName(), kDA2);
    Click(ConnectButton());

    // A list entry edited afterwards: Connect uses the text.
    SelectServer("Norvane.Simulation.Flat.1");
    ConnectTo(kDA2);
    EXPECT_EQ(Server()->ServerName(), kDA2);
}

TEST_F(MainWindowTest, ConnectIsDisabledForAnEmptyTextAndTheNullCLSID) {
    ServerEdit()->setText("");
    EXPECT_FALSE(ConnectButton()->isEnabled());
    ServerEdit()->setText("{00000000-0000-0000-0000-000000000000}");
    EXPECT_FALSE(ConnectButton()->isEnabled());
    ServerEdit()->setText("{00000000-0000-0000-0000-000000000001}");
    EXPECT_TRUE(ConnectButton()->isEnabled());
    // An unknown name fails with the error box and leaves the window disconnected.
    ServerEdit()->setText("No.Such.Server");
    std::string error;
    Answer("OK", &error);
    QTest::mouseClick(ConnectButton(), Qt::LeftButton);
    guitest::Pump();
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(Server()->Connected());
    EXPECT_FALSE(ConnectButton()->isChecked());
    EXPECT_TRUE(ServerEdit()->isEnabled());
}

TEST_F(MainWindowTest, AShutdownFromTheServerIsAnnouncedAndEnablesTheSelectionAgain) {
    ConnectTo(kDA2);
    AddGroup();
    QuickAdd("Control.ShutdownRequest");
    ASSERT_EQ(Current()->ItemCount(), 1);
    std::string message;
    Answer("OK", &message);
    VARIANT reason;
    VariantInit(&reason);
    reason.vt = VT_BSTR;
    reason.bstrVal = SysAllocString(OLESTR("maintenance"));
    Current()->WriteItem(Current()->Items(0), reason, false, false);
    VariantClear(&reason);
    EXPECT_TRUE(guitest::PumpUntil([&] { return !Server()->Connected() && !message.empty(); }));
    EXPECT_EQ(message, "Shutdown from Norvane.Simulation.1.  Reason=maintenance");
    guitest::Pump();
    EXPECT_TRUE(Named<QGroupBox>("ServerSelectPanel")->isEnabled());
    EXPECT_TRUE(ServerEdit()->isEnabled());
    EXPECT_FALSE(ConnectButton()->isChecked());
    EXPECT_EQ(Grid()->Model()->CellText(0, 0), "N/A");
}

TEST_F(MainWindowTest, TheTitleFollowsFileNameElseServerNameElseTheBareTitle) {
    EXPECT_EQ(form_->windowTitle(), "Norvane OPC Client");
    ServerEdit()->setText(kDA2);
    Click(ConnectButton());
    EXPECT_EQ(form_->windowTitle(), "Norvane OPC Client - Norvane.Simulation.1");
    Click(ConnectButton());
    ChooseFile(dir_ / "plant.noc");
    Action("SaveAs1")->trigger();
    guitest::Pump();
    EXPECT_EQ(form_->windowTitle(), "Norvane OPC Client - plant.noc");
    EXPECT_FALSE(Action("Save1")->isEnabled());
    Action("New1")->trigger();
    guitest::Pump();
    EXPECT_EQ(form_->windowTitle(), "Norvane OPC Client");
    EXPECT_EQ(ServerEdit()->text(), kDA2) << "New keeps the Server field";
}

// ---- the questions before a configuration is discarded

TEST_F(MainWindowTest, ChangingTheServerAsksFirstAndCancelChangesNothing) {
    MakeModifiedConfiguration();
    Click(ConnectButton());
    std::string text;
    Answer("Cancel", &text);
    SelectServer("Norvane.Simulation.Flat.1");
    EXPECT_EQ(text, kChangeServer);
    EXPECT_EQ(Server()->GroupCount(), 1);
    EXPECT_EQ(ServerEdit()->text(), kDA2);

    // Yes saves (under a chosen name) and goes on; the groups go.
    Answer("Yes");
    ChooseFile(dir_ / "before.noc");
    SelectServer("Norvane.Simulation.Flat.1");
    EXPECT_TRUE(fs::exists(dir_ / "before.noc"));
    EXPECT_EQ(Server()->GroupCount(), 0);
    EXPECT_EQ(ServerEdit()->text(), "Norvane.Simulation.Flat.1");

    // Without groups nothing is asked; No goes on without saving.
    SelectServer(kDA2);
    AddGroup();
    form_->Configuration()->SetModified(true);
    Answer("No");
    SelectServer("Norvane.Simulation.Flat.1");
    EXPECT_EQ(Server()->GroupCount(), 0);
}

TEST_F(MainWindowTest, NewOpenAndCloseAskBeforeDiscardingAndCancelKeepsEverything) {
    MakeModifiedConfiguration();
    // Cancel: nothing changes, and the window stays open.
    std::string text;
    Answer("Cancel", &text);
    Action("New1")->trigger();
    guitest::Pump();
    EXPECT_EQ(text, kNotSaved);
    EXPECT_EQ(Server()->GroupCount(), 1);
    Answer("Cancel");
    Action("Open1")->trigger();
    guitest::Pump();
    EXPECT_EQ(Server()->GroupCount(), 1);
    Answer("Cancel");
    EXPECT_FALSE(form_->close());
    EXPECT_TRUE(form_->isVisible());

    // Yes: saves (asking for a name), then goes on.
    Answer("Yes");
    ChooseFile(dir_ / "first.noc");
    Action("New1")->trigger();
    guitest::Pump();
    EXPECT_TRUE(fs::exists(dir_ / "first.noc"));
    EXPECT_EQ(Server()->GroupCount(), 0);
    EXPECT_EQ(form_->Configuration()->FileName(), "");

    // Open after a No: the file's groups come, disconnected; the cancelled dialog changes nothing.
    AddGroup("Unsaved");
    form_->Configuration()->SetModified(true);
    Answer("No");
    ChooseFile({});
    Action("Open1")->trigger();
    guitest::Pump();
    EXPECT_EQ(Lines(Groups()), QStringList{"Unsaved"});
    Answer("No");
    ChooseFile(dir_ / "first.noc");
    Action("Open1")->trigger();
    guitest::Pump();
    EXPECT_EQ(Lines(Groups()), QStringList{"Group"});
    EXPECT_FALSE(Server()->Connected());
    EXPECT_EQ(Current()->ItemCount(), 2);
    EXPECT_EQ(ServerEdit()->text(), kDA2);
    EXPECT_FALSE(form_->Configuration()->Modified()) << "opening a file is not a change";
    EXPECT_EQ(form_->windowTitle(), "Norvane OPC Client - first.noc");

    // Close: No lets the window close.
    form_->Configuration()->SetModified(true);
    Answer("No");
    EXPECT_TRUE(form_->close());
}

TEST_F(MainWindowTest, AFailedSaveIsReportedAndKeepsTheWindowOpen) {
    MakeModifiedConfiguration();
    form_->Configuration()->SetFileName((dir_ / "missing-folder" / "x.noc").string());
    Answer("Yes");
    std::string error;
    Answer("OK", &error);
    EXPECT_FALSE(form_->close());
    EXPECT_NE(error.find("Cannot save the configuration file"), std::string::npos) << error;
    EXPECT_TRUE(form_->Configuration()->Modified());
}

// ---- groups

TEST_F(MainWindowTest, GroupsAddedWithDefaultAndCollidingNamesAndRemoved) {
    AddGroup();
    AddGroup();
    AddGroup("My Group");
    AddGroup("My Group");
    EXPECT_EQ(Lines(Groups()), (QStringList{"Group", "Group1", "My Group", "My Group1"}));
    EXPECT_EQ(Current()->GetGroupName(), "My Group1");
    EXPECT_EQ(Named<QLineEdit>("GroupNameEdit")->text(), "My Group1");
    EXPECT_EQ(Named<QLineEdit>("ClientHandlePanel")->text(), "4");
    EXPECT_EQ(Named<QLineEdit>("ServerHandlePanel")->text(), "4294967295");

    // Renaming to a taken name through OK: the server keeps the names unique.
    Named<QLineEdit>("GroupNameEdit")->setText("Group");
    QTest::keyClick(Named<QLineEdit>("GroupNameEdit"), Qt::Key_Space);
    QTest::keyClick(Named<QLineEdit>("GroupNameEdit"), Qt::Key_Backspace);
    EXPECT_TRUE(form_->GroupEdited());
    Click(Named<QPushButton>("GroupOkButton"));
    EXPECT_EQ(Current()->GetGroupName(), "Group2");
    EXPECT_TRUE(Lines(Groups()).contains("Group2"));
    EXPECT_FALSE(Named<QPushButton>("GroupOkButton")->isEnabled());

    // Removing the current group makes the first one current; removing the last hides panels 4
    // and 5.
    Click(Named<QPushButton>("RemoveGroupButton"));
    EXPECT_EQ(Current()->GetGroupName(), "Group");
    while (Server()->GroupCount() > 0)
        Click(Named<QPushButton>("RemoveGroupButton"));
    EXPECT_EQ(Current(), nullptr);
    EXPECT_FALSE(Named<QGroupBox>("GroupPanel")->isVisible());
    EXPECT_FALSE(Named<QGroupBox>("ItemsPanel")->isVisible());
    EXPECT_FALSE(Named<QPushButton>("RemoveGroupButton")->isEnabled());
}

TEST_F(MainWindowTest, AnUnreadableFieldAddsNoGroup) {
    Named<QLineEdit>("UpdateRateEdit")->setText("");
    std::string error;
    Answer("OK", &error);
    QTest::mouseClick(Named<QPushButton>("AddGroupButton"), Qt::LeftButton);
    guitest::Pump();
    EXPECT_EQ(error, "'' is not a valid integer value");
    EXPECT_EQ(Server()->GroupCount(), 0);
}

TEST_F(MainWindowTest, EditingWithOKAndCancelAndEnterInTheFields) {
    AddGroup();
    TNvOPCGroup* group = Current();
    auto* rate = Named<QLineEdit>("UpdateRateEdit");
    auto* interval = Named<QLineEdit>("AsyncRefreshIntervalEdit");
    auto* deadband = Named<QLineEdit>("PercentDeadbandEdit");
    // Cancel: the fields show the group again, and OK and Cancel go off.
    rate->selectAll();
    QTest::keyClicks(rate, "250");
    EXPECT_TRUE(Named<QPushButton>("GroupOkButton")->isEnabled());
    Click(Named<QPushButton>("GroupCancelButton"));
    EXPECT_EQ(rate->text(), "1000");
    EXPECT_EQ(group->UpdateRate(), 1000u);
    EXPECT_FALSE(Named<QPushButton>("GroupOkButton")->isEnabled());

    // Enter in the interval field sets the update rate from its own field, not the interval.
    Named<QCheckBox>("Async")->click();
    guitest::Pump();
    ASSERT_TRUE(group->Async());
    rate->setText("500");
    interval->setText("3000");
    QTest::keyClick(interval, Qt::Key_Return);
    EXPECT_EQ(group->UpdateRate(), 500u);
    EXPECT_EQ(group->AsyncRefreshInterval(), 0u);
    // Enter in the deadband field applies it; the widened single shows its digits.
    deadband->setText("0.1");
    QTest::keyClick(deadband, Qt::Key_Return);
    EXPECT_FLOAT_EQ(group->PercentDeadband(), 0.1f);
    form_->GroupCancelButtonClick();
    EXPECT_EQ(deadband->text(), "0.100000001490116");

    // OK applies the five fields in order; a bad one stops there, leaving what came before.
    Named<QLineEdit>("GroupNameEdit")->setText("Boiler");
    deadband->setText("2.5");
    Named<QLineEdit>("TimebiasEdit")->setText("bad");
    form_->SetGroupEdited(true);
    std::string error;
    Answer("OK", &error);
    Click(Named<QPushButton>("GroupOkButton"));
    EXPECT_EQ(error, "'bad' is not a valid integer value");
    EXPECT_EQ(group->GetGroupName(), "Boiler");
    EXPECT_FLOAT_EQ(group->PercentDeadband(), 2.5f);
    EXPECT_TRUE(form_->GroupEdited());

    // Selecting another group fills the fields without counting as an edit.
    form_->GroupCancelButtonClick();
    AddGroup();
    Groups()->setCurrentRow(0);
    QTest::mouseClick(Groups()->viewport(), Qt::LeftButton, {}, Groups()->visualItemRect(Groups()->item(0)).center());
    guitest::Pump();
    EXPECT_EQ(Current(), group);
    EXPECT_EQ(Named<QLineEdit>("GroupNameEdit")->text(), "Boiler");
    EXPECT_FALSE(form_->GroupEdited());
}

TEST_F(MainWindowTest, CheckBoxesApplyAtOnceAndLocalTimeEnablesTheBias) {
    AddGroup();
    TNvOPCGroup* group = Current();
    auto* bias = Named<QLineEdit>("TimebiasEdit");
    EXPECT_FALSE(bias->isEnabled());
    Named<QCheckBox>("LocalTimeCheckBox")->click();
    EXPECT_FALSE(group->LocalTimeBias());
    EXPECT_TRUE(bias->isEnabled());
    Named<QCheckBox>("Active")->click();
    EXPECT_FALSE(group->Active());
    auto* source = Named<QComboBox>("DataSourceSelector");
    EXPECT_TRUE(source->isEnabled());
    EXPECT_FALSE(Named<QLineEdit>("AsyncRefreshIntervalEdit")->isEnabled());
    source->setCurrentIndex(1);
    form_->DataSourceSelectorChange(1);
    EXPECT_EQ(group->DataSource(), opcdsDevice);
    Named<QCheckBox>("Async")->click();
    EXPECT_TRUE(group->Async());
    EXPECT_FALSE(source->isEnabled());
    EXPECT_TRUE(Named<QLineEdit>("AsyncRefreshIntervalEdit")->isEnabled());
}

TEST_F(MainWindowTest, InsertAndDeleteInTheGroupListAddAndRemoveButNotWithCtrl) {
    Groups()->setFocus();
    QTest::keyClick(Groups(), Qt::Key_Insert);
    QTest::keyClick(Groups(), Qt::Key_Insert);
    EXPECT_EQ(Server()->GroupCount(), 2);
    QTest::keyClick(Groups(), Qt::Key_Insert, Qt::ControlModifier);
    QTest::keyClick(Groups(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(Server()->GroupCount(), 2);
    QTest::keyClick(Groups(), Qt::Key_Delete);
    EXPECT_EQ(Server()->GroupCount(), 1);
}

// ---- items

TEST_F(MainWindowTest, QuickAddTakesQuotedIDsWithoutTheirQuotes) {
    EXPECT_EQ(QuickAddItemID("Static.Int4"), "Static.Int4");
    EXPECT_EQ(QuickAddItemID("\"Special Names.with space\""), "Special Names.with space");
    EXPECT_EQ(QuickAddItemID("\"say \"\"hi\"\"\" trailing"), "say \"hi\"");
    EXPECT_EQ(QuickAddItemID("\"\""), "\"\"");
    EXPECT_EQ(QuickAddItemID("\"never closed"), "\"never closed");
    EXPECT_EQ(QuickAddItemID("\""), "\"");
    EXPECT_EQ(QuickAddItemID("mid\"quote\""), "mid\"quote\"");

    ConnectTo(kDA2);
    AddGroup();
    EXPECT_EQ(Named<QLabel>("ItemCountLabel")->text(), "No Items");
    EXPECT_FALSE(Named<QToolButton>("QuickAddButton")->isEnabled());
    EXPECT_NE(Named<QLineEdit>("ServerHandlePanel")->text(), "4294967295") << "connected when added";
    QuickAdd("\"Special Names.with space\"");
    ASSERT_EQ(Current()->ItemCount(), 1);
    EXPECT_EQ(Current()->Items(0)->GetItemID(), "Special Names.with space");
    EXPECT_TRUE(Current()->Items(0)->GetActive());
    EXPECT_TRUE(Current()->Items(0)->GetConnected());
    EXPECT_EQ(Named<QLabel>("ItemCountLabel")->text(), "1 Items");
    EXPECT_NE(Grid()->Model()->CellText(0, 0), "N/A");
    EXPECT_EQ(Grid()->Model()->CellText(0, 7), "$0: OK");
    // An unknown ID is kept, with the server's refusal in its error column.
    QuickAdd("No.Such.Item");
    EXPECT_EQ(Named<QLabel>("ItemCountLabel")->text(), "2 Items");
    EXPECT_EQ(Grid()->Model()->CellText(1, 0), "N/A");
    EXPECT_EQ(Grid()->Model()->CellText(1, 7), "$C0040007: Unknown ItemID");
    EXPECT_TRUE(form_->Configuration()->Modified());
}

TEST_F(MainWindowTest, ItemsFromAFileAndFromTheBrowser) {
    ConnectTo(kDA2);
    AddGroup();
    const fs::path file = dir_ / "items.csv";
    {
        std::ofstream out(file, std::ios::binary);
        out << "Static.Int4,first\r\nStatic.Real8,second\r\n";
    }
    ChooseFile(file);
    guitest::OnNextModal([](QWidget* w) {
        auto* dialog = qobject_cast<TSelectItemsDlg*>(w);
        ASSERT_NE(dialog, nullptr) << guitest::ModalText(w);
        EXPECT_EQ(dialog->windowTitle(), "Select Items to Add");
        dialog->AddAll();
        dialog->accept();
    });
    Action("AddFromFileAction")->trigger();
    guitest::Pump();
    ASSERT_EQ(Current()->ItemCount(), 2);
    EXPECT_EQ(Current()->Items(1)->GetItemID(), "Static.Real8");

    // Insert in the grid opens the browser; its chosen IDs are added.
    guitest::OnNextModal([](QWidget* w) {
        auto* browser = qobject_cast<TNvOPCAddressSpaceBrowser*>(w);
        ASSERT_NE(browser, nullptr) << guitest::ModalText(w);
        // The browser first fetches and selects its top branch, which rewrites the chosen IDs;
        // the user types once it has settled. This handler may be called from inside that walk,
        // which lets events through between branches, so it must not wait here: a timer looks
        // again until the walk is over.
        auto* tree = browser->findChild<QTreeWidget*>("BranchTree");
        auto* settled = new QTimer(browser);
        auto deadline = std::make_shared<QDeadlineTimer>(10000);
        QObject::connect(settled, &QTimer::timeout, browser, [browser, tree, settled, deadline] {
            if (browser->GetIsBrowsing() || tree->topLevelItemCount() == 0) {
                if (deadline->hasExpired()) {
                    settled->stop();
                    ADD_FAILURE() << "the browser's first walk never ended";
                    browser->reject();
                }
                return;
            }
            settled->stop();
            browser->findChild<QLineEdit*>("ItemIDEdit")->setText("Static.String,Static.Boolean");
            EXPECT_EQ(browser->GetSelectedItems()->Count(), 2);
            browser->accept();
        });
        settled->start(5);
    });
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_Insert);
    guitest::Pump();
    EXPECT_EQ(guitest::PendingModalHandlers(), 0) << "Insert opened the browser";
    ASSERT_EQ(Current()->ItemCount(), 4);
    EXPECT_EQ(Current()->Items(3)->GetItemID(), "Static.Boolean");
    EXPECT_EQ(Named<QLabel>("ItemCountLabel")->text(), "4 Items");

    // Delete removes the selected rows.
    Grid()->SelectRows(1, 2);
    guitest::Pump();
    EXPECT_EQ(form_->SelectedItemCount(), 2);
    QTest::keyClick(Grid(), Qt::Key_Delete);
    guitest::Pump();
    ASSERT_EQ(Current()->ItemCount(), 2);
    EXPECT_EQ(Current()->Items(0)->GetItemID(), "Static.Int4");
    EXPECT_EQ(Current()->Items(1)->GetItemID(), "Static.Boolean");
}

TEST_F(MainWindowTest, TheSelectionRuleAndTheControlRuleDecideInTurn) {
    ConnectTo(kDA2);
    AddGroup();
    QuickAdd("Static.Int4");
    Grid()->clearSelection();
    form_->ItemGridTopLeftChanged();
    // The grid's rule: nothing selected, so every item action is off except the two adds.
    EXPECT_FALSE(Action("ReadItemAction")->isEnabled());
    EXPECT_FALSE(Action("RemoveItemAction")->isEnabled());
    EXPECT_TRUE(Action("AddItemAction")->isEnabled());
    EXPECT_TRUE(Action("AddFromFileAction")->isEnabled());
    // The control rule, run later, sets Remove, Read and Write by its own conditions.
    form_->UpdateButtonStates();
    EXPECT_TRUE(Action("ReadItemAction")->isEnabled());
    EXPECT_TRUE(Action("WriteItemAction")->isEnabled());
    EXPECT_TRUE(Action("RemoveItemAction")->isEnabled());
    EXPECT_FALSE(Action("ToggleActiveState")->isEnabled());
}

TEST_F(MainWindowTest, ToggleActiveInvertsEachItemOfAMixedSelection) {
    ConnectTo(kDA2);
    AddGroup();
    for (const char* id : {"Static.Int4", "Static.Int2", "Static.Real8"})
        QuickAdd(id);
    Current()->Items(1)->SetActive(false);
    Grid()->SelectRows(0, 2);
    guitest::Pump();
    ASSERT_EQ(form_->SelectedItemCount(), 3);
    Action("ToggleActiveState")->trigger();
    guitest::Pump();
    EXPECT_FALSE(Current()->Items(0)->GetActive());
    EXPECT_TRUE(Current()->Items(1)->GetActive());
    EXPECT_FALSE(Current()->Items(2)->GetActive());
    EXPECT_EQ(Grid()->Model()->CellText(0, 5), "False");
    EXPECT_EQ(Grid()->Model()->CellText(1, 5), "True");
}

TEST_F(MainWindowTest, ReadFillsTheSelectedRows) {
    ConnectTo(kDA2);
    AddGroup();
    Named<QCheckBox>("Active")->click();  // no subscription: only the read brings values
    form_->DataSourceSelectorChange(1);   // and an inactive group reads from the device
    QuickAdd("Static.String");
    Grid()->SelectRows(0, 0);
    guitest::Pump();
    Action("ReadItemAction")->trigger();
    EXPECT_TRUE(guitest::PumpUntil([&] { return !Grid()->Model()->CellText(0, 2).empty(); }));
    EXPECT_EQ(Grid()->Model()->CellText(0, 4).substr(0, 4), "Good");
    EXPECT_FALSE(Grid()->Model()->CellText(0, 3).empty());
}

TEST_F(MainWindowTest, WriteSendsTheTypedTextAndRefusesOneThatDoesNotConvert) {
    ConnectTo(kDA2);
    AddGroup();
    QuickAdd("Static.String");
    QuickAdd("Static.Int4");
    QuickAdd("ReadOnly.Int4");
    // The write's own dialog comes first; `then` queues the answers to the boxes after it.
    auto writeRow = [&](int row, const QString& text, const std::function<void()>& then = {}) {
        Grid()->SelectRows(row, row);
        guitest::Pump();
        std::string caption;
        guitest::OnNextModal([&caption, text](QWidget* w) {
            auto* input = qobject_cast<QInputDialog*>(w);
            ASSERT_NE(input, nullptr) << guitest::ModalText(w);
            caption = input->windowTitle().toStdString();
            EXPECT_EQ(input->labelText(), "Value");
            input->setTextValue(text);
            input->accept();
        });
        if (then)
            then();
        Action("WriteItemAction")->trigger();
        guitest::Pump();
        return caption;
    };
    EXPECT_EQ(writeRow(0, "hello window"), "Writing to OPC Item: Static.String");
    TNvOPCItem* text = Current()->Items(0);
    EXPECT_TRUE(guitest::PumpUntil([&] { return Grid()->Model()->CellText(0, 2) == "hello window"; }))
        << Grid()->Model()->CellText(0, 2);

    // A number item and a text that is not a number: the conversion error, nothing written.
    const std::string before = Grid()->Model()->CellText(1, 2);
    std::string error;
    writeRow(1, "not a number", [&] { Answer("OK", &error); });
    EXPECT_EQ(error, "Could not convert variant of type (OleStr) into type (Integer)");
    guitest::Pump();
    EXPECT_EQ(Grid()->Model()->CellText(1, 2), before);

    // A refused write shows the transaction with its item line.
    // A refused write shows the transaction with its item line, then the write's failure.
    std::string shown, failure;
    writeRow(2, "5", [&] {
        Answer("OK", &shown);
        Answer("OK", &failure);
    });
    EXPECT_TRUE(guitest::PumpUntil([&] { return !failure.empty(); }));
    EXPECT_EQ(shown.substr(0, shown.find('\r')),
              "Transaction ID=1 Group=Group Kind=Write ItemCount=1 Result=$1 (S_FALSE)");
    EXPECT_NE(shown.find("ReadOnly.Int4(CH=2, SH="), std::string::npos) << shown;
    EXPECT_NE(shown.find("ErrorCode=C0040006 (No Access Rights)"), std::string::npos) << shown;
    EXPECT_EQ(failure, "Write failed: IOPCSyncIO.Write(ReadOnly.Int4, 5 {Integer})");
    (void)text;
}

TEST_F(MainWindowTest, ChangeDataTypeSetsTheSelectedItemsType) {
    ConnectTo(kDA2);
    AddGroup();
    QuickAdd("Static.Int4");
    QuickAdd("Static.Int2");
    Grid()->SelectRows(0, 1);
    guitest::Pump();
    guitest::OnNextModal([](QWidget* w) {
        auto* dialog = qobject_cast<TPromptDataTypeDlg*>(w);
        ASSERT_NE(dialog, nullptr) << guitest::ModalText(w);
        EXPECT_EQ(dialog->windowTitle(), "Item Data Type");
        EXPECT_EQ(dialog->DataType(), VT_I4);
        dialog->SetDataType(VT_R8);
        dialog->accept();
    });
    Action("ChangeDataTypeAction")->trigger();
    guitest::Pump();
    EXPECT_EQ(Current()->Items(0)->GetDataType(), VT_R8);
    EXPECT_EQ(Current()->Items(1)->GetDataType(), VT_R8);
    EXPECT_EQ(Grid()->Model()->CellText(0, 6), VarTypeToStr(VT_R8));
}

// ---- export, print, log and About

TEST_F(MainWindowTest, ExportConnectsWhenDisconnectedAndStaysConnectedWhenConnected) {
    SelectServer(kDA2);
    std::vector<std::string> filters;
    ChooseFile(dir_ / "space.txt", &filters);
    Action("SaveServerAddressSpace1")->trigger();
    guitest::Pump();
    EXPECT_EQ(filters, (std::vector<std::string>{"Text Files (*.txt)", "AllFiles (*.*)"}));
    const std::string exported = ReadFile(dir_ / "space.txt");
    EXPECT_EQ(exported.rfind("ServerName=Norvane.Simulation.1,PathSeparator=/", 0), 0u) << exported.substr(0, 200);
    EXPECT_NE(exported.find("\nStatic/Int4"), std::string::npos);
    EXPECT_FALSE(Server()->Connected()) << "connected for the export only";

    ConnectTo(kDA2);
    ChooseFile(dir_ / "again.txt");
    Action("SaveServerAddressSpace1")->trigger();
    guitest::Pump();
    EXPECT_TRUE(fs::exists(dir_ / "again.txt"));
    EXPECT_TRUE(Server()->Connected());
    // Cancel writes nothing.
    ChooseFile({});
    Action("SaveServerAddressSpace1")->trigger();
    guitest::Pump();
}

TEST_F(MainWindowTest, PrintsThePictureOfTheWindowToAPdfFile) {
    const fs::path pdf = dir_ / "window.pdf";
    form_->Printer()->setOutputFormat(QPrinter::PdfFormat);
    form_->Printer()->setOutputFileName(QString::fromStdString(pdf.string()));
    guitest::OnNextModal([](QWidget* w) {
        ASSERT_NE(qobject_cast<QPrintDialog*>(w), nullptr) << guitest::ModalText(w);
        static_cast<QDialog*>(w)->accept();
    });
    Action("Print1")->trigger();
    guitest::Pump();
    const std::string printed = ReadFile(pdf);
    ASSERT_GT(printed.size(), 1000u);
    EXPECT_EQ(printed.substr(0, 5), "%PDF-");
    EXPECT_NE(printed.find("/Image"), std::string::npos) << "the window is printed as a picture";
}

TEST_F(MainWindowTest, MenusAndToolBarCarryTheirCaptionsShortcutsAndHints) {
    EXPECT_EQ(Action("New1")->text(), "&New");
    EXPECT_EQ(Action("New1")->shortcut(), QKeySequence("Ctrl+N"));
    EXPECT_EQ(Action("New1")->toolTip(), "Create a new server connection. The current connection is closed.");
    EXPECT_EQ(Action("Open1")->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(Action("Save1")->shortcut(), QKeySequence("Ctrl+S"));
    EXPECT_EQ(Action("SaveAs1")->text(), "Save &As...");
    EXPECT_EQ(Action("Print1")->shortcut(), QKeySequence("Ctrl+P"));
    EXPECT_EQ(Action("PrintSetup1")->text(), "P&rint Setup...");
    EXPECT_EQ(Action("ViewLogAction")->shortcut(), QKeySequence("Ctrl+L"));
    EXPECT_EQ(Action("AddItemAction")->toolTip(), "Open the address space browser for Item selection.");
    EXPECT_EQ(Action("ChangeDataTypeAction")->text(), "Change &Data Type...");
    EXPECT_FALSE(Action("Save1")->isEnabled());
    EXPECT_FALSE(Action("SaveAs1")->isEnabled());
    // The grid's pop-up menu, in its order.
    QStringList popup;
    for (QAction* a : Grid()->actions())
        popup << (a->isSeparator() ? QString("-") : a->objectName());
    EXPECT_EQ(popup, (QStringList{"ToggleActiveState", "AddItemAction", "RemoveItemAction", "ChangeDataTypeAction",
                                  "-", "RefreshAction", "ReadItemAction", "WriteItemAction"}));
}

TEST_F(MainWindowTest, TheLogWindowOpensOnTheServerAndTheHostListFailsSilently) {
    Action("ViewLogAction")->trigger();
    guitest::Pump();
    ASSERT_NE(OPCLogForm(), nullptr);
    EXPECT_TRUE(OPCLogForm()->isVisible());
    EXPECT_EQ(OPCLogForm()->Server(), Server());
    OPCLogForm()->hide();
    // Without network browsing the list is whatever was found, and nothing is shown.
    form_->FillHostList();
    guitest::Pump();
    EXPECT_TRUE(guitest::TakeUnexpectedModals().empty());
    EXPECT_EQ(Named<QComboBox>("HostEdit")->currentText(), "localhost");
}

// ---- the configuration made through the window

TEST_F(MainWindowTest, AConfigurationMadeThroughTheWindowSavesAndLoadsTheSame) {
    ConnectTo(kDA2);
    AddGroup("Boiler");
    Named<QCheckBox>("Async")->click();
    QuickAdd("Static.Int4");
    QuickAdd("Static.String");
    Current()->Items(1)->SetActive(false);
    AddGroup("Pump");
    Named<QCheckBox>("LocalTimeCheckBox")->click();
    QuickAdd("Dynamic.Counter.Int4");
    // A width the user drags is taken when the mouse button comes up over the grid.
    Grid()->SetColumnWidth(2, 180);
    QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(form_->Configuration()->GetGridColWidths(2), 180);
    Click(ConnectButton());
    ChooseFile(dir_ / "made.noc");
    Action("SaveAs1")->trigger();
    guitest::Pump();
    ASSERT_TRUE(fs::exists(dir_ / "made.noc"));
    EXPECT_EQ(form_->Configuration()->GetGridColWidths(2), 180);
    const std::string saved = ReadFile(dir_ / "made.noc");

    Action("New1")->trigger();
    guitest::Pump();
    ASSERT_EQ(Server()->GroupCount(), 0);
    Grid()->SetColumnWidth(2, 100);
    ChooseFile(dir_ / "made.noc");
    Action("Open1")->trigger();
    guitest::Pump();
    EXPECT_EQ(Lines(Groups()), (QStringList{"Boiler", "Pump"}));
    EXPECT_EQ(Grid()->ColumnWidth(2), 180);
    auto* boiler = dynamic_cast<TNvOPCGroup*>(Server()->Groups(0));
    auto* pump = dynamic_cast<TNvOPCGroup*>(Server()->Groups(1));
    EXPECT_TRUE(boiler->Async());
    EXPECT_FALSE(pump->LocalTimeBias());
    ASSERT_EQ(boiler->ItemCount(), 2);
    EXPECT_EQ(boiler->Items(1)->GetItemID(), "Static.String");
    EXPECT_FALSE(boiler->Items(1)->GetActive());
    EXPECT_EQ(pump->Items(0)->GetItemID(), "Dynamic.Counter.Int4");
    // Saved again unchanged, the file is the same.
    form_->Configuration()->SetModified(true);
    form_->UpdateButtonStates();
    Action("Save1")->trigger();
    guitest::Pump();
    EXPECT_EQ(ReadFile(dir_ / "made.noc"), saved);
}

TEST_F(MainWindowTest, TheWindowKeepsItsSizeAndSplitterForTheNextRun) {
    form_->resize(700, 500);
    form_->Configuration()->SetModified(false);
    ASSERT_TRUE(form_->close());
    form_.reset();
    form_ = std::make_unique<TForm1>();
    EXPECT_EQ(form_->size(), QSize(700, 500));
}

}  // namespace
}  // namespace nv
