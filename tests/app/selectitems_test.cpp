// The item selection dialog: a delimited file as a grid, item IDs taken from one of its columns.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/SelectItemsDlg.h"
#include "foundation/NvExceptions.h"
#include "foundation/NvSysUtils.h"
#include "gui/NvGuiTestSupport.h"

namespace nv {
namespace {

namespace fs = std::filesystem;
using Items = std::vector<std::string>;

class SelectItemsTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        dir_ = guitest::TestFolder("nv-selectitems");
        saved_ = FormatSettings();
        TFormatSettings settings = saved_;
        settings.ListSeparator = ",";
        SetFormatSettings(settings);
    }
    void TearDown() override {
        SetFormatSettings(saved_);
        fs::remove_all(dir_);
        guitest::GuiTest::TearDown();
    }
    std::string Write(const std::string& name, const std::string& content) {
        auto path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    void Click(const char* name) { guitest::Named<QPushButton>(&dlg_, name)->click(); }
    QString Count() { return guitest::Named<QLabel>(&dlg_, "CountLabel")->text(); }
    QTableView* Grid() { return guitest::Named<QTableView>(&dlg_, "ItemGrid"); }
    void SetColumn(const QString& text) { guitest::Named<QLineEdit>(&dlg_, "ColumnEdit")->setText(text); }

    fs::path dir_;
    TFormatSettings saved_;
    TSelectItemsDlg dlg_;
};

TEST_F(SelectItemsTest, StartsEmptyWithTheCaptionColumnZeroAndNoItems) {
    EXPECT_EQ(dlg_.windowTitle(), "Select Items to Add");
    EXPECT_EQ(guitest::Named<QLabel>(&dlg_, "ColumnLabel")->text(), "Fetch items from &column:");
    EXPECT_EQ(guitest::Named<QLineEdit>(&dlg_, "ColumnEdit")->text(), "0");
    EXPECT_EQ(Count(), "0 items selected");
    EXPECT_EQ(Grid()->model()->columnCount(), 5);
    EXPECT_TRUE(guitest::Named<QPushButton>(&dlg_, "OKButton")->isDefault());
    for (const char* name : {"AddButton", "AddAllButton", "RemoveButton", "RemoveAllButton"})
        EXPECT_NE(dlg_.findChild<QPushButton*>(name), nullptr) << name;
}

TEST_F(SelectItemsTest, AllRowsFromAColumnWithTextsThatAreNoNumberFromColumnZero) {
    dlg_.LoadFile(Write("a.csv", "Random.Int1,Int,x\nBucket Brigade.Real4,Real\n\"Saw,Tooth\",\n"));
    EXPECT_EQ(Grid()->model()->rowCount(), 3);
    SetColumn("abc");
    EXPECT_EQ(dlg_.Column(), 0);
    Click("AddAllButton");
    EXPECT_EQ(dlg_.Items(), (Items{"Random.Int1", "Bucket Brigade.Real4", "Saw,Tooth"}));
    EXPECT_EQ(Count(), "3 items selected");
    // A column beyond a row's cells gives an empty entry for that row; duplicates are kept.
    SetColumn("2");
    Click("AddAllButton");
    EXPECT_EQ(dlg_.Items(), (Items{"Random.Int1", "Bucket Brigade.Real4", "Saw,Tooth", "x", "", ""}));
    SetColumn("7");
    Click("AddAllButton");
    EXPECT_EQ(Count(), "9 items selected");
    EXPECT_EQ(dlg_.Items().back(), "");
}

TEST_F(SelectItemsTest, SelectedRangeOrTheCursorRow) {
    dlg_.LoadFile(Write("a.csv", "r0,a\nr1,b\nr2,c\nr3,d\n"));
    SetColumn("1");
    // No selection: the row holding the cursor.
    Grid()->clearSelection();
    Grid()->setCurrentIndex(Grid()->model()->index(2, 0));
    Grid()->clearSelection();
    Click("AddButton");
    EXPECT_EQ(dlg_.Items(), (Items{"c"}));
    // A range of rows, in grid order.
    Grid()->setCurrentIndex(Grid()->model()->index(3, 0));
    QTest::keyClick(Grid(), Qt::Key_Up, Qt::ShiftModifier);
    QTest::keyClick(Grid(), Qt::Key_Up, Qt::ShiftModifier);
    Click("AddButton");
    EXPECT_EQ(dlg_.Items(), (Items{"c", "b", "c", "d"}));
    // Insert on the grid is the keyboard's ">".
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_Insert);
    EXPECT_EQ(Count(), "7 items selected");
}

TEST_F(SelectItemsTest, RemovingEntriesUpdatesTheCount) {
    dlg_.LoadFile(Write("a.csv", "a\nb\nc\nd\n"));
    Click("AddAllButton");
    auto* list = guitest::Named<QListWidget>(&dlg_, "ItemList");
    list->item(1)->setSelected(true);
    list->item(3)->setSelected(true);
    Click("RemoveButton");
    EXPECT_EQ(dlg_.Items(), (Items{"a", "c"}));
    EXPECT_EQ(Count(), "2 items selected");
    list->item(0)->setSelected(true);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(dlg_.Items(), (Items{"c"}));
    EXPECT_EQ(Count(), "1 items selected");
    Click("RemoveAllButton");
    EXPECT_TRUE(dlg_.Items().empty());
    EXPECT_EQ(Count(), "0 items selected");
}

TEST_F(SelectItemsTest, LoadingTheSameFileTwiceKeepsGridAndItems) {
    const std::string file = Write("a.csv", "one,1,2,3,4,5,6\ntwo\n");
    dlg_.LoadFile(file);
    EXPECT_EQ(Grid()->model()->columnCount(), 7);
    Click("AddAllButton");
    Write("a.csv", "changed\n");
    dlg_.LoadFile(file);
    EXPECT_EQ(Grid()->model()->rowCount(), 2);
    EXPECT_EQ(Grid()->model()->index(0, 0).data().toString(), "one");
    EXPECT_EQ(dlg_.Items(), (Items{"one", "two"}));
    // Another file replaces the grid; the columns never shrink and the chosen items stay.
    dlg_.LoadFile(Write("b.csv", "x,y\n"));
    EXPECT_EQ(Grid()->model()->rowCount(), 1);
    EXPECT_EQ(Grid()->model()->columnCount(), 7);
    EXPECT_EQ(dlg_.Items(), (Items{"one", "two"}));
    // The name compares with its letter case: the changed file is read now.
    dlg_.LoadFile(file);
    EXPECT_EQ(Grid()->model()->index(0, 0).data().toString(), "changed");
}

TEST_F(SelectItemsTest, AFileThatCannotBeReadChangesNothing) {
    const std::string file = Write("a.csv", "kept\n");
    dlg_.LoadFile(file);
    EXPECT_THROW(dlg_.LoadFile((dir_ / "missing.csv").string()), EFOpenError);
    EXPECT_EQ(Grid()->model()->index(0, 0).data().toString(), "kept");
    // The failed name is not remembered: loading it once it exists works.
    Write("missing.csv", "now\n");
    dlg_.LoadFile((dir_ / "missing.csv").string());
    EXPECT_EQ(Grid()->model()->index(0, 0).data().toString(), "now");
}

TEST_F(SelectItemsTest, CellsSplitAtTheRegionalListSeparator) {
    TFormatSettings settings = saved_;
    settings.ListSeparator = ";";
    SetFormatSettings(settings);
    TSelectItemsDlg dlg;
    dlg.LoadFile(Write("semi.csv", "a,b;\"c;d\"\n"));
    guitest::Named<QLineEdit>(&dlg, "ColumnEdit")->setText("1");
    guitest::Named<QPushButton>(&dlg, "AddAllButton")->click();
    EXPECT_EQ(dlg.Items(), (Items{"c;d"}));
}

TEST_F(SelectItemsTest, ClickingAColumnHeaderChoosesThatColumn) {
    dlg_.LoadFile(Write("a.csv", "a,b,c\n"));
    Grid()->horizontalHeader()->sectionClicked(2);
    EXPECT_EQ(dlg_.Column(), 2);
}

TEST_F(SelectItemsTest, EnterClosesWithOKAndEscapeWithCancel) {
    dlg_.LoadFile(Write("a.csv", "a\n"));
    guitest::OnNextModal(
        [](QWidget* w) { QTest::keyClick(w->focusWidget() ? w->focusWidget() : w, Qt::Key_Return); });
    EXPECT_TRUE(dlg_.Execute());
    guitest::OnNextModal(
        [](QWidget* w) { QTest::keyClick(w->focusWidget() ? w->focusWidget() : w, Qt::Key_Escape); });
    EXPECT_FALSE(dlg_.Execute());
    // Alt+C reaches the column field by its label's mnemonic.
    guitest::OnNextModal([this](QWidget* w) {
        QTest::keyClick(w, Qt::Key_C, Qt::AltModifier);
        EXPECT_EQ(QApplication::focusWidget(), dlg_.findChild<QLineEdit*>("ColumnEdit"));
        guitest::ClickButton(w, "Cancel");
    });
    EXPECT_FALSE(dlg_.Execute());
}

TEST_F(SelectItemsTest, SizeFollowsTheFont) {
    const QFont saved = QApplication::font();
    QFont big = saved;
    big.setPointSizeF(saved.pointSizeF() * 1.5);
    QApplication::setFont(big);
    auto large = std::make_unique<TSelectItemsDlg>();
    QApplication::setFont(saved);
    EXPECT_GT(large->width(), dlg_.width() * 5 / 4);
    // The bottom row fits into the smallest size the dialog allows.
    auto* bottom = large->findChild<QLabel*>("ColumnLabel");
    EXPECT_GE(large->minimumWidth(), bottom->sizeHint().width());
    EXPECT_GE(large->minimumSizeHint().width(), bottom->sizeHint().width());
}

}  // namespace
}  // namespace nv
