// The main window: construction and layout, panels 1 and 2 (host, servers, connection, status),
// the rule that enables every control, the title, the window's own settings and the
// configuration file commands.
#include "app/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShowEvent>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/AboutForm.h"
#include "app/ItemGrid.h"
#include "app/NvOPCLogForm.h"
#include "discovery/ui/NvOPCAddressSpaceBrowser.h"
#include "foundation/NvComponent.h"
#include "foundation/NvConvert.h"
#include "foundation/NvHostNames.h"
#include "foundation/NvScopeExit.h"
#include "foundation/NvSysUtils.h"
#include "foundation/ui/NvForm.h"
#include "foundation/ui/NvUIUtils.h"
#include "opc/NvOPCError.h"
#include "platform/NvWide.h"

namespace nv {
namespace {

std::string settingsFile;

std::unique_ptr<QSettings> WindowSettings() {
    if (!settingsFile.empty())
        return std::make_unique<QSettings>(Qs(settingsFile), QSettings::IniFormat);
    return std::make_unique<QSettings>("Norvane", TForm1::kTitle);
}

// Restores the cursor however the command ends; an exception goes on to the error box.
struct BusyCursor {
    BusyCursor() { BeginBusyCursor(); }
    ~BusyCursor() { EndBusyCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// The host combo fills its list when it drops down; a choice from that list, unlike typing,
// asks for a refresh.
class THostCombo : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> OnDropDown;
    // True while a choice from the list is being reported: the combo also reports "activated"
    // when focus leaves a typed text that matches an entry, which is no request to refresh.
    bool ChoosingFromList() const { return choosing_; }
    void showPopup() override {
        if (OnDropDown)
            OnDropDown();
        QComboBox::showPopup();
    }
    void hidePopup() override {
        QComboBox::hidePopup();
        // The list reports its choice right after closing, in the same call.
        choosing_ = true;
        QTimer::singleShot(0, this, [this] { choosing_ = false; });
    }

private:
    bool choosing_ = false;
};

QLabel* Buddy(const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text);
    label->setBuddy(buddy);
    return label;
}

// A thin coloured bar of the window's frame.
QFrame* Bar(const QColor& colour, int height) {
    auto* bar = new QFrame;
    bar->setFixedHeight(height);
    bar->setAutoFillBackground(true);
    QPalette palette = bar->palette();
    palette.setColor(QPalette::Window, colour);
    bar->setPalette(palette);
    return bar;
}

const QColor kMaroon(0x80, 0x00, 0x00);
const QColor kNavy(0x00, 0x00, 0x80);

}  // namespace

void TForm1::CurrentGroupDestroyed() {
    currentGroup_ = nullptr;
    selectedItems_.clear();
}

void TForm1::SetSettingsFile(const std::string& path) {
    settingsFile = path;
}

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    setObjectName("Form1");
    groupWatch_ = std::make_unique<TNvComponentWatch>([this] { CurrentGroupDestroyed(); });
    configuration_ = std::make_unique<TConfiguration>();
    configuration_->SetAcceptInvalidItems(true);
    configuration_->OnServerChange = [this](TObject*) { ServerChange(); };
    GetServer()->OnStatusChange = [this](TObject*) { ServerStatusChange(); };
    GetServer()->SetStatusInterval(10000);
    // A window of its own rather than a child: its controls must not be found among the main
    // window's (both have an "ItemIDEdit").
    browser_ = new TNvOPCAddressSpaceBrowser;
    browser_->setObjectName("Browser");

    CreateActions();
    CreateMenus();
    CreateToolBar();
    auto* central = new QWidget(this);
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto* top = new QWidget;
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->setSpacing(0);
    topLayout->addWidget(Bar(kMaroon, 3));
    auto* band = new QWidget;
    band->setObjectName("TopPanel");
    band->setMouseTracking(true);
    band->installEventFilter(this);
    auto* bandLayout = new QHBoxLayout(band);
    bandLayout->setContentsMargins(4, 4, 4, 4);
    bandLayout->addWidget(BuildServerPanel(), 4);
    auto* middle = new QVBoxLayout;
    // The status needs its eight lines; the group list scrolls.
    middle->addWidget(BuildConnectPanel(), 2);
    middle->addWidget(BuildGroupsPanel(), 1);
    bandLayout->addLayout(middle, 5);
    bandLayout->addWidget(BuildGroupPropertiesPanel(), 4);
    topLayout->addWidget(band, 1);
    topLayout->addWidget(Bar(kMaroon, 3));

    splitter_ = new QSplitter(Qt::Vertical);
    splitter_->setObjectName("Splitter");
    splitter_->setChildrenCollapsible(false);
    splitter_->addWidget(top);
    splitter_->addWidget(BuildItemsPanel());
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    outer->addWidget(splitter_, 1);
    outer->addWidget(BuildFooter());
    setCentralWidget(central);
    setMouseTracking(true);
    central->setMouseTracking(true);
    central->installEventFilter(this);

    InitItemGrid();
    FillDataSourceSelector();
    FillCategorySelector();
    hostEdit_->insertItem(0, "localhost");
    hostEdit_->setCurrentIndex(-1);
    resize(FontScaled(this, 850, 627));
    splitter_->setSizes({FontScaled(this, 330), FontScaled(this, 220)});
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    RestoreWindowState();
    UpdateButtonStates();
}

TForm1::~TForm1() {
    destroying_ = true;
    // The current group dies with the configuration; the window lets go of it first.
    if (currentGroup_)
        BindGroupEvents(currentGroup_, false);
    groupWatch_->Watch(nullptr);
    currentGroup_ = nullptr;
    selectedItems_.clear();
    if (itemGrid_)
        itemGrid_->Model()->SetGroup(nullptr);
    delete browser_;
    browser_ = nullptr;
    if (OPCLogForm() && OPCLogForm()->Server() == GetServer())
        OPCLogForm()->SetServer(nullptr);
    configuration_.reset();
    serverList_.reset();
}

// ---- layout

void TForm1::CreateActions() {
    auto action = [this](QAction*& slot, const char* name, const QString& text, void (TForm1::*handler)(),
                         const QKeySequence& shortcut = {}, const QString& hint = {}) {
        slot = new QAction(text, this);
        slot->setObjectName(name);
        if (!shortcut.isEmpty())
            slot->setShortcut(shortcut);
        if (!hint.isEmpty()) {
            slot->setToolTip(hint);
            slot->setStatusTip(hint);
        }
        connect(slot, &QAction::triggered, this, [this, handler] { RunCommand([this, handler] { (this->*handler)(); }); });
    };
    QStyle* s = style();
    action(newAction_, "New1", "&New", &TForm1::New1Click, QKeySequence("Ctrl+N"),
           "Create a new server connection. The current connection is closed.");
    newAction_->setIcon(s->standardIcon(QStyle::SP_FileIcon));
    action(openAction_, "Open1", "&Open...", &TForm1::Open1Click, QKeySequence("Ctrl+O"), "Open a saved configuration.");
    openAction_->setIcon(s->standardIcon(QStyle::SP_DialogOpenButton));
    action(saveAction_, "Save1", "&Save", &TForm1::Save1Click, QKeySequence("Ctrl+S"), "Save the current configuration");
    saveAction_->setIcon(s->standardIcon(QStyle::SP_DialogSaveButton));
    action(saveAsAction_, "SaveAs1", "Save &As...", &TForm1::SaveAs1Click, {},
           "Save the current configuration to a new file.");
    action(exportAction_, "SaveServerAddressSpace1", "&Export Server Address Space...",
           &TForm1::SaveServerAddressSpace1Click);
    action(printAction_, "Print1", "&Print...", &TForm1::Print1Click, QKeySequence("Ctrl+P"));
    action(printSetupAction_, "PrintSetup1", "P&rint Setup...", &TForm1::PrintSetup1Click);
    exitAction_ = new QAction("E&xit", this);
    exitAction_->setObjectName("Exit1");
    // Exit only asks the window to close, so it runs the same question as the close button.
    connect(exitAction_, &QAction::triggered, this, &QWidget::close);
    action(viewLogAction_, "ViewLogAction", "&Log...", &TForm1::ViewLogActionExecute, QKeySequence("Ctrl+L"),
           "Open the transaction log window. Switch on \"Record Transaction Log\" there first to record the OPC "
           "calls.");
    viewLogAction_->setIcon(s->standardIcon(QStyle::SP_FileDialogDetailedView));
    action(aboutAction_, "About1", "&About...", &TForm1::About1Click);

    // The item grid's actions, in the order of its action list.
    action(toggleActiveState_, "ToggleActiveState", "Toggle &Active", &TForm1::ToggleActiveStateExecute);
    action(writeItemAction_, "WriteItemAction", "&Write...", &TForm1::WriteItemActionExecute);
    action(readItemAction_, "ReadItemAction", "R&ead Item(s)", &TForm1::ReadItemActionExecute);
    action(addItemAction_, "AddItemAction", "Add &Item(s)...", &TForm1::AddItemActionExecute, {},
           "Open the address space browser for Item selection.");
    addItemAction_->setIcon(s->standardIcon(QStyle::SP_FileDialogNewFolder));
    action(removeItemAction_, "RemoveItemAction", "Remo&ve Item(s)", &TForm1::RemoveItemActionExecute, {},
           "Remove the selected item(s) from the group.");
    removeItemAction_->setIcon(s->standardIcon(QStyle::SP_TrashIcon));
    action(refreshAction_, "RefreshAction", "&Refresh", &TForm1::RefreshActionExecute, {},
           "Request a refresh to the item values from the server.");
    refreshAction_->setIcon(s->standardIcon(QStyle::SP_BrowserReload));
    action(changeDataTypeAction_, "ChangeDataTypeAction", "Change &Data Type...",
           &TForm1::ChangeDataTypeActionExecute, {}, "Change the requested data type of the selected item(s).");
    action(addFromFileAction_, "AddFromFileAction", "Add From &File...", &TForm1::AddFromFileActionExecute);
    addFromFileAction_->setIcon(s->standardIcon(QStyle::SP_DialogOpenButton));
}

void TForm1::CreateMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("FileMenu");
    file->addAction(newAction_);
    file->addAction(openAction_);
    file->addAction(saveAction_);
    file->addAction(saveAsAction_);
    file->addSeparator();
    file->addAction(exportAction_);
    file->addSeparator();
    file->addAction(printAction_);
    file->addAction(printSetupAction_);
    file->addSeparator();
    file->addAction(exitAction_);
    QMenu* view = menuBar()->addMenu("&View");
    view->setObjectName("ViewMenu");
    view->addAction(viewLogAction_);
    QMenu* help = menuBar()->addMenu("&Help");
    help->setObjectName("HelpMenu");
    help->addAction(aboutAction_);
}

void TForm1::CreateToolBar() {
    QToolBar* bar = addToolBar("Main");
    bar->setObjectName("ToolBar1");
    bar->setMovable(false);
    bar->addAction(newAction_);
    bar->addAction(openAction_);
    bar->addAction(saveAction_);
    bar->addSeparator();
    bar->addAction(viewLogAction_);
}

QWidget* TForm1::BuildServerPanel() {
    serverPanel_ = new QGroupBox("1. Select the OPC Server");
    serverPanel_->setObjectName("ServerSelectPanel");
    auto* host = new THostCombo;
    host->OnDropDown = [this] { RunCommand([this] { FillHostList(); }); };
    hostEdit_ = host;
    hostEdit_->setObjectName("HostEdit");
    hostEdit_->setEditable(true);
    hostEdit_->setInsertPolicy(QComboBox::NoInsert);
    hostEdit_->setCompleter(nullptr);
    hostEdit_->lineEdit()->installEventFilter(this);
    // A host chosen from the drop-down list is refreshed at once; typing waits for Enter.
    connect(hostEdit_, &QComboBox::activated, this, [this, host](int) {
        if (host->ChoosingFromList())
            RunCommand([this] { RefreshButtonClick(); });
    });

    browseHostAction_ = new QAction("...", this);
    browseHostAction_->setObjectName("BrowseHostAction");
    browseHostAction_->setToolTip("Select host");
    // The computers of the network are those the host list finds; "..." opens that list.
    connect(browseHostAction_, &QAction::triggered, this, [this] { hostEdit_->showPopup(); });
    auto* browseButton = new QToolButton;
    browseButton->setObjectName("BrowseButton");
    browseButton->setDefaultAction(browseHostAction_);
    refreshButton_ = new QPushButton("Re&fresh");
    refreshButton_->setObjectName("RefreshButton");
    connect(refreshButton_, &QPushButton::clicked, this, [this] { RunCommand([this] { RefreshButtonClick(); }); });

    da1CheckBox_ = new QCheckBox("&1.0a");
    da1CheckBox_->setObjectName("DA1CheckBox");
    da1CheckBox_->setChecked(true);
    da1CheckBox_->setToolTip("Include OPC Data Access 1.0 servers (Press Refresh to update)");
    da2CheckBox_ = new QCheckBox("&2.0");
    da2CheckBox_->setObjectName("DA2CheckBox");
    da2CheckBox_->setChecked(true);
    da2CheckBox_->setToolTip("Include OPC Data Access 2.0 servers (Press Refresh to update)");
    searchRegistryCheckBox_ = new QCheckBox("&Registry");
    searchRegistryCheckBox_->setObjectName("SearchRegistryCheckBox");
    searchRegistryCheckBox_->setToolTip(
        "Search servers from the registry; required if the OPCEnum service is not available. This may take a while "
        "for remote servers. (Press Refresh after selecting)");

    serverListBox_ = new QListWidget;
    serverListBox_->setObjectName("ServerList");
    serverListBox_->setSortingEnabled(true);
    connect(serverListBox_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem*) { RunCommand([this] { ServerListClick(); }); });
    connect(serverListBox_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem*) { RunCommand([this] { ServerListClick(); }); });

    serverNamePanel_ = new QLineEdit;
    serverNamePanel_->setObjectName("ServerNamePanel");
    clsidPanel_ = new QLineEdit;
    clsidPanel_->setObjectName("CLSIDPanel");
    // The fields can be selected and copied but not changed: read-only refuses typing, paste,
    // cut and delete alike.
    for (QLineEdit* field : {serverNamePanel_, clsidPanel_}) {
        field->setReadOnly(true);
        field->setFocusPolicy(Qt::ClickFocus);
    }

    auto* grid = new QGridLayout(serverPanel_);
    grid->addWidget(Buddy("&Host", hostEdit_), 0, 0);
    grid->addWidget(hostEdit_, 0, 1, 1, 3);
    grid->addWidget(browseButton, 0, 4);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(refreshButton_);
    boxes->addWidget(da1CheckBox_);
    boxes->addWidget(da2CheckBox_);
    boxes->addWidget(searchRegistryCheckBox_);
    boxes->addStretch(1);
    grid->addLayout(boxes, 1, 0, 1, 5);
    grid->addWidget(Buddy("S&ervers", serverListBox_), 2, 0, 1, 5);
    grid->addWidget(serverListBox_, 3, 0, 1, 5);
    grid->addWidget(new QLabel("Name"), 4, 0);
    grid->addWidget(serverNamePanel_, 4, 1, 1, 4);
    grid->addWidget(new QLabel("CLSID"), 5, 0);
    grid->addWidget(clsidPanel_, 5, 1, 1, 4);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(1, 1);
    return serverPanel_;
}

QWidget* TForm1::BuildConnectPanel() {
    auto* panel = new QGroupBox("2. Connect to the Server");
    panel->setObjectName("ConnectPanel");
    serverEdit_ = new QLineEdit;
    serverEdit_->setObjectName("ServerEdit");
    serverEdit_->setToolTip("Enter the ProgID or CLSID of the server you want to connect to");
    connect(serverEdit_, &QLineEdit::textChanged, this, [this] { RunCommand([this] { ServerEditChange(); }); });
    serverCategorySelector_ = new QComboBox;
    serverCategorySelector_->setObjectName("ServerCategorySelector");
    connect(serverCategorySelector_, &QComboBox::activated, this,
            [this](int index) { RunCommand([this, index] { ServerCategorySelectorChange(index); }); });
    connectServerButton_ = new QToolButton;
    connectServerButton_->setObjectName("ConnectServerButton");
    connectServerButton_->setText("&Connect");
    connectServerButton_->setCheckable(true);
    connectServerButton_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    connectServerButton_->setMinimumWidth(FontScaled(this, 75));
    // The toggle shows the real connection state, which UpdateButtonStates sets after the command.
    connect(connectServerButton_, &QToolButton::clicked, this,
            [this] { RunCommand([this] { ConnectServerButtonClick(); }); });
    statusList_ = new QPlainTextEdit;
    statusList_->setObjectName("StatusList");
    statusList_->setReadOnly(true);
    statusList_->setLineWrapMode(QPlainTextEdit::NoWrap);

    auto* grid = new QGridLayout(panel);
    grid->addWidget(Buddy("&Server", serverEdit_), 0, 0);
    grid->addWidget(serverEdit_, 0, 1, 1, 2);
    grid->addWidget(new QLabel("Category"), 1, 0);
    grid->addWidget(serverCategorySelector_, 1, 1);
    grid->addWidget(connectServerButton_, 1, 2);
    grid->addWidget(new QLabel("ServerStatus"), 2, 0, 1, 3);
    grid->addWidget(statusList_, 3, 0, 1, 3);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(1, 1);
    return panel;
}

QWidget* TForm1::BuildFooter() {
    auto* footer = new QWidget;
    footer->setObjectName("FooterPanel");
    footer->setAutoFillBackground(true);
    QPalette palette = footer->palette();
    palette.setColor(QPalette::Window, kNavy);
    palette.setColor(QPalette::WindowText, Qt::white);
    footer->setPalette(palette);
    auto* layout = new QHBoxLayout(footer);
    layout->setContentsMargins(6, 2, 6, 2);
    footerLogo_ = new QLabel;
    footerLogo_->setObjectName("FooterLogo");
    footerLogo_->setPixmap(ProgramLogo(20, devicePixelRatioF()));
    footerLogo_->setCursor(Qt::PointingHandCursor);
    footerLogo_->installEventFilter(this);
    footerMiddle_ = new QLabel(kTitle);
    footerMiddle_->setObjectName("FooterMiddle");
    footerMiddle_->setMouseTracking(true);
    footerMiddle_->installEventFilter(this);
    linkLabel_ = new QLabel(kProductWebAddress);
    linkLabel_->setObjectName("LinkLabel");
    linkLabel_->setCursor(Qt::PointingHandCursor);
    linkLabel_->setMouseTracking(true);
    linkLabel_->installEventFilter(this);
    QFont font = linkLabel_->font();
    font.setUnderline(true);
    linkLabel_->setFont(font);
    layout->addWidget(footerLogo_);
    layout->addStretch(1);
    layout->addWidget(footerMiddle_);
    layout->addStretch(1);
    layout->addWidget(linkLabel_);
    return footer;
}

void TForm1::FillCategorySelector() {
    serverCategorySelector_->clear();
    serverCategorySelector_->addItems({"Automatic", "OPC Data Access 1.0", "OPC Data Access 2.0"});
}

void TForm1::SetLinkBold(bool bold) {
    QFont font = linkLabel_->font();
    if (font.bold() == bold)
        return;
    font.setBold(bold);
    linkLabel_->setFont(font);
}

void TForm1::OpenWebAddress() {
    QDesktopServices::openUrl(QUrl(kProductWebAddress));
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == linkLabel_ || watched == footerLogo_) {
        if (type == QEvent::Enter && watched == linkLabel_)
            SetLinkBold(true);
        if (type == QEvent::MouseButtonRelease) {
            OpenWebAddress();
            return true;
        }
    } else if (type == QEvent::MouseMove || type == QEvent::Enter) {
        // Pointing anywhere else takes the link out of its highlight.
        SetLinkBold(false);
    }
    if (hostEdit_ && watched == hostEdit_->lineEdit() && type == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            RunCommand([this] { RefreshButtonClick(); });
            return true;
        }
    }
    if (type == QEvent::KeyPress)
        if (auto* field = qobject_cast<QLineEdit*>(watched)) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                if (field == itemIDEdit_) {
                    RunCommand([this] { QuickAddButtonClick(); });
                    return true;
                }
                if (GroupFieldEnter(field))
                    return true;
            }
        }
    if (watched == groupList_ && type == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const auto held = key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
        if (!held && key->key() == Qt::Key_Insert) {
            RunCommand([this] { AddGroupButtonClick(); });
            return true;
        }
        if (!held && key->key() == Qt::Key_Delete) {
            RunCommand([this] { RemoveGroupButtonClick(); });
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- start and end

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_)
        return;
    shown_ = true;
    // The servers of the default host are listed when the window is first shown.
    RunCommand([this] { RefreshButtonClick(); });
}

void TForm1::closeEvent(QCloseEvent* event) {
    bool mayClose = false;
    RunCommand([this, &mayClose] { mayClose = ConfirmConfiguration(); });
    if (!mayClose) {
        event->ignore();
        return;
    }
    SaveWindowState();
    event->accept();
}

void TForm1::RestoreWindowState() {
    auto settings = WindowSettings();
    const QByteArray geometry = settings->value("MainWindow/Geometry").toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    const QByteArray split = settings->value("MainWindow/Splitter").toByteArray();
    if (!split.isEmpty())
        splitter_->restoreState(split);
}

void TForm1::SaveWindowState() {
    auto settings = WindowSettings();
    settings->setValue("MainWindow/Geometry", saveGeometry());
    settings->setValue("MainWindow/Splitter", splitter_->saveState());
}

QString TForm1::LastFolder() const {
    return WindowSettings()->value("FileDialogs/LastFolder").toString();
}

void TForm1::RememberFolder(const QString& file) {
    WindowSettings()->setValue("FileDialogs/LastFolder", QFileInfo(file).absolutePath());
}

// ---- panel 1

void TForm1::RefreshButtonClick() {
    if (destroying_)
        return;
    BusyCursor busy;
    ScopeExit resume([this] {
        serverListBox_->setUpdatesEnabled(true);
        serverListBox_->setFocus();
    });
    const std::string host = Ss(hostEdit_->currentText());
    // Another host drops the groups without a question; the same host keeps them.
    GetServer()->SetHost(host);
    serverListBox_->setUpdatesEnabled(false);
    serverListBox_->clear();
    serverList_.reset();
    serverList_ = std::make_unique<TNvOPCServerList>();
    TNvOPCServerCategories categories;
    if (da1CheckBox_->isChecked())
        categories.Include(opcscDataAccess10);
    if (da2CheckBox_->isChecked())
        categories.Include(opcscDataAccess20);
    serverList_->SetCategories(categories);
    serverList_->SetUseRegistry(searchRegistryCheckBox_->isChecked());
    serverList_->Connect(host);
    for (int i = 0; i < serverList_->Count(); ++i) {
        auto* line = new QListWidgetItem(Qs(serverList_->GetDetails(i)->ProgID));
        line->setData(Qt::UserRole, i);
        serverListBox_->addItem(line);
    }
}

void TForm1::FillHostList() {
    BusyCursor busy;
    const QString typed = hostEdit_->currentText();
    hostEdit_->clear();
    TNvStringList hosts;
    try {
        ListNetworkHosts(hosts, "");
    } catch (...) {
        // A network without host browsing leaves the list as far as it was filled, silently.
    }
    QStringList names;
    for (int i = 0; i < hosts.Count(); ++i)
        names << Qs(hosts.Strings(i));
    names.sort(Qt::CaseInsensitive);
    hostEdit_->addItems(names);
    hostEdit_->setEditText(typed);
}

void TForm1::ServerListClick() {
    QListWidgetItem* line = serverListBox_->currentItem();
    if (!line || !serverList_)
        return;
    TNvOPCServer* server = GetServer();
    if (configuration_->Modified() && server->GroupCount() > 0) {
        switch (ConfirmDlg("You are about to change to another server. This requires removal of all groups and "
                           "items. Would you like to save the project first?",
                           mbYesNoCancel)) {
        case mrCancel:
            return;
        case mrYes:
            // Going on whatever the outcome: the user chose to change the server.
            SaveAs1Click();
            break;
        default:
            break;
        }
    }
    SetCurrentGroup(nullptr);
    server->Clear();
    browser_->SetServer(nullptr);
    const TNvOPCServerDetails* details = serverList_->GetDetails(line->data(Qt::UserRole).toInt());
    serverNamePanel_->setText(Qs(details->Description));
    serverNamePanel_->setToolTip(serverNamePanel_->text());
    clsidPanel_->setText(Qs(GuidToRegistryString(details->CLSID)));
    clsidPanel_->setToolTip(clsidPanel_->text());
    clsidPanel_->setCursorPosition(0);
    serverNamePanel_->setCursorPosition(0);
    server->SetClassID(details->CLSID);
    ShowServerName();
    UpdateButtonStates();
}

// ---- panel 2

void TForm1::ShowServerName() {
    const TNvOPCServer* server = GetServer();
    serverEdit_->setText(
        Qs(server->ServerName().empty() ? GuidToRegistryString(server->ClassID()) : server->ServerName()));
}

void TForm1::ServerEditChange() {
    // The text alone decides what Connect uses: a class chosen from the list or loaded from a
    // file is forgotten as soon as the text says something else. The text the window writes for
    // that very class (its name or its CLSID) keeps it, so that opening a file or choosing a
    // server does not by itself count as a change of the configuration.
    TNvOPCServer* server = GetServer();
    const std::string text = Ss(serverEdit_->text());
    if (!server->Connected() && !IsEqualGUID(server->ClassID(), GUID_NULL) && text != server->ServerName() &&
        text != GuidToRegistryString(server->ClassID()))
        server->SetClassID(GUID_NULL);
    UpdateButtonStates();
}

void TForm1::ServerCategorySelectorChange(int index) {
    if (index >= 0)
        GetServer()->SetCategory(static_cast<TNvOPCServerCategory>(index));
}

void TForm1::ConnectServerButtonClick() {
    ScopeExit finally([this] {
        EndBusyCursor();
        UpdateButtonStates();
    });
    TNvOPCServer* server = GetServer();
    if (!server->Connected() && IsEqualGUID(server->ClassID(), GUID_NULL)) {
        const std::string text = Ss(serverEdit_->text());
        CLSID clsid{};
        if (SUCCEEDED(CLSIDFromString(ToWide(text).c_str(), &clsid)) && !IsEqualGUID(clsid, GUID_NULL))
            server->SetClassID(clsid);
        else
            server->SetServerName(text);
    }
    BeginBusyCursor();
    if (server->Connected()) {
        server->Disconnect();
    } else {
        server->Connect();
        serverCategorySelector_->setCurrentIndex(server->Category());
        UpdateSelectedItems();
    }
    if (currentGroup_)
        GroupRefresh();
}

void TForm1::ServerStatusChange() {
    if (destroying_)
        return;
    OPCSERVERSTATUS status{};
    GetServer()->GetStatus(status);
    TNvStringList lines;
    ServerStatusToStrings(status, lines);
    QStringList text;
    for (int i = 0; i < lines.Count(); ++i)
        text << Qs(lines.Strings(i));
    statusList_->setPlainText(text.join('\n'));
    UpdateButtonStates();
}

// ---- the control rule

void TForm1::UpdateTitle() {
    std::string title = kTitle;
    const std::string& file = configuration_->FileName();
    if (!file.empty()) {
        const auto slash = file.find_last_of("/\\");
        title += " - " + (slash == std::string::npos ? file : file.substr(slash + 1));
    } else if (!GetServer()->ServerName().empty()) {
        title += " - " + GetServer()->ServerName();
    }
    SetApplicationTitle(title);
    setWindowTitle(Qs(title));
}

void TForm1::UpdateButtonStates() {
    if (destroying_)
        return;
    UpdateTitle();
    saveAction_->setEnabled(configuration_->Modified());
    saveAsAction_->setEnabled(configuration_->Modified());

    TNvOPCServer* server = GetServer();
    const bool connected = server->Connected();
    if (hostEdit_->currentText() != Qs(server->Host()))
        hostEdit_->setEditText(Qs(server->Host()));
    serverPanel_->setEnabled(!connected);
    serverEdit_->setEnabled(!connected);
    const std::string text = Ss(serverEdit_->text());
    connectServerButton_->setEnabled(!text.empty() && text != GuidToRegistryString(GUID_NULL));
    connectServerButton_->setChecked(connected);
    serverCategorySelector_->setCurrentIndex(server->Category());
    serverCategorySelector_->setEnabled(!connected);

    if (!currentGroup_ && server->GroupCount() > 0)
        SetCurrentGroup(dynamic_cast<TNvOPCGroup*>(server->Groups(0)));
    groupPanel_->setVisible(currentGroup_ != nullptr);
    removeGroupButton_->setEnabled(currentGroup_ != nullptr);
    timebiasEdit_->setEnabled(currentGroup_ && !currentGroup_->LocalTimeBias());
    dataSourceSelector_->setEnabled(!asyncCheckBox_->isChecked());
    asyncRefreshIntervalEdit_->setEnabled(asyncCheckBox_->isChecked());
    groupOkButton_->setEnabled(groupEdited_);
    groupCancelButton_->setEnabled(groupEdited_);
    itemsPanel_->setVisible(currentGroup_ != nullptr);
    removeItemAction_->setEnabled(currentGroup_ && currentGroup_->ItemCount() > 0);
    quickAddButton_->setEnabled(itemGrid_->isEnabled() && !itemIDEdit_->text().isEmpty());
    const bool groupConnected = currentGroup_ && currentGroup_->Connected();
    readItemAction_->setEnabled(groupConnected);
    writeItemAction_->setEnabled(groupConnected);
    RefreshItemGridConfiguration();
}

// ---- the configuration file

bool TForm1::ConfirmConfiguration() {
    if (!configuration_->Modified())
        return true;
    switch (ConfirmDlg("Configuration not saved. Do you want to save it?", mbYesNoCancel)) {
    case mrYes:
        return SaveConfiguration(configuration_->FileName());
    case mrNo:
        return true;
    default:
        return false;
    }
}

std::string TForm1::PromptFileName(const std::string& name, TFileDialogKind kind) {
    const bool save = kind == TFileDialogKind::Save;
    QFileDialog dialog(this, save ? "Save As" : "Open");
    dialog.setObjectName(save ? "SaveDialog" : "OpenDialog");
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters({Qs(Format("Norvane OPC Client Configuration (*.%s)", "noc")), "All Files (*.*)"});
    dialog.setDefaultSuffix("noc");
    return Ss(ExecFileDialog(dialog, Qs(name)));
}

QString TForm1::ExecFileDialog(QFileDialog& dialog, const QString& name) {
    if (!name.isEmpty())
        dialog.selectFile(name);
    else if (const QString folder = LastFolder(); !folder.isEmpty())
        dialog.setDirectory(folder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    const QString chosen = dialog.selectedFiles().front();
    if (QFileInfo(chosen).fileName().isEmpty())
        return {};
    RememberFolder(chosen);
    return chosen;
}

bool TForm1::SaveConfiguration(const std::string& name) {
    std::string fileName = name;
    if (fileName.empty())
        fileName = PromptFileName(configuration_->FileName(), TFileDialogKind::Save);
    if (fileName.empty())
        return false;
    configuration_->SetFileName(fileName);
    try {
        configuration_->Save();
    } catch (const std::exception& e) {
        // The user asked for the save and must learn that it did not happen; the caller then
        // does not discard the configuration.
        ShowErrorBox(e.what());
        return false;
    }
    return true;
}

void TForm1::New1Click() {
    if (!ConfirmConfiguration())
        return;
    SetCurrentGroup(nullptr);
    configuration_->New();
    UpdateButtonStates();
}

void TForm1::Open1Click() {
    if (!ConfirmConfiguration())
        return;
    const std::string fileName = PromptFileName(configuration_->FileName(), TFileDialogKind::Open);
    if (fileName.empty())
        return;
    ScopeExit show([this] {
        UpdateButtonStates();
        ShowServerName();
    });
    SetCurrentGroup(nullptr);
    configuration_->SetFileName(fileName);
    configuration_->Load();
}

void TForm1::Save1Click() {
    StoreItemGridConfiguration();
    if (SaveConfiguration(configuration_->FileName()))
        UpdateButtonStates();
}

void TForm1::SaveAs1Click() {
    StoreItemGridConfiguration();
    if (SaveConfiguration(""))
        UpdateButtonStates();
}

}  // namespace nv
