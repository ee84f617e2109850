// One running utility per user session. The first start owns a well-known name on the session bus
// (with no bus reachable, an flock()ed file in a private $XDG_RUNTIME_DIR); a later start finds it
// owned and leaves. The bus releases the name and the kernel the lock when their process ends,
// however it ends, so a crashed utility never blocks the next start.
#pragma once

namespace quillnest {

// The name owned on the session bus, and the lock file's name under $XDG_RUNTIME_DIR.
inline constexpr char singleInstanceBusName[] = "org.quillnest.bar";
inline constexpr char singleInstanceLockName[] = "quillnest-bar.lock";

// Call on the main thread after the application object exists. Claims the session for this process
// (the claim lasts until it ends) and answers false; when another instance holds it, says so on
// standard error (English, or Russian for `ru`) and answers true: the caller exits. The lock file
// is used only in a runtime directory owned by the user with mode 0700; a start with neither a
// session bus nor such a directory has nothing to guard with, logs why (category quillnest.guard)
// and always runs. Snapshot mode must not call this: it may always run beside a running utility.
bool leaveIfAlreadyRunning(bool ru);

} // namespace quillnest
