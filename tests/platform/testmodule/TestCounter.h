// The interface and classes of the test COM module, shared by the module and the tests.
#pragma once

#include "platform/win32.h"

// Inline variables rather than DEFINE_GUID: the SDK's DEFINE_GUID only declares unless
// INITGUID is set in exactly one translation unit, and these are used from several.
#define NV_TEST_GUID(name, last)   \
    inline constexpr GUID name = { \
        0x6F0E5A10, 0x2B7C, 0x4D3E, {0x9A, 0x41, 0x5C, 0x8D, 0x7E, 0x2F, 0x1A, last}}

NV_TEST_GUID(IID_ITestCounter, 0x01);
// Registered with a ProgID; the module serves it.
NV_TEST_GUID(CLSID_TestCounter, 0x02);
// Registered to the module, which refuses to serve it.
NV_TEST_GUID(CLSID_TestRefused, 0x03);
// Registered to a library that exports no DllGetClassObject.
NV_TEST_GUID(CLSID_TestNoEntry, 0x04);
// Registered to a file that does not exist.
NV_TEST_GUID(CLSID_TestMissingModule, 0x05);
// Never registered.
NV_TEST_GUID(CLSID_TestUnregistered, 0x06);

struct ITestCounter : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Increment(LONG* pNewValue) = 0;
    // The simulated host the object was created for ("" when local), as task memory.
    virtual HRESULT STDMETHODCALLTYPE GetCreationHost(LPOLESTR* ppHost) = 0;
    // Number of objects of the module alive right now.
    virtual HRESULT STDMETHODCALLTYPE GetLiveObjects(LONG* pCount) = 0;
};
#ifndef _WIN32
NV_DECLARE_UUID(ITestCounter, IID_ITestCounter);
#endif
