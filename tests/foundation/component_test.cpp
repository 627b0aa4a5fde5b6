#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/NvComponent.h"
#include "foundation/NvEvents.h"
#include "foundation/NvExceptions.h"

namespace nv {
namespace {

using Log = std::vector<std::string>;

// Records what it hears and when it goes, by name.
class TProbe : public TComponent {
public:
    TProbe(TComponent* owner, std::string name, Log* log) : TComponent(owner), log_(log) { SetName(name); }
    ~TProbe() override {
        NotifyDestroying();
        log_->push_back("destroy " + Name());
    }
    TComponent* watched = nullptr;

protected:
    void Notification(TComponent* component, TOperation operation) override {
        TComponent::Notification(component, operation);
        std::string who = component->Name();
        log_->push_back(Name() + (operation == opInsert ? " +" : " -") + who);
        if (operation == opRemove && component == watched)
            watched = nullptr;
    }

private:
    Log* log_;
};

TEST(Component, OwnedComponentsGoWithTheOwnerInReverseOrder) {
    Log log;
    auto* owner = new TProbe(nullptr, "owner", &log);
    auto* a = new TProbe(owner, "a", &log);
    new TProbe(owner, "b", &log);
    new TProbe(a, "a1", &log);
    EXPECT_EQ(owner->ComponentCount(), 2);
    EXPECT_EQ(owner->Components(0), a);
    EXPECT_EQ(a->Owner(), owner);
    EXPECT_EQ(a->ComponentIndex(), 0);
    EXPECT_EQ(owner->FindComponent("B"), owner->Components(1));
    EXPECT_EQ(owner->FindComponent("zz"), nullptr);
    EXPECT_THROW(owner->Components(2), EListError);
    log.clear();
    delete owner;
    // The owner's own destructor runs first; its components then go last-in first-out, each
    // taking its own components with it after its own destructor. Components destroyed by their
    // owner do not report back to it.
    EXPECT_EQ(log, (Log{"destroy owner", "destroy b", "destroy a", "destroy a1"}));
}

TEST(Component, OwnerHearsInsertionAndRemoval) {
    Log log;
    TProbe owner(nullptr, "owner", &log);
    auto* child = new TProbe(&owner, "", &log);
    child->SetName("child");
    TProbe other(nullptr, "other", &log);
    other.InsertComponent(child);
    EXPECT_EQ(child->Owner(), &other);
    EXPECT_EQ(owner.ComponentCount(), 0);
    delete child;
    EXPECT_EQ(other.ComponentCount(), 0);
    EXPECT_EQ(log, (Log{"owner +", "owner -child", "other +child", "other -child", "destroy child"}));
    log.clear();
}

TEST(Component, OwnershipCannotFormACycle) {
    TComponent root;
    auto* child = new TComponent(&root);
    auto* grandchild = new TComponent(child);
    EXPECT_THROW(grandchild->InsertComponent(&root), EListError);
    root.InsertComponent(&root);
    EXPECT_EQ(root.ComponentCount(), 1);
    EXPECT_EQ(grandchild->ComponentCount(), 0);
}

TEST(Component, FreeNotificationReachesTheSurvivorWhicheverGoesFirst) {
    for (bool serverFirst : {true, false}) {
        Log log;
        auto* server = new TProbe(nullptr, "server", &log);
        auto* group = new TProbe(nullptr, "group", &log);
        group->watched = server;
        server->FreeNotification(group);
        server->FreeNotification(group);  // twice is once
        if (serverFirst) {
            delete server;
            EXPECT_EQ(group->watched, nullptr);
            delete group;
            EXPECT_EQ(log, (Log{"group -server", "destroy server", "destroy group"}));
        } else {
            delete group;
            delete server;
            EXPECT_EQ(log, (Log{"server -group", "destroy group", "destroy server"}));
        }
    }
}

TEST(Component, RemovedFreeNotificationIsSilent) {
    Log log;
    auto* a = new TProbe(nullptr, "a", &log);
    TProbe b(nullptr, "b", &log);
    a->FreeNotification(&b);
    b.RemoveFreeNotification(a);
    delete a;
    EXPECT_EQ(log, (Log{"destroy a"}));
}

TEST(Component, LinkedSiblingsOfOneOwnerAreToldDuringTheOwnersTeardown) {
    Log log;
    auto* owner = new TComponent();
    auto* server = new TProbe(owner, "server", &log);
    auto* group = new TProbe(owner, "group", &log);
    group->watched = server;
    server->FreeNotification(group);
    delete owner;
    // group goes first (inserted last) and tells server; nothing is left dangling.
    EXPECT_EQ(log, (Log{"server -group", "destroy group", "destroy server"}));
}

// A receiver that destroys another linked component while being notified must not leave the
// dying component walking a stale list.
class TCascade : public TProbe {
public:
    using TProbe::TProbe;
    TComponent* alsoDestroy = nullptr;

protected:
    void Notification(TComponent* component, TOperation operation) override {
        TProbe::Notification(component, operation);
        if (operation == opRemove && alsoDestroy != nullptr)
            delete std::exchange(alsoDestroy, nullptr);
    }
};

TEST(Component, ReceiverMayDestroyAnotherReceiverDuringNotification) {
    Log log;
    auto* dying = new TProbe(nullptr, "dying", &log);
    auto* other = new TProbe(nullptr, "other", &log);
    auto* cascade = new TCascade(nullptr, "cascade", &log);
    dying->FreeNotification(other);
    dying->FreeNotification(cascade);
    cascade->alsoDestroy = other;
    delete dying;
    EXPECT_EQ(log, (Log{"cascade -dying", "dying -other", "destroy other", "destroy dying"}));
    delete cascade;
}

TEST(Component, AssignBetweenUnrelatedComponentsIsRefused) {
    TComponent a;
    class TWidget : public TComponent {};
    TWidget w;
    try {
        a.Assign(&w);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TWidget to a TComponent");
        EXPECT_STREQ(e.what(), "Cannot assign a TWidget to a TComponent");
        EXPECT_EQ(e.ClassName(), "EConvertError");
    }
    EXPECT_EQ(w.ClassName(), "TWidget");
}

TEST(Component, OleSysErrorCarriesItsCodeAndIsAnException) {
    try {
        throw EOleSysError("Catastrophic failure", static_cast<HRESULT>(0x8000FFFF));
    } catch (const Exception& e) {
        auto* ole = dynamic_cast<const EOleSysError*>(&e);
        ASSERT_NE(ole, nullptr);
        EXPECT_EQ(ole->ErrorCode(), static_cast<HRESULT>(0x8000FFFF));
        EXPECT_EQ(e.Message(), "Catastrophic failure");
        EXPECT_EQ(e.ClassName(), "EOleSysError");
    }
}

TEST(Events, EmptyEventIsSkippedAndAHandlerMayClearItsOwnEvent) {
    TNotifyEvent event;
    CallEvent(event, nullptr);  // nothing bound: nothing happens
    int calls = 0;
    TObject sender;
    event = [&](TObject* s) {
        EXPECT_EQ(s, &sender);
        ++calls;
        event = nullptr;
    };
    CallEvent(event, &sender);
    CallEvent(event, &sender);
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace nv
