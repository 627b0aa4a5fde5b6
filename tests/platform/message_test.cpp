// System message texts: the texts of the codes a COM client meets, the mapping of Win32
// results, failures for codes that are not system texts, and the buffer and width rules.
// The stand-in's text table; on Windows the system's own message table answers, so the file
// builds only for Linux.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

// Returns the text, or "<failed>".
std::u16string Text(DWORD code, DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                    DWORD language = 0, DWORD size = 512) {
    std::vector<WCHAR> buf(size + 1, u'#');
    DWORD n = FormatMessageW(flags, nullptr, code, language, buf.data(), size, nullptr);
    if (n == 0)
        return u"<failed>";
    EXPECT_EQ(buf[n], 0) << "code " << std::hex << code;
    return std::u16string(buf.data(), n);
}

DWORD FailureOf(DWORD code, DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                DWORD language = 0) {
    WCHAR buf[512];
    SetLastError(0);
    DWORD n = FormatMessageW(flags, nullptr, code, language, buf, 512, nullptr);
    return n == 0 ? GetLastError() : 0xFFFFFFFF;
}

struct Expected {
    DWORD code;
    const char16_t* text;
};

TEST(SystemMessages, TextsOfTheCodesAClientMeets) {
    const Expected expected[] = {
        {0x00000000, u"The operation completed successfully."},
        {0x00000001, u"Incorrect function."},
        {0x80004001, u"Not implemented"},
        {0x80004002, u"No such interface supported"},
        {0x80004003, u"Invalid pointer"},
        {0x80004004, u"Operation aborted"},
        {0x80004005, u"Unspecified error"},
        {0x8000FFFF, u"Catastrophic failure"},
        {0x80070005, u"Access is denied."},
        {0x8007000E, u"Not enough storage is available to complete this operation."},
        {0x80070057, u"The parameter is incorrect."},
        {0x80040110, u"Class does not support aggregation (or class object is remote)"},
        {0x80040111, u"ClassFactory cannot supply requested class"},
        {0x80040154, u"Class not registered"},
        {0x800401F0, u"CoInitialize has not been called."},
        {0x800401F3, u"Invalid class string"},
        {0x80040201, u"An event was unable to invoke any of the subscribers"},
        {0x80020005, u"Type mismatch."},
        {0x80020008, u"Bad variable type."},
        {0x8002000A, u"Out of present range."},
        {0x800706BA, u"The RPC server is unavailable."},
        {0x80010108, u"The object invoked has disconnected from its clients."},
        {0x80040064, u"Invalid FORMATETC structure"},
        {0x80040003, u"This implementation doesn't take advises"},
        {0x80040004, u"There is no connection for this connection ID"},
        {0x800706BE, u"The remote procedure call failed."},
        {0x800706F4, u"A null reference pointer was passed to the stub."},
        {0x80070006, u"The handle is invalid."},
        {2, u"The system cannot find the file specified."},
        {3, u"The system cannot find the path specified."},
        {5, u"Access is denied."},
        {6, u"The handle is invalid."},
        {8, u"Not enough memory resources are available to process this command."},
        {14, u"Not enough storage is available to complete this operation."},
        {53, u"The network path was not found."},
        {87, u"The parameter is incorrect."},
        {122, u"The data area passed to a system call is too small."},
        {126, u"The specified module could not be found."},
        {127, u"The specified procedure could not be found."},
        {234, u"More data is available."},
        {259, u"No more data is available."},
        {1722, u"The RPC server is unavailable."},
        {1726, u"The remote procedure call failed."},
        {1780, u"A null reference pointer was passed to the stub."},
        {6118, u"The list of servers for this workgroup is not currently available."},
    };
    for (const Expected& e : expected)
        EXPECT_EQ(Text(e.code), std::u16string(e.text) + u"\r\n") << "code 0x" << std::hex << e.code;
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
    const std::u16string full = u"Access is denied.\r\n";
    // Exactly the text and its terminator fits; one less fails without a partial text.
    WCHAR buf[64];
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buf,
                             static_cast<DWORD>(full.size() + 1), nullptr),
              full.size());
    EXPECT_EQ(std::u16string(buf), full);
    SetLastError(0);
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buf, static_cast<DWORD>(full.size()),
                             nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    LPWSTR allocated = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 0x80004005,
                             0, reinterpret_cast<LPWSTR>(&allocated), 0, nullptr);
    ASSERT_NE(allocated, nullptr);
    EXPECT_EQ(std::u16string(allocated, n), u"Unspecified error\r\n");
    EXPECT_EQ(allocated[n], 0);
    EXPECT_GE(LocalSize(allocated), (n + 1) * sizeof(WCHAR));
    EXPECT_EQ(LocalFree(allocated), nullptr);
    // A second free is refused instead of corrupting memory.
    EXPECT_EQ(LocalFree(allocated), allocated);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(SystemMessages, WidthRules) {
    // Any width turns the text's own line breaks into blanks, which is why texts read this way
    // end in a blank.
    EXPECT_EQ(Text(5, FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK), u"Access is denied. ");
    std::u16string wrapped = Text(8, FORMAT_MESSAGE_FROM_SYSTEM | 20);
    EXPECT_EQ(wrapped, u"Not enough memory\r\nresources are\r\navailable to process\r\nthis command. ");
    // Without the ignore flag the texts come out the same: none of them has inserts.
    EXPECT_EQ(Text(0x80004005, FORMAT_MESSAGE_FROM_SYSTEM), u"Unspecified error\r\n");
}

TEST(SystemMessages, SourcesAndLanguages) {
    EXPECT_EQ(Text(5, FORMAT_MESSAGE_FROM_SYSTEM, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)),
              u"Access is denied.\r\n");
    EXPECT_EQ(Text(5, FORMAT_MESSAGE_FROM_SYSTEM, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
              u"Access is denied.\r\n");
    EXPECT_EQ(FailureOf(5, FORMAT_MESSAGE_FROM_SYSTEM, 0x0407),
              static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
    // A module adds nothing here, but the system is still searched after it.
    EXPECT_EQ(Text(5, FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE), u"Access is denied.\r\n");
    EXPECT_NE(FailureOf(5, FORMAT_MESSAGE_FROM_HMODULE), 0xFFFFFFFFu);
    EXPECT_EQ(FailureOf(5, 0), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace

#endif  // _WIN32
