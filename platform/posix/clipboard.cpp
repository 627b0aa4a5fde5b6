// Registered clipboard formats. On Windows the ids live in a session-wide atom table; here the
// table is process-wide, in this shared library, so the program and every server module it loads
// agree on the ids of the data-stream formats.

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

constexpr UINT kFirstFormat = 0xC000;
constexpr UINT kLastFormat = 0xFFFF;
constexpr std::size_t kMaxNameLength = 255;

std::mutex formatsMutex;
std::vector<std::u16string>& Formats() {
    static auto* formats = new std::vector<std::u16string>();
    return *formats;
}

// Names match without regard to case, for the scripts whose case pairs are simple.
char16_t FoldCase(char16_t c) {
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 0x20);
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F))
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<char16_t>(c - 0x50);
    return c;
}

bool SameName(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    return true;
}

}  // namespace

extern "C" UINT RegisterClipboardFormatW(LPCWSTR lpszFormat) {
    if (lpszFormat == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string name(lpszFormat);
    if (name.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    if (name.size() > kMaxNameLength) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> lock(formatsMutex);
    std::vector<std::u16string>& formats = Formats();
    for (std::size_t i = 0; i < formats.size(); ++i)
        if (SameName(formats[i], name))
            return kFirstFormat + static_cast<UINT>(i);
    if (kFirstFormat + formats.size() > kLastFormat) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    formats.push_back(std::move(name));
    return kFirstFormat + static_cast<UINT>(formats.size() - 1);
}

extern "C" int GetClipboardFormatNameW(UINT format, LPWSTR lpszFormatName, int cchMaxCount) {
    if (lpszFormatName == nullptr || cchMaxCount <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string name;
    {
        std::lock_guard<std::mutex> lock(formatsMutex);
        const std::vector<std::u16string>& formats = Formats();
        // The predefined formats below 0xC000 have no registered name.
        if (format < kFirstFormat || format - kFirstFormat >= formats.size()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
        name = formats[format - kFirstFormat];
    }
    std::size_t n = std::min(name.size(), static_cast<std::size_t>(cchMaxCount - 1));
    name.copy(lpszFormatName, n);
    lpszFormatName[n] = 0;
    return static_cast<int>(n);
}
