// The main window's panel 5: the item grid, Quick Add and the item commands; and the remaining
// menu commands: print, print set-up, the address space export, the log window and About.
#include <QAction>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/AboutForm.h"
#include "app/ItemGrid.h"
#include "app/MainWindow.h"
#include "app/NvOPCLogForm.h"
#include "app/PromptDataTypeDlg.h"
#include "app/SelectItemsDlg.h"
#include "discovery/NvOPCAddressSpace.h"
#include "discovery/ui/NvOPCAddressSpaceBrowser.h"
#include "foundation/NvConvert.h"
#include "foundation/NvExceptions.h"
#include "foundation/NvScopeExit.h"
#include "foundation/NvSysUtils.h"
#include "foundation/ui/NvForm.h"
#include "foundation/ui/NvUIUtils.h"
#include "opc/NvOPCGroup.h"
#include "opc/NvOPCItem.h"
#include "opc/NvOPCTransaction.h"
#include "platform/NvWide.h"

namespace nv {

std::string QuickAddItemID(const std::string& text) {
    if (text.size() < 2 || text.front() != '"')
        return text;
    std::string id;
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] != '"') {
            id += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '"') {
            id += '"';
            ++i;
            continue;
        }
        // The closing quote: what follows it is dropped; an empty pair is taken as typed.
        return id.empty() && i == 1 ? text : id;
    }
    // Never closed: the text as typed.
    return text;
}

namespace {

// Clears the variant when it goes out of scope.
struct VariantHolder {
    VARIANT value;
    VariantHolder() { VariantInit(&value); }
    ~VariantHolder() { VariantClear(&value); }
    VariantHolder(const VariantHolder&) = delete;
    VariantHolder& operator=(const VariantHolder&) = delete;
};

}  // namespace

QWidget* TForm1::BuildItemsPanel() {
    itemsPanel_ = new QGroupBox("5. Define the OPC Items for the Group");
    itemsPanel_->setObjectName("ItemsPanel");
    auto* bar = new QToolBar;
    bar->setObjectName("ItemToolBar");
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->setIconSize(QSize(16, 16));
    bar->addAction(addItemAction_);
    if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(addItemAction_)))
        button->setText("Add Ite&m");
    bar->addAction(addFromFileAction_);
    bar->addAction(removeItemAction_);
    bar->addAction(refreshAction_);
    bar->addSeparator();
    itemIDEdit_ = new QLineEdit;
    itemIDEdit_->setObjectName("ItemIDEdit");
    itemIDEdit_->setToolTip("Type an item ID and press Enter to add it to the group");
    itemIDEdit_->setMinimumWidth(FontScaled(this, 160));
    itemIDEdit_->installEventFilter(this);
    connect(itemIDEdit_, &QLineEdit::textChanged, this, [this] { RunCommand([this] { UpdateButtonStates(); }); });
    auto* quickLabel = new QLabel("&Quick Add: ");
    quickLabel->setBuddy(itemIDEdit_);
    bar->addWidget(quickLabel);
    bar->addWidget(itemIDEdit_);
    quickAddButton_ = new QToolButton;
    quickAddButton_->setObjectName("QuickAddButton");
    quickAddButton_->setIcon(style()->standardIcon(QStyle::SP_ArrowRight));
    quickAddButton_->setToolTip("Add the item");
    connect(quickAddButton_, &QToolButton::clicked, this, [this] { RunCommand([this] { QuickAddButtonClick(); }); });
    bar->addWidget(quickAddButton_);
    bar->addSeparator();
    itemCountLabel_ = new QLabel("0 Items");
    itemCountLabel_->setObjectName("ItemCountLabel");
    bar->addWidget(itemCountLabel_);

    itemGrid_ = new TItemGrid;
    itemGrid_->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* separator = new QAction(itemGrid_);
    separator->setSeparator(true);
    for (QAction* a : {toggleActiveState_, addItemAction_, removeItemAction_, changeDataTypeAction_, separator,
                       refreshAction_, readItemAction_, writeItemAction_})
        itemGrid_->addAction(a);
    itemGrid_->setMouseTracking(true);
    itemGrid_->viewport()->installEventFilter(this);
    connect(itemGrid_, &TItemGrid::SelectionRuleNeeded, this, [this] { RunCommand([this] { ItemGridTopLeftChanged(); }); });
    connect(itemGrid_, &TItemGrid::InsertPressed, this, [this] { addItemAction_->trigger(); });
    connect(itemGrid_, &TItemGrid::DeletePressed, this, [this] { removeItemAction_->trigger(); });
    connect(itemGrid_, &TItemGrid::MouseReleased, this,
            [this] { RunCommand([this] { StoreItemGridConfiguration(); }); });

    auto* layout = new QVBoxLayout(itemsPanel_);
    layout->addWidget(bar);
    layout->addWidget(itemGrid_, 1);
    itemsPanel_->setVisible(false);
    return itemsPanel_;
}

void TForm1::InitItemGrid() {
    itemGrid_->Model()->SetGroup(nullptr);
    for (int column = 0; column < TItemGridModel::ColCount; ++column)
        itemGrid_->SetColumnWidth(column, configuration_->GetGridColWidths(column));
}

// ---- the grid

void TForm1::RefreshItemGridData() {
    if (destroying_)
        return;
    TItemGridModel* model = itemGrid_->Model();
    if (model->Group() != currentGroup_)
        model->SetGroup(currentGroup_);
    else
        model->Refresh();
    const int count = currentGroup_ ? currentGroup_->ItemCount() : 0;
    // No singular form: one item shows as "1 Items".
    itemCountLabel_->setText(count > 0 ? Qs(Format("%d Items", count)) : QString("No Items"));
    ItemGridTopLeftChanged();
}

void TForm1::UpdateSelectedItems() {
    selectedItems_.clear();
    if (!currentGroup_ || currentGroup_->ItemCount() == 0)
        return;
    for (int row : itemGrid_->SelectedRows())
        if (row < currentGroup_->ItemCount())
            selectedItems_.push_back(currentGroup_->Items(row));
}

void TForm1::ItemGridTopLeftChanged() {
    if (destroying_)
        return;
    UpdateSelectedItems();
    const bool any = !selectedItems_.empty();
    for (QAction* a : {toggleActiveState_, writeItemAction_, readItemAction_, addItemAction_, removeItemAction_,
                       refreshAction_, changeDataTypeAction_, addFromFileAction_})
        a->setEnabled(any);
    addItemAction_->setEnabled(currentGroup_ != nullptr);
    addFromFileAction_->setEnabled(currentGroup_ != nullptr);
}

void TForm1::RefreshItemGridConfiguration() {
    for (int column = 0; column < TItemGridModel::ColCount; ++column) {
        const int width = configuration_->GetGridColWidths(column);
        if (itemGrid_->ColumnWidth(column) != width)
            itemGrid_->SetColumnWidth(column, width);
    }
}

void TForm1::StoreItemGridConfiguration() {
    const bool wasModified = configuration_->Modified();
    for (int column = 0; column < TItemGridModel::ColCount; ++column)
        configuration_->SetGridColWidths(column, itemGrid_->ColumnWidth(column));
    if (configuration_->Modified() != wasModified)
        UpdateButtonStates();
}

void TForm1::MarkModified() {
    configuration_->SetModified(true);
    UpdateButtonStates();
}

// ---- adding and removing items

void TForm1::AddItemIDs(const std::vector<std::string>& itemIDs) {
    if (!currentGroup_)
        return;
    ScopeExit refresh([this] {
        RefreshItemGridData();
        MarkModified();
    });
    currentGroup_->AddItems(itemIDs);
}

void TForm1::QuickAddButtonClick() {
    TNvOPCGroup* group = currentGroup_;
    if (!group || itemIDEdit_->text().isEmpty())
        return;
    ScopeExit refresh([this] {
        MarkModified();
        RefreshItemGridData();
        UpdateButtonStates();
    });
    TNvOPCItem* item = group->AddItem(QuickAddItemID(Ss(itemIDEdit_->text())));
    item->SetActive(true);
    item->Connect();
}

void TForm1::AddItemActionExecute() {
    if (!currentGroup_)
        return;
    ScopeExit update([this] { UpdateButtonStates(); });
    browser_->SetServer(currentGroup_->Server());
    if (!browser_->Execute() || !currentGroup_)
        return;
    const TNvStringList* chosen = browser_->GetSelectedItems();
    std::vector<std::string> ids;
    for (int i = 0; i < chosen->Count(); ++i)
        ids.push_back(chosen->Strings(i));
    AddItemIDs(ids);
}

void TForm1::AddFromFileActionExecute() {
    if (!currentGroup_)
        return;
    QFileDialog dialog(this, "Add From File");
    dialog.setObjectName("ItemFileDialog");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    const QString file = ExecFileDialog(dialog, {});
    if (file.isEmpty())
        return;
    TSelectItemsDlg select(this);
    select.setWindowTitle("Select Items to Add");
    select.LoadFile(Ss(file));
    if (select.Execute() && currentGroup_)
        AddItemIDs(select.Items());
}

void TForm1::RemoveItemActionExecute() {
    TNvOPCGroup* group = currentGroup_;
    if (!group)
        return;
    // The selection is taken first: removing an item renumbers the rows below it.
    const std::vector<TNvOPCItem*> selected = selectedItems_;
    selectedItems_.clear();
    ScopeExit refresh([this] {
        RefreshItemGridData();
        MarkModified();
    });
    for (TNvOPCItem* item : selected) {
        const int index = group->IndexOfItem(item);
        if (index >= 0)
            group->RemoveItem(index);
    }
}

// ---- item commands

void TForm1::ToggleActiveStateExecute() {
    ScopeExit refresh([this] { RefreshItemGridData(); });
    for (TNvOPCItem* item : selectedItems_)
        item->SetActive(!item->GetActive());
}

void TForm1::ReadItemActionExecute() {
    TNvOPCGroup* group = currentGroup_;
    if (!group || selectedItems_.empty())
        return;
    TNvOPCTransaction* transaction = group->StartTransaction(tkRead);
    try {
        for (TNvOPCItem* item : selectedItems_)
            transaction->Add(item);
        transaction->Commit(group->Async());
    } catch (...) {
        // A failed read leaves its record in the transaction log; the window shows nothing.
        transaction->Rollback();
    }
}

void TForm1::WriteItemActionExecute() {
    TNvOPCGroup* group = currentGroup_;
    TNvOPCItem* item = FirstSelectedItem();
    if (!group || !item)
        return;
    QInputDialog input(this);
    input.setObjectName("WriteDialog");
    input.setWindowTitle(Qs("Writing to OPC Item: " + item->GetItemID()));
    input.setLabelText("Value");
    input.setTextValue("");
    input.setInputMode(QInputDialog::TextInput);
    if (input.exec() != QDialog::Accepted || currentGroup_ != group || group->IndexOfItem(item) < 0)
        return;
    VariantHolder text;
    text.value.vt = VT_BSTR;
    const auto wide = ToWide(Ss(input.textValue()));
    text.value.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    const VARTYPE type = item->GetDataType();
    if (type == VT_EMPTY) {
        group->WriteItem(item, text.value, true, group->Async());
        return;
    }
    // A text that does not convert to the item's type raises here, before anything is written.
    VariantHolder value;
    value.value = ChangeVariantType(text.value, type);
    group->WriteItem(item, value.value, true, group->Async());
}

void TForm1::RefreshActionExecute() {
    if (currentGroup_)
        currentGroup_->Refresh();
}

void TForm1::ChangeDataTypeActionExecute() {
    TNvOPCItem* first = FirstSelectedItem();
    if (!first)
        return;
    TPromptDataTypeDlg dialog(this);
    dialog.setWindowTitle("Item Data Type");
    dialog.SetDataType(first->GetDataType());
    ScopeExit refresh([this] { RefreshItemGridData(); });
    if (!dialog.Execute())
        return;
    const VARTYPE type = dialog.DataType();
    for (TNvOPCItem* item : selectedItems_)
        item->SetDataType(type);
}

// ---- export, print, log, About

void TForm1::SaveServerAddressSpace1Click() {
    QFileDialog dialog(this, "Export Server Address Space");
    dialog.setObjectName("ExportDialog");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({"Text Files (*.txt)", "AllFiles (*.*)"});
    dialog.setDefaultSuffix("txt");
    const QString file = ExecFileDialog(dialog, {});
    if (file.isEmpty())
        return;
    BeginBusyCursor();
    ScopeExit end([this] {
        EndBusyCursor();
        UpdateButtonStates();
    });
    TNvOPCServer* server = GetServer();
    const bool wasConnected = server->Connected();
    if (!wasConnected)
        server->Connect();
    // A failure leaves the connection open, so the user can look at the server that failed.
    server->AddressSpace()->SaveToFile(Ss(file));
    if (!wasConnected)
        server->Disconnect();
}

QPrinter* TForm1::Printer() {
    if (!printer_)
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return printer_.get();
}

void TForm1::PrintTo(QPrinter& printer) {
    const QPixmap picture = grab();
    QPainter painter;
    if (!painter.begin(&printer))
        throw EFCreateError(Format("Cannot print on %s.",
                                 printer.outputFileName().isEmpty() ? Ss(printer.printerName())
                                                                    : Ss(printer.outputFileName())));
    const QRect page = painter.viewport();
    QSize size = picture.size();
    size.scale(page.size(), Qt::KeepAspectRatio);
    painter.setViewport(page.x(), page.y(), size.width(), size.height());
    painter.setWindow(picture.rect());
    painter.drawPixmap(0, 0, picture);
    painter.end();
}

void TForm1::Print1Click() {
    QPrintDialog dialog(Printer(), this);
    dialog.setObjectName("PrintDialog");
    if (dialog.exec() != QDialog::Accepted)
        return;
    BeginBusyCursor();
    ScopeExit end([] { EndBusyCursor(); });
    PrintTo(*Printer());
}

void TForm1::PrintSetup1Click() {
    QPageSetupDialog dialog(Printer(), this);
    dialog.setObjectName("PrintSetupDialog");
    dialog.exec();
}

void TForm1::ViewLogActionExecute() {
    ShowOPCLog(GetServer());
}

void TForm1::About1Click() {
    ShowAboutBox(0);
}

}  // namespace nv
