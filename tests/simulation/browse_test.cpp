// Browsing the address space in both organisations.
#include "SimTestSupport.h"

#include <algorithm>

using namespace simtest;
using nv::sim::CLSID_Simulation;
using nv::sim::CLSID_SimulationFlat;

namespace {

class BrowseTest : public SimTest {
protected:
    Ptr<IOPCBrowseServerAddressSpace> Browser(const CLSID& clsid) {
        server_ = Create(clsid);
        return server_.As<IOPCBrowseServerAddressSpace>();
    }
    void TearDown() override {
        server_.Reset();
        SimTest::TearDown();
    }
    // Names listed, and the call's result in *result.
    static std::vector<std::string> List(IOPCBrowseServerAddressSpace* b, OPCBROWSETYPE type,
                                         const std::string& filter = "", VARTYPE vt = VT_EMPTY,
                                         DWORD rights = 0, HRESULT* result = nullptr) {
        Ptr<IEnumString> e;
        nv::WideString wfilter = nv::ToWide(filter);
        HRESULT hr = b->BrowseOPCItemIDs(type, wfilter.c_str(), vt, rights, e.Put());
        if (result)
            *result = hr;
        std::vector<std::string> out;
        if (!e)
            return out;
        LPOLESTR names[16];
        ULONG fetched = 0;
        // Batches, to exercise Next with more than one element.
        while (SUCCEEDED(e->Next(16, names, &fetched)) && fetched > 0) {
            for (ULONG i = 0; i < fetched; ++i) {
                out.push_back(Utf8(names[i]));
                CoTaskMemFree(names[i]);
            }
        }
        return out;
    }
    static bool Contains(const std::vector<std::string>& v, const std::string& s) {
        return std::find(v.begin(), v.end(), s) != v.end();
    }
    static std::string ItemId(IOPCBrowseServerAddressSpace* b, const std::string& name) {
        nv::WideString w = nv::ToWide(name);
        LPWSTR id = nullptr;
        if (FAILED(b->GetItemID(const_cast<LPWSTR>(w.c_str()), &id)))
            return "<failed>";
        std::string out = Utf8(id);
        CoTaskMemFree(id);
        return out;
    }
    Ptr<IOPCServer> server_;
};

TEST_F(BrowseTest, HierarchyIsWalkedDownUpAndTo) {
    auto b = Browser(CLSID_Simulation);
    OPCNAMESPACETYPE type{};
    ASSERT_EQ(b->QueryOrganization(&type), S_OK);
    EXPECT_EQ(type, OPC_NS_HIERARCHIAL);

    auto roots = List(b.Get(), OPC_BRANCH);
    for (const char* name : {"Static", "ReadOnly", "Dynamic", "Special Names", "Control", "Bulk"})
        EXPECT_TRUE(Contains(roots, name)) << name;
    HRESULT hr = S_OK;
    EXPECT_TRUE(List(b.Get(), OPC_LEAF, "", VT_EMPTY, 0, &hr).empty());  // no items at the root
    EXPECT_EQ(hr, S_FALSE);

    ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_DOWN, OLESTR("Dynamic")), S_OK);
    ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_DOWN, OLESTR("Ramp")), S_OK);
    auto leaves = List(b.Get(), OPC_LEAF);
    EXPECT_TRUE(Contains(leaves, "Real8"));
    EXPECT_TRUE(Contains(leaves, "Int4Array"));
    EXPECT_EQ(ItemId(b.Get(), "Real8"), "Dynamic.Ramp.Real8");
    EXPECT_EQ(ItemId(b.Get(), ""), "Dynamic.Ramp");  // the position itself
    EXPECT_EQ(ItemId(b.Get(), "NoSuchLeaf"), "<failed>");

    EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_DOWN, OLESTR("Nowhere")), E_INVALIDARG);
    ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_UP, OLESTR("")), S_OK);
    EXPECT_TRUE(Contains(List(b.Get(), OPC_BRANCH), "Sine"));
    ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_UP, OLESTR("")), S_OK);
    EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_UP, OLESTR("")), E_FAIL);  // already at the root

    // TO takes a full ID: of a branch, of an item (its branch), or "" for the root.
    ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR("Special Names.branch.with.dots")), S_OK);
    EXPECT_EQ(List(b.Get(), OPC_LEAF), (std::vector<std::string>{"value"}));
    EXPECT_EQ(ItemId(b.Get(), "value"), "Special Names.branch.with.dots.value");
    ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR("Static.Arrays.Int4Array")), S_OK);
    EXPECT_TRUE(Contains(List(b.Get(), OPC_LEAF), "Int4Array"));
    ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR("")), S_OK);
    EXPECT_TRUE(Contains(List(b.Get(), OPC_BRANCH), "Static"));
    EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR("Static.Nothing")), E_INVALIDARG);
}

TEST_F(BrowseTest, NamesThatNeedQuotingAreListedAndResolvedExactly) {
    auto b = Browser(CLSID_Simulation);
    ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_DOWN, OLESTR("Special Names")), S_OK);
    auto leaves = List(b.Get(), OPC_LEAF);
    for (const char* name : {"with space", "with/slash", "it's", "dot.ted"})
        EXPECT_TRUE(Contains(leaves, name)) << name;
    auto branches = List(b.Get(), OPC_BRANCH);
    EXPECT_TRUE(Contains(branches, "branch/with 'slash'"));
    EXPECT_EQ(ItemId(b.Get(), "dot.ted"), "Special Names.dot.ted");
    // Every ID browsing yields can be added as an item.
    Ptr<IOPCItemMgt> group = AddGroup(server_.Get(), "g", 1000);
    std::vector<std::string> ids;
    for (const auto& leaf : leaves)
        ids.push_back(ItemId(b.Get(), leaf));
    for (const auto& a : AddItems(group.Get(), ids))
        EXPECT_EQ(a.error, S_OK);
}

TEST_F(BrowseTest, FiltersSelectByNameTypeAndRights) {
    auto b = Browser(CLSID_Simulation);
    ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_DOWN, OLESTR("Static")), S_OK);
    auto ints = List(b.Get(), OPC_LEAF, "int?");  // case-insensitive, one character
    EXPECT_EQ(ints, (std::vector<std::string>{"Int1", "Int2", "Int4", "Int8"}));
    auto uints = List(b.Get(), OPC_LEAF, "*Int*");
    EXPECT_EQ(uints.size(), 8u);
    EXPECT_EQ(List(b.Get(), OPC_LEAF, "", VT_R8), (std::vector<std::string>{"Real8", "Percent"}));
    EXPECT_EQ(List(b.Get(), OPC_BRANCH, "Arr*"), (std::vector<std::string>{"Arrays"}));
    HRESULT hr = S_OK;
    EXPECT_TRUE(List(b.Get(), OPC_LEAF, "zzz*", VT_EMPTY, 0, &hr).empty());
    EXPECT_EQ(hr, S_FALSE);

    ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR("ReadOnly")), S_OK);
    EXPECT_FALSE(List(b.Get(), OPC_LEAF, "", VT_EMPTY, OPC_READABLE).empty());
    EXPECT_TRUE(List(b.Get(), OPC_LEAF, "", VT_EMPTY, OPC_WRITEABLE, &hr).empty());
    EXPECT_EQ(hr, S_FALSE);

    // A flat listing from a branch gives full IDs of everything below it.
    ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR("Dynamic")), S_OK);
    auto flat = List(b.Get(), OPC_FLAT, "Int4Array");
    EXPECT_EQ(flat.size(), 5u);  // one per kind of change
    EXPECT_TRUE(Contains(flat, "Dynamic.Square.Int4Array"));

    Ptr<IEnumString> e;
    EXPECT_EQ(b->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(7), OLESTR(""), VT_EMPTY, 0, e.Put()),
              E_INVALIDARG);
}

TEST_F(BrowseTest, FlatSpaceListsFullIdsAndHasNoPositions) {
    auto b = Browser(CLSID_SimulationFlat);
    OPCNAMESPACETYPE type{};
    ASSERT_EQ(b->QueryOrganization(&type), S_OK);
    EXPECT_EQ(type, OPC_NS_FLAT);
    HRESULT hr = S_OK;
    EXPECT_TRUE(List(b.Get(), OPC_BRANCH, "", VT_EMPTY, 0, &hr).empty());
    EXPECT_EQ(hr, S_FALSE);
    auto statics = List(b.Get(), OPC_FLAT, "Static.*", VT_I4);
    EXPECT_EQ(statics, (std::vector<std::string>{"Static.Int4"}));
    EXPECT_EQ(List(b.Get(), OPC_LEAF, "Control.Fail*").size(), 3u);
    EXPECT_EQ(List(b.Get(), OPC_LEAF, "Control.Refuse*").size(), 2u);
    EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_DOWN, OLESTR("Static")), E_FAIL);
    EXPECT_EQ(ItemId(b.Get(), "Static.Int4"), "Static.Int4");
    EXPECT_EQ(ItemId(b.Get(), "Static"), "<failed>");

    Ptr<IEnumString> paths;
    EXPECT_EQ(b->BrowseAccessPaths(OLESTR("Static.Int4"), paths.Put()), S_FALSE);
    EXPECT_TRUE(paths);
    EXPECT_EQ(b->BrowseAccessPaths(OLESTR("Not.There"), paths.Put()), OPC_E_UNKNOWNITEMID);
}

}  // namespace
