#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/NvEventLoop.h"
#include "foundation/NvExceptions.h"

namespace nv {
namespace {

// Generous: only reached when something is broken; a passing run never waits this long.
constexpr int kCapMs = 10000;

// Leaves nothing behind for the next test: notices of destroyed windows are dropped anyway, and
// this drains whatever else is pending.
class EventLoopTest : public ::testing::Test {
protected:
    void TearDown() override { ProcessMessages(); }
};

struct Received {
    UINT message;
    WPARAM w;
    LPARAM l;
};

TEST_F(EventLoopTest, NoticesPostedFromManyThreadsArriveInOrderAndNoneIsLost) {
    constexpr int kThreads = 8;
    constexpr int kPerThread = 2000;
    std::vector<std::vector<LPARAM>> seen(kThreads);
    std::thread::id handlerThread;
    int total = 0;
    TNvNotifyWindow window([&](UINT message, WPARAM w, LPARAM l) {
        EXPECT_EQ(message, UINT{WM_USER});
        handlerThread = std::this_thread::get_id();
        seen[static_cast<std::size_t>(w)].push_back(l);
        ++total;
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&window, t] {
            for (int i = 0; i < kPerThread; ++i)
                EXPECT_TRUE(window.Post(WM_USER, static_cast<WPARAM>(t), i));
        });
    // Pumping while the threads post, as the user-interface thread does.
    EXPECT_TRUE(ProcessMessagesUntil([&] { return total == kThreads * kPerThread; }, kCapMs));
    for (auto& th : threads)
        th.join();
    ProcessMessages();
    EXPECT_EQ(total, kThreads * kPerThread);
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[static_cast<std::size_t>(t)].size(), static_cast<std::size_t>(kPerThread));
        for (int i = 0; i < kPerThread; ++i)
            ASSERT_EQ(seen[static_cast<std::size_t>(t)][static_cast<std::size_t>(i)], i);
    }
}

TEST_F(EventLoopTest, NoticesWaitUntilTheLoopIsPumped) {
    std::vector<Received> got;
    TNvNotifyWindow window([&](UINT m, WPARAM w, LPARAM l) { got.push_back({m, w, l}); });
    window.Post(WM_USER + 1, 2, -7);
    window.Post(WM_USER, 0, 5);
    EXPECT_TRUE(got.empty());
    ProcessMessages();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].message, UINT{WM_USER + 1});
    EXPECT_EQ(got[0].w, WPARAM{2});
    EXPECT_EQ(got[0].l, LPARAM{-7});
    EXPECT_EQ(got[1].message, UINT{WM_USER});
}

TEST_F(EventLoopTest, DestroyingAWindowDropsItsPendingNoticesOnly) {
    int first = 0, second = 0;
    auto doomed = std::make_unique<TNvNotifyWindow>([&](UINT, WPARAM, LPARAM) { ++first; });
    TNvNotifyWindow survivor([&](UINT, WPARAM, LPARAM) { ++second; });
    auto target = doomed->Target();
    doomed->Post(WM_USER, 0, 0);
    survivor.Post(WM_USER, 0, 0);
    doomed.reset();
    EXPECT_FALSE(target->Post(WM_USER, 0, 0));
    ProcessMessages();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

TEST_F(EventLoopTest, WindowDestroyedWhileOtherThreadsKeepPosting) {
    std::atomic<bool> stop{false};
    std::atomic<int> handled{0};
    auto window = std::make_unique<TNvNotifyWindow>([&](UINT, WPARAM, LPARAM) { ++handled; });
    auto target = window->Target();
    std::atomic<int> accepted{0};
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t)
        posters.emplace_back([&] {
            while (!stop) {
                if (target->Post(WM_USER, 0, 0))
                    ++accepted;
            }
        });
    EXPECT_TRUE(ProcessMessagesUntil([&] { return handled.load() >= 100; }, kCapMs));
    window.reset();
    int handledAtClose = handled.load();
    // Posts after the close are refused and nothing more reaches the handler.
    EXPECT_TRUE(ProcessMessagesUntil([&] { return !target->Post(WM_USER, 0, 0); }, kCapMs));
    stop = true;
    for (auto& th : posters)
        th.join();
    ProcessMessages();
    EXPECT_EQ(handled.load(), handledAtClose);
}

TEST_F(EventLoopTest, AHandlerMayDestroyItsOwnWindow) {
    int calls = 0;
    std::unique_ptr<TNvNotifyWindow> window;
    window = std::make_unique<TNvNotifyWindow>([&](UINT, WPARAM, LPARAM) {
        ++calls;
        window.reset();
    });
    window->Post(WM_USER, 0, 0);
    window->Post(WM_USER, 0, 0);
    ProcessMessages();
    EXPECT_EQ(calls, 1);
}

TEST_F(EventLoopTest, TimerTicksOnlyWhenPumped) {
    TNvTimer timer;
    int ticks = 0;
    TObject* sender = nullptr;
    timer.SetInterval(1);
    timer.SetOnTimer([&](TObject* s) {
        sender = s;
        ++ticks;
    });
    EXPECT_TRUE(timer.Enabled());
    EXPECT_TRUE(ProcessMessagesUntil([&] { return ticks >= 3; }, kCapMs));
    EXPECT_EQ(sender, &timer);
    timer.SetEnabled(false);
    int stopped = ticks;
    // A disabled timer stays quiet however long the loop is pumped.
    WaitAndProcess(30);
    EXPECT_EQ(ticks, stopped);
}

TEST_F(EventLoopTest, TimerWithoutHandlerOrIntervalDoesNotRun) {
    TNvTimer timer;
    int ticks = 0;
    timer.SetInterval(0);
    timer.SetOnTimer([&](TObject*) { ++ticks; });
    timer.TickSoon();
    WaitAndProcess(20);
    EXPECT_EQ(ticks, 0);
    timer.SetInterval(1);
    EXPECT_TRUE(ProcessMessagesUntil([&] { return ticks > 0; }, kCapMs));
}

TEST_F(EventLoopTest, TickSoonFromAnotherThreadTicksAtTheNextPumping) {
    // A long interval: the tick can only come from TickSoon.
    TNvTimer timer;
    std::thread::id tickThread;
    int ticks = 0;
    timer.SetInterval(3600 * 1000);
    timer.SetOnTimer([&](TObject*) {
        tickThread = std::this_thread::get_id();
        ++ticks;
    });
    std::thread([&] { timer.TickSoon(); }).join();
    EXPECT_EQ(ticks, 0);
    EXPECT_TRUE(ProcessMessagesUntil([&] { return ticks == 1; }, kCapMs));
    EXPECT_EQ(tickThread, std::this_thread::get_id());
    // One tick per request, then the interval applies again.
    ProcessMessages();
    EXPECT_EQ(ticks, 1);
}

TEST_F(EventLoopTest, ATimerMayDestroyItselfInItsHandler) {
    auto* timer = new TNvTimer();
    int ticks = 0;
    timer->SetInterval(1);
    timer->SetOnTimer([&](TObject* sender) {
        ++ticks;
        delete sender;
    });
    EXPECT_TRUE(ProcessMessagesUntil([&] { return ticks == 1; }, kCapMs));
    WaitAndProcess(10);
    EXPECT_EQ(ticks, 1);
}

TEST_F(EventLoopTest, OwnedTimerGoesWithItsOwner) {
    int ticks = 0;
    {
        TComponent owner;
        auto* timer = new TNvTimer(&owner);
        timer->SetInterval(1);
        timer->SetOnTimer([&](TObject*) { ++ticks; });
        EXPECT_EQ(owner.ComponentCount(), 1);
    }
    WaitAndProcess(10);
    EXPECT_EQ(ticks, 0);
}

TEST_F(EventLoopTest, WaitAndProcessReturnsWhetherAnythingWasHandled) {
    EXPECT_FALSE(WaitAndProcess(0));
    TNvNotifyWindow window([](UINT, WPARAM, LPARAM) {});
    std::thread([&] { window.Post(WM_USER, 0, 0); }).join();
    EXPECT_TRUE(WaitAndProcess(kCapMs));
}

TEST_F(EventLoopTest, ShowMessageGoesToTheInstalledHandler) {
    std::vector<std::string> shown;
    auto previous = SetShowMessageHandler([&](const std::string& text) { shown.push_back(text); });
    ShowMessage("Shutdown from Sim.  Reason=test");
    SetShowMessageHandler(previous);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Shutdown from Sim.  Reason=test");
    testing::internal::CaptureStderr();
    ShowMessage("to stderr");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "to stderr\n");
}

TEST_F(EventLoopTest, AnExceptionFromAHandlerIsReportedAndTheLoopGoesOn) {
    std::vector<std::string> reported;
    auto previous = SetExceptionHandler([&](const std::exception& e) { reported.push_back(e.what()); });
    int handled = 0;
    TNvNotifyWindow window([&](UINT, WPARAM w, LPARAM) {
        ++handled;
        if (w == 1)
            throw EConvertError("'x' is not a valid integer value");
        if (w == 2)
            throw 42;
    });
    window.Post(WM_USER, 1, 0);
    window.Post(WM_USER, 2, 0);
    window.Post(WM_USER, 3, 0);
    ProcessMessages();
    SetExceptionHandler(previous);
    EXPECT_EQ(handled, 3);
    EXPECT_EQ(reported, (std::vector<std::string>{"'x' is not a valid integer value", "Unknown exception"}));
    // Without a handler of its own the message goes to ShowMessage.
    std::vector<std::string> shown;
    auto previousShow = SetShowMessageHandler([&](const std::string& text) { shown.push_back(text); });
    HandleException(EListError("List index out of bounds (3)"));
    SetShowMessageHandler(previousShow);
    EXPECT_EQ(shown, (std::vector<std::string>{"List index out of bounds (3)"}));
}

// A loop that only records what the core asks of it, to show the core goes through the
// installed loop.
class RecordingLoop : public TNvEventLoop {
public:
    int timersCreated = 0;
    int pumped = 0;
    std::unique_ptr<TNvTimerHandle> CreateTimer(std::function<void()> onTick) override {
        ++timersCreated;
        return PortableEventLoop().CreateTimer(std::move(onTick));
    }
    std::shared_ptr<TNvNotifyHandle> CreateNotifyWindow(TNvMessageHandler handler) override {
        return PortableEventLoop().CreateNotifyWindow(std::move(handler));
    }
    void ProcessMessages() override { ++pumped; }
    bool WaitAndProcess(int) override {
        ++pumped;
        return false;
    }
};

TEST_F(EventLoopTest, TheInstalledLoopServesTimersAndPumping) {
    RecordingLoop loop;
    TNvEventLoop* previous = SetEventLoop(&loop);
    EXPECT_EQ(previous, &PortableEventLoop());
    {
        TNvTimer timer;
        ProcessMessages();
    }
    EXPECT_EQ(SetEventLoop(nullptr), &loop);
    EXPECT_EQ(&EventLoop(), &PortableEventLoop());
    EXPECT_EQ(loop.timersCreated, 1);
    EXPECT_EQ(loop.pumped, 1);
}

}  // namespace
}  // namespace nv
