// Wildcard matching and the zero-ended scans.
#include "addrlib/textmatch.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace nsk {
namespace {

INT match(std::string_view text, std::string_view pattern, const INT* exact_case = nullptr) {
  return STRINGMATCH(text.data(), static_cast<INT>(text.size()), pattern.data(),
                     static_cast<INT>(pattern.size()), exact_case);
}

struct MatchCase {
  std::string_view text;
  std::string_view pattern;
  INT result;
};

TEST(StringMatch, CaseTable) {
  static constexpr MatchCase cases[] = {
      {"", "", 2},
      {"", "*", 2},
      {"", "**", 2},
      {"", "?", 0},
      {"A", "", 0},
      {"ESC", "ESC*", 2},
      {"esc50", "ESC*", 2},
      {"XESC", "ESC*", 0},
      {"ES", "ESC*", 0},
      {"$SYSTEM.SYS01.TELSERV", "*$SYSTEM.SYS??.TELSERV", 2},
      {"\\NODE.$SYSTEM.SYS01.TELSERV", "*$SYSTEM.SYS??.TELSERV", 2},
      {"$SYSTEM.SYS1.TELSERV", "*$SYSTEM.SYS??.TELSERV", 0},
      {"$system.sys01.telserv", "*$SYSTEM.SYS??.TELSERV", 2},
      {"\\ALPHA.$SYSTEM.SYS01.NETBATCH", "\\*.$SYSTEM.SYS*.NETBATCH", 2},
      {"\\ALPHA.$SYSTEM.SYSTEM.NETBATCH", "\\*.$SYSTEM.SYS*.NETBATCH", 2},
      {"$SYSTEM.SYS01.NETBATCH", "\\*.$SYSTEM.SYS*.NETBATCH", 0},
      {"GEMINI STN 2.4", "GEMINI STN*", 2},
      {"GEMINI ST", "GEMINI STN*", 0},
      {"abc", "ABC", 2},
      {"*", "a", 0},
      {"?", "a", 0},
      {"*", "*", 2},
      {"*", "?", 2},
      {"a", "*a", 2},
      {"ba", "*a", 2},
      {"ab", "*a", 0},
      {"abcabc", "*b*c", 2},
      {"abcab", "*b*c", 0},
      {"XYZ", "X*Z", 2},
      {"XZ", "X*Z", 2},
      {"X", "X*Z", 0},
      {"@", "`", 0},        // 64 and 96 differ by 32 but are not letters
      {"[", "{", 0},        // neither are 91 and 123
      {"\xC1", "\xE1", 0},  // bytes above 127 have no case partner
      {std::string_view("A\0B", 3), std::string_view("a\0b", 3), 2},
      {std::string_view("A\0B", 3), "A?B", 2},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "text \"" << c.text << "\" pattern \"" << c.pattern << "\"");
    EXPECT_EQ(match(c.text, c.pattern), c.result);
  }
}

TEST(StringMatch, ExactCaseFlag) {
  const INT on = 1;
  const INT off = 0;
  EXPECT_EQ(match("abc", "ABC", &on), 0);
  EXPECT_EQ(match("abc", "abc", &on), 2);
  EXPECT_EQ(match("abc", "a?C", &on), 0);
  EXPECT_EQ(match("abc", "ABC", &off), 2);
  EXPECT_EQ(match("abc", "ABC"), 2);
}

TEST(StringMatch, ParameterFaultsInOrder) {
  EXPECT_EQ(STRINGMATCH(nullptr, -1, nullptr, -1), -1);
  EXPECT_EQ(STRINGMATCH("a", -1, nullptr, -1), -2);
  EXPECT_EQ(STRINGMATCH("a", -1, "a", -1), -3);
  EXPECT_EQ(STRINGMATCH("a", 1, "a", -1), -4);
  EXPECT_EQ(STRINGMATCH("", 0, "", 0), 2);
}

TEST(StringMatch, ReadsNoByteBeyondTheLengths) {
  // The text and pattern lie at the very ends of their arrays, without terminators.
  const char text[3] = {'A', 'B', 'C'};
  const char pattern[3] = {'*', '?', 'c'};
  EXPECT_EQ(STRINGMATCH(text, 3, pattern, 3), 2);
  EXPECT_EQ(STRINGMATCH(text, 2, pattern, 2), 2);
  EXPECT_EQ(STRINGMATCH(text, 0, pattern, 1), 2);
}

TEST(StringMatch, ManyStarsOverALongNameEnds) {
  const std::string_view text = "\\NODE.$SYSTEM.SYS01.SOMEPROGRAMNAMEXX";
  EXPECT_EQ(match(text, "*S*Y*S*T*E*M*Z"), 0);
  EXPECT_EQ(match(text, "*S*Y*S*T*E*M*X"), 2);
}

struct ScanCase {
  const char* buffer;  // ends with its literal's zero byte
  INT test_char;
  bool until;
  int stop_at;
  INT flag;
};

TEST(Scans, CaseTable) {
  static constexpr ScanCase cases[] = {
      {"", ' ', true, 0, -1},
      {"AB CD", ' ', true, 2, 0},
      {"ABCD", ' ', true, 4, -1},
      {"AB CD", 0x2020, true, 2, 0},  // two packed blanks count as one
      {"AB", 0, true, 2, -1},         // the sought zero is caught by the zero test
      {"AB", 0, false, 0, 0},
      {"", 0, false, 0, -1},
      {"   X", ' ', false, 3, 0},
      {"   ", ' ', false, 3, -1},
      {"   X", 0x2020, false, 3, 0},
      {"X", ' ', false, 0, 0},
      {"", ' ', false, 0, -1},
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "buffer \"" << c.buffer << "\" char " << c.test_char
                                    << (c.until ? " until" : " while"));
    INT flag = 99;
    const char* stop = c.until ? EXTSCANUNTIL(c.buffer, c.test_char, &flag)
                               : EXTSCANWHILE(c.buffer, c.test_char, &flag);
    EXPECT_EQ(stop - c.buffer, c.stop_at);
    EXPECT_EQ(flag, c.flag);
  }
}

TEST(Scans, ZeroIsNeverSkippedAndTheFlagIsOptional) {
  char buffer[] = {' ', ' ', 0, ' ', 'X', 0};
  EXPECT_EQ(EXTSCANWHILE(buffer, ' '), buffer + 2);
  EXPECT_EQ(EXTSCANUNTIL(buffer, 'X'), buffer + 2);
  char* writable = EXTSCANUNTIL(buffer + 3, 'X');
  EXPECT_EQ(writable, buffer + 4);
}

// The version mark is an empty procedure nothing calls; it must still be in the program file.
// The name is put together at run time so that this test's own text cannot be what it finds.
TEST(LibVersion, MarkIsInTheProgramFile) {
  LIBVERSION();
  const std::string mark = std::string("T4410K03_NLXLIB") + std::to_string(261) + "_29MAR2010";
  std::ifstream program("/proc/self/exe", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(program)),
                          std::istreambuf_iterator<char>());
  EXPECT_NE(bytes.find(mark), std::string::npos);
}

}  // namespace
}  // namespace nsk
