// Texts other systems and people write: the string tree's and the address space's files, the
// delimited lists of the settings and the item file. Where the program writes the same format,
// what it writes must read back as what it holds.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "discovery/NvOPCAddressSpace.h"
#include "foundation/NvStringList.h"
#include "foundation/NvStringTable.h"
#include "foundation/NvStringTree.h"
#include "fuzz/entries/NvFuzzEntries.h"
#include "fuzz/entries/NvFuzzSupport.h"
#include "opc/NvOPCServer.h"

namespace nv::fuzz {

namespace {

constexpr int kMaxWalk = 200;

// Separator and quote characters that leave a line a line and the two apart.
bool Distinct(char separator, char quote) {
    return separator != quote && separator != '\r' && separator != '\n' && quote != '\r' && quote != '\n';
}

template <class Tree>
std::string Saved(const Tree& tree) {
    std::ostringstream out;
    tree.SaveToStream(out);
    return out.str();
}

template <class Tree>
void Load(Tree& tree, std::string_view text) {
    std::istringstream in{std::string(text)};
    try {
        tree.LoadFromStream(in);
    } catch (const EListError&) {
        // A line without a path or too deep; the lines before it stay loaded.
    }
}

// Paths name their nodes only when the separator and the quote character differ.
void Walk(const TNvStringTree& tree, bool pathsAreNames) {
    TNvStringList lines;
    tree.AssignToStrings(&lines, true, 0, TNvNodeTypes::All(), -1);
    TNvStringTree copy;
    tree.AssignToTree(&copy, -1, TNvNodeTypes::All(), -1);
    Check(copy.Count() == tree.Count(), "a whole copy of a tree has all its nodes");
    for (int i = 0; i < tree.Count() && i < kMaxWalk; ++i) {
        tree.Levels(i);
        tree.ParentIndex(i);
        tree.HasChildren(i);
        tree.LastDescendant(i);
        tree.NodeType(i);
        const std::string path = tree.PathOfIndex(i);
        const int found = tree.IndexOfPath(path);
        Check(!pathsAreNames || (found >= 0 && found <= i && tree.PathOfIndex(found) == path),
              "a node is found by its path");
        TNvStringList elements;
        tree.PathToSequence(path, elements, false);
        int next = i;
        tree.FindNext(next, tree.Levels(i), -1, tree.Strings(i), true);
    }
}

}  // namespace

// The characters a tree's owner sets as its separator and quote: one ASCII character each
// (a byte of a multi-byte UTF-8 character cannot separate names).
char AsciiChar(ByteReader& in) {
    return static_cast<char>(in.Byte() & 0x7F);
}

void StringTree(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const char separator = AsciiChar(in);
    const char quote = AsciiChar(in);
    const std::string_view text = in.Rest();
    TNvStringTree tree;
    tree.SetPathSeparator(separator);
    tree.SetQuoteChar(quote);
    Load(tree, text);
    Walk(tree, separator != quote);
    if (!Distinct(separator, quote))
        return;
    const std::string first = Saved(tree);
    TNvStringTree again;
    again.SetPathSeparator(separator);
    again.SetQuoteChar(quote);
    Load(again, first);
    Check(again.Count() == tree.Count(), "a saved tree loads with all its nodes");
    for (int i = 0; i < tree.Count(); ++i) {
        if (again.Strings(i) != tree.Strings(i) || again.Levels(i) != tree.Levels(i)) {
            std::fprintf(stderr, "node %d: [%s] at %d read back as [%s] at %d\n", i, tree.Strings(i).c_str(),
                         tree.Levels(i), again.Strings(i).c_str(), again.Levels(i));
            Check(false, "a saved tree loads as it was");
        }
    }
    Check(Saved(again) == first, "a saved tree saves the same again");
}

void AddressSpace(const std::uint8_t* data, std::size_t size) {
    ScratchFolder();
    TNvOPCServer server;
    TNvOPCAddressSpace space(&server);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        Load(space, text);
    } catch (const ENvOPCAddressSpaceError&) {
        // The file's separator and quote character are the same: refused, the tree unchanged.
        return;
    }
    Walk(space, true);
    for (int i = 0; i < space.Count() && i < kMaxWalk; ++i)
        space.SpaceNodes(i);
    const std::string first = Saved(space);
    TNvOPCAddressSpace again(&server);
    Load(again, first);
    Check(again.Count() == space.Count(), "a saved address space loads with all its nodes");
    if (again.RootItem() != space.RootItem() || again.RootPath() != space.RootPath() ||
        again.PathSeparator() != space.PathSeparator() || again.QuoteChar() != space.QuoteChar()) {
        std::fprintf(stderr,
                     "header written: [%s]\nread back: RootItem=[%s] RootPath=[%s] %02x %02x, was [%s] [%s] "
                     "%02x %02x\n",
                     first.substr(0, first.find('\n')).c_str(), again.RootItem().c_str(),
                     again.RootPath().c_str(), static_cast<unsigned char>(again.PathSeparator()),
                     static_cast<unsigned char>(again.QuoteChar()), space.RootItem().c_str(),
                     space.RootPath().c_str(), static_cast<unsigned char>(space.PathSeparator()),
                     static_cast<unsigned char>(space.QuoteChar()));
        Check(false, "a saved address space keeps its header");
    }
    Check(Saved(again) == first, "a saved address space saves the same again");
}

void DelimitedText(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const char delimiter = static_cast<char>(in.Byte());
    const char quote = static_cast<char>(in.Byte());
    const bool strict = in.Bool();
    const std::string_view text = in.Rest();

    TNvStringList list;
    list.SetDelimiter(delimiter);
    list.SetQuoteChar(quote);
    list.SetStrictDelimiter(strict);
    list.SetDelimitedText(text);
    // Written with a quote character apart from the delimiter (and, unless strict, from the
    // blanks that separate entries too), the entries read back as they are.
    const auto unsafe = [&](char c) { return !strict && static_cast<unsigned char>(c) <= ' '; };
    if (Distinct(delimiter, quote) && !unsafe(delimiter) && !unsafe(quote) && quote != '\0' &&
        delimiter != '\0') {
        TNvStringList again;
        again.SetDelimiter(delimiter);
        again.SetQuoteChar(quote);
        again.SetStrictDelimiter(strict);
        again.SetDelimitedText(list.DelimitedText());
        Check(again.ToVector() == list.ToVector(),
              "delimited text reads back as the entries it was written from");
    }

    TNvStringList comma;
    comma.SetCommaText(text);
    TNvStringList commaAgain;
    commaAgain.SetCommaText(comma.CommaText());
    Check(commaAgain.ToVector() == comma.ToVector(),
          "comma text reads back as the entries it was written from");

    TNvStringList path;
    path.SetPathText(text, delimiter, quote);
    if (Distinct(delimiter, quote)) {
        TNvStringList pathAgain;
        pathAgain.SetPathText(path.PathText(delimiter, quote), delimiter, quote);
        Check(pathAgain.ToVector() == path.ToVector(),
              "path text reads back as the elements it was written from");
    }

    TNvStringList lines;
    lines.SetText(text);
    for (int i = 0; i < lines.Count(); ++i) {
        lines.Names(i);
        lines.ValueFromIndex(i);
    }
    TNvStringList linesAgain;
    linesAgain.SetText(lines.Text());
    Check(linesAgain.ToVector() == lines.ToVector(), "line text reads back as the lines it was written from");
}

void StringTable(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const char delimiter = static_cast<char>(in.Byte());
    const char quote = static_cast<char>(in.Byte());
    TNvStringTable table;
    table.SetDelimiter(delimiter);
    table.SetQuoteChar(quote);
    table.SetText(in.Rest());
    const int cols = table.ColCount();
    for (int row = 0; row < table.RowCount(); ++row) {
        Check(static_cast<int>(table.Row(row).size()) <= cols, "no row has more cells than the column count");
        for (int col = -1; col <= cols; ++col)
            table.Cells(col, row);
    }
    table.Cells(0, table.RowCount());
}

}  // namespace nv::fuzz
