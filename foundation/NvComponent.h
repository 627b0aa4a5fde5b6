// Components: objects with an owner and with free notification.
//
// Ownership: a component created with an owner is destroyed by that owner, after the owner's
// derived destructors have run, in the reverse order of insertion; the owner, being on its way
// out, is not notified of these. Free notification: two
// components linked with `FreeNotification` each learn, through `Notification(x, opRemove)`,
// that the other is going away, whichever goes first; the link is then gone from both sides.
//
// C++ destroys the derived parts of an object before its base, so by the time the base
// destructor sends its notifications the dying component is only a `TComponent`: receivers must
// compare the pointer, never cast it. A derived class whose owned components or listeners must
// not outlive its own state calls `DestroyComponents()` and/or `NotifyDestroying()` at the top of
// its destructor. The same holds for `opInsert` during construction: the new component is not
// fully built when its owner hears of it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/NvObject.h"

namespace nv {

enum TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    ~TComponent() override;

    TComponent* Owner() const { return owner_; }
    int ComponentCount() const { return static_cast<int>(components_.size()); }
    // EListError "List index out of bounds (%d)" outside 0 .. ComponentCount() - 1.
    TComponent* Components(int index) const;
    // Position in the owner's list, -1 without owner.
    int ComponentIndex() const;
    // The owned component with this name (letter case ignored), or none.
    TComponent* FindComponent(const std::string& name) const;

    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    std::intptr_t Tag() const { return tag_; }
    void SetTag(std::intptr_t tag) { tag_ = tag; }

    // Moves a component under this owner (taking it from its previous one) and tells this owner
    // with opInsert; RemoveComponent releases it without destroying it, telling this owner with
    // opRemove.
    void InsertComponent(TComponent* component);
    void RemoveComponent(TComponent* component);
    // Destroys every owned component, the most recently inserted first.
    void DestroyComponents();

    // Links this component and `component` so that each hears when the other is destroyed.
    // Linking twice is harmless; a component is never linked to itself.
    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

    // True from the start of the teardown (NotifyDestroying or the base destructor) onwards.
    bool Destroying() const { return destroying_; }

protected:
    // Called on the owner for opInsert/opRemove of its components, and on every linked component
    // for opRemove when this one is destroyed. The base unlinks a removed component; overrides
    // call it.
    virtual void Notification(TComponent* component, TOperation operation);
    // Tells linked components and the owner that this one is going away, while the derived parts
    // still exist. Calling it again only reaches what was linked since; the base destructor
    // calls it too.
    void NotifyDestroying();

private:
    void DetachFromLinks(TComponent* other);

    TComponent* owner_ = nullptr;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
    std::string name_;
    std::intptr_t tag_ = 0;
    bool destroying_ = false;
};

// Lets an object that is not a component itself learn that the one component it refers to is
// being destroyed: OnRemoved runs then (the watch has already let go of it; the component is half
// destroyed and must not be touched). One component at a time; the watch unlinks itself when it
// goes.
class TNvComponentWatch : public TComponent {
public:
    explicit TNvComponentWatch(std::function<void()> onRemoved) : onRemoved_(std::move(onRemoved)) {}
    ~TNvComponentWatch() override { Watch(nullptr); }

    TComponent* Watched() const { return watched_; }
    // None stops watching.
    void Watch(TComponent* component) {
        if (component == watched_)
            return;
        if (watched_ != nullptr)
            RemoveFreeNotification(watched_);
        watched_ = component;
        if (watched_ != nullptr)
            FreeNotification(watched_);
    }

protected:
    void Notification(TComponent* component, TOperation operation) override {
        TComponent::Notification(component, operation);
        if (operation == opRemove && component == watched_) {
            watched_ = nullptr;
            if (onRemoved_)
                onRemoved_();
        }
    }

private:
    std::function<void()> onRemoved_;
    TComponent* watched_ = nullptr;
};

}  // namespace nv
