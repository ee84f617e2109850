#include "tool/child_process.h"

#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace quillnest {

namespace {

// Shared between the ChildProcess, which may go away at any time, and the waiter thread, which
// lives until the child has been reaped.
struct ChildState {
    std::mutex mutex;
    std::condition_variable settled; // launch() has set pid or given up
    pid_t pid = 0;
    bool abandoned = false; // the spawn failed; the waiter ends without doing anything
    bool reaped = false;
    std::function<void(Outcome)> handler;
};

// NUL-terminated arrays of C strings that own their bytes.
class CStrings {
public:
    void add(QByteArray bytes) { storage_.push_back(std::move(bytes)); }
    char** data() {
        pointers_.clear();
        for (QByteArray& bytes : storage_)
            pointers_.push_back(bytes.data());
        pointers_.push_back(nullptr);
        return pointers_.data();
    }

private:
    std::vector<QByteArray> storage_;
    std::vector<char*> pointers_;
};

// The argv and environment block of a process description. False when an argument holds a NUL: an
// argument is passed as one unchanged string or not at all, and a NUL inside would cut it short.
bool toCStrings(const ProcessSpec& spec, CStrings& argv, CStrings& envp) {
    for (const QString& arg : spec.argv) {
        if (arg.contains(QChar(u'\0')))
            return false;
        argv.add(QFile::encodeName(arg));
    }
    for (auto it = spec.env.constBegin(); it != spec.env.constEnd(); ++it) {
        const QByteArray& name = it.key();
        if (name.isEmpty() || name.contains('=') || name.contains('\0') ||
            it.value().contains('\0'))
            continue; // not representable in an environment block
        envp.add(name + '=' + it.value());
    }
    return !spec.argv.isEmpty();
}

// Every descriptor above 2 is closed in the child: the parent's sockets (X11, D-Bus) and other
// libraries' descriptors need not carry close-on-exec.
int closeInheritedDescriptors(posix_spawn_file_actions_t* actions, posix_spawnattr_t* attr,
                              short* flags) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    (void)attr;
    (void)flags;
    return posix_spawn_file_actions_addclosefrom_np(actions, 3);
#elif defined(__APPLE__)
    // Everything not named by a file action is closed, standard input too unless it is kept.
    (void)attr;
    *flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
    return posix_spawn_file_actions_addinherit_np(actions, 0);
#else
    (void)attr;
    (void)flags;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return errno;
    const int own = ::dirfd(dir);
    int result = 0;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd <= 2 || fd == own)
            continue;
        if ((result = posix_spawn_file_actions_addclose(actions, static_cast<int>(fd))) != 0)
            break;
    }
    ::closedir(dir);
    return result;
#endif
}

// posix_spawn with null-device output, only 0-2 inherited and default signal handling. Returns 0 or
// an error number.
int spawn(pid_t* pid, char** argv, char** envp) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (int rc = posix_spawn_file_actions_init(&actions); rc != 0)
        return rc;
    if (int rc = posix_spawnattr_init(&attr); rc != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return rc;
    }

    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);

    int rc = posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (rc == 0)
        rc = posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (rc == 0)
        rc = closeInheritedDescriptors(&actions, &attr, &flags);
    if (rc == 0)
        rc = posix_spawnattr_setsigmask(&attr, &none);
    if (rc == 0)
        rc = posix_spawnattr_setsigdefault(&attr, &all);
    if (rc == 0)
        rc = posix_spawnattr_setflags(&attr, flags);
    if (rc == 0)
        rc = posix_spawn(pid, argv[0], &actions, &attr, argv, envp);

    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

// The highest descriptor number closed one by one where the system cannot close a range.
constexpr int descriptorLimit = 65536;

int descriptorCeiling() {
    const long openMax = ::sysconf(_SC_OPEN_MAX);
    return openMax > 0 && openMax < descriptorLimit ? int(openMax) : descriptorLimit;
}

// Closes every descriptor from `first` up. Async-signal-safe.
void closeFrom(int first, int ceiling) {
#if defined(__linux__) && defined(SYS_close_range)
    if (::syscall(SYS_close_range, first, ~0U, 0) == 0)
        return;
#endif
    for (int fd = first; fd < ceiling; ++fd)
        ::close(fd);
}

// Every signal at its default action (those the system reserves stay as they are). Async-signal-
// safe.
void defaultSignalActions() {
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig)
        ::sigaction(sig, &defaults, nullptr);
}

// Blocks every signal in the calling thread while it lives: a fork made meanwhile starts with all
// of them blocked, so that none of this process's handlers can run in the child before the child
// has put every signal back to its default action.
class SignalsBlocked {
public:
    SignalsBlocked() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous_);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

private:
    sigset_t previous_;
};

// The signal a tied child gets when this process ends: the one a normal stop sends, so the watch
// ends as it does when switched off (its own SIGTERM handling, status 0, no half-written state).
constexpr int tiedSignal = SIGTERM;

// A close-on-exec descriptor at 3 or above in place of `fd`; -1 on failure (fd is closed).
int aboveStandard(int fd) {
    if (fd < 0 || fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

// A pipe for the tied child's exec failure, both ends close-on-exec and above 2, so that it never
// takes the place of a standard stream. False on failure.
bool openReportPipe(int fds[2]) {
#ifdef __linux__
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
#else
    if (::pipe(fds) != 0)
        return false;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#endif
    fds[0] = aboveStandard(fds[0]);
    fds[1] = aboveStandard(fds[1]);
    if (fds[0] >= 0 && fds[1] >= 0)
        return true;
    for (int i : {0, 1})
        if (fds[i] >= 0)
            ::close(fds[i]);
    return false;
}

// What the tied child does between fork and exec; everything it reads was prepared before the
// fork, and it makes only async-signal-safe calls. It starts with every signal blocked.
struct TiedLaunch {
    char** argv;
    char** envp;
    pid_t parent; // this process, its pid read before the fork
    int report;   // the report pipe's write end
    int ceiling;  // descriptors are closed up to here where no range can be closed
};

// Writes why the child could not become the program to the report pipe and ends it.
[[noreturn]] void failTiedChild(int report, int error) {
    [[maybe_unused]] const ssize_t written = ::write(report, &error, sizeof error);
    ::_exit(127);
}

[[noreturn]] void becomeTiedChild(const TiedLaunch& launch) {
    defaultSignalActions();
#ifdef __linux__
    if (::prctl(PR_SET_PDEATHSIG, tiedSignal) != 0)
        failTiedChild(launch.report, errno);
    // The parent may have ended before the line above: then nothing would ever signal this child.
    if (::getppid() != launch.parent)
        ::_exit(127);
#endif
    // The report pipe goes to 3 (still close-on-exec), everything above it is closed.
    int report = launch.report;
    if (report != 3) {
        if (::dup2(report, 3) < 0 || ::fcntl(3, F_SETFD, FD_CLOEXEC) != 0)
            failTiedChild(report, errno);
        report = 3;
    }
    closeFrom(4, launch.ceiling);
    for (const int target : {1, 2}) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null < 0)
            failTiedChild(report, errno);
        if (null != target && (::dup2(null, target) < 0 || ::close(null) != 0))
            failTiedChild(report, errno);
    }
    // A parent-death signal sent since the prctl arrives here, and ends the child.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(launch.argv[0], launch.argv, launch.envp);
    failTiedChild(report, errno);
}

// fork and exec with what spawn() gives a child, and the parent-death signal. Returns 0 or an error
// number; on failure no child is left behind. Call on the main thread.
int spawnTied(pid_t* pid, char** argv, char** envp) {
    int report[2];
    if (!openReportPipe(report))
        return errno ? errno : EMFILE;
    const TiedLaunch launch{argv, envp, ::getpid(), report[1], descriptorCeiling()};
    pid_t child = -1;
    int forkError = 0;
    {
        SignalsBlocked blocked;
        child = ::fork();
        if (child == 0)
            becomeTiedChild(launch);
        forkError = errno;
    }
    ::close(report[1]);
    if (child < 0) {
        ::close(report[0]);
        return forkError;
    }
    int error = 0;
    ssize_t got = 0;
    while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (got == 0) { // the pipe closed on exec
        *pid = child;
        return 0;
    }
    // The child ends at once: reaped here, since no waiter will take it.
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return got == sizeof error && error != 0 ? error : EIO;
}

void deliver(std::function<void(Outcome)> handler, Outcome outcome) {
    if (!handler)
        return;
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [handler = std::move(handler), outcome] { handler(outcome); },
            Qt::QueuedConnection);
}

// How the child ended, from its wait status, or from what waitid saw when someone else reaped it;
// unknown when it was gone before waitid saw it (an ignored SIGCHLD has the kernel reap it).
Outcome outcomeOf(bool reaped, int status, const siginfo_t& info) {
    if (reaped) {
        if (WIFSIGNALED(status))
            return {Outcome::Kind::Signalled, WTERMSIG(status)};
        return {Outcome::Kind::Exited, WIFEXITED(status) ? WEXITSTATUS(status) : 0};
    }
    if (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED)
        return {Outcome::Kind::Signalled, info.si_status};
    if (info.si_code == CLD_EXITED)
        return {Outcome::Kind::Exited, info.si_status};
    return {Outcome::Kind::Unknown, 0};
}

// Body of the waiter thread. The child is first waited for without being reaped (WNOWAIT), so that
// terminate(), which holds the same mutex, can only ever signal our own child or its zombie.
void waitForChild(std::shared_ptr<ChildState> shared) {
    pid_t pid = 0;
    {
        std::unique_lock lock(shared->mutex);
        shared->settled.wait(lock, [&] { return shared->pid != 0 || shared->abandoned; });
        if (shared->abandoned)
            return;
        pid = shared->pid;
    }

    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 &&
           errno == EINTR) {
    }
    // Failure other than EINTR (ECHILD: someone reaped it already) also means it is gone.

    std::function<void(Outcome)> handler;
    Outcome outcome;
    {
        std::lock_guard lock(shared->mutex);
        int status = 0;
        pid_t reaped = 0;
        while ((reaped = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
        shared->reaped = true;
        outcome = outcomeOf(reaped == pid, status, info);
        handler = std::move(shared->handler);
        shared->handler = nullptr;
    }
    deliver(std::move(handler), outcome);
}

// Starts the waiter with every signal blocked, so that process-directed signals go to threads that
// expect them. Throws std::system_error when no thread can be created.
void startWaiter(const std::shared_ptr<ChildState>& shared) {
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    struct Restore {
        sigset_t* mask;
        ~Restore() { pthread_sigmask(SIG_SETMASK, mask, nullptr); }
    } restore{&previous};
    std::thread(waitForChild, shared).detach();
}

} // namespace

struct ChildProcess::Shared : ChildState {};

ChildProcess::ChildProcess() : shared_(std::make_shared<Shared>()) {}

ChildProcess::~ChildProcess() = default;

void ChildProcess::setTerminationHandler(std::function<void(Outcome)> handler) {
    std::lock_guard lock(shared_->mutex);
    shared_->handler = std::move(handler);
}

void useDefaultChildSignal() {
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    ::sigaction(SIGCHLD, &defaults, nullptr);
}

bool ChildProcess::launch(const ProcessSpec& spec, Lifetime lifetime) {
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->pid != 0 || shared_->abandoned)
            return false;
    }
    if (spec.argv.isEmpty())
        return false;

    CStrings argv;
    CStrings envp;
    if (!toCStrings(spec, argv, envp))
        return false;

    // The waiter exists before the child does, so a child is never left without one.
    try {
        startWaiter(shared_);
    } catch (const std::system_error&) {
        std::lock_guard lock(shared_->mutex);
        shared_->abandoned = true;
        return false;
    }

    pid_t pid = 0;
    const int rc = lifetime == Lifetime::Tied ? spawnTied(&pid, argv.data(), envp.data())
                                              : spawn(&pid, argv.data(), envp.data());
    {
        std::lock_guard lock(shared_->mutex);
        if (rc == 0 && pid > 0)
            shared_->pid = pid;
        else
            shared_->abandoned = true;
    }
    shared_->settled.notify_all();
    return rc == 0 && pid > 0;
}

bool ChildProcess::isRunning() const {
    std::lock_guard lock(shared_->mutex);
    if (shared_->pid == 0 || shared_->reaped)
        return false;
    // Ended but not yet reaped by the waiter counts as not running.
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(shared_->pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return false;
    return info.si_pid == 0;
}

void ChildProcess::terminate() {
    std::lock_guard lock(shared_->mutex);
    if (shared_->pid != 0 && !shared_->reaped)
        ::kill(shared_->pid, SIGTERM);
}

pid_t ChildProcess::pid() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->pid;
}

int ChildProcess::openExitDescriptor() const {
    // Held while the pid is used: the waiter reaps under the same lock, so the pid is still ours.
    std::lock_guard lock(shared_->mutex);
    if (shared_->pid == 0 || shared_->reaped)
        return -1;
#if defined(__linux__) && defined(SYS_pidfd_open)
    return static_cast<int>(::syscall(SYS_pidfd_open, shared_->pid, 0));
#else
    return -1;
#endif
}

namespace {

// What the detached process needs, all prepared before the fork: it runs in a child of a
// multithreaded process, so it makes only async-signal-safe calls and allocates nothing.
struct Runner {
    char** const* argvs;
    char** const* envps;
    const QByteArray* gaveUpOn; // per run: the line written when its bound has passed
    size_t count;
    QByteArray notWaited; // the line written when `after` has not ended within the bound
    int exitFd;           // `after`'s exit descriptor, or -1
    int ceiling;
    long boundMs;
    // This process's argument and environment area (from /proc/self/stat), where the detached
    // process writes its title; both null when unknown.
    char* areaStart = nullptr;
    char* argEnd = nullptr;
    char* areaEnd = nullptr;
    int standbyFd = -1; // a standby's end of its socket pair, or -1
};

constexpr char runnerTitle[] = "quillnest-bar: adding folders";
constexpr char runnerName[] = "quillnest-add"; // at most 15 bytes
constexpr long killGraceMs = 5000;

long monotonicMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return long(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void say(const QByteArray& line) {
    [[maybe_unused]] const ssize_t written = ::write(2, line.constData(), size_t(line.size()));
}

// Reaps `pid` if it ends within `ms`; true when it has ended (or is not ours to wait for).
bool reapWithin(pid_t pid, long ms) {
    const long deadline = monotonicMs() + ms;
    for (;;) {
        int status = 0;
        const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
        if (reaped == pid || (reaped < 0 && errno != EINTR))
            return true;
        const long left = deadline - monotonicMs();
        if (left <= 0)
            return false;
        const timespec pause{0, std::min(left, 50L) * 1000000};
        ::nanosleep(&pause, nullptr);
    }
}

// Shows the title in place of the command line: /proc/<pid>/cmdline reads the argument area, and on
// into the environment area up to the first NUL once the argument area's last byte is not a NUL.
void setTitle(const Runner& runner) {
    if (!runner.areaStart || runner.areaEnd - runner.areaStart < 2)
        return;
    const size_t room = size_t(runner.areaEnd - runner.areaStart) - 1;
    size_t length = 0;
    for (; runnerTitle[length] != '\0' && length < room; ++length)
        runner.areaStart[length] = runnerTitle[length];
    for (char* p = runner.areaStart + length; p < runner.areaEnd; ++p)
        *p = '\0';
    if (runner.areaStart + length + 1 < runner.argEnd)
        runner.argEnd[-1] = ' ';
}

[[noreturn]] void runInOrder(const Runner& runner) {
    defaultSignalActions();
    // Its standard error may be a pipe whose reader has gone; a line written then is lost, not
    // fatal. The runs get SIGPIPE's default back.
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::setsid(); // no terminal's signals reach it
#ifdef __linux__
    ::prctl(PR_SET_NAME, runnerName);
#endif
    setTitle(runner);

    if (const int null = ::open("/dev/null", O_WRONLY); null >= 0 && null != 1) {
        ::dup2(null, 1);
        ::close(null);
    }
    // `after`'s exit descriptor goes to 3, the standby's socket to 4 (each first copied above both,
    // so that neither overwrites the other); everything else above 2 is closed.
    const int exitFd = runner.exitFd >= 0 ? ::fcntl(runner.exitFd, F_DUPFD, 5) : -1;
    const int standbyFd = runner.standbyFd >= 0 ? ::fcntl(runner.standbyFd, F_DUPFD, 5) : -1;
    if ((runner.exitFd >= 0 && (exitFd < 0 || ::dup2(exitFd, 3) < 0)) ||
        (runner.standbyFd >= 0 && (standbyFd < 0 || ::dup2(standbyFd, 4) < 0)))
        ::_exit(1);
    if (exitFd < 0)
        ::close(3);
    if (standbyFd < 0)
        ::close(4);
    closeFrom(5, runner.ceiling);

    if (standbyFd >= 0) {
        // On standby while the holder lives, however long: a byte retires it, end of file (the
        // holder's end closed, however the holder went) has it go on.
        char byte = 0;
        ssize_t got = 0;
        while ((got = ::read(4, &byte, 1)) < 0 && errno == EINTR) {
        }
        ::close(4);
        if (got != 0)
            ::_exit(0);
    }
    if (exitFd >= 0) {
        const long deadline = monotonicMs() + runner.boundMs;
        pollfd ended{3, POLLIN, 0};
        int ready = 0;
        long left = runner.boundMs;
        while ((ready = ::poll(&ended, 1, int(std::min(left, 1L << 30)))) <= 0) {
            left = deadline - monotonicMs();
            if ((ready < 0 && errno != EINTR) || left <= 0)
                break;
        }
        ::close(3);
        if (ready <= 0) {
            say(runner.notWaited);
            ::_exit(1);
        }
    }
    for (size_t i = 0; i < runner.count; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::signal(SIGPIPE, SIG_DFL);
            ::setpgid(0, 0); // a group of its own, so that what it starts ends with it
            ::dup2(1, 2);
            ::execve(runner.argvs[i][0], runner.argvs[i], runner.envps[i]);
            ::_exit(127);
        }
        if (pid < 0)
            continue;
        ::setpgid(pid, pid); // as the child does: whichever runs first
        if (reapWithin(pid, runner.boundMs))
            continue;
        ::kill(-pid, SIGTERM);
        if (!reapWithin(pid, killGraceMs)) {
            ::kill(-pid, SIGKILL);
            reapWithin(pid, killGraceMs);
        }
        say(runner.gaveUpOn[i]);
    }
    ::_exit(0);
}

// This process's argument and environment area, from fields 48 to 51 of /proc/self/stat.
void findTitleArea(Runner& runner) {
    QFile file(QStringLiteral("/proc/self/stat"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray stat = file.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 49) // the first is field 3
        return;
    const auto at = [&](int field) { return fields.at(field - 3).trimmed().toULongLong(); };
    const quintptr argStart = at(48), argEnd = at(49), envStart = at(50), envEnd = at(51);
    if (argStart == 0 || argEnd <= argStart)
        return;
    runner.areaStart = reinterpret_cast<char*>(argStart);
    runner.argEnd = reinterpret_cast<char*>(argEnd);
    // The title may run on into the environment only where it follows the arguments directly.
    runner.areaEnd =
        reinterpret_cast<char*>(envStart == argEnd && envEnd > envStart ? envEnd : argEnd);
}

QByteArray commandLine(const ProcessSpec& spec) {
    return QFile::encodeName(spec.argv.join(u' '));
}

// The runner is a grandchild: its parent ends at once and is reaped here, so it is nobody's child
// to wait for and is adopted by the system when this process ends. `standbyFd`, when not -1, is
// the runner's end of a standby's socket pair.
bool launchRunner(const std::vector<ProcessSpec>& specs, const ChildProcess* after,
                  std::chrono::milliseconds bound, int standbyFd) {
    std::vector<CStrings> argvs(specs.size());
    std::vector<CStrings> envps(specs.size());
    std::vector<char**> argvPointers;
    std::vector<char**> envPointers;
    std::vector<QByteArray> gaveUpOn;
    const long seconds = long(std::chrono::duration_cast<std::chrono::seconds>(bound).count());
    QByteArray notRun;
    for (size_t i = 0; i < specs.size(); ++i) {
        if (!toCStrings(specs[i], argvs[i], envps[i]))
            continue;
        argvPointers.push_back(argvs[i].data());
        envPointers.push_back(envps[i].data());
        gaveUpOn.push_back("quillnest-bar: adding folders: " + commandLine(specs[i]) +
                           " had not ended after " + QByteArray::number(seconds) +
                           " s and was ended\n");
        notRun += "\n  " + commandLine(specs[i]);
    }
    Runner runner{argvPointers.data(),
                  envPointers.data(),
                  gaveUpOn.data(),
                  argvPointers.size(),
                  "quillnest-bar: adding folders: the running command had not ended after " +
                      QByteArray::number(seconds) + " s; given up, not run:" + notRun + '\n',
                  -1,
                  descriptorCeiling(),
                  long(bound.count())};
    findTitleArea(runner);
    runner.exitFd = after ? after->openExitDescriptor() : -1;
    runner.standbyFd = standbyFd;

    pid_t middle = -1;
    {
        SignalsBlocked blocked;
        middle = ::fork();
        if (middle == 0) {
            const pid_t grandchild = ::fork();
            if (grandchild == 0)
                runInOrder(runner);
            ::_exit(grandchild > 0 ? 0 : 1);
        }
    }
    if (runner.exitFd >= 0)
        ::close(runner.exitFd);
    if (middle < 0)
        return false;
    int status = 0;
    pid_t reaped = 0;
    while ((reaped = ::waitpid(middle, &status, 0)) < 0 && errno == EINTR) {
    }
    return reaped == middle && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

bool launchInOrderDetached(const std::vector<ProcessSpec>& specs, const ChildProcess* after,
                           std::chrono::milliseconds bound) {
    return launchRunner(specs, after, bound, -1);
}

// A socket pair rather than a pipe: the byte that retires a standby is sent with MSG_NOSIGNAL, so
// a standby that is gone already (killed by someone) costs an error, not a SIGPIPE.
bool Standby::start(const std::vector<ProcessSpec>& specs, const ChildProcess* after,
                    std::chrono::milliseconds bound) {
    retire();
    if (specs.empty())
        return true;
    int ends[2];
#ifdef SOCK_CLOEXEC
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
#else
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
        return false;
    const int on = 1;
    ::setsockopt(ends[0], SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
    ::fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
#endif
    const bool started = launchRunner(specs, after, bound, ends[1]);
    ::close(ends[1]);
    if (started)
        end_ = ends[0];
    else
        ::close(ends[0]);
    return started;
}

void Standby::retire() {
    if (end_ < 0)
        return;
    const char byte = 1;
#ifdef MSG_NOSIGNAL
    [[maybe_unused]] const ssize_t sent = ::send(end_, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
#else
    [[maybe_unused]] const ssize_t sent = ::send(end_, &byte, 1, MSG_DONTWAIT); // SO_NOSIGPIPE
#endif
    ::close(end_);
    end_ = -1;
}

Standby::~Standby() {
    if (end_ >= 0)
        ::close(end_);
}

} // namespace quillnest
