// The socket library: dotted-text conversion and reverse lookup, through the node's hosts table
// when it has one, else through the system resolver.
#include "platform/sockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <map>
#include <string>

#include "platform/faults.h"
#include "platform/node.h"

namespace nsk {
namespace {

constexpr int IPV4_LENGTH = 4;
constexpr int FAMILY_INET = 2;  // the platform's AF_INET

// The hosts table's name for the address; keys are compared as addresses, not as text.
const std::string* hosts_lookup(const std::map<std::string, std::string>& hosts,
                                const unsigned char* address) {
  for (const auto& [key, name] : hosts) {
    unsigned char parsed[IPV4_LENGTH];
    if (::inet_pton(AF_INET, key.c_str(), parsed) == 1 &&
        std::memcmp(parsed, address, IPV4_LENGTH) == 0) {
      return &name;
    }
  }
  return nullptr;
}

bool resolver_lookup(const unsigned char* address, std::string* name) {
  sockaddr_in socket_address{};
  socket_address.sin_family = AF_INET;
  std::memcpy(&socket_address.sin_addr, address, IPV4_LENGTH);
  char host[NI_MAXHOST];
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&socket_address), sizeof socket_address,
                    host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0) {
    return false;
  }
  *name = host;
  return true;
}

}  // namespace

std::uint32_t inet_addr(const char* cp) {
  if (fault::injected("inet_addr") != 0 || cp == nullptr) return INADDR_NONE_;
  return ::inet_addr(cp);
}

const HostEntry* GRD_gethostbyaddr_(const char* addr, int length, int type) {
  // One entry, valid until the next call, as the socket library has it.
  static std::string name;
  static HostEntry entry;
  if (fault::injected("GRD_gethostbyaddr_") != 0) return nullptr;
  if (addr == nullptr || length != IPV4_LENGTH || type != FAMILY_INET) return nullptr;
  const auto* address = reinterpret_cast<const unsigned char*>(addr);
  const auto& hosts = node::current().hosts;
  if (hosts) {
    const std::string* found = hosts_lookup(*hosts, address);
    if (found == nullptr) return nullptr;
    name = *found;
  } else if (!resolver_lookup(address, &name)) {
    return nullptr;
  }
  entry.h_name = name.c_str();
  return &entry;
}

}  // namespace nsk
