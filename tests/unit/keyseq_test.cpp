// Key-sequenced files on LMDB, driven through their open-file interface: positioning, inserts,
// updates, the maximum size, purge, renames, foreign files, locks between processes.
#include "platform/keyseq.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "platform/filesystem.h"
#include "platform/node.h"
#include "platform/volumes.h"

namespace fs = std::filesystem;
using nsk::INT;
using nsk::keyseq::Attributes;

namespace {

constexpr int RECLEN = 20;
constexpr int KEYLEN = 8;

Attributes small_file(int max_extents = 16) {
  Attributes a;
  a.file_code = 4242;
  a.record_length = RECLEN;
  a.key_offset = 2;
  a.key_length = KEYLEN;
  a.primary_extent = 2;
  a.secondary_extent = 2;
  a.max_extents = max_extents;
  return a;
}

// A record of RECLEN bytes: two bytes "..", the 8-byte key, then the payload, blank-filled.
std::string record(const std::string& key, const std::string& payload) {
  std::string r = ".." + key + payload;
  r.resize(RECLEN, ' ');
  return r;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class KeySeqTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/keyseq_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ + "/SUB");
    nsk::node::Node n;
    n.name = "\\TEST";
    n.volumes.push_back({"$DATA", dir_});
    nsk::node::set_current(n);
    path_ = dir_ + "/SUB/FILE";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::unique_ptr<nsk::OpenFile> open(INT access = 0, const std::string& path = "") {
    std::unique_ptr<nsk::OpenFile> f;
    EXPECT_EQ(nsk::keyseq::open(path.empty() ? path_ : path, "\\TEST.$DATA.SUB.FILE", access, &f),
              0);
    return f;
  }
  static INT insert(nsk::OpenFile& f, const std::string& r) {
    INT count = 0;
    return f.write(r.data(), static_cast<INT>(r.size()), &count);
  }
  // Reads every record from the current position.
  static std::vector<std::string> read_all(nsk::OpenFile& f) {
    std::vector<std::string> out;
    char buf[RECLEN];
    INT count = 0;
    while (f.read(buf, RECLEN, &count) == 0) out.emplace_back(buf, count);
    return out;
  }
  std::set<std::string> entries() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ + "/SUB")) names.insert(e.path().filename());
    return names;
  }

  std::string dir_, path_;
};

TEST_F(KeySeqTest, RecordsComeInKeyOrderAndDuplicatesAreRefused) {
  ASSERT_EQ(nsk::keyseq::create(path_, small_file()), 0);
  EXPECT_EQ(nsk::keyseq::create(path_, small_file()), nsk::err::EXISTS);
  auto f = open();
  for (const char* key : {"KEY00003", "KEY00001", "KEY00002"}) EXPECT_EQ(insert(*f, record(key, "x")), 0);
  EXPECT_EQ(insert(*f, record("KEY00002", "again")), nsk::err::DUPLICATE_KEY);
  auto all = read_all(*f);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0], record("KEY00001", "x"));
  EXPECT_EQ(all[2], record("KEY00003", "x"));
  EXPECT_EQ(f->write("short", 5, nullptr), nsk::err::NOT_OPEN_ACCESS);
  INT words[5];
  f->typeinfo(words);
  EXPECT_EQ(words[2], 3);
  EXPECT_EQ(words[4], 4242);
}

TEST_F(KeySeqTest, PositioningExactGenericAndApproximate) {
  ASSERT_EQ(nsk::keyseq::create(path_, small_file()), 0);
  auto f = open();
  for (const char* key : {"AB000001", "AB000002", "AC000001", "B0000000"}) insert(*f, record(key, ""));
  struct Case {
    const char* key;
    INT key_length, compare_length, mode;
    std::vector<std::string> keys;
  };
  const Case cases[] = {
      {"AB000002", 8, 8, nsk::POSITION_EXACT, {"AB000002"}},
      {"AB000009", 8, 8, nsk::POSITION_EXACT, {}},
      {"AB", 2, 2, nsk::POSITION_EXACT, {}},
      {"AB", 2, 2, nsk::POSITION_GENERIC, {"AB000001", "AB000002"}},
      {"A", 1, 1, nsk::POSITION_GENERIC, {"AB000001", "AB000002", "AC000001"}},
      {"AB000002", 8, 2, nsk::POSITION_GENERIC, {"AB000002"}},
      {"Z", 1, 1, nsk::POSITION_GENERIC, {}},
      {"AC", 2, 0, nsk::POSITION_APPROXIMATE, {"AC000001", "B0000000"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " mode " + std::to_string(c.mode));
    ASSERT_EQ(f->keyposition(c.key, 0, c.key_length, c.compare_length, c.mode), 0);
    std::vector<std::string> keys;
    for (const std::string& r : read_all(*f)) keys.push_back(r.substr(2, KEYLEN));
    EXPECT_EQ(keys, c.keys);
  }
  EXPECT_EQ(f->keyposition("AB", 1, 2, 2, nsk::POSITION_GENERIC), 46);
  EXPECT_EQ(f->keyposition("AB", 0, 2, 3, nsk::POSITION_GENERIC), nsk::err::BAD_PARAM);
}

TEST_F(KeySeqTest, UpdateReplacesTheRecordLastRead) {
  ASSERT_EQ(nsk::keyseq::create(path_, small_file()), 0);
  auto f = open();
  EXPECT_EQ(f->writeupdate(record("KEY00001", "n").data(), RECLEN, nullptr), nsk::err::NO_SUCH_FILE);
  insert(*f, record("KEY00001", "old"));
  ASSERT_EQ(f->keyposition("KEY00001", 0, KEYLEN, KEYLEN, nsk::POSITION_EXACT), 0);
  char buf[RECLEN];
  INT count = 0;
  ASSERT_EQ(f->read(buf, 6, &count), 0);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(f->writeupdate(record("KEY00002", "new").data(), RECLEN, nullptr), 46);
  EXPECT_EQ(f->writeupdate(record("KEY00001", "new").data(), RECLEN, nullptr), 0);
  f->keyposition("", 0, 0, 0, nsk::POSITION_APPROXIMATE);
  EXPECT_EQ(read_all(*f), std::vector<std::string>{record("KEY00001", "new")});
}

TEST_F(KeySeqTest, FullFileRefusesInsertsUntilPurged) {
  ASSERT_EQ(nsk::keyseq::create(path_, small_file()), 0);
  auto f = open();
  int stored = 0;
  INT error = 0;
  while ((error = insert(*f, record("K" + std::to_string(1000000 + stored), "payload"))) == 0) ++stored;
  EXPECT_EQ(error, nsk::err::FILE_FULL);
  EXPECT_GT(stored, 10);
  EXPECT_LE(fs::file_size(path_), 2u * 2048 * 2 * 16);  // never past the maximum size
  // A second open (another file number) sees the same records and the same limit.
  auto g = open(1);
  EXPECT_EQ(read_all(*g).size(), static_cast<size_t>(stored));
  EXPECT_EQ(f->control(nsk::CONTROL_PURGE_DATA, 0), 0);
  EXPECT_TRUE(read_all(*g).empty());
  EXPECT_EQ(insert(*f, record("KEY00001", "after")), 0);
  g->keyposition("", 0, 0, 0, nsk::POSITION_APPROXIMATE);
  EXPECT_EQ(read_all(*g).size(), 1u);
  Attributes kept;
  ASSERT_TRUE(nsk::keyseq::probe(path_, &kept));
  EXPECT_EQ(kept.file_code, 4242);
  EXPECT_EQ(g->control(nsk::CONTROL_PURGE_DATA, 0), nsk::err::NOT_OPEN_ACCESS);
}

TEST_F(KeySeqTest, AttributesAndNameFollowARename) {
  ASSERT_EQ(nsk::keyseq::create(path_, small_file()), 0);
  ASSERT_EQ(nsk::keyseq::create(dir_ + "/SUB/TAKEN", small_file()), 0);
  auto f = open();
  insert(*f, record("KEY00001", ""));
  EXPECT_EQ(f->rename("\\TEST.$DATA.SUB.TAKEN"), nsk::err::EXISTS);
  ASSERT_EQ(f->rename("$DATA.SUB.NEWNAME"), 0);
  EXPECT_EQ(f->current_name(), "\\TEST.$DATA.SUB.NEWNAME");
  // A rename by anyone else is seen too.
  fs::rename(dir_ + "/SUB/NEWNAME", dir_ + "/SUB/OTHER");
  EXPECT_EQ(f->current_name(), "\\TEST.$DATA.SUB.OTHER");
  Attributes kept;
  ASSERT_TRUE(nsk::keyseq::probe(dir_ + "/SUB/OTHER", &kept));
  EXPECT_EQ(kept.record_length, RECLEN);
  EXPECT_EQ(kept.key_offset, 2);
  EXPECT_EQ(kept.max_extents, 16);
  EXPECT_EQ(f->setmode(1, 02222, 0), 0);
  EXPECT_EQ(fs::status(dir_ + "/SUB/OTHER").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(KeySeqTest, ForeignFilesAreRefusedAndNeverWritten) {
  const std::string foreign[] = {"", "just some text\n", std::string(9000, 'x')};
  for (const std::string& content : foreign) {
    SCOPED_TRACE(content.size());
    { std::ofstream(path_, std::ios::binary) << content; }
    std::unique_ptr<nsk::OpenFile> f;
    EXPECT_EQ(nsk::keyseq::open(path_, "\\TEST.$DATA.SUB.FILE", 0, &f), nsk::err::DATA_ERROR);
    EXPECT_FALSE(nsk::keyseq::probe(path_, nullptr));
    EXPECT_EQ(slurp(path_), content);
    fs::remove(path_);
  }
  std::unique_ptr<nsk::OpenFile> f;
  EXPECT_EQ(nsk::keyseq::open(path_, "\\TEST.$DATA.SUB.FILE", 0, &f), nsk::err::NO_SUCH_FILE);
}

TEST_F(KeySeqTest, NothingButTheDataFileIsOnDisk) {
  ASSERT_EQ(nsk::keyseq::create(path_, small_file()), 0);
  {
    auto f = open();
    auto g = open(1);
    f->lock();
    insert(*f, record("KEY00001", ""));
    read_all(*g);
    f->control(nsk::CONTROL_PURGE_DATA, 0);
    EXPECT_EQ(entries(), std::set<std::string>{"FILE"});
  }
  EXPECT_EQ(entries(), std::set<std::string>{"FILE"});
}

TEST_F(KeySeqTest, InterruptedPurgeIsFinishedByTheNextWriter) {
  ASSERT_EQ(nsk::keyseq::create(path_, small_file()), 0);
  auto f = open();
  insert(*f, record("KEY00001", ""));
  f.reset();
  // A purge killed after tagging page 0 leaves the tag and the attributes there.
  std::string tag = "NLXPURGE netloc-keyseq 1 type 3 code 4242 record 20 block 4096 keyoffset 2 "
                    "keylength 8 primary 2 secondary 2 maxextents 16";
  tag.erase(8, 1);
  int fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_EQ(pwrite(fd, tag.data(), tag.size(), 0), static_cast<ssize_t>(tag.size()));
  close(fd);
  EXPECT_TRUE(nsk::keyseq::probe(path_, nullptr));
  f = open();
  EXPECT_TRUE(read_all(*f).empty());
  EXPECT_EQ(insert(*f, record("KEY00002", "")), 0);
  f->keyposition("", 0, 0, 0, nsk::POSITION_APPROXIMATE);
  EXPECT_EQ(read_all(*f), std::vector<std::string>{record("KEY00002", "")});
}

// LOCKFILE between processes: a child locks, the parent waits until the child has gone, also
// when the child is killed; two opens within one process never wait for each other.
// Whether another open file description could lock the file exclusively at once (it is then
// unlocked again): false while some open holds a shared lock on it.
bool free_for_a_writer(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool free = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (fd >= 0) ::close(fd);
  return free;
}

// A read-only open reads a positioned range under one shared lock, held from its first record to
// the end of the range; a write by this process through another open ends the hold, and the
// reading goes on after the last record read, seeing the new record and missing none.
TEST_F(KeySeqTest, ReadOnlyRangeHoldsTheSharedLockUntilItsEnd) {
  ASSERT_EQ(nsk::keyseq::create(path_, small_file()), 0);
  auto w = open();
  for (const char* key : {"AB000001", "AB000003", "AB000004", "B0000000"}) {
    ASSERT_EQ(insert(*w, record(key, "")), 0);
  }
  auto r = open(1);
  ASSERT_EQ(r->keyposition("AB", 0, 2, 2, nsk::POSITION_GENERIC), 0);
  char buf[RECLEN];
  INT count = 0;
  auto next_key = [&] {
    const INT error = r->read(buf, RECLEN, &count);
    return error == 0 ? std::string(buf + 2, KEYLEN) : "error " + std::to_string(error);
  };
  EXPECT_TRUE(free_for_a_writer(path_));
  EXPECT_EQ(next_key(), "AB000001");
  EXPECT_FALSE(free_for_a_writer(path_));
  ASSERT_EQ(insert(*w, record("AB000002", "")), 0);  // ends the hold before it writes
  EXPECT_EQ(next_key(), "AB000002");
  EXPECT_FALSE(free_for_a_writer(path_));  // held again from this read
  EXPECT_EQ(next_key(), "AB000003");
  EXPECT_EQ(next_key(), "AB000004");
  EXPECT_EQ(next_key(), "error " + std::to_string(nsk::err::END_OF_FILE));
  EXPECT_TRUE(free_for_a_writer(path_));

  // A hold ends with the open, too.
  ASSERT_EQ(r->keyposition("AB", 0, 2, 2, nsk::POSITION_GENERIC), 0);
  EXPECT_EQ(next_key(), "AB000001");
  EXPECT_FALSE(free_for_a_writer(path_));
  r.reset();
  EXPECT_TRUE(free_for_a_writer(path_));
}

TEST_F(KeySeqTest, LockfileWaitsForOtherProcessesOnly) {
  ASSERT_EQ(nsk::keyseq::create(path_, small_file()), 0);
  for (bool killed : {false, true}) {
    SCOPED_TRACE(killed ? "killed" : "exits");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const std::string released = dir_ + "/released";
    pid_t child = fork();
    if (child == 0) {
      auto f = open();
      f->lock();
      (void)!write(ready[1], "L", 1);
      if (killed) pause();
      usleep(100000);
      std::ofstream(released) << "x";
      _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    if (killed) kill(child, SIGKILL);
    auto f = open();
    auto g = open();
    ASSERT_EQ(f->lock(), 0);
    if (!killed) {
      EXPECT_TRUE(fs::exists(released));
    }
    EXPECT_EQ(g->lock(), 0);
    EXPECT_EQ(insert(*g, record(killed ? "KILLED00" : "EXITED00", "")), 0);
    int status = 0;
    waitpid(child, &status, 0);
    close(ready[0]);
    close(ready[1]);
  }
}

}  // namespace

namespace {

// FILE_CREATE_: key-sequenced files with their attributes, unstructured files with their code,
// the subvolume directory made when missing, and the errors.
TEST_F(KeySeqTest, FileCreateMakesBothKindsAndRefusesBadRequests) {
  struct Case {
    const char* name;
    INT filetype, recordlen, keylen;
    INT error;
  };
  const Case cases[] = {
      {"$DATA.NEWSUB.KS", 3, 150, 92, 0},
      {"\\TEST.$DATA.NEWSUB.KS", 3, 150, 92, nsk::err::EXISTS},
      {"$DATA.NEWSUB.BADKEY", 3, 150, 0, nsk::err::BAD_PARAM},
      {"$DATA.NEWSUB.KEYLONG", 3, 50, 92, nsk::err::BAD_PARAM},
      {"$DATA.NEWSUB.FLAT", 0, 0, 0, 0},
      {"$DATA.NEWSUB.FLAT", 0, 0, 0, nsk::err::EXISTS},
      {"$DATA.NEWSUB.ODD", 5, 0, 0, nsk::err::BAD_PARAM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char name[36];
    INT length = static_cast<INT>(std::strlen(c.name));
    std::memcpy(name, c.name, static_cast<size_t>(length));
    EXPECT_EQ(nsk::FILE_CREATE_(name, sizeof name, &length, 20044, 50, 50, 450, c.filetype, 0,
                                c.recordlen, 4096, c.keylen, 0),
              c.error);
  }
  Attributes kept;
  ASSERT_TRUE(nsk::keyseq::probe(dir_ + "/NEWSUB/KS", &kept));
  EXPECT_EQ(kept.file_code, 20044);
  EXPECT_EQ(kept.record_length, 150);
  EXPECT_EQ(kept.key_length, 92);
  EXPECT_EQ(kept.max_extents, 450);
  EXPECT_FALSE(fs::exists(dir_ + "/NEWSUB/BADKEY"));
  EXPECT_EQ(fs::file_size(dir_ + "/NEWSUB/FLAT"), 0u);
  EXPECT_EQ(nsk::volumes::file_code(dir_ + "/NEWSUB/FLAT"), 20044);
  EXPECT_FALSE(nsk::keyseq::probe(dir_ + "/NEWSUB/FLAT", nullptr));
}

}  // namespace
