// The transaction log of one server connection: a line log that records every checked OPC call
// with its result, every transaction, and the server's own messages.
#pragma once

#include <string>

#include "foundation/NvLog.h"
#include "platform/win32.h"

namespace nv {

class TNvOPCServer;

class TNvOPCLog : public TNvLog {
public:
    // A log always belongs to a server; null raises EAssertionFailed.
    explicit TNvOPCLog(TNvOPCServer* server);

    TNvOPCServer* Server() const { return FServer; }

    // "IOPCItemMgt.AddItems: Result=$0 (OK)", recorded like any other line.
    void AddResult(REFIID iid, const std::string& method, HRESULT code);

protected:
    TNvOPCServer* FServer;
};

}  // namespace nv
