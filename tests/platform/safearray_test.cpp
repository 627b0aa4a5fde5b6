// Safe arrays: descriptor layout and flags, bounds in both dimension orders, element copies with
// their ownership rules, locking, copying and destruction (the leak check of the sanitizer build
// proves that elements are freed).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

using Text = std::basic_string<OLECHAR>;

struct Counted : public IUnknown {
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

// Windows marks arrays made by SafeArrayCreateVector with this internal flag, and a vector
// whose data was destroyed with the second.
constexpr USHORT kCreatedAsVector = 0x2000;
constexpr USHORT kDataDeleted = 0x1000;

DWORD HiddenVartype(SAFEARRAY* psa) {
    DWORD vt;
    std::memcpy(&vt, reinterpret_cast<BYTE*>(psa) - sizeof(DWORD), sizeof vt);
    return vt;
}

TEST(SafeArray, VectorOfIntegers) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, 1, 5);
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(SafeArrayGetDim(psa), 1u);
    EXPECT_EQ(SafeArrayGetElemsize(psa), 4u);
    EXPECT_EQ(psa->fFeatures & (FADF_HAVEVARTYPE | FADF_BSTR | FADF_VARIANT), FADF_HAVEVARTYPE);
    EXPECT_EQ(HiddenVartype(psa), static_cast<DWORD>(VT_I4));
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
    EXPECT_EQ(vt, VT_I4);
    LONG lo = 0, hi = 0;
    EXPECT_EQ(SafeArrayGetLBound(psa, 1, &lo), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(psa, 1, &hi), S_OK);
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, 5);
    EXPECT_EQ(SafeArrayGetUBound(psa, 2, &hi), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetLBound(psa, 0, &lo), DISP_E_BADINDEX);

    for (LONG i = 1; i <= 5; ++i) {
        LONG value = i * 10;
        ASSERT_EQ(SafeArrayPutElement(psa, &i, &value), S_OK);
    }
    for (LONG bad : {0, 6}) {
        LONG value = 0;
        EXPECT_EQ(SafeArrayPutElement(psa, &bad, &value), DISP_E_BADINDEX);
        EXPECT_EQ(SafeArrayGetElement(psa, &bad, &value), DISP_E_BADINDEX);
        void* p = nullptr;
        EXPECT_EQ(SafeArrayPtrOfIndex(psa, &bad, &p), DISP_E_BADINDEX);
    }
    LONG* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(psa, reinterpret_cast<void**>(&data)), S_OK);
    EXPECT_EQ(psa->cLocks, 1u);
    EXPECT_EQ(data[0], 10);
    EXPECT_EQ(data[4], 50);
    EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, TwoDimensionsLeftmostIndexVariesFastest) {
    SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 10}};  // rows 0..2, columns 10..11
    SAFEARRAY* psa = SafeArrayCreate(VT_I2, 2, bounds);
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(psa->fFeatures, FADF_HAVEVARTYPE);
    // Stored in reverse: rgsabound[0] is the rightmost dimension.
    EXPECT_EQ(psa->rgsabound[0].cElements, 2u);
    EXPECT_EQ(psa->rgsabound[0].lLbound, 10);
    EXPECT_EQ(psa->rgsabound[1].cElements, 3u);
    LONG lo = 0, hi = 0;
    SafeArrayGetLBound(psa, 2, &lo);
    SafeArrayGetUBound(psa, 2, &hi);
    EXPECT_EQ(lo, 10);
    EXPECT_EQ(hi, 11);
    SafeArrayGetUBound(psa, 1, &hi);
    EXPECT_EQ(hi, 2);

    for (LONG col = 10; col <= 11; ++col)
        for (LONG row = 0; row <= 2; ++row) {
            LONG idx[2] = {row, col};
            SHORT value = static_cast<SHORT>(row * 100 + col);
            ASSERT_EQ(SafeArrayPutElement(psa, idx, &value), S_OK);
        }
    const SHORT* data = static_cast<const SHORT*>(psa->pvData);
    EXPECT_EQ(data[0], 10);   // [0,10]
    EXPECT_EQ(data[1], 110);  // [1,10]
    EXPECT_EQ(data[3], 11);   // [0,11]
    EXPECT_EQ(data[5], 211);  // [2,11]
    LONG outside[2] = {3, 10};
    SHORT value = 0;
    EXPECT_EQ(SafeArrayGetElement(psa, outside, &value), DISP_E_BADINDEX);
    LONG wrongColumn[2] = {0, 9};
    EXPECT_EQ(SafeArrayGetElement(psa, wrongColumn, &value), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, StringsAreCopiedInAndOut) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 3);
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(psa->fFeatures, FADF_HAVEVARTYPE | FADF_BSTR | kCreatedAsVector);
    EXPECT_EQ(SafeArrayGetElemsize(psa), sizeof(BSTR));
    BSTR mine = SysAllocString(OLESTR("first"));
    LONG i = 0;
    ASSERT_EQ(SafeArrayPutElement(psa, &i, mine), S_OK);
    SysFreeString(mine);  // the array holds its own copy
    BSTR replacement = SysAllocString(OLESTR("replaced"));
    ASSERT_EQ(SafeArrayPutElement(psa, &i, replacement), S_OK);  // frees the old element
    SysFreeString(replacement);
    i = 2;
    ASSERT_EQ(SafeArrayPutElement(psa, &i, nullptr), S_OK);  // a null string is a legal element

    i = 0;
    BSTR out = nullptr;
    ASSERT_EQ(SafeArrayGetElement(psa, &i, &out), S_OK);
    EXPECT_EQ(Text(out), Text(OLESTR("replaced")));
    EXPECT_NE(out, static_cast<BSTR*>(psa->pvData)[0]);
    SysFreeString(out);

    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
    EXPECT_EQ(copy->fFeatures, FADF_HAVEVARTYPE | FADF_BSTR);  // a copy is no longer a created vector
    EXPECT_EQ(HiddenVartype(copy), static_cast<DWORD>(VT_BSTR));
    EXPECT_NE(static_cast<BSTR*>(copy->pvData)[0], static_cast<BSTR*>(psa->pvData)[0]);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(Text(static_cast<BSTR*>(copy->pvData)[0]), Text(OLESTR("replaced")));
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
}

TEST(SafeArray, VariantsAndBooleans) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(psa->fFeatures, FADF_HAVEVARTYPE | FADF_VARIANT | kCreatedAsVector);
    EXPECT_EQ(SafeArrayGetElemsize(psa), sizeof(VARIANT));
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(OLESTR("inside"));
    LONG i = 1;
    ASSERT_EQ(SafeArrayPutElement(psa, &i, &v), S_OK);
    VariantClear(&v);
    VARIANT out;
    ASSERT_EQ(SafeArrayGetElement(psa, &i, &out), S_OK);  // out need not be initialised
    EXPECT_EQ(out.vt, VT_BSTR);
    EXPECT_EQ(Text(out.bstrVal), Text(OLESTR("inside")));
    VariantClear(&out);
    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(Text(static_cast<VARIANT*>(copy->pvData)[1].bstrVal), Text(OLESTR("inside")));
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);

    SAFEARRAY* flags = SafeArrayCreateVector(VT_BOOL, 0, 32);
    ASSERT_NE(flags, nullptr);
    EXPECT_EQ(SafeArrayGetElemsize(flags), 2u);
    VARIANT_BOOL t = VARIANT_TRUE;
    i = 31;
    ASSERT_EQ(SafeArrayPutElement(flags, &i, &t), S_OK);
    EXPECT_EQ(static_cast<VARIANT_BOOL*>(flags->pvData)[31], VARIANT_TRUE);
    EXPECT_EQ(static_cast<VARIANT_BOOL*>(flags->pvData)[30], VARIANT_FALSE);
    EXPECT_EQ(SafeArrayDestroy(flags), S_OK);
}

TEST(SafeArray, InterfacesAreReferenceCounted) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(psa->fFeatures, FADF_HAVEIID | FADF_UNKNOWN | kCreatedAsVector);
    VARTYPE vt = VT_EMPTY;
    SafeArrayGetVartype(psa, &vt);
    EXPECT_EQ(vt, VT_UNKNOWN);
    Counted obj;
    LONG i = 0;
    ASSERT_EQ(SafeArrayPutElement(psa, &i, static_cast<IUnknown*>(&obj)), S_OK);
    EXPECT_EQ(obj.refs, 2u);
    IUnknown* out = nullptr;
    ASSERT_EQ(SafeArrayGetElement(psa, &i, &out), S_OK);
    EXPECT_EQ(out, &obj);
    EXPECT_EQ(obj.refs, 3u);
    out->Release();
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(obj.refs, 1u);

    SAFEARRAYBOUND bound{1, 0};
    SAFEARRAY* dispatch = SafeArrayCreate(VT_DISPATCH, 1, &bound);
    ASSERT_NE(dispatch, nullptr);
    EXPECT_EQ(dispatch->fFeatures, FADF_HAVEIID | FADF_DISPATCH);
    SafeArrayGetVartype(dispatch, &vt);
    EXPECT_EQ(vt, VT_DISPATCH);
    EXPECT_EQ(SafeArrayDestroy(dispatch), S_OK);
}

TEST(SafeArray, LockingProtectsTheArray) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 1);
    ASSERT_EQ(SafeArrayLock(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayDestroyData(psa), DISP_E_ARRAYISLOCKED);
    SAFEARRAYBOUND bigger{4, 0};
    EXPECT_EQ(SafeArrayRedim(psa, &bigger), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnlock(psa), S_OK);
    EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST(SafeArray, RedimKeepsAndReleasesTheTail) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 3);
    BSTR element = SysAllocString(OLESTR("element"));
    for (LONG i = 0; i < 3; ++i)
        SafeArrayPutElement(psa, &i, element);
    SysFreeString(element);
    SAFEARRAYBOUND smaller{1, 5};
    ASSERT_EQ(SafeArrayRedim(psa, &smaller), S_OK);
    LONG lo = 0, hi = 0;
    SafeArrayGetLBound(psa, 1, &lo);
    SafeArrayGetUBound(psa, 1, &hi);
    EXPECT_EQ(lo, 5);
    EXPECT_EQ(hi, 5);
    SAFEARRAYBOUND larger{4, 5};
    ASSERT_EQ(SafeArrayRedim(psa, &larger), S_OK);
    LONG last = 8;
    BSTR out = reinterpret_cast<BSTR>(1);
    ASSERT_EQ(SafeArrayGetElement(psa, &last, &out), S_OK);
    EXPECT_EQ(out, nullptr);  // new cells start empty
    LONG first = 5;
    ASSERT_EQ(SafeArrayGetElement(psa, &first, &out), S_OK);
    EXPECT_EQ(Text(out), Text(OLESTR("element")));
    SysFreeString(out);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, DescriptorCalls) {
    SAFEARRAY* psa = nullptr;
    EXPECT_EQ(SafeArrayAllocDescriptor(0, &psa), E_INVALIDARG);
    ASSERT_EQ(SafeArrayAllocDescriptorEx(VT_R8, 2, &psa), S_OK);
    EXPECT_EQ(psa->cbElements, 8u);
    EXPECT_EQ(psa->pvData, nullptr);
    psa->rgsabound[0] = {2, 0};
    psa->rgsabound[1] = {2, 0};
    ASSERT_EQ(SafeArrayAllocData(psa), S_OK);
    static_cast<double*>(psa->pvData)[3] = 1.5;
    LONG idx[2] = {1, 1};
    double d = 0;
    ASSERT_EQ(SafeArrayGetElement(psa, idx, &d), S_OK);
    EXPECT_EQ(d, 1.5);
    EXPECT_EQ(SafeArrayDestroyData(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroyDescriptor(psa), S_OK);

    SAFEARRAYBOUND b{1, 0};
    EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, &b), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &b), nullptr);
}

// A descriptor may be made for any VARTYPE: the interface types carry their IID, a record its
// own flag, every other type its VARTYPE, and cbElements is 0 where the type has no fixed size.
// SafeArrayCreate still needs a size (and refuses records, which need SafeArrayCreateEx).
TEST(SafeArray, DescriptorForEveryVartype) {
    std::vector<VARTYPE> types;
    for (VARTYPE vt = 0; vt < 80; ++vt)
        types.push_back(vt);
    for (VARTYPE odd : {VT_I4 | VT_BYREF, VT_I4 | VT_ARRAY, VT_I4 | VT_VECTOR, 0x0FFF, 0x7FFF, 0xFFFF})
        types.push_back(static_cast<VARTYPE>(odd));
    for (VARTYPE vt : types) {
        SCOPED_TRACE(vt);
        SAFEARRAY* psa = nullptr;
        ASSERT_EQ(SafeArrayAllocDescriptorEx(vt, 1, &psa), S_OK);
        VARTYPE back = 0;
        ASSERT_EQ(SafeArrayGetVartype(psa, &back), S_OK);
        if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
            EXPECT_EQ(psa->fFeatures, FADF_HAVEIID);
            EXPECT_EQ(back, VT_UNKNOWN);  // without FADF_DISPATCH (SafeArrayCreate adds it)
        } else if (vt == VT_RECORD) {
            EXPECT_EQ(psa->fFeatures, FADF_RECORD);
            EXPECT_EQ(back, VT_RECORD);
        } else {
            EXPECT_EQ(psa->fFeatures, FADF_HAVEVARTYPE);
            EXPECT_EQ(HiddenVartype(psa), static_cast<DWORD>(vt));
            EXPECT_EQ(back, vt);
        }
        EXPECT_EQ(SafeArrayDestroyDescriptor(psa), S_OK);
    }

    struct Size {
        VARTYPE vt;
        ULONG bytes;
    };
    for (const Size& c :
         {Size{VT_EMPTY, 0}, Size{VT_NULL, 0}, Size{15, 0}, Size{VT_LPSTR, 0}, Size{VT_FILETIME, 0},
          Size{VT_INT_PTR, 8}, Size{VT_UINT_PTR, 8}, Size{VT_RECORD, 32}, Size{VT_DECIMAL, 16},
          Size{VT_VARIANT, 24}, Size{VT_BOOL, 2}}) {
        SCOPED_TRACE(c.vt);
        SAFEARRAY* psa = nullptr;
        ASSERT_EQ(SafeArrayAllocDescriptorEx(c.vt, 1, &psa), S_OK);
        EXPECT_EQ(psa->cbElements, c.bytes);
        SafeArrayDestroyDescriptor(psa);
        SAFEARRAYBOUND bound{3, 0};
        SAFEARRAY* made = SafeArrayCreate(c.vt, 1, &bound);
        EXPECT_EQ(made != nullptr, c.bytes != 0 && c.vt != VT_RECORD);
        SafeArrayDestroy(made);
        made = SafeArrayCreateVector(c.vt, 0, 3);
        EXPECT_EQ(made != nullptr, c.bytes != 0 && c.vt != VT_RECORD);
        SafeArrayDestroy(made);
    }
}

// Destroying the data leaves the flags alone, except that a vector is marked kDataDeleted
// (Windows keeps a vector's data in the descriptor's block and only marks it deleted). The
// array can be given data again and destroyed as a whole afterwards.
TEST(SafeArray, DestroyDataLeavesTheFlags) {
    for (VARTYPE vt : {VT_I4, VT_BSTR, VT_VARIANT, VT_UNKNOWN, VT_DISPATCH, VT_DECIMAL}) {
        SCOPED_TRACE(vt);
        SAFEARRAYBOUND bound{3, 0};
        SAFEARRAY* psa = SafeArrayCreate(vt, 1, &bound);
        ASSERT_NE(psa, nullptr);
        const USHORT flags = psa->fFeatures;
        ASSERT_EQ(SafeArrayDestroyData(psa), S_OK);
        EXPECT_EQ(psa->fFeatures, flags);
        EXPECT_EQ(psa->pvData, nullptr);
        ASSERT_EQ(SafeArrayAllocData(psa), S_OK);
        EXPECT_EQ(psa->fFeatures, flags);
        EXPECT_EQ(SafeArrayDestroy(psa), S_OK);

        SAFEARRAY* vector = SafeArrayCreateVector(vt, 0, 3);
        ASSERT_NE(vector, nullptr);
        const USHORT vectorFlags = vector->fFeatures;
        EXPECT_EQ(vectorFlags & (kCreatedAsVector | kDataDeleted), kCreatedAsVector);
        if (vt == VT_BSTR) {
            LONG i = 1;
            BSTR text = SysAllocString(OLESTR("released with the data"));
            ASSERT_EQ(SafeArrayPutElement(vector, &i, text), S_OK);
            SysFreeString(text);
        }
        ASSERT_EQ(SafeArrayDestroyData(vector), S_OK);
        EXPECT_EQ(vector->fFeatures, vectorFlags | kDataDeleted);
        ASSERT_EQ(SafeArrayAllocData(vector), S_OK);
        ASSERT_NE(vector->pvData, nullptr);
        EXPECT_EQ(vector->fFeatures, vectorFlags | kDataDeleted);
        EXPECT_EQ(SafeArrayDestroy(vector), S_OK);

        SAFEARRAY* bare = nullptr;
        ASSERT_EQ(SafeArrayAllocDescriptorEx(vt, 1, &bare), S_OK);
        bare->rgsabound[0] = {2, 0};
        const USHORT bareFlags = bare->fFeatures;
        ASSERT_EQ(SafeArrayAllocData(bare), S_OK);
        ASSERT_EQ(SafeArrayDestroyData(bare), S_OK);
        EXPECT_EQ(bare->fFeatures, bareFlags);
        EXPECT_EQ(SafeArrayDestroyDescriptor(bare), S_OK);
    }
}

}  // namespace
