// The main procedure: read the start-up line, decide the mode, find the terminal's address and
// report or store it.  It runs once from top to bottom, and every path ends in a stop.
#include "driver/mainflow.h"

#include <algorithm>
#include <string_view>

#include "addrlib/ancestry.h"
#include "addrlib/emulator.h"
#include "addrlib/hostname.h"
#include "addrlib/textmatch.h"
#include "addrlib/winaddr.h"
#include "driver/addressdb.h"
#include "driver/reportchannel.h"
#include "driver/runstate.h"
#include "driver/startupline.h"
#include "platform/editfiles.h"
#include "platform/filesystem.h"
#include "platform/names.h"
#include "platform/processes.h"
#include "platform/startup.h"

namespace nsk {

namespace {

constexpr INT DEVICE_TELNET_WINDOW = 46;

// The working values of one run.
struct Found {
  char ADDRESS[ADDRESS_MAX] = {};
  INT ADDRESSLEN = 0;
  INT DEVICETYPE = -1;
  INT ADDRESSSOURCE = 0;  // 0 the emulator's answer, 1 the SPI query
};

[[noreturn]] void stop_process(std::optional<INT> options, std::optional<INT> completion_code,
                               std::string_view text) {
  PROCESS_STOP_(nullptr, {}, options, completion_code, text.empty() ? nullptr : text.data(),
                static_cast<INT>(text.size()));
  STOP();  // PROCESS_STOP_ of this process does not come back; should it, stop all the same
}

[[noreturn]] void stop_normally() { stop_process({}, {}, {}); }

[[noreturn]] void close_edit_and_stop() {
  CLOSEALLEDIT();
  stop_normally();
}

void write_line_to_home() { WRITEHOMETERM(LINEBUFFER, LINELENGTH()); }

void write_text_to_home(std::string_view text) {
  LINESTART();
  LINEMOVE(text);
  write_line_to_home();
}

// "text" followed by the number, to the home terminal.
void write_numbered_to_home(std::string_view text, INT32 number) {
  LINESTART();
  LINEMOVE(text);
  LINENUMBER(number);
  write_line_to_home();
}

void ask_home_terminal(char* name, INT* length) {
  PHANDLE self;
  PROCESSHANDLE_NULLIT_(&self);
  *length = 0;
  PROCESS_GETINFO_(&self, nullptr, 0, nullptr, nullptr, nullptr, name, TERMNAME_MAX, length);
}

// True when the OUT file of the start-up message is this process's home terminal.
bool OUTEQUALHOMETERM() {
  char outname[TERMNAME_MAX];
  INT outlength = 0;
  if (OLDFILENAME_TO_FILENAME_(OUTFILENAME, outname, TERMNAME_MAX, &outlength) != 0) return false;
  char homename[TERMNAME_MAX];
  INT homelength = 0;
  ask_home_terminal(homename, &homelength);
  return FILENAME_COMPARE_(outname, outlength, homename, homelength) == 0;
}

// Climbs LOGONCHECKLEVEL generations of ancestors and stops silently when that ancestor is not
// logged on.  A chain shorter than the level, or an ancestor whose state cannot be asked, leaves
// the run going.
void check_logged_on() {
  PHANDLE handle;
  PROCESSHANDLE_NULLIT_(&handle);
  for (INT i = 0; i < RUNSTATE.LOGONCHECKLEVEL; ++i) {
    if (!ANCESTOR(&handle, &handle)) return;
  }
  const INT attributes[2] = {ATTR_LOGON_68, ATTR_LOGON_STATE};
  INT values[2] = {0, 0};
  INT values_length = 0;
  if (PROCESS_GETINFOLIST_({}, {}, nullptr, 0, &handle, attributes, 2, values, 2,
                           &values_length) != 0) {
    return;
  }
  constexpr INT LOGGED_ON_BITS = 0x0009;  // bit 3 or bit 0
  if ((values[1] & LOGGED_ON_BITS) == 0) stop_normally();
}

void open_out_channel() {
  if (RUNSTATE.STAYALIVETIME != 0) {
    RUNSTATE.OUTFNUM = RUNSTATE.HOMETERMFNUM;
    return;
  }
  const INT error = OPENOUTFILE(OUTFILENAME, &RUNSTATE.OUTFNUM);
  if (error != 0) {
    write_text_to_home("Can't open OUT file");
    write_numbered_to_home("Error: ", error);
    stop_normally();
  }
}

// The emulator's answer, when it is an IP address.
bool ask_emulator(Found* found) {
  INT result = 0;
  if constexpr (C_BUILD) {
    result = GETMACHINEUSER(RUNSTATE.TERMNAME, RUNSTATE.TERMNAMELEN, nullptr, 0, nullptr,
                            found->ADDRESS, ADDRESS_MAX, &found->ADDRESSLEN, nullptr, 0, nullptr,
                            nullptr, 0, nullptr, nullptr, 0, nullptr, nullptr, 0, nullptr,
                            RUNSTATE.ESCWAITTIME, INT{1});
  } else {
    result = GETMACHINEUSER(RUNSTATE.TERMNAME, RUNSTATE.TERMNAMELEN, nullptr, 0, nullptr,
                            found->ADDRESS, ADDRESS_MAX, &found->ADDRESSLEN, nullptr, 0, nullptr,
                            nullptr, 0, nullptr, nullptr, 0, nullptr, nullptr, 0, nullptr,
                            RUNSTATE.ESCWAITTIME, {}, &RUNSTATE.ESCRESPONSETIME);
  }
  return result == 0 && IPADDRESSSYNTAXOK(found->ADDRESS, found->ADDRESSLEN);
}

// Classifies the terminal and fetches its window address; stops on an error.
void ask_window(Found* found) {
  const INT address_max = ADDRESS_MAX;
  const INT error = GETWINADDR(RUNSTATE.TERMNAME, &RUNSTATE.TERMNAMELEN, found->ADDRESS,
                               &address_max, &found->ADDRESSLEN, &found->DEVICETYPE);
  if (error != 0) {
    write_text_to_home("Can't fetch window address");
    write_numbered_to_home("GetWinAddr error: ", error);
    stop_normally();
  }
  found->ADDRESSSOURCE = 1;
}

void write_out_line() { TWRITE(RUNSTATE.OUTFNUM, LINEBUFFER, LINELENGTH()); }

void report_telnet_window(const Found& found) {
  LINESTART();
  LINEMOVE("TELNET window ");
  LINEMOVE(RUNSTATE.TERMNAME, RUNSTATE.TERMNAMELEN);
  LINEMOVE(" is IP-Address: ");
  LINEMOVE(found.ADDRESS, found.ADDRESSLEN);
  if (found.ADDRESSSOURCE == 1) {
    LINEMOVE("  (spi)");
  } else {
    LINEMOVE("  (esc, ");
    LINENUMBER(static_cast<INT32>(RUNSTATE.ESCRESPONSETIME / 10000));
    LINEMOVE(")");
  }
  write_out_line();
  if (RUNSTATE.HOSTNAMELEN > 0) {
    LINESTART();
    LINEMOVE("Address name: ");
    LINEMOVE(RUNSTATE.HOSTNAME, RUNSTATE.HOSTNAMELEN);
    write_out_line();
  }
}

// After a Telnet report the process may stay alive, so that a Telnet service window shows the
// result before it closes.
void stay_alive() {
  const INT32 time = RUNSTATE.STAYALIVETIME;
  if (time == 0) return;
  LINESTART();
  LINEMOVE("Staying alive for ");
  LINENUMBER(time);
  LINEMOVE(" milliseconds");
  write_out_line();
  CLOSEALLEDIT();
  // DELAY counts hundredths of a second: round up, so the process stays at least that long.
  DELAY(time > 0 ? (INT64{time} + 9) / 10 : INT64{time} / 10);
  stop_normally();
}

// The report lines for a terminal that is not a Telnet window; stops after an unsupported type.
void report_other_terminal(const Found& found) {
  switch (found.DEVICETYPE) {
    case -1: write_text_to_home("Unknown device"); return;
    case 0: write_text_to_home("This is a process"); return;
    case 6: write_text_to_home("This is an ordinary terminal"); return;
    case 7: write_text_to_home("This is an ENVOY data comm terminal"); return;
    case 53: write_text_to_home("This is an ordinary async terminal"); return;
    case 61:
      LINESTART();
      LINEMOVE("X.25 window ");
      LINEMOVE(RUNSTATE.TERMNAME, RUNSTATE.TERMNAMELEN);
      LINEMOVE(" has DTE number: ");
      LINEMOVE(found.ADDRESS, found.ADDRESSLEN);
      write_line_to_home();
      return;
    default:
      LINESTART();
      LINEMOVE("Device type ");
      LINENUMBER(found.DEVICETYPE);
      LINEMOVE(" not supported");
      write_line_to_home();
      close_edit_and_stop();
  }
}

// A terminal without an address of its own: the ancestors of the process that owns it may sit
// at a Telnet window.
void trace_ancestors(Found* found) {
  char terminal[TERMNAME_MAX];
  const INT length = RUNSTATE.TERMNAMELEN;
  std::copy(RUNSTATE.TERMNAME, RUNSTATE.TERMNAME + length, terminal);
  FILENAME_DECOMPOSE_(terminal, length, RUNSTATE.TERMNAME, TERMNAME_MAX, &RUNSTATE.TERMNAMELEN,
                      0, 2);
  PHANDLE owner;
  PROCESSHANDLE_NULLIT_(&owner);
  const INT pair = PROCESS_GETPAIRINFO_(nullptr, RUNSTATE.TERMNAME, RUNSTATE.TERMNAMELEN, &owner);
  if (pair != 0 && pair != 4 && pair != 5 && pair != 6) return;
  const INT address_max = ADDRESS_MAX;
  if (TRACETOMYIPADDRESS(&owner, found->ADDRESS, &address_max, &found->ADDRESSLEN) != 0) return;
  LINESTART();
  LINEMOVE("IP address found in the chain of ancestors: ");
  LINEMOVE(found->ADDRESS, found->ADDRESSLEN);
  write_line_to_home();
}

}  // namespace

void GETNETLOCADDRESS() {
  Found found;
  LIBVERSION();
  CLEARSTARTUPTEXT();
  INT status = 0;  // a process that gets no start-up message counts as valid
  INITIALIZER(nullptr, &status, GETSTARTUP, GETPARAMS);
  if (status != 0) stop_process(STOP_ABNORMAL, {}, "Invalid start-up parameter");

  ask_home_terminal(RUNSTATE.HOMETERMNAME, &RUNSTATE.HOMETERMNAMELEN);

  if (RUNSTATE.LISTTERMNAMELEN > 0) {
    FILE_OPEN_(RUNSTATE.HOMETERMNAME, RUNSTATE.HOMETERMNAMELEN, &RUNSTATE.HOMETERMFNUM);
    DISPLAYIPADDRESS();
    stop_normally();
  }
  if (RUNSTATE.LOGONCHECKLEVEL != 0) check_logged_on();
  if (!RUNSTATE.PLAINMODE) {
    FILE_OPEN_(RUNSTATE.HOMETERMNAME, RUNSTATE.HOMETERMNAMELEN, &RUNSTATE.HOMETERMFNUM, {}, {},
               1);
  }
  if (!RUNSTATE.PLAINMODE && RUNSTATE.HELPWANTED) {
    PRINTHELP();
    close_edit_and_stop();
  }
  if (RUNSTATE.STAYALIVETIME == -1) {
    CLOSEALLEDIT();
    stop_process({}, 2, "Invalid WaitTime");
  }
  if (RUNSTATE.TERMNAMELEN == 0) {
    std::copy(RUNSTATE.HOMETERMNAME, RUNSTATE.HOMETERMNAME + RUNSTATE.HOMETERMNAMELEN,
              RUNSTATE.TERMNAME);
    RUNSTATE.TERMNAMELEN = RUNSTATE.HOMETERMNAMELEN;
  }
  if (!RUNSTATE.PLAINMODE && OUTEQUALHOMETERM()) PRINTBANNER();
  if constexpr (PRIV_BUILD) MY_SWITCHUSER(-1);
  if (!RUNSTATE.PLAINMODE) open_out_channel();

  if (RUNSTATE.ESCMODE && ask_emulator(&found)) {
    found.DEVICETYPE = DEVICE_TELNET_WINDOW;
    found.ADDRESSSOURCE = 0;
  } else {
    ask_window(&found);
  }
  NLX_GETHOSTNAME(found.ADDRESS, found.ADDRESSLEN, RUNSTATE.HOSTNAME, HOSTNAME_MAX,
                  &RUNSTATE.HOSTNAMELEN);

  if (RUNSTATE.PLAINMODE) {
    if (found.DEVICETYPE == DEVICE_TELNET_WINDOW) PLAINSTORE(found.ADDRESS, found.ADDRESSLEN);
    stop_normally();
  }
  if (found.DEVICETYPE == DEVICE_TELNET_WINDOW) {
    report_telnet_window(found);
    stay_alive();
  } else {
    report_other_terminal(found);
    trace_ancestors(&found);
  }
  CLOSEALLEDIT();
  STOP();
}

void STOPME() { close_edit_and_stop(); }

#if NETLOC_PRIV_SWITCH
// Linux has no privileged entry gate: the procedure is an ordinary call, and SWITCHUSER is
// whatever the node provides under that name.
void MY_SWITCHUSER(INT user) {
  const SystemEntryPoint switchuser = SYSTEMENTRYPOINT_RISC_("SWITCHUSER", 10);
  if (switchuser != nullptr) switchuser(user);
}
#endif

}  // namespace nsk
