// The interface and classes of the test COM module, shared by the module and the tests.
#pragma once

#include "platform/win32.h"

// {6F0E5A10-2B7C-4D3E-9A41-5C8D7E2F1A01}
DEFINE_GUID(IID_ITestCounter, 0x6F0E5A10, 0x2B7C, 0x4D3E, 0x9A, 0x41, 0x5C, 0x8D, 0x7E, 0x2F, 0x1A, 0x01);
// Registered with a ProgID; the module serves it.
DEFINE_GUID(CLSID_TestCounter, 0x6F0E5A10, 0x2B7C, 0x4D3E, 0x9A, 0x41, 0x5C, 0x8D, 0x7E, 0x2F, 0x1A, 0x02);
// Registered to the module, which refuses to serve it.
DEFINE_GUID(CLSID_TestRefused, 0x6F0E5A10, 0x2B7C, 0x4D3E, 0x9A, 0x41, 0x5C, 0x8D, 0x7E, 0x2F, 0x1A, 0x03);
// Registered to a library that exports no DllGetClassObject.
DEFINE_GUID(CLSID_TestNoEntry, 0x6F0E5A10, 0x2B7C, 0x4D3E, 0x9A, 0x41, 0x5C, 0x8D, 0x7E, 0x2F, 0x1A, 0x04);
// Registered to a file that does not exist.
DEFINE_GUID(CLSID_TestMissingModule, 0x6F0E5A10, 0x2B7C, 0x4D3E, 0x9A, 0x41, 0x5C, 0x8D, 0x7E, 0x2F, 0x1A,
            0x05);
// Never registered.
DEFINE_GUID(CLSID_TestUnregistered, 0x6F0E5A10, 0x2B7C, 0x4D3E, 0x9A, 0x41, 0x5C, 0x8D, 0x7E, 0x2F, 0x1A,
            0x06);

struct ITestCounter : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Increment(LONG* pNewValue) = 0;
    // The host the object was created for ("" when local), as task memory.
    virtual HRESULT STDMETHODCALLTYPE GetCreationHost(LPOLESTR* ppHost) = 0;
    // Number of objects of the module alive right now.
    virtual HRESULT STDMETHODCALLTYPE GetLiveObjects(LONG* pCount) = 0;
};
NV_DECLARE_UUID(ITestCounter, IID_ITestCounter);
