#include "gui/NvGuiTestSupport.h"

#include <unistd.h>
#include <QAbstractButton>
#include <QDeadlineTimer>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <deque>

namespace guitest {

namespace {

std::deque<std::function<void(QWidget*)>> handlers;
std::vector<std::string> unexpected;
// The modal window being handled; it counts as new again once it has been hidden, so that a
// dialog shown twice in a row is handled twice.
QPointer<QWidget> lastHandled;

class HideWatch : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide && watched == lastHandled) {
            watched->removeEventFilter(this);
            lastHandled = nullptr;
        }
        return false;
    }
};

void Check() {
    static HideWatch* watch = new HideWatch;
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == lastHandled || !modal->isVisible())
        return;
    lastHandled = modal;
    modal->installEventFilter(watch);
    if (!handlers.empty()) {
        auto handler = std::move(handlers.front());
        handlers.pop_front();
        handler(modal);
        return;
    }
    unexpected.push_back(ModalText(modal));
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
}

}  // namespace

void OnNextModal(std::function<void(QWidget*)> handler) {
    handlers.push_back(std::move(handler));
}

int PendingModalHandlers() {
    return static_cast<int>(handlers.size());
}

std::vector<std::string> TakeUnexpectedModals() {
    std::vector<std::string> taken;
    taken.swap(unexpected);
    return taken;
}

void StartModalGuard() {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, Check);
    timer->start(5);
}

bool PumpUntil(const std::function<bool()>& predicate, int capMs) {
    QDeadlineTimer deadline(capMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void Pump() {
    QApplication::processEvents(QEventLoop::AllEvents);
}

std::filesystem::path TestFolder(const std::string& prefix) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    auto dir = std::filesystem::path(::testing::TempDir()) /
               (prefix + "-" + (test ? test->name() : "none") + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

std::string ModalText(QWidget* modal) {
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        return box->text().toStdString();
    return modal->windowTitle().toStdString();
}

void ClickButton(QWidget* window, const QString& text) {
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
        if (b->text().remove('&') == QString(text).remove('&')) {
            b->click();
            return;
        }
    }
    ADD_FAILURE() << "no button " << text.toStdString() << " in " << ModalText(window);
}

void GuiTest::TearDown() {
    Pump();
    auto stray = TakeUnexpectedModals();
    for (const auto& text : stray)
        ADD_FAILURE() << "unexpected modal window: " << text;
    EXPECT_EQ(PendingModalHandlers(), 0) << "an expected modal window never appeared";
    handlers.clear();
}

}  // namespace guitest
