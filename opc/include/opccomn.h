// OPC Common: locale, error text and client name on the server object, and the shutdown callback.
// 1.0a-only servers offer neither interface. The server list is part of the same family and comes
// with this header.
#pragma once

#include "opc/include/opcdef.h"
#include "opc/include/opcenum.h"

NV_OPC_INTERFACE(IOPCShutdown, 0xF31DFDE1, 0x07B6, 0x11D2, 0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB);
NV_OPC_INTERFACE(IOPCCommon, 0xF31DFDE2, 0x07B6, 0x11D2, 0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB);

// Implemented by the client and advised on the server's connection point; a server that offers
// this connection point is a 2.0 server.
struct IOPCShutdown : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) = 0;
};

struct IOPCCommon : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) = 0;
    // Unlike IOPCServer::GetErrorString there is no locale argument: the one set by SetLocaleID applies.
    virtual HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) = 0;
};
