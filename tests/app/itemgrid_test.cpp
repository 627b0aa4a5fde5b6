// The item grid: each column's text, the empty row, rows following the group, which rows a data
// change repaints, the selection across refreshes, the keys and the mouse, the look; and real
// items of a simulation server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/ItemGrid.h"
#include "foundation/NvConvert.h"
#include "foundation/NvEventLoop.h"
#include "foundation/NvSysUtils.h"
#include "gui/NvGuiTestSupport.h"
#include "opc/NvOPCGroup.h"
#include "opc/NvOPCServer.h"
#include "opc/NvOPCTransaction.h"
#include "platform/win32.h"
#include "windows/NvTempConfig.h"

namespace nv {
namespace {

using Rows = std::vector<int>;
using Ranges = std::vector<std::pair<int, int>>;

std::vector<std::string> RowText(const TItemGridModel& model, int row) {
    std::vector<std::string> cells;
    for (int c = 0; c < TItemGridModel::ColCount; ++c)
        cells.push_back(model.CellText(row, c));
    return cells;
}

// The row ranges of the dataChanged signals caught, each checked to span every column.
Ranges ChangedRows(QSignalSpy& spy) {
    Ranges ranges;
    for (const QList<QVariant>& signal : spy) {
        const auto from = signal[0].value<QModelIndex>();
        const auto to = signal[1].value<QModelIndex>();
        EXPECT_EQ(from.column(), 0);
        EXPECT_EQ(to.column(), TItemGridModel::ColCount - 1);
        ranges.emplace_back(from.row(), to.row());
    }
    spy.clear();
    return ranges;
}

class ItemGridTest : public guitest::GuiTest {
protected:
    void SetUp() override { saved_ = FormatSettings(); }
    void TearDown() override {
        grid_.reset();
        group_.reset();
        SetFormatSettings(saved_);
        guitest::GuiTest::TearDown();
    }
    // A group of n unconnected items, shown in a grid of the main window's size.
    void ShowGroup(int n) {
        for (int i = 0; i < n; ++i)
            group_->AddItem(Format("Static.Item%d", i));
        grid_->Model()->SetGroup(group_.get());
        grid_->resize(850, 400);
        grid_->show();
        guitest::Pump();
    }
    QPoint RowCentre(int row) const { return grid_->visualRect(Model().index(row, 1)).center(); }
    TItemGridModel& Model() const { return *grid_->Model(); }

    TFormatSettings saved_;
    std::unique_ptr<TNvOPCGroup> group_ = std::make_unique<TNvOPCGroup>();
    std::unique_ptr<TItemGrid> grid_ = std::make_unique<TItemGrid>();
};

TEST_F(ItemGridTest, WithoutGroupOrItemsOneEmptyRowUnderTheTitles) {
    const std::vector<std::string> empty(TItemGridModel::ColCount);
    EXPECT_EQ(Model().rowCount(), 1);
    EXPECT_EQ(Model().columnCount(), 8);
    EXPECT_EQ(RowText(Model(), 0), empty);
    Model().SetGroup(group_.get());
    EXPECT_EQ(Model().rowCount(), 1);
    EXPECT_EQ(RowText(Model(), 0), empty);
    EXPECT_EQ(Model().data(Model().index(0, 1)).toString(), "");
    grid_->SelectRows(0, 0);
    EXPECT_EQ(grid_->SelectedRows(), Rows{});

    QStringList titles;
    for (int c = 0; c < 9; ++c)
        titles << Model().headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(titles, (QStringList{"Server handle", "Item ID", "Value", "Time stamp", "Quality", "Active",
                                   "Data type", "Error code", ""}));
    EXPECT_FALSE(Model().headerData(0, Qt::Vertical).isValid());
}

TEST_F(ItemGridTest, EachColumnShowsItsItemValue) {
    TNvOPCItem* item = group_->AddItem("Plant.Boiler 1");
    Model().SetGroup(group_.get());
    // Never connected and never read.
    EXPECT_EQ(RowText(Model(), 0),
              (std::vector<std::string>{"N/A", "Plant.Boiler 1", "#EMPTY", "", "Bad;Non-specific;Not limited",
                                        "True", "Default", "$0: OK"}));
    TFormatSettings settings = DefaultFormatSettings();
    settings.DecimalSeparator = ",";
    settings.ShortDateFormat = "dd.mm.yyyy";
    settings.DateSeparator = ".";
    settings.LongTimeFormat = "hh:nn:ss";
    SetFormatSettings(settings);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R8;
    value.dblVal = 2.5;
    item->SetValue(value);
    item->SetTimestamp(EncodeDate(2026, 12, 7) + EncodeTime(13, 5, 9, 42));
    item->SetQuality(0xC0);
    item->SetActive(false);
    item->SetRequestedDataType(VT_ARRAY | VT_I4);
    item->SetError(OPC_E_UNKNOWNITEMID);
    // The largest handle that is not "none" is still a number, and unsigned.
    item->SetServerHandle(0xFFFFFFFE);
    EXPECT_EQ(RowText(Model(), 0),
              (std::vector<std::string>{"4294967294", "Plant.Boiler 1", "2,5", "07.12.2026 13:05:09.042",
                                        "Good;Non-specific;Not limited", "False", "Array of Integer",
                                        "$C0040007: Unknown ItemID"}));
    EXPECT_EQ(Model().data(Model().index(0, 3)).toString(), "07.12.2026 13:05:09.042");
    item->SetServerHandle(0);
    item->SetError(E_FAIL);
    item->SetRequestedDataType(VT_EMPTY);
    EXPECT_EQ(Model().CellText(0, 0), "0");
    EXPECT_EQ(Model().CellText(0, 7), "$80004005: Unspecified error");
    // No time stamp at all: the zero file time, as a failed read brings it.
    EXPECT_EQ(TItemGridModel::FormatTimeStamp(FileTimeToDateTime(std::uint64_t{0})), "");
    EXPECT_EQ(TItemGridModel::FormatTimeStamp(FileTimeToDateTime(std::uint64_t{10000})),
              "01.01.1601 00:00:00.001");
    // Outside the items and the columns there is nothing.
    EXPECT_EQ(Model().CellText(1, 0), "");
    EXPECT_EQ(Model().CellText(0, 8), "");
    EXPECT_EQ(Model().CellText(-1, 1), "");
}

TEST_F(ItemGridTest, ADataChangeReportsOnlyTheRowsOfItsItems) {
    for (int i = 0; i < 10; ++i)
        group_->AddItem(Format("Static.Item%d", i));
    Model().SetGroup(group_.get());
    QSignalSpy changed(&Model(), &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&Model(), &QAbstractItemModel::modelReset);

    TNvOPCTransaction* read = group_->StartTransaction(tkRead);
    for (int row : {7, 2, 1, 3, 2})
        read->Add(group_->Items(row));
    read->AddHandle(4711, TNvOPCCustomItem::NotConnectedHandle);  // an item this group has not
    Model().RefreshRows(read);
    EXPECT_EQ(ChangedRows(changed), (Ranges{{1, 3}, {7, 7}}));
    read->Clear();
    read->Add(group_->Items(9));
    Model().RefreshRows(read);
    EXPECT_EQ(ChangedRows(changed), (Ranges{{9, 9}}));

    // Another group's transaction, none, or items added since the last refresh: every row.
    TNvOPCGroup other;
    TNvOPCTransaction* foreign = other.StartTransaction(tkRead);
    Model().RefreshRows(foreign);
    EXPECT_EQ(ChangedRows(changed), (Ranges{{0, 9}}));
    Model().RefreshRows(nullptr);
    EXPECT_EQ(ChangedRows(changed), (Ranges{{0, 9}}));
    group_->AddItem("Static.New");
    Model().RefreshRows(read);
    EXPECT_EQ(Model().rowCount(), 11);
    EXPECT_EQ(ChangedRows(changed), (Ranges{{0, 10}}));
    EXPECT_EQ(reset.count(), 0);
    read->Rollback();
    foreign->Rollback();
}

TEST_F(ItemGridTest, RowsFollowTheGroupAtTheEndAndTheSelectionStays) {
    ShowGroup(5);
    QSignalSpy inserted(&Model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&Model(), &QAbstractItemModel::rowsRemoved);
    grid_->SelectRows(3, 1);
    EXPECT_EQ(grid_->SelectedRows(), (Rows{1, 2, 3}));
    group_->AddItem("Static.Late");
    Model().Refresh();
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 5);
    EXPECT_EQ(Model().CellText(5, 1), "Static.Late");
    EXPECT_EQ(grid_->SelectedRows(), (Rows{1, 2, 3}));

    // Items removed but not yet refreshed: their rows stay empty and are not offered as selected.
    group_->RemoveItem(5);
    group_->RemoveItem(4);
    group_->RemoveItem(3);
    EXPECT_EQ(grid_->SelectedRows(), (Rows{1, 2}));
    EXPECT_EQ(Model().CellText(4, 1), "");
    Model().Refresh();
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed[0][1].toInt(), 3);
    EXPECT_EQ(removed[0][2].toInt(), 5);
    EXPECT_EQ(Model().rowCount(), 3);
    EXPECT_EQ(grid_->SelectedRows(), (Rows{1, 2}));

    // Out-of-range requests keep what exists; the group going away leaves the empty row.
    grid_->SelectRows(-4, 99);
    EXPECT_EQ(grid_->SelectedRows(), (Rows{0, 1, 2}));
    grid_->SelectRows(7, 9);
    EXPECT_EQ(grid_->SelectedRows(), Rows{});
    group_.reset();
    EXPECT_EQ(Model().Group(), nullptr);
    EXPECT_EQ(Model().rowCount(), 1);
    EXPECT_EQ(Model().CellText(0, 1), "");
    guitest::Pump();
    EXPECT_FALSE(grid_->grab().isNull());
}

TEST_F(ItemGridTest, MouseAndKeyboardSelectOneRangeAndReportIt) {
    ShowGroup(30);
    QSignalSpy rule(grid_.get(), &TItemGrid::SelectionRuleNeeded);
    QSignalSpy released(grid_.get(), &TItemGrid::MouseReleased);
    QTest::mouseClick(grid_->viewport(), Qt::LeftButton, {}, RowCentre(1));
    EXPECT_EQ(grid_->SelectedRows(), (Rows{1}));
    QTest::mouseClick(grid_->viewport(), Qt::LeftButton, Qt::ShiftModifier, RowCentre(4));
    EXPECT_EQ(grid_->SelectedRows(), (Rows{1, 2, 3, 4}));
    EXPECT_EQ(released.count(), 2);
    QTest::keyClick(grid_.get(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(grid_->SelectedRows(), (Rows{1, 2, 3, 4, 5}));
    EXPECT_GE(rule.count(), 3);
    rule.clear();
    grid_->verticalScrollBar()->setValue(grid_->verticalScrollBar()->maximum());
    EXPECT_GE(rule.count(), 1);

    QSignalSpy insert(grid_.get(), &TItemGrid::InsertPressed);
    QSignalSpy remove(grid_.get(), &TItemGrid::DeletePressed);
    for (auto modifiers : {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ControlModifier),
                           Qt::KeyboardModifiers(Qt::ShiftModifier | Qt::AltModifier)}) {
        QTest::keyClick(grid_.get(), Qt::Key_Insert, modifiers);
        QTest::keyClick(grid_.get(), Qt::Key_Delete, modifiers);
    }
    QTest::keyClick(grid_.get(), Qt::Key_Up);
    EXPECT_EQ(insert.count(), 3);
    EXPECT_EQ(remove.count(), 3);
}

TEST_F(ItemGridTest, TheTitleRowResizesColumnsAndReportsTheReleaseAfterwards) {
    ShowGroup(3);
    EXPECT_EQ(grid_->objectName(), "ItemGrid");
    EXPECT_TRUE(grid_->verticalHeader()->isHidden());
    for (int c = 0; c < TItemGridModel::ColCount; ++c)
        EXPECT_EQ(grid_->ColumnWidth(c), 100) << c;
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(grid_->rowHeight(r), 24) << r;
    grid_->SetColumnWidth(2, 180);
    grid_->SetColumnWidth(8, 50);
    EXPECT_EQ(grid_->ColumnWidth(2), 180);
    EXPECT_EQ(grid_->ColumnWidth(8), 0);

    // Dragging the border between the first two titles.
    QHeaderView* titles = grid_->horizontalHeader();
    int widthSeen = -1;
    QObject::connect(grid_.get(), &TItemGrid::MouseReleased, [&] { widthSeen = grid_->ColumnWidth(0); });
    const int y = titles->height() / 2;
    QTest::mousePress(titles->viewport(), Qt::LeftButton, {}, QPoint(99, y));
    QTest::mouseMove(titles->viewport(), QPoint(130, y));
    QTest::mouseRelease(titles->viewport(), Qt::LeftButton, {}, QPoint(130, y));
    EXPECT_EQ(grid_->ColumnWidth(0), 131);
    EXPECT_EQ(widthSeen, 131);
}

// The title row's blue must show whatever style the program runs with.
TEST_F(ItemGridTest, TheTitleRowIsLightBlueUnderEveryStyle) {
    const QString original = QApplication::style()->name();
    for (const QString& key : QStyleFactory::keys()) {
        QApplication::setStyle(key);
        TItemGrid grid;
        grid.resize(850, 200);
        grid.show();
        guitest::Pump();
        const QImage picture = grid.horizontalHeader()->grab().toImage();
        int blue = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                blue += picture.pixelColor(x, y) == QColor(0x80, 0x80, 0xFF) ? 1 : 0;
        EXPECT_GT(blue, picture.width() * picture.height() / 2) << key.toStdString();
    }
    QApplication::setStyle(original);
}

// ---- against a simulation server

class ItemGridServerTest : public ItemGridTest {
protected:
    void SetUp() override {
        ItemGridTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        server_->SetStatusInterval(0);
        server_->SetServerName("Norvane.Simulation.1");
        server_->SetConnected(true);
        ASSERT_TRUE(server_->Connected());
    }
    void TearDown() override {
        group_.reset();
        server_.reset();
        ItemGridTest::TearDown();
        CoUninitialize();
    }
    test::TempConfig config_;
    std::unique_ptr<TNvOPCServer> server_ = std::make_unique<TNvOPCServer>();
};

TEST_F(ItemGridServerTest, ConnectedRefusedAndReadItems) {
    group_->SetAcceptInvalidItems(true);
    group_->SetDataSource(opcdsDevice);
    for (const char* id : {"Static.Int4", "No.Such.Item", "ReadOnly.Real8", "Static.Boolean"})
        group_->AddItem(id);
    group_->SetServer(server_.get());
    ShowGroup(0);
    ASSERT_EQ(Model().rowCount(), 4);
    EXPECT_EQ(Model().CellText(0, 0), Format("%u", group_->Items(0)->ServerHandle()));
    EXPECT_NE(Model().CellText(0, 0), "N/A");
    EXPECT_EQ(Model().CellText(0, 6), "Integer");
    EXPECT_EQ(Model().CellText(0, 7), "$0: OK");
    EXPECT_EQ(Model().CellText(1, 0), "N/A");
    EXPECT_EQ(Model().CellText(1, 7), "$C0040007: Unknown ItemID");

    // A read of two items reports their two rows, which then show what the server answered.
    group_->OnReadCompleted = [this](TObject*, TNvOPCTransaction* t) { Model().RefreshRows(t); };
    QSignalSpy changed(&Model(), &QAbstractItemModel::dataChanged);
    TNvOPCTransaction* read = group_->StartTransaction(tkRead);
    read->Add(group_->Items(3));
    read->Add(group_->Items(2));
    read->Commit(false);
    EXPECT_EQ(ChangedRows(changed), (Ranges{{2, 3}}));
    EXPECT_EQ(Model().CellText(2, 6), "Double");
    EXPECT_EQ(Model().CellText(2, 4), "Good;Non-specific;Not limited");
    EXPECT_NE(Model().CellText(2, 3), "");
    EXPECT_NE(Model().CellText(2, 2), "#EMPTY");
    EXPECT_EQ(Model().CellText(0, 3), "");

    server_->SetConnected(false);
    EXPECT_EQ(Model().CellText(0, 0), "N/A");
    EXPECT_EQ(Model().CellText(2, 4), "Bad;Communication failure;Not limited");
}

}  // namespace
}  // namespace nv
