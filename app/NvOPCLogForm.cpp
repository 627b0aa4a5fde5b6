#include "app/NvOPCLogForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/NvLogLinesModel.h"
#include "foundation/NvComponent.h"
#include "foundation/NvExceptions.h"
#include "foundation/NvSysUtils.h"
#include "foundation/ui/NvUIUtils.h"
#include "opc/NvOPCServer.h"

namespace nv {

TNvOPCLogForm::TNvOPCLogForm(QWidget* parent)
    : TNvForm(parent, Qt::Window),
      serverWatch_(std::make_unique<TNvComponentWatch>([this] { ServerGone(); })) {
    setObjectName("OPCLogForm");
    setWindowTitle("OPC Log");
    setModal(false);

    auto* toolBar = new QToolBar(this);
    toolBar->setObjectName("ToolBar1");
    toolBar->setFixedHeight(std::max(FontScaled(this, 29), toolBar->sizeHint().height()));
    toolBar->setMovable(false);

    saveAction_ = new QAction(style()->standardIcon(QStyle::SP_DialogSaveButton), "&Save...", this);
    saveAction_->setObjectName("SaveAction");
    saveAction_->setToolTip("Save the current log contents to a file.");
    saveAction_->setShortcut(QKeySequence::Save);
    addAction(saveAction_);
    auto* saveButton = new QToolButton(toolBar);
    saveButton->setObjectName("SaveButton");
    saveButton->setDefaultAction(saveAction_);
    toolBar->addWidget(saveButton);

    activeCheckbox_ = new QCheckBox("&Active", toolBar);
    activeCheckbox_->setObjectName("ActiveCheckbox");
    activeCheckbox_->setToolTip("Log is only stored for actions ");
    toolBar->addWidget(activeCheckbox_);

    auto* label1 = new QLabel("&Max Lines:", toolBar);
    label1->setObjectName("Label1");
    maxLinesEdit_ = new QLineEdit(toolBar);
    maxLinesEdit_->setObjectName("MaxLinesEdit");
    maxLinesEdit_->setFixedWidth(FontScaled(this, 69));
    label1->setBuddy(maxLinesEdit_);
    toolBar->addWidget(label1);
    toolBar->addWidget(maxLinesEdit_);

    auto* label2 = new QLabel(" &File name:", toolBar);
    label2->setObjectName("Label2");
    fileNameEdit_ = new QLineEdit(toolBar);
    fileNameEdit_->setObjectName("FileNameEdit");
    fileNameEdit_->setMinimumWidth(FontScaled(this, 272));
    fileNameEdit_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    label2->setBuddy(fileNameEdit_);
    toolBar->addWidget(label2);
    toolBar->addWidget(fileNameEdit_);

    auto* apply = new QPushButton("&Apply", toolBar);
    apply->setObjectName("Button1");
    apply->setDefault(true);
    toolBar->addWidget(apply);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName("Splitter1");
    auto* listBox = new QListWidget(splitter);
    listBox->setObjectName("ListBox1");
    listBox->setFixedWidth(FontScaled(this, 121));
    listBox->hide();

    model_ = new TNvLogLinesModel(this);
    memo_ = new QTreeView(splitter);
    memo_->setObjectName("Memo1");
    memo_->setModel(model_);
    memo_->setHeaderHidden(true);
    memo_->setRootIsDecorated(false);
    memo_->setItemsExpandable(false);
    memo_->setUniformRowHeights(true);
    memo_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    memo_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    memo_->setTextElideMode(Qt::ElideNone);
    memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    memo_->header()->setStretchLastSection(false);
    memo_->header()->setSectionResizeMode(QHeaderView::Fixed);
    // A fixed-pitch font, so that columns of the log line up; the system's own when the classic
    // one is not installed.
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    if (!QFontInfo(font).fixedPitch())
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    memo_->setFont(font);
    splitter->addWidget(listBox);
    splitter->addWidget(memo_);
    splitter->setStretchFactor(1, 1);

    auto* copy = new QAction("&Copy", memo_);
    copy->setObjectName("CopyAction");
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    memo_->addAction(copy);
    memo_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(copy, &QAction::triggered, this, &TNvOPCLogForm::CopySelection);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolBar);
    layout->addWidget(splitter, 1);

    setTabOrder(activeCheckbox_, maxLinesEdit_);
    setTabOrder(maxLinesEdit_, fileNameEdit_);
    setTabOrder(fileNameEdit_, apply);
    setTabOrder(apply, memo_);

    connect(saveAction_, &QAction::triggered, this, [this] { RunCommand([this] { SaveActionExecute(); }); });
    connect(activeCheckbox_, &QCheckBox::clicked, this,
            [this] { RunCommand([this] { ActiveCheckboxClick(); }); });
    connect(apply, &QPushButton::clicked, this, [this] { RunCommand([this] { Button1Click(); }); });
    connect(model_, &QAbstractItemModel::modelReset, this, &TNvOPCLogForm::FitColumn);

    resize(FontScaled(this, 653, 486));
}

TNvOPCLogForm::~TNvOPCLogForm() {
    SetServer(nullptr);
}

void TNvOPCLogForm::SetServer(TNvOPCServer* server) {
    if (server == server_)
        return;
    if (server_ && server_->Log())
        server_->Log()->OnChange = nullptr;
    server_ = server;
    serverWatch_->Watch(server);
    if (!server_) {
        setWindowTitle("OPC Log");
        return;
    }
    server_->Log()->OnChange = [this](TObject*, const std::string& message) { Add(message); };
    RefreshLines();
    maxLinesEdit_->setText(QString::number(server_->Log()->MaxLines()));
    fileNameEdit_->setText(Qs(server_->Log()->FileName()));
    setWindowTitle(Qs(Format("%s - OPC Log: ", ApplicationTitle()) + "\\\\" + server_->Host() + "\\" +
                      server_->ServerName()));
}

void TNvOPCLogForm::Add(const std::string& message) {
    if (!server_ || server_->Destroying())
        return;
    const TNvOPCLog* log = server_->Log();
    QScrollBar* bar = memo_->verticalScrollBar();
    const bool atBottom = bar->value() == bar->maximum();
    model_->AddEntry(FormatDateTime(log->DateTimeFormat(), Now()) + " " + message, log->MaxLines());
    FitColumn();
    ScrollToNewLines(atBottom);
}

void TNvOPCLogForm::RefreshLines() {
    if (server_ && server_->Log()->Active()) {
        const TNvOPCLog* log = server_->Log();
        std::vector<std::string> entries;
        entries.reserve(static_cast<std::size_t>(log->Count()));
        for (int i = 0; i < log->Count(); ++i)
            entries.push_back(log->Lines(i));
        model_->SetEntries(entries);
        activeCheckbox_->setChecked(true);
        ScrollToNewLines(true);
    } else {
        model_->Clear();
        activeCheckbox_->setChecked(false);
    }
}

void TNvOPCLogForm::ServerGone() {
    // The log goes with its server: nothing of either may be touched any more.
    server_ = nullptr;
    setWindowTitle("OPC Log");
}

void TNvOPCLogForm::ActiveCheckboxClick() {
    if (server_)
        server_->Log()->SetActive(activeCheckbox_->isChecked());
}

void TNvOPCLogForm::Button1Click() {
    if (!server_)
        return;
    // Converted first: a number that is not one applies nothing.
    const int maxLines = StrToInt(Ss(maxLinesEdit_->text()));
    server_->Log()->SetMaxLines(maxLines);
    server_->Log()->SetFileName(Ss(fileNameEdit_->text()));
}

void TNvOPCLogForm::SaveActionExecute() {
    if (!server_)
        return;
    QFileDialog dialog(this, "Save Log");
    dialog.setObjectName("SaveDialog");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({"Log Files (*.log)", "All Files (*)"});
    dialog.selectNameFilter("Log Files (*.log)");
    dialog.setDefaultSuffix("log");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const std::string fileName = Ss(dialog.selectedFiles().front());
    // The user asked for this file: a failure to write it must not pass for a saved log.
    if (server_ && !server_->Log()->Buffer().SaveToFile(fileName))
        throw EFCreateError("Cannot create file \"" + fileName + "\".");
}

void TNvOPCLogForm::showEvent(QShowEvent* event) {
    TNvForm::showEvent(event);
    RefreshLines();
}

void TNvOPCLogForm::ScrollToNewLines(bool wasAtBottom) {
    // Follow new lines only while the user has not scrolled up to read older ones.
    if (wasAtBottom)
        memo_->scrollToBottom();
}

void TNvOPCLogForm::FitColumn() {
    const int width = memo_->fontMetrics().horizontalAdvance(QLatin1Char('M')) * (model_->WidestLine() + 2);
    const int wanted = std::max(width, memo_->viewport()->width());
    if (memo_->header()->sectionSize(0) < wanted || model_->LineCount() == 0)
        memo_->header()->resizeSection(0, wanted);
}

void TNvOPCLogForm::CopySelection() {
    QModelIndexList rows = memo_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList text;
    for (const QModelIndex& index : rows)
        text << Qs(model_->Line(index.row()));
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text.join('\n') + '\n');
}

// ---------------------------------------------------------------------------------------------

namespace {

QPointer<TNvOPCLogForm> logForm;

}  // namespace

void ShowOPCLog(TNvOPCServer* server) {
    if (!logForm) {
        logForm = new TNvOPCLogForm(nullptr);
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { DestroyOPCLog(); });
    }
    logForm->SetServer(server);
    logForm->show();
    logForm->raise();
    logForm->activateWindow();
}

TNvOPCLogForm* OPCLogForm() {
    return logForm.data();
}

void DestroyOPCLog() {
    delete logForm.data();
}

}  // namespace nv
