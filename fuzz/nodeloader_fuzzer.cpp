// Fuzz target: the node description loader.  Any text is either a node or refused with exactly
// one line "<source>:<line>: ..." (docs/node-description.md); a loaded node can be installed.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/node.h"

namespace fuzz_nodeloader {

constexpr char SOURCE[] = "fuzz.toml";

bool one_line_refusal(const std::string& error) {
  const std::string prefix = std::string(SOURCE) + ":";
  return error.size() > prefix.size() && error.compare(0, prefix.size(), prefix) == 0 &&
         error.find('\n') == std::string::npos;
}

}  // namespace fuzz_nodeloader

#ifndef NETLOC_FUZZ_ENTRY
#define NETLOC_FUZZ_ENTRY LLVMFuzzerTestOneInput
#endif

extern "C" int NETLOC_FUZZ_ENTRY(const std::uint8_t* data, std::size_t size) {
  if (size > 8192) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto node = nsk::node::load_node_text(text, fuzz_nodeloader::SOURCE, &error);
  if (!node && !fuzz_nodeloader::one_line_refusal(error)) abort();
  if (node && node->time_scale <= 0) abort();
  return 0;
}
