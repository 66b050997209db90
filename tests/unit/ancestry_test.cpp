// One generation up (ANCESTOR) and the walk up the chain (TRACETOMYIPADDRESS) over the process
// trees of a node described here.
#include "addrlib/ancestry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "addrlib/winaddr.h"
#include "platform/filesystem.h"
#include "platform/node.h"
#include "platform/processes.h"

namespace nsk {
namespace {

// A process entry of the node description.
std::string process(std::string_view fields) { return "\n[[process]]\n" + std::string(fields) + "\n"; }

const std::string TREE = std::string(R"(
[node]
name = '\ANC'
number = 3
time_scale = 0.0001

[self]
cpu = 1
pin = 201
program = '$SYSTEM.NETLOC.NETLOC'
home_terminal = '$TC1'
mom = "5,2"

[[destination]]
name = "$ZTN0"
device_type = 46

[[destination.terminal]]
name = "#PTY1"
address = "192.0.2.17"
port = 23

[[destination.terminal]]
name = "#PTY2"
address = "10.8.8.8"

[[destination.terminal]]
name = "#NUL"
address_field_hex = "00 31 2E 32 2E 33 2E 34"

[[destination]]
name = "$TC1"
device_type = 6

[[destination.terminal]]
name = ""
)") +
    process("name = \"$ZTN0\"\nprogram = '$SYSTEM.SYS01.TELSERV'") +
    // Guardian processes, named and unnamed.
    process("name = \"$TACL3\"\ncpu = 0\npin = 40\nprogram = '$SYSTEM.SYS01.TACL'\nhome_terminal = '$TC1'") +
    process("name = \"$TACL2\"\ncpu = 0\npin = 41\nprogram = '$SYSTEM.SYS01.TACL'\nhome_terminal = '$TC1'\nmom = \"$TACL3\"") +
    process("cpu = 2\npin = 10\nprogram = '$SYSTEM.SYS01.FUP'\nmom = \"$TACL2\"") +
    process("cpu = 2\npin = 11\nprogram = '$SYSTEM.SYS01.FUP'") +
    process("cpu = 2\npin = 12\nprogram = '$SYSTEM.SYS01.FUP'\nmom = \"2,13\"") +
    process("cpu = 2\npin = 13\nprogram = '$SYSTEM.SYS01.TACL'\nexists = false") +
    // OSS processes: the pair table's ancestor 3,24 is gone.
    process("cpu = 3\npin = 24\nprogram = '$SYSTEM.SYS01.TACL'\nexists = false") +
    process("name = \"$OSSA\"\ncpu = 3\npin = 22\ntype = \"oss\"\noss_pid = 501\noss_parent_pid = 1\nmom = \"$TACL3\"\nancestor = \"3,24\"\nprogram = '$SYSTEM.ZOSS.SH'") +
    process("name = \"$OSSB\"\ncpu = 3\npin = 23\ntype = \"oss\"\noss_pid = 502\noss_parent_pid = 600\nmom = \"$TACL3\"\nancestor = \"3,24\"\nprogram = '$SYSTEM.ZOSS.SH'") +
    process("cpu = 3\npin = 25\ntype = \"oss\"\noss_pid = 600\noss_parent_pid = 1\nprogram = '$SYSTEM.ZOSS.SH'") +
    process("name = \"$OSSC\"\ncpu = 3\npin = 26\ntype = \"oss\"\noss_pid = 503\noss_parent_pid = 600\nancestor = \"$TACL2\"\nprogram = '$SYSTEM.ZOSS.SH'") +
    process("name = \"$OSSD\"\ncpu = 3\npin = 27\ntype = \"oss\"\noss_pid = 504\noss_parent_pid = 777\nancestor = \"3,24\"\nprogram = '$SYSTEM.ZOSS.SH'") +
    process("cpu = 3\npin = 28\ntype = \"oss\"\noss_pid = 505\noss_parent_pid = 600\nmom = \"$TACL3\"\nprogram = '$SYSTEM.ZOSS.SH'") +
    // Injected return codes of PROCESS_GETPAIRINFO_, each on a process whose mom is $TACL3.
    process("name = \"$INJ2\"\ncpu = 4\npin = 2\nmom = \"$TACL3\"\ninject = { PROCESS_GETPAIRINFO_ = 2 }") +
    process("name = \"$INJ3\"\ncpu = 4\npin = 3\nmom = \"$TACL3\"\ninject = { PROCESS_GETPAIRINFO_ = 3 }") +
    process("name = \"$INJ4\"\ncpu = 4\npin = 4\nmom = \"$TACL3\"\ninject = { PROCESS_GETPAIRINFO_ = 4 }") +
    process("name = \"$INJ5\"\ncpu = 4\npin = 5\nmom = \"$TACL3\"\ninject = { PROCESS_GETPAIRINFO_ = 5 }") +
    process("name = \"$INJ6\"\ncpu = 4\npin = 6\nmom = \"$TACL3\"\ninject = { PROCESS_GETPAIRINFO_ = 6 }") +
    process("name = \"$INJ7\"\ncpu = 4\npin = 7\nmom = \"$TACL3\"\ninject = { PROCESS_GETPAIRINFO_ = 7 }") +
    process("name = \"$INJ7L\"\ncpu = 4\npin = 8\nmom = \"$TACL3\"\ninject = { PROCESS_GETPAIRINFO_ = 7, PROCESS_GETINFOLIST_ = 4 }") +
    process("cpu = 4\npin = 80\nmom = \"$INJ7L\"") +
    process("name = \"$INJ9\"\ncpu = 4\npin = 9\nmom = \"$TACL3\"\ninject = { PROCESS_GETPAIRINFO_ = 9 }") +
    process("name = \"$INJ12\"\ncpu = 4\npin = 12\nmom = \"$TACL3\"\ninject = { PROCESS_GETPAIRINFO_ = 12 }") +
    process("name = \"$INJ1\"\ncpu = 4\npin = 1\nmom = \"$TACL3\"\ninject = { PROCESS_GETPAIRINFO_ = 1 }") +
    // Chains for the walk.
    process("cpu = 5\npin = 1\nprogram = '$SYSTEM.SYS01.FUP'\nhome_terminal = '$TC1'\nmom = \"5,2\"") +
    process("cpu = 5\npin = 2\nprogram = '$SYSTEM.SYS01.TACL'\nhome_terminal = '$TC1'\nmom = \"5,3\"") +
    process("cpu = 5\npin = 3\nprogram = '$SYSTEM.SYS01.TACL'\nhome_terminal = '$ZTN0.#PTY1'") +
    process("cpu = 6\npin = 1\nprogram = '$SYSTEM.SYS01.FUP'\nhome_terminal = '$TC1'\nmom = \"6,2\"") +
    process("cpu = 6\npin = 2\nprogram = '\\ANC.$SYSTEM.SYS01.NETBATCH'\nhome_terminal = '$ZTN0.#PTY1'") +
    process("cpu = 7\npin = 1\nprogram = '$SYSTEM.SYS01.FUP'\nhome_terminal = '$ZTN0.#PTY1'") +
    process("cpu = 8\npin = 1\nprogram = '$SYSTEM.SYS01.FUP'\nhome_terminal = '$ZTN0.#PTY2'\nmom = \"8,2\"") +
    process("cpu = 8\npin = 2\nprogram = '$SYSTEM.SYS01.TACL'\nhome_terminal = '$ZTN0.#PTY1'\nexists = false") +
    process("cpu = 9\npin = 1\nprogram = '$SYSTEM.SYS01.FUP'\nhome_terminal = '$ZTN0.#PTY2'\nmom = \"9,2\"") +
    process("cpu = 9\npin = 2\nprogram = '$SYSTEM.SYS01.TACL'\nhome_terminal = '$TC1'\nmom = \"9,3\"") +
    process("cpu = 9\npin = 3\nprogram = '$SYSTEM.SYS01.TACL'\nhome_terminal = '$ZTN0.#PTY1'\nexists = false") +
    process("cpu = 10\npin = 1\nprogram = '$SYSTEM.SYS01.FUP'\nhome_terminal = '$TC1'\nmom = \"10,2\"") +
    process("cpu = 10\npin = 2\nprogram = '$SYSTEM.SYS01.TACL'\nhome_terminal = '$ZTN0.#PTY1'\ninject = { PROCESS_GETINFO_ = 11 }") +
    process("cpu = 11\npin = 1\nprogram = '$SYSTEM.SYS01.FUP'\nhome_terminal = '$TC1'\nmom = \"11,2\"") +
    process("cpu = 11\npin = 2\nprogram = '$SYSTEM.SYS01.TACL'\nhome_terminal = '$ZTN0.#NUL'") +
    process("cpu = 12\npin = 1\nprogram = '$SYSTEM.SYS01.FUP'\nhome_terminal = '$TC1'\nmom = \"12,2\"") +
    process("cpu = 12\npin = 2\nprogram = '$SYSTEM.SYS01.TACL'\nhome_terminal = '$TC1'\nmom = \"12,1\"") +
    process("cpu = 13\npin = 1\nprogram = '$SYSTEM.SYS01.FUP'\nhome_terminal = '$TC1'\nmom = \"13,2\"") +
    process("cpu = 13\npin = 2\nprogram = '$SYSTEM.SYS01.TACL'\nhome_terminal = '$TC1'\nmom = \"13,3\"") +
    process("cpu = 13\npin = 3\nprogram = '$SYSTEM.SYS01.TACL'\nhome_terminal = '$TC1'\nmom = \"13,2\"") +
    process("cpu = 14\npin = 1\nprogram = '$SYSTEM.SYS01.FUP'\nhome_terminal = '$TC1'\nmom = \"14,2\"") +
    process("cpu = 14\npin = 2\nprogram = '$SYSTEM.SYS01.TACL'\nhome_terminal = '$ZTN0.#PTY1'");

void install(const std::string& extra = "") {
  std::string error;
  auto node = node::load_node_text(TREE + extra, "ancestry", &error);
  ASSERT_TRUE(node) << error;
  node::set_current(std::move(*node));
}

// The handle of a process as an attribute of a process: its own (48) or its mom's (40).
PHANDLE attribute_handle(int cpu, int pin, INT attribute) {
  INT values[10];
  INT length = 0;
  PHANDLE handle;
  PROCESSHANDLE_NULLIT_(&handle);
  if (PROCESS_GETINFOLIST_(cpu, pin, nullptr, 0, nullptr, &attribute, 1, values, 10, &length) ==
      0) {
    std::memcpy(&handle, values, sizeof handle);
  }
  return handle;
}

PHANDLE handle_of(int cpu, int pin) { return attribute_handle(cpu, pin, ATTR_PROCESS_HANDLE); }

// "cpu,pin" of a handle, or "null".
std::string describe(const PHANDLE& handle) {
  PHANDLE null_handle;
  PROCESSHANDLE_NULLIT_(&null_handle);
  if (PROCESSHANDLE_COMPARE_(&handle, &null_handle) == 2) return "null";
  INT cpu = -1;
  INT pin = -1;
  PROCESSHANDLE_DECOMPOSE_(&handle, &cpu, &pin);
  return std::to_string(cpu) + "," + std::to_string(pin);
}

int spi_opens() {
  int count = 0;
  for (INT f = 0; f < 256; ++f) {
    char name[40];
    INT length = 0;
    INT last = 0;
    if (FILE_GETINFO_(f, &last, name, sizeof name, &length) == 0 &&
        std::string_view(name, static_cast<size_t>(length)).ends_with("#ZSPI")) {
      ++count;
    }
  }
  return count;
}

void close_all() {
  for (INT f = 0; f < 256; ++f) FILE_CLOSE_(f);
}

class Ancestry : public testing::Test {
 protected:
  void SetUp() override { install(); }
  void TearDown() override { close_all(); }
};

struct AncestorCase {
  int cpu, pin;
  INT result;
  const char* ancestor;
};

TEST_F(Ancestry, AncestorOfEachKindOfProcess) {
  static constexpr AncestorCase cases[] = {
      {0, 40, 0, "null"},    // named, no ancestor
      {0, 41, -1, "0,40"},   // named: the pair table's ancestor
      {2, 10, -1, "0,41"},   // unnamed: the mom
      {2, 11, 0, "null"},    // unnamed without a mom
      {2, 12, -1, "2,13"},   // the mom is gone: its handle all the same
      {3, 22, -1, "0,40"},   // OSS, parent pid 1, ancestor gone: the mom
      {3, 23, -1, "3,25"},   // OSS, parent pid 600, ancestor gone: the OSS parent
      {3, 26, -1, "0,41"},   // OSS whose ancestor still exists: it stands
      {3, 27, -1, "3,24"},   // OSS parent pid names no process: the gone ancestor stands
      {3, 28, -1, "0,40"},   // unnamed OSS whose mom exists
      {4, 2, 0, "null"},     // return codes 2, 3, 12: the debugger, then none
      {4, 3, 0, "null"},
      {4, 12, 0, "null"},
      {4, 4, -1, "0,40"},    // 4, 5, 6: information with remarks
      {4, 5, -1, "0,40"},
      {4, 6, -1, "0,40"},
      {4, 7, -1, "0,40"},    // 7: the mom from the process's own attributes
      {4, 8, 0, "null"},     // 7, and the attributes cannot be had
      {4, 9, 0, "null"},
      {4, 1, 0, "null"},
      {2, 13, 0, "null"},    // a gone process has no pair information
  };
  for (const AncestorCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "process " << c.cpu << "," << c.pin);
    // 4,8 answers no attribute query and 2,13 is gone: their handles come from their children.
    const PHANDLE process = c.cpu == 4 && c.pin == 8    ? attribute_handle(4, 80, ATTR_MOM)
                            : c.cpu == 2 && c.pin == 13 ? attribute_handle(2, 12, ATTR_MOM)
                                                        : handle_of(c.cpu, c.pin);
    ASSERT_NE(describe(process), "null");
    PHANDLE ancestor = handle_of(1, 201);
    EXPECT_EQ(ANCESTOR(&process, &ancestor), c.result);
    EXPECT_EQ(describe(ancestor), c.ancestor);
  }
}

TEST_F(Ancestry, AncestorInPlaceClimbsTheChain) {
  PHANDLE handle = handle_of(2, 10);
  EXPECT_EQ(ANCESTOR(&handle, &handle), -1);
  EXPECT_EQ(describe(handle), "0,41");
  EXPECT_EQ(ANCESTOR(&handle, &handle), -1);
  EXPECT_EQ(describe(handle), "0,40");
  EXPECT_EQ(ANCESTOR(&handle, &handle), 0);
  EXPECT_EQ(describe(handle), "null");
}

TEST_F(Ancestry, NullHandleIsThisProcess) {
  PHANDLE handle;
  PROCESSHANDLE_NULLIT_(&handle);
  EXPECT_EQ(ANCESTOR(&handle, &handle), -1);
  EXPECT_EQ(describe(handle), "5,2");
}

TEST_F(Ancestry, HandleOfNoProcess) {
  PHANDLE garbage;
  std::memset(&garbage, 0, sizeof garbage);
  PHANDLE ancestor;
  EXPECT_EQ(ANCESTOR(&garbage, &ancestor), 0);
  EXPECT_EQ(describe(ancestor), "null");
}

struct TraceCase {
  int cpu, pin;  // -1: parameter 1 omitted (this process)
  INT max;
  INT result;
  const char* address;
  int spi_opens;
};

TEST_F(Ancestry, TraceResultRows) {
  static constexpr TraceCase cases[] = {
      {7, 1, 20, 1, "127.0.0.1", 0},    // no ancestor
      {7, 1, 4, 1, "127.", 0},
      {7, 1, 0, 1, "", 0},
      {5, 1, 20, 0, "192.0.2.17", 1},   // the second ancestor sits at a Telnet window
      {5, 1, 6, 0, "192.0.", 1},
      {-1, -1, 20, 0, "192.0.2.17", 1}, // this process: its mom is 5,2
      {6, 1, 20, 0, "127.0.0.1", 0},    // NETBATCH, even from a Telnet window
      {6, 1, 4, 0, "127.", 0},
      {8, 1, 20, 0, "10.8.8.8", 1},     // first ancestor gone: the start's own window
      {9, 1, 20, 4, "~", 0},            // a later ancestor gone: error 4
      {10, 1, 20, 11, "~", 0},          // another error of PROCESS_GETINFO_
      {11, 1, 20, 0, "", 1},            // the address field begins with a NUL byte
      {12, 1, 20, 1, "127.0.0.1", 0},   // a cycle through the start
      {13, 1, 20, 1, "127.0.0.1", 0},   // a cycle above the start
  };
  for (const TraceCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "process " << c.cpu << "," << c.pin << " max " << c.max);
    const PHANDLE start = c.cpu < 0 ? PHANDLE{} : handle_of(c.cpu, c.pin);
    char address[20];
    std::fill(std::begin(address), std::end(address), '~');
    INT length = -7;
    const INT close = 1;
    EXPECT_EQ(TRACETOMYIPADDRESS(c.cpu < 0 ? nullptr : &start, address, &c.max, &length), c.result);
    const std::string got = length < 0 ? "~" : std::string(address, static_cast<size_t>(length));
    EXPECT_EQ(got, c.address);
    EXPECT_EQ(spi_opens(), c.spi_opens);
    EXPECT_EQ(TRACETOMYIPADDRESS(c.cpu < 0 ? nullptr : &start, address, &c.max, &length, &close),
              c.result);
    EXPECT_EQ(spi_opens(), c.spi_opens);  // the open of the first call was found, not closed
    close_all();
  }
}

TEST_F(Ancestry, CloseFlagClosesTheSpiFileThisCallOpened) {
  const PHANDLE start = handle_of(5, 1);
  char address[20];
  INT length = 0;
  const INT max = 20;
  const INT close = 1;
  EXPECT_EQ(TRACETOMYIPADDRESS(&start, address, &max, &length, &close), 0);
  EXPECT_EQ(spi_opens(), 0);
}

TEST_F(Ancestry, SpiFileOpenedByTheWalkServesTheWindowQuery) {
  const PHANDLE start = handle_of(5, 1);
  char address[20];
  INT length = 0;
  const INT max = 20;
  ASSERT_EQ(TRACETOMYIPADDRESS(&start, address, &max, &length), 0);
  ASSERT_EQ(spi_opens(), 1);
  const std::string_view window = "$ZTN0.#PTY1";
  const INT window_length = static_cast<INT>(window.size());
  const INT close = 1;
  INT type = 0;
  EXPECT_EQ(GETWINADDR(window.data(), &window_length, address, &max, &length, &type, &close), 0);
  EXPECT_EQ(std::string(address, static_cast<size_t>(length)), "192.0.2.17");
  EXPECT_EQ(spi_opens(), 1);
}

TEST_F(Ancestry, PatternListMakesAProgramLocal) {
  const PHANDLE start = handle_of(14, 1);
  char address[20];
  INT length = 0;
  const INT max = 20;
  const char tacl[] = "\x11$SYSTEM.SYS*.TACL";
  EXPECT_EQ(TRACETOMYIPADDRESS(&start, address, &max, &length, nullptr, tacl, sizeof tacl), 0);
  EXPECT_EQ(std::string(address, static_cast<size_t>(length)), "127.0.0.1");
  EXPECT_EQ(spi_opens(), 0);
  const char other[] = "\x0b\\BETA.*.TACL";
  EXPECT_EQ(TRACETOMYIPADDRESS(&start, address, &max, &length, nullptr, other, sizeof other), 0);
  EXPECT_EQ(std::string(address, static_cast<size_t>(length)), "192.0.2.17");
}

TEST(AncestryLimits, SilentControlPointGivesClass8Error40) {
  install("\n[spi]\nsilent = true\n");
  const PHANDLE start = handle_of(5, 1);
  char address[20];
  INT length = -7;
  const INT max = 20;
  const INT close = 1;
  EXPECT_EQ(TRACETOMYIPADDRESS(&start, address, &max, &length, &close), -32728);
  EXPECT_EQ(length, -7);
  EXPECT_EQ(spi_opens(), 0);
  close_all();
}

// Injected results run in a fresh process each, since the platform counts calls per process.
struct FaultCase {
  const char* procedure;
  int call;
  int error;
  INT result;
};

constexpr INT coded(int error_class, int error) {
  return static_cast<INT>(static_cast<std::uint16_t>((error_class << 12) | (error & 0xFFF)));
}

[[noreturn]] void trace_with_fault(const FaultCase& c) {
  install("\n[[fault]]\nprocedure = \"" + std::string(c.procedure) + "\"\ncall = " +
          std::to_string(c.call) + "\nerror = " + std::to_string(c.error) + "\n");
  const PHANDLE start = handle_of(5, 1);
  char address[20];
  INT length = 0;
  const INT max = 20;
  const INT close = 1;
  const INT result = TRACETOMYIPADDRESS(&start, address, &max, &length, &close);
  std::fprintf(stderr, "result=%d opens=%d;", result, spi_opens());
  std::exit(0);
}

TEST(AncestryFaults, ClassesNumberedFromOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  static constexpr FaultCase cases[] = {
      {"FILE_OPEN_", 1, 14, 14},
      {"FILE_OPEN_", 1, 8206, 14},  // modulo 8192, without a class
      {"FILENAME_TO_OLDFILENAME_", 1, 13, coded(1, 13)},
      {"SSINIT", 1, -8, coded(2, -8)},
      {"SSPUTTKN", 1, 3, coded(3, 3)},
      {"SSPUTTKN", 2, 4, coded(4, 4)},
      {"SSPUTTKN", 3, 5, coded(5, 5)},
      {"SSPUTTKN", 4, 6, coded(6, 6)},
      {"SSGETTKN", 1, 7, coded(7, 7)},
      {"WRITEREADX", 1, 201, coded(8, 201)},
      {"SSPUTTKN", 5, 9, coded(9, 9)},
      {"SSPUTTKN", 6, 10, coded(10, 10)},
      {"SSGET", 1, 11, coded(11, 11)},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.procedure << " call " << c.call);
    const std::string expected = "result=" + std::to_string(c.result) + " opens=0;";
    EXPECT_EXIT(trace_with_fault(c), testing::ExitedWithCode(0), expected);
  }
}

}  // namespace
}  // namespace nsk
