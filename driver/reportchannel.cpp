// The two output channels: the OUT file of the start-up message, opened in the way its kind of
// file needs, and the home terminal.
#include "driver/reportchannel.h"

#include <algorithm>

#include "driver/mainflow.h"
#include "driver/runstate.h"
#include "platform/editfiles.h"
#include "platform/filesystem.h"
#include "platform/names.h"

namespace nsk {

namespace {

constexpr INT DEVICE_TERMINAL = 6;
constexpr INT SETMODE_EDIT_BUFFERING = 90;
constexpr INT SETMODE_BREAK = 11;

// Opens (or creates) an EDIT file for appending report lines; the result is the file's last
// error after the open and the buffering mode.
INT open_edit_file(const char* name, INT length, INT* filenum) {
  const INT error = OPENEDIT_(name, length, filenum, 0, {}, {}, {}, 1);
  if (error != 0) return error;
  SETMODE(*filenum, SETMODE_EDIT_BUFFERING, 0);
  INT last_error = 0;
  FILE_GETINFO_(*filenum, &last_error);
  return last_error;
}

// A terminal is opened nowait with BREAK mode, so that each line is one write completed at once.
INT open_terminal(const char* name, INT length, INT* filenum) {
  const INT error = FILE_OPEN_(name, length, filenum, {}, {}, 1);
  if (error != 0) return error;
  INT completed = *filenum;
  SETMODENOWAIT(*filenum, SETMODE_BREAK, 1, 0);
  AWAITIOX(&completed);
  return 0;
}

// Terminals are the files opened nowait (by OPENOUTFILE and by the main flow): a write there is
// completed at once.  The nowait depth is asked as well as the device type, since a window of a
// Telnet server may report its server's type rather than that of a terminal.
bool is_terminal_open(INT filenum, const INT* typeinfo) {
  if (typeinfo[0] == DEVICE_TERMINAL) return true;
  const INT items[1] = {ITEM_NOWAIT_DEPTH};
  INT depth = 0;
  return FILE_GETINFOLIST_(filenum, items, 1, &depth, sizeof depth) == 0 && depth > 0;
}

}  // namespace

INT OPENOUTFILE(const char* outfilename, INT* outfnum) {
  *outfnum = -1;
  if (std::all_of(outfilename, outfilename + 24, [](char c) { return c == ' '; })) return 0;
  INT length = 0;
  // A name that does not convert is left empty: the look-up below then gives the error.
  if (OLDFILENAME_TO_FILENAME_(outfilename, LINEBUFFER, TERMNAME_MAX, &length) != 0) length = 0;
  INT typeinfo[TYPEINFO_WORDS] = {};
  const INT error = FILE_GETINFOBYNAME_(LINEBUFFER, length, typeinfo);
  if (error == err::NO_SUCH_FILE) return open_edit_file(LINEBUFFER, length, outfnum);
  if (error != 0) return error;
  if (typeinfo[4] == EDIT_FILE_CODE) return open_edit_file(LINEBUFFER, length, outfnum);
  if (typeinfo[0] == DEVICE_TERMINAL) return open_terminal(LINEBUFFER, length, outfnum);
  return FILE_OPEN_(LINEBUFFER, length, outfnum);
}

INT TWRITE(INT filenum, const char* line, INT length) {
  if (filenum == -1) return 0;
  INT typeinfo[TYPEINFO_WORDS] = {};
  FILE_GETINFO_(filenum, nullptr, nullptr, 0, nullptr, typeinfo);
  if (typeinfo[4] == EDIT_FILE_CODE) {
    WRITEEDIT(filenum, -2, line, length);
  } else {
    WRITEX(filenum, line, length);
  }
  INT last_error = 0;
  if (is_terminal_open(filenum, typeinfo)) {
    INT completed = filenum;
    AWAITIOX(&completed);
    FILE_GETINFO_(filenum, &last_error);
    if (last_error != 0) STOPME();
    return 0;
  }
  FILE_GETINFO_(filenum, &last_error);
  return last_error;
}

void WRITEHOMETERM(const char* line, INT length) {
  INT filenum = RUNSTATE.HOMETERMFNUM;
  WRITEX(filenum, line, length);
  AWAITIOX(&filenum);
}

}  // namespace nsk
