// SAFEARRAY with the Windows descriptor layout.
//
// The descriptor is preceded by 16 hidden bytes: the element VARTYPE sits in the 4 bytes just
// before it (FADF_HAVEVARTYPE), or the interface IID fills all 16 (FADF_HAVEIID). The caller's
// bounds are stored in reverse order, so rgsabound[cDims - 1] describes the leftmost dimension,
// whose index varies fastest in memory.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/posix/oleauto.h"
#include "platform/posix/unknwn.h"
#include "platform/posix/variant_internal.h"

namespace {

constexpr size_t kHiddenBytes = 16;
constexpr USHORT kFixedStorage = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED;
// Two internal flags of Windows (not in its headers). kCreatedAsVector marks arrays made by
// SafeArrayCreateVector; copies do not carry it. Windows keeps a vector's data in the
// descriptor's own block and, when the data is destroyed, keeps the block and marks it
// kDataDeleted; here the data has a block of its own, which is freed at once, and only the mark
// is kept.
constexpr USHORT kCreatedAsVector = 0x2000;
constexpr USHORT kDataDeleted = 0x1000;

size_t DescriptorBytes(UINT cDims) {
    return sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
}

BYTE* HiddenOf(SAFEARRAY* psa) {
    return reinterpret_cast<BYTE*>(psa) - kHiddenBytes;
}

void SetHiddenVartype(SAFEARRAY* psa, VARTYPE vt) {
    DWORD value = vt;
    std::memcpy(reinterpret_cast<BYTE*>(psa) - sizeof(DWORD), &value, sizeof value);
}

DWORD HiddenVartype(SAFEARRAY* psa) {
    DWORD value;
    std::memcpy(&value, reinterpret_cast<BYTE*>(psa) - sizeof(DWORD), sizeof value);
    return value;
}

// 0 for the types that have no fixed element size: a descriptor may still be made for them,
// but not an array with data.
ULONG ElementSize(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_BOOL:
        case VT_I2:
        case VT_UI2:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
            return 4;
        case VT_R8:
        case VT_I8:
        case VT_UI8:
        case VT_CY:
        case VT_DATE:
            return 8;
        case VT_INT_PTR:
        case VT_UINT_PTR:
            return sizeof(void*);
        case VT_DECIMAL:
            return sizeof(DECIMAL);
        case VT_VARIANT:
            return sizeof(VARIANT);
        case VT_BSTR:
        case VT_UNKNOWN:
        case VT_DISPATCH:
            return sizeof(void*);
        case VT_RECORD:
            // A placeholder, as in Windows: a record array takes its element size from the
            // record's description, which SafeArrayCreate (without the Ex) never has.
            return 32;
        default:
            return 0;
    }
}

void SetFeatures(SAFEARRAY* psa, VARTYPE vt) {
    if (vt == VT_RECORD) {
        psa->fFeatures |= FADF_RECORD;
    } else if (vt == VT_DISPATCH) {
        psa->fFeatures |= FADF_HAVEIID;
        std::memcpy(HiddenOf(psa), &nv::oleaut::kIID_IDispatch, sizeof(GUID));
    } else if (vt == VT_UNKNOWN) {
        psa->fFeatures |= FADF_HAVEIID;
        std::memcpy(HiddenOf(psa), &IID_IUnknown, sizeof(GUID));
    } else {
        psa->fFeatures |= FADF_HAVEVARTYPE;
        SetHiddenVartype(psa, vt);
    }
}

void SetKindFlag(SAFEARRAY* psa, VARTYPE vt) {
    switch (vt) {
        case VT_BSTR:
            psa->fFeatures |= FADF_BSTR;
            break;
        case VT_UNKNOWN:
            psa->fFeatures |= FADF_UNKNOWN;
            break;
        case VT_DISPATCH:
            psa->fFeatures |= FADF_DISPATCH;
            break;
        case VT_VARIANT:
            psa->fFeatures |= FADF_VARIANT;
            break;
        default:
            break;
    }
}

// Number of cells, or false when the product does not fit the address space.
bool CellCount(const SAFEARRAY* psa, size_t& cells) {
    cells = 1;
    for (USHORT d = 0; d < psa->cDims; ++d) {
        const size_t n = psa->rgsabound[d].cElements;
        if (n != 0 && cells > std::numeric_limits<size_t>::max() / n)
            return false;
        cells *= n;
    }
    return true;
}

bool DataBytes(const SAFEARRAY* psa, size_t& bytes) {
    size_t cells;
    if (!CellCount(psa, cells))
        return false;
    if (psa->cbElements != 0 && cells > std::numeric_limits<size_t>::max() / psa->cbElements)
        return false;
    bytes = cells * psa->cbElements;
    return true;
}

// Offset in cells of an element, or false when an index is outside its dimension.
bool CellOffset(const SAFEARRAY* psa, const LONG* rgIndices, size_t& cell) {
    cell = 0;
    size_t stride = 1;
    for (USHORT d = 0; d < psa->cDims; ++d) {
        const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - 1 - d];
        const long long offset = static_cast<long long>(rgIndices[d]) - bound.lLbound;
        if (offset < 0 || offset >= static_cast<long long>(bound.cElements))
            return false;
        cell += static_cast<size_t>(offset) * stride;
        stride *= bound.cElements;
    }
    return true;
}

// Releases what the cells own (strings, variants, interface references) and zeroes them.
void ReleaseCells(SAFEARRAY* psa, size_t first, size_t count) {
    if (psa->pvData == nullptr || count == 0)
        return;
    BYTE* base = static_cast<BYTE*>(psa->pvData) + first * psa->cbElements;
    if (psa->fFeatures & FADF_BSTR) {
        auto* cells = reinterpret_cast<BSTR*>(base);
        for (size_t i = 0; i < count; ++i)
            SysFreeString(cells[i]);
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* cells = reinterpret_cast<IUnknown**>(base);
        for (size_t i = 0; i < count; ++i)
            if (cells[i] != nullptr)
                cells[i]->Release();
    } else if (psa->fFeatures & FADF_VARIANT) {
        auto* cells = reinterpret_cast<VARIANT*>(base);
        for (size_t i = 0; i < count; ++i)
            VariantClear(&cells[i]);
    }
    std::memset(base, 0, count * psa->cbElements);
}

// Copies one cell with the ownership rules of the element kind into a cell known to be empty.
HRESULT CopyCell(const SAFEARRAY* psa, const BYTE* src, BYTE* dst) {
    if (psa->fFeatures & FADF_BSTR) {
        BSTR s;
        std::memcpy(&s, src, sizeof s);
        BSTR copy = nullptr;
        if (s != nullptr) {
            copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(s), SysStringByteLen(s));
            if (copy == nullptr)
                return E_OUTOFMEMORY;
        }
        std::memcpy(dst, &copy, sizeof copy);
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown* p;
        std::memcpy(&p, src, sizeof p);
        if (p != nullptr)
            p->AddRef();
        std::memcpy(dst, &p, sizeof p);
    } else if (psa->fFeatures & FADF_VARIANT) {
        auto* d = reinterpret_cast<VARIANT*>(dst);
        VariantInit(d);
        return VariantCopy(d, reinterpret_cast<const VARIANT*>(src));
    } else {
        std::memcpy(dst, src, psa->cbElements);
    }
    return S_OK;
}

}  // namespace

extern "C" {

HRESULT SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY** ppsaOut) {
    if (ppsaOut == nullptr)
        return E_POINTER;
    *ppsaOut = nullptr;
    if (cDims == 0 || cDims > 0xFFFF)
        return E_INVALIDARG;
    auto* block = static_cast<BYTE*>(std::calloc(1, kHiddenBytes + DescriptorBytes(cDims)));
    if (block == nullptr)
        return E_OUTOFMEMORY;
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + kHiddenBytes);
    psa->cDims = static_cast<USHORT>(cDims);
    *ppsaOut = psa;
    return S_OK;
}

// Any VARTYPE is accepted, as Windows accepts it; one without a fixed size gets cbElements 0.
HRESULT SafeArrayAllocDescriptorEx(VARTYPE vt, UINT cDims, SAFEARRAY** ppsaOut) {
    const ULONG size = ElementSize(vt);
    HRESULT hr = SafeArrayAllocDescriptor(cDims, ppsaOut);
    if (FAILED(hr))
        return hr;
    SetFeatures(*ppsaOut, vt);
    (*ppsaOut)->cbElements = size;
    return S_OK;
}

HRESULT SafeArrayAllocData(SAFEARRAY* psa) {
    if (psa == nullptr)
        return E_INVALIDARG;
    size_t bytes;
    if (!DataBytes(psa, bytes))
        return E_OUTOFMEMORY;
    // At least one byte, so that an empty array still has a data pointer as on Windows.
    void* data = std::calloc(1, bytes == 0 ? 1 : bytes);
    if (data == nullptr)
        return E_OUTOFMEMORY;
    psa->pvData = data;
    return S_OK;
}

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
    if (cDims == 0 || rgsabound == nullptr)
        return nullptr;
    // Records need their description (SafeArrayCreateEx); the other types need a size.
    if (vt == VT_RECORD || ElementSize(vt) == 0)
        return nullptr;
    SAFEARRAY* psa = nullptr;
    if (FAILED(SafeArrayAllocDescriptorEx(vt, cDims, &psa)))
        return nullptr;
    for (UINT i = 0; i < cDims; ++i)
        psa->rgsabound[i] = rgsabound[cDims - 1 - i];
    SetKindFlag(psa, vt);
    if (FAILED(SafeArrayAllocData(psa))) {
        SafeArrayDestroyDescriptor(psa);
        return nullptr;
    }
    return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND bound{cElements, lLbound};
    SAFEARRAY* psa = SafeArrayCreate(vt, 1, &bound);
    if (psa != nullptr)
        psa->fFeatures |= kCreatedAsVector;
    return psa;
}

HRESULT SafeArrayDestroyData(SAFEARRAY* psa) {
    if (psa == nullptr)
        return E_INVALIDARG;
    if (psa->cLocks > 0)
        return DISP_E_ARRAYISLOCKED;
    if (psa->pvData == nullptr)
        return S_OK;
    size_t cells;
    if (!CellCount(psa, cells))
        return E_UNEXPECTED;
    ReleaseCells(psa, 0, cells);
    if (!(psa->fFeatures & kFixedStorage)) {
        std::free(psa->pvData);
        psa->pvData = nullptr;
        if (psa->fFeatures & kCreatedAsVector)
            psa->fFeatures |= kDataDeleted;
    }
    return S_OK;
}

HRESULT SafeArrayDestroyDescriptor(SAFEARRAY* psa) {
    if (psa == nullptr)
        return E_INVALIDARG;
    if (psa->cLocks > 0)
        return DISP_E_ARRAYISLOCKED;
    if (!(psa->fFeatures & kFixedStorage))
        std::free(HiddenOf(psa));
    return S_OK;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (psa == nullptr)
        return S_OK;
    if (psa->cLocks > 0)
        return DISP_E_ARRAYISLOCKED;
    HRESULT hr = SafeArrayDestroyData(psa);
    if (FAILED(hr))
        return hr;
    return SafeArrayDestroyDescriptor(psa);
}

UINT SafeArrayGetDim(SAFEARRAY* psa) {
    return psa == nullptr ? 0 : psa->cDims;
}

UINT SafeArrayGetElemsize(SAFEARRAY* psa) {
    return psa == nullptr ? 0 : psa->cbElements;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    if (psa == nullptr || plUbound == nullptr)
        return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims)
        return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - nDim];
    *plUbound = static_cast<LONG>(static_cast<long long>(bound.lLbound) +
                                  static_cast<long long>(bound.cElements) - 1);
    return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    if (psa == nullptr || plLbound == nullptr)
        return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims)
        return DISP_E_BADINDEX;
    *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (psa == nullptr || pvt == nullptr)
        return E_INVALIDARG;
    if (psa->fFeatures & FADF_RECORD)
        *pvt = VT_RECORD;
    else if ((psa->fFeatures & (FADF_HAVEIID | FADF_DISPATCH)) == (FADF_HAVEIID | FADF_DISPATCH))
        *pvt = VT_DISPATCH;
    else if (psa->fFeatures & FADF_HAVEIID)
        *pvt = VT_UNKNOWN;
    else if (psa->fFeatures & FADF_HAVEVARTYPE)
        *pvt = static_cast<VARTYPE>(HiddenVartype(psa));
    else
        return E_INVALIDARG;
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
    if (psa == nullptr)
        return E_INVALIDARG;
    if (psa->cLocks >= 0xFFFF)
        return E_UNEXPECTED;
    ++psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
    if (psa == nullptr)
        return E_INVALIDARG;
    if (psa->cLocks == 0)
        return E_UNEXPECTED;
    --psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (psa == nullptr || ppvData == nullptr)
        return E_INVALIDARG;
    HRESULT hr = SafeArrayLock(psa);
    *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
    return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
    return SafeArrayUnlock(psa);
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData) {
    if (psa == nullptr || rgIndices == nullptr || ppvData == nullptr)
        return E_INVALIDARG;
    size_t cell;
    if (!CellOffset(psa, rgIndices, cell))
        return DISP_E_BADINDEX;
    if (psa->pvData == nullptr)
        return E_UNEXPECTED;
    *ppvData = static_cast<BYTE*>(psa->pvData) + cell * psa->cbElements;
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (psa == nullptr || rgIndices == nullptr || pv == nullptr)
        return E_INVALIDARG;
    size_t cell;
    if (!CellOffset(psa, rgIndices, cell))
        return DISP_E_BADINDEX;
    if (psa->pvData == nullptr)
        return E_UNEXPECTED;
    HRESULT hr = SafeArrayLock(psa);
    if (FAILED(hr))
        return hr;
    const BYTE* src = static_cast<const BYTE*>(psa->pvData) + cell * psa->cbElements;
    hr = CopyCell(psa, src, static_cast<BYTE*>(pv));
    SafeArrayUnlock(psa);
    return hr;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (psa == nullptr || rgIndices == nullptr)
        return E_INVALIDARG;
    size_t cell;
    if (!CellOffset(psa, rgIndices, cell))
        return DISP_E_BADINDEX;
    if (psa->pvData == nullptr)
        return E_UNEXPECTED;
    // BSTR and interface elements are passed as the value itself (a null string or
    // interface is a legal element); every other kind as a pointer to the value.
    const bool byValue = (psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH)) != 0;
    if (!byValue && pv == nullptr)
        return E_INVALIDARG;
    HRESULT hr = SafeArrayLock(psa);
    if (FAILED(hr))
        return hr;
    BYTE* dst = static_cast<BYTE*>(psa->pvData) + cell * psa->cbElements;
    if (psa->fFeatures & FADF_BSTR) {
        auto source = static_cast<BSTR>(pv);
        BSTR copy = nullptr;
        if (source != nullptr) {
            copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source), SysStringByteLen(source));
            if (copy == nullptr)
                hr = E_OUTOFMEMORY;
        }
        if (SUCCEEDED(hr)) {
            BSTR old;
            std::memcpy(&old, dst, sizeof old);
            SysFreeString(old);
            std::memcpy(dst, &copy, sizeof copy);
        }
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* fresh = static_cast<IUnknown*>(pv);
        if (fresh != nullptr)
            fresh->AddRef();
        IUnknown* old;
        std::memcpy(&old, dst, sizeof old);
        std::memcpy(dst, &fresh, sizeof fresh);
        if (old != nullptr)
            old->Release();
    } else if (psa->fFeatures & FADF_VARIANT) {
        hr = VariantCopy(reinterpret_cast<VARIANT*>(dst), static_cast<const VARIANT*>(pv));
    } else {
        std::memcpy(dst, pv, psa->cbElements);
    }
    SafeArrayUnlock(psa);
    return hr;
}

HRESULT SafeArrayCopyData(SAFEARRAY* psaSource, SAFEARRAY* psaTarget) {
    if (psaSource == nullptr || psaTarget == nullptr)
        return E_INVALIDARG;
    if (psaSource->cDims != psaTarget->cDims || psaSource->cbElements != psaTarget->cbElements)
        return E_INVALIDARG;
    for (USHORT d = 0; d < psaSource->cDims; ++d)
        if (psaSource->rgsabound[d].cElements != psaTarget->rgsabound[d].cElements ||
            psaSource->rgsabound[d].lLbound != psaTarget->rgsabound[d].lLbound)
            return E_INVALIDARG;
    if (psaSource->pvData == nullptr || psaTarget->pvData == nullptr)
        return E_INVALIDARG;
    size_t cells;
    if (!CellCount(psaSource, cells))
        return E_UNEXPECTED;
    // The target's element kind decides how its old cells are released.
    ReleaseCells(psaTarget, 0, cells);
    const auto* src = static_cast<const BYTE*>(psaSource->pvData);
    auto* dst = static_cast<BYTE*>(psaTarget->pvData);
    for (size_t i = 0; i < cells; ++i) {
        HRESULT hr = CopyCell(psaSource, src + i * psaSource->cbElements, dst + i * psaSource->cbElements);
        if (FAILED(hr)) {
            ReleaseCells(psaTarget, 0, i);
            return hr;
        }
    }
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (ppsaOut == nullptr)
        return E_INVALIDARG;
    *ppsaOut = nullptr;
    if (psa == nullptr)
        return S_OK;
    if (psa->cbElements == 0)
        return E_INVALIDARG;
    SAFEARRAY* copy = nullptr;
    HRESULT hr = SafeArrayAllocDescriptor(psa->cDims, &copy);
    if (FAILED(hr))
        return hr;
    // The copy always owns heap storage, whatever kind of storage the original had.
    copy->fFeatures = psa->fFeatures & ~(kFixedStorage | FADF_FIXEDSIZE | kCreatedAsVector | kDataDeleted);
    copy->cbElements = psa->cbElements;
    std::memcpy(copy->rgsabound, psa->rgsabound, psa->cDims * sizeof(SAFEARRAYBOUND));
    std::memcpy(HiddenOf(copy), HiddenOf(psa), kHiddenBytes);
    if (psa->pvData != nullptr) {
        hr = SafeArrayAllocData(copy);
        if (SUCCEEDED(hr))
            hr = SafeArrayCopyData(psa, copy);
        if (FAILED(hr)) {
            SafeArrayDestroy(copy);
            return hr;
        }
    }
    *ppsaOut = copy;
    return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew) {
    if (psa == nullptr || psaboundNew == nullptr)
        return E_INVALIDARG;
    if (psa->cLocks > 0 || (psa->fFeatures & (FADF_FIXEDSIZE | kFixedStorage)))
        return DISP_E_ARRAYISLOCKED;
    size_t oldCells;
    if (!CellCount(psa, oldCells))
        return E_UNEXPECTED;
    // The redimensioned (rightmost) dimension varies slowest, so its cells form one
    // contiguous tail: shrinking drops the tail, growing appends zeroed cells.
    size_t slice = 1;
    for (USHORT d = 1; d < psa->cDims; ++d)
        slice *= psa->rgsabound[d].cElements;
    const size_t newCount = psaboundNew->cElements;
    if (slice != 0 &&
        newCount > std::numeric_limits<size_t>::max() / slice / (psa->cbElements ? psa->cbElements : 1))
        return E_OUTOFMEMORY;
    const size_t newCells = slice * newCount;
    if (newCells < oldCells)
        ReleaseCells(psa, newCells, oldCells - newCells);
    const size_t newBytes = newCells * psa->cbElements;
    void* data = std::realloc(psa->pvData, newBytes == 0 ? 1 : newBytes);
    if (data == nullptr)
        return E_OUTOFMEMORY;
    if (newCells > oldCells)
        std::memset(static_cast<BYTE*>(data) + oldCells * psa->cbElements, 0,
                    (newCells - oldCells) * psa->cbElements);
    psa->pvData = data;
    psa->rgsabound[0] = *psaboundNew;
    return S_OK;
}

}  // extern "C"
