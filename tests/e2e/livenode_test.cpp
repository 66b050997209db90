// The programs on the live node (NETLOC_NODE=host), run in real sessions: ptys made here, login
// records written here (a utmp file of our own, a session leader's environment, logind session
// files), real process chains, and an emulator played on the pty's other side.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

#include "harness.h"
#include "platform/livenode.h"

extern char** environ;

namespace {

using Lines = std::vector<std::string>;

struct Pty {
  int master = -1;  // -1 once hung up
  std::string slave;
  Pty() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) slave = ::ptsname(master);
  }
  ~Pty() { ::close(master); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  // "/dev/pts/5" -> "\NODE.$PTY5.#TERM"
  std::string terminal() const {
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    return nsk::live::node_name_for_host(host) + "." + nsk::live::name_for_tty(slave)->destination +
           ".#TERM";
  }
};

// Where netloc runs in the session on the leader's pty.
enum class Place {
  Leader,      // netloc is the session leader on the pty
  ShellChild,  // a shell leads the session on the pty; netloc is its child on the same pty
  OtherPty,    // netloc leads a session of its own on a second pty, child of the leader
  NoTty,       // netloc leads a session without a tty, child of the leader; output to a pipe
};

struct Session {
  std::string program = "netloc";
  Place place = Place::Leader;
  std::vector<std::string> args;
  std::map<std::string, std::string> leader_env;  // the session leader's environment
  // Called with the leader's pid before netloc starts: write the login records here.
  std::function<void(pid_t leader)> records;
  std::string reply;  // given: answer the query on the pty with these bytes
  bool hang_up_at_query = false;  // close the pty's master side when the query comes
};

struct Outcome {
  int status = -1;
  Lines lines;  // of netloc's output, without "\r" and without the query bytes
  bool queried = false;  // the query came out of the tty
};

class LiveNode : public ::testing::Test {
 protected:
  std::string utmp_path() const { return dir_.path() + "/utmp"; }
  std::string sessions_dir() const { return dir_.path() + "/sessions"; }

  std::vector<std::string> environment(const std::map<std::string, std::string>& extra) const {
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
      std::string entry = *e;
      std::size_t eq = entry.find('=');
      if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const char* name : {"SSH_CONNECTION", "SSH_TTY", "SSH_CLIENT"}) vars.erase(name);
    vars["NETLOC_NODE"] = "host";
    vars["NETLOC_UTMP"] = utmp_path();
    vars["NETLOC_LOGIND_DIR"] = sessions_dir();
    vars["XDG_STATE_HOME"] = dir_.path() + "/state";
    for (const auto& [name, value] : extra) vars[name] = value;
    std::vector<std::string> result;
    for (const auto& [name, value] : vars) result.push_back(name + "=" + value);
    return result;
  }

  Outcome run(const Session& session, const Pty& pty, const Pty* other = nullptr);
  e2e::TempDir dir_;
};

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// In a child: a new session whose controlling tty is tty (none when empty), with standard
// input, output and error on it (or on out_fd when given).
void enter_session(const std::string& tty, int out_fd) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  ::setsid();
  int in = tty.empty() ? ::open("/dev/null", O_RDONLY) : ::open(tty.c_str(), O_RDWR);
  if (!tty.empty()) ::ioctl(in, TIOCSCTTY, 0);
  int out = out_fd >= 0 ? out_fd : in;
  ::dup2(in, 0);
  ::dup2(out, 1);
  ::dup2(out, 2);
  if (in > 2) ::close(in);
}

// Reads fd until netloc's side is closed, answering the query once with reply when given, or
// hanging up the pty (closing fd) when the query comes.
std::string collect(int fd, const std::string& reply, bool hang_up_at_query) {
  std::string text;
  bool answered = reply.empty();
  auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);  // a hang guard
  while (std::chrono::steady_clock::now() < give_up) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char chunk[512];
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) break;  // EIO on a pty master once the slave is closed everywhere
    text.append(chunk, static_cast<std::size_t>(n));
    if (hang_up_at_query && text.find("\x1b-9e") != std::string::npos) {
      ::close(fd);
      break;
    }
    if (!answered && text.find("\x1b-9e") != std::string::npos) {
      answered = ::write(fd, reply.data(), reply.size()) == static_cast<ssize_t>(reply.size());
    }
  }
  return text;
}

Lines output_lines(std::string text) {
  for (std::size_t at; (at = text.find("\x1b-9e")) != std::string::npos;) text.erase(at, 4);
  Lines result;
  for (std::string line : e2e::lines(text)) {
    while (!line.empty() && line.back() == '\r') line.pop_back();  // the tty adds its own
    result.push_back(line);
  }
  return result;
}

Outcome LiveNode::run(const Session& session, const Pty& pty, const Pty* other) {
  std::string program = e2e::program_path(session.program);
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), session.args.begin(), session.args.end());
  std::vector<std::string> env = environment({});
  std::vector<std::string> leader_env = environment(session.leader_env);
  std::vector<std::string> shell_argv = {"/bin/sh", "-c", "\"$@\"; exit $?", "sh"};
  shell_argv.insert(shell_argv.end(), argv.begin(), argv.end());
  std::vector<char*> argv_p = pointers(argv), env_p = pointers(env),
                     leader_env_p = pointers(leader_env), shell_p = pointers(shell_argv);
  // ready: each process that opens a pty says so, since a pty master reads as closed until its
  // slave is open.  go: the login records are written.
  int ready[2], go[2], out[2];
  if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(go, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
    return {};
  std::string other_slave = other ? other->slave : "";

  pid_t leader = ::fork();
  if (leader == 0) {
    enter_session(pty.slave, -1);
    if (::write(ready[1], "L", 1) != 1) ::_exit(120);
    char byte;
    if (::read(go[0], &byte, 1) != 1) ::_exit(120);
    if (session.place == Place::Leader) ::execve(argv_p[0], argv_p.data(), leader_env_p.data());
    if (session.place == Place::ShellChild) ::execve(shell_p[0], shell_p.data(), leader_env_p.data());
    pid_t child = ::fork();
    if (child == 0) {
      enter_session(other_slave, session.place == Place::NoTty ? out[1] : -1);
      if (::write(ready[1], "C", 1) != 1) ::_exit(120);
      ::execve(argv_p[0], argv_p.data(), env_p.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  }
  ::close(out[1]);
  ::close(ready[1]);
  char byte;
  EXPECT_EQ(::read(ready[0], &byte, 1), 1);
  if (session.records) session.records(leader);
  EXPECT_EQ(::write(go[1], "g", 1), 1);
  if (session.place == Place::OtherPty || session.place == Place::NoTty) {
    EXPECT_EQ(::read(ready[0], &byte, 1), 1);
  }
  ::close(ready[0]);
  ::close(go[1]);
  ::close(go[0]);
  int read_fd = session.place == Place::NoTty ? out[0] : session.place == Place::OtherPty ? other->master : pty.master;
  std::string text = collect(read_fd, session.reply, session.hang_up_at_query);
  ::close(out[0]);
  int status = 0;
  ::waitpid(leader, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), output_lines(text),
          text.find("\x1b-9e") != std::string::npos};
}

void write_utmp(const std::string& path, const std::string& tty, pid_t pid, const std::string& host) {
  utmp entry{};
  entry.ut_type = USER_PROCESS;
  entry.ut_pid = pid;
  std::strncpy(entry.ut_line, tty.c_str() + 5, sizeof entry.ut_line);  // without "/dev/"
  std::strncpy(entry.ut_user, "alice", sizeof entry.ut_user);
  std::strncpy(entry.ut_host, host.c_str(), sizeof entry.ut_host);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::write(fd, &entry, sizeof entry), static_cast<ssize_t>(sizeof entry));
  ::close(fd);
}

bool has_line(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string joined(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST_F(LiveNode, UtmpRecordMakesATelnetWindow) {
  for (Place place : {Place::Leader, Place::ShellChild}) {
    SCOPED_TRACE(static_cast<int>(place));
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    std::remove(utmp_path().c_str());
    Session session;
    session.args = {"SPI"};
    session.records = [&](pid_t leader) { write_utmp(utmp_path(), pty.slave, leader, "192.0.2.17"); };
    session.place = place;
    Outcome outcome = run(session, pty);
    EXPECT_EQ(outcome.status, 0);
    ASSERT_GE(outcome.lines.size(), 3u) << joined(outcome.lines);
    EXPECT_TRUE(outcome.lines[0].starts_with("NETLOC (402) - T4410K03 - (20May2008)   System \\"));
    EXPECT_TRUE(has_line(outcome.lines,
                         "TELNET window " + pty.terminal() + " is IP-Address: 192.0.2.17  (spi)"))
        << joined(outcome.lines);
  }
}

TEST_F(LiveNode, AncestorAtARemoteSessionFromAnotherPty) {
  Pty pty, other;
  Session session;
  session.place = Place::OtherPty;
  session.args = {"SPI"};
  session.records = [&](pid_t leader) { write_utmp(utmp_path(), pty.slave, leader, "192.0.2.17"); };
  Outcome outcome = run(session, pty, &other);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(has_line(outcome.lines, "This is an ordinary terminal")) << joined(outcome.lines);
  EXPECT_TRUE(has_line(outcome.lines, "IP address found in the chain of ancestors: 192.0.2.17"))
      << joined(outcome.lines);
}

TEST_F(LiveNode, AncestorAtARemoteSessionWithoutATty) {
  Pty pty;
  Session session;
  session.place = Place::NoTty;
  session.records = [&](pid_t leader) { write_utmp(utmp_path(), pty.slave, leader, "192.0.2.17"); };
  Outcome outcome = run(session, pty);
  EXPECT_EQ(outcome.status, 0);
  ASSERT_EQ(outcome.lines.size(), 4u) << joined(outcome.lines);  // after the banner's two lines
  EXPECT_EQ(Lines(outcome.lines.begin() + 2, outcome.lines.end()),
            (Lines{"This is a process", "IP address found in the chain of ancestors: 192.0.2.17"}));
}

TEST_F(LiveNode, SshConnectionOfTheSessionLeader) {
  Pty pty;
  Session session;
  session.place = Place::ShellChild;
  session.args = {"SPI"};
  session.leader_env = {{"SSH_CONNECTION", "::ffff:198.51.100.7 50123 198.51.100.1 22"},
                        {"SSH_TTY", pty.slave}};
  Outcome outcome = run(session, pty);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(has_line(outcome.lines,
                       "TELNET window " + pty.terminal() + " is IP-Address: 198.51.100.7  (spi)"))
      << joined(outcome.lines);
}

TEST_F(LiveNode, LogindSessionOfThePty) {
  Pty pty;
  Session session;
  session.args = {"SPI"};
  session.records = [&](pid_t) {
    dir_.write("sessions/7", "STATE=active\nREMOTE=1\nTTY=" + pty.slave.substr(5) +
                                 "\nREMOTE_HOST=203.0.113.9\nSERVICE=sshd\n");
  };
  Outcome outcome = run(session, pty);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(has_line(outcome.lines,
                       "TELNET window " + pty.terminal() + " is IP-Address: 203.0.113.9  (spi)"))
      << joined(outcome.lines);
}

// Records that give no address: the pty is an ordinary terminal, and nothing hangs.
TEST_F(LiveNode, RecordsWithoutAnAddress) {
  static const struct {
    const char* what;
    const char* utmp_host;  // nullptr: the utmp file holds utmp_bytes
    std::string utmp_bytes;
    std::map<std::string, std::string> leader_env;
  } cases[] = {
      {"garbage utmp", nullptr, std::string(1000, '\x07'), {}},
      {"no utmp", nullptr, "", {}},
      {"IPv6 client", nullptr, "", {{"SSH_CONNECTION", "2001:db8::1 50123 2001:db8::2 22"}}},
      {"host name", "ws17.example.com", "", {}},
      {"tmux marker", "tmux(4711).%0", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Pty pty;
    std::remove(utmp_path().c_str());
    Session session;
    session.args = {"SPI"};
    session.leader_env = c.leader_env;
    session.records = [&](pid_t leader) {
      if (c.utmp_host != nullptr) {
        write_utmp(utmp_path(), pty.slave, leader, c.utmp_host);
      } else if (!c.utmp_bytes.empty()) {
        dir_.write("utmp", c.utmp_bytes);
      }
    };
    Outcome outcome = run(session, pty);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(has_line(outcome.lines, "This is an ordinary terminal")) << joined(outcome.lines);
  }
}

TEST_F(LiveNode, EmulatorOnTheOtherSideOfThePty) {
  Pty pty;
  Session session;
  session.reply = "\x01&WS17\x12" "10.1.2.3\x12NETLOC\r";
  Outcome outcome = run(session, pty);
  EXPECT_EQ(outcome.status, 0);
  bool found = false;
  for (const std::string& line : outcome.lines)
    found |= line.starts_with("TELNET window " + pty.terminal() + " is IP-Address: 10.1.2.3  (esc, ");
  EXPECT_TRUE(found) << joined(outcome.lines);
}

// Every build stores into the one database of the user's state directory: netloc PLAIN at one
// remote session, netloc_c (PLAIN by default) at another, and IS lists each.
TEST_F(LiveNode, PlainStoresInTheStateDirectoryAndIsListsIt) {
  Pty first, second, elsewhere;
  struct Store {
    const char* program;
    std::vector<std::string> args;
    const Pty& pty;
    const char* address;
  };
  const Store stores[] = {{"netloc", {"PLAIN", "SPI"}, first, "192.0.2.17"},
                          {"netloc_c", {"SPI"}, second, "192.0.2.18"}};
  for (const Store& store : stores) {
    SCOPED_TRACE(store.program);
    Session session;
    session.program = store.program;
    session.args = store.args;
    session.records = [&](pid_t leader) { write_utmp(utmp_path(), store.pty.slave, leader, store.address); };
    Outcome stored = run(session, store.pty);
    EXPECT_EQ(stored.status, 0) << joined(stored.lines);
    EXPECT_TRUE(std::filesystem::exists(dir_.path() + "/state/netloc/host/NETLOC/TERMIPA0"));
  }
  for (const Store& store : stores) {
    SCOPED_TRACE(store.program);
    Session list;
    list.place = Place::NoTty;
    list.args = {"IS", store.pty.terminal()};
    Outcome listed = run(list, elsewhere);
    EXPECT_EQ(listed.status, 0);
    const std::string local = store.pty.terminal().substr(store.pty.terminal().find('.') + 1);
    const std::string row = local + std::string(28 - local.size(), ' ') + store.address;
    bool found = false;
    for (const std::string& line : listed.lines) found |= line.starts_with(row + "        ");
    EXPECT_TRUE(found) << joined(listed.lines);
  }
}

// TERMINAL names a tty by the rule: a remote session's pty, an ordinary one, one that does not
// exist.
TEST_F(LiveNode, TerminalNamedOnTheCommandLine) {
  Pty remote, local, mine;
  Session session;
  session.place = Place::NoTty;
  session.records = [&](pid_t) {
    // A live pid is needed for the record: the test process itself.
    write_utmp(utmp_path(), remote.slave, ::getpid(), "192.0.2.17");
  };
  struct Case {
    std::string name;
    Lines report;
  };
  const std::string missing = "$PTY9999.#TERM";
  const Case cases[] = {
      {remote.terminal(), {"TELNET window " + remote.terminal() + " is IP-Address: 192.0.2.17  (spi)"}},
      {local.terminal(), {"This is an ordinary terminal"}},
      {missing, {"Unknown device"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(utmp_path().c_str());
    session.args = {"SPI", "TERMINAL", c.name};
    Outcome outcome = run(session, mine);
    EXPECT_EQ(outcome.status, 0);
    Lines after_banner = outcome.lines;
    after_banner.erase(after_banner.begin(), after_banner.begin() + std::min<long>(2, static_cast<long>(after_banner.size())));
    EXPECT_EQ(after_banner, c.report) << joined(outcome.lines);
  }
}

// The terminal goes away while the query waits for its answer: the run ends (SIGHUP reaches the
// session leader) instead of waiting.
TEST_F(LiveNode, TtyHungUpDuringTheQuery) {
  Pty pty;
  Session session;
  session.hang_up_at_query = true;
  Outcome outcome = run(session, pty);
  pty.master = -1;  // closed by the hang-up
  EXPECT_TRUE(outcome.status == 0 || outcome.status == 128 + SIGHUP) << outcome.status;
}

// In ESC mode the query goes to the real tty; no emulator answers it there, so after the wait
// the login record does.
TEST_F(LiveNode, UnansweredQueryThenTheLoginRecord) {
  Pty pty;
  Session session;
  session.records = [&](pid_t leader) { write_utmp(utmp_path(), pty.slave, leader, "192.0.2.17"); };
  termios before{};
  ASSERT_EQ(::tcgetattr(pty.master, &before), 0);
  Outcome outcome = run(session, pty);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(outcome.queried);
  termios after{};
  ASSERT_EQ(::tcgetattr(pty.master, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);  // raw only for the query
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_TRUE(has_line(outcome.lines,
                       "TELNET window " + pty.terminal() + " is IP-Address: 192.0.2.17  (spi)"))
      << joined(outcome.lines);
}

// A utmp file named by NETLOC_UTMP is taken as written, like `who FILE`: a record whose writer
// has ended still describes the pty.
TEST_F(LiveNode, NamedUtmpFileIsTakenAsWritten) {
  Pty pty;
  pid_t writer = ::fork();
  if (writer == 0) ::_exit(0);
  ::waitpid(writer, nullptr, 0);
  Session session;
  session.args = {"SPI"};
  session.records = [&](pid_t) { write_utmp(utmp_path(), pty.slave, writer, "192.0.2.99"); };
  Outcome outcome = run(session, pty);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(has_line(outcome.lines,
                       "TELNET window " + pty.terminal() + " is IP-Address: 192.0.2.99  (spi)"))
      << joined(outcome.lines);
}

}  // namespace
