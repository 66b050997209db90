// Injected results: the node description's [[fault]] entries, matched against a count of the
// calls of each procedure.
#include "platform/faults.h"

#include <map>
#include <string>

#include "platform/node.h"

namespace nsk::fault {

INT injected(std::string_view procedure) {
  static std::map<std::string, int, std::less<>> calls;
  auto it = calls.find(procedure);
  if (it == calls.end()) it = calls.emplace(std::string(procedure), 0).first;
  int call = ++it->second;
  for (const node::Fault& f : node::current().faults) {
    if (f.procedure == procedure && (f.call == 0 || f.call == call)) return static_cast<INT>(f.error);
  }
  return 0;
}

}  // namespace nsk::fault
