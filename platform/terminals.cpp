// Terminals of the node.  Output goes to the console (the run's standard output), a transcript
// file or a failing sink; input comes from the scripted emulator the node describes.  Terminals
// bound to a real tty are in ttyterminal.cpp.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/consoleout.h"
#include "platform/errno_map.h"
#include "platform/fileclass.h"
#include "platform/openkinds.h"
#include "platform/terminal.h"

namespace nsk {

void TerminalOpen::typeinfo(INT* words) {
  words[0] = static_cast<INT>(files::terminal_device_type(destination_));
  words[1] = static_cast<INT>(destination_.device_subtype);
  words[2] = -1;
  words[3] = -1;
  words[4] = 0;
}

INT TerminalOpen::setparam(INT function, const char* /*params*/, INT /*param_count*/,
                           char* answer, INT answer_max, INT* count) {
  return window_setparam(destination_, terminal_, function, answer, answer_max, count);
}

INT TerminalOpen::setmode(INT function, INT param1, INT /*param2*/) {
  constexpr INT SETMODE_BREAK = 11;
  if (function != SETMODE_BREAK) return err::OPERATION_INVALID;
  break_mode_ = param1;
  return 0;
}

std::optional<Clock::time_point> deadline_after(std::optional<std::int64_t> limit_us) {
  if (!limit_us) return std::nullopt;
  return Clock::now() + std::chrono::microseconds(*limit_us);
}

void sleep_until(std::optional<Clock::time_point> when) {
  if (when) {
    std::this_thread::sleep_until(*when);
    return;
  }
  for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

namespace {

// Writes all of text to fd; the error of the first failing write.
INT write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return error_from_errno(errno);
    done += static_cast<size_t>(n);
  }
  return 0;
}

// A terminal whose emulator is scripted by the node.  Each open is its own session with the
// emulator: the pending input waits for the first read of the open, and a query write-read arms
// the reply, due delay_cs after the query, after empty_reads reads that complete at once.
// Lines go to output_fd (a transcript or a tty the output names), else to standard output.
class ScriptedTerminal : public TerminalOpen {
 public:
  ScriptedTerminal(const node::Destination& destination, const node::Terminal& terminal,
                   int output_fd, const char* line_end)
      : TerminalOpen(destination, terminal), output_fd_(output_fd), line_end_(line_end) {}
  ~ScriptedTerminal() override {
    if (output_fd_ >= 0) ::close(output_fd_);
  }

  INT write(const char* buffer, INT write_count, INT* count) override {
    const node::Output& output = terminal_.output;
    if (output.kind == node::OutputKind::Fail && ++writes_ > output.fail_after &&
        output.fail_error != 0) {
      return static_cast<INT>(output.fail_error);
    }
    line_.assign(buffer, static_cast<size_t>(write_count)).append(line_end_);
    const INT error = output_fd_ >= 0 ? write_all(output_fd_, line_)
                                      : console::write_line(line_.data(), line_.size());
    if (error == 0) *count = write_count;
    return error;
  }

  INT read(char* buffer, INT read_count, INT* count) override {
    start_read(buffer, read_count);
    bool pending = false;
    return complete(std::nullopt, count, &pending);
  }

  INT writeread(char* buffer, INT write_count, INT read_count, INT* count) override {
    start_writeread(buffer, write_count, read_count);
    bool pending = false;
    return complete(std::nullopt, count, &pending);
  }

  INT start_read(char* buffer, INT read_count) override {
    buffer_ = buffer;
    read_count_ = read_count;
    return 0;
  }

  // The written bytes go to the emulator (the query), not to the terminal's output.
  INT start_writeread(char* buffer, INT /*write_count*/, INT read_count) override {
    reply_armed_ = true;
    reply_at_ = Clock::now() + std::chrono::microseconds(
                                   scaled_wait_us(terminal_.emulator.delay_cs));
    empty_left_ = terminal_.emulator.empty_reads;
    return start_read(buffer, read_count);
  }

  INT complete(std::optional<std::int64_t> limit_us, INT* count, bool* pending) override {
    if (done_at_start_) return OpenFile::complete(limit_us, count, pending);
    *count = 0;
    const std::optional<Clock::time_point> due = input_due();
    const std::optional<Clock::time_point> deadline = deadline_after(limit_us);
    if (!due || (deadline && *due > *deadline)) {
      sleep_until(deadline);
      *pending = true;
      return err::TIMEOUT;
    }
    sleep_until(std::max(*due, Clock::now()));
    *pending = false;
    *count = deliver();
    return 0;
  }

 private:
  // When the input of the outstanding read arrives; nullopt: never.
  std::optional<Clock::time_point> input_due() const {
    if (!pending_taken_ && !terminal_.emulator.pending_input.empty()) return Clock::now();
    if (!reply_armed_) return std::nullopt;
    if (empty_left_ > 0) return Clock::now();
    if (terminal_.emulator.kind != node::EmulatorKind::Script) return std::nullopt;
    return reply_at_;
  }

  // Hands the arrived input to the read, cut to its count; returns the count.
  INT deliver() {
    std::string input;
    if (!pending_taken_ && !terminal_.emulator.pending_input.empty()) {
      pending_taken_ = true;
      input = terminal_.emulator.pending_input;
    } else if (empty_left_ > 0) {
      --empty_left_;
    } else {
      reply_armed_ = false;
      input = terminal_.emulator.reply;
    }
    const size_t n = std::min(input.size(), static_cast<size_t>(std::max<INT>(read_count_, 0)));
    if (n > 0) std::memcpy(buffer_, input.data(), n);
    return static_cast<INT>(n);
  }

  int output_fd_ = -1;
  const char* line_end_;
  int writes_ = 0;
  std::string line_;  // the line being written, kept to reuse its storage
  char* buffer_ = nullptr;
  INT read_count_ = 0;
  bool pending_taken_ = false;
  bool reply_armed_ = false;
  int empty_left_ = 0;
  Clock::time_point reply_at_{};
};

}  // namespace

// A tty emulator makes the whole terminal the tty; a tty output with a scripted emulator only
// takes the lines.
INT open_terminal(const files::Target& target, INT access, std::unique_ptr<OpenFile>* file) {
  const node::Terminal& terminal = *target.terminal;
  if (terminal.emulator.kind == node::EmulatorKind::Tty) {
    return open_tty_terminal(target, terminal.emulator.tty_path, access, file);
  }
  int output = -1;
  const char* line_end = "\n";
  if (terminal.output.kind == node::OutputKind::Transcript) {
    output = ::open(terminal.output.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  } else if (terminal.output.kind == node::OutputKind::Tty) {
    output = ::open(terminal.output.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    line_end = "\r\n";
  }
  if (output < 0 && (terminal.output.kind == node::OutputKind::Transcript ||
                     terminal.output.kind == node::OutputKind::Tty)) {
    return error_from_errno(errno);
  }
  *file = std::make_unique<ScriptedTerminal>(*target.destination, terminal, output, line_end);
  return 0;
}

}  // namespace nsk
