// The live node: the running Linux system as a node.  The snapshot is taken once, at start; the
// rules for names, numbers and kinds are in docs/live-node.md.
#include "platform/livenode.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <map>
#include <set>

namespace nsk::live {
namespace {

constexpr std::string_view STATE_VOLUME = "$NETLOC";
constexpr std::string_view STATE_SUBVOLUME = "NETLOC";
constexpr std::string_view INIT_NAME = "$INIT";
constexpr std::string_view NOTTY_NAME = "$NOTTY";
constexpr std::string_view TELNET_PROGRAM = "$SYSTEM.SYS01.TELSERV";
constexpr std::string_view LINE_PROGRAM = "$SYSTEM.SYS01.TTYLINE";
constexpr std::size_t NODE_NAME_MAX = 7;
constexpr std::size_t FILE_PART_MAX = 8;
constexpr std::size_t ATTRIBUTE82_MAX = 32;

std::string letters_and_digits_upshifted(std::string_view text) {
  std::string out;
  for (char c : text)
    if (std::isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80)
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string env_or(const char* name, std::string fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

std::string default_state_dir() {
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/netloc/host";
  std::string home = env_or("HOME", "");
  if (home.empty()) {
    if (const passwd* entry = ::getpwuid(::getuid())) home = entry->pw_dir;
  }
  return home + "/.local/state/netloc/host";
}

// The user the process runs as: the attribute that a stored address record carries.
std::string user_name() {
  if (const passwd* entry = ::getpwuid(::geteuid())) return entry->pw_name;
  return std::to_string(::geteuid());
}

HostSources with_defaults(HostSources sources) {
  if (sources.utmp_file.empty()) sources.utmp_file = env_or("NETLOC_UTMP", "");
  if (sources.logind_dir.empty())
    sources.logind_dir = env_or("NETLOC_LOGIND_DIR", "/run/systemd/sessions");
  if (sources.state_dir.empty()) sources.state_dir = default_state_dir();
  return sources;
}

// cpu,pin pairs: each process takes the pair of its pid, or the next free one when a pid
// 524288 away took it first; the node's own processes take free pairs from the top down.  Only
// a node of more processes than pairs would share one (the last pair tried).
class PairAllocator {
 public:
  std::pair<int, int> for_pid(int pid) {
    auto [cpu, pin] = cpu_pin_for_pid(pid);
    int slot = cpu * 32768 + pin;
    for (int tried = 1; used_.count(slot) && tried < SLOTS; ++tried) slot = (slot + 1) % SLOTS;
    return take(slot);
  }
  std::pair<int, int> from_top() {
    int slot = SLOTS - 1;
    while (slot > 0 && used_.count(slot)) --slot;
    return take(slot);
  }

 private:
  static constexpr int SLOTS = 16 * 32768;
  std::pair<int, int> take(int slot) {
    used_.insert(slot);
    return {slot / 32768, slot % 32768};
  }
  std::set<int> used_;
};

// A tty of the node: where it is, who leads the session on it, and what the login records say.
struct Tty {
  std::string path;
  TtyName name;
  dev_t device = 0;
  int leader = 0;  // pid of the session leader holding it as controlling tty, 0 none seen
  std::optional<LoginRecord> record;
};

// The device number of path when it is a character device, else nullopt.
std::optional<dev_t> char_device(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return std::nullopt;
  return info.st_rdev;
}

dev_t device_of_tty_nr(std::uint32_t tty_nr) {
  return ::makedev((tty_nr >> 8) & 0xfffu, (tty_nr & 0xffu) | ((tty_nr >> 12) & 0xfff00u));
}

class Snapshot {
 public:
  Snapshot(const HostSources& sources, std::vector<ProcStat> processes, ProcStat self)
      : sources_(sources), processes_(std::move(processes)), self_(std::move(self)) {}

  node::Node build();

 private:
  void collect_ttys();
  void add_tty(const std::string& path, std::optional<dev_t> expected = std::nullopt);
  void add_device_ttys();
  void find_records();
  std::optional<LoginRecord> logind_record(const Tty& tty,
                                           const std::vector<LogindSession>& sessions) const;
  std::string terminal_name(const Tty& tty) const;
  const Tty* tty_of(std::uint32_t tty_nr) const;
  std::string program_of(const ProcStat& process) const;
  node::Process process_of(const ProcStat& stat, std::pair<int, int> pair) const;
  void assign_pairs();
  void add_self();
  void add_processes();
  void add_init();
  void add_lines();
  void place_program_file() const;

  HostSources sources_;
  std::vector<ProcStat> processes_;  // without self
  ProcStat self_;
  std::map<std::string, Tty> ttys_;   // by path
  std::map<int, std::pair<int, int>> pair_of_;  // pid -> cpu,pin
  std::map<int, std::string> refs_;   // pid -> process reference
  PairAllocator pairs_;
  node::Node node_;
};

void Snapshot::add_tty(const std::string& path, std::optional<dev_t> expected) {
  if (ttys_.count(path)) return;
  std::optional<TtyName> name = name_for_tty(path);
  std::optional<dev_t> device = char_device(path);
  if (!name || !device || (expected && *expected != *device)) return;
  ttys_[path] = Tty{path, *name, *device, 0, std::nullopt};
}

void Snapshot::add_device_ttys() {
  for (const char* dir_name : {"/dev/pts", "/dev"}) {
    DIR* dir = ::opendir(dir_name);
    if (dir == nullptr) continue;
    while (dirent* entry = ::readdir(dir)) {
      std::string path = std::string(dir_name) + "/" + entry->d_name;
      std::optional<TtyName> name = name_for_tty(path);
      // Virtual consoles exist whether used or not: they count only as someone's tty.
      if (name && name->kind != TtyKind::Console) add_tty(path);
    }
    ::closedir(dir);
  }
}

void Snapshot::collect_ttys() {
  std::vector<const ProcStat*> all;
  for (const ProcStat& p : processes_) all.push_back(&p);
  all.push_back(&self_);
  for (const ProcStat* p : all) {
    if (std::optional<std::string> path = tty_path_for_device(p->tty_nr))
      add_tty(*path, device_of_tty_nr(p->tty_nr));
  }
  add_device_ttys();
  for (const ProcStat* p : all) {
    std::optional<std::string> path = tty_path_for_device(p->tty_nr);
    auto tty = path ? ttys_.find(*path) : ttys_.end();
    if (tty != ttys_.end() && p->pid == p->session) tty->second.leader = p->pid;
  }
}

std::optional<LoginRecord> Snapshot::logind_record(
    const Tty& tty, const std::vector<LogindSession>& sessions) const {
  std::optional<std::string> leader_session;
  if (tty.leader != 0) {
    std::optional<std::string> cgroup =
        read_small_file(sources_.proc_dir + "/" + std::to_string(tty.leader) + "/cgroup");
    if (cgroup) leader_session = logind_session_of_cgroup(*cgroup);
  }
  for (const LogindSession& session : sessions) {
    if (session.closing || (!session.remote && session.remote_host.empty())) continue;
    std::string session_tty = session.tty.empty() || session.tty.starts_with("/dev/")
                                  ? session.tty
                                  : "/dev/" + session.tty;
    if (session_tty != tty.path && session.id != leader_session) continue;
    std::optional<std::string> address = ipv4_for_text(session.remote_host);
    if (!address) continue;
    LoginRecord record;
    record.address = *address;
    record.source = "logind";
    return record;
  }
  return std::nullopt;
}

// The sources in their order; the first that has an IPv4 client address for the pty wins.
void Snapshot::find_records() {
  std::vector<std::pair<std::string, LoginRecord>> utmp =
      sources_.utmp_file.empty() ? read_utmp(_PATH_UTMP, UtmpPids::Check)
                                 : read_utmp(sources_.utmp_file, UtmpPids::Keep);
  std::vector<LogindSession> sessions = read_logind_sessions(sources_.logind_dir);
  for (auto& [path, tty] : ttys_) {
    if (tty.name.kind != TtyKind::Pty) continue;
    for (const auto& [line, record] : utmp)
      if (line == path) tty.record = record;
    if (!tty.record && tty.leader != 0) {
      std::optional<std::string> environ_block =
          read_small_file(sources_.proc_dir + "/" + std::to_string(tty.leader) + "/environ");
      if (environ_block) tty.record = ssh_connection_record(*environ_block, path);
    }
    if (!tty.record) tty.record = logind_record(tty, sessions);
  }
}

std::string Snapshot::terminal_name(const Tty& tty) const {
  return node_.name + "." + tty.name.destination + "." + std::string(TTY_TERMINAL);
}

const Tty* Snapshot::tty_of(std::uint32_t tty_nr) const {
  std::optional<std::string> path = tty_path_for_device(tty_nr);
  if (!path) return nullptr;
  auto tty = ttys_.find(*path);
  return tty == ttys_.end() || tty->second.device != device_of_tty_nr(tty_nr) ? nullptr
                                                                              : &tty->second;
}

std::string Snapshot::program_of(const ProcStat& process) const {
  std::optional<std::string> exe = executable_of(sources_.proc_dir, process.pid);
  std::string program = exe ? program_for_executable(*exe)
                            : "$SYSTEM.UNKNOWN." + file_part_for(process.comm);
  return node_.name + "." + program;
}

// Every unnamed process has a mom on the node, so that the climb of its ancestors ends at $INIT,
// the one process without a mom.  A parent of 1 is $INIT as well, as is a parent that is not
// on the node (gone, or outside this pid namespace).
node::Process Snapshot::process_of(const ProcStat& stat, std::pair<int, int> pair) const {
  node::Process process;
  process.cpu = pair.first;
  process.pin = pair.second;
  process.program = program_of(stat);
  if (const Tty* tty = tty_of(stat.tty_nr)) process.home_terminal = terminal_name(*tty);
  auto parent = refs_.find(stat.ppid);
  process.mom = stat.ppid != 1 && parent != refs_.end() ? parent->second : std::string(INIT_NAME);
  process.type = node::ProcessType::Oss;
  process.oss_pid = stat.pid;
  process.oss_parent_pid = stat.ppid;
  return process;
}

// Pairs and references first, for every process: a parent may come after its child.  This
// process keeps the pair of its pid; pid 1 is $INIT.
void Snapshot::assign_pairs() {
  pair_of_[self_.pid] = pairs_.for_pid(self_.pid);
  for (const ProcStat& stat : processes_) pair_of_[stat.pid] = pairs_.for_pid(stat.pid);
  for (const auto& [pid, pair] : pair_of_)
    refs_[pid] = std::to_string(pair.first) + "," + std::to_string(pair.second);
  if (self_.pid != 1) refs_[1] = std::string(INIT_NAME);
}

void Snapshot::add_self() {
  node::Self& self = node_.self;
  static_cast<node::Process&>(self) = process_of(self_, pair_of_[self_.pid]);
  std::optional<std::string> exe = executable_of(sources_.proc_dir, self_.pid);
  std::string file = file_part_for(exe ? exe->substr(exe->rfind('/') + 1) : self_.comm);
  self.program = node_.name + "." + std::string(STATE_VOLUME) + "." +
                 std::string(STATE_SUBVOLUME) + "." + file;
  self.default_volume = std::string(STATE_VOLUME);
  self.default_subvolume = std::string(STATE_SUBVOLUME);
  self.attribute82 = user_name().substr(0, ATTRIBUTE82_MAX);
  if (tty_of(self_.tty_nr) != nullptr) return;
  // Without a tty the home terminal is this process itself, so the report says "a process" and
  // the chain of ancestors is tried from here; its lines go to standard output.
  self.name = std::string(NOTTY_NAME);
  self.home_terminal = node_.name + "." + std::string(NOTTY_NAME);
  node::Destination notty;
  notty.name = std::string(NOTTY_NAME);
  notty.device_type = node::DEVICE_PROCESS;
  notty.terminals.push_back(node::Terminal{});  // the process itself: it never answers the query
  node_.destinations.push_back(notty);
}

void Snapshot::add_processes() {
  for (const ProcStat& stat : processes_)
    if (stat.pid != 1) node_.processes.push_back(process_of(stat, pair_of_[stat.pid]));
}

// $INIT ends every chain of ancestors: pid 1 when it is on the node (and is not this process),
// else a stand-in of the same name.
void Snapshot::add_init() {
  auto init = std::find_if(processes_.begin(), processes_.end(),
                           [](const ProcStat& p) { return p.pid == 1; });
  node::Process process;
  if (init != processes_.end()) {
    process = process_of(*init, pair_of_[1]);
    process.oss_parent_pid = 0;
  } else {
    auto [cpu, pin] = pairs_.from_top();
    process.cpu = cpu;
    process.pin = pin;
    process.program = node_.name + ".$SYSTEM.UNKNOWN.INIT";
  }
  process.name = std::string(INIT_NAME);
  process.mom.clear();
  node_.processes.push_back(process);
}

// Each tty is a destination of its kind, and a process of the same name whose mom is the
// session leader on it: the chain of ancestors of a terminal starts there.
void Snapshot::add_lines() {
  for (const auto& [path, tty] : ttys_) {
    bool telnet = tty.record.has_value();
    node::Destination destination;
    destination.name = tty.name.destination;
    destination.device_type = telnet                             ? node::DEVICE_TELNET
                              : tty.name.kind == TtyKind::Serial ? node::DEVICE_ASYNC
                                                                 : node::DEVICE_TERMINAL;
    node::Terminal terminal;
    terminal.name = std::string(TTY_TERMINAL);
    if (telnet) {
      terminal.address = tty.record->address;
      terminal.port = tty.record->port;
      terminal.address2 = tty.record->address2;
      terminal.port2 = tty.record->port2;
    }
    terminal.emulator.kind = node::EmulatorKind::Tty;
    terminal.emulator.tty_path = path;
    terminal.output.kind = node::OutputKind::Tty;
    terminal.output.path = path;
    destination.terminals.push_back(terminal);
    node_.destinations.push_back(destination);

    node::Process line;
    line.name = tty.name.destination;
    auto [cpu, pin] = pairs_.from_top();
    line.cpu = cpu;
    line.pin = pin;
    line.program = node_.name + "." + std::string(telnet ? TELNET_PROGRAM : LINE_PROGRAM);
    line.home_terminal = terminal_name(tty);
    auto leader = refs_.find(tty.leader);
    if (leader != refs_.end()) line.mom = leader->second;
    node_.processes.push_back(line);
  }
}

// The program file in the state volume: the address database lives beside it.  A symbolic link
// to the running executable; nothing else is written, and a failure shows later as the
// database's own error.
void Snapshot::place_program_file() const {
  std::string subvolume = sources_.state_dir + "/" + std::string(STATE_SUBVOLUME);
  std::string dir;
  for (std::size_t at = 0; at != std::string::npos;) {
    at = subvolume.find('/', at + 1);
    dir = subvolume.substr(0, at);
    ::mkdir(dir.c_str(), 0700);
  }
  std::string file = node_.self.program.substr(node_.self.program.rfind('.') + 1);
  std::optional<std::string> exe = executable_of(sources_.proc_dir, self_.pid);
  std::string link = subvolume + "/" + file;
  char current[4096];
  ssize_t n = ::readlink(link.c_str(), current, sizeof current);
  if (!exe || (n > 0 && std::string(current, static_cast<std::size_t>(n)) == *exe)) return;
  if (n > 0) ::unlink(link.c_str());
  (void)::symlink(exe->c_str(), link.c_str());
}

node::Node Snapshot::build() {
  utsname host{};
  ::uname(&host);
  node_.source = "host";
  node_.name = node_name_for_host(host.nodename);
  node_.number = 1;
  OsVersion os = os_version_for_release(host.release);
  node_.os_letter = os.letter;
  node_.os_number = os.number;
  node_.volumes.push_back(node::Volume{std::string(STATE_VOLUME), sources_.state_dir});
  collect_ttys();
  find_records();
  assign_pairs();
  add_self();
  add_processes();
  add_init();
  add_lines();
  place_program_file();
  return node_;
}

}  // namespace

std::string node_name_for_host(std::string_view host_name) {
  std::string name = letters_and_digits_upshifted(host_name.substr(0, host_name.find('.')));
  if (name.empty()) name = "LINUX";
  if (std::isdigit(static_cast<unsigned char>(name[0]))) name = "N" + name;
  return "\\" + name.substr(0, NODE_NAME_MAX);
}

std::string file_part_for(std::string_view text) {
  std::string part = letters_and_digits_upshifted(text);
  if (part.empty() || std::isdigit(static_cast<unsigned char>(part[0]))) part = "X" + part;
  return part.substr(0, FILE_PART_MAX);
}

std::string program_for_executable(std::string_view path) {
  std::size_t slash = path.rfind('/');
  std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
  std::string_view dir = slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
  std::string_view subvolume = dir.substr(dir.rfind('/') == std::string_view::npos ? 0 : dir.rfind('/') + 1);
  return "$SYSTEM." + (subvolume.empty() ? std::string("ROOT") : file_part_for(subvolume)) + "." +
         file_part_for(file);
}

OsVersion os_version_for_release(std::string_view release) {
  int major = 0, minor = 0;
  const char* end = release.data() + release.size();
  auto [after_major, ec] = std::from_chars(release.data(), end, major);
  if (ec == std::errc() && after_major < end && *after_major == '.')
    std::from_chars(after_major + 1, end, minor);
  OsVersion version;
  version.letter = static_cast<char>('A' + std::clamp(major - 1, 0, 25));
  version.number = std::clamp(minor, 0, 255);
  return version;
}

std::optional<node::Node> build_host_node(const HostSources& sources, std::string* error) {
  HostSources complete = with_defaults(sources);
  std::string why;
  std::optional<std::vector<ProcStat>> processes = read_processes(complete.proc_dir, &why);
  std::optional<std::string> self_text = read_small_file(complete.proc_dir + "/self/stat");
  std::optional<ProcStat> self = self_text ? parse_proc_stat(*self_text) : std::nullopt;
  if (!processes || !self) {
    if (error) *error = "host: " + (why.empty() ? complete.proc_dir + "/self/stat: cannot be read" : why);
    return std::nullopt;
  }
  std::erase_if(*processes, [&](const ProcStat& p) { return p.pid == self->pid; });
  return Snapshot(complete, std::move(*processes), *self).build();
}

std::optional<node::Node> build_host_node(std::string* error) {
  return build_host_node(HostSources{}, error);
}

}  // namespace nsk::live
