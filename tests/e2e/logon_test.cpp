// The logged-on check of an ancestor: LOGGEDON on the start-up line, the PARAM
// NETLOC^CHECKLOGONSTATE, and the default check of the first ancestor in the C builds.
#include <gtest/gtest.h>

#include <filesystem>

#include "harness.h"

namespace {

using e2e::lines;
using e2e::run;

using Lines = std::vector<std::string>;

// This process (unnamed) descends from $TACL3, which descends from $TACL2.
std::string chain_node(int first_state, int second_state, const std::string& self_extra = "",
                       const std::string& first_extra = "") {
  return R"([node]
name = '\LOGON'
time_scale = 0.001

[[volume]]
name = "$DATA"
dir = "data"

[self]
cpu = 1
pin = 201
program = '$DATA.NETLOC.NETLOC'
home_terminal = '$ZTN0.#PTY1'
mom = "$TACL3"
)" + self_extra + R"(

[[process]]
name = "$TACL3"
mom = "$TACL2"
logon_state = )" + std::to_string(first_state) + "\n" + first_extra + R"(

[[process]]
name = "$TACL2"
logon_state = )" + std::to_string(second_state) + R"(

[[process]]
name = "$ZTN0"
program = '$SYSTEM.SYS01.TELSERV'

[[destination]]
name = "$ZTN0"
device_type = 46

[[destination.terminal]]
name = "#PTY1"
address = "192.0.2.17"
port = 50123

[hosts]
)";
}

const std::string REPORT = "TELNET window \\LOGON.$ZTN0.#PTY1 is IP-Address: 192.0.2.17  (spi)";

struct Case {
  const char* what;
  int first_state, second_state;
  Lines args;
  std::string self_extra, first_extra;
  bool runs;
};

TEST(Logon, TheCheckStopsSilentlyOnlyWhenTheAncestorIsNotLoggedOn) {
  const std::string on2 = R"(params = [ { name = "NETLOC^CHECKLOGONSTATE", value = "on2" } ])";
  const std::string on11 = R"(params = [ { name = "NETLOC^CHECKLOGONSTATE", value = "ON11" } ])";
  const Case cases[] = {
      {"no check", 0, 0, {"SPI"}, "", "", true},
      {"LOGGEDON0", 0, 0, {"SPI", "LOGGEDON0"}, "", "", true},
      {"not logged on", 0, 9, {"SPI", "LOGGEDON"}, "", "", false},
      {"bits 0 and 3", 9, 0, {"SPI", "LOGGEDON"}, "", "", true},
      {"bit 3", 8, 0, {"SPI", "LOGGEDON1"}, "", "", true},
      {"bit 0", 1, 0, {"SPI", "LOGGEDON1"}, "", "", true},
      {"other bits", 6, 9, {"SPI", "LOGGEDON"}, "", "", false},
      {"second ancestor", 0, 9, {"SPI", "LOGGEDON2"}, "", "", true},
      {"second not logged on", 9, 0, {"SPI", "LOGGEDON2"}, "", "", false},
      {"chain shorter", 0, 0, {"SPI", "LOGGEDON3"}, "", "", true},
      {"level 6 is level 1", 0, 9, {"SPI", "LOGGEDON6"}, "", "", false},
      {"PARAM ON2", 9, 0, {"SPI"}, on2, "", false},
      {"start-up line wins", 9, 0, {"SPI", "LOGGEDON0"}, on2, "", true},
      {"PARAM ON11 is level 1", 0, 9, {"SPI"}, on11, "", false},
      {"state cannot be asked", 0, 0, {"SPI", "LOGGEDON"}, "",
       "inject = { PROCESS_GETINFOLIST_ = 4 }", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    e2e::TempDir dir;
    const std::string node = dir.write(
        "node.toml", chain_node(c.first_state, c.second_state, c.self_extra, c.first_extra));
    const e2e::RunResult r = run("netloc", c.args, node);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    if (c.runs) {
      const Lines shown = lines(r.out);
      ASSERT_EQ(shown.size(), 3u) << r.out;
      EXPECT_EQ(shown[2], REPORT);
    } else {
      EXPECT_EQ(r.out, "");
    }
  }
}

TEST(Logon, CBuildsCheckTheFirstAncestorBeforeTheyStore) {
  struct CCase {
    const char* what;
    int first_state;
    Lines args;
    bool stores;
  };
  const CCase cases[] = {
      {"logged on", 9, {"SPI"}, true},
      {"not logged on", 0, {"SPI"}, false},
      {"check turned off", 0, {"SPI", "LOGGEDON0"}, true},
  };
  for (const char* program : {"netloc_c", "netloc_c_priv"}) {
    for (const CCase& c : cases) {
      SCOPED_TRACE(std::string(program) + ": " + c.what);
      e2e::TempDir dir;
      const std::string node = dir.write("node.toml", chain_node(c.first_state, 0));
      const e2e::RunResult r = run(program, c.args, node);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(std::filesystem::exists(dir.path() + "/data/NETLOC/TERMIPA0"), c.stores);
    }
  }
}

}  // namespace
