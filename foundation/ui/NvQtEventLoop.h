// The event loop of the windowed program: the core's timers and posted notices travel through
// Qt's own event queue, so they run on the GUI thread between the windows' events, and pumping
// (ProcessMessages, WaitAndProcess) also serves the windows, as the core expects while it waits
// for a server or walks an address space.
//
// The GUI thread is the thread of the QCoreApplication. Only that thread pumps; from any other
// thread ProcessMessages does nothing and WaitAndProcess only waits.
#pragma once

#include <memory>

#include "foundation/NvEventLoop.h"

namespace nv {

class TNvQtEventLoop : public TNvEventLoop {
public:
    // Needs a QCoreApplication (or QApplication) that outlives the loop.
    TNvQtEventLoop();
    // Notify windows that other threads still hold refuse posts from then on; their pending
    // notices are dropped.
    ~TNvQtEventLoop() override;

    std::unique_ptr<TNvTimerHandle> CreateTimer(std::function<void()> onTick) override;
    std::shared_ptr<TNvNotifyHandle> CreateNotifyWindow(TNvMessageHandler handler) override;
    void ProcessMessages() override;
    bool WaitAndProcess(int timeoutMs) override;

    struct State;

private:
    std::shared_ptr<State> state_;
};

// For the life of the object the program runs on Qt: the Qt loop above is the current loop,
// ShowMessage shows a message box and an exception that escapes a timer or notice handler shows
// an error box. The program keeps one for its whole run, created after the QApplication; the
// previous loop and handlers come back when it goes.
class TNvQtEnvironment {
public:
    TNvQtEnvironment();
    ~TNvQtEnvironment();
    TNvQtEnvironment(const TNvQtEnvironment&) = delete;
    TNvQtEnvironment& operator=(const TNvQtEnvironment&) = delete;

    TNvQtEventLoop& Loop() { return loop_; }

private:
    TNvQtEventLoop loop_;
    TNvEventLoop* previousLoop_;
    TNvShowMessageHandler previousShow_;
    TNvExceptionHandler previousException_;
};

}  // namespace nv
