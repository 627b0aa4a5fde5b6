// The lines the log window shows, as a list model: one row per physical line, while the line
// limit counts entries, as the log itself does (a transaction's entry spans several lines).
// Rows are only appended at the end and dropped at the start, so a view over 100 000 lines
// stays smooth.
#pragma once

#include <QAbstractListModel>
#include <deque>
#include <string>
#include <vector>

namespace nv {

class TNvLogLinesModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    // Replaces everything with these entries.
    void SetEntries(const std::vector<std::string>& entries);
    void Clear();
    // Appends an entry at the bottom; with `maximum` > 0 the oldest entries go first so that at
    // most `maximum` remain; a negative maximum only empties the list (the entry is not shown).
    void AddEntry(const std::string& entry, int maximum);

    int EntryCount() const { return static_cast<int>(entryLines_.size()); }
    int LineCount() const { return static_cast<int>(lines_.size()); }
    const std::string& Line(int row) const { return lines_.at(static_cast<std::size_t>(row)); }
    // The longest line, in characters, since the last reset; the view sizes its column by it.
    int WidestLine() const { return widest_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    void Split(const std::string& entry, std::vector<std::string>& lines);
    void DropOldest();

    std::deque<std::string> lines_;
    // Physical lines of each entry, oldest first.
    std::deque<int> entryLines_;
    int widest_ = 0;
};

}  // namespace nv
