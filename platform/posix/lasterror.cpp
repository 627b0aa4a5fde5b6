#include "platform/win32.h"

namespace {
thread_local DWORD lastError = 0;
}

extern "C" DWORD GetLastError() { return lastError; }
extern "C" void SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }
