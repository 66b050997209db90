// Standard output of the console terminals, gathered in a fixed block while standard output is
// not a tty.  The block is static and its fill count is advanced only after a line is copied in,
// so the flush can run from a signal handler at any point and never writes half a line.
#include "platform/consoleout.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/errno_map.h"
#include "platform/stophooks.h"

namespace nsk::console {
namespace {

constexpr std::size_t BLOCK = 16384;
char block[BLOCK];
std::atomic<std::size_t> used{0};
std::atomic<bool> lost{false};

// The platform's error for the first failing write, or 0.
INT write_all(const char* data, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(STDOUT_FILENO, data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return error_from_errno(errno);
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Writes the block out; the error of a failure (the block is emptied either way).  The first
// lines lost are told on standard error, whether or not the caller looks at the error.
INT write_block() {
  const std::size_t n = used.exchange(0);
  const INT error = n == 0 ? 0 : write_all(block, n);
  if (error != 0 && !lost.exchange(true)) {
    static constexpr char MESSAGE[] = "netloc: standard output could not be written; lines lost\n";
    const ssize_t ignored = ::write(STDERR_FILENO, MESSAGE, sizeof MESSAGE - 1);
    (void)ignored;
  }
  return error;
}

void register_flush() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  at_stop(flush);
  std::atexit(flush);
}

}  // namespace

INT write_line(const char* text, std::size_t length) {
  // Whether standard output is a tty is asked again with each new block: a run's standard
  // output does not change, but a test's redirection of it may.
  if (used.load() == 0 && ::isatty(STDOUT_FILENO)) return write_all(text, length);
  register_flush();
  if (used.load() + length > BLOCK) {
    if (const INT error = write_block()) return error;
  }
  if (length > BLOCK) return write_all(text, length);
  const std::size_t at = used.load();
  std::memcpy(block + at, text, length);
  used.store(at + length);
  return 0;
}

void flush() { write_block(); }

bool lines_lost() { return lost.load(); }

}  // namespace nsk::console
