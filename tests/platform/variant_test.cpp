// VARIANT lifetime: init, clear, copy and copy-through-reference, with the ownership rules that
// the client relies on when it keeps values a server handed over.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/win32.h"

namespace {

using Text = std::basic_string<OLECHAR>;

// Counts references so that tests can see AddRef/Release pairs.
struct Counted : public IUnknown {
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

VARIANT StringVariant(const OLECHAR* s) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(s);
    return v;
}

TEST(Variant, ClearFreesAndEmpties) {
    VARIANT v = StringVariant(OLESTR("value"));
    EXPECT_EQ(VariantClear(&v), S_OK);  // the leak check proves the string was freed
    EXPECT_EQ(v.vt, VT_EMPTY);

    Counted obj;
    v.vt = VT_UNKNOWN;
    v.punkVal = &obj;
    obj.AddRef();
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(obj.refs, 1u);

    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
    LONG i = 1;
    BSTR element = SysAllocString(OLESTR("leaked if not freed"));
    SafeArrayPutElement(v.parray, &i, element);
    SysFreeString(element);
    BSTR put = nullptr;
    SafeArrayGetElement(v.parray, &i, &put);
    EXPECT_EQ(Text(put), Text(OLESTR("leaked if not freed")));
    SysFreeString(put);
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(Variant, ClearRefusesInvalidTypesAndKeepsThem) {
    VARIANT v;
    VariantInit(&v);
    v.vt = 15;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    EXPECT_EQ(v.vt, 15);
    v.vt = VT_I4 | VT_VECTOR;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    v.vt = VT_NULL | VT_BYREF;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    v.vt = VT_BSTR | VT_BYREF;  // a reference owns nothing
    BSTR owned = SysAllocString(OLESTR("kept"));
    v.pbstrVal = &owned;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(Text(owned), Text(OLESTR("kept")));
    SysFreeString(owned);
}

TEST(Variant, ClearRefusesALockedArray) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_I4;
    SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, 0, 1);
    v.parray = psa;
    SafeArrayLock(psa);
    EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
    // The array survives (the stand-in also keeps the variant's type, so nothing is lost).
    EXPECT_EQ(SafeArrayUnlock(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(Variant, CopyIsDeep) {
    const OLECHAR raw[] = {'a', 0, 'b'};
    VARIANT src;
    VariantInit(&src);
    src.vt = VT_BSTR;
    src.bstrVal = SysAllocStringLen(raw, 3);
    VARIANT dst = StringVariant(OLESTR("old value, freed by the copy"));
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    EXPECT_NE(dst.bstrVal, src.bstrVal);
    EXPECT_EQ(Text(dst.bstrVal, SysStringLen(dst.bstrVal)), Text(raw, 3));
    VariantClear(&src);
    EXPECT_EQ(dst.bstrVal[2], 'b');  // still valid after the source is gone
    VariantClear(&dst);

    Counted obj;
    src.vt = VT_UNKNOWN;
    src.punkVal = &obj;
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    EXPECT_EQ(obj.refs, 2u);
    VariantClear(&dst);
    EXPECT_EQ(obj.refs, 1u);

    src.vt = VT_DECIMAL;
    src.decVal.scale = 2;
    src.decVal.sign = DECIMAL_NEG;
    src.decVal.Hi32 = 7;
    src.decVal.Lo64 = 99;
    src.vt = VT_DECIMAL;
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    EXPECT_EQ(dst.vt, VT_DECIMAL);
    EXPECT_EQ(dst.decVal.scale, 2);
    EXPECT_EQ(dst.decVal.Hi32, 7u);
    EXPECT_EQ(dst.decVal.Lo64, 99u);

    src.vt = 15;
    EXPECT_EQ(VariantCopy(&dst, &src), DISP_E_BADVARTYPE);
    EXPECT_EQ(dst.vt, VT_DECIMAL);  // untouched
}

TEST(Variant, CopyIndDereferences) {
    LONG value = 42;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = &value;
    VARIANT dst;
    VariantInit(&dst);
    ASSERT_EQ(VariantCopyInd(&dst, &ref), S_OK);
    EXPECT_EQ(dst.vt, VT_I4);
    EXPECT_EQ(dst.lVal, 42);

    BSTR text = SysAllocString(OLESTR("by reference"));
    ref.vt = VT_BSTR | VT_BYREF;
    ref.pbstrVal = &text;
    ASSERT_EQ(VariantCopyInd(&dst, &ref), S_OK);
    EXPECT_EQ(dst.vt, VT_BSTR);
    EXPECT_NE(dst.bstrVal, text);
    EXPECT_EQ(Text(dst.bstrVal), Text(OLESTR("by reference")));
    SysFreeString(text);
    VariantClear(&dst);

    VARIANT inner = StringVariant(OLESTR("inner"));
    ref.vt = VT_VARIANT | VT_BYREF;
    ref.pvarVal = &inner;
    ASSERT_EQ(VariantCopyInd(&ref, &ref), S_OK);  // in place
    EXPECT_EQ(ref.vt, VT_BSTR);
    EXPECT_NE(ref.bstrVal, inner.bstrVal);
    VariantClear(&ref);
    VariantClear(&inner);

    VARIANT outer;
    VariantInit(&outer);
    outer.vt = VT_VARIANT | VT_BYREF;
    outer.pvarVal = &ref;
    ref.vt = VT_VARIANT | VT_BYREF;
    ref.pvarVal = &inner;
    EXPECT_EQ(VariantCopyInd(&dst, &outer), E_INVALIDARG);  // only one level is followed
}

// The current Windows runtime clears the whole structure (older ones and the documentation only
// speak of vt): the DECIMAL fields that share the reserved words must read as zero afterwards.
TEST(Variant, InitClearsEveryByte) {
    VARIANT v;
    std::memset(&v, 0xAB, sizeof v);
    VariantInit(&v);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&v);
    for (size_t i = 0; i < sizeof v; ++i)
        EXPECT_EQ(bytes[i], 0) << "byte " << i;
    EXPECT_EQ(v.decVal.scale, 0);
    EXPECT_EQ(v.decVal.Hi32, 0u);

    // VariantClear is different: it sets the type and leaves the rest as it was.
    std::memset(&v, 0xAB, sizeof v);
    v.vt = VT_I4;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(bytes[8], 0xAB);
}

// A VT_BSTR may hold a null string, which every function treats as "". A copy of it is an
// allocated empty string, as the Windows runtime makes it; inside a string array a null cell
// stays null, inside a variant array it becomes "" like any variant copy.
TEST(Variant, CopyOfANullStringIsAnEmptyString) {
    VARIANT src;
    VariantInit(&src);
    src.vt = VT_BSTR;
    src.bstrVal = nullptr;
    VARIANT dst;
    VariantInit(&dst);
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    EXPECT_EQ(dst.vt, VT_BSTR);
    ASSERT_NE(dst.bstrVal, nullptr);
    EXPECT_EQ(SysStringLen(dst.bstrVal), 0u);
    EXPECT_EQ(dst.bstrVal[0], 0);
    VariantClear(&dst);

    BSTR none = nullptr;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BSTR | VT_BYREF;
    ref.pbstrVal = &none;
    ASSERT_EQ(VariantCopyInd(&dst, &ref), S_OK);
    EXPECT_EQ(dst.vt, VT_BSTR);
    ASSERT_NE(dst.bstrVal, nullptr);
    EXPECT_EQ(SysStringLen(dst.bstrVal), 0u);
    VariantClear(&dst);

    ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_BSTR), S_OK);
    EXPECT_NE(dst.bstrVal, nullptr);
    VariantClear(&dst);
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), DISP_E_TYPEMISMATCH);

    VARIANT strings;
    VariantInit(&strings);
    strings.vt = VT_ARRAY | VT_BSTR;
    strings.parray = SafeArrayCreateVector(VT_BSTR, 0, 1);
    ASSERT_EQ(VariantCopy(&dst, &strings), S_OK);
    EXPECT_EQ(static_cast<BSTR*>(dst.parray->pvData)[0], nullptr);
    VariantClear(&dst);
    VariantClear(&strings);

    VARIANT variants;
    VariantInit(&variants);
    variants.vt = VT_ARRAY | VT_VARIANT;
    variants.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    static_cast<VARIANT*>(variants.parray->pvData)[0].vt = VT_BSTR;
    ASSERT_EQ(VariantCopy(&dst, &variants), S_OK);
    EXPECT_NE(static_cast<VARIANT*>(dst.parray->pvData)[0].bstrVal, nullptr);
    VariantClear(&dst);
    VariantClear(&variants);
}

}  // namespace
