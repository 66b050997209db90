// The live node: its rules for names, ttys and addresses as tables, the login-record readers on
// files written here, and the node built from this machine with a real pty and real processes.
#include "platform/livenode.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace nsk::live {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/livenode_test.XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempDir() { fs::remove_all(path_); }
  const std::string& path() const { return path_; }
  std::string write(const std::string& name, const std::string& content) const {
    std::string file = path_ + "/" + name;
    fs::create_directories(fs::path(file).parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file;
  }

 private:
  std::string path_;
};

TEST(LiveNames, NodeNameOfHostName) {
  static constexpr struct {
    const char* host;
    const char* node;
  } cases[] = {
      {"vm", "\\VM"},
      {"my-box.example.com", "\\MYBOX"},
      {"buildserver42", "\\BUILDSE"},
      {"ip-10-0-0-5.ec2.internal", "\\IP10005"},
      {"42web", "\\N42WEB"},
      {"web_01", "\\WEB01"},
      {"", "\\LINUX"},
      {"---", "\\LINUX"},
      {".local", "\\LINUX"},
      {"h\xc3\xa4user", "\\HUSER"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    EXPECT_EQ(node_name_for_host(c.host), c.node);
  }
}

TEST(LiveNames, ProgramOfExecutable) {
  static constexpr struct {
    const char* path;
    const char* program;
  } cases[] = {
      {"/usr/bin/bash", "$SYSTEM.BIN.BASH"},
      {"/usr/lib/openssh/sshd-session", "$SYSTEM.OPENSSH.SSHDSESS"},
      {"/usr/bin/python3.11", "$SYSTEM.BIN.PYTHON31"},
      {"/usr/lib/gcc/x86_64-linux-gnu/12/cc1plus", "$SYSTEM.X12.CC1PLUS"},
      {"/init", "$SYSTEM.ROOT.INIT"},
      {"/opt/7zip/7z", "$SYSTEM.X7ZIP.X7Z"},
      {"/usr/bin/...", "$SYSTEM.BIN.X"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(program_for_executable(c.path), c.program);
  }
}

TEST(LiveNames, OsVersionOfKernelRelease) {
  static constexpr struct {
    const char* release;
    char letter;
    int number;
  } cases[] = {
      {"6.8.0-45-generic", 'F', 8},   {"5.15.0", 'E', 15},  {"6.18.44-fc-v1607", 'F', 18},
      {"4.19.0-27-amd64", 'D', 19},   {"3.10", 'C', 10},    {"2.6.32", 'B', 6},
      {"40.1", 'Z', 1},               {"6.300", 'F', 255},  {"garbage", 'A', 0},
      {"", 'A', 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.release);
    OsVersion version = os_version_for_release(c.release);
    EXPECT_EQ(version.letter, c.letter);
    EXPECT_EQ(version.number, c.number);
  }
}

TEST(LiveTtys, NamesBothWays) {
  static constexpr struct {
    const char* path;
    const char* destination;
    TtyKind kind;
  } cases[] = {
      {"/dev/pts/0", "$PTY0", TtyKind::Pty},        {"/dev/pts/4095", "$PTY4095", TtyKind::Pty},
      {"/dev/tty1", "$TTY1", TtyKind::Console},     {"/dev/console", "$CONSOLE", TtyKind::Console},
      {"/dev/ttyS0", "$TTYS0", TtyKind::Serial},    {"/dev/ttyUSB12", "$TTYU12", TtyKind::Serial},
      {"/dev/ttyACM3", "$TTYA3", TtyKind::Serial},  {"/dev/ttyAMA0", "$TTYM0", TtyKind::Serial},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::optional<TtyName> name = name_for_tty(c.path);
    ASSERT_TRUE(name);
    EXPECT_EQ(name->destination, c.destination);
    EXPECT_EQ(name->kind, c.kind);
    EXPECT_EQ(tty_for_name(c.destination), c.path);
    EXPECT_EQ(tty_for_name("\\vm." + std::string(c.destination) + ".#term"), c.path);
  }
}

TEST(LiveTtys, PathsWithoutAName) {
  // Numbers that do not fit a destination name, leading zeros (not the kernel's), other devices.
  for (const char* path : {"/dev/pts/10000", "/dev/pts/01", "/dev/pts/", "/dev/pts/x", "/dev/ttyS1000",
                           "/dev/tty", "/dev/ptmx", "/dev/null", "/tmp/pts/1", ""}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(name_for_tty(path));
  }
  for (const char* name : {"$PTY", "$PTY03", "$PTY1.#OTHER", "$TTYX1", "\\VM", "$PTY12345",
                           "$ZTN0.#PTY1", ""}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(tty_for_name(name));
  }
}

std::uint32_t tty_nr(unsigned major, unsigned minor) {
  return ((minor & 0xfff00u) << 12) | (major << 8) | (minor & 0xffu);
}

TEST(LiveTtys, DeviceNumbers) {
  static constexpr struct {
    unsigned major, minor;
    const char* path;
  } cases[] = {
      {136, 0, "/dev/pts/0"},    {136, 255, "/dev/pts/255"}, {136, 300, "/dev/pts/300"},
      {137, 4, "/dev/pts/260"},  {4, 1, "/dev/tty1"},        {4, 64, "/dev/ttyS0"},
      {4, 67, "/dev/ttyS3"},     {5, 1, "/dev/console"},     {188, 2, "/dev/ttyUSB2"},
      {166, 0, "/dev/ttyACM0"},  {204, 64, "/dev/ttyAMA0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(tty_path_for_device(tty_nr(c.major, c.minor)), c.path);
  }
  EXPECT_FALSE(tty_path_for_device(0));
  EXPECT_FALSE(tty_path_for_device(tty_nr(1, 3)));  // /dev/null
  EXPECT_FALSE(tty_path_for_device(tty_nr(5, 0)));  // /dev/tty itself is nobody's tty
}

TEST(LiveProcesses, StatLines) {
  std::optional<ProcStat> stat =
      parse_proc_stat("4711 (tmux: server (1)) S 1 4711 4711 34817 -1 4194560 0 0 0\n");
  ASSERT_TRUE(stat);
  EXPECT_EQ(stat->pid, 4711);
  EXPECT_EQ(stat->comm, "tmux: server (1)");
  EXPECT_EQ(stat->ppid, 1);
  EXPECT_EQ(stat->session, 4711);
  EXPECT_EQ(stat->tty_nr, 34817u);
  for (const char* bad : {"", "garbage", "12 (x", "12 (x) S 1 2", "x (y) S 1 2 3 4 5",
                          "12 (x) S a 2 3 4 5", "-3 (x) S 1 2 3 4 5", "12 (x) S 1 2 3 4x 5"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(parse_proc_stat(bad));
  }
}

TEST(LiveProcesses, CpuAndPinOfPid) {
  static constexpr struct {
    int pid, cpu, pin;
  } cases[] = {{1, 0, 1}, {32767, 0, 32767}, {32768, 1, 0}, {100000, 3, 1696}, {524288, 0, 0},
               {4194303, 15, 32767}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pid);
    EXPECT_EQ(cpu_pin_for_pid(c.pid), std::make_pair(c.cpu, c.pin));
  }
}

// A /proc of files: entries that vanished (no stat), garbage and names that are no pids are
// left out; the others come in pid order.
TEST(LiveProcesses, ReadsWhatIsThere) {
  TempDir proc;
  proc.write("300/stat", "300 (sh) S 20 300 300 0 -1 0\n");
  proc.write("20/stat", "20 (init) S 0 20 20 0 -1 0\n");
  proc.write("31/stat", "garbage");
  fs::create_directories(proc.path() + "/32");
  proc.write("self/stat", "300 (sh) S 20 300 300 0 -1 0\n");
  proc.write("abc/stat", "5 (x) S 1 5 5 0 -1 0\n");
  std::string error;
  std::optional<std::vector<ProcStat>> processes = read_processes(proc.path(), &error);
  ASSERT_TRUE(processes);
  ASSERT_EQ(processes->size(), 2u);
  EXPECT_EQ((*processes)[0].pid, 20);
  EXPECT_EQ((*processes)[1].pid, 300);
  EXPECT_FALSE(read_processes(proc.path() + "/none", &error));
  EXPECT_EQ(error, proc.path() + "/none: cannot be read: No such file or directory");
}

TEST(LiveAddresses, Ipv4Folding) {
  static constexpr struct {
    const char* text;
    const char* address;  // nullptr: no address
  } cases[] = {
      {"192.0.2.17", "192.0.2.17"},
      {"::ffff:192.0.2.17", "192.0.2.17"},
      {"::FFFF:c000:0211", "192.0.2.17"},
      {"2001:db8::1", nullptr},
      {"::1", nullptr},
      {"fe80::1%eth0", nullptr},
      {"ws17.example.com", nullptr},
      {":pts/3:S.0", nullptr},
      {"tmux(1234).%0", nullptr},
      {"192.0.2.17:0", nullptr},
      {"192.0.2", nullptr},
      {"256.1.1.1", nullptr},
      {" 192.0.2.17", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::optional<std::string> address = ipv4_for_text(c.text);
    if (c.address == nullptr) {
      EXPECT_FALSE(address);
    } else {
      EXPECT_EQ(address, c.address);
    }
  }
  EXPECT_FALSE(ipv4_for_text(std::string_view("1.2.3.4\0", 8)));
}

TEST(LiveLogins, SshConnectionValues) {
  static constexpr struct {
    const char* value;
    const char* address;  // nullptr: no record
    const char* port;
    const char* address2;
    const char* port2;
  } cases[] = {
      {"192.0.2.17 50123 198.51.100.2 22", "192.0.2.17", "50123", "198.51.100.2", "22"},
      {"::ffff:192.0.2.17 50123 ::ffff:198.51.100.2 22", "192.0.2.17", "50123", "198.51.100.2", "22"},
      {"192.0.2.17 50123 2001:db8::2 22", "192.0.2.17", "50123", "", ""},
      {"2001:db8::1 50123 2001:db8::2 22", nullptr, "", "", ""},
      {"192.0.2.17 50123 198.51.100.2", nullptr, "", "", ""},
      {"192.0.2.17 0 198.51.100.2 22", nullptr, "", "", ""},
      {"192.0.2.17 65536 198.51.100.2 22", nullptr, "", "", ""},
      {"192.0.2.17 port 198.51.100.2 22", nullptr, "", "", ""},
      {"", nullptr, "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    std::optional<LoginRecord> record = parse_ssh_connection(c.value);
    if (c.address == nullptr) {
      EXPECT_FALSE(record);
      continue;
    }
    ASSERT_TRUE(record);
    EXPECT_EQ(record->address, c.address);
    EXPECT_EQ(record->port, c.port);
    EXPECT_EQ(record->address2, c.address2);
    EXPECT_EQ(record->port2, c.port2);
    EXPECT_EQ(record->source, "SSH_CONNECTION");
  }
}

TEST(LiveLogins, SshConnectionOfAnEnvironment) {
  using namespace std::string_literals;
  const std::string connection = "SSH_CONNECTION=192.0.2.17 50123 198.51.100.2 22\0"s;
  static const struct {
    std::string block;
    bool taken;
  } cases[] = {
      {"HOME=/root\0"s + connection + "TERM=xterm\0"s, true},
      {connection + "SSH_TTY=/dev/pts/3\0"s, true},
      {"SSH_TTY=/dev/pts/7\0"s + connection, false},  // a session nested in the SSH session
      {"HOME=/root\0TERM=xterm"s, false},
      {"SSH_CONNECTION=192.0.2.17 50123 198.51.100.2 22"s, true},  // no NUL at the end
      {""s, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.block);
    std::optional<LoginRecord> record = ssh_connection_record(c.block, "/dev/pts/3");
    EXPECT_EQ(record.has_value(), c.taken);
    if (record) {
      EXPECT_EQ(record->address, "192.0.2.17");
    }
  }
}

utmp user_entry(const char* line, pid_t pid, const char* host) {
  utmp entry{};
  entry.ut_type = USER_PROCESS;
  entry.ut_pid = pid;
  std::strncpy(entry.ut_line, line, sizeof entry.ut_line);
  std::strncpy(entry.ut_user, "alice", sizeof entry.ut_user);
  std::strncpy(entry.ut_host, host, sizeof entry.ut_host);
  return entry;
}

std::string bytes_of(const std::vector<utmp>& entries) {
  return std::string(reinterpret_cast<const char*>(entries.data()), entries.size() * sizeof(utmp));
}

pid_t dead_pid() {
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

TEST(LiveLogins, UtmpRecords) {
  TempDir dir;
  const pid_t alive = ::getpid();
  std::vector<utmp> entries = {
      user_entry("pts/1", alive, "192.0.2.1"),
      user_entry("pts/2", alive, "ws2.example.com"),  // a host name: not an address
      user_entry("pts/3", alive, ":pts/1:S.0"),       // screen
      user_entry("pts/4", dead_pid(), "192.0.2.4"),   // stale: its process has ended
      user_entry("pts/5", alive, "::ffff:192.0.2.5"),
      user_entry("pts/6", alive, "2001:db8::6"),
      user_entry("pts/7", alive, "192.0.2.70"),
      user_entry("pts/7", alive, "192.0.2.77"),  // the later entry for a line counts
      user_entry("/dev/pts/8", alive, "192.0.2.8"),
  };
  utmp by_address = user_entry("pts/9", alive, "ws9.example.com");
  by_address.ut_addr_v6[0] = static_cast<std::int32_t>(inet_addr("192.0.2.9"));
  entries.push_back(by_address);
  utmp dead = user_entry("pts/10", alive, "192.0.2.10");
  dead.ut_type = DEAD_PROCESS;
  entries.push_back(dead);
  utmp full_host = user_entry("pts/11", alive, "");
  std::memset(full_host.ut_host, '1', sizeof full_host.ut_host);  // no NUL anywhere
  entries.push_back(full_host);

  std::string file = dir.write("utmp", bytes_of(entries) + "truncated");
  std::map<std::string, std::string> expected = {
      {"/dev/pts/1", "192.0.2.1"}, {"/dev/pts/5", "192.0.2.5"}, {"/dev/pts/7", "192.0.2.77"},
      {"/dev/pts/8", "192.0.2.8"}, {"/dev/pts/9", "192.0.2.9"}};
  for (UtmpPids pids : {UtmpPids::Check, UtmpPids::Keep}) {
    SCOPED_TRACE(pids == UtmpPids::Check ? "check" : "keep");
    std::map<std::string, std::string> found;
    for (const auto& [tty, record] : read_utmp(file, pids)) {
      EXPECT_EQ(record.source, "utmp");
      found[tty] = record.address;
    }
    // The entry of an ended process is stale only where pids are checked.
    if (pids == UtmpPids::Keep) expected["/dev/pts/4"] = "192.0.2.4";
    EXPECT_EQ(found, expected);
  }
}

TEST(LiveLogins, UtmpThatIsNoUtmp) {
  TempDir dir;
  EXPECT_TRUE(read_utmp(dir.path() + "/missing", UtmpPids::Check).empty());
  EXPECT_TRUE(read_utmp(dir.write("empty", ""), UtmpPids::Check).empty());
  EXPECT_TRUE(read_utmp(dir.write("short", std::string(sizeof(utmp) - 1, '\x07')), UtmpPids::Check).empty());
  EXPECT_TRUE(read_utmp(dir.write("garbage", std::string(3 * sizeof(utmp) + 5, '\xff')), UtmpPids::Check).empty());
  EXPECT_TRUE(read_utmp(dir.path(), UtmpPids::Check).empty());  // a directory
  EXPECT_TRUE(read_utmp("/dev/zero", UtmpPids::Check).empty());  // endless: a device is not read at all
  std::string fifo = dir.path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_TRUE(read_utmp(fifo, UtmpPids::Check).empty());  // would wait for a writer
}

TEST(LiveLogins, LogindSessionFiles) {
  TempDir dir;
  dir.write("3",
            "# This is private data. Do not parse.\nUID=1000\nUSER=alice\nACTIVE=1\nSTATE=active\n"
            "REMOTE=1\nTYPE=tty\nTTY=pts/3\nREMOTE_HOST=192.0.2.33\nSERVICE=sshd\n");
  dir.write("4", "STATE=closing\nREMOTE=1\nTTY=/dev/pts/4\nREMOTE_HOST=192.0.2.44\n");
  dir.write("c5", "REMOTE=0\nTTY=tty1\n");
  dir.write("6", "garbage without any equals sign\n\n=\n");
  ASSERT_EQ(::mkfifo((dir.path() + "/3.ref").c_str(), 0600), 0);  // must not be opened
  ASSERT_EQ(::mkfifo((dir.path() + "/7").c_str(), 0600), 0);      // nor a FIFO of any name

  std::vector<LogindSession> sessions = read_logind_sessions(dir.path());
  ASSERT_EQ(sessions.size(), 4u);
  EXPECT_EQ(sessions[0].id, "3");
  EXPECT_EQ(sessions[0].tty, "pts/3");
  EXPECT_EQ(sessions[0].remote_host, "192.0.2.33");
  EXPECT_TRUE(sessions[0].remote);
  EXPECT_FALSE(sessions[0].closing);
  EXPECT_EQ(sessions[1].id, "4");
  EXPECT_TRUE(sessions[1].closing);
  EXPECT_EQ(sessions[2].id, "6");
  EXPECT_EQ(sessions[2].tty, "");
  EXPECT_EQ(sessions[3].id, "c5");
  EXPECT_FALSE(sessions[3].remote);
  EXPECT_TRUE(read_logind_sessions(dir.path() + "/none").empty());
}

TEST(LiveLogins, LogindSessionOfCgroup) {
  static constexpr struct {
    const char* cgroup;
    const char* id;  // nullptr: none
  } cases[] = {
      {"0::/user.slice/user-1000.slice/session-3.scope\n", "3"},
      {"12:pids:/user.slice/user-1000.slice/session-c12.scope\n0::/x\n", "c12"},
      {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/tmux.scope\n", nullptr},
      {"0::/session-.scope\n", nullptr},
      {"0::/session-3/x\n", nullptr},
      {"0::/session-3;rm.scope\n", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cgroup);
    std::optional<std::string> id = logind_session_of_cgroup(c.cgroup);
    if (c.id == nullptr) {
      EXPECT_FALSE(id);
    } else {
      EXPECT_EQ(id, c.id);
    }
  }
}

// --- The node of this machine --------------------------------------------------------------

const node::Destination* destination_named(const node::Node& node, const std::string& name) {
  for (const node::Destination& d : node.destinations)
    if (d.name == name) return &d;
  return nullptr;
}

const node::Process* process_named(const node::Node& node, const std::string& ref) {
  if (ref == node.self.name || ref == std::to_string(node.self.cpu) + "," + std::to_string(node.self.pin))
    return &node.self;
  for (const node::Process& p : node.processes)
    if (p.name == ref || (p.name.empty() && ref == std::to_string(p.cpu) + "," + std::to_string(p.pin)))
      return &p;
  return nullptr;
}

const node::Process* process_with_pid(const node::Node& node, int pid) {
  if (node.self.oss_pid == pid) return &node.self;
  for (const node::Process& p : node.processes)
    if (p.type == node::ProcessType::Oss && p.oss_pid == pid) return &p;
  return nullptr;
}

std::string ref_of(const node::Process& p) {
  return p.name.empty() ? std::to_string(p.cpu) + "," + std::to_string(p.pin) : p.name;
}

// A session leader on a new pty (the pty's slave as its controlling tty), with a child that
// leaves the tty (a session of its own without one); both wait until the test ends.
class PtySession {
 public:
  PtySession() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::grantpt(master_);
    ::unlockpt(master_);
    slave_path_ = ::ptsname(master_);
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    leader_ = ::fork();
    if (leader_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::setsid();
      int slave = ::open(slave_path_.c_str(), O_RDWR);
      ::ioctl(slave, TIOCSCTTY, 0);
      pid_t child = ::fork();
      if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::setsid();
        if (::write(ready[1], "x", 1) != 1) ::_exit(1);
        ::pause();
        ::_exit(0);
      }
      ::pause();
      ::_exit(0);
    }
    char byte;
    EXPECT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
  }
  ~PtySession() {
    ::kill(leader_, SIGKILL);  // its child follows (parent-death signal)
    ::waitpid(leader_, nullptr, 0);
    ::close(master_);
  }
  const std::string& slave_path() const { return slave_path_; }
  pid_t leader() const { return leader_; }

 private:
  int master_ = -1;
  std::string slave_path_;
  pid_t leader_ = -1;
};

class HostNode : public ::testing::Test {
 protected:
  node::Node build(const std::vector<utmp>& utmp_entries) {
    HostSources sources;
    sources.utmp_file = dir_.write("utmp", bytes_of(utmp_entries));
    sources.logind_dir = dir_.path() + "/sessions";
    sources.state_dir = dir_.path() + "/state";
    std::string error;
    std::optional<node::Node> node = build_host_node(sources, &error);
    EXPECT_TRUE(node) << error;
    return node ? *node : node::Node{};
  }
  TempDir dir_;
};

TEST_F(HostNode, TheRunningProcessItself) {
  node::Node node = build({});
  EXPECT_EQ(node.source, "host");
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  EXPECT_EQ(node.name, node_name_for_host(host));
  ASSERT_EQ(node.volumes.size(), 1u);
  EXPECT_EQ(node.volumes[0].name, "$NETLOC");
  EXPECT_EQ(node.volumes[0].dir, dir_.path() + "/state");
  EXPECT_EQ(node.self.oss_pid, ::getpid());
  EXPECT_EQ(node.self.oss_parent_pid, ::getppid());
  EXPECT_EQ(node.self.type, node::ProcessType::Oss);
  EXPECT_EQ(node.self.program, node.name + ".$NETLOC.NETLOC.LIVENODE");
  EXPECT_EQ(node.self.default_volume, "$NETLOC");
  EXPECT_EQ(node.self.attribute82, ::getpwuid(::geteuid())->pw_name);
  // The program file is a link to this executable, where the address database goes beside it.
  EXPECT_EQ(fs::read_symlink(dir_.path() + "/state/NETLOC/LIVENODE"), fs::read_symlink("/proc/self/exe"));
}

// Every process's mom is on the node, every climb ends at $INIT, and names and pairs are unique.
TEST_F(HostNode, EveryChainEndsAtInit) {
  node::Node node = build({});
  std::set<std::pair<int, int>> pairs{{node.self.cpu, node.self.pin}};
  std::set<std::string> names;
  for (const node::Process& p : node.processes) {
    EXPECT_TRUE(pairs.insert({p.cpu, p.pin}).second) << p.cpu << "," << p.pin;
    EXPECT_GE(p.cpu, 0);
    EXPECT_LE(p.cpu, 15);
    if (!p.name.empty()) {
      EXPECT_TRUE(names.insert(p.name).second) << p.name;
    }
  }
  const node::Process* at = &node.self;
  for (std::size_t steps = 0; !at->mom.empty(); ++steps) {
    ASSERT_LT(steps, node.processes.size());
    at = process_named(node, at->mom);
    ASSERT_NE(at, nullptr);
  }
  EXPECT_EQ(at->name, "$INIT");
  for (const node::Process& p : node.processes) {
    if (!p.name.empty()) continue;
    SCOPED_TRACE(p.oss_pid);
    EXPECT_NE(process_named(node, p.mom), nullptr) << p.mom;
  }
}

TEST_F(HostNode, RemoteSessionIsATelnetWindow) {
  PtySession session;
  node::Node node = build({user_entry(session.slave_path().c_str() + 5, session.leader(), "192.0.2.17")});
  std::optional<TtyName> name = name_for_tty(session.slave_path());
  ASSERT_TRUE(name);
  const node::Destination* line = destination_named(node, name->destination);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->device_type, node::DEVICE_TELNET);
  ASSERT_EQ(line->terminals.size(), 1u);
  const node::Terminal& terminal = line->terminals[0];
  EXPECT_EQ(terminal.name, "#TERM");
  EXPECT_EQ(terminal.address, "192.0.2.17");
  EXPECT_EQ(terminal.emulator.kind, node::EmulatorKind::Tty);
  EXPECT_EQ(terminal.emulator.tty_path, session.slave_path());
  EXPECT_EQ(terminal.output.kind, node::OutputKind::Tty);
  EXPECT_EQ(terminal.output.path, session.slave_path());
  const node::Process* server = process_named(node, name->destination);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(server->program, node.name + ".$SYSTEM.SYS01.TELSERV");

  const node::Process* leader = process_with_pid(node, session.leader());
  ASSERT_NE(leader, nullptr);
  EXPECT_EQ(leader->home_terminal, node.name + "." + name->destination + ".#TERM");
  EXPECT_EQ(process_named(node, leader->mom), &node.self);
}

TEST_F(HostNode, PtyWithoutARecordIsAnOrdinaryTerminalLedByItsSession) {
  PtySession session;
  node::Node node = build({user_entry("pts/999", session.leader(), "192.0.2.17")});
  std::optional<TtyName> name = name_for_tty(session.slave_path());
  ASSERT_TRUE(name);
  const node::Destination* line = destination_named(node, name->destination);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->device_type, node::DEVICE_TERMINAL);
  EXPECT_EQ(line->terminals[0].address, "");
  // The line's process leads to the session leader, where the chain of ancestors starts.
  const node::Process* process = process_named(node, name->destination);
  ASSERT_NE(process, nullptr);
  const node::Process* leader = process_with_pid(node, session.leader());
  ASSERT_NE(leader, nullptr);
  EXPECT_EQ(process->mom, ref_of(*leader));
  EXPECT_EQ(process->program, node.name + ".$SYSTEM.SYS01.TTYLINE");
}

TEST_F(HostNode, WithoutATtyTheHomeTerminalIsThisProcess) {
  std::optional<std::string> stat = read_small_file("/proc/self/stat");
  ASSERT_TRUE(stat);
  if (parse_proc_stat(*stat)->tty_nr != 0) GTEST_SKIP() << "this test runs with a controlling tty";
  node::Node node = build({});
  EXPECT_EQ(node.self.name, "$NOTTY");
  EXPECT_EQ(node.self.home_terminal, node.name + ".$NOTTY");
  const node::Destination* itself = destination_named(node, "$NOTTY");
  ASSERT_NE(itself, nullptr);
  EXPECT_EQ(itself->device_type, node::DEVICE_PROCESS);
  ASSERT_EQ(itself->terminals.size(), 1u);
  EXPECT_EQ(itself->terminals[0].output.kind, node::OutputKind::Console);
  EXPECT_EQ(itself->terminals[0].emulator.kind, node::EmulatorKind::None);
}

TEST(HostNodeFailure, ProcThatCannotBeRead) {
  HostSources sources;
  sources.proc_dir = "/nonexistent/proc";
  std::string error;
  EXPECT_FALSE(build_host_node(sources, &error));
  EXPECT_EQ(error, "host: /nonexistent/proc: cannot be read: No such file or directory");
}

}  // namespace
}  // namespace nsk::live
