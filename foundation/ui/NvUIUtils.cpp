#include "foundation/ui/NvUIUtils.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QString>
#include <QThread>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "foundation/NvEventLoop.h"

namespace nv {

namespace {

bool busyMark = false;

QString Qs(const std::string& text) {
    return QString::fromStdString(text);
}

bool OnGuiThread() {
    return qApp && QThread::currentThread() == qApp->thread();
}

// The box's parent: the window the user is working in, so that the box is centred on it.
QWidget* BoxParent() {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

void ShowBoxNow(QMessageBox::Icon icon, const std::string& text) {
    QMessageBox box(icon, QGuiApplication::applicationDisplayName(), Qs(text), QMessageBox::Ok, BoxParent());
    box.setObjectName(icon == QMessageBox::Critical ? "ErrorBox" : "MessageBox");
    box.exec();
}

// Boxes asked for by other threads wait here for the GUI thread. The texts travel under this
// lock rather than inside Qt's queued call, so that the hand-over is visible to thread checkers
// that cannot see into Qt.
std::mutex queuedMutex;
std::deque<std::pair<QMessageBox::Icon, std::string>> queuedBoxes;

void ShowQueuedBoxes() {
    for (;;) {
        std::pair<QMessageBox::Icon, std::string> next;
        {
            std::lock_guard lock(queuedMutex);
            if (queuedBoxes.empty())
                return;
            next = std::move(queuedBoxes.front());
            queuedBoxes.pop_front();
        }
        ShowBoxNow(next.first, next.second);
    }
}

void ShowBox(QMessageBox::Icon icon, const std::string& text) {
    if (!qApp)
        return;
    if (OnGuiThread()) {
        ShowBoxNow(icon, text);
        return;
    }
    {
        std::lock_guard lock(queuedMutex);
        queuedBoxes.emplace_back(icon, text);
    }
    QMetaObject::invokeMethod(qApp, &ShowQueuedBoxes, Qt::QueuedConnection);
}

}  // namespace

void RunCommand(const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& e) {
        HandleException(e);
    } catch (...) {
        HandleException(std::runtime_error("Unknown exception"));
    }
}

void BeginBusyCursor() {
    if (busyMark)
        return;
    // Qt keeps the cursor that was there before, so ending restores it.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    busyMark = true;
}

void EndBusyCursor() {
    if (!busyMark)
        return;
    busyMark = false;
    QApplication::restoreOverrideCursor();
}

bool IsBusyCursor() {
    return busyMark;
}

TModalResult ConfirmDlg(const std::string& message, TMsgDlgButtons buttons) {
    static const std::pair<TMsgDlgBtn, QMessageBox::StandardButton> kButtons[] = {
        {mbYes, QMessageBox::Yes},       {mbNo, QMessageBox::No},       {mbOK, QMessageBox::Ok},
        {mbCancel, QMessageBox::Cancel}, {mbAbort, QMessageBox::Abort}, {mbRetry, QMessageBox::Retry},
        {mbIgnore, QMessageBox::Ignore},
    };
    QMessageBox::StandardButtons standard;
    for (const auto& [bit, button] : kButtons)
        if (buttons & bit)
            standard |= button;
    if (!standard)
        standard = QMessageBox::Ok;
    QMessageBox box(QMessageBox::Question, "Confirm", Qs(message), standard, BoxParent());
    box.setObjectName("ConfirmBox");
    // The first button offered is the one Enter presses, as the user reads the box.
    for (const auto& [bit, button] : kButtons) {
        if (standard & button) {
            box.setDefaultButton(button);
            break;
        }
    }
    if (standard & QMessageBox::Cancel)
        box.setEscapeButton(QMessageBox::Cancel);
    else if (standard & QMessageBox::No)
        box.setEscapeButton(QMessageBox::No);
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Yes:
            return mrYes;
        case QMessageBox::No:
            return mrNo;
        case QMessageBox::Ok:
            return mrOk;
        case QMessageBox::Cancel:
            return mrCancel;
        case QMessageBox::Abort:
            return mrAbort;
        case QMessageBox::Retry:
            return mrRetry;
        case QMessageBox::Ignore:
            return mrIgnore;
        default:
            return (standard & QMessageBox::Cancel) ? mrCancel : mrNone;
    }
}

void ShowMessageBox(const std::string& text) {
    ShowBox(QMessageBox::Information, text);
}

void ShowErrorBox(const std::string& text) {
    ShowBox(QMessageBox::Critical, text);
}

}  // namespace nv
