#include "app/SelectItemsDlg.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "foundation/NvStringTable.h"
#include "foundation/NvSysUtils.h"

namespace nv {

void TNvStringTableModel::SetRows(std::vector<std::vector<std::string>> rows, int colCount) {
    beginResetModel();
    rows_ = std::move(rows);
    colCount_ = colCount;
    endResetModel();
}

std::string TNvStringTableModel::Cell(int row, int col) const {
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return std::string();
    const auto& cells = rows_[static_cast<std::size_t>(row)];
    if (col < 0 || col >= static_cast<int>(cells.size()))
        return std::string();
    return cells[static_cast<std::size_t>(col)];
}

int TNvStringTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TNvStringTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : colCount_;
}

QVariant TNvStringTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return QVariant();
    return Qs(Cell(index.row(), index.column()));
}

QVariant TNvStringTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    // The column numbers are what the user types into the column field.
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal)
        return section;
    return QVariant();
}

// ---------------------------------------------------------------------------------------------

TSelectItemsDlg::TSelectItemsDlg(QWidget* parent) : TNvForm(parent) {
    setObjectName("SelectItemsDlg");
    setWindowTitle("Select Items to Add");
    setSizeGripEnabled(true);

    model_ = new TNvStringTableModel(this);
    grid_ = new QTableView(this);
    grid_->setObjectName("ItemGrid");
    grid_->setModel(model_);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::ContiguousSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->verticalHeader()->hide();
    grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 4);
    grid_->horizontalHeader()->setHighlightSections(false);
    grid_->horizontalHeader()->setToolTip("Click a column to fetch the items from it");
    grid_->setWordWrap(false);
    grid_->installEventFilter(this);

    auto makeButton = [this](const char* name, const QString& text, const QString& tip) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setToolTip(tip);
        b->setAutoDefault(false);
        return b;
    };
    QPushButton* add = makeButton("AddButton", ">", "Add the selected rows");
    QPushButton* addAll = makeButton("AddAllButton", ">>", "Add all rows");
    QPushButton* remove = makeButton("RemoveButton", "<", "Remove the selected items");
    QPushButton* removeAll = makeButton("RemoveAllButton", "<<", "Remove all items");

    list_ = new QListWidget(this);
    list_->setObjectName("ItemList");
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->installEventFilter(this);

    auto* columnLabel = new QLabel("Fetch items from &column:", this);
    columnLabel->setObjectName("ColumnLabel");
    columnEdit_ = new QLineEdit("0", this);
    columnEdit_->setObjectName("ColumnEdit");
    columnLabel->setBuddy(columnEdit_);
    columnEdit_->setMaximumWidth(FontScaled(this, 50));
    countLabel_ = new QLabel("0 items selected", this);
    countLabel_->setObjectName("CountLabel");

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("OKButton");
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("CancelButton");
    cancel->setAutoDefault(false);

    auto* middle = new QVBoxLayout;
    middle->addStretch();
    for (QPushButton* b : {add, addAll, remove, removeAll})
        middle->addWidget(b);
    middle->addStretch();

    auto* top = new QHBoxLayout;
    top->addWidget(grid_, 3);
    top->addLayout(middle);
    top->addWidget(list_, 2);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(columnLabel);
    bottom->addWidget(columnEdit_);
    bottom->addSpacing(FontScaled(this, 12));
    bottom->addWidget(countLabel_, 1);
    bottom->addWidget(ok);
    bottom->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(bottom);

    setTabOrder(grid_, add);
    setTabOrder(add, addAll);
    setTabOrder(addAll, remove);
    setTabOrder(remove, removeAll);
    setTabOrder(removeAll, list_);
    setTabOrder(list_, columnEdit_);
    setTabOrder(columnEdit_, ok);
    setTabOrder(ok, cancel);

    connect(add, &QPushButton::clicked, this, &TSelectItemsDlg::AddSelected);
    connect(addAll, &QPushButton::clicked, this, &TSelectItemsDlg::AddAll);
    connect(remove, &QPushButton::clicked, this, &TSelectItemsDlg::RemoveSelected);
    connect(removeAll, &QPushButton::clicked, this, &TSelectItemsDlg::RemoveAll);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(grid_, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { AddRows({index.row()}); });
    connect(grid_->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int section) { columnEdit_->setText(QString::number(section)); });

    setMinimumSize(FontScaled(this, 300, 208));
    resize(FontScaled(this, 606, 377));
}

void TSelectItemsDlg::LoadFile(const std::string& fileName) {
    if (loaded_ && fileName == lastFileName_)
        return;
    TNvStringTable table;
    table.LoadFromFile(fileName);
    std::vector<std::vector<std::string>> rows;
    rows.reserve(static_cast<std::size_t>(table.RowCount()));
    for (int r = 0; r < table.RowCount(); ++r)
        rows.push_back(table.Row(r));
    model_->SetRows(std::move(rows), std::max(model_->ColCount(), table.ColCount()));
    if (model_->rowCount() > 0)
        grid_->setCurrentIndex(model_->index(0, 0));
    // Columns as wide as their texts, up to half the grid, so that item IDs can be read.
    grid_->resizeColumnsToContents();
    const int widest = std::max(grid_->viewport()->width() / 2, FontScaled(this, 160));
    for (int c = 0; c < model_->columnCount(); ++c)
        grid_->setColumnWidth(c, std::min(grid_->columnWidth(c), widest));
    lastFileName_ = fileName;
    loaded_ = true;
}

bool TSelectItemsDlg::Execute() {
    CentreOn(nullptr);
    return exec() == QDialog::Accepted;
}

std::vector<std::string> TSelectItemsDlg::Items() const {
    std::vector<std::string> items;
    items.reserve(static_cast<std::size_t>(list_->count()));
    for (int i = 0; i < list_->count(); ++i)
        items.push_back(Ss(list_->item(i)->text()));
    return items;
}

int TSelectItemsDlg::Column() const {
    return StrToIntDef(Trim(Ss(columnEdit_->text())), 0);
}

void TSelectItemsDlg::AddSelected() {
    std::vector<int> rows;
    for (const QModelIndex& index : grid_->selectionModel()->selectedRows())
        rows.push_back(index.row());
    // Without a selection the row of the grid's cursor counts as selected.
    if (rows.empty() && grid_->currentIndex().isValid())
        rows.push_back(grid_->currentIndex().row());
    std::sort(rows.begin(), rows.end());
    AddRows(rows);
}

void TSelectItemsDlg::AddAll() {
    std::vector<int> rows(static_cast<std::size_t>(model_->rowCount()));
    for (int r = 0; r < model_->rowCount(); ++r)
        rows[static_cast<std::size_t>(r)] = r;
    AddRows(rows);
}

void TSelectItemsDlg::RemoveSelected() {
    const auto selected = list_->selectedItems();
    for (QListWidgetItem* item : selected)
        delete item;
    UpdateCount();
}

void TSelectItemsDlg::RemoveAll() {
    list_->clear();
    UpdateCount();
}

void TSelectItemsDlg::AddRows(const std::vector<int>& rows) {
    const int column = Column();
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(rows.size()));
    for (int r : rows)
        texts << Qs(model_->Cell(r, column));
    list_->addItems(texts);
    UpdateCount();
}

void TSelectItemsDlg::UpdateCount() {
    countLabel_->setText(Qs(Format("%d items selected", list_->count())));
}

bool TSelectItemsDlg::eventFilter(QObject* watched, QEvent* event) {
    // The keyboard way to the middle buttons: Insert adds from the grid, Delete removes from
    // the list.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == grid_ && key->key() == Qt::Key_Insert) {
            AddSelected();
            return true;
        }
        if (watched == list_ && key->key() == Qt::Key_Delete) {
            RemoveSelected();
            return true;
        }
    }
    return TNvForm::eventFilter(watched, event);
}

}  // namespace nv
