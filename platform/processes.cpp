// Process procedures over the node's processes: handles, information, the pair table, stopping,
// the debugger, delays and system entry points (docs/processes.md).
#include "platform/processes.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/consoleout.h"
#include "platform/faults.h"
#include "platform/launch.h"
#include "platform/names.h"
#include "platform/node.h"
#include "platform/stophooks.h"

namespace nsk {
namespace {

// Handle layout: [0] mark, [1] node number, [2] cpu, [3] pin, [4..5] sequence (high word first),
// [6..9] zero.  The mark is never 0xFFFF, so no handle is ever the null handle.
constexpr std::uint16_t HANDLE_MARK = 0x4E50;
constexpr int WORDS = 10;
constexpr INT DEFAULT_PRIORITY = 150;

constexpr INT PAIR_NAMED = 0;
constexpr INT PAIR_PARAMETER_ERROR = 2;
constexpr INT PAIR_UNNAMED = 7;
constexpr INT PAIR_NO_SUCH_PROCESS = 9;
constexpr INT NO_LONGER_EXISTS = 4;   // PROCESS_GETINFO_
constexpr INT NO_SUCH_PROCESS = 4;    // PROCESS_GETINFOLIST_
constexpr INT UNKNOWN_ATTRIBUTE = 2;  // PROCESS_GETINFOLIST_

// The node's processes in one list: [0] is this process, then the described ones in order.  A
// process's sequence number is its place in the list plus 1.
std::vector<const node::Process*> all_processes() {
  const node::Node& n = node::current();
  std::vector<const node::Process*> list{&n.self};
  for (const node::Process& p : n.processes) list.push_back(&p);
  return list;
}

PHANDLE null_handle() {
  PHANDLE h;
  std::memset(h.w, 0xFF, sizeof h.w);
  return h;
}

bool is_null(const PHANDLE& h) {
  for (std::uint16_t w : h.w) {
    if (w != 0xFFFF) return false;
  }
  return true;
}

PHANDLE handle_of(int index) {
  const node::Process& p = *all_processes()[static_cast<std::size_t>(index)];
  const auto sequence = static_cast<std::uint32_t>(index + 1);
  PHANDLE h{};
  h.w[0] = HANDLE_MARK;
  h.w[1] = static_cast<std::uint16_t>(node::current().number);
  h.w[2] = static_cast<std::uint16_t>(p.cpu);
  h.w[3] = static_cast<std::uint16_t>(p.pin);
  h.w[4] = static_cast<std::uint16_t>(sequence >> 16);
  h.w[5] = static_cast<std::uint16_t>(sequence & 0xFFFF);
  return h;
}

bool well_formed(const PHANDLE& h) {
  for (int i = 6; i < WORDS; ++i) {
    if (h.w[i] != 0) return false;
  }
  return h.w[0] == HANDLE_MARK;
}

std::uint32_t sequence_of(const PHANDLE& h) {
  return (static_cast<std::uint32_t>(h.w[4]) << 16) | h.w[5];
}

// The list index of the process a handle names (gone processes included), or -1.
int index_of(const PHANDLE& h) {
  if (!well_formed(h) || h.w[1] != static_cast<std::uint16_t>(node::current().number)) return -1;
  const std::uint32_t sequence = sequence_of(h);
  const auto list = all_processes();
  if (sequence == 0 || sequence > list.size()) return -1;
  const int index = static_cast<int>(sequence - 1);
  return handle_of(index).w[2] == h.w[2] && handle_of(index).w[3] == h.w[3] ? index : -1;
}

// An input handle: omitted or null is this process.
int target_of(const PHANDLE* h) { return h == nullptr || is_null(*h) ? 0 : index_of(*h); }

int index_by_name(const std::string& name) {
  const auto list = all_processes();
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (!list[i]->name.empty() && names::upshift(list[i]->name) == names::upshift(name)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int index_by_cpu_pin(int cpu, int pin) {
  const auto list = all_processes();
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i]->cpu == cpu && list[i]->pin == pin) return static_cast<int>(i);
  }
  return -1;
}

// A process reference of the description: "cpu,pin" or a process name (own node optional).
int index_of_reference(const std::string& reference) {
  if (reference.empty()) return -1;
  int cpu = 0;
  int pin = 0;
  char rest = 0;
  if (std::sscanf(reference.c_str(), "%d,%d%c", &cpu, &pin, &rest) == 2) {
    return index_by_cpu_pin(cpu, pin);
  }
  names::Name n;
  if (!names::parse(reference, &n) || !n.q1.empty()) return -1;
  if (!n.node.empty() && !names::is_own_node(n.node)) return -1;
  return index_by_name(n.dest);
}

PHANDLE reference_handle(const std::string& reference) {
  const int index = index_of_reference(reference);
  return index < 0 ? null_handle() : handle_of(index);
}

const node::Process& process_at(int index) { return *all_processes()[static_cast<std::size_t>(index)]; }

// The value a node description injects for calls of procedure about this process.
std::optional<int> process_injection(const node::Process& p, const char* procedure) {
  const auto it = p.inject.find(procedure);
  if (it == p.inject.end()) return std::nullopt;
  return it->second;
}

std::string node_name_upper() { return names::upshift(node::current().name); }

// The process's name with its node; an unnamed process is \NODE.$:cpu:pin:sequence.
std::string descriptor(int index) {
  const node::Process& p = process_at(index);
  if (!p.name.empty()) return node_name_upper() + "." + names::upshift(p.name);
  return node_name_upper() + ".$:" + std::to_string(p.cpu) + ":" + std::to_string(p.pin) + ":" +
         std::to_string(index + 1);
}

std::string full_name(const std::string& name) {
  if (name.empty()) return name;
  return names::canonical(name).value_or(name);
}

// One text output of a procedure: buffer, capacity and length pointer.
struct TextOut {
  char* buffer;
  INT maxlen;
  INT* length;
  std::string text;
};

// 590 for a buffer without length or a negative capacity, 563 for a text that does not fit;
// otherwise every given output is written.
INT deliver_texts(std::vector<TextOut> outs) {
  for (const TextOut& o : outs) {
    if (o.buffer == nullptr) continue;
    if (o.length == nullptr || o.maxlen < 0) return err::BAD_PARAM;
    if (o.text.size() > static_cast<std::size_t>(o.maxlen)) return err::BUFFER_TOO_SMALL;
  }
  for (const TextOut& o : outs) {
    if (o.buffer == nullptr) continue;
    std::memcpy(o.buffer, o.text.data(), o.text.size());
    *o.length = static_cast<INT>(o.text.size());
  }
  return err::OK;
}

void put_handle(std::vector<std::uint16_t>* words, const PHANDLE& h) {
  words->insert(words->end(), h.w, h.w + WORDS);
}

void put_int32(std::vector<std::uint16_t>* words, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  words->push_back(static_cast<std::uint16_t>(bits >> 16));
  words->push_back(static_cast<std::uint16_t>(bits & 0xFFFF));
}

// Attribute 82: the bytes of the value in text order, blank-padded to whole words.
void put_text(std::vector<std::uint16_t>* words, std::string text) {
  constexpr std::size_t MAX_BYTES = 32;
  text = text.substr(0, MAX_BYTES);
  if (text.size() % 2 != 0) text += ' ';
  for (std::size_t i = 0; i < text.size(); i += 2) {
    std::uint16_t w;
    std::memcpy(&w, text.data() + i, 2);
    words->push_back(w);
  }
}

// The values of one attribute, or false for an attribute not served.
bool put_attribute(std::vector<std::uint16_t>* words, int index, INT attribute) {
  const node::Process& p = process_at(index);
  switch (attribute) {
    case ATTR_PROCESS_TYPE: words->push_back(p.type == node::ProcessType::Oss ? 1 : 0); return true;
    case ATTR_MOM: put_handle(words, reference_handle(p.mom)); return true;
    case ATTR_PROCESS_HANDLE: put_handle(words, handle_of(index)); return true;
    case ATTR_LOGON_68: words->push_back(static_cast<std::uint16_t>(p.creator_access_id)); return true;
    case ATTR_LOGON_STATE: words->push_back(static_cast<std::uint16_t>(p.logon_state)); return true;
    case ATTR_PROCESS_INFO_82: put_text(words, index == 0 ? node::current().self.attribute82 : ""); return true;
    case ATTR_OSS_PID: put_int32(words, p.oss_pid); return true;
    case ATTR_OSS_PARENT_PID: put_int32(words, p.oss_parent_pid); return true;
    default: return false;
  }
}

int index_by_oss_pid(std::int32_t pid) {
  const auto list = all_processes();
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i]->exists && list[i]->type == node::ProcessType::Oss && list[i]->oss_pid == pid) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// The process PROCESS_GETINFOLIST_ is about, or an error.
INT select_for_list(std::optional<INT> cpu, std::optional<INT> pin, const char* nodename,
                    INT nodename_length, const PHANDLE* processhandle,
                    std::optional<INT> srch_option, const INT* srch_attr_list,
                    INT srch_attr_count, const INT* srch_values_list, INT srch_values_length,
                    int* index) {
  if (nodename != nullptr && (nodename_length <= 0 ||
                              !names::is_own_node(std::string_view(
                                  nodename, static_cast<std::size_t>(nodename_length))))) {
    return NO_SUCH_PROCESS;
  }
  const INT option = srch_option.value_or(0);
  if (option == SEARCH_OSS_PID) {
    if (srch_attr_list == nullptr || srch_values_list == nullptr) return err::MISSING_PARAM;
    if (srch_attr_count < 1 || srch_attr_list[0] != ATTR_OSS_PID || srch_values_length < 2) {
      return err::BAD_PARAM;
    }
    const auto high = static_cast<std::uint16_t>(srch_values_list[0]);
    const auto low = static_cast<std::uint16_t>(srch_values_list[1]);
    *index = index_by_oss_pid(static_cast<std::int32_t>((static_cast<std::uint32_t>(high) << 16) | low));
  } else if (option != 0) {
    return err::BAD_PARAM;
  } else if (cpu.has_value() != pin.has_value()) {
    return err::MISSING_PARAM;
  } else if (cpu.has_value()) {
    *index = index_by_cpu_pin(*cpu, *pin);
  } else {
    *index = target_of(processhandle);
  }
  return *index < 0 ? NO_SUCH_PROCESS : err::OK;
}

[[noreturn]] void stop_this_process(int status, const char* text, INT text_length) {
  run_stop_hooks();
  std::fflush(nullptr);
  // A run whose report never reached its standard output has not ended normally.
  if (console::lines_lost() && (status & 0xFF) == 0) status = 1;
  if (text != nullptr && text_length > 0) {
    std::fwrite(text, 1, static_cast<std::size_t>(text_length), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
  }
  std::exit(status & 0xFF);
}

void debugger_line(const std::string& what) {
  console::flush();  // the lines written before it come first
  std::fprintf(stderr, "netloc: debugger entered%s; resuming\n", what.c_str());
  std::fflush(stderr);
}

// SWITCHUSER as this platform has it: it changes nothing, but leaves a trace line in the file
// that NETLOC_TRACE_SWITCHUSER names, so that a run's call can be seen.
void switchuser(INT user) {
  const char* path = std::getenv("NETLOC_TRACE_SWITCHUSER");
  if (path == nullptr || *path == '\0') return;
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const std::string line = "SWITCHUSER " + std::to_string(user) + "\n";
  [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
  ::close(fd);
}

}  // namespace

INT PROCESS_GETINFO_(const PHANDLE* processhandle, char* proc_fname, INT proc_fname_maxlen,
                     INT* proc_fname_length, INT* priority, PHANDLE* mom, char* hometerm,
                     INT hometerm_maxlen, INT* hometerm_length, INT64* process_time,
                     INT* creator_access_id, INT* process_access_id, PHANDLE* gmom, INT* jobid,
                     char* program_file, INT program_file_maxlen, INT* program_file_length) {
  if (INT e = fault::injected("PROCESS_GETINFO_")) return e;
  const int index = target_of(processhandle);
  if (index < 0) return err::NO_SUCH_FILE;
  const node::Process& p = process_at(index);
  if (auto injected = process_injection(p, "PROCESS_GETINFO_"); injected && *injected != 0) {
    return static_cast<INT>(*injected);
  }
  if (!p.exists) return NO_LONGER_EXISTS;
  if (INT e = deliver_texts({{proc_fname, proc_fname_maxlen, proc_fname_length, descriptor(index)},
                             {hometerm, hometerm_maxlen, hometerm_length, full_name(p.home_terminal)},
                             {program_file, program_file_maxlen, program_file_length,
                              full_name(p.program)}})) {
    return e;
  }
  if (priority != nullptr) *priority = DEFAULT_PRIORITY;
  if (mom != nullptr) *mom = reference_handle(p.mom);
  if (process_time != nullptr) *process_time = 0;
  if (creator_access_id != nullptr) *creator_access_id = static_cast<INT>(p.creator_access_id);
  if (process_access_id != nullptr) *process_access_id = static_cast<INT>(p.creator_access_id);
  if (gmom != nullptr) *gmom = null_handle();
  if (jobid != nullptr) *jobid = 0;
  return err::OK;
}

INT PROCESS_GETINFOLIST_(std::optional<INT> cpu, std::optional<INT> pin, const char* nodename,
                         INT nodename_length, const PHANDLE* processhandle,
                         const INT* ret_attr_list, INT ret_attr_count, INT* ret_values_list,
                         INT ret_values_maxlen, INT* ret_values_length, INT* error_detail,
                         std::optional<INT> srch_option, const INT* srch_attr_list,
                         INT srch_attr_count, const INT* srch_values_list,
                         INT srch_values_length) {
  if (INT e = fault::injected("PROCESS_GETINFOLIST_")) return e;
  if (ret_attr_list == nullptr || ret_values_list == nullptr || ret_values_length == nullptr) {
    return err::MISSING_PARAM;
  }
  if (ret_attr_count <= 0 || ret_values_maxlen < 0) return err::BAD_PARAM;
  int index = -1;
  if (INT e = select_for_list(cpu, pin, nodename, nodename_length, processhandle, srch_option,
                              srch_attr_list, srch_attr_count, srch_values_list,
                              srch_values_length, &index)) {
    return e;
  }
  const node::Process& p = process_at(index);
  if (auto injected = process_injection(p, "PROCESS_GETINFOLIST_"); injected && *injected != 0) {
    return static_cast<INT>(*injected);
  }
  if (!p.exists) return NO_SUCH_PROCESS;
  std::vector<std::uint16_t> words;
  for (INT i = 0; i < ret_attr_count; ++i) {
    if (!put_attribute(&words, index, ret_attr_list[i])) {
      if (error_detail != nullptr) *error_detail = ret_attr_list[i];
      return UNKNOWN_ATTRIBUTE;
    }
  }
  if (words.size() > static_cast<std::size_t>(ret_values_maxlen)) return err::BUFFER_TOO_SMALL;
  // An empty value list (an attribute-82 value of no bytes) copies nothing: memcpy from the
  // data() of an empty vector is undefined.
  if (!words.empty()) {
    std::memcpy(ret_values_list, words.data(), words.size() * sizeof(std::uint16_t));
  }
  *ret_values_length = static_cast<INT>(words.size());
  return err::OK;
}

INT PROCESS_GETPAIRINFO_(const PHANDLE* processhandle, const char* pair, INT pair_length,
                         PHANDLE* primary, PHANDLE* backup, PHANDLE* ancestor) {
  if (INT e = fault::injected("PROCESS_GETPAIRINFO_")) return e;
  int index = 0;
  if (processhandle != nullptr) {
    index = target_of(processhandle);
  } else if (pair != nullptr) {
    names::Name n;
    if (pair_length <= 0 ||
        !names::parse(std::string_view(pair, static_cast<std::size_t>(pair_length)), &n) ||
        n.dest.empty() || !n.q1.empty()) {
      return PAIR_PARAMETER_ERROR;
    }
    index = n.node.empty() || names::is_own_node(n.node) ? index_by_name(n.dest) : -1;
    if (index >= 0 && !process_at(index).exists) index = -1;  // gone: no longer in the pair table
  }
  if (index < 0) return PAIR_NO_SUCH_PROCESS;
  const node::Process& p = process_at(index);
  const auto injected = process_injection(p, "PROCESS_GETPAIRINFO_");
  const INT rc = injected ? static_cast<INT>(*injected)
                 : !p.exists ? PAIR_NO_SUCH_PROCESS
                 : p.name.empty() ? PAIR_UNNAMED
                              : PAIR_NAMED;
  if (rc == 0 || rc == 4 || rc == 5 || rc == 6) {
    if (primary != nullptr) *primary = handle_of(index);
    if (backup != nullptr) *backup = null_handle();
    if (ancestor != nullptr) *ancestor = reference_handle(p.ancestor.empty() ? p.mom : p.ancestor);
  }
  return rc;
}

INT PROCESSHANDLE_GETMINE_(PHANDLE* processhandle) {
  if (INT e = fault::injected("PROCESSHANDLE_GETMINE_")) return e;
  if (processhandle == nullptr) return err::MISSING_PARAM;
  *processhandle = handle_of(0);
  return err::OK;
}

INT PROCESSHANDLE_NULLIT_(PHANDLE* processhandle) {
  if (INT e = fault::injected("PROCESSHANDLE_NULLIT_")) return e;
  if (processhandle == nullptr) return err::MISSING_PARAM;
  *processhandle = null_handle();
  return err::OK;
}

INT PROCESSHANDLE_COMPARE_(const PHANDLE* handle1, const PHANDLE* handle2) {
  if (INT e = fault::injected("PROCESSHANDLE_COMPARE_")) return e;
  const PHANDLE a = handle1 != nullptr ? *handle1 : null_handle();
  const PHANDLE b = handle2 != nullptr ? *handle2 : null_handle();
  return std::memcmp(a.w, b.w, sizeof a.w) == 0 ? 2 : 0;
}

INT PROCESSHANDLE_DECOMPOSE_(const PHANDLE* processhandle, INT* cpu, INT* pin, INT32* nodenumber,
                             char* nodename, INT nodename_maxlen, INT* nodename_length,
                             char* procname, INT procname_maxlen, INT* procname_length,
                             INT64* sequence) {
  if (INT e = fault::injected("PROCESSHANDLE_DECOMPOSE_")) return e;
  if (processhandle == nullptr) return err::MISSING_PARAM;
  const PHANDLE& h = *processhandle;
  if (is_null(h) || !well_formed(h)) return err::BAD_PARAM;
  const int index = index_of(h);
  const std::string process_name = index < 0 ? "" : names::upshift(process_at(index).name);
  const auto node_name = names::node_name(h.w[1]);
  if (INT e = deliver_texts({{nodename, nodename_maxlen, nodename_length, node_name.value_or("")},
                             {procname, procname_maxlen, procname_length, process_name}})) {
    return e;
  }
  if (cpu != nullptr) *cpu = static_cast<INT>(h.w[2]);
  if (pin != nullptr) *pin = static_cast<INT>(h.w[3]);
  if (nodenumber != nullptr) *nodenumber = h.w[1];
  if (sequence != nullptr) *sequence = sequence_of(h);
  return err::OK;
}

INT PROCESS_STOP_(const PHANDLE* processhandle, std::optional<INT> /*specifier*/,
                  std::optional<INT> options, std::optional<INT> completion_code,
                  const char* text, INT text_length) {
  if (INT e = fault::injected("PROCESS_STOP_")) return e;
  const int index = target_of(processhandle);
  if (index < 0 || !process_at(index).exists) return err::NO_SUCH_FILE;
  if (index != 0) return err::SECURITY;  // this platform stops no process but its own
  const bool abnormal = options.has_value() && (*options & STOP_ABNORMAL) != 0;
  const int status = completion_code.has_value() ? *completion_code : abnormal ? EXIT_ABNORMAL : 0;
  stop_this_process(status, text, text_length);
}

void STOP() { stop_this_process(0, nullptr, 0); }

void DEBUG() { debugger_line(" (DEBUG)"); }

INT PROCESS_DEBUG_(const PHANDLE* processhandle) {
  if (INT e = fault::injected("PROCESS_DEBUG_")) return e;
  const int index = target_of(processhandle);
  if (index < 0 || !process_at(index).exists) return err::NO_SUCH_FILE;
  debugger_line(index == 0 ? " (PROCESS_DEBUG_)" : " for " + descriptor(index) + " (PROCESS_DEBUG_)");
  return err::OK;
}

void DELAY(INT64 hundredths) {
  if (hundredths <= 0) return;
  const double seconds = static_cast<double>(hundredths) / 100.0 * node::current().time_scale;
  struct timespec left;
  left.tv_sec = static_cast<time_t>(seconds);
  left.tv_nsec = static_cast<long>((seconds - std::floor(seconds)) * 1e9);
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

SystemEntryPoint SYSTEMENTRYPOINT_RISC_(const char* name, INT length) {
  if (fault::injected("SYSTEMENTRYPOINT_RISC_") != 0) return nullptr;
  if (name == nullptr || length <= 0) return nullptr;
  const std::string wanted = names::upshift(std::string_view(name, static_cast<std::size_t>(length)));
  if (wanted == "SWITCHUSER" && node::current().self.switchuser) return &switchuser;
  return nullptr;
}

}  // namespace nsk
