// App driven as the menu drives it, with a fake tool (a shell script that records its command
// line) and a fake workspace that records what would be opened.
#include "app/app.h"
#include "app/app_probe.h"
#include "desktop/workspace.h"
#include "support/processes.h"
#include "support/recording_notifier.h"
#include "support/recording_workspace.h"
#include "support/test_support.h"
#include "tool/child_process.h"
#include "tray/status_item.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

#include <sys/wait.h>

using namespace quillnest;
using namespace quillnest::test;

namespace {

const MenuItem* findAction(const Menu& menu, Action action) {
    for (const MenuItem& item : menu)
        if (item.action == action)
            return &item;
    return nullptr;
}

} // namespace

class TestApp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void startsEmpty();
    void launchRefreshesAndStartsTimer();
    void refreshFollowsTheStateFile();
    void syncShowsProgressThenResult();
    void commandLines_data();
    void commandLines();
    void failedLaunchClearsBusyAfterTwoRefreshes();
    void watchOnOffOn();
    void oldWatchCompletionKeepsNewWatcher();
    void watchEndedFromOutside();
    void quitStopsTheWatcher();
    void addProjectCancelledChangesNothing();
    void openMaster_data();
    void openMaster();
    void openConflictsReadsStateAtClick();
    void oddFolderReachesToolAsOneArgument();
    void openMenuIsNotRebuiltUntilClosed();
    void stateChangeShowsBeforeTheTimer_data();
    void stateChangeShowsBeforeTheTimer();
    void toolFoundIsWhatRuns_data();
    void toolFoundIsWhatRuns();
    void relativeProjectOpensAbsolute_data();
    void relativeProjectOpensAbsolute();
    void watchMarkStaysOffWhenWatchCannotStart();
    void oneCommandAtATime_data();
    void oneCommandAtATime();
    void toolFaults_data();
    void toolFaults();
    void manyRefreshesKeepTheHeapFlat();

private:
    App* makeApp(bool russian = false);
    QString writeTool();
    QStringList loggedCalls() const;
    void writeState(const QByteArray& json);

    QTemporaryDir dir_;
    const QString startDir_ = QDir::currentPath();
    QString stateDir_;
    QString log_;
    QString tool_;
    RecordingWorkspace* workspace_ = nullptr;
    RecordingNotifier* notifier_ = nullptr;
    std::unique_ptr<App> app_;
};

void TestApp::init() {
    QVERIFY(dir_.isValid());
    stateDir_ = dir_.filePath(
        QStringLiteral("state-%1").arg(QString::fromLatin1(QTest::currentTestFunction())));
    QDir().mkpath(stateDir_);
    log_ = dir_.filePath(
        QStringLiteral("log-%1").arg(QString::fromLatin1(QTest::currentTestFunction())));
    QFile::remove(log_);
    tool_ = writeTool();
}

void TestApp::cleanup() {
    if (app_ && AppProbe::watcher(app_.get()))
        AppProbe::watcher(app_.get())->terminate();
    app_.reset();
    QDir::setCurrent(startDir_);
}

// Records each call as one line: the arguments joined by a unit separator, then QUILLNEST_LANG.
// "watch" runs until SIGTERM and takes a little while to stop; "sync" waits for a release file
// when one is named, and "init" for that name with ".init", so a test can look at the menu while
// the command runs (or until the test's folder is gone).
QString TestApp::writeTool() {
    const QString path = dir_.filePath(QStringLiteral("quillnest"));
    if (!QFile::exists(path)) {
        writeFile(path, R"SH(#!/bin/sh
wait_for() { while [ ! -e "$1" ] && [ -d "${1%/*}" ]; do sleep 0.02; done; }
line=""
for a in "$@"; do line="$line$a"; line="$line$(printf '\037')"; done
printf '%s%s\n' "$line" "$QUILLNEST_LANG" >> "$FAKE_LOG"
case "$1" in
watch) trap 'sleep 0.3; exit 0' TERM; while :; do sleep 0.05; done ;;
sync) [ -n "$FAKE_RELEASE" ] && wait_for "$FAKE_RELEASE" ;;
init) [ -n "$FAKE_RELEASE" ] && wait_for "$FAKE_RELEASE.init" ;;
esac
[ -n "$FAKE_STATE" ] && cp "$FAKE_STATE" "$FAKE_STATE_DIR/state.json"
exit 0
)SH");
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
    }
    return path;
}

App* TestApp::makeApp(bool russian) {
    auto workspace = std::make_unique<RecordingWorkspace>();
    workspace_ = workspace.get();
    AppSetup setup;
    setup.settings.stateDir = stateDir_;
    setup.settings.ru = russian;
    setup.workspace = std::move(workspace);
    setup.notifier = std::make_unique<RecordingNotifier>();
    notifier_ = static_cast<RecordingNotifier*>(setup.notifier.get());
    setup.locateTool = [this] { return tool_; };
    app_ = std::make_unique<App>(std::move(setup));
    qputenv("FAKE_LOG", log_.toLocal8Bit());
    qunsetenv("FAKE_RELEASE");
    qunsetenv("FAKE_STATE");
    qputenv("FAKE_STATE_DIR", stateDir_.toLocal8Bit());
    return app_.get();
}

QStringList TestApp::loggedCalls() const {
    QFile file(log_);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void TestApp::writeState(const QByteArray& json) {
    writeFile(stateDir_ + QStringLiteral("/state.json"), json);
}

void TestApp::startsEmpty() {
    App* app = makeApp();
    QVERIFY(!AppProbe::item(app)->image());
    QVERIFY(!AppProbe::item(app)->menu());
    QVERIFY(AppProbe::busy(app) == Busy::None);
    QVERIFY(!AppProbe::watcher(app));
    QVERIFY(!AppProbe::timer(app));
}

void TestApp::launchRefreshesAndStartsTimer() {
    App* app = makeApp();
    app->applicationDidFinishLaunching();
    QVERIFY(AppProbe::item(app)->image());
    QVERIFY(AppProbe::item(app)->menu());
    QCOMPARE(AppProbe::item(app)->toolTipTitle(), QStringLiteral("Quillnest"));
    QVERIFY(AppProbe::timer(app) && AppProbe::timer(app)->isActive());
    QCOMPARE(AppProbe::timer(app)->interval(), 15000);
    QCOMPARE(AppProbe::item(app)->menu()->front().title, QStringLiteral("Nothing synced yet"));
}

void TestApp::refreshFollowsTheStateFile() {
    App* app = makeApp();
    app->refresh();
    QCOMPARE(AppProbe::item(app)->menu()->front().title, QStringLiteral("Nothing synced yet"));
    const QByteArray project = QDir(dir_.path()).absolutePath().toUtf8();
    writeState(R"({"projects": {")" + project +
               R"(": {"secrets": 2, "synced": "2024-05-01T10:00:00Z"}}})");
    app->refresh();
    QCOMPARE(AppProbe::item(app)->menu()->front().title,
             QStringLiteral("Found 2 password(s)/key(s) in rules"));
}

void TestApp::syncShowsProgressThenResult() {
    App* app = makeApp();
    const QString release = dir_.filePath(QStringLiteral("release"));
    const QString newState = dir_.filePath(QStringLiteral("new-state.json"));
    const QByteArray project = QDir(dir_.path()).absolutePath().toUtf8();
    writeFile(newState, R"({"projects": {")" + project +
                            R"(": {"warn": 3, "synced": "2024-05-01T10:00:00Z"}}})");
    qputenv("FAKE_RELEASE", release.toLocal8Bit());
    qputenv("FAKE_STATE", newState.toLocal8Bit());

    QSignalSpy refreshed(app, &App::refreshed);
    app->syncNow();
    QCOMPARE(AppProbe::busy(app), Busy::Sync);
    QCOMPARE(refreshed.count(), 1);
    const Menu during = *AppProbe::item(app)->menu();
    QVERIFY(!findAction(during, Action::SyncNow));
    QVERIFY(!findAction(during, Action::CheckNow));
    QVERIFY(!findAction(during, Action::AddProject));
    QCOMPARE(during[5].title, QStringLiteral("Syncing…"));

    writeFile(release, "");
    QTRY_VERIFY_WITH_TIMEOUT(AppProbe::busy(app) == Busy::None, 10000);
    QCOMPARE(refreshed.count(), 2);
    QCOMPARE(AppProbe::item(app)->menu()->front().title,
             QStringLiteral("Warnings: 3 (expired or out of sync)"));
    QVERIFY(findAction(*AppProbe::item(app)->menu(), Action::SyncNow));
}

void TestApp::commandLines_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("russian");
    QTest::addColumn<QString>("expected");
    const auto s = [](const char* text) { return QString::fromUtf8(text); };
    QTest::newRow("sync") << s("sync") << false
                          << s("sync\x1f--all\x1f-q\x1f"
                               "en");
    QTest::newRow("check ru") << s("check") << true
                              << s("check\x1f--all\x1f-q\x1f"
                                   "ru");
    QTest::newRow("add with master") << s("add-master") << false
                                     << s("sync\x1f%1\x1f-q\x1f"
                                          "en");
    QTest::newRow("add without master") << s("add") << false
                                        << s("init\x1f%1\x1f--sync\x1f"
                                             "en");
}

void TestApp::commandLines() {
    QFETCH(QString, command);
    QFETCH(bool, russian);
    QFETCH(QString, expected);
    App* app = makeApp(russian);
    const QString folder = dir_.filePath(QStringLiteral("project-") + command);
    QDir().mkpath(folder);
    if (command == QLatin1String("add-master"))
        writeFile(folder + QStringLiteral("/QUILLNEST.md"), "# rules\n");
    workspace_->folder = folder;

    if (command == QLatin1String("sync"))
        app->syncNow();
    else if (command == QLatin1String("check"))
        app->checkNow();
    else
        app->addProject();
    QCOMPARE(AppProbe::busy(app), command == QLatin1String("check") ? Busy::Check : Busy::Sync);
    QTRY_VERIFY_WITH_TIMEOUT(AppProbe::busy(app) == Busy::None, 10000);
    if (expected.contains(QLatin1String("%1")))
        expected = expected.arg(folder);
    QCOMPARE(loggedCalls(), QStringList{expected});
    if (command.startsWith(QLatin1String("add")))
        QCOMPARE(workspace_->messages,
                 QStringList{QStringLiteral("Choose a project folder. Quillnest builds "
                                            "QUILLNEST.md from its rules files.")});
}

void TestApp::failedLaunchClearsBusyAfterTwoRefreshes() {
    tool_ = dir_.filePath(QStringLiteral("no such folder/quillnest"));
    App* app = makeApp();
    QSignalSpy refreshed(app, &App::refreshed);
    app->syncNow();
    QVERIFY(AppProbe::busy(app) == Busy::None);
    QCOMPARE(refreshed.count(), 2);

    app->toggleWatch();
    QVERIFY(!AppProbe::watcher(app));
    QCOMPARE(refreshed.count(), 3);
}

void TestApp::watchOnOffOn() {
    App* app = makeApp();
    app->toggleWatch();
    QVERIFY(AppProbe::watcher(app) && AppProbe::watcher(app)->isRunning());
    QVERIFY(findAction(*AppProbe::item(app)->menu(), Action::ToggleWatch)->checked);
    const pid_t first = AppProbe::watcher(app)->pid();
    QTRY_COMPARE_WITH_TIMEOUT(loggedCalls().size(), 1, 10000);

    app->toggleWatch();
    QVERIFY(!AppProbe::watcher(app));
    QVERIFY(!findAction(*AppProbe::item(app)->menu(), Action::ToggleWatch)->checked);
    QTRY_VERIFY_WITH_TIMEOUT(::kill(first, 0) != 0, 10000);

    app->toggleWatch();
    QVERIFY(AppProbe::watcher(app) && AppProbe::watcher(app)->isRunning());
    QVERIFY(AppProbe::watcher(app)->pid() != first);
    QTRY_COMPARE_WITH_TIMEOUT(loggedCalls().size(), 2, 10000);
    QCOMPARE(loggedCalls().first(), QStringLiteral("watch\x1f--all\x1f"
                                                   "en"));
}

// Switching watching off and on again before the old process has ended: the old process's
// completion must leave the new process in `watcher`.
void TestApp::oldWatchCompletionKeepsNewWatcher() {
    App* app = makeApp();
    app->toggleWatch();
    QTRY_COMPARE_WITH_TIMEOUT(loggedCalls().size(), 1, 10000); // its TERM trap is set
    app->toggleWatch();
    app->toggleWatch();
    const std::shared_ptr<ChildProcess> second = AppProbe::watcher(app);
    QVERIFY(second && second->isRunning());

    QSignalSpy refreshed(app, &App::refreshed);
    QVERIFY(refreshed.wait(10000)); // the first process's completion
    QCOMPARE(AppProbe::watcher(app), second);
    QVERIFY(findAction(*AppProbe::item(app)->menu(), Action::ToggleWatch)->checked);
}

// The watch process killed by someone else: the next refresh, whichever comes first, shows the
// watch item off, the completion forgets the process, and switching on starts a new one.
void TestApp::watchEndedFromOutside() {
    App* app = makeApp();
    app->toggleWatch();
    QVERIFY(AppProbe::watcher(app));
    QTRY_COMPARE_WITH_TIMEOUT(loggedCalls().size(), 1, 10000);
    QVERIFY(findAction(*AppProbe::item(app)->menu(), Action::ToggleWatch)->checked);

    // Killed, and its end awaited without running the event loop, so that the completion has not
    // been handled yet.
    const pid_t pid = AppProbe::watcher(app)->pid();
    QCOMPARE(::kill(pid, SIGKILL), 0);
    siginfo_t info{};
    while (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    app->refresh();
    QVERIFY(!findAction(*AppProbe::item(app)->menu(), Action::ToggleWatch)->checked);

    QTRY_VERIFY_WITH_TIMEOUT(!AppProbe::watcher(app), 10000);
    QVERIFY(!findAction(*AppProbe::item(app)->menu(), Action::ToggleWatch)->checked);
    QCOMPARE(zombieChildren(), 0);
    app->toggleWatch();
    QVERIFY(AppProbe::watcher(app) && AppProbe::watcher(app)->pid() != pid);
    QVERIFY(findAction(*AppProbe::item(app)->menu(), Action::ToggleWatch)->checked);
}

void TestApp::quitStopsTheWatcher() {
    App* app = makeApp();
    app->toggleWatch();
    QTRY_COMPARE_WITH_TIMEOUT(loggedCalls().size(), 1, 10000);
    const pid_t pid = AppProbe::watcher(app)->pid();
    app->applicationWillTerminate();
    QVERIFY(AppProbe::watcher(app)); // not cleared, only told to stop
    QTRY_VERIFY_WITH_TIMEOUT(!AppProbe::watcher(app), 10000);
    QCOMPARE(::kill(pid, 0), -1);
}

void TestApp::addProjectCancelledChangesNothing() {
    App* app = makeApp();
    QSignalSpy refreshed(app, &App::refreshed);
    workspace_->folder.reset();
    app->addProject();
    workspace_->folder = QString();
    app->addProject();
    QCOMPARE(refreshed.count(), 0);
    QVERIFY(AppProbe::busy(app) == Busy::None);
    QCOMPARE(workspace_->messages.size(), 2);
    QTest::qWait(50);
    QVERIFY(loggedCalls().isEmpty());
}

void TestApp::openMaster_data() {
    QTest::addColumn<bool>("hasMaster");
    QTest::newRow("master") << true;
    QTest::newRow("no master") << false;
}

void TestApp::openMaster() {
    QFETCH(bool, hasMaster);
    App* app = makeApp();
    const QString folder = dir_.filePath(QStringLiteral("R&D <b>x</b> \"q\" проект"));
    QDir().mkpath(folder);
    const QString master = folder + QStringLiteral("/QUILLNEST.md");
    QFile::remove(master);
    if (hasMaster)
        writeFile(master, "# master\n");

    app->openMaster(folder);
    QCOMPARE(workspace_->opened, QList<QUrl>{QUrl::fromLocalFile(hasMaster ? master : folder)});

    app->openMaster(QString());
    QCOMPARE(workspace_->opened.size(), 1);
}

void TestApp::openConflictsReadsStateAtClick() {
    App* app = makeApp();
    QStringList projects;
    for (const char* name : {"a", "b", "c"}) {
        projects.append(dir_.filePath(QStringLiteral("conflicts-") + QLatin1String(name)));
        QDir().mkpath(projects.last());
    }
    QDir().mkpath(projects[0] + QStringLiteral("/.quillnest/conflicts"));
    QDir().mkpath(projects[2] + QStringLiteral("/.quillnest/conflicts"));
    writeState(R"({"projects": {")" + projects[0].toUtf8() + R"(": {"conflicts": 1}}})");
    app->refresh();

    QByteArray all = "{\"projects\": {";
    for (const QString& p : projects)
        all += "\"" + p.toUtf8() + "\": {\"conflicts\": 1},";
    all.chop(1);
    writeState(all + "}}");
    app->openConflicts();
    QCOMPARE(
        workspace_->opened,
        (QList<QUrl>{QUrl::fromLocalFile(projects[0] + QStringLiteral("/.quillnest/conflicts")),
                     QUrl::fromLocalFile(projects[2] + QStringLiteral("/.quillnest/conflicts"))}));
}

void TestApp::oddFolderReachesToolAsOneArgument() {
    App* app = makeApp();
    const QString folder =
        dir_.filePath(QStringLiteral("a b 'q' \"d\" $(touch pwned) & ; `x` Проект ñ"));
    QVERIFY(QDir().mkpath(folder));
    workspace_->folder = folder;
    app->addProject();
    QTRY_VERIFY_WITH_TIMEOUT(AppProbe::busy(app) == Busy::None, 10000);
    QCOMPARE(loggedCalls(), QStringList{QStringLiteral("init\x1f") + folder +
                                        QStringLiteral("\x1f--sync\x1f"
                                                       "en")});
    QVERIFY(!QFile::exists(QStringLiteral("pwned")));
}

// A new state while our menu is open reaches the icon and the exported menu at once; the open
// QMenu is left alone and brought up to date when it closes.
void TestApp::openMenuIsNotRebuiltUntilClosed() {
    App* app = makeApp();
    app->applicationDidFinishLaunching();
    QMenu* menu = AppProbe::item(app)->qmenu();
    const QString before = menu->actions().first()->text();
    QCOMPARE(before, QStringLiteral("Nothing synced yet"));

    AppProbe::item(app)->popUp();
    QTRY_VERIFY_WITH_TIMEOUT(AppProbe::item(app)->isMenuOpen(), 5000);
    const QByteArray project = QDir(dir_.path()).absolutePath().toUtf8();
    writeState(R"({"projects": {")" + project + R"(": {"checked": "2024-05-01T10:00:00Z"}}})");
    QTRY_COMPARE_WITH_TIMEOUT(AppProbe::item(app)->menu()->front().title,
                              QStringLiteral("All rules in sync and clean"), 5000);
    QCOMPARE(menu->actions().first()->text(), before);

    menu->hide();
    QTRY_COMPARE_WITH_TIMEOUT(menu->actions().first()->text(),
                              QStringLiteral("All rules in sync and clean"), 5000);
}

void TestApp::stateChangeShowsBeforeTheTimer_data() {
    QTest::addColumn<QString>("change");
    QTest::newRow("renamed into place") << QStringLiteral("rename");
    QTest::newRow("rewritten in place, read half written") << QStringLiteral("torn");
    QTest::newRow("deleted") << QStringLiteral("delete");
}

// The tool's new state shows without waiting for the 15-second timer. A file read half written
// while it changes keeps what is shown until it is left alone; a deleted one empties it at once.
void TestApp::stateChangeShowsBeforeTheTimer() {
    QFETCH(QString, change);
    App* app = makeApp();
    const QByteArray project = QDir(dir_.path()).absolutePath().toUtf8();
    const QByteArray state =
        R"({"projects": {")" + project + R"(": {"checked": "2024-05-01T10:00:00Z"}}})";
    const auto shown = [app] { return AppProbe::item(app)->menu()->front().title; };
    const QString clean = QStringLiteral("All rules in sync and clean");
    const QString empty = QStringLiteral("Nothing synced yet");
    if (change != QLatin1String("rename")) {
        writeState(state);
        app->applicationDidFinishLaunching();
        QCOMPARE(shown(), clean);
        if (change == QLatin1String("delete"))
            QVERIFY(QFile::remove(stateDir_ + QStringLiteral("/state.json")));
        else
            writeState(state.left(state.size() / 2));
        app->refresh(); // as the watch or a timer tick does
        QCOMPARE(shown(), change == QLatin1String("delete") ? empty : clean);
        QTRY_COMPARE_WITH_TIMEOUT(shown(), empty, 5000);
        return;
    }
    app->applicationDidFinishLaunching();
    QCOMPARE(shown(), QStringLiteral("Nothing synced yet"));
    writeFile(stateDir_ + QStringLiteral("/new.json"), state);
    QVERIFY(QFile::rename(stateDir_ + QStringLiteral("/new.json"),
                          stateDir_ + QStringLiteral("/state.json")));
    QTRY_COMPARE_WITH_TIMEOUT(AppProbe::item(app)->menu()->front().title,
                              QStringLiteral("All rules in sync and clean"), 5000);
}

// The program that runs is the tool the search found, whatever its path holds (env would take a
// word with "=" for a variable and one beginning with "-" for an option, and run the next word),
// and a bare name is never looked up in the working directory (an empty PATH entry names it).
void TestApp::toolFoundIsWhatRuns_data() {
    QTest::addColumn<QString>("tool"); // a copy of the fake tool, below the working directory
    QTest::addColumn<bool>("absolute");
    QTest::addColumn<QByteArray>("path"); // the PATH inherited; null: unset
    QTest::addColumn<bool>("runs");
    const QByteArray path = qgetenv("PATH");
    QTest::newRow("folder x=y") << QStringLiteral("x=y/quillnest") << true << path << true;
    QTest::newRow("relative, leading dash")
        << QStringLiteral("-i/quillnest") << false << path << true;
    QTest::newRow("PATH unset") << QStringLiteral("quillnest") << false << QByteArray() << false;
    QTest::newRow("PATH empty") << QStringLiteral("quillnest") << false << QByteArray("") << false;
    QTest::newRow("PATH with an empty entry")
        << QStringLiteral("quillnest") << false << QByteArray("/nonexistent::/bin") << false;
}

void TestApp::toolFoundIsWhatRuns() {
    QFETCH(QString, tool);
    QFETCH(bool, absolute);
    QFETCH(QByteArray, path);
    QFETCH(bool, runs);
    for (const char* folder : {"/usr/local/bin", "/opt/homebrew/bin", "/usr/bin"})
        if (QFile::exists(QLatin1String(folder) + QStringLiteral("/quillnest")))
            QSKIP("a quillnest is installed where the child's PATH leads");
    const QString work = dir_.filePath(QLatin1StringView(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(QFileInfo(work + u'/' + tool).path()));
    QVERIFY(QFile::copy(tool_, work + u'/' + tool));
    QVERIFY(QDir::setCurrent(work));
    tool_ = absolute ? work + u'/' + tool : tool;
    App* app = makeApp();
    const QByteArray inherited = qgetenv("PATH");
    path.isNull() ? qunsetenv("PATH") : qputenv("PATH", path);
    app->syncNow();
    qputenv("PATH", inherited);
    QTRY_VERIFY_WITH_TIMEOUT(AppProbe::busy(app) == Busy::None, 10000);
    QCOMPARE(loggedCalls().size(), runs ? 1 : 0);
}

// A project named relative to the working directory is opened at its absolute place.
void TestApp::relativeProjectOpensAbsolute_data() {
    QTest::addColumn<QString>("key"); // "<from />": the working directory is /
    QTest::newRow("plain") << QStringLiteral("rel/proj");
    QTest::newRow("dot-dot, URL characters") << QStringLiteral("sub/../R&D #1 ?x=%20");
    QTest::newRow("working directory is the root") << QStringLiteral("<from />");
}

void TestApp::relativeProjectOpensAbsolute() {
    QFETCH(QString, key);
    QString work =
        dir_.filePath(QStringLiteral("work ") + QLatin1StringView(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(work + QStringLiteral("/sub")));
    QString project = work + u'/' + key;
    if (key == QLatin1String("<from />")) {
        project = work + QStringLiteral("/p");
        key = project.mid(1);
        work = QStringLiteral("/");
    }
    QVERIFY(QDir().mkpath(project + QStringLiteral("/.quillnest/conflicts")));
    writeFile(project + QStringLiteral("/QUILLNEST.md"), "# master\n");
    QVERIFY(QDir::setCurrent(work));
    writeState(R"({"projects": {")" + key.toUtf8() + R"(": {"conflicts": 1}}})");
    App* app = makeApp();
    app->openMaster(key);
    app->openConflicts();
    QCOMPARE(workspace_->opened,
             (QList<QUrl>{QUrl::fromLocalFile(project + QStringLiteral("/QUILLNEST.md")),
                          QUrl::fromLocalFile(project + QStringLiteral("/.quillnest/conflicts"))}));
}

// Qt flips the mark of a checkable item on every click; it must not stay on when the watch
// process cannot be started.
void TestApp::watchMarkStaysOffWhenWatchCannotStart() {
    tool_ = dir_.filePath(QStringLiteral("no such folder/quillnest"));
    App* app = makeApp();
    app->refresh();
    const auto watchAction = [app]() -> QAction* {
        const QList<QAction*> actions = AppProbe::item(app)->qmenu()->actions();
        for (QAction* action : actions)
            if (action->text() == QLatin1String("Watch for changes"))
                return action;
        return nullptr;
    };
    QVERIFY(watchAction());
    QSignalSpy refreshed(app, &App::refreshed);
    watchAction()->trigger();
    QVERIFY(refreshed.wait(10000)); // the click reaches App through the event loop
    QVERIFY(!AppProbe::watcher(app));
    QVERIFY(!watchAction()->isChecked());
}

// While a sync runs, a check or an add asked for is refused; a folder chosen in the chooser while
// a sync started meanwhile runs is added after it, also when the utility goes before then without
// running anything of its quitting (SIGKILL, Wayland's _exit): a standby process holds the folder
// from when it is chosen, and is retired once the utility adds it itself. `busy` names a running
// command throughout.
void TestApp::oneCommandAtATime_data() {
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("waits");
    QTest::addColumn<bool>("quits");
    QTest::newRow("check") << QStringLiteral("check") << false << false;
    QTest::newRow("add project") << QStringLiteral("add") << false << false;
    QTest::newRow("folder chosen meanwhile") << QStringLiteral("chosen") << true << false;
    QTest::newRow("folder chosen meanwhile, then gone") << QStringLiteral("chosen") << true << true;
}

void TestApp::oneCommandAtATime() {
    QFETCH(QString, second);
    QFETCH(bool, waits);
    QFETCH(bool, quits);
    App* app = makeApp();
    const QString release = dir_.filePath(QStringLiteral("release"));
    QFile::remove(release);
    QFile::remove(release + QStringLiteral(".init"));
    qputenv("FAKE_RELEASE", QFile::encodeName(release));
    const QString folder = dir_.filePath(QStringLiteral("chosen & <project>"));
    QVERIFY(QDir().mkpath(folder));
    workspace_->folder = folder;
    if (second == QLatin1String("chosen")) {
        workspace_->whileChoosing = [app] { app->syncNow(); };
        app->addProject();
    } else {
        app->syncNow();
        second == QLatin1String("check") ? app->checkNow() : app->addProject();
        QVERIFY(workspace_->messages.isEmpty());
    }
    QCOMPARE(AppProbe::busy(app), Busy::Sync);
    QCOMPARE(AppProbe::standing(app), waits);
    QStringList calls{QStringLiteral("sync\x1f--all\x1f-q\x1f"
                                     "en")};
    if (waits)
        calls << QStringLiteral("init\x1f") + folder +
                     QStringLiteral("\x1f--sync\x1f"
                                    "en");

    if (quits) {
        // The utility goes for good: no completion of its own runs any more. The standby outlives
        // it, and adds the folder only once the sync has ended.
        writeFile(release + QStringLiteral(".init"), "");
        QTRY_COMPARE_WITH_TIMEOUT(loggedCalls().size(), 1, 10000);
        app_.reset();
        QTest::qWait(300);
        QCOMPARE(loggedCalls().size(), 1);
        writeFile(release, "");
        QTRY_COMPARE_WITH_TIMEOUT(loggedCalls(), calls, 10000);
        return;
    }
    QSignalSpy refreshed(app, &App::refreshed);
    writeFile(release, "");
    QVERIFY(refreshed.wait(10000)); // the sync's completion
    QCOMPARE(AppProbe::busy(app), waits ? Busy::Sync : Busy::None);
    writeFile(release + QStringLiteral(".init"), "");
    QVERIFY(!AppProbe::standing(app)); // retired, when the addition started
    QTRY_VERIFY_WITH_TIMEOUT(AppProbe::busy(app) == Busy::None, 10000);
    app_.reset(); // a standby not retired would add the folder a second time now
    QTest::qWait(300);
    QCOMPARE(loggedCalls(), calls);
}

// Each tool is run by "Sync Now" `runs` times in a row; afterwards the command must be over, the
// menu offer its commands again, nothing be left behind (descriptors, zombies, threads), and a
// sound tool run after it must work.
void TestApp::toolFaults_data() {
    QTest::addColumn<QByteArray>("script"); // empty: `tool` names the tool as it is
    QTest::addColumn<QString>("tool");
    QTest::addColumn<int>("runs");
    QTest::addColumn<bool>("marks"); // each run of the script adds a byte to $MARK

    const QString none;
    QTest::newRow("SIGSEGV") << QByteArray("ulimit -c 0\necho >> \"$MARK\"\nkill -SEGV $$\nsleep 5")
                             << none << 1 << true;
    QTest::newRow("SIGABRT") << QByteArray("ulimit -c 0\necho >> \"$MARK\"\nkill -ABRT $$\nsleep 5")
                             << none << 1 << true;
    QTest::newRow("300 MB to stdout and stderr")
        << QByteArray("head -c 157286400 /dev/zero\nhead -c 157286400 /dev/zero >&2\n"
                      "echo >> \"$MARK\"")
        << none << 1 << true;
    QTest::newRow("long line without end to stdout")
        << QByteArray("tr '\\0' 'x' < /dev/zero | head -c 104857600\necho >> \"$MARK\"") << none
        << 1 << true;
    QTest::newRow("exit status 255")
        << QByteArray("echo >> \"$MARK\"\nexit 255") << none << 1 << true;
    QTest::newRow("exits at once, 1000 times in a row")
        << QByteArray("echo >> \"$MARK\"") << none << 1000 << true;
    QTest::newRow("directory") << QByteArray() << QStringLiteral("<dir>") << 1 << false;
    QTest::newRow("not executable") << QByteArray() << QStringLiteral("<plain>") << 1 << false;
    QTest::newRow("missing") << QByteArray() << QStringLiteral("<missing>") << 1 << false;
    QTest::newRow("empty path") << QByteArray() << QString() << 1 << false;
    QTest::newRow("NUL in path") << QByteArray() << QStringLiteral("<nul>") << 1 << false;
}

void TestApp::toolFaults() {
    QFETCH(QByteArray, script);
    QFETCH(QString, tool);
    QFETCH(int, runs);
    QFETCH(bool, marks);

    const QString mark =
        dir_.filePath(QStringLiteral("mark-") + QLatin1StringView(QTest::currentDataTag()));
    QFile::remove(mark);
    qputenv("MARK", QFile::encodeName(mark));
    if (!script.isEmpty()) {
        tool = writeScript(dir_.filePath(QStringLiteral("faulty-tool")), script);
        QVERIFY(!tool.isEmpty());
    } else if (tool == QLatin1String("<dir>")) {
        tool = dir_.filePath(QStringLiteral("a-directory"));
        QVERIFY(QDir().mkpath(tool));
    } else if (tool == QLatin1String("<plain>")) {
        tool = dir_.filePath(QStringLiteral("not-executable"));
        writeFile(tool, "#!/bin/sh\necho >> \"$MARK\"\n");
    } else if (tool == QLatin1String("<missing>")) {
        tool = dir_.filePath(QStringLiteral("no-such-tool"));
    } else if (tool == QLatin1String("<nul>")) {
        tool = dir_.filePath(QStringLiteral("tool")) + QChar(u'\0') + QStringLiteral("x");
    }

    tool_ = tool;
    App* app = makeApp();
    app->refresh();
    const int descriptors = openDescriptors();
    const int threads = threadCount();
    for (int i = 0; i < runs; ++i) {
        app->syncNow();
        QVERIFY2(waitUntil([app] { return AppProbe::busy(app) == Busy::None; }),
                 qPrintable(QString::number(i)));
    }
    QVERIFY(findAction(*AppProbe::item(app)->menu(), Action::SyncNow));
    QCOMPARE(QFileInfo(mark).size(), qint64(marks ? runs : 0));
    QCOMPARE(zombieChildren(), 0);
    QCOMPARE(openDescriptors(), descriptors);
    // Waiter threads end right after handing over their completion.
    QVERIFY2(waitUntil([threads] { return threadCount() <= threads; }),
             qPrintable(QStringLiteral("%1 threads, %2 before").arg(threadCount()).arg(threads)));

    // The utility goes on working with a sound tool.
    tool_ = writeScript(dir_.filePath(QStringLiteral("good-tool")), ": > \"$MARK.good\"");
    app->checkNow();
    QVERIFY(waitUntil([app] { return AppProbe::busy(app) == Busy::None; }));
    QVERIFY(QFile::exists(mark + QStringLiteral(".good")));
}

// Thousands of refreshes, each building a different menu and every few an icon of another colour:
// the live heap must end where it was after the first thousand.
void TestApp::manyRefreshesKeepTheHeapFlat() {
    constexpr int warmUp = 1000;
    constexpr int refreshes = 10000;
    const QByteArray key = QDir(dir_.path()).absolutePath().toUtf8();
    const QByteArray red =
        R"({"projects":{")" + key + R"(":{"secrets":3,"synced":"2024-05-01T10:00:00Z"}}})";
    const QByteArray green =
        R"({"projects":{")" + key + R"(":{"checked":"2024-05-01T10:00:00Z"}}})";

    App* app = makeApp();
    const qint64 start = liveHeap();
    qint64 before = 0;
    for (int i = 0; i < refreshes; ++i) {
        if (i % 10 == 0)
            writeState((i / 10) % 2 ? red : green);
        AppProbe::busy(app) = i % 2 ? Busy::Sync : Busy::None;
        app->refresh();
        if (i % 100 == 0) {
            QCoreApplication::processEvents(); // deferred deletions, as the event loop would run
            *notifier_ = {};                   // each turn to red is told
        }
        if (i + 1 == warmUp)
            before = liveHeap();
    }
    QCoreApplication::processEvents();
    const qint64 after = liveHeap();
    qInfo("live heap: %lld bytes before the first refresh, %lld after %d, %lld after %d (%+lld)",
          qlonglong(start), qlonglong(before), warmUp, qlonglong(after), refreshes,
          qlonglong(after - before));
    // Nine thousand refreshes that each kept a few bytes would pass this by far.
    QVERIFY2(after - before < 64 * 1024, qPrintable(QString::number(after - before)));
}

QTEST_MAIN(TestApp)
#include "test_app.moc"
