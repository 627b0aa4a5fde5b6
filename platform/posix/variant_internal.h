// Pieces shared by the stand-in's value conversions (variant_convert.cpp) and its text and
// calendar handling (variant_text.cpp). Not part of the stand-in's public surface.
#pragma once

#include <string>

#include "platform/posix/oleauto.h"

namespace nv::oleaut {

using Int128 = __int128;
using UInt128 = unsigned __int128;
using WideString = std::basic_string<WCHAR>;

// A number read from text, exactly: digits x 10^exp10. Only the first 30 significant digits
// are kept; `sticky` records that a dropped digit was not zero (it matters for rounding).
struct ExactNumber {
    UInt128 digits = 0;
    int exp10 = 0;
    bool negative = false;
    bool sticky = false;
    bool hexOrOctal = false;  // &H / &O: the bits of an integer rather than a magnitude
};

// IDispatch is not declared by the stand-in; its IID is needed for dispatch arrays and the
// VT_UNKNOWN -> VT_DISPATCH conversion.
DEFINE_GUID(kIID_IDispatch, 0x00020400, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// S_OK for the types a VARIANT may hold (with or without VT_BYREF / VT_ARRAY), else
// DISP_E_BADVARTYPE.
HRESULT ValidateVartype(VARTYPE vt);

// Text of one regional setting (GetLocaleInfoW), or the fallback when the call fails.
WideString LocaleText(LCID lcid, DWORD type, const char16_t* fallback);

// Numbers as the user types them: surrounding blanks, a leading or trailing sign, parentheses
// for negative numbers, the currency symbol, thousands separators in the integer part, the
// regional decimal separator, an exponent, and &H / &O prefixes for hexadecimal and octal.
// DISP_E_TYPEMISMATCH when the text is not a number.
HRESULT ParseNumber(const OLECHAR* text, LCID lcid, ExactNumber& out);

// DISP_E_OVERFLOW beyond the double range; tiny values become 0.
HRESULT ExactToDouble(const ExactNumber& n, double& out);

// `significant` digits, no trailing zeros, exponent form outside 1E-5 .. 1E+digits as
// Windows writes it ("1E+16", "1.5E-05"); the decimal separator comes from the locale.
WideString FormatReal(double value, int significant, LCID lcid);
WideString FormatInteger(Int128 value);
// magnitude / 10^scale, trailing fractional zeros dropped.
WideString FormatScaled(UInt128 magnitude, int scale, bool negative, LCID lcid);

// Calendar. A DATE counts days from 1899-12-30; before that day the fraction still counts
// forward from midnight (-1.25 is 1899-12-29 06:00), so the fraction is |value - trunc(value)|.
bool DateToSystemTime(DATE value, SYSTEMTIME& out);  // rounded to the second
bool SystemTimeToDate(int year, int month, int day, int hour, int minute, int second, DATE& out);

// A year below 100 in the two-digit-year window 1950-2049; other years as they are.
int WindowedYear(int year);

// Text of a date with the regional short date and long time pictures: the date alone when
// the time is midnight, the time alone on day 0. E_INVALIDARG outside the DATE range.
HRESULT FormatDate(DATE value, LCID lcid, DWORD flags, WideString& out);
// Dates in the regional order, ISO order (yyyy-mm-dd), with English month names, and with an
// optional time (hh:nn[:ss] [AM|PM]); a time alone gives day 0. DISP_E_TYPEMISMATCH otherwise.
HRESULT ParseDate(const OLECHAR* text, LCID lcid, DWORD flags, DATE& out);

}  // namespace nv::oleaut
