// OPC result codes as text, the exceptions of the OPC client core, the checked interface cast,
// and the task memory in which OPC servers and clients hand arrays to each other.
#pragma once

#include <cstddef>
#include <string>

#include "foundation/NvExceptions.h"
#include "opc/include/opc.h"
#include "platform/win32.h"

namespace nv {

// The short name of a result code ("OK", "Unknown ItemID", the system's text, or
// "OLE error 0004000D").
std::string GetOPCErrorName(HRESULT code);
// The longer explanation of an OPC failure code, else "No more info available.".
std::string GetOPCErrorDetails(HRESULT code);
// The interface's registered name ("IOPCItemMgt"), or its identifier in registry form when the
// registry does not name it. Never raises.
std::string GetInterfaceName(REFIID iid);
// "{39C13A54-011E-11D0-9675-0020AFD8ADB3}".
std::string GuidToRegistryString(REFGUID guid);

// A plain error of the OPC client core: a message only.
class ENvOPCException : public Exception {
public:
    using Exception::Exception;
    std::string ClassName() const override { return "ENvOPCException"; }
};

// A failed call on an OPC server: which method of which interface, the result code, and the
// server's own description of the code when it gave one. The message reads
//   OPC Error in method <interface>.<method>\rCode: $<code> (<reason>)\rDetails: <details>
// with single carriage returns between the lines.
class ENvOPCError : public EOleSysError {
public:
    // reason: the server's text for the code, or null/empty for none. (The identifier type is
    // spelt ::IID because the accessor below takes that name inside the class.)
    ENvOPCError(HRESULT errorCode, const WCHAR* reason, const std::string& method, const ::IID& iid);
    ENvOPCError(HRESULT errorCode, const std::string& reason, const std::string& method, const ::IID& iid);

    const ::IID& IID() const { return iid_; }
    const std::string& Method() const { return method_; }
    // The server's text as given ("" when none).
    const std::string& ReasonText() const { return reason_; }
    // The server's text, or the short name of the code when the server gave none.
    std::string GetReason() const;
    std::string Reason() const { return GetReason(); }
    std::string GetDetails() const;
    std::string Details() const { return GetDetails(); }

    std::string ClassName() const override { return "ENvOPCError"; }

private:
    std::string reason_;
    ::IID iid_;
    std::string method_;
};

// Asks obj for the interface iid and stores it in *intf (with a reference the caller releases).
// Raises EIntfCastError "Cannot cast nil to <interface>." when obj is null and
// "Interface <interface> not supported." when obj refuses.
void QueryInterfaceOrRaise(void** intf, IUnknown* obj, REFIID iid);

template <class T>
void QueryInterfaceOrRaise(T*& intf, IUnknown* obj, REFIID iid) {
    // Cleared first, so a failed cast never leaves a stale pointer behind.
    intf = nullptr;
    void* raw = nullptr;
    QueryInterfaceOrRaise(&raw, obj, iid);
    intf = static_cast<T*>(raw);
}

template <class T>
void QueryInterfaceOrRaise(T*& intf, IUnknown* obj) {
    QueryInterfaceOrRaise(intf, obj, __uuidof(T));
}

// Task memory (CoTaskMem*) for the arrays exchanged with OPC servers. Every operation takes the
// pointer variable and leaves it pointing at the new block, or null after freeing. Allocation
// failures raise EOutOfMemory "CoTaskMemAlloc failed to allocate <n> bytes."; the old block is
// then still allocated and still in the variable.
class TNvOPCAlloc {
public:
    TNvOPCAlloc() = delete;

    // Resizes (keeping the contents) or allocates a null block; a size of 0 frees it.
    static void AllocMem(void*& p, std::size_t size);
    // AllocMem, then zero-fills the bytes from offset up to size (the new tail of a grown array
    // when offset is the old size).
    static void CAllocMem(void*& p, std::size_t size, std::size_t offset);
    static void FreeMem(void*& p);
    static void FreeBlob(void*& p) { FreeMem(p); }
    static void FreeResultList(void*& p) { FreeMem(p); }
    // The caller clears the item values first.
    static void FreeItemStateList(void*& p) { FreeMem(p); }
    // Frees each record's blob, then the list; a null list is left alone.
    static void FreeItemResultList(OPCITEMRESULT*& p, std::size_t count);

    template <class T>
    static void AllocMem(T*& p, std::size_t size) {
        void* raw = p;
        AllocMem(raw, size);
        p = static_cast<T*>(raw);
    }
    template <class T>
    static void CAllocMem(T*& p, std::size_t size, std::size_t offset) {
        void* raw = p;
        CAllocMem(raw, size, offset);
        p = static_cast<T*>(raw);
    }
    template <class T>
    static void FreeMem(T*& p) {
        void* raw = p;
        FreeMem(raw);
        p = nullptr;
    }
    template <class T>
    static void FreeBlob(T*& p) {
        FreeMem(p);
    }
    template <class T>
    static void FreeResultList(T*& p) {
        FreeMem(p);
    }
    template <class T>
    static void FreeItemStateList(T*& p) {
        FreeMem(p);
    }
};

}  // namespace nv
