// The escape-sequence query to the terminal emulator on the workstation, and the syntax check
// of the address it gives.
#include "addrlib/emulator.h"

#include <algorithm>
#include <cstring>

#include "addrlib/textmatch.h"
#include "platform/filesystem.h"
#include "platform/timenum.h"

namespace nsk {

namespace {

constexpr INT32 DEFAULT_WAIT = 50;  // hundredths of a second
constexpr INT READ_MAX = 500;
constexpr int FIELD_COUNT = 6;
constexpr int MAX_EMPTY_DRAIN_READS = 4;
constexpr int MAX_EMPTY_REPLY_READS = 3;
constexpr char QUERY[4] = {0x1B, 0x2D, 0x39, 0x65};  // ESC - 9 e
constexpr char SOH = 0x01;
constexpr char REPLY_MARK = 0x26;
constexpr char FIELD_SEPARATOR = 0x12;  // DC2
constexpr char FIELD_END = 0x0D;        // CR

// Completes the operation outstanding on filenum: the count read and the file's last error.
INT complete(INT filenum, INT32 wait, INT* count) {
  INT fnum = filenum;
  *count = 0;
  AWAITIOX(&fnum, count, nullptr, wait);
  INT error = 0;
  FILE_GETINFO_(filenum, &error);
  *count = std::clamp<INT>(*count, 0, READ_MAX);
  return error;
}

class EmulatorTalk {
 public:
  EmulatorTalk(INT filenum, INT32 wait, const ReplyField* fields, std::optional<INT> drain,
               INT64* response_time)
      : filenum_(filenum), wait_(wait), fields_(fields), drain_(drain),
        response_time_(response_time) {}

  INT TALKTOEMULATOR() {
    if (drain_ && *drain_ != 0) drain_pending_input();
    int empty_reads = 0;
    std::memcpy(buffer_, QUERY, sizeof QUERY);
    INT error = WRITEREADX(filenum_, buffer_, sizeof QUERY, READ_MAX);
    for (;;) {
      if (response_time_ != nullptr) *response_time_ = JULIANTIMESTAMP(0);
      INT count = 0;
      if (error == 0) error = complete(filenum_, wait_, &count);
      if (error == 0 && count >= 4 && buffer_[0] == SOH && buffer_[1] == REPLY_MARK) {
        store_elapsed();
        EXTRACTDATA(count);
        return 0;
      }
      if (error != 0 || count != 0) {
        store_elapsed();
        return error;
      }
      if (response_time_ != nullptr) *response_time_ = -1;
      if (++empty_reads == MAX_EMPTY_REPLY_READS) return 1;
      error = READX(filenum_, buffer_, READ_MAX);
    }
  }

 private:
  // Input waiting at the terminal is read and thrown away; the drain ends at the first error
  // (normally the wait running out) or after four empty reads.
  void drain_pending_input() {
    int empty_reads = 0;
    INT error = 0;
    while (error == 0 && empty_reads < MAX_EMPTY_DRAIN_READS) {
      INT count = 0;
      error = READX(filenum_, buffer_, READ_MAX);
      if (error == 0) error = complete(filenum_, wait_, &count);
      if (count == 0) ++empty_reads;
    }
  }

  void store_elapsed() {
    if (response_time_ != nullptr) *response_time_ = JULIANTIMESTAMP(0) - *response_time_;
  }

  // The reply is n bytes (4 to 500); the buffer has room for the zero byte after them.
  void EXTRACTDATA(INT n) {
    buffer_[n] = 0;
    for (int at = 2; at < n; ++at) {
      if (buffer_[at] == FIELD_SEPARATOR) buffer_[at] = ' ';
      else if (buffer_[at] == FIELD_END) buffer_[at] = 0;
    }
    int begin = 2;
    for (int k = 0; k < FIELD_COUNT; ++k) {
      int end = begin;
      if (begin <= n) end = static_cast<int>(EXTSCANUNTIL(buffer_ + begin, ' ') - buffer_);
      const ReplyField& field = fields_[k];
      if (field.buffer != nullptr) {
        const INT length = static_cast<INT>(std::min(end - begin, std::max<int>(field.capacity, 0)));
        // A field that begins past the reply is empty; its start lies outside the buffer and is
        // never formed as a pointer.
        if (length > 0) std::memcpy(field.buffer, buffer_ + begin, static_cast<size_t>(length));
        *field.length = length;
      }
      begin = end + 1;
    }
  }

  INT filenum_;
  INT32 wait_;
  const ReplyField* fields_;
  std::optional<INT> drain_;
  INT64* response_time_;
  char buffer_[READ_MAX + 1] = {};
};

}  // namespace

INT GETMACHINEUSER(const char* termname, INT termname_length, char* field1, INT field1_max,
                   INT* field1_length, char* field2, INT field2_max, INT* field2_length,
                   char* field3, INT field3_max, INT* field3_length, char* field4,
                   INT field4_max, INT* field4_length, char* field5, INT field5_max,
                   INT* field5_length, char* field6, INT field6_max, INT* field6_length,
                   std::optional<INT32> wait_time, std::optional<INT> drain,
                   INT64* response_time) {
  const ReplyField fields[FIELD_COUNT] = {{field1, field1_max, field1_length},
                                          {field2, field2_max, field2_length},
                                          {field3, field3_max, field3_length},
                                          {field4, field4_max, field4_length},
                                          {field5, field5_max, field5_length},
                                          {field6, field6_max, field6_length}};
  if (termname == nullptr) return err::MISSING_PARAM;
  for (const ReplyField& field : fields) {
    if (field.buffer != nullptr && field.length == nullptr) return err::BAD_PARAM;
  }
  const INT32 wait = wait_time && *wait_time > 0 ? *wait_time : DEFAULT_WAIT;

  INT filenum = -1;
  const INT error = FILE_OPEN_(termname, termname_length, &filenum, {}, {}, 1);
  if (error != err::OK) return error;
  EmulatorTalk talk(filenum, wait, fields, drain, response_time);
  const INT result = talk.TALKTOEMULATOR();
  FILE_CLOSE_(filenum);
  return result;
}

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A segment of a dotted address: 1 to 3 digits or wildcards, and not three digits-or-"?"
// beginning with 3 to 9.
bool CHARACTERSOK(const char* segment, int length) {
  if (length < 1 || length > 3) return false;
  int digits = 0;
  for (int at = 0; at < length; ++at) {
    const char c = segment[at];
    if (!is_digit(c) && c != '?' && c != '*') return false;
    if (c != '*') ++digits;
  }
  return !(digits == 3 && segment[0] >= '3' && segment[0] <= '9');
}

}  // namespace

INT IPADDRESSSYNTAXOK(const char* text, INT length) {
  constexpr INT MIN_LENGTH = 7;
  constexpr INT MAX_LENGTH = 15;
  if (text == nullptr || length < MIN_LENGTH || length > MAX_LENGTH) return FALSE_;
  char work[MAX_LENGTH + 2] = {};
  std::memcpy(work, text, static_cast<size_t>(length));

  const char* segment = work;
  for (int k = 0; k < 3; ++k) {
    INT at_zero = 0;
    const char* dot = EXTSCANUNTIL(segment, '.', &at_zero);
    if (at_zero != 0 || !CHARACTERSOK(segment, static_cast<int>(dot - segment))) return FALSE_;
    segment = dot + 1;
  }
  // The last segment runs to the end of the text; a zero byte inside the text ends it early
  // and so fails the check.
  const int last_length = static_cast<int>(std::strlen(segment));
  if (segment + last_length != work + length) return FALSE_;
  return CHARACTERSOK(segment, last_length) ? TRUE_ : FALSE_;
}

}  // namespace nsk
