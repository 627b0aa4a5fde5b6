#include "foundation/NvComponent.h"

#include <algorithm>

#include "foundation/NvExceptions.h"
#include "foundation/NvSysUtils.h"

namespace nv {

namespace {
bool EraseOne(std::vector<TComponent*>& list, TComponent* item) {
    auto it = std::find(list.begin(), list.end(), item);
    if (it == list.end())
        return false;
    list.erase(it);
    return true;
}
}  // namespace

TComponent::TComponent(TComponent* owner) {
    if (owner != nullptr)
        owner->InsertComponent(this);
}

TComponent::~TComponent() {
    NotifyDestroying();
    DestroyComponents();
    // Links made or owners gained while the owned components were going away.
    NotifyDestroying();
}

TComponent* TComponent::Components(int index) const {
    if (index < 0 || index >= ComponentCount())
        throw EListError(Format("List index out of bounds (%d)", index));
    return components_[static_cast<std::size_t>(index)];
}

int TComponent::ComponentIndex() const {
    if (owner_ == nullptr)
        return -1;
    auto& siblings = owner_->components_;
    auto it = std::find(siblings.begin(), siblings.end(), this);
    return it == siblings.end() ? -1 : static_cast<int>(it - siblings.begin());
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    if (name.empty())
        return nullptr;
    for (TComponent* c : components_)
        if (SameText(c->name_, name))
            return c;
    return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
    if (component == nullptr || component == this || component->owner_ == this)
        return;
    // An owner inside its own subtree would destroy itself.
    for (TComponent* up = owner_; up != nullptr; up = up->owner_)
        if (up == component)
            throw EListError("A component cannot own one of its owners");
    if (component->owner_ != nullptr)
        component->owner_->RemoveComponent(component);
    components_.push_back(component);
    component->owner_ = this;
    Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
    if (component == nullptr || component->owner_ != this)
        return;
    Notification(component, opRemove);
    EraseOne(components_, component);
    component->owner_ = nullptr;
}

void TComponent::DestroyComponents() {
    while (!components_.empty()) {
        TComponent* last = components_.back();
        components_.pop_back();
        // Released first, so its destructor does not report back to an owner that is going away.
        last->owner_ = nullptr;
        delete last;
    }
}

void TComponent::FreeNotification(TComponent* component) {
    if (component == nullptr || component == this)
        return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), component) == freeNotifies_.end())
        freeNotifies_.push_back(component);
    auto& other = component->freeNotifies_;
    if (std::find(other.begin(), other.end(), this) == other.end())
        other.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
    if (component == nullptr)
        return;
    DetachFromLinks(component);
}

void TComponent::DetachFromLinks(TComponent* other) {
    EraseOne(freeNotifies_, other);
    EraseOne(other->freeNotifies_, this);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && component != nullptr)
        DetachFromLinks(component);
}

void TComponent::NotifyDestroying() {
    destroying_ = true;
    // Taken one at a time from the live list: a receiver may destroy or unlink other receivers.
    while (!freeNotifies_.empty()) {
        TComponent* receiver = freeNotifies_.back();
        DetachFromLinks(receiver);
        receiver->Notification(this, opRemove);
    }
    if (owner_ != nullptr)
        owner_->RemoveComponent(this);
}

}  // namespace nv
