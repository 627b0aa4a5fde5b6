// Text formatting and parsing shared by the whole program: `Format` with the program's
// "%s.%s: Result=$%x (%s)"-style formats, number texts, Boolean words, case-insensitive
// comparison, quoting, and date-time values with their formatting letters.
//
// Regional settings (separators, date and time pictures, currency) are read once from the
// system into `FormatSettings()`; tests replace them with `SetFormatSettings`.
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "foundation/NvExceptions.h"
#include "platform/win32.h"

namespace nv {

// ---------------------------------------------------------------------------------------------
// Regional settings

struct TFormatSettings {
    std::string ListSeparator = ",";
    std::string DecimalSeparator = ".";
    std::string ThousandSeparator = ",";
    std::string DateSeparator = "/";
    std::string TimeSeparator = ":";
    // Pictures in this program's date-time letters (see FormatDateTime).
    std::string ShortDateFormat = "yyyy/mm/dd";
    std::string LongDateFormat = "dddd, mmmm d, yyyy";
    std::string ShortTimeFormat = "hh:nn";
    std::string LongTimeFormat = "hh:nn:ss";
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
    std::string CurrencyString = "$";
    int CurrencyFormat = 0;  // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
    int NegCurrFormat = 0;   // 0 "($1)" ... 15 "(1 $)", as the Windows setting
    int CurrencyDecimals = 2;
    std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> LongMonthNames{"January",   "February", "March",    "April",
                                               "May",       "June",     "July",     "August",
                                               "September", "October",  "November", "December"};
    std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
};

// The settings of the C locale; the defaults of the struct above.
TFormatSettings DefaultFormatSettings();
// Reads the user's settings through GetLocaleInfoW(LOCALE_USER_DEFAULT, ...); a value the system
// does not give keeps its default.
TFormatSettings ReadLocaleFormatSettings();
// The process-wide settings, read from the system on first use.
const TFormatSettings& FormatSettings();
void SetFormatSettings(const TFormatSettings& settings);
// Converts a Windows date or time picture ("yyyy/MM/dd", "HH:mm:ss", "h:mm:ss tt") to this
// program's letters ("yyyy/mm/dd", "hh:nn:ss", "h:nn:ss ampm").
std::string WindowsPictureToFormat(std::string_view picture);

// ---------------------------------------------------------------------------------------------
// Format

// One argument of Format. Built implicitly from integers (the width is kept: a negative 32-bit
// value prints as 8 hex digits, a 64-bit one as 16), floating point values, strings and pointers.
class TFormatArg {
public:
    enum class Kind { Integer, Unsigned, Float, String, Pointer, Invalid };

    template <class T>
    requires(std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char>) TFormatArg(T value)
        : kind_(std::is_signed_v<T> ? Kind::Integer : Kind::Unsigned), wide_(sizeof(T) > 4) {
        if constexpr (std::is_signed_v<T>)
            int_ = static_cast<std::int64_t>(value);
        else
            uint_ = static_cast<std::uint64_t>(value);
    }
    template <class T>
    requires std::is_enum_v<T> TFormatArg(T value)
        : TFormatArg(static_cast<std::underlying_type_t<T>>(value)) {}
    // A single character reads as a one-character string, as in "%s".
    TFormatArg(char c) : kind_(Kind::String), text_(&char_, 1), char_(c) {}
    // Booleans fit no format letter; "%s" of BoolToStr(b, true) is the way to print one.
    TFormatArg(bool) : kind_(Kind::Invalid) {}
    TFormatArg(double value) : kind_(Kind::Float), float_(value) {}
    TFormatArg(float value) : kind_(Kind::Float), float_(value) {}
    TFormatArg(long double value) : kind_(Kind::Float), float_(static_cast<double>(value)) {}
    TFormatArg(const char* text)
        : kind_(Kind::String), text_(text ? std::string_view(text) : std::string_view()) {}
    TFormatArg(const std::string& text) : kind_(Kind::String), text_(text) {}
    TFormatArg(std::string_view text) : kind_(Kind::String), text_(text) {}
    // Wide text must be converted (ToUtf8) first; refusing it here turns a "%s" that would fail
    // at run time into a compile error.
    TFormatArg(const char16_t*) = delete;
    TFormatArg(const wchar_t*) = delete;
    TFormatArg(std::nullptr_t) : kind_(Kind::Pointer), pointer_(nullptr) {}
    template <class T>
    requires(!std::same_as<std::remove_cv_t<T>, char> && !std::same_as<std::remove_cv_t<T>, char16_t> &&
             !std::same_as<std::remove_cv_t<T>, wchar_t>) TFormatArg(T* pointer)
        : kind_(Kind::Pointer), pointer_(pointer) {}

    // Copies would leave text_ pointing into the source's char_.
    TFormatArg(const TFormatArg&) = delete;
    TFormatArg& operator=(const TFormatArg&) = delete;

    Kind GetKind() const { return kind_; }
    bool Wide() const { return wide_; }
    std::int64_t Int() const { return int_; }
    std::uint64_t UInt() const { return uint_; }
    double Float() const { return float_; }
    std::string_view Text() const { return text_; }
    const void* Pointer() const { return pointer_; }

private:
    Kind kind_;
    bool wide_ = false;
    std::int64_t int_ = 0;
    std::uint64_t uint_ = 0;
    double float_ = 0;
    std::string_view text_;
    const void* pointer_ = nullptr;
    char char_ = 0;
};

// Format specifiers: "%" [index ":"] ["-"] [width] ["." precision] type, where index, width and
// precision are decimal numbers or "*" (taken from the next integer argument), and type is one of
//   d  signed decimal; precision = minimum digits, zero-padded
//   u  unsigned decimal (a negative value as its unsigned bit pattern)
//   x  upper-case hexadecimal, no leading zeros unless a precision asks for them ("%.8x")
//   s  string; precision = maximum characters
//   f  fixed, precision decimals (default 2)     e  scientific, precision significant digits (15)
//   g  shortest of fixed and scientific (15)     n  like f with thousand separators
//   m  currency in the regional currency format  p  pointer, 16 hex digits
// "%%" is a percent sign. Letters may be written in either case. An index re-uses an argument
// ("%0:s"); the following specifiers continue after it. A type that does not fit its argument,
// or a broken specifier, raises EConvertError "Format '<format>' invalid or incompatible with
// argument"; a missing argument raises EConvertError "No argument for format '<format>'".
std::string FormatV(std::string_view format, std::span<const TFormatArg* const> args,
                    const TFormatSettings& settings);

template <class... Args>
std::string Format(std::string_view format, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return FormatV(format, {}, FormatSettings());
    } else {
        const TFormatArg holders[] = {TFormatArg(args)...};
        std::array<const TFormatArg*, sizeof...(Args)> pointers;
        for (std::size_t i = 0; i < sizeof...(Args); ++i)
            pointers[i] = &holders[i];
        return FormatV(format, pointers, FormatSettings());
    }
}

template <class... Args>
std::string FormatWith(const TFormatSettings& settings, std::string_view format, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return FormatV(format, {}, settings);
    } else {
        const TFormatArg holders[] = {TFormatArg(args)...};
        std::array<const TFormatArg*, sizeof...(Args)> pointers;
        for (std::size_t i = 0; i < sizeof...(Args); ++i)
            pointers[i] = &holders[i];
        return FormatV(format, pointers, settings);
    }
}

// ---------------------------------------------------------------------------------------------
// Numbers

std::string IntToStr(std::int64_t value);
// Upper-case hex, at least `digits` digits. The value's own width decides how a negative number
// reads: IntToHex(-1, 0) of a 32-bit int is "FFFFFFFF", of a 64-bit one 16 F's.
template <std::integral T>
std::string IntToHex(T value, int digits = 0);
std::string UIntToHex(std::uint64_t value, int digits);

// Decimal, or hexadecimal with "$", "0x" or "0X"; an optional sign; blanks before the number are
// skipped. Out-of-range or malformed text raises EConvertError "'<text>' is not a valid integer
// value".
std::int32_t StrToInt(std::string_view text);
std::int64_t StrToInt64(std::string_view text);
std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback);
std::int64_t StrToInt64Def(std::string_view text, std::int64_t fallback);
bool TryStrToInt(std::string_view text, std::int32_t& value);
bool TryStrToInt64(std::string_view text, std::int64_t& value);

// 15 significant digits, trailing zeros dropped, scientific form ("1E15", "1.5E-5") when the
// decimal exponent is above 15 or the value is below 0.0001; the regional decimal separator.
// NaN and infinities read "NAN", "INF" and "-INF".
std::string FloatToStr(double value);
std::string FloatToStr(double value, const TFormatSettings& settings);
enum TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };
// `precision`: significant digits (ffGeneral, ffExponent), 1..18; for the fixed forms the most
// integer digits shown before switching to scientific form. `digits`: minimum
// exponent digits (ffGeneral, ffExponent) or decimals (ffFixed, ffNumber, ffCurrency).
std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits,
                        const TFormatSettings& settings);
// Blanks around the number are allowed; the decimal separator is the regional one, no thousand
// separators; "NAN", "INF" and "-INF" read back what FloatToStr writes. Raises EConvertError "'<text>' is not
// a valid floating point value".
double StrToFloat(std::string_view text);
double StrToFloat(std::string_view text, const TFormatSettings& settings);
double StrToFloatDef(std::string_view text, double fallback);
bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& settings);

// "True"/"False" with useBoolStrs; otherwise "-1"/"0".
std::string BoolToStr(bool value, bool useBoolStrs = false);
// "True"/"False" in any letter case, or a number (non-zero is true); EConvertError
// "'<text>' is not a valid boolean value" otherwise.
bool StrToBool(std::string_view text);

// ---------------------------------------------------------------------------------------------
// Text

// Trim removes characters up to and including the blank (control characters too) at both ends.
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);
// Only 'a'..'z' and 'A'..'Z' change; other bytes, UTF-8 sequences included, stay as they are.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// Byte-wise comparison after folding 'a'..'z' to upper case: < 0, 0 or > 0.
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);
// Plain byte-wise comparison: < 0, 0 or > 0.
int CompareStr(std::string_view a, std::string_view b);

// "'" + text with every "'" doubled + "'".
std::string QuotedStr(std::string_view text);
std::string AnsiQuotedStr(std::string_view text, char quote);
// Reads a quoted string at the start of `source`: if it does not start with `quote`, returns ""
// and leaves it alone; otherwise returns the text up to the closing quote with doubled quotes
// made single and advances `source` past the closing quote (to the end when there is none).
std::string AnsiExtractQuotedStr(std::string_view& source, char quote);
// The text without its quotes if it is quoted, else the text itself.
std::string AnsiDequotedStr(std::string_view text, char quote);

// ---------------------------------------------------------------------------------------------
// Date and time: days since 1899-12-30 00:00, the fraction being the time of day. Before
// 1899-12-30 the value is negative but the fraction still counts forwards from midnight:
// -1.25 is 1899-12-29 06:00.

using TDateTime = double;

constexpr double HoursPerDay = 24;
constexpr double MinsPerDay = 24 * 60;
constexpr double SecsPerDay = 24 * 60 * 60;
constexpr double MSecsPerDay = 24.0 * 60 * 60 * 1000;

// Local time of the system clock.
TDateTime Now();
TDateTime Date();
TDateTime Time();

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// Years 1..9999. EConvertError "Invalid argument to date encode" / "... time encode".
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result);
// Joins a date and a time of day, honouring the rule for dates before 1899-12-30.
TDateTime ComposeDateTime(TDateTime date, TDateTime time);
// The millisecond is rounded; a time that rounds up to midnight moves to the next day.
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& millisecond);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime value);
void DateTimeToSystemTime(TDateTime value, SYSTEMTIME& st);
// Raises EConvertError for an impossible date or time.
TDateTime SystemTimeToDateTime(const SYSTEMTIME& st);

// Formatting letters, in either case:
//   c       ShortDateFormat, then a blank and LongTimeFormat unless the time is exactly midnight
//   d dd    day, dd zero-padded      ddd dddd short/long day name    ddddd dddddd short/long date
//   m mm    month (minute if right after an h or hh)   mmm mmmm short/long month name
//   yy yyyy two- or four-digit year
//   h hh    hour (0..23, or 1..12 with an am/pm letter group anywhere in the format)
//   n nn    minute    s ss  second    z zzz  millisecond, zzz zero-padded to 3
//   t tt    ShortTimeFormat / LongTimeFormat
//   am/pm a/p  "am"/"pm" or "a"/"p" in the letter case written    ampm  TimeAMString/TimePMString
//   /  :    the regional date / time separator
//   "..." '...'  literal text; any other character is copied.
std::string FormatDateTime(std::string_view format, TDateTime value);
std::string FormatDateTime(std::string_view format, TDateTime value, const TFormatSettings& settings);
// FormatDateTime("c", value): short date and long time.
std::string DateTimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value, const TFormatSettings& settings);
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);

// ---------------------------------------------------------------------------------------------

template <std::integral T>
std::string IntToHex(T value, int digits) {
    using U = std::make_unsigned_t<T>;
    return UIntToHex(static_cast<std::uint64_t>(static_cast<U>(value)), digits);
}

}  // namespace nv
