#include "foundation/ui/NvTreeWidgetNodes.h"

#include <QTreeWidget>

#include "foundation/ui/NvForm.h"

namespace nv {

namespace {

constexpr int kDataRole = Qt::UserRole;
constexpr int kSequenceRole = Qt::UserRole + 1;
const char* const kByInsertion = "nvSortByInsertion";

class TreeItem : public QTreeWidgetItem {
public:
    TreeItem(QTreeWidgetItem* parent, quint64 sequence) : QTreeWidgetItem(parent) { Init(sequence); }
    TreeItem(QTreeWidget* tree, quint64 sequence) : QTreeWidgetItem(tree) { Init(sequence); }

    bool operator<(const QTreeWidgetItem& other) const override {
        const QTreeWidget* tree = treeWidget();
        if (tree && tree->property(kByInsertion).toBool())
            return data(0, kSequenceRole).toULongLong() < other.data(0, kSequenceRole).toULongLong();
        return text(0).localeAwareCompare(other.text(0)) < 0;
    }

private:
    void Init(quint64 sequence) { setData(0, kSequenceRole, sequence); }
};

quint64 nextSequence = 0;

}  // namespace

void TNvTreeWidgetNodes::Clear() {
    tree_->clear();
}

TNvTreeNode* TNvTreeWidgetNodes::AddChild(TNvTreeNode* parent, const std::string& text, TObject* data) {
    QTreeWidgetItem* item =
        parent ? new TreeItem(Item(parent), ++nextSequence) : new TreeItem(tree_, ++nextSequence);
    item->setText(0, Qs(text));
    item->setData(0, kDataRole, QVariant::fromValue(reinterpret_cast<quintptr>(data)));
    return Node(item);
}

void TNvTreeWidgetNodes::SetHasChildren(TNvTreeNode* node, bool value) {
    Item(node)->setChildIndicatorPolicy(value ? QTreeWidgetItem::ShowIndicator
                                              : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

TNvTreeNode* TNvTreeWidgetNodes::Parent(TNvTreeNode* node) const {
    return node ? Node(Item(node)->parent()) : nullptr;
}

std::string TNvTreeWidgetNodes::Text(TNvTreeNode* node) const {
    return node ? Ss(Item(node)->text(0)) : std::string();
}

void TNvTreeWidgetNodes::BeginUpdate() {
    if (updates_++ == 0)
        tree_->setUpdatesEnabled(false);
}

void TNvTreeWidgetNodes::EndUpdate() {
    if (updates_ > 0 && --updates_ == 0)
        tree_->setUpdatesEnabled(true);
}

TObject* TNvTreeWidgetNodes::Data(const QTreeWidgetItem* item) {
    return item ? reinterpret_cast<TObject*>(item->data(0, kDataRole).value<quintptr>()) : nullptr;
}

void TNvTreeWidgetNodes::SortByInsertion(QTreeWidget* tree) {
    tree->setProperty(kByInsertion, true);
    tree->sortItems(0, Qt::AscendingOrder);
    tree->setProperty(kByInsertion, false);
}

}  // namespace nv
