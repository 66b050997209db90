// The start-up line and the PARAMs: the words typed after the program's name and the PARAMs
// NETLOC^MODE and NETLOC^CHECKLOGONSTATE set the run state.  The start-up line is read first,
// so a setting made there wins over the PARAM.
#include "driver/startupline.h"

#include <algorithm>
#include <string_view>

#include "addrlib/textmatch.h"
#include "driver/runstate.h"
#include "platform/names.h"
#include "platform/startup.h"
#include "platform/timenum.h"

namespace nsk {

namespace {

TOKENLIST_T TOKENLIST;

// Where an empty slot points: a word of length 0 that ends at once, as the scans need.
char NOWORD[2] = {'\0', '\0'};

constexpr INT STARTUP_IN_OFFSET = 18;
constexpr INT SOURCE_STARTUP = 1;
constexpr INT SOURCE_PARAM = 2;

bool equals(const char* word, INT length, std::string_view text) {
  return length >= 0 && static_cast<std::size_t>(length) == text.size() &&
         std::equal(text.begin(), text.end(), word);
}

bool matches(const char* word, INT length, std::string_view pattern) {
  return STRINGMATCH(word, length, pattern.data(), static_cast<INT>(pattern.size())) == 2;
}

// The decimal number at the start of text; ok false when there is none.
INT32 number_at(const char* text, INT length, bool* ok) {
  INT32 value = 0;
  INT status = -1;
  DNUMIN(text, length, &value, 10, &status);
  *ok = status == 0;
  return value;
}

// The leading part of word that forms a file name, into name (capacity TERMNAME_MAX).
void take_name(const char* word, INT word_length, char* name, INT* name_length) {
  INT count = 0;
  FILENAME_SCAN_(word, word_length, &count);
  count = std::clamp<INT>(count, 0, std::min<INT>(word_length, TERMNAME_MAX));
  std::copy(word, word + count, name);
  *name_length = count;
}

// The name after IS, completed with node, volume and subvolume.
void take_list_name(const char* word, INT word_length) {
  INT count = 0;
  FILENAME_SCAN_(word, word_length, &count);
  count = std::clamp<INT>(count, 0, word_length);
  INT resolved = 0;
  FILENAME_RESOLVE_(word, count, RUNSTATE.LISTTERMNAME, TERMNAME_MAX - 1, &resolved, 1);
  RUNSTATE.LISTTERMNAMELEN = std::clamp<INT>(resolved, 0, TERMNAME_MAX - 1);
}

// ESCnn on the start-up line: the number after ESC, or 50 when there is none.
void take_escape_word(const char* word, INT length) {
  if (!equals(word, length, "ESC")) {
    bool ok = false;
    const INT32 wait = number_at(word + 3, static_cast<INT>(length - 3), &ok);
    RUNSTATE.ESCWAITTIME = ok ? wait : 50;
  }
  RUNSTATE.ESCMODE = 1;
  RUNSTATE.MODESOURCE = SOURCE_STARTUP;
}

// LOGGEDONnn on the start-up line: levels 0 to 5; anything else is level 1.
void take_loggedon_word(const char* word, INT length) {
  INT level = 1;
  if (!equals(word, length, "LOGGEDON")) {
    bool ok = false;
    const INT32 n = number_at(word + 8, static_cast<INT>(length - 8), &ok);
    if (ok && n >= 0 && n <= 5) level = static_cast<INT>(n);
  }
  RUNSTATE.LOGONCHECKLEVEL = level;
  RUNSTATE.LOGONSOURCE = SOURCE_STARTUP;
}

// Applies the first rule that fits the word W (with V the word after it); returns the number of
// words used, or 0 when W is not a start-up word.
INT apply_rule(const TOKENSLOT& w, const TOKENSLOT& v) {
  if (equals(w.address, w.length, "PLAIN")) {
    RUNSTATE.PLAINMODE = TRUE_;
    return 1;
  }
  if (equals(w.address, w.length, "SPI") && RUNSTATE.MODESOURCE == 0) {
    RUNSTATE.ESCMODE = 0;
    RUNSTATE.MODESOURCE = SOURCE_STARTUP;
    return 1;
  }
  if (matches(w.address, w.length, "ESC*") && RUNSTATE.MODESOURCE == 0) {
    take_escape_word(w.address, w.length);
    return 1;
  }
  if (matches(w.address, w.length, "LOGGEDON*") && RUNSTATE.LOGONSOURCE == 0) {
    take_loggedon_word(w.address, w.length);
    return 1;
  }
  if (equals(w.address, w.length, "IS")) {
    take_list_name(v.address, v.length);
    return 2;
  }
  if (w.length >= 2 && (w.address[0] == '\\' || w.address[0] == '$')) {
    take_name(w.address, w.length, RUNSTATE.TERMNAME, &RUNSTATE.TERMNAMELEN);
    return 1;
  }
  if (equals(w.address, w.length, "TERMINAL")) {
    take_name(v.address, v.length, RUNSTATE.TERMNAME, &RUNSTATE.TERMNAMELEN);
    return 2;
  }
  if (equals(w.address, w.length, "WAITTIME")) {
    bool ok = false;
    const INT32 time = number_at(v.address, v.length, &ok);
    RUNSTATE.STAYALIVETIME = ok ? time : -1;
    return 2;
  }
  if (equals(w.address, w.length, "-H") || equals(w.address, w.length, "-HELP")) {
    RUNSTATE.HELPWANTED = TRUE_;
    return 1;
  }
  return 0;
}

// The formatted text: quotes dropped, separators outside quotes blanked, ended by two zero
// bytes (the scans stop at a zero byte).
void FORMATPARSESTRING(const char* text, INT text_length, TOKENLIST_T* tokens,
                       const char* separators, INT separator_count) {
  constexpr INT room = TOKEN_TEXT_MAX - 2;
  bool in_quotes = false;
  INT out = 0;
  for (INT i = 0; i < text_length && text[i] != '\0' && out < room; ++i) {
    char c = text[i];
    if (c == '"') {
      in_quotes = !in_quotes;
      continue;
    }
    if (!in_quotes && CHARACTERKNOWN(c, separators, separator_count)) c = ' ';
    tokens->text[out++] = c;
  }
  tokens->text[out] = '\0';
  tokens->text[out + 1] = '\0';
}

// The next word from start on: its address, its length in *length (0 when there is none).
char* PARSE(char* start, INT* length) {
  char* word = EXTSCANWHILE(start, ' ');
  if (*word == '\0') {
    *length = 0;
    return word;
  }
  *length = static_cast<INT>(EXTSCANUNTIL(word, ' ') - word);
  return word;
}

void count_words(TOKENLIST_T* tokens, INT slots) {
  tokens->count = 0;
  while (tokens->count < slots && tokens->slots[tokens->count].length > 0) ++tokens->count;
}

}  // namespace

INT CHARACTERKNOWN(char character, const char* set, INT count) {
  for (INT i = 0; i < count; ++i) {
    if (set[i] == character) return TRUE_;
  }
  return FALSE_;
}

void PARSER(const char* text, INT text_length, TOKENLIST_T* tokens, const char* separators,
            INT separator_count) {
  tokens->count = 0;
  FORMATPARSESTRING(text, text_length, tokens, separators, separator_count);
  TOKENSLOT* slot = tokens->slots;
  slot[0].address = PARSE(tokens->text, &slot[0].length);
  for (int i = 1; i < TOKEN_SLOTS; ++i) {
    if (slot[i - 1].length == 0) {
      slot[i] = {slot[i - 1].address, 0};
    } else {
      slot[i].address = PARSE(slot[i - 1].address + slot[i - 1].length, &slot[i].length);
    }
  }
  count_words(tokens, TOKEN_SLOTS);
}

void DOWNSHIFTPOINTERS(TOKENLIST_T* tokens, INT slots, INT n) {
  slots = std::clamp<INT>(slots, 0, TOKEN_SLOTS);
  n = std::clamp<INT>(n, 0, slots);
  std::copy(tokens->slots + n, tokens->slots + slots, tokens->slots);
  std::fill(tokens->slots + slots - n, tokens->slots + slots, TOKENSLOT{NOWORD, 0});
  count_words(tokens, slots);
}

void GETSTARTUP(void* /*rucb*/, INT* passthru, const char* message, INT length, INT* /*match*/) {
  CLEARSTARTUPTEXT();
  const INT delivered = std::clamp<INT>(length, 0, STARTUPTEXT_MAX);
  STRING_UPSHIFT_(message, delivered, STARTUPTEXT, STARTUPTEXT_MAX);
  // The IN and OUT names are kept as delivered: they are upper case already, and the network
  // form holds its node number in a byte that an upshift would change into another node's.
  const INT names_end = std::min<INT>(delivered, STARTUP_PARAM_OFFSET);
  if (names_end > STARTUP_IN_OFFSET) {
    std::copy(message + STARTUP_IN_OFFSET, message + names_end, STARTUPTEXT + STARTUP_IN_OFFSET);
  }
  PARSER(STARTUPTEXT + STARTUP_PARAM_OFFSET, STARTUP_PARAM_MAX, &TOKENLIST, ",", 1);
  *passthru = 0;
  while (TOKENLIST.count > 0) {
    const INT used = apply_rule(TOKENLIST.slots[0], TOKENLIST.slots[1]);
    if (used == 0) {
      *passthru = -1;
      return;
    }
    DOWNSHIFTPOINTERS(&TOKENLIST, TOKEN_SLOTS, used);
  }
}

namespace {

// NETLOC^MODE: SPI, ESC, or ESCnn (a wait that does not convert or is negative gives 50).
void take_mode_param(const char* value, INT length) {
  if (equals(value, length, "SPI")) {
    RUNSTATE.ESCMODE = 0;
  } else if (matches(value, length, "ESC*")) {
    if (equals(value, length, "ESC")) {
      RUNSTATE.ESCMODE = 1;
    } else {
      bool ok = false;
      const INT32 wait = number_at(value + 3, static_cast<INT>(length - 3), &ok);
      RUNSTATE.ESCWAITTIME = ok && wait >= 0 ? wait : 50;
    }
  } else {
    return;
  }
  RUNSTATE.MODESOURCE = SOURCE_PARAM;
}

// NETLOC^CHECKLOGONSTATE: ON or ONnn with levels 0 to 10; any value settles the source.
void take_logon_param(const char* value, INT length) {
  if (matches(value, length, "ON*")) {
    INT level = 1;
    if (!equals(value, length, "ON")) {
      bool ok = false;
      const INT32 n = number_at(value + 2, static_cast<INT>(length - 2), &ok);
      if (ok && n >= 0 && n <= 10) level = static_cast<INT>(n);
    }
    RUNSTATE.LOGONCHECKLEVEL = level;
  }
  RUNSTATE.LOGONSOURCE = SOURCE_PARAM;
}

void take_param(const char* name, INT name_length, const char* value, INT value_length) {
  char upshifted[255];
  STRING_UPSHIFT_(value, value_length, upshifted, sizeof upshifted);
  if (equals(name, name_length, "NETLOC^MODE") && RUNSTATE.MODESOURCE == 0) {
    take_mode_param(upshifted, value_length);
  } else if (equals(name, name_length, "NETLOC^CHECKLOGONSTATE") && RUNSTATE.LOGONSOURCE == 0) {
    take_logon_param(upshifted, value_length);
  }
}

INT word_at(const unsigned char* bytes) {
  return static_cast<INT>((bytes[0] << 8) | bytes[1]);
}

}  // namespace

void GETPARAMS(void* /*rucb*/, INT* /*passthru*/, const char* message, INT length,
               INT* /*match*/) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(message);
  const int end = std::clamp<int>(length, 0, PARAM_MESSAGE_MAX);
  if (end < 4 || word_at(bytes) != -3) return;
  const int params = word_at(bytes + 2);
  int at = 4;
  // Each PARAM is read only when its two length bytes and both texts lie inside the message.
  for (int i = 0; i < params && at < end; ++i) {
    const int name_length = bytes[at];
    const int value_at = at + 1 + name_length;
    if (value_at >= end) return;
    const int value_length = bytes[value_at];
    if (value_at + 1 + value_length > end) return;
    take_param(message + at + 1, static_cast<INT>(name_length), message + value_at + 1,
               static_cast<INT>(value_length));
    at = value_at + 1 + value_length;
  }
}

}  // namespace nsk
