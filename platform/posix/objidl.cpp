#include "platform/posix/objidl.h"

#include "platform/posix/com.h"
#include "platform/posix/kernel.h"

extern "C" void ReleaseStgMedium(STGMEDIUM* pmedium) {
    if (pmedium == nullptr)
        return;
    if (pmedium->pUnkForRelease != nullptr) {
        pmedium->pUnkForRelease->Release();
    } else {
        switch (pmedium->tymed) {
            case TYMED_HGLOBAL:
                if (pmedium->hGlobal != nullptr)
                    GlobalFree(pmedium->hGlobal);
                break;
            case TYMED_FILE:
                CoTaskMemFree(pmedium->lpszFileName);
                break;
            case TYMED_ISTREAM:
            case TYMED_ISTORAGE:
                // Both are interface pointers in the same union slot.
                if (pmedium->pstm != nullptr)
                    reinterpret_cast<IUnknown*>(pmedium->pstm)->Release();
                break;
            default:
                break;
        }
    }
    pmedium->tymed = TYMED_NULL;
    pmedium->hGlobal = nullptr;
    pmedium->pUnkForRelease = nullptr;
}
