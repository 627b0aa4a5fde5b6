#include "simulation/DataStream.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace nv::sim {

namespace {

// The descriptor copied into the stream: the header and exactly one bound.
constexpr size_t kArrayDescriptorSize = offsetof(SAFEARRAY, rgsabound) + sizeof(SAFEARRAYBOUND);

uint64_t StringImageSize(BSTR s) {
    return 4 + uint64_t(SysStringByteLen(s)) + 2;
}

uint64_t ElementCount(SAFEARRAY* sa) {
    uint64_t n = 1;
    for (USHORT d = 0; d < sa->cDims; ++d) {
        n *= sa->rgsabound[d].cElements;
    }
    return n;
}

uint64_t RecordSize(const VARIANT& v) {
    uint64_t size = sizeof(VARIANT);
    if (v.vt == VT_BSTR) {
        return size + StringImageSize(v.bstrVal);
    }
    if ((v.vt & VT_ARRAY) && v.parray) {
        SAFEARRAY* sa = v.parray;
        size += kArrayDescriptorSize;
        uint64_t n = ElementCount(sa);
        if ((v.vt & VT_TYPEMASK) == VT_BSTR) {
            auto* strings = static_cast<BSTR*>(sa->pvData);
            for (uint64_t i = 0; i < n; ++i) {
                size += StringImageSize(strings[i]);
            }
        } else {
            size += uint64_t(sa->cbElements) * n;
        }
    }
    return size;
}

// Sequential writer that refuses to pass the end of its block.
class Writer {
public:
    Writer(BYTE* base, size_t size) : base_(base), size_(size) {}
    bool Put(const void* data, size_t n) {
        if (n > size_ - pos_) {
            return false;
        }
        if (n) {
            std::memcpy(base_ + pos_, data, n);
        }
        pos_ += n;
        return true;
    }
    bool PutString(BSTR s) {
        DWORD bytes = SysStringByteLen(s);
        const WCHAR nul = 0;
        return Put(&bytes, 4) && Put(s, bytes) && Put(&nul, 2);
    }
    size_t Pos() const { return pos_; }

private:
    BYTE* base_;
    size_t size_;
    size_t pos_ = 0;
};

bool PutRecord(Writer& w, const VARIANT& v) {
    VARIANT copy;
    std::memcpy(&copy, &v, sizeof copy);
    // Pointers mean nothing to the reader; the data follows the record instead.
    if (v.vt == VT_BSTR) {
        copy.bstrVal = nullptr;
        return w.Put(&copy, sizeof copy) && w.PutString(v.bstrVal);
    }
    if ((v.vt & VT_ARRAY) && v.parray) {
        copy.parray = nullptr;
        SAFEARRAY* sa = v.parray;
        BYTE descriptor[kArrayDescriptorSize];
        SAFEARRAY header;
        std::memcpy(&header, sa, offsetof(SAFEARRAY, rgsabound));
        header.cDims = 1;
        header.pvData = nullptr;
        header.cLocks = 0;
        uint64_t n = ElementCount(sa);
        SAFEARRAYBOUND bound{static_cast<ULONG>(n), sa->cDims ? sa->rgsabound[sa->cDims - 1].lLbound : 0};
        std::memcpy(descriptor, &header, offsetof(SAFEARRAY, rgsabound));
        std::memcpy(descriptor + offsetof(SAFEARRAY, rgsabound), &bound, sizeof bound);
        if (!w.Put(&copy, sizeof copy) || !w.Put(descriptor, sizeof descriptor)) {
            return false;
        }
        if ((v.vt & VT_TYPEMASK) == VT_BSTR) {
            auto* strings = static_cast<BSTR*>(sa->pvData);
            for (uint64_t i = 0; i < n; ++i) {
                if (!w.PutString(strings[i])) {
                    return false;
                }
            }
            return true;
        }
        return w.Put(sa->pvData, size_t(sa->cbElements) * n);
    }
    if (v.vt & VT_ARRAY) {
        copy.parray = nullptr;  // an array without data: the record alone
    }
    return w.Put(&copy, sizeof copy);
}

HGLOBAL AllocBlock(uint64_t size, HRESULT* error) {
    if (size > 0xFFFFFFFFull) {
        *error = E_OUTOFMEMORY;  // the headers cannot express a larger block
        return nullptr;
    }
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(size));
    if (!h) {
        *error = E_OUTOFMEMORY;
    }
    return h;
}

}  // namespace

HGLOBAL PackDataStream(bool withTime, OPCHANDLE hClientGroup, DWORD transactionId, HRESULT status,
                       const std::vector<StreamEntry>& entries, HRESULT* error) {
    *error = S_OK;
    uint64_t headerSize = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
    uint64_t total = sizeof(OPCGROUPHEADER) + headerSize * entries.size();
    std::vector<uint64_t> offsets(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        offsets[i] = total;
        total += RecordSize(*entries[i].value);
    }
    HGLOBAL h = AllocBlock(total, error);
    if (!h) {
        return nullptr;
    }
    auto* base = static_cast<BYTE*>(GlobalLock(h));
    if (!base) {
        GlobalFree(h);
        *error = E_OUTOFMEMORY;
        return nullptr;
    }
    Writer w(base, static_cast<size_t>(total));
    OPCGROUPHEADER group{static_cast<DWORD>(total), static_cast<DWORD>(entries.size()), hClientGroup,
                         transactionId, status};
    bool ok = w.Put(&group, sizeof group);
    for (size_t i = 0; ok && i < entries.size(); ++i) {
        const StreamEntry& e = entries[i];
        if (withTime) {
            OPCITEMHEADER1 item{e.hClient, static_cast<DWORD>(offsets[i]), e.quality, 0, e.timeStamp};
            ok = w.Put(&item, sizeof item);
        } else {
            OPCITEMHEADER2 item{e.hClient, static_cast<DWORD>(offsets[i]), e.quality, 0};
            ok = w.Put(&item, sizeof item);
        }
    }
    for (size_t i = 0; ok && i < entries.size(); ++i) {
        ok = w.Pos() == offsets[i] && PutRecord(w, *entries[i].value);
    }
    ok = ok && w.Pos() == total;
    GlobalUnlock(h);
    if (!ok) {
        GlobalFree(h);
        *error = E_UNEXPECTED;
        return nullptr;
    }
    return h;
}

HGLOBAL PackWriteCompleteStream(OPCHANDLE hClientGroup, DWORD transactionId, HRESULT status,
                                const std::vector<OPCHANDLE>& clientHandles,
                                const std::vector<HRESULT>& errors, HRESULT* error) {
    *error = S_OK;
    size_t n = clientHandles.size() < errors.size() ? clientHandles.size() : errors.size();
    uint64_t total = sizeof(OPCGROUPHEADERWRITE) + sizeof(OPCITEMHEADERWRITE) * uint64_t(n);
    HGLOBAL h = AllocBlock(total, error);
    if (!h) {
        return nullptr;
    }
    auto* base = static_cast<BYTE*>(GlobalLock(h));
    if (!base) {
        GlobalFree(h);
        *error = E_OUTOFMEMORY;
        return nullptr;
    }
    Writer w(base, static_cast<size_t>(total));
    OPCGROUPHEADERWRITE group{static_cast<DWORD>(n), hClientGroup, transactionId, status};
    bool ok = w.Put(&group, sizeof group);
    for (size_t i = 0; ok && i < n; ++i) {
        OPCITEMHEADERWRITE item{clientHandles[i], errors[i]};
        ok = w.Put(&item, sizeof item);
    }
    GlobalUnlock(h);
    if (!ok) {
        GlobalFree(h);
        *error = E_UNEXPECTED;
        return nullptr;
    }
    return h;
}

}  // namespace nv::sim
