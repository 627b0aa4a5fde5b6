// norvane-opc: scripted checks of OPC DA servers on the client core, for scripts and CI
// pipelines. One subcommand per task (servers, status, browse, read, write, watch, check, run); text
// or one JSON object per line on standard output; errors on standard error in the core's own
// words. Exit status 0 on success, 1 when a check or an OPC call failed, 2 for bad usage.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <tuple>
#include <vector>

#include "tools/cli/NvCliCheck.h"
#include "tools/cli/NvCliCommands.h"
#include "tools/cli/NvCliSupport.h"

namespace {

using namespace nv::cli;

void AddServerOptions(CLI::App* command, TNvCliServerOptions& options) {
    command->add_option("--host", options.Host, "Host of the server (default: this computer)");
    command->add_option("server", options.Server, "The server's ProgID or CLSID")->required();
}

// The usage line of the command that was being parsed (or of the program).
std::string UsageOf(const CLI::App& app) {
    const CLI::App* command = &app;
    for (const CLI::App* sub : app.get_subcommands())
        command = sub;
    std::string name = command == &app ? app.get_name() : app.get_name() + " " + command->get_name();
    auto formatter = std::dynamic_pointer_cast<CLI::Formatter>(app.get_formatter());
    std::string usage = formatter ? formatter->make_usage(command, name) : "Usage: " + name;
    while (!usage.empty() && (usage.back() == '\n' || usage.back() == ' '))
        usage.pop_back();
    // CLI11 starts with a blank line and "Usage: "; one line is what a script log wants.
    std::size_t start = usage.find_first_not_of('\n');
    return start == std::string::npos ? usage : usage.substr(start);
}

// Appends the non-empty lines of the file (or standard input for "-"), without their line ends.
bool ReadItemIDs(const std::string& file, std::vector<std::string>& items) {
    std::ifstream stream;
    std::istream* in = &std::cin;
    if (file != "-") {
        stream.open(std::filesystem::u8path(file));
        if (!stream) {
            std::fprintf(stderr, "norvane-opc: Cannot open file \"%s\"\n", file.c_str());
            return false;
        }
        in = &stream;
    }
    std::string line;
    while (std::getline(*in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            items.push_back(line);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Scripted checks of OPC Data Access servers: list servers, read the status, browse, read, "
        "write and watch items, and check a server against the published interface rules.",
        "norvane-opc"};
    app.require_subcommand(1);
    // --json may come before or after the subcommand.
    app.fallthrough();
    bool json = false;
    app.add_flag("--json", json, "One JSON object per line instead of text");

    TNvCliServersOptions servers;
    CLI::App* serversCommand = app.add_subcommand("servers", "List the OPC DA servers of a host");
    serversCommand->add_option("--host", servers.Host,
                               "Host whose servers are listed (default: this computer)");
    serversCommand->add_flag("--da1", servers.DA1, "DA 1.0 servers (with --da2: both; neither: both)");
    serversCommand->add_flag("--da2", servers.DA2, "DA 2.0 servers");
    serversCommand->add_flag("--registry", servers.Registry, "Also search the host's registry");

    TNvCliServerOptions status;
    CLI::App* statusCommand = app.add_subcommand("status", "Connect, print the server's status, disconnect");
    AddServerOptions(statusCommand, status);

    TNvCliBrowseOptions browse;
    CLI::App* browseCommand = app.add_subcommand("browse", "Print or export the server's address space");
    AddServerOptions(browseCommand, browse.Server);
    browseCommand->add_flag("--flat", browse.Flat, "Browse the space flat: every item ID at one level");
    browseCommand->add_option("--export", browse.ExportFile, "Write the address space export file instead");

    TNvCliReadOptions read;
    CLI::App* readCommand = app.add_subcommand("read", "Read items in one transaction and print it");
    AddServerOptions(readCommand, read.Server);
    std::string readItemsFrom;
    readCommand->add_option("items", read.Items, "Item IDs");
    readCommand->add_option("--items-from", readItemsFrom,
                            "Also the item IDs in this file, one per line ('-': standard input)");
    readCommand->add_flag("--device", read.Device, "Read from the device instead of the server's cache");
    readCommand->add_flag("--async", read.Async, "Read asynchronously (the answer comes by callback)");
    readCommand->add_option("--timeout", read.TimeoutMs, "Milliseconds to wait for an asynchronous answer")
        ->check(CLI::PositiveNumber);

    TNvCliWriteOptions write;
    CLI::App* writeCommand = app.add_subcommand("write", "Write one item in one transaction and print it");
    AddServerOptions(writeCommand, write.Server);
    writeCommand->add_option("item", write.Item, "Item ID")->required();
    writeCommand->add_option("value", write.Value, "The value, as text")->required();
    writeCommand
        ->add_option("--type", write.Type,
                     "Ask the server for the item in this type and send the value in it (Integer, "
                     "Double, Boolean, OleStr, VT_I4, ...); "
                     "default: converted to the item's own type")
        ->check(
            [](const std::string& name) {
                try {
                    ParseTypeName(name);
                    return std::string();
                } catch (const std::exception& e) {
                    return std::string(e.what());
                }
            },
            "TYPE");
    writeCommand->add_flag("--async", write.Async, "Write asynchronously (the answer comes by callback)");
    writeCommand->add_option("--timeout", write.TimeoutMs, "Milliseconds to wait for an asynchronous answer")
        ->check(CLI::PositiveNumber);

    TNvCliWatchOptions watch;
    CLI::App* watchCommand =
        app.add_subcommand("watch", "Subscribe to items and print one line per data change");
    AddServerOptions(watchCommand, watch.Server);
    std::string watchItemsFrom;
    watchCommand->add_option("items", watch.Items, "Item IDs");
    watchCommand->add_option("--items-from", watchItemsFrom,
                             "Also the item IDs in this file, one per line ('-': standard input)");
    watchCommand->add_option("--rate", watch.Rate, "Update rate in milliseconds (default 1000)")
        ->check(CLI::Range(1u, 86400000u));
    watchCommand->add_option("--deadband", watch.Deadband, "Percent dead band, 0 to 100 (default 0)")
        ->check(CLI::Range(0.0f, 100.0f));
    watchCommand->add_flag("--async", watch.Async,
                           "Take the server's data change callbacks instead of reading at every tick");
    watchCommand->add_option("--seconds", watch.Seconds, "Stop after this many seconds (default: at Ctrl+C)")
        ->check(CLI::NonNegativeNumber);

    TNvCliCheckOptions check;
    CLI::App* checkCommand =
        app.add_subcommand("check", "Check the server's answers against the published interface rules");
    AddServerOptions(checkCommand, check.Server);
    checkCommand->add_option("--read-item", check.ReadItem,
                             "A readable item to use (default: found by browsing)");
    checkCommand->add_option("--write-item", check.WriteItem,
                             "A writable numeric item (its value is written back)");
    checkCommand->add_option("--read-only-item", check.ReadOnlyItem, "An item without write access");
    checkCommand->add_option("--set", check.Setup, "ITEM=VALUE written before the checks (repeatable)");
    checkCommand
        ->add_option("--timeout", check.TimeoutMs,
                     "Milliseconds to wait for each callback, and the longest a call may take (a call not back "
                     "after twice this ends the check)")
        ->check(CLI::PositiveNumber);

    TNvCliRunOptions run;
    CLI::App* runCommand = app.add_subcommand(
        "run",
        "Load a saved configuration (.noc), run its groups with the transaction log on, write the log");
    runCommand->add_option("file", run.File, "The configuration file")->required();
    runCommand->add_option("--seconds", run.Seconds, "How long the groups run (default 10)")
        ->check(CLI::PositiveNumber);
    runCommand->add_option("--log", run.LogFile, "Write the log to this file (default: standard output)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "norvane-opc: %s\n%s\nRun with --help for more information.\n", e.what(),
                     UsageOf(app).c_str());
        return kExitUsage;
    }

    // Item IDs come from the command line, a file, or both; at least one is needed.
    for (auto [command, items, file] : {std::tuple{readCommand, &read.Items, &readItemsFrom},
                                        std::tuple{watchCommand, &watch.Items, &watchItemsFrom}}) {
        if (!app.got_subcommand(command))
            continue;
        if (!file->empty() && !ReadItemIDs(*file, *items))
            return kExitFailed;
        if (items->empty()) {
            std::fprintf(stderr,
                         "norvane-opc: no item IDs given\n%s\nRun with --help for more information.\n",
                         UsageOf(app).c_str());
            return kExitUsage;
        }
    }

    InstallInterruptHandler();
    try {
        TNvCliProcess process;
        TNvCliOutput out(json);
        int result = kExitOk;
        if (app.got_subcommand(serversCommand))
            result = RunServers(servers, out);
        else if (app.got_subcommand(statusCommand))
            result = RunStatus(status, out);
        else if (app.got_subcommand(browseCommand))
            result = RunBrowse(browse, out);
        else if (app.got_subcommand(readCommand))
            result = RunRead(read, out);
        else if (app.got_subcommand(writeCommand))
            result = RunWrite(write, out);
        else if (app.got_subcommand(watchCommand))
            result = RunWatch(watch, out);
        else if (app.got_subcommand(checkCommand))
            result = RunCheck(check, out);
        else if (app.got_subcommand(runCommand))
            result = RunConfiguration(run, out);
        out.Flush();
        if (!process.TakeEscapedErrors().empty() && result == kExitOk)
            result = kExitFailed;
        return result;
    } catch (const std::exception& e) {
        ReportError(e.what());
        return kExitFailed;
    }
}
