// The commands of norvane-opc. Each returns the program's exit status (kExitOk, kExitFailed) and
// raises for failures it leaves to the caller to report (a server that cannot be reached, an OPC
// call whose error the core raises); the caller reports those in the core's own words.
#pragma once

#include <string>
#include <vector>

#include "tools/cli/NvCliSupport.h"

namespace nv::cli {

struct TNvCliServersOptions {
    std::string Host;
    bool DA1 = false;
    bool DA2 = false;
    bool Registry = false;
};
int RunServers(const TNvCliServersOptions& options, TNvCliOutput& out);

int RunStatus(const TNvCliServerOptions& server, TNvCliOutput& out);

struct TNvCliBrowseOptions {
    TNvCliServerOptions Server;
    bool Flat = false;
    std::string ExportFile;
};
int RunBrowse(const TNvCliBrowseOptions& options, TNvCliOutput& out);

struct TNvCliReadOptions {
    TNvCliServerOptions Server;
    std::vector<std::string> Items;
    bool Device = false;
    bool Async = false;
    int TimeoutMs = 10000;
};
int RunRead(const TNvCliReadOptions& options, TNvCliOutput& out);

struct TNvCliWriteOptions {
    TNvCliServerOptions Server;
    std::string Item;
    std::string Value;
    std::string Type;  // empty: the item's own data type
    bool Async = false;
    int TimeoutMs = 10000;
};
int RunWrite(const TNvCliWriteOptions& options, TNvCliOutput& out);

struct TNvCliWatchOptions {
    TNvCliServerOptions Server;
    std::vector<std::string> Items;
    unsigned Rate = 1000;
    float Deadband = 0.0f;
    bool Async = false;
    double Seconds = 0;  // 0: until interrupted
};
int RunWatch(const TNvCliWatchOptions& options, TNvCliOutput& out);

struct TNvCliRunOptions {
    std::string File;
    double Seconds = 10;
    std::string LogFile;  // empty: the log entries go to standard output
};
// Loads a saved configuration, connects, runs its groups for the time given with the
// transaction log on, and writes the log as it is recorded.
int RunConfiguration(const TNvCliRunOptions& options, TNvCliOutput& out);

// The variant type a --type name stands for: a data type's word ("Integer", "Double", ...), its
// enumerator name ("vdtInteger") or a VT_ name ("VT_I4"), letter case ignored; also a plain
// type number. Raises EConvertError with the accepted names when none fits.
VARTYPE ParseTypeName(const std::string& name);

}  // namespace nv::cli
