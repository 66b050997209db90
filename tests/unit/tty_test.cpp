// Terminals bound to a real tty: a pty whose master side the test plays as the emulator.  The
// query goes to the tty as it is, the reply comes back within the limit or the limit expires;
// the tty is raw only while the open reads, its settings are the same before and after, and a
// reply that comes too late is not left in the tty's input.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/filesystem.h"
#include "platform/node.h"
#include "platform/stophooks.h"

namespace nsk {
namespace {

using std::chrono::milliseconds;

const std::string QUERY = "\x1B-9e";
const std::string REPLY = "\x01&A\x12" "10.1.2.3\r";

bool same_settings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// Bytes that come out of fd within ms.
std::string drain(int fd, int ms) {
  std::string got;
  pollfd p{fd, POLLIN, 0};
  char chunk[256];
  while (::poll(&p, 1, ms) > 0) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) break;
    got.append(chunk, static_cast<size_t>(n));
    ms = 20;
  }
  return got;
}

class Tty : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_path_ = ptsname(master_);
    slave_ = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave_, 0);
    ASSERT_EQ(tcgetattr(slave_, &before_), 0);
    node::Node n;
    n.name = "\\ALPHA";
    node::Destination d;
    d.name = "$ZTN0";
    d.device_type = node::DEVICE_TELNET;
    node::Terminal t;
    t.name = "#PTY1";
    t.emulator.kind = node::EmulatorKind::Tty;
    t.emulator.tty_path = slave_path_;
    d.terminals = {t};
    n.destinations = {d};
    node::set_current(n);
  }
  void TearDown() override {
    if (emulator_.joinable()) emulator_.join();
    for (INT f = 0; f < 16; ++f) FILE_CLOSE_(f);
    ::close(slave_);
    ::close(master_);
  }

  // Plays the emulator: reads what the program sends, then answers after delay (no answer
  // when reply is empty).
  void emulate(std::string reply, milliseconds delay) {
    emulator_ = std::thread([this, reply, delay] {
      received_ = drain(master_, 3000);
      std::this_thread::sleep_for(delay);
      if (!reply.empty()) {
        EXPECT_EQ(::write(master_, reply.data(), reply.size()),
                  static_cast<ssize_t>(reply.size()));
      }
    });
  }

  INT open() {
    INT f = -1;
    EXPECT_EQ(FILE_OPEN_("$ZTN0.#PTY1", 11, &f, {}, {}, 1), 0);
    return f;
  }
  INT query(INT f) {
    std::memcpy(buffer_, QUERY.data(), QUERY.size());
    return WRITEREADX(f, buffer_, 4, 500);
  }
  INT await(INT f, INT32 limit, INT* count) {
    INT fnum = f;
    AWAITIOX(&fnum, count, nullptr, limit);
    INT error = -1;
    FILE_GETINFO_(f, &error);
    return error;
  }
  termios now() const {
    termios t{};
    tcgetattr(slave_, &t);
    return t;
  }
  // Input waiting at the slave, looked at in non-canonical mode (call after the settings
  // checks: it changes them).
  std::string waiting_input() {
    termios raw = now();
    raw.c_lflag &= static_cast<tcflag_t>(~ICANON);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    tcsetattr(slave_, TCSANOW, &raw);
    return drain(slave_, 100);
  }

  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
  termios before_{};
  std::thread emulator_;
  std::string received_;
  char buffer_[501] = {};
};

TEST_F(Tty, ReplyInTimeIsReadAndTheSettingsComeBack) {
  emulate(REPLY, milliseconds(30));
  const INT f = open();
  EXPECT_TRUE(same_settings(now(), before_));  // opening alone changes nothing
  ASSERT_EQ(query(f), 0);
  const termios during = now();
  EXPECT_EQ(during.c_lflag & (ECHO | ICANON), 0u);
  EXPECT_EQ(during.c_iflag & ICRNL, 0u);
  INT count = 0;
  ASSERT_EQ(await(f, 300, &count), 0);
  EXPECT_EQ(std::string(buffer_, static_cast<size_t>(count)), REPLY);  // CR passed unchanged
  emulator_.join();
  EXPECT_EQ(received_, QUERY);
  ASSERT_EQ(FILE_CLOSE_(f), 0);
  EXPECT_TRUE(same_settings(now(), before_));
}

TEST_F(Tty, LateReplyExpiresTheLimitAndIsThrownAwayAtClose) {
  emulate(REPLY, milliseconds(200));
  const INT f = open();
  ASSERT_EQ(query(f), 0);
  INT count = -1;
  EXPECT_EQ(await(f, 5, &count), 40);
  EXPECT_EQ(count, 0);
  emulator_.join();
  std::this_thread::sleep_for(milliseconds(150));  // the pty hands the bytes over later
  ASSERT_EQ(FILE_CLOSE_(f), 0);
  EXPECT_TRUE(same_settings(now(), before_));
  EXPECT_EQ(waiting_input(), "");
}

TEST_F(Tty, NewOperationAfterAnExpiredLimitGetsTheLateReply) {
  emulate(REPLY, milliseconds(100));
  const INT f = open();
  ASSERT_EQ(query(f), 0);
  INT count = 0;
  EXPECT_EQ(await(f, 2, &count), 40);
  ASSERT_EQ(READX(f, buffer_, 500), 0);
  ASSERT_EQ(await(f, 300, &count), 0);
  EXPECT_EQ(std::string(buffer_, static_cast<size_t>(count)), REPLY);
}

TEST_F(Tty, GarbageWithoutLineEndCompletesAfterTheInputPauses) {
  emulate("garbage!", milliseconds(10));
  const INT f = open();
  ASSERT_EQ(query(f), 0);
  INT count = 0;
  ASSERT_EQ(await(f, 300, &count), 0);
  EXPECT_EQ(std::string(buffer_, static_cast<size_t>(count)), "garbage!");
  FILE_CLOSE_(f);
  EXPECT_TRUE(same_settings(now(), before_));
}

TEST_F(Tty, SilentEmulatorExpiresTheLimit) {
  emulate("", milliseconds(0));
  const INT f = open();
  ASSERT_EQ(query(f), 0);
  INT count = 0;
  EXPECT_EQ(await(f, 10, &count), 40);
  FILE_CLOSE_(f);
  EXPECT_TRUE(same_settings(now(), before_));
}

TEST_F(Tty, LinesWrittenEndWithCarriageReturnAndLineFeed) {
  termios plain = before_;
  plain.c_oflag &= static_cast<tcflag_t>(~OPOST);
  ASSERT_EQ(tcsetattr(slave_, TCSANOW, &plain), 0);
  const INT f = open();
  INT count = 0;
  ASSERT_EQ(WRITEX(f, "hello", 5), 0);
  ASSERT_EQ(await(f, -1, &count), 0);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(drain(master_, 500), "hello\r\n");
}

TEST_F(Tty, InputWaitingBeforeTheReadIsReadAtOnce) {
  const INT f = open();
  ASSERT_EQ(::write(master_, "typed\r", 6), 6);
  std::this_thread::sleep_for(milliseconds(30));
  ASSERT_EQ(READX(f, buffer_, 500), 0);
  INT count = 0;
  ASSERT_EQ(await(f, 100, &count), 0);
  // Typed before raw mode: the line discipline had turned the CR into a line feed.
  EXPECT_EQ(std::string(buffer_, static_cast<size_t>(count)), "typed\n");
}

TEST_F(Tty, TtyOutputWithAScriptedEmulatorTakesOnlyTheLines) {
  node::Node n = node::current();
  node::Terminal& t = n.destinations[0].terminals[0];
  t.emulator = {};
  t.emulator.kind = node::EmulatorKind::Script;
  t.emulator.reply = REPLY;
  t.output.kind = node::OutputKind::Tty;
  t.output.path = slave_path_;
  node::set_current(n);
  termios plain = before_;
  plain.c_oflag &= static_cast<tcflag_t>(~OPOST);
  ASSERT_EQ(tcsetattr(slave_, TCSANOW, &plain), 0);
  const INT f = open();
  ASSERT_EQ(WRITEX(f, "line", 4), 0);
  INT count = 0;
  ASSERT_EQ(await(f, -1, &count), 0);
  ASSERT_EQ(query(f), 0);
  ASSERT_EQ(await(f, 100, &count), 0);
  EXPECT_EQ(std::string(buffer_, static_cast<size_t>(count)), REPLY);
  EXPECT_EQ(drain(master_, 300), "line\r\n");
  EXPECT_TRUE(same_settings(now(), plain));
}

// More ttys than the process keeps state for: each still goes raw and comes back.
TEST_F(Tty, EveryOneOfManyTtysGoesRawAndComesBack) {
  for (int i = 0; i < 20; ++i) {
    SCOPED_TRACE(i);
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    node::Node n = node::current();
    n.destinations[0].terminals[0].emulator.tty_path = ptsname(master);
    node::set_current(n);
    const int slave = ::open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios before{}, during{}, after{};
    tcgetattr(slave, &before);
    const INT f = open();
    ASSERT_EQ(READX(f, buffer_, 500), 0);
    tcgetattr(slave, &during);
    EXPECT_EQ(during.c_lflag & (ECHO | ICANON), 0u);
    FILE_CLOSE_(f);
    tcgetattr(slave, &after);
    EXPECT_TRUE(same_settings(before, after));
    ::close(slave);
    ::close(master);
  }
}

// A reply that comes after the open was closed, before the process ends: the stop hook throws
// it away.  In a child, because the stop hooks run once per process.
TEST_F(Tty, ReplyAfterTheCloseIsThrownAwayByTheStopHook) {
  int ready[2];
  ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const INT f = open();
    query(f);
    INT count = 0;
    const INT error = await(f, 2, &count);
    FILE_CLOSE_(f);
    char go = 0;
    if (::read(ready[0], &go, 1) != 1) _exit(2);
    std::this_thread::sleep_for(milliseconds(150));  // the pty hands the bytes over later
    run_stop_hooks();
    _exit(error == 40 ? 0 : 1);
  }
  EXPECT_EQ(drain(master_, 3000), QUERY);
  std::this_thread::sleep_for(milliseconds(100));
  ASSERT_EQ(::write(master_, REPLY.data(), REPLY.size()), static_cast<ssize_t>(REPLY.size()));
  ASSERT_EQ(::write(ready[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(same_settings(now(), before_));
  EXPECT_EQ(waiting_input(), "");
}

}  // namespace
}  // namespace nsk
