#include "app/NvLogLinesModel.h"

#include <QString>
#include <algorithm>

namespace nv {

void TNvLogLinesModel::Split(const std::string& entry, std::vector<std::string>& lines) {
    std::size_t start = 0;
    for (;;) {
        std::size_t end = entry.find_first_of("\r\n", start);
        std::string line = entry.substr(start, end == std::string::npos ? std::string::npos : end - start);
        // Characters, not bytes: the view's font is fixed-pitch.
        widest_ = std::max(widest_, static_cast<int>(QString::fromStdString(line).size()));
        lines.push_back(std::move(line));
        if (end == std::string::npos)
            break;
        start = end + ((entry[end] == '\r' && end + 1 < entry.size() && entry[end + 1] == '\n') ? 2 : 1);
        // A final line break ends the entry; it opens no empty line.
        if (start >= entry.size())
            break;
    }
}

void TNvLogLinesModel::SetEntries(const std::vector<std::string>& entries) {
    beginResetModel();
    lines_.clear();
    entryLines_.clear();
    widest_ = 0;
    std::vector<std::string> split;
    for (const std::string& entry : entries) {
        split.clear();
        Split(entry, split);
        entryLines_.push_back(static_cast<int>(split.size()));
        for (auto& line : split)
            lines_.push_back(std::move(line));
    }
    endResetModel();
}

void TNvLogLinesModel::Clear() {
    if (lines_.empty() && entryLines_.empty())
        return;
    beginResetModel();
    lines_.clear();
    entryLines_.clear();
    widest_ = 0;
    endResetModel();
}

void TNvLogLinesModel::DropOldest() {
    const int n = entryLines_.front();
    if (n > 0) {
        beginRemoveRows(QModelIndex(), 0, n - 1);
        lines_.erase(lines_.begin(), lines_.begin() + n);
        entryLines_.pop_front();
        endRemoveRows();
    } else {
        entryLines_.pop_front();
    }
}

void TNvLogLinesModel::AddEntry(const std::string& entry, int maximum) {
    if (maximum < 0) {
        Clear();
        return;
    }
    while (maximum > 0 && EntryCount() >= maximum)
        DropOldest();
    std::vector<std::string> split;
    Split(entry, split);
    const int first = LineCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(split.size()) - 1);
    for (auto& line : split)
        lines_.push_back(std::move(line));
    entryLines_.push_back(static_cast<int>(split.size()));
    endInsertRows();
}

int TNvLogLinesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : LineCount();
}

QVariant TNvLogLinesModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= LineCount())
        return QVariant();
    return QString::fromStdString(lines_[static_cast<std::size_t>(index.row())]);
}

}  // namespace nv
