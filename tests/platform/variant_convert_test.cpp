// VariantChangeType(Ex) between the scalar automation types: one row per (from, to, input) with
// the result code and value Windows gives. Numbers are written with "." as on an English system
// (the C locale here, en-US on Windows).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "platform/NvWide.h"
#include "platform/win32.h"
#include "tests/windows/NvWine.h"

namespace {

using Text = std::basic_string<OLECHAR>;
constexpr LCID kEnglish = 0x0409;

struct Val {
    VARTYPE vt = VT_EMPTY;
    long long i = 0;
    unsigned long long u = 0;
    double d = 0;
    Text s;
    DECIMAL dec{};
};

Val Empty() {
    return {};
}
Val Null() {
    Val v;
    v.vt = VT_NULL;
    return v;
}
Val Signed(VARTYPE vt, long long x) {
    Val v;
    v.vt = vt;
    v.i = x;
    return v;
}
Val Unsigned(VARTYPE vt, unsigned long long x) {
    Val v;
    v.vt = vt;
    v.u = x;
    return v;
}
Val I1(int x) {
    return Signed(VT_I1, x);
}
Val I2(int x) {
    return Signed(VT_I2, x);
}
Val I4(long long x) {
    return Signed(VT_I4, x);
}
Val I8(long long x) {
    return Signed(VT_I8, x);
}
Val Int(long long x) {
    return Signed(VT_INT, x);
}
Val UI1(unsigned x) {
    return Unsigned(VT_UI1, x);
}
Val UI2(unsigned x) {
    return Unsigned(VT_UI2, x);
}
Val UI4(unsigned long long x) {
    return Unsigned(VT_UI4, x);
}
Val UI8(unsigned long long x) {
    return Unsigned(VT_UI8, x);
}
Val UInt(unsigned long long x) {
    return Unsigned(VT_UINT, x);
}
Val Real(VARTYPE vt, double x) {
    Val v;
    v.vt = vt;
    v.d = x;
    return v;
}
Val R4(float x) {
    return Real(VT_R4, x);
}
Val R8(double x) {
    return Real(VT_R8, x);
}
Val Date(double x) {
    return Real(VT_DATE, x);
}
Val Cy(long long raw) {
    return Signed(VT_CY, raw);
}  // raw = value x 10000
Val Bool(bool b) {
    return Signed(VT_BOOL, b ? -1 : 0);
}
Val Err(long long sc) {
    return Signed(VT_ERROR, sc);
}
Val Str(const OLECHAR* s) {
    Val v;
    v.vt = VT_BSTR;
    v.s = s;
    return v;
}
Val Dec(int scale, bool negative, ULONG hi, ULONGLONG lo) {
    Val v;
    v.vt = VT_DECIMAL;
    v.dec.scale = static_cast<BYTE>(scale);
    v.dec.sign = negative ? DECIMAL_NEG : 0;
    v.dec.Hi32 = hi;
    v.dec.Lo64 = lo;
    return v;
}

VARIANT Make(const Val& v) {
    VARIANT r;
    VariantInit(&r);
    switch (v.vt) {
        case VT_I1:
            r.cVal = static_cast<CHAR>(v.i);
            break;
        case VT_I2:
            r.iVal = static_cast<SHORT>(v.i);
            break;
        case VT_I4:
        case VT_INT:
            r.lVal = static_cast<LONG>(v.i);
            break;
        case VT_I8:
            r.llVal = v.i;
            break;
        case VT_UI1:
            r.bVal = static_cast<BYTE>(v.u);
            break;
        case VT_UI2:
            r.uiVal = static_cast<USHORT>(v.u);
            break;
        case VT_UI4:
        case VT_UINT:
            r.ulVal = static_cast<ULONG>(v.u);
            break;
        case VT_UI8:
            r.ullVal = v.u;
            break;
        case VT_R4:
            r.fltVal = static_cast<float>(v.d);
            break;
        case VT_R8:
        case VT_DATE:
            r.dblVal = v.d;
            break;
        case VT_CY:
            r.cyVal.int64 = v.i;
            break;
        case VT_BOOL:
            r.boolVal = static_cast<VARIANT_BOOL>(v.i);
            break;
        case VT_ERROR:
            r.scode = static_cast<SCODE>(v.i);
            break;
        case VT_BSTR:
            r.bstrVal = SysAllocStringLen(v.s.data(), static_cast<UINT>(v.s.size()));
            break;
        case VT_DECIMAL:
            r.decVal = v.dec;
            break;
        default:
            break;
    }
    r.vt = v.vt;
    return r;
}

std::string Hr(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

std::string Utf8(const OLECHAR* s, size_t n) {
    return nv::ToUtf8(nv::WideStringView(reinterpret_cast<const WCHAR*>(s), n));
}

std::string Describe(const Val& v) {
    char buf[128];
    switch (v.vt) {
        case VT_BSTR:
            return "BSTR \"" + Utf8(v.s.data(), v.s.size()) + "\"";
        case VT_R4:
        case VT_R8:
        case VT_DATE:
            std::snprintf(buf, sizeof buf, "vt %u %.17g", v.vt, v.d);
            return buf;
        case VT_DECIMAL:
            std::snprintf(buf, sizeof buf, "DECIMAL scale %u sign %u hi %u lo %llu", v.dec.scale, v.dec.sign,
                          static_cast<unsigned>(v.dec.Hi32), static_cast<unsigned long long>(v.dec.Lo64));
            return buf;
        default:
            std::snprintf(buf, sizeof buf, "vt %u i %lld u %llu", v.vt, v.i, v.u);
            return buf;
    }
}

testing::AssertionResult Same(const VARIANT& got, const Val& want) {
    if (got.vt != want.vt)
        return testing::AssertionFailure() << "vt " << got.vt << ", expected " << want.vt;
    bool ok = true;
    std::string shown;
    switch (want.vt) {
        case VT_EMPTY:
        case VT_NULL:
            break;
        case VT_I1:
            ok = static_cast<signed char>(got.cVal) == want.i;
            shown = std::to_string(static_cast<signed char>(got.cVal));
            break;
        case VT_I2:
            ok = got.iVal == want.i;
            shown = std::to_string(got.iVal);
            break;
        case VT_I4:
        case VT_INT:
            ok = got.lVal == want.i;
            shown = std::to_string(got.lVal);
            break;
        case VT_I8:
            ok = got.llVal == want.i;
            shown = std::to_string(got.llVal);
            break;
        case VT_UI1:
            ok = got.bVal == want.u;
            shown = std::to_string(got.bVal);
            break;
        case VT_UI2:
            ok = got.uiVal == want.u;
            shown = std::to_string(got.uiVal);
            break;
        case VT_UI4:
        case VT_UINT:
            ok = got.ulVal == want.u;
            shown = std::to_string(got.ulVal);
            break;
        case VT_UI8:
            ok = got.ullVal == want.u;
            shown = std::to_string(got.ullVal);
            break;
        case VT_R4:
            ok = got.fltVal == static_cast<float>(want.d);
            shown = std::to_string(got.fltVal);
            break;
        case VT_R8:
        case VT_DATE: {
            ok = got.dblVal == want.d;
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.17g", got.dblVal);
            shown = buf;
            break;
        }
        case VT_CY:
            ok = got.cyVal.int64 == want.i;
            shown = std::to_string(got.cyVal.int64);
            break;
        case VT_BOOL:
            ok = got.boolVal == want.i;
            shown = std::to_string(got.boolVal);
            break;
        case VT_ERROR:
            ok = got.scode == want.i;
            shown = std::to_string(got.scode);
            break;
        case VT_BSTR:
            ok = got.bstrVal != nullptr && SysStringLen(got.bstrVal) == want.s.size() &&
                 Text(got.bstrVal, SysStringLen(got.bstrVal)) == want.s;
            shown = got.bstrVal ? "\"" + Utf8(got.bstrVal, SysStringLen(got.bstrVal)) + "\"" : "null";
            break;
        case VT_DECIMAL: {
            Val g;
            g.vt = VT_DECIMAL;
            g.dec = got.decVal;
            ok = got.decVal.scale == want.dec.scale && got.decVal.sign == want.dec.sign &&
                 got.decVal.Hi32 == want.dec.Hi32 && got.decVal.Lo64 == want.dec.Lo64;
            shown = Describe(g);
            break;
        }
        default:
            return testing::AssertionFailure() << "unchecked vt " << want.vt;
    }
    if (ok)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "got " << shown << ", expected " << Describe(want);
}

struct Row {
    Val from;
    VARTYPE to;
    HRESULT hr;
    Val want;
    USHORT flags = 0;
};

// Converts every row; a failed conversion must leave the destination untouched.
void Check(const std::vector<Row>& rows) {
    for (size_t n = 0; n < rows.size(); ++n) {
        const Row& row = rows[n];
        SCOPED_TRACE("row " + std::to_string(n) + ": " + Describe(row.from) + " -> vt " +
                     std::to_string(row.to));
        VARIANT src = Make(row.from);
        VARIANT dst;
        VariantInit(&dst);
        dst.vt = VT_I4;
        dst.lVal = 0x5EED;
        const HRESULT hr = VariantChangeTypeEx(&dst, &src, kEnglish, row.flags, row.to);
        EXPECT_EQ(Hr(hr), Hr(row.hr));
        if (SUCCEEDED(row.hr) && SUCCEEDED(hr)) {
            EXPECT_TRUE(Same(dst, row.want));
        } else if (FAILED(hr)) {
            EXPECT_EQ(dst.vt, VT_I4);
            EXPECT_EQ(dst.lVal, 0x5EED);
        }
        VariantClear(&dst);
        VariantClear(&src);
    }
}

class Conversion : public testing::Test {
protected:
#ifndef _WIN32
    void SetUp() override {
        const char* old = std::getenv("LC_ALL");
        hadLcAll_ = old != nullptr;
        if (old)
            oldLcAll_ = old;
        setenv("LC_ALL", "C", 1);
    }
    void TearDown() override {
        if (hadLcAll_)
            setenv("LC_ALL", oldLcAll_.c_str(), 1);
        else
            unsetenv("LC_ALL");
    }
    bool hadLcAll_ = false;
    std::string oldLcAll_;
#endif
};

// ---- Every pair of scalar types ---------------------------------------------------------------

const VARTYPE kScalars[] = {VT_EMPTY, VT_NULL, VT_I1,   VT_UI1,  VT_I2,    VT_UI2,    VT_I4,
                            VT_UI4,   VT_I8,   VT_UI8,  VT_INT,  VT_UINT,  VT_R4,     VT_R8,
                            VT_CY,    VT_DATE, VT_BSTR, VT_BOOL, VT_ERROR, VT_DECIMAL};

Val OneOf(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY:
            return Empty();
        case VT_NULL:
            return Null();
        case VT_I1:
        case VT_I2:
        case VT_I4:
        case VT_I8:
        case VT_INT:
            return Signed(vt, 1);
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_UI8:
        case VT_UINT:
            return Unsigned(vt, 1);
        case VT_R4:
        case VT_R8:
        case VT_DATE:
            return Real(vt, 1.0);
        case VT_CY:
            return Cy(10000);
        case VT_BSTR:
            return Str(OLESTR("1"));
        case VT_BOOL:
            return Bool(true);
        case VT_ERROR:
            return Err(1);
        default:
            return Dec(0, false, 0, 1);
    }
}

double NumberIn(const VARIANT& v) {
    switch (v.vt) {
        case VT_I1:
            return static_cast<signed char>(v.cVal);
        case VT_UI1:
            return v.bVal;
        case VT_I2:
            return v.iVal;
        case VT_UI2:
            return v.uiVal;
        case VT_I4:
        case VT_INT:
            return v.lVal;
        case VT_UI4:
        case VT_UINT:
            return v.ulVal;
        case VT_I8:
            return static_cast<double>(v.llVal);
        case VT_UI8:
            return static_cast<double>(v.ullVal);
        case VT_R4:
            return v.fltVal;
        case VT_R8:
        case VT_DATE:
            return v.dblVal;
        case VT_CY:
            return static_cast<double>(v.cyVal.int64) / 10000.0;
        case VT_BOOL:
            return v.boolVal;
        case VT_DECIMAL:
            return (v.decVal.sign ? -1.0 : 1.0) * static_cast<double>(v.decVal.Lo64) /
                   std::pow(10.0, v.decVal.scale);
        default:
            return std::nan("");
    }
}

double UnsignedMax(VARTYPE vt) {
    switch (vt) {
        case VT_UI1:
            return 255;
        case VT_UI2:
            return 65535;
        case VT_UI8:
            return 18446744073709551615.0;
        default:
            return 4294967295.0;
    }
}

TEST_F(Conversion, EveryPairOfScalarTypes) {
    for (VARTYPE from : kScalars) {
        for (VARTYPE to : kScalars) {
            SCOPED_TRACE("vt " + std::to_string(from) + " -> vt " + std::to_string(to));
            HRESULT want = S_OK;
            if (from == to)
                want = S_OK;
            else if (from == VT_ERROR || to == VT_ERROR)
                want = DISP_E_TYPEMISMATCH;
            else if (from == VT_NULL)
                want = to == VT_NULL ? S_OK : DISP_E_TYPEMISMATCH;
            else if (from == VT_BSTR && to == VT_DATE)
                want = DISP_E_TYPEMISMATCH;  // a lone number is neither a date nor a time

            VARIANT src = Make(OneOf(from));
            VARIANT dst;
            VariantInit(&dst);
            const HRESULT hr = VariantChangeTypeEx(&dst, &src, kEnglish, 0, to);
            ASSERT_EQ(Hr(hr), Hr(want));
            if (SUCCEEDED(hr)) {
                EXPECT_EQ(dst.vt, to);
                const bool isTrue = from == VT_BOOL;
                if (to == VT_BSTR) {
                    Text got(dst.bstrVal, SysStringLen(dst.bstrVal));
                    if (from == VT_EMPTY) {
                        EXPECT_EQ(got, Text());
                    } else if (isTrue) {
                        EXPECT_EQ(got, Text(OLESTR("-1")));
                    } else if (from != VT_DATE) {
                        EXPECT_EQ(got, Text(OLESTR("1")));
                    }
                } else if (to == VT_BOOL) {
                    EXPECT_EQ(dst.boolVal, from == VT_EMPTY ? VARIANT_FALSE : VARIANT_TRUE);
                } else if (to != VT_EMPTY && to != VT_NULL && to != VT_ERROR && from != VT_EMPTY) {
                    double expected = 1.0;
                    if (isTrue) {
                        const bool unsignedTarget =
                            to == VT_UI1 || to == VT_UI2 || to == VT_UI4 || to == VT_UI8 || to == VT_UINT;
                        expected = unsignedTarget ? UnsignedMax(to) : to == VT_DECIMAL ? 1.0 : -1.0;
                    }
                    EXPECT_EQ(NumberIn(dst), expected);
                } else if (from == VT_EMPTY && to != VT_EMPTY && to != VT_NULL) {
                    EXPECT_EQ(NumberIn(dst), 0.0);
                }
            }
            VariantClear(&dst);
            VariantClear(&src);
        }
    }
}

// ---- Integer targets --------------------------------------------------------------------------

TEST_F(Conversion, ToSmallIntegersRangeAndRounding) {
    Check({
        {I2(127), VT_I1, S_OK, I1(127)},
        {I2(128), VT_I1, DISP_E_OVERFLOW, {}},
        {I2(-128), VT_I1, S_OK, I1(-128)},
        {I2(-129), VT_I1, DISP_E_OVERFLOW, {}},
        {UI1(200), VT_I1, S_OK, I1(-56)},  // same width: bit pattern
        {R8(2.5), VT_I1, S_OK, I1(2)},
        {R8(3.5), VT_I1, S_OK, I1(4)},
        {R8(-2.5), VT_I1, S_OK, I1(-2)},
        {R8(127.5), VT_I1, DISP_E_OVERFLOW, {}},
        {R8(127.49), VT_I1, S_OK, I1(127)},
        {Str(OLESTR("200")), VT_I1, DISP_E_OVERFLOW, {}},
        {Bool(true), VT_I1, S_OK, I1(-1)},

        {Bool(true), VT_UI1, S_OK, UI1(255)},
        {I2(-1), VT_UI1, DISP_E_OVERFLOW, {}},
        {I1(-1), VT_UI1, S_OK, UI1(255)},
        {R8(254.5), VT_UI1, S_OK, UI1(254)},
        {R8(255.5), VT_UI1, DISP_E_OVERFLOW, {}},
        {R8(-0.5), VT_UI1, S_OK, UI1(0)},
        {R8(-0.51), VT_UI1, DISP_E_OVERFLOW, {}},
        {Str(OLESTR("255")), VT_UI1, S_OK, UI1(255)},
        {Str(OLESTR("256")), VT_UI1, DISP_E_OVERFLOW, {}},
        {Cy(25000), VT_UI1, S_OK, UI1(2)},
        {Cy(35000), VT_UI1, S_OK, UI1(4)},

        {I4(32767), VT_I2, S_OK, I2(32767)},
        {I4(32768), VT_I2, DISP_E_OVERFLOW, {}},
        {UI2(65535), VT_I2, S_OK, I2(-1)},
        {R4(-32768.5f), VT_I2, S_OK, I2(-32768)},
        {Bool(true), VT_UI2, S_OK, UI2(65535)},
        {I2(-1), VT_UI2, S_OK, UI2(65535)},
        {I4(-1), VT_UI2, DISP_E_OVERFLOW, {}},
        {I4(65536), VT_UI2, DISP_E_OVERFLOW, {}},
    });
}

TEST_F(Conversion, ToFourByteIntegers) {
    Check({
        {R8(2147483647.4), VT_I4, S_OK, I4(2147483647)},
        {R8(2147483647.5), VT_I4, DISP_E_OVERFLOW, {}},
        {R8(-2147483648.5), VT_I4, S_OK, I4(-2147483648LL)},
        {R8(-2147483648.6), VT_I4, DISP_E_OVERFLOW, {}},
        {R8(1e300), VT_I4, DISP_E_OVERFLOW, {}},
        {UI4(0xFFFFFFFF), VT_I4, S_OK, I4(-1)},
        {I8(2147483648LL), VT_I4, DISP_E_OVERFLOW, {}},
        {Date(45000.75), VT_I4, S_OK, I4(45001)},
        {Cy(std::numeric_limits<long long>::max()), VT_I4, DISP_E_OVERFLOW, {}},
        {Dec(1, false, 0, 25), VT_I4, S_OK, I4(2)},
        {Dec(1, true, 0, 35), VT_I4, S_OK, I4(-4)},
        {Dec(0, false, 1, 0), VT_I4, DISP_E_OVERFLOW, {}},
        {Bool(true), VT_UI4, S_OK, UI4(4294967295ULL)},
        {I4(-1), VT_UI4, S_OK, UI4(4294967295ULL)},
        {I8(-1), VT_UI4, DISP_E_OVERFLOW, {}},
        {R8(-1), VT_UI4, DISP_E_OVERFLOW, {}},
        {R8(4294967295.0), VT_UI4, S_OK, UI4(4294967295ULL)},
        {UInt(0x80000000u), VT_INT, S_OK, Int(-2147483648LL)},
        {R8(2.5), VT_INT, S_OK, Int(2)},
        {Bool(true), VT_UINT, S_OK, UInt(0xFFFFFFFFu)},
        {Int(-5), VT_I8, S_OK, I8(-5)},
    });
}

TEST_F(Conversion, ToEightByteIntegers) {
    Check({
        {UI8(0xFFFFFFFFFFFFFFFFULL), VT_I8, S_OK, I8(-1)},
        {I8(-1), VT_UI8, S_OK, UI8(0xFFFFFFFFFFFFFFFFULL)},
        {I4(-1), VT_UI8, DISP_E_OVERFLOW, {}},
        {Bool(true), VT_UI8, S_OK, UI8(0xFFFFFFFFFFFFFFFFULL)},
        {Bool(false), VT_UI8, S_OK, UI8(0)},
        {R8(9.3e18), VT_I8, DISP_E_OVERFLOW, {}},
        {R8(-9.3e18), VT_I8, DISP_E_OVERFLOW, {}},
        {R8(1.8e19), VT_UI8, S_OK, UI8(18000000000000000000ULL)},
        {R8(-1), VT_UI8, DISP_E_OVERFLOW, {}},
        {Str(OLESTR("9223372036854775807")), VT_I8, S_OK, I8(9223372036854775807LL)},
        {Str(OLESTR("9223372036854775808")), VT_I8, DISP_E_OVERFLOW, {}},
        {Str(OLESTR("-9223372036854775808")), VT_I8, S_OK, I8(std::numeric_limits<long long>::min())},
        {Str(OLESTR("18446744073709551615")), VT_UI8, S_OK, UI8(18446744073709551615ULL)},
        {Cy(-15000), VT_I8, S_OK, I8(-2)},
        {Dec(0, false, 0xFFFFFFFF, 0), VT_UI8, DISP_E_OVERFLOW, {}},
    });
}

TEST_F(Conversion, TextToIntegers) {
    Check({
        {Str(OLESTR("42")), VT_I4, S_OK, I4(42)},
        {Str(OLESTR("  42  ")), VT_I4, S_OK, I4(42)},
        {Str(OLESTR("-17")), VT_I4, S_OK, I4(-17)},
        {Str(OLESTR("+17")), VT_I4, S_OK, I4(17)},
        {Str(OLESTR("17-")), VT_I4, S_OK, I4(-17)},
        {Str(OLESTR("(5)")), VT_I4, S_OK, I4(-5)},
        {Str(OLESTR("1,000")), VT_I4, S_OK, I4(1000)},
        {Str(OLESTR("1e3")), VT_I4, S_OK, I4(1000)},
        {Str(OLESTR("1.5")), VT_I4, S_OK, I4(2)},
        {Str(OLESTR("2.5")), VT_I4, S_OK, I4(2)},
        {Str(OLESTR("-2.5")), VT_I4, S_OK, I4(-2)},
        {Str(OLESTR("2.5000000000000000000000000000000001")), VT_I4, S_OK, I4(3)},
        {Str(OLESTR("0.000000001")), VT_I4, S_OK, I4(0)},
        {Str(OLESTR("&HFF")), VT_I4, S_OK, I4(255)},
        {Str(OLESTR("&o17")), VT_I4, S_OK, I4(15)},
        {Str(OLESTR("&HFFFFFFFF")), VT_I4, S_OK, I4(-1)},
        {Str(OLESTR("&HFFFFFFFF")), VT_UI4, S_OK, UI4(0xFFFFFFFFu)},
        {Str(OLESTR("&H80")), VT_I1, S_OK, I1(-128)},
        {Str(OLESTR("&H100000000")), VT_I4, DISP_E_OVERFLOW, {}},
        {Str(OLESTR("2147483648")), VT_I4, DISP_E_OVERFLOW, {}},
        {Str(OLESTR("1e100")), VT_I4, DISP_E_OVERFLOW, {}},
        {Str(OLESTR("")), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {Str(OLESTR("   ")), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {Str(OLESTR("abc")), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {Str(OLESTR("12abc")), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {Str(OLESTR("1.2.3")), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {Str(OLESTR("--1")), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {Str(OLESTR("1e")), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {Str(OLESTR("&HG")), VT_I4, DISP_E_TYPEMISMATCH, {}},
    });
}

// ---- Floating point, currency, decimal -------------------------------------------------------

TEST_F(Conversion, ToFloatingPoint) {
    Check({
        {R8(1e39), VT_R4, DISP_E_OVERFLOW, {}},
        {R8(-1e39), VT_R4, DISP_E_OVERFLOW, {}},
        {R8(0.1), VT_R4, S_OK, R4(0.1f)},
        {I4(16777217), VT_R4, S_OK, R4(16777216.0f)},
        {Str(OLESTR("3.5")), VT_R4, S_OK, R4(3.5f)},
        {Str(OLESTR("1e39")), VT_R4, DISP_E_OVERFLOW, {}},
        {Bool(true), VT_R8, S_OK, R8(-1.0)},
        {Cy(12345), VT_R8, S_OK, R8(1.2345)},
        {Dec(1, false, 0, 15), VT_R8, S_OK, R8(1.5)},
        {Dec(3, false, 0, 1500), VT_R8, S_OK, R8(1.5)},
        {UI8(18446744073709551615ULL), VT_R8, S_OK, R8(18446744073709551616.0)},
        {Date(45000.5), VT_R8, S_OK, R8(45000.5)},
        {Str(OLESTR("1.5E-05")), VT_R8, S_OK, R8(1.5e-5)},
        {Str(OLESTR("-0.1")), VT_R8, S_OK, R8(-0.1)},
        {Str(OLESTR("1,234.5")), VT_R8, S_OK, R8(1234.5)},
        {Str(OLESTR(".5")), VT_R8, S_OK, R8(0.5)},
        {Str(OLESTR("1e400")), VT_R8, DISP_E_OVERFLOW, {}},
        {Str(OLESTR("1e-400")), VT_R8, S_OK, R8(0.0)},
        {Str(OLESTR("0.1.")), VT_R8, DISP_E_TYPEMISMATCH, {}},
        {Str(OLESTR("1,5")), VT_R8, S_OK, R8(15)},  // "," groups thousands here
    });
}

TEST_F(Conversion, ToCurrency) {
    Check({
        {R8(1.23456), VT_CY, S_OK, Cy(12346)},
        {R8(-1.5), VT_CY, S_OK, Cy(-15000)},
        {R8(9.3e14), VT_CY, DISP_E_OVERFLOW, {}},
        {I8(std::numeric_limits<long long>::max()), VT_CY, DISP_E_OVERFLOW, {}},
        {I4(-7), VT_CY, S_OK, Cy(-70000)},
        {Bool(true), VT_CY, S_OK, Cy(-10000)},
        {Str(OLESTR("922337203685477.5808")), VT_CY, DISP_E_OVERFLOW, {}},
        {Str(OLESTR("cash")), VT_CY, DISP_E_TYPEMISMATCH, {}},
        {Dec(0, false, 0, 1000000000000000ULL), VT_CY, DISP_E_OVERFLOW, {}},
    });
}

// Currency holds -922337203685477.5808 .. 922337203685477.5807. Every integer type converts into
// it with a range check (a wrapped product would pass for a value), and back with the usual
// rounding: the largest amount is 922337203685478 as a 64-bit integer.
TEST_F(Conversion, CurrencyRangeAgainstTheIntegers) {
    constexpr long long kCyMax = std::numeric_limits<long long>::max();
    constexpr long long kCyMin = std::numeric_limits<long long>::min();
    Check({
        {I8(922337203685478LL), VT_CY, DISP_E_OVERFLOW, {}},
        {I8(-922337203685478LL), VT_CY, DISP_E_OVERFLOW, {}},
        {I8(kCyMin), VT_CY, DISP_E_OVERFLOW, {}},
        {I8(1844674407370955LL), VT_CY, DISP_E_OVERFLOW, {}},  // times 10^4 wraps to a small number
        {UI8(922337203685477ULL), VT_CY, S_OK, Cy(9223372036854770000LL)},
        {UI8(922337203685478ULL), VT_CY, DISP_E_OVERFLOW, {}},
        {UI8(18446744073709551615ULL), VT_CY, DISP_E_OVERFLOW, {}},
        {I4(std::numeric_limits<LONG>::min()), VT_CY, S_OK, Cy(-21474836480000LL)},
        {UI4(4294967295ULL), VT_CY, S_OK, Cy(42949672950000LL)},
        {UInt(4294967295ULL), VT_CY, S_OK, Cy(42949672950000LL)},
        {I2(-32768), VT_CY, S_OK, Cy(-327680000LL)},

        {Cy(kCyMax), VT_I8, S_OK, I8(922337203685478LL)},
        {Cy(kCyMin), VT_I8, S_OK, I8(-922337203685478LL)},
        {Cy(kCyMax), VT_UI8, S_OK, UI8(922337203685478ULL)},
        {Cy(kCyMin), VT_UI8, DISP_E_OVERFLOW, {}},
        {Cy(-15000), VT_UI8, DISP_E_OVERFLOW, {}},
        {Cy(-5000), VT_UI8, S_OK, UI8(0)},  // -0.5 rounds to even: 0
        {Cy(kCyMax), VT_I4, DISP_E_OVERFLOW, {}},
        {Cy(21474836475000LL), VT_I4, DISP_E_OVERFLOW, {}},  // 2147483647.5 rounds up, past the top
        {Cy(21474836474999LL), VT_I4, S_OK, I4(2147483647)},
        {Cy(42949672954999LL), VT_UI4, S_OK, UI4(4294967295ULL)},
        {Cy(42949672955000LL), VT_UI4, DISP_E_OVERFLOW, {}},
        {Cy(2554999), VT_UI1, S_OK, UI1(255)},
        {Cy(2555000), VT_UI1, DISP_E_OVERFLOW, {}},
        {Cy(-1285000), VT_I1, S_OK, I1(-128)},
        {Cy(-1295000), VT_I1, DISP_E_OVERFLOW, {}},
        {Cy(327675000LL), VT_I2, DISP_E_OVERFLOW, {}},
    });

    CY cy{};
    cy.int64 = 77;
    EXPECT_EQ(Hr(VarCyFromI8(922337203685478LL, &cy)), Hr(DISP_E_OVERFLOW));
    EXPECT_EQ(Hr(VarCyFromI8(-922337203685478LL, &cy)), Hr(DISP_E_OVERFLOW));
    EXPECT_EQ(Hr(VarCyFromI8(std::numeric_limits<long long>::max(), &cy)), Hr(DISP_E_OVERFLOW));
    EXPECT_EQ(Hr(VarCyFromI8(std::numeric_limits<long long>::min(), &cy)), Hr(DISP_E_OVERFLOW));
    EXPECT_EQ(cy.int64, 77);  // untouched on failure
    ASSERT_EQ(VarCyFromI4(std::numeric_limits<LONG>::max(), &cy), S_OK);
    EXPECT_EQ(cy.int64, 21474836470000LL);
    ASSERT_EQ(VarCyFromI8(-1234, &cy), S_OK);
    EXPECT_EQ(cy.int64, -12340000);

    // The largest whole amounts fit (922337203685477 x 10^4 < 2^63).
    const HRESULT largest = VarCyFromI8(922337203685477LL, &cy);
    if (nv::test::RunningUnderWine() && largest == DISP_E_OVERFLOW) {
        nv::test::NoteWineDifference("VarCyFromI8 refuses the largest whole currency amounts");
    } else {
        ASSERT_EQ(largest, S_OK);
        EXPECT_EQ(cy.int64, 9223372036854770000LL);
        ASSERT_EQ(VarCyFromI8(-922337203685477LL, &cy), S_OK);
        EXPECT_EQ(cy.int64, -9223372036854770000LL);
    }

    LONGLONG i8 = 0;
    LONG i4 = 0;
    cy.int64 = kCyMax;
    ASSERT_EQ(VarI8FromCy(cy, &i8), S_OK);
    EXPECT_EQ(i8, 922337203685478LL);
    EXPECT_EQ(Hr(VarI4FromCy(cy, &i4)), Hr(DISP_E_OVERFLOW));
    cy.int64 = -1275000;  // -127.5 rounds to even: -128
    ASSERT_EQ(VarI8FromCy(cy, &i8), S_OK);
    EXPECT_EQ(i8, -128);
    ASSERT_EQ(VarI4FromCy(cy, &i4), S_OK);
    EXPECT_EQ(i4, -128);
#ifndef _WIN32
    // Windows' (and Wine's) VarI8FromCy truncates a negative amount and then subtracts one, so
    // an exact -128 comes back as -129 and -0.5 as -1. The stand-in keeps the correctly rounded
    // value: a test client must not show a wrong one.
    cy.int64 = -1280000;
    ASSERT_EQ(VarI8FromCy(cy, &i8), S_OK);
    EXPECT_EQ(i8, -128);
    cy.int64 = -5000;
    ASSERT_EQ(VarI8FromCy(cy, &i8), S_OK);
    EXPECT_EQ(i8, 0);
    Check({{Cy(-1280000), VT_I8, S_OK, I8(-128)}, {Cy(-25000), VT_I8, S_OK, I8(-2)}});
#endif
}

// A double becomes currency from its exact binary value, rounded half to even once: multiplying
// by 10^4 in double first would round twice, miss large amounts by up to a few hundred
// ten-thousandths and let a value just below the minimum round onto it.
TEST_F(Conversion, CurrencyFromDoubleIsRoundedOnce) {
    struct Case {
        double in;
        HRESULT hr;
        long long raw;
    };
    const Case cases[] = {
        {922337203685477.0, S_OK, 9223372036854770000LL},
        {-922337203685477.0, S_OK, -9223372036854770000LL},
        {922337203685476.875, S_OK, 9223372036854768750LL},
        {922337203685477.5, S_OK, 9223372036854775000LL},
        {922337203685477.625, DISP_E_OVERFLOW, 0},   // nearest double above the maximum
        {-922337203685477.625, DISP_E_OVERFLOW, 0},  // nearest double below the minimum
        {123456789012.3456, S_OK, 1234567890123456LL},
        {0.00005, S_OK, 1},  // 5.0000000000000002e-05: a little more than half
        {-0.00005, S_OK, -1},
        {0.000025, S_OK, 0},
        {0.00015, S_OK, 1},  // 1.4999999999999999e-04
        {0.00025, S_OK, 3},  // 2.5000000000000001e-04
        {1.23465, S_OK, 12347},
        {1.0000500000000001, S_OK, 10001},
        {0.1, S_OK, 1000},
        {-1.5, S_OK, -15000},
        {1e-300, S_OK, 0},
        {1e300, DISP_E_OVERFLOW, 0},
        {std::numeric_limits<double>::infinity(), DISP_E_OVERFLOW, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        CY cy{};
        EXPECT_EQ(Hr(VarCyFromR8(c.in, &cy)), Hr(c.hr));
        if (SUCCEEDED(c.hr)) {
            EXPECT_EQ(cy.int64, c.raw);
        }
    }
    Check({
        {R4(123456.78f), VT_CY, S_OK, Cy(1234567812LL)},  // 123456.78125, a tie: to even
        {R4(1.00005f), VT_CY, S_OK, Cy(10000)},
        {R4(1e15f), VT_CY, DISP_E_OVERFLOW, {}},
        {Date(922337203685477.0), VT_CY, S_OK, Cy(9223372036854770000LL)},
    });
}

TEST_F(Conversion, ToDecimal) {
    Check({
        {I4(-5), VT_DECIMAL, S_OK, Dec(0, true, 0, 5)},
        {UI8(18446744073709551615ULL), VT_DECIMAL, S_OK, Dec(0, false, 0, 18446744073709551615ULL)},
        {R8(0.1), VT_DECIMAL, S_OK, Dec(1, false, 0, 1)},
        {R8(-2.5), VT_DECIMAL, S_OK, Dec(1, true, 0, 25)},
        {R8(1e30), VT_DECIMAL, DISP_E_OVERFLOW, {}},
        {R4(0.1f), VT_DECIMAL, S_OK, Dec(1, false, 0, 1)},
        {Bool(true), VT_DECIMAL, S_OK, Dec(0, false, 0, 1)},
        {Cy(15000), VT_DECIMAL, S_OK, Dec(4, false, 0, 15000)},
        {Str(OLESTR("79228162514264337593543950335")), VT_DECIMAL, S_OK,
         Dec(0, false, 0xFFFFFFFF, 0xFFFFFFFFFFFFFFFFULL)},
        {Str(OLESTR("79228162514264337593543950336")), VT_DECIMAL, DISP_E_OVERFLOW, {}},
        {Str(OLESTR("0.0000000000000000000000000001")), VT_DECIMAL, S_OK, Dec(28, false, 0, 1)},
        {Str(OLESTR("-1.50")), VT_DECIMAL, S_OK, Dec(1, true, 0, 15)},  // trailing zeros dropped
        {Str(OLESTR("12.500e1")), VT_DECIMAL, S_OK, Dec(0, false, 0, 125)},
        {Str(OLESTR("x")), VT_DECIMAL, DISP_E_TYPEMISMATCH, {}},
    });
}

TEST_F(Conversion, ToBoolean) {
    Check({
        {I4(5), VT_BOOL, S_OK, Bool(true)},
        {UI8(0), VT_BOOL, S_OK, Bool(false)},
        {R8(-0.5), VT_BOOL, S_OK, Bool(true)},
        {R8(0.0), VT_BOOL, S_OK, Bool(false)},
        {Cy(0), VT_BOOL, S_OK, Bool(false)},
        {Dec(3, true, 0, 0), VT_BOOL, S_OK, Bool(false)},
        {Str(OLESTR("true")), VT_BOOL, S_OK, Bool(true)},
        {Str(OLESTR("FALSE")), VT_BOOL, S_OK, Bool(false)},
        {Str(OLESTR("True")), VT_BOOL, S_OK, Bool(true)},
        {Str(OLESTR("#TRUE#")), VT_BOOL, S_OK, Bool(true)},
        {Str(OLESTR("#FALSE#")), VT_BOOL, S_OK, Bool(false)},
        // The bracketed forms count only in capitals and without blanks, unlike the words.
        {Str(OLESTR("#true#")), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
        {Str(OLESTR("#True#")), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
        {Str(OLESTR("#false#")), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
        {Str(OLESTR("#TRUE")), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
        {Str(OLESTR("# TRUE#")), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
        {Str(OLESTR(" #TRUE# ")), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
        {Str(OLESTR("tRuE")), VT_BOOL, S_OK, Bool(true)},
        {Str(OLESTR("fAlSe")), VT_BOOL, S_OK, Bool(false)},
        {Str(OLESTR("0")), VT_BOOL, S_OK, Bool(false)},
        {Str(OLESTR("2.5")), VT_BOOL, S_OK, Bool(true)},
        {Str(OLESTR("-1")), VT_BOOL, S_OK, Bool(true)},
        {Str(OLESTR("yes")), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
        {Str(OLESTR("")), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
    });
}

// ---- Text --------------------------------------------------------------------------------------

TEST_F(Conversion, NumbersToText) {
    Check({
        {I4(-17), VT_BSTR, S_OK, Str(OLESTR("-17"))},
        {I1(-128), VT_BSTR, S_OK, Str(OLESTR("-128"))},
        {UI8(18446744073709551615ULL), VT_BSTR, S_OK, Str(OLESTR("18446744073709551615"))},
        {I8(std::numeric_limits<long long>::min()), VT_BSTR, S_OK, Str(OLESTR("-9223372036854775808"))},
        {R8(1.5), VT_BSTR, S_OK, Str(OLESTR("1.5"))},
        {R8(100), VT_BSTR, S_OK, Str(OLESTR("100"))},
        {R8(0.0001), VT_BSTR, S_OK, Str(OLESTR("0.0001"))},
        {R8(1.5e-5), VT_BSTR, S_OK, Str(OLESTR("1.5E-05"))},
        {R8(1e16), VT_BSTR, S_OK, Str(OLESTR("1E+16"))},
        {R8(1e15), VT_BSTR, S_OK, Str(OLESTR("1E+15"))},
        {R8(123456789012345.0), VT_BSTR, S_OK, Str(OLESTR("123456789012345"))},
        {R8(123456789012345678.0), VT_BSTR, S_OK, Str(OLESTR("1.23456789012346E+17"))},
        {R8(1.0 / 3.0), VT_BSTR, S_OK, Str(OLESTR("0.333333333333333"))},
        {R8(-2.75), VT_BSTR, S_OK, Str(OLESTR("-2.75"))},
        {R8(0.1 + 0.2), VT_BSTR, S_OK, Str(OLESTR("0.3"))},
        {R4(0.1f), VT_BSTR, S_OK, Str(OLESTR("0.1"))},
        {R4(1.0f / 3.0f), VT_BSTR, S_OK, Str(OLESTR("0.3333333"))},
        {R4(16777216.0f), VT_BSTR, S_OK, Str(OLESTR("1.677722E+07"))},
        {Cy(15000), VT_BSTR, S_OK, Str(OLESTR("1.5"))},
        {Cy(-12345), VT_BSTR, S_OK, Str(OLESTR("-1.2345"))},
        {Cy(0), VT_BSTR, S_OK, Str(OLESTR("0"))},
        {Cy(std::numeric_limits<long long>::min()), VT_BSTR, S_OK, Str(OLESTR("-922337203685477.5808"))},
        {Dec(2, false, 0, 150), VT_BSTR, S_OK, Str(OLESTR("1.5"))},
        {Dec(3, true, 0, 1), VT_BSTR, S_OK, Str(OLESTR("-0.001"))},
        {Dec(0, false, 0xFFFFFFFF, 0xFFFFFFFFFFFFFFFFULL), VT_BSTR, S_OK,
         Str(OLESTR("79228162514264337593543950335"))},
        {Empty(), VT_BSTR, S_OK, Str(OLESTR(""))},
        {Null(), VT_BSTR, DISP_E_TYPEMISMATCH, {}},
        {Err(5), VT_BSTR, DISP_E_TYPEMISMATCH, {}},
    });
}

TEST_F(Conversion, BooleanToTextFollowsTheFlags) {
    Check({
        {Bool(true), VT_BSTR, S_OK, Str(OLESTR("-1"))},
        {Bool(false), VT_BSTR, S_OK, Str(OLESTR("0"))},
        {Bool(true), VT_BSTR, S_OK, Str(OLESTR("True")), VARIANT_ALPHABOOL},
        {Bool(false), VT_BSTR, S_OK, Str(OLESTR("False")), VARIANT_ALPHABOOL},
        {Bool(true), VT_BSTR, S_OK, Str(OLESTR("True")), VARIANT_LOCALBOOL},
    });
    BSTR text = nullptr;
    ASSERT_EQ(VarBstrFromBool(VARIANT_TRUE, kEnglish, 0, &text), S_OK);
    EXPECT_EQ(Text(text), Text(OLESTR("True")));
    SysFreeString(text);
}

// ---- Empty, null, error, invalid types -------------------------------------------------------

TEST_F(Conversion, EmptyNullAndErrorValues) {
    Check({
        {I4(7), VT_EMPTY, S_OK, Empty()},
        {Str(OLESTR("x")), VT_EMPTY, S_OK, Empty()},
        {Null(), VT_EMPTY, DISP_E_TYPEMISMATCH, {}},
        {Err(1), VT_EMPTY, DISP_E_TYPEMISMATCH, {}},
        {I4(7), VT_NULL, S_OK, Null()},
        {Empty(), VT_NULL, S_OK, Null()},
        {Err(1), VT_NULL, DISP_E_TYPEMISMATCH, {}},
        {Null(), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {Null(), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
        {Empty(), VT_DATE, S_OK, Date(0)},
        {Empty(), VT_DECIMAL, S_OK, Dec(0, false, 0, 0)},
        {Err(static_cast<long long>(static_cast<SCODE>(0x80020004u))), VT_ERROR, S_OK,
         Err(static_cast<long long>(static_cast<SCODE>(0x80020004u)))},
        {Err(5), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {Err(5), VT_UI4, DISP_E_TYPEMISMATCH, {}},
        {I4(5), VT_ERROR, DISP_E_TYPEMISMATCH, {}},
        {UI4(5), VT_ERROR, DISP_E_TYPEMISMATCH, {}},
    });
}

TEST_F(Conversion, InvalidTypesAreRefused) {
    VARIANT src;
    VariantInit(&src);
    src.vt = VT_I4;
    src.lVal = 1;
    VARIANT dst;
    VariantInit(&dst);
    EXPECT_EQ(Hr(VariantChangeType(&dst, &src, 0, 15)), Hr(DISP_E_BADVARTYPE));
    EXPECT_EQ(Hr(VariantChangeType(&dst, &src, 0, VT_CLSID)), Hr(DISP_E_BADVARTYPE));
    EXPECT_EQ(Hr(VariantChangeType(&dst, &src, 0, VT_I4 | VT_VECTOR)), Hr(DISP_E_BADVARTYPE));
    EXPECT_EQ(Hr(VariantChangeType(&dst, &src, 0, VT_VARIANT)), Hr(DISP_E_TYPEMISMATCH));
    EXPECT_EQ(Hr(VariantChangeType(&dst, &src, 0, VT_RECORD)), Hr(DISP_E_TYPEMISMATCH));
    EXPECT_EQ(Hr(VariantChangeType(&dst, &src, 0, VT_UNKNOWN)), Hr(DISP_E_TYPEMISMATCH));
    for (VARTYPE bad :
         {VT_VOID, VT_HRESULT, VT_PTR, VT_SAFEARRAY, VT_LPWSTR, VT_INT_PTR, VT_FILETIME, VT_BSTR_BLOB})
        EXPECT_EQ(Hr(VariantChangeType(&dst, &src, 0, bad)), Hr(DISP_E_BADVARTYPE)) << bad;
    src.vt = 15;
    EXPECT_EQ(Hr(VariantChangeType(&dst, &src, 0, VT_I4)), Hr(DISP_E_BADVARTYPE));
    EXPECT_EQ(dst.vt, VT_EMPTY);
}

// ---- How the call treats its arguments -------------------------------------------------------

TEST_F(Conversion, InPlaceConversionReplacesTheSource) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(OLESTR("42"));
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);  // the string is freed (leak check)
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 42);

    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Text(v.bstrVal), Text(OLESTR("42")));
    EXPECT_EQ(Hr(VariantChangeType(&v, &v, 0, VT_ERROR)), Hr(DISP_E_TYPEMISMATCH));
    EXPECT_EQ(v.vt, VT_BSTR);  // a failed in-place conversion keeps the value
    EXPECT_EQ(Text(v.bstrVal), Text(OLESTR("42")));
    VariantClear(&v);
}

TEST_F(Conversion, ReferencesAreReadThrough) {
    LONG value = -3;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = &value;
    VARIANT dst;
    VariantInit(&dst);
    ASSERT_EQ(VariantChangeType(&dst, &ref, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Text(dst.bstrVal), Text(OLESTR("-3")));
    VariantClear(&dst);

    ref.plVal = nullptr;
    EXPECT_EQ(Hr(VariantChangeType(&dst, &ref, 0, VT_BSTR)), Hr(DISP_E_TYPEMISMATCH));
}

TEST_F(Conversion, ArraysConvertOnlyToTheirOwnTypeOrBytes) {
    VARIANT arr;
    VariantInit(&arr);
    arr.vt = VT_ARRAY | VT_I4;
    arr.parray = SafeArrayCreateVector(VT_I4, 0, 3);
    VARIANT dst;
    VariantInit(&dst);
    EXPECT_EQ(Hr(VariantChangeType(&dst, &arr, 0, VT_I4)), Hr(DISP_E_TYPEMISMATCH));
    EXPECT_EQ(Hr(VariantChangeType(&dst, &arr, 0, VT_ARRAY | VT_R8)), Hr(DISP_E_TYPEMISMATCH));
    ASSERT_EQ(VariantChangeType(&dst, &arr, 0, VT_ARRAY | VT_I4), S_OK);
    EXPECT_NE(dst.parray, arr.parray);  // a copy, freed separately
    VariantClear(&dst);
    VariantClear(&arr);

    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocStringByteLen("abc", 3);
    ASSERT_EQ(VariantChangeType(&dst, &text, 0, VT_ARRAY | VT_UI1), S_OK);
    ASSERT_EQ(dst.parray->rgsabound[0].cElements, 3u);
    EXPECT_EQ(std::string(static_cast<char*>(dst.parray->pvData), 3), "abc");
    VARIANT back;
    VariantInit(&back);
    ASSERT_EQ(VariantChangeType(&back, &dst, 0, VT_BSTR), S_OK);
    EXPECT_EQ(SysStringByteLen(back.bstrVal), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back.bstrVal), 3), "abc");
    VariantClear(&back);
    VariantClear(&dst);
    VariantClear(&text);
}

#ifndef _WIN32
// Where the stand-in is deliberately exact, or refuses what would be a silent wrong value.
// The runtime the Windows build is tested with (Wine's) routes currency text through a double
// (0.00015 becomes 1, not 2) and lets NaN through as an integer; what Windows itself does in
// these cases is not established.
TEST_F(Conversion, ExactDecimalArithmeticOnTheStandIn) {
    Check({
        {R8(std::numeric_limits<double>::quiet_NaN()), VT_I4, DISP_E_OVERFLOW, {}},
        {Str(OLESTR("1.7976931348623157e308")), VT_R8, S_OK, R8(1.7976931348623157e308)},
        {Dec(28, false, 0, 1), VT_R8, S_OK, R8(1e-28)},
        {Str(OLESTR("0.00005")), VT_CY, S_OK, Cy(0)},
        {Str(OLESTR("0.00015")), VT_CY, S_OK, Cy(2)},
        {Str(OLESTR("0.00025")), VT_CY, S_OK, Cy(2)},
        {Str(OLESTR("922337203685477.5807")), VT_CY, S_OK, Cy(std::numeric_limits<long long>::max())},
        {Str(OLESTR("-922337203685477.5808")), VT_CY, S_OK, Cy(std::numeric_limits<long long>::min())},
        {Dec(5, false, 0, 123455), VT_CY, S_OK, Cy(12346)},
        {Dec(5, false, 0, 123465), VT_CY, S_OK, Cy(12346)},
        {Str(OLESTR("1.23456789012345678901234567891")), VT_DECIMAL, S_OK,
         Dec(28, false, 0x27E41B32, 0x46BEC9B16E398115ULL)},
    });
}
#endif

// ---- The public single conversions ------------------------------------------------------------

TEST_F(Conversion, PublicConversionsAgreeWithChangeType) {
    LONG l = 0;
    EXPECT_EQ(VarI4FromR8(2.5, &l), S_OK);
    EXPECT_EQ(l, 2);
    EXPECT_EQ(VarI4FromR8(-3.5, &l), S_OK);
    EXPECT_EQ(l, -4);
    EXPECT_EQ(Hr(VarI4FromR8(3e9, &l)), Hr(DISP_E_OVERFLOW));
    EXPECT_EQ(l, -4);  // untouched on failure

    BYTE b = 0;
    EXPECT_EQ(VarUI1FromBool(VARIANT_TRUE, &b), S_OK);
    EXPECT_EQ(b, 255);
    ULONG ul = 0;
    EXPECT_EQ(VarUI4FromBool(VARIANT_TRUE, &ul), S_OK);
    EXPECT_EQ(ul, 4294967295u);

    VARIANT_BOOL flag = 7;
    Text bracketed(OLESTR("#FALSE#")), mixedCase(OLESTR("#False#"));  // some SDKs take a non-const string
    EXPECT_EQ(VarBoolFromStr(bracketed.data(), kEnglish, 0, &flag), S_OK);
    EXPECT_EQ(flag, VARIANT_FALSE);
    EXPECT_EQ(Hr(VarBoolFromStr(mixedCase.data(), kEnglish, 0, &flag)), Hr(DISP_E_TYPEMISMATCH));
    EXPECT_EQ(flag, VARIANT_FALSE);

    DOUBLE d = 0;
    EXPECT_EQ(VarR8FromStr(OLESTR("-1.25E+2"), kEnglish, 0, &d), S_OK);
    EXPECT_EQ(d, -125.0);
    EXPECT_EQ(Hr(VarR8FromStr(OLESTR("one"), kEnglish, 0, &d)), Hr(DISP_E_TYPEMISMATCH));

    CY cy{};
    EXPECT_EQ(VarCyFromR8(1.00009, &cy), S_OK);
    EXPECT_EQ(cy.int64, 10001);
    EXPECT_EQ(VarCyFromStr(OLESTR("12.34567"), kEnglish, 0, &cy), S_OK);
    EXPECT_EQ(cy.int64, 123457);
    EXPECT_EQ(VarR8FromCy(cy, &d), S_OK);
    EXPECT_EQ(d, 12.3457);

    DECIMAL dec{};
    EXPECT_EQ(VarDecFromStr(OLESTR("-12.5"), kEnglish, 0, &dec), S_OK);
    EXPECT_EQ(VarI4FromDec(&dec, &l), S_OK);
    EXPECT_EQ(l, -12);
    BSTR text = nullptr;
    EXPECT_EQ(VarBstrFromDec(&dec, kEnglish, 0, &text), S_OK);
    EXPECT_EQ(Text(text), Text(OLESTR("-12.5")));
    SysFreeString(text);
    EXPECT_EQ(VarBstrFromR8(1e21, kEnglish, 0, &text), S_OK);
    EXPECT_EQ(Text(text), Text(OLESTR("1E+21")));
    SysFreeString(text);
}

}  // namespace
