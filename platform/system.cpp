// System information from the node description.
#include "platform/system.h"

#include "platform/node.h"

namespace nsk {

INT TOSVERSION() {
  const node::Node& n = node::current();
  return static_cast<INT>(((n.os_letter + 10) << 8) | (n.os_number & 0xFF));
}

}  // namespace nsk
