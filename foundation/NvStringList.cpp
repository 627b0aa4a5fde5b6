#include "foundation/NvStringList.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <typeinfo>

#include "foundation/NvExceptions.h"
#include "foundation/NvSysUtils.h"

namespace nv {

namespace {

[[noreturn]] void SortedListError() {
    throw EListError("Operation not allowed on sorted list");
}

char RegionalListSeparator() {
    const std::string& sep = FormatSettings().ListSeparator;
    return sep.size() == 1 ? sep[0] : ',';
}

std::filesystem::path PathFromUtf8(const std::string& name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

}  // namespace

TNvStringList::TNvStringList() : delimiter_(RegionalListSeparator()) {}

TNvStringList::TNvStringList(bool ownsObjects) : TNvStringList() {
    ownsObjects_ = ownsObjects;
}

TNvStringList::~TNvStringList() {
    // No change events from a list that is going away.
    OnChange = nullptr;
    OnChanging = nullptr;
    if (ownsObjects_)
        for (Item& item : items_)
            delete std::exchange(item.object, nullptr);
}

void TNvStringList::CheckIndex(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
}

const std::string& TNvStringList::Strings(int index) const {
    CheckIndex(index);
    return items_[static_cast<std::size_t>(index)].text;
}

void TNvStringList::SetStrings(int index, const std::string& text) {
    if (sorted_)
        SortedListError();
    CheckIndex(index);
    Changing();
    items_[static_cast<std::size_t>(index)].text = text;
    Changed();
}

TObject* TNvStringList::Objects(int index) const {
    CheckIndex(index);
    return items_[static_cast<std::size_t>(index)].object;
}

void TNvStringList::SetObjects(int index, TObject* object) {
    CheckIndex(index);
    Changing();
    items_[static_cast<std::size_t>(index)].object = object;
    Changed();
}

int TNvStringList::Add(const std::string& text) {
    return AddObject(text, nullptr);
}

int TNvStringList::AddObject(const std::string& text, TObject* object) {
    int index = Count();
    if (sorted_) {
        if (Find(text, index)) {
            if (duplicates_ == dupIgnore)
                return index;
            if (duplicates_ == dupError)
                throw EListError("String list does not allow duplicates");
        }
    }
    InsertItem(index, text, object);
    return index;
}

void TNvStringList::AddStrings(const TNvStringList& source) {
    if (&source == this) {
        TNvStringList copy;
        copy.AddStrings(source);
        AddStrings(copy);
        return;
    }
    BeginUpdate();
    try {
        for (const Item& item : source.items_)
            AddObject(item.text, item.object);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TNvStringList::AddStrings(const std::vector<std::string>& source) {
    BeginUpdate();
    try {
        for (const std::string& text : source)
            Add(text);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TNvStringList::Insert(int index, const std::string& text) {
    InsertObject(index, text, nullptr);
}

void TNvStringList::InsertObject(int index, const std::string& text, TObject* object) {
    if (sorted_)
        SortedListError();
    if (index < 0 || index > Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    InsertItem(index, text, object);
}

void TNvStringList::InsertItem(int index, const std::string& text, TObject* object) {
    Changing();
    items_.insert(items_.begin() + index, Item{text, object});
    Changed();
}

void TNvStringList::Delete(int index) {
    CheckIndex(index);
    Changing();
    TObject* object = items_[static_cast<std::size_t>(index)].object;
    items_.erase(items_.begin() + index);
    if (ownsObjects_)
        delete object;
    Changed();
}

void TNvStringList::Clear() {
    if (items_.empty())
        return;
    Changing();
    std::vector<Item> old;
    old.swap(items_);
    if (ownsObjects_)
        for (Item& item : old)
            delete item.object;
    Changed();
}

void TNvStringList::Exchange(int index1, int index2) {
    CheckIndex(index1);
    CheckIndex(index2);
    Changing();
    std::swap(items_[static_cast<std::size_t>(index1)], items_[static_cast<std::size_t>(index2)]);
    Changed();
}

void TNvStringList::Move(int currentIndex, int newIndex) {
    if (currentIndex == newIndex)
        return;
    CheckIndex(currentIndex);
    CheckIndex(newIndex);
    if (sorted_)
        SortedListError();
    BeginUpdate();
    Item item = std::move(items_[static_cast<std::size_t>(currentIndex)]);
    items_.erase(items_.begin() + currentIndex);
    items_.insert(items_.begin() + newIndex, std::move(item));
    EndUpdate();
}

int TNvStringList::CompareStrings(std::string_view a, std::string_view b) const {
    return caseSensitive_ ? CompareStr(a, b) : CompareText(a, b);
}

int TNvStringList::IndexOf(std::string_view text) const {
    if (sorted_) {
        int index = 0;
        return Find(text, index) ? index : -1;
    }
    for (int i = 0; i < Count(); ++i)
        if (CompareStrings(items_[static_cast<std::size_t>(i)].text, text) == 0)
            return i;
    return -1;
}

int TNvStringList::IndexOfObject(const TObject* object) const {
    for (int i = 0; i < Count(); ++i)
        if (items_[static_cast<std::size_t>(i)].object == object)
            return i;
    return -1;
}

int TNvStringList::IndexOfName(std::string_view name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string& text = items_[static_cast<std::size_t>(i)].text;
        auto pos = text.find(nameValueSeparator_);
        if (pos != std::string::npos && CompareStrings(std::string_view(text).substr(0, pos), name) == 0)
            return i;
    }
    return -1;
}

bool TNvStringList::Find(std::string_view text, int& index) const {
    if (!sorted_) {
        for (int i = 0; i < Count(); ++i) {
            if (CompareStrings(items_[static_cast<std::size_t>(i)].text, text) == 0) {
                index = i;
                return true;
            }
        }
        index = Count();
        return false;
    }
    // Lower bound: the first entry not below text.
    int low = 0;
    int high = Count();
    while (low < high) {
        int mid = low + (high - low) / 2;
        if (CompareStrings(items_[static_cast<std::size_t>(mid)].text, text) < 0)
            low = mid + 1;
        else
            high = mid;
    }
    index = low;
    return low < Count() && CompareStrings(items_[static_cast<std::size_t>(low)].text, text) == 0;
}

void TNvStringList::SortItems() {
    std::stable_sort(items_.begin(), items_.end(),
                     [this](const Item& a, const Item& b) { return CompareStrings(a.text, b.text) < 0; });
}

void TNvStringList::Sort() {
    if (sorted_ || Count() < 2)
        return;
    Changing();
    SortItems();
    Changed();
}

void TNvStringList::CustomSort(const TNvStringListSortCompare& compare) {
    if (sorted_ || Count() < 2 || !compare)
        return;
    Changing();
    // The comparison is asked about the positions as they are before sorting, so the list stays
    // untouched until the new order is known.
    std::vector<int> order(items_.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return compare(*this, a, b) < 0; });
    std::vector<Item> sorted;
    sorted.reserve(items_.size());
    for (int i : order)
        sorted.push_back(std::move(items_[static_cast<std::size_t>(i)]));
    items_ = std::move(sorted);
    Changed();
}

void TNvStringList::SetSorted(bool value) {
    if (value == sorted_)
        return;
    if (value) {
        Changing();
        SortItems();
        sorted_ = true;
        Changed();
    } else {
        sorted_ = false;
    }
}

void TNvStringList::SetCaseSensitive(bool value) {
    if (value == caseSensitive_)
        return;
    caseSensitive_ = value;
    if (sorted_ && Count() > 1) {
        Changing();
        SortItems();
        Changed();
    }
}

std::string TNvStringList::Names(int index) const {
    const std::string& text = Strings(index);
    auto pos = text.find(nameValueSeparator_);
    return pos == std::string::npos ? std::string() : text.substr(0, pos);
}

std::string TNvStringList::Values(std::string_view name) const {
    int index = IndexOfName(name);
    return index < 0 ? std::string() : ValueFromIndex(index);
}

void TNvStringList::SetValues(std::string_view name, std::string_view value) {
    int index = IndexOfName(name);
    if (value.empty()) {
        if (index >= 0)
            Delete(index);
        return;
    }
    std::string entry = std::string(name) + nameValueSeparator_ + std::string(value);
    if (index < 0) {
        Add(entry);
    } else if (sorted_) {
        // The name is unchanged, so the entry keeps its place.
        Changing();
        items_[static_cast<std::size_t>(index)].text = entry;
        Changed();
    } else {
        SetStrings(index, entry);
    }
}

std::string TNvStringList::ValueFromIndex(int index) const {
    const std::string& text = Strings(index);
    auto pos = text.find(nameValueSeparator_);
    return pos == std::string::npos ? std::string() : text.substr(pos + 1);
}

void TNvStringList::SetValueFromIndex(int index, std::string_view value) {
    std::string name = Names(index);
    if (value.empty()) {
        Delete(index);
        return;
    }
    std::string entry = name + nameValueSeparator_ + std::string(value);
    Changing();
    items_[static_cast<std::size_t>(index)].text = entry;
    Changed();
}

std::string TNvStringList::Text() const {
    std::string out;
    for (const Item& item : items_) {
        out += item.text;
        out += "\r\n";
    }
    return out;
}

void TNvStringList::SetText(std::string_view text) {
    BeginUpdate();
    try {
        Clear();
        std::size_t i = 0;
        while (i < text.size()) {
            std::size_t end = text.find_first_of("\r\n", i);
            if (end == std::string_view::npos) {
                Add(std::string(text.substr(i)));
                break;
            }
            Add(std::string(text.substr(i, end - i)));
            i = end + 1;
            if (text[end] == '\r' && i < text.size() && text[i] == '\n')
                ++i;
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

std::string TNvStringList::GetDelimited(char delimiter, char quote, bool strict) const {
    if (Count() == 1 && items_[0].text.empty())
        return std::string(2, quote);
    std::string out;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const std::string& text = items_[i].text;
        bool needsQuotes = std::any_of(text.begin(), text.end(), [&](char c) {
            return c == delimiter || c == quote || (!strict && static_cast<unsigned char>(c) <= ' ');
        });
        if (i > 0)
            out += delimiter;
        out += needsQuotes ? AnsiQuotedStr(text, quote) : text;
    }
    return out;
}

void TNvStringList::SetDelimited(std::string_view text, char delimiter, char quote, bool strict) {
    auto isBlank = [&](char c) { return !strict && static_cast<unsigned char>(c) <= ' '; };
    BeginUpdate();
    try {
        Clear();
        std::size_t i = 0;
        while (i < text.size() && isBlank(text[i]))
            ++i;
        while (i < text.size()) {
            std::string entry;
            if (text[i] == quote) {
                std::string_view rest = text.substr(i);
                entry = AnsiExtractQuotedStr(rest, quote);
                i = text.size() - rest.size();
            } else {
                std::size_t start = i;
                while (i < text.size() && text[i] != delimiter && !isBlank(text[i]))
                    ++i;
                entry = std::string(text.substr(start, i - start));
            }
            Add(entry);
            while (i < text.size() && isBlank(text[i]))
                ++i;
            if (i < text.size() && text[i] == delimiter) {
                if (i + 1 == text.size())
                    Add(std::string());
                ++i;
                while (i < text.size() && isBlank(text[i]))
                    ++i;
            }
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

std::string TNvStringList::DelimitedText() const {
    return GetDelimited(delimiter_, quoteChar_, strictDelimiter_);
}
void TNvStringList::SetDelimitedText(std::string_view text) {
    SetDelimited(text, delimiter_, quoteChar_, strictDelimiter_);
}

std::string TNvStringList::CommaText() const {
    return GetDelimited(',', '"', false);
}
void TNvStringList::SetCommaText(std::string_view text) {
    SetDelimited(text, ',', '"', false);
}

std::string TNvStringList::PathText(char separator, char quote) const {
    return GetDelimited(separator, quote, true);
}
void TNvStringList::SetPathText(std::string_view text, char separator, char quote) {
    SetDelimited(text, separator, quote, true);
}

void TNvStringList::LoadFromFile(const std::string& fileName) {
    std::ifstream in(PathFromUtf8(fileName), std::ios::binary);
    if (!in)
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
    std::string_view view = content;
    if (view.substr(0, 3) == "\xEF\xBB\xBF")
        view.remove_prefix(3);
    SetText(view);
}

void TNvStringList::SaveToFile(const std::string& fileName) const {
    std::ofstream out(PathFromUtf8(fileName), std::ios::binary | std::ios::trunc);
    if (!out)
        throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
    std::string text = Text();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out)
        throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
}

void TNvStringList::BeginUpdate() {
    if (updateCount_ == 0)
        CallEvent(OnChanging, this);
    ++updateCount_;
}

void TNvStringList::EndUpdate() {
    if (updateCount_ <= 0)
        return;
    --updateCount_;
    if (updateCount_ == 0)
        CallEvent(OnChange, this);
}

void TNvStringList::Changing() {
    if (updateCount_ == 0)
        CallEvent(OnChanging, this);
}

void TNvStringList::Changed() {
    if (updateCount_ == 0)
        CallEvent(OnChange, this);
}

std::vector<std::string> TNvStringList::ToVector() const {
    std::vector<std::string> out;
    out.reserve(items_.size());
    for (const Item& item : items_)
        out.push_back(item.text);
    return out;
}

void TNvStringList::Assign(TPersistent* source) {
    auto* other = dynamic_cast<TNvStringList*>(source);
    if (other != nullptr && typeid(*other) == typeid(TNvStringList)) {
        CopyFrom(*other);
        return;
    }
    TPersistent::Assign(source);
}

void TNvStringList::AssignTo(TPersistent* dest) {
    if (auto* target = dynamic_cast<TNvStringList*>(dest)) {
        target->CopyFrom(*this);
        return;
    }
    TPersistent::AssignTo(dest);
}

void TNvStringList::CopyFrom(const TNvStringList& other) {
    if (&other == this)
        return;
    BeginUpdate();
    try {
        Clear();
        delimiter_ = other.delimiter_;
        quoteChar_ = other.quoteChar_;
        nameValueSeparator_ = other.nameValueSeparator_;
        strictDelimiter_ = other.strictDelimiter_;
        AddStrings(other);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

}  // namespace nv
