// Packing of the DA 1.0a data streams into global memory.
//
// Value records embed this process's own VARIANT and SAFEARRAY layouts, as every in-process
// writer of these streams does; the sizes are computed exactly first and every write is checked
// against them, so a value can never write past its block.
#pragma once

#include "opc/include/opc.h"

#include <vector>

namespace nv::sim {

struct StreamEntry {
    OPCHANDLE hClient;
    WORD quality;
    FILETIME timeStamp;
    const VARIANT* value;
};

// OPCSTMFORMATDATA (withTime false) or OPCSTMFORMATDATATIME. Returns nullptr and sets *error on
// failure (a block over 4 GiB, or no memory).
HGLOBAL PackDataStream(bool withTime, OPCHANDLE hClientGroup, DWORD transactionId, HRESULT status,
                       const std::vector<StreamEntry>& entries, HRESULT* error);
// OPCSTMFORMATWRITECOMPLETE.
HGLOBAL PackWriteCompleteStream(OPCHANDLE hClientGroup, DWORD transactionId, HRESULT status,
                                const std::vector<OPCHANDLE>& clientHandles,
                                const std::vector<HRESULT>& errors, HRESULT* error);

}  // namespace nv::sim
