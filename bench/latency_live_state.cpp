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
// A third App shows its item as a StatusNotifierItem on a private session bus (dbus-daemon, with
// a stand-in watcher), where a client has said that it shows the menu (AboutToShow(0) and
// "opened") and then left the bus without closing it; its rounds run until a host connection has
// received NewIcon, in a thread of its own. Its floor: the bare watch's directoryChanged relayed
// as a bare D-Bus signal to the same host thread. Its rounds are those of the first series, after
// the first App's and the floor's renames. Skipped without dbus-daemon.
//
// Usage: latency_live_state [ROUNDS]   (default 40 of each, in each series). Prints one line per
// figure, in milliseconds: median and maximum of each, and the ratios of the medians to the
// floor's.
#include "app/app.h"
#include "app/app_probe.h"
#include "support/private_bus.h"
#include "tray/dbus_types.h"
#include "tray/status_item.h"
#include "tray/status_notifier_item.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileSystemWatcher>
#include <QTemporaryDir>
#include <QTimer>

#include <QThread>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace quillnest;

namespace {

using Clock = std::chrono::steady_clock;

// The panel's side: the watcher takes the registration.
class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
public:
    QString registered;
public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) { registered = service; }
};

// The least that tells a host of a change over the bus: a bare signal.
class Pinger : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.example.Floor")
Q_SIGNALS:
    void Ping();
};

// The host, in a thread of its own as a panel is a process of its own: the time each NewIcon
// arrives, whatever the utility's thread does meanwhile.
class Host : public QObject {
    Q_OBJECT
public:
    std::atomic<int> newIcons{0};
    std::atomic<Clock::rep> lastArrival{0};
    std::atomic<int> pings{0};
    std::atomic<Clock::rep> lastPing{0};
public Q_SLOTS:
    void newIcon() {
        lastArrival = Clock::now().time_since_epoch().count();
        ++newIcons;
    }
    void ping() {
        lastPing = Clock::now().time_since_epoch().count();
        ++pings;
    }
};

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

// Renames a prepared file over dir/state.json and returns the milliseconds until `seen` holds;
// `started`, when given, is the time of the rename.
template<typename Predicate>
double timeRename(const QString& dir, const QByteArray& content, Predicate seen,
                  Clock::time_point* started = nullptr) {
    const QString fresh = dir + QStringLiteral("/state.json.new");
    write(fresh, content);
    QElapsedTimer clock;
    if (started)
        *started = Clock::now();
    clock.start();
    // rename(2) replaces the old file in one step, as the tool does (QFile::rename would not).
    if (std::rename(QFile::encodeName(fresh).constData(),
                    QFile::encodeName(dir + QStringLiteral("/state.json")).constData()) != 0)
        std::abort();
    spinUntil(seen);
    return double(clock.nsecsElapsed()) / 1e6;
}

double msBetween(Clock::time_point start, Clock::rep end) {
    return double(end - start.time_since_epoch().count()) * Clock::period::num * 1e3 /
           Clock::period::den;
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
    // The first App must find no session bus, whatever the caller's environment (an address of a
    // bus that is not there, a display, the user's bus in the runtime directory): a process has
    // one session bus connection, made by the first that asks for it and kept, and it must be the
    // private bus that the shown App below is measured on.
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY"})
        qunsetenv(name);
    QApplication application(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;

    QTemporaryDir temp;
    if (!temp.isValid())
        return 1;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(temp.path()));
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

    // The App with a shown menu, made after the first one has decided that it has no bus.
    quillnest::test::PrivateBus bus;
    const QString address = bus.start();
    Watcher panel;
    Pinger pinger;
    Host host;
    QThread hostThread;
    std::unique_ptr<App> shownApp;
    const QString shownDir = temp.filePath(QStringLiteral("shown"));
    if (!address.isEmpty()) {
        QDir().mkpath(shownDir);
        write(shownDir + QStringLiteral("/state.json"), green);
        QDBusConnection watcher = QDBusConnection::connectToBus(address, QStringLiteral("watcher"));
        watcher.registerObject(QStringLiteral("/StatusNotifierWatcher"), &panel,
                               QDBusConnection::ExportAllSlots);
        watcher.registerService(statusNotifierWatcherService);
        AppSetup shownSetup;
        shownSetup.settings.stateDir = shownDir;
        shownApp = std::make_unique<App>(std::move(shownSetup));
        shownApp->applicationDidFinishLaunching();
        spinUntil([&] { return !panel.registered.isEmpty(); });
        host.moveToThread(&hostThread);
        hostThread.start();
        QDBusConnection::connectToBus(address, QStringLiteral("host"))
            .connect(panel.registered, QStringLiteral("/StatusNotifierItem"),
                     QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("NewIcon"), &host,
                     SLOT(newIcon()));
        QDBusConnection pingBus = QDBusConnection::connectToBus(address, QStringLiteral("floor"));
        pingBus.registerObject(QStringLiteral("/Floor"), &pinger,
                               QDBusConnection::ExportAllSignals);
        QObject::connect(&floorWatch, &QFileSystemWatcher::directoryChanged, &pinger,
                         &Pinger::Ping);
        QDBusConnection(QStringLiteral("host"))
            .connect(QString(), QStringLiteral("/Floor"), QStringLiteral("org.example.Floor"),
                     QStringLiteral("Ping"), &host, SLOT(ping()));
        QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("client"));
        const auto menuCall = [&](const QString& method, const QVariantList& arguments) {
            QDBusMessage call =
                QDBusMessage::createMethodCall(panel.registered, QStringLiteral("/MenuBar"),
                                               QStringLiteral("com.canonical.dbusmenu"), method);
            call.setArguments(arguments);
            client.call(call, QDBus::BlockWithGui);
        };
        menuCall(QStringLiteral("AboutToShow"), {0});
        menuCall(QStringLiteral("Event"),
                 {0, QStringLiteral("opened"), QVariant::fromValue(QDBusVariant(0)), 0u});
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }
    // Let start-up settle (and the item's settle period after its registration end) before the
    // first round.
    spinUntil([start = QElapsedTimer()]() mutable {
        if (!start.isValid())
            start.start();
        return start.elapsed() >= StatusNotifierTray::settleMs + 200;
    });

    // One series of rounds; `beforeRound` runs before each round's rename into appDir, and with
    // `shown` each round also times the shown App and the bus floor.
    struct Series {
        std::vector<double> app, floor, shown, busFloor;
    };
    const auto series = [&](bool shown, auto beforeRound) {
        Series times;
        for (int i = 0; i < rounds; ++i) {
            const QByteArray& content = i % 2 ? green : red;
            beforeRound(i, i % 2 ? red : green);
            const qint64 before = AppProbe::item(&app)->image()->cacheKey();
            times.app.push_back(timeRename(appDir, content, [&] {
                return AppProbe::item(&app)->image()->cacheKey() != before;
            }));
            const int seen = floorEvents;
            const int pings = host.pings;
            Clock::time_point floorStarted;
            times.floor.push_back(timeRename(
                floorDir, content, [&] { return floorEvents > seen; }, &floorStarted));
            if (shown && shownApp) {
                spinUntil([&] { return host.pings > pings; });
                times.busFloor.push_back(msBetween(floorStarted, host.lastPing));
                const int icons = host.newIcons;
                Clock::time_point started;
                timeRename(
                    shownDir, content, [&] { return host.newIcons > icons; }, &started);
                times.shown.push_back(msBetween(started, host.lastArrival));
            }
            // Let the trailing events of the renames pass before the next round.
            pause(60);
        }
        return times;
    };
    const Series plain = series(true, [](int, const QByteArray&) {});
    const Series swapped = series(false, [&](int i, const QByteArray& content) {
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
    const double floorMedian = median(plain.floor);
    std::printf("rounds %d\n", rounds);
    report("live", plain.app);
    report("floor", plain.floor);
    std::printf("ratio %.2f\n", median(plain.app) / floorMedian);
    report("swapped", swapped.app);
    report("swapped_floor", swapped.floor);
    std::printf("swapped_ratio %.2f\n", median(swapped.app) / median(swapped.floor));
    if (!plain.shown.empty()) {
        const double shownMedian = median(plain.shown);
        report("shown", plain.shown);
        std::printf("shown_ratio %.2f\n", shownMedian / floorMedian);
        report("bus_floor", plain.busFloor);
        std::printf("shown_bus_ratio %.2f\n", shownMedian / median(plain.busFloor));
    }
    std::fflush(stdout);
    std::_Exit(0);
}

#include "latency_live_state.moc"
