// The start-up line and the PARAMs: which lines are accepted, what each word sets, and that no
// input reads or writes past a buffer (the sanitizer build runs these too).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/runstate.h"
#include "driver/startupline.h"
#include "platform/node.h"
#include "platform/startup.h"

namespace nsk {
namespace {

// A start-up message as the platform lays it out, with param as its parameter text.
std::string startup_message(const std::string& param) {
  std::string message(STARTUP_PARAM_OFFSET, ' ');
  message[0] = '\xFF';
  message[1] = '\xFF';
  message.replace(2, 16, "$SYSTEM NETLOC  ");
  message += param;
  message += '\0';
  return message;
}

// A PARAM message: code -3, the count, then each name and value with its length byte.
std::string param_message(const std::vector<std::pair<std::string, std::string>>& params) {
  std::string message = {'\xFF', '\xFD', '\0', static_cast<char>(params.size())};
  for (const auto& [name, value] : params) {
    message += static_cast<char>(name.size());
    message += name;
    message += static_cast<char>(value.size());
    message += value;
  }
  return message;
}

class StartupLine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    auto node = node::load_node_text(node::demo_node_text(), "<demo>", &error);
    ASSERT_TRUE(node.has_value()) << error;
    node::set_current(*node);
  }
  void SetUp() override { RUNSTATE = RUNSTATE_T{}; }

  // The verdict of GETSTARTUP for a message of the given bytes.
  static INT verdict_of_message(const std::string& message) {
    INT verdict = 99;
    GETSTARTUP(nullptr, &verdict, message.data(), static_cast<INT>(message.size()), nullptr);
    return verdict;
  }
  static INT verdict(const std::string& line) { return verdict_of_message(startup_message(line)); }

  static void params(const std::vector<std::pair<std::string, std::string>>& list) {
    const std::string message = param_message(list);
    GETPARAMS(nullptr, nullptr, message.data(), static_cast<INT>(message.size()), nullptr);
  }

  static std::string termname() { return {RUNSTATE.TERMNAME, std::size_t(RUNSTATE.TERMNAMELEN)}; }
  static std::string listname() {
    return {RUNSTATE.LISTTERMNAME, std::size_t(RUNSTATE.LISTTERMNAMELEN)};
  }
};

TEST_F(StartupLine, RejectedLines) {
  static constexpr const char* cases[] = {
      "SPI ESC",  "ESC SPI",     "LOGGEDON LOGGEDON2", "-HE",         "$",
      "FOO",      "SPI SPI",     "ESC100 ESC",         "PLAIN BOGUS", "HELP",
      "/OUT X/",  "TERMINALS",   "IS$X",               "\\",          "WAIT 5",
      "\"\"SPI\" ESC\"",
  };
  for (const char* line : cases) {
    SCOPED_TRACE(line);
    EXPECT_EQ(verdict(line), -1);
  }
}

TEST_F(StartupLine, WordsAndTheirSettings) {
  struct Case {
    const char* line;
    INT escmode, modesource;
    INT32 escwait;
    INT logonlevel;
    INT32 stayalive;
    const char* terminal;
    INT plain, help;
  };
  static constexpr Case cases[] = {
      {"", 1, 0, 50, 0, 0, "", 0, 0},
      {"esc300", 1, 1, 300, 0, 0, "", 0, 0},
      {"ESC", 1, 1, 50, 0, 0, "", 0, 0},
      {"ESCAPE", 1, 1, 50, 0, 0, "", 0, 0},
      {"ESC-7", 1, 1, -7, 0, 0, "", 0, 0},
      {"SPI", 0, 1, 50, 0, 0, "", 0, 0},
      {"LOGGEDON", 1, 0, 50, 1, 0, "", 0, 0},
      {"LOGGEDON0", 1, 0, 50, 0, 0, "", 0, 0},
      {"LOGGEDON5", 1, 0, 50, 5, 0, "", 0, 0},
      {"LOGGEDON6", 1, 0, 50, 1, 0, "", 0, 0},
      {"LOGGEDON-1", 1, 0, 50, 1, 0, "", 0, 0},
      {"LOGGEDONX", 1, 0, 50, 1, 0, "", 0, 0},
      {"SPI,WAITTIME,5000", 0, 1, 50, 0, 5000, "", 0, 0},
      {"WAITTIME 0", 1, 0, 50, 0, 0, "", 0, 0},
      {"WAITTIME -1", 1, 0, 50, 0, -1, "", 0, 0},
      {"WAITTIME X", 1, 0, 50, 0, -1, "", 0, 0},
      {"WAITTIME", 1, 0, 50, 0, -1, "", 0, 0},
      {"WAITTIME 10 WAITTIME 20", 1, 0, 50, 0, 20, "", 0, 0},
      {"$ZTN01.#PTVD5UA", 1, 0, 50, 0, 0, "$ZTN01.#PTVD5UA", 0, 0},
      {"TERMINAL $ZTN01.#PTVD5UA", 1, 0, 50, 0, 0, "$ZTN01.#PTVD5UA", 0, 0},
      {"$X", 1, 0, 50, 0, 0, "$X", 0, 0},
      {"\\DEMO.$ZTN0.#PTY1", 1, 0, 50, 0, 0, "\\DEMO.$ZTN0.#PTY1", 0, 0},
      {"spi terminal $tc1", 0, 1, 50, 0, 0, "$TC1", 0, 0},
      {"$TC1 TERMINAL", 1, 0, 50, 0, 0, "", 0, 0},
      {"$TC1 $ENV1", 1, 0, 50, 0, 0, "$ENV1", 0, 0},
      {"TERMINAL \"$X,Y\"", 1, 0, 50, 0, 0, "$X", 0, 0},
      {"TERMINAL \"$X", 1, 0, 50, 0, 0, "$X", 0, 0},
      {"\"SPI\",\"LOGGEDON2\"", 0, 1, 50, 2, 0, "", 0, 0},
      {"PLAIN PLAIN", 1, 0, 50, 0, 0, "", -1, 0},
      {"-H", 1, 0, 50, 0, 0, "", 0, -1},
      {"-help -HELP", 1, 0, 50, 0, 0, "", 0, -1},
      {"  ,, SPI ,,", 0, 1, 50, 0, 0, "", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    RUNSTATE = RUNSTATE_T{};
    ASSERT_EQ(verdict(c.line), 0);
    EXPECT_EQ(RUNSTATE.ESCMODE, c.escmode);
    EXPECT_EQ(RUNSTATE.MODESOURCE, c.modesource);
    EXPECT_EQ(RUNSTATE.ESCWAITTIME, c.escwait);
    EXPECT_EQ(RUNSTATE.LOGONCHECKLEVEL, c.logonlevel);
    EXPECT_EQ(RUNSTATE.STAYALIVETIME, c.stayalive);
    EXPECT_EQ(termname(), c.terminal);
    EXPECT_EQ(RUNSTATE.PLAINMODE, c.plain);
    EXPECT_EQ(RUNSTATE.HELPWANTED, c.help);
  }
}

TEST_F(StartupLine, IsResolvesTheNameAndLeavesTheOtherWords) {
  ASSERT_EQ(verdict("IS $ZTN0.#PTY1 -HELP"), 0);
  EXPECT_EQ(listname(), "\\DEMO.$ZTN0.#PTY1");
  EXPECT_EQ(RUNSTATE.HELPWANTED, -1);
  ASSERT_EQ(verdict("IS $A IS $ZTN0"), 0);
  EXPECT_EQ(listname(), "\\DEMO.$ZTN0");
}

TEST_F(StartupLine, IsAsTheLastWordStaysInsideTheNameBuffer) {
  EXPECT_EQ(verdict("IS"), 0);
  EXPECT_LE(RUNSTATE.LISTTERMNAMELEN, 35);
  EXPECT_EQ(verdict("IS $ABCDEFG.#ABCDEFGH.ABCDEFGH.ABCDEFGH"), 0);
  EXPECT_LE(RUNSTATE.LISTTERMNAMELEN, 35);
}

TEST_F(StartupLine, OnlyFiftyWordsAreRead) {
  std::string fifty;
  for (int i = 0; i < 50; ++i) fifty += "PLAIN ";
  EXPECT_EQ(verdict(fifty + "BOGUS"), 0);
  std::string fortynine;
  for (int i = 0; i < 49; ++i) fortynine += "PLAIN ";
  EXPECT_EQ(verdict(fortynine + "BOGUS"), -1);
  // Words that each take an operand drop two slots at a time, also when all fifty are in use.
  std::string pairs;
  for (int i = 0; i < 30; ++i) pairs += "WAITTIME " + std::to_string(i) + " ";
  EXPECT_EQ(verdict(pairs), 0);
  EXPECT_EQ(RUNSTATE.STAYALIVETIME, 24);
}

TEST_F(StartupLine, LongNamesAndLongMessagesStayInsideTheirBuffers) {
  EXPECT_EQ(verdict("$" + std::string(600, 'A')), 0);
  EXPECT_LE(RUNSTATE.TERMNAMELEN, 36);
  EXPECT_EQ(verdict("TERMINAL \\" + std::string(40, 'N') + ".$" + std::string(40, 'D')), 0);
  EXPECT_LE(RUNSTATE.TERMNAMELEN, 36);

  // A parameter text that fills the message without its zero byte, and a message longer than
  // the start-up text: only the first 596 bytes count.
  std::string full = startup_message(std::string(STARTUP_PARAM_MAX, 'A'));
  full.pop_back();
  EXPECT_EQ(verdict_of_message(full), -1);
  std::string longer = startup_message("SPI") + std::string(5000, 'Z');
  EXPECT_EQ(verdict_of_message(longer), 0);
  EXPECT_EQ(RUNSTATE.ESCMODE, 0);

  EXPECT_EQ(verdict_of_message(std::string(10, '\xFF')), 0);
  EXPECT_EQ(verdict_of_message(""), 0);
}

TEST_F(StartupLine, OutNameKeepsANodeNumberThatLooksLikeALetter) {
  std::string message = startup_message("spi");
  const std::string out = std::string("\\") + 'a' + "DATA  " + "netloc  " + "report  ";
  message.replace(STARTUP_OUT_OFFSET, 24, out);
  EXPECT_EQ(verdict_of_message(message), 0);
  EXPECT_EQ(std::string(OUTFILENAME, 24), out);
  EXPECT_EQ(RUNSTATE.ESCMODE, 0);
}

TEST_F(StartupLine, AnyBytesAreReadSafely) {
  std::string bytes;
  for (int i = 1; i < 256; ++i) bytes += static_cast<char>(i);
  EXPECT_EQ(verdict(bytes), -1);
  EXPECT_EQ(verdict(std::string(529, '"')), 0);
  EXPECT_EQ(verdict("\"" + std::string(528, ',')), -1);
}

TEST_F(StartupLine, ParserSplitsAtBlanksAndCommasOutsideQuotes) {
  struct Case {
    const char* text;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"", {}},
      {"   ", {}},
      {"a", {"a"}},
      {"a,b  c", {"a", "b", "c"}},
      {"a,\"b,c\" d", {"a", "b,c", "d"}},
      {"\"b c\"", {"b", "c"}},
      {"x\"\"y", {"xy"}},
      {"\"unbalanced, rest", {"unbalanced,", "rest"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TOKENLIST_T tokens;
    const std::string text = c.text;
    PARSER(text.data(), static_cast<INT>(text.size()), &tokens, ",", 1);
    ASSERT_EQ(tokens.count, static_cast<INT>(c.words.size()));
    for (std::size_t i = 0; i < c.words.size(); ++i) {
      EXPECT_EQ(std::string(tokens.slots[i].address, std::size_t(tokens.slots[i].length)),
                c.words[i]);
    }
    EXPECT_EQ(tokens.slots[c.words.size()].length, 0);
  }
}

TEST_F(StartupLine, ParserStopsAtTheZeroByteAndAtTheTextLength) {
  TOKENLIST_T tokens;
  const char text[] = "ab cd\0ef";
  PARSER(text, sizeof text - 1, &tokens, ",", 1);
  EXPECT_EQ(tokens.count, 2);
  PARSER(text, 4, &tokens, ",", 1);
  ASSERT_EQ(tokens.count, 2);
  EXPECT_EQ(tokens.slots[1].length, 1);
  // Far more text than the formatted buffer holds.
  const std::string huge(5000, 'x');
  PARSER(huge.data(), 5000, &tokens, ",", 1);
  EXPECT_EQ(tokens.count, 1);
  EXPECT_EQ(tokens.slots[0].length, TOKEN_TEXT_MAX - 2);
}

TEST_F(StartupLine, DownshiftEmptiesTheFreedSlots) {
  TOKENLIST_T tokens;
  std::string text;
  for (int i = 0; i < 50; ++i) text += "w" + std::to_string(i) + " ";
  PARSER(text.data(), static_cast<INT>(text.size()), &tokens, ",", 1);
  ASSERT_EQ(tokens.count, 50);
  DOWNSHIFTPOINTERS(&tokens, TOKEN_SLOTS, 2);
  EXPECT_EQ(tokens.count, 48);
  EXPECT_EQ(std::string(tokens.slots[0].address, 2), "w2");
  EXPECT_EQ(tokens.slots[48].length, 0);
  EXPECT_EQ(tokens.slots[49].length, 0);
  DOWNSHIFTPOINTERS(&tokens, TOKEN_SLOTS, 60);
  EXPECT_EQ(tokens.count, 0);
}

TEST_F(StartupLine, ModeParam) {
  struct Case {
    const char* line;
    const char* value;
    INT escmode, modesource;
    INT32 escwait;
  };
  static constexpr Case cases[] = {
      {"", "ESC200", 1, 2, 200},     {"SPI", "ESC200", 0, 1, 50}, {"", "spi", 0, 2, 50},
      {"", "ESC", 1, 2, 50},         {"", "ESC-5", 1, 2, 50},     {"", "ESCX", 1, 2, 50},
      {"", "FOO", 1, 0, 50},         {"ESC7", "SPI", 1, 1, 7},    {"", "", 1, 0, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.line) + " / " + c.value);
    RUNSTATE = RUNSTATE_T{};
    ASSERT_EQ(verdict(c.line), 0);
    params({{"NETLOC^MODE", c.value}});
    EXPECT_EQ(RUNSTATE.ESCMODE, c.escmode);
    EXPECT_EQ(RUNSTATE.MODESOURCE, c.modesource);
    EXPECT_EQ(RUNSTATE.ESCWAITTIME, c.escwait);
  }
}

TEST_F(StartupLine, CheckLogonStateParam) {
  struct Case {
    const char* line;
    const char* value;
    INT level, source;
  };
  static constexpr Case cases[] = {
      {"", "ON", 1, 2},  {"", "on6", 6, 2},   {"", "ON11", 1, 2}, {"", "ON0", 0, 2},
      {"", "ON-1", 1, 2}, {"", "OFF", 0, 2},  {"LOGGEDON3", "ON6", 3, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.line) + " / " + c.value);
    RUNSTATE = RUNSTATE_T{};
    ASSERT_EQ(verdict(c.line), 0);
    params({{"NETLOC^CHECKLOGONSTATE", c.value}});
    EXPECT_EQ(RUNSTATE.LOGONCHECKLEVEL, c.level);
    EXPECT_EQ(RUNSTATE.LOGONSOURCE, c.source);
  }
}

TEST_F(StartupLine, ParamsInOrderAndUnknownOnesIgnored) {
  params({{"netloc^mode", "SPI"}, {"NETLOC^MODE", "FOO"}, {"NETLOC^MODE", "ESC300"},
          {"NETLOC^MODE", "SPI"}, {"NETLOC^CHECKLOGONSTATE", "OFF"},
          {"NETLOC^CHECKLOGONSTATE", "ON4"}, {"OTHER", "X"}});
  EXPECT_EQ(RUNSTATE.ESCMODE, 1);
  EXPECT_EQ(RUNSTATE.ESCWAITTIME, 300);
  EXPECT_EQ(RUNSTATE.LOGONCHECKLEVEL, 0);
}

TEST_F(StartupLine, TruncatedParamMessagesAreReadSafely) {
  std::string message = param_message({{"NETLOC^MODE", "ESC300"}});
  for (std::size_t cut = 0; cut < message.size(); ++cut) {
    SCOPED_TRACE(cut);
    RUNSTATE = RUNSTATE_T{};
    const std::string part = message.substr(0, cut);
    GETPARAMS(nullptr, nullptr, part.data(), static_cast<INT>(part.size()), nullptr);
    EXPECT_EQ(RUNSTATE.ESCWAITTIME, 50);
  }
  std::string lying = param_message({{"NETLOC^MODE", "ESC300"}});
  lying[3] = '\x7F';
  lying += static_cast<char>(200);
  GETPARAMS(nullptr, nullptr, lying.data(), static_cast<INT>(lying.size()), nullptr);
  EXPECT_EQ(RUNSTATE.ESCWAITTIME, 300);
}

}  // namespace
}  // namespace nsk
