// The home terminal is a real pty whose other side is this test, playing the emulator on the
// workstation: it answers the query in time, late, with garbage, or not at all.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "harness.h"

namespace {

using namespace std::chrono_literals;

const std::string QUERY = "\x1b-9e";

// The test's side of a pty.
class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
      slave_ = ptsname(master_);
    }
  }
  ~Pty() {
    if (master_ >= 0) close(master_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  const std::string& slave() const { return slave_; }

  // Plays the emulator until done is set: after the query, waits delay and writes reply (none
  // when silent).  Returns everything the program wrote to the terminal, without CRs.
  std::string play(const std::string& reply, std::chrono::milliseconds delay, bool silent,
                   const std::atomic<bool>& done) {
    std::string seen;
    bool answered = false;
    while (true) {
      pollfd fd{master_, POLLIN, 0};
      const int ready = poll(&fd, 1, 20);
      if (ready > 0 && (fd.revents & POLLIN) != 0) {
        char buffer[1024];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n > 0) seen.append(buffer, static_cast<std::size_t>(n));
      } else if (done) {
        break;
      }
      if (!answered && !silent && seen.find(QUERY) != std::string::npos) {
        answered = true;
        std::this_thread::sleep_for(delay);
        if (write(master_, reply.data(), reply.size()) < 0) break;
      }
    }
    std::string text;
    for (char c : seen) {
      if (c != '\r') text += c;
    }
    return text;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

struct Played {
  e2e::RunResult run;
  std::string terminal;  // what the program wrote to the pty
};

Played play_emulator(const std::vector<std::string>& args, const std::string& reply,
                     std::chrono::milliseconds delay, bool silent) {
  Pty pty;
  EXPECT_FALSE(pty.slave().empty());
  e2e::TempDir dir;
  std::string text = e2e::demo_node();
  const std::string window =
      "emulator = { reply = \"\\u0001&DEMO-WS17\\u0012192.0.2.17\\u0012NETLOC\\r\", delay_cs = 3 "
      "}\noutput = { console = true }";
  const auto at = text.find(window);
  EXPECT_NE(at, std::string::npos) << "the demo node's home terminal changed";
  if (at == std::string::npos) return {};
  text.replace(at, window.size(),
               "emulator = { tty = '" + pty.slave() + "' }\noutput = { tty = '" + pty.slave() +
                   "' }");
  const std::string node = dir.write("node.toml", text);

  std::atomic<bool> done{false};
  Played played;
  std::thread emulator([&] { played.terminal = pty.play(reply, delay, silent, done); });
  played.run = e2e::run("netloc", args, node);
  done = true;
  emulator.join();
  return played;
}

const std::string REPLY = "\x01&WS44\x12" "192.0.2.44\x12NETLOC\r";

TEST(Pty, TheEmulatorAnswersInTime) {
  const Played p = play_emulator({"ESC100"}, REPLY, 20ms, false);
  EXPECT_EQ(p.run.status, 0) << p.run.err;
  EXPECT_EQ(p.run.out, "");
  const std::string start = "TELNET window \\DEMO.$ZTN0.#PTY1 is IP-Address: 192.0.2.44  (esc, ";
  const auto at = p.terminal.find(start);
  ASSERT_NE(at, std::string::npos) << p.terminal;
  // The query is written to the terminal before the report.
  EXPECT_LT(p.terminal.find(QUERY), at);
  const int hundredths = std::stoi(p.terminal.substr(at + start.size()));
  EXPECT_GE(hundredths, 2);
  EXPECT_LT(hundredths, 100);
}

TEST(Pty, LateGarbledOrSilentEmulatorsLeadToTheServerRecord) {
  struct Case {
    const char* what;
    std::string reply;
    std::chrono::milliseconds delay;
    bool silent;
  };
  const Case cases[] = {
      {"late", REPLY, 600ms, false},
      {"garbage", "garbage\r", 0ms, false},
      {"short", "\x01&", 0ms, false},
      {"silent", "", 0ms, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Played p = play_emulator({"ESC20"}, c.reply, c.delay, c.silent);
    EXPECT_EQ(p.run.status, 0) << p.run.err;
    EXPECT_NE(p.terminal.find("TELNET window \\DEMO.$ZTN0.#PTY1 is IP-Address: 192.0.2.17  (spi)"),
              std::string::npos)
        << p.terminal;
    // A late reply may be echoed by the tty; it is never reported.
    EXPECT_EQ(p.terminal.find("IP-Address: 192.0.2.44"), std::string::npos);
  }
}

}  // namespace
