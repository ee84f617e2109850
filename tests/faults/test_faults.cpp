// The running App under faults: tools that crash, flood their output, exit at once over and over
// or cannot be started; a watch process killed from outside; a pointer file full of garbage; the
// state file rewritten underneath a refresh loop; and the heap over thousands of refreshes.
//
// Every tool is a small /bin/sh script started as the App starts every tool it finds: by its path.
#include "app/app.h"
#include "app/app_probe.h"
#include "desktop/workspace.h"
#include "menu/compose.h"
#include "state/summary.h"
#include "support/recording_notifier.h"
#include "support/recording_workspace.h"
#include "support/test_support.h"
#include "tool/child_process.h"
#include "tool/cli_path.h"
#include "tray/status_item.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define QN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QN_ASAN 1
#endif
#endif

#ifdef QN_ASAN
// From the sanitizer runtime (sanitizer/allocator_interface.h, which not every compiler ships).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

using namespace quillnest;
using namespace quillnest::test;

namespace {

constexpr int quickRuns = 1000;

QString writeScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
    return path;
}

// Runs the event loop until `done` holds or the timeout passes. Wakes for every posted event (child
// completions are posted from their waiter threads) and at least every 20 ms.
template<typename Predicate> bool waitUntil(Predicate done, int timeoutMs = 30000) {
    const QDeadlineTimer deadline(timeoutMs);
    QTimer wake;
    wake.start(20);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

int openDescriptors() {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    while (const dirent* entry = ::readdir(dir))
        count += entry->d_name[0] != '.';
    ::closedir(dir);
    return count - 1; // the directory's own descriptor
}

int threadCount() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("Threads:"))
            return line.mid(8).trimmed().toInt();
    return -1;
}

// Children of this process that have ended and not been reaped.
int zombieChildren() {
    int zombies = 0;
    const QByteArray self = QByteArray::number(::getpid());
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return -1;
    while (const dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(QLatin1StringView(entry->d_name)));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": comm may hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1] == self && fields[0] == "Z")
            ++zombies;
    }
    ::closedir(proc);
    return zombies;
}

// Live heap bytes as the allocator in use counts them.
qint64 liveHeap() {
#ifdef QN_ASAN
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    return qint64(mallinfo2().uordblks);
#endif
}

const MenuItem* findAction(const Menu& menu, Action action) {
    for (const MenuItem& item : menu)
        if (item.action == action)
            return &item;
    return nullptr;
}

QString firstLine(const App& app) {
    return AppProbe::item(&app)->menu() && !AppProbe::item(&app)->menu()->empty()
               ? AppProbe::item(&app)->menu()->front().title
               : QString();
}

// A state file listing the first `count` of `projects`, each entry alike, in one fixed order. Two
// such files agree byte for byte up to where the shorter one closes its projects, so a read that
// mixes the bytes of two of them is either one of them or not JSON at all.
QByteArray stateListing(const QStringList& projects, qsizetype count) {
    QByteArray json = "{\"projects\":{";
    for (qsizetype i = 0; i < count; ++i) {
        if (i > 0)
            json += ',';
        json += '"' + projects[i].toUtf8().replace('\\', "\\\\").replace('"', "\\\"") +
                "\":{\"secrets\":1,\"warn\":2,\"synced\":\"2024-05-01T10:00:00Z\"}";
    }
    return json + "}}\n";
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void toolFaults_data();
    void toolFaults();
    void quickExitsInARow();
    void watchKilledFromOutside();
    void garbagePointerFile_data();
    void garbagePointerFile();
    void stateRewrittenWhileRefreshing_data();
    void stateRewrittenWhileRefreshing();
    void manyRefreshesKeepTheHeapFlat();

private:
    App* makeApp(const QString& tool);
    QString path(const QString& name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
    QString stateDir_;
    QString tool_; // what the App's tool search finds
    std::unique_ptr<App> app_;
};

void TestFaults::init() {
    QVERIFY(dir_.isValid());
    stateDir_ = path(QStringLiteral("state-") + QLatin1StringView(QTest::currentTestFunction()) +
                     QLatin1StringView(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(stateDir_));
}

void TestFaults::cleanup() {
    if (app_ && AppProbe::watcher(app_.get()))
        AppProbe::watcher(app_.get())->terminate();
    app_.reset();
}

App* TestFaults::makeApp(const QString& tool) {
    AppSetup setup;
    setup.stateDir = stateDir_;
    setup.workspace = std::make_unique<RecordingWorkspace>();
    setup.notifier = std::make_unique<RecordingNotifier>();
    tool_ = tool;
    setup.locateTool = [this] { return tool_; };
    app_ = std::make_unique<App>(std::move(setup));
    return app_.get();
}

// Each tool is run by "Sync Now"; afterwards the command must be over, the menu offer its commands
// again, and a sound tool run after it must work.
void TestFaults::toolFaults_data() {
    QTest::addColumn<QByteArray>("script"); // empty: `tool` names the tool as it is
    QTest::addColumn<QString>("tool");
    QTest::addColumn<bool>("marks"); // the script touches $MARK once it has done its part

    const QString none;
    QTest::newRow("SIGSEGV") << QByteArray("ulimit -c 0\n: > \"$MARK\"\nkill -SEGV $$\nsleep 5")
                             << none << true;
    QTest::newRow("SIGABRT") << QByteArray("ulimit -c 0\n: > \"$MARK\"\nkill -ABRT $$\nsleep 5")
                             << none << true;
    QTest::newRow("300 MB to stdout and stderr")
        << QByteArray("head -c 157286400 /dev/zero\nhead -c 157286400 /dev/zero >&2\n"
                      ": > \"$MARK\"")
        << none << true;
    QTest::newRow("long line without end to stdout")
        << QByteArray("tr '\\0' 'x' < /dev/zero | head -c 104857600\n: > \"$MARK\"") << none
        << true;
    QTest::newRow("exit status 255") << QByteArray(": > \"$MARK\"\nexit 255") << none << true;
    QTest::newRow("directory") << QByteArray() << QStringLiteral("<dir>") << false;
    QTest::newRow("not executable") << QByteArray() << QStringLiteral("<plain>") << false;
    QTest::newRow("missing") << QByteArray() << QStringLiteral("<missing>") << false;
    QTest::newRow("empty path") << QByteArray() << QString() << false;
    QTest::newRow("NUL in path") << QByteArray() << QStringLiteral("<nul>") << false;
}

void TestFaults::toolFaults() {
    QFETCH(QByteArray, script);
    QFETCH(QString, tool);
    QFETCH(bool, marks);

    const QString mark = path(QStringLiteral("mark-") + QLatin1StringView(QTest::currentDataTag()));
    QFile::remove(mark);
    qputenv("MARK", QFile::encodeName(mark));
    if (!script.isEmpty()) {
        tool = writeScript(path(QStringLiteral("faulty-tool")), script);
        QVERIFY(!tool.isEmpty());
    } else if (tool == QLatin1String("<dir>")) {
        tool = path(QStringLiteral("a-directory"));
        QVERIFY(QDir().mkpath(tool));
    } else if (tool == QLatin1String("<plain>")) {
        tool = path(QStringLiteral("not-executable"));
        writeFile(tool, "#!/bin/sh\n: > \"$MARK\"\n");
    } else if (tool == QLatin1String("<missing>")) {
        tool = path(QStringLiteral("no-such-tool"));
    } else if (tool == QLatin1String("<nul>")) {
        tool = path(QStringLiteral("tool")) + QChar(u'\0') + QStringLiteral("x");
    }

    App* app = makeApp(tool);
    app->refresh();
    const int descriptors = openDescriptors();
    app->syncNow();
    QVERIFY(waitUntil([app] { return AppProbe::busy(app) == Busy::None; }));
    QVERIFY(findAction(*AppProbe::item(app)->menu(), Action::SyncNow));
    QCOMPARE(QFile::exists(mark), marks);
    QCOMPARE(zombieChildren(), 0);
    QCOMPARE(openDescriptors(), descriptors);

    // The utility goes on working with a sound tool.
    const QString good = writeScript(path(QStringLiteral("good-tool")), ": > \"$MARK.good\"");
    tool_ = good;
    app->checkNow();
    QVERIFY(waitUntil([app] { return AppProbe::busy(app) == Busy::None; }));
    QVERIFY(QFile::exists(mark + QStringLiteral(".good")));
}

// A tool that exits at once, run again as soon as the previous run is over: nothing may pile up
// (descriptors, zombies, threads) and the last run must leave the App idle.
void TestFaults::quickExitsInARow() {
    const QString counter = path(QStringLiteral("runs"));
    QFile::remove(counter);
    qputenv("RUNS", QFile::encodeName(counter));
    App* app = makeApp(writeScript(path(QStringLiteral("quick")), "echo >> \"$RUNS\""));
    app->refresh();
    const int descriptors = openDescriptors();
    const int threads = threadCount();

    for (int i = 0; i < quickRuns; ++i) {
        app->syncNow();
        QVERIFY2(AppProbe::busy(app) != Busy::None, "the launch itself failed");
        QVERIFY2(waitUntil([app] { return AppProbe::busy(app) == Busy::None; }),
                 qPrintable(QString::number(i)));
    }

    QVERIFY(AppProbe::busy(app) == Busy::None);
    QVERIFY(findAction(*AppProbe::item(app)->menu(), Action::SyncNow));
    QCOMPARE(QFileInfo(counter).size(), qint64(quickRuns)); // one line of one byte per run
    QCOMPARE(zombieChildren(), 0);
    QCOMPARE(openDescriptors(), descriptors);
    // Waiter threads end right after handing over their completion.
    QVERIFY2(waitUntil([threads] { return threadCount() <= threads; }),
             qPrintable(QStringLiteral("%1 threads, %2 before").arg(threadCount()).arg(threads)));
}

// The watch process killed by someone else: the next refresh, whichever comes first, shows the
// watch item off, and the completion forgets the process.
void TestFaults::watchKilledFromOutside() {
    App* app = makeApp(writeScript(path(QStringLiteral("watching")),
                                   ": > \"$MARK\"\nwhile :; do sleep 0.05; done"));
    const QString mark = path(QStringLiteral("watch-started"));
    QFile::remove(mark);
    qputenv("MARK", QFile::encodeName(mark));
    app->toggleWatch();
    QVERIFY(AppProbe::watcher(app) && AppProbe::watcher(app)->isRunning());
    QVERIFY(findAction(*AppProbe::item(app)->menu(), Action::ToggleWatch)->checked);
    QVERIFY(waitUntil([&] { return QFile::exists(mark); }));
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

    QVERIFY(waitUntil([app] { return !AppProbe::watcher(app); }));
    QVERIFY(!findAction(*AppProbe::item(app)->menu(), Action::ToggleWatch)->checked);
    QCOMPARE(zombieChildren(), 0);

    // Switching it on again starts a new process.
    app->toggleWatch();
    QVERIFY(AppProbe::watcher(app) && AppProbe::watcher(app)->isRunning() &&
            AppProbe::watcher(app)->pid() != pid);
    QVERIFY(findAction(*AppProbe::item(app)->menu(), Action::ToggleWatch)->checked);
}

// A pointer file next to the executable that holds garbage is passed over: the search goes on to
// the tool in ~/.local/bin, and the App launches that one.
void TestFaults::garbagePointerFile_data() {
    QTest::addColumn<QByteArray>("pointer");
    QByteArray random(4096, Qt::Uninitialized);
    quint32 x = 2463534242u; // xorshift32: the same bytes every run
    for (char& byte : random) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = char(x);
    }
    QTest::newRow("random bytes") << random;
    QTest::newRow("invalid UTF-8") << QByteArray("\xff\xfe\xc3\x28\xa0\xa1\xe2\x28\xa1\xf0\x90");
    QTest::newRow("UTF-8 cut short") << QByteArray("/usr/bin/quillnest\xe2\x82");
    QTest::newRow("controls and NUL") << QByteArray("\x01\x02\x00\x7f\x1b[31m\x00", 10);
    QTest::newRow("real tool, then NUL") << QByteArray("<tool>\0garbage", 15);
    QTest::newRow("real tool, then garbage line") << QByteArray("<tool>\n\x01\x02\x03");
    QTest::newRow("a directory") << QByteArray("<dir>\n");
    QTest::newRow("byte-order mark only") << QByteArray("\xef\xbb\xbf");
    QTest::newRow("4 MB of zeros") << QByteArray(4 << 20, '\0');
}

void TestFaults::garbagePointerFile() {
    QFETCH(QByteArray, pointer);
    const QString resources =
        path(QStringLiteral("share-") + QLatin1StringView(QTest::currentDataTag()));
    const QString home = path(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(resources));
    QVERIFY(QDir().mkpath(home + QStringLiteral("/.local/bin")));
    const QString log = path(QStringLiteral("pointer-log"));
    QFile::remove(log);
    qputenv("LOG", QFile::encodeName(log));
    const QString homeTool =
        writeScript(home + QStringLiteral("/.local/bin/quillnest"), "echo \"$*\" >> \"$LOG\"");
    // The garbage may embed the path of a real tool, which must still not be taken.
    const QString pointed = writeScript(path(QStringLiteral("pointed-tool")), "exit 0");
    pointer.replace("<tool>", QFile::encodeName(pointed));
    pointer.replace("<dir>", QFile::encodeName(home));
    writeFile(resources + QStringLiteral("/cli"), pointer);

    const QString chosen = cliPathFrom({resources, home, isExecutableFile, readUtf8File});
    QCOMPARE(chosen, homeTool);

    App* app = makeApp(chosen);
    app->syncNow();
    QVERIFY(waitUntil([app] { return AppProbe::busy(app) == Busy::None; }));
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("sync --all -q\n"));
}

// A writer thread replaces the state file over and over while the App refreshes in a loop. Every
// refresh must show one of the written states or the empty one, whatever moment it reads at.
void TestFaults::stateRewrittenWhileRefreshing_data() {
    QTest::addColumn<bool>("inPlace");
    QTest::newRow("atomic rename") << false;
    QTest::newRow("truncated in place") << true;
}

void TestFaults::stateRewrittenWhileRefreshing() {
    QFETCH(bool, inPlace);
    constexpr int rewrites = 300;

    // Real project folders, so that existence checks keep them; enough of them that the largest
    // state spans several pages.
    QStringList projects;
    for (int i = 0; i < 120; ++i) {
        projects.append(
            path(QStringLiteral("projects/R&D \"%1\" проект").arg(i, 3, 10, QChar(u'0'))));
        QVERIFY(QDir().mkpath(projects.last()));
    }
    const QList<qsizetype> counts{1, 120, 7, 40};
    QList<QByteArray> states;
    for (const qsizetype count : counts)
        states.append(stateListing(projects, count));

    // What each state reads as, and the first menu line it shows; the empty state too.
    App* app = makeApp(path(QStringLiteral("unused-tool")));
    const QString file = stateDir_ + QStringLiteral("/state.json");
    QList<Summary> valid{Summary{}};
    QSet<QString> validLines;
    app->refresh();
    validLines.insert(firstLine(*app));
    for (const QByteArray& state : states) {
        writeFile(file, state);
        valid.append(readState(stateDir_));
        QCOMPARE(valid.last().projects.size(), counts[valid.size() - 2]);
        app->refresh();
        validLines.insert(firstLine(*app));
    }
    QCOMPARE(validLines.size(), states.size() + 1);

    std::atomic<int> reads{0};
    std::atomic<bool> failed{false};
    std::atomic<bool> stop{false};
    std::atomic<bool> written{false};
    std::thread writer([&] {
        const QByteArray target = QFile::encodeName(file);
        const QByteArray temporary = target + ".tmp";
        // At least `rewrites` rewrites, and on until the reader has read as many times.
        for (int i = 0; !stop && !failed && (i < rewrites || reads < rewrites); ++i) {
            const QByteArray& state = states[i % states.size()];
            if (inPlace) {
                // Two writes, so that a reader also meets half a file.
                const int fd = ::open(target.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
                const size_t half = size_t(state.size()) / 2;
                if (fd < 0 || !writeAll(fd, state.constData(), half) ||
                    !writeAll(fd, state.constData() + half, size_t(state.size()) - half))
                    failed = true;
                if (fd >= 0)
                    ::close(fd);
            } else {
                const int fd =
                    ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                if (fd < 0 || !writeAll(fd, state.constData(), size_t(state.size())))
                    failed = true;
                if (fd >= 0)
                    ::close(fd);
                if (::rename(temporary.constData(), target.constData()) != 0)
                    failed = true;
            }
        }
        written = true;
    });
    // Ends the writer also when a check below returns early.
    struct Stop {
        std::atomic<bool>& stop;
        std::thread& thread;
        ~Stop() {
            stop = true;
            if (thread.joinable())
                thread.join();
        }
    } stopWriter{stop, writer};

    int nonEmpty = 0;
    QSet<QString> seen;
    while (!written) {
        const Summary summary = readState(stateDir_);
        QVERIFY2(valid.contains(summary), qPrintable(summary.projects.join(u'|')));
        nonEmpty += !summary.projects.isEmpty();
        app->refresh();
        QVERIFY2(validLines.contains(firstLine(*app)), qPrintable(firstLine(*app)));
        seen.insert(firstLine(*app));
        ++reads;
    }
    writer.join();
    QVERIFY(!failed);
    if (!inPlace)
        QCOMPARE(nonEmpty, int(reads)); // a renamed file is always whole
    qInfo("%d reads, %d of them non-empty; %lld distinct menu lines", int(reads), nonEmpty,
          qlonglong(seen.size()));
}

// Thousands of refreshes, each building a different menu and every few an icon of another colour:
// the live heap must end where it was after the first thousand.
void TestFaults::manyRefreshesKeepTheHeapFlat() {
    constexpr int warmUp = 1000;
    constexpr int refreshes = 10000;
    const QString project = path(QStringLiteral("heap-project"));
    QVERIFY(QDir().mkpath(project));
    const QByteArray key = project.toUtf8();
    const QByteArray red =
        R"({"projects":{")" + key + R"(":{"secrets":3,"synced":"2024-05-01T10:00:00Z"}}})";
    const QByteArray green =
        R"({"projects":{")" + key + R"(":{"checked":"2024-05-01T10:00:00Z"}}})";
    const QString file = stateDir_ + QStringLiteral("/state.json");

    App* app = makeApp(path(QStringLiteral("unused-tool")));
    const qint64 start = liveHeap();
    qint64 before = 0;
    for (int i = 0; i < refreshes; ++i) {
        if (i % 10 == 0)
            writeFile(file, (i / 10) % 2 ? red : green);
        if (i % 2)
            AppProbe::busy(app) = Busy::Sync;
        else
            AppProbe::busy(app) = Busy::None;
        app->refresh();
        if (i % 100 == 0)
            QCoreApplication::processEvents(); // deferred deletions, as the event loop would run
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

QTEST_MAIN(TestFaults)
#include "test_faults.moc"
