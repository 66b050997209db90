// A run's standard output on a full device: the lines gathered for it cannot be written, and
// the run says so and fails.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "harness.h"

extern char** environ;

namespace {

// Runs netloc with args, standard output to out_path and standard error to err_path; the exit
// status.
int run_redirected(const std::vector<std::string>& args, const std::string& out_path,
                   const std::string& err_path) {
  std::vector<std::string> all = {e2e::program_path("netloc")};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class Stdout : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_STATE_HOME", dir_.path().c_str(), 1);
    unsetenv("NETLOC_NODE");
  }
  e2e::TempDir dir_;
};

// The report cannot reach a full device: the run says so and does not end with status 0.
TEST_F(Stdout, LinesLostOnAFullDeviceFailTheRun) {
  const std::string err = dir_.path() + "/err";
  EXPECT_EQ(run_redirected({"SPI"}, "/dev/full", err), 1);
  EXPECT_EQ(read_file(err), "netloc: standard output could not be written; lines lost\n");
}

}  // namespace
