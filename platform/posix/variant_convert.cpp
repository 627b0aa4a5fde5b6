// Conversions between the automation value types: VariantChangeType(Ex) and the Var*From*
// functions, with Windows' rules.
//
// Rules worth knowing:
// - Rounding to an integer (or to currency's four decimals) is half to even: 2.5 -> 2, 3.5 -> 4.
// - A value outside the target's range is DISP_E_OVERFLOW; text that is not a value is
//   DISP_E_TYPEMISMATCH. The destination is left untouched on failure.
// - Boolean true is -1. It converts to -1 in the signed types and, as a bit pattern, to the
//   maximum of the unsigned types (255, 65535, 4294967295, 18446744073709551615). Through
//   VariantChangeType a Boolean becomes the decimal 1 or 0 (VarDecFromBool is not offered).
// - Signed and unsigned types of the same width (I1/UI1, I2/UI2, I4/UI4/INT/UINT, I8/UI8)
//   convert into each other by bit pattern, without a range check.
// - VT_EMPTY converts to 0, "" and False; VT_NULL converts to nothing but itself. Every other
//   scalar type but VT_ERROR converts to VT_EMPTY or VT_NULL (the value is dropped); VT_NULL
//   converts to VT_NULL only.
// - A NaN never becomes an integer or currency value: that is DISP_E_OVERFLOW rather than
//   whatever bits a processor's conversion leaves behind.
// - VT_ERROR converts to nothing but itself: Windows neither maps it to VT_I4/VT_UI4 nor back.
// - Boolean -> text gives "-1"/"0" unless VARIANT_ALPHABOOL or VARIANT_LOCALBOOL asks for the
//   words "True"/"False".
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/posix/locale.h"
#include "platform/posix/unknwn.h"
#include "platform/posix/variant_internal.h"

namespace nv::oleaut {

namespace {

constexpr UInt128 kDecimalMax = (static_cast<UInt128>(1) << 96) - 1;
constexpr UInt128 kHuge = static_cast<UInt128>(1) << 100;  // beyond every integer type
constexpr int kMaxDecimalScale = 28;

UInt128 Pow10(int n) {
    UInt128 p = 1;
    for (int i = 0; i < n; ++i)
        p *= 10;
    return p;
}

// value / divisor, rounded half to even; `sticky` says the true value is a little more than
// `value` (digits were dropped), which breaks an exact tie upwards.
UInt128 DivideRoundEven(UInt128 value, UInt128 divisor, bool sticky = false) {
    UInt128 q = value / divisor;
    const UInt128 r = value % divisor;
    const UInt128 twice = r * 2;
    if (twice > divisor || (twice == divisor && (sticky || (q & 1))))
        ++q;
    return q;
}

HRESULT CheckRange(bool negative, UInt128 magnitude, Int128 lo, Int128 hi, Int128& out) {
    if (magnitude >= kHuge)
        return DISP_E_OVERFLOW;
    const Int128 v = negative ? -static_cast<Int128>(magnitude) : static_cast<Int128>(magnitude);
    if (v < lo || v > hi)
        return DISP_E_OVERFLOW;
    out = v;
    return S_OK;
}

HRESULT IntegerFromDouble(double d, Int128 lo, Int128 hi, Int128& out) {
    if (std::isnan(d))
        return DISP_E_OVERFLOW;
    const double r = std::nearbyint(d);  // the default rounding mode rounds ties to even
    if (!(r > -1.0e20 && r < 1.0e20))
        return DISP_E_OVERFLOW;
    const Int128 v = static_cast<Int128>(r);
    if (v < lo || v > hi)
        return DISP_E_OVERFLOW;
    out = v;
    return S_OK;
}

HRESULT IntegerFromExact(const ExactNumber& n, Int128 lo, Int128 hi, Int128& out) {
    UInt128 magnitude = 0;
    if (n.digits == 0) {
        magnitude = 0;
    } else if (n.exp10 >= 0) {
        if (n.exp10 > 38 || n.digits > kHuge / Pow10(n.exp10))
            return DISP_E_OVERFLOW;
        magnitude = n.digits * Pow10(n.exp10);
    } else if (-n.exp10 > 38) {
        magnitude = 0;  // below 1e-8: rounds to zero
    } else {
        magnitude = DivideRoundEven(n.digits, Pow10(-n.exp10), n.sticky);
    }
    // Hexadecimal and octal text gives the bit pattern of a signed type: &HFFFFFFFF is -1 as
    // a 4-byte integer.
    if (n.hexOrOctal && !n.negative && lo < 0 && static_cast<Int128>(magnitude) > hi &&
        static_cast<Int128>(magnitude) <= hi - lo) {
        out = static_cast<Int128>(magnitude) - (hi - lo + 1);
        return S_OK;
    }
    return CheckRange(n.negative, magnitude, lo, hi, out);
}

HRESULT IntegerFromCy(CY cy, Int128 lo, Int128 hi, Int128& out) {
    const bool negative = cy.int64 < 0;
    const UInt128 magnitude = negative ? -static_cast<Int128>(cy.int64) : static_cast<Int128>(cy.int64);
    return CheckRange(negative, DivideRoundEven(magnitude, 10000), lo, hi, out);
}

bool DecimalParts(const DECIMAL& d, UInt128& magnitude, int& scale, bool& negative) {
    if (d.scale > kMaxDecimalScale || (d.sign & ~DECIMAL_NEG) != 0)
        return false;
    magnitude = (static_cast<UInt128>(d.Hi32) << 64) | d.Lo64;
    scale = d.scale;
    negative = (d.sign & DECIMAL_NEG) != 0;
    return true;
}

HRESULT IntegerFromDecimal(const DECIMAL& d, Int128 lo, Int128 hi, Int128& out) {
    UInt128 magnitude;
    int scale;
    bool negative;
    if (!DecimalParts(d, magnitude, scale, negative))
        return E_INVALIDARG;
    return CheckRange(negative, DivideRoundEven(magnitude, Pow10(scale)), lo, hi, out);
}

// The double's exact value times 10^4, rounded half to even. Multiplying in double first
// would round twice: 922337203685477.0 would become ...769664 instead of ...770000 ten-
// thousandths, 0.00005 (a little more than half a ten-thousandth as a double) would become 0,
// and values just below the currency minimum would round onto it instead of overflowing.
HRESULT CyFromDouble(double d, CY& out) {
    if (!std::isfinite(d))
        return DISP_E_OVERFLOW;
    if (d == 0.0) {
        out.int64 = 0;
        return S_OK;
    }
    int exponent = 0;
    const double fraction = std::frexp(std::fabs(d), &exponent);  // |d| = fraction * 2^exponent
    // 2^50 ten-thousandths are far past the currency range; this also bounds the shifts below.
    if (exponent > 50)
        return DISP_E_OVERFLOW;
    const auto mantissa = static_cast<UInt128>(std::ldexp(fraction, 53));  // |d| = mantissa * 2^(exponent-53)
    const int shift = 53 - exponent;                                       // at least 3
    const UInt128 scaled = mantissa * 10000;                               // below 2^67
    const UInt128 magnitude = shift >= 100 ? 0 : DivideRoundEven(scaled, static_cast<UInt128>(1) << shift);
    Int128 v;
    HRESULT hr = CheckRange(d < 0, magnitude, std::numeric_limits<LONGLONG>::min(),
                            std::numeric_limits<LONGLONG>::max(), v);
    if (SUCCEEDED(hr))
        out.int64 = static_cast<LONGLONG>(v);
    return hr;
}

HRESULT CyFromInteger(Int128 value, CY& out) {
    const Int128 scaled = value * 10000;
    if (scaled < std::numeric_limits<LONGLONG>::min() || scaled > std::numeric_limits<LONGLONG>::max())
        return DISP_E_OVERFLOW;
    out.int64 = static_cast<LONGLONG>(scaled);
    return S_OK;
}

HRESULT CyFromExact(ExactNumber n, CY& out) {
    n.exp10 += 4;
    Int128 v;
    HRESULT hr =
        IntegerFromExact(n, std::numeric_limits<LONGLONG>::min(), std::numeric_limits<LONGLONG>::max(), v);
    if (SUCCEEDED(hr))
        out.int64 = static_cast<LONGLONG>(v);
    return hr;
}

HRESULT CyFromDecimal(const DECIMAL& d, CY& out) {
    UInt128 magnitude;
    int scale;
    bool negative;
    if (!DecimalParts(d, magnitude, scale, negative))
        return E_INVALIDARG;
    if (scale <= 4) {
        if (magnitude >= kHuge / Pow10(4 - scale))
            return DISP_E_OVERFLOW;
        magnitude *= Pow10(4 - scale);
    } else {
        magnitude = DivideRoundEven(magnitude, Pow10(scale - 4));
    }
    Int128 v;
    HRESULT hr = CheckRange(negative, magnitude, std::numeric_limits<LONGLONG>::min(),
                            std::numeric_limits<LONGLONG>::max(), v);
    if (SUCCEEDED(hr))
        out.int64 = static_cast<LONGLONG>(v);
    return hr;
}

double DoubleFromCy(CY cy) {
    return static_cast<double>(cy.int64) / 10000.0;
}

HRESULT DoubleFromDecimal(const DECIMAL& d, double& out) {
    ExactNumber n;
    int scale;
    if (!DecimalParts(d, n.digits, scale, n.negative))
        return E_INVALIDARG;
    n.exp10 = -scale;
    return ExactToDouble(n, out);
}

// Stores magnitude / 10^scale, giving up decimal places (rounding) to fit 96 bits.
HRESULT MakeDecimal(bool negative, UInt128 magnitude, int scale, DECIMAL& out) {
    while (scale > kMaxDecimalScale || (magnitude > kDecimalMax && scale > 0)) {
        magnitude = DivideRoundEven(magnitude, 10);
        --scale;
    }
    if (magnitude > kDecimalMax)
        return DISP_E_OVERFLOW;
    DECIMAL d{};
    d.scale = static_cast<BYTE>(scale);
    d.sign = (negative && magnitude != 0) ? DECIMAL_NEG : 0;
    d.Hi32 = static_cast<ULONG>(magnitude >> 64);
    d.Lo64 = static_cast<ULONGLONG>(magnitude);
    // The caller's wReserved (the VARIANT's vt) is left alone.
    out.signscale = d.signscale;
    out.Hi32 = d.Hi32;
    out.Lo64 = d.Lo64;
    return S_OK;
}

HRESULT DecimalFromInteger(Int128 value, DECIMAL& out) {
    const bool negative = value < 0;
    return MakeDecimal(negative, negative ? static_cast<UInt128>(-value) : static_cast<UInt128>(value), 0,
                       out);
}

HRESULT DecimalFromExact(const ExactNumber& n, DECIMAL& out) {
    if (n.digits == 0)
        return MakeDecimal(false, 0, 0, out);
    if (n.exp10 >= 0) {
        if (n.exp10 > 29 || n.digits > kHuge / Pow10(n.exp10))
            return DISP_E_OVERFLOW;
        return MakeDecimal(n.negative, n.digits * Pow10(n.exp10), 0, out);
    }
    // Trailing fractional zeros of the text are not kept: "1.50" is 1.5 with scale 1.
    ExactNumber trimmed = n;
    while (trimmed.exp10 < 0 && !trimmed.sticky && trimmed.digits % 10 == 0) {
        trimmed.digits /= 10;
        ++trimmed.exp10;
    }
    int scale = -trimmed.exp10;
    UInt128 magnitude = trimmed.digits;
    if (scale > kMaxDecimalScale) {
        const int drop = scale - kMaxDecimalScale;
        magnitude = drop > 38 ? 0 : DivideRoundEven(magnitude, Pow10(drop), trimmed.sticky);
        scale = kMaxDecimalScale;
    }
    return MakeDecimal(trimmed.negative, magnitude, scale, out);
}

// Doubles carry 15 significant decimal digits (floats 7); the decimal gets exactly those.
HRESULT DecimalFromDouble(double value, int significant, DECIMAL& out) {
    if (!std::isfinite(value))
        return DISP_E_OVERFLOW;
    char buf[64];
    auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, significant - 1);
    ExactNumber n;
    const char* p = buf;
    if (*p == '-') {
        n.negative = true;
        ++p;
    }
    bool fraction = false;
    for (; p != result.ptr && *p != 'e'; ++p) {
        if (*p == '.') {
            fraction = true;
            continue;
        }
        n.digits = n.digits * 10 + static_cast<unsigned>(*p - '0');
        if (fraction)
            --n.exp10;
    }
    if (p != result.ptr) {
        int exponent = 0;
        std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), result.ptr, exponent);
        n.exp10 += exponent;
    }
    while (n.digits != 0 && n.digits % 10 == 0) {
        n.digits /= 10;
        ++n.exp10;
    }
    return DecimalFromExact(n, out);
}

HRESULT DecimalFromCy(CY cy, DECIMAL& out) {
    const bool negative = cy.int64 < 0;
    const UInt128 magnitude = negative ? -static_cast<Int128>(cy.int64) : static_cast<Int128>(cy.int64);
    return MakeDecimal(negative, magnitude, 4, out);
}

HRESULT CheckDate(double value, DATE& out) {
    if (!(value > NV_DATE_MIN - 1.0 && value < NV_DATE_MAX + 1.0))
        return DISP_E_OVERFLOW;
    out = value;
    return S_OK;
}

HRESULT CheckFloat(double value, FLOAT& out) {
    if (std::isinf(value) || (!std::isnan(value) && std::fabs(value) > FLT_MAX))
        return DISP_E_OVERFLOW;
    out = static_cast<FLOAT>(value);
    return S_OK;
}

HRESULT BoolFromText(const OLECHAR* text, LCID lcid, VARIANT_BOOL& out) {
    WideString s = text == nullptr ? WideString() : WideString(text);
    // The bracketed forms are the literal texts of a Boolean written by Basic's Write #
    // statement: Windows takes them only exactly so, in capitals and without blanks.
    if (s == u"#TRUE#" || s == u"#FALSE#") {
        out = s == u"#TRUE#" ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == u' ' || s[b] == u'\t'))
        ++b;
    while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t'))
        --e;
    WideString word = s.substr(b, e - b);
    for (auto& c : word)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    if (word == u"TRUE") {
        out = VARIANT_TRUE;
        return S_OK;
    }
    if (word == u"FALSE") {
        out = VARIANT_FALSE;
        return S_OK;
    }
    ExactNumber n;
    HRESULT hr = ParseNumber(text, lcid, n);
    if (FAILED(hr))
        return hr;
    out = n.digits != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT MakeBstr(const WideString& text, BSTR& out) {
    out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// ---- Reading a source VARIANT ---------------------------------------------------------------

bool IsIntegerType(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
            return true;
        default:
            return false;
    }
}

Int128 IntegerOf(const VARIANT& v, VARTYPE vt) {
    switch (vt) {
        case VT_I1:
            return static_cast<signed char>(v.cVal);
        case VT_UI1:
            return v.bVal;
        case VT_I2:
            return v.iVal;
        case VT_UI2:
            return v.uiVal;
        case VT_I4:
            return v.lVal;
        case VT_UI4:
            return v.ulVal;
        case VT_I8:
            return v.llVal;
        case VT_UI8:
            return v.ullVal;
        default:
            return 0;
    }
}

int WidthOf(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
            return 2;
        case VT_I4:
        case VT_UI4:
            return 4;
        case VT_I8:
        case VT_UI8:
            return 8;
        default:
            return 0;
    }
}

bool IsUnsigned(VARTYPE vt) {
    return vt == VT_UI1 || vt == VT_UI2 || vt == VT_UI4 || vt == VT_UI8;
}

void IntegerLimits(VARTYPE vt, Int128& lo, Int128& hi) {
    switch (vt) {
        case VT_I1:
            lo = -128;
            hi = 127;
            break;
        case VT_UI1:
            lo = 0;
            hi = 0xFF;
            break;
        case VT_I2:
            lo = -32768;
            hi = 32767;
            break;
        case VT_UI2:
            lo = 0;
            hi = 0xFFFF;
            break;
        case VT_I4:
            lo = std::numeric_limits<LONG>::min();
            hi = std::numeric_limits<LONG>::max();
            break;
        case VT_UI4:
            lo = 0;
            hi = std::numeric_limits<ULONG>::max();
            break;
        case VT_I8:
            lo = std::numeric_limits<LONGLONG>::min();
            hi = std::numeric_limits<LONGLONG>::max();
            break;
        default:
            lo = 0;
            hi = std::numeric_limits<ULONGLONG>::max();
            break;
    }
}

void StoreInteger(VARIANT& v, VARTYPE vt, Int128 value) {
    switch (vt) {
        case VT_I1:
            v.cVal = static_cast<CHAR>(value);
            break;
        case VT_UI1:
            v.bVal = static_cast<BYTE>(value);
            break;
        case VT_I2:
            v.iVal = static_cast<SHORT>(value);
            break;
        case VT_UI2:
            v.uiVal = static_cast<USHORT>(value);
            break;
        case VT_I4:
            v.lVal = static_cast<LONG>(value);
            break;
        case VT_UI4:
            v.ulVal = static_cast<ULONG>(value);
            break;
        case VT_I8:
            v.llVal = static_cast<LONGLONG>(value);
            break;
        default:
            v.ullVal = static_cast<ULONGLONG>(value);
            break;
    }
}

HRESULT BoolToUnsigned(VARIANT_BOOL b, VARTYPE vt, Int128& out) {
    // The 16-bit value sign-extended to the target's width: true sets every bit.
    const int width = WidthOf(vt);
    const Int128 mask = (static_cast<Int128>(1) << (8 * width)) - 1;
    out = static_cast<Int128>(b) & mask;
    return S_OK;
}

HRESULT ToInteger(const VARIANT& src, VARTYPE from, VARTYPE to, LCID lcid, Int128& out) {
    Int128 lo, hi;
    IntegerLimits(to, lo, hi);
    if (IsIntegerType(from)) {
        const Int128 v = IntegerOf(src, from);
        if (v < lo || v > hi)
            return DISP_E_OVERFLOW;
        out = v;
        return S_OK;
    }
    switch (from) {
        case VT_EMPTY:
            out = 0;
            return S_OK;
        case VT_BOOL:
            if (IsUnsigned(to))
                return BoolToUnsigned(src.boolVal, to, out);
            out = src.boolVal;
            return S_OK;
        case VT_R4:
            return IntegerFromDouble(src.fltVal, lo, hi, out);
        case VT_R8:
        case VT_DATE:
            return IntegerFromDouble(src.dblVal, lo, hi, out);
        case VT_CY:
            return IntegerFromCy(src.cyVal, lo, hi, out);
        case VT_DECIMAL:
            return IntegerFromDecimal(src.decVal, lo, hi, out);
        case VT_BSTR: {
            ExactNumber n;
            HRESULT hr = ParseNumber(src.bstrVal, lcid, n);
            return FAILED(hr) ? hr : IntegerFromExact(n, lo, hi, out);
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

// Numeric value of a source for the floating-point targets; text is read as a number.
HRESULT ToDouble(const VARIANT& src, VARTYPE from, LCID lcid, double& out) {
    if (IsIntegerType(from)) {
        out = static_cast<double>(IntegerOf(src, from));
        return S_OK;
    }
    switch (from) {
        case VT_EMPTY:
            out = 0.0;
            return S_OK;
        case VT_BOOL:
            out = src.boolVal;
            return S_OK;
        case VT_R4:
            out = src.fltVal;
            return S_OK;
        case VT_R8:
        case VT_DATE:
            out = src.dblVal;
            return S_OK;
        case VT_CY:
            out = DoubleFromCy(src.cyVal);
            return S_OK;
        case VT_DECIMAL:
            return DoubleFromDecimal(src.decVal, out);
        case VT_BSTR: {
            ExactNumber n;
            HRESULT hr = ParseNumber(src.bstrVal, lcid, n);
            return FAILED(hr) ? hr : ExactToDouble(n, out);
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToCy(const VARIANT& src, VARTYPE from, LCID lcid, CY& out) {
    if (IsIntegerType(from))
        return CyFromInteger(IntegerOf(src, from), out);
    switch (from) {
        case VT_EMPTY:
            out.int64 = 0;
            return S_OK;
        case VT_BOOL:
            return CyFromInteger(src.boolVal, out);
        case VT_R4:
            return CyFromDouble(src.fltVal, out);
        case VT_R8:
        case VT_DATE:
            return CyFromDouble(src.dblVal, out);
        case VT_DECIMAL:
            return CyFromDecimal(src.decVal, out);
        case VT_BSTR: {
            ExactNumber n;
            HRESULT hr = ParseNumber(src.bstrVal, lcid, n);
            return FAILED(hr) ? hr : CyFromExact(n, out);
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToDecimal(const VARIANT& src, VARTYPE from, LCID lcid, DECIMAL& out) {
    if (IsIntegerType(from))
        return DecimalFromInteger(IntegerOf(src, from), out);
    switch (from) {
        case VT_EMPTY:
            return MakeDecimal(false, 0, 0, out);
        case VT_BOOL:
            return MakeDecimal(false, src.boolVal != 0 ? 1 : 0, 0, out);
        case VT_R4:
            return DecimalFromDouble(src.fltVal, 7, out);
        case VT_R8:
        case VT_DATE:
            return DecimalFromDouble(src.dblVal, 15, out);
        case VT_CY:
            return DecimalFromCy(src.cyVal, out);
        case VT_BSTR: {
            ExactNumber n;
            HRESULT hr = ParseNumber(src.bstrVal, lcid, n);
            return FAILED(hr) ? hr : DecimalFromExact(n, out);
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToBool(const VARIANT& src, VARTYPE from, LCID lcid, VARIANT_BOOL& out) {
    auto set = [&](bool value) {
        out = value ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    };
    if (IsIntegerType(from))
        return set(IntegerOf(src, from) != 0);
    switch (from) {
        case VT_EMPTY:
            return set(false);
        case VT_R4:
            return set(src.fltVal != 0.0f);
        case VT_R8:
        case VT_DATE:
            return set(src.dblVal != 0.0);
        case VT_CY:
            return set(src.cyVal.int64 != 0);
        case VT_DECIMAL: {
            UInt128 magnitude;
            int scale;
            bool negative;
            if (!DecimalParts(src.decVal, magnitude, scale, negative))
                return E_INVALIDARG;
            return set(magnitude != 0);
        }
        case VT_BSTR:
            return BoolFromText(src.bstrVal, lcid, out);
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToText(const VARIANT& src, VARTYPE from, LCID lcid, USHORT wFlags, WideString& out) {
    if (IsIntegerType(from)) {
        out = FormatInteger(IntegerOf(src, from));
        return S_OK;
    }
    switch (from) {
        case VT_EMPTY:
            out.clear();
            return S_OK;
        case VT_BOOL:
            if (wFlags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL))
                out = src.boolVal != 0 ? u"True" : u"False";
            else
                out = FormatInteger(src.boolVal);
            return S_OK;
        case VT_R4:
            out = FormatReal(src.fltVal, 7, lcid);
            return S_OK;
        case VT_R8:
            out = FormatReal(src.dblVal, 15, lcid);
            return S_OK;
        case VT_DATE:
            return FormatDate(src.date, lcid, 0, out);
        case VT_CY: {
            const bool negative = src.cyVal.int64 < 0;
            const UInt128 magnitude =
                negative ? -static_cast<Int128>(src.cyVal.int64) : static_cast<Int128>(src.cyVal.int64);
            out = FormatScaled(magnitude, 4, negative, lcid);
            return S_OK;
        }
        case VT_DECIMAL: {
            UInt128 magnitude;
            int scale;
            bool negative;
            if (!DecimalParts(src.decVal, magnitude, scale, negative))
                return E_INVALIDARG;
            out = FormatScaled(magnitude, scale, negative, lcid);
            return S_OK;
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

HRESULT Coerce(VARIANT& dst, const VARIANT& src, LCID lcid, USHORT wFlags, VARTYPE vt) {
    VARTYPE from = src.vt;
    VARTYPE to = vt;
    if (from == VT_INT)
        from = VT_I4;
    if (from == VT_UINT)
        from = VT_UI4;
    if (to == VT_INT)
        to = VT_I4;
    if (to == VT_UINT)
        to = VT_UI4;
    if (from == to)
        return VariantCopy(&dst, &src);
    if ((wFlags & VARIANT_NOVALUEPROP) && from == VT_DISPATCH && to != VT_UNKNOWN)
        return DISP_E_TYPEMISMATCH;

    switch (to) {
        case VT_EMPTY:
            if (from == VT_NULL)
                return DISP_E_TYPEMISMATCH;
            [[fallthrough]];
        case VT_NULL:
            if (from <= VT_UINT && from != 15 && from != VT_ERROR)
                return S_OK;
            return DISP_E_TYPEMISMATCH;
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_I8:
        case VT_UI8: {
            if (WidthOf(from) == WidthOf(to) && IsIntegerType(from)) {
                dst.ullVal = src.ullVal;  // same width, other signedness: the bits as they are
                return S_OK;
            }
            Int128 value;
            HRESULT hr = ToInteger(src, from, to, lcid, value);
            if (SUCCEEDED(hr))
                StoreInteger(dst, to, value);
            return hr;
        }
        case VT_R4: {
            double value;
            HRESULT hr = ToDouble(src, from, lcid, value);
            return FAILED(hr) ? hr : CheckFloat(value, dst.fltVal);
        }
        case VT_R8:
            return ToDouble(src, from, lcid, dst.dblVal);
        case VT_DATE: {
            if (from == VT_BSTR)
                return ParseDate(src.bstrVal, lcid, 0, dst.date);
            double value;
            HRESULT hr = ToDouble(src, from, lcid, value);
            return FAILED(hr) ? hr : CheckDate(value, dst.date);
        }
        case VT_CY:
            return ToCy(src, from, lcid, dst.cyVal);
        case VT_DECIMAL:
            return ToDecimal(src, from, lcid, dst.decVal);
        case VT_BOOL:
            return ToBool(src, from, lcid, dst.boolVal);
        case VT_BSTR: {
            WideString text;
            HRESULT hr = ToText(src, from, lcid, wFlags, text);
            return FAILED(hr) ? hr : MakeBstr(text, dst.bstrVal);
        }
        case VT_UNKNOWN:
            if (from != VT_DISPATCH)
                return DISP_E_TYPEMISMATCH;
            if (src.punkVal == nullptr) {
                dst.punkVal = nullptr;
                return S_OK;
            }
            return src.punkVal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&dst.punkVal));
        case VT_DISPATCH:
            if (from != VT_UNKNOWN)
                return DISP_E_TYPEMISMATCH;
            if (src.punkVal == nullptr) {
                dst.pdispVal = nullptr;
                return S_OK;
            }
            return src.punkVal->QueryInterface(kIID_IDispatch, reinterpret_cast<void**>(&dst.pdispVal));
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

// Arrays convert only to the same array type, and between a string and its bytes.
HRESULT CoerceArray(VARIANT& dst, const VARIANT& src, VARTYPE vt) {
    if (vt == VT_BSTR && src.vt == (VT_ARRAY | VT_UI1)) {
        SAFEARRAY* psa = src.parray;
        if (psa == nullptr || psa->cDims != 1)
            return DISP_E_TYPEMISMATCH;
        dst.bstrVal = SysAllocStringByteLen(static_cast<LPCSTR>(psa->pvData), psa->rgsabound[0].cElements);
        return dst.bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    if (src.vt == VT_BSTR && vt == (VT_ARRAY | VT_UI1)) {
        const UINT bytes = SysStringByteLen(src.bstrVal);
        SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, bytes);
        if (psa == nullptr)
            return E_OUTOFMEMORY;
        if (bytes != 0)
            std::memcpy(psa->pvData, src.bstrVal, bytes);
        dst.parray = psa;
        return S_OK;
    }
    if (src.vt == vt)
        return SafeArrayCopy(src.parray, &dst.parray);
    return DISP_E_TYPEMISMATCH;
}

// ---- Helpers for the public Var*From* functions ----------------------------------------------

template <typename T>
HRESULT IntegerOut(HRESULT hr, const Int128& value, T* out) {
    if (SUCCEEDED(hr))
        *out = static_cast<T>(value);
    return hr;
}

template <typename T>
HRESULT FromDouble(double d, Int128 lo, Int128 hi, T* out) {
    if (out == nullptr)
        return E_INVALIDARG;
    Int128 v = 0;
    return IntegerOut(IntegerFromDouble(d, lo, hi, v), v, out);
}

template <typename T>
HRESULT FromText(LPCOLESTR text, LCID lcid, Int128 lo, Int128 hi, T* out) {
    if (out == nullptr)
        return E_INVALIDARG;
    ExactNumber n;
    HRESULT hr = ParseNumber(text, lcid, n);
    if (FAILED(hr))
        return hr;
    Int128 v = 0;
    return IntegerOut(IntegerFromExact(n, lo, hi, v), v, out);
}

HRESULT TextOut(HRESULT hr, const WideString& text, BSTR* out) {
    if (FAILED(hr))
        return hr;
    return MakeBstr(text, *out);
}

}  // namespace

}  // namespace nv::oleaut

using namespace nv::oleaut;

namespace {
constexpr Int128 kI4Min = std::numeric_limits<LONG>::min();
constexpr Int128 kI4Max = std::numeric_limits<LONG>::max();
constexpr Int128 kI8Min = std::numeric_limits<LONGLONG>::min();
constexpr Int128 kI8Max = std::numeric_limits<LONGLONG>::max();
constexpr Int128 kUI8Max = std::numeric_limits<ULONGLONG>::max();
}  // namespace

extern "C" {

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags,
                            VARTYPE vt) {
    if (pvargDest == nullptr || pvarSrc == nullptr)
        return E_INVALIDARG;
    if (vt == VT_CLSID)
        return DISP_E_BADVARTYPE;
    HRESULT hr = ValidateVartype(pvarSrc->vt);
    if (FAILED(hr))
        return hr;
    hr = ValidateVartype(vt);
    if (FAILED(hr))
        return hr;
    if ((pvarSrc->vt & VT_BYREF) && pvarSrc->byref == nullptr)
        return DISP_E_TYPEMISMATCH;

    // Work on a dereferenced copy, so that an in-place conversion (source == destination)
    // and a failed one both leave the caller's variant intact until the very end.
    VARIANT source;
    VariantInit(&source);
    hr = VariantCopyInd(&source, pvarSrc);
    if (FAILED(hr))
        return hr;
    VARIANT result;
    VariantInit(&result);
    if ((source.vt & VT_ARRAY) || (vt & VT_ARRAY))
        hr = CoerceArray(result, source, vt);
    else
        hr = Coerce(result, source, lcid, wFlags, vt);
    if (SUCCEEDED(hr)) {
        result.vt = vt;
        hr = VariantClear(pvargDest);
        if (SUCCEEDED(hr))
            *pvargDest = result;
        else
            VariantClear(&result);
    }
    VariantClear(&source);
    return hr;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
    return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}

// ---- Integers ----
HRESULT VarI1FromR8(DOUBLE dblIn, CHAR* pcOut) {
    return FromDouble(dblIn, -128, 127, pcOut);
}
HRESULT VarUI1FromR8(DOUBLE dblIn, BYTE* pbOut) {
    return FromDouble(dblIn, 0, 0xFF, pbOut);
}
HRESULT VarI2FromR8(DOUBLE dblIn, SHORT* psOut) {
    return FromDouble(dblIn, -32768, 32767, psOut);
}
HRESULT VarUI2FromR8(DOUBLE dblIn, USHORT* puiOut) {
    return FromDouble(dblIn, 0, 0xFFFF, puiOut);
}
HRESULT VarI4FromR8(DOUBLE dblIn, LONG* plOut) {
    return FromDouble(dblIn, kI4Min, kI4Max, plOut);
}
HRESULT VarUI4FromR8(DOUBLE dblIn, ULONG* pulOut) {
    return FromDouble(dblIn, 0, 0xFFFFFFFF, pulOut);
}
HRESULT VarI8FromR8(DOUBLE dblIn, LONGLONG* pi64Out) {
    return FromDouble(dblIn, kI8Min, kI8Max, pi64Out);
}
HRESULT VarUI8FromR8(DOUBLE dblIn, ULONGLONG* pi64Out) {
    return FromDouble(dblIn, 0, kUI8Max, pi64Out);
}
HRESULT VarI4FromR4(FLOAT fltIn, LONG* plOut) {
    return FromDouble(fltIn, kI4Min, kI4Max, plOut);
}
HRESULT VarI4FromDate(DATE dateIn, LONG* plOut) {
    return FromDouble(dateIn, kI4Min, kI4Max, plOut);
}

HRESULT VarI4FromCy(CY cyIn, LONG* plOut) {
    if (plOut == nullptr)
        return E_INVALIDARG;
    Int128 v = 0;
    return IntegerOut(IntegerFromCy(cyIn, kI4Min, kI4Max, v), v, plOut);
}

HRESULT VarI8FromCy(CY cyIn, LONGLONG* pi64Out) {
    if (pi64Out == nullptr)
        return E_INVALIDARG;
    Int128 v = 0;
    return IntegerOut(IntegerFromCy(cyIn, kI8Min, kI8Max, v), v, pi64Out);
}

HRESULT VarI4FromDec(const DECIMAL* pdecIn, LONG* plOut) {
    if (pdecIn == nullptr || plOut == nullptr)
        return E_INVALIDARG;
    Int128 v = 0;
    return IntegerOut(IntegerFromDecimal(*pdecIn, kI4Min, kI4Max, v), v, plOut);
}

HRESULT VarI8FromDec(const DECIMAL* pdecIn, LONGLONG* pi64Out) {
    if (pdecIn == nullptr || pi64Out == nullptr)
        return E_INVALIDARG;
    Int128 v = 0;
    return IntegerOut(IntegerFromDecimal(*pdecIn, kI8Min, kI8Max, v), v, pi64Out);
}

HRESULT VarUI8FromDec(const DECIMAL* pdecIn, ULONGLONG* pi64Out) {
    if (pdecIn == nullptr || pi64Out == nullptr)
        return E_INVALIDARG;
    Int128 v = 0;
    return IntegerOut(IntegerFromDecimal(*pdecIn, 0, kUI8Max, v), v, pi64Out);
}

HRESULT VarI4FromI8(LONGLONG i64In, LONG* plOut) {
    if (plOut == nullptr)
        return E_INVALIDARG;
    if (i64In < kI4Min || i64In > kI4Max)
        return DISP_E_OVERFLOW;
    *plOut = static_cast<LONG>(i64In);
    return S_OK;
}

HRESULT VarI4FromUI4(ULONG ulIn, LONG* plOut) {
    if (plOut == nullptr)
        return E_INVALIDARG;
    if (ulIn > static_cast<ULONG>(kI4Max))
        return DISP_E_OVERFLOW;
    *plOut = static_cast<LONG>(ulIn);
    return S_OK;
}

HRESULT VarUI1FromBool(VARIANT_BOOL boolIn, BYTE* pbOut) {
    if (pbOut == nullptr)
        return E_INVALIDARG;
    Int128 v = 0;
    return IntegerOut(BoolToUnsigned(boolIn, VT_UI1, v), v, pbOut);
}

HRESULT VarUI2FromBool(VARIANT_BOOL boolIn, USHORT* puiOut) {
    if (puiOut == nullptr)
        return E_INVALIDARG;
    Int128 v = 0;
    return IntegerOut(BoolToUnsigned(boolIn, VT_UI2, v), v, puiOut);
}

HRESULT VarUI4FromBool(VARIANT_BOOL boolIn, ULONG* pulOut) {
    if (pulOut == nullptr)
        return E_INVALIDARG;
    Int128 v = 0;
    return IntegerOut(BoolToUnsigned(boolIn, VT_UI4, v), v, pulOut);
}

HRESULT VarUI8FromBool(VARIANT_BOOL boolIn, ULONGLONG* pi64Out) {
    if (pi64Out == nullptr)
        return E_INVALIDARG;
    Int128 v = 0;
    return IntegerOut(BoolToUnsigned(boolIn, VT_UI8, v), v, pi64Out);
}

HRESULT VarI1FromStr(LPCOLESTR strIn, LCID lcid, ULONG, CHAR* pcOut) {
    return FromText(strIn, lcid, -128, 127, pcOut);
}
HRESULT VarUI1FromStr(LPCOLESTR strIn, LCID lcid, ULONG, BYTE* pbOut) {
    return FromText(strIn, lcid, 0, 0xFF, pbOut);
}
HRESULT VarI2FromStr(LPCOLESTR strIn, LCID lcid, ULONG, SHORT* psOut) {
    return FromText(strIn, lcid, -32768, 32767, psOut);
}
HRESULT VarUI2FromStr(LPCOLESTR strIn, LCID lcid, ULONG, USHORT* puiOut) {
    return FromText(strIn, lcid, 0, 0xFFFF, puiOut);
}
HRESULT VarI4FromStr(LPCOLESTR strIn, LCID lcid, ULONG, LONG* plOut) {
    return FromText(strIn, lcid, kI4Min, kI4Max, plOut);
}
HRESULT VarUI4FromStr(LPCOLESTR strIn, LCID lcid, ULONG, ULONG* pulOut) {
    return FromText(strIn, lcid, 0, 0xFFFFFFFF, pulOut);
}
HRESULT VarI8FromStr(LPCOLESTR strIn, LCID lcid, ULONG, LONGLONG* pi64Out) {
    return FromText(strIn, lcid, kI8Min, kI8Max, pi64Out);
}
HRESULT VarUI8FromStr(LPCOLESTR strIn, LCID lcid, ULONG, ULONGLONG* pi64Out) {
    return FromText(strIn, lcid, 0, kUI8Max, pi64Out);
}

// ---- Floating point ----
HRESULT VarR4FromR8(DOUBLE dblIn, FLOAT* pfltOut) {
    if (pfltOut == nullptr)
        return E_INVALIDARG;
    return CheckFloat(dblIn, *pfltOut);
}

HRESULT VarR4FromStr(LPCOLESTR strIn, LCID lcid, ULONG, FLOAT* pfltOut) {
    if (pfltOut == nullptr)
        return E_INVALIDARG;
    ExactNumber n;
    double value;
    HRESULT hr = ParseNumber(strIn, lcid, n);
    if (SUCCEEDED(hr))
        hr = ExactToDouble(n, value);
    return FAILED(hr) ? hr : CheckFloat(value, *pfltOut);
}

HRESULT VarR8FromStr(LPCOLESTR strIn, LCID lcid, ULONG, DOUBLE* pdblOut) {
    if (pdblOut == nullptr)
        return E_INVALIDARG;
    ExactNumber n;
    HRESULT hr = ParseNumber(strIn, lcid, n);
    return FAILED(hr) ? hr : ExactToDouble(n, *pdblOut);
}

HRESULT VarR8FromCy(CY cyIn, DOUBLE* pdblOut) {
    if (pdblOut == nullptr)
        return E_INVALIDARG;
    *pdblOut = DoubleFromCy(cyIn);
    return S_OK;
}

HRESULT VarR8FromDec(const DECIMAL* pdecIn, DOUBLE* pdblOut) {
    if (pdecIn == nullptr || pdblOut == nullptr)
        return E_INVALIDARG;
    return DoubleFromDecimal(*pdecIn, *pdblOut);
}

// ---- Boolean ----
HRESULT VarBoolFromR8(DOUBLE dblIn, VARIANT_BOOL* pboolOut) {
    if (pboolOut == nullptr)
        return E_INVALIDARG;
    *pboolOut = dblIn != 0.0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT VarBoolFromI4(LONG lIn, VARIANT_BOOL* pboolOut) {
    if (pboolOut == nullptr)
        return E_INVALIDARG;
    *pboolOut = lIn != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT VarBoolFromStr(LPCOLESTR strIn, LCID lcid, ULONG, VARIANT_BOOL* pboolOut) {
    if (pboolOut == nullptr)
        return E_INVALIDARG;
    return BoolFromText(strIn, lcid, *pboolOut);
}

// ---- Currency ----
HRESULT VarCyFromR8(DOUBLE dblIn, CY* pcyOut) {
    if (pcyOut == nullptr)
        return E_INVALIDARG;
    return CyFromDouble(dblIn, *pcyOut);
}

HRESULT VarCyFromI4(LONG lIn, CY* pcyOut) {
    if (pcyOut == nullptr)
        return E_INVALIDARG;
    return CyFromInteger(lIn, *pcyOut);
}

HRESULT VarCyFromI8(LONGLONG i64In, CY* pcyOut) {
    if (pcyOut == nullptr)
        return E_INVALIDARG;
    return CyFromInteger(i64In, *pcyOut);
}

HRESULT VarCyFromDec(const DECIMAL* pdecIn, CY* pcyOut) {
    if (pdecIn == nullptr || pcyOut == nullptr)
        return E_INVALIDARG;
    return CyFromDecimal(*pdecIn, *pcyOut);
}

HRESULT VarCyFromStr(LPCOLESTR strIn, LCID lcid, ULONG, CY* pcyOut) {
    if (pcyOut == nullptr)
        return E_INVALIDARG;
    ExactNumber n;
    HRESULT hr = ParseNumber(strIn, lcid, n);
    return FAILED(hr) ? hr : CyFromExact(n, *pcyOut);
}

// ---- Date ----
HRESULT VarDateFromR8(DOUBLE dblIn, DATE* pdateOut) {
    if (pdateOut == nullptr)
        return E_INVALIDARG;
    return CheckDate(dblIn, *pdateOut);
}

HRESULT VarDateFromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, DATE* pdateOut) {
    if (pdateOut == nullptr)
        return E_INVALIDARG;
    return ParseDate(strIn, lcid, dwFlags, *pdateOut);
}

// ---- Decimal ----
HRESULT VarDecFromR8(DOUBLE dblIn, DECIMAL* pdecOut) {
    if (pdecOut == nullptr)
        return E_INVALIDARG;
    return DecimalFromDouble(dblIn, 15, *pdecOut);
}

HRESULT VarDecFromI8(LONGLONG i64In, DECIMAL* pdecOut) {
    if (pdecOut == nullptr)
        return E_INVALIDARG;
    return DecimalFromInteger(i64In, *pdecOut);
}

HRESULT VarDecFromUI8(ULONGLONG ui64In, DECIMAL* pdecOut) {
    if (pdecOut == nullptr)
        return E_INVALIDARG;
    return DecimalFromInteger(ui64In, *pdecOut);
}

HRESULT VarDecFromCy(CY cyIn, DECIMAL* pdecOut) {
    if (pdecOut == nullptr)
        return E_INVALIDARG;
    return DecimalFromCy(cyIn, *pdecOut);
}

HRESULT VarDecFromStr(LPCOLESTR strIn, LCID lcid, ULONG, DECIMAL* pdecOut) {
    if (pdecOut == nullptr)
        return E_INVALIDARG;
    ExactNumber n;
    HRESULT hr = ParseNumber(strIn, lcid, n);
    return FAILED(hr) ? hr : DecimalFromExact(n, *pdecOut);
}

// ---- Text ----
HRESULT VarBstrFromI4(LONG lIn, LCID, ULONG, BSTR* pbstrOut) {
    if (pbstrOut == nullptr)
        return E_INVALIDARG;
    return MakeBstr(FormatInteger(lIn), *pbstrOut);
}

HRESULT VarBstrFromUI4(ULONG ulIn, LCID, ULONG, BSTR* pbstrOut) {
    if (pbstrOut == nullptr)
        return E_INVALIDARG;
    return MakeBstr(FormatInteger(ulIn), *pbstrOut);
}

HRESULT VarBstrFromI8(LONGLONG i64In, LCID, ULONG, BSTR* pbstrOut) {
    if (pbstrOut == nullptr)
        return E_INVALIDARG;
    return MakeBstr(FormatInteger(i64In), *pbstrOut);
}

HRESULT VarBstrFromUI8(ULONGLONG ui64In, LCID, ULONG, BSTR* pbstrOut) {
    if (pbstrOut == nullptr)
        return E_INVALIDARG;
    return MakeBstr(FormatInteger(ui64In), *pbstrOut);
}

HRESULT VarBstrFromR4(FLOAT fltIn, LCID lcid, ULONG, BSTR* pbstrOut) {
    if (pbstrOut == nullptr)
        return E_INVALIDARG;
    return MakeBstr(FormatReal(fltIn, 7, lcid), *pbstrOut);
}

HRESULT VarBstrFromR8(DOUBLE dblIn, LCID lcid, ULONG, BSTR* pbstrOut) {
    if (pbstrOut == nullptr)
        return E_INVALIDARG;
    return MakeBstr(FormatReal(dblIn, 15, lcid), *pbstrOut);
}

HRESULT VarBstrFromCy(CY cyIn, LCID lcid, ULONG, BSTR* pbstrOut) {
    if (pbstrOut == nullptr)
        return E_INVALIDARG;
    VARIANT v;
    v.vt = VT_CY;
    v.cyVal = cyIn;
    WideString text;
    return TextOut(ToText(v, VT_CY, lcid, 0, text), text, pbstrOut);
}

HRESULT VarBstrFromDate(DATE dateIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut) {
    if (pbstrOut == nullptr)
        return E_INVALIDARG;
    WideString text;
    return TextOut(FormatDate(dateIn, lcid, dwFlags, text), text, pbstrOut);
}

// The public call always gives the words; only VariantChangeType writes -1/0.
HRESULT VarBstrFromBool(VARIANT_BOOL boolIn, LCID, ULONG, BSTR* pbstrOut) {
    if (pbstrOut == nullptr)
        return E_INVALIDARG;
    return MakeBstr(boolIn != 0 ? u"True" : u"False", *pbstrOut);
}

HRESULT VarBstrFromDec(const DECIMAL* pdecIn, LCID lcid, ULONG, BSTR* pbstrOut) {
    if (pdecIn == nullptr || pbstrOut == nullptr)
        return E_INVALIDARG;
    VARIANT v;
    v.decVal = *pdecIn;
    v.vt = VT_DECIMAL;
    WideString text;
    return TextOut(ToText(v, VT_DECIMAL, lcid, 0, text), text, pbstrOut);
}

}  // extern "C"
