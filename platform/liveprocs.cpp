// The processes of the live node, read from /proc.  Processes come and go while they are read:
// every read may fail, and a process whose stat cannot be read is simply not on the node.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/livenode.h"

namespace nsk::live {
namespace {

constexpr std::size_t SMALL_FILE_MAX = 1 << 20;  // environ and stat are far smaller
constexpr int PINS_PER_CPU = 32768;
constexpr int CPUS = 16;

template <typename Number>
bool parse_number(std::string_view text, Number* value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool is_pid_name(const char* name) {
  if (*name == '\0') return false;
  for (const char* p = name; *p; ++p)
    if (*p < '0' || *p > '9') return false;
  return true;
}

}  // namespace

std::optional<std::string> read_small_file(const std::string& path) {
  // Non-blocking, and regular files only: a FIFO or a device in a directory that is read would
  // otherwise hold the start of the program.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string content;
  char chunk[4096];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0 || content.size() + static_cast<std::size_t>(n) > SMALL_FILE_MAX) break;
    content.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return content;
}

// "pid (comm) state ppid pgrp session tty_nr ...": comm may hold blanks and parentheses, so the
// fields after it are counted from its last ")".
std::optional<ProcStat> parse_proc_stat(std::string_view text) {
  std::size_t open = text.find(" (");
  std::size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open)
    return std::nullopt;
  ProcStat stat;
  if (!parse_number(text.substr(0, open), &stat.pid) || stat.pid <= 0) return std::nullopt;
  stat.comm = std::string(text.substr(open + 2, close - open - 2));
  std::string_view rest = text.substr(close + 1);
  std::string_view fields[6];
  for (std::string_view& field : fields) {
    std::size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) return std::nullopt;
    rest = rest.substr(start);
    std::size_t end = std::min(rest.find(' '), rest.size());
    field = rest.substr(0, end);
    rest = rest.substr(end);
  }
  // fields: state ppid pgrp session tty_nr tpgid
  if (!parse_number(fields[1], &stat.ppid) || !parse_number(fields[3], &stat.session))
    return std::nullopt;
  std::int64_t tty_nr = 0;  // a signed int in the kernel's text
  if (!parse_number(fields[4], &tty_nr)) return std::nullopt;
  stat.tty_nr = static_cast<std::uint32_t>(tty_nr);
  return stat;
}

std::pair<int, int> cpu_pin_for_pid(int pid) {
  return {(pid / PINS_PER_CPU) % CPUS, pid % PINS_PER_CPU};
}

std::optional<std::vector<ProcStat>> read_processes(const std::string& proc_dir,
                                                    std::string* error) {
  DIR* dir = ::opendir(proc_dir.c_str());
  if (dir == nullptr) {
    if (error) *error = proc_dir + ": cannot be read: " + std::strerror(errno);
    return std::nullopt;
  }
  std::vector<ProcStat> processes;
  while (dirent* entry = ::readdir(dir)) {
    if (!is_pid_name(entry->d_name)) continue;
    std::optional<std::string> text = read_small_file(proc_dir + "/" + entry->d_name + "/stat");
    if (!text) continue;
    if (std::optional<ProcStat> stat = parse_proc_stat(*text)) processes.push_back(*stat);
  }
  ::closedir(dir);
  std::sort(processes.begin(), processes.end(),
            [](const ProcStat& a, const ProcStat& b) { return a.pid < b.pid; });
  return processes;
}

std::optional<std::string> executable_of(const std::string& proc_dir, int pid) {
  std::string link = proc_dir + "/" + std::to_string(pid) + "/exe";
  char target[4096];
  ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return std::nullopt;
  std::string path(target, static_cast<std::size_t>(n));
  constexpr std::string_view DELETED = " (deleted)";
  if (path.ends_with(DELETED)) path.resize(path.size() - DELETED.size());
  return path;
}

}  // namespace nsk::live
