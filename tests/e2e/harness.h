// Runs the built programs as a user would: with a node description, arguments and environment,
// capturing standard output, standard error and the exit status.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace e2e {

struct RunResult {
  int status = -1;          // exit status; 128 + signal number when killed by a signal
  std::string out;          // standard output
  std::string err;          // standard error
};

// A fresh temporary directory, removed with its contents at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes a file under the directory and returns its path.
  std::string write(const std::string& relative, const std::string& content) const;

 private:
  std::string path_;
};

// Path of a built program: "netloc", "netloc_c", "netloc_priv", "netloc_c_priv", "netloc-dbdump".
std::string program_path(const std::string& program);

// Runs program with args.  env entries are added to (or, with an empty value, removed from) the
// environment; NETLOC_NODE is set to node_file when it is not empty.  Standard input is /dev/null.
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::string& node_file = "", const std::map<std::string, std::string>& env = {});

// The four programs.
const std::vector<std::string>& all_programs();

// The built-in demo node's description, with node_lines added to its [node] table and
// more_tables appended (tables the demo does not have: [spi], [[fault]], [[destination]] ...).
std::string demo_node(const std::string& node_lines = "", const std::string& more_tables = "");

// Lines of a text (split at '\n', without the terminators; a last line without '\n' counts).
std::vector<std::string> lines(const std::string& text);

}  // namespace e2e
