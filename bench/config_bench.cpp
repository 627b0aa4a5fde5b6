// The configuration document with 1 000 groups of 100 items. Prints one line per figure,
// "bench <name>: <value> <unit>":
//
//   config-load-1000x100   Load of the saved file: reading it, and creating and attaching the
//                          groups and items (disconnected, as a load leaves them)
//   config-save-1000x100   Save of the same configuration over its own file
//
// Each figure is the median of the runs made within the given seconds (at least three).
//
// Usage: config_bench [seconds, default 5]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Configuration.h"
#include "foundation/NvSysUtils.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kGroups = 1000;
constexpr int kItems = 100;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <class Step>
double Measure(double seconds, Step step) {
    std::vector<double> runs;
    const Clock::time_point end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (runs.size() < 3 || Clock::now() < end) {
        Clock::time_point start = Clock::now();
        step();
        runs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return Median(runs);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    if (seconds <= 0)
        seconds = 5.0;
    fs::path folder = fs::temp_directory_path() / "nv-config-bench";
    fs::create_directories(folder);
    const std::string path = (folder / "bench.noc").string();
    fs::remove(path);

    int status = 0;
    try {
        nv::TConfiguration source;
        // A class in text form: no registry lookup is measured.
        source.Server()->SetServerName("{6E0F2A31-4C1B-4D7E-9A51-3B2C8D0E1F01}");
        for (int g = 0; g < kGroups; ++g) {
            auto* group = new nv::TNvOPCGroup(nullptr);
            group->SetGroupName(nv::Format("Group %d", g));
            group->SetUpdateRate(static_cast<DWORD>(100 + g));
            for (int i = 0; i < kItems; ++i)
                group->AddItem(nv::Format("Plant.Area%d.Tag%d", g, i))->SetDataType(VT_R8);
            group->SetServer(source.Server());
        }
        source.SetFileName(path);
        double save = Measure(seconds / 2, [&] { source.Save(); });

        nv::TConfiguration loaded;
        loaded.SetFileName(path);
        double load = Measure(seconds / 2, [&] { loaded.Load(); });
        int items = 0;
        for (int g = 0; g < loaded.Server()->GroupCount(); ++g)
            items += dynamic_cast<nv::TNvOPCGroup*>(loaded.Server()->Groups(g))->ItemCount();
        if (loaded.Server()->GroupCount() != kGroups || items != kGroups * kItems) {
            std::fprintf(stderr, "loaded %d groups and %d items\n", loaded.Server()->GroupCount(), items);
            status = 1;
        }
        std::printf("file: %s, %ju bytes\n", path.c_str(), static_cast<std::uintmax_t>(fs::file_size(path)));
        std::printf("bench config-load-%dx%d: %.0f ms\n", kGroups, kItems, load);
        std::printf("bench config-save-%dx%d: %.0f ms\n", kGroups, kItems, save);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "config_bench: %s\n", e.what());
        status = 1;
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    return status;
}
