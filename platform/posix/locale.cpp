// The user's regional settings, read from the POSIX locale of the environment.
//
// The program never calls setlocale, so the process stays in the C locale whatever the user
// chose; the choice is read from LC_ALL, then the category variable (LC_NUMERIC, LC_TIME,
// LC_MONETARY), then LANG, and loaded with newlocale. Settings Windows has and POSIX lacks are
// derived: the list separator is ";" where the decimal separator is a comma, "," otherwise.
//
// A locale asked for by its identifier answers with that locale's settings as Windows has them
// (an OPC group carries a locale identifier exactly so that server and client read each other's
// texts alike): en-US, en-GB, de-DE, fr-FR, es-ES (both sort orders), their language-only
// forms, and LOCALE_INVARIANT. The user and system defaults, the neutral identifier 0 and
// every other identifier answer with the user's settings.
#include "platform/posix/locale.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/NvWide.h"
#include "platform/posix/kernel.h"
#include "platform/posix/winerror.h"

namespace {

using nv::WideString;

struct Settings {
    WideString list = u",";
    WideString decimal = u".";
    WideString thousand = u",";
    WideString grouping = u"3;0";
    WideString digits = u"2";
    WideString leadingZero = u"1";
    WideString negative = u"-";
    WideString currency = u"\u00A4";
    WideString monDecimal = u".";
    WideString monThousand = u",";
    WideString currDigits = u"2";
    WideString currencyPos = u"0";
    WideString currencyNeg = u"0";
    WideString dateSep = u"/";
    WideString timeSep = u":";
    WideString shortDate = u"yyyy/MM/dd";
    WideString longDate = u"dddd, dd MMMM yyyy";
    WideString timeFormat = u"HH:mm:ss";
    WideString dateOrder = u"2";
    WideString clock24 = u"1";
    WideString am = u"AM";
    WideString pm = u"PM";
    WideString measure = u"0";
    WideString name = u"en-US";
    WideString language = u"English";
};

Settings InvariantSettings() {
    Settings s;
    s.shortDate = u"MM/dd/yyyy";
    s.dateOrder = u"0";
    s.measure = u"0";
    s.name = u"";
    s.language = u"Invariant Language";
    return s;
}

Settings EnglishUs() {
    Settings s;
    s.measure = u"1";
    s.currency = u"$";
    s.shortDate = u"M/d/yyyy";
    s.longDate = u"dddd, MMMM d, yyyy";
    s.timeFormat = u"h:mm:ss tt";
    s.dateOrder = u"0";
    s.clock24 = u"0";
    s.name = u"en-US";
    return s;
}

Settings EnglishGb() {
    Settings s;
    s.currency = u"\u00A3";
    s.currencyNeg = u"1";
    s.shortDate = u"dd/MM/yyyy";
    s.longDate = u"dd MMMM yyyy";
    s.timeFormat = u"HH:mm:ss";
    s.dateOrder = u"1";
    s.name = u"en-GB";
    return s;
}

// The settings that German, French and Spanish share: decimal comma, list ";", euro after the
// amount, day-month-year order and a 24-hour clock.
Settings Continental(const char16_t* thousand, const char16_t* dateSep, const char16_t* shortDate,
                     const char16_t* longDate, const char16_t* timeFormat, const char16_t* name,
                     const char16_t* language) {
    Settings s;
    s.list = u";";
    s.decimal = u",";
    s.thousand = thousand;
    s.currency = u"\u20AC";
    s.monDecimal = u",";
    s.monThousand = thousand;
    s.currencyPos = u"3";
    s.currencyNeg = u"8";
    s.dateSep = dateSep;
    s.shortDate = shortDate;
    s.longDate = longDate;
    s.timeFormat = timeFormat;
    s.dateOrder = u"1";
    s.name = name;
    s.language = language;
    return s;
}

// The locale a specific identifier names, or nullptr when it is not one of the known ones.
const Settings* KnownSettings(LCID lcid) {
    static const std::map<LCID, Settings> known = [] {
        std::map<LCID, Settings> m;
        m[0x0409] = EnglishUs();
        m[0x0809] = EnglishGb();
        m[0x0407] =
            Continental(u".", u".", u"dd.MM.yyyy", u"dddd, d. MMMM yyyy", u"HH:mm:ss", u"de-DE", u"German");
        m[0x040C] = Continental(u"\u00A0", u"/", u"dd/MM/yyyy", u"dddd d MMMM yyyy", u"HH:mm:ss", u"fr-FR",
                                u"French");
        m[0x0C0A] = Continental(u".", u"/", u"dd/MM/yyyy", u"dddd, d' de 'MMMM' de 'yyyy", u"H:mm:ss",
                                u"es-ES", u"Spanish");
        m[0x0C0A].am = u"a. m.";
        m[0x0C0A].pm = u"p. m.";
        m[0x040A] = m[0x0C0A];  // the traditional sort order; the same texts
        m[0x040A].name = u"es-ES_tradnl";
        return m;
    }();
    // The sort order (bits 16-19) does not change any text.
    LCID language = lcid & 0xFFFF;
    // A language alone (sublanguage 0, "neutral") means its main country.
    if ((language >> 10) == 0) {
        switch (language) {
            case 0x09:
            case 0x07:
            case 0x0C:
                language |= 0x0400;
                break;
            case 0x0A:
                language = 0x0C0A;
                break;
            default:
                break;
        }
    }
    auto it = known.find(language);
    return it == known.end() ? nullptr : &it->second;
}

bool IsCLocaleName(const std::string& name) {
    return name.empty() || name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

std::string LocaleNameFor(const char* category) {
    for (const char* var : {"LC_ALL", category, "LANG"}) {
        const char* value = std::getenv(var);
        if (value != nullptr && *value != 0)
            return value;
    }
    return "C";
}

// Text from the locale's own character set: UTF-8, or bytes taken as Latin-1 for the older
// 8-bit locales (the common ones are Latin-1 based).
WideString Decode(const char* text, bool utf8) {
    if (text == nullptr)
        return {};
    if (utf8)
        return nv::ToWide(text);
    WideString out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        out.push_back(*p);
    return out;
}

bool IsPictureLetter(char16_t c) {
    return c == u'd' || c == u'M' || c == u'y' || c == u'g' || c == u'h' || c == u'H' || c == u'm' ||
           c == u's' || c == u't';
}

void AppendLiteral(WideString& out, char16_t c) {
    if (c == u'\'') {
        out += u"''";
    } else if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) {
        out += u'\'';
        out += c;
        out += u'\'';
    } else {
        out += c;
    }
}

// A strftime format as a Windows picture ("%d.%m.%Y" -> "dd.MM.yyyy").
WideString NvStrftimeToPicture(const std::string& fmt, const std::string& ampmFmt) {
    WideString out;
    for (size_t i = 0; i < fmt.size(); ++i) {
        char c = fmt[i];
        if (c != '%') {
            AppendLiteral(out, static_cast<unsigned char>(c));
            continue;
        }
        if (++i >= fmt.size())
            break;
        c = fmt[i];
        if ((c == 'E' || c == 'O') && i + 1 < fmt.size())
            c = fmt[++i];
        switch (c) {
            case 'd':
                out += u"dd";
                break;
            case 'e':
                out += u"d";
                break;
            case 'm':
                out += u"MM";
                break;
            case 'b':
            case 'h':
                out += u"MMM";
                break;
            case 'B':
                out += u"MMMM";
                break;
            case 'a':
                out += u"ddd";
                break;
            case 'A':
                out += u"dddd";
                break;
            case 'y':
                out += u"yy";
                break;
            case 'Y':
            case 'G':
                out += u"yyyy";
                break;
            case 'H':
                out += u"HH";
                break;
            case 'k':
                out += u"H";
                break;
            case 'I':
                out += u"hh";
                break;
            case 'l':
                out += u"h";
                break;
            case 'M':
                out += u"mm";
                break;
            case 'S':
                out += u"ss";
                break;
            case 'p':
            case 'P':
                out += u"tt";
                break;
            case 'D':
                out += u"MM/dd/yy";
                break;
            case 'F':
                out += u"yyyy-MM-dd";
                break;
            case 'T':
                out += u"HH:mm:ss";
                break;
            case 'R':
                out += u"HH:mm";
                break;
            case 'r':
                out += NvStrftimeToPicture(ampmFmt.empty() ? "%I:%M:%S %p" : ampmFmt, {});
                break;
            case 'n':
            case 't':
                out += u' ';
                break;
            case '%':
                out += u'%';
                break;
            default:
                break;  // time zone, week numbers and the like have no picture letter
        }
    }
    // Trim separators left dangling by dropped fields (a trailing " %Z" for instance).
    while (!out.empty() && out.back() == u' ')
        out.pop_back();
    return out;
}

// The first separator of a picture: the text between its first and second field.
WideString FirstSeparator(const WideString& picture, const char16_t* fallback) {
    size_t i = 0;
    while (i < picture.size() && !IsPictureLetter(picture[i]))
        ++i;
    while (i < picture.size() && IsPictureLetter(picture[i]))
        ++i;
    WideString sep;
    bool quoted = false;
    for (; i < picture.size(); ++i) {
        char16_t c = picture[i];
        if (c == u'\'') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && IsPictureLetter(c))
            break;
        sep += c;
    }
    return sep.empty() ? WideString(fallback) : sep;
}

// 0 month-day-year, 1 day-month-year, 2 year-month-day: the order of the fields.
WideString DateOrder(const WideString& picture) {
    size_t d = picture.find(u'd'), m = picture.find(u'M'), y = picture.find(u'y');
    if (y != WideString::npos && (m == WideString::npos || y < m) && (d == WideString::npos || y < d))
        return u"2";
    if (d != WideString::npos && m != WideString::npos && d < m)
        return u"1";
    return u"0";
}

WideString LongDateFor(const WideString& order) {
    if (order == u"1")
        return u"dddd, d MMMM yyyy";
    if (order == u"2")
        return u"yyyy MMMM d, dddd";
    return u"dddd, MMMM d, yyyy";
}

WideString Number(int value) {
    std::string s = std::to_string(value);
    return WideString(s.begin(), s.end());
}

struct LanguageId {
    const char* prefix;
    LCID lcid;
    const char16_t* language;
};

constexpr LanguageId kLanguages[] = {
    {"en_US", 0x0409, u"English"},    {"en_GB", 0x0809, u"English"},    {"en_AU", 0x0C09, u"English"},
    {"en_CA", 0x1009, u"English"},    {"en_IE", 0x1809, u"English"},    {"en_NZ", 0x1409, u"English"},
    {"de_DE", 0x0407, u"German"},     {"de_CH", 0x0807, u"German"},     {"de_AT", 0x0C07, u"German"},
    {"fr_FR", 0x040C, u"French"},     {"fr_BE", 0x080C, u"French"},     {"fr_CA", 0x0C0C, u"French"},
    {"fr_CH", 0x100C, u"French"},     {"it_IT", 0x0410, u"Italian"},    {"es_ES", 0x0C0A, u"Spanish"},
    {"es_MX", 0x080A, u"Spanish"},    {"nl_NL", 0x0413, u"Dutch"},      {"nl_BE", 0x0813, u"Dutch"},
    {"pt_BR", 0x0416, u"Portuguese"}, {"pt_PT", 0x0816, u"Portuguese"}, {"sv_SE", 0x041D, u"Swedish"},
    {"da_DK", 0x0406, u"Danish"},     {"nb_NO", 0x0414, u"Norwegian"},  {"fi_FI", 0x040B, u"Finnish"},
    {"pl_PL", 0x0415, u"Polish"},     {"cs_CZ", 0x0405, u"Czech"},      {"hu_HU", 0x040E, u"Hungarian"},
    {"ru_RU", 0x0419, u"Russian"},    {"tr_TR", 0x041F, u"Turkish"},    {"ja_JP", 0x0411, u"Japanese"},
    {"zh_CN", 0x0804, u"Chinese"},    {"zh_TW", 0x0404, u"Chinese"},    {"ko_KR", 0x0412, u"Korean"},
    {"en", 0x0409, u"English"},       {"de", 0x0407, u"German"},        {"fr", 0x040C, u"French"},
    {"it", 0x0410, u"Italian"},       {"es", 0x0C0A, u"Spanish"},       {"nl", 0x0413, u"Dutch"},
    {"pt", 0x0816, u"Portuguese"},
};

const LanguageId* FindLanguage(const std::string& name) {
    for (const auto& entry : kLanguages)
        if (name.rfind(entry.prefix, 0) == 0)
            return &entry;
    return nullptr;
}

// "de_DE.UTF-8@euro" -> "de-DE"
WideString BcpName(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == '.' || c == '@')
            break;
        out.push_back(c == '_' ? '-' : c);
    }
    return WideString(out.begin(), out.end());
}

void LoadNumeric(Settings& s, const std::string& name) {
    locale_t loc = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr))
        return;
    const bool utf8 = std::strcmp(nl_langinfo_l(CODESET, loc), "UTF-8") == 0;
    WideString decimal = Decode(nl_langinfo_l(RADIXCHAR, loc), utf8);
    WideString thousand = Decode(nl_langinfo_l(THOUSEP, loc), utf8);
    if (!decimal.empty())
        s.decimal = decimal;
    if (!thousand.empty())
        s.thousand = thousand;
    else
        s.thousand = s.decimal == u"," ? u"." : u",";
    s.list = s.decimal == u"," ? u";" : u",";
    freelocale(loc);
}

void LoadMonetary(Settings& s, const std::string& name) {
    locale_t loc = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr))
        return;
    const bool utf8 = std::strcmp(nl_langinfo_l(CODESET, loc), "UTF-8") == 0;
    locale_t previous = uselocale(loc);
    const lconv* conv = localeconv();
    if (conv->currency_symbol != nullptr && *conv->currency_symbol)
        s.currency = Decode(conv->currency_symbol, utf8);
    if (conv->mon_decimal_point != nullptr && *conv->mon_decimal_point)
        s.monDecimal = Decode(conv->mon_decimal_point, utf8);
    if (conv->mon_thousands_sep != nullptr && *conv->mon_thousands_sep)
        s.monThousand = Decode(conv->mon_thousands_sep, utf8);
    if (conv->negative_sign != nullptr && *conv->negative_sign)
        s.negative = Decode(conv->negative_sign, utf8);
    if (conv->frac_digits != CHAR_MAX)
        s.currDigits = Number(conv->frac_digits);
    if (conv->p_cs_precedes != CHAR_MAX)
        s.currencyPos =
            Number(conv->p_cs_precedes ? (conv->p_sep_by_space ? 2 : 0) : (conv->p_sep_by_space ? 3 : 1));
    uselocale(previous);
    freelocale(loc);
}

void LoadTime(Settings& s, const std::string& name) {
    locale_t loc = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr))
        return;
    const bool utf8 = std::strcmp(nl_langinfo_l(CODESET, loc), "UTF-8") == 0;
    const std::string ampm = nl_langinfo_l(T_FMT_AMPM, loc);
    WideString date = NvStrftimeToPicture(nl_langinfo_l(D_FMT, loc), ampm);
    WideString time = NvStrftimeToPicture(nl_langinfo_l(T_FMT, loc), ampm);
    // Windows' short date always shows four-digit years; two-digit POSIX years would make
    // dates ambiguous when read back.
    if (date.find(u"yyyy") == WideString::npos) {
        size_t y = date.find(u"yy");
        if (y != WideString::npos)
            date.replace(y, 2, u"yyyy");
    }
    if (!date.empty()) {
        s.shortDate = date;
        s.dateSep = FirstSeparator(date, u"/");
        s.dateOrder = DateOrder(date);
        s.longDate = LongDateFor(s.dateOrder);
    }
    if (!time.empty()) {
        s.timeFormat = time;
        s.timeSep = FirstSeparator(time, u":");
        s.clock24 = time.find(u'H') != WideString::npos ? u"1" : u"0";
    }
    WideString am = Decode(nl_langinfo_l(AM_STR, loc), utf8);
    WideString pm = Decode(nl_langinfo_l(PM_STR, loc), utf8);
    s.am = am;
    s.pm = pm;
    freelocale(loc);
}

// Entries are never removed, so references into the cache stay valid.
const Settings& UserSettings() {
    const std::string numeric = LocaleNameFor("LC_NUMERIC");
    const std::string time = LocaleNameFor("LC_TIME");
    const std::string monetary = LocaleNameFor("LC_MONETARY");
    const std::string key = numeric + '\n' + time + '\n' + monetary;

    static std::mutex mutex;
    static std::map<std::string, Settings> cache;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second;

    Settings s;
    if (!IsCLocaleName(numeric))
        LoadNumeric(s, numeric);
    if (!IsCLocaleName(time))
        LoadTime(s, time);
    if (!IsCLocaleName(monetary))
        LoadMonetary(s, monetary);
    const std::string general = LocaleNameFor("LC_CTYPE");
    if (!IsCLocaleName(general)) {
        s.name = BcpName(general);
        if (const LanguageId* language = FindLanguage(general))
            s.language = language->language;
        s.measure = general.rfind("en_US", 0) == 0 ? u"1" : u"0";
    }
    return cache.emplace(key, std::move(s)).first->second;
}

LCID UserLcid() {
    const std::string name = LocaleNameFor("LC_CTYPE");
    if (IsCLocaleName(name))
        return 0x0409;
    const LanguageId* language = FindLanguage(name);
    return language != nullptr ? language->lcid : 0x0409;
}

// nullptr when the type is not one this stand-in knows.
const WideString* Lookup(const Settings& s, DWORD type) {
    switch (type) {
        case LOCALE_SLIST:
            return &s.list;
        case LOCALE_IMEASURE:
            return &s.measure;
        case LOCALE_SDECIMAL:
            return &s.decimal;
        case LOCALE_STHOUSAND:
            return &s.thousand;
        case LOCALE_SGROUPING:
            return &s.grouping;
        case LOCALE_IDIGITS:
            return &s.digits;
        case LOCALE_ILZERO:
            return &s.leadingZero;
        case LOCALE_SCURRENCY:
            return &s.currency;
        case LOCALE_SMONDECIMALSEP:
            return &s.monDecimal;
        case LOCALE_SMONTHOUSANDSEP:
            return &s.monThousand;
        case LOCALE_ICURRDIGITS:
            return &s.currDigits;
        case LOCALE_ICURRENCY:
            return &s.currencyPos;
        case LOCALE_INEGCURR:
            return &s.currencyNeg;
        case LOCALE_SDATE:
            return &s.dateSep;
        case LOCALE_STIME:
            return &s.timeSep;
        case LOCALE_SSHORTDATE:
            return &s.shortDate;
        case LOCALE_SLONGDATE:
            return &s.longDate;
        case LOCALE_IDATE:
            return &s.dateOrder;
        case LOCALE_ITIME:
            return &s.clock24;
        case LOCALE_S1159:
            return &s.am;
        case LOCALE_S2359:
            return &s.pm;
        case LOCALE_SNEGATIVESIGN:
            return &s.negative;
        case LOCALE_STIMEFORMAT:
            return &s.timeFormat;
        case LOCALE_SENGLANGUAGE:
            return &s.language;
        case LOCALE_SNAME:
            return &s.name;
        default:
            return nullptr;
    }
}

bool IsNumericType(DWORD type) {
    switch (type) {
        case LOCALE_IMEASURE:
        case LOCALE_IDIGITS:
        case LOCALE_ILZERO:
        case LOCALE_ICURRDIGITS:
        case LOCALE_ICURRENCY:
        case LOCALE_INEGCURR:
        case LOCALE_IDATE:
        case LOCALE_ITIME:
            return true;
        default:
            return false;
    }
}

constexpr DWORD kLocaleUseCpAcp = 0x40000000;

}  // namespace

extern "C" {

LCID GetUserDefaultLCID() {
    return UserLcid();
}

LCID GetSystemDefaultLCID() {
    return UserLcid();
}

LCID GetThreadLocale() {
    return UserLcid();
}

int GetLocaleInfoW(LCID Locale, DWORD LCType, LPWSTR lpLCData, int cchData) {
    if (cchData < 0 || (cchData > 0 && lpLCData == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const bool asNumber = (LCType & LOCALE_RETURN_NUMBER) != 0;
    const DWORD type = LCType & ~(LOCALE_NOUSEROVERRIDE | LOCALE_RETURN_NUMBER | kLocaleUseCpAcp);
    static const Settings invariant = InvariantSettings();
    const Settings* known = KnownSettings(Locale);
    const Settings& settings = (Locale & 0xFFFF) == LOCALE_INVARIANT ? invariant
                               : known != nullptr                    ? *known
                                                                     : UserSettings();
    const WideString* value = Lookup(settings, type);
    if (value == nullptr || (asNumber && !IsNumericType(type))) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (asNumber) {
        // The number goes into the buffer as a DWORD, which takes two WCHARs.
        constexpr int kNeeded = sizeof(DWORD) / sizeof(WCHAR);
        if (cchData == 0)
            return kNeeded;
        if (cchData < kNeeded) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        DWORD number = 0;
        for (char16_t c : *value)
            number = number * 10 + static_cast<DWORD>(c - u'0');
        std::memcpy(lpLCData, &number, sizeof number);
        return kNeeded;
    }
    const int needed = static_cast<int>(value->size()) + 1;
    if (cchData == 0)
        return needed;
    if (cchData < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpLCData, value->c_str(), needed * sizeof(WCHAR));
    return needed;
}

}  // extern "C"
