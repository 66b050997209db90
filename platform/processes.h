// Process procedures over the node's processes (docs/processes.md: the handle layout, the
// return codes).  A null or omitted process handle stands for the calling process wherever a
// handle is input, except in PROCESSHANDLE_COMPARE_.
#pragma once

#include "platform/types.h"

namespace nsk {

// Information about a process.  Names come with the node name; an unnamed process is named
// \NODE.$:cpu:pin:sequence.  Errors: 4 the process no longer exists, 11 no such process,
// 563 a buffer too small (nothing written), 590 a buffer without its length.
INT PROCESS_GETINFO_(const PHANDLE* processhandle = nullptr, char* proc_fname = nullptr,
                     INT proc_fname_maxlen = 0, INT* proc_fname_length = nullptr,
                     INT* priority = nullptr, PHANDLE* mom = nullptr, char* hometerm = nullptr,
                     INT hometerm_maxlen = 0, INT* hometerm_length = nullptr,
                     INT64* process_time = nullptr, INT* creator_access_id = nullptr,
                     INT* process_access_id = nullptr, PHANDLE* gmom = nullptr,
                     INT* jobid = nullptr, char* program_file = nullptr,
                     INT program_file_maxlen = 0, INT* program_file_length = nullptr);

// Attribute codes served by PROCESS_GETINFOLIST_ (values word by word, in order; 32-bit values
// take two words, the high-order word first).
constexpr INT ATTR_PROCESS_TYPE = 28;       // 1 word: 0 Guardian, 1 OSS
constexpr INT ATTR_MOM = 40;                // 10 words: the mom's process handle
constexpr INT ATTR_PROCESS_HANDLE = 48;     // 10 words: the process's own handle
constexpr INT ATTR_LOGON_68 = 68;           // 1 word: the process's creator access id
constexpr INT ATTR_LOGON_STATE = 72;        // 1 word: logged-on state, bit 0 or bit 3 set when logged on
constexpr INT ATTR_PROCESS_INFO_82 = 82;    // 0-16 words: self's attribute82 bytes in text order
constexpr INT ATTR_OSS_PARENT_PID = 94;     // 2 words: OSS process id of the OSS parent
constexpr INT ATTR_OSS_PID = 90;            // 2 words: the process's own OSS process id

constexpr INT SEARCH_OSS_PID = 3;           // srch_option: find the process by its OSS pid

// Attributes of one process, chosen (srch_option 3) by the OSS process id in srch_values_list
// (2 words, high first; srch_attr_list {ATTR_OSS_PID}), else by cpu and pin, else by
// processhandle.  ret_values_maxlen is in words.  Errors: 2 an unknown attribute (*error_detail
// its code), 4 no such process, 29 a missing list, 563 values do not fit (nothing written),
// 590 a bad count or search option.
INT PROCESS_GETINFOLIST_(std::optional<INT> cpu, std::optional<INT> pin, const char* nodename,
                         INT nodename_length, const PHANDLE* processhandle,
                         const INT* ret_attr_list, INT ret_attr_count, INT* ret_values_list,
                         INT ret_values_maxlen, INT* ret_values_length,
                         INT* error_detail = nullptr, std::optional<INT> srch_option = {},
                         const INT* srch_attr_list = nullptr, INT srch_attr_count = 0,
                         const INT* srch_values_list = nullptr, INT srch_values_length = 0);

// Pair information of a process given by handle, or by pair name ("$NAME" or "\NODE.$NAME",
// processhandle nullptr).  Return codes: 0 named process, information returned (backup always
// null, ancestor the pair table's ancestor or else the mom); 4, 5, 6 information returned with
// remarks (only injected); 7 an unnamed process, the ancestor is not known to the pair table
// (the caller asks PROCESS_GETINFOLIST_ for the mom), outputs untouched; 2 parameter error (a
// pair name that is no process name); 9 no such process; 3, 12 only injected.  The process's
// inject value replaces the return code (for 0, 4, 5, 6 the outputs are still filled).
INT PROCESS_GETPAIRINFO_(const PHANDLE* processhandle, const char* pair, INT pair_length,
                         PHANDLE* primary = nullptr, PHANDLE* backup = nullptr,
                         PHANDLE* ancestor = nullptr);

INT PROCESSHANDLE_GETMINE_(PHANDLE* processhandle);
INT PROCESSHANDLE_NULLIT_(PHANDLE* processhandle);

// 2 identical (all ten words; nullptr counts as the null handle), 0 different.  1 (the two
// processes of one pair) never occurs: the node has no process pairs.
INT PROCESSHANDLE_COMPARE_(const PHANDLE* handle1, const PHANDLE* handle2);

// Pieces of a process handle (procname: "$NAME", empty for an unnamed process).  Errors: 29 no
// handle, 590 a null or malformed handle or a buffer without its length, 563 too small.
INT PROCESSHANDLE_DECOMPOSE_(const PHANDLE* processhandle, INT* cpu = nullptr, INT* pin = nullptr,
                             INT32* nodenumber = nullptr, char* nodename = nullptr,
                             INT nodename_maxlen = 0, INT* nodename_length = nullptr,
                             char* procname = nullptr, INT procname_maxlen = 0,
                             INT* procname_length = nullptr, INT64* sequence = nullptr);

constexpr INT STOP_ABNORMAL = 1;  // options bit of PROCESS_STOP_

// Stops a process.  For this process (handle omitted, null or its own) it never returns: the
// stop hooks run, standard output is flushed, EDIT files are not closed by it, the termination
// text and a newline go to standard error, and the Linux exit status is the completion code
// modulo 256 (default 0; an abnormal stop exits with EXIT_ABNORMAL unless a code is given).
// Other processes are not stopped: 48 (11 for a handle of no live process).
INT PROCESS_STOP_(const PHANDLE* processhandle = nullptr, std::optional<INT> specifier = {},
                  std::optional<INT> options = {}, std::optional<INT> completion_code = {},
                  const char* text = nullptr, INT text_length = 0);

// Normal stop of this process, completion code 0.
[[noreturn]] void STOP();

// The debugger: on Linux one line "netloc: debugger entered (...); resuming" goes to standard
// error and the process resumes at once.  PROCESS_DEBUG_: 11 for a handle of no live process.
void DEBUG();
INT PROCESS_DEBUG_(const PHANDLE* processhandle = nullptr);

// Suspends the process for the given hundredths of a second, scaled by the node's time scale.
void DELAY(INT64 hundredths);

// A procedure located by name at run time.
using SystemEntryPoint = void (*)(INT);

// Finds a system procedure by name; nullptr when the node has none of that name.  The node has
// "SWITCHUSER" when self.switchuser: it changes nothing, but appends "SWITCHUSER <user>" to the
// file that NETLOC_TRACE_SWITCHUSER names, if any.
SystemEntryPoint SYSTEMENTRYPOINT_RISC_(const char* name, INT length);

}  // namespace nsk
