#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "foundation/NvStringList.h"
#include "foundation/NvSysUtils.h"

namespace nv {
namespace {

using Strings = std::vector<std::string>;

// Counts its own destruction, to see which list destroyed which object.
class Tracked : public TObject {
public:
    explicit Tracked(int* destroyed) : destroyed_(destroyed) {}
    ~Tracked() override { ++*destroyed_; }

private:
    int* destroyed_;
};

std::string ListErrorText(const std::function<void()>& f) {
    try {
        f();
    } catch (const EListError& e) {
        return e.Message();
    }
    return "(no EListError)";
}

TEST(StringList, IndexErrorsNameTheIndex) {
    TNvStringList list;
    list.Add("a");
    EXPECT_EQ(ListErrorText([&] { list.Strings(1); }), "List index out of bounds (1)");
    EXPECT_EQ(ListErrorText([&] { list.Objects(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(ListErrorText([&] { list.Delete(5); }), "List index out of bounds (5)");
    EXPECT_EQ(ListErrorText([&] { list.Insert(2, "x"); }), "List index out of bounds (2)");
    EXPECT_EQ(ListErrorText([&] { list.Exchange(0, 1); }), "List index out of bounds (1)");
    EXPECT_EQ(ListErrorText([&] { list.Names(3); }), "List index out of bounds (3)");
    list.Insert(1, "end");  // one past the last is a valid insert position
    EXPECT_EQ(list.ToVector(), (Strings{"a", "end"}));
}

TEST(StringList, SortedCaseInsensitiveListIgnoresDuplicatesInAnyLetterCase) {
    // As the server list keeps its CLSID texts.
    TNvStringList list;
    list.SetSorted(true);
    list.SetDuplicates(dupIgnore);
    TObject first, second;
    EXPECT_EQ(list.AddObject("{B0000000-0000-0000-0000-000000000000}", &first), 0);
    EXPECT_EQ(list.AddObject("{a0000000-0000-0000-0000-000000000000}", &second), 0);
    EXPECT_EQ(list.AddObject("{A0000000-0000-0000-0000-000000000000}", nullptr), 0);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Objects(0), &second);  // the ignored duplicate did not replace the object
    EXPECT_EQ(list.IndexOf("{b0000000-0000-0000-0000-000000000000}"), 1);
    int index = -1;
    EXPECT_FALSE(list.Find("{AA", index));
    EXPECT_EQ(index, 1);
    EXPECT_EQ(ListErrorText([&] { list.Insert(0, "x"); }), "Operation not allowed on sorted list");
    EXPECT_EQ(ListErrorText([&] { list.SetStrings(0, "x"); }), "Operation not allowed on sorted list");
}

TEST(StringList, DuplicatesErrorAndAccept) {
    TNvStringList list;
    list.SetSorted(true);
    list.SetDuplicates(dupError);
    list.Add("x");
    EXPECT_EQ(ListErrorText([&] { list.Add("X"); }), "String list does not allow duplicates");
    EXPECT_EQ(list.Count(), 1);
    list.SetDuplicates(dupAccept);
    list.Add("X");
    list.Add("a");
    EXPECT_EQ(list.ToVector(), (Strings{"a", "X", "x"}));
    // A case-sensitive list treats the two as different entries and orders them bytewise.
    TNvStringList exact;
    exact.SetCaseSensitive(true);
    exact.SetSorted(true);
    exact.SetDuplicates(dupError);
    exact.Add("b");
    exact.Add("B");
    exact.Add("a");
    EXPECT_EQ(exact.ToVector(), (Strings{"B", "a", "b"}));
    EXPECT_EQ(exact.IndexOf("A"), -1);
}

TEST(StringList, CaseInsensitiveSortIsStableAndDeterministic) {
    TNvStringList list;
    for (const char* s : {"beta", "Alpha", "ALPHA", "_x", "alpha", "Beta", "a"})
        list.Add(s);
    list.Sort();
    EXPECT_EQ(list.ToVector(), (Strings{"a", "Alpha", "ALPHA", "alpha", "beta", "Beta", "_x"}));
    // Switching a sorted list to case-sensitive sorts it again.
    list.SetSorted(true);
    list.SetCaseSensitive(true);
    EXPECT_EQ(list.ToVector(), (Strings{"ALPHA", "Alpha", "Beta", "_x", "a", "alpha", "beta"}));
}

TEST(StringList, CustomSortSeesTheOriginalPositions) {
    TNvStringList list;
    for (const char* s : {"10", "9", "100", "9"})
        list.Add(s);
    list.CustomSort(
        [](TNvStringList& l, int a, int b) { return StrToInt(l.Strings(a)) - StrToInt(l.Strings(b)); });
    EXPECT_EQ(list.ToVector(), (Strings{"9", "9", "10", "100"}));
}

TEST(StringList, UnsortedFindAndIndexOfSearchEveryEntry) {
    TNvStringList list;
    list.AddStrings(Strings{"z", "b", "a"});
    int index = -1;
    EXPECT_TRUE(list.Find("A", index));
    EXPECT_EQ(index, 2);
    EXPECT_FALSE(list.Find("q", index));
    EXPECT_EQ(list.IndexOf("B"), 1);
    TObject o;
    list.SetObjects(2, &o);
    EXPECT_EQ(list.IndexOfObject(&o), 2);
    EXPECT_EQ(list.IndexOfObject(nullptr), 0);
    list.Exchange(0, 2);
    list.Move(0, 1);
    EXPECT_EQ(list.ToVector(), (Strings{"b", "a", "z"}));
    EXPECT_EQ(list.Objects(1), &o);
}

TEST(StringList, NamesAndValues) {
    TNvStringList list;
    list.AddStrings(Strings{"ServerState=Running", "plain", "Empty=", "Vendor=A=B"});
    EXPECT_EQ(list.Names(0), "ServerState");
    EXPECT_EQ(list.Names(1), "");
    EXPECT_EQ(list.ValueFromIndex(1), "");
    EXPECT_EQ(list.Values("serverstate"), "Running");
    EXPECT_EQ(list.Values("Vendor"), "A=B");
    EXPECT_EQ(list.Values("missing"), "");
    EXPECT_EQ(list.IndexOfName("EMPTY"), 2);
    EXPECT_EQ(list.IndexOfName("plain"), -1);
    list.SetValues("Vendor", "C");
    list.SetValues("New", "1");
    list.SetValues("Empty", "");
    EXPECT_EQ(list.ToVector(), (Strings{"ServerState=Running", "plain", "Vendor=C", "New=1"}));
    list.SetNameValueSeparator(':');
    list.Add("Key:Value");
    EXPECT_EQ(list.Values("key"), "Value");
}

TEST(StringList, TextSplitsAtAnyLineBreakAndEndsEveryLineWithCrLf) {
    TNvStringList list;
    list.SetText("a\r\nb\nc\rd");
    EXPECT_EQ(list.ToVector(), (Strings{"a", "b", "c", "d"}));
    EXPECT_EQ(list.Text(), "a\r\nb\r\nc\r\nd\r\n");
    list.SetText("x\r\n");
    EXPECT_EQ(list.ToVector(), (Strings{"x"}));
    list.SetText("x\n\n");
    EXPECT_EQ(list.ToVector(), (Strings{"x", ""}));
    list.SetText("\r\n\r\n");
    EXPECT_EQ(list.ToVector(), (Strings{"", ""}));
    list.SetText("");
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Text(), "");
}

TEST(StringList, DelimitedTextQuotesOnlyWhatNeedsIt) {
    TNvStringList list;
    list.SetDelimiter(';');
    list.AddStrings(Strings{"plain", "with;delim", "say \"hi\"", "", "two words"});
    EXPECT_EQ(list.DelimitedText(), "plain;\"with;delim\";\"say \"\"hi\"\"\";;\"two words\"");
    list.SetStrictDelimiter(true);
    EXPECT_EQ(list.DelimitedText(), "plain;\"with;delim\";\"say \"\"hi\"\"\";;two words");
    TNvStringList single;
    single.Add("");
    EXPECT_EQ(single.DelimitedText(), "\"\"");
    EXPECT_EQ(TNvStringList().DelimitedText(), "");
}

TEST(StringList, DelimitedTextRoundTripsInBothModes) {
    const Strings entries{"a", "b,c", "\"q\"", "", "sp ace", "''", "x\"", "last"};
    for (bool strict : {false, true}) {
        TNvStringList source;
        source.SetStrictDelimiter(strict);
        source.SetDelimiter(',');
        source.AddStrings(entries);
        TNvStringList copy;
        copy.SetStrictDelimiter(strict);
        copy.SetDelimiter(',');
        copy.SetDelimitedText(source.DelimitedText());
        EXPECT_EQ(copy.ToVector(), entries) << "strict=" << strict << " text=" << source.DelimitedText();
    }
}

TEST(StringList, ReadingDelimitedText) {
    TNvStringList list;
    list.SetDelimiter(',');
    // Without StrictDelimiter blanks separate entries and surround them harmlessly.
    list.SetDelimitedText("  a b , \"c d\" ,e");
    EXPECT_EQ(list.ToVector(), (Strings{"a", "b", "c d", "e"}));
    list.SetDelimitedText("a,");
    EXPECT_EQ(list.ToVector(), (Strings{"a", ""}));
    list.SetDelimitedText("\"unterminated, still one");
    EXPECT_EQ(list.ToVector(), (Strings{"unterminated, still one"}));
    list.SetStrictDelimiter(true);
    list.SetDelimitedText(" a b ,c");
    EXPECT_EQ(list.ToVector(), (Strings{" a b ", "c"}));
    list.SetDelimitedText(",");
    EXPECT_EQ(list.ToVector(), (Strings{"", ""}));
}

TEST(StringList, CommaTextOfAServerStatusRecord) {
    TNvStringList list;
    list.SetDelimiter(';');  // CommaText ignores the list's own delimiter
    list.SetCommaText("\"ServerState=Running\",\"StartTime=2026/12/07 13:05:09\",\"Version=1.0 Build 5\"");
    EXPECT_EQ(list.ToVector(),
              (Strings{"ServerState=Running", "StartTime=2026/12/07 13:05:09", "Version=1.0 Build 5"}));
    EXPECT_EQ(list.Values("Version"), "1.0 Build 5");
    EXPECT_EQ(list.CommaText(),
              "ServerState=Running,\"StartTime=2026/12/07 13:05:09\",\"Version=1.0 Build 5\"");
}

TEST(StringList, DefaultDelimiterIsTheRegionalListSeparator) {
    TFormatSettings saved = FormatSettings();
    TFormatSettings s = DefaultFormatSettings();
    s.ListSeparator = ";";
    SetFormatSettings(s);
    TNvStringList semicolon;
    s.ListSeparator = "";
    SetFormatSettings(s);
    TNvStringList fallback;
    SetFormatSettings(saved);
    EXPECT_EQ(semicolon.Delimiter(), ';');
    EXPECT_EQ(fallback.Delimiter(), ',');
    EXPECT_EQ(semicolon.QuoteChar(), '"');
}

TEST(StringList, PathJoiningQuotesOnlySeparatorsAndQuotes) {
    TNvStringList list;
    EXPECT_EQ(list.PathText(), "");
    list.Add("");
    EXPECT_EQ(list.PathText(), "''");
    list.Clear();
    list.AddStrings(Strings{"Root", "x/y", "it's", "with space"});
    EXPECT_EQ(list.PathText(), "Root/'x/y'/'it''s'/with space");
    list.Clear();
    list.AddStrings(Strings{"a", ""});
    EXPECT_EQ(list.PathText(), "a/");
    EXPECT_EQ(list.PathText('.', '"'), "a.");
}

TEST(StringList, PathSplitting) {
    TNvStringList list;
    list.SetPathText("a/b");
    EXPECT_EQ(list.ToVector(), (Strings{"a", "b"}));
    list.SetPathText("/a");
    EXPECT_EQ(list.ToVector(), (Strings{"", "a"}));
    list.SetPathText("a/");
    EXPECT_EQ(list.ToVector(), (Strings{"a", ""}));
    list.SetPathText("'x/y'/z");
    EXPECT_EQ(list.ToVector(), (Strings{"x/y", "z"}));
    list.SetPathText("A//B");
    EXPECT_EQ(list.ToVector(), (Strings{"A", "", "B"}));
    list.SetPathText("/");
    EXPECT_EQ(list.ToVector(), (Strings{"", ""}));
    list.SetPathText("''");
    EXPECT_EQ(list.ToVector(), (Strings{""}));
    list.SetPathText("");
    EXPECT_EQ(list.Count(), 0);
    list.SetPathText(" a b /'it''s'");
    EXPECT_EQ(list.ToVector(), (Strings{" a b ", "it's"}));
    // Joining what was split gives the text back.
    for (const char* path : {"Root/'x/y'/B", "/a", "a/", "'it''s'/x", "''"}) {
        list.SetPathText(path);
        EXPECT_EQ(list.PathText(), path);
    }
}

TEST(StringList, OwnedObjectsAreDestroyedWithTheirEntries) {
    int destroyed = 0;
    {
        TNvStringList list(true);
        list.AddObject("a", new Tracked(&destroyed));
        list.AddObject("b", new Tracked(&destroyed));
        list.AddObject("c", new Tracked(&destroyed));
        list.Delete(0);
        EXPECT_EQ(destroyed, 1);
        // Detaching keeps the object alive.
        TObject* detached = list.Objects(0);
        list.SetObjects(0, nullptr);
        list.Delete(0);
        EXPECT_EQ(destroyed, 1);
        delete detached;
        EXPECT_EQ(destroyed, 2);
    }
    EXPECT_EQ(destroyed, 3);
    TNvStringList notOwning;
    Tracked kept(&destroyed);
    notOwning.AddObject("k", &kept);
    notOwning.Clear();
    EXPECT_EQ(destroyed, 3);
}

TEST(StringList, ChangeEventsFireOncePerOutermostUpdate) {
    TNvStringList list;
    std::vector<std::string> events;
    list.OnChanging = [&](TObject* sender) {
        EXPECT_EQ(sender, &list);
        events.push_back("changing");
    };
    list.OnChange = [&](TObject*) { events.push_back("change:" + std::to_string(list.Count())); };
    list.Add("a");
    EXPECT_EQ(events, (Strings{"changing", "change:1"}));
    events.clear();
    list.BeginUpdate();
    list.BeginUpdate();
    list.Add("b");
    list.Delete(0);
    list.EndUpdate();
    EXPECT_EQ(events, (Strings{"changing"}));
    list.EndUpdate();
    EXPECT_EQ(events, (Strings{"changing", "change:1"}));
    events.clear();
    list.SetText("x\ny\nz");
    EXPECT_EQ(events, (Strings{"changing", "change:3"}));
}

TEST(StringList, AssignCopiesStringsObjectsAndSettings) {
    TNvStringList source;
    TObject o;
    source.SetDelimiter('|');
    source.SetQuoteChar('\'');
    source.AddObject("b", &o);
    source.Add("a");
    TNvStringList target;
    target.Add("old");
    target.SetSorted(true);
    target.Assign(&source);
    EXPECT_EQ(target.ToVector(), (Strings{"a", "b"}));  // the target stays sorted
    EXPECT_EQ(target.Objects(1), &o);
    EXPECT_EQ(target.Delimiter(), '|');
    EXPECT_EQ(target.QuoteChar(), '\'');
    target.Assign(&target);
    EXPECT_EQ(target.Count(), 2);
}

// A derived list that shows its entries by another text when copied, as a list keyed by one
// text but shown by another does.
class TKeyedList : public TNvStringList {
public:
    std::vector<std::string> shown;

protected:
    void AssignTo(TPersistent* dest) override {
        auto* target = dynamic_cast<TNvStringList*>(dest);
        if (target == nullptr)
            return TNvStringList::AssignTo(dest);
        target->Clear();
        for (int i = 0; i < Count(); ++i)
            target->AddObject(shown[static_cast<std::size_t>(i)], Objects(i));
    }
};

TEST(StringList, ADerivedSourceDecidesWhatItsCopyHolds) {
    TKeyedList keyed;
    TObject entry;
    keyed.AddObject("{CLSID}", &entry);
    keyed.shown = {"Sim.Server.1"};
    TNvStringList target;
    target.Assign(&keyed);
    EXPECT_EQ(target.ToVector(), (Strings{"Sim.Server.1"}));
    EXPECT_EQ(target.Objects(0), &entry);
    // A derived target still takes a plain list's strings.
    TNvStringList plain;
    plain.Add("x");
    keyed.Assign(&plain);
    EXPECT_EQ(keyed.ToVector(), (Strings{"x"}));
}

TEST(StringList, AssignFromAnUnrelatedClassIsRefused) {
    class TOther : public TPersistent {};
    TOther other;
    TNvStringList list;
    try {
        list.Assign(&other);
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TOther to a TNvStringList");
    }
    try {
        TNvStringList source;
        other.Assign(&source);
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TNvStringList to a TOther");
    }
    try {
        list.Assign(nullptr);
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a nil to a TNvStringList");
    }
}

class StringListFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("nv-stringlist-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }
    std::filesystem::path dir_;
};

TEST_F(StringListFiles, SaveWritesUtf8WithCrLfAndLoadReadsItBack) {
    TNvStringList list;
    list.AddStrings(Strings{"\xC3\xA4rger", "", "last"});
    std::string name = PathOf("lines.txt");
    list.SaveToFile(name);
    std::ifstream in(name, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, "\xC3\xA4rger\r\n\r\nlast\r\n");
    TNvStringList back;
    back.LoadFromFile(name);
    EXPECT_EQ(back.ToVector(), list.ToVector());
}

TEST_F(StringListFiles, LoadSkipsAByteOrderMarkAndAcceptsBareLineFeeds) {
    std::string name = PathOf("bom.txt");
    std::ofstream(name, std::ios::binary) << "\xEF\xBB\xBFitem1\nitem2";
    TNvStringList list;
    list.LoadFromFile(name);
    EXPECT_EQ(list.ToVector(), (Strings{"item1", "item2"}));
}

TEST_F(StringListFiles, FileErrorsNameTheFileAndKeepTheList) {
    TNvStringList list;
    list.Add("kept");
    std::string missing = PathOf("missing.txt");
    try {
        list.LoadFromFile(missing);
        FAIL() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot open file \"" + missing + "\". ", 0), 0u) << e.Message();
    }
    EXPECT_EQ(list.ToVector(), (Strings{"kept"}));
    std::string bad = PathOf("no/such/dir/out.txt");
    try {
        list.SaveToFile(bad);
        FAIL() << "no exception";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot create file \"" + bad + "\". ", 0), 0u) << e.Message();
    }
}

}  // namespace
}  // namespace nv
