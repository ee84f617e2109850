// Whether a session bus can be reached, decided from the environment alone.
#pragma once

namespace quillnest {

// An address in the environment, the per-user bus socket ($XDG_RUNTIME_DIR/bus), or an X display,
// over which libdbus finds or starts one. Without any of them (a snapshot run on a server, the
// tests) callers leave D-Bus alone: even loading it would cost about 3 ms.
bool sessionBusReachable();

} // namespace quillnest
