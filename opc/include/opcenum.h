// The OPC server list: the enumeration service object that reports the OPC servers registered on
// a host by category, local or remote.
#pragma once

#include "opc/include/opcdef.h"

struct IEnumGUID;

// The class of the service object (ProgID "OPC.ServerList.1"). Its last group ends in ...D51; the
// IOPCServerList interface's in ...D50.
NV_OPC_GUID(CLSID_OPCServerList, 0x13486D51, 0x4821, 0x11D2, 0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00);

NV_OPC_INTERFACE(IOPCServerList, 0x13486D50, 0x4821, 0x11D2, 0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00);
NV_OPC_INTERFACE(IOPCEnumGUID, 0x55C382C8, 0x21C7, 0x4E88, 0x96, 0xC1, 0xBE, 0xCF, 0xB1, 0xE3, 0xF4, 0x83);
NV_OPC_INTERFACE(IOPCServerList2, 0x9DD0B56C, 0xAD9E, 0x43EE, 0x83, 0x05, 0x48, 0x7F, 0x31, 0x88, 0xBF, 0x7A);

// A count of 0 for either category list means "any".
struct IOPCServerList : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented, CATID* rgcatidImpl,
                                                              ULONG cRequired, CATID* rgcatidReq,
                                                              IEnumGUID** ppenumClsid) = 0;
    // Both strings are the caller's to free.
    virtual HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID,
                                                      LPOLESTR* ppszUserType) = 0;
    virtual HRESULT STDMETHODCALLTYPE CLSIDFromProgID(LPCOLESTR szProgId, LPCLSID clsid) = 0;
};

// Same shape as IEnumGUID, which gives trouble on some configurations. The caller supplies the
// array.
struct IOPCEnumGUID : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, GUID* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IOPCEnumGUID** ppenum) = 0;
};

// The newer service object also reports the version-independent ProgID (a copy of the ProgID when
// the server registered none) and enumerates through IOPCEnumGUID.
struct IOPCServerList2 : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented, CATID* rgcatidImpl,
                                                              ULONG cRequired, CATID* rgcatidReq,
                                                              IOPCEnumGUID** ppenumClsid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID,
                                                      LPOLESTR* ppszUserType, LPOLESTR* ppszVerIndProgID) = 0;
    virtual HRESULT STDMETHODCALLTYPE CLSIDFromProgID(LPCOLESTR szProgId, LPCLSID clsid) = 0;
};
