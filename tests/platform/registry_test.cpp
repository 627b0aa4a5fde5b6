// The registry as the program reads it: registry-export texts (.reg) of every value kind, both file
// formats and the Win32 result and buffer conventions. These run on Linux against the stand-in,
// which reads the texts as files, and on Windows against the system registry, into which the
// system's own importer writes them (see RegImport): the same text must read back the same way.
// Malformed files, read-only access, reloads and simulated hosts are the stand-in's alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/NvWide.h"
#include "platform/win32.h"
#include "tests/windows/NvRegImport.h"
#include "tests/windows/NvWine.h"

#ifndef _WIN32
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "tests/windows/NvTempConfig.h"
#endif

namespace {

using nv::WideString;
using nv::test::RegImport;
using nv::test::Utf16LeFile;

class Key {
public:
    Key() = default;
    ~Key() {
        if (h != nullptr)
            RegCloseKey(h);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY h = nullptr;
};

LONG Open(HKEY root, const WCHAR* path, Key& key) {
    return RegOpenKeyExW(root, path, 0, KEY_READ, &key.h);
}

// Reads a value as raw bytes; returns the Win32 result.
LONG ReadRaw(HKEY root, const WCHAR* path, const WCHAR* name, DWORD& type, std::vector<BYTE>& data) {
    Key key;
    LONG rc = Open(root, path, key);
    if (rc != ERROR_SUCCESS)
        return rc;
    DWORD size = 0;
    rc = RegQueryValueExW(key.h, name, nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS)
        return rc;
    data.assign(size, 0);
    return RegQueryValueExW(key.h, name, nullptr, &type, data.data(), &size);
}

// A string value in UTF-8, with its terminator dropped; "<missing>" or "<not a string>" otherwise.
std::string ReadString(HKEY root, const WCHAR* path, const WCHAR* name = nullptr) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (ReadRaw(root, path, name, type, data) != ERROR_SUCCESS)
        return "<missing>";
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return "<not a string>";
    WideString out(data.size() / sizeof(WCHAR), 0);
    std::memcpy(out.data(), data.data(), out.size() * sizeof(WCHAR));
    if (!out.empty() && out.back() == 0)
        out.pop_back();
    return nv::ToUtf8(out);
}

std::vector<std::string> Subkeys(HKEY root, const WCHAR* path) {
    Key key;
    std::vector<std::string> names;
    if (Open(root, path, key) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD cch = 256;
        LONG rc = RegEnumKeyExW(key.h, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        EXPECT_EQ(rc, ERROR_SUCCESS);
        if (rc != ERROR_SUCCESS)
            break;
        names.push_back(nv::ToUtf8(WideString(name, cch)));
    }
    return names;
}

// The UTF-16 code units of a text and its terminator, as the registry stores a string.
std::vector<BYTE> Utf16Bytes(const WideString& text) {
    std::vector<BYTE> bytes((text.size() + 1) * sizeof(WCHAR), 0);
    std::memcpy(bytes.data(), text.c_str(), bytes.size());
    return bytes;
}

// Version-5 texts are saved as UTF-16 with a byte-order mark, as the registry editor saves them.
const char* const kValueKinds = R"(Windows Registry Editor Version 5.00

; a comment line
# and another
[HKEY_CLASSES_ROOT\NvTest.Kinds]
@="Default text"
"Quoted"="say \"hi\" at C:\\Temp\\x"
"Breaks"="one\ntwo\rthree"
"Lone"="C:\Program Files"
"Number"=dword:0001e240
"Commented"=dword:00000010 ; sixteen
"Bytes"=hex:01,02,\ ; comment after a break
; a comment line inside the list
  ff,10,20 ; the end
"Expand"=hex(2):25,00,41,00,25,00,00,00
"Multi"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00
"Empty"=""
"Unicode"="Grüße €"
"Spaced" = "around the sign" ; and a comment

[HKEY_CLASSES_ROOT\NvTest.Kinds\Sub Key]
)";

TEST(RegistryParsing, ReadsEveryValueKindOfVersion5Files) {
    RegImport reg({"NvTest.Kinds"});
    reg.Import(Utf16LeFile(kValueKinds));
    const WCHAR* key = OLESTR("NvTest.Kinds");

    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key), "Default text");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key, OLESTR("Quoted")), "say \"hi\" at C:\\Temp\\x");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key, OLESTR("Breaks")), "one\ntwo\rthree");
    // A backslash escapes whatever follows it, so a single one in a path is lost on import.
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key, OLESTR("Lone")), "C:Program Files");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key, OLESTR("Empty")), "");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key, OLESTR("Unicode")), "Grüße €");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key, OLESTR("Spaced")), "around the sign");

    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_EQ(ReadRaw(HKEY_CLASSES_ROOT, key, OLESTR("Number"), type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(data, (std::vector<BYTE>{0x40, 0xE2, 0x01, 0x00}));  // 123456, little-endian
    ASSERT_EQ(ReadRaw(HKEY_CLASSES_ROOT, key, OLESTR("Commented"), type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, (std::vector<BYTE>{0x10, 0, 0, 0}));

    ASSERT_EQ(ReadRaw(HKEY_CLASSES_ROOT, key, OLESTR("Bytes"), type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(data, (std::vector<BYTE>{0x01, 0x02, 0xFF, 0x10, 0x20}));

    ASSERT_EQ(ReadRaw(HKEY_CLASSES_ROOT, key, OLESTR("Expand"), type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(data, Utf16Bytes(OLESTR("%A%")));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key, OLESTR("Expand")), "%A%");

    ASSERT_EQ(ReadRaw(HKEY_CLASSES_ROOT, key, OLESTR("Multi"), type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(data, Utf16Bytes(WideString(OLESTR("a")) + WCHAR(0) + OLESTR("bc") + WCHAR(0)));

    // Names of keys and values are found in any letter case; the key keeps its spelling.
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, OLESTR("nvtest.KINDS"), OLESTR("quoted")),
              "say \"hi\" at C:\\Temp\\x");
    EXPECT_EQ(Subkeys(HKEY_CLASSES_ROOT, OLESTR("NVTEST.kinds")), std::vector<std::string>{"Sub Key"});
}

TEST(RegistryParsing, ReadsRegedit4AndUtf16Files) {
    RegImport reg({"NvTest.Old", "NvTest.Wide"});
    // The old format keeps the text kinds as 8-bit characters; they read back as UTF-16 like any other.
    reg.Import(
        "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\NvTest.Old]\r\n@=\"old style\"\r\n"
        "\"Path\"=hex(2):25,54,4d,50,25,00\r\n"
        "\"List\"=hex(7):61,00,62,00,00\r\n");
    reg.Import(
        Utf16LeFile("Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_CLASSES_ROOT\\NvTest.Wide]\r\n@=\"wide \xC3\x9C\"\r\n\"N\"=dword:00000007\r\n"));
    // Lines may also end with a lone carriage return.
    reg.Import("REGEDIT4\r\r[HKEY_CLASSES_ROOT\\NvTest.Old\\Mac]\r@=\"cr\"\r\"Next\"=\"line\"\r");

    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, OLESTR("NvTest.Old")), "old style");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, OLESTR("NvTest.Old"), OLESTR("Path")), "%TMP%");
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_EQ(ReadRaw(HKEY_CLASSES_ROOT, OLESTR("NvTest.Old"), OLESTR("Path"), type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    ASSERT_EQ(ReadRaw(HKEY_CLASSES_ROOT, OLESTR("NvTest.Old"), OLESTR("List"), type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(data, Utf16Bytes(WideString(OLESTR("a")) + WCHAR(0) + OLESTR("b") + WCHAR(0)));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, OLESTR("NvTest.Wide")), "wide Ü");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, OLESTR("NvTest.Old\\Mac")), "cr");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, OLESTR("NvTest.Old\\Mac"), OLESTR("Next")), "line");
}

TEST(RegistryParsing, LaterFilesReplaceAndDeleteAndMachineClassesIsTheSameTree) {
    RegImport reg({"NvTest.Merge"});
    reg.Import(
        "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\NvTest.Merge]\n@=\"first\"\n"
        "\"Kept\"=\"a\"\n\"Dropped\"=\"b\"\n\n[HKEY_CLASSES_ROOT\\NvTest.Merge\\Old\\Deeper]\n@=\"x\"\n");
    reg.Import(
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\NvTest.Merge]\n@=\"second\"\n\"Dropped\"=-\n\n"
        "[-HKEY_CLASSES_ROOT\\NvTest.Merge\\Old]\n\"Ignored\"=\"under a deleted key\"\n\n"
        "[-HKEY_CLASSES_ROOT\\NvTest.Merge\\NeverThere]\n");

    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, OLESTR("NvTest.Merge")), "second");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, OLESTR("NvTest.Merge"), OLESTR("Kept")), "a");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, OLESTR("NvTest.Merge"), OLESTR("Dropped")), "<missing>");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, OLESTR("Software\\Classes\\NvTest.Merge"), OLESTR("Kept")), "a");
    Key old;
    EXPECT_EQ(Open(HKEY_CLASSES_ROOT, OLESTR("NvTest.Merge\\Old"), old), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(Subkeys(HKEY_CLASSES_ROOT, OLESTR("NvTest.Merge")).empty());
}

TEST(RegistryParsing, AnImportTheSystemRefusesIsReportedAndTheImporterCleansUp) {
    {
        RegImport reg({"NvTest.Clean"});
        EXPECT_THROW(reg.Import("Windows Registry Editor Version 4.00\n[HKEY_CLASSES_ROOT\\NvTest.Clean]\n"),
                     std::runtime_error);
        reg.Import("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\NvTest.Clean\\Child]\n@=\"here\"\n");
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, OLESTR("NvTest.Clean\\Child")), "here");
    }
    Key gone;
    EXPECT_EQ(Open(HKEY_CLASSES_ROOT, OLESTR("NvTest.Clean"), gone), ERROR_FILE_NOT_FOUND);
}

const char* const kOrder = R"(Windows Registry Editor Version 5.00
[HKEY_CLASSES_ROOT\NvTest.Order\beta]
[HKEY_CLASSES_ROOT\NvTest.Order\Alpha]
[HKEY_CLASSES_ROOT\NvTest.Order\_under]
[HKEY_CLASSES_ROOT\NvTest.Order\gamma]
[HKEY_CLASSES_ROOT\NvTest.Order\B2]
[HKEY_CLASSES_ROOT\NvTest.Order]
@="0123456789"
"LongerName"=dword:1
)";

TEST(RegistryApi, EnumeratesSubkeysAlphabeticallyWithoutRegardToCase) {
    RegImport reg({"NvTest.Order"});
    reg.Import(Utf16LeFile(kOrder));
    std::vector<std::string> names = Subkeys(HKEY_CLASSES_ROOT, OLESTR("NvTest.Order"));
    std::vector<std::string> letters;
    for (const std::string& name : names)
        if (name != "_under")
            letters.push_back(name);
    EXPECT_EQ(letters, (std::vector<std::string>{"Alpha", "B2", "beta", "gamma"}));
    // Windows compares the upper-case names, which puts '_' after the letters.
    if (nv::test::RunningUnderWine()) {
        nv::test::NoteWineDifference("subkeys are ordered by their lower-case names, \"_under\" first");
    } else {
        EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "B2", "beta", "gamma", "_under"}));
    }
    ASSERT_EQ(names.size(), 5u);

    Key key;
    ASSERT_EQ(Open(HKEY_CLASSES_ROOT, OLESTR("NvTest.Order"), key), ERROR_SUCCESS);
    auto indexOf = [&](const std::string& name) {
        return static_cast<DWORD>(std::find(names.begin(), names.end(), name) - names.begin());
    };
    WCHAR name[5];
    DWORD cch = 5;  // "Alpha" needs 6 with its terminator
    EXPECT_EQ(RegEnumKeyExW(key.h, indexOf("Alpha"), name, &cch, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    cch = 5;
    EXPECT_EQ(RegEnumKeyExW(key.h, indexOf("B2"), name, &cch, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(cch, 2u);
    EXPECT_EQ(nv::ToUtf8(WideString(name, cch)), "B2");
    cch = 5;
    EXPECT_EQ(RegEnumKeyExW(key.h, 5, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    DWORD subkeys = 0, maxSubkey = 0, values = 0, maxName = 0, maxData = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key.h, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values,
                               &maxName, &maxData, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 5u);
    EXPECT_EQ(maxSubkey, 6u);  // "_under"
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(maxName, 10u);  // "LongerName"
    EXPECT_EQ(maxData, 22u);  // ten characters and the terminator
}

TEST(RegistryApi, QueryValueFollowsTheBufferConventions) {
    RegImport reg({"NvTest.Order"});
    reg.Import(Utf16LeFile(kOrder));
    Key key;
    ASSERT_EQ(Open(HKEY_CLASSES_ROOT, OLESTR("NvTest.Order"), key), ERROR_SUCCESS);

    // No buffer: the type and the size needed.
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(key.h, nullptr, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 22u);
    // Neither buffer nor size: only whether the value is there.
    EXPECT_EQ(RegQueryValueExW(key.h, nullptr, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);

    WCHAR small[4] = {'x', 'x', 'x', 'x'};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(key.h, OLESTR(""), nullptr, &type, reinterpret_cast<LPBYTE>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 22u);

    WCHAR exact[11];
    size = sizeof exact;
    ASSERT_EQ(RegQueryValueExW(key.h, OLESTR(""), nullptr, &type, reinterpret_cast<LPBYTE>(exact), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 22u);
    EXPECT_EQ(nv::ToUtf8(exact), "0123456789");
    // A buffer without its size is refused.
    EXPECT_EQ(RegQueryValueExW(key.h, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(exact), nullptr),
              ERROR_INVALID_PARAMETER);

    EXPECT_EQ(RegQueryValueExW(key.h, OLESTR("NoSuchValue"), nullptr, &type, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    Key child;
    ASSERT_EQ(Open(key.h, OLESTR("beta"), child), ERROR_SUCCESS);
    // A key without "@=" has no default value at all.
    EXPECT_EQ(RegQueryValueExW(child.h, nullptr, nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

TEST(RegistryApi, MissingKeysAndHandlesThatAreNotOpen) {
    RegImport reg({"NvTest.Order"});
    reg.Import(Utf16LeFile(kOrder));
    HKEY missing = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("NvTest.Order\\delta"), 0, KEY_READ, &missing),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("NvTest.Order"), 0, KEY_READ, nullptr),
              ERROR_INVALID_PARAMETER);

    // The predefined keys are never really closed.
    EXPECT_EQ(RegCloseKey(HKEY_CLASSES_ROOT), ERROR_SUCCESS);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, OLESTR("NvTest.Order")), "0123456789");

    HKEY none = nullptr;
    HKEY out = reinterpret_cast<HKEY>(1);
    DWORD size = 0;
    WCHAR name[16];
    DWORD cch = 16;
    EXPECT_EQ(RegOpenKeyExW(none, OLESTR("NvTest.Order"), 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(RegQueryValueExW(none, nullptr, nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegEnumKeyExW(none, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(none), ERROR_INVALID_HANDLE);

    // A handle just closed (and not yet handed out again) is refused the same way.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("NvTest.Order"), 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

// Machine names that reach this computer's registry on every system: none, and the computer's own.
TEST(RegistryApi, ConnectingToThisComputerReachesTheLocalRegistry) {
    RegImport reg({"NvTest.Local"});
    reg.Import("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\NvTest.Local]\n@=\"here\"\n");
    WCHAR self[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(self, &size));
    WideString unc = WideString(OLESTR("\\\\")) + self;
    for (const WCHAR* name : {static_cast<const WCHAR*>(nullptr), static_cast<const WCHAR*>(OLESTR("")),
                              static_cast<const WCHAR*>(self), unc.c_str()}) {
        Key local;
        ASSERT_EQ(RegConnectRegistryW(name, HKEY_CLASSES_ROOT, &local.h), ERROR_SUCCESS)
            << (name == nullptr ? "(null)" : nv::ToUtf8(name));
        EXPECT_EQ(ReadString(local.h, OLESTR("NvTest.Local")), "here");
    }
    Key machine;
    ASSERT_EQ(RegConnectRegistryW(nullptr, HKEY_LOCAL_MACHINE, &machine.h), ERROR_SUCCESS);
    EXPECT_EQ(ReadString(machine.h, OLESTR("SOFTWARE\\Classes\\NvTest.Local")), "here");
}

#ifndef _WIN32
// From here on: mechanisms of the stand-in that Windows does not have.

using nv::test::TempConfig;

// Windows reads a file without a byte-order mark in its ANSI code page, and takes the bytes of its
// hex(2) and hex(7) values for 8-bit characters; the stand-in reads such a file as UTF-8, the
// Linux system's own encoding, and takes those values as UTF-16 when the header says version 5.
TEST(RegistryParsing, Utf8FilesWithoutByteOrderMark) {
    TempConfig config;
    config.WriteUser("utf8.reg",
                     "Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\NvTest.Utf8]\n@=\"Grüße €\"\n"
                     "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\n");
    config.WriteUser("bom.reg", "\xEF\xBB\xBFREGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Bom]\n@=\"ü\"\n");
    nvplatform::ReloadRegistry();
    EXPECT_TRUE(config.LoadErrors().empty());
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Utf8"), "Grüße €");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Utf8", u"Expand"), "%A%");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Bom"), "ü");
}

struct MalformedCase {
    const char* name;
    const char* text;
    int line;
};

void PrintTo(const MalformedCase& c, std::ostream* os) {
    *os << c.name;
}

// The system's importer skips lines it cannot read and imports the rest; the stand-in rejects
// such a file whole and names the line, so that a broken registration is never half there.
class MalformedFile : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedFile, IsReportedWithNameAndLineAndSkippedWhole) {
    const MalformedCase& c = GetParam();
    TempConfig config;
    config.WriteUser("good.reg",
                     "Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\NvTest.Good]\n@=\"fine\"\n");
    auto bad = config.WriteUser("zz-bad.reg", c.text);
    nvplatform::ReloadRegistry();
    ::testing::internal::CaptureStderr();
    auto errors = config.LoadErrors();
    std::string printed = ::testing::internal::GetCapturedStderr();

    ASSERT_EQ(errors.size(), 1u);
    std::string where = bad.string() + ":" + std::to_string(c.line) + ":";
    EXPECT_EQ(errors[0].rfind(where, 0), 0u) << errors[0];
    EXPECT_NE(printed.find(where), std::string::npos) << printed;
    // Nothing of the bad file is kept, not even the part before the fault; other files load.
    Key key;
    EXPECT_EQ(Open(HKEY_CLASSES_ROOT, u"NvTest.Bad", key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Good"), "fine");
}

INSTANTIATE_TEST_SUITE_P(
    Registry, MalformedFile,
    ::testing::Values(
        MalformedCase{"NoHeader", "[HKEY_CLASSES_ROOT\\NvTest.Bad]\n@=\"x\"\n", 1},
        MalformedCase{"WrongHeader",
                      "\n\nWindows Registry Editor Version 4.00\n[HKEY_CLASSES_ROOT\\NvTest.Bad]\n", 3},
        MalformedCase{"ValueBeforeKey", "REGEDIT4\n\n@=\"x\"\n[HKEY_CLASSES_ROOT\\NvTest.Bad]\n", 3},
        MalformedCase{"UnterminatedString",
                      "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Bad]\n@=\"ok\"\n\"A\"=\"open\n", 4},
        MalformedCase{"EscapedNul", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Bad]\n\"A\"=\"a\\0b\"\n", 3},
        MalformedCase{"DwordTooLong", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Bad]\n\"A\"=dword:123456789\n",
                      3},
        MalformedCase{"DwordWithText", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Bad]\n\"A\"=dword:12 abc\n", 3},
        MalformedCase{"UnknownKind", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Bad]\n\"A\"=qword:1\n", 3},
        MalformedCase{"BadHexByte", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Bad]\n\"A\"=hex:01,\\\n  0g\n", 4},
        MalformedCase{"HexRunsOffTheEnd", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Bad]\n\"A\"=hex:01,\\", 3},
        MalformedCase{"HexOntoEmptyLine", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Bad]\n\"A\"=hex:01,\\\n\n",
                      4},
        MalformedCase{"UnclosedKey", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Bad]\n[HKEY_CLASSES_ROOT\\Other\n",
                      3},
        MalformedCase{"UnknownRoot", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Bad]\n[HKEY_NOWHERE\\X]\n", 3},
        MalformedCase{"StrayText", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Bad]\nstray\n", 3},
        MalformedCase{"TextAfterString", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Bad]\n@=\"a\" b\n", 3}),
    [](const auto& info) { return std::string(info.param.name); });

// The system registry can be written; the stand-in's, built from files, cannot.
TEST(RegistryApi, RefusesWriteAccess) {
    TempConfig config;
    config.WriteUser("order.reg", kOrder);
    nvplatform::ReloadRegistry();
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"NvTest.Order", 0, KEY_ALL_ACCESS, &key),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"NvTest.Order", 0, KEY_READ | KEY_SET_VALUE, &key),
              ERROR_ACCESS_DENIED);
}

// Windows has no reload: its registry is written in place.
TEST(RegistryApi, OpenHandlesKeepTheRegistryTheyWereOpenedOn) {
    TempConfig config;
    config.WriteUser("v.reg", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Reload]\n@=\"before\"\n");
    nvplatform::ReloadRegistry();
    Key key;
    ASSERT_EQ(Open(HKEY_CLASSES_ROOT, u"NvTest.Reload", key), ERROR_SUCCESS);
    config.WriteUser("v.reg", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Reload]\n@=\"after\"\n");
    nvplatform::ReloadRegistry();
    EXPECT_EQ(ReadString(key.h, nullptr), "before");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Reload"), "after");
}

// Windows has no reload: its registry is written in place.
TEST(RegistryApi, ReadersAndReloadsOnManyThreadsDoNotInterfere) {
    TempConfig config;
    config.WriteUser("order.reg", kOrder);
    nvplatform::ReloadRegistry();
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            while (!stop) {
                if (ReadString(HKEY_CLASSES_ROOT, u"NvTest.Order") != "0123456789")
                    ++wrong;
                if (Subkeys(HKEY_CLASSES_ROOT, u"NvTest.Order").size() != 5)
                    ++wrong;
            }
        });
    }
    for (int i = 0; i < 200; ++i)
        nvplatform::ReloadRegistry();
    stop = true;
    for (auto& t : readers)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
}

// Simulated hosts exist only in the stand-in; Windows reaches real machines.
TEST(RegistryHosts, EachSimulatedHostHasItsOwnRegistry) {
    TempConfig config;
    config.WriteUser("local.reg", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Local]\n@=\"here\"\n");
    config.WriteHost("PlantA", "a.reg",
                     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\NvTest.Remote]\n@=\"on A\"\n");
    config.WriteHost("plantb", "b.reg", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Remote]\n@=\"on B\"\n");
    std::filesystem::create_directories(config.Host("EmptyHost"));
    nvplatform::ReloadRegistry();

    // Only folders holding registry files are hosts.
    EXPECT_EQ(nvplatform::SimulatedHostNames(), (std::vector<std::u16string>{u"PlantA", u"plantb"}));
    EXPECT_TRUE(nvplatform::IsSimulatedHost(u"\\\\planta"));
    EXPECT_FALSE(nvplatform::IsSimulatedHost(u"EmptyHost"));

    Key a;
    ASSERT_EQ(RegConnectRegistryW(u"\\\\PLANTA", HKEY_CLASSES_ROOT, &a.h), ERROR_SUCCESS);
    EXPECT_EQ(ReadString(a.h, u"NvTest.Remote"), "on A");
    EXPECT_EQ(ReadString(a.h, u"NvTest.Local"), "<missing>");
    Key b;
    ASSERT_EQ(RegConnectRegistryW(u"PlantB", HKEY_LOCAL_MACHINE, &b.h), ERROR_SUCCESS);
    EXPECT_EQ(ReadString(b.h, u"SOFTWARE\\Classes\\NvTest.Remote"), "on B");

    Key unknown;
    EXPECT_EQ(RegConnectRegistryW(u"\\\\NoSuchPlant", HKEY_CLASSES_ROOT, &unknown.h), ERROR_BAD_NETPATH);
    EXPECT_EQ(unknown.h, nullptr);
    EXPECT_EQ(RegConnectRegistryW(u"EmptyHost", HKEY_CLASSES_ROOT, &unknown.h), ERROR_BAD_NETPATH);

    // The stand-in also takes the loopback spellings for this computer, which Windows would send
    // through its remote registry service.
    for (const char16_t* name : {u"localhost", u"127.0.0.1", u"."}) {
        Key local;
        ASSERT_EQ(RegConnectRegistryW(name, HKEY_CLASSES_ROOT, &local.h), ERROR_SUCCESS);
        EXPECT_EQ(ReadString(local.h, u"NvTest.Local"), "here");
    }
    std::u16string self = nvplatform::LocalComputerName();
    EXPECT_TRUE(nvplatform::IsLocalHostName(self));
    // The computer name is the host name cut short; the host name itself names this computer too.
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    EXPECT_TRUE(nvplatform::IsLocalHostName(nv::ToWide(host)));
    EXPECT_FALSE(nvplatform::IsLocalHostName(nv::ToWide(std::string(host) + "-other")));
}

#endif  // !_WIN32

}  // namespace
