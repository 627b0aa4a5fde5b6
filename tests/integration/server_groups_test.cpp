// The server's side of its groups: unique names, client handles, the attach order, clearing
// and destroying owned groups. The groups here are minimal stand-ins for the group class that
// implement only what the server asks of a group.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/NvStringList.h"
#include "opc/NvOPCServer.h"

namespace {

using namespace nv;

class Group : public TObject, public INvOPCServerGroup {
public:
    explicit Group(std::string name, int* destroyed = nullptr)
        : name_(std::move(name)), destroyed_(destroyed) {}
    ~Group() override {
        if (destroyed_ != nullptr)
            ++*destroyed_;
        // As the group class will: leaving its server's list on the way out.
        if (server_ != nullptr)
            server_->DisconnectGroup(this);
    }
    std::string GetGroupName() const override { return name_; }
    void SetUniqueGroupName(const std::string& name) override { name_ = name; }
    void AttachedToServer(TNvOPCServer* server, OPCHANDLE clientHandle) override {
        server_ = server;
        handle_ = clientHandle;
    }
    void Rename(const std::string& name) {
        name_ = name;
        server_->GroupChange(this);
    }
    OPCHANDLE Handle() const { return handle_; }
    TNvOPCServer* Server() const { return server_; }

private:
    std::string name_;
    int* destroyed_;
    TNvOPCServer* server_ = nullptr;
    OPCHANDLE handle_ = 0;
};

TEST(ServerGroupsTest, NamesAreMadeUniqueIgnoringCaseAndHandlesCountFromOne) {
    TNvOPCServer server;
    int changes = 0;
    server.OnChange = [&](TObject*) { ++changes; };
    Group a("Group"), b("Group"), c("Group"), d("GROUP"), e("");
    EXPECT_EQ(server.ConnectGroup(&a), 0);
    EXPECT_EQ(server.ConnectGroup(&b), 1);
    EXPECT_EQ(server.ConnectGroup(&c), 2);
    EXPECT_EQ(server.ConnectGroup(&d), 3);
    EXPECT_EQ(server.ConnectGroup(&e), 4);
    EXPECT_EQ(a.GetGroupName(), "Group");
    EXPECT_EQ(b.GetGroupName(), "Group1");
    EXPECT_EQ(c.GetGroupName(), "Group2");
    EXPECT_EQ(d.GetGroupName(), "GROUP3");
    EXPECT_EQ(e.GetGroupName(), "") << "an empty name is left alone";
    EXPECT_EQ(a.Handle(), 1u);
    EXPECT_EQ(b.Handle(), 2u);
    EXPECT_EQ(e.Handle(), 5u);
    EXPECT_EQ(a.Server(), &server);
    EXPECT_EQ(changes, 5);

    // Attaching again changes nothing.
    EXPECT_EQ(server.ConnectGroup(&b), 1);
    EXPECT_EQ(b.Handle(), 2u);
    EXPECT_EQ(server.GroupCount(), 5);
    EXPECT_EQ(changes, 5);

    // A renamed group's list entry follows it, and counts for later names.
    b.Rename("Pumps");
    std::string name = "pumps";
    EXPECT_TRUE(server.MakeUniqueGroupName(name));
    EXPECT_EQ(name, "pumps1");
    name = "Group1";
    EXPECT_FALSE(server.MakeUniqueGroupName(name));

    TNvStringList lines;
    lines.Assign(&server);
    EXPECT_EQ(lines.ToVector(), (std::vector<std::string>{"Group", "Pumps", "Group2", "GROUP3", ""}));
    EXPECT_EQ(lines.Objects(1), &b);

    server.DisconnectGroup(&c);
    EXPECT_EQ(server.IndexOfGroup(&c), -1);
    EXPECT_EQ(server.IndexOfGroup(&d), 2);
    EXPECT_EQ(server.Groups(2), &d);
    EXPECT_THROW(server.Groups(4), EListError);
}

TEST(ServerGroupsTest, ClearRestartsNumberingAndDestroysOwnedGroupsLastFirst) {
    TNvOPCServer server;
    Group kept("Kept");
    server.ConnectGroup(&kept);
    server.Clear();
    EXPECT_EQ(server.GroupCount(), 0);
    Group again("Again");
    server.ConnectGroup(&again);
    EXPECT_EQ(again.Handle(), 1u) << "Clear starts the client handles over";
    server.Clear();

    int destroyed = 0;
    server.SetOwnsGroups(true);
    server.ConnectGroup(new Group("One", &destroyed));
    server.ConnectGroup(new Group("Two", &destroyed));
    server.Clear();
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(server.GroupCount(), 0);

    // Changing the host clears too, even when nothing else changes.
    server.ConnectGroup(new Group("Three", &destroyed));
    server.SetHost("otherhost");
    EXPECT_EQ(destroyed, 3);
    EXPECT_EQ(server.GroupCount(), 0);

    // A server destroyed with groups it owns takes them along.
    auto* owner = new TNvOPCServer();
    owner->SetOwnsGroups(true);
    owner->ConnectGroup(new Group("Four", &destroyed));
    delete owner;
    EXPECT_EQ(destroyed, 4);
}

}  // namespace
