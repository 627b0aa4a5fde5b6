// DATE values: the calendar behind SystemTimeToVariantTime / VariantTimeToSystemTime, and dates
// to and from text. The text forms use the C locale's pictures (yyyy/MM/dd, HH:mm:ss), so
// those tests run on the stand-in only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/NvWide.h"
#include "platform/win32.h"

namespace {

using Text = std::basic_string<OLECHAR>;

SYSTEMTIME Time(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    st.wMilliseconds = static_cast<WORD>(ms);
    return st;
}

TEST(VariantTime, CalendarDaysAndTimeOfDay) {
    struct Case {
        SYSTEMTIME st;
        double date;
    };
    const Case cases[] = {
        {Time(1899, 12, 30), 0.0},      {Time(1899, 12, 31), 1.0},        {Time(1900, 1, 1), 2.0},
        {Time(1900, 3, 1), 61.0},  // 1900 is not a leap year here
        {Time(2000, 2, 29), 36585.0},   {Time(2023, 3, 15, 12), 45000.5}, {Time(2023, 3, 15, 18), 45000.75},
        {Time(1899, 12, 29, 6), -1.25},  // before day 0 the fraction still counts forward
        {Time(1899, 12, 30, 6), 0.25},  {Time(100, 1, 1), -657434.0},     {Time(9999, 12, 31), 2958465.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.date);
        SYSTEMTIME st = c.st;
        double date = 123;
        ASSERT_TRUE(SystemTimeToVariantTime(&st, &date));
        EXPECT_DOUBLE_EQ(date, c.date);
        SYSTEMTIME back{};
        ASSERT_TRUE(VariantTimeToSystemTime(c.date, &back));
        EXPECT_EQ(back.wYear, c.st.wYear);
        EXPECT_EQ(back.wMonth, c.st.wMonth);
        EXPECT_EQ(back.wDay, c.st.wDay);
        EXPECT_EQ(back.wHour, c.st.wHour);
        EXPECT_EQ(back.wMinute, 0);
        EXPECT_EQ(back.wSecond, 0);
    }
}

TEST(VariantTime, DayOfWeek) {
    SYSTEMTIME st{};
    ASSERT_TRUE(VariantTimeToSystemTime(45000.0, &st));  // 2023-03-15
    EXPECT_EQ(st.wDayOfWeek, 3);                         // Wednesday
    ASSERT_TRUE(VariantTimeToSystemTime(0.0, &st));
    EXPECT_EQ(st.wDayOfWeek, 6);  // 1899-12-30, a Saturday
    ASSERT_TRUE(VariantTimeToSystemTime(-1.0, &st));
    EXPECT_EQ(st.wDayOfWeek, 5);
}

TEST(VariantTime, WholeSecondsOnly) {
    SYSTEMTIME st = Time(2023, 3, 15, 12, 0, 0, 750);
    double date = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&st, &date));
    EXPECT_DOUBLE_EQ(date, 45000.5);  // milliseconds are ignored

    SYSTEMTIME back{};
    ASSERT_TRUE(VariantTimeToSystemTime(45000.5 + 0.6 / 86400.0, &back));
    EXPECT_EQ(back.wSecond, 1);  // rounded to the nearest second
    EXPECT_EQ(back.wMilliseconds, 0);
    ASSERT_TRUE(VariantTimeToSystemTime(45000.0 - 0.2 / 86400.0, &back));  // 23:59:59.8 rolls over
    EXPECT_EQ(back.wDay, 15);
    EXPECT_EQ(back.wHour, 0);
    EXPECT_EQ(back.wSecond, 0);
}

TEST(VariantTime, OutOfRangeIsRefused) {
    SYSTEMTIME st{};
    EXPECT_FALSE(VariantTimeToSystemTime(2958466.0, &st));
    EXPECT_FALSE(VariantTimeToSystemTime(-657435.0, &st));
    SYSTEMTIME bad = Time(2023, 13, 1);
    double date = 0;
    EXPECT_FALSE(SystemTimeToVariantTime(&bad, &date));

    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = 2958466.0;
    VARIANT d;
    VariantInit(&d);
    EXPECT_EQ(VariantChangeType(&d, &v, 0, VT_DATE), DISP_E_OVERFLOW);
    v.dblVal = -657434.5;
    EXPECT_EQ(VariantChangeType(&d, &v, 0, VT_DATE), S_OK);
    v.vt = VT_I4;
    v.lVal = 3000000;
    EXPECT_EQ(VariantChangeType(&d, &v, 0, VT_DATE), DISP_E_OVERFLOW);
}

// The invariant locale has the same pictures everywhere, so this also runs on Windows.
TEST(VariantTime, InvariantText) {
    struct Case {
        double date;
        const OLECHAR* text;
    };
    const Case cases[] = {
        {45000.5, OLESTR("03/15/2023 12:00:00")},
        {45000.0, OLESTR("03/15/2023")},
        {0.75, OLESTR("18:00:00")},
        {-1.25, OLESTR("12/29/1899 06:00:00")},
    };
    for (const Case& c : cases) {
        BSTR text = nullptr;
        ASSERT_EQ(VarBstrFromDate(c.date, LOCALE_INVARIANT, 0, &text), S_OK);
        EXPECT_EQ(Text(text), Text(c.text));
        SysFreeString(text);
        DATE back = 0;
        Text input(c.text);  // some SDK headers take a non-const string here
        EXPECT_EQ(VarDateFromStr(input.data(), LOCALE_INVARIANT, 0, &back), S_OK);
        EXPECT_DOUBLE_EQ(back, c.date);
    }
}

// ---- Text to date in a named locale (en-US here), as a user types it into a Date item -------

// Reads `text` in `lcid`; S_OK results are compared to the expected DATE exactly.
struct DateCase {
    const char* text;
    HRESULT hr;
    double date;
};

void CheckDates(LCID lcid, const std::vector<DateCase>& cases) {
    for (const DateCase& c : cases) {
        SCOPED_TRACE(c.text);
        Text input(c.text, c.text + std::char_traits<char>::length(c.text));
        DATE date = -99;
        EXPECT_EQ(VarDateFromStr(input.data(), lcid, 0, &date), c.hr);
        if (SUCCEEDED(c.hr)) {
            EXPECT_DOUBLE_EQ(date, c.date);
        }

        // VariantChangeTypeEx reads the text the same way.
        VARIANT src, dst;
        VariantInit(&src);
        VariantInit(&dst);
        src.vt = VT_BSTR;
        src.bstrVal = SysAllocStringLen(input.data(), static_cast<UINT>(input.size()));
        EXPECT_EQ(VariantChangeTypeEx(&dst, &src, lcid, 0, VT_DATE), c.hr);
        if (SUCCEEDED(c.hr)) {
            EXPECT_DOUBLE_EQ(dst.date, c.date);
        }
        VariantClear(&src);
        VariantClear(&dst);
    }
}

constexpr LCID kUs = 0x0409;
constexpr double k0304 = 184.0 / 1440;  // 03:04

// A sign is not part of a date, and a date separator stands between two parts: a lone signed
// decimal is no time, and a leading, trailing or doubled separator is a typing error.
TEST(DateFromText, MalformedTextIsRefused) {
    CheckDates(kUs, {
                        {"-1.1", DISP_E_TYPEMISMATCH, 0},
                        {"-1.5", DISP_E_TYPEMISMATCH, 0},
                        {"+1.1", DISP_E_TYPEMISMATCH, 0},
                        {"-1.1.1", DISP_E_TYPEMISMATCH, 0},
                        {"-1/2/2023", DISP_E_TYPEMISMATCH, 0},
                        {"1/-2/2023", DISP_E_TYPEMISMATCH, 0},
                        {"1//2/2023", DISP_E_TYPEMISMATCH, 0},
                        {"1/2//2023", DISP_E_TYPEMISMATCH, 0},
                        {"/1/2/2023", DISP_E_TYPEMISMATCH, 0},
                        {"1/2/2023/", DISP_E_TYPEMISMATCH, 0},
                        {"2023-01-02-", DISP_E_TYPEMISMATCH, 0},
                        {"1/2/2023,", DISP_E_TYPEMISMATCH, 0},
                        {"1/2/2023 /", DISP_E_TYPEMISMATCH, 0},
                        {"1/2/2023 12:00:", DISP_E_TYPEMISMATCH, 0},
                        {":12:00", DISP_E_TYPEMISMATCH, 0},
                        {"1/2/2023 3", DISP_E_TYPEMISMATCH, 0},  // a lone number is no time
                        {"3 4 5 6", DISP_E_TYPEMISMATCH, 0},
                        {"2/29/2023", DISP_E_TYPEMISMATCH, 0},
                        {"1/1/10000", DISP_E_TYPEMISMATCH, 0},
                        {"24:00", DISP_E_TYPEMISMATCH, 0},
                        // Their well-formed neighbours.
                        {"1.1", S_OK, 61.0 / 1440},  // the dot separates hours and minutes here
                        {"1.1.1", S_OK, 3661.0 / 86400},
                        {"1-2-2023", S_OK, 44928},
                        {"1 / 2 / 2023", S_OK, 44928},
                        {"1,2,2023", S_OK, 44928},
                        {",1/2/2023", S_OK, 44928},  // a comma may lead
                        {"2-Jan-2023", S_OK, 44928},
                        {"Monday, January 2, 2023", S_OK, 44928},
                        {"2/29/2024", S_OK, 45351},
                    });
}

// Years below 100 fall in the window 1950-2049 (Windows' default two-digit-year setting), also
// when written with a leading zero; three digits from 100 on are the year as written.
TEST(DateFromText, TwoDigitYearWindow) {
    CheckDates(kUs, {
                        {"1/2/00", S_OK, 36527},
                        {"1/2/0", S_OK, 36527},
                        {"1/2/30", S_OK, 47485},  // 2030
                        {"1/2/49", S_OK, 54425},  // 2049
                        {"1/2/049", S_OK, 54425},
                        {"1/2/50", S_OK, 18265},  // 1950
                        {"1/2/99", S_OK, 36162},
                        {"1/2/100", S_OK, -657433},
                        {"49-01-02", S_OK, 54425},
                        {"Jan 2 49", S_OK, 54425},
                        {"2 Jan 49", S_OK, 54425},
                        {"Jan 49", S_OK, 54424},
                        {"Jan 2 50", S_OK, 18265},
                        {"31/12/3", S_OK, 48185},  // not a month first: year 2031, December, 3rd
                    });

    struct Year {
        int given, read;
    };
    for (const Year& y : {Year{0, 2000}, Year{1, 2001}, Year{29, 2029}, Year{30, 2030}, Year{49, 2049},
                          Year{50, 1950}, Year{99, 1999}, Year{100, 100}, Year{2023, 2023}}) {
        SCOPED_TRACE(y.given);
        SYSTEMTIME st = Time(y.given, 1, 2, 3);
        double date = -99;
        ASSERT_TRUE(SystemTimeToVariantTime(&st, &date));
        SYSTEMTIME back{};
        ASSERT_TRUE(VariantTimeToSystemTime(date, &back));
        EXPECT_EQ(back.wYear, y.read);
        EXPECT_EQ(back.wMonth, 1);
        EXPECT_EQ(back.wDay, 2);
        EXPECT_EQ(back.wHour, 3);
    }
}

// A date and a time may come in either order, the time with or without AM/PM; three numbers are
// tried month-day-year first in en-US, and a year written in full can stand anywhere.
TEST(DateFromText, DateAndTimeInEitherOrder) {
    CheckDates(kUs, {
                        {"1/2/2023 3:04", S_OK, 44928 + k0304},
                        {"3:04 1/2/2023", S_OK, 44928 + k0304},
                        {"1/2/2023 3:04 PM", S_OK, 44928.5 + k0304},
                        {"3:04 PM 1/2/2023", S_OK, 44928.5 + k0304},
                        {"1/2/2023 3 PM", S_OK, 44928.625},
                        {"3 PM 1/2/2023", S_OK, 44928.625},
                        {"1 2 2023 3:04", S_OK, 44928 + k0304},
                        {"January 2 2023 3:04", S_OK, 44928 + k0304},
                        {"2023-1-2 3:4:5", S_OK, 44928 + 11045.0 / 86400},
                        {"2023 1 2", S_OK, 44928},
                        {"1/2 2023", S_OK, 44928},
                        {"2023 1/2", S_OK, 44928},
                        {"1 2023", S_OK, 44927},
                        {"12 2023", S_OK, 45261},
                        {"1/2/3", S_OK, 37623},   // 2003-01-02
                        {"13/2/3", S_OK, 41308},  // 2013-02-03
                        {"12:00 AM", S_OK, 0},
                        {"0:30 AM", S_OK, 30.0 / 1440},
                        {"13:00 AM", S_OK, 13.0 / 24},
                    });
}

// Blanks around and between the parts: the ideographic space counts as one, like the others.
TEST(DateFromText, BlanksIncludingIdeographicSpace) {
    for (OLECHAR blank : {OLECHAR(' '), OLECHAR('\t'), OLECHAR('\n'), OLECHAR(0x00A0), OLECHAR(0x3000)}) {
        SCOPED_TRACE(static_cast<int>(blank));
        Text text;
        text += blank;
        text += OLESTR("1/2/2023");
        text += blank;
        text += OLESTR("3:04");
        text += blank;
        DATE date = -99;
        ASSERT_EQ(VarDateFromStr(text.data(), kUs, 0, &date), S_OK);
        EXPECT_DOUBLE_EQ(date, 44928 + k0304);
    }
}

#ifndef _WIN32

class DateText : public testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("LC_ALL");
        had_ = old != nullptr;
        if (old)
            old_ = old;
        setenv("LC_ALL", "C", 1);
    }
    void TearDown() override {
        if (had_)
            setenv("LC_ALL", old_.c_str(), 1);
        else
            unsetenv("LC_ALL");
    }
    static Text ToText(double date, ULONG flags = 0) {
        BSTR b = nullptr;
        if (FAILED(VarBstrFromDate(date, LOCALE_USER_DEFAULT, flags, &b)))
            return OLESTR("<failed>");
        Text t(b, SysStringLen(b));
        SysFreeString(b);
        return t;
    }
    bool had_ = false;
    std::string old_;
};

TEST_F(DateText, ShortDateAndLongTime) {
    EXPECT_EQ(ToText(45000.5), Text(OLESTR("2023/03/15 12:00:00")));
    EXPECT_EQ(ToText(45000.0), Text(OLESTR("2023/03/15")));  // midnight: the date alone
    EXPECT_EQ(ToText(0.5625), Text(OLESTR("13:30:00")));     // day 0: the time alone
    EXPECT_EQ(ToText(0.0), Text(OLESTR("00:00:00")));
    EXPECT_EQ(ToText(-1.25), Text(OLESTR("1899/12/29 06:00:00")));
    EXPECT_EQ(ToText(1.0 / 86400.0 * 3661), Text(OLESTR("01:01:01")));
    EXPECT_EQ(ToText(45000.5, VAR_DATEVALUEONLY), Text(OLESTR("2023/03/15")));
    EXPECT_EQ(ToText(45000.5, VAR_TIMEVALUEONLY), Text(OLESTR("12:00:00")));
    BSTR b = nullptr;
    EXPECT_EQ(VarBstrFromDate(2958466.0, LOCALE_USER_DEFAULT, 0, &b), E_INVALIDARG);
    EXPECT_EQ(b, nullptr);

    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DATE;
    v.date = 36585.75;
    VARIANT s;
    VariantInit(&s);
    ASSERT_EQ(VariantChangeType(&s, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Text(s.bstrVal), Text(OLESTR("2000/02/29 18:00:00")));
    VariantClear(&s);
}

TEST_F(DateText, TextToDate) {
    struct Case {
        const OLECHAR* text;
        HRESULT hr;
        double date;
    };
    const Case cases[] = {
        {OLESTR("2023/03/15"), S_OK, 45000.0},
        {OLESTR("2023/03/15 12:00:00"), S_OK, 45000.5},
        {OLESTR("2023-03-15 18:00"), S_OK, 45000.75},
        {OLESTR("2023-03-15T06:00:00"), S_OK, 45000.25},
        {OLESTR("  2023/3/5  "), S_OK, 44990.0},
        {OLESTR("12:00:00"), S_OK, 0.5},
        {OLESTR("13:30"), S_OK, 0.5625},
        {OLESTR("1:30 PM"), S_OK, 0.5625},
        {OLESTR("12:00 AM"), S_OK, 0.0},
        {OLESTR("12:00:00 PM"), S_OK, 0.5},
        {OLESTR("6 pm"), S_OK, 0.75},
        {OLESTR("March 15, 2023"), S_OK, 45000.0},
        {OLESTR("15 Mar 2023 12:00"), S_OK, 45000.5},
        {OLESTR("Wednesday, March 15, 2023"), S_OK, 45000.0},
        {OLESTR("1899/12/29 06:00:00"), S_OK, -1.25},
        {OLESTR("2000-02-29"), S_OK, 36585.0},
        {OLESTR("2023-02-30"), DISP_E_TYPEMISMATCH, 0},
        {OLESTR("2023-13-01"), DISP_E_TYPEMISMATCH, 0},
        {OLESTR("25:00"), DISP_E_TYPEMISMATCH, 0},
        {OLESTR("12:60"), DISP_E_TYPEMISMATCH, 0},
        {OLESTR("13:00 PM"), S_OK, 13.0 / 24},  // the marker is ignored past 12
        {OLESTR("00:00 pm"), S_OK, 0.5},
        {OLESTR("2.5"), S_OK, 125.0 / 1440},    // a dot separates hours and minutes here
        {OLESTR("1"), DISP_E_TYPEMISMATCH, 0},  // one number is a time only with AM/PM
        {OLESTR("45000.5"), DISP_E_TYPEMISMATCH, 0},
        {OLESTR("30 2"), S_OK, 47515.0},    // not a day and a month: year and month (2030-02)
        {OLESTR("Jan 35"), S_OK, 49310.0},  // 2035-01-01
        {OLESTR("32 49"), DISP_E_TYPEMISMATCH, 0},
        {OLESTR("2013-05-14 02:04:12.017"), DISP_E_TYPEMISMATCH, 0},
        {OLESTR("1.2.3.4"), DISP_E_TYPEMISMATCH, 0},
        {OLESTR("yesterday"), DISP_E_TYPEMISMATCH, 0},
        {OLESTR(""), DISP_E_TYPEMISMATCH, 0},
        {OLESTR("2023/03/15 #"), DISP_E_TYPEMISMATCH, 0},
        {OLESTR("10000-01-01"), DISP_E_TYPEMISMATCH, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(nv::ToUtf8(c.text));
        DATE date = -99;
        EXPECT_EQ(VarDateFromStr(c.text, LOCALE_USER_DEFAULT, 0, &date), c.hr);
        if (SUCCEEDED(c.hr)) {
            EXPECT_DOUBLE_EQ(date, c.date);
        }
    }

    DATE date = 0;
    EXPECT_EQ(VarDateFromStr(OLESTR("2023/03/15 12:00"), LOCALE_USER_DEFAULT, VAR_DATEVALUEONLY, &date),
              S_OK);
    EXPECT_DOUBLE_EQ(date, 45000.0);
    EXPECT_EQ(VarDateFromStr(OLESTR("2023/03/15 12:00"), LOCALE_USER_DEFAULT, VAR_TIMEVALUEONLY, &date),
              S_OK);
    EXPECT_DOUBLE_EQ(date, 0.5);
}

TEST_F(DateText, TwoDigitYearsAndAmbiguousOrder) {
    DATE date = 0;
    // Year-first is the C locale's order; 49 and 50 fall either side of the century window.
    ASSERT_EQ(VarDateFromStr(OLESTR("49/03/15"), LOCALE_USER_DEFAULT, 0, &date), S_OK);
    SYSTEMTIME st{};
    VariantTimeToSystemTime(date, &st);
    EXPECT_EQ(st.wYear, 2049);
    ASSERT_EQ(VarDateFromStr(OLESTR("50/03/15"), LOCALE_USER_DEFAULT, 0, &date), S_OK);
    VariantTimeToSystemTime(date, &st);
    EXPECT_EQ(st.wYear, 1950);
    // A first field that cannot be a year, month or day in the regional order is tried in the
    // other orders.
    ASSERT_EQ(VarDateFromStr(OLESTR("13/12/2023"), LOCALE_USER_DEFAULT, 0, &date), S_OK);
    VariantTimeToSystemTime(date, &st);
    EXPECT_EQ(st.wMonth, 12);
    EXPECT_EQ(st.wDay, 13);
}

TEST_F(DateText, RoundTripThroughText) {
    for (double date : {45000.5, 1.0, -700.75, 2958465.5, 0.999988425925926}) {
        SCOPED_TRACE(date);
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_DATE;
        v.date = date;
        ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
        ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_DATE), S_OK);
        EXPECT_NEAR(v.date, date, 0.5 / 86400.0);
    }
}

#endif

}  // namespace
