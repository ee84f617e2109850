#include "tool/run.h"

#include "tool/child_process.h"

namespace quillnest {

std::shared_ptr<ChildProcess> run(const ProcessSpec& spec, std::function<void(Outcome)> done) {
    // The child outlives this object: its waiter keeps the shared state and delivers done.
    auto child = std::make_shared<ChildProcess>();
    child->setTerminationHandler(done);
    if (child->launch(spec))
        return child;
    if (done)
        done(Outcome{Outcome::Kind::NotStarted, 0});
    return nullptr;
}

} // namespace quillnest
