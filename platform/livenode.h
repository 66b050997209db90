// The live node (NETLOC_NODE=host): a node that describes the running Linux system, built once at
// start from /proc, the ttys in /dev, the login records and the host name.  The rules that turn
// Linux things into Guardian ones are written down in docs/live-node.md; each has a function here
// so that it can be tested alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/node.h"

namespace nsk::live {

// Where the live node looks.  Empty strings take the defaults: NETLOC_UTMP or the system's utmp
// file, NETLOC_LOGIND_DIR or /run/systemd/sessions, $XDG_STATE_HOME/netloc/host (or
// ~/.local/state/netloc/host).  The ttys are always those of /dev.
struct HostSources {
  std::string proc_dir = "/proc";
  std::string utmp_file;  // named: its entries are taken as written (UtmpPids::Keep)
  std::string logind_dir;
  std::string state_dir;
};

// The node of the running system.  Fails (nullopt, *error one line) only when /proc cannot be read.
std::optional<node::Node> build_host_node(std::string* error);
std::optional<node::Node> build_host_node(const HostSources& sources, std::string* error);

// --- Names --------------------------------------------------------------------------------------

// Node name of a host name, with its backslash: "my-box.example.com" -> "\MYBOX".
std::string node_name_for_host(std::string_view host_name);

// A file part (subvolume or file) made of any text: "python3.11" -> "PYTHON31".
std::string file_part_for(std::string_view text);

// Program file name of an executable path on the node: "/usr/bin/bash" -> "$SYSTEM.BIN.BASH".
std::string program_for_executable(std::string_view path);

struct OsVersion {
  char letter = 'A';
  int number = 0;
};
// Operating-system version of a kernel release: "6.8.0-45-generic" -> F08.
OsVersion os_version_for_release(std::string_view release);

// --- Ttys ---------------------------------------------------------------------------------------

enum class TtyKind { Pty, Console, Serial };

// A tty the node knows, by its /dev path: kind, and the destination that stands for it.
struct TtyName {
  TtyKind kind = TtyKind::Pty;
  std::string destination;  // "$PTY3"
};

// The qualifier of the one terminal under every tty destination.
constexpr std::string_view TTY_TERMINAL = "#TERM";

// "/dev/pts/3" -> {Pty, "$PTY3"}; nullopt for a tty that has no name under the rule.
std::optional<TtyName> name_for_tty(std::string_view tty_path);
// The reverse: "$PTY3" (or "\NODE.$PTY3.#TERM") -> "/dev/pts/3".
std::optional<std::string> tty_for_name(std::string_view name);
// /dev path of a tty device number as /proc/<pid>/stat gives it (tty_nr); nullopt for 0 or an
// unknown device.
std::optional<std::string> tty_path_for_device(std::uint32_t tty_nr);

// --- Processes ----------------------------------------------------------------------------------

// What /proc/<pid>/stat says of a process.
struct ProcStat {
  int pid = 0;
  std::string comm;
  int ppid = 0;
  int session = 0;
  std::uint32_t tty_nr = 0;
};
std::optional<ProcStat> parse_proc_stat(std::string_view text);

// cpu and pin of a pid before collisions are resolved: pid = cpu * 32768 + pin, cpu 0 to 15.
std::pair<int, int> cpu_pin_for_pid(int pid);

// Every process of <proc_dir> whose stat can be read, in pid order; an entry that vanishes while
// it is read is left out.  nullopt when the directory itself cannot be read (*error says why).
std::optional<std::vector<ProcStat>> read_processes(const std::string& proc_dir,
                                                    std::string* error);
// The executable of a process (" (deleted)" taken off), nullopt when it cannot be read.
std::optional<std::string> executable_of(const std::string& proc_dir, int pid);
// The whole of a small file such as /proc/<pid>/environ; nullopt when it cannot be read.
std::optional<std::string> read_small_file(const std::string& path);

// --- Login records ------------------------------------------------------------------------------

// A remote session's record: client address (dotted IPv4), port, and the server's end.
struct LoginRecord {
  std::string address, port, address2, port2;
  std::string source;  // "utmp", "SSH_CONNECTION", "logind"
};

// Dotted IPv4 text of an address text: IPv4 as it is, v4-mapped IPv6 folded; nullopt for a
// real IPv6 address or anything that is not an address.
std::optional<std::string> ipv4_for_text(std::string_view text);

// Whether the entries of ended processes count, as `who` has it: skipped in the system's utmp
// file, where they are stale; kept in a file named on purpose.
enum class UtmpPids { Check, Keep };

// The records of a utmp file: one per USER_PROCESS entry with an IPv4 address, keyed by the tty
// path ("/dev/pts/3").  A later entry for a line replaces an earlier one.  A missing file gives
// none; a truncated last entry is ignored.
std::vector<std::pair<std::string, LoginRecord>> read_utmp(const std::string& path, UtmpPids pids);

// SSH_CONNECTION ("client port server port") of an environment block (NUL-separated), accepted
// only when SSH_TTY is absent or names tty_path.
std::optional<LoginRecord> ssh_connection_record(std::string_view environ_block,
                                                 std::string_view tty_path);
// The parse of one SSH_CONNECTION value.
std::optional<LoginRecord> parse_ssh_connection(std::string_view value);

// A systemd-logind session file (KEY=VALUE lines).
struct LogindSession {
  std::string id;
  std::string tty;          // as written: "pts/3" or "/dev/pts/3" or empty
  std::string remote_host;
  bool remote = false;
  bool closing = false;
};
LogindSession parse_logind_session(std::string_view id, std::string_view text);
std::vector<LogindSession> read_logind_sessions(const std::string& dir);

// The logind session id in a /proc/<pid>/cgroup text (".../session-3.scope" -> "3").
std::optional<std::string> logind_session_of_cgroup(std::string_view cgroup_text);

}  // namespace nsk::live
