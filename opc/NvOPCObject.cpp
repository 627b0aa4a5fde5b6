#include "opc/NvOPCObject.h"

#include "foundation/NvExceptions.h"
#include "foundation/NvHostNames.h"
#include "foundation/NvSysUtils.h"
#include "opc/NvOPCError.h"
#include "platform/NvWide.h"

namespace nv {

IUnknown* CreateOPCObject(REFCLSID classID, const std::string& host) {
    IUnknown* object = nullptr;
    HRESULT hr;
    if (IsLocalHost(host)) {
        hr = CoCreateInstance(classID, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                              reinterpret_cast<void**>(&object));
    } else {
        WideString name = ToWide(host);
        COSERVERINFO info{};
        info.pwszName = name.data();
        MULTI_QI query{&IID_IUnknown, nullptr, S_OK};
        bool thisComputer = false;
        try {
            thisComputer = SameText(host, LocalComputerName());
        } catch (const Exception&) {
            // Without this computer's name every named host is remote.
        }
        DWORD context = thisComputer ? (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
                                     : CLSCTX_REMOTE_SERVER;
        hr = CoCreateInstanceEx(classID, nullptr, context, &info, 1, &query);
        if (SUCCEEDED(hr))
            hr = query.hr;
        object = SUCCEEDED(hr) ? query.pItf : nullptr;
    }
    if (FAILED(hr) || object == nullptr) {
        if (object != nullptr)
            object->Release();
        if (SUCCEEDED(hr))
            hr = E_NOINTERFACE;
        throw EOleSysError(GetOPCErrorName(hr), hr);
    }
    return object;
}

}  // namespace nv
