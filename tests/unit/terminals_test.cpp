// Terminals with scripted emulators and their outputs: console lines on standard output,
// transcripts, failing writes, nowait operations completed by AWAITIOX within time limits
// scaled by the node, the reply after its delay, empty reads, long replies, pending input.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/consoleout.h"
#include "platform/filesystem.h"
#include "platform/node.h"
#include "platform/processes.h"
#include "platform/timenum.h"

namespace nsk {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

const char QUERY[4] = {0x1B, 0x2D, 0x39, 0x65};
const std::string REPLY = "\x01&A\x12" "10.1.2.3\r";

class Terminals : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/netloc-term-XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  void TearDown() override {
    for (INT f = 0; f < 16; ++f) FILE_CLOSE_(f);
    fs::remove_all(dir_);
  }

  // A node with the one terminal $ZTN0.#PTY1 (a Telnet window).
  void use(const node::Terminal& t, double time_scale = 0.01) {
    node::Node n;
    n.name = "\\ALPHA";
    n.time_scale = time_scale;
    node::Destination d;
    d.name = "$ZTN0";
    d.device_type = node::DEVICE_TELNET;
    node::Terminal named = t;
    named.name = "#PTY1";
    d.terminals = {named};
    n.destinations = {d};
    node::set_current(n);
  }
  static node::Terminal scripted(std::string reply, int delay_cs = 0) {
    node::Terminal t;
    t.emulator.kind = node::EmulatorKind::Script;
    t.emulator.reply = std::move(reply);
    t.emulator.delay_cs = delay_cs;
    return t;
  }

  INT open(INT nowait = 1) {
    INT f = -1;
    EXPECT_EQ(FILE_OPEN_("$ZTN0.#PTY1", 11, &f, {}, {}, nowait), 0);
    return f;
  }
  INT query(INT f) {
    std::memcpy(buffer_, QUERY, sizeof QUERY);
    return WRITEREADX(f, buffer_, sizeof QUERY, 500);
  }
  // Completes the operation on f: the error, *count the count.
  INT await(INT f, INT32 limit, INT* count) {
    INT fnum = f;
    *count = -1;
    const INT error = AWAITIOX(&fnum, count, nullptr, limit);
    INT last = -1;
    FILE_GETINFO_(f, &last);
    EXPECT_EQ(last, error);
    return error;
  }
  std::string got(INT count) const { return std::string(buffer_, static_cast<size_t>(count)); }

  std::string dir_;
  char buffer_[501] = {};
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Standard output goes to the file path while it lives.
class StdoutCapture {
 public:
  explicit StdoutCapture(const std::string& path) : path_(path) {
    std::fflush(stdout);
    console::flush();
    saved_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(out, STDOUT_FILENO);
    ::close(out);
  }
  ~StdoutCapture() { restore(); }
  // Ends the capture; what was written.
  std::string restore() {
    if (saved_ >= 0) {
      console::flush();
      dup2(saved_, STDOUT_FILENO);
      ::close(saved_);
      saved_ = -1;
    }
    return read_file(path_);
  }

 private:
  std::string path_;
  int saved_ = -1;
};

TEST_F(Terminals, ConsoleLinesGoToStandardOutputOneEach) {
  use(scripted(REPLY));
  StdoutCapture capture(dir_ + "/stdout");
  const INT f = open(0);
  INT count = 0;
  EXPECT_EQ(WRITEX(f, "first line", 10, &count), 0);
  EXPECT_EQ(count, 10);
  EXPECT_EQ(WRITEX(f, "", 0), 0);
  EXPECT_EQ(query(f), 0);  // the query goes to the emulator, not to the screen log
  const INT g = open(1);
  EXPECT_EQ(WRITEX(g, "second", 6), 0);
  EXPECT_EQ(await(g, -1, &count), 0);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(capture.restore(), "first line\n\nsecond\n");
}

// Standard output to a file is gathered in blocks; a line on standard error (the debugger's)
// still comes after the console lines written before it, as in a run's "> log 2>&1".
TEST_F(Terminals, ConsoleLinesComeBeforeALaterLineOnStandardError) {
  use(scripted(REPLY));
  const std::string log = dir_ + "/log";
  StdoutCapture capture(log);
  std::fflush(stderr);
  const int saved_err = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
  dup2(STDOUT_FILENO, STDERR_FILENO);
  const INT f = open(0);
  EXPECT_EQ(WRITEX(f, "before", 6), 0);
  DEBUG();
  EXPECT_EQ(WRITEX(f, "after", 5), 0);
  const std::string written = capture.restore();
  dup2(saved_err, STDERR_FILENO);
  ::close(saved_err);
  EXPECT_EQ(written, "before\nnetloc: debugger entered (DEBUG); resuming\nafter\n");
}

TEST_F(Terminals, TranscriptGetsTheLinesAppended) {
  node::Terminal t;
  t.output.kind = node::OutputKind::Transcript;
  t.output.path = dir_ + "/transcript.txt";
  std::ofstream(t.output.path) << "before\n";
  use(t);
  const INT f = open(0);
  EXPECT_EQ(WRITEX(f, "one", 3), 0);
  EXPECT_EQ(WRITEX(f, "two", 3), 0);
  EXPECT_EQ(read_file(t.output.path), "before\none\ntwo\n");
}

TEST_F(Terminals, TranscriptInAMissingDirectoryFailsTheOpen) {
  node::Terminal t;
  t.output.kind = node::OutputKind::Transcript;
  t.output.path = dir_ + "/none/transcript.txt";
  use(t);
  INT f = 0;
  EXPECT_EQ(FILE_OPEN_("$ZTN0.#PTY1", 11, &f), 11);
}

TEST_F(Terminals, FailingOutputEndsWritesAfterTheFirstOnes) {
  node::Terminal t;
  t.output.kind = node::OutputKind::Fail;
  t.output.fail_after = 1;
  t.output.fail_error = 140;
  use(t);
  StdoutCapture capture(dir_ + "/stdout");
  const INT f = open(1);
  INT count = 0;
  EXPECT_EQ(WRITEX(f, "ok", 2), 0);
  EXPECT_EQ(await(f, -1, &count), 0);
  EXPECT_EQ(WRITEX(f, "lost", 4), 0);
  EXPECT_EQ(await(f, -1, &count), 140);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(capture.restore(), "ok\n");
}

TEST_F(Terminals, ReplyComesAfterItsScaledDelay) {
  struct Case {
    int delay_cs;
    double scale;
  };
  // 3 cs at scale 1 and 300 cs at scale 0.01 are both about 30 ms.
  for (const Case c : {Case{3, 1.0}, Case{300, 0.01}}) {
    SCOPED_TRACE(std::to_string(c.delay_cs) + " cs at scale " + std::to_string(c.scale));
    use(scripted(REPLY, c.delay_cs), c.scale);
    const INT f = open();
    ASSERT_EQ(query(f), 0);
    const INT64 start = JULIANTIMESTAMP(0);
    INT count = 0;
    ASSERT_EQ(await(f, 10000, &count), 0);
    const INT64 took_us = JULIANTIMESTAMP(0) - start;
    EXPECT_EQ(got(count), REPLY);
    EXPECT_GE(took_us, 25000);
    EXPECT_LT(took_us, 5000000);
    FILE_CLOSE_(f);
  }
}

TEST_F(Terminals, ExpiredLimitCancelsAndTheFileTakesANewOperation) {
  use(scripted(REPLY, 100));  // 10 ms
  const INT f = open();
  ASSERT_EQ(query(f), 0);
  INT count = 0;
  EXPECT_EQ(await(f, 20, &count), 40);  // 2 ms
  EXPECT_EQ(count, 0);
  INT fnum = f;
  EXPECT_EQ(AWAITIOX(&fnum), 26);
  // The reply is still on its way; a new read gets it.
  ASSERT_EQ(READX(f, buffer_, 500), 0);
  EXPECT_EQ(await(f, 3000, &count), 0);
  EXPECT_EQ(got(count), REPLY);
  ASSERT_EQ(READX(f, buffer_, 500), 0);
  EXPECT_EQ(await(f, 50, &count), 40);
}

TEST_F(Terminals, LimitZeroOnlyChecksAndLeavesTheOperationOutstanding) {
  use(scripted(REPLY, 100));
  const INT f = open();
  ASSERT_EQ(query(f), 0);
  INT count = 0;
  EXPECT_EQ(await(f, 0, &count), 40);
  EXPECT_EQ(READX(f, buffer_, 500), 27);
  EXPECT_EQ(await(f, 3000, &count), 0);
  EXPECT_EQ(got(count), REPLY);
}

TEST_F(Terminals, EmptyReadsCompleteAtOnceBeforeTheReply) {
  node::Terminal t = scripted(REPLY);
  t.emulator.empty_reads = 2;
  use(t);
  const INT f = open();
  ASSERT_EQ(query(f), 0);
  INT count = 0;
  EXPECT_EQ(await(f, 0, &count), 0);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(READX(f, buffer_, 500), 0);
  EXPECT_EQ(await(f, 0, &count), 0);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(READX(f, buffer_, 500), 0);
  EXPECT_EQ(await(f, 3000, &count), 0);
  EXPECT_EQ(got(count), REPLY);
}

TEST_F(Terminals, ReplyLongerThanTheReadCountIsCutToIt) {
  use(scripted(std::string(600, 'r')));
  const INT f = open();
  std::memset(buffer_, '.', sizeof buffer_);
  std::memcpy(buffer_, QUERY, sizeof QUERY);
  ASSERT_EQ(WRITEREADX(f, buffer_, 4, 8), 0);
  INT count = 0;
  ASSERT_EQ(await(f, 3000, &count), 0);
  EXPECT_EQ(count, 8);
  EXPECT_EQ(std::string(buffer_, 9), "rrrrrrrr.");
}

TEST_F(Terminals, PendingInputComesFirst) {
  node::Terminal t = scripted(REPLY, 10);
  t.emulator.pending_input = "typed ahead";
  use(t);
  // Drained: the read before the query gets it at once, the next one nothing.
  INT f = open();
  INT count = 0;
  ASSERT_EQ(READX(f, buffer_, 500), 0);
  EXPECT_EQ(await(f, 0, &count), 0);
  EXPECT_EQ(got(count), "typed ahead");
  ASSERT_EQ(READX(f, buffer_, 500), 0);
  EXPECT_EQ(await(f, 50, &count), 40);
  ASSERT_EQ(query(f), 0);
  EXPECT_EQ(await(f, 3000, &count), 0);
  EXPECT_EQ(got(count), REPLY);
  FILE_CLOSE_(f);
  // Not drained: the query's read gets it instead of the reply.
  f = open();
  ASSERT_EQ(query(f), 0);
  EXPECT_EQ(await(f, 3000, &count), 0);
  EXPECT_EQ(got(count), "typed ahead");
}

TEST_F(Terminals, SilentAndAbsentEmulatorsNeverAnswer) {
  for (node::EmulatorKind kind : {node::EmulatorKind::Silent, node::EmulatorKind::None}) {
    node::Terminal t;
    t.emulator.kind = kind;
    use(t);
    const INT f = open();
    ASSERT_EQ(query(f), 0);
    INT count = 0;
    EXPECT_EQ(await(f, 50, &count), 40);
    FILE_CLOSE_(f);
  }
}

TEST_F(Terminals, WaitedOpenCompletesTheQueryInTheCall) {
  use(scripted(REPLY, 10));
  const INT f = open(0);
  std::memcpy(buffer_, QUERY, sizeof QUERY);
  INT count = 0;
  ASSERT_EQ(WRITEREADX(f, buffer_, 4, 500, &count), 0);
  EXPECT_EQ(got(count), REPLY);
  INT fnum = f;
  EXPECT_EQ(AWAITIOX(&fnum), 26);
}

TEST_F(Terminals, BreakModeIsAcceptedNowaitAndWaited) {
  use(scripted(REPLY));
  const INT f = open();
  ASSERT_EQ(SETMODENOWAIT(f, 11, 1, 0), 0);
  INT count = -1;
  EXPECT_EQ(await(f, -1, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(SETMODE(f, 11, 0, 0), 0);
  EXPECT_EQ(SETMODE(f, 12, 0, 0), 2);
}

TEST_F(Terminals, CloseCancelsTheOutstandingOperation) {
  node::Terminal t;
  t.emulator.kind = node::EmulatorKind::Silent;
  use(t);
  const INT f = open();
  ASSERT_EQ(query(f), 0);
  EXPECT_EQ(FILE_CLOSE_(f), 0);
  const INT g = open();
  EXPECT_EQ(g, f);
  ASSERT_EQ(query(g), 0);
}

}  // namespace
}  // namespace nsk
