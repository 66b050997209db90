// Injected results (internal to the platform).  Every platform procedure asks here first.
#pragma once

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/types.h"

namespace nsk::fault {

// The procedures that ask injected(), sorted: the names a [[fault]] entry may give.
inline constexpr std::array<std::string_view, 49> PROCEDURES = {
    "AWAITIOX", "CLOSEALLEDIT", "CONTROL", "CONVERTTIMESTAMP", "DNUMIN", "DNUMOUT",
    "FILENAME_COMPARE_", "FILENAME_DECOMPOSE_", "FILENAME_RESOLVE_", "FILENAME_SCAN_",
    "FILENAME_TO_OLDFILENAME_", "FILE_CLOSE_", "FILE_CREATE_", "FILE_GETINFOBYNAME_",
    "FILE_GETINFOLIST_", "FILE_GETINFO_", "FILE_OPEN_", "FILE_RENAME_", "GRD_gethostbyaddr_",
    "KEYPOSITIONX", "LOCKFILE", "NODENAME_TO_NODENUMBER_", "NODENUMBER_TO_NODENAME_",
    "OLDFILENAME_TO_FILENAME_", "OPENEDIT_", "PROCESSHANDLE_COMPARE_",
    "PROCESSHANDLE_DECOMPOSE_", "PROCESSHANDLE_GETMINE_", "PROCESSHANDLE_NULLIT_",
    "PROCESS_DEBUG_", "PROCESS_GETINFOLIST_", "PROCESS_GETINFO_", "PROCESS_GETPAIRINFO_",
    "PROCESS_STOP_", "READX", "SETMODE", "SETMODENOWAIT", "SETPARAM", "SSGET", "SSGETTKN",
    "SSINIT", "SSPUTTKN", "STRING_UPSHIFT_", "SYSTEMENTRYPOINT_RISC_", "WRITEEDIT",
    "WRITEREADX", "WRITEUPDATEX", "WRITEX", "inet_addr"};

// -1 for a name that is not in the table.
constexpr int index_of(std::string_view procedure) {
  const auto* at = std::lower_bound(PROCEDURES.begin(), PROCEDURES.end(), procedure);
  return at != PROCEDURES.end() && *at == procedure ? static_cast<int>(at - PROCEDURES.begin())
                                                    : -1;
}

// A procedure of the table, named at compile time: a name missing from it does not compile, and
// a call finds its counter without a search.
struct Procedure {
  consteval Procedure(const char* name) : index(index_of(name)) {  // NOLINT: implicit on purpose
    if (index < 0) throw "not an injectable procedure";
  }
  int index;
};

// Counts one call of procedure; returns the error that the node description injects for this
// call, or 0.  Counts persist for the life of the process, across changes of the current node.
INT injected(Procedure procedure);

// True for the procedures that ask injected(): the names a [[fault]] entry may give.
constexpr bool injectable(std::string_view procedure) { return index_of(procedure) >= 0; }

}  // namespace nsk::fault
