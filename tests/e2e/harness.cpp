// Runs the built programs as a user would (see harness.h).
#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/node.h"

extern char** environ;

namespace e2e {

namespace {

// A run that takes longer than this is a hang: the program is killed and the test sees 128 + 9.
constexpr auto HANG_LIMIT = std::chrono::seconds(120);

std::string temp_base() {
  const char* tmp = std::getenv("TMPDIR");
  return (tmp != nullptr && tmp[0] == '/') ? tmp : "/tmp";
}

// The environment of the child: ours with the edits applied.  A run never touches the user's
// real state: without XDG_STATE_HOME from the test it gets state_dir, and without a node file
// from the test it runs on the built-in demo node.
std::vector<std::string> child_environment(const std::string& node_file,
                                           const std::map<std::string, std::string>& env,
                                           const std::string& state_dir) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const auto eq = entry.find('=');
    if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  vars.erase("NETLOC_NODE");
  vars["XDG_STATE_HOME"] = state_dir;
  if (!node_file.empty()) vars["NETLOC_NODE"] = node_file;
  for (const auto& [name, value] : env) {
    if (value.empty()) {
      vars.erase(name);
    } else {
      vars[name] = value;
    }
  }
  std::vector<std::string> result;
  for (const auto& [name, value] : vars) result.push_back(name + "=" + value);
  return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

void make_pipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
}

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_child(const char* path, char** argv, char** envp, int out, int err) {
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
  execve(path, argv, envp);
  _exit(127);
}

// Reads both pipes to their end; false when the hang limit passed first.
bool drain(int out_fd, int err_fd, RunResult* result) {
  const auto deadline = std::chrono::steady_clock::now() + HANG_LIMIT;
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&result->out, &result->err};
  int open_count = 2;
  while (open_count > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    const int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  return true;
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = temp_base() + "/netloc-e2e-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& relative, const std::string& content) const {
  const std::filesystem::path file = std::filesystem::path(path_) / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream << content;
  if (!stream) throw std::runtime_error("cannot write " + file.string());
  return file.string();
}

std::string program_path(const std::string& program) {
  return std::string(NETLOC_BIN_DIR) + "/" + program;
}

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::string& node_file, const std::map<std::string, std::string>& env) {
  const TempDir state;
  const std::string path = program_path(program);
  std::vector<std::string> argv_strings{path};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<std::string> env_strings = child_environment(node_file, env, state.path());
  std::vector<char*> argv = pointers(argv_strings);
  std::vector<char*> envp = pointers(env_strings);

  int out[2];
  int err[2];
  make_pipe(out);
  make_pipe(err);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) exec_child(path.c_str(), argv.data(), envp.data(), out[1], err[1]);
  close(out[1]);
  close(err[1]);

  RunResult result;
  if (!drain(out[0], err[0], &result)) kill(pid, SIGKILL);
  close(out[0]);
  close(err[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.status = 128 + WTERMSIG(status);
  }
  return result;
}

const std::vector<std::string>& all_programs() {
  static const std::vector<std::string> programs{"netloc", "netloc_c", "netloc_priv",
                                                 "netloc_c_priv"};
  return programs;
}

std::string demo_node(const std::string& node_lines, const std::string& more_tables) {
  std::string text = nsk::node::demo_node_text();
  const std::string header = "[node]\n";
  const auto at = text.find(header);
  if (at == std::string::npos) throw std::runtime_error("the demo node has no [node] table");
  text.insert(at + header.size(), node_lines.empty() ? "" : node_lines + "\n");
  return text + "\n" + more_tables + "\n";
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find('\n', start);
    if (end == std::string::npos) {
      result.push_back(text.substr(start));
      break;
    }
    result.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

}  // namespace e2e
