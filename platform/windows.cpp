// SETPARAM answers of windows: an X.25 window gives its DTE number (function 1); a window of a
// GEMINI Telnet server gives its identification text (200), the client's address (201) and
// port (205), and the second address (206) and port (207).  The answers are the node's bytes,
// unchanged, cut to the answer array's capacity.
#include <algorithm>
#include <cstring>

#include "platform/openkinds.h"

namespace nsk {
namespace {

// The answer of function on the window, or nullptr when the window does not serve it.
const std::string* answer_of(const node::Destination& destination, const node::Terminal& terminal,
                             INT function) {
  if (destination.device_type == node::DEVICE_X25) {
    return function == 1 ? &terminal.dte : nullptr;
  }
  if (destination.device_type != node::DEVICE_TELNET || destination.gemini_id.empty()) {
    return nullptr;
  }
  switch (function) {
    case 200: return &destination.gemini_id;
    case 201: return &terminal.gemini_address;
    case 205: return &terminal.gemini_port;
    case 206: return &terminal.gemini_address2;
    case 207: return &terminal.gemini_port2;
    default: return nullptr;
  }
}

}  // namespace

INT window_setparam(const node::Destination& destination, const node::Terminal& terminal,
                    INT function, char* answer, INT answer_max, INT* count) {
  *count = 0;
  const std::string* value = answer_of(destination, terminal, function);
  if (value == nullptr) return err::OPERATION_INVALID;
  const size_t n = std::min(value->size(), static_cast<size_t>(std::max<INT>(answer_max, 0)));
  if (n > 0) std::memcpy(answer, value->data(), n);
  *count = static_cast<INT>(n);
  return 0;
}

}  // namespace nsk
