#include "foundation/NvSignals.h"

#include <algorithm>

namespace nv {

namespace {

template <class T>
bool Contains(const std::vector<T*>& list, const T* item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

template <class T>
void Remove(std::vector<T*>& list, const T* item) {
    auto it = std::find(list.begin(), list.end(), item);
    if (it != list.end())
        list.erase(it);
}

}  // namespace

// ---- TNvSignal --------------------------------------------------------------------------------

TNvSignal::TNvSignal(TComponent* sender) : sender_(sender) {}

TNvSignal::~TNvSignal() {
    DisconnectAll();
}

void TNvSignal::SetActive(bool value) {
    if (value == active_)
        return;
    active_ = value;
    // A handler may disconnect slots; the bound check keeps the walk on live entries.
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        TNvSlot* slot = slots_[i];
        if (value)
            CallEvent(slot->OnActivate, this);
        else
            CallEvent(slot->OnDeactivate, this);
    }
}

bool TNvSignal::IsConnected(const TNvSlot* slot) const {
    return Contains(slots_, slot);
}

// Each side appends itself and then asks the other to do the same; the second call finds the
// link already there and stops, so the two lists can never disagree.
void TNvSignal::Connect(TNvSlot* slot) {
    if (slot == nullptr || IsConnected(slot))
        return;
    slots_.push_back(slot);
    slot->Connect(this);
}

void TNvSignal::Disconnect(TNvSlot* slot) {
    if (slot == nullptr || !IsConnected(slot))
        return;
    Remove(slots_, slot);
    slot->Disconnect(this);
}

void TNvSignal::DisconnectAll() {
    while (!slots_.empty())
        slots_.back()->Disconnect(this);
}

void TNvSignal::Raise() {
    if (!active_)
        return;
    // The count is taken once: slots connected by a handler are not called in this round. A
    // handler that disconnects slots shortens the list, so every access is checked against the
    // current length rather than trusting the first count.
    const std::size_t count = slots_.size();
    for (std::size_t i = 0; i < count && i < slots_.size(); ++i) {
        TNvSlot* slot = slots_[i];
        if (slot->Enabled())
            CallEvent(slot->OnSignal, sender_);
    }
}

// ---- TNvSlot ------------------------------------------------------------------------------------

TNvSlot::TNvSlot() = default;

TNvSlot::~TNvSlot() {
    while (!signals_.empty())
        Disconnect(signals_.back());
}

bool TNvSlot::IsConnected(const TNvSignal* signal) const {
    return Contains(signals_, signal);
}

void TNvSlot::Connect(TNvSignal* signal) {
    if (signal == nullptr || IsConnected(signal))
        return;
    signals_.push_back(signal);
    signal->Connect(this);
}

void TNvSlot::Disconnect(TNvSignal* signal) {
    if (signal == nullptr || !IsConnected(signal))
        return;
    Remove(signals_, signal);
    signal->Disconnect(this);
    CallEvent(OnDisconnect, signal);
}

}  // namespace nv
