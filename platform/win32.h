// The one header through which the code reaches the Windows API.
// On Windows it is the SDK; elsewhere it is our stand-in with the same names, semantics and
// the Windows x64 binary layout.
#pragma once

// The order of the includes matters (windows.h first; base types before the rest): keep the
// formatter from sorting them.
// clang-format off
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <comcat.h>
#include <ocidl.h>
#include <oleauto.h>
#include <olectl.h>
#include <lm.h>
#include <winver.h>

// The few names the stand-in adds, so that code written against it builds here unchanged.
// A GUID declared with DEFINE_GUID is an inline variable on both systems: every use is a
// definition and no translation unit needs INITGUID. (The SDK headers above keep their own
// declarations; this applies to what is declared after them.)
#undef DEFINE_GUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#ifndef DECLSPEC_EXPORT
#define DECLSPEC_EXPORT __declspec(dllexport)
#endif
#ifdef __MINGW32__
// __uuidof(type) through MinGW's template, from an IID declared elsewhere.
#define NV_DECLARE_UUID(type, iid)               \
    extern "C++" {                               \
    template <>                                  \
    inline const GUID& __mingw_uuidof<type>() {  \
        return iid;                              \
    }                                            \
    template <>                                  \
    inline const GUID& __mingw_uuidof<type*>() { \
        return __mingw_uuidof<type>();           \
    }                                            \
    }
#endif
#include "platform/NvMinGW.h"
#else
#include "platform/posix/wintypes.h"
#include "platform/posix/winerror.h"
#include "platform/posix/unknwn.h"
#include "platform/posix/com.h"
#include "platform/posix/objidl.h"
#include "platform/posix/oleauto.h"
#include "platform/posix/registry.h"
#include "platform/posix/kernel.h"
#include "platform/posix/locale.h"
#include "platform/posix/netapi.h"
#endif
// clang-format on

#include "platform/NvLayoutChecks.h"
