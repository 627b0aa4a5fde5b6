// Kernel-level calls of the stand-in: last error, and (added by their owners) profile files,
// system message texts, global memory, clipboard formats, time, computer name.
#pragma once

#include "platform/posix/wintypes.h"

extern "C" {
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
}
