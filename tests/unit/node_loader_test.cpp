// Node descriptions: every mistake is refused with one exact "file:line: key: problem" line, the
// documented example (read from the documentation itself) and the demo node load as described,
// and the services that read the node (TOSVERSION, injected faults) follow it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/faults.h"
#include "platform/node.h"
#include "platform/system.h"

namespace nsk::node {
namespace {

// The five lines of a valid [self]; cases put it last so that their own lines count from 1.
#define SELF "[self]\ncpu = 1\npin = 2\nprogram = '$A.B.C'\nhome_terminal = '$T'\n"

struct BadCase {
  const char* text;
  const char* message;
};

constexpr BadCase kBad[] = {
    {"[nodes]\nname = 'X'\n" SELF, "t.toml:1: nodes: unknown key"},
    {"[node]\nnumber = \"7\"\n" SELF, "t.toml:2: node.number: expected an integer"},
    {"[node]\nnumber = 255\n" SELF, "t.toml:2: node.number: must be 0 to 254"},
    {"[node]\nname = '\\1DEMO'\n" SELF, "t.toml:2: node.name: bad node name"},
    {"[node]\nos = \"L\"\n" SELF,
     "t.toml:2: node.os: expected a letter and a number 0 to 255, as \"L21\""},
    {"[node]\nos = \"L256\"\n" SELF,
     "t.toml:2: node.os: expected a letter and a number 0 to 255, as \"L21\""},
    {"[node]\ntime_scale = 0\n" SELF, "t.toml:2: node.time_scale: must be greater than 0"},
    {"[node]\ntime_scale = true\n" SELF, "t.toml:2: node.time_scale: expected a number"},
    {"[node]\nnumber = 1\n", "t.toml:1: self: missing"},
    {"[volume]\nname = \"$D\"\n" SELF, "t.toml:1: volume: expected an array of tables"},
    {"[[volume]]\nname = \"$D\"\n" SELF, "t.toml:1: volume[0].dir: missing"},
    {"[[volume]]\nname = \"$D\"\ndir = \"a\"\n[[volume]]\nname = \"$d\"\ndir = \"b\"\n" SELF,
     "t.toml:5: volume[1].name: duplicate volume $D"},
    {"[[remote_node]]\nname = '\\FAR'\nnumber = 1\n" SELF,
     "t.toml:3: remote_node[0].number: this is the own node's number"},
    {"[self]\ncpu = 1\npin = 2\nhome_terminal = '$T'\n", "t.toml:1: self.program: missing"},
    {"[self]\ncpu = 1\npin = 2\nprogram = '$DATA.NETLOC'\nhome_terminal = '$T'\n",
     "t.toml:4: self.program: bad disk file name \"$DATA.NETLOC\""},
    {"[self]\ncpu = 1\npin = 2\nprogram = '$A.B.C'\nhome_terminal = '$TOOLONGNAME'\n",
     "t.toml:5: self.home_terminal: bad name \"$TOOLONGNAME\""},
    {"[self]\ncpu = 1\npin = 2\nprogram = '\\FAR.$A.B.C'\nhome_terminal = '$T'\n",
     "t.toml:4: self.program: no node \\FAR (give it as a [[remote_node]])"},
    {"[self]\ncpu = 16\npin = 2\nprogram = '$A.B.C'\nhome_terminal = '$T'\n",
     "t.toml:2: self.cpu: must be 0 to 15"},
    {"[self]\ncpu = 1\nprogram = '$A.B.C'\nhome_terminal = '$T'\n",
     "t.toml:1: self.pin: missing (give cpu and pin together)"},
    {SELF "exists = false\n", "t.toml:6: self.exists: unknown key"},
    {SELF "mom = \"$TACL9\"\n", "t.toml:6: self.mom: names no process (\"$TACL9\")"},
    {SELF "mom = \"4,5\"\n", "t.toml:6: self.mom: names no process (\"4,5\")"},
    {SELF "mom = \"TACL\"\n", "t.toml:6: self.mom: expected a process name or \"cpu,pin\""},
    {SELF "attribute82 = \"" "123456789012345678901234567890123\"\n",
     "t.toml:6: self.attribute82: longer than 32 bytes"},
    {SELF "default_subvolume = \"1ABC\"\n",
     "t.toml:6: self.default_subvolume: bad subvolume name \"1ABC\""},
    {SELF "params = [ { name = \"A\", value = \"1\" }, { name = \"\", value = \"2\" } ]\n",
     "t.toml:6: self.params[1].name: empty"},
    {SELF "params = [ { name = \"A\", valu = \"1\" } ]\n",
     "t.toml:6: self.params[0].valu: unknown key"},
    {SELF "[[process]]\nname = \"$P\"\n[[process]]\nname = \"$p\"\n",
     "t.toml:8: process[1].name: duplicate process $P"},
    {SELF "[[process]]\ncpu = 1\npin = 2\n",
     "t.toml:8: process[0].pin: another process has cpu 1, pin 2"},
    {SELF "[[process]]\nprogram = '$A.B.C'\n",
     "t.toml:6: process[0].cpu: missing (an unnamed process needs cpu and pin)"},
    {SELF "[[process]]\nname = \"$P\"\ntype = \"posix\"\n",
     "t.toml:8: process[0].type: expected \"guardian\" or \"oss\""},
    {SELF "[[process]]\nname = \"$P\"\noss_pid = 4\n",
     "t.toml:8: process[0].oss_pid: only for an OSS process (type = \"oss\")"},
    {SELF "[[process]]\nname = \"$P\"\ntype = \"oss\"\n", "t.toml:6: process[0].oss_pid: missing"},
    {SELF "[[process]]\nname = \"$P\"\ninject = { PROCESS_STOP_ = 4 }\n",
     "t.toml:8: process[0].inject.PROCESS_STOP_: unknown key"},
    {SELF "[[process]]\nname = \"$P\"\ninject = { PROCESS_GETINFO_ = 40000 }\n",
     "t.toml:8: process[0].inject.PROCESS_GETINFO_: must be -32768 to 32767"},
    {SELF "[[process]]\nname = \"$P\"\nancestor = \"$Q\"\n",
     "t.toml:8: process[0].ancestor: names no process (\"$Q\")"},
    {"[[volume]]\nname = \"$D\"\ndir = \"d\"\n[[destination]]\nname = \"$D\"\n" SELF,
     "t.toml:5: destination[0].name: $D is a volume"},
    {"[[destination]]\nname = \"$T\"\n[[destination]]\nname = \"$T\"\n" SELF,
     "t.toml:4: destination[1].name: duplicate destination $T"},
    {"[[destination]]\nname = \"$T\"\ndevice_type = 64\n" SELF,
     "t.toml:3: destination[0].device_type: must be 0 to 63"},
    {"[[destination]]\nname = \"$T\"\nterminal = [ { name = \"#A\" }, { name = \"#a\" } ]\n" SELF,
     "t.toml:3: destination[0].terminal[1].name: duplicate terminal #A"},
    {"[[destination]]\nname = \"$T\"\nterminal = [ { name = \"\" }, { } ]\n" SELF,
     "t.toml:3: destination[0].terminal[1].name: the destination itself is already a terminal"},
    {"[[destination]]\nname = \"$T\"\nterminal = [ { name = \"#1A\" } ]\n" SELF,
     "t.toml:3: destination[0].terminal[0].name: bad terminal name \"#1A\""},
    {"[[destination]]\nname = \"$A\"\n[[destination]]\nname = \"$B\"\n"
     "[[destination.terminal]]\nname = \"#W\"\n[[destination.terminal]]\nname = \"#X\"\n"
     "emulator = { reply = \"x\", delay_cs = -1 }\n" SELF,
     "t.toml:9: destination[1].terminal[1].emulator.delay_cs: must be 0 to 360000"},
    {"[[destination]]\nname = \"$A\"\n[[destination.terminal]]\nname = \"#W\"\n"
     "emulator = { reply_hex = \"01 2G\" }\n" SELF,
     "t.toml:5: destination[0].terminal[0].emulator.reply_hex: bad hex (pairs of hex digits, "
     "blanks between pairs)"},
    {"[[destination]]\nname = \"$A\"\n[[destination.terminal]]\nname = \"#W\"\n"
     "emulator = { reply = \"a\", reply_hex = \"61\" }\n" SELF,
     "t.toml:5: destination[0].terminal[0].emulator.reply_hex: give reply or reply_hex, not both"},
    {"[[destination]]\nname = \"$A\"\n[[destination.terminal]]\nname = \"#W\"\n"
     "emulator = { delay_cs = 3 }\n" SELF,
     "t.toml:5: destination[0].terminal[0].emulator.reply: missing (give reply, reply_hex, "
     "silent or tty)"},
    {"[[destination]]\nname = \"$A\"\n[[destination.terminal]]\nname = \"#W\"\n"
     "emulator = { silent = true, reply = \"x\" }\n" SELF,
     "t.toml:5: destination[0].terminal[0].emulator.silent: a silent emulator has no reply"},
    {"[[destination]]\nname = \"$A\"\n[[destination.terminal]]\nname = \"#W\"\n"
     "address_field_hex = \"" "00000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "00\"\n" SELF,
     "t.toml:5: destination[0].terminal[0].address_field_hex: longer than 40 bytes"},
    {"[[destination]]\nname = \"$A\"\n[[destination.terminal]]\nname = \"#W\"\nport = 65536\n" SELF,
     "t.toml:5: destination[0].terminal[0].port: must be 0 to 65535"},
    {"[[destination]]\nname = \"$A\"\n[[destination.terminal]]\nname = \"#W\"\nport = 1.5\n" SELF,
     "t.toml:5: destination[0].terminal[0].port: expected an integer or a string"},
    {"[[destination]]\nname = \"$A\"\n[[destination.terminal]]\nname = \"#W\"\n"
     "gemini_address = \"1.2.3.4\"\n" SELF,
     "t.toml:5: destination[0].terminal[0].gemini_address: only under a destination with "
     "gemini_id"},
    {"[[destination]]\nname = \"$G\"\ngemini_id = \"G\"\n[[destination.terminal]]\nname = \"#W\"\n"
     "address = \"host.example\"\n" SELF,
     "t.toml:6: destination[0].terminal[0].address: not dotted IPv4 text: give gemini_address "
     "or gemini_address_hex for this GEMINI window"},
    {"[[destination]]\nname = \"$G\"\ngemini_id = \"G\"\n[[destination.terminal]]\nname = \"#W\"\n"
     "gemini_port = \"23\"\n" SELF,
     "t.toml:6: destination[0].terminal[0].gemini_port: expected an integer or \"\""},
    {"[[destination]]\nname = \"$A\"\n[[destination.terminal]]\nname = \"#W\"\n"
     "output = { console = true, transcript = \"x\" }\n" SELF,
     "t.toml:5: destination[0].terminal[0].output.console: give one of console, transcript, tty, "
     "fail_after"},
    {"[[destination]]\nname = \"$A\"\n[[destination.terminal]]\nname = \"#W\"\n"
     "output = { fail_after = 2 }\n" SELF,
     "t.toml:5: destination[0].terminal[0].output.error: missing"},
    {"[[destination]]\nname = \"$A\"\n[[destination.terminal]]\nname = \"#W\"\n"
     "output = { console = false }\n" SELF,
     "t.toml:5: destination[0].terminal[0].output.console: must be true (give another output "
     "instead)"},
    {"[spi]\nsilent = 1\n" SELF, "t.toml:2: spi.silent: expected true or false"},
    {"[hosts]\n\"192.0.2.300\" = \"x\"\n" SELF,
     "t.toml:2: hosts.\"192.0.2.300\": not a dotted IPv4 address"},
    {"[hosts]\n\"192.0.2.3\" = 3\n" SELF, "t.toml:2: hosts.\"192.0.2.3\": expected a string"},
    {"[[fault]]\nprocedure = \"FILE_OPEN_\"\nerror = 0\n" SELF,
     "t.toml:3: fault[0].error: must not be 0"},
    {"[[fault]]\nprocedure = \"file_open_\"\nerror = 11\n" SELF,
     "t.toml:2: fault[0].procedure: not a platform procedure that can be failed: \"file_open_\""},
    {"[[fault]]\nerror = 11\n" SELF, "t.toml:1: fault[0].procedure: missing"},
};

TEST(NodeLoader, RefusesEachMistakeWithItsFileLineAndKey) {
  for (const BadCase& c : kBad) {
    SCOPED_TRACE(c.text);
    std::string error;
    EXPECT_FALSE(load_node_text(c.text, "t.toml", &error).has_value());
    EXPECT_EQ(error, c.message);
  }
}

TEST(NodeLoader, TomlSyntaxErrorGivesFileAndLineOnOneLine) {
  std::string error;
  EXPECT_FALSE(load_node_text("[node]\nname = \"\\DEMO\"\n", "t.toml", &error).has_value());
  EXPECT_EQ(error.rfind("t.toml:2: ", 0), 0u) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

TEST(NodeLoader, MissingFileIsOneLine) {
  std::string error;
  EXPECT_FALSE(load_node_file("/nonexistent/n.toml", &error).has_value());
  EXPECT_EQ(error, "/nonexistent/n.toml: cannot read the node description: No such file or directory");
}

// The complete example of the documentation, cut out of the documentation itself.
std::string documented_example() {
  std::ifstream in(std::string(NETLOC_SOURCE_DIR) + "/docs/node-description.md");
  std::stringstream all;
  all << in.rdbuf();
  std::string text = all.str();
  std::size_t section = text.find("## A complete example");
  std::size_t start = text.find("```toml\n", section);
  std::size_t end = text.find("```\n", start + 8);
  if (section == std::string::npos || start == std::string::npos || end == std::string::npos) return "";
  return text.substr(start + 8, end - start - 8);
}

const Terminal& terminal(const Node& n, const std::string& dest, const std::string& name) {
  for (const Destination& d : n.destinations) {
    for (const Terminal& t : d.terminals) {
      if (d.name == dest && t.name == name) return t;
    }
  }
  static const Terminal none{"<none>"};
  return none;
}

const Process& process(const Node& n, const std::string& name) {
  for (const Process& p : n.processes) {
    if (p.name == name) return p;
  }
  static const Process none{"<none>"};
  return none;
}

TEST(NodeLoader, DocumentedExampleLoadsAsDocumented) {
  setenv("XDG_STATE_HOME", "/tmp/netloc-state-test", 1);
  std::string source = std::string(NETLOC_SOURCE_DIR) + "/docs/node-description.md";
  std::string error;
  std::optional<Node> n = load_node_text(documented_example(), source, &error);
  ASSERT_TRUE(n.has_value()) << error;
  EXPECT_EQ(n->name, "\\TEST");
  EXPECT_EQ(n->number, 12);
  EXPECT_EQ(n->os_letter, 'H');
  EXPECT_EQ(n->os_number, 6);
  EXPECT_DOUBLE_EQ(n->time_scale, 0.01);
  ASSERT_EQ(n->volumes.size(), 2u);
  EXPECT_EQ(n->volumes[0].dir, std::string(NETLOC_SOURCE_DIR) + "/docs/volumes/data");
  EXPECT_EQ(n->volumes[1].dir, "/tmp/netloc-state-test/netloc/test-work");
  ASSERT_EQ(n->remote_nodes.size(), 1u);
  EXPECT_EQ(n->remote_nodes[0].name, "\\FAR");

  EXPECT_EQ(n->self.program, "\\TEST.$DATA.NETLOC.NETLOC");
  EXPECT_EQ(n->self.home_terminal, "\\TEST.$ZTN0.#PTY1");
  EXPECT_EQ(n->self.mom, "$TACL3");
  EXPECT_EQ(n->self.default_volume, "$DATA");
  EXPECT_EQ(n->self.attribute82, "ATTRIBUTE 82 OF THIS PROCESS    ");
  EXPECT_FALSE(n->self.switchuser);
  using Params = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(n->self.params, (Params{{"NETLOC^MODE", "ESC200"}, {"NETLOC^CHECKLOGONSTATE", "ON"}}));

  EXPECT_EQ(process(n.value(), "$TACL3").logon_state, 8);
  EXPECT_EQ(process(n.value(), "$TACL3").creator_access_id, 255);
  // Named processes without cpu and pin are placed on cpu 0 from pin 300 up.
  EXPECT_EQ(process(n.value(), "$ZTN0").pin, 300);
  EXPECT_EQ(process(n.value(), "$GEM1").pin, 301);
  EXPECT_EQ(process(n.value(), "$ZTN0").program, "\\TEST.$SYSTEM.SYS01.TELSERV");
  EXPECT_EQ(process(n.value(), "$TACL1").ancestor, "2,88");
  EXPECT_EQ(process(n.value(), "$TACL1").inject.at("PROCESS_GETPAIRINFO_"), 7);
  const Process& oss = n->processes[3];
  EXPECT_EQ(oss.type, ProcessType::Oss);
  EXPECT_EQ(oss.oss_pid, 4711);
  EXPECT_EQ(oss.oss_parent_pid, 4700);
  EXPECT_FALSE(oss.exists);

  const Terminal& pty1 = terminal(*n, "$ZTN0", "#PTY1");
  EXPECT_EQ(pty1.address, "192.0.2.17");
  EXPECT_EQ(pty1.port, "50123");
  EXPECT_EQ(pty1.emulator.kind, EmulatorKind::Script);
  EXPECT_EQ(pty1.emulator.reply, "\x01&WS17\x12" "192.0.2.17\x12NETLOC\r");
  EXPECT_EQ(pty1.emulator.delay_cs, 3);
  const Terminal& pty2 = terminal(*n, "$ZTN0", "#PTY2");
  EXPECT_EQ(pty2.address_field_raw, std::optional<std::string>("192.0.2.23"));
  EXPECT_EQ(pty2.emulator.reply, std::string("\x01&\x12" "1.2\x12\r"));
  EXPECT_EQ(pty2.emulator.empty_reads, 2);
  EXPECT_EQ(pty2.emulator.pending_input, "x");
  EXPECT_EQ(pty2.output.kind, OutputKind::Transcript);
  EXPECT_EQ(pty2.output.path, std::string(NETLOC_SOURCE_DIR) + "/docs/pty2.log");
  const Terminal& pty3 = terminal(*n, "$ZTN0", "#PTY3");
  EXPECT_EQ(pty3.emulator.kind, EmulatorKind::Silent);
  EXPECT_EQ(pty3.output.kind, OutputKind::Fail);
  EXPECT_EQ(pty3.output.fail_after, 1);
  EXPECT_EQ(pty3.output.fail_error, 201);
  const Terminal& w1 = terminal(*n, "$GEM1", "#W1");
  EXPECT_EQ(w1.gemini_address, std::string("\xC6\x33\x64\x07", 4));
  EXPECT_EQ(w1.gemini_port, std::string("\x9C\x40", 2));
  EXPECT_EQ(w1.gemini_address2, std::string("\xC6\x33\x64\x08", 4));
  EXPECT_EQ(w1.gemini_port2, "");
  EXPECT_EQ(terminal(*n, "$TC1", "").emulator.kind, EmulatorKind::None);
  EXPECT_EQ(terminal(*n, "$X25A", "#W1").dte, "31102150123456");
  EXPECT_EQ(n->spi.delay_cs, 5);
  ASSERT_TRUE(n->hosts.has_value());
  EXPECT_EQ(n->hosts->at("192.0.2.17"), "ws17.test.example");
  ASSERT_EQ(n->faults.size(), 1u);
  EXPECT_EQ(n->faults[0].procedure, "FILE_OPEN_");
  EXPECT_EQ(n->faults[0].call, 2);
  EXPECT_EQ(n->faults[0].error, 14);
}

TEST(NodeLoader, DemoNodeHasTheDemoTerminals) {
  setenv("XDG_STATE_HOME", "/tmp/netloc-state-test", 1);
  std::string error;
  std::optional<Node> n = load_node_text(demo_node_text(), "<demo>", &error);
  ASSERT_TRUE(n.has_value()) << error;
  EXPECT_EQ(n->source, "<demo>");
  EXPECT_EQ(n->name, "\\DEMO");
  EXPECT_EQ(n->number, 7);
  ASSERT_EQ(n->volumes.size(), 1u);
  EXPECT_EQ(n->volumes[0].dir, "/tmp/netloc-state-test/netloc/demo");
  EXPECT_TRUE(n->self.name.empty());
  EXPECT_EQ(n->self.cpu, 1);
  EXPECT_EQ(n->self.pin, 201);
  EXPECT_EQ(n->self.program, "\\DEMO.$DATA.NETLOC.NETLOC");
  EXPECT_EQ(n->self.home_terminal, "\\DEMO.$ZTN0.#PTY1");
  EXPECT_EQ(n->self.attribute82.size(), 32u);
  EXPECT_TRUE(n->self.params.empty());
  EXPECT_EQ(process(*n, "$ZTN0").program, "\\DEMO.$SYSTEM.SYS01.TELSERV");
  EXPECT_EQ(process(*n, "$GEM1").program, "\\DEMO.$SYSTEM.GEMINI.GEMSRV");
  EXPECT_EQ(process(*n, "$TACL1").ancestor, "2,88");

  struct Dest {
    const char* name;
    int device_type;
  };
  constexpr Dest kDestinations[] = {{"$ZTN0", 46}, {"$GEM1", 46}, {"$TC1", 6},
                                    {"$ENV1", 7},  {"$ASY1", 53}, {"$X25A", 61}};
  ASSERT_EQ(n->destinations.size(), std::size(kDestinations));
  for (std::size_t i = 0; i < std::size(kDestinations); ++i) {
    SCOPED_TRACE(kDestinations[i].name);
    EXPECT_EQ(n->destinations[i].name, kDestinations[i].name);
    EXPECT_EQ(n->destinations[i].device_type, kDestinations[i].device_type);
  }
  EXPECT_EQ(n->destinations[1].gemini_id, "GEMINI STN 2.4");
  for (auto [dest, term] : {std::pair{"$ZTN0", "#PTY1"}, {"$ZTN0", "#PTY2"}, {"$GEM1", "#W1"},
                            {"$TC1", ""}, {"$X25A", "#W1"}}) {
    SCOPED_TRACE(std::string(dest) + "." + term);
    EXPECT_EQ(terminal(*n, dest, term).name, term);
  }
  const Terminal& pty1 = terminal(*n, "$ZTN0", "#PTY1");
  EXPECT_EQ(pty1.emulator.reply, "\x01&DEMO-WS17\x12" "192.0.2.17\x12NETLOC\r");
  EXPECT_EQ(pty1.emulator.delay_cs, 3);
  EXPECT_EQ(pty1.output.kind, OutputKind::Console);
  EXPECT_EQ(terminal(*n, "$GEM1", "#W1").gemini_address2, std::string("\xC6\x33\x64\x08", 4));
  EXPECT_EQ(terminal(*n, "$ZTN0", "#PTY2").address, "192.0.2.23");
  EXPECT_EQ(terminal(*n, "$X25A", "#W1").dte, "31102150123456");
  EXPECT_EQ(n->hosts->size(), 4u);
  EXPECT_EQ(n->hosts->at("198.51.100.7"), "gem7.demo.example");
}

TEST(NodeLoader, EveryTestNodeLoads) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(NETLOC_SOURCE_DIR) + "/tests/nodes")) {
    if (entry.path().extension() != ".toml") continue;
    SCOPED_TRACE(entry.path().string());
    std::string error;
    EXPECT_TRUE(load_node_file(entry.path().string(), &error).has_value()) << error;
    ++count;
  }
  EXPECT_GT(count, 0);
}

TEST(NodeServices, VersionWordComesFromTheNode) {
  std::string error;
  set_current(*load_node_text(demo_node_text(), "<demo>", &error));
  EXPECT_EQ(TOSVERSION(), ((('L' + 10) << 8) | 21));
  set_current(*load_node_text("[node]\nos = \"h06\"\n" SELF, "t.toml", &error));
  EXPECT_EQ(TOSVERSION(), (82 << 8) | 6);
}

TEST(NodeServices, FaultsHitTheirCallOrEveryCall) {
  std::string error;
  std::optional<Node> n = load_node_text(
      "[[fault]]\nprocedure = \"SSGET\"\ncall = 2\nerror = 14\n"
      "[[fault]]\nprocedure = \"SSGETTKN\"\nerror = -5\n" SELF,
      "t.toml", &error);
  ASSERT_TRUE(n.has_value()) << error;
  set_current(*n);
  EXPECT_EQ(fault::injected("SSGET"), 0);
  EXPECT_EQ(fault::injected("SSINIT"), 0);
  EXPECT_EQ(fault::injected("SSGET"), 14);
  EXPECT_EQ(fault::injected("SSGET"), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(fault::injected("SSGETTKN"), -5);
}

}  // namespace
}  // namespace nsk::node
