// `check`: an interoperability check of one OPC DA server. For every interface the server
// offers, each method is called in ways that must succeed and in ways that must fail (unknown
// items, bad handles, bad types, read-only writes, bad browse positions, bad rates, duplicate
// group names), and what the server answers is compared with the published interface rules.
//
// The calls go straight to the server's interfaces, not through the client's groups and items:
// what is checked is the server, and the client core would hide answers it treats alike.
//
// A server that breaks the rules fails a row that says what it did, and the check goes on: results
// without their arrays, enumerators that miscount (never read past what was asked for), canonical
// types no value has, values in other types, callbacks naming handles or transactions the check
// never gave, callbacks after or during Unadvise, more data changes than the update rate allows.
// A request to disconnect ends the check after the row it came in. A call that takes longer than
// the time-out fails its row; one that has not returned after twice the time-out ends the check
// and the process (the call cannot be abandoned), with a row naming it and the summary.
#pragma once

#include <string>
#include <vector>

#include "tools/cli/NvCliSupport.h"

namespace nv::cli {

struct TNvCliCheckOptions {
    TNvCliServerOptions Server;
    // Items the checks use; found by browsing the server when not given.
    std::string ReadItem;
    std::string WriteItem;
    std::string ReadOnlyItem;
    // ITEM=VALUE writes made before the checks, through the client's own group (a test mode of
    // the server, for one).
    std::vector<std::string> Setup;
    // Milliseconds to wait for each callback, and the longest a call may take (see above).
    int TimeoutMs = 10000;
};

enum class TNvCheckVerdict { Pass, Fail, Skip };

struct TNvCheckRow {
    std::string Name;      // "IOPCSyncIO.Write(read-only item)"
    std::string Expected;  // "S_FALSE, item OPC_E_BADRIGHTS"
    HRESULT Result = S_OK;
    bool HasResult = false;
    std::string Detail;  // what else was seen, or why the check was skipped
    TNvCheckVerdict Verdict = TNvCheckVerdict::Pass;
};

// Runs every check and prints one row per check and a summary. kExitFailed when any check
// failed.
int RunCheck(const TNvCliCheckOptions& options, TNvCliOutput& out);

}  // namespace nv::cli
