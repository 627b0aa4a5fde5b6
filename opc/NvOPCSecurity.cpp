#include "opc/NvOPCSecurity.h"

#include <atomic>
#include <mutex>

#include "platform/win32.h"

namespace nv {

namespace {

std::once_flag gSecurityOnce;
std::atomic<bool> gSecurityDone{false};

}  // namespace

bool InitializeOPCSecurity() {
    bool madeNow = false;
    std::call_once(gSecurityOnce, [&madeNow] {
        // Servers on other hosts call back (data changes, shutdown requests) under their own
        // accounts; without authentication those callbacks are not refused. A failure (the
        // process already has its security) leaves the existing set-up in force.
        (void)CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                                   RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
        gSecurityDone = true;
        madeNow = true;
    });
    return madeNow;
}

bool OPCSecurityInitialized() {
    return gSecurityDone;
}

}  // namespace nv
