// Global memory, registered clipboard formats, file time conversions and the computer name.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <atomic>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/NvWide.h"
#include "platform/win32.h"
#include "tests/windows/NvWine.h"

namespace {

// ---- Global memory ---------------------------------------------------------------------------

TEST(GlobalMemory, MoveableBlockCountsLocks) {
    HGLOBAL h = GlobalAlloc(GHND, 100);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 100u);
    auto* p = static_cast<BYTE*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    EXPECT_NE(static_cast<void*>(p), h);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(p[i], 0) << "GHND must zero the block";
    EXPECT_EQ(GlobalLock(h), p);
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 2u);
    EXPECT_EQ(GlobalHandle(p), h);

    SetLastError(12345);
    EXPECT_TRUE(GlobalUnlock(h));
    // The last unlock says FALSE, with NO_ERROR to tell it from a failure.
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 0u);
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, FixedBlockIsItsOwnAddress) {
    HGLOBAL h = GlobalAlloc(GPTR, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalLock(h), h);
    EXPECT_EQ(static_cast<BYTE*>(h)[15], 0);
    EXPECT_TRUE(GlobalUnlock(h));
    EXPECT_EQ(GlobalHandle(h), h);
    EXPECT_EQ(GlobalFree(h), nullptr);

    // Size 0 still gives a distinct, freeable handle.
    HGLOBAL a = GlobalAlloc(GMEM_FIXED, 0);
    HGLOBAL b = GlobalAlloc(GMEM_FIXED, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_NE(a, b);
#ifndef _WIN32
    EXPECT_EQ(GlobalSize(a), 0u);  // Windows heaps may round the size up
#endif
    EXPECT_EQ(GlobalFree(a), nullptr);
    EXPECT_EQ(GlobalFree(b), nullptr);
}

TEST(GlobalMemory, StaleAndForeignHandlesAreRefused) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 8);
    ASSERT_EQ(GlobalFree(h), nullptr);
    std::vector<HGLOBAL> bads{h};
#ifndef _WIN32
    // Windows may fault on an address it never handed out; the stand-in checks every handle.
    int local = 0;
    bads.push_back(&local);
#endif
    for (HGLOBAL bad : bads) {
        SetLastError(0);
        EXPECT_EQ(GlobalLock(bad), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(GlobalUnlock(bad));
        EXPECT_EQ(GlobalSize(bad), 0u);
        EXPECT_EQ(GlobalFlags(bad), static_cast<UINT>(GMEM_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_EQ(GlobalFree(bad), bad);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(GlobalReAlloc(bad, 16, GMEM_MOVEABLE), nullptr);
    }
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

TEST(GlobalMemory, EmptyMoveableBlockCannotBeLocked) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_TRUE(GlobalFlags(h) & GMEM_DISCARDED);
    // Reallocating brings it back.
    ASSERT_EQ(GlobalReAlloc(h, 4, GMEM_ZEROINIT), h);
    auto* p = static_cast<BYTE*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[3], 0);
    GlobalUnlock(h);
    GlobalFree(h);
}

TEST(GlobalMemory, ReAllocKeepsContentsAndZeroesTheNewTail) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 4);
    std::memcpy(GlobalLock(h), "abcd", 4);
    GlobalUnlock(h);
    ASSERT_EQ(GlobalReAlloc(h, 4096, GMEM_MOVEABLE | GMEM_ZEROINIT), h);
    EXPECT_EQ(GlobalSize(h), 4096u);
    auto* p = static_cast<char*>(GlobalLock(h));
    EXPECT_EQ(std::string(p, 4), "abcd");
    EXPECT_EQ(p[4095], 0);
    GlobalUnlock(h);
    EXPECT_EQ(GlobalFree(h), nullptr);

#ifndef _WIN32
    // A locked block keeps its address: growing it fails rather than leave the holder of the
    // old address pointing at freed memory.
    HGLOBAL locked = GlobalAlloc(GMEM_MOVEABLE, 8);
    void* held = GlobalLock(locked);
    EXPECT_EQ(GlobalReAlloc(locked, 1 << 20, GMEM_MOVEABLE), nullptr);
    EXPECT_EQ(GlobalSize(locked), 8u);
    EXPECT_EQ(GlobalLock(locked), held);
    GlobalUnlock(locked);
    GlobalUnlock(locked);
    EXPECT_EQ(GlobalReAlloc(locked, 1 << 20, 0), locked);
    EXPECT_EQ(GlobalFree(locked), nullptr);
#endif

    // A fixed block grows only when it may move, and then the handle changes with it.
    HGLOBAL f = GlobalAlloc(GMEM_FIXED, 4);
    std::memcpy(f, "wxyz", 4);
#ifndef _WIN32
    // Whether a heap can grow a block in place is its own business; here it never does.
    EXPECT_EQ(GlobalReAlloc(f, 1 << 20, 0), nullptr);
    EXPECT_EQ(GlobalSize(f), 4u);
#endif
    HGLOBAL g = GlobalReAlloc(f, 1 << 20, GMEM_MOVEABLE);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(std::string(static_cast<char*>(g), 4), "wxyz");
    EXPECT_EQ(GlobalSize(g), static_cast<SIZE_T>(1 << 20));
    if (g != f) {
        EXPECT_EQ(GlobalSize(f), 0u);
    }
    EXPECT_EQ(GlobalFree(g), nullptr);
}

TEST(GlobalMemory, ThreadsAllocateAndFreeIndependently) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&failures, t] {
            for (int i = 0; i < 500; ++i) {
                HGLOBAL h = GlobalAlloc(GHND, static_cast<SIZE_T>(16 + i));
                auto* p = static_cast<BYTE*>(GlobalLock(h));
                if (p == nullptr) {
                    ++failures;
                    continue;
                }
                p[i] = static_cast<BYTE>(t);
                GlobalUnlock(h);
                if (GlobalSize(h) != static_cast<SIZE_T>(16 + i) || GlobalFree(h) != nullptr)
                    ++failures;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
}

// ---- Clipboard formats -----------------------------------------------------------------------

TEST(ClipboardFormats, SameNameSameIdInAnyCase) {
    UINT data = RegisterClipboardFormatW(OLESTR("OPCSTMFORMATDATA"));
    UINT time = RegisterClipboardFormatW(OLESTR("OPCSTMFORMATDATATIME"));
    UINT write = RegisterClipboardFormatW(OLESTR("OPCSTMFORMATWRITECOMPLETE"));
    EXPECT_GE(data, 0xC000u);
    EXPECT_LE(data, 0xFFFFu);
    EXPECT_EQ(std::set<UINT>({data, time, write}).size(), 3u);
    EXPECT_EQ(RegisterClipboardFormatW(OLESTR("opcstmformatdata")), data);
    EXPECT_EQ(RegisterClipboardFormatW(OLESTR("OPCSTMFORMATDATA")), data);

    WCHAR name[64];
    EXPECT_EQ(GetClipboardFormatNameW(time, name, 64), 20);
    EXPECT_EQ(nv::WideString(name), OLESTR("OPCSTMFORMATDATATIME"));
    EXPECT_EQ(GetClipboardFormatNameW(time, name, 4), 3);
    EXPECT_EQ(nv::WideString(name), OLESTR("OPC"));
}

TEST(ClipboardFormats, RefusesBadNamesAndUnknownIds) {
    WCHAR name[64];
    EXPECT_EQ(GetClipboardFormatNameW(1, name, 64), 0);  // predefined formats have no name
    EXPECT_EQ(GetClipboardFormatNameW(0xFFFF, name, 64), 0);
    EXPECT_EQ(RegisterClipboardFormatW(nullptr), 0u);
    EXPECT_EQ(RegisterClipboardFormatW(OLESTR("")), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    nv::WideString tooLong(256, OLESTR('x'));
    EXPECT_EQ(RegisterClipboardFormatW(tooLong.c_str()), 0u);
}

TEST(ClipboardFormats, ConcurrentRegistrationAgreesOnOneId) {
    std::vector<UINT> ids(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < ids.size(); ++i)
        threads.emplace_back([&ids, i] { ids[i] = RegisterClipboardFormatW(OLESTR("Norvane Race Format")); });
    for (auto& th : threads)
        th.join();
    EXPECT_NE(ids[0], 0u);
    for (UINT id : ids)
        EXPECT_EQ(id, ids[0]);
}

// ---- Time ------------------------------------------------------------------------------------

FILETIME Ft(ULONGLONG ticks) {
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
}
ULONGLONG Ticks(const FILETIME& ft) {
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

SYSTEMTIME St(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
    SYSTEMTIME st{};
    st.wYear = y;
    st.wMonth = mo;
    st.wDay = d;
    st.wHour = h;
    st.wMinute = mi;
    st.wSecond = s;
    st.wMilliseconds = ms;
    return st;
}

TEST(FileTime, KnownInstantsAndRangeLimits) {
    SYSTEMTIME st{};
    FILETIME zero = Ft(0);
    ASSERT_TRUE(FileTimeToSystemTime(&zero, &st));
    EXPECT_EQ(st.wYear, 1601);
    EXPECT_EQ(st.wMonth, 1);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wDayOfWeek, 1);  // a Monday
    EXPECT_EQ(st.wHour + st.wMinute + st.wSecond + st.wMilliseconds, 0);

    FILETIME unixEpoch = Ft(116444736000000000ULL);
    ASSERT_TRUE(FileTimeToSystemTime(&unixEpoch, &st));
    EXPECT_EQ(st.wYear, 1970);
    EXPECT_EQ(st.wDayOfWeek, 4);  // a Thursday

    FILETIME last = Ft(0x7FFFFFFFFFFFFFFFULL);
    ASSERT_TRUE(FileTimeToSystemTime(&last, &st));
    EXPECT_EQ(st.wYear, 30828);
    EXPECT_EQ(st.wMonth, 9);
    EXPECT_EQ(st.wDay, 14);
    EXPECT_EQ(st.wHour, 2);
    EXPECT_EQ(st.wMinute, 48);
    EXPECT_EQ(st.wSecond, 5);
    EXPECT_EQ(st.wMilliseconds, 477);

    for (ULONGLONG bad : {0x8000000000000000ULL, 0xFFFFFFFFFFFFFFFFULL}) {
        FILETIME ft = Ft(bad);
        SetLastError(0);
        EXPECT_FALSE(FileTimeToSystemTime(&ft, &st));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
}

TEST(FileTime, RoundTripsThroughSystemTime) {
    const SYSTEMTIME samples[] = {
        St(1601, 1, 1),           St(1900, 3, 1, 12),           St(2000, 2, 29, 23, 59, 59, 999),
        St(1999, 12, 31, 23, 59), St(2024, 12, 31, 1, 2, 3, 4), St(30827, 12, 31, 23, 59, 59, 999)};
    for (const SYSTEMTIME& in : samples) {
        SYSTEMTIME withDay = in;
        withDay.wDayOfWeek = 6;  // ignored on the way in
        FILETIME ft{};
        ASSERT_TRUE(SystemTimeToFileTime(&withDay, &ft)) << in.wYear;
        SYSTEMTIME out{};
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &out));
        EXPECT_EQ(out.wYear, in.wYear);
        EXPECT_EQ(out.wMonth, in.wMonth);
        EXPECT_EQ(out.wDay, in.wDay);
        EXPECT_EQ(out.wHour, in.wHour);
        EXPECT_EQ(out.wMinute, in.wMinute);
        EXPECT_EQ(out.wSecond, in.wSecond);
        EXPECT_EQ(out.wMilliseconds, in.wMilliseconds);
    }
    FILETIME ft{};
    SYSTEMTIME noon = St(2000, 1, 1, 12);
    ASSERT_TRUE(SystemTimeToFileTime(&noon, &ft));
    EXPECT_EQ(Ticks(ft), 125911584000000000ULL + 12ULL * 36000000000ULL);
}

TEST(FileTime, InvalidFieldsAreRefused) {
    std::vector<SYSTEMTIME> bad{
        St(1600, 12, 31),      St(2001, 13, 1),          St(2001, 0, 1),
        St(2001, 4, 31),       St(2001, 1, 0),           St(2001, 1, 1, 24),
        St(2001, 1, 1, 0, 60), St(2001, 1, 1, 0, 0, 60), St(2001, 1, 1, 0, 0, 0, 1000)};
    // The last year Windows accepts, and February 29 outside leap years.
    const SYSTEMTIME wineAccepts[] = {St(30828, 1, 1), St(2001, 2, 29), St(1900, 2, 29)};
    if (nv::test::RunningUnderWine())
        nv::test::NoteWineDifference(
            "SystemTimeToFileTime accepts the year 30828 and February 29 of any year");
    else
        bad.insert(bad.end(), std::begin(wineAccepts), std::end(wineAccepts));
    for (const SYSTEMTIME& st : bad) {
        FILETIME ft = Ft(42);
        SetLastError(0);
        EXPECT_FALSE(SystemTimeToFileTime(&st, &ft)) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
}

#ifndef _WIN32
TEST(FileTime, LocalConversionUsesTheCurrentOffset) {
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    ::setenv("TZ", "UTC-2", 1);  // two hours east of UTC, no daylight saving
    ::tzset();
    FILETIME utc = Ft(133000000000000000ULL);
    FILETIME local{};
    FILETIME back{};
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
    EXPECT_EQ(Ticks(local) - Ticks(utc), 2ULL * 3600 * 10000000);
    EXPECT_EQ(Ticks(back), Ticks(utc));
    if (old)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}
#endif

TEST(FileTime, CompareUsesTheHighWordFirst) {
    FILETIME a = Ft(0x00000000FFFFFFFFULL);
    FILETIME b = Ft(0x0000000100000000ULL);
    EXPECT_EQ(CompareFileTime(&a, &b), -1);
    EXPECT_EQ(CompareFileTime(&b, &a), 1);
    EXPECT_EQ(CompareFileTime(&a, &a), 0);
}

TEST(ProcessAndThread, IdsAreThoseOfTheSystem) {
#ifndef _WIN32
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(::getpid()));
#endif
    DWORD mine = GetCurrentThreadId();
    DWORD other = 0;
    std::thread([&other] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(other, 0u);
    EXPECT_NE(mine, other);
    ULONGLONG t1 = GetTickCount64();
    ULONGLONG t2 = GetTickCount64();
    EXPECT_LE(t1, t2);
}

// ---- Computer name ---------------------------------------------------------------------------

nv::WideString ComputerNameEx(COMPUTER_NAME_FORMAT format) {
    WCHAR buf[256];
    DWORD size = 256;
    EXPECT_TRUE(GetComputerNameExW(format, buf, &size)) << format;
    return nv::WideString(buf, size);
}

// The NetBIOS form of a host name: up to its first dot, in upper case, at most fifteen characters.
nv::WideString NetBiosForm(nv::WideString host) {
    host = host.substr(0, host.find(OLESTR('.'))).substr(0, MAX_COMPUTERNAME_LENGTH);
    for (WCHAR& c : host)
        if (c >= 'a' && c <= 'z')
            c = static_cast<WCHAR>(c - 'a' + 'A');
    return host;
}

TEST(ComputerName, IsTheNetBiosFormOfTheDnsHostName) {
    WCHAR buf[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(buf, &size));
    nv::WideString name(buf, size);
    EXPECT_EQ(buf[size], 0);
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), static_cast<std::size_t>(MAX_COMPUTERNAME_LENGTH));
    EXPECT_EQ(name, NetBiosForm(name)) << "upper case, no dot: " << nv::ToUtf8(name);
    EXPECT_EQ(name, NetBiosForm(ComputerNameEx(ComputerNameDnsHostname)));
    EXPECT_EQ(name, ComputerNameEx(ComputerNameNetBIOS));

    // Too small: fails with the size needed, terminator included.
    DWORD small = static_cast<DWORD>(name.size());
    SetLastError(0);
    EXPECT_FALSE(GetComputerNameW(buf, &small));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
    EXPECT_EQ(small, name.size() + 1);
}

TEST(ComputerName, DnsNamesReportTheSizeNeeded) {
    nv::WideString host = ComputerNameEx(ComputerNameDnsHostname);
    ASSERT_FALSE(host.empty());
    EXPECT_EQ(host.find(OLESTR('.')), nv::WideString::npos);
    nv::WideString full = ComputerNameEx(ComputerNameDnsFullyQualified);
    EXPECT_EQ(full.substr(0, host.size()), host);

    WCHAR buf[512];
    DWORD small = 1;
    SetLastError(0);
    EXPECT_FALSE(GetComputerNameExW(ComputerNameDnsHostname, buf, &small));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(small, host.size() + 1);
}

// The system host name, where the computer's names come from: on Linux, and under Wine, which
// takes them from the host name of the Linux system it runs on. Real Windows keeps names of its own.
std::optional<std::string> SystemHostName() {
#ifdef _WIN32
    if (!nv::test::RunningUnderWine())
        return std::nullopt;
    // Wine maps the Linux root to drive Z:; the kernel file holds exactly what gethostname() gives.
    std::ifstream in("Z:\\proc\\sys\\kernel\\hostname");
    std::string host;
    if (!std::getline(in, host))
        return std::nullopt;
    return host;
#else
    char buf[HOST_NAME_MAX + 1] = {};
    ::gethostname(buf, sizeof buf - 1);
    return std::string(buf);
#endif
}

TEST(ComputerName, ComesFromTheSystemHostNameOnLinuxAndUnderWine) {
    std::optional<std::string> host = SystemHostName();
    if (!host) {
        GTEST_SKIP() << "Windows keeps a computer name of its own";
    }
    std::string dnsHost = host->substr(0, host->find('.'));
#ifndef _WIN32
    // An unnamed Linux system is "localhost" to the stand-in.
    if (host->empty()) {
        host = "localhost";
        dnsHost = "localhost";
    }
#endif
    EXPECT_EQ(nv::ToUtf8(ComputerNameEx(ComputerNameDnsHostname)), dnsHost);
    WCHAR buf[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(buf, &size));
    EXPECT_EQ(nv::WideString(buf, size), NetBiosForm(nv::ToWide(*host)));
#ifndef _WIN32
    // Wine asks the name service for the domain part; the stand-in keeps the host name as it is.
    EXPECT_EQ(nv::ToUtf8(ComputerNameEx(ComputerNameDnsFullyQualified)), *host);
#endif
}

}  // namespace
