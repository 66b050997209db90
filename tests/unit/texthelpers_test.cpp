// Name and text helpers.  The node lookups of STRIPMYNODENAME_ run on a node named \ALPHA.
#include "addrlib/texthelpers.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/node.h"

namespace nsk {
namespace {

constexpr char ALPHA_NODE[] = R"(
[node]
name = '\ALPHA'
number = 12

[[remote_node]]
name = '\FAR'
number = 40

[self]
cpu = 1
pin = 201
program = '$SYSTEM.NETLOC.NETLOC'
home_terminal = '$ZTN0.#PTY1'
)";

class OnAlpha : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    auto node = node::load_node_text(ALPHA_NODE, "alpha", &error);
    ASSERT_TRUE(node) << error;
    node::set_current(std::move(*node));
  }
};

struct StripCase {
  std::string_view name;
  INT capacity;
  INT result;
  std::string_view out;
};

TEST_F(OnAlpha, StripMyNodeNameExternalNames) {
  static constexpr StripCase cases[] = {
      {"\\ALPHA.$ZTN0.#PTY12", 26, 0, "$ZTN0.#PTY12"},
      {"\\alpha.$ZTN0.#PTY12", 26, 0, "$ZTN0.#PTY12"},
      {"\\BETA.$ZTN0.#PTY12", 26, 0, "\\BETA.$ZTN0.#PTY12"},
      {"\\ALPH.$ZTN0.#PTY12", 26, 0, "\\ALPH.$ZTN0.#PTY12"},
      {"\\ALPHA.$ZTN0.#PTY12", 12, 0, "$ZTN0.#PTY12"},
      {"\\ALPHA.$ZTN0.#PTY12", 11, 563, ""},
      {"\\BETA.$ZTN0.#PTY12", 17, 563, ""},
      {"$ZTN0.#PTY12", 12, 0, "$ZTN0.#PTY12"},
      {"$ZTN0.#PTY12", 11, 563, ""},
      {"", 26, 13, ""},
      {"$ZTN0.#PTY12 ", 26, 13, ""},
      {"NOT A NAME", 26, 13, ""},
      {"\\", 26, 13, ""},
  };
  for (const StripCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "name \"" << c.name << "\" capacity " << c.capacity);
    char out[40];
    std::fill(std::begin(out), std::end(out), '~');
    INT out_length = -7;
    EXPECT_EQ(STRIPMYNODENAME_(c.name.data(), static_cast<INT>(c.name.size()), out, c.capacity,
                               &out_length),
              c.result);
    if (c.result == 0) {
      EXPECT_EQ(std::string_view(out, static_cast<size_t>(out_length)), c.out);
      EXPECT_EQ(out[out_length], '~');
    } else {
      EXPECT_EQ(out_length, -7);
      EXPECT_EQ(out[0], '~');
    }
  }
}

TEST_F(OnAlpha, StripMyNodeNameInternalNetworkForm) {
  // Backslash, node number, six name bytes, two 8-byte qualifiers.
  std::string local("\\\x0c" "ZTN0  #PTY12  " "        ", 24);
  std::string remote = local;
  remote[1] = 40;
  char out[24];
  INT out_length = 0;
  ASSERT_EQ(STRIPMYNODENAME_(local.data(), 24, out, 24, &out_length), 0);
  EXPECT_EQ(out_length, 24);
  EXPECT_EQ(std::string(out, 24), std::string("$ZTN0   #PTY12          ", 24));
  ASSERT_EQ(STRIPMYNODENAME_(remote.data(), 24, out, 24, &out_length), 0);
  EXPECT_EQ(std::string(out, 24), remote);
  EXPECT_EQ(STRIPMYNODENAME_(local.data(), 24, out, 23, &out_length), 563);
  // Not an internal name: a node number the network does not know, a blank name.
  std::string unknown = local;
  unknown[1] = 99;
  EXPECT_EQ(STRIPMYNODENAME_(unknown.data(), 24, out, 24, &out_length), 13);
  std::string blank = local;
  blank.replace(2, 22, 22, ' ');
  EXPECT_EQ(STRIPMYNODENAME_(blank.data(), 24, out, 24, &out_length), 13);
}

struct MoveCase {
  INT width;
  const char* source;
  INT source_length;
  INT result;
  std::string_view field;
};

TEST(BlankAndMove, CaseTable) {
  static constexpr MoveCase cases[] = {
      {26, "ABCDE", 5, 0, "ABCDE                     ~"},
      {3, "ABCDE", 5, 590, "~~~~"},
      {4, nullptr, 0, 0, "    ~"},
      {0, nullptr, 0, 0, "~"},
      {5, "ABCDE", 5, 0, "ABCDE~"},
      {5, "ABCDE", 0, 0, "     ~"},
      {5, "ABCDE", -1, 590, "~~~~~~"},
      {-1, "ABCDE", 1, 590, "~"},
  };
  for (const MoveCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "width " << c.width << " source length " << c.source_length);
    char field[30];
    std::fill(std::begin(field), std::end(field), '~');
    EXPECT_EQ(NLX_BLANK_AND_MOVE_(field, c.width, c.source, c.source_length), c.result);
    EXPECT_EQ(std::string_view(field, c.field.size()), c.field);
  }
  EXPECT_EQ(NLX_BLANK_AND_MOVE_(nullptr, 4, "AB", 2), 29);
}

struct RealLenCase {
  std::string_view field;
  INT length;
  INT result;
};

TEST(RealLen, CaseTable) {
  static constexpr RealLenCase cases[] = {
      {"AB  ", 4, 2},
      {"    ", 4, 0},
      {"A B", 3, 3},
      {std::string_view("AB\0", 3), 3, 3},
      {"AB\t", 3, 3},
      {"", 0, 0},
      {"AB", -3, 0},
      {"ABC  X", 5, 3},  // only the given length counts
  };
  for (const RealLenCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "field \"" << c.field << "\" length " << c.length);
    EXPECT_EQ(REALLEN(c.field.data(), c.length), c.result);
  }
}

// A pattern list: each pattern after its length byte, a zero length byte at the end.
std::string pattern_list(std::initializer_list<std::string_view> patterns) {
  std::string list;
  for (std::string_view p : patterns) {
    list += static_cast<char>(p.size());
    list += p;
  }
  list += '\0';
  return list;
}

struct ListCase {
  std::string list;
  INT flag;
  INT result;
};

TEST_F(OnAlpha, InStringBufferCaseTable) {
  const std::string_view name = "\\ALPHA.$SYSTEM.SYS01.TACL";
  const ListCase cases[] = {
      {pattern_list({}), 0, 0},
      {pattern_list({"$SYSTEM.SYS*.TACL"}), 0, -1},
      {pattern_list({"\\*.$SYSTEM.*.TACL"}), 0, -1},
      {pattern_list({"\\BETA.*"}), 0, 0},
      {pattern_list({"$SYSTEM.SYS*.TACL"}), 1, 0},
      {pattern_list({"\\*.$SYSTEM.*.TACL"}), 1, -1},
      {pattern_list({"\\BETA.*", "$system.sys??.tacl"}), 0, -1},
      {pattern_list({"\\BETA.*", "X", "*FUP"}), 0, 0},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "list of " << c.list.size() << " bytes, flag " << c.flag);
    EXPECT_EQ(NLX_IN_STRINGBUFFER_(c.list.data(), name.data(), static_cast<INT>(name.size()),
                                   c.flag, static_cast<INT>(c.list.size())),
              c.result);
  }
}

TEST_F(OnAlpha, InStringBufferStopsAtTheListsCapacity) {
  const std::string_view name = "\\ALPHA.$SYSTEM.SYS01.TACL";
  const auto length = static_cast<INT>(name.size());
  // A length byte that runs past the end: the entry is not followed.
  const char overrun[] = {5, '*', 'T', 'A'};
  EXPECT_EQ(NLX_IN_STRINGBUFFER_(overrun, name.data(), length, 0, sizeof overrun), 0);
  // No terminating zero inside the capacity: the entries inside it still count.
  const char unterminated[] = {1, '*'};
  EXPECT_EQ(NLX_IN_STRINGBUFFER_(unterminated, name.data(), length, 0, sizeof unterminated), -1);
  const char after_end[] = {1, 'X'};
  EXPECT_EQ(NLX_IN_STRINGBUFFER_(after_end, name.data(), length, 0, sizeof after_end), 0);
  EXPECT_EQ(NLX_IN_STRINGBUFFER_(overrun, name.data(), length, 0, 0), 0);
}

}  // namespace
}  // namespace nsk
