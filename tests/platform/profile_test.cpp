// Profile (INI) files: reading odd files, the enumeration lists and their truncation, integer
// values, in-place rewriting that leaves every other byte alone, deletion, atomic replacement,
// refused input, UTF-16 files and concurrent writers.
// These check the stand-in's own profile-file code (line-exact rewriting, atomic replacement,
// file permissions); Windows has its own implementation, so the file builds only for Linux.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/NvWide.h"
#include "platform/win32.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class ProfileFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "nvprofile-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = dir_ / "client.noc";
        wpath_ = nv::ToWide(path_.string());
    }
    void TearDown() override {
        ::chmod(dir_.c_str(), 0755);
        std::error_code ec;
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

    std::u16string Get(const char16_t* section, const char16_t* key, const char16_t* def = u"<default>",
                       DWORD size = 256) {
        std::vector<WCHAR> buf(size + 1, u'#');
        DWORD n = GetPrivateProfileStringW(section, key, def, buf.data(), size, wpath_.c_str());
        return std::u16string(buf.data(), n);
    }
    // The whole buffer of a list call (unwritten characters stay '#').
    std::u16string List(const char16_t* section, DWORD size, DWORD* count = nullptr) {
        std::vector<WCHAR> buf(size, u'#');
        DWORD n = GetPrivateProfileStringW(section, nullptr, u"", buf.data(), size, wpath_.c_str());
        if (count != nullptr)
            *count = n;
        return std::u16string(buf.data(), size);
    }
    BOOL Write(const char16_t* section, const char16_t* key, const char16_t* value) {
        return WritePrivateProfileStringW(section, key, value, wpath_.c_str());
    }

    fs::path dir_;
    fs::path path_;
    nv::WideString wpath_;
};

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
    EXPECT_EQ(Get(u"General", u"Name"), u"Value with blanks");
    EXPECT_EQ(Get(u"general", u"NAME"), u"Value with blanks");
    EXPECT_EQ(Get(u"  General ", u" Name "), u"Value with blanks");
    EXPECT_EQ(Get(u"General", u"Quoted"), u"  padded  ");
    EXPECT_EQ(Get(u"General", u"Single"), u"x");
    EXPECT_EQ(Get(u"General", u"Half"), u"\"open");
    EXPECT_EQ(Get(u"General", u"Dup"), u"first");
    EXPECT_EQ(Get(u"General", u"NoEquals"), u"<default>");
    EXPECT_EQ(Get(u"General", u";Commented"), u"<default>");
    EXPECT_EQ(Get(u"Other", u"Last"), u"tail");
    EXPECT_EQ(Get(u"General", u"Orphan"), u"<default>");

    SetLastError(0);
    EXPECT_EQ(Get(u"General", u"Empty"), u"");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(Get(u"General", u"Missing"), u"<default>");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // Trailing blanks of the default are dropped; a null default reads as empty.
    EXPECT_EQ(Get(u"General", u"Missing", u"abc  "), u"abc");
    EXPECT_EQ(Get(u"General", u"Missing", nullptr), u"");
}

TEST_F(ProfileFile, MissingFileOrFolderGivesTheDefaultAndTheReason) {
    EXPECT_EQ(Get(u"General", u"Name"), u"<default>");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    nv::WideString nowhere = nv::ToWide((dir_ / "no-such-folder" / "x.ini").string());
    WCHAR buf[16];
    EXPECT_EQ(GetPrivateProfileStringW(u"S", u"K", u"d", buf, 16, nowhere.c_str()), 1u);
    EXPECT_EQ(std::u16string(buf), u"d");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(WritePrivateProfileStringW(u"S", u"K", u"v", nowhere.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(ProfileFile, SingleValueIsTruncatedToTheBuffer) {
    Put(kOddFile);
    WCHAR buf[8];
    DWORD n = GetPrivateProfileStringW(u"General", u"Name", u"", buf, 4, wpath_.c_str());
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(std::u16string(buf), u"Val");
    n = GetPrivateProfileStringW(u"Other", u"Last", u"", buf, 5, wpath_.c_str());
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(std::u16string(buf), u"tail");
}

TEST_F(ProfileFile, ListsKeysAndSectionsWithDoubleNul) {
    Put(kOddFile);
    DWORD n = 0;
    // Duplicates once, no comments, no lines without "=".
    EXPECT_EQ(List(u"General", 100, &n).substr(0, 35), u"Name\0Quoted\0Single\0Half\0Dup\0Empty\0\0"s);
    EXPECT_EQ(n, 34u);
    EXPECT_EQ(List(nullptr, 100, &n).substr(0, 15), u"General\0Other\0\0"s);
    EXPECT_EQ(n, 14u);

    // A missing section reads as the default, not as a list.
    WCHAR buf[16];
    EXPECT_EQ(GetPrivateProfileStringW(u"Absent", nullptr, u"none", buf, 16, wpath_.c_str()), 4u);
    EXPECT_EQ(std::u16string(buf), u"none");
}

TEST_F(ProfileFile, TruncatedListsEndInTwoNulsAndReturnSizeMinusTwo) {
    Put("[section1]\r\n[section2]\r\n[section3]\r\n");
    // 27 characters of names and their NULs: 29 fits; 28 (exactly the list) counts as short.
    DWORD n = 0;
    List(nullptr, 29, &n);
    EXPECT_EQ(n, 27u);
    EXPECT_EQ(List(nullptr, 28, &n), u"section1\0section2\0section3\0\0"s);
    EXPECT_EQ(n, 26u);
    EXPECT_EQ(List(nullptr, 12, &n), u"section1\0s\0\0"s);
    EXPECT_EQ(n, 10u);

    WCHAR names[40];
    EXPECT_EQ(GetPrivateProfileSectionNamesW(names, 27, wpath_.c_str()), 25u);
    EXPECT_EQ(names[25], 0);
    EXPECT_EQ(names[26], 0);

    Put("[s]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n");
    EXPECT_EQ(List(u"s", 12, &n), u"name1\0name\0\0"s);
    EXPECT_EQ(n, 10u);
}

TEST_F(ProfileFile, SectionListingKeepsLinesWithoutEquals) {
    Put(kOddFile);
    WCHAR buf[200];
    DWORD n = GetPrivateProfileSectionW(u"General", buf, 200, wpath_.c_str());
    const std::u16string expected =
        u"Name=Value with blanks\0Quoted=\"  padded  \"\0Single='x'\0Half=\"open\0Dup=first\0dup=second\0"
        u"NoEquals\0Empty=\0"s;
    ASSERT_EQ(n, expected.size());
    EXPECT_EQ(std::u16string(buf, n), expected);
    EXPECT_EQ(buf[n], 0);

    EXPECT_EQ(GetPrivateProfileSectionW(nullptr, buf, 200, wpath_.c_str()), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(ProfileFile, IntegersTakeLeadingDigitsAndWrapLikeWindows) {
    Put("[N]\n"
        "plain=42\nsigned=-7\nplus=+1\ntrailing=42A94967297\nletters=B12\nwrap=4294967297\n"
        "negwrap=-4294967297\nhex=0x1F\nquoted=\"5\"\nempty=\nblank=  17\n");
    auto Int = [&](const char16_t* key, INT def = 99) {
        return GetPrivateProfileIntW(u"N", key, def, wpath_.c_str());
    };
    EXPECT_EQ(Int(u"plain"), 42u);
    EXPECT_EQ(Int(u"signed"), static_cast<UINT>(-7));
    EXPECT_EQ(Int(u"plus"), 1u);
    EXPECT_EQ(Int(u"trailing"), 42u);
    EXPECT_EQ(Int(u"letters"), 0u);
    EXPECT_EQ(Int(u"wrap"), 1u);
    EXPECT_EQ(Int(u"negwrap"), 0xFFFFFFFFu);
    EXPECT_EQ(Int(u"hex"), 31u);
    EXPECT_EQ(Int(u"quoted"), 5u);
    EXPECT_EQ(Int(u"blank"), 17u);
    EXPECT_EQ(Int(u"empty"), 99u);
    EXPECT_EQ(Int(u"missing", -1), 0xFFFFFFFFu);
}

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
    EXPECT_EQ(Get(u"Other", u"Last"), u"end");

    // The first of duplicate keys is the one written; leading blanks of a value are dropped.
    ASSERT_TRUE(Write(u"General", u"DUP", u"   new"));
    EXPECT_EQ(Get(u"General", u"dup"), u"new");
    EXPECT_NE(Bytes().find("Dup=new\r\ndup=second\n"), std::string::npos);
}

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
}

TEST_F(ProfileFile, NewSectionsAndFilesAreCreated) {
    ASSERT_TRUE(Write(u"Server", u"ProgID", u"Sim.Server.1"));
    EXPECT_EQ(Bytes(), "[Server]\r\nProgID=Sim.Server.1\r\n");
    EXPECT_EQ(::access(path_.c_str(), F_OK), 0);

    Put("[Server]\nProgID=x");
    ASSERT_TRUE(Write(u"Group1", u"Name", u"g"));
    EXPECT_EQ(Bytes(), "[Server]\nProgID=x\n[Group1]\nName=g\n");
    EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(ProfileFile, DeletesKeysAndSectionsWithAllTheirCopies) {
    Put("[A]\r\nk=1\r\nK=2\r\nother=3\r\n[B]\r\nb=1\r\n[a]\r\nk=late\r\n");
    EXPECT_EQ(List(nullptr, 10), u"A\0B\0\0#####"s.substr(0, 10));
    EXPECT_EQ(List(u"A", 12), u"k\0other\0\0###"s.substr(0, 12));
    ASSERT_TRUE(Write(u"A", u"k", nullptr));
    EXPECT_EQ(Bytes(), "[A]\r\nother=3\r\n[B]\r\nb=1\r\n[a]\r\nk=late\r\n");
    EXPECT_EQ(Get(u"A", u"k"), u"<default>");

    ASSERT_TRUE(Write(u"a", nullptr, nullptr));
    EXPECT_EQ(Bytes(), "[B]\r\nb=1\r\n");
    EXPECT_EQ(Get(u"A", u"other"), u"<default>");
    EXPECT_EQ(Get(u"A", u"k"), u"<default>");

    // Deleting what is not there succeeds and leaves the file alone.
    ASSERT_TRUE(Write(u"B", u"nothing", nullptr));
    ASSERT_TRUE(Write(u"Nothing", nullptr, nullptr));
    EXPECT_EQ(Bytes(), "[B]\r\nb=1\r\n");

    fs::remove(path_);
    ASSERT_TRUE(Write(u"B", u"b", nullptr));
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(ProfileFile, RefusesNamesAndValuesThatWouldBreakTheFile) {
    Put("[S]\nk=v\n");
    const char16_t* bad[][3] = {
        {u"S", u"k", u"two\r\nlines"}, {u"S", u"a=b", u"v"}, {u"S", u";k", u"v"},   {u"S", u"", u"v"},
        {u"S]x", u"k", u"v"},          {u"", u"k", u"v"},    {nullptr, u"k", u"v"},
    };
    for (auto& b : bad) {
        SetLastError(0);
        EXPECT_FALSE(Write(b[0], b[1], b[2])) << nv::ToUtf8(b[1] ? b[1] : u"(null)");
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(Bytes(), "[S]\nk=v\n");
    // All three null is a flush, which has nothing to do.
    EXPECT_TRUE(Write(nullptr, nullptr, nullptr));
}

TEST_F(ProfileFile, FailedWriteLeavesTheOldFileWhole) {
    Put(kOddFile);
    // A read-only file is honoured even though a rename could replace it.
    ::chmod(path_.c_str(), 0444);
    EXPECT_FALSE(Write(u"General", u"Name", u"lost"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Bytes(), kOddFile);
    ::chmod(path_.c_str(), 0644);

    // A folder where no temporary file can be made: the write fails, the file is untouched and
    // nothing is left behind. Root passes permission checks, so drop to an unprivileged user in
    // a child process for that case.
    ::chmod(dir_.c_str(), 0555);
    auto attempt = [&]() -> int {
        if (WritePrivateProfileStringW(u"General", u"Name", u"lost", wpath_.c_str()))
            return 1;
        return GetLastError() == ERROR_ACCESS_DENIED ? 0 : 2;
    };
    int result;
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

TEST_F(ProfileFile, Utf16FileIsReadAndWrittenBackAsUtf16) {
    auto utf16 = [](const std::u16string& s) {
        std::string out("\xFF\xFE", 2);
        for (char16_t c : s) {
            out.push_back(static_cast<char>(c & 0xFF));
            out.push_back(static_cast<char>(c >> 8));
        }
        return out;
    };
    Put(utf16(u"[Größe]\r\nWert=Ärger\r\nkeep=1\r\n"));
    EXPECT_EQ(Get(u"GRÖßE", u"WERT"), u"Ärger");
    EXPECT_EQ(Get(u"Grosse", u"Wert"), u"<default>");
    ASSERT_TRUE(Write(u"Größe", u"Wert", u"Ü"));
    EXPECT_EQ(Bytes(), utf16(u"[Größe]\r\nWert=Ü\r\nkeep=1\r\n"));

    Put("\xEF\xBB\xBF[S]\nk=\xC3\xA9\n");
    EXPECT_EQ(Get(u"S", u"k"), u"é");
    ASSERT_TRUE(Write(u"S", u"n", u"1"));
    EXPECT_EQ(Bytes(), "\xEF\xBB\xBF[S]\nk=\xC3\xA9\nn=1\n");
}

TEST_F(ProfileFile, SeesChangesMadeByOthersBetweenCalls) {
    Put("[S]\nk=1\n");
    EXPECT_EQ(Get(u"S", u"k"), u"1");
    // Same size, same file: only the content tells the two apart.
    Put("[S]\nk=2\n");
    EXPECT_EQ(Get(u"S", u"k"), u"2");
    ASSERT_TRUE(Write(u"S", u"n", u"x"));
    Put("[S]\nk=3\n");
    ASSERT_TRUE(Write(u"S", u"m", u"y"));
    EXPECT_EQ(Bytes(), "[S]\nk=3\nm=y\n");
    fs::remove(path_);
    EXPECT_EQ(Get(u"S", u"k"), u"<default>");
}

TEST_F(ProfileFile, ConcurrentWritersLoseNoKeys) {
    constexpr int kThreads = 4;
    constexpr int kKeys = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int k = 0; k < kKeys; ++k) {
                nv::WideString key = nv::ToWide("k" + std::to_string(t) + "_" + std::to_string(k));
                nv::WideString value = nv::ToWide(std::to_string(t * 1000 + k));
                WritePrivateProfileStringW(u"Shared", key.c_str(), value.c_str(), wpath_.c_str());
            }
        });
    }
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t)
        for (int k = 0; k < kKeys; ++k) {
            nv::WideString key = nv::ToWide("k" + std::to_string(t) + "_" + std::to_string(k));
            EXPECT_EQ(GetPrivateProfileIntW(u"Shared", key.c_str(), -1, wpath_.c_str()),
                      static_cast<UINT>(t * 1000 + k));
        }
}

}  // namespace

#endif  // _WIN32
