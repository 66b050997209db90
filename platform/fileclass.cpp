// Classification of file names against the node description.
#include "platform/fileclass.h"

#include <algorithm>
#include <cctype>

#include "platform/names.h"
#include "platform/volumes.h"

namespace nsk::files {
namespace {

constexpr int NAME_MAX_BYTES = 64;

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// A piece of a resolved name, upshifted; empty when the name has no such piece.
std::string piece(const std::string& name, INT level) {
  char out[NAME_MAX_BYTES];
  INT length = 0;
  if (FILENAME_DECOMPOSE_(name.data(), static_cast<INT>(name.size()), out, sizeof out, &length,
                          level, 0) != 0) {
    return {};
  }
  return upper(std::string(out, static_cast<size_t>(length)));
}

INT node_error(const std::string& node_name) {
  for (const auto& remote : node::current().remote_nodes) {
    if (upper(remote.name) == node_name) return err::PATH_DOWN;
  }
  return err::NO_SUCH_DEVICE;
}

bool is_process(const std::string& destination) {
  const node::Node& n = node::current();
  if (!n.self.name.empty() && upper(n.self.name) == destination) return true;
  return std::any_of(n.processes.begin(), n.processes.end(), [&](const node::Process& p) {
    return !p.name.empty() && upper(p.name) == destination;
  });
}

INT classify_destination(const node::Destination& destination, const std::string& qualifier,
                         Target* target) {
  target->destination = &destination;
  for (const auto& terminal : destination.terminals) {
    if (upper(terminal.name) == qualifier) {
      target->kind = Kind::Terminal;
      target->terminal = &terminal;
      return 0;
    }
  }
  if (!qualifier.empty()) return err::NO_SUCH_DEVICE;
  target->kind = Kind::Destination;
  target->also_process = is_process(upper(destination.name));
  return 0;
}

INT classify_volume(const std::string& subvolume, Target* target) {
  if (subvolume.empty()) {
    target->kind = Kind::Volume;
    return 0;
  }
  target->kind = Kind::DiskFile;
  return volumes::host_path(target->full_name.data(), static_cast<INT>(target->full_name.size()),
                            &target->path);
}

}  // namespace

INT classify(const char* name, INT length, Target* target) {
  *target = Target{};
  if (name == nullptr || length <= 0) return err::BAD_NAME;
  char resolved[NAME_MAX_BYTES];
  INT resolved_length = 0;
  if (FILENAME_RESOLVE_(name, length, resolved, sizeof resolved, &resolved_length, 1) != 0) {
    return err::BAD_NAME;
  }
  target->full_name = upper(std::string(resolved, static_cast<size_t>(resolved_length)));
  const std::string node_name = piece(target->full_name, -1);
  const std::string destination = piece(target->full_name, 0);
  if (node_name.empty() || destination.empty()) return err::BAD_NAME;
  const node::Node& n = node::current();
  if (node_name != upper(n.name)) return node_error(node_name);
  const std::string qualifier = piece(target->full_name, 1);
  if (destination == "$ZNET" && qualifier == "#ZSPI") {
    target->kind = Kind::ControlPoint;
    return 0;
  }
  for (const auto& dest : n.destinations) {
    if (upper(dest.name) == destination) return classify_destination(dest, qualifier, target);
  }
  for (const auto& volume : n.volumes) {
    if (upper(volume.name) == destination) return classify_volume(qualifier, target);
  }
  if (is_process(destination) || destination == "$ZNET") {
    target->kind = Kind::Process;
    return 0;
  }
  return err::NO_SUCH_DEVICE;
}

}  // namespace nsk::files
