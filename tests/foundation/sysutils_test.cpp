#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>

#include "foundation/NvSysUtils.h"

namespace nv {
namespace {

// Every test runs under the C-locale settings, whatever the machine's locale.
class SysUtils : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = FormatSettings();
        SetFormatSettings(DefaultFormatSettings());
    }
    void TearDown() override { SetFormatSettings(saved_); }
    TFormatSettings saved_;
};

std::string ConvertErrorText(const std::function<void()>& f) {
    try {
        f();
    } catch (const EConvertError& e) {
        return e.Message();
    }
    return "(no EConvertError)";
}

TEST_F(SysUtils, FormatResultLineShowsNegativeHresultAsUnsigned32BitHex) {
    HRESULT hr = static_cast<HRESULT>(0x80070057);
    EXPECT_EQ(Format("%s.%s: Result=$%x (%s)", "IOPCServer", "AddGroup", hr, "E_INVALIDARG"),
              "IOPCServer.AddGroup: Result=$80070057 (E_INVALIDARG)");
    EXPECT_EQ(Format("$%x", static_cast<HRESULT>(0)), "$0");
    EXPECT_EQ(Format("%x", -1), "FFFFFFFF");
    EXPECT_EQ(Format("%x", std::int64_t{-1}), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(Format("%x", DWORD{0xABCDEF}), "ABCDEF");
    EXPECT_EQ(Format("%.8x", 0x1F), "0000001F");
    EXPECT_EQ(Format("%.8x", static_cast<HRESULT>(0xC0040007)), "C0040007");
}

TEST_F(SysUtils, FormatIntegers) {
    EXPECT_EQ(Format("%d Items", 3), "3 Items");
    EXPECT_EQ(Format("%d", INT32_MIN), "-2147483648");
    EXPECT_EQ(Format("%d", INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(Format("%d", UINT64_MAX), "18446744073709551615");
    EXPECT_EQ(Format("%.3d", -5), "-005");
    EXPECT_EQ(Format("%u", -1), "4294967295");
    EXPECT_EQ(Format("%D|%X", 10, 255), "10|FF");
}

TEST_F(SysUtils, FormatIndexWidthAndJustification) {
    EXPECT_EQ(Format("%0:s-%0:s %1:s", "a", "b"), "a-a b");
    // After an indexed specifier the next plain one takes the following argument.
    EXPECT_EQ(Format("%1:s %s %0:s %s", "a", "b", "c"), "b c a b");
    EXPECT_EQ(Format("[%5s][%-5s]", "ab", "ab"), "[   ab][ab   ]");
    EXPECT_EQ(Format("[%4d][%-4d]", 7, 7), "[   7][7   ]");
    EXPECT_EQ(Format("[%*d]", 4, 7), "[   7]");
    EXPECT_EQ(Format("[%.2s]", "abcdef"), "[ab]");
    EXPECT_EQ(Format("100%%"), "100%");
    // Width counts characters, not UTF-8 bytes.
    EXPECT_EQ(Format("[%4s]", "\xC3\xA4\xC3\xB6"), "[  \xC3\xA4\xC3\xB6]");
}

TEST_F(SysUtils, FormatStringAndPointerArguments) {
    std::string s = "std";
    std::string_view v = "view";
    const char* none = nullptr;
    EXPECT_EQ(Format("%s %s %s [%s] %s", s, v, "lit", none, 'c'), "std view lit [] c");
    int x = 0;
    std::string p = Format("%p", &x);
    EXPECT_EQ(p.size(), sizeof(void*) * 2);
    EXPECT_EQ(p, UIntToHex(reinterpret_cast<std::uintptr_t>(&x), static_cast<int>(sizeof(void*) * 2)));
    EXPECT_EQ(Format("%p", nullptr), std::string(sizeof(void*) * 2, '0'));
}

TEST_F(SysUtils, FormatMismatchAndMissingArgumentsRaise) {
    EXPECT_EQ(ConvertErrorText([] { Format("%d", "text"); }),
              "Format '%d' invalid or incompatible with argument");
    EXPECT_EQ(ConvertErrorText([] { Format("%s", 5); }), "Format '%s' invalid or incompatible with argument");
    EXPECT_EQ(ConvertErrorText([] { Format("%f", 5); }), "Format '%f' invalid or incompatible with argument");
    EXPECT_EQ(ConvertErrorText([] { Format("%x", 1.5); }),
              "Format '%x' invalid or incompatible with argument");
    EXPECT_EQ(ConvertErrorText([] { Format("%s", true); }),
              "Format '%s' invalid or incompatible with argument");
    EXPECT_EQ(ConvertErrorText([] { Format("%q", 1); }), "Format '%q' invalid or incompatible with argument");
    EXPECT_EQ(ConvertErrorText([] { Format("abc %", 1); }),
              "Format 'abc %' invalid or incompatible with argument");
    EXPECT_EQ(ConvertErrorText([] { Format("%s %s", "one"); }), "No argument for format '%s %s'");
    EXPECT_EQ(ConvertErrorText([] { Format("%3:s", "one"); }), "No argument for format '%3:s'");
}

TEST_F(SysUtils, FormatFloats) {
    EXPECT_EQ(Format("%f", 1.5), "1.50");
    EXPECT_EQ(Format("%.3f", 2.0 / 3), "0.667");
    EXPECT_EQ(Format("%.0f", 2.75), "3");
    // Halves round away from zero on the decimal digits of the value: 0.125 and 2.5 are exact,
    // 2.675 is really 2.67499999999999982.
    EXPECT_EQ(Format("%.2f|%.0f|%.0f|%.2f", 0.125, 2.5, -2.5, 2.675), "0.13|3|-3|2.67");
    EXPECT_EQ(Format("%.1f", 9.96), "10.0");
    EXPECT_EQ(Format("%.3f", 0.0004), "0.000");
    EXPECT_EQ(Format("%.3f", 0.0005), "0.001");
    EXPECT_EQ(Format("%f", 1e17), "100000000000000000.00");
    EXPECT_EQ(Format("%.2f", -0.001), "0.00");
    EXPECT_EQ(Format("%n", 1234567.891), "1,234,567.89");
    EXPECT_EQ(Format("%e", 1.5), "1.50000000000000E+000");
    EXPECT_EQ(Format("%.3e", -12345.0), "-1.23E+004");
    EXPECT_EQ(Format("%g", 0.1 + 0.2), "0.3");
    EXPECT_EQ(Format("%m", -2.5), "($2.50)");
    TFormatSettings comma = DefaultFormatSettings();
    comma.DecimalSeparator = ",";
    comma.ThousandSeparator = ".";
    EXPECT_EQ(FormatWith(comma, "%.1f|%n", 3.25, 1234.5), "3,3|1.234,50");
}

TEST_F(SysUtils, FloatToStrUses15SignificantDigitsAndShortestForm) {
    EXPECT_EQ(FloatToStr(0.1 + 0.2), "0.3");
    EXPECT_EQ(FloatToStr(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(FloatToStr(2.0 / 3), "0.666666666666667");
    EXPECT_EQ(FloatToStr(0), "0");
    EXPECT_EQ(FloatToStr(-0.0), "0");
    EXPECT_EQ(FloatToStr(100), "100");
    EXPECT_EQ(FloatToStr(-12.5), "-12.5");
    EXPECT_EQ(FloatToStr(999999999999999.0), "999999999999999");
    EXPECT_EQ(FloatToStr(1e15), "1E15");
    EXPECT_EQ(FloatToStr(1.5e20), "1.5E20");
    EXPECT_EQ(FloatToStr(0.0001), "0.0001");
    EXPECT_EQ(FloatToStr(1e-5), "1E-5");
    EXPECT_EQ(FloatToStr(1.5e-5), "1.5E-5");
    EXPECT_EQ(FloatToStr(-2.25e-300), "-2.25E-300");
    EXPECT_EQ(FloatToStr(std::numeric_limits<double>::quiet_NaN()), "NAN");
    EXPECT_EQ(FloatToStr(-std::numeric_limits<double>::infinity()), "-INF");
    TFormatSettings comma = DefaultFormatSettings();
    comma.DecimalSeparator = ",";
    EXPECT_EQ(FloatToStr(1.5, comma), "1,5");
    EXPECT_EQ(FloatToStr(1.5e-7, comma), "1,5E-7");
}

TEST_F(SysUtils, StrToFloatReadsWhatFloatToStrWrites) {
    // FloatToStr keeps 15 significant digits, so the round trip is exact to that precision.
    for (double v : {0.0, 1.5, -12.25, 1e15, 1.5e-5, 123456.789, 1.0 / 3, -4.5e-300}) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.15g", v);
        EXPECT_EQ(StrToFloat(FloatToStr(v)), std::strtod(expected, nullptr)) << v;
    }
    EXPECT_DOUBLE_EQ(StrToFloat("  -2.5E3 "), -2500);
    EXPECT_DOUBLE_EQ(StrToFloat("5."), 5);
    EXPECT_DOUBLE_EQ(StrToFloat(".5"), 0.5);
    EXPECT_TRUE(std::isnan(StrToFloat("NAN")));
    EXPECT_EQ(ConvertErrorText([] { StrToFloat("1,5"); }), "'1,5' is not a valid floating point value");
    EXPECT_EQ(ConvertErrorText([] { StrToFloat(""); }), "'' is not a valid floating point value");
    EXPECT_EQ(ConvertErrorText([] { StrToFloat("1e"); }), "'1e' is not a valid floating point value");
    EXPECT_EQ(ConvertErrorText([] { StrToFloat("1.2.3"); }), "'1.2.3' is not a valid floating point value");
    EXPECT_DOUBLE_EQ(StrToFloatDef("x", 7.5), 7.5);
    TFormatSettings comma = DefaultFormatSettings();
    comma.DecimalSeparator = ",";
    EXPECT_DOUBLE_EQ(StrToFloat("1,5", comma), 1.5);
    EXPECT_THROW(StrToFloat("1.5", comma), EConvertError);
}

TEST_F(SysUtils, IntegerTextConversions) {
    EXPECT_EQ(IntToStr(-42), "-42");
    EXPECT_EQ(IntToHex(255, 4), "00FF");
    EXPECT_EQ(IntToHex(-1, 0), "FFFFFFFF");
    EXPECT_EQ(IntToHex(std::int64_t{-2}, 0), "FFFFFFFFFFFFFFFE");
    EXPECT_EQ(IntToHex(std::uint16_t{0xBEEF}, 8), "0000BEEF");
    EXPECT_EQ(StrToInt(" 123"), 123);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt("$FF"), 255);
    EXPECT_EQ(StrToInt("0x7fffffff"), INT32_MAX);
    EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
    EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(ConvertErrorText([] { StrToInt("2147483648"); }), "'2147483648' is not a valid integer value");
    EXPECT_EQ(ConvertErrorText([] { StrToInt("12a"); }), "'12a' is not a valid integer value");
    EXPECT_EQ(ConvertErrorText([] { StrToInt("12 "); }), "'12 ' is not a valid integer value");
    EXPECT_EQ(ConvertErrorText([] { StrToInt(""); }), "'' is not a valid integer value");
    EXPECT_EQ(ConvertErrorText([] { StrToInt("$"); }), "'$' is not a valid integer value");
    EXPECT_EQ(ConvertErrorText([] { StrToInt("$100000000"); }), "'$100000000' is not a valid integer value");
    EXPECT_EQ(StrToIntDef("x", -7), -7);
    EXPECT_EQ(StrToInt64Def("99999999999999999999", 5), 5);
}

TEST_F(SysUtils, BooleanWords) {
    EXPECT_EQ(BoolToStr(true, true), "True");
    EXPECT_EQ(BoolToStr(false, true), "False");
    EXPECT_EQ(BoolToStr(true), "-1");
    EXPECT_EQ(BoolToStr(false), "0");
    EXPECT_TRUE(StrToBool("true"));
    EXPECT_FALSE(StrToBool("FALSE"));
    EXPECT_TRUE(StrToBool("-1"));
    EXPECT_FALSE(StrToBool("0"));
    EXPECT_EQ(ConvertErrorText([] { StrToBool("yes"); }), "'yes' is not a valid boolean value");
}

TEST_F(SysUtils, CaseInsensitiveComparisonFoldsAsciiOnly) {
    EXPECT_EQ(CompareText("abc", "ABC"), 0);
    EXPECT_LT(CompareText("abc", "ABD"), 0);
    EXPECT_LT(CompareText("ab", "abc"), 0);
    // Folding goes to upper case, so '_' (0x5F) sorts after every letter.
    EXPECT_GT(CompareText("_", "z"), 0);
    EXPECT_TRUE(SameText("Server.List", "SERVER.list"));
    EXPECT_FALSE(SameText("\xC3\xA4", "\xC3\x84"));  // ä and Ä are not folded
    EXPECT_EQ(UpperCase("a\xC3\xA4z"), "A\xC3\xA4Z");
    EXPECT_EQ(LowerCase("ABC-1"), "abc-1");
    EXPECT_LT(CompareStr("B", "a"), 0);
    EXPECT_EQ(Trim(" \t x y \r\n"), "x y");
    EXPECT_EQ(TrimLeft("  x "), "x ");
    EXPECT_EQ(TrimRight("  x "), "  x");
}

TEST_F(SysUtils, QuotingAndUnquoting) {
    EXPECT_EQ(QuotedStr("it's"), "'it''s'");
    EXPECT_EQ(AnsiQuotedStr("a\"b", '"'), "\"a\"\"b\"");
    std::string_view src = "'x''y'/rest";
    EXPECT_EQ(AnsiExtractQuotedStr(src, '\''), "x'y");
    EXPECT_EQ(src, "/rest");
    std::string_view unquoted = "abc";
    EXPECT_EQ(AnsiExtractQuotedStr(unquoted, '\''), "");
    EXPECT_EQ(unquoted, "abc");
    std::string_view open = "'abc";
    EXPECT_EQ(AnsiExtractQuotedStr(open, '\''), "abc");
    EXPECT_TRUE(open.empty());
    EXPECT_EQ(AnsiDequotedStr("\"a\"\"b\"", '"'), "a\"b");
    EXPECT_EQ(AnsiDequotedStr("\"a\"b", '"'), "\"a\"b");
    EXPECT_EQ(AnsiDequotedStr("plain", '"'), "plain");
}

TEST_F(SysUtils, EncodeDecodeDates) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2);
    EXPECT_EQ(EncodeDate(1601, 1, 1), -109205);
    EXPECT_EQ(EncodeDate(2000, 2, 29), 36585);
    EXPECT_EQ(ConvertErrorText([] { EncodeDate(2001, 2, 29); }), "Invalid argument to date encode");
    EXPECT_EQ(ConvertErrorText([] { EncodeDate(0, 1, 1); }), "Invalid argument to date encode");
    EXPECT_EQ(ConvertErrorText([] { EncodeTime(24, 0, 0, 0); }), "Invalid argument to time encode");
    int y, m, d, h, n, s, z;
    DecodeDateTime(EncodeDate(9999, 12, 31), y, m, d, h, n, s, z);
    EXPECT_EQ((std::array{y, m, d}), (std::array{9999, 12, 31}));
    DecodeDateTime(EncodeDate(1, 1, 1), y, m, d, h, n, s, z);
    EXPECT_EQ((std::array{y, m, d}), (std::array{1, 1, 1}));
    EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 7)), 2);  // a Monday
    EXPECT_EQ(DayOfWeek(0), 7);
    EXPECT_EQ(DayOfWeek(EncodeDate(1601, 1, 1)), 2);
    EXPECT_THROW(DecodeDate(std::numeric_limits<double>::quiet_NaN(), y, m, d), EConvertError);
    EXPECT_THROW(DecodeDate(1e10, y, m, d), EConvertError);
}

TEST_F(SysUtils, NegativeDateTimesCountTheTimeForwardFromMidnight) {
    int y, m, d, h, n, s, z;
    DecodeDateTime(-1.25, y, m, d, h, n, s, z);
    EXPECT_EQ((std::array{y, m, d, h, n}), (std::array{1899, 12, 29, 6, 0}));
    TDateTime composed = ComposeDateTime(EncodeDate(1899, 12, 29), EncodeTime(6, 0, 0, 0));
    EXPECT_DOUBLE_EQ(composed, -1.25);
    SYSTEMTIME st{1601, 1, 0, 1, 12, 30, 15, 500};
    TDateTime dt = SystemTimeToDateTime(st);
    EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", dt), "1601/01/01 12:30:15.500");
    SYSTEMTIME back{};
    DateTimeToSystemTime(dt, back);
    EXPECT_EQ((std::array{back.wYear, back.wMonth, back.wDay, back.wHour, back.wMinute, back.wSecond,
                          back.wMilliseconds, back.wDayOfWeek}),
              (std::array<WORD, 8>{1601, 1, 1, 12, 30, 15, 500, 1}));
    SYSTEMTIME bad{2026, 13, 0, 1, 0, 0, 0, 0};
    EXPECT_THROW(SystemTimeToDateTime(bad), EConvertError);
}

TEST_F(SysUtils, TimeThatRoundsToMidnightMovesToTheNextDay) {
    TDateTime justBefore = EncodeDate(2026, 12, 7) + (MSecsPerDay - 0.2) / MSecsPerDay;
    EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", justBefore), "2026/12/08 00:00:00.000");
}

TEST_F(SysUtils, FormatDateTimeLetters) {
    TDateTime dt = EncodeDate(2026, 12, 7) + EncodeTime(13, 5, 9, 42);
    EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", dt), "2026/12/07 13:05:09.042");
    EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", 0), "1899/12/30 00:00:00.000");
    EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", EncodeDate(1601, 1, 1)), "1601/01/01 00:00:00.000");
    EXPECT_EQ(FormatDateTime("_yymmdd_hhnn", dt), "_261207_1305");
    EXPECT_EQ(FormatDateTime("d/m/yy h:n:s z", dt), "7/12/26 13:5:9 42");
    EXPECT_EQ(FormatDateTime("ddd dddd mmm mmmm", dt), "Mon Monday Dec December");
    // m right after an hour means minutes, also across a separator; elsewhere it is the month.
    EXPECT_EQ(FormatDateTime("hh:mm", dt), "13:05");
    EXPECT_EQ(FormatDateTime("h:m", dt), "13:5");
    EXPECT_EQ(FormatDateTime("hh:nn:ss mm", dt), "13:05:09 12");
    EXPECT_EQ(FormatDateTime("mm hh", dt), "12 13");
    EXPECT_EQ(FormatDateTime("YYYY-MM-DD HH:NN", dt), "2026-12-07 13:05");
    EXPECT_EQ(FormatDateTime("h:nn am/pm", dt), "1:05 pm");
    EXPECT_EQ(FormatDateTime("h:nn AM/PM", dt - 0.5), "1:05 AM");
    EXPECT_EQ(FormatDateTime("hh a/p", EncodeTime(0, 0, 0, 0)), "12 a");
    EXPECT_EQ(FormatDateTime("h ampm", dt), "1 PM");
    // An am/pm marker after a later hour does not turn the first hour to 12-hour.
    EXPECT_EQ(FormatDateTime("hh \"x\" hh am/pm", dt), "13 x 01 pm");
    EXPECT_EQ(FormatDateTime("'hh:nn' \"yyyy\" hh", dt), "hh:nn yyyy 13");
    EXPECT_EQ(FormatDateTime("c", dt), "2026/12/07 13:05:09");
    EXPECT_EQ(FormatDateTime("c", EncodeDate(2026, 12, 7)), "2026/12/07");
    EXPECT_EQ(FormatDateTime("ddddd t tt", dt), "2026/12/07 13:05 13:05:09");
}

TEST_F(SysUtils, FormatDateTimeUsesTheRegionalSeparators) {
    TFormatSettings german = DefaultFormatSettings();
    german.DateSeparator = ".";
    german.TimeSeparator = "-";
    german.ShortDateFormat = "dd/mm/yyyy";
    TDateTime dt = EncodeDate(2026, 12, 7) + EncodeTime(13, 5, 9, 0);
    EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss", dt, german), "2026.12.07 13-05-09");
    EXPECT_EQ(DateTimeToStr(dt, german), "07.12.2026 13-05-09");
    // A picture that names itself does not recurse without end.
    german.ShortDateFormat = "c";
    EXPECT_NO_THROW(FormatDateTime("c", dt, german));
}

TEST_F(SysUtils, DateTimeToStrUnderTheCLocale) {
    TDateTime dt = EncodeDate(2026, 12, 7) + EncodeTime(13, 5, 9, 42);
    EXPECT_EQ(DateTimeToStr(dt), "2026/12/07 13:05:09");
    EXPECT_EQ(DateTimeToStr(0), "1899/12/30");
    EXPECT_EQ(DateToStr(dt), "2026/12/07");
    EXPECT_EQ(TimeToStr(dt), "13:05:09");
}

TEST_F(SysUtils, WindowsPicturesBecomeFormatLetters) {
    EXPECT_EQ(WindowsPictureToFormat("yyyy/MM/dd"), "yyyy/mm/dd");
    EXPECT_EQ(WindowsPictureToFormat("HH:mm:ss"), "hh:nn:ss");
    EXPECT_EQ(WindowsPictureToFormat("h:mm:ss tt"), "h:nn:ss ampm");
    EXPECT_EQ(WindowsPictureToFormat("dddd, MMMM d, yyyy"), "dddd, mmmm d, yyyy");
    EXPECT_EQ(WindowsPictureToFormat("d 'de' MMMM"), "d \"de\" mmmm");
}

TEST_F(SysUtils, RegionalSettingsUnderTheCLocale) {
#ifndef _WIN32
    const char* old = std::getenv("LC_ALL");
    std::string saved = old ? old : "";
    setenv("LC_ALL", "C", 1);
    TFormatSettings s = ReadLocaleFormatSettings();
    if (old)
        setenv("LC_ALL", saved.c_str(), 1);
    else
        unsetenv("LC_ALL");
    EXPECT_EQ(s.ListSeparator, ",");
    EXPECT_EQ(s.DecimalSeparator, ".");
    EXPECT_EQ(s.DateSeparator, "/");
    EXPECT_EQ(s.TimeSeparator, ":");
    EXPECT_EQ(s.ShortDateFormat, "yyyy/mm/dd");
    EXPECT_EQ(s.LongTimeFormat, "hh:nn:ss");
    EXPECT_EQ(s.ShortTimeFormat, "hh:nn");
#endif
}

TEST_F(SysUtils, NowIsTodayInLocalTime) {
    TDateTime before = Now();
    TDateTime today = Date();
    EXPECT_GE(before, EncodeDate(2020, 1, 1));
    EXPECT_LE(today, Now());
    EXPECT_EQ(today, std::trunc(today));
}

}  // namespace
}  // namespace nv
