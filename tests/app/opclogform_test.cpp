// The log window over a server's transaction log: the check box, Max Lines, the mirror file,
// saving, and a real connection to a simulation server filling it.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/NvLogLinesModel.h"
#include "app/NvOPCLogForm.h"
#include "foundation/NvSysUtils.h"
#include "gui/NvGuiTestSupport.h"
#include "opc/NvOPCServer.h"
#include "platform/win32.h"
#include "windows/NvTempConfig.h"

namespace nv {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The message part of each memo line, without the time stamp of "yyyy/mm/dd hh:nn:ss.zzz ".
Lines Messages(const TNvLogLinesModel& model) {
    Lines out;
    for (int i = 0; i < model.LineCount(); ++i)
        out.push_back(model.Line(i).size() > 24 ? model.Line(i).substr(24) : "<" + model.Line(i) + ">");
    return out;
}

Lines LogMessages(const TNvOPCLog& log) {
    Lines out;
    for (int i = 0; i < log.Count(); ++i)
        out.push_back(log.Lines(i).substr(24));
    return out;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class OPCLogFormTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        dir_ = guitest::TestFolder("nv-logform");
        server_ = std::make_unique<TNvOPCServer>();
        server_->SetHost("plant7");
        server_->SetServerName("Norvane.Simulation.1");
        SetApplicationTitle("Norvane OPC Client");
    }
    void TearDown() override {
        form_.reset();
        server_.reset();
        fs::remove_all(dir_);
        guitest::GuiTest::TearDown();
    }
    TNvOPCLog& Log() { return *server_->Log(); }
    TNvOPCLogForm& Form() {
        if (!form_) {
            form_ = std::make_unique<TNvOPCLogForm>();
            form_->SetServer(server_.get());
            form_->show();
        }
        return *form_;
    }
    QCheckBox* Active() { return guitest::Named<QCheckBox>(&Form(), "ActiveCheckbox"); }
    void Apply(const QString& maxLines, const QString& fileName) {
        guitest::Named<QLineEdit>(&Form(), "MaxLinesEdit")->setText(maxLines);
        guitest::Named<QLineEdit>(&Form(), "FileNameEdit")->setText(fileName);
        guitest::Named<QPushButton>(&Form(), "Button1")->click();
    }

    fs::path dir_;
    std::unique_ptr<TNvOPCServer> server_;
    std::unique_ptr<TNvOPCLogForm> form_;
};

TEST_F(OPCLogFormTest, CaptionControlsAndEditsFollowTheServer) {
    Log().SetMaxLines(250);
    Log().SetFileName("/tmp/run.log");
    EXPECT_EQ(Form().windowTitle(), "Norvane OPC Client - OPC Log: \\\\plant7\\Norvane.Simulation.1");
    EXPECT_EQ(guitest::Named<QLineEdit>(&Form(), "MaxLinesEdit")->text(), "250");
    EXPECT_EQ(guitest::Named<QLineEdit>(&Form(), "FileNameEdit")->text(), "/tmp/run.log");
    EXPECT_EQ(Active()->text(), "&Active");
    EXPECT_EQ(Active()->toolTip(), "Log is only stored for actions ");
    auto* save = Form().findChild<QAction*>("SaveAction");
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->text(), "&Save...");
    EXPECT_EQ(save->toolTip(), "Save the current log contents to a file.");
    EXPECT_EQ(guitest::Named<QToolButton>(&Form(), "SaveButton")->defaultAction(), save);
    EXPECT_TRUE(guitest::Named<QPushButton>(&Form(), "Button1")->isDefault());
    EXPECT_FALSE(guitest::Named<QListWidget>(&Form(), "ListBox1")->isVisible());
    EXPECT_TRUE(QFontInfo(guitest::Named<QTreeView>(&Form(), "Memo1")->font()).fixedPitch());
    Form().SetServer(nullptr);
    EXPECT_EQ(Form().windowTitle(), "OPC Log");
}

TEST_F(OPCLogFormTest, RecordingOffShowsNothingUntilTheBoxIsChecked) {
    Log().SetActive(true);
    Log().AddLine("before");
    Log().SetActive(false);
    EXPECT_EQ(Form().Lines()->LineCount(), 0);
    EXPECT_FALSE(Active()->isChecked());
    QTest::mouseClick(Active(), Qt::LeftButton);
    EXPECT_TRUE(Log().Active());
    Log().AddLine("first");
    Log().AddLine("second");
    EXPECT_EQ(Messages(*Form().Lines()), (Lines{"first", "second"}));
    // Showing the window again copies the log, with the stored time stamps.
    Form().hide();
    Form().show();
    EXPECT_EQ(Messages(*Form().Lines()), (Lines{"before", "first", "second"}));
    EXPECT_EQ(Form().Lines()->Line(0), Log().Lines(0));
    EXPECT_TRUE(Active()->isChecked());
    // Unchecking stops recording; the lines shown stay.
    Active()->click();
    EXPECT_FALSE(Log().Active());
    Log().AddLine("not recorded");
    EXPECT_EQ(Form().Lines()->LineCount(), 3);
}

TEST_F(OPCLogFormTest, MaxLinesThreeScrollsTheOldestOutOfWindowAndLog) {
    Log().SetActive(true);
    Form();
    Apply("3", "");
    EXPECT_EQ(Log().MaxLines(), 3);
    for (const char* m : {"one", "two", "three"})
        Log().AddLine(m);
    EXPECT_EQ(Messages(*Form().Lines()), (Lines{"one", "two", "three"}));
    Log().AddLine("four");
    EXPECT_EQ(Messages(*Form().Lines()), (Lines{"two", "three", "four"}));
    EXPECT_EQ(LogMessages(Log()), (Lines{"two", "three", "four"}));
}

TEST_F(OPCLogFormTest, AMultiLineEntryCountsOnceAgainstMaxLines) {
    Log().SetActive(true);
    Form();
    Apply("2", "");
    Log().AddLine("single");
    Log().AddLine("transaction\r\n  item 1\r\n  item 2");
    EXPECT_EQ(Form().Lines()->EntryCount(), 2);
    EXPECT_EQ(Form().Lines()->LineCount(), 4);
    EXPECT_EQ(Form().Lines()->Line(2), "  item 1");
    Log().AddLine("next");
    EXPECT_EQ(Form().Lines()->LineCount(), 4);
    EXPECT_EQ(Form().Lines()->Line(3), Form().Lines()->Line(3).substr(0, 24) + "next");
    Log().AddLine("last");
    EXPECT_EQ(Messages(*Form().Lines()), (Lines{"next", "last"}));
}

TEST_F(OPCLogFormTest, ANegativeMaxLinesEmptiesTheWindowWithEveryLineWhileTheLogKeepsAll) {
    Log().SetActive(true);
    Form();
    Log().AddLine("a");
    Apply("-1", "");
    EXPECT_EQ(Log().MaxLines(), -1);
    Log().AddLine("b");
    EXPECT_EQ(Form().Lines()->LineCount(), 0);
    Log().AddLine("c");
    EXPECT_EQ(Form().Lines()->LineCount(), 0);
    EXPECT_EQ(LogMessages(Log()), (Lines{"a", "b", "c"}));
}

TEST_F(OPCLogFormTest, AnAppliedFileNameIsRewrittenWithEveryLine) {
    Log().SetActive(true);
    Form();
    const fs::path file = dir_ / "mirror.log";
    Apply("100", QString::fromStdString(file.string()));
    EXPECT_EQ(Log().FileName(), file.string());
    EXPECT_FALSE(fs::exists(file));
    Log().AddLine("one");
    EXPECT_EQ(ReadFile(file), Log().Lines(0) + "\r\n");
    Log().AddLine("two");
    EXPECT_EQ(ReadFile(file), Log().Lines(0) + "\r\n" + Log().Lines(1) + "\r\n");
}

TEST_F(OPCLogFormTest, AMaxLinesThatIsNoNumberAppliesNothing) {
    Log().SetFileName("kept.log");
    std::string error;
    guitest::OnNextModal([&](QWidget* box) {
        error = guitest::ModalText(box);
        guitest::ClickButton(box, "OK");
    });
    Apply("ten", "other.log");
    EXPECT_EQ(error, "'ten' is not a valid integer value");
    EXPECT_EQ(Log().MaxLines(), 100);
    EXPECT_EQ(Log().FileName(), "kept.log");
}

TEST_F(OPCLogFormTest, SaveWritesTheLogToTheChosenFileWithTheDefaultExtension) {
    Log().SetActive(true);
    Log().AddLine("saved line");
    Form();
    std::string defaultSuffix;
    QStringList filters;
    guitest::OnNextModal([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(dialog, nullptr);
        defaultSuffix = dialog->defaultSuffix().toStdString();
        filters = dialog->nameFilters();
        dialog->selectFile(QString::fromStdString((dir_ / "run").string()));
        static_cast<QDialog*>(dialog)->accept();
    });
    Form().findChild<QAction*>("SaveAction")->trigger();
    EXPECT_EQ(defaultSuffix, "log");
    EXPECT_EQ(filters, (QStringList{"Log Files (*.log)", "All Files (*)"}));
    EXPECT_EQ(ReadFile(dir_ / "run.log"), Log().Lines(0) + "\r\n");
}

TEST_F(OPCLogFormTest, ASaveThatFailsIsReportedNotPassedOffAsDone) {
    Log().SetActive(true);
    Log().AddLine("line");
    Form();
    const std::string target = (dir_ / "no-such-folder" / "run.log").string();
    std::string chosen;
    guitest::OnNextModal([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(dialog, nullptr);
        // Typed by the user; the dialog does not check that the folder exists.
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
        dialog->selectFile(QString::fromStdString(target));
        chosen = dialog->selectedFiles().value(0).toStdString();
        static_cast<QDialog*>(dialog)->accept();
    });
    std::string error;
    guitest::OnNextModal([&](QWidget* box) {
        error = guitest::ModalText(box);
        guitest::ClickButton(box, "OK");
    });
    Form().findChild<QAction*>("SaveAction")->trigger();
    ASSERT_GE(chosen.size(), 22u);
    EXPECT_EQ(chosen.substr(chosen.size() - 22), "no-such-folder/run.log");
    EXPECT_EQ(error, "Cannot create file \"" + chosen + "\".");
}

TEST_F(OPCLogFormTest, TheWindowLetsGoOfAServerThatIsDestroyed) {
    Log().SetActive(true);
    Form();
    Log().AddLine("last words");
    server_.reset();
    EXPECT_EQ(Form().Server(), nullptr);
    EXPECT_EQ(Form().windowTitle(), "OPC Log");
    EXPECT_EQ(Messages(*Form().Lines()), (Lines{"last words"}));
    // Its controls no longer reach for a log.
    Active()->click();
    Apply("5", "x.log");
}

TEST_F(OPCLogFormTest, ShowOPCLogKeepsOneWindowAndRebindsIt) {
    TNvOPCServer other;
    other.SetServerName("Norvane.Simulation.Flat.1");
    ShowOPCLog(server_.get());
    TNvOPCLogForm* first = OPCLogForm();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->isModal());
    ShowOPCLog(&other);
    EXPECT_EQ(OPCLogForm(), first);
    EXPECT_EQ(first->Server(), &other);
    // The first server's log no longer reaches the window.
    EXPECT_FALSE(static_cast<bool>(Log().OnChange));
    DestroyOPCLog();
    EXPECT_EQ(OPCLogForm(), nullptr);
    EXPECT_FALSE(static_cast<bool>(other.Log()->OnChange));
}

TEST_F(OPCLogFormTest, AHundredThousandLinesAreShownAndScrolled) {
    Log().SetMaxLines(100000);
    Log().SetActive(true);
    for (int i = 0; i < 100000; ++i)
        Log().AddLine(Format("IOPCSyncIO.Read: Result=$0 (OK) #%d", i));
    auto* memo = guitest::Named<QTreeView>(&Form(), "Memo1");
    ASSERT_EQ(Form().Lines()->LineCount(), 100000);
    guitest::Pump();
    // Opened at the newest line.
    EXPECT_EQ(memo->verticalScrollBar()->value(), memo->verticalScrollBar()->maximum());
    // A new line at the limit drops the oldest and the view follows the bottom.
    Log().AddLine("newest");
    guitest::Pump();
    EXPECT_EQ(Form().Lines()->LineCount(), 100000);
    EXPECT_EQ(Messages(*Form().Lines()).front(), "IOPCSyncIO.Read: Result=$0 (OK) #1");
    const QModelIndex bottom = memo->indexAt(QPoint(4, memo->viewport()->height() - 2));
    EXPECT_EQ(bottom.row(), 99999);
    // Scrolled up by the user, the view stays where it is when lines arrive.
    memo->verticalScrollBar()->setValue(10);
    Log().AddLine("one more");
    guitest::Pump();
    EXPECT_LE(memo->verticalScrollBar()->value(), 10);
}

// ---- against a simulation server

class OPCLogFormServerTest : public OPCLogFormTest {
protected:
    void SetUp() override {
        OPCLogFormTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        server_->SetHost("localhost");
    }
    void TearDown() override {
        OPCLogFormTest::TearDown();
        CoUninitialize();
    }
    test::TempConfig config_;
};

TEST_F(OPCLogFormServerTest, AConnectionFillsTheWindowAsItHappens) {
    Log().SetActive(true);
    Form();
    server_->Connect();
    ASSERT_TRUE(server_->Connected());
    server_->Disconnect();
    const Lines shown = Messages(*Form().Lines());
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown, LogMessages(Log()));
    bool connected = false, disconnected = false;
    for (const auto& line : shown) {
        connected = connected || line.rfind("Connected to Server 'Norvane.Simulation.1' {", 0) == 0;
        disconnected =
            disconnected || line.rfind("Disconnected from Server 'Norvane.Simulation.1' {", 0) == 0;
    }
    EXPECT_TRUE(disconnected);
    EXPECT_TRUE(connected);
}

}  // namespace
}  // namespace nv
