#include "discovery/ui/NvOPCAddressSpaceBrowser.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <unordered_map>

#include "foundation/NvComponent.h"
#include "foundation/NvEventLoop.h"
#include "foundation/NvSysUtils.h"
#include "foundation/ui/NvUIUtils.h"

namespace nv {

namespace {

const char* const kBrowsing = "Browsing...";
const char* const kReady = "Ready.";
constexpr int kNodeRole = Qt::UserRole;

// Ends the busy state however the walk or file operation ends.
template <class F>
struct Finally {
    F f;
    ~Finally() { f(); }
};
template <class F>
Finally(F) -> Finally<F>;

}  // namespace

TNvOPCAddressSpaceBrowser::TNvOPCAddressSpaceBrowser(QWidget* parent)
    : TNvForm(parent),
      serverWatch_(std::make_unique<TNvComponentWatch>([this] { ServerGone(); })),
      selectedItems_(std::make_unique<TNvStringList>()) {
    setObjectName("NvOPCAddressSpaceBrowser");
    setWindowTitle("OPC Server Address Space");
    setSizeGripEnabled(true);

    // ---- top: the chosen item IDs
    auto* itemIDLabel = new QLabel("&Item ID(s):", this);
    itemIDLabel->setObjectName("ItemIDLabel");
    itemIDEdit_ = new QLineEdit(this);
    itemIDEdit_->setObjectName("ItemIDEdit");
    itemIDEdit_->setToolTip(
        "Use ',' to separate several ItemIDs from each other and cover the items with \" \", if they contain "
        "spaces.");
    itemIDLabel->setBuddy(itemIDEdit_);

    // ---- left: branches
    branchesPanel_ = new QWidget(this);
    branchesPanel_->setObjectName("BranchesPanel");
    auto* branchesLabel = new QLabel("&Branches", branchesPanel_);
    branchesLabel->setObjectName("BranchesLabel");
    branchTree_ = new QTreeWidget(branchesPanel_);
    branchTree_->setObjectName("BranchTree");
    branchTree_->setHeaderHidden(true);
    branchTree_->setColumnCount(1);
    branchTree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    branchTree_->setSelectionMode(QAbstractItemView::SingleSelection);
    branchTree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    branchTree_->header()->setStretchLastSection(false);
    branchesLabel->setBuddy(branchTree_);
    treeNodes_ = std::make_unique<TNvTreeWidgetNodes>(branchTree_);
    auto* branchesLayout = new QVBoxLayout(branchesPanel_);
    branchesLayout->setContentsMargins(0, 0, 0, 0);
    branchesLayout->addWidget(branchesLabel);
    branchesLayout->addWidget(branchTree_, 1);

    branchesSortedAction_ = new QAction("&Sorted", this);
    branchesSortedAction_->setObjectName("BranchesSortedAction");
    branchesSortedAction_->setCheckable(true);
    auto* branchMenu = new QMenu(this);
    branchMenu->setObjectName("BranchPopupMenu");
    branchMenu->addAction(branchesSortedAction_);
    branchTree_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(branchTree_, &QWidget::customContextMenuRequested, this, [this, branchMenu](const QPoint& at) {
        branchMenu->popup(branchTree_->viewport()->mapToGlobal(at));
    });

    // ---- right: leaves of the selected branch
    itemsPanel_ = new QWidget(this);
    itemsPanel_->setObjectName("ItemsPanel");
    auto* itemsLabel = new QLabel("&Items", itemsPanel_);
    itemsLabel->setObjectName("ItemsLabel");
    itemList_ = new QListWidget(itemsPanel_);
    itemList_->setObjectName("ItemList");
    itemList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    itemsLabel->setBuddy(itemList_);
    recurseCheckBox_ = new QCheckBox("&Recurse subtree (not available, yet)", itemsPanel_);
    recurseCheckBox_->setObjectName("RecurseCheckBox");
    recurseCheckBox_->setToolTip("Rcurse items from the complete subtree");
    recurseCheckBox_->hide();
    auto* itemsLayout = new QVBoxLayout(itemsPanel_);
    itemsLayout->setContentsMargins(0, 0, 0, 0);
    itemsLayout->addWidget(itemsLabel);
    itemsLayout->addWidget(itemList_, 1);
    itemsLayout->addWidget(recurseCheckBox_);

    auto* selectAll = new QAction("Select &All", this);
    selectAll->setObjectName("SelectAllAction");
    selectAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    selectAll->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    itemsSortedAction_ = new QAction("&Sorted", this);
    itemsSortedAction_->setObjectName("ItemsSortedAction");
    itemsSortedAction_->setCheckable(true);
    itemList_->addAction(selectAll);
    itemList_->addAction(itemsSortedAction_);
    itemList_->setContextMenuPolicy(Qt::ActionsContextMenu);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName("Splitter1");
    splitter->addWidget(branchesPanel_);
    splitter->addWidget(itemsPanel_);
    splitter->setChildrenCollapsible(false);

    // ---- right column: commands and mode
    auto makeButton = [this](const char* name, const QString& text, QStyle::StandardPixmap icon) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        if (icon != QStyle::SP_CustomBase)
            b->setIcon(style()->standardIcon(icon));
        b->setAutoDefault(false);
        return b;
    };
    okButton_ = makeButton("OKButton", "OK", QStyle::SP_DialogOkButton);
    okButton_->setDefault(true);
    cancelButton_ = makeButton("CancelButton", "Cancel", QStyle::SP_DialogCancelButton);
    loadButton_ = makeButton("LoadButton", "&Load...", QStyle::SP_DialogOpenButton);
    saveButton_ = makeButton("SaveButton", "&Save...", QStyle::SP_DialogSaveButton);
    refreshButton_ = makeButton("RefreshButton", "&Refresh", QStyle::SP_BrowserReload);
    modeGroup_ = new QGroupBox("Mode", this);
    modeGroup_->setObjectName("ModeGroup");
    flatButton_ = new QRadioButton("&Flat", modeGroup_);
    flatButton_->setObjectName("FlatButton");
    hierarchialButton_ = new QRadioButton("&Hierarchial", modeGroup_);
    hierarchialButton_->setObjectName("HierarchialButton");
    auto* modeLayout = new QVBoxLayout(modeGroup_);
    modeLayout->addWidget(flatButton_);
    modeLayout->addWidget(hierarchialButton_);

    auto* column = new QVBoxLayout;
    column->addWidget(okButton_);
    column->addWidget(cancelButton_);
    column->addSpacing(FontScaled(this, 12));
    column->addWidget(loadButton_);
    column->addWidget(saveButton_);
    column->addWidget(refreshButton_);
    column->addSpacing(FontScaled(this, 12));
    column->addWidget(modeGroup_);
    column->addStretch();

    // ---- status bar
    auto* statusBar = new QStatusBar(this);
    statusBar->setObjectName("StatusBar");
    statusBar->setSizeGripEnabled(false);
    statusPanel0_ = new QLabel(kReady, statusBar);
    statusPanel0_->setObjectName("StatusPanel0");
    statusPanel0_->setMinimumWidth(std::max(
        FontScaled(this, 64), fontMetrics().horizontalAdvance("Loading...00") + FontScaled(this, 8)));
    statusPanel1_ = new QLabel(statusBar);
    statusPanel1_->setObjectName("StatusPanel1");
    statusPanel1_->setMinimumWidth(FontScaled(this, 250));
    statusBar->addWidget(statusPanel0_);
    statusBar->addWidget(statusPanel1_, 1);

    auto* top = new QHBoxLayout;
    top->addWidget(itemIDLabel);
    top->addWidget(itemIDEdit_, 1);
    auto* middle = new QHBoxLayout;
    middle->addWidget(splitter, 1);
    middle->addLayout(column);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(FontScaled(this, 8), FontScaled(this, 8), FontScaled(this, 8), 0);
    layout->addLayout(top);
    layout->addLayout(middle, 1);
    layout->addWidget(statusBar);

    setTabOrder(itemIDEdit_, branchTree_);
    setTabOrder(branchTree_, itemList_);
    setTabOrder(itemList_, okButton_);
    setTabOrder(okButton_, cancelButton_);
    setTabOrder(cancelButton_, loadButton_);
    setTabOrder(loadButton_, saveButton_);
    setTabOrder(saveButton_, refreshButton_);
    setTabOrder(refreshButton_, flatButton_);
    setTabOrder(flatButton_, hierarchialButton_);

    // ---- commands; an exception of any of them ends in the program's error box
    auto command = [this](void (TNvOPCAddressSpaceBrowser::*f)()) {
        return [this, f] { RunCommand([this, f] { (this->*f)(); }); };
    };
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, command(&TNvOPCAddressSpaceBrowser::CancelClick));
    connect(refreshButton_, &QPushButton::clicked, this, command(&TNvOPCAddressSpaceBrowser::RefreshClick));
    connect(loadButton_, &QPushButton::clicked, this, command(&TNvOPCAddressSpaceBrowser::LoadClick));
    connect(saveButton_, &QPushButton::clicked, this, command(&TNvOPCAddressSpaceBrowser::SaveClick));
    connect(flatButton_, &QRadioButton::clicked, this, command(&TNvOPCAddressSpaceBrowser::ModeClick));
    connect(hierarchialButton_, &QRadioButton::clicked, this, command(&TNvOPCAddressSpaceBrowser::ModeClick));
    connect(selectAll, &QAction::triggered, this, command(&TNvOPCAddressSpaceBrowser::SelectAllClick));
    connect(itemsSortedAction_, &QAction::triggered, this,
            command(&TNvOPCAddressSpaceBrowser::ItemsSortedClick));
    connect(branchesSortedAction_, &QAction::triggered, this,
            command(&TNvOPCAddressSpaceBrowser::BranchesSortedClick));
    connect(recurseCheckBox_, &QCheckBox::clicked, this, command(&TNvOPCAddressSpaceBrowser::UpdateItemList));
    connect(itemIDEdit_, &QLineEdit::textChanged, this, [this] { ItemIDEditChange(); });
    connect(itemList_, &QListWidget::itemSelectionChanged, this,
            command(&TNvOPCAddressSpaceBrowser::UpdateSelectedItems));
    connect(itemList_, &QListWidget::itemDoubleClicked, this, [this] {
        if (okButton_->isEnabled())
            accept();
    });
    connect(branchTree_, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { RunCommand([this, item] { BrowseNode(item); }); });
    connect(branchTree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        RunCommand([this, item] {
            if (item)
                BrowseNode(item);
            UpdateItemList();
        });
    });

    resize(FontScaled(this, 507, 383));
    EnableActions();
    ItemIDEditChange();
    SetStatus(kReady);
}

TNvOPCAddressSpaceBrowser::~TNvOPCAddressSpaceBrowser() {
    try {
        SetServer(nullptr);
    } catch (...) {
        // A disconnect that fails on the way out has nobody left to tell.
    }
}

TNvOPCAddressSpace* TNvOPCAddressSpaceBrowser::Space() const {
    return server_ ? server_->AddressSpace() : nullptr;
}

void TNvOPCAddressSpaceBrowser::SetServer(TNvOPCServer* server) {
    if (server == server_)
        return;
    if (server_) {
        TNvOPCServer* old = server_;
        old->OnBrowseAddressSpace = nullptr;
        if (connectedByBrowser_) {
            connectedByBrowser_ = false;
            old->Disconnect();
        }
    }
    Clear();
    server_ = server;
    serverWatch_->Watch(server);
    connectedByBrowser_ = false;
    cancelRequested_ = false;
    if (server_) {
        server_->OnBrowseAddressSpace = [this](TObject* sender, int level, const std::string& path,
                                               const std::string& branchName,
                                               TNvOPCAddressSpaceBrowseAction& action) {
            BrowseAddressSpace(sender, level, path, branchName, action);
        };
        server_->SetAutoUpdateAddressSpace(false);
        TNvOPCAddressSpace* space = Space();
        space->SetBrowseOnDemand(browseOnDemand_);
        space->SetNodeTypes(nodeTypes_);
        if (autoConnect_)
            ConnectToServer();
    }
    UpdateModeControls();
    EnableActions();
}

void TNvOPCAddressSpaceBrowser::ServerGone() {
    server_ = nullptr;
    connectedByBrowser_ = false;
    Clear();
    setWindowTitle("OPC Server Address Space");
    EnableActions();
}

void TNvOPCAddressSpaceBrowser::SetNodeTypes(TNvOPCAddressSpaceNodeTypes types) {
    nodeTypes_ = types;
    itemsPanel_->setVisible((types & ntLeaves) != 0);
    if (server_)
        Space()->SetNodeTypes(types);
}

TNvOPCAddressSpaceNode* TNvOPCAddressSpaceBrowser::GetListItems(int index) const {
    QListWidgetItem* row = itemList_->item(index);
    return row ? reinterpret_cast<TNvOPCAddressSpaceNode*>(row->data(kNodeRole).value<quintptr>()) : nullptr;
}

std::string TNvOPCAddressSpaceBrowser::GetStatus() const {
    return Ss(statusPanel0_->text());
}

void TNvOPCAddressSpaceBrowser::SetStatus(const std::string& text) {
    statusPanel0_->setText(Qs(text));
    statusPanel0_->repaint();
}

bool TNvOPCAddressSpaceBrowser::GetIsBrowsing() const {
    return GetStatus() == kBrowsing;
}

bool TNvOPCAddressSpaceBrowser::Execute() {
    CentreOn(parentWidget());
    return exec() == QDialog::Accepted;
}

void TNvOPCAddressSpaceBrowser::BrowseAddressSpace(TObject*, int, const std::string& path, const std::string&,
                                                   TNvOPCAddressSpaceBrowseAction& action) {
    statusPanel1_->setText(Qs(path));
    // Clicks reach the window between two branches; Cancel among them.
    ProcessMessages();
    if (cancelRequested_)
        action = baCancel;
}

// ---- the walk ---------------------------------------------------------------------------------

void TNvOPCAddressSpaceBrowser::ConnectToServer() {
    if (!server_)
        return;
    QString caption =
        "OPC Server Address Space: \\\\" + Qs(server_->Host()) + "\\" + Qs(server_->ServerName());
    if (!server_->Connected()) {
        try {
            server_->Connect();
            if (server_->Connected() && autoConnect_)
                connectedByBrowser_ = true;
        } catch (const std::exception&) {
            // The caption says it; the window stays usable for another server or a file.
        }
        if (!server_->Connected())
            caption += " - No connection!";
    }
    setWindowTitle(caption);
}

void TNvOPCAddressSpaceBrowser::UpdateBranchTree(bool refresh) {
    cancelRequested_ = false;
    if (refresh)
        ConnectToServer();
    if (!server_ || !server_->Connected())
        return;
    if (!refresh && Space()->Updated())
        return;
    {
        BeginBrowse();
        Finally end{[this] { EndBrowse(); }};
        Clear();
        Space()->Update();
        itemIDEdit_->clear();
    }
    UpdateModeControls();
    UpdateItemList();
}

void TNvOPCAddressSpaceBrowser::BeginBrowse() {
    ++browsing_;
    SetStatus(kBrowsing);
    DisableActions();
    BeginBusyCursor();
    treeNodes_->BeginUpdate();
}

void TNvOPCAddressSpaceBrowser::EndBrowse() {
    treeNodes_->EndUpdate();
    EndBusyCursor();
    --browsing_;
    EnableActions();
    SetStatus(kReady);
    if (browsing_ == 0 && disconnectAfterBrowse_) {
        disconnectAfterBrowse_ = false;
        DisconnectIfOurs();
    }
}

void TNvOPCAddressSpaceBrowser::DisableActions() {
    for (QWidget* w : {static_cast<QWidget*>(okButton_), static_cast<QWidget*>(loadButton_),
                       static_cast<QWidget*>(saveButton_), static_cast<QWidget*>(refreshButton_),
                       static_cast<QWidget*>(modeGroup_)})
        w->setEnabled(false);
}

void TNvOPCAddressSpaceBrowser::EnableActions() {
    const QString ids = itemIDEdit_->text();
    okButton_->setEnabled(!ids.isEmpty() && ids != "\"\"");
    loadButton_->setEnabled(true);
    refreshButton_->setEnabled(true);
    bool updated = false;
    bool hierarchical = false;
    if (server_) {
        TNvOPCAddressSpace* space = Space();
        updated = space->Updated();
        hierarchical = space->HierarchicalSupported();
    }
    saveButton_->setEnabled(updated);
    modeGroup_->setEnabled(hierarchical);
}

void TNvOPCAddressSpaceBrowser::Clear() {
    itemList_->clear();
    branchTree_->clear();
}

void TNvOPCAddressSpaceBrowser::UpdateModeControls() {
    bool hierarchical = false;
    if (server_) {
        TNvOPCAddressSpace* space = Space();
        flatButton_->setChecked(space->Mode() == amFlat);
        hierarchialButton_->setChecked(space->Mode() == amHierarchial);
        hierarchical = space->HierarchicalSupported();
    }
    modeGroup_->setEnabled(hierarchical && browsing_ == 0);
    flatButton_->setEnabled(hierarchical);
    hierarchialButton_->setEnabled(hierarchical);
    RefreshBranchTree(nullptr);
}

void TNvOPCAddressSpaceBrowser::RefreshBranchTree(QTreeWidgetItem*) {
    SetStatus(kReady);
    statusPanel1_->clear();
    if (!server_) {
        Clear();
        return;
    }
    itemList_->clear();
    TNvOPCAddressSpace* space = Space();
    if (space->Mode() == amHierarchial) {
        // A copy of the branches alone, in which every node counts as a branch: each is shown
        // as expandable until it is browsed.
        TNvOPCAddressSpace branches(server_);
        space->GetBranches(&branches, -1, -1);
        {
            // No selection signals while the tree is refilled: they would browse half-built nodes.
            QSignalBlocker block(branchTree_);
            branches.AssignToTreeNodes(treeNodes_.get(), server_->ServerName());
        }
        QTreeWidgetItem* top = branchTree_->topLevelItem(0);
        if (top) {
            branchTree_->setCurrentItem(top);
            top->setExpanded(true);
        }
        branchesPanel_->show();
    } else {
        branchesPanel_->hide();
    }
}

void TNvOPCAddressSpaceBrowser::BrowseNode(QTreeWidgetItem* treeNode) {
    if (!server_ || !treeNode)
        return;
    TNvOPCAddressSpace* space = Space();
    int position = space->IndexOfTreeNode(treeNodes_.get(), TNvTreeWidgetNodes::Node(treeNode), true);
    if (position < 0)
        return;
    if (!space->SpaceNodes(position)->Browsed()) {
        treeNodes_->SetHasChildren(TNvTreeWidgetNodes::Node(treeNode), false);
        space->BrowseBranch(position);
        // The node's subtree comes from the space, which is the truth: children the view already
        // had (a loaded file's) would otherwise appear twice.
        qDeleteAll(treeNode->takeChildren());
        space->AddTreeNodes(position, treeNodes_.get(), TNvNodeTypes{kNvBranchNode},
                            TNvTreeWidgetNodes::Node(treeNode));
    } else if (treeNode->childCount() == 0) {
        // Browsed before this tree was built: nothing more will come below it.
        treeNodes_->SetHasChildren(TNvTreeWidgetNodes::Node(treeNode), false);
    }
}

void TNvOPCAddressSpaceBrowser::UpdateItemList() {
    itemList_->clear();
    if (!server_)
        return;
    TNvOPCAddressSpace* space = Space();
    auto addLeaf = [this, space](int i) {
        auto* row = new QListWidgetItem(Qs(space->Strings(i)));
        row->setData(kNodeRole, QVariant::fromValue(reinterpret_cast<quintptr>(space->SpaceNodes(i))));
        itemList_->addItem(row);
    };
    if (branchesPanel_->isHidden()) {
        for (int i = 0; i < space->Count(); ++i)
            if (space->NodeType(i) == kNvLeafNode)
                addLeaf(i);
        return;
    }
    QTreeWidgetItem* current = branchTree_->currentItem();
    if (!current)
        return;
    const int position = space->IndexOfTreeNode(treeNodes_.get(), TNvTreeWidgetNodes::Node(current), true);
    int child;
    int childLevel;
    if (position < 0) {
        // The top node stands for the server's root: its leaves are the top-level ones.
        if (current->parent() != nullptr || space->Count() == 0)
            return;
        child = 0;
        childLevel = 0;
    } else {
        if (!space->HasChildren(position))
            return;
        child = position + 1;
        childLevel = space->Levels(position) + 1;
    }
    for (int i = child; i < space->Count() && space->Levels(i) >= childLevel; ++i)
        if (space->Levels(i) == childLevel && space->NodeType(i) == kNvLeafNode)
            addLeaf(i);
}

void TNvOPCAddressSpaceBrowser::UpdateSelectedItems() {
    if (!server_)
        return;
    const auto rows = itemList_->selectedItems();
    if (rows.isEmpty())
        return;
    TNvOPCAddressSpace* space = Space();
    // Positions of the selected nodes, found in one pass over the tree.
    std::unordered_map<const TNvStringTreeNode*, int> positions;
    for (QListWidgetItem* row : rows)
        positions[reinterpret_cast<TNvOPCAddressSpaceNode*>(row->data(kNodeRole).value<quintptr>())] = -1;
    for (int i = 0; i < space->Count(); ++i)
        if (auto it = positions.find(space->Nodes(i)); it != positions.end())
            it->second = i;
    TNvStringList chosen;
    for (int r = 0; r < itemList_->count(); ++r) {
        QListWidgetItem* row = itemList_->item(r);
        if (!row->isSelected())
            continue;
        const int position =
            positions[reinterpret_cast<TNvOPCAddressSpaceNode*>(row->data(kNodeRole).value<quintptr>())];
        if (position >= 0)
            chosen.AddObject(space->GetItemIDs(position), space->Nodes(position));
    }
    if (chosen.Count() > 0)
        itemIDEdit_->setText(Qs(chosen.DelimitedText()));
}

void TNvOPCAddressSpaceBrowser::ItemIDEditChange() {
    selectedItems_->SetDelimitedText(Ss(itemIDEdit_->text()));
    SetStatus(Format("%d Item(s)", selectedItems_->Count()));
    EnableActions();
}

// ---- commands ---------------------------------------------------------------------------------

void TNvOPCAddressSpaceBrowser::CancelClick() {
    if (GetIsBrowsing())
        cancelRequested_ = true;
    QDialog::reject();
}

void TNvOPCAddressSpaceBrowser::reject() {
    // Escape and the window's close button are Cancel too.
    CancelClick();
}

void TNvOPCAddressSpaceBrowser::RefreshClick() {
    UpdateBranchTree(true);
}

void TNvOPCAddressSpaceBrowser::ModeClick() {
    if (!server_)
        return;
    Space()->SetMode(flatButton_->isChecked() ? amFlat : amHierarchial);
    UpdateBranchTree(true);
}

QString TNvOPCAddressSpaceBrowser::FileFilter() const {
    return Qs(Format("OPC Address Spaces (*.%s);;AllFiles (*)", "oas"));
}

void TNvOPCAddressSpaceBrowser::LoadClick() {
    // A loaded space belongs to a server; without one there is nothing to load it into.
    if (!server_)
        return;
    QFileDialog dialog(this, "Load Address Space");
    dialog.setObjectName("LoadDialog");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(FileFilter());
    dialog.setDefaultSuffix("oas");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty() || !server_)
        return;
    const std::string fileName = Ss(dialog.selectedFiles().front());
    server_->SetAutoUpdateAddressSpace(false);
    SetStatus("Loading...");
    BeginBusyCursor();
    Finally end{[this] {
        EndBusyCursor();
        EnableActions();
        SetStatus(kReady);
    }};
    Clear();
    Space()->LoadFromFile(fileName);
    RefreshBranchTree(nullptr);
}

void TNvOPCAddressSpaceBrowser::SaveClick() {
    if (!server_)
        return;
    QFileDialog dialog(this, "Save Address Space");
    dialog.setObjectName("SaveDialog");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(FileFilter());
    dialog.setDefaultSuffix("oas");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty() || !server_)
        return;
    const std::string fileName = Ss(dialog.selectedFiles().front());
    SetStatus("Saving...");
    BeginBusyCursor();
    Finally end{[this] {
        EndBusyCursor();
        SetStatus(kReady);
    }};
    Space()->SaveToFile(fileName);
}

void TNvOPCAddressSpaceBrowser::SelectAllClick() {
    {
        QSignalBlocker block(itemList_);
        itemList_->selectAll();
    }
    UpdateSelectedItems();
}

void TNvOPCAddressSpaceBrowser::ItemsSortedClick() {
    const bool sorted = itemsSortedAction_->isChecked();
    itemList_->setSortingEnabled(sorted);
    if (sorted)
        itemList_->sortItems(Qt::AscendingOrder);
    else
        UpdateItemList();
}

void TNvOPCAddressSpaceBrowser::BranchesSortedClick() {
    const bool sorted = branchesSortedAction_->isChecked();
    QSignalBlocker block(branchTree_);
    if (sorted) {
        branchTree_->setSortingEnabled(true);
        branchTree_->sortItems(0, Qt::AscendingOrder);
    } else {
        branchTree_->setSortingEnabled(false);
        TNvTreeWidgetNodes::SortByInsertion(branchTree_);
    }
}

// ---- showing and hiding -------------------------------------------------------------------------

void TNvOPCAddressSpaceBrowser::showEvent(QShowEvent* event) {
    TNvForm::showEvent(event);
    // Once the window is on the screen, so that the user sees the walk and can cancel it.
    QTimer::singleShot(0, this, [this] {
        if (!isVisible())
            return;
        RunCommand([this] {
            if (autoConnect_)
                ConnectToServer();
            UpdateBranchTree(false);
        });
    });
}

void TNvOPCAddressSpaceBrowser::hideEvent(QHideEvent* event) {
    TNvForm::hideEvent(event);
    // Not in the middle of a walk, which still uses the connection while it unwinds.
    if (browsing_ > 0)
        disconnectAfterBrowse_ = true;
    else
        DisconnectIfOurs();
}

void TNvOPCAddressSpaceBrowser::DisconnectIfOurs() {
    if (server_ && connectedByBrowser_ && server_->Connected())
        server_->Disconnect();
}

}  // namespace nv
