// The login records of remote sessions: the utmp file, the SSH_CONNECTION of a session leader,
// and systemd-logind's session files.  Each source may be missing or hold anything; what cannot
// be read or does not hold an IPv4 client address gives no record.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/livenode.h"

namespace nsk::live {
namespace {

std::string bounded_text(const char* field, std::size_t size) {
  return std::string(field, ::strnlen(field, size));
}

// kill with signal 0 tells without permission to signal: EPERM means the process exists.
bool process_alive(pid_t pid) {
  if (pid <= 0) return true;  // nothing to check against
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::optional<std::string> ipv4_of_words(const std::int32_t words[4]) {
  std::uint32_t w[4];
  std::memcpy(w, words, sizeof w);
  in_addr address{};
  if (w[1] == 0 && w[2] == 0 && w[3] == 0 && w[0] != 0) {
    address.s_addr = w[0];
  } else if (w[0] == 0 && w[1] == 0 && w[2] == htonl(0xffffu)) {
    address.s_addr = w[3];
  } else {
    return std::nullopt;
  }
  char text[INET_ADDRSTRLEN];
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return std::string(text);
}

std::optional<std::string> port_text(std::string_view text) {
  unsigned port = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (ec != std::errc() || end != text.data() + text.size() || port == 0 || port > 65535)
    return std::nullopt;
  return std::to_string(port);
}

std::vector<std::string_view> split_blanks(std::string_view text) {
  std::vector<std::string_view> fields;
  while (!text.empty()) {
    std::size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) break;
    text = text.substr(start);
    std::size_t end = std::min(text.find(' '), text.size());
    fields.push_back(text.substr(0, end));
    text = text.substr(end);
  }
  return fields;
}

std::string tty_path_of_line(std::string_view line) {
  return line.starts_with("/dev/") ? std::string(line) : "/dev/" + std::string(line);
}

}  // namespace

std::optional<std::string> ipv4_for_text(std::string_view text) {
  std::string zero_ended(text);
  if (zero_ended.size() != std::strlen(zero_ended.c_str())) return std::nullopt;
  in_addr v4{};
  if (::inet_pton(AF_INET, zero_ended.c_str(), &v4) == 1) {
    char out[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &v4, out, sizeof out);
    return std::string(out);
  }
  in6_addr v6{};
  if (::inet_pton(AF_INET6, zero_ended.c_str(), &v6) != 1 || !IN6_IS_ADDR_V4MAPPED(&v6))
    return std::nullopt;
  std::memcpy(&v4.s_addr, v6.s6_addr + 12, 4);
  char out[INET_ADDRSTRLEN];
  ::inet_ntop(AF_INET, &v4, out, sizeof out);
  return std::string(out);
}

std::vector<std::pair<std::string, LoginRecord>> read_utmp(const std::string& path, UtmpPids pids) {
  std::vector<std::pair<std::string, LoginRecord>> records;
  std::optional<std::string> content = read_small_file(path);
  if (!content) return records;
  for (std::size_t at = 0; at + sizeof(utmp) <= content->size(); at += sizeof(utmp)) {
    utmp entry;
    std::memcpy(&entry, content->data() + at, sizeof entry);
    if (entry.ut_type != USER_PROCESS) continue;
    if (pids == UtmpPids::Check && !process_alive(entry.ut_pid)) continue;
    std::string line = bounded_text(entry.ut_line, sizeof entry.ut_line);
    if (line.empty()) continue;
    std::optional<std::string> address = ipv4_for_text(bounded_text(entry.ut_host, sizeof entry.ut_host));
    if (!address) address = ipv4_of_words(entry.ut_addr_v6);
    if (!address) continue;
    LoginRecord record;
    record.address = *address;
    record.source = "utmp";
    std::string tty = tty_path_of_line(line);
    auto same = std::find_if(records.begin(), records.end(),
                             [&](const auto& known) { return known.first == tty; });
    if (same != records.end()) records.erase(same);
    records.emplace_back(tty, record);
  }
  return records;
}

std::optional<LoginRecord> parse_ssh_connection(std::string_view value) {
  std::vector<std::string_view> fields = split_blanks(value);
  if (fields.size() != 4) return std::nullopt;
  std::optional<std::string> client = ipv4_for_text(fields[0]);
  std::optional<std::string> client_port = port_text(fields[1]);
  std::optional<std::string> server_port = port_text(fields[3]);
  if (!client || !client_port || !server_port) return std::nullopt;
  LoginRecord record;
  record.address = *client;
  record.port = *client_port;
  if (std::optional<std::string> server = ipv4_for_text(fields[2])) {
    record.address2 = *server;
    record.port2 = *server_port;
  }
  record.source = "SSH_CONNECTION";
  return record;
}

std::optional<LoginRecord> ssh_connection_record(std::string_view environ_block,
                                                 std::string_view tty_path) {
  std::optional<std::string_view> connection, ssh_tty;
  while (!environ_block.empty()) {
    std::size_t end = std::min(environ_block.find('\0'), environ_block.size());
    std::string_view entry = environ_block.substr(0, end);
    if (entry.starts_with("SSH_CONNECTION=")) connection = entry.substr(15);
    if (entry.starts_with("SSH_TTY=")) ssh_tty = entry.substr(8);
    environ_block = environ_block.substr(std::min(end + 1, environ_block.size()));
  }
  // A session started inside an SSH session (script, a nested terminal) inherits the variables
  // with the SSH session's own tty: they describe that tty, not this one.
  if (!connection || (ssh_tty && *ssh_tty != tty_path)) return std::nullopt;
  return parse_ssh_connection(*connection);
}

LogindSession parse_logind_session(std::string_view id, std::string_view text) {
  LogindSession session;
  session.id = std::string(id);
  while (!text.empty()) {
    std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text = text.substr(std::min(end + 1, text.size()));
    std::size_t equals = line.find('=');
    if (line.starts_with("#") || equals == std::string_view::npos) continue;
    std::string_view key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "TTY") session.tty = std::string(value);
    if (key == "REMOTE_HOST") session.remote_host = std::string(value);
    if (key == "REMOTE") session.remote = value == "1";
    if (key == "STATE") session.closing = value == "closing";
  }
  return session;
}

std::vector<LogindSession> read_logind_sessions(const std::string& dir) {
  std::vector<LogindSession> sessions;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return sessions;
  while (dirent* entry = ::readdir(d)) {
    std::string_view id = entry->d_name;
    // Session files are named by the session id; "<id>.ref" beside them are FIFOs.
    if (id.empty() || id.find('.') != std::string_view::npos) continue;
    if (std::optional<std::string> text = read_small_file(dir + "/" + std::string(id)))
      sessions.push_back(parse_logind_session(id, *text));
  }
  ::closedir(d);
  std::sort(sessions.begin(), sessions.end(),
            [](const LogindSession& a, const LogindSession& b) { return a.id < b.id; });
  return sessions;
}

std::optional<std::string> logind_session_of_cgroup(std::string_view cgroup_text) {
  constexpr std::string_view PREFIX = "/session-", SUFFIX = ".scope";
  std::size_t at = cgroup_text.find(PREFIX);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = cgroup_text.substr(at + PREFIX.size());
  std::size_t end = rest.find(SUFFIX);
  if (end == 0 || end == std::string_view::npos) return std::nullopt;
  std::string_view id = rest.substr(0, end);
  for (char c : id)
    if (!std::isalnum(static_cast<unsigned char>(c))) return std::nullopt;
  return std::string(id);
}

}  // namespace nsk::live
