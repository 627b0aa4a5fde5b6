// Class IDs and ProgIDs of the simulation servers in the norvane-opcsim module. The .reg files
// that register the module use the same values.
#pragma once

#include "platform/win32.h"

namespace nv::sim {

// DA 2.0 server that also offers the DA 1.0a interfaces; hierarchical address space.
inline constexpr GUID CLSID_Simulation = {
    0x6E0F2A31, 0x4C1B, 0x4D7E, {0x9A, 0x51, 0x3B, 0x2C, 0x8D, 0x0E, 0x1F, 0x01}};
// DA 1.0a only: no IOPCCommon, no connection points, no IOPCAsyncIO2.
inline constexpr GUID CLSID_SimulationDA1 = {
    0x6E0F2A31, 0x4C1B, 0x4D7E, {0x9A, 0x51, 0x3B, 0x2C, 0x8D, 0x0E, 0x1F, 0x02}};
// DA 2.0 with a flat address space.
inline constexpr GUID CLSID_SimulationFlat = {
    0x6E0F2A31, 0x4C1B, 0x4D7E, {0x9A, 0x51, 0x3B, 0x2C, 0x8D, 0x0E, 0x1F, 0x03}};

inline constexpr const OLECHAR* ProgID_Simulation = OLESTR("Norvane.Simulation.1");
inline constexpr const OLECHAR* ProgID_SimulationDA1 = OLESTR("Norvane.Simulation.DA1.1");
inline constexpr const OLECHAR* ProgID_SimulationFlat = OLESTR("Norvane.Simulation.Flat.1");

// Registry value (REG_DWORD) under CLSID\{...} of a class: the number of items in its Bulk
// branch, read when a server object is created.
inline constexpr const OLECHAR* BulkItemsValueName = OLESTR("BulkItems");
inline constexpr DWORD DefaultBulkItems = 1000;
inline constexpr DWORD MaxBulkItems = 1000000;
// Registry value (REG_DWORD) beside BulkItems: when 2 or more, the Bulk items are spread over
// nested branches of at most this many children each; 0 (or missing) keeps them all in Bulk.
inline constexpr const OLECHAR* BulkBranchSizeValueName = OLESTR("BulkBranchSize");

}  // namespace nv::sim
