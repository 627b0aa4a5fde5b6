// The read-only registry built from .reg files: parsing of both file formats and all value
// kinds, rejection of malformed files, the Win32 result conventions, and simulated hosts.
// All of it is the stand-in's own: on Windows the system registry is used as it is.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/NvWide.h"
#include "platform/win32.h"
#include "tests/platform/testmodule/TempConfig.h"

namespace {

using nvtest::TempConfig;

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

LONG Open(HKEY root, const char16_t* path, Key& key) {
    return RegOpenKeyExW(root, path, 0, KEY_READ, &key.h);
}

// Reads a value as raw bytes; returns the Win32 result.
LONG ReadRaw(HKEY root, const char16_t* path, const char16_t* name, DWORD& type, std::vector<BYTE>& data) {
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

std::u16string ReadString(HKEY root, const char16_t* path, const char16_t* name = nullptr) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (ReadRaw(root, path, name, type, data) != ERROR_SUCCESS)
        return u"<missing>";
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return u"<not a string>";
    std::u16string out(data.size() / 2, u'\0');
    std::memcpy(out.data(), data.data(), out.size() * 2);
    if (!out.empty() && out.back() == 0)
        out.pop_back();
    return out;
}

std::vector<std::u16string> Subkeys(HKEY root, const char16_t* path) {
    Key key;
    std::vector<std::u16string> names;
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
        names.emplace_back(name, cch);
    }
    return names;
}

std::string Utf16LeWithBom(const std::string& utf8) {
    std::u16string wide = nv::ToWide(utf8);
    std::string bytes = "\xFF\xFE";
    for (char16_t c : wide) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

const char* const kValueKinds = R"(Windows Registry Editor Version 5.00

; a comment line
[HKEY_CLASSES_ROOT\NvTest.Kinds]
@="Default text"
"Quoted"="say \"hi\" at C:\\Temp\\x"
"Raw"="C:\Program Files\nv"
"Number"=dword:0001e240
"Bytes"=hex:01,02,ff,\
  10,20
"Expand"=hex(2):25,00,41,00,25,00,00,00
"Multi"=hex(7):61,00,00,00,62,00,00,00,00,00
"Empty"=""
"Unicode"="Grüße €"

[HKEY_CLASSES_ROOT\NvTest.Kinds\Sub Key]
)";

TEST(RegistryParsing, ReadsEveryValueKindOfVersion5Files) {
    TempConfig config;
    config.WriteUser("kinds.reg", kValueKinds);
    nvplatform::ReloadRegistry();
    EXPECT_TRUE(config.LoadErrors().empty());

    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Kinds"), u"Default text");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Kinds", u"Quoted"), u"say \"hi\" at C:\\Temp\\x");
    // A backslash that escapes nothing is kept as written.
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Kinds", u"Raw"), u"C:\\Program Files\\nv");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Kinds", u"Empty"), u"");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Kinds", u"Unicode"), u"Grüße €");

    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_EQ(ReadRaw(HKEY_CLASSES_ROOT, u"NvTest.Kinds", u"Number", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    ASSERT_EQ(data.size(), 4u);
    DWORD number;
    std::memcpy(&number, data.data(), 4);
    EXPECT_EQ(number, 123456u);

    ASSERT_EQ(ReadRaw(HKEY_CLASSES_ROOT, u"NvTest.Kinds", u"Bytes", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(data, (std::vector<BYTE>{0x01, 0x02, 0xFF, 0x10, 0x20}));

    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Kinds", u"Expand"), u"%A%");
    ASSERT_EQ(ReadRaw(HKEY_CLASSES_ROOT, u"NvTest.Kinds", u"Expand", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));

    ASSERT_EQ(ReadRaw(HKEY_CLASSES_ROOT, u"NvTest.Kinds", u"Multi", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(data.size(), 10u);

    // Names of keys and values are found in any letter case; the key keeps its spelling.
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"nvtest.KINDS", u"quoted"), u"say \"hi\" at C:\\Temp\\x");
    EXPECT_EQ(Subkeys(HKEY_CLASSES_ROOT, u"NVTEST.kinds"), std::vector<std::u16string>{u"Sub Key"});
}

TEST(RegistryParsing, ReadsRegedit4AndUtf16Files) {
    TempConfig config;
    config.WriteUser("old.reg",
                     "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\NvTest.Old]\r\n@=\"old style\"\r\n"
                     "\"Path\"=hex(2):25,54,4d,50,25,00\r\n");
    config.WriteUser("wide.reg", Utf16LeWithBom("Windows Registry Editor Version 5.00\r\n\r\n"
                                                "[HKEY_CLASSES_ROOT\\NvTest.Wide]\r\n@=\"wide Ü\"\r\n"
                                                "\"N\"=dword:00000007\r\n"));
    nvplatform::ReloadRegistry();
    EXPECT_TRUE(config.LoadErrors().empty());
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Old"), u"old style");
    // The old format stores text kinds as 8-bit bytes; they read back as UTF-16 like any other.
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Old", u"Path"), u"%TMP%");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Wide"), u"wide Ü");
}

TEST(RegistryParsing, LaterFilesReplaceEarlierValuesAndMachineClassesIsTheSameTree) {
    TempConfig config;
    config.WriteUser("a.reg",
                     "Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\NvTest.Merge]\n@=\"first\"\n"
                     "\"Kept\"=\"a\"\n");
    config.WriteUser("b.reg",
                     "Windows Registry Editor Version 5.00\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\NvTest.Merge]\n@=\"second\"\n");
    nvplatform::ReloadRegistry();
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Merge"), u"second");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Merge", u"Kept"), u"a");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Software\\Classes\\NvTest.Merge", u"Kept"), u"a");
}

struct MalformedCase {
    const char* name;
    const char* text;
    int line;
};

void PrintTo(const MalformedCase& c, std::ostream* os) {
    *os << c.name;
}

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
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Good"), u"fine");
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
        MalformedCase{"DwordTooLong", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Bad]\n\"A\"=dword:123456789\n",
                      3},
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
    TempConfig config;
    config.WriteUser("order.reg", kOrder);
    nvplatform::ReloadRegistry();
    EXPECT_EQ(Subkeys(HKEY_CLASSES_ROOT, u"NvTest.Order"),
              (std::vector<std::u16string>{u"Alpha", u"B2", u"beta", u"gamma", u"_under"}));

    Key key;
    ASSERT_EQ(Open(HKEY_CLASSES_ROOT, u"NvTest.Order", key), ERROR_SUCCESS);
    WCHAR name[5];
    DWORD cch = 5;  // "Alpha" needs 6 with its terminator
    EXPECT_EQ(RegEnumKeyExW(key.h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    cch = 5;
    EXPECT_EQ(RegEnumKeyExW(key.h, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, cch), u"B2");

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
    TempConfig config;
    config.WriteUser("order.reg", kOrder);
    nvplatform::ReloadRegistry();
    Key key;
    ASSERT_EQ(Open(HKEY_CLASSES_ROOT, u"NvTest.Order", key), ERROR_SUCCESS);

    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(key.h, nullptr, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 22u);

    WCHAR small[4] = {u'x', u'x', u'x', u'x'};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(key.h, u"", nullptr, &type, reinterpret_cast<LPBYTE>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 22u);

    WCHAR exact[11];
    size = sizeof exact;
    ASSERT_EQ(RegQueryValueExW(key.h, u"", nullptr, &type, reinterpret_cast<LPBYTE>(exact), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(exact), u"0123456789");

    EXPECT_EQ(RegQueryValueExW(key.h, u"NoSuchValue", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    Key child;
    ASSERT_EQ(Open(key.h, u"beta", child), ERROR_SUCCESS);
    // A key without "@=" has no default value at all.
    EXPECT_EQ(RegQueryValueExW(child.h, nullptr, nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    Key missing;
    EXPECT_EQ(Open(HKEY_CLASSES_ROOT, u"NvTest.Order\\delta", missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing.h, nullptr);
}

TEST(RegistryApi, RefusesWritesAndHandlesThatAreNotOpen) {
    TempConfig config;
    config.WriteUser("order.reg", kOrder);
    nvplatform::ReloadRegistry();
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"NvTest.Order", 0, KEY_ALL_ACCESS, &key),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"NvTest.Order", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
}

TEST(RegistryApi, OpenHandlesKeepTheRegistryTheyWereOpenedOn) {
    TempConfig config;
    config.WriteUser("v.reg", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Reload]\n@=\"before\"\n");
    nvplatform::ReloadRegistry();
    Key key;
    ASSERT_EQ(Open(HKEY_CLASSES_ROOT, u"NvTest.Reload", key), ERROR_SUCCESS);
    config.WriteUser("v.reg", "REGEDIT4\n[HKEY_CLASSES_ROOT\\NvTest.Reload]\n@=\"after\"\n");
    nvplatform::ReloadRegistry();
    EXPECT_EQ(ReadString(key.h, nullptr), u"before");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"NvTest.Reload"), u"after");
}

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
                if (ReadString(HKEY_CLASSES_ROOT, u"NvTest.Order") != u"0123456789")
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
    EXPECT_EQ(ReadString(a.h, u"NvTest.Remote"), u"on A");
    EXPECT_EQ(ReadString(a.h, u"NvTest.Local"), u"<missing>");
    Key b;
    ASSERT_EQ(RegConnectRegistryW(u"PlantB", HKEY_LOCAL_MACHINE, &b.h), ERROR_SUCCESS);
    EXPECT_EQ(ReadString(b.h, u"SOFTWARE\\Classes\\NvTest.Remote"), u"on B");

    Key unknown;
    EXPECT_EQ(RegConnectRegistryW(u"\\\\NoSuchPlant", HKEY_CLASSES_ROOT, &unknown.h), ERROR_BAD_NETPATH);
    EXPECT_EQ(unknown.h, nullptr);
    EXPECT_EQ(RegConnectRegistryW(u"EmptyHost", HKEY_CLASSES_ROOT, &unknown.h), ERROR_BAD_NETPATH);

    // Every spelling of this computer reaches the local registry.
    std::u16string self = nvplatform::LocalComputerName();
    for (const char16_t* name :
         {static_cast<const char16_t*>(nullptr), u"", u"localhost", u"127.0.0.1", u"."}) {
        Key local;
        ASSERT_EQ(RegConnectRegistryW(name, HKEY_CLASSES_ROOT, &local.h), ERROR_SUCCESS);
        EXPECT_EQ(ReadString(local.h, u"NvTest.Local"), u"here");
    }
    std::u16string upperSelf = self;
    for (auto& c : upperSelf)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    Key own;
    ASSERT_EQ(RegConnectRegistryW((u"\\\\" + upperSelf).c_str(), HKEY_CLASSES_ROOT, &own.h), ERROR_SUCCESS);
    EXPECT_EQ(ReadString(own.h, u"NvTest.Local"), u"here");
    EXPECT_TRUE(nvplatform::IsLocalHostName(upperSelf));
    // The computer name is the host name cut short; the host name itself names this computer too.
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    EXPECT_TRUE(nvplatform::IsLocalHostName(nv::ToWide(host)));
    EXPECT_FALSE(nvplatform::IsLocalHostName(nv::ToWide(std::string(host) + "-other")));
}

}  // namespace

#endif  // !_WIN32
