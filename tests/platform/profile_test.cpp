// Profile (INI) files: reading odd files, the enumeration lists and their truncation, integer
// values, rewriting, deletion, refused input, UTF-16 files and concurrent writers.
// The same checks run against the stand-in and against the system's own profile functions.
// Where the stand-in keeps a rule of its own (line-exact rewriting, refusing input that would
// break the file, the permissions of a POSIX folder, UTF-8 files, duplicated names), the check
// is built for Linux only and says what Windows lacks.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/NvWide.h"
#include "platform/win32.h"
#include "tests/windows/NvWine.h"

namespace {

namespace fs = std::filesystem;

// A wide string that keeps the embedded NULs of a literal: W(OLESTR("a\0b\0")) has four characters.
template <std::size_t N>
nv::WideString W(const WCHAR (&literal)[N]) {
    return nv::WideString(literal, N - 1);
}

nv::WideString WideOf(const fs::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    return nv::ToWide(path.string());
#endif
}

// A fresh folder per test; several test processes may run at once.
fs::path MakeTemporaryFolder() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = fs::temp_directory_path() /
                             ("nvprofile-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (fs::create_directory(candidate, ec))
            return candidate;
    }
    return {};
}

class ProfileFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTemporaryFolder();
        ASSERT_FALSE(dir_.empty()) << "no temporary folder could be made";
        path_ = dir_ / "client.noc";
        wpath_ = WideOf(path_);
    }
    void TearDown() override {
        std::error_code ec;
#ifndef _WIN32
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
#endif
        // A read-only file cannot be deleted on Windows.
        if (fs::exists(path_, ec))
            fs::permissions(path_, fs::perms::owner_write, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }

    void Put(const std::string& bytes) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    std::string Bytes() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::size_t FilesInFolder() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }

    nv::WideString Get(const WCHAR* section, const WCHAR* key, const WCHAR* def = OLESTR("<default>"),
                       DWORD size = 256) {
        std::vector<WCHAR> buf(size + 1, WCHAR('#'));
        DWORD n = GetPrivateProfileStringW(section, key, def, buf.data(), size, wpath_.c_str());
        return nv::WideString(buf.data(), n);
    }
    // The whole buffer of a list call (unwritten characters stay '#').
    nv::WideString List(const WCHAR* section, DWORD size, DWORD* count = nullptr) {
        std::vector<WCHAR> buf(size, WCHAR('#'));
        DWORD n = GetPrivateProfileStringW(section, nullptr, OLESTR(""), buf.data(), size, wpath_.c_str());
        if (count != nullptr)
            *count = n;
        return nv::WideString(buf.data(), size);
    }
    BOOL Write(const WCHAR* section, const WCHAR* key, const WCHAR* value) {
        return WritePrivateProfileStringW(section, key, value, wpath_.c_str());
    }

    fs::path dir_;
    fs::path path_;
    nv::WideString wpath_;
};

// A UTF-16LE file with its byte-order mark.
std::string Utf16(const nv::WideString& text) {
    std::string out("\xFF\xFE", 2);
    for (WCHAR c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    return out;
}

// Mixed line endings, blanks, quotes, duplicates, a line without "=", comments, and a last
// line without a line ending.
const std::string kOddFile =
    "; written by hand\r\n"
    "Orphan=before any section\n"
    "[General]\n"
    "  Name  =  Value with blanks  \r\n"
    "Quoted=\"  padded  \"\n"
    "Single='x'\r\n"
    "Half=\"open\n"
    "Dup=first\r\n"
    "dup=second\n"
    "NoEquals\n"
    ";Commented=1\n"
    "Empty=\n"
    "\n"
    "[Other]\r\n"
    "Last=tail";

TEST_F(ProfileFile, ReadsValuesOfAnOddFileAsWindowsDoes) {
    Put(kOddFile);
    EXPECT_EQ(Get(OLESTR("General"), OLESTR("Name")), OLESTR("Value with blanks"));
    EXPECT_EQ(Get(OLESTR("general"), OLESTR("NAME")), OLESTR("Value with blanks"));
    EXPECT_EQ(Get(OLESTR("  General "), OLESTR(" Name ")), OLESTR("Value with blanks"));
    EXPECT_EQ(Get(OLESTR("General"), OLESTR("Quoted")), OLESTR("  padded  "));
    EXPECT_EQ(Get(OLESTR("General"), OLESTR("Single")), OLESTR("x"));
    EXPECT_EQ(Get(OLESTR("General"), OLESTR("Half")), OLESTR("\"open"));
    EXPECT_EQ(Get(OLESTR("General"), OLESTR("Dup")), OLESTR("first"));
    EXPECT_EQ(Get(OLESTR("General"), OLESTR("NoEquals")), OLESTR("<default>"));
#ifndef _WIN32
    // The stand-in never takes a comment for a key; whether Windows finds ";Commented" when asked
    // for it by that very name is not documented.
    EXPECT_EQ(Get(u"General", u";Commented"), u"<default>");
#endif
    EXPECT_EQ(Get(OLESTR("Other"), OLESTR("Last")), OLESTR("tail"));
    EXPECT_EQ(Get(OLESTR("General"), OLESTR("Orphan")), OLESTR("<default>"));

    SetLastError(0);
    EXPECT_EQ(Get(OLESTR("General"), OLESTR("Empty")), OLESTR(""));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(Get(OLESTR("General"), OLESTR("Missing")), OLESTR("<default>"));
    if (nv::test::RunningUnderWine())
        nv::test::NoteWineDifference("Wine leaves the last error alone when a key is missing");
    else
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // Trailing blanks of the default are dropped; a null default reads as empty.
    EXPECT_EQ(Get(OLESTR("General"), OLESTR("Missing"), OLESTR("abc  ")), OLESTR("abc"));
    EXPECT_EQ(Get(OLESTR("General"), OLESTR("Missing"), nullptr), OLESTR(""));
}

TEST_F(ProfileFile, MissingFileOrFolderGivesTheDefaultAndTheReason) {
    EXPECT_EQ(Get(OLESTR("General"), OLESTR("Name")), OLESTR("<default>"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    nv::WideString nowhere = WideOf(dir_ / "no-such-folder" / "x.ini");
    WCHAR buf[16];
    EXPECT_EQ(GetPrivateProfileStringW(OLESTR("S"), OLESTR("K"), OLESTR("d"), buf, 16, nowhere.c_str()), 1u);
    EXPECT_EQ(nv::WideString(buf), OLESTR("d"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(WritePrivateProfileStringW(OLESTR("S"), OLESTR("K"), OLESTR("v"), nowhere.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(ProfileFile, SingleValueIsTruncatedToTheBuffer) {
    Put(kOddFile);
    WCHAR buf[8];
    DWORD n = GetPrivateProfileStringW(OLESTR("General"), OLESTR("Name"), OLESTR(""), buf, 4, wpath_.c_str());
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(nv::WideString(buf), OLESTR("Val"));
    n = GetPrivateProfileStringW(OLESTR("Other"), OLESTR("Last"), OLESTR(""), buf, 5, wpath_.c_str());
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(nv::WideString(buf), OLESTR("tail"));
}

TEST_F(ProfileFile, ListsKeysAndSectionsWithDoubleNul) {
    Put(kOddFile);
    DWORD n = 0;
    EXPECT_EQ(List(nullptr, 100, &n).substr(0, 15), W(OLESTR("General\0Other\0\0")));
    EXPECT_EQ(n, 14u);
#ifndef _WIN32
    // A key written twice is listed once, as the name that reads and writes it. What Windows
    // lists for a duplicated key is not documented.
    EXPECT_EQ(List(u"General", 100, &n).substr(0, 35), W(u"Name\0Quoted\0Single\0Half\0Dup\0Empty\0\0"));
    EXPECT_EQ(n, 34u);
#endif

    // No comments and no lines without "=" among the keys.
    Put("[s]\r\nname1=val1\r\nname2=\r\nname3\r\n;name5=5\r\nname4=val4\r\n");
    EXPECT_EQ(List(OLESTR("s"), 100, &n).substr(0, 19), W(OLESTR("name1\0name2\0name4\0\0")));
    EXPECT_EQ(n, 18u);

    // A missing section reads as the default, not as a list.
    WCHAR buf[16];
    EXPECT_EQ(GetPrivateProfileStringW(OLESTR("Absent"), nullptr, OLESTR("none"), buf, 16, wpath_.c_str()),
              4u);
    EXPECT_EQ(nv::WideString(buf), OLESTR("none"));
}

TEST_F(ProfileFile, TruncatedListsEndInTwoNulsAndReturnSizeMinusTwo) {
    Put("[section1]\r\n[section2]\r\n[section3]\r\n");
    // 27 characters of names and their NULs: 29 fits; 28 (exactly the list) counts as short.
    DWORD n = 0;
    List(nullptr, 29, &n);
    EXPECT_EQ(n, 27u);
    EXPECT_EQ(List(nullptr, 28, &n), W(OLESTR("section1\0section2\0section3\0\0")));
    EXPECT_EQ(n, 26u);
    EXPECT_EQ(List(nullptr, 12, &n), W(OLESTR("section1\0s\0\0")));
    EXPECT_EQ(n, 10u);

    WCHAR names[40];
    EXPECT_EQ(GetPrivateProfileSectionNamesW(names, 27, wpath_.c_str()), 25u);
    EXPECT_EQ(names[25], 0);
    EXPECT_EQ(names[26], 0);

    Put("[s]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n");
    EXPECT_EQ(List(OLESTR("s"), 12, &n), W(OLESTR("name1\0name\0\0")));
    EXPECT_EQ(n, 10u);
}

TEST_F(ProfileFile, SectionListingKeepsLinesWithoutEquals) {
    Put(kOddFile);
    WCHAR buf[200];
    DWORD n = GetPrivateProfileSectionW(OLESTR("General"), buf, 200, wpath_.c_str());
    const nv::WideString expected = W(OLESTR(
        "Name=Value with blanks\0Quoted=\"  padded  \"\0Single='x'\0Half=\"open\0Dup=first\0dup=second\0"
        "NoEquals\0Empty=\0"));
    ASSERT_EQ(n, expected.size());
    EXPECT_EQ(nv::WideString(buf, n), expected);
    EXPECT_EQ(buf[n], 0);

    SetLastError(0);
    EXPECT_EQ(GetPrivateProfileSectionW(nullptr, buf, 200, wpath_.c_str()), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(ProfileFile, IntegersTakeLeadingDigitsAndWrapLikeWindows) {
    Put("[N]\n"
        "plain=42\nsigned=-7\nplus=+1\ntrailing=42A94967297\nletters=B12\nwrap=4294967297\n"
        "negwrap=-4294967297\nhex=0x1F\nquoted=\"5\"\nempty=\nblank=  17\n");
    auto Int = [&](const WCHAR* key, INT def = 99) {
        return GetPrivateProfileIntW(OLESTR("N"), key, def, wpath_.c_str());
    };
    EXPECT_EQ(Int(OLESTR("plain")), 42u);
    EXPECT_EQ(Int(OLESTR("signed")), static_cast<UINT>(-7));
    EXPECT_EQ(Int(OLESTR("plus")), 1u);
    EXPECT_EQ(Int(OLESTR("trailing")), 42u);
    EXPECT_EQ(Int(OLESTR("letters")), 0u);
    EXPECT_EQ(Int(OLESTR("wrap")), 1u);
    EXPECT_EQ(Int(OLESTR("negwrap")), 0xFFFFFFFFu);
    EXPECT_EQ(Int(OLESTR("hex")), 31u);
    EXPECT_EQ(Int(OLESTR("quoted")), 5u);
    EXPECT_EQ(Int(OLESTR("blank")), 17u);
    EXPECT_EQ(Int(OLESTR("empty")), 99u);
    EXPECT_EQ(Int(OLESTR("missing"), -1), 0xFFFFFFFFu);
}

TEST_F(ProfileFile, UpdatingAKeyChangesOnlyItsValue) {
    Put(kOddFile);
    ASSERT_TRUE(Write(OLESTR("general"), OLESTR("SINGLE"), OLESTR("changed value")));
    ASSERT_TRUE(Write(OLESTR("General"), OLESTR("Name"), OLESTR("v2")));
    ASSERT_TRUE(Write(OLESTR("Other"), OLESTR("Last"), OLESTR("end")));
    // The first of duplicate keys is the one written; leading blanks of a value are dropped.
    ASSERT_TRUE(Write(OLESTR("General"), OLESTR("DUP"), OLESTR("   new")));

    EXPECT_EQ(Get(OLESTR("General"), OLESTR("Single")), OLESTR("changed value"));
    EXPECT_EQ(Get(OLESTR("General"), OLESTR("Name")), OLESTR("v2"));
    EXPECT_EQ(Get(OLESTR("Other"), OLESTR("Last")), OLESTR("end"));
    EXPECT_EQ(Get(OLESTR("General"), OLESTR("dup")), OLESTR("new"));
    EXPECT_EQ(Get(OLESTR("General"), OLESTR("Quoted")), OLESTR("  padded  "));
    EXPECT_EQ(Get(OLESTR("General"), OLESTR("Empty")), OLESTR(""));
    const std::string bytes = Bytes();
    EXPECT_NE(bytes.find("; written by hand"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("dup=second"), std::string::npos) << bytes;
}

#ifndef _WIN32
// Every byte but the changed value stays as it was. This is the stand-in's own way of
// rewriting; how Windows lays out the rest of a rewritten file is not documented.
TEST_F(ProfileFile, UpdatingAKeyChangesOnlyItsOwnLine) {
    Put(kOddFile);
    ASSERT_TRUE(Write(u"general", u"SINGLE", u"changed value"));
    std::string expected = kOddFile;
    expected.replace(expected.find("Single='x'"), 10, "Single=changed value");
    EXPECT_EQ(Bytes(), expected);

    // Blanks around "=" stay as the file had them; only the value is replaced.
    ASSERT_TRUE(Write(u"General", u"Name", u"v2"));
    expected.replace(expected.find("  Name  =  Value with blanks  "), 30, "  Name  =  v2");
    EXPECT_EQ(Bytes(), expected);

    // The last line keeps having no line ending.
    ASSERT_TRUE(Write(u"Other", u"Last", u"end"));
    expected.replace(expected.find("Last=tail"), 9, "Last=end");
    EXPECT_EQ(Bytes(), expected);

    ASSERT_TRUE(Write(u"General", u"DUP", u"   new"));
    EXPECT_NE(Bytes().find("Dup=new\r\ndup=second\n"), std::string::npos);
}

// New lines take the file's own line ending and go after the last key of their section,
// so that comments leading into the next section stay with it.
TEST_F(ProfileFile, NewKeysGoAfterTheLastKeyOfTheirSection) {
    Put("[A]\r\nx=1\r\n; about B\r\n\r\n[B]\r\ny=2");
    ASSERT_TRUE(Write(u"A", u"z", u"3"));
    EXPECT_EQ(Bytes(), "[A]\r\nx=1\r\nz=3\r\n; about B\r\n\r\n[B]\r\ny=2");
    // The last line gets the file's line ending before a key is added after it.
    ASSERT_TRUE(Write(u"B", u"w", u"4"));
    EXPECT_EQ(Bytes(), "[A]\r\nx=1\r\nz=3\r\n; about B\r\n\r\n[B]\r\ny=2\r\nw=4\r\n");

    Put("[Empty]\n[Next]\nk=v\n");
    ASSERT_TRUE(Write(u"Empty", u"first", u"1"));
    EXPECT_EQ(Bytes(), "[Empty]\nfirst=1\n[Next]\nk=v\n");

    Put("[Server]\nProgID=x");
    ASSERT_TRUE(Write(u"Group1", u"Name", u"g"));
    EXPECT_EQ(Bytes(), "[Server]\nProgID=x\n[Group1]\nName=g\n");
}
#endif

TEST_F(ProfileFile, NewKeysAndSectionsAreAddedWhereTheyBelong) {
    Put("[A]\r\nx=1\r\n[B]\r\ny=2\r\n");
    ASSERT_TRUE(Write(OLESTR("A"), OLESTR("z"), OLESTR("3")));
    ASSERT_TRUE(Write(OLESTR("C"), OLESTR("w"), OLESTR("4")));
    EXPECT_EQ(Bytes(), "[A]\r\nx=1\r\nz=3\r\n[B]\r\ny=2\r\n[C]\r\nw=4\r\n");
    EXPECT_EQ(List(OLESTR("A"), 10).substr(0, 5), W(OLESTR("x\0z\0\0")));
}

TEST_F(ProfileFile, NewFileIsCreatedWithTheSectionAndTheKey) {
    ASSERT_TRUE(Write(OLESTR("Server"), OLESTR("ProgID"), OLESTR("Sim.Server.1")));
    EXPECT_EQ(Bytes(), "[Server]\r\nProgID=Sim.Server.1\r\n");
    ASSERT_TRUE(Write(OLESTR("Group1"), OLESTR("Name"), OLESTR("")));
    EXPECT_EQ(Bytes(), "[Server]\r\nProgID=Sim.Server.1\r\n[Group1]\r\nName=\r\n");
    // No temporary file is left beside it.
    EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(ProfileFile, DeletesKeysAndSections) {
    Put("[A]\r\nk=1\r\nother=3\r\n[B]\r\nb=1\r\n[C]\r\nc=1\r\n");
    ASSERT_TRUE(Write(OLESTR("a"), OLESTR("K"), nullptr));
    EXPECT_EQ(Bytes(), "[A]\r\nother=3\r\n[B]\r\nb=1\r\n[C]\r\nc=1\r\n");
    EXPECT_EQ(Get(OLESTR("A"), OLESTR("k")), OLESTR("<default>"));

    // A section goes with its keys; the value passed along is of no account.
    ASSERT_TRUE(Write(OLESTR("b"), nullptr, OLESTR("ignored")));
    EXPECT_EQ(Bytes(), "[A]\r\nother=3\r\n[C]\r\nc=1\r\n");
    EXPECT_EQ(Get(OLESTR("B"), OLESTR("b")), OLESTR("<default>"));

    // Deleting the last key leaves the section header.
    ASSERT_TRUE(Write(OLESTR("C"), OLESTR("c"), nullptr));
    EXPECT_EQ(Bytes(), "[A]\r\nother=3\r\n[C]\r\n");

    // Deleting what is not there succeeds and leaves the file alone.
    ASSERT_TRUE(Write(OLESTR("A"), OLESTR("nothing"), nullptr));
    ASSERT_TRUE(Write(OLESTR("Nothing"), nullptr, nullptr));
    EXPECT_EQ(Bytes(), "[A]\r\nother=3\r\n[C]\r\n");
}

TEST_F(ProfileFile, DeletingFromAMissingFileSucceeds) {
    ASSERT_TRUE(Write(OLESTR("B"), OLESTR("b"), nullptr));
    ASSERT_TRUE(Write(OLESTR("B"), nullptr, nullptr));
    // Windows leaves an empty file behind.
    if (nv::test::RunningUnderWine()) {
        nv::test::NoteWineDifference("Wine creates no file for a delete in a missing file");
    } else {
        EXPECT_TRUE(fs::exists(path_));
        EXPECT_EQ(Bytes(), "");
    }
    EXPECT_EQ(Get(OLESTR("B"), OLESTR("b")), OLESTR("<default>"));
}

#ifndef _WIN32
// Deleting removes every copy of a duplicated section or key, so that a later copy cannot show
// through after the delete. What Windows does with duplicates is not documented.
TEST_F(ProfileFile, DeletesKeysAndSectionsWithAllTheirCopies) {
    Put("[A]\r\nk=1\r\nK=2\r\nother=3\r\n[B]\r\nb=1\r\n[a]\r\nk=late\r\n");
    EXPECT_EQ(List(u"A", 12), W(u"k\0other\0\0###"));
    ASSERT_TRUE(Write(u"A", u"k", nullptr));
    EXPECT_EQ(Bytes(), "[A]\r\nother=3\r\n[B]\r\nb=1\r\n[a]\r\nk=late\r\n");
    EXPECT_EQ(Get(u"A", u"k"), u"<default>");

    ASSERT_TRUE(Write(u"a", nullptr, nullptr));
    EXPECT_EQ(Bytes(), "[B]\r\nb=1\r\n");
    EXPECT_EQ(Get(u"A", u"other"), u"<default>");
    EXPECT_EQ(Get(u"A", u"k"), u"<default>");
}

// Windows writes such names and values as they are, and the file then reads back as other keys
// or sections; the stand-in refuses them instead.
TEST_F(ProfileFile, RefusesNamesAndValuesThatWouldBreakTheFile) {
    Put("[S]\nk=v\n");
    const char16_t* bad[][3] = {
        {u"S", u"k", u"two\r\nlines"}, {u"S", u"a=b", u"v"}, {u"S", u";k", u"v"}, {u"S", u"", u"v"},
        {u"S]x", u"k", u"v"},          {u"", u"k", u"v"},
    };
    for (auto& b : bad) {
        SetLastError(0);
        EXPECT_FALSE(Write(b[0], b[1], b[2])) << nv::ToUtf8(b[1]);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(Bytes(), "[S]\nk=v\n");
}
#endif

TEST_F(ProfileFile, WritesWithoutASectionFail) {
    Put("[S]\r\nk=v\r\n");
    SetLastError(0);
    EXPECT_FALSE(Write(nullptr, OLESTR("k"), OLESTR("v")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Bytes(), "[S]\r\nk=v\r\n");

    // All three null asks for the cache to be written out, which reports zero whatever it did.
    EXPECT_FALSE(Write(nullptr, nullptr, nullptr));
    EXPECT_EQ(Bytes(), "[S]\r\nk=v\r\n");
}

TEST_F(ProfileFile, ReadOnlyFileIsNotWritten) {
    Put(kOddFile);
    // Read-only on both systems (on Windows the file's read-only attribute); the stand-in
    // honours it even though replacing the file by a rename could get past it.
    fs::permissions(path_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
#ifdef _WIN32
    ASSERT_NE(GetFileAttributesW(wpath_.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    if (nv::test::RunningUnderWine()) {
        // The attribute is a Unix permission there, which a test run as root passes.
        nv::test::NoteWineDifference("Wine lets root write a read-only profile file");
        return;
    }
#endif
    SetLastError(0);
    EXPECT_FALSE(Write(OLESTR("General"), OLESTR("Name"), OLESTR("lost")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Bytes(), kOddFile);
    EXPECT_FALSE(Write(OLESTR("New"), OLESTR("k"), OLESTR("v")));
    EXPECT_EQ(Bytes(), kOddFile);
    EXPECT_EQ(FilesInFolder(), 1u);
}

#ifndef _WIN32
// A folder where no file can be made, even by a rename; Windows' folder attributes do not
// stop file creation, so there is no such folder to test with there.
TEST_F(ProfileFile, FailedWriteInAReadOnlyFolderLeavesTheOldFileWhole) {
    Put(kOddFile);
    ::chmod(dir_.c_str(), 0555);
    auto attempt = [&]() -> int {
        if (WritePrivateProfileStringW(u"General", u"Name", u"lost", wpath_.c_str()))
            return 1;
        return GetLastError() == ERROR_ACCESS_DENIED ? 0 : 2;
    };
    int result;
    // Root passes permission checks, so drop to an unprivileged user in a child process.
    if (::geteuid() == 0) {
        ::chmod(path_.c_str(), 0666);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
            ::_exit(attempt());
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        result = WEXITSTATUS(status);
    } else {
        result = attempt();
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Bytes(), kOddFile);
    EXPECT_EQ(FilesInFolder(), 1u);
    EXPECT_EQ(Get(u"General", u"Name"), u"Value with blanks");
}
#endif

TEST_F(ProfileFile, Utf16FileIsReadAndWrittenBackAsUtf16) {
    // "Größe" and "Ärger" spelled out so that the source file's encoding does not matter.
    const nv::WideString section = OLESTR(
        "Gr\x00F6\x00DF"
        "e");
    Put(Utf16(OLESTR("[") + section + OLESTR("]\r\nWert=\x00C4rger\r\nkeep=1\r\n")));
    EXPECT_EQ(Get(section.c_str(), OLESTR("WERT")), OLESTR("\x00C4rger"));
    ASSERT_TRUE(Write(section.c_str(), OLESTR("Wert"), OLESTR("\x00DC")));
    EXPECT_EQ(Bytes(), Utf16(OLESTR("[") + section + OLESTR("]\r\nWert=\x00DC\r\nkeep=1\r\n")));
}

#ifndef _WIN32
// Letters outside ASCII match without regard to case for the stand-in, but "ß" is not "ss".
// Windows documents no case rule for these names (Wine folds only ASCII letters).
TEST_F(ProfileFile, NamesOutsideAsciiMatchWithoutRegardToCase) {
    Put(Utf16(u"[Größe]\r\nWert=Ärger\r\n"));
    EXPECT_EQ(Get(u"GRÖßE", u"WERT"), u"Ärger");
    EXPECT_EQ(Get(u"Grosse", u"Wert"), u"<default>");
}

// Files without a UTF-16 mark are UTF-8 to the stand-in; Windows reads them in the ANSI code page.
TEST_F(ProfileFile, Utf8FileKeepsItsMark) {
    Put("\xEF\xBB\xBF[S]\nk=\xC3\xA9\n");
    EXPECT_EQ(Get(u"S", u"k"), u"é");
    ASSERT_TRUE(Write(u"S", u"n", u"1"));
    EXPECT_EQ(Bytes(), "\xEF\xBB\xBF[S]\nk=\xC3\xA9\nn=1\n");
}
#endif

TEST_F(ProfileFile, SeesChangesMadeByOthersBetweenCalls) {
    Put("[S]\r\nk=1\r\n");
    EXPECT_EQ(Get(OLESTR("S"), OLESTR("k")), OLESTR("1"));
    // Same size, same file: only the content tells the two apart.
    Put("[S]\r\nk=2\r\n");
    EXPECT_EQ(Get(OLESTR("S"), OLESTR("k")), OLESTR("2"));
    ASSERT_TRUE(Write(OLESTR("S"), OLESTR("n"), OLESTR("x")));
    // A write after someone else's change builds on their file, not on a remembered one.
    Put("[S]\r\nk=3\r\n");
    ASSERT_TRUE(Write(OLESTR("S"), OLESTR("m"), OLESTR("y")));
    EXPECT_EQ(Bytes(), "[S]\r\nk=3\r\nm=y\r\n");
    fs::remove(path_);
    EXPECT_EQ(Get(OLESTR("S"), OLESTR("k")), OLESTR("<default>"));
}

nv::WideString KeyName(int thread, int key) {
    std::string name = "k";
    name += std::to_string(thread);
    name += '_';
    name += std::to_string(key);
    return nv::ToWide(name);
}

TEST_F(ProfileFile, ConcurrentWritersLoseNoKeys) {
    constexpr int kThreads = 4;
    constexpr int kKeys = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int k = 0; k < kKeys; ++k) {
                nv::WideString key = KeyName(t, k);
                nv::WideString value = nv::ToWide(std::to_string(t * 1000 + k));
                WritePrivateProfileStringW(OLESTR("Shared"), key.c_str(), value.c_str(), wpath_.c_str());
            }
        });
    }
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t)
        for (int k = 0; k < kKeys; ++k) {
            nv::WideString key = KeyName(t, k);
            EXPECT_EQ(GetPrivateProfileIntW(OLESTR("Shared"), key.c_str(), -1, wpath_.c_str()),
                      static_cast<UINT>(t * 1000 + k));
        }
}

}  // namespace
