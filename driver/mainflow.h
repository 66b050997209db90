// The main procedure and the small procedures of the spine.
#pragma once

#include "platform/types.h"

namespace nsk {

[[noreturn]] void GETNETLOCADDRESS();
[[noreturn]] void STOPME();
void MY_SWITCHUSER(INT user);  // privileged builds only

}  // namespace nsk
