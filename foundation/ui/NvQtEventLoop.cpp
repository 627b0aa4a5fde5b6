#include "foundation/ui/NvQtEventLoop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <QTimerEvent>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "foundation/ui/NvUIUtils.h"

namespace nv {

namespace {

// One event type for "notices are waiting", one for "a timer was asked to tick soon".
const QEvent::Type kNoticesEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kTickSoonEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

bool OnGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

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

class QtNotify;

struct Notice {
    std::shared_ptr<QtNotify> window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

}  // namespace

// Shared by the loop, its notify windows (which other threads may hold past the loop's end)
// and the dispatcher object that receives the loop's events on the GUI thread.
struct TNvQtEventLoop::State {
    std::mutex mutex;
    // Every window's notices in one queue, so that notices run in the order they were posted.
    std::deque<Notice> notices;
    // Null once the loop is gone. Posting to it happens under the lock, so it cannot be destroyed
    // while an event is on its way to it.
    QObject* dispatcher = nullptr;
    // One pending event carries all notices queued until it is handled.
    bool eventPending = false;

    // GUI thread only: nested WaitAndProcess calls waiting for something to be handled.
    std::vector<QEventLoop*> waiters;
    std::uint64_t handled = 0;

    void Handled() {
        ++handled;
        for (QEventLoop* w : waiters)
            w->quit();
    }

    // The notices present at the start; those posted meanwhile wait for their own event.
    void DrainNotices();
};

namespace {

class QtNotify : public TNvNotifyHandle, public std::enable_shared_from_this<QtNotify> {
public:
    QtNotify(std::shared_ptr<TNvQtEventLoop::State> state, TNvMessageHandler handler)
        : state_(std::move(state)), handler_(std::move(handler)) {}

    bool Post(UINT message, WPARAM wParam, LPARAM lParam) override {
        std::lock_guard lock(state_->mutex);
        if (closed_ || !state_->dispatcher)
            return false;
        state_->notices.push_back(Notice{shared_from_this(), message, wParam, lParam});
        if (!state_->eventPending) {
            state_->eventPending = true;
            QCoreApplication::postEvent(state_->dispatcher, new QEvent(kNoticesEvent));
        }
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
    std::shared_ptr<TNvQtEventLoop::State> state_;
    TNvMessageHandler handler_;
    bool closed_ = false;
};

class Dispatcher : public QObject {
public:
    explicit Dispatcher(TNvQtEventLoop::State* state) : state_(state) {}

    bool event(QEvent* e) override {
        if (e->type() == kNoticesEvent) {
            state_->DrainNotices();
            return true;
        }
        return QObject::event(e);
    }

private:
    TNvQtEventLoop::State* state_;
};

// The GUI-thread half of a timer. When its handle is destroyed from inside its own tick, it
// lives on until that tick has returned.
class TimerObject : public QObject {
public:
    TimerObject(std::shared_ptr<TNvQtEventLoop::State> state, std::function<void()> onTick)
        : state_(std::move(state)), onTick_(std::move(onTick)) {}

    // The fields below the lock are shared with TickSoon callers on other threads.
    std::mutex mutex;
    bool running = false;
    bool soon = false;
    bool orphaned = false;

    void Start(unsigned intervalMs) {
        {
            std::lock_guard lock(mutex);
            running = true;
            soon = false;
        }
        interval_ = static_cast<int>(std::min<unsigned>(intervalMs, 0x7FFFFFFF));
        Restart();
    }

    void Stop() {
        {
            std::lock_guard lock(mutex);
            running = false;
            soon = false;
        }
        if (timerId_ != 0)
            killTimer(timerId_);
        timerId_ = 0;
    }

    int Depth() const { return depth_; }

protected:
    bool event(QEvent* e) override {
        if (e->type() == kTickSoonEvent) {
            {
                std::lock_guard lock(mutex);
                if (!running || !soon || orphaned)
                    return true;
                soon = false;
            }
            // The requested tick replaces the one that was due; the interval counts from now.
            Restart();
            Tick();
            return true;
        }
        return QObject::event(e);
    }

    void timerEvent(QTimerEvent* e) override {
        if (e->timerId() != timerId_ || orphaned)
            return;
        {
            std::lock_guard lock(mutex);
            soon = false;
        }
        Tick();
    }

private:
    void Restart() {
        if (timerId_ != 0)
            killTimer(timerId_);
        timerId_ = startTimer(interval_);
    }

    // The last thing either handler does: it may delete this object.
    void Tick() {
        ++depth_;
        Guarded(onTick_);
        --depth_;
        state_->Handled();
        // The handle went away during the tick; nothing of Qt's touches a receiver after
        // delivering to it, so the object can go now.
        if (orphaned && depth_ == 0)
            delete this;
    }

    std::shared_ptr<TNvQtEventLoop::State> state_;
    std::function<void()> onTick_;
    int interval_ = 0;
    int timerId_ = 0;
    int depth_ = 0;
};

class QtTimer : public TNvTimerHandle {
public:
    QtTimer(std::shared_ptr<TNvQtEventLoop::State> state, std::function<void()> onTick)
        : object_(new TimerObject(std::move(state), std::move(onTick))) {
        if (QCoreApplication* app = QCoreApplication::instance(); app && object_->thread() != app->thread())
            object_->moveToThread(app->thread());
    }

    ~QtTimer() override {
        object_->Stop();
        {
            std::lock_guard lock(object_->mutex);
            object_->orphaned = true;
        }
        if (object_->Depth() == 0)
            delete object_;
    }

    void Start(unsigned intervalMs) override { object_->Start(intervalMs); }
    void Stop() override { object_->Stop(); }

    void TickSoon() override {
        std::lock_guard lock(object_->mutex);
        if (!object_->running || object_->soon || object_->orphaned)
            return;
        object_->soon = true;
        QCoreApplication::postEvent(object_, new QEvent(kTickSoonEvent));
    }

private:
    TimerObject* object_;
};

}  // namespace

void TNvQtEventLoop::State::DrainNotices() {
    std::size_t budget;
    {
        std::lock_guard lock(mutex);
        eventPending = false;
        budget = notices.size();
    }
    while (budget-- > 0) {
        Notice n;
        {
            std::lock_guard lock(mutex);
            if (notices.empty())
                break;
            n = std::move(notices.front());
            notices.pop_front();
            if (n.window->Closed())
                continue;
        }
        Guarded([&] { n.window->Handle(n); });
        Handled();
    }
}

TNvQtEventLoop::TNvQtEventLoop() : state_(std::make_shared<State>()) {
    if (!QCoreApplication::instance())
        throw std::logic_error("TNvQtEventLoop needs a QCoreApplication");
    auto* dispatcher = new Dispatcher(state_.get());
    dispatcher->moveToThread(QCoreApplication::instance()->thread());
    state_->dispatcher = dispatcher;
}

TNvQtEventLoop::~TNvQtEventLoop() {
    QObject* dispatcher;
    std::deque<Notice> dropped;
    {
        std::lock_guard lock(state_->mutex);
        dispatcher = state_->dispatcher;
        state_->dispatcher = nullptr;
        dropped.swap(state_->notices);
    }
    // Deleting the receiver also removes the event still on its way to it.
    delete dispatcher;
}

std::unique_ptr<TNvTimerHandle> TNvQtEventLoop::CreateTimer(std::function<void()> onTick) {
    return std::make_unique<QtTimer>(state_, std::move(onTick));
}

std::shared_ptr<TNvNotifyHandle> TNvQtEventLoop::CreateNotifyWindow(TNvMessageHandler handler) {
    return std::make_shared<QtNotify>(state_, std::move(handler));
}

void TNvQtEventLoop::ProcessMessages() {
    if (!OnGuiThread())
        return;
    // Notices first, without waiting for their event: they may have been posted a moment ago
    // from another thread, and the caller expects them handled now.
    state_->DrainNotices();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool TNvQtEventLoop::WaitAndProcess(int timeoutMs) {
    if (!OnGuiThread()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::max(timeoutMs, 0)));
        return false;
    }
    const std::uint64_t before = state_->handled;
    ProcessMessages();
    if (state_->handled != before || timeoutMs <= 0)
        return state_->handled != before;
    QEventLoop wait;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &wait, &QEventLoop::quit);
    deadline.start(timeoutMs);
    state_->waiters.push_back(&wait);
    wait.exec();
    state_->waiters.erase(std::remove(state_->waiters.begin(), state_->waiters.end(), &wait),
                          state_->waiters.end());
    ProcessMessages();
    return state_->handled != before;
}

// ---------------------------------------------------------------------------------------------

TNvQtEnvironment::TNvQtEnvironment()
    : previousLoop_(SetEventLoop(&loop_)),
      previousShow_(SetShowMessageHandler([](const std::string& text) { ShowMessageBox(text); })),
      previousException_(SetExceptionHandler([](const std::exception& e) { ShowErrorBox(e.what()); })) {}

TNvQtEnvironment::~TNvQtEnvironment() {
    SetExceptionHandler(std::move(previousException_));
    SetShowMessageHandler(std::move(previousShow_));
    SetEventLoop(previousLoop_ == &PortableEventLoop() ? nullptr : previousLoop_);
}

}  // namespace nv
