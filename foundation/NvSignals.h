// Signals and slots: a many-to-many notification between a component that announces something
// (a server having connected) and the objects that want to hear it (its groups), without the
// announcer knowing their classes.
//
// A signal lists its slots and each slot lists its signals; a signal lists a slot exactly when
// that slot lists the signal. Either side may be destroyed first: destruction unlinks it from
// the other side. The links own nothing. Single-threaded.
#pragma once

#include <functional>
#include <vector>

#include "foundation/NvComponent.h"
#include "foundation/NvEvents.h"
#include "foundation/NvObject.h"

namespace nv {

class TNvSignal;
class TNvSlot;

// Handlers capture their context (the owner of the slot).
using TNvSignalNotifyEvent = std::function<void(TNvSignal* signal)>;
using TNvSignalRaisedEvent = std::function<void(TComponent* sender)>;

class TNvSignal : public TObject {
public:
    explicit TNvSignal(TComponent* sender);
    ~TNvSignal() override;

    // Tells every linked slot's OnActivate or OnDeactivate when the value changes.
    virtual void SetActive(bool value);
    bool Active() const { return active_; }
    TComponent* Sender() const { return sender_; }

    // Both do nothing for a null slot, an existing link (Connect) or a missing one (Disconnect).
    virtual void Connect(TNvSlot* slot);
    virtual void Disconnect(TNvSlot* slot);
    // Unlinks every slot, the most recently connected first.
    virtual void DisconnectAll();

    // While Active, calls OnSignal(Sender) of every enabled slot, in order of connection.
    // Exceptions of a handler pass to the caller.
    void Raise();

    int SlotCount() const { return static_cast<int>(slots_.size()); }
    const std::vector<TNvSlot*>& Slots() const { return slots_; }
    bool IsConnected(const TNvSlot* slot) const;

private:
    std::vector<TNvSlot*> slots_;
    TComponent* sender_;
    bool active_ = true;
};

class TNvSlot : public TObject {
public:
    TNvSlot();
    ~TNvSlot() override;

    virtual void SetEnabled(bool value) { enabled_ = value; }
    bool Enabled() const { return enabled_; }

    virtual void Connect(TNvSignal* signal);
    // Calls OnDisconnect once both sides have forgotten the link.
    virtual void Disconnect(TNvSignal* signal);

    int SignalCount() const { return static_cast<int>(signals_.size()); }
    const std::vector<TNvSignal*>& Signals() const { return signals_; }
    bool IsConnected(const TNvSignal* signal) const;

    TNvSignalNotifyEvent OnActivate;
    TNvSignalNotifyEvent OnDeactivate;
    TNvSignalNotifyEvent OnDisconnect;
    TNvSignalRaisedEvent OnSignal;

private:
    std::vector<TNvSignal*> signals_;
    bool enabled_ = true;
};

}  // namespace nv
