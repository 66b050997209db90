// The process-global run state, the start-up text and the shared line buffer.
#include "driver/runstate.h"

#include <algorithm>

#include "platform/startup.h"
#include "platform/timenum.h"

namespace nsk {

RUNSTATE_T RUNSTATE;

char STARTUPTEXT[STARTUPTEXT_MAX];
const char* const OUTFILENAME = STARTUPTEXT + STARTUP_OUT_OFFSET;

char LINEBUFFER[LINEBUFFER_MAX];
char* LINECURSOR = LINEBUFFER;

void CLEARSTARTUPTEXT() {
  std::fill(STARTUPTEXT, STARTUPTEXT + STARTUPTEXT_MAX, '\0');
  // A blank OUT field is the platform's "no OUT file"; a run that never gets a start-up
  // message then writes no report lines rather than failing on a name of zero bytes.
  std::fill(STARTUPTEXT + STARTUP_OUT_OFFSET, STARTUPTEXT + STARTUP_OUT_OFFSET + 24, ' ');
}

void LINESTART() { LINECURSOR = LINEBUFFER; }

void LINEMOVE(const char* text, INT length) {
  const INT room = static_cast<INT>(LINEBUFFER + LINEBUFFER_MAX - LINECURSOR);
  const INT n = std::clamp<INT>(length, 0, room);
  std::copy(text, text + n, LINECURSOR);
  LINECURSOR += n;
}

void LINENUMBER(INT32 number, std::optional<INT> width) {
  const INT room = static_cast<INT>(LINEBUFFER + LINEBUFFER_MAX - LINECURSOR);
  LINECURSOR += DNUMOUT(LINECURSOR, room, number, 10, width);
}

INT LINELENGTH() { return static_cast<INT>(LINECURSOR - LINEBUFFER); }

}  // namespace nsk
