// The socket and resolver library linked into the program.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace nsk {

constexpr std::uint32_t INADDR_NONE_ = 0xFFFFFFFFu;

// Dotted text (zero-terminated) to an IPv4 address in network byte order; INADDR_NONE_ for text
// that is not an address.
std::uint32_t inet_addr(const char* cp);

struct HostEntry {
  const char* h_name;  // official name, zero-terminated
};

// Reverse lookup: the node's hosts table when it has one (then the only names known), else the
// system resolver (getnameinfo, NI_NAMEREQD).  Only length 4 and type 2 (IPv4) are looked up.
// nullptr when no name is known.  The name is whole, however long (the caller cuts it); the
// entry lives in static storage until the next call.
const HostEntry* GRD_gethostbyaddr_(const char* addr, int length, int type);

}  // namespace nsk
