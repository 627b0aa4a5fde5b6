// Values as a server may send them. Text converted to every scalar type; and VARIANTs built from
// the input with the automation calls a server uses (every type code, values by reference, arrays
// of any element type, nested through VARIANT elements, of one to eight dimensions with any
// bounds), shown as the item grid and the log show them, copied and converted. A VARIANT is only
// ever given a shape it can arrive in: pointers point at what their type says (or are null), and
// arrays are real safe arrays, though the type a VARIANT names for its array's elements need not
// be the array's own.
#include <array>
#include <cstdio>
#include <deque>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/NvConvert.h"
#include "fuzz/entries/NvFuzzEntries.h"
#include "fuzz/entries/NvFuzzSupport.h"
#include "platform/NvWide.h"
#include "platform/win32.h"

namespace nv::fuzz {

namespace {

constexpr LCID kLocales[] = {0,
                             LOCALE_USER_DEFAULT,
                             LOCALE_SYSTEM_DEFAULT,
                             LOCALE_INVARIANT,
                             0x0409,
                             0x0809,
                             0x0407,
                             0x040C,
                             0x0C0A,
                             0x040A,
                             0x09,
                             0x07};
constexpr USHORT kFlagChoices =
    VARIANT_NOVALUEPROP | VARIANT_ALPHABOOL | VARIANT_NOUSEROVERRIDE | VARIANT_LOCALBOOL;

constexpr VARTYPE kTargets[] = {VT_EMPTY,   VT_NULL,    VT_I2,      VT_I4,       VT_R4,    VT_R8,
                                VT_CY,      VT_DATE,    VT_BSTR,    VT_DISPATCH, VT_ERROR, VT_BOOL,
                                VT_VARIANT, VT_UNKNOWN, VT_DECIMAL, VT_I1,       VT_UI1,   VT_UI2,
                                VT_UI4,     VT_I8,      VT_UI8,     VT_INT,      VT_UINT};

// Types whose text reads back to the very same value.
bool Exact(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
        case VT_CY:
        case VT_DECIMAL:
        case VT_BOOL:
            return true;
        default:
            return false;
    }
}

// Equal contents of two scalar VARIANTs of one exact type.
bool SameValue(const VARIANT& a, const VARIANT& b) {
    if (a.vt != b.vt)
        return false;
    if (a.vt == VT_DECIMAL) {
        // The same number, whatever trailing zeros its scale keeps.
        auto normal = [](const DECIMAL& d) {
            unsigned __int128 m = (static_cast<unsigned __int128>(d.Hi32) << 64) | d.Lo64;
            int scale = d.scale;
            while (scale > 0 && m % 10 == 0) {
                m /= 10;
                --scale;
            }
            return std::tuple(m, m == 0 ? 0 : scale, m != 0 && (d.sign & DECIMAL_NEG) != 0);
        };
        return normal(a.decVal) == normal(b.decVal);
    }
    return a.llVal == b.llVal || (a.vt == VT_BOOL && a.boolVal == b.boolVal);
}

std::string TextOrError(const VARIANT& value, bool showType) {
    try {
        return VariantToStr(value, showType);
    } catch (const EConvertError& e) {
        return "!" + e.Message();
    }
}

// An object that only counts its references, standing in for a server's interface pointer.
class CountedObject : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        Check(references_ > 0, "an interface is released more often than it was referenced");
        return static_cast<ULONG>(--references_);
    }
    long References() const { return references_; }

private:
    long references_ = 0;
};

// Element types a server puts in its arrays; anything else comes from the input's own code.
constexpr VARTYPE kElementTypes[] = {
    VT_I2,      VT_I4, VT_R4,  VT_R8,  VT_CY,  VT_DATE, VT_BSTR, VT_ERROR, VT_BOOL, VT_VARIANT, VT_UNKNOWN,
    VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8,   VT_UI8,  VT_INT,   VT_UINT, VT_DISPATCH};

// Type codes whose value part is a pointer (to memory of the code's own kind): their values are
// always null, except for the kinds built properly below.
bool PointerType(VARTYPE base) {
    switch (base) {
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_UNKNOWN:
        case VT_PTR:
        case VT_SAFEARRAY:
        case VT_CARRAY:
        case VT_USERDEFINED:
        case VT_LPSTR:
        case VT_LPWSTR:
        case VT_RECORD:
        case VT_BLOB:
        case VT_STREAM:
        case VT_STORAGE:
        case VT_STREAMED_OBJECT:
        case VT_STORED_OBJECT:
        case VT_BLOB_OBJECT:
        case VT_CF:
        case VT_CLSID:
        case VT_VERSIONED_STREAM:
        case VT_BSTR_BLOB:
            return true;
        default:
            return false;
    }
}

class VariantBuilder {
public:
    VariantBuilder(ByteReader& in, CountedObject& object) : in_(in), object_(object) {}
    ~VariantBuilder() {
        for (VARIANT& v : owned_)
            VariantClear(&v);
    }

    void Build(VARIANT& out, int depth) {
        VariantInit(&out);
        const std::uint8_t shape = in_.Byte();
        const bool byRef = (shape & 0x80) != 0 && depth < kMaxDepth;
        if ((shape & 0x40) != 0 && depth < kMaxDepth) {
            BuildArray(out, depth, byRef);
            return;
        }
        // Mostly the usual types; now and then any code at all.
        VARTYPE base = (shape & 0x20) != 0 ? static_cast<VARTYPE>(in_.Value<std::uint16_t>() & VT_TYPEMASK)
                                           : kTargets[in_.Pick(std::size(kTargets))];
        if (byRef) {
            BuildByRef(out, base, depth);
            return;
        }
        BuildScalar(out, base, depth);
    }

private:
    static constexpr int kMaxDepth = 4;
    static constexpr std::size_t kMaxElements = 256;

    IUnknown* Interface() {
        if (!in_.Bool())
            return nullptr;
        object_.AddRef();
        return &object_;
    }

    BSTR Text() {
        if ((in_.Byte() & 7) == 0)
            return nullptr;
        std::string_view bytes = in_.Bytes(24);
        // Odd byte lengths too: a BSTR carries its length in bytes.
        return SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size()));
    }

    void BuildScalar(VARIANT& out, VARTYPE base, int depth) {
        switch (base) {
            case VT_BSTR:
                out.bstrVal = Text();
                break;
            case VT_UNKNOWN:
                out.punkVal = Interface();
                break;
            case VT_DECIMAL: {
                auto raw = in_.Value<std::array<std::uint8_t, sizeof(DECIMAL)>>();
                std::memcpy(&out.decVal, raw.data(), sizeof(DECIMAL));
                break;
            }
            default:
                if (!PointerType(base))
                    out.llVal = in_.Value<LONGLONG>();
                break;
        }
        out.vt = base;
    }

    void BuildByRef(VARIANT& out, VARTYPE base, int depth) {
        out.vt = static_cast<VARTYPE>(base | VT_BYREF);
        if ((in_.Byte() & 15) == 0)
            return;  // a null reference
        VARIANT& slot = owned_.emplace_back();
        VariantInit(&slot);
        switch (base) {
            case VT_VARIANT:
                Build(slot, depth + 1);
                out.pvarVal = &slot;
                return;
            case VT_BSTR:
                slot.vt = VT_BSTR;
                slot.bstrVal = Text();
                out.pbstrVal = &slot.bstrVal;
                return;
            case VT_UNKNOWN:
                slot.vt = VT_UNKNOWN;
                slot.punkVal = Interface();
                out.ppunkVal = &slot.punkVal;
                return;
            default:
                break;
        }
        // A scalar (or a code of no known kind) in memory of its own, the largest any type needs.
        auto& raw = raw_.emplace_back();
        if (!PointerType(base))
            raw = in_.Value<std::array<std::uint64_t, 3>>();
        out.byref = raw.data();
    }

    void BuildArray(VARIANT& out, int depth, bool byRef) {
        const std::uint8_t kind = in_.Byte();
        VARTYPE type = (kind & 0x80) != 0 ? static_cast<VARTYPE>(in_.Value<std::uint16_t>() & VT_TYPEMASK)
                                          : kElementTypes[in_.Pick(std::size(kElementTypes))];
        // The type the VARIANT names: a server may name another than its array's own, though
        // always one a VARIANT's array can have (the marshaller refuses any other, such as the
        // pointer-sized integers an array of any code may hold).
        const bool rename = (kind & 0x40) != 0 || (kind & 0x80) != 0;
        VARTYPE named = rename ? kElementTypes[in_.Pick(std::size(kElementTypes))] : type;
        const UINT dims = 1 + (kind & 7);
        std::vector<SAFEARRAYBOUND> bounds(dims);
        std::size_t elements = 1;
        for (SAFEARRAYBOUND& b : bounds) {
            const std::uint8_t where = in_.Byte();
            const std::size_t room = (kMaxElements - used_) / elements;
            b.cElements = static_cast<ULONG>(in_.Byte() % (std::min<std::size_t>(room, 16) + 1));
            // Small bounds, any bound, and the ends of the index range.
            switch (where & 3) {
                case 0:
                    b.lLbound = static_cast<LONG>(where >> 2) % 4 - 1;
                    break;
                case 1:
                    b.lLbound = in_.Value<LONG>();
                    break;
                case 2:
                    b.lLbound = static_cast<LONG>(std::numeric_limits<LONG>::max() -
                                                  std::max<std::int64_t>(b.cElements, 1) + 1);
                    break;
                default:
                    b.lLbound = std::numeric_limits<LONG>::min();
                    break;
            }
            elements *= b.cElements == 0 ? 1 : b.cElements;
        }
        SAFEARRAY* array = (kind & 0x08) != 0 ? nullptr : SafeArrayCreate(type, dims, bounds.data());
        if (array != nullptr) {
            std::size_t total = 1;
            for (const SAFEARRAYBOUND& b : bounds)
                total *= b.cElements;
            used_ += total;
            Fill(array, type, total, depth);
        }
        VARTYPE vt = static_cast<VARTYPE>(VT_ARRAY | named);
        if (byRef) {
            VARIANT& slot = owned_.emplace_back();
            VariantInit(&slot);
            slot.vt = static_cast<VARTYPE>(VT_ARRAY | named);  // a type VariantClear takes
            slot.parray = array;
            out.vt = static_cast<VARTYPE>(vt | VT_BYREF);
            out.pparray = &slot.parray;
        } else {
            out.vt = vt;
            out.parray = array;
        }
    }

    void Fill(SAFEARRAY* array, VARTYPE type, std::size_t total, int depth) {
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data)))
            return;
        const UINT size = SafeArrayGetElemsize(array);
        auto* bytes = static_cast<BYTE*>(data);
        for (std::size_t i = 0; i < total; ++i) {
            BYTE* element = bytes + i * size;
            switch (type) {
                case VT_BSTR: {
                    BSTR text = Text();
                    std::memcpy(element, &text, sizeof text);
                    break;
                }
                case VT_VARIANT:
                    Build(*reinterpret_cast<VARIANT*>(element), depth + 1);
                    break;
                case VT_UNKNOWN: {
                    IUnknown* object = Interface();
                    std::memcpy(element, &object, sizeof object);
                    break;
                }
                case VT_DISPATCH:
                    break;  // null: there is no dispatch object here to point at
                default:
                    for (UINT k = 0; k < size; ++k)
                        element[k] = in_.Byte();
                    break;
            }
        }
        SafeArrayUnaccessData(array);
    }

    ByteReader& in_;
    CountedObject& object_;
    std::deque<VARIANT> owned_;
    std::deque<std::array<std::uint64_t, 3>> raw_;
    std::size_t used_ = 0;
};

}  // namespace

void VariantChangeTypeFromText(const std::uint8_t* data, std::size_t size) {
    ScratchFolder();
    ByteReader in(data, size);
    const LCID lcid = kLocales[in.Byte() % std::size(kLocales)];
    const USHORT flags = static_cast<USHORT>(in.Byte() & kFlagChoices);
    const VARTYPE inPlace = kTargets[in.Byte() % std::size(kTargets)];
    const std::string_view rest = in.Rest();
    const WideString text = ToWide(rest);
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    for (VARTYPE target : kTargets) {
        VARIANT value;
        VariantInit(&value);
        if (FAILED(VariantChangeTypeEx(&value, &source, lcid, flags, target)))
            continue;
        Check(value.vt == target, "a converted value has the type asked for");
        VARIANT back;
        VariantInit(&back);
        if (SUCCEEDED(VariantChangeTypeEx(&back, &value, lcid, flags, VT_BSTR)) && Exact(target)) {
            VARIANT again;
            VariantInit(&again);
            Check(SUCCEEDED(VariantChangeTypeEx(&again, &back, lcid, flags, target)),
                  "the text of a converted value converts again");
            if (!SameValue(again, value)) {
                std::fprintf(stderr, "type %d: text \"%s\" -> \"%s\" -> \"%s\"\n", target,
                             std::string(rest).c_str(), TextOrError(value, false).c_str(),
                             TextOrError(again, false).c_str());
                Check(false, "the text of a converted value reads back as that value");
            }
            VariantClear(&again);
        }
        TextOrError(value, true);
        VariantClear(&back);
        VariantClear(&value);
    }
    try {
        VARIANT changed = ChangeVariantType(source, inPlace);
        VariantClear(&changed);
    } catch (const EConvertError&) {
    }
    // The same variant as source and destination, as a caller converting in place passes it.
    VariantChangeTypeEx(&source, &source, lcid, flags, inPlace);
    VariantClear(&source);
}

void VariantText(const std::uint8_t* data, std::size_t size) {
    ScratchFolder();
    ByteReader in(data, size);
    const LCID lcid = kLocales[in.Byte() % std::size(kLocales)];
    const VARTYPE target = kTargets[in.Byte() % std::size(kTargets)];
    CountedObject object;
    {
        VariantBuilder builder(in, object);
        VARIANT value;
        builder.Build(value, 0);
        const std::string shown = TextOrError(value, false);
        TextOrError(value, true);
        try {
            VarArrayToStr(value);
        } catch (const EConvertError&) {
        }
        VarTypeToStr(value.vt);
        VarTypeToNvVarDataType(value.vt);
        VariantKind(value);
        HasValue(value);

        VARIANT copy;
        VariantInit(&copy);
        if (SUCCEEDED(VariantCopy(&copy, &value)))
            Check(TextOrError(copy, false) == shown, "a copy of a value shows as the value");
        VariantClear(&copy);
        if (SUCCEEDED(VariantCopyInd(&copy, &value))) {
            // A refusal names the type, which the copy no longer has by reference.
            const std::string copied = TextOrError(copy, false);
            Check(copied == shown || copied[0] == '!' || shown[0] == '!',
                  "a copy of what a reference points at shows as the reference");
        }
        VariantClear(&copy);

        VARIANT changed;
        VariantInit(&changed);
        if (SUCCEEDED(VariantChangeTypeEx(&changed, &value, lcid, 0, target)))
            TextOrError(changed, false);
        VariantClear(&changed);
        try {
            VARIANT text = ChangeVariantType(value, VT_BSTR);
            VariantClear(&text);
        } catch (const EConvertError&) {
        }
        VariantClear(&value);
    }
    Check(object.References() == 0, "every reference a value took is released with it");
}

}  // namespace nv::fuzz
