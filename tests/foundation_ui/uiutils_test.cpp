// The busy cursor pair and the confirmation box.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>

#include "foundation/ui/NvUIUtils.h"
#include "gui/NvGuiTestSupport.h"

namespace nv {
namespace {

using guitest::GuiTest;

Qt::CursorShape Shape() {
    const QCursor* c = QApplication::overrideCursor();
    return c ? c->shape() : Qt::BitmapCursor;
}

TEST_F(GuiTest, BusyCursorDoesNotNestAndTheFirstEndRestores) {
    QApplication::setOverrideCursor(Qt::PointingHandCursor);
    BeginBusyCursor();
    EXPECT_TRUE(IsBusyCursor());
    EXPECT_EQ(Shape(), Qt::WaitCursor);
    BeginBusyCursor();
    EndBusyCursor();
    EXPECT_FALSE(IsBusyCursor());
    // The cursor of before, not a second hourglass.
    EXPECT_EQ(Shape(), Qt::PointingHandCursor);
    // An End without Begin must not take away someone else's cursor.
    EndBusyCursor();
    EXPECT_EQ(Shape(), Qt::PointingHandCursor);
    QApplication::restoreOverrideCursor();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(GuiTest, ConfirmDlgReturnsTheButtonPressed) {
    std::string title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    guitest::OnNextModal([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle().toStdString();
        text = box->text().toStdString();
        icon = box->icon();
        buttons = static_cast<int>(box->buttons().size());
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(ConfirmDlg("Save changes?", mbYesNoCancel), mrNo);
    EXPECT_EQ(title, "Confirm");
    EXPECT_EQ(text, "Save changes?");
    EXPECT_EQ(icon, QMessageBox::Question);
    EXPECT_EQ(buttons, 3);

    guitest::OnNextModal(
        [](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(QMessageBox::Yes)->click(); });
    EXPECT_EQ(ConfirmDlg("Again?", mbYesNoCancel), mrYes);
}

TEST_F(GuiTest, ConfirmDlgKeys) {
    // Enter presses the first button offered; Escape answers Cancel, or No without a Cancel.
    guitest::OnNextModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Return); });
    EXPECT_EQ(ConfirmDlg("Enter", mbYesNoCancel), mrYes);
    guitest::OnNextModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
    EXPECT_EQ(ConfirmDlg("Escape", mbYesNoCancel), mrCancel);
    guitest::OnNextModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
    EXPECT_EQ(ConfirmDlg("Escape", mbYesNo), mrNo);
    guitest::OnNextModal([](QWidget* w) { w->close(); });
    EXPECT_EQ(ConfirmDlg("Closed", mbOKCancel), mrCancel);
}

}  // namespace
}  // namespace nv
