// Latency from renaming a new state.json into place to the new status icon, against a floor: a
// bare QFileSystemWatcher noticing the same kind of rename in the same process.
//
// Each round renames a state file of the other colour (red, then green, ...) over the old one and
// runs the event loop until the App has handed its status item a new icon; the floor's rounds
// rename into a folder that only a QFileSystemWatcher watches and wait for its directoryChanged.
// Rounds of the two alternate, so that load on the machine falls on both. Offscreen, no tray.
//
// Usage: latency_live_state [ROUNDS]   (default 40 of each). Prints one line per figure, in
// milliseconds: median and maximum of each, and the ratio of the medians.
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

    std::vector<double> appTimes;
    std::vector<double> floorTimes;
    for (int i = 0; i < rounds; ++i) {
        const QByteArray& content = i % 2 ? green : red;
        const qint64 before = AppProbe::item(&app)->image()->cacheKey();
        appTimes.push_back(timeRename(
            appDir, content, [&] { return AppProbe::item(&app)->image()->cacheKey() != before; }));
        const int seen = floorEvents;
        floorTimes.push_back(timeRename(floorDir, content, [&] { return floorEvents > seen; }));
        // Let the trailing events of both renames pass before the next round.
        QElapsedTimer pause;
        pause.start();
        while (pause.elapsed() < 60)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }

    const double appMedian = median(appTimes);
    const double floorMedian = median(floorTimes);
    std::printf("rounds %d\n", rounds);
    std::printf("live_median_ms %.2f\n", appMedian);
    std::printf("live_max_ms %.2f\n", *std::max_element(appTimes.begin(), appTimes.end()));
    std::printf("floor_median_ms %.2f\n", floorMedian);
    std::printf("floor_max_ms %.2f\n", *std::max_element(floorTimes.begin(), floorTimes.end()));
    std::printf("ratio %.2f\n", appMedian / floorMedian);
    std::fflush(stdout);
    std::_Exit(0);
}
