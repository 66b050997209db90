// Work that must happen whenever the Linux process ends through a process stop or a fatal
// signal (internal to the platform): restoring a real tty's settings, discarding a late reply.
#pragma once

namespace nsk {

// Registers hook; PROCESS_STOP_ and STOP run every hook (last registered first) before the
// process exits.  Hooks must be async-signal-safe: they may also run from a signal handler.
void at_stop(void (*hook)());

// Runs the registered hooks once (later calls do nothing).
void run_stop_hooks();

}  // namespace nsk
