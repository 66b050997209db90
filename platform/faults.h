// Injected results (internal to the platform).  Every platform procedure asks here first.
#pragma once

#include <string_view>

#include "platform/types.h"

namespace nsk::fault {

// Counts one call of procedure; returns the error that the node description injects for this
// call, or 0.
INT injected(std::string_view procedure);

}  // namespace nsk::fault
