// Start-up: the settings, the application, the one App, the event loop.
#include "app/app.h"
#include "core/settings.h"
#include "desktop/qt_translations.h"
#include "desktop/quit_on_signal.h"
#include "desktop/single_instance.h"
#include "tool/child_process.h"

#include <QApplication>
#include <QMetaObject>

#include <cstdio>
#include <cstdlib>

using namespace quillnest;

namespace {

bool isSetAndNotEmpty(const char* name) {
    return !qEnvironmentVariableIsEmpty(name);
}

// Snapshot mode needs no display: where none is reachable and no platform was asked for, draw
// offscreen so that it works on a server.
void chooseHeadlessPlatform(const Settings& settings) {
    if (settings.snapshotPath && !isSetAndNotEmpty("DISPLAY") &&
        !isSetAndNotEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace

int main(int argc, char** argv) {
    // First of all: under an ignored SIGCHLD inherited from our parent no child's status is read.
    useDefaultChildSignal();
    const Settings settings = readSettings();
    chooseHeadlessPlatform(settings);

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillnest-bar"));
    QApplication::setDesktopFileName(QStringLiteral("quillnest-bar"));
    // A tray-only application: closing the folder chooser must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    QCoreApplication::setQuitLockEnabled(false);
    quitOnTerminationSignals();
    // Snapshot mode draws pictures and quits: it may run beside a running utility.
    if (!settings.snapshotPath && leaveIfAlreadyRunning(settings.ru))
        return EXIT_SUCCESS;
    installQtTranslations(settings.ru);

    AppSetup setup;
    setup.settings = settings;
    App delegate(std::move(setup));
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                     &App::applicationWillTerminate);
    QMetaObject::invokeMethod(&delegate, &App::applicationDidFinishLaunching, Qt::QueuedConnection);

    application.exec();
    // Leave without tearing the application down: a waiter thread of a one-shot tool run that is
    // still going may post its completion at any moment, and must never find a half-destroyed
    // application. The tool runs on; nothing of ours needs flushing but the standard streams.
    std::fflush(nullptr);
    std::_Exit(EXIT_SUCCESS);
}
