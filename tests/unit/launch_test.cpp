// The Linux entry: the start-up message built from the command line (run option forms, blank
// OUT, joined text), the PARAM message bytes, INITIALIZER's order, and the exits of a bad node
// or a bad command line, run in child processes as a user would meet them.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/launch.h"
#include "platform/names.h"
#include "platform/node.h"
#include "platform/startmessages.h"
#include "platform/startup.h"
#include "platform/stophooks.h"

namespace nsk {
namespace {

constexpr const char* kNode =
    "[node]\nname = '\\LAUNCH'\nnumber = 5\n"
    "[[remote_node]]\nname = '\\FAR'\nnumber = 40\n"
    "[[volume]]\nname = \"$DATA\"\ndir = \"data\"\n"
    "[self]\ncpu = 1\npin = 201\nprogram = '$DATA.NETLOC.NETLOC'\nhome_terminal = '$ZTN0.#PTY1'\n"
    "default_volume = \"$DATA\"\ndefault_subvolume = \"NETLOC\"\n";

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/launch_test.XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string write(const std::string& name, const std::string& text) const {
    std::string file = path_ + "/" + name;
    std::ofstream(file) << text;
    return file;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void use_node(const std::string& text) {
  std::string error;
  std::optional<node::Node> n = node::load_node_text(text, "launch.toml", &error);
  ASSERT_TRUE(n.has_value()) << error;
  node::set_current(*n);
}

std::string internal(const std::string& name) {
  char form[24];
  EXPECT_EQ(FILENAME_TO_OLDFILENAME_(name.data(), static_cast<INT>(name.size()), form), 0) << name;
  return std::string(form, sizeof form);
}

const std::string kBlankOut(24, ' ');
const std::string kSameAsIn = "<IN>";

struct StartupCase {
  std::vector<std::string> args;
  std::string out;   // kSameAsIn, kBlankOut, or the external name whose internal form is the OUT
  std::string text;  // the parameter text
};

const StartupCase kStartupCases[] = {
    {{}, kSameAsIn, ""},
    {{"/OUT/"}, kBlankOut, ""},
    {{"/out/", "spi"}, kBlankOut, "spi"},
    {{"/OUT $S.#LP/"}, "\\LAUNCH.$S.#LP", ""},
    {{"/OUT", "LOG/", "SPI"}, "\\LAUNCH.$DATA.NETLOC.LOG", "SPI"},
    {{"/Out", "$tc1/", "TERMINAL", "$X25A.#W1"}, "\\LAUNCH.$TC1", "TERMINAL $X25A.#W1"},
    {{"/OUT", "\\FAR.$ZTN3.#PT9", "/"}, "\\FAR.$ZTN3.#PT9", ""},
    {{"SPI", "WAITTIME", "5000"}, kSameAsIn, "SPI WAITTIME 5000"},
    {{"a b", "c"}, kSameAsIn, "a b c"},
    {{"x", "/OUT/"}, kSameAsIn, "x /OUT/"},
    {{std::string(529, 'x')}, kSameAsIn, std::string(529, 'x')},
};

TEST(StartupMessage, CarriesDefaultsInOutAndTheJoinedText) {
  use_node(kNode);
  const std::string in = internal("\\LAUNCH.$ZTN0.#PTY1");
  for (const StartupCase& c : kStartupCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    std::string message, error;
    ASSERT_TRUE(startmsg::build_startup(c.args, &message, &error)) << error;
    std::string out = c.out == kSameAsIn ? in : c.out == kBlankOut ? kBlankOut : internal(c.out);
    std::string expected = std::string("\xFF\xFF") + "$DATA   NETLOC  " + in + out + c.text + '\0';
    EXPECT_EQ(message, expected);
    EXPECT_LE(message.size(), static_cast<std::size_t>(STARTUP_MESSAGE_MAX));
  }
}

// An OUT name without an internal form still reaches the program, as a name it cannot convert
// (an all-blank field would mean "no OUT" and hide the mistake).
TEST(StartupMessage, OutWithoutInternalFormIsCarriedAsAnInvalidName) {
  use_node(kNode);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"/OUT", "/tmp/report.txt/"}, {"/OUT $TOOLONGNAME/"},
        {"/OUT \\NOSUCH.$A.B.C/"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    std::string message, error;
    ASSERT_TRUE(startmsg::build_startup(args, &message, &error)) << error;
    std::string out = message.substr(STARTUP_OUT_OFFSET, 24);
    EXPECT_NE(out, kBlankOut);
    char upshifted[24];
    STRING_UPSHIFT_(out.data(), 24, upshifted, 24);  // as the program reads it
    char name[64];
    INT length = 0;
    EXPECT_NE(OLDFILENAME_TO_FILENAME_(upshifted, name, sizeof name, &length), 0);
  }
}

struct UsageCase {
  std::vector<std::string> args;
  const char* error;
};

const UsageCase kUsageCases[] = {
    {{"/OUT"}, "the run option \"/OUT\" is not closed by \"/\""},
    {{"/OUT", "x", "SPI"}, "the run option \"/OUT x SPI\" is not closed by \"/\""},
    {{"/"}, "the run option \"/\" is not closed by \"/\""},
    {{"/IN x/"}, "unknown run option \"/IN x/\" (only /OUT/ and /OUT file/ are taken)"},
    {{"/OUT a b/"}, "the run option \"/OUT a b/\" names more than one OUT file"},
    {{std::string(300, 'x'), std::string(229, 'y')}, "the start-up text is longer than 529 bytes"},
};

TEST(StartupMessage, RefusesBadCommandLines) {
  use_node(kNode);
  for (const UsageCase& c : kUsageCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    std::string message, error;
    EXPECT_FALSE(startmsg::build_startup(c.args, &message, &error));
    EXPECT_EQ(error, c.error);
  }
}

TEST(ParamMessage, HasCodeCountAndLengthPrefixedTexts) {
  node::Self self;
  EXPECT_EQ(startmsg::build_param(self), "");
  self.params = {{"NETLOC^MODE", "SPI"}, {"A", ""}};
  EXPECT_EQ(startmsg::build_param(self), std::string("\xFF\xFD\x00\x02\x0BNETLOC^MODE\x03SPI\x01" "A\x00", 23));
}

std::vector<std::string> calls;

void record_startup(void*, INT* passthru, const char* message, INT length, INT*) {
  calls.push_back("startup " + std::string(message, static_cast<std::size_t>(length)));
  *passthru = 7;
}

void record_params(void*, INT* passthru, const char* message, INT length, INT*) {
  calls.push_back("params " + std::to_string(*passthru) + " " + std::string(message, static_cast<std::size_t>(length)));
}

TEST(Initializer, HandsOverStartupThenParamsOnlyWhenThereAreAny) {
  calls.clear();
  INT passthru = 0;
  startmsg::set_messages("S", "P");
  EXPECT_EQ(INITIALIZER(nullptr, &passthru, record_startup, record_params), 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"startup S", "params 7 P"}));
  calls.clear();
  startmsg::set_messages("S", "");
  INITIALIZER(nullptr, &passthru, record_startup, record_params);
  EXPECT_EQ(calls, (std::vector<std::string>{"startup S"}));
}

struct ChildResult {
  int status = -1;  // exit status, or 128 + signal
  std::string err;
};

// Runs body in a child process with the environment changes given (empty value: unset) and its
// standard error captured.
template <typename Body>
ChildResult in_child(const std::vector<std::pair<std::string, std::string>>& env, Body body) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 2);
    rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);  // SIGQUIT would leave a core file
    for (const auto& [name, value] : env) {
      if (value.empty()) unsetenv(name.c_str()); else setenv(name.c_str(), value.c_str(), 1);
    }
    body();
    _exit(0);
  }
  close(fds[1]);
  ChildResult r;
  char buffer[512];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) r.err.append(buffer, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

void start(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  start_platform(static_cast<int>(args.size()), argv.data());
}

void say(const char* text) { (void)!write(2, text, std::strlen(text)); }

void report_messages(void*, INT*, const char* message, INT length, INT*) {
  std::string line = "startup " + std::to_string(length) + " " +
                     std::string(message + STARTUP_PARAM_OFFSET) + "\n";
  say(line.c_str());
}

void report_params(void*, INT*, const char*, INT length, INT*) {
  say(("params " + std::to_string(length) + "\n").c_str());
}

TEST(StartPlatform, BadNodeDescriptionIsOneLineAndExitStatus4) {
  TempDir dir;
  std::string file = dir.write("bad.toml", "[node]\nnumber = 255\n");
  ChildResult r = in_child({{"NETLOC_NODE", file}}, [] { start({"netloc"}); say("started\n"); });
  EXPECT_EQ(r.status, EXIT_BAD_NODE);
  EXPECT_EQ(r.err, file + ":2: node.number: must be 0 to 254\n");
}

TEST(StartPlatform, UsageErrorIsOneLineAndExitStatus64) {
  TempDir dir;
  std::string file = dir.write("n.toml", kNode);
  ChildResult r = in_child({{"NETLOC_NODE", file}}, [] { start({"/usr/bin/netloc_c", "/OUT", "x"}); });
  EXPECT_EQ(r.status, startmsg::EXIT_USAGE);
  EXPECT_EQ(r.err,
            "netloc_c: the run option \"/OUT x\" is not closed by \"/\"; usage: netloc_c "
            "[/OUT [file]/] [start-up text ...]\n");
}

TEST(StartPlatform, DemoNodeRunsWithoutParams) {
  TempDir dir;
  ChildResult r = in_child({{"NETLOC_NODE", ""}, {"XDG_STATE_HOME", dir.path()}}, [] {
    start({"netloc", "TERMINAL", "$TC1"});
    INT passthru = 0;
    INITIALIZER(nullptr, &passthru, report_messages, report_params);
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "startup 80 TERMINAL $TC1\n");
}

TEST(StartPlatform, NodeParamsBecomeThePARAMMessage) {
  TempDir dir;
  std::string file = dir.write(
      "n.toml", std::string(kNode) + "params = [ { name = \"NETLOC^MODE\", value = \"SPI\" } ]\n");
  ChildResult r = in_child({{"NETLOC_NODE", file}}, [] {
    start({"netloc"});
    INT passthru = 0;
    INITIALIZER(nullptr, &passthru, report_messages, report_params);
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "startup 67 \nparams 20\n");
}

void hook_one() { say("one\n"); }
void hook_two() { say("two\n"); }

TEST(StartPlatform, FatalSignalRunsTheStopHooksOnceThenEndsTheProcess) {
  TempDir dir;
  std::string file = dir.write("n.toml", kNode);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(signal_number);
    ChildResult r = in_child({{"NETLOC_NODE", file}}, [signal_number] {
      start({"netloc"});
      at_stop(hook_one);
      at_stop(hook_two);
      at_stop(hook_one);
      raise(signal_number);
      say("survived\n");
    });
    EXPECT_EQ(r.status, 128 + signal_number);
    EXPECT_EQ(r.err, "two\none\n");
  }
}

TEST(StopHooks, RunLastRegisteredFirstAndOnlyOnce) {
  ChildResult r = in_child({}, [] {
    at_stop(hook_one);
    at_stop(hook_two);
    run_stop_hooks();
    run_stop_hooks();
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "two\none\n");
}

}  // namespace
}  // namespace nsk
