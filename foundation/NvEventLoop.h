// The event loop as the core sees it: timers that tick on the user-interface thread, notify
// windows that carry posted notices from any thread to the user-interface thread, message
// pumping, and message boxes. The core never talks to a GUI toolkit; it uses the current
// `TNvEventLoop`. The portable loop below serves tests and command-line tools, which pump it
// themselves; the application installs a toolkit-backed one at start-up.
//
// The user-interface thread is the thread that pumps the loop (ProcessMessages and friends).
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "foundation/NvComponent.h"
#include "foundation/NvEvents.h"
#include "platform/win32.h"

#ifndef WM_USER
#define WM_USER 0x0400
#endif

namespace nv {

using TNvMessageHandler = std::function<void(UINT message, WPARAM wParam, LPARAM lParam)>;

// The loop's side of one timer. Start/Stop come from the user-interface thread only.
class TNvTimerHandle {
public:
    virtual ~TNvTimerHandle() = default;
    // (Re)starts with the interval; the first tick comes one interval from now.
    virtual void Start(unsigned intervalMs) = 0;
    virtual void Stop() = 0;
    // Safe from any thread: a running timer ticks at the next pumping, then keeps its interval.
    virtual void TickSoon() = 0;
};

// The loop's side of one notify window. Post is safe from any thread, also after Close; notices
// posted after Close are dropped and Post returns false.
class TNvNotifyHandle {
public:
    virtual ~TNvNotifyHandle() = default;
    virtual bool Post(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // Drops pending notices; the handler is never called again once Close has returned (unless
    // Close is called from inside the handler, which then finishes its current notice).
    virtual void Close() = 0;
};

class TNvEventLoop {
public:
    virtual ~TNvEventLoop() = default;
    virtual std::unique_ptr<TNvTimerHandle> CreateTimer(std::function<void()> onTick) = 0;
    virtual std::shared_ptr<TNvNotifyHandle> CreateNotifyWindow(TNvMessageHandler handler) = 0;
    // Handles the notices posted so far and the timers that are due; never blocks.
    virtual void ProcessMessages() = 0;
    // Waits up to timeoutMs for a notice or a due timer, then handles what is there. Returns true
    // if anything was handled.
    virtual bool WaitAndProcess(int timeoutMs) = 0;
};

// The loop in use; the portable one unless another has been installed. SetEventLoop(nullptr)
// goes back to the portable one. Timers and notify windows stay with the loop that was current
// when they were created. Returns the previous loop.
TNvEventLoop& EventLoop();
TNvEventLoop* SetEventLoop(TNvEventLoop* loop);
// The portable loop (always the same object).
TNvEventLoop& PortableEventLoop();

void ProcessMessages();
bool WaitAndProcess(int timeoutMs);
// Pumps until predicate() is true (true) or timeoutMs has passed (false). The predicate is
// checked before pumping and after every pumping step.
bool ProcessMessagesUntil(const std::function<bool()>& predicate, int timeoutMs);

// Shows a message to the user. The default handler writes the text and a line break to stderr;
// the application installs a message box, tests a recorder. Returns the previous handler;
// an empty handler restores the default.
using TNvShowMessageHandler = std::function<void(const std::string& text)>;
void ShowMessage(const std::string& text);
TNvShowMessageHandler SetShowMessageHandler(TNvShowMessageHandler handler);

// What happens to an exception that escapes a timer or notice handler: like an uncaught error
// in any command of the program, it is shown to the user and the loop goes on. The default
// handler passes the message to ShowMessage; tests install their own. Returns the previous
// handler; an empty handler restores the default. Loops call HandleException for every
// exception their handlers raise.
using TNvExceptionHandler = std::function<void(const std::exception& error)>;
void HandleException(const std::exception& error);
TNvExceptionHandler SetExceptionHandler(TNvExceptionHandler handler);

// A timer of the user-interface thread. It ticks while Enabled, Interval > 0 and OnTimer is
// bound. Everything but TickSoon belongs to the user-interface thread.
class TNvTimer : public TComponent {
public:
    explicit TNvTimer(TComponent* owner = nullptr);
    ~TNvTimer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    // Milliseconds, initially 1000. Setting it restarts the count from now.
    unsigned Interval() const { return interval_; }
    void SetInterval(unsigned value);
    const TNotifyEvent& OnTimer() const { return onTimer_; }
    void SetOnTimer(TNotifyEvent handler);

    // Safe from any thread (a server callback): if the timer is running, its next tick comes at
    // the next pumping of the loop instead of after the interval.
    void TickSoon();

private:
    void Update();
    void Tick();

    bool enabled_ = true;
    unsigned interval_ = 1000;
    TNotifyEvent onTimer_;
    std::unique_ptr<TNvTimerHandle> handle_;
};

// A hidden window for posted notices: another thread calls Post, the handler runs on the
// user-interface thread when the loop is pumped, notices in the order they were posted.
// Destroying the window drops its pending notices; threads that may still post after that use a
// `Target()` copy, whose Post is then a harmless no-op.
class TNvNotifyWindow : public TObject {
public:
    explicit TNvNotifyWindow(TNvMessageHandler handler);
    ~TNvNotifyWindow() override;

    bool Post(UINT message, WPARAM wParam, LPARAM lParam) { return handle_->Post(message, wParam, lParam); }
    std::shared_ptr<TNvNotifyHandle> Target() const { return handle_; }

private:
    std::shared_ptr<TNvNotifyHandle> handle_;
};

}  // namespace nv
