#include "simulation/AddressSpace.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "opc/include/opcerror.h"

namespace nv::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr ULONG kArrayLength = 8;

struct TypeInfo {
    VARTYPE vt;
    const char* name;
};

// The scalar types of the address space, with the leaf names they get in every branch.
constexpr TypeInfo kScalarTypes[] = {
    {VT_I1, "Int1"},   {VT_I2, "Int2"},   {VT_I4, "Int4"},     {VT_I8, "Int8"},      {VT_UI1, "UInt1"},
    {VT_UI2, "UInt2"}, {VT_UI4, "UInt4"}, {VT_UI8, "UInt8"},   {VT_R4, "Real4"},     {VT_R8, "Real8"},
    {VT_CY, "Money"},  {VT_DATE, "Date"}, {VT_BSTR, "String"}, {VT_BOOL, "Boolean"},
};

uint64_t Mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

template <typename T>
T ClampTo(double x) {
    if (std::isnan(x)) {
        return T{};
    }
    double lo = static_cast<double>(std::numeric_limits<T>::lowest());
    double hi = static_cast<double>(std::numeric_limits<T>::max());
    if (x <= lo) {
        return std::numeric_limits<T>::lowest();
    }
    if (x >= hi) {
        return std::numeric_limits<T>::max();
    }
    return static_cast<T>(std::llround(x));
}

template <>
uint64_t ClampTo<uint64_t>(double x) {
    if (std::isnan(x) || x <= 0) {
        return 0;
    }
    if (x >= 18446744073709551615.0) {
        return std::numeric_limits<uint64_t>::max();
    }
    return static_cast<uint64_t>(std::llround(x));
}

template <>
int64_t ClampTo<int64_t>(double x) {
    if (std::isnan(x)) {
        return 0;
    }
    if (x <= -9223372036854775808.0) {
        return std::numeric_limits<int64_t>::lowest();
    }
    if (x >= 9223372036854775807.0) {
        return std::numeric_limits<int64_t>::max();
    }
    return std::llround(x);
}

BSTR NumberText(double x) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", x);
    WString w = Widen(buf);
    return SysAllocString(w.c_str());
}

// Stores `x` (already in the item's range) as a scalar of type vt into a raw element slot.
// `now` and `randomBits` serve the types that do not map from a number naturally.
void StoreScalar(VARTYPE vt, double x, double mid, DATE now, void* slot) {
    switch (vt) {
        case VT_I1:
            *static_cast<CHAR*>(slot) = static_cast<CHAR>(ClampTo<int8_t>(x));
            break;
        case VT_I2:
            *static_cast<SHORT*>(slot) = ClampTo<int16_t>(x);
            break;
        case VT_I4:
            *static_cast<LONG*>(slot) = ClampTo<int32_t>(x);
            break;
        case VT_I8:
            *static_cast<LONGLONG*>(slot) = ClampTo<int64_t>(x);
            break;
        case VT_UI1:
            *static_cast<BYTE*>(slot) = ClampTo<uint8_t>(x);
            break;
        case VT_UI2:
            *static_cast<USHORT*>(slot) = ClampTo<uint16_t>(x);
            break;
        case VT_UI4:
            *static_cast<ULONG*>(slot) = ClampTo<uint32_t>(x);
            break;
        case VT_UI8:
            *static_cast<ULONGLONG*>(slot) = ClampTo<uint64_t>(x);
            break;
        case VT_R4:
            *static_cast<FLOAT*>(slot) = static_cast<FLOAT>(x);
            break;
        case VT_R8:
            *static_cast<DOUBLE*>(slot) = x;
            break;
        case VT_CY:
            static_cast<CY*>(slot)->int64 = ClampTo<int64_t>(x * 10000.0);
            break;
        case VT_DATE:
            // A moving date: the current time plus the value in minutes.
            *static_cast<DATE*>(slot) = now + x / 1440.0;
            break;
        case VT_BOOL:
            *static_cast<VARIANT_BOOL*>(slot) = x >= mid ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VT_BSTR:
            *static_cast<BSTR*>(slot) = NumberText(x);
            break;
        default:
            break;
    }
}

// Fills `out` with a value of the item's type from the numbers xs (one for a scalar, one per
// element for an array).
void StoreValue(const ItemDef& item, const double* xs, DATE now, VARIANT* out) {
    // Zeroed whole, so that two values of one type compare equal byte for byte.
    std::memset(out, 0, sizeof *out);
    out->vt = VT_EMPTY;
    double mid = (item.low + item.high) / 2;
    VARTYPE base = item.type & VT_TYPEMASK;
    if (item.type & VT_ARRAY) {
        SAFEARRAY* sa = SafeArrayCreateVector(base, 0, kArrayLength);
        if (!sa) {
            return;
        }
        void* data = nullptr;
        if (SUCCEEDED(SafeArrayAccessData(sa, &data))) {
            auto* bytes = static_cast<BYTE*>(data);
            UINT size = SafeArrayGetElemsize(sa);
            for (ULONG i = 0; i < kArrayLength; ++i) {
                StoreScalar(base, xs[i], mid, now, bytes + size_t(i) * size);
            }
            SafeArrayUnaccessData(sa);
        }
        out->vt = item.type;
        out->parray = sa;
        return;
    }
    StoreScalar(base, xs[0], mid, now, &out->cVal);
    out->vt = base;
}

double KindValue(const ItemDef& item, double seconds, uint64_t sample, double phase) {
    double span = item.high - item.low;
    switch (item.kind) {
        case ItemKind::Ramp: {
            double f = seconds / 10.0 + phase;
            return item.low + span * (f - std::floor(f));
        }
        case ItemKind::Sine:
            return item.low + span * (0.5 + 0.5 * std::sin(2 * kPi * (seconds / 10.0 + phase)));
        case ItemKind::Square:
            return (static_cast<int64_t>(std::floor(seconds + phase * 2)) % 2) == 0 ? item.low : item.high;
        case ItemKind::Counter:
            return item.low + std::floor(seconds * 10.0 + phase * 100.0);
        case ItemKind::Random: {
            uint64_t bits = Mix(Mix(sample) ^ (uint64_t(item.index) << 20) ^ uint64_t(phase * 1e6));
            return item.low + span * (double(bits >> 11) / double(1ull << 53));
        }
        default:
            return item.low;
    }
}

}  // namespace

bool IsDynamic(ItemKind kind) {
    return kind == ItemKind::Ramp || kind == ItemKind::Sine || kind == ItemKind::Random ||
           kind == ItemKind::Square || kind == ItemKind::Counter;
}

FILETIME NowFileTime() {
    FILETIME ft{};
    CoFileTimeNow(&ft);
    return ft;
}

DATE FileTimeToDate(const FILETIME& ft) {
    // FILETIME counts 100 ns from 1601-01-01; DATE counts days from 1899-12-30.
    constexpr int64_t kTicksPerDay = 864000000000LL;
    constexpr int64_t kDaysFrom1601To1899 = 109205;
    int64_t ticks = (int64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return double(ticks - kDaysFrom1601To1899 * kTicksPerDay) / double(kTicksPerDay);
}

void ComputeValue(const ItemDef& item, double seconds, uint64_t sample, DATE now, VARIANT* out) {
    double xs[kArrayLength];
    size_t n = (item.type & VT_ARRAY) ? kArrayLength : 1;
    for (size_t i = 0; i < n; ++i) {
        xs[i] = KindValue(item, seconds, sample + i * 7919, item.phase + double(i) / kArrayLength);
    }
    StoreValue(item, xs, now, out);
    if ((item.type & VT_TYPEMASK) == VT_DATE && !(item.type & VT_ARRAY) && item.kind != ItemKind::Random) {
        out->date = now;  // a moving date item simply shows the time of its sample
    }
}

void InitialValue(const ItemDef& item, VARIANT* out) {
    VariantInit(out);
    if (item.control != ControlKind::None) {
        switch (item.control) {
            case ControlKind::ServerState:
                out->vt = VT_I4;
                out->lVal = 1;
                break;
            case ControlKind::FailHResult:
                out->vt = VT_I4;
                out->lVal = E_FAIL;
                break;
            case ControlKind::FailCount:
            case ControlKind::DelayMs:
                out->vt = VT_I4;
                out->lVal = 0;
                break;
            case ControlKind::RefuseCallbacks:
            case ControlKind::DropCallbacks:
                out->vt = VT_BOOL;
                out->boolVal = VARIANT_FALSE;
                break;
            default:
                out->vt = VT_BSTR;
                out->bstrVal = SysAllocString(OLESTR(""));
                break;
        }
        return;
    }
    if (item.rangeChecked || item.euType == kEuEnumerated) {
        double x = item.euType == kEuEnumerated ? item.low : (item.low + item.high) / 2;
        StoreValue(item, &x, 0, out);
        return;
    }
    VARTYPE base = item.type & VT_TYPEMASK;
    double xs[kArrayLength];
    for (ULONG i = 0; i < kArrayLength; ++i) {
        // Distinct, type-typical starting values that a reader can recognise.
        switch (base) {
            case VT_I1:
                xs[i] = -12.0 - i;
                break;
            case VT_I2:
                xs[i] = -1234.0 - i;
                break;
            case VT_I4:
                xs[i] = -123456.0 - i;
                break;
            case VT_I8:
                xs[i] = -1234567890123.0 - i;
                break;
            case VT_UI1:
                xs[i] = 200.0 + i;
                break;
            case VT_UI2:
                xs[i] = 60000.0 + i;
                break;
            case VT_UI4:
                xs[i] = 4000000000.0 + i;
                break;
            case VT_UI8:
                xs[i] = 10000000000000.0 + i;
                break;
            case VT_R4:
                xs[i] = 3.25 + i;
                break;
            case VT_R8:
                xs[i] = -1.5e10 + i;
                break;
            case VT_CY:
                xs[i] = 1234.5678 + i;
                break;
            case VT_BOOL:
                xs[i] = (i % 2) ? 0.0 : 1.0;
                break;
            default:
                xs[i] = double(i);
                break;
        }
    }
    StoreValue(item, xs, 0, out);
    if (base == VT_DATE) {
        // 2024-01-01 12:00 and the following days.
        if (item.type & VT_ARRAY) {
            DATE* d = nullptr;
            if (SUCCEEDED(SafeArrayAccessData(out->parray, reinterpret_cast<void**>(&d)))) {
                for (ULONG i = 0; i < kArrayLength; ++i) {
                    d[i] = 45292.5 + i;
                }
                SafeArrayUnaccessData(out->parray);
            }
        } else {
            out->date = 45292.5;
        }
    } else if (base == VT_BSTR) {
        auto text = [](ULONG i) { return Widen("Text " + std::to_string(i)); };
        if (item.type & VT_ARRAY) {
            BSTR* s = nullptr;
            if (SUCCEEDED(SafeArrayAccessData(out->parray, reinterpret_cast<void**>(&s)))) {
                for (ULONG i = 0; i < kArrayLength; ++i) {
                    SysFreeString(s[i]);
                    s[i] = SysAllocString(text(i).c_str());
                }
                SafeArrayUnaccessData(out->parray);
            }
        } else {
            SysFreeString(out->bstrVal);
            out->bstrVal = SysAllocString(OLESTR("Hello"));
        }
    }
}

HRESULT EuInfoValue(const ItemDef& item, VARIANT* out) {
    if (item.euType == kEuAnalog) {
        SAFEARRAY* sa = SafeArrayCreateVector(VT_R8, 0, 2);
        if (!sa) {
            return E_OUTOFMEMORY;
        }
        double* d = nullptr;
        SafeArrayAccessData(sa, reinterpret_cast<void**>(&d));
        d[0] = item.low;
        d[1] = item.high;
        SafeArrayUnaccessData(sa);
        out->vt = VT_ARRAY | VT_R8;
        out->parray = sa;
        return S_OK;
    }
    SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(item.enumTexts.size()));
    if (!sa) {
        return E_OUTOFMEMORY;
    }
    for (LONG i = 0; i < LONG(item.enumTexts.size()); ++i) {
        BSTR s = SysAllocString(item.enumTexts[i].c_str());
        SafeArrayPutElement(sa, &i, s);
        SysFreeString(s);
    }
    out->vt = VT_ARRAY | VT_BSTR;
    out->parray = sa;
    return S_OK;
}

bool MatchesPattern(WStringView text, WStringView pattern) {
    if (pattern.empty()) {
        return true;
    }
    auto fold = [](OLECHAR c) -> OLECHAR { return (c >= 'A' && c <= 'Z') ? OLECHAR(c - 'A' + 'a') : c; };
    // Iterative wildcard match with one backtrack point for the last '*'.
    size_t t = 0, p = 0, starP = WString::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(text[t]))) {
            ++t;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (starP != WString::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

HRESULT AddressSpace::CheckItemIdSyntax(WStringView id) {
    if (id.empty() || id.front() == kIdSeparator || id.back() == kIdSeparator) {
        return OPC_E_INVALIDITEMID;
    }
    for (size_t i = 0; i < id.size(); ++i) {
        if (id[i] < 0x20 || (id[i] == kIdSeparator && i + 1 < id.size() && id[i + 1] == kIdSeparator)) {
            return OPC_E_INVALIDITEMID;
        }
    }
    return S_OK;
}

WString AddressSpace::Join(WStringView branchId, WStringView name) {
    WString id(branchId);
    if (!id.empty()) {
        id += kIdSeparator;
    }
    id += name;
    return id;
}

Branch& AddressSpace::AddBranch(Branch& parent, WStringView name) {
    auto b = std::make_unique<Branch>();
    b->name = WString(name);
    b->id = Join(parent.id, name);
    b->parent = &parent;
    parent.branches.push_back(std::move(b));
    return *parent.branches.back();
}

ItemDef& AddressSpace::AddItem(Branch& parent, WStringView name, VARTYPE type, ItemKind kind) {
    ItemDef item;
    item.name = WString(name);
    item.itemId = Join(parent.id, name);
    item.type = type;
    item.kind = kind;
    item.index = static_cast<uint32_t>(items_.size());
    item.access =
        (kind == ItemKind::Static || kind == ItemKind::Control) ? (kAccessRead | kAccessWrite) : kAccessRead;
    parent.items.push_back(item.index);
    items_.push_back(std::move(item));
    return items_.back();
}

void AddressSpace::Index(const Branch& branch) {
    branchesById_[branch.id] = &branch;
    for (const auto& child : branch.branches) {
        Index(*child);
    }
}

void AddressSpace::AddBulk(Branch& parent, DWORD first, DWORD count, const BulkShape& bulk, int width) {
    if (bulk.branchSize < 2 || count <= bulk.branchSize) {
        for (DWORD i = first; i < first + count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Item%0*u", width, unsigned(i));
            ItemDef& item = AddItem(parent, Widen(name), VT_R8, ItemKind::Ramp);
            item.low = 0;
            item.high = 100;
            item.phase = double(i) / double(bulk.items);
            item.euType = kEuAnalog;
            item.units = OLESTR("%");
        }
        return;
    }
    // The smallest span of items per child branch that leaves at most branchSize children here.
    uint64_t span = bulk.branchSize;
    while ((count + span - 1) / span > bulk.branchSize) {
        span *= bulk.branchSize;
    }
    const DWORD children = static_cast<DWORD>((count + span - 1) / span);
    // At least two digits; a DWORD has at most ten.
    const int groupWidth = std::clamp(static_cast<int>(std::to_string(children).size()), 2, 10);
    for (DWORD c = 0; c < children; ++c) {
        char name[32];
        std::snprintf(name, sizeof name, "Group%0*u", groupWidth, unsigned(c + 1));
        DWORD start = first + static_cast<DWORD>(c * span);
        DWORD n = static_cast<DWORD>(std::min<uint64_t>(span, first + count - start));
        AddBulk(AddBranch(parent, Widen(name)), start, n, bulk, width);
    }
}

std::shared_ptr<const AddressSpace> AddressSpace::Build(bool flat, BulkShape bulkShape) {
    const DWORD bulkItems = bulkShape.items;
    std::shared_ptr<AddressSpace> space(new AddressSpace());
    space->flat_ = flat;
    space->items_.reserve(400 + bulkItems);
    Branch& root = space->root_;

    auto typeWord = [](VARTYPE vt) -> std::string {
        for (const auto& t : kScalarTypes) {
            if (t.vt == vt) {
                return t.name;
            }
        }
        return "Value";
    };

    // Static: writable items of every type, and arrays of them.
    Branch& statics = space->AddBranch(root, OLESTR("Static"));
    Branch& staticArrays = space->AddBranch(statics, OLESTR("Arrays"));
    for (const auto& t : kScalarTypes) {
        space->AddItem(statics, Widen(t.name), t.vt, ItemKind::Static).description =
            Widen(std::string("Writable ") + t.name + " that keeps what is written");
        space->AddItem(staticArrays, Widen(std::string(t.name) + "Array"), VT_ARRAY | t.vt, ItemKind::Static)
            .description = Widen(std::string("Writable array of ") + t.name);
    }
    {
        ItemDef& percent = space->AddItem(statics, OLESTR("Percent"), VT_R8, ItemKind::Static);
        percent.euType = kEuAnalog;
        percent.low = 0;
        percent.high = 100;
        percent.rangeChecked = true;
        percent.units = OLESTR("%");
        percent.description = OLESTR("Writable value between 0 and 100; other values are refused");
        ItemDef& mode = space->AddItem(statics, OLESTR("Mode"), VT_I2, ItemKind::Static);
        mode.euType = kEuEnumerated;
        mode.low = 0;
        mode.high = 2;
        mode.rangeChecked = true;
        mode.enumTexts = {OLESTR("Stopped"), OLESTR("Running"), OLESTR("Fault")};
        mode.description = OLESTR("Operating mode: 0 Stopped, 1 Running, 2 Fault");
    }

    // ReadOnly: constants of every type.
    Branch& readOnly = space->AddBranch(root, OLESTR("ReadOnly"));
    Branch& readOnlyArrays = space->AddBranch(readOnly, OLESTR("Arrays"));
    for (const auto& t : kScalarTypes) {
        space->AddItem(readOnly, Widen(t.name), t.vt, ItemKind::ReadOnly).description =
            Widen(std::string("Read-only ") + t.name);
        space
            ->AddItem(readOnlyArrays, Widen(std::string(t.name) + "Array"), VT_ARRAY | t.vt,
                      ItemKind::ReadOnly)
            .description = Widen(std::string("Read-only array of ") + t.name);
    }

    // Dynamic: one branch per kind of change, every type in each.
    Branch& dynamic = space->AddBranch(root, OLESTR("Dynamic"));
    struct KindInfo {
        ItemKind kind;
        const char* name;
        const char* text;
    };
    const KindInfo kinds[] = {
        {ItemKind::Ramp, "Ramp", "Rises from 0 to 100 in ten seconds, then starts again"},
        {ItemKind::Sine, "Sine", "Sine between 0 and 100 with a period of ten seconds"},
        {ItemKind::Random, "Random", "A new random value between 0 and 100 at every sample"},
        {ItemKind::Square, "Square", "0 and 100 alternately, one second each"},
        {ItemKind::Counter, "Counter", "Counts up ten times a second"},
    };
    for (const auto& k : kinds) {
        Branch& kb = space->AddBranch(dynamic, Widen(k.name));
        double phase = 0.0;
        for (const auto& t : kScalarTypes) {
            ItemDef& item = space->AddItem(kb, Widen(t.name), t.vt, k.kind);
            item.low = 0;
            item.high = 100;
            item.phase = phase;
            phase += 0.07;
            item.description = Widen(k.text);
            if (t.vt != VT_BSTR && t.vt != VT_BOOL && t.vt != VT_DATE && k.kind != ItemKind::Counter) {
                item.euType = kEuAnalog;
                item.units = OLESTR("%");
            }
        }
        for (VARTYPE vt : {VARTYPE(VT_I4), VARTYPE(VT_R8)}) {
            ItemDef& item = space->AddItem(kb, Widen(typeWord(vt) + "Array"), VT_ARRAY | vt, k.kind);
            item.low = 0;
            item.high = 100;
            item.description = Widen(std::string(k.text) + " (each element shifted)");
        }
    }

    // Names that a client has to quote or escape in its own formats.
    Branch& special = space->AddBranch(root, OLESTR("Special Names"));
    for (const OLECHAR* name : {OLESTR("with space"), OLESTR("with/slash"), OLESTR("it's"), OLESTR("dot.ted"),
                                OLESTR("all ./' \"of them\"")}) {
        space->AddItem(special, name, VT_R8, ItemKind::Static).description = OLESTR("Writable, unusual name");
    }
    Branch& dotted = space->AddBranch(special, OLESTR("branch.with.dots"));
    space->AddItem(dotted, OLESTR("value"), VT_I4, ItemKind::Static).description = OLESTR("Writable");
    Branch& slashed = space->AddBranch(special, OLESTR("branch/with 'slash'"));
    space->AddItem(slashed, OLESTR("value"), VT_I4, ItemKind::Static).description = OLESTR("Writable");

    // Control: writing these makes the server misbehave on purpose.
    Branch& control = space->AddBranch(root, OLESTR("Control"));
    struct ControlInfo {
        ControlKind kind;
        const char* name;
        VARTYPE vt;
        const char* text;
    };
    const ControlInfo controls[] = {
        {ControlKind::ServerState, "ServerState", VT_I4,
         "Server state: 1 running, 2 failed, 3 not configured, 4 suspended, 5 test"},
        {ControlKind::ShutdownRequest, "ShutdownRequest", VT_BSTR,
         "Writing a reason asks every connected client to disconnect"},
        {ControlKind::FailMethod, "FailMethod", VT_BSTR,
         "Method (\"Read\" or \"IOPCSyncIO.Read\") whose next FailCount calls fail"},
        {ControlKind::FailHResult, "FailHResult", VT_I4, "Result the failing calls return"},
        {ControlKind::FailCount, "FailCount", VT_I4, "Number of calls of FailMethod that still fail"},
        {ControlKind::DelayMs, "DelayMs", VT_I4, "Every call waits this many milliseconds"},
        {ControlKind::RefuseCallbacks, "RefuseCallbacks", VT_BOOL, "New callback connections are refused"},
        {ControlKind::DropCallbacks, "DropCallbacks", VT_BOOL, "Callbacks are silently not made"},
        {ControlKind::RefuseItems, "RefuseItems", VT_BSTR,
         "Items whose IDs match this pattern ('*', '?') are refused as unknown; Control items never are"},
    };
    for (const auto& c : controls) {
        ItemDef& item = space->AddItem(control, Widen(c.name), c.vt, ItemKind::Control);
        item.control = c.kind;
        item.description = Widen(c.text);
    }

    // Bulk: many analog ramps for scale tests.
    Branch& bulk = space->AddBranch(root, OLESTR("Bulk"));
    int width = std::max<int>(4, static_cast<int>(std::to_string(bulkItems).size()));
    space->AddBulk(bulk, 1, bulkItems, bulkShape, width);

    space->itemsById_.reserve(space->items_.size());
    for (const auto& item : space->items_) {
        space->itemsById_.emplace(item.itemId, item.index);
    }
    space->Index(root);
    return space;
}

const ItemDef* AddressSpace::FindItem(WStringView itemId) const {
    auto it = itemsById_.find(WString(itemId));
    return it == itemsById_.end() ? nullptr : &items_[it->second];
}

const Branch* AddressSpace::FindBranch(WStringView branchId) const {
    auto it = branchesById_.find(WString(branchId));
    return it == branchesById_.end() ? nullptr : it->second;
}

const Branch* AddressSpace::FindChild(const Branch& parent, WStringView name) const {
    for (const auto& b : parent.branches) {
        if (b->name == name) {
            return b.get();
        }
    }
    return nullptr;
}

const ItemDef* AddressSpace::FindLeaf(const Branch& parent, WStringView name) const {
    for (uint32_t i : parent.items) {
        if (items_[i].name == name) {
            return &items_[i];
        }
    }
    return nullptr;
}

const ItemDef* AddressSpace::FindControl(ControlKind kind) const {
    for (const auto& item : items_) {
        if (item.control == kind) {
            return &item;
        }
    }
    return nullptr;
}

}  // namespace nv::sim
