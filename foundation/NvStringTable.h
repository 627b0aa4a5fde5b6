// TNvStringTable: a delimited text file read as a table of text rows, as a user keeps a list of
// item IDs in a spreadsheet export. One row per line; a row's cells are the line split at the
// delimiter (initially the list separator of the regional settings); a cell in double quotes may
// hold the delimiter, a doubled quote standing for one. Blanks belong to the cells: only the
// delimiter separates them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "foundation/NvObject.h"

namespace nv {

class TNvStringTable : public TObject {
public:
    TNvStringTable();

    // UTF-8, a byte order mark skipped; lines end at CR LF, CR or LF. EFOpenError "Cannot open
    // file "<name>". <reason>"; a table that fails to load is left as it was.
    void LoadFromFile(const std::string& fileName);
    void SetText(std::string_view text);
    void Clear() { rows_.clear(); }

    int RowCount() const { return static_cast<int>(rows_.size()); }
    // The largest number of cells of any row (0 for an empty table).
    int ColCount() const;
    // EListError "List index out of bounds (%d)" outside 0 .. RowCount() - 1.
    const std::vector<std::string>& Row(int row) const;
    // The cell, or "" for a position the table does not have (a short row, a
    // negative column, a row past the end).
    std::string Cells(int col, int row) const;

    char Delimiter() const { return delimiter_; }
    void SetDelimiter(char delimiter) { delimiter_ = delimiter; }
    char QuoteChar() const { return quoteChar_; }
    void SetQuoteChar(char quote) { quoteChar_ = quote; }

private:
    std::vector<std::vector<std::string>> rows_;
    char delimiter_;
    char quoteChar_ = '"';
};

}  // namespace nv
