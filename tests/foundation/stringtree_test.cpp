// The string tree: path rules, positions and parent caches under insertion and deletion,
// navigation, the conversions to lists, trees and tree views, and the text format with the
// input a person's editor may leave behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/NvExceptions.h"
#include "foundation/NvStringList.h"
#include "foundation/NvStringTree.h"
#include "platform/win32.h"

namespace {

using namespace nv;

std::vector<std::string> Elements(const TNvStringTree& tree, const std::string& path, bool merge) {
    TNvStringList list;
    tree.PathToSequence(path, list, merge);
    return list.ToVector();
}

std::string Saved(const TNvStringTree& tree) {
    std::ostringstream out;
    tree.SaveToStream(out);
    return out.str();
}

void Load(TNvStringTree& tree, const std::string& text) {
    std::istringstream in(text);
    tree.LoadFromStream(in);
}

// name:level pairs in sequence order, and the parent positions beside them.
std::string Shape(const TNvStringTree& tree) {
    std::string out;
    for (int i = 0; i < tree.Count(); ++i) {
        if (i > 0)
            out += ' ';
        out += tree.Strings(i) + ":" + std::to_string(tree.Levels(i)) + "^" +
               std::to_string(tree.ParentIndex(i));
    }
    return out;
}

// Root { A { x/y }, B }
void BuildExample(TNvStringTree& tree) {
    int root = tree.Add("Root", 0);
    int a = tree.AddChild(root, "A");
    tree.AddChild(a, "x/y");
    tree.AddChild(root, "B");
}

struct Tagged : TObject {
    explicit Tagged(int v) : value(v) {}
    int value;
};

TEST(StringTreePathTest, LeadingTrailingAndDoubleSeparators) {
    TNvStringTree tree;
    using V = std::vector<std::string>;
    EXPECT_EQ(Elements(tree, "A/B", false), (V{"A", "B"}));
    EXPECT_EQ(Elements(tree, "/A/B", false), (V{"A", "B"}));
    EXPECT_EQ(Elements(tree, "A/B/", false), (V{"A", "B"}));
    EXPECT_EQ(Elements(tree, "A//B", false), (V{"A", "", "B"}));
    EXPECT_EQ(Elements(tree, "A//B/C", true), (V{"A/B", "C"}));
    EXPECT_EQ(Elements(tree, "A//B//C", true), (V{"A/B/C"}));
    EXPECT_EQ(Elements(tree, "//A/B", false), (V{"/A", "B"}));
    EXPECT_EQ(Elements(tree, "", false), V{});
}

TEST(StringTreePathTest, QuotedElementsKeepSeparatorsQuotesAndEmptyNames) {
    TNvStringTree tree;
    using V = std::vector<std::string>;
    EXPECT_EQ(Elements(tree, "'x/y'/z", false), (V{"x/y", "z"}));
    EXPECT_EQ(Elements(tree, "'it''s'/z", true), (V{"it's", "z"}));
    // A quoted empty element is a name, not a separator at the start, the end or in the middle.
    EXPECT_EQ(Elements(tree, "''/x", false), (V{"", "x"}));
    EXPECT_EQ(Elements(tree, "x/''", false), (V{"x", ""}));
    EXPECT_EQ(Elements(tree, "A/''/B", true), (V{"A", "", "B"}));
    EXPECT_EQ(tree.NameFromPath("A/'x/y'"), "x/y");
    EXPECT_EQ(tree.LevelOfPath("Root/A/'x/y'"), 2);
    EXPECT_EQ(tree.LevelOfPath("''"), 0);
    EXPECT_EQ(tree.LevelOfPath(""), -1);

    EXPECT_EQ(tree.JoinPath({"with space", "a/b", "it's", ""}), "with space/'a/b'/'it''s'/''");
    EXPECT_EQ(tree.JoinPath(std::vector<std::string>{}), "");
    EXPECT_EQ(tree.JoinPath(std::vector<std::string>{""}), "''");
}

TEST(StringTreePathTest, OtherSeparatorAndQuoteCharacters) {
    TNvStringTree tree;
    tree.SetPathSeparator('.');
    tree.SetQuoteChar('"');
    int a = tree.Add("Plant", 0);
    tree.AddChild(a, "Temp.1");
    EXPECT_EQ(tree.PathOfIndex(1), "Plant.\"Temp.1\"");
    EXPECT_EQ(tree.IndexOfPath("Plant.\"Temp.1\""), 1);
    EXPECT_EQ(Elements(tree, "A/B.C", false), (std::vector<std::string>{"A/B", "C"}));
}

TEST(StringTreeTest, SavesTheExampleAsFourLines) {
    TNvStringTree tree;
    BuildExample(tree);
    EXPECT_EQ(Saved(tree), "Root\r\nRoot/A\r\nRoot/A/'x/y'\r\nRoot/B\r\n");
    EXPECT_EQ(tree.PathOfIndex(2), "Root/A/'x/y'");
    EXPECT_EQ(tree.PathOfIndex(4), "");
    EXPECT_EQ(tree.PathOfIndex(-1), "");
}

TEST(StringTreeTest, UnusualNamesSurviveSaveAndLoad) {
    TNvStringTree tree;
    int top = tree.Add("with space", 0);
    tree.AddChild(top, "a/b");
    int quote = tree.AddChild(top, "it's");
    tree.AddChild(quote, "");
    tree.AddChild(quote, "''");
    tree.Add("", 0);
    const std::string text = Saved(tree);
    EXPECT_EQ(text.substr(0, 12), "with space\r\n");

    TNvStringTree loaded;
    Load(loaded, text);
    EXPECT_EQ(Shape(loaded), Shape(tree));
    EXPECT_EQ(Saved(loaded), text);
}

TEST(StringTreeTest, LoadingUsesOnlyDepthAndLastElement) {
    TNvStringTree tree;
    Load(tree, "A\r\nX/B\r\n");
    EXPECT_EQ(Shape(tree), "A:0^-1 B:1^0");

    // A line too deep for its place goes one level below the line before it.
    Load(tree, "A\nA/B/C/D\nA/E\n");
    EXPECT_EQ(Shape(tree), "A:0^-1 D:1^0 E:1^0");
    Load(tree, "P/Q\nR\n");
    EXPECT_EQ(Shape(tree), "Q:0^-1 R:0^-1");

    // A stray separator at the end of a line is no part of the last name.
    Load(tree, "A/\nA/B/\n");
    EXPECT_EQ(Shape(tree), "A:0^-1 B:1^0");
}

TEST(StringTreeTest, LoadsWhatAnEditorWritesOnEitherSystem) {
    const std::string expected = "Root:0^-1 A:1^0 x/y:2^1 B:1^0";
    TNvStringTree tree;
    Load(tree, "Root\nRoot/A\rRoot/A/'x/y'\r\nRoot/B");
    EXPECT_EQ(Shape(tree), expected);
    Load(tree, "\xEF\xBB\xBFRoot\r\nRoot/A\r\nRoot/A/'x/y'\r\nRoot/B\r\n");
    EXPECT_EQ(Shape(tree), expected);

    // UTF-16 with a byte order mark, both byte orders, with a name beyond ASCII.
    const std::u16string text = u"Root\r\nRoot/A\r\nRoot/A/'x/y'\r\nRoot/B\u00e4\r\n";
    std::string le = "\xFF\xFE";
    std::string be = "\xFE\xFF";
    for (char16_t c : text) {
        le += static_cast<char>(c & 0xFF);
        le += static_cast<char>(c >> 8);
        be += static_cast<char>(c >> 8);
        be += static_cast<char>(c & 0xFF);
    }
    Load(tree, le);
    EXPECT_EQ(Shape(tree), "Root:0^-1 A:1^0 x/y:2^1 B\xC3\xA4:1^0");
    Load(tree, be);
    EXPECT_EQ(Shape(tree), "Root:0^-1 A:1^0 x/y:2^1 B\xC3\xA4:1^0");
}

TEST(StringTreeTest, ALineWithoutAPathStopsTheLoadAndKeepsTheLinesBefore) {
    TNvStringTree tree;
    try {
        Load(tree, "A\r\nA/B\r\n\r\nC\r\n");
        FAIL() << "an empty line loaded";
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "Line 3 holds no path");
    }
    EXPECT_EQ(Shape(tree), "A:0^-1 B:1^0");

    EXPECT_THROW(Load(tree, "A\n/\n"), EListError);
    EXPECT_EQ(tree.Count(), 1);

    std::string deep = "n";
    for (int i = 0; i < 200; ++i)
        deep += "/n";
    try {
        Load(tree, "A\n" + deep + "\n");
        FAIL() << "a path of 201 levels loaded";
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "Line 2 is deeper than 158 levels");
    }
}

TEST(StringTreeTest, JunkAndHugeLinesLoadWithoutHarm) {
    TNvStringTree tree;
    std::string junk;
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i)
        junk += static_cast<char>(random() % 256);
    try {
        Load(tree, junk);
    } catch (const EListError&) {
        // An empty line or a lone separator among the junk is reported; nothing else may happen.
    }
    for (int i = 0; i < tree.Count(); ++i)
        EXPECT_LE(tree.Levels(i), (i == 0 ? 0 : tree.Levels(i - 1) + 1));

    Load(tree, std::string(1 << 20, 'x') + "\n" + std::string(1 << 20, 'x') + "/y\n");
    ASSERT_EQ(tree.Count(), 2);
    EXPECT_EQ(tree.Strings(0).size(), 1u << 20);
    EXPECT_EQ(tree.Strings(1), "y");
}

TEST(StringTreeTest, AddChildGoesAfterTheWholeSubtreeAndShiftsParents) {
    TNvStringTree tree;
    int root = tree.Add("Root", 0);    // 0
    int a = tree.AddChild(root, "A");  // 1
    tree.AddChild(a, "a1");            // 2
    tree.AddChild(a, "a2");            // 3
    int b = tree.AddChild(root, "B");  // 4
    tree.AddChild(b, "b1");            // 5
    EXPECT_EQ(tree.AddChild(a, "a3"), 4);
    EXPECT_EQ(Shape(tree), "Root:0^-1 A:1^0 a1:2^1 a2:2^1 a3:2^1 B:1^0 b1:2^5");
    EXPECT_EQ(tree.AddChild(-1, "Top"), 7);
    EXPECT_EQ(tree.AddChild(6, "deep"), 7);
    EXPECT_EQ(Shape(tree), "Root:0^-1 A:1^0 a1:2^1 a2:2^1 a3:2^1 B:1^0 b1:2^5 deep:3^6 Top:0^-1");
    EXPECT_EQ(tree.Nodes(7)->ParentIndex(), 6);
    EXPECT_EQ(tree.Nodes(8)->ParentIndex(), -1);

    // Inserted in front of a node at the same level: later parents move with their nodes.
    EXPECT_EQ(tree.Insert(1, "First", 1), 1);
    EXPECT_EQ(Shape(tree), "Root:0^-1 First:1^0 A:1^0 a1:2^2 a2:2^2 a3:2^2 B:1^0 b1:2^6 deep:3^7 Top:0^-1");
    EXPECT_EQ(tree.ParentIndex(-3), -3);
    EXPECT_THROW(tree.ParentIndex(10), EListError);
}

TEST(StringTreeTest, DeleteTakesTheSubtreeAndKeepsParentsTrue) {
    TNvStringTree tree;
    Load(tree, "R\nR/A\nR/A/a1\nR/A/a1/deep\nR/B\nR/B/b1\nS\nS/s1\n");
    tree.Delete(2);
    EXPECT_EQ(Shape(tree), "R:0^-1 A:1^0 B:1^0 b1:2^2 S:0^-1 s1:1^4");
    tree.Delete(0);
    EXPECT_EQ(Shape(tree), "S:0^-1 s1:1^0");
    EXPECT_THROW(tree.Delete(2), EListError);
}

// The tree against the plain rules, over a long run of insertions and deletions anywhere: the
// positions, levels and parents must always be what the rules give.
TEST(StringTreeTest, ParentCachesStayTrueOverManyChanges) {
    struct Model {
        std::string name;
        int level;
        int parent;
    };
    std::vector<Model> model;
    TNvStringTree tree;
    std::mt19937 random(42);
    for (int step = 0; step < 3000; ++step) {
        int count = static_cast<int>(model.size());
        if (count > 20 && random() % 5 == 0) {
            int index = static_cast<int>(random() % static_cast<unsigned>(count));
            int last = index;
            while (last + 1 < count && model[last + 1].level > model[index].level)
                ++last;
            int removed = last - index + 1;
            model.erase(model.begin() + index, model.begin() + last + 1);
            for (Model& m : model)
                if (m.parent > last)
                    m.parent -= removed;
            tree.Delete(index);
        } else {
            int parent = count == 0 ? -1 : static_cast<int>(random() % static_cast<unsigned>(count + 1)) - 1;
            int index = parent + 1;
            if (parent + 1 < count && model[parent + 1].level > (parent < 0 ? -1 : model[parent].level)) {
                int pl = parent < 0 ? -1 : model[parent].level;
                index = parent + 1;
                while (index < count && model[index].level > pl)
                    ++index;
            }
            int level = parent < 0 ? 0 : model[parent].level + 1;
            if (level > 12) {
                continue;
            }
            std::string name = "n" + std::to_string(step);
            for (Model& m : model)
                if (m.parent >= index)
                    ++m.parent;
            model.insert(model.begin() + index, Model{name, level, parent});
            ASSERT_EQ(tree.AddChild(parent, name), index);
        }
        if (step % 50 == 0 || step > 2950) {
            ASSERT_EQ(tree.Count(), static_cast<int>(model.size()));
            for (int i = 0; i < tree.Count(); ++i) {
                ASSERT_EQ(tree.Strings(i), model[i].name) << "step " << step;
                ASSERT_EQ(tree.Levels(i), model[i].level) << "step " << step;
                ASSERT_EQ(tree.ParentIndex(i), model[i].parent) << "step " << step << " index " << i;
            }
        }
    }
}

TEST(StringTreeTest, LevelsOutsideTheTreeAndOutOfRange) {
    TNvStringTree tree;
    tree.Add("A", 0);
    EXPECT_EQ(tree.Levels(-1), -1);
    EXPECT_EQ(tree.Levels(1), -1);
    try {
        tree.Strings(1);
        FAIL();
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (1)");
    }
    EXPECT_THROW(tree.Objects(-1), EListError);
    EXPECT_THROW(tree.Nodes(5), EListError);
    EXPECT_THROW(tree.Insert(3, "x", 0), EListError);

    // 158 is the deepest level; 159 cannot be held.
    for (int level = 1; level <= 158; ++level)
        tree.Add("n", level);
    EXPECT_EQ(tree.Levels(158), 158);
    EXPECT_THROW(tree.Add("n", 159), EListError);
    EXPECT_THROW(tree.Add("n", -1), EListError);
    EXPECT_EQ(tree.Count(), 159);
}

TEST(StringTreeTest, FindNextAndFindPreviousStopAtAHigherLevel) {
    TNvStringTree tree;
    Load(tree, "R\nR/Alpha\nR/Alpha/x\nR/Beta\nS\nS/Alpha\n");
    int index = 0;
    EXPECT_TRUE(tree.FindNext(index, 1, -1, "Beta", false));
    EXPECT_EQ(index, 3);
    index = 0;
    EXPECT_FALSE(tree.FindNext(index, 1, -1, "Gamma", false));
    EXPECT_EQ(index, 5);  // one past S, which ended the walk
    index = 4;
    EXPECT_FALSE(tree.FindNext(index, 1, -1, "Gamma", false));
    EXPECT_EQ(index, 6);  // the end of the tree
    index = 0;
    EXPECT_TRUE(tree.FindNext(index, 1, -1, "ph", true));
    EXPECT_EQ(index, 1);
    index = 1;
    EXPECT_TRUE(tree.FindNext(index, 1, 0, "", false));  // depth 0 passes over x
    EXPECT_EQ(index, 3);

    index = 3;
    EXPECT_TRUE(tree.FindPrevious(index, 1, -1, "Alpha", false));
    EXPECT_EQ(index, 1);
    index = 5;
    EXPECT_FALSE(tree.FindPrevious(index, 1, -1, "Beta", false));
    EXPECT_EQ(index, 3);  // one past S, walking backwards

    EXPECT_EQ(tree.FindChild(-1, "S"), 4);
    EXPECT_EQ(tree.FindChild(0, "x"), -1);  // a grandchild is no child
    EXPECT_EQ(tree.FindChild(4, "Alpha"), 5);
    EXPECT_EQ(tree.FirstChild(1), 2);
    EXPECT_EQ(tree.FirstChild(2), -1);
    EXPECT_EQ(tree.LastDescendant(0), 3);
    EXPECT_EQ(tree.LastDescendant(3), -2);
}

TEST(StringTreeTest, FindChildLooksForAnEmptyNameByItsName) {
    TNvStringTree tree;
    tree.AddObjectWithPath("A/x", nullptr);
    EXPECT_EQ(tree.FindChild(0, ""), -1);
    tree.AddObjectWithPath("A//b", nullptr);
    EXPECT_EQ(Shape(tree), "A:0^-1 x:1^0 :1^0 b:2^2");
}

TEST(StringTreeTest, AddObjectWithPathReusesBranchesButNotTheLastName) {
    TNvStringTree tree;
    Tagged one(1), two(2);
    tree.AddObjectWithPath("Plant/Line1/Temp", &one);
    tree.AddObjectWithPath("/Plant/Line1/Temp", &two);
    tree.AddObjectWithPath("Plant/'Line/2'/Flow", nullptr);
    EXPECT_EQ(tree.AddObjectWithPath("", &one), 6);
    EXPECT_EQ(Shape(tree), "Plant:0^-1 Line1:1^0 Temp:2^1 Temp:2^1 Line/2:1^0 Flow:2^4 :0^-1");
    EXPECT_EQ(tree.Objects(2), &one);
    EXPECT_EQ(tree.Objects(3), &two);
}

TEST(StringTreeTest, IndexOfPathFindsTheFirstNodeWithExactlyThatPath) {
    TNvStringTree tree;
    Load(tree, "A\nA/x\nA\nA/y\nA/'p/q'\nA/''\n");
    EXPECT_EQ(tree.IndexOfPath("A"), 0);
    EXPECT_EQ(tree.IndexOfPath("A/y"), 3);  // under the second A
    EXPECT_EQ(tree.IndexOfPath("A/'p/q'"), 4);
    EXPECT_EQ(tree.IndexOfPath("A/''"), 5);
    EXPECT_EQ(tree.IndexOfPath("'A'/x"), -1);  // not how that path is written
    EXPECT_EQ(tree.IndexOfPath("A/p/q"), -1);
    EXPECT_EQ(tree.IndexOfPath(""), -1);
    for (int i = 0; i < tree.Count(); ++i) {
        if (i != 2) {
            EXPECT_EQ(tree.IndexOfPath(tree.PathOfIndex(i)), i);
        }
    }
}

TEST(StringTreeTest, ListsOfNamesAndFullPaths) {
    TNvStringTree tree;
    Tagged temp(1);
    BuildExample(tree);
    tree.Nodes(2)->SetDataObject(&temp);
    TNvStringList list;
    tree.AssignToStrings(&list, true, 0, {kNvLeafNode}, -1);
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"Root/A/'x/y'", "Root/B"}));
    EXPECT_EQ(list.Objects(0), &temp);

    tree.AssignToStrings(&list, false, 0, {kNvBranchNode}, -1);
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"Root", "A"}));
    // From A: its subtree and its following sibling's, paths relative to A's level.
    tree.AssignToStrings(&list, true, 1, TNvNodeTypes::All(), -1);
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"A", "A/'x/y'", "B"}));
    tree.AssignToStrings(&list, true, 0, TNvNodeTypes::All(), 1);
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"Root", "Root/A", "Root/B"}));
    tree.AssignToStrings(&list, true, 4, TNvNodeTypes::All(), -1);
    EXPECT_EQ(list.Count(), 0);

    list.Add("old");
    list.Assign(&tree);
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"Root", "Root/A", "Root/A/'x/y'", "Root/B"}));

    try {
        tree.AssignToStrings(nullptr, true, 0, TNvNodeTypes::All(), -1);
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "TNvStringTree.AssignToStrings: Strings must be assigned!");
    }
}

TEST(StringTreeTest, CopiesToOtherTreesAndFromStringLists) {
    TNvStringTree tree;
    Load(tree, "R\nR/A\nR/A/a1\nR/A/a1/deep\nR/B\nS\n");
    TNvStringTree copy;
    tree.AssignToTree(&copy, 1, TNvNodeTypes::All(), -1);
    EXPECT_EQ(Shape(copy), "A:0^-1 a1:1^0 deep:2^1");
    tree.AssignToTree(&copy, 1, TNvNodeTypes::All(), 0);
    EXPECT_EQ(Shape(copy), "A:0^-1 a1:1^0");
    tree.GetBranches(&copy, -1, -1);
    EXPECT_EQ(Shape(copy), "R:0^-1 A:1^0 a1:2^1");
    copy.Assign(&tree);
    EXPECT_EQ(Shape(copy), Shape(tree));
    tree.AssignToTree(&tree, 1, TNvNodeTypes::All(), -1);
    EXPECT_EQ(Shape(tree), "A:0^-1 a1:1^0 deep:2^1");

    TNvStringList lines;
    Tagged t(3);
    lines.AddObject("P", &t);
    lines.Add("P/'q/r'");
    copy.Assign(&lines);
    EXPECT_EQ(Shape(copy), "P:0^-1 q/r:1^0");
    EXPECT_EQ(copy.Objects(0), &t);

    try {
        tree.AssignToTree(nullptr, -1, TNvNodeTypes::All(), -1);
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "TNvStringTree.AssignToTree: Tree must be assigned!");
    }
}

TEST(StringTreeTest, FillsATreeViewAndFindsItsNodesAgain) {
    TNvStringTree tree;
    Tagged temp(1);
    BuildExample(tree);
    tree.Nodes(2)->SetDataObject(&temp);
    TNvTreeNodeList view;
    tree.AssignToTreeNodes(&view, "Server");
    ASSERT_EQ(view.Children(nullptr).size(), 1u);
    TNvTreeNode* top = view.Children(nullptr)[0];
    EXPECT_EQ(view.Text(top), "Server");
    TNvTreeNode* root = view.Children(top)[0];
    auto children = view.Children(root);
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(view.Text(children[0]), "A");
    EXPECT_TRUE(view.HasChildren(children[0]));
    TNvTreeNode* leaf = view.Children(children[0])[0];
    EXPECT_EQ(view.Text(leaf), "x/y");
    EXPECT_EQ(view.Data(leaf), &temp);
    EXPECT_FALSE(view.HasChildren(children[1]));

    EXPECT_EQ(tree.PathOfTreeNode(&view, leaf, true), "Root/A/'x/y'");
    EXPECT_EQ(tree.PathOfTreeNode(&view, leaf, false), "Server/Root/A/'x/y'");
    EXPECT_EQ(tree.PathOfTreeNode(&view, nullptr, true), "");
    EXPECT_EQ(tree.IndexOfTreeNode(&view, leaf, true), 2);
    EXPECT_EQ(tree.IndexOfTreeNode(&view, leaf, false), -1);

    // Branches only: a branch is marked expandable before its children are there.
    TNvTreeNodeList branches;
    int index = -1;
    tree.AddTreeNodes(index, &branches, {kNvBranchNode}, nullptr);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(branches.Count(), 2);
    TNvTreeNode* a = branches.Children(branches.Children(nullptr)[0])[0];
    EXPECT_EQ(branches.Text(a), "A");
    EXPECT_TRUE(branches.HasChildren(a));
    EXPECT_TRUE(branches.Children(a).empty());

    TNvTreeNodeList assigned;
    assigned.Assign(&tree);
    EXPECT_EQ(assigned.Children(nullptr).size(), 1u);
    EXPECT_EQ(assigned.Count(), 4);
}

TEST(StringTreeTest, ChangeEventsBracketEveryChangeOnceInsideAnUpdate) {
    TNvStringTree tree;
    std::string events;
    tree.OnChanging = [&](TObject*) { events += '<'; };
    tree.OnChange = [&](TObject*) { events += '>'; };
    tree.Add("A", 0);
    tree.AddChild(0, "B");
    EXPECT_EQ(events, "<><>");
    events.clear();
    tree.BeginUpdate();
    tree.BeginUpdate();
    tree.Add("C", 0);
    tree.EndUpdate();
    tree.Delete(0);
    tree.EndUpdate();
    EXPECT_EQ(events, "<>");
    events.clear();
    tree.Clear();
    tree.Clear();
    EXPECT_EQ(events, "<>");
}

class CountedNode : public TNvStringTreeNode {
public:
    using TNvStringTreeNode::TNvStringTreeNode;
    static TNvStringTreeNode* Create(TNvStringTree* tree, int parentIndex) {
        ++created;
        return new CountedNode(tree, parentIndex);
    }
    static inline int created = 0;
};

class CountedTree : public TNvStringTree {
protected:
    TNvStringTreeNodeClass GetTreeNodeClass() const override { return &CountedNode::Create; }
};

TEST(StringTreeTest, NodesAreCreatedByTheTreesNodeClass) {
    CountedTree tree;
    Load(tree, "A\nA/B\n");
    EXPECT_EQ(CountedNode::created, 2);
    EXPECT_NE(dynamic_cast<CountedNode*>(tree.Nodes(1)), nullptr);
    EXPECT_EQ(tree.Nodes(1)->Tree(), &tree);
    EXPECT_EQ(tree.Nodes(1)->Level(), 1);
}

class FailingTree : public TNvStringTree {
public:
    void SaveToStream(std::ostream& stream) const override {
        stream << "half a line";
        throw EStreamError("disk full");
    }
};

TEST(StringTreeTest, AFailedSaveLeavesThePreviousFile) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("nv-stringtree-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "space.txt").string();
    TNvStringTree tree;
    BuildExample(tree);
    tree.SaveToFile(file);

    FailingTree failing;
    EXPECT_THROW(failing.SaveToFile(file), EStreamError);
    TNvStringTree loaded;
    loaded.LoadFromFile(file);
    EXPECT_EQ(Shape(loaded), Shape(tree));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()),
              1);

    EXPECT_THROW(tree.SaveToFile((dir / "missing" / "x.txt").string()), EFCreateError);
    EXPECT_THROW(loaded.LoadFromFile((dir / "missing.txt").string()), EFOpenError);
    std::filesystem::remove_all(dir);
}

}  // namespace
