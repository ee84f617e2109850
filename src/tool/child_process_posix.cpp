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
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

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

void deliver(std::function<void(Outcome)> handler, Outcome outcome) {
    if (!handler)
        return;
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [handler = std::move(handler), outcome] { handler(outcome); },
            Qt::QueuedConnection);
}

// How the child ended, from its wait status; from what waitid saw when someone else reaped it
// (then nothing more is known than that it ended: a plain exit).
Outcome outcomeOf(bool reaped, int status, const siginfo_t& info) {
    if (reaped) {
        if (WIFSIGNALED(status))
            return {Outcome::Kind::Signalled, WTERMSIG(status)};
        return {Outcome::Kind::Exited, WIFEXITED(status) ? WEXITSTATUS(status) : 0};
    }
    if (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED)
        return {Outcome::Kind::Signalled, info.si_status};
    return {Outcome::Kind::Exited, info.si_code == CLD_EXITED ? info.si_status : 0};
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

bool ChildProcess::launch(const ProcessSpec& spec) {
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
    const int rc = spawn(&pid, argv.data(), envp.data());
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

// The highest descriptor number closed one by one where the system cannot close a range.
constexpr int descriptorLimit = 65536;

// The detached process's work. It runs in a child of a multithreaded process, so it makes only
// async-signal-safe calls and allocates nothing: every array it reads was prepared before the fork.
[[noreturn]] void runInOrder(int exitFd, char** const* argvs, char** const* envps, size_t count,
                             int openMax) {
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig)
        ::sigaction(sig, &defaults, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::setsid(); // no terminal's signals reach it

    if (const int null = ::open("/dev/null", O_WRONLY); null >= 0) {
        ::dup2(null, 1);
        ::dup2(null, 2);
    }
    int first = 3; // descriptors from here up are closed
    if (exitFd >= 0) {
        if (exitFd != 3 && ::dup2(exitFd, 3) < 0)
            ::_exit(1);
        first = 4;
    }
#if defined(__linux__) && defined(SYS_close_range)
    if (::syscall(SYS_close_range, first, ~0U, 0) != 0)
#endif
        for (int fd = first; fd < openMax; ++fd)
            ::close(fd);

    if (exitFd >= 0) {
        pollfd ended{3, POLLIN, 0};
        while (::poll(&ended, 1, -1) < 0 && errno == EINTR) {
        }
        ::close(3);
    }
    for (size_t i = 0; i < count; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execve(argvs[i][0], argvs[i], envps[i]);
            ::_exit(127);
        }
        int status = 0;
        while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ::_exit(0);
}

} // namespace

// The runner is a grandchild: its parent ends at once and is reaped here, so it is nobody's child
// to wait for and is adopted by the system when this process ends.
bool launchInOrderDetached(const std::vector<ProcessSpec>& specs, const ChildProcess* after) {
    std::vector<CStrings> argvs(specs.size());
    std::vector<CStrings> envps(specs.size());
    std::vector<char**> argvPointers;
    std::vector<char**> envPointers;
    for (size_t i = 0; i < specs.size(); ++i) {
        if (!toCStrings(specs[i], argvs[i], envps[i]))
            continue;
        argvPointers.push_back(argvs[i].data());
        envPointers.push_back(envps[i].data());
    }
    const long openMax = ::sysconf(_SC_OPEN_MAX);
    const int limit = openMax > 0 && openMax < descriptorLimit ? int(openMax) : descriptorLimit;
    const int exitFd = after ? after->openExitDescriptor() : -1;

    const pid_t middle = ::fork();
    if (middle == 0) {
        const pid_t runner = ::fork();
        if (runner == 0)
            runInOrder(exitFd, argvPointers.data(), envPointers.data(), argvPointers.size(), limit);
        ::_exit(runner > 0 ? 0 : 1);
    }
    if (exitFd >= 0)
        ::close(exitFd);
    if (middle < 0)
        return false;
    int status = 0;
    pid_t reaped = 0;
    while ((reaped = ::waitpid(middle, &status, 0)) < 0 && errno == EINTR) {
    }
    return reaped == middle && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace quillnest
