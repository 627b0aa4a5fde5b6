// The address space's export file and construction rules, without a connection: the header line
// as it is written and every way a header may come back from a person's editor or another
// system.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "discovery/NvOPCAddressSpace.h"
#include "foundation/NvSysUtils.h"
#include "opc/NvOPCServer.h"
#include "platform/NvWide.h"

namespace {

using namespace nv;

class ExportFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = FormatSettings();
        SetFormatSettings(DefaultFormatSettings());
    }
    void TearDown() override { SetFormatSettings(previous_); }

    // The name is kept even though no class can be found for it.
    void Name(const std::string& name) {
        try {
            server_.SetServerName(name);
        } catch (const ENvOPCException&) {
        }
        ASSERT_EQ(server_.ServerName(), name);
    }

    std::string Saved() const {
        std::ostringstream out;
        space_.SaveToStream(out);
        return out.str();
    }

    void Load(const std::string& text) {
        std::istringstream in(text);
        space_.LoadFromStream(in);
    }

    void UseListSeparator(const std::string& separator) {
        TFormatSettings settings = DefaultFormatSettings();
        settings.ListSeparator = separator;
        SetFormatSettings(settings);
    }

    TFormatSettings previous_;
    TNvOPCServer server_;
    TNvOPCAddressSpace space_{&server_};
};

TEST_F(ExportFileTest, TheHeaderLineReadsAsTheExample) {
    Name("Vendor.Server.1");
    space_.Add("Line1", 0);
    space_.Add("Temp", 1);
    EXPECT_EQ(Saved(), "ServerName=Vendor.Server.1,PathSeparator=/,QuoteChar='\r\nLine1\r\nLine1/Temp\r\n");
}

TEST_F(ExportFileTest, TheHeaderKeepsItsOrderAndQuotesWhatNeedsIt) {
    Load("rootpath=Plant/Line1;X,ROOTITEM=Plant.Line1,PathSeparator=/,QuoteChar='\n");
    EXPECT_EQ(space_.RootItem(), "Plant.Line1");
    EXPECT_EQ(space_.RootPath(), "Plant/Line1;X");
    Name("Odd \"Name\", Inc");
    EXPECT_EQ(Saved(),
              "\"ServerName=Odd \"\"Name\"\", Inc\",RootItem=Plant.Line1,RootPath=Plant/Line1;X,"
              "PathSeparator=/,QuoteChar='\r\n");
    // Without a server name the entry is left out; the characters are always written.
    Name("");
    space_.SetPathSeparator(',');
    space_.SetQuoteChar('"');
    space_.Add("a,b", 0);
    EXPECT_EQ(
        Saved(),
        "RootItem=Plant.Line1,RootPath=Plant/Line1;X,\"PathSeparator=,\",\"QuoteChar=\"\"\"\r\n\"a,b\"\r\n");
    const std::string text = Saved();
    TNvOPCAddressSpace again(&server_);
    std::istringstream in(text);
    again.LoadFromStream(in);
    EXPECT_EQ(again.PathSeparator(), ',');
    EXPECT_EQ(again.QuoteChar(), '"');
    EXPECT_EQ(again.PathStack()->Delimiter(), ',');
    EXPECT_EQ(again.PathStack()->QuoteChar(), '"');
    EXPECT_EQ(again.Strings(0), "a,b");
}

TEST_F(ExportFileTest, EveryLineEndEndsTheHeader) {
    for (const char* end : {"\r\n", "\n", "\r", "\n\r"}) {
        Load(std::string("PathSeparator=.,QuoteChar=\"") + end + "A\r\nA.\"b.c\"\r\n");
        ASSERT_EQ(space_.Count(), 2) << "line end " << testing::PrintToString(std::string(end));
        EXPECT_EQ(space_.PathSeparator(), '.');
        EXPECT_EQ(space_.QuoteChar(), '"');
        EXPECT_EQ(space_.Strings(1), "b.c");
        EXPECT_TRUE(space_.Updated());
        EXPECT_EQ(space_.NodeType(1), kNvBranchNode);
        EXPECT_FALSE(space_.SpaceNodes(1)->Browsed());
    }
    // Missing or empty characters keep the ones in use.
    Load("ServerName=x,PathSeparator=\nA\nA.b\n");
    EXPECT_EQ(space_.PathSeparator(), '.');
    EXPECT_EQ(space_.QuoteChar(), '"');
    EXPECT_EQ(space_.Count(), 2);
}

TEST_F(ExportFileTest, AFileFromASystemWithAnotherListSeparatorLoads) {
    UseListSeparator(";");
    Name("Vendor.Server.1");
    std::istringstream header("RootItem=Plant.Line1,PathSeparator=/,QuoteChar='\n");
    TNvOPCAddressSpace writer(&server_);
    writer.LoadFromStream(header);
    writer.Add("Line1", 0);
    std::ostringstream out;
    writer.SaveToStream(out);
    EXPECT_EQ(out.str(),
              "ServerName=Vendor.Server.1;RootItem=Plant.Line1;PathSeparator=/;QuoteChar='\r\nLine1\r\n");

    UseListSeparator(",");
    Load(out.str());
    EXPECT_EQ(space_.RootItem(), "Plant.Line1");
    EXPECT_EQ(space_.PathSeparator(), '/');
    EXPECT_EQ(space_.Count(), 1);
}

TEST_F(ExportFileTest, AStreamThatEndsInsideTheHeaderIsAnEmptySpace) {
    space_.Add("old", 0);
    Load("ServerName=Vendor.Server.1,PathSep");
    EXPECT_EQ(space_.Count(), 0);
    EXPECT_TRUE(space_.Updated());
    space_.Add("old", 0);
    Load("");
    EXPECT_EQ(space_.Count(), 0);
    EXPECT_TRUE(space_.Updated());
}

TEST_F(ExportFileTest, UnreadableFilesAreReportedAndDoNotCrash) {
    space_.Add("kept", 0);
    try {
        Load("PathSeparator=/,QuoteChar=/\r\nA\r\n");
        FAIL() << "one character for both jobs was accepted";
    } catch (const ENvOPCAddressSpaceError& e) {
        EXPECT_STREQ(e.what(), "The address space file uses '/' both to separate and to quote names");
    }
    EXPECT_EQ(space_.Count(), 1);
    EXPECT_EQ(space_.PathSeparator(), '/');
    EXPECT_EQ(space_.QuoteChar(), '\'');

    try {
        Load("PathSeparator=/,QuoteChar='\r\nA\r\n\r\nB\r\n");
        FAIL();
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "Line 3 holds no path");  // the header is line 1
    }
    EXPECT_EQ(space_.Count(), 1);
    EXPECT_FALSE(space_.Updated());

    // Binary junk in the header: read as what it is, an unknown header.
    Load(std::string("\x01\x02=\x7f,,,\"\"\"=", 12) + "\nA\n");
    EXPECT_EQ(space_.Count(), 1);
    // UTF-16 with a byte order mark, as a Windows editor saves it.
    const std::u16string text = u"PathSeparator=/,QuoteChar='\r\nLine1\r\nLine1/Temp\r\n";
    std::string le = "\xFF\xFE";
    for (char16_t c : text) {
        le += static_cast<char>(c & 0xFF);
        le += static_cast<char>(c >> 8);
    }
    Load(le);
    ASSERT_EQ(space_.Count(), 2);
    EXPECT_EQ(space_.PathOfIndex(1), "Line1/Temp");
}

TEST(AddressSpaceConstructionTest, NeedsAServerAndOwnsItsNodes) {
    try {
        TNvOPCAddressSpace space(nullptr);
        FAIL();
    } catch (const ENvOPCException& e) {
        EXPECT_STREQ(e.what(), "Cannot create address space without a valid Server");
    }
    TNvStringTree plain;
    try {
        delete TNvOPCAddressSpaceNode::Create(&plain, -1);
        FAIL();
    } catch (const ENvOPCAddressSpaceError& e) {
        EXPECT_STREQ(e.what(), "TNvOPCAddressSpaceNode.Owner must be TNvOPCAddressSpace");
    }
    TNvOPCServer server;
    TNvOPCAddressSpace space(&server);
    EXPECT_EQ(space.Server(), &server);
    EXPECT_EQ(space.Mode(), amUnknown);
    EXPECT_EQ(space.NodeTypes(), ntBranches | ntLeaves);
    EXPECT_FALSE(space.Updated());
    EXPECT_FALSE(space.BrowseOnDemand());
    EXPECT_EQ(space.PathStack()->Delimiter(), '/');
    EXPECT_EQ(space.PathStack()->QuoteChar(), '\'');
    space.Add("A", 0);
    EXPECT_NE(dynamic_cast<TNvOPCAddressSpaceNode*>(space.Nodes(0)), nullptr);
    EXPECT_EQ(space.NodeType(0), kNvBranchNode);
    space.SpaceNodes(0)->SetIsLeaf(true);
    space.Add("child of a leaf", 1);
    EXPECT_EQ(space.NodeType(0), kNvLeafNode);
}

}  // namespace

namespace {

using namespace nv;

// Strings of an enumeration, with the misbehaviour a server may show.
class FakeEnum final : public IEnumString {
public:
    FakeEnum(std::vector<std::string> names, bool emptyOk, ULONG overclaim)
        : names_(std::move(names)), emptyOk_(emptyOk), overclaim_(overclaim) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IEnumString))
            return E_NOINTERFACE;
        *ppv = static_cast<IEnumString*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* fetched) override {
        if (emptyOk_) {
            *fetched = 0;
            return S_OK;  // for ever
        }
        ULONG n = 0;
        while (n < celt && next_ < names_.size()) {
            WideString wide = ToWide(names_[next_++]);
            auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(WCHAR)));
            std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, copy);
            rgelt[n++] = copy;
        }
        *fetched = n + (n > 0 ? overclaim_ : 0);
        return n == celt ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumString**) override { return E_NOTIMPL; }

private:
    std::vector<std::string> names_;
    std::size_t next_ = 0;
    bool emptyOk_;
    ULONG overclaim_;
    ULONG refs_ = 1;
};

// A server of the test's own, attached with ConnectIntf: a small hierarchy, and answers that a
// real server may give but the simulation servers never do.
class FakeServer final : public IOPCServer, public IOPCBrowseServerAddressSpace {
public:
    struct Branch {
        std::string name;
        std::vector<Branch> branches;
        std::vector<std::string> leaves;
    };
    Branch root;
    HRESULT organization = S_OK;
    bool emptyOk = false;
    ULONG overclaim = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IOPCServer))
            *ppv = static_cast<IOPCServer*>(this);
        else if (IsEqualGUID(riid, IID_IOPCBrowseServerAddressSpace))
            *ppv = static_cast<IOPCBrowseServerAddressSpace*>(this);
        else
            return E_NOINTERFACE;
        return S_OK;
    }
    // Lives on the test's stack.
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD, OPCHANDLE*,
                                       DWORD*, REFIID, LPUNKNOWN*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT, LCID, LPWSTR*) override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR, REFIID, LPUNKNOWN*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS**) override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE, REFIID, LPUNKNOWN*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* type) override {
        if (FAILED(organization))
            return organization;
        *type = OPC_NS_HIERARCHIAL;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION direction, LPCWSTR name) override {
        if (direction == OPC_BROWSE_UP) {
            if (path_.empty())
                return E_FAIL;
            path_.pop_back();
            return S_OK;
        }
        if (direction != OPC_BROWSE_DOWN)
            return E_INVALIDARG;
        for (const Branch& b : Current().branches) {
            if (b.name == ToUtf8(name)) {
                path_.push_back(&b);
                return S_OK;
            }
        }
        return E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE type, LPCWSTR, VARTYPE, DWORD,
                                               IEnumString** result) override {
        std::vector<std::string> names;
        if (type == OPC_BRANCH) {
            for (const Branch& b : Current().branches)
                names.push_back(b.name);
        } else if (type == OPC_LEAF) {
            names = Current().leaves;
        } else {
            Flat(root, "", names);
        }
        *result = new FakeEnum(names, emptyOk, overclaim);
        return names.empty() ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR name, LPWSTR* id) override {
        std::string text;
        for (const Branch* b : path_)
            text += b->name + ".";
        WideString wide = ToWide(text + ToUtf8(name));
        *id = static_cast<LPWSTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(WCHAR)));
        std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, *id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR, IEnumString**) override { return E_NOTIMPL; }

private:
    const Branch& Current() const { return path_.empty() ? root : *path_.back(); }
    static void Flat(const Branch& b, const std::string& prefix, std::vector<std::string>& out) {
        for (const std::string& leaf : b.leaves)
            out.push_back(prefix + leaf);
        for (const Branch& child : b.branches)
            Flat(child, prefix + child.name + ".", out);
    }
    std::vector<const Branch*> path_;
};

class FakeServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake_.root.branches = {{"", {}, {"x"}}, {"A", {}, {"y"}}};
        server_.ConnectIntf(&fake_);
        ASSERT_TRUE(server_.Connected());
    }
    void TearDown() override { server_.SetConnected(false); }

    FakeServer fake_;
    TNvOPCServer server_;
    TNvOPCAddressSpace space_{&server_};
};

TEST_F(FakeServerTest, ABranchWithoutANameIsWalkedLikeAnyOther) {
    space_.Update();
    ASSERT_EQ(space_.Count(), 4);
    EXPECT_EQ(space_.PathOfIndex(1), "''/x");
    EXPECT_EQ(space_.PathOfIndex(3), "A/y");
    EXPECT_EQ(space_.PathStack()->Count(), 0);
    EXPECT_EQ(space_.GetItemIDs(1), ".x");
    EXPECT_EQ(space_.PathStack()->ToVector(), std::vector<std::string>{""});

    space_.SetBrowseOnDemand(true);
    space_.Clear();
    space_.BrowseBranch(-1);
    space_.BrowseBranch(0);
    EXPECT_EQ(space_.PathOfIndex(1), "''/x");
    EXPECT_EQ(space_.Count(), 3);
}

TEST_F(FakeServerTest, AServerThatCannotSayHowItIsOrganisedIsWalkedFlat) {
    fake_.organization = E_FAIL;
    space_.Update();
    EXPECT_EQ(space_.Mode(), amFlat);
    EXPECT_FALSE(space_.HierarchicalSupported());
    ASSERT_EQ(space_.Count(), 2);
    EXPECT_EQ(space_.Strings(0), ".x");
    EXPECT_EQ(space_.Strings(1), "A.y");
    EXPECT_THROW(space_.SetMode(amHierarchial), ENvOPCAddressSpaceError);
}

TEST_F(FakeServerTest, EnumeratorsThatMisreportTheirNamesCannotHangOrOverrunTheWalk) {
    fake_.emptyOk = true;  // S_OK with no names, for ever
    space_.Update();
    EXPECT_EQ(space_.Count(), 0);
    EXPECT_TRUE(space_.Updated());

    fake_.emptyOk = false;
    fake_.overclaim = 5000;  // claims far more than it wrote, and more than was asked for
    space_.Update();
    EXPECT_EQ(space_.Count(), 4);
    EXPECT_EQ(space_.IndexOfPath("''"), 0);
    EXPECT_EQ(space_.IndexOfPath("A/y"), 3);
}

}  // namespace
