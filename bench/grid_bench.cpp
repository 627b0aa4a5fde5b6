// The item grid under a live subscription: a group of 10 000 Bulk items of the simulation server
// (ramps that all move at every sample), asynchronous at an update rate of 100 ms, shown in an
// item grid of the main window's size (850 x 400) on the offscreen platform, the group's data
// changes bound to the grid's model. Prints one line per figure, "bench <name>: <value> <unit>":
//
//   grid-10000x100ms               the window thread's busy time per second of updates (1000 =
//                                  saturated), the grid repainting only the rows a change carried
//   grid-10000x100ms-changes       data changes that reached the grid per second in that run
//   grid-10000x100ms-cpu           the window thread's processor time per second in that run, a
//                                  cross-check of the busy time
//   grid-input-latency             mean time from posting a key press to the grid (every 50 ms
//                                  from another thread, while the updates run) to an event filter
//                                  on the grid seeing it
//   grid-input-latency-p95         its 95th percentile
//   grid-10000x100ms-full-refresh  the busy time when every change refreshes the whole grid
//   grid-10000x100ms-rewrite-all   the busy time when every change also formats every cell of
//                                  every row, as a grid that stores its cells' texts has to
//   grid-10000x100ms-group-only    the floor: the same group and an empty grid, the changes
//                                  reaching the items and nothing else
//   grid-10000x100ms-deadband      the busy time when the group has a 10 % dead band, so that
//                                  each change carries only a part of the items (-items: how
//                                  many), rows repainted as their items change
//   grid-10000x100ms-deadband-full-refresh  the same, every change refreshing the whole grid
//   ...-cpu                        the processor time per second of each of these runs
//
// Busy time: the event dispatcher signals `awake` when it starts a round of handling and
// `aboutToBlock` just before it waits for more; the time between the two, summed, is the time
// the thread was busy. Qt's GLib dispatcher does not signal `awake` for every kind of wake-up,
// so the program runs Qt's own Unix dispatcher (QT_NO_GLIB=1 unless the caller chose). With it,
// timer handlers run between `aboutToBlock` and the next `awake` and are not counted; the only
// timer here is the one that ends a run. Everything the grid costs (the group's notices, the
// repaints, the input) arrives as posted events and is counted.
//
// Usage: grid_bench [seconds of each run, default 5]
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/ItemGrid.h"
#include "foundation/NvEventLoop.h"
#include "foundation/ui/NvQtEventLoop.h"
#include "opc/NvOPCGroup.h"
#include "opc/NvOPCServer.h"
#include "platform/NvWide.h"
#include "simulation/SimulationIds.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace nv;

constexpr int kItems = 10000;
constexpr DWORD kUpdateRate = 100;
constexpr int kKeyIntervalMs = 50;
// A ramp moves 1 % of its range per sample at 100 ms, so a 10 % dead band lets about one item in
// ten through at each change.
constexpr float kDeadband = 10;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Print(const char* name, double value, const char* unit) {
    const int decimals = value >= 100 ? 0 : value >= 1 ? 2 : 4;
    std::printf("bench %s: %.*f %s\n", name, decimals, value, unit);
    std::fflush(stdout);
}

// A configuration folder whose user registry gives the flat class kItems Bulk items.
void UseBenchRegistry() {
    char pattern[] = "/tmp/nv-gridbench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    std::string dir = std::string(pattern) + "/norvane-opc-client/registry";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/bench.reg") << "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\CLSID\\"
                                      << GuidToRegistryString(sim::CLSID_SimulationFlat)
                                      << "]\n\"BulkItems\"=dword:" << Format("%.8x", kItems) << "\n";
    setenv("XDG_CONFIG_HOME", pattern, 1);
}

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

enum class Mode { ChangedRows, FullRefresh, RewriteAll, GroupOnly };

struct Result {
    double busyMsPerSecond = 0;
    double cpuMsPerSecond = 0;
    double changesPerSecond = 0;
    double itemsPerChange = 0;
    std::vector<double> latenciesMs;
};

// Sums the time between `awake` and `aboutToBlock` while running.
class BusyMeter {
public:
    BusyMeter() {
        QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, &context_, [this] {
            if (!busy_) {
                busy_ = true;
                since_ = Clock::now();
            }
        });
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &context_, [this] {
            if (busy_) {
                total_ += Clock::now() - since_;
                busy_ = false;
            }
        });
    }
    // Counting starts busy: the caller is running.
    void Start() {
        total_ = Clock::duration::zero();
        busy_ = true;
        since_ = Clock::now();
    }
    double StopMs() {
        if (busy_)
            total_ += Clock::now() - since_;
        busy_ = false;
        return Ms(total_);
    }

private:
    QObject context_;
    bool busy_ = false;
    Clock::time_point since_;
    Clock::duration total_{};
};

// A key press that carries the moment it was posted.
class TimedKeyEvent : public QKeyEvent {
public:
    explicit TimedKeyEvent(Qt::Key key)
        : QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier), posted(Clock::now()) {}
    const Clock::time_point posted;
};

// Sees the posted key presses arrive at the grid.
class KeyWatch : public QObject {
public:
    std::vector<double> latencies;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (const auto* key = dynamic_cast<const TimedKeyEvent*>(event))
            latencies.push_back(Ms(Clock::now() - key->posted));
        return QObject::eventFilter(watched, event);
    }
};

// Posts a key press to the grid every kKeyIntervalMs from a thread of its own, as input comes
// from outside whatever the window thread is doing: a press that arrives during a data change
// waits for it, which a timer on the window thread itself could never show.
class KeyPoster {
public:
    explicit KeyPoster(QObject* grid)
        : thread_([this, grid] {
              bool down = true;
              while (!stop_.load()) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(kKeyIntervalMs));
                  // Down and up in turn: the current row moves and comes back.
                  QCoreApplication::postEvent(grid, new TimedKeyEvent(down ? Qt::Key_Down : Qt::Key_Up));
                  down = !down;
              }
          }) {}
    ~KeyPoster() { Stop(); }
    void Stop() {
        stop_.store(true);
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void RunLoopFor(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

Result Run(TNvOPCServer& server, Mode mode, double seconds, float deadband = 0) {
    TItemGrid grid;
    grid.resize(850, 400);
    grid.show();
    TItemGridModel* model = grid.Model();

    TNvOPCGroup group;
    group.SetUpdateRate(kUpdateRate);
    group.SetActive(true);
    group.SetAsync(true);
    group.SetPercentDeadband(deadband);
    std::vector<std::string> ids;
    for (int i = 1; i <= kItems; ++i)
        ids.push_back(Format("Bulk.Item%.5d", i));
    group.AddItems(ids);
    group.SetServer(&server);
    if (!group.Connected() || !group.Items(kItems - 1)->GetConnected()) {
        std::fprintf(stderr, "the group of %d items did not connect\n", kItems);
        std::exit(1);
    }
    if (mode != Mode::GroupOnly)
        model->SetGroup(&group);
    grid.SelectRows(5, 5);

    int changes = 0;
    std::uint64_t entries = 0;
    std::vector<std::string> cells;
    auto changed = [&](TObject*, TNvOPCTransaction* transaction) {
        ++changes;
        entries += static_cast<std::uint64_t>(transaction->Count());
        switch (mode) {
            case Mode::ChangedRows:
                model->RefreshRows(transaction);
                break;
            case Mode::FullRefresh:
                model->Refresh();
                break;
            case Mode::RewriteAll:
                model->Refresh();
                cells.resize(static_cast<std::size_t>(kItems) * TItemGridModel::ColCount);
                for (int r = 0; r < kItems; ++r)
                    for (int c = 0; c < TItemGridModel::ColCount; ++c)
                        cells[static_cast<std::size_t>(r) * TItemGridModel::ColCount + c] =
                            model->CellText(r, c);
                break;
            case Mode::GroupOnly:
                break;
        }
    };
    group.OnDataChange = changed;
    group.OnReadCompleted = changed;
    if (!ProcessMessagesUntil([&] { return changes > 0; }, 20000)) {
        std::fprintf(stderr, "no data change arrived\n");
        std::exit(1);
    }
    // Settle: the first answers and the first paints are not what is measured.
    RunLoopFor(1.0);

    KeyWatch keys;
    grid.installEventFilter(&keys);
    BusyMeter meter;
    changes = 0;
    entries = 0;
    Result result;
    {
        KeyPoster poster(&grid);
        const double cpuStart = ThreadCpuMs();
        const auto start = Clock::now();
        meter.Start();
        RunLoopFor(seconds);
        const double busyMs = meter.StopMs();
        const double elapsedSeconds = Ms(Clock::now() - start) / 1000.0;
        result.busyMsPerSecond = busyMs / elapsedSeconds;
        result.cpuMsPerSecond = (ThreadCpuMs() - cpuStart) / elapsedSeconds;
        result.changesPerSecond = changes / elapsedSeconds;
        result.itemsPerChange = changes > 0 ? static_cast<double>(entries) / changes : 0;
        result.latenciesMs = keys.latencies;
        grid.removeEventFilter(&keys);
    }
    // The presses still queued are not measured: they wait for the poster to stop.
    QCoreApplication::sendPostedEvents(&grid);

    group.OnDataChange = nullptr;
    group.OnReadCompleted = nullptr;
    group.SetActive(false);
    model->SetGroup(nullptr);
    return result;
}

double Mean(const std::vector<double>& values) {
    double sum = 0;
    for (double v : values)
        sum += v;
    return values.empty() ? 0 : sum / values.size();
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * (values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 && std::atof(argv[1]) > 0 ? std::atof(argv[1]) : 5.0;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    UseBenchRegistry();
    QApplication app(argc, argv);
    int status = 0;
    {
        TNvQtEnvironment environment;
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            TNvOPCServer server;
            server.SetStatusInterval(0);
            server.SetServerName(ToUtf8(sim::ProgID_SimulationFlat));
            server.SetConnected(true);
            if (!server.Connected()) {
                std::fprintf(stderr, "the simulation server did not connect\n");
                return 1;
            }
            std::fprintf(stderr, "event dispatcher: %s\n",
                         QAbstractEventDispatcher::instance()->metaObject()->className());

            const Result rows = Run(server, Mode::ChangedRows, seconds);
            Print("grid-10000x100ms", rows.busyMsPerSecond, "ms");
            Print("grid-10000x100ms-changes", rows.changesPerSecond, "changes/s");
            Print("grid-10000x100ms-cpu", rows.cpuMsPerSecond, "ms");
            Print("grid-input-latency", Mean(rows.latenciesMs), "ms");
            Print("grid-input-latency-p95", Percentile(rows.latenciesMs, 0.95), "ms");
            if (rows.latenciesMs.empty()) {
                std::fprintf(stderr, "no posted key press reached the grid\n");
                status = 1;
            }
            const Result full = Run(server, Mode::FullRefresh, seconds);
            Print("grid-10000x100ms-full-refresh", full.busyMsPerSecond, "ms");
            Print("grid-10000x100ms-full-refresh-cpu", full.cpuMsPerSecond, "ms");
            const Result rewrite = Run(server, Mode::RewriteAll, seconds);
            Print("grid-10000x100ms-rewrite-all", rewrite.busyMsPerSecond, "ms");
            Print("grid-10000x100ms-rewrite-all-cpu", rewrite.cpuMsPerSecond, "ms");
            const Result floor = Run(server, Mode::GroupOnly, seconds);
            Print("grid-10000x100ms-group-only", floor.busyMsPerSecond, "ms");
            Print("grid-10000x100ms-group-only-cpu", floor.cpuMsPerSecond, "ms");
            const Result sparse = Run(server, Mode::ChangedRows, seconds, kDeadband);
            Print("grid-10000x100ms-deadband", sparse.busyMsPerSecond, "ms");
            Print("grid-10000x100ms-deadband-cpu", sparse.cpuMsPerSecond, "ms");
            Print("grid-10000x100ms-deadband-items", sparse.itemsPerChange, "items/change");
            const Result sparseFull = Run(server, Mode::FullRefresh, seconds, kDeadband);
            Print("grid-10000x100ms-deadband-full-refresh", sparseFull.busyMsPerSecond, "ms");
            Print("grid-10000x100ms-deadband-full-refresh-cpu", sparseFull.cpuMsPerSecond, "ms");
            server.SetConnected(false);
        }
        CoUninitialize();
    }
    return status;
}
