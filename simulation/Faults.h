// The misbehaving classes of the norvane-opcsim module: DA 2.0 servers like
// Norvane.Simulation.1, each breaking the interface rules in one way, so that a client can be
// tried against the servers it will meet in the field. They are never in the module's shipped
// registration: a test registers the one it wants (ProgID "Norvane.Simulation.Faulty.<Name>",
// class ID FaultyClassId) with InprocServer32 naming the module.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace nv::sim {

enum class Fault : std::uint8_t {
    None = 0,
    NullAddResults,          // AddItems: S_OK with neither result nor error array; nothing added
    NullReadResults,         // IOPCSyncIO::Read: S_OK with neither item states nor errors
    NullWriteErrors,         // IOPCSyncIO::Write: writes, then S_OK without the error array
    NullAsyncErrors,         // IOPCAsyncIO2::Read/Write: queued as usual, S_OK without the error array
    NullGroup,               // AddGroup: S_OK without the group object
    NullErrorString,         // GetErrorString: S_OK without the text
    BrowseExtraNames,        // IEnumString::Next: claims more names than it was asked for
    BrowseFewerNames,        // IEnumString::Next: S_OK with one name whatever was asked, S_OK at the end
    BogusItemHandles,        // AddItems: server handles it never honours afterwards
    BadCanonicalType,        // AddItems: a canonical data type no VARIANT has (0x7777)
    UnknownClientHandles,    // subscriptions name client handles the group never gave
    OtherGroupHandle,        // subscriptions name the group handle of the client's next group
    UnknownTransactions,     // read, write and refresh completions name transactions never started
    NullCallbackArrays,      // subscriptions announce items but pass no arrays
    ForeignValueTypes,       // values in VARIANT types outside the published set
    CallbackAfterUnadvise,   // Unadvise succeeds, yet the sink keeps getting every data change
    CallbackDuringUnadvise,  // Unadvise sends one more data change, from another thread, before returning
    CallbackFlood,           // the first subscription is 20000 data changes back to back
    ShutdownMidCall,         // IOPCSyncIO::Read asks the client to shut down before it returns
    StatusOutOfRange,        // GetStatus: server state 77
    StatusNullVendor,        // GetStatus: no vendor text
    SlowAddItems,            // AddItems takes FaultDelayMs (default 30 s)
    FailAfterRestart,        // a shutdown request written to Control.ShutdownRequest restarts the
                             // server silently; from then on every call fails with E_FAIL
    Count
};

// {6E0F2A31-4C1B-4D7E-9A51-3B2C8D0EFAnn}, nn = the fault's number.
inline constexpr GUID FaultyClassId(Fault fault) {
    return {0x6E0F2A31, 0x4C1B, 0x4D7E, {0x9A, 0x51, 0x3B, 0x2C, 0x8D, 0x0E, 0xFA, static_cast<BYTE>(fault)}};
}

inline const char* FaultName(Fault fault) {
    static const char* const names[] = {
        "None",
        "NullAddResults",
        "NullReadResults",
        "NullWriteErrors",
        "NullAsyncErrors",
        "NullGroup",
        "NullErrorString",
        "BrowseExtraNames",
        "BrowseFewerNames",
        "BogusItemHandles",
        "BadCanonicalType",
        "UnknownClientHandles",
        "OtherGroupHandle",
        "UnknownTransactions",
        "NullCallbackArrays",
        "ForeignValueTypes",
        "CallbackAfterUnadvise",
        "CallbackDuringUnadvise",
        "CallbackFlood",
        "ShutdownMidCall",
        "StatusOutOfRange",
        "StatusNullVendor",
        "SlowAddItems",
        "FailAfterRestart",
    };
    static_assert(sizeof names / sizeof names[0] == static_cast<std::size_t>(Fault::Count));
    return fault < Fault::Count ? names[static_cast<std::size_t>(fault)] : "";
}

inline std::string FaultyProgID(Fault fault) {
    return std::string("Norvane.Simulation.Faulty.") + FaultName(fault);
}

// The fault of a class ID, or Fault::None when it is not one of the faulty classes.
inline Fault FaultOfClassId(REFCLSID clsid) {
    GUID base = FaultyClassId(Fault::None);
    base.Data4[7] = clsid.Data4[7];
    if (!IsEqualGUID(base, clsid) || clsid.Data4[7] == 0 ||
        clsid.Data4[7] >= static_cast<BYTE>(Fault::Count)) {
        return Fault::None;
    }
    return static_cast<Fault>(clsid.Data4[7]);
}

// Registry value (REG_DWORD) under CLSID\{...} of a faulty class: how long its slow calls take.
inline constexpr const OLECHAR* FaultDelayValueName = OLESTR("FaultDelayMs");
inline constexpr DWORD DefaultFaultDelayMs = 30000;
// The number of data changes CallbackFlood sends, and the value the last one carries.
inline constexpr LONG FloodCallbacks = 20000;
// The server state StatusOutOfRange reports, and the canonical type BadCanonicalType hands out.
inline constexpr DWORD OutOfRangeState = 77;
inline constexpr VARTYPE BadCanonicalVarType = 0x7777;
// Added to client handles by UnknownClientHandles, to transaction IDs by UnknownTransactions.
inline constexpr DWORD BogusClientHandleOffset = 0x10000;
inline constexpr DWORD BogusTransactionOffset = 1000;
inline constexpr DWORD BogusServerHandleOffset = 0x5A5A0000;

}  // namespace nv::sim
