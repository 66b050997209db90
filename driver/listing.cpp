// The listing of stored addresses: the records of both database files, the previous file first,
// whose terminal name begins with the IS operand, one 64-column line each under a heading.
#include <algorithm>
#include <string_view>

#include "addrlib/texthelpers.h"
#include "driver/addressdb.h"
#include "driver/reportchannel.h"
#include "driver/runstate.h"
#include "platform/filesystem.h"

namespace nsk {
namespace {

constexpr int RECTERMNAME_LEN = 26;
constexpr int RECADDRESS = 26, RECADDRESS_LEN = 16;
constexpr int RECCREATED = 92, RECCREATED_LEN = 18;
constexpr int LINE_BLANKS = 80;
constexpr int LINE_ADDRESS = 28, LINE_CREATED = 46, LINE_LENGTH = 64;

constexpr std::string_view HEADING1 = "      Terminal  Name           IP Address       Creation  Time";
constexpr std::string_view HEADING2 =
    "--------------------------  ----------------  ------------------";
static_assert(HEADING1.size() == 62 && HEADING2.size() == LINE_LENGTH);

void write_text(std::string_view text) {
  LINESTART();
  LINEMOVE(text);
  WRITEHOMETERM(LINEBUFFER, LINELENGTH());
}

// A stored byte that is not printable ASCII is shown as "?", so that a record written by another
// program can neither break the line nor send control bytes to the terminal.
void make_printable(char* line, int length) {
  std::replace_if(line, line + length, [](char c) { return c < 0x20 || c > 0x7E; }, '?');
}

void write_record_line(const char* record) {
  std::fill(LINEBUFFER, LINEBUFFER + LINE_BLANKS, ' ');
  INT stripped = 0;
  STRIPMYNODENAME_(record, REALLEN(record, RECTERMNAME_LEN), LINEBUFFER, RECTERMNAME_LEN, &stripped);
  std::copy(record + RECADDRESS, record + RECADDRESS + RECADDRESS_LEN, LINEBUFFER + LINE_ADDRESS);
  std::copy(record + RECCREATED, record + RECCREATED + RECCREATED_LEN, LINEBUFFER + LINE_CREATED);
  make_printable(LINEBUFFER, LINE_LENGTH);
  WRITEHOMETERM(LINEBUFFER, LINE_LENGTH);
}

void write_open_error(const char* name, INT length, INT error) {
  LINESTART();
  LINEMOVE("Can't open ");
  LINEMOVE(name, length);
  WRITEHOMETERM(LINEBUFFER, LINELENGTH());
  LINESTART();
  LINEMOVE("Open error: ");
  LINENUMBER(error);
  WRITEHOMETERM(LINEBUFFER, LINELENGTH());
}

}  // namespace

void DISPLAYIPADDRESS() {
  char name[TERMNAME_MAX];
  INT length = 0;
  const INT naming_error = PLAINFILENAME(name, &length);
  char record[PLAINRECORD_LENGTH];
  std::fill(record, record + PLAINRECORD_LENGTH, ' ');
  INT listed = TRUE_;
  for (char generation : {'1', '0'}) {
    INT error = naming_error;
    INT filenum = -1;
    if (error == 0) {
      name[length - 1] = generation;
      error = FILE_OPEN_(name, length, &filenum, 1);
    }
    if (error == 0 && !PLAINFILEOK(name, length)) {
      FILE_CLOSE_(filenum);
      error = err::DATA_ERROR;
    }
    if (error != 0) {
      write_open_error(name, length, error);
      return;
    }
    // Stored names have at most 26 bytes: a longer search name begins none of them.
    if (RUNSTATE.LISTTERMNAMELEN <= RECTERMNAME_LEN) {
      NLX_BLANK_AND_MOVE_(record, RECTERMNAME_LEN, RUNSTATE.LISTTERMNAME, RUNSTATE.LISTTERMNAMELEN);
      KEYPOSITIONX(filenum, record, 0, RUNSTATE.LISTTERMNAMELEN, RUNSTATE.LISTTERMNAMELEN,
                   POSITION_GENERIC);
      while (READX(filenum, record, PLAINRECORD_LENGTH) == 0) {
        if (listed) {
          write_text(HEADING1);
          write_text(HEADING2);
          listed = FALSE_;
        }
        write_record_line(record);
      }
    }
    FILE_CLOSE_(filenum);
  }
  if (listed) write_text("Terminal unknown");
}

}  // namespace nsk
