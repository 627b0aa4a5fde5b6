#include "opc/NvOPCError.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "foundation/NvSysUtils.h"
#include "platform/NvWide.h"

namespace nv {

namespace {

struct ErrorText {
    HRESULT code;
    const char* name;
    const char* details;
};

// The codes a DA 1.0a/2.0 server is documented to return, with the words this program uses for
// them. Every other code is left to the system's message table.
constexpr ErrorText kOPCErrors[] = {
    {OPC_E_INVALIDHANDLE, "Invalid handle", "The value of the handle is invalid."},
    {OPC_E_BADTYPE, "Bad type",
     "The server cannot convert the data between the requested data type and the canonical data type."},
    {OPC_E_PUBLIC, "Cannot perform on a Public group",
     "The requested operation cannot be done on a public group."},
    {OPC_E_BADRIGHTS, "No Access Rights", "The Items AccessRights do not allow the operation."},
    {OPC_E_UNKNOWNITEMID, "Unknown ItemID", "The item is no longer available in the server address space."},
    {OPC_E_INVALIDITEMID, "Invalid ItemID", "The item definition doesn't conform to the server's syntax."},
    {OPC_E_INVALIDFILTER, "Invalid Filter", "The filter string was not valid."},
    {OPC_E_UNKNOWNPATH, "Unknown Path", "The item's access path is not known to the server."},
    {OPC_E_RANGE, "Value out of Range", "The value was out of range."},
    {OPC_E_DUPLICATENAME, "Duplicate name", "Duplicate name not allowed."},
    {OPC_E_INVALIDCONFIGFILE, "Invalid Configuration File",
     "The server's configuration file is an invalid format."},
    {OPC_E_NOTFOUND, "Object not found", "The server could not locate the requested object."},
    {OPC_E_INVALID_PID, "Invalid Property ID", "The server does not recognise the passed property ID."},
};

const ErrorText* FindOPCError(HRESULT code) {
    for (const ErrorText& entry : kOPCErrors)
        if (entry.code == code)
            return &entry;
    return nullptr;
}

// The system's text for the code without the line break and full stop it ends with.
std::string SystemErrorText(HRESULT code) {
    WCHAR buffer[256];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), 0, buffer, 256, nullptr);
    if (n == 0 || n > 256)
        return {};
    while (n > 0 && (buffer[n - 1] <= u' ' || buffer[n - 1] == u'.'))
        --n;
    return ToUtf8(WideStringView(buffer, n));
}

}  // namespace

std::string GetOPCErrorName(HRESULT code) {
    if (code == S_OK)
        return "OK";
    // A partly failed call answers S_FALSE; the system's text for the number 1 ("Incorrect
    // function") would tell the user something else entirely.
    if (code == S_FALSE)
        return "S_FALSE";
    if (const ErrorText* entry = FindOPCError(code))
        return entry->name;
    std::string text = SystemErrorText(code);
    if (text.empty())
        text = Format("OLE error %.8x", static_cast<DWORD>(code));
    return text;
}

std::string GetOPCErrorDetails(HRESULT code) {
    if (const ErrorText* entry = FindOPCError(code))
        return entry->details;
    return "No more info available.";
}

std::string GuidToRegistryString(REFGUID guid) {
    return Format("{%.8x-%.4x-%.4x-%.2x%.2x-%.2x%.2x%.2x%.2x%.2x%.2x}", static_cast<DWORD>(guid.Data1),
                  static_cast<WORD>(guid.Data2), static_cast<WORD>(guid.Data3), guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
}

std::string GetInterfaceName(REFIID iid) {
    const std::string id = GuidToRegistryString(iid);
    WideString path = ToWide("Interface\\" + id);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return id;
    std::string name;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && size >= sizeof(WCHAR)) {
        // One spare character: a registry string need not be stored with its terminator.
        std::vector<WCHAR> buffer(size / sizeof(WCHAR) + 1, 0);
        DWORD bytes = size;
        if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(buffer.data()), &bytes) ==
            ERROR_SUCCESS) {
            std::size_t length = std::min<std::size_t>(bytes / sizeof(WCHAR), buffer.size() - 1);
            std::size_t end = 0;
            while (end < length && buffer[end] != 0)
                ++end;
            name = ToUtf8(WideStringView(buffer.data(), end));
        }
    }
    RegCloseKey(key);
    return name.empty() ? id : name;
}

// ---- ENvOPCError -----------------------------------------------------------------------------

ENvOPCError::ENvOPCError(HRESULT errorCode, const WCHAR* reason, const std::string& method, const ::IID& iid)
    : ENvOPCError(errorCode, ToUtf8(reason), method, iid) {}

ENvOPCError::ENvOPCError(HRESULT errorCode, const std::string& reason, const std::string& method,
                         const ::IID& iid)
    : EOleSysError(std::string(), errorCode), reason_(reason), iid_(iid), method_(method) {
    SetMessage(Format("OPC Error in method %s.%s\rCode: $%x (%s)\rDetails: %s", GetInterfaceName(iid_),
                      method_, errorCode, GetReason(), GetDetails()));
}

std::string ENvOPCError::GetReason() const {
    return reason_.empty() ? GetOPCErrorName(ErrorCode()) : reason_;
}

std::string ENvOPCError::GetDetails() const {
    return GetOPCErrorDetails(ErrorCode());
}

// ---- Interface cast --------------------------------------------------------------------------

void QueryInterfaceOrRaise(void** intf, IUnknown* obj, REFIID iid) {
    if (intf == nullptr)
        throw EIntfCastError(Format("Cannot cast nil to %s.", GetInterfaceName(iid)));
    *intf = nullptr;
    if (obj == nullptr)
        throw EIntfCastError(Format("Cannot cast nil to %s.", GetInterfaceName(iid)));
    void* result = nullptr;
    if (FAILED(obj->QueryInterface(iid, &result)) || result == nullptr)
        throw EIntfCastError(Format("Interface %s not supported.", GetInterfaceName(iid)));
    *intf = result;
}

// ---- TNvOPCAlloc -----------------------------------------------------------------------------

void TNvOPCAlloc::AllocMem(void*& p, std::size_t size) {
    if (size == 0) {
        FreeMem(p);
        return;
    }
    void* block = CoTaskMemRealloc(p, size);
    // The old block stays valid when the allocator refuses; keeping it in p means the caller
    // can still free it.
    if (block == nullptr)
        throw EOutOfMemory(Format("CoTaskMemAlloc failed to allocate %d bytes.", size));
    p = block;
}

void TNvOPCAlloc::CAllocMem(void*& p, std::size_t size, std::size_t offset) {
    AllocMem(p, size);
    if (offset < size)
        std::memset(static_cast<char*>(p) + offset, 0, size - offset);
}

void TNvOPCAlloc::FreeMem(void*& p) {
    CoTaskMemFree(p);
    p = nullptr;
}

void TNvOPCAlloc::FreeItemResultList(OPCITEMRESULT*& p, std::size_t count) {
    if (p == nullptr)
        return;
    for (std::size_t i = 0; i < count; ++i) {
        void* blob = p[i].pBlob;
        FreeBlob(blob);
        p[i].pBlob = nullptr;
    }
    FreeMem(p);
}

}  // namespace nv
