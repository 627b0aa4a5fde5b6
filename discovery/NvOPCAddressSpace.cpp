#include "discovery/NvOPCAddressSpace.h"

#include <algorithm>
#include <cctype>
#include <istream>
#include <ostream>
#include <vector>

#include "foundation/NvSysUtils.h"
#include "platform/NvWide.h"

namespace nv {

namespace {

constexpr ULONG kNamesPerBatch = 1024;

// An enumerator released at the end of the scope.
class EnumHolder {
public:
    EnumHolder() = default;
    EnumHolder(const EnumHolder&) = delete;
    EnumHolder& operator=(const EnumHolder&) = delete;
    ~EnumHolder() {
        if (enumerator != nullptr)
            enumerator->Release();
    }
    IEnumString* enumerator = nullptr;
};

char RegionalListSeparator() {
    const std::string& sep = FormatSettings().ListSeparator;
    return sep.size() == 1 ? sep[0] : ',';
}

// The list separator a header line was written with. The file may come from a system whose
// regional list separator differs from this one's; the header always ends with the QuoteChar
// entry, and the character before it (before its opening quote, when it is quoted) is the
// separator the writer used.
char HeaderSeparator(const std::string& header) {
    const char fallback = RegionalListSeparator();
    std::string lower = LowerCase(header);
    std::size_t at = lower.rfind("quotechar=");
    if (at == std::string::npos || at == 0)
        return fallback;
    std::size_t before = at - 1;
    if (header[before] == '"') {
        if (before == 0)
            return fallback;
        --before;
    }
    char c = header[before];
    // A byte above ASCII is part of a longer character, never a separator of its own.
    if (static_cast<unsigned char>(c) >= 0x80 || std::isalnum(static_cast<unsigned char>(c)) || c == '=' ||
        c == '"')
        return fallback;
    return c;
}

}  // namespace

// ---- nodes ---------------------------------------------------------------------------------

TNvOPCAddressSpaceNode::TNvOPCAddressSpaceNode(TNvStringTree* tree, int parentIndex)
    : TNvStringTreeNode(tree, parentIndex) {
    if (dynamic_cast<TNvOPCAddressSpace*>(tree) == nullptr)
        throw ENvOPCAddressSpaceError("TNvOPCAddressSpaceNode.Owner must be TNvOPCAddressSpace");
}

TNvStringTreeNode* TNvOPCAddressSpaceNode::Create(TNvStringTree* tree, int parentIndex) {
    return new TNvOPCAddressSpaceNode(tree, parentIndex);
}

// ---- construction --------------------------------------------------------------------------

namespace {

TNvOPCServer* RequireServer(TNvOPCServer* server) {
    if (server == nullptr)
        throw ENvOPCException("Cannot create address space without a valid Server");
    return server;
}

}  // namespace

TNvOPCAddressSpace::TNvOPCAddressSpace(TNvOPCServer* server)
    : server_(RequireServer(server)), pathStack_(std::make_unique<TNvStringList>()) {
    pathStack_->SetStrictDelimiter(true);
    // The tree's constructor set them before this class could pass them on to PathStack.
    SetPathSeparator(PathSeparator());
    SetQuoteChar(QuoteChar());
}

TNvOPCAddressSpace::~TNvOPCAddressSpace() {
    try {
        Release();
    } catch (...) {
        // The server cannot be told anything more; its interface is let go below either way.
    }
    if (browseInterface_ != nullptr)
        std::exchange(browseInterface_, nullptr)->Release();
}

TNvStringTreeNodeClass TNvOPCAddressSpace::GetTreeNodeClass() const {
    return &TNvOPCAddressSpaceNode::Create;
}

TNvOPCAddressSpaceNode* TNvOPCAddressSpace::SpaceNodes(int index) const {
    return static_cast<TNvOPCAddressSpaceNode*>(Nodes(index));
}

IOPCBrowseServerAddressSpace* TNvOPCAddressSpace::BrowseInterface() {
    if (browseInterface_ == nullptr)
        QueryInterfaceOrRaise(browseInterface_, server_->ServerIntf(), IID_IOPCBrowseServerAddressSpace);
    return browseInterface_;
}

void TNvOPCAddressSpace::SetPathSeparator(char separator) {
    TNvStringTree::SetPathSeparator(separator);
    if (pathStack_)
        pathStack_->SetDelimiter(separator);
}

void TNvOPCAddressSpace::SetQuoteChar(char quote) {
    TNvStringTree::SetQuoteChar(quote);
    if (pathStack_)
        pathStack_->SetQuoteChar(quote);
}

void TNvOPCAddressSpace::Clear() {
    TNvStringTree::Clear();
    updated_ = false;
}

void TNvOPCAddressSpace::Delete(int index) {
    TNvStringTree::Delete(index);
}

int TNvOPCAddressSpace::NodeType(int index) const {
    if (index >= 0 && index < Count() && SpaceNodes(index)->IsLeaf())
        return kNvLeafNode;
    return kNvBranchNode;
}

void TNvOPCAddressSpace::Reset() {
    Release();
    Clear();
    mode_ = amUnknown;
    hierarchicalSupported_ = false;
}

std::string TNvOPCAddressSpace::PathStackText() const {
    return JoinPath(pathStack_->ToVector());
}

// ---- events --------------------------------------------------------------------------------

void TNvOPCAddressSpace::DoAdd(int level, const std::string& path, bool isLeaf, const std::string& nodeName) {
    CallEvent(OnAdd, this, level, path, nodeName, isLeaf);
}

TNvOPCAddressSpaceAddingAction TNvOPCAddressSpace::DoAdding(int level, const std::string& path, bool isLeaf,
                                                            const std::string& nodeName) {
    TNvOPCAddressSpaceAddingAction action = aaAdd;
    CallEvent(OnAdding, this, level, path, nodeName, isLeaf, action);
    return action;
}

void TNvOPCAddressSpace::DoBrowse(TObject* sender, int level, const std::string& path,
                                  const std::string& branchName, TNvOPCAddressSpaceBrowseAction& action) {
    CallEvent(OnBrowse, sender, level, path, branchName, action);
}

// ---- calls on the server -------------------------------------------------------------------

bool TNvOPCAddressSpace::CheckResult(REFIID, const std::string&, HRESULT result) {
    lastResult_ = result;
    return SUCCEEDED(result);
}

bool TNvOPCAddressSpace::PositionInTheHierarchy(std::string& position) {
    position = "Failed to find out the position in the address space.";
    WCHAR current[1] = {0};
    LPWSTR id = nullptr;
    HRESULT hr = BrowseInterface()->GetItemID(current, &id);
    if (FAILED(hr)) {
        CoTaskMemFree(id);
        return false;
    }
    position = id != nullptr ? ToUtf8(id) : std::string("not Assigned(ItemId)");
    CoTaskMemFree(id);
    return true;
}

bool TNvOPCAddressSpace::BrowseItemIDs(OPCBROWSETYPE browseType, IEnumString*& enumerator) {
    enumerator = nullptr;
    HRESULT hr = BrowseInterface()->BrowseOPCItemIDs(browseType, OLESTR("*"), VT_EMPTY, 0, &enumerator);
    if (CheckResult(IID_IOPCBrowseServerAddressSpace, "BrowseOPCItemIDs", hr) && enumerator != nullptr)
        return true;
    if (enumerator != nullptr)
        std::exchange(enumerator, nullptr)->Release();
    return false;
}

bool TNvOPCAddressSpace::ChangeBrowsePosition(OPCBROWSEDIRECTION direction, const std::string& name) {
    WideString wide = ToWide(name);
    HRESULT hr = BrowseInterface()->ChangeBrowsePosition(direction, wide.c_str());
    return CheckResult(IID_IOPCBrowseServerAddressSpace, "ChangeBrowsePosition", hr);
}

// ---- browse position -----------------------------------------------------------------------

bool TNvOPCAddressSpace::BrowseUp(int levels) {
    bool result = true;
    while (result && levels > 0) {
        result = ChangeBrowsePosition(OPC_BROWSE_UP, std::string());
        if (pathStack_->Count() > 0)
            pathStack_->Delete(pathStack_->Count() - 1);
        --levels;
    }
    return result;
}

bool TNvOPCAddressSpace::BrowseDown(const std::string& branchName) {
    {
        EnumHolder branches;
        BrowseItemIDs(OPC_BRANCH, branches.enumerator);
    }
    if (!ChangeBrowsePosition(OPC_BROWSE_DOWN, branchName))
        return false;
    pathStack_->Add(branchName);
    return true;
}

bool TNvOPCAddressSpace::BrowseTo(const std::string& itemID) {
    return ChangeBrowsePosition(OPC_BROWSE_TO, itemID);
}

void TNvOPCAddressSpace::BrowseBackToRoot() {
    if (server_->Connected())
        BrowseUp(pathStack_->Count());
}

int TNvOPCAddressSpace::BrowseToPath(const std::string& path, bool addNodes) {
    if (path.empty()) {
        BrowseUp(pathStack_->Count());
        return 0;
    }
    TNvStringList list;
    PathToSequence(path, list, true);
    const std::vector<std::string> elements = list.ToVector();
    std::size_t common = 0;
    while (common < elements.size() && static_cast<int>(common) < pathStack_->Count() &&
           pathStack_->Strings(static_cast<int>(common)) == elements[common])
        ++common;
    BrowseUp(pathStack_->Count() - static_cast<int>(common));
    for (std::size_t i = common; i < elements.size(); ++i) {
        if (!BrowseDown(elements[i])) {
            ENvOPCError error(lastResult_, std::string(), "ChangeBrowsePosition",
                              IID_IOPCBrowseServerAddressSpace);
            error.SetMessage(Format("BrowseToPath failed: %s (Branch %s)", path, elements[i]));
            throw error;
        }
        if (addNodes) {
            std::vector<std::string> before(elements.begin(),
                                            elements.begin() + static_cast<std::ptrdiff_t>(i));
            AddNode(JoinPath(before), elements[i], static_cast<int>(i), false, -1);
        }
    }
    return static_cast<int>(elements.size());
}

void TNvOPCAddressSpace::GoToStartingPoint(bool addNodes) {
    Release();
    // Moving up the stack cannot leave a position reached by item ID; moving to the empty ID
    // returns to the server's root.
    if (std::exchange(standsAtRootItem_, false))
        BrowseTo(std::string());
    if (!rootItem_.empty()) {
        if (!BrowseTo(rootItem_))
            throw ENvOPCException(Format("Cannot Browse to RootItem=%s", rootItem_));
        standsAtRootItem_ = true;
        rootLevel_ = 0;
        return;
    }
    rootLevel_ = BrowseToPath(rootPath_, addNodes);
}

void TNvOPCAddressSpace::BrowseToRoot() {
    GoToStartingPoint(true);
}

void TNvOPCAddressSpace::Release() {
    BrowseBackToRoot();
    if (browseInterface_ != nullptr)
        std::exchange(browseInterface_, nullptr)->Release();
    // A new interface starts wherever the server stands; what the stack said about the old one
    // (after a failed move up, say) would only mislead the next BrowseToPath.
    pathStack_->Clear();
}

// ---- reading the space ---------------------------------------------------------------------

void TNvOPCAddressSpace::UpdateMode() {
    OPCNAMESPACETYPE type = OPC_NS_FLAT;
    HRESULT hr = BrowseInterface()->QueryOrganization(&type);
    // A server that cannot say how it is organised is browsed as a flat list, which every
    // server can answer.
    hierarchicalSupported_ = SUCCEEDED(hr) && type == OPC_NS_HIERARCHIAL;
    if (!hierarchicalSupported_)
        mode_ = amFlat;
    else if (mode_ == amUnknown)
        mode_ = amHierarchial;
}

void TNvOPCAddressSpace::SetMode(TNvOPCAddressSpaceMode value) {
    if (value == mode_)
        return;
    if (value == amHierarchial && !hierarchicalSupported_)
        throw ENvOPCAddressSpaceError("The server does not support hierarchial address space");
    mode_ = value;
    Update();
}

void TNvOPCAddressSpace::Update() {
    if (!server_->Connected())
        throw ENvOPCException("Server not connected.");
    UpdateMode();
    BrowseBackToRoot();
    Clear();
    try {
        BrowseToRoot();
        try {
            BrowseBranch(Count() - 1);
            updated_ = true;
        } catch (const ENvOPCAddressSpaceBrowseCancel&) {
            // Back to the starting point without adding the root path's nodes a second time.
            GoToStartingPoint(false);
            throw;
        }
        BrowseUp(rootLevel_);
        server_->Log()->AddLine("Server AddressSpace retrieved.");
    } catch (...) {
        try {
            BrowseBackToRoot();
        } catch (...) {
            // The first failure is the one to report.
        }
        throw;
    }
}

void TNvOPCAddressSpace::BrowseBranch(int index) {
    const bool isNode = index >= 0;
    TNvOPCAddressSpaceNode* node = isNode ? SpaceNodes(index) : nullptr;
    const std::string branchName = isNode ? node->Name() : std::string();
    const int level = isNode ? node->Level() : -1;
    // Whether this is a node or the starting point is told by the position, not by the name: a
    // branch may have an empty name, and taking it for the starting point would list the same
    // branches again and again.
    if (isNode && node->Browsed())
        return;
    if (browseOnDemand_)
        BrowseToPath(PathOfIndex(ParentIndex(index)), false);
    TNvOPCAddressSpaceBrowseAction action = baBrowse;
    DoBrowse(this, level, PathStackText(), branchName, action);
    if (action == baSkip) {
        if (isNode)
            node->SetBrowsed(true);
        return;
    }
    if (action == baCancel)
        throw ENvOPCAddressSpaceBrowseCancel(
            Format("Browse cancelled at Level=%d, Branch=%s", level, branchName));
    // A full walk already stands at the starting point for the nodes above it (RootPath); a
    // browse on demand has just gone to the node's parent, so it always goes down into the node.
    const bool descend = isNode && (browseOnDemand_ || level >= rootLevel_);
    if (descend && !BrowseDown(branchName))
        return;
    BeginUpdate();
    try {
        const std::string path = PathStackText();
        if (mode_ == amHierarchial) {
            if (nodeTypes_ & ntBranches)
                AddNodes(path, level + 1, OPC_BRANCH, index);
            if (nodeTypes_ & ntLeaves)
                AddNodes(path, level + 1, OPC_LEAF, index);
        } else if (nodeTypes_ & ntLeaves) {
            AddNodes(path, level + 1, OPC_FLAT, index);
        }
        if (isNode)
            node->SetBrowsed(true);
    } catch (...) {
        EndUpdate();
        if (!browseOnDemand_ && descend) {
            try {
                BrowseUp(1);
            } catch (...) {
            }
        }
        throw;
    }
    EndUpdate();
    if (!browseOnDemand_ && descend)
        BrowseUp(1);
}

void TNvOPCAddressSpace::AddNodes(const std::string& path, int level, OPCBROWSETYPE browseType,
                                  int parentIndex) {
    TNvOPCAddressSpaceAddingAction action = aaAdd;
    EnumHolder holder;
    if (!BrowseItemIDs(browseType, holder.enumerator))
        return;
    const bool isLeaf = browseType != OPC_BRANCH;
    std::vector<std::string> names;
    HRESULT hr;
    ULONG fetched = 0;
    do {
        LPOLESTR batch[kNamesPerBatch] = {};
        fetched = 0;
        hr = holder.enumerator->Next(kNamesPerBatch, batch, &fetched);
        // Converted and freed at once, so that nothing leaks when a handler or the walk below
        // raises; a server that claims more than it was asked for is held to the batch, and a
        // slot it left empty is no name.
        fetched = std::min(fetched, kNamesPerBatch);
        names.clear();
        for (ULONG i = 0; i < fetched; ++i) {
            if (batch[i] == nullptr)
                continue;
            names.push_back(ToUtf8(batch[i]));
            CoTaskMemFree(batch[i]);
        }
        int insertAt = -1;
        if (browseOnDemand_)
            insertAt = HasChildren(parentIndex) ? LastDescendant(parentIndex) + 1 : parentIndex + 1;
        for (const std::string& name : names) {
            if (action == aaSkipBranch)
                break;
            action = AddNode(path, name, level, isLeaf, insertAt);
            if (action != aaAdd)
                continue;
            if (browseOnDemand_)
                ++insertAt;
            else if (browseType == OPC_BRANCH)
                BrowseBranch(lastAddedIndex_);
        }
        // An S_OK without names would never end.
    } while (hr == S_OK && fetched > 0 && action != aaSkipBranch);
}

TNvOPCAddressSpaceAddingAction TNvOPCAddressSpace::AddNode(const std::string& path, const std::string& name,
                                                           int level, bool isLeaf, int index) {
    TNvOPCAddressSpaceAddingAction action = DoAdding(level, path, isLeaf, name);
    if (action != aaAdd)
        return action;
    lastAddedIndex_ = index < 0 ? Add(name, level) : Insert(index, name, level);
    TNvOPCAddressSpaceNode* node = SpaceNodes(lastAddedIndex_);
    node->SetIsLeaf(isLeaf);
    node->SetBrowsed(isLeaf);
    DoAdd(level, path, isLeaf, name);
    return action;
}

// ---- item IDs ------------------------------------------------------------------------------

void TNvOPCAddressSpace::FindItemID(int index, std::string& itemID) {
    itemID.clear();
    if (!server_->Connected())
        return;
    const std::string name = Strings(index);
    const std::string parentPath = PathOfIndex(ParentIndex(index));
    try {
        BrowseToPath(parentPath, false);
    } catch (...) {
        // The position may have been lost (a reconnection, a server that moved on its own):
        // once more from the starting point, without adding its nodes again.
        GoToStartingPoint(false);
        BrowseToPath(parentPath, false);
    }
    {
        EnumHolder branches;
        BrowseItemIDs(OPC_BRANCH, branches.enumerator);
    }
    WideString wide = ToWide(name);
    LPWSTR id = nullptr;
    HRESULT hr = BrowseInterface()->GetItemID(wide.data(), &id);
    std::string text = ToUtf8(id);
    CoTaskMemFree(id);
    if (server_->CheckResult(IID_IOPCBrowseServerAddressSpace, Format("GetItemID(%s)", name), hr))
        itemID = text;
}

std::string TNvOPCAddressSpace::GetItemIDs(int index) {
    TNvOPCAddressSpaceNode* node = SpaceNodes(index);
    if (node->ItemID().empty()) {
        std::string id;
        FindItemID(index, id);
        node->SetItemID(id);
    }
    return node->ItemID();
}

// ---- the export file -----------------------------------------------------------------------

void TNvOPCAddressSpace::SaveToStream(std::ostream& stream) const {
    TNvStringList header;
    header.SetDelimiter(RegionalListSeparator());
    header.SetQuoteChar('"');
    header.SetStrictDelimiter(true);
    if (!server_->ServerName().empty())
        header.Add("ServerName=" + server_->ServerName());
    if (!rootItem_.empty())
        header.Add("RootItem=" + rootItem_);
    if (!rootPath_.empty())
        header.Add("RootPath=" + rootPath_);
    header.Add(std::string("PathSeparator=") + PathSeparator());
    header.Add(std::string("QuoteChar=") + QuoteChar());
    const std::string line = header.DelimitedText() + "\r\n";
    stream.write(line.data(), static_cast<std::streamsize>(line.size()));
    WriteLines(stream);
}

void TNvOPCAddressSpace::LoadFromStream(std::istream& stream) {
    const std::string text = ReadText(stream);
    const std::size_t end = text.find_first_of(std::string_view("\0\r\n", 3));
    if (end == std::string::npos) {
        // The stream ended inside the header line: nothing of the space is in it.
        Clear();
        rootItem_.clear();
        rootPath_.clear();
        updated_ = true;
        return;
    }
    const std::string headerLine = text.substr(0, end);
    std::size_t body = end + 1;
    if (body < text.size() && (text[body] == '\0' || text[body] == '\r' || text[body] == '\n'))
        ++body;

    TNvStringList header;
    header.SetDelimiter(HeaderSeparator(headerLine));
    header.SetQuoteChar('"');
    header.SetStrictDelimiter(true);
    header.SetDelimitedText(headerLine);
    const std::string separator = header.Values("PathSeparator");
    const std::string quote = header.Values("QuoteChar");
    // Only an ASCII character can separate or quote names: a byte above it is part of a longer
    // character, and a file that names one keeps the space's own.
    const auto ascii = [](const std::string& value) {
        return !value.empty() && static_cast<unsigned char>(value[0]) < 0x80;
    };
    const char newSeparator = ascii(separator) ? separator[0] : PathSeparator();
    const char newQuote = ascii(quote) ? quote[0] : QuoteChar();
    if (newSeparator == newQuote)
        throw ENvOPCAddressSpaceError(
            Format("The address space file uses '%s' both to separate and to quote names", newSeparator));
    rootItem_ = header.Values("RootItem");
    rootPath_ = header.Values("RootPath");
    SetPathSeparator(newSeparator);
    SetQuoteChar(newQuote);
    LoadFromText(std::string_view(text).substr(body), 2);
    updated_ = true;
}

// ---- installation --------------------------------------------------------------------------

void InstallOPCAddressSpace() {
    SetOPCAddressSpaceFactory([](TNvOPCServer* server) -> std::unique_ptr<INvOPCServerAddressSpace> {
        return std::make_unique<TNvOPCAddressSpace>(server);
    });
}

}  // namespace nv
