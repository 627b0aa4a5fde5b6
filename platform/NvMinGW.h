// MinGW's SDK headers declare some read-only parameters without the const that the Windows SDK
// (and our stand-in) give them. These overloads accept const arguments as the Windows SDK does;
// the functions never write through those parameters.
#pragma once

#ifdef __MINGW32__

inline HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    return ::VariantCopy(pvargDest, const_cast<VARIANTARG*>(pvargSrc));
}
inline HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
    return ::VariantCopyInd(pvarDest, const_cast<VARIANTARG*>(pvargSrc));
}
inline HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                                 VARTYPE vt) {
    return ::VariantChangeType(pvargDest, const_cast<VARIANTARG*>(pvarSrc), wFlags, vt);
}
inline HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags,
                                   VARTYPE vt) {
    return ::VariantChangeTypeEx(pvargDest, const_cast<VARIANTARG*>(pvarSrc), lcid, wFlags, vt);
}
inline HRESULT VarI4FromDec(const DECIMAL* pdecIn, LONG* plOut) {
    return ::VarI4FromDec(const_cast<DECIMAL*>(pdecIn), plOut);
}
inline HRESULT VarI8FromDec(const DECIMAL* pdecIn, LONG64* pi64Out) {
    return ::VarI8FromDec(const_cast<DECIMAL*>(pdecIn), pi64Out);
}
inline HRESULT VarUI8FromDec(const DECIMAL* pdecIn, ULONG64* pi64Out) {
    return ::VarUI8FromDec(const_cast<DECIMAL*>(pdecIn), pi64Out);
}
inline HRESULT VarR8FromDec(const DECIMAL* pdecIn, DOUBLE* pdblOut) {
    return ::VarR8FromDec(const_cast<DECIMAL*>(pdecIn), pdblOut);
}
inline HRESULT VarCyFromDec(const DECIMAL* pdecIn, CY* pcyOut) {
    return ::VarCyFromDec(const_cast<DECIMAL*>(pdecIn), pcyOut);
}
inline HRESULT VarBstrFromDec(const DECIMAL* pdecIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut) {
    return ::VarBstrFromDec(const_cast<DECIMAL*>(pdecIn), lcid, dwFlags, pbstrOut);
}

#endif
