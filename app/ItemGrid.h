// The item grid of the main window: one row per item of the shown group, with its server handle,
// ID, value, time stamp, quality, active state, data type and result code.
//
// The model keeps no text: every cell is formatted from the live item when the view asks for it,
// so only the rows on screen cost anything, however many items the group holds. After a data
// change or a read, only the rows of the items that the transaction carried are reported as
// changed, and the view repaints only those of them that are visible.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <memory>
#include <string>
#include <vector>

#include "foundation/NvComponent.h"
#include "foundation/NvSysUtils.h"

namespace nv {

class TNvOPCGroup;
class TNvOPCTransaction;

// One row per item of the shown group; with no group or no items one empty row.
class TItemGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int ColCount = 8;

    explicit TItemGridModel(QObject* parent = nullptr);
    ~TItemGridModel() override;

    TNvOPCGroup* Group() const { return group_; }
    // None allowed. Does a full refresh. A group that is destroyed while shown is let go of by
    // itself: the grid falls back to its empty row.
    void SetGroup(TNvOPCGroup* group);
    // After an item command: the row count follows the group's item count, rows being inserted or
    // removed at the end so that a selection of rows that still exist is kept, and every row is
    // reported changed.
    void Refresh();
    // After a data change or a read completion: only the rows of the items the transaction
    // carried are reported changed, in runs of adjacent rows. A transaction of another group or
    // none, or a group whose item count no longer matches the rows, gets a full Refresh().
    void RefreshRows(const TNvOPCTransaction* transaction);

    // The text of a cell exactly as the grid shows it (row = item index); "" outside the shown
    // items.
    std::string CellText(int row, int column) const;
    // "Server handle", "Item ID", "Value", "Time stamp", "Quality", "Active", "Data type",
    // "Error code"; "" for any other column.
    static std::string ColumnTitle(int column);
    // Short date, a blank, long time and milliseconds in the regional formats. An item that has
    // never had a value has a time stamp of 0, and a server gives the zero file time (midnight of
    // 1601-01-01) for an entry it could not read; both show as an empty cell, not as a date.
    static std::string FormatTimeStamp(TDateTime value);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void GroupDestroyed();
    int ShownItemCount() const;

    TNvOPCGroup* group_ = nullptr;
    std::unique_ptr<TNvComponentWatch> watch_;
    // Rows the view knows of: the group's item count at the last refresh, at least 1.
    int rows_ = 1;
    // The group's item count at the last refresh (0 without a group).
    int items_ = 0;
    // Scratch of RefreshRows: one flag per row, kept to avoid an allocation per data change.
    std::vector<unsigned char> touched_;
};

// The grid: a table view over the model, objectName "ItemGrid". Whole rows are selected, one
// contiguous range at a time; the title row is light blue; rows are 24 pixels high; columns
// start 100 pixels wide and can be resized by the user.
class TItemGrid : public QTableView {
    Q_OBJECT
public:
    static constexpr int RowHeight = 24;
    static constexpr int DefaultColumnWidth = 100;
    // The title row's colour: red 0x80, green 0x80, blue 0xFF.
    static constexpr unsigned TitleColor = 0x8080FF;

    explicit TItemGrid(QWidget* parent = nullptr);

    TItemGridModel* Model() const { return model_; }
    // Item indexes of the rows from the top to the bottom of the selection; empty without a
    // group, without items, or without a selection. Rows beyond the group's items (removed since
    // the last refresh) are left out.
    std::vector<int> SelectedRows() const;
    // Selects rows first .. last (in either order) and makes `first` the current row, the anchor
    // of a Shift-extension. Rows outside the grid are left out; when none is left, the selection
    // is cleared.
    void SelectRows(int first, int last);
    // 0 for a column that does not exist; setting one is ignored, a negative width reads as 0.
    int ColumnWidth(int column) const;
    void SetColumnWidth(int column, int width);

signals:
    // The selection changed, a mouse selection ended, the current cell moved, or the grid
    // scrolled.
    void SelectionRuleNeeded();
    // Insert and Delete, whatever modifier keys are held.
    void InsertPressed();
    void DeletePressed();
    // A mouse button was released over the cells or the title row (column widths may have
    // changed).
    void MouseReleased();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TItemGridModel* model_;
};

}  // namespace nv
