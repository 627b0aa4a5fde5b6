#include "foundation/NvStringTable.h"

#include "foundation/NvExceptions.h"
#include "foundation/NvStringList.h"
#include "foundation/NvSysUtils.h"

namespace nv {

// The string list's delimiter starts as the regional list separator; the table follows it.
TNvStringTable::TNvStringTable() : delimiter_(TNvStringList().Delimiter()) {}

void TNvStringTable::LoadFromFile(const std::string& fileName) {
    TNvStringList lines;
    lines.LoadFromFile(fileName);
    SetText(lines.Text());
}

void TNvStringTable::SetText(std::string_view text) {
    TNvStringList lines;
    lines.SetText(text);
    TNvStringList cells;
    cells.SetStrictDelimiter(true);
    cells.SetDelimiter(delimiter_);
    cells.SetQuoteChar(quoteChar_);
    std::vector<std::vector<std::string>> rows;
    rows.reserve(static_cast<std::size_t>(lines.Count()));
    for (int i = 0; i < lines.Count(); ++i) {
        cells.SetDelimitedText(lines.Strings(i));
        rows.push_back(cells.ToVector());
    }
    rows_ = std::move(rows);
}

int TNvStringTable::ColCount() const {
    std::size_t most = 0;
    for (const auto& row : rows_)
        most = std::max(most, row.size());
    return static_cast<int>(most);
}

const std::vector<std::string>& TNvStringTable::Row(int row) const {
    if (row < 0 || row >= RowCount())
        throw EListError(Format("List index out of bounds (%d)", row));
    return rows_[static_cast<std::size_t>(row)];
}

std::string TNvStringTable::Cells(int col, int row) const {
    if (row < 0 || row >= RowCount())
        return std::string();
    const auto& cells = rows_[static_cast<std::size_t>(row)];
    if (col < 0 || col >= static_cast<int>(cells.size()))
        return std::string();
    return cells[static_cast<std::size_t>(col)];
}

}  // namespace nv
