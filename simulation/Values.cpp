#include "simulation/Values.h"

namespace nv::sim {

namespace {

bool IsValueType(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_I2:
        case VT_I4:
        case VT_I8:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BSTR:
        case VT_BOOL:
        case VT_DECIMAL:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool CanConvertType(VARTYPE from, VARTYPE to) {
    if (to == VT_EMPTY || to == from) {
        return true;
    }
    if ((from & ~(VT_ARRAY | VT_TYPEMASK)) || (to & ~(VT_ARRAY | VT_TYPEMASK))) {
        return false;  // by-reference and other flags are never item types
    }
    if ((from & VT_ARRAY) != (to & VT_ARRAY)) {
        return false;
    }
    return IsValueType(from & VT_TYPEMASK) && IsValueType(to & VT_TYPEMASK);
}

HRESULT ConvertValue(const VARIANT& in, VARTYPE to, VARIANT* out) {
    VariantClear(out);
    if (to == VT_EMPTY || to == in.vt) {
        return VariantCopy(out, &in);
    }
    if (!(in.vt & VT_ARRAY) && !(to & VT_ARRAY)) {
        return VariantChangeType(out, &in, 0, to);
    }
    if (!(in.vt & VT_ARRAY) || !(to & VT_ARRAY) || !in.parray || SafeArrayGetDim(in.parray) != 1) {
        return DISP_E_TYPEMISMATCH;
    }
    VARTYPE fromBase = in.vt & VT_TYPEMASK;
    VARTYPE toBase = to & VT_TYPEMASK;
    if (!IsValueType(fromBase) || !IsValueType(toBase)) {
        return DISP_E_TYPEMISMATCH;
    }
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(in.parray, 1, &lower);
    SafeArrayGetUBound(in.parray, 1, &upper);
    ULONG count = upper >= lower ? ULONG(upper - lower + 1) : 0;
    SAFEARRAY* result = SafeArrayCreateVector(toBase, lower, count);
    if (!result) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = S_OK;
    for (LONG i = lower; i <= upper && SUCCEEDED(hr); ++i) {
        VARIANT src, dst;
        VariantInit(&src);
        VariantInit(&dst);
        LONG index = i;
        // GetElement copies (BSTRs included), so src is ours to clear.
        hr = SafeArrayGetElement(in.parray, &index, &src.cVal);
        if (SUCCEEDED(hr)) {
            src.vt = fromBase;
            hr = VariantChangeType(&dst, &src, 0, toBase);
        }
        if (SUCCEEDED(hr)) {
            void* slot = toBase == VT_BSTR ? static_cast<void*>(dst.bstrVal) : static_cast<void*>(&dst.cVal);
            hr = SafeArrayPutElement(result, &index, slot);
        }
        VariantClear(&src);
        VariantClear(&dst);
    }
    if (FAILED(hr)) {
        SafeArrayDestroy(result);
        return hr;
    }
    out->vt = to;
    out->parray = result;
    return S_OK;
}

bool NumericValue(const VARIANT& v, double* out) {
    switch (v.vt) {
        case VT_I1:
            *out = v.cVal;
            return true;
        case VT_I2:
            *out = v.iVal;
            return true;
        case VT_I4:
            *out = v.lVal;
            return true;
        case VT_INT:
            *out = v.intVal;
            return true;
        case VT_I8:
            *out = double(v.llVal);
            return true;
        case VT_UI1:
            *out = v.bVal;
            return true;
        case VT_UI2:
            *out = v.uiVal;
            return true;
        case VT_UI4:
            *out = v.ulVal;
            return true;
        case VT_UINT:
            *out = v.uintVal;
            return true;
        case VT_UI8:
            *out = double(v.ullVal);
            return true;
        case VT_R4:
            *out = v.fltVal;
            return true;
        case VT_R8:
            *out = v.dblVal;
            return true;
        case VT_CY:
            *out = double(v.cyVal.int64) / 10000.0;
            return true;
        case VT_DATE:
            *out = v.date;
            return true;
        case VT_BOOL:
            *out = v.boolVal ? 1.0 : 0.0;
            return true;
        default:
            return false;
    }
}

}  // namespace nv::sim
