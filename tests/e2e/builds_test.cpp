// How the emulator query differs between the builds: the C builds drain pending input first and
// wait 100 hundredths of a second, the plain builds wait 50 and read what is there.  The C builds
// store what they find, so the listing shows which address they took.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using e2e::lines;
using e2e::run;

// Two windows whose emulators answer with another address than the Telnet server's record: one
// with input waiting before the query, one that answers after 75 hundredths.
const std::string WINDOWS = R"(
[[process]]
name = "$ZTN9"
program = '\DEMO.$SYSTEM.SYS01.TELSERV'

[[destination]]
name = "$ZTN9"
device_type = 46

[[destination.terminal]]
name = "#DRAIN"
address = "192.0.2.99"
port = 1
emulator = { reply = "\u0001&WS\u0012192.0.2.55\u0012X\r", pending_input = "junk" }

[[destination.terminal]]
name = "#SLOW"
address = "192.0.2.98"
port = 1
emulator = { reply = "\u0001&WS\u0012192.0.2.56\u0012X\r", delay_cs = 75 }
)";

class Builds : public ::testing::Test {
 protected:
  e2e::TempDir state;
  std::string node = state.write("node.toml", e2e::demo_node("time_scale = 0.2", WINDOWS));

  e2e::RunResult netloc(const std::string& program, const std::vector<std::string>& args) {
    return run(program, args, node, {{"XDG_STATE_HOME", state.path()}});
  }
  // The report line of the plain build, after the banner.
  std::string report_line(const std::vector<std::string>& args) {
    const e2e::RunResult r = netloc("netloc", args);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> shown = lines(r.out);
    return shown.size() > 2 ? shown[2] : r.out;
  }
};

TEST_F(Builds, PlainBuildsTakeTheServerRecordWhenTheEmulatorAnswerIsLateOrHidden) {
  EXPECT_EQ(report_line({"TERMINAL", "$ZTN9.#DRAIN"}),
            "TELNET window $ZTN9.#DRAIN is IP-Address: 192.0.2.99  (spi)");
  EXPECT_EQ(report_line({"TERMINAL", "$ZTN9.#SLOW"}),
            "TELNET window $ZTN9.#SLOW is IP-Address: 192.0.2.98  (spi)");
  for (const char* word : {"ESC100", "esc300"}) {
    SCOPED_TRACE(word);
    const std::string waited = report_line({word, "TERMINAL", "$ZTN9.#SLOW"});
    EXPECT_EQ(waited.rfind("TELNET window $ZTN9.#SLOW is IP-Address: 192.0.2.56  (esc, ", 0), 0u)
        << waited;
  }
}

TEST_F(Builds, EscAloneKeepsTheDefaultWaitAndAnotherEscWordWithoutNumberGivesFifty) {
  struct Case {
    const char* word;
    const char* terminal;
    const char* stored;
  };
  const Case cases[] = {
      {"ESC", "\\DEMO.$ZTN9.#SLOW", "192.0.2.56"},     // wait 100: the answer comes in time
      {"ESCAPE", "\\DEMO.$ZTN9.#SLOW", "192.0.2.98"},  // wait 50: too late, the server record
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    e2e::TempDir own;
    const std::map<std::string, std::string> env{{"XDG_STATE_HOME", own.path()}};
    const e2e::RunResult stored = run("netloc_c", {c.word, "TERMINAL", c.terminal}, node, env);
    EXPECT_EQ(stored.status, 0) << stored.err;
    const e2e::RunResult listing = run("netloc_c", {"IS", c.terminal}, node, env);
    EXPECT_NE(listing.out.find(std::string(" ") + c.stored + " "), std::string::npos)
        << listing.out;
  }
}

TEST_F(Builds, CBuildsDrainAndWaitLonger) {
  for (const char* program : {"netloc_c", "netloc_c_priv"}) {
    SCOPED_TRACE(program);
    // Full names: the store keeps the name as given, and the listing looks for full names.
    for (const char* terminal : {"\\DEMO.$ZTN9.#DRAIN", "\\DEMO.$ZTN9.#SLOW"}) {
      const e2e::RunResult r = netloc(program, {"TERMINAL", terminal});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, "");
    }
    const e2e::RunResult listing = netloc(program, {"IS", "$ZTN9"});
    EXPECT_EQ(listing.status, 0) << listing.err;
    const std::string& text = listing.out;
    EXPECT_NE(text.find("$ZTN9.#DRAIN                192.0.2.55 "), std::string::npos) << text;
    EXPECT_NE(text.find("$ZTN9.#SLOW                 192.0.2.56 "), std::string::npos) << text;
    EXPECT_EQ(text.find("192.0.2.9"), std::string::npos) << text;
  }
}

}  // namespace
