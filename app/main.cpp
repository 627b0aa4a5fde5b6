// The test client's start-up, in order: the splash, the multithreaded apartment (so that server
// callbacks arrive on the runtime's worker threads), process security, the title, then the main
// window, which lists the servers of the local host when it is first shown, until it closes. No
// command line is read.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/AboutForm.h"
#include "app/MainWindow.h"
#include "app/NvOPCLogForm.h"
#include "discovery/NvOPCAddressSpace.h"
#include "discovery/NvOPCServerList.h"
#include "foundation/ui/NvForm.h"
#include "foundation/ui/NvQtEventLoop.h"
#include "opc/NvOPCSecurity.h"
#include "opc/NvOPCServer.h"
#include "platform/win32.h"

namespace {

// Without a display Qt would stop with a message about its platform plug-in that says nothing
// to a user; this says what is missing and how to run the program all the same.
bool HasDisplay() {
#ifdef _WIN32
    return true;
#else
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(name); value && *value)
            return true;
    return false;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "norvane-opc-client: no display (DISPLAY and WAYLAND_DISPLAY are unset); run it on a desktop, "
                     "or under a virtual X server: xvfb-run -a norvane-opc-client\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(nv::TForm1::kTitle);
    QApplication::setWindowIcon(nv::ProgramIcon());
    nv::ShowStartupSplash();

    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // A failure leaves the runtime's default security, under which most servers still work.
    nv::InitializeOPCSecurity();
    nv::InstallOPCServerListLookup();
    nv::InstallOPCAddressSpace();

    int result;
    {
        nv::TNvQtEnvironment environment;
        nv::SetApplicationTitle(nv::TForm1::kTitle);
        nv::TForm1 form;
        form.show();
        result = QApplication::exec();
        nv::DestroyOPCLog();
    }
    CoUninitialize();
    return result;
}
