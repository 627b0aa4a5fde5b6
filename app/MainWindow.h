// TForm1: the test client's main window, through which every user action enters the program.
// Five numbered panels: "1. Select the OPC Server" (host, server list), "2. Connect to the
// Server" (server text, category, Connect, status), "3. Define the OPC Groups", "4. Set the
// properties of the OPC Group" and "5. Define the OPC Items for the Group" (the item grid and
// its commands); menus and tool bars for the configuration file, printing, the address space
// export, the log window and the About box.
//
// The window works on the configuration's one server component and keeps no connection state of
// its own: UpdateButtonStates re-reads it after nearly every action. It never owns a group; it
// shows one current group and binds its own handlers to that group's events, and lets go of it
// before the group is destroyed by any path.
//
// The code is split by panel: MainWindow.cpp (start-up, panels 1 and 2, the control rule, the
// configuration commands), MainWindowGroups.cpp (panels 3 and 4), MainWindowItems.cpp (panel 5,
// printing, export, log, About).
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Configuration.h"
#include "discovery/NvOPCServerList.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPrinter;
class QPushButton;
class QSplitter;
class QToolButton;

namespace nv {

class TItemGrid;
class TNvOPCAddressSpaceBrowser;
class TNvOPCItem;
class TNvOPCTransaction;

// The item ID that Quick Add takes from the typed text: a text in double quotes gives what stands
// between them, each doubled quote inside standing for one and anything after the closing quote
// dropped. A text that does not open with a quote, an empty pair of quotes, and an opening quote
// that is never closed are taken as typed.
std::string QuickAddItemID(const std::string& text);

// Which file dialog PromptFileName shows.
enum class TFileDialogKind { Open, Save };

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Norvane OPC Client";

    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    TNvOPCServer* GetServer() const { return configuration_->Server(); }
    TConfiguration* Configuration() const { return configuration_.get(); }
    TNvOPCServerList* ServerList() const { return serverList_.get(); }
    TNvOPCAddressSpaceBrowser* Browser() const { return browser_; }
    TNvOPCGroup* CurrentGroup() const { return currentGroup_; }
    bool GroupEdited() const { return groupEdited_; }
    TItemGrid* ItemGrid() const { return itemGrid_; }
    // The printer that Print Setup sets up and Print prints on.
    QPrinter* Printer();

    // ---- panels 1 and 2
    void UpdateButtonStates();
    void RefreshButtonClick();
    void FillHostList();
    void ServerListClick();
    void ServerEditChange();
    void ServerCategorySelectorChange(int index);
    void ConnectServerButtonClick();
    void ServerStatusChange();
    void ShowServerName();

    // ---- panels 3 and 4
    void ServerChange();
    void SetCurrentGroup(TNvOPCGroup* group);
    void GroupRefresh();
    void GroupListClick();
    void AddGroupButtonClick();
    void RemoveGroupButtonClick();
    void GroupOkButtonClick();
    void GroupCancelButtonClick();
    void SetGroupEdited(bool edited);
    void ActiveClick();
    void AsyncClick();
    void LocalTimeCheckBoxClick();
    void DataSourceSelectorChange(int index);
    void ChangeRatePanelClick();

    // ---- panel 5 and the item commands
    void RefreshItemGridData();
    void RefreshItemGridConfiguration();
    void StoreItemGridConfiguration();
    // The selection rule: rebuilds the selected items from the grid and enables the item
    // actions by them.
    void ItemGridTopLeftChanged();
    void UpdateSelectedItems();
    int SelectedItemCount() const { return static_cast<int>(selectedItems_.size()); }
    TNvOPCItem* SelectedItems(int index) const { return selectedItems_.at(static_cast<size_t>(index)); }
    TNvOPCItem* FirstSelectedItem() const { return selectedItems_.empty() ? nullptr : selectedItems_.front(); }
    void AddItemIDs(const std::vector<std::string>& itemIDs);
    void MarkModified();
    void QuickAddButtonClick();
    void AddItemActionExecute();
    void AddFromFileActionExecute();
    void RemoveItemActionExecute();
    void ToggleActiveStateExecute();
    void ReadItemActionExecute();
    void WriteItemActionExecute();
    void RefreshActionExecute();
    void ChangeDataTypeActionExecute();
    void SaveServerAddressSpace1Click();
    void Print1Click();
    void PrintSetup1Click();
    // Draws the window on the printer's page, scaled to fit with its proportions kept.
    void PrintTo(QPrinter& printer);
    void ViewLogActionExecute();
    void About1Click();

    // ---- the configuration file
    void New1Click();
    void Open1Click();
    void Save1Click();
    void SaveAs1Click();
    // True when the configuration may be discarded: it is unmodified, or the user saved it or
    // chose not to.
    bool ConfirmConfiguration();
    // The chosen path, or "" when the user cancelled.
    std::string PromptFileName(const std::string& name, TFileDialogKind kind);
    bool SaveConfiguration(const std::string& name);

    // Where the window keeps its own state between runs (size, position, splitter, the last
    // folder of its file dialogs): the user's Qt settings of the program. Tests point it elsewhere.
    static void SetSettingsFile(const std::string& path);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Layout.
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    QWidget* BuildServerPanel();
    QWidget* BuildConnectPanel();
    QWidget* BuildGroupsPanel();
    QWidget* BuildGroupPropertiesPanel();
    QWidget* BuildItemsPanel();
    QWidget* BuildFooter();
    void FillCategorySelector();
    void FillDataSourceSelector();
    void InitItemGrid();
    void UpdateTitle();
    void SetLinkBold(bool bold);
    void OpenWebAddress();
    void RestoreWindowState();
    void SaveWindowState();
    QString LastFolder() const;
    void RememberFolder(const QString& file);
    // Shows the dialog, starting at `name` or else the folder used last; the chosen path, or ""
    // when the user cancelled.
    QString ExecFileDialog(QFileDialog& dialog, const QString& name);

    // Binds the window's handlers to the group's events (none: unbinds them).
    void BindGroupEvents(TNvOPCGroup* group, bool bind);
    // The current group is being destroyed by whatever path (Remove, New, Open, another host or
    // server): the window lets go of it without touching it.
    void CurrentGroupDestroyed();
    void GroupDataChange(TNvOPCTransaction* transaction);
    void TransactionError(TNvOPCTransaction* transaction);
    void WriteCompleted(TNvOPCTransaction* transaction);
    // Enter in a panel-4 field: applies the field's own immediate change (in the name field: OK).
    // False for a field that is not one of them.
    bool GroupFieldEnter(QLineEdit* field);
    QString FormatPercentDeadband(float value) const;

    bool destroying_ = false;
    bool shown_ = false;
    bool fillingGroupFields_ = false;
    bool groupEdited_ = false;
    std::unique_ptr<TConfiguration> configuration_;
    std::unique_ptr<TNvOPCServerList> serverList_;
    TNvOPCAddressSpaceBrowser* browser_ = nullptr;
    TNvOPCGroup* currentGroup_ = nullptr;
    std::unique_ptr<TNvComponentWatch> groupWatch_;
    std::vector<TNvOPCItem*> selectedItems_;
    std::unique_ptr<QPrinter> printer_;

    // Actions.
    QAction* newAction_ = nullptr;
    QAction* openAction_ = nullptr;
    QAction* saveAction_ = nullptr;
    QAction* saveAsAction_ = nullptr;
    QAction* exportAction_ = nullptr;
    QAction* printAction_ = nullptr;
    QAction* printSetupAction_ = nullptr;
    QAction* exitAction_ = nullptr;
    QAction* viewLogAction_ = nullptr;
    QAction* aboutAction_ = nullptr;
    QAction* browseHostAction_ = nullptr;
    QAction* toggleActiveState_ = nullptr;
    QAction* writeItemAction_ = nullptr;
    QAction* readItemAction_ = nullptr;
    QAction* addItemAction_ = nullptr;
    QAction* removeItemAction_ = nullptr;
    QAction* refreshAction_ = nullptr;
    QAction* changeDataTypeAction_ = nullptr;
    QAction* addFromFileAction_ = nullptr;

    // Panels 1 and 2.
    QSplitter* splitter_ = nullptr;
    QGroupBox* serverPanel_ = nullptr;
    QComboBox* hostEdit_ = nullptr;
    QPushButton* refreshButton_ = nullptr;
    QCheckBox* da1CheckBox_ = nullptr;
    QCheckBox* da2CheckBox_ = nullptr;
    QCheckBox* searchRegistryCheckBox_ = nullptr;
    QListWidget* serverListBox_ = nullptr;
    QLineEdit* serverNamePanel_ = nullptr;
    QLineEdit* clsidPanel_ = nullptr;
    QLineEdit* serverEdit_ = nullptr;
    QComboBox* serverCategorySelector_ = nullptr;
    QToolButton* connectServerButton_ = nullptr;
    QPlainTextEdit* statusList_ = nullptr;

    // Panels 3 and 4.
    QListWidget* groupList_ = nullptr;
    QPushButton* addGroupButton_ = nullptr;
    QPushButton* removeGroupButton_ = nullptr;
    QGroupBox* groupPanel_ = nullptr;
    QLineEdit* groupNameEdit_ = nullptr;
    QLineEdit* percentDeadbandEdit_ = nullptr;
    QLineEdit* timebiasEdit_ = nullptr;
    QCheckBox* localTimeCheckBox_ = nullptr;
    QLineEdit* updateRateEdit_ = nullptr;
    QLineEdit* changeRatePanel_ = nullptr;
    QCheckBox* activeCheckBox_ = nullptr;
    QCheckBox* asyncCheckBox_ = nullptr;
    QComboBox* dataSourceSelector_ = nullptr;
    QLineEdit* asyncRefreshIntervalEdit_ = nullptr;
    QLineEdit* clientHandlePanel_ = nullptr;
    QLineEdit* serverHandlePanel_ = nullptr;
    QPushButton* groupOkButton_ = nullptr;
    QPushButton* groupCancelButton_ = nullptr;

    // Panel 5 and the footer.
    QGroupBox* itemsPanel_ = nullptr;
    TItemGrid* itemGrid_ = nullptr;
    QLineEdit* itemIDEdit_ = nullptr;
    QToolButton* quickAddButton_ = nullptr;
    QLabel* itemCountLabel_ = nullptr;
    QLabel* linkLabel_ = nullptr;
    QLabel* footerLogo_ = nullptr;
    QLabel* footerMiddle_ = nullptr;
};

}  // namespace nv
