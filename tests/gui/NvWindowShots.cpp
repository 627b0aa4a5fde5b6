// Shows each window of the test client as a user meets it, against the simulation servers, and
// saves a picture of it: nv_window_shots <folder>. Run under an X server (scripts/screenshots.sh
// starts one); the pictures are what that X server shows.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>
#include <cstdio>
#include <fstream>
#include <functional>

#include "app/AboutForm.h"
#include "app/ItemGrid.h"
#include "app/MainWindow.h"
#include "app/NvOPCLogForm.h"
#include "app/PromptDataTypeDlg.h"
#include "app/SelectItemsDlg.h"
#include "discovery/NvOPCAddressSpace.h"
#include "discovery/ui/NvOPCAddressSpaceBrowser.h"
#include "foundation/NvConvert.h"
#include "foundation/ui/NvQtEventLoop.h"
#include "opc/NvOPCServer.h"

namespace {

QString outDir;
int failures = 0;

void Settle() {
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(10);
    }
}

// The window as the screen shows it.
void Shoot(QWidget* window, const QString& name) {
    Settle();
    QScreen* screen = window->screen();
    const QRect frame = window->frameGeometry();
    QPixmap picture = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    const QString file = QDir(outDir).filePath(name + ".png");
    if (picture.isNull() || !picture.save(file)) {
        std::fprintf(stderr, "cannot save %s\n", qPrintable(file));
        ++failures;
        return;
    }
    std::printf("%s\n", qPrintable(file));
}

// The whole screen, for windows shown side by side.
void ShootScreen(QScreen* screen, const QString& name) {
    Settle();
    const QPixmap picture = screen->grabWindow(0);
    const QString file = QDir(outDir).filePath(name + ".png");
    if (picture.isNull() || !picture.save(file)) {
        std::fprintf(stderr, "cannot save %s\n", qPrintable(file));
        ++failures;
        return;
    }
    std::printf("%s\n", qPrintable(file));
}

// Shoots a modal window once it is up, then closes it with `close`.
void ShootModal(const QString& name, std::function<void(QWidget*)> prepare,
                std::function<void(QWidget*)> close) {
    QTimer::singleShot(300, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            std::fprintf(stderr, "no window for %s\n", qPrintable(name));
            ++failures;
            return;
        }
        if (prepare)
            prepare(modal);
        Shoot(modal, name);
        close(modal);
    });
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Norvane OPC Client");
    QApplication::setWindowIcon(nv::ProgramIcon());
    if (argc < 2) {
        std::fprintf(stderr, "usage: nv_window_shots <folder>\n");
        return 2;
    }
    outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outDir);
    nv::TNvQtEnvironment environment;
    nv::SetApplicationTitle("Norvane OPC Client");
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    nv::InstallOPCAddressSpace();
    const QString suffix = qEnvironmentVariable("NV_SHOT_SUFFIX");

    // ---- About box
    ShootModal("about" + suffix, nullptr, [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
    nv::ShowAboutBox(0);

    // ---- Item selection, with a file of item IDs
    const QString csv = QDir(outDir).filePath("items.csv");
    {
        std::ofstream out(csv.toStdString(), std::ios::binary);
        out << "Dynamic.Ramp.Int,Ramp of an integer,Int\r\n"
               "Dynamic.Sine.Real8,Sine of a double,Real8\r\n"
               "Static.Percent,Writable percentage,Real8\r\n"
               "\"Special Names.with space\",An ID with a blank,Real8\r\n"
               "Control.ServerState,State of the server,Int\r\n";
    }
    {
        nv::TSelectItemsDlg dlg;
        dlg.LoadFile(csv.toStdString());
        ShootModal(
            "select-items" + suffix,
            [](QWidget* w) {
                w->findChild<QPushButton*>("AddButton")->click();
                w->findChild<QPushButton*>("AddAllButton")->click();
            },
            [](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
        dlg.Execute();
    }

    // ---- Data type
    {
        nv::TPromptDataTypeDlg dlg;
        dlg.SetDataType(VT_R8);
        ShootModal("data-type" + suffix, nullptr, [](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
        dlg.Execute();
    }

    // ---- Log window over a real connection
    nv::TNvOPCServer server;
    server.SetServerName("Norvane.Simulation.1");
    server.Log()->SetActive(true);
    nv::ShowOPCLog(&server);
    try {
        server.Connect();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "connect: %s\n", e.what());
        ++failures;
    }
    server.Log()->AddLine(
        "IOPCItemMgt.AddItems: Result=$0 (OK)\r\n  Dynamic.Ramp.Int: Result=$0 (OK)\r\n"
        "  Static.Percent: Result=$0 (OK)");
    Shoot(nv::OPCLogForm(), "log" + suffix);
    nv::OPCLogForm()->hide();

    // ---- Address space browser, hierarchical, a branch opened and leaves chosen
    {
        nv::TNvOPCAddressSpaceBrowser browser;
        browser.SetServer(&server);
        ShootModal(
            "browser" + suffix,
            [](QWidget* w) {
                auto* tree = w->findChild<QTreeWidget*>("BranchTree");
                QTreeWidgetItem* top = tree->topLevelItem(0);
                for (int i = 0; top && i < top->childCount(); ++i) {
                    if (top->child(i)->text(0) == "Static") {
                        top->child(i)->setExpanded(true);
                        tree->setCurrentItem(top->child(i));
                    }
                }
                auto* list = w->findChild<QListWidget*>("ItemList");
                for (int i = 0; i < 2 && i < list->count(); ++i)
                    list->item(i)->setSelected(true);
            },
            [](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
        browser.Execute();
    }
    server.Disconnect();

    // ---- Address space browser on a flat server
    {
        nv::TNvOPCServer flat;
        flat.SetServerName("Norvane.Simulation.Flat.1");
        nv::TNvOPCAddressSpaceBrowser browser;
        browser.SetServer(&flat);
        ShootModal("browser-flat" + suffix, nullptr, [](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
        browser.Execute();
        browser.SetServer(nullptr);
    }

    // ---- The main window: as it starts, connected with a group of live items, and with the log
    // and browser windows open beside it
    {
        nv::TForm1::SetSettingsFile(QDir(outDir).filePath("window-state.ini").toStdString());
        nv::TForm1 form;
        form.show();
        Shoot(&form, "main-disconnected" + suffix);
        form.findChild<QLineEdit*>("ServerEdit")->setText("Norvane.Simulation.1");
        form.findChild<QToolButton*>("ConnectServerButton")->click();
        form.findChild<QPushButton*>("AddGroupButton")->click();
        for (const char* id : {"Dynamic.Ramp.Int4", "Dynamic.Sine.Real8", "Dynamic.Random.String", "Static.Percent",
                               "Dynamic.Counter.Int4", "Static.Boolean", "ReadOnly.Date", "No.Such.Item"}) {
            form.findChild<QLineEdit*>("ItemIDEdit")->setText(id);
            form.findChild<QToolButton*>("QuickAddButton")->click();
        }
        form.ItemGrid()->SelectRows(1, 2);
        for (int i = 0; i < 15; ++i)
            QTest::qWait(100);
        Shoot(&form, "main-connected" + suffix);
        form.move(0, 0);
        nv::ShowOPCLog(form.GetServer());
        nv::OPCLogForm()->move(form.frameGeometry().right() - 200, 60);
        ShootModal(
            "main-browser" + suffix,
            [&form](QWidget* w) {
                w->move(form.frameGeometry().left() + 80, form.frameGeometry().center().y() - 100);
                ShootScreen(form.screen(), "main-with-log-and-browser" + qEnvironmentVariable("NV_SHOT_SUFFIX"));
            },
            [](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
        form.AddItemActionExecute();
        nv::OPCLogForm()->SetServer(nullptr);
        nv::OPCLogForm()->hide();
        form.GetServer()->Disconnect();
        form.Configuration()->SetModified(false);
    }

    nv::DestroyOPCLog();
    CoUninitialize();
    return failures == 0 ? 0 : 1;
}
