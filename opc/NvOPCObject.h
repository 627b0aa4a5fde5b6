#pragma once

#include <string>

#include "platform/win32.h"

namespace nv {

// Creates an object of an OPC server or of a host's enumeration service, on this computer or on
// a named host, and returns its IUnknown (the caller releases it). Raises EOleSysError with the
// creation's result code when the class cannot be created.
IUnknown* CreateOPCObject(REFCLSID classID, const std::string& host);

}  // namespace nv
