// Temporary registrations for tests: the text is checked alike on every system, the entries are
// there while the object lives and gone (or back to what they were) afterwards.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "platform/NvWide.h"
#include "platform/win32.h"
#include "tests/platform/testmodule/TestCounter.h"
#include "tests/windows/NvTestRegistration.h"

namespace {

using nv::test::ParseRegistrationText;
using nv::test::TestRegistration;

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";
const std::string kProgID = "Norvane.TestRegistration.1";

std::optional<std::string> ReadString(const std::string& key, const char* name) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, nv::ToWide(key).c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return std::nullopt;
    WCHAR data[512] = {};
    DWORD size = sizeof(data) - sizeof(WCHAR);
    DWORD type = 0;
    nv::WideString wideName = name ? nv::ToWide(name) : nv::WideString();
    LONG rc = RegQueryValueExW(h, name ? wideName.c_str() : nullptr, nullptr, &type,
                               reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return std::nullopt;
    return nv::ToUtf8(data);
}

std::optional<DWORD> ReadDword(const std::string& key, const char* name) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, nv::ToWide(key).c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD data = 0, size = sizeof data, type = 0;
    LONG rc =
        RegQueryValueExW(h, nv::ToWide(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS || type != REG_DWORD)
        return std::nullopt;
    return data;
}

bool KeyExists(const std::string& key) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, nv::ToWide(key).c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

// The test module as the system loads it, escaped for a .reg string.
std::string TestModuleRegString() {
#ifdef _WIN32
    std::string path = std::string(NV_BUILD_DIR) + "/lib/nv_test_module.dll";
    std::string escaped;
    for (char c : path)
        escaped += (c == '/' || c == '\\') ? std::string("\\\\") : std::string(1, c);
    return escaped;
#else
    return std::string(NV_BUILD_DIR) + "/lib/nv_test_module.so";
#endif
}

std::string GuidText(const GUID& guid) {
    OLECHAR text[40] = {};
    StringFromGUID2(guid, text, 40);
    return nv::ToUtf8(text);
}

TEST(RegistrationText, AcceptsWhatTestsWrite) {
    auto parsed = ParseRegistrationText(
        "REGEDIT4\r\n"
        "; a comment\r\n"
        "[HKEY_CLASSES_ROOT\\A.B.1]\r\n"
        "@=\"Say \\\"hi\\\" C:\\\\x\"\r\n"
        "\"Count\"=dword:0001869F\r\n"
        "[HKEY_CLASSES_ROOT\\A.B.1\\Empty]\r\n");
    ASSERT_EQ(parsed.keys.size(), 2u);
    EXPECT_EQ(parsed.keys[1], "A.B.1\\Empty");
    ASSERT_EQ(parsed.values.size(), 2u);
    EXPECT_FALSE(parsed.values[0].name.has_value());
    EXPECT_EQ(parsed.values[0].text, "Say \"hi\" C:\\x");
    EXPECT_EQ(parsed.values[1].name, "Count");
    EXPECT_TRUE(parsed.values[1].isDword);
    EXPECT_EQ(parsed.values[1].dword, 99999u);
}

TEST(RegistrationText, RefusesWhatItCannotAddAndNamesTheLine) {
    struct Case {
        std::string text;
        const char* line;
    } cases[] = {
        {"[HKEY_CLASSES_ROOT\\X]\n", "line 1"},                             // no header
        {kHeader + "[HKEY_LOCAL_MACHINE\\Software\\X]\n", "line 3"},        // another root
        {kHeader + "[HKEY_CLASSES_ROOT\\X\n", "line 3"},                    // no closing bracket
        {kHeader + "@=\"v\"\n", "line 3"},                                  // value before any key
        {kHeader + "[HKEY_CLASSES_ROOT\\X]\n\"a\"=hex:01,02\n", "line 4"},  // value kind
        {kHeader + "[HKEY_CLASSES_ROOT\\X]\n\"a\"=dword:123456789\n", "line 4"},
        {kHeader + "[HKEY_CLASSES_ROOT\\X]\n@=\"C:\\x\"\n", "line 4"},  // single backslash
        {kHeader + "[HKEY_CLASSES_ROOT\\X]\n@=\"open\n", "line 4"},
        {kHeader + "[HKEY_CLASSES_ROOT\\X]\n\"a\" \"b\"\n", "line 4"},
    };
    for (const Case& c : cases) {
        try {
            ParseRegistrationText(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(c.line), std::string::npos)
                << e.what() << "\nfor: " << c.text;
        }
    }
}

// Nothing is written from text that does not parse.
TEST(TestRegistrationTest, RefusedTextLeavesTheRegistryAlone) {
    EXPECT_THROW(
        TestRegistration(kHeader + "[HKEY_CLASSES_ROOT\\Norvane.Refused.1]\n@=\"x\"\n\"n\"=hex:00\n"),
        std::invalid_argument);
    EXPECT_FALSE(KeyExists("Norvane.Refused.1"));
}

TEST(TestRegistrationTest, NewKeysLiveAsLongAsTheObject) {
    const std::string root = "Norvane.TestRegistration.Tree";
    ASSERT_FALSE(KeyExists(root));
    {
        TestRegistration reg(kHeader + "[HKEY_CLASSES_ROOT\\" + root + "\\Inner\\Deepest]\n@=\"deep\"\n" +
                             "\"Number\"=dword:00000010\n\n[HKEY_CLASSES_ROOT\\" + root + "\\Empty]\n");
        EXPECT_EQ(ReadString(root + "\\Inner\\Deepest", nullptr), "deep");
        EXPECT_EQ(ReadDword(root + "\\Inner\\Deepest", "Number"), 16u);
        EXPECT_TRUE(KeyExists(root + "\\Empty"));
    }
    EXPECT_FALSE(KeyExists(root));
}

// A value set on a key that was there before is put back as it was, or removed if it was not
// there; the key itself stays. The key is one of the test's own: other test executables may run
// at the same time against the same registry.
TEST(TestRegistrationTest, ReplacedValuesAreRestored) {
    const std::string key = "Norvane.TestRegistration.Existing";
    TestRegistration before(kHeader + "[HKEY_CLASSES_ROOT\\" + key +
                            "]\n@=\"before\"\n\"BulkItems\"=dword:00000003\n");
    {
        TestRegistration reg(kHeader + "[HKEY_CLASSES_ROOT\\" + key + "]\n@=\"replaced\"\n" +
                             "\"BulkItems\"=dword:00000007\n\"NvTestOnly\"=\"x\"\n");
        EXPECT_EQ(ReadString(key, nullptr), "replaced");
        EXPECT_EQ(ReadDword(key, "BulkItems"), 7u);
        EXPECT_EQ(ReadString(key, "NvTestOnly"), "x");
    }
    EXPECT_TRUE(KeyExists(key));
    EXPECT_EQ(ReadString(key, nullptr), "before");
    EXPECT_EQ(ReadDword(key, "BulkItems"), 3u);
    EXPECT_FALSE(ReadString(key, "NvTestOnly").has_value());
}

// What tests register this way is what the COM runtime sees: a ProgID and a class, through the
// module the build made.
TEST(TestRegistrationTest, TheRuntimeCreatesARegisteredClass) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    const std::string clsid = GuidText(CLSID_TestCounter);
    CLSID found{};
    {
        TestRegistration reg(kHeader + "[HKEY_CLASSES_ROOT\\" + kProgID + "\\CLSID]\n@=\"" + clsid +
                             "\"\n\n" + "[HKEY_CLASSES_ROOT\\CLSID\\" + clsid + "\\InprocServer32]\n@=\"" +
                             TestModuleRegString() + "\"\n\"ThreadingModel\"=\"Free\"\n");
        ASSERT_EQ(CLSIDFromProgID(nv::ToWide(kProgID).c_str(), &found), S_OK);
        EXPECT_EQ(found, CLSID_TestCounter);
        ITestCounter* counter = nullptr;
        ASSERT_EQ(CoCreateInstance(found, nullptr, CLSCTX_INPROC_SERVER, IID_ITestCounter,
                                   reinterpret_cast<void**>(&counter)),
                  S_OK);
        LONG value = 0;
        EXPECT_EQ(counter->Increment(&value), S_OK);
        EXPECT_EQ(value, 1);
        counter->Release();
    }
    EXPECT_EQ(CLSIDFromProgID(nv::ToWide(kProgID).c_str(), &found), CO_E_CLASSSTRING);
    CoUninitialize();
}

}  // namespace
