// The OUT file of the run option with real files: created as an EDIT file, appended to, written
// plainly, a terminal, an empty OUT, and names that cannot be opened.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "harness.h"

namespace {

using e2e::lines;
using e2e::run;

using Lines = std::vector<std::string>;

const std::string SPI_LINE = "TELNET window \\DEMO.$ZTN0.#PTY1 is IP-Address: 192.0.2.17  (spi)";
const std::string NAME_LINE = "Address name: ws17.demo.example";

std::string read_file(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream content;
  content << stream.rdbuf();
  return content.str();
}

// Runs on the demo node with its volume $DATA under the fixture's directory.
class OutFile : public ::testing::Test {
 protected:
  e2e::TempDir state;
  std::string node = state.write("node.toml", e2e::demo_node("time_scale = 0.001"));

  e2e::RunResult netloc(const Lines& args) {
    return run("netloc", args, node, {{"XDG_STATE_HOME", state.path()}});
  }
  // Host path of $DATA.NETLOC.<file>.
  std::string data_file(const std::string& file) const {
    return state.path() + "/netloc/demo/NETLOC/" + file;
  }
};

TEST_F(OutFile, MissingFileIsCreatedAsAnEditFileAndThenAppendedTo) {
  const e2e::RunResult first = netloc({"/OUT", "$DATA.NETLOC.REPORT/", "SPI"});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "");  // no banner: the OUT file is not the home terminal
  EXPECT_EQ(read_file(data_file("REPORT")), SPI_LINE + "\n" + NAME_LINE + "\n");

  // A partial name is completed with the default volume and subvolume, $DATA.NETLOC.
  const e2e::RunResult second = netloc({"/OUT", "report/", "SPI", "TERMINAL", "$ZTN0.#PTY2"});
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(lines(read_file(data_file("REPORT"))),
            (Lines{SPI_LINE, NAME_LINE,
                   "TELNET window $ZTN0.#PTY2 is IP-Address: 192.0.2.23  (spi)",
                   "Address name: ws23.demo.example"}));
}

TEST_F(OutFile, LinesForOtherTerminalsStayOnTheHomeTerminal) {
  const e2e::RunResult r = netloc({"/OUT $DATA.NETLOC.REPORT/", "SPI", "$TC1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines(r.out), (Lines{"This is an ordinary terminal"}));
  // The OUT file is opened (created) before the terminal is examined, and stays empty.
  EXPECT_EQ(read_file(data_file("REPORT")), "");
}

TEST_F(OutFile, AnotherDiskFileKeepsItsContentAndGetsPlainWrites) {
  std::filesystem::create_directories(std::filesystem::path(data_file("PLAIN")).parent_path());
  std::ofstream(data_file("PLAIN")) << "existing\n";
  const e2e::RunResult r = netloc({"/OUT $DATA.NETLOC.PLAIN/", "SPI"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const std::string content = read_file(data_file("PLAIN"));
  EXPECT_EQ(content.rfind("existing\n", 0), 0u) << content;
  EXPECT_NE(content.find(SPI_LINE), std::string::npos) << content;
  EXPECT_NE(content.find(NAME_LINE), std::string::npos) << content;
}

TEST_F(OutFile, ATerminalAsOutFile) {
  const e2e::RunResult r = netloc({"/OUT $TC1/", "SPI"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines(r.out), (Lines{SPI_LINE, NAME_LINE}));  // $TC1 writes to the console too
}

TEST_F(OutFile, ATerminalWhoseWriteFailsStopsTheProgram) {
  const std::string failing = state.write(
      "failing.toml",
      e2e::demo_node("time_scale = 0.001",
                     "[[destination]]\nname = \"$TF1\"\ndevice_type = 6\n"
                     "terminal = [ { name = \"\", output = { fail_after = 0, error = 201 } } ]\n"));
  const e2e::RunResult r = run("netloc", {"/OUT $TF1/", "SPI"}, failing,
                               {{"XDG_STATE_HOME", state.path()}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST_F(OutFile, AnEmptyOutSilencesOnlyTheReportLines) {
  struct Case {
    Lines args;
    Lines shown;
  };
  const Case cases[] = {
      {{"/OUT/", "SPI"}, {}},
      {{"/OUT/", "SPI", "$TC1"}, {"This is an ordinary terminal"}},
      {{"/OUT/", "SPI", "$X25A.#W1"}, {"X.25 window $X25A.#W1 has DTE number: 31102150123456"}},
      // With a stay-alive time the report lines go to the home terminal, without a banner.
      {{"/OUT/", "SPI", "WAITTIME", "5000"},
       {SPI_LINE, NAME_LINE, "Staying alive for 5000 milliseconds"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const e2e::RunResult r = netloc(c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out), c.shown);
  }
  const e2e::RunResult help = netloc({"/OUT/", "-HELP"});
  EXPECT_EQ(lines(help.out).size(), 64u);
}

TEST_F(OutFile, WaitTimeLeavesTheOutFileUnopened) {
  const e2e::RunResult r = netloc({"/OUT $DATA.NETLOC.REPORT/", "SPI", "WAITTIME", "5000"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines(r.out), (Lines{SPI_LINE, NAME_LINE, "Staying alive for 5000 milliseconds"}));
  EXPECT_FALSE(std::filesystem::exists(data_file("REPORT")));
}

TEST_F(OutFile, NamesThatCannotBeOpened) {
  struct Case {
    const char* out;
    Lines shown;
  };
  const Case cases[] = {
      {"/OUT $NOVOL.NETLOC.REPORT/", {"Can't open OUT file", "Error: 14"}},
      {"/OUT $DATA.NOSUBVOL.REPORT.X.Y/", {"Can't open OUT file", "Error: 13"}},
      {"/OUT 1X/", {"Can't open OUT file", "Error: 13"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    const e2e::RunResult r = netloc({c.out, "SPI"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(lines(r.out), c.shown);
  }
}

TEST_F(OutFile, AnOutFileOnAnotherNodeKeepsItsNodeNumber) {
  // Node number 97 is the code of "a": the OUT name must reach the program unchanged.
  const std::string far = state.write(
      "far.toml", e2e::demo_node("time_scale = 0.001",
                                 "[[remote_node]]\nname = '\\FAR'\nnumber = 97\n"));
  const e2e::RunResult r = run("netloc", {"/OUT \\FAR.$DATA.NETLOC.REPORT/", "SPI"}, far,
                               {{"XDG_STATE_HOME", state.path()}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines(r.out), (Lines{"Can't open OUT file", "Error: 201"}));  // path down
}

}  // namespace
