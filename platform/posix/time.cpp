// System time, file time conversions, tick counts, sleeping and the process and thread ids.
// FILETIME counts 100-ns intervals since 1601-01-01 UTC. The calendar arithmetic is done here
// rather than through gmtime so that the whole FILETIME range (up to the year 30828) converts
// the same on every system.

#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/win32.h"

namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::uint64_t kTicksPerDay = kTicksPerSecond * 86400;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kUnixEpochSeconds = 11644473600ULL;

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

constexpr std::int64_t kDays1601 = DaysFromCivil(1601, 1, 1);

bool IsLeap(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned DaysInMonth(unsigned y, unsigned m) {
    static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

std::uint64_t ToTicks(const FILETIME& ft) {
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME FromTicks(std::uint64_t ticks) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

std::uint64_t NowTicks() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return (static_cast<std::uint64_t>(ts.tv_sec) + kUnixEpochSeconds) * kTicksPerSecond +
           static_cast<std::uint64_t>(ts.tv_nsec) / 100;
}

void TicksToSystemTime(std::uint64_t ticks, SYSTEMTIME& st) {
    const std::uint64_t days = ticks / kTicksPerDay;
    std::uint64_t rest = ticks % kTicksPerDay;
    std::int64_t year;
    unsigned month, day;
    CivilFromDays(static_cast<std::int64_t>(days) + kDays1601, year, month, day);
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    st.wHour = static_cast<WORD>(rest / (kTicksPerSecond * 3600));
    rest %= kTicksPerSecond * 3600;
    st.wMinute = static_cast<WORD>(rest / (kTicksPerSecond * 60));
    rest %= kTicksPerSecond * 60;
    st.wSecond = static_cast<WORD>(rest / kTicksPerSecond);
    rest %= kTicksPerSecond;
    st.wMilliseconds = static_cast<WORD>(rest / 10000);
}

// The offset of local time from UTC in force now, in seconds.
std::int64_t CurrentOffsetSeconds() {
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    return local.tm_gmtoff;
}

std::uint64_t MonotonicNanoseconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ULL + static_cast<std::uint64_t>(ts.tv_nsec);
}

}  // namespace

extern "C" void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
    if (lpSystemTimeAsFileTime != nullptr)
        *lpSystemTimeAsFileTime = FromTicks(NowTicks());
}

extern "C" void GetSystemTime(LPSYSTEMTIME lpSystemTime) {
    if (lpSystemTime != nullptr)
        TicksToSystemTime(NowTicks(), *lpSystemTime);
}

extern "C" void GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    if (lpSystemTime == nullptr)
        return;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    std::uint64_t now = (static_cast<std::uint64_t>(ts.tv_sec) + kUnixEpochSeconds) * kTicksPerSecond +
                        static_cast<std::uint64_t>(ts.tv_nsec) / 100;
    std::uint64_t ticks = static_cast<std::uint64_t>(static_cast<std::int64_t>(now) +
                                                     static_cast<std::int64_t>(local.tm_gmtoff) *
                                                         static_cast<std::int64_t>(kTicksPerSecond));
    TicksToSystemTime(ticks, *lpSystemTime);
}

extern "C" BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
    if (lpFileTime == nullptr || lpSystemTime == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::uint64_t ticks = ToTicks(*lpFileTime);
    if (ticks >= 0x8000000000000000ULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    TicksToSystemTime(ticks, *lpSystemTime);
    return TRUE;
}

extern "C" BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime) {
    if (lpSystemTime == nullptr || lpFileTime == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const SYSTEMTIME& st = *lpSystemTime;
    // The day of the week is ignored, as on Windows.
    if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
        st.wDay > DaysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59 ||
        st.wMilliseconds > 999) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::uint64_t days = static_cast<std::uint64_t>(DaysFromCivil(st.wYear, st.wMonth, st.wDay) - kDays1601);
    std::uint64_t seconds = ((days * 24 + st.wHour) * 60 + st.wMinute) * 60 + st.wSecond;
    *lpFileTime = FromTicks(seconds * kTicksPerSecond + st.wMilliseconds * 10000ULL);
    return TRUE;
}

extern "C" BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime) {
    if (lpFileTime == nullptr || lpLocalFileTime == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::uint64_t offset =
        static_cast<std::uint64_t>(CurrentOffsetSeconds() * static_cast<std::int64_t>(kTicksPerSecond));
    *lpLocalFileTime = FromTicks(ToTicks(*lpFileTime) + offset);
    return TRUE;
}

extern "C" BOOL LocalFileTimeToFileTime(const FILETIME* lpLocalFileTime, LPFILETIME lpFileTime) {
    if (lpLocalFileTime == nullptr || lpFileTime == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::uint64_t offset =
        static_cast<std::uint64_t>(CurrentOffsetSeconds() * static_cast<std::int64_t>(kTicksPerSecond));
    *lpFileTime = FromTicks(ToTicks(*lpLocalFileTime) - offset);
    return TRUE;
}

extern "C" LONG CompareFileTime(const FILETIME* lpFileTime1, const FILETIME* lpFileTime2) {
    std::uint64_t a = ToTicks(*lpFileTime1);
    std::uint64_t b = ToTicks(*lpFileTime2);
    return a < b ? -1 : (a > b ? 1 : 0);
}

// Windows counts the time since start-up including suspended time.
extern "C" ULONGLONG GetTickCount64() {
    return MonotonicNanoseconds(CLOCK_BOOTTIME) / 1000000ULL;
}
extern "C" DWORD GetTickCount() {
    return static_cast<DWORD>(GetTickCount64());
}

extern "C" BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
    if (lpPerformanceCount == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    lpPerformanceCount->QuadPart = static_cast<LONGLONG>(MonotonicNanoseconds(CLOCK_MONOTONIC));
    return TRUE;
}

extern "C" BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
    if (lpFrequency == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    lpFrequency->QuadPart = 1000000000LL;
    return TRUE;
}

extern "C" void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    if (dwMilliseconds == INFINITE) {
        for (;;)
            pause();
    }
    timespec rest{static_cast<time_t>(dwMilliseconds / 1000),
                  static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

extern "C" DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(syscall(SYS_gettid));
}
extern "C" DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}
