// Program entry of the station: one instance per user, the splash window, then the main
// window whose loading runs the start-up sequence.
#include "app/Station.h"
#include "app/UnixSignals.h"
#include "core/Dialogs.h"
#include "core/StationState.h"
#include "core/Version.h"
#include "settings/DataFolder.h"
#include "ui/Artwork.h"
#include "ui/MainWindow.h"
#include "ui/ScreenshotTour.h"
#include "ui/SplashWindow.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QPointer>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>

using namespace kestrova;

namespace {
// The offscreen platform of a headless station says this at every layout change of the
// preview; it tells the user nothing.
QtMessageHandler g_standardHandler = nullptr;

void FilterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QLatin1String("does not support propagateSizeHints")))
        return;
    if (g_standardHandler)
        g_standardHandler(type, context, message);
}
} // namespace

int main(int argc, char* argv[]) {
    // The version answers before anything else: no window, no lock, no data folder.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("kestrova-webcam %d.%d.%d\n", kVersionMajor, kVersionMinor,
                        kVersionRevision);
            return 0;
        }
    }
    g_standardHandler = qInstallMessageHandler(FilterQtMessages);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrova Webcam"));
    QApplication::setQuitOnLastWindowClosed(false);
    // The station's shared state, from the first question to the user to the end.
    StationState state;
    QApplication::setWindowIcon(ProgramIcon());

    // One station per user: the lock lives in the user's Kestrova folder.
    const QString lockFolder = GetAppDataFolder() + QStringLiteral("/Kestrova");
    QDir().mkpath(lockFolder);
    QLockFile instanceLock(lockFolder + QStringLiteral("/webcam.lock"));
    instanceLock.setStaleLockTime(0);
    if (!instanceLock.tryLock(0) && instanceLock.error() == QLockFile::LockFailedError) {
        dialogs::MessageBox(QStringLiteral("Application already running"), dialogs::Icon::Critical);
        return 2;
    }
    // Any other lock error means the folder is unusable; the start-up reports that itself.

    auto* splash = new SplashWindow(ProgramFolder() + QStringLiteral("/interface.jpg"));
    splash->show();
    QApplication::processEvents();

    Station station(app.arguments().mid(1));
    // Deleted only after the event loop has ended: the unload may run inside a handler of one
    // of the window's own controls, which must not lose its widgets under it.
    const auto window = std::make_unique<MainWindow>(station);
    station.camera().ShowPreviewIn(window->cameraArea());
    QPointer<SplashWindow> splashGuard(splash);
    MainWindow* main = window.get();
    WindowHooks hooks;
    hooks.showMainWindow = [main] { main->show(); };
    hooks.hideSplash = [splashGuard] {
        if (splashGuard)
            splashGuard->hide();
    };
    hooks.closeSplash = [splashGuard] {
        if (splashGuard)
            splashGuard->deleteLater();
    };
    hooks.requestClose = [main] { main->close(); };
    hooks.closeOtherWindows = [main] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w != main && w->isVisible())
                w->close();
        }
    };
    hooks.dismissDialogs = [] {
        // A close asked for while a start-up dialog waits for an answer: nobody may be there
        // to give one (a logout, a service stop), so the dialog and every later one take their
        // default answer.
        dialogs::SetUnattended(true);
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    };
    station.setHooks(std::move(hooks));
    QObject::connect(&station, &Station::terminated, &app, [main](int code) {
        main->hide();
        QApplication::exit(code);
    });
    WatchTerminationSignals([&station] { station.RequestClose(); });

    // KESTROVA_SCREENSHOTS=<folder>: the program photographs its windows for the documentation.
    std::unique_ptr<ScreenshotTour> tour;
    const QString screenshots = qEnvironmentVariable("KESTROVA_SCREENSHOTS");
    if (!screenshots.isEmpty()) {
        tour = std::make_unique<ScreenshotTour>(screenshots, *main);
        tour->WatchStartup();
    }
    QTimer::singleShot(0, &station, [&station, &tour] {
        if (station.Load() && tour)
            tour->Run([&station] { station.RequestClose(); });
    });
    const int code = app.exec();
    delete splashGuard.data();
    return code;
}
