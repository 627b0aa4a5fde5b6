// The few foundation helpers that need the GUI toolkit: the busy cursor, the confirmation box,
// and the message and error boxes the program shows. The declarations are free of Qt, so the
// windows above can use them without caring how they are drawn. GUI thread only, except
// ShowMessageBox and ShowErrorBox, which other threads may call (the box then appears on the GUI
// thread, and the call does not wait for it).
#pragma once

#include <functional>
#include <string>

namespace nv {

// Runs a command of a window (a click, a menu choice). An exception it does not catch goes to
// the program's default handler (HandleException: the error box) and the program goes on, so
// no exception ever crosses the GUI toolkit.
void RunCommand(const std::function<void()>& command);

// Shows the hourglass over every window of the program. Not nested: a second Begin does
// nothing, and the first End restores the cursor that was there before.
void BeginBusyCursor();
void EndBusyCursor();
bool IsBusyCursor();

// The buttons of a confirmation box, combined with "|".
enum TMsgDlgBtn : unsigned {
    mbYes = 0x01,
    mbNo = 0x02,
    mbOK = 0x04,
    mbCancel = 0x08,
    mbAbort = 0x10,
    mbRetry = 0x20,
    mbIgnore = 0x40,
};
using TMsgDlgButtons = unsigned;
constexpr TMsgDlgButtons mbYesNo = mbYes | mbNo;
constexpr TMsgDlgButtons mbYesNoCancel = mbYes | mbNo | mbCancel;
constexpr TMsgDlgButtons mbOKCancel = mbOK | mbCancel;

// How a modal window or box was closed; the values are the system's dialog result codes.
enum TModalResult {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7
};

// A modal confirmation box (question mark, caption "Confirm") with the given buttons; returns
// the button pressed. Escape and the window's close button answer Cancel when there is one,
// else No. Without any button the box offers OK.
TModalResult ConfirmDlg(const std::string& message, TMsgDlgButtons buttons);

// A modal information box; the caption is the program's title.
void ShowMessageBox(const std::string& text);
// A modal error box; the caption is the program's title.
void ShowErrorBox(const std::string& text);

}  // namespace nv
