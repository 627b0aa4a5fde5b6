// norvane-opc watch as a script runs it: 10 000 Bulk ramps of the DA 2.0 simulation server,
// subscribed at 100 ms, every change printed to a file. A ramp changes at every sample, so the
// server offers 100 000 changes a second; the figures say how many lines a second reach the
// file and which share of the offered changes that is.
//
//   bench cli-watch-10000x100ms: <n> lines/s
//   bench cli-watch-10000x100ms-share: <p> %
//
// Usage: cli_bench [seconds of the watch, default 5]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "foundation/NvSysUtils.h"
#include "opc/NvOPCError.h"
#include "simulation/SimulationIds.h"

namespace {

namespace fs = std::filesystem;

constexpr int kItems = 10000;
constexpr int kRateMs = 100;

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: cli_bench [seconds]\n");
        return 2;
    }
    const fs::path tool = fs::canonical("/proc/self/exe").parent_path() / "norvane-opc";
    char pattern[] = "/tmp/nv-clibench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path root = pattern;
    // The hierarchical class with 10 000 Bulk items, in a configuration folder of the run's own.
    fs::create_directories(root / "norvane-opc-client" / "registry");
    std::ofstream(root / "norvane-opc-client" / "registry" / "bench.reg")
        << "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\CLSID\\"
        << nv::GuidToRegistryString(nv::sim::CLSID_Simulation) << "]\n\"BulkItems\"=dword:"
        << nv::Format("%.8x", kItems) << "\n";
    {
        std::ofstream ids(root / "items.txt");
        for (int i = 1; i <= kItems; ++i)
            ids << nv::Format("Bulk.Item%.5d", i) << "\n";
    }
    const fs::path out = root / "watch.txt";
    const std::string command = "XDG_CONFIG_HOME='" + root.string() + "' '" + tool.string() +
                                "' watch Norvane.Simulation.1 --async --rate " + std::to_string(kRateMs) +
                                " --seconds " + std::to_string(seconds) + " --items-from '" +
                                (root / "items.txt").string() + "' > '" + out.string() + "'";
    const int status = std::system(command.c_str());
    if (status != 0) {
        std::fprintf(stderr, "norvane-opc watch failed (status %d)\n", status);
        return 1;
    }
    long long lines = 0;
    {
        std::ifstream in(out, std::ios::binary);
        std::string line;
        while (std::getline(in, line))
            ++lines;
    }
    std::error_code ec;
    fs::remove_all(root, ec);
    // The first answer of the subscription (every item once) comes before the timed watch
    // starts, and is counted with it; it is one update of the 10 * seconds offered.
    const double perSecond = lines / seconds;
    const double offered = static_cast<double>(kItems) * (1000.0 / kRateMs);
    std::printf("bench cli-watch-10000x100ms: %.0f lines/s\n", perSecond);
    std::printf("bench cli-watch-10000x100ms-share: %.1f %%\n", 100.0 * perSecond / offered);
    return 0;
}
