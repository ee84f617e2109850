#include "support/processes.h"
#include "tool/child_process.h"
#include "tool/run.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

using namespace quillnest;
using namespace quillnest::test;
using namespace std::chrono_literals;

namespace {

// Counts completions and whether each arrived on the main thread.
struct Completion {
    int calls = 0;
    int offMain = 0;
    Outcome last;
    std::function<void(Outcome)> handler() {
        return [this](Outcome outcome) {
            ++calls;
            last = outcome;
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                ++offMain;
        };
    }
};

ProcessSpec shell(const QString& script, const QStringList& args = {}) {
    ProcessSpec spec;
    spec.argv << QStringLiteral("/bin/sh") << QStringLiteral("-c") << script << QStringLiteral("sh")
              << args;
    spec.env = processEnvironment();
    return spec;
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// State letter of a process from /proc/<pid>/stat and its parent; false when it is gone.
bool processState(pid_t pid, char* state, pid_t* parent) {
    const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0 || close + 4 > stat.size())
        return false;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 2)
        return false;
    *state = fields.at(0).at(0);
    *parent = static_cast<pid_t>(fields.at(1).toLong());
    return true;
}

// A child of this process with the given /proc/<pid>/comm; 0 when there is none.
pid_t childNamed(const QByteArray& name) {
    char state = 0;
    pid_t parent = 0;
    for (const QString& pid : entries(QStringLiteral("/proc")))
        if (readAll(QStringLiteral("/proc/%1/comm").arg(pid)) == name + '\n' &&
            processState(pid.toInt(), &state, &parent) && parent == ::getpid())
            return pid.toInt();
    return 0;
}

bool writeTool(const QString& path, const QByteArray& script) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(script) != script.size())
        return false;
    file.close();
    return ::chmod(QFile::encodeName(path).constData(), 0755) == 0;
}

} // namespace

class TestChildProcess : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void completion_data();
    void completion();
    void argumentsArriveUnchanged();
    void childStartsClean_data();
    void childStartsClean();
    void refusedLaunches();
    void throughAnotherParent_data();
    void throughAnotherParent();
    void detachedRuns_data();
    void detachedRuns();
    void terminateEndsChild();
    void destroyingLeavesChildRunning();
    void qprocessStillWorks();
    void bigOutput();
    void manyChildren();
};

void TestChildProcess::completion_data() {
    QTest::addColumn<QStringList>("argv");
    QTest::addColumn<bool>("launchFails");
    QTest::newRow("normal exit") << QStringList{QStringLiteral("/bin/true")} << false;
    QTest::newRow("failure exit") << QStringList{QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                                                 QStringLiteral("exit 3")}
                                  << false;
    QTest::newRow("killed by signal")
        << QStringList{QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                       QStringLiteral("kill -KILL $$")}
        << false;
    QTest::newRow("env without the tool")
        << QStringList{QStringLiteral("/usr/bin/env"), QStringLiteral("/nonexistent/quillnest")}
        << false;
    QTest::newRow("missing executable")
        << QStringList{QStringLiteral("/nonexistent dir/quillnest")} << true;
    QTest::newRow("bare name is not searched") << QStringList{QStringLiteral("true")} << true;
    QTest::newRow("directory as executable") << QStringList{QStringLiteral("/usr/bin")} << true;
    QTest::newRow("non-executable file") << QStringList{QStringLiteral("/etc/hostname")} << true;
}

void TestChildProcess::completion() {
    QFETCH(QStringList, argv);
    QFETCH(bool, launchFails);
    Completion done;
    run(ProcessSpec{argv, processEnvironment()}, done.handler());
    // A completion is either synchronous (failed launch) or queued: never before run returns.
    QCOMPARE(done.calls, launchFails ? 1 : 0);
    QTRY_COMPARE_WITH_TIMEOUT(done.calls, 1, 20000);
    QTest::qWait(50); // room for a wrongful second call
    QCOMPARE(done.calls, 1);
    QCOMPARE(done.offMain, 0);
}

// The full road of a tool run: a tool in a folder with odd characters, a project path that a shell
// would split, expand or execute, an environment value that is not UTF-8.
void TestChildProcess::argumentsArriveUnchanged() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString toolDir = dir.filePath(QStringLiteral("tools & ü 'x'"));
    QVERIFY(QDir().mkpath(toolDir));
    const QString tool = toolDir + QStringLiteral("/quill nest");
    QVERIFY(writeTool(tool, "#!/bin/sh\n"
                            "printf '%s\\0' \"$0\" \"$@\" > \"$QN_RECORD.args\"\n"
                            "/usr/bin/env -0 > \"$QN_RECORD.env\"\n"));
    const QString record = dir.filePath(QStringLiteral("record"));
    const QString project = dir.filePath(
        QStringLiteral("my \"proj\" $(touch pwned) & `touch pwned2`; 'q' <b> * ё ✓\\n"));
    const QString odd = QStringLiteral("a\nb $HOME 'c'");

    const QByteArray notUtf8("a\xff\xc0\xaf"
                             "b");
    qputenv("QN_NOT_UTF8", notUtf8);
    Env inherited = processEnvironment();
    qunsetenv("QN_NOT_UTF8");
    inherited.insert("QN_RECORD", QFile::encodeName(record));
    inherited.insert("QN_ODD", odd.toUtf8());
    inherited.insert("QUILLNEST_LANG", "en");
    inherited.insert("PYTHONDONTWRITEBYTECODE", "0");
    const ProcessSpec spec =
        processSpec({QStringLiteral("sync"), project, QStringLiteral("-q")}, tool, inherited, true);

    Completion done;
    const QString cwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path())); // where a shell would have created "pwned"
    run(spec, done.handler());
    QVERIFY(QDir::setCurrent(cwd));
    QTRY_COMPARE_WITH_TIMEOUT(done.calls, 1, 20000);

    QList<QByteArray> args = readAll(record + QStringLiteral(".args")).split('\0');
    QCOMPARE(args.takeLast(), QByteArray());
    QCOMPARE(args, (QList<QByteArray>{QFile::encodeName(tool), "sync", QFile::encodeName(project),
                                      "-q"}));

    Env seen;
    const QList<QByteArray> lines = readAll(record + QStringLiteral(".env")).split('\0');
    for (const QByteArray& line : lines) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            seen.insert(line.left(eq), line.mid(eq + 1));
    }
    QCOMPARE(seen.value("QUILLNEST_LANG"), QByteArray("ru"));
    QCOMPARE(seen.value("PYTHONDONTWRITEBYTECODE"), QByteArray("1"));
    QCOMPARE(seen.value("QN_ODD"), odd.toUtf8());
    QCOMPARE(seen.value("QN_NOT_UTF8"), notUtf8);
    QCOMPARE(seen.value("PATH"), spec.env.value("PATH"));
    QCOMPARE(seen.size(), spec.env.size());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("pwned"))));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("pwned2"))));
}

// The child starts clean whatever the parent's state: a descriptor opened without close-on-exec,
// an ignored SIGPIPE and a blocked SIGUSR1 stay behind. Read from /proc while the child sleeps.
void TestChildProcess::childStartsClean_data() {
    QTest::addColumn<bool>("tied");
    QTest::newRow("own") << false;
    QTest::newRow("tied (fork and exec)") << true;
}

void TestChildProcess::childStartsClean() {
    QFETCH(bool, tied);
    const int plain = ::open("/dev/null", O_RDONLY); // no O_CLOEXEC
    QVERIFY(plain >= 0);
    const int leaked = ::fcntl(plain, F_DUPFD, 100); // F_DUPFD clears close-on-exec
    ::close(plain);
    QVERIFY(leaked >= 100);
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    QCOMPARE(::sigaction(SIGPIPE, &ignore, &previous), 0);
    sigset_t usr1;
    sigset_t oldMask;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    QCOMPARE(pthread_sigmask(SIG_BLOCK, &usr1, &oldMask), 0);

    ChildProcess child;
    Completion done;
    child.setTerminationHandler(done.handler());
    const bool launched =
        child.launch(ProcessSpec{{QStringLiteral("/bin/sleep"), QStringLiteral("30")}, {}},
                     tied ? Lifetime::Tied : Lifetime::Own);
    pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    ::sigaction(SIGPIPE, &previous, nullptr);
    ::close(leaked);
    QVERIFY(launched);

    const QString proc = QStringLiteral("/proc/%1/").arg(child.pid());
    QTRY_COMPARE_WITH_TIMEOUT(
        entries(proc + QStringLiteral("fd")),
        (QStringList{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")}), 20000);
    QCOMPARE(QFile::symLinkTarget(proc + QStringLiteral("fd/0")),
             QFile::symLinkTarget(QStringLiteral("/proc/self/fd/0")));
    QCOMPARE(QFile::symLinkTarget(proc + QStringLiteral("fd/1")), QStringLiteral("/dev/null"));
    QCOMPARE(QFile::symLinkTarget(proc + QStringLiteral("fd/2")), QStringLiteral("/dev/null"));

    quint64 blocked = ~0ull;
    quint64 ignored = ~0ull;
    const QByteArrayList lines = readAll(proc + QStringLiteral("status")).split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("SigBlk:"))
            blocked = line.mid(7).trimmed().toULongLong(nullptr, 16);
        if (line.startsWith("SigIgn:"))
            ignored = line.mid(7).trimmed().toULongLong(nullptr, 16);
    }
    QCOMPARE(blocked, quint64(0));
    // glibc's posix_spawn leaves its two internal signals (32, 33) ignored; nothing else may be.
    QCOMPARE(ignored & ~quint64(0x180000000), quint64(0));

    child.terminate();
    QTRY_COMPARE_WITH_TIMEOUT(done.calls, 1, 20000);
}

void TestChildProcess::refusedLaunches() {
    Completion done;
    {
        ChildProcess child;
        child.setTerminationHandler(done.handler());
        QVERIFY(!child.launch(ProcessSpec{}));
        QVERIFY(!child.isRunning());
        QCOMPARE(child.pid(), pid_t(0));
        child.terminate(); // nothing to signal
    }
    {
        // A NUL would cut the argument short; it is refused rather than passed shortened.
        ChildProcess child;
        child.setTerminationHandler(done.handler());
        QVERIFY(!child.launch(
            ProcessSpec{{QStringLiteral("/bin/true"),
                         QStringLiteral("/tmp/a") + QChar(u'\0') + QStringLiteral("b")},
                        {}}));
    }
    {
        ChildProcess child;
        child.setTerminationHandler(done.handler());
        QVERIFY(child.launch(ProcessSpec{{QStringLiteral("/bin/true")}, {}}));
        QVERIFY(!child.launch(ProcessSpec{{QStringLiteral("/bin/true")}, {}}));
    }
    for (const char* path : {"/nonexistent dir/quillnest", "/etc/hostname"}) {
        ChildProcess child; // the fork and exec path reports a failed exec too, and reaps
        child.setTerminationHandler(done.handler());
        QVERIFY(!child.launch(ProcessSpec{{QLatin1String(path)}, {}}, Lifetime::Tied));
        QCOMPARE(zombieChildren(), 0);
    }
    QTRY_COMPARE_WITH_TIMEOUT(done.calls, 1, 20000); // only the one real child
    QTest::qWait(50);
    QCOMPARE(done.calls, 1);
}

void TestChildProcess::terminateEndsChild() {
    ChildProcess child;
    Completion done;
    child.setTerminationHandler(done.handler());
    QVERIFY(child.launch(ProcessSpec{{QStringLiteral("/bin/sleep"), QStringLiteral("30")}, {}}));
    const pid_t pid = child.pid();
    QVERIFY(pid > 0);
    QVERIFY(child.isRunning());
    child.terminate();
    QTRY_COMPARE_WITH_TIMEOUT(done.calls, 1, 20000);
    QCOMPARE(done.offMain, 0);
    QVERIFY(!child.isRunning());
    QCOMPARE(child.pid(), pid);
    child.terminate(); // reaped: must not signal whatever owns the pid now
    QVERIFY(!child.isRunning());
}

void TestChildProcess::destroyingLeavesChildRunning() {
    Completion done;
    pid_t pid = 0;
    {
        ChildProcess child;
        child.setTerminationHandler(done.handler());
        QVERIFY(
            child.launch(ProcessSpec{{QStringLiteral("/bin/sleep"), QStringLiteral("30")}, {}}));
        pid = child.pid();
    }
    QTest::qWait(50);
    char state = 0;
    pid_t parent = 0;
    QVERIFY(processState(pid, &state, &parent));
    QCOMPARE(parent, ::getpid());
    QVERIFY(state != 'Z');
    QCOMPARE(done.calls, 0);
    QCOMPARE(::kill(pid, SIGKILL), 0); // unreaped until its waiter sees it end: still ours
    QTRY_COMPARE_WITH_TIMEOUT(done.calls, 1, 20000);
    QCOMPARE(done.offMain, 0);
}

// Waiting on our own pids only leaves QProcess's children to QProcess.
void TestChildProcess::qprocessStillWorks() {
    ChildProcess child;
    Completion done;
    child.setTerminationHandler(done.handler());
    QVERIFY(child.launch(ProcessSpec{{QStringLiteral("/bin/sleep"), QStringLiteral("30")}, {}}));
    QProcess process;
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exit 7")});
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 7);
    QVERIFY(child.isRunning());
    child.terminate();
    QTRY_COMPARE_WITH_TIMEOUT(done.calls, 1, 20000);
}

void TestChildProcess::bigOutput() {
    Completion done;
    run(shell(QStringLiteral("head -c 100000000 /dev/zero; head -c 100000000 /dev/zero >&2")),
        done.handler());
    QTRY_COMPARE_WITH_TIMEOUT(done.calls, 1, 60000);
}

// Many short children leave no zombie, no descriptor and no thread behind.
void TestChildProcess::manyChildren() {
    const ProcessSpec spec{{QStringLiteral("/bin/true")}, {}};
    const QString fdDir = QStringLiteral("/proc/self/fd");
    const QString taskDir = QStringLiteral("/proc/self/task");
    const qsizetype threadsBefore = entries(taskDir).size();
    Completion warmUp; // lets the event loop create whatever it creates lazily
    run(spec, warmUp.handler());
    QTRY_COMPARE_WITH_TIMEOUT(warmUp.calls, 1, 20000);
    const qsizetype fdsBefore = entries(fdDir).size();

    constexpr int total = 1000;
    constexpr int inFlight = 32;
    Completion done;
    int launched = 0;
    while (launched < total) {
        while (launched < total && launched - done.calls < inFlight) {
            run(spec, done.handler());
            ++launched;
        }
        QTRY_VERIFY_WITH_TIMEOUT(launched - done.calls < inFlight || launched == total, 20000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(done.calls, total, 60000);
    QCOMPARE(done.offMain, 0);
    QCOMPARE(zombieChildren(), 0);
    QCOMPARE(entries(fdDir).size(), fdsBefore);
    QTRY_COMPARE_WITH_TIMEOUT(entries(taskDir).size(), threadsBefore, 20000);
}

// A child launched by the helper, a parent of its own: a tied one ends when that parent is killed;
// a failure stays a failure under an ignored SIGCHLD the parent inherited.
void TestChildProcess::throughAnotherParent_data() {
    QTest::addColumn<QString>("args");
    QTest::addColumn<QByteArray>("expected"); // "gone", "alive" after a kill, or the outcome
    QTest::newRow("tied, parent killed")
        << QStringLiteral("tied /bin/sleep 60") << QByteArray("gone");
    QTest::newRow("own, parent killed")
        << QStringLiteral("own /bin/sleep 60") << QByteArray("alive");
    QTest::newRow("SIGCHLD ignored, made default")
        << QStringLiteral("--default-sigchld tied /bin/false") << QByteArray("1 1");
    QTest::newRow("SIGCHLD ignored: unknown, no success")
        << QStringLiteral("own /bin/false") << QByteArray("3 0");
}

void TestChildProcess::throughAnotherParent() {
    QFETCH(QString, args);
    QFETCH(QByteArray, expected);
    QProcess helper;
    helper.startCommand(
        QStringLiteral("/usr/bin/env --ignore-signal=CHLD " QN_BINARY_DIR "/bin/child_helper ") +
        args);
    QVERIFY(helper.waitForReadyRead(20000));
    const pid_t pid = helper.readLine().trimmed().toInt();
    QVERIFY(pid > 0);
    if (!expected.contains(' '))
        helper.kill();
    QVERIFY(helper.waitForFinished(20000));
    char state = 0;
    pid_t parent = 0;
    const auto alive = [&] { return processState(pid, &state, &parent) && state != 'Z'; };
    QVERIFY(waitUntil([&] { return !alive(); }, expected == "alive" ? 500 : 10000) !=
            (expected == "alive"));
    QCOMPARE(helper.readAll().trimmed(), expected.contains(' ') ? expected : QByteArray());
    ::kill(pid, SIGKILL);
}

// The detached process names itself, waits for the running command and runs the rest in order;
// it gives up on a wait or a run at its bound, and says so on the standard error it kept. On
// standby it runs nothing while its holder lives, even once the command has ended: retired, it
// ends; let go of (as when the utility is killed), it waits for the command, then runs.
void TestChildProcess::detachedRuns_data() {
    QTest::addColumn<QString>("running"); // the command it waits for: ends, never ends, none; or
    QTest::addColumn<QByteArray>(
        "said"); // it ends, the process held on standby and retired or let go
    QTest::newRow("waits, then runs") << QStringLiteral("ends") << QByteArray();
    QTest::newRow("gives up the wait")
        << QStringLiteral("never") << QByteArray("command had not ended after 1 s; given up");
    QTest::newRow("ends a hung run and its child, runs the next")
        << QString() << QByteArray("had not ended after 1 s and was ended");
    QTest::newRow("standby retired: runs nothing") << QStringLiteral("retired") << QByteArray();
    QTest::newRow("standby let go of: runs once the command has ended")
        << QStringLiteral("let go") << QByteArray();
}

void TestChildProcess::detachedRuns() {
    QFETCH(QString, running);
    QFETCH(QByteArray, said);
    const bool retire = running == u"retired", standby = retire || running == u"let go";
    QVERIFY(::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0); // the detached process comes back to us
    QTemporaryDir dir;
    const QString mark = dir.filePath(QStringLiteral("mark"));
    std::vector<ProcessSpec> specs;
    if (running.isEmpty()) // a hung run, with a child of its own
        specs.push_back(shell(QStringLiteral("sleep 60 & echo $! > \"$1\"; wait"), {mark + u'p'}));
    specs.push_back(shell(QStringLiteral("echo >> \"$1\""), {mark}));
    const ProcessSpec sleep{{QStringLiteral("/bin/sleep"), QStringLiteral("60")}, {}};
    ChildProcess command;
    QVERIFY(running.isEmpty() || command.launch(sleep));
    const int savedErr = ::dup(2),
              logFd = ::open(QFile::encodeName(mark + u'l'), O_WRONLY | O_CREAT, 0600);
    ::dup2(logFd, 2);
    auto held = std::make_unique<Standby>();
    QVERIFY(standby ? held->start(specs, &command, 1000ms)
                    : launchInOrderDetached(specs, running.isEmpty() ? nullptr : &command, 1000ms));
    ::dup2(savedErr, 2);
    ::close(savedErr);
    ::close(logFd);

    pid_t runner = 0;
    QTRY_VERIFY_WITH_TIMEOUT((runner = childNamed("quillnest-add")) > 0, 10000);
    QByteArray cmdline = readAll(QStringLiteral("/proc/%1/cmdline").arg(runner));
    QCOMPARE(cmdline.left(cmdline.indexOf('\0')), QByteArray("quillnest-bar: adding folders"));
    ChildProcess own, tied; // launched meanwhile: the standby's end is kept from them
    if (standby) {
        QVERIFY(own.launch(sleep) && tied.launch(sleep, Lifetime::Tied));
        if (retire)
            command.terminate(); // ended while the holder lives: nothing runs yet
        QTest::qWait(300);
        QVERIFY(!QFile::exists(mark) && ::waitpid(runner, nullptr, WNOHANG) == 0);
        retire ? held->retire() : held.reset();
        QTest::qWait(retire ? 0 : 300); // let go of, it waits for the command still running
        QVERIFY(retire || (!QFile::exists(mark) && ::waitpid(runner, nullptr, WNOHANG) == 0));
    }
    if (running != QLatin1String("never"))
        command.terminate();
    int status = -1;
    QVERIFY(waitUntil([&] { return ::waitpid(runner, &status, WNOHANG) == runner; }, 20000));
    QCOMPARE(WEXITSTATUS(status), running == QLatin1String("never") ? 1 : 0);
    QCOMPARE(QFile::exists(mark), running != QLatin1String("never") && !retire);
    QVERIFY(readAll(mark + u'l').contains(said));
    const pid_t orphan = readAll(mark + u'p').trimmed().toInt(); // ended, and came back to us
    QVERIFY(running.isEmpty() ==
            (orphan > 0 &&
             waitUntil([&] { return ::waitpid(orphan, &status, WNOHANG) == orphan; }, 20000)));
    for (ChildProcess* child : {&command, &own, &tied})
        child->terminate();
}

QTEST_GUILESS_MAIN(TestChildProcess)
#include "test_child_process.moc"
