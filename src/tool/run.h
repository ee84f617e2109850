// Running a one-shot child and delivering its completion on the main thread.
#pragma once

#include "tool/process_spec.h"

#include <functional>

namespace quillnest {

// Launches spec and calls done exactly once on the main thread: queued through the event loop after
// the child has ended, or at once, before run returns, when the launch fails.
void run(const ProcessSpec& spec, std::function<void()> done);

} // namespace quillnest
