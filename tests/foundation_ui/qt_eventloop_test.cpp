// The Qt event loop as the core uses it: notices posted from any thread and timers run on the
// GUI thread, whether the core pumps the loop itself or Qt's own loop runs the windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "foundation/NvEventLoop.h"
#include "foundation/NvExceptions.h"
#include "foundation/ui/NvQtEventLoop.h"
#include "gui/NvGuiTestSupport.h"

namespace nv {
namespace {

constexpr int kCapMs = 10000;

bool OnGuiThread() {
    return QThread::currentThread() == qApp->thread();
}

class QtEventLoopTest : public guitest::GuiTest {
protected:
    void SetUp() override { ASSERT_NE(dynamic_cast<TNvQtEventLoop*>(&EventLoop()), nullptr); }
};

// Runs Qt's own loop (as the application's main loop does) until predicate() holds.
bool RunQtLoopUntil(const std::function<bool()>& predicate) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (predicate())
            loop.quit();
    });
    poll.start(1);
    QTimer::singleShot(kCapMs, &loop, &QEventLoop::quit);
    loop.exec();
    return predicate();
}

TEST_F(QtEventLoopTest, NoticesFromManyThreadsRunOnTheGuiThreadInOrderAndNoneIsLost) {
    constexpr int kThreads = 6;
    constexpr int kPerThread = 2000;
    std::vector<std::vector<LPARAM>> seen(kThreads);
    bool offThread = false;
    int total = 0;
    TNvNotifyWindow window([&](UINT message, WPARAM w, LPARAM l) {
        EXPECT_EQ(message, UINT{WM_USER});
        offThread = offThread || !OnGuiThread();
        seen[static_cast<std::size_t>(w)].push_back(l);
        ++total;
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&window, t] {
            for (int i = 0; i < kPerThread; ++i)
                EXPECT_TRUE(window.Post(WM_USER, static_cast<WPARAM>(t), i));
        });
    EXPECT_TRUE(ProcessMessagesUntil([&] { return total == kThreads * kPerThread; }, kCapMs));
    for (auto& th : threads)
        th.join();
    ProcessMessages();
    EXPECT_EQ(total, kThreads * kPerThread);
    EXPECT_FALSE(offThread);
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[static_cast<std::size_t>(t)].size(), static_cast<std::size_t>(kPerThread));
        for (int i = 0; i < kPerThread; ++i)
            ASSERT_EQ(seen[static_cast<std::size_t>(t)][static_cast<std::size_t>(i)], i);
    }
}

TEST_F(QtEventLoopTest, NoticesOfSeveralWindowsKeepThePostingOrder) {
    std::vector<int> order;
    TNvNotifyWindow a([&](UINT, WPARAM w, LPARAM) { order.push_back(static_cast<int>(w)); });
    TNvNotifyWindow b([&](UINT, WPARAM w, LPARAM) { order.push_back(static_cast<int>(w)); });
    a.Post(WM_USER, 1, 0);
    b.Post(WM_USER, 2, 0);
    a.Post(WM_USER, 3, 0);
    EXPECT_TRUE(order.empty());
    ProcessMessages();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(QtEventLoopTest, QtsOwnLoopDeliversNoticesAndTimers) {
    // The application never calls ProcessMessages in its main loop: Qt's loop must carry both.
    int notices = 0;
    bool offThread = false;
    TNvNotifyWindow window([&](UINT, WPARAM, LPARAM) {
        offThread = offThread || !OnGuiThread();
        ++notices;
    });
    std::thread([&] { window.Post(WM_USER + 1, 0, 0); }).join();
    TNvTimer timer;
    int ticks = 0;
    timer.SetInterval(1);
    timer.SetOnTimer([&](TObject*) {
        offThread = offThread || !OnGuiThread();
        ++ticks;
    });
    EXPECT_TRUE(RunQtLoopUntil([&] { return notices == 1 && ticks >= 2; }));
    EXPECT_FALSE(offThread);
}

TEST_F(QtEventLoopTest, ClosingAWindowDropsItsPendingNoticesAndRefusesNewOnes) {
    int first = 0, second = 0;
    auto doomed = std::make_unique<TNvNotifyWindow>([&](UINT, WPARAM, LPARAM) { ++first; });
    TNvNotifyWindow survivor([&](UINT, WPARAM, LPARAM) { ++second; });
    auto target = doomed->Target();
    EXPECT_TRUE(doomed->Post(WM_USER, 0, 0));
    survivor.Post(WM_USER, 0, 0);
    doomed.reset();
    EXPECT_FALSE(target->Post(WM_USER, 0, 0));
    // Also through Qt's own loop: the event already on its way must not revive the notice.
    EXPECT_TRUE(RunQtLoopUntil([&] { return second == 1; }));
    ProcessMessages();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

TEST_F(QtEventLoopTest, AWindowClosedWhileOtherThreadsKeepPostingHearsNothingMore) {
    std::atomic<bool> stop{false};
    int handled = 0;
    auto window = std::make_unique<TNvNotifyWindow>([&](UINT, WPARAM, LPARAM) { ++handled; });
    auto target = window->Target();
    std::vector<std::thread> posters;
    for (int t = 0; t < 3; ++t)
        posters.emplace_back([&] {
            while (!stop)
                target->Post(WM_USER, 0, 0);
        });
    EXPECT_TRUE(ProcessMessagesUntil([&] { return handled >= 100; }, kCapMs));
    window.reset();
    const int atClose = handled;
    for (int i = 0; i < 20; ++i)
        WaitAndProcess(1);
    stop = true;
    for (auto& th : posters)
        th.join();
    ProcessMessages();
    EXPECT_EQ(handled, atClose);
    EXPECT_FALSE(target->Post(WM_USER, 0, 0));
}

TEST_F(QtEventLoopTest, AHandlerMayCloseItsOwnWindow) {
    int calls = 0;
    std::unique_ptr<TNvNotifyWindow> window;
    window = std::make_unique<TNvNotifyWindow>([&](UINT, WPARAM, LPARAM) {
        ++calls;
        window.reset();
    });
    window->Post(WM_USER, 0, 0);
    window->Post(WM_USER, 0, 0);
    ProcessMessages();
    ProcessMessages();
    EXPECT_EQ(calls, 1);
}

TEST_F(QtEventLoopTest, WindowsOfALoopThatIsGoneRefusePosts) {
    std::shared_ptr<TNvNotifyHandle> target;
    int calls = 0;
    {
        TNvQtEventLoop loop;
        target = loop.CreateNotifyWindow([&](UINT, WPARAM, LPARAM) { ++calls; });
        EXPECT_TRUE(target->Post(WM_USER, 0, 0));
    }
    EXPECT_FALSE(std::async(std::launch::async, [&] { return target->Post(WM_USER, 0, 0); }).get());
    ProcessMessages();
    EXPECT_EQ(calls, 0);
    target->Close();
}

TEST_F(QtEventLoopTest, TimerTicksWhilePumpedAndStopsWhenDisabled) {
    TNvTimer timer;
    int ticks = 0;
    TObject* sender = nullptr;
    timer.SetInterval(1);
    timer.SetOnTimer([&](TObject* s) {
        sender = s;
        ++ticks;
    });
    EXPECT_TRUE(ProcessMessagesUntil([&] { return ticks >= 3; }, kCapMs));
    EXPECT_EQ(sender, &timer);
    timer.SetEnabled(false);
    const int stopped = ticks;
    for (int i = 0; i < 10; ++i)
        WaitAndProcess(2);
    EXPECT_EQ(ticks, stopped);
    timer.SetEnabled(true);
    EXPECT_TRUE(ProcessMessagesUntil([&] { return ticks > stopped; }, kCapMs));
}

TEST_F(QtEventLoopTest, TickSoonFromAnotherThreadTicksOnceOnTheGuiThread) {
    TNvTimer timer;
    int ticks = 0;
    bool offThread = false;
    timer.SetInterval(3600 * 1000);
    timer.SetOnTimer([&](TObject*) {
        offThread = offThread || !OnGuiThread();
        ++ticks;
    });
    std::thread([&] {
        timer.TickSoon();
        timer.TickSoon();
    }).join();
    EXPECT_EQ(ticks, 0);
    EXPECT_TRUE(ProcessMessagesUntil([&] { return ticks == 1; }, kCapMs));
    EXPECT_FALSE(offThread);
    for (int i = 0; i < 10; ++i)
        WaitAndProcess(1);
    EXPECT_EQ(ticks, 1);
    // A stopped timer ignores the request.
    timer.SetEnabled(false);
    std::thread([&] { timer.TickSoon(); }).join();
    for (int i = 0; i < 10; ++i)
        WaitAndProcess(1);
    EXPECT_EQ(ticks, 1);
}

TEST_F(QtEventLoopTest, ATimerMayDestroyItselfInItsHandler) {
    auto* timer = new TNvTimer();
    int ticks = 0;
    timer->SetInterval(1);
    timer->SetOnTimer([&](TObject* sender) {
        ++ticks;
        delete sender;
    });
    EXPECT_TRUE(ProcessMessagesUntil([&] { return ticks == 1; }, kCapMs));
    for (int i = 0; i < 10; ++i)
        WaitAndProcess(1);
    EXPECT_EQ(ticks, 1);
}

TEST_F(QtEventLoopTest, ATimerMayBeDestroyedWhileATickSoonIsOnItsWay) {
    int ticks = 0;
    {
        TNvTimer timer;
        timer.SetInterval(3600 * 1000);
        timer.SetOnTimer([&](TObject*) { ++ticks; });
        std::thread([&] { timer.TickSoon(); }).join();
    }
    for (int i = 0; i < 10; ++i)
        WaitAndProcess(1);
    EXPECT_EQ(ticks, 0);
}

TEST_F(QtEventLoopTest, WaitAndProcessWakesForANoticeFromAnotherThread) {
    EXPECT_FALSE(WaitAndProcess(0));
    int calls = 0;
    TNvNotifyWindow window([&](UINT, WPARAM, LPARAM) { ++calls; });
    std::thread poster([&] { window.Post(WM_USER, 0, 0); });
    bool handled = false;
    for (int i = 0; i < 100 && !handled; ++i)
        handled = WaitAndProcess(kCapMs / 100);
    poster.join();
    EXPECT_TRUE(handled);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(WaitAndProcess(0));
}

TEST_F(QtEventLoopTest, AnExceptionFromAHandlerIsReportedAndTheLoopGoesOn) {
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
    TNvTimer timer;
    int ticks = 0;
    timer.SetInterval(1);
    timer.SetOnTimer([&](TObject*) {
        if (++ticks == 1)
            throw EListError("List index out of bounds (3)");
    });
    EXPECT_TRUE(ProcessMessagesUntil([&] { return handled == 3 && ticks >= 2; }, kCapMs));
    SetExceptionHandler(previous);
    EXPECT_EQ(reported, (std::vector<std::string>{"'x' is not a valid integer value", "Unknown exception",
                                                  "List index out of bounds (3)"}));
}

TEST_F(QtEventLoopTest, AnEscapedExceptionShowsAnErrorBoxAndShowMessageAMessageBox) {
    std::string errorText, errorTitle, messageText;
    QMessageBox::Icon errorIcon = QMessageBox::NoIcon, messageIcon = QMessageBox::NoIcon;
    guitest::OnNextModal([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        errorText = box->text().toStdString();
        errorTitle = box->windowTitle().toStdString();
        errorIcon = box->icon();
        box->accept();
    });
    guitest::OnNextModal([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        messageText = box->text().toStdString();
        messageIcon = box->icon();
        box->accept();
    });
    TNvNotifyWindow window(
        [&](UINT, WPARAM, LPARAM) { throw EConvertError("'abc' is not a valid integer value"); });
    window.Post(WM_USER, 0, 0);
    ProcessMessages();
    ShowMessage("Shutdown from Sim.  Reason=test");
    EXPECT_EQ(errorText, "'abc' is not a valid integer value");
    EXPECT_EQ(errorTitle, "Norvane OPC Client");
    EXPECT_EQ(errorIcon, QMessageBox::Critical);
    EXPECT_EQ(messageText, "Shutdown from Sim.  Reason=test");
    EXPECT_EQ(messageIcon, QMessageBox::Information);
}

TEST_F(QtEventLoopTest, AMessageFromAnotherThreadIsShownOnTheGuiThread) {
    bool shownOnGui = false;
    std::string text;
    guitest::OnNextModal([&](QWidget* w) {
        shownOnGui = OnGuiThread();
        text = guitest::ModalText(w);
        qobject_cast<QMessageBox*>(w)->accept();
    });
    std::thread([] { ShowMessage("from a server thread"); }).join();
    EXPECT_TRUE(guitest::PumpUntil([&] { return !text.empty(); }));
    EXPECT_TRUE(shownOnGui);
    EXPECT_EQ(text, "from a server thread");
}

}  // namespace
}  // namespace nv
