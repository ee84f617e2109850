// Quitting in order when the session ends: SIGTERM, SIGINT and SIGHUP become a normal
// QCoreApplication::quit(), so that aboutToQuit runs (and stops the watch process) instead of the
// process dying on the spot.
//
// Call once on the main thread after the application object exists. The signal handler only writes
// one byte to a pipe; the quit happens on the main thread when the event loop reads it.
#pragma once

namespace quillnest {

void quitOnTerminationSignals();

} // namespace quillnest
