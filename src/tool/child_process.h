// A launched child process, our counterpart of a platform task object.
//
// The child is started with posix_spawn, its standard output and error on the null device and no
// descriptor but 0, 1 and 2 inherited. A waiter thread reaps it and posts the termination handler
// to the main thread's event loop (a QCoreApplication must exist). Destroying a ChildProcess never
// kills or waits for its child; the handler still runs when the child ends. terminate() never
// signals a pid that has been reaped. Create, launch, query and terminate on the main thread.
#pragma once

#include "tool/process_spec.h"

#include <functional>
#include <memory>

#include <sys/types.h>

namespace quillnest {

class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Called once on the main thread after the launched child has ended, for any reason. Set before
    // launch(); never called when launch() fails.
    void setTerminationHandler(std::function<void()> handler);

    // Starts argv[0] (an absolute path) with spec's arguments and environment. False when it could
    // not be started.
    bool launch(const ProcessSpec& spec);

    bool isRunning() const;  // launched and not yet reaped
    void terminate();        // SIGTERM while not reaped; otherwise nothing
    pid_t pid() const;       // 0 before a successful launch

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

} // namespace quillnest
