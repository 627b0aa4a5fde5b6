// Process-wide security set-up for talking to OPC servers: no authentication and identify-level
// impersonation, so that servers on other hosts can call back into this process without a
// shared domain account. Called once, right after the program joins the multithreaded
// apartment and before it creates any server.
#pragma once

namespace nv {

// Calls CoInitializeSecurity the first time only; its result is not used, because a host
// process may already have set its own security, which then stays in force. Returns true for
// the call that made the set-up, false for every later one. Safe from any thread.
bool InitializeOPCSecurity();
bool OPCSecurityInitialized();

}  // namespace nv
