#include "foundation/NvSysUtils.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <mutex>

#include "platform/NvWide.h"

namespace nv {

// =============================================================================================
// Regional settings

namespace {

// The locale value, or "" when the system has none.
std::string LocaleString(DWORD type) {
    WCHAR buffer[256];
    int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, 256);
    if (n <= 1)
        return {};
    return ToUtf8(WideStringView(buffer, static_cast<std::size_t>(n - 1)));
}

void ReadLocaleInto(std::string& field, DWORD type) {
    std::string value = LocaleString(type);
    if (!value.empty())
        field = std::move(value);
}

void ReadLocaleNumber(int& field, DWORD type, int low, int high) {
    std::string value = LocaleString(type);
    int n = 0;
    auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (ec == std::errc() && p == value.data() + value.size() && n >= low && n <= high)
        field = n;
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::size_t RunLength(std::string_view text, std::size_t pos, char letter) {
    std::size_t n = 0;
    while (pos + n < text.size() && AsciiUpper(text[pos + n]) == AsciiUpper(letter))
        ++n;
    return n;
}

TFormatSettings& GlobalSettings() {
    static TFormatSettings settings;
    return settings;
}

std::once_flag& SettingsOnce() {
    static std::once_flag once;
    return once;
}

}  // namespace

TFormatSettings DefaultFormatSettings() {
    return TFormatSettings();
}

std::string WindowsPictureToFormat(std::string_view picture) {
    std::string out;
    std::size_t i = 0;
    while (i < picture.size()) {
        char c = picture[i];
        if (c == '\'') {
            // Windows literal: '' inside stands for one quote.
            std::string literal;
            ++i;
            while (i < picture.size()) {
                if (picture[i] == '\'') {
                    if (i + 1 < picture.size() && picture[i + 1] == '\'') {
                        literal += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                literal += picture[i++];
            }
            if (literal.find('"') == std::string::npos)
                out += '"' + literal + '"';
            else
                out += '\'' + literal + '\'';
            continue;
        }
        std::size_t n = RunLength(picture, i, c);
        if (c == 'M') {
            out.append(n, 'm');
        } else if (c == 'm') {
            out.append(std::min<std::size_t>(n, 2), 'n');
        } else if (c == 'H' || c == 'h') {
            out.append(std::min<std::size_t>(n, 2), 'h');
        } else if (c == 't') {
            out += "ampm";
        } else if (c == 'd' || c == 'y' || c == 's') {
            out.append(n, c);
        } else if (c == 'g') {
            // The era has no letter here; drop it with the blank that usually follows.
            if (i + n < picture.size() && picture[i + n] == ' ')
                ++n;
        } else if (IsAsciiLetter(c)) {
            // A letter that the Windows picture prints as it is, but that would mean something
            // to FormatDateTime.
            out += '"' + std::string(picture.substr(i, n)) + '"';
        } else {
            out.append(picture.substr(i, n));
        }
        i += n;
    }
    return out;
}

TFormatSettings ReadLocaleFormatSettings() {
    TFormatSettings s;
    ReadLocaleInto(s.ListSeparator, LOCALE_SLIST);
    ReadLocaleInto(s.DecimalSeparator, LOCALE_SDECIMAL);
    ReadLocaleInto(s.ThousandSeparator, LOCALE_STHOUSAND);
    ReadLocaleInto(s.DateSeparator, LOCALE_SDATE);
    ReadLocaleInto(s.TimeSeparator, LOCALE_STIME);
    std::string picture = LocaleString(LOCALE_SSHORTDATE);
    if (!picture.empty())
        s.ShortDateFormat = WindowsPictureToFormat(picture);
    picture = LocaleString(LOCALE_SLONGDATE);
    if (!picture.empty())
        s.LongDateFormat = WindowsPictureToFormat(picture);
    picture = LocaleString(LOCALE_STIMEFORMAT);
    if (!picture.empty()) {
        s.LongTimeFormat = WindowsPictureToFormat(picture);
        // The short time is the long one without its seconds.
        std::string shortTime = s.LongTimeFormat;
        auto pos = shortTime.find(":ss");
        if (pos == std::string::npos)
            pos = shortTime.find(":s");
        if (pos != std::string::npos) {
            std::size_t end = pos + 1;
            while (end < shortTime.size() && shortTime[end] == 's')
                ++end;
            shortTime.erase(pos, end - pos);
        }
        s.ShortTimeFormat = shortTime;
    }
    ReadLocaleInto(s.TimeAMString, LOCALE_S1159);
    ReadLocaleInto(s.TimePMString, LOCALE_S2359);
    ReadLocaleInto(s.CurrencyString, LOCALE_SCURRENCY);
    ReadLocaleNumber(s.CurrencyFormat, LOCALE_ICURRENCY, 0, 3);
    ReadLocaleNumber(s.NegCurrFormat, LOCALE_INEGCURR, 0, 15);
    ReadLocaleNumber(s.CurrencyDecimals, LOCALE_ICURRDIGITS, 0, 9);
    return s;
}

const TFormatSettings& FormatSettings() {
    std::call_once(SettingsOnce(), [] { GlobalSettings() = ReadLocaleFormatSettings(); });
    return GlobalSettings();
}

void SetFormatSettings(const TFormatSettings& settings) {
    std::call_once(SettingsOnce(), [] {});
    GlobalSettings() = settings;
}

// =============================================================================================
// Floating point text

namespace {

// value = 0.d1d2d3... * 10^exponent, as decimal digits without trailing zeros.
struct DecimalDigits {
    bool negative = false;
    std::string digits;  // empty for zero
    int exponent = 0;
};

// The value with 17 significant digits, enough to tell any two doubles apart; rounding to
// fewer digits then happens on these decimal digits, half away from zero, so that 3.25 shown
// with one decimal reads 3.3 (the binary value is exact) while 2.675 (really 2.67499999...)
// reads 2.67 with two.
DecimalDigits ExactDigits(double value) {
    DecimalDigits d;
    d.negative = std::signbit(value);
    value = std::fabs(value);
    if (value == 0)
        return d;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.16e", value);
    std::string text = buffer;
    auto e = text.find('e');
    for (char c : text.substr(0, e))
        if (c != '.')
            d.digits += c;
    d.exponent = std::atoi(text.c_str() + e + 1) + 1;
    return d;
}

// Keeps `keep` significant digits (0 or more), rounding half up; drops trailing zeros.
void RoundDigits(DecimalDigits& d, int keep) {
    if (keep < 0) {
        d.digits.clear();
        return;
    }
    if (static_cast<std::size_t>(keep) < d.digits.size()) {
        bool up = d.digits[static_cast<std::size_t>(keep)] >= '5';
        d.digits.resize(static_cast<std::size_t>(keep));
        if (up) {
            int i = keep - 1;
            while (i >= 0 && d.digits[static_cast<std::size_t>(i)] == '9')
                d.digits[static_cast<std::size_t>(i--)] = '0';
            if (i >= 0) {
                ++d.digits[static_cast<std::size_t>(i)];
            } else {
                d.digits.insert(d.digits.begin(), '1');
                ++d.exponent;
            }
        }
    }
    while (!d.digits.empty() && d.digits.back() == '0')
        d.digits.pop_back();
}

DecimalDigits ToDigits(double value, int precision) {
    DecimalDigits d = ExactDigits(value);
    RoundDigits(d, precision);
    return d;
}

std::string ExponentText(int exponent, int minDigits, bool alwaysSign) {
    std::string out;
    if (exponent < 0)
        out += '-';
    else if (alwaysSign)
        out += '+';
    std::string digits = std::to_string(exponent < 0 ? -exponent : exponent);
    if (static_cast<int>(digits.size()) < minDigits)
        out.append(static_cast<std::size_t>(minDigits) - digits.size(), '0');
    return out + digits;
}

std::string NonFinite(double value) {
    if (std::isnan(value))
        return "NAN";
    return value < 0 ? "-INF" : "INF";
}

// The value with `decimals` decimals in the regional form; `negative` tells whether a minus
// sign belongs in front (not for a value that rounds to zero).
std::string FixedText(double value, int decimals, bool thousands, const TFormatSettings& s, bool& negative) {
    DecimalDigits d = ExactDigits(value);
    RoundDigits(d, d.exponent + decimals);
    negative = d.negative && !d.digits.empty();
    std::string integer;
    std::string fraction;
    if (d.digits.empty()) {
        integer = "0";
    } else if (d.exponent <= 0) {
        integer = "0";
        fraction = std::string(static_cast<std::size_t>(-d.exponent), '0') + d.digits;
    } else {
        integer =
            d.digits.substr(0, std::min<std::size_t>(d.digits.size(), static_cast<std::size_t>(d.exponent)));
        integer.append(static_cast<std::size_t>(d.exponent) - integer.size(), '0');
        if (d.digits.size() > static_cast<std::size_t>(d.exponent))
            fraction = d.digits.substr(static_cast<std::size_t>(d.exponent));
    }
    fraction.resize(static_cast<std::size_t>(decimals), '0');
    if (thousands && !s.ThousandSeparator.empty()) {
        std::string grouped;
        int count = 0;
        for (auto it = integer.rbegin(); it != integer.rend(); ++it) {
            if (count > 0 && count % 3 == 0)
                grouped.insert(0, s.ThousandSeparator);
            grouped.insert(grouped.begin(), *it);
            ++count;
        }
        integer = grouped;
    }
    return fraction.empty() ? integer : integer + s.DecimalSeparator + fraction;
}

std::string CurrencyText(double value, int decimals, const TFormatSettings& s) {
    bool negative = false;
    std::string number = FixedText(value, decimals, true, s, negative);
    const std::string& c = s.CurrencyString;
    if (!negative) {
        switch (s.CurrencyFormat) {
            case 1:
                return number + c;
            case 2:
                return c + " " + number;
            case 3:
                return number + " " + c;
            default:
                return c + number;
        }
    }
    switch (s.NegCurrFormat) {
        case 1:
            return "-" + c + number;
        case 2:
            return c + "-" + number;
        case 3:
            return c + number + "-";
        case 4:
            return "(" + number + c + ")";
        case 5:
            return "-" + number + c;
        case 6:
            return number + "-" + c;
        case 7:
            return number + c + "-";
        case 8:
            return "-" + number + " " + c;
        case 9:
            return "-" + c + " " + number;
        case 10:
            return number + " " + c + "-";
        case 11:
            return c + " " + number + "-";
        case 12:
            return c + " -" + number;
        case 13:
            return number + "- " + c;
        case 14:
            return "(" + c + " " + number + ")";
        case 15:
            return "(" + number + " " + c + ")";
        default:
            return "(" + c + number + ")";
    }
}

}  // namespace

std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits,
                        const TFormatSettings& s) {
    if (!std::isfinite(value))
        return NonFinite(value);
    precision = std::clamp(precision, 1, 18);
    digits = std::clamp(digits, 0, 18);
    switch (format) {
        case ffGeneral: {
            DecimalDigits d = ToDigits(value, precision);
            if (d.digits.empty())
                return "0";
            std::string out = d.negative ? "-" : "";
            if (d.exponent > precision || d.exponent < -3) {
                out += d.digits[0];
                if (d.digits.size() > 1)
                    out += s.DecimalSeparator + d.digits.substr(1);
                return out + "E" + ExponentText(d.exponent - 1, digits, false);
            }
            if (d.exponent <= 0) {
                out += "0" + s.DecimalSeparator + std::string(static_cast<std::size_t>(-d.exponent), '0') +
                       d.digits;
                return out;
            }
            std::string integer = d.digits.substr(0, std::min<std::size_t>(d.digits.size(), d.exponent));
            integer.append(static_cast<std::size_t>(d.exponent) - integer.size(), '0');
            out += integer;
            if (d.digits.size() > static_cast<std::size_t>(d.exponent))
                out += s.DecimalSeparator + d.digits.substr(static_cast<std::size_t>(d.exponent));
            return out;
        }
        case ffExponent: {
            DecimalDigits d = ToDigits(value, precision);
            std::string all = d.digits;
            all.resize(static_cast<std::size_t>(precision), '0');
            int exponent = d.digits.empty() ? 0 : d.exponent - 1;
            std::string out = d.negative && !d.digits.empty() ? "-" : "";
            out += all[0];
            if (all.size() > 1)
                out += s.DecimalSeparator + all.substr(1);
            return out + "E" + ExponentText(exponent, digits, true);
        }
        case ffFixed:
        case ffNumber: {
            // Too many integer digits for the precision: scientific, as general format would.
            if (std::fabs(value) >= std::pow(10.0, precision))
                return FloatToStrF(value, ffGeneral, precision, 0, s);
            bool negative = false;
            std::string text = FixedText(value, digits, format == ffNumber, s, negative);
            return negative ? "-" + text : text;
        }
        case ffCurrency:
            return CurrencyText(value, digits, s);
    }
    return {};
}

std::string FloatToStr(double value) {
    return FloatToStr(value, FormatSettings());
}
std::string FloatToStr(double value, const TFormatSettings& s) {
    return FloatToStrF(value, ffGeneral, 15, 0, s);
}

bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& s) {
    std::string_view t = text;
    while (!t.empty() && static_cast<unsigned char>(t.front()) <= ' ')
        t.remove_prefix(1);
    while (!t.empty() && static_cast<unsigned char>(t.back()) <= ' ')
        t.remove_suffix(1);
    if (t.empty())
        return false;
    std::string upper = UpperCase(t);
    if (upper == "NAN") {
        value = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    if (upper == "INF" || upper == "+INF" || upper == "-INF") {
        value = upper[0] == '-' ? -std::numeric_limits<double>::infinity()
                                : std::numeric_limits<double>::infinity();
        return true;
    }
    // Rebuild the number in C form, checking the shape on the way: sign, digits, separator,
    // digits, exponent.
    std::string c;
    std::size_t i = 0;
    if (t[i] == '+' || t[i] == '-')
        c += t[i++];
    std::size_t mantissaDigits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9')
        c += t[i++], ++mantissaDigits;
    const std::string& sep = s.DecimalSeparator.empty() ? std::string(".") : s.DecimalSeparator;
    if (t.substr(i, sep.size()) == sep) {
        i += sep.size();
        c += '.';
        while (i < t.size() && t[i] >= '0' && t[i] <= '9')
            c += t[i++], ++mantissaDigits;
    }
    if (mantissaDigits == 0)
        return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        c += 'e';
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-'))
            c += t[i++];
        std::size_t expDigits = 0;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9')
            c += t[i++], ++expDigits;
        if (expDigits == 0)
            return false;
    }
    if (i != t.size())
        return false;
    const char* begin = c.data();
    if (*begin == '+')
        ++begin;
    double result = 0;
    auto [p, ec] = std::from_chars(begin, c.data() + c.size(), result);
    if (ec != std::errc() || p != c.data() + c.size())
        return false;
    value = result;
    return true;
}

double StrToFloat(std::string_view text, const TFormatSettings& s) {
    double value = 0;
    if (!TryStrToFloat(text, value, s))
        throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
    return value;
}

double StrToFloat(std::string_view text) {
    return StrToFloat(text, FormatSettings());
}

double StrToFloatDef(std::string_view text, double fallback) {
    double value = 0;
    return TryStrToFloat(text, value, FormatSettings()) ? value : fallback;
}

// =============================================================================================
// Integers and Booleans

std::string IntToStr(std::int64_t value) {
    return std::to_string(value);
}

std::string UIntToHex(std::uint64_t value, int digits) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), hex[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (digits > static_cast<int>(out.size()))
        out.insert(0, static_cast<std::size_t>(digits) - out.size(), '0');
    return out;
}

namespace {

// Leading blanks, sign, then decimal or "$"/"0x" hexadecimal digits and nothing else. Hex text
// may use the whole unsigned range of the target (it is a bit pattern), decimal only the signed.
bool ParseInteger(std::string_view text, std::int64_t& value, bool wide) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    bool hexadecimal = false;
    if (i < text.size() && text[i] == '$') {
        hexadecimal = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hexadecimal = true;
        i += 2;
    }
    if (i >= text.size())
        return false;
    std::uint64_t magnitude = 0;
    const std::uint64_t limit = hexadecimal
                                    ? (wide ? UINT64_MAX : UINT32_MAX)
                                    : (wide ? static_cast<std::uint64_t>(INT64_MAX) + (negative ? 1 : 0)
                                            : static_cast<std::uint64_t>(INT32_MAX) + (negative ? 1 : 0));
    const unsigned base = hexadecimal ? 16 : 10;
    for (; i < text.size(); ++i) {
        char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (hexadecimal && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (hexadecimal && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        if (magnitude > (limit - digit) / base)
            return false;
        magnitude = magnitude * base + digit;
    }
    if (hexadecimal) {
        std::int64_t pattern =
            wide
                ? static_cast<std::int64_t>(magnitude)
                : static_cast<std::int64_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude)));
        value = negative ? static_cast<std::int64_t>(0ULL - static_cast<std::uint64_t>(pattern)) : pattern;
        if (!wide)
            value = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
        return true;
    }
    value = negative ? static_cast<std::int64_t>(0ULL - magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

[[noreturn]] void InvalidInteger(std::string_view text) {
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

}  // namespace

bool TryStrToInt(std::string_view text, std::int32_t& value) {
    std::int64_t v = 0;
    if (!ParseInteger(text, v, false))
        return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

bool TryStrToInt64(std::string_view text, std::int64_t& value) {
    return ParseInteger(text, value, true);
}

std::int32_t StrToInt(std::string_view text) {
    std::int32_t v = 0;
    if (!TryStrToInt(text, v))
        InvalidInteger(text);
    return v;
}

std::int64_t StrToInt64(std::string_view text) {
    std::int64_t v = 0;
    if (!TryStrToInt64(text, v))
        InvalidInteger(text);
    return v;
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback) {
    std::int32_t v = 0;
    return TryStrToInt(text, v) ? v : fallback;
}

std::int64_t StrToInt64Def(std::string_view text, std::int64_t fallback) {
    std::int64_t v = 0;
    return TryStrToInt64(text, v) ? v : fallback;
}

std::string BoolToStr(bool value, bool useBoolStrs) {
    if (useBoolStrs)
        return value ? "True" : "False";
    return value ? "-1" : "0";
}

bool StrToBool(std::string_view text) {
    std::string t = Trim(text);
    if (SameText(t, "True"))
        return true;
    if (SameText(t, "False"))
        return false;
    double number = 0;
    if (TryStrToFloat(t, number, FormatSettings()) && !std::isnan(number))
        return number != 0;
    throw EConvertError("'" + std::string(text) + "' is not a valid boolean value");
}

// =============================================================================================
// Text

std::string Trim(std::string_view text) {
    return TrimRight(TrimLeft(text));
}

std::string TrimLeft(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ')
        ++i;
    return std::string(text.substr(i));
}

std::string TrimRight(std::string_view text) {
    std::size_t n = text.size();
    while (n > 0 && static_cast<unsigned char>(text[n - 1]) <= ' ')
        --n;
    return std::string(text.substr(0, n));
}

std::string UpperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = AsciiUpper(c);
    return out;
}

std::string LowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = AsciiLower(c);
    return out;
}

int CompareText(std::string_view a, std::string_view b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(AsciiUpper(a[i]));
        auto cb = static_cast<unsigned char>(AsciiUpper(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareText(a, b) == 0;
}

int CompareStr(std::string_view a, std::string_view b) {
    int r = a.compare(b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

std::string AnsiQuotedStr(std::string_view text, char quote) {
    std::string out(1, quote);
    for (char c : text) {
        out += c;
        if (c == quote)
            out += c;
    }
    out += quote;
    return out;
}

std::string QuotedStr(std::string_view text) {
    return AnsiQuotedStr(text, '\'');
}

std::string AnsiExtractQuotedStr(std::string_view& source, char quote) {
    if (source.empty() || source.front() != quote)
        return {};
    std::string out;
    std::size_t i = 1;
    while (i < source.size()) {
        if (source[i] == quote) {
            if (i + 1 < source.size() && source[i + 1] == quote) {
                out += quote;
                i += 2;
                continue;
            }
            ++i;
            source.remove_prefix(i);
            return out;
        }
        out += source[i++];
    }
    source.remove_prefix(source.size());
    return out;
}

std::string AnsiDequotedStr(std::string_view text, char quote) {
    std::string_view rest = text;
    if (text.empty() || text.front() != quote)
        return std::string(text);
    std::string out = AnsiExtractQuotedStr(rest, quote);
    // Text after the closing quote means it was not one quoted string after all.
    if (!rest.empty())
        return std::string(text);
    return out;
}

// =============================================================================================
// Format

namespace {

[[noreturn]] void InvalidFormat(std::string_view format) {
    throw EConvertError("Format '" + std::string(format) + "' invalid or incompatible with argument");
}

std::size_t CodePoints(std::string_view text) {
    std::size_t n = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++n;
    return n;
}

// The first `count` code points of text.
std::string_view FirstCodePoints(std::string_view text, std::size_t count) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == count)
                return text.substr(0, i);
            ++seen;
        }
    }
    return text;
}

std::string ZeroPad(std::string digits, int precision) {
    if (precision > static_cast<int>(digits.size()))
        digits.insert(0, static_cast<std::size_t>(precision) - digits.size(), '0');
    return digits;
}

}  // namespace

std::string FormatV(std::string_view format, std::span<const TFormatArg* const> args,
                    const TFormatSettings& s) {
    std::string out;
    std::size_t next = 0;
    std::size_t i = 0;
    const std::size_t n = format.size();

    auto takeArg = [&]() -> const TFormatArg& {
        if (next >= args.size())
            throw EConvertError("No argument for format '" + std::string(format) + "'");
        return *args[next++];
    };
    // A number or "*" (the next argument, which must be an integer).
    auto readNumber = [&](int& value) -> bool {
        if (i < n && format[i] == '*') {
            ++i;
            const TFormatArg& a = takeArg();
            if (a.GetKind() == TFormatArg::Kind::Integer)
                value = static_cast<int>(std::clamp<std::int64_t>(a.Int(), INT32_MIN, INT32_MAX));
            else if (a.GetKind() == TFormatArg::Kind::Unsigned)
                value = static_cast<int>(std::min<std::uint64_t>(a.UInt(), INT32_MAX));
            else
                InvalidFormat(format);
            return true;
        }
        if (i >= n || format[i] < '0' || format[i] > '9')
            return false;
        std::int64_t v = 0;
        while (i < n && format[i] >= '0' && format[i] <= '9') {
            v = std::min<std::int64_t>(v * 10 + (format[i] - '0'), INT32_MAX);
            ++i;
        }
        value = static_cast<int>(v);
        return true;
    };

    while (i < n) {
        char c = format[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        ++i;
        if (i < n && format[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        bool left = false;
        int width = -1;
        int precision = -1;
        int value = 0;
        bool have = readNumber(value);
        if (have && i < n && format[i] == ':') {
            if (value < 0)
                InvalidFormat(format);
            next = static_cast<std::size_t>(value);
            ++i;
            have = false;
        }
        if (!have) {
            if (i < n && format[i] == '-') {
                left = true;
                ++i;
            }
            have = readNumber(value);
        }
        if (have) {
            if (value < 0) {
                left = true;
                value = -value;
            }
            width = value;
        }
        if (i < n && format[i] == '.') {
            ++i;
            if (!readNumber(precision))
                precision = 0;
            if (precision < 0)
                precision = -1;
        }
        if (i >= n)
            InvalidFormat(format);
        char type = AsciiLower(format[i++]);
        const TFormatArg& a = takeArg();
        using Kind = TFormatArg::Kind;
        std::string text;
        switch (type) {
            case 'd': {
                std::string digits;
                bool negative = false;
                if (a.GetKind() == Kind::Integer) {
                    negative = a.Int() < 0;
                    std::uint64_t magnitude = negative ? 0ULL - static_cast<std::uint64_t>(a.Int())
                                                       : static_cast<std::uint64_t>(a.Int());
                    digits = std::to_string(magnitude);
                } else if (a.GetKind() == Kind::Unsigned) {
                    digits = std::to_string(a.UInt());
                } else {
                    InvalidFormat(format);
                }
                text = (negative ? "-" : "") + ZeroPad(digits, precision);
                break;
            }
            case 'u':
            case 'x': {
                std::uint64_t bits;
                if (a.GetKind() == Kind::Integer)
                    bits = a.Wide() ? static_cast<std::uint64_t>(a.Int())
                                    : static_cast<std::uint32_t>(static_cast<std::int32_t>(a.Int()));
                else if (a.GetKind() == Kind::Unsigned)
                    bits = a.UInt();
                else
                    InvalidFormat(format);
                text = type == 'u' ? ZeroPad(std::to_string(bits), precision) : UIntToHex(bits, precision);
                break;
            }
            case 's': {
                if (a.GetKind() != Kind::String)
                    InvalidFormat(format);
                std::string_view t = a.Text();
                if (precision >= 0)
                    t = FirstCodePoints(t, static_cast<std::size_t>(precision));
                text = t;
                break;
            }
            case 'p': {
                if (a.GetKind() != Kind::Pointer)
                    InvalidFormat(format);
                text = UIntToHex(reinterpret_cast<std::uintptr_t>(a.Pointer()),
                                 static_cast<int>(sizeof(void*) * 2));
                break;
            }
            case 'e':
            case 'f':
            case 'g':
            case 'n':
            case 'm': {
                if (a.GetKind() != Kind::Float)
                    InvalidFormat(format);
                double v = a.Float();
                switch (type) {
                    case 'e':
                        text = FloatToStrF(v, ffExponent, precision < 0 ? 15 : precision, 3, s);
                        break;
                    case 'f':
                        text = FloatToStrF(v, ffFixed, 18, precision < 0 ? 2 : precision, s);
                        break;
                    case 'g':
                        text = FloatToStrF(v, ffGeneral, precision < 0 ? 15 : precision, 3, s);
                        break;
                    case 'n':
                        text = FloatToStrF(v, ffNumber, 18, precision < 0 ? 2 : precision, s);
                        break;
                    default:
                        text =
                            FloatToStrF(v, ffCurrency, 18, precision < 0 ? s.CurrencyDecimals : precision, s);
                        break;
                }
                break;
            }
            default:
                InvalidFormat(format);
        }
        std::size_t length = CodePoints(text);
        if (width > 0 && static_cast<std::size_t>(width) > length) {
            std::string pad(static_cast<std::size_t>(width) - length, ' ');
            text = left ? text + pad : pad + text;
        }
        out += text;
    }
    return out;
}

// =============================================================================================
// Date and time

namespace {

constexpr std::int64_t MSecsPerDayInt = 86400000;
// Days from 1899-12-30 to 0001-01-01 and to 9999-12-31.
constexpr std::int64_t MinDay = -693593;
constexpr std::int64_t MaxDay = 2958465;

// Days since 1970-01-01 of a proleptic Gregorian date, counted in 400-year eras so that the
// arithmetic stays exact for every year the type supports.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

const std::int64_t DeltaTo1970 = DaysFromCivil(1899, 12, 30);  // -25569

// Splits a date-time value into the calendar day (days since 1899-12-30) and the millisecond of
// that day, under the rule that the fraction is the time of day whatever the sign.
void SplitDateTime(TDateTime value, std::int64_t& day, std::int64_t& msec) {
    if (!std::isfinite(value) || value < static_cast<double>(MinDay) - 1 ||
        value > static_cast<double>(MaxDay) + 1)
        throw EConvertError("Invalid argument to date decode");
    double whole = std::trunc(value);
    day = static_cast<std::int64_t>(whole);
    msec = std::llround(std::fabs(value - whole) * MSecsPerDayInt);
    if (msec >= MSecsPerDayInt) {
        // 23:59:59.9996 rounds to the next midnight, not to "24:00:00.000" of this day.
        msec -= MSecsPerDayInt;
        ++day;
    }
    if (day < MinDay || day > MaxDay)
        throw EConvertError("Invalid argument to date decode");
}

}  // namespace

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return false;
    result = static_cast<double>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - DeltaTo1970);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
        millisecond > 999)
        return false;
    result = ((static_cast<double>(hour) * 3600 + minute * 60 + second) * 1000 + millisecond) / MSecsPerDay;
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime r = 0;
    if (!TryEncodeDate(year, month, day, r))
        throw EConvertError("Invalid argument to date encode");
    return r;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
    TDateTime r = 0;
    if (!TryEncodeTime(hour, minute, second, millisecond, r))
        throw EConvertError("Invalid argument to time encode");
    return r;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
    double day = std::trunc(date);
    double fraction = std::fabs(time - std::trunc(time));
    return day < 0 ? day - fraction : day + fraction;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& millisecond) {
    std::int64_t d = 0, ms = 0;
    SplitDateTime(value, d, ms);
    CivilFromDays(d + DeltaTo1970, year, month, day);
    hour = static_cast<int>(ms / 3600000);
    minute = static_cast<int>(ms / 60000 % 60);
    second = static_cast<int>(ms / 1000 % 60);
    millisecond = static_cast<int>(ms % 1000);
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    int h, n, s, z;
    DecodeDateTime(value, year, month, day, h, n, s, z);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) {
    int y, m, d;
    DecodeDateTime(value, y, m, d, hour, minute, second, millisecond);
}

int DayOfWeek(TDateTime value) {
    std::int64_t d = 0, ms = 0;
    SplitDateTime(value, d, ms);
    // 1899-12-30 was a Saturday (7).
    return static_cast<int>(((d % 7) + 7 + 6) % 7) + 1;
}

void DateTimeToSystemTime(TDateTime value, SYSTEMTIME& st) {
    int y, m, d, h, n, s, z;
    DecodeDateTime(value, y, m, d, h, n, s, z);
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(m);
    st.wDay = static_cast<WORD>(d);
    st.wDayOfWeek = static_cast<WORD>(DayOfWeek(value) - 1);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(n);
    st.wSecond = static_cast<WORD>(s);
    st.wMilliseconds = static_cast<WORD>(z);
}

TDateTime SystemTimeToDateTime(const SYSTEMTIME& st) {
    return ComposeDateTime(EncodeDate(st.wYear, st.wMonth, st.wDay),
                           EncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds));
}

TDateTime Now() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    if (ms < 0)
        ms += 1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    return ComposeDateTime(
        EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday),
        EncodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59), static_cast<int>(ms)));
}

TDateTime Date() {
    return std::trunc(Now());
}
TDateTime Time() {
    TDateTime now = Now();
    return now - std::trunc(now);
}

namespace {

void AppendNumber(std::string& out, int value, int digits) {
    std::string text = std::to_string(value);
    if (static_cast<int>(text.size()) < digits)
        text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
    out += text;
}

bool StartsWithNoCase(std::string_view text, std::size_t pos, std::string_view word) {
    if (pos + word.size() > text.size())
        return false;
    return SameText(text.substr(pos, word.size()), word);
}

void AppendDateTime(std::string& out, std::string_view format, TDateTime value, const TFormatSettings& s,
                    int depth) {
    if (format.empty())
        format = "c";
    int year, month, day, hour, minute, second, msec;
    DecodeDateTime(value, year, month, day, hour, minute, second, msec);
    // Pictures may refer to each other ("c" uses ShortDateFormat); two levels are all that is
    // meaningful, and the limit stops a picture that names itself.
    auto nested = [&](const std::string& picture) {
        if (depth < 2)
            AppendDateTime(out, picture, value, s, depth + 1);
    };
    char lastToken = 0;
    std::size_t i = 0;
    while (i < format.size()) {
        char c = format[i];
        char token = AsciiUpper(c);
        if (IsAsciiLetter(c)) {
            if (token == 'M' && lastToken == 'H')
                token = 'N';
            lastToken = token;
        }
        switch (token) {
            case 'Y': {
                std::size_t count = RunLength(format, i, 'y');
                if (count <= 2)
                    AppendNumber(out, year % 100, 2);
                else
                    AppendNumber(out, year, 4);
                i += count;
                break;
            }
            case 'M':
            case 'N': {
                std::size_t count = RunLength(format, i, c);
                if (token == 'N') {
                    AppendNumber(out, minute, count >= 2 ? 2 : 0);
                } else if (count == 1 || count == 2) {
                    AppendNumber(out, month, static_cast<int>(count));
                } else if (count == 3) {
                    out += s.ShortMonthNames[static_cast<std::size_t>(month - 1)];
                } else {
                    out += s.LongMonthNames[static_cast<std::size_t>(month - 1)];
                }
                i += count;
                break;
            }
            case 'D': {
                std::size_t count = RunLength(format, i, 'd');
                int dow = DayOfWeek(value) - 1;
                switch (count) {
                    case 1:
                    case 2:
                        AppendNumber(out, day, static_cast<int>(count));
                        break;
                    case 3:
                        out += s.ShortDayNames[static_cast<std::size_t>(dow)];
                        break;
                    case 4:
                        out += s.LongDayNames[static_cast<std::size_t>(dow)];
                        break;
                    case 5:
                        nested(s.ShortDateFormat);
                        break;
                    default:
                        nested(s.LongDateFormat);
                        break;
                }
                i += count;
                break;
            }
            case 'H': {
                std::size_t count = RunLength(format, i, 'h');
                i += count;
                // A 12-hour clock when the next letter group after the hour, before any other
                // hour, is an am/pm marker.
                bool twelve = false;
                bool quoted = false;
                char quoteChar = 0;
                for (std::size_t p = i; p < format.size(); ++p) {
                    char q = format[p];
                    if (quoted) {
                        if (q == quoteChar)
                            quoted = false;
                        continue;
                    }
                    if (q == '\'' || q == '"') {
                        quoted = true;
                        quoteChar = q;
                    } else if (q == 'a' || q == 'A') {
                        twelve = StartsWithNoCase(format, p, "am/pm") || StartsWithNoCase(format, p, "a/p") ||
                                 StartsWithNoCase(format, p, "ampm");
                        break;
                    } else if (q == 'h' || q == 'H') {
                        break;
                    }
                }
                int h = hour;
                if (twelve)
                    h = hour % 12 == 0 ? 12 : hour % 12;
                AppendNumber(out, h, count >= 2 ? 2 : 0);
                break;
            }
            case 'S': {
                std::size_t count = RunLength(format, i, 's');
                AppendNumber(out, second, count >= 2 ? 2 : 0);
                i += count;
                break;
            }
            case 'Z': {
                std::size_t count = RunLength(format, i, 'z');
                AppendNumber(out, msec, count >= 3 ? 3 : 0);
                i += count;
                break;
            }
            case 'T': {
                std::size_t count = RunLength(format, i, 't');
                nested(count == 1 ? s.ShortTimeFormat : s.LongTimeFormat);
                i += count;
                break;
            }
            case 'C': {
                std::size_t count = RunLength(format, i, 'c');
                nested(s.ShortDateFormat);
                if (hour != 0 || minute != 0 || second != 0 || msec != 0) {
                    out += ' ';
                    nested(s.LongTimeFormat);
                }
                i += count;
                break;
            }
            case 'A': {
                bool pm = hour >= 12;
                if (StartsWithNoCase(format, i, "am/pm")) {
                    out.append(format.substr(pm ? i + 3 : i, 2));
                    i += 5;
                } else if (StartsWithNoCase(format, i, "a/p")) {
                    out += format[pm ? i + 2 : i];
                    i += 3;
                } else if (StartsWithNoCase(format, i, "ampm")) {
                    out += pm ? s.TimePMString : s.TimeAMString;
                    i += 4;
                } else {
                    out += c;
                    ++i;
                }
                break;
            }
            case '/':
                out += s.DateSeparator;
                ++i;
                break;
            case ':':
                out += s.TimeSeparator;
                ++i;
                break;
            case '\'':
            case '"': {
                auto end = format.find(c, i + 1);
                if (end == std::string_view::npos)
                    end = format.size();
                out.append(format.substr(i + 1, end - i - 1));
                i = end + 1;
                break;
            }
            default:
                out += c;
                ++i;
                break;
        }
    }
}

}  // namespace

std::string FormatDateTime(std::string_view format, TDateTime value, const TFormatSettings& settings) {
    std::string out;
    AppendDateTime(out, format, value, settings, 0);
    return out;
}

std::string FormatDateTime(std::string_view format, TDateTime value) {
    return FormatDateTime(format, value, FormatSettings());
}

std::string DateTimeToStr(TDateTime value, const TFormatSettings& settings) {
    return FormatDateTime("c", value, settings);
}

std::string DateTimeToStr(TDateTime value) {
    return DateTimeToStr(value, FormatSettings());
}

std::string DateToStr(TDateTime value) {
    return FormatDateTime("ddddd", value);
}
std::string TimeToStr(TDateTime value) {
    return FormatDateTime("tt", value);
}

}  // namespace nv
