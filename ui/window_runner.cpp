#include "ui/window_runner.h"

#include "app/single_instance.h"
#include "app/startup.h"
#include "network/server.h"
#include "ui/main_dlg.h"
#include "ui/qt_operator.h"

#include <QApplication>
#include <cstdlib>

namespace brimlow {
namespace {

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv) {
    if (!HasDisplay())
        return nullptr;
    auto app = std::make_unique<QApplication>(argc, argv);
    // Closing a message box after the window must not end the run early; the window ends it.
    app->setQuitOnLastWindowClosed(false);
    return app;
}

int RunWindow(Console& console, SingleInstanceGuard& guard, const ShutDown& shutDown) {
    QtOperator op;
    console.op = &op;
    std::unique_ptr<lan::NetServer> server;
    {
        CMainDlg window(console, op);
        guard.OnRaiseRequest([&window] { window.BringToFront(); });
        QObject::connect(&window, &QDialog::finished, qApp, &QCoreApplication::quit);
        window.show();
        QApplication::exec();
        guard.OnRaiseRequest({});
        server = window.TakeServer();
    } // the window's end sets the exiting flag
    if (server)
        server->Stop(); // every session ends and releases its locks before the tables are saved
    // A save that failed (a full disk, a folder made read-only) may work once the operator has made room.
    return shutDown([&console](const std::vector<std::string>& unsaved) {
        return console.op->AskYesNo(MessageIcon::Error, kAppCaption,
                                    UnsavedFilesText(console, unsaved) + ".\nTry again?");
    });
}

} // namespace

const WindowFrontEnd& MainWindowFrontEnd() {
    static const WindowFrontEnd frontEnd{MakeApplication, RunWindow};
    return frontEnd;
}

} // namespace brimlow
