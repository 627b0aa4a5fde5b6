#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/PromptDataTypeDlg.h"
#include "gui/NvGuiTestSupport.h"

namespace nv {
namespace {

using guitest::GuiTest;

TEST_F(GuiTest, DataTypeDialogListsTheTwentyTwoValueNamesInOrder) {
    TPromptDataTypeDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), "Item Data Type");
    EXPECT_EQ(guitest::Named<QLabel>(&dlg, "PromptLabel")->text(),
              "Select the data type for the selected item(s).");
    auto* combo = guitest::Named<QComboBox>(&dlg, "DataTypeCombo");
    EXPECT_FALSE(combo->isEditable());
    const QStringList expected = {"vdtDefault",   "vdtNull",       "vdtSmallint", "vdtInteger", "vdtSingle",
                                  "vdtDouble",    "vdtCurrency",   "vdtDate",     "vdtOleStr",  "vdtDispatch",
                                  "vdtError",     "vdtBoolean",    "vdtVariant",  "vdtUnknown", "vdtDecimal",
                                  "vdtUndefined", "vdtShortint",   "vdtByte",     "vdtWord",    "vdtLongWord",
                                  "vdtInt64",     "vdtUnsupported"};
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i)
        shown << combo->itemText(i);
    EXPECT_EQ(shown, expected);
    // A fixed border: the dialog cannot be resized.
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
}

TEST_F(GuiTest, DataTypeRoundTripsThroughTheList) {
    TPromptDataTypeDlg dlg;
    auto* combo = guitest::Named<QComboBox>(&dlg, "DataTypeCombo");
    for (VARTYPE code = 0; code <= 20; ++code) {
        dlg.SetDataType(code);
        EXPECT_EQ(combo->currentIndex(), code);
        EXPECT_EQ(dlg.DataType(), code);
    }
    // Flags are dropped; a type without a name is "unsupported", which asks for no type.
    dlg.SetDataType(VT_ARRAY | VT_R8);
    EXPECT_EQ(combo->currentText(), "vdtDouble");
    EXPECT_EQ(dlg.DataType(), VT_R8);
    dlg.SetDataType(72);
    EXPECT_EQ(combo->currentText(), "vdtUnsupported");
    EXPECT_EQ(dlg.DataType(), 0);
    // The user's choice is what the caller reads after OK.
    dlg.SetDataType(VT_I2);
    guitest::OnNextModal([](QWidget* w) {
        auto* c = w->findChild<QComboBox*>("DataTypeCombo");
        c->setCurrentIndex(c->findText("vdtInt64"));
        QTest::keyClick(w->focusWidget() ? w->focusWidget() : w, Qt::Key_Return);
    });
    ASSERT_TRUE(dlg.Execute());
    EXPECT_EQ(dlg.DataType(), VT_I8);
    guitest::OnNextModal([](QWidget* w) { guitest::ClickButton(w, "Cancel"); });
    EXPECT_FALSE(dlg.Execute());
}

}  // namespace
}  // namespace nv
