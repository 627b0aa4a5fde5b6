// Global and local memory. Both kinds come from one table of blocks, as on Windows, where they
// share one heap. A fixed block's handle is its data address; a moveable block's handle is the
// address of its bookkeeping record, which is never a data address, so the two cannot be
// confused. Every call looks its handle up first: a stale or foreign handle fails with
// ERROR_INVALID_HANDLE and never reaches memory.

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/win32.h"

namespace {

constexpr DWORD kErrorDiscarded = 157;
constexpr unsigned kMaxLockCount = GMEM_LOCKCOUNT;

struct Block {
    void* data = nullptr;  // nullptr: a moveable block of size 0 (discarded)
    SIZE_T size = 0;
    bool moveable = false;
    bool discardable = false;
    unsigned lockCount = 0;
};

std::mutex blocksMutex;
std::unordered_map<void*, Block*>& Handles() {
    static auto* handles = new std::unordered_map<void*, Block*>();
    return *handles;
}
std::unordered_map<void*, Block*>& DataToBlock() {
    static auto* data = new std::unordered_map<void*, Block*>();
    return *data;
}

Block* Find(HGLOBAL h) {
    auto it = Handles().find(h);
    return it == Handles().end() ? nullptr : it->second;
}

void* HandleOf(Block* b) {
    return b->moveable ? static_cast<void*>(b) : b->data;
}

HGLOBAL Allocate(UINT flags, SIZE_T bytes) {
    auto* b = new (std::nothrow) Block();
    if (b == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    b->moveable = (flags & GMEM_MOVEABLE) != 0;
    b->discardable = (flags & GMEM_DISCARDABLE) != 0;
    b->size = bytes;
    // A fixed block of size 0 still needs a unique address to be its handle.
    if (bytes > 0 || !b->moveable) {
        b->data = (flags & GMEM_ZEROINIT) ? std::calloc(bytes > 0 ? bytes : 1, 1)
                                          : std::malloc(bytes > 0 ? bytes : 1);
        if (b->data == nullptr) {
            delete b;
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    std::lock_guard<std::mutex> lock(blocksMutex);
    Handles()[HandleOf(b)] = b;
    if (b->data != nullptr)
        DataToBlock()[b->data] = b;
    return HandleOf(b);
}

HGLOBAL Reallocate(HGLOBAL h, SIZE_T bytes, UINT flags) {
    std::lock_guard<std::mutex> lock(blocksMutex);
    Block* b = Find(h);
    if (b == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (flags & GMEM_MODIFY) {
        b->discardable = (flags & GMEM_DISCARDABLE) != 0;
        return h;
    }
    SIZE_T old = b->size;
    if (bytes <= old && b->data != nullptr && (bytes > 0 || !b->moveable)) {
        b->size = bytes;  // shrinking stays in place
        return h;
    }
    if (b->moveable && bytes == 0) {
        if (b->lockCount > 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        DataToBlock().erase(b->data);
        std::free(b->data);
        b->data = nullptr;
        b->size = 0;
        return h;
    }
    // Growing may move the data. A fixed block moves only when the caller says so (and gets the
    // new address back as the handle); a locked moveable block never does, since whoever locked
    // it still holds the old address.
    bool mayMove = b->moveable ? b->lockCount == 0 : (flags & GMEM_MOVEABLE) != 0;
    if (!mayMove) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void* data = std::realloc(b->data, bytes);
    if (data == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (b->data != nullptr)
        DataToBlock().erase(b->data);
    if (!b->moveable)
        Handles().erase(h);
    SIZE_T keep = b->data != nullptr ? old : 0;
    if ((flags & GMEM_ZEROINIT) && bytes > keep)
        std::memset(static_cast<char*>(data) + keep, 0, bytes - keep);
    b->data = data;
    b->size = bytes;
    DataToBlock()[data] = b;
    if (!b->moveable)
        Handles()[data] = b;
    return HandleOf(b);
}

LPVOID Lock(HGLOBAL h) {
    std::lock_guard<std::mutex> lock(blocksMutex);
    Block* b = Find(h);
    if (b == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!b->moveable)
        return b->data;
    if (b->data == nullptr) {
        SetLastError(kErrorDiscarded);
        return nullptr;
    }
    if (b->lockCount < kMaxLockCount)
        ++b->lockCount;
    return b->data;
}

BOOL Unlock(HGLOBAL h) {
    std::lock_guard<std::mutex> lock(blocksMutex);
    Block* b = Find(h);
    if (b == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!b->moveable)
        return TRUE;
    if (b->lockCount == 0) {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    if (--b->lockCount > 0)
        return TRUE;
    // The last unlock reports FALSE too; NO_ERROR tells it apart from a failure.
    SetLastError(NO_ERROR);
    return FALSE;
}

SIZE_T Size(HGLOBAL h) {
    std::lock_guard<std::mutex> lock(blocksMutex);
    Block* b = Find(h);
    if (b == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return b->size;
}

HGLOBAL Free(HGLOBAL h) {
    if (h == nullptr)
        return nullptr;
    Block* b;
    {
        std::lock_guard<std::mutex> lock(blocksMutex);
        b = Find(h);
        if (b == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return h;
        }
        Handles().erase(h);
        if (b->data != nullptr)
            DataToBlock().erase(b->data);
    }
    std::free(b->data);
    delete b;
    return nullptr;
}

}  // namespace

extern "C" HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    return Allocate(uFlags, dwBytes);
}
extern "C" HGLOBAL GlobalReAlloc(HGLOBAL hMem, SIZE_T dwBytes, UINT uFlags) {
    return Reallocate(hMem, dwBytes, uFlags);
}
extern "C" LPVOID GlobalLock(HGLOBAL hMem) {
    return Lock(hMem);
}
extern "C" BOOL GlobalUnlock(HGLOBAL hMem) {
    return Unlock(hMem);
}
extern "C" SIZE_T GlobalSize(HGLOBAL hMem) {
    return Size(hMem);
}
extern "C" HGLOBAL GlobalFree(HGLOBAL hMem) {
    return Free(hMem);
}

extern "C" UINT GlobalFlags(HGLOBAL hMem) {
    std::lock_guard<std::mutex> lock(blocksMutex);
    Block* b = Find(hMem);
    if (b == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return GMEM_INVALID_HANDLE;
    }
    UINT flags = b->lockCount;
    if (b->moveable && b->data == nullptr)
        flags |= GMEM_DISCARDED;
    if (b->discardable)
        flags |= GMEM_DISCARDABLE;
    return flags;
}

extern "C" HGLOBAL GlobalHandle(LPCVOID pMem) {
    std::lock_guard<std::mutex> lock(blocksMutex);
    void* p = const_cast<void*>(pMem);
    auto it = DataToBlock().find(p);
    if (it != DataToBlock().end())
        return HandleOf(it->second);
    if (Block* b = Find(p))
        return HandleOf(b);
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

extern "C" HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    return Allocate(uFlags, uBytes);
}
extern "C" HLOCAL LocalReAlloc(HLOCAL hMem, SIZE_T uBytes, UINT uFlags) {
    return Reallocate(hMem, uBytes, uFlags);
}
extern "C" LPVOID LocalLock(HLOCAL hMem) {
    return Lock(hMem);
}
extern "C" BOOL LocalUnlock(HLOCAL hMem) {
    return Unlock(hMem);
}
extern "C" SIZE_T LocalSize(HLOCAL hMem) {
    return Size(hMem);
}
extern "C" HLOCAL LocalFree(HLOCAL hMem) {
    return Free(hMem);
}
