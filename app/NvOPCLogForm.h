// TNvOPCLogForm: the window in which the user watches the transaction log of the connected
// server, switches recording on and off, sets the line limit and the mirror file, and saves the
// log. One window serves the whole run; ShowOPCLog opens it for a server.
#pragma once

#include <memory>
#include <string>

#include "foundation/ui/NvForm.h"

class QAction;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace nv {

class TNvComponentWatch;
class TNvOPCServer;
class TNvLogLinesModel;

class TNvOPCLogForm : public TNvForm {
    Q_OBJECT
public:
    explicit TNvOPCLogForm(QWidget* parent = nullptr);
    ~TNvOPCLogForm() override;

    TNvOPCServer* Server() const { return server_; }
    // Binds the window to the server's log (none: to no log). The window follows the server:
    // when the server is destroyed, the window lets go of it by itself.
    void SetServer(TNvOPCServer* server);
    // The log's OnChange handler: the message, time-stamped, at the bottom of the lines.
    void Add(const std::string& message);

    TNvLogLinesModel* Lines() const { return model_; }

    // The commands of the window's controls.
    void ActiveCheckboxClick();
    void Button1Click();
    void SaveActionExecute();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void RefreshLines();
    void ServerGone();
    void ScrollToNewLines(bool wasAtBottom);
    void FitColumn();
    void CopySelection();

    TNvOPCServer* server_ = nullptr;
    // Hears of the server's destruction, so that the window never reaches into a server that is
    // gone, whoever destroys it.
    std::unique_ptr<TNvComponentWatch> serverWatch_;
    TNvLogLinesModel* model_;
    QTreeView* memo_;
    QCheckBox* activeCheckbox_;
    QLineEdit* maxLinesEdit_;
    QLineEdit* fileNameEdit_;
    QAction* saveAction_;
};

// Opens the log window for the server (not modal), creating it on first use; a later call for
// another server rebinds the same window.
void ShowOPCLog(TNvOPCServer* server);
// The window, once ShowOPCLog has created it; else none.
TNvOPCLogForm* OPCLogForm();
// Destroys the window; the program does so when it ends.
void DestroyOPCLog();

}  // namespace nv
