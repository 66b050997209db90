// Device classification of a terminal and the address of its far end: the Telnet server's
// window record through SPI, the SETPARAM answers of a GEMINI window, or the DTE number of an
// X.25 window.
#include "addrlib/winaddr.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "addrlib/spirequest.h"
#include "addrlib/textmatch.h"
#include "platform/filesystem.h"
#include "platform/names.h"
#include "platform/processes.h"

namespace nsk {

// The map: its token code 0x08FF000C and the length 454 of the record it describes come first.
const INT WINDOW_TOKEN_MAP[14] = {
    INT(0x08FF), INT(0x000C), INT(0x01C6), INT(0x4315), INT(0x4600), INT(0x0001), INT(0x4418),
    INT(0xA000), INT(0x0001), INT(0x441E), INT(0x2A00), INT(0x0001), INT(0x4706), INT(0xB600)};

namespace {

constexpr int NAME_MAX = 36;
constexpr int WORK_MAX = 36;
constexpr INT32 REQUEST_LIMIT = 3000;  // 30 seconds
constexpr INT NOWAIT_TAG = -2;
constexpr INT TELNET_WINDOW = 46;
constexpr INT X25_WINDOW = 61;

constexpr INT SETPARAM_DTE = 1;
constexpr INT SETPARAM_GEMINI_ID = 200;
constexpr INT SETPARAM_GEMINI_ADDRESS = 201;
constexpr INT SETPARAM_GEMINI_PORT = 205;
constexpr INT SETPARAM_GEMINI_ADDRESS2 = 206;
constexpr INT SETPARAM_GEMINI_PORT2 = 207;

constexpr char TELSERV_PROGRAM[] = "*$SYSTEM.SYS??.TELSERV";
constexpr char GEMINI_ID[] = "GEMINI STN*";

// class * 4096 + (error mod 4096), as a signed 16-bit value; the low 12 bits of a negative
// error (an SPI error) are kept as they are.
INT class_code(int error_class, INT error) {
  return static_cast<INT>(static_cast<std::uint16_t>((error_class << 12) | (error & 0x0FFF)));
}

bool matches(const char* text, INT length, const char* pattern) {
  return STRINGMATCH(text, length, pattern, static_cast<INT>(std::strlen(pattern))) == 2;
}

// Decimal text without leading zeros; returns its length (at most 5 for 16 bits, 3 for a byte).
int decimal(unsigned value, char* out) {
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int k = 0; k < count; ++k) out[k] = digits[count - 1 - k];
  return count;
}

// The four bytes as dotted decimal, at most 15 bytes.
int dotted(const char* bytes, char* out) {
  int length = 0;
  for (int k = 0; k < 4; ++k) {
    if (k > 0) out[length++] = '.';
    length += decimal(static_cast<unsigned char>(bytes[k]), out + length);
  }
  return length;
}

// Parameters and working storage of one GETWINADDR call, shared with its subprocedures.
class WindowAddressQuery {
 public:
  const char* termname = nullptr;
  INT termname_length = 0;
  char* address = nullptr;
  const INT* address_max = nullptr;
  INT* address_length = nullptr;
  INT* devicetype = nullptr;
  const INT* close_flag = nullptr;
  char* port = nullptr;
  const INT* port_max = nullptr;
  INT* port_length = nullptr;
  char* address2 = nullptr;
  const INT* address2_max = nullptr;
  INT* address2_length = nullptr;
  char* port2 = nullptr;
  const INT* port2_max = nullptr;
  INT* port2_length = nullptr;

  INT run() {
    const INT type = DEVTYPE(termname, termname_length);
    if (devicetype != nullptr) *devicetype = type;
    if (type == X25_WINDOW && address != nullptr) return x25_path();
    if (type == TELNET_WINDOW && address != nullptr) return telnet_path();
    if (address_length != nullptr) *address_length = 0;
    return err::OK;
  }

 private:
  INT x25_path() {
    OPENNUM(termname, termname_length, &x25_filenum_, &nowait_);
    if (x25_filenum_ == -1) {
      const INT error = FILE_OPEN_(termname, termname_length, &x25_filenum_);
      if (error != err::OK) return class_code(1, error);
      nowait_ = 0;
      opened_here_ = -1;
    }
    // The DTE number as the window delivers it; a failed request delivers nothing.
    INT count = 0;
    INT error = SETPARAM(x25_filenum_, SETPARAM_DTE, nullptr, 0, work_, WORK_MAX, &count,
                         nowait_ != 0 ? std::optional<INT32>(NOWAIT_TAG) : std::nullopt);
    if (error == err::OK && nowait_ != 0) {
      INT fnum = x25_filenum_;
      error = AWAITIOX(&fnum, &count, nullptr, REQUEST_LIMIT);
    }
    if (error != err::OK) count = 0;
    deliver_text(work_, std::clamp<INT>(count, 0, WORK_MAX), address, address_max,
                 address_length);
    return MYERROR(x25_filenum_, 0, 0);
  }

  INT telnet_path() {
    if (GEMINI() == -1) return err::OK;
    SpiStep failed_step = SpiStep::OpenSpiFile;
    const INT error = spi_.send(termname, termname_length, &failed_step);
    opened_here_ = spi_.opened_here;
    if (error != err::OK) {
      if (failed_step == SpiStep::OpenSpiFile) return class_code(2, error);
      return MYERROR(spi_.spi_filenum, error, static_cast<int>(failed_step) + 2);
    }
    take_field(WINDOW_ADDRESS_OFFSET, address, address_max, address_length, port, port_max,
               port_length);
    if (address2 != nullptr) {
      take_field(WINDOW_ADDRESS2_OFFSET, address2, address2_max, address2_length, port2,
                 port2_max, port2_length);
    }
    return MYERROR(spi_.spi_filenum, 0, 0);
  }

  // A text field of the window record: the text after any leading NUL bytes up to the first
  // blank or NUL, then, after the one separator byte, the port's decimal digits.
  void take_field(int offset, char* text, const INT* text_max, INT* text_length, char* digits,
                  const INT* digits_max, INT* digits_length) {
    WindowField field(spi_.value_area, offset);
    LEFTJUSTIFY(field.bytes, WINDOW_FIELD_LENGTH);
    const INT length = field.text_length();
    deliver_text(field.bytes, length, text, text_max, text_length);
    if (digits == nullptr) return;
    const char* first = field.bytes + length + 1;
    const INT limit = digits_max == nullptr ? INT(0) : std::max<INT>(*digits_max, 0);
    INT count = 0;
    while (count < limit && first[count] >= '0' && first[count] <= '9') ++count;
    std::memcpy(digits, first, static_cast<size_t>(count));
    *digits_length = count;
  }

  static void LEFTJUSTIFY(char* field, int length) {
    if (field[0] != 0) return;
    int first = 0;
    while (first < length && field[first] == 0) ++first;
    if (first == length) return;
    std::memmove(field, field + first, static_cast<size_t>(length - first));
    std::memset(field + length - first, 0, static_cast<size_t>(first));
  }

  INT MYERROR(INT filenum, INT error, int error_class) {
    if (close_flag != nullptr && *close_flag != 0 && opened_here_ != 0) FILE_CLOSE_(filenum);
    return class_code(error_class, error);
  }

  // -1 when the window belongs to a GEMINI server and the requested outputs came from it.
  INT GEMINI() {
    if (owner_runs_telserv()) return 0;
    INT window = -1;
    if (FILE_OPEN_(termname, termname_length, &window) != err::OK) return 0;
    const INT id_length = ask(window, SETPARAM_GEMINI_ID);
    if (id_length < 0 || !matches(work_, id_length, GEMINI_ID)) {
      FILE_CLOSE_(window);
      return 0;
    }
    deliver_address(window, SETPARAM_GEMINI_ADDRESS, address, address_max, address_length);
    if (port != nullptr) {
      deliver_port(window, SETPARAM_GEMINI_PORT, port, port_max, port_length);
    }
    if (address2 != nullptr) {
      deliver_address(window, SETPARAM_GEMINI_ADDRESS2, address2, address2_max, address2_length);
    }
    if (port2 != nullptr) {
      deliver_port(window, SETPARAM_GEMINI_PORT2, port2, port2_max, port2_length);
    }
    FILE_CLOSE_(window);
    return -1;
  }

  // Whether the process that owns the window runs the system's Telnet server.  When the owner
  // or its program file cannot be found, the window is asked whether it is a GEMINI window.
  bool owner_runs_telserv() {
    char destination[NAME_MAX - 1];
    INT destination_length = 0;
    if (FILENAME_DECOMPOSE_(termname, termname_length, destination, sizeof destination,
                            &destination_length, 0) != err::OK) {
      return false;
    }
    PHANDLE owner;
    PROCESSHANDLE_NULLIT_(&owner);
    PROCESS_GETPAIRINFO_(nullptr, destination, destination_length, &owner);
    PHANDLE null_handle;
    PROCESSHANDLE_NULLIT_(&null_handle);
    if (std::memcmp(&owner, &null_handle, sizeof owner) == 0) return false;
    char program[NAME_MAX - 1];
    INT program_length = 0;
    if (PROCESS_GETINFO_(&owner, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, program, sizeof program,
                         &program_length) != err::OK) {
      return false;
    }
    return matches(program, program_length, TELSERV_PROGRAM);
  }

  // SETPARAM function on the window into the work buffer: the answer's length, -1 on an error.
  INT ask(INT window, INT function) {
    INT count = 0;
    if (SETPARAM(window, function, nullptr, 0, work_, WORK_MAX, &count) != err::OK) return -1;
    return std::clamp<INT>(count, 0, WORK_MAX);
  }

  // An address answer is four bytes; a shorter one delivers an empty address rather than
  // bytes that were never sent.
  void deliver_address(INT window, INT function, char* out, const INT* out_max,
                       INT* out_length) {
    char text[15];
    const INT answer = ask(window, function);
    const int length = answer >= 4 ? dotted(work_, text) : 0;
    deliver_text(text, static_cast<INT>(length), out, out_max, out_length);
  }

  // A port answer is a big-endian 16-bit word; a shorter one delivers an empty port.
  void deliver_port(INT window, INT function, char* out, const INT* out_max, INT* out_length) {
    char text[5];
    const INT answer = ask(window, function);
    const unsigned value = (static_cast<unsigned char>(work_[0]) << 8) |
                           static_cast<unsigned char>(work_[1]);
    const int length = answer >= 2 ? decimal(value, text) : 0;
    deliver_text(text, static_cast<INT>(length), out, out_max, out_length);
  }

  INT x25_filenum_ = -1;
  INT nowait_ = 0;
  INT opened_here_ = 0;
  char work_[WORK_MAX] = {};
  SpiWindowRequest spi_;
};

}  // namespace

INT GETWINADDR(const char* termname, const INT* termname_length, char* address,
               const INT* address_max, INT* address_length, INT* devicetype,
               const INT* close_flag, char* port, const INT* port_max, INT* port_length,
               char* address2, const INT* address2_max, INT* address2_length, char* port2,
               const INT* port2_max, INT* port2_length) {
  if (termname == nullptr || termname_length == nullptr) return err::BAD_PARAM;
  if (address != nullptr && address_length == nullptr) return err::BAD_PARAM;
  if (port != nullptr && port_length == nullptr) return err::BAD_PARAM;
  if (address2 != nullptr && address2_length == nullptr) return err::BAD_PARAM;
  if (port2 != nullptr && port2_length == nullptr) return err::BAD_PARAM;

  WindowAddressQuery query;
  query.termname = termname;
  query.termname_length = *termname_length;
  query.address = address;
  query.address_max = address_max;
  query.address_length = address_length;
  query.devicetype = devicetype;
  query.close_flag = close_flag;
  query.port = port;
  query.port_max = port_max;
  query.port_length = port_length;
  query.address2 = address2;
  query.address2_max = address2_max;
  query.address2_length = address2_length;
  query.port2 = port2;
  query.port2_max = port2_max;
  query.port2_length = port2_length;
  return query.run();
}

INT DEVTYPE(const char* name, INT length) {
  if (name == nullptr) return -1;
  char piece[NAME_MAX];
  INT piece_length = 0;
  if (FILENAME_DECOMPOSE_(name, length, piece, NAME_MAX, &piece_length, 0, 2) != err::OK) {
    return -1;
  }
  INT typeinfo[TYPEINFO_WORDS] = {};
  if (FILE_GETINFOBYNAME_(piece, piece_length, typeinfo) != err::OK) return -1;
  return typeinfo[0];
}

INT OPENNUM(const char* name, INT length, INT* filenum, INT* nowait) {
  constexpr int RESULT_WORDS = 22;  // 44 bytes
  INT result[RESULT_WORDS] = {};
  const INT process_items[] = {ITEM_OPEN_LIST_19, ITEM_NEXT_OPEN};
  INT error = FILE_GETINFOLIST_(-1, process_items, 2, result, sizeof result);
  if (error != err::OK) return error;
  INT file = result[1];

  const INT file_items[] = {ITEM_OPEN_LIST_19, ITEM_NEXT_OPEN, ITEM_NOWAIT_DEPTH,
                            ITEM_FILENAME_LEN, ITEM_FILENAME};
  while (file != -1) {
    error = FILE_GETINFOLIST_(file, file_items, 5, result, sizeof result);
    if (error != err::OK) return error;
    const INT next = result[1];
    const INT name_length = std::clamp<INT>(result[3], 0, NAME_MAX);
    if (FILENAME_COMPARE_(name, length, reinterpret_cast<const char*>(&result[4]),
                          name_length) == 0) {
      *filenum = file;
      if (nowait != nullptr) *nowait = result[2];
      return err::OK;
    }
    file = next;
  }
  *filenum = -1;
  return err::OK;
}

}  // namespace nsk
