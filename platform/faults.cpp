// Injected results: the node description's [[fault]] entries, matched against a count of the
// calls of each procedure.
#include "platform/faults.h"

#include "platform/node.h"

namespace nsk::fault {

INT injected(Procedure procedure) {
  static std::array<int, PROCEDURES.size()> calls{};
  const int call = ++calls[static_cast<std::size_t>(procedure.index)];
  const std::string_view name = PROCEDURES[static_cast<std::size_t>(procedure.index)];
  for (const node::Fault& f : node::current().faults) {
    if (f.procedure == name && (f.call == 0 || f.call == call)) return static_cast<INT>(f.error);
  }
  return 0;
}

}  // namespace nsk::fault
