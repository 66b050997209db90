// Fuzz target: an SPI reply as the library reads it.  The input is the 900-byte reply buffer
// (zero-filled past the input).  First the library's own reading steps: the header made whole
// (buffer length, reset), SSGET of the window record with the Telnet server's token map, SSGETTKN
// of the used length and of a token the input names; then the field extraction of GETWINADDR:
// the record's two 40-byte text fields, as the node's Telnet server puts them in its reply,
// taken apart by GETWINADDR with the port after each.  Buffers are heap blocks of exactly their
// size, so a read or write past one shows under AddressSanitizer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "addrlib/spirequest.h"
#include "addrlib/winaddr.h"
#include "platform/node.h"
#include "platform/spi.h"

namespace fuzz_spireply {

constexpr char NODE[] = R"(
[node]
name = '\FUZZ'
[self]
cpu = 1
pin = 201
program = '$SYSTEM.NETLOC.NETLOC'
home_terminal = '$ZTN0.#PTY1'
[[process]]
name = "$ZTN0"
program = '$SYSTEM.SYS01.TELSERV'
[[destination]]
name = "$ZTN0"
device_type = 46
terminal = [ { name = "#PTY1", address = "192.0.2.1", port = 23 } ]
)";

constexpr char WINDOW[] = "\\FUZZ.$ZTN0.#PTY1";
constexpr int FIELD = nsk::WINDOW_FIELD_LENGTH;

nsk::node::Node& node() {
  static nsk::node::Node loaded = [] {
    std::string error;
    auto n = nsk::node::load_node_text(NODE, "fuzz-spireply", &error);
    if (!n) abort();
    return *n;
  }();
  return loaded;
}

// The reading steps of the library over the reply; the record lands in value_area.
bool read_reply(nsk::INT* buffer, char* value_area) {
  buffer[1] = nsk::SPI_BUFFER_BYTES;
  const nsk::INT buffer_length = nsk::SPI_BUFFER_BYTES;
  const nsk::INT zero = 0;
  if (nsk::SSPUTTKN(buffer, nsk::ZSPI_TKN_BUFLEN, &buffer_length) != 0) return false;
  if (nsk::SSPUTTKN(buffer, nsk::ZSPI_TKN_RESET_BUFFER, &zero) != 0) return false;
  return nsk::SSGET(buffer, nsk::WINDOW_TOKEN_MAP, value_area, nsk::SPI_VALUE_AREA_BYTES, 1) == 0;
}

// SSGETTKN, after the header was made whole, of the used length and of the token whose code,
// index and room the input's first eight bytes name.
void read_tokens(nsk::INT* buffer, const std::uint8_t* data, std::size_t size) {
  nsk::INT used = 0;
  if (nsk::SSGETTKN(buffer, nsk::ZSPI_TKN_USEDLEN, &used, sizeof used) == 0 &&
      (used < 32 || used > nsk::SPI_BUFFER_BYTES)) {
    abort();
  }
  if (size < 8) return;
  const std::int32_t code = static_cast<std::int32_t>(
      (std::uint32_t{data[0]} << 24) | (data[1] << 16) | (data[2] << 8) | data[3]);
  const nsk::INT index = static_cast<nsk::INT>(data[4] % 4);
  const nsk::INT room = static_cast<nsk::INT>(((data[5] << 8) | data[6]) % 1024);
  const std::unique_ptr<char[]> value(new char[static_cast<std::size_t>(room)]);
  nsk::SSGETTKN(buffer, code, value.get(), room, index);
}

// The text of a field as the library's description has it: after leading NUL bytes, up to the
// first blank or NUL; then, after one separator byte, the port's decimal digits.
struct Expected {
  std::string text, port;
};

Expected expected_field(const char* raw, int port_max) {
  int first = 0;
  while (first < FIELD && raw[first] == '\0') ++first;
  if (first == FIELD) return {};
  char bytes[FIELD + 2] = {};
  std::memcpy(bytes, raw + first, static_cast<std::size_t>(FIELD - first));
  int end = 0;
  while (bytes[end] != ' ' && bytes[end] != '\0') ++end;
  Expected e{std::string(bytes, static_cast<std::size_t>(end)), ""};
  for (int k = end + 1; k < FIELD + 2 && k <= end + port_max && bytes[k] >= '0' && bytes[k] <= '9'; ++k) {
    e.port += bytes[k];
  }
  return e;
}

void check(const char* out, nsk::INT length, const std::string& expected, nsk::INT max) {
  const std::size_t n = std::min<std::size_t>(expected.size(), static_cast<std::size_t>(max));
  if (length != static_cast<nsk::INT>(n) || std::memcmp(out, expected.data(), n) != 0) abort();
}

// GETWINADDR over a window whose record carries the two fields of raw.
void extract_fields(const char* address_raw, const char* address2_raw, nsk::INT max) {
  nsk::node::Terminal& window = node().destinations[0].terminals[0];
  window.address_field_raw = std::string(address_raw, FIELD);
  window.address2_field_raw = std::string(address2_raw, FIELD);
  nsk::node::set_current(node());

  const std::size_t room = static_cast<std::size_t>(max);
  std::unique_ptr<char[]> out[4];
  nsk::INT length[4] = {-7, -7, -7, -7};
  for (auto& o : out) o.reset(new char[room]);
  nsk::INT devicetype = -7;
  const nsk::INT name_length = sizeof WINDOW - 1;
  const nsk::INT close = 1;
  const nsk::INT result = nsk::GETWINADDR(WINDOW, &name_length, out[0].get(), &max, &length[0],
                                          &devicetype, &close, out[1].get(), &max, &length[1],
                                          out[2].get(), &max, &length[2], out[3].get(), &max,
                                          &length[3]);
  if (result != 0 || devicetype != 46) abort();
  const Expected first = expected_field(address_raw, max);
  const Expected second = expected_field(address2_raw, max);
  check(out[0].get(), length[0], first.text, max);
  check(out[1].get(), length[1], first.port, max);
  check(out[2].get(), length[2], second.text, max);
  check(out[3].get(), length[3], second.port, max);
}

}  // namespace fuzz_spireply

#ifndef NETLOC_FUZZ_ENTRY
#define NETLOC_FUZZ_ENTRY LLVMFuzzerTestOneInput
#endif

extern "C" int NETLOC_FUZZ_ENTRY(const std::uint8_t* data, std::size_t size) {
  using namespace fuzz_spireply;
  if (size > nsk::SPI_BUFFER_BYTES) return 0;
  const std::unique_ptr<nsk::INT[]> buffer(new nsk::INT[nsk::SPI_BUFFER_BYTES / 2]());
  std::memcpy(buffer.get(), data, size);
  const std::unique_ptr<char[]> value_area(new char[nsk::SPI_VALUE_AREA_BYTES]());
  const bool record = read_reply(buffer.get(), value_area.get());
  read_tokens(buffer.get(), data, size);
  if (!record) {
    // No record came back: the fields are taken from the raw bytes, so they are fuzzed too.
    std::memcpy(value_area.get(), data, size);
  }
  const nsk::INT max = static_cast<nsk::INT>(size > 0 ? data[size - 1] % 24 : 20);
  extract_fields(value_area.get() + nsk::WINDOW_ADDRESS_OFFSET,
                 value_area.get() + nsk::WINDOW_ADDRESS2_OFFSET, max);
  return 0;
}
