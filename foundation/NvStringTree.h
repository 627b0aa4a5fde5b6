// TNvStringTree: an ordered tree of named nodes kept as one sequence in depth-first pre-order,
// each node carrying its depth ("level"). It converts between positions and separator-joined
// paths, copies itself to string lists, to other trees and to a GUI tree view (through the small
// INvTreeNodes interface, so that the foundation needs no GUI toolkit), and stores itself as
// text, one full path per line.
//
// Path text: elements joined by PathSeparator; an element that holds the separator or QuoteChar
// is enclosed in QuoteChar with that character doubled, and an empty element is written as two
// quote characters, so that every list of names reads back as the same list.
//
// Callers keep the shape of the sequence (the first node has level 0, and no node is more than
// one level below the node before it); the tree does not check it. Loading text repairs it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/NvEvents.h"
#include "foundation/NvObject.h"

namespace nv {

class TNvStringList;
class TNvStringTree;

// The deepest level a node can have.
inline constexpr int kNvStringTreeMaxLevel = 158;

// Node types: NodeType gives 0 for a branch and 1 for a leaf.
inline constexpr int kNvBranchNode = 0;
inline constexpr int kNvLeafNode = 1;

// A set of node types; {0, 1} is every node, {0} branches only.
class TNvNodeTypes {
public:
    constexpr TNvNodeTypes() = default;
    constexpr TNvNodeTypes(std::initializer_list<int> types) {
        for (int t : types)
            if (t >= 0 && t < 8)
                bits_ = static_cast<std::uint8_t>(bits_ | (1u << t));
    }
    constexpr bool Contains(int type) const { return type >= 0 && type < 8 && ((bits_ >> type) & 1u); }
    static constexpr TNvNodeTypes All() { return {kNvBranchNode, kNvLeafNode}; }

private:
    std::uint8_t bits_ = 0;
};

// One node. Created by the tree through its GetTreeNodeClass, so that a tree of another kind
// creates nodes of its own kind.
class TNvStringTreeNode : public TObject {
public:
    // parentIndex: the parent's position in tree (-1 for a top-level node).
    TNvStringTreeNode(TNvStringTree* tree, int parentIndex);
    static TNvStringTreeNode* Create(TNvStringTree* tree, int parentIndex);

    // The user's object; not owned by the tree.
    TObject* DataObject() const { return dataObject_; }
    void SetDataObject(TObject* object) { dataObject_ = object; }
    int Level() const { return level_; }
    TNvStringTree* Tree() const { return tree_; }
    // The parent's current position, -1 for a top-level node.
    int ParentIndex() const;
    const std::string& Name() const { return name_; }

private:
    friend class TNvStringTree;
    std::string name_;
    TObject* dataObject_ = nullptr;
    int level_ = 0;
    TNvStringTree* tree_;
    // The parent itself rather than its position: positions move on every insertion before
    // them, the parent does not. Positions are numbered lazily (see TNvStringTree).
    TNvStringTreeNode* parent_ = nullptr;
    mutable int position_ = 0;
};

// The creator of a tree's nodes: the node class's Create.
using TNvStringTreeNodeClass = TNvStringTreeNode* (*)(TNvStringTree* tree, int parentIndex);

// A node of a GUI tree view, as an implementation of INvTreeNodes hands it out; the tree never
// looks inside (a Qt implementation passes its own item pointers).
struct TNvTreeNode;

// The node collection of a GUI tree view, as far as the string tree fills and reads it.
class INvTreeNodes : public TPersistent {
public:
    virtual void Clear() = 0;
    // Appends a node with this text and data as the last child of parent (null: top level).
    virtual TNvTreeNode* AddChild(TNvTreeNode* parent, const std::string& text, TObject* data) = 0;
    // Shows the node as expandable before any child is present.
    virtual void SetHasChildren(TNvTreeNode* node, bool value) = 0;
    virtual TNvTreeNode* Parent(TNvTreeNode* node) const = 0;
    virtual std::string Text(TNvTreeNode* node) const = 0;
    // A bracket around a bulk change, so a view can redraw once.
    virtual void BeginUpdate() {}
    virtual void EndUpdate() {}
};

// A tree view without a view: nodes in memory. Used where a tree view is wanted without a GUI
// (tests, command-line tools).
class TNvTreeNodeList : public INvTreeNodes {
public:
    TNvTreeNodeList();
    ~TNvTreeNodeList() override;

    void Clear() override;
    TNvTreeNode* AddChild(TNvTreeNode* parent, const std::string& text, TObject* data) override;
    void SetHasChildren(TNvTreeNode* node, bool value) override;
    TNvTreeNode* Parent(TNvTreeNode* node) const override;
    std::string Text(TNvTreeNode* node) const override;

    int Count() const;  // every node
    // The children of node (null: the top-level nodes), in order.
    std::vector<TNvTreeNode*> Children(TNvTreeNode* node) const;
    TObject* Data(TNvTreeNode* node) const;
    bool HasChildren(TNvTreeNode* node) const;

private:
    struct Item;
    Item* Find(TNvTreeNode* node) const;
    std::vector<std::unique_ptr<Item>> items_;
    std::vector<Item*> top_;
};

class TNvStringTree : public TPersistent {
public:
    TNvStringTree();
    ~TNvStringTree() override;

    // ---- positions (0-based; -1 means none)
    int Count() const { return static_cast<int>(sequence_.Size()); }
    // EListError "List index out of bounds (%d)" outside 0 .. Count() - 1.
    const std::string& Strings(int index) const;
    TObject* Objects(int index) const;
    TNvStringTreeNode* Nodes(int index) const;
    // -1 outside the sequence.
    int Levels(int index) const;
    // A negative index is returned unchanged.
    int ParentIndex(int index) const;

    char PathSeparator() const { return pathSeparator_; }
    virtual void SetPathSeparator(char separator);
    char QuoteChar() const { return quoteChar_; }
    virtual void SetQuoteChar(char quote);

    // Raised before and after every change of the sequence; BeginUpdate/EndUpdate (nested)
    // hold them back to one pair.
    TNotifyEvent OnChange;
    TNotifyEvent OnChanging;
    void BeginUpdate();
    void EndUpdate();

    // ---- changing
    virtual void Clear();
    // Removes the node and its descendants: a subtree cannot stay without its root. The nodes
    // are destroyed, their attached objects are not.
    virtual void Delete(int index);
    int Add(const std::string& name, int level);
    int AddObject(const std::string& name, int level, TObject* object);
    // As the last child of parent (-1: a top-level node at the end).
    int AddChild(int parent, const std::string& name);
    int AddChildObject(int parent, const std::string& name, TObject* object);
    int Insert(int index, const std::string& name, int level);
    // EListError for an index outside 0 .. Count() or a level outside 0 .. 158.
    virtual int InsertObject(int index, const std::string& name, TObject* object, int level);
    // Finds or adds the branches of the path's elements but the last; the last element is
    // always added as a new last child. An empty path adds a top-level node without a name.
    int AddObjectWithPath(const std::string& path, TObject* object);

    // ---- navigation
    bool HasChildren(int index) const;
    int FirstChild(int index) const;
    // The last position of the node's subtree, -2 when it has no children.
    int LastDescendant(int index) const;
    // The first direct child of parent (-1: top level) named exactly name, or -1.
    int FindChild(int parent, const std::string& name) const;
    // Walks forwards from index (exclusive) through the nodes at level or deeper; a node above
    // level ends the walk. A node matches when name is empty, or is its name (subString: occurs
    // in its name), and depth is negative or its level is at most level + depth. Found: index is
    // the match. Not found: index is one past where the walk stopped.
    bool FindNext(int& index, int level, int depth, const std::string& name, bool subString) const;
    bool FindPrevious(int& index, int level, int depth, const std::string& name, bool subString) const;
    // The node's path from the top level; "" outside the sequence.
    std::string PathOfIndex(int index) const;
    // The first position whose PathOfIndex is path, or -1.
    int IndexOfPath(const std::string& path) const;

    // ---- paths
    // Splits path into its elements: a leading separator is dropped (two put a separator in
    // front of the first element), a trailing one too; with mergeDoubleSeparators a double
    // separator inside the path joins its neighbours into one element ("A//B/C": "A/B", "C").
    void PathToSequence(const std::string& path, TNvStringList& elements, bool mergeDoubleSeparators) const;
    std::string NameFromPath(const std::string& path) const;
    // Elements of PathToSequence minus 1.
    int LevelOfPath(const std::string& path) const;
    // Joins names with this tree's path rules.
    std::string JoinPath(const std::vector<std::string>& names) const;

    // 0 (branch) when the node has children, else 1 (leaf).
    virtual int NodeType(int index) const;

    // ---- conversions
    // From a TNvStringList: its lines are paths that replace the whole tree (see
    // LoadFromStream). Any other source is asked through its AssignTo.
    void Assign(TPersistent* source) override;
    // Lines for the nodes of the given types, from start over its subtree and the subtrees of
    // its following siblings (down to depth levels below start when depth is not negative): the
    // full path relative to start's level, or the name. Each line carries the node's object.
    void AssignToStrings(TNvStringList* strings, bool fullPath, int start, TNvNodeTypes types,
                         int depth) const;
    // The subtree of index (-1: the whole tree) into tree, levels counted from the first node.
    void AssignToTree(TNvStringTree* tree, int index, TNvNodeTypes types, int depth) const;
    void GetBranches(TNvStringTree* tree, int index, int depth) const;
    // Clears nodes and fills it with the whole tree, under one top node rootText if not empty.
    void AssignToTreeNodes(INvTreeNodes* nodes, const std::string& rootText) const;
    // Adds the descendants of index (-1: every node) under parent; nodes of other types are left
    // out and their descendants land under parent. On return index is the last node handled.
    void AddTreeNodes(int& index, INvTreeNodes* nodes, TNvNodeTypes types, TNvTreeNode* parent) const;
    // The texts of node's ancestors and its own, joined as a path; skipRoot leaves the topmost
    // out. "" for no node.
    std::string PathOfTreeNode(const INvTreeNodes* nodes, TNvTreeNode* node, bool skipRoot) const;
    int IndexOfTreeNode(const INvTreeNodes* nodes, TNvTreeNode* node, bool skipRoot) const;

    // ---- text: one line per node, its full path, in pre-order, lines ended by CR LF, UTF-8
    // (with a byte order mark only when the first path begins with U+FEFF).
    // Loading reads UTF-8 (with or without a byte order mark; bytes that are not UTF-8 read as
    // U+FFFD) or UTF-16 with a byte order mark, lines ended by CR LF, CR or LF. Only each line's depth and last element are used. A line
    // more than one level below the line before is taken as one level below it. EListError for a
    // line with no path (empty, or a lone separator) or one deeper than 158 levels; the lines
    // before it stay loaded.
    virtual void LoadFromFile(const std::string& fileName);
    virtual void LoadFromStream(std::istream& stream);
    // A failed save leaves an existing file as it was. EFCreateError when the file cannot be
    // written.
    virtual void SaveToFile(const std::string& fileName) const;
    virtual void SaveToStream(std::ostream& stream) const;

protected:
    virtual void Changed();
    virtual void Changing();
    virtual TNvStringTreeNodeClass GetTreeNodeClass() const;
    void AssignTo(TPersistent* dest) override;

    // The rest of the stream as UTF-8 text.
    static std::string ReadText(std::istream& stream);
    // Replaces the tree by the paths of text's lines; firstLine numbers the first for errors.
    void LoadFromText(std::string_view text, int firstLine = 1);
    void LoadFromStrings(const TNvStringList& lines, int firstLine = 1);
    void WriteLines(std::ostream& stream) const;

private:
    friend class TNvStringTreeNode;

    // The node sequence: a gap buffer, so that a run of insertions at one place (a branch's
    // children arriving one by one) costs what they move, not what follows them.
    class Sequence {
    public:
        std::size_t Size() const { return buffer_.size() - (gapEnd_ - gapStart_); }
        TNvStringTreeNode* At(std::size_t i) const {
            return buffer_[i < gapStart_ ? i : i + (gapEnd_ - gapStart_)];
        }
        void Insert(std::size_t i, TNvStringTreeNode* node);
        // Takes count entries out from i (the caller destroys the nodes).
        void Erase(std::size_t i, std::size_t count);
        void Clear();

    private:
        void MoveGap(std::size_t i);
        std::vector<TNvStringTreeNode*> buffer_;
        std::size_t gapStart_ = 0;
        std::size_t gapEnd_ = 0;
    };

    void CheckIndex(int index) const;
    void ChangeBegins();
    void ChangeEnds();
    // Numbers the positions of the nodes up to index; positions before validPositions_ are
    // known to be right.
    void EnsurePositions(int index) const;
    void SplitPath(std::string_view path, std::vector<std::string>& names, std::vector<bool>& quoted) const;
    void PathElements(const std::string& path, std::vector<std::string>& names, bool merge) const;
    template <class Visit>
    void ForEachListed(int start, TNvNodeTypes types, int depth, bool fullPath, Visit visit) const;

    Sequence sequence_;
    mutable int validPositions_ = 0;
    char pathSeparator_ = '/';
    char quoteChar_ = '\'';
    int updateCount_ = 0;
};

}  // namespace nv
