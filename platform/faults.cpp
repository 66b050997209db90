// Injected results: the node description's [[fault]] entries, matched against a count of the
// calls of each procedure.
#include "platform/faults.h"

#include <algorithm>
#include <map>
#include <string>

#include "platform/node.h"

namespace nsk::fault {

INT injected(std::string_view procedure) {
  static std::map<std::string, int, std::less<>> calls;
  auto it = calls.find(procedure);
  if (it == calls.end()) it = calls.emplace(std::string(procedure), 0).first;
  int call = ++it->second;
  for (const node::Fault& f : node::current().faults) {
    if (f.procedure == procedure && (f.call == 0 || f.call == call)) return static_cast<INT>(f.error);
  }
  return 0;
}

bool injectable(std::string_view procedure) {
  static constexpr std::string_view PROCEDURES[] = {
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
  return std::find(std::begin(PROCEDURES), std::end(PROCEDURES), procedure) != std::end(PROCEDURES);
}

}  // namespace nsk::fault
