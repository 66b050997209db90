// The emulator query against scripted emulators of a node, and the address syntax check.
#include "addrlib/emulator.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/node.h"

namespace nsk {
namespace {

// Waits run at a hundredth of their time: the default wait of 50 lasts 5 ms.
constexpr char NODE_HEAD[] = R"(
[node]
name = '\EMU'
time_scale = 0.01

[self]
cpu = 1
pin = 201
program = '$SYSTEM.NETLOC.NETLOC'
home_terminal = '$ZTN0.#HOME'

[[destination]]
name = "$ZTN0"
device_type = 46

[[destination.terminal]]
name = "#HOME"
)";

// A terminal of $ZTN0 with the given emulator table (TOML inline-table body).
std::string terminal(std::string_view name, std::string_view emulator) {
  return "\n[[destination.terminal]]\nname = \"" + std::string(name) + "\"\nemulator = { " +
         std::string(emulator) + " }\n";
}

void install(const std::string& terminals) {
  std::string error;
  auto node = node::load_node_text(NODE_HEAD + terminals, "emulator", &error);
  ASSERT_TRUE(node) << error;
  node::set_current(std::move(*node));
}

// The six fields as the caller sees them after a call; lengths start at -7 so that an
// unchanged one shows.
struct Fields {
  char buffer[6][20];
  INT length[6] = {-7, -7, -7, -7, -7, -7};
  Fields() {
    for (auto& b : buffer) std::fill(std::begin(b), std::end(b), '~');
  }
  std::string text(int k) const {
    return length[k] < 0 ? "<unchanged>" : std::string(buffer[k], static_cast<size_t>(length[k]));
  }
};

INT query(std::string_view name, Fields& f, INT capacity = 20,
          std::optional<INT32> wait = {}, std::optional<INT> drain = {},
          INT64* response_time = nullptr) {
  return GETMACHINEUSER(name.data(), static_cast<INT>(name.size()), f.buffer[0], capacity,
                        &f.length[0], f.buffer[1], capacity, &f.length[1], f.buffer[2],
                        capacity, &f.length[2], f.buffer[3], capacity, &f.length[3],
                        f.buffer[4], capacity, &f.length[4], f.buffer[5], capacity,
                        &f.length[5], wait, drain, response_time);
}

struct ReplyCase {
  const char* name;
  const char* reply_hex;
  const char* fields[6];
};

constexpr ReplyCase REPLIES[] = {
    // SOH & A DC2 10.1.2.3 CR
    {"#R1", "01 26 41 12 31 30 2E 31 2E 32 2E 33 0D", {"A", "10.1.2.3", "", "", "", ""}},
    // a blank splits a field like DC2: X blank Y DC2 Z
    {"#R2", "01 26 58 20 59 12 5A", {"X", "Y", "Z", "", "", ""}},
    // two separators in a row give an empty field
    {"#R3", "01 26 41 12 12 42", {"A", "", "B", "", "", ""}},
    // a reply that begins with its separator: the first field is empty
    {"#R4", "01 26 12 31 2E 32 12 0D", {"", "1.2", "", "", "", ""}},
    // more than six fields: the seventh is passed over
    {"#R5", "01 26 31 12 32 12 33 12 34 12 35 12 36 12 37", {"1", "2", "3", "4", "5", "6"}},
    // a CR ends the field and the data after it becomes the next field
    {"#R6", "01 26 41 0D 42 43", {"A", "BC", "", "", "", ""}},
    // exactly four bytes
    {"#R7", "01 26 41 42", {"AB", "", "", "", "", ""}},
    // a field of 25 bytes is cut to the capacity of 20
    {"#R8", "01 26 41 12 31 32 33 34 35 36 37 38 39 30 31 32 33 34 35 36 37 38 39 30 31 32 33 34 35",
     {"A", "12345678901234567890", "", "", "", ""}},
};

TEST(GetMachineUser, ReplyFieldsTable) {
  std::string terminals;
  for (const ReplyCase& c : REPLIES) {
    terminals += terminal(c.name, std::string("reply_hex = \"") + c.reply_hex + "\"");
  }
  install(terminals);
  for (const ReplyCase& c : REPLIES) {
    SCOPED_TRACE(c.name);
    Fields f;
    ASSERT_EQ(query(std::string("$ZTN0.") + c.name, f), 0);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(f.text(k), c.fields[k]) << "field " << k + 1;
  }
}

TEST(GetMachineUser, OnlyRequestedFieldsAreStored) {
  install(terminal("#R1", "reply_hex = \"01 26 41 12 31 30 2E 31 2E 32 2E 33 0D\""));
  char address[20];
  INT address_length = -7;
  const std::string_view name = "$ZTN0.#R1";
  ASSERT_EQ(GETMACHINEUSER(name.data(), static_cast<INT>(name.size()), nullptr, 0, nullptr,
                           address, 20, &address_length),
            0);
  EXPECT_EQ(std::string(address, static_cast<size_t>(address_length)), "10.1.2.3");
  EXPECT_EQ(address_length, 8);
}

TEST(GetMachineUser, ReplyLongerThanTheReadBuffer) {
  // 600 bytes of reply: at most 500 are read, the zero byte after them stays inside the buffer.
  std::string reply = "01 26";
  for (int k = 0; k < 598; ++k) reply += " 41";
  install(terminal("#BIG", "reply_hex = \"" + reply + "\""));
  Fields f;
  ASSERT_EQ(query("$ZTN0.#BIG", f), 0);
  EXPECT_EQ(f.text(0), std::string(20, 'A'));
  // The fields after it would begin past the reply: each is stored empty.
  for (int k = 1; k < 6; ++k) EXPECT_EQ(f.text(k), "") << "field " << k + 1;
}

TEST(GetMachineUser, UnrecognisedRepliesChangeNothing) {
  static constexpr const char* replies[] = {"01 26 41", "02 26 41 42", "01 27 41 42", "41 42 43 44"};
  std::string terminals;
  int k = 0;
  for (const char* r : replies) terminals += terminal("#U" + std::to_string(++k), std::string("reply_hex = \"") + r + "\"");
  install(terminals);
  for (k = 1; k <= 4; ++k) {
    SCOPED_TRACE(replies[k - 1]);
    Fields f;
    INT64 response_time = -5;
    EXPECT_EQ(query("$ZTN0.#U" + std::to_string(k), f, 20, {}, {}, &response_time), 0);
    for (int field = 0; field < 6; ++field) EXPECT_EQ(f.text(field), "<unchanged>");
    EXPECT_EQ(f.buffer[0][0], '~');
    EXPECT_GE(response_time, 0);
  }
}

TEST(GetMachineUser, SilenceEndsWithTheTimeLimit) {
  install(terminal("#S", "silent = true"));
  Fields f;
  INT64 response_time = -5;
  EXPECT_EQ(query("$ZTN0.#S", f, 20, {}, {}, &response_time), 40);
  EXPECT_EQ(f.text(1), "<unchanged>");
  // One wait of 50 hundredths at a time scale of 0.01: 5 ms, measured generously.
  EXPECT_GE(response_time, 1000);
  EXPECT_LT(response_time, 5'000'000);
}

TEST(GetMachineUser, EmptyReadsBeforeTheReply) {
  const std::string reply = "reply_hex = \"01 26 41 12 42\", empty_reads = ";
  install(terminal("#E1", reply + "1") + terminal("#E2", reply + "2") +
          terminal("#E3", reply + "3"));
  for (const char* name : {"$ZTN0.#E1", "$ZTN0.#E2"}) {
    SCOPED_TRACE(name);
    Fields f;
    INT64 response_time = -5;
    EXPECT_EQ(query(name, f, 20, {}, {}, &response_time), 0);
    EXPECT_EQ(f.text(1), "B");
    EXPECT_GE(response_time, 0);
  }
  Fields f;
  INT64 response_time = -5;
  EXPECT_EQ(query("$ZTN0.#E3", f, 20, {}, {}, &response_time), 1);
  EXPECT_EQ(response_time, -1);
  EXPECT_EQ(f.text(0), "<unchanged>");
}

TEST(GetMachineUser, ResponseTimeCoversTheEmulatorsDelay) {
  // 30 hundredths scaled by 0.01: the reply comes after 3 ms; the wait of 50 is 500 ms.
  install(terminal("#D", "reply_hex = \"01 26 41 12 42\", delay_cs = 30"));
  Fields f;
  INT64 response_time = -5;
  ASSERT_EQ(query("$ZTN0.#D", f, 20, 5000, {}, &response_time), 0);
  EXPECT_GE(response_time, 2'500);
  EXPECT_LT(response_time, 10'000'000);
}

TEST(GetMachineUser, WaitTimeZeroOrNegativeMeansFifty) {
  // The reply comes after 400 hundredths (scaled: 40 ms): a wait of 50 (5 ms) misses it, a wait
  // of 800 (80 ms) gets it.
  install(terminal("#SLOW", "reply_hex = \"01 26 41 12 42\", delay_cs = 400"));
  struct WaitCase {
    std::optional<INT32> wait;
    INT result;
  };
  static const WaitCase cases[] = {{{}, 40}, {0, 40}, {-5, 40}, {50, 40}, {800, 0}};
  for (const WaitCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "wait " << (c.wait ? *c.wait : 9999));
    Fields f;
    EXPECT_EQ(query("$ZTN0.#SLOW", f, 20, c.wait), c.result);
  }
}

TEST(GetMachineUser, DrainThrowsPendingInputAway) {
  install(terminal("#P", "reply_hex = \"01 26 41 12 42\", pending_input = \"stale\""));
  Fields drained;
  EXPECT_EQ(query("$ZTN0.#P", drained, 20, {}, INT(1)), 0);
  EXPECT_EQ(drained.text(1), "B");
  // Without the drain the pending input is read as the answer, which is no reply.
  Fields undrained;
  EXPECT_EQ(query("$ZTN0.#P", undrained, 20, {}, INT(0)), 0);
  EXPECT_EQ(undrained.text(1), "<unchanged>");
}

TEST(GetMachineUser, OpenErrorChangesNothing) {
  install("");
  Fields f;
  INT64 response_time = -5;
  const INT result = query("$NOSUCH.#X", f, 20, {}, {}, &response_time);
  EXPECT_NE(result, 0);
  EXPECT_NE(result, 1);
  EXPECT_EQ(response_time, -5);
  EXPECT_EQ(f.text(0), "<unchanged>");
}

TEST(GetMachineUser, FieldBufferWithoutItsLengthIsAParameterFault) {
  install(terminal("#R", "reply_hex = \"01 26 41 12 42\""));
  char buffer[20];
  const std::string_view name = "$ZTN0.#R";
  EXPECT_EQ(GETMACHINEUSER(name.data(), static_cast<INT>(name.size()), buffer, 20, nullptr), 590);
}

struct SyntaxCase {
  std::string_view text;
  INT result;
};

TEST(IpAddressSyntaxOk, CaseTable) {
  static constexpr SyntaxCase cases[] = {
      {"10.0.0.1", -1},
      {"255.255.255.255", -1},
      {"256.1.1.1", -1},
      {"099.1.1.1", -1},
      {"10.*.*.*", -1},
      {"?00.1.1.1", -1},
      {"1.1.1.1", -1},
      {"1.2.3.***", -1},
      {"1.2.3", 0},
      {"300.1.1.1", 0},
      {"1..22.33", 0},
      {"1.2.3.4.5", 0},
      {"1.2.3.4a", 0},
      {"1234.1.1.1", 0},
      {"1.2.3.", 0},
      {".1.2.3.4", 0},
      {"10.0.0.1 ", 0},
      {"1.2.3.4567", 0},
      {"1111.2.3.4", 0},
      {"999.999.99", 0},
      {"123.123.123.1234", 0},  // 16 bytes
      {"1.2.3.?9?", -1},        // three digits or "?", but the first is no digit 3 to 9
      {"1.2.3.9??", 0},
      {"39.1.1.1", -1},
      {"399.1.1.1", 0},
      {"3*9.1.1.1", -1},
      {std::string_view("1.2.3.4\0xy", 10), 0},
      {std::string_view("1.2\0.3.4", 8), 0},
  };
  for (const SyntaxCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "text \"" << c.text << "\"");
    EXPECT_EQ(IPADDRESSSYNTAXOK(c.text.data(), static_cast<INT>(c.text.size())), c.result);
  }
}

}  // namespace
}  // namespace nsk
