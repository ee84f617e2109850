// One running utility per user session. The first start owns a well-known name on the session bus
// (with no bus reachable, an flock()ed file under $XDG_RUNTIME_DIR); a later start finds it owned
// and leaves. The bus releases the name and the kernel the lock when their process ends, however it
// ends, so a crashed utility never blocks the next start.
//
// Main thread, after the application object exists. Snapshot mode does not ask: it may always run
// beside a running utility.
#pragma once

#include <QString>

namespace quillnest {

// The name owned on the session bus, and the lock file's name under $XDG_RUNTIME_DIR.
inline constexpr char singleInstanceBusName[] = "org.quillnest.bar";
inline constexpr char singleInstanceLockName[] = "quillnest-bar.lock";

// Whether this process can have a session bus: an address in the environment, the per-user bus
// socket, or an X display, over which libdbus finds or starts one. Without any of them D-Bus is not
// even loaded.
bool sessionBusReachable();

// True when this process is now the one instance, or when there is nothing to guard with (neither a
// session bus nor $XDG_RUNTIME_DIR): the utility then runs. False when another instance holds the
// name or the lock. The claim lasts until the process ends.
bool claimSingleInstance();

// The lock file used without a session bus: <runtimeDir>/quillnest-bar.lock, or empty for an empty
// runtimeDir.
QString singleInstanceLockPath(const QString& runtimeDir);

// A second start: the message on standard error (English, or Russian for `ru`), and true to tell
// the caller to exit. Nothing for the first one or in snapshot mode, which always runs.
bool leaveIfAlreadyRunning(bool ru);

} // namespace quillnest
