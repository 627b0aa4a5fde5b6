// Registry entries a test adds for its own duration, written as .reg text, on every system:
//
//     nv::test::TestRegistration reg("Windows Registry Editor Version 5.00\n\n"
//                                    "[HKEY_CLASSES_ROOT\\CLSID\\{...}]\n\"BulkItems\"=dword:00000007\n");
//
// On Linux the text becomes the user registry of a temporary configuration folder that
// XDG_CONFIG_HOME points to while the object lives (the stand-in reloads on the way in and out).
// On Windows there is no such folder: the entries are written into the system registry under
// HKEY_CLASSES_ROOT, and on the way out the keys the object created are deleted and the values
// it replaced get their old data back. Objects may nest, and the outer one's entries are back when
// the inner one goes; while both live, the inner one's entries are certain to be there (on Linux
// the outer one's are hidden, on Windows they stay).
//
// The text is checked the same way on both systems before anything is written: keys under
// HKEY_CLASSES_ROOT, default and named string values, dword values. Anything else throws
// std::invalid_argument naming the line, so a typo in a test never passes silently as an
// entry that is not there.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/NvWide.h"
#include "platform/win32.h"
#include "tests/windows/NvTempConfig.h"

namespace nv::test {

struct RegistrationValue {
    std::string key;                  // below HKEY_CLASSES_ROOT
    std::optional<std::string> name;  // none: the key's default value
    bool isDword = false;
    std::string text;
    std::uint32_t dword = 0;
};

struct RegistrationText {
    std::vector<std::string> keys;  // in the order they appear
    std::vector<RegistrationValue> values;
};

namespace detail {

inline std::invalid_argument RegistrationError(int line, const std::string& what) {
    return std::invalid_argument("registration text, line " + std::to_string(line) + ": " + what);
}

// A quoted .reg string starting at text[pos] (the opening quote); pos ends after the closing one.
inline std::string ParseQuoted(std::string_view text, std::size_t& pos, int line) {
    std::string out;
    for (++pos; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\') {
            if (pos + 1 >= text.size() || (text[pos + 1] != '\\' && text[pos + 1] != '"'))
                throw RegistrationError(line, "a backslash in a string must be doubled");
            c = text[++pos];
        }
        out.push_back(c);
    }
    throw RegistrationError(line, "string without its closing quote");
}

}  // namespace detail

inline RegistrationText ParseRegistrationText(std::string_view text) {
    static constexpr std::string_view kRoot = "HKEY_CLASSES_ROOT\\";
    RegistrationText result;
    bool headerSeen = false;
    std::optional<std::string> key;
    int lineNumber = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == ';')
            continue;
        if (!headerSeen) {
            if (line != "Windows Registry Editor Version 5.00" && line != "REGEDIT4")
                throw detail::RegistrationError(lineNumber, "no registry-export header");
            headerSeen = true;
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 3)
                throw detail::RegistrationError(lineNumber, "key line without its closing bracket");
            std::string_view path = line.substr(1, line.size() - 2);
            if (path.substr(0, kRoot.size()) != kRoot || path.size() == kRoot.size())
                throw detail::RegistrationError(lineNumber, "only keys below HKEY_CLASSES_ROOT can be added");
            key = std::string(path.substr(kRoot.size()));
            result.keys.push_back(*key);
            continue;
        }
        if (!key)
            throw detail::RegistrationError(lineNumber, "a value before any key");
        RegistrationValue value;
        value.key = *key;
        std::size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else if (line.front() == '"') {
            value.name = detail::ParseQuoted(line, pos, lineNumber);
        } else {
            throw detail::RegistrationError(lineNumber, "neither a key nor a value");
        }
        if (pos >= line.size() || line[pos] != '=')
            throw detail::RegistrationError(lineNumber, "value name without '='");
        ++pos;
        std::string_view data = line.substr(pos);
        if (!data.empty() && data.front() == '"') {
            std::size_t at = pos;
            value.text = detail::ParseQuoted(line, at, lineNumber);
            if (at != line.size())
                throw detail::RegistrationError(lineNumber, "text after the closing quote");
        } else if (data.substr(0, 6) == "dword:") {
            std::string_view digits = data.substr(6);
            if (digits.empty() || digits.size() > 8 ||
                digits.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos)
                throw detail::RegistrationError(lineNumber, "a dword takes one to eight hexadecimal digits");
            value.isDword = true;
            value.dword = static_cast<std::uint32_t>(std::stoul(std::string(digits), nullptr, 16));
        } else {
            throw detail::RegistrationError(lineNumber, "only string and dword values are supported");
        }
        result.values.push_back(std::move(value));
    }
    if (!headerSeen)
        throw detail::RegistrationError(lineNumber, "no registry-export header");
    return result;
}

#ifdef _WIN32

class TestRegistration {
public:
    explicit TestRegistration(const std::string& text) {
        RegistrationText parsed = ParseRegistrationText(text);
        try {
            for (const std::string& key : parsed.keys)
                CreateKey(key);
            for (const RegistrationValue& value : parsed.values)
                SetValue(value);
        } catch (...) {
            Undo();
            throw;
        }
    }
    ~TestRegistration() { Undo(); }
    TestRegistration(const TestRegistration&) = delete;
    TestRegistration& operator=(const TestRegistration&) = delete;

private:
    struct SavedValue {
        WideString key;
        std::optional<WideString> name;
        bool existed = false;
        DWORD type = 0;
        std::vector<BYTE> data{};
    };

    static WideString Wide(const std::string& text) { return nv::ToWide(text); }

    static std::runtime_error Failure(const std::string& what, const std::string& key, LONG rc) {
        return std::runtime_error(what + " HKEY_CLASSES_ROOT\\" + key + ": Win32 error " +
                                  std::to_string(rc));
    }

    bool UnderCreatedKey(const WideString& key) const {
        for (const WideString& root : createdRoots_) {
            if (key.size() >= root.size() && _wcsnicmp(key.c_str(), root.c_str(), root.size()) == 0 &&
                (key.size() == root.size() || key[root.size()] == L'\\'))
                return true;
        }
        return false;
    }

    void CreateKey(const std::string& key) {
        WideString path = Wide(key);
        // The topmost part of the path that is not there yet is what the way out deletes.
        std::size_t end = 0;
        while (end != WideString::npos) {
            end = path.find(L'\\', end + 1);
            WideString prefix = path.substr(0, end);
            if (UnderCreatedKey(prefix))
                break;
            HKEY h = nullptr;
            if (RegOpenKeyExW(HKEY_CLASSES_ROOT, prefix.c_str(), 0, KEY_READ, &h) == ERROR_SUCCESS) {
                RegCloseKey(h);
                continue;
            }
            createdRoots_.push_back(prefix);
            break;
        }
        HKEY h = nullptr;
        LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                                  nullptr);
        if (rc != ERROR_SUCCESS)
            throw Failure("cannot create", key, rc);
        RegCloseKey(h);
    }

    void SetValue(const RegistrationValue& value) {
        WideString key = Wide(value.key);
        HKEY h = nullptr;
        LONG rc = RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &h);
        if (rc != ERROR_SUCCESS)
            throw Failure("cannot open", value.key, rc);
        std::optional<WideString> name;
        if (value.name)
            name = Wide(*value.name);
        const WCHAR* rawName = name ? name->c_str() : nullptr;
        if (!UnderCreatedKey(key)) {
            SavedValue saved{key, name};
            DWORD size = 0;
            if (RegQueryValueExW(h, rawName, nullptr, &saved.type, nullptr, &size) == ERROR_SUCCESS) {
                saved.existed = true;
                saved.data.resize(size);
                RegQueryValueExW(h, rawName, nullptr, &saved.type, saved.data.data(), &size);
                saved.data.resize(size);
            }
            saved_.push_back(std::move(saved));
        }
        if (value.isDword) {
            DWORD data = value.dword;
            rc = RegSetValueExW(h, rawName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
        } else {
            WideString data = Wide(value.text);
            rc = RegSetValueExW(h, rawName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR)));
        }
        RegCloseKey(h);
        if (rc != ERROR_SUCCESS)
            throw Failure("cannot set a value of", value.key, rc);
    }

    void Undo() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            HKEY h = nullptr;
            if (RegOpenKeyExW(HKEY_CLASSES_ROOT, it->key.c_str(), 0, KEY_SET_VALUE, &h) != ERROR_SUCCESS)
                continue;
            const WCHAR* rawName = it->name ? it->name->c_str() : nullptr;
            if (it->existed)
                RegSetValueExW(h, rawName, 0, it->type, it->data.data(), static_cast<DWORD>(it->data.size()));
            else
                RegDeleteValueW(h, rawName);
            RegCloseKey(h);
        }
        saved_.clear();
        // Deletes the key itself with everything below it.
        for (auto it = createdRoots_.rbegin(); it != createdRoots_.rend(); ++it)
            RegDeleteTreeW(HKEY_CLASSES_ROOT, it->c_str());
        createdRoots_.clear();
    }

    std::vector<WideString> createdRoots_;
    std::vector<SavedValue> saved_;
};

#else

class TestRegistration {
public:
    explicit TestRegistration(const std::string& text) {
        ParseRegistrationText(text);
        config_.WriteUser("test-registration.reg", text);
        nvplatform::ReloadRegistry();
    }

private:
    TempConfig config_;
};

#endif

}  // namespace nv::test
