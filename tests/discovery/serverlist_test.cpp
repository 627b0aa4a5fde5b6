// The server list against the simulation module's enumeration service and the registries of
// this machine and of simulated hosts, reached through COM object creation as the program does.
#include <string>
#include <vector>

#include "integration/ConnTestSupport.h"

namespace {

using conntest::ConnTest;
using conntest::Text;
using namespace nv;

const std::string kSim = Text(nv::sim::CLSID_Simulation);
const std::string kDA1 = Text(nv::sim::CLSID_SimulationDA1);
const std::string kFlat = Text(nv::sim::CLSID_SimulationFlat);
const std::string kAlias = Text(conntest::kAlias);
const std::string kWrongType = Text(conntest::kWrongType);

class ServerListTest : public ConnTest {
protected:
    static std::vector<std::string> Keys(const TNvOPCServerList& list) { return list.ToVector(); }
    static std::vector<std::string> ProgIDs(const TNvOPCServerList& list) {
        std::vector<std::string> out;
        for (int i = 0; i < list.Count(); ++i)
            out.push_back(list.GetDetails(i)->ProgID);
        return out;
    }
    static std::string RaisedBy(TNvOPCServerList& list, const std::string& host) {
        try {
            list.Connect(host);
        } catch (const ENvOPCException& e) {
            return e.Message();
        }
        return "(nothing raised)";
    }
};

const TNvOPCServerCategories kDA10{opcscDataAccess10};
const TNvOPCServerCategories kDA20{opcscDataAccess20};
const TNvOPCServerCategories kBoth{opcscDataAccess10, opcscDataAccess20};

TEST_F(ServerListTest, EnumerationServiceListsLocalServersByCategoryInClsidOrder) {
    TNvOPCServerList list;
    EXPECT_EQ(list.Categories(), kBoth);
    EXPECT_FALSE(list.UseRegistry());
    list.Connect("");
    EXPECT_EQ(list.Host(), "localhost");
    // kNoProgID has the category but no ProgID: the service cannot name it, so it is missing.
    EXPECT_EQ(Keys(list), (std::vector<std::string>{kSim, kDA1, kFlat, kAlias}));
    EXPECT_EQ(ProgIDs(list),
              (std::vector<std::string>{"Norvane.Simulation.1", "Norvane.Simulation.DA1.1",
                                        "Norvane.Simulation.Flat.1", "Local.Alias.Official.1"}));
    const TNvOPCServerDetails* sim = list.GetDetails(0);
    EXPECT_EQ(sim->Categories, kBoth);
    EXPECT_EQ(sim->Description, "Norvane OPC DA 2.0 Simulation Server");
    EXPECT_EQ(sim->Vendor, "");
    EXPECT_EQ(sim->Host, "localhost");
    EXPECT_EQ(list.GetDetails(1)->Categories, kDA10);
    // The service counts the OPC mark under the ProgID as DA 1.0.
    EXPECT_EQ(list.GetDetails(3)->Categories, kBoth);
    EXPECT_EQ(list.GetDetails(3)->Description, "Alias (class key)");

    TNvOPCServerList onlyDA2;
    onlyDA2.SetCategories(kDA20);
    onlyDA2.Connect("localhost");
    EXPECT_EQ(Keys(onlyDA2), (std::vector<std::string>{kSim, kFlat, kAlias}));
}

TEST_F(ServerListTest, RegistrySearchSkipsDotNamesMissingClassesAndGarbledClasses) {
    TNvOPCServerList list;
    list.SetCategories({});
    list.SetUseRegistry(true);
    list.Connect("localhost");
    EXPECT_TRUE(list.RegistryConnected());
    // Ordered by CLSID text: the alias, first by ProgID, comes after the simulation servers.
    EXPECT_EQ(Keys(list), (std::vector<std::string>{kSim, kDA1, kFlat, kAlias, kWrongType}));
    EXPECT_EQ(ProgIDs(list),
              (std::vector<std::string>{"Norvane.Simulation.1", "Norvane.Simulation.DA1.1",
                                        "Norvane.Simulation.Flat.1", "Aaa.Alias.1", "Local.WrongType.1"}));
    const TNvOPCServerDetails* alias = list.GetDetails(3);
    EXPECT_EQ(alias->Description, "Alias (ProgID key)");
    EXPECT_EQ(alias->Vendor, "Alias Works");  // the OPC key's "Vendor" value
    EXPECT_EQ(alias->Categories, kDA10);
    EXPECT_EQ(list.GetDetails(0)->Vendor, "Norvane");  // the OPC\Vendor key
    // A default value of the wrong type ends the work on that key, but the entry made stays.
    const TNvOPCServerDetails* wrong = list.GetDetails(4);
    EXPECT_EQ(wrong->Description, "");
    EXPECT_TRUE(wrong->Categories.Empty());
    EXPECT_EQ(list.DetailsByCLSID(conntest::kHidden), nullptr);
}

TEST_F(ServerListTest, BothSourcesListEachServerOnceWithMergedDetails) {
    TNvOPCServerList list;
    list.SetUseRegistry(true);
    list.Connect("localhost");
    EXPECT_EQ(Keys(list), (std::vector<std::string>{kSim, kDA1, kFlat, kAlias, kWrongType}));
    const TNvOPCServerDetails* alias = list.DetailsByCLSID(conntest::kAlias);
    ASSERT_NE(alias, nullptr);
    EXPECT_EQ(alias->ProgID, "Aaa.Alias.1");             // the registry search ran first
    EXPECT_EQ(alias->Description, "Alias (class key)");  // the service's user-type name wins
    EXPECT_EQ(alias->Vendor, "Alias Works");
    EXPECT_EQ(list.GetDetails(1)->Categories, kDA10);

    // Categories merge: asked for DA 2.0 only, the registry search still adds DA 1.0.
    TNvOPCServerList da2;
    da2.SetCategories(kDA20);
    da2.SetUseRegistry(true);
    da2.Connect("localhost");
    EXPECT_EQ(da2.DetailsByCLSID(nv::sim::CLSID_Simulation)->Categories, kBoth);
    EXPECT_EQ(da2.DetailsByCLSID(nv::sim::CLSID_SimulationDA1)->Categories, kDA10);
}

TEST_F(ServerListTest, ConnectRefreshesOnlyForAnotherHostTextOrWithoutService) {
    TNvOPCServerList list;
    list.Connect("localhost");
    ASSERT_EQ(list.Count(), 4);
    list.Clear();
    list.Connect("localhost");
    EXPECT_EQ(list.Count(), 0) << "same host while the service is held: no refresh";
    list.Connect("LocalHost");
    EXPECT_EQ(list.Count(), 4) << "the comparison of host texts is case-sensitive";
    list.Clear();
    list.Release();
    list.Connect("LocalHost");
    EXPECT_EQ(list.Count(), 4) << "without the service, the same host refreshes";
}

TEST_F(ServerListTest, RemoteHostServiceAndRegistry) {
    NV_REQUIRE_SIMULATED_HOSTS();
    TNvOPCServerList list;
    list.SetUseRegistry(true);
    list.Connect(conntest::kHost);
    ASSERT_EQ(ProgIDs(list), (std::vector<std::string>{"Plant.Simulation.1"}));
    EXPECT_EQ(list.GetDetails(0)->Host, "plant7");
    EXPECT_EQ(list.GetDetails(0)->Description, "Plant simulation");
    EXPECT_EQ(list.GetDetails(0)->Categories, kBoth);
    // This machine's servers never appear as the host's.
    EXPECT_EQ(list.DetailsByCLSID(nv::sim::CLSID_SimulationDA1), nullptr);
}

TEST_F(ServerListTest, HostWithoutServiceNeedsTheRegistrySearch) {
    NV_REQUIRE_SIMULATED_HOSTS();
    TNvOPCServerList withRegistry;
    withRegistry.SetUseRegistry(true);
    withRegistry.Connect(conntest::kBareHost);
    EXPECT_EQ(ProgIDs(withRegistry), (std::vector<std::string>{"Bare.Server.1"}));
    EXPECT_EQ(withRegistry.GetDetails(0)->Description, "Bare server");
    EXPECT_EQ(withRegistry.ServerList(), nullptr);

    TNvOPCServerList serviceOnly;
    EXPECT_EQ(RaisedBy(serviceOnly, conntest::kBareHost),
              "Could not connect to OPCEnum service at 'bare3': " + GetOPCErrorName(REGDB_E_CLASSNOTREG));
    EXPECT_EQ(serviceOnly.Count(), 0);
}

TEST_F(ServerListTest, UnknownHostReportsTheHostAndNeverListsLocalServers) {
    NV_REQUIRE_SIMULATED_HOSTS();
    const std::string unavailable = GetOPCErrorName(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    TNvOPCServerList list;
    EXPECT_EQ(RaisedBy(list, conntest::kNoHost),
              "Could not connect to OPCEnum service at 'nohost9': " + unavailable);

    TNvOPCServerList withRegistry;
    withRegistry.SetUseRegistry(true);
    EXPECT_EQ(RaisedBy(withRegistry, conntest::kNoHost),
              "Could not connect to OPCEnum service at 'nohost9': " + unavailable);
    EXPECT_EQ(withRegistry.Count(), 0);

    // The registry search alone refuses rather than walking this machine's registry.
    TNvOPCServerList registryOnly;
    registryOnly.SetCategories({});
    try {
        registryOnly.Connect(conntest::kNoHost);
    } catch (const ENvOPCException&) {
    }
    try {
        registryOnly.SearchRegistry();
        ADD_FAILURE() << "SearchRegistry on an unreachable host raised nothing";
    } catch (const ENvOPCException& e) {
        EXPECT_EQ(e.Message(), "Could not connect to the registry of 'nohost9': " +
                                   GetOPCErrorName(HRESULT_FROM_WIN32(ERROR_BAD_NETPATH)));
    }
    EXPECT_EQ(registryOnly.Count(), 0);
}

TEST_F(ServerListTest, FindCLSIDMatchesEntriesExactlyThenAsksTheService) {
    TNvOPCServerList list;
    list.SetUseRegistry(true);
    list.Connect("localhost");
    CLSID clsid{};
    ASSERT_TRUE(list.FindCLSID("Aaa.Alias.1", clsid));
    EXPECT_EQ(Text(clsid), kAlias);
    // Known to the service only under the class's own ProgID.
    ASSERT_TRUE(list.FindCLSID("Norvane.Simulation", clsid));
    EXPECT_EQ(Text(clsid), kSim);
    EXPECT_FALSE(list.FindCLSID("No.Such.Server", clsid));

    list.Release();
    EXPECT_TRUE(list.FindCLSID("Norvane.Simulation.DA1.1", clsid));
    EXPECT_EQ(Text(clsid), kDA1);
    EXPECT_FALSE(list.FindCLSID("norvane.simulation.da1.1", clsid)) << "entries match case-sensitively";
    EXPECT_FALSE(list.FindCLSID("Norvane.Simulation", clsid)) << "no service, no further lookup";
}

TEST_F(ServerListTest, AddServerKeepsExistingEntries) {
    TNvOPCServerList list;
    list.SetCategories({});
    list.Connect("localhost");
    ASSERT_EQ(list.Count(), 0);
    TNvOPCServerDetails* first = list.AddServer(conntest::kBare, "First.1");
    EXPECT_EQ(list.AddServer(conntest::kBare, "Second.1"), first);
    EXPECT_EQ(first->ProgID, "First.1");
    EXPECT_EQ(first->Host, "localhost");
    EXPECT_EQ(list.Count(), 1);
}

TEST_F(ServerListTest, AssigningToAStringListGivesProgIDsWithEntriesAttached) {
    TNvOPCServerList list;
    list.SetUseRegistry(true);
    list.Connect("localhost");
    TNvStringList target;
    target.Add("stale");
    target.Assign(&list);
    ASSERT_EQ(target.Count(), list.Count());
    for (int i = 0; i < list.Count(); ++i) {
        EXPECT_EQ(target.Strings(i), list.GetDetails(i)->ProgID);
        EXPECT_EQ(target.Objects(i), list.GetDetails(i));
    }
    // A list that would destroy the entries is refused.
    TNvStringList owning(true);
    EXPECT_THROW(owning.Assign(&list), EConvertError);
    EXPECT_EQ(owning.Count(), 0);
}

}  // namespace
