// Building blocks shared by the OPC declaration headers: how an identifier is defined and how an
// interface's IID is attached to its type so that __uuidof works on every system.
#pragma once

#include "platform/win32.h"

#include <cstddef>

// OPC identifiers are inline constexpr variables on every system. The SDK's own DEFINE_GUID only
// declares them unless INITGUID is set in exactly one translation unit; inline variables need no
// such arrangement, so the same header links the same way on Windows and Linux.
#define NV_OPC_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

// NV_OPC_INTERFACE(IFoo, ...) declares `struct IFoo`, defines IID_IFoo and makes __uuidof(IFoo)
// yield it: through the stand-in's NvInterfaceId on Linux and MinGW's __mingw_uuidof on Windows.
// The GUID is written once, so the IID and the __uuidof value cannot drift apart.
#ifdef _WIN32
#define NV_OPC_UUID_DECL(type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    __CRT_UUID_DECL(type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)
#else
#define NV_OPC_UUID_DECL(type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) NV_DECLARE_UUID(type, IID_##type)
#endif

#define NV_OPC_INTERFACE(type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    struct type;                                                          \
    NV_OPC_GUID(IID_##type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8);   \
    NV_OPC_UUID_DECL(type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)

// Layout checks for structures that cross the process boundary. Each takes the 32-bit and the
// 64-bit Windows value, so a 32-bit build is held to the 32-bit layout as well.
#define NV_OPC_CHECK_SIZE(type, size32, size64) \
    static_assert(sizeof(type) == (sizeof(void*) == 8 ? (size64) : (size32)), "unexpected size of " #type)
#define NV_OPC_CHECK_OFFSET(type, field, off32, off64)                               \
    static_assert(offsetof(type, field) == (sizeof(void*) == 8 ? (off64) : (off32)), \
                  "unexpected offset of " #type "::" #field)
