// FormatMessageW over the system message table: the English texts of the Win32 errors and the
// COM, OLE, automation and RPC result codes that a COM client meets. Each text ends in CR LF,
// as the system's own texts do. A FACILITY_WIN32 result reads as its Win32 error. Codes of
// other components (the OPC codes among them) are not system texts and fail here as they do
// on a machine where no component has added them.

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/win32.h"

namespace {

struct SystemText {
    DWORD code;
    const char16_t* text;
};

// Win32 errors (below 0x10000) first, then result codes; looked up by exact value.
constexpr SystemText kSystemTexts[] = {
    {0, u"The operation completed successfully.\r\n"},
    {1, u"Incorrect function.\r\n"},
    {2, u"The system cannot find the file specified.\r\n"},
    {3, u"The system cannot find the path specified.\r\n"},
    {4, u"The system cannot open the file.\r\n"},
    {5, u"Access is denied.\r\n"},
    {6, u"The handle is invalid.\r\n"},
    {8, u"Not enough memory resources are available to process this command.\r\n"},
    {13, u"The data is invalid.\r\n"},
    {14, u"Not enough storage is available to complete this operation.\r\n"},
    {29, u"The system cannot write to the specified device.\r\n"},
    {30, u"The system cannot read from the specified device.\r\n"},
    {32, u"The process cannot access the file because it is being used by another process.\r\n"},
    {50, u"The request is not supported.\r\n"},
    {53, u"The network path was not found.\r\n"},
    {67, u"The network name cannot be found.\r\n"},
    {80, u"The file exists.\r\n"},
    {87, u"The parameter is incorrect.\r\n"},
    {111, u"The file name is too long.\r\n"},
    {112, u"There is not enough space on the disk.\r\n"},
    {120, u"This function is not supported on this system.\r\n"},
    {122, u"The data area passed to a system call is too small.\r\n"},
    {123, u"The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {124, u"The system call level is not correct.\r\n"},
    {126, u"The specified module could not be found.\r\n"},
    {127, u"The specified procedure could not be found.\r\n"},
    {157, u"The segment is already discarded and cannot be locked.\r\n"},
    {158, u"The segment is already unlocked.\r\n"},
    {183, u"Cannot create a file when that file already exists.\r\n"},
    {206, u"The filename or extension is too long.\r\n"},
    {234, u"More data is available.\r\n"},
    {259, u"No more data is available.\r\n"},
    {998, u"Invalid access to memory location.\r\n"},
    {1004, u"Invalid flags.\r\n"},
    {1009, u"The configuration registry database is corrupt.\r\n"},
    {1010, u"The configuration registry key is invalid.\r\n"},
    {1011, u"The configuration registry key could not be opened.\r\n"},
    {1012, u"The configuration registry key could not be read.\r\n"},
    {1168, u"Element not found.\r\n"},
    {1223, u"The operation was canceled by the user.\r\n"},
    {1400, u"Invalid window handle.\r\n"},
    {1460, u"This operation returned because the timeout period expired.\r\n"},
    {1722, u"The RPC server is unavailable.\r\n"},
    {1723, u"The RPC server is too busy to complete this operation.\r\n"},
    {1726, u"The remote procedure call failed.\r\n"},
    {1727, u"The remote procedure call failed and did not execute.\r\n"},
    {1780, u"A null reference pointer was passed to the stub.\r\n"},
    {1813, u"The specified resource type cannot be found in the image file.\r\n"},
    {1815, u"The specified resource language ID cannot be found in the image file.\r\n"},
    {6118, u"The list of servers for this workgroup is not currently available.\r\n"},

    {0x00040130, u"Data has same FORMATETC\r\n"},
    {0x00040200, u"An event was able to invoke some but not all of the subscribers\r\n"},
    {0x00040202, u"An event was delivered but there were no subscribers\r\n"},
    {0x8000000A, u"The data necessary to complete this operation is not yet available.\r\n"},
    {0x80004001, u"Not implemented\r\n"},
    {0x80004002, u"No such interface supported\r\n"},
    {0x80004003, u"Invalid pointer\r\n"},
    {0x80004004, u"Operation aborted\r\n"},
    {0x80004005, u"Unspecified error\r\n"},
    {0x8000FFFF, u"Catastrophic failure\r\n"},
    {0x80010001, u"Call was rejected by callee.\r\n"},
    {0x80010004,
     u"The caller is dispatching an asynchronous call and cannot make an outgoing call on behalf of this "
     u"call.\r\n"},
    {0x80010105, u"The server threw an exception.\r\n"},
    {0x80010106, u"Cannot change thread mode after it is set.\r\n"},
    {0x80010108, u"The object invoked has disconnected from its clients.\r\n"},
    {0x8001010A, u"The message filter indicated that the application is busy.\r\n"},
    {0x8001010E, u"The application called an interface that was marshalled for a different thread.\r\n"},
    {0x80010119,
     u"Security must be initialized before any interfaces are marshalled or unmarshalled. It cannot be "
     u"changed once initialized.\r\n"},
    {0x80020001, u"Unknown interface.\r\n"},
    {0x80020003, u"Member not found.\r\n"},
    {0x80020004, u"Parameter not found.\r\n"},
    {0x80020005, u"Type mismatch.\r\n"},
    {0x80020006, u"Unknown name.\r\n"},
    {0x80020007, u"No named arguments.\r\n"},
    {0x80020008, u"Bad variable type.\r\n"},
    {0x80020009, u"Exception occurred.\r\n"},
    {0x8002000A, u"Out of present range.\r\n"},
    {0x8002000B, u"Invalid index.\r\n"},
    {0x8002000C, u"Unknown language.\r\n"},
    {0x8002000D, u"Memory is locked.\r\n"},
    {0x8002000E, u"Invalid number of parameters.\r\n"},
    {0x8002000F, u"Parameter not optional.\r\n"},
    {0x80020010, u"Invalid callee.\r\n"},
    {0x80020011, u"Does not support a collection.\r\n"},
    {0x80020012, u"Division by zero.\r\n"},
    {0x80040003, u"This implementation doesn't take advises\r\n"},
    {0x80040004, u"There is no connection for this connection ID\r\n"},
    {0x80040064, u"Invalid FORMATETC structure\r\n"},
    {0x80040069, u"Invalid tymed\r\n"},
    {0x80040110, u"Class does not support aggregation (or class object is remote)\r\n"},
    {0x80040111, u"ClassFactory cannot supply requested class\r\n"},
    {0x80040150, u"Could not read key from registry\r\n"},
    {0x80040151, u"Could not write key to registry\r\n"},
    {0x80040152, u"Could not find the key in the registry\r\n"},
    {0x80040153, u"Invalid value for registry\r\n"},
    {0x80040154, u"Class not registered\r\n"},
    {0x80040155, u"Interface not registered\r\n"},
    // The connection-point codes share these values with the event-system codes, whose texts
    // are the ones in the system table; 0x80040200 and 0x80040202 have none.
    {0x80040201, u"An event was unable to invoke any of the subscribers\r\n"},
    {0x80040203, u"A syntax error occurred trying to evaluate a query string\r\n"},
    {0x800401F0, u"CoInitialize has not been called.\r\n"},
    {0x800401F1, u"CoInitialize has already been called.\r\n"},
    {0x800401F2, u"Class of object cannot be determined\r\n"},
    {0x800401F3, u"Invalid class string\r\n"},
    {0x800401F4, u"Invalid interface string\r\n"},
    {0x800401F5, u"Application not found\r\n"},
    {0x800401F8, u"DLL for class not found\r\n"},
    {0x800401F9, u"Error in the DLL\r\n"},
    {0x800401FA, u"Wrong OS or OS version for application\r\n"},
    {0x800401FB, u"Object is not registered\r\n"},
    {0x80080005, u"Server execution failed\r\n"},
};

const char16_t* Lookup(DWORD code) {
    for (const SystemText& t : kSystemTexts)
        if (t.code == code)
            return t.text;
    if ((code & 0xFFFF0000u) == 0x80070000u) {
        DWORD win32 = code & 0xFFFF;
        for (const SystemText& t : kSystemTexts)
            if (t.code == win32)
                return t.text;
    }
    return nullptr;
}

bool LanguageAvailable(DWORD languageId) {
    WORD primary = PRIMARYLANGID(languageId);
    return languageId <= 0xFFFF && (primary == LANG_NEUTRAL || primary == LANG_ENGLISH);
}

// Breaks a line of text at blanks so that no line is longer than `width`; a word longer than
// the width is cut.
std::u16string Wrap(const std::u16string& text, unsigned width) {
    std::u16string out;
    std::size_t start = 0;
    while (text.size() - start > width) {
        std::size_t cut = text.rfind(u' ', start + width);
        if (cut == std::u16string::npos || cut < start) {
            out.append(text, start, width);
            out += u"\r\n";
            start += width;
        } else {
            out.append(text, start, cut - start);
            out += u"\r\n";
            start = cut + 1;
        }
    }
    out.append(text, start, std::u16string::npos);
    return out;
}

// Applies the escapes and the line-width rule. Returns false when the text needs insert
// arguments (no system text here does).
bool Render(const char16_t* source, DWORD flags, std::u16string& out) {
    const unsigned width = flags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
    const bool inserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0;
    // Lines separated by hard breaks (%n); within a line, the text's own breaks are kept only
    // when no width is set.
    std::u16string line;
    for (const char16_t* p = source; *p != 0; ++p) {
        char16_t c = *p;
        if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && p[1] == u'\n')
                ++p;
            line += width == 0 ? u"\r\n" : u" ";
            continue;
        }
        if (c == u'%' && inserts && p[1] != 0) {
            char16_t e = *++p;
            if (e == u'0')
                break;
            if (e == u'n') {
                out += width > 0 && width < FORMAT_MESSAGE_MAX_WIDTH_MASK ? Wrap(line, width) : line;
                out += u"\r\n";
                line.clear();
                continue;
            }
            if (e >= u'1' && e <= u'9')
                return false;
            line += e;  // "%%", "%.", "%!", "% " stand for the character itself
            continue;
        }
        line += c;
    }
    out += width > 0 && width < FORMAT_MESSAGE_MAX_WIDTH_MASK ? Wrap(line, width) : line;
    return true;
}

}  // namespace

extern "C" DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                LPWSTR lpBuffer, DWORD nSize, va_list* Arguments) {
    if (dwFlags & FORMAT_MESSAGE_FROM_STRING) {
        // Caller-supplied message texts are not needed by this system.
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    if ((dwFlags & (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE)) == 0 || lpBuffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0) {
        // Modules carry no message tables here.
        SetLastError(1813);
        return 0;
    }
    if (!LanguageAvailable(dwLanguageId)) {
        SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
        return 0;
    }
    const char16_t* source = Lookup(dwMessageId);
    if (source == nullptr) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    std::u16string text;
    if (!Render(source, dwFlags, text)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        SIZE_T chars = std::max<SIZE_T>(text.size() + 1, nSize);
        auto* block = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, chars * sizeof(WCHAR)));
        if (block == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        std::copy(text.begin(), text.end(), block);
        block[text.size()] = 0;
        *reinterpret_cast<LPWSTR*>(lpBuffer) = block;
        return static_cast<DWORD>(text.size());
    }
    if (text.size() + 1 > nSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(text.begin(), text.end(), lpBuffer);
    lpBuffer[text.size()] = 0;
    return static_cast<DWORD>(text.size());
}
