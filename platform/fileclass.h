// What a file name designates on the node (internal to the platform): the SPI control point, a
// terminal of a destination, a destination itself, a process, a volume or a disk file.  Shared
// by FILE_OPEN_, FILE_GETINFOBYNAME_ and OPENEDIT_ so that they always agree (docs/files.md).
#pragma once

#include <string>

#include "platform/node.h"
#include "platform/types.h"

namespace nsk::files {

enum class Kind { ControlPoint, Terminal, Destination, Process, Volume, DiskFile };

struct Target {
  Kind kind = Kind::Process;
  std::string full_name;                         // resolved external name, with the node
  const node::Destination* destination = nullptr;  // Terminal, Destination
  const node::Terminal* terminal = nullptr;        // Terminal
  std::string path;                              // DiskFile: the host path (may not exist)
  bool also_process = false;                     // Destination: a process has its name too
};

// Resolves name against the process's defaults and classifies it.  Errors: 13 not a name,
// 14 no such device (also a node that is not known), 201 a name on another node.
INT classify(const char* name, INT length, Target* target);

// The device type of a terminal under destination.  A Telnet server is a device of type 46, but
// each of its windows is a terminal (6) like any other: only the server piece of a window's
// name tells a Telnet window, while the window itself is opened and written as a terminal.
inline int terminal_device_type(const node::Destination& destination) {
  return destination.device_type == node::DEVICE_TELNET ? node::DEVICE_TERMINAL
                                                        : destination.device_type;
}

}  // namespace nsk::files
