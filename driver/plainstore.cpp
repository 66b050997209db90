// The PLAIN store: one address record into the current file of the rotating pair TERMIPA0 /
// TERMIPA1 in the program file's subvolume, under a whole-file lock held until the process stops.
#include <algorithm>
#include <cstring>

#include "driver/addressdb.h"
#include "driver/runstate.h"
#include "platform/filesystem.h"
#include "platform/names.h"
#include "platform/processes.h"
#include "platform/timenum.h"

namespace nsk {
namespace {

// Record layout: offsets and lengths of the fields of PLAINRECORD.
constexpr int RECTERMNAME = 0, RECTERMNAME_LEN = 26;
constexpr int RECADDRESS = 26, RECADDRESS_LEN = 16;
constexpr int RECHOSTNAME = 42, RECHOSTNAME_LEN = 50;
constexpr int RECCREATED = 92, RECCREATED_LEN = 18;
constexpr int RECTIMESTAMP = 110;
constexpr int RECPROCESSINFO = 118, RECPROCESSINFO_LEN = 32;

constexpr INT SECURITY_OWNER_ONLY = 02222;
constexpr INT RETRY_DELAY = 10;       // hundredths: after finding the open file rotated away
constexpr INT NOT_FOUND_DELAY = 500;  // hundredths: once, before creating the pair

constexpr const char* MONTHS[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

char PLAINRECORD[PLAINRECORD_LENGTH];

void blank_and_copy(char* field, int width, const char* text, INT length) {
  std::fill(field, field + width, ' ');
  std::copy(text, text + std::clamp<int>(length, 0, width), field);
}

// Creation time text "09Dec2008 07:35:02" in local civil time, and the GMT timestamp.
void put_time() {
  const INT64 now = JULIANTIMESTAMP(0);
  INT fields[8] = {};
  INTERPRETTIMESTAMP(CONVERTTIMESTAMP(now), fields);
  char* created = PLAINRECORD + RECCREATED;
  std::memcpy(created, "ddmmmyyyy hh:mm:ss", RECCREATED_LEN);
  DNUMOUT(created + 0, 2, fields[2], 10, 2);
  std::memcpy(created + 2, MONTHS[std::clamp<int>(fields[1], 1, 12) - 1], 3);
  DNUMOUT(created + 5, 4, fields[0], 10, 4);
  DNUMOUT(created + 10, 2, fields[3], 10, 2);
  DNUMOUT(created + 13, 2, fields[4], 10, 2);
  DNUMOUT(created + 16, 2, fields[5], 10, 2);
  for (int i = 0; i < 8; ++i) {
    PLAINRECORD[RECTIMESTAMP + i] = static_cast<char>(static_cast<unsigned char>(
        static_cast<std::uint64_t>(now) >> (8 * (7 - i))));
  }
}

// Attribute 82 of this process; blanks where the platform gives fewer bytes.
void put_process_info() {
  std::fill(PLAINRECORD + RECPROCESSINFO, PLAINRECORD + PLAINRECORD_LENGTH, ' ');
  const INT attribute = ATTR_PROCESS_INFO_82;
  INT values[RECPROCESSINFO_LEN / 2];
  INT words = 0;
  if (PROCESS_GETINFOLIST_({}, {}, nullptr, 0, nullptr, &attribute, 1, values,
                           RECPROCESSINFO_LEN / 2, &words) != 0)
    return;
  std::memcpy(PLAINRECORD + RECPROCESSINFO, values,
              static_cast<size_t>(std::clamp<int>(words, 0, RECPROCESSINFO_LEN / 2)) * 2);
}

// 0 when the name of the open file still ends in "0", else -1.  The name goes to LINEBUFFER.
INT OUTFILEHASCHANGED(INT filenum) {
  INT length = 0;
  if (FILE_GETINFO_(filenum, nullptr, LINEBUFFER, TERMNAME_MAX, &length) != 0 || length <= 0)
    return FALSE_;
  return LINEBUFFER[length - 1] == '0' ? FALSE_ : TRUE_;
}

// A file of the pair that is not a key-sequenced file of code 20044 with 150-byte records
// (another program's file under the same name) is never written: the store stops as for an
// open error 59.
void check_plain_file(INT filenum, const char* name, INT length) {
  if (PLAINFILEOK(name, length)) return;
  FILE_CLOSE_(filenum);
  STOPWITHFILEERROR("Can't open ", name, length, err::DATA_ERROR);
}

// Creates one file of the pair and restricts it to its owner.
void create_one(const char* filename, INT length) {
  char work[TERMNAME_MAX];
  std::copy(filename, filename + length, work);
  INT work_length = length;
  const INT error = FILE_CREATE_(work, TERMNAME_MAX, &work_length, PLAINFILE_CODE, 50, 50, 450, 3,
                                 0, PLAINRECORD_LENGTH, 4096, PLAINKEY_LENGTH, 0);
  if (error != 0) STOPWITHFILEERROR("Can't create ", filename, length, error);
  INT filenum = -1;
  FILE_OPEN_(filename, length, &filenum);
  SETMODE(filenum, 1, SECURITY_OWNER_ONLY);
  FILE_CLOSE_(filenum);
}

}  // namespace

INT PLAINFILEOK(const char* name, INT length) {
  INT typeinfo[TYPEINFO_WORDS] = {};
  INT record_length = 0;
  if (FILE_GETINFOBYNAME_(name, length, typeinfo, &record_length) != 0) return FALSE_;
  return typeinfo[2] == 3 && typeinfo[4] == PLAINFILE_CODE && record_length == PLAINRECORD_LENGTH
             ? TRUE_
             : FALSE_;
}

void STOPWITHFILEERROR(const char* what, const char* name, INT length, INT error) {
  LINESTART();
  LINEMOVE(what, static_cast<INT>(std::strlen(what)));
  LINEMOVE(name, length);
  LINEMOVE("; I/O error: ");
  LINENUMBER(error);
  PROCESS_STOP_(nullptr, {}, {}, 2, LINEBUFFER, LINELENGTH());
  STOP();  // PROCESS_STOP_ of this process does not come back
}

INT PLAINFILENAME(char* name, INT* length) {
  char program[TERMNAME_MAX];
  INT program_length = 0;
  *length = 0;
  INT error = PROCESS_GETINFO_(nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0,
                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, program,
                               TERMNAME_MAX, &program_length);
  if (error == 0) error = FILENAME_DECOMPOSE_(program, program_length, name, TERMNAME_MAX - 9, length, 1, 2);
  if (error != 0) return error;
  std::memcpy(name + *length, ".TERMIPA0", 9);
  *length = static_cast<INT>(*length + 9);
  return 0;
}

INT CREATEPLAINFILE(char* filename, INT length) {
  create_one(filename, length);
  filename[length - 1] = '1';
  create_one(filename, length);
  filename[length - 1] = '0';
  return 0;
}

INT OPENPLAINFILE(INT* filenum) {
  char name[TERMNAME_MAX];
  INT length = 0;
  if (const INT error = PLAINFILENAME(name, &length)) STOPWITHFILEERROR("Can't open ", name, length, error);
  INT notfound = FALSE_;
  for (;;) {
    const INT error = FILE_OPEN_(name, length, filenum);
    if (error == 0) {
      LOCKFILE(*filenum);
      if (!OUTFILEHASCHANGED(*filenum)) {
        check_plain_file(*filenum, name, length);
        return 0;
      }
      FILE_CLOSE_(*filenum);
      DELAY(RETRY_DELAY);
    } else if (error == err::NO_SUCH_FILE && !notfound) {
      DELAY(NOT_FOUND_DELAY);
      notfound = TRUE_;
    } else if (error == err::NO_SUCH_FILE) {
      CREATEPLAINFILE(name, length);
    } else {
      STOPWITHFILEERROR("Can't open ", name, length, error);
    }
  }
}

INT RENAMEPLAINFILE(INT* filenum) {
  char name[TERMNAME_MAX];
  INT length = 0;
  FILE_GETINFO_(*filenum, nullptr, name, TERMNAME_MAX, &length);
  if (length <= 0) return err::BAD_NAME;
  name[length - 1] = '1';
  INT previous = -1;
  if (const INT error = FILE_OPEN_(name, length, &previous))
    STOPWITHFILEERROR("Can't open ", name, length, error);
  LOCKFILE(previous);
  check_plain_file(previous, name, length);
  CONTROL(previous, CONTROL_PURGE_DATA);
  name[length - 1] = '3';
  FILE_RENAME_(*filenum, name, length);
  name[length - 1] = '0';
  FILE_RENAME_(previous, name, length);
  name[length - 1] = '1';
  FILE_RENAME_(*filenum, name, length);
  FILE_CLOSE_(*filenum);
  *filenum = previous;
  return 0;
}

void PLAINSTORE(const char* address, INT address_length) {
  put_time();
  blank_and_copy(PLAINRECORD + RECTERMNAME, RECTERMNAME_LEN, RUNSTATE.TERMNAME, RUNSTATE.TERMNAMELEN);
  blank_and_copy(PLAINRECORD + RECADDRESS, RECADDRESS_LEN, address, address_length);
  blank_and_copy(PLAINRECORD + RECHOSTNAME, RECHOSTNAME_LEN, RUNSTATE.HOSTNAME, RUNSTATE.HOSTNAMELEN);
  put_process_info();

  OPENPLAINFILE(&RUNSTATE.OUTFNUM);
  INT& filenum = RUNSTATE.OUTFNUM;
  KEYPOSITIONX(filenum, PLAINRECORD, 0, PLAINKEY_LENGTH, PLAINKEY_LENGTH, POSITION_EXACT);
  READX(filenum, PLAINRECORD, 42);
  INT lasterror = 0;
  FILE_GETINFO_(filenum, &lasterror);
  if (lasterror == 0) {
    WRITEUPDATEX(filenum, PLAINRECORD, PLAINRECORD_LENGTH);
  } else if (lasterror == err::END_OF_FILE) {
    if (WRITEX(filenum, PLAINRECORD, PLAINRECORD_LENGTH) != 0) {
      RENAMEPLAINFILE(&filenum);
      if (const INT error = WRITEX(filenum, PLAINRECORD, PLAINRECORD_LENGTH)) {
        LINESTART();
        LINEMOVE("Can't write to OUT file; I/O error: ");
        LINENUMBER(error);
        PROCESS_STOP_(nullptr, {}, {}, 2, LINEBUFFER, LINELENGTH());
        STOP();
      }
    }
  }
}

}  // namespace nsk
