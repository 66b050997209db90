// The run state of the program: one process-global record with each build's defaults, and the
// shared line buffer.  The two build switches come from the build (builds/CMakeLists.txt).
#pragma once

#include <optional>
#include <string_view>

#include "platform/types.h"

#ifndef NETLOC_C_SWITCH
#error "NETLOC_C_SWITCH must be defined by the build"
#endif
#ifndef NETLOC_PRIV_SWITCH
#error "NETLOC_PRIV_SWITCH must be defined by the build"
#endif

namespace nsk {

constexpr bool C_BUILD = NETLOC_C_SWITCH != 0;
constexpr bool PRIV_BUILD = NETLOC_PRIV_SWITCH != 0;

constexpr int TERMNAME_MAX = 36;
constexpr int ADDRESS_MAX = 20;
constexpr int HOSTNAME_MAX = 50;

struct RUNSTATE_T {
  INT64 ESCRESPONSETIME = -1;
  INT HELPWANTED = FALSE_;
  INT MODESOURCE = 0;
  INT ESCMODE = 1;
  INT LOGONSOURCE = 0;
  INT LOGONCHECKLEVEL = C_BUILD ? 1 : 0;
  INT PLAINMODE = C_BUILD ? TRUE_ : FALSE_;
  INT32 ESCWAITTIME = C_BUILD ? 100 : 50;
  INT32 STAYALIVETIME = 0;
  char TERMNAME[TERMNAME_MAX] = {};
  INT TERMNAMELEN = 0;
  char HOSTNAME[HOSTNAME_MAX] = {};
  INT HOSTNAMELEN = 0;
  char LISTTERMNAME[TERMNAME_MAX] = {};
  INT LISTTERMNAMELEN = 0;
  char HOMETERMNAME[TERMNAME_MAX] = {};
  INT HOMETERMNAMELEN = 0;
  INT HOMETERMFNUM = -1;
  INT OUTFNUM = -1;
};

extern RUNSTATE_T RUNSTATE;

// The start-up message as delivered, upshifted; OUTFILENAME is its OUT file field.
constexpr int STARTUPTEXT_MAX = 596;
extern char STARTUPTEXT[STARTUPTEXT_MAX];
extern const char* const OUTFILENAME;  // 24 bytes inside STARTUPTEXT
// Makes STARTUPTEXT an empty message: zero bytes, and a blank OUT field (no OUT file).
void CLEARSTARTUPTEXT();

// The shared line buffer and its next free position.
constexpr int LINEBUFFER_MAX = 512;
extern char LINEBUFFER[LINEBUFFER_MAX];
extern char* LINECURSOR;

// A line is built by LINESTART, pieces moved in at LINECURSOR (never past the buffer's end),
// and written with its length LINELENGTH.  Numbers are decimal, by DNUMOUT.
void LINESTART();
void LINEMOVE(const char* text, INT length);
inline void LINEMOVE(std::string_view text) {
  LINEMOVE(text.data(), static_cast<INT>(text.size()));
}
void LINENUMBER(INT32 number, std::optional<INT> width = {});
INT LINELENGTH();

}  // namespace nsk
