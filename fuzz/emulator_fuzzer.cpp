// Fuzz target: the emulator's reply as GETMACHINEUSER reads it.  The terminal's scripted emulator
// answers the query with the input's bytes.  Input: one byte of options (bit 0 drain pending
// input first, bits 1-2 reads that complete empty before the reply, bit 3 some pending input),
// one byte giving the fields' capacity (0 to 31), then the reply.  Each field buffer is a heap
// block of exactly its capacity, so a write past it shows under AddressSanitizer.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "addrlib/emulator.h"
#include "platform/node.h"

namespace fuzz_emulator {

// Waits last a ten-thousandth of their time: a wait of 1 is a microsecond.
constexpr char NODE[] = R"(
[node]
name = '\FUZZ'
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
[[destination.terminal]]
name = "#FUZZ"
emulator = { reply = "-" }
)";

constexpr char TERMINAL[] = "$ZTN0.#FUZZ";
constexpr int FIELDS = 6;
constexpr nsk::INT UNTOUCHED = -7;

nsk::node::Node& node() {
  static nsk::node::Node loaded = [] {
    std::string error;
    auto n = nsk::node::load_node_text(NODE, "fuzz-emulator", &error);
    if (!n) abort();
    n->time_scale = 0.0001;
    return *n;
  }();
  return loaded;
}

nsk::node::Emulator& emulator() { return node().destinations[0].terminals[1].emulator; }

}  // namespace fuzz_emulator

#ifndef NETLOC_FUZZ_ENTRY
#define NETLOC_FUZZ_ENTRY LLVMFuzzerTestOneInput
#endif

extern "C" int NETLOC_FUZZ_ENTRY(const std::uint8_t* data, std::size_t size) {
  using namespace fuzz_emulator;
  if (size < 2) return 0;
  const unsigned options = data[0];
  const nsk::INT capacity = static_cast<nsk::INT>(data[1] % 32);
  emulator().reply.assign(reinterpret_cast<const char*>(data) + 2, size - 2);
  emulator().empty_reads = static_cast<int>((options >> 1) & 3);
  emulator().pending_input = (options & 8) != 0 ? "pending" : "";
  nsk::node::set_current(node());

  std::unique_ptr<char[]> buffer[FIELDS];
  nsk::INT length[FIELDS];
  for (int k = 0; k < FIELDS; ++k) {
    buffer[k].reset(new char[static_cast<std::size_t>(capacity)]);
    length[k] = UNTOUCHED;
  }
  nsk::INT64 response_time = -5;
  const std::optional<nsk::INT> drain =
      (options & 1) != 0 ? std::optional<nsk::INT>(1) : std::nullopt;
  const nsk::INT result = nsk::GETMACHINEUSER(
      TERMINAL, sizeof TERMINAL - 1, buffer[0].get(), capacity, &length[0], buffer[1].get(),
      capacity, &length[1], buffer[2].get(), capacity, &length[2], buffer[3].get(), capacity,
      &length[3], buffer[4].get(), capacity, &length[4], buffer[5].get(), capacity, &length[5], 1,
      drain, drain ? nullptr : &response_time);

  // A recognised reply stores every field; anything else stores none.  Pending input that is
  // not drained is what the query's read gets instead of the reply.
  const bool pending_read = (options & 8) != 0 && !drain;
  const bool recognised = !pending_read && size - 2 >= 4 && data[2] == 0x01 && data[3] == 0x26;
  for (int k = 0; k < FIELDS; ++k) {
    if (recognised && result == 0 && (length[k] < 0 || length[k] > capacity)) abort();
    if (!(recognised && result == 0) && length[k] != UNTOUCHED) abort();
    for (nsk::INT i = 0; i < (length[k] > 0 ? length[k] : 0); ++i) {
      const char c = buffer[k][i];
      if (c == ' ' || c == '\0' || c == 0x12 || c == 0x0D) abort();
    }
  }
  if (result != 0 && result != 1 && result != 40) abort();
  return 0;
}
