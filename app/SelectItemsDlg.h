// TSelectItemsDlg: shows a delimited text file as a table and lets the user pick the item IDs to
// add from one of its columns.
#pragma once

#include <QAbstractTableModel>
#include <string>
#include <vector>

#include "foundation/ui/NvForm.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableView;

namespace nv {

// The loaded table as the grid shows it: at least ColCount columns, cells a row lacks are empty.
class TNvStringTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void SetRows(std::vector<std::vector<std::string>> rows, int colCount);
    int ColCount() const { return colCount_; }
    // The cell, "" where the row has none.
    std::string Cell(int row, int col) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    std::vector<std::vector<std::string>> rows_;
    int colCount_ = 5;
};

class TSelectItemsDlg : public TNvForm {
    Q_OBJECT
public:
    explicit TSelectItemsDlg(QWidget* parent = nullptr);

    // Reads the file into the grid, unless it is the file loaded last (same name, letter case
    // counts): then grid and chosen list stay as they are. A file that cannot be read raises
    // EFOpenError and changes nothing.
    void LoadFile(const std::string& fileName);
    // Shows the dialog modally; true when it was closed with OK.
    bool Execute();
    // The chosen item IDs, in list order.
    std::vector<std::string> Items() const;
    // The number in ColumnEdit; 0 when it is not a number.
    int Column() const;

    // The commands of the four middle buttons.
    void AddSelected();
    void AddAll();
    void RemoveSelected();
    void RemoveAll();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void AddRows(const std::vector<int>& rows);
    void UpdateCount();

    TNvStringTableModel* model_;
    QTableView* grid_;
    QListWidget* list_;
    QLineEdit* columnEdit_;
    QLabel* countLabel_;
    std::string lastFileName_;
    bool loaded_ = false;
};

}  // namespace nv
