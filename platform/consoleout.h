// The console's output (internal to the platform): the lines of the node's console terminals go
// to the run's standard output.  To a tty each line is written at once; to a file or a pipe the
// lines are gathered and written in blocks, as a Unix program's standard output is.
#pragma once

#include <cstddef>

#include "platform/types.h"

namespace nsk::console {

// Writes one line (its end included) to standard output, or gathers it.  A failing write gives
// the platform's error for it: the lines gathered before it are lost with it.
INT write_line(const char* text, std::size_t length);

// Writes out what is gathered.  Async-signal-safe: it also runs as a stop hook, at exit and from
// the fatal-signal handler.
void flush();

// True once a block of gathered lines could not be written (by flush or by write_line); the
// first time, one line saying so went to standard error.
bool lines_lost();

}  // namespace nsk::console
