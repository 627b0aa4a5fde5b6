// Binary layout of the Windows structures that cross a module boundary (server modules, task
// memory, data streams), with the Windows x64 values. Checked on every system: on Windows against
// the SDK, which makes the numbers trustworthy; elsewhere against our stand-in, which must match
// them for a module built on one side to work with the other's data.
#pragma once

#include <cstddef>

#if defined(_WIN64) || !defined(_WIN32)

static_assert(sizeof(BYTE) == 1 && sizeof(WORD) == 2 && sizeof(DWORD) == 4 && sizeof(LONG) == 4 &&
              sizeof(ULONG) == 4 && sizeof(HRESULT) == 4 && sizeof(BOOL) == 4 && sizeof(LCID) == 4);
static_assert(sizeof(WCHAR) == 2 && sizeof(OLECHAR) == 2 && sizeof(VARTYPE) == 2 && sizeof(DATE) == 8);
static_assert(sizeof(LARGE_INTEGER) == 8 && sizeof(ULARGE_INTEGER) == 8);

static_assert(sizeof(GUID) == 16 && alignof(GUID) == 4 && offsetof(GUID, Data2) == 4 &&
              offsetof(GUID, Data3) == 6 && offsetof(GUID, Data4) == 8);
static_assert(sizeof(FILETIME) == 8 && alignof(FILETIME) == 4 && offsetof(FILETIME, dwHighDateTime) == 4);
static_assert(sizeof(SYSTEMTIME) == 16 && offsetof(SYSTEMTIME, wDayOfWeek) == 4 &&
              offsetof(SYSTEMTIME, wMilliseconds) == 14);
static_assert(sizeof(CY) == 8 && alignof(CY) == 8);
static_assert(sizeof(DECIMAL) == 16 && offsetof(DECIMAL, scale) == 2 && offsetof(DECIMAL, sign) == 3 &&
              offsetof(DECIMAL, Hi32) == 4 && offsetof(DECIMAL, Lo64) == 8);

// A DECIMAL overlays the whole VARIANT, its first word being the VARIANT's vt.
static_assert(sizeof(VARIANT) == 24 && alignof(VARIANT) == 8 && offsetof(VARIANT, vt) == 0 &&
              offsetof(VARIANT, lVal) == 8 && offsetof(VARIANT, cyVal) == 8 &&
              offsetof(VARIANT, bstrVal) == 8 && offsetof(VARIANT, decVal) == 0);
static_assert(sizeof(SAFEARRAYBOUND) == 8 && offsetof(SAFEARRAYBOUND, lLbound) == 4);
static_assert(sizeof(SAFEARRAY) == 32 && offsetof(SAFEARRAY, fFeatures) == 2 &&
              offsetof(SAFEARRAY, cbElements) == 4 && offsetof(SAFEARRAY, cLocks) == 8 &&
              offsetof(SAFEARRAY, pvData) == 16 && offsetof(SAFEARRAY, rgsabound) == 24);

static_assert(sizeof(FORMATETC) == 32 && offsetof(FORMATETC, ptd) == 8 &&
              offsetof(FORMATETC, dwAspect) == 16 && offsetof(FORMATETC, lindex) == 20 &&
              offsetof(FORMATETC, tymed) == 24);
static_assert(sizeof(STGMEDIUM) == 24 && offsetof(STGMEDIUM, hGlobal) == 8 &&
              offsetof(STGMEDIUM, pUnkForRelease) == 16);
static_assert(sizeof(STATDATA) == 56);
static_assert(sizeof(COSERVERINFO) == 32 && offsetof(COSERVERINFO, pwszName) == 8 &&
              offsetof(COSERVERINFO, pAuthInfo) == 16 && offsetof(COSERVERINFO, dwReserved2) == 24);
static_assert(sizeof(MULTI_QI) == 24 && offsetof(MULTI_QI, pItf) == 8 && offsetof(MULTI_QI, hr) == 16);

#endif
