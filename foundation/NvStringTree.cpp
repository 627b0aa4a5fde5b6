#include "foundation/NvStringTree.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <iterator>
#include <ostream>
#include <sstream>

#include "foundation/NvExceptions.h"
#include "foundation/NvStringList.h"
#include "foundation/NvSysUtils.h"
#include "platform/NvWide.h"

namespace nv {

namespace {

std::filesystem::path PathFromUtf8(const std::string& name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

[[noreturn]] void IndexError(int index) {
    throw EListError(Format("List index out of bounds (%d)", index));
}

}  // namespace

// ---- nodes ---------------------------------------------------------------------------------

TNvStringTreeNode::TNvStringTreeNode(TNvStringTree* tree, int parentIndex) : tree_(tree) {
    if (tree != nullptr && parentIndex >= 0)
        parent_ = tree->Nodes(parentIndex);
}

TNvStringTreeNode* TNvStringTreeNode::Create(TNvStringTree* tree, int parentIndex) {
    return new TNvStringTreeNode(tree, parentIndex);
}

int TNvStringTreeNode::ParentIndex() const {
    if (parent_ == nullptr)
        return -1;
    tree_->EnsurePositions(tree_->Count() - 1);
    return parent_->position_;
}

// ---- the plain tree view -------------------------------------------------------------------

struct TNvTreeNodeList::Item {
    std::string text;
    TObject* data = nullptr;
    Item* parent = nullptr;
    std::vector<Item*> children;
    bool hasChildren = false;
};

TNvTreeNodeList::TNvTreeNodeList() = default;
TNvTreeNodeList::~TNvTreeNodeList() = default;

TNvTreeNodeList::Item* TNvTreeNodeList::Find(TNvTreeNode* node) const {
    return reinterpret_cast<Item*>(node);
}

void TNvTreeNodeList::Clear() {
    top_.clear();
    items_.clear();
}

TNvTreeNode* TNvTreeNodeList::AddChild(TNvTreeNode* parent, const std::string& text, TObject* data) {
    auto item = std::make_unique<Item>();
    item->text = text;
    item->data = data;
    item->parent = Find(parent);
    (item->parent ? item->parent->children : top_).push_back(item.get());
    items_.push_back(std::move(item));
    return reinterpret_cast<TNvTreeNode*>(items_.back().get());
}

void TNvTreeNodeList::SetHasChildren(TNvTreeNode* node, bool value) {
    if (Item* item = Find(node))
        item->hasChildren = value;
}

TNvTreeNode* TNvTreeNodeList::Parent(TNvTreeNode* node) const {
    Item* item = Find(node);
    return item ? reinterpret_cast<TNvTreeNode*>(item->parent) : nullptr;
}

std::string TNvTreeNodeList::Text(TNvTreeNode* node) const {
    Item* item = Find(node);
    return item ? item->text : std::string();
}

int TNvTreeNodeList::Count() const {
    return static_cast<int>(items_.size());
}

std::vector<TNvTreeNode*> TNvTreeNodeList::Children(TNvTreeNode* node) const {
    Item* item = Find(node);
    const std::vector<Item*>& list = item ? item->children : top_;
    std::vector<TNvTreeNode*> out;
    out.reserve(list.size());
    for (Item* child : list)
        out.push_back(reinterpret_cast<TNvTreeNode*>(child));
    return out;
}

TObject* TNvTreeNodeList::Data(TNvTreeNode* node) const {
    Item* item = Find(node);
    return item ? item->data : nullptr;
}

bool TNvTreeNodeList::HasChildren(TNvTreeNode* node) const {
    Item* item = Find(node);
    return item && (item->hasChildren || !item->children.empty());
}

// ---- the node sequence ---------------------------------------------------------------------

void TNvStringTree::Sequence::MoveGap(std::size_t i) {
    if (i < gapStart_) {
        std::size_t n = gapStart_ - i;
        std::move_backward(buffer_.begin() + static_cast<std::ptrdiff_t>(i),
                           buffer_.begin() + static_cast<std::ptrdiff_t>(gapStart_),
                           buffer_.begin() + static_cast<std::ptrdiff_t>(gapEnd_));
        gapStart_ -= n;
        gapEnd_ -= n;
    } else if (i > gapStart_) {
        std::size_t n = i - gapStart_;
        std::move(buffer_.begin() + static_cast<std::ptrdiff_t>(gapEnd_),
                  buffer_.begin() + static_cast<std::ptrdiff_t>(gapEnd_ + n),
                  buffer_.begin() + static_cast<std::ptrdiff_t>(gapStart_));
        gapStart_ += n;
        gapEnd_ += n;
    }
}

void TNvStringTree::Sequence::Insert(std::size_t i, TNvStringTreeNode* node) {
    if (gapStart_ == gapEnd_) {
        // Grow with the gap at the insertion point, so no second move is needed.
        std::size_t size = buffer_.size();
        std::size_t capacity = std::max<std::size_t>(16, size * 2);
        std::vector<TNvStringTreeNode*> grown(capacity, nullptr);
        std::copy(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(i), grown.begin());
        std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(i), buffer_.end(),
                  grown.end() - static_cast<std::ptrdiff_t>(size - i));
        buffer_.swap(grown);
        gapStart_ = i;
        gapEnd_ = capacity - (size - i);
    } else {
        MoveGap(i);
    }
    buffer_[gapStart_++] = node;
}

void TNvStringTree::Sequence::Erase(std::size_t i, std::size_t count) {
    MoveGap(i);
    gapEnd_ += count;
}

void TNvStringTree::Sequence::Clear() {
    buffer_.clear();
    buffer_.shrink_to_fit();
    gapStart_ = gapEnd_ = 0;
}

// ---- construction and change notification --------------------------------------------------

TNvStringTree::TNvStringTree() {
    SetPathSeparator('/');
    SetQuoteChar('\'');
}

TNvStringTree::~TNvStringTree() {
    OnChange = nullptr;
    OnChanging = nullptr;
    TNvStringTree::Clear();
}

void TNvStringTree::SetPathSeparator(char separator) {
    pathSeparator_ = separator;
}

void TNvStringTree::SetQuoteChar(char quote) {
    quoteChar_ = quote;
}

void TNvStringTree::Changed() {
    CallEvent(OnChange, this);
}

void TNvStringTree::Changing() {
    CallEvent(OnChanging, this);
}

void TNvStringTree::BeginUpdate() {
    if (updateCount_ == 0)
        Changing();
    ++updateCount_;
}

void TNvStringTree::EndUpdate() {
    if (updateCount_ <= 0)
        return;
    if (--updateCount_ == 0)
        Changed();
}

void TNvStringTree::ChangeBegins() {
    if (updateCount_ == 0)
        Changing();
}

void TNvStringTree::ChangeEnds() {
    if (updateCount_ == 0)
        Changed();
}

TNvStringTreeNodeClass TNvStringTree::GetTreeNodeClass() const {
    return &TNvStringTreeNode::Create;
}

// ---- positions -----------------------------------------------------------------------------

void TNvStringTree::CheckIndex(int index) const {
    if (index < 0 || index >= Count())
        IndexError(index);
}

void TNvStringTree::EnsurePositions(int index) const {
    for (; validPositions_ <= index; ++validPositions_)
        sequence_.At(static_cast<std::size_t>(validPositions_))->position_ = validPositions_;
}

const std::string& TNvStringTree::Strings(int index) const {
    CheckIndex(index);
    return sequence_.At(static_cast<std::size_t>(index))->name_;
}

TObject* TNvStringTree::Objects(int index) const {
    CheckIndex(index);
    return sequence_.At(static_cast<std::size_t>(index))->dataObject_;
}

TNvStringTreeNode* TNvStringTree::Nodes(int index) const {
    CheckIndex(index);
    return sequence_.At(static_cast<std::size_t>(index));
}

int TNvStringTree::Levels(int index) const {
    if (index < 0 || index >= Count())
        return -1;
    return sequence_.At(static_cast<std::size_t>(index))->level_;
}

int TNvStringTree::ParentIndex(int index) const {
    if (index < 0)
        return index;
    CheckIndex(index);
    const TNvStringTreeNode* parent = sequence_.At(static_cast<std::size_t>(index))->parent_;
    if (parent == nullptr)
        return -1;
    // The parent stands before the node.
    EnsurePositions(index - 1);
    return parent->position_;
}

// ---- changing ------------------------------------------------------------------------------

void TNvStringTree::Clear() {
    if (Count() == 0)
        return;
    ChangeBegins();
    for (std::size_t i = 0; i < sequence_.Size(); ++i)
        delete sequence_.At(i);
    sequence_.Clear();
    validPositions_ = 0;
    ChangeEnds();
}

void TNvStringTree::Delete(int index) {
    CheckIndex(index);
    int last = HasChildren(index) ? LastDescendant(index) : index;
    ChangeBegins();
    TNvStringTreeNode* root = sequence_.At(static_cast<std::size_t>(index));
    // A node after the subtree whose parent is inside it can only come from insertions that
    // broke the shape of the sequence; it is given the subtree's parent rather than a dangling one.
    for (int i = index; i <= last; ++i)
        sequence_.At(static_cast<std::size_t>(i))->tree_ = nullptr;
    for (int i = last + 1; i < Count(); ++i) {
        TNvStringTreeNode* node = sequence_.At(static_cast<std::size_t>(i));
        if (node->parent_ != nullptr && node->parent_->tree_ == nullptr)
            node->parent_ = root->parent_;
    }
    for (int i = index; i <= last; ++i)
        delete sequence_.At(static_cast<std::size_t>(i));
    sequence_.Erase(static_cast<std::size_t>(index), static_cast<std::size_t>(last - index + 1));
    validPositions_ = std::min(validPositions_, index);
    ChangeEnds();
}

int TNvStringTree::Add(const std::string& name, int level) {
    return InsertObject(Count(), name, nullptr, level);
}

int TNvStringTree::AddObject(const std::string& name, int level, TObject* object) {
    return InsertObject(Count(), name, object, level);
}

int TNvStringTree::AddChild(int parent, const std::string& name) {
    return AddChildObject(parent, name, nullptr);
}

int TNvStringTree::AddChildObject(int parent, const std::string& name, TObject* object) {
    int index = HasChildren(parent) ? LastDescendant(parent) + 1 : parent + 1;
    return InsertObject(index, name, object, Levels(parent) + 1);
}

int TNvStringTree::Insert(int index, const std::string& name, int level) {
    return InsertObject(index, name, nullptr, level);
}

int TNvStringTree::InsertObject(int index, const std::string& name, TObject* object, int level) {
    if (index < 0 || index > Count())
        IndexError(index);
    if (level < 0 || level > kNvStringTreeMaxLevel)
        throw EListError(
            Format("Level %d is outside the levels a tree can hold (0 to %d)", level, kNvStringTreeMaxLevel));
    int parent = -1;
    if (index > 0) {
        if (Levels(index - 1) < level) {
            parent = index - 1;
        } else {
            for (int i = index - 1; i >= 0; --i) {
                int l = Levels(i);
                if (l == level) {
                    parent = ParentIndex(i);
                    break;
                }
                if (l < level)
                    break;
            }
        }
    }
    std::unique_ptr<TNvStringTreeNode> node(GetTreeNodeClass()(this, parent));
    node->name_ = name;
    node->level_ = level;
    node->dataObject_ = object;
    ChangeBegins();
    sequence_.Insert(static_cast<std::size_t>(index), node.release());
    validPositions_ = std::min(validPositions_, index);
    ChangeEnds();
    return index;
}

int TNvStringTree::AddObjectWithPath(const std::string& path, TObject* object) {
    if (path.empty())
        return AddObject(std::string(), 0, object);
    std::vector<std::string> names;
    PathElements(path, names, false);
    if (names.empty())
        return AddObject(std::string(), 0, object);
    int parent = -1;
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        int child = FindChild(parent, names[i]);
        parent = child >= 0 ? child : AddChild(parent, names[i]);
    }
    return AddChildObject(parent, names.back(), object);
}

// ---- navigation ----------------------------------------------------------------------------

bool TNvStringTree::HasChildren(int index) const {
    return index + 1 < Count() && index + 1 >= 0 && Levels(index + 1) > Levels(index);
}

int TNvStringTree::FirstChild(int index) const {
    return HasChildren(index) ? index + 1 : -1;
}

int TNvStringTree::LastDescendant(int index) const {
    if (!HasChildren(index))
        return -2;
    int level = Levels(index);
    int last = index + 1;
    while (last + 1 < Count() && Levels(last + 1) > level)
        ++last;
    return last;
}

int TNvStringTree::FindChild(int parent, const std::string& name) const {
    // A walk of its own rather than FindNext, whose empty name matches any node: a child named ""
    // is looked for by its name like any other.
    int level = Levels(parent) + 1;
    for (int i = std::max(parent + 1, 0); i < Count(); ++i) {
        int l = Levels(i);
        if (l < level)
            break;
        if (l == level && Strings(i) == name)
            return i;
    }
    return -1;
}

namespace {

bool NodeMatches(const std::string& nodeName, int nodeLevel, int level, int depth, const std::string& name,
                 bool subString) {
    bool nameMatches =
        name.empty() || (subString ? nodeName.find(name) != std::string::npos : nodeName == name);
    return nameMatches && (depth < 0 || nodeLevel <= level + depth);
}

}  // namespace

bool TNvStringTree::FindNext(int& index, int level, int depth, const std::string& name,
                             bool subString) const {
    index = std::max(index, -1);
    while (index < Count() - 1) {
        ++index;
        const TNvStringTreeNode* node = sequence_.At(static_cast<std::size_t>(index));
        if (node->level_ < level)
            break;
        if (NodeMatches(node->name_, node->level_, level, depth, name, subString))
            return true;
    }
    ++index;
    return false;
}

bool TNvStringTree::FindPrevious(int& index, int level, int depth, const std::string& name,
                                 bool subString) const {
    while (index > 0) {
        --index;
        if (index >= Count())
            continue;
        const TNvStringTreeNode* node = sequence_.At(static_cast<std::size_t>(index));
        if (node->level_ < level)
            break;
        if (NodeMatches(node->name_, node->level_, level, depth, name, subString))
            return true;
    }
    --index;
    return false;
}

std::string TNvStringTree::PathOfIndex(int index) const {
    if (index < 0 || index >= Count())
        return std::string();
    std::vector<std::string> names;
    for (const TNvStringTreeNode* node = sequence_.At(static_cast<std::size_t>(index)); node != nullptr;
         node = node->parent_)
        names.push_back(node->name_);
    std::reverse(names.begin(), names.end());
    return JoinPath(names);
}

int TNvStringTree::IndexOfPath(const std::string& path) const {
    std::vector<std::string> names;
    std::vector<bool> quoted;
    SplitPath(path, names, quoted);
    // Only the text a node's path is written as can match; any other spelling of the same names
    // ("'A'" for "A") is no node's path.
    if (names.empty() || JoinPath(names) != path)
        return -1;
    // One pass in sequence order: a node is on the path when its parent is and its name is the
    // element at its depth. Parents come before their children, so each is decided first.
    const int count = Count();
    EnsurePositions(count - 1);
    std::vector<int> depthOf(static_cast<std::size_t>(count));
    std::vector<char> onPath(static_cast<std::size_t>(count));
    const std::size_t wanted = names.size();
    for (int i = 0; i < count; ++i) {
        const TNvStringTreeNode* node = sequence_.At(static_cast<std::size_t>(i));
        int depth = 0;
        bool parentOnPath = true;
        if (node->parent_ != nullptr) {
            std::size_t p = static_cast<std::size_t>(node->parent_->position_);
            depth = depthOf[p] + 1;
            parentOnPath = onPath[p] != 0;
        }
        depthOf[static_cast<std::size_t>(i)] = depth;
        bool matches = parentOnPath && static_cast<std::size_t>(depth) < wanted &&
                       node->name_ == names[static_cast<std::size_t>(depth)];
        onPath[static_cast<std::size_t>(i)] = matches ? 1 : 0;
        if (matches && static_cast<std::size_t>(depth) + 1 == wanted)
            return i;
    }
    return -1;
}

// ---- paths ---------------------------------------------------------------------------------

void TNvStringTree::SplitPath(std::string_view path, std::vector<std::string>& names,
                              std::vector<bool>& quoted) const {
    // The splitting rules of a string list's path text; whether an element was quoted is kept,
    // because a quoted empty element is a name and not a doubled separator.
    names.clear();
    quoted.clear();
    const char sep = pathSeparator_;
    const char quote = quoteChar_;
    std::size_t i = 0;
    while (i < path.size()) {
        std::string element;
        bool wasQuoted = false;
        if (path[i] == quote) {
            std::string_view rest = path.substr(i);
            element = AnsiExtractQuotedStr(rest, quote);
            i = path.size() - rest.size();
            wasQuoted = true;
        } else {
            std::size_t end = path.find(sep, i);
            if (end == std::string_view::npos)
                end = path.size();
            element.assign(path.substr(i, end - i));
            i = end;
        }
        names.push_back(std::move(element));
        quoted.push_back(wasQuoted);
        if (i < path.size() && path[i] == sep) {
            if (i + 1 == path.size()) {
                names.emplace_back();
                quoted.push_back(false);
            }
            ++i;
        }
    }
}

void TNvStringTree::PathElements(const std::string& path, std::vector<std::string>& names, bool merge) const {
    std::vector<bool> quoted;
    SplitPath(path, names, quoted);
    const char sep = pathSeparator_;
    // A leading separator: the text itself begins with one (a quoted empty first element is a
    // name). Two put a separator in front of the element that follows them.
    if (!path.empty() && path[0] == sep && !names.empty()) {
        names.erase(names.begin());
        quoted.erase(quoted.begin());
        if (path.size() > 1 && path[1] == sep && !names.empty()) {
            names.erase(names.begin());
            quoted.erase(quoted.begin());
            // With the separator also the quote character, nothing may follow them.
            if (!names.empty())
                names.front().insert(names.front().begin(), sep);
        }
    }
    if (merge) {
        std::size_t i = 1;
        while (i + 1 < names.size()) {
            if (names[i].empty() && !quoted[i]) {
                names[i - 1] += sep;
                names[i - 1] += names[i + 1];
                names.erase(names.begin() + static_cast<std::ptrdiff_t>(i),
                            names.begin() + static_cast<std::ptrdiff_t>(i + 2));
                quoted.erase(quoted.begin() + static_cast<std::ptrdiff_t>(i),
                             quoted.begin() + static_cast<std::ptrdiff_t>(i + 2));
            } else {
                ++i;
            }
        }
    }
    if (!names.empty() && names.back().empty() && !quoted.back())
        names.pop_back();
}

void TNvStringTree::PathToSequence(const std::string& path, TNvStringList& elements,
                                   bool mergeDoubleSeparators) const {
    std::vector<std::string> names;
    PathElements(path, names, mergeDoubleSeparators);
    elements.BeginUpdate();
    try {
        elements.Clear();
        elements.AddStrings(names);
    } catch (...) {
        elements.EndUpdate();
        throw;
    }
    elements.EndUpdate();
}

std::string TNvStringTree::NameFromPath(const std::string& path) const {
    std::vector<std::string> names;
    std::vector<bool> quoted;
    SplitPath(path, names, quoted);
    return names.empty() ? std::string() : names.back();
}

int TNvStringTree::LevelOfPath(const std::string& path) const {
    std::vector<std::string> names;
    PathElements(path, names, false);
    return static_cast<int>(names.size()) - 1;
}

std::string TNvStringTree::JoinPath(const std::vector<std::string>& names) const {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        if (i > 0)
            out += pathSeparator_;
        if (name.empty())
            out.append(2, quoteChar_);
        else if (name.find(pathSeparator_) != std::string::npos || name.find(quoteChar_) != std::string::npos)
            out += AnsiQuotedStr(name, quoteChar_);
        else
            out += name;
    }
    return out;
}

int TNvStringTree::NodeType(int index) const {
    return HasChildren(index) ? kNvBranchNode : kNvLeafNode;
}

// ---- conversions ---------------------------------------------------------------------------

template <class Visit>
void TNvStringTree::ForEachListed(int start, TNvNodeTypes types, int depth, bool fullPath,
                                  Visit visit) const {
    start = std::max(start, 0);
    if (start >= Count())
        return;
    const int startLevel = Levels(start);
    std::vector<std::string> stack;
    int index = start;
    do {
        const TNvStringTreeNode* node = sequence_.At(static_cast<std::size_t>(index));
        int type = NodeType(index);
        if (types.Contains(type) || type == kNvBranchNode) {
            if (fullPath) {
                std::size_t keep = static_cast<std::size_t>(std::max(node->level_ - startLevel, 0));
                if (stack.size() > keep)
                    stack.resize(keep);
                stack.push_back(node->name_);
            }
            if (types.Contains(type))
                visit(fullPath ? JoinPath(stack) : node->name_, node->dataObject_);
        }
    } while (FindNext(index, startLevel, depth, std::string(), false));
}

void TNvStringTree::AssignToStrings(TNvStringList* strings, bool fullPath, int start, TNvNodeTypes types,
                                    int depth) const {
    if (strings == nullptr)
        throw EAssertionFailed("TNvStringTree.AssignToStrings: Strings must be assigned!");
    strings->BeginUpdate();
    try {
        strings->Clear();
        ForEachListed(start, types, depth, fullPath, [strings](const std::string& line, TObject* object) {
            strings->AddObject(line, object);
        });
    } catch (...) {
        strings->EndUpdate();
        throw;
    }
    strings->EndUpdate();
}

void TNvStringTree::AssignToTree(TNvStringTree* tree, int index, TNvNodeTypes types, int depth) const {
    if (tree == nullptr)
        throw EAssertionFailed("TNvStringTree.AssignToTree: Tree must be assigned!");
    if (tree == this) {
        // Copied aside first: clearing the target would clear the source.
        TNvStringTree copy;
        AssignToTree(&copy, index, types, depth);
        copy.AssignToTree(tree, -1, TNvNodeTypes::All(), -1);
        return;
    }
    tree->BeginUpdate();
    try {
        tree->Clear();
        if (Count() > 0 && index < Count()) {
            const int level = Levels(index) + 1;
            int i = std::max(index, 0);
            const int firstLevel = Levels(i);
            do {
                if (types.Contains(NodeType(i))) {
                    const TNvStringTreeNode* node = sequence_.At(static_cast<std::size_t>(i));
                    tree->AddObject(node->name_, node->level_ - firstLevel, node->dataObject_);
                }
            } while (FindNext(i, level, depth, std::string(), false));
        }
    } catch (...) {
        tree->EndUpdate();
        throw;
    }
    tree->EndUpdate();
}

void TNvStringTree::GetBranches(TNvStringTree* tree, int index, int depth) const {
    if (tree == nullptr)
        throw EAssertionFailed("TNvStringTree.AssignToTree: Tree must be assigned!");
    tree->Clear();
    AssignToTree(tree, index, {kNvBranchNode}, depth);
}

void TNvStringTree::AssignToTreeNodes(INvTreeNodes* nodes, const std::string& rootText) const {
    if (nodes == nullptr)
        throw EAssertionFailed("TNvStringTree.AssignToTreeNodes: TreeNodes must be assigned!");
    nodes->BeginUpdate();
    try {
        nodes->Clear();
        TNvTreeNode* top = rootText.empty() ? nullptr : nodes->AddChild(nullptr, rootText, nullptr);
        int index = -1;
        AddTreeNodes(index, nodes, TNvNodeTypes::All(), top);
    } catch (...) {
        nodes->EndUpdate();
        throw;
    }
    nodes->EndUpdate();
}

void TNvStringTree::AddTreeNodes(int& index, INvTreeNodes* nodes, TNvNodeTypes types,
                                 TNvTreeNode* parent) const {
    if (nodes == nullptr)
        throw EAssertionFailed("TNvStringTree.AddTreeNodes: TreeNodes must be assigned!");
    // Levels are at most 158, so the recursion is at most that deep.
    const int level = Levels(index);
    while (index + 1 < Count() && Levels(index + 1) > level) {
        ++index;
        int type = NodeType(index);
        if (!types.Contains(type))
            continue;
        const TNvStringTreeNode* node = sequence_.At(static_cast<std::size_t>(index));
        TNvTreeNode* added = nodes->AddChild(parent, node->name_, node->dataObject_);
        if (type == kNvBranchNode)
            nodes->SetHasChildren(added, true);
        AddTreeNodes(index, nodes, types, added);
    }
}

std::string TNvStringTree::PathOfTreeNode(const INvTreeNodes* nodes, TNvTreeNode* node, bool skipRoot) const {
    if (nodes == nullptr || node == nullptr)
        return std::string();
    std::vector<std::string> names;
    for (TNvTreeNode* n = node; n != nullptr; n = nodes->Parent(n))
        names.push_back(nodes->Text(n));
    if (skipRoot)
        names.pop_back();
    std::reverse(names.begin(), names.end());
    return JoinPath(names);
}

int TNvStringTree::IndexOfTreeNode(const INvTreeNodes* nodes, TNvTreeNode* node, bool skipRoot) const {
    return IndexOfPath(PathOfTreeNode(nodes, node, skipRoot));
}

void TNvStringTree::Assign(TPersistent* source) {
    if (auto* list = dynamic_cast<TNvStringList*>(source)) {
        LoadFromStrings(*list);
        return;
    }
    TPersistent::Assign(source);
}

void TNvStringTree::AssignTo(TPersistent* dest) {
    if (auto* tree = dynamic_cast<TNvStringTree*>(dest)) {
        AssignToTree(tree, -1, TNvNodeTypes::All(), -1);
        return;
    }
    if (auto* list = dynamic_cast<TNvStringList*>(dest)) {
        AssignToStrings(list, true, 0, TNvNodeTypes::All(), -1);
        return;
    }
    if (auto* nodes = dynamic_cast<INvTreeNodes*>(dest)) {
        AssignToTreeNodes(nodes, std::string());
        return;
    }
    TPersistent::AssignTo(dest);
}

// ---- text ----------------------------------------------------------------------------------

std::string TNvStringTree::ReadText(std::istream& stream) {
    std::string raw((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    auto starts = [&raw](const char* bom, std::size_t n) {
        return raw.size() >= n && raw.compare(0, n, bom, n) == 0;
    };
    // Bytes that are not UTF-8 are read as U+FFFD: kept raw, a name starting with FF FE would
    // be saved as the start of the file, which then reads back as UTF-16.
    if (starts("\xEF\xBB\xBF", 3))
        return ToUtf8(ToWide(std::string_view(raw).substr(3)));
    bool little = starts("\xFF\xFE", 2);
    if (little || starts("\xFE\xFF", 2)) {
        // A file saved as UTF-16 by a Windows editor; an odd last byte cannot be a character.
        WideString wide;
        wide.reserve(raw.size() / 2);
        for (std::size_t i = 2; i + 1 < raw.size(); i += 2) {
            auto lo = static_cast<unsigned char>(raw[little ? i : i + 1]);
            auto hi = static_cast<unsigned char>(raw[little ? i + 1 : i]);
            wide.push_back(static_cast<WCHAR>(lo | (hi << 8)));
        }
        return ToUtf8(wide);
    }
    return ToUtf8(ToWide(raw));
}

void TNvStringTree::LoadFromText(std::string_view text, int firstLine) {
    TNvStringList lines;
    lines.SetText(text);
    LoadFromStrings(lines, firstLine);
}

void TNvStringTree::LoadFromStrings(const TNvStringList& lines, int firstLine) {
    BeginUpdate();
    try {
        Clear();
        int previous = -1;
        for (int i = 0; i < lines.Count(); ++i) {
            // The name is the path's last element as the level counts it, so a stray separator
            // at the end of a hand-edited line does not turn the node's name into "".
            std::vector<std::string> names;
            PathElements(lines.Strings(i), names, false);
            int level = static_cast<int>(names.size()) - 1;
            if (level < 0)
                throw EListError(Format("Line %d holds no path", firstLine + i));
            if (level > kNvStringTreeMaxLevel)
                throw EListError(
                    Format("Line %d is deeper than %d levels", firstLine + i, kNvStringTreeMaxLevel));
            // The lines are meant to come in the order they are written: a line may go at most
            // one level deeper than the one before it.
            level = std::min(level, previous + 1);
            AddObject(names.back(), level, lines.Objects(i));
            previous = level;
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TNvStringTree::LoadFromStream(std::istream& stream) {
    LoadFromText(ReadText(stream));
}

void TNvStringTree::LoadFromFile(const std::string& fileName) {
    std::ifstream in(PathFromUtf8(fileName), std::ios::binary);
    if (!in)
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
    LoadFromStream(in);
}

void TNvStringTree::WriteLines(std::ostream& stream) const {
    ForEachListed(0, TNvNodeTypes::All(), -1, true, [&stream](const std::string& line, TObject*) {
        stream.write(line.data(), static_cast<std::streamsize>(line.size()));
        stream.write("\r\n", 2);
    });
}

void TNvStringTree::SaveToStream(std::ostream& stream) const {
    // A first name that begins with U+FEFF would be taken for a byte order mark and lost on
    // loading; a mark of its own in front of it keeps it.
    std::ostringstream lines;
    WriteLines(lines);
    const std::string text = lines.str();
    if (text.starts_with("\xEF\xBB\xBF"))
        stream.write("\xEF\xBB\xBF", 3);
    stream.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void TNvStringTree::SaveToFile(const std::string& fileName) const {
    // Written beside the target and moved over it only when complete, so a full disk or a
    // failing stream never leaves a truncated file where a good one was.
    const std::filesystem::path target = PathFromUtf8(fileName);
    std::filesystem::path temporary = target;
    temporary += ".~tmp";
    std::error_code ec;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
            throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
        try {
            SaveToStream(out);
        } catch (...) {
            out.close();
            std::filesystem::remove(temporary, ec);
            throw;
        }
        out.close();
        if (!out) {
            int error = errno;
            std::filesystem::remove(temporary, ec);
            throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(error));
        }
    }
    std::filesystem::rename(temporary, target, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        throw EFCreateError("Cannot create file \"" + fileName + "\". " + ec.message());
    }
}

}  // namespace nv
