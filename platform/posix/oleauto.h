// OLE automation for the stand-in: BSTR, VARIANT, SAFEARRAY and the value conversions between
// the automation types, with the Windows names, signatures, memory layout and result codes.
//
// Memory: BSTRs and safe-array data come from the C heap; they are freed only through
// SysFreeString / SafeArrayDestroy / VariantClear, never with free() or CoTaskMemFree.
#pragma once

#include "platform/posix/winerror.h"
#include "platform/posix/wintypes.h"

// VariantChangeType(Ex) flags.
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_CALENDAR_HIJRI 0x08
#define VARIANT_LOCALBOOL 0x10
#define VARIANT_CALENDAR_THAI 0x20
#define VARIANT_CALENDAR_GREGORIAN 0x40
#define VARIANT_USE_NLS 0x80

// Flags of the Var*From* functions (dwFlags).
#define VAR_TIMEVALUEONLY ((DWORD)0x00000001)
#define VAR_DATEVALUEONLY ((DWORD)0x00000002)
#define VAR_VALIDDATE ((DWORD)0x00000004)
#define VAR_CALENDAR_HIJRI ((DWORD)0x00000008)
#define VAR_LOCALBOOL ((DWORD)0x00000010)
#define VAR_FORMAT_NOSUBSTITUTE ((DWORD)0x00000020)
#define VAR_FOURDIGITYEARS ((DWORD)0x00000040)
#define VAR_CALENDAR_THAI ((DWORD)0x00000080)
#define VAR_CALENDAR_GREGORIAN ((DWORD)0x00000100)
#define LOCALE_USE_NLS 0x10000000

// Limits of the DATE type: 0100-01-01 and 9999-12-31 (whole days).
#define NV_DATE_MIN (-657434.0)
#define NV_DATE_MAX 2958465.0

extern "C" {

// ---- BSTR ------------------------------------------------------------------------------------
BSTR SysAllocString(const OLECHAR* psz);
// A null source gives a zero-filled string of that length.
BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
// Copies len bytes (not characters); a null source gives len zero bytes.
BSTR SysAllocStringByteLen(LPCSTR psz, UINT len);
INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
// psz may point into *pbstr itself; characters asked for beyond its end are zero.
INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len);
// A string already freed, or a pointer these functions did not hand out, is ignored.
void SysFreeString(BSTR bstrString);
UINT SysStringLen(BSTR pbstr);
UINT SysStringByteLen(BSTR bstr);

// ---- VARIANT ---------------------------------------------------------------------------------
void VariantInit(VARIANTARG* pvarg);
HRESULT VariantClear(VARIANTARG* pvarg);
HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags,
                            VARTYPE vt);

// ---- Time ------------------------------------------------------------------------------------
// Both work in whole seconds: milliseconds are ignored going in and rounded away coming out.
INT SystemTimeToVariantTime(LPSYSTEMTIME lpSystemTime, DOUBLE* pvtime);
INT VariantTimeToSystemTime(DOUBLE vtime, LPSYSTEMTIME lpSystemTime);

// ---- Conversions between the scalar types ----------------------------------------------------
// Integers
HRESULT VarI1FromR8(DOUBLE dblIn, CHAR* pcOut);
HRESULT VarUI1FromR8(DOUBLE dblIn, BYTE* pbOut);
HRESULT VarI2FromR8(DOUBLE dblIn, SHORT* psOut);
HRESULT VarUI2FromR8(DOUBLE dblIn, USHORT* puiOut);
HRESULT VarI4FromR8(DOUBLE dblIn, LONG* plOut);
HRESULT VarUI4FromR8(DOUBLE dblIn, ULONG* pulOut);
HRESULT VarI8FromR8(DOUBLE dblIn, LONGLONG* pi64Out);
HRESULT VarUI8FromR8(DOUBLE dblIn, ULONGLONG* pi64Out);
HRESULT VarI4FromR4(FLOAT fltIn, LONG* plOut);
HRESULT VarI4FromCy(CY cyIn, LONG* plOut);
HRESULT VarI4FromDate(DATE dateIn, LONG* plOut);
HRESULT VarI4FromDec(const DECIMAL* pdecIn, LONG* plOut);
HRESULT VarI4FromI8(LONGLONG i64In, LONG* plOut);
HRESULT VarI4FromUI4(ULONG ulIn, LONG* plOut);
HRESULT VarI8FromCy(CY cyIn, LONGLONG* pi64Out);
HRESULT VarI8FromDec(const DECIMAL* pdecIn, LONGLONG* pi64Out);
HRESULT VarUI8FromDec(const DECIMAL* pdecIn, ULONGLONG* pi64Out);
HRESULT VarUI1FromBool(VARIANT_BOOL boolIn, BYTE* pbOut);
HRESULT VarUI2FromBool(VARIANT_BOOL boolIn, USHORT* puiOut);
HRESULT VarUI4FromBool(VARIANT_BOOL boolIn, ULONG* pulOut);
HRESULT VarUI8FromBool(VARIANT_BOOL boolIn, ULONGLONG* pi64Out);
HRESULT VarI1FromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, CHAR* pcOut);
HRESULT VarUI1FromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, BYTE* pbOut);
HRESULT VarI2FromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, SHORT* psOut);
HRESULT VarUI2FromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, USHORT* puiOut);
HRESULT VarI4FromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, LONG* plOut);
HRESULT VarUI4FromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, ULONG* pulOut);
HRESULT VarI8FromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, LONGLONG* pi64Out);
HRESULT VarUI8FromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, ULONGLONG* pi64Out);

// Floating point
HRESULT VarR4FromR8(DOUBLE dblIn, FLOAT* pfltOut);
HRESULT VarR4FromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, FLOAT* pfltOut);
HRESULT VarR8FromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, DOUBLE* pdblOut);
HRESULT VarR8FromCy(CY cyIn, DOUBLE* pdblOut);
HRESULT VarR8FromDec(const DECIMAL* pdecIn, DOUBLE* pdblOut);

// Boolean
HRESULT VarBoolFromR8(DOUBLE dblIn, VARIANT_BOOL* pboolOut);
HRESULT VarBoolFromI4(LONG lIn, VARIANT_BOOL* pboolOut);
HRESULT VarBoolFromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, VARIANT_BOOL* pboolOut);

// Currency
HRESULT VarCyFromR8(DOUBLE dblIn, CY* pcyOut);
HRESULT VarCyFromI4(LONG lIn, CY* pcyOut);
HRESULT VarCyFromI8(LONGLONG i64In, CY* pcyOut);
HRESULT VarCyFromDec(const DECIMAL* pdecIn, CY* pcyOut);
HRESULT VarCyFromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, CY* pcyOut);

// Date
HRESULT VarDateFromR8(DOUBLE dblIn, DATE* pdateOut);
HRESULT VarDateFromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, DATE* pdateOut);

// Decimal
HRESULT VarDecFromR8(DOUBLE dblIn, DECIMAL* pdecOut);
HRESULT VarDecFromI8(LONGLONG i64In, DECIMAL* pdecOut);
HRESULT VarDecFromUI8(ULONGLONG ui64In, DECIMAL* pdecOut);
HRESULT VarDecFromCy(CY cyIn, DECIMAL* pdecOut);
HRESULT VarDecFromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, DECIMAL* pdecOut);

// Text. The result is a new BSTR the caller frees.
HRESULT VarBstrFromI4(LONG lIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);
HRESULT VarBstrFromUI4(ULONG ulIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);
HRESULT VarBstrFromI8(LONGLONG i64In, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);
HRESULT VarBstrFromUI8(ULONGLONG ui64In, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);
HRESULT VarBstrFromR4(FLOAT fltIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);
HRESULT VarBstrFromR8(DOUBLE dblIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);
HRESULT VarBstrFromCy(CY cyIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);
HRESULT VarBstrFromDate(DATE dateIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);
HRESULT VarBstrFromBool(VARIANT_BOOL boolIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);
HRESULT VarBstrFromDec(const DECIMAL* pdecIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);

// ---- SAFEARRAY -------------------------------------------------------------------------------
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
HRESULT SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY** ppsaOut);
HRESULT SafeArrayAllocDescriptorEx(VARTYPE vt, UINT cDims, SAFEARRAY** ppsaOut);
HRESULT SafeArrayAllocData(SAFEARRAY* psa);
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
HRESULT SafeArrayDestroyData(SAFEARRAY* psa);
HRESULT SafeArrayDestroyDescriptor(SAFEARRAY* psa);
UINT SafeArrayGetDim(SAFEARRAY* psa);
UINT SafeArrayGetElemsize(SAFEARRAY* psa);
// nDim counts from 1 for the leftmost dimension.
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
// rgIndices[0] is the index in the leftmost dimension, which varies fastest in memory and is
// stored last in rgsabound (SafeArrayCreate reverses the caller's bounds).
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData);
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
HRESULT SafeArrayCopyData(SAFEARRAY* psaSource, SAFEARRAY* psaTarget);
// Changes the element count of the rightmost dimension (rgsabound[0]).
HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew);

}  // extern "C"
