// TNvOPCAddressSpaceBrowser: the dialog in which the user picks item IDs from a server's
// address space. Branches are fetched one by one as the user opens or selects them; the leaves
// of the selected branch are listed; the chosen IDs stand in an edit field, which is always
// what the caller gets. The window can also save, load and refresh the space and switch
// between the flat and hierarchical modes.
#pragma once

#include <memory>
#include <string>

#include "discovery/NvOPCAddressSpace.h"
#include "foundation/NvStringList.h"
#include "foundation/ui/NvForm.h"
#include "foundation/ui/NvTreeWidgetNodes.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace nv {

class TNvComponentWatch;

class TNvOPCAddressSpaceBrowser : public TNvForm {
    Q_OBJECT
public:
    explicit TNvOPCAddressSpaceBrowser(QWidget* parent = nullptr);
    ~TNvOPCAddressSpaceBrowser() override;

    TNvOPCServer* Server() const { return server_; }
    // The server browsed (not owned); none detaches. The window lets go by itself of a server
    // that is destroyed.
    void SetServer(TNvOPCServer* server);
    // The item IDs the edit field holds, one per entry.
    TNvStringList* GetSelectedItems() const { return selectedItems_.get(); }
    TNvOPCAddressSpaceNodeTypes NodeTypes() const { return nodeTypes_; }
    void SetNodeTypes(TNvOPCAddressSpaceNodeTypes types);
    bool AutoConnect() const { return autoConnect_; }
    void SetAutoConnect(bool value) { autoConnect_ = value; }
    bool BrowseOnDemand() const { return browseOnDemand_; }
    void SetBrowseOnDemand(bool value) { browseOnDemand_ = value; }
    bool ConnectedByBrowser() const { return connectedByBrowser_; }
    bool CancelRequested() const { return cancelRequested_; }

    // The address-space node behind a row of ItemList.
    TNvOPCAddressSpaceNode* GetListItems(int index) const;
    std::string GetStatus() const;
    // Status panel 0, repainted at once.
    void SetStatus(const std::string& text);
    bool GetIsBrowsing() const;

    // Shows the window modally; true when it was closed with OK.
    bool Execute();

    // The server's per-branch notice during a walk: lets the window work, so that Cancel is seen.
    void BrowseAddressSpace(TObject* sender, int level, const std::string& path,
                            const std::string& branchName, TNvOPCAddressSpaceBrowseAction& action);

    virtual void EnableActions();
    virtual void RefreshBranchTree(QTreeWidgetItem* treeNode);
    virtual void UpdateBranchTree(bool refresh);
    void BeginBrowse();
    void EndBrowse();
    void DisableActions();
    void Clear();
    void ConnectToServer();
    void BrowseNode(QTreeWidgetItem* treeNode);
    void UpdateItemList();
    void UpdateSelectedItems();
    void UpdateModeControls();

    // Commands.
    void CancelClick();
    void RefreshClick();
    void ModeClick();
    void LoadClick();
    void SaveClick();
    void SelectAllClick();
    void ItemsSortedClick();
    void BranchesSortedClick();

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    TNvOPCAddressSpace* Space() const;
    void ItemIDEditChange();
    void ServerGone();
    void DisconnectIfOurs();
    QString FileFilter() const;

    TNvOPCServer* server_ = nullptr;
    // Hears of the server's destruction, so that the window never reaches into a server that is
    // gone, whoever destroys it.
    std::unique_ptr<TNvComponentWatch> serverWatch_;
    std::unique_ptr<TNvStringList> selectedItems_;
    bool autoConnect_ = true;
    bool browseOnDemand_ = true;
    TNvOPCAddressSpaceNodeTypes nodeTypes_ = ntBranches | ntLeaves;
    bool connectedByBrowser_ = false;
    bool cancelRequested_ = false;
    // Hidden during a walk: the disconnect waits until the walk has unwound.
    bool disconnectAfterBrowse_ = false;
    int browsing_ = 0;

    QLineEdit* itemIDEdit_;
    QWidget* branchesPanel_;
    QTreeWidget* branchTree_;
    std::unique_ptr<TNvTreeWidgetNodes> treeNodes_;
    QWidget* itemsPanel_;
    QListWidget* itemList_;
    QCheckBox* recurseCheckBox_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;
    QPushButton* loadButton_;
    QPushButton* saveButton_;
    QPushButton* refreshButton_;
    QGroupBox* modeGroup_;
    QRadioButton* flatButton_;
    QRadioButton* hierarchialButton_;
    QLabel* statusPanel0_;
    QLabel* statusPanel1_;
    QAction* itemsSortedAction_;
    QAction* branchesSortedAction_;
};

}  // namespace nv
