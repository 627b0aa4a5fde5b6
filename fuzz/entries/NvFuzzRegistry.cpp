// A registry-export file as the only file of a simulated host, so that nothing installed mixes
// into what it defines, then every key and value of the host read back the way the server list
// and object creation read them: sizes asked first, then buffers of exactly that size and one
// too small.
#include <memory>
#include <string>
#include <vector>

#include "fuzz/entries/NvFuzzEntries.h"
#include "fuzz/entries/NvFuzzSupport.h"
#include "platform/win32.h"

namespace nv::fuzz {

namespace {

constexpr int kMaxDepth = 40;
constexpr DWORD kMaxEntries = 200;

// Returns the length of the longest subkey name.
DWORD ReadValues(HKEY key) {
    DWORD subKeys = 0, maxSubKeyLen = 0, values = 0, maxNameLen = 0, maxDataLen = 0;
    LONG rc = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKeyLen, nullptr, &values,
                               &maxNameLen, &maxDataLen, nullptr, nullptr);
    Check(rc == ERROR_SUCCESS, "RegQueryInfoKeyW on an open key");
    for (DWORD i = 0; i < values && i < kMaxEntries; ++i) {
        std::vector<WCHAR> name(maxNameLen + 1);
        DWORD nameLen = static_cast<DWORD>(name.size());
        DWORD type = 0;
        DWORD dataLen = 0;
        rc = RegEnumValueW(key, i, name.data(), &nameLen, nullptr, &type, nullptr, &dataLen);
        Check(rc == ERROR_SUCCESS, "RegEnumValueW with the longest name's buffer");
        // A name with a null character in it cannot be asked for by name, as on Windows.
        if (std::char_traits<WCHAR>::length(name.data()) < nameLen)
            continue;
        Check(dataLen <= maxDataLen, "a value larger than RegQueryInfoKeyW said");
        std::vector<BYTE> exact(dataLen);
        DWORD got = dataLen;
        rc = RegQueryValueExW(key, name.data(), nullptr, &type, exact.data(), &got);
        Check(rc == ERROR_SUCCESS && got == dataLen, "RegQueryValueExW with the size it gave");
        if (dataLen > 0) {
            // Never a null pointer, even for no bytes: a null buffer asks for the size alone.
            std::unique_ptr<BYTE[]> shorter(new BYTE[dataLen - 1]);
            got = dataLen - 1;
            rc = RegQueryValueExW(key, name.data(), nullptr, &type, shorter.get(), &got);
            Check(rc == ERROR_MORE_DATA && got == dataLen, "RegQueryValueExW with a buffer one byte short");
        }
    }
    // The default value as the plain call reads it (a class's description, a server's path).
    LONG textLen = 0;
    if (RegQueryValueW(key, nullptr, nullptr, &textLen) == ERROR_SUCCESS && textLen > 0) {
        std::vector<WCHAR> text(static_cast<std::size_t>(textLen + 1) / 2 + 1);
        LONG got = textLen;
        RegQueryValueW(key, nullptr, text.data(), &got);
    }
    return maxSubKeyLen;
}

void Walk(HKEY key, int depth) {
    const DWORD longest = ReadValues(key);
    if (depth >= kMaxDepth)
        return;
    for (DWORD i = 0; i < kMaxEntries; ++i) {
        // A buffer one character short of the longest name first, as a caller that guesses.
        std::vector<WCHAR> name(longest + 1);
        DWORD nameLen = longest;
        LONG rc = RegEnumKeyExW(key, i, name.data(), &nameLen, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        nameLen = static_cast<DWORD>(name.size());
        rc = RegEnumKeyExW(key, i, name.data(), &nameLen, nullptr, nullptr, nullptr, nullptr);
        Check(rc == ERROR_SUCCESS, "RegEnumKeyExW with room for the longest name");
        Check(nameLen < name.size() && name[nameLen] == 0, "RegEnumKeyExW ends the name with a null");
        HKEY child = nullptr;
        rc = RegOpenKeyExW(key, name.data(), 0, KEY_READ, &child);
        // A name with a null character in it is listed whole but cannot be given as a string,
        // as on Windows.
        if (std::char_traits<WCHAR>::length(name.data()) < nameLen)
            continue;
        Check(rc == ERROR_SUCCESS, "a listed subkey opens by its name");
        Walk(child, depth + 1);
        RegCloseKey(child);
    }
}

}  // namespace

void RegFile(const std::uint8_t* data, std::size_t size) {
    const std::string& scratch = ScratchFolder();
    WriteFile(scratch + "/config/norvane-opc-client/hosts/fuzzhost/input.reg",
              std::string_view(reinterpret_cast<const char*>(data), size));
    nvplatform::ReloadRegistry();
    nvplatform::RegistryLoadErrors();
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, HKEY_USERS}) {
        HKEY key = nullptr;
        if (RegConnectRegistryW(OLESTR("fuzzhost"), root, &key) != ERROR_SUCCESS)
            continue;
        Walk(key, 0);
        RegCloseKey(key);
    }
    // A ProgID the file may define, looked up as a connection by name does.
    CLSID clsid;
    nvplatform::CLSIDFromProgIDOnHost(u"fuzzhost", OLESTR("Fuzz.Server.1"), &clsid);
}

}  // namespace nv::fuzz
