// The chain of ancestors, and climbing it one generation.
#pragma once

#include "platform/types.h"

namespace nsk {

// Replaces *ancestor (may be the same array as process) by the ancestor of process; -1 when an
// ancestor was stored, 0 when there is none (*ancestor is then null).
INT ANCESTOR(const PHANDLE* process, PHANDLE* ancestor);

// All parameters optional (nullptr omitted).  0 an address was found; 1 the chain ended
// ("127.0.0.1" delivered); otherwise a platform error or class * 4096 + (error mod 4096).
// The walk ends as at the chain's end (result 1) when an ancestor repeats one already met or
// after 64 generations.  pattern_list_capacity bounds the reading of the pattern list (see
// NLX_IN_STRINGBUFFER_).  Without an address buffer or address length: 29.
INT TRACETOMYIPADDRESS(const PHANDLE* processhandle, char* address, const INT* address_max,
                       INT* address_length, const INT* close_flag = nullptr,
                       const char* pattern_list = nullptr, INT pattern_list_capacity = 0x7FFF);

}  // namespace nsk
