#include "foundation/NvEventLoop.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace nv {

namespace {

using Clock = std::chrono::steady_clock;

class PortableNotify;
class PortableTimer;

struct Notice {
    std::shared_ptr<PortableNotify> window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Everything the loop shares between the threads that post and the one that pumps; one lock.
struct LoopState {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Notice> notices;
    std::vector<PortableTimer*> timers;
    std::uint64_t round = 0;
};

class PortableNotify : public TNvNotifyHandle, public std::enable_shared_from_this<PortableNotify> {
public:
    PortableNotify(std::shared_ptr<LoopState> state, TNvMessageHandler handler)
        : state_(std::move(state)), handler_(std::move(handler)) {}

    bool Post(UINT message, WPARAM wParam, LPARAM lParam) override {
        {
            std::lock_guard lock(state_->mutex);
            if (closed_)
                return false;
            state_->notices.push_back(Notice{shared_from_this(), message, wParam, lParam});
        }
        state_->wake.notify_all();
        return true;
    }

    void Close() override {
        std::lock_guard lock(state_->mutex);
        closed_ = true;
        auto& q = state_->notices;
        q.erase(
            std::remove_if(q.begin(), q.end(), [this](const Notice& n) { return n.window.get() == this; }),
            q.end());
    }

    // Under the loop lock.
    bool Closed() const { return closed_; }
    void Handle(const Notice& n) {
        if (handler_)
            handler_(n.message, n.wParam, n.lParam);
    }

private:
    std::shared_ptr<LoopState> state_;
    TNvMessageHandler handler_;
    bool closed_ = false;
};

class PortableTimer : public TNvTimerHandle {
public:
    PortableTimer(std::shared_ptr<LoopState> state, std::function<void()> onTick)
        : state_(std::move(state)), onTick_(std::make_shared<std::function<void()>>(std::move(onTick))) {
        std::lock_guard lock(state_->mutex);
        state_->timers.push_back(this);
    }

    ~PortableTimer() override {
        std::lock_guard lock(state_->mutex);
        auto& t = state_->timers;
        t.erase(std::remove(t.begin(), t.end(), this), t.end());
    }

    void Start(unsigned intervalMs) override {
        {
            std::lock_guard lock(state_->mutex);
            running_ = true;
            soon_ = false;
            interval_ = std::chrono::milliseconds(intervalMs);
            due_ = Clock::now() + interval_;
        }
        state_->wake.notify_all();
    }

    void Stop() override {
        std::lock_guard lock(state_->mutex);
        running_ = false;
        soon_ = false;
    }

    void TickSoon() override {
        {
            std::lock_guard lock(state_->mutex);
            if (!running_)
                return;
            soon_ = true;
        }
        state_->wake.notify_all();
    }

    // The rest runs under the loop lock.
    bool Due(Clock::time_point now) const { return running_ && (soon_ || now >= due_); }
    bool Waiting() const { return running_; }
    Clock::time_point NextTime() const { return soon_ ? Clock::time_point::min() : due_; }
    std::shared_ptr<std::function<void()>> TakeTick(Clock::time_point now, std::uint64_t round) {
        soon_ = false;
        due_ = now + interval_;
        round_ = round;
        return onTick_;
    }
    std::uint64_t Round() const { return round_; }

private:
    std::shared_ptr<LoopState> state_;
    // Shared so that a tick handler may destroy its own timer.
    std::shared_ptr<std::function<void()>> onTick_;
    bool running_ = false;
    bool soon_ = false;
    std::chrono::milliseconds interval_{0};
    Clock::time_point due_{};
    std::uint64_t round_ = 0;
};

template <class F>
void Guarded(F&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        HandleException(e);
    } catch (...) {
        HandleException(std::runtime_error("Unknown exception"));
    }
}

class PortableEventLoopImpl : public TNvEventLoop {
public:
    std::unique_ptr<TNvTimerHandle> CreateTimer(std::function<void()> onTick) override {
        return std::make_unique<PortableTimer>(state_, std::move(onTick));
    }

    std::shared_ptr<TNvNotifyHandle> CreateNotifyWindow(TNvMessageHandler handler) override {
        return std::make_shared<PortableNotify>(state_, std::move(handler));
    }

    void ProcessMessages() override { Process(); }

    bool WaitAndProcess(int timeoutMs) override {
        auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        {
            std::unique_lock lock(state_->mutex);
            while (!ReadyLocked(Clock::now())) {
                auto wakeAt = deadline;
                for (PortableTimer* t : state_->timers)
                    if (t->Waiting())
                        wakeAt = std::min(wakeAt, t->NextTime());
                if (Clock::now() >= deadline)
                    break;
                state_->wake.wait_until(lock, wakeAt);
            }
        }
        return Process() > 0;
    }

private:
    bool ReadyLocked(Clock::time_point now) const {
        if (!state_->notices.empty())
            return true;
        for (PortableTimer* t : state_->timers)
            if (t->Due(now))
                return true;
        return false;
    }

    // Handles the notices present at the start, then every timer that is due, each at most once.
    int Process() {
        int handled = 0;
        std::size_t budget;
        std::uint64_t round;
        {
            std::lock_guard lock(state_->mutex);
            budget = state_->notices.size();
            round = ++state_->round;
        }
        while (budget-- > 0) {
            Notice n;
            {
                std::lock_guard lock(state_->mutex);
                if (state_->notices.empty())
                    break;
                n = std::move(state_->notices.front());
                state_->notices.pop_front();
                if (n.window->Closed())
                    continue;
            }
            Guarded([&] { n.window->Handle(n); });
            ++handled;
        }
        for (;;) {
            std::shared_ptr<std::function<void()>> tick;
            {
                std::lock_guard lock(state_->mutex);
                auto now = Clock::now();
                for (PortableTimer* t : state_->timers) {
                    if (t->Round() != round && t->Due(now)) {
                        tick = t->TakeTick(now, round);
                        break;
                    }
                }
            }
            if (!tick)
                break;
            if (*tick)
                Guarded(*tick);
            ++handled;
        }
        return handled;
    }

    std::shared_ptr<LoopState> state_ = std::make_shared<LoopState>();
};

std::atomic<TNvEventLoop*> currentLoop{nullptr};

std::mutex showMessageMutex;
TNvShowMessageHandler showMessageHandler;
TNvExceptionHandler exceptionHandler;

}  // namespace

TNvEventLoop& PortableEventLoop() {
    // Never destroyed: threads may still post while static objects are torn down at exit.
    static auto* loop = new PortableEventLoopImpl();
    return *loop;
}

TNvEventLoop& EventLoop() {
    TNvEventLoop* loop = currentLoop.load();
    return loop ? *loop : PortableEventLoop();
}

TNvEventLoop* SetEventLoop(TNvEventLoop* loop) {
    TNvEventLoop* previous = currentLoop.exchange(loop);
    return previous ? previous : &PortableEventLoop();
}

void ProcessMessages() {
    EventLoop().ProcessMessages();
}

bool WaitAndProcess(int timeoutMs) {
    return EventLoop().WaitAndProcess(timeoutMs);
}

bool ProcessMessagesUntil(const std::function<bool()>& predicate, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (predicate())
            return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        // Short steps, so that a condition set by another thread without a notice is seen too.
        EventLoop().WaitAndProcess(static_cast<int>(std::min<long long>(left, 20)));
    }
}

void ShowMessage(const std::string& text) {
    TNvShowMessageHandler handler;
    {
        std::lock_guard lock(showMessageMutex);
        handler = showMessageHandler;
    }
    if (handler) {
        handler(text);
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
}

TNvShowMessageHandler SetShowMessageHandler(TNvShowMessageHandler handler) {
    std::lock_guard lock(showMessageMutex);
    TNvShowMessageHandler previous = std::move(showMessageHandler);
    showMessageHandler = std::move(handler);
    return previous;
}

void HandleException(const std::exception& error) {
    TNvExceptionHandler handler;
    {
        std::lock_guard lock(showMessageMutex);
        handler = exceptionHandler;
    }
    if (handler)
        handler(error);
    else
        ShowMessage(error.what());
}

TNvExceptionHandler SetExceptionHandler(TNvExceptionHandler handler) {
    std::lock_guard lock(showMessageMutex);
    TNvExceptionHandler previous = std::move(exceptionHandler);
    exceptionHandler = std::move(handler);
    return previous;
}

// ---------------------------------------------------------------------------------------------

TNvTimer::TNvTimer(TComponent* owner)
    : TComponent(owner), handle_(EventLoop().CreateTimer([this] { Tick(); })) {}

TNvTimer::~TNvTimer() {
    // Stopped before anything else goes, so that no tick reaches a half-destroyed timer.
    handle_.reset();
}

void TNvTimer::SetEnabled(bool value) {
    if (value == enabled_)
        return;
    enabled_ = value;
    Update();
}

void TNvTimer::SetInterval(unsigned value) {
    if (value == interval_)
        return;
    interval_ = value;
    Update();
}

void TNvTimer::SetOnTimer(TNotifyEvent handler) {
    onTimer_ = std::move(handler);
    Update();
}

void TNvTimer::TickSoon() {
    handle_->TickSoon();
}

void TNvTimer::Update() {
    if (enabled_ && interval_ > 0 && onTimer_)
        handle_->Start(interval_);
    else
        handle_->Stop();
}

void TNvTimer::Tick() {
    // CallEvent works on a copy: the handler may destroy this timer.
    CallEvent(onTimer_, this);
}

// ---------------------------------------------------------------------------------------------

TNvNotifyWindow::TNvNotifyWindow(TNvMessageHandler handler)
    : handle_(EventLoop().CreateNotifyWindow(std::move(handler))) {}

TNvNotifyWindow::~TNvNotifyWindow() {
    handle_->Close();
}

}  // namespace nv
