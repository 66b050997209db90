// Host name lookup through the node's hosts table.
#include "addrlib/hostname.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/node.h"

namespace nsk {
namespace {

const std::string SIXTY = std::string(56, 'h') + ".net";

class HostName : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string text = R"(
[node]
name = '\HOSTS'

[self]
cpu = 1
pin = 201
program = '$SYSTEM.NETLOC.NETLOC'
home_terminal = '$ZTN0.#PTY1'

[hosts]
"127.0.0.1" = "localhost"
"192.168.100.200" = "fifteen.example"
"255.255.255.255" = "all-ones.example"
"10.9.9.9" = ")" + SIXTY + "\"\n";
    std::string error;
    auto node = node::load_node_text(text, "hosts", &error);
    ASSERT_TRUE(node) << error;
    node::set_current(std::move(*node));
  }

  // The name stored for address with a 50-byte buffer; "<none>" when the length is 0 and the
  // buffer was left as it was.
  static std::string lookup(std::string_view address, INT capacity = 50) {
    char name[64];
    std::fill(std::begin(name), std::end(name), '~');
    INT length = -7;
    NLX_GETHOSTNAME(address.data(), static_cast<INT>(address.size()), name, capacity, &length);
    if (length == 0) return name[0] == '~' ? "<none>" : "<written>";
    EXPECT_EQ(name[length], '~');
    return std::string(name, static_cast<size_t>(length));
  }
};

TEST_F(HostName, CaseTable) {
  struct Case {
    std::string_view address;
    std::string name;
  };
  const Case cases[] = {
      {"127.0.0.1", "localhost"},
      {"192.0.2.99", "<none>"},
      {"192.168.100.20012345", "fifteen.example"},  // only the first 15 bytes count
      {"192.168.100.200", "fifteen.example"},
      {"10.*.*.*", "all-ones.example"},  // no address: the library's error value is looked up
      {"10.9.9.9", SIXTY.substr(0, 50)},
      {"", "all-ones.example"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "address \"" << c.address << "\"");
    EXPECT_EQ(lookup(c.address), c.name);
  }
}

TEST_F(HostName, CapacityCutsTheName) {
  EXPECT_EQ(lookup("127.0.0.1", 5), "local");
  EXPECT_EQ(lookup("127.0.0.1", 0), "<none>");
}

TEST_F(HostName, AddressAtTheEndOfItsBufferIsNotReadBeyond) {
  const char address[9] = {'1', '2', '7', '.', '0', '.', '0', '.', '1'};
  char name[50];
  INT length = 0;
  NLX_GETHOSTNAME(address, 9, name, 50, &length);
  EXPECT_EQ(std::string(name, static_cast<size_t>(length)), "localhost");
}

}  // namespace
}  // namespace nsk
