// Profile (INI) files.
//
// The file is kept as its lines, each with its own line ending, so that a write changes only the
// line it is about and every other byte of the file stays as it was. What a line is:
//   blank                      nothing
//   ";..."                     comment, never a key
//   "[name]..."                section header (text after the last "]" is ignored)
//   "name = value"             key; name and value trimmed of blanks
//   anything else              kept, but not a key: reading it gives the default and it is not
//                              listed among the keys; GetPrivateProfileSectionW lists it as is
// Lines before the first header belong to no section. When a section or a key occurs twice,
// the first one is the one read and written, the name is listed once, and deleting it removes
// every copy (otherwise a later copy would show through after the delete).
//
// Files are UTF-8 (with or without a byte-order mark); a UTF-16LE file with its mark is read and
// written back as UTF-16LE. A changed file is written to a temporary file in the same folder and
// renamed over the original, so a failure never leaves a truncated file behind.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/NvTextFile.h"
#include "platform/NvWide.h"
#include "platform/win32.h"

namespace {

constexpr DWORD kErrorWriteFault = 29;
constexpr DWORD kErrorReadFault = 30;
constexpr DWORD kErrorDiskFull = 112;
constexpr DWORD kErrorFilenameTooLong = 206;

// One lock for every profile call: a write is read-modify-replace and must not interleave with
// another write to the same file.
std::mutex profileMutex;

using Encoding = nv::TextEncoding;
using Line = nv::TextLine;

enum class LineKind { Blank, Comment, Section, Key, NoValue };

struct ParsedLine {
    LineKind kind = LineKind::Blank;
    std::string name;
    std::string value;
    std::size_t valueStart = 0;  // where the value begins in Line::text (keys only)
};

struct Profile {
    Encoding encoding = Encoding::Utf8;
    std::vector<Line> lines;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string Trim(std::string_view s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return std::string(s.substr(b, e - b));
}

ParsedLine Parse(const std::string& text) {
    ParsedLine p;
    std::string trimmed = Trim(text);
    if (trimmed.empty())
        return p;
    if (trimmed[0] == ';') {
        p.kind = LineKind::Comment;
        return p;
    }
    if (trimmed[0] == '[') {
        std::size_t close = trimmed.rfind(']');
        if (close != std::string::npos) {
            p.kind = LineKind::Section;
            p.name = Trim(std::string_view(trimmed).substr(1, close - 1));
            return p;
        }
    }
    std::size_t eq = text.find('=');
    if (eq == std::string::npos) {
        p.kind = LineKind::NoValue;
        p.name = trimmed;
        return p;
    }
    p.kind = LineKind::Key;
    p.name = Trim(std::string_view(text).substr(0, eq));
    std::size_t v = eq + 1;
    while (v < text.size() && IsBlank(text[v]))
        ++v;
    p.valueStart = v;
    p.value = Trim(std::string_view(text).substr(v));
    return p;
}

// Names compare without regard to case, for the scripts whose case pairs are simple.
char16_t FoldCase(char16_t c) {
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F))
        return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<char16_t>(c - 0x50);
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        bool evenUpper = (c < 0x138) || (c > 0x149 && c < 0x178);
        if (evenUpper)
            return static_cast<char16_t>(c & ~1);
        if (c == 0x178)
            return c;
        return (c % 2 == 0) ? static_cast<char16_t>(c - 1) : c;  // 0x139..0x148, 0x179..0x17E: odd is upper
    }
    return c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() == b.size()) {
        bool ascii = true;
        bool equal = true;
        for (std::size_t i = 0; i < a.size(); ++i) {
            unsigned char x = static_cast<unsigned char>(a[i]);
            unsigned char y = static_cast<unsigned char>(b[i]);
            if (x >= 0x80 || y >= 0x80) {
                ascii = false;
                break;
            }
            if (FoldCase(x) != FoldCase(y))
                equal = false;
        }
        if (ascii)
            return equal;
    }
    nv::WideString wa = nv::ToWide(a);
    nv::WideString wb = nv::ToWide(b);
    if (wa.size() != wb.size())
        return false;
    for (std::size_t i = 0; i < wa.size(); ++i)
        if (FoldCase(wa[i]) != FoldCase(wb[i]))
            return false;
    return true;
}

DWORD ErrnoToWin32(int err, DWORD fallback) {
    switch (err) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case ENOSPC:
        case EDQUOT:
            return kErrorDiskFull;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return fallback;
    }
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// Reads the file's bytes; a missing file gives ERROR_FILE_NOT_FOUND (or ERROR_PATH_NOT_FOUND when
// its folder is missing).
bool ReadBytes(const std::string& path, std::string& data, DWORD& error) {
    data.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        error = ErrnoToWin32(err, kErrorReadFault);
        if (err == ENOENT) {
            struct stat st;
            std::string folder = FolderOf(path);
            if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                error = ERROR_PATH_NOT_FOUND;
        }
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        error = ERROR_ACCESS_DENIED;
        return false;
    }
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = ErrnoToWin32(errno, kErrorReadFault);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        data.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    error = ERROR_SUCCESS;
    return true;
}

Profile Decode(const std::string& data) {
    Profile profile;
    profile.lines = nv::SplitTextLines(nv::DecodeText(data, profile.encoding));
    return profile;
}

std::string Serialize(const Profile& profile) {
    std::string utf8;
    for (const Line& line : profile.lines)
        nv::AppendTextLine(utf8, line);
    return nv::EncodeText(utf8, profile.encoding);
}

// Writes the whole file beside the original and renames it over; the original stays untouched
// on any failure, and a reader sees either the old file or the new one. A symbolic link is
// followed so that the link itself survives. The data is not forced to disk on each call: saving
// a configuration makes a call per key, and syncing each one made a save of a thousand items
// take half a minute.
bool Save(const std::string& path, const Profile& profile, std::string& data, DWORD& error) {
    std::string target = path;
    struct stat lst;
    if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (real != nullptr) {
            target = real;
            std::free(real);
        }
    }
    mode_t mode = 0644;
    struct stat st;
    if (::stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
        // Replacing the file by a rename would get past a read-only file; honour it as Windows
        // does, whoever runs the program.
        if ((mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) {
            error = ERROR_ACCESS_DENIED;
            return false;
        }
    }

    std::string tmpl = target + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) {
        int err = errno;
        error = ErrnoToWin32(err, kErrorWriteFault);
        if (err == ENOENT)
            error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    data = Serialize(profile);
    bool ok = ::fchmod(fd, mode) == 0;
    int err = ok ? 0 : errno;
    std::size_t done = 0;
    while (ok && done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            err = errno;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(name.data(), target.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(name.data());
        error = ErrnoToWin32(err, kErrorWriteFault);
        return false;
    }
    error = ERROR_SUCCESS;
    return true;
}

// The lines of one section: [begin, end) after its header.
struct SectionRange {
    std::size_t header;
    std::size_t begin;
    std::size_t end;
};

std::vector<SectionRange> Sections(const Profile& profile, std::vector<ParsedLine>& parsed) {
    parsed.clear();
    parsed.reserve(profile.lines.size());
    for (const Line& line : profile.lines)
        parsed.push_back(Parse(line.text));
    std::vector<SectionRange> sections;
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        if (parsed[i].kind != LineKind::Section)
            continue;
        if (!sections.empty())
            sections.back().end = i;
        sections.push_back({i, i + 1, parsed.size()});
    }
    return sections;
}

// A file with its lines classified. The last one read or written is kept: a configuration is
// read and written one key per call, and classifying every line again on each call made loading
// a thousand items take seconds. The file is still read on every call, and the kept copy is used
// only while the bytes are the same, so changes made by anyone else are always seen.
struct Document {
    Profile profile;
    std::vector<ParsedLine> parsed;
    std::vector<SectionRange> sections;
};

std::shared_ptr<const Document> MakeDocument(Profile profile) {
    auto doc = std::make_shared<Document>();
    doc->profile = std::move(profile);
    doc->sections = Sections(doc->profile, doc->parsed);
    return doc;
}

struct CachedFile {
    std::string path;
    std::string bytes;
    std::shared_ptr<const Document> doc;
};

// Guarded by profileMutex.
CachedFile& Cache() {
    static auto* cache = new CachedFile();
    return *cache;
}

void Remember(const std::string& path, std::string bytes, std::shared_ptr<const Document> doc) {
    CachedFile& cache = Cache();
    cache.path = path;
    cache.bytes = std::move(bytes);
    cache.doc = std::move(doc);
}

// The file as it is now; nullptr when it cannot be read, with the reason in `error`.
std::shared_ptr<const Document> Open(const std::string& path, DWORD& error) {
    std::string bytes;
    if (!ReadBytes(path, bytes, error))
        return nullptr;
    const CachedFile& cache = Cache();
    if (cache.doc != nullptr && cache.path == path && cache.bytes == bytes)
        return cache.doc;
    auto doc = MakeDocument(Decode(bytes));
    Remember(path, std::move(bytes), doc);
    return doc;
}

const SectionRange* FindSection(const std::vector<SectionRange>& sections,
                                const std::vector<ParsedLine>& parsed, std::string_view name) {
    for (const SectionRange& s : sections)
        if (SameName(parsed[s.header].name, name))
            return &s;
    return nullptr;
}

std::string EndingFor(const Profile& profile) {
    for (const Line& line : profile.lines)
        if (!line.ending.empty())
            return line.ending;
    return "\r\n";
}

std::string StripQuotes(const std::string& value) {
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        return value.substr(1, value.size() - 2);
    return value;
}

std::string PathOf(LPCWSTR fileName) {
    return nv::ToUtf8(fileName);
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// A single string: truncated to nSize-1 characters when it does not fit.
DWORD CopyString(const nv::WideString& text, LPWSTR buffer, DWORD nSize) {
    if (buffer == nullptr || nSize == 0)
        return 0;
    if (text.size() < nSize) {
        std::copy(text.begin(), text.end(), buffer);
        buffer[text.size()] = 0;
        return static_cast<DWORD>(text.size());
    }
    std::copy(text.begin(), text.begin() + (nSize - 1), buffer);
    buffer[nSize - 1] = 0;
    SetLastError(ERROR_MORE_DATA);
    return nSize - 1;
}

// A list of NUL-terminated strings closed by one more NUL. When it does not fit, the last string
// is cut, two NULs close the buffer and the result is nSize-2; a buffer exactly as long as the
// list counts as too short, as on Windows.
DWORD CopyList(const std::vector<std::string>& items, LPWSTR buffer, DWORD nSize) {
    if (buffer == nullptr || nSize == 0)
        return 0;
    nv::WideString all;
    for (const std::string& item : items) {
        all += nv::ToWide(item);
        all.push_back(0);
    }
    if (nSize < 2) {
        buffer[0] = 0;
        return 0;
    }
    if (all.size() + 1 < nSize) {
        std::copy(all.begin(), all.end(), buffer);
        buffer[all.size()] = 0;
        if (all.empty())
            buffer[1] = 0;
        return static_cast<DWORD>(all.size());
    }
    std::copy(all.begin(), all.begin() + (nSize - 2), buffer);
    buffer[nSize - 2] = 0;
    buffer[nSize - 1] = 0;
    SetLastError(ERROR_MORE_DATA);
    return nSize - 2;
}

void AddUnique(std::vector<std::string>& list, const std::string& name) {
    for (const std::string& n : list)
        if (SameName(n, name))
            return;
    list.push_back(name);
}

std::vector<std::string> SectionNames(const Document& doc) {
    std::vector<std::string> names;
    for (const SectionRange& s : doc.sections)
        AddUnique(names, doc.parsed[s.header].name);
    return names;
}

// Looks a key up: nullptr when the section or the key is missing.
const ParsedLine* FindKey(const std::vector<SectionRange>& sections, const std::vector<ParsedLine>& parsed,
                          std::string_view section, std::string_view key, std::size_t* index = nullptr) {
    const SectionRange* s = FindSection(sections, parsed, section);
    if (s == nullptr)
        return nullptr;
    for (std::size_t i = s->begin; i < s->end; ++i) {
        if (parsed[i].kind == LineKind::Key && !parsed[i].name.empty() && SameName(parsed[i].name, key)) {
            if (index != nullptr)
                *index = i;
            return &parsed[i];
        }
    }
    return nullptr;
}

// The value of a key as GetPrivateProfileStringW returns it, or false when there is none.
bool ReadValue(const std::string& path, const std::string& section, const std::string& key,
               std::string& value, DWORD& error) {
    std::shared_ptr<const Document> doc = Open(path, error);
    if (doc == nullptr)
        return false;
    const ParsedLine* line = FindKey(doc->sections, doc->parsed, section, key);
    if (line == nullptr) {
        error = ERROR_FILE_NOT_FOUND;
        return false;
    }
    value = StripQuotes(line->value);
    return true;
}

nv::WideString DefaultText(LPCWSTR lpDefault) {
    nv::WideString def = lpDefault != nullptr ? nv::WideString(lpDefault) : nv::WideString();
    while (!def.empty() && def.back() == u' ')
        def.pop_back();
    return def;
}

}  // namespace

extern "C" DWORD GetPrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpDefault,
                                          LPWSTR lpReturnedString, DWORD nSize, LPCWSTR lpFileName) {
    if (lpReturnedString == nullptr || nSize == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    nv::WideString def = DefaultText(lpDefault);
    if (lpFileName == nullptr) {
        DWORD n = CopyString(def, lpReturnedString, nSize);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return n;
    }
    std::lock_guard<std::mutex> lock(profileMutex);
    DWORD error = ERROR_SUCCESS;
    std::shared_ptr<const Document> doc = Open(PathOf(lpFileName), error);
    if (doc == nullptr) {
        DWORD n = CopyString(def, lpReturnedString, nSize);
        SetLastError(error);
        return n;
    }
    SetLastError(ERROR_SUCCESS);
    if (lpAppName == nullptr)
        return CopyList(SectionNames(*doc), lpReturnedString, nSize);

    const std::vector<ParsedLine>& parsed = doc->parsed;
    const std::vector<SectionRange>& sections = doc->sections;
    std::string section = Trim(nv::ToUtf8(lpAppName));
    if (lpKeyName == nullptr) {
        std::vector<std::string> keys;
        if (const SectionRange* s = FindSection(sections, parsed, section)) {
            for (std::size_t i = s->begin; i < s->end; ++i)
                if (parsed[i].kind == LineKind::Key && !parsed[i].name.empty())
                    AddUnique(keys, parsed[i].name);
        }
        // A missing or keyless section reads as the default, as on Windows.
        if (keys.empty()) {
            DWORD n = CopyString(def, lpReturnedString, nSize);
            SetLastError(ERROR_FILE_NOT_FOUND);
            return n;
        }
        return CopyList(keys, lpReturnedString, nSize);
    }
    const ParsedLine* line = FindKey(sections, parsed, section, Trim(nv::ToUtf8(lpKeyName)));
    if (line == nullptr) {
        DWORD n = CopyString(def, lpReturnedString, nSize);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return n;
    }
    return CopyString(nv::ToWide(StripQuotes(line->value)), lpReturnedString, nSize);
}

extern "C" UINT GetPrivateProfileIntW(LPCWSTR lpAppName, LPCWSTR lpKeyName, INT nDefault,
                                      LPCWSTR lpFileName) {
    if (lpAppName == nullptr || lpKeyName == nullptr || lpFileName == nullptr)
        return static_cast<UINT>(nDefault);
    std::string value;
    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard<std::mutex> lock(profileMutex);
        if (!ReadValue(PathOf(lpFileName), Trim(nv::ToUtf8(lpAppName)), Trim(nv::ToUtf8(lpKeyName)), value,
                       error)) {
            SetLastError(error);
            return static_cast<UINT>(nDefault);
        }
    }
    SetLastError(ERROR_SUCCESS);
    if (value.empty())
        return static_cast<UINT>(nDefault);

    // Leading digits in 32-bit arithmetic that wraps, as Windows does: "42abc" is 42, "abc" is 0,
    // 4294967297 is 1. A "0x", "0o" or "0b" prefix selects the base.
    std::size_t i = 0;
    while (i < value.size() && static_cast<unsigned char>(value[i]) <= ' ')
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        ++i;
    }
    UINT base = 10;
    if (i + 1 < value.size() && value[i] == '0') {
        char p = value[i + 1];
        if (p == 'x' || p == 'X')
            base = 16;
        if (p == 'o' || p == 'O')
            base = 8;
        if (p == 'b' || p == 'B')
            base = 2;
        if (base != 10)
            i += 2;
    }
    UINT result = 0;
    for (; i < value.size(); ++i) {
        char c = value[i];
        UINT digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<UINT>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<UINT>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<UINT>(c - 'A' + 10);
        else
            break;
        if (digit >= base)
            break;
        result = result * base + digit;
    }
    return negative ? static_cast<UINT>(0u - result) : result;
}

extern "C" DWORD GetPrivateProfileSectionW(LPCWSTR lpAppName, LPWSTR lpReturnedString, DWORD nSize,
                                           LPCWSTR lpFileName) {
    if (lpAppName == nullptr || lpReturnedString == nullptr || nSize == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (lpFileName == nullptr) {
        lpReturnedString[0] = 0;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    std::lock_guard<std::mutex> lock(profileMutex);
    DWORD error = ERROR_SUCCESS;
    std::shared_ptr<const Document> doc = Open(PathOf(lpFileName), error);
    if (doc == nullptr) {
        lpReturnedString[0] = 0;
        SetLastError(error);
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    const std::vector<ParsedLine>& parsed = doc->parsed;
    const std::vector<SectionRange>& sections = doc->sections;
    std::vector<std::string> entries;
    if (const SectionRange* s = FindSection(sections, parsed, Trim(nv::ToUtf8(lpAppName)))) {
        for (std::size_t i = s->begin; i < s->end; ++i) {
            const ParsedLine& p = parsed[i];
            if (p.kind == LineKind::Key && !p.name.empty())
                entries.push_back(p.name + "=" + p.value);
            else if (p.kind == LineKind::NoValue)
                entries.push_back(p.name);
        }
    }
    return CopyList(entries, lpReturnedString, nSize);
}

extern "C" DWORD GetPrivateProfileSectionNamesW(LPWSTR lpszReturnBuffer, DWORD nSize, LPCWSTR lpFileName) {
    if (lpszReturnBuffer == nullptr || nSize == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (lpFileName == nullptr) {
        lpszReturnBuffer[0] = 0;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    std::lock_guard<std::mutex> lock(profileMutex);
    DWORD error = ERROR_SUCCESS;
    std::shared_ptr<const Document> doc = Open(PathOf(lpFileName), error);
    if (doc == nullptr) {
        lpszReturnBuffer[0] = 0;
        SetLastError(error);
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    return CopyList(SectionNames(*doc), lpszReturnBuffer, nSize);
}

extern "C" BOOL WritePrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpString,
                                           LPCWSTR lpFileName) {
    if (lpFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // All three null asks for the cache to be written out. Nothing is cached here, but a flush
    // reports zero on Windows whatever it did.
    if (lpAppName == nullptr && lpKeyName == nullptr && lpString == nullptr) {
        SetLastError(ERROR_SUCCESS);
        return FALSE;
    }
    // Windows answers a write without a section as it answers a lookup that finds nothing.
    if (lpAppName == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }

    // Names and values that the file could not hold as one line would come back as other keys
    // or sections on the next read; they are refused instead of written.
    std::string section = Trim(nv::ToUtf8(lpAppName));
    if (section.empty() || HasLineBreak(section) || section.find(']') != std::string::npos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string key;
    if (lpKeyName != nullptr) {
        key = Trim(nv::ToUtf8(lpKeyName));
        if (key.empty() || HasLineBreak(key) || key.find('=') != std::string::npos || key[0] == ';' ||
            key[0] == '[') {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    std::string value;
    if (lpString != nullptr) {
        value = nv::ToUtf8(lpString);
        std::size_t b = 0;
        while (b < value.size() && IsBlank(value[b]))
            ++b;
        value.erase(0, b);
        if (HasLineBreak(value)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }

    std::string path = PathOf(lpFileName);
    std::lock_guard<std::mutex> lock(profileMutex);
    DWORD error = ERROR_SUCCESS;
    std::shared_ptr<const Document> doc = Open(path, error);
    if (doc == nullptr && error != ERROR_FILE_NOT_FOUND) {
        SetLastError(error);
        return FALSE;
    }
    // A delete in a missing file leaves an empty file behind, as on Windows.
    const bool missing = doc == nullptr;
    if (missing)
        doc = MakeDocument(Profile{});
    // The kept copy is shared; the change is made on a copy of its lines.
    Profile profile = doc->profile;
    const std::vector<ParsedLine>& parsed = doc->parsed;
    const std::vector<SectionRange>& sections = doc->sections;
    std::vector<Line>& lines = profile.lines;
    bool changed = false;

    if (lpKeyName == nullptr) {
        // Every section of that name goes, so that no later copy of it shows through.
        for (auto s = sections.rbegin(); s != sections.rend(); ++s) {
            if (!SameName(parsed[s->header].name, section))
                continue;
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(s->header),
                        lines.begin() + static_cast<std::ptrdiff_t>(s->end));
            changed = true;
        }
    } else if (lpString == nullptr) {
        // Every copy of the key in the section goes, for the same reason.
        if (const SectionRange* s = FindSection(sections, parsed, section)) {
            for (std::size_t i = s->end; i-- > s->begin;) {
                if (parsed[i].kind == LineKind::Key && SameName(parsed[i].name, key)) {
                    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
                    changed = true;
                }
            }
        }
    } else {
        const std::string eol = EndingFor(profile);
        const SectionRange* s = FindSection(sections, parsed, section);
        std::size_t index = 0;
        if (FindKey(sections, parsed, section, key, &index) != nullptr) {
            Line& line = lines[index];
            std::string updated = line.text.substr(0, parsed[index].valueStart) + value;
            if (updated != line.text) {
                line.text = std::move(updated);
                changed = true;
            }
        } else if (s != nullptr) {
            // After the last key of the section, so that blank lines and comments that lead
            // into the next section stay with it.
            std::size_t after = s->header;
            for (std::size_t i = s->begin; i < s->end; ++i)
                if (parsed[i].kind == LineKind::Key || parsed[i].kind == LineKind::NoValue)
                    after = i;
            if (lines[after].ending.empty())
                lines[after].ending = eol;
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after + 1),
                         Line{key + "=" + value, eol});
            changed = true;
        } else {
            if (!lines.empty() && lines.back().ending.empty())
                lines.back().ending = eol;
            lines.push_back(Line{"[" + section + "]", eol});
            lines.push_back(Line{key + "=" + value, eol});
            changed = true;
        }
    }

    if (changed || missing) {
        std::string bytes;
        if (!Save(path, profile, bytes, error)) {
            SetLastError(error);
            return FALSE;
        }
        Remember(path, std::move(bytes), MakeDocument(std::move(profile)));
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
