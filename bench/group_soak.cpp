// A long run of the client core against the simulation server: 10 000 ramps at 10 ms in one
// asynchronous group, the window thread pumping as the program's would, with a pause now and
// then so that changes pile up and are merged. At the end it prints
//
//   soak: <minutes> min, rss growth <kB> kB, updates <n>, lost <n>, duplicated <n>
//
// updates     values that reached the items
// lost        items whose newest value never arrived: at the end, after the server has been
//             quiet for a moment, an item whose value is older than the server's last sample
// duplicated  values that reached an item although they were not newer than what it held
// rss growth  resident memory at the end less that after the first minute (warm-up)
//
// Usage: group_soak MINUTES (fractions allowed). Built with the benchmarks; scripts/soak.sh runs
// it under AddressSanitizer.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/NvConvert.h"
#include "foundation/NvEventLoop.h"
#include "opc/NvOPCGroup.h"
#include "opc/NvOPCServer.h"
#include "platform/NvWide.h"
#include "simulation/SimulationIds.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace nv;

constexpr int kItems = 10000;

long ResidentKB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void UseSoakRegistry() {
    char pattern[] = "/tmp/nv-groupsoak-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    std::string dir = std::string(pattern) + "/norvane-opc-client/registry";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/soak.reg") << "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\CLSID\\"
                                     << GuidToRegistryString(sim::CLSID_SimulationFlat)
                                     << "]\n\"BulkItems\"=dword:00002710\n";
    setenv("XDG_CONFIG_HOME", pattern, 1);
}

std::uint64_t Ticks(const FILETIME& t) {
    return (std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::atof(argv[1]) <= 0) {
        std::fprintf(stderr, "usage: group_soak MINUTES\n");
        return 2;
    }
    const double minutes = std::atof(argv[1]);
    UseSoakRegistry();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::uint64_t updates = 0, duplicated = 0, lost = 0;
    long growth = 0;
    {
        TNvOPCServer server;
        server.SetStatusInterval(10000);
        server.SetServerName(ToUtf8(sim::ProgID_SimulationFlat));
        server.SetConnected(true);
        TNvOPCGroup group;
        group.SetUpdateRate(10);
        group.SetActive(true);
        group.SetAsync(true);
        std::vector<std::string> ids;
        for (int i = 1; i <= kItems; ++i)
            ids.push_back(Format("Bulk.Item%.5d", i));
        group.AddItems(ids);
        group.SetServer(&server);
        if (!group.Connected()) {
            std::fprintf(stderr, "the group did not connect\n");
            return 1;
        }
        std::vector<std::uint64_t> newest(kItems, 0);
        group.OnDataChange = [&](TObject*, TNvOPCTransaction* t) {
            auto* change = static_cast<TNvOPCReadTransaction*>(t);
            for (int i = 0; i < change->Count(); ++i) {
                const OPCHANDLE h = change->ClientHandles(i);
                if (h >= static_cast<OPCHANDLE>(kItems))
                    continue;
                const std::uint64_t stamp = Ticks(change->Timestamps(i));
                if (stamp <= newest[h])
                    ++duplicated;
                else
                    newest[h] = stamp;
                ++updates;
            }
        };
        const auto start = Clock::now();
        const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(minutes * 60));
        const auto warm = start + std::min(std::chrono::duration_cast<Clock::duration>(std::chrono::minutes(1)),
                                           (end - start) / 4);
        long rssAtWarm = -1;
        int second = 0;
        while (Clock::now() < end) {
            WaitAndProcess(5);
            if (rssAtWarm < 0 && Clock::now() >= warm)
                rssAtWarm = ResidentKB();
            const int now = static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count());
            if (now != second) {
                second = now;
                // Every seventh second the window thread is busy elsewhere for a quarter second.
                if (second % 7 == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(250));
            }
        }
        // The server stops sampling; whatever it sent last must be what the items hold.
        group.SetActive(false);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ProcessMessagesUntil([] { return false; }, 300);
        group.OnDataChange = nullptr;
        std::uint64_t serverNewest = 0;
        for (int i = 0; i < kItems; ++i)
            serverNewest = std::max(serverNewest, newest[i]);
        // An item counts as lost when its newest value is more than two update periods older
        // than the newest value any item received.
        const std::uint64_t twoPeriods = 2 * 10 * 10000;  // in 100 ns ticks
        for (int i = 0; i < kItems; ++i)
            if (newest[i] + twoPeriods < serverNewest)
                ++lost;
        growth = ResidentKB() - (rssAtWarm < 0 ? ResidentKB() : rssAtWarm);
        server.SetConnected(false);
    }
    CoUninitialize();
    std::printf("soak: %g min, rss growth %ld kB, updates %llu, lost %llu, duplicated %llu\n", minutes, growth,
                static_cast<unsigned long long>(updates), static_cast<unsigned long long>(lost),
                static_cast<unsigned long long>(duplicated));
    return lost == 0 && duplicated == 0 ? 0 : 1;
}
