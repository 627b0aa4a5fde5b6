#include "app/ItemGrid.h"

#include <QHeaderView>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>
#include <climits>
#include <exception>
#include <functional>
#include <utility>

#include "foundation/NvComponent.h"
#include "foundation/NvConvert.h"
#include "foundation/ui/NvForm.h"
#include "opc/NvOPCError.h"
#include "opc/NvOPCGroup.h"
#include "opc/NvOPCItem.h"
#include "opc/NvOPCTransaction.h"

namespace nv {

namespace {

constexpr const char* kTitles[TItemGridModel::ColCount] = {
    "Server handle", "Item ID", "Value", "Time stamp", "Quality", "Active", "Data type", "Error code"};

// The title row reports the release of a mouse button after it has handled it, so that a
// receiver reading the column widths sees those the drag left.
class TitleRow : public QHeaderView {
public:
    TitleRow(std::function<void()> onReleased, QWidget* parent)
        : QHeaderView(Qt::Horizontal, parent), onReleased_(std::move(onReleased)) {}

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QHeaderView::mouseReleaseEvent(event);
        onReleased_();
    }

private:
    std::function<void()> onReleased_;
};

}  // namespace

// Free notification from the shown group: the model must not keep a group that has gone.
TItemGridModel::TItemGridModel(QObject* parent)
    : QAbstractTableModel(parent), watch_(std::make_unique<TNvComponentWatch>([this] { GroupDestroyed(); })) {}

TItemGridModel::~TItemGridModel() {
    // The group must not call back into a model that is half destroyed.
    watch_->Watch(nullptr);
}

void TItemGridModel::SetGroup(TNvOPCGroup* group) {
    group_ = group;
    watch_->Watch(group);
    Refresh();
}

void TItemGridModel::GroupDestroyed() {
    group_ = nullptr;
    Refresh();
}

int TItemGridModel::ShownItemCount() const {
    return group_ != nullptr ? group_->ItemCount() : 0;
}

void TItemGridModel::Refresh() {
    items_ = ShownItemCount();
    const int wanted = std::max(1, items_);
    if (wanted > rows_) {
        beginInsertRows(QModelIndex(), rows_, wanted - 1);
        rows_ = wanted;
        endInsertRows();
    } else if (wanted < rows_) {
        beginRemoveRows(QModelIndex(), wanted, rows_ - 1);
        rows_ = wanted;
        endRemoveRows();
    }
    emit dataChanged(index(0, 0), index(rows_ - 1, ColCount - 1), {Qt::DisplayRole});
}

void TItemGridModel::RefreshRows(const TNvOPCTransaction* transaction) {
    if (transaction == nullptr || group_ == nullptr || transaction->Group() != group_ ||
        group_->ItemCount() != items_) {
        Refresh();
        return;
    }
    if (items_ == 0)
        return;
    touched_.assign(static_cast<std::size_t>(items_), 0);
    const int n = transaction->Count();
    for (int i = 0; i < n; ++i) {
        const int row = group_->IndexOfClientHandle(transaction->ClientHandles(i));
        if (row >= 0 && row < items_)
            touched_[static_cast<std::size_t>(row)] = 1;
    }
    for (int row = 0; row < items_;) {
        if (touched_[static_cast<std::size_t>(row)] == 0) {
            ++row;
            continue;
        }
        const int first = row;
        while (row < items_ && touched_[static_cast<std::size_t>(row)] != 0)
            ++row;
        emit dataChanged(index(first, 0), index(row - 1, ColCount - 1), {Qt::DisplayRole});
    }
}

std::string TItemGridModel::ColumnTitle(int column) {
    if (column < 0 || column >= ColCount)
        return std::string();
    return kTitles[column];
}

std::string TItemGridModel::FormatTimeStamp(TDateTime value) {
    // The zero file time, 1601-01-01 00:00, is what servers send for an entry they could not
    // read: no time at all, like the 0 of an item that has never had a value.
    static const TDateTime zeroFileTime = EncodeDate(1601, 1, 1);
    if (value == 0 || value == zeroFileTime)
        return std::string();
    const TFormatSettings& settings = FormatSettings();
    return FormatDateTime(settings.ShortDateFormat + " " + settings.LongTimeFormat + ".zzz", value, settings);
}

std::string TItemGridModel::CellText(int row, int column) const {
    // Rows follow the group only at a refresh: an item added since has no row yet, and a row
    // whose item has been removed since stays empty until then.
    if (group_ == nullptr || row < 0 || row >= items_ || row >= group_->ItemCount())
        return std::string();
    const TNvOPCItem* item = group_->Items(row);
    switch (column) {
        case 0:
            return item->ServerHandle() == TNvOPCCustomItem::NotConnectedHandle
                       ? "N/A"
                       : Format("%u", item->ServerHandle());
        case 1:
            return item->GetItemID();
        case 2:
            return VariantToStr(item->Value(), false);
        case 3:
            return FormatTimeStamp(item->Timestamp());
        case 4:
            return QualityToStr(item->Quality());
        case 5:
            return BoolToText(item->GetActive());
        case 6:
            return VarTypeToStr(item->GetDataType());
        case 7:
            return Format("$%x: %s", item->Error(), GetOPCErrorName(item->Error()));
        default:
            return std::string();
    }
}

int TItemGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int TItemGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColCount;
}

QVariant TItemGridModel::data(const QModelIndex& index, int role) const {
    // Long values (arrays, strings) are cut off by the column; the tool tip shows them whole.
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return QVariant();
    // The view cannot take an exception; a text that cannot be made shows why instead.
    try {
        return Qs(CellText(index.row(), index.column()));
    } catch (const std::exception& e) {
        return Qs(e.what());
    } catch (...) {
        return QStringLiteral("?");
    }
}

QVariant TItemGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal && section >= 0 && section < ColCount)
        return Qs(ColumnTitle(section));
    return QVariant();
}

Qt::ItemFlags TItemGridModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

// ---------------------------------------------------------------------------------------------

TItemGrid::TItemGrid(QWidget* parent) : QTableView(parent), model_(new TItemGridModel(this)) {
    setObjectName("ItemGrid");
    setHorizontalHeader(new TitleRow([this] { emit MouseReleased(); }, this));
    setModel(model_);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setCornerButtonEnabled(false);

    // No fixed column: the row numbers are not shown.
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(RowHeight);

    QHeaderView* titles = horizontalHeader();
    titles->setMinimumSectionSize(1);
    titles->setDefaultSectionSize(DefaultColumnWidth);
    titles->setSectionResizeMode(QHeaderView::Interactive);
    titles->setStretchLastSection(false);
    titles->setSectionsMovable(false);
    titles->setSectionsClickable(false);
    titles->setHighlightSections(false);
    titles->setFixedHeight(RowHeight);
    // A style sheet rather than the model's background role: several styles (Fusion among them)
    // paint header sections with their own gradient and ignore a background brush.
    titles->setStyleSheet(QStringLiteral("QHeaderView::section { background-color: #%1; color: black;"
                                         " border: none; border-right: 1px solid #5858B0;"
                                         " border-bottom: 1px solid #5858B0; padding: 0px 4px; }")
                              .arg(TitleColor, 6, 16, QLatin1Char('0')));

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { emit SelectionRuleNeeded(); });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { emit SelectionRuleNeeded(); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { emit SelectionRuleNeeded(); });
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { emit SelectionRuleNeeded(); });
}

std::vector<int> TItemGrid::SelectedRows() const {
    std::vector<int> rows;
    const TNvOPCGroup* group = model_->Group();
    if (group == nullptr)
        return rows;
    const int count = std::min(group->ItemCount(), model_->rowCount());
    if (count <= 0)
        return rows;
    int top = INT_MAX;
    int bottom = -1;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        top = std::min(top, range.top());
        bottom = std::max(bottom, range.bottom());
    }
    bottom = std::min(bottom, count - 1);
    for (int row = top; row <= bottom; ++row)
        rows.push_back(row);
    return rows;
}

void TItemGrid::SelectRows(int first, int last) {
    if (first > last)
        std::swap(first, last);
    const int rowCount = model_->rowCount();
    first = std::max(first, 0);
    last = std::min(last, rowCount - 1);
    if (first > last) {
        selectionModel()->clearSelection();
        return;
    }
    const int column = std::max(currentIndex().column(), 0);
    selectionModel()->setCurrentIndex(model_->index(first, column), QItemSelectionModel::NoUpdate);
    selectionModel()->select(
        QItemSelection(model_->index(first, 0), model_->index(last, TItemGridModel::ColCount - 1)),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

int TItemGrid::ColumnWidth(int column) const {
    if (column < 0 || column >= TItemGridModel::ColCount)
        return 0;
    return columnWidth(column);
}

void TItemGrid::SetColumnWidth(int column, int width) {
    if (column < 0 || column >= TItemGridModel::ColCount)
        return;
    setColumnWidth(column, std::max(width, 0));
}

void TItemGrid::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Insert:
            event->accept();
            emit InsertPressed();
            return;
        case Qt::Key_Delete:
            event->accept();
            emit DeletePressed();
            return;
        default:
            QTableView::keyPressEvent(event);
    }
}

void TItemGrid::mouseReleaseEvent(QMouseEvent* event) {
    QTableView::mouseReleaseEvent(event);
    // A mouse selection has ended.
    emit SelectionRuleNeeded();
    emit MouseReleased();
}

}  // namespace nv
