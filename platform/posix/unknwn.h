// IUnknown and IClassFactory with the Windows vtable layout: pure virtual methods in slot
// order, no virtual destructor (it would add vtable slots under the Itanium ABI).
#pragma once

#include "platform/posix/wintypes.h"

#include <type_traits>

DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// __uuidof for the stand-in: each interface declares its IID through NV_DECLARE_UUID so that
// templates such as QueryInterfaceOrRaise can find it, as MSVC's __uuidof and MinGW's
// __CRT_UUID_DECL do on Windows.
template <typename T>
struct NvInterfaceId;
#define NV_DECLARE_UUID(type, iid)                   \
    template <>                                      \
    struct NvInterfaceId<type> {                     \
        static const IID& get() { return iid; }      \
    }
#define __uuidof(type) (NvInterfaceId<std::remove_cv_t<std::remove_pointer_t<std::remove_cvref_t<type>>>>::get())

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
using LPUNKNOWN = IUnknown*;
NV_DECLARE_UUID(IUnknown, IID_IUnknown);

struct IClassFactory : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};
using LPCLASSFACTORY = IClassFactory*;
NV_DECLARE_UUID(IClassFactory, IID_IClassFactory);
