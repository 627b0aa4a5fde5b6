// The address space against the hierarchical simulation server, in this process. The server's
// Bulk branch is sized so that the whole space has exactly N nodes, its items spread over nested
// branches of at most 20 children (BulkBranchSize), so that a walk crosses thousands of branches
// as in a real plant. Prints one line per figure, "bench <name>: <value> <unit>", each the best
// of three runs:
//
//   addressspace-walk-N        Update: the full walk of all N nodes
//   addressspace-save-N        SaveToFile of the export file
//   addressspace-load-N        LoadFromFile of that file into another address space
//   addressspace-ondemand-N    browsing every branch on demand, one after the other
//   addressspace-indexofpath-N IndexOfPath of the last node
//
// for N = 1000, 10000 and 100000. Usage: addressspace_bench [ignored]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "discovery/NvOPCAddressSpace.h"
#include "foundation/NvSysUtils.h"
#include "opc/NvOPCServer.h"
#include "platform/NvWide.h"
#include "platform/posix/registry.h"
#include "simulation/SimulationIds.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace nv;

constexpr std::uint64_t kBranchSize = 20;
std::string gFolder;

void Print(const std::string& name, double value, const char* unit) {
    const int decimals = value >= 100 ? 0 : value >= 1 ? 2 : 4;
    std::printf("bench %s: %.*f %s\n", name.c_str(), decimals, value, unit);
    std::fflush(stdout);
}

double BestMs(int runs, const std::function<void()>& action) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        action();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

// Gives the hierarchical class this many Bulk items in the benchmark's own registry.
void SetBulk(std::uint64_t items) {
    std::ofstream(gFolder + "/norvane-opc-client/registry/bench.reg")
        << "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\CLSID\\"
        << GuidToRegistryString(sim::CLSID_Simulation)
        << "]\n\"BulkItems\"=dword:" << Format("%.8x", static_cast<unsigned>(items))
        << "\n\"BulkBranchSize\"=dword:" << Format("%.8x", static_cast<unsigned>(kBranchSize)) << "\n";
    nvplatform::ReloadRegistry();
}

// The branches the simulation server makes for `count` Bulk items (its rule: the smallest span
// of items per child branch that leaves at most kBranchSize children).
std::uint64_t BulkBranches(std::uint64_t count) {
    if (count <= kBranchSize)
        return 0;
    std::uint64_t span = kBranchSize;
    while ((count + span - 1) / span > kBranchSize)
        span *= kBranchSize;
    std::uint64_t children = (count + span - 1) / span;
    std::uint64_t total = children;
    for (std::uint64_t c = 0; c < children; ++c)
        total += BulkBranches(std::min(span, count - c * span));
    return total;
}

// Bulk items for a space of `nodes` nodes, given the nodes of the space without any.
std::uint64_t BulkFor(std::uint64_t nodes, std::uint64_t base) {
    std::uint64_t best = 0;
    for (std::uint64_t n = 0; base + n <= nodes; ++n) {
        std::uint64_t total = base + n + BulkBranches(n);
        if (total == nodes)
            return n;
        if (total < nodes)
            best = n;
        else
            break;
    }
    return best;
}

int Walked(TNvOPCServer& server) {
    TNvOPCAddressSpace* space = server.AddressSpace();
    space->Update();
    return space->Count();
}

}  // namespace

int main() {
    char pattern[] = "/tmp/nv-asbench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    gFolder = pattern;
    std::filesystem::create_directories(gFolder + "/norvane-opc-client/registry");
    setenv("XDG_CONFIG_HOME", pattern, 1);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    InstallOPCAddressSpace();
    int status = 0;
    {
        TNvOPCServer idle;
        const std::string file = gFolder + "/space.oas";
        std::uint64_t base = 0;
        for (std::uint64_t nodes : {1000u, 10000u, 100000u}) {
            TNvOPCServer server;
            server.SetStatusInterval(0);
            server.SetAutoUpdateAddressSpace(false);
            server.SetServerName(ToUtf8(sim::ProgID_Simulation));
            if (base == 0) {
                SetBulk(0);
                server.SetConnected(true);
                base = static_cast<std::uint64_t>(Walked(server));
                server.SetConnected(false);
            }
            SetBulk(BulkFor(nodes, base));
            server.SetConnected(true);
            if (!server.Connected()) {
                std::fprintf(stderr, "the simulation server did not connect\n");
                return 1;
            }
            TNvOPCAddressSpace* space = server.AddressSpace();
            const std::string n = std::to_string(nodes);
            Print("addressspace-walk-" + n, BestMs(3, [&] { space->Update(); }), "ms");
            if (static_cast<std::uint64_t>(space->Count()) != nodes) {
                std::fprintf(stderr, "the walk gave %d nodes, not %s\n", space->Count(), n.c_str());
                status = 1;
            }
            Print("addressspace-save-" + n, BestMs(3, [&] { space->SaveToFile(file); }), "ms");
            TNvOPCAddressSpace loaded(&idle);
            Print("addressspace-load-" + n, BestMs(3, [&] { loaded.LoadFromFile(file); }), "ms");
            if (loaded.Count() != space->Count()) {
                std::fprintf(stderr, "loading gave %d nodes, not %d\n", loaded.Count(), space->Count());
                status = 1;
            }
            const std::string last = space->PathOfIndex(space->Count() - 1);
            Print("addressspace-indexofpath-" + n, BestMs(3, [&] { space->IndexOfPath(last); }), "ms");

            space->SetBrowseOnDemand(true);
            Print("addressspace-ondemand-" + n,
                  BestMs(3,
                         [&] {
                             space->Clear();
                             space->UpdateMode();
                             space->BrowseBranch(-1);
                             for (int i = 0; i < space->Count(); ++i)
                                 space->BrowseBranch(i);
                         }),
                  "ms");
            if (space->Count() != loaded.Count()) {
                std::fprintf(stderr, "browsing on demand gave %d nodes, not %d\n", space->Count(),
                             loaded.Count());
                status = 1;
            }
            server.SetConnected(false);
        }
    }
    CoUninitialize();
    std::filesystem::remove_all(gFolder);
    return status;
}
