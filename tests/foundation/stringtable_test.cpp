#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "foundation/NvExceptions.h"
#include "foundation/NvStringTable.h"
#include "foundation/NvSysUtils.h"

namespace nv {
namespace {

using Row = std::vector<std::string>;

TEST(StringTable, CellsSplitAtTheDelimiterOnlyAndQuotesHoldIt) {
    TNvStringTable table;
    table.SetDelimiter(',');
    table.SetText("Random.Int1,Int\r\n\"Bucket, Brigade.Real4\",\"say \"\"hi\"\"\", x \n,\nlast,");
    ASSERT_EQ(table.RowCount(), 4);
    EXPECT_EQ(table.Row(0), (Row{"Random.Int1", "Int"}));
    // Blanks stay in the cells; quotes are read and a doubled quote is one.
    EXPECT_EQ(table.Row(1), (Row{"Bucket, Brigade.Real4", "say \"hi\"", " x "}));
    EXPECT_EQ(table.Row(2), (Row{"", ""}));
    EXPECT_EQ(table.Row(3), (Row{"last", ""}));
    EXPECT_EQ(table.ColCount(), 3);
}

TEST(StringTable, CellsOutsideARowAreEmptyAndRowsOutsideTheTableRaise) {
    TNvStringTable table;
    table.SetDelimiter(';');
    table.SetText("a;b\n\nc");
    ASSERT_EQ(table.RowCount(), 3);
    EXPECT_TRUE(table.Row(1).empty());
    EXPECT_EQ(table.Cells(1, 0), "b");
    EXPECT_EQ(table.Cells(2, 0), "");
    EXPECT_EQ(table.Cells(-1, 0), "");
    EXPECT_EQ(table.Cells(0, 1), "");
    EXPECT_EQ(table.Cells(0, 3), "");
    EXPECT_THROW(table.Row(3), EListError);
    try {
        table.Row(-1);
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (-1)");
    }
}

TEST(StringTable, TheDelimiterFollowsTheRegionalListSeparator) {
    TFormatSettings saved = FormatSettings();
    TFormatSettings german = saved;
    german.ListSeparator = ";";
    SetFormatSettings(german);
    TNvStringTable table;
    SetFormatSettings(saved);
    EXPECT_EQ(table.Delimiter(), ';');
    table.SetText("a,b;c");
    EXPECT_EQ(table.Row(0), (Row{"a,b", "c"}));
}

TEST(StringTable, LoadFromFileSkipsTheByteOrderMarkAndKeepsTheTableOnFailure) {
    auto dir = std::filesystem::path(::testing::TempDir()) / "nv-stringtable-load";
    std::filesystem::create_directories(dir);
    auto file = (dir / "items.csv").string();
    {
        std::ofstream out(file, std::ios::binary);
        out << "\xEF\xBB\xBFSimulation.R\xC3\xA4ume,1\r\nTwo,2\r\n";
    }
    TNvStringTable table;
    table.SetDelimiter(',');
    table.LoadFromFile(file);
    ASSERT_EQ(table.RowCount(), 2);
    EXPECT_EQ(table.Cells(0, 0), "Simulation.R\xC3\xA4ume");
    EXPECT_THROW(table.LoadFromFile((dir / "missing.csv").string()), EFOpenError);
    EXPECT_EQ(table.RowCount(), 2);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace nv
