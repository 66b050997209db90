// System information.
#pragma once

#include "platform/types.h"

namespace nsk {

// The operating system version word: high-order byte the version letter's code plus 10,
// low-order byte the version number (H06: 82 and 6).
INT TOSVERSION();

}  // namespace nsk
