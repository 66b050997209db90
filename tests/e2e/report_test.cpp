// The report of each kind of terminal on the demo node, the failure lines of the window query,
// the chain of ancestors, the stay-alive step, and how the four builds differ.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using e2e::lines;
using e2e::run;

using Lines = std::vector<std::string>;

const std::string BANNER_1 = "NETLOC (402) - T4410K03 - (20May2008)   System \\DEMO, running NSK L21";
const std::string SPI_LINE = "TELNET window \\DEMO.$ZTN0.#PTY1 is IP-Address: 192.0.2.17  (spi)";
const std::string NAME_LINE = "Address name: ws17.demo.example";

// The lines after the two banner lines, which every run at the home terminal begins with.
Lines after_banner(const e2e::RunResult& r) {
  Lines all = lines(r.out);
  EXPECT_GE(all.size(), 2u) << r.out;
  if (all.size() < 2) return all;
  EXPECT_EQ(all[0], BANNER_1);
  return Lines(all.begin() + 2, all.end());
}

TEST(Report, SpiOnTheHomeTerminal) {
  for (const char* program : {"netloc", "netloc_priv"}) {
    SCOPED_TRACE(program);
    const e2e::RunResult r = run(program, {"SPI"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    Lines shown = lines(r.out);
    ASSERT_EQ(shown.size(), 4u) << r.out;
    EXPECT_EQ(Lines(shown.begin() + 2, shown.end()), (Lines{SPI_LINE, NAME_LINE}));
  }
}

TEST(Report, EmulatorAnswerWithItsResponseTime) {
  const e2e::RunResult r = run("netloc", {});
  ASSERT_EQ(r.status, 0) << r.err;
  const Lines shown = after_banner(r);
  ASSERT_EQ(shown.size(), 2u) << r.out;
  const std::string start = "TELNET window \\DEMO.$ZTN0.#PTY1 is IP-Address: 192.0.2.17  (esc, ";
  ASSERT_EQ(shown[0].rfind(start, 0), 0u) << shown[0];
  ASSERT_EQ(shown[0].back(), ')');
  // The demo's emulator answers after 3 hundredths of a second.
  const int hundredths = std::stoi(shown[0].substr(start.size()));
  EXPECT_GE(hundredths, 3);
  EXPECT_LT(hundredths, 50);
  EXPECT_EQ(shown[1], NAME_LINE);
}

TEST(Report, EachKindOfDemoTerminal) {
  struct Case {
    const char* terminal;
    Lines report;
  };
  const Case cases[] = {
      {"$ZTN0.#PTY1", {"TELNET window $ZTN0.#PTY1 is IP-Address: 192.0.2.17  (spi)", NAME_LINE}},
      {"$ZTN0.#PTY2",
       {"TELNET window $ZTN0.#PTY2 is IP-Address: 192.0.2.23  (spi)",
        "Address name: ws23.demo.example"}},
      {"$GEM1.#W1",
       {"TELNET window $GEM1.#W1 is IP-Address: 198.51.100.7  (spi)",
        "Address name: gem7.demo.example"}},
      {"$TC1", {"This is an ordinary terminal"}},
      {"$ENV1", {"This is an ENVOY data comm terminal"}},
      {"$ASY1", {"This is an ordinary async terminal"}},
      {"$X25A.#W1", {"X.25 window $X25A.#W1 has DTE number: 31102150123456"}},
      {"$NOSUCH", {"Unknown device"}},
      {"$DATA.NETLOC.NETLOC", {"Device type 3 not supported"}},
      {"$TACL3", {"This is a process"}},
      {"$TACL1", {"This is a process", "IP address found in the chain of ancestors: 192.0.2.23"}},
      {"\\DEMO.$TACL1",
       {"This is a process", "IP address found in the chain of ancestors: 192.0.2.23"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.terminal);
    const e2e::RunResult r = run("netloc", {"SPI", "TERMINAL", c.terminal});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(after_banner(r), c.report);
  }
}

TEST(Report, AnX25WindowIsFollowedByTheChainOfItsOwner) {
  e2e::TempDir dir;
  const std::string node = dir.write(
      "node.toml", e2e::demo_node("", "[[process]]\nname = \"$X25A\"\nmom = \"$TACL3\"\n"));
  const e2e::RunResult r = run("netloc", {"SPI", "TERMINAL", "$X25A.#W1"}, node);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(after_banner(r), (Lines{"X.25 window $X25A.#W1 has DTE number: 31102150123456",
                                    "IP address found in the chain of ancestors: 192.0.2.17"}));
}

TEST(Report, WindowQueryFailures) {
  struct Case {
    const char* spi_table;
    const char* error_line;
  };
  const Case cases[] = {
      {"[spi]\nsilent = true\n", "GetWinAddr error: -24536"},
      {"[spi]\nexchange_error = 201\n", "GetWinAddr error: -24375"},
      {"[[fault]]\nprocedure = \"FILE_OPEN_\"\ncall = 3\nerror = 14\n", "GetWinAddr error: 8206"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spi_table);
    e2e::TempDir dir;
    const std::string node = dir.write("node.toml", e2e::demo_node("time_scale = 0.001", c.spi_table));
    const e2e::RunResult r = run("netloc", {"SPI"}, node);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(after_banner(r), (Lines{"Can't fetch window address", c.error_line}));
  }
}

TEST(Report, StayAliveAfterATelnetReport) {
  e2e::TempDir dir;
  const std::string node = dir.write("node.toml", e2e::demo_node("time_scale = 0.001"));
  const e2e::RunResult r = run("netloc", {"SPI,WAITTIME,5000"}, node);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(after_banner(r), (Lines{SPI_LINE, NAME_LINE, "Staying alive for 5000 milliseconds"}));

  // Not a Telnet window: no stay.
  const e2e::RunResult other = run("netloc", {"SPI", "WAITTIME", "5000", "$TC1"}, node);
  EXPECT_EQ(other.status, 0) << other.err;
  EXPECT_EQ(after_banner(other), (Lines{"This is an ordinary terminal"}));

  // WAITTIME 0 is no stay at all.
  const e2e::RunResult zero = run("netloc", {"SPI", "WAITTIME", "0"}, node);
  EXPECT_EQ(after_banner(zero), (Lines{SPI_LINE, NAME_LINE}));
}

TEST(Report, CBuildsStoreInsteadOfReporting) {
  e2e::TempDir dir;
  const std::string node = dir.write("node.toml", e2e::demo_node("time_scale = 0.01"));
  for (const char* program : {"netloc_c", "netloc_c_priv"}) {
    for (const auto& args : std::vector<Lines>{{}, {"SPI"}, {"-HELP"}, {"SPI", "$TC1"}}) {
      SCOPED_TRACE(std::string(program) + (args.empty() ? "" : " " + args.back()));
      const e2e::RunResult r = run(program, args, node);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, "");
    }
  }
}

TEST(Report, PrivilegedBuildsRunWithAndWithoutSwitchUser) {
  for (const char* setting : {"switchuser = true", "switchuser = false"}) {
    SCOPED_TRACE(setting);
    e2e::TempDir dir;
    std::string text = e2e::demo_node();
    text.replace(text.find("switchuser = true"), 17, setting);
    const std::string node = dir.write("node.toml", text);
    const e2e::RunResult r = run("netloc_priv", {"SPI"}, node);
    EXPECT_EQ(r.status, 0) << r.err;
    const Lines shown = lines(r.out);
    ASSERT_EQ(shown.size(), 4u) << r.out;
    EXPECT_EQ(shown[2], SPI_LINE);
  }
}

}  // namespace
