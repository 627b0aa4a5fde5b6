// The main of every window test program: a QApplication on the offscreen platform (unless the
// caller chose another), on the Qt event loop with the program's message and error boxes, as
// the application itself runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QThreadPool>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "foundation/ui/NvQtEventLoop.h"
#include "gui/NvGuiTestSupport.h"

namespace {

QtMessageHandler qtDefaultHandler = nullptr;

// The offscreen platform has no window system to pass size hints or raise requests to and says
// so every time; the rest of Qt's messages stay.
void FilterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    qtDefaultHandler(type, context, message);
}

// Qt's painter fills large areas on the threads of its global pool. The application ends
// them as it goes, but a pool thread counts as finished a moment before it is gone, and the
// thread data it still holds then would be reported as leaked by the sanitizer's check at exit.
bool PooledThreadsRunning() {
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == "Thread (pooled)")
            return true;
    }
    return false;
}

void EndQtPoolThreads() {
    QThreadPool::globalInstance()->waitForDone();
    QDeadlineTimer deadline(5000);
    while (PooledThreadsRunning() && !deadline.hasExpired())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

int main(int argc, char** argv) {
    qtDefaultHandler = qInstallMessageHandler(FilterQtMessages);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Norvane OPC Client");
    int result;
    {
        nv::TNvQtEnvironment environment;
        guitest::StartModalGuard();
        result = RUN_ALL_TESTS();
    }
    EndQtPoolThreads();
    return result;
}
