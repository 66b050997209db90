// The one mapping of Linux errno values to the platform's file-system error numbers.
#pragma once

#include "platform/types.h"

namespace nsk {

INT error_from_errno(int errno_value);

}  // namespace nsk
