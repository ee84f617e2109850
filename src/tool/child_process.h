// A launched child process, our counterpart of a platform task object.
//
// The child is started with posix_spawn (a tied child, see Lifetime, with fork and exec), its
// standard output and error on the null device (one open of it each), standard input and working
// directory inherited, no descriptor but 0, 1 and 2 inherited, an empty signal mask and every
// signal at its default action. A waiter thread per
// child waits for it without a SIGCHLD handler and without waitpid(-1), so other child-process
// machinery (QProcess) keeps working; it reaps the child and posts the termination handler to the
// event loop of QCoreApplication::instance() (dropped when there is no application object).
// Destroying a ChildProcess never kills or waits for its child; the handler still runs when the
// child ends. terminate() never signals a pid that has been reaped, so a reused pid is never hit.
//
// Threading: create, launch, query and terminate on the main thread. The handler runs on the main
// thread. Only the hand-over between the waiter thread and the main thread is locked.
#pragma once

#include "tool/outcome.h"
#include "tool/process_description.h"

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include <sys/types.h>

namespace quillnest {

// Whether a child may outlive this process.
enum class Lifetime {
    Own,  // it runs on after this process has ended, however that ends
    Tied, // it gets SIGTERM when this process ends, however that ends (SIGKILL and crashes too).
          // Linux only, through the parent-death signal; elsewhere it is Own. The signal follows
          // the thread that launched the child, so launch a tied child from the main thread only.
};

// Makes SIGCHLD's disposition the default. An ignored SIGCHLD, inherited from whoever started this
// process, has the kernel reap children at once, and no exit status could be read.
void useDefaultChildSignal();

class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Called once on the main thread after the launched child has ended, for any reason, with its
    // exit status or the signal that ended it. Set before launch(); never called when launch()
    // fails.
    void setTerminationHandler(std::function<void(Outcome)> handler);

    // Starts argv[0] (a path, not searched along PATH) with spec's arguments and exactly spec's
    // environment. False, with no child left behind, when it could not be started: empty argv,
    // an argument containing NUL, a missing or non-executable argv[0], no thread for the waiter,
    // or a second launch of the same object.
    bool launch(const ProcessSpec& spec, Lifetime lifetime = Lifetime::Own);

    bool isRunning() const; // launched, and neither ended nor reaped
    void terminate();       // SIGTERM while not reaped; otherwise nothing
    pid_t pid() const;      // 0 before a successful launch; stays set after the child ended

    // A descriptor that becomes readable once the child has ended (a pidfd, close-on-exec), for
    // the caller to close; -1 when the child has been reaped already, was never launched, or the
    // system has no such descriptor (only Linux has).
    int openExitDescriptor() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

// How long the detached process of launchInOrderDetached waits for `after`, and for each run.
constexpr std::chrono::milliseconds detachedBound = std::chrono::minutes(10);

// Runs `specs` one after the other, each started as ChildProcess starts its child (in a process
// group of its own) and waited for before the next starts, in a detached process that outlives the
// caller and is never waited for by it. It names itself "quillnest-bar: adding folders" (command
// "quillnest-add"). The first starts once the child `after` holds an open exit descriptor for has
// ended, at once when `after` is null or has none. No shell is involved; argv[0] of each is a path.
// A spec that cannot be launched is skipped. Each wait is bounded by `bound`: when `after` has not
// ended by then nothing is run; a run still going then is ended (SIGTERM to its group, SIGKILL
// five seconds later) and the next one starts. Either is written to this process's standard
// error, which the detached process keeps; the runs' own output goes to the null device. False
// when the detached process could not be started.
bool launchInOrderDetached(const std::vector<ProcessSpec>& specs, const ChildProcess* after,
                           std::chrono::milliseconds bound = detachedBound);

// A launchInOrderDetached process held on standby: it runs its specs only once its holder has gone,
// and ends doing nothing when retired. It holds one end of a socket pair whose other end only this
// object holds (close-on-exec; no child of this process keeps it): a byte on it retires the
// standby; end of file without one means the holder has gone, however it went (this object
// destroyed, or this process ended by a quit, a signal, SIGKILL, a crash or an _exit), and the
// standby then waits for `after` and runs the specs as launchInOrderDetached does. While the
// holder lives the standby only waits, without a bound. Main thread only.
class Standby {
public:
    Standby() = default;
    ~Standby(); // hands over: the standby runs
    Standby(const Standby&) = delete;
    Standby& operator=(const Standby&) = delete;

    // Retires the standby held, if any, and starts one for `specs` (none for no specs). False when
    // it could not be started; nothing is held then.
    bool start(const std::vector<ProcessSpec>& specs, const ChildProcess* after,
               std::chrono::milliseconds bound = detachedBound);
    void retire(); // the standby held, if any, ends with nothing run; nothing is held afterwards
    bool holds() const { return end_ >= 0; }

private:
    int end_ = -1; // this side of the socket pair while a standby is held
};

} // namespace quillnest
