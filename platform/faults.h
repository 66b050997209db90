// Injected results (internal to the platform).  Every platform procedure asks here first.
#pragma once

#include <string_view>

#include "platform/types.h"

namespace nsk::fault {

// Counts one call of procedure; returns the error that the node description injects for this
// call, or 0.
INT injected(std::string_view procedure);

// True for the procedures that ask injected(): the names a [[fault]] entry may give.
bool injectable(std::string_view procedure);

}  // namespace nsk::fault
