// Disk files on Linux: host paths of disk file names, subvolume directories and the file code
// kept with a file, on a node whose volume $DATA lives in a temporary directory.
#include "platform/volumes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/node.h"

namespace nsk {
namespace {

class Volumes : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/netloc-volumes-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    node::Node n;
    n.name = "\\DEMO";
    n.number = 7;
    n.volumes = {{"$DATA", root_ + "/vol/data/"}};
    n.remote_nodes = {{"\\TIGRA", 12}};
    n.self.default_volume = "$DATA";
    n.self.default_subvolume = "NETLOC";
    node::set_current(n);
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  std::string root_;
};

struct PathCase {
  const char* name;
  INT rc;
  const char* relative;  // under the volume directory
};

TEST_F(Volumes, HostPathsOfDiskFileNames) {
  static const PathCase cases[] = {
      {"$DATA.NETLOC.TERMIPA0", 0, "NETLOC/TERMIPA0"},
      {"$data.netloc.termipa0", 0, "NETLOC/TERMIPA0"},
      {"\\demo.$DATA.SUB.F", 0, "SUB/F"},
      {"TERMIPA0", 0, "NETLOC/TERMIPA0"},
      {"OTHER.F", 0, "OTHER/F"},
      {"$NOVOL.A.B", err::NO_SUCH_DEVICE, ""},
      {"\\TIGRA.$DATA.A.B", err::PATH_DOWN, ""},
      {"$DATA.NETLOC", err::BAD_NAME, ""},
      {"$DATA", err::BAD_NAME, ""},
      {"$ZTN0.#PTY1.X", err::BAD_NAME, ""},
      {"$DATA.NETLOC.A/B", err::BAD_NAME, ""},
      {"$DATA.NETLOC..", err::BAD_NAME, ""},
      {"", err::BAD_NAME, ""},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = "untouched";
    EXPECT_EQ(volumes::host_path(c.name, static_cast<INT>(std::string(c.name).size()), &path), c.rc);
    EXPECT_EQ(path, c.rc == 0 ? root_ + "/vol/data/" + c.relative : "untouched");
  }
}

TEST_F(Volumes, SubvolumeDirectoriesAreCreatedOwnerOnly) {
  std::string path;
  ASSERT_EQ(volumes::host_path("$DATA.NETLOC.TERMIPA0", 21, &path), 0);
  ASSERT_EQ(volumes::ensure_subvolume_dir(path), 0);
  for (const std::string& dir : {root_ + "/vol/data", root_ + "/vol/data/NETLOC"}) {
    struct stat st;
    ASSERT_EQ(::stat(dir.c_str(), &st), 0) << dir;
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u) << dir;
  }
  EXPECT_EQ(volumes::ensure_subvolume_dir(path), 0);  // existing: fine
  // A file where the volume directory should be.
  std::ofstream(root_ + "/plainfile") << "x";
  EXPECT_EQ(volumes::ensure_subvolume_dir(root_ + "/plainfile/SUB/F"), err::NO_SUCH_FILE);
}

TEST_F(Volumes, TheFileCodeStaysWithTheFileAcrossRenames) {
  const std::string path = root_ + "/f";
  std::ofstream(path) << "data";
  EXPECT_EQ(volumes::file_code(path), 0);  // none kept
  ASSERT_EQ(volumes::set_file_code(path, 101), 0);
  EXPECT_EQ(volumes::file_code(path), 101);
  char text[16] = {};
  EXPECT_EQ(::getxattr(path.c_str(), "user.nsk.filecode", text, sizeof text), 3);
  EXPECT_STREQ(text, "101");
  ASSERT_EQ(volumes::set_file_code(path, 20044), 0);
  ASSERT_EQ(std::rename(path.c_str(), (root_ + "/g").c_str()), 0);
  EXPECT_EQ(volumes::file_code(root_ + "/g"), 20044);
  EXPECT_EQ(volumes::set_file_code(root_ + "/missing", 101), err::NO_SUCH_FILE);
  EXPECT_EQ(volumes::file_code(root_ + "/missing"), 0);
  ASSERT_EQ(::setxattr((root_ + "/g").c_str(), "user.nsk.filecode", "12x", 3, 0), 0);
  EXPECT_EQ(volumes::file_code(root_ + "/g"), 0);  // not a number: none
}

}  // namespace
}  // namespace nsk
