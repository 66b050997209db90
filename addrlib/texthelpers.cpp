// Name and text helpers: the own node's prefix taken off a name, blank-filled moves,
// trailing-blank lengths, and a name looked up in a list of patterns.
#include "addrlib/texthelpers.h"

#include <cstring>

#include "addrlib/textmatch.h"
#include "platform/names.h"

namespace nsk {

namespace {

constexpr int NODENAME_MAX = 8;     // backslash and up to 7 letters and digits
constexpr int INTERNAL_NAME_LEN = 24;
constexpr int SHORT_NAME_MAX = 27;  // a program file name without its node part
constexpr int NAME_MAX = 36;

bool is_letter(char c) {
  const char upper = static_cast<char>(c & ~0x20);
  return upper >= 'A' && upper <= 'Z';
}

INT copy_unchanged(const char* name, INT length, char* out, INT out_max, INT* out_length) {
  if (out_max < length) return err::BUFFER_TOO_SMALL;
  std::memcpy(out, name, static_cast<size_t>(length));
  *out_length = length;
  return err::OK;
}

// An external name that begins with a node part: local when that node is the own one.
INT strip_external(const char* name, INT length, char* out, INT out_max, INT* out_length) {
  char own[NODENAME_MAX];
  INT own_length = 0;
  const INT error = NODENUMBER_TO_NODENAME_({}, own, NODENAME_MAX, &own_length);
  if (error != err::OK) return error;

  char node[NODENAME_MAX];
  INT node_length = 0;
  if (FILENAME_DECOMPOSE_(name, length, node, NODENAME_MAX, &node_length, -1) != err::OK ||
      STRING_UPSHIFT_(node, node_length, node, NODENAME_MAX) != err::OK) {
    return copy_unchanged(name, length, out, out_max, out_length);
  }
  const bool local = node_length == own_length &&
                     std::memcmp(node, own, static_cast<size_t>(own_length)) == 0 &&
                     node_length < length;
  if (!local) return copy_unchanged(name, length, out, out_max, out_length);
  return copy_unchanged(name + node_length + 1, static_cast<INT>(length - node_length - 1), out,
                        out_max, out_length);
}

bool scan_accepts(const char* name, INT length) {
  INT accepted = 0;
  return FILENAME_SCAN_(name, length, &accepted, nullptr, nullptr, 3) == err::OK &&
         accepted == length;
}

// The file-name scan knows external names only; a 24-byte internal network form counts as a
// name when it converts to an external one.
bool is_internal_name(const char* name) {
  char external[NAME_MAX];
  INT external_length = 0;
  return OLDFILENAME_TO_FILENAME_(name, external, NAME_MAX, &external_length) == err::OK;
}

// The 24-byte internal network form: backslash, node number, six name bytes, two qualifiers.
INT strip_internal(const char* name, char* out, INT out_max, INT* out_length) {
  if (out_max < INTERNAL_NAME_LEN) return err::BUFFER_TOO_SMALL;
  *out_length = INTERNAL_NAME_LEN;
  INT32 own_number = 0;
  const INT error = NODENAME_TO_NODENUMBER_(nullptr, 0, &own_number);
  if (error != err::OK) return error;
  if (static_cast<unsigned char>(name[1]) != own_number) {
    std::memcpy(out, name, INTERNAL_NAME_LEN);
    return err::OK;
  }
  out[0] = '$';
  std::memcpy(out + 1, name + 2, 6);
  out[7] = ' ';
  std::memcpy(out + 8, name + 8, 16);
  return err::OK;
}

}  // namespace

INT STRIPMYNODENAME_(const char* name, INT length, char* out, INT out_max, INT* out_length) {
  if (out == nullptr || out_length == nullptr) return err::MISSING_PARAM;
  if (name == nullptr || length <= 0) return err::BAD_NAME;
  const bool internal = length == INTERNAL_NAME_LEN && name[0] == '\\' && !is_letter(name[1]);
  if (internal ? !is_internal_name(name) : !scan_accepts(name, length)) return err::BAD_NAME;
  if (internal) return strip_internal(name, out, out_max, out_length);
  if (name[0] != '\\') return copy_unchanged(name, length, out, out_max, out_length);
  return strip_external(name, length, out, out_max, out_length);
}

INT NLX_BLANK_AND_MOVE_(char* target, INT width, const char* source, INT source_length) {
  if (target == nullptr) return err::MISSING_PARAM;
  if (width < 0) return err::BAD_PARAM;
  if (source == nullptr) {
    std::memset(target, ' ', static_cast<size_t>(width));
    return err::OK;
  }
  if (source_length < 0 || source_length > width) return err::BAD_PARAM;
  std::memcpy(target, source, static_cast<size_t>(source_length));
  std::memset(target + source_length, ' ', static_cast<size_t>(width - source_length));
  return err::OK;
}

INT REALLEN(const char* field, INT length) {
  if (field == nullptr) return 0;
  INT last = length;
  while (last > 0 && field[last - 1] == ' ') --last;
  return last > 0 ? last : 0;
}

// Entries are read only while they lie inside the list's capacity: an entry whose length byte
// runs past it ends the walk, as does the capacity reached without a terminating zero.
INT NLX_IN_STRINGBUFFER_(const char* pattern_list, const char* name, INT length, INT flag,
                         INT list_capacity) {
  if (pattern_list == nullptr || name == nullptr) return FALSE_;
  char short_name[SHORT_NAME_MAX];
  INT short_length = 0;
  const bool has_short =
      flag == 0 &&
      FILENAME_DECOMPOSE_(name, length, short_name, SHORT_NAME_MAX, &short_length, 0, 1) ==
          err::OK &&
      short_length > 0;

  int at = 0;
  while (at < list_capacity) {
    const int entry_length = static_cast<unsigned char>(pattern_list[at]);
    if (entry_length == 0 || at + 1 + entry_length > list_capacity) break;
    const char* pattern = pattern_list + at + 1;
    const bool whole = !has_short || pattern[0] == '\\';
    const INT result = whole ? STRINGMATCH(name, length, pattern, static_cast<INT>(entry_length))
                             : STRINGMATCH(short_name, short_length, pattern,
                                           static_cast<INT>(entry_length));
    if (result == 2) return TRUE_;
    at += 1 + entry_length;
  }
  return FALSE_;
}

}  // namespace nsk
