// The read-only registry: a tree of keys per machine built from .reg text files, opened through
// handles that keep the tree they were opened on alive, so a reload never pulls a tree from under
// a reader on another thread.
#include "platform/posix/registry.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <unordered_set>

#include "platform/NvWide.h"
#include "platform/posix/kernel.h"
#include "platform/posix/winerror.h"

// The install layout, from the build (platform/CMakeLists.txt): where the library and the data
// folder lie below the prefix.
#if !defined(NV_INSTALL_LIBDIR) || !defined(NV_DATA_SUBDIR)
#error "NV_INSTALL_LIBDIR and NV_DATA_SUBDIR come from the build; compile with CMake"
#endif

namespace {

using U16 = std::u16string;
using U16View = std::u16string_view;

char16_t FoldUpper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

U16 Upper(U16View s) {
    U16 out(s);
    for (auto& c : out)
        c = FoldUpper(c);
    return out;
}

bool EqualNoCase(U16View a, U16View b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldUpper(a[i]) != FoldUpper(b[i]))
            return false;
    return true;
}

struct Value {
    U16 name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Key;
struct SubkeyEntry {
    U16 name;  // as first written
    std::shared_ptr<Key> key;
};

struct Key {
    std::map<U16, SubkeyEntry> subkeys;  // by upper-case name: the order Windows enumerates in
    std::vector<Value> values;           // in the order first written

    const Key* Child(U16View name) const {
        auto it = subkeys.find(Upper(name));
        return it == subkeys.end() ? nullptr : it->second.key.get();
    }
    Key& ChildOrCreate(U16View name) {
        auto& entry = subkeys[Upper(name)];
        if (!entry.key) {
            entry.name = U16(name);
            entry.key = std::make_shared<Key>();
        }
        return *entry.key;
    }
    const Value* FindValue(U16View name) const {
        for (const auto& v : values)
            if (EqualNoCase(v.name, name))
                return &v;
        return nullptr;
    }
    void SetValue(Value value) {
        for (auto& v : values) {
            if (EqualNoCase(v.name, value.name)) {
                v.type = value.type;
                v.data = std::move(value.data);
                return;
            }
        }
        values.push_back(std::move(value));
    }
    void RemoveValue(U16View name) {
        values.erase(std::remove_if(values.begin(), values.end(),
                                    [&](const Value& v) { return EqualNoCase(v.name, name); }),
                     values.end());
    }
};

// One machine's registry. HKLM\SOFTWARE\Classes is the very node HKCR is, as on Windows.
struct Machine {
    std::shared_ptr<Key> classesRoot = std::make_shared<Key>();
    std::shared_ptr<Key> localMachine = std::make_shared<Key>();
    std::shared_ptr<Key> users = std::make_shared<Key>();
    std::shared_ptr<Key> currentUser = std::make_shared<Key>();

    Machine() {
        auto& software = localMachine->ChildOrCreate(u"SOFTWARE");
        auto& entry = software.subkeys[u"CLASSES"];
        entry.name = u"Classes";
        entry.key = classesRoot;
    }
};

struct State {
    Machine local;
    std::map<U16, std::pair<U16, std::shared_ptr<Machine>>> hosts;  // upper-case name -> (name, registry)
    std::vector<std::string> errors;
};

// ---- .reg parsing ----------------------------------------------------------------------------

enum class Root { ClassesRoot, LocalMachine, CurrentUser, Users };

struct ValueOp {
    bool remove = false;
    Value value;
};
struct KeyOp {
    Root root;
    std::vector<U16> path;
    std::vector<ValueOp> values;
    bool remove = false;  // "[-...]": the key goes, with everything below it
};

struct ParseError {
    std::size_t line;
    std::string reason;
};

bool IsHex(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}
unsigned HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return c - u'A' + 10;
}
bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

U16View TrimBlank(U16View s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::vector<U16> SplitPath(U16View path) {
    std::vector<U16> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == U16View::npos)
            end = path.size();
        if (end > start)
            parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::optional<Root> RootFromName(U16View name) {
    U16 upper = Upper(name);
    if (upper == u"HKEY_CLASSES_ROOT" || upper == u"HKCR")
        return Root::ClassesRoot;
    if (upper == u"HKEY_LOCAL_MACHINE" || upper == u"HKLM")
        return Root::LocalMachine;
    if (upper == u"HKEY_CURRENT_USER" || upper == u"HKCU")
        return Root::CurrentUser;
    if (upper == u"HKEY_USERS" || upper == u"HKU")
        return Root::Users;
    return std::nullopt;
}

// Text of a file as UTF-16: UTF-16LE/BE after a byte-order mark, otherwise UTF-8 (BOM optional).
bool DecodeText(const std::string& bytes, U16& text, std::string& reason) {
    auto b = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    if (n >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
        bool little = b[0] == 0xFF;
        if ((n - 2) % 2 != 0) {
            reason = "UTF-16 text with an odd number of bytes";
            return false;
        }
        text.clear();
        text.reserve((n - 2) / 2);
        for (std::size_t i = 2; i + 1 < n; i += 2)
            text.push_back(
                static_cast<char16_t>(little ? (b[i] | (b[i + 1] << 8)) : ((b[i] << 8) | b[i + 1])));
        return true;
    }
    std::string_view view(bytes);
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
        view.remove_prefix(3);
    text = nv::ToWide(view);
    return true;
}

class RegFileParser {
public:
    explicit RegFileParser(const U16& text) { Split(text); }

    // Parses the whole file into key operations; nothing is applied unless all of it parses.
    std::optional<ParseError> Parse(std::vector<KeyOp>& ops) {
        std::size_t i = 0;
        while (i < lines_.size() && TrimBlank(lines_[i]).empty())
            ++i;
        if (i == lines_.size())
            return ParseError{1, "empty file, no header line"};
        U16View header = TrimBlank(lines_[i]);
        if (header == u"Windows Registry Editor Version 5.00") {
            regedit4_ = false;
        } else if (header == u"REGEDIT4") {
            regedit4_ = true;
        } else {
            return ParseError{i + 1, "expected \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\""};
        }
        KeyOp* current = nullptr;
        bool inDeletedKey = false;
        for (++i; i < lines_.size(); ++i) {
            std::size_t lineNo = i + 1;
            U16View line = TrimBlank(lines_[i]);
            if (line.empty() || line.front() == u';' || line.front() == u'#')
                continue;
            if (line.front() == u'[') {
                if (line.back() != u']')
                    return ParseError{lineNo, "key line without closing ']'"};
                U16View inner = line.substr(1, line.size() - 2);
                // A later file may delete what an earlier one added, as importing it would.
                bool remove = !inner.empty() && inner.front() == u'-';
                if (remove)
                    inner.remove_prefix(1);
                std::vector<U16> parts = SplitPath(inner);
                if (parts.empty())
                    return ParseError{lineNo, "empty key name"};
                auto root = RootFromName(parts.front());
                if (!root)
                    return ParseError{lineNo, "unknown root key \"" + nv::ToUtf8(parts.front()) + "\""};
                parts.erase(parts.begin());
                ops.push_back(KeyOp{*root, std::move(parts), {}, remove});
                // Values under a deleted key are not written anywhere.
                current = remove ? nullptr : &ops.back();
                inDeletedKey = remove;
                continue;
            }
            if (line.front() == u'@' || line.front() == u'"') {
                ValueOp op;
                std::string reason;
                std::size_t consumed = 0;
                if (!ParseValueLine(i, op, consumed, reason))
                    return ParseError{lineNo + consumed, reason};
                i += consumed;
                if (inDeletedKey)
                    continue;
                if (current == nullptr)
                    return ParseError{lineNo, "value line outside of a key"};
                current->values.push_back(std::move(op));
                continue;
            }
            return ParseError{lineNo, "unrecognised line"};
        }
        return std::nullopt;
    }

private:
    // Lines end with CR LF, LF or a lone CR: the importer takes all three.
    void Split(const U16& text) {
        std::size_t start = 0;
        for (;;) {
            std::size_t end = text.find_first_of(u"\r\n", start);
            if (end == U16::npos) {
                lines_.emplace_back(text.substr(start));
                break;
            }
            lines_.emplace_back(text.substr(start, end - start));
            start = end + ((text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n') ? 2 : 1);
        }
    }

    // A quoted string starting at s[pos] == '"'; on return pos is past the closing quote.
    // Escapes are read as the system's importer reads them: \n and \r are line breaks, any other
    // escaped character stands for itself (so a lone backslash in a hand-written path disappears,
    // exactly as it does on import), and \0 makes the line unusable.
    static bool ParseQuoted(U16View s, std::size_t& pos, U16& out, std::string& reason) {
        out.clear();
        ++pos;
        while (pos < s.size()) {
            char16_t c = s[pos];
            if (c == u'"') {
                ++pos;
                return true;
            }
            if (c == u'\\' && pos + 1 < s.size()) {
                char16_t next = s[pos + 1];
                if (next == u'0') {
                    reason = "\"\\0\" in a string";
                    return false;
                }
                out.push_back(next == u'n' ? u'\n' : next == u'r' ? u'\r' : next);
                pos += 2;
                continue;
            }
            out.push_back(c);
            ++pos;
        }
        reason = "string without closing quote";
        return false;
    }

    // Data other than a string ends where a ';' comment starts.
    static U16View WithoutComment(U16View data) { return data.substr(0, data.find(u';')); }

    // What follows a string value may be blanks and a ';' comment, nothing else.
    static bool OnlyComment(U16View rest) {
        rest = TrimBlank(rest);
        return rest.empty() || rest.front() == u';';
    }

    // Parses the value line at lines_[index]; `consumed` counts the continuation lines used.
    bool ParseValueLine(std::size_t index, ValueOp& op, std::size_t& consumed, std::string& reason) {
        U16View line = TrimBlank(lines_[index]);
        std::size_t pos = 0;
        if (line[0] == u'@') {
            op.value.name.clear();
            pos = 1;
        } else if (!ParseQuoted(line, pos, op.value.name, reason)) {
            return false;
        }
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != u'=') {
            reason = "expected '=' after the value name";
            return false;
        }
        ++pos;
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        U16View data = line.substr(pos);
        if (data == u"-") {
            op.remove = true;
            return true;
        }
        if (!data.empty() && data.front() == u'"') {
            std::size_t p = 0;
            U16 text;
            if (!ParseQuoted(data, p, text, reason))
                return false;
            if (!OnlyComment(data.substr(p))) {
                reason = "unexpected text after the closing quote";
                return false;
            }
            op.value.type = REG_SZ;
            AppendUtf16(op.value.data, text);
            return true;
        }
        U16 lower;
        for (char16_t c : data.substr(0, std::min<std::size_t>(data.size(), 8)))
            lower.push_back(c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c);
        if (lower.rfind(u"dword:", 0) == 0) {
            U16View digits = TrimBlank(WithoutComment(data.substr(6)));
            if (digits.empty() || digits.size() > 8 || !std::all_of(digits.begin(), digits.end(), IsHex)) {
                reason = "dword value needs 1 to 8 hexadecimal digits";
                return false;
            }
            DWORD v = 0;
            for (char16_t c : digits)
                v = (v << 4) | HexValue(c);
            op.value.type = REG_DWORD;
            op.value.data = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                             static_cast<BYTE>(v >> 24)};
            return true;
        }
        if (lower.rfind(u"hex", 0) == 0) {
            std::size_t p = 3;
            DWORD type = REG_BINARY;
            if (p < data.size() && data[p] == u'(') {
                std::size_t close = data.find(u')', p);
                U16View t = close == U16View::npos ? U16View() : data.substr(p + 1, close - p - 1);
                if (t.empty() || t.size() > 8 || !std::all_of(t.begin(), t.end(), IsHex)) {
                    reason = "hex(type) needs a hexadecimal type number";
                    return false;
                }
                type = 0;
                for (char16_t c : t)
                    type = (type << 4) | HexValue(c);
                p = close + 1;
            }
            if (p >= data.size() || data[p] != u':') {
                reason = "expected ':' after hex";
                return false;
            }
            std::vector<BYTE> bytes;
            if (!ParseHexBytes(index, data.substr(p + 1), bytes, consumed, reason))
                return false;
            // REGEDIT4 writes the text kinds in the 8-bit code page; this registry keeps UTF-16.
            if (regedit4_ && (type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
                std::string narrow(bytes.begin(), bytes.end());
                bytes.clear();
                AppendUtf16Raw(bytes, nv::ToWide(narrow));
            }
            op.value.type = type;
            op.value.data = std::move(bytes);
            return true;
        }
        reason = "unknown value data (expected a string, dword: or hex:)";
        return false;
    }

    bool ParseHexBytes(std::size_t index, U16View first, std::vector<BYTE>& bytes, std::size_t& consumed,
                       std::string& reason) {
        U16View chunk = first;
        for (;;) {
            chunk = TrimBlank(WithoutComment(chunk));
            bool more = !chunk.empty() && chunk.back() == u'\\';
            if (more)
                chunk = TrimBlank(chunk.substr(0, chunk.size() - 1));
            std::size_t pos = 0;
            while (pos < chunk.size()) {
                while (pos < chunk.size() && IsBlank(chunk[pos]))
                    ++pos;
                std::size_t start = pos;
                while (pos < chunk.size() && IsHex(chunk[pos]))
                    ++pos;
                std::size_t len = pos - start;
                if (len == 0 || len > 2) {
                    reason = "malformed hex byte list";
                    return false;
                }
                unsigned v = 0;
                for (std::size_t k = start; k < pos; ++k)
                    v = (v << 4) | HexValue(chunk[k]);
                bytes.push_back(static_cast<BYTE>(v));
                while (pos < chunk.size() && IsBlank(chunk[pos]))
                    ++pos;
                if (pos < chunk.size()) {
                    if (chunk[pos] != u',') {
                        reason = "malformed hex byte list";
                        return false;
                    }
                    ++pos;
                    // A trailing comma before a continuation is how regedit breaks lines.
                    if (pos >= chunk.size() && !more) {
                        reason = "hex byte list ends with ','";
                        return false;
                    }
                }
            }
            if (!more)
                return true;
            // Comment lines inside a continued list are passed over, as on import.
            do {
                if (index + consumed + 1 >= lines_.size()) {
                    reason = "hex byte list continues past the end of the file";
                    return false;
                }
                ++consumed;
                chunk = lines_[index + consumed];
            } while (!TrimBlank(chunk).empty() && TrimBlank(chunk).front() == u';');
            // regedit never breaks a list onto an empty line; one here means a cut-off file.
            if (TrimBlank(chunk).empty()) {
                reason = "hex byte list continues onto an empty line";
                return false;
            }
        }
    }

    static void AppendUtf16Raw(std::vector<BYTE>& out, U16View text) {
        for (char16_t c : text) {
            out.push_back(static_cast<BYTE>(c & 0xFF));
            out.push_back(static_cast<BYTE>(c >> 8));
        }
    }
    static void AppendUtf16(std::vector<BYTE>& out, U16View text) {
        AppendUtf16Raw(out, text);
        out.push_back(0);
        out.push_back(0);
    }

    std::vector<U16> lines_;
    bool regedit4_ = false;
};

void Apply(Machine& machine, const std::vector<KeyOp>& ops) {
    for (const auto& op : ops) {
        Key* key = nullptr;
        switch (op.root) {
            case Root::ClassesRoot:
                key = machine.classesRoot.get();
                break;
            case Root::LocalMachine:
                key = machine.localMachine.get();
                break;
            case Root::CurrentUser:
                key = machine.currentUser.get();
                break;
            case Root::Users:
                key = machine.users.get();
                break;
        }
        if (op.remove) {
            // The top of a tree is never deleted; a key that is not there is no error.
            for (std::size_t i = 0; key != nullptr && i + 1 < op.path.size(); ++i) {
                auto it = key->subkeys.find(Upper(op.path[i]));
                key = it == key->subkeys.end() ? nullptr : it->second.key.get();
            }
            if (key != nullptr && !op.path.empty())
                key->subkeys.erase(Upper(op.path.back()));
            continue;
        }
        for (const auto& part : op.path)
            key = &key->ChildOrCreate(part);
        for (const auto& v : op.values) {
            if (v.remove) {
                key->RemoveValue(v.value.name);
            } else {
                key->SetValue(v.value);
            }
        }
    }
}

// ---- Files and folders -----------------------------------------------------------------------

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool HasRegExtension(const std::string& name) {
    if (name.size() < 5)
        return false;
    std::string ext = name.substr(name.size() - 4);
    for (auto& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".reg";
}

std::vector<std::string> ListEntries(const std::string& folder, bool directories) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string full = folder + "/" + name;
        if (directories) {
            if (IsDirectory(full))
                names.push_back(name);
        } else if (HasRegExtension(name) && !IsDirectory(full)) {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void LoadFile(const std::string& path, Machine& machine, std::vector<std::string>& errors) {
    std::ifstream in(path, std::ios::binary);
    std::string message;
    if (!in) {
        message = path + ": cannot be read";
    } else {
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        U16 text;
        std::string reason;
        if (!DecodeText(bytes, text, reason)) {
            message = path + ":1: " + reason;
        } else {
            std::vector<KeyOp> ops;
            RegFileParser parser(text);
            if (auto error = parser.Parse(ops)) {
                message = path + ":" + std::to_string(error->line) + ": " + error->reason;
            } else {
                Apply(machine, ops);
                return;
            }
        }
    }
    std::fprintf(stderr, "nvplatform: registry file skipped: %s\n", message.c_str());
    errors.push_back(message);
}

void LoadFolder(const std::string& folder, Machine& machine, std::vector<std::string>& errors) {
    for (const auto& name : ListEntries(folder, false))
        LoadFile(folder + "/" + name, machine, errors);
}

std::shared_ptr<State> LoadState() {
    auto state = std::make_shared<State>();
    LoadFolder(nvplatform::InstalledRegistryFolder(), state->local, state->errors);
    std::string config = nvplatform::UserConfigFolder();
    LoadFolder(config + "/registry", state->local, state->errors);
    std::string hostsFolder = config + "/hosts";
    for (const auto& name : ListEntries(hostsFolder, true)) {
        std::string folder = hostsFolder + "/" + name;
        if (ListEntries(folder, false).empty())
            continue;
        auto machine = std::make_shared<Machine>();
        LoadFolder(folder, *machine, state->errors);
        U16 wide = nv::ToWide(name);
        state->hosts[Upper(wide)] = {wide, machine};
    }
    return state;
}

// ---- Global state and handles ----------------------------------------------------------------

// Process-wide and never destroyed: modules and static objects may still close keys while the
// process exits.
struct Globals {
    std::mutex mutex;
    std::shared_ptr<const State> state;
    std::unordered_set<HKEY__*> handles;
};
Globals& G() {
    static Globals* globals = new Globals;
    return *globals;
}

std::shared_ptr<const State> CurrentState() {
    std::lock_guard lock(G().mutex);
    if (!G().state)
        G().state = LoadState();
    return G().state;
}

}  // namespace

// An open key: the key node and the tree that owns it.
struct HKEY__ {
    std::shared_ptr<const void> owner;
    const Key* key;
};

namespace {

bool IsPredefined(HKEY h) {
    auto v = reinterpret_cast<ULONG_PTR>(h);
    return v >= reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT) &&
           v <= reinterpret_cast<ULONG_PTR>(HKEY_CURRENT_CONFIG);
}

const Key* MachineRoot(const Machine& machine, HKEY predefined) {
    if (predefined == HKEY_CLASSES_ROOT)
        return machine.classesRoot.get();
    if (predefined == HKEY_LOCAL_MACHINE)
        return machine.localMachine.get();
    if (predefined == HKEY_USERS)
        return machine.users.get();
    if (predefined == HKEY_CURRENT_USER)
        return machine.currentUser.get();
    return nullptr;
}

// The key behind a handle, with what keeps it alive for the duration of the call.
bool Resolve(HKEY h, std::shared_ptr<const void>& owner, const Key*& key) {
    if (IsPredefined(h)) {
        auto state = CurrentState();
        key = MachineRoot(state->local, h);
        owner = state;
        return key != nullptr;
    }
    std::lock_guard lock(G().mutex);
    if (h == nullptr || G().handles.count(h) == 0)
        return false;
    owner = h->owner;
    key = h->key;
    return true;
}

HKEY NewHandle(std::shared_ptr<const void> owner, const Key* key) {
    auto* h = new HKEY__{std::move(owner), key};
    std::lock_guard lock(G().mutex);
    G().handles.insert(h);
    return h;
}

const Key* Descend(const Key* key, LPCWSTR subKey) {
    if (subKey == nullptr)
        return key;
    U16View path(subKey);
    for (const auto& part : SplitPath(path)) {
        key = key->Child(part);
        if (key == nullptr)
            return nullptr;
    }
    return key;
}

U16View StripMachinePrefix(U16View name) {
    while (!name.empty() && name.front() == u'\\')
        name.remove_prefix(1);
    return name;
}

std::string ExecutableLibraryFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&nvplatform::ReloadRegistry), &info) == 0 ||
        info.dli_fname == nullptr)
        return {};
    char* resolved = ::realpath(info.dli_fname, nullptr);
    std::string path = resolved != nullptr ? resolved : info.dli_fname;
    std::free(resolved);
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

// ---- Win32 functions -------------------------------------------------------------------------

extern "C" LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                              PHKEY phkResult) {
    if (phkResult == nullptr)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    // The registry is built from files and never written; asking for write access is refused as
    // Windows refuses it to an unprivileged caller.
    const REGSAM writeRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | 0x00010000 /*DELETE*/ |
                               0x00040000 /*WRITE_DAC*/ | 0x00080000 /*WRITE_OWNER*/;
    if ((samDesired & writeRights) != 0)
        return ERROR_ACCESS_DENIED;
    std::shared_ptr<const void> owner;
    const Key* key = nullptr;
    if (!Resolve(hKey, owner, key))
        return ERROR_INVALID_HANDLE;
    const Key* target = Descend(key, lpSubKey);
    if (target == nullptr)
        return ERROR_FILE_NOT_FOUND;
    *phkResult = NewHandle(std::move(owner), target);
    return ERROR_SUCCESS;
}

extern "C" LONG RegOpenKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult) {
    return RegOpenKeyExW(hKey, lpSubKey, 0, KEY_READ, phkResult);
}

extern "C" LONG RegCloseKey(HKEY hKey) {
    if (IsPredefined(hKey))
        return ERROR_SUCCESS;
    {
        std::lock_guard lock(G().mutex);
        if (hKey == nullptr || G().handles.erase(hKey) == 0)
            return ERROR_INVALID_HANDLE;
    }
    delete hKey;
    return ERROR_SUCCESS;
}

extern "C" LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                              LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    if (lpName == nullptr || lpcchName == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<const void> owner;
    const Key* key = nullptr;
    if (!Resolve(hKey, owner, key))
        return ERROR_INVALID_HANDLE;
    if (dwIndex >= key->subkeys.size())
        return ERROR_NO_MORE_ITEMS;
    auto it = std::next(key->subkeys.begin(), dwIndex);
    const U16& name = it->second.name;
    if (name.size() + 1 > *lpcchName)
        return ERROR_MORE_DATA;
    std::copy(name.begin(), name.end(), lpName);
    lpName[name.size()] = 0;
    *lpcchName = static_cast<DWORD>(name.size());
    if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0)
        lpClass[0] = 0;
    if (lpcchClass != nullptr)
        *lpcchClass = 0;
    if (lpftLastWriteTime != nullptr)
        *lpftLastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

extern "C" LONG RegEnumKeyW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD cchName) {
    DWORD cch = cchName;
    return RegEnumKeyExW(hKey, dwIndex, lpName, &cch, nullptr, nullptr, nullptr, nullptr);
}

namespace {

LONG CopyData(const Value& value, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpData != nullptr && lpcbData == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (lpType != nullptr)
        *lpType = value.type;
    auto size = static_cast<DWORD>(value.data.size());
    if (lpcbData == nullptr)
        return ERROR_SUCCESS;
    if (lpData == nullptr) {
        *lpcbData = size;
        return ERROR_SUCCESS;
    }
    if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (size > 0)
        std::memcpy(lpData, value.data.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                              LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpValueName == nullptr || lpcchValueName == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<const void> owner;
    const Key* key = nullptr;
    if (!Resolve(hKey, owner, key))
        return ERROR_INVALID_HANDLE;
    if (dwIndex >= key->values.size())
        return ERROR_NO_MORE_ITEMS;
    const Value& value = key->values[dwIndex];
    if (value.name.size() + 1 > *lpcchValueName)
        return ERROR_MORE_DATA;
    std::copy(value.name.begin(), value.name.end(), lpValueName);
    lpValueName[value.name.size()] = 0;
    *lpcchValueName = static_cast<DWORD>(value.name.size());
    return CopyData(value, lpType, lpData, lpcbData);
}

extern "C" LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                 LPBYTE lpData, LPDWORD lpcbData) {
    std::shared_ptr<const void> owner;
    const Key* key = nullptr;
    if (!Resolve(hKey, owner, key))
        return ERROR_INVALID_HANDLE;
    const Value* value = key->FindValue(lpValueName == nullptr ? U16View() : U16View(lpValueName));
    if (value == nullptr)
        return ERROR_FILE_NOT_FOUND;
    return CopyData(*value, lpType, lpData, lpcbData);
}

extern "C" LONG RegQueryValueW(HKEY hKey, LPCWSTR lpSubKey, LPWSTR lpData, PLONG lpcbData) {
    if (lpData != nullptr && lpcbData == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<const void> owner;
    const Key* key = nullptr;
    if (!Resolve(hKey, owner, key))
        return ERROR_INVALID_HANDLE;
    const Key* target = Descend(key, lpSubKey);
    if (target == nullptr)
        return ERROR_FILE_NOT_FOUND;
    // This older call reads only the default string and reports an unset one as empty.
    const Value* value = target->FindValue(U16View());
    static const Value empty{U16(), REG_SZ, {0, 0}};
    if (value == nullptr)
        value = &empty;
    if (value->type != REG_SZ && value->type != REG_EXPAND_SZ)
        return ERROR_INVALID_DATA;
    if (lpcbData == nullptr)
        return ERROR_SUCCESS;
    DWORD cb = *lpcbData < 0 ? 0 : static_cast<DWORD>(*lpcbData);
    LONG rc = CopyData(*value, nullptr, reinterpret_cast<LPBYTE>(lpData), &cb);
    *lpcbData = static_cast<LONG>(cb);
    return rc;
}

extern "C" LONG RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                 LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                 LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                 LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
    std::shared_ptr<const void> owner;
    const Key* key = nullptr;
    if (!Resolve(hKey, owner, key))
        return ERROR_INVALID_HANDLE;
    if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0)
        lpClass[0] = 0;
    if (lpcchClass != nullptr)
        *lpcchClass = 0;
    DWORD maxSubKey = 0, maxValueName = 0, maxValue = 0;
    for (const auto& [upper, entry] : key->subkeys)
        maxSubKey = std::max(maxSubKey, static_cast<DWORD>(entry.name.size()));
    for (const auto& v : key->values) {
        maxValueName = std::max(maxValueName, static_cast<DWORD>(v.name.size()));
        maxValue = std::max(maxValue, static_cast<DWORD>(v.data.size()));
    }
    if (lpcSubKeys != nullptr)
        *lpcSubKeys = static_cast<DWORD>(key->subkeys.size());
    if (lpcbMaxSubKeyLen != nullptr)
        *lpcbMaxSubKeyLen = maxSubKey;
    if (lpcbMaxClassLen != nullptr)
        *lpcbMaxClassLen = 0;
    if (lpcValues != nullptr)
        *lpcValues = static_cast<DWORD>(key->values.size());
    if (lpcbMaxValueNameLen != nullptr)
        *lpcbMaxValueNameLen = maxValueName;
    if (lpcbMaxValueLen != nullptr)
        *lpcbMaxValueLen = maxValue;
    if (lpcbSecurityDescriptor != nullptr)
        *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime != nullptr)
        *lpftLastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

extern "C" LONG RegConnectRegistryW(LPCWSTR lpMachineName, HKEY hKey, PHKEY phkResult) {
    if (phkResult == nullptr)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    U16View machineName = lpMachineName == nullptr ? U16View() : StripMachinePrefix(U16View(lpMachineName));
    auto state = CurrentState();
    const Machine* machine = nullptr;
    if (nvplatform::IsLocalHostName(machineName)) {
        machine = &state->local;
    } else {
        auto it = state->hosts.find(Upper(machineName));
        if (it == state->hosts.end())
            return ERROR_BAD_NETPATH;
        machine = it->second.second.get();
    }
    if (hKey != HKEY_CLASSES_ROOT && hKey != HKEY_LOCAL_MACHINE && hKey != HKEY_USERS &&
        !(hKey == HKEY_CURRENT_USER && machine == &state->local))
        return ERROR_INVALID_HANDLE;
    *phkResult = NewHandle(state, MachineRoot(*machine, hKey));
    return ERROR_SUCCESS;
}

// ---- Internal interface ----------------------------------------------------------------------

namespace nvplatform {

void ReloadRegistry() {
    std::lock_guard lock(G().mutex);
    G().state.reset();
}

std::vector<std::string> RegistryLoadErrors() {
    return CurrentState()->errors;
}

std::vector<std::u16string> SimulatedHostNames() {
    auto state = CurrentState();
    std::vector<std::u16string> names;
    for (const auto& [upper, entry] : state->hosts)
        if (!IsLocalHostName(entry.first))
            names.push_back(entry.first);
    return names;
}

std::u16string LocalComputerName() {
    // The name Windows shows for this computer, the one the program compares host names with.
    WCHAR buffer[64] = {};
    DWORD size = 64;
    if (GetComputerNameW(buffer, &size))
        return std::u16string(buffer, size);
    return u"localhost";
}

bool IsLocalHostName(std::u16string_view name) {
    name = StripMachinePrefix(name);
    if (name.empty() || name == u"." || EqualNoCase(name, u"localhost") || name == u"127.0.0.1" ||
        name == u"::1")
        return true;
    if (EqualNoCase(name, LocalComputerName()))
        return true;
    // The system host name, in full and up to its first dot, names this computer too.
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0)
        return false;
    std::u16string host = nv::ToWide(buffer);
    return EqualNoCase(name, host) || EqualNoCase(name, host.substr(0, host.find(u'.')));
}

bool IsSimulatedHost(std::u16string_view name) {
    name = StripMachinePrefix(name);
    if (IsLocalHostName(name))
        return false;
    auto state = CurrentState();
    return state->hosts.count(Upper(name)) != 0;
}

LONG OpenHostClassesRoot(std::u16string_view host, HKEY* result) {
    std::u16string name(host);
    return RegConnectRegistryW(name.c_str(), HKEY_CLASSES_ROOT, result);
}

std::string PlatformLibraryFolder() {
    return ExecutableLibraryFolder();
}

std::string DataFolderFor(std::string_view libraryFolder, std::string_view installLibDir) {
    while (libraryFolder.size() > 1 && libraryFolder.back() == '/')
        libraryFolder.remove_suffix(1);
    while (!installLibDir.empty() && installLibDir.back() == '/')
        installLibDir.remove_suffix(1);
    std::string_view prefix;
    const std::size_t n = installLibDir.size();
    if (n != 0 && libraryFolder == installLibDir) {
        prefix = ".";
    } else if (n != 0 && libraryFolder.size() > n && libraryFolder.ends_with(installLibDir) &&
               libraryFolder[libraryFolder.size() - n - 1] == '/') {
        // "" when the prefix is the root folder.
        prefix = libraryFolder.substr(0, libraryFolder.size() - n - 1);
    } else {
        auto slash = libraryFolder.rfind('/');
        prefix = slash == std::string_view::npos ? std::string_view(".") : libraryFolder.substr(0, slash);
    }
    return std::string(prefix) + "/" NV_DATA_SUBDIR;
}

std::string InstalledRegistryFolder() {
    std::string lib = ExecutableLibraryFolder();
    if (lib.empty())
        return {};
    return DataFolderFor(lib, NV_INSTALL_LIBDIR) + "/registry";
}

std::string UserConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.config";
    }
    return base + "/norvane-opc-client";
}

}  // namespace nvplatform
