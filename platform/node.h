// The node: what is on the system the program runs on, as a node description (TOML, see
// docs/node-description.md) gives it.  This is the description only; the run-time state of the
// platform (open files, fault counters, the clock) lives with the procedures.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace nsk::node {

// An injected result: the call-th call of procedure (1-based; 0 every call) returns error
// instead of doing its work.  Procedure names are the platform's (FILE_OPEN_, SSPUTTKN, ...).
struct Fault {
  std::string procedure;
  int call = 0;
  int error = 0;
};

struct Volume {
  std::string name;  // "$DATA"
  std::string dir;   // host directory; $VOL.SUBVOL.FILE is <dir>/SUBVOL/FILE
};

enum class ProcessType { Guardian, Oss };

struct Process {
  std::string name;              // "$TACL1", or empty for an unnamed process
  int cpu = 0;
  int pin = 0;
  std::string program;           // program file, with node: "\DEMO.$SYSTEM.SYS01.TACL"
  std::string home_terminal;     // with node: "\DEMO.$ZTN0.#PTY2"
  std::string mom;               // the mom, by reference "cpu,pin" or name; empty: none
  std::string ancestor;          // ancestor of a named process (pair table); empty: the mom
  bool exists = true;            // false: gone; its handle still names it, PROCESS_GETINFO_ gives 4
  ProcessType type = ProcessType::Guardian;
  std::int32_t oss_pid = 0;
  std::int32_t oss_parent_pid = 0;
  int logon_state = 9;           // attribute 72: bit 0 or bit 3 set means logged on
  int creator_access_id = 0;     // attribute 68
  // Injected results of the process procedures for calls about this process:
  // PROCESS_GETPAIRINFO_, PROCESS_GETINFO_, PROCESS_GETINFOLIST_.
  std::map<std::string, int> inject;
};

// The running process itself.
struct Self : Process {
  std::string default_volume = "$SYSTEM";     // with subvolume: the start-up message's defaults
  std::string default_subvolume = "NETLOC";
  std::vector<std::pair<std::string, std::string>> params;  // the creator's PARAMs, in order
  std::string attribute82;        // up to 32 bytes: the value of attribute 82
  bool switchuser = true;         // whether SYSTEMENTRYPOINT_RISC_ finds "SWITCHUSER"
};

// Where a terminal's output goes.
enum class OutputKind { Console, Transcript, Tty, Fail };

struct Output {
  OutputKind kind = OutputKind::Console;
  std::string path;               // transcript file or tty device
  int fail_after = 0;             // Fail: writes after the first fail_after ones end in error
  int fail_error = 0;             //       with this error
};

enum class EmulatorKind { None, Script, Silent, Tty };

// The emulator on the workstation behind a terminal.
struct Emulator {
  EmulatorKind kind = EmulatorKind::None;  // None: the terminal never answers (like Silent)
  std::string reply;              // bytes of the reply to the query
  int delay_cs = 0;               // hundredths of a second before the reply comes
  int empty_reads = 0;            // reads that complete with no data before the reply
  std::string pending_input;      // input already waiting before the query (drained by C builds)
  std::string tty_path;           // Tty: the real tty whose other side plays the emulator
};

// A terminal under a destination.
struct Terminal {
  std::string name;               // "#PTY1"
  // Telnet window record of the system Telnet server (SPI).  The two 40-byte fields of the
  // record are built as address + separator + port, unless a raw field is given.
  std::string address, port, address2, port2;
  std::optional<std::string> address_field_raw, address2_field_raw;
  // GEMINI window answers (SETPARAM 201, 205, 206, 207): raw answer bytes.
  std::string gemini_address, gemini_port, gemini_address2, gemini_port2;
  std::string dte;                // X.25 window: the DTE number (SETPARAM 1)
  Emulator emulator;
  Output output;
};

// Device types the node knows.
constexpr int DEVICE_PROCESS = 0;
constexpr int DEVICE_DISK = 3;
constexpr int DEVICE_TERMINAL = 6;
constexpr int DEVICE_ENVOY = 7;
constexpr int DEVICE_TELNET = 46;
constexpr int DEVICE_ASYNC = 53;
constexpr int DEVICE_X25 = 61;

// A destination: a device or a process that owns terminals (a Telnet server is both a
// process, with a program file, and a device of type 46).
struct Destination {
  std::string name;               // "$ZTN0"
  int device_type = DEVICE_TERMINAL;
  int device_subtype = 0;
  std::string gemini_id;          // not empty: a GEMINI server answering SETPARAM 200 with it
  std::vector<Terminal> terminals;
};

// The SPI control point $ZNET.#ZSPI.
struct Spi {
  int delay_cs = 0;               // hundredths of a second before the reply
  bool silent = false;            // never replies (the 30-second limit expires)
  int exchange_error = 0;         // the exchange ends with this error
};

struct RemoteNode {
  std::string name;               // "\TIGRA"
  int number = 0;
};

struct Node {
  std::string source;             // the description's file name, or "<demo>"
  std::string name = "\\DEMO";    // with backslash
  int number = 1;
  char os_letter = 'L';
  int os_number = 1;
  double time_scale = 1.0;        // waits (DELAY, AWAITIOX limits) are multiplied by it
  std::vector<Volume> volumes;
  std::vector<RemoteNode> remote_nodes;
  Self self;
  std::vector<Process> processes;
  std::vector<Destination> destinations;
  Spi spi;
  std::optional<std::map<std::string, std::string>> hosts;  // address -> name; none: system resolver
  std::vector<Fault> faults;
};

// Loads a node description.  On failure returns nullopt and sets *error to one line:
// "<file>:<line>: <key>: <what is wrong>".
std::optional<Node> load_node_file(const std::string& path, std::string* error);
std::optional<Node> load_node_text(const std::string& text, const std::string& source_name,
                                   std::string* error);

// The built-in demo node (its volume under $XDG_STATE_HOME/netloc/demo, created on first use).
std::string demo_node_text();

// The node this process runs on; set once at start by start_platform.
const Node& current();
void set_current(Node node);

}  // namespace nsk::node
