// BSTR and the VARIANT lifetime calls (init, clear, copy).
#include "platform/posix/oleauto.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "platform/posix/unknwn.h"
#include "platform/posix/variant_internal.h"

namespace {

// A BSTR is a 4-byte byte count, the characters, and a 2-byte NUL; the pointer handed out points
// at the first character. Some callers pass odd byte lengths (SysAllocStringByteLen), so the
// terminator is written after the byte count, not after a whole number of characters.
constexpr UINT kMaxBstrBytes = 0x7FFFFFF0u;

size_t BlockBytes(UINT bytes) {
    return sizeof(DWORD) + bytes + sizeof(OLECHAR) + 1;
}

BYTE* BlockOf(BSTR s) {
    return reinterpret_cast<BYTE*>(s) - sizeof(DWORD);
}

BSTR StringOf(BYTE* block) {
    return reinterpret_cast<BSTR>(block + sizeof(DWORD));
}

// Sets the byte count and writes the terminator after it.
void SetByteCount(BYTE* block, UINT bytes) {
    DWORD count = bytes;
    std::memcpy(block, &count, sizeof count);
    BYTE* chars = block + sizeof(DWORD);
    chars[bytes] = 0;
    chars[bytes + 1] = 0;
    chars[bytes + 2] = 0;
}

// Every string this allocator handed out and has not taken back. Programs written against the
// Windows runtime free a string twice or free one they never got from SysAlloc* now and then;
// there its string cache makes that harmless in practice, so here SysFreeString frees only
// what is in this set and ignores anything else rather than corrupt the C heap. The set is
// split by address so that threads working on different strings seldom wait for each other.
class LiveStrings {
public:
    void Add(BSTR s) {
        Shard& shard = ShardOf(s);
        std::lock_guard<std::mutex> lock(shard.mutex);
        shard.strings.insert(s);
    }
    // True when `s` was live; it no longer is.
    bool Remove(BSTR s) {
        Shard& shard = ShardOf(s);
        std::lock_guard<std::mutex> lock(shard.mutex);
        return shard.strings.erase(s) != 0;
    }
    bool Contains(BSTR s) {
        Shard& shard = ShardOf(s);
        std::lock_guard<std::mutex> lock(shard.mutex);
        return shard.strings.count(s) != 0;
    }

private:
    struct Shard {
        std::mutex mutex;
        std::unordered_set<BSTR> strings;
    };
    Shard& ShardOf(BSTR s) {
        // Blocks are at least 16-byte aligned: the low bits say nothing.
        return shards_[(reinterpret_cast<uintptr_t>(s) >> 4) % kShards];
    }
    static constexpr size_t kShards = 16;
    Shard shards_[kShards];
};

LiveStrings& Live() {
    // Never destroyed: strings may still be freed by destructors of other static objects.
    static LiveStrings* live = new LiveStrings;
    return *live;
}

BSTR AllocBstrBytes(const void* src, UINT bytes) {
    if (bytes > kMaxBstrBytes)
        return nullptr;
    auto* block = static_cast<BYTE*>(std::malloc(BlockBytes(bytes)));
    if (block == nullptr)
        return nullptr;
    BYTE* chars = block + sizeof(DWORD);
    if (src != nullptr)
        std::memcpy(chars, src, bytes);
    else
        std::memset(chars, 0, bytes);
    SetByteCount(block, bytes);
    BSTR s = StringOf(block);
    Live().Add(s);
    return s;
}

UINT Wcslen(const OLECHAR* s) {
    UINT n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

size_t ByRefDataSize(VARTYPE base) {
    switch (base) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
            return 4;
        case VT_I8:
        case VT_UI8:
        case VT_R8:
        case VT_DATE:
        case VT_CY:
            return 8;
        default:
            return 0;
    }
}

}  // namespace

namespace nv::oleaut {

// The types a VARIANT may legally hold, with or without VT_BYREF / VT_ARRAY.
HRESULT ValidateVartype(VARTYPE vt) {
    const VARTYPE extra = vt & 0xF000;
    const VARTYPE base = vt & VT_TYPEMASK;
    if (extra & (VT_VECTOR | VT_RESERVED))
        return DISP_E_BADVARTYPE;
    if (base < VT_VOID || base == VT_RECORD || base == VT_CLSID) {
        if ((extra & (VT_BYREF | VT_ARRAY)) && base <= VT_NULL)
            return DISP_E_BADVARTYPE;
        if (base != 15)
            return S_OK;
    }
    return DISP_E_BADVARTYPE;
}

}  // namespace nv::oleaut

using nv::oleaut::ValidateVartype;

extern "C" {

BSTR SysAllocString(const OLECHAR* psz) {
    if (psz == nullptr)
        return nullptr;
    return SysAllocStringLen(psz, Wcslen(psz));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    if (ui > kMaxBstrBytes / sizeof(OLECHAR))
        return nullptr;
    return AllocBstrBytes(strIn, ui * static_cast<UINT>(sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) {
    return AllocBstrBytes(psz, len);
}

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    if (pbstr == nullptr)
        return FALSE;
    if (psz == nullptr) {
        // No source means no string at all here (unlike the length-taking variant).
        SysFreeString(*pbstr);
        *pbstr = nullptr;
        return TRUE;
    }
    return SysReAllocStringLen(pbstr, psz, Wcslen(psz));
}

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
    if (pbstr == nullptr)
        return FALSE;
    if (len > kMaxBstrBytes / sizeof(OLECHAR))
        return FALSE;
    BSTR old = *pbstr;
    if (old == nullptr || !Live().Contains(old)) {
        // Nothing of ours to reuse; a string we did not hand out is left to its owner.
        BSTR fresh = SysAllocStringLen(psz, len);
        if (fresh == nullptr)
            return FALSE;
        *pbstr = fresh;
        return TRUE;
    }

    // The old block is resized in place where the C heap allows. The source may lie inside
    // the old string (callers pass the string itself to shorten it): what it offers up to the
    // old terminator is moved to the front first, while the block is still valid, and the
    // rest is zero-filled, so nothing past the old string is ever read.
    const UINT oldBytes = SysStringByteLen(old);
    const UINT newBytes = len * static_cast<UINT>(sizeof(OLECHAR));
    const auto first = reinterpret_cast<uintptr_t>(old);
    const auto source = reinterpret_cast<uintptr_t>(psz);
    // The terminator's bytes count as inside too: they offer no characters.
    const bool inside = psz != nullptr && source >= first && source < first + oldBytes + sizeof(OLECHAR) + 1;
    UINT kept = 0;
    if (psz == nullptr) {
        // Without a source the string is resized like realloc: the old characters that fit stay.
        kept = oldBytes < newBytes ? oldBytes : newBytes;
    } else if (inside) {
        const UINT offered = source < first + oldBytes ? static_cast<UINT>(first + oldBytes - source) : 0;
        kept = offered < newBytes ? offered : newBytes;
        std::memmove(old, psz, kept);
    }

    Live().Remove(old);
    auto* block = static_cast<BYTE*>(std::realloc(BlockOf(old), BlockBytes(newBytes)));
    if (block == nullptr) {
        // The old string is still there (possibly with its front already rewritten).
        Live().Add(old);
        return FALSE;
    }
    BYTE* chars = block + sizeof(DWORD);
    if (psz != nullptr && !inside) {
        std::memcpy(chars, psz, newBytes);
        kept = newBytes;
    }
    std::memset(chars + kept, 0, newBytes - kept);
    SetByteCount(block, newBytes);
    *pbstr = StringOf(block);
    Live().Add(*pbstr);
    return TRUE;
}

void SysFreeString(BSTR bstrString) {
    if (bstrString != nullptr && Live().Remove(bstrString))
        std::free(BlockOf(bstrString));
}

UINT SysStringLen(BSTR pbstr) {
    return pbstr == nullptr ? 0 : SysStringByteLen(pbstr) / sizeof(OLECHAR);
}

UINT SysStringByteLen(BSTR bstr) {
    if (bstr == nullptr)
        return 0;
    DWORD count;
    std::memcpy(&count, BlockOf(bstr), sizeof count);
    return count;
}

void VariantInit(VARIANTARG* pvarg) {
    if (pvarg == nullptr)
        return;
    // The whole variant, as the current Windows runtime clears it: a later VT_DECIMAL or
    // VT_RECORD reading the reserved words or the second pointer finds zeros, not old bytes.
    std::memset(pvarg, 0, sizeof *pvarg);
}

HRESULT VariantClear(VARIANTARG* pvarg) {
    if (pvarg == nullptr)
        return E_INVALIDARG;
    HRESULT hr = ValidateVartype(pvarg->vt);
    if (FAILED(hr))
        return hr;
    if (!(pvarg->vt & VT_BYREF)) {
        if (pvarg->vt & VT_ARRAY) {
            if (pvarg->parray != nullptr) {
                hr = SafeArrayDestroy(pvarg->parray);
                if (FAILED(hr))
                    return hr;  // a locked array stays where it is
            }
        } else {
            switch (pvarg->vt) {
                case VT_BSTR:
                    SysFreeString(pvarg->bstrVal);
                    break;
                case VT_UNKNOWN:
                case VT_DISPATCH:
                    // IDispatch starts with the IUnknown methods at the same address.
                    if (pvarg->punkVal != nullptr)
                        pvarg->punkVal->Release();
                    break;
                case VT_RECORD:
                    // Records are never created by the stand-in; nothing owned to free.
                    break;
                default:
                    break;
            }
        }
    }
    pvarg->vt = VT_EMPTY;
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (pvargDest == nullptr || pvargSrc == nullptr)
        return E_INVALIDARG;
    // A VT_CLSID may be cleared but not copied: no member of the union holds one.
    if ((pvargSrc->vt & VT_TYPEMASK) == VT_CLSID)
        return DISP_E_BADVARTYPE;
    HRESULT hr = ValidateVartype(pvargSrc->vt);
    if (FAILED(hr))
        return hr;
    if (pvargDest == pvargSrc)
        return S_OK;
    hr = VariantClear(pvargDest);
    if (FAILED(hr))
        return hr;
    VARIANT copy = *pvargSrc;
    if (!(pvargSrc->vt & VT_BYREF)) {
        if (pvargSrc->vt & VT_ARRAY) {
            if (pvargSrc->parray != nullptr) {
                hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
                if (FAILED(hr))
                    return hr;
            }
        } else if (pvargSrc->vt == VT_BSTR) {
            // A null string copies as an empty one, as Windows copies it: the copy is a string
            // the receiver may always measure, append to and free.
            copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(pvargSrc->bstrVal),
                                                 SysStringByteLen(pvargSrc->bstrVal));
            if (copy.bstrVal == nullptr)
                return E_OUTOFMEMORY;
        } else if (pvargSrc->vt == VT_UNKNOWN || pvargSrc->vt == VT_DISPATCH) {
            if (pvargSrc->punkVal != nullptr)
                pvargSrc->punkVal->AddRef();
        } else if (pvargSrc->vt == VT_RECORD) {
            // Copying a record needs its IRecordInfo, which the stand-in does not provide.
            if (pvargSrc->brecVal.pvRecord != nullptr || pvargSrc->brecVal.pRecInfo != nullptr)
                return E_NOTIMPL;
        }
    }
    *pvargDest = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
    if (pvarDest == nullptr || pvargSrc == nullptr)
        return E_INVALIDARG;
    if (!(pvargSrc->vt & VT_BYREF))
        return VariantCopy(pvarDest, pvargSrc);

    const VARTYPE base = pvargSrc->vt & VT_TYPEMASK;
    const bool isArray = (pvargSrc->vt & VT_ARRAY) != 0;
    if (!isArray &&
        !(base > VT_NULL && base != 15 && base < VT_VOID && !(pvargSrc->vt & (VT_VECTOR | VT_RESERVED))))
        return E_INVALIDARG;
    if (pvargSrc->byref == nullptr)
        return E_INVALIDARG;

    // Build the result aside: the source may be the destination.
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = S_OK;
    if (isArray) {
        SAFEARRAY* source = *pvargSrc->pparray;
        result.parray = nullptr;
        if (source != nullptr)
            hr = SafeArrayCopy(source, &result.parray);
        result.vt = pvargSrc->vt & ~VT_BYREF;
    } else if (base == VT_BSTR) {
        // A reference to a null string also gives an empty one (see VariantCopy).
        BSTR source = *pvargSrc->pbstrVal;
        result.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source), SysStringByteLen(source));
        if (result.bstrVal == nullptr)
            hr = E_OUTOFMEMORY;
        result.vt = VT_BSTR;
    } else if (base == VT_UNKNOWN || base == VT_DISPATCH) {
        result.punkVal = *pvargSrc->ppunkVal;
        if (result.punkVal != nullptr)
            result.punkVal->AddRef();
        result.vt = base;
    } else if (base == VT_VARIANT) {
        const VARIANT* inner = pvargSrc->pvarVal;
        // One level only: a reference to a reference to a variant is refused.
        if (inner->vt == (VT_VARIANT | VT_BYREF))
            return E_INVALIDARG;
        hr = VariantCopyInd(&result, inner);
    } else if (base == VT_DECIMAL) {
        DECIMAL d = *pvargSrc->pdecVal;
        result.decVal = d;
        result.vt = VT_DECIMAL;
    } else if (base == VT_RECORD) {
        return E_NOTIMPL;
    } else {
        const size_t size = ByRefDataSize(base);
        if (size == 0)
            return E_INVALIDARG;
        std::memcpy(&result.llVal, pvargSrc->byref, size);
        result.vt = base;
    }
    if (FAILED(hr))
        return hr;

    if (pvarDest != pvargSrc) {
        hr = VariantClear(pvarDest);
        if (FAILED(hr)) {
            VariantClear(&result);
            return hr;
        }
    }
    // A by-reference variant owns nothing, so overwriting it in place leaks nothing.
    *pvarDest = result;
    return S_OK;
}

}  // extern "C"
