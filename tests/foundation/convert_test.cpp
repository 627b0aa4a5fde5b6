#include "foundation/NvConvert.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "opc/include/opcda.h"
#include "platform/NvWide.h"

namespace nv {
namespace {

// Every text here assumes the C-locale settings; each test starts from them and leaves the
// process-wide settings as it found them.
class ConvertTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = FormatSettings();
        SetFormatSettings(DefaultFormatSettings());
    }
    void TearDown() override { SetFormatSettings(saved_); }

private:
    TFormatSettings saved_;
};

// A VARIANT that clears itself.
struct Var {
    VARIANT v;
    Var() { VariantInit(&v); }
    ~Var() { VariantClear(&v); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
};

VARIANT Make(VARTYPE vt) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    return v;
}

std::string Text(const VARIANT& v, bool showType = false) {
    return VariantToStr(v, showType);
}

SAFEARRAY* IntVector(const std::vector<LONG>& values, LONG lowerBound = 0) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_I4, lowerBound, static_cast<ULONG>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        LONG index = lowerBound + static_cast<LONG>(i);
        LONG value = values[i];
        SafeArrayPutElement(array, &index, &value);
    }
    return array;
}

std::vector<bool> Bits(const VARIANT& array) {
    std::vector<bool> bits;
    LONG low = 0, high = -1;
    SafeArrayGetLBound(array.parray, 1, &low);
    SafeArrayGetUBound(array.parray, 1, &high);
    for (LONG i = low; i <= high; ++i) {
        VARIANT_BOOL b = 0;
        SafeArrayGetElement(array.parray, &i, &b);
        bits.push_back(b != 0);
    }
    return bits;
}

// ---- Type names --------------------------------------------------------------------------------

TEST_F(ConvertTest, TypeCodesUpTo20ReadAsTheirDataTypeNames) {
    const char* names[] = {"Default", "Null",      "Smallint", "Integer", "Single",  "Double",   "Currency",
                           "Date",    "OleStr",    "Dispatch", "Error",   "Boolean", "Variant",  "Unknown",
                           "Decimal", "Undefined", "Shortint", "Byte",    "Word",    "LongWord", "Int64"};
    for (VARTYPE code = 0; code <= 20; ++code)
        EXPECT_EQ(VarTypeToStr(code), names[code]) << code;
}

TEST_F(ConvertTest, TypeCodesAbove20ReadAsNumbersAndFlagsWrapTheName) {
    EXPECT_EQ(VarTypeToStr(21), "21");
    EXPECT_EQ(VarTypeToStr(72), "72");
    EXPECT_EQ(VarTypeToStr(VT_ARRAY | VT_I4), "Array of Integer");
    EXPECT_EQ(VarTypeToStr(VT_BYREF | VT_R8), "Double (Reference)");
    EXPECT_EQ(VarTypeToStr(VT_ARRAY | VT_BYREF | VT_VARIANT), "Array of Variant (Reference)");
    EXPECT_EQ(VarTypeToStr(VT_ARRAY | VT_BYREF | VT_I4), "Array of Integer (Reference)");
    EXPECT_EQ(VarTypeToStr(VT_ARRAY | VT_UI8), "Array of 21");
}

TEST_F(ConvertTest, DataTypeEnumerationMapsToAndFromTypeCodes) {
    EXPECT_EQ(NvVarDataTypeName(vdtUnsupported), "Unsupported");
    EXPECT_EQ(NvVarDataTypeIdent(vdtDefault), "vdtDefault");
    EXPECT_EQ(NvVarDataTypeIdent(vdtLongWord), "vdtLongWord");
    EXPECT_EQ(NvVarDataTypeIdent(vdtUnsupported), "vdtUnsupported");
    for (int d = vdtDefault; d <= vdtInt64; ++d) {
        auto type = static_cast<TNvVarDataType>(d);
        EXPECT_EQ(NvVarDataTypeToVarType(type), d);
        EXPECT_EQ(VarTypeToNvVarDataType(static_cast<VARTYPE>(d)), type);
    }
    EXPECT_EQ(VarTypeToNvVarDataType(VT_ARRAY | VT_I2), vdtSmallint);
    EXPECT_EQ(VarTypeToNvVarDataType(VT_UI8), vdtUnsupported);
    EXPECT_EQ(VarTypeToNvVarDataType(VT_CLSID), vdtUnsupported);
    EXPECT_EQ(NvVarDataTypeToVarType(vdtUnsupported), VT_EMPTY);
}

// ---- Scalar values -------------------------------------------------------------------------------

TEST_F(ConvertTest, EmptyNullAndErrorValuesHaveMarkers) {
    VARIANT empty = Make(VT_EMPTY);
    VARIANT null = Make(VT_NULL);
    VARIANT error = Make(VT_ERROR);
    error.scode = static_cast<SCODE>(0x80020004);
    EXPECT_EQ(Text(empty), "#EMPTY");
    EXPECT_EQ(Text(empty, true), "#EMPTY{Default}");
    EXPECT_EQ(Text(null), "#NULL");
    EXPECT_EQ(Text(null, true), "#NULL{Null}");
    EXPECT_EQ(Text(error), "Error($80020004)");
    EXPECT_EQ(Text(error, true), "Error($80020004){Error}");
    error.scode = 0x1A;
    EXPECT_EQ(Text(error), "Error($1A)");
}

TEST_F(ConvertTest, IntegersOfEveryWidthReadInDecimal) {
    VARIANT v = Make(VT_I1);
    v.cVal = -5;
    EXPECT_EQ(Text(v, true), "-5{Shortint}");
    v = Make(VT_UI1);
    v.bVal = 255;
    EXPECT_EQ(Text(v, true), "255{Byte}");
    v = Make(VT_I2);
    v.iVal = -32768;
    EXPECT_EQ(Text(v), "-32768");
    v = Make(VT_UI2);
    v.uiVal = 65535;
    EXPECT_EQ(Text(v), "65535");
    v = Make(VT_I4);
    v.lVal = -42;
    EXPECT_EQ(Text(v, true), "-42{Integer}");
    v = Make(VT_UI4);
    v.ulVal = 4294967295U;
    EXPECT_EQ(Text(v, true), "4294967295{LongWord}");
    v = Make(VT_I8);
    v.llVal = INT64_MIN;
    EXPECT_EQ(Text(v), "-9223372036854775808");
    v = Make(VT_UI8);
    v.ullVal = UINT64_MAX;
    EXPECT_EQ(Text(v, true), "18446744073709551615{21}");
    v = Make(VT_INT);
    v.intVal = -7;
    EXPECT_EQ(Text(v, true), "-7{22}");
}

TEST_F(ConvertTest, FloatingPointUsesFifteenSignificantDigitsAndTheRegionalSeparator) {
    VARIANT v = Make(VT_R8);
    v.dblVal = 1.0 / 3.0;
    EXPECT_EQ(Text(v), "0.333333333333333");
    v.dblVal = 0.1;
    EXPECT_EQ(Text(v, true), "0.1{Double}");
    v.dblVal = 1e20;
    EXPECT_EQ(Text(v), "1E20");
    v = Make(VT_R4);
    v.fltVal = 0.5f;
    EXPECT_EQ(Text(v, true), "0.5{Single}");

    TFormatSettings comma = DefaultFormatSettings();
    comma.DecimalSeparator = ",";
    SetFormatSettings(comma);
    v = Make(VT_R8);
    v.dblVal = -2.25;
    EXPECT_EQ(Text(v), "-2,25");
}

TEST_F(ConvertTest, CurrencyKeepsEveryDecimalWithoutRounding) {
    VARIANT v = Make(VT_CY);
    v.cyVal.int64 = 125000;
    EXPECT_EQ(Text(v, true), "12.5{Currency}");
    v.cyVal.int64 = -5;
    EXPECT_EQ(Text(v), "-0.0005");
    v.cyVal.int64 = 0;
    EXPECT_EQ(Text(v), "0");
    v.cyVal.int64 = INT64_MIN;
    EXPECT_EQ(Text(v), "-922337203685477.5808");

    TFormatSettings comma = DefaultFormatSettings();
    comma.DecimalSeparator = ",";
    SetFormatSettings(comma);
    v.cyVal.int64 = 10001;
    EXPECT_EQ(Text(v), "1,0001");
}

TEST_F(ConvertTest, DecimalsKeepTheirScaleAndSign) {
    VARIANT v;
    VariantInit(&v);
    v.decVal.Lo64 = 12345;
    v.decVal.Hi32 = 0;
    v.decVal.scale = 2;
    v.decVal.sign = DECIMAL_NEG;
    v.vt = VT_DECIMAL;  // overlaps the decimal's reserved word, so it is set last
    EXPECT_EQ(Text(v, true), "-123.45{Decimal}");
    v.decVal.scale = 6;
    v.decVal.sign = 0;
    EXPECT_EQ(Text(v), "0.012345");
}

TEST_F(ConvertTest, BooleansDatesAndStrings) {
    VARIANT v = Make(VT_BOOL);
    v.boolVal = VARIANT_TRUE;
    EXPECT_EQ(Text(v, true), "True{Boolean}");
    v.boolVal = VARIANT_FALSE;
    EXPECT_EQ(Text(v), "False");

    v = Make(VT_DATE);
    v.date = EncodeDate(2026, 12, 7) + EncodeTime(13, 5, 9, 0);
    EXPECT_EQ(Text(v, true), "2026/12/07 13:05:09{Date}");
    v.date = EncodeDate(2026, 12, 7);
    EXPECT_EQ(Text(v), "2026/12/07");

    Var s;
    s.v.vt = VT_BSTR;
    s.v.bstrVal = SysAllocString(OLESTR("say \"hi\"; \xE4"));
    EXPECT_EQ(Text(s.v), "say \"hi\"; \xC3\xA4");
    EXPECT_EQ(Text(s.v, true), "say \"hi\"; \xC3\xA4{OleStr}");
    // VariantInit sets only the type: the null pointer is what this case is about, so it is set.
    VARIANT nullString = Make(VT_BSTR);
    nullString.bstrVal = nullptr;
    EXPECT_EQ(Text(nullString), "");
}

TEST_F(ConvertTest, ValuesByReferenceReadAsTheirTarget) {
    LONG target = 99;
    VARIANT v = Make(VT_BYREF | VT_I4);
    v.plVal = &target;
    EXPECT_EQ(Text(v, true), "99{Integer (Reference)}");

    VARIANT inner = Make(VT_R8);
    inner.dblVal = 1.5;
    VARIANT outer = Make(VT_BYREF | VT_VARIANT);
    outer.pvarVal = &inner;
    EXPECT_EQ(Text(outer, true), "1.5{Variant (Reference)}");
}

TEST_F(ConvertTest, ValuesWithoutATextRaiseInsteadOfShowingGarbage) {
    VARIANT v = Make(VT_CLSID);
    EXPECT_THROW(Text(v), EConvertError);
    VARIANT nullTarget = Make(VT_BYREF | VT_I4);
    nullTarget.plVal = nullptr;
    EXPECT_THROW(Text(nullTarget), EConvertError);
}

// ---- Arrays ------------------------------------------------------------------------------------

TEST_F(ConvertTest, OneDimensionalArrayIsQuotedAndJoinedBySemicolons) {
    Var a;
    a.v.vt = VT_ARRAY | VT_I4;
    a.v.parray = IntVector({1, 2, 3});
    EXPECT_EQ(VarArrayToStr(a.v), "1;2;3");
    EXPECT_EQ(Text(a.v), "\"1;2;3\"");
    EXPECT_EQ(Text(a.v, true), "\"1;2;3\"{Array of Integer}");

    Var shifted;
    shifted.v.vt = VT_ARRAY | VT_I4;
    shifted.v.parray = IntVector({-4, 5}, 10);
    EXPECT_EQ(Text(shifted.v), "\"-4;5\"");

    Var empty;
    empty.v.vt = VT_ARRAY | VT_I4;
    empty.v.parray = IntVector({});
    EXPECT_EQ(VarArrayToStr(empty.v), "");
    EXPECT_EQ(Text(empty.v), "\"\"");
}

TEST_F(ConvertTest, TwoDimensionalArrayShowsOnlyItsDimensionCount) {
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 0}};
    Var a;
    a.v.vt = VT_ARRAY | VT_R8;
    a.v.parray = SafeArrayCreate(VT_R8, 2, bounds);
    ASSERT_NE(a.v.parray, nullptr);
    EXPECT_EQ(VarArrayToStr(a.v), "Array Dim=2");
    EXPECT_EQ(Text(a.v, true), "\"Array Dim=2\"{Array of Double}");
}

TEST_F(ConvertTest, QuotesInStringElementsAreDoubled) {
    Var a;
    a.v.vt = VT_ARRAY | VT_BSTR;
    a.v.parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
    LONG i = 0;
    BSTR first = SysAllocString(OLESTR("a\"b"));
    SafeArrayPutElement(a.v.parray, &i, first);
    SysFreeString(first);
    i = 1;
    BSTR second = SysAllocString(OLESTR("c"));
    SafeArrayPutElement(a.v.parray, &i, second);
    SysFreeString(second);
    EXPECT_EQ(VarArrayToStr(a.v), "a\"b;c");
    EXPECT_EQ(Text(a.v, true), "\"a\"\"b;c\"{Array of OleStr}");
}

TEST_F(ConvertTest, NestedArraysAreQuotedInsideTheirParent) {
    Var a;
    a.v.vt = VT_ARRAY | VT_VARIANT;
    a.v.parray = SafeArrayCreateVector(VT_VARIANT, 0, 4);
    VARIANT e = Make(VT_I4);
    e.lVal = 7;
    LONG i = 0;
    SafeArrayPutElement(a.v.parray, &i, &e);
    Var s;
    s.v.vt = VT_BSTR;
    s.v.bstrVal = SysAllocString(OLESTR("x"));
    i = 1;
    SafeArrayPutElement(a.v.parray, &i, &s.v);
    Var inner;
    inner.v.vt = VT_ARRAY | VT_I4;
    inner.v.parray = IntVector({1, 2});
    i = 2;
    SafeArrayPutElement(a.v.parray, &i, &inner.v);
    // Element 3 stays empty.
    EXPECT_EQ(VarArrayToStr(a.v), "7;x;\"1;2\";#EMPTY");
    EXPECT_EQ(Text(a.v, true), "\"7;x;\"\"1;2\"\";#EMPTY\"{Array of Variant}");
}

TEST_F(ConvertTest, DecimalAndCurrencyElementsReadLikeTheirScalars) {
    Var a;
    a.v.vt = VT_ARRAY | VT_DECIMAL;
    a.v.parray = SafeArrayCreateVector(VT_DECIMAL, 0, 2);
    DECIMAL d{};
    d.Lo64 = 15;
    d.scale = 1;
    LONG i = 0;
    SafeArrayPutElement(a.v.parray, &i, &d);
    d.sign = DECIMAL_NEG;
    d.scale = 0;
    i = 1;
    SafeArrayPutElement(a.v.parray, &i, &d);
    EXPECT_EQ(Text(a.v, true), "\"1.5;-15\"{Array of Decimal}");

    Var c;
    c.v.vt = VT_ARRAY | VT_CY;
    c.v.parray = SafeArrayCreateVector(VT_CY, 0, 1);
    CY cy;
    cy.int64 = 25000;
    i = 0;
    SafeArrayPutElement(c.v.parray, &i, &cy);
    EXPECT_EQ(Text(c.v), "\"2.5\"");
}

TEST_F(ConvertTest, ArrayByReferenceReadsTheReferencedArray) {
    SAFEARRAY* array = IntVector({8, 9});
    VARIANT v = Make(VT_ARRAY | VT_BYREF | VT_I4);
    v.pparray = &array;
    EXPECT_EQ(Text(v, true), "\"8;9\"{Array of Integer (Reference)}");
    SafeArrayDestroy(array);
}

// ---- Kinds ----------------------------------------------------------------------------------------

TEST_F(ConvertTest, VariantKindAndHasValue) {
    struct Row {
        VARTYPE vt;
        int kind;
    };
    const Row rows[] = {
        {VT_EMPTY, 0},   {VT_NULL, 0}, {VT_BOOL, 1},     {VT_I2, 2},           {VT_I4, 2},   {VT_UI1, 2},
        {VT_UI2, 2},     {VT_R4, 3},   {VT_R8, 3},       {VT_CY, 3},           {VT_BSTR, 4}, {72, 4},
        {256, 4},        {VT_DATE, 5}, {VT_UI4, 6},      {VT_I8, 6},           {VT_I1, 7},   {VT_ERROR, 7},
        {VT_DECIMAL, 7}, {VT_UI8, 7},  {VT_DISPATCH, 7}, {VT_ARRAY | VT_I4, 2}};
    for (const Row& row : rows) {
        VARIANT v = Make(row.vt);
        EXPECT_EQ(VariantKind(v), row.kind) << row.vt;
    }
    EXPECT_FALSE(HasValue(Make(VT_EMPTY)));
    EXPECT_FALSE(HasValue(Make(VT_NULL)));
    EXPECT_TRUE(HasValue(Make(VT_I2)));
    EXPECT_TRUE(HasValue(Make(VT_ARRAY | VT_EMPTY)));
}

// ---- Boolean arrays ------------------------------------------------------------------------------

TEST_F(ConvertTest, IntToBoolArrayHasThirtyTwoElementsOnePerBit) {
    Var zero;
    zero.v = IntToBoolArray(0);
    EXPECT_EQ(zero.v.vt, VT_ARRAY | VT_BOOL);
    LONG low = -1, high = -1;
    SafeArrayGetLBound(zero.v.parray, 1, &low);
    SafeArrayGetUBound(zero.v.parray, 1, &high);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 31);
    EXPECT_EQ(Bits(zero.v), std::vector<bool>(32, false));

    Var all;
    all.v = IntToBoolArray(-1);
    EXPECT_EQ(Bits(all.v), std::vector<bool>(32, true));

    Var mixed;
    mixed.v = IntToBoolArray(static_cast<std::int32_t>(0x80000005U));
    std::vector<bool> expected(32, false);
    expected[0] = expected[2] = expected[31] = true;
    EXPECT_EQ(Bits(mixed.v), expected);
    EXPECT_EQ(
        Text(mixed.v), "\"True;False;True;" + [] {
            std::string middle;
            for (int i = 3; i < 31; ++i)
                middle += "False;";
            return middle;
        }() + "True\"");
}

TEST_F(ConvertTest, IntToBoolArrayConvertsTheValueFirst) {
    Var text;
    text.v.vt = VT_BSTR;
    text.v.bstrVal = SysAllocString(OLESTR("6"));
    Var fromText;
    fromText.v = IntToBoolArray(text.v);
    std::vector<bool> expected(32, false);
    expected[1] = expected[2] = true;
    EXPECT_EQ(Bits(fromText.v), expected);

    VARIANT unsignedAll = Make(VT_UI4);
    unsignedAll.ulVal = 0xFFFFFFFFU;
    Var fromUnsigned;
    fromUnsigned.v = IntToBoolArray(unsignedAll);
    EXPECT_EQ(Bits(fromUnsigned.v), std::vector<bool>(32, true));

    Var bad;
    bad.v.vt = VT_BSTR;
    bad.v.bstrVal = SysAllocString(OLESTR("abc"));
    EXPECT_THROW(IntToBoolArray(bad.v), EConvertError);
}

// ---- Quality, state, status ------------------------------------------------------------------------

TEST_F(ConvertTest, EveryQualitySubstatusHasItsText) {
    struct Row {
        WORD quality;
        const char* text;
    };
    const Row rows[] = {
        {0x00, "Bad;Non-specific;Not limited"},
        {0x04, "Bad;Configuration error;Not limited"},
        {0x08, "Bad;Not connected;Not limited"},
        {0x0C, "Bad;Device failure;Not limited"},
        {0x10, "Bad;Sensor failure;Not limited"},
        {0x14, "Bad;Last known value;Not limited"},
        {0x18, "Bad;Communication failure;Not limited"},
        {0x1C, "Bad;Out of service;Not limited"},
        {0x20, "Bad;N/A;Not limited"},
        {0x3C, "Bad;N/A;Not limited"},
        {0x40, "Uncertain;Non-specific;Not limited"},
        {0x44, "Uncertain;Last usable;Not limited"},
        {0x48, "Uncertain;N/A;Not limited"},
        {0x50, "Uncertain;Sensor not accurate;Not limited"},
        {0x54, "Uncertain;Limits exceeded;Not limited"},
        {0x58, "Uncertain;Sub-normal;Not limited"},
        {0x5C, "Uncertain;N/A;Not limited"},
        {0xC0, "Good;Non-specific;Not limited"},
        {0xC4, "Good;N/A;Not limited"},
        {0xD8, "Good;Local override;Not limited"},
        {0x80, "N/A;;Not limited"},
        {0x9B, "N/A;;Constant"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(QualityToStr(row.quality), row.text) << row.quality;
}

TEST_F(ConvertTest, QualityLimitBitsAndTheIgnoredHighByte) {
    EXPECT_EQ(QualityToStr(0x16), "Bad;Last known value;At High limit");
    EXPECT_EQ(QualityToStr(0x55), "Uncertain;Limits exceeded;At Low limit");
    EXPECT_EQ(QualityToStr(0xC3), "Good;Non-specific;Constant");
    EXPECT_EQ(QualityToStr(0xC2), "Good;Non-specific;At High limit");
    EXPECT_EQ(QualityToStr(0xABC0), "Good;Non-specific;Not limited");
    EXPECT_EQ(QualityToStr(0xFF18), "Bad;Communication failure;Not limited");
}

TEST_F(ConvertTest, ServerStates) {
    EXPECT_EQ(ServerStateToStr(1), "Running");
    EXPECT_EQ(ServerStateToStr(2), "Failed");
    EXPECT_EQ(ServerStateToStr(3), "Not configured");
    EXPECT_EQ(ServerStateToStr(4), "Suspended");
    EXPECT_EQ(ServerStateToStr(5), "Test");
    EXPECT_EQ(ServerStateToStr(0), "No connection!");
    EXPECT_EQ(ServerStateToStr(6), "No connection!");
    EXPECT_EQ(ServerStateToStr(0xFFFFFFFFU), "No connection!");
}

FILETIME FileTimeOf(int year, int month, int day, int hour, int minute, int second, int ms) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    st.wMilliseconds = static_cast<WORD>(ms);
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

TEST_F(ConvertTest, ServerStatusGivesEightNameValueEntries) {
    WideString vendor = ToWide("Norvane, \"simulated\" server");
    OPCSERVERSTATUS status{};
    status.ftStartTime = FileTimeOf(2026, 12, 7, 13, 5, 9, 42);
    status.ftCurrentTime = FileTimeOf(2026, 12, 7, 14, 0, 1, 0);
    status.ftLastUpdateTime = FileTimeOf(2026, 12, 8, 0, 0, 0, 0);
    status.dwServerState = OPC_STATUS_SUSPENDED;
    status.dwGroupCount = 3;
    status.dwBandWidth = 0xFFFFFFFFU;
    status.wMajorVersion = 2;
    status.wMinorVersion = 5;
    status.wBuildNumber = 1234;
    status.szVendorInfo = vendor.data();

    TNvStringList list;
    list.Add("stale entry");
    ServerStatusToStrings(status, list);
    EXPECT_EQ(list.ToVector(),
              (std::vector<std::string>{"ServerState=Suspended", "StartTime=2026/12/07 13:05:09",
                                        "CurrentTime=2026/12/07 14:00:01", "LastUpdateTime=2026/12/08",
                                        "GroupCount=3", "BandWidth=-1",
                                        "Vendor=Norvane, \"simulated\" server", "Version=2.5 Build 1234"}));
    EXPECT_EQ(list.Values("BandWidth"), "-1");

    status.dwServerState = static_cast<OPCSERVERSTATE>(0);
    status.szVendorInfo = nullptr;
    ServerStatusToStrings(status, list);
    EXPECT_EQ(list.Count(), 8);
    EXPECT_EQ(list.Strings(0), "ServerState=No connection!");
    EXPECT_EQ(list.Strings(6), "Vendor=");
}

// ---- File times and Booleans ------------------------------------------------------------------------

TEST_F(ConvertTest, FileTimesConvertWithoutTimeZoneAndKeepMilliseconds) {
    TDateTime zero = FileTimeToDateTime(std::uint64_t{0});
    EXPECT_EQ(zero, EncodeDate(1601, 1, 1));
    EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", zero), "1601/01/01 00:00:00.000");

    FILETIME ft = FileTimeOf(2026, 12, 7, 13, 5, 9, 42);
    EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", FileTimeToDateTime(ft)), "2026/12/07 13:05:09.042");
    EXPECT_EQ(FileTimeToStr(ft), "2026/12/07 13:05:09");
    std::uint64_t raw = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    EXPECT_EQ(FileTimeToDateTime(raw), FileTimeToDateTime(ft));

    // Past the year 9999 there is no date to show.
    EXPECT_EQ(FileTimeToDateTime(std::uint64_t{0x7FFFFFFFFFFFFFFFULL}), 0);
    EXPECT_EQ(FileTimeToDateTime(std::uint64_t{0xFFFFFFFFFFFFFFFFULL}), 0);
}

TEST_F(ConvertTest, BooleanWordsAndOPCBooleans) {
    EXPECT_EQ(BoolToText(true), "True");
    EXPECT_EQ(BoolToText(false), "False");
    EXPECT_EQ(BoolToOPCBool(true), 1);
    EXPECT_EQ(BoolToOPCBool(false), 0);
    EXPECT_TRUE(OPCBoolToBool(1));
    EXPECT_TRUE(OPCBoolToBool(-1));
    EXPECT_TRUE(OPCBoolToBool(2));
    EXPECT_FALSE(OPCBoolToBool(0));
}

// ---- File versions ------------------------------------------------------------------------------

// The version the build was configured with, as CMake recorded it.
std::string ConfiguredVersion() {
    std::ifstream cache(std::string(NV_BUILD_DIR) + "/CMakeCache.txt");
    std::string line;
    const std::string key = "CMAKE_PROJECT_VERSION:STATIC=";
    while (std::getline(cache, line))
        if (line.rfind(key, 0) == 0)
            return line.substr(key.size());
    return {};
}

TEST_F(ConvertTest, TheRunningProgramReportsItsBuildVersion) {
    std::string configured = ConfiguredVersion();
    ASSERT_FALSE(configured.empty());
    std::string self = ProgramFileName();
    ASSERT_FALSE(self.empty());
    EXPECT_EQ(FileVersionToStr(self, "%d.%d.%d"), configured);
    EXPECT_EQ(FileVersionToStr(self, "%d.%d.%d.%d"), configured + ".0");
    TNvFileVersion version = GetFileVersion(self);
    EXPECT_EQ(Format("%d.%d.%d", version.Major, version.Minor, version.Release), configured);

#ifndef _WIN32
    // Another path to the same file is the same file.
    std::filesystem::path link =
        std::filesystem::temp_directory_path() / ("nv-convert-self-" + std::to_string(::getpid()));
    std::filesystem::remove(link);
    std::filesystem::create_symlink(self, link);
    EXPECT_EQ(FileVersionToStr(link.string(), "%d.%d.%d"), configured);
    std::filesystem::remove(link);
#endif
}

TEST_F(ConvertTest, OtherFilesHaveNoVersion) {
    std::string other = std::string(NV_BUILD_DIR) + "/CMakeCache.txt";
    TNvFileVersion version;
    EXPECT_FALSE(TryGetFileVersion(other, version));
    EXPECT_EQ(FileVersionToStr(other, "%d.%d.%d.%d"), "");
    EXPECT_EQ(FileVersionToStr("/no/such/file", "%d.%d.%d.%d"), "");
    EXPECT_EQ(FileVersionToStr("", "%d.%d.%d.%d"), "");
    try {
        GetFileVersion(other);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "No version information available");
    }
    // A format that does not fit four numbers gives no text rather than an error.
    EXPECT_EQ(FileVersionToStr(ProgramFileName(), "%s"), "");
}

}  // namespace
}  // namespace nv
