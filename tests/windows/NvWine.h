// Tests run on three systems: Linux with our stand-in, Windows, and Windows binaries under Wine.
// Wine reproduces the Windows API but not every detail (system message texts, for one). A test
// whose check depends on such a detail names the Windows value and skips only that check under
// Wine, saying why:
//
//     if (nv::test::RunningUnderWine()) {
//         nv::test::NoteWineDifference("FormatMessageW has no text for this code");
//     } else {
//         EXPECT_EQ(text, "Catastrophic failure");
//     }
#pragma once

#include <gtest/gtest.h>

#include <iostream>

#ifdef _WIN32
#include "platform/win32.h"
#endif

namespace nv::test {

// Wine's ntdll exports wine_get_version; Windows' never does.
inline bool RunningUnderWine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

// Leaves a visible trace in the test output (and the XML report) where a check was left out
// under Wine, so that a skipped comparison is never mistaken for a passed one.
inline void NoteWineDifference(const char* reason) {
    ::testing::Test::RecordProperty("wine_difference", reason);
    std::cout << "[ WINE     ] check left out under Wine: " << reason << std::endl;
}

}  // namespace nv::test
