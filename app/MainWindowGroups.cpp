// The main window's panels 3 and 4: the group list, adding and removing groups, and the
// properties of the current group, applied by OK or, for the check boxes, the combo and Enter in
// a field, at once.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/ItemGrid.h"
#include "app/MainWindow.h"
#include "foundation/NvComponent.h"
#include "foundation/NvScopeExit.h"
#include "foundation/NvSysUtils.h"
#include "opc/NvOPCLog.h"
#include "foundation/ui/NvForm.h"
#include "foundation/ui/NvUIUtils.h"
#include "opc/NvOPCGroup.h"
#include "opc/NvOPCTransaction.h"

namespace nv {
namespace {

QLabel* Buddy(const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text);
    label->setBuddy(buddy);
    return label;
}

// A display-only field: its text can be selected and copied.
QLineEdit* DisplayField(const char* name) {
    auto* field = new QLineEdit;
    field->setObjectName(name);
    field->setReadOnly(true);
    field->setFocusPolicy(Qt::ClickFocus);
    return field;
}

QLineEdit* EditField(const char* name, const QString& text, const QString& hint) {
    auto* field = new QLineEdit(text);
    field->setObjectName(name);
    field->setToolTip(hint);
    return field;
}

QCheckBox* CheckBox(const char* name, const QString& text, bool checked, const QString& hint) {
    auto* box = new QCheckBox(text);
    box->setObjectName(name);
    box->setChecked(checked);
    box->setToolTip(hint);
    return box;
}

}  // namespace

QWidget* TForm1::BuildGroupsPanel() {
    auto* panel = new QGroupBox("3. Define the OPC Groups");
    panel->setObjectName("GroupsPanel");
    groupList_ = new QListWidget;
    groupList_->setObjectName("GroupList");
    groupList_->installEventFilter(this);
    connect(groupList_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem*) { RunCommand([this] { GroupListClick(); }); });
    connect(groupList_, &QListWidget::currentRowChanged, this, [this](int) {
        // Arrow keys move the selection as clicks do.
        if (groupList_->hasFocus())
            RunCommand([this] { GroupListClick(); });
    });
    addGroupButton_ = new QPushButton("&Add");
    addGroupButton_->setObjectName("AddGroupButton");
    addGroupButton_->setAutoDefault(false);
    connect(addGroupButton_, &QPushButton::clicked, this, [this] { RunCommand([this] { AddGroupButtonClick(); }); });
    removeGroupButton_ = new QPushButton("Remove");
    removeGroupButton_->setObjectName("RemoveGroupButton");
    removeGroupButton_->setAutoDefault(false);
    connect(removeGroupButton_, &QPushButton::clicked, this,
            [this] { RunCommand([this] { RemoveGroupButtonClick(); }); });
    auto* layout = new QHBoxLayout(panel);
    layout->addWidget(groupList_, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(addGroupButton_);
    buttons->addWidget(removeGroupButton_);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    return panel;
}

QWidget* TForm1::BuildGroupPropertiesPanel() {
    groupPanel_ = new QGroupBox("4. Set the properties of the OPC Group");
    groupPanel_->setObjectName("GroupPanel");
    groupNameEdit_ = EditField("GroupNameEdit", "Group", "Unique name for the group");
    percentDeadbandEdit_ = EditField(
        "PercentDeadbandEdit", "0",
        "Deadband for all items, defined as percentage over the range defined for each variable in the server.");
    timebiasEdit_ = EditField("TimebiasEdit", "120",
                              "Timezone difference of the timestamps, defined as minutes from UTC (=GMT)");
    timebiasEdit_->setEnabled(false);
    localTimeCheckBox_ = CheckBox("LocalTimeCheckBox", "&Local", true,
                                  "Request the server to convert timestamps to the server's system local time");
    updateRateEdit_ = EditField("UpdateRateEdit", "1000",
                                "Minimum interval between data changes from the server, defined in milliseconds.");
    changeRatePanel_ = DisplayField("ChangeRatePanel");
    changeRatePanel_->setToolTip("Actual interval between data changes from the server, in milliseconds.");
    changeRatePanel_->installEventFilter(this);
    activeCheckBox_ = CheckBox("Active", "Act&ive", true, "The group values are updated when the group is active.");
    asyncCheckBox_ = CheckBox("Async", "As&ync", false,
                              "Determines whether the group data is updated synchronously (by a timer) or "
                              "asynchronously (by server callbacks)");
    dataSourceSelector_ = new QComboBox;
    dataSourceSelector_->setObjectName("DataSourceSelector");
    dataSourceSelector_->setToolTip(
        "Data source defines where the server should fetch the values for synchronous read requests. Device "
        "defines that they should be read from the device whenever requested. Cache accepts latest values that "
        "the server has read.");
    asyncRefreshIntervalEdit_ = EditField(
        "AsyncRefreshIntervalEdit", "0",
        "Interval between complete refresh requests, to verify that the server is polling the devices all the time");
    clientHandlePanel_ = DisplayField("ClientHandlePanel");
    clientHandlePanel_->setToolTip("The ID used for the group in the client (internal communication detail)");
    serverHandlePanel_ = DisplayField("ServerHandlePanel");
    serverHandlePanel_->setToolTip("The ID used for the group in the server (internal communication detail)");
    groupOkButton_ = new QPushButton("&OK");
    groupOkButton_->setObjectName("GroupOkButton");
    groupOkButton_->setEnabled(false);
    groupCancelButton_ = new QPushButton("Cancel");
    groupCancelButton_->setObjectName("GroupCancelButton");
    groupCancelButton_->setEnabled(false);
    groupCancelButton_->setShortcut(QKeySequence(Qt::Key_Escape));

    for (QLineEdit* field :
         {groupNameEdit_, percentDeadbandEdit_, timebiasEdit_, updateRateEdit_, asyncRefreshIntervalEdit_}) {
        // Enter is handled by the window's key filter (the field's own action, or OK).
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this, [this] { RunCommand([this] { SetGroupEdited(true); }); });
    }
    connect(localTimeCheckBox_, &QCheckBox::clicked, this, [this] { RunCommand([this] { LocalTimeCheckBoxClick(); }); });
    connect(activeCheckBox_, &QCheckBox::clicked, this, [this] { RunCommand([this] { ActiveClick(); }); });
    connect(asyncCheckBox_, &QCheckBox::clicked, this, [this] { RunCommand([this] { AsyncClick(); }); });
    connect(dataSourceSelector_, &QComboBox::activated, this,
            [this](int index) { RunCommand([this, index] { DataSourceSelectorChange(index); }); });
    connect(groupOkButton_, &QPushButton::clicked, this, [this] { RunCommand([this] { GroupOkButtonClick(); }); });
    connect(groupCancelButton_, &QPushButton::clicked, this,
            [this] { RunCommand([this] { GroupCancelButtonClick(); }); });

    auto* grid = new QGridLayout(groupPanel_);
    int row = 0;
    grid->addWidget(Buddy("Group&Name", groupNameEdit_), row, 0);
    grid->addWidget(groupNameEdit_, row++, 1, 1, 2);
    grid->addWidget(Buddy("Percent&DeadBand", percentDeadbandEdit_), row, 0);
    grid->addWidget(percentDeadbandEdit_, row++, 1, 1, 2);
    grid->addWidget(Buddy("&TimeBias (min)", timebiasEdit_), row, 0);
    grid->addWidget(timebiasEdit_, row, 1);
    grid->addWidget(localTimeCheckBox_, row++, 2);
    grid->addWidget(Buddy("&UpdateRate (ms)", updateRateEdit_), row, 0);
    grid->addWidget(updateRateEdit_, row++, 1, 1, 2);
    grid->addWidget(new QLabel("ChangeRate (ms)"), row, 0);
    grid->addWidget(changeRatePanel_, row++, 1, 1, 2);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(activeCheckBox_);
    boxes->addWidget(asyncCheckBox_);
    boxes->addStretch(1);
    grid->addLayout(boxes, row++, 0, 1, 3);
    grid->addWidget(new QLabel("DataSource"), row, 0);
    grid->addWidget(dataSourceSelector_, row++, 1, 1, 2);
    grid->addWidget(Buddy("Async Refresh &Interval", asyncRefreshIntervalEdit_), row, 0);
    grid->addWidget(asyncRefreshIntervalEdit_, row++, 1, 1, 2);
    grid->addWidget(new QLabel("ClientHandle"), row, 0);
    grid->addWidget(clientHandlePanel_, row++, 1, 1, 2);
    grid->addWidget(new QLabel("ServerHandle"), row, 0);
    grid->addWidget(serverHandlePanel_, row++, 1, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(groupOkButton_);
    buttons->addWidget(groupCancelButton_);
    grid->addLayout(buttons, row++, 0, 1, 3);
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);
    groupPanel_->setVisible(false);
    return groupPanel_;
}

void TForm1::FillDataSourceSelector() {
    dataSourceSelector_->clear();
    dataSourceSelector_->addItems({"Cache", "Device"});
}

// ---- the group list

void TForm1::ServerChange() {
    if (destroying_)
        return;
    TNvOPCServer* server = GetServer();
    {
        QSignalBlocker block(groupList_);
        groupList_->clear();
        for (int i = 0; i < server->GroupCount(); ++i)
            groupList_->addItem(Qs(server->Groups(i)->GetGroupName()));
        groupList_->setCurrentRow(-1);
    }
    if (groupList_->count() == 0)
        SetCurrentGroup(nullptr);
    UpdateButtonStates();
}

void TForm1::GroupListClick() {
    const int row = groupList_->currentRow();
    QListWidgetItem* line = groupList_->currentItem();
    TNvOPCServer* server = GetServer();
    if (line && line->isSelected() && row >= 0 && row < server->GroupCount())
        SetCurrentGroup(dynamic_cast<TNvOPCGroup*>(server->Groups(row)));
    else
        SetCurrentGroup(nullptr);
    UpdateButtonStates();
}

void TForm1::BindGroupEvents(TNvOPCGroup* group, bool bind) {
    if (!bind) {
        group->OnDisconnect = nullptr;
        group->OnDataChange = nullptr;
        group->OnReadCompleted = nullptr;
        group->OnChangeRate = nullptr;
        group->OnTransactionError = nullptr;
        group->OnWriteCompleted = nullptr;
        return;
    }
    group->OnDisconnect = [this](TObject*) { RefreshItemGridData(); };
    group->OnDataChange = [this](TObject*, TNvOPCTransaction* transaction) { GroupDataChange(transaction); };
    group->OnReadCompleted = [this](TObject*, TNvOPCTransaction* transaction) { GroupDataChange(transaction); };
    group->OnChangeRate = [this](TObject*) { ChangeRatePanelClick(); };
    group->OnTransactionError = [this](TObject*, TNvOPCTransaction* transaction) { TransactionError(transaction); };
    group->OnWriteCompleted = [this](TObject*, TNvOPCTransaction* transaction) { WriteCompleted(transaction); };
}

void TForm1::SetCurrentGroup(TNvOPCGroup* group) {
    if (group == currentGroup_)
        return;
    if (currentGroup_)
        BindGroupEvents(currentGroup_, false);
    groupWatch_->Watch(group);
    currentGroup_ = group;
    selectedItems_.clear();
    // The grid lets go of the previous group at once: it may be destroyed right after this.
    itemGrid_->Model()->SetGroup(group);
    if (group)
        BindGroupEvents(group, true);
    GroupRefresh();
}

QString TForm1::FormatPercentDeadband(float value) const {
    return Qs(FloatToStr(static_cast<double>(value)));
}

void TForm1::GroupRefresh() {
    if (TNvOPCGroup* group = currentGroup_) {
        // Filling the fields is not an edit: the edited mark keeps its value, and the check
        // boxes and the combo apply nothing back.
        fillingGroupFields_ = true;
        ScopeExit done([this] { fillingGroupFields_ = false; });
        groupNameEdit_->setText(Qs(group->GetGroupName()));
        updateRateEdit_->setText(QString::number(group->UpdateRate()));
        localTimeCheckBox_->setChecked(group->LocalTimeBias());
        timebiasEdit_->setText(QString::number(group->TimeBias()));
        percentDeadbandEdit_->setText(FormatPercentDeadband(group->PercentDeadband()));
        changeRatePanel_->setText(QString::number(group->ChangeRate()));
        {
            QSignalBlocker block(dataSourceSelector_);
            dataSourceSelector_->setCurrentIndex(group->DataSource() == opcdsDevice ? 1 : 0);
        }
        asyncRefreshIntervalEdit_->setText(QString::number(group->AsyncRefreshInterval()));
        activeCheckBox_->setChecked(group->Active());
        asyncCheckBox_->setChecked(group->Async());
        clientHandlePanel_->setText(QString::number(group->ClientHandle()));
        serverHandlePanel_->setText(QString::number(group->ServerHandle()));
    }
    RefreshItemGridData();
    UpdateButtonStates();
}

// ---- adding and removing

void TForm1::AddGroupButtonClick() {
    auto group = std::make_unique<TNvOPCGroup>();
    group->SetGroupName(Ss(groupNameEdit_->text()));
    group->SetAcceptInvalidItems(true);
    group->SetActive(activeCheckBox_->isChecked());
    group->SetAsync(asyncCheckBox_->isChecked());
    // A field that does not convert raises here, before the group is attached: nothing is added.
    group->SetUpdateRate(static_cast<DWORD>(StrToInt(Ss(updateRateEdit_->text()))));
    group->SetLocalTimeBias(localTimeCheckBox_->isChecked());
    group->SetTimeBias(StrToInt(Ss(timebiasEdit_->text())));
    group->SetPercentDeadband(static_cast<float>(StrToFloat(Ss(percentDeadbandEdit_->text()))));
    TNvOPCGroup* added = group.get();
    // From here the server holds the group and destroys it with its groups.
    added->SetServer(GetServer());
    group.release();
    added->OnConfigChange = [this](TObject*) { ServerChange(); };
    const int index = GetServer()->IndexOfGroup(added);
    {
        QSignalBlocker block(groupList_);
        groupList_->setCurrentRow(index);
        if (QListWidgetItem* line = groupList_->item(index))
            line->setSelected(true);
    }
    GroupListClick();
    // The group may have become current while it was being attached, before the server had
    // connected it; the fields show it as it is now, with its server handle.
    GroupRefresh();
}

void TForm1::RemoveGroupButtonClick() {
    TNvOPCGroup* group = currentGroup_;
    if (!group)
        return;
    SetCurrentGroup(nullptr);
    // Destroying the group detaches it from the server, whose change notice refreshes the list.
    delete group;
    GroupListClick();
}

// ---- editing

void TForm1::SetGroupEdited(bool edited) {
    if (fillingGroupFields_ || groupEdited_ == edited)
        return;
    groupEdited_ = edited;
    UpdateButtonStates();
}

void TForm1::GroupOkButtonClick() {
    TNvOPCGroup* group = currentGroup_;
    if (!group)
        return;
    // Each field is applied in turn; one that does not convert raises there, and what was set
    // before it stays set (the edited mark too).
    group->SetGroupName(Ss(groupNameEdit_->text()));
    group->SetPercentDeadband(static_cast<float>(StrToFloat(Ss(percentDeadbandEdit_->text()))));
    group->SetTimeBias(StrToInt(Ss(timebiasEdit_->text())));
    group->SetUpdateRate(static_cast<DWORD>(StrToInt(Ss(updateRateEdit_->text()))));
    group->SetAsyncRefreshInterval(static_cast<unsigned>(StrToInt(Ss(asyncRefreshIntervalEdit_->text()))));
    groupEdited_ = false;
    // The server may have made the name unique; the fields show what the group now holds.
    GroupRefresh();
}

void TForm1::GroupCancelButtonClick() {
    groupEdited_ = false;
    GroupRefresh();
    UpdateButtonStates();
}

bool TForm1::GroupFieldEnter(QLineEdit* field) {
    const bool ownAction = field == percentDeadbandEdit_ || field == timebiasEdit_ || field == updateRateEdit_ ||
                           field == asyncRefreshIntervalEdit_;
    if (!ownAction && field != groupNameEdit_)
        return false;
    TNvOPCGroup* group = currentGroup_;
    if (!group)
        return true;
    RunCommand([this, group, field] {
        if (field == groupNameEdit_) {
            // The name field has no action of its own: Enter there presses OK, the panel's
            // default button.
            if (groupEdited_)
                GroupOkButtonClick();
        } else if (field == percentDeadbandEdit_)
            group->SetPercentDeadband(static_cast<float>(StrToFloat(Ss(field->text()))));
        else if (field == timebiasEdit_)
            group->SetTimeBias(StrToInt(Ss(field->text())));
        else if (field == updateRateEdit_ || field == asyncRefreshIntervalEdit_)
            // Both fields set the update rate: the interval itself is applied by OK.
            group->SetUpdateRate(static_cast<DWORD>(StrToInt(Ss(updateRateEdit_->text()))));
    });
    return true;
}

void TForm1::ActiveClick() {
    if (currentGroup_ && !fillingGroupFields_)
        currentGroup_->SetActive(activeCheckBox_->isChecked());
    UpdateButtonStates();
}

void TForm1::AsyncClick() {
    if (currentGroup_ && !fillingGroupFields_)
        currentGroup_->SetAsync(asyncCheckBox_->isChecked());
    UpdateButtonStates();
}

void TForm1::LocalTimeCheckBoxClick() {
    if (currentGroup_ && !fillingGroupFields_)
        currentGroup_->SetLocalTimeBias(localTimeCheckBox_->isChecked());
    UpdateButtonStates();
}

void TForm1::DataSourceSelectorChange(int index) {
    if (currentGroup_ && index >= 0)
        currentGroup_->SetDataSource(index == 1 ? opcdsDevice : opcdsCache);
}

void TForm1::ChangeRatePanelClick() {
    if (currentGroup_)
        changeRatePanel_->setText(QString::number(currentGroup_->ChangeRate()));
}

// ---- the current group's events

void TForm1::GroupDataChange(TNvOPCTransaction* transaction) {
    // Only the rows of the items the transaction touched are drawn again.
    itemGrid_->Model()->RefreshRows(transaction);
    ItemGridTopLeftChanged();
}

void TForm1::TransactionError(TNvOPCTransaction* transaction) {
    GroupRefresh();
    RefreshItemGridData();
    ShowMessageBox(transaction->AsString(GetServer()->Log()->DateTimeFormat(), false));
}

void TForm1::WriteCompleted(TNvOPCTransaction* transaction) {
    if (transaction->ResultCode() != S_OK)
        ShowMessageBox(transaction->AsString(GetServer()->Log()->DateTimeFormat(), true));
}

}  // namespace nv
