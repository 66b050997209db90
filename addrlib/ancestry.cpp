// The chain of ancestors: one generation up with ANCESTOR, and the walk up the chain to the
// first ancestor that settles where the process's user sits.
#include "addrlib/ancestry.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "addrlib/spirequest.h"
#include "addrlib/textmatch.h"
#include "addrlib/texthelpers.h"
#include "addrlib/winaddr.h"
#include "platform/filesystem.h"
#include "platform/processes.h"

namespace nsk {

namespace {

// The four attributes that ANCESTOR asks for, and where their values lie (in words).
constexpr INT ANCESTOR_ATTRIBUTES[] = {ATTR_MOM, ATTR_PROCESS_HANDLE, ATTR_PROCESS_TYPE,
                                       ATTR_OSS_PARENT_PID};
constexpr int ANCESTOR_ATTRIBUTE_COUNT = 4;
constexpr int VALUES_WORDS = 23;
constexpr int MOM_AT = 0;
constexpr int OWN_HANDLE_AT = 10;
constexpr int TYPE_AT = 20;
constexpr int OSS_PARENT_AT = 21;
constexpr INT OSS_PROCESS = 1;

bool is_null(const PHANDLE& handle) {
  return std::all_of(std::begin(handle.w), std::end(handle.w),
                     [](std::uint16_t word) { return word == 0xFFFF; });
}

bool same(const PHANDLE& a, const PHANDLE& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

PHANDLE handle_at(const INT* values, int at) {
  PHANDLE handle;
  std::memcpy(&handle, values + at, sizeof handle);
  return handle;
}

// A 32-bit value in two words, the high-order word first.
INT32 int32_at(const INT* values, int at) {
  return static_cast<INT32>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(values[at]))
                             << 16) |
                            static_cast<std::uint16_t>(values[at + 1]));
}

// The four attributes of a process by handle (cpu and pin omitted), or by cpu and pin.
INT attributes_by_handle(const PHANDLE& process, INT* values) {
  INT length = 0;
  return PROCESS_GETINFOLIST_({}, {}, nullptr, 0, &process, ANCESTOR_ATTRIBUTES,
                              ANCESTOR_ATTRIBUTE_COUNT, values, VALUES_WORDS, &length);
}

INT attributes_by_cpu_pin(INT cpu, INT pin, INT* values) {
  INT length = 0;
  return PROCESS_GETINFOLIST_(cpu, pin, nullptr, 0, nullptr, ANCESTOR_ATTRIBUTES,
                              ANCESTOR_ATTRIBUTE_COUNT, values, VALUES_WORDS, &length);
}

INT attributes_by_oss_pid(const INT* oss_pid_words, INT* values) {
  INT length = 0;
  const INT search_attributes[] = {ATTR_OSS_PID};
  return PROCESS_GETINFOLIST_({}, {}, nullptr, 0, nullptr, ANCESTOR_ATTRIBUTES,
                              ANCESTOR_ATTRIBUTE_COUNT, values, VALUES_WORDS, &length, nullptr,
                              SEARCH_OSS_PID, search_attributes, 1, oss_pid_words, 2);
}

// An OSS process's ancestor is its OSS parent, unless the parent's process id is 1 (then its
// mom) or the ancestor already found still exists.
void CHECKOSSPARENT(const PHANDLE& process, PHANDLE* result) {
  if (!is_null(*result) && PROCESS_GETINFO_(result) == err::OK) return;
  INT values[VALUES_WORDS] = {};
  if (attributes_by_handle(process, values) != err::OK) return;
  if (values[TYPE_AT] != OSS_PROCESS) return;
  if (int32_at(values, OSS_PARENT_AT) == 1) {
    *result = handle_at(values, MOM_AT);
    return;
  }
  INT parent[VALUES_WORDS] = {};
  if (attributes_by_oss_pid(values + OSS_PARENT_AT, parent) == err::OK) {
    *result = handle_at(parent, OWN_HANDLE_AT);
  }
}

// Return code 7: the pair table does not know the ancestor; the mom that the process's own
// attributes give is taken, when those attributes are really the given process's.  A null
// handle stands for this process, whose handle is needed to split it into cpu and pin.  A
// process without a mom has no ancestor: a null result is never reported as one.
INT ancestor_from_mom(PHANDLE process, PHANDLE* result) {
  if (is_null(process)) PROCESSHANDLE_GETMINE_(&process);
  INT cpu = 0;
  INT pin = 0;
  INT values[VALUES_WORDS] = {};
  const bool found = PROCESSHANDLE_DECOMPOSE_(&process, &cpu, &pin) == err::OK &&
                     attributes_by_cpu_pin(cpu, pin, values) == err::OK;
  const PHANDLE own = handle_at(values, OWN_HANDLE_AT);
  if (!found || PROCESSHANDLE_COMPARE_(&own, &process) != 2) {
    PROCESSHANDLE_NULLIT_(result);
    return FALSE_;
  }
  *result = handle_at(values, MOM_AT);
  CHECKOSSPARENT(process, result);
  return is_null(*result) ? FALSE_ : TRUE_;
}

}  // namespace

INT ANCESTOR(const PHANDLE* process, PHANDLE* ancestor) {
  if (ancestor == nullptr) return FALSE_;
  PHANDLE given;
  if (process != nullptr) given = *process;
  else PROCESSHANDLE_NULLIT_(&given);
  PHANDLE work;
  PROCESSHANDLE_NULLIT_(&work);

  switch (PROCESS_GETPAIRINFO_(&given, nullptr, 0, nullptr, nullptr, &work)) {
    case 0:
    case 4:
    case 5:
    case 6:
      *ancestor = work;
      if (is_null(*ancestor)) return FALSE_;
      CHECKOSSPARENT(given, ancestor);
      return TRUE_;
    case 7:
      return ancestor_from_mom(given, ancestor);
    case 2:
    case 3:
    case 12:
      PROCESS_DEBUG_();
      PROCESSHANDLE_NULLIT_(ancestor);
      return FALSE_;
    default:
      PROCESSHANDLE_NULLIT_(ancestor);
      return FALSE_;
  }
}

namespace {

constexpr int NAME_MAX = 36;
constexpr char LOOPBACK[] = "127.0.0.1";
constexpr INT LOOPBACK_LEN = 9;
constexpr char NETBATCH_PROGRAM[] = "\\*.$SYSTEM.SYS*.NETBATCH";
constexpr INT NETBATCH_PROGRAM_LEN = 24;
constexpr INT TELNET_WINDOW = 46;

// The walk ends, as the chain's end does, when an ancestor repeats a process already met or
// after this many generations: a node may describe a cycle of ancestors.
constexpr int MAX_GENERATIONS = 64;

struct AncestorNames {
  char hometerm[NAME_MAX];
  INT hometerm_length = 0;
  char program[NAME_MAX];
  INT program_length = 0;

  INT read(const PHANDLE& process) {
    hometerm_length = 0;
    program_length = 0;
    return PROCESS_GETINFO_(&process, nullptr, 0, nullptr, nullptr, nullptr, hometerm, NAME_MAX,
                            &hometerm_length, nullptr, nullptr, nullptr, nullptr, nullptr,
                            program, NAME_MAX, &program_length);
  }
};

// Parameters and working storage of one TRACETOMYIPADDRESS call.
class AncestorTrace {
 public:
  AncestorTrace(char* address, const INT* address_max, INT* address_length,
                const INT* close_flag, const char* pattern_list, INT pattern_list_capacity)
      : address_(address), address_max_(address_max), address_length_(address_length),
        close_flag_(close_flag), pattern_list_(pattern_list),
        pattern_list_capacity_(pattern_list_capacity) {}

  INT run(const PHANDLE* processhandle) {
    PHANDLE current;
    if (processhandle != nullptr) current = *processhandle;
    else PROCESSHANDLE_GETMINE_(&current);
    const PHANDLE start = current;
    seen_[0] = start;
    int seen_count = 1;
    INT step = 0;

    for (;;) {
      if (ANCESTOR(&current, &current) == FALSE_ || repeats(current, seen_count) ||
          seen_count == MAX_GENERATIONS) {
        deliver_loopback();
        return 1;
      }
      seen_[seen_count++] = current;

      AncestorNames names;
      const INT error = names.read(current);
      if (error == 4 && step == 0) names.read(start);
      else if (error != err::OK) return error;

      if (pattern_list_ != nullptr &&
          NLX_IN_STRINGBUFFER_(pattern_list_, names.program, names.program_length, 0,
                               pattern_list_capacity_) != FALSE_) {
        deliver_loopback();
        return 0;
      }
      if (STRINGMATCH(names.program, names.program_length, NETBATCH_PROGRAM,
                      NETBATCH_PROGRAM_LEN) == 2) {
        deliver_loopback();
        return 0;
      }
      ++step;
      if (DEVTYPE(names.hometerm, names.hometerm_length) != TELNET_WINDOW) continue;
      return ask_window(names.hometerm, names.hometerm_length);
    }
  }

 private:
  bool repeats(const PHANDLE& handle, int seen_count) const {
    return std::any_of(seen_, seen_ + seen_count,
                       [&handle](const PHANDLE& seen) { return same(seen, handle); });
  }

  void deliver_loopback() {
    deliver_text(LOOPBACK, LOOPBACK_LEN, address_, address_max_, address_length_);
  }

  // The window's Telnet server is asked with the SPI request, without a GEMINI check; the
  // address field is taken as it is, without left-justifying it.
  INT ask_window(const char* window, INT window_length) {
    SpiStep failed_step = SpiStep::OpenSpiFile;
    last_error_ = spi_.send(window, window_length, &failed_step);
    if (last_error_ != err::OK) {
      if (failed_step == SpiStep::OpenSpiFile) return static_cast<INT>(last_error_ & 0x1FFF);
      return MYERROR(spi_.spi_filenum, static_cast<int>(failed_step));
    }
    const WindowField field(spi_.value_area, WINDOW_ADDRESS_OFFSET);
    deliver_text(field.bytes, field.text_length(), address_, address_max_, address_length_);
    return MYERROR(spi_.spi_filenum, 0);
  }

  INT MYERROR(INT filenum, int error_class) {
    if (close_flag_ != nullptr && *close_flag_ != 0 && spi_.opened_here != 0) {
      FILE_CLOSE_(filenum);
    }
    return static_cast<INT>(
        static_cast<std::uint16_t>((error_class << 12) | (last_error_ & 0x0FFF)));
  }

  char* address_;
  const INT* address_max_;
  INT* address_length_;
  const INT* close_flag_;
  const char* pattern_list_;
  INT pattern_list_capacity_;
  PHANDLE seen_[MAX_GENERATIONS];
  INT last_error_ = 0;
  SpiWindowRequest spi_;
};

}  // namespace

INT TRACETOMYIPADDRESS(const PHANDLE* processhandle, char* address, const INT* address_max,
                       INT* address_length, const INT* close_flag, const char* pattern_list,
                       INT pattern_list_capacity) {
  if (address == nullptr || address_length == nullptr) return err::MISSING_PARAM;
  AncestorTrace trace(address, address_max, address_length, close_flag, pattern_list,
                      pattern_list_capacity);
  return trace.run(processhandle);
}

}  // namespace nsk
