// Running a one-shot child and delivering its completion on the main thread.
//
// Call on the main thread, with a QCoreApplication in existence (without one, a launched child's
// completion is dropped).
#pragma once

#include "tool/outcome.h"
#include "tool/process_description.h"

#include <functional>
#include <memory>

namespace quillnest {

class ChildProcess;

// Launches spec and calls done exactly once on the main thread: queued through the event loop after
// the child has ended, with its exit status or signal, or at once, before run returns, with
// Outcome::Kind::NotStarted when the launch fails. An empty done is allowed. Returns the launched
// child, for the caller to look at (it may be dropped at once), or null when the launch failed.
std::shared_ptr<ChildProcess> run(const ProcessSpec& spec, std::function<void(Outcome)> done);

} // namespace quillnest
