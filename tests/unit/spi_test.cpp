// SPI buffers and the simulated Telnet server behind the node's control point: a request built
// with SSINIT and SSPUTTKN as the library builds it, sent with WRITEREADX, completed by
// AWAITIOX and read with SSGET; wrongly built requests get no window record.
#include "platform/spi.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>

#include "platform/filesystem.h"
#include "platform/names.h"
#include "platform/node.h"

namespace nsk {
namespace {

constexpr INT32 TKN_WINDOW_NAME = 0x01FF2706;
constexpr INT32 TKN_SERVER_NAME = 0x1920FF0D;
constexpr INT32 TKN_MINUS_TWO = 0x0B0226FD;
constexpr INT32 TKN_ZERO = 0x0202FE0A;
constexpr INT WINDOW_MAP[14] = {0x08FF, 0x000C, 0x01C6, 0x4315, 0x4600, 0x0001, 0x4418,
                                static_cast<INT>(0xA000), 0x0001, 0x441E, 0x2A00, 0x0001, 0x4706,
                                static_cast<INT>(0xB600)};
constexpr int BUFFER_BYTES = 900;

struct Ssid {
  char owner[8] = {'T', 'A', 'N', 'D', 'E', 'M', ' ', ' '};
  INT number = 91;
  INT version = 0x4801;
};

struct VariableName {
  INT length;
  char bytes[36];
};

// What a request may get wrong.
struct Request {
  Ssid ssid;
  INT header_type = 0, command = 3, object_type = 25, max_field_version = 1;
  std::string window = "$ZTN0.#PTY1";
  INT32 window_token = TKN_WINDOW_NAME;
  std::string node_name = "\\ALPHA";
  INT minus_two = -2, zero = 0;
  bool with_zero = true;
};

node::Node telnet_node() {
  node::Node n;
  n.name = "\\ALPHA";
  n.time_scale = 0.001;
  node::Destination ztn;
  ztn.name = "$ZTN0";
  ztn.device_type = node::DEVICE_TELNET;
  node::Terminal pty;
  pty.name = "#PTY1";
  pty.address = "192.0.2.17";
  pty.port = "50123";
  pty.address2 = "10.1.2.3";
  pty.port2 = "23";
  node::Terminal raw;
  raw.name = "#RAW";
  raw.address_field_raw = std::string("\0\0\0" "1.2.3.4 80", 13);
  ztn.terminals = {pty, raw};
  node::Destination tc;
  tc.name = "$TC1";
  tc.terminals = {node::Terminal{}};
  n.destinations = {ztn, tc};
  return n;
}

class Spi : public ::testing::Test {
 protected:
  void SetUp() override { node::set_current(telnet_node()); }
  void TearDown() override {
    for (INT f = 0; f < 16; ++f) FILE_CLOSE_(f);
  }

  // Builds the request as the library does; the used length.
  INT build(const Request& r) {
    EXPECT_EQ(SSINIT(buffer_, BUFFER_BYTES, reinterpret_cast<const INT*>(&r.ssid), r.header_type,
                     r.command, r.object_type, r.max_field_version),
              0);
    VariableName name{static_cast<INT>(r.window.size()), {}};
    std::memcpy(name.bytes, r.window.data(), r.window.size());
    EXPECT_EQ(SSPUTTKN(buffer_, r.window_token, &name), 0);
    char internal[24];
    EXPECT_EQ(FILENAME_TO_OLDFILENAME_(r.window.data(), static_cast<INT>(r.window.size()),
                                       internal),
              0);
    std::string server = r.node_name;
    server.resize(8, ' ');
    server += std::string(internal, 8) + std::string(16, ' ');
    EXPECT_EQ(SSPUTTKN(buffer_, TKN_SERVER_NAME, server.data()), 0);
    EXPECT_EQ(SSPUTTKN(buffer_, TKN_MINUS_TWO, &r.minus_two), 0);
    if (r.with_zero) {
      EXPECT_EQ(SSPUTTKN(buffer_, TKN_ZERO, &r.zero), 0);
    }
    INT used = 0;
    EXPECT_EQ(SSGETTKN(buffer_, ZSPI_TKN_USEDLEN, &used, 2), 0);
    return used;
  }

  // Sends the buffer on a nowait open of the control point; the exchange's error.
  INT exchange(INT used, INT32 limit = 3000) {
    if (spi_file_ < 0) {
      EXPECT_EQ(FILE_OPEN_("\\ALPHA.$ZNET.#ZSPI", 18, &spi_file_, {}, {}, 1), 0);
    }
    EXPECT_EQ(WRITEREADX(spi_file_, reinterpret_cast<char*>(buffer_), used, BUFFER_BYTES), 0);
    INT fnum = spi_file_;
    INT count = 0;
    AWAITIOX(&fnum, &count, nullptr, limit);
    INT error = -1;
    EXPECT_EQ(FILE_GETINFO_(spi_file_, &error), 0);
    return error;
  }

  // Prepares the reply for reading as the library does, then takes the record.
  INT take_record() {
    std::memset(record_, 0, sizeof record_);
    buffer_[1] = BUFFER_BYTES;
    const INT length = BUFFER_BYTES;
    EXPECT_EQ(SSPUTTKN(buffer_, ZSPI_TKN_BUFLEN, &length), 0);
    const INT zero = 0;
    EXPECT_EQ(SSPUTTKN(buffer_, ZSPI_TKN_RESET_BUFFER, &zero), 0);
    return SSGET(buffer_, WINDOW_MAP, record_, sizeof record_, 1);
  }

  std::string field(int offset) const { return std::string(record_ + offset, 40); }

  INT buffer_[BUFFER_BYTES / 2] = {};
  char record_[BUFFER_BYTES] = {};
  INT spi_file_ = -1;
};

std::string blank_padded(std::string text) {
  text.resize(40, ' ');
  return text;
}

TEST_F(Spi, WindowRecordComesBackForARequestBuiltRight) {
  ASSERT_EQ(exchange(build({})), 0);
  ASSERT_EQ(take_record(), 0);
  EXPECT_EQ(field(190), blank_padded("192.0.2.17 50123"));
  EXPECT_EQ(field(150), blank_padded("10.1.2.3 23"));
  INT retcode = -1;
  EXPECT_EQ(SSGETTKN(buffer_, ZSPI_TKN_RETCODE, &retcode, 2), 0);
  EXPECT_EQ(retcode, 0);
  // Nothing of the record reaches beyond its 454 bytes.
  for (int i = 454; i < BUFFER_BYTES; ++i) ASSERT_EQ(record_[i], 0) << i;
}

TEST_F(Spi, RawFieldIsGivenAsTheNodeHasIt) {
  Request r;
  r.window = "$ZTN0.#RAW";
  ASSERT_EQ(exchange(build(r)), 0);
  ASSERT_EQ(take_record(), 0);
  EXPECT_EQ(field(190), std::string("\0\0\0" "1.2.3.4 80", 13) + std::string(27, '\0'));
  EXPECT_EQ(field(150), std::string(40, ' '));
}

TEST_F(Spi, SecondRequestOnTheSameOpenIsServedToo) {
  ASSERT_EQ(exchange(build({})), 0);
  ASSERT_EQ(take_record(), 0);
  ASSERT_EQ(exchange(build({})), 0);
  ASSERT_EQ(take_record(), 0);
  EXPECT_EQ(field(190), blank_padded("192.0.2.17 50123"));
}

struct WrongRequest {
  const char* what;
  std::function<void(Request*)> spoil;
  INT retcode;
};

TEST_F(Spi, WronglyBuiltRequestGetsNoRecord) {
  const WrongRequest CASES[] = {
      {"ssid owner", [](Request* r) { r->ssid.owner[0] = 'X'; }, 2},
      {"ssid subsystem", [](Request* r) { r->ssid.number = 92; }, 2},
      {"ssid version", [](Request* r) { r->ssid.version = 0x4802; }, 2},
      {"header type", [](Request* r) { r->header_type = 1; }, 3},
      {"command", [](Request* r) { r->command = 4; }, 3},
      {"object type", [](Request* r) { r->object_type = 24; }, 3},
      {"max field version", [](Request* r) { r->max_field_version = 0; }, 3},
      {"window token code", [](Request* r) { r->window_token = 0x01FF2707; }, 7},
      {"window of no Telnet server", [](Request* r) { r->window = "$TC1"; }, 4},
      {"window not on the node", [](Request* r) { r->window = "$ZTN0.#PTY9"; }, 4},
      {"server name", [](Request* r) { r->node_name = "\\BETA"; }, 5},
      {"value -2", [](Request* r) { r->minus_two = -1; }, 6},
      {"value 0", [](Request* r) { r->zero = 1; }, 6},
      {"missing token", [](Request* r) { r->with_zero = false; }, 6},
  };
  for (const WrongRequest& c : CASES) {
    SCOPED_TRACE(c.what);
    Request r;
    c.spoil(&r);
    ASSERT_EQ(exchange(build(r)), 0);
    EXPECT_EQ(take_record(), spierr::TOKEN_NOT_FOUND);
    INT retcode = -1;
    EXPECT_EQ(SSGETTKN(buffer_, ZSPI_TKN_RETCODE, &retcode, 2), 0);
    EXPECT_EQ(retcode, c.retcode);
    EXPECT_EQ(std::string(record_, 454), std::string(454, '\0'));
  }
}

TEST_F(Spi, ReplyCutToAShortReadCountCarriesNoRecord) {
  ASSERT_EQ(FILE_OPEN_("$ZNET.#ZSPI", 11, &spi_file_, {}, {}, 1), 0);
  for (const INT read_count : {INT{100}, INT{10}}) {
    SCOPED_TRACE(read_count);
    const INT used = build({});
    char* bytes = reinterpret_cast<char*>(buffer_);
    std::memset(bytes + read_count, 'x', static_cast<size_t>(BUFFER_BYTES - read_count));
    ASSERT_EQ(WRITEREADX(spi_file_, bytes, used, read_count), 0);
    INT fnum = spi_file_, count = 0;
    ASSERT_EQ(AWAITIOX(&fnum, &count, nullptr, 3000), 0);
    EXPECT_LE(count, read_count);
    EXPECT_EQ(bytes[read_count], 'x');
    if (read_count >= 32) {
      EXPECT_EQ(take_record(), spierr::TOKEN_NOT_FOUND);
    } else {
      EXPECT_EQ(SSGET(buffer_, WINDOW_MAP, record_, sizeof record_), spierr::INVALID_BUFFER);
    }
  }
}

class SpiNode : public Spi {
 protected:
  void with(node::Spi spi) {
    node::Node n = telnet_node();
    n.spi = spi;
    node::set_current(n);
  }
};

TEST_F(SpiNode, SilentControlPointLetsTheLimitExpireAndTheFileServesAgain) {
  with({0, true, 0});
  const INT used = build({});
  EXPECT_EQ(exchange(used, 3000), 40);
  EXPECT_EQ(take_record(), spierr::TOKEN_NOT_FOUND);
  with({0, false, 0});
  ASSERT_EQ(exchange(build({})), 0);
  EXPECT_EQ(take_record(), 0);
}

TEST_F(SpiNode, ExchangeErrorEndsTheExchange) {
  with({0, false, 201});
  EXPECT_EQ(exchange(build({})), 201);
}

TEST_F(SpiNode, DelayIsSpentInTheWait) {
  node::Node n = telnet_node();
  n.time_scale = 1.0;
  n.spi.delay_cs = 3;
  node::set_current(n);
  const INT used = build({});
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(exchange(used), 0);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(25));
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_EQ(take_record(), 0);
}

TEST(SpiBuffer, HeaderAndTokens) {
  INT buffer[40] = {};
  const Ssid ssid;
  EXPECT_EQ(SSINIT(buffer, 31, reinterpret_cast<const INT*>(&ssid), 0, 3), spierr::BUFFER_FULL);
  ASSERT_EQ(SSINIT(buffer, sizeof buffer, reinterpret_cast<const INT*>(&ssid), 0, 3), 0);
  EXPECT_EQ(buffer[1], 80);
  const INT one = 1, two = 2;
  ASSERT_EQ(SSPUTTKN(buffer, 0x0202AAAA, &one), 0);
  ASSERT_EQ(SSPUTTKN(buffer, 0x0202AAAA, &two), 0);
  INT used = 0;
  ASSERT_EQ(SSGETTKN(buffer, ZSPI_TKN_USEDLEN, &used, 2), 0);
  EXPECT_EQ(used, 32 + 6 + 6);
  INT value = 0;
  ASSERT_EQ(SSGETTKN(buffer, 0x0202AAAA, &value, 2, 2), 0);
  EXPECT_EQ(value, 2);
  EXPECT_EQ(SSGETTKN(buffer, 0x0202AAAA, &value, 2, 3), spierr::TOKEN_NOT_FOUND);
  EXPECT_EQ(SSGETTKN(buffer, 0x0202AAAA, &value, 1), spierr::ILLEGAL_PARAM);
  // 80 - 44 = 36 bytes left: a counted value of 30 bytes takes 4 + 2 + 30.
  const VariableName fits{30, {}};
  ASSERT_EQ(SSPUTTKN(buffer, 0x01FF0001, &fits), 0);
  EXPECT_EQ(SSPUTTKN(buffer, 0x0202AAAA, &one), spierr::BUFFER_FULL);
  EXPECT_EQ(buffer[2], 80);
  const INT small = 40;
  EXPECT_EQ(SSPUTTKN(buffer, ZSPI_TKN_BUFLEN, &small), spierr::ILLEGAL_PARAM);
  INT garbage[40] = {};
  EXPECT_EQ(SSPUTTKN(garbage, 0x0202AAAA, &one), spierr::INVALID_BUFFER);
  EXPECT_EQ(SSGET(garbage, WINDOW_MAP, &value, 2), spierr::INVALID_BUFFER);
}

TEST(SpiBuffer, SsgetCutsTheRecordToTheValueArea) {
  INT buffer[300] = {};
  const Ssid ssid;
  ASSERT_EQ(SSINIT(buffer, sizeof buffer, reinterpret_cast<const INT*>(&ssid), 0, 3), 0);
  struct {
    INT length = 454;
    char bytes[454];
  } record;
  for (int i = 0; i < 454; ++i) record.bytes[i] = static_cast<char>('A' + i % 26);
  ASSERT_EQ(SSPUTTKN(buffer, 0x08FF000C, &record), 0);
  char value[12];
  std::memset(value, '-', sizeof value);
  ASSERT_EQ(SSGET(buffer, WINDOW_MAP, value, 10), 0);
  EXPECT_EQ(std::string(value, 12), "ABCDEFGHIJ--");
  const INT not_a_map[3] = {0x0802, 0x000C, 454};
  EXPECT_EQ(SSGET(buffer, not_a_map, value, 10), spierr::ILLEGAL_TOKEN);
}

}  // namespace
}  // namespace nsk
