// App driven as the menu drives it, with a fake tool (a shell script that records its command
// line) and a fake workspace that records what would be opened.
#include "app/app.h"
#include "app/app_probe.h"
#include "desktop/workspace.h"
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
    void stateChangeShowsBeforeTheTimer();
    void toolFoundIsWhatRuns_data();
    void toolFoundIsWhatRuns();
    void relativeProjectOpensAbsolute_data();
    void relativeProjectOpensAbsolute();
    void watchMarkStaysOffWhenWatchCannotStart();
    void oneCommandAtATime_data();
    void oneCommandAtATime();

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
    setup.stateDir = stateDir_;
    setup.ru = russian;
    setup.workspace = std::move(workspace);
    setup.notifier = std::make_unique<RecordingNotifier>();
    const QString tool = tool_;
    setup.locateTool = [tool] { return tool; };
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

void TestApp::watchEndedFromOutside() {
    App* app = makeApp();
    app->toggleWatch();
    QVERIFY(AppProbe::watcher(app));
    ::kill(AppProbe::watcher(app)->pid(), SIGKILL);
    QTRY_VERIFY_WITH_TIMEOUT(!AppProbe::watcher(app), 10000);
    QVERIFY(!findAction(*AppProbe::item(app)->menu(), Action::ToggleWatch)->checked);
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
    QTest::addColumn<bool>("hasEditor");
    QTest::addColumn<bool>("hasAssigned");
    QTest::addColumn<QString>("opened"); // "master", "folder" or "editor"
    const auto s = [](const char* text) { return QString::fromUtf8(text); };
    QTest::newRow("master, desktop default") << true << false << false << s("master");
    QTest::newRow("master, editor, nothing assigned") << true << true << false << s("editor");
    QTest::newRow("master, editor, assigned app") << true << true << true << s("master");
    QTest::newRow("no master") << false << true << false << s("folder");
}

void TestApp::openMaster() {
    QFETCH(bool, hasMaster);
    QFETCH(bool, hasEditor);
    QFETCH(bool, hasAssigned);
    QFETCH(QString, opened);
    App* app = makeApp();
    const QString folder = dir_.filePath(QStringLiteral("R&D <b>x</b> \"q\" проект"));
    QDir().mkpath(folder);
    const QString master = folder + QStringLiteral("/QUILLNEST.md");
    QFile::remove(master);
    if (hasMaster)
        writeFile(master, "# master\n");
    if (hasEditor)
        workspace_->editor = QStringLiteral("TextEdit");
    if (hasAssigned)
        workspace_->assigned = QStringLiteral("editor.desktop");

    app->openMaster(folder);
    if (opened == QLatin1String("editor")) {
        QVERIFY(workspace_->opened.isEmpty());
        QCOMPARE(workspace_->openedWith.size(), 1);
        QCOMPARE(workspace_->openedWith.first().first, QUrl::fromLocalFile(master));
    } else {
        QVERIFY(workspace_->openedWith.isEmpty());
        QCOMPARE(workspace_->opened, QList<QUrl>{QUrl::fromLocalFile(
                                         opened == QLatin1String("master") ? master : folder)});
    }

    app->openMaster(QString());
    QCOMPARE(workspace_->opened.size() + workspace_->openedWith.size(), 1);
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

// The tool's new state shows without waiting for the 15-second timer.
void TestApp::stateChangeShowsBeforeTheTimer() {
    App* app = makeApp();
    app->applicationDidFinishLaunching();
    QCOMPARE(AppProbe::item(app)->menu()->front().title, QStringLiteral("Nothing synced yet"));
    const QByteArray project = QDir(dir_.path()).absolutePath().toUtf8();
    writeFile(stateDir_ + QStringLiteral("/new.json"),
              R"({"projects": {")" + project + R"(": {"checked": "2024-05-01T10:00:00Z"}}})");
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
// a sync started meanwhile runs is added after it. `busy` names a running command throughout.
void TestApp::oneCommandAtATime_data() {
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("waits");
    QTest::newRow("check") << QStringLiteral("check") << false;
    QTest::newRow("add project") << QStringLiteral("add") << false;
    QTest::newRow("folder chosen meanwhile") << QStringLiteral("chosen") << true;
}

void TestApp::oneCommandAtATime() {
    QFETCH(QString, second);
    QFETCH(bool, waits);
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

    QSignalSpy refreshed(app, &App::refreshed);
    writeFile(release, "");
    QVERIFY(refreshed.wait(10000)); // the sync's completion
    QCOMPARE(AppProbe::busy(app), waits ? Busy::Sync : Busy::None);
    writeFile(release + QStringLiteral(".init"), "");
    QTRY_VERIFY_WITH_TIMEOUT(AppProbe::busy(app) == Busy::None, 10000);
    QStringList calls{QStringLiteral("sync\x1f--all\x1f-q\x1f"
                                     "en")};
    if (waits)
        calls << QStringLiteral("init\x1f") + folder +
                     QStringLiteral("\x1f--sync\x1f"
                                    "en");
    QCOMPARE(loggedCalls(), calls);
}

QTEST_MAIN(TestApp)
#include "test_app.moc"
