#include "foundation/NvExceptions.h"
#include "foundation/NvSignals.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace nv {
namespace {

// The invariant every operation must keep: a signal lists a slot exactly when the slot lists it.
void ExpectLinked(const TNvSignal& signal, const TNvSlot& slot, bool linked) {
    EXPECT_EQ(signal.IsConnected(&slot), linked);
    EXPECT_EQ(slot.IsConnected(&signal), linked);
}

// A slot that records what reaches it.
struct Listener {
    std::string name;
    std::vector<std::string>* journal;
    TNvSlot slot;

    Listener(std::string n, std::vector<std::string>& j) : name(std::move(n)), journal(&j) {
        slot.OnSignal = [this](TComponent* sender) {
            journal->push_back(name + ".signal(" + (sender ? sender->Name() : "nil") + ")");
        };
        slot.OnActivate = [this](TNvSignal*) { journal->push_back(name + ".activate"); };
        slot.OnDeactivate = [this](TNvSignal*) { journal->push_back(name + ".deactivate"); };
        slot.OnDisconnect = [this](TNvSignal*) { journal->push_back(name + ".disconnect"); };
    }
};

class SignalsTest : public ::testing::Test {
protected:
    SignalsTest() { server_.SetName("Server"); }
    TComponent server_;
    std::vector<std::string> journal_;
};

TEST_F(SignalsTest, ConnectingTwiceFromEitherSideLeavesOneLinkOnEachSide) {
    TNvSignal signal(&server_);
    TNvSlot slot;
    signal.Connect(&slot);
    signal.Connect(&slot);
    slot.Connect(&signal);
    EXPECT_EQ(signal.SlotCount(), 1);
    EXPECT_EQ(slot.SignalCount(), 1);
    ExpectLinked(signal, slot, true);
    signal.Connect(nullptr);
    slot.Connect(nullptr);
    EXPECT_EQ(signal.SlotCount(), 1);
    EXPECT_EQ(slot.SignalCount(), 1);
}

TEST_F(SignalsTest, DisconnectingFromTheOtherSideEmptiesBothListsAndTellsTheSlotOnce) {
    TNvSignal signal(&server_);
    Listener group("g", journal_);
    group.slot.Connect(&signal);
    ExpectLinked(signal, group.slot, true);
    signal.Disconnect(&group.slot);
    ExpectLinked(signal, group.slot, false);
    EXPECT_EQ(signal.SlotCount(), 0);
    EXPECT_EQ(group.slot.SignalCount(), 0);
    EXPECT_EQ(journal_, std::vector<std::string>{"g.disconnect"});

    // Nothing happens for a pair that is no longer linked, or for null.
    signal.Disconnect(&group.slot);
    group.slot.Disconnect(&signal);
    signal.Disconnect(nullptr);
    EXPECT_EQ(journal_.size(), 1U);

    signal.Connect(&group.slot);
    group.slot.Disconnect(&signal);
    ExpectLinked(signal, group.slot, false);
    EXPECT_EQ(journal_, (std::vector<std::string>{"g.disconnect", "g.disconnect"}));
}

TEST_F(SignalsTest, TheDisconnectHandlerSeesBothSidesAlreadyUnlinked) {
    TNvSignal signal(&server_);
    TNvSlot slot;
    bool sawLink = true;
    TNvSignal* told = nullptr;
    slot.OnDisconnect = [&](TNvSignal* s) {
        told = s;
        sawLink = signal.IsConnected(&slot) || slot.IsConnected(&signal);
    };
    signal.Connect(&slot);
    signal.Disconnect(&slot);
    EXPECT_EQ(told, &signal);
    EXPECT_FALSE(sawLink);
}

TEST_F(SignalsTest, RaisingCallsEnabledSlotsInOrderOfConnection) {
    TNvSignal signal(&server_);
    Listener a("a", journal_), b("b", journal_), c("c", journal_);
    TNvSlot silent;  // no OnSignal: skipped without harm
    signal.Connect(&b.slot);
    signal.Connect(&silent);
    signal.Connect(&a.slot);
    signal.Connect(&c.slot);
    c.slot.SetEnabled(false);
    signal.Raise();
    EXPECT_EQ(journal_, (std::vector<std::string>{"b.signal(Server)", "a.signal(Server)"}));
}

TEST_F(SignalsTest, AnInactiveSignalCallsNoHandler) {
    TNvSignal signal(&server_);
    Listener a("a", journal_);
    signal.Connect(&a.slot);
    signal.SetActive(false);
    journal_.clear();
    signal.Raise();
    EXPECT_TRUE(journal_.empty());
    signal.SetActive(true);
    signal.Raise();
    EXPECT_EQ(journal_, (std::vector<std::string>{"a.activate", "a.signal(Server)"}));
}

TEST_F(SignalsTest, ActivationIsReportedOnlyOnAChange) {
    TNvSignal signal(&server_);
    Listener a("a", journal_), b("b", journal_);
    signal.Connect(&a.slot);
    signal.Connect(&b.slot);
    signal.SetActive(true);
    EXPECT_TRUE(journal_.empty());
    signal.SetActive(false);
    signal.SetActive(false);
    signal.SetActive(true);
    EXPECT_EQ(journal_,
              (std::vector<std::string>{"a.deactivate", "b.deactivate", "a.activate", "b.activate"}));
}

TEST_F(SignalsTest, ADestroyedSlotIsNoLongerReached) {
    TNvSignal signal(&server_);
    Listener a("a", journal_);
    auto group = std::make_unique<Listener>("g", journal_);
    signal.Connect(&a.slot);
    signal.Connect(&group->slot);
    group.reset();
    EXPECT_EQ(journal_, std::vector<std::string>{"g.disconnect"});
    EXPECT_EQ(signal.SlotCount(), 1);
    journal_.clear();
    signal.Raise();
    EXPECT_EQ(journal_, std::vector<std::string>{"a.signal(Server)"});
}

TEST_F(SignalsTest, ADestroyedSignalLeavesItsSlotsUnlinkedNewestFirst) {
    Listener a("a", journal_), b("b", journal_);
    auto connected = std::make_unique<TNvSignal>(&server_);
    TNvSignal disconnecting(&server_);
    a.slot.Connect(connected.get());
    b.slot.Connect(connected.get());
    a.slot.Connect(&disconnecting);
    connected.reset();
    EXPECT_EQ(journal_, (std::vector<std::string>{"b.disconnect", "a.disconnect"}));
    EXPECT_EQ(a.slot.Signals(), std::vector<TNvSignal*>{&disconnecting});
    EXPECT_EQ(b.slot.SignalCount(), 0);
}

TEST_F(SignalsTest, DisconnectAllUnlinksEverySlot) {
    TNvSignal signal(&server_);
    TNvSignal other(&server_);
    Listener a("a", journal_), b("b", journal_);
    signal.Connect(&a.slot);
    signal.Connect(&b.slot);
    other.Connect(&a.slot);
    signal.DisconnectAll();
    EXPECT_EQ(signal.SlotCount(), 0);
    ExpectLinked(signal, a.slot, false);
    ExpectLinked(signal, b.slot, false);
    ExpectLinked(other, a.slot, true);
    EXPECT_EQ(journal_, (std::vector<std::string>{"b.disconnect", "a.disconnect"}));
}

TEST_F(SignalsTest, AHandlerThatDisconnectsSlotsDuringRaiseIsSafe) {
    TNvSignal signal(&server_);
    Listener b("b", journal_), c("c", journal_);
    TNvSlot first;
    first.OnSignal = [&](TComponent*) {
        journal_.push_back("first");
        signal.DisconnectAll();
    };
    signal.Connect(&first);
    signal.Connect(&b.slot);
    signal.Connect(&c.slot);
    signal.Raise();
    EXPECT_EQ(journal_, (std::vector<std::string>{"first", "c.disconnect", "b.disconnect"}));
}

TEST_F(SignalsTest, AHandlerExceptionReachesTheCaller) {
    TNvSignal signal(&server_);
    TNvSlot slot;
    slot.OnSignal = [](TComponent*) { throw EListError("handler failed"); };
    signal.Connect(&slot);
    EXPECT_THROW(signal.Raise(), EListError);
    ExpectLinked(signal, slot, true);
}

}  // namespace
}  // namespace nv
