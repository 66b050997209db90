// The name procedures on a node \DEMO (number 7) that knows \TIGRA (12) and has the disk volume
// $DATA, with the defaults $DATA.NETLOC.
#include "platform/names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "platform/node.h"

namespace nsk {
namespace {

constexpr char DEMO_NODE[] = R"(
[node]
name = '\DEMO'
number = 7

[[volume]]
name = "$DATA"
dir = "/tmp/netloc-names-test-unused"

[[remote_node]]
name = '\TIGRA'
number = 12

[self]
cpu = 1
pin = 201
program = '$DATA.NETLOC.NETLOC'
home_terminal = '$ZTN0.#PTY1'
default_volume = "$DATA"
default_subvolume = "NETLOC"
)";

class Names : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    auto node = node::load_node_text(DEMO_NODE, "names", &error);
    ASSERT_TRUE(node) << error;
    node::set_current(std::move(*node));
  }
};

INT len(const std::string& s) { return static_cast<INT>(s.size()); }

struct ScanCase {
  const char* text;
  std::optional<INT> options;
  INT rc;
  INT count;
  INT kind;
  INT level;
};

TEST_F(Names, ScanCountsTheLongestLeadingName) {
  static const ScanCase cases[] = {
      {"$ZTN1300", {}, 0, 8, 1, 0},
      {"$ZTN1300.#PTONM2AX", {}, 0, 18, 1, 1},
      {"\\ORCHID.$ZTN04.#AGUZZT1", {}, 0, 23, 1, 1},
      {"$DATA.NETLOC.TERMIPA0", {}, 0, 21, 0, 2},
      {"$ZTN01.#PTVD5UA,TERMINAL", {}, 0, 15, 1, 1},
      {"\\DEMO.$ZTN0.#PTY1.QUAL", {}, 0, 22, 1, 2},
      {"\\DEMO.$ZTN0.#PTY1.QUAL.MORE", {}, 0, 22, 1, 2},
      {"$x.#pty1", {}, 0, 8, 1, 1},
      {"TERMIPA0", {}, 0, 8, 0, 2},
      {"NETLOC.TERMIPA0", {}, 0, 15, 0, 2},
      {"A.B.C", {}, 0, 3, 0, 2},
      {"$ZTN0.", {}, 0, 5, 1, 0},
      {"$ZTN0..#A", {}, 0, 5, 1, 0},
      {"$ZTN0.#PT*", {}, 0, 9, 1, 1},
      // A part that is too long or malformed ends the name before it.
      {"$DATA.NETLOC.TOOLONGNAME", {}, 0, 12, 0, 1},
      {"$ZTN0.#PTONM2AXY", {}, 0, 5, 1, 0},
      {"$ZTN0.#1ABC", {}, 0, 5, 1, 0},
      {"$ABCDEFGH", {}, 13, 0, -9, -9},
      {"$", {}, 13, 0, -9, -9},
      {"$1A", {}, 13, 0, -9, -9},
      {"1ABC", {}, 13, 0, -9, -9},
      {"", {}, 13, 0, -9, -9},
      {"\\TOOLONGN.$X", {}, 13, 0, -9, -9},
      {"\\DEMO.FILE", {}, 13, 0, -9, -9},
      // A node by itself counts only with options bit 0.
      {"\\DEMO", {}, 13, 0, -9, -9},
      {"\\DEMO", 3, 0, 5, 1, -1},
      {"\\DEMO.", 1, 0, 5, 1, -1},
      {"\\DEMO.$X", 3, 0, 8, 1, 0},
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(c.text);
    INT count = -9;
    INT kind = -9;
    INT level = -9;
    EXPECT_EQ(FILENAME_SCAN_(c.text, len(c.text), &count, &kind, &level, c.options), c.rc);
    EXPECT_EQ(count, c.count);
    if (c.rc == 0) {
      EXPECT_EQ(kind, c.kind);
      EXPECT_EQ(level, c.level);
    }
  }
}

TEST_F(Names, ScanReadsOnlyTheGivenLength) {
  INT count = 0;
  EXPECT_EQ(FILENAME_SCAN_("$ZTN0.#PTY1", 7, &count), 0);
  EXPECT_EQ(count, 5);  // "$ZTN0.#" : the lone "#" is no part
  EXPECT_EQ(FILENAME_SCAN_(nullptr, 3, &count), err::MISSING_PARAM);
}

struct ResolveCase {
  const char* text;
  std::optional<INT> options;
  INT rc;
  const char* result;
};

TEST_F(Names, ResolveCompletesAndUpshifts) {
  static const ResolveCase cases[] = {
      {"$ZTN0.#PTY1", {}, 0, "$ZTN0.#PTY1"},
      {"$ztn0.#pty1", 1, 0, "\\DEMO.$ZTN0.#PTY1"},
      {"\\demo.$ztn0.#pty1", {}, 0, "\\DEMO.$ZTN0.#PTY1"},
      {"\\TIGRA.$X", 1, 0, "\\TIGRA.$X"},
      {"TERMIPA0", {}, 0, "$DATA.NETLOC.TERMIPA0"},
      {"TERMIPA0", 1, 0, "\\DEMO.$DATA.NETLOC.TERMIPA0"},
      {"SUB.F", 1, 0, "\\DEMO.$DATA.SUB.F"},
      {"$ZTN0", 1, 0, "\\DEMO.$ZTN0"},
      {"\\DEMO", 1, 13, ""},
      {"", 1, 13, ""},
      {"$ZTN0.#PTY1 ", 1, 13, ""},
      {"$ZTN0.#", 1, 13, ""},
  };
  for (const ResolveCase& c : cases) {
    SCOPED_TRACE(c.text);
    char out[40];
    INT out_length = -1;
    EXPECT_EQ(FILENAME_RESOLVE_(c.text, len(c.text), out, sizeof out, &out_length, c.options), c.rc);
    if (c.rc == 0) {
      EXPECT_EQ(std::string(out, static_cast<std::size_t>(out_length)), c.result);
    } else {
      EXPECT_EQ(out_length, -1);
    }
  }
}

TEST_F(Names, ResolveRespectsTheCapacity) {
  char out[27];
  std::memset(out, '-', sizeof out);
  INT out_length = -1;
  // \DEMO.$DATA.NETLOC.TERMIPA0 is 27 bytes.
  EXPECT_EQ(FILENAME_RESOLVE_("TERMIPA0", 8, out, 26, &out_length, 1), err::BUFFER_TOO_SMALL);
  EXPECT_EQ(std::string(out, sizeof out), std::string(27, '-'));
  EXPECT_EQ(out_length, -1);
  EXPECT_EQ(FILENAME_RESOLVE_("TERMIPA0", 8, out, 27, &out_length, 1), 0);
  EXPECT_EQ(out_length, 27);
}

struct DecomposeCase {
  const char* text;
  INT level;
  std::optional<INT> options;
  INT rc;
  const char* piece;
};

TEST_F(Names, DecomposeTakesPieces) {
  static const DecomposeCase cases[] = {
      {"$ZTN0.#PTY1", 0, 2, 0, "\\DEMO.$ZTN0"},
      {"$ZTN0.#PTY1", -1, {}, 0, "\\DEMO"},
      {"$ZTN0.#PTY1", 0, 1, 0, "$ZTN0.#PTY1"},
      {"$ZTN0.#PTY1", 0, {}, 0, "$ZTN0"},
      {"$ZTN0.#PTY1", 1, 0, 0, "#PTY1"},
      {"$ZTN0.#PTY1", -1, 1, 0, "\\DEMO.$ZTN0.#PTY1"},
      {"$ZTN0.#PTY1", 2, 0, 13, ""},
      {"\\DEMO.$DATA.NETLOC.NETLOC", 1, 2, 0, "\\DEMO.$DATA.NETLOC"},
      {"\\DEMO.$DATA.NETLOC.NETLOC", 2, 0, 0, "NETLOC"},
      {"\\NODE.$ZTN1300.#PTONM2AX", -1, {}, 0, "\\NODE"},
      {"\\NODE.$ZTN1300.#PTONM2AX", 0, {}, 0, "$ZTN1300"},
      {"\\NODE.$ZTN1300.#PTONM2AX", 0, 2, 0, "\\NODE.$ZTN1300"},
      {"\\NODE.$ZTN1300.#PTONM2AX", 0, 1, 0, "$ZTN1300.#PTONM2AX"},
      {"\\alpha.$ZTN0.#PTY12", -1, {}, 0, "\\alpha"},
      {"\\DEMO", -1, {}, 0, "\\DEMO"},
      {"\\DEMO", 0, {}, 13, ""},
      {"TERMIPA0", 1, 2, 0, "\\DEMO.$DATA.NETLOC"},
      {"TERMIPA0", 2, 0, 0, "TERMIPA0"},
      {"bad name!", 0, {}, 13, ""},
      {"", 0, {}, 13, ""},
      {"$ZTN0.#PTY1", 3, {}, 590, ""},
      {"$ZTN0.#PTY1", 0, 3, 590, ""},
  };
  for (const DecomposeCase& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " level " + std::to_string(c.level));
    char out[40];
    INT out_length = -1;
    EXPECT_EQ(FILENAME_DECOMPOSE_(c.text, len(c.text), out, sizeof out, &out_length, c.level,
                                  c.options),
              c.rc);
    if (c.rc == 0) {
      EXPECT_EQ(std::string(out, static_cast<std::size_t>(out_length)), c.piece);
    }
  }
}

TEST_F(Names, DecomposeRespectsTheCapacity) {
  char out[8];
  std::memset(out, '-', sizeof out);
  INT out_length = -1;
  EXPECT_EQ(FILENAME_DECOMPOSE_("$ZTN1300.#PTONM2AX", 18, out, 8, &out_length, 0, 2),
            err::BUFFER_TOO_SMALL);  // \DEMO.$ZTN1300 is 14 bytes
  EXPECT_EQ(std::string(out, 8), "--------");
  EXPECT_EQ(FILENAME_DECOMPOSE_("$ZTN1300.#PTONM2AX", 18, out, 8, &out_length, 0), 0);
  EXPECT_EQ(std::string(out, 8), "$ZTN1300");
}

struct CompareCase {
  const char* a;
  const char* b;
  INT rc;
};

TEST_F(Names, CompareIgnoresCaseAndTheOwnNode) {
  static const CompareCase cases[] = {
      {"\\DEMO.$ZTN0.#PTY1", "$ztn0.#pty1", 0},
      {"\\demo.$ZTN0.#PTY1", "\\DEMO.$ZTN0.#PTY1", 0},
      {"TERMIPA0", "$DATA.NETLOC.TERMIPA0", 0},
      {"\\TIGRA.$ZTN0.#PTY1", "$ZTN0.#PTY1", 1},
      {"$ZTN0.#PTY1", "$ZTN0.#PTY2", 1},
      {"$ZTN0", "$ZTN0.#PTY1", 1},
      {"$ZTN0", "", 13},
      {"$ZTN0.#PTY1", "$ZTN0.#PTY1!", 13},
      {"$?", "$ZTN0", 13},
  };
  for (const CompareCase& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    EXPECT_EQ(FILENAME_COMPARE_(c.a, len(c.a), c.b, len(c.b)), c.rc);
  }
}

struct InternalCase {
  const char* external;
  INT rc;
  std::string internal;  // 24 bytes
  const char* back;      // OLDFILENAME_TO_FILENAME_ of it
};

TEST_F(Names, InternalFormsRoundTrip) {
  static const InternalCase cases[] = {
      {"$ZTN0.#PTY1", 0, "$ZTN0   #PTY1           ", "\\DEMO.$ZTN0.#PTY1"},
      {"\\demo.$ztn0.#pty1", 0, "$ZTN0   #PTY1           ", "\\DEMO.$ZTN0.#PTY1"},
      {"$ZTN0.#PTY1.X", 0, "$ZTN0   #PTY1   X       ", "\\DEMO.$ZTN0.#PTY1.X"},
      // A "#" qualifier of 9 bytes keeps its 8 characters; the "#" comes back.
      {"\\DEMO.$ZTN1300.#PTONM2AX", 0, "$ZTN1300PTONM2AX        ", "\\DEMO.$ZTN1300.#PTONM2AX"},
      {"$DATA.NETLOC.TERMIPA0", 0, "$DATA   NETLOC  TERMIPA0", "\\DEMO.$DATA.NETLOC.TERMIPA0"},
      // ... but an 8-character subvolume of a disk volume stays a subvolume.
      {"$DATA.NETLOCAB.F", 0, "$DATA   NETLOCABF       ", "\\DEMO.$DATA.NETLOCAB.F"},
      {"TERMIPA0", 0, "$DATA   NETLOC  TERMIPA0", "\\DEMO.$DATA.NETLOC.TERMIPA0"},
      {"$S.#LIST", 0, "$S      #LIST           ", "\\DEMO.$S.#LIST"},
      {"\\TIGRA.$ZTN04.#AGUZZT1", 0, std::string("\\\x0CZTN04 #AGUZZT1        ", 24),
       "\\TIGRA.$ZTN04.#AGUZZT1"},
      {"\\TIGRA.$DATA.NETLOCAB.F", 0, std::string("\\\x0C" "DATA  NETLOCABF       ", 24),
       "\\TIGRA.$DATA.#NETLOCAB.F"},
  };
  for (const InternalCase& c : cases) {
    SCOPED_TRACE(c.external);
    char internal[24];
    ASSERT_EQ(FILENAME_TO_OLDFILENAME_(c.external, len(c.external), internal), c.rc);
    EXPECT_EQ(std::string(internal, 24), c.internal);
    char back[36];
    INT back_length = 0;
    ASSERT_EQ(OLDFILENAME_TO_FILENAME_(internal, back, sizeof back, &back_length), 0);
    EXPECT_EQ(std::string(back, static_cast<std::size_t>(back_length)), c.back);
  }
}

TEST_F(Names, ToInternalFormRefusesWhatDoesNotFit) {
  struct Case {
    const char* external;
    INT rc;
  };
  static const Case cases[] = {
      {"\\TIGRA.$ZTN1300.#A", 13},  // 7 characters after "$" do not fit the network form
      {"\\NOWHERE.$X", 18},
      {"\\DEMO", 13},
      {"", 13},
      {"$ZTN0.#PTY1!", 13},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.external);
    char internal[24];
    std::memset(internal, '-', sizeof internal);
    EXPECT_EQ(FILENAME_TO_OLDFILENAME_(c.external, len(c.external), internal), c.rc);
    EXPECT_EQ(std::string(internal, 24), std::string(24, '-'));
  }
}

TEST_F(Names, FromInternalFormRefusesGarbage) {
  struct Case {
    std::string internal;
    INT rc;
    const char* external;
  };
  static const Case cases[] = {
      {std::string(24, ' '), 13, ""},
      {std::string(24, '\0'), 13, ""},
      {"$ZTN 0  #PTY1           ", 13, ""},
      {"X       #PTY1           ", 13, ""},
      {"$1BC    #PTY1           ", 13, ""},
      {"$ZTN0           #PTY1   ", 13, ""},
      {"$ZTN0   #PTY1   #X      ", 13, ""},
      {"$ZTN0   #PT!1           ", 13, ""},
      {std::string("$ZTN0   ") + std::string(16, '\0'), 13, ""},
      {std::string("\\\x63ZTN0  #PTY1           ", 24), 18, ""},
      {std::string("\\\x0C      #PTY1           ", 24), 13, ""},
      {"$ztn0   #pty1           ", 0, "\\DEMO.$ZTN0.#PTY1"},
      {"$ZTN0                   ", 0, "\\DEMO.$ZTN0"},
      {std::string("\\\x07ZTN0  #PTY1           ", 24), 0, "\\DEMO.$ZTN0.#PTY1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.internal);
    char out[36];
    INT out_length = -1;
    EXPECT_EQ(OLDFILENAME_TO_FILENAME_(c.internal.data(), out, sizeof out, &out_length), c.rc);
    if (c.rc == 0) {
      EXPECT_EQ(std::string(out, static_cast<std::size_t>(out_length)), c.external);
    }
  }
  char small[10];
  INT small_length = -1;
  EXPECT_EQ(OLDFILENAME_TO_FILENAME_("$ZTN0   #PTY1           ", small, sizeof small, &small_length),
            err::BUFFER_TOO_SMALL);
  EXPECT_EQ(small_length, -1);
}

TEST_F(Names, NodeNamesAndNumbers) {
  INT32 number = -1;
  EXPECT_EQ(NODENAME_TO_NODENUMBER_(nullptr, 0, &number), 0);
  EXPECT_EQ(number, 7);
  struct Case {
    const char* name;
    INT rc;
    INT32 number;
  };
  static const Case cases[] = {
      {"\\DEMO", 0, 7}, {"\\tigra", 0, 12}, {"\\NOPE", 18, -1},
      {"DEMO", 13, -1}, {"\\DEMO.$X", 13, -1}, {"\\", 13, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    number = -1;
    EXPECT_EQ(NODENAME_TO_NODENUMBER_(c.name, len(c.name), &number), c.rc);
    EXPECT_EQ(number, c.number);
  }

  char name[8];
  INT name_length = 0;
  EXPECT_EQ(NODENUMBER_TO_NODENAME_({}, name, sizeof name, &name_length), 0);
  EXPECT_EQ(std::string(name, static_cast<std::size_t>(name_length)), "\\DEMO");
  EXPECT_EQ(NODENUMBER_TO_NODENAME_(12, name, sizeof name, &name_length), 0);
  EXPECT_EQ(std::string(name, static_cast<std::size_t>(name_length)), "\\TIGRA");
  EXPECT_EQ(NODENUMBER_TO_NODENAME_(99, name, sizeof name, &name_length), 18);
  EXPECT_EQ(NODENUMBER_TO_NODENAME_(7, name, 4, &name_length), err::BUFFER_TOO_SMALL);
}

TEST_F(Names, UpshiftChangesOnlyAsciiLetters) {
  char out[16];
  const std::string in = "abc$Ztn0.#pty1\xE9";
  EXPECT_EQ(STRING_UPSHIFT_(in.data(), len(in), out, sizeof out), 0);
  EXPECT_EQ(std::string(out, in.size()), "ABC$ZTN0.#PTY1\xE9");
  char same[] = "mixed Case";
  EXPECT_EQ(STRING_UPSHIFT_(same, 10, same, 10), 0);
  EXPECT_EQ(std::string(same), "MIXED CASE");
  EXPECT_EQ(STRING_UPSHIFT_("abc", 3, out, 2), err::BUFFER_TOO_SMALL);
  EXPECT_EQ(STRING_UPSHIFT_("abc", -1, out, 2), err::BAD_PARAM);
}

TEST(NamesFaults, AnInjectedErrorIsReturnedInsteadOfTheWork) {
  std::string error;
  auto node = node::load_node_text(std::string(DEMO_NODE) + R"(
[[fault]]
procedure = "FILENAME_COMPARE_"
error = 77
)",
                                    "faults", &error);
  ASSERT_TRUE(node) << error;
  node::set_current(std::move(*node));
  EXPECT_EQ(FILENAME_COMPARE_("$A", 2, "$A", 2), 77);
  INT count = 0;
  EXPECT_EQ(FILENAME_SCAN_("$A", 2, &count), 0);
}

}  // namespace
}  // namespace nsk
