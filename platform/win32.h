// The one header through which the code reaches the Windows API.
// On Windows it is the SDK; elsewhere it is our stand-in with the same names, semantics and
// the Windows x64 binary layout.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <comcat.h>
#include <ocidl.h>
#include <oleauto.h>
#include <olectl.h>
#include <lm.h>
#include <winver.h>
#else
#include "platform/posix/wintypes.h"
#include "platform/posix/winerror.h"
#include "platform/posix/unknwn.h"
#include "platform/posix/com.h"
#include "platform/posix/objidl.h"
#include "platform/posix/oleauto.h"
#include "platform/posix/registry.h"
#include "platform/posix/kernel.h"
#include "platform/posix/locale.h"
#include "platform/posix/netapi.h"
#endif

#include "platform/NvLayoutChecks.h"
