// Injected results of the platform procedures, through the node description's [[fault]] entries
// and per-process inject tables, each run as a user runs the program: every failure that the
// program handles gives its line or termination text, and every result it does not examine
// lets the run go on as if the call had worked.  Also a disk that fills while the OUT EDIT file
// is written, made real with RLIMIT_FSIZE.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>

#include "harness.h"

namespace {

using e2e::lines;
using e2e::run;
using Lines = std::vector<std::string>;

const std::string BANNER_1 = "NETLOC (402) - T4410K03 - (20May2008)   System \\DEMO, running NSK L21";
const std::string SPI_LINE = "TELNET window \\DEMO.$ZTN0.#PTY1 is IP-Address: 192.0.2.17  (spi)";
const std::string NAME_LINE = "Address name: ws17.demo.example";
const std::string CURRENT = "\\DEMO.$DATA.NETLOC.TERMIPA0";
const std::string PREVIOUS = "\\DEMO.$DATA.NETLOC.TERMIPA1";

std::string fault(const std::string& procedure, int call, int error) {
  return "[[fault]]\nprocedure = \"" + procedure + "\"\ncall = " + std::to_string(call) +
         "\nerror = " + std::to_string(error) + "\n";
}

// A run of netloc on the demo node with the given tables added, in its own state directory.
struct FaultRun {
  e2e::TempDir dir;
  e2e::RunResult result;
  FaultRun(const std::vector<std::string>& args, const std::string& tables,
      const std::string& program = "netloc") {
    const std::string node = dir.write("node.toml", e2e::demo_node("time_scale = 0.01", tables));
    result = run(program, args, node, {{"XDG_STATE_HOME", dir.path()}});
  }
};

// The report lines after the banner.
Lines after_banner(const e2e::RunResult& r) {
  Lines all = lines(r.out);
  if (all.size() < 2 || all[0] != BANNER_1) {
    ADD_FAILURE() << "no banner:\n" << r.out;
    return all;
  }
  return Lines(all.begin() + 2, all.end());
}

struct ReportCase {
  const char* what;
  std::vector<std::string> args;
  std::string tables;
  Lines report;  // after the banner
};

// Each case's run ends normally, with nothing on standard error and its report after the banner.
void expect_reports(std::span<const ReportCase> cases) {
  for (const ReportCase& c : cases) {
    SCOPED_TRACE(c.what);
    const FaultRun r(c.args, c.tables);
    EXPECT_EQ(r.result.status, 0) << r.result.err;
    EXPECT_EQ(r.result.err, "");
    EXPECT_EQ(after_banner(r.result), c.report);
  }
}

// In SPI mode at the demo's home window the FILE_OPEN_ calls are: 1 the home terminal, 2 the
// OUT file (the home terminal again), 3 the node's SPI file.  The SPI request's SSPUTTKN calls
// are 1 to 4 for the request's tokens, 5 the buffer length and 6 the reset before reading.
TEST(Faults, WindowQueryStepsGiveTheirClass) {
  const std::vector<std::string> spi = {"SPI"};
  const auto failed = [](const char* code) {
    return Lines{"Can't fetch window address", std::string("GetWinAddr error: ") + code};
  };
  const ReportCase cases[] = {
      {"open of the SPI file", spi, fault("FILE_OPEN_", 3, 14), failed("8206")},
      {"SSINIT", spi, fault("SSINIT", 0, 22), failed("16406")},
      {"window name token", spi, fault("SSPUTTKN", 1, 22), failed("20502")},
      {"server name token", spi, fault("SSPUTTKN", 2, 22), failed("24598")},
      {"value -2 token", spi, fault("SSPUTTKN", 3, 22), failed("28694")},
      {"value 0 token", spi, fault("SSPUTTKN", 4, 22), failed("-32746")},
      {"used length", spi, fault("SSGETTKN", 1, 22), failed("-28650")},
      {"exchange", spi, fault("WRITEREADX", 0, 22), failed("-24554")},
      {"buffer length", spi, fault("SSPUTTKN", 5, 22), failed("-20458")},
      {"reset token", spi, fault("SSPUTTKN", 6, 22), failed("-16362")},
      {"window record", spi, fault("SSGET", 1, 22), failed("-12266")},
      {"open of the X.25 window", {"SPI", "$X25A.#W1"}, fault("FILE_OPEN_", 3, 14), failed("4110")},
  };
  expect_reports(cases);
}

// Results the program does not examine: the run goes on as if the call had worked.
TEST(Faults, UnexaminedResultsLetTheRunGoOn) {
  const ReportCase cases[] = {
      {"SETMODENOWAIT BREAK mode of the OUT terminal", {"SPI"}, fault("SETMODENOWAIT", 0, 2),
       {SPI_LINE, NAME_LINE}},
      {"search of the process's opens", {"SPI"}, fault("FILE_GETINFOLIST_", 0, 22),
       {SPI_LINE, NAME_LINE}},
      {"the emulator's terminal cannot be opened", {}, fault("FILE_OPEN_", 3, 14),
       {SPI_LINE, NAME_LINE}},
      {"the query cannot be written", {}, fault("WRITEREADX", 1, 201), {SPI_LINE, NAME_LINE}},
      {"X.25 SETPARAM", {"SPI", "$X25A.#W1"}, fault("SETPARAM", 0, 201),
       {"X.25 window $X25A.#W1 has DTE number: "}},
      {"GEMINI window cannot be opened: the SPI request serves", {"SPI", "$GEM1.#W1"},
       fault("FILE_OPEN_", 3, 14),
       {"TELNET window $GEM1.#W1 is IP-Address: 198.51.100.7  (spi)",
        "Address name: gem7.demo.example"}},
      {"the reverse lookup finds nothing", {"SPI"}, fault("GRD_gethostbyaddr_", 0, 1),
       {SPI_LINE}},
      {"the address does not convert: its error value finds no name", {"SPI"},
       fault("inet_addr", 0, 1), {SPI_LINE}},
      {"GEMINI identification fails: the SPI request serves", {"SPI", "$GEM1.#W1"},
       fault("SETPARAM", 1, 201),
       {"TELNET window $GEM1.#W1 is IP-Address: 198.51.100.7  (spi)",
        "Address name: gem7.demo.example"}},
  };
  expect_reports(cases);
}

TEST(Faults, HomeTerminalThatCannotBeOpenedLosesItsLinesOnly) {
  // The banner is lost; the report lines go through the OUT file, opened on their own.
  const FaultRun r({"SPI"}, fault("FILE_OPEN_", 1, 14));
  EXPECT_EQ(r.result.status, 0) << r.result.err;
  EXPECT_EQ(lines(r.result.out), (Lines{SPI_LINE, NAME_LINE}));

  // An error line meant for the home terminal is lost as well; the exit is the same.
  const FaultRun failing({"SPI"}, fault("FILE_OPEN_", 1, 14) + fault("SSINIT", 0, 22));
  EXPECT_EQ(failing.result.status, 0) << failing.result.err;
  EXPECT_EQ(failing.result.out, "");
}

TEST(Faults, OutFileThatCannotBeOpened) {
  const ReportCase cases[] = {
      {"type information", {"SPI"}, fault("FILE_GETINFOBYNAME_", 1, 201),
       {"Can't open OUT file", "Error: 201"}},
      {"open of the OUT terminal", {"SPI"}, fault("FILE_OPEN_", 2, 14),
       {"Can't open OUT file", "Error: 14"}},
  };
  for (const ReportCase& c : cases) {
    SCOPED_TRACE(c.what);
    const FaultRun r(c.args, c.tables);
    EXPECT_EQ(r.result.status, 0) << r.result.err;
    EXPECT_EQ(after_banner(r.result), c.report);
  }
  // A new EDIT file as OUT: the error of OPENEDIT_ or of its SETMODE 90 is the result.  The
  // banner is not written, since the OUT file is not the home terminal.
  const struct {
    const char* what;
    std::string tables;
    const char* error_line;
  } edit_cases[] = {
      {"OPENEDIT_", fault("OPENEDIT_", 0, 48), "Error: 48"},
      {"SETMODE 90", fault("SETMODE", 0, 2), "Error: 2"},
  };
  for (const auto& c : edit_cases) {
    SCOPED_TRACE(c.what);
    const FaultRun r({"/OUT", "$DATA.NETLOC.REPORT/", "SPI"}, c.tables);
    EXPECT_EQ(r.result.status, 0) << r.result.err;
    EXPECT_EQ(lines(r.result.out), (Lines{"Can't open OUT file", c.error_line}));
  }
}

TEST(Faults, FailedWriteToTheOutTerminalStopsWithoutAMessage) {
  const std::string tables =
      "[[destination]]\nname = \"$OUTT\"\ndevice_type = 6\n"
      "terminal = [ { name = \"\", output = { fail_after = 0, error = 201 } } ]\n";
  const FaultRun r({"/OUT", "$OUTT/", "SPI"}, tables);
  EXPECT_EQ(r.result.status, 0) << r.result.err;
  EXPECT_EQ(r.result.out, "");
  EXPECT_EQ(r.result.err, "");
}

// The pair lookup for the terminal's process gives a result other than 0, 4, 5 and 6: the
// chain of ancestors is not walked (the demo's $TACL1 otherwise finds 192.0.2.23 in it).
TEST(Faults, PairLookupResultThatSkipsTheChain) {
  e2e::TempDir dir;
  std::string node = e2e::demo_node("time_scale = 0.01");
  const std::string marker = "name = \"$TACL1\"\n";
  ASSERT_NE(node.find(marker), std::string::npos);
  node.replace(node.find(marker), marker.size(),
               marker + "inject = { PROCESS_GETPAIRINFO_ = 9 }\n");
  const e2e::RunResult injected = run("netloc", {"SPI", "$TACL1"}, dir.write("node.toml", node),
                                      {{"XDG_STATE_HOME", dir.path()}});
  EXPECT_EQ(injected.status, 0) << injected.err;
  EXPECT_EQ(after_banner(injected), (Lines{"This is a process"}));
}

// ---- the address database -------------------------------------------------------------------

// A state directory in which the pair exists already (made by one store without faults).
class Database : public ::testing::Test {
 protected:
  void SetUp() override {
    const e2e::RunResult first = store("");
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_TRUE(std::filesystem::exists(dir_.path() + "/netloc/demo/NETLOC/TERMIPA1"));
  }
  e2e::RunResult store(const std::string& tables, const std::vector<std::string>& args = {
                                                      "PLAIN", "SPI"}) {
    const std::string node =
        dir_.write("node" + std::to_string(++runs_) + ".toml",
                   e2e::demo_node("time_scale = 0.01", tables));
    return run("netloc", args, node, {{"XDG_STATE_HOME", dir_.path()}});
  }
  // The record lines of a dump (its "#" lines left out).
  std::vector<std::string> dump(char generation) {
    const e2e::RunResult r =
        run("netloc-dbdump", {dir_.path() + "/netloc/demo/NETLOC/TERMIPA" + generation});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> records;
    for (const std::string& line : lines(r.out)) {
      if (line.rfind('#', 0) != 0) records.push_back(line);
    }
    return records;
  }
  e2e::TempDir dir_;
  int runs_ = 0;
};

// In PLAIN SPI mode the FILE_OPEN_ calls are: 1 the SPI file, 2 the current file, 3 the
// previous file of a rotation.  The window $ZTN0.#PTY2 has no record yet, so its store inserts.
TEST_F(Database, FailuresThatStopTheStoreWithTheirText) {
  const std::vector<std::string> insert = {"PLAIN", "SPI", "$ZTN0.#PTY2"};
  const struct {
    const char* what;
    std::string tables;
    std::string text;
  } cases[] = {
      {"current file", fault("FILE_OPEN_", 2, 48), "Can't open " + CURRENT + "; I/O error: 48"},
      {"previous file in a rotation", fault("WRITEX", 1, 45) + fault("FILE_OPEN_", 3, 48),
       "Can't open " + PREVIOUS + "; I/O error: 48"},
      {"insert after the rotation", fault("WRITEX", 0, 45),
       "Can't write to OUT file; I/O error: 45"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const e2e::RunResult r = store(c.tables, insert);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(lines(r.err), (Lines{c.text}));
    EXPECT_EQ(r.out, "");
  }
}

// The renames of a rotation fail: their results are not looked at.  The emptied previous file
// keeps its name and takes the record; the full current file keeps its records.
TEST_F(Database, RotationWhoseRenamesFail) {
  const std::vector<std::string> current = dump('0');
  const e2e::RunResult r =
      store(fault("WRITEX", 1, 45) + fault("FILE_RENAME_", 0, 10), {"PLAIN", "SPI", "$ZTN0.#PTY2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(dump('0'), current);
  const std::vector<std::string> previous = dump('1');
  ASSERT_EQ(previous.size(), 1u);
  EXPECT_EQ(previous[0].rfind("terminal=\"$ZTN0.#PTY2\"", 0), 0u) << previous[0];
}

// A failed write to an OUT file that is neither a terminal nor an EDIT file is ignored: the
// next line is written all the same.
TEST(Faults, FailedWriteToAnOrdinaryOutFileIsIgnored) {
  e2e::TempDir dir;
  const std::string node = dir.write("node.toml", e2e::demo_node("time_scale = 0.01", fault("WRITEX", 1, 43)));
  const std::string out = dir.write("netloc/demo/NETLOC/PLAINOUT", "");
  const e2e::RunResult r = run("netloc", {"/OUT", "$DATA.NETLOC.PLAINOUT/", "SPI"}, node,
                               {{"XDG_STATE_HOME", dir.path()}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  std::ifstream in(out, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, NAME_LINE);
}

TEST(Faults, CreatingThePairFails) {
  const FaultRun r({"PLAIN", "SPI"}, fault("FILE_CREATE_", 0, 43));
  EXPECT_EQ(r.result.status, 2);
  EXPECT_EQ(lines(r.result.err), (Lines{"Can't create " + CURRENT + "; I/O error: 43"}));
}

// Results the store does not examine: the process stops normally, without a text.
TEST_F(Database, UnexaminedResultsOfTheStore) {
  const std::vector<std::string> stored = dump('0');
  ASSERT_EQ(stored.size(), 1u);

  // The rewrite of the existing record fails: the record stays as it was.
  e2e::RunResult r = store(fault("WRITEUPDATEX", 0, 59));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(dump('0'), stored);

  // A read status other than 0 and 1: nothing is written.
  r = store(fault("READX", 0, 59), {"PLAIN", "SPI", "$ZTN0.#PTY2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dump('0'), stored);

  // The lock, the attribute-82 request: the record is stored all the same.
  r = store(fault("LOCKFILE", 0, 12) + fault("PROCESS_GETINFOLIST_", 0, 22),
            {"PLAIN", "SPI", "$ZTN0.#PTY2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> after = dump('0');
  ASSERT_EQ(after.size(), 2u);
  // Keys sort byte by byte: "$ZTN0.#PTY2" comes before "\DEMO.$ZTN0.#PTY1".
  EXPECT_EQ(after[1], stored[0]);
  std::string blanks;
  for (int i = 0; i < 32; ++i) blanks += "20";
  EXPECT_EQ(after[0].rfind("terminal=\"$ZTN0.#PTY2\" address=\"192.0.2.23\"", 0), 0u) << after[0];
  EXPECT_NE(after[0].find("process=" + blanks), std::string::npos) << after[0];
}

TEST(Faults, SecurityOfANewPairIsNotExamined) {
  const FaultRun r({"PLAIN", "SPI"}, fault("SETMODE", 0, 2));
  EXPECT_EQ(r.result.status, 0) << r.result.err;
  EXPECT_EQ(r.result.err, "");
  EXPECT_TRUE(std::filesystem::exists(r.dir.path() + "/netloc/demo/NETLOC/TERMIPA0"));
}

TEST_F(Database, ListingFailures) {
  // FILE_OPEN_ calls of a listing: 1 the home terminal, 2 the previous file, 3 the current.
  e2e::RunResult r = store(fault("FILE_OPEN_", 2, 48), {"IS", "$ZTN0"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines(r.out), (Lines{"Can't open " + PREVIOUS, "Open error: 48"}));

  // A read error ends the search of a file silently, like the end of its records.
  r = store(fault("READX", 0, 59), {"IS", "$ZTN0"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines(r.out), (Lines{"Terminal unknown"}));
}

// ---- a disk that fills while the OUT EDIT file is written --------------------------------------

// The file-size limit of the run: a write past it fails with EFBIG (SIGXFSZ is ignored), which
// stands for a full disk.  Set in this process only around the run, so that the program
// inherits it.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit saved_{};
  void (*old_handler_)(int) = nullptr;
};

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Faults, DiskFullWhileWritingTheOutEditFile) {
  e2e::TempDir dir;
  const std::string node = dir.write("node.toml", e2e::demo_node("time_scale = 0.01"));
  const std::map<std::string, std::string> env = {{"XDG_STATE_HOME", dir.path()}};
  const std::string edit = dir.path() + "/netloc/demo/NETLOC/REPORT";
  const std::vector<std::string> args = {"/OUT", "$DATA.NETLOC.REPORT/", "SPI"};

  // A first report makes the EDIT file: its two lines.
  e2e::RunResult r = run("netloc", args, node, env);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string before = file_text(edit);
  ASSERT_EQ(lines(before), (Lines{SPI_LINE, NAME_LINE}));

  // Room for the first line of the next report but not the second: whole lines only remain.
  {
    const FileSizeLimit limit(before.size() + SPI_LINE.size() + 10);
    r = run("netloc", args, node, env);
  }
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string after = file_text(edit);
  EXPECT_EQ(after.compare(0, before.size(), before), 0);
  EXPECT_EQ(after.back(), '\n');
  const Lines all = lines(after);
  ASSERT_GE(all.size(), 2u);
  for (const std::string& line : all) EXPECT_TRUE(line == SPI_LINE || line == NAME_LINE) << line;

  // Without room for anything: the file is left as it was.
  {
    const FileSizeLimit limit(after.size());
    r = run("netloc", args, node, env);
  }
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(file_text(edit), after);
}

}  // namespace
