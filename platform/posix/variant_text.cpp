// Text and calendar side of the value conversions: reading and writing numbers and dates the
// way the user's regional settings say, and the DATE calendar arithmetic.
//
// Formatting and parsing never go through printf/strtod: a GUI toolkit in the same process
// may switch the C library's locale, and the regional settings must come from one place only.
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/posix/locale.h"
#include "platform/posix/variant_internal.h"

namespace nv::oleaut {

namespace {

// The ideographic space is what an East Asian keyboard types for a blank.
bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0xA0 || c == 0x202F || c == 0x3000;
}

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

bool IsLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c >= 0xC0;
}

char16_t Upper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool SameText(const WideString& a, const WideString& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i]))
            return false;
    return true;
}

bool Matches(const WideString& s, size_t pos, size_t end, const WideString& what) {
    return !what.empty() && pos + what.size() <= end && s.compare(pos, what.size(), what) == 0;
}

WideString Ascii(const char* text) {
    return WideString(text, text + std::strlen(text));
}

WideString Digits(UInt128 value) {
    char buf[48];
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + static_cast<int>(value % 10));
        value /= 10;
    } while (value != 0);
    WideString out;
    while (n > 0)
        out.push_back(static_cast<char16_t>(buf[--n]));
    return out;
}

constexpr int kKeptDigits = 30;
constexpr int kExponentCap = 100000;

}  // namespace

WideString LocaleText(LCID lcid, DWORD type, const char16_t* fallback) {
    WCHAR buf[128];
    int n = GetLocaleInfoW(lcid, type, buf, 128);
    if (n <= 0)
        return WideString(fallback);
    return WideString(buf, static_cast<size_t>(n - 1));
}

HRESULT ParseNumber(const OLECHAR* text, LCID lcid, ExactNumber& out) {
    out = ExactNumber{};
    if (text == nullptr)
        return DISP_E_TYPEMISMATCH;
    const WideString s(text);
    size_t i = 0, end = s.size();
    while (i < end && IsBlank(s[i]))
        ++i;
    while (end > i && IsBlank(s[end - 1]))
        --end;
    if (i == end)
        return DISP_E_TYPEMISMATCH;

    const WideString decimal = LocaleText(lcid, LOCALE_SDECIMAL, u".");
    const WideString thousand = LocaleText(lcid, LOCALE_STHOUSAND, u",");
    // Where thousands are grouped with a no-break space (French), a typed plain space groups too.
    const bool spaceGroups = thousand == u"\u00A0" || thousand == u"\u202F";
    const WideString currency = LocaleText(lcid, LOCALE_SCURRENCY, u"");
    auto skipBlanks = [&] {
        while (i < end && IsBlank(s[i]))
            ++i;
        while (end > i && IsBlank(s[end - 1]))
            --end;
    };

    bool signSeen = false;
    if (s[i] == u'(' && s[end - 1] == u')') {
        out.negative = true;
        signSeen = true;
        ++i;
        --end;
        skipBlanks();
    }
    // A sign and the currency symbol may lead in either order, or trail.
    for (int round = 0; round < 2; ++round) {
        if (!signSeen && i < end && (s[i] == u'+' || s[i] == u'-')) {
            out.negative = s[i] == u'-';
            signSeen = true;
            ++i;
            skipBlanks();
        } else if (Matches(s, i, end, currency)) {
            i += currency.size();
            skipBlanks();
        }
        if (!signSeen && end > i && (s[end - 1] == u'+' || s[end - 1] == u'-')) {
            out.negative = s[end - 1] == u'-';
            signSeen = true;
            --end;
            skipBlanks();
        } else if (currency.size() <= end - i && Matches(s, end - currency.size(), end, currency)) {
            end -= currency.size();
            skipBlanks();
        }
    }
    if (i == end)
        return DISP_E_TYPEMISMATCH;

    if (s[i] == u'&' && i + 1 < end) {
        const char16_t kind = Upper(s[i + 1]);
        const int base = kind == u'H' ? 16 : kind == u'O' ? 8 : 0;
        if (base == 0)
            return DISP_E_TYPEMISMATCH;
        i += 2;
        if (i == end)
            return DISP_E_TYPEMISMATCH;
        UInt128 value = 0;
        for (; i < end; ++i) {
            const char16_t c = Upper(s[i]);
            int d;
            if (IsDigit(c))
                d = c - u'0';
            else if (base == 16 && c >= u'A' && c <= u'F')
                d = c - u'A' + 10;
            else
                return DISP_E_TYPEMISMATCH;
            if (d >= base)
                return DISP_E_TYPEMISMATCH;
            // Far beyond any integer type; kept saturated so the range checks report overflow.
            if (value < (static_cast<UInt128>(1) << 100))
                value = value * base + d;
        }
        out.digits = value;
        out.hexOrOctal = true;
        return S_OK;
    }

    int kept = 0, seen = 0;
    bool inFraction = false;
    while (i < end) {
        const char16_t c = s[i];
        if (IsDigit(c)) {
            const int d = c - u'0';
            ++seen;
            if (out.digits == 0 && d == 0) {
                if (inFraction)
                    --out.exp10;
            } else if (kept < kKeptDigits) {
                out.digits = out.digits * 10 + static_cast<unsigned>(d);
                ++kept;
                if (inFraction)
                    --out.exp10;
            } else {
                if (!inFraction)
                    ++out.exp10;
                if (d != 0)
                    out.sticky = true;
            }
            ++i;
        } else if (!inFraction && seen > 0 && Matches(s, i, end, thousand) && i + thousand.size() < end &&
                   IsDigit(s[i + thousand.size()])) {
            i += thousand.size();
        } else if (!inFraction && seen > 0 && spaceGroups && c == u' ' && i + 1 < end && IsDigit(s[i + 1])) {
            ++i;
        } else if (!inFraction && Matches(s, i, end, decimal)) {
            inFraction = true;
            i += decimal.size();
        } else {
            break;
        }
    }
    if (seen == 0)
        return DISP_E_TYPEMISMATCH;
    if (i < end && (Upper(s[i]) == u'E' || Upper(s[i]) == u'D')) {
        ++i;
        bool negativeExponent = false;
        if (i < end && (s[i] == u'+' || s[i] == u'-'))
            negativeExponent = s[i++] == u'-';
        if (i == end || !IsDigit(s[i]))
            return DISP_E_TYPEMISMATCH;
        int exponent = 0;
        for (; i < end && IsDigit(s[i]); ++i)
            if (exponent < kExponentCap)
                exponent = exponent * 10 + (s[i] - u'0');
        out.exp10 += negativeExponent ? -exponent : exponent;
    }
    if (i != end)
        return DISP_E_TYPEMISMATCH;
    return S_OK;
}

HRESULT ExactToDouble(const ExactNumber& n, double& out) {
    if (n.digits == 0) {
        out = 0.0;
        return S_OK;
    }
    WideString digits = Digits(n.digits);
    std::string text(digits.begin(), digits.end());
    text += 'e';
    text += std::to_string(n.exp10);
    double value = 0.0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Out of range either way: huge overflows, tiny underflows to zero.
        if (static_cast<long long>(digits.size()) + n.exp10 > 0)
            return DISP_E_OVERFLOW;
        value = 0.0;
    } else if (result.ec != std::errc() || std::isinf(value)) {
        return DISP_E_OVERFLOW;
    }
    out = n.negative ? -value : value;
    return S_OK;
}

WideString FormatReal(double value, int significant, LCID lcid) {
    if (std::isnan(value))
        return u"1.#QNAN";
    if (std::isinf(value))
        return value < 0 ? u"-1.#INF" : u"1.#INF";
    if (value == 0.0)
        return u"0";  // negative zero reads as plain 0
    char buf[64];
    auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, significant);
    const WideString decimal = LocaleText(lcid, LOCALE_SDECIMAL, u".");
    WideString out;
    for (char* p = buf; p != result.ptr; ++p) {
        if (*p == '.')
            out += decimal;
        else if (*p == 'e')
            out += u'E';
        else
            out += static_cast<char16_t>(*p);
    }
    return out;
}

WideString FormatInteger(Int128 value) {
    if (value < 0)
        return u"-" + Digits(static_cast<UInt128>(-(value + 1)) + 1);
    return Digits(static_cast<UInt128>(value));
}

WideString FormatScaled(UInt128 magnitude, int scale, bool negative, LCID lcid) {
    WideString digits = Digits(magnitude);
    if (static_cast<int>(digits.size()) <= scale)
        digits.insert(0, scale + 1 - digits.size(), u'0');
    WideString whole = digits.substr(0, digits.size() - scale);
    WideString fraction = digits.substr(digits.size() - scale);
    while (!fraction.empty() && fraction.back() == u'0')
        fraction.pop_back();
    WideString out = (negative && magnitude != 0) ? u"-" : u"";
    out += whole;
    if (!fraction.empty())
        out += LocaleText(lcid, LOCALE_SDECIMAL, u".") + fraction;
    return out;
}

// ---- Calendar --------------------------------------------------------------------------------

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& year, int& month, int& day) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

const long long kDateEpoch = DaysFromCivil(1899, 12, 30);

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0))
        return 29;
    return days[month - 1];
}

const char* const kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};
const char* const kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

WideString Padded(int value, int width) {
    WideString digits = Digits(static_cast<UInt128>(value < 0 ? -value : value));
    if (static_cast<int>(digits.size()) < width)
        digits.insert(0, width - digits.size(), u'0');
    return digits;
}

// Renders a Windows date/time picture (d, dd, ddd, dddd, M..MMMM, y, yy, yyyy, h, hh, H, HH,
// m, mm, s, ss, t, tt, 'literal').
WideString RenderPicture(const WideString& picture, const SYSTEMTIME& st, LCID lcid) {
    WideString out;
    for (size_t i = 0; i < picture.size();) {
        const char16_t c = picture[i];
        if (c == u'\'') {
            ++i;
            while (i < picture.size()) {
                if (picture[i] == u'\'') {
                    if (i + 1 < picture.size() && picture[i + 1] == u'\'') {
                        out += u'\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                out += picture[i++];
            }
            continue;
        }
        size_t run = 1;
        while (i + run < picture.size() && picture[i + run] == c)
            ++run;
        switch (c) {
            case u'd':
                if (run <= 2)
                    out += Padded(st.wDay, static_cast<int>(run));
                else
                    out += run == 3 ? Ascii(kDayNames[st.wDayOfWeek]).substr(0, 3)
                                    : Ascii(kDayNames[st.wDayOfWeek]);
                break;
            case u'M':
                if (run <= 2)
                    out += Padded(st.wMonth, static_cast<int>(run));
                else
                    out += run == 3 ? Ascii(kMonthNames[st.wMonth - 1]).substr(0, 3)
                                    : Ascii(kMonthNames[st.wMonth - 1]);
                break;
            case u'y':
                if (run <= 2)
                    out += Padded(st.wYear % 100, static_cast<int>(run));
                else
                    out += Padded(st.wYear, 4);
                break;
            case u'h': {
                int hour = st.wHour % 12;
                out += Padded(hour == 0 ? 12 : hour, run >= 2 ? 2 : 1);
                break;
            }
            case u'H':
                out += Padded(st.wHour, run >= 2 ? 2 : 1);
                break;
            case u'm':
                out += Padded(st.wMinute, run >= 2 ? 2 : 1);
                break;
            case u's':
                out += Padded(st.wSecond, run >= 2 ? 2 : 1);
                break;
            case u't': {
                WideString marker = st.wHour < 12 ? LocaleText(lcid, LOCALE_S1159, u"AM")
                                                  : LocaleText(lcid, LOCALE_S2359, u"PM");
                out += run == 1 ? marker.substr(0, 1) : marker;
                break;
            }
            case u'g':
                break;  // era: none in the Gregorian calendar
            default:
                out.append(run, c);
                break;
        }
        i += run;
    }
    return out;
}

}  // namespace

bool DateToSystemTime(DATE value, SYSTEMTIME& out) {
    if (!(value > NV_DATE_MIN - 1.0 && value < NV_DATE_MAX + 1.0))
        return false;
    const double whole = std::trunc(value);
    const double fraction = std::fabs(value - whole);
    long long day = static_cast<long long>(whole);
    long long seconds = static_cast<long long>(std::floor(fraction * 86400.0 + 0.5));
    if (seconds >= 86400) {
        seconds -= 86400;
        ++day;
    }
    int year, month, dayOfMonth;
    CivilFromDays(day + kDateEpoch, year, month, dayOfMonth);
    out.wYear = static_cast<WORD>(year);
    out.wMonth = static_cast<WORD>(month);
    out.wDay = static_cast<WORD>(dayOfMonth);
    out.wDayOfWeek = static_cast<WORD>(((day % 7) + 7 + 6) % 7);  // day 0 was a Saturday
    out.wHour = static_cast<WORD>(seconds / 3600);
    out.wMinute = static_cast<WORD>(seconds / 60 % 60);
    out.wSecond = static_cast<WORD>(seconds % 60);
    out.wMilliseconds = 0;
    return true;
}

bool SystemTimeToDate(int year, int month, int day, int hour, int minute, int second, DATE& out) {
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    const double index = static_cast<double>(DaysFromCivil(year, month, day) - kDateEpoch);
    const double time = (hour * 3600 + minute * 60 + second) / 86400.0;
    out = index >= 0 ? index + time : index - time;
    return true;
}

HRESULT FormatDate(DATE value, LCID lcid, DWORD flags, WideString& out) {
    SYSTEMTIME st;
    if (!DateToSystemTime(value, st))
        return E_INVALIDARG;
    const double whole = std::trunc(value);
    bool showDate = true, showTime = true;
    if (flags & VAR_TIMEVALUEONLY)
        showDate = false;
    else if (flags & VAR_DATEVALUEONLY)
        showTime = false;
    else if (whole == 0.0)
        showDate = false;
    else if (value == whole)
        showTime = false;
    out.clear();
    if (showDate)
        out += RenderPicture(LocaleText(lcid, LOCALE_SSHORTDATE, u"yyyy/MM/dd"), st, lcid);
    if (showTime) {
        if (!out.empty())
            out += u' ';
        out += RenderPicture(LocaleText(lcid, LOCALE_STIMEFORMAT, u"HH:mm:ss"), st, lcid);
    }
    return S_OK;
}

// ---- Reading dates ---------------------------------------------------------------------------

namespace {

struct Token {
    enum Kind { Number, Word, Separator } kind = Separator;
    int value = 0;
    int width = 0;  // digits written
    WideString text;
};

int MonthFromName(const WideString& word) {
    for (int m = 0; m < 12; ++m) {
        WideString full = Ascii(kMonthNames[m]);
        if (SameText(word, full) || SameText(word, full.substr(0, 3)))
            return m + 1;
    }
    return 0;
}

bool IsDayName(const WideString& word) {
    for (const char* name : kDayNames) {
        WideString full = Ascii(name);
        if (SameText(word, full) || SameText(word, full.substr(0, 3)))
            return true;
    }
    return false;
}

}  // namespace

// Years below 100 are two-digit years, read in Windows' default window 1950-2049 ("049" too).
int WindowedYear(int year) {
    if (year >= 0 && year < 100)
        return year < 50 ? 2000 + year : 1900 + year;
    return year;
}

namespace {

int FullYear(const Token& t) {
    return WindowedYear(t.value);
}

// A date separator (and a comma) stands between two parts of the date: one that leads, trails
// or follows another separator makes the text malformed ("-1.1" is a signed number, not a
// time; "1//2/2023" and "2023-01-02-" are typing errors). Only a comma may lead, as in Windows.
bool SeparatorsStandBetweenParts(const std::vector<Token>& tokens) {
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.kind != Token::Separator || t.text == u":")
            continue;
        const bool partBefore = i > 0 && tokens[i - 1].kind != Token::Separator;
        const bool partAfter = i + 1 < tokens.size() && tokens[i + 1].kind != Token::Separator;
        if (!partAfter || (!partBefore && !(i == 0 && t.text == u",")))
            return false;
    }
    return true;
}

int CurrentYear() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

}  // namespace

HRESULT ParseDate(const OLECHAR* text, LCID lcid, DWORD flags, DATE& out) {
    if (text == nullptr)
        return DISP_E_TYPEMISMATCH;
    const WideString s(text);
    const WideString timeSep = LocaleText(lcid, LOCALE_STIME, u":");
    const WideString dateSep = LocaleText(lcid, LOCALE_SDATE, u"/");
    const WideString am = LocaleText(lcid, LOCALE_S1159, u"AM");
    const WideString pm = LocaleText(lcid, LOCALE_S2359, u"PM");
    const WideString order = LocaleText(lcid, LOCALE_IDATE, u"2");

    std::vector<Token> tokens;
    for (size_t i = 0; i < s.size();) {
        const char16_t c = s[i];
        if (IsBlank(c)) {
            ++i;
        } else if (IsDigit(c)) {
            Token t;
            t.kind = Token::Number;
            while (i < s.size() && IsDigit(s[i])) {
                if (t.width < 9)
                    t.value = t.value * 10 + (s[i] - u'0');
                ++t.width;
                ++i;
            }
            tokens.push_back(t);
        } else if (IsLetter(c)) {
            Token t;
            t.kind = Token::Word;
            while (i < s.size() && (IsLetter(s[i]) || s[i] == u'.'))
                t.text += s[i++];
            while (!t.text.empty() && t.text.back() == u'.')
                t.text.pop_back();
            tokens.push_back(t);
        } else {
            Token t;
            t.kind = Token::Separator;
            if (Matches(s, i, s.size(), timeSep)) {
                t.text = u":";
                i += timeSep.size();
            } else if (c == u'.' && dateSep != u".") {
                // Where the dot does not separate dates it separates hours and minutes ("2.5").
                t.text = u":";
                ++i;
            } else if (Matches(s, i, s.size(), dateSep)) {
                t.text = u"/";
                i += dateSep.size();
            } else {
                t.text = WideString(1, c);
                ++i;
            }
            tokens.push_back(t);
        }
    }

    if (!SeparatorsStandBetweenParts(tokens))
        return DISP_E_TYPEMISMATCH;

    std::vector<Token> dateNumbers;
    int month = 0, hour = -1, minute = 0, second = 0;
    bool haveTime = false, morning = false, afternoon = false;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.kind == Token::Number) {
            const bool startsTime = i + 2 < tokens.size() && tokens[i + 1].kind == Token::Separator &&
                                    tokens[i + 1].text == u":" && tokens[i + 2].kind == Token::Number;
            const bool hourWithMarker =
                i + 1 < tokens.size() && tokens[i + 1].kind == Token::Word &&
                (SameText(tokens[i + 1].text, am) || SameText(tokens[i + 1].text, pm) ||
                 SameText(tokens[i + 1].text, u"AM") || SameText(tokens[i + 1].text, u"PM"));
            if (startsTime && !haveTime) {
                haveTime = true;
                hour = t.value;
                minute = tokens[i + 2].value;
                i += 2;
                if (i + 2 < tokens.size() && tokens[i + 1].kind == Token::Separator &&
                    tokens[i + 1].text == u":" && tokens[i + 2].kind == Token::Number) {
                    second = tokens[i + 2].value;
                    i += 2;
                }
            } else if (hourWithMarker && !haveTime) {
                haveTime = true;
                hour = t.value;
            } else {
                dateNumbers.push_back(t);
            }
        } else if (t.kind == Token::Word) {
            if (SameText(t.text, am) || SameText(t.text, u"AM") || SameText(t.text, u"A")) {
                morning = true;
            } else if (SameText(t.text, pm) || SameText(t.text, u"PM") || SameText(t.text, u"P")) {
                afternoon = true;
            } else if (int m = MonthFromName(t.text); m != 0 && month == 0) {
                month = m;
            } else if (IsDayName(t.text) || SameText(t.text, u"T")) {
                // weekday names and the ISO date/time separator carry no information
            } else {
                return DISP_E_TYPEMISMATCH;
            }
        } else {
            const char16_t c = t.text[0];
            // A leftover time separator (a fourth time field, fractions of a second) is refused.
            if (c != u'/' && c != u'-' && c != u'.' && c != u',')
                return DISP_E_TYPEMISMATCH;
        }
    }
    if ((morning || afternoon) && !haveTime)
        return DISP_E_TYPEMISMATCH;
    if (morning && afternoon)
        return DISP_E_TYPEMISMATCH;
    // The marker only applies to the 12-hour range; "13:00 AM" is 13:00.
    if (haveTime && hour <= 12) {
        if (morning && hour == 12)
            hour = 0;
        if (afternoon && hour < 12)
            hour += 12;
    }

    int year = 0, day = 0;
    const size_t n = dateNumbers.size();
    auto valid = [](int y, int m, int d) {
        return m >= 1 && m <= 12 && y >= 100 && y <= 9999 && d >= 1 && d <= DaysInMonth(y, m);
    };
    if (n == 0) {
        if (month != 0 || !haveTime)
            return DISP_E_TYPEMISMATCH;
    } else if (month != 0) {
        if (n == 1) {
            if (dateNumbers[0].width >= 3 || dateNumbers[0].value > 31) {
                year = FullYear(dateNumbers[0]);  // "Jan 35" is January 1935
                day = 1;
            } else {
                day = dateNumbers[0].value;
                year = CurrentYear();
            }
        } else if (n == 2) {
            const bool firstIsYear = dateNumbers[0].width >= 3 || dateNumbers[0].value > 31;
            day = dateNumbers[firstIsYear ? 1 : 0].value;
            year = FullYear(dateNumbers[firstIsYear ? 0 : 1]);
        } else {
            return DISP_E_TYPEMISMATCH;
        }
        if (!valid(year, month, day))
            return DISP_E_TYPEMISMATCH;
    } else if (n == 3) {
        const Token &a = dateNumbers[0], &b = dateNumbers[1], &c = dateNumbers[2];
        struct Candidate {
            int y, m, d;
        };
        std::vector<Candidate> candidates;
        if (a.width >= 3 || a.value > 31) {
            candidates.push_back({FullYear(a), b.value, c.value});
        } else {
            const Candidate mdy{FullYear(c), a.value, b.value}, dmy{FullYear(c), b.value, a.value},
                ymd{FullYear(a), b.value, c.value};
            // The regional order first, then the others ("14 2 3" in month-first order is
            // 2014-02-03, not 3 February).
            if (order == u"1")
                candidates = {dmy, mdy, ymd};
            else if (order == u"2")
                candidates = {ymd, mdy, dmy};
            else
                candidates = {mdy, ymd, dmy};
        }
        bool found = false;
        for (const Candidate& cand : candidates) {
            if (valid(cand.y, cand.m, cand.d)) {
                year = cand.y;
                month = cand.m;
                day = cand.d;
                found = true;
                break;
            }
        }
        if (!found)
            return DISP_E_TYPEMISMATCH;
    } else if (n == 2) {
        const Token &a = dateNumbers[0], &b = dateNumbers[1];
        if (a.width >= 3 || a.value > 31) {
            year = a.value;
            month = b.value;
            day = 1;
        } else if (b.width >= 3 || b.value > 31) {
            month = a.value;
            year = b.value;
            day = 1;
        } else {
            year = CurrentYear();
            if (order == u"1") {
                day = a.value;
                month = b.value;
            } else {
                month = a.value;
                day = b.value;
            }
            if (!valid(year, month, day))
                std::swap(day, month);
            // Two numbers that cannot be a day and a month are a year and a month.
            if (!valid(year, month, day)) {
                day = 1;
                if (b.value >= 1 && b.value <= 12) {
                    year = FullYear(a);
                    month = b.value;
                } else {
                    month = a.value;
                    year = FullYear(b);
                }
            }
        }
        if (!valid(year, month, day))
            return DISP_E_TYPEMISMATCH;
    } else {
        return DISP_E_TYPEMISMATCH;
    }

    if (!haveTime)
        hour = 0;
    if (flags & VAR_DATEVALUEONLY)
        hour = minute = second = 0;
    if (n == 0 || (flags & VAR_TIMEVALUEONLY)) {
        // A time alone is a time on day 0.
        if (hour > 23 || minute > 59 || second > 59)
            return DISP_E_TYPEMISMATCH;
        out = (hour * 3600 + minute * 60 + second) / 86400.0;
        return S_OK;
    }
    if (!SystemTimeToDate(year, month, day, hour, minute, second, out))
        return DISP_E_TYPEMISMATCH;
    return S_OK;
}

}  // namespace nv::oleaut

extern "C" {

INT SystemTimeToVariantTime(LPSYSTEMTIME lpSystemTime, DOUBLE* pvtime) {
    if (lpSystemTime == nullptr || pvtime == nullptr)
        return FALSE;
    const SYSTEMTIME& st = *lpSystemTime;
    DATE value;
    if (!nv::oleaut::SystemTimeToDate(nv::oleaut::WindowedYear(st.wYear), st.wMonth, st.wDay, st.wHour,
                                      st.wMinute, st.wSecond, value))
        return FALSE;
    *pvtime = value;
    return TRUE;
}

INT VariantTimeToSystemTime(DOUBLE vtime, LPSYSTEMTIME lpSystemTime) {
    if (lpSystemTime == nullptr)
        return FALSE;
    SYSTEMTIME st;
    if (!nv::oleaut::DateToSystemTime(vtime, st))
        return FALSE;
    *lpSystemTime = st;
    return TRUE;
}

}  // extern "C"
