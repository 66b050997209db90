// Loading a node description (docs/node-description.md).  Every key is checked before anything
// runs, so that a mistake is reported with its file, line and key instead of surfacing later as a
// puzzling platform result.
#include <arpa/inet.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string_view>

// toml++ is compiled into this file rather than used as its shared library: the library pulls in
// the shared libstdc++, and loading and relocating the two took most of a short run's start.
#undef TOML_HEADER_ONLY
#undef TOML_SHARED_LIB
#define TOML_HEADER_ONLY 1
// The parser's internal assertions stay off in every build type, as in the released library: in a
// debug build one of them aborts on malformed input that the parser otherwise refuses as an error.
#define TOML_ASSERT(expr) static_assert(true)
#include <toml++/toml.h>

#include "platform/faults.h"
#include "platform/node.h"
#include "platform/startup.h"

namespace nsk::node {
namespace {

namespace fs = std::filesystem;
using Keys = std::vector<std::string_view>;

// The first problem found.  Thrown only inside the loader and caught by load_node_text, so the
// checks read straight through; nothing of it crosses the platform's interface.
struct Refusal {
  std::string line;
};

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// 1 to max letters and digits, the first a letter.
bool alnum_part(std::string_view s, std::size_t max) {
  if (s.empty() || s.size() > max || !is_letter(s[0])) return false;
  for (char c : s) {
    if (!is_letter(c) && !is_digit(c)) return false;
  }
  return true;
}

bool node_name_ok(std::string_view s) { return s.size() > 1 && s[0] == '\\' && alnum_part(s.substr(1), 7); }
bool dest_name_ok(std::string_view s) { return s.size() > 1 && s[0] == '$' && alnum_part(s.substr(1), 7); }
bool file_part_ok(std::string_view s) { return alnum_part(s, 8); }
bool qualifier_ok(std::string_view s) {
  if (!s.empty() && s[0] == '#') return alnum_part(s.substr(1), 8);
  return file_part_ok(s);
}

std::vector<std::string_view> split_dots(std::string_view s) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t dot; (dot = s.find('.', start)) != std::string_view::npos; start = dot + 1) {
    parts.push_back(s.substr(start, dot - start));
  }
  parts.push_back(s.substr(start));
  return parts;
}

// An external name [\node.]$dest[.part[.part]], upshifted and with the node name; nullopt when it
// is not one.  disk: exactly two file parts ($VOL.SUBVOL.FILE).
std::optional<std::string> external_name(std::string_view text, const std::string& own_node,
                                         bool disk) {
  std::vector<std::string_view> parts = split_dots(text);
  std::string node = own_node;
  std::size_t first = 0;
  if (!parts.empty() && !parts[0].empty() && parts[0][0] == '\\') {
    if (!node_name_ok(parts[0])) return std::nullopt;
    node = upper(parts[0]);
    first = 1;
  }
  std::size_t rest = parts.size() - first;
  if (rest == 0 || !dest_name_ok(parts[first])) return std::nullopt;
  if (disk ? rest != 3 : rest > 3) return std::nullopt;
  for (std::size_t i = first + 1; i < parts.size(); ++i) {
    if (disk ? !file_part_ok(parts[i]) : !qualifier_ok(parts[i])) return std::nullopt;
  }
  std::string name = node;
  for (std::size_t i = first; i < parts.size(); ++i) name += "." + upper(parts[i]);
  return name;
}

// Bytes as hex digit pairs, blanks allowed between pairs.
std::optional<std::string> hex_bytes(std::string_view text) {
  auto digit = [](char c) -> int {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    if (i + 1 >= text.size() || digit(text[i]) < 0 || digit(text[i + 1]) < 0) return std::nullopt;
    out.push_back(static_cast<char>(digit(text[i]) * 16 + digit(text[i + 1])));
    i += 2;
  }
  return out;
}

std::optional<std::string> ipv4_bytes(const std::string& text) {
  in_addr addr{};
  if (inet_pton(AF_INET, text.c_str(), &addr) != 1) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(&addr), 4);
}

std::string big_endian_word(int value) {
  return {static_cast<char>((value >> 8) & 0xFF), static_cast<char>(value & 0xFF)};
}

bool bare_key(std::string_view k) {
  if (k.empty()) return false;
  for (char c : k) {
    if (!is_letter(c) && !is_digit(c) && c != '_' && c != '-') return false;
  }
  return true;
}

std::string home_dir() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return "/";
}

std::string state_dir() {
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/') {
    return std::string(xdg) + "/netloc";
  }
  return home_dir() + "/.local/state/netloc";
}

[[noreturn]] void refuse_at(const std::string& source, const toml::source_region& where,
                           const std::string& key, const std::string& problem) {
  std::uint32_t line = where.begin.line == 0 ? 1 : where.begin.line;
  throw Refusal{source + ":" + std::to_string(line) + ": " + key + ": " + problem};
}

// One table of the description with its dotted key path.
class Tab {
 public:
  Tab(const std::string& source, const toml::table& table, std::string path)
      : source_(source), table_(table), path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  std::string key(std::string_view k) const {
    std::string piece = bare_key(k) ? std::string(k) : "\"" + std::string(k) + "\"";
    return path_.empty() ? piece : path_ + "." + piece;
  }

  [[noreturn]] void refuse_at(const toml::source_region& where, const std::string& key,
                              const std::string& problem) const {
    node::refuse_at(source_, where, key, problem);
  }

  // At the key's line when it is present, else at the table's.
  [[noreturn]] void refuse(std::string_view k, const std::string& problem) const {
    const toml::node* n = node(k);
    refuse_at(n != nullptr ? n->source() : table_.source(), key(k), problem);
  }

  void allow(const Keys& keys) const {
    for (auto&& [k, v] : table_) {
      bool known = false;
      for (std::string_view allowed : keys) known = known || k.str() == allowed;
      if (!known) refuse_at(k.source(), key(k.str()), "unknown key");
    }
  }

  const toml::node* node(std::string_view k) const { return table_.get(k); }
  bool has(std::string_view k) const { return node(k) != nullptr; }

  std::optional<std::string> text(std::string_view k, std::size_t max_bytes = 255) const {
    const toml::node* n = node(k);
    if (n == nullptr) return std::nullopt;
    if (!n->is_string()) refuse(k, "expected a string");
    std::string value = n->as_string()->get();
    if (value.size() > max_bytes) refuse(k, "longer than " + std::to_string(max_bytes) + " bytes");
    return value;
  }

  std::string required_text(std::string_view k, std::size_t max_bytes = 255) const {
    std::optional<std::string> value = text(k, max_bytes);
    if (!value) refuse(k, "missing");
    return *value;
  }

  std::optional<std::int64_t> integer(std::string_view k, std::int64_t lo, std::int64_t hi) const {
    const toml::node* n = node(k);
    if (n == nullptr) return std::nullopt;
    if (!n->is_integer()) refuse(k, "expected an integer");
    std::int64_t value = n->as_integer()->get();
    if (value < lo || value > hi) {
      refuse(k, "must be " + std::to_string(lo) + " to " + std::to_string(hi));
    }
    return value;
  }

  std::int64_t required_integer(std::string_view k, std::int64_t lo, std::int64_t hi) const {
    std::optional<std::int64_t> value = integer(k, lo, hi);
    if (!value) refuse(k, "missing");
    return *value;
  }

  std::optional<bool> boolean(std::string_view k) const {
    const toml::node* n = node(k);
    if (n == nullptr) return std::nullopt;
    if (!n->is_boolean()) refuse(k, "expected true or false");
    return n->as_boolean()->get();
  }

  std::optional<double> number(std::string_view k) const {
    const toml::node* n = node(k);
    if (n == nullptr) return std::nullopt;
    if (n->is_integer()) return static_cast<double>(n->as_integer()->get());
    if (!n->is_floating_point()) refuse(k, "expected a number");
    return n->as_floating_point()->get();
  }

  std::optional<Tab> table(std::string_view k) const {
    const toml::node* n = node(k);
    if (n == nullptr) return std::nullopt;
    if (!n->is_table()) refuse(k, "expected a table");
    return Tab(source_, *n->as_table(), key(k));
  }

  // An array of tables ([[k]] or k = [ {...}, ... ]); empty when absent.
  std::vector<Tab> tables(std::string_view k) const {
    std::vector<Tab> out;
    const toml::node* n = node(k);
    if (n == nullptr) return out;
    const toml::array* array = n->as_array();
    if (array == nullptr) refuse(k, "expected an array of tables");
    for (std::size_t i = 0; i < array->size(); ++i) {
      const toml::table* element = (*array)[i].as_table();
      std::string element_key = key(k) + "[" + std::to_string(i) + "]";
      if (element == nullptr) refuse_at((*array)[i].source(), element_key, "expected a table");
      out.emplace_back(source_, *element, element_key);
    }
    return out;
  }

  const toml::table& raw() const { return table_; }

 private:
  const std::string& source_;
  const toml::table& table_;
  std::string path_;
};

// A process reference (mom, ancestor) to be checked once every process is known.
struct Reference {
  const toml::source_region* where;
  std::string key;
  std::string ref;
};

class Loader {
 public:
  Loader(std::string source, fs::path base) : source_(std::move(source)), base_(std::move(base)) {}

  Node load(const toml::table& root_table) {
    Tab root(source_, root_table, "");
    root.allow({"node", "volume", "remote_node", "self", "process", "destination", "spi", "hosts",
                "fault"});
    node_.source = source_;
    if (auto t = root.table("node")) read_node(*t);
    for (const Tab& t : root.tables("volume")) read_volume(t);
    for (const Tab& t : root.tables("remote_node")) read_remote_node(t);
    std::optional<Tab> self = root.table("self");
    if (!self) root.refuse("self", "missing");
    read_process(*self, node_.self, true);
    read_self(*self);
    for (const Tab& t : root.tables("process")) {
      node_.processes.emplace_back();
      read_process(t, node_.processes.back(), false);
    }
    settle_processes();
    for (const Tab& t : root.tables("destination")) read_destination(t);
    if (auto t = root.table("spi")) read_spi(*t);
    if (auto t = root.table("hosts")) read_hosts(*t);
    for (const Tab& t : root.tables("fault")) read_fault(t);
    return std::move(node_);
  }

 private:
  void read_node(const Tab& t) {
    t.allow({"name", "number", "os", "time_scale"});
    if (auto name = t.text("name")) {
      std::string with_backslash = (!name->empty() && (*name)[0] == '\\') ? *name : "\\" + *name;
      if (!node_name_ok(with_backslash)) t.refuse("name", "bad node name");
      node_.name = upper(with_backslash);
    }
    if (auto number = t.integer("number", 0, 254)) node_.number = static_cast<int>(*number);
    if (auto os = t.text("os")) read_os(t, *os);
    if (auto scale = t.number("time_scale")) {
      if (!(*scale > 0) || !std::isfinite(*scale)) t.refuse("time_scale", "must be greater than 0");
      node_.time_scale = *scale;
    }
  }

  void read_os(const Tab& t, const std::string& os) {
    bool ok = os.size() >= 2 && os.size() <= 4 && is_letter(os[0]);
    for (std::size_t i = 1; ok && i < os.size(); ++i) ok = is_digit(os[i]);
    if (!ok || std::stoi(os.substr(1)) > 255) {
      t.refuse("os", "expected a letter and a number 0 to 255, as \"L21\"");
    }
    node_.os_letter = upper(os.substr(0, 1))[0];
    node_.os_number = std::stoi(os.substr(1));
  }

  std::string path(const Tab& t, std::string_view k) {
    std::string text = t.required_text(k, 4096);
    if (text.empty()) t.refuse(k, "empty path");
    if (text.rfind("~state/", 0) == 0) return state_dir() + "/" + text.substr(7);
    if (text.rfind("~/", 0) == 0) return home_dir() + "/" + text.substr(2);
    fs::path p(text);
    return (p.is_absolute() ? p : base_ / p).lexically_normal().string();
  }

  void read_volume(const Tab& t) {
    t.allow({"name", "dir"});
    Volume v;
    v.name = destination_name(t, "name");
    for (const Volume& other : node_.volumes) {
      if (other.name == v.name) t.refuse("name", "duplicate volume " + v.name);
    }
    v.dir = path(t, "dir");
    node_.volumes.push_back(v);
  }

  void read_remote_node(const Tab& t) {
    t.allow({"name", "number"});
    RemoteNode r;
    r.name = upper(t.required_text("name"));
    if (!node_name_ok(r.name)) t.refuse("name", "bad node name");
    r.number = static_cast<int>(t.required_integer("number", 0, 254));
    if (r.name == node_.name) t.refuse("name", "this is the own node's name");
    if (r.number == node_.number) t.refuse("number", "this is the own node's number");
    for (const RemoteNode& other : node_.remote_nodes) {
      if (other.name == r.name) t.refuse("name", "duplicate node " + r.name);
      if (other.number == r.number) t.refuse("number", "duplicate node number");
    }
    node_.remote_nodes.push_back(r);
  }

  std::string destination_name(const Tab& t, std::string_view k) {
    std::string name = upper(t.required_text(k));
    if (!dest_name_ok(name)) t.refuse(k, "bad name \"" + name + "\"");
    return name;
  }

  std::optional<std::string> name_key(const Tab& t, std::string_view k, bool disk) {
    std::optional<std::string> text = t.text(k);
    if (!text) return std::nullopt;
    std::optional<std::string> name = external_name(*text, node_.name, disk);
    if (!name) t.refuse(k, std::string(disk ? "bad disk file name" : "bad name") + " \"" + *text + "\"");
    std::string node = name->substr(0, name->find('.'));
    bool known = node == node_.name;
    for (const RemoteNode& r : node_.remote_nodes) known = known || node == r.name;
    if (!known) t.refuse(k, "no node " + node + " (give it as a [[remote_node]])");
    return name;
  }

  // "$NAME" or "cpu,pin", normalised; checked against the processes later.
  void reference(const Tab& t, std::string_view k, std::string* out) {
    std::optional<std::string> text = t.text(k);
    if (!text) return;
    std::string ref = upper(*text);
    std::size_t comma = ref.find(',');
    if (comma != std::string::npos) {
      std::string cpu = ref.substr(0, comma), pin = ref.substr(comma + 1);
      auto digits = [](const std::string& s) {
        return !s.empty() && s.size() <= 5 && s.find_first_not_of("0123456789") == std::string::npos;
      };
      if (!digits(cpu) || !digits(pin)) t.refuse(k, "expected a process name or \"cpu,pin\"");
      ref = std::to_string(std::stoi(cpu)) + "," + std::to_string(std::stoi(pin));
    } else if (!dest_name_ok(ref)) {
      t.refuse(k, "expected a process name or \"cpu,pin\"");
    }
    references_.push_back({&t.node(k)->source(), t.key(k), ref});
    *out = ref;
  }

  void read_process(const Tab& t, Process& p, bool is_self) {
    Keys keys = {"name", "cpu", "pin", "program", "home_terminal", "mom", "ancestor", "type",
                 "oss_pid", "oss_parent_pid", "logon_state", "creator_access_id", "inject"};
    if (is_self) {
      keys.insert(keys.end(), {"default_volume", "default_subvolume", "params", "attribute82",
                               "switchuser"});
    } else {
      keys.push_back("exists");
    }
    t.allow(keys);
    if (t.has("name")) p.name = destination_name(t, "name");
    read_cpu_pin(t, p);
    if (auto program = name_key(t, "program", true)) p.program = *program;
    if (auto home = name_key(t, "home_terminal", false)) p.home_terminal = *home;
    if (is_self && p.program.empty()) t.refuse("program", "missing");
    if (is_self && p.home_terminal.empty()) t.refuse("home_terminal", "missing");
    reference(t, "mom", &p.mom);
    reference(t, "ancestor", &p.ancestor);
    if (auto exists = t.boolean("exists")) p.exists = *exists;
    read_process_type(t, p);
    if (auto v = t.integer("logon_state", 0, 65535)) p.logon_state = static_cast<int>(*v);
    if (auto v = t.integer("creator_access_id", 0, 65535)) p.creator_access_id = static_cast<int>(*v);
    if (auto inject = t.table("inject")) read_inject(*inject, p);
  }

  void read_cpu_pin(const Tab& t, Process& p) {
    std::optional<std::int64_t> cpu = t.integer("cpu", 0, 15);
    std::optional<std::int64_t> pin = t.integer("pin", 0, 32767);
    if (cpu.has_value() != pin.has_value()) t.refuse(cpu ? "pin" : "cpu", "missing (give cpu and pin together)");
    if (!cpu && p.name.empty()) t.refuse("cpu", "missing (an unnamed process needs cpu and pin)");
    p.cpu = static_cast<int>(cpu.value_or(0));
    p.pin = static_cast<int>(pin.value_or(-1));  // -1: placed by settle_processes
    placed_.push_back({t.path(), &t.raw().source(), pin ? &t.node("pin")->source() : nullptr});
  }

  void read_process_type(const Tab& t, Process& p) {
    if (auto type = t.text("type")) {
      if (*type == "oss") {
        p.type = ProcessType::Oss;
      } else if (*type != "guardian") {
        t.refuse("type", "expected \"guardian\" or \"oss\"");
      }
    }
    bool oss = p.type == ProcessType::Oss;
    if (!oss && t.has("oss_pid")) t.refuse("oss_pid", "only for an OSS process (type = \"oss\")");
    if (!oss && t.has("oss_parent_pid")) t.refuse("oss_parent_pid", "only for an OSS process (type = \"oss\")");
    if (!oss) return;
    p.oss_pid = static_cast<std::int32_t>(t.required_integer("oss_pid", 1, 2147483647));
    if (auto v = t.integer("oss_parent_pid", 0, 2147483647)) p.oss_parent_pid = static_cast<std::int32_t>(*v);
  }

  void read_inject(const Tab& t, Process& p) {
    t.allow({"PROCESS_GETPAIRINFO_", "PROCESS_GETINFO_", "PROCESS_GETINFOLIST_"});
    for (auto&& [k, v] : t.raw()) {
      p.inject[std::string(k.str())] = static_cast<int>(*t.integer(k.str(), -32768, 32767));
    }
  }

  void read_self(const Tab& t) {
    Self& s = node_.self;
    if (t.has("default_volume")) s.default_volume = destination_name(t, "default_volume");
    if (auto sub = t.text("default_subvolume")) {
      if (!file_part_ok(*sub)) t.refuse("default_subvolume", "bad subvolume name \"" + *sub + "\"");
      s.default_subvolume = upper(*sub);
    }
    if (auto a82 = t.text("attribute82", 32)) s.attribute82 = *a82;
    if (auto sw = t.boolean("switchuser")) s.switchuser = *sw;
    std::size_t message = 4;
    for (const Tab& param : t.tables("params")) {
      param.allow({"name", "value"});
      std::string name = param.required_text("name", 31);
      if (name.empty()) param.refuse("name", "empty");
      std::string value = param.required_text("value", 255);
      message += 2 + name.size() + value.size();
      if (message > static_cast<std::size_t>(PARAM_MESSAGE_MAX)) param.refuse("name", "the PARAM message grows past 1028 bytes");
      s.params.emplace_back(name, value);
    }
  }

  // Places named processes given without cpu and pin, then checks that every process is
  // unique and that every reference names one.
  void settle_processes() {
    std::vector<Process*> all = {&node_.self};
    for (Process& p : node_.processes) all.push_back(&p);
    std::set<std::pair<int, int>> used;
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (all[i]->pin < 0) continue;
      if (!used.insert({all[i]->cpu, all[i]->pin}).second) {
        refuse_at(*placed_[i].pin, placed_[i].path + ".pin",
                  "another process has cpu " + std::to_string(all[i]->cpu) + ", pin " +
                      std::to_string(all[i]->pin));
      }
    }
    for (Process* p : all) {
      if (p->pin >= 0) continue;
      p->cpu = 0;
      for (p->pin = 300; used.count({0, p->pin}) != 0; ++p->pin) {
      }
      used.insert({0, p->pin});
    }
    check_unique_names_and_pids(all);
    for (const Reference& r : references_) {
      bool found = false;
      for (const Process* p : all) {
        found = found || r.ref == p->name || r.ref == std::to_string(p->cpu) + "," + std::to_string(p->pin);
      }
      if (!found) refuse_at(*r.where, r.key, "names no process (\"" + r.ref + "\")");
    }
  }

  void check_unique_names_and_pids(const std::vector<Process*>& all) {
    std::set<std::string> names;
    std::set<std::int32_t> pids;
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (!all[i]->name.empty() && !names.insert(all[i]->name).second) {
        refuse_at(*placed_[i].table, placed_[i].path + ".name", "duplicate process " + all[i]->name);
      }
      if (all[i]->type == ProcessType::Oss && !pids.insert(all[i]->oss_pid).second) {
        refuse_at(*placed_[i].table, placed_[i].path + ".oss_pid", "another process has this oss_pid");
      }
    }
  }

  void read_destination(const Tab& t) {
    t.allow({"name", "device_type", "subtype", "gemini_id", "terminal"});
    Destination d;
    d.name = destination_name(t, "name");
    for (const Destination& other : node_.destinations) {
      if (other.name == d.name) t.refuse("name", "duplicate destination " + d.name);
    }
    for (const Volume& v : node_.volumes) {
      if (v.name == d.name) t.refuse("name", d.name + " is a volume");
    }
    if (auto v = t.integer("device_type", 0, 63)) d.device_type = static_cast<int>(*v);
    if (auto v = t.integer("subtype", 0, 63)) d.device_subtype = static_cast<int>(*v);
    if (auto id = t.text("gemini_id", 64)) d.gemini_id = *id;
    bool gemini = t.has("gemini_id");
    for (const Tab& term : t.tables("terminal")) {
      Terminal terminal = read_terminal(term, gemini);
      for (const Terminal& other : d.terminals) {
        if (other.name == terminal.name) {
          term.refuse("name", terminal.name.empty() ? "the destination itself is already a terminal"
                                                    : "duplicate terminal " + terminal.name);
        }
      }
      d.terminals.push_back(std::move(terminal));
    }
    node_.destinations.push_back(std::move(d));
  }

  Terminal read_terminal(const Tab& t, bool gemini) {
    static const Keys gemini_keys = {"gemini_address", "gemini_address_hex", "gemini_port",
                                     "gemini_port_hex", "gemini_address2", "gemini_address2_hex",
                                     "gemini_port2", "gemini_port2_hex"};
    Keys keys = {"name", "address", "port", "address2", "port2", "address_field",
                 "address_field_hex", "address2_field", "address2_field_hex", "dte", "emulator",
                 "output"};
    keys.insert(keys.end(), gemini_keys.begin(), gemini_keys.end());
    t.allow(keys);
    for (std::string_view k : gemini_keys) {
      if (!gemini && t.has(k)) t.refuse(k, "only under a destination with gemini_id");
    }
    Terminal term;
    if (auto name = t.text("name")) {
      if (!name->empty() && !qualifier_ok(*name)) t.refuse("name", "bad terminal name \"" + *name + "\"");
      term.name = upper(*name);
    }
    term.address = t.text("address", 39).value_or("");
    term.port = port_text(t, "port");
    term.address2 = t.text("address2", 39).value_or("");
    term.port2 = port_text(t, "port2");
    term.address_field_raw = bytes_key(t, "address_field", 40);
    term.address2_field_raw = bytes_key(t, "address2_field", 40);
    term.dte = t.text("dte", 64).value_or("");
    if (gemini) read_gemini(t, term);
    if (auto e = t.table("emulator")) term.emulator = read_emulator(*e);
    if (auto o = t.table("output")) term.output = read_output(*o);
    return term;
  }

  std::string port_text(const Tab& t, std::string_view k) {
    const toml::node* n = t.node(k);
    if (n != nullptr && n->is_integer()) return std::to_string(*t.integer(k, 0, 65535));
    if (n != nullptr && !n->is_string()) t.refuse(k, "expected an integer or a string");
    return t.text(k, 39).value_or("");
  }

  // k (text) or k_hex (bytes), at most max bytes; nullopt when neither is given.
  std::optional<std::string> bytes_key(const Tab& t, const std::string& k, std::size_t max) {
    std::string hex_key = k + "_hex";
    if (t.has(k) && t.has(hex_key)) t.refuse(hex_key, "give " + k + " or " + hex_key + ", not both");
    if (auto text = t.text(k, max)) return text;
    std::optional<std::string> hex = t.text(hex_key, 3 * max);
    if (!hex) return std::nullopt;
    std::optional<std::string> bytes = hex_bytes(*hex);
    if (!bytes) t.refuse(hex_key, "bad hex (pairs of hex digits, blanks between pairs)");
    if (bytes->size() > max) t.refuse(hex_key, "longer than " + std::to_string(max) + " bytes");
    return bytes;
  }

  // GEMINI answers: given raw, given as text or number, or derived from the Telnet record keys.
  void read_gemini(const Tab& t, Terminal& term) {
    term.gemini_address = gemini_address(t, "gemini_address", "address", term.address);
    term.gemini_port = gemini_port(t, "gemini_port", "port", term.port);
    term.gemini_address2 = gemini_address(t, "gemini_address2", "address2", term.address2);
    term.gemini_port2 = gemini_port(t, "gemini_port2", "port2", term.port2);
  }

  std::string gemini_address(const Tab& t, const std::string& k, std::string_view from,
                             const std::string& fallback) {
    std::string hex_key = k + "_hex";
    if (t.has(k) && t.has(hex_key)) t.refuse(hex_key, "give " + k + " or " + hex_key + ", not both");
    if (t.has(hex_key)) return *bytes_key(t, k, 64);
    std::optional<std::string> text = t.text(k);
    std::string source = text.value_or(fallback);
    if (source.empty()) return "";
    std::optional<std::string> bytes = ipv4_bytes(source);
    if (!bytes) {
      if (text) t.refuse(k, "expected dotted IPv4 text or \"\"");
      t.refuse(from, "not dotted IPv4 text: give " + k + " or " + hex_key + " for this GEMINI window");
    }
    return *bytes;
  }

  std::string gemini_port(const Tab& t, const std::string& k, std::string_view from,
                          const std::string& fallback) {
    std::string hex_key = k + "_hex";
    if (t.has(k) && t.has(hex_key)) t.refuse(hex_key, "give " + k + " or " + hex_key + ", not both");
    if (t.has(hex_key)) return *bytes_key(t, k, 64);
    const toml::node* n = t.node(k);
    if (n != nullptr && n->is_string()) {
      if (!t.text(k)->empty()) t.refuse(k, "expected an integer or \"\"");
      return "";
    }
    if (n != nullptr) return big_endian_word(static_cast<int>(*t.integer(k, 0, 65535)));
    if (fallback.empty()) return "";
    bool number = fallback.size() <= 5 && fallback.find_first_not_of("0123456789") == std::string::npos;
    if (!number || std::stoi(fallback) > 65535) {
      t.refuse(from, "not a port number: give " + k + " or " + hex_key + " for this GEMINI window");
    }
    return big_endian_word(std::stoi(fallback));
  }

  Emulator read_emulator(const Tab& t) {
    t.allow({"reply", "reply_hex", "delay_cs", "empty_reads", "pending_input",
             "pending_input_hex", "silent", "tty"});
    Emulator e;
    std::optional<std::string> reply = bytes_key(t, "reply", 1024);
    bool silent = t.boolean("silent").value_or(false);
    if (reply) {
      e.kind = EmulatorKind::Script;
      e.reply = *reply;
    }
    if (silent) {
      if (reply) t.refuse("silent", "a silent emulator has no reply");
      e.kind = EmulatorKind::Silent;
    }
    if (t.has("tty")) {
      if (reply || silent) t.refuse("tty", "a tty emulator has no reply and is not silent");
      e.kind = EmulatorKind::Tty;
      e.tty_path = path(t, "tty");
    }
    if (e.kind == EmulatorKind::None) t.refuse("reply", "missing (give reply, reply_hex, silent or tty)");
    if (auto v = t.integer("delay_cs", 0, 360000)) e.delay_cs = static_cast<int>(*v);
    if (auto v = t.integer("empty_reads", 0, 100)) e.empty_reads = static_cast<int>(*v);
    e.pending_input = bytes_key(t, "pending_input", 1024).value_or("");
    return e;
  }

  Output read_output(const Tab& t) {
    t.allow({"console", "transcript", "tty", "fail_after", "error"});
    int kinds = t.has("console") + t.has("transcript") + t.has("tty") + t.has("fail_after");
    if (kinds != 1) {
      const char* k = t.has("console") ? "console" : t.has("transcript") ? "transcript" : "tty";
      t.refuse(k, kinds == 0 ? "missing (give console, transcript, tty or fail_after)"
                             : "give one of console, transcript, tty, fail_after");
    }
    if (t.has("error") && !t.has("fail_after")) t.refuse("error", "only with fail_after");
    Output o;
    if (t.has("console")) {
      if (!*t.boolean("console")) t.refuse("console", "must be true (give another output instead)");
      o.kind = OutputKind::Console;
    } else if (t.has("transcript")) {
      o.kind = OutputKind::Transcript;
      o.path = path(t, "transcript");
    } else if (t.has("tty")) {
      o.kind = OutputKind::Tty;
      o.path = path(t, "tty");
    } else {
      o.kind = OutputKind::Fail;
      o.fail_after = static_cast<int>(*t.integer("fail_after", 0, 32767));
      o.fail_error = static_cast<int>(t.required_integer("error", -32768, 32767));
      if (o.fail_error == 0) t.refuse("error", "must not be 0");
    }
    return o;
  }

  void read_spi(const Tab& t) {
    t.allow({"delay_cs", "silent", "exchange_error"});
    if (auto v = t.integer("delay_cs", 0, 360000)) node_.spi.delay_cs = static_cast<int>(*v);
    if (auto v = t.boolean("silent")) node_.spi.silent = *v;
    if (auto v = t.integer("exchange_error", -32768, 32767)) node_.spi.exchange_error = static_cast<int>(*v);
  }

  void read_hosts(const Tab& t) {
    std::map<std::string, std::string> hosts;
    for (auto&& [k, v] : t.raw()) {
      std::string address(k.str());
      if (!ipv4_bytes(address)) t.refuse_at(k.source(), t.key(address), "not a dotted IPv4 address");
      std::string name = t.required_text(address, 255);
      if (name.empty()) t.refuse(address, "empty host name");
      hosts[address] = name;
    }
    node_.hosts = std::move(hosts);
  }

  void read_fault(const Tab& t) {
    t.allow({"procedure", "call", "error"});
    Fault f;
    f.procedure = t.required_text("procedure");
    // Only a procedure that can fail may be named, so a misspelt name is refused instead of
    // silently injecting nothing.
    if (!fault::injectable(f.procedure)) {
      t.refuse("procedure", "not a platform procedure that can be failed: \"" + f.procedure + "\"");
    }
    f.call = static_cast<int>(t.integer("call", 0, 32767).value_or(0));
    f.error = static_cast<int>(t.required_integer("error", -32768, 32767));
    if (f.error == 0) t.refuse("error", "must not be 0");
    node_.faults.push_back(f);
  }

  [[noreturn]] void refuse_at(const toml::source_region& where, const std::string& key,
                              const std::string& problem) const {
    node::refuse_at(source_, where, key, problem);
  }

  struct Placed {
    std::string path;
    const toml::source_region* table;
    const toml::source_region* pin;  // nullptr when the description gives no pin
  };

  std::string source_;
  fs::path base_;
  Node node_;
  std::vector<Reference> references_;
  std::vector<Placed> placed_;  // one per process, self first, in the order of node_.processes
};

std::string one_line(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

Node& current_node() {
  static Node node;
  return node;
}

}  // namespace

std::optional<Node> load_node_text(const std::string& text, const std::string& source_name,
                                   std::string* error) {
  std::error_code ec;
  fs::path base = fs::absolute(fs::path(source_name), ec).parent_path();
  try {
    toml::table root = toml::parse(text, source_name);
    return Loader(source_name, base).load(root);
  } catch (const toml::parse_error& e) {
    if (error != nullptr) {
      *error = source_name + ":" + std::to_string(e.source().begin.line) + ": " +
               one_line(std::string(e.description()));
    }
  } catch (const Refusal& r) {
    if (error != nullptr) *error = r.line;
  }
  return std::nullopt;
}

// Read with open/read rather than a file stream: a stream sets up the C++ locale, which was a
// measurable part of a short run's start.
std::optional<Node> load_node_file(const std::string& path, std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  std::string text;
  bool ok = fd >= 0;
  while (ok) {
    char block[8192];
    ssize_t n = ::read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    text.append(block, static_cast<size_t>(n));
  }
  int saved = errno;
  if (fd >= 0) ::close(fd);
  if (!ok) {
    if (error != nullptr) *error = path + ": cannot read the node description: " + std::strerror(saved);
    return std::nullopt;
  }
  return load_node_text(text, path, error);
}

const Node& current() { return current_node(); }

void set_current(Node node) { current_node() = std::move(node); }

}  // namespace nsk::node
