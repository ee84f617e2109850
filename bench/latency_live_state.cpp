// Latency from renaming a new state.json into place to the new status icon, against a floor: a
// bare QFileSystemWatcher noticing the same kind of rename in the same process.
//
// Each round renames a state file of the other colour (red, then green, ...) over the old one and
// runs the event loop until the App has handed its status item a new icon; the floor's rounds
// rename into a folder that only a QFileSystemWatcher watches and wait for its directoryChanged.
// Rounds of the two alternate, so that load on the machine falls on both. Offscreen, no tray.
//
// A second series does the same after the utility's state directory was swapped before each
// round, in turn as a user or a sync tool does it: the directory renamed away and a new folder
// renamed into its place, the directory renamed away and a symbolic link to another folder made in
// its place, and the link pointed at another folder (a new link renamed over it, as ln -sfn does).
// The swap is given 100 ms to pass; what is timed is the rename into the new folder that follows.
//
// Usage: latency_live_state [ROUNDS]   (default 40 of each, in each series). Prints one line per
// figure, in milliseconds: median and maximum of each, and the ratio of the medians.
#include "app/app.h"
#include "app/app_probe.h"
#include "tray/status_item.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileSystemWatcher>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace quillnest;

namespace {

void write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::abort();
}

// Runs the event loop until `done` holds; aborts after ten seconds.
template<typename Predicate> void spinUntil(Predicate done) {
    QElapsedTimer limit;
    limit.start();
    while (!done()) {
        if (limit.elapsed() > 10000) {
            std::fprintf(stderr, "no change seen within 10 s\n");
            std::abort();
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
}

// Renames a prepared file over dir/state.json and returns the milliseconds until `seen` holds.
template<typename Predicate>
double timeRename(const QString& dir, const QByteArray& content, Predicate seen) {
    const QString fresh = dir + QStringLiteral("/state.json.new");
    write(fresh, content);
    QElapsedTimer clock;
    clock.start();
    // rename(2) replaces the old file in one step, as the tool does (QFile::rename would not).
    if (std::rename(QFile::encodeName(fresh).constData(),
                    QFile::encodeName(dir + QStringLiteral("/state.json")).constData()) != 0)
        std::abort();
    spinUntil(seen);
    return double(clock.nsecsElapsed()) / 1e6;
}

void renameOrAbort(const QString& from, const QString& to) {
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        std::abort();
}

// Runs the event loop for `ms` milliseconds.
void pause(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;

    QTemporaryDir temp;
    if (!temp.isValid())
        return 1;
    const QString project = temp.filePath(QStringLiteral("project"));
    const QString appDir = temp.filePath(QStringLiteral("app"));
    const QString floorDir = temp.filePath(QStringLiteral("floor"));
    for (const QString& dir : {project, appDir, floorDir})
        QDir().mkpath(dir);
    const QByteArray key = project.toUtf8();
    const QByteArray red =
        R"({"projects":{")" + key + R"(":{"secrets":1,"checked":"2024-05-01T10:00:00Z"}}})";
    const QByteArray green =
        R"({"projects":{")" + key + R"(":{"checked":"2024-05-01T10:00:00Z"}}})";
    write(appDir + QStringLiteral("/state.json"), green);
    write(floorDir + QStringLiteral("/state.json"), green);

    AppSetup setup;
    setup.settings.stateDir = appDir;
    App app(std::move(setup));
    app.applicationDidFinishLaunching();
    QFileSystemWatcher floorWatch({floorDir});
    int floorEvents = 0;
    QObject::connect(&floorWatch, &QFileSystemWatcher::directoryChanged, [&] { ++floorEvents; });
    // Let start-up settle before the first round.
    QTimer::singleShot(200, &application, [] {});
    spinUntil([start = QElapsedTimer()]() mutable {
        if (!start.isValid())
            start.start();
        return start.elapsed() >= 200;
    });

    // One series of rounds; `beforeRound` runs before each round's rename into appDir.
    struct Series {
        std::vector<double> app, floor;
    };
    const auto series = [&](auto beforeRound) {
        Series times;
        for (int i = 0; i < rounds; ++i) {
            const QByteArray& content = i % 2 ? green : red;
            beforeRound(i, i % 2 ? red : green);
            const qint64 before = AppProbe::item(&app)->image()->cacheKey();
            times.app.push_back(timeRename(appDir, content, [&] {
                return AppProbe::item(&app)->image()->cacheKey() != before;
            }));
            const int seen = floorEvents;
            times.floor.push_back(
                timeRename(floorDir, content, [&] { return floorEvents > seen; }));
            // Let the trailing events of both renames pass before the next round.
            pause(60);
        }
        return times;
    };
    const Series plain = series([](int, const QByteArray&) {});
    const Series swapped = series([&](int i, const QByteArray& content) {
        const QString fresh = temp.filePath(QStringLiteral("swap%1").arg(i));
        const QString away = temp.filePath(QStringLiteral("away%1").arg(i));
        QDir().mkpath(fresh);
        write(fresh + QStringLiteral("/state.json"), content);
        switch (i % 3) {
        case 0:
            renameOrAbort(appDir, away);
            renameOrAbort(fresh, appDir);
            break;
        case 1:
            renameOrAbort(appDir, away);
            if (::symlink(QFile::encodeName(fresh).constData(),
                          QFile::encodeName(appDir).constData()))
                std::abort();
            break;
        default:
            if (::symlink(QFile::encodeName(fresh).constData(),
                          QFile::encodeName(away).constData()))
                std::abort();
            renameOrAbort(away, appDir);
        }
        pause(100);
    });

    const auto report = [](const char* name, const std::vector<double>& times) {
        std::printf("%s_median_ms %.2f\n", name, median(times));
        std::printf("%s_max_ms %.2f\n", name, *std::max_element(times.begin(), times.end()));
    };
    std::printf("rounds %d\n", rounds);
    report("live", plain.app);
    report("floor", plain.floor);
    std::printf("ratio %.2f\n", median(plain.app) / median(plain.floor));
    report("swapped", swapped.app);
    report("swapped_floor", swapped.floor);
    std::printf("swapped_ratio %.2f\n", median(swapped.app) / median(swapped.floor));
    std::fflush(stdout);
    std::_Exit(0);
}
