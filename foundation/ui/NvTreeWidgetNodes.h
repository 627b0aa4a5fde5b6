// The string tree's tree-view interface over a Qt tree widget: the nodes a string tree adds
// become QTreeWidgetItems of the widget's first column, carrying the node's object.
#pragma once

#include <QTreeWidgetItem>

#include "foundation/NvStringTree.h"

class QTreeWidget;

namespace nv {

class TNvTreeWidgetNodes : public INvTreeNodes {
public:
    explicit TNvTreeWidgetNodes(QTreeWidget* tree) : tree_(tree) {}

    void Clear() override;
    TNvTreeNode* AddChild(TNvTreeNode* parent, const std::string& text, TObject* data) override;
    void SetHasChildren(TNvTreeNode* node, bool value) override;
    TNvTreeNode* Parent(TNvTreeNode* node) const override;
    std::string Text(TNvTreeNode* node) const override;
    void BeginUpdate() override;
    void EndUpdate() override;

    QTreeWidget* Tree() const { return tree_; }
    static QTreeWidgetItem* Item(TNvTreeNode* node) { return reinterpret_cast<QTreeWidgetItem*>(node); }
    static TNvTreeNode* Node(QTreeWidgetItem* item) { return reinterpret_cast<TNvTreeNode*>(item); }
    // The object the string tree attached to the item.
    static TObject* Data(const QTreeWidgetItem* item);
    // Sorting by text while the tree widget sorts; otherwise the order in which the items were
    // added, so that switching sorting off brings the original order back.
    static void SortByInsertion(QTreeWidget* tree);

private:
    QTreeWidget* tree_;
    int updates_ = 0;
};

}  // namespace nv
