// The OPC server-enumeration service of the simulation module (class CLSID_OPCServerList,
// ProgID "OPC.ServerList.1"). It answers from the registry of the host it was created for: an
// object made by a plain CoCreateInstance serves this computer, one made by CoCreateInstanceEx
// for a named (simulated) host serves that host's registry.
#pragma once

#include "platform/win32.h"

namespace nv::sim {

// The class object (IClassFactory) of the service; DllGetClassObject hands it out for
// CLSID_OPCServerList. The class object is static: AddRef/Release on it do not count.
HRESULT CreateServerListClassObject(REFIID riid, void** ppv);

}  // namespace nv::sim
