// Terminals bound to a real tty.  Lines written go to the tty with "\r\n"; the write of a
// write-read (the query) goes as it is.  The first read of an open puts the tty into raw mode
// (no echo, not canonical, input bytes passed unchanged); the open's close restores the saved
// settings and throws away input still waiting, so that a reply that came too late is not left
// for the next program.  A stop hook does the same at every process end, signals included.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "platform/errno_map.h"
#include "platform/openkinds.h"
#include "platform/stophooks.h"
#include "platform/terminal.h"

namespace nsk {
namespace {

// Every tty this process has read from: its own descriptor, the settings before raw mode and
// how many opens hold it raw.  Fixed storage, so that the stop hook can run in a signal handler.
struct RawTty {
  int fd = -1;
  dev_t device = 0;
  termios saved{};
  int raw_users = 0;
};

constexpr int MAX_TTYS = 16;
RawTty raw_ttys[MAX_TTYS];
volatile sig_atomic_t tty_count = 0;

void restore_at_stop() {
  for (int i = 0; i < tty_count; ++i) {
    RawTty& tty = raw_ttys[i];
    if (tty.fd < 0) continue;
    ::tcflush(tty.fd, TCIFLUSH);
    if (tty.raw_users > 0) ::tcsetattr(tty.fd, TCSANOW, &tty.saved);
  }
}

termios raw_settings(termios settings) {
  settings.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHONL | ICANON | IEXTEN));
  settings.c_iflag &= static_cast<tcflag_t>(~(ICRNL | INLCR | IGNCR | IXON | ISTRIP));
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  return settings;
}

RawTty* find_tty(dev_t device) {
  for (int i = 0; i < tty_count; ++i) {
    if (raw_ttys[i].fd >= 0 && raw_ttys[i].device == device) return &raw_ttys[i];
  }
  return nullptr;
}

// A free entry: a new one, or, with the table full, one of a tty no open holds raw any more
// (its late input is then no longer thrown away at the stop).  nullptr when every one is raw.
RawTty* free_entry() {
  if (tty_count < MAX_TTYS) {
    if (tty_count == 0) at_stop(restore_at_stop);
    raw_ttys[tty_count].fd = -1;
    tty_count = tty_count + 1;
    return &raw_ttys[tty_count - 1];
  }
  for (RawTty& tty : raw_ttys) {
    if (tty.raw_users == 0) {
      const int old_fd = tty.fd;
      tty.fd = -1;
      ::close(old_fd);
      return &tty;
    }
  }
  return nullptr;
}

// The entry of the tty behind fd, made on first use; nullptr when fd is no tty or the table
// has no room (the open then reads without raw mode).
RawTty* tty_entry(int fd) {
  struct stat st {};
  if (!::isatty(fd) || ::fstat(fd, &st) != 0) return nullptr;
  if (RawTty* known = find_tty(st.st_rdev)) return known;
  const int own_fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (own_fd < 0) return nullptr;
  RawTty* entry = free_entry();
  if (entry == nullptr) {
    ::close(own_fd);
    return nullptr;
  }
  entry->device = st.st_rdev;
  entry->raw_users = 0;
  entry->fd = own_fd;
  return entry;
}

// Completion of a read: the bytes that came before the deadline.  A read ends at a line end, a
// full count or a pause in the input.
constexpr int INPUT_PAUSE_MS = 50;

int ms_until(std::optional<Clock::time_point> deadline) {
  if (!deadline) return -1;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

class TtyTerminal : public TerminalOpen {
 public:
  TtyTerminal(const node::Destination& destination, const node::Terminal& terminal, int fd)
      : TerminalOpen(destination, terminal), fd_(fd) {}

  ~TtyTerminal() override {
    if (tty_ != nullptr) {
      ::tcflush(tty_->fd, TCIFLUSH);
      if (--tty_->raw_users == 0) ::tcsetattr(tty_->fd, TCSANOW, &tty_->saved);
    }
    ::close(fd_);
  }

  INT write(const char* buffer, INT write_count, INT* count) override {
    const INT error = send(std::string(buffer, static_cast<size_t>(write_count)) + "\r\n");
    if (error == 0) *count = write_count;
    return error;
  }

  INT read(char* buffer, INT read_count, INT* count) override {
    if (const INT error = start_read(buffer, read_count)) return error;
    bool pending = false;
    return complete(std::nullopt, count, &pending);
  }

  INT writeread(char* buffer, INT write_count, INT read_count, INT* count) override {
    if (const INT error = start_writeread(buffer, write_count, read_count)) return error;
    bool pending = false;
    return complete(std::nullopt, count, &pending);
  }

  INT start_read(char* buffer, INT read_count) override {
    enter_raw_mode();
    buffer_ = buffer;
    read_count_ = read_count;
    return 0;
  }

  INT start_writeread(char* buffer, INT write_count, INT read_count) override {
    enter_raw_mode();
    if (const INT error = send(std::string(buffer, static_cast<size_t>(write_count)))) {
      return error;
    }
    return start_read(buffer, read_count);
  }

  INT complete(std::optional<std::int64_t> limit_us, INT* count, bool* pending) override {
    if (done_at_start_) return OpenFile::complete(limit_us, count, pending);
    *count = 0;
    *pending = false;
    const std::optional<Clock::time_point> deadline = deadline_after(limit_us);
    INT got = 0;
    int wait_ms = ms_until(deadline);
    while (got < read_count_) {
      const INT error = wait_input(wait_ms);
      if (error == err::TIMEOUT) break;
      if (error != 0) return error;
      const ssize_t n = ::read(fd_, buffer_ + got, static_cast<size_t>(read_count_ - got));
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n < 0) return error_from_errno(errno);
      if (n == 0) return err::END_OF_FILE;
      const bool line_end = std::any_of(buffer_ + got, buffer_ + got + n,
                                        [](char c) { return c == '\r' || c == '\n'; });
      got = static_cast<INT>(got + n);
      if (line_end) break;
      wait_ms = std::min(INPUT_PAUSE_MS, std::max(ms_until(deadline), 0));
      if (!deadline) wait_ms = INPUT_PAUSE_MS;
    }
    *count = got;
    if (got == 0 && read_count_ > 0) {
      *pending = true;
      return err::TIMEOUT;
    }
    return 0;
  }

 private:
  // 0 when input is there, 40 when none came within ms (-1: no limit).
  INT wait_input(int ms) {
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, ms);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return error_from_errno(errno);
      if (ready == 0) return err::TIMEOUT;
      return 0;
    }
  }

  INT send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) {
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, 100);
        continue;
      }
      if (n < 0) return error_from_errno(errno);
      done += static_cast<size_t>(n);
    }
    return 0;
  }

  void enter_raw_mode() {
    if (tty_ != nullptr) return;
    RawTty* tty = tty_entry(fd_);
    if (tty == nullptr) return;
    if (tty->raw_users == 0) {
      if (::tcgetattr(tty->fd, &tty->saved) != 0) return;
      const termios raw = raw_settings(tty->saved);
      if (::tcsetattr(tty->fd, TCSANOW, &raw) != 0) return;
    }
    ++tty->raw_users;
    tty_ = tty;
  }

  int fd_;
  RawTty* tty_ = nullptr;
  char* buffer_ = nullptr;
  INT read_count_ = 0;
};

}  // namespace

INT open_tty_terminal(const files::Target& target, const std::string& tty_path, INT /*access*/,
                      std::unique_ptr<OpenFile>* file) {
  const int fd = ::open(tty_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return error_from_errno(errno);
  *file = std::make_unique<TtyTerminal>(*target.destination, *target.terminal, fd);
  return 0;
}

}  // namespace nsk
