// TNvStringList: an ordered list of UTF-8 strings, each with an attached object, optionally
// sorted, with name=value access, line text, delimited text and path text, and file I/O.
//
// Errors: a position outside the list raises EListError "List index out of bounds (%d)"; a
// duplicate in a sorted list with dupError raises EListError "String list does not allow
// duplicates"; Insert or SetStrings on a sorted list raise EListError "Operation not allowed on
// sorted list".
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/NvEvents.h"
#include "foundation/NvObject.h"

namespace nv {

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TNvStringList;
// < 0, 0 or > 0 for the entries at index1 and index2.
using TNvStringListSortCompare = std::function<int(TNvStringList& list, int index1, int index2)>;

class TNvStringList : public TPersistent {
public:
    TNvStringList();
    explicit TNvStringList(bool ownsObjects);
    ~TNvStringList() override;

    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& Strings(int index) const;
    void SetStrings(int index, const std::string& text);
    TObject* Objects(int index) const;
    // Replaces the attached object; an owned previous object is not destroyed (so an object can
    // be detached by setting nullptr before the entry is deleted).
    void SetObjects(int index, TObject* object);

    // Appends (or, when sorted, inserts in order) and returns the position. In a sorted list a
    // duplicate is ignored (returning the existing position; the object is not attached and,
    // even with OwnsObjects, stays the caller's), accepted, or refused with EListError.
    int Add(const std::string& text);
    int AddObject(const std::string& text, TObject* object);
    void Append(const std::string& text) { Add(text); }
    void AddStrings(const TNvStringList& source);
    void AddStrings(const std::vector<std::string>& source);
    void Insert(int index, const std::string& text);
    void InsertObject(int index, const std::string& text, TObject* object);
    // Destroys the attached object when OwnsObjects.
    void Delete(int index);
    void Clear();
    void Exchange(int index1, int index2);
    void Move(int currentIndex, int newIndex);

    // Comparisons follow CaseSensitive.
    int IndexOf(std::string_view text) const;
    int IndexOfObject(const TObject* object) const;
    int IndexOfName(std::string_view name) const;
    // Position of text, or where it would be inserted. Binary search when sorted (finding the
    // first of equal entries), linear search otherwise (then `index` is Count() when not found).
    bool Find(std::string_view text, int& index) const;
    // Stable: entries that compare equal keep their order. Does nothing on a sorted list.
    void Sort();
    void CustomSort(const TNvStringListSortCompare& compare);
    // The comparison of this list: CompareText when not case-sensitive, CompareStr otherwise.
    virtual int CompareStrings(std::string_view a, std::string_view b) const;

    // Name=value entries. Names(i) is the part before the first separator ("" when there is
    // none); ValueFromIndex(i) the part after it ("" when there is none).
    std::string Names(int index) const;
    std::string Values(std::string_view name) const;
    // An empty value deletes the entry; otherwise the entry is replaced or appended.
    void SetValues(std::string_view name, std::string_view value);
    std::string ValueFromIndex(int index) const;
    void SetValueFromIndex(int index, std::string_view value);
    char NameValueSeparator() const { return nameValueSeparator_; }
    void SetNameValueSeparator(char separator) { nameValueSeparator_ = separator; }

    bool Sorted() const { return sorted_; }
    // Switching on sorts the list.
    void SetSorted(bool value);
    TDuplicates Duplicates() const { return duplicates_; }
    void SetDuplicates(TDuplicates value) { duplicates_ = value; }
    bool CaseSensitive() const { return caseSensitive_; }
    // A sorted list is sorted again under the new comparison.
    void SetCaseSensitive(bool value);
    bool OwnsObjects() const { return ownsObjects_; }
    void SetOwnsObjects(bool value) { ownsObjects_ = value; }

    // Every line followed by CR LF ("" for an empty list). Setting splits at CR LF, CR or LF; a
    // final line break adds no empty line.
    std::string Text() const;
    void SetText(std::string_view text);

    // Delimited text. Reading: entries joined by Delimiter; an entry is enclosed in QuoteChar
    // (inner quotes doubled) if it holds the delimiter or the quote character, or, unless
    // StrictDelimiter, a blank or a control character; a list of one empty entry reads as two
    // quote characters. Setting: quoted parts are read up to the closing quote; without
    // StrictDelimiter blanks separate entries too and blanks around entries are skipped; a
    // delimiter at the very end adds an empty entry.
    std::string DelimitedText() const;
    void SetDelimitedText(std::string_view text);
    // Initially the regional list separator (a comma when it is not a single character).
    char Delimiter() const { return delimiter_; }
    void SetDelimiter(char delimiter) { delimiter_ = delimiter; }
    char QuoteChar() const { return quoteChar_; }
    void SetQuoteChar(char quote) { quoteChar_ = quote; }
    bool StrictDelimiter() const { return strictDelimiter_; }
    void SetStrictDelimiter(bool value) { strictDelimiter_ = value; }
    // Delimited text with ',' and '"' and blanks as separators, whatever the settings above.
    std::string CommaText() const;
    void SetCommaText(std::string_view text);
    // Path text: the entries are path elements, joined by `separator` and quoted with `quote` only
    // where they hold either of them ("a/'x/y'/b"). An empty list is "", one empty element "''";
    // "/a" splits into "" and "a", "a/" into "a" and "".
    std::string PathText(char separator = '/', char quote = '\'') const;
    void SetPathText(std::string_view text, char separator = '/', char quote = '\'');

    // UTF-8 (a byte order mark is skipped when loading), lines ended by CR LF when saving.
    // EFOpenError "Cannot open file "<name>". <reason>" / EFCreateError "Cannot create file ...".
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;

    // OnChanging fires before and OnChange after every change; inside a BeginUpdate/EndUpdate
    // bracket they fire only once, at the outermost BeginUpdate and EndUpdate.
    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return updateCount_; }
    TNotifyEvent OnChange;
    TNotifyEvent OnChanging;

    std::vector<std::string> ToVector() const;

    // From a plain TNvStringList: its strings and objects (an owning list takes ownership of the
    // copied objects, so two owning lists must not be assigned to each other) and its Delimiter,
    // QuoteChar, NameValueSeparator and StrictDelimiter; Sorted, Duplicates and CaseSensitive
    // stay this list's own. Any other source, a class derived from TNvStringList included, is
    // asked through its AssignTo first, so that a derived list can decide what a copy of it holds.
    void Assign(TPersistent* source) override;

protected:
    // Fills a TNvStringList target as its Assign would; other targets are refused.
    void AssignTo(TPersistent* dest) override;
    virtual void Changing();
    virtual void Changed();

private:
    struct Item {
        std::string text;
        TObject* object = nullptr;
    };
    void CheckIndex(int index) const;
    void CopyFrom(const TNvStringList& other);
    void InsertItem(int index, const std::string& text, TObject* object);
    void SortItems();
    std::string GetDelimited(char delimiter, char quote, bool strict) const;
    void SetDelimited(std::string_view text, char delimiter, char quote, bool strict);

    std::vector<Item> items_;
    bool sorted_ = false;
    TDuplicates duplicates_ = dupIgnore;
    bool caseSensitive_ = false;
    bool ownsObjects_ = false;
    char nameValueSeparator_ = '=';
    char delimiter_ = ',';
    char quoteChar_ = '"';
    bool strictDelimiter_ = false;
    int updateCount_ = 0;
};

}  // namespace nv
