// How often a burst of in-place rewrites is shown torn: a writer thread truncates state.json and
// writes it anew in 4 KiB pieces, back to back, for SECONDS (default 4), while an App follows the
// file offscreen. Every refresh during the burst and for two seconds after it is one reading; a
// reading that shows the empty summary ("Nothing synced yet") while every complete file lists a
// project is a torn one.
//
// Usage: torn_rewrites [SECONDS]. Prints readings, empty_readings and whether the last reading
// shows the file's summary (last_ok 1).
#include "app/app.h"
#include "app/app_probe.h"
#include "tray/status_item.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace quillnest;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 4;

    QTemporaryDir temp;
    const QString project = temp.filePath(QStringLiteral("project"));
    QDir().mkpath(project);
    QByteArray state = R"({"projects":{")" + project.toUtf8() +
                       R"(":{"secrets":1,"synced":"2024-05-01T10:00:00Z"}},"padding":[)";
    while (state.size() < 64 * 1024)
        state += "1234567,";
    state += "0]}";
    const QByteArray path = QFile::encodeName(temp.filePath(QStringLiteral("state.json")));
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::WriteOnly) || file.write(state) != state.size())
        return 1;
    file.close();

    AppSetup setup;
    setup.settings.stateDir = temp.path();
    App app(std::move(setup));
    app.applicationDidFinishLaunching();
    int readings = 0;
    int empty = 0;
    const auto shown = [&] { return AppProbe::item(&app)->menu()->front().title; };
    QObject::connect(&app, &App::refreshed, [&] {
        ++readings;
        empty += shown() == QLatin1String("Nothing synced yet");
    });

    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop) {
            const int fd = ::open(path.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (fd < 0)
                std::abort();
            for (qsizetype at = 0; at < state.size();) {
                const ssize_t n = ::write(fd, state.constData() + at,
                                          size_t(std::min<qsizetype>(4096, state.size() - at)));
                if (n <= 0)
                    std::abort();
                at += n;
            }
            ::close(fd);
        }
    });
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    stop = true;
    writer.join();
    while (clock.elapsed() < (seconds + 2) * 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

    std::printf("readings %d\nempty_readings %d\nlast_ok %d\n", readings, empty,
                int(shown() != QLatin1String("Nothing synced yet")));
    std::fflush(stdout);
    std::_Exit(0);
}
