// Device classification and the window address: the Telnet server's record through SPI, a
// GEMINI window's SETPARAM answers, an X.25 window's DTE number, on a node described here.
#include "addrlib/winaddr.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/filesystem.h"
#include "platform/node.h"

namespace nsk {
namespace {

constexpr char NODE[] = R"(
[node]
name = '\ALPHA'
number = 12
time_scale = 0.0001

[self]
cpu = 1
pin = 201
program = '$SYSTEM.NETLOC.NETLOC'
home_terminal = '$TC1'

[[process]]
name = "$ZTN0"
program = '\ALPHA.$SYSTEM.SYS01.TELSERV'

[[process]]
name = "$GEM1"
program = '$SYSTEM.GEMINI.GEMSRV'

[[destination]]
name = "$ZTN0"
device_type = 46

[[destination.terminal]]
name = "#PTY1"
address = "192.0.2.17"
port = 50123
address2 = "10.1.2.3"
port2 = 23

[[destination.terminal]]
name = "#NUL"
address_field_hex = "00 00 00 31 2E 32 2E 33 2E 34 20 38 30"
address2_field_hex = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"

[[destination.terminal]]
name = "#ZERO"
address_field_hex = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"

[[destination.terminal]]
name = "#FULL"
address_field = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"
address2_field = "BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB 7"

[[destination.terminal]]
name = "#LONGPORT"
address = "1.2.3.4"
port = "1234567"

[[destination.terminal]]
name = "#NOPORT"
address_field = "1.2.3.4 x"

[[process]]
name = "$ZTN9"
program = '\ALPHA.$SYSTEM.SYS77.TELSERV'

[[destination]]
name = "$ZTN9"
device_type = 46
gemini_id = "GEMINI STN 9"

[[destination.terminal]]
name = "#PTY1"
address = "192.0.2.99"
port = 23

[[destination]]
name = "$GEM1"
device_type = 46
gemini_id = "GEMINI STN 2.4"

[[destination.terminal]]
name = "#W1"
address = "198.51.100.7"
port = 40000
address2 = "198.51.100.8"
port2 = 23

[[destination.terminal]]
name = "#W2"
address = "10.20.0.7"
gemini_address_hex = "0A 14"
gemini_port_hex = ""
gemini_address2_hex = "FF FF FF FF"
gemini_port2_hex = "00"

[[destination.terminal]]
name = "#W3"
address = "0.0.0.0"
port = 0

[[destination]]
name = "$GEM2"
device_type = 46
gemini_id = "GEMINI STN 3"

[[destination.terminal]]
name = "#W1"
address = "198.51.100.9"
port = 2323

[[process]]
name = "$NOGEM"
program = '$SYSTEM.OTHER.TELNETD'

[[destination]]
name = "$NOGEM"
device_type = 46

[[destination.terminal]]
name = "#PTY1"
address = "203.0.113.5"

[[destination]]
name = "$X25A"
device_type = 61
terminal = [ { name = "#W1", dte = "31102150123456" } ]

[[destination]]
name = "$TC1"
device_type = 6

[[destination.terminal]]
name = ""

[[destination]]
name = "$ENV1"
device_type = 7

[[destination.terminal]]
name = ""
)";

void install(const std::string& extra = "") {
  std::string error;
  auto node = node::load_node_text(NODE + extra, "winaddr", &error);
  ASSERT_TRUE(node) << error;
  node::set_current(std::move(*node));
}

// The process's opens whose name ends in suffix.
int opens_named(std::string_view suffix) {
  int count = 0;
  for (INT f = 0; f < 256; ++f) {
    char name[40];
    INT length = 0;
    INT last = 0;
    if (FILE_GETINFO_(f, &last, name, sizeof name, &length) != 0) continue;
    const std::string_view n(name, static_cast<size_t>(length));
    if (n.size() >= suffix.size() && n.substr(n.size() - suffix.size()) == suffix) ++count;
  }
  return count;
}

void close_all() {
  for (INT f = 0; f < 256; ++f) FILE_CLOSE_(f);
}

// One call with every output given (each maximum 20 unless stated); lengths start at -7.
struct Call {
  std::string name;
  INT max = 20, port_max = 20, address2_max = 20, port2_max = 20;
  bool want_port = true, want_address2 = true, want_port2 = true;
  std::optional<INT> close;

  char address[64], port[64], address2[64], port2[64];
  INT address_length = -7, port_length = -7, address2_length = -7, port2_length = -7;
  INT devicetype = -99;
  INT result = -99;

  explicit Call(std::string n) : name(std::move(n)) {}

  Call& run() {
    for (char* b : {address, port, address2, port2}) std::fill(b, b + 64, '~');
    const INT length = static_cast<INT>(name.size());
    result = GETWINADDR(name.data(), &length, address, &max, &address_length, &devicetype,
                        close ? &*close : nullptr, want_port ? port : nullptr, &port_max,
                        &port_length, want_address2 ? address2 : nullptr, &address2_max,
                        &address2_length, want_port2 ? port2 : nullptr, &port2_max,
                        &port2_length);
    return *this;
  }
  static std::string text(const char* b, INT length) {
    return length == -7 ? "<unwritten>" : std::string(b, static_cast<size_t>(length));
  }
  std::string a() const { return text(address, address_length); }
  std::string p() const { return text(port, port_length); }
  std::string a2() const { return text(address2, address2_length); }
  std::string p2() const { return text(port2, port2_length); }
};

class WinAddr : public testing::Test {
 protected:
  void SetUp() override { install(); }
  void TearDown() override { close_all(); }
};

struct PathCase {
  const char* name;
  INT devicetype;
  const char* address;
  const char* port;
  const char* address2;
  const char* port2;
};

TEST_F(WinAddr, EveryPathWithEveryOutput) {
  static constexpr PathCase cases[] = {
      {"\\ALPHA.$ZTN0.#PTY1", 46, "192.0.2.17", "50123", "10.1.2.3", "23"},
      {"$ZTN0.#PTY1", 46, "192.0.2.17", "50123", "10.1.2.3", "23"},
      {"$ZTN0.#NUL", 46, "1.2.3.4", "80", "", ""},
      {"$ZTN0.#ZERO", 46, "", "", "", ""},
      {"$ZTN0.#FULL", 46, "AAAAAAAAAAAAAAAAAAAA", "", "BBBBBBBBBBBBBBBBBBBB", "7"},
      {"$ZTN0.#NOPORT", 46, "1.2.3.4", "", "", ""},
      {"$ZTN9.#PTY1", 46, "192.0.2.99", "23", "", ""},  // a TELSERV of any SYS?? is not asked
      {"$NOGEM.#PTY1", 46, "203.0.113.5", "", "", ""},  // asked, not GEMINI: the SPI request
      {"$GEM1.#W1", 46, "198.51.100.7", "40000", "198.51.100.8", "23"},
      {"$GEM1.#W2", 46, "", "", "255.255.255.255", ""},
      {"$GEM1.#W3", 46, "0.0.0.0", "0", "", ""},
      {"$GEM2.#W1", 46, "198.51.100.9", "2323", "", ""},  // no owner process: asked all the same
      {"$X25A.#W1", 61, "31102150123456", "<unwritten>", "<unwritten>", "<unwritten>"},
      {"$TC1", 6, "", "<unwritten>", "<unwritten>", "<unwritten>"},
      {"$ENV1", 7, "", "<unwritten>", "<unwritten>", "<unwritten>"},
      {"$NOSUCH.#PTY1", -1, "", "<unwritten>", "<unwritten>", "<unwritten>"},
      {"NOT A NAME", -1, "", "<unwritten>", "<unwritten>", "<unwritten>"},
      {"\\FAR.$ZTN0.#PTY1", -1, "", "<unwritten>", "<unwritten>", "<unwritten>"},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.name);
    Call call(c.name);
    call.close = 1;
    call.run();
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.devicetype, c.devicetype);
    EXPECT_EQ(call.a(), c.address);
    EXPECT_EQ(call.p(), c.port);
    EXPECT_EQ(call.a2(), c.address2);
    EXPECT_EQ(call.p2(), c.port2);
    EXPECT_EQ(call.address[call.address_length < 0 ? 0 : call.address_length], '~');
  }
}

TEST_F(WinAddr, OutputsAreCutToTheirMaximum) {
  Call spi("$ZTN0.#PTY1");
  spi.max = 5;
  spi.port_max = 3;
  spi.address2_max = 0;
  spi.port2_max = 1;
  spi.run();
  EXPECT_EQ(spi.result, 0);
  EXPECT_EQ(spi.a(), "192.0");
  EXPECT_EQ(spi.p(), "501");
  EXPECT_EQ(spi.a2(), "");
  EXPECT_EQ(spi.p2(), "2");

  Call digits("$ZTN0.#LONGPORT");
  digits.port_max = 5;
  digits.run();
  EXPECT_EQ(digits.p(), "12345");

  Call full("$ZTN0.#FULL");
  full.max = 60;  // the field is 40 bytes: nothing after it is taken
  full.run();
  EXPECT_EQ(full.a(), std::string(40, 'A'));

  Call gemini("$GEM1.#W1");
  gemini.max = 7;
  gemini.port_max = 2;
  gemini.run();
  EXPECT_EQ(gemini.a(), "198.51.");
  EXPECT_EQ(gemini.p(), "40");

  Call x25("$X25A.#W1");
  x25.max = 5;
  x25.run();
  EXPECT_EQ(x25.a(), "31102");
}

TEST_F(WinAddr, SecondPortWithoutSecondAddress) {
  Call spi("$ZTN0.#PTY1");
  spi.want_address2 = false;
  spi.run();
  EXPECT_EQ(spi.result, 0);
  EXPECT_EQ(spi.p2(), "<unwritten>");
  EXPECT_EQ(spi.port2[0], '~');

  Call gemini("$GEM1.#W1");
  gemini.want_address2 = false;
  gemini.run();
  EXPECT_EQ(gemini.p2(), "23");
}

TEST_F(WinAddr, ParameterFaults) {
  char buffer[20];
  INT length = 0;
  INT type = -99;
  const INT max = 20;
  const std::string_view name = "$ZTN0.#PTY1";
  const INT name_length = static_cast<INT>(name.size());
  struct Fault {
    const char* what;
    INT result;
  };
  const Fault faults[] = {
      {"no name", GETWINADDR(nullptr, &name_length, buffer, &max, &length, &type)},
      {"no name length", GETWINADDR(name.data(), nullptr, buffer, &max, &length, &type)},
      {"address without length", GETWINADDR(name.data(), &name_length, buffer, &max, nullptr, &type)},
      {"port without length", GETWINADDR(name.data(), &name_length, buffer, &max, &length, &type,
                                         nullptr, buffer, &max, nullptr)},
      {"address2 without length",
       GETWINADDR(name.data(), &name_length, nullptr, nullptr, nullptr, &type, nullptr, nullptr,
                  nullptr, nullptr, buffer, &max, nullptr)},
      {"port2 without length",
       GETWINADDR(name.data(), &name_length, nullptr, nullptr, nullptr, &type, nullptr, nullptr,
                  nullptr, nullptr, nullptr, nullptr, nullptr, buffer, &max, nullptr)},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.what);
    EXPECT_EQ(f.result, 590);
  }
  EXPECT_EQ(type, -99);  // the device type is not even taken
  EXPECT_EQ(opens_named("#ZSPI"), 0);
}

TEST_F(WinAddr, TelnetWindowWithoutAddressBuffer) {
  const std::string_view name = "$ZTN0.#PTY1";
  const INT name_length = static_cast<INT>(name.size());
  INT length = -7;
  INT type = -99;
  EXPECT_EQ(GETWINADDR(name.data(), &name_length, nullptr, nullptr, &length, &type), 0);
  EXPECT_EQ(type, 46);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(GETWINADDR(name.data(), &name_length, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(opens_named("#ZSPI"), 0);
}

TEST_F(WinAddr, SpiFileStaysOpenForTheNextCall) {
  Call first("$ZTN0.#PTY1");
  first.run();
  ASSERT_EQ(first.result, 0);
  INT spi = -1;
  const std::string_view spi_name = "\\ALPHA.$ZNET.#ZSPI";
  ASSERT_EQ(OPENNUM(spi_name.data(), static_cast<INT>(spi_name.size()), &spi), 0);
  EXPECT_NE(spi, -1);

  // Found among the opens and used; not opened again, and not closed by a call that did not
  // open it, whatever the close flag says.
  Call second("$ZTN0.#NUL");
  second.close = 1;
  second.run();
  EXPECT_EQ(second.result, 0);
  EXPECT_EQ(second.a(), "1.2.3.4");
  EXPECT_EQ(opens_named("#ZSPI"), 1);
  INT again = -1;
  ASSERT_EQ(OPENNUM("$ZNET.#ZSPI", 11, &again), 0);
  EXPECT_EQ(again, spi);
}

TEST_F(WinAddr, CloseFlagClosesWhatTheCallOpened) {
  Call spi("$ZTN0.#PTY1");
  spi.close = 1;
  spi.run();
  EXPECT_EQ(spi.result, 0);
  EXPECT_EQ(opens_named("#ZSPI"), 0);

  Call zero("$ZTN0.#PTY1");
  zero.close = 0;
  zero.run();
  EXPECT_EQ(opens_named("#ZSPI"), 1);

  Call x25("$X25A.#W1");
  x25.run();
  EXPECT_EQ(opens_named("$X25A.#W1"), 1);
  Call x25_again("$X25A.#W1");
  x25_again.close = 1;
  x25_again.run();
  EXPECT_EQ(x25_again.a(), "31102150123456");
  EXPECT_EQ(opens_named("$X25A.#W1"), 1);  // found, not opened here: stays open
  close_all();
  x25_again.run();
  EXPECT_EQ(opens_named("$X25A.#W1"), 0);

  // The GEMINI window is opened and closed within the call.
  Call gemini("$GEM1.#W1");
  gemini.run();
  EXPECT_EQ(opens_named("$GEM1.#W1"), 0);
}

TEST_F(WinAddr, X25WindowOpenNowaitByTheCaller) {
  INT mine = -1;
  ASSERT_EQ(FILE_OPEN_("$X25A.#W1", 9, &mine, {}, {}, 1), 0);
  Call x25("$X25A.#W1");
  x25.close = 1;
  x25.run();
  EXPECT_EQ(x25.result, 0);
  EXPECT_EQ(x25.a(), "31102150123456");
  INT last = 0;
  EXPECT_EQ(FILE_GETINFO_(mine, &last), 0);  // still open
}

TEST(WinAddrLimits, SilentControlPointGivesClass10Error40) {
  install("\n[spi]\nsilent = true\n");
  Call call("$ZTN0.#PTY1");
  call.close = 1;
  call.run();
  EXPECT_EQ(call.result, -24536);
  EXPECT_EQ(call.devicetype, 46);
  EXPECT_EQ(call.address_length, -7);
  EXPECT_EQ(opens_named("#ZSPI"), 0);  // closed on the error path too
  close_all();
}

TEST(WinAddrLimits, ExchangeErrorGivesClass10) {
  install("\n[spi]\nexchange_error = 201\n");
  Call call("$ZTN0.#PTY1");
  call.close = 1;
  call.run();
  EXPECT_EQ(call.result, static_cast<INT>(10 * 4096 + 201 - 65536));
  close_all();
}

TEST(WinAddrLimits, FailedSetparamRequests) {
  // Every SETPARAM fails: the X.25 window delivers an empty DTE number, and a GEMINI window
  // that cannot be identified is asked through SPI.
  install("\n[[fault]]\nprocedure = \"SETPARAM\"\nerror = 2\n");
  Call x25("$X25A.#W1");
  x25.close = 1;
  x25.run();
  EXPECT_EQ(x25.result, 0);
  EXPECT_EQ(x25.a(), "");
  Call gemini("$GEM1.#W1");
  gemini.close = 1;
  gemini.run();
  EXPECT_EQ(gemini.result, 0);
  EXPECT_EQ(gemini.a(), "198.51.100.7");
  EXPECT_EQ(gemini.p(), "40000");
  EXPECT_EQ(opens_named("#W1"), 0);
  close_all();
}

TEST(WinAddrOpenNum, NoOpenGivesMinusOne) {
  install();
  INT filenum = 5;
  INT nowait = 5;
  EXPECT_EQ(OPENNUM("$ZTN0.#PTY1", 11, &filenum, &nowait), 0);
  EXPECT_EQ(filenum, -1);
  EXPECT_EQ(nowait, 5);
  INT a = -1;
  INT b = -1;
  ASSERT_EQ(FILE_OPEN_("$TC1", 4, &a), 0);
  ASSERT_EQ(FILE_OPEN_("$ZTN0.#PTY1", 11, &b, {}, {}, 1), 0);
  EXPECT_EQ(OPENNUM("\\ALPHA.$ztn0.#pty1", 18, &filenum, &nowait), 0);
  EXPECT_EQ(filenum, b);
  EXPECT_NE(nowait, 0);
  EXPECT_EQ(OPENNUM("$TC1", 4, &filenum, &nowait), 0);
  EXPECT_EQ(filenum, a);
  EXPECT_EQ(nowait, 0);
  close_all();
}

// Injected results run in a fresh process each, since the platform counts calls per process.
struct FaultCase {
  const char* procedure;
  int call;
  int error;
  const char* terminal;
  INT result;
};

constexpr INT coded(int error_class, int error) {
  return static_cast<INT>(static_cast<std::uint16_t>((error_class << 12) | (error & 0xFFF)));
}

[[noreturn]] void run_with_fault(const FaultCase& c) {
  install("\n[[fault]]\nprocedure = \"" + std::string(c.procedure) + "\"\ncall = " +
          std::to_string(c.call) + "\nerror = " + std::to_string(c.error) + "\n");
  Call call(c.terminal);
  call.close = 1;
  call.run();
  std::fprintf(stderr, "result=%d opens=%d;", call.result, opens_named("#ZSPI"));
  std::exit(0);
}

TEST(WinAddrFaults, EachStepGivesItsClass) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  static constexpr FaultCase cases[] = {
      {"FILE_OPEN_", 1, 14, "$X25A.#W1", coded(1, 14)},
      {"FILE_OPEN_", 1, 14, "$ZTN0.#PTY1", coded(2, 14)},
      {"FILENAME_TO_OLDFILENAME_", 1, 13, "$ZTN0.#PTY1", coded(3, 13)},
      {"SSINIT", 1, -8, "$ZTN0.#PTY1", coded(4, -8)},
      {"SSPUTTKN", 1, -8, "$ZTN0.#PTY1", coded(5, -8)},
      {"SSPUTTKN", 2, 3, "$ZTN0.#PTY1", coded(6, 3)},
      {"SSPUTTKN", 3, 4, "$ZTN0.#PTY1", coded(7, 4)},
      {"SSPUTTKN", 4, 5, "$ZTN0.#PTY1", coded(8, 5)},
      {"SSGETTKN", 1, 6, "$ZTN0.#PTY1", coded(9, 6)},
      {"WRITEREADX", 1, 201, "$ZTN0.#PTY1", coded(10, 201)},
      {"SSPUTTKN", 5, 7, "$ZTN0.#PTY1", coded(11, 7)},
      {"SSPUTTKN", 6, 8, "$ZTN0.#PTY1", coded(12, 8)},
      {"SSGET", 1, 4109, "$ZTN0.#PTY1", coded(13, 13)},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.procedure << " call " << c.call << " on " << c.terminal);
    const std::string expected = "result=" + std::to_string(c.result) + " opens=0;";
    EXPECT_EXIT(run_with_fault(c), testing::ExitedWithCode(0), expected);
  }
}

}  // namespace
}  // namespace nsk
