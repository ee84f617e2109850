#include "tool/run.h"

#include "tool/child_process.h"

namespace quillnest {

void run(const ProcessSpec& spec, std::function<void(Outcome)> done) {
    // The child outlives this object: its waiter keeps the shared state and delivers done.
    ChildProcess child;
    child.setTerminationHandler(done);
    if (!child.launch(spec) && done)
        done(Outcome{Outcome::Kind::NotStarted, 0});
}

} // namespace quillnest
