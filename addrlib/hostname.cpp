// Host name lookup: the dotted address converted and looked up in reverse through the
// platform's socket library.
#include "addrlib/hostname.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/sockets.h"

namespace nsk {

namespace {

constexpr INT DOTTED_MAX = 15;  // the longest dotted IPv4 address
constexpr int AF_INET_ = 2;

// Bytes of a zero-ended name, counted no further than limit.
INT bounded_length(const char* name, INT limit) {
  INT length = 0;
  while (length < limit && name[length] != 0) ++length;
  return length;
}

}  // namespace

void NLX_GETHOSTNAME(const char* address, INT address_length, char* hostname, INT hostname_max,
                     INT* hostname_length) {
  if (hostname_length == nullptr) return;
  *hostname_length = 0;
  if (address == nullptr || hostname == nullptr) return;

  // inet_addr needs a zero-ended text: copy the address into a work area with two zero bytes.
  char work[DOTTED_MAX + 2] = {};
  const INT length = address_length < 0 ? 0 : std::min(address_length, DOTTED_MAX);
  std::memcpy(work, address, static_cast<size_t>(length));

  // Used as it comes: a text that is no address gives the library's error value, looked up too.
  const std::uint32_t in_addr = inet_addr(work);
  const HostEntry* entry =
      GRD_gethostbyaddr_(reinterpret_cast<const char*>(&in_addr), sizeof in_addr, AF_INET_);
  if (entry == nullptr || entry->h_name == nullptr) return;

  const INT name_length = bounded_length(entry->h_name, hostname_max < 0 ? 0 : hostname_max);
  std::memcpy(hostname, entry->h_name, static_cast<size_t>(name_length));
  *hostname_length = name_length;
}

}  // namespace nsk
