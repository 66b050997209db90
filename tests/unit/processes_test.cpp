// Process procedures over a described node: handles, information, the pair table, stops, the
// debugger, delays and the SWITCHUSER entry point.
#include "platform/processes.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/node.h"
#include "platform/stophooks.h"

namespace nsk {
namespace {

constexpr char NODE_TEXT[] = R"(
[node]
name = '\DEMO'
number = 7
time_scale = 0.01

[[remote_node]]
name = '\TIGRA'
number = 12

[self]
cpu = 1
pin = 201
program = '$DATA.NETLOC.NETLOC'
home_terminal = '$ZTN0.#PTY1'
mom = "$TACL3"
creator_access_id = 255
attribute82 = "ATTRIBUTE 82 OF THIS PROCESS    "

[[process]]
name = "$TACL3"
cpu = 0
pin = 40
program = '$SYSTEM.SYS01.TACL'
home_terminal = '$ZTN0.#PTY2'
logon_state = 8

[[process]]
cpu = 2
pin = 88
type = "oss"
oss_pid = 4711
oss_parent_pid = 4700
mom = "$TACL3"
program = '$SYSTEM.ZOSS.SH'
home_terminal = '$TC1'
exists = false

[[process]]
name = "$TACL1"
cpu = 2
pin = 30
program = '$SYSTEM.SYS01.TACL'
home_terminal = '$TC1'
ancestor = "2,88"

[[process]]
cpu = 3
pin = 10
type = "oss"
oss_pid = 4700
oss_parent_pid = 1
mom = "$TACL1"
program = '$SYSTEM.ZOSS.SH'
home_terminal = '$TC1'

[[process]]
name = "$INJ"
cpu = 3
pin = 11
program = '$SYSTEM.SYS01.TACL'
home_terminal = '$TC1'
mom = "$TACL3"
inject = { PROCESS_GETPAIRINFO_ = 5, PROCESS_GETINFO_ = 44, PROCESS_GETINFOLIST_ = 45 }

[[process]]
cpu = 3
pin = 12
program = '$SYSTEM.SYS01.TACL'
home_terminal = '$TC1'
mom = "3,10"
inject = { PROCESS_GETPAIRINFO_ = 0 }
)";

node::Node described_node() {
  std::string error;
  auto node = node::load_node_text(NODE_TEXT, "processes", &error);
  EXPECT_TRUE(node) << error;
  return node ? *node : node::Node{};
}

class Processes : public testing::Test {
 protected:
  void SetUp() override { node::set_current(described_node()); }
};

PHANDLE mine() {
  PHANDLE h;
  EXPECT_EQ(PROCESSHANDLE_GETMINE_(&h), 0);
  return h;
}

PHANDLE null() {
  PHANDLE h;
  EXPECT_EQ(PROCESSHANDLE_NULLIT_(&h), 0);
  return h;
}

bool same(const PHANDLE& a, const PHANDLE& b) { return PROCESSHANDLE_COMPARE_(&a, &b) == 2; }

// The handle of the process at cpu, pin (attribute 48).
PHANDLE at(INT cpu, INT pin) {
  const INT attrs[] = {ATTR_PROCESS_HANDLE};
  PHANDLE h = null();
  INT words = 0;
  EXPECT_EQ(PROCESS_GETINFOLIST_(cpu, pin, nullptr, 0, nullptr, attrs, 1,
                                 reinterpret_cast<INT*>(h.w), 10, &words),
            0);
  return h;
}

PHANDLE named(const std::string& name) {
  PHANDLE primary = null();
  const INT rc = PROCESS_GETPAIRINFO_(nullptr, name.data(), static_cast<INT>(name.size()), &primary);
  EXPECT_TRUE(rc == 0 || rc == 5) << rc;  // $INJ answers 5, with the outputs filled
  return primary;
}

struct Decomposed {
  INT cpu = -1;
  INT pin = -1;
  INT32 node = -1;
  std::string node_name;
  std::string proc_name;
  INT64 sequence = -1;
};

Decomposed decompose(const PHANDLE& h) {
  Decomposed d;
  char node_name[8];
  char proc_name[8];
  INT node_length = 0;
  INT proc_length = 0;
  EXPECT_EQ(PROCESSHANDLE_DECOMPOSE_(&h, &d.cpu, &d.pin, &d.node, node_name, sizeof node_name,
                                     &node_length, proc_name, sizeof proc_name, &proc_length,
                                     &d.sequence),
            0);
  d.node_name.assign(node_name, static_cast<std::size_t>(node_length));
  d.proc_name.assign(proc_name, static_cast<std::size_t>(proc_length));
  return d;
}

TEST_F(Processes, HandlesNameTheirProcess) {
  const PHANDLE me = mine();
  EXPECT_FALSE(same(me, null()));
  for (std::uint16_t w : null().w) EXPECT_EQ(w, 0xFFFF);
  const Decomposed d = decompose(me);
  EXPECT_EQ(d.cpu, 1);
  EXPECT_EQ(d.pin, 201);
  EXPECT_EQ(d.node, 7);
  EXPECT_EQ(d.node_name, "\\DEMO");
  EXPECT_EQ(d.proc_name, "");
  EXPECT_EQ(d.sequence, 1);
  const Decomposed tacl = decompose(named("$tacl3"));
  EXPECT_EQ(tacl.cpu, 0);
  EXPECT_EQ(tacl.pin, 40);
  EXPECT_EQ(tacl.proc_name, "$TACL3");
  EXPECT_EQ(tacl.sequence, 2);

  EXPECT_TRUE(same(at(0, 40), named("$TACL3")));
  EXPECT_FALSE(same(me, named("$TACL3")));
  EXPECT_TRUE(same(null(), null()));
}

TEST_F(Processes, DecomposeRefusesWhatIsNoHandle) {
  const PHANDLE n = null();
  INT cpu = -1;
  EXPECT_EQ(PROCESSHANDLE_DECOMPOSE_(&n, &cpu), err::BAD_PARAM);
  PHANDLE zeros{};
  EXPECT_EQ(PROCESSHANDLE_DECOMPOSE_(&zeros, &cpu), err::BAD_PARAM);
  EXPECT_EQ(cpu, -1);
  const PHANDLE me = mine();
  char small[4];
  INT length = -1;
  EXPECT_EQ(PROCESSHANDLE_DECOMPOSE_(&me, &cpu, nullptr, nullptr, small, sizeof small, &length),
            err::BUFFER_TOO_SMALL);
  EXPECT_EQ(cpu, -1);
  EXPECT_EQ(PROCESSHANDLE_DECOMPOSE_(&me, nullptr, nullptr, nullptr, small, sizeof small),
            err::BAD_PARAM);
}

struct Info {
  INT rc = -1;
  std::string name, hometerm, program;
  PHANDLE mom{};
};

Info info(const PHANDLE* h) {
  Info i;
  char name[40], hometerm[40], program[40];
  INT name_length = 0, hometerm_length = 0, program_length = 0;
  i.rc = PROCESS_GETINFO_(h, name, sizeof name, &name_length, nullptr, &i.mom, hometerm,
                          sizeof hometerm, &hometerm_length, nullptr, nullptr, nullptr, nullptr,
                          nullptr, program, sizeof program, &program_length);
  if (i.rc == 0) {
    i.name.assign(name, static_cast<std::size_t>(name_length));
    i.hometerm.assign(hometerm, static_cast<std::size_t>(hometerm_length));
    i.program.assign(program, static_cast<std::size_t>(program_length));
  }
  return i;
}

TEST_F(Processes, GetinfoOfThisProcess) {
  const PHANDLE n = null();
  for (const PHANDLE* h : {static_cast<const PHANDLE*>(nullptr), &n}) {
    const Info i = info(h);
    ASSERT_EQ(i.rc, 0);
    EXPECT_EQ(i.name, "\\DEMO.$:1:201:1");
    EXPECT_EQ(i.hometerm, "\\DEMO.$ZTN0.#PTY1");
    EXPECT_EQ(i.program, "\\DEMO.$DATA.NETLOC.NETLOC");
    EXPECT_TRUE(same(i.mom, named("$TACL3")));
  }
  const PHANDLE tacl = named("$TACL3");
  const Info t = info(&tacl);
  EXPECT_EQ(t.name, "\\DEMO.$TACL3");
  EXPECT_EQ(t.hometerm, "\\DEMO.$ZTN0.#PTY2");
  EXPECT_TRUE(same(t.mom, null()));
}

TEST_F(Processes, GetinfoErrors) {
  // $TACL1's ancestor has gone: its handle still names it.
  PHANDLE gone = null();
  ASSERT_EQ(PROCESS_GETPAIRINFO_(nullptr, "$TACL1", 6, nullptr, nullptr, &gone), 0);
  EXPECT_EQ(decompose(gone).pin, 88);
  EXPECT_EQ(info(&gone).rc, 4);
  PHANDLE forged = mine();
  forged.w[5] = 99;
  EXPECT_EQ(info(&forged).rc, err::NO_SUCH_FILE);
  const PHANDLE inj = named("$INJ");
  EXPECT_EQ(info(&inj).rc, 44);

  char small[10];
  std::memset(small, '-', sizeof small);
  INT length = -1;
  EXPECT_EQ(PROCESS_GETINFO_(nullptr, nullptr, 0, nullptr, nullptr, nullptr, small, sizeof small,
                             &length),
            err::BUFFER_TOO_SMALL);
  EXPECT_EQ(std::string(small, sizeof small), "----------");
  EXPECT_EQ(length, -1);
  EXPECT_EQ(PROCESS_GETINFO_(nullptr, nullptr, 0, nullptr, nullptr, nullptr, small, sizeof small),
            err::BAD_PARAM);
}

struct PairCase {
  const char* what;
  const PHANDLE* handle;
  const char* pair;
  INT rc;
  const char* ancestor;  // "" null, else a pair name, or "cpu,pin"
};

TEST_F(Processes, PairInfo) {
  const PHANDLE me = mine();
  const PHANDLE n = null();
  const PHANDLE inj = named("$INJ");
  const PHANDLE unnamed_injected = at(3, 12);
  const PHANDLE oss = at(3, 10);
  PHANDLE forged = mine();
  forged.w[5] = 99;
  PHANDLE gone = null();
  PROCESS_GETPAIRINFO_(nullptr, "$TACL1", 6, nullptr, nullptr, &gone);
  const PairCase cases[] = {
      {"named, no ancestor", nullptr, "$TACL3", 0, ""},
      {"named with node, gone ancestor", nullptr, "\\demo.$tacl1", 0, "2,88"},
      {"named on another node", nullptr, "\\TIGRA.$TACL3", 9, nullptr},
      {"no such name", nullptr, "$NOPE", 9, nullptr},
      {"a terminal name", nullptr, "$ZTN0.#PTY1", 2, nullptr},
      {"no name at all", nullptr, "1X", 2, nullptr},
      {"unnamed, by handle", &me, nullptr, 7, nullptr},
      {"null handle: this process", &n, nullptr, 7, nullptr},
      {"nothing given: this process", nullptr, nullptr, 7, nullptr},
      {"unnamed OSS process", &oss, nullptr, 7, nullptr},
      {"injected 5: outputs filled", &inj, nullptr, 5, "$TACL3"},
      {"unnamed, injected 0: the mom", &unnamed_injected, nullptr, 0, "3,10"},
      {"gone", &gone, nullptr, 9, nullptr},
      {"forged", &forged, nullptr, 9, nullptr},
  };
  for (const PairCase& c : cases) {
    SCOPED_TRACE(c.what);
    PHANDLE primary = null(), backup = mine(), ancestor = mine();
    const INT rc = PROCESS_GETPAIRINFO_(c.handle, c.pair,
                                        c.pair ? static_cast<INT>(std::strlen(c.pair)) : 0,
                                        &primary, &backup, &ancestor);
    EXPECT_EQ(rc, c.rc);
    if (c.ancestor == nullptr) {  // no information: outputs untouched
      EXPECT_TRUE(same(primary, null()));
      EXPECT_TRUE(same(ancestor, mine()));
      continue;
    }
    EXPECT_FALSE(same(primary, null()));
    EXPECT_TRUE(same(backup, null()));
    const std::string a = c.ancestor;
    if (a.empty()) {
      EXPECT_TRUE(same(ancestor, null()));
    } else if (a[0] == '$') {
      EXPECT_TRUE(same(ancestor, named(a)));
    } else {
      const Decomposed d = decompose(ancestor);
      EXPECT_EQ(std::to_string(d.cpu) + "," + std::to_string(d.pin), a);
    }
  }
}

TEST_F(Processes, GetinfolistGivesTheAncestorAttributes) {
  const INT attrs[] = {ATTR_MOM, ATTR_PROCESS_HANDLE, ATTR_PROCESS_TYPE, ATTR_OSS_PARENT_PID};
  INT values[24];
  INT length = 0;
  ASSERT_EQ(PROCESS_GETINFOLIST_(3, 10, nullptr, 0, nullptr, attrs, 4, values, 23, &length), 0);
  ASSERT_EQ(length, 23);
  PHANDLE mom, own;
  std::memcpy(mom.w, values, 20);
  std::memcpy(own.w, values + 10, 20);
  EXPECT_TRUE(same(mom, named("$TACL1")));
  EXPECT_EQ(decompose(own).pin, 10);
  EXPECT_EQ(values[20], 1);  // OSS
  EXPECT_EQ(values[21], 0);  // parent pid 1, high word first
  EXPECT_EQ(values[22], 1);

  // Found by OSS process id 4700 = 0x125C.
  const INT search_attr[] = {ATTR_OSS_PID};
  const INT pid[] = {0, 0x125C};
  ASSERT_EQ(PROCESS_GETINFOLIST_({}, {}, nullptr, 0, nullptr, attrs, 4, values, 23, &length,
                                 nullptr, SEARCH_OSS_PID, search_attr, 1, pid, 2),
            0);
  std::memcpy(own.w, values + 10, 20);
  EXPECT_TRUE(same(own, at(3, 10)));
  const INT gone_pid[] = {0, 4711};
  EXPECT_EQ(PROCESS_GETINFOLIST_({}, {}, nullptr, 0, nullptr, attrs, 4, values, 23, &length,
                                 nullptr, SEARCH_OSS_PID, search_attr, 1, gone_pid, 2),
            4);

  // This process, by a null handle.
  const PHANDLE n = null();
  ASSERT_EQ(PROCESS_GETINFOLIST_({}, {}, nullptr, 0, &n, attrs, 4, values, 23, &length), 0);
  std::memcpy(mom.w, values, 20);
  std::memcpy(own.w, values + 10, 20);
  EXPECT_TRUE(same(mom, named("$TACL3")));
  EXPECT_TRUE(same(own, mine()));
  EXPECT_EQ(values[20], 0);
}

TEST_F(Processes, GetinfolistOtherAttributes) {
  const INT logon[] = {ATTR_LOGON_68, ATTR_LOGON_STATE};
  INT values[16];
  INT length = 0;
  ASSERT_EQ(PROCESS_GETINFOLIST_({}, {}, nullptr, 0, nullptr, logon, 2, values, 2, &length), 0);
  EXPECT_EQ(length, 2);
  EXPECT_EQ(values[0], 255);
  EXPECT_EQ(values[1], 9);
  ASSERT_EQ(PROCESS_GETINFOLIST_(0, 40, nullptr, 0, nullptr, logon, 2, values, 2, &length), 0);
  EXPECT_EQ(values[1], 8);

  const INT a82[] = {ATTR_PROCESS_INFO_82};
  ASSERT_EQ(PROCESS_GETINFOLIST_({}, {}, nullptr, 0, nullptr, a82, 1, values, 16, &length), 0);
  EXPECT_EQ(length, 16);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(values), 32), "ATTRIBUTE 82 OF THIS PROCESS    ");

  node::Node n = described_node();
  n.self.attribute82 = "ABC";
  node::set_current(n);
  ASSERT_EQ(PROCESS_GETINFOLIST_({}, {}, nullptr, 0, nullptr, a82, 1, values, 16, &length), 0);
  EXPECT_EQ(length, 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(values), 4), "ABC ");

  n.self.attribute82 = "";
  node::set_current(n);
  values[0] = 0x5555;
  ASSERT_EQ(PROCESS_GETINFOLIST_({}, {}, nullptr, 0, nullptr, a82, 1, values, 16, &length), 0);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(values[0], 0x5555);
}

TEST_F(Processes, GetinfolistErrors) {
  const INT attrs[] = {ATTR_MOM, ATTR_PROCESS_HANDLE, ATTR_PROCESS_TYPE, ATTR_OSS_PARENT_PID};
  INT values[23];
  std::memset(values, 0x55, sizeof values);
  INT length = -1;
  INT detail = -1;
  EXPECT_EQ(PROCESS_GETINFOLIST_({}, {}, nullptr, 0, nullptr, attrs, 4, values, 22, &length),
            err::BUFFER_TOO_SMALL);
  EXPECT_EQ(values[0], 0x5555);
  EXPECT_EQ(length, -1);
  const INT unknown[] = {ATTR_MOM, 99};
  EXPECT_EQ(PROCESS_GETINFOLIST_({}, {}, nullptr, 0, nullptr, unknown, 2, values, 23, &length,
                                 &detail),
            2);
  EXPECT_EQ(detail, 99);
  EXPECT_EQ(PROCESS_GETINFOLIST_(3, {}, nullptr, 0, nullptr, attrs, 4, values, 23, &length),
            err::MISSING_PARAM);
  EXPECT_EQ(PROCESS_GETINFOLIST_(9, 9, nullptr, 0, nullptr, attrs, 4, values, 23, &length), 4);
  EXPECT_EQ(PROCESS_GETINFOLIST_(2, 88, nullptr, 0, nullptr, attrs, 4, values, 23, &length), 4);
  EXPECT_EQ(PROCESS_GETINFOLIST_(0, 40, "\\TIGRA", 6, nullptr, attrs, 4, values, 23, &length), 4);
  EXPECT_EQ(PROCESS_GETINFOLIST_(0, 40, "\\demo", 5, nullptr, attrs, 4, values, 23, &length), 0);
  EXPECT_EQ(PROCESS_GETINFOLIST_(3, 11, nullptr, 0, nullptr, attrs, 4, values, 23, &length), 45);
  EXPECT_EQ(PROCESS_GETINFOLIST_({}, {}, nullptr, 0, nullptr, attrs, 4, values, 23, &length,
                                 nullptr, 5),
            err::BAD_PARAM);
}

TEST_F(Processes, OtherProcessesAreNotStopped) {
  const PHANDLE tacl = named("$TACL3");
  EXPECT_EQ(PROCESS_STOP_(&tacl), err::SECURITY);
  PHANDLE gone = null();
  PROCESS_GETPAIRINFO_(nullptr, "$TACL1", 6, nullptr, nullptr, &gone);
  EXPECT_EQ(PROCESS_STOP_(&gone), err::NO_SUCH_FILE);
}

void write_hook() {
  constexpr char text[] = "hook ran\n";
  [[maybe_unused]] ssize_t n = ::write(2, text, sizeof text - 1);
}

using ProcessesDeathTest = Processes;

TEST_F(ProcessesDeathTest, StopEndsTheLinuxProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(PROCESS_STOP_(nullptr, {}, {}, 2, "Invalid WaitTime", 16), testing::ExitedWithCode(2),
              "^Invalid WaitTime\n$");
  EXPECT_EXIT(PROCESS_STOP_(nullptr, {}, STOP_ABNORMAL, {}, "Invalid start-up parameter", 26),
              testing::ExitedWithCode(3), "^Invalid start-up parameter\n$");
  EXPECT_EXIT(PROCESS_STOP_(nullptr, {}, STOP_ABNORMAL, 5), testing::ExitedWithCode(5), "^$");
  EXPECT_EXIT(
      {
        at_stop(write_hook);
        STOP();
      },
      testing::ExitedWithCode(0), "^hook ran\n$");
}

// The fast style forks without exec, so the child writes the file this test names.
TEST_F(ProcessesDeathTest, StopFlushesStandardOutput) {
  GTEST_FLAG_SET(death_test_style, "fast");
  const std::string path = testing::TempDir() + "netloc-stop-stdout-" + std::to_string(::getpid());
  EXPECT_EXIT(
      {
        if (std::freopen(path.c_str(), "w", stdout) == nullptr) std::abort();
        std::fputs("a line not yet flushed", stdout);
        PROCESS_STOP_();
      },
      testing::ExitedWithCode(0), "");
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "a line not yet flushed");
  std::filesystem::remove(path);
}

TEST_F(Processes, TheDebuggerLeavesALineAndResumes) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(PROCESS_DEBUG_(), 0);
  DEBUG();
  const PHANDLE tacl = named("$TACL3");
  EXPECT_EQ(PROCESS_DEBUG_(&tacl), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "netloc: debugger entered (PROCESS_DEBUG_); resuming\n"
            "netloc: debugger entered (DEBUG); resuming\n"
            "netloc: debugger entered for \\DEMO.$TACL3 (PROCESS_DEBUG_); resuming\n");
}

TEST_F(Processes, DelayWaitsScaledHundredths) {
  const auto start = std::chrono::steady_clock::now();
  DELAY(100);  // one second at time scale 0.01: 10 ms
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(9));
  EXPECT_LT(waited, std::chrono::seconds(5));
  DELAY(0);
  DELAY(-5);
}

TEST_F(Processes, SwitchuserIsFoundWhenTheNodeHasIt) {
  const std::string trace = testing::TempDir() + "netloc-switchuser-" + std::to_string(::getpid());
  std::filesystem::remove(trace);
  ::setenv("NETLOC_TRACE_SWITCHUSER", trace.c_str(), 1);
  SystemEntryPoint entry = SYSTEMENTRYPOINT_RISC_("SWITCHUSER", 10);
  ASSERT_NE(entry, nullptr);
  entry(-1);
  entry(255);
  ::unsetenv("NETLOC_TRACE_SWITCHUSER");
  entry(7);  // no trace file named: nothing happens
  std::ifstream in(trace);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "SWITCHUSER -1\nSWITCHUSER 255\n");
  std::filesystem::remove(trace);

  EXPECT_EQ(SYSTEMENTRYPOINT_RISC_("SWITCHUSE", 9), nullptr);
  EXPECT_EQ(SYSTEMENTRYPOINT_RISC_("SWITCHUSERX", 11), nullptr);
  node::Node n = described_node();
  n.self.switchuser = false;
  node::set_current(n);
  EXPECT_EQ(SYSTEMENTRYPOINT_RISC_("SWITCHUSER", 10), nullptr);
}

TEST_F(Processes, NodeFaultsComeFirst) {
  node::Node n = described_node();
  n.faults = {{"PROCESS_GETINFO_", 0, 201}, {"PROCESS_GETPAIRINFO_", 0, 12}};
  node::set_current(n);
  EXPECT_EQ(info(nullptr).rc, 201);
  EXPECT_EQ(PROCESS_GETPAIRINFO_(nullptr, "$TACL3", 6), 12);
}

}  // namespace
}  // namespace nsk
