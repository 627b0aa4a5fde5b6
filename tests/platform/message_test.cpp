// System message texts: the texts of the codes a COM client meets, the mapping of Win32
// results, failures for codes that are not system texts, and the buffer and width rules.
// The stand-in's table and the system's own message table answer the same checks. Wine words
// many texts differently; under Wine only their shape is checked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/NvWide.h"
#include "platform/win32.h"
#include "tests/windows/NvWine.h"

namespace {

constexpr DWORD kFromSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

// Returns the text as UTF-8, or "<failed>".
std::string Text(DWORD code, DWORD flags = kFromSystem, DWORD language = 0, DWORD size = 512) {
    std::vector<WCHAR> buf(size + 1, WCHAR('#'));
    DWORD n = FormatMessageW(flags, nullptr, code, language, buf.data(), size, nullptr);
    if (n == 0)
        return "<failed>";
    EXPECT_EQ(buf[n], 0) << "code " << std::hex << code;
    return nv::ToUtf8(nv::WideStringView(buf.data(), n));
}

DWORD FailureOf(DWORD code, DWORD flags = kFromSystem, DWORD language = 0) {
    WCHAR buf[512];
    SetLastError(0);
    DWORD n = FormatMessageW(flags, nullptr, code, language, buf, 512, nullptr);
    return n == 0 ? GetLastError() : 0xFFFFFFFF;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A system text: one or more lines ending in CR LF, nothing else.
void ExpectShapeOfASystemText(const std::string& text, DWORD code) {
    EXPECT_NE(text, "<failed>") << "code 0x" << std::hex << code;
    EXPECT_GT(text.size(), 2u) << "code 0x" << std::hex << code;
    EXPECT_TRUE(EndsWith(text, "\r\n")) << "code 0x" << std::hex << code << ": " << text;
}

struct Expected {
    DWORD code;
    const char* text;
};

TEST(SystemMessages, TextsOfTheCodesAClientMeets) {
    const Expected expected[] = {
        {0x00000000, "The operation completed successfully."},
        {0x00000001, "Incorrect function."},
        {0x80004001, "Not implemented"},
        {0x80004002, "No such interface supported"},
        {0x80004003, "Invalid pointer"},
        {0x80004004, "Operation aborted"},
        {0x80004005, "Unspecified error"},
        {0x8000FFFF, "Catastrophic failure"},
        {0x80070005, "Access is denied."},
        {0x8007000E, "Not enough storage is available to complete this operation."},
        {0x80070057, "The parameter is incorrect."},
        {0x80040110, "Class does not support aggregation (or class object is remote)"},
        {0x80040111, "ClassFactory cannot supply requested class"},
        {0x80040154, "Class not registered"},
        {0x800401F0, "CoInitialize has not been called."},
        {0x800401F3, "Invalid class string"},
        {0x80040201, "An event was unable to invoke any of the subscribers"},
        {0x80020005, "Type mismatch."},
        {0x80020008, "Bad variable type."},
        {0x8002000A, "Out of present range."},
        {0x800706BA, "The RPC server is unavailable."},
        {0x80010108, "The object invoked has disconnected from its clients."},
        {0x80040064, "Invalid FORMATETC structure"},
        {0x80040003, "This implementation doesn't take advises"},
        {0x80040004, "There is no connection for this connection ID"},
        {0x800706BE, "The remote procedure call failed."},
        {0x800706F4, "A null reference pointer was passed to the stub."},
        {0x80070006, "The handle is invalid."},
        {2, "The system cannot find the file specified."},
        {3, "The system cannot find the path specified."},
        {5, "Access is denied."},
        {6, "The handle is invalid."},
        {8, "Not enough memory resources are available to process this command."},
        {14, "Not enough storage is available to complete this operation."},
        {53, "The network path was not found."},
        {87, "The parameter is incorrect."},
        {122, "The data area passed to a system call is too small."},
        {126, "The specified module could not be found."},
        {127, "The specified procedure could not be found."},
        {234, "More data is available."},
        {259, "No more data is available."},
        {1722, "The RPC server is unavailable."},
        {1726, "The remote procedure call failed."},
        {1780, "A null reference pointer was passed to the stub."},
        {6118, "The list of servers for this workgroup is not currently available."},
    };
    if (nv::test::RunningUnderWine()) {
        // Wine has its own wording and no text for many COM and OLE codes; the common Win32
        // errors it does have, shaped as on Windows.
        nv::test::NoteWineDifference("Wine's system message texts differ from the Windows ones");
        for (DWORD code :
             {0u, 1u, 2u, 3u, 5u, 6u, 8u, 14u, 87u, 122u, 234u, 259u, 1722u, 0x80070005u, 0x80070057u})
            ExpectShapeOfASystemText(Text(code), code);
    } else {
        for (const Expected& e : expected)
            EXPECT_EQ(Text(e.code), std::string(e.text) + "\r\n") << "code 0x" << std::hex << e.code;
    }
    // A Win32 result reads as its Win32 error, whatever the wording.
    for (DWORD win32 : {5u, 6u, 14u, 87u, 1722u})
        EXPECT_EQ(Text(0x80070000u | win32), Text(win32)) << win32;
}

TEST(SystemMessages, CodesWithoutASystemTextFailWithMessageNotFound) {
    // The OPC codes belong to the OPC proxy's own table, the connection-point codes 0x80040200
    // and 0x80040202 have no system text, and a Win32 result of an unknown error has none either.
    for (DWORD code :
         {0xC0040007u, 0xC0040001u, 0x0004000Du, 0x80040200u, 0x80040202u, 0x8007FFFEu, 0xDEADBEEFu}) {
        EXPECT_EQ(FailureOf(code), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND))
            << "code 0x" << std::hex << code;
    }
}

TEST(SystemMessages, BufferRules) {
    // Exactly the text and its terminator fits; one less fails without a partial text.
    const std::string full = Text(5);
    ASSERT_NE(full, "<failed>");
    const DWORD length = static_cast<DWORD>(nv::ToWide(full).size());
    WCHAR buf[128];
    ASSERT_LT(length, 128u);
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buf, length + 1, nullptr), length);
    EXPECT_EQ(nv::ToUtf8(buf), full);
    SetLastError(0);
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buf, length, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    LPWSTR allocated = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 0x80004005,
                             0, reinterpret_cast<LPWSTR>(&allocated), 0, nullptr);
    ASSERT_NE(allocated, nullptr);
    EXPECT_EQ(nv::ToUtf8(nv::WideStringView(allocated, n)), Text(0x80004005));
    EXPECT_EQ(allocated[n], 0);
    EXPECT_GE(LocalSize(allocated), (n + 1) * sizeof(WCHAR));
    EXPECT_EQ(LocalFree(allocated), nullptr);
#ifndef _WIN32
    // The stand-in refuses a second free instead of corrupting memory; on Windows a second free
    // is undefined.
    EXPECT_EQ(LocalFree(allocated), allocated);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
#endif
}

TEST(SystemMessages, WidthRules) {
    // Any width turns the text's own line breaks into blanks, which is why texts read this way
    // end in a blank.
    const std::string unlimited = Text(5, FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK);
    const std::string wrapped = Text(8, FORMAT_MESSAGE_FROM_SYSTEM | 20);
    if (nv::test::RunningUnderWine()) {
        nv::test::NoteWineDifference("Wine's system message texts differ from the Windows ones");
        std::string plain = Text(5);
        ASSERT_TRUE(EndsWith(plain, "\r\n"));
        EXPECT_EQ(unlimited, plain.substr(0, plain.size() - 2) + " ");
        EXPECT_TRUE(EndsWith(wrapped, " ")) << wrapped;
        std::size_t start = 0;
        for (std::size_t eol; (eol = wrapped.find("\r\n", start)) != std::string::npos; start = eol + 2)
            EXPECT_LE(eol - start, 20u) << wrapped;
        EXPECT_LE(wrapped.size() - start, 21u) << wrapped;
    } else {
        EXPECT_EQ(unlimited, "Access is denied. ");
        EXPECT_EQ(wrapped, "Not enough memory\r\nresources are\r\navailable to process\r\nthis command. ");
    }
    // Without the ignore flag the texts come out the same: none of them has inserts.
    EXPECT_EQ(Text(0x80004005, FORMAT_MESSAGE_FROM_SYSTEM), Text(0x80004005));
}

TEST(SystemMessages, SourcesAndLanguages) {
    const std::string text = Text(5);
    EXPECT_EQ(Text(5, FORMAT_MESSAGE_FROM_SYSTEM, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)), text);
    EXPECT_EQ(Text(5, FORMAT_MESSAGE_FROM_SYSTEM, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), text);
    // German is not among the system's languages (the stand-in has English only; so has an
    // English Windows without language packs).
    if (nv::test::RunningUnderWine())
        nv::test::NoteWineDifference("Wine carries its system texts in German too");
    else
        EXPECT_EQ(FailureOf(5, FORMAT_MESSAGE_FROM_SYSTEM, 0x0407),
                  static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
    // The program's own module has no message table, but the system is still searched after it.
    EXPECT_EQ(Text(5, FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE), text);
    EXPECT_NE(FailureOf(5, FORMAT_MESSAGE_FROM_HMODULE), 0xFFFFFFFFu);
    EXPECT_EQ(FailureOf(5, 0), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
