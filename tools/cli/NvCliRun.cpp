#include "tools/cli/NvCliCommands.h"

#include <chrono>
#include <filesystem>
#include <fstream>

#include "app/Configuration.h"
#include "foundation/NvEventLoop.h"
#include "foundation/NvExceptions.h"
#include "foundation/NvSysUtils.h"
#include "opc/NvOPCGroup.h"

namespace nv::cli {

int RunConfiguration(const TNvCliRunOptions& options, TNvCliOutput& out) {
    // A configuration that is not there would load as an empty one and run nothing.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::u8path(options.File), ec))
        throw EFOpenError("Cannot open file \"" + options.File + "\". No such file");

    // The log is opened before anything connects, so that a file that cannot be written costs
    // no server round trip.
    std::ofstream logFile;
    if (!options.LogFile.empty()) {
        logFile.open(std::filesystem::u8path(options.LogFile), std::ios::binary | std::ios::trunc);
        if (!logFile)
            throw EFCreateError("Cannot create file \"" + options.LogFile + "\".");
    }

    TConfiguration configuration;
    configuration.SetFileName(options.File);
    configuration.Load();
    TNvOPCServer* server = configuration.Server();
    TNvOPCLog* log = server->Log();
    // Every entry leaves the log as it is recorded: to the file, in the log file's own form (each
    // entry followed by CR LF), or to standard output. The buffer itself stays small.
    log->SetActive(true);
    log->SetMaxLines(100);
    bool logFailed = false;
    log->OnChange = [&](TObject*, const std::string& message) {
        const std::string& line = log->Lines(log->Count() - 1);
        if (logFile.is_open()) {
            logFile.write(line.data(), static_cast<std::streamsize>(line.size()));
            logFile.write("\r\n", 2);
            logFile.flush();
            logFailed = logFailed || !logFile;
        } else if (out.Json()) {
            out.Object({{"time", line.substr(0, line.size() - message.size() - 1)}, {"entry", message}});
        } else {
            for (const std::string& l : SplitLines(line))
                out.Text(l);
        }
    };
    std::string shutdown;
    server->OnShutDown = [&](TObject*, const std::string& reason) {
        shutdown = Format("Shutdown from %s.  Reason=%s", server->ServerName(), reason);
    };
    // The window polls the status every ten seconds; so does a run, which is how a group that
    // could not connect is tried again.
    server->SetStatusInterval(10000);
    server->SetConnected(true);
    int status = kExitOk;
    for (int i = 0; i < server->GroupCount(); ++i) {
        auto* group = dynamic_cast<TNvOPCGroup*>(server->Groups(i));
        if (group != nullptr && !group->Connected()) {
            ReportError(
                Format("Group '%s' did not connect; see the transaction log.", group->GetGroupName()));
            status = kExitFailed;
        }
    }

    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(static_cast<long long>(options.Seconds * 1000));
    while (!Interrupted() && shutdown.empty() && !out.Failed() && !logFailed) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            break;
        WaitAndProcess(static_cast<int>(std::min<long long>(left, 100)));
        out.Flush();
    }
    // Disconnecting removes the groups from the server and is logged as well.
    server->SetConnected(false);
    log->OnChange = nullptr;
    out.Flush();
    if (!shutdown.empty()) {
        ReportError(shutdown);
        status = kExitFailed;
    }
    if (logFailed) {
        ReportError("Cannot write the log to \"" + options.LogFile + "\".");
        status = kExitFailed;
    }
    return status;
}

}  // namespace nv::cli
