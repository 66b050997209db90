// The banner and the help text, both written to the home terminal line by line.
#include <array>
#include <string_view>

#include "driver/reportchannel.h"
#include "driver/runstate.h"
#include "platform/names.h"
#include "platform/system.h"

namespace nsk {

namespace {

constexpr std::string_view BANNER_START = PRIV_BUILD
    ? "NETLOC-L (402) - T4410K03 - (20May2008)   System "
    : "NETLOC (402) - T4410K03 - (20May2008)   System ";
constexpr std::string_view BANNER_NOTICE = "NETLOC for Linux: which workstation is behind this terminal.";
constexpr INT NODENAME_MAX = 10;

// The help text, the same in every build; an empty entry is a write of length 0.
constexpr std::array<std::string_view, 64> HELP_TEXT = {
    "NETLOC displays the GUARDIAN name as well as the IP address of a",
    "6530 type terminal.",
    "",
    "Command syntax:",
    "",
    "    NETLOC [/OUT [<file>]/] -H[ELP]",
    "",
    "    NETLOC [/OUT [<file>]/] [SPI|ESC[nn]] [LOGGEDON[nn]]",
    "                            [[TERMINAL] <term>] [WAITTIME <time>]",
    "                            [IS] <term>]",
    "",
    "    NETLOC                  PLAIN [SPI|ESC[nn]] [LOGGEDON[nn]]",
    "",
    "where",
    "",
    " -H[ELP]      displays this screen.",
    " OUT          defines the OUT file to which the output should be",
    "              written. An empty OUT suppresses any output.",
    " SPI|ESC[nn]  keywords;",
    "              SPI causes NetLoc to use the SPI interface;",
    "              ESC causes NetLoc to use an ESC sequence to get the",
    "              IP address directly from the terminal, BEFORE it uses",
    "              the SPI interface. This is meaningful for WIN6530 type",
    "              emulators from comForte, or CAIL.",
    "              The [nn]-extension is a numeric value and optionally",
    "              defines the I/O wait time to be used when sending the",
    "              ESC sequence. The value is in milliseconds.",
    "              SPI or ESC[nn] can be supplied as well as a PARAM:",
    "              PARAM NETLOC^MODE SPI|ESC[nn]",
    "              Default is: ESC with an I/O wait time of 50.",
    "              The start-up value takes precedence.",
    " LOGGEDON[nn] keyword;",
    "              directs NetLoc to check the logged on state of its",
    "              creator. This is meaningful when NetLoc is started",
    "              through TACLLOCL, where the ancestor TACL is a spawned",
    "              one, e.g. in an OBEY file, or TACL Macro.",
    "              The [nn]-extension is a numeric value and optionally",
    "              defines the ancestor to be checked.",
    "              0 = default = no ancestor check.",
    "              1 = check ancestor/mom, 2 = check grand mom, etc.",
    "              LOGGEDON[nn] can be supplied as well as a PARAM:",
    "              NETLOC^CHECKLOGONSTATE  ON[nn]",
    "              Default is: LOGGEDON0.",
    "              The start-up value takes precedence.",
    " IS           keyword;",
    "              causes NetLoc to read the record(s) of the given",
    "              terminal from thee current data base, and to display it.",
    " term         is a 6530 type terminal name, e.g. $ZTN01.#PTVD5UA.",
    "              The terminal name can be a 'fully blown' name, including",
    "              a system name, e.g. \\ORCHID.$ZTN04.#AGUZZT1",
    " time         defines the time in milliseconds, NETLOC stays alive",
    "              before it stops itself. This allows it to become a",
    "              Telnet service to display a telnet window name, and IP",
    "              address.",
    " PLAIN        keyword; causes NetLoc to write the IP address into a",
    "              key-sequenced file.",
    "              TERMINAL and WAITTIME are NOT taken into account.",
    "              For details please consult the documentation.",
    "e.g.:",
    "  NETLOC",
    "  NETLOC ESC300 TERMINAL \\TIGRA.$ZTN05.#OAGHIUP",
    "  NETLOC WAITTIME 50000",
    "  NETLOC PLAIN SPI",
    "  NETLOC IS $ZTN1300.#PTONM2AX",
};

void write_line() { WRITEHOMETERM(LINEBUFFER, LINELENGTH()); }

}  // namespace

void PRINTBANNER() {
  LINESTART();
  LINEMOVE(BANNER_START);
  char node[NODENAME_MAX];
  INT node_length = 0;
  if (NODENUMBER_TO_NODENAME_({}, node, NODENAME_MAX, &node_length) == 0) {
    LINEMOVE(node, node_length);
  }
  LINEMOVE(", running NSK ");
  const INT version = TOSVERSION();
  const char letter = static_cast<char>(((version >> 8) & 0xFF) - 10);
  LINEMOVE(&letter, 1);
  LINENUMBER(version & 0xFF, 2);
  write_line();
  LINESTART();
  LINEMOVE(BANNER_NOTICE);
  write_line();
}

void PRINTHELP() {
  for (const std::string_view text : HELP_TEXT) {
    LINESTART();
    LINEMOVE(text);
    write_line();
  }
}

}  // namespace nsk
