// The PLAIN store in-process: the record it writes, byte for byte, and the pair it creates.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "driver/addressdb.h"
#include "driver/runstate.h"
#include "platform/filesystem.h"
#include "platform/keyseq.h"
#include "platform/node.h"
#include "platform/openfile.h"
#include "platform/timenum.h"

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t UNIX_EPOCH_JULIAN = 210866760000000000LL;

std::string created_text(std::int64_t julian) {
  std::time_t seconds = static_cast<std::time_t>((julian - UNIX_EPOCH_JULIAN) / 1000000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%d%b%Y %H:%M:%S", &tm);
  return text;
}

class PlainStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    char pattern[] = "/tmp/plainstore_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    nsk::node::Node n;
    n.name = "\\UNIT";
    n.time_scale = 0.001;
    n.volumes.push_back({"$DATA", dir_});
    n.self.program = "\\UNIT.$DATA.PROGS.NETLOC";
    n.self.home_terminal = "\\UNIT.$ZTN0.#PTY1";
    n.self.attribute82 = "ATTRIBUTE 82 TEXT";
    nsk::node::set_current(n);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void set_terminal(const std::string& name, const std::string& host) {
    std::copy(name.begin(), name.end(), nsk::RUNSTATE.TERMNAME);
    nsk::RUNSTATE.TERMNAMELEN = static_cast<nsk::INT>(name.size());
    std::copy(host.begin(), host.end(), nsk::RUNSTATE.HOSTNAME);
    nsk::RUNSTATE.HOSTNAMELEN = static_cast<nsk::INT>(host.size());
  }

  std::vector<std::string> records(const std::string& file) {
    std::unique_ptr<nsk::OpenFile> f;
    EXPECT_EQ(nsk::keyseq::open(dir_ + "/PROGS/" + file, file, 1, &f), 0);
    std::vector<std::string> out;
    char buffer[nsk::PLAINRECORD_LENGTH];
    nsk::INT count = 0;
    while (f && f->read(buffer, sizeof buffer, &count) == 0) out.emplace_back(buffer, count);
    return out;
  }

  std::string dir_;
};

// A terminal name longer than the field is cut at 26 bytes, the address at 16; the host name
// and attribute 82 are blank-filled; the creation text is the store's time (local time is GMT
// here), the timestamp that time in microseconds, most significant byte first.
TEST_F(PlainStoreTest, RecordIsLaidOutByteForByte) {
  set_terminal("\\UNIT.$ZTN0.#PTYLONGNAME.QUALIFIER", "ws-12.example");
  const char address[] = "192.168.100.200.77";
  const std::int64_t before = nsk::JULIANTIMESTAMP(0);
  nsk::PLAINSTORE(address, static_cast<nsk::INT>(sizeof address - 1));
  const std::int64_t after = nsk::JULIANTIMESTAMP(0);

  std::vector<std::string> stored = records("TERMIPA0");
  ASSERT_EQ(stored.size(), 1u);
  const std::string& r = stored[0];
  ASSERT_EQ(r.size(), 150u);
  const std::string fixture_key =
      "\\UNIT.$ZTN0.#PTYLONGNAME.Q"  // 26
      "192.168.100.200."             // 16
      "ws-12.example                                     ";  // 50
  const std::string fixture_info = "ATTRIBUTE 82 TEXT               ";  // 32
  EXPECT_EQ(r.substr(0, 92), fixture_key);
  EXPECT_EQ(r.substr(118, 32), fixture_info);
  std::uint64_t stamp = 0;
  for (int i = 110; i < 118; ++i) stamp = (stamp << 8) | static_cast<unsigned char>(r[i]);
  const auto julian = static_cast<std::int64_t>(stamp);
  EXPECT_GE(julian, before);
  EXPECT_LE(julian, after);
  EXPECT_EQ(r.substr(92, 18), created_text(julian));
  EXPECT_TRUE(records("TERMIPA1").empty());
  EXPECT_EQ(fs::status(dir_ + "/PROGS/TERMIPA0").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

// A second store of the same terminal, address and host name rewrites the one record; another
// address adds one, in key order.
TEST_F(PlainStoreTest, EqualKeyRewritesOtherKeyInserts) {
  set_terminal("\\UNIT.$ZTN0.#PTY1", "");
  nsk::PLAINSTORE("10.0.0.2", 8);
  nsk::FILE_CLOSE_(nsk::RUNSTATE.OUTFNUM);
  const std::string first = records("TERMIPA0").at(0);
  nsk::PLAINSTORE("10.0.0.2", 8);
  nsk::FILE_CLOSE_(nsk::RUNSTATE.OUTFNUM);
  nsk::PLAINSTORE("10.0.0.1", 8);
  nsk::FILE_CLOSE_(nsk::RUNSTATE.OUTFNUM);
  std::vector<std::string> stored = records("TERMIPA0");
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].substr(26, 16), "10.0.0.1        ");
  EXPECT_EQ(stored[1].substr(0, 92), first.substr(0, 92));
  EXPECT_EQ(stored[1].substr(42, 50), std::string(50, ' '));
  EXPECT_GT(stored[1].substr(110, 8), first.substr(110, 8));
}

}  // namespace
