// The banner of each build and the help text, as the home terminal shows them.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using e2e::lines;
using e2e::run;

const char* const HELP[] = {
    "NETLOC displays the GUARDIAN name as well as the IP address of a",
    "6530 type terminal.",
    "",
    "Command syntax:",
    "",
    "    NETLOC [/OUT [<file>]/] -H[ELP]",
    "",
    "    NETLOC [/OUT [<file>]/] [SPI|ESC[nn]] [LOGGEDON[nn]]",
    "                            [[TERMINAL] <term>] [WAITTIME <time>]",
    "                            [IS] <term>]",
    "",
    "    NETLOC                  PLAIN [SPI|ESC[nn]] [LOGGEDON[nn]]",
    "",
    "where",
    "",
    " -H[ELP]      displays this screen.",
    " OUT          defines the OUT file to which the output should be",
    "              written. An empty OUT suppresses any output.",
    " SPI|ESC[nn]  keywords;",
    "              SPI causes NetLoc to use the SPI interface;",
    "              ESC causes NetLoc to use an ESC sequence to get the",
    "              IP address directly from the terminal, BEFORE it uses",
    "              the SPI interface. This is meaningful for WIN6530 type",
    "              emulators from comForte, or CAIL.",
    "              The [nn]-extension is a numeric value and optionally",
    "              defines the I/O wait time to be used when sending the",
    "              ESC sequence. The value is in milliseconds.",
    "              SPI or ESC[nn] can be supplied as well as a PARAM:",
    "              PARAM NETLOC^MODE SPI|ESC[nn]",
    "              Default is: ESC with an I/O wait time of 50.",
    "              The start-up value takes precedence.",
    " LOGGEDON[nn] keyword;",
    "              directs NetLoc to check the logged on state of its",
    "              creator. This is meaningful when NetLoc is started",
    "              through TACLLOCL, where the ancestor TACL is a spawned",
    "              one, e.g. in an OBEY file, or TACL Macro.",
    "              The [nn]-extension is a numeric value and optionally",
    "              defines the ancestor to be checked.",
    "              0 = default = no ancestor check.",
    "              1 = check ancestor/mom, 2 = check grand mom, etc.",
    "              LOGGEDON[nn] can be supplied as well as a PARAM:",
    "              NETLOC^CHECKLOGONSTATE  ON[nn]",
    "              Default is: LOGGEDON0.",
    "              The start-up value takes precedence.",
    " IS           keyword;",
    "              causes NetLoc to read the record(s) of the given",
    "              terminal from thee current data base, and to display it.",
    " term         is a 6530 type terminal name, e.g. $ZTN01.#PTVD5UA.",
    "              The terminal name can be a 'fully blown' name, including",
    "              a system name, e.g. \\ORCHID.$ZTN04.#AGUZZT1",
    " time         defines the time in milliseconds, NETLOC stays alive",
    "              before it stops itself. This allows it to become a",
    "              Telnet service to display a telnet window name, and IP",
    "              address.",
    " PLAIN        keyword; causes NetLoc to write the IP address into a",
    "              key-sequenced file.",
    "              TERMINAL and WAITTIME are NOT taken into account.",
    "              For details please consult the documentation.",
    "e.g.:",
    "  NETLOC",
    "  NETLOC ESC300 TERMINAL \\TIGRA.$ZTN05.#OAGHIUP",
    "  NETLOC WAITTIME 50000",
    "  NETLOC PLAIN SPI",
    "  NETLOC IS $ZTN1300.#PTONM2AX",
};

TEST(BannerHelp, HelpTextInThePlainBuilds) {
  for (const char* program : {"netloc", "netloc_priv"}) {
    for (const char* word : {"-H", "-HELP", "-help"}) {
      SCOPED_TRACE(std::string(program) + " " + word);
      const e2e::RunResult r = run(program, {word});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      const std::vector<std::string> shown = lines(r.out);
      ASSERT_EQ(shown.size(), std::size(HELP));
      int empty = 0;
      for (std::size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i], HELP[i]) << "line " << i + 1;
        if (shown[i].empty()) ++empty;
      }
      EXPECT_EQ(empty, 6);
    }
  }
}

TEST(BannerHelp, HelpHasNoEffectInTheCBuildsOrInPlainMode) {
  e2e::TempDir dir;
  const std::string node = dir.write("node.toml", e2e::demo_node("time_scale = 0.01"));
  for (const auto& [program, args] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"netloc_c", {"-HELP"}}, {"netloc_c_priv", {"-H"}}, {"netloc", {"PLAIN", "-HELP"}}}) {
    SCOPED_TRACE(program);
    const e2e::RunResult r = run(program, args, node);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST(BannerHelp, BannerOfEachBuildOnTheDemoNode) {
  for (const auto& [program, start] : std::vector<std::pair<std::string, std::string>>{
           {"netloc", "NETLOC (402)"}, {"netloc_priv", "NETLOC-L (402)"}}) {
    SCOPED_TRACE(program);
    const e2e::RunResult r = run(program, {"SPI"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> shown = lines(r.out);
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0], start + " - T4410K03 - (20May2008)   System \\DEMO, running NSK L21");
    EXPECT_EQ(shown[1], "NETLOC for Linux: which workstation is behind this terminal.");
  }
}

TEST(BannerHelp, BannerCarriesTheNodeNameAndSystemVersion) {
  struct Case {
    const char* node_name;
    const char* os;
    const char* shown;
  };
  const Case cases[] = {
      {"\\ORCHID", "H06", "\\ORCHID, running NSK H06"},
      {"\\N123456", "J1", "\\N123456, running NSK J01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.node_name);
    e2e::TempDir dir;
    std::string text = e2e::demo_node();
    for (auto at = text.find("\\DEMO"); at != std::string::npos; at = text.find("\\DEMO", at)) {
      text.replace(at, 5, c.node_name);
    }
    text.replace(text.find("os = \"L21\""), 10, std::string("os = \"") + c.os + "\"");
    const std::string node = dir.write("node.toml", text);
    const e2e::RunResult r = run("netloc_priv", {"SPI", "$TC1"}, node);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> shown = lines(r.out);
    ASSERT_GE(shown.size(), 1u) << r.out;
    EXPECT_EQ(shown[0], std::string("NETLOC-L (402) - T4410K03 - (20May2008)   System ") + c.shown);
  }
}

TEST(BannerHelp, NoBannerWhenTheOutFileIsElsewhere) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"/OUT/", "SPI", "$TC1"}, {"/OUT $TC1/", "SPI", "$ENV1"}}) {
    SCOPED_TRACE(args[0]);
    const e2e::RunResult r = run("netloc", args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("NETLOC ("), std::string::npos) << r.out;
  }
  // The home terminal named in another form is still the home terminal.
  const e2e::RunResult same = run("netloc", {"/OUT $ztn0.#pty1/", "SPI", "$TC1"});
  EXPECT_EQ(lines(same.out).size(), 3u) << same.out;
}

}  // namespace
