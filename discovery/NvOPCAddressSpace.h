// TNvOPCAddressSpace: the client-side copy of an OPC server's address space, a string tree whose
// nodes are the server's branches and leaves, filled by walking IOPCBrowseServerAddressSpace.
// It keeps the server's browse position mirrored in PathStack, finds and keeps the fully
// qualified item ID of any node, reports every step to events that may skip parts of the walk
// or cancel it, and saves and loads itself as the export file of this program:
//
//   ServerName=Vendor.Server.1,PathSeparator=/,QuoteChar='      (the header line)
//   Line1                                                       (one full path per node)
//   Line1/Temp
//
// Each server owns one, created on first use of TNvOPCServer::AddressSpace; call
// InstallOPCAddressSpace once at start-up so that servers can create it.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "foundation/NvEvents.h"
#include "foundation/NvStringList.h"
#include "foundation/NvStringTree.h"
#include "opc/NvOPCError.h"
#include "opc/NvOPCServer.h"
#include "opc/include/opc.h"
#include "platform/win32.h"

namespace nv {

enum TNvOPCAddressSpaceMode : std::uint8_t { amUnknown, amHierarchial, amFlat };
enum TNvOPCAddressSpaceAddingAction : std::uint8_t { aaAdd, aaSkip, aaSkipBranch };

// The node kinds a browse fetches: a set of these bits.
enum TNvOPCAddressSpaceNodeType : std::uint8_t { ntBranches = 1, ntLeaves = 2 };
using TNvOPCAddressSpaceNodeTypes = std::uint8_t;

// Level: the level the node gets; Path: the path of its parent as the server sees it.
using TNvOPCAddressSpaceAddEvent = std::function<void(TObject* sender, int level, const std::string& path,
                                                      const std::string& nodeName, bool isLeaf)>;
using TNvOPCAddressSpaceAddingEvent =
    std::function<void(TObject* sender, int level, const std::string& path, const std::string& nodeName,
                       bool isLeaf, TNvOPCAddressSpaceAddingAction& action)>;

// Misuse of the address space.
class ENvOPCAddressSpaceError : public ENvOPCException {
public:
    using ENvOPCException::ENvOPCException;
    std::string ClassName() const override { return "ENvOPCAddressSpaceError"; }
};

// The user cancelled a walk.
class ENvOPCAddressSpaceBrowseCancel : public ENvOPCException {
public:
    using ENvOPCException::ENvOPCException;
    std::string ClassName() const override { return "ENvOPCAddressSpaceBrowseCancel"; }
};

class TNvOPCAddressSpace;

class TNvOPCAddressSpaceNode : public TNvStringTreeNode {
public:
    // ENvOPCAddressSpaceError "TNvOPCAddressSpaceNode.Owner must be TNvOPCAddressSpace" for any
    // other tree.
    TNvOPCAddressSpaceNode(TNvStringTree* tree, int parentIndex);
    static TNvStringTreeNode* Create(TNvStringTree* tree, int parentIndex);

    // The node's children have been fetched, or there are none to fetch.
    bool Browsed() const { return browsed_; }
    void SetBrowsed(bool value) { browsed_ = value; }
    // The server reported the node as a leaf.
    bool IsLeaf() const { return isLeaf_; }
    void SetIsLeaf(bool value) { isLeaf_ = value; }
    // The fully qualified item ID, "" until first asked for (GetItemIDs).
    const std::string& ItemID() const { return itemID_; }
    void SetItemID(const std::string& value) { itemID_ = value; }

private:
    bool browsed_ = false;
    bool isLeaf_ = false;
    std::string itemID_;
};

class TNvOPCAddressSpace : public TNvStringTree, public INvOPCServerAddressSpace {
public:
    // ENvOPCException "Cannot create address space without a valid Server" for no server.
    explicit TNvOPCAddressSpace(TNvOPCServer* server);
    ~TNvOPCAddressSpace() override;

    TNvOPCServer* Server() const { return server_; }
    // Obtained from the server's object on first use; the query's error when the server is not
    // connected or has no browse interface.
    IOPCBrowseServerAddressSpace* BrowseInterface();

    int LastAddedIndex() const { return lastAddedIndex_; }
    // Browse one branch at a time where it stands, instead of walking the whole space.
    bool BrowseOnDemand() const { return browseOnDemand_; }
    void SetBrowseOnDemand(bool value) { browseOnDemand_ = value; }
    // The tree holds a complete result (a finished Update or a load).
    bool Updated() const override { return updated_; }
    TNvOPCAddressSpaceMode Mode() const { return mode_; }
    // Stores the mode and reads the space again. ENvOPCAddressSpaceError "The server does not
    // support hierarchial address space" for amHierarchial on a server that has none.
    void SetMode(TNvOPCAddressSpaceMode value);
    TNvOPCAddressSpaceNodeTypes NodeTypes() const { return nodeTypes_; }
    void SetNodeTypes(TNvOPCAddressSpaceNodeTypes value) { nodeTypes_ = value; }
    // The starting point of a walk, set by loading a file: a branch's item ID, or its path.
    const std::string& RootItem() const { return rootItem_; }
    const std::string& RootPath() const { return rootPath_; }
    // The number of tree levels above the starting point (the nodes of RootPath).
    int RootLevel() const { return rootLevel_; }
    bool HierarchicalSupported() const { return hierarchicalSupported_; }
    // The branches between the server's root and its current browse position.
    TNvStringList* PathStack() const { return pathStack_.get(); }

    TNvOPCAddressSpaceAddEvent OnAdd;
    TNvOPCAddressSpaceAddingEvent OnAdding;
    TNvOPCAddressSpaceBrowseEvent OnBrowse;

    // ---- reading the space
    // ENvOPCException "Server not connected." when the server is not connected.
    void Update() override;
    // Asks the server how its space is organised; a server that cannot say counts as flat.
    void UpdateMode();
    // Fetches the children of one node (-1: of the starting point).
    virtual void BrowseBranch(int index);
    void AddNodes(const std::string& path, int level, OPCBROWSETYPE browseType, int parentIndex);
    TNvOPCAddressSpaceAddingAction AddNode(const std::string& path, const std::string& name, int level,
                                           bool isLeaf, int index);

    // ---- browse position
    bool BrowseUp(int levels);
    bool BrowseDown(const std::string& branchName);
    bool BrowseTo(const std::string& itemID);
    // Moves to the branch of path (merging double separators), going up only as far as the
    // common beginning with PathStack; with addNodes each element is added as a branch node.
    // Returns the number of elements. ENvOPCError "BrowseToPath failed: %s (Branch %s)".
    int BrowseToPath(const std::string& path, bool addNodes);
    // Moves to the starting point (RootItem or RootPath). ENvOPCException "Cannot Browse to
    // RootItem=%s".
    void BrowseToRoot();
    void BrowseBackToRoot();
    // The server's enumerator of this browse type at the current position (the caller releases
    // it); false when the server refuses.
    bool BrowseItemIDs(OPCBROWSETYPE browseType, IEnumString*& enumerator);

    // True for a success code; never raises.
    bool CheckResult(REFIID iid, const std::string& method, HRESULT result);
    bool PositionInTheHierarchy(std::string& position);

    // ---- item IDs
    // A failure of the server's GetItemID goes through the server's error path (OnError, or a
    // raised ENvOPCError); then the ID stays "".
    void FindItemID(int index, std::string& itemID);
    // The node's item ID, found on first request and kept in the node.
    std::string GetItemIDs(int index);

    // Goes back to the server's root and drops the browse interface.
    void Release() override;

    // ---- the tree
    void SetPathSeparator(char separator) override;
    void SetQuoteChar(char quote) override;
    void Clear() override;
    void Delete(int index) override;
    // 1 for a node the server reported as a leaf, whatever its children; else 0.
    int NodeType(int index) const override;
    // The export file. Loading takes the header's RootItem, RootPath, PathSeparator and
    // QuoteChar (the list separator of the system that wrote it is recognised; a separator or
    // quote character that is not ASCII is ignored), then the paths;
    // every loaded node is an unbrowsed branch. A stream that ends inside the header line is an
    // empty space. ENvOPCAddressSpaceError when the file's separator and quote character are one
    // and the same; the tree is then left as it was.
    void LoadFromStream(std::istream& stream) override;
    void SaveToStream(std::ostream& stream) const override;

    TNvOPCAddressSpaceNode* SpaceNodes(int index) const;

protected:
    TNvStringTreeNodeClass GetTreeNodeClass() const override;
    virtual void DoAdd(int level, const std::string& path, bool isLeaf, const std::string& nodeName);
    virtual TNvOPCAddressSpaceAddingAction DoAdding(int level, const std::string& path, bool isLeaf,
                                                    const std::string& nodeName);
    virtual void DoBrowse(TObject* sender, int level, const std::string& path, const std::string& branchName,
                          TNvOPCAddressSpaceBrowseAction& action);

private:
    // INvOPCServerAddressSpace
    TNvOPCAddressSpace* AsAddressSpace() override { return this; }
    void Reset() override;
    void SetOnBrowse(TNvOPCAddressSpaceBrowseEvent handler) override { OnBrowse = std::move(handler); }

    std::string PathStackText() const;
    bool ChangeBrowsePosition(OPCBROWSEDIRECTION direction, const std::string& name);
    // The starting point, as BrowseToRoot goes there; addNodes adds the nodes of RootPath.
    void GoToStartingPoint(bool addNodes);

    TNvOPCServer* server_;
    std::unique_ptr<TNvStringList> pathStack_;
    IOPCBrowseServerAddressSpace* browseInterface_ = nullptr;
    int lastAddedIndex_ = 0;
    bool browseOnDemand_ = false;
    bool updated_ = false;
    TNvOPCAddressSpaceMode mode_ = amUnknown;
    TNvOPCAddressSpaceNodeTypes nodeTypes_ = ntBranches | ntLeaves;
    std::string rootItem_;
    int rootLevel_ = 0;
    std::string rootPath_;
    bool hierarchicalSupported_ = false;
    HRESULT lastResult_ = S_OK;
    // The server was moved to RootItem, a position PathStack knows nothing of.
    bool standsAtRootItem_ = false;
};

// Lets every TNvOPCServer create its address space (TNvOPCServer::AddressSpace).
void InstallOPCAddressSpace();

}  // namespace nv
