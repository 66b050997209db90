// The file system on a node described here: what each kind of name opens, the open list that
// OPENNUM walks, the last open error, unstructured disk files, process opens, depth-1 nowait
// rules, SETMODE security, window SETPARAM answers and injected faults.
#include "platform/filesystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/editfiles.h"
#include "platform/node.h"
#include "platform/volumes.h"

namespace nsk {
namespace {

namespace fs = std::filesystem;

node::Destination destination(std::string name, int type, std::vector<node::Terminal> terminals,
                              std::string gemini_id = "") {
  node::Destination d;
  d.name = std::move(name);
  d.device_type = type;
  d.device_subtype = type == node::DEVICE_TELNET ? 3 : 0;
  d.gemini_id = std::move(gemini_id);
  d.terminals = std::move(terminals);
  return d;
}

node::Terminal terminal(std::string name) {
  node::Terminal t;
  t.name = std::move(name);
  return t;
}

class FileSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/netloc-fs-XXXXXX";
    dir_ = mkdtemp(pattern);
    node::Node n;
    n.name = "\\ALPHA";
    n.volumes.push_back({"$DATA", dir_ + "/data"});
    n.remote_nodes.push_back({"\\TIGRA", 7});
    n.self.name = "$NLOC";
    n.self.program = "\\ALPHA.$DATA.NETLOC.NETLOC";
    node::Process tacl;
    tacl.name = "$TACL1";
    n.processes.push_back(tacl);
    node::Process telserv;
    telserv.name = "$ZTN0";
    n.processes.push_back(telserv);
    node::Terminal x25 = terminal("#W1");
    x25.dte = "4711000123";
    node::Terminal gem = terminal("#G1");
    gem.gemini_address = std::string("\x0A\x14\x00\x07", 4);
    gem.gemini_port = std::string("\x9C\x40", 2);
    gem.gemini_address2 = "";
    n.destinations = {destination("$TC1", node::DEVICE_TERMINAL, {terminal("")}),
                      destination("$ENV", node::DEVICE_ENVOY, {terminal("#E1")}),
                      destination("$ZTN0", node::DEVICE_TELNET, {terminal("#PTY1")}),
                      destination("$GEM1", node::DEVICE_TELNET, {gem}, "GEMINI STN 4.2"),
                      destination("$X25", node::DEVICE_X25, {x25}),
                      destination("$ASY", node::DEVICE_ASYNC, {terminal("#A1")})};
    n.faults = faults_;
    node::set_current(n);
    fs::create_directories(dir_ + "/data/NETLOC");
  }
  void TearDown() override {
    for (INT f = 0; f < 64; ++f) FILE_CLOSE_(f);
    fs::remove_all(dir_);
  }

  INT open(std::string_view name, INT* filenum, INT nowait = 0) {
    return FILE_OPEN_(name.data(), static_cast<INT>(name.size()), filenum, {}, {}, nowait);
  }
  std::string write_file(const std::string& relative, const std::string& content) {
    const std::string path = dir_ + "/data/" + relative;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  std::string dir_;
  std::vector<node::Fault> faults_;
};

struct Classified {
  const char* name;
  INT error;
  INT words[TYPEINFO_WORDS];
};

TEST_F(FileSystem, GetInfoByNameClassifiesEveryKindOfName) {
  write_file("NETLOC/PLAIN", "bytes");
  volumes::set_file_code(write_file("NETLOC/REPORT", "a line\n"), 101);
  static constexpr Classified CASES[] = {
      {"\\ALPHA.$TC1", 0, {6, 0, -1, -1, 0}},
      {"$ENV.#E1", 0, {7, 0, -1, -1, 0}},
      // A window of a Telnet server is a terminal; only its server piece says 46.
      {"\\alpha.$ztn0.#pty1", 0, {6, 3, -1, -1, 0}},
      {"\\ALPHA.$ZTN0", 0, {46, 3, -1, -1, 0}},
      {"$X25", 0, {61, 0, -1, -1, 0}},
      {"$ASY.#A1", 0, {53, 0, -1, -1, 0}},
      {"$TACL1", 0, {0, 0, -1, -1, 0}},
      {"$NLOC", 0, {0, 0, -1, -1, 0}},
      {"\\ALPHA.$ZNET.#ZSPI", 0, {0, 0, -1, -1, 0}},
      {"$DATA", 0, {3, 0, -1, -1, 0}},
      {"$DATA.NETLOC.PLAIN", 0, {3, 0, 0, 0, 0}},
      {"$DATA.NETLOC.REPORT", 0, {3, 0, 0, 0, 101}},
      {"$DATA.NETLOC.MISSING", 11, {}},
      {"$DATA.NOSUB.MISSING", 11, {}},
      {"$NOSUCH", 14, {}},
      {"$ZTN0.#NOSUCH", 14, {}},
      {"\\TIGRA.$ZTN0.#PTY1", 201, {}},
      {"\\NOWHERE.$ZTN0.#PTY1", 14, {}},
      {"$ZTN0..#X", 13, {}},
  };
  for (const Classified& c : CASES) {
    SCOPED_TRACE(c.name);
    INT words[TYPEINFO_WORDS] = {99, 99, 99, 99, 99};
    EXPECT_EQ(FILE_GETINFOBYNAME_(c.name, static_cast<INT>(std::strlen(c.name)), words), c.error);
    if (c.error == 0) {
      for (int i = 0; i < TYPEINFO_WORDS; ++i) EXPECT_EQ(words[i], c.words[i]) << "word " << i;
    }
  }
}

TEST_F(FileSystem, OpenListGivesEveryOpenWithItsNameAndNowaitDepth) {
  INT a = -1, b = -1, c = -1;
  ASSERT_EQ(open("$TC1", &a), 0);
  ASSERT_EQ(open("$ZNET.#ZSPI", &b, 1), 0);
  ASSERT_EQ(open("$X25.#W1", &c), 0);
  ASSERT_EQ(FILE_CLOSE_(a), 0);
  // As OPENNUM walks it: items 19 and 20 of the process, then 19, 20, 23, 1, 2 of each file.
  const INT process_items[] = {19, 20};
  INT result[22];
  INT length = 0;
  ASSERT_EQ(FILE_GETINFOLIST_(-1, process_items, 2, result, 44, &length), 0);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(result[0], -1);
  EXPECT_EQ(result[1], b);
  const INT items[] = {19, 20, 23, 1, 2};
  struct Expected {
    INT filenum, next, nowait;
    std::string name;
  };
  const Expected expected[] = {{b, c, 1, "\\ALPHA.$ZNET.#ZSPI"}, {c, -1, 0, "\\ALPHA.$X25.#W1"}};
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.name);
    ASSERT_EQ(FILE_GETINFOLIST_(e.filenum, items, 5, result, 44, &length), 0);
    EXPECT_EQ(result[0], e.filenum);
    EXPECT_EQ(result[1], e.next);
    EXPECT_EQ(result[2], e.nowait);
    EXPECT_EQ(result[3], static_cast<INT>(e.name.size()));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(result + 4), e.name.size()), e.name);
    EXPECT_EQ(length, 8 + ((e.name.size() + 1) & ~size_t{1}));
  }
}

TEST_F(FileSystem, OpenListRefusesWhatItCannotServe) {
  INT f = -1;
  ASSERT_EQ(open("$ZNET.#ZSPI", &f, 1), 0);
  const INT items[] = {19, 20, 23, 1, 2};
  INT result[4];
  INT error_item = -1;
  EXPECT_EQ(FILE_GETINFOLIST_(f, items, 5, result, 8, nullptr, &error_item), 563);
  EXPECT_EQ(error_item, 4);
  const INT unknown[] = {19, 77};
  EXPECT_EQ(FILE_GETINFOLIST_(f, unknown, 2, result, 8, nullptr, &error_item), 2);
  EXPECT_EQ(error_item, 1);
  EXPECT_EQ(FILE_GETINFOLIST_(f + 5, items, 1, result, 8), 16);
}

TEST_F(FileSystem, LastOpenErrorIsKeptForFileMinusOne) {
  INT f = 5;
  EXPECT_EQ(open("$DATA.NETLOC.NOFILE", &f), 11);
  EXPECT_EQ(f, -1);
  INT error = 0;
  ASSERT_EQ(FILE_GETINFO_(-1, &error), 0);
  EXPECT_EQ(error, 11);
  ASSERT_EQ(open("$TC1", &f), 0);
  ASSERT_EQ(FILE_GETINFO_(-1, &error), 0);
  EXPECT_EQ(error, 0);
  char name[40];
  INT name_length = 0;
  INT words[TYPEINFO_WORDS];
  ASSERT_EQ(FILE_GETINFO_(f, &error, name, sizeof name, &name_length, words), 0);
  EXPECT_EQ(std::string(name, static_cast<size_t>(name_length)), "\\ALPHA.$TC1");
  EXPECT_EQ(words[0], 6);
  EXPECT_EQ(FILE_GETINFO_(f, &error, name, 5, &name_length), 563);
}

TEST_F(FileSystem, OpenErrorsForNamesThatOpenNothing) {
  static constexpr struct {
    const char* name;
    INT error;
  } CASES[] = {{"$NOSUCH", 14}, {"\\TIGRA.$ZNET.#ZSPI", 201}, {"\\NOWHERE.$ZNET.#ZSPI", 14},
               {"$ENV", 14},    {"$DATA", 2},                {"$DATA.NETLOC.NONE", 11},
               {"$ZTN0.#PTY9", 14}};
  for (const auto& c : CASES) {
    SCOPED_TRACE(c.name);
    INT f = 0;
    EXPECT_EQ(open(c.name, &f), c.error);
    EXPECT_EQ(f, -1);
  }
}

TEST_F(FileSystem, UnstructuredFileAppendsWritesAndReadsThemBack) {
  const std::string path = write_file("NETLOC/LOG", "old;");
  INT f = -1;
  ASSERT_EQ(open("$DATA.NETLOC.LOG", &f), 0);
  INT count = 0;
  ASSERT_EQ(WRITEX(f, "new", 3, &count), 0);
  EXPECT_EQ(count, 3);
  char buffer[16];
  ASSERT_EQ(READX(f, buffer, sizeof buffer, &count), 0);
  EXPECT_EQ(std::string(buffer, static_cast<size_t>(count)), "old;new");
  EXPECT_EQ(READX(f, buffer, sizeof buffer, &count), 1);
  INT error = 0;
  FILE_GETINFO_(f, &error);
  EXPECT_EQ(error, 1);
  std::ifstream in(path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old;new");
  EXPECT_EQ(KEYPOSITIONX(f, "k", 0, 1, 1, POSITION_EXACT), 2);
  EXPECT_EQ(LOCKFILE(f), 2);
  EXPECT_EQ(FILE_RENAME_(f, "$DATA.NETLOC.LOG2", 17), 2);
}

TEST_F(FileSystem, SecurityOwnerOnlyMakesTheFileMode0600) {
  const std::string path = write_file("NETLOC/SECRET", "");
  ::chmod(path.c_str(), 0666);
  INT f = -1;
  ASSERT_EQ(open("$DATA.NETLOC.SECRET", &f), 0);
  // "OOOO": each of the four fields 2 (owner).
  constexpr INT OWNER_ONLY = (2 << 9) | (2 << 6) | (2 << 3) | 2;
  ASSERT_EQ(SETMODE(f, 1, OWNER_ONLY), 0);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // "NUNU": anyone may read, only the owner write.
  ASSERT_EQ(SETMODE(f, 1, INT{(4 << 9) | (6 << 6) | (4 << 3) | 6}), 0);
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(SETMODE(f, 1), 29);
}

TEST_F(FileSystem, ProcessOpenAcceptsWritesAndDiscardsThem) {
  INT server = -1;
  ASSERT_EQ(open("$ZTN0", &server), 0);  // the Telnet server process behind its windows
  INT words[TYPEINFO_WORDS];
  ASSERT_EQ(FILE_GETINFO_(server, nullptr, nullptr, 0, nullptr, words), 0);
  EXPECT_EQ(words[0], 0);
  INT f = -1;
  ASSERT_EQ(open("$TACL1", &f), 0);
  INT count = 0;
  EXPECT_EQ(WRITEX(f, "hello", 5, &count), 0);
  EXPECT_EQ(count, 5);
  char buffer[8];
  EXPECT_EQ(READX(f, buffer, sizeof buffer, &count), 2);
}

TEST_F(FileSystem, NowaitDepthOneAllowsOneOperationAtATime) {
  INT f = -1;
  ASSERT_EQ(open("$TACL1", &f, 1), 0);
  INT any = -1;
  EXPECT_EQ(AWAITIOX(&any), 26);
  ASSERT_EQ(WRITEX(f, "a", 1, nullptr, 7), 0);
  EXPECT_EQ(WRITEX(f, "b", 1), 27);
  INT count = 0;
  INT32 tag = 0;
  ASSERT_EQ(AWAITIOX(&any, &count, &tag, 100), 0);
  EXPECT_EQ(any, f);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(tag, 7);
  INT fnum = f;
  EXPECT_EQ(AWAITIOX(&fnum), 26);
}

struct SetParamCase {
  const char* window;
  INT function;
  INT answer_max;
  INT error;
  std::string_view answer;
};

TEST_F(FileSystem, WindowSetParamAnswersAsTheNodeGivesThem) {
  static constexpr SetParamCase CASES[] = {
      {"$X25.#W1", 1, 36, 0, "4711000123"},
      {"$X25.#W1", 1, 4, 0, "4711"},
      {"$X25.#W1", 200, 36, 2, ""},
      {"$GEM1.#G1", 200, 36, 0, "GEMINI STN 4.2"},
      {"$GEM1.#G1", 201, 36, 0, std::string_view("\x0A\x14\x00\x07", 4)},
      {"$GEM1.#G1", 205, 36, 0, "\x9C\x40"},
      {"$GEM1.#G1", 206, 36, 0, ""},
      {"$GEM1.#G1", 207, 36, 0, ""},
      {"$GEM1.#G1", 1, 36, 2, ""},
      {"$ZTN0.#PTY1", 200, 36, 2, ""},
      {"$TC1", 1, 36, 2, ""},
  };
  for (const SetParamCase& c : CASES) {
    for (INT nowait : {0, 1}) {
      SCOPED_TRACE(std::string(c.window) + " " + std::to_string(c.function) +
                   (nowait ? " nowait" : " waited"));
      INT f = -1;
      ASSERT_EQ(open(c.window, &f, nowait), 0);
      char answer[36];
      std::memset(answer, '*', sizeof answer);
      INT count = -1;
      if (nowait) {
        ASSERT_EQ(SETPARAM(f, c.function, nullptr, 0, answer, c.answer_max, &count, -2), 0);
        INT fnum = f;
        EXPECT_EQ(AWAITIOX(&fnum, &count, nullptr, 3000), c.error);
      } else {
        EXPECT_EQ(SETPARAM(f, c.function, nullptr, 0, answer, c.answer_max, &count), c.error);
      }
      EXPECT_EQ(std::string_view(answer, static_cast<size_t>(count)), c.answer);
      EXPECT_EQ(answer[c.answer.size()], '*');
      INT error = -1;
      FILE_GETINFO_(f, &error);
      EXPECT_EQ(error, c.error);
      FILE_CLOSE_(f);
    }
  }
}

// Call counts run for the whole test program, so these faults hit every call.
class InjectedFaults : public FileSystem {
 protected:
  void SetUp() override {
    faults_ = {{"OPENEDIT_", 0, 48}, {"WRITEX", 0, 43}, {"FILE_GETINFOBYNAME_", 0, 201}};
    FileSystem::SetUp();
  }
};

TEST_F(InjectedFaults, AProcedureReturnsTheInjectedErrorAndRecordsIt) {
  INT f = -1, edit = 7;
  ASSERT_EQ(open("$TACL1", &f), 0);
  EXPECT_EQ(OPENEDIT_("$DATA.NETLOC.OUT", 16, &edit, 0, {}, {}, {}, 1), 48);
  EXPECT_EQ(edit, -1);
  EXPECT_FALSE(fs::exists(dir_ + "/data/NETLOC/OUT"));
  INT error = 0;
  FILE_GETINFO_(-1, &error);
  EXPECT_EQ(error, 48);
  EXPECT_EQ(WRITEX(f, "x", 1), 43);
  FILE_GETINFO_(f, &error);
  EXPECT_EQ(error, 43);
  INT words[TYPEINFO_WORDS];
  EXPECT_EQ(FILE_GETINFOBYNAME_("$TC1", 4, words), 201);
}

}  // namespace
}  // namespace nsk
