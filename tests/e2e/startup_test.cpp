// The start-up line as a user types it: rejected lines stop the program abnormally and show
// nothing else; accepted words change what the program reports.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using e2e::lines;
using e2e::run;

constexpr int EXIT_ABNORMAL = 3;
const std::string SPI_LINE = "TELNET window \\DEMO.$ZTN0.#PTY1 is IP-Address: 192.0.2.17  (spi)";

// The report lines of a run, without the two banner lines.
std::vector<std::string> report(const e2e::RunResult& r) {
  std::vector<std::string> all = lines(r.out);
  if (!all.empty() && all[0].rfind("NETLOC", 0) == 0) all.erase(all.begin(), all.begin() + 2);
  return all;
}

TEST(Startup, RejectedLinesStopAbnormallyWithNothingElse) {
  static const std::vector<std::vector<std::string>> cases = {
      {"SPI", "ESC"},        {"ESC", "SPI"},    {"LOGGEDON", "LOGGEDON2"}, {"-HE"},
      {"$"},                 {"BOGUS"},         {"spi", "esc100"},         {"ESC50", "ESC"},
      {"PLAIN", "-X"},       {"TERMINALS"},     {"IS$X"},                  {"\x01\xff"},
      {"\"SPI\" \"ESC\""},   {"SPI,SPI"},       {"SPI", "TERMINAL", "$TC1", "ESCAPE"},
  };
  for (const std::string& program : e2e::all_programs()) {
    for (const auto& args : cases) {
      SCOPED_TRACE(program + " " + args[0]);
      const e2e::RunResult r = run(program, args);
      EXPECT_EQ(r.status, EXIT_ABNORMAL);
      EXPECT_EQ(r.err, "Invalid start-up parameter\n");
      EXPECT_EQ(r.out, "");
    }
  }
}

TEST(Startup, AcceptedWordsInAnyCaseAndSeparatedByCommas) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> report;
  };
  const Case cases[] = {
      {{"spi"}, {SPI_LINE, "Address name: ws17.demo.example"}},
      {{"SPI,TERMINAL,$TC1"}, {"This is an ordinary terminal"}},
      {{"\"SPI\",\"TERMINAL\"", "$tc1"}, {"This is an ordinary terminal"}},
      {{"SPI", "$ZTN01.#PTVD5UA"}, {"Unknown device"}},
      {{"SPI", "TERMINAL", "$TC1", "TERMINAL"}, {SPI_LINE, "Address name: ws17.demo.example"}},
      {{"SPI", "$TC1", "$ENV1"}, {"This is an ENVOY data comm terminal"}},
      {{"-H", "-help", "SPI", "$TC1"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const e2e::RunResult r = run("netloc", c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    if (c.report.empty()) {
      EXPECT_EQ(lines(r.out).size(), 64u);  // the help text
    } else {
      EXPECT_EQ(report(r), c.report);
    }
  }
}

TEST(Startup, EscWordsSelectTheEmulatorQuery) {
  for (const char* word : {"esc300", "ESC", "ESCAPE", "ESC5"}) {
    SCOPED_TRACE(word);
    const e2e::RunResult r = run("netloc", {word});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto shown = report(r);
    ASSERT_EQ(shown.size(), 2u) << r.out;
    EXPECT_EQ(shown[0].rfind("TELNET window \\DEMO.$ZTN0.#PTY1 is IP-Address: 192.0.2.17  (esc, ", 0),
              0u);
  }
}

TEST(Startup, OnlyFiftyWordsAreRead) {
  std::vector<std::string> args{"SPI"};
  for (int i = 0; i < 49; ++i) args.push_back("$TC1");
  args.push_back("BOGUS");
  const e2e::RunResult r = run("netloc", args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(report(r), std::vector<std::string>{"This is an ordinary terminal"});

  args.erase(args.begin() + 1);
  EXPECT_EQ(run("netloc", args).status, EXIT_ABNORMAL);
}

TEST(Startup, ListingWinsOverEveryOtherWord) {
  const e2e::RunResult r = run("netloc", {"IS", "$ZTN0.#PTY1", "-HELP", "WAITTIME", "X", "PLAIN"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("Command syntax:"), std::string::npos);
  EXPECT_EQ(r.err.find("Invalid WaitTime"), std::string::npos);
}

TEST(Startup, WaitTimeThatIsNoNumber) {
  for (const std::string& program : e2e::all_programs()) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"WAITTIME"}, {"WAITTIME", "X"}, {"WAITTIME", "-1"}, {"SPI", "WAITTIME", "X5"}}) {
      SCOPED_TRACE(program + " " + args.back());
      const e2e::RunResult r = run(program, args);
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.err, "Invalid WaitTime\n");
      EXPECT_EQ(r.out, "");
    }
  }
}

TEST(Startup, ModeParamAndThePrecedenceOfTheStartUpLine) {
  e2e::TempDir dir;
  std::string text = e2e::demo_node();
  const std::string self_key = "switchuser = true";
  text.insert(text.find(self_key) + self_key.size(),
              "\nparams = [ { name = \"NETLOC^MODE\", value = \"spi\" } ]");
  const std::string node = dir.write("node.toml", text);
  const e2e::RunResult by_param = run("netloc", {}, node);
  ASSERT_EQ(by_param.status, 0) << by_param.err;
  EXPECT_EQ(report(by_param),
            (std::vector<std::string>{SPI_LINE, "Address name: ws17.demo.example"}));

  const e2e::RunResult by_line = run("netloc", {"ESC"}, node);
  ASSERT_EQ(by_line.status, 0) << by_line.err;
  ASSERT_EQ(report(by_line).size(), 2u);
  EXPECT_NE(report(by_line)[0].find("  (esc, "), std::string::npos);
}

TEST(Startup, LongStartUpLinesAndAnyBytes) {
  // 529 bytes is the longest text the start-up message carries.
  std::string longest = "SPI " + std::string(525, ',');
  const e2e::RunResult r = run("netloc", {longest});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(report(r), (std::vector<std::string>{SPI_LINE, "Address name: ws17.demo.example"}));

  const e2e::RunResult quotes = run("netloc", {std::string(200, '"') + "\"SPI"});
  EXPECT_EQ(quotes.status, 0) << quotes.err;

  std::string bytes;
  for (int i = 1; i < 256; ++i) bytes += static_cast<char>(i);
  const e2e::RunResult any = run("netloc", {bytes});
  EXPECT_EQ(any.status, EXIT_ABNORMAL);
  EXPECT_EQ(any.out, "");

  const e2e::RunResult name = run("netloc", {"SPI", "TERMINAL", "$" + std::string(300, 'A')});
  EXPECT_NE(name.status, EXIT_ABNORMAL);
  EXPECT_LT(name.status, 128) << "killed by a signal";
}

}  // namespace
