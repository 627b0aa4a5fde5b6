// What every command of norvane-opc shares: the process set-up (the multithreaded apartment,
// process security, the installed server lookup and address space), the interruption flag that
// Ctrl+C raises, the output of one text line or one JSON object per result, and the server
// connection made from the common options.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "opc/NvOPCServer.h"
#include "platform/win32.h"

namespace nv::cli {

// Exit statuses of the program.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a check or an OPC call failed
constexpr int kExitUsage = 2;

// The options every server command takes.
struct TNvCliServerOptions {
    std::string Host;    // empty: this computer
    std::string Server;  // ProgID or CLSID text
};

// The process as the commands need it, for the lifetime of the object: joined to the
// multithreaded apartment, process security set, servers found by name through the host's
// server list, address spaces available, message boxes and escaped exceptions written to
// standard error.
class TNvCliProcess {
public:
    TNvCliProcess();
    ~TNvCliProcess();
    TNvCliProcess(const TNvCliProcess&) = delete;
    TNvCliProcess& operator=(const TNvCliProcess&) = delete;

    // Messages of exceptions that escaped a timer or notice handler since the last call.
    std::vector<std::string> TakeEscapedErrors();

private:
    bool comInitialized_ = false;
};

// Ctrl+C (and a termination request) only raise a flag that the pumping loops look at, so that
// groups are removed and the server released on the way out.
void InstallInterruptHandler();
bool Interrupted();
// Tests and the loops themselves may raise it too.
void RequestInterrupt();

// One result per line on standard output: text, or a JSON object. Output goes through a large
// buffer (a watch of many items writes many lines); a write that fails (a closed pipe) is
// remembered so that long-running commands stop instead of writing into the void.
class TNvCliOutput {
public:
    TNvCliOutput(bool json, std::FILE* stream = stdout);
    ~TNvCliOutput();
    bool Json() const { return json_; }
    void Text(const std::string& line);
    void Object(const nlohmann::json& object);
    void Flush();
    bool Failed() const { return failed_; }

private:
    void Write(const std::string& line);
    bool json_;
    std::FILE* stream_;
    bool failed_ = false;
};

// Writes "norvane-opc: <message>" to standard error.
void ReportError(const std::string& message);

// A server component set up from the options and connected. Raises what connecting raises.
std::unique_ptr<TNvOPCServer> ConnectServer(const TNvCliServerOptions& options, unsigned statusInterval = 0);

// Pumps the event loop until done() is true, the timeout (milliseconds, negative for none) has
// passed, or the user interrupted. True when done() became true.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);

// "$C0040007 (OPC_E_UNKNOWNITEMID)" as the log writes codes; "0xC0040007" for JSON.
std::string ResultText(HRESULT code);
std::string HexCode(HRESULT code);

// A transaction text as the log writes it (lines ended by CR LF), as lines without their ends.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace nv::cli
