// A profile (INI) file read through the profile functions: section names, each section's keys
// and lines, and each key's value, into buffers of exactly the size asked for (so that a write
// past the caller's buffer is seen) and into buffers cut short at a size the input chooses. Then
// one key is written and the file read again.
#include <memory>
#include <string>
#include <vector>

#include "fuzz/entries/NvFuzzEntries.h"
#include "fuzz/entries/NvFuzzSupport.h"
#include "platform/NvWide.h"
#include "platform/win32.h"

namespace nv::fuzz {

namespace {

constexpr DWORD kFullSize = 1 << 16;
constexpr std::size_t kMaxNames = 64;

// A double-null-terminated list as the profile functions fill it.
std::vector<WideString> SplitList(const WCHAR* buffer, DWORD length) {
    std::vector<WideString> names;
    const WCHAR* p = buffer;
    const WCHAR* end = buffer + length;
    while (p < end && *p != 0) {
        WideString name(p);
        p += name.size() + 1;
        names.push_back(std::move(name));
    }
    return names;
}

// The call into a heap block of exactly `size` characters; its result stays within the block.
template <class Call>
DWORD IntoBuffer(DWORD size, Call call, const char* what) {
    std::unique_ptr<WCHAR[]> buffer(new WCHAR[size]);
    DWORD got = call(buffer.get(), size);
    Check(size == 0 || got < size, what);
    return got;
}

void ReadAll(const WideString& file, DWORD shortSize) {
    std::vector<WCHAR> names(kFullSize);
    DWORD length = GetPrivateProfileSectionNamesW(names.data(), kFullSize, file.c_str());
    IntoBuffer(
        shortSize, [&](LPWSTR b, DWORD n) { return GetPrivateProfileSectionNamesW(b, n, file.c_str()); },
        "GetPrivateProfileSectionNamesW stays inside a short buffer");
    std::vector<WideString> sections = SplitList(names.data(), length);
    if (sections.size() > kMaxNames)
        sections.resize(kMaxNames);
    for (const WideString& section : sections) {
        std::vector<WCHAR> lines(kFullSize);
        GetPrivateProfileSectionW(section.c_str(), lines.data(), kFullSize, file.c_str());
        IntoBuffer(
            shortSize,
            [&](LPWSTR b, DWORD n) { return GetPrivateProfileSectionW(section.c_str(), b, n, file.c_str()); },
            "GetPrivateProfileSectionW stays inside a short buffer");
        std::vector<WCHAR> keyList(kFullSize);
        DWORD keyLength = GetPrivateProfileStringW(section.c_str(), nullptr, OLESTR(""), keyList.data(),
                                                   kFullSize, file.c_str());
        std::vector<WideString> keys = SplitList(keyList.data(), keyLength);
        if (keys.size() > kMaxNames)
            keys.resize(kMaxNames);
        for (const WideString& key : keys) {
            std::vector<WCHAR> value(kFullSize);
            GetPrivateProfileStringW(section.c_str(), key.c_str(), OLESTR("-"), value.data(), kFullSize,
                                     file.c_str());
            IntoBuffer(
                shortSize,
                [&](LPWSTR b, DWORD n) {
                    return GetPrivateProfileStringW(section.c_str(), key.c_str(), OLESTR("-"), b, n,
                                                    file.c_str());
                },
                "GetPrivateProfileStringW stays inside a short buffer");
            GetPrivateProfileIntW(section.c_str(), key.c_str(), -1, file.c_str());
        }
    }
}

}  // namespace

void Profile(const std::uint8_t* data, std::size_t size) {
    const std::string path = ScratchFolder() + "/profile.ini";
    ByteReader in(data, size);
    const DWORD shortSize = in.Byte() % 24;
    const bool write = in.Bool();
    WriteFile(path, in.Rest());
    const WideString file = ToWide(path);
    ReadAll(file, shortSize);
    if (!write)
        return;
    // A key written into the first section the file has (or a new one), then everything again.
    std::vector<WCHAR> names(kFullSize);
    DWORD length = GetPrivateProfileSectionNamesW(names.data(), kFullSize, file.c_str());
    std::vector<WideString> sections = SplitList(names.data(), length);
    const WideString section = sections.empty() ? WideString(OLESTR("Fuzz")) : sections.front();
    if (WritePrivateProfileStringW(section.c_str(), OLESTR("FuzzKey"), OLESTR("fuzz value"), file.c_str())) {
        std::vector<WCHAR> value(64);
        GetPrivateProfileStringW(section.c_str(), OLESTR("FuzzKey"), OLESTR(""), value.data(), 64,
                                 file.c_str());
        Check(WideString(value.data()) == OLESTR("fuzz value"), "a written key reads back as written");
    }
    ReadAll(file, shortSize);
}

}  // namespace nv::fuzz
