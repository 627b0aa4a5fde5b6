// The address space of a simulation server: which items exist, how they are organised into
// branches, and how the values of the self-changing items are computed.
//
// Item IDs join branch and leaf names with '.'; every ID is looked up in a table, never parsed,
// so names that themselves contain '.', '/', quotes or spaces are unambiguous as long as no two
// paths join to the same text (the builder guarantees that).
#pragma once

#include "simulation/ComSupport.h"

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace nv::sim {

inline constexpr OLECHAR kIdSeparator = OLESTR('.');

enum class ItemKind : uint8_t {
    Static,    // writable, keeps what is written
    ReadOnly,  // constant
    Ramp,      // low to high in ten seconds, then again
    Sine,      // one period in ten seconds between low and high
    Random,    // a new value at every sample
    Square,    // low and high alternately, one second each
    Counter,   // counts up ten times a second
    Control,   // writable; writing it changes the server's behaviour
};

enum class ControlKind : uint8_t {
    None,
    ServerState,      // VT_I4: 1 running, 2 failed, 3 not configured, 4 suspended, 5 test
    ShutdownRequest,  // VT_BSTR: writing a reason asks every connected client to shut down
    FailMethod,       // VT_BSTR: "Method" or "Interface.Method" whose next calls fail
    FailHResult,      // VT_I4: the result those calls return
    FailCount,        // VT_I4: how many calls still fail
    DelayMs,          // VT_I4: every call waits this long before it runs
    RefuseCallbacks,  // VT_BOOL: new callback connections are refused
    DropCallbacks,    // VT_BOOL: callbacks are silently not made
    RefuseItems,      // VT_BSTR: item IDs matching this pattern are refused as unknown
};

inline constexpr DWORD kAccessRead = 0x01;
inline constexpr DWORD kAccessWrite = 0x02;
inline constexpr DWORD kEuNone = 0;
inline constexpr DWORD kEuAnalog = 1;
inline constexpr DWORD kEuEnumerated = 2;

struct ItemDef {
    WString itemId;           // fully qualified
    WString name;             // leaf name
    VARTYPE type = VT_EMPTY;  // canonical type, possibly VT_ARRAY | base
    DWORD access = kAccessRead;
    ItemKind kind = ItemKind::Static;
    ControlKind control = ControlKind::None;
    DWORD euType = kEuNone;
    double low = 0.0;  // EU range; for Static items with a range, writes outside it are refused
    double high = 0.0;
    bool rangeChecked = false;
    std::vector<WString> enumTexts;
    WString units;
    WString description;
    double phase = 0.0;  // fraction of a period, so that items of one kind differ
    uint32_t index = 0;  // position in AddressSpace::Items()
};

struct Branch {
    WString name;
    WString id;  // fully qualified; empty for the root
    const Branch* parent = nullptr;
    std::vector<std::unique_ptr<Branch>> branches;
    std::vector<uint32_t> items;
};

// The size of the Bulk branch: `items` analog ramps, directly in Bulk when `branchSize` is 0,
// otherwise spread over nested branches ("Group01", ...) that hold at most `branchSize` children
// each, so that large hierarchical spaces can be walked.
struct BulkShape {
    DWORD items = 0;
    DWORD branchSize = 0;
};

class AddressSpace {
public:
    // The standard address space; `flat` only changes how it is browsed.
    static std::shared_ptr<const AddressSpace> Build(bool flat, BulkShape bulk);

    bool Flat() const { return flat_; }
    const std::vector<ItemDef>& Items() const { return items_; }
    const Branch& Root() const { return root_; }
    const ItemDef* FindItem(WStringView itemId) const;
    const Branch* FindBranch(WStringView branchId) const;  // "" is the root
    const Branch* FindChild(const Branch& parent, WStringView name) const;
    const ItemDef* FindLeaf(const Branch& parent, WStringView name) const;
    const ItemDef* FindControl(ControlKind kind) const;

    // S_OK if the text could be an item ID of this server, else OPC_E_INVALIDITEMID.
    static HRESULT CheckItemIdSyntax(WStringView itemId);
    static WString Join(WStringView branchId, WStringView name);

private:
    AddressSpace() = default;
    Branch& AddBranch(Branch& parent, WStringView name);
    ItemDef& AddItem(Branch& parent, WStringView name, VARTYPE type, ItemKind kind);
    // Bulk items first .. first + count - 1 (numbered from 1) below parent.
    void AddBulk(Branch& parent, DWORD first, DWORD count, const BulkShape& bulk, int width);
    void Index(const Branch& branch);

    bool flat_ = false;
    Branch root_;
    std::vector<ItemDef> items_;
    std::unordered_map<WString, uint32_t> itemsById_;
    std::unordered_map<WString, const Branch*> branchesById_;
};

// Browse-filter match: '*' any run of characters, '?' one character, case-insensitive for
// ASCII letters; an empty pattern matches everything.
bool MatchesPattern(WStringView text, WStringView pattern);

// The first value of an item (Static, ReadOnly and Control items keep it until written).
void InitialValue(const ItemDef& item, VARIANT* out);
// The value of a self-changing item at `seconds` since the server started; `sample` numbers
// the sampling so that random items change once per sample and not per reader.
void ComputeValue(const ItemDef& item, double seconds, uint64_t sample, DATE now, VARIANT* out);
bool IsDynamic(ItemKind kind);
// The EU information of an analog (low and high as VT_ARRAY | VT_R8) or enumerated item (texts
// as VT_ARRAY | VT_BSTR).
HRESULT EuInfoValue(const ItemDef& item, VARIANT* out);

// Current system time as FILETIME and as DATE.
FILETIME NowFileTime();
DATE FileTimeToDate(const FILETIME& ft);

}  // namespace nv::sim
