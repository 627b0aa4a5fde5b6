#include "app/ConfigurationFile.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "foundation/NvExceptions.h"
#include "foundation/NvSysUtils.h"
#include "platform/NvWide.h"

namespace nv {

namespace {

namespace fs = std::filesystem;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string_view TrimBlanks(std::string_view s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// Every name this program looks up or writes is ASCII, so folding ASCII letters is enough to find
// them whatever their case in the file.
std::string Fold(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// The section name of a header line, or false for any other line.
bool SectionHeader(std::string_view text, std::string& name) {
    std::string_view t = TrimBlanks(text);
    if (t.empty() || t[0] != '[')
        return false;
    std::size_t close = t.rfind(']');
    if (close == std::string_view::npos)
        return false;
    name = std::string(TrimBlanks(t.substr(1, close - 1)));
    return true;
}

// A key line: its name, and where its value starts in the line. Comments and lines without "="
// are no keys; neither is "=value", which has no name.
bool KeyLine(std::string_view text, std::string_view& name, std::size_t& valueStart) {
    std::string_view t = TrimBlanks(text);
    if (t.empty() || t[0] == ';' || t[0] == '[')
        return false;
    std::size_t eq = text.find('=');
    if (eq == std::string_view::npos)
        return false;
    name = TrimBlanks(text.substr(0, eq));
    if (name.empty())
        return false;
    valueStart = eq + 1;
    while (valueStart < text.size() && IsBlank(text[valueStart]))
        ++valueStart;
    return true;
}

std::string ValueOf(std::string_view text, std::size_t valueStart) {
    std::string_view v = TrimBlanks(text.substr(valueStart));
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

// What a value must look like in the file to read back as itself: blanks at either end, or a
// pair of quotes around it, would be taken off by the reader, so such a value goes into quotes.
std::string Quoted(std::string_view value) {
    bool needs = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        needs = true;
    if (!needs)
        return std::string(value);
    std::string out;
    out.reserve(value.size() + 2);
    out.push_back('"');
    out.append(value);
    out.push_back('"');
    return out;
}

fs::path PathOf(const std::string& utf8) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string ErrnoText(int err) {
    return std::generic_category().message(err);
}

}  // namespace

// ---- reading --------------------------------------------------------------------------------

bool TConfigurationFile::ReadBytes(const std::string& path, std::string& bytes, std::string& reason) {
    bytes.clear();
    if (path.empty())
        return true;
    fs::path file = PathOf(path);
    std::error_code ec;
    fs::file_status status = fs::status(file, ec);
    if (status.type() == fs::file_type::not_found)
        return true;
    if (ec) {
        reason = ec.message();
        return false;
    }
    if (status.type() == fs::file_type::directory) {
        reason = "it is a folder";
        return false;
    }
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        reason = errno != 0 ? ErrnoText(errno) : std::string("it cannot be opened");
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        reason = "read error";
        return false;
    }
    return true;
}

TConfigurationFile TConfigurationFile::Read(const std::string& path) {
    std::string bytes;
    std::string reason;
    if (!ReadBytes(path, bytes, reason))
        throw EFOpenError(Format("Cannot read the configuration file '%s': %s", path, reason));
    return FromBytes(bytes);
}

TConfigurationFile TConfigurationFile::ReadToUpdate(const std::string& path) {
    std::string bytes;
    std::string reason;
    if (!ReadBytes(path, bytes, reason))
        throw EFCreateError(Format("Cannot save the configuration file '%s': %s", path, reason));
    return FromBytes(bytes);
}

TConfigurationFile TConfigurationFile::FromBytes(std::string_view bytes) {
    TConfigurationFile file;
    std::string name;
    bool endingKnown = false;
    for (Line& line : nv::SplitTextLines(nv::DecodeText(bytes, file.encoding_))) {
        // New lines take the ending the file already uses.
        if (!endingKnown && !line.ending.empty()) {
            file.ending_ = line.ending;
            endingKnown = true;
        }
        if (SectionHeader(line.text, name)) {
            file.sections_.push_back(Section{name, std::move(line), {}});
        } else if (file.sections_.empty()) {
            file.preamble_.push_back(std::move(line));
        } else {
            file.sections_.back().lines.push_back(std::move(line));
        }
    }
    file.index_.reserve(file.sections_.size());
    for (std::size_t i = 0; i < file.sections_.size(); ++i)
        file.index_.emplace(Fold(file.sections_[i].name), i);
    return file;
}

const TConfigurationFile::Section* TConfigurationFile::FindSection(std::string_view name) const {
    name = TrimBlanks(name);
    // The keys of one section are read one after another. The remembered section came from the
    // index, so it is the first of its name.
    if (lastFound_ < sections_.size() && SameName(sections_[lastFound_].name, name))
        return &sections_[lastFound_];
    auto it = index_.find(Fold(name));
    if (it == index_.end())
        return nullptr;
    lastFound_ = it->second;
    return &sections_[it->second];
}

bool TConfigurationFile::SectionExists(std::string_view section) const {
    return FindSection(section) != nullptr;
}

bool TConfigurationFile::ReadString(std::string_view section, std::string_view key,
                                    std::string& value) const {
    const Section* s = FindSection(section);
    if (s == nullptr)
        return false;
    key = TrimBlanks(key);
    for (const Line& line : s->lines) {
        std::string_view name;
        std::size_t valueStart = 0;
        if (KeyLine(line.text, name, valueStart) && SameName(name, key)) {
            value = ValueOf(line.text, valueStart);
            return true;
        }
    }
    return false;
}

std::string TConfigurationFile::ReadString(std::string_view section, std::string_view key,
                                           const std::string& fallback) const {
    std::string value;
    return ReadString(section, key, value) ? value : fallback;
}

std::int32_t TConfigurationFile::ReadInteger(std::string_view section, std::string_view key,
                                             std::int32_t fallback) const {
    std::string value;
    if (!ReadString(section, key, value))
        return fallback;
    return StrToIntDef(value, fallback);
}

bool TConfigurationFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
    return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

std::vector<std::uint32_t> TConfigurationFile::NumberedSections(std::string_view prefix,
                                                                std::uint32_t limit) const {
    if (!numberedValid_) {
        numbered_.clear();
        for (std::size_t i = 0; i < sections_.size(); ++i) {
            const std::string& name = sections_[i].name;
            // Only the first section of a name is ever read.
            if (index_.at(Fold(name)) != i)
                continue;
            std::size_t digits = name.size();
            while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9')
                --digits;
            std::size_t count = name.size() - digits;
            // "Group01" is not the section "Group1"; ten digits may already be past 32 bits.
            if (count == 0 || count > 10 || (count > 1 && name[digits] == '0'))
                continue;
            std::uint64_t number = 0;
            for (std::size_t j = digits; j < name.size(); ++j)
                number = number * 10 + static_cast<std::uint64_t>(name[j] - '0');
            if (number > 0xFFFFFFFFull)
                continue;
            numbered_[Fold(std::string_view(name).substr(0, digits))].push_back(
                static_cast<std::uint32_t>(number));
        }
        for (auto& [_, numbers] : numbered_)
            std::sort(numbers.begin(), numbers.end());
        numberedValid_ = true;
    }
    std::vector<std::uint32_t> result;
    auto it = numbered_.find(Fold(prefix));
    if (it == numbered_.end())
        return result;
    for (std::uint32_t n : it->second) {
        if (n >= limit)
            break;
        result.push_back(n);
    }
    return result;
}

// ---- writing --------------------------------------------------------------------------------

const std::string& TConfigurationFile::Ending() const {
    return ending_;
}

void TConfigurationFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    section = TrimBlanks(section);
    key = TrimBlanks(key);
    if (value.find_first_of("\r\n") != std::string_view::npos)
        throw EArgumentException(Format(
            "The value of '%s' in section [%s] contains a line break and cannot be stored", key, section));
    std::string text = Quoted(value);
    const Section* found = FindSection(section);
    if (found == nullptr) {
        std::vector<Line>& last = sections_.empty() ? preamble_ : sections_.back().lines;
        Line* tail = !last.empty() ? &last.back() : (sections_.empty() ? nullptr : &sections_.back().header);
        if (tail != nullptr && tail->ending.empty())
            tail->ending = Ending();
        index_.emplace(Fold(section), sections_.size());
        sections_.push_back(
            Section{std::string(section), Line{"[" + std::string(section) + "]", Ending()}, {}});
        sections_.back().lines.push_back(Line{std::string(key) + "=" + text, Ending()});
        numberedValid_ = false;
        return;
    }
    Section& s = sections_[static_cast<std::size_t>(found - sections_.data())];
    // After the last key of the section, so that blank lines and comments that lead into the next
    // section stay with it.
    std::size_t after = 0;
    bool anyKey = false;
    for (std::size_t i = 0; i < s.lines.size(); ++i) {
        Line& line = s.lines[i];
        std::string_view name;
        std::size_t valueStart = 0;
        if (KeyLine(line.text, name, valueStart)) {
            if (SameName(name, key)) {
                line.text = line.text.substr(0, valueStart) + text;
                return;
            }
            after = i + 1;
            anyKey = true;
        } else if (!TrimBlanks(line.text).empty() && TrimBlanks(line.text)[0] != ';') {
            after = i + 1;
            anyKey = true;
        }
    }
    Line* before = anyKey ? &s.lines[after - 1] : &s.header;
    if (before->ending.empty())
        before->ending = Ending();
    s.lines.insert(s.lines.begin() + static_cast<std::ptrdiff_t>(after),
                   Line{std::string(key) + "=" + text, Ending()});
}

void TConfigurationFile::WriteInteger(std::string_view section, std::string_view key, std::int64_t value) {
    WriteString(section, key, std::to_string(value));
}

void TConfigurationFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

std::string TConfigurationFile::ToBytes() const {
    std::string utf8;
    for (const Line& line : preamble_)
        nv::AppendTextLine(utf8, line);
    for (const Section& s : sections_) {
        nv::AppendTextLine(utf8, s.header);
        for (const Line& line : s.lines)
            nv::AppendTextLine(utf8, line);
    }
    return nv::EncodeText(utf8, encoding_);
}

void TConfigurationFile::Write(const std::string& path) const {
    auto fail = [&path](const std::string& reason) {
        throw EFCreateError(Format("Cannot save the configuration file '%s': %s", path, reason));
    };
    fs::path target = PathOf(path);
    std::error_code ec;
    // A link stays a link: the file it points to is the one replaced.
    if (fs::is_symlink(target, ec)) {
        fs::path real = fs::canonical(target, ec);
        if (!ec)
            target = real;
    }
    fs::file_status status = fs::status(target, ec);
    const bool exists = fs::exists(status);
    if (exists) {
        if (fs::is_directory(status))
            fail("it is a folder");
        // Replacing the file by another would get past its read-only mark and its permissions.
        constexpr fs::perms writable =
            fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
        if ((status.permissions() & writable) == fs::perms::none)
            fail("the file is read-only");
        errno = 0;
        std::ofstream probe(target, std::ios::binary | std::ios::app);
        if (!probe)
            fail(errno != 0 ? ErrnoText(errno) : std::string("it cannot be opened for writing"));
    }

    std::string bytes = ToBytes();
    std::random_device random;
    fs::path temporary;
    for (int attempt = 0;; ++attempt) {
        fs::path candidate = target;
        candidate += PathOf(Format(".%s.tmp", UIntToHex(random(), 8)));
        if (!fs::exists(candidate, ec)) {
            temporary = candidate;
            break;
        }
        if (attempt == 100)
            fail("no temporary file can be created beside it");
    }
    errno = 0;
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out)
        fail(errno != 0 ? ErrnoText(errno) : std::string("no temporary file can be created beside it"));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        int err = errno;
        fs::remove(temporary, ec);
        fail(err != 0 ? ErrnoText(err) : std::string("write error"));
    }
    if (exists)
        fs::permissions(temporary, status.permissions(), ec);
    fs::rename(temporary, target, ec);
    if (ec) {
        std::string reason = ec.message();
        std::error_code ignored;
        fs::remove(temporary, ignored);
        fail(reason);
    }
}

}  // namespace nv
