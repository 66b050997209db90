// EDIT files on real files: created with code 101, appended to, refused when their content is
// not text (and then left untouched), readable by plain tools, and a full disk reported as 43
// with no partial line left behind.
#include "platform/editfiles.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/filesystem.h"
#include "platform/node.h"
#include "platform/volumes.h"

namespace nsk {
namespace {

namespace fs = std::filesystem;

class EditFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/netloc-edit-XXXXXX";
    dir_ = mkdtemp(pattern);
    node::Node n;
    n.name = "\\ALPHA";
    n.volumes.push_back({"$DATA", dir_ + "/data"});
    node::set_current(n);
    fs::create_directories(dir_ + "/data/OUT");
  }
  void TearDown() override {
    CLOSEALLEDIT();
    for (INT f = 0; f < 16; ++f) FILE_CLOSE_(f);
    fs::remove_all(dir_);
  }

  std::string path(const std::string& file) const { return dir_ + "/data/OUT/" + file; }
  std::string name(const std::string& file) const { return "$DATA.OUT." + file; }
  INT openedit(const std::string& file, INT* filenum, std::optional<INT> create = 1) {
    const std::string n = name(file);
    return OPENEDIT_(n.data(), static_cast<INT>(n.size()), filenum, 0, {}, {}, {}, create);
  }
  void write_file(const std::string& file, const std::string& content, int code) {
    std::ofstream(path(file), std::ios::binary) << content;
    if (code != 0) volumes::set_file_code(path(file), code);
  }
  static INT write_line(INT f, std::string_view line) {
    return WRITEEDIT(f, -2, line.data(), static_cast<INT>(line.size()));
  }

  std::string dir_;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(EditFiles, MissingFileIsCreatedAsAnEditFile) {
  INT f = -1;
  ASSERT_EQ(openedit("REPORT", &f), 0);
  EXPECT_EQ(volumes::file_code(path("REPORT")), 101);
  INT words[TYPEINFO_WORDS];
  ASSERT_EQ(FILE_GETINFO_(f, nullptr, nullptr, 0, nullptr, words), 0);
  EXPECT_EQ(words[4], 101);
  const std::string n = name("REPORT");
  ASSERT_EQ(FILE_GETINFOBYNAME_(n.data(), static_cast<INT>(n.size()), words), 0);
  EXPECT_EQ(words[0], 3);
  EXPECT_EQ(words[4], 101);
  EXPECT_EQ(SETMODE(f, 90, 0), 0);
  EXPECT_EQ(write_line(f, "TELNET window \\ALPHA.$ZTN0.#PTY1 is IP-Address: 10.1.2.3"), 0);
  EXPECT_EQ(write_line(f, ""), 0);
  EXPECT_EQ(write_line(f, "Address name: host"), 0);
  ASSERT_EQ(CLOSEALLEDIT(), 0);
  EXPECT_EQ(WRITEEDIT(f, -2, "x", 1), 16);
  EXPECT_EQ(read_file(path("REPORT")),
            "TELNET window \\ALPHA.$ZTN0.#PTY1 is IP-Address: 10.1.2.3\n\nAddress name: host\n");
}

TEST_F(EditFiles, MissingFileWithoutCreateIsError11) {
  INT f = 0;
  EXPECT_EQ(openedit("NONE", &f, std::nullopt), 11);
  EXPECT_EQ(f, -1);
  EXPECT_FALSE(fs::exists(path("NONE")));
  INT error = 0;
  FILE_GETINFO_(-1, &error);
  EXPECT_EQ(error, 11);
}

TEST_F(EditFiles, ExistingEditFileIsAppendedTo) {
  struct Case {
    const char* content;
    const char* after;
  };
  // A last line without its line end is completed first, so that lines never run together.
  static constexpr Case CASES[] = {{"old 1\nold 2\n", "old 1\nold 2\nnew\n"},
                                   {"no end", "no end\nnew\n"},
                                   {"", "new\n"}};
  for (const Case& c : CASES) {
    SCOPED_TRACE(c.content);
    write_file("LOG", c.content, 101);
    INT f = -1;
    ASSERT_EQ(openedit("LOG", &f), 0);
    EXPECT_EQ(write_line(f, "new"), 0);
    ASSERT_EQ(CLOSEALLEDIT(), 0);
    EXPECT_EQ(read_file(path("LOG")), c.after);
  }
}

TEST_F(EditFiles, ContentThatIsNotTextIsRefusedAndLeftAlone) {
  static const std::string CASES[] = {std::string("line\0line\n", 10), "bell\x07\n",
                                      std::string("\x01\x02\x03", 3)};
  for (const std::string& content : CASES) {
    SCOPED_TRACE(content.size());
    write_file("BAD", content, 101);
    ::chmod(path("BAD").c_str(), 0640);
    const auto before = fs::last_write_time(path("BAD"));
    INT f = 0;
    EXPECT_EQ(openedit("BAD", &f), 59);
    EXPECT_EQ(f, -1);
    EXPECT_EQ(read_file(path("BAD")), content);
    EXPECT_EQ(fs::last_write_time(path("BAD")), before);
    EXPECT_EQ(volumes::file_code(path("BAD")), 101);
  }
}

TEST_F(EditFiles, FileOfAnotherKindIsNotOpenedAsEditFile) {
  write_file("DATA", "plain\n", 0);
  INT f = 0;
  EXPECT_EQ(openedit("DATA", &f), 2);
  EXPECT_EQ(read_file(path("DATA")), "plain\n");
  const std::string terminal = "$NOSUCH";
  EXPECT_EQ(OPENEDIT_(terminal.data(), 7, &f, 0, {}, {}, {}, 1), 14);
}

TEST_F(EditFiles, LinesAreReadBackOneRecordEach) {
  write_file("TEXT", "first\nsecond line\n\nlast", 101);
  const std::string n = name("TEXT");
  INT f = -1;
  ASSERT_EQ(FILE_OPEN_(n.data(), static_cast<INT>(n.size()), &f), 0);
  INT words[TYPEINFO_WORDS];
  FILE_GETINFO_(f, nullptr, nullptr, 0, nullptr, words);
  EXPECT_EQ(words[4], 101);
  char buffer[6];
  INT count = 0;
  for (const char* expected : {"first", "second", "", "last"}) {
    SCOPED_TRACE(expected);
    ASSERT_EQ(READX(f, buffer, sizeof buffer, &count), 0);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(count)), expected);
  }
  EXPECT_EQ(READX(f, buffer, sizeof buffer, &count), 1);
  // A write through FILE_OPEN_ is one more line.
  EXPECT_EQ(WRITEX(f, "added", 5), 0);
  FILE_CLOSE_(f);
  EXPECT_EQ(read_file(path("TEXT")), "first\nsecond line\n\nlast\nadded\n");
}

TEST_F(EditFiles, WriteEditRefusesWhatIsNoLineOfThisFile) {
  INT f = -1;
  ASSERT_EQ(openedit("REPORT", &f), 0);
  EXPECT_EQ(WRITEEDIT(f, 1000, "x", 1), 2);
  EXPECT_EQ(write_line(f, "two\nlines"), 590);
  EXPECT_EQ(write_line(f, std::string_view("nul\0", 4)), 590);
  INT other = -1;
  ASSERT_EQ(FILE_OPEN_("$NOSUCH", 7, &other), 14);
  EXPECT_EQ(WRITEEDIT(7, -2, "x", 1), 16);
  ASSERT_EQ(CLOSEALLEDIT(), 0);
  EXPECT_EQ(read_file(path("REPORT")), "");
}

// Fills a 16 KiB tmpfs, in a mount namespace of a child process, with 1000-byte lines.
// Exit status: 0 passed, 1 failed, 77 no namespace or tmpfs here.
int fill_small_disk(const std::string& volume_dir) {
  if (unshare(CLONE_NEWNS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return 77;
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 77;
  if (mount("tmpfs", volume_dir.c_str(), "tmpfs", 0, "size=16k") != 0) return 77;
  INT f = -1;
  if (OPENEDIT_("$DATA.OUT.FULL", 14, &f, 0, {}, {}, {}, 1) != 0) return 77;
  const std::string line(999, 'x');
  INT error = 0;
  for (int i = 0; i < 100 && error == 0; ++i) {
    error = WRITEEDIT(f, -2, line.data(), static_cast<INT>(line.size()));
  }
  CLOSEALLEDIT();
  const auto size = fs::file_size(volume_dir + "/OUT/FULL");
  return error == 43 && size > 0 && size % 1000 == 0 ? 0 : 1;
}

TEST_F(EditFiles, FullDiskIsError43AndLeavesOnlyWholeLines) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(fill_small_disk(dir_ + "/data"));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace with tmpfs here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace nsk
