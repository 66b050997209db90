// Host name lookup of a dotted address.
#pragma once

#include "platform/types.h"

namespace nsk {

// *hostname_length 0 when no name was found (the buffer is then untouched).
void NLX_GETHOSTNAME(const char* address, INT address_length, char* hostname, INT hostname_max,
                     INT* hostname_length);

}  // namespace nsk
