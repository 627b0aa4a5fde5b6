// Events are `std::function` members named after the event: one receiver each, and an empty
// one is simply not called.
#pragma once

#include <functional>
#include <utility>

#include "foundation/NvObject.h"

namespace nv {

using TNotifyEvent = std::function<void(TObject* sender)>;

// Calls the event if a receiver is bound. The receiver may reassign or clear the very event it
// was called through (a handler that unbinds itself), so a copy is called.
template <class Event, class... Args>
void CallEvent(const Event& event, Args&&... args) {
    if (event) {
        Event copy = event;
        copy(std::forward<Args>(args)...);
    }
}

}  // namespace nv
