// The transaction log of one server connection: a line log that records every checked OPC call
// with its result, every transaction, and the server's own messages.
#pragma once

#include <string>

#include "foundation/NvLog.h"
#include "platform/win32.h"

namespace nv {

class TNvOPCServer;
class TNvOPCTransaction;

class TNvOPCLog : public TNvLog {
public:
    // A log always belongs to a server; null raises EAssertionFailed.
    explicit TNvOPCLog(TNvOPCServer* server);

    TNvOPCServer* Server() const { return FServer; }

    // "IOPCItemMgt.AddItems: Result=$0 (OK)", recorded like any other line.
    void AddResult(REFIID iid, const std::string& method, HRESULT code);
    // The transaction in full (its header and one line per entry); "Invalid transaction" when
    // the group could not find the one a callback named. Nothing at all while inactive.
    void AddTransaction(const TNvOPCTransaction* transaction);

protected:
    TNvOPCServer* FServer;
};

}  // namespace nv
