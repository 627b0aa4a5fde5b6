// Helpers of the window tests: controls are found by their object names, as a user finds them
// by their captions, and modal boxes and dialogs are answered by handlers queued before the
// command that opens them.
//
// A modal window that appears while no handler is queued is closed and recorded; the fixture
// below fails the test for it, so a stray error box never hangs a run.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace guitest {

// Runs the handler on the next modal window that appears (once, for that window). The handler
// closes it, typically by clicking a button.
void OnNextModal(std::function<void(QWidget*)> handler);
int PendingModalHandlers();
// Texts (window title and message) of the modal windows closed because nobody expected them;
// taking them empties the record.
std::vector<std::string> TakeUnexpectedModals();
// Starts the watch; the shared main does this once.
void StartModalGuard();

// Pumps the Qt loop until predicate() holds or capMs has passed.
bool PumpUntil(const std::function<bool()>& predicate, int capMs = 10000);
void Pump();

// An empty folder of the running test's own, so that tests running side by side (ctest
// --parallel, other build trees) never share files; prefix names the test file.
std::filesystem::path TestFolder(const std::string& prefix);

// The message text of a message box, or the title of any other window.
std::string ModalText(QWidget* modal);
// Clicks the button with this text (mnemonic ampersands ignored) in a modal window.
void ClickButton(QWidget* window, const QString& text);

template <class T>
T* Named(QObject* root, const char* name) {
    T* found = root->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << "no " << name;
    return found;
}

// Fails a test that left a modal window unanswered or an expected one never came.
class GuiTest : public ::testing::Test {
protected:
    void TearDown() override;
};

}  // namespace guitest
