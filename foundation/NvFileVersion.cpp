// File versions. Windows keeps them in each file's version resource; other systems have no such
// thing, so there the program knows only its own version, the one it was built as.

#include <filesystem>
#include <system_error>
#include <vector>

#include "foundation/NvConvert.h"
#include "foundation/NvExceptions.h"
#include "platform/NvWide.h"

#ifndef NV_VERSION_MAJOR
#define NV_VERSION_MAJOR 0
#endif
#ifndef NV_VERSION_MINOR
#define NV_VERSION_MINOR 0
#endif
#ifndef NV_VERSION_RELEASE
#define NV_VERSION_RELEASE 0
#endif
#ifndef NV_VERSION_BUILD
#define NV_VERSION_BUILD 0
#endif

namespace nv {

TNvFileVersion ProgramVersion() {
    TNvFileVersion version;
    version.Major = NV_VERSION_MAJOR;
    version.Minor = NV_VERSION_MINOR;
    version.Release = NV_VERSION_RELEASE;
    version.Build = NV_VERSION_BUILD;
    return version;
}

#ifdef _WIN32

std::string ProgramFileName() {
    std::vector<WCHAR> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return {};
        if (n < buffer.size())
            return ToUtf8(WideStringView(buffer.data(), n));
        buffer.resize(buffer.size() * 2);
    }
}

bool TryGetFileVersion(const std::string& fileName, TNvFileVersion& version) {
    WideString name = ToWide(fileName);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(name.c_str(), &handle);
    if (size == 0)
        return false;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(name.c_str(), 0, size, block.data()))
        return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), OLESTR("\\"), reinterpret_cast<void**>(&info), &length) ||
        info == nullptr || length < sizeof(VS_FIXEDFILEINFO))
        return false;
    version.Major = HIWORD(info->dwFileVersionMS);
    version.Minor = LOWORD(info->dwFileVersionMS);
    version.Release = HIWORD(info->dwFileVersionLS);
    version.Build = LOWORD(info->dwFileVersionLS);
    return true;
}

#else

std::string ProgramFileName() {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    return self.string();
}

bool TryGetFileVersion(const std::string& fileName, TNvFileVersion& version) {
    if (fileName.empty())
        return false;
    std::error_code ec;
    std::filesystem::path self = std::filesystem::canonical("/proc/self/exe", ec);
    if (ec)
        return false;
    std::filesystem::path file = std::filesystem::canonical(std::filesystem::path(fileName), ec);
    if (ec || file != self)
        return false;
    version = ProgramVersion();
    return true;
}

#endif

TNvFileVersion GetFileVersion(const std::string& fileName) {
    TNvFileVersion version;
    if (!TryGetFileVersion(fileName, version))
        throw Exception("No version information available");
    return version;
}

std::string FileVersionToStr(const std::string& fileName, const std::string& format) {
    TNvFileVersion version;
    if (!TryGetFileVersion(fileName, version))
        return {};
    try {
        return Format(format, version.Major, version.Minor, version.Release, version.Build);
    } catch (const EConvertError&) {
        return {};
    }
}

}  // namespace nv
