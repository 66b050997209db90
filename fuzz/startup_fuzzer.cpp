// Fuzz target: the start-up message and the PARAM message, handed to GETSTARTUP and then (when
// there is one) GETPARAMS, in the order INITIALIZER keeps.  Each message lies in a heap block of
// exactly its length, so a read past it shows under AddressSanitizer.  Input: a 2-byte big-endian length n, n bytes of start-up message
// (cut to the platform's 596), then the PARAM message (cut to 1028).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/runstate.h"
#include "driver/startupline.h"
#include "platform/node.h"
#include <memory>
#include "platform/startup.h"

namespace fuzz_startup {

constexpr char NODE[] = R"(
[node]
name = '\FUZZ'
[[volume]]
name = "$DATA"
dir = "/nonexistent/netloc-fuzz"
[self]
cpu = 1
pin = 201
program = '$DATA.NETLOC.NETLOC'
home_terminal = '$ZTN0.#PTY1'
[[destination]]
name = "$ZTN0"
device_type = 46
terminal = [ { name = "#PTY1" } ]
)";

const nsk::node::Node& node() {
  static const nsk::node::Node loaded = [] {
    std::string error;
    auto n = nsk::node::load_node_text(NODE, "fuzz-startup", &error);
    if (!n) abort();
    return *n;
  }();
  return loaded;
}

// A name the run state holds must fit its buffer and consist of what the word gave.
void check_name(const char* name, nsk::INT length) {
  if (length < 0 || length > nsk::TERMNAME_MAX) abort();
  for (nsk::INT i = 0; i < length; ++i) {
    if (name[i] == ' ' || name[i] == '\0') abort();
  }
}

void check_runstate() {
  const nsk::RUNSTATE_T& r = nsk::RUNSTATE;
  check_name(r.TERMNAME, r.TERMNAMELEN);
  if (r.LISTTERMNAMELEN < 0 || r.LISTTERMNAMELEN > nsk::TERMNAME_MAX - 1) abort();
  if (r.LOGONCHECKLEVEL < 0 || r.LOGONCHECKLEVEL > 10) abort();
  if (r.MODESOURCE < 0 || r.MODESOURCE > 2 || r.LOGONSOURCE < 0 || r.LOGONSOURCE > 2) abort();
}

}  // namespace fuzz_startup

#ifndef NETLOC_FUZZ_ENTRY
#define NETLOC_FUZZ_ENTRY LLVMFuzzerTestOneInput
#endif

extern "C" int NETLOC_FUZZ_ENTRY(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t wanted = static_cast<std::size_t>((data[0] << 8) | data[1]);
  const std::size_t startup_length =
      std::min({wanted, size - 2, static_cast<std::size_t>(nsk::STARTUP_MESSAGE_MAX)});
  const char* bytes = reinterpret_cast<const char*>(data) + 2;
  std::string startup(bytes, startup_length);
  std::string param(bytes + startup_length,
                    std::min(size - 2 - startup_length,
                             static_cast<std::size_t>(nsk::PARAM_MESSAGE_MAX)));

  nsk::node::set_current(fuzz_startup::node());
  nsk::RUNSTATE = nsk::RUNSTATE_T{};
  nsk::INT status = 0;
  const std::unique_ptr<char[]> startup_copy(new char[startup.size()]);
  std::memcpy(startup_copy.get(), startup.data(), startup.size());
  nsk::GETSTARTUP(nullptr, &status, startup_copy.get(), static_cast<nsk::INT>(startup.size()),
                  nullptr);
  if (!param.empty()) {
    const std::unique_ptr<char[]> param_copy(new char[param.size()]);
    std::memcpy(param_copy.get(), param.data(), param.size());
    nsk::GETPARAMS(nullptr, &status, param_copy.get(), static_cast<nsk::INT>(param.size()),
                   nullptr);
  }
  if (status != 0 && status != -1) abort();
  fuzz_startup::check_runstate();
  return 0;
}
