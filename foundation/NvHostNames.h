// Host names: the hosts of the network, this computer's name, and whether a name means this
// computer.
#pragma once

#include <string>

#include "foundation/NvStringList.h"
#include "platform/win32.h"

namespace nv {

// Clears the list and fills it with the hosts the network's browse service knows in the domain
// ("" for the primary one), each entry carrying its platform identifier (read it back with
// HostPlatformId). Raises Exception with the browse service's failure on error, leaving the list
// empty.
void ListNetworkHosts(TNvStringList& list, const std::string& domain = "");
// The platform identifier attached to an entry of ListNetworkHosts (500 for Windows NT hosts).
DWORD HostPlatformId(const TNvStringList& list, int index);
// Raises Exception "Unknown error. Code=%x" on failure.
std::string LocalComputerName();
// True for "", "localhost" and this computer's name, in any letter case. Never raises: when the
// computer's name cannot be learnt, every other name is remote.
bool IsLocalHost(const std::string& name);

}  // namespace nv
